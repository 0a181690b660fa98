#pragma once
// The state of recording, one record made by the program (a test makes its own), and the receive
// buffer it collects into: what the recorder, the SDS receiver and the storing of received dumps
// share.
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "midi/transfer_state.h"
#include "platform/midi/sysex_framer.h"
#include "platform/store/settings.h"

namespace jx {

struct MidiPorts;
struct TransferList;
struct Entry;

// Results of the format handlers; for a message other than a dump header or a data packet the
// result is its sub-ID byte.
constexpr int sds_rx_header_taken = 1;
constexpr int sds_rx_more_due = 2;
constexpr int sds_rx_complete = 3;
constexpr int sds_rx_rejected = 4;

// rec_format values.
constexpr int32_t rec_sds = 0;
constexpr int32_t rec_wav = 1;
constexpr int32_t rec_aiff = 2;
constexpr int32_t rec_none = 3;

// One format handler's dump: the fields of its header, its counters and its packet layout.
struct SdsRxDump {
    bool open = false;  // a header was taken and the dump is not complete yet
    int32_t bits = 0;
    int32_t period = 0;  // nanoseconds
    int32_t length = 0;  // samples
    int32_t loop_start = 0;
    int32_t loop_end = 0;
    int32_t loop_type = 0x7F;
    int32_t expected_packet = 0;
    int32_t sample_count = 0;
    int32_t words_per_packet = 60;
    int32_t bytes_per_word = 2;
    int32_t rate = 0;        // hertz (WAV and AIFF)
    int32_t file_bytes = 0;  // bytes per sample in the file (WAV and AIFF)
};

// The receiver's state: the reply address shared by the handlers, each handler's own dump.
struct SdsReceiver {
    int32_t reply_channel = 0;
    int32_t reply_packet = 0;
    int32_t nak_count = 0;  // rejections in a row, for a recorder without ports
    SdsRxDump syx;
    SdsRxDump wav;
    SdsRxDump aiff;
};

// Bytes per sample in a file for a dump's bits: 1 up to 8 bits, 2 up to 16, 3 up to 24, else 4.
constexpr int32_t file_bytes_per_sample(int32_t bits) {
    return ((bits - 1) >> 3) + 1;
}

constexpr size_t receive_buffer_size = 8388608;
// Data bytes the buffer holds: its size less the eight bytes of the entry's options and length,
// and one kept free.
constexpr int32_t receive_length_limit = 8388599;
constexpr size_t universal_buffer_size = 128;
constexpr size_t header_byte_count = 7;

enum class MessageClass : int32_t { plain = 0, sds = 1, skip = 2, name = 3 };

// A text the recorder set for the window, and how many times it set it: the window shows it again
// whenever the count moved, also when the text is the same.
struct RecordText {
    std::string text;
    uint32_t serial = 0;
    bool operator==(const RecordText&) const = default;
};

// What the window is to show of the recording, published by the recorder (on the engine thread,
// or on the window thread for Receive and Stop Rec) for whoever reports on it: the window's
// timer, and the main window after its own commands. The recorder never touches the window.
struct RecordReport {
    RecordText status;          // "Receiving...", "Received: N bytes."
    RecordText receive_button;  // text_stop_rec, then text_receive
    RecordText file_info;       // text_out_of_memory
    RecordText send_button;     // text_send: a device speaking SDS stopped the send
    bool operator==(const RecordReport&) const = default;
};

class RecordProgress {
  public:
    RecordReport snapshot() const {
        std::lock_guard lock(mutex_);
        return report_;
    }
    void set(RecordText RecordReport::*field, std::string text) {
        std::lock_guard lock(mutex_);
        RecordText& shown = report_.*field;
        shown.text = std::move(text);
        ++shown.serial;
    }

