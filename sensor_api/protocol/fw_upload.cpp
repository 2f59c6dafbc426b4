#include "session/device_session.hpp"

// Placeholder until firmware upload lands.
namespace TQZ {

bool DeviceSession::tcp_fw_upload(const char*) { return false; }

void DeviceSession::register_fw_status_callback(VELKOR::fw_status_callback_t callback, void* user)
{
    fw_status_callback = callback;
    fw_status_user = user;
}

void DeviceSession::fw_upload_thread_process() {}

void DeviceSession::fw_status(const std::string& text)
{
    if (fw_status_callback != nullptr) {
        fw_status_callback(fw_status_user, text);
    }
}

}  // namespace TQZ
