#include <chrono>

#include "session/device_session.hpp"

// Placeholder until frame assembly lands.
namespace TQZ {

void DeviceSession::stream_worker_process()
{
    while (running) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

bool DeviceSession::get_scene(scene_t&) { return false; }
bool DeviceSession::get_scene(scene_t&, int) { return false; }

}  // namespace TQZ
