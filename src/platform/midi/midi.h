#pragma once
// The MIDI contract of the program: port lists, outputs that send one whole message at a time,
// and inputs that frame what arrives once and hand the pieces to one consumer on the service's
// engine thread. The ports come from backends (the ALSA sequencer or JACK, winmm on Windows, the
// virtual loopback to the virtual device), listed in the order they were added to the
// MidiService.
//
// Sending: MidiOutput::send(bytes) hands one whole message to the backend and says when its last
// byte leaves the MIDI cable (10 bits a byte at 31250 baud, divided by the Turbo factor in force,
// one message after the other on the same output), or gives a MidiError. It does not wait for
// the cable: a sender that must not run ahead of the cable (the send, a handshake reply) sleeps
// until that moment on its own thread, with a deadline, never polling. This keeps interfaces from
// overflowing and makes the sender's counters honest. MidiService::pacing switches the clock off
// for fast tests.
//
// Receiving: a backend pushes bytes into the input's ring from its own delivery thread; the
// engine thread takes them out, frames them (SysexFramer) and hands the consumer batches of
// pieces: a message's start, runs of its data, its end, a cut (a status byte ended it short) and
// lost bytes (the ring or the server had no room). Bytes outside SysEx messages (channel and
// real-time messages) are not the program's business and are passed over.
//
// What a backend must do (class MidiBackend and its two connection classes):
// - out_count/out_name, in_count/in_name: the ports it offers now, index 0 first.
// - open_out(i): connect to output port i; nullptr and an error text when it cannot.
//   The connection's write() carries one whole message to the port or returns why not (the
//   text of the library's error callback, a message too long for the backend's buffers with its
//   size, a port gone). It never drops a message silently. It may block while the backend carries
//   the message in pieces its receiver can take (ALSA), never for the cable's time beyond that;
//   the shared layer keeps the wire clock. write() is called with the output's lock held, so a
//   backend need not guard against two writers. `leaves_wire` is the moment the message's last
//   byte would have left a MIDI cable; a backend that plays the cable itself (the loopback)
//   delivers the bytes then, the others ignore it. reset() ends anything the backend still holds
//   (a half-sent message is dropped).
// - open_in(i, sink): connect to input port i. Once start() has run, every byte that arrives is
//   handed to sink.push() in order, from ONE thread at a time (the backend's own delivery
//   thread; a real-time thread is fine: push() never blocks, locks or allocates). stop() ends
//   the pushes; after it returns push() is not called again.
// - Connections are destroyed from the program's threads, never from inside push() or write().
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/midi/engine_thread.h"
#include "platform/midi/sysex_framer.h"

namespace jx {

// Why a port operation failed.
enum class MidiErrorKind {
    no_port,      // no port of that name or index now
    busy,         // the output is open already
    not_open,     // the output was closed for good (another output opened since)
    gone,         // the port went away, or the cable was pulled
    refused,      // the backend would not open or start the port
    too_long,     // the message is longer than the backend can carry
    server_down,  // the MIDI server stopped taking data
    failed,       // anything else the backend reports
};

struct MidiError {
    MidiErrorKind kind = MidiErrorKind::failed;
    std::string text;  // the backend's words, or the layer's own when it said nothing
    bool operator==(const MidiError&) const = default;
};

// The text a window shows for an error: at most max_length - 1 characters (the program's 120-byte
// message buffer).
std::string midi_error_text(const MidiError& error, size_t max_length = 120);

// Wire time of `bytes` at the Turbo speed (multiple times ten; 10 = normal MIDI speed): 10 bits
// a byte at 31250 baud, divided by turbo_speed / 10. Speeds below 10 count as 10.
constexpr std::chrono::nanoseconds wire_time(size_t bytes, int32_t turbo_speed) {
    const int64_t speed = turbo_speed < 10 ? 10 : turbo_speed;
    return std::chrono::nanoseconds(static_cast<int64_t>(bytes) * 320000 * 10 / speed);
}

// One direction of a MIDI cable: messages follow each other, each leaving the cable its wire time
// after the one before it has left (or after it was sent, when the cable was idle). Not locked;
// its owner guards it.
struct WireClock {
    std::chrono::steady_clock::time_point free_at{};
    // The moment a message of `bytes` sent now leaves the cable; now when pacing is off.
    std::chrono::steady_clock::time_point schedule(size_t bytes, int32_t turbo_speed, bool paced);
};

// The switch and the speed of the pacing, shared by every output of one service.
struct WirePacing {
    std::atomic<bool> enabled{true};
    // The Turbo speed in force, kept by the MIDI layer above (its turbo_speed value); 10 when not
    // wired in.
    const std::atomic<int32_t>* turbo_speed = nullptr;
    int32_t speed() const { return turbo_speed ? turbo_speed->load() : 10; }
};

// Who takes what an input brings, on the service's engine thread (and on the thread that closes
// the input, for what arrived just before). The pieces' bytes are valid during the call only.
class MidiConsumer {
  public:
    virtual void take(std::span<const SysexPiece> pieces) = 0;
    // The input is closing: nothing follows.
    virtual void closed() {}

