// Datagrams as the stream worker sees them: every chunk of the input is one
// datagram fed to the frame assembler, whose stored rows are filled into a
// scene row by row as the worker fills them. Every other input goes to a
// chain with processing off, for which the worker places the points ahead.
// Each completed frame's scene must equal fill_scene of the frame, and after
// the processing chain (all of it, or only the offset for points placed
// ahead) the scene must equal what the whole chain makes of fill_scene.
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
    // Two chains kept from input to input, as a session keeps one for all
    // its frames: one processing (the default), one raw, taken in turn.
    static TQZ::processing_chain chains[2];
    static bool raw = [] {
        chains[1].set_signal_data_processing(false);
        return false;
    }();
    raw = !raw;
    TQZ::processing_chain& chain = chains[raw ? 1 : 0];
    TQZ::raw_point_recipe recipe;
    TQZ::PointRecipeBox recipes;
    recipes.set(chain.raw_recipe(recipe) ? std::optional<TQZ::raw_point_recipe>(recipe) : std::nullopt);

    std::atomic<uint64_t> slot_mask{0};
    TQZ::FrameAssembler assembler(slot_mask);
    TQZ::ScenePool pool(2);
    TQZ::SceneBuilder builder(pool, &recipes);
    VELKOR::LidarTQ::scene_t scene;
    for (const auto& datagram : VELKOR::FUZZ::split_chunks(data, size)) {
        const TQZ::FrameAssembler::Result result = assembler.feed(datagram.data(), datagram.size());
        if (result != TQZ::FrameAssembler::Result::dropped) {
            builder.row_stored(assembler.range(), TQZ::DatagramView(datagram.data(), datagram.size()).slot());
        }
        if (result == TQZ::FrameAssembler::Result::frame_complete) {
            TQZ::ReadyScene built = builder.finish(assembler.range());
            TQZ::Frame frame = assembler.publish_frame();
            if (frame) {
                TQZ::fill_scene(*frame, scene);
                if (!built.scene || built.scene->depth != scene.depth || built.scene->ambient != scene.ambient ||
                    built.scene->intensity != scene.intensity) {
                    std::abort();
                }
                if (!built.points.placed && !built.points.directions_left && !same_scene(*built.scene, scene)) {
                    std::abort();
                }
                chain.run(scene);
                chain.run(*built.scene, built.points);
                if (!same_scene(*built.scene, scene)) {
                    std::abort();
                }
            }
            pool.give(std::move(built.scene));
        }
    }
    return 0;
}
