#include "util/memory_map.hpp"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include "util/log_sink.hpp"

namespace VELKOR {

namespace {

// Layout of the mutex object. ready turns 1 once the creator has initialised
// the mutex, so a process that attaches early never locks a half-made one.
struct SharedMutex {
    pthread_mutex_t mutex;
    std::atomic<uint32_t> ready;
};

// How long an attaching process waits for a creator that is still sizing or
// initialising an object it has just made.
constexpr auto kCreatorGrace = std::chrono::seconds(1);
constexpr auto kPollStep = std::chrono::milliseconds(1);

// Waits until the object behind fd is at least min_size bytes long; false
// (errno set) when it does not grow within the grace period.
bool wait_for_size(int fd, off_t min_size)
{
    const auto deadline = std::chrono::steady_clock::now() + kCreatorGrace;
    while (true) {
        struct stat st {};
        if (fstat(fd, &st) != 0) {
            return false;
        }
        if (st.st_size >= min_size) {
            return true;
        }
        if (st.st_size != 0 || std::chrono::steady_clock::now() >= deadline) {
            errno = ENXIO; // the range asked for lies outside the object
            return false;
        }
        std::this_thread::sleep_for(kPollStep);
    }
}

} // namespace

// Owner of the two named objects of one MemoryMap. The "handles" are the
// descriptors of the mutex object and of the block; -1 when not open.
class SharedMemoryManager {
public:
    SharedMemoryManager() = default;
    ~SharedMemoryManager() { close(); }

    SharedMemoryManager(const SharedMemoryManager&) = delete;
    SharedMemoryManager& operator=(const SharedMemoryManager&) = delete;

    bool open(const char* name, unsigned int size);
    bool set(const void* data, unsigned int length);
    bool get(void* data, unsigned int length);
    void close();

private:
    enum class Region { opened, not_opened, map_failed };
    enum class Wait { acquired, abandoned, failed };

    bool open_mutex();
    bool create_mutex();
    bool attach_mutex(int fd);
    Region open_shared_memory(unsigned int size);
    bool create_shared_memory(unsigned int size);
    Wait wait();
    void release();
    void close_mutex();

