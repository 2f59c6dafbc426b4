#include <gtest/gtest.h>

#include <poll.h>

#include <atomic>
#include <cmath>
#include <string>
#include <vector>

#include "api/lidar_tq.hpp"
#include "processing/direction_tables.hpp"
#include "loopback.hpp"
#include "session/device_session.hpp"
#include "sim_room.hpp"
#include "sim_sensor.hpp"

using namespace VELKOR::SIM;
using nlohmann::json;
using namespace std::chrono_literals;

namespace {

// A bare client: a TCP connection to the simulator and a UDP socket on the
// same local port, where the simulator sends its datagrams.
struct RawClient {
    int tcp = -1;
    int udp = -1;

    explicit RawClient(uint16_t port)
    {
        tcp = loopback::bound_socket(SOCK_STREAM);
        const sockaddr_in to = loopback::address(port);
        ::connect(tcp, reinterpret_cast<const sockaddr*>(&to), sizeof to);
        udp = socket(AF_INET, SOCK_DGRAM, 0);
        const int room = 8 << 20;  // a slow (sanitized, loaded) reader must not lose rows
        setsockopt(udp, SOL_SOCKET, SO_RCVBUF, &room, sizeof room);
        const sockaddr_in local = loopback::address(loopback::local_port(tcp));
        bind(udp, reinterpret_cast<const sockaddr*>(&local), sizeof local);
    }
    ~RawClient()
    {
        close(tcp);
        close(udp);
    }
    void send_text(const std::string& text) { ::send(tcp, text.data(), text.size(), 0); }

    // Reads replies until `count` JSON values have arrived or 2 s pass.
    std::vector<json> replies(std::size_t count)
    {
        std::vector<json> out;
        std::string text;
        const auto end = std::chrono::steady_clock::now() + 2s;
        while (out.size() < count && std::chrono::steady_clock::now() < end) {
            pollfd p{tcp, POLLIN, 0};
            if (poll(&p, 1, 50) <= 0) {
                continue;
            }
            char buf[65536];
            const ssize_t n = recv(tcp, buf, sizeof buf, 0);
            if (n <= 0) {
                break;
            }
            text.append(buf, static_cast<std::size_t>(n));
            // Replies are objects; split concatenated ones at "}{".
            std::size_t at;
            while ((at = text.find("}{")) != std::string::npos) {
                out.push_back(json::parse(text.substr(0, at + 1)));
                text.erase(0, at + 1);
            }
            if (json::accept(text)) {
                out.push_back(json::parse(text));
                text.clear();
            }
        }
        return out;
    }

    std::vector<uint8_t> datagram(int timeout_ms = 2000)
    {
        pollfd p{udp, POLLIN, 0};
        if (poll(&p, 1, timeout_ms) <= 0) {
            return {};
        }
        std::vector<uint8_t> d(65536);
        const ssize_t n = recv(udp, d.data(), d.size(), 0);
        d.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
        return d;
    }
};

uint16_t u16(const std::vector<uint8_t>& d, std::size_t at) { return static_cast<uint16_t>(d[at] | (d[at + 1] << 8)); }

SimOptions fast_options()
{
    SimOptions o;
    o.fps = 50.0;
    return o;
}

struct Recorder : RawHandler {
    std::atomic<std::size_t>* bytes;
    explicit Recorder(std::atomic<std::size_t>* b) : bytes(b) {}
    void on_bytes(SimLink& link, const uint8_t*, std::size_t length) override
    {
        *bytes += length;
        link.send("ok", 2);
    }
};

}  // namespace

