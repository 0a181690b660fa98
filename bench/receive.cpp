// Receiving at full speed: the in-process virtual device sends a one-second 16-bit sample under
// the handshake and a mebibyte of SysEx over the paced loopback at Turbo x20, and the program's
// recorder takes them through the MIDI input as Receive does. Reports the bytes lost (what the
// device sent less what was recorded; the goal is 0) and the wire efficiency: the pure wire time
// of every byte that crossed the cable, both ways, over the time taken.
#include <benchmark/benchmark.h>

#include <chrono>

#include "midi/recorder.h"
#include "sample_file_maker.h"
#include "transfer_files.h"
#include "virtual_rig.h"

namespace jx {
namespace {

using Clock = std::chrono::steady_clock;
using test::Bytes;

Bytes one_second_wav() {
    return test::ramp_wav(44100, 16);
}

Bytes one_mebibyte_sysex() {
    Bytes file;
    for (uint8_t m = 0; file.size() < (1u << 20); ++m) {
        const Bytes message = test::sysex_message(4096, m);
        file.insert(file.end(), message.begin(), message.end());
    }
    return file;
}

// The recorder wired to the rig's ports, recording in the SDS form: what is stored is the very
// bytes that arrived, so that lost bytes show as a shortfall.
struct Receiving {
    test::VirtualRig& rig;
    Recorder recorder;
    explicit Receiving(test::VirtualRig& r) : rig(r) {
        rig.settings.rec_format = rec_sds;
        rig.settings.ignore_hs = 0;
        rig.state.receive_state = receive_idle;
        recorder.state = &rig.state;
        recorder.settings = &rig.settings;
        recorder.list = &rig.list;
        recorder.list_mutex = &rig.list_mutex;
        connect_recorder(rig.ports, recorder);
        open_midi_out(rig.ports);
        start_recording(recorder);
    }
    size_t stored_bytes() {
        std::lock_guard lock(rig.list_mutex);
        size_t bytes = 0;
        for (const ListItem& item : rig.list.items) bytes += item.entry->length();
        return bytes;
    }
};

void run(benchmark::State& state, const Bytes& file, bool sample) {
    constexpr int index = 11;  // x20
    double wire_seconds = 0, taken_seconds = 0;
    double lost = 0;
    for (auto _ : state) {
        test::VirtualRig rig({}, true);
        rig.settings.turbo_lim = index;
        send_turbo_request(rig.ports);
        rig.wait_for([&] { return rig.state.turbo_speed.load() == turbo_speed_of_index(index); });
        Receiving receiving(rig);
        VirtualDevice& device = rig.device.device();
        device.clear();
        const Clock::time_point start = Clock::now();
        const std::string problem = device.send_file(file, 0, sample ? "second.wav" : "big.syx");
        if (!problem.empty()) state.SkipWithError(problem.c_str());
        if (!device.wait_sends_done(Clock::now() + std::chrono::minutes(5)))
            state.SkipWithError("the device's send did not end");
        // Everything sent has crossed the loopback and the input has handed it to the recorder.
        rig.wait_for([&] { return rig.loopback.idle() && rig.ports.in->sink.drained(); });
        const double taken = std::chrono::duration<double>(Clock::now() - start).count();
        stop_recording(receiving.recorder);
        state.SetIterationTime(taken);
        const DeviceRecord got = device.record();
        if (got.sends.empty() || got.sends.back().result != SendResult::sent)
            state.SkipWithError("the device's send did not end as sent");
        size_t sent = 0, answers = 0;
        for (const Bytes& m : got.sent) sent += m.size();
        for (const Bytes& m : got.messages) answers += m.size();
        lost += static_cast<double>(sent) - static_cast<double>(receiving.stored_bytes());
        wire_seconds +=
            std::chrono::duration<double>(wire_time(sent + answers, turbo_speed_of_index(index)))
                .count();
        taken_seconds += taken;
    }
    state.counters["bytes_lost"] = lost;
    state.counters["wire_percent"] = 100.0 * wire_seconds / taken_seconds;
}

void BM_ReceiveSampleWithHandshake(benchmark::State& state) {
    static const Bytes file = one_second_wav();
    run(state, file, true);
}
BENCHMARK(BM_ReceiveSampleWithHandshake)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

void BM_ReceiveSysEx(benchmark::State& state) {
    static const Bytes file = one_mebibyte_sysex();
    run(state, file, false);
}
BENCHMARK(BM_ReceiveSysEx)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace jx

BENCHMARK_MAIN();
