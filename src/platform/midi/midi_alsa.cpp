#include "platform/midi/midi_alsa.h"

#include <alsa/asoundlib.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace jx {

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* sequencer_device = "/dev/snd/seq";
// The kernel's largest input pool; our receivers ask for all of it.
constexpr int input_pool_cells = 2000;
// Each cell of a pool holds this many bytes of an event's data.
constexpr size_t cell_bytes = sizeof(snd_seq_event_t);
// Read buffer: any event the largest pool can hold.
constexpr size_t input_buffer_bytes = 64 * 1024;
// Pieces of a message: for a program (one event of about ten cells, far below any pool), and
// for a kernel port (the kernel hands an event's bytes to its device 32 at a time and refuses
// the event only before the first of them).
constexpr size_t program_piece = 256;
constexpr size_t kernel_piece = 32;
// With pacing on, pieces may go this far ahead of the wire: an interface buffers a few KiB.
constexpr size_t wire_lead = 512;
// A port that takes nothing for this long has stopped.
constexpr auto stall_limit = std::chrono::seconds(2);
constexpr auto retry_pause = std::chrono::microseconds(500);

struct Address {
    int client = -1;
    int port = -1;
    bool kernel = false;
    std::string name;
};

std::string failure(const std::string& what, int error) {
    return what + ": " + snd_strerror(error) + ".";
}

void quiet_alsa(const char*, int, const char*, int, const char*, ...) {}

bool port_gone(int result) {
    return result == -ENOENT || result == -ENXIO || result == -ENODEV;
}

}  // namespace

class AlsaInConnection;

struct AlsaSeqBackend::State {
    std::string client_name;
    std::string unavailable;
    snd_seq_t* seq = nullptr;
    int client = -1;
    int fd = -1;
    // Events leave through a buffer alsa-lib keeps per handle: one writer at a time.
    std::mutex write_mutex;

    // The reader thread and the inputs it hands bytes to, by our port number. An input is
    // pushed to only under `inputs_mutex`, so that once stop() took it no push follows.
    std::mutex inputs_mutex;
    std::map<int, AlsaInConnection*> inputs;
    std::thread reader;
    int wake_fd = -1;
    std::atomic<bool> quit{false};

    ~State() {
        if (reader.joinable()) {
            quit.store(true);
            const uint64_t one = 1;
            [[maybe_unused]] ssize_t written = ::write(wake_fd, &one, sizeof(one));
            reader.join();
        }
        if (wake_fd >= 0) ::close(wake_fd);
        if (seq) snd_seq_close(seq);
    }

    std::vector<Address> ports(bool for_output);
    bool port_at(bool for_output, int index, Address& address, std::string& error);
    int make_port(const std::string& name, unsigned caps, std::string& error);
    void drop_port(int port) {
        if (port >= 0) snd_seq_delete_port(seq, port);
    }
    void start_reader();
    void read_events();
};

namespace {

// An output: a port of ours connected to the destination (which opens an interface's cable), or
// a port others connect to; the events go straight to the destination or to every subscriber.
class AlsaOutConnection : public MidiOutConnection {
  public:
    AlsaOutConnection(AlsaSeqBackend::State& state, int port, Address target)
        : s_(state), port_(port), target_(std::move(target)) {}
    ~AlsaOutConnection() override { s_.drop_port(port_); }

    std::optional<MidiError> write(const uint8_t* data, size_t length,
                                   Clock::time_point leaves_wire) override {
        const Clock::time_point start = Clock::now();
        const auto span = std::max(Clock::duration::zero(), leaves_wire - start);
        std::vector<Address> receivers = destinations();
        const bool any_kernel = std::any_of(receivers.begin(), receivers.end(),
                                            [](const Address& a) { return a.kernel; });
        const size_t piece = any_kernel || receivers.empty() ? kernel_piece : program_piece;
        Clock::time_point progress = start;
        for (size_t done = 0; done < length;) {
            const size_t count = std::min(piece, length - done);
            if (span > Clock::duration::zero() && done > wire_lead)
                std::this_thread::sleep_until(start + span *
                                                          static_cast<int64_t>(done - wire_lead) /
                                                          static_cast<int64_t>(length));
            int result = -EAGAIN;
            if (has_room(receivers, count)) result = send_piece(data + done, count);
            if (result >= 0) {
                done += count;
                progress = Clock::now();
                continue;
            }
            if (port_gone(result))
                return MidiError{MidiErrorKind::gone, "The MIDI port " + name() + " is gone."};
            if (result != -EAGAIN && result != -ENOMEM && result != -ENOSPC) {
                return MidiError{MidiErrorKind::failed,
                                 failure("Sending to " + name() + " failed (" +
                                             std::to_string(length) + "-byte message)",
                                         result)};
            }
            if (Clock::now() - progress > stall_limit) {
                return MidiError{MidiErrorKind::server_down,
                                 "The MIDI port " + name() + " stopped taking data (" +
                                     std::to_string(length) + "-byte message, " +
                                     std::to_string(done) + " bytes sent)."};
            }
            std::this_thread::sleep_for(retry_pause);
        }
        return std::nullopt;
    }

