#include "processing_hold.hpp"

#include <condition_variable>
#include <mutex>

namespace velkor_python {

namespace {

std::mutex hold_mutex;
std::condition_variable hold_released;
int holders = 0;            // holds taken and not yet released
bool held_value = false;    // the switch's value while holders > 0
int waiting[2] = {0, 0};    // holds waited for, by value

}  // namespace

ProcessingHold::ProcessingHold(VELKOR::LidarTQ& lidar, bool processing)
{
    std::unique_lock<std::mutex> lock(hold_mutex);
    ++waiting[processing];
    // Whoever wants the value last held yields while the other value is
    // wanted, also once the switch is free.
    hold_released.wait(lock, [processing] {
        const bool yields = held_value == processing && waiting[!processing] > 0;
        return !yields && (holders == 0 || held_value == processing);
    });
    --waiting[processing];
    if (holders == 0) {
        held_value = processing;
        lidar.set_signal_data_processing(processing);
    }
    ++holders;
}

ProcessingHold::~ProcessingHold()
{
    std::lock_guard<std::mutex> lock(hold_mutex);
    if (--holders == 0) {
        hold_released.notify_all();
    }
}

}  // namespace velkor_python
