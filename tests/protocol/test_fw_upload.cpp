#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "session/device_session.hpp"
#include "sim_firmware.hpp"
#include "sim_firmware_handler.hpp"
#include "sim_sensor.hpp"

using VELKOR::SIM::SimFirmware;
using Fault = SimFirmware::Fault;
using Bytes = std::vector<uint8_t>;

namespace {

const char kDone[] = "[Firmware] TQZ::fw_upload_thread_process : Done.";

// The simulated sensor on 127.0.0.1 with its firmware side plugged in; `sim`
// is what the firmware side received.
class FirmwareSensor {
    std::shared_ptr<SimFirmware> firmware_;

public:
    explicit FirmwareSensor(SimFirmware::Options options = {})
        : firmware_(std::make_shared<SimFirmware>(std::move(options))), sim(*firmware_)
    {
        sensor_.set_raw_handler_factory(VELKOR::SIM::firmware_handler_factory(firmware_));
        EXPECT_TRUE(sensor_.start());
        port = sensor_.port();
    }

    ~FirmwareSensor() { sensor_.stop(); }

    SimFirmware& sim;
    int port = 0;

private:
    VELKOR::SIM::SimSensor sensor_;
};

// Collects the texts of the status callback, from whichever thread.
struct StatusLog {
    std::mutex mutex;
    std::vector<std::string> texts;

    static void callback(void* user, std::string message)
    {
        auto* log = static_cast<StatusLog*>(user);
        std::lock_guard<std::mutex> lock(log->mutex);
        log->texts.push_back(std::move(message));
    }

    std::vector<std::string> snapshot()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return texts;
    }

    bool wait_for(const std::string& text, std::chrono::seconds limit = std::chrono::seconds(30))
    {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < deadline) {
            const auto seen = snapshot();
            if (std::find(seen.begin(), seen.end(), text) != seen.end()) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }
};

std::string temp_path(const std::string& name)
{
    return std::string(VELKOR_TEST_TMP) + "/fw_" + name + "_" + std::to_string(::getpid()) + ".bin";
}

Bytes write_image(const std::string& path, std::size_t size)
{
    Bytes image(size);
    for (std::size_t i = 0; i < size; ++i) {
        image[i] = static_cast<uint8_t>((i * 131) ^ (i >> 8));
    }
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(image.data()),
                                                 static_cast<std::streamsize>(image.size()));
    return image;
}

// A session connected to `sensor`, reporting into `log`, with time-outs of
// one second so the failure paths stay quick.
std::unique_ptr<TQZ::DeviceSession> connect_to(FirmwareSensor& sensor, StatusLog* log)
{
    auto session = std::make_unique<TQZ::DeviceSession>();
    session->set_reply_timeout(std::chrono::seconds(1));
    if (log != nullptr) {
        session->register_fw_status_callback(&StatusLog::callback, log);
    }
    const VELKOR::IP_ADDRESS_T remote{"127.0.0.1", sensor.port};
    const VELKOR::IP_ADDRESS_T local{"127.0.0.1", 0};
    EXPECT_TRUE(session->connect(remote, local));
    return session;
}

class FwUploadTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        for (const std::string& path : paths_) {
            std::remove(path.c_str());
        }
    }

    std::string image_file(const std::string& name, std::size_t size, Bytes* image = nullptr)
    {
        paths_.push_back(temp_path(name));
        const Bytes written = write_image(paths_.back(), size);
        if (image != nullptr) {
            *image = written;
        }
        return paths_.back();
    }

    std::vector<std::string> paths_;
};

struct UploadRun {
    bool accepted = false;
    std::vector<std::string> status;
    std::string printed;
};

// Uploads the file at `path` to `sensor` and waits until the upload thread
// is done.
UploadRun upload(FirmwareSensor& sensor, const std::string& path)
{
    StatusLog log;
    UploadRun run;
    {
        auto session = connect_to(sensor, &log);
        testing::internal::CaptureStdout();
        run.accepted = session->tcp_fw_upload(path.c_str());
        if (run.accepted) {
            EXPECT_TRUE(log.wait_for(kDone));
        }
        session->disconnect();
    }
    run.printed = testing::internal::GetCapturedStdout();
    run.status = log.snapshot();
    return run;
}

