#include "session/device_session.hpp"

// Placeholder until recording and replay land.
namespace TQZ {

bool DeviceSession::record_start(const std::string&) { return false; }
void DeviceSession::record_stop() {}
bool DeviceSession::play_start(const std::string&) { return false; }
void DeviceSession::play_stop() {}
bool DeviceSession::get_file_size(uint64_t&) { return false; }

}  // namespace TQZ