  private:
    std::string name() const { return target_.client >= 0 ? target_.name : "(own port)"; }

    // Who receives what this output sends: the destination, or the subscribers of our port.
    std::vector<Address> destinations() {
        if (target_.client >= 0) return {target_};
        std::vector<Address> found;
        snd_seq_query_subscribe_t* query;
        snd_seq_query_subscribe_alloca(&query);
        snd_seq_addr_t root{static_cast<unsigned char>(s_.client),
                            static_cast<unsigned char>(port_)};
        snd_seq_query_subscribe_set_root(query, &root);
        snd_seq_query_subscribe_set_type(query, SND_SEQ_QUERY_SUBS_READ);
        snd_seq_query_subscribe_set_index(query, 0);
        snd_seq_client_info_t* info;
        snd_seq_client_info_alloca(&info);
        while (snd_seq_query_port_subscribers(s_.seq, query) >= 0) {
            const snd_seq_addr_t* addr = snd_seq_query_subscribe_get_addr(query);
            Address a{addr->client, addr->port, true, {}};
            if (snd_seq_get_any_client_info(s_.seq, addr->client, info) >= 0)
                a.kernel = snd_seq_client_info_get_type(info) == SND_SEQ_KERNEL_CLIENT;
            found.push_back(a);
            snd_seq_query_subscribe_set_index(query, snd_seq_query_subscribe_get_index(query) + 1);
        }
        return found;
    }

    // A program drops an event its input pool has no room for, and then throws away all it
    // holds: never send it more than it has room for.
    bool has_room(const std::vector<Address>& receivers, size_t count) const {
        const int cells = static_cast<int>(2 + (count + cell_bytes - 1) / cell_bytes);
        for (const Address& a : receivers) {
            if (a.kernel) continue;
            const int free = alsa_client_input_free(s_.fd, a.client);
            if (free >= 0 && free < cells) return false;
        }
        return true;
    }

    int send_piece(const uint8_t* bytes, size_t count) {
        snd_seq_event_t event;
        snd_seq_ev_clear(&event);
        snd_seq_ev_set_source(&event, port_);
        if (target_.client >= 0)
            snd_seq_ev_set_dest(&event, target_.client, target_.port);
        else
            snd_seq_ev_set_subs(&event);
        snd_seq_ev_set_direct(&event);
        snd_seq_ev_set_sysex(&event, static_cast<unsigned>(count), const_cast<uint8_t*>(bytes));
        std::lock_guard lock(s_.write_mutex);
        return snd_seq_event_output_direct(s_.seq, &event);
    }

    AlsaSeqBackend::State& s_;
    int port_;
    Address target_;  // client -1: our port is one others connect to
};

}  // namespace

// An input: a port of ours that the source is connected to (or that others connect to). The
// backend's reader thread pushes what arrives at it into the sink.
class AlsaInConnection : public MidiInConnection {
  public:
    AlsaInConnection(AlsaSeqBackend::State& state, int port, MidiInSink& sink)
        : s_(state), port_(port), sink_(sink) {
        std::lock_guard lock(s_.inputs_mutex);
        s_.inputs[port_] = this;
    }
    ~AlsaInConnection() override {
        {
            std::lock_guard lock(s_.inputs_mutex);
            s_.inputs.erase(port_);
        }
        s_.drop_port(port_);
    }

    std::optional<MidiError> start() override {
        std::lock_guard lock(s_.inputs_mutex);
        started_ = true;
        return std::nullopt;
    }
    void stop() override {
        std::lock_guard lock(s_.inputs_mutex);
        started_ = false;
    }

    // On the reader thread, with inputs_mutex held.
    void arrived(const uint8_t* bytes, size_t count) {
        if (started_) sink_.push(bytes, count);
    }
    void lost() {
        if (started_) sink_.mark_lost();
    }

  private:
    AlsaSeqBackend::State& s_;
    int port_;
    MidiInSink& sink_;
    bool started_ = false;  // guarded by inputs_mutex
};