SimFirmware::Options with_fault(Fault fault)
{
    SimFirmware::Options options;
    options.fault = fault;
    return options;
}

bool printed(const UploadRun& run, const std::string& line) { return run.printed.find(line + "\n") != std::string::npos; }

}  // namespace

TEST_F(FwUploadTest, OnePacketImageIsAnnouncedAsOneAndCarriesZeroZeroZeroZero)
{
    Bytes image;
    const std::string path = image_file("one", 1428, &image);
    FirmwareSensor sensor;
    const UploadRun run = upload(sensor, path);
    ASSERT_TRUE(run.accepted);
    EXPECT_EQ(run.status, (std::vector<std::string>{"PG50.000000", "PG75.000000", "PG100.000000",
                                                     "FW_Upload_Finish!", kDone}));
    EXPECT_EQ(sensor.sim.announced_packets(), 1);
    EXPECT_EQ(sensor.sim.frame_sizes(), (std::vector<std::size_t>{12, 1440}));
    EXPECT_EQ(sensor.sim.image(), image);
    EXPECT_EQ(sensor.sim.state(), SimFirmware::State::programmed);
    EXPECT_TRUE(printed(run, "FW_Upload_Json_Send!"));
    EXPECT_TRUE(printed(run, "TQZ::fw_upload_thread_process : Start."));
    EXPECT_TRUE(printed(run, "FW_Upload_Finish!"));
    EXPECT_TRUE(printed(run, "TQZ::fw_upload_thread_process : Done."));
}

TEST_F(FwUploadTest, TwoPacketImageEndsWithAThirteenByteFrameAndReportsProgress)
{
    Bytes image;
    const std::string path = image_file("two", 1429, &image);
    FirmwareSensor sensor;
    const UploadRun run = upload(sensor, path);
    ASSERT_TRUE(run.accepted);
    // 'R' 50 and 100 while receiving, 'P' 50 and 100 while programming.
    EXPECT_EQ(run.status, (std::vector<std::string>{"PG25.000000", "PG50.000000", "PG75.000000",
                                                     "PG100.000000", "FW_Upload_Finish!", kDone}));
    EXPECT_EQ(sensor.sim.announced_packets(), 2);
    EXPECT_EQ(sensor.sim.frame_sizes(), (std::vector<std::size_t>{12, 1440, 13}));
    EXPECT_EQ(sensor.sim.image(), image);
}

TEST_F(FwUploadTest, LargerImageArrivesByteIdentical)
{
    Bytes image;
    const std::string path = image_file("many", 20 * 1428 + 77, &image);
    FirmwareSensor sensor;
    const UploadRun run = upload(sensor, path);
    ASSERT_TRUE(run.accepted);
    EXPECT_EQ(sensor.sim.announced_packets(), 21);
    EXPECT_EQ(sensor.sim.image(), image);
    EXPECT_EQ(run.status.back(), kDone);
    EXPECT_EQ(run.status[run.status.size() - 2], "FW_Upload_Finish!");
}

TEST_F(FwUploadTest, ImagesOfNoPacketOrTooManyPacketsAreRefusedBeforeAnyFrame)
{
    paths_.push_back(temp_path("huge"));
    std::ofstream(paths_.back(), std::ios::binary).close();
    std::filesystem::resize_file(paths_.back(), 14278573);  // sparse: 10,000 packets
    const std::string empty = image_file("empty", 0);
    for (const std::string& path : {paths_.front(), empty}) {
        FirmwareSensor sensor;
        const UploadRun run = upload(sensor, path);
        EXPECT_FALSE(run.accepted);
        EXPECT_TRUE(printed(run, "FW_Upload_Fail_Data_Size!")) << path;
        EXPECT_TRUE(run.status.empty());
        EXPECT_TRUE(sensor.sim.frame_sizes().empty());
    }
}

