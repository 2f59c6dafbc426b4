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
// time-out, woken by the next push (no polling). A producer that knows its
// consumer has nothing to do before more elements come may leave it asleep
// until several wait (push_batched); a later push, or the time-out, wakes it.
template <typename T>
class BoundedQueue {
public:
    explicit BoundedQueue(int capacity = 3) : capacity_(capacity < 1 ? 1 : capacity) {}

    BoundedQueue(const BoundedQueue&) = delete;
    BoundedQueue& operator=(const BoundedQueue&) = delete;

    // True when the oldest element was discarded to make room.
    bool push(const T& value)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        const bool discarded = make_room();
        elements_.push_back(value);
        wake_one(lock);
        return discarded;
    }

    bool push(T&& value)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        const bool discarded = make_room();
        elements_.push_back(std::move(value));
        wake_one(lock);
        return discarded;
    }

    // As push, but wakes a waiting consumer only once at least `wake_depth`
    // elements are queued (1 wakes it always, as push does). `depth` gets the
    // number of elements queued after the push.
    bool push_batched(T&& value, std::size_t wake_depth, std::size_t& depth)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        const bool discarded = make_room();
        elements_.push_back(std::move(value));
        depth = elements_.size();
        if (depth >= wake_depth) {
            wake_one(lock);
        }
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
        if (!wait(lock, timeout, [this] { return !elements_.empty(); })) {
            return false;
        }
        out = std::move(elements_.front());
        elements_.pop_front();
        return true;
    }

    // Takes the oldest element, waiting up to `timeout` for one to be pushed
    // or for `give_up()` to become true; false when none was taken. A queued
    // element is taken even when give_up() is already true, so a consumer
    // told to stop still drains the queue. Whoever makes give_up() true calls
    // wake() afterwards.
    template <class Rep, class Period, class GiveUp>
    bool pop_for(T& out, std::chrono::duration<Rep, Period> timeout, GiveUp give_up)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!wait(lock, timeout, [&] { return !elements_.empty() || give_up(); }) || elements_.empty()) {
            return false;
        }
        out = std::move(elements_.front());
        elements_.pop_front();
        return true;
    }

    // Wakes every waiter, so that it looks at its give_up condition again.
    void wake()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ready_.notify_all();
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
    // Waiters are counted so that a push wakes nobody (no system call) while
    // the consumer is busy rather than asleep.
    template <class Rep, class Period, class Predicate>
    bool wait(std::unique_lock<std::mutex>& lock, std::chrono::duration<Rep, Period> timeout, Predicate ready)
    {
        ++waiters_;
        const bool result = ready_.wait_for(lock, timeout, ready);
        --waiters_;
        return result;
    }

    // Wakes a waiting consumer after letting go of the lock, so that it does
    // not wake only to wait for the lock the producer still holds.
    void wake_one(std::unique_lock<std::mutex>& lock)
    {
        const bool waiting = waiters_ > 0;
        lock.unlock();
        if (waiting) {
            ready_.notify_one();
        }
    }

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
    int waiters_ = 0;  // threads inside wait(); guarded by mutex_
};

}  // namespace VELKOR
