#pragma once

// What the threads of this process cost, read from /proc: for benchmarks
// that measure the CPU and the wake-ups of the library's own threads.

#include <dirent.h>

#include <cstdlib>
#include <fstream>
#include <set>
#include <string>

namespace bench_support {

// The ids of this process's threads.
inline std::set<int> thread_ids()
{
    std::set<int> ids;
    if (DIR* dir = opendir("/proc/self/task")) {
        while (dirent* entry = readdir(dir)) {
            if (entry->d_name[0] != '.') {
                ids.insert(std::atoi(entry->d_name));
            }
        }
        closedir(dir);
    }
    return ids;
}

// Time one thread has run on a CPU, in seconds (the scheduler's own
// nanosecond count; utime + stime come in 10 ms ticks, too coarse for an
// idle link).
inline double thread_cpu_s(int tid)
{
    std::ifstream in("/proc/self/task/" + std::to_string(tid) + "/schedstat");
    unsigned long long run_ns = 0;
    in >> run_ns;
    return static_cast<double>(run_ns) / 1e9;
}

// How often one thread was switched out (voluntary: it waited; involuntary:
// it was preempted): a thread that waits instead of polling is woken only
// when there is something to do.
inline double thread_switches(int tid)
{
    std::ifstream in("/proc/self/task/" + std::to_string(tid) + "/status");
    std::string line;
    double count = 0.0;
    while (std::getline(in, line)) {
        if (line.rfind("voluntary_ctxt_switches:", 0) == 0 || line.rfind("nonvoluntary_ctxt_switches:", 0) == 0) {
            count += std::atof(line.c_str() + line.find(':') + 1);
        }
    }
    return count;
}

inline double switches_of(const std::set<int>& ids)
{
    double sum = 0.0;
    for (int id : ids) {
        sum += thread_switches(id);
    }
    return sum;
}

inline double cpu_of(const std::set<int>& ids)
{
    double sum = 0.0;
    for (int id : ids) {
        sum += thread_cpu_s(id);
    }
    return sum;
}

}  // namespace bench_support
