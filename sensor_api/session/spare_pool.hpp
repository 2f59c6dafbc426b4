#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

namespace TQZ {

// Storage kept for reuse between threads: one thread gives back what it is
// done with, another takes it instead of allocating. Keeps at most
// `capacity` elements; any thread may use it. T may be an array type (U[]).
template <typename T>
class SparePool {
public:
    explicit SparePool(std::size_t capacity) : capacity_(capacity) {}

    // A spare element, or null when none is spare.
    std::unique_ptr<T> take()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (spare_.empty()) {
            return nullptr;
        }
        std::unique_ptr<T> element = std::move(spare_.back());
        spare_.pop_back();
        return element;
    }

    // Keeps `element` for a later take; released when the pool is full.
    void give(std::unique_ptr<T> element)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (element && spare_.size() < capacity_) {
            spare_.push_back(std::move(element));
        }
    }

private:
    std::mutex mutex_;
    std::vector<std::unique_ptr<T>> spare_;
    std::size_t capacity_;
};

}  // namespace TQZ
