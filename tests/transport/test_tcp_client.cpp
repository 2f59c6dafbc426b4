#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "loopback.hpp"
#include "transport/ext_interface_tcp_client.hpp"

using VELKOR::ExtInterface_TCP_client;
using namespace std::chrono_literals;

namespace {

struct Sink {
    std::mutex mutex;
    std::string bytes;
    std::atomic<int> calls{0};

    static void callback(void* user, char* data, unsigned int length)
    {
        auto* self = static_cast<Sink*>(user);
        std::lock_guard<std::mutex> lock(self->mutex);
        self->bytes.append(data, length);
        ++self->calls;
    }
    std::size_t size()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return bytes.size();
    }
};

ExtInterface_TCP_client::IpSettings settings_for(uint16_t port)
{
    return ExtInterface_TCP_client::IpSettings("127.0.0.1", 0, "127.0.0.1", port, 1000);
}

double seconds_since(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// A connected client and the accepted peer descriptor.
struct Connection {
    int listen_fd = loopback::listener();
    int peer = -1;
    Sink sink;
    ExtInterface_TCP_client client;
    ExtInterface_TCP_client::IpSettings settings = settings_for(loopback::local_port(listen_fd));

    bool open()
    {
        client.registRecvCallback(&Sink::callback, &sink);
        if (!client.connect(settings)) {
            return false;
        }
        peer = accept(listen_fd, nullptr, nullptr);
        return peer >= 0;
    }
    ~Connection()
    {
        client.disconnect();
        if (peer >= 0) {
            close(peer);
        }
        close(listen_fd);
    }
};

}  // namespace

TEST(TcpClient, ConnectWritesTheLocalEndpointBackAndReportsIt)
{
    Connection c;
    testing::internal::CaptureStdout();
    ASSERT_TRUE(c.open());
    const std::string out = testing::internal::GetCapturedStdout();

    EXPECT_EQ(c.settings.local_ip, "127.0.0.1");
    EXPECT_EQ(c.settings.local_port, loopback::peer_port(c.peer));
    EXPECT_NE(out.find("Connected!\n"), std::string::npos);
    EXPECT_NE(out.find("TCP: 127.0.0.1:" + std::to_string(c.settings.local_port) + "\n"), std::string::npos);
    EXPECT_TRUE(c.client.is_connected());
    EXPECT_TRUE(c.client.is_running());
}

TEST(TcpClient, StreamBytesArriveCompleteAndInOrder)
{
    Connection c;
    ASSERT_TRUE(c.open());
    std::string sent(200000, '\0');
    for (std::size_t i = 0; i < sent.size(); ++i) {
        sent[i] = static_cast<char>(i * 7);
    }
    ASSERT_EQ(send(c.peer, sent.data(), sent.size(), 0), static_cast<ssize_t>(sent.size()));
    ASSERT_TRUE(loopback::wait_for([&] { return c.sink.size() >= sent.size(); }));
    std::lock_guard<std::mutex> lock(c.sink.mutex);
    EXPECT_EQ(c.sink.bytes, sent);
    EXPECT_GE(c.sink.calls.load(), 2);  // more than one 64 KiB buffer's worth
}

TEST(TcpClient, LargeWriteSendsEveryByte)
{
    // Far more than the socket buffers hold, while a receive is outstanding:
    // a single send() would stop part-way.
    Connection c;
    ASSERT_TRUE(c.open());
    std::vector<char> data(8 << 20);
    for (std::size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<char>(i % 251);
    }
    std::vector<char> got;
    std::thread reader([&] {
        char buf[65536];
        while (got.size() < data.size()) {
            const ssize_t n = recv(c.peer, buf, sizeof buf, 0);
            if (n <= 0) {
                break;
            }
            got.insert(got.end(), buf, buf + n);
            std::this_thread::sleep_for(100us);
        }
    });
    EXPECT_TRUE(c.client.write(data.data(), static_cast<unsigned int>(data.size())));
    reader.join();
    EXPECT_TRUE(got == data);
}

TEST(TcpClient, WriteFailuresAreReported)
{
    ExtInterface_TCP_client idle;
    char byte = 'x';
    testing::internal::CaptureStdout();
    EXPECT_FALSE(idle.write(&byte, 1));
    EXPECT_EQ(testing::internal::GetCapturedStdout().rfind("Sending socket error :: ", 0), 0u);

    Connection c;
    ASSERT_TRUE(c.open());
    testing::internal::CaptureStdout();
    EXPECT_FALSE(c.client.write(&byte, 0));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Sending socket error :: Success\n");
}

