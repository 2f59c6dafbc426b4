#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include <pcl/io/pcd_io.h>
#include <pcl/io/ply_io.h>
#include <pcl/point_types.h>

#include "api/lidar_tq.hpp"
#include "recording_files.hpp"
#include "sim_recording.hpp"
#include "tqz_run.hpp"

using tqz_run::lines;
using tqz_run::tqz;

namespace {

constexpr int kWholeFrames = 6;

// Six frames of the simulated room, then a seventh cut off after 20 rows:
// not a frame of the recording.
class TqzExport : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        dir_ = new std::string(recording_files::fresh_dir("tqz_export"));
        file_ = new std::string(*dir_ + "room.bin");
        const recording_files::Bytes whole = sim_recording::room(kWholeFrames + 1, 100.0);
        const std::size_t record = whole.size() / ((kWholeFrames + 1) * 56);
        recording_files::Bytes cut(whole.begin(), whole.end() - static_cast<long>(36 * record));
        ASSERT_TRUE(recording_files::write_file(*file_, cut));
    }
    static void TearDownTestSuite()
    {
        delete dir_;
        delete file_;
    }

    // The scene get_scene replays for `frame`, processed or raw.
    static VELKOR::LidarTQ::scene_t replayed(int frame, bool raw)
    {
        VELKOR::LidarTQ player;
        player.set_signal_data_processing(!raw);
        VELKOR::LidarTQ::scene_t scene;
        EXPECT_TRUE(player.play_start(*file_));
        EXPECT_TRUE(player.get_scene(scene, frame));
        player.play_stop();
        return scene;
    }

    static std::string* dir_;
    static std::string* file_;
};

std::string* TqzExport::dir_ = nullptr;
std::string* TqzExport::file_ = nullptr;

template <typename T> bool same_bits(T a, T b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

std::vector<std::string> split(const std::string& line, char separator)
{
    std::vector<std::string> out;
    std::stringstream in(line);
    std::string field;
    while (std::getline(in, field, separator)) {
        out.push_back(field);
    }
    return out;
}

} // namespace

// Every value of the csv reads back to the very bits of the scene that
// get_scene gives, processed and raw.
TEST_F(TqzExport, CsvValuesReadBackBitForBit)
{
    for (const bool raw : {false, true}) {
        SCOPED_TRACE(raw ? "raw" : "processed");
        const std::string prefix = *dir_ + (raw ? "raw" : "processed");
        const tqz_run::Result r =
            tqz("export " + *file_ + " --frame 2 --out " + prefix + " --format csv" + (raw ? " --raw" : ""));
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, prefix + ".csv\n");
        EXPECT_EQ(r.err, "");

        const VELKOR::LidarTQ::scene_t scene = replayed(2, raw);
        const std::vector<std::string> text = lines(tqz_run::slurp(prefix + ".csv"));
        ASSERT_EQ(text.size(), scene.depth.size() + 1);
        EXPECT_EQ(text[0], "row,col,depth_ns,intensity,azimuth_rad,elevation_rad,x_mm,y_mm,z_mm");
        const std::size_t cols = static_cast<std::size_t>(scene.cols);
        std::size_t mismatches = 0;
        for (std::size_t i = 0; i < scene.depth.size(); ++i) {
            const std::vector<std::string> f = split(text[i + 1], ',');
            ASSERT_EQ(f.size(), 9u) << text[i + 1];
            const auto& p = scene.pointcloud[i];
            const bool same = std::stoul(f[0]) == i / cols && std::stoul(f[1]) == i % cols &&
                              same_bits(std::strtof(f[2].c_str(), nullptr), scene.depth[i]) &&
                              std::stoul(f[3]) == scene.intensity[i] &&
                              same_bits(std::strtod(f[4].c_str(), nullptr), p.azimuth) &&
                              same_bits(std::strtod(f[5].c_str(), nullptr), p.elevation) &&
                              same_bits(std::strtod(f[6].c_str(), nullptr), p.x) &&
                              same_bits(std::strtod(f[7].c_str(), nullptr), p.y) &&
                              same_bits(std::strtod(f[8].c_str(), nullptr), p.z);
            if (!same && ++mismatches < 5) {
                ADD_FAILURE() << "pixel " << i << ": " << text[i + 1];
            }
        }
        EXPECT_EQ(mismatches, 0u);
    }
}