TEST_F(FwUploadTest, LargestImageIsAccepted)
{
    // 9999 packets would take minutes to send; only the announcement matters.
    paths_.push_back(temp_path("largest"));
    std::ofstream(paths_.back(), std::ios::binary).close();
    std::filesystem::resize_file(paths_.back(), 14278572);
    FirmwareSensor sensor(with_fault(Fault::refuse));
    const UploadRun run = upload(sensor, paths_.back());
    EXPECT_TRUE(run.accepted);
    EXPECT_EQ(sensor.sim.announced_packets(), 9999);
}

TEST_F(FwUploadTest, MissingFileFailsWithoutTouchingTheSensor)
{
    FirmwareSensor sensor;
    const UploadRun run = upload(sensor, temp_path("missing"));
    EXPECT_FALSE(run.accepted);
    EXPECT_TRUE(printed(run, "FW_Upload_File_Open_Fail!"));
    EXPECT_TRUE(run.status.empty());
    EXPECT_EQ(sensor.sim.state(), SimFirmware::State::waiting_start);

    TQZ::DeviceSession session;
    testing::internal::CaptureStdout();
    EXPECT_FALSE(session.tcp_fw_upload(nullptr));
    EXPECT_NE(testing::internal::GetCapturedStdout().find("FW_Upload_File_Open_Fail!"), std::string::npos);
}

TEST_F(FwUploadTest, UnconnectedSessionFailsAtOnce)
{
    const std::string path = image_file("offline", 100);
    TQZ::DeviceSession session;  // product time-out of 10 s
    StatusLog log;
    session.register_fw_status_callback(&StatusLog::callback, &log);
    const auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(session.tcp_fw_upload(path.c_str()));
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
    EXPECT_EQ(log.snapshot(), std::vector<std::string>{"FW_Upload_Json_Ack_Fail_Time_Out!"});
    EXPECT_FALSE(session.command_link().binary());
}

struct FaultCase {
    const char* name;
    Fault fault;
    bool accepted;
    std::vector<std::string> status;
    const char* printed;
};

void PrintTo(const FaultCase& c, std::ostream* out) { *out << c.name; }

class FwUploadFault : public FwUploadTest, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(FwUploadFault, EndsWithItsTexts)
{
    const FaultCase& c = GetParam();
    FirmwareSensor sensor(with_fault(c.fault));
    const UploadRun run = upload(sensor, image_file(c.name, 3 * 1428));
    EXPECT_EQ(run.accepted, c.accepted);
    EXPECT_EQ(run.status, c.status);
    EXPECT_TRUE(printed(run, c.printed)) << run.printed;
}

INSTANTIATE_TEST_SUITE_P(
    Sensor, FwUploadFault,
    ::testing::Values(
        FaultCase{"json_refuse", Fault::json_refuse, false, {"FW_Upload_Json_Ack_Fail!"}, "FW_Upload_Json_Ack_Fail!"},
        // A member that is no boolean is a refusal, not an exception.
        FaultCase{"json_not_boolean", Fault::json_not_boolean, false, {"FW_Upload_Json_Ack_Fail!"},
                  "FW_Upload_Json_Ack_Fail!"},
        FaultCase{"json_silent", Fault::json_silent, false, {"FW_Upload_Json_Ack_Fail_Time_Out!"},
                  "FW_Upload_Json_Ack_Fail_Time_Out!"},
        FaultCase{"no_ack", Fault::no_ack, true, {kDone}, "FW_Upload_Ack_Fail_Time_Out!"},
        FaultCase{"wrong_main", Fault::wrong_main, true, {"[FirmWare] FW_Upload_Fail_MainCmd_check!", kDone},
                  "FW_Upload_Fail_MainCmd_check!"},
        FaultCase{"wrong_sub", Fault::wrong_sub, true, {"[FirmWare] FW_Upload_Fail_SubCmd_check!", kDone},
                  "FW_Upload_Fail_SubCmd_check!"},
        FaultCase{"refuse", Fault::refuse, true, {"[FirmWare] FW_Upload_Fail!", kDone}, "FW_Upload_Fail!"},
        // A progress text that is no number fails the upload; the process lives on.
        FaultCase{"bad_progress", Fault::bad_progress, true, {"[FirmWare] FW_Upload_Fail_SubCmd_check!", kDone},
                  "FW_Upload_Fail_SubCmd_check!"},
        FaultCase{"silent", Fault::silent_mid_transfer, true, {kDone}, "FW_Upload_Fail_Time_Out!"}),
    [](const ::testing::TestParamInfo<FaultCase>& info) { return std::string(info.param.name); });

