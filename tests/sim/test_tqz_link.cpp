#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <regex>
#include <nlohmann/json.hpp>
#include <algorithm>
#include <memory>
#include <string>

#include "sim_room.hpp"
#include "sim_sensor.hpp"

extern char** environ;

namespace {

struct Result {
    int status = -1;
    std::string out;
};

// Runs a shell command line, capturing stdout; stderr is folded in on request.
Result run(const std::string& command)
{
    Result r;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return r;
    }
    char buf[4096];
    std::size_t n;
    while ((n = fread(buf, 1, sizeof buf, pipe)) > 0) {
        r.out.append(buf, n);
    }
    const int status = pclose(pipe);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

// `tqz sim` in the background on 127.0.0.1 with a system-chosen port.
class TqzSim : public testing::Test {
protected:
    void SetUp() override
    {
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        const char* argv[] = {VELKOR_TQZ_BINARY, "sim", "--bind", "127.0.0.1", "--port", "0", "--fps", "40", nullptr};
        ASSERT_EQ(posix_spawn(&pid_, VELKOR_TQZ_BINARY, &actions, nullptr, const_cast<char**>(argv), environ), 0);
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        out_ = fdopen(fds[0], "r");
        char line[128] = {};
        ASSERT_NE(fgets(line, sizeof line, out_), nullptr);
        std::cmatch m;
        ASSERT_TRUE(std::regex_match(line, m, std::regex("listening on 127\\.0\\.0\\.1:([0-9]+)\n"))) << line;
        port_ = m[1];
    }
    void TearDown() override
    {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            int status = 0;
            waitpid(pid_, &status, 0);
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
            // Exactly one line was ever printed.
            char rest[64];
            EXPECT_EQ(fgets(rest, sizeof rest, out_), nullptr);
        }
        if (out_ != nullptr) {
            fclose(out_);
        }
    }
    std::string tqz(const std::string& args) const
    {
        return std::string(VELKOR_TQZ_BINARY) + " " + args;
    }
    std::string sensor() const { return "--sensor 127.0.0.1:" + port_ + " --local 127.0.0.1"; }

    pid_t pid_ = -1;
    FILE* out_ = nullptr;
    std::string port_;
};

}  // namespace

TEST_F(TqzSim, StreamPrintsOneLinePerScene)
{
    const Result r = run(tqz("stream " + sensor() + " --frames 5 --timeout 10 --raw"));
    EXPECT_EQ(r.status, 0) << r.out;
    const std::regex line("frame ([0-9]+) rows=56 cols=192 valid=([0-9]+) fps=[0-9.]+");
    std::size_t start = 0;
    int n = 0;
    while (start < r.out.size()) {
        const std::size_t end = r.out.find('\n', start);
        std::smatch m;
        const std::string text = r.out.substr(start, end - start);
        ASSERT_TRUE(std::regex_match(text, m, line)) << text;
        EXPECT_EQ(std::stoi(m[1]), ++n);
        EXPECT_GT(std::stoi(m[2]), 0);
        start = end + 1;
    }
    EXPECT_EQ(n, 5);
}

// --timeout bounds the wait for the next scene, not the whole stream: a
// sensor that falls silent after two frames ends it with what arrived.
TEST(Tqz, StreamFailsWhenScenesStopArriving)
{
    struct TwoFrames : VELKOR::SIM::SimRoom {
        using SimRoom::SimRoom;
        int left = 2;
        bool next_frame(std::vector<std::vector<uint8_t>>& datagrams) override
        {
            return left-- > 0 && SimRoom::next_frame(datagrams);
        }
    };
    VELKOR::SIM::SimOptions options;
    options.fps = 40.0;
    VELKOR::SIM::SimSensor sim(options);
    sim.set_datagram_source(std::make_shared<TwoFrames>(options));
    ASSERT_TRUE(sim.start());
    const Result r = run(std::string(VELKOR_TQZ_BINARY) + " stream --sensor 127.0.0.1:" +
                         std::to_string(sim.port()) + " --local 127.0.0.1 --frames 1000 --timeout 0.3 2>&1 >/dev/null");
    sim.stop();
    EXPECT_EQ(r.status, 1);
    // A datagram lost under load may cost one of the two frames.
    EXPECT_TRUE(std::regex_match(r.out, std::regex("tqz stream: only [0-2] of 1000 scenes arrived: none for 0.300 s\n")))
        << r.out;
}

TEST_F(TqzSim, SettingsGetApplySave)
{
    Result r = run(tqz("settings get " + sensor()));
    ASSERT_EQ(r.status, 0) << r.out;
    const auto settings = nlohmann::json::parse(r.out);
    EXPECT_EQ(settings["PL_Reg"]["walk_err_param"].size(), 6u);

    const std::string file = std::string(VELKOR_TEST_TMP) + "/tqz_apply.json";
    std::ofstream(file) << R"({"IP_Setting":{"tq_port":2002}})";
    r = run(tqz("settings apply " + file + " " + sensor()));
    EXPECT_EQ(r.status, 0) << r.out;
    r = run(tqz("settings save " + sensor()));
    EXPECT_EQ(r.status, 0) << r.out;
    r = run(tqz("settings get " + sensor()));
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(nlohmann::json::parse(r.out)["IP_Setting"]["tq_port"], 2002);
}

TEST_F(TqzSim, FirmwareUploadFinishes)
{
    const std::string file = std::string(VELKOR_TEST_TMP) + "/tqz_firmware.bin";
    std::ofstream(file, std::ios::binary) << std::string(3000, 'x');
    const Result r = run(tqz("firmware " + file + " " + sensor()));
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("FW_Upload_Finish!\n"), std::string::npos) << r.out;
}

TEST(Tqz, ErrorsAreOneLineAndNonZero)
{
    const char* cases[] = {
        "stream",
        "stream --sensor 127.0.0.1:notaport",
        "stream --sensor 127.0.0.1:1 --local 127.0.0.1 --frames 1",
        "settings",
        "settings apply --sensor 127.0.0.1",
        "settings apply /no/such/file.json --sensor 127.0.0.1:1",
        "sim --fps 0",
        "sim --bind 127.0.0.1 --bogus 1",
    };
    for (const char* c : cases) {
        const Result r = run(std::string(VELKOR_TQZ_BINARY) + " " + c + " 2>&1");
        EXPECT_NE(r.status, 0) << c;
        EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << c << ": " << r.out;
    }
}
