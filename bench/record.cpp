// The recorder over a 4 MiB stream of mixed SysEx and SDS messages, framed once and handed over in
// batches of pieces as the MIDI input hands them over, in each receive format; beside a plain copy
// of the same bytes into a receive-sized block, the floor any recorder pays.
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <vector>

#include "midi/recorder.h"
#include "recorder_rig.h"
#include "sds_dump_maker.h"

namespace {

using jx::test::Stream;

constexpr size_t stream_size = 4u << 20;

// Maker dumps of about a kilobyte, Turbo answers and 16-bit sample dumps of 2000 samples, in turn,
// until 4 MiB are filled: one message per buffer.
const std::vector<Stream>& buffers() {
    static const std::vector<Stream> all = [] {
        std::vector<Stream> messages;
        const jx::test::DumpFields dump{.bits = 16, .samples = jx::test::sweep(16, 2000)};
        size_t total = 0;
        for (int round = 0; total < stream_size; ++round) {
            Stream plain = {0xF0, 0x00, 0x6B, 0x2E, 0x06, 0x00, 0x20};
            for (int k = 0; k < 1000 + round % 100; ++k) plain.push_back(k & 0x7F);
            plain.push_back(0xF7);
            messages.push_back(plain);
            messages.push_back({0xF0, 0x00, 0x6B, 0x2E, 0x04, 0x00, 0x02, 0x05, 0xF7});
            messages.push_back(jx::test::dump_header(dump));
            for (size_t p = 0; p < jx::test::packet_count(dump); ++p)
                messages.push_back(jx::test::data_packet(dump, p));
            total = 0;
            for (const Stream& m : messages) total += m.size();
        }
        return messages;
    }();
    return all;
}

// The same messages one after the other, as they lie in an input's ring.
const Stream& stream() {
    static const Stream all = [] {
        Stream joined;
        for (const Stream& m : buffers()) joined.insert(joined.end(), m.begin(), m.end());
        return joined;
    }();
    return all;
}

int64_t total_bytes() {
    int64_t n = 0;
    for (const Stream& m : buffers()) n += static_cast<int64_t>(m.size());
    return n;
}

void BM_plain_copy(benchmark::State& state) {
    std::unique_ptr<uint8_t[]> block(new uint8_t[jx::receive_buffer_size]);
    for (auto _ : state) {
        size_t at = 0;
        for (const Stream& m : buffers()) {
            std::memcpy(block.get() + at, m.data(), m.size());
            at += m.size();
        }
        benchmark::DoNotOptimize(block.get());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * total_bytes());
}
BENCHMARK(BM_plain_copy)->Unit(benchmark::kMillisecond);

// One recording of the whole stream: start, every buffer, stop; the entries go to a fresh list.
void BM_record(benchmark::State& state) {
    for (auto _ : state) {
        jx::test::RecorderRig rig(static_cast<int32_t>(state.range(0)));
        jx::start_recording(rig.recorder);
        jx::replay_stream(rig.recorder, stream().data(), stream().size());
        jx::stop_recording(rig.recorder);
        benchmark::DoNotOptimize(rig.list.items.size());
        state.counters["entries"] = static_cast<double>(rig.list.items.size());
    }
    state.SetBytesProcessed(state.iterations() * total_bytes());
}
BENCHMARK(BM_record)->ArgName("rec_format")->DenseRange(0, 3)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
