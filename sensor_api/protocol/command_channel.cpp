#include "session/device_session.hpp"

// Placeholder until the command channel lands.
namespace TQZ {

bool DeviceSession::get_setting(nlohmann::json& out)
{
    out = nullptr;
    return false;
}
bool DeviceSession::send_json(nlohmann::json&) { return false; }
bool DeviceSession::json_read_from_memory() { return false; }
bool DeviceSession::json_write_to_memory() { return false; }
bool DeviceSession::json_read_from_file(const char*, nlohmann::json&) { return false; }
bool DeviceSession::json_write_to_file(const char*, nlohmann::json&) { return false; }

}  // namespace TQZ
