#include "sim_recording.hpp"

#include <vector>

#include "sim_room.hpp"

namespace sim_recording {

recording_files::Bytes room(int frames, double fps, int64_t start_us, uint32_t seed, int ambient_words)
{
    VELKOR::SIM::SimOptions options;
    options.ambient_words = ambient_words;
    options.fps = fps;
    options.seed = seed;
    VELKOR::SIM::SimRoom source(options);
    const int64_t period_us = static_cast<int64_t>(1e6 / fps);
    recording_files::Bytes file;
    std::vector<std::vector<uint8_t>> datagrams;
    for (int f = 0; f < frames; ++f) {
        source.next_frame(datagrams);
        const int64_t frame_us = start_us + f * period_us;
        for (std::size_t i = 0; i < datagrams.size(); ++i) {
            const int64_t at =
                frame_us + period_us * static_cast<int64_t>(i) / static_cast<int64_t>(datagrams.size());
            recording_files::append(file, recording_files::record(at, datagrams[i]));
        }
    }
    return file;
}

bool write_room(const std::string& path, int frames, double fps, uint32_t seed)
{
    return recording_files::write_file(path, room(frames, fps, 1700000000000000, seed));
}

} // namespace sim_recording
