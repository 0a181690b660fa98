#pragma once
// Recognising the maker's SysEx messages in a byte stream and testing each for damage.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "platform/midi/sysex.h"

namespace jx {

// Device codes that follow the maker id in the header.
namespace device {
constexpr uint8_t pulsebench = 0x01;
constexpr uint8_t ka = 0x02;
constexpr uint8_t kb = 0x03;
constexpr uint8_t kc = 0x05;
constexpr uint8_t ke = 0x06;
constexpr uint8_t kg = 0x07;
}  // namespace device

// True when somewhere in the data an F0 is followed by 00 6B 2E, the device code and 00, all
// five inside the data.
bool match_device(const uint8_t* data, size_t length, uint8_t device_code);

// The device codes found by match_device in one pass over the data: every code that would match.
struct DeviceCodes {
    uint64_t bits[4] = {};
    void add(uint8_t code) { bits[code >> 6] |= uint64_t{1} << (code & 63); }
    bool has(uint8_t code) const { return (bits[code >> 6] >> (code & 63)) & 1; }
};
DeviceCodes maker_device_codes(const uint8_t* data, size_t length);

// Three 7-bit groups, most significant first.
inline int32_t decode21(const uint8_t* three) {
    return three[0] * 16384 + three[1] * 128 + three[2];
}

// Calls visit(i, id) for every maker message of the device, in order: i is the position of the
// message id, the F0 stands at i - 6. Every F0 is examined, also those inside other messages'
// bodies; a header cut off by the end of the data, or one with no id byte after it, is ignored.
template <class Visit>
void for_each_message(const uint8_t* data, size_t length, uint8_t device_code, Visit&& visit) {
    const uint8_t header[5] = {maker_id[0], maker_id[1], maker_id[2], device_code, 0x00};
    const uint8_t* end = data + length;
    const uint8_t* p = data;
    while (p < end) {
        p = static_cast<const uint8_t*>(std::memchr(p, sysex_start, end - p));
        if (p == nullptr) return;
        if (end - p > 6 && std::memcmp(p + 1, header, 5) == 0)
            visit(static_cast<size_t>(p + 6 - data), p[6]);
        ++p;
    }
}

// Tests messages for damage: the 14-bit checksum and the length field before the F7. It keeps
// the last F7 found and a running checksum window, so that a scan stays linear in the data even
// when headers stand inside long or unterminated messages.
struct IntegrityTest {
    const uint8_t* data;
    size_t length;
    size_t f7_searched_from = 1;  // no F7 in [f7_searched_from, f7_found)
    size_t f7_found = 0;          // == length when none was found
    size_t sum_lo = 0, sum_hi = 0;
    int64_t sum = 0;  // sum of signed bytes in [sum_lo, sum_hi)

    IntegrityTest(const uint8_t* d, size_t n) : data(d), length(n) {}
};

// Position of the first F7 at or after `from`, or the data length when there is none.
size_t find_f7(IntegrityTest& test, size_t from);

// What is wrong with a maker message, if anything.
enum class MessageFault { none, cut_short, bad_checksum, bad_length };

// The fault of the message whose id stands at i: cut short when no F7 follows or too few bytes
// stand before it for the four integrity bytes; else the checksum, then the length field.
// checksum_start is how many bytes after the id the checksum begins (3 or 4, by device and
// message).
MessageFault message_fault(IntegrityTest& test, size_t i, int checksum_start);

inline bool message_intact(IntegrityTest& test, size_t i, int checksum_start) {
    return message_fault(test, i, checksum_start) == MessageFault::none;
}

}  // namespace jx
