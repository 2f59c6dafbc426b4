#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace TQZ {

using ByteVector = std::vector<uint8_t>;

// One slot (image row) of a frame. Pixel records are kept back to back in
// their wire layout (20-byte header, then K returns of 24 bytes), so a row
// costs two allocations however many pixels it holds.
struct FrameRow {
    std::vector<uint32_t> ambient;  // decoded 24-bit ambient values
    std::vector<uint8_t> records;   // pixel records, record_size bytes each
    uint32_t record_size = 0;       // 20 + 24 * returns
    uint32_t returns = 0;           // K, returns per record

    std::size_t pixel_count() const { return record_size == 0 ? 0 : records.size() / record_size; }
    const uint8_t* record(std::size_t j) const { return records.data() + j * record_size; }
    // First return of record j: intensity at +0, range integer at +4, fraction at +6.
    const uint8_t* first_return(std::size_t j) const { return record(j) + 20; }
};

// Frame buffers by data kind: range (0, published), echo (1), histogram (2+).
struct _TQ_RANGE_T {
    std::vector<FrameRow> rows;
};
struct _TQ_ECHO_T {
    std::vector<FrameRow> rows;
};
struct _TQ_HIST_T {
    std::vector<FrameRow> rows;
};

// A published frame: an immutable deep copy shared with the queue.
using Frame = std::shared_ptr<const _TQ_RANGE_T>;

}  // namespace TQZ
