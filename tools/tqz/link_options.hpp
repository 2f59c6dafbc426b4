#pragma once

// Argument and link helpers shared by the tqz commands that talk to a sensor.

#include <cstdio>
#include <string>

#include "api/lidar_tq.hpp"
#include "command.hpp"
#include "option_parsing.hpp"
#include "stop_signals.hpp"

namespace tqz {

// "ADDR" or "ADDR:PORT" into an endpoint. ADDR must be dotted IPv4: the UDP
// data link binds and sends by address, it resolves no names. Empty on
// success, else why the text is no endpoint ("not an IPv4 address", ...).
std::string parse_endpoint(const std::string& text, int default_port, int min_port, VELKOR::IP_ADDRESS_T& out);

// The two options every link command takes: "--sensor" (default port 2000)
// into `sensor`, "--local" (default port 0) into `local`. Returns false when
// `arg` is neither; otherwise `error` is empty or is the usage error
// ("--local 999.1.1.1: not an IPv4 address").
bool parse_link_option(const std::string& arg, const std::string& value, VELKOR::IP_ADDRESS_T& sensor,
                       VELKOR::IP_ADDRESS_T& local, bool& have_sensor, std::string& error);

std::string endpoint_text(const VELKOR::IP_ADDRESS_T& endpoint);

// The library writes progress lines ("Connected!", "TCP: ...") on stdout.
// Commands whose stdout is their result keep those out of it: while this
// object lives, descriptor 1 goes to /dev/null and `out` writes to the real
// standard output.
class QuietLibraryOutput {
public:
    QuietLibraryOutput();
    ~QuietLibraryOutput();
    QuietLibraryOutput(const QuietLibraryOutput&) = delete;
    QuietLibraryOutput& operator=(const QuietLibraryOutput&) = delete;

    FILE* out = stdout;

private:
    int saved_fd_ = -1;
};

// Routes the libraries' diagnostic lines while it lives: progress (info)
// lines are dropped, warnings and errors go to stderr as "tqz CMD: text" -
// except while a connect runs, whose failure the command reports itself,
// with its cause, in one line. `handler` replaces that routing.
class LibraryLog {
public:
    explicit LibraryLog(const char* command, VELKOR::log_handler_t handler = nullptr);
    ~LibraryLog();
    LibraryLog(const LibraryLog&) = delete;
    LibraryLog& operator=(const LibraryLog&) = delete;

    // Lines of the libraries are dropped while a Muted lives.
    struct Muted {
        Muted();
        ~Muted();
    };
};

// Connects `handle` (a LidarTQ); a stop signal during the
// connect ends the process. Empty on success, else
// "cannot connect to ADDR:PORT: <the library's reason>" (the link closed).
template <typename Handle>
std::string connect_sensor(Handle& handle, const VELKOR::IP_ADDRESS_T& sensor, const VELKOR::IP_ADDRESS_T& local)
{
    bool connected = false;
    {
        const AbandonOnStop abandon;
        const LibraryLog::Muted muted;
        connected = handle.connect(sensor, local);
    }
    if (connected) {
        return "";
    }
    const std::string why = handle.last_error();
    handle.disconnect();
    return "cannot connect to " + endpoint_text(sensor) + (why.empty() ? "" : ": " + why);
}

} // namespace tqz
