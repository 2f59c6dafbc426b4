#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Builds the sensor's data datagrams (one image row per datagram) from a frame
// description. This is the sending half of the data link: the simulated
// sensor, recording tests and benchmarks use it, and it is written apart from
// the host's parser so that each checks the other.
//
// Datagram layout (little-endian):
//   0x00 u32 frame sequence (not read by the host)   0x04 u16 slot
//   0x16 u8  data kind                                0x46 u16 block count N
//   0x48 u16 block words W                            0xA0 u16 slots per frame
//   0xA5 u8  ambient width (1: 576 words, else 192)   0xAA u8  returns K
//   0xAF u8  packet error flag
//   0xB0 ambient words (4 bytes each: two 12-bit halves, low half first)
//   136 bytes not read by the host
//   N pixel blocks of S bytes; records in the first W-2 words; the last byte
//   of a block is its error flag.
// A pixel record is a 20-byte header and K returns of 24 bytes: u16
// intensity at +0, u16 whole nanoseconds at +4, sixteenths in the low 4 bits
// of the u16 at +6.
namespace VELKOR {
namespace SIM {

constexpr int kFrameRows = 56;
constexpr int kFrameCols = 192;
constexpr std::size_t kHeaderBytes = 0xB0;
constexpr std::size_t kGapBytes = 136;
constexpr std::size_t kRecordHeaderBytes = 20;
constexpr std::size_t kReturnBytes = 24;

// Pixel data of one frame. Per-pixel arrays are indexed
// ((row * cols) + col) * returns + k; missing elements encode as zero.
struct EncoderFrame {
    int rows = kFrameRows;
    int cols = kFrameCols;  // pixel records per row
    int returns = 1;        // K, returns per pixel record (0..255)
    int ambient_words = 192;  // per row: 192 or 576
    std::vector<uint32_t> depth;      // round-trip time in 1/16 ns (0..0xFFFFF)
    std::vector<uint16_t> intensity;  // per return
    std::vector<uint32_t> ambient;    // rows * ambient_words, 24-bit values
    uint32_t sequence = 0;            // frame counter written at offset 0

    // Element index of return k of pixel (row, col).
    std::size_t index(int row, int col, int k = 0) const
    {
        return (static_cast<std::size_t>(row) * cols + col) * returns + k;
    }
    // Sizes the arrays for the current geometry (zero-filled).
    void allocate();
};

// How the datagrams of a frame are laid out and flagged.
struct EncoderOptions {
    int blocks = 4;           // N; pixels are split evenly, the last block padded with zero records
    int block_words = 0;      // W; 0 = exactly the block's records + 2 words
    int block_bytes = 0;      // S; 0 = 2 * W
    int slots_field = kFrameRows;  // value of the slots-per-frame field
    int data_kind = 0;        // 0 range, 1 echo, 2+ histogram
    int ambient_width_byte = -1;  // -1: 1 when the frame has 576 ambient words, else 0
    int slot = -1;            // slot field override for encode_slot; -1 = the row number
    uint8_t packet_error = 0;        // packet error flag value
    uint64_t block_error_mask = 0;   // bit k sets the error flag of block k
    std::size_t tail_bytes = 0;      // extra bytes after the last block
    // Sets every byte and bit the host must ignore (record headers, unread
    // return bytes, the high bits of ambient halves and of the fraction word).
    bool fill_unused = false;
};

// One datagram for `row` of the frame (slot = row unless options.slot >= 0).
std::vector<uint8_t> encode_slot(const EncoderFrame& frame, int row, const EncoderOptions& options);

// Same, reusing `out`'s storage (for senders that encode at frame rate).
void encode_slot_into(const EncoderFrame& frame, int row, const EncoderOptions& options,
                      std::vector<uint8_t>& out);

// The datagrams of every row, in slot order.
std::vector<std::vector<uint8_t>> encode_frame(const EncoderFrame& frame, const EncoderOptions& options = {});

// A deterministic 56 x 192 test scene: a tilted wall with a few objects in
// front, per-pixel intensity, and 192 or 576 ambient words per row. The
// same (frame_number, seed) gives the same frame; some pixels have no
// return (depth 0).
EncoderFrame make_synthetic_frame(uint32_t frame_number, uint32_t seed, int returns = 1, int ambient_words = 192);

}  // namespace SIM
}  // namespace VELKOR
