#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "transport/ext_interface_serialport.hpp"

using VELKOR::ExtInterface_Serialport;

namespace {

// A pseudo-terminal pair: the transport opens the device side, the test plays
// the far end through the master.
class Pty {
public:
    Pty()
    {
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ >= 0 && grantpt(master_) == 0 && unlockpt(master_) == 0) {
            path_ = ptsname(master_);
        }
    }
    ~Pty()
    {
        if (master_ >= 0) {
            ::close(master_);
        }
    }

    bool ok() const { return !path_.empty(); }
    const std::string& path() const { return path_; } // "/dev/pts/N"

    void send(const std::string& bytes) const
    {
        ASSERT_EQ(::write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }

    // Whatever the far end receives within the time-out, up to count bytes.
    std::string receive(size_t count) const
    {
        std::string got;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (got.size() < count && std::chrono::steady_clock::now() < deadline) {
            pollfd pfd{master_, POLLIN, 0};
            if (poll(&pfd, 1, 50) == 1 && (pfd.revents & POLLIN)) {
                char buffer[256];
                const ssize_t n = ::read(master_, buffer, sizeof buffer);
                if (n > 0) {
                    got.append(buffer, static_cast<size_t>(n));
                }
            }
        }
        return got;
    }

private:
    int master_ = -1;
    std::string path_;
};

// Chunks delivered by the receive callback, as they came.
struct Chunks {
    std::mutex mutex;
    std::vector<std::string> list;

    static void on_receive(void* user, char* data, unsigned int length)
    {
        auto* self = static_cast<Chunks*>(user);
        std::lock_guard<std::mutex> lock(self->mutex);
        self->list.emplace_back(data, length);
    }

    // Waits until the chunks hold `bytes` bytes in all; returns the chunks.
    std::vector<std::string> wait_for(size_t bytes)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (std::chrono::steady_clock::now() < deadline) {
            {
                std::lock_guard<std::mutex> lock(mutex);
                size_t total = 0;
                for (const auto& chunk : list) {
                    total += chunk.size();
                }
                if (total >= bytes) {
                    return list;
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        std::lock_guard<std::mutex> lock(mutex);
        return list;
    }
};

std::string joined(const std::vector<std::string>& chunks)
{
    std::string all;
    for (const auto& chunk : chunks) {
        all += chunk;
    }
    return all;
}

bool starts_with(const std::string& text, const std::string& prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

// The name the transport is given: the pts path without its "/dev/" prefix.
std::string short_name(const Pty& pty)
{
    return pty.path().substr(5);
}

} // namespace

TEST(Serialport, ConnectPrefixesDevAndKeepsTheSettings)
{
    Pty pty;
    ASSERT_TRUE(pty.ok());
    ExtInterface_Serialport port;
    EXPECT_EQ(port.get_port_status(), nullptr);

    ExtInterface_Serialport::PortSettings settings(short_name(pty), 115200, 7);
    testing::internal::CaptureStdout();
    ASSERT_TRUE(port.connect(settings));
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(settings.name, pty.path());
    EXPECT_EQ(out, "Serial port :: port.name(" + pty.path() + "), port.baudrate(115200)\n");
    ASSERT_NE(port.get_port_status(), nullptr);
    EXPECT_EQ(port.get_port_status()->name, pty.path());
    EXPECT_EQ(port.get_port_status()->baudrate, 115200);
    EXPECT_EQ(port.get_port_status()->reserved, 7);
    EXPECT_TRUE(port.is_connected());
    EXPECT_TRUE(port.is_running());

    // A full path is used unchanged.
    ExtInterface_Serialport other;
    ExtInterface_Serialport::PortSettings full(pty.path(), 9600, 0);
    testing::internal::CaptureStdout();
    EXPECT_TRUE(other.connect(full));
    other.disconnect();
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(full.name, pty.path());
    port.disconnect();
}

TEST(Serialport, ConnectFailuresAreReportedAndLeaveNoThread)
{
    ExtInterface_Serialport port;
    ExtInterface_Serialport::PortSettings settings("ttyVELKOR_missing_" + std::to_string(getpid()), 9600, 0);
    testing::internal::CaptureStdout();
    EXPECT_FALSE(port.connect(settings));
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(starts_with(settings.name, "/dev/"));
    EXPECT_TRUE(starts_with(out, "Serial port connection error :: open: ")) << out;
    EXPECT_FALSE(port.is_running());
    EXPECT_FALSE(port.is_connected());

    // A speed the line cannot take is refused and the port is not left open.
    Pty pty;
    ASSERT_TRUE(pty.ok());
    ExtInterface_Serialport::PortSettings odd(pty.path(), 12345, 0);
    testing::internal::CaptureStdout();
    EXPECT_FALSE(port.connect(odd));
    const std::string refused = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(starts_with(refused, "Serial port connection error :: set_option")) << refused;
    EXPECT_FALSE(port.is_connected());
    port.disconnect();
}

TEST(Serialport, BytesTravelBothWays)
{
    Pty pty;
    ASSERT_TRUE(pty.ok());
    Chunks chunks;
    ExtInterface_Serialport port(64);
    port.registRecvCallback(&Chunks::on_receive, &chunks);
    ExtInterface_Serialport::PortSettings settings(pty.path(), 115200, 0);
    testing::internal::CaptureStdout();
    ASSERT_TRUE(port.connect(settings));

    pty.send(std::string("\x01\x02\xFFzz", 5));
    EXPECT_EQ(joined(chunks.wait_for(5)), std::string("\x01\x02\xFFzz", 5));

    char out[] = {0x10, 0x20, 0x30, 0x40, 0x5A};
    EXPECT_TRUE(port.write(out, 5));
    EXPECT_EQ(pty.receive(5), std::string(out, 5));
    port.disconnect();
    const std::string log = testing::internal::GetCapturedStdout();
    EXPECT_NE(log.find("\n> Sent serial data\nhex : { 10 20 30 40 5A } TOTAL(5)\n"
                       "VELKOR::ExtInterface_Serialport::write : total_bytes_sent(5)\n"),
              std::string::npos)
        << log;
}

TEST(Serialport, OneByteBufferGivesOneCallbackPerByte)
{
    Pty pty;
    ASSERT_TRUE(pty.ok());
    Chunks chunks;
    ExtInterface_Serialport port; // buffer of 1 byte
    port.registRecvCallback(&Chunks::on_receive, &chunks);
    ExtInterface_Serialport::PortSettings settings(pty.path(), 115200, 0);
    testing::internal::CaptureStdout();
    ASSERT_TRUE(port.connect(settings));
    pty.send("0123456789");
    const auto got = chunks.wait_for(10);
    port.disconnect();
    testing::internal::GetCapturedStdout();
    ASSERT_EQ(got.size(), 10u);
    for (size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got[i], std::string(1, static_cast<char>('0' + i)));
    }
}

TEST(Serialport, DisconnectEndsTheReceiveThread)
{
    Pty pty;
    ASSERT_TRUE(pty.ok());
    ExtInterface_Serialport port;
    ExtInterface_Serialport::PortSettings settings(pty.path(), 115200, 0);
    testing::internal::CaptureStdout();
    ASSERT_TRUE(port.connect(settings));
    port.disconnect();
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("VELKOR::ExtInterface_Serialport::receive_thread_process :: Done.\n"),
              std::string::npos)
        << out;
    EXPECT_FALSE(port.is_running());
    EXPECT_FALSE(port.is_connected());

