#include "util/log_sink.hpp"

#include <iostream>
#include <mutex>

namespace VELKOR {

namespace {

std::mutex& sink_mutex()
{
    static std::mutex mutex;
    return mutex;
}
log_sink_handler_t g_handler = nullptr;  // guarded by sink_mutex()
void* g_user = nullptr;

}  // namespace

void log_line(log_level level, log_stream stream, const std::string& text)
{
    log_sink_handler_t handler = nullptr;
    void* user = nullptr;
    {
        std::lock_guard<std::mutex> lock(sink_mutex());
        handler = g_handler;
        user = g_user;
    }
    if (handler != nullptr) {
        handler(user, level, text);
        return;
    }
    std::ostream& out = stream == log_stream::out ? std::cout : std::cerr;
    out << text << std::endl;
}

void set_log_sink_handler(log_sink_handler_t handler, void* user)
{
    std::lock_guard<std::mutex> lock(sink_mutex());
    g_handler = handler;
    g_user = user;
}

}  // namespace VELKOR
