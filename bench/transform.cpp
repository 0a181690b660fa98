// The transform beside FFTW on the same lengths, powers of two from 1024 to 16384 and others (FFTW
// plans are made outside the timed loop); and the waveform synthesis of a 16383-frame cycle.
#include "audio/transform.h"

#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "audio/waveform_synthesis.h"

#ifdef JX_HAVE_FFTW
#include <fftw3.h>
#endif

namespace {

std::vector<double> random_values(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> value(-1.0, 1.0);
    std::vector<double> v(n);
    for (double& x : v) x = value(rng);
    return v;
}

// Powers of two on the start-up tables; lengths made of 2, 3 and 5, and 7168 = 1024·7, by passes
// alone; 8576 = 128·67 by passes and the chirp-z method; 12289 (prime) and 16383 by the chirp-z
// method on all points.
void compared_lengths(benchmark::internal::Benchmark* b) {
    for (int64_t n :
         {1024, 2048, 4096, 8192, 16384, 1000, 1536, 6000, 10000, 7168, 8576, 12289, 16383})
        b->Arg(n);
    b->Unit(benchmark::kMicrosecond);
}

void BM_fft(benchmark::State& state) {
    const auto n = static_cast<int32_t>(state.range(0));
    jx::FftTables tables;
    jx::fft_init(tables, 16384, jx::fft_flag::any_length);
    std::vector<double> re = random_values(n, 1), im = random_values(n, 2);
    for (auto _ : state) {
        // Forward then inverse keeps the values bounded however long the loop runs.
        jx::fft(tables, re.data(), im.data(), n, jx::fft_forward);
        jx::fft(tables, re.data(), im.data(), n, jx::fft_inverse);
        benchmark::DoNotOptimize(re.data());
    }
    state.SetItemsProcessed(state.iterations() * 2);
}
BENCHMARK(BM_fft)->Apply(compared_lengths);

// With argument 1 the chirp-z plan is made anew in every round, as for a cycle whose length
// differs from the last one converted.
void BM_synthesize_tables(benchmark::State& state) {
    const bool new_plan = state.range(0) == 1;
    jx::FftTables tables;
    jx::fft_init(tables, 16384, jx::fft_flag::any_length);
    std::vector<double> cycle = random_values(16383, 3);
    std::vector<uint8_t> packed(jx::tonepak_packed_bytes);
    for (auto _ : state) {
        if (new_plan) tables.plan_length = 0;
        benchmark::DoNotOptimize(jx::synthesize_tables(tables, cycle.data(), packed.data(), 16383));
    }
}
BENCHMARK(BM_synthesize_tables)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

#ifdef JX_HAVE_FFTW
// The same work for FFTW: a forward and a backward transform in place, scaled by 1/n as ours is.
void BM_fftw(benchmark::State& state) {
    const auto n = static_cast<int32_t>(state.range(0));
    fftw_complex* io = fftw_alloc_complex(n);
    fftw_plan forward = fftw_plan_dft_1d(n, io, io, FFTW_FORWARD, FFTW_MEASURE);
    fftw_plan backward = fftw_plan_dft_1d(n, io, io, FFTW_BACKWARD, FFTW_MEASURE);
    std::vector<double> re = random_values(n, 1), im = random_values(n, 2);
    for (int32_t j = 0; j < n; ++j) io[j][0] = re[j], io[j][1] = im[j];
    const double scale = 1.0 / n;
    for (auto _ : state) {
        fftw_execute(forward);
        fftw_execute(backward);
        for (int32_t j = 0; j < n; ++j) io[j][0] *= scale, io[j][1] *= scale;
        benchmark::DoNotOptimize(io);
    }
    state.SetItemsProcessed(state.iterations() * 2);
    fftw_destroy_plan(forward);
    fftw_destroy_plan(backward);
    fftw_free(io);
}
BENCHMARK(BM_fftw)->Apply(compared_lengths);
#endif

}  // namespace

BENCHMARK_MAIN();
