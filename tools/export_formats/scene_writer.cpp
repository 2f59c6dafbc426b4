#include "scene_writer.hpp"

#include <algorithm>
#include <filesystem>

namespace VELKOR {
namespace EXPORT {

namespace {

// The scene's image size as its vectors hold it: rows x cols when they fit,
// else one row.
void image_size(const LidarTQ::scene_t& scene, std::size_t points, std::size_t& width, std::size_t& height)
{
    height = scene.rows > 0 ? static_cast<std::size_t>(scene.rows) : 1;
    if (points == 0 || points % height != 0) {
        height = 1;
    }
    width = points / height;
}

std::size_t point_count(const LidarTQ::scene_t& scene)
{
    std::size_t n = scene.depth.size();
    n = std::min(n, scene.intensity.size());
    return std::min(n, scene.pointcloud.size());
}

// mm to the metres point-cloud tools expect.
float metres(double mm)
{
    return static_cast<float>(mm / 1000.0);
}

void write_points(std::FILE* out, const LidarTQ::scene_t& scene, std::size_t n)
{
    for (std::size_t i = 0; i < n; ++i) {
        const auto& p = scene.pointcloud[i];
        std::fprintf(out, "%.9g %.9g %.9g %.9g\n", metres(p.x), metres(p.y), metres(p.z),
                     static_cast<float>(scene.intensity[i]));
    }
}

void write_pcd(std::FILE* out, const LidarTQ::scene_t& scene)
{
    const std::size_t n = point_count(scene);
    std::size_t width = 0;
    std::size_t height = 0;
    image_size(scene, n, width, height);
    std::fprintf(out,
                 "# .PCD v0.7 - Point Cloud Data file format\n"
                 "VERSION 0.7\n"
                 "FIELDS x y z intensity\n"
                 "SIZE 4 4 4 4\n"
                 "TYPE F F F F\n"
                 "COUNT 1 1 1 1\n"
                 "WIDTH %zu\n"
                 "HEIGHT %zu\n"
                 "VIEWPOINT 0 0 0 1 0 0 0\n"
                 "POINTS %zu\n"
                 "DATA ascii\n",
                 width, height, n);
    write_points(out, scene, n);
}

void write_ply(std::FILE* out, const LidarTQ::scene_t& scene, const std::string& source, long frame)
{
    const std::size_t n = point_count(scene);
    std::fprintf(out,
                 "ply\n"
                 "format ascii 1.0\n"
                 "comment frame %ld of %s, metres\n"
                 "element vertex %zu\n"
                 "property float x\n"
                 "property float y\n"
                 "property float z\n"
                 "property float intensity\n"
                 "end_header\n",
                 frame, std::filesystem::path(source).filename().string().c_str(), n);
    write_points(out, scene, n);
}

// %.9g for floats and %.17g for doubles: enough digits that every value
// reads back to the same bits.
void write_csv(std::FILE* out, const LidarTQ::scene_t& scene)
{
    const std::size_t n = point_count(scene);
    std::size_t width = 0;
    std::size_t height = 0;
    image_size(scene, n, width, height);
    std::fputs("row,col,depth_ns,intensity,azimuth_rad,elevation_rad,x_mm,y_mm,z_mm\n", out);
    for (std::size_t i = 0; i < n; ++i) {
        const auto& p = scene.pointcloud[i];
        std::fprintf(out, "%zu,%zu,%.9g,%u,%.17g,%.17g,%.17g,%.17g,%.17g\n", i / width, i % width,
                     static_cast<double>(scene.depth[i]), static_cast<unsigned>(scene.intensity[i]), p.azimuth,
                     p.elevation, p.x, p.y, p.z);
    }
}

}  // namespace

const char* extension(SceneFormat format)
{
    switch (format) {
    case SceneFormat::ply:
        return "ply";
    case SceneFormat::csv:
        return "csv";
    case SceneFormat::pcd:
        break;
    }
    return "pcd";
}

bool parse_format(const std::string& text, SceneFormat& format)
{
    for (SceneFormat f : {SceneFormat::pcd, SceneFormat::ply, SceneFormat::csv}) {
        if (text == extension(f)) {
            format = f;
            return true;
        }
    }
    return false;
}

std::string frame_file_path(const std::string& prefix, long frame, SceneFormat format)
{
    char number[32];
    std::snprintf(number, sizeof number, "%06ld", frame);
    return prefix + number + "." + extension(format);
}

void write_scene(std::FILE* out, const LidarTQ::scene_t& scene, SceneFormat format, const std::string& source,
                 long frame)
{
    switch (format) {
    case SceneFormat::pcd:
        write_pcd(out, scene);
        break;
    case SceneFormat::ply:
        write_ply(out, scene, source, frame);
        break;
    case SceneFormat::csv:
        write_csv(out, scene);
        break;
    }
}

bool write_scene_file(const std::string& path, const LidarTQ::scene_t& scene, SceneFormat format,
                      const std::string& source, long frame)
{
    std::FILE* out = std::fopen(path.c_str(), "w");
    if (out == nullptr) {
        return false;
    }
    write_scene(out, scene, format, source, frame);
    const bool failed = std::ferror(out) != 0;
    return std::fclose(out) == 0 && !failed;
}

}  // namespace EXPORT
}  // namespace VELKOR
