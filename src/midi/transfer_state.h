#pragma once
// The values through which the window thread and the MIDI engine thread (the send, and the input
// it delivers) meet. Each is an atomic written whole; where more than one side writes a value,
// the rule is written beside it. Nothing else is shared between them.
// Made once by the program (a test makes its own) and handed to the operations that use it.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "platform/midi/engine_thread.h"

namespace jx {

// Bits of status_bits.
constexpr int32_t status_sending = 1;
constexpr int32_t status_receiving = 2;
constexpr int32_t status_remote_cancel = 4;

// receive_state values.
constexpr int32_t receive_closed = -1;
constexpr int32_t receive_idle = 0;
constexpr int32_t receive_recording = 1;

struct TransferState {
    // 1 while a send runs: set by the send as it starts; cleared by the send as it ends, and by
    // whoever asks it to stop (with cancel_request), so that a second Send is refused at once.
    std::atomic<int32_t> sending{0};
    // A stop asked of the running send. Any side may set it to 1 (Stop Send, Ctrl-C, a time-out,
    // the device's CANCEL, shutdown); only the send clears it, as it stops. Nobody waits for the
    // clear: the end of the send is the job's end on the engine thread.
    std::atomic<int32_t> cancel_request{0};
    std::atomic<int32_t> reopen_in_before_send{0};
    std::atomic<int32_t> receive_state{receive_closed};
    // Bits set and cleared one at a time (fetch_or, fetch_and) by the send and the recorder,
    // each its own bits; the window only reads them.
    std::atomic<int32_t> status_bits{0};
    std::atomic<int32_t> sent_count{0};
    std::atomic<int32_t> received_count{0};
    std::atomic<int32_t> progress_percent{0};
    std::atomic<int32_t> turbo_speed{10};
    std::atomic<int32_t> sending_sample{0};
    std::atomic<int32_t> naks_sent{0};  // NAKs the SDS receiver sent, for progress displays

    // Wakes a thread waiting for one of the values above at once instead of at its next poll.
    // Holds no value of its own: whoever writes a value that another thread waits for calls
    // notify_transfer afterwards.
    std::mutex wake_mutex;
    std::condition_variable wake;
    // The engine thread of the MIDI service in use (connect_transfer_state), which runs the send
    // and delivers the input: its waits hand over what arrives while they sleep, and every
    // notify wakes it too. None in tests that drive the values by hand.
    EngineThread* engine = nullptr;
};

// Tells waiting threads that a value changed.
void notify_transfer(TransferState& state);

// Waits until `done()` is true or the deadline passes; true when done. It sleeps until a writer
// notifies or the deadline comes, without polling: a writer that cannot notify (a signal handler)
// is seen when a thread that can passes it on (the programs' 100 ms timers do).
template <typename Done>
bool wait_transfer_until(TransferState& state, std::chrono::steady_clock::time_point deadline,
                         Done done) {
    if (state.engine && state.engine->on_thread()) return state.engine->wait_until(deadline, done);
    std::unique_lock lock(state.wake_mutex);
    for (;;) {
        if (done()) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        state.wake.wait_until(lock, deadline);
    }
}

// Asks a running send to stop (Stop Send, shutdown, Ctrl-C outside a signal handler).
void request_cancel(TransferState& state);
// The same from a signal handler: only the stores and the engine's wake, which such a handler
// may make. Threads waiting on the condition see it when the engine's send ends.
void request_cancel_from_signal(TransferState& state) noexcept;

}  // namespace jx
