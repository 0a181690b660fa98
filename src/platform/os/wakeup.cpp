#include "platform/os/wakeup.h"

#include <sys/prctl.h>

#include <cerrno>
#include <ctime>
#include <system_error>

namespace jx {

void use_precise_timed_waits() {
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
}

Wakeup::Wakeup() {
    if (sem_init(&handle_, 0, 0) != 0)
        throw std::system_error(errno, std::generic_category(), "sem_init");
}

Wakeup::~Wakeup() {
    sem_destroy(&handle_);
}

void Wakeup::signal() noexcept {
    // sem_post is one of the calls a signal handler may make.
    sem_post(&handle_);
}

void Wakeup::take_pending_post() {
    sem_trywait(&handle_);
}

bool Wakeup::sleep_until(std::chrono::steady_clock::time_point deadline) {
    if (deadline == std::chrono::steady_clock::time_point::max()) {
        while (sem_wait(&handle_) != 0 && errno == EINTR) {
        }
        return true;
    }
    // steady_clock is CLOCK_MONOTONIC here.
    const auto since_epoch = deadline.time_since_epoch();
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(since_epoch);
    timespec at{};
    at.tv_sec = static_cast<time_t>(seconds.count());
    at.tv_nsec = static_cast<long>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(since_epoch - seconds).count());
    for (;;) {
        if (sem_clockwait(&handle_, CLOCK_MONOTONIC, &at) == 0) return true;
        if (errno != EINTR) return false;
    }
}

}  // namespace jx
