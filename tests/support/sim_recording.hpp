#pragma once

#include <cstdint>
#include <string>

#include "recording_files.hpp"

namespace sim_recording {

// A recording of `frames` frames of the simulated room, as the recorder
// writes it: one record per datagram, frames `1/fps` s apart and the rows of
// a frame spread evenly over its period, stamps from `start_us`; rows carry
// `ambient_words` ambient values (192, or 576 for scenes that depth
// completion widens).
recording_files::Bytes room(int frames, double fps, int64_t start_us = 1700000000000000, uint32_t seed = 1,
                            int ambient_words = 192);

// Same, written to `path`; false when the file cannot be written.
bool write_room(const std::string& path, int frames, double fps, uint32_t seed = 1);

} // namespace sim_recording
