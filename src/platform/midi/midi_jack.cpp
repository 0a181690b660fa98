#include "platform/midi/midi_jack.h"

#include <jack/jack.h>
#include <jack/midiport.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <deque>
#include <map>
#include <mutex>
#include <semaphore>
#include <thread>
#include <utility>
#include <vector>

namespace jx {

namespace {

using Clock = std::chrono::steady_clock;

const char* const jack_not_running = "The JACK server is not running.";
const char* const jack_shut_down = "The JACK server has shut down.";

// Ports one client serves at a time: an input and an output, with room for reopening.
constexpr size_t max_ports = 16;
// What an output holds for the server: a whole message of any size the program sends, one longer
// than the 8 MiB receive buffer included. Its pages are touched only when that much is sent.
constexpr size_t out_ring_size = size_t{1} << 24;
// Each message in the ring is preceded by its length.
constexpr size_t length_bytes = 4;
// The largest event written: a long message leaves in pieces, as hardware inputs deliver it.
constexpr size_t piece_limit = 4096;
// How long the server may take to run the cycles we wait for before it counts as stalled.
constexpr auto server_limit = std::chrono::seconds(2);
// Cycles after a connection shows in the graph before the running graph surely has it.
constexpr uint64_t cycles_to_settle = 3;

void quiet_jack(const char*) {}

// libjack starts the thread that runs the process callback and hands it our objects through its
// own synchronisation, which ThreadSanitizer cannot see in the uninstrumented library; these two
// calls tell it what the library guarantees: what was written before the callback was installed
// is seen by it.
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

// The work of one port in the client's process callback: real-time safe, no lock, no allocation.
class PortWork {
  public:
    virtual ~PortWork() = default;
    virtual void process(jack_nframes_t frames) noexcept = 0;
};

// One JACK client and the ports it serves. Program threads register ports, connect them and
// wait for cycles; the server's thread runs process() once a cycle.
class JackClient {
  public:
    JackClient(const std::string& name, const std::string& server,
               const std::atomic<ServerMidiBackend::ServerGone>& gone_notice, std::string& error)
        : gone_notice_(gone_notice) {
        int options = JackNoStartServer;
        if (!server.empty()) options |= JackServerName;
        jack_status_t status{};
        client_ = jack_client_open(name.c_str(), static_cast<jack_options_t>(options), &status,
                                   server.c_str());
        if (!client_) {
            error = (status & (JackServerFailed | JackServerError))
                        ? jack_not_running
                        : "The JACK client " + name + " could not be opened.";
            return;
        }
        handed_to_jack(this);
        jack_set_process_callback(client_, &JackClient::process, this);
        jack_on_shutdown(client_, &JackClient::shutdown, this);
        if (jack_activate(client_) != 0) {
            jack_client_close(client_);
            client_ = nullptr;
            error = "The JACK client " + name + " could not be activated.";
        }
    }
    ~JackClient() {
        // A client whose server was killed is not closed: libjack crashes closing it, and there
        // is no server left to tell.
        if (client_ && !gone_.load()) jack_client_close(client_);
    }
    JackClient(const JackClient&) = delete;
    JackClient& operator=(const JackClient&) = delete;

    bool opened() const { return client_ != nullptr; }
    bool running() const { return client_ && !gone_.load(); }
    // The name the server gave the client (another client may have had the one asked for).
    std::string name() const { return client_ ? jack_get_client_name(client_) : std::string(); }

    // A MIDI port named `short_name`, or `short_name-2`, ... when the name is taken.
    jack_port_t* register_port(const std::string& short_name, unsigned long flags,
                               std::string& error) {
        std::lock_guard lock(control_);
        if (!running()) {
            error = jack_shut_down;
            return nullptr;
        }
        for (size_t n = 1; n <= max_ports + 1; ++n) {
            const std::string candidate =
                n == 1 ? short_name : short_name + "-" + std::to_string(n);
            if (jack_port_t* port = jack_port_register(client_, candidate.c_str(),
                                                       JACK_DEFAULT_MIDI_TYPE, flags, 0))
                return port;
        }
        error = "Could not make the MIDI port " + short_name + " at the JACK server.";
        return nullptr;
    }
    void unregister_port(jack_port_t* port) {
        std::lock_guard lock(control_);
        if (running()) jack_port_unregister(client_, port);
    }

