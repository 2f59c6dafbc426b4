#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <unistd.h>

#include "util/file_io.hpp"

using namespace VELKOR::FILE_IO;

namespace {

class FileIo : public testing::Test {
protected:
    void SetUp() override
    {
        dir_ = std::string(VELKOR_TEST_TMP) + "/file_io_" + std::to_string(getpid());
        ASSERT_EQ(system(("mkdir -p " + dir_).c_str()), 0);
    }
    void TearDown() override { EXPECT_EQ(system(("rm -rf " + dir_).c_str()), 0); }

    std::string path(const std::string& name) const { return dir_ + "/" + name; }

    void write_file(const std::string& name, const std::string& bytes) const
    {
        std::ofstream(path(name), std::ios::binary) << bytes;
    }

    std::string read_file(const std::string& name) const
    {
        std::ifstream in(path(name), std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    std::string dir_;
};

} // namespace

TEST_F(FileIo, ReadBinaryFileCutsChunksPaddedOrNot)
{
    write_file("ten.bin", "0123456789");
    const auto padded = read_binary_file(path("ten.bin"), 4, true);
    ASSERT_EQ(padded.size(), 3u);
    for (const auto& chunk : padded) {
        EXPECT_EQ(chunk.size(), 4u);
    }
    EXPECT_EQ(padded[2], (std::vector<uint8_t>{'8', '9', 0xFF, 0xFF}));

    const auto exact = read_binary_file(path("ten.bin"), 4, false);
    ASSERT_EQ(exact.size(), 3u);
    EXPECT_EQ(exact[0], (std::vector<uint8_t>{'0', '1', '2', '3'}));
    EXPECT_EQ(exact[2], (std::vector<uint8_t>{'8', '9'}));

    const auto whole = read_binary_file(path("ten.bin"), 5, false);
    ASSERT_EQ(whole.size(), 2u);
    EXPECT_EQ(whole[1].size(), 5u);
}

TEST_F(FileIo, ReadBinaryFileRefusesMissingFilesAndZeroChunks)
{
    write_file("ten.bin", "0123456789");
    EXPECT_TRUE(read_binary_file(path("missing.bin"), 4, true).empty());
    EXPECT_TRUE(read_binary_file(path("ten.bin"), 0, true).empty());
    write_file("empty.bin", "");
    EXPECT_TRUE(read_binary_file(path("empty.bin"), 4, true).empty());
}

TEST_F(FileIo, ReadAsciiFileHonoursTheLineLimit)
{
    write_file("five.txt", "l1\nl2\nl3\nl4\nl5\n");
    write_file("no_newline.txt", "a\nb");
    write_file("empty.txt", "");
    struct Row {
        std::string name;
        unsigned int limit;
        std::vector<std::string> expected;
    };
    const Row rows[] = {
        {"five.txt", 2, {"l1", "l2"}},
        {"five.txt", 0, {"l1", "l2", "l3", "l4", "l5", ""}},
        {"five.txt", 6, {"l1", "l2", "l3", "l4", "l5", ""}},
        {"five.txt", 100, {"l1", "l2", "l3", "l4", "l5", ""}},
        {"no_newline.txt", 0, {"a", "b"}},
        {"empty.txt", 0, {""}},
        {"missing.txt", 0, {}},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(read_ascii_file(path(row.name), row.limit), row.expected) << row.name << " " << row.limit;
    }
}

TEST_F(FileIo, ReadAsciiFileOfADirectoryEnds)
{
    EXPECT_TRUE(read_ascii_file(dir_, 0).empty());
}

TEST_F(FileIo, WriteBinaryFileReplacesOrAppends)
{
    EXPECT_EQ(writeBinaryFile(path("out.bin"), "abcdef", 3, 'w'), 3);
    EXPECT_EQ(writeBinaryFile(path("out.bin"), "xyz", 3, 'a'), 3);
    EXPECT_EQ(read_file("out.bin"), "abcxyz");
    EXPECT_EQ(writeBinaryFile(path("out.bin"), "Q", 1, 'x'), 1);
    EXPECT_EQ(read_file("out.bin"), "Q");
    EXPECT_EQ(writeBinaryFile(path("no/such/dir/out.bin"), "Q", 1, 'w'), -1);
}

TEST_F(FileIo, WriteAsciiFileReportsWhetherItWrote)
{
    EXPECT_TRUE(write_ascii_file(path("log.txt"), "one\n", false));
    EXPECT_TRUE(write_ascii_file(path("log.txt"), "two\n", true));
    EXPECT_EQ(read_file("log.txt"), "one\ntwo\n");
    EXPECT_TRUE(write_ascii_file(path("log.txt"), "three", false));
    EXPECT_EQ(read_file("log.txt"), "three");
    EXPECT_FALSE(write_ascii_file(path("no/such/dir/log.txt"), "x", false));
}

TEST_F(FileIo, SizeAndExistence)
{
    write_file("ten.bin", "0123456789");
    EXPECT_EQ(get_file_size(path("ten.bin")), 10u);
    EXPECT_EQ(get_file_size(path("missing.bin")), 0u);
    EXPECT_TRUE(check_file_exists(path("ten.bin")));
    EXPECT_FALSE(check_file_exists(path("missing.bin")));
}
