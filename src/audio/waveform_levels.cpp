#include "audio/waveform_levels.h"

#include <algorithm>
#include <cmath>

namespace jx {

namespace {

Peak join(Peak a, Peak b) {
    return {std::min(a.low, b.low), std::max(a.high, b.high)};
}

}  // namespace

WaveLevels build_levels(const std::vector<float>& frames) {
    WaveLevels result;
    result.frames = &frames;
    const size_t first_count = frames.size() / level_block;
    if (first_count == 0) return result;
    std::vector<Peak> level(first_count);
    for (size_t b = 0; b < first_count; ++b) {
        const auto [low, high] = std::minmax_element(frames.begin() + b * level_block,
                                                     frames.begin() + (b + 1) * level_block);
        level[b] = {*low, *high};
    }
    result.levels.push_back(std::move(level));
    while (result.levels.back().size() >= 2) {
        const std::vector<Peak>& below = result.levels.back();
        std::vector<Peak> above(below.size() / 2);
        for (size_t b = 0; b < above.size(); ++b) above[b] = join(below[2 * b], below[2 * b + 1]);
        result.levels.push_back(std::move(above));
    }
    return result;
}

Peak range_peak(const WaveLevels& levels, int64_t first, int64_t last) {
    const std::vector<float>& frames = *levels.frames;
    first = std::max<int64_t>(first, 0);
    last = std::min<int64_t>(last, static_cast<int64_t>(frames.size()));
    Peak peak = no_peak;
    // Single frames up to a block boundary, then the largest aligned blocks that fit, then
    // single frames again: a few dozen reads for a range of any length.
    while (first < last) {
        int k = -1;
        if (first % level_block == 0) {
            const int64_t block = first / level_block;
            while (k + 1 < static_cast<int>(levels.levels.size())) {
                const int next = k + 1;
                const int64_t size = level_block << next;
                if (first % size != 0 || first + size > last ||
                    static_cast<size_t>(block >> next) >= levels.levels[next].size())
                    break;
                k = next;
            }
        }
        if (k < 0) {
            peak = join(peak, {frames[first], frames[first]});
            ++first;
        } else {
            peak = join(peak, levels.levels[k][(first / level_block) >> k]);
            first += level_block << k;
        }
    }
    return peak;
}

void column_peaks(const WaveLevels& levels, double first, double frames_per_column, int columns,
                  Peak* out) {
    for (int c = 0; c < columns; ++c) {
        const auto from = static_cast<int64_t>(std::floor(first + c * frames_per_column));
        const auto to = static_cast<int64_t>(std::floor(first + (c + 1) * frames_per_column));
        out[c] = range_peak(levels, from, std::max(to, from + 1));
    }
}

}  // namespace jx
