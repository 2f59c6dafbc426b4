#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <utility>

namespace VELKOR {

// First-in-first-out hand-over between threads with a fixed capacity.
// push never blocks or fails: when the queue is full the oldest element is
// discarded first. pop never waits; pop_for waits for an element up to a
// time-out, woken by the next push (no polling).
template <typename T>
class BoundedQueue {
public:
    explicit BoundedQueue(int capacity = 3) : capacity_(capacity < 1 ? 1 : capacity) {}

    BoundedQueue(const BoundedQueue&) = delete;
    BoundedQueue& operator=(const BoundedQueue&) = delete;

    // True when the oldest element was discarded to make room.
    bool push(const T& value)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const bool discarded = make_room();
        elements_.push_back(value);
        ready_.notify_one();
        return discarded;
    }

    bool push(T&& value)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const bool discarded = make_room();
        elements_.push_back(std::move(value));
        ready_.notify_one();
        return discarded;
    }

    // Takes the oldest element; false when the queue is empty.
    bool pop(T& out)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (elements_.empty()) {
            return false;
        }
        out = std::move(elements_.front());
        elements_.pop_front();
        return true;
    }

    // Takes the oldest element, waiting up to `timeout` for one to be
    // pushed; false when none came in time.
    template <class Rep, class Period>
    bool pop_for(T& out, std::chrono::duration<Rep, Period> timeout)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!ready_.wait_for(lock, timeout, [this] { return !elements_.empty(); })) {
            return false;
        }
        out = std::move(elements_.front());
        elements_.pop_front();
        return true;
    }

    void clear()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        elements_.clear();
    }

    std::size_t size() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return elements_.size();
    }

    bool empty() const { return size() == 0; }

    int capacity() const { return capacity_; }

private:
    bool make_room()
    {
        bool discarded = false;
        while (static_cast<int>(elements_.size()) >= capacity_) {
            elements_.pop_front();
            discarded = true;
        }
        return discarded;
    }

    int capacity_;
    std::deque<T> elements_;
    mutable std::mutex mutex_;
    std::condition_variable ready_;
};

}  // namespace VELKOR
