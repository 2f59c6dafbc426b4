#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "recording/logger.hpp"
#include "recording_files.hpp"

using namespace recording_files;
using VELKOR::Logger;

// Hostile or damaged recordings must give a clear result: an index of what is
// sound, read_once failing where the file is not. Never a crash, a hang, a
// read past a buffer or an allocation of what a length field announces (the
// sanitizer build turns any of those into a failure).
namespace {

class HostileFile : public ::testing::Test {
protected:
    void SetUp() override { dir = fresh_dir(::testing::UnitTest::GetInstance()->current_test_info()->name()); }
    void TearDown() override
    {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }

    // Opens `bytes` as a recording, loads every indexed frame and checks the
    // index is consistent with the file. Returns the number of frames.
    std::size_t exercise(const Bytes& bytes)
    {
        // A new file each time: rewriting one file in place makes ext4 flush
        // it to disk on every close.
        const std::string path = dir + "hostile" + std::to_string(serial++) + ".bin";
        EXPECT_TRUE(write_file(path, bytes));
        Logger logger;
        EXPECT_TRUE(logger.open({path, true}));
        const auto index = logger.frame_index();
        EXPECT_FALSE(index.empty());
        EXPECT_EQ(index.back(), bytes.size());
        for (std::size_t i = 1; i < index.size(); ++i) {
            EXPECT_LT(index[i - 1], index[i]);
        }
        unsigned long long last = 0;
        logger.get_total_size(last);
        EXPECT_EQ(static_cast<uint32_t>(last + 1), index.size() - 1);
        for (std::size_t i = 0; i + 1 < index.size(); ++i) {
            logger.read_once(static_cast<int>(i));
            logger.packet_queue.clear();
        }
        EXPECT_FALSE(logger.read_once(static_cast<int>(index.size() - 1)));
        logger.close();
        std::filesystem::remove(path);
        return index.size() - 1;
    }

    Bytes two_frames()
    {
        Bytes file;
        for (int f = 0; f < 2; ++f) {
            for (uint16_t s = 0; s < 3; ++s) {
                append(file, record(f * 10 + s, datagram(s, 1100 + 50 * s, 0, 3)));
            }
        }
        return file;
    }

    std::string dir;
    int serial = 0;
};

}  // namespace

TEST_F(HostileFile, HugeLengthFieldsEndTheScan)
{
    for (uint64_t length : {uint64_t{1} << 63, ~uint64_t{0}, uint64_t{1} << 40}) {
        Bytes file = two_frames();
        Bytes evil = header(0, length);
        evil.resize(evil.size() + 1200, 0);  // what follows looks like a payload
        append(file, evil);
        append(file, two_frames());
        SCOPED_TRACE(length);
        EXPECT_EQ(exercise(file), 2u);
    }
}

TEST_F(HostileFile, ZeroLengthRecordsAreBrokenPackets)
{
    Bytes file;
    for (int i = 0; i < 1000; ++i) {
        append(file, header(i, 0));
    }
    EXPECT_EQ(exercise(file), 0u);

    // Between whole frames a zero-length record removes none.
    Bytes mixed = two_frames();
    append(mixed, header(0, 0));
    append(mixed, two_frames());
    EXPECT_EQ(exercise(mixed), 4u);
}

TEST_F(HostileFile, EmptyAndTinyFiles)
{
    EXPECT_EQ(exercise({}), 0u);
    EXPECT_EQ(exercise(Bytes(15, 0xFF)), 0u);
    EXPECT_EQ(exercise(header(1, 0)), 0u);
}

TEST_F(HostileFile, TruncatedAtEveryByte)
{
    const Bytes whole = two_frames();
    std::vector<uint64_t> record_ends;
    for (uint64_t at = 0; at < whole.size();) {
        uint64_t length = 0;
        for (int i = 7; i >= 0; --i) {
            length = (length << 8) | whole[at + 8 + i];
        }
        at += 16 + length;
        record_ends.push_back(at);
    }
    for (std::size_t cut = 0; cut <= whole.size(); ++cut) {
        const Bytes part(whole.begin(), whole.begin() + static_cast<long>(cut));
        // A frame counts once its last row is in the file whole.
        std::size_t expected = 0;
        if (cut >= record_ends[2]) {
            expected = 1;
        }
        if (cut >= record_ends[5]) {
            expected = 2;
        }
        SCOPED_TRACE(cut);
        EXPECT_EQ(exercise(part), expected);
    }
}

TEST_F(HostileFile, FileChangedAfterTheScan)
{
    const std::string path = dir + "changing.bin";
    ASSERT_TRUE(write_file(path, two_frames()));
    Logger logger;
    ASSERT_TRUE(logger.open({path, true}));
    // Another program rewrites the second record's length to 2^63.
    {
        std::fstream patch(path, std::ios::in | std::ios::out | std::ios::binary);
        patch.seekp(16 + 1100 + 8);
        const unsigned char huge[8] = {0, 0, 0, 0, 0, 0, 0, 0x80};
        patch.write(reinterpret_cast<const char*>(huge), 8);
    }
    EXPECT_FALSE(logger.read_once(0));
    EXPECT_EQ(logger.packet_queue.size(), 1u);
    logger.packet_queue.clear();
    EXPECT_TRUE(logger.read_once(1));
}

TEST_F(HostileFile, RandomBytesAndRandomDamage)
{
    std::mt19937_64 rng(20261208);
    for (int round = 0; round < 200; ++round) {
        Bytes file;
        if (round % 2 == 0) {
            // Pure noise, sometimes with small plausible length fields.
            file.resize(rng() % 20000);
            for (auto& b : file) {
                b = static_cast<uint8_t>(rng());
            }
            if (file.size() > 16 && round % 4 == 0) {
                file[8] = static_cast<uint8_t>(rng() % 64);
                std::fill(file.begin() + 9, file.begin() + 16, 0);
            }
        } else {
            // A sound recording with random bytes overwritten and a random cut.
            for (int f = 0; f < 4; ++f) {
                for (uint16_t s = 0; s < 5; ++s) {
                    append(file, record(s, datagram(s, 1081 + rng() % 400, 0, 5)));
                }
            }
            for (int hits = static_cast<int>(rng() % 8); hits > 0; --hits) {
                file[rng() % file.size()] = static_cast<uint8_t>(rng());
            }
            file.resize(rng() % (file.size() + 1));
        }
        SCOPED_TRACE(round);
        exercise(file);
    }
}
