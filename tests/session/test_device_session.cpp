#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "loopback.hpp"
#include "session/device_session.hpp"
#include "sim_sensor.hpp"
#include "transport/ext_interface_tcp_client.hpp"

using TQZ::DeviceSession;
using VELKOR::SIM::ReplyFault;
using VELKOR::SIM::SimOptions;
using VELKOR::SIM::SimSensor;
using namespace std::chrono_literals;

namespace {

VELKOR::IP_ADDRESS_T local_any() { return {"127.0.0.1", 0}; }

// Replies that came unasked must not pass for the answer to a test's command.
void drop_replies(TQZ::CommandLink& link)
{
    nlohmann::json reply;
    while (link.wait_reply(reply, 0ms)) {
    }
}

double seconds_since(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

class SessionWithSim : public testing::Test {
protected:
    void start_sim(SimOptions options = {})
    {
        options.bind_ip = "127.0.0.1";
        options.port = 0;
        if (options.fps == 10.0) {
            options.fps = 50.0;
        }
        sim = std::make_unique<SimSensor>(options);
        ASSERT_TRUE(sim->start());
    }
    VELKOR::IP_ADDRESS_T sensor() const { return {"127.0.0.1", sim->port()}; }

    void TearDown() override
    {
        session.reset();
        if (sim) {
            sim->stop();
        }
    }

    std::unique_ptr<SimSensor> sim;
    std::unique_ptr<DeviceSession> session = std::make_unique<DeviceSession>();
};

}  // namespace

TEST_F(SessionWithSim, ConnectRunStopDisconnect)
{
    start_sim();
    ASSERT_TRUE(session->connect(sensor(), local_any()));
    EXPECT_TRUE(session->command_link().connected());
    EXPECT_TRUE(sim->client_connected());

    ASSERT_TRUE(session->run());
    EXPECT_TRUE(loopback::wait_for([&] { return sim->streaming(); }));
    // Datagrams reach the session's UDP socket only if it is bound to the
    // very port of the TCP connection: that is where the sensor sends them.
    EXPECT_TRUE(loopback::wait_for([&] { return sim->datagrams_sent() > 100; }));
    EXPECT_TRUE(session->stream().running());
    EXPECT_TRUE(session->stream().worker_started());

    EXPECT_TRUE(session->stop());
    EXPECT_TRUE(loopback::wait_for([&] { return !sim->streaming(); }));
    EXPECT_FALSE(session->stream().running());
    EXPECT_FALSE(session->stream().worker_started());

    session->disconnect();
    EXPECT_FALSE(session->command_link().connected());
    EXPECT_TRUE(loopback::wait_for([&] { return !sim->client_connected(); }));
}

TEST_F(SessionWithSim, DatagramsArriveOnTheTcpLocalPort)
{
    // The worker is not running, so datagrams pile up in packet_queue.
    start_sim();
    ASSERT_TRUE(session->connect(sensor(), local_any()));
    nlohmann::json run = {{"command", "run"}};
    ASSERT_TRUE(session->send_json(run));
    EXPECT_TRUE(loopback::wait_for([&] { return session->stream().packets_waiting() >= 56; }));
    TQZ::ByteVector datagram;
    ASSERT_TRUE(session->stream().take_datagram(datagram));
    EXPECT_GT(datagram.size(), 1080u);
    session->stop();
}

TEST_F(SessionWithSim, RepliesAreRoutedByTheReplyRoute)
{
    start_sim();
    ASSERT_TRUE(session->connect(sensor(), local_any()));
    drop_replies(session->command_link());

    ASSERT_TRUE(session->json_read_from_memory());
    ASSERT_TRUE(loopback::wait_for([&] { return session->command_link().settings_waiting() == 1; }));
    EXPECT_FALSE(session->command_link().settings_reply_expected());

    // The same document requested with route 0 lands with the general replies.
    nlohmann::json read = {{"command", "json_read"}};
    ASSERT_TRUE(session->send_json(read));
    ASSERT_TRUE(loopback::wait_for([&] { return session->command_link().replies_waiting() == 1; }));
    EXPECT_EQ(session->command_link().settings_waiting(), 1u);

    nlohmann::json settings;
    ASSERT_TRUE(session->get_setting(settings));
    EXPECT_TRUE(settings["PL_Reg"]["walk_err_param"].is_array());
    EXPECT_TRUE(settings.contains("IP_Setting"));
    EXPECT_FALSE(session->get_setting(settings));
    EXPECT_TRUE(settings.is_null());
}

TEST_F(SessionWithSim, SplitAndDoubledRepliesAreParseErrors)
{
    start_sim();
    ASSERT_TRUE(session->connect(sensor(), local_any()));
    drop_replies(session->command_link());

    sim->set_reply_fault(ReplyFault::split);
    testing::internal::CaptureStderr();
    nlohmann::json stop = {{"command", "stop"}};
    ASSERT_TRUE(session->send_json(stop));
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "json parse error\njson parse error\n");
    EXPECT_EQ(session->command_link().replies_waiting(), 0u);

