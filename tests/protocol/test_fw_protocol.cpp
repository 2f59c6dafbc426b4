#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "protocol/fw_protocol.hpp"

using namespace TQZ;

namespace {

std::vector<uint8_t> reply_bytes(uint16_t length, char main_command, char sub_command, const std::string& text)
{
    std::vector<uint8_t> bytes(4 + text.size());
    bytes[0] = static_cast<uint8_t>(length & 0xFF);
    bytes[1] = static_cast<uint8_t>(length >> 8);
    bytes[2] = static_cast<uint8_t>(main_command);
    bytes[3] = static_cast<uint8_t>(sub_command);
    std::copy(text.begin(), text.end(), bytes.begin() + 4);
    return bytes;
}

FwReplyOutcome interpret(char main_command, char sub_command, const std::string& text)
{
    const auto bytes = reply_bytes(static_cast<uint16_t>(text.size()), main_command, sub_command, text);
    std::string accumulator;
    return interpret_fw_reply(parse_fw_reply(bytes.data(), bytes.size()), accumulator);
}

}  // namespace

TEST(FwProtocol, PacketCountAndSizeLimits)
{
    struct Case {
        int64_t size;
        int64_t packets;
        bool acceptable;
    };
    const Case cases[] = {
        {0, 0, false},          {1, 1, true},           {1428, 1, true},
        {1429, 2, true},        {2856, 2, true},        {14278572, 9999, true},
        {14278573, 10000, false}, {-5, 0, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(fw_packet_count(c.size), c.packets) << c.size;
        EXPECT_EQ(fw_size_acceptable(c.size), c.acceptable) << c.size;
    }
}

TEST(FwProtocol, StartFrameAnnouncesThePacketCount)
{
    auto frame = std::make_unique<VELKOR::_TCP_PROTOCOL_T>();
    ASSERT_EQ(fw_build_start_frame(*frame, 1), 12u);
    EXPECT_EQ(std::memcmp(frame.get(), "\x08\x00" "FUFWUP0001", 12), 0);

    fw_build_start_frame(*frame, 9999);
    EXPECT_EQ(std::memcmp(frame.get(), "\x08\x00" "FUFWUP9999", 12), 0);

    fw_write_prefix(*frame, 42);
    EXPECT_EQ(std::memcmp(frame->payload, "FWUP0042", 8), 0);
}

TEST(FwProtocol, ReplyTextComesFromTheLowFourBitsAndStaysInsideTheChunk)
{
    // 0x13: the low four bits say 3 characters.
    auto bytes = reply_bytes(0x13, 'F', 'R', "505050");
    FwReply reply = parse_fw_reply(bytes.data(), bytes.size());
    EXPECT_TRUE(reply.has_header);
    EXPECT_EQ(reply.main_command, 'F');
    EXPECT_EQ(reply.sub_command, 'R');
    EXPECT_EQ(reply.text, "505");

    // Claims 15 characters, carries 2.
    bytes = reply_bytes(0x0F, 'F', 'P', "42");
    EXPECT_EQ(parse_fw_reply(bytes.data(), bytes.size()).text, "42");

    // Two frames in one chunk: only the first one is read.
    bytes = reply_bytes(2, 'F', 'R', "10");
    const auto second = reply_bytes(3, 'F', 'P', "100");
    bytes.insert(bytes.end(), second.begin(), second.end());
    reply = parse_fw_reply(bytes.data(), bytes.size());
    EXPECT_EQ(reply.sub_command, 'R');
    EXPECT_EQ(reply.text, "10");

    // Shorter than a header: no command bytes at all.
    const uint8_t stub[3] = {0, 0, 'F'};
    reply = parse_fw_reply(stub, sizeof(stub));
    EXPECT_FALSE(reply.has_header);
    EXPECT_EQ(reply.main_command, 0);
    EXPECT_FALSE(parse_fw_reply(nullptr, 0).has_header);
}

TEST(FwProtocol, OnlyFAIsAnAcknowledgement)
{
    auto bytes = reply_bytes(0, 'F', 'A', "");
    EXPECT_TRUE(fw_is_ack(parse_fw_reply(bytes.data(), bytes.size())));
    bytes = reply_bytes(0, 'F', 'R', "");
    EXPECT_FALSE(fw_is_ack(parse_fw_reply(bytes.data(), bytes.size())));
    bytes = reply_bytes(0, 'G', 'A', "");
    EXPECT_FALSE(fw_is_ack(parse_fw_reply(bytes.data(), bytes.size())));
    EXPECT_FALSE(fw_is_ack(parse_fw_reply(bytes.data(), 3)));
}

TEST(FwProtocol, ProgressTextParsesLikeAFloatConversionWithoutThrowing)
{
    struct Case {
        const char* text;
        bool ok;
        float value;
    };
    const Case cases[] = {
        {"50", true, 50.0f},    {"100.0", true, 100.0f}, {" 42.5", true, 42.5f}, {"7%", true, 7.0f},
        {"abc", false, 0.0f},   {"", false, 0.0f},       {"-", false, 0.0f},     {"1e99", false, 0.0f},
    };
    for (const Case& c : cases) {
        float value = -1;
        EXPECT_EQ(parse_fw_progress(c.text, value), c.ok) << c.text;
        if (c.ok) {
            EXPECT_FLOAT_EQ(value, c.value) << c.text;
        }
    }
}

TEST(FwProtocol, ProgressReportsBecomeProgressTexts)
{
    FwReplyOutcome outcome = interpret('F', 'R', "50");
    EXPECT_EQ(outcome.status, std::vector<std::string>{"PG25.000000"});
    EXPECT_FALSE(outcome.ended);

    outcome = interpret('F', 'P', "0");
    EXPECT_EQ(outcome.status, std::vector<std::string>{"PG50.000000"});

    outcome = interpret('F', 'P', "100");
    EXPECT_EQ(outcome.status, (std::vector<std::string>{"PG100.000000", "FW_Upload_Finish!"}));
    EXPECT_EQ(outcome.printed, std::vector<std::string>{"FW_Upload_Finish!"});
    EXPECT_TRUE(outcome.ended);
    EXPECT_TRUE(outcome.finished);

    // Only the exact text "100" finishes.
    outcome = interpret('F', 'P', "100.0");
    EXPECT_EQ(outcome.status, std::vector<std::string>{"PG100.000000"});
    EXPECT_FALSE(outcome.ended);
}

TEST(FwProtocol, EveryFailingReplyEndsTheUploadWithItsTexts)
{
    struct Case {
        char main_command;
        char sub_command;
        const char* text;
        const char* status;
        const char* printed;
    };
    const Case cases[] = {
        {'G', 'R', "10", "[FirmWare] FW_Upload_Fail_MainCmd_check!", "FW_Upload_Fail_MainCmd_check!"},
        {'F', 'Q', "", "[FirmWare] FW_Upload_Fail_SubCmd_check!", "FW_Upload_Fail_SubCmd_check!"},
        {'F', 'A', "", "[FirmWare] FW_Upload_Fail_SubCmd_check!", "FW_Upload_Fail_SubCmd_check!"},
        {'F', 'X', "", "[FirmWare] FW_Upload_Fail!", "FW_Upload_Fail!"},
        // A progress text that is no number fails the upload instead of throwing.
        {'F', 'R', "abc", "[FirmWare] FW_Upload_Fail_SubCmd_check!", "FW_Upload_Fail_SubCmd_check!"},
        {'F', 'P', "", "[FirmWare] FW_Upload_Fail_SubCmd_check!", "FW_Upload_Fail_SubCmd_check!"},
    };
    for (const Case& c : cases) {
        const FwReplyOutcome outcome = interpret(c.main_command, c.sub_command, c.text);
        EXPECT_EQ(outcome.status, std::vector<std::string>{c.status}) << c.main_command << c.sub_command;
        EXPECT_EQ(outcome.printed, std::vector<std::string>{c.printed}) << c.main_command << c.sub_command;
        EXPECT_TRUE(outcome.ended);
        EXPECT_FALSE(outcome.finished);
    }

    // A chunk too short for a header fails the main command check.
    std::string accumulator;
    const FwReplyOutcome outcome = interpret_fw_reply(parse_fw_reply(nullptr, 0), accumulator);
    EXPECT_EQ(outcome.printed, std::vector<std::string>{"FW_Upload_Fail_MainCmd_check!"});
}

TEST(FwProtocol, AccumulatorClearsAfterEachProgressReport)
{
    std::string accumulator;
    auto bytes = reply_bytes(2, 'F', 'R', "40");
    interpret_fw_reply(parse_fw_reply(bytes.data(), bytes.size()), accumulator);
    EXPECT_TRUE(accumulator.empty());
    bytes = reply_bytes(3, 'F', 'P', "100");
    const FwReplyOutcome outcome = interpret_fw_reply(parse_fw_reply(bytes.data(), bytes.size()), accumulator);
    EXPECT_TRUE(outcome.finished);
}
