#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "loopback.hpp"
#include "transport/ext_interface_udp_client.hpp"

using VELKOR::ExtInterface_UDP_client;
using namespace std::chrono_literals;

namespace {

struct Datagrams {
    std::mutex mutex;
    std::vector<std::string> items;

    static void callback(void* user, char* data, unsigned int length)
    {
        auto* self = static_cast<Datagrams*>(user);
        std::lock_guard<std::mutex> lock(self->mutex);
        self->items.emplace_back(data, length);
    }
    std::size_t count()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return items.size();
    }
};

// A client bound to a free port on 127.0.0.1, sending to `peer_port`.
struct Bound {
    uint16_t port = loopback::closed_port();
    Datagrams got;
    ExtInterface_UDP_client client;
    int peer = loopback::bound_socket(SOCK_DGRAM);

    bool open()
    {
        client.registRecvCallback(&Datagrams::callback, &got);
        ExtInterface_UDP_client::IpSettings s("127.0.0.1", port, "127.0.0.1", loopback::local_port(peer), 1000);
        return client.connect(s);
    }
    void send_to_client(const std::string& bytes)
    {
        const sockaddr_in to = loopback::address(port);
        sendto(peer, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    }
    ~Bound() { close(peer); }
};

}  // namespace

TEST(UdpClient, DatagramsArriveWholeOnePerCallback)
{
    Bound b;
    ASSERT_TRUE(b.open());
    const std::string big(65507, 'q');  // the largest IPv4 UDP payload
    b.send_to_client("a");
    b.send_to_client(big);
    b.send_to_client("xyz");
    ASSERT_TRUE(loopback::wait_for([&] { return b.got.count() == 3; }));
    std::lock_guard<std::mutex> lock(b.got.mutex);
    EXPECT_EQ(b.got.items[0], "a");
    EXPECT_EQ(b.got.items[1], big);
    EXPECT_EQ(b.got.items[2], "xyz");
}

TEST(UdpClient, WriteGoesToTheRemoteEndpoint)
{
    Bound b;
    ASSERT_TRUE(b.open());
    char msg[] = "hello";
    EXPECT_TRUE(b.client.write(msg, 5));
    char buf[16] = {};
    sockaddr_in from{};
    socklen_t len = sizeof from;
    const ssize_t n = recvfrom(b.peer, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
    EXPECT_EQ(n, 5);
    EXPECT_EQ(std::string(buf, 5), "hello");
    EXPECT_EQ(ntohs(from.sin_port), b.port);

    testing::internal::CaptureStdout();
    EXPECT_FALSE(b.client.write(msg, 0));
    EXPECT_EQ(testing::internal::GetCapturedStdout().rfind("Sending socket error :: ", 0), 0u);
}

TEST(UdpClient, BadSettingsFailWithASocketError)
{
    const char* cases[][2] = {
        {"127.0.0.1", "localhost"},  // names are not accepted
        {"127.0.0.1", "::1"},
        {"::1", "127.0.0.1"},
        {"192.0.2.1", "127.0.0.1"},  // not a local address: bind refused
    };
    for (const auto& c : cases) {
        ExtInterface_UDP_client client;
        ExtInterface_UDP_client::IpSettings s(c[0], 0, c[1], 2000, 1000);
        testing::internal::CaptureStdout();
        EXPECT_FALSE(client.connect(s));
        const std::string out = testing::internal::GetCapturedStdout();
        EXPECT_EQ(out.rfind("Receiving socket error :: ", 0), 0u) << c[0] << " " << c[1] << ": " << out;
        client.disconnect();
    }
}

TEST(UdpClient, SecondConnectFailsAndTheFirstKeepsReceiving)
{
    Bound b;
    ASSERT_TRUE(b.open());
    ExtInterface_UDP_client::IpSettings again("127.0.0.1", 0, "127.0.0.1", 9, 1000);
    testing::internal::CaptureStdout();
    EXPECT_FALSE(b.client.connect(again));
    EXPECT_NE(testing::internal::GetCapturedStdout().find("Already open"), std::string::npos);
    b.send_to_client("still here");
    EXPECT_TRUE(loopback::wait_for([&] { return b.got.count() == 1; }));
}

TEST(UdpClient, DisconnectIsPromptAndEndsTheLoopOnce)
{
    Bound b;
    ASSERT_TRUE(b.open());
    testing::internal::CaptureStdout();
    const auto start = std::chrono::steady_clock::now();
    b.client.disconnect();
    b.client.disconnect();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 500ms);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "VELKOR::ExtInterface_UDP_client::receive_thread_process :: Done.\n");
    EXPECT_FALSE(b.client.is_connected());

    // And the transport connects again afterwards.
    ASSERT_TRUE(b.open());
    b.send_to_client("again");
    EXPECT_TRUE(loopback::wait_for([&] { return b.got.count() == 1; }));
}

