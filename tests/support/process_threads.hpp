#pragma once

#include <dirent.h>

#include <chrono>
#include <thread>

// Threads of this process, counted from /proc/self/task.
namespace process_threads {

inline int count()
{
    int n = 0;
    if (DIR* dir = opendir("/proc/self/task")) {
        while (const dirent* entry = readdir(dir)) {
            n += entry->d_name[0] != '.' ? 1 : 0;
        }
        closedir(dir);
    }
    return n;
}

// The count to come back to. A thread is started and joined first, so that
// runtimes that add a helper thread of their own on the first thread
// creation (ThreadSanitizer does) have done so before counting.
inline int baseline()
{
    std::thread([] {}).join();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return count();
}

// A joined thread leaves /proc/self/task at once, but one that detached or
// is still exiting may linger a moment: waits up to `patience` for `expected`.
inline int settle_to(int expected, std::chrono::milliseconds patience = std::chrono::milliseconds(500))
{
    const auto end = std::chrono::steady_clock::now() + patience;
    int n = count();
    while (n != expected && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        n = count();
    }
    return n;
}

}  // namespace process_threads
