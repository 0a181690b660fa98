// What the inspector pays: the min/max levels of a 2,097,151-frame sample (the longest a dump
// header carries), a draw of 1200 pixel columns from them at zooms from the whole sample down to
// 32 pixels a frame, reading such a sample's frames from its WAV bytes, and the message table of
// a dump of 100,000 messages.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>

#include "analysis/message_table.h"
#include "audio/sample_frames.h"
#include "audio/waveform_levels.h"
#include "maker_message.h"
#include "sample_file_maker.h"

namespace {

constexpr int64_t longest = 2097151;
constexpr int columns = 1200;

const std::vector<float>& long_sample() {
    static const std::vector<float> frames = [] {
        std::mt19937 rng(3);
        std::uniform_real_distribution<float> noise(-0.1f, 0.1f);
        std::vector<float> all(longest);
        for (int64_t f = 0; f < longest; ++f) all[f] = 0.8f * std::sin(f * 0.01f) + noise(rng);
        return all;
    }();
    return frames;
}

using jx::test::Bytes;

void BM_BuildLevels(benchmark::State& state) {
    const std::vector<float>& frames = long_sample();
    for (auto _ : state) benchmark::DoNotOptimize(jx::build_levels(frames));
    state.SetItemsProcessed(state.iterations() * longest);
}
BENCHMARK(BM_BuildLevels)->Unit(benchmark::kMillisecond);

// Arg: frames per pixel column, times 1000 (the whole sample, then closer and closer).
void BM_DrawColumns(benchmark::State& state) {
    const jx::WaveLevels levels = jx::build_levels(long_sample());
    const double per_column = state.range(0) / 1000.0;
    std::vector<jx::Peak> peaks(columns);
    // From the middle of the sample, where the blocks do not line up with the columns.
    const double first = std::max(0.0, (longest - per_column * columns) / 2) + 0.37;
    for (auto _ : state) {
        jx::column_peaks(levels, first, per_column, columns, peaks.data());
        benchmark::DoNotOptimize(peaks.data());
    }
}
BENCHMARK(BM_DrawColumns)
    ->Arg(longest * 1000 / columns)
    ->Arg(100000)
    ->Arg(10000)
    ->Arg(1000)
    ->Arg(31)
    ->Unit(benchmark::kMicrosecond);

void BM_ReadWavFrames(benchmark::State& state) {
    using namespace jx::test;
    static const Bytes wav = [] {
        Bytes data(longest * 2);
        const std::vector<float>& frames = long_sample();
        for (int64_t f = 0; f < longest; ++f) {
            const auto word = static_cast<uint16_t>(static_cast<int16_t>(frames[f] * 32000));
            data[2 * f] = word & 0xFF;
            data[2 * f + 1] = word >> 8;
        }
        return riff({fmt_chunk(1, 1, 44100, 16), wav_chunk("data", data)});
    }();
    for (auto _ : state) {
        jx::SampleFrames sound;
        benchmark::DoNotOptimize(jx::read_sample_frames(wav.data(), wav.size(), sound));
    }
    state.SetItemsProcessed(state.iterations() * longest);
}
BENCHMARK(BM_ReadWavFrames)->Unit(benchmark::kMillisecond);

void BM_ListMessages(benchmark::State& state) {
    static const Bytes dump = [] {
        Bytes all;
        for (int k = 0; k < 100000; ++k) {
            Bytes body(8 + k % 40, static_cast<uint8_t>(k & 0x7F));
            Bytes m = jx::test::record(0x06, "RSTUVW"[k % 6], body);
            if (k % 1000 == 0) m[m.size() - 4] ^= 1;
            all.insert(all.end(), m.begin(), m.end());
        }
        return all;
    }();
    size_t rows = 0;
    for (auto _ : state) rows = jx::list_messages(dump.data(), dump.size()).size();
    state.counters["messages"] = static_cast<double>(rows);
}
BENCHMARK(BM_ListMessages)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
