#pragma once
// The transfer engine's thread, one for each MidiService. It hands the bytes that arrive at the
// service's open inputs to their callbacks, and runs the transfer under way (a send) as a job.
// A backend's callback pushes bytes into an input's ring and wakes this thread: an answer from
// the device reaches the job that waits for it in one hop, and the job sends the next message
// from the same thread. Every wait of a job is a sleep until the next wake or its deadline.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/os/wakeup.h"

namespace jx {

// An input the thread hands over: deliver_pending() passes on everything that arrived so far.
class EngineInput {
  public:
    virtual void deliver_pending() = 0;

  protected:
    ~EngineInput() = default;
};

class EngineThread {
  public:
    EngineThread() = default;
    ~EngineThread();
    EngineThread(const EngineThread&) = delete;
    EngineThread& operator=(const EngineThread&) = delete;

    // Safe from any thread, a real-time callback and a signal handler.
    void wake() noexcept { wakeup_.post(); }

    // Runs `job` on the thread; false (and nothing started) while another job runs.
    bool start_job(std::function<void()> job);
    // True from start_job until the job has returned.
    bool job_running();
    // Sleeps until the job has returned; not from the thread itself.
    void wait_for_job();
    bool on_thread() const { return std::this_thread::get_id() == thread_id_.load(); }

    // From the thread (a job or a callback): hands over what arrives until done() or the
    // deadline; true when done.
    template <typename Done>
    bool wait_until(std::chrono::steady_clock::time_point deadline, Done done) {
        for (;;) {
            deliver();
            if (done()) return true;
            if (std::chrono::steady_clock::now() >= deadline) return false;
            wakeup_.wait_until(deadline);
        }
    }

    // For the inputs: from attach on, what a sink holds is handed over on this thread; detach
    // hands over what it still holds (on the caller's thread, one deliverer at a time) and ends
    // that. Not from the sink's own callback.
    void attach(EngineInput& input);
    void detach(EngineInput& input);

  private:
    void start_locked();
    void deliver();
    void loop();

    Wakeup wakeup_;
    std::recursive_mutex sinks_mutex_;  // held while delivering: a callback may detach another
    std::vector<EngineInput*> sinks_;
    std::mutex mutex_;  // the job, the quit flag, the thread
    std::condition_variable job_ended_;
    std::function<void()> job_;
    bool job_running_ = false;
    bool quit_ = false;
    std::thread thread_;
    std::atomic<std::thread::id> thread_id_{};  // set by the thread itself as it starts
};

}  // namespace jx
