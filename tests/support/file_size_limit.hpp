#pragma once

// A full disk without root: while this object lives, no file of the process
// grows beyond `bytes` (RLIMIT_FSIZE). SIGXFSZ is ignored, so a write that
// crosses the limit is short and the next fails with EFBIG, as a write to a
// full disk fails with ENOSPC.

#include <sys/resource.h>

#include <csignal>
#include <cstdint>

class FileSizeLimit {
public:
    explicit FileSizeLimit(uint64_t bytes)
    {
        ok_ = ::getrlimit(RLIMIT_FSIZE, &saved_) == 0;
        old_handler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limited = saved_;
        limited.rlim_cur = bytes;
        ok_ = ok_ && ::setrlimit(RLIMIT_FSIZE, &limited) == 0;
    }
    ~FileSizeLimit() { lift(); }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

    // False when the limit could not be set.
    bool ok() const { return ok_; }
    void lift()
    {
        if (lifted_) {
            return;
        }
        lifted_ = true;
        ::setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, old_handler_);
    }

private:
    rlimit saved_{};
    void (*old_handler_)(int) = SIG_DFL;
    bool ok_ = false;
    bool lifted_ = false;
};
