#pragma once

#include <cstdint>

namespace VELKOR {

#pragma pack(push, 1)
// Binary command frame of the firmware upload, little-endian on the wire.
// A frame is sent as its first length + 4 bytes.
struct _TCP_PROTOCOL_T {
    uint16_t length;        // payload bytes after the 4-byte header
    uint8_t main_command;   // 'F' for firmware
    uint8_t sub_command;    // 'U' upload frame; replies 'A', 'R', 'P', 'X'
    uint8_t payload[65531];

    _TCP_PROTOCOL_T& operator=(const _TCP_PROTOCOL_T& other);
    _TCP_PROTOCOL_T& operator=(_TCP_PROTOCOL_T&& other) noexcept;
};
#pragma pack(pop)

static_assert(sizeof(_TCP_PROTOCOL_T) == 65535, "the frame buffer is exactly 65,535 bytes");

}  // namespace VELKOR