    sim->set_reply_fault(ReplyFault::doubled);
    testing::internal::CaptureStderr();
    ASSERT_TRUE(session->send_json(stop));
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "json parse error\n");
    EXPECT_EQ(session->command_link().replies_waiting(), 0u);
}

TEST_F(SessionWithSim, AFailedSettingsReplyKeepsTheRoute)
{
    start_sim();
    ASSERT_TRUE(session->connect(sensor(), local_any()));
    sim->set_reply_fault(ReplyFault::invalid_json);
    testing::internal::CaptureStderr();
    ASSERT_TRUE(session->json_read_from_memory());
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "json parse error\n");
    EXPECT_TRUE(session->command_link().settings_reply_expected());

    // The next good reply, whatever it answers, is taken as the settings.
    sim->set_reply_fault(ReplyFault::none);
    const auto before = session->command_link().replies_waiting();
    session->command_link().write_bytes("{\"command\":\"stop\"}", 18);
    ASSERT_TRUE(loopback::wait_for([&] { return session->command_link().settings_waiting() == 1; }));
    EXPECT_EQ(session->command_link().replies_waiting(), before);
    EXPECT_FALSE(session->command_link().settings_reply_expected());
}

TEST_F(SessionWithSim, NotConnectedRunAndStopWriteNothing)
{
    EXPECT_FALSE(session->run());
    EXPECT_TRUE(session->stream().running());
    EXPECT_FALSE(session->run());  // still one worker
    EXPECT_FALSE(session->stop());
    EXPECT_FALSE(session->stream().running());
    EXPECT_FALSE(session->stream().worker_started());
    EXPECT_FALSE(session->stop());  // no worker to join: fine
    EXPECT_EQ(session->last_error(), "not connected");

    // Connected to a plain listener that counts what arrives.
    const int listen_fd = loopback::listener();
    VELKOR::ExtInterface_TCP_client::IpSettings settings("127.0.0.1", 0, "127.0.0.1",
                                                         loopback::local_port(listen_fd), 1000);
    ASSERT_TRUE(session->command_link().connect(settings));
    const int peer = accept(listen_fd, nullptr, nullptr);
    session->command_link().disconnect();
    EXPECT_FALSE(session->run());
    EXPECT_FALSE(session->stop());
    char buf[64];
    EXPECT_EQ(recv(peer, buf, sizeof buf, 0), 0);  // orderly close, no bytes
    close(peer);
    close(listen_fd);
}

TEST_F(SessionWithSim, DisconnectWhileStreamingLeavesTheWorkerToStop)
{
    start_sim();
    ASSERT_TRUE(session->connect(sensor(), local_any()));
    ASSERT_TRUE(session->run());
    session->disconnect();
    EXPECT_TRUE(session->stream().running());
    EXPECT_TRUE(session->stream().worker_started());
    EXPECT_FALSE(session->stop());
    EXPECT_FALSE(session->stream().worker_started());
    EXPECT_FALSE(session->stream().running());
}

