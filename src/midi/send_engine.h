#pragma once
// The send engine: the worker thread that writes the selected entries of the transfer list to
// the MIDI output. SysEx entries go message by message with the configured pause; samples become
// SDS dumps on the way, optionally under the SDS handshake with the receiving device.
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "midi/midi_ports.h"
#include "transfer/entry_info.h"
#include "transfer/transfer_list.h"

namespace jx {

// How far a send got and what the window is to show of it, published by the send as it goes, for
// whoever reports on it (the window's timer, jx-cli's progress line and results); read with
// snapshot() from any thread. The send itself never touches the window.
struct SendReport {
    int serial = 0;         // counts the sends started: a new send's texts are all new
    int current = 0;        // the entry being sent, from 1; 0 before the first
    bool finished = false;  // the send went through every entry
    std::vector<int32_t>
        sent;  // what each entry before the current one (and it, once finished) sent
    int32_t count_at_start = 0;  // the byte count when the current entry began

    // The window's texts as the send set them last; none until it sets them.
    std::optional<std::string> button;   // the Send button: text_stop_send, then text_send
    std::optional<std::string> status;   // "Sent: N" once the send went through every entry
    std::optional<std::string> counter;  // "(n/total)" for each entry, empty at the end
    std::optional<EntryView> entry;      // the File Info of the entry being sent
    bool list_enabled = false;           // a stop enabled the transfer list
};

class SendProgress {
  public:
    SendReport snapshot() const {
        std::lock_guard lock(mutex_);
        return report_;
    }
    template <typename Change>
    void publish(Change change) {
        std::lock_guard lock(mutex_);
        change(report_);
    }

  private:
    mutable std::mutex mutex_;
    SendReport report_;
};

// What one send works with. The transfer list belongs to the window thread; the send thread
// reaches it only under list_mutex, which the window thread holds whenever it changes the list
// (adds, removes or moves items, changes the selection) while a send may run. The thread takes
// each entry's address under the lock and then reads the entry's bytes in place without it: the
// window refuses to close entries while sending, and an Entry does not move when the list grows.
// The thread takes the lock only for short list calls and never while it waits, so a window
// thread waiting for a stop (shutdown) can never block it. What the window shows of the send
// goes through `progress`.
struct SendContext {
    TransferList* list = nullptr;
    MidiPorts* ports = nullptr;
    const Settings* settings = nullptr;
    std::mutex* list_mutex = nullptr;
    // Where the first sample goes, read from the Samplepos field by whoever starts the send (the
    // window thread): the send itself never reads the window.
    int32_t sample_number = 0;
    SendProgress* progress = nullptr;  // none when nobody follows it (the window does)
};

// The sample number of a Samplepos text: the value less one, 0 for an empty or unreadable one.
int32_t first_sample_number(const std::string& samplepos);

// The send's procedure, started by Send after open_midi_out left an open output.
void send_thread(SendContext& context);

// A send run as the job of the engine thread of the context's MIDI service, where the device's
// answers are delivered while it waits for them. Followed by the window, jx-cli and the tests.
class SendJob {
  public:
    // Starts send_thread(context), then `after`, on the engine thread; false when a send still
    // runs there.
    bool start(SendContext& context, std::function<void()> after = {});
    // A send was started and not yet joined.
    bool joinable() const { return engine_ != nullptr; }
    bool running() const;
    // Sleeps until the send has ended; not from the engine thread.
    void join();

  private:
    EngineThread* engine_ = nullptr;
};

// send_mark 'L' for every selected item, 'U' for the others, in list order.
void mark_send_entries(TransferList& list);
// The first item marked 'L', now marked 'S'; -1 when there is none.
int next_send_entry(TransferList& list);

// The texts of the Send button.
constexpr const char* text_send = "Send";
constexpr const char* text_stop_send = "Stop Send";

}  // namespace jx
