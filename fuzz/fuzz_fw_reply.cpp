// The firmware reply parser: every chunk of the input is one reply as the
// upload thread receives it, read and judged in order with one accumulator.
#include <cstdint>

#include "fuzz_input.hpp"
#include "protocol/fw_protocol.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    std::string accumulator;
    for (const auto& chunk : VELKOR::FUZZ::split_chunks(data, size)) {
        const TQZ::FwReply reply = TQZ::parse_fw_reply(chunk.data(), chunk.size());
        if (reply.text.size() > TQZ::kFwReplyTextMax || reply.text.size() > chunk.size()) {
            __builtin_trap();
        }
        TQZ::fw_is_ack(reply);
        const TQZ::FwReplyOutcome outcome = TQZ::interpret_fw_reply(reply, accumulator);
        if (outcome.finished && !outcome.ended) {
            __builtin_trap();
        }
        float value = 0.0f;
        TQZ::parse_fw_progress(reply.text, value);
        TQZ::parse_fw_progress(accumulator, value);
    }
    return 0;
}
