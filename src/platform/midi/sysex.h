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
// Our devices' messages begin with F0, the maker id, the message's kind and a zero.
constexpr uint8_t maker_kind_turbo = 0x04;
constexpr uint8_t maker_kind_name = 0x02;
// The start of every Turbo message; the command byte follows, then the speed index for the
// answer and the request.
constexpr uint8_t turbo_message_start[6] = {sysex_start, maker_id[0],      maker_id[1],
                                            maker_id[2], maker_kind_turbo, 0x00};
constexpr uint8_t turbo_query_id = 0x01;
constexpr uint8_t turbo_answer_id = 0x02;
constexpr uint8_t turbo_request_id = 0x03;

}  // namespace jx