TEST_F(FwUploadTest, HundredPointZeroDoesNotFinish)
{
    SimFirmware::Options options;
    options.programming_texts = {"100.0"};
    FirmwareSensor sensor(options);
    const UploadRun run = upload(sensor, image_file("hundred", 1428));
    ASSERT_TRUE(run.accepted);
    EXPECT_EQ(run.status, (std::vector<std::string>{"PG50.000000", "PG100.000000", kDone}));
    EXPECT_TRUE(printed(run, "FW_Upload_Fail_Time_Out!"));
    EXPECT_FALSE(printed(run, "FW_Upload_Finish!"));
}

TEST_F(FwUploadTest, ImageShrinkingUnderTheUploadIsAReadFailure)
{
    const std::string path = image_file("shrinking", 200 * 1428);
    FirmwareSensor sensor;
    StatusLog log;
    auto session = connect_to(sensor, &log);
    testing::internal::CaptureStdout();
    ASSERT_TRUE(session->tcp_fw_upload(path.c_str()));
    std::filesystem::resize_file(path, 0);
    EXPECT_TRUE(log.wait_for(kDone));
    session->disconnect();
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("FW_Upload_Fail_Data_Read!\n"), std::string::npos);
    EXPECT_EQ(log.snapshot().back(), kDone);
}

// A sensor that falls silent mid-transfer, or never acknowledges the start
// frame: disconnect and destruction end the upload thread at once instead of
// waiting out the reply time-out, and the thread never touches the link
// while it closes.
TEST_F(FwUploadTest, DisconnectAndDestructionEndASilentUploadAtOnce)
{
    const std::string path = image_file("silent", 400 * 1428);
    for (const Fault fault : {Fault::silent_mid_transfer, Fault::no_ack}) {
        for (const bool destroy_only : {false, true}) {
            FirmwareSensor sensor(with_fault(fault));
            StatusLog log;
            auto session = connect_to(sensor, &log);
            session->set_reply_timeout(std::chrono::seconds(30));
            testing::internal::CaptureStdout();
            ASSERT_TRUE(session->tcp_fw_upload(path.c_str()));
            // Mid-transfer: a few packets went out; at the start: the start frame did.
            const bool at_start = fault == Fault::no_ack;
            const auto waiting = [&] {
                return at_start ? sensor.sim.announced_packets() >= 0 : sensor.sim.packets_received() >= 3;
            };
            const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
            while (!waiting() && std::chrono::steady_clock::now() < until) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
            EXPECT_TRUE(waiting());
            std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the thread waits for a reply
            const auto start = std::chrono::steady_clock::now();
            if (!destroy_only) {
                session->disconnect();
                EXPECT_FALSE(session->firmware().thread_started());
            }
            session.reset();
            const auto took = std::chrono::steady_clock::now() - start;
            testing::internal::GetCapturedStdout();
            EXPECT_LT(took, std::chrono::seconds(1)) << (destroy_only ? "destruction" : "disconnect");
            EXPECT_EQ(log.snapshot().back(), kDone);
            EXPECT_LT(sensor.sim.packets_received(), 400);
        }
    }
}

