#pragma once

#include <cstddef>
#include <deque>
#include <mutex>
#include <utility>

namespace VELKOR {

// First-in-first-out hand-over between threads with a fixed capacity.
// push never blocks or fails: when the queue is full the oldest element is
// discarded first. pop never waits; consumers poll.
template <typename T>
class BoundedQueue {
public:
    explicit BoundedQueue(int capacity = 3) : capacity_(capacity < 1 ? 1 : capacity) {}

    BoundedQueue(const BoundedQueue&) = delete;
    BoundedQueue& operator=(const BoundedQueue&) = delete;

    void push(const T& value)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        make_room();
        elements_.push_back(value);
    }

    void push(T&& value)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        make_room();
        elements_.push_back(std::move(value));
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
    void make_room()
    {
        while (static_cast<int>(elements_.size()) >= capacity_) {
            elements_.pop_front();
        }
    }

    int capacity_;
    std::deque<T> elements_;
    mutable std::mutex mutex_;
};

}  // namespace VELKOR
