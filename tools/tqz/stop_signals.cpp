#include "stop_signals.hpp"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstring>

namespace tqz {

namespace {

// The state a signal handler may touch: lock-free atomics and a text
// prepared before the handlers are installed.
std::atomic<int> g_signal{0};
std::atomic<int> g_abandon{0};
char g_interrupted_line[96];
std::size_t g_interrupted_length = 0;
struct sigaction g_previous_int {};
struct sigaction g_previous_term {};

void end_now(int signal_number)
{
    if (::write(STDERR_FILENO, g_interrupted_line, g_interrupted_length) < 0) {
        // Nothing left to tell.
    }
    ::_exit(128 + signal_number);
}

void on_stop_signal(int signal_number)
{
    g_signal = signal_number;
    if (g_abandon > 0) {
        end_now(signal_number);
    }
}

} // namespace

StopSignals::StopSignals(const char* command)
{
    static_assert(std::atomic<int>::is_always_lock_free, "a signal handler needs a lock-free flag");
    const char prefix[] = "tqz ";
    const char suffix[] = ": interrupted\n";
    const std::size_t room = sizeof(g_interrupted_line) - sizeof(prefix) - sizeof(suffix);
    const std::size_t name = std::min(std::strlen(command), room);
    std::memcpy(g_interrupted_line, prefix, sizeof(prefix) - 1);
    std::memcpy(g_interrupted_line + sizeof(prefix) - 1, command, name);
    std::memcpy(g_interrupted_line + sizeof(prefix) - 1 + name, suffix, sizeof(suffix) - 1);
    g_interrupted_length = sizeof(prefix) - 1 + name + sizeof(suffix) - 1;
    g_signal = 0;

    struct sigaction action {};
    action.sa_handler = on_stop_signal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, &g_previous_int);
    sigaction(SIGTERM, &action, &g_previous_term);
}

StopSignals::~StopSignals()
{
    sigaction(SIGINT, &g_previous_int, nullptr);
    sigaction(SIGTERM, &g_previous_term, nullptr);
}

bool StopSignals::requested() const { return g_signal != 0; }

int StopSignals::exit_code() const { return 128 + g_signal; }

AbandonOnStop::AbandonOnStop()
{
    ++g_abandon;
    const int signal_number = g_signal;
    if (signal_number != 0) {
        end_now(signal_number);
    }
}

AbandonOnStop::~AbandonOnStop() { --g_abandon; }

} // namespace tqz