TEST_F(SessionWithSim, RefusedConnectFailsFast)
{
    testing::internal::CaptureStdout();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(session->connect({"127.0.0.1", loopback::closed_port()}, local_any()));
    EXPECT_LT(seconds_since(start), 1.5);
    EXPECT_EQ(testing::internal::GetCapturedStdout().rfind("Connect error: ", 0), 0u);
    EXPECT_EQ(session->last_error(), "connection refused");
}

TEST_F(SessionWithSim, UnansweredConnectTimesOut)
{
    loopback::BlackHole hole;
    testing::internal::CaptureStdout();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(session->connect({"127.0.0.1", hole.port}, local_any()));
    const double elapsed = seconds_since(start);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Connect timed out\n");
    EXPECT_EQ(session->last_error(), "connect timed out");
    EXPECT_GT(elapsed, 2.8);
    EXPECT_LT(elapsed, 4.5);
}

TEST_F(SessionWithSim, SilentSensorBoundsTheSettingsWait)
{
    SimOptions options;
    options.reply_fault = ReplyFault::no_reply;
    start_sim(options);
    session->set_reply_timeout(std::chrono::seconds(1));
    testing::internal::CaptureStderr();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(session->connect(sensor(), local_any()));
    const double elapsed = seconds_since(start);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "settings reply timed out\n");
    EXPECT_EQ(session->last_error(), "no reply to json_read within 1 s");
    EXPECT_GT(elapsed, 0.9);
    EXPECT_LT(elapsed, 2.5);
    session->disconnect();
}

// interrupt() from another thread ends a TCP connect that hangs, a settings
// wait, and the scene and reply waits of a connected session at once
// (against their 3 s and 10 s limits), and every later call too.
TEST_F(SessionWithSim, InterruptEndsBlockedCallsAtOnce)
{
    // Returns how long `call` blocked when another thread interrupted it.
    const auto interrupted_after = [](DeviceSession& session, const std::function<bool()>& call) {
        std::thread interrupter([&session] {
            std::this_thread::sleep_for(300ms);
            session.interrupt();
        });
        const auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(call());
        const double elapsed = seconds_since(start);
        interrupter.join();
        EXPECT_EQ(session.last_error(), "interrupted");
        return elapsed;
    };
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    {
        loopback::BlackHole hole;
        DeviceSession hanging;
        EXPECT_LT(interrupted_after(hanging, [&] { return hanging.connect({"127.0.0.1", hole.port}, local_any()); }),
                  1.5);
    }
    SimOptions silent;
    silent.reply_fault = ReplyFault::no_reply;
    start_sim(silent);
    {
        DeviceSession unanswered;
        EXPECT_LT(interrupted_after(unanswered, [&] { return unanswered.connect(sensor(), local_any()); }), 1.5);
    }
    sim->stop();
    start_sim();
    ASSERT_TRUE(session->connect(sensor(), local_any()));
    VELKOR::LidarTQ::scene_t scene;
    nlohmann::json reply;
    EXPECT_LT(interrupted_after(*session, [&] { return session->wait_scene(scene, 10s); }), 1.5);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(session->wait_reply(reply, 10s));
    EXPECT_FALSE(session->wait_setting(reply, 10s));
    EXPECT_FALSE(session->connect(sensor(), local_any()));
    EXPECT_LT(seconds_since(start), 1.0);
    EXPECT_EQ(session->last_error(), "interrupted");
    // The link made before stays up.
    EXPECT_TRUE(session->command_link().connected());
    session->disconnect();
    testing::internal::GetCapturedStdout();
    testing::internal::GetCapturedStderr();
}

TEST_F(SessionWithSim, MalformedWalkErrorParametersDoNotFailConnect)
{
    start_sim();
    const nlohmann::json bad_documents[] = {
        {{"PL_Reg", {{"walk_err_param", {"x", 1, 2, 3, 4, 5}}}}},
        {{"PL_Reg", {{"walk_err_param", {nullptr, {1}, 2}}}}},
        {{"PL_Reg", "not an object"}},
        {{"IP_Setting", {{"tq_ip", "192.168.1.10"}}}},
    };
    for (const auto& document : bad_documents) {
        sim->set_settings(document);
        DeviceSession s;
        EXPECT_TRUE(s.connect(sensor(), local_any())) << document.dump();
        s.disconnect();
    }
}

