#include "platform/midi/midi_jack.h"

#include <jack/jack.h>
#include <rtmidi/RtMidi.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

namespace jx {

namespace {

using Clock = std::chrono::steady_clock;

// RtMidi's JACK output ring holds 16384 bytes, one of which stays free; each message costs its
// bytes and an int for its length.
constexpr size_t jack_ring_capacity = 16383;
constexpr size_t jack_message_overhead = sizeof(int);
// The pieces of a long message: small enough that a short reply never waits long for room.
constexpr size_t jack_piece_size = 4096;
// Cycles that surely have run RtMidi's process callback completely after a write: the cycle
// under way may have read the ring just before the write, and clients may run side by side.
constexpr uint64_t jack_cycles_to_drain = 3;
// How long the server may take to run those cycles before the port counts as failed.
constexpr auto jack_cycle_limit = std::chrono::seconds(2);

void quiet_jack(const char*) {}

// RtMidi and libjack hand our objects to JACK's thread through their own synchronisation, which
// ThreadSanitizer cannot see in the uninstrumented libraries; these two calls tell it what the
// libraries guarantee: whatever was written before a callback was installed is seen by it.
#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define JX_TSAN_ANNOTATE 1
#endif
#endif
#if defined(__SANITIZE_THREAD__)
#define JX_TSAN_ANNOTATE 1
#endif
#ifdef JX_TSAN_ANNOTATE
extern "C" void __tsan_acquire(void* address);
extern "C" void __tsan_release(void* address);
void handed_to_jack(void* object) {
    __tsan_release(object);
}
void taken_on_jack_thread(void* object) {
    __tsan_acquire(object);
}
#else
void handed_to_jack(void*) {}
void taken_on_jack_thread(void*) {}
#endif

// A JACK client of the backend's own, without ports: it counts the server's cycles, so that
// the backend knows when RtMidi's ring has been emptied, and it asks the server whether a port
// still exists.
class JackCycles {
  public:
    explicit JackCycles(const std::string& name) {
        jack_status_t status;
        client_ = jack_client_open(name.c_str(), JackNoStartServer, &status);
        if (!client_) return;
        handed_to_jack(this);
        jack_set_process_callback(client_, &JackCycles::process, this);
        jack_on_shutdown(client_, &JackCycles::shutdown, this);
        if (jack_activate(client_) != 0) {
            jack_client_close(client_);
            client_ = nullptr;
        }
    }
    ~JackCycles() {
        if (client_) jack_client_close(client_);
    }
    JackCycles(const JackCycles&) = delete;
    JackCycles& operator=(const JackCycles&) = delete;

    bool running() const { return client_ && !gone_.load(); }

