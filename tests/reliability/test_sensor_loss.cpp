// A sensor that goes away mid-stream: the simulator killed as a process, or
// stopped in-process. Afterwards no scene is invented, stop reports the
// failure, disconnect and destruction return at once and leave no thread,
// and the same handle connects to a restarted simulator.
#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <regex>
#include <string>
#include <thread>

#include "api/lidar_tq.hpp"
#include "process_threads.hpp"
#include "recording/logger.hpp"
#include "session/device_session.hpp"
#include "sim_sensor.hpp"
#include "transport/ext_interface_tcp_client.hpp"

extern char** environ;

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

long long elapsed_ms(Clock::time_point since)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count();
}

// `tqz sim` as a child process on 127.0.0.1; port 0 lets the system choose.
class SimProcess {
public:
    bool start(int port)
    {
        int fds[2];
        if (pipe(fds) != 0) {
            return false;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        const std::string port_text = std::to_string(port);
        const char* argv[] = {VELKOR_TQZ_BINARY, "sim",  "--bind", "127.0.0.1", "--port",
                              port_text.c_str(), "--fps", "40",     nullptr};
        const int rc = posix_spawn(&pid_, VELKOR_TQZ_BINARY, &actions, nullptr, const_cast<char**>(argv), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        if (rc != 0) {
            close(fds[0]);
            pid_ = -1;
            return false;
        }
        out_ = fdopen(fds[0], "r");
        char line[128] = {};
        std::cmatch m;
        if (fgets(line, sizeof line, out_) == nullptr ||
            !std::regex_match(line, m, std::regex("listening on 127\\.0\\.0\\.1:([0-9]+)\n"))) {
            return false;
        }
        port_ = std::stoi(m[1]);
        return true;
    }
    void kill_now()
    {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            int status = 0;
            waitpid(pid_, &status, 0);
            pid_ = -1;
        }
    }
    ~SimProcess()
    {
        kill_now();
        if (out_ != nullptr) {
            fclose(out_);
        }
    }
    int port() const { return port_; }

private:
    pid_t pid_ = -1;
    FILE* out_ = nullptr;
    int port_ = 0;
};

template <typename Lidar>
int take_scenes(Lidar& lidar, int wanted, std::chrono::milliseconds patience)
{
    VELKOR::LidarTQ::scene_t scene;
    int got = 0;
    const auto end = Clock::now() + patience;
    while (got < wanted && Clock::now() < end) {
        if (lidar.get_scene(scene)) {
            ++got;
        } else {
            std::this_thread::sleep_for(2ms);
        }
    }
    return got;
}

// After the sensor is gone: what was queued may still come out, then nothing.
template <typename Lidar>
void expect_no_more_scenes(Lidar& lidar)
{
    std::this_thread::sleep_for(200ms);
    VELKOR::LidarTQ::scene_t scene;
    while (lidar.get_scene(scene)) {
    }
    const auto end = Clock::now() + 300ms;
    while (Clock::now() < end) {
        EXPECT_FALSE(lidar.get_scene(scene));
        std::this_thread::sleep_for(10ms);
    }
}

TEST(SensorLoss, KilledSimulatorProcessThenRestarted)
{
    const int baseline = process_threads::baseline();
    auto sim = std::make_unique<SimProcess>();
    ASSERT_TRUE(sim->start(0));
    const int port = sim->port();

    auto lidar = std::make_unique<VELKOR::LidarTQ>();
    lidar->set_signal_data_processing(false);
    ASSERT_TRUE(lidar->connect({"127.0.0.1", port}, {"127.0.0.1", 0}));
    ASSERT_TRUE(lidar->run());
    ASSERT_EQ(take_scenes(*lidar, 3, 10s), 3);

    sim->kill_now();
    expect_no_more_scenes(*lidar);

    auto t = Clock::now();
    EXPECT_FALSE(lidar->stop());
    EXPECT_LT(elapsed_ms(t), 1000);
    // The command channel is gone: nothing can be sent on it.
    nlohmann::json command = {{"command", "json_read"}};
    EXPECT_FALSE(lidar->send_json(command));
    EXPECT_FALSE(lidar->json_read_from_memory());
    t = Clock::now();
    lidar->disconnect();
    EXPECT_LT(elapsed_ms(t), 1000);
    EXPECT_EQ(process_threads::settle_to(baseline), baseline);

    // The same handle, the same port: a restarted sensor is taken up again.
    sim = std::make_unique<SimProcess>();
    ASSERT_TRUE(sim->start(port));
    ASSERT_TRUE(lidar->connect({"127.0.0.1", port}, {"127.0.0.1", 0}));
    ASSERT_TRUE(lidar->run());
    EXPECT_EQ(take_scenes(*lidar, 3, 10s), 3);
    EXPECT_TRUE(lidar->stop());

    // Killed again, and this time the handle is simply destroyed.
    sim->kill_now();
    std::this_thread::sleep_for(100ms);
    t = Clock::now();
    lidar.reset();
    EXPECT_LT(elapsed_ms(t), 1000);
    EXPECT_EQ(process_threads::settle_to(baseline), baseline);
}

TEST(SensorLoss, StoppedInProcessWhileStreamingAndRecording)
{
    VELKOR::SIM::SimOptions options;
    options.fps = 40;
    auto sim = std::make_unique<VELKOR::SIM::SimSensor>(options);
    ASSERT_TRUE(sim->start());
    options.port = sim->port();
    const int baseline = process_threads::baseline();

    auto session = std::make_unique<TQZ::DeviceSession>();
    ASSERT_TRUE(session->connect({"127.0.0.1", options.port}, {"127.0.0.1", 0}));
    const std::string prefix = std::string(VELKOR_TEST_TMP) + "/sensor-loss-";
    ASSERT_TRUE(session->record_start(prefix));
    ASSERT_TRUE(session->run());
    ASSERT_GE(take_scenes(*session, 2, 10s), 2);

    sim->stop();  // closes the command connection and the stream
    expect_no_more_scenes(*session);
    EXPECT_FALSE(session->command_link().connected());
    EXPECT_FALSE(session->stop());
    // Every datagram that arrived is in the file.
    const auto recorder = session->recording().recorder();
    session->record_stop();
    EXPECT_GT(recorder->records_queued(), 0u);
    EXPECT_EQ(recorder->records_written(), recorder->records_queued());
    std::remove(recorder->file_name().c_str());

    auto t = Clock::now();
    session->disconnect();
    EXPECT_LT(elapsed_ms(t), 1000);

    // Restarted on the same port, in a fresh simulator object.
    sim = std::make_unique<VELKOR::SIM::SimSensor>(options);
    ASSERT_TRUE(sim->start());
    ASSERT_TRUE(session->connect({"127.0.0.1", options.port}, {"127.0.0.1", 0}));
    EXPECT_TRUE(session->command_link().connected());
    ASSERT_TRUE(session->run());
    EXPECT_GE(take_scenes(*session, 2, 10s), 2);
    EXPECT_TRUE(session->stop());
    t = Clock::now();
    session.reset();
    EXPECT_LT(elapsed_ms(t), 1000);
    EXPECT_EQ(process_threads::settle_to(baseline), baseline);
}

// The transport itself: a peer that closes ends the receive thread, after
// which the link reports itself down and refuses to send, until a new
// connect - even without a disconnect in between.
TEST(SensorLoss, TcpTransportNoticesThePeerLeaving)
{
    VELKOR::SIM::SimSensor sim;
    ASSERT_TRUE(sim.start());
    VELKOR::ExtInterface_TCP_client tcp;
    VELKOR::ExtInterface_TCP_client::IpSettings settings("127.0.0.1", 0, "127.0.0.1", sim.port(), 1000);
    ASSERT_TRUE(tcp.connect(settings));
    char run[] = "{\"command\":\"run\"}";
    EXPECT_TRUE(tcp.write(run, sizeof run - 1));
    const int port = sim.port();
    sim.stop();

    const auto end = Clock::now() + 2s;
    while (tcp.is_connected() && Clock::now() < end) {
        std::this_thread::sleep_for(5ms);
    }
    EXPECT_FALSE(tcp.is_connected());
    EXPECT_FALSE(tcp.write(run, sizeof run - 1));

    VELKOR::SIM::SimOptions options;
    options.port = port;
    VELKOR::SIM::SimSensor again(options);
    ASSERT_TRUE(again.start());
    VELKOR::ExtInterface_TCP_client::IpSettings fresh("127.0.0.1", 0, "127.0.0.1", port, 1000);
    ASSERT_TRUE(tcp.connect(fresh));
    EXPECT_TRUE(tcp.is_connected());
    EXPECT_TRUE(tcp.write(run, sizeof run - 1));
    const auto until = Clock::now() + 2s;
    while (again.commands_received() == 0 && Clock::now() < until) {
        std::this_thread::sleep_for(5ms);
    }
    EXPECT_EQ(again.commands_received(), 1u);
    tcp.disconnect();
}

}  // namespace