TEST_F(FwUploadTest, WithoutACallbackTheUploadRunsTheSameAndOnlyPrints)
{
    Bytes image;
    const std::string path = image_file("quiet", 1429, &image);
    FirmwareSensor sensor;
    testing::internal::CaptureStdout();
    {
        auto session = connect_to(sensor, nullptr);
        ASSERT_TRUE(session->tcp_fw_upload(path.c_str()));
        // The next upload waits for the previous thread before it does
        // anything else; a missing file then ends it at once.
        EXPECT_FALSE(session->tcp_fw_upload(temp_path("absent").c_str()));
    }
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("FW_Upload_Finish!\n"), std::string::npos);
    EXPECT_NE(out.find("TQZ::fw_upload_thread_process : Done.\n"), std::string::npos);
    EXPECT_EQ(sensor.sim.image(), image);
}

TEST_F(FwUploadTest, JsonRepliesStayOffForTheRestOfTheSession)
{
    const std::string path = image_file("after", 1428);
    FirmwareSensor sensor;
    StatusLog log;
    auto session = connect_to(sensor, &log);
    ASSERT_TRUE(session->tcp_fw_upload(path.c_str()));
    ASSERT_TRUE(log.wait_for(kDone));

    // A settings reply arriving now is queued raw, never parsed.
    session->command_link().expect_settings_reply();
    std::string settings = R"({"PL_Reg":{"walk_err_param":[]}})";
    session->command_link().on_receive(settings.data(), settings.size());
    nlohmann::json out = {{"stale", true}};
    EXPECT_FALSE(session->get_setting(out));
    EXPECT_TRUE(out.is_null());
    EXPECT_TRUE(session->command_link().binary());
    session->disconnect();
}

namespace {

// Runs tqz with `args`, returns its exit code and collects its output.
int run_tqz(const std::string& args, std::string& output)
{
    const std::string command = std::string(VELKOR_TQZ_BINARY) + " " + args + " 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return -1;
    }
    char buffer[4096];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof(buffer), pipe)) > 0) {
        output.append(buffer, got);
    }
    const int status = ::pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

TEST_F(FwUploadTest, TqzFirmwarePrintsEachStatusAndExitsZeroOnlyOnFinish)
{
    Bytes image;
    const std::string path = image_file("tqz", 1429, &image);
    {
        FirmwareSensor sensor;
        std::string out;
        EXPECT_EQ(run_tqz("firmware " + path + " --sensor 127.0.0.1:" + std::to_string(sensor.port), out), 0)
            << out;
        const std::size_t progress = out.find("PG25.000000\n");
        const std::size_t finish = out.find("FW_Upload_Finish!\n");
        const std::size_t done = out.find(std::string(kDone) + "\n");
        EXPECT_NE(progress, std::string::npos) << out;
        EXPECT_NE(finish, std::string::npos) << out;
        EXPECT_NE(done, std::string::npos) << out;
        EXPECT_LT(progress, finish);
        EXPECT_LT(finish, done);
        EXPECT_EQ(sensor.sim.image(), image);
    }
    {
        FirmwareSensor sensor(with_fault(Fault::refuse));
        std::string out;
        EXPECT_EQ(run_tqz("firmware " + path + " --sensor 127.0.0.1:" + std::to_string(sensor.port), out), 1)
            << out;
        EXPECT_NE(out.find("[FirmWare] FW_Upload_Fail!\n"), std::string::npos) << out;
    }
    {
        FirmwareSensor sensor(with_fault(Fault::json_refuse));
        std::string out;
        EXPECT_EQ(run_tqz("firmware " + path + " --sensor 127.0.0.1:" + std::to_string(sensor.port), out), 1)
            << out;
        EXPECT_NE(out.find("FW_Upload_Json_Ack_Fail!\n"), std::string::npos) << out;
    }
    std::string out;
    EXPECT_EQ(run_tqz("firmware " + path, out), 2);
    EXPECT_EQ(run_tqz("firmware " + path + " --sensor 127.0.0.1:99999", out), 2);
}
