// Datagrams as the stream worker sees them: every chunk of the input is one
// datagram fed to the frame assembler; each completed frame is turned into a
// scene and run through the processing chain, as get_scene does.
#include <cstdint>

#include "fuzz_input.hpp"
#include "processing/processing_chain.hpp"
#include "session/frame_assembler.hpp"
#include "session/scene_fill.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    // One chain for every input, as a session keeps one for all its frames.
    static TQZ::processing_chain chain;
    std::atomic<uint64_t> slot_mask{0};
    TQZ::FrameAssembler assembler(slot_mask);
    VELKOR::LidarTQ::scene_t scene;
    for (const auto& datagram : VELKOR::FUZZ::split_chunks(data, size)) {
        if (assembler.feed(datagram.data(), datagram.size()) == TQZ::FrameAssembler::Result::frame_complete) {
            TQZ::Frame frame = assembler.publish_frame();
            if (frame) {
                TQZ::fill_scene(*frame, scene);
                chain.run(scene);
            }
        }
    }
    return 0;
}
