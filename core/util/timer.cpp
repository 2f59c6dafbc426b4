#include "util/timer.hpp"

#include <cmath>
#include <ctime>
#include <iomanip>
#include <locale>
#include <sstream>

namespace VELKOR {

namespace {

// System time as 100-ns ticks since 1970-01-01.
int64_t system_ticks()
{
    using ticks = std::chrono::duration<int64_t, std::ratio<1, 10000000>>;
    return std::chrono::duration_cast<ticks>(std::chrono::system_clock::now().time_since_epoch()).count();
}

// Local calendar time of a second count as "%Y%m%d_%X" in the classic locale.
std::string local_stamp(std::time_t seconds)
{
    std::tm local{};
    localtime_r(&seconds, &local);
    std::ostringstream out;
    out.imbue(std::locale::classic());
    out << std::put_time(&local, "%Y%m%d_%X");
    return out.str();
}

} // namespace

Timer::Timer()
{
    start();
}

Timer::time_point Timer::start()
{
    start_point_ = std::chrono::time_point_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now());
    return start_point_;
}

double Timer::elapsed_time(bool restart)
{
    const auto now_point =
        std::chrono::time_point_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now());
    const double seconds = static_cast<double>((now_point - start_point_).count()) / 1e9;
    if (restart) {
        start_point_ = now_point;
    }
    return seconds;
}

uint32_t Timer::now()
{
    return static_cast<uint32_t>(system_ticks() / 10);
}

uint32_t Timer::now_milli()
{
    return static_cast<uint32_t>(system_ticks() / 10000);
}

std::string Timer::localtime_str()
{
    const int64_t ticks = system_ticks();
    std::ostringstream out;
    out << local_stamp(static_cast<std::time_t>(ticks / 10000000)) << "." << std::setw(3) << std::setfill('0')
        << (ticks / 10000) % 1000;
    return out.str();
}

std::string Timer::epoch_to_localtime_str(uint32_t micros)
{
    const double seconds = static_cast<double>(micros) / 1000000.0;
    const double whole = std::floor(seconds);
    const double fraction = std::round((seconds - whole) * 1000000.0);
    std::ostringstream out;
    out << local_stamp(static_cast<std::time_t>(whole)) << "." << fraction;
    return out.str();
}

} // namespace VELKOR
