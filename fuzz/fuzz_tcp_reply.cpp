// The command channel's receive path: every chunk of the input reaches the
// TCP receive callback as one received chunk. The first byte picks the mode
// (JSON replies or raw firmware replies) and the reply route; replies are
// taken off their queues the way connect, send_json and the upload thread
// take them, the settings reply going on to the walk-error parameters.
#include <chrono>
#include <cstdint>
#include <iostream>

#include <nlohmann/json.hpp>

#include "fuzz_input.hpp"
#include "processing/processing_chain.hpp"
#include "protocol/fw_protocol.hpp"
#include "session/command_link.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    if (size < 1) {
        return 0;
    }
    // A link that has switched to binary frames stays binary: one link of
    // each kind serves all inputs.
    static TQZ::ErrorText* errors = new TQZ::ErrorText();
    static TQZ::CommandLink* json_link = new TQZ::CommandLink(*errors);
    static TQZ::CommandLink* binary_link = [] {
        auto* link = new TQZ::CommandLink(*errors);
        link->switch_to_binary();
        return link;
    }();
    static TQZ::processing_chain* chain = new TQZ::processing_chain();
    const uint8_t mode = data[0];
    TQZ::CommandLink& link = (mode & 1) == 0 ? *json_link : *binary_link;
    std::string accumulator;
    for (const auto& chunk : VELKOR::FUZZ::split_chunks(data + 1, size - 1)) {
        if (mode & 2) {
            link.expect_settings_reply();
        }
        std::vector<char> bytes(chunk.begin(), chunk.end());
        TQZ::CommandLink::receive_callback(&link, bytes.data(), static_cast<unsigned int>(bytes.size()));

        nlohmann::json reply;
        while (link.take_setting(reply)) {
            try {
                chain->load_walk_error_parameters(reply);
            } catch (const nlohmann::json::exception&) {
                // connect reports these and goes on; so does this target.
            }
        }
        while (link.wait_reply(reply, std::chrono::milliseconds(0))) {
        }
        TQZ::ByteVector raw;
        while (link.wait_binary_reply(raw, std::chrono::milliseconds(0))) {
            const TQZ::FwReply parsed = TQZ::parse_fw_reply(raw.data(), raw.size());
            TQZ::fw_is_ack(parsed);
            TQZ::interpret_fw_reply(parsed, accumulator);
        }
    }
    return 0;
}
