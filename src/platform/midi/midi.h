#pragma once
// The MIDI port layer: device lists, one output and one input at a time, long messages from a
// caller's header, and input buffers returned through a callback. The program above this layer
// calls only the free functions below; the ports themselves come from backends (the ALSA
// sequencer or JACK, the virtual loopback to the virtual device), listed in the order they were
// added to the MidiService.
//
// What a backend must do (class MidiBackend and its two connection classes):
// - out_count/out_name, in_count/in_name: the ports it offers now, index 0 first.
// - open_out(i): connect to output port i; nullptr and an error text when it cannot.
//   The connection's write() hands one whole message to the wire or returns a non-zero result
//   code with a text (the text of the library's error callback, a message too long for the
//   backend's buffers with its size, a port gone). It never drops a message silently, and never
//   blocks for the message's wire time: the shared layer paces (see WireClock). write() is
//   called with the output's lock held, so a backend need not guard against two writers.
//   `leaves_wire` is the moment the message's last byte would have left a MIDI cable; a
//   backend that plays the cable itself (the loopback) delivers the bytes then, the others
//   ignore it. reset() ends anything the backend still holds (a held note is not our business;
//   a half-sent message is dropped).
// - open_in(i, sink): connect to input port i. Once start() has run, every byte that arrives is
//   handed to sink.push() in order, from ONE thread at a time (the backend's own delivery
//   thread; a real-time thread is fine: push() never blocks, locks or allocates). stop() ends
//   the pushes; after it returns push() is not called again. The sink cuts the bytes into the
//   program's input buffers and calls the program's callback from a thread of its own, so the
//   backend knows nothing of buffers.
// - Connections are destroyed from the program's threads, never from inside push() or write().
//
// The rules every backend gets from this layer, implemented once in midi.cpp:
// - Wire pacing: a long message stays "still playing" (midi_out_unprepare_header returns
//   midi_still_playing, 65) until its bytes would have left a MIDI cable: 10 bits a byte at
//   31250 baud, divided by the Turbo factor turbo_speed / 10 in force, one message after the
//   other on the same output. This is how this platform holds a message until it has left the
//   cable, as a driver keeps the buffer of a long message; it keeps interfaces from overflowing
//   and makes the sender's counters honest. MidiService::pacing switches it off for fast tests.
// - Input buffers: a buffer returns (midi_in_long_data) when a SysEx message ends with F7 or when
//   its bytes are full (16384 for the program's buffers); a message cut short by a status byte
//   returns its buffer as midi_in_long_error. Bytes outside SysEx messages (channel and real-time
//   messages) are not the program's business and are dropped. When no buffer is queued the bytes
//   of that message are lost and the next returned buffer is marked midi_in_long_error.
// - Output handles stay valid until the service ends: closing and reopening the same output
//   keeps the backend's connection (the program reopens before every short message), and a long
//   message may be sent on a handle from two threads at once.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/midi/engine_thread.h"
#include "platform/midi/sysex_framer.h"

namespace jx {

// Result codes of the port operations: 0 is success. The numbers follow the ones the program's
// messages have always used, so a text can be looked up from the number alone.
constexpr int midi_ok = 0;
constexpr int midi_error = 1;           // the backend failed; its text says why
constexpr int midi_bad_device = 2;      // no such device index
constexpr int midi_invalid_handle = 5;  // handle closed for good, or none
constexpr int midi_no_memory = 7;
constexpr int midi_invalid_param = 11;  // a header without data, or too long
constexpr int midi_unprepared = 64;     // the header was not prepared
constexpr int midi_still_playing = 65;  // the message has not left the cable yet
constexpr int midi_not_ready = 67;      // the device is busy with another message

// Header flags.
constexpr uint32_t midi_header_done = 1;
constexpr uint32_t midi_header_prepared = 2;
constexpr uint32_t midi_header_in_queue = 4;

// Size of the program's input buffers.
constexpr size_t midi_in_buffer_size = 16384;

// A caller's buffer handed to a port. Output: data and length are the message. Input: data and
// length are the buffer, bytes_recorded what arrived in it.
struct MidiHeader {
    uint8_t* data = nullptr;
    uint32_t length = 0;
    uint32_t bytes_recorded = 0;
    uint32_t flags = 0;
    // Kept by the layer: when an output message has left the cable, and the output's reset
    // count when it was sent (a reset releases everything sent before it).
    std::chrono::steady_clock::time_point leaves_wire{};
    uint64_t reset_count = 0;
};

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

// Where a backend hands the bytes that arrive at an input. Made by the layer for each open input.
// push() takes bytes from one producer thread at a time, without blocking, locking or
// allocating, and wakes the service's engine thread, which cuts them into buffers and calls the
// callback.
class MidiIn;
class MidiInSink final : public EngineInput {
  public:
    MidiInSink(MidiIn& in, EngineThread& engine);
    ~MidiInSink();
    MidiInSink(const MidiInSink&) = delete;
    MidiInSink& operator=(const MidiInSink&) = delete;

