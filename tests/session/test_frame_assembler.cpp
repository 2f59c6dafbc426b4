#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>

#include "datagram_encoder.hpp"
#include "frame_feed.hpp"
#include "session/frame_assembler.hpp"

using TESTSUPPORT::Datagrams;
using TESTSUPPORT::feed;
using TQZ::DatagramView;
using TQZ::FrameAssembler;
using VELKOR::SIM::EncoderFrame;
using VELKOR::SIM::EncoderOptions;
using VELKOR::SIM::encode_frame;
using VELKOR::SIM::encode_slot;
using VELKOR::SIM::make_synthetic_frame;

namespace {

uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

// Checks every decoded value of a frame against the frame it was encoded from.
void expect_matches(const TQZ::_TQ_RANGE_T& got, const EncoderFrame& sent)
{
    ASSERT_EQ(got.rows.size(), static_cast<std::size_t>(sent.rows));
    for (int r = 0; r < sent.rows; ++r) {
        const TQZ::FrameRow& row = got.rows[r];
        ASSERT_EQ(row.ambient.size(), static_cast<std::size_t>(sent.ambient_words)) << "row " << r;
        for (int j = 0; j < sent.ambient_words; ++j) {
            ASSERT_EQ(row.ambient[j], sent.ambient[r * sent.ambient_words + j]) << r << "," << j;
        }
        ASSERT_EQ(row.returns, static_cast<uint32_t>(sent.returns));
        ASSERT_EQ(row.pixel_count(), static_cast<std::size_t>(sent.cols)) << "row " << r;
        for (int c = 0; c < sent.cols; ++c) {
            for (int k = 0; k < sent.returns; ++k) {
                const uint8_t* ret = row.record(c) + 20 + 24 * k;
                const uint32_t depth = sent.depth[sent.index(r, c, k)];
                ASSERT_EQ(le16(ret), sent.intensity[sent.index(r, c, k)]);
                ASSERT_EQ(le16(ret + 4), depth >> 4);
                ASSERT_EQ(le16(ret + 6) & 0xF, depth & 0xF);
            }
        }
    }
}

EncoderFrame blank_frame(int ambient_words = 192)
{
    EncoderFrame frame;
    frame.ambient_words = ambient_words;
    frame.allocate();
    return frame;
}

// The datagrams of a frame whose row in `slot` the sensor flags as bad.
Datagrams with_flagged_slot(const EncoderFrame& sent, int slot)
{
    Datagrams datagrams = encode_frame(sent);
    EncoderOptions flagged;
    flagged.packet_error = 1;
    datagrams[slot] = encode_slot(sent, slot, flagged);
    return datagrams;
}

}  // namespace

// ---------------------------------------------------------------- view

TEST(DatagramView, LengthLimits)
{
    EncoderOptions options;
    options.blocks = 0;
    const EncoderFrame frame = blank_frame();
    auto d = encode_slot(frame, 0, options);
    ASSERT_EQ(d.size(), 1080u);
    EXPECT_FALSE(DatagramView(d.data(), d.size()).valid());
    d.push_back(0);
    EXPECT_TRUE(DatagramView(d.data(), d.size()).valid());

    // Ambient width 1 needs the 576-word section: 2616 bytes at least.
    d[0xA5] = 1;
    EXPECT_FALSE(DatagramView(d.data(), d.size()).valid());
    d.resize(2615);
    EXPECT_FALSE(DatagramView(d.data(), d.size()).valid());
    d.resize(2616);
    EXPECT_TRUE(DatagramView(d.data(), d.size()).valid());

    // Blocks announced but fewer pixel bytes than blocks: S would be 0.
    d[0x46] = 0x10;  // N = 16
    d.resize(2616 + 15);
    EXPECT_FALSE(DatagramView(d.data(), d.size()).valid());
    d.resize(2616 + 16);
    EXPECT_TRUE(DatagramView(d.data(), d.size()).valid());
    EXPECT_EQ(DatagramView(d.data(), d.size()).block_size(), 1u);

    EXPECT_FALSE(DatagramView(nullptr, 5000).valid());
    EXPECT_EQ(DatagramView(d.data(), 3).slot(), 0);  // fields past the end read as 0
}

