#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Helpers that build `.bin` recordings byte by byte, independent of Logger,
// so reader tests and benchmarks control every record exactly.
namespace recording_files {

using Bytes = std::vector<uint8_t>;

// A payload of `size` bytes whose frame sequence number (u16 LE at offset 4)
// is `sequence` and whose slots field (u16 LE at 0xA0, rows per frame) is
// `slots`; the other bytes are a pattern derived from `tag`.
Bytes datagram(uint16_t sequence, std::size_t size = 1200, uint32_t tag = 0, uint16_t slots = 56);

// One record: i64 time (us), u64 length, payload.
Bytes record(int64_t time_us, const Bytes& payload);
// A record header announcing `length` bytes, without payload.
Bytes header(int64_t time_us, uint64_t length);

void append(Bytes& file, const Bytes& more);
bool write_file(const std::string& path, const Bytes& bytes);
Bytes read_file(const std::string& path);

// A fresh, empty directory below /tmp for this process, ending in '/'.
std::string fresh_dir(const std::string& name);

}  // namespace recording_files