    // Waits until `count` more cycles have run; false when the server stalls or has gone.
    bool wait_cycles(uint64_t count) const {
        const uint64_t target = cycles_.load() + count;
        const Clock::time_point deadline = Clock::now() + jack_cycle_limit;
        while (cycles_.load() < target) {
            if (!running() || Clock::now() > deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    }
    uint64_t cycles() const { return cycles_.load(); }

    // Waits until the server runs a connection between `port` and a port of the client named
    // `client`, and the cycles after it have begun; false when that does not happen in time.
    // RtMidi returns from connecting before the server's running graph has the connection, and a
    // message written before then goes nowhere.
    bool wait_connected(const std::string& port, const std::string& client) const {
        const Clock::time_point deadline = Clock::now() + jack_cycle_limit;
        while (!connected(port, client)) {
            if (!running() || Clock::now() > deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return wait_cycles(jack_cycles_to_drain);
    }

    // The MIDI ports an output (true) or an input (false) of the program can connect to, as
    // RtMidi lists them: the server's inputs for an output, its outputs for an input.
    std::vector<std::string> midi_ports(bool for_output) const {
        std::vector<std::string> names;
        if (!running()) return names;
        const char** ports = jack_get_ports(client_, nullptr, JACK_DEFAULT_MIDI_TYPE,
                                            for_output ? JackPortIsInput : JackPortIsOutput);
        for (size_t i = 0; ports && ports[i]; ++i) names.emplace_back(ports[i]);
        if (ports) jack_free(ports);
        return names;
    }

    bool port_exists(const std::string& name) const {
        return running() && jack_port_by_name(client_, name.c_str()) != nullptr;
    }

  private:
    bool connected(const std::string& port_name, const std::string& client) const {
        jack_port_t* port = jack_port_by_name(client_, port_name.c_str());
        if (!port) return false;
        const char** peers = jack_port_get_all_connections(client_, port);
        bool found = false;
        for (size_t i = 0; peers && peers[i] && !found; ++i)
            found = std::string(peers[i]).rfind(client, 0) == 0;
        if (peers) jack_free(peers);
        return found;
    }

    static int process(jack_nframes_t, void* self) {
        taken_on_jack_thread(self);
        static_cast<JackCycles*>(self)->cycles_.fetch_add(1);
        return 0;
    }
    static void shutdown(void* self) { static_cast<JackCycles*>(self)->gone_.store(true); }

    jack_client_t* client_ = nullptr;
    std::atomic<uint64_t> cycles_{0};
    std::atomic<bool> gone_{false};
};

// Collects RtMidi's warnings and errors of one object instead of letting it print them.
struct ErrorSlot {
    std::mutex mutex;
    std::string text;

    static void callback(RtMidiError::Type, const std::string& text, void* self) {
        auto* slot = static_cast<ErrorSlot*>(self);
        std::lock_guard lock(slot->mutex);
        if (slot->text.empty()) slot->text = text;
    }
    std::string take() {
        std::lock_guard lock(mutex);
        return std::exchange(text, {});
    }
};

struct Port {
    unsigned rtmidi_index;
    std::string name;
};

}  // namespace

struct JackMidiBackend::State {
    std::string client_name;
    std::string unavailable;  // why no port can be used
    std::unique_ptr<JackCycles> jack;

    bool own_port(const std::string& name) const {
        return name.size() > client_name.size() &&
               name.compare(0, client_name.size(), client_name) == 0 &&
               (name[client_name.size()] == '-' || name[client_name.size()] == ':');
    }

    // The ports an output (true) or an input (false) can connect to, in the order RtMidi lists
    // them, read through the backend's own client: listing objects of RtMidi's would be two more
    // clients the server runs every cycle.
    std::vector<Port> ports(bool for_output) {
        std::vector<Port> list;
        if (!jack) return list;
        const std::vector<std::string> names = jack->midi_ports(for_output);
        for (unsigned i = 0; i < names.size(); ++i)
            if (!own_port(names[i])) list.push_back({i, names[i]});
        return list;
    }

    // The port `index` of a list; false with the reason when there is none.
    bool port_at(bool for_output, int index, Port& port, std::string& error) {
        std::vector<Port> list = ports(for_output);
        if (index < 0 || index >= static_cast<int>(list.size())) {
            error = unavailable.empty()
                        ? std::string("There is no MIDI ") + (for_output ? "output" : "input") +
                              " with this number."
                        : unavailable;
            return false;
        }
        port = list[index];
        return true;
    }
    std::unique_ptr<MidiOutConnection> open_out(const Port* port, const std::string& virtual_name,
                                                std::string& error);
    std::unique_ptr<MidiInConnection> open_in(const Port* port, const std::string& virtual_name,
                                              MidiInSink& sink, std::string& error);
};

namespace {

const char* const jack_not_running = "The JACK server is not running.";

template <typename Object>
std::unique_ptr<Object> make_object(const std::string& client, ErrorSlot& errors,
                                    std::string& error) {
    try {
        auto object = std::make_unique<Object>(RtMidi::UNIX_JACK, client);
        object->setErrorCallback(&ErrorSlot::callback, &errors);
        return object;
    } catch (const RtMidiError& e) {
        error = e.getMessage();
    } catch (const std::exception& e) {
        error = e.what();
    }
    return nullptr;
}

// An output port: RtMidi's object, connected once and kept while the program reopens the port.
class RtMidiOutConnection : public MidiOutConnection {
  public:
    RtMidiOutConnection(std::unique_ptr<RtMidiOut> out, std::unique_ptr<ErrorSlot> errors,
                        const JackCycles* jack, std::string target)
        : out_(std::move(out)),
          errors_(std::move(errors)),
          jack_(jack),
          target_(std::move(target)) {}
    ~RtMidiOutConnection() override {
        try {
            out_->closePort();
        } catch (...) {
        }
    }

    int write(const uint8_t* data, size_t length, Clock::time_point, std::string& error) override {
        if (!target_.empty() && !jack_->port_exists(target_)) {
            error = "The MIDI port " + target_ + " is gone.";
            return midi_error;
        }
        for (size_t done = 0; done < length;) {
            const size_t piece = std::min(jack_piece_size, length - done);
            const size_t cost = piece + jack_message_overhead;
            forget_drained();
            if (queued_ + cost > jack_ring_capacity) {
                // Room comes when the oldest writes still in the ring have surely been taken.
                const uint64_t ran = jack_->cycles() - writes_.front().cycle;
                if (ran < jack_cycles_to_drain && !jack_->wait_cycles(jack_cycles_to_drain - ran)) {
                    error = "The JACK server stopped taking MIDI data (" + std::to_string(length) +
                            "-byte message, " + std::to_string(done) + " bytes sent).";
                    return midi_error;
                }
                continue;
            }
            const int result = send(data + done, piece, error);
            if (result != midi_ok) return result;
            queued_ += cost;
            writes_.push_back({jack_->cycles(), cost});
            done += piece;
        }
        return midi_ok;
    }

  private:
    // Drops the writes that the server has surely taken out of RtMidi's ring by now.
    void forget_drained() {
        const uint64_t now = jack_->cycles();
        while (!writes_.empty() && now - writes_.front().cycle >= jack_cycles_to_drain) {
            queued_ -= writes_.front().cost;
            writes_.pop_front();
        }
    }

    int send(const uint8_t* data, size_t length, std::string& error) {
        try {
            out_->sendMessage(data, length);
        } catch (const RtMidiError& e) {
            error = e.getMessage();
            return midi_error;
        }
        std::string text = errors_->take();
        if (text.empty()) return midi_ok;
        error = text + " (" + std::to_string(length) + "-byte message)";
        return midi_error;
    }

    std::unique_ptr<RtMidiOut> out_;
    std::unique_ptr<ErrorSlot> errors_;
    const JackCycles* jack_;
    std::string target_;  // the port connected to; empty for a port others connect to
    // The writes that may still be in RtMidi's ring: the server's cycle count when each was
    // made, and what it took of the ring; queued_ is their sum.
    struct Write {
        uint64_t cycle;
        size_t cost;
    };
    std::deque<Write> writes_;
    size_t queued_ = 0;
};

// An input port. RtMidi calls back on its own thread (JACK's real-time thread): the bytes go
// straight into the sink, which neither blocks nor allocates.
class RtMidiInConnection : public MidiInConnection {
  public:
    RtMidiInConnection(std::unique_ptr<RtMidiIn> in, std::unique_ptr<ErrorSlot> errors,
                       MidiInSink& sink)
        : in_(std::move(in)), errors_(std::move(errors)), sink_(sink) {
        in_->ignoreTypes(false, true, true);
        handed_to_jack(this);
        in_->setCallback(&RtMidiInConnection::arrived, this);
    }
    ~RtMidiInConnection() override {
        stop();
        try {
            in_->cancelCallback();
            in_->closePort();
        } catch (...) {
        }
    }

    bool open_port(unsigned rtmidi_index, const std::string& name, std::string& error) {
        try {
            in_->openPort(rtmidi_index, "in");
        } catch (const RtMidiError& e) {
            error = e.getMessage();
            return false;
        }
        if (opened(error) && in_->isPortOpen()) return true;
        if (error.empty()) error = "Could not connect to " + name + ".";
        return false;
    }
    bool open_virtual(const std::string& port_name, std::string& error) {
        try {
            in_->openVirtualPort(port_name);
        } catch (const RtMidiError& e) {
            error = e.getMessage();
            return false;
        }
        return opened(error);
    }

    int start(std::string&) override {
        started_.store(true);
        return midi_ok;
    }
    void stop() override {
        started_.store(false);
        // A callback under way may still be pushing; after this nothing more is pushed.
        while (busy_.load() != 0) std::this_thread::yield();
    }

  private:
    // True when RtMidi reported nothing; otherwise its text is the error.
    bool opened(std::string& error) {
        error = errors_->take();
        return error.empty();
    }
    static void arrived(double, std::vector<unsigned char>* message, void* self) {
        taken_on_jack_thread(self);
        auto* connection = static_cast<RtMidiInConnection*>(self);
        connection->busy_.fetch_add(1);
        if (connection->started_.load() && message && !message->empty())
            connection->sink_.push(message->data(), message->size());
        connection->busy_.fetch_sub(1);
    }

    std::unique_ptr<RtMidiIn> in_;
    std::unique_ptr<ErrorSlot> errors_;
    MidiInSink& sink_;
    std::atomic<bool> started_{false};
    std::atomic<int> busy_{0};
};

}  // namespace

JackMidiBackend::JackMidiBackend(std::string client_name) : state_(std::make_unique<State>()) {
    State& s = *state_;
    s.client_name = std::move(client_name);
    // libjack reports a missing server on stderr; the backend says it in its own words.
    jack_set_error_function(quiet_jack);
    jack_set_info_function(quiet_jack);
    std::vector<RtMidi::Api> compiled;
    RtMidi::getCompiledApi(compiled);
    if (std::find(compiled.begin(), compiled.end(), RtMidi::UNIX_JACK) == compiled.end()) {
        s.unavailable = "RtMidi was built without JACK.";
        return;
    }
    s.jack = std::make_unique<JackCycles>(s.client_name + "-clock");
    if (!s.jack->running()) {
        s.jack.reset();
        s.unavailable = jack_not_running;
    }
}

JackMidiBackend::~JackMidiBackend() = default;

bool JackMidiBackend::server_running() {
    jack_set_error_function(quiet_jack);
    jack_set_info_function(quiet_jack);
    jack_status_t status;
    jack_client_t* probe = jack_client_open("jx-probe", JackNoStartServer, &status);
    if (!probe) return false;
    jack_client_close(probe);
    return true;
}

std::string JackMidiBackend::unavailable_reason() const {
    return state_->unavailable;
}

int JackMidiBackend::out_count() {
    return static_cast<int>(state_->ports(true).size());
}

std::string JackMidiBackend::out_name(int index) {
    Port port;
    std::string ignored;
    return state_->port_at(true, index, port, ignored) ? port.name : std::string();
}

int JackMidiBackend::in_count() {
    return static_cast<int>(state_->ports(false).size());
}

std::string JackMidiBackend::in_name(int index) {
    Port port;
    std::string ignored;
    return state_->port_at(false, index, port, ignored) ? port.name : std::string();
}

// An output connected to `port`, or, without one, a port named `virtual_name` that others
// connect to.
std::unique_ptr<MidiOutConnection> JackMidiBackend::State::open_out(const Port* port,
                                                                    const std::string& virtual_name,
                                                                    std::string& error) {
    if (!jack) {
        error = unavailable;
        return nullptr;
    }
    auto errors = std::make_unique<ErrorSlot>();
    auto out = make_object<RtMidiOut>(client_name + "-out", *errors, error);
    if (!out) return nullptr;
    try {
        if (port)
            out->openPort(port->rtmidi_index, "out");
        else
            out->openVirtualPort(virtual_name);
    } catch (const RtMidiError& e) {
        error = e.getMessage();
        return nullptr;
    }
    error = errors->take();
    if (!error.empty()) return nullptr;
    if (port) {
        if (!out->isPortOpen()) {
            error = "Could not connect to " + port->name + ".";
            return nullptr;
        }
        if (!jack->wait_connected(port->name, client_name + "-out")) {
            error = "The JACK server did not connect " + port->name + ".";
            return nullptr;
        }
    }
    return std::make_unique<RtMidiOutConnection>(std::move(out), std::move(errors), jack.get(),
                                                 port ? port->name : std::string());
}

std::unique_ptr<MidiInConnection> JackMidiBackend::State::open_in(const Port* port,
                                                                  const std::string& virtual_name,
                                                                  MidiInSink& sink,
                                                                  std::string& error) {
    if (!jack) {
        error = unavailable;
        return nullptr;
    }
    auto errors = std::make_unique<ErrorSlot>();
    auto in = make_object<RtMidiIn>(client_name + "-in", *errors, error);
    if (!in) return nullptr;
    // The connection sets the callback before the port opens, so nothing is queued unseen.
    auto connection = std::make_unique<RtMidiInConnection>(std::move(in), std::move(errors), sink);
    const bool opened = port ? connection->open_port(port->rtmidi_index, port->name, error)
                             : connection->open_virtual(virtual_name, error);
    if (!opened) return nullptr;
    if (port && !jack->wait_connected(port->name, client_name + "-in")) {
        error = "The JACK server did not connect " + port->name + ".";
        return nullptr;
    }
    return connection;
}

std::unique_ptr<MidiOutConnection> JackMidiBackend::open_out(int index, std::string& error) {
    Port port;
    if (!state_->port_at(true, index, port, error)) return nullptr;
    return state_->open_out(&port, {}, error);
}

std::unique_ptr<MidiInConnection> JackMidiBackend::open_in(int index, MidiInSink& sink,
                                                           std::string& error) {
    Port port;
    if (!state_->port_at(false, index, port, error)) return nullptr;
    return state_->open_in(&port, {}, sink, error);
}

std::unique_ptr<MidiOutConnection> JackMidiBackend::open_virtual_out(const std::string& port_name,
                                                                     std::string& error) {
    return state_->open_out(nullptr, port_name, error);
}

std::unique_ptr<MidiInConnection> JackMidiBackend::open_virtual_in(const std::string& port_name,
                                                                   MidiInSink& sink,
                                                                   std::string& error) {
    return state_->open_in(nullptr, port_name, sink, error);
}

std::string JackMidiBackend::virtual_port_name(const std::string& port_name, bool output) const {
    return state_->client_name + (output ? "-out:" : "-in:") + port_name;
}

}  // namespace jx
