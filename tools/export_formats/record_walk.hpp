#pragma once

// One pass over the records of a `.bin` recording for the tools that
// inspect files: length fields are checked against the file size and only
// the leading bytes of a payload that classify it are read.

#include <cstdint>
#include <fstream>
#include <string>

#include "recording/record_format.hpp"
#include "recording/row_datagram.hpp"

namespace VELKOR {
namespace EXPORT {

struct RecordWalk {
    bool opened = false;
    uint64_t bytes = 0; // file size
    uint64_t end = 0;   // offset after the last whole record
};

// Calls visit(time_us, length, row) for every whole record, where `row`
// views the payload's leading bytes (enough to tell a row and read its slot fields).
// Ends at a truncated or over-long record.
template <typename Visit>
RecordWalk walk_records(const std::string& path, Visit visit)
{
    RecordWalk walk;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return walk;
    }
    walk.opened = true;
    walk.bytes = VELKOR::RecordReader::stream_size(in);
    VELKOR::RecordReader reader(in, 0, walk.bytes);
    while (reader.next()) {
        const uint64_t length = reader.header().length;
        const unsigned char* head = reader.head(VELKOR::RowDatagram::kHeadBytes);
        if (head == nullptr) {
            break;
        }
        walk.end = reader.position();
        visit(reader.header().time_us, length, VELKOR::RowDatagram(head, length));
    }
    return walk;
}

}  // namespace EXPORT
}  // namespace VELKOR