TEST(DatagramView, RecordCountStaysInsideTheBlock)
{
    const uint8_t bytes[200] = {};
    struct Case {
        std::size_t size;
        uint16_t words;
        std::size_t record;
        std::size_t expected;
    } cases[] = {
        {100, 46, 44, 2},    // W-2 = 44 words = 88 bytes: two records
        {200, 90, 44, 4},    // 88 words of records = 176 bytes = 4 records
        {200, 89, 44, 4},    // a record starting below W-2 is read even if it runs past it
        {200, 1, 44, 0},     // W < 2: no records
        {200, 0, 44, 0},
        {100, 60000, 44, 2}, // W overstates the block: only what fits
        {43, 60000, 44, 0},
        {200, 90, 0, 0},
    };
    for (const Case& c : cases) {
        const DatagramView::Block block{bytes, c.size, c.words};
        EXPECT_EQ(block.record_count(c.record), c.expected) << c.size << " " << c.words << " " << c.record;
    }
}

// ----------------------------------------------------------- assembler

struct Layout {
    int returns;
    int ambient_words;
    int blocks;
};

class AssemblerLayouts : public testing::TestWithParam<Layout> {};

TEST_P(AssemblerLayouts, InOrderFrameIsPublishedOnceWithEveryValue)
{
    const Layout layout = GetParam();
    const EncoderFrame sent = make_synthetic_frame(7, 11, layout.returns, layout.ambient_words);
    EncoderOptions options;
    options.blocks = layout.blocks;
    options.fill_unused = true;  // the decoder must ignore every byte it does not interpret
    std::atomic<uint64_t> mask{0};
    FrameAssembler assembler(mask);

    Datagrams datagrams = encode_frame(sent, options);
    TESTSUPPORT::FeedResult result = feed(assembler, datagrams);
    ASSERT_EQ(result.frames.size(), 1u);
    EXPECT_EQ(result.dropped, 0);
    EXPECT_EQ(mask.load(), 0u);
    expect_matches(*result.frames[0], sent);

    // The buffers are reused: a second frame decodes as cleanly as the first.
    const EncoderFrame second = make_synthetic_frame(8, 11, layout.returns, layout.ambient_words);
    result = feed(assembler, encode_frame(second, options));
    ASSERT_EQ(result.frames.size(), 1u);
    expect_matches(*result.frames[0], second);
}

INSTANTIATE_TEST_SUITE_P(Assembler, AssemblerLayouts,
                         testing::Values(Layout{1, 192, 4}, Layout{1, 576, 4}, Layout{3, 192, 6}, Layout{1, 192, 1},
                                         Layout{2, 576, 192}, Layout{0, 192, 2}));

TEST(Assembler, PublishedFrameIsNeverTouchedWhileHeld)
{
    std::atomic<uint64_t> mask{0};
    FrameAssembler assembler(mask);
    const EncoderFrame kept_sent = make_synthetic_frame(0, 4);
    const TQZ::Frame kept = feed(assembler, encode_frame(kept_sent)).frames.at(0);
    // Later frames are released at once, so their storage is recycled again and again.
    for (uint32_t n = 1; n < 12; ++n) {
        const EncoderFrame sent = make_synthetic_frame(n, 4);
        const TESTSUPPORT::FeedResult result = feed(assembler, encode_frame(sent));
        ASSERT_EQ(result.frames.size(), 1u);
        ASSERT_NE(result.frames[0], kept);
        expect_matches(*result.frames[0], sent);
    }
    expect_matches(*kept, kept_sent);
}

TEST(Assembler, LostSlotDropsTheRestOfTheFrame)
{
    std::atomic<uint64_t> mask{0};
    FrameAssembler assembler(mask);
    Datagrams first = encode_frame(make_synthetic_frame(1, 1));
    first.erase(first.begin() + 30);
    TESTSUPPORT::FeedResult result = feed(assembler, first);
    EXPECT_TRUE(result.frames.empty());
    EXPECT_EQ(result.incomplete, 0);
    EXPECT_EQ(result.dropped, 25);  // slots 31-55
    EXPECT_EQ(assembler.expected_slot(), 0);

    const EncoderFrame next = make_synthetic_frame(2, 1);
    result = feed(assembler, encode_frame(next));
    ASSERT_EQ(result.frames.size(), 1u);
    expect_matches(*result.frames[0], next);
}

