// tqz export: writes scenes of a recording as point-cloud or table files.
//
// Frames are replayed through LidarTQ exactly as the viewer replays them
// (play_start, get_scene with an index), so an exported scene is the scene
// the viewer shows: processed, or raw with --raw (the correcting modules off;
// points are generated either way).

#include <cinttypes>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "api/lidar_tq.hpp"
#include "command.hpp"
#include "link_options.hpp"
#include "scene_writer.hpp"

namespace {

const char kName[] = "export";
const char kUsage[] = "export FILE.bin (--frame N | --all) --out PREFIX [--format pcd|ply|csv] [--raw]  "
                      "write scenes of a recording";
const char kHelp[] =
    "Usage: tqz export FILE.bin (--frame N | --all) --out PREFIX [OPTIONS]\n"
    "\n"
    "Replays frames of a recording and writes each scene to a file; prints the\n"
    "path of every file written.\n"
    "\n"
    "Options:\n"
    "  --frame N     frame N of the recording's index (0 is the first)\n"
    "  --all         every frame of the index\n"
    "  --out PREFIX  --frame writes PREFIX.EXT (PREFIX as is when it already\n"
    "                ends in .EXT); --all writes PREFIX followed by the frame\n"
    "                number in six digits: --out scans/run_ gives\n"
    "                scans/run_000000.pcd, scans/run_000001.pcd, ...\n"
    "  --format      pcd (default): ASCII PCD 0.7, fields x y z intensity,\n"
    "                an organised cloud of rows x cols points, metres;\n"
    "                ply: ASCII PLY, vertices x y z intensity, metres;\n"
    "                csv: one line per pixel, header\n"
    "                row,col,depth_ns,intensity,azimuth_rad,elevation_rad,x_mm,y_mm,z_mm\n"
    "                with every value printed so that it reads back exactly\n"
    "  --raw         the scene as assembled, without the correcting modules\n"
    "                (default: processed)\n"
    "\n"
    "Every pixel is written, a pixel without return as the point (0, 0, 0).\n"
    "With --all, frames that do not assemble (rows missing, cut short at the\n"
    "end of the recording) are skipped and named on stderr; the command fails\n"
    "only when no frame could be written.\n"
    "\n"
    "Exit status: 0 when files were written, 1 when none could be, 2 for bad\n"
    "usage.\n";

using VELKOR::EXPORT::SceneFormat;

struct ExportOptions {
    std::string file;
    std::string prefix;
    SceneFormat format = SceneFormat::pcd;
    bool all = false;
    long frame = -1;
    bool raw = false;
};

// Empty string on success, else the error text.
std::string parse(const tqz::Args& args, ExportOptions& o)
{
    bool have_frame = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        std::string value;
        if (arg == "--all") {
            o.all = true;
            continue;
        }
        if (arg == "--raw") {
            o.raw = true;
            continue;
        }
        if (arg.empty() || arg[0] != '-') {
            if (!o.file.empty()) {
                return "one recording at a time ('" + o.file + "' and '" + arg + "')";
            }
            o.file = arg;
            continue;
        }
        if (arg != "--frame" && arg != "--out" && arg != "--format") {
            return "unknown option '" + arg + "'";
        }
        if (!tqz::option_value(args, i, value)) {
            return arg + " needs a value";
        }
        if (arg == "--frame") {
            long long number = 0;
            if (!tqz::parse_whole(value, 0, 2147483647, number)) {
                return tqz::bad_value(arg, "a frame number from 0 to 2147483647", value);
            }
            o.frame = static_cast<long>(number);
            have_frame = true;
        } else if (arg == "--out") {
            o.prefix = value;
        } else if (!VELKOR::EXPORT::parse_format(value, o.format)) {
            return "--format is pcd, ply or csv, not '" + value + "'";
        }
    }
    if (o.file.empty()) {
        return "no recording given (usage: tqz export FILE.bin (--frame N | --all) --out PREFIX)";
    }
    if (have_frame == o.all) {
        return "give --frame N or --all";
    }
    if (o.prefix.empty()) {
        return "--out PREFIX is required";
    }
    return "";
}

std::string output_path(const ExportOptions& o, long frame)
{
    if (o.all) {
        return VELKOR::EXPORT::frame_file_path(o.prefix, frame, o.format);
    }
    const std::string ext = std::string(".") + VELKOR::EXPORT::extension(o.format);
    const bool has_ext =
        o.prefix.size() > ext.size() && o.prefix.compare(o.prefix.size() - ext.size(), ext.size(), ext) == 0;
    return has_ext ? o.prefix : o.prefix + ext;
}

int run_export(const tqz::Args& args)
{
    ExportOptions o;
    const std::string error = parse(args, o);
    if (!error.empty()) {
        return tqz::usage_error(kName, error);
    }
    std::error_code ec;
    if (!std::filesystem::is_regular_file(o.file, ec)) {
        return tqz::fail(kName, std::filesystem::exists(o.file, ec) ? o.file + " is not a regular file"
                                                                    : "cannot open " + o.file);
    }

    tqz::QuietLibraryOutput quiet;
    VELKOR::LidarTQ lidar;
    lidar.set_signal_data_processing(!o.raw);
    if (!lidar.play_start(o.file)) {
        lidar.play_stop();
        return tqz::fail(kName, "cannot open " + o.file);
    }
    uint64_t last = 0;
    lidar.get_file_size(last);
    // The last frame number is the count minus one in 32 bits: an empty
    // index reports 4294967295, which is no frame at all.
    const uint32_t frames = static_cast<uint32_t>(last + 1);
    if (frames == 0) {
        lidar.play_stop();
        return tqz::fail(kName, o.file + " holds no complete frame");
    }
    if (!o.all && static_cast<uint64_t>(o.frame) >= frames) {
        lidar.play_stop();
        return tqz::fail(kName, "frame " + std::to_string(o.frame) + " is not in " + o.file + " (frames 0.." +
                                    std::to_string(frames - 1) + ")");
    }

    const long first = o.all ? 0 : o.frame;
    const long end = o.all ? static_cast<long>(frames) : o.frame + 1;
    VELKOR::LidarTQ::scene_t scene;
    std::vector<long> skipped;
    long written = 0;
    for (long i = first; i < end; ++i) {
        if (!lidar.get_scene(scene, static_cast<int>(i))) {
            if (!o.all) {
                lidar.play_stop();
                return tqz::fail(kName, "frame " + std::to_string(i) + " of " + o.file +
                                            " does not assemble (rows missing or broken)");
            }
            skipped.push_back(i);
            continue;
        }
        const std::string path = output_path(o, i);
        if (!VELKOR::EXPORT::write_scene_file(path, scene, o.format, o.file, i)) {
            lidar.play_stop();
            return tqz::fail(kName, "cannot write " + path);
        }
        std::fprintf(quiet.out, "%s\n", path.c_str());
        ++written;
    }
    lidar.play_stop();

    if (!skipped.empty()) {
        std::string list;
        for (std::size_t k = 0; k < skipped.size() && k < 10; ++k) {
            list += (k ? ", " : "") + std::to_string(skipped[k]);
        }
        if (skipped.size() > 10) {
            list += ", ...";
        }
        std::fprintf(stderr, "tqz export: skipped %zu of %" PRIu32 " frames that do not assemble: %s\n",
                     skipped.size(), frames, list.c_str());
    }
    if (written == 0) {
        return tqz::fail(kName, "no frame of " + o.file + " assembles");
    }
    return 0;
}

const tqz::CommandRegistrar registrar({kName, kUsage, kHelp, &run_export});

} // namespace
