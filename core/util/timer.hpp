#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace VELKOR {

// Elapsed-time measurement against the steady clock, plus wall-clock stamps.
class Timer {
public:
    // A steady-clock point with nanosecond resolution (signed 64-bit count).
    using time_point = std::chrono::time_point<std::chrono::steady_clock, std::chrono::nanoseconds>;

    Timer();

    // Sets the start point to now and returns it.
    time_point start();
    // Seconds since the start point; restart moves the start point to now.
    double elapsed_time(bool restart = false);

    // Wall-clock microseconds since 1970-01-01 00:00 UTC, modulo 2^32 (wraps
    // about every 71.6 minutes: use differences of nearby values only).
    static uint32_t now();
    // Wall-clock milliseconds since 1970-01-01 00:00 UTC, modulo 2^32.
    static uint32_t now_milli();
    // Local time now as "YYYYmmdd_HH:MM:SS.mmm".
    static std::string localtime_str();
    // A microsecond count since 1970 as local "YYYYmmdd_HH:MM:SS." followed by
    // the microseconds within that second, printed without leading zeros.
    static std::string epoch_to_localtime_str(uint32_t micros);

private:
    time_point start_point_;
};

} // namespace VELKOR