TEST(Assembler, SlotZeroAlwaysStartsAFrame)
{
    std::atomic<uint64_t> mask{0};
    FrameAssembler assembler(mask);
    const Datagrams frame = encode_frame(make_synthetic_frame(1, 1));
    // 0, 1, 2, 0: the second slot 0 abandons the frame begun and starts anew;
    // so does the whole frame's own slot 0 after it.
    Datagrams run(frame.begin(), frame.begin() + 3);
    run.push_back(frame[0]);
    TESTSUPPORT::append(run, frame);
    const TESTSUPPORT::FeedResult result = feed(assembler, run);
    EXPECT_EQ(result.frames.size(), 1u);
    EXPECT_EQ(result.dropped, 0);
}

// A frame that lost its last row (lost, flagged or swapped away) leaves the
// assembler expecting that row; the next frame, sent whole, still comes
// through whole rather than being dropped row by row.
TEST(Assembler, FrameAfterOneThatLostItsLastRowsIsKept)
{
    for (const int lost_from : {55, 54, 50}) {
        std::atomic<uint64_t> mask{0};
        FrameAssembler assembler(mask);
        Datagrams first = encode_frame(make_synthetic_frame(1, 1));
        first.erase(first.begin() + lost_from, first.end());
        const EncoderFrame next = make_synthetic_frame(2, 1);
        TESTSUPPORT::append(first, encode_frame(next));
        const TESTSUPPORT::FeedResult result = feed(assembler, first);
        ASSERT_EQ(result.frames.size(), 1u) << "rows lost from " << lost_from;
        expect_matches(*result.frames[0], next);
    }

    // The last row flagged by the sensor: the same.
    std::atomic<uint64_t> mask{0};
    FrameAssembler assembler(mask);
    Datagrams run = with_flagged_slot(make_synthetic_frame(3, 1), 55);
    const EncoderFrame next = make_synthetic_frame(4, 1);
    TESTSUPPORT::append(run, encode_frame(next));
    testing::internal::CaptureStdout();
    const TESTSUPPORT::FeedResult result = feed(assembler, run);
    testing::internal::GetCapturedStdout();
    ASSERT_EQ(result.frames.size(), 1u);
    expect_matches(*result.frames[0], next);
}

TEST(Assembler, PacketErrorPrintsOnceAndDropsTheFrameSilently)
{
    std::atomic<uint64_t> mask{0};
    FrameAssembler assembler(mask);
    const Datagrams datagrams = with_flagged_slot(make_synthetic_frame(1, 1), 17);

    testing::internal::CaptureStdout();
    const TESTSUPPORT::FeedResult result = feed(assembler, datagrams);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "emb crc err!!!\n");
    EXPECT_TRUE(result.frames.empty());
    EXPECT_EQ(result.incomplete, 0);
    EXPECT_EQ(result.dropped, 56 - 17);
}

TEST(Assembler, FlaggedPacketDoesNotBreakTheSequence)
{
    std::atomic<uint64_t> mask{0};
    FrameAssembler assembler(mask);
    const EncoderFrame sent = make_synthetic_frame(1, 1);
    Datagrams datagrams = encode_frame(sent);
    EncoderOptions flagged;
    flagged.packet_error = 0x80;
    flagged.slot = 40;
    datagrams.insert(datagrams.begin() + 10, encode_slot(sent, 3, flagged));
    testing::internal::CaptureStdout();
    const TESTSUPPORT::FeedResult result = feed(assembler, datagrams);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(result.frames.size(), 1u);
}

TEST(Assembler, BlockErrorLeavesThatBlocksColumnsWithoutAReturn)
{
    std::atomic<uint64_t> mask{0};
    FrameAssembler assembler(mask);
    const EncoderFrame sent = make_synthetic_frame(1, 1);
    Datagrams datagrams = encode_frame(sent);
    EncoderOptions flagged;
    flagged.block_error_mask = 0x4;  // third of four blocks: columns 96-143
    datagrams[5] = encode_slot(sent, 5, flagged);

    testing::internal::CaptureStdout();
    const TESTSUPPORT::FeedResult result = feed(assembler, datagrams);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "act crc err!!!\n");
    ASSERT_EQ(result.frames.size(), 1u);
    const TQZ::FrameRow& row = result.frames[0]->rows[5];
    ASSERT_EQ(row.pixel_count(), 192u);
    EXPECT_EQ(le16(row.first_return(95)), sent.intensity[sent.index(5, 95)]);
    for (int c = 96; c < 144; ++c) {
        EXPECT_EQ(le16(row.first_return(c)), 0u) << c;
        EXPECT_EQ(le16(row.first_return(c) + 4), 0u) << c;
    }
    EXPECT_EQ(le16(row.first_return(144)), sent.intensity[sent.index(5, 144)]);
    EXPECT_EQ(result.frames[0]->rows[4].pixel_count(), 192u);
}

