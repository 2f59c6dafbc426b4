#pragma once

// The `.bin` recording format, owned here alone: a plain concatenation of
// records, each an i64 reception time (microseconds since 1970-01-01 UTC), a
// u64 payload length N and the N payload bytes (one datagram as received),
// all little-endian. No file header, no trailer, no checksum.

#include <cstddef>
#include <cstdint>
#include <istream>
#include <vector>

namespace VELKOR {

struct RecordHeader {
    static constexpr std::size_t kSize = 16;

    int64_t time_us = 0;
    uint64_t length = 0;

    // Writes the kSize header bytes to `out`.
    void encode(unsigned char* out) const;
    // Reads kSize bytes at `in`.
    static RecordHeader decode(const unsigned char* in);
};

// One whole record (header and payload) in one buffer, ready for one write.
std::vector<uint8_t> encode_record(int64_t time_us, const unsigned char* payload, uint64_t length);

// Reads the records of a recording in order, between two byte offsets of the
// stream. Every length field is checked against the end before anything is
// read or allocated, so a truncated or hostile file ends the walk at its
// first record that is not whole. The reader holds one block of the file at
// a time (at most kBlock bytes, never more than the range it reads) and
// hands out the leading bytes of a payload in place.
class RecordReader {
public:
    static constexpr std::size_t kBlock = 256 * 1024;

    // Reads the records in [begin, end) of `in`; the stream is repositioned
    // as needed and its error state cleared first.
    RecordReader(std::istream& in, uint64_t begin, uint64_t end);

    // The size of a seekable stream (0 when it has none); leaves the stream
    // at its start with its error state cleared.
    static uint64_t stream_size(std::istream& in);

    // Advances to the next record. False at the end of the range, at a
    // record that does not end inside it (then truncated() is true) or when
    // the stream fails.
    bool next();

    const RecordHeader& header() const { return header_; }
    // Offset of the current record, and of the byte after it.
    uint64_t record_start() const { return start_; }
    uint64_t position() const { return pos_; }
    // The walk ended at a record that is not whole.
    bool truncated() const { return truncated_; }

    // The first min(n, length) payload bytes of the current record, valid
    // until the next call; nullptr when the stream cannot supply them.
    const unsigned char* head(std::size_t n);
    // The whole payload of the current record into `out`.
    bool payload(std::vector<uint8_t>& out);

private:
    // n bytes at absolute offset `at` (within the range), from the block.
    const unsigned char* bytes(uint64_t at, std::size_t n);

    std::istream& in_;
    uint64_t end_;
    uint64_t start_ = 0;
    uint64_t pos_;
    RecordHeader header_;
    bool truncated_ = false;
    std::vector<unsigned char> block_;
    uint64_t block_begin_ = 0;
    uint64_t block_end_ = 0;
    uint64_t stream_at_;  // where the stream stands after the last read
};

}  // namespace VELKOR
