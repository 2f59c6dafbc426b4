#pragma once

// The files a scene is exported to (pcd, ply, csv): one writer shared by
// `tqz export` and the Python package, so both give the same bytes.

#include <cstdio>
#include <string>

#include "api/lidar_tq.hpp"

namespace VELKOR {
namespace EXPORT {

enum class SceneFormat { pcd, ply, csv };

// "pcd", "ply" or "csv".
const char* extension(SceneFormat format);
// Parses "pcd", "ply" or "csv"; false for anything else.
bool parse_format(const std::string& text, SceneFormat& format);
// The file `tqz export --all` writes for `frame`: prefix, the frame number in
// six digits, the extension ("run_" -> "run_000012.pcd").
std::string frame_file_path(const std::string& prefix, long frame, SceneFormat format);

// Writes every pixel of the scene (a pixel without return as the point
// (0, 0, 0)). pcd: ASCII PCD 0.7, x y z intensity in metres, organised
// rows x cols; ply: ASCII PLY in metres, its comment naming `frame` of
// `source` (a file name; only its last component is written); csv: one line
// per pixel with every value printed so that it reads back exactly.
void write_scene(std::FILE* out, const LidarTQ::scene_t& scene, SceneFormat format, const std::string& source,
                 long frame);
// write_scene into a new file at `path`; false when it cannot be written.
bool write_scene_file(const std::string& path, const LidarTQ::scene_t& scene, SceneFormat format,
                      const std::string& source, long frame);

}  // namespace EXPORT
}  // namespace VELKOR
