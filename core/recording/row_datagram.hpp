#pragma once

// The one rule by which everything that reads the data port's traffic tells
// an image row from other datagrams: a datagram longer than 1080 bytes is a
// row. A row carries its slot number (0 begins a frame) as a u16
// little-endian at byte 4 and the number of rows of its frame (the slots
// field) as a u16 little-endian at byte 0xA0.

#include <cstddef>
#include <cstdint>

namespace VELKOR {

class RowDatagram {
public:
    // Datagrams of this size or less are no row.
    static constexpr std::size_t kMaxOtherBytes = 1080;
    static constexpr std::size_t kSlotOffset = 0x04;
    static constexpr std::size_t kSlotsOffset = 0xA0;
    // The leading bytes of a row that hold both fields: enough to classify a
    // recorded datagram without loading all of it.
    static constexpr std::size_t kHeadBytes = kSlotsOffset + 2;

    static constexpr bool is_row(uint64_t size) { return size > kMaxOtherBytes; }

    // `data` holds at least the first min(size, kHeadBytes) bytes of a
    // datagram of `size` bytes (nullptr is no datagram).
    RowDatagram(const unsigned char* data, uint64_t size) : data_(data), size_(data ? size : 0) {}

    bool is_row() const { return is_row(size_); }
    // The fields of a row; 0 for a datagram that is no row.
    uint16_t slot() const { return is_row() ? u16(kSlotOffset) : 0; }
    uint16_t slots() const { return is_row() ? u16(kSlotsOffset) : 0; }
    bool begins_frame() const { return is_row() && slot() == 0; }
    // The last row of its frame: slot = slots field - 1.
    bool ends_frame() const { return is_row() && slot() + 1 == slots(); }

private:
    uint16_t u16(std::size_t at) const { return static_cast<uint16_t>(data_[at] | (data_[at + 1] << 8)); }

    const unsigned char* data_;
    uint64_t size_;
};

}  // namespace VELKOR