TEST(SimSensor, AnswersEveryCommand)
{
    SimSensor sim(fast_options());
    ASSERT_TRUE(sim.start());
    RawClient client(sim.port());

    client.send_text(R"({"command":"json_read"})");
    auto r = client.replies(1);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0]["PL_Reg"]["walk_err_param"],
              json({-56548.832, 0.17180148, 56550.078, 0.17181453, 1258.0, 702.8}));
    EXPECT_EQ(r[0]["IP_Setting"]["tq_port"], 2000);

    // Two commands in one send, then one split over two sends.
    client.send_text(R"({"command":"run"}{"command":"stop"})");
    r = client.replies(2);
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0], json({{"command", "run"}, {"result", true}}));
    EXPECT_EQ(r[1], json({{"command", "stop"}, {"result", true}}));
    client.send_text(R"({"IP_Setting":{"tq_ip":"10.)");
    std::this_thread::sleep_for(20ms);
    client.send_text(R"(0.0.7","tq_port":2001}})");
    r = client.replies(1);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0]["result"], true);
    EXPECT_EQ(sim.settings()["IP_Setting"]["tq_ip"], "10.0.0.7");
    EXPECT_EQ(sim.settings()["IP_Setting"]["netmask"], "255.255.255.0");  // merged, not replaced
    EXPECT_EQ(sim.saved_settings()["IP_Setting"]["tq_port"], 2000);

    client.send_text(R"({"command":"json_save"})");
    ASSERT_EQ(client.replies(1).size(), 1u);
    EXPECT_EQ(sim.saved_settings()["IP_Setting"]["tq_port"], 2001);

    client.send_text(R"({"command":"fly"})");
    r = client.replies(1);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0]["result"], false);

    client.send_text(R"({"system_mode":"firmware_upgrade"})");
    r = client.replies(1);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0], json({{"firmware_upgrade", false}}));
}

TEST(SimSensor, FirmwareRequestHandsTheLinkToTheRawHandler)
{
    SimSensor sim(fast_options());
    std::atomic<std::size_t> bytes{0};
    sim.set_raw_handler_factory([&bytes] { return std::make_unique<Recorder>(&bytes); });
    ASSERT_TRUE(sim.start());
    RawClient client(sim.port());
    client.send_text(std::string(R"({"system_mode":"firmware_upgrade"})") + std::string("\x08\0" "FU", 4));
    char buf[64];
    std::string got;
    ASSERT_TRUE(loopback::wait_for([&] {
        const ssize_t n = recv(client.tcp, buf, sizeof buf, MSG_DONTWAIT);
        if (n > 0) {
            got.append(buf, static_cast<std::size_t>(n));
        }
        return got.size() >= 27;
    }));
    EXPECT_EQ(got, "{\"firmware_upgrade\":true}ok");
    EXPECT_EQ(bytes.load(), 4u);
    client.send_text("{\"command\":\"run\"}");  // raw now: not a command any more
    EXPECT_TRUE(loopback::wait_for([&] { return bytes.load() == 21u; }));
    EXPECT_FALSE(sim.streaming());
}

TEST(SimSensor, StreamsRowsInSlotOrderToTheTcpPeerPort)
{
    SimSensor sim(fast_options());
    ASSERT_TRUE(sim.start());
    RawClient client(sim.port());
    client.send_text(R"({"command":"run"})");
    // Rows come in slot order, frame after frame: (frame sequence, slot)
    // strictly increases from datagram to datagram. A loaded machine may
    // drop rows (even a frame's last rows and the next one's first), which
    // leaves that order intact; a row sent early, late or twice breaks it.
    uint64_t previous = 0;
    bool first = true;
    int rows = 0;
    bool saw_last = false;
    while ((rows < 112 || !saw_last) && rows < 560) {
        const auto d = client.datagram(10000);
        ASSERT_GT(d.size(), 1080u);
        const uint32_t sequence = static_cast<uint32_t>(u16(d, 0x00) | (u16(d, 0x02) << 16));
        const int slot = u16(d, 0x04);
        const uint64_t key = (static_cast<uint64_t>(sequence) << 16) | static_cast<uint64_t>(slot);
        if (!first) {
            ASSERT_GT(key, previous) << "frame " << (previous >> 16) << " slot " << (previous & 0xFFFF)
                                     << " then frame " << sequence << " slot " << slot;
        }
        first = false;
        previous = key;
        saw_last = saw_last || slot == 55;
        EXPECT_LT(slot, 56);
        EXPECT_EQ(u16(d, 0xA0), 56);
        EXPECT_EQ(d[0xAF], 0);
        ++rows;
    }
    EXPECT_TRUE(saw_last);
    client.send_text(R"({"command":"stop"})");
    EXPECT_TRUE(loopback::wait_for([&] { return !sim.streaming(); }));
}