// --all writes prefix + six-digit frame number, skips the frame that does
// not assemble (and says so), and PCL's own reader takes every file as an
// organised cloud of the scene's points, in metres.
TEST_F(TqzExport, AllFramesAsPcdReadByPcl)
{
    const std::string prefix = *dir_ + "pcd/run_";
    std::filesystem::create_directories(*dir_ + "pcd");
    const tqz_run::Result r = tqz("export " + *file_ + " --all --out " + prefix);
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<std::string> expected;
    for (int i = 0; i < kWholeFrames; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "%06d.pcd", i);
        expected.push_back(prefix + name);
    }
    EXPECT_EQ(lines(r.out), expected);
    EXPECT_EQ(r.err, "");

    const VELKOR::LidarTQ::scene_t scene = replayed(4, false);
    pcl::PointCloud<pcl::PointXYZI> cloud;
    ASSERT_EQ(pcl::io::loadPCDFile(expected[4], cloud), 0);
    EXPECT_EQ(cloud.width, static_cast<uint32_t>(scene.cols));
    EXPECT_EQ(cloud.height, 56u);
    ASSERT_EQ(cloud.size(), scene.depth.size());
    std::size_t mismatches = 0;
    for (std::size_t i = 0; i < cloud.size(); ++i) {
        const auto& p = scene.pointcloud[i];
        const auto& q = cloud[i];
        mismatches += q.x == static_cast<float>(p.x / 1000.0) && q.y == static_cast<float>(p.y / 1000.0) &&
                              q.z == static_cast<float>(p.z / 1000.0) && q.intensity == scene.intensity[i]
                          ? 0
                          : 1;
    }
    EXPECT_EQ(mismatches, 0u);
    // The header is the one PCL's ASCII writer produces.
    const std::string text = tqz_run::slurp(expected[4]);
    EXPECT_EQ(text.rfind("# .PCD v0.7 - Point Cloud Data file format\nVERSION 0.7\nFIELDS x y z intensity\n"
                         "SIZE 4 4 4 4\nTYPE F F F F\nCOUNT 1 1 1 1\nWIDTH 192\nHEIGHT 56\n"
                         "VIEWPOINT 0 0 0 1 0 0 0\nPOINTS 10752\nDATA ascii\n",
                         0),
              0u);
}

// The frame the recording cut off is no frame for tqz info, export --all
// (above) or a replay's total (get_file_size, what the viewer shows).
TEST_F(TqzExport, AFrameCutOffIsCountedNowhere)
{
    const tqz_run::Result r = tqz("info " + *file_ + " --json");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(nlohmann::json::parse(r.out)["frames"], kWholeFrames);
    VELKOR::LidarTQ player;
    uint64_t last = 0;
    ASSERT_TRUE(player.play_start(*file_));
    ASSERT_TRUE(player.get_file_size(last));
    EXPECT_EQ(last, static_cast<uint64_t>(kWholeFrames - 1));
}

// With 576 ambient values per row depth completion widens the processed
// scene to 576 columns: the organised cloud and the csv follow it.
TEST_F(TqzExport, WidenedScenesKeepTheirShape)
{
    const std::string wide = *dir_ + "wide.bin";
    ASSERT_TRUE(recording_files::write_file(wide, sim_recording::room(2, 100.0, 1700000000000000, 1, 576)));
    tqz_run::Result r = tqz("export " + wide + " --frame 1 --out " + *dir_ + "wide");
    ASSERT_EQ(r.status, 0) << r.err;
    pcl::PointCloud<pcl::PointXYZI> cloud;
    ASSERT_EQ(pcl::io::loadPCDFile(*dir_ + "wide.pcd", cloud), 0);
    EXPECT_EQ(cloud.width, 576u);
    EXPECT_EQ(cloud.height, 56u);

    r = tqz("export " + wide + " --frame 1 --out " + *dir_ + "wide --format csv");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> text = lines(tqz_run::slurp(*dir_ + "wide.csv"));
    ASSERT_EQ(text.size(), 56u * 576u + 1);
    EXPECT_EQ(text.back().rfind("55,575,", 0), 0u) << text.back();

    r = tqz("export " + wide + " --frame 1 --out " + *dir_ + "wide_raw --format csv --raw");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(lines(tqz_run::slurp(*dir_ + "wide_raw.csv")).size(), 56u * 192u + 1);
}

