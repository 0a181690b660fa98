#pragma once
// The program's MIDI side wired to the in-process virtual device over the loopback, as the
// program does at start-up: settings, shared transfer values, the ports with the input open, a
// headless window and a transfer list. Pacing is off unless asked for.
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/port_errors.h"
#include "app/send_view.h"
#include "devsim/in_process_device.h"
#include "midi/midi_ports.h"
#include "midi/send_engine.h"
#include "platform/midi/midi_loopback.h"
#include "platform/window/dialog_ids.h"
#include "platform/window/headless_window.h"
#include "transfer/transfer_list.h"

namespace jx::test {

struct VirtualRig {
    Settings settings;
    TransferState state;
    MidiService service;
    MidiLoopback loopback{service.pacing};
    InProcessDevice device;
    HeadlessWindow window;
    TransferList list;
    std::mutex list_mutex;
    MidiPorts ports;
    SendProgress progress;
    SendContext context;
    SendView view;
    SendJob send;
    std::atomic<bool> send_ended{false};

    explicit VirtualRig(DeviceConfig config = {}, bool paced = false) : device(loopback, config) {
        service.backends = {&loopback};
        service.pacing.enabled = paced;
        connect_transfer_state(service, state);
        settings.midi_out = 0;
        settings.midi_in = 0;
        ports.service = &service;
        ports.settings = &settings;
        ports.state = &state;
        context = SendContext{&list, &ports, &settings, &list_mutex, 0, &progress};
        open_midi_in(ports);
    }
    ~VirtualRig() {
        if (send.joinable()) {
            request_cancel(state);
            send.join();
        }
        close_midi_in(ports);
    }

    void add(const std::string& name, const std::vector<uint8_t>& bytes, bool selected = true) {
        auto entry = std::make_unique<Entry>();
        entry->data = bytes;
        std::lock_guard lock(list_mutex);
        const int index = insert_entry(list, name, std::move(entry), -1);
        set_selected(list, index, selected);
    }

    // What Send does: open the output, and start the thread when that worked.
    bool start_send() {
        open_midi_out(ports);
        if (ports.open_out_index.load() < 0) return false;
        send_ended = false;
        context.sample_number = first_sample_number(window.text(ids::samplepos));
        return send.start(context, [this] {
            send_ended = true;
            notify_transfer(state);
        });
    }

    // Waits for `done` until the limit. The device's side (what it took) tells the transfer
    // values nothing, so the wait also looks again every few milliseconds.
    template <typename Done>
    bool wait_for(Done done, std::chrono::milliseconds limit = std::chrono::seconds(20)) {
        const auto end = std::chrono::steady_clock::now() + limit;
        for (;;) {
            const auto slice = std::chrono::steady_clock::now() + std::chrono::milliseconds(5);
            if (wait_transfer_until(state, std::min(slice, end), done)) return true;
            if (std::chrono::steady_clock::now() >= end) return false;
        }
    }

    // What the window's timer does with what the send and the ports published: the window's
    // texts, and a message box for each port error.
    void tick() {
        {
            std::lock_guard lock(list_mutex);
            view.show(progress.snapshot(), window, list);
        }
        show_port_errors(ports, window);
    }

    // Waits for the send thread to end by itself; false (and the send stopped) when it did not.
    // The window's timer then runs once, so that its texts show how the send ended.
    bool wait_send_end(std::chrono::milliseconds limit = std::chrono::seconds(20)) {
        const bool ended = wait_for([this] { return send_ended.load(); }, limit);
        if (!ended) request_cancel(state);
        send.join();
        tick();
        return ended;
    }

    // The device's answers as the input took them, read on the engine thread, whose values they
    // are. Not while a send runs there.
    DeviceAnswers answers() {
        DeviceAnswers seen;
        if (!service.engine.start_job([&] { seen = ports.answers; })) return seen;
        service.engine.wait_for_job();
        return seen;
    }
    // Waits until the answers are as `done` says, looking again as the input brings more.
    template <typename Done>
    bool wait_for_answers(Done done, std::chrono::milliseconds limit = std::chrono::seconds(20)) {
        const auto end = std::chrono::steady_clock::now() + limit;
        for (;;) {
            if (done(answers())) return true;
            if (std::chrono::steady_clock::now() >= end) return false;
            wait_transfer_until(state,
                                std::chrono::steady_clock::now() + std::chrono::milliseconds(5),
                                [] { return false; });
        }
    }

    // What the device took, once everything sent has crossed the loopback.
    DeviceRecord device_record() {
        loopback.wait_idle(std::chrono::steady_clock::now() + std::chrono::seconds(20));
        return device.device().record();
    }

    // A whole send, start to end.
    bool run_send(std::chrono::milliseconds limit = std::chrono::seconds(20)) {
        return start_send() && wait_send_end(limit);
    }
};

}  // namespace jx::test
