#include "audio/sample_cycle.h"

#include <algorithm>
#include <cmath>

#include "audio/sample_file.h"
#include "audio/sample_modes.h"
#include "audio/sample_words.h"

namespace jx {

std::vector<double> read_cycle(const uint8_t* data, size_t length, int32_t first, int32_t count,
                               int32_t capacity, ChannelMode channel_mode) {
    SampleInfo s;
    if (parse_sample(s, data, length) != read_ok) return {};
    const int64_t frames = frames_in_data(s, length);
    int64_t n = std::min(count, capacity);
    if (first < 0 || first >= frames || n < 1) return {};
    n = std::min(n, frames - first);
    const int64_t frame_bytes = int64_t{s.channels} * s.container_bytes;
    // Every kind of word to the same scale, so that the silence threshold of the synthesis means
    // the same for each.
    const double scale = std::ldexp(2.0, -s.bits);
    std::vector<double> cycle(static_cast<size_t>(n));
    const uint8_t* p = data + s.data_start + first * frame_bytes;
    for (double& value : cycle) {
        value = sample_word(s, p) * scale;
        if (s.channels == 2) {
            double second = sample_word(s, p + s.container_bytes) * scale;
            if (channel_mode == channel_right)
                value = second;
            else if (channel_mode != channel_left)
                value = (value + second) * 0.5;
        }
        p += frame_bytes;
    }
    return cycle;
}

}  // namespace jx
