#include "protocol/fw_protocol.hpp"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace TQZ {

int64_t fw_packet_count(int64_t size)
{
    if (size <= 0) {
        return 0;
    }
    const auto packet = static_cast<int64_t>(kFwPacketBytes);
    return (size + packet - 1) / packet;
}

bool fw_size_acceptable(int64_t size)
{
    const int64_t packets = fw_packet_count(size);
    return packets > 0 && packets <= kFwMaxPackets;
}

void fw_set_header(VELKOR::_TCP_PROTOCOL_T& frame, uint16_t length, uint8_t main_command,
                   uint8_t sub_command)
{
    const uint8_t le[2] = {static_cast<uint8_t>(length & 0xFF), static_cast<uint8_t>(length >> 8)};
    std::memcpy(&frame.length, le, sizeof(le));
    frame.main_command = main_command;
    frame.sub_command = sub_command;
}

uint16_t fw_length(const VELKOR::_TCP_PROTOCOL_T& frame)
{
    uint8_t le[2];
    std::memcpy(le, &frame.length, sizeof(le));
    return static_cast<uint16_t>(le[0] | (le[1] << 8));
}

void fw_write_prefix(VELKOR::_TCP_PROTOCOL_T& frame, int64_t count)
{
    if (count < 0) {
        count = 0;
    }
    if (count > kFwMaxPackets) {
        count = kFwMaxPackets;
    }
    std::memcpy(frame.payload, "FWUP", 4);
    for (int i = 7; i >= 4; --i) {
        frame.payload[i] = static_cast<uint8_t>('0' + count % 10);
        count /= 10;
    }
}

std::size_t fw_build_start_frame(VELKOR::_TCP_PROTOCOL_T& frame, int64_t packets)
{
    fw_set_header(frame, static_cast<uint16_t>(kFwPrefixBytes), 'F', 'U');
    fw_write_prefix(frame, packets);
    return kFrameHeaderBytes + kFwPrefixBytes;
}

FwReply parse_fw_reply(const uint8_t* data, std::size_t length)
{
    FwReply reply;
    if (data == nullptr || length < kFrameHeaderBytes) {
        return reply;
    }
    reply.has_header = true;
    reply.main_command = data[2];
    reply.sub_command = data[3];
    std::size_t chars = data[0] & 0x0F;
    if (chars > length - kFrameHeaderBytes) {
        chars = length - kFrameHeaderBytes;
    }
    reply.text.assign(reinterpret_cast<const char*>(data + kFrameHeaderBytes), chars);
    return reply;
}

bool fw_is_ack(const FwReply& reply)
{
    return reply.has_header && reply.main_command == 'F' && reply.sub_command == 'A';
}

bool parse_fw_progress(const std::string& text, float& value)
{
    // strtof stops at the first NUL; a text with embedded NULs is read up to it.
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    const float parsed = std::strtof(begin, &end);
    if (end == begin) {
        return false;
    }
    if (errno == ERANGE && std::isinf(parsed)) {
        return false;
    }
    value = parsed;
    return true;
}

namespace {
void fail(FwReplyOutcome& outcome, const char* what)
{
    outcome.status.push_back(std::string("[FirmWare] ") + what);
    outcome.printed.emplace_back(what);
    outcome.ended = true;
}
}  // namespace

FwReplyOutcome interpret_fw_reply(const FwReply& reply, std::string& accumulator)
{
    FwReplyOutcome outcome;
    accumulator += reply.text;
    if (reply.main_command != 'F') {
        fail(outcome, "FW_Upload_Fail_MainCmd_check!");
        return outcome;
    }
    switch (reply.sub_command) {
    case 'R':
    case 'P': {
        float value = 0;
        // A report that is not a number is a failed upload, like an unknown
        // sub command: the sensor's state can no longer be followed.
        if (!parse_fw_progress(accumulator, value)) {
            fail(outcome, "FW_Upload_Fail_SubCmd_check!");
            accumulator.clear();
            return outcome;
        }
        if (reply.sub_command == 'R') {
            outcome.status.push_back("PG" + std::to_string(value * 0.5f));
        } else {
            outcome.status.push_back("PG" + std::to_string(value * 0.5f + 50));
            if (accumulator == "100") {
                outcome.status.emplace_back("FW_Upload_Finish!");
                outcome.printed.emplace_back("FW_Upload_Finish!");
                outcome.ended = true;
                outcome.finished = true;
            }
        }
        accumulator.clear();
        return outcome;
    }
    case 'X':
        fail(outcome, "FW_Upload_Fail!");
        return outcome;
    default:
        fail(outcome, "FW_Upload_Fail_SubCmd_check!");
        return outcome;
    }
}

}  // namespace TQZ
