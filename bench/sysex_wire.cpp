// How close a mebibyte of SysEx comes to the MIDI wire's own speed at x20, in messages of 128 B,
// 4 KiB and 64 KiB: sent message by message as the send engine does (each waits until it has left
// the cable), timed until the far end holds every byte, against the wire time of those bytes.
// Over the virtual loopback, and over the ALSA sequencer between two clients of this process
// where /dev/snd/seq exists (the test guest's kernel; skipped elsewhere).
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/midi/midi_alsa.h"
#include "platform/midi/midi_loopback.h"
#include "platform/midi/midi_system.h"

namespace jx {
namespace {

using Clock = std::chrono::steady_clock;
constexpr size_t total_bytes = 1 << 20;
constexpr int32_t x20 = 200;

std::vector<std::vector<uint8_t>> messages_of(size_t size) {
    std::vector<std::vector<uint8_t>> messages;
    for (size_t done = 0; done < total_bytes; done += size) {
        std::vector<uint8_t> m(size);
        for (size_t k = 0; k < size; ++k) m[k] = static_cast<uint8_t>((done + k) & 0x7F);
        m.front() = 0xF0;
        m.back() = 0xF7;
        messages.push_back(std::move(m));
    }
    return messages;
}

// What the far end took, and a wait until it holds a number of bytes.
struct Arrivals {
    std::mutex mutex;
    std::condition_variable changed;
    size_t bytes = 0;
    void add(size_t count) {
        {
            std::lock_guard lock(mutex);
            bytes += count;
        }
        changed.notify_all();
    }
    bool wait_for(size_t count) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, std::chrono::minutes(2), [&] { return bytes >= count; });
    }
};

struct Counter : LoopbackPeer {
    Arrivals& arrivals;
    explicit Counter(Arrivals& a) : arrivals(a) {}
    void receive(const uint8_t*, size_t length) override { arrivals.add(length); }
};

// Sends every message on output `port` of the service, each after the one before has left the
// cable, and reports the wire time over the time until everything arrived.
void send_all(benchmark::State& state, MidiService& service, int port, Arrivals& arrivals) {
    const auto messages = messages_of(static_cast<size_t>(state.range(0)));
    use_precise_timed_waits();  // as the send engine's thread does
    std::atomic<int32_t> speed{x20};
    service.pacing.turbo_speed = &speed;
    MidiOutput* out = nullptr;
    if (auto error = open_output(service, midi_output_at(service, port), out)) {
        state.SkipWithError(midi_error_text(*error).c_str());
        return;
    }
    double wire = 0, taken = 0;
    for (auto _ : state) {
        const size_t before = arrivals.bytes;
        const Clock::time_point start = Clock::now();
        for (const auto& m : messages) {
            const MidiSent sent = out->send(m.data(), m.size());
            if (!sent.ok()) {
                state.SkipWithError(midi_error_text(*sent.error).c_str());
                return;
            }
            std::this_thread::sleep_until(sent.leaves_wire);
        }
        if (!arrivals.wait_for(before + total_bytes)) state.SkipWithError("bytes were lost");
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        state.SetIterationTime(seconds);
        taken += seconds;
        wire += std::chrono::duration<double>(wire_time(total_bytes, x20)).count();
    }
    state.counters["wire_percent"] = 100.0 * wire / taken;
    out->close();
}

void BM_SysExOverLoopback(benchmark::State& state) {
    Arrivals arrivals;
    Counter counter(arrivals);
    // The service ends first: its handles hold connections of the loopback.
    auto service = std::make_unique<MidiService>();
    MidiLoopback loopback(service->pacing);
    loopback.attach(&counter);
    service->backends = {&loopback};
    send_all(state, *service, 0, arrivals);
    service.reset();
    loopback.attach(nullptr);
}

void BM_SysExOverAlsa(benchmark::State& state) {
    if (!AlsaSeqBackend::sequencer_present()) {
        state.SkipWithError("no ALSA sequencer here");
        return;
    }
    Arrivals arrivals;
    AlsaSeqBackend far_end("jx-bench-far");
    EngineThread engine;
    struct Taker final : MidiConsumer {
        Arrivals& arrivals;
        explicit Taker(Arrivals& a) : arrivals(a) {}
        void take(std::span<const SysexPiece> pieces) override {
            size_t bytes = 0;
            for (const SysexPiece& piece : pieces)
                if (piece.kind != SysexPiece::lost) bytes += piece.size;
            arrivals.add(bytes);
        }
    } taker(arrivals);
    std::unique_ptr<MidiInput> in;
    if (auto error = open_virtual_input(far_end, engine, "in", &taker, in)) {
        state.SkipWithError(error->text.c_str());
        return;
    }
    in->start();
    {
        AlsaSeqBackend program("jx-bench");
        MidiService service;  // ends before the backend
        service.backends = {&program};
        int port = 0;
        while (port < midi_out_count(service) &&
               midi_out_name(service, port) != far_end.virtual_port_name("in", false))
            ++port;
        send_all(state, service, port, arrivals);
    }
    in.reset();
}

BENCHMARK(BM_SysExOverLoopback)
    ->Arg(128)
    ->Arg(4096)
    ->Arg(65536)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SysExOverAlsa)
    ->Arg(128)
    ->Arg(4096)
    ->Arg(65536)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace jx

BENCHMARK_MAIN();