    // Lets the process callback serve `work`; false when the client serves all it can.
    bool attach(PortWork* work) {
        std::lock_guard lock(control_);
        for (auto& slot : ports_) {
            PortWork* empty = nullptr;
            if (slot.compare_exchange_strong(empty, work)) return true;
        }
        return false;
    }
    // Returns once the process callback no longer touches `work`.
    void detach(PortWork* work) {
        {
            std::lock_guard lock(control_);
            for (auto& slot : ports_) {
                PortWork* expected = work;
                slot.compare_exchange_strong(expected, nullptr);
            }
        }
        settle();
    }
    // Returns once the cycle under way, if any, has ended: what the program changed before the
    // call is seen by every cycle after it. The callback never blocks, so this is short.
    void settle() const {
        const uint64_t phase = phase_.load();
        if (phase % 2 == 0) return;
        // A server that died mid-cycle never ends it: then nothing waits.
        while (phase_.load() == phase && running()) std::this_thread::yield();
    }

    // Waits, cycle by cycle, until `ready()` holds; false when it does not within `limit` or the
    // server has gone.
    template <typename Ready>
    bool wait(Ready ready, Clock::duration limit) {
        const Clock::time_point deadline = Clock::now() + limit;
        waiters_.fetch_add(1);
        bool result = true;
        while (!ready()) {
            if (!running() || !tick_.try_acquire_until(deadline)) {
                result = ready();
                break;
            }
        }
        waiters_.fetch_sub(1);
        return result;
    }
    bool wait_cycles(uint64_t count) {
        const uint64_t target = cycles_.load() + count;
        return wait([&] { return cycles_.load() >= target; }, server_limit);
    }

    // Connects two ports by their full names and waits until the server's running graph has the
    // connection: a message written before then would go nowhere.
    bool connect(jack_port_t* own, const std::string& source, const std::string& destination,
                 const std::string& other, std::string& error) {
        {
            std::lock_guard lock(control_);
            const int result =
                running() ? jack_connect(client_, source.c_str(), destination.c_str()) : -1;
            if (result != 0 && result != EEXIST) {
                error = "Could not connect to " + other + ".";
                return false;
            }
        }
        if (!wait([&] { return jack_port_connected_to(own, other.c_str()) != 0; }, server_limit) ||
            !wait_cycles(cycles_to_settle)) {
            error = "The JACK server did not connect " + other + ".";
            return false;
        }
        return true;
    }

    // The MIDI ports an output (true) or an input (false) of the program can connect to: the
    // server's inputs for an output, its outputs for an input.
    std::vector<std::string> midi_ports(bool for_output) {
        std::vector<std::string> names;
        std::lock_guard lock(control_);
        if (!running()) return names;
        const char** ports = jack_get_ports(client_, nullptr, JACK_DEFAULT_MIDI_TYPE,
                                            for_output ? JackPortIsInput : JackPortIsOutput);
        for (size_t i = 0; ports && ports[i]; ++i) names.emplace_back(ports[i]);
        if (ports) jack_free(ports);
        return names;
    }

  private:
    static int process(jack_nframes_t frames, void* self) {
        taken_on_jack_thread(self);
        auto& client = *static_cast<JackClient*>(self);
        client.phase_.fetch_add(1);
        for (auto& slot : client.ports_)
            if (PortWork* work = slot.load()) work->process(frames);
        client.phase_.fetch_add(1);
        client.cycles_.fetch_add(1);
        client.wake_waiters();
        return 0;
    }
    static void shutdown(void* self) {
        auto& client = *static_cast<JackClient*>(self);
        client.gone_.store(true);
        client.wake_waiters();
        if (const ServerMidiBackend::ServerGone notice = client.gone_notice_.load()) notice();
    }
    void wake_waiters() noexcept {
        const int waiting = waiters_.load();
        if (waiting > 0) tick_.release(waiting);
    }

    jack_client_t* client_ = nullptr;
    std::mutex control_;  // one program thread at a time asks the server
    std::array<std::atomic<PortWork*>, max_ports> ports_{};
    std::atomic<uint64_t> phase_{0};  // odd while a cycle is under way
    std::atomic<uint64_t> cycles_{0};
    std::atomic<int> waiters_{0};
    std::counting_semaphore<> tick_{0};  // released once a cycle for each waiter
    std::atomic<bool> gone_{false};
    const std::atomic<ServerMidiBackend::ServerGone>& gone_notice_;
};

// An output port: connected to another program's input, or one that others connect to.
class JackOutConnection : public MidiOutConnection, public PortWork {
  public:
    JackOutConnection(std::shared_ptr<JackClient> client, jack_port_t* port, std::string target)
        : client_(std::move(client)),
          port_(port),
          target_(std::move(target)),
          name_(target_.empty() ? jack_port_name(port) : target_),
          ring_(new uint8_t[out_ring_size]) {}
    ~JackOutConnection() override {
        // What was written leaves before the port goes: a program that sends its last message
        // (a CANCEL at a stop) and ends must not lose it. The cycle that took the last bytes
        // hands them to the receiver; one more and they are surely through.
        if (client_->wait([&] { return drained(); }, server_limit)) client_->wait_cycles(1);
        client_->detach(this);
        client_->unregister_port(port_);
    }

