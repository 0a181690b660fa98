#pragma once
// The send engine: the worker thread that writes the selected entries of the transfer list to
// the MIDI output. SysEx entries go message by message with the configured pause; samples become
// SDS dumps on the way, optionally under the SDS handshake with the receiving device.
#include <mutex>

#include "midi/midi_ports.h"
#include "transfer/transfer_list.h"

namespace jx {

// What one send works with. The transfer list belongs to the window thread; the send thread
// reaches it only under list_mutex, which the window thread holds whenever it changes the list
// (adds, removes or moves items, changes the selection) while a send may run. The thread takes
// each entry's address under the lock and then reads the entry's bytes in place without it: the
// window refuses to close entries while sending, and an Entry does not move when the list grows.
// The thread takes the lock only for short list calls and never while it waits, so a window
// thread waiting for a stop (shutdown) can never block it; the window's own calls (texts,
// message boxes) are the window's to make safe from another thread.
struct SendContext {
    TransferList* list = nullptr;
    Window* window = nullptr;
    MidiPorts* ports = nullptr;
    const Settings* settings = nullptr;
    std::mutex* list_mutex = nullptr;
};

// The thread procedure, started by Send after open_midi_out left an open output.
void send_thread(SendContext& context);

// send_mark 'L' for every selected item, 'U' for the others, in list order.
void mark_send_entries(TransferList& list);
// The first item marked 'L', now marked 'S'; -1 when there is none.
int next_send_entry(TransferList& list);

// The texts of the Send button.
constexpr const char* text_send = "Send";
constexpr const char* text_stop_send = "Stop Send";

}  // namespace jx
