#include <cstddef>
#include <cstring>
#include <memory>
#include <utility>

#include <gtest/gtest.h>

#include "protocol/fw_protocol.hpp"
#include "protocol/tcp_protocol.hpp"

using VELKOR::_TCP_PROTOCOL_T;

namespace {

std::unique_ptr<_TCP_PROTOCOL_T> patterned(uint8_t seed)
{
    auto frame = std::make_unique<_TCP_PROTOCOL_T>();
    auto* bytes = reinterpret_cast<uint8_t*>(frame.get());
    for (std::size_t i = 0; i < sizeof(_TCP_PROTOCOL_T); ++i) {
        bytes[i] = static_cast<uint8_t>(seed + i * 7);
    }
    return frame;
}

}  // namespace

TEST(TcpProtocol, LayoutIsThePackedWireLayout)
{
    EXPECT_EQ(sizeof(_TCP_PROTOCOL_T), 65535u);
    EXPECT_EQ(offsetof(_TCP_PROTOCOL_T, length), 0u);
    EXPECT_EQ(offsetof(_TCP_PROTOCOL_T, main_command), 2u);
    EXPECT_EQ(offsetof(_TCP_PROTOCOL_T, sub_command), 3u);
    EXPECT_EQ(offsetof(_TCP_PROTOCOL_T, payload), 4u);
    EXPECT_EQ(alignof(_TCP_PROTOCOL_T), 1u);
}

TEST(TcpProtocol, LengthIsLittleEndianOnTheWire)
{
    auto frame = std::make_unique<_TCP_PROTOCOL_T>();
    TQZ::fw_set_header(*frame, 0x05A4, 'F', 'U');
    const auto* bytes = reinterpret_cast<const uint8_t*>(frame.get());
    EXPECT_EQ(bytes[0], 0xA4);
    EXPECT_EQ(bytes[1], 0x05);
    EXPECT_EQ(bytes[2], 'F');
    EXPECT_EQ(bytes[3], 'U');
    EXPECT_EQ(TQZ::fw_length(*frame), 0x05A4);
}

TEST(TcpProtocol, CopyAndMoveAssignmentCopyEveryByte)
{
    auto source = patterned(3);
    auto copied = patterned(200);
    *copied = *source;
    EXPECT_EQ(std::memcmp(copied.get(), source.get(), sizeof(_TCP_PROTOCOL_T)), 0);

    auto moved = patterned(90);
    auto expected = patterned(3);
    *moved = std::move(*source);
    EXPECT_EQ(std::memcmp(moved.get(), expected.get(), sizeof(_TCP_PROTOCOL_T)), 0);

    // Self-assignment keeps the frame intact.
    _TCP_PROTOCOL_T& self = *copied;
    *copied = self;
    *copied = std::move(self);
    EXPECT_EQ(std::memcmp(copied.get(), expected.get(), sizeof(_TCP_PROTOCOL_T)), 0);
}

TEST(TcpProtocol, ValueInitialisedFrameIsAllZero)
{
    auto frame = patterned(1);
    *frame = _TCP_PROTOCOL_T{};
    const auto* bytes = reinterpret_cast<const uint8_t*>(frame.get());
    std::size_t nonzero = 0;
    for (std::size_t i = 0; i < sizeof(_TCP_PROTOCOL_T); ++i) {
        nonzero += bytes[i] != 0;
    }
    EXPECT_EQ(nonzero, 0u);
}