    std::string mutex_name_;
    std::string region_name_;
    int mutex_handle_ = -1;
    SharedMutex* mutex_ = nullptr;
    int mapping_handle_ = -1;
    void* view_ = nullptr;
    size_t view_length_ = 0;
    unsigned int size_ = 0;
};

bool SharedMemoryManager::open(const char* name, unsigned int size)
{
    mutex_name_ = std::string("/MutexObject_") + name;
    region_name_ = std::string("/SharedMemoryObject_") + name;

    if (!open_mutex() && !create_mutex()) {
        return false;
    }
    const Region region = open_shared_memory(size);
    if (region == Region::map_failed) {
        return false;
    }
    if (region == Region::not_opened && !create_shared_memory(size)) {
        close();
        return false;
    }
    size_ = size;
    return true;
}

bool SharedMemoryManager::attach_mutex(int fd)
{
    if (!wait_for_size(fd, sizeof(SharedMutex))) {
        return false;
    }
    void* view = mmap(nullptr, sizeof(SharedMutex), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (view == MAP_FAILED) {
        return false;
    }
    auto* shared = static_cast<SharedMutex*>(view);
    const auto deadline = std::chrono::steady_clock::now() + kCreatorGrace;
    while (shared->ready.load(std::memory_order_acquire) != 1) {
        if (std::chrono::steady_clock::now() >= deadline) {
            munmap(view, sizeof(SharedMutex));
            errno = ETIMEDOUT;
            return false;
        }
        std::this_thread::sleep_for(kPollStep);
    }
    mutex_handle_ = fd;
    mutex_ = shared;
    return true;
}

bool SharedMemoryManager::open_mutex()
{
    if (mutex_handle_ != -1) {
        VELKOR::LogLine(VELKOR::log_level::warning, VELKOR::log_stream::out) << "SharedMemoryManager::open_mutex"
                  << " error: mutex already opened.";
        return false;
    }
    const int fd = shm_open(mutex_name_.c_str(), O_RDWR, 0);
    if (fd < 0 || !attach_mutex(fd)) {
        const int error = errno;
        if (fd >= 0) {
            ::close(fd);
        }
        VELKOR::LogLine(VELKOR::log_level::warning, VELKOR::log_stream::out) << "OpenMutex status: " << error;
        return false;
    }
    VELKOR::LogLine(VELKOR::log_level::info, VELKOR::log_stream::out) << "OpenMutex successfully opend the mutex.";
    return true;
}

bool SharedMemoryManager::create_mutex()
{
    if (mutex_handle_ != -1) {
        VELKOR::LogLine(VELKOR::log_level::warning, VELKOR::log_stream::out) << "SharedMemoryManager::create_mutex"
                  << " error: mutex already created.";
        return false;
    }
    int fd = shm_open(mutex_name_.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
    if (fd < 0 && errno == EEXIST) {
        // Another process created it since our open attempt.
        fd = shm_open(mutex_name_.c_str(), O_RDWR, 0);
        if (fd >= 0 && attach_mutex(fd)) {
            VELKOR::LogLine(VELKOR::log_level::info, VELKOR::log_stream::out) << "CreateMutex opened an existing mutex.";
            return true;
        }
        const int error = errno;
        if (fd >= 0) {
            ::close(fd);
        }
        VELKOR::LogLine(VELKOR::log_level::warning, VELKOR::log_stream::out) << "CreateMutex status: " << error;
        return false;
    }
    if (fd < 0) {
        VELKOR::LogLine(VELKOR::log_level::warning, VELKOR::log_stream::out) << "CreateMutex status: " << errno;
        return false;
    }

    void* view = MAP_FAILED;
    int error = 0;
    if (ftruncate(fd, sizeof(SharedMutex)) == 0) {
        view = mmap(nullptr, sizeof(SharedMutex), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    }
    if (view == MAP_FAILED) {
        error = errno;
    } else {
        auto* shared = static_cast<SharedMutex*>(view);
        pthread_mutexattr_t attr;
        pthread_mutexattr_init(&attr);
        pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED);
        pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST);
        error = pthread_mutex_init(&shared->mutex, &attr);
        pthread_mutexattr_destroy(&attr);
        if (error == 0) {
            shared->ready.store(1, std::memory_order_release);
            mutex_handle_ = fd;
            mutex_ = shared;
            VELKOR::LogLine(VELKOR::log_level::info, VELKOR::log_stream::out) << "CreateMutex created a new mutex.";
            return true;
        }
        munmap(view, sizeof(SharedMutex));
    }
    ::close(fd);
    shm_unlink(mutex_name_.c_str());
    VELKOR::LogLine(VELKOR::log_level::warning, VELKOR::log_stream::out) << "CreateMutex status: " << error;
    return false;
}

SharedMemoryManager::Region SharedMemoryManager::open_shared_memory(unsigned int size)
{
    if (mapping_handle_ != -1) {
        VELKOR::LogLine(VELKOR::log_level::warning, VELKOR::log_stream::out) << "SharedMemoryManager::open_shared_memory"
                  << " error: " << region_name_ << "already opened.";
        return Region::not_opened;
    }
    const int fd = shm_open(region_name_.c_str(), O_RDWR, 0);
    if (fd < 0) {
        VELKOR::LogLine(VELKOR::log_level::warning, VELKOR::log_stream::out) << "OpenFileMapping status: " << errno;
        return Region::not_opened;
    }
    mapping_handle_ = fd;
    void* view = MAP_FAILED;
    if (wait_for_size(fd, static_cast<off_t>(size))) {
        view = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    }
    if (view == MAP_FAILED) {
        VELKOR::LogLine(VELKOR::log_level::warning, VELKOR::log_stream::out) << "MapViewOfFile status: " << errno;
        close();
        return Region::map_failed;
    }
    view_ = view;
    view_length_ = size;
    return Region::opened;
}

bool SharedMemoryManager::create_shared_memory(unsigned int size)
{
    if (mapping_handle_ != -1) {
        VELKOR::LogLine(VELKOR::log_level::warning, VELKOR::log_stream::out) << "SharedMemoryManager::create_shared_memory"
                  << " error: " << region_name_ << "already created.";
        return false;
    }
    if (size == 0) {
        VELKOR::LogLine(VELKOR::log_level::warning, VELKOR::log_stream::out) << "CreateFileMapping status: " << EINVAL;
        return false;
    }
    const int fd = shm_open(region_name_.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
    if (fd < 0) {
        VELKOR::LogLine(VELKOR::log_level::warning, VELKOR::log_stream::out) << "CreateFileMapping status: " << errno;
        return false;
    }
    if (ftruncate(fd, static_cast<off_t>(size)) != 0) {
        VELKOR::LogLine(VELKOR::log_level::warning, VELKOR::log_stream::out) << "CreateFileMapping status: " << errno;
        ::close(fd);
        shm_unlink(region_name_.c_str());
        return false;
    }
    mapping_handle_ = fd;
    void* view = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (view == MAP_FAILED) {
        VELKOR::LogLine(VELKOR::log_level::warning, VELKOR::log_stream::out) << "MapViewOfFile status: " << errno;
        shm_unlink(region_name_.c_str());
        close();
        return false;
    }
    view_ = view;
    view_length_ = size;
    return true;
}

SharedMemoryManager::Wait SharedMemoryManager::wait()
{
    if (mutex_ == nullptr || view_ == nullptr) {
        return Wait::failed;
    }
    const int result = pthread_mutex_lock(&mutex_->mutex);
    if (result == 0) {
        return Wait::acquired;
    }
    if (result == EOWNERDEAD) {
        // The block may be half-written; this side gives up its attachment,
        // but the mutex itself is made usable again for everyone else.
        pthread_mutex_consistent(&mutex_->mutex);
        pthread_mutex_unlock(&mutex_->mutex);
        return Wait::abandoned;
    }
    return Wait::failed;
}

void SharedMemoryManager::release()
{
    const int result = pthread_mutex_unlock(&mutex_->mutex);
    if (result != 0) {
        VELKOR::LogLine(VELKOR::log_level::warning, VELKOR::log_stream::out) << "ReleaseMutex statusstatus: " << result;
        close_mutex();
    }
}

bool SharedMemoryManager::set(const void* data, unsigned int length)
{
    const Wait state = wait();
    if (state == Wait::abandoned) {
        close();
    }
    if (state != Wait::acquired) {
        return false;
    }
    std::memcpy(view_, data, length < size_ ? length : size_);
    release();
    return true;
}

bool SharedMemoryManager::get(void* data, unsigned int length)
{
    const Wait state = wait();
    if (state == Wait::abandoned) {
        close();
    }
    if (state != Wait::acquired) {
        return false;
    }
    std::memcpy(data, view_, length < size_ ? length : size_);
    release();
    return true;
}

void SharedMemoryManager::close_mutex()
{
    if (mutex_ != nullptr) {
        munmap(mutex_, sizeof(SharedMutex));
        mutex_ = nullptr;
    }
    if (mutex_handle_ != -1) {
        ::close(mutex_handle_);
        mutex_handle_ = -1;
    }
}

void SharedMemoryManager::close()
{
    close_mutex();
    if (view_ != nullptr) {
        munmap(view_, view_length_);
        view_ = nullptr;
        view_length_ = 0;
    }
    if (mapping_handle_ != -1) {
        ::close(mapping_handle_);
        mapping_handle_ = -1;
    }
}

MemoryMap::MemoryMap() : manager_(std::make_unique<SharedMemoryManager>()) {}

MemoryMap::~MemoryMap() = default;

bool MemoryMap::open(const char* name, unsigned int size)
{
    return manager_->open(name, size);
}

bool MemoryMap::set(const void* data, unsigned int length)
{
    return manager_->set(data, length);
}

bool MemoryMap::get(void* data, unsigned int length)
{
    return manager_->get(data, length);
}

void MemoryMap::close()
{
    manager_->close();
}

void MemoryMap::unlink(const char* name)
{
    shm_unlink((std::string("/MutexObject_") + name).c_str());
    shm_unlink((std::string("/SharedMemoryObject_") + name).c_str());
}

} // namespace VELKOR
