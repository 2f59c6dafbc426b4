#include <gtest/gtest.h>

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