TEST(Assembler, BlockErrorsAreReportedForOtherDataKindsToo)
{
    std::atomic<uint64_t> mask{0};
    FrameAssembler assembler(mask);
    EncoderOptions echo;
    echo.data_kind = 1;
    echo.block_error_mask = 0x3;
    const Datagrams datagrams = encode_frame(make_synthetic_frame(1, 1), echo);
    testing::internal::CaptureStdout();
    const TESTSUPPORT::FeedResult result = feed(assembler, Datagrams(datagrams.begin(), datagrams.begin() + 1));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "act crc err!!!\nact crc err!!!\n");
    EXPECT_TRUE(result.frames.empty());
}

TEST(Assembler, OtherDataKindsCompleteButAreNeverPublished)
{
    for (int kind : {1, 2, 9}) {
        std::atomic<uint64_t> mask{0};
        FrameAssembler assembler(mask);
        EncoderOptions options;
        options.data_kind = kind;
        const Datagrams datagrams = encode_frame(make_synthetic_frame(1, 1), options);
        FrameAssembler::Result last = FrameAssembler::Result::dropped;
        for (const auto& d : datagrams) {
            last = assembler.feed(d.data(), d.size());
        }
        EXPECT_EQ(last, FrameAssembler::Result::other_complete) << kind;
        EXPECT_EQ(mask.load(), 0u);
        // The range buffer got no ambient words or records from those packets.
        EXPECT_TRUE(assembler.range().rows[10].ambient.empty());
    }
}

TEST(Assembler, SlotsField28NeverCompletes)
{
    std::atomic<uint64_t> mask{0};
    FrameAssembler assembler(mask);
    EncoderOptions options;
    options.slots_field = 28;
    Datagrams datagrams;
    for (uint32_t n = 0; n < 3; ++n) {
        TESTSUPPORT::append(datagrams, encode_frame(make_synthetic_frame(n, 2), options));
    }
    const TESTSUPPORT::FeedResult result = feed(assembler, datagrams);
    EXPECT_TRUE(result.frames.empty());
    EXPECT_EQ(result.incomplete, 3);
    EXPECT_EQ(mask.load(), 0x0FFFFFFFu);  // left for the next slot 0 to clear
}

TEST(Assembler, ShortDatagramsAreIgnoredWithoutBreakingTheSequence)
{
    std::atomic<uint64_t> mask{0};
    FrameAssembler assembler(mask);
    const EncoderFrame sent = make_synthetic_frame(1, 1);
    Datagrams datagrams = encode_frame(sent);
    EncoderOptions bare;
    bare.blocks = 0;
    bare.slot = 20;
    const auto exactly_1080 = encode_slot(sent, 20, bare);
    ASSERT_EQ(exactly_1080.size(), 1080u);
    datagrams.insert(datagrams.begin() + 20, exactly_1080);
    datagrams.insert(datagrams.begin() + 30, std::vector<uint8_t>{});
    datagrams.insert(datagrams.begin() + 40, std::vector<uint8_t>(6, 0));
    const TESTSUPPORT::FeedResult result = feed(assembler, datagrams);
    ASSERT_EQ(result.frames.size(), 1u);
    EXPECT_EQ(result.dropped, 3);
    expect_matches(*result.frames[0], sent);
}

