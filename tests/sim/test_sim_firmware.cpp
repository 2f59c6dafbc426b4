#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "protocol/fw_protocol.hpp"
#include "sim_firmware.hpp"

using VELKOR::SIM::SimFirmware;

namespace {

using Bytes = std::vector<uint8_t>;

// The frames a host sends for `image`, as one byte stream.
Bytes upload_stream(const Bytes& image)
{
    auto frame = std::make_unique<VELKOR::_TCP_PROTOCOL_T>();
    const int64_t packets = TQZ::fw_packet_count(static_cast<int64_t>(image.size()));
    Bytes stream;
    const std::size_t start = TQZ::fw_build_start_frame(*frame, packets);
    const auto* raw = reinterpret_cast<const uint8_t*>(frame.get());
    stream.insert(stream.end(), raw, raw + start);
    std::size_t offset = 0;
    for (int64_t left = packets - 1; left >= 0; --left) {
        const std::size_t n = std::min(TQZ::kFwPacketBytes, image.size() - offset);
        TQZ::fw_write_prefix(*frame, left);
        TQZ::fw_set_header(*frame, static_cast<uint16_t>(n + 8), 'F', 'U');
        std::memcpy(frame->payload + 8, image.data() + offset, n);
        offset += n;
        stream.insert(stream.end(), raw, raw + n + 12);
    }
    return stream;
}

Bytes image_of(std::size_t size)
{
    Bytes image(size);
    for (std::size_t i = 0; i < size; ++i) {
        image[i] = static_cast<uint8_t>(i * 31 + 7);
    }
    return image;
}

struct Seen {
    std::string subs;  // main+sub of every reply, e.g. "FAFRFR"
    std::vector<std::string> texts;
};

Seen feed(SimFirmware& sim, const Bytes& stream, std::size_t piece)
{
    Seen seen;
    for (std::size_t i = 0; i < stream.size(); i += piece) {
        const std::size_t n = std::min(piece, stream.size() - i);
        for (const SimFirmware::Reply& reply : sim.receive(stream.data() + i, n)) {
            const TQZ::FwReply parsed = TQZ::parse_fw_reply(reply.bytes.data(), reply.bytes.size());
            seen.subs += static_cast<char>(parsed.main_command);
            seen.subs += static_cast<char>(parsed.sub_command);
            seen.texts.push_back(parsed.text);
        }
    }
    return seen;
}

}  // namespace

TEST(SimFirmware, TakesAnImageInAnySplitAndReportsProgress)
{
    const Bytes image = image_of(1429);
    for (std::size_t piece : {std::size_t{1}, std::size_t{5}, std::size_t{1440}, std::size_t{100000}}) {
        SimFirmware sim;
        const Seen seen = feed(sim, upload_stream(image), piece);
        EXPECT_EQ(seen.subs, "FAFRFRFPFP") << piece;
        EXPECT_EQ(seen.texts, (std::vector<std::string>{"", "50", "100", "50", "100"})) << piece;
        EXPECT_EQ(sim.state(), SimFirmware::State::programmed);
        EXPECT_EQ(sim.announced_packets(), 2);
        EXPECT_EQ(sim.image(), image);
        EXPECT_EQ(sim.frame_sizes(), (std::vector<std::size_t>{12, 1440, 13}));
    }
}

TEST(SimFirmware, RejectsAnImageThatDiffersFromTheAnnouncement)
{
    // Announces 3 packets, sends 2 (the last one says "0000").
    Bytes stream = upload_stream(image_of(2000));
    stream[11] = '3';
    SimFirmware sim;
    const Seen seen = feed(sim, stream, 64);
    EXPECT_EQ(seen.subs.substr(seen.subs.size() - 2), "FX");
    EXPECT_EQ(sim.state(), SimFirmware::State::failed);
    EXPECT_FALSE(sim.failure().empty());

    // A frame that is no upload frame at all.
    SimFirmware garbage;
    EXPECT_EQ(feed(garbage, SimFirmware::make_frame('Q', 'Z', "hello"), 100).subs, "FX");
}

TEST(SimFirmware, FaultModesShapeTheReplies)
{
    const Bytes stream = upload_stream(image_of(3000));
    struct Case {
        SimFirmware::Fault fault;
        const char* subs;
        const char* json;
    };
    using F = SimFirmware::Fault;
    const Case cases[] = {
        {F::refuse, "FAFX", R"({"firmware_upgrade":true})"},
        {F::no_ack, "", R"({"firmware_upgrade":true})"},
        {F::silent_mid_transfer, "FA", R"({"firmware_upgrade":true})"},
        {F::wrong_main, "FAGRFRFRFPFP", R"({"firmware_upgrade":true})"},
        {F::wrong_sub, "FAFQFRFRFPFP", R"({"firmware_upgrade":true})"},
        {F::bad_progress, "FAFRFRFRFPFP", R"({"firmware_upgrade":true})"},
        {F::json_refuse, "FAFRFRFRFPFP", R"({"firmware_upgrade":false})"},
        {F::json_silent, "FAFRFRFRFPFP", ""},
        {F::json_not_boolean, "FAFRFRFRFPFP", R"({"firmware_upgrade":"yes"})"},
    };
    for (const Case& c : cases) {
        SimFirmware::Options options;
        options.fault = c.fault;
        SimFirmware sim(options);
        EXPECT_EQ(feed(sim, stream, 700).subs, c.subs) << static_cast<int>(c.fault);
        EXPECT_EQ(sim.json_answer(), c.json) << static_cast<int>(c.fault);
    }
}
