#pragma once
// Recording what arrives at the MIDI input while the user has pressed Receive: the receive
// buffer, starting and stopping, and the recorder that cuts the input buffers into SysEx
// messages and sorts them. Plain SysEx is kept byte for byte; universal messages (F0 7E, the
// Sample Dump Standard) go to the SDS receiver; the device's Turbo answers are taken in and
// dropped; a KVR-9ZB name message names the dump being received.
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

#include "midi/sds_receive.h"
#include "midi/transfer_state.h"
#include "platform/settings.h"

namespace jx {

class Window;
struct MidiPorts;
struct TransferList;

constexpr size_t receive_buffer_size = 8388608;
// Data bytes the buffer holds: its size less the eight bytes of the entry's options and length,
// and one kept free.
constexpr int32_t receive_length_limit = 8388599;
constexpr size_t universal_buffer_size = 128;
constexpr size_t header_byte_count = 7;

enum class MessageClass : int32_t { plain = 0, sds = 1, skip = 2, name = 3 };

// The recorder's state, one record made by the program (a test makes its own). The recorder runs
// on the MIDI input thread; start_recording and the Receive command's stop_recording run on the
// window thread. `mutex` keeps the two apart, so that a stop never stores a buffer the input
// thread is writing. Call neither with `list_mutex` held.
struct Recorder {
    // Wiring; ports, window, list and list_mutex may be left empty where there is none.
    TransferState* state = nullptr;
    const Settings* settings = nullptr;
    MidiPorts* ports = nullptr;  // the input to reopen and the output for the handshake replies
    Window* window = nullptr;    // the main window
    TransferList* list = nullptr;
    std::mutex* list_mutex = nullptr;  // the mutex every thread holds while it calls the list
    // Allocates the receive buffer without throwing; nullptr when there is no memory. Empty: new.
    uint8_t* (*allocate_buffer)(size_t size) = nullptr;

    std::mutex mutex;

    // The receive buffer laid out as an entry: options at 0 and 1, the length at 4, data from 8.
    std::unique_ptr<uint8_t[]> buffer;
    int32_t receive_length = 0;

    bool in_message = false;  // between an F0 and its F7, also across buffers and recordings
    bool sorting = false;     // the message's header bytes are still being collected
    std::array<uint8_t, header_byte_count> header{};
    size_t header_count = 0;
    MessageClass message_class = MessageClass::skip;
    bool turbo_answer = false;  // the next byte of the skipped message is the Turbo speed index

    std::array<uint8_t, universal_buffer_size> universal{};
    size_t universal_length = 0;  // bytes of the message so far, also those beyond the buffer

    std::array<uint8_t, 5> name_bytes{};
    size_t name_count = 0;
    uint32_t pending_name = 0;

    SdsReceiver sds;
    int32_t dump_counter = 0;
};

// Ties the recorder to the ports: the input callback hands it the buffers while recording and
// tells it of the input's close.
void connect_recorder(MidiPorts& ports, Recorder& recorder);

// Receive while idle: reopens the input, makes a receive buffer and shows "Receiving...".
void start_recording(Recorder& recorder);
// Stop Rec, the input's close, a full buffer and an SDS dump given up: what was received becomes
// an entry at the end of the list.
void stop_recording(Recorder& recorder);

// The recorder, for the bytes of one returned input buffer.
void record_input_buffer(Recorder& recorder, const uint8_t* data, size_t count);

// Replays a captured byte stream through the recorder as the platform hands it over: real-time
// bytes and bytes outside SysEx messages are dropped, a status byte other than F7 ends a message
// cut short, and each buffer ends at an F7 or when `buffer_size` bytes are in it.
void replay_stream(Recorder& recorder, const uint8_t* data, size_t length,
                   size_t buffer_size = 16384);

// For the recorder's own parts (the SDS receiver, storing); the caller holds recorder.mutex.
int begin_receive_buffer(Recorder& recorder);
void append_received_byte(Recorder& recorder, uint8_t byte);
// Appends n bytes as n calls of append_received_byte would.
void append_received_bytes(Recorder& recorder, const uint8_t* bytes, size_t n);
void free_receive_buffer(Recorder& recorder);
void stop_recording_locked(Recorder& recorder);
bool is_recording(const Recorder& recorder);

// The texts of recording.
constexpr const char* text_receiving = "Receiving...";
constexpr const char* text_out_of_memory = "Record:Out of Memory";
constexpr const char* text_receive = "Receive";
constexpr const char* text_stop_rec = "Stop Rec";

}  // namespace jx