TEST(SimSensor, DataFaultsShowInTheDatagrams)
{
    SimOptions o = fast_options();
    o.slots_field = 28;
    o.crc_rate = 1.0;
    SimSensor sim(o);
    ASSERT_TRUE(sim.start());
    RawClient client(sim.port());
    client.send_text(R"({"command":"run"})");
    const auto d = client.datagram();
    ASSERT_GT(d.size(), 1080u);
    EXPECT_EQ(u16(d, 0xA0), 28);
    EXPECT_EQ(d[0xAF], 1);

    sim.set_loss_rate(1.0);
    std::this_thread::sleep_for(100ms);
    while (!client.datagram(50).empty()) {
    }
    EXPECT_TRUE(client.datagram(200).empty());
}

TEST(SimRoom, RawTimesUndoTheHostCorrections)
{
    // The host's order: minus the global offset (float), minus the table,
    // plus the walk correction; the result is the true round trip.
    SimOptions o;
    SimRoom room(o);
    room.time_model.offset_table = [](int row, int col) { return -1.0 + 0.01 * row - 0.002 * col; };
    const float offset_ns = static_cast<float>(4935.0f / 149.896225f);
    for (const uint16_t intensity : {0, 100, 1258, 4000}) {
        for (const double true_ns : {10.0, 33.3, 80.0}) {
            const double raw = room.time_model.raw_ns(true_ns, 3, 150, intensity);
            const double table = -1.0 + 0.03 - 0.3;
            const double host = (static_cast<float>(raw) - offset_ns - static_cast<float>(table)) +
                                room.time_model.walk_correction(intensity);
            EXPECT_NEAR(host, true_ns, 1e-4) << intensity << " " << true_ns;
        }
    }
    EXPECT_NEAR(room.time_model.walk_correction(1258), 1.2461, 1e-3);
    EXPECT_NEAR(room.time_model.walk_correction(0), -0.0553, 1e-3);
}

TEST(SimRoom, FramesAreFullAndTheObjectMoves)
{
    SimOptions o;
    o.fps = 10.0;
    SimRoom room(o);
    const EncoderFrame a = room.render(0);
    const EncoderFrame b = room.render(10);  // one second later
    ASSERT_EQ(a.depth.size(), 56u * 192u);
    int hits = 0;
    int moved = 0;
    for (std::size_t i = 0; i < a.depth.size(); ++i) {
        hits += a.depth[i] > 0 ? 1 : 0;
        moved += a.depth[i] != b.depth[i] ? 1 : 0;
        if (a.depth[i] > 0) {
            EXPECT_GE(a.intensity[i], 40);
        }
    }
    EXPECT_GT(hits, 56 * 192 * 9 / 10);
    EXPECT_GT(moved, 0);
    EXPECT_NE(a.ambient.front(), a.ambient[96]);  // brighter towards the middle
}

TEST(SimEndToEnd, ScenesComeThroughTheApi)
{
    SimSensor sim(fast_options());
    ASSERT_TRUE(sim.start());
    VELKOR::LidarTQ lidar;
    lidar.set_signal_data_processing(false);
    ASSERT_TRUE(lidar.connect({"127.0.0.1", sim.port()}, {"127.0.0.1", 0}));
    ASSERT_TRUE(lidar.run());
    VELKOR::LidarTQ::scene_t scene;
    int scenes = 0;
    const auto end = std::chrono::steady_clock::now() + 5s;
    while (scenes < 5 && std::chrono::steady_clock::now() < end) {
        if (!lidar.get_scene(scene)) {
            std::this_thread::sleep_for(2ms);
            continue;
        }
        ++scenes;
        EXPECT_EQ(scene.rows, 56);
        EXPECT_EQ(scene.cols, 192);
        EXPECT_EQ(scene.depth.size(), 56u * 192u);
        EXPECT_EQ(scene.ambient.size(), 56u * 576u);  // three samples per depth column
        int valid = 0;
        for (const float d : scene.depth) {
            valid += d > 0.0f ? 1 : 0;
        }
        EXPECT_GT(valid, 56 * 192 * 9 / 10);
    }
    EXPECT_EQ(scenes, 5);
    EXPECT_TRUE(lidar.stop());
    lidar.disconnect();
}

