#include "audio/sample_words.h"

#include <algorithm>

namespace jx {

int32_t sample_word(const SampleInfo& s, const uint8_t* p) {
    switch (s.file_kind) {
        case sample_kind::wav:
            return wav_word(s, p);
        case sample_kind::aiff:
            return aiff_word(s, p);
        case sample_kind::aifc:
            return aifc_word(s, p);
    }
    return 0;
}

int32_t sample_kind_of(const uint8_t* data, size_t length) {
    if (is_wav(data, length)) return sample_kind::wav;
    if (is_aiff(data, length)) return sample_kind::aiff;
    if (is_aifc(data, length)) return sample_kind::aifc;
    return 0;
}

int64_t frames_in_data(const SampleInfo& s, size_t length) {
    int64_t frame_bytes = int64_t{s.channels} * s.container_bytes;
    if (frame_bytes <= 0 || s.data_start < 0 || static_cast<uint64_t>(s.data_start) > length)
        return 0;
    int64_t held = static_cast<int64_t>(length - s.data_start) / frame_bytes;
    return std::clamp<int64_t>(s.length, 0, held);
}

}  // namespace jx
