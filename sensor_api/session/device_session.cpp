#include "session/device_session.hpp"

#include "processing/direction_tables.hpp"
#include "recording/logger.hpp"

// Placeholder link side until the transports land.
namespace TQZ {

DeviceSession::DeviceSession() : command_frame(std::make_unique<VELKOR::_TCP_PROTOCOL_T>())
{
    *command_frame = VELKOR::_TCP_PROTOCOL_T{};
    build_direction_tables();
}

DeviceSession::~DeviceSession()
{
    running = false;
    if (stream_worker && stream_worker->joinable()) {
        stream_worker->join();
    }
    if (upload_thread && upload_thread->joinable()) {
        upload_thread->join();
    }
}

bool DeviceSession::connect(const VELKOR::IP_ADDRESS_T&, const VELKOR::IP_ADDRESS_T&) { return false; }
void DeviceSession::disconnect() {}

bool DeviceSession::run()
{
    reply_route = 0;
    frame_queue.clear();
    packet_queue.clear();
    running = true;
    if (!stream_worker) {
        stream_worker = std::make_unique<std::thread>(&DeviceSession::stream_worker_process, this);
    }
    return false;
}

bool DeviceSession::stop()
{
    reply_route = 0;
    frame_queue.clear();
    packet_queue.clear();
    running = false;
    if (stream_worker) {
        stream_worker->join();
        stream_worker.reset();
    }
    return false;
}

void DeviceSession::tcp_receive_callback(void*, char*, unsigned int) {}

void DeviceSession::udp_receive_callback(void* user, char* data, unsigned int length)
{
    auto* self = static_cast<DeviceSession*>(user);
    const auto* bytes = reinterpret_cast<const uint8_t*>(data);
    self->packet_queue.push(ByteVector(bytes, bytes + length));
}

}  // namespace TQZ
