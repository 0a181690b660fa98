#include "platform/midi/timed_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace jx {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// What the queue handed over: the first byte of each message and when it came.
struct Delivered {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<uint8_t> firsts;
    std::vector<Clock::duration> late;  // how long after its due moment each came

    void take(const TimedQueue::Message& m) {
        std::lock_guard lock(mutex);
        firsts.push_back(m.bytes.empty() ? 0 : m.bytes[0]);
        late.push_back(Clock::now() - m.due);
        changed.notify_all();
    }
    bool wait_for(size_t count, Clock::duration within = 5s) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, within, [&] { return firsts.size() >= count; });
    }
};

void push(TimedQueue& q, Clock::time_point due, uint8_t first, int lane = 0) {
    const uint8_t bytes[2] = {first, 0xF7};
    q.push(due, bytes, sizeof bytes, lane);
}

TEST(TimedQueue, HandsMessagesOverInTheOrderDueAndNotBefore) {
    Delivered got;
    TimedQueue q([&](TimedQueue::Message& m) { got.take(m); });
    const Clock::time_point t = Clock::now() + 100ms;
    // Pushed out of order; 2 and 3 are due at the same moment and keep their order.
    push(q, t + 20ms, 4);
    push(q, t + 10ms, 2);
    push(q, t, 1);
    push(q, t + 10ms, 3);
    ASSERT_TRUE(got.wait_for(4));
    std::lock_guard lock(got.mutex);
    EXPECT_EQ(got.firsts, (std::vector<uint8_t>{1, 2, 3, 4}));
    for (Clock::duration late : got.late) EXPECT_GE(late, Clock::duration::zero());
}

TEST(TimedQueue, DropsOneLaneOrAllAndSaysWhenIdle) {
    Delivered got;
    TimedQueue q([&](TimedQueue::Message& m) { got.take(m); });
    const Clock::time_point far = Clock::now() + 1h;
    push(q, far, 1, 0);
    push(q, far, 2, 1);
    push(q, far, 3, 0);
    EXPECT_FALSE(q.idle());
    EXPECT_FALSE(q.wait_idle(Clock::now() + 20ms));
    q.drop(0);
    push(q, Clock::now(), 4, 0);
    ASSERT_TRUE(got.wait_for(1));
    EXPECT_FALSE(q.idle());  // lane 1's message is still queued
    q.drop_all();
    EXPECT_TRUE(q.wait_idle(Clock::now() + 5s));
    EXPECT_TRUE(q.idle());
    std::lock_guard lock(got.mutex);
    EXPECT_EQ(got.firsts, (std::vector<uint8_t>{4}));
}

// A change made between messages never overlaps a hand-over: the far end of a cable is not
// detached while it takes a message.
TEST(TimedQueue, ChangeBetweenMessagesWaitsForTheHandOverUnderWay) {
    std::mutex mutex;
    std::condition_variable changed;
    bool inside = false;
    bool release = false;
    std::atomic<bool> overlapped{false};
    TimedQueue q([&](TimedQueue::Message&) {
        std::unique_lock lock(mutex);
        inside = true;
        changed.notify_all();
        changed.wait_for(lock, 5s, [&] { return release; });
        inside = false;
    });
    push(q, Clock::now(), 1);
    {
        std::unique_lock lock(mutex);
        ASSERT_TRUE(changed.wait_for(lock, 5s, [&] { return inside; }));
    }
    std::atomic<bool> changed_done{false};
    std::thread changer([&] {
        q.between_messages([&] {
            std::lock_guard lock(mutex);
            if (inside) overlapped = true;
        });
        changed_done = true;
    });
    // The change waits while the hand-over is held; after it lets go, the change comes.
    EXPECT_FALSE(q.wait_idle(Clock::now() + 20ms));
    EXPECT_FALSE(changed_done.load());
    {
        std::lock_guard lock(mutex);
        release = true;
    }
    changed.notify_all();
    changer.join();
    EXPECT_FALSE(overlapped.load());
    EXPECT_TRUE(q.wait_idle(Clock::now() + 5s));
}

// A callback may queue the next message itself, as a device answering what it took does.
TEST(TimedQueue, CallbackMayQueueMore) {
    Delivered got;
    TimedQueue* queue = nullptr;
    TimedQueue q([&](TimedQueue::Message& m) {
        got.take(m);
        if (m.bytes[0] < 3) push(*queue, Clock::now() + 1ms, m.bytes[0] + 1);
    });
    queue = &q;
    push(q, Clock::now(), 1);
    ASSERT_TRUE(got.wait_for(3));
    EXPECT_TRUE(q.wait_idle(Clock::now() + 5s));
    std::lock_guard lock(got.mutex);
    EXPECT_EQ(got.firsts, (std::vector<uint8_t>{1, 2, 3}));
}

}  // namespace
}  // namespace jx
