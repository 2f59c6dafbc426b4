#include "recording/record_format.hpp"

#include <algorithm>
#include <cstring>

namespace VELKOR {

namespace {

void put_le64(unsigned char* out, uint64_t value)
{
    for (int i = 0; i < 8; ++i) {
        out[i] = static_cast<unsigned char>(value >> (8 * i));
    }
}

uint64_t get_le64(const unsigned char* in)
{
    uint64_t value = 0;
    for (int i = 7; i >= 0; --i) {
        value = (value << 8) | in[i];
    }
    return value;
}

}  // namespace

void RecordHeader::encode(unsigned char* out) const
{
    put_le64(out, static_cast<uint64_t>(time_us));
    put_le64(out + 8, length);
}

RecordHeader RecordHeader::decode(const unsigned char* in)
{
    RecordHeader header;
    header.time_us = static_cast<int64_t>(get_le64(in));
    header.length = get_le64(in + 8);
    return header;
}

std::vector<uint8_t> encode_record(int64_t time_us, const unsigned char* payload, uint64_t length)
{
    std::vector<uint8_t> record(RecordHeader::kSize + length);
    RecordHeader{time_us, length}.encode(record.data());
    if (length > 0) {
        std::memcpy(record.data() + RecordHeader::kSize, payload, length);
    }
    return record;
}

RecordReader::RecordReader(std::istream& in, uint64_t begin, uint64_t end)
    : in_(in), end_(std::max(begin, end)), pos_(begin), block_begin_(begin), block_end_(begin), stream_at_(begin)
{
    in_.clear();
    in_.seekg(static_cast<std::streamoff>(begin));
}

uint64_t RecordReader::stream_size(std::istream& in)
{
    in.clear();
    in.seekg(0, std::ios::end);
    const std::streamoff end = in.tellg();
    in.clear();
    in.seekg(0, std::ios::beg);
    return end > 0 ? static_cast<uint64_t>(end) : 0;
}

const unsigned char* RecordReader::bytes(uint64_t at, std::size_t n)
{
    if (at >= block_begin_ && at + n <= block_end_) {
        return block_.data() + (at - block_begin_);
    }
    // at + n <= end_ holds for every caller, so the block never reads past
    // the range and is never larger than the range left.
    const std::size_t size = static_cast<std::size_t>(std::max<uint64_t>(n, std::min<uint64_t>(kBlock, end_ - at)));
    block_.resize(size);
    if (at != stream_at_) {
        in_.clear();
        in_.seekg(static_cast<std::streamoff>(at));
    }
    in_.read(reinterpret_cast<char*>(block_.data()), static_cast<std::streamsize>(size));
    const std::streamsize got = in_.gcount();
    block_begin_ = at;
    block_end_ = at + static_cast<uint64_t>(got > 0 ? got : 0);
    stream_at_ = block_end_;
    if (at + n > block_end_) {
        return nullptr;
    }
    return block_.data();
}

bool RecordReader::next()
{
    if (pos_ >= end_) {
        return false;
    }
    if (end_ - pos_ < RecordHeader::kSize) {
        truncated_ = true;
        return false;
    }
    const unsigned char* header = bytes(pos_, RecordHeader::kSize);
    if (header == nullptr) {
        truncated_ = true;
        return false;
    }
    const RecordHeader decoded = RecordHeader::decode(header);
    if (decoded.length > end_ - pos_ - RecordHeader::kSize) {
        truncated_ = true;
        return false;
    }
    header_ = decoded;
    start_ = pos_;
    pos_ = start_ + RecordHeader::kSize + header_.length;
    return true;
}

const unsigned char* RecordReader::head(std::size_t n)
{
    const std::size_t want = static_cast<std::size_t>(std::min<uint64_t>(n, header_.length));
    if (want == 0) {
        static const unsigned char kNothing = 0;
        return &kNothing;
    }
    return bytes(start_ + RecordHeader::kSize, want);
}

bool RecordReader::payload(std::vector<uint8_t>& out)
{
    const uint64_t at = start_ + RecordHeader::kSize;
    out.resize(static_cast<std::size_t>(header_.length));
    if (header_.length == 0) {
        return true;
    }
    if (at >= block_begin_ && at + header_.length <= block_end_) {
        std::memcpy(out.data(), block_.data() + (at - block_begin_), out.size());
        return true;
    }
    // Larger than what the block holds: read straight into the payload.
    if (header_.length >= kBlock) {
        in_.clear();
        in_.seekg(static_cast<std::streamoff>(at));
        const bool read = static_cast<bool>(
            in_.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(out.size())));
        stream_at_ = read ? at + header_.length : ~uint64_t{0};
        return read;
    }
    const unsigned char* data = bytes(at, out.size());
    if (data == nullptr) {
        return false;
    }
    std::memcpy(out.data(), data, out.size());
    return true;
}

}  // namespace VELKOR