  private:
    mutable std::mutex mutex_;
    RecordReport report_;
};

// An entry stored before its sample dump was complete (recording stopped, the dump given up, a new
// dump begun): the frames it holds of those the dump header announced.
struct PartialDump {
    const Entry* entry = nullptr;
    int32_t frames = 0;
    int32_t announced = 0;
};

// The recorder's state, one record made by the program (a test makes its own). The recorder runs
// on the MIDI engine thread, which hands it what the input framed; start_recording and the
// Receive command's stop_recording run on the window thread. `mutex` keeps the two apart, so that
// a stop never stores a buffer the engine thread is writing. Call neither with `list_mutex` held.
struct Recorder {
    // Wiring; ports, list and list_mutex may be left empty where there is none.
    TransferState* state = nullptr;
    const Settings* settings = nullptr;
    MidiPorts* ports = nullptr;  // the input to reopen and the output for the handshake replies
    TransferList* list = nullptr;
    std::mutex* list_mutex = nullptr;  // the mutex every thread holds while it calls the list
    // Allocates the receive buffer without throwing; nullptr when there is no memory. Empty: new.
    uint8_t* (*allocate_buffer)(size_t size) = nullptr;

    std::mutex mutex;
    RecordProgress report;  // what the window is to show

    // The receive buffer laid out as an entry: options at 0 and 1, the length at 4, data from 8.
    std::unique_ptr<uint8_t[]> buffer;
    int32_t receive_length = 0;

    bool in_message = false;  // an F0 came and its F7 (or a cut) not yet
    bool sorting = false;     // the message's header bytes are still being collected
    std::array<uint8_t, header_byte_count> header{};
    size_t header_count = 0;
    MessageClass message_class = MessageClass::skip;
    int32_t plain_bytes = 0;    // of the plain message arriving, those taken so far
    bool turbo_answer = false;  // the next byte of the skipped message is the Turbo speed index

    std::array<uint8_t, universal_buffer_size> universal{};
    size_t universal_length = 0;  // bytes of the message so far, also those beyond the buffer

    std::array<uint8_t, 5> name_bytes{};
    size_t name_count = 0;
    uint32_t pending_name = 0;
    std::string pending_sample_name;  // from the sample name message of a dump stored as an image

    SdsReceiver sds;
    int32_t dump_counter = 0;
    // Plain SysEx went into the receive buffer since it was begun: it may hold the maker's
    // messages. Without it a buffer of SysEx holds universal messages alone.
    bool plain_in_buffer = false;
    bool buffer_full = false;   // a byte did not fit: the recorder stops the recording
    bool stopped_full = false;  // the last stop was for a full buffer: the reason to give
    // The last stop came inside a plain SysEx message: its bytes so far are kept without their
    // end, and the number of them.
    int32_t stopped_inside = 0;
    // Plain SysEx that came while a WAV or AIFF image was being built: it follows the image as
    // data of its own instead of landing among the samples.
    std::vector<uint8_t> held_plain;
    // The entries stored with a dump cut off, in the order stored; written with the list's
    // entries under list_mutex.
    std::vector<PartialDump> partial_dumps;
};

// Makes the receive buffer when there is none and starts it empty, recording: 1; 0 when there is
// no memory for it.
int begin_receive_buffer(Recorder& recorder);
// Appends bytes while they fit. The byte that does not fit, and every byte after it, is dropped
// and `buffer_full` set: the recorder then stops as Stop Rec does.
void append_received_byte(Recorder& recorder, uint8_t byte);
void append_received_bytes(Recorder& recorder, const uint8_t* bytes, size_t n);
void free_receive_buffer(Recorder& recorder);
// Recording, with a buffer to record into.
inline bool is_recording(const Recorder& recorder) {
    return recorder.buffer && recorder.state->receive_state.load() == receive_recording;
}

// The texts of recording.
constexpr const char* text_receiving = "Receiving...";
constexpr const char* text_out_of_memory = "Record:Out of Memory";
constexpr const char* text_receive = "Receive";
constexpr const char* text_stop_rec = "Stop Rec";

}  // namespace jx
