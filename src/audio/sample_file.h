#pragma once
// Any sample file, WAV, AIFF or AIFC, recognised and read by its magic.
#include <cstddef>
#include <cstdint>

#include "audio/sample_info.h"

namespace jx {

// A WAV, AIFF or AIFC file: the test that tells sample entries from SysEx entries.
bool is_sample(const uint8_t* data, size_t length);

// parse_wav, parse_aiff or parse_aifc by the magic; read_other_file for anything else.
ReadResult parse_sample(SampleInfo& info, const uint8_t* data, size_t length);

}  // namespace jx