TEST_F(TqzExport, PlyHasASaneHeaderAndReadsBack)
{
    const std::string prefix = *dir_ + "frame3.ply";
    const tqz_run::Result r = tqz("export " + *file_ + " --frame 3 --out " + prefix + " --format ply");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, prefix + "\n"); // an --out that ends in the extension is taken as it is

    const VELKOR::LidarTQ::scene_t scene = replayed(3, false);
    const std::vector<std::string> text = lines(tqz_run::slurp(prefix));
    const std::vector<std::string> header = {"ply",
                                             "format ascii 1.0",
                                             "comment frame 3 of room.bin, metres",
                                             "element vertex 10752",
                                             "property float x",
                                             "property float y",
                                             "property float z",
                                             "property float intensity",
                                             "end_header"};
    ASSERT_GE(text.size(), header.size());
    EXPECT_EQ(std::vector<std::string>(text.begin(), text.begin() + static_cast<long>(header.size())),
              header);
    EXPECT_EQ(text.size() - header.size(), scene.depth.size());
    EXPECT_EQ(split(text[header.size()], ' ').size(), 4u);

    pcl::PointCloud<pcl::PointXYZI> cloud;
    ASSERT_EQ(pcl::io::loadPLYFile(prefix, cloud), 0);
    ASSERT_EQ(cloud.size(), scene.depth.size());
    EXPECT_EQ(cloud[100].x, static_cast<float>(scene.pointcloud[100].x / 1000.0));
    EXPECT_EQ(cloud[100].intensity, scene.intensity[100]);
}

// Every failure is one line on stderr and exit 1; an empty index is no
// frame, never 4294967295 of them.
TEST_F(TqzExport, FailuresAreOneClearLine)
{
    const std::string empty = *dir_ + "empty.bin";
    const std::string shorts = *dir_ + "short_records.bin";
    ASSERT_TRUE(recording_files::write_file(empty, {}));
    recording_files::Bytes only_short;
    for (int i = 0; i < 3; ++i) {
        recording_files::append(only_short, recording_files::record(i, recording_files::datagram(0, 200)));
    }
    ASSERT_TRUE(recording_files::write_file(shorts, only_short));
    const std::string out = " --out " + *dir_ + "x";
    const struct {
        std::string args;
        int status; // 2: bad usage, 1: failed at run time
        std::string message;
    } cases[] = {
        {"export " + *dir_ + "missing.bin --all" + out, 1, "cannot open " + *dir_ + "missing.bin"},
        {"export " + *dir_ + " --all" + out, 1, *dir_ + " is not a regular file"},
        {"export " + empty + " --all" + out, 1, empty + " holds no complete frame"},
        {"export " + shorts + " --frame 0" + out, 1, shorts + " holds no complete frame"},
        {"export " + *file_ + " --frame 6" + out, 1, "frame 6 is not in " + *file_ + " (frames 0..5)"},
        {"export " + *file_ + out, 2, "give --frame N or --all"},
        {"export " + *file_ + " --all --frame 1" + out, 2, "give --frame N or --all"},
        {"export " + *file_ + " --frame -1" + out, 2,
         "--frame needs a frame number from 0 to 2147483647, not '-1'"},
        {"export " + *file_ + " --frame 1", 2, "--out PREFIX is required"},
        {"export " + *file_ + " --frame 1 --format xyz" + out, 2, "--format is pcd, ply or csv, not 'xyz'"},
        {"export " + *file_ + " --frame 1 --out " + *dir_ + "no/such/dir/x", 1,
         "cannot write " + *dir_ + "no/such/dir/x.pcd"},
    };
    for (const auto& c : cases) {
        const tqz_run::Result r = tqz(c.args);
        EXPECT_EQ(r.status, c.status) << c.args;
        EXPECT_EQ(r.out, "") << c.args;
        EXPECT_EQ(r.err, "tqz export: " + c.message + "\n") << c.args;
        EXPECT_EQ(r.err.find("4294967295"), std::string::npos);
    }
}

TEST_F(TqzExport, HelpNamesTheFilesOfAll)
{
    const tqz_run::Result r = tqz("export --help");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("scans/run_000000.pcd"), std::string::npos) << r.out;
}
