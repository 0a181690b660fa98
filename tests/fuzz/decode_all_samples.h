#pragma once
// For the fuzz targets: decodes every sample a successful parse promises, as the converters do,
// and stops the run when the promised samples do not lie inside the bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "audio/aiff.h"
#include "audio/wav.h"

namespace jx::fuzz {

// Keeps the decoding from being optimised away.
inline volatile int64_t sink;

inline void decode_all_samples(const SampleInfo& info, const uint8_t* data, size_t size) {
    size_t samples = static_cast<size_t>(info.length) * info.channels;
    size_t start = static_cast<size_t>(info.data_start);
    if (info.length < 0 || info.channels < 1 || info.container_bytes < 1 ||
        start + samples * info.container_bytes > size)
        std::abort();
    int shift = 8 * info.container_bytes - info.bits;
    int64_t sum = 0;
    for (size_t k = 0; k < samples; ++k) {
        const uint8_t* p = data + start + k * info.container_bytes;
        if (info.file_kind == sample_kind::aifc) {
            sum += decode_aifc_sample(info, p);
            continue;
        }
        if (shift < 0 || shift > 31) std::abort();
        sum += (info.file_kind == sample_kind::wav
                    ? decode_little_endian(info, p, info.container_bytes)
                    : decode_big_endian(p, info.container_bytes)) >>
               shift;
    }
    sink = sum;
}

}  // namespace jx::fuzz