    jack_port_t* port() const { return port_; }

    std::optional<MidiError> write(const uint8_t* data, size_t length,
                                   Clock::time_point leaves_wire) override {
        if (!client_->running() ||
            (!target_.empty() && !jack_port_connected_to(port_, target_.c_str())))
            return MidiError{MidiErrorKind::gone, "The MIDI port " + name_ + " is gone."};
        const size_t needed = length_bytes + length;
        if (needed > out_ring_size) {
            return MidiError{MidiErrorKind::too_long,
                             "The message is too long for the JACK output (" +
                                 std::to_string(length) + " bytes, at most " +
                                 std::to_string(out_ring_size - length_bytes) + ")."};
        }
        const uint64_t head = head_.load(std::memory_order_relaxed);
        while (!written_.empty() && written_.front().end <= tail_.load(std::memory_order_acquire))
            written_.pop_front();
        for (;;) {
            const uint64_t tail = tail_.load(std::memory_order_acquire);
            if (out_ring_size - (head - tail) >= needed) break;
            // Room comes as the server takes what is queued; a server that takes nothing for
            // a while has stalled.
            if (!client_->wait([&] { return tail_.load(std::memory_order_acquire) != tail; },
                               server_limit)) {
                if (client_->running())
                    return MidiError{MidiErrorKind::server_down,
                                     "The JACK server stopped taking MIDI data (" +
                                         std::to_string(length) + "-byte message)."};
                return MidiError{MidiErrorKind::gone, "The MIDI port " + name_ + " is gone."};
            }
        }
        const auto count = static_cast<uint32_t>(length);
        for (size_t i = 0; i < length_bytes; ++i)
            ring_[(head + i) & (out_ring_size - 1)] = static_cast<uint8_t>(count >> (8 * i));
        copy_in(head + length_bytes, data, length);
        head_.store(head + needed, std::memory_order_release);
        written_.push_back({head, head + needed, leaves_wire});
        return std::nullopt;
    }

    // Drops what is still on its way. A message whose wire time is over counts as sent for the
    // program (a sender waits for no more than that), so it goes out first, and only the
    // messages still on the cable are cut, at the next cycle.
    void reset() override {
        const uint64_t head = head_.load(std::memory_order_relaxed);
        const Clock::time_point now = Clock::now();
        uint64_t keep = head;
        for (const Written& w : written_)
            if (w.leaves_wire > now) {
                keep = w.start;
                break;
            }
        written_.clear();
        client_->wait([&] { return tail_.load(std::memory_order_acquire) >= keep; }, server_limit);
        drop_to_.store(head, std::memory_order_release);
    }

    void process(jack_nframes_t frames) noexcept override {
        void* buffer = jack_port_get_buffer(port_, frames);
        if (!buffer) return;
        jack_midi_clear_buffer(buffer);
        uint64_t tail = tail_.load(std::memory_order_relaxed);
        const uint64_t drop = drop_to_.load(std::memory_order_acquire);
        if (drop > tail) {
            tail = drop;
            remaining_ = 0;
        }
        const uint64_t head = head_.load(std::memory_order_acquire);
        while (tail < head) {
            if (remaining_ == 0) {
                for (size_t i = 0; i < length_bytes; ++i)
                    remaining_ |= uint32_t{ring_[(tail + i) & (out_ring_size - 1)]} << (8 * i);
                tail += length_bytes;
                continue;
            }
            // Only what surely fits is reserved: a refused event would count as lost.
            const size_t piece =
                std::min({size_t{remaining_}, jack_midi_max_event_size(buffer), piece_limit});
            if (piece == 0) break;
            jack_midi_data_t* event = jack_midi_event_reserve(buffer, 0, piece);
            if (!event) break;
            copy_out(tail, event, piece);
            tail += piece;
            remaining_ -= static_cast<uint32_t>(piece);
        }
        tail_.store(tail, std::memory_order_release);
    }

