#pragma once

// Small POSIX helpers for tests that need a peer on 127.0.0.1.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

namespace loopback {

inline sockaddr_in address(uint16_t port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

inline uint16_t local_port(int fd)
{
    sockaddr_in a{};
    socklen_t len = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    return ntohs(a.sin_port);
}

inline uint16_t peer_port(int fd)
{
    sockaddr_in a{};
    socklen_t len = sizeof a;
    getpeername(fd, reinterpret_cast<sockaddr*>(&a), &len);
    return ntohs(a.sin_port);
}

// A socket of `type` bound to 127.0.0.1 on an ephemeral port.
inline int bound_socket(int type)
{
    const int fd = socket(AF_INET, type, 0);
    const sockaddr_in a = address(0);
    bind(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a);
    return fd;
}

// A TCP listener on 127.0.0.1 on an ephemeral port.
inline int listener(int backlog = 8)
{
    const int fd = bound_socket(SOCK_STREAM);
    listen(fd, backlog);
    return fd;
}

// A port on 127.0.0.1 where nothing listens (bound once, then released).
inline uint16_t closed_port()
{
    const int fd = bound_socket(SOCK_STREAM);
    const uint16_t port = local_port(fd);
    close(fd);
    return port;
}

// A listener that never answers a new connection: its accept queue is full,
// so further SYNs are dropped and a client's connect hangs. Stays entirely on
// loopback. Close every descriptor in `fds` when done.
struct BlackHole {
    int listen_fd = -1;
    std::vector<int> fillers;
    uint16_t port = 0;

    BlackHole()
    {
        listen_fd = listener(0);
        port = local_port(listen_fd);
        const sockaddr_in a = address(port);
        for (int i = 0; i < 3; ++i) {
            const int fd = socket(AF_INET, SOCK_STREAM, 0);
            fcntl(fd, F_SETFL, O_NONBLOCK);
            connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a);
            fillers.push_back(fd);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ~BlackHole()
    {
        for (int fd : fillers) {
            close(fd);
        }
        close(listen_fd);
    }
    BlackHole(const BlackHole&) = delete;
    BlackHole& operator=(const BlackHole&) = delete;
};

// Polls `condition` every millisecond until it holds or `timeout` passes.
template <typename Condition>
bool wait_for(Condition condition, std::chrono::milliseconds timeout = std::chrono::milliseconds(3000))
{
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// CPU time used by the whole process so far, in milliseconds.
inline double process_cpu_ms()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

}  // namespace loopback
