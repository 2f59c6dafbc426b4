#include "link_options.hpp"

#include "recording/logger.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <iostream>

namespace tqz {

std::string parse_endpoint(const std::string& text, int default_port, int min_port, VELKOR::IP_ADDRESS_T& out)
{
    const std::size_t colon = text.rfind(':');
    out.ip = text.substr(0, colon);
    out.port = default_port;
    in_addr address{};
    if (out.ip.empty() || inet_pton(AF_INET, out.ip.c_str(), &address) != 1) {
        return "not an IPv4 address";
    }
    if (colon != std::string::npos) {
        long long port = 0;
        if (!parse_whole(text.substr(colon + 1), min_port, 65535, port)) {
            return "the port is not a whole number from " + std::to_string(min_port) + " to 65535";
        }
        out.port = static_cast<int>(port);
    }
    return "";
}

bool parse_link_option(const std::string& arg, const std::string& value, VELKOR::IP_ADDRESS_T& sensor,
                       VELKOR::IP_ADDRESS_T& local, bool& have_sensor, std::string& error)
{
    error.clear();
    std::string why;
    if (arg == "--sensor") {
        why = parse_endpoint(value, 2000, 1, sensor);
        have_sensor = true;
    } else if (arg == "--local") {
        why = parse_endpoint(value, 0, 0, local);
    } else {
        return false;
    }
    if (!why.empty()) {
        error = arg + " " + value + ": " + why;
    }
    return true;
}

std::string endpoint_text(const VELKOR::IP_ADDRESS_T& endpoint)
{
    return endpoint.ip + ":" + std::to_string(endpoint.port);
}

QuietLibraryOutput::QuietLibraryOutput()
{
    std::fflush(stdout);
    std::cout.flush();
    saved_fd_ = ::dup(1);
    const int null_fd = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (saved_fd_ < 0 || null_fd < 0) {
        if (null_fd >= 0) {
            ::close(null_fd);
        }
        return;
    }
    ::dup2(null_fd, 1);
    ::close(null_fd);
    FILE* real = ::fdopen(saved_fd_, "w");
    if (real != nullptr) {
        out = real;
    }
}

QuietLibraryOutput::~QuietLibraryOutput()
{
    std::cout.flush();
    std::fflush(stdout);
    if (saved_fd_ < 0) {
        return;
    }
    std::fflush(out);
    ::dup2(saved_fd_, 1);
    if (out != stdout) {
        std::fclose(out); // closes saved_fd_
    } else {
        ::close(saved_fd_);
    }
}

namespace {

// Read by the libraries' threads; set before the handler is installed.
const char* g_log_command = "";
std::atomic<int> g_log_muted{0};

void print_problems(void*, VELKOR::log_level_t level, const std::string& text)
{
    if (level == VELKOR::log_level_t::info || g_log_muted > 0) {
        return;
    }
    // A recording stopped by a failed write is reported by tqz record itself,
    // with the cause and where the whole records are.
    if (text.rfind(VELKOR::Logger::kWriteFailedLine, 0) == 0) {
        return;
    }
    std::fprintf(stderr, "tqz %s: %s\n", g_log_command, text.c_str());
}

} // namespace

LibraryLog::LibraryLog(const char* command, VELKOR::log_handler_t handler)
{
    g_log_command = command;
    VELKOR::LidarTQ::set_log_handler(handler != nullptr ? handler : &print_problems, nullptr);
}

LibraryLog::~LibraryLog() { VELKOR::LidarTQ::set_log_handler(nullptr, nullptr); }

LibraryLog::Muted::Muted() { ++g_log_muted; }
LibraryLog::Muted::~Muted() { --g_log_muted; }

} // namespace tqz
