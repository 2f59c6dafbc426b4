// The command channel's receive path: every chunk of the input reaches the
// TCP receive callback as one received chunk. The first byte picks the mode
// (JSON replies or raw firmware replies) and the reply route; replies are
// taken off their queues the way connect, send_json and the upload thread
// take them, the settings reply going on to the walk-error parameters.
#include <cstdint>
#include <iostream>

#include <nlohmann/json.hpp>

#include "fuzz_input.hpp"
#include "processing/processing_chain.hpp"
#include "protocol/fw_protocol.hpp"
#include "session/device_session.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    if (size < 1) {
        return 0;
    }
    static TQZ::DeviceSession* session = new TQZ::DeviceSession();
    const uint8_t mode = data[0];
    session->json_mode = (mode & 1) == 0;
    std::string accumulator;
    for (const auto& chunk : VELKOR::FUZZ::split_chunks(data + 1, size - 1)) {
        session->reply_route = (mode & 2) ? 1 : 0;
        std::vector<char> bytes(chunk.begin(), chunk.end());
        TQZ::DeviceSession::tcp_receive_callback(session, bytes.data(), static_cast<unsigned int>(bytes.size()));

        nlohmann::json reply;
        while (session->get_setting(reply)) {
            try {
                session->chain.load_walk_error_parameters(reply);
            } catch (const nlohmann::json::exception&) {
                // connect reports these and goes on; so does this target.
            }
        }
        while (session->general_replies.pop(reply)) {
        }
        TQZ::ByteVector raw;
        while (session->raw_replies.pop(raw)) {
            const TQZ::FwReply parsed = TQZ::parse_fw_reply(raw.data(), raw.size());
            TQZ::fw_is_ack(parsed);
            TQZ::interpret_fw_reply(parsed, accumulator);
        }
    }
    return 0;
}
