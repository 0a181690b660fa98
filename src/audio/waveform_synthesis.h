#pragma once
// Turning one cycle of a sample into a TonePAK waveform: the cycle is resampled in the frequency
// domain to 1024 points, band-limited, shaped by the gain curve and normalised, rendered as nine
// full-band and nine half-band tables from 1024 down to 4 points, packed into 7-bit bytes and
// framed as one maker SysEx message for device 03.
#include <array>
#include <cstddef>
#include <cstdint>

#include "audio/transform.h"

namespace jx {

constexpr int32_t tonepak_message_length = 7027;
constexpr int32_t tonepak_max_frames = 16384;   // longest cycle the synthesis takes
constexpr int32_t tonepak_table_bytes = 6132;   // the tables as bytes, before 7-bit packing
constexpr int32_t tonepak_packed_bytes = 7009;  // pack7 of them, with the empty group's 00
constexpr uint8_t tonepak_message_id = 0x5D;

// The weight of each spectrum bin, G[0] … G[1023]: rising strictly from 0.866444 to 9.14025,
// every value with at most six decimals.
extern const std::array<double, 1024> gain_curve;

// Packs 7 bytes into 8: first a byte holding their top bits (bit 6 for the first byte down to
// bit 0 for the seventh), then the seven with their top bit cleared. A last, shorter group is
// packed alike; when count is a multiple of 7 (0 included) an empty last group still writes its
// top-bit byte 00. Writes pack7_length(count) bytes and returns that number.
size_t pack7(const uint8_t* bytes, size_t count, uint8_t* output);
constexpr size_t pack7_length(size_t count) {
    return count + count / 7 + 1;
}
// The reverse of pack7: restores the bytes of `length` packed bytes into output (at most
// length * 7 / 8 + 7 bytes) and returns their number.
size_t unpack7(const uint8_t* packed, size_t length, uint8_t* output);

// Renders the cycle frames[0 … frame_count − 1] (values about −1 … +1) as the packed tables of a
// waveform message: writes tonepak_packed_bytes bytes to packed and returns that number; 0 when
// frame_count lies outside 1 … tonepak_max_frames or the transform tables cannot serve it (they
// must allow any length up to tonepak_max_frames, as fft_init(tables, 16384, any_length) does).
int32_t synthesize_tables(FftTables& tables, const double* frames, uint8_t* packed,
                          int32_t frame_count);

// Builds the tonepak_message_length bytes of the waveform message for the cycle in message:
// header, slot (masked with 3F), the four characters of name_value (first in bits 24-31, each
// masked with 7F), the packed tables, checksum, length and F7 → 1; 0 when there are no frames or
// synthesize_tables refuses them.
int build_tonepak_message(FftTables& tables, const double* frames, int32_t frame_count,
                          uint8_t* message, int32_t slot, uint32_t name_value);

}  // namespace jx