  protected:
    ~MidiConsumer() = default;
};

class MidiInput;

// Where a backend hands the bytes that arrive at an input. Made by the layer for each open input.
// push() takes bytes from one producer thread at a time, without blocking, locking or
// allocating, and wakes the service's engine thread, which frames them and hands the pieces on.
class MidiInSink final : public EngineInput {
  public:
    MidiInSink(MidiInput& in, EngineThread& engine);
    ~MidiInSink();
    MidiInSink(const MidiInSink&) = delete;
    MidiInSink& operator=(const MidiInSink&) = delete;

    // Takes what the ring has room for; the rest of a longer piece is lost and counted.
    void push(const uint8_t* bytes, size_t count) noexcept;
    // Bytes lost before they reached the backend (the server threw away what it held for us):
    // counted as at least one.
    void mark_lost() noexcept;

    // For the layer: start and end the delivery on the engine thread (the end hands over what
    // arrived before it); drop what is not delivered yet. The ring is made at the first start,
    // before any push.
    void start_delivery();
    void stop_delivery();
    void discard_pending();
    // For the engine thread: hands everything pushed so far to the input. Does nothing when
    // called again from inside this input's own consumer.
    void deliver_pending() override;
    // For tests: true once every byte pushed so far has been delivered or dropped.
    bool drained() const;
    // Bytes dropped because the ring had no room for them, or lost at the server.
    uint64_t overflowed_bytes() const { return overflowed_bytes_.load(); }

  private:
    MidiInput& in_;
    EngineThread& engine_;
    // A power of two. Backends may hand over a SysEx message only at its F7: the ring holds one
    // of twice the program's 8 MiB receive buffer, so that a message too long for that buffer
    // still arrives whole and ends the recording with the buffer full, not lost on the way. The
    // pages are touched only when that much arrives.
    static constexpr size_t ring_size = 1 << 24;
    std::unique_ptr<uint8_t[]> ring_;
    std::atomic<uint64_t> head_{0};  // written by push()
    std::atomic<uint64_t> tail_{0};  // written by the deliverer
    std::atomic<uint64_t> overflowed_bytes_{0};
    uint64_t lost_told_ = 0;   // of overflowed_bytes_, what the consumer was told of
    bool delivering_ = false;  // the deliverer is inside this input's consumer
};

class MidiOutConnection {
  public:
    virtual ~MidiOutConnection() = default;
    virtual std::optional<MidiError> write(const uint8_t* data, size_t length,
                                           std::chrono::steady_clock::time_point leaves_wire) = 0;
    virtual void reset() {}
};

class MidiInConnection {
  public:
    virtual ~MidiInConnection() = default;
    virtual std::optional<MidiError> start() = 0;
    virtual void stop() = 0;
};

class MidiBackend {
  public:
    virtual ~MidiBackend() = default;
    virtual int out_count() = 0;
    virtual std::string out_name(int index) = 0;
    virtual int in_count() = 0;
    virtual std::string in_name(int index) = 0;
    virtual std::unique_ptr<MidiOutConnection> open_out(int index, std::string& error) = 0;
    virtual std::unique_ptr<MidiInConnection> open_in(int index, MidiInSink& sink,
                                                      std::string& error) = 0;
};

// A port: its backend and its name there. The index in the service's list is only where it stands
// now; ports are opened and remembered by name.
struct MidiPort {
    MidiBackend* backend = nullptr;
    std::string name;
    bool operator==(const MidiPort&) const = default;
};

// What send() gives: when the message leaves the cable (and the output's reset count then, as a
// reset releases everything sent before it), or why it did not go.
struct MidiSent {
    std::chrono::steady_clock::time_point leaves_wire{};
    uint64_t reset_count = 0;
    std::optional<MidiError> error;
    bool ok() const { return !error.has_value(); }
};

class MidiOutput;

// The MIDI services of one process (or one test): the backends in list order, the pacing, and
// the outputs. Made by the program at start-up; the backends must outlive it.
struct MidiService {
    MidiService();
    ~MidiService();
    MidiService(const MidiService&) = delete;
    MidiService& operator=(const MidiService&) = delete;

