// The min/max levels answer every range exactly as a walk over its frames does.
#include "audio/waveform_levels.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

namespace jx {
namespace {

Peak walk(const std::vector<float>& frames, int64_t first, int64_t last) {
    Peak peak = no_peak;
    for (int64_t f = std::max<int64_t>(first, 0);
         f < std::min<int64_t>(last, static_cast<int64_t>(frames.size())); ++f)
        peak = {std::min(peak.low, frames[f]), std::max(peak.high, frames[f])};
    return peak;
}

TEST(WaveformLevels, EveryRangeMatchesAWalkOverItsFrames) {
    std::mt19937 random(7);
    std::uniform_real_distribution<float> value(-1, 1);
    // Lengths around block and level boundaries, and one with a ragged end at every level.
    for (size_t length :
         {size_t{0}, size_t{1}, size_t{15}, size_t{16}, size_t{17}, size_t{512}, size_t{10007}}) {
        SCOPED_TRACE(length);
        std::vector<float> frames(length);
        for (float& f : frames) f = value(random);
        const WaveLevels levels = build_levels(frames);
        std::uniform_int_distribution<int64_t> place(-20, static_cast<int64_t>(length) + 20);
        for (int k = 0; k < 2000; ++k) {
            int64_t a = place(random), b = place(random);
            if (a > b) std::swap(a, b);
            const Peak got = range_peak(levels, a, b), want = walk(frames, a, b);
            ASSERT_EQ(got.empty(), want.empty()) << a << ".." << b;
            if (!want.empty()) {
                ASSERT_EQ(got.low, want.low) << a << ".." << b;
                ASSERT_EQ(got.high, want.high) << a << ".." << b;
            }
        }
    }
}

TEST(WaveformLevels, ColumnsCoverTheViewWithoutGapsAtAnyZoom) {
    std::vector<float> frames(1000);
    for (size_t f = 0; f < frames.size(); ++f) frames[f] = std::sin(f * 0.05f);
    const WaveLevels levels = build_levels(frames);
    struct Case {
        double first, per_column;
        int columns;
    };
    for (const Case& c : {Case{0, 1000.0 / 7, 7}, Case{100.5, 3.3, 50}, Case{10, 0.25, 40}}) {
        std::vector<Peak> peaks(static_cast<size_t>(c.columns));
        column_peaks(levels, c.first, c.per_column, c.columns, peaks.data());
        for (int x = 0; x < c.columns; ++x) {
            const auto a = static_cast<int64_t>(std::floor(c.first + x * c.per_column));
            const auto b =
                std::max(a + 1, static_cast<int64_t>(std::floor(c.first + (x + 1) * c.per_column)));
            const Peak want = walk(frames, a, b);
            EXPECT_EQ(peaks[x].low, want.low) << x;
            EXPECT_EQ(peaks[x].high, want.high) << x;
        }
    }
    // Past the end the columns are empty.
    Peak past;
    column_peaks(levels, 1000, 1, 1, &past);
    EXPECT_TRUE(past.empty());
}

}  // namespace
}  // namespace jx
