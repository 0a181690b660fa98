#pragma once
// What the program makes once at start-up and the main window works on: the settings, the
// transfer list, the values shared with the transfer threads, the MIDI ports, the transform
// tables, the recorder and the send engine's context.
#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>

#include "audio/transform.h"
#include "midi/midi_ports.h"
#include "midi/recorder.h"
#include "midi/send_engine.h"
#include "midi/transfer_state.h"
#include "platform/store/settings.h"
#include "transfer/transfer_list.h"

namespace jx {

struct App {
    Settings settings;
    TransferList list;
    TransferState state;
    MidiPorts ports;
    FftTables fft;
    // Held by every thread while it works on the list: the window thread, the send thread, and
    // the engine thread storing a received dump.
    std::mutex list_mutex;
    Recorder recorder;
    SendContext send_context;
    SendProgress send_progress;  // what the send publishes for the window to show
    // The document named on the command line; empty for none.
    std::string command_line_path;

    // The send, a job of the MIDI engine thread. Nothing on the window thread waits for it: Send
    // refuses while it still ends, and shutdown finishes once it has.
    SendJob send_worker;
    std::atomic<bool> worker_alive{false};
    // open_ports' job may still run on the engine thread; read and written by the window thread.
    bool ports_opening = false;
};

}  // namespace jx
