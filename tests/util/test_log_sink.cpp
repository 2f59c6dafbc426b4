#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "api/lidar_tq.hpp"
#include "util/log_sink.hpp"

namespace {

using Lines = std::vector<std::pair<VELKOR::log_level_t, std::string>>;

void collect(void* user, VELKOR::log_level_t level, const std::string& text)
{
    static_cast<Lines*>(user)->emplace_back(level, text);
}

}  // namespace

// A handler gets every line with its level and without its line end; without
// one each line is printed on the stream it has always gone to.
TEST(LogSink, HandlerReceivesTheLinesAndNullRestoresPrinting)
{
    Lines lines;
    VELKOR::LidarTQ::set_log_handler(&collect, &lines);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    VELKOR::LogLine(VELKOR::log_level::warning, VELKOR::log_stream::out) << "emb crc err" << "!!!";
    VELKOR::LogLine(VELKOR::log_level::error) << "json parse error";
    VELKOR::LidarTQ::set_log_handler(nullptr, nullptr);
    VELKOR::LogLine(VELKOR::log_level::info) << "slot_loss";
    VELKOR::LogLine(VELKOR::log_level::error) << "json type error";
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "slot_loss\n");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "json type error\n");
    const Lines expected{{VELKOR::log_level_t::warning, "emb crc err!!!"},
                         {VELKOR::log_level_t::error, "json parse error"}};
    EXPECT_EQ(lines, expected);
}
