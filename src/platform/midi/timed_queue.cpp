#include "platform/midi/timed_queue.h"

#include <algorithm>
#include <utility>

#include "platform/os/wakeup.h"

namespace jx {

TimedQueue::TimedQueue(Deliver deliver) : deliver_(std::move(deliver)) {
    thread_ = std::thread([this] {
        use_precise_timed_waits();
        run();
    });
}

TimedQueue::~TimedQueue() {
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void TimedQueue::push(Clock::time_point due, const uint8_t* data, size_t length, int lane) {
    {
        std::lock_guard lock(mutex_);
        // Mostly due after everything queued: the search from the back ends at once.
        auto at = queue_.end();
        while (at != queue_.begin() && std::prev(at)->due > due) --at;
        queue_.insert(at, Message{due, std::vector<uint8_t>(data, data + length), lane});
    }
    wake_.notify_all();
}

void TimedQueue::drop(int lane) {
    {
        std::lock_guard lock(mutex_);
        std::erase_if(queue_, [lane](const Message& m) { return m.lane == lane; });
    }
    wake_.notify_all();
}

void TimedQueue::drop_all() {
    {
        std::lock_guard lock(mutex_);
        queue_.clear();
    }
    wake_.notify_all();
}

bool TimedQueue::idle() const {
    std::lock_guard lock(mutex_);
    return queue_.empty() && !busy_;
}

bool TimedQueue::wait_idle(Clock::time_point deadline) {
    std::unique_lock lock(mutex_);
    // The thread notifies after every message it hands over.
    return wake_.wait_until(lock, deadline, [this] { return queue_.empty() && !busy_; });
}

void TimedQueue::between_messages(const std::function<void()>& change) {
    std::unique_lock lock(mutex_);
    wake_.wait(lock, [this] { return !busy_; });
    change();
}

void TimedQueue::run() {
    std::unique_lock lock(mutex_);
    while (!quit_) {
        if (queue_.empty()) {
            wake_.wait(lock);
            continue;
        }
        if (Clock::now() < queue_.front().due) {
            wake_.wait_until(lock, queue_.front().due);
            continue;
        }
        Message message = std::move(queue_.front());
        queue_.pop_front();
        busy_ = true;
        lock.unlock();
        deliver_(message);
        lock.lock();
        busy_ = false;
        wake_.notify_all();
    }
}

}  // namespace jx
