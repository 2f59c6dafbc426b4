#pragma once

// Connection state shared by the socket and serial transports. Internal to
// libvelkor_core: the public transport headers only forward-declare their
// handlers, so asio never leaks into users' includes.

#include <asio.hpp>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <memory>
#include <thread>

namespace VELKOR {

class HandlerBase {
public:
    explicit HandlerBase(std::size_t capacity)
        : buffer_capacity(capacity),
          buffer(std::make_unique<char[]>(capacity)),
          buffer_view(buffer.get(), capacity)
    {
    }
    virtual ~HandlerBase() = default;

    HandlerBase(const HandlerBase&) = delete;
    HandlerBase& operator=(const HandlerBase&) = delete;

    // Set by connect before the receive thread starts, cleared by disconnect;
    // read by the receive loop.
    std::atomic<bool> running{false};
    asio::io_context io;
    std::size_t buffer_capacity;
    std::unique_ptr<char[]> buffer;
    asio::mutable_buffer buffer_view;
};

// A receive that fails straight away (peer closed, port unreachable) would
// otherwise make the receive loop spin a core until the owner disconnects.
inline void receive_error_backoff()
{
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

}  // namespace VELKOR

namespace VELKOR {

// Body of a socket transport's receive thread: one asynchronous receive into
// the handler's buffer at a time, the I/O context run until it completes.
// Successful non-empty receives go to `deliver(data, length)`; failed ones
// are dropped and followed by a short pause, unless `final(error)` says the
// error ends the connection for good: then the loop ends at once.
template <typename Socket, typename Deliver, typename Final>
void run_receive_loop(HandlerBase& handler, Socket& socket, Deliver deliver, Final final)
{
    handler.io.restart();
    while (handler.running) {
        std::error_code failure;
        socket.async_receive(handler.buffer_view,
                             [&](const std::error_code& error, std::size_t count) {
                                 if (error) {
                                     failure = error;
                                 } else if (count > 0) {
                                     deliver(handler.buffer.get(), static_cast<unsigned int>(count));
                                 }
                             });
        handler.io.run();
        handler.io.restart();
        if (failure && handler.running) {
            if (final(failure)) {
                return;
            }
            receive_error_backoff();
        }
    }
}

template <typename Socket, typename Deliver>
void run_receive_loop(HandlerBase& handler, Socket& socket, Deliver deliver)
{
    run_receive_loop(handler, socket, deliver, [](const std::error_code&) { return false; });
}

// Ends a receive loop run by `join` (the transport's stop_thread): the socket
// is closed on the receive thread itself, because asio sockets must not be
// closed from one thread while another runs their I/O context. Errors are
// swallowed.
template <typename Socket, typename Join>
void stop_receive_loop(HandlerBase& handler, Socket& socket, Join join)
{
    handler.running = false;
    asio::post(handler.io, [&socket] {
        std::error_code ignored;
        socket.close(ignored);
    });
    join();
    // No receive thread runs the context any more: deliver what is left
    // (the close above, if the loop ended before taking it) on this thread.
    handler.io.restart();
    handler.io.poll();
    handler.io.restart();
    std::error_code ignored;
    if (socket.is_open()) {
        socket.close(ignored);
    }
}

}  // namespace VELKOR
