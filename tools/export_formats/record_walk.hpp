#pragma once

// One pass over the records of a `.bin` recording for the tools that
// inspect files: length fields are checked against the file size and
// payloads are skipped, never loaded.

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <string>

#include "recording/logger.hpp"

namespace VELKOR {
namespace EXPORT {

struct RecordWalk {
    bool opened = false;
    uint64_t bytes = 0; // file size
    uint64_t end = 0;   // offset after the last whole record
};

// Calls visit(time_us, length, head) for every whole record, where `head`
// holds the first 6 payload bytes (enough for a row's sequence number) when
// the file has them, else nullptr. Ends at a truncated or over-long record.
template <typename Visit>
RecordWalk walk_records(const std::string& path, Visit visit)
{
    constexpr uint64_t kHeader = VELKOR::Logger::kHeaderSize;
    RecordWalk walk;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return walk;
    }
    walk.opened = true;
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    walk.bytes = size > 0 ? static_cast<uint64_t>(size) : 0;
    unsigned char head[kHeader + 6];
    uint64_t pos = 0;
    while (walk.bytes - pos >= kHeader) {
        const uint64_t left = walk.bytes - pos;
        in.clear();
        in.seekg(static_cast<std::streamoff>(pos));
        const std::size_t want = left >= sizeof head ? sizeof head : kHeader;
        if (!in.read(reinterpret_cast<char*>(head), static_cast<std::streamsize>(want))) {
            break;
        }
        uint64_t time = 0;
        uint64_t length = 0;
        for (int i = 7; i >= 0; --i) {
            time = (time << 8) | head[i];
            length = (length << 8) | head[8 + i];
        }
        if (length > left - kHeader) {
            break;
        }
        pos += kHeader + length;
        visit(static_cast<int64_t>(time), length, want == sizeof head ? head + kHeader : nullptr);
    }
    walk.end = pos;
    return walk;
}

}  // namespace EXPORT
}  // namespace VELKOR