    // Takes what the ring has room for; the rest of a longer piece is lost, counted and marked
    // on the next buffer returned.
    void push(const uint8_t* bytes, size_t count) noexcept;
    // Bytes lost before they reached the backend (the server threw away what it held for us):
    // counted as at least one, and the next buffer returned is an error.
    void mark_lost() noexcept;

    // For the layer: start and end the delivery on the engine thread (the end hands over what
    // arrived before it); drop what is not delivered yet.
    void start_delivery();
    void stop_delivery();
    void discard_pending();
    // For the engine thread: hands everything pushed so far to the input. Does nothing when
    // called again from inside this input's own callback.
    void deliver_pending() override;
    // For tests: true once every byte pushed so far has been delivered or dropped.
    bool drained() const;
    // Bytes dropped because the ring had no room for them.
    uint64_t overflowed_bytes() const { return overflowed_bytes_.load(); }

  private:
    MidiIn& in_;
    EngineThread& engine_;
    // A power of two. Backends may hand over a SysEx message only at its F7: the ring holds one
    // of twice the program's 8 MiB receive buffer, so that a message too long for that buffer
    // still arrives whole and ends the recording with the buffer full, not lost on the way. The
    // pages are touched only when that much arrives.
    static constexpr size_t ring_size = 1 << 24;
    std::unique_ptr<uint8_t[]> ring_;
    std::atomic<uint64_t> head_{0};  // written by push()
    std::atomic<uint64_t> tail_{0};  // written by the deliverer
    std::atomic<bool> overflowed_{false};
    std::atomic<uint64_t> overflowed_bytes_{0};
    bool delivering_ = false;  // the deliverer is inside this input's callback
};

class MidiOutConnection {
  public:
    virtual ~MidiOutConnection() = default;
    virtual int write(const uint8_t* data, size_t length,
                      std::chrono::steady_clock::time_point leaves_wire, std::string& error) = 0;
    virtual void reset() {}
};

class MidiInConnection {
  public:
    virtual ~MidiInConnection() = default;
    virtual int start(std::string& error) = 0;
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

// Messages to the input callback.
enum class MidiInMessage { open, close, long_data, long_error };
using MidiInCallback = void (*)(MidiIn* handle, MidiInMessage message, void* instance,
                                MidiHeader* header);

class MidiOut;

// The MIDI services of one process (or one test): the backends in list order, the pacing, and
// the handles. Made by the program at start-up; the backends must outlive it.
struct MidiService {
    MidiService();
    ~MidiService();
    MidiService(const MidiService&) = delete;
    MidiService& operator=(const MidiService&) = delete;

    std::vector<MidiBackend*> backends;
    WirePacing pacing;