    std::vector<MidiBackend*> backends;
    WirePacing pacing;

    // Kept by the layer.
    std::mutex mutex;
    std::vector<std::unique_ptr<MidiOutput>> outs;  // every output ever opened
    std::string open_error;  // the backend's text for the last open that failed in it
    // Last: its thread ends before the rest goes.
    EngineThread engine;
};

// Why the last open_output or open_input of the service that failed in its backend failed
// (another program holds the device, the device is gone), in the backend's words; empty when the
// backend said nothing or the last open did not get that far.
std::string midi_open_error_text(MidiService& service);

// Names the ports of one backend's list as the lists show them: where several ports have one
// name (two interfaces of one kind), the second gets " (2)", the third " (3)", and so on, the
// number passed over where another port already has that name.
void number_repeated_names(std::vector<std::string>& names);

// The ports of every backend, in backend order: the lists the user picks from.
std::vector<MidiPort> midi_outputs(MidiService& service);
std::vector<MidiPort> midi_inputs(MidiService& service);
// Views of those lists by index: the count, and a port's name (empty for an index that names no
// port); the port itself (no backend for such an index).
int midi_out_count(MidiService& service);
int midi_in_count(MidiService& service);
std::string midi_out_name(MidiService& service, int index);
std::string midi_in_name(MidiService& service, int index);
MidiPort midi_output_at(MidiService& service, int index);
MidiPort midi_input_at(MidiService& service, int index);

// An output. Once given it stays valid memory until the service ends: closing and opening the
// same port again keeps the backend's connection (the program opens the output afresh before
// every short message), and messages may be sent on it from two threads at once.
class MidiOutput {
  public:
    // Sends data[0..length) whole.
    MidiSent send(const uint8_t* data, size_t length);
    // True once the message `sent` has left the cable, or a reset released it.
    bool left_cable(const MidiSent& sent);
    // Drops what the backend still holds and frees the cable at once.
    void reset();
    void close();
    const MidiPort& port() const { return port_; }

  private:
    friend std::optional<MidiError> open_output(MidiService&, const MidiPort&, MidiOutput*&);
    MidiService* service_ = nullptr;
    MidiPort port_;
    std::mutex mutex_;  // one writer on the wire at a time
    std::unique_ptr<MidiOutConnection> connection_;
    bool open_ = false;
    WireClock clock_;
    uint64_t reset_count_ = 0;
};

// Opens the output port; the output's connection is kept when it was open before. A closed
// output of another port gives up its connection.
std::optional<MidiError> open_output(MidiService& service, const MidiPort& port,
                                     MidiOutput*& output);

// An open input: the backend's connection, the sink and framer, and the consumer.
class MidiInput {
  public:
    MidiInput(MidiConsumer* consumer, EngineThread& engine);
    ~MidiInput();  // stops, hands over what arrived, tells the consumer, closes
    MidiInput(const MidiInput&) = delete;
    MidiInput& operator=(const MidiInput&) = delete;

    std::optional<MidiError> start();
    // Ends the pushes. What arrived before is still handed over; closing the input (its end)
    // then cuts a message begun.
    void stop();

    // SysEx bytes that have arrived since the input was opened, also those of a message not
    // ended yet: for a wait that counts silence from the last byte.
    uint64_t sysex_bytes() const { return sysex_bytes_.load(std::memory_order_relaxed); }
    // Bytes lost on the way (the ring or the server had no room).
    uint64_t lost_bytes() const { return sink.overflowed_bytes(); }

    // For the layer and the backends.
    MidiInSink sink;
    std::unique_ptr<MidiInConnection> connection;  // ended before the sink
    // Called by the sink's deliverer with the bytes in arrival order, and the bytes lost since.
    void take(const uint8_t* bytes, size_t count, uint64_t lost);
    // The end of delivery: a message begun is cut, and the consumer hears of the close.
    void finish();

  private:
    MidiConsumer* consumer_;
    std::mutex mutex_;  // start and stop
    bool started_ = false;
    bool finished_ = false;
    SysexFramer framer_;
    std::atomic<uint64_t> sysex_bytes_{0};
};

// Opens the input port for `consumer`, delivering on the service's engine thread; not started.
std::optional<MidiError> open_input(MidiService& service, const MidiPort& port,
                                    MidiConsumer* consumer, std::unique_ptr<MidiInput>& input);

}  // namespace jx
