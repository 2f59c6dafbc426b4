#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "protocol/tcp_protocol.hpp"

// Firmware-upload frames and replies as pure functions over bytes, so the
// upload thread, the simulator and the tests share one reading of them.
namespace TQZ {

constexpr std::size_t kFrameHeaderBytes = 4;   // length (u16 LE), main, sub
constexpr std::size_t kFwPrefixBytes = 8;      // "FWUP" + 4 ASCII digits
constexpr std::size_t kFwPacketBytes = 1428;   // image bytes per data packet
constexpr int64_t kFwMaxPackets = 9999;        // four decimal digits
constexpr std::size_t kFwReplyTextMax = 15;    // low 4 bits of the length field

// Data packets needed for an image of `size` bytes (ceil(size / 1428)).
int64_t fw_packet_count(int64_t size);

// True when an image of `size` bytes can be announced: 1 to 9999 packets.
bool fw_size_acceptable(int64_t size);

// Stores the payload length little-endian and the two command bytes.
void fw_set_header(VELKOR::_TCP_PROTOCOL_T& frame, uint16_t length, uint8_t main_command,
                   uint8_t sub_command);

// Reads the payload length little-endian, whatever the host's byte order.
uint16_t fw_length(const VELKOR::_TCP_PROTOCOL_T& frame);

// Writes "FWUP" and `count` as four decimal digits with leading zeros at the
// start of the payload. count is clamped to 0..9999.
void fw_write_prefix(VELKOR::_TCP_PROTOCOL_T& frame, int64_t count);

// Builds the start frame announcing `packets` data packets; returns the bytes
// to send (12).
std::size_t fw_build_start_frame(VELKOR::_TCP_PROTOCOL_T& frame, int64_t packets);

// One reply of the sensor as the upload reads it. A chunk shorter than the
// 4-byte header has no command bytes: they read as 0, which no check accepts.
struct FwReply {
    bool has_header = false;
    uint8_t main_command = 0;
    uint8_t sub_command = 0;
    std::string text;  // at most 15 characters, never past the chunk
};

FwReply parse_fw_reply(const uint8_t* data, std::size_t length);

// True for the sensor's acknowledgement of the start frame ('F' 'A').
bool fw_is_ack(const FwReply& reply);

// Parses a progress text the way a decimal float conversion does (leading
// blanks skipped, the longest numeric prefix taken). False when no number
// can be read or it does not fit a float; never throws.
bool parse_fw_progress(const std::string& text, float& value);

// What one reply means during the transfer.
struct FwReplyOutcome {
    std::vector<std::string> status;  // texts for the status callback, in order
    std::vector<std::string> printed; // lines for standard output, in order
    bool ended = false;               // the upload is over (finished or failed)
    bool finished = false;            // ended with "FW_Upload_Finish!"
};

// Appends the reply's text to `accumulator` and decides on it; the
// accumulator is cleared after each progress report.
FwReplyOutcome interpret_fw_reply(const FwReply& reply, std::string& accumulator);

}  // namespace TQZ
