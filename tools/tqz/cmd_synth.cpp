// tqz synth: encodes synthetic frames as sensor datagrams and takes them
// through the session's stream worker and get_scene, as a live stream would.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "command.hpp"
#include "datagram_encoder.hpp"
#include "session/device_session.hpp"

namespace {

bool parse_count(const std::string& text, long& out)
{
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || value < 0) {
        return false;
    }
    out = value;
    return true;
}

// Waits for the worker to publish the frame; false after `limit`.
bool take_scene(TQZ::DeviceSession& session, TQZ::scene_t& scene, std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!session.get_scene(scene)) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

int run_synth(const tqz::Args& args)
{
    long frames = 10;
    long seed = 1;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool has_value = i + 1 < args.size();
        if (arg == "--frames" && has_value && parse_count(args[i + 1], frames)) {
            ++i;
        } else if (arg == "--seed" && has_value && parse_count(args[i + 1], seed)) {
            ++i;
        } else {
            return tqz::fail("synth", "bad argument '" + arg + "' (usage: tqz synth [--frames N] [--seed S])");
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
            VELKOR::SIM::make_synthetic_frame(static_cast<uint32_t>(n), static_cast<uint32_t>(seed));
        for (int row = 0; row < frame.rows; ++row) {
            VELKOR::SIM::encode_slot_into(frame, row, VELKOR::SIM::EncoderOptions{}, datagram);
            session.packet_queue.push(datagram);
        }
        if (!take_scene(session, scene, std::chrono::seconds(2))) {
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
        return tqz::fail("synth", std::to_string(frames - arrived) + " of " + std::to_string(frames) +
                                      " frames did not arrive");
    }
    return 0;
}

const tqz::CommandRegistrar registrar({"synth", "synth [--frames N] [--seed S]   assemble synthetic frames", run_synth});

}  // namespace