TEST(UdpClient, UnreachablePeerDoesNotSpinTheReceiveLoop)
{
    // Writes to a closed port come back as ICMP errors on the next receive.
    Bound b;
    close(b.peer);
    b.peer = loopback::bound_socket(SOCK_DGRAM);
    ExtInterface_UDP_client::IpSettings s("127.0.0.1", b.port, "127.0.0.1", loopback::closed_port(), 1000);
    b.client.registRecvCallback(&Datagrams::callback, &b.got);
    ASSERT_TRUE(b.client.connect(s));
    char byte = 'x';
    const double cpu_before = loopback::process_cpu_ms();
    for (int i = 0; i < 50; ++i) {
        b.client.write(&byte, 1);
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_LT(loopback::process_cpu_ms() - cpu_before, 150.0);
    b.send_to_client("after errors");
    EXPECT_TRUE(loopback::wait_for([&] { return b.got.count() == 1; }));
}

TEST(UdpClient, NoCallbackMeansDataIsDiscarded)
{
    ExtInterface_UDP_client client;
    const uint16_t port = loopback::closed_port();
    ExtInterface_UDP_client::IpSettings s("127.0.0.1", port, "127.0.0.1", 9, 1000);
    ASSERT_TRUE(client.connect(s));
    const int peer = loopback::bound_socket(SOCK_DGRAM);
    const sockaddr_in to = loopback::address(port);
    sendto(peer, "x", 1, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    std::this_thread::sleep_for(20ms);
    close(peer);
    // Destroyed while connected: must end the thread cleanly.
}

// The receive thread of a busy machine is sometimes descheduled for a few
// milliseconds; the socket's queue must hold the rows that arrive meanwhile.
// Here the first callback holds the thread until five frames of rows (at
// 9544 bytes each) have been sent: none of them may be lost.
TEST(UdpClient, RowsThatArriveWhileTheReceiveThreadIsHeldUpAreKept)
{
    std::ifstream limit_file("/proc/sys/net/core/rmem_max");
    long limit = 0;
    if (!(limit_file >> limit) || limit < (4 << 20)) {
        GTEST_SKIP() << "the kernel caps socket receive buffers at " << limit << " bytes";
    }
    struct Held {
        std::atomic<bool> release{false};
        std::atomic<int> count{0};
        static void callback(void* user, char*, unsigned int)
        {
            auto* self = static_cast<Held*>(user);
            if (self->count++ == 0) {
                while (!self->release) {
                    std::this_thread::sleep_for(1ms);
                }
            }
        }
    } held;
    const uint16_t port = loopback::closed_port();
    const int peer = loopback::bound_socket(SOCK_DGRAM);
    ExtInterface_UDP_client client;
    client.registRecvCallback(&Held::callback, &held);
    ExtInterface_UDP_client::IpSettings s("127.0.0.1", port, "127.0.0.1", loopback::local_port(peer), 1000);
    ASSERT_TRUE(client.connect(s));
    const std::string row(9544, 'r');
    const sockaddr_in to = loopback::address(port);
    sendto(peer, row.data(), row.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    ASSERT_TRUE(loopback::wait_for([&] { return held.count == 1; }));
    const int kRows = 5 * 56;
    for (int i = 0; i < kRows; ++i) {
        sendto(peer, row.data(), row.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    }
    held.release = true;
    EXPECT_TRUE(loopback::wait_for([&] { return held.count == kRows + 1; }));
    EXPECT_EQ(held.count, kRows + 1);
    client.disconnect();
    close(peer);
}

// A backlog is taken several datagrams per system call: each must still come
// whole, from its own buffer, in order (large ones beside small and empty).
TEST(UdpClient, BacklogTakenInBatchesKeepsEveryDatagramWholeAndInOrder)
{
    struct Held : Datagrams {
        std::atomic<bool> release{false};
        std::atomic<int> calls{0};
        static void callback(void* user, char* data, unsigned int length)
        {
            auto* self = static_cast<Held*>(user);
            if (self->calls++ == 0) {
                while (!self->release) {
                    std::this_thread::sleep_for(1ms);
                }
                return;
            }
            Datagrams::callback(user, data, length);
        }
    } held;
    Bound b;
    b.client.registRecvCallback(&Held::callback, &held);
    ExtInterface_UDP_client::IpSettings s("127.0.0.1", b.port, "127.0.0.1", loopback::local_port(b.peer), 1000);
    ASSERT_TRUE(b.client.connect(s));
    b.send_to_client("hold");
    ASSERT_TRUE(loopback::wait_for([&] { return held.calls == 1; }));
    std::vector<std::string> sent;
    for (int i = 0; i < 21; ++i) {
        const std::size_t size = i % 5 == 0 ? 65507 - i : static_cast<std::size_t>(1 + 700 * i);
        sent.emplace_back(size, static_cast<char>('a' + i));
        b.send_to_client(sent.back());
        if (i == 10) {
            b.send_to_client("");  // no payload: not handed on
        }
    }
    held.release = true;
    ASSERT_TRUE(loopback::wait_for([&] { return held.count() == sent.size(); }));
    std::lock_guard<std::mutex> lock(held.mutex);
    EXPECT_EQ(held.items, sent);
}

// disconnect wakes a receive blocked on the socket at once rather than at
// the receive time-out.
// With a sink, datagrams are received into the buffers it lends and handed
// over in them; one longer than a lent buffer comes whole in a buffer of its
// own. A backlog (taken in batches) keeps every datagram whole and in order.
TEST(UdpClient, SinkGetsEachDatagramInTheBufferItLent)
{
    struct Sink : ExtInterface_UDP_client::DatagramSink {
        std::mutex mutex;
        std::set<const uint8_t*> lent;
        std::vector<std::string> items;
        std::vector<bool> in_lent;
        std::vector<std::unique_ptr<uint8_t[]>> kept;  // no address is used twice
        std::atomic<bool> release{false};
        std::atomic<int> calls{0};
        std::unique_ptr<uint8_t[]> lend_buffer() override
        {
            std::unique_ptr<uint8_t[]> buffer(new uint8_t[ExtInterface_UDP_client::kSinkBufferBytes]);
            std::lock_guard<std::mutex> lock(mutex);
            lent.insert(buffer.get());
            return buffer;
        }
        void deliver(ExtInterface_UDP_client::OwnedDatagram d) override
        {
            if (calls++ == 0) {
                while (!release) {
                    std::this_thread::sleep_for(1ms);
                }
            }
            std::lock_guard<std::mutex> lock(mutex);
            if (calls > 1) {
                items.emplace_back(reinterpret_cast<const char*>(d.bytes.get()), d.length);
                in_lent.push_back(lent.count(d.bytes.get()) == 1);
            }
            kept.push_back(std::move(d.bytes));
        }
    } sink;
    Bound b;
    b.client.set_datagram_sink(&sink);
    ASSERT_TRUE(b.open());
    b.send_to_client("hold");
    ASSERT_TRUE(loopback::wait_for([&] { return sink.calls == 1; }));
    const std::size_t lend = ExtInterface_UDP_client::kSinkBufferBytes;
    std::vector<std::string> sent;
    for (const std::size_t size : {std::size_t{1}, lend, lend + 1, std::size_t{9544}, std::size_t{65507}, lend - 1}) {
        std::string bytes(size, '\0');
        for (std::size_t k = 0; k < size; ++k) {
            bytes[k] = static_cast<char>((k * 131 + size) & 0xFF);
        }
        sent.push_back(bytes);
        b.send_to_client(bytes);
    }
    sink.release = true;
    ASSERT_TRUE(loopback::wait_for([&] { return sink.calls == static_cast<int>(sent.size()) + 1; }));
    std::lock_guard<std::mutex> lock(sink.mutex);
    EXPECT_EQ(sink.items, sent);
    EXPECT_EQ(sink.in_lent, (std::vector<bool>{true, true, false, true, false, true}));
}

TEST(UdpClient, DisconnectWakesTheBlockedReceive)
{
    Bound b;
    const auto start = std::chrono::steady_clock::now();
    testing::internal::CaptureStdout();
    for (int i = 0; i < 5; ++i) {
        ASSERT_TRUE(b.open());
        std::this_thread::sleep_for(5ms);  // the thread is in its receive
        b.client.disconnect();
    }
    testing::internal::GetCapturedStdout();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 600ms);
}
