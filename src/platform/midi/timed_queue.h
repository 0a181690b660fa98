#pragma once
// A queue of byte messages, each due at a moment of the steady clock, handed one after the other
// to a callback by a thread of the queue's own. The thread sleeps until the next message is due,
// or until one is queued or dropped; it never polls.
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace jx {

class TimedQueue {
  public:
    using Clock = std::chrono::steady_clock;
    struct Message {
        Clock::time_point due;
        std::vector<uint8_t> bytes;
        int lane = 0;  // the owner's mark, such as the way the message goes
    };
    using Deliver = std::function<void(Message&)>;

    // `deliver` runs on the queue's thread for each message once it is due, one at a time, without
    // the queue's lock: it may queue and drop messages itself. The thread starts here, so the
    // queue is best its owner's last member.
    explicit TimedQueue(Deliver deliver);
    // Ends the thread once the message being handed over is through; the rest is dropped.
    ~TimedQueue();
    TimedQueue(const TimedQueue&) = delete;
    TimedQueue& operator=(const TimedQueue&) = delete;

    // Queues a copy of the bytes after every message due no later: messages due at the same
    // moment keep their order.
    void push(Clock::time_point due, const uint8_t* data, size_t length, int lane = 0);
    // Drops the queued messages of one lane, or all of them; the one being handed over goes on.
    void drop(int lane);
    void drop_all();
    // Nothing queued and nothing being handed over.
    bool idle() const;
    // Sleeps until idle() or the deadline; true when idle.
    bool wait_idle(Clock::time_point deadline);
    // Runs `change` while no message is being handed over, and none starts before it returns: for
    // what the callback must not see half-way, such as the far end of a cable going.
    void between_messages(const std::function<void()>& change);

  private:
    void run();

    Deliver deliver_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Message> queue_;  // in the order due
    bool busy_ = false;          // a message is being handed over
    bool quit_ = false;
    std::thread thread_;
};

}  // namespace jx
