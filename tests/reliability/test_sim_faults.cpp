// The simulator's fault hooks the soak run relies on: a command server
// restart, and the count of frames that went out untouched.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "loopback.hpp"
#include "session/device_session.hpp"
#include "sim_sensor.hpp"

namespace {

using namespace std::chrono_literals;
using VELKOR::SIM::SimOptions;
using VELKOR::SIM::SimSensor;

template <typename Predicate>
bool wait_for(Predicate done, std::chrono::milliseconds patience = 3000ms)
{
    const auto end = std::chrono::steady_clock::now() + patience;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= end) {
            return false;
        }
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

int connect_to(uint16_t port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in to = loopback::address(port);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

TEST(SimFaults, CommandServerRestartDropsTheClientAndListensAgainOnTheSamePort)
{
    SimSensor sim;
    ASSERT_TRUE(sim.start());
    const uint16_t port = sim.port();
    const int first = connect_to(port);
    ASSERT_GE(first, 0);
    ASSERT_TRUE(wait_for([&] { return sim.client_connected(); }));

    sim.restart_command_server();
    ASSERT_TRUE(wait_for([&] { return sim.command_server_restarts() == 1; }));
    EXPECT_FALSE(sim.client_connected());
    EXPECT_EQ(sim.port(), port);
    // The old connection sees its end.
    char byte = 0;
    EXPECT_EQ(::recv(first, &byte, 1, 0), 0);
    ::close(first);

    const int second = connect_to(port);
    ASSERT_GE(second, 0);
    EXPECT_TRUE(wait_for([&] { return sim.client_connected(); }));
    const char command[] = "{\"command\":\"stop\"}";
    ASSERT_EQ(::send(second, command, sizeof command - 1, 0), static_cast<ssize_t>(sizeof command - 1));
    char reply[128] = {};
    EXPECT_GT(::recv(second, reply, sizeof reply, 0), 0);
    EXPECT_NE(std::string(reply).find("\"result\":true"), std::string::npos) << reply;
    ::close(second);
    sim.stop();
}

uint64_t intact_after_frames(SimOptions options, uint64_t frames, uint64_t& sent)
{
    options.fps = 100;
    SimSensor sim(options);
    if (!sim.start()) {
        return 0;
    }
    TQZ::DeviceSession session;
    if (!session.connect({"127.0.0.1", sim.port()}, {"127.0.0.1", 0}) || !session.run()) {
        return 0;
    }
    wait_for([&] { return sim.frames_sent() >= frames; }, 10000ms);
    session.stop();
    session.disconnect();
    sim.stop();
    sent = sim.frames_sent();
    return sim.frames_sent_intact();
}

TEST(SimFaults, IntactFramesAreThoseNoFaultTouched)
{
    uint64_t sent = 0;
    // No faults: every frame, but perhaps the one cut short by the stop.
    const uint64_t clean = intact_after_frames(SimOptions{}, 10, sent);
    EXPECT_GE(sent, 10u);
    EXPECT_GE(clean + 1, sent);

    // Every datagram flagged, or every one lost: none.
    SimOptions flagged;
    flagged.crc_rate = 1.0;
    EXPECT_EQ(intact_after_frames(flagged, 5, sent), 0u);
    EXPECT_GE(sent, 5u);
    SimOptions lost;
    lost.loss_rate = 1.0;
    EXPECT_EQ(intact_after_frames(lost, 5, sent), 0u);

    // One datagram in a hundred lost: roughly 0.99^56 of the frames survive.
    SimOptions some;
    some.loss_rate = 0.01;
    const uint64_t survived = intact_after_frames(some, 60, sent);
    EXPECT_GT(survived, sent / 4);
    EXPECT_LT(survived, sent * 9 / 10);
}

}  // namespace
