// describe_dump over an 8 MiB dump of mixed maker messages, beside a plain memchr pass for F0
// over the same bytes: the floor any scan that looks at every F0 must pay.
#include "analysis/sysex_scan.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <random>

#include "maker_message.h"

namespace {

using jx::test::Bytes;

// Kits, sounds and patterns for devices 06 and 07, messages of other makers, and bodies that
// carry stray F0 bytes (as damaged or foreign data does), until 8 MiB are filled.
const Bytes& mixed_dump() {
    static const Bytes dump = [] {
        std::mt19937 rng(7);
        Bytes all;
        all.reserve(8u << 20);
        const uint8_t ids[] = {'R', 'S', 'T', 'U', 'V', 'W'};
        while (all.size() < (8u << 20) - 2048) {
            Bytes body(64 + rng() % 900);
            for (uint8_t& b : body) b = rng() & 0x7F;
            if (rng() % 4 == 0) body[rng() % body.size()] = 0xF0;
            Bytes m;
            switch (rng() % 4) {
                case 0:
                    m = jx::test::record(0x07, ids[rng() % 6], body);
                    break;
                case 1: {  // another maker's message
                    m = {0xF0, 0x43, 0x10, 0x4C};
                    for (uint8_t b : body) m.push_back(b);
                    m.push_back(0xF7);
                    break;
                }
                default:
                    m = jx::test::record(0x06, ids[rng() % 6], body);
            }
            for (uint8_t b : m) all.push_back(b);
        }
        return all;
    }();
    return dump;
}

void BM_describe_dump(benchmark::State& state) {
    const Bytes& d = mixed_dump();
    for (auto _ : state) {
        auto text = jx::describe_dump(0x06, d.data(), d.size());
        benchmark::DoNotOptimize(text);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * d.size()));
}
BENCHMARK(BM_describe_dump)->Unit(benchmark::kMicrosecond);

void BM_memchr_f0_floor(benchmark::State& state) {
    const Bytes& d = mixed_dump();
    for (auto _ : state) {
        size_t count = 0;
        const uint8_t* p = d.data();
        const uint8_t* end = p + d.size();
        while ((p = static_cast<const uint8_t*>(std::memchr(p, 0xF0, end - p))) != nullptr) {
            ++count;
            ++p;
        }
        benchmark::DoNotOptimize(count);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * d.size()));
}
BENCHMARK(BM_memchr_f0_floor)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
