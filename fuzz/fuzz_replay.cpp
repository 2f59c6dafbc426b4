// A recording replayed through the public handle: the input is the `.bin`
// file itself. play_start scans it; every indexed frame (and a few indices
// around the index's ends) is assembled and processed by get_scene.
#include <cstdint>

#include "api/lidar_tq.hpp"
#include "fuzz_input.hpp"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    VELKOR::FUZZ::drop_library_lines();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    static VELKOR::FUZZ::InputFile file("replay.bin");
    VELKOR::LidarTQ lidar;
    if (!lidar.play_start(file.write(data, size))) {
        return 0;
    }
    uint64_t last = 0;
    lidar.get_file_size(last);
    // 4294967295 means an empty index; -1 then asks for nothing valid.
    const int frames = last == 0xFFFFFFFFull ? 0 : static_cast<int>(last + 1);
    VELKOR::LidarTQ::scene_t scene;
    for (int index = -1; index <= frames && index < 64; ++index) {
        lidar.get_scene(scene, index);
    }
    lidar.get_scene(scene, frames + 7);
    lidar.play_stop();
    return 0;
}
