#pragma once
// One sample of one channel as a word right-justified to the sample's bits (the value a dump
// carries), for each kind of sample file. The SDS conversion and the waveform cycle reader both
// read samples through these, so a sample reads the same on either road.
#include <cstddef>
#include <cstdint>

#include "audio/aiff.h"
#include "audio/sample_info.h"
#include "audio/wav.h"

namespace jx {

// The low bits of a container that the declared depth leaves unused (12-bit data in 2 bytes: 4;
// float data, kept to 24 bits in 4 bytes: 8). 0 for a description no parse gives.
inline int spare_bits(const SampleInfo& s) {
    int spare = 8 * s.container_bytes - s.bits;
    return spare >= 0 && spare < 32 ? spare : 0;
}

inline int32_t wav_word(const SampleInfo& s, const uint8_t* p) {
    return decode_little_endian(s, p, s.container_bytes) >> spare_bits(s);
}
inline int32_t aiff_word(const SampleInfo& s, const uint8_t* p) {
    return decode_big_endian(p, s.container_bytes) >> spare_bits(s);
}
inline int32_t aifc_word(const SampleInfo& s, const uint8_t* p) {
    return decode_aifc_sample(s, p);
}

// The word by the file kind of the description; 0 for a description of no sample.
int32_t sample_word(const SampleInfo& s, const uint8_t* p);

// sample_kind::wav, aiff or aifc from the data's magic; 0 for anything else.
int32_t sample_kind_of(const uint8_t* data, size_t length);

// The frames the data really holds from the description's data start, at most its length: a
// length that a huge file wrapped below 0 gives 0, and nothing past the data is ever counted.
int64_t frames_in_data(const SampleInfo& s, size_t length);

}  // namespace jx
