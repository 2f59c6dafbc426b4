#include "link_options.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <iostream>

namespace tqz {

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
        std::fclose(out);  // closes saved_fd_
    } else {
        ::close(saved_fd_);
    }
}

bool connect_sensor(const std::string& command, VELKOR::LidarTQ& lidar, const VELKOR::IP_ADDRESS_T& sensor,
                    const VELKOR::IP_ADDRESS_T& local)
{
    if (lidar.connect(sensor, local)) {
        return true;
    }
    lidar.disconnect();
    fail(command, "cannot connect to " + sensor.ip + ":" + std::to_string(sensor.port));
    return false;
}

}  // namespace tqz
