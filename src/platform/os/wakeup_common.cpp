#include "platform/os/wakeup.h"

namespace jx {

void Wakeup::post() noexcept {
    if (!posted_.exchange(true, std::memory_order_acq_rel)) signal();
}

bool Wakeup::wait_until(std::chrono::steady_clock::time_point deadline) {
    if (posted_.exchange(false, std::memory_order_acq_rel)) {
        // A post came while nobody slept: take its count too, so that the next sleep is a real
        // one (a count that lands only later makes one sleep end early, which costs nothing).
        take_pending_post();
        return true;
    }
    const bool woken = sleep_until(deadline);
    // An exchange, not a store: it pairs with a poster that found the flag still set and so
    // posted nothing, and makes what that poster changed visible to the caller's next look.
    if (woken) posted_.exchange(false, std::memory_order_acq_rel);
    return woken;
}

}  // namespace jx
