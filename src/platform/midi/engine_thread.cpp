#include "platform/midi/engine_thread.h"

#include <algorithm>

namespace jx {

EngineThread::~EngineThread() {
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
    }
    wake();
    if (thread_.joinable()) thread_.join();
}

void EngineThread::start_locked() {
    if (thread_.joinable()) return;
    thread_ = std::thread([this] {
        thread_id_.store(std::this_thread::get_id());
        use_precise_timed_waits();
        loop();
    });
}

bool EngineThread::start_job(std::function<void()> job) {
    {
        std::lock_guard lock(mutex_);
        if (job_running_) return false;
        job_ = std::move(job);
        job_running_ = true;
        start_locked();
    }
    wake();
    return true;
}

bool EngineThread::job_running() {
    std::lock_guard lock(mutex_);
    return job_running_;
}

void EngineThread::wait_for_job() {
    std::unique_lock lock(mutex_);
    job_ended_.wait(lock, [&] { return !job_running_; });
}

void EngineThread::attach(EngineInput& sink) {
    {
        std::lock_guard lock(sinks_mutex_);
        if (std::find(sinks_.begin(), sinks_.end(), &sink) == sinks_.end()) sinks_.push_back(&sink);
    }
    std::lock_guard lock(mutex_);
    start_locked();
}

void EngineThread::detach(EngineInput& sink) {
    std::lock_guard lock(sinks_mutex_);
    const auto found = std::find(sinks_.begin(), sinks_.end(), &sink);
    if (found == sinks_.end()) return;
    sink.deliver_pending();
    sinks_.erase(found);
    // Detached from a callback while delivering: the input after it moved up a place and may be
    // passed over this round, so the thread looks once more.
    if (on_thread()) wake();
}

void EngineThread::deliver() {
    std::lock_guard lock(sinks_mutex_);
    // By index: a callback may detach a sink meanwhile.
    for (size_t i = 0; i < sinks_.size(); ++i) sinks_[i]->deliver_pending();
}

void EngineThread::loop() {
    for (;;) {
        deliver();
        std::function<void()> job;
        {
            std::lock_guard lock(mutex_);
            if (quit_) return;
            job.swap(job_);
        }
        if (job) {
            job();
            {
                std::lock_guard lock(mutex_);
                job_running_ = false;
            }
            job_ended_.notify_all();
            continue;
        }
        wakeup_.wait_until(std::chrono::steady_clock::time_point::max());
    }
}

}  // namespace jx