std::vector<Address> AlsaSeqBackend::State::ports(bool for_output) {
    std::vector<Address> list;
    if (!seq) return list;
    const unsigned wanted = for_output ? SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE
                                       : SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ;
    const unsigned kinds =
        SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_SYNTH | SND_SEQ_PORT_TYPE_APPLICATION;
    snd_seq_client_info_t* cinfo;
    snd_seq_port_info_t* pinfo;
    snd_seq_client_info_alloca(&cinfo);
    snd_seq_port_info_alloca(&pinfo);
    snd_seq_client_info_set_client(cinfo, -1);
    while (snd_seq_query_next_client(seq, cinfo) >= 0) {
        const int number = snd_seq_client_info_get_client(cinfo);
        if (number == client || number == SND_SEQ_CLIENT_SYSTEM) continue;
        const bool kernel = snd_seq_client_info_get_type(cinfo) == SND_SEQ_KERNEL_CLIENT;
        snd_seq_port_info_set_client(pinfo, number);
        snd_seq_port_info_set_port(pinfo, -1);
        while (snd_seq_query_next_port(seq, pinfo) >= 0) {
            const unsigned caps = snd_seq_port_info_get_capability(pinfo);
            if ((caps & wanted) != wanted || (caps & SND_SEQ_PORT_CAP_NO_EXPORT)) continue;
            if (!(snd_seq_port_info_get_type(pinfo) & kinds)) continue;
            std::string name = std::string(snd_seq_client_info_get_name(cinfo)) + ":" +
                               snd_seq_port_info_get_name(pinfo);
            list.push_back({number, snd_seq_port_info_get_port(pinfo), kernel, std::move(name)});
        }
    }
    // Two interfaces of one kind have the same names; the later ones are numbered.
    std::vector<std::string> names;
    for (const Address& a : list) names.push_back(a.name);
    number_repeated_names(names);
    for (size_t i = 0; i < list.size(); ++i) list[i].name = std::move(names[i]);
    return list;
}

bool AlsaSeqBackend::State::port_at(bool for_output, int index, Address& address,
                                    std::string& error) {
    const std::vector<Address> list = ports(for_output);
    if (index < 0 || index >= static_cast<int>(list.size())) {
        error = !unavailable.empty() ? unavailable
                                     : std::string("There is no MIDI ") +
                                           (for_output ? "output" : "input") + " with this number.";
        return false;
    }
    address = list[index];
    return true;
}

