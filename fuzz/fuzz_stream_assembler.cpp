// Datagrams as the stream worker sees them: every chunk of the input is one
// datagram fed to the frame assembler, whose stored rows are filled into a
// scene row by row as the worker fills them; each completed frame's scene
// must equal fill_scene of the frame, and is run through the processing
// chain, as get_scene does.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "fuzz_input.hpp"
#include "processing/processing_chain.hpp"
#include "session/frame_assembler.hpp"
#include "session/scene_fill.hpp"

namespace {

bool same_scene(const VELKOR::LidarTQ::scene_t& a, const VELKOR::LidarTQ::scene_t& b)
{
    return a.rows == b.rows && a.cols == b.cols && a.ambient == b.ambient && a.depth == b.depth &&
           a.intensity == b.intensity && a.pointcloud.size() == b.pointcloud.size() &&
           // An empty cloud may have no storage: memcmp must not see its null pointer.
           (a.pointcloud.empty() ||
            std::memcmp(a.pointcloud.data(), b.pointcloud.data(),
                       a.pointcloud.size() * sizeof(VELKOR::LidarTQ::point_t)) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    VELKOR::FUZZ::drop_library_lines();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    // One chain for every input, as a session keeps one for all its frames.
    static TQZ::processing_chain chain;
    std::atomic<uint64_t> slot_mask{0};
    TQZ::FrameAssembler assembler(slot_mask);
    TQZ::ScenePool pool(2);
    TQZ::SceneBuilder builder(pool);
    VELKOR::LidarTQ::scene_t scene;
    for (const auto& datagram : VELKOR::FUZZ::split_chunks(data, size)) {
        const TQZ::FrameAssembler::Result result = assembler.feed(datagram.data(), datagram.size());
        if (result != TQZ::FrameAssembler::Result::dropped) {
            builder.row_stored(assembler.range(), TQZ::DatagramView(datagram.data(), datagram.size()).slot());
        }
        if (result == TQZ::FrameAssembler::Result::frame_complete) {
            std::unique_ptr<VELKOR::LidarTQ::scene_t> built = builder.finish(assembler.range());
            TQZ::Frame frame = assembler.publish_frame();
            if (frame) {
                TQZ::fill_scene(*frame, scene);
                if (!built || !same_scene(*built, scene)) {
                    std::abort();
                }
                chain.run(scene);
            }
            pool.give(std::move(built));
        }
    }
    return 0;
}
