#pragma once
// The program's one MIDI output and one MIDI input: opening them from the configured devices,
// the short SysEx messages (SDS handshake replies and the Turbo messages), and the input's
// consumer, which hands what arrives to the recorder while recording and otherwise takes the
// device's answers: the Turbo speed, and the handshake answers the send waits for.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "midi/transfer_state.h"
#include "platform/midi/midi.h"
#include "platform/store/settings.h"

namespace jx {

struct MidiPorts;

constexpr size_t midi_message_size = 64;

// Where the input hands what arrives while recording, and who hears of the input's close. Both
// may be left empty.
struct RecorderHooks {
    void* recorder = nullptr;
    void (*record)(void* recorder, std::span<const SysexPiece> pieces) = nullptr;
    void (*stop_recording)(void* recorder) = nullptr;
};

// hs_reply values: the device's last answer to a message of the send.
constexpr int32_t hs_none = 0;
constexpr int32_t hs_ack = 1;
constexpr int32_t hs_nak = 2;

// The device's answers to the send, as the input takes them. The input and the send both run on
// the engine thread, so these are plain values: the send clears `reply` before each message and
// looks at them as its wait hands over what arrives. Answers handed over on another thread (an
// input closing) are not taken.
struct DeviceAnswers {
    int32_t reply = hs_none;
    int32_t nak_packet = 0;  // the packet a NAK names
    bool wait = false;       // a WAIT came: the answer may take longer
};

// Looks at the first bytes of each message while no recording runs: a Turbo answer sets the speed,
// an SDS answer of our device number during a sample's send is the send's. Bytes of a message
// beyond what an answer holds are not looked at.
class AnswerReader final : public MidiConsumer {
  public:
    explicit AnswerReader(MidiPorts& ports) : ports_(ports) {}
    void take(std::span<const SysexPiece> pieces) override;
    void closed() override;

  private:
    void message_ended();
    MidiPorts& ports_;
    uint8_t head_[8] = {};
    size_t head_count_ = 0;
    bool in_message_ = false;
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

    // Read by the engine thread (the send, the input) while the window thread reopens: atomic.
    std::atomic<int32_t> open_out_index{-1};
    std::atomic<int32_t> open_in_index{-1};
    // The output stays valid while closed (the platform keeps it), so the send keeps using it
    // while a short reply closes and reopens the same device.
    std::atomic<MidiOutput*> out{nullptr};
    std::unique_ptr<MidiInput> in;
    // The input's consumer: the recorder while recording, the answers otherwise.
    AnswerReader reader{*this};
    DeviceAnswers answers;  // the engine thread's alone
    // The SDS receiver's count of NAKs in a row; an ACK sent clears it.
    std::atomic<int32_t> nak_count{0};

    // The window thread (Turbo) and the engine thread (handshake replies) both send short
    // messages: the lock keeps one reopening of the output at a time.
    std::mutex message_mutex;
    // The output device the settings name, looked up when a send starts or the settings
    // change, so that the short replies between never list the ports; under message_mutex.
    int32_t out_device = -1;
    MidiPort out_port;              // that device, which the output opens by name
    int32_t out_device_index = -2;  // the settings it was looked up for
    std::string out_device_name;
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
// A message that did not go out: the error recorded with the platform's text, and a running send
// ended.
void message_failed(MidiPorts& ports, const MidiError& error, PortFault fault);
// Waits until the message `sent` has left the cable; with stop_on_cancel, no longer than a stop
// request. True when it has left.
bool wait_released(TransferState& state, MidiOutput& out, const MidiSent& sent,
                   bool stop_on_cancel);
// Closes the input if open, then opens the configured input. The input starts idle, or, with
// `into_recording`, in the recording its caller has begun, so that what a device sends the
// moment the port opens is recorded, not taken for an answer.
void open_midi_in(MidiPorts& ports, bool into_recording = false);

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

// Closing at exit: the output reset and closed; the input stopped, what arrived before handed
// over, and closed.
void close_midi_out(MidiPorts& ports);
void close_midi_in(MidiPorts& ports);

}  // namespace jx
