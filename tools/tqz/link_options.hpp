#pragma once

// Argument helpers shared by the tqz commands that talk to a sensor.

#include <cstdio>
#include <cstdlib>
#include <string>

#include "api/lidar_tq.hpp"
#include "command.hpp"

namespace tqz {

// "ADDR" or "ADDR:PORT" into an endpoint; false when the port is not a number
// in 0..65535 or the address is empty.
inline bool parse_endpoint(const std::string& text, int default_port, VELKOR::IP_ADDRESS_T& out)
{
    const std::size_t colon = text.rfind(':');
    out.ip = text.substr(0, colon);
    out.port = default_port;
    if (colon != std::string::npos) {
        const std::string port = text.substr(colon + 1);
        char* end = nullptr;
        const long value = std::strtol(port.c_str(), &end, 10);
        if (port.empty() || *end != '\0' || value < 0 || value > 65535) {
            return false;
        }
        out.port = static_cast<int>(value);
    }
    return !out.ip.empty();
}

// Whole-string number parsing; false on trailing text or an empty string.
inline bool parse_number(const std::string& text, double& out)
{
    char* end = nullptr;
    out = std::strtod(text.c_str(), &end);
    return !text.empty() && *end == '\0';
}

// Takes the value after option args[i]; false (and an error) when missing.
inline bool option_value(const Args& args, std::size_t& i, std::string& value)
{
    if (i + 1 >= args.size()) {
        return false;
    }
    value = args[++i];
    return true;
}

// The two options every link command takes: "--sensor" (default port 2000)
// into `sensor`, "--local" (default port 0) into `local`. Returns false when
// `arg` is neither; otherwise `error` is empty or says which address is bad.
inline bool parse_link_option(const std::string& arg, const std::string& value, VELKOR::IP_ADDRESS_T& sensor,
                              VELKOR::IP_ADDRESS_T& local, bool& have_sensor, std::string& error)
{
    error.clear();
    if (arg == "--sensor") {
        if (!parse_endpoint(value, 2000, sensor)) {
            error = "bad sensor address '" + value + "'";
        }
        have_sensor = true;
        return true;
    }
    if (arg == "--local") {
        if (!parse_endpoint(value, 0, local)) {
            error = "bad local address '" + value + "'";
        }
        return true;
    }
    return false;
}

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

// Connects a handle with processing switched as asked; false after an error
// line on stderr.
bool connect_sensor(const std::string& command, VELKOR::LidarTQ& lidar, const VELKOR::IP_ADDRESS_T& sensor,
                    const VELKOR::IP_ADDRESS_T& local);

}  // namespace tqz
