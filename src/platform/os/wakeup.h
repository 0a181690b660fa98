#pragma once
// Wakes one sleeping thread: the transfer engine. post() is safe from any thread, from a
// real-time callback and from a signal handler; posts that come while nobody sleeps are kept as
// one, so the sleeper wakes once and then looks at everything that changed.
#include <atomic>
#include <chrono>

#ifdef _WIN32
using WakeupHandle = void*;
#else
#include <semaphore.h>
using WakeupHandle = sem_t;
#endif

namespace jx {

// Makes the calling thread's timed waits end when they are due instead of up to the system's
// usual timer slack later: for the threads that pace the wire and wait for answers, where tens of
// microseconds per message add up.
void use_precise_timed_waits();

class Wakeup {
  public:
    // Throws std::system_error when the system has no semaphore to give.
    Wakeup();
    ~Wakeup();
    Wakeup(const Wakeup&) = delete;
    Wakeup& operator=(const Wakeup&) = delete;

    void post() noexcept;
    // Sleeps until a post or the deadline; true when woken by a post. One thread at a time.
    bool wait_until(std::chrono::steady_clock::time_point deadline);

  private:
    void signal() noexcept;  // the system's post, safe where post() is
    bool sleep_until(std::chrono::steady_clock::time_point deadline);
    void take_pending_post();
    std::atomic<bool> posted_{false};
    WakeupHandle handle_;
};

}  // namespace jx
