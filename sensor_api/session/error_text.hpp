#pragma once

#include <mutex>
#include <string>

namespace TQZ {

// Why the last failing call of a session failed. The session and its
// components write it on the caller's thread; any thread may read it.
class ErrorText {
public:
    void set(const std::string& text)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        text_ = text;
    }

    std::string get() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return text_;
    }

private:
    mutable std::mutex mutex_;
    std::string text_;
};

}  // namespace TQZ