TEST(TcpClient, RefusedConnectFailsFast)
{
    ExtInterface_TCP_client client;
    auto settings = settings_for(loopback::closed_port());
    testing::internal::CaptureStdout();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(client.connect(settings));
    const double elapsed = seconds_since(start);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_LT(elapsed, 1.5);
    EXPECT_EQ(out.rfind("Connect error: ", 0), 0u) << out;
    EXPECT_FALSE(client.is_running());

    // The next attempt after a failure needs no disconnect.
    const int listen_fd = loopback::listener();
    settings = settings_for(loopback::local_port(listen_fd));
    EXPECT_TRUE(client.connect(settings));
    client.disconnect();
    close(listen_fd);
}

TEST(TcpClient, UnansweredConnectTimesOutAfterThreeSeconds)
{
    loopback::BlackHole hole;
    ExtInterface_TCP_client client;
    auto settings = settings_for(hole.port);
    testing::internal::CaptureStdout();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(client.connect(settings));
    const double elapsed = seconds_since(start);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Connect timed out\n");
    EXPECT_GT(elapsed, 2.8);
    EXPECT_LT(elapsed, 4.5);
}

TEST(TcpClient, BadSettingsAreSocketErrors)
{
    const char* cases[][2] = {
        {"::1", "127.0.0.1"},           // local address not IPv4
        {"not-an-address", "127.0.0.1"},
    };
    for (const auto& c : cases) {
        ExtInterface_TCP_client client;
        ExtInterface_TCP_client::IpSettings settings(c[0], 0, c[1], 2000, 1000);
        testing::internal::CaptureStdout();
        EXPECT_FALSE(client.connect(settings));
        const std::string out = testing::internal::GetCapturedStdout();
        EXPECT_EQ(out.rfind("Receiving socket error :: ", 0), 0u) << c[0] << " " << c[1] << ": " << out;
    }
}

TEST(TcpClient, PeerCloseLeavesTheLoopIdleNotSpinning)
{
    Connection c;
    ASSERT_TRUE(c.open());
    close(c.peer);
    c.peer = -1;
    std::this_thread::sleep_for(50ms);
    const double cpu_before = loopback::process_cpu_ms();
    std::this_thread::sleep_for(500ms);
    const double cpu_used = loopback::process_cpu_ms() - cpu_before;
    EXPECT_LT(cpu_used, 150.0);
    // The end of the stream is noticed: the link is down, and no write is
    // taken (not even the first, which the kernel would still accept).
    EXPECT_FALSE(c.client.is_connected());
    char byte = 'x';
    testing::internal::CaptureStdout();
    EXPECT_FALSE(c.client.write(&byte, 1));
    std::this_thread::sleep_for(20ms);
    EXPECT_FALSE(c.client.write(&byte, 1));
    EXPECT_NE(testing::internal::GetCapturedStdout().find("Sending socket error :: "), std::string::npos);
}

TEST(TcpClient, LifecycleEdges)
{
    {
        ExtInterface_TCP_client never;
        never.disconnect();  // idle: nothing happens
        EXPECT_FALSE(never.is_connected());
    }
    {
        Connection c;
        ASSERT_TRUE(c.open());
        testing::internal::CaptureStdout();
        c.client.disconnect();
        c.client.disconnect();
        EXPECT_EQ(testing::internal::GetCapturedStdout(),
                  "VELKOR::ExtInterface_TCP_client::receive_thread_process :: Done.\n");
        EXPECT_FALSE(c.client.is_connected());
        EXPECT_FALSE(c.client.is_running());
    }
    {
        // Destroyed while connected: the receive thread ends cleanly.
        const int listen_fd = loopback::listener();
        auto client = std::make_unique<ExtInterface_TCP_client>();
        auto settings = settings_for(loopback::local_port(listen_fd));
        ASSERT_TRUE(client->connect(settings));
        client.reset();
        close(listen_fd);
    }
    {
        // Reconnecting while connected leaves one working connection.
        Connection c;
        ASSERT_TRUE(c.open());
        auto again = settings_for(loopback::local_port(c.listen_fd));
        ASSERT_TRUE(c.client.connect(again));
        const int second = accept(c.listen_fd, nullptr, nullptr);
        ASSERT_GE(second, 0);
        ASSERT_EQ(send(second, "hello", 5, 0), 5);
        EXPECT_TRUE(loopback::wait_for([&] { return c.sink.size() == 5; }));
        close(second);
    }
}