    // Kept by the layer.
    std::mutex mutex;
    std::vector<std::unique_ptr<MidiOut>> outs;  // every output handle ever opened
    std::string open_error;                      // the backend's text for the last open that failed
    // Last: its thread ends before the rest goes.
    EngineThread engine;
};

// Why the last midi_out_open or midi_in_open of the service that failed in its backend failed
// (another program holds the device, the device is gone), in the backend's words; empty when
// the backend said nothing.
std::string midi_open_error_text(MidiService& service);

// Names the ports of one backend's list as the lists show them: where several ports have one
// name (two interfaces of one kind), the second gets " (2)", the third " (3)", and so on, the
// number passed over where another port already has that name.
void number_repeated_names(std::vector<std::string>& names);

// Device lists: the ports of every backend, in backend order.
int midi_out_count(MidiService& service);
int midi_in_count(MidiService& service);
// Empty for an index that names no port.
std::string midi_out_name(MidiService& service, int index);
std::string midi_in_name(MidiService& service, int index);

// Output. A handle, once given, stays valid memory until the service ends.
int midi_out_open(MidiService& service, int index, MidiOut*& handle);
int midi_out_close(MidiOut* handle);
// Releases every message still playing and ends what the backend holds.
int midi_out_reset(MidiOut* handle);
int midi_out_prepare_header(MidiOut* handle, MidiHeader& header);
// Sends header.data[0..length) whole; safe from several threads on one handle.
int midi_out_long_msg(MidiOut* handle, MidiHeader& header);
// midi_still_playing until the message has left the cable; then unprepares it.
int midi_out_unprepare_header(MidiOut* handle, MidiHeader& header);
// When the message sent with this header leaves the cable (for a wait that sleeps instead of
// polling); the past once a reset released it.
std::chrono::steady_clock::time_point midi_out_release_time(MidiOut* handle,
                                                            const MidiHeader& header);
// The text of a result, at most max_length - 1 characters (the program's 120-byte buffer): the
// backend's own text for midi_error from that handle.
std::string midi_out_error_text(MidiOut* handle, int result, size_t max_length = 120);

// Input. The callback runs on the service's engine thread (and from midi_in_reset and
// midi_in_close on the caller's thread, with the buffers they return and the close notice).
int midi_in_open(MidiService& service, int index, MidiInCallback callback, void* instance,
                 MidiIn*& handle);
int midi_in_prepare_header(MidiIn* handle, MidiHeader& header);
int midi_in_unprepare_header(MidiIn* handle, MidiHeader& header);
// SysEx bytes the input dropped since it was opened: with no buffer queued, or arriving faster
// than they were handed over. Each loss is also marked on the next buffer (midi_in_long_error).
uint64_t midi_in_lost_bytes(MidiIn* handle);
// SysEx bytes that have arrived at the input since it was opened, also those of a message whose
// buffer has not come back yet: for a wait that counts silence from the last byte.
uint64_t midi_in_sysex_bytes(MidiIn* handle);
// Queues an empty buffer; buffers fill in the order they were added.
int midi_in_add_buffer(MidiIn* handle, MidiHeader& header);
int midi_in_start(MidiIn* handle);
int midi_in_stop(MidiIn* handle);
// Stops input and returns every queued buffer to the callback (as long data, with what it holds).
int midi_in_reset(MidiIn* handle);
// Returns the queued buffers as midi_in_reset does, delivers the close notice, frees the handle.
int midi_in_close(MidiIn* handle);
std::string midi_in_error_text(MidiIn* handle, int result, size_t max_length = 120);

// An open input: the backend's connection, the sink that cuts its bytes into the queued buffers,
// and the callback. Made by midi_in_open, freed by midi_in_close.
class MidiIn {
  public:
    MidiIn(MidiInCallback callback, void* instance, EngineThread& engine);
    ~MidiIn();

    MidiInCallback callback;
    void* instance;
    MidiInSink sink;
    std::unique_ptr<MidiInConnection> connection;  // ended before the sink

    // The buffers queued and the message being collected; guarded by mutex.
    std::mutex mutex;
    std::deque<MidiHeader*> queue;
    bool started = false;
    SysexFramer framer;         // knows whether an F0 was seen and its F7 not yet
    bool lost_message = false;  // bytes were dropped: the next buffer returned is an error
    std::atomic<uint64_t> unbuffered_bytes{0};  // SysEx bytes dropped with no buffer queued
    std::atomic<uint64_t> sysex_bytes{0};       // SysEx bytes taken, buffered or not
    std::string error;                          // the backend's last text
    // Called by the sink's deliverer with the bytes in arrival order.
    void take(const uint8_t* bytes, size_t count);
    // Puts one message byte in the front buffer; false when none is queued and it is lost.
    bool store(uint8_t byte);
    // Hands the front buffer back to the callback (outside the lock).
    void return_front(MidiInMessage message, std::unique_lock<std::mutex>& lock);
};

}  // namespace jx
