#pragma once
// For the fuzz targets: decodes every sample a successful parse promises, as the converters do,
// and stops the run when the promised samples do not lie inside the bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "audio/sample_words.h"

namespace jx::fuzz {

// Keeps the decoding from being optimised away.
inline volatile int64_t sink;

inline void decode_all_samples(const SampleInfo& info, const uint8_t* data, size_t size) {
    size_t samples = static_cast<size_t>(info.length) * info.channels;
    size_t start = static_cast<size_t>(info.data_start);
    if (info.length < 0 || info.channels < 1 || info.container_bytes < 1 ||
        start + samples * info.container_bytes > size)
        std::abort();
    int64_t sum = 0;
    for (size_t k = 0; k < samples; ++k)
        sum += sample_word(info, data + start + k * info.container_bytes);
    sink = sum;
}

}  // namespace jx::fuzz
