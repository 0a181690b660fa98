#pragma once
// Files for the transfer tests over a MIDI server: SysEx messages of any length and mono WAV
// ramps at any bit depth, each byte predictable from its place.
#include <cstdint>
#include <vector>

#include "sample_file_maker.h"

namespace jx::test {

// One SysEx message `length` bytes long (at least 3), F0 and F7 included: the id for
// non-commercial use (7D), so that no seed makes it a universal or a maker's message that the
// recorder would not keep, then data bytes from the seed.
inline Bytes sysex_message(size_t length, uint8_t seed) {
    Bytes m(length);
    m.front() = 0xF0;
    for (size_t i = 1; i + 1 < length; ++i) m[i] = static_cast<uint8_t>((i * 13 + seed) & 0x7F);
    m[1] = 0x7D;
    m.back() = 0xF7;
    return m;
}

// A mono WAV at 44100 Hz of `frames` frames of scattered values over the whole range, at `bits`
// bits (a multiple of 8), with the plain 44-byte header.
inline Bytes ramp_wav(uint32_t frames, uint32_t bits) {
    Bytes data;
    const uint32_t bytes_per_sample = bits / 8;
    for (uint32_t i = 0; i < frames; ++i) {
        const int32_t value =
            static_cast<int32_t>((i * 2654435761u) >> (32 - bits)) - (1 << (bits - 1));
        for (uint32_t b = 0; b < bytes_per_sample; ++b)
            data.push_back(static_cast<uint8_t>(static_cast<uint32_t>(value) >> (8 * b)));
    }
    return riff({fmt_chunk(1, 1, 44100, bits), wav_chunk("data", data)});
}

}  // namespace jx::test