// The room comes back: with the whole processing chain on (576 ambient words
// per row, as the sensor sends them), the points of pixels that look at the
// back wall lie on it, to the sensor's 1/16 ns steps and the interpolation
// of the inserted columns.
static void expect_wall_pixels_on_the_back_wall(SimOptions o)
{
    o.ambient_words = 576;
    SimSensor sim(o);
    ASSERT_TRUE(sim.start());
    VELKOR::LidarTQ lidar;
    lidar.set_signal_data_processing(true);
    ASSERT_TRUE(lidar.connect({"127.0.0.1", sim.port()}, {"127.0.0.1", 0}));

    // Pixels looking ahead and up, above the walking object's head, whose ray
    // meets the back wall at every moment of the object's walk.
    const SimRoom room(o);
    std::vector<bool> wall(56 * 192, false);
    int wall_pixels = 0;
    for (int r = 0; r < 56; ++r) {
        for (int c = 0; c < 192; ++c) {
            const double az = TQZ::direction_tables().azimuth[r * 192 + c];
            const double el = TQZ::direction_tables().elevation[r * 192 + c];
            if (std::fabs(az) >= 0.1 || el < 0.15 || el > 0.28) {
                continue;
            }
            bool always = true;
            for (double t = 0.0; t < 4.0 && always; t += 0.05) {
                const double x = room.distance_mm(r, c, t) * std::cos(el) * std::cos(az);
                always = std::fabs(x - SimRoom::kBackWallX) < 1e-6;
            }
            wall[r * 192 + c] = always;
            wall_pixels += always ? 1 : 0;
        }
    }
    ASSERT_GT(wall_pixels, 40);

    ASSERT_TRUE(lidar.run());
    VELKOR::LidarTQ::scene_t scene;
    int scenes = 0;
    const auto end = std::chrono::steady_clock::now() + 10s;
    while (scenes < 3 && std::chrono::steady_clock::now() < end) {
        if (!lidar.get_scene(scene)) {
            std::this_thread::sleep_for(2ms);
            continue;
        }
        ++scenes;
        ASSERT_EQ(scene.cols, 576);
        int on_wall = 0;
        int checked = 0;
        double worst = 0.0;
        for (int r = 0; r < 56; ++r) {
            for (int j = 1; j < 575; ++j) {
                // A measured column of a wall pixel, or an inserted one between two.
                const int c = j / 3;
                const int other = j % 3 == 0 ? c - 1 : j % 3 == 2 ? c + 1 : c;
                if (other < 0 || other >= 192 || !wall[r * 192 + c] || !wall[r * 192 + other]) {
                    continue;
                }
                ++checked;
                const auto& p = scene.pointcloud[r * 576 + j];
                if (scene.depth[r * 576 + j] <= 0.0f) {
                    continue;
                }
                ++on_wall;
                worst = std::max(worst, std::fabs(p.x - SimRoom::kBackWallX));
                EXPECT_NEAR(p.x, SimRoom::kBackWallX, 30.0) << r << "," << j;
            }
        }
        // Every wall return clears the threshold at this range and light.
        EXPECT_EQ(on_wall, checked) << "scene " << scenes;
        EXPECT_LT(worst, 30.0);
    }
    EXPECT_EQ(scenes, 3);
    EXPECT_TRUE(lidar.stop());
    lidar.disconnect();
}

TEST(SimEndToEnd, WallPixelsLandOnTheBackWallWithProcessingOn)
{
    expect_wall_pixels_on_the_back_wall(fast_options());
}

// A sensor calibrated otherwise: its walk error at the wall's intensities is
// some 3 ns (half a metre) away from the default one, so the points land on
// the wall only when the host corrects with the coefficients this sensor
// serves and the simulator's time model applies them.
TEST(SimEndToEnd, WallPixelsLandOnTheBackWallWithTheServedWalkError)
{
    SimOptions o = fast_options();
    o.settings = SimSensor::default_settings();
    o.settings["PL_Reg"]["walk_err_param"] = {-1000.0, 0.1, 1004.0, 0.1, 1258.0, 702.8};
    expect_wall_pixels_on_the_back_wall(o);
}
