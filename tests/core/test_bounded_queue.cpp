#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "util/bounded_queue.hpp"

using VELKOR::BoundedQueue;

TEST(BoundedQueue, FirstInFirstOutAndPopNeverWaits)
{
    BoundedQueue<int> queue(3);
    int out = -1;
    EXPECT_FALSE(queue.pop(out));
    EXPECT_EQ(out, -1);
    queue.push(1);
    queue.push(2);
    EXPECT_EQ(queue.size(), 2u);
    ASSERT_TRUE(queue.pop(out));
    EXPECT_EQ(out, 1);
    ASSERT_TRUE(queue.pop(out));
    EXPECT_EQ(out, 2);
    EXPECT_TRUE(queue.empty());
}

TEST(BoundedQueue, FullQueueDiscardsTheOldest)
{
    BoundedQueue<int> queue(3);
    for (int i = 1; i <= 5; ++i) {
        queue.push(i);
    }
    EXPECT_EQ(queue.size(), 3u);
    int out = 0;
    for (int expected : {3, 4, 5}) {
        ASSERT_TRUE(queue.pop(out));
        EXPECT_EQ(out, expected);
    }
    queue.push(7);
    queue.clear();
    EXPECT_TRUE(queue.empty());
    EXPECT_FALSE(queue.pop(out));
    EXPECT_EQ(queue.capacity(), 3);
    EXPECT_EQ(BoundedQueue<int>(128).capacity(), 128);
    EXPECT_EQ(BoundedQueue<int>(0).capacity(), 1);
}

TEST(BoundedQueue, HoldsMoveOnlyValues)
{
    BoundedQueue<std::unique_ptr<int>> queue(2);
    queue.push(std::make_unique<int>(1));
    queue.push(std::make_unique<int>(2));
    queue.push(std::make_unique<int>(3));
    std::unique_ptr<int> out;
    ASSERT_TRUE(queue.pop(out));
    EXPECT_EQ(*out, 2);
}

TEST(BoundedQueue, ProducerAndConsumerThreadsKeepOrder)
{
    BoundedQueue<int> queue(16);
    constexpr int kCount = 20000;
    std::thread producer([&] {
        for (int i = 0; i < kCount; ++i) {
            queue.push(i);
        }
    });
    // The consumer may miss values the producer overwrote, but never sees
    // one twice or out of order, and always gets the last.
    int last = -1;
    int received = 0;
    while (last != kCount - 1) {
        int value = 0;
        if (!queue.pop(value)) {
            std::this_thread::yield();
            continue;
        }
        ASSERT_GT(value, last);
        last = value;
        ++received;
    }
    producer.join();
    EXPECT_GT(received, 0);
    EXPECT_TRUE(queue.empty());
}

// A consumer told to stop still takes what is queued, and wake() ends its
// wait at once instead of at the time-out.
TEST(BoundedQueue, GiveUpDrainsFirstAndWakeEndsTheWait)
{
    BoundedQueue<int> queue(4);
    std::atomic<bool> stop{false};
    const auto give_up = [&] { return stop.load(); };
    queue.push(1);
    queue.push(2);
    stop = true;
    int out = 0;
    ASSERT_TRUE(queue.pop_for(out, std::chrono::seconds(10), give_up));
    EXPECT_EQ(out, 1);
    ASSERT_TRUE(queue.pop_for(out, std::chrono::seconds(10), give_up));
    EXPECT_EQ(out, 2);
    EXPECT_FALSE(queue.pop_for(out, std::chrono::seconds(10), give_up));  // empty: no wait

    stop = false;
    std::atomic<bool> returned{false};
    std::thread consumer([&] {
        int value = 0;
        EXPECT_FALSE(queue.pop_for(value, std::chrono::seconds(30), give_up));
        returned = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(returned);
    const auto start = std::chrono::steady_clock::now();
    stop = true;
    queue.wake();
    consumer.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

// push_batched reports the depth and leaves the consumer asleep until the
// given depth is queued; the element pushed then wakes it.
TEST(BoundedQueue, BatchedPushWakesAtItsDepth)
{
    BoundedQueue<int> queue(8);
    std::atomic<int> taken{0};
    std::thread consumer([&] {
        int value = 0;
        if (queue.pop_for(value, std::chrono::seconds(30))) {
            taken = value;
        }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    std::size_t depth = 0;
    queue.push_batched(1, 3, depth);
    EXPECT_EQ(depth, 1u);
    queue.push_batched(2, 3, depth);
    EXPECT_EQ(depth, 2u);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(taken, 0);  // still asleep
    queue.push_batched(3, 3, depth);
    consumer.join();  // woken well before its 30 s
    EXPECT_EQ(taken, 1);
    EXPECT_EQ(queue.size(), 2u);
}
