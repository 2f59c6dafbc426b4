#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "recording/record_format.hpp"
#include "recording/row_datagram.hpp"
#include "recording_files.hpp"

using recording_files::Bytes;
using VELKOR::RecordReader;

namespace {

std::istringstream stream_of(const Bytes& bytes)
{
    return std::istringstream(std::string(bytes.begin(), bytes.end()));
}

}  // namespace

// The reader gives back what the test's own encoder wrote, also payloads
// larger than its block and records that straddle two blocks, and ends at a
// record whose length runs past the end.
TEST(RecordReader, ReadsWhatWasWrittenAndStopsAtATruncatedRecord)
{
    const std::vector<Bytes> payloads = {recording_files::datagram(0, 1200, 1), {},
                                         recording_files::datagram(1, RecordReader::kBlock + 77, 2),
                                         recording_files::datagram(2, RecordReader::kBlock - 5, 3),
                                         recording_files::datagram(3, 3000, 4)};
    Bytes file;
    for (std::size_t i = 0; i < payloads.size(); ++i) {
        recording_files::append(file, recording_files::record(-5 + static_cast<int64_t>(i), payloads[i]));
    }
    const std::size_t whole = file.size();
    recording_files::append(file, recording_files::header(9, 1000));
    file.resize(file.size() + 999);
    EXPECT_EQ(VELKOR::encode_record(-5, payloads[0].data(), payloads[0].size()),
              recording_files::record(-5, payloads[0]));

    std::istringstream in = stream_of(file);
    ASSERT_EQ(RecordReader::stream_size(in), file.size());
    RecordReader reader(in, 0, file.size());
    std::vector<uint8_t> payload;
    for (std::size_t i = 0; i < payloads.size(); ++i) {
        ASSERT_TRUE(reader.next()) << i;
        EXPECT_EQ(reader.header().time_us, -5 + static_cast<int64_t>(i));
        const unsigned char* head = reader.head(VELKOR::RowDatagram::kHeadBytes);
        ASSERT_NE(head, nullptr);
        if (!payloads[i].empty()) {
            EXPECT_EQ(VELKOR::RowDatagram(head, payloads[i].size()).slot(), i == 0 ? 0 : i - 1);
        }
        ASSERT_TRUE(reader.payload(payload)) << i;
        EXPECT_EQ(payload, payloads[i]) << i;
    }
    EXPECT_EQ(reader.position(), whole);
    EXPECT_FALSE(reader.next());
    EXPECT_TRUE(reader.truncated());
}

TEST(RowDatagram, OnlyDatagramsLongerThan1080BytesAreRows)
{
    Bytes d = recording_files::datagram(55, 1081);
    d[0xA0] = 56;
    d[0xA1] = 0;
    const VELKOR::RowDatagram row(d.data(), d.size());
    EXPECT_TRUE(row.is_row());
    EXPECT_EQ(row.slot(), 55);
    EXPECT_EQ(row.slots(), 56);
    EXPECT_TRUE(row.ends_frame());
    EXPECT_FALSE(row.begins_frame());
    const VELKOR::RowDatagram other(d.data(), 1080);
    EXPECT_FALSE(other.is_row());
    EXPECT_FALSE(other.ends_frame());
    EXPECT_FALSE(VELKOR::RowDatagram(nullptr, 2000).is_row());
}