  private:
    bool drained() const {
        return tail_.load(std::memory_order_acquire) == head_.load(std::memory_order_relaxed);
    }
    void copy_in(uint64_t at, const uint8_t* data, size_t length) {
        const size_t start = at & (out_ring_size - 1);
        const size_t first = std::min(length, out_ring_size - start);
        std::copy(data, data + first, &ring_[start]);
        std::copy(data + first, data + length, &ring_[0]);
    }
    void copy_out(uint64_t at, uint8_t* out, size_t length) const noexcept {
        const size_t start = at & (out_ring_size - 1);
        const size_t first = std::min(length, out_ring_size - start);
        std::copy(&ring_[start], &ring_[start] + first, out);
        std::copy(&ring_[0], &ring_[0] + (length - first), out + first);
    }

    std::shared_ptr<JackClient> client_;
    jack_port_t* port_;
    std::string target_;  // the port connected to; empty for a port others connect to
    std::string name_;    // what errors call the port
    std::unique_ptr<uint8_t[]> ring_;
    std::atomic<uint64_t> head_{0};     // written by write()
    std::atomic<uint64_t> tail_{0};     // written by the process callback
    std::atomic<uint64_t> drop_to_{0};  // reset(): the callback skips up to here
    uint32_t remaining_ = 0;            // the callback's: bytes of the message under way
    // The messages written that may not have left yet: where each lies in the ring and when the
    // program counts it as gone out.
    struct Written {
        uint64_t start;
        uint64_t end;
        Clock::time_point leaves_wire;
    };
    std::deque<Written> written_;
};

// An input port: the process callback pushes the bytes of every event into the sink.
class JackInConnection : public MidiInConnection, public PortWork {
  public:
    JackInConnection(std::shared_ptr<JackClient> client, jack_port_t* port, MidiInSink& sink)
        : client_(std::move(client)), port_(port), sink_(sink) {}
    ~JackInConnection() override {
        client_->detach(this);
        client_->unregister_port(port_);
    }

    jack_port_t* port() const { return port_; }

    std::optional<MidiError> start() override {
        started_.store(true);
        return std::nullopt;
    }
    void stop() override {
        started_.store(false);
        // A cycle under way may still be pushing; after this nothing more is pushed.
        client_->settle();
    }

    void process(jack_nframes_t frames) noexcept override {
        if (!started_.load()) return;
        void* buffer = jack_port_get_buffer(port_, frames);
        if (!buffer) return;
        const uint32_t count = jack_midi_get_event_count(buffer);
        for (uint32_t i = 0; i < count; ++i) {
            jack_midi_event_t event;
            if (jack_midi_event_get(&event, buffer, i) == 0 && event.size > 0)
                sink_.push(event.buffer, event.size);
        }
        // The server had no room for events of several senders mixed into our input.
        if (jack_midi_get_lost_event_count(buffer) > 0) sink_.mark_lost();
    }

  private:
    std::shared_ptr<JackClient> client_;
    jack_port_t* port_;
    MidiInSink& sink_;
    std::atomic<bool> started_{false};
};

}  // namespace

struct JackMidiBackend::State {
    std::string client_name;
    std::string server;  // the server asked for, empty for the default one
    std::atomic<ServerGone> gone_notice{nullptr};

    std::mutex mutex;
    // The clients by the name asked for: `client_name` for the ports connected to others,
    // `client_name-in` and `client_name-out` for the ports others connect to.
    std::map<std::string, std::shared_ptr<JackClient>> clients;

    // The client `name`, opened now when it is not yet; nullptr and the reason when it cannot be.
    std::shared_ptr<JackClient> client(const std::string& name, std::string& error) {
        std::lock_guard lock(mutex);
        auto found = clients.find(name);
        if (found == clients.end()) {
            auto made = std::make_shared<JackClient>(name, server, gone_notice, error);
            if (!made->opened()) return nullptr;
            found = clients.emplace(name, std::move(made)).first;
        }
        if (!found->second->running()) {
            error = jack_shut_down;
            return nullptr;
        }
        return found->second;
    }
    std::shared_ptr<JackClient> main_client(std::string& error) {
        return client(client_name, error);
    }

    // The ports an output (true) or an input (false) can connect to, in the server's order,
    // without this program's own: the ports of the clients it opened, by the names the server
    // gave them (another program's client may begin with the same name, as jx-device does).
    std::vector<std::string> ports(bool for_output) {
        std::string ignored;
        std::shared_ptr<JackClient> jack = main_client(ignored);
        std::vector<std::string> list;
        if (!jack) return list;
        std::vector<std::string> own;
        {
            std::lock_guard lock(mutex);
            for (const auto& [asked, client] : clients) own.push_back(client->name() + ":");
        }
        for (std::string& name : jack->midi_ports(for_output)) {
            const bool ours = std::any_of(own.begin(), own.end(), [&](const std::string& prefix) {
                return name.compare(0, prefix.size(), prefix) == 0;
            });
            if (!ours) list.push_back(std::move(name));
        }
        return list;
    }

