#pragma once
// What the program makes once at start-up and the main window works on: the settings, the
// transfer list, the values shared with the transfer threads, the MIDI ports, the transform
// tables, and the transfers wired in by the program.
#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "audio/transform.h"
#include "midi/midi_ports.h"
#include "midi/transfer_state.h"
#include "platform/settings.h"
#include "transfer/transfer_list.h"

namespace jx {

// The send engine and the recorder as the program wires them in. An empty one is not available
// in this build: the command that would start it does nothing.
struct TransferHooks {
    // Runs on the worker thread until the send stops by itself or on cancel_request.
    std::function<void()> send_thread;
    std::function<void()> start_recording;
    std::function<void()> stop_recording;
};

struct App {
    Settings settings;
    TransferList list;
    TransferState state;
    MidiPorts ports;
    FftTables fft;
    TransferHooks hooks;
    // The document named on the command line; empty for none.
    std::string command_line_path;

    // The send worker. Stop does not wait for it; shutdown and the next Send do.
    std::thread send_worker;
    std::atomic<bool> worker_alive{false};
};

}  // namespace jx