TEST(Assembler, DatagramOf1081BytesWithoutBlocksGivesAmbientOnly)
{
    std::atomic<uint64_t> mask{0};
    FrameAssembler assembler(mask);
    EncoderFrame sent = make_synthetic_frame(1, 1);
    EncoderOptions bare;
    bare.blocks = 0;
    bare.tail_bytes = 1;
    const Datagrams datagrams = encode_frame(sent, bare);
    ASSERT_EQ(datagrams[0].size(), 1081u);
    const TESTSUPPORT::FeedResult result = feed(assembler, datagrams);
    ASSERT_EQ(result.frames.size(), 1u);
    const TQZ::FrameRow& row = result.frames[0]->rows[0];
    EXPECT_EQ(row.ambient.size(), 192u);
    EXPECT_EQ(row.ambient[7], sent.ambient[7]);
    EXPECT_EQ(row.pixel_count(), 0u);
}

TEST(Assembler, AmbientWidthByte)
{
    struct Case {
        int words;
        int width_byte;
        std::size_t expected;
    } cases[] = {{576, 1, 576}, {192, 0, 192}, {192, 2, 192}, {192, 255, 192}};
    for (const Case& c : cases) {
        std::atomic<uint64_t> mask{0};
        FrameAssembler assembler(mask);
        EncoderOptions options;
        options.ambient_width_byte = c.width_byte;
        const Datagrams datagrams = encode_frame(make_synthetic_frame(1, 1, 1, c.words), options);
        const TESTSUPPORT::FeedResult result = feed(assembler, datagrams);
        ASSERT_EQ(result.frames.size(), 1u) << c.width_byte;
        EXPECT_EQ(result.frames[0]->rows[55].ambient.size(), c.expected) << c.width_byte;
    }
}

TEST(Assembler, UnsafeLayoutsAreDroppedOrTruncated)
{
    const EncoderFrame sent = make_synthetic_frame(1, 1);
    {
        // Width byte 1 on a datagram shorter than the 576-word section: dropped like a short one.
        EncoderOptions wide;
        wide.ambient_width_byte = 1;
        wide.blocks = 1;
        wide.block_bytes = 400;
        const auto d = encode_slot(sent, 0, wide);
        ASSERT_LT(d.size(), 2616u);
        std::atomic<uint64_t> mask{0};
        FrameAssembler assembler(mask);
        EXPECT_EQ(feed(assembler, {d}).dropped, 1);
    }
    {
        // More blocks than pixel bytes: S = 0, dropped.
        EncoderOptions many;
        many.blocks = 5000;
        many.block_bytes = 0;
        many.block_words = 1;
        auto d = encode_slot(sent, 0, many);
        d.resize(1080 + 100);
        std::atomic<uint64_t> mask{0};
        FrameAssembler assembler(mask);
        EXPECT_EQ(feed(assembler, {d}).dropped, 1);
    }
    {
        // W below 2 keeps the row's ambient words but reads no records.
        EncoderOptions tiny;
        tiny.block_words = 1;
        tiny.block_bytes = 2200;
        std::atomic<uint64_t> mask{0};
        FrameAssembler assembler(mask);
        const TESTSUPPORT::FeedResult result = feed(assembler, encode_frame(sent, tiny));
        ASSERT_EQ(result.frames.size(), 1u);
        EXPECT_EQ(result.frames[0]->rows[3].pixel_count(), 0u);
        EXPECT_EQ(result.frames[0]->rows[3].ambient.size(), 192u);
    }
    {
        // W claims far more words than the block holds: only whole records inside it.
        EncoderOptions overstated;
        overstated.block_words = 60000;
        overstated.block_bytes = 44 * 10 + 3;
        std::atomic<uint64_t> mask{0};
        FrameAssembler assembler(mask);
        const TESTSUPPORT::FeedResult result = feed(assembler, encode_frame(sent, overstated));
        ASSERT_EQ(result.frames.size(), 1u);
        EXPECT_EQ(result.frames[0]->rows[3].pixel_count(), 40u);
        EXPECT_EQ(le16(result.frames[0]->rows[3].first_return(11)), sent.intensity[sent.index(3, 49)]);
    }
}