    // Connect works again after a disconnect, and data flows.
    Chunks chunks;
    port.registRecvCallback(&Chunks::on_receive, &chunks);
    testing::internal::CaptureStdout();
    ASSERT_TRUE(port.connect(settings));
    pty.send("x");
    EXPECT_EQ(joined(chunks.wait_for(1)), "x");
    port.disconnect();
    port.disconnect(); // a second disconnect is harmless
    testing::internal::GetCapturedStdout();
}

TEST(Serialport, HangUpOfTheFarEndKeepsTheLoopQuietUntilDisconnect)
{
    auto pty = std::make_unique<Pty>();
    ASSERT_TRUE(pty->ok());
    ExtInterface_Serialport port;
    ExtInterface_Serialport::PortSettings settings(pty->path(), 115200, 0);
    testing::internal::CaptureStdout();
    ASSERT_TRUE(port.connect(settings));
    pty.reset(); // reads now fail at once
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_TRUE(port.is_running());
    port.disconnect();
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find(":: Done."), std::string::npos);
}

TEST(Serialport, WriteWithoutAPortFails)
{
    ExtInterface_Serialport port;
    char data[] = {1, 2};
    testing::internal::CaptureStdout();
    EXPECT_FALSE(port.write(data, 2));
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(starts_with(out, "Serial port write error :: ")) << out;
    EXPECT_NE(out.find(", len(0)\n"), std::string::npos) << out;
}

TEST(Serialport, DestroyingAConnectedTransportJoinsItsThread)
{
    Pty pty;
    ASSERT_TRUE(pty.ok());
    testing::internal::CaptureStdout();
    {
        ExtInterface_Serialport port;
        ExtInterface_Serialport::PortSettings settings(pty.path(), 115200, 0);
        ASSERT_TRUE(port.connect(settings));
    }
    EXPECT_NE(testing::internal::GetCapturedStdout().find(":: Done."), std::string::npos);
}
