#pragma once

#include <sstream>
#include <string>

namespace VELKOR {

// Severity of a diagnostic line of the libraries.
enum class log_level { info = 0, warning = 1, error = 2 };

// Receives every diagnostic line (without its line end) once a handler is set.
typedef void (*log_sink_handler_t)(void* user, log_level level, const std::string& text);

// The stream a line goes to while no handler is set: each line keeps the
// stream it has always been printed on.
enum class log_stream { out, err };

// The one sink of the diagnostic lines of libvelkor_core and libvelkor_tq.
// Without a handler a line is printed on its stream followed by a line end;
// with one, the handler gets (level, text) instead. Thread-safe; the handler
// is called on whichever thread logs, so it must be quick and thread-safe.
void log_line(log_level level, log_stream stream, const std::string& text);
// Sets the handler process-wide; nullptr restores the default printing.
void set_log_sink_handler(log_sink_handler_t handler, void* user);

// Builds one line with << and hands it to the sink when it goes out of scope.
class LogLine {
public:
    LogLine(log_level level, log_stream stream) : level_(level), stream_(stream) {}
    explicit LogLine(log_level level = log_level::info)
        : level_(level), stream_(level == log_level::info ? log_stream::out : log_stream::err)
    {
    }
    ~LogLine() { log_line(level_, stream_, text_.str()); }
    LogLine(const LogLine&) = delete;
    LogLine& operator=(const LogLine&) = delete;

    template <typename T>
    LogLine& operator<<(const T& value)
    {
        text_ << value;
        return *this;
    }

private:
    log_level level_;
    log_stream stream_;
    std::ostringstream text_;
};

}  // namespace VELKOR
