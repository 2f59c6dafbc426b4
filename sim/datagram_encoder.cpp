#include "datagram_encoder.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace VELKOR {
namespace SIM {

namespace {

void put_u8(std::vector<uint8_t>& out, std::size_t offset, uint8_t value) { out[offset] = value; }

void put_u16(std::vector<uint8_t>& out, std::size_t offset, uint16_t value)
{
    out[offset] = static_cast<uint8_t>(value & 0xFF);
    out[offset + 1] = static_cast<uint8_t>(value >> 8);
}

void put_u32(std::vector<uint8_t>& out, std::size_t offset, uint32_t value)
{
    put_u16(out, offset, static_cast<uint16_t>(value & 0xFFFF));
    put_u16(out, offset + 2, static_cast<uint16_t>(value >> 16));
}

template <typename T>
T element(const std::vector<T>& values, std::size_t index)
{
    return index < values.size() ? values[index] : T{};
}

int clamp_int(int value, int low, int high) { return std::min(std::max(value, low), high); }

struct BlockPlan {
    std::size_t record_bytes = 0;       // 20 + 24 K
    std::size_t records_per_block = 0;  // records each block carries
    int words = 0;                      // W as written
    std::size_t size = 0;               // S
};

BlockPlan plan_blocks(const EncoderFrame& frame, const EncoderOptions& options)
{
    BlockPlan plan;
    const int returns = clamp_int(frame.returns, 0, 255);
    plan.record_bytes = kRecordHeaderBytes + kReturnBytes * static_cast<std::size_t>(returns);
    const int blocks = clamp_int(options.blocks, 0, 0xFFFF);
    if (blocks == 0) {
        return plan;
    }
    const std::size_t cols = static_cast<std::size_t>(std::max(frame.cols, 0));
    plan.records_per_block = (cols + blocks - 1) / blocks;
    const std::size_t natural_words = plan.records_per_block * plan.record_bytes / 2 + 2;
    plan.words = options.block_words > 0 ? clamp_int(options.block_words, 0, 0xFFFF)
                                         : static_cast<int>(std::min<std::size_t>(natural_words, 0xFFFF));
    plan.size = options.block_bytes > 0 ? static_cast<std::size_t>(options.block_bytes)
                                        : static_cast<std::size_t>(plan.words) * 2;
    return plan;
}

// Writes pixel record `col` of `row` at `at` (record_bytes bytes, already filled).
void write_record(const EncoderFrame& frame, int row, int col, bool fill_unused, uint8_t* at)
{
    const int returns = clamp_int(frame.returns, 0, 255);
    uint8_t* ret = at + kRecordHeaderBytes;
    for (int k = 0; k < returns; ++k, ret += kReturnBytes) {
        const std::size_t i = frame.index(row, col, k);
        const uint32_t depth = std::min<uint32_t>(element(frame.depth, i), 0xFFFFF);
        const uint16_t intensity = element(frame.intensity, i);
        const uint16_t whole = static_cast<uint16_t>(depth >> 4);
        const uint16_t fraction = static_cast<uint16_t>((depth & 0xF) | (fill_unused ? 0xFFF0 : 0));
        ret[0] = static_cast<uint8_t>(intensity & 0xFF);
        ret[1] = static_cast<uint8_t>(intensity >> 8);
        ret[4] = static_cast<uint8_t>(whole & 0xFF);
        ret[5] = static_cast<uint8_t>(whole >> 8);
        ret[6] = static_cast<uint8_t>(fraction & 0xFF);
        ret[7] = static_cast<uint8_t>(fraction >> 8);
    }
}

}  // namespace

void EncoderFrame::allocate()
{
    const std::size_t pixels = static_cast<std::size_t>(std::max(rows, 0)) * std::max(cols, 0) * std::max(returns, 0);
    depth.assign(pixels, 0);
    intensity.assign(pixels, 0);
    ambient.assign(static_cast<std::size_t>(std::max(rows, 0)) * std::max(ambient_words, 0), 0);
}

void encode_slot_into(const EncoderFrame& frame, int row, const EncoderOptions& options, std::vector<uint8_t>& out)
{
    const std::size_t ambient_words = frame.ambient_words == 576 ? 576 : 192;
    const std::size_t pixel_start = kHeaderBytes + 4 * ambient_words + kGapBytes;
    const BlockPlan plan = plan_blocks(frame, options);
    const int blocks = clamp_int(options.blocks, 0, 0xFFFF);
    const std::size_t total = pixel_start + blocks * plan.size + options.tail_bytes;
    const uint8_t filler = options.fill_unused ? 0xFF : 0x00;

    out.assign(total, filler);

    const int slot = options.slot >= 0 ? options.slot : row;
    const int width_byte = options.ambient_width_byte >= 0 ? options.ambient_width_byte : (ambient_words == 576 ? 1 : 0);
    put_u32(out, 0x00, frame.sequence);
    put_u16(out, 0x04, static_cast<uint16_t>(slot));
    put_u8(out, 0x16, static_cast<uint8_t>(clamp_int(options.data_kind, 0, 255)));
    put_u16(out, 0x46, static_cast<uint16_t>(blocks));
    put_u16(out, 0x48, static_cast<uint16_t>(plan.words));
    put_u16(out, 0xA0, static_cast<uint16_t>(clamp_int(options.slots_field, 0, 0xFFFF)));
    put_u8(out, 0xA5, static_cast<uint8_t>(clamp_int(width_byte, 0, 255)));
    put_u8(out, 0xAA, static_cast<uint8_t>(clamp_int(frame.returns, 0, 255)));
    put_u8(out, 0xAF, options.packet_error);

    const uint16_t high_bits = options.fill_unused ? 0xF000 : 0;
    for (std::size_t i = 0; i < ambient_words; ++i) {
        const uint32_t value = element(frame.ambient, static_cast<std::size_t>(row) * ambient_words + i);
        const std::size_t at = kHeaderBytes + 4 * i;
        put_u16(out, at, static_cast<uint16_t>((value & 0xFFF) | high_bits));
        put_u16(out, at + 2, static_cast<uint16_t>(((value >> 12) & 0xFFF) | high_bits));
    }

    // Records fill the first W-2 words of a block, as far as the block holds them.
    const std::size_t record_area = plan.words >= 2 ? (static_cast<std::size_t>(plan.words) - 2) * 2 : 0;
    const std::size_t usable = std::min(record_area, plan.size > 0 ? plan.size - 1 : 0);
    const std::size_t fit = plan.record_bytes > 0 ? usable / plan.record_bytes : 0;
    const std::size_t per_block = std::min(plan.records_per_block, fit);
    for (int k = 0; k < blocks; ++k) {
        uint8_t* block = out.data() + pixel_start + k * plan.size;
        if (plan.size == 0) {
            continue;
        }
        for (std::size_t j = 0; j < per_block; ++j) {
            const std::size_t col = k * plan.records_per_block + j;
            // Records past the frame's last column stay filler: a sensor pads its last block.
            uint8_t* record = block + j * plan.record_bytes;
            if (col < static_cast<std::size_t>(std::max(frame.cols, 0))) {
                write_record(frame, row, static_cast<int>(col), options.fill_unused, record);
            }
        }
        const bool flagged = k < 64 && ((options.block_error_mask >> k) & 1u);
        block[plan.size - 1] = flagged ? 0x01 : 0x00;
    }
}

std::vector<uint8_t> encode_slot(const EncoderFrame& frame, int row, const EncoderOptions& options)
{
    std::vector<uint8_t> out;
    encode_slot_into(frame, row, options, out);
    return out;
}

std::vector<std::vector<uint8_t>> encode_frame(const EncoderFrame& frame, const EncoderOptions& options)
{
    std::vector<std::vector<uint8_t>> datagrams(static_cast<std::size_t>(std::max(frame.rows, 0)));
    for (int row = 0; row < frame.rows; ++row) {
        encode_slot_into(frame, row, options, datagrams[row]);
    }
    return datagrams;
}

EncoderFrame make_synthetic_frame(uint32_t frame_number, uint32_t seed, int returns, int ambient_words)
{
    EncoderFrame frame;
    frame.returns = clamp_int(returns, 0, 255);
    frame.ambient_words = ambient_words == 576 ? 576 : 192;
    frame.sequence = frame_number;
    frame.allocate();

    // Small xorshift generator: reproducible without <random>'s distribution differences.
    uint32_t state = seed * 2654435761u + frame_number * 40503u + 1u;
    auto next = [&state]() {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    };

    // A box drifting across the view, 1 column per frame.
    const int box_col = static_cast<int>(frame_number % kFrameCols);
    for (int r = 0; r < frame.rows; ++r) {
        for (int c = 0; c < frame.cols; ++c) {
            // Wall: 10 m to 20 m away left to right (about 66.7 ns to 133 ns round trip).
            double ns = 66.7 + 66.7 * c / (frame.cols - 1);
            const bool in_box = c >= box_col && c < box_col + 24 && r >= 20 && r < 40;
            if (in_box) {
                ns = 26.7;  // 4 m
            }
            const uint32_t noise = next();
            const bool dropout = (noise & 0xFF) < 8;  // about 3 % of pixels without a return
            for (int k = 0; k < frame.returns; ++k) {
                const std::size_t i = frame.index(r, c, k);
                if (dropout && k == 0) {
                    continue;
                }
                const double return_ns = ns + 6.0 * k;
                frame.depth[i] = static_cast<uint32_t>(std::lround(return_ns * 16.0)) + ((noise >> 8) & 0x3);
                frame.intensity[i] = static_cast<uint16_t>((in_box ? 2400 : 900) + ((noise >> 12) & 0x7F) + 50 * k);
            }
        }
        for (int j = 0; j < frame.ambient_words; ++j) {
            const uint32_t base = static_cast<uint32_t>(300 + 4 * r + (j % 64));
            frame.ambient[static_cast<std::size_t>(r) * frame.ambient_words + j] = (base + (next() & 0x1F)) & 0xFFFFFF;
        }
    }
    return frame;
}

}  // namespace SIM
}  // namespace VELKOR