    // The port `index` of a list; false with the reason when there is none.
    bool port_at(bool for_output, int index, std::string& port, std::string& error) {
        std::vector<std::string> list = ports(for_output);
        if (index < 0 || index >= static_cast<int>(list.size())) {
            std::string why;
            main_client(why);
            error = !why.empty() ? why
                                 : std::string("There is no MIDI ") +
                                       (for_output ? "output" : "input") + " with this number.";
            return false;
        }
        port = list[index];
        return true;
    }
};

JackMidiBackend::JackMidiBackend(std::string client_name) : state_(std::make_unique<State>()) {
    state_->client_name = std::move(client_name);
    if (const char* server = std::getenv("JACK_DEFAULT_SERVER")) state_->server = server;
    // libjack reports a missing server on stderr; the backend says it in its own words.
    jack_set_error_function(quiet_jack);
    jack_set_info_function(quiet_jack);
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
    std::string error;
    state_->main_client(error);
    return error;
}

int JackMidiBackend::out_count() {
    return static_cast<int>(state_->ports(true).size());
}

void JackMidiBackend::on_server_gone(ServerGone notice) {
    state_->gone_notice.store(notice);
}

std::string JackMidiBackend::out_name(int index) {
    std::string port, ignored;
    return state_->port_at(true, index, port, ignored) ? port : std::string();
}

int JackMidiBackend::in_count() {
    return static_cast<int>(state_->ports(false).size());
}

std::string JackMidiBackend::in_name(int index) {
    std::string port, ignored;
    return state_->port_at(false, index, port, ignored) ? port : std::string();
}

namespace {

// A port of `jack` served by a new connection; nullptr and the reason when it cannot be made.
template <typename Connection, typename Extra>
std::unique_ptr<Connection> make_port(const std::shared_ptr<JackClient>& jack,
                                      const std::string& short_name, unsigned long flags,
                                      Extra&& extra, std::string& error) {
    if (!jack) return nullptr;
    jack_port_t* port = jack->register_port(short_name, flags, error);
    if (!port) return nullptr;
    auto connection = std::make_unique<Connection>(jack, port, std::forward<Extra>(extra));
    if (!jack->attach(connection.get())) {
        error = "Too many MIDI ports are open.";
        return nullptr;
    }
    return connection;
}

}  // namespace

std::unique_ptr<MidiOutConnection> JackMidiBackend::open_out(int index, std::string& error) {
    std::string target;
    if (!state_->port_at(true, index, target, error)) return nullptr;
    std::shared_ptr<JackClient> jack = state_->main_client(error);
    auto out = make_port<JackOutConnection>(jack, "out", JackPortIsOutput, target, error);
    if (!out || !jack->connect(out->port(), jack_port_name(out->port()), target, target, error))
        return nullptr;
    return out;
}

std::unique_ptr<MidiInConnection> JackMidiBackend::open_in(int index, MidiInSink& sink,
                                                           std::string& error) {
    std::string source;
    if (!state_->port_at(false, index, source, error)) return nullptr;
    std::shared_ptr<JackClient> jack = state_->main_client(error);
    // Served before the connection is made, so that nothing arrives unseen.
    auto in = make_port<JackInConnection>(jack, "in", JackPortIsInput, sink, error);
    if (!in || !jack->connect(in->port(), source, jack_port_name(in->port()), source, error))
        return nullptr;
    return in;
}

std::unique_ptr<MidiOutConnection> JackMidiBackend::open_virtual_out(const std::string& port_name,
                                                                     std::string& error) {
    return make_port<JackOutConnection>(state_->client(state_->client_name + "-out", error),
                                        port_name, JackPortIsOutput, std::string(), error);
}

std::unique_ptr<MidiInConnection> JackMidiBackend::open_virtual_in(const std::string& port_name,
                                                                   MidiInSink& sink,
                                                                   std::string& error) {
    return make_port<JackInConnection>(state_->client(state_->client_name + "-in", error),
                                       port_name, JackPortIsInput, sink, error);
}

std::string JackMidiBackend::virtual_port_name(const std::string& port_name, bool output) const {
    const std::string asked = state_->client_name + (output ? "-out" : "-in");
    std::lock_guard lock(state_->mutex);
    auto found = state_->clients.find(asked);
    const std::string client =
        found != state_->clients.end() && found->second->opened() ? found->second->name() : asked;
    return client + ":" + port_name;
}

}  // namespace jx
