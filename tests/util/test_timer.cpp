#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <thread>

#include "util/timer.hpp"

using VELKOR::Timer;

namespace {

// Runs the rest of a test in a fixed time zone, restoring the previous one.
class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char* tz)
    {
        const char* old = std::getenv("TZ");
        had_ = old != nullptr;
        if (had_) {
            old_ = old;
        }
        setenv("TZ", tz, 1);
        tzset();
    }
    ~ScopedTimeZone()
    {
        if (had_) {
            setenv("TZ", old_.c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
    }

private:
    bool had_ = false;
    std::string old_;
};

} // namespace

TEST(Timer, ElapsedGrowsAndRestartBeginsANewMeasurement)
{
    Timer timer;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const double first = timer.elapsed_time(false);
    const double second = timer.elapsed_time(false);
    EXPECT_GE(first, 0.019);
    EXPECT_GE(second, first);

    const double before_restart = timer.elapsed_time(true);
    EXPECT_GE(before_restart, second);
    EXPECT_LT(timer.elapsed_time(false), before_restart);
}

TEST(Timer, StartReturnsTheNewStartPoint)
{
    Timer timer;
    const auto before = std::chrono::steady_clock::now();
    const Timer::time_point started = timer.start();
    EXPECT_GE(started, std::chrono::time_point_cast<std::chrono::nanoseconds>(before));
}

TEST(Timer, WallClockIntegersAreTheSystemTimeModulo2To32)
{
    const auto since_epoch = std::chrono::system_clock::now().time_since_epoch();
    const auto micros =
        static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::microseconds>(since_epoch).count());
    const auto millis =
        static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(since_epoch).count());
    // Differences of nearby wrapped values stay small.
    EXPECT_LT(static_cast<uint32_t>(Timer::now() - micros), 5000000u);
    EXPECT_LT(static_cast<uint32_t>(Timer::now_milli() - millis), 5000u);
}

TEST(Timer, EpochToLocaltimeStrPrintsMicrosecondsWithoutPadding)
{
    struct Row {
        const char* tz;
        uint32_t micros;
        const char* expected;
    };
    const Row rows[] = {
        {"UTC0", 1500000, "19700101_00:00:01.500000"},
        {"UTC0", 42, "19700101_00:00:00.42"},
        {"UTC0", 0, "19700101_00:00:00.0"},
        {"UTC0", 4294967295u, "19700101_01:11:34.967295"},
        {"XYZ-2", 1500000, "19700101_02:00:01.500000"},
        {"XYZ+3", 3000001, "19691231_21:00:03.1"},
    };
    for (const Row& row : rows) {
        ScopedTimeZone zone(row.tz);
        EXPECT_EQ(Timer::epoch_to_localtime_str(row.micros), row.expected) << row.tz << " " << row.micros;
    }
}

TEST(Timer, LocaltimeStrIsTheLocalTimeWithThreeDigitMilliseconds)
{
    ScopedTimeZone zone("XYZ-2");
    // "dddddddd_dd:dd:dd.ddd"
    const auto well_formed = [](const std::string& stamp) {
        const std::string pattern = "dddddddd_dd:dd:dd.ddd";
        if (stamp.size() != pattern.size()) {
            return false;
        }
        for (size_t i = 0; i < stamp.size(); ++i) {
            const bool digit = stamp[i] >= '0' && stamp[i] <= '9';
            if (pattern[i] == 'd' ? !digit : stamp[i] != pattern[i]) {
                return false;
            }
        }
        return true;
    };
    for (int attempt = 0; attempt < 3; ++attempt) {
        const std::time_t before = std::time(nullptr);
        const std::string stamp = Timer::localtime_str();
        const std::time_t after = std::time(nullptr);
        ASSERT_TRUE(well_formed(stamp)) << stamp;
        if (before != after) {
            continue; // crossed a second boundary: try again
        }
        std::tm local{};
        localtime_r(&before, &local);
        char expected[32];
        std::strftime(expected, sizeof expected, "%Y%m%d_%H:%M:%S", &local);
        EXPECT_EQ(stamp.substr(0, 17), expected);
        return;
    }
}
