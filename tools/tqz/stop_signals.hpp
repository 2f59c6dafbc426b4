#pragma once

// Ctrl-C (SIGINT) and SIGTERM for the commands that talk to a sensor.
//
// While a StopSignals lives, a stop signal only sets a flag; the command
// looks at it between waits of at most kStopCheck and then winds down in
// order (stream stopped, link closed, threads joined). Some library calls
// cannot be cut short - connecting waits up to 10 s for the settings reply,
// the firmware handshake as long for its answer. Around those an
// AbandonOnStop makes a stop signal end the process at once, with
// "tqz CMD: interrupted" on stderr and exit code 128 + the signal's number:
// nothing has been written yet that a clean stop would have to close.

#include <chrono>

namespace tqz {

constexpr std::chrono::milliseconds kStopCheck{100};

class StopSignals {
public:
    // `command` names the command in the line printed when a stop ends the
    // process; it must outlive the object (a string literal).
    explicit StopSignals(const char* command);
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // True once SIGINT or SIGTERM has arrived.
    bool requested() const;
    // 128 + the number of the signal that arrived (130 for Ctrl-C).
    int exit_code() const;
};

class AbandonOnStop {
public:
    // Ends the process at once when a stop signal has already arrived.
    AbandonOnStop();
    ~AbandonOnStop();
    AbandonOnStop(const AbandonOnStop&) = delete;
    AbandonOnStop& operator=(const AbandonOnStop&) = delete;
};

} // namespace tqz
