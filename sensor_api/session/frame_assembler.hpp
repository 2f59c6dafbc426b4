#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "recording/row_datagram.hpp"
#include "session/frame_types.hpp"

namespace TQZ {

// Read-only, bounds-checked view of one data datagram (one slot of a frame).
// Which datagram is a row, and where its slot number and slots field lie, is
// the row-datagram rule (RowDatagram); the view adds the layout behind them.
// Every accessor checks its offset against the datagram's length; `valid()`
// says whether the datagram is a row and the fixed part and the pixel blocks
// it announces lie inside.
class DatagramView {
public:
    static constexpr std::size_t kHeaderBytes = 0xB0;
    static constexpr std::size_t kGapBytes = 136;

    DatagramView(const uint8_t* data, std::size_t size) : data_(data), size_(data ? size : 0) {}

    // A row, long enough for its fixed part (192 or 576 ambient words) and,
    // when it announces blocks, at least one byte per block.
    bool valid() const;

    uint16_t slot() const { return VELKOR::RowDatagram(data_, size_).slot(); }
    uint8_t data_kind() const { return u8(0x16); }
    uint16_t block_count() const { return u16(0x46); }
    uint16_t block_words() const { return u16(0x48); }
    uint16_t slots() const { return VELKOR::RowDatagram(data_, size_).slots(); }
    uint8_t returns() const { return u8(0xAA); }
    bool packet_error() const { return u8(0xAF) != 0; }

    std::size_t ambient_count() const { return u8(0xA5) == 1 ? 576 : 192; }
    // Appends the 24-bit ambient values (192 or 576) to out; nothing when
    // the ambient section does not fit in the datagram.
    void decode_ambient(std::vector<uint32_t>& out) const;
    // Where the pixel blocks start (E + 136).
    std::size_t pixel_offset() const { return kHeaderBytes + 4 * ambient_count() + kGapBytes; }
    // S: the pixel bytes shared evenly by the blocks (remainder ignored).
    std::size_t block_size() const;

    // One pixel block: S bytes, records in the first W-2 words, error flag
    // in the last byte. Empty (size 0) when k is out of range.
    struct Block {
        const uint8_t* data = nullptr;
        std::size_t size = 0;
        uint16_t words = 0;

        bool error() const { return size > 0 && data[size - 1] != 0; }
        // Records starting below word W-2 that end inside the block.
        std::size_t record_count(std::size_t record_size) const;
    };
    Block block(std::size_t k) const;

    const uint8_t* data() const { return data_; }
    std::size_t size() const { return size_; }

private:
    uint8_t u8(std::size_t at) const { return at < size_ ? data_[at] : 0; }
    uint16_t u16(std::size_t at) const
    {
        return at + 1 < size_ ? static_cast<uint16_t>(data_[at] | (data_[at + 1] << 8)) : 0;
    }

    const uint8_t* data_;
    std::size_t size_;
};

// Flag counts of one assembler's datagrams; read by other threads.
struct assembly_counters {
    std::atomic<uint64_t> emb_crc_errors{0};
    std::atomic<uint64_t> act_crc_errors{0};
};

// The slot-by-slot state machine that turns datagrams into frames. The stream
// worker and the replay assembler both drive one; it owns the three frame
// buffers (range, echo, histogram) and expected_slot, and shares slot_mask
// with the session. Buffers are reused frame after frame, so steady-state
// assembly allocates nothing.
class FrameAssembler {
public:
    // Rows a frame can hold: the width of slot_mask. A slot at or above the
    // rows given at slot 0 is never stored.
    static constexpr int kMaxRows = 64;
    static constexpr uint64_t kCompleteMask = 0x00FFFFFFFFFFFFFFull;  // slots 0-55

    enum class Result {
        dropped,          // too short, flagged, out of sequence or out of range
        stored,           // slot taken into the frame buffers
        frame_complete,   // last slot of a complete range frame: take it with publish_frame()
        other_complete,   // last slot of a complete echo or histogram frame (never published)
        frame_incomplete  // last slot reached with slots missing
    };

    explicit FrameAssembler(std::atomic<uint64_t>& slot_mask, assembly_counters* counters = nullptr);

    // Takes one datagram. Logs "emb crc err!!!" for a flagged packet and
    // "act crc err!!!" for each flagged block, whose columns are kept as
    // pixels without a return so that every other pixel stays in its column;
    // a complete mask is cleared here, and the caller reports an incomplete
    // one as it sees fit (a slots field above kMaxRows ends its frame as
    // incomplete at the first slot that cannot be stored).
    Result feed(const uint8_t* data, std::size_t size);

    // Hands out the completed range frame after frame_complete. The frame is
    // the caller's alone from then on: the assembler goes on in storage of a
    // pooled frame that no queue or caller holds any more (or in fresh
    // storage), so a steady stream neither allocates nor copies a frame.
    Frame publish_frame();
    const _TQ_RANGE_T& range() const { return range_; }
    uint16_t expected_slot() const { return expected_slot_; }

private:
    void start_frame(int rows);
    std::vector<FrameRow>& rows_for_kind(uint8_t kind);
    // Checks every block's flag; appends the good blocks' records to
    // records_row unless it is null.
    void decode_blocks(const DatagramView& view, FrameRow* records_row) const;

    std::atomic<uint64_t>& slot_mask_;
    assembly_counters* counters_;
    uint16_t expected_slot_ = 0;
    _TQ_RANGE_T range_;
    _TQ_ECHO_T echo_;
    _TQ_HIST_T hist_;
    std::vector<std::shared_ptr<_TQ_RANGE_T>> pool_;
};

}  // namespace TQZ
