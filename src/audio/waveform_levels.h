#pragma once
// The lowest and highest value of any run of frames of one channel, fast enough to draw a long
// sample at every zoom: precomputed levels of blocks, each level's blocks twice as long as the
// one below, so that a pixel column reads a few blocks instead of all its frames.
#include <cstdint>
#include <vector>

namespace jx {

struct Peak {
    float low;
    float high;
    bool empty() const { return low > high; }
};

constexpr Peak no_peak = {1.0f, -1.0f};
constexpr int64_t level_block = 16;  // frames in a block of the first level

struct WaveLevels {
    const std::vector<float>* frames = nullptr;  // not owned; must outlive the levels
    // Level k holds the peaks of blocks of level_block << k frames; a last, shorter block of
    // each level is left out, its frames read from the level below.
    std::vector<std::vector<Peak>> levels;
};

WaveLevels build_levels(const std::vector<float>& frames);

// The peak of frames [first, last), clipped to the channel; no_peak when none remains.
Peak range_peak(const WaveLevels& levels, int64_t first, int64_t last);

// The peak of each of `columns` pixel columns, column c covering the frames from
// first + c * frames_per_column up to the next column's first frame (at least one frame, so that
// zoomed in past one frame per column each column shows the frame under it).
void column_peaks(const WaveLevels& levels, double first, double frames_per_column, int columns,
                  Peak* out);

}  // namespace jx
