#pragma once
// Reading RIFF WAVE files into a SampleInfo and decoding their sample values.
#include <cstddef>
#include <cstdint>

#include "audio/sample_info.h"

namespace jx {

// "RIFF" at byte 0 and "WAVE" at byte 8.
bool is_wav(const uint8_t* data, size_t length);

// Reads the file into info, which starts afresh. read_other_file without "RIFF";
// read_unknown_format when the form is not "WAVE" or the format cannot be read (no `fmt `
// chunk, no channels, integer samples of more than 32 bits); read_chunk_size when a chunk runs
// past the RIFF data or is too short for its fields; read_not_pcm when the samples are neither
// integer PCM nor 32-bit float.
ReadResult parse_wav(SampleInfo& info, const uint8_t* data, size_t length);

// One sample of one channel, not yet shifted down to its declared bits: 8-bit data is unsigned
// and gives -128 to 127, wider integers are two's complement of 8 x container bytes bits, float
// data gives the value times 2^31. The caller keeps p and its container bytes inside the data.
int32_t decode_little_endian(const SampleInfo& info, const uint8_t* p, int container_bytes);

}  // namespace jx
