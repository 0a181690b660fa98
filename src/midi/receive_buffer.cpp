#include "midi/receive_buffer.h"

#include <cstring>
#include <new>

namespace jx {

int begin_receive_buffer(Recorder& r) {
    r.receive_length = 0;
    r.plain_in_buffer = false;
    r.buffer_full = false;
    r.state->receive_state.store(receive_recording);
    if (!r.buffer) {
        uint8_t* block = r.allocate_buffer ? r.allocate_buffer(receive_buffer_size)
                                           : new (std::nothrow) uint8_t[receive_buffer_size];
        if (!block) return 0;
        r.buffer.reset(block);
    }
    r.buffer[0] = '0';  // "Loop: File"
    r.buffer[1] = '0';  // "L+R"
    return 1;
}

void append_received_byte(Recorder& r, uint8_t byte) {
    append_received_bytes(r, &byte, 1);
}

void append_received_bytes(Recorder& r, const uint8_t* bytes, size_t n) {
    if (!r.buffer || n == 0) return;
    const size_t room = static_cast<size_t>(receive_length_limit - r.receive_length);
    const size_t taken = n < room ? n : room;
    std::memcpy(r.buffer.get() + 8 + r.receive_length, bytes, taken);
    r.receive_length += static_cast<int32_t>(taken);
    // The buffer is full: what came is kept as an entry, the byte that did not fit is lost.
    if (taken < n) r.buffer_full = true;
}

void free_receive_buffer(Recorder& r) {
    r.buffer.reset();
    r.receive_length = 0;
}

}  // namespace jx