TEST(Assembler, SlotBeyondTheRowsGivenAtSlotZeroIsNotStored)
{
    std::atomic<uint64_t> mask{0};
    FrameAssembler assembler(mask);
    const EncoderFrame sent = make_synthetic_frame(1, 1);
    EncoderOptions three;
    three.slots_field = 3;
    // Slot 0 announces 3 rows; slots 1-3 then claim 56.
    Datagrams datagrams{encode_slot(sent, 0, three)};
    for (int s = 1; s <= 3; ++s) {
        datagrams.push_back(encode_slot(sent, s, EncoderOptions{}));
    }
    TESTSUPPORT::FeedResult result = feed(assembler, datagrams);
    EXPECT_EQ(result.dropped, 1);
    EXPECT_EQ(assembler.expected_slot(), 0);
    EXPECT_EQ(assembler.range().rows.size(), 3u);

    // A huge slots field holds at most the mask's 64 rows.
    EncoderOptions huge;
    huge.slots_field = 65535;
    EncoderFrame tall = sent;
    tall.rows = 70;
    tall.allocate();
    result = feed(assembler, encode_frame(tall, huge));
    EXPECT_EQ(assembler.range().rows.size(), 64u);
    // Slot 64 ends the frame as a slot loss; the slots after it are dropped.
    EXPECT_EQ(result.incomplete, 1);
    EXPECT_EQ(result.dropped, 70 - 64 - 1);
    EXPECT_TRUE(result.frames.empty());

    // Afterwards a normal frame is assembled.
    result = feed(assembler, encode_frame(sent));
    ASSERT_EQ(result.frames.size(), 1u);
    expect_matches(*result.frames[0], sent);
}

TEST(Assembler, MutatedDatagramsNeverReadOutOfBounds)
{
    std::mt19937 rng(20260807);
    std::atomic<uint64_t> mask{0};
    FrameAssembler assembler(mask);
    const std::size_t interpreted[] = {0x04, 0x05, 0x16, 0x46, 0x47, 0x48, 0x49, 0xA0, 0xA1, 0xA5, 0xAA, 0xAF};
    Datagrams base;
    for (int returns : {1, 2}) {
        for (int words : {192, 576}) {
            EncoderOptions options;
            options.blocks = 1 + static_cast<int>(rng() % 6);
            TESTSUPPORT::append(base, encode_frame(make_synthetic_frame(rng(), 3, returns, words), options));
        }
    }
    testing::internal::CaptureStdout();
    for (int i = 0; i < 6000; ++i) {
        std::vector<uint8_t> d = base[i % base.size()];
        const int edits = static_cast<int>(rng() % 4);
        for (int e = 0; e < edits; ++e) {
            switch (rng() % 5) {
            case 0:  // an interpreted field gets a random byte
                d[interpreted[rng() % 12]] = static_cast<uint8_t>(rng());
                break;
            case 1:  // truncated anywhere
                d.resize(rng() % (d.size() + 1));
                break;
            case 2:  // grown
                d.resize(d.size() + rng() % 3000, static_cast<uint8_t>(rng()));
                break;
            case 3:  // random byte anywhere
                if (!d.empty()) {
                    d[rng() % d.size()] = static_cast<uint8_t>(rng());
                }
                break;
            default:  // small block counts and word counts
                if (d.size() > 0x49) {
                    d[0x46] = static_cast<uint8_t>(rng() % 8);
                    d[0x47] = 0;
                    d[0x48] = static_cast<uint8_t>(rng() % 4);
                    d[0x49] = static_cast<uint8_t>(rng() % 3);
                }
                break;
            }
        }
        const TESTSUPPORT::FeedResult result = feed(assembler, {d});
        for (const TQZ::Frame& frame : result.frames) {
            ASSERT_LE(frame->rows.size(), 64u);
            for (const TQZ::FrameRow& row : frame->rows) {
                ASSERT_TRUE(row.ambient.size() == 0 || row.ambient.size() == 192 || row.ambient.size() == 576);
                if (row.record_size > 0) {
                    ASSERT_EQ(row.records.size() % row.record_size, 0u);
                }
            }
        }
    }
    testing::internal::GetCapturedStdout();

    // Whatever state the garbage left behind, an out-of-sequence slot returns
    // the assembler to slot 0 and the next intact frame comes through whole.
    const EncoderFrame sent = make_synthetic_frame(99, 3);
    EncoderOptions stray;
    stray.slot = 999;
    Datagrams clean{encode_slot(sent, 0, stray)};
    TESTSUPPORT::append(clean, encode_frame(sent));
    const TESTSUPPORT::FeedResult result = feed(assembler, clean);
    ASSERT_EQ(result.frames.size(), 1u);
    expect_matches(*result.frames[0], sent);
}
