#pragma once

#include <memory>
#include <thread>

namespace VELKOR {

// Common base of every transport. A transport is a push source: after a
// successful connect its own receive thread hands every received chunk to the
// registered receive callback. The chunk is borrowed: it is valid only for the
// duration of the call.
class ExtInterfaceBase {
public:
    using RecvCallback = void (*)(void* user, char* data, unsigned int length);
    using TimeoutCallback = void (*)(void* user, int code);

    // Settings types of the concrete transports derive from this.
    class PortBase {};

    ExtInterfaceBase();
    virtual ~ExtInterfaceBase();

    ExtInterfaceBase(const ExtInterfaceBase&) = delete;
    ExtInterfaceBase& operator=(const ExtInterfaceBase&) = delete;

    virtual bool connect(PortBase& settings) = 0;
    virtual void disconnect() = 0;
    virtual bool write(char* data, unsigned int length) = 0;

    void registRecvCallback(RecvCallback fn, void* user);
    void registTimeoutCallback(TimeoutCallback fn, void* user);

    // Deliver a chunk to the receive callback (no-op without one).
    void received(char* data, unsigned int length);
    // Report a time-out to the time-out callback (no-op without one).
    void timeout(int code);

public:
    // Starts receive_thread_process on a new thread unless one exists.
    void start_thread();
    // Joins and releases the receive thread. The loop must already have been
    // told to end; never call this from the receive thread itself.
    void stop_thread();

private:
    virtual void receive_thread_process() = 0;

    std::unique_ptr<std::thread> receive_thread_;
    RecvCallback recv_callback_ = nullptr;
    void* recv_user_ = nullptr;
    TimeoutCallback timeout_callback_ = nullptr;
    void* timeout_user_ = nullptr;
};

}  // namespace VELKOR
