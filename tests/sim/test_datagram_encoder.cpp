#include <gtest/gtest.h>

#include "datagram_encoder.hpp"

using namespace VELKOR::SIM;

namespace {

uint16_t le16(const std::vector<uint8_t>& d, std::size_t at) { return static_cast<uint16_t>(d[at] | (d[at + 1] << 8)); }

EncoderFrame small_frame()
{
    EncoderFrame frame;
    frame.rows = 2;
    frame.cols = 8;
    frame.returns = 2;
    frame.allocate();
    for (int r = 0; r < frame.rows; ++r) {
        for (int c = 0; c < frame.cols; ++c) {
            for (int k = 0; k < frame.returns; ++k) {
                frame.depth[frame.index(r, c, k)] = static_cast<uint32_t>(0x1230 + 16 * c + k + 100 * r);
                frame.intensity[frame.index(r, c, k)] = static_cast<uint16_t>(1000 + c + 10 * k);
            }
        }
    }
    for (std::size_t i = 0; i < frame.ambient.size(); ++i) {
        frame.ambient[i] = 0xABC123u + static_cast<uint32_t>(i);
    }
    return frame;
}

}  // namespace

TEST(DatagramEncoder, HeaderFieldsAndSizes)
{
    const EncoderFrame frame = small_frame();
    EncoderOptions options;
    options.blocks = 2;
    options.slots_field = 28;
    options.data_kind = 1;
    options.packet_error = 7;
    options.tail_bytes = 3;
    const auto d = encode_slot(frame, 1, options);
    const std::size_t record = 20 + 24 * 2;
    const std::size_t words = 4 * record / 2 + 2;
    EXPECT_EQ(d.size(), 1080u + 2 * 2 * words + 3);
    EXPECT_EQ(le16(d, 0x04), 1);
    EXPECT_EQ(d[0x16], 1);
    EXPECT_EQ(le16(d, 0x46), 2);
    EXPECT_EQ(le16(d, 0x48), words);
    EXPECT_EQ(le16(d, 0xA0), 28);
    EXPECT_EQ(d[0xA5], 0);
    EXPECT_EQ(d[0xAA], 2);
    EXPECT_EQ(d[0xAF], 7);

    options.slot = 300;
    EXPECT_EQ(le16(encode_slot(frame, 1, options), 0x04), 300);
}

TEST(DatagramEncoder, AmbientHalvesCarryTwelveBitsEach)
{
    EncoderFrame frame = small_frame();
    frame.ambient_words = 576;
    frame.allocate();
    frame.ambient[576 + 5] = 0xFEDCBA;
    EncoderOptions options;
    options.fill_unused = true;
    const auto d = encode_slot(frame, 1, options);
    EXPECT_EQ(d[0xA5], 1);
    EXPECT_EQ(le16(d, 0xB0 + 20), 0xFCBA);  // low 12 bits; the high nibble is filler
    EXPECT_EQ(le16(d, 0xB0 + 22), 0xFFED);
    EXPECT_EQ(d.size(), 0x9B0 + 136 + 4 * 2u * le16(d, 0x48));
}

TEST(DatagramEncoder, RecordsAndBlockFlags)
{
    const EncoderFrame frame = small_frame();
    EncoderOptions options;
    options.blocks = 2;
    options.block_error_mask = 0x2;
    const auto d = encode_slot(frame, 0, options);
    const std::size_t record = 68;
    const std::size_t block_size = 2u * le16(d, 0x48);
    const std::size_t start = 1080;
    // Pixel 5 is record 1 of block 1; its second return.
    const std::size_t ret = start + block_size + record + 20 + 24;
    EXPECT_EQ(le16(d, ret), 1000 + 5 + 10);
    const uint32_t depth = 0x1230 + 16 * 5 + 1;
    EXPECT_EQ(le16(d, ret + 4), depth >> 4);
    EXPECT_EQ(le16(d, ret + 6) & 0xF, depth & 0xF);
    EXPECT_EQ(d[start + block_size - 1], 0);
    EXPECT_EQ(d[start + 2 * block_size - 1], 1);
}

TEST(DatagramEncoder, FrameHasOneDatagramPerRowAndIsReproducible)
{
    const EncoderFrame a = make_synthetic_frame(3, 42);
    const EncoderFrame b = make_synthetic_frame(3, 42);
    EXPECT_EQ(a.depth, b.depth);
    EXPECT_NE(a.depth, make_synthetic_frame(4, 42).depth);
    const auto datagrams = encode_frame(a);
    ASSERT_EQ(datagrams.size(), 56u);
    for (std::size_t i = 0; i < datagrams.size(); ++i) {
        EXPECT_EQ(le16(datagrams[i], 0x04), i);
        EXPECT_GT(datagrams[i].size(), 1080u);
    }
}
