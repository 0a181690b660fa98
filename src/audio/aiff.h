#pragma once
// Reading AIFF and AIFC files into a SampleInfo and decoding their sample values.
#include <cstddef>
#include <cstdint>

#include "audio/sample_info.h"

namespace jx {

// Values of SampleInfo::compression: how an AIFC file stores its samples.
namespace aifc_compression {
constexpr int32_t unknown = -1;
constexpr int32_t none = 0;  // big-endian integers
constexpr int32_t sowt = 1;  // little-endian integers
constexpr int32_t fl32 = 2;  // big-endian single-precision float
constexpr int32_t fl64 = 3;  // big-endian double-precision float
}  // namespace aifc_compression

// "FORM" at byte 0 and "AIFF", respectively "AIFC", at byte 8.
bool is_aiff(const uint8_t* data, size_t length);
bool is_aifc(const uint8_t* data, size_t length);

// Read the file into info, which starts afresh. read_other_file without "FORM";
// read_unknown_format when the form type is not "AIFF" ("AIFC") or the format cannot be read
// (no `COMM` chunk, no channels, integer samples of more than 32 bits); read_chunk_size when a
// chunk runs past the FORM data or is too short for its fields; parse_aifc: read_not_pcm for a
// compression type it cannot decode.
ReadResult parse_aiff(SampleInfo& info, const uint8_t* data, size_t length);
ReadResult parse_aifc(SampleInfo& info, const uint8_t* data, size_t length);

// n bytes (1 to 4) as a big-endian two's-complement integer; 0 for another n.
int32_t decode_big_endian(const uint8_t* p, int n);

// One sample of an AIFC file, shifted down to a right-justified value of info.bits bits (float
// data to 24 bits). The caller keeps p and its container bytes inside the data.
int32_t decode_aifc_sample(const SampleInfo& info, const uint8_t* p);

}  // namespace jx
