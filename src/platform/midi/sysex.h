#pragma once
// The bytes that frame and address MIDI System Exclusive messages.
#include <cstdint>

namespace jx {

constexpr uint8_t sysex_start = 0xF0;
constexpr uint8_t sysex_end = 0xF7;
// Byte 1 of the universal non-real-time messages, the Sample Dump Standard among them.
constexpr uint8_t universal_non_realtime = 0x7E;
// The maker id, bytes 1 to 3 of every message of our own devices.
constexpr uint8_t maker_id[3] = {0x00, 0x6B, 0x2E};

}  // namespace jx
