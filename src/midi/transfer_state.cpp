#include "midi/transfer_state.h"

namespace jx {

void notify_transfer(TransferState& state) {
    // Taking the lock orders this notice after a waiter's last look at the values, so the
    // waiter cannot miss it between that look and its wait.
    { std::lock_guard lock(state.wake_mutex); }
    state.wake.notify_all();
}

void request_cancel(TransferState& state) {
    state.cancel_request.store(1);
    notify_transfer(state);
}

}  // namespace jx
