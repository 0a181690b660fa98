#include "midi/transfer_state.h"

namespace jx {

void notify_transfer(TransferState& state) {
    // Taking the lock orders this notice after a waiter's last look at the values, so the
    // waiter cannot miss it between that look and its wait.
    { std::lock_guard lock(state.wake_mutex); }
    state.wake.notify_all();
    // The engine looks at the values again after each delivery by itself.
    if (state.engine && !state.engine->on_thread()) state.engine->wake();
}

void request_cancel(TransferState& state) {
    state.cancel_request.store(1);
    notify_transfer(state);
}

void request_cancel_from_signal(TransferState& state) noexcept {
    state.sending.store(0);
    state.cancel_request.store(1);
    if (state.engine) state.engine->wake();
}

}  // namespace jx