int AlsaSeqBackend::State::make_port(const std::string& name, unsigned caps, std::string& error) {
    if (!seq) {
        error = unavailable;
        return -1;
    }
    const int port = snd_seq_create_simple_port(
        seq, name.c_str(), caps, SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
    if (port < 0) error = failure("Could not make the MIDI port " + name, port);
    return port;
}

void AlsaSeqBackend::State::start_reader() {
    if (reader.joinable() || !seq) return;
    reader = std::thread([this] { read_events(); });
}

void AlsaSeqBackend::State::read_events() {
    snd_midi_event_t* decoder = nullptr;
    if (snd_midi_event_new(16, &decoder) < 0) return;
    snd_midi_event_no_status(decoder, 1);
    std::vector<pollfd> fds(static_cast<size_t>(snd_seq_poll_descriptors_count(seq, POLLIN)) + 1);
    snd_seq_poll_descriptors(seq, fds.data(), static_cast<unsigned>(fds.size() - 1), POLLIN);
    fds.back() = {wake_fd, POLLIN, 0};
    while (!quit.load()) {
        if (::poll(fds.data(), fds.size(), -1) < 0 && errno != EINTR) break;
        for (;;) {
            snd_seq_event_t* event = nullptr;
            const int result = snd_seq_event_input(seq, &event);
            if (result == -ENOSPC) {
                // The kernel threw away what our pool held: every open input lost bytes.
                std::lock_guard lock(inputs_mutex);
                for (auto& [port, input] : inputs) input->lost();
                continue;
            }
            if (result < 0 || !event) break;
            uint8_t bytes[16];
            const uint8_t* data = bytes;
            long count = 0;
            if (event->type == SND_SEQ_EVENT_SYSEX) {
                data = static_cast<const uint8_t*>(event->data.ext.ptr);
                count = event->data.ext.len;
            } else {
                // Other messages matter only as the status bytes that end a message cut short.
                snd_midi_event_reset_decode(decoder);
                count = snd_midi_event_decode(decoder, bytes, sizeof(bytes), event);
            }
            if (count <= 0) continue;
            std::lock_guard lock(inputs_mutex);
            auto input = inputs.find(event->dest.port);
            if (input != inputs.end()) input->second->arrived(data, static_cast<size_t>(count));
        }
    }
    snd_midi_event_free(decoder);
}

AlsaSeqBackend::AlsaSeqBackend(std::string client_name) : state_(std::make_unique<State>()) {
    State& s = *state_;
    s.client_name = std::move(client_name);
    if (!sequencer_present()) {
        s.unavailable = "The ALSA sequencer (/dev/snd/seq) is not available.";
        return;
    }
    // alsa-lib reports its own problems on stderr; the backend says them in its own words.
    snd_lib_error_set_handler(quiet_alsa);
    const int opened = snd_seq_open(&s.seq, "default", SND_SEQ_OPEN_DUPLEX, SND_SEQ_NONBLOCK);
    if (opened < 0) {
        s.seq = nullptr;
        s.unavailable = failure("The ALSA sequencer cannot be opened", opened);
        return;
    }
    snd_seq_set_client_name(s.seq, s.client_name.c_str());
    snd_seq_set_client_pool_input(s.seq, input_pool_cells);
    snd_seq_set_input_buffer_size(s.seq, input_buffer_bytes);
    s.client = snd_seq_client_id(s.seq);
    pollfd descriptor{};
    snd_seq_poll_descriptors(s.seq, &descriptor, 1, POLLOUT);
    s.fd = descriptor.fd;
    s.wake_fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

AlsaSeqBackend::~AlsaSeqBackend() = default;

bool AlsaSeqBackend::sequencer_present() {
    return ::access(sequencer_device, R_OK | W_OK) == 0;
}

std::string AlsaSeqBackend::unavailable_reason() const {
    return state_->unavailable;
}

int AlsaSeqBackend::out_count() {
    return static_cast<int>(state_->ports(true).size());
}

std::string AlsaSeqBackend::out_name(int index) {
    Address address;
    std::string ignored;
    return state_->port_at(true, index, address, ignored) ? address.name : std::string();
}

int AlsaSeqBackend::in_count() {
    return static_cast<int>(state_->ports(false).size());
}

std::string AlsaSeqBackend::in_name(int index) {
    Address address;
    std::string ignored;
    return state_->port_at(false, index, address, ignored) ? address.name : std::string();
}

std::unique_ptr<MidiOutConnection> AlsaSeqBackend::open_out(int index, std::string& error) {
    State& s = *state_;
    Address target;
    if (!s.port_at(true, index, target, error)) return nullptr;
    const int port = s.make_port("out", SND_SEQ_PORT_CAP_READ, error);
    if (port < 0) return nullptr;
    // The connection opens an interface's cable; the events themselves go straight to it.
    const int connected = snd_seq_connect_to(s.seq, port, target.client, target.port);
    if (connected < 0) {
        s.drop_port(port);
        error = failure("Could not connect to " + target.name, connected);
        return nullptr;
    }
    return std::make_unique<AlsaOutConnection>(s, port, std::move(target));
}

std::unique_ptr<MidiInConnection> AlsaSeqBackend::open_in(int index, MidiInSink& sink,
                                                          std::string& error) {
    State& s = *state_;
    Address source;
    if (!s.port_at(false, index, source, error)) return nullptr;
    const int port = s.make_port("in", SND_SEQ_PORT_CAP_WRITE, error);
    if (port < 0) return nullptr;
    // Registered before the connection is made, so that nothing arrives unseen.
    auto connection = std::make_unique<AlsaInConnection>(s, port, sink);
    s.start_reader();
    const int connected = snd_seq_connect_from(s.seq, port, source.client, source.port);
    if (connected < 0) {
        error = failure("Could not connect to " + source.name, connected);
        return nullptr;
    }
    return connection;
}

std::unique_ptr<MidiOutConnection> AlsaSeqBackend::open_virtual_out(const std::string& port_name,
                                                                    std::string& error) {
    const int port =
        state_->make_port(port_name, SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ, error);
    if (port < 0) return nullptr;
    return std::make_unique<AlsaOutConnection>(*state_, port, Address{});
}

std::unique_ptr<MidiInConnection> AlsaSeqBackend::open_virtual_in(const std::string& port_name,
                                                                  MidiInSink& sink,
                                                                  std::string& error) {
    const int port =
        state_->make_port(port_name, SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE, error);
    if (port < 0) return nullptr;
    auto connection = std::make_unique<AlsaInConnection>(*state_, port, sink);
    state_->start_reader();
    return connection;
}

std::string AlsaSeqBackend::virtual_port_name(const std::string& port_name, bool) const {
    return state_->client_name + ":" + port_name;
}

}  // namespace jx
