#include "analysis/sample_dump.h"

#include <cstdio>

#include "audio/sds.h"

namespace jx {

namespace {

enum class State { idle, after_f0, channel, sub_id, header, packet };

struct DumpCounts {
    int good = 0;  // dumps whose header and packets all checked
    int bad = 0;   // packets that ended early or carried an unexpected number
};

// One pass over the messages. A dump is good when its header was met and no packet after it
// failed; a checksum mismatch makes the dump not good without counting as a fault.
DumpCounts count_sample_dumps(const uint8_t* data, size_t length) {
    constexpr int checksum_at = static_cast<int>(sds::packet_data_bytes) + 1;
    DumpCounts counts;
    State state = State::idle;
    uint8_t x = 0;  // exclusive-or of the packet so far
    int expected = 0;
    int c = 0;  // bytes of the packet after its sub-id
    bool ok = false;
    for (size_t k = 0; k < length; ++k) {
        uint8_t b = data[k];
        switch (state) {
            case State::idle:
                if (b == sysex_start) state = State::after_f0;
                break;
            case State::after_f0:
                if (b == universal_non_realtime) {
                    x = b;
                    state = State::channel;
                } else {
                    state = State::idle;
                }
                break;
            case State::channel:
                x ^= b;
                state = State::sub_id;
                break;
            case State::sub_id:
                x ^= b;
                c = 0;
                if (b == sds::dump_header) {
                    if (ok) ++counts.good;
                    state = State::header;
                } else {
                    state = b == sds::data_packet ? State::packet : State::idle;
                }
                break;
            case State::header:
                ok = true;
                if (b == sysex_end) {
                    expected = 0;
                    state = State::idle;
                }
                break;
            case State::packet:
                if (b == sysex_end) {
                    ++counts.bad;
                    ok = false;
                    state = State::idle;
                } else if (c == 0) {
                    if (b == expected) {
                        x ^= b;
                        c = 1;
                    } else {
                        ++counts.bad;
                        ok = false;
                        state = State::idle;
                    }
                    expected = (expected + 1) % 128;
                } else if (c < checksum_at) {
                    x ^= b;
                    ++c;
                } else {
                    if (b != x) ok = false;
                    c = 0;
                    state = State::idle;
                }
                break;
        }
    }
    // A packet cut off by the end of the data has ended early, like one cut off by an F7.
    if (state == State::packet) {
        ++counts.bad;
        ok = false;
    }
    if (ok) ++counts.good;
    return counts;
}

}  // namespace

std::string describe_sample_dump(const uint8_t* data, size_t length) {
    DumpCounts counts = count_sample_dumps(data, length);
    char text[160];
    if (counts.good == 0 && counts.bad == 1) return "Broken sample dump.";
    if (counts.good == 1 && counts.bad == 0) {
        // Fields that a header cut short does not hold are shown as 0 (loop type: no loop).
        SdsHeader h = sds_header_fields(data, length);
        std::snprintf(
            text, sizeof text,
            "Dump length: %d Sample Rate: %d\nBits: %d Loop %s. Loop start: %d Loop end: %d",
            h.length, h.rate, h.bits, h.loop_type == loop_type_none ? "OFF" : "ON", h.loop_start,
            h.loop_end);
        return text;
    }
    std::snprintf(text, sizeof text, "%i correct and %i broken sample dumps.", counts.good,
                  counts.bad);
    return text;
}

}  // namespace jx
