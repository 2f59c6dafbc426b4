#include "transport/ext_interface_base.hpp"

namespace VELKOR {

ExtInterfaceBase::ExtInterfaceBase() = default;

// Concrete transports stop their loop and join in their own destructors,
// before their handler goes; this only covers a thread that is still there.
ExtInterfaceBase::~ExtInterfaceBase()
{
    if (receive_thread_ && receive_thread_->joinable() &&
        receive_thread_->get_id() != std::this_thread::get_id()) {
        receive_thread_->join();
    }
}

void ExtInterfaceBase::registRecvCallback(RecvCallback fn, void* user)
{
    recv_callback_ = fn;
    recv_user_ = user;
}

void ExtInterfaceBase::registTimeoutCallback(TimeoutCallback fn, void* user)
{
    timeout_callback_ = fn;
    timeout_user_ = user;
}

void ExtInterfaceBase::received(char* data, unsigned int length)
{
    if (recv_callback_ != nullptr) {
        recv_callback_(recv_user_, data, length);
    }
}

void ExtInterfaceBase::timeout(int code)
{
    if (timeout_callback_ != nullptr) {
        timeout_callback_(timeout_user_, code);
    }
}

void ExtInterfaceBase::start_thread()
{
    if (receive_thread_) {
        return;
    }
    // std::thread reports a failure to create the thread as std::system_error
    // (resource_unavailable_try_again), which is what callers expect.
    receive_thread_ = std::make_unique<std::thread>([this] { receive_thread_process(); });
}

void ExtInterfaceBase::stop_thread()
{
    if (!receive_thread_) {
        return;
    }
    receive_thread_->join();  // throws resource_deadlock_would_occur on self-join
    receive_thread_.reset();
}

}  // namespace VELKOR