TEST_F(SessionWithSim, HostileStreamNeverHurtsTheSession)
{
    SimOptions options;
    options.fps = 40.0;
    options.loss_rate = 0.05;
    options.reorder_rate = 0.1;
    options.crc_rate = 0.05;
    options.block_crc_rate = 0.2;
    options.garbage_rate = 0.2;
    start_sim(options);
    ASSERT_TRUE(session->connect(sensor(), local_any()));
    ASSERT_TRUE(session->run());
    VELKOR::LidarTQ::scene_t scene;
    const auto start = std::chrono::steady_clock::now();
    while (seconds_since(start) < 1.5) {
        session->get_scene(scene);
        std::this_thread::sleep_for(5ms);
    }
    EXPECT_GT(sim->datagrams_sent(), 500u);
    EXPECT_TRUE(session->stop());
    session->disconnect();
}

TEST_F(SessionWithSim, DestroyedWhileStreamingEndsEveryThread)
{
    start_sim();
    ASSERT_TRUE(session->connect(sensor(), local_any()));
    ASSERT_TRUE(session->run());
    std::this_thread::sleep_for(50ms);
    session.reset();
    EXPECT_TRUE(loopback::wait_for([&] { return !sim->client_connected(); }));
}

// The sensor's answers reach a LidarTQ caller without polling: each kind of
// reply from its own queue, and a wait that gets nothing says so in time.
TEST_F(SessionWithSim, WaitReplyAndWaitSettingTakeTheAnswersOfTheirCommands)
{
    start_sim();
    VELKOR::LidarTQ lidar;
    nlohmann::json reply;
    EXPECT_FALSE(lidar.wait_setting(reply, 20ms));
    EXPECT_EQ(lidar.last_error(), "no settings reply within 20 ms");

    ASSERT_TRUE(lidar.connect(sensor(), local_any()));
    while (lidar.wait_reply(reply, 0ms)) {
    }
    nlohmann::json change = {{"tq_fps", 20}};
    ASSERT_TRUE(lidar.json_read_from_memory());
    ASSERT_TRUE(lidar.wait_setting(reply, 2s));
    EXPECT_TRUE(reply.contains("PL_Reg")) << reply.dump();
    ASSERT_TRUE(lidar.send_json(change));
    ASSERT_TRUE(lidar.wait_reply(reply, 2s));
    EXPECT_EQ(reply, (nlohmann::json{{"command", "json_write"}, {"result", true}}));
    EXPECT_FALSE(lidar.wait_setting(reply, 0ms));  // the answer went to its own queue

    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(lidar.wait_reply(reply, 50ms));
    const double waited = seconds_since(start);
    EXPECT_GE(waited, 0.05);
    EXPECT_LT(waited, 1.0);  // a loaded host's generous bound
    EXPECT_EQ(lidar.last_error(), "no reply within 50 ms");
    lidar.disconnect();
}

// A settings reply wakes the caller, who may send the next request at once:
// that request's reply must go to the settings queue too, however late the
// receive thread gets to resetting the route of the reply it just routed.
TEST(CommandLinkRoute, BackToBackSettingsRequestsEachGetTheirReply)
{
    TQZ::ErrorText error;
    TQZ::CommandLink link(error);
    VELKOR::BoundedQueue<int> requests(1);
    constexpr int kRequests = 20000;
    std::thread receiver([&] {
        int request = 0;
        for (int k = 0; k < kRequests && requests.pop_for(request, 2s);) {
            ++k;
            link.on_receive("{\"PL_Reg\":{}}", 13);
        }
    });
    int answered = 0;
    nlohmann::json reply;
    for (int k = 0; k < kRequests; ++k) {
        link.expect_settings_reply();
        requests.push(k);
        if (!link.wait_setting(reply, 2s)) {
            break;
        }
        ++answered;
    }
    receiver.join();
    EXPECT_EQ(answered, kRequests);
    EXPECT_EQ(link.replies_waiting(), 0u);
}
