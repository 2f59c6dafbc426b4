#include "session/frame_assembler.hpp"

#include <algorithm>
#include <iostream>
#include "util/log_sink.hpp"

namespace TQZ {

namespace {

constexpr std::size_t kRecordHeaderBytes = 20;
constexpr std::size_t kReturnBytes = 24;
constexpr int kReservedRows = 56;
// Frames in flight: three in frame_queue, one with the caller, one being filled.
constexpr std::size_t kPoolFrames = 6;

template <typename Buffer>
void reset_rows(Buffer& buffer, int rows)
{
    buffer.rows.resize(static_cast<std::size_t>(rows));
    for (FrameRow& row : buffer.rows) {
        row.ambient.clear();
        row.records.clear();
        row.record_size = 0;
        row.returns = 0;
    }
}

}  // namespace

bool DatagramView::valid() const
{
    if (!VELKOR::RowDatagram::is_row(size_) || size_ < pixel_offset()) {
        return false;
    }
    return block_count() == 0 || block_size() > 0;
}

void DatagramView::decode_ambient(std::vector<uint32_t>& out) const
{
    const std::size_t count = ambient_count();
    if (size_ < kHeaderBytes + 4 * count) {
        return;
    }
    const std::size_t first = out.size();
    out.resize(first + count);
    const uint8_t* word = data_ + kHeaderBytes;
    for (std::size_t i = 0; i < count; ++i, word += 4) {
        const uint32_t low = (word[0] | (word[1] << 8)) & 0x0FFFu;
        const uint32_t high = (word[2] | (word[3] << 8)) & 0x0FFFu;
        out[first + i] = (high << 12) | low;
    }
}

std::size_t DatagramView::block_size() const
{
    const std::size_t start = pixel_offset();
    const std::size_t blocks = block_count();
    if (blocks == 0 || size_ <= start) {
        return 0;
    }
    return (size_ - start) / blocks;
}

DatagramView::Block DatagramView::block(std::size_t k) const
{
    const std::size_t s = block_size();
    if (k >= block_count() || s == 0) {
        return {};
    }
    const std::size_t start = pixel_offset() + k * s;
    if (start + s > size_) {
        return {};
    }
    return Block{data_ + start, s, block_words()};
}

std::size_t DatagramView::Block::record_count(std::size_t record_size) const
{
    if (record_size == 0 || words < 2) {
        return 0;
    }
    // A record is read when it starts below word W-2, and only if it ends
    // inside the block: a W that overstates the block is not followed.
    const std::size_t area = (static_cast<std::size_t>(words) - 2) * 2;
    const std::size_t by_start = (area + record_size - 1) / record_size;
    const std::size_t by_size = size / record_size;
    return std::min(by_start, by_size);
}

FrameAssembler::FrameAssembler(std::atomic<uint64_t>& slot_mask, assembly_counters* counters)
    : slot_mask_(slot_mask), counters_(counters)
{
    range_.rows.reserve(kReservedRows);
    echo_.rows.reserve(kReservedRows);
    hist_.rows.reserve(kReservedRows);
}

void FrameAssembler::start_frame(int rows)
{
    reset_rows(range_, rows);
    reset_rows(echo_, rows);
    reset_rows(hist_, rows);
}

std::vector<FrameRow>& FrameAssembler::rows_for_kind(uint8_t kind)
{
    if (kind == 0) {
        return range_.rows;
    }
    return kind == 1 ? echo_.rows : hist_.rows;
}

void FrameAssembler::decode_blocks(const DatagramView& view, FrameRow* records_row) const
{
    const uint32_t record_size = static_cast<uint32_t>(kRecordHeaderBytes + kReturnBytes * view.returns());
    if (records_row && records_row->record_size != record_size) {
        records_row->records.clear();
        records_row->record_size = record_size;
        records_row->returns = view.returns();
    }
    for (std::size_t k = 0; k < view.block_count(); ++k) {
        const DatagramView::Block block = view.block(k);
        const std::size_t bytes = block.record_count(record_size) * record_size;
        if (block.error()) {
            VELKOR::LogLine(VELKOR::log_level::warning, VELKOR::log_stream::out) << "act crc err!!!";
            if (counters_) {
                counters_->act_crc_errors.fetch_add(1, std::memory_order_relaxed);
            }
            // The block's pixels hold no return (all-zero records); the
            // records after it keep their columns.
            if (records_row) {
                records_row->records.insert(records_row->records.end(), bytes, uint8_t{0});
            }
            continue;
        }
        if (records_row) {
            records_row->records.insert(records_row->records.end(), block.data, block.data + bytes);
        }
    }
}

FrameAssembler::Result FrameAssembler::feed(const uint8_t* data, std::size_t size)
{
    const DatagramView view(data, size);
    if (!view.valid()) {
        return Result::dropped;
    }
    if (view.packet_error()) {
        VELKOR::LogLine(VELKOR::log_level::warning, VELKOR::log_stream::out) << "emb crc err!!!";
        if (counters_) {
            counters_->emb_crc_errors.fetch_add(1, std::memory_order_relaxed);
        }
        return Result::dropped;
    }
    const uint16_t slot = view.slot();
    // Slot 0 always begins a frame: a frame that lost its last rows must not
    // cost the whole next frame as well (waiting for slot 0 would otherwise
    // begin only after that frame's own slot 0 was dropped as out of turn).
    if (slot != expected_slot_ && slot != 0) {
        expected_slot_ = 0;
        return Result::dropped;
    }
    const int slots = view.slots();
    const uint16_t next = slot < slots - 1 ? static_cast<uint16_t>(slot + 1) : 0;
    if (slot == 0) {
        slot_mask_ = 0;
        start_frame(std::min(slots, kMaxRows));
    }

    const uint8_t kind = view.data_kind();
    std::vector<FrameRow>& rows = rows_for_kind(kind);
    // Only a slots field that changed within the frame gets here.
    if (slot >= rows.size()) {
        expected_slot_ = 0;
        // A frame announced with more slots than a frame can hold ends here,
        // lost like any frame whose slots did not all arrive.
        return slots > kMaxRows && slot == kMaxRows ? Result::frame_incomplete : Result::dropped;
    }

    FrameRow& row = rows[slot];
    view.decode_ambient(row.ambient);
    // Pixel records are decoded for range data only; other kinds keep their ambient words.
    decode_blocks(view, kind == 0 ? &row : nullptr);

    if (slot < 64) {
        slot_mask_.fetch_or(uint64_t{1} << slot);
    }
    expected_slot_ = next;
    if (slot != slots - 1) {
        return Result::stored;
    }
    if (slot_mask_.load() != kCompleteMask) {
        return Result::frame_incomplete;
    }
    slot_mask_ = 0;
    return kind == 0 ? Result::frame_complete : Result::other_complete;
}

Frame FrameAssembler::publish_frame()
{
    std::shared_ptr<_TQ_RANGE_T> out;
    for (const std::shared_ptr<_TQ_RANGE_T>& frame : pool_) {
        if (frame.use_count() == 1) {
            // The last other owner let go with a release decrement; acquire
            // its reads before this storage is written again.
            std::atomic_thread_fence(std::memory_order_acquire);
            out = frame;
            break;
        }
    }
    if (!out) {
        out = std::make_shared<_TQ_RANGE_T>();
        out->rows.reserve(kReservedRows);
        if (pool_.size() < kPoolFrames) {
            pool_.push_back(out);
        }
    }
    // The finished rows go out; the old frame's rows (cleared at the next
    // slot 0) become the buffer.
    out->rows.swap(range_.rows);
    return out;
}

}  // namespace TQZ
