// How close a send comes to the MIDI wire's own speed: sends to the in-process virtual device over
// the paced loopback, timed against the pure wire time of every byte that crossed the cable in
// both directions at the speed in force.
#include <benchmark/benchmark.h>

#include <chrono>

#include "sample_file_maker.h"
#include "virtual_rig.h"

namespace jx {
namespace {

using Clock = std::chrono::steady_clock;
using test::Bytes;

// One second of a 16-bit mono sample at 44100 Hz: a sawtooth.
Bytes one_second_wav() {
    Bytes data;
    for (int k = 0; k < 44100; ++k)
        test::put(data, static_cast<uint32_t>((k * 331) % 65536 - 32768), 2, false);
    return test::riff({test::fmt_chunk(1, 1, 44100, 16), test::wav_chunk("data", data)});
}

// A SysEx file of 1 MiB: 256 messages of 4096 bytes.
Bytes one_mebibyte_sysex() {
    Bytes file;
    for (int m = 0; m < 256; ++m) {
        file.push_back(0xF0);
        for (int k = 0; k < 4094; ++k) file.push_back(static_cast<uint8_t>((m + k) & 0x7F));
        file.push_back(0xF7);
    }
    return file;
}

// Both ends at the Turbo speed index, as the Turbo button and the device's answer leave them.
void agree_speed(test::VirtualRig& rig, int index) {
    if (index <= 1) return;
    rig.settings.turbo_lim = index;
    send_turbo_request(rig.ports);
    rig.wait_for([&] { return rig.state.turbo_speed.load() == turbo_speed_of_index(index); });
}

// Sends the file once per iteration and reports the wire time over the time taken.
void run(benchmark::State& state, const Bytes& file, const char* name, bool handshake) {
    const int index = static_cast<int>(state.range(0));
    double wire_seconds = 0, taken_seconds = 0;
    for (auto _ : state) {
        test::VirtualRig rig({}, true);
        rig.settings.ignore_hs = handshake ? 0 : 1;
        rig.settings.midi_del = 0;
        agree_speed(rig, index);
        rig.device.device().clear();
        rig.add(name, file);
        const Clock::time_point start = Clock::now();
        if (!rig.run_send(std::chrono::minutes(10))) state.SkipWithError("the send did not end");
        // The last message's answer has left the device's end by the time the send ends.
        const double taken = std::chrono::duration<double>(Clock::now() - start).count();
        state.SetIterationTime(taken);
        const DeviceRecord got = rig.device_record();
        size_t bytes = 0;
        for (const Bytes& m : got.messages) bytes += m.size();
        for (const Bytes& m : got.answers) bytes += m.size();
        wire_seconds +=
            std::chrono::duration<double>(wire_time(bytes, turbo_speed_of_index(index))).count();
        taken_seconds += taken;
    }
    state.counters["wire_percent"] = 100.0 * wire_seconds / taken_seconds;
}

void BM_SdsSendWithHandshake(benchmark::State& state) {
    static const Bytes file = one_second_wav();
    run(state, file, "/bench/one_second.wav", true);
}
// Speed index 1 (x1) and 11 (x20).
BENCHMARK(BM_SdsSendWithHandshake)
    ->Arg(1)
    ->Arg(11)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

void BM_SysExFile(benchmark::State& state) {
    static const Bytes file = one_mebibyte_sysex();
    run(state, file, "/bench/one_mebibyte.syx", false);
}
// At x1 the mebibyte takes 335 s on the wire; x20 shows the same overheads in 17 s.
BENCHMARK(BM_SysExFile)->Arg(11)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace jx

BENCHMARK_MAIN();
