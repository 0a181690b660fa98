// A ten-minute 16-bit stereo WAV (44100 Hz, 106 MB) turned into its SDS dump: every step of
// convert_sample_step from memory, and the whole `jx-cli sds` command (read, convert, write).
#include "audio/sds_convert.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <numbers>
#include <string>

#include "audio/sample_words.h"
#include "run_command.h"
#include "sample_file_maker.h"
#include "temp_dir.h"

namespace {

using jx::test::Bytes;

constexpr int frames = 10 * 60 * 44100;

// Two tones, one per channel, so that the mix is not trivially silent.
const Bytes& long_wav() {
    static const Bytes file = [] {
        Bytes data;
        data.reserve(static_cast<size_t>(frames) * 4);
        for (int k = 0; k < frames; ++k) {
            double t = 2 * std::numbers::pi * k / 44100.0;
            jx::test::put(data, static_cast<uint32_t>(std::lround(20000 * std::sin(440 * t))), 2,
                          false);
            jx::test::put(data, static_cast<uint32_t>(std::lround(15000 * std::sin(523 * t))), 2,
                          false);
        }
        return jx::test::riff(
            {jx::test::fmt_chunk(1, 2, 44100, 16), jx::test::wav_chunk("data", data)});
    }();
    return file;
}

void BM_convert_sample_step(benchmark::State& state) {
    const Bytes& file = long_wav();
    size_t total = 0;
    for (auto _ : state) {
        jx::SampleConversion c{.kind = jx::sample_kind_of(file.data(), file.size()),
                               .channel_mode = static_cast<jx::ChannelMode>(state.range(0))};
        uint8_t check = 0;
        total = jx::convert_whole_sample(c, file.data(), file.size(), 0, std::nullopt,
                                         [&](const uint8_t* m, size_t n) { check ^= m[n - 2]; });
        benchmark::DoNotOptimize(check);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * file.size());
    state.counters["dump_bytes"] = static_cast<double>(total);
    state.counters["frames_per_s"] = benchmark::Counter(
        static_cast<double>(frames) * state.iterations(), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_convert_sample_step)
    ->ArgName("channel_mode")
    ->Arg(0)
    ->Arg(2)
    ->Unit(benchmark::kMillisecond);

#ifdef JX_CLI_PATH
// The command as a user runs it: reading the file, converting, and writing the 84 MB dump
// atomically (to a temporary file, synced, then renamed).
void BM_jx_cli_sds(benchmark::State& state) {
    jx::test::TempDir dir;
    std::string wav = dir.write("ten minutes.wav", long_wav());
    std::string out = dir.file("ten minutes.syx");
    for (auto _ : state) {
        jx::test::CommandResult r =
            jx::test::run_command(JX_CLI_PATH, {"sds", wav, "--out", out}, dir.file("err.txt"));
        if (r.status != 0) state.SkipWithError(r.err.c_str());
    }
}
BENCHMARK(BM_jx_cli_sds)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
#endif

}  // namespace

BENCHMARK_MAIN();
