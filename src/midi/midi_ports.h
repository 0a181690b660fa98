#pragma once
// The program's one MIDI output and one MIDI input: opening them from the configured devices,
// the short SysEx messages (SDS handshake replies and the Turbo messages), the eight input
// buffers kept queued on the input, and the input callback that hands every returned buffer to
// the recorder or to the small answer path serving the send engine and the Turbo display.
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "midi/transfer_state.h"
#include "platform/midi/midi.h"
#include "platform/store/settings.h"

namespace jx {

constexpr int midi_in_buffer_count = 8;
constexpr size_t midi_message_size = 64;

// Where the input callback hands buffers while recording, and who hears of the input's close.
// Both may be left empty.
struct RecorderHooks {
    void* recorder = nullptr;
    void (*record)(void* recorder, const uint8_t* data, size_t count) = nullptr;
    void (*stop_recording)(void* recorder) = nullptr;
};

// What failed at a port.
enum class PortFault {
    out_missing,  // the output stored by name is not plugged in
    in_missing,   // the input stored by name is not plugged in
    out_open,     // the output would not open
    in_open,      // the input would not open
    in_start,     // the input opened but would not start
    out_message,  // a short message (a handshake reply, a Turbo message) did not go out
    out_send,     // a message of the send did not go out
};

// A port's failure as a value: what failed, and the text the user is shown (in the status field
// for a port not plugged in, else in a message box).
struct PortError {
    PortFault fault;
    std::string text;
    bool missing() const {
        return fault == PortFault::out_missing || fault == PortFault::in_missing;
    }
    bool operator==(const PortError&) const = default;
};

// The port errors met and not yet taken, from whichever thread met them: the window thread
// opening a port, the engine thread sending. The window takes and shows them, jx-cli reports them.
class PortErrors {
  public:
    void record(PortError error) {
        std::lock_guard lock(mutex_);
        errors_.push_back(std::move(error));
    }
    std::vector<PortError> take() {
        std::lock_guard lock(mutex_);
        return std::exchange(errors_, {});
    }

  private:
    std::mutex mutex_;
    std::vector<PortError> errors_;
};

// Everything the ports need, made once by the program (a test makes its own). The program
// points service->pacing.turbo_speed at state->turbo_speed, so that the wire runs at the speed
// the device confirmed.
struct MidiPorts {
    MidiService* service = nullptr;
    PortErrors errors;
    const Settings* settings = nullptr;
    TransferState* state = nullptr;
    RecorderHooks hooks;

    // Read by the send thread and the input thread while the window thread reopens: atomic.
    std::atomic<int32_t> open_out_index{-1};
    std::atomic<int32_t> open_in_index{-1};
    // The handles stay valid while closed (the platform keeps them), so the send thread keeps
    // using the output while a short reply closes and reopens the same device.
    std::atomic<MidiOut*> out{nullptr};
    MidiIn* in = nullptr;
    // The SDS receiver's count of NAKs in a row; an ACK sent clears it.
    std::atomic<int32_t> nak_count{0};

    // The short message being sent. The window thread (Turbo) and the input thread (handshake
    // replies) both send short messages: the lock keeps one buffer for both, and keeps one
    // reopening of the output at a time.
    std::mutex message_mutex;
    std::array<uint8_t, midi_message_size> message{};
    MidiHeader message_header;
    // The output device the settings name, looked up when a send starts or the settings
    // change, so that the short replies between never list the ports; under message_mutex.
    int32_t out_device = -1;
    int32_t out_device_index = -2;  // the settings it was looked up for
    std::string out_device_name;

    std::array<std::array<uint8_t, midi_in_buffer_size>, midi_in_buffer_count> in_buffers{};
    std::array<MidiHeader, midi_in_buffer_count> in_headers{};
};

// Joins the program's transfer values to its MIDI service: the wire runs at the Turbo speed the
// device confirmed, and the waits of the service's engine thread hand over input as they sleep.
// The state must not be used once the service is gone.
void connect_transfer_state(MidiService& service, TransferState& state);

// The device index of a configured port: the port that now has the stored name when there is
// one (-1 when no port has it), else the stored index.
int32_t configured_port(MidiService& service, bool output, int32_t index, const std::string& name);
// The status text for a stored port that is not there.
std::string text_port_missing(bool output, const std::string& name);

// Makes sure the configured output is freshly open: closes the open one, opens the configured
// one. "Could not allocate Midi Out port" and sending 0 when that fails.
void open_midi_out(MidiPorts& ports);
// Sends one SysEx message of at most 64 bytes and returns when it has left the cable (or when a
// stop is requested). Nothing without an output. A port error is recorded with the platform's
// text and ends a send.
void send_sysex(MidiPorts& ports, const uint8_t* bytes, size_t n);
// A message that did not go out (`result` of the output's call): the error recorded with the
// platform's text, and a running send ended.
void message_failed(MidiPorts& ports, MidiOut* out, int result, PortFault fault);
// Waits until the message sent with the header has left the cable; with stop_on_cancel, no longer
// than a stop request. True when it has left.
bool wait_released(TransferState& state, MidiOut* out, MidiHeader& header, bool stop_on_cancel);
// Closes the input if open, then opens the configured input with the eight buffers queued.
// The input starts idle, or, with `into_recording`, in the recording its caller has begun, so
// that what a device sends the moment the port opens is recorded, not taken for an answer.
void open_midi_in(MidiPorts& ports, bool into_recording = false);
// The input's callback; the instance is the MidiPorts.
void midi_in_callback(MidiIn* handle, MidiInMessage message, void* instance, MidiHeader* header);

void send_hs_ack(MidiPorts& ports, uint8_t channel, uint8_t packet);
void send_hs_nak(MidiPorts& ports, uint8_t channel, uint8_t packet);
void send_hs_cancel(MidiPorts& ports, uint8_t channel, uint8_t packet);

void send_turbo_query(MidiPorts& ports);
void send_turbo_request(MidiPorts& ports);
void send_turbo_off(MidiPorts& ports);
// Index 0..11 sets turbo_speed from the table; larger ones change nothing.
void set_turbo_speed(TransferState& state, int index);

// The message texts of the ports.
constexpr const char* text_out_port_failed = "Could not allocate Midi Out port";
constexpr const char* text_in_port_failed = "Could not allocate Midi In port";
constexpr const char* text_in_start_failed = "Could not start MIDI In";
constexpr const char* text_cancel_caption = "Cancel";

// Closing at exit: the output reset and closed; the input stopped, reset, closed and its buffers
// unprepared.
void close_midi_out(MidiPorts& ports);
void close_midi_in(MidiPorts& ports);

}  // namespace jx
