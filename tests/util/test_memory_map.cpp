#include <gtest/gtest.h>

#include <cstring>
#include <fcntl.h>
#include <pthread.h>
#include <string>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include "util/memory_map.hpp"

using VELKOR::MemoryMap;

namespace {

// Every test gets names of its own, removed again afterwards.
class SharedMemory : public testing::Test {
protected:
    void SetUp() override
    {
        static int counter = 0;
        name_ = "velkor_test_" + std::to_string(getpid()) + "_" + std::to_string(++counter);
    }
    void TearDown() override { MemoryMap::unlink(name_.c_str()); }

    const char* name() const { return name_.c_str(); }

    // open with its diagnostics captured.
    static bool quiet_open(MemoryMap& map, const char* name, unsigned int size, std::string* out = nullptr)
    {
        testing::internal::CaptureStdout();
        const bool ok = map.open(name, size);
        const std::string text = testing::internal::GetCapturedStdout();
        if (out != nullptr) {
            *out = text;
        }
        return ok;
    }

    // Runs body in a child process; true when it exited with status 0.
    template <typename Body> static bool in_child(Body body)
    {
        const pid_t pid = fork();
        if (pid == 0) {
            _exit(body() ? 0 : 1);
        }
        int status = 0;
        return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }

    std::string name_;
};

} // namespace

TEST_F(SharedMemory, FirstOpenCreatesAndSecondAttaches)
{
    MemoryMap first;
    MemoryMap second;
    std::string out;
    ASSERT_TRUE(quiet_open(first, name(), 64, &out));
    EXPECT_EQ(out, "OpenMutex status: 2\nCreateMutex created a new mutex.\nOpenFileMapping status: 2\n");
    ASSERT_TRUE(quiet_open(second, name(), 64, &out));
    EXPECT_EQ(out, "OpenMutex successfully opend the mutex.\n");

    const char text[] = "shared bytes";
    EXPECT_TRUE(first.set(text, sizeof text));
    char back[sizeof text] = {};
    EXPECT_TRUE(second.get(back, sizeof back));
    EXPECT_STREQ(back, text);
}

TEST_F(SharedMemory, BytesCrossProcesses)
{
    MemoryMap map;
    ASSERT_TRUE(quiet_open(map, name(), 32));
    ASSERT_TRUE(map.set("from parent", 12));

    const std::string shm_name = name_;
    const bool child_ok = in_child([&shm_name] {
        MemoryMap child;
        char got[12] = {};
        return child.open(shm_name.c_str(), 32) && child.get(got, sizeof got) &&
               std::strcmp(got, "from parent") == 0 && child.set("from child", 11);
    });
    EXPECT_TRUE(child_ok);
    char got[11] = {};
    ASSERT_TRUE(map.get(got, sizeof got));
    EXPECT_STREQ(got, "from child");
}

TEST_F(SharedMemory, CopiesAreBoundedByTheSize)
{
    MemoryMap map;
    ASSERT_TRUE(quiet_open(map, name(), 4));
    const char source[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_TRUE(map.set(source, sizeof source));
    char sink[8];
    std::memset(sink, 0x55, sizeof sink);
    EXPECT_TRUE(map.get(sink, sizeof sink));
    EXPECT_EQ(std::string(sink, 8), std::string("\x01\x02\x03\x04\x55\x55\x55\x55", 8));

    char shorter[2] = {9, 9};
    EXPECT_TRUE(map.set(shorter, 2));
    EXPECT_TRUE(map.get(sink, 4));
    EXPECT_EQ(std::string(sink, 4), std::string("\x09\x09\x03\x04", 4));
}

TEST_F(SharedMemory, NothingIsCopiedBeforeOpen)
{
    MemoryMap map;
    char data[4] = {1, 2, 3, 4};
    EXPECT_FALSE(map.set(data, 4));
    EXPECT_FALSE(map.get(data, 4));
    EXPECT_EQ(std::string(data, 4), std::string("\x01\x02\x03\x04", 4));
}

TEST_F(SharedMemory, SecondOpenWithoutCloseIsRefused)
{
    MemoryMap map;
    ASSERT_TRUE(quiet_open(map, name(), 16));
    std::string out;
    EXPECT_FALSE(quiet_open(map, name(), 16, &out));
    EXPECT_EQ(out, "SharedMemoryManager::open_mutex error: mutex already opened.\n"
                   "SharedMemoryManager::create_mutex error: mutex already created.\n");
    EXPECT_TRUE(map.set("ok", 2)); // the first attachment is untouched
}

TEST_F(SharedMemory, CloseAndReopen)
{
    MemoryMap map;
    ASSERT_TRUE(quiet_open(map, name(), 16));
    ASSERT_TRUE(map.set("kept", 4));
    map.close();
    char got[4] = {};
    EXPECT_FALSE(map.get(got, 4));
    std::string out;
    ASSERT_TRUE(quiet_open(map, name(), 16, &out));
    EXPECT_EQ(out, "OpenMutex successfully opend the mutex.\n");
    ASSERT_TRUE(map.get(got, 4));
    EXPECT_EQ(std::string(got, 4), "kept");
}

TEST_F(SharedMemory, OpeningWithALargerSizeFailsAtTheView)
{
    MemoryMap creator;
    ASSERT_TRUE(quiet_open(creator, name(), 16));
    MemoryMap larger;
    std::string out;
    EXPECT_FALSE(quiet_open(larger, name(), 17, &out));
    EXPECT_EQ(out, "OpenMutex successfully opend the mutex.\nMapViewOfFile status: 6\n");
    EXPECT_FALSE(larger.set("x", 1)); // left closed
    EXPECT_TRUE(creator.set("x", 1));
}

TEST_F(SharedMemory, ZeroSizeIsRefused)
{
    MemoryMap map;
    std::string out;
    EXPECT_FALSE(quiet_open(map, name(), 0, &out));
    EXPECT_NE(out.find("CreateFileMapping status: 22\n"), std::string::npos) << out;
}

TEST_F(SharedMemory, AMutexWhoseOwnerDiedIsReportedAsAbandoned)
{
    MemoryMap map;
    MemoryMap other;
    ASSERT_TRUE(quiet_open(map, name(), 16));
    ASSERT_TRUE(quiet_open(other, name(), 16));
    ASSERT_TRUE(map.set("before", 6));

    // The child takes the mutex (at the start of the mutex object) and dies
    // without releasing it.
    const std::string mutex_name = "/MutexObject_" + name_;
    ASSERT_TRUE(in_child([&mutex_name] {
        const int fd = shm_open(mutex_name.c_str(), O_RDWR, 0);
        if (fd < 0) {
            return false;
        }
        void* view = mmap(nullptr, sizeof(pthread_mutex_t), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        return view != MAP_FAILED && pthread_mutex_lock(static_cast<pthread_mutex_t*>(view)) == 0;
    }));

    char got[6] = {};
    EXPECT_FALSE(map.get(got, 6)); // abandoned: nothing copied
    EXPECT_EQ(std::string(got, 6), std::string(6, '\0'));
    EXPECT_FALSE(map.set("after", 5)); // the object was closed

    // The mutex itself was made usable again for the other users.
    EXPECT_TRUE(other.get(got, 6));
    EXPECT_EQ(std::string(got, 6), "before");
    ASSERT_TRUE(quiet_open(map, name(), 16));
    EXPECT_TRUE(map.set("after", 5));
    EXPECT_TRUE(other.get(got, 5));
    EXPECT_EQ(std::string(got, 5), "after");
}
