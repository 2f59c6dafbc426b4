// tqz synth: encodes synthetic frames as sensor datagrams and takes them
// through the session's stream worker and get_scene, as a live stream would.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "command.hpp"
#include "option_parsing.hpp"
#include "datagram_encoder.hpp"
#include "session/device_session.hpp"

namespace {

const char kName[] = "synth";
const char kHelp[] = "Usage: tqz synth [OPTIONS]\n"
                     "\n"
                     "Encodes synthetic frames as sensor datagrams and assembles them through\n"
                     "the session's stream worker, without a network; prints one line per frame.\n"
                     "\n"
                     "Options:\n"
                     "  --frames N  how many frames (default 10)\n"
                     "  --seed S    seed of the synthetic scene, 0 to 4294967295 (default 1)\n"
                     "\n"
                     "Exit status: 0 when every frame arrived, 1 when one did not, 2 for bad\n"
                     "usage.\n";

int run_synth(const tqz::Args& args)
{
    long frames = 10;
    uint32_t seed = 1;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        std::string value;
        if (arg != "--frames" && arg != "--seed") {
            return tqz::usage_error(kName, "unknown option '" + arg + "'");
        }
        if (!tqz::option_value(args, i, value)) {
            return tqz::usage_error(kName, arg + " needs a value");
        }
        const std::string error =
            arg == "--frames" ? tqz::parse_count(arg, value, frames) : tqz::parse_seed(arg, value, seed);
        if (!error.empty()) {
            return tqz::usage_error(kName, error);
        }
    }

    // No sensor is connected: run() only starts the stream worker.
    TQZ::DeviceSession session;
    session.run();
    TQZ::scene_t scene;
    std::vector<uint8_t> datagram;
    long arrived = 0;
    for (long n = 0; n < frames; ++n) {
        const VELKOR::SIM::EncoderFrame frame =
            VELKOR::SIM::make_synthetic_frame(static_cast<uint32_t>(n), seed);
        for (int row = 0; row < frame.rows; ++row) {
            VELKOR::SIM::encode_slot_into(frame, row, VELKOR::SIM::EncoderOptions{}, datagram);
            session.stream().receive(datagram.data(), datagram.size());
        }
        if (!session.wait_scene(scene, std::chrono::seconds(2))) {
            std::printf("frame %ld missing\n", n);
            continue;
        }
        long valid = 0;
        for (float depth : scene.depth) {
            valid += depth > 0.0f ? 1 : 0;
        }
        std::printf("frame %ld rows=%d cols=%d valid=%ld\n", n, scene.rows, scene.cols, valid);
        ++arrived;
    }
    session.stop();
    if (arrived != frames) {
        return tqz::fail(kName, std::to_string(frames - arrived) + " of " + std::to_string(frames) +
                                      " frames did not arrive");
    }
    return 0;
}

const tqz::CommandRegistrar registrar({kName, "synth [--frames N] [--seed S]  assemble synthetic frames", kHelp,
                                       run_synth});

}  // namespace
