#include <gtest/gtest.h>

#include <filesystem>

#include "recording_files.hpp"
#include "transport/ext_interface_logplayer.hpp"

using namespace recording_files;
using VELKOR::ExtInterface_Logplayer;

namespace {
int received_chunks = 0;
void count_chunk(void*, char*, unsigned int) { ++received_chunks; }
}  // namespace

TEST(ExtInterfaceLogplayer, OpensTheFileButStreamsNothing)
{
    const std::string dir = fresh_dir("logplayer");
    Bytes file;
    append(file, record(1, datagram(0)));
    ASSERT_TRUE(write_file(dir + "one.bin", file));

    char data[4] = {1, 2, 3, 4};
    {
        ExtInterface_Logplayer player;
        player.registRecvCallback(count_chunk, nullptr);
        EXPECT_FALSE(player.write(data, sizeof(data)));

        ExtInterface_Logplayer::LogFile missing(dir + "missing.bin");
        EXPECT_FALSE(player.connect(missing));
        EXPECT_FALSE(player.is_running());

        ::testing::internal::CaptureStdout();
        ExtInterface_Logplayer::LogFile name(dir + "one.bin");
        EXPECT_FALSE(player.connect(name));  // false even on success
        EXPECT_TRUE(player.is_running());
        EXPECT_FALSE(player.connect(name));  // a second connect leaves the file open
        EXPECT_TRUE(player.is_running());
        EXPECT_FALSE(player.write(data, sizeof(data)));
        player.set_pos(10);
        player.start_streaming();
        player.stop_streaming();
        EXPECT_TRUE(player.is_running());
        player.disconnect();
        EXPECT_FALSE(player.is_running());
        player.disconnect();
    }
    // The destructor joined the receive thread, which announced its end once.
    const std::string out = ::testing::internal::GetCapturedStdout();
    const std::string done = "VELKOR::ExtInterface_Logplayer::receive_thread_process : Done.\n";
    ASSERT_NE(out.find(done), std::string::npos);
    EXPECT_EQ(out.find(done, out.find(done) + 1), std::string::npos);
    EXPECT_EQ(received_chunks, 0);
    std::filesystem::remove_all(dir);
}
