#include "platform/midi/midi.h"

#include <algorithm>
#include <cstring>

namespace jx {

using Clock = std::chrono::steady_clock;

Clock::time_point WireClock::schedule(size_t bytes, int32_t turbo_speed, bool paced) {
    const Clock::time_point now = Clock::now();
    if (!paced) {
        free_at = now;
        return now;
    }
    free_at = std::max(free_at, now) + wire_time(bytes, turbo_speed);
    return free_at;
}

MidiService::MidiService() = default;
MidiService::~MidiService() = default;

std::string midi_error_text(const MidiError& error, size_t max_length) {
    std::string text = error.text;
    if (text.empty()) {
        switch (error.kind) {
            case MidiErrorKind::no_port:
                text = "There is no MIDI port with this number.";
                break;
            case MidiErrorKind::busy:
                text = "The MIDI port is busy.";
                break;
            case MidiErrorKind::not_open:
                text = "The MIDI port is not open.";
                break;
            case MidiErrorKind::too_long:
                text = "The message is empty or too long for the port.";
                break;
            default:
                text = "The MIDI port failed.";
                break;
        }
    }
    if (max_length == 0) return {};
    if (text.size() > max_length - 1) text.resize(max_length - 1);
    return text;
}

namespace {

std::vector<MidiPort> list_ports(MidiService& service, bool output) {
    std::vector<MidiPort> ports;
    for (MidiBackend* backend : service.backends) {
        const int count = output ? backend->out_count() : backend->in_count();
        for (int i = 0; i < count; ++i)
            ports.push_back({backend, output ? backend->out_name(i) : backend->in_name(i)});
    }
    return ports;
}

MidiPort port_at(MidiService& service, bool output, int index) {
    if (index < 0) return {};
    int base = 0;
    for (MidiBackend* backend : service.backends) {
        const int count = output ? backend->out_count() : backend->in_count();
        if (index < base + count) {
            const int local = index - base;
            return {backend, output ? backend->out_name(local) : backend->in_name(local)};
        }
        base += count;
    }
    return {};
}

// The port's index in its backend's list now; -1 when it is not there.
int local_index(const MidiPort& port, bool output) {
    if (!port.backend) return -1;
    const int count = output ? port.backend->out_count() : port.backend->in_count();
    for (int i = 0; i < count; ++i)
        if ((output ? port.backend->out_name(i) : port.backend->in_name(i)) == port.name) return i;
    return -1;
}

}  // namespace

void number_repeated_names(std::vector<std::string>& names) {
    const std::vector<std::string> given = names;
    auto taken = [&](const std::string& name) {
        return std::find(given.begin(), given.end(), name) != given.end() ||
               std::find(names.begin(), names.end(), name) != names.end();
    };
    for (size_t i = 1; i < given.size(); ++i) {
        auto same = std::count(given.begin(), given.begin() + static_cast<ptrdiff_t>(i), given[i]);
        if (same == 0) continue;
        // A number no other port shows, so that every name in the list names one port.
        while (taken(given[i] + " (" + std::to_string(same + 1) + ")")) ++same;
        names[i] = given[i] + " (" + std::to_string(same + 1) + ")";
    }
}

std::vector<MidiPort> midi_outputs(MidiService& service) {
    return list_ports(service, true);
}
std::vector<MidiPort> midi_inputs(MidiService& service) {
    return list_ports(service, false);
}

int midi_out_count(MidiService& service) {
    int total = 0;
    for (MidiBackend* backend : service.backends) total += backend->out_count();
    return total;
}
int midi_in_count(MidiService& service) {
    int total = 0;
    for (MidiBackend* backend : service.backends) total += backend->in_count();
    return total;
}
std::string midi_out_name(MidiService& service, int index) {
    return port_at(service, true, index).name;
}
std::string midi_in_name(MidiService& service, int index) {
    return port_at(service, false, index).name;
}
MidiPort midi_output_at(MidiService& service, int index) {
    return port_at(service, true, index);
}
MidiPort midi_input_at(MidiService& service, int index) {
    return port_at(service, false, index);
}

std::string midi_open_error_text(MidiService& service) {
    std::lock_guard lock(service.mutex);
    return service.open_error;
}

// Output.

std::optional<MidiError> open_output(MidiService& service, const MidiPort& port,
                                     MidiOutput*& output) {
    output = nullptr;
    {
        // The port whose connection is kept opens again without a look at the ports: the
        // program opens the output afresh before every short reply.
        std::lock_guard service_lock(service.mutex);
        service.open_error.clear();
        for (auto& known : service.outs) {
            if (known->port_ != port) continue;
            std::lock_guard lock(known->mutex_);
            if (known->open_) return MidiError{MidiErrorKind::busy, {}};
            if (!known->connection_) break;
            known->open_ = true;
            output = known.get();
            return std::nullopt;
        }
    }
    const int local = local_index(port, true);
    if (local < 0) return MidiError{MidiErrorKind::no_port, {}};
    std::lock_guard service_lock(service.mutex);
    MidiOutput* out = nullptr;
    for (auto& known : service.outs) {
        if (known->port_ == port) {
            out = known.get();
            continue;
        }
        // Another port is wanted: a closed one gives up its connection.
        std::lock_guard lock(known->mutex_);
        if (!known->open_) known->connection_.reset();
    }
    if (!out) {
        service.outs.push_back(std::make_unique<MidiOutput>());
        out = service.outs.back().get();
        out->service_ = &service;
        out->port_ = port;
    }
    std::lock_guard lock(out->mutex_);
    if (out->open_) return MidiError{MidiErrorKind::busy, {}};
    if (!out->connection_) {
        std::string error;
        out->connection_ = port.backend->open_out(local, error);
        if (!out->connection_) {
            service.open_error = error;
            return MidiError{MidiErrorKind::refused, error};
        }
        out->clock_ = WireClock{};
    }
    out->open_ = true;
    output = out;
    return std::nullopt;
}

MidiSent MidiOutput::send(const uint8_t* data, size_t length) {
    MidiSent sent;
    if (!data || length == 0) {
        sent.error = MidiError{MidiErrorKind::too_long, {}};
        return sent;
    }
    std::lock_guard lock(mutex_);
    // A closed output whose connection is still kept writes on: the program closes and opens the
    // output for every short reply, possibly while the send is between two messages.
    if (!connection_) {
        sent.error = MidiError{MidiErrorKind::not_open, {}};
        return sent;
    }
    WireClock next = clock_;
    const Clock::time_point leaves =
        next.schedule(length, service_->pacing.speed(), service_->pacing.enabled.load());
    sent.error = connection_->write(data, length, leaves);
    if (!sent.ok()) return sent;
    clock_ = next;
    sent.leaves_wire = leaves;
    sent.reset_count = reset_count_;
    return sent;
}

bool MidiOutput::left_cable(const MidiSent& sent) {
    if (!sent.ok()) return true;
    std::lock_guard lock(mutex_);
    return sent.reset_count != reset_count_ || Clock::now() >= sent.leaves_wire;
}

void MidiOutput::reset() {
    std::lock_guard lock(mutex_);
    if (!connection_) return;
    ++reset_count_;
    clock_.free_at = Clock::now();
    connection_->reset();
}

void MidiOutput::close() {
    std::lock_guard lock(mutex_);
    open_ = false;
}

// Input.

MidiInSink::MidiInSink(MidiInput& in, EngineThread& engine) : in_(in), engine_(engine) {}

MidiInSink::~MidiInSink() {
    stop_delivery();
}

void MidiInSink::push(const uint8_t* bytes, size_t count) noexcept {
    const uint64_t head = head_.load(std::memory_order_relaxed);
    const uint64_t tail = tail_.load(std::memory_order_acquire);
    const size_t room = ring_size - (head - tail);
    const size_t taken = std::min(count, room);
    const size_t start = head & (ring_size - 1);
    const size_t first = std::min(taken, ring_size - start);
    std::memcpy(&ring_[start], bytes, first);
    std::memcpy(&ring_[0], bytes + first, taken - first);
    head_.store(head + taken, std::memory_order_release);
    if (taken < count) overflowed_bytes_.fetch_add(count - taken, std::memory_order_release);
    engine_.wake();
}

void MidiInSink::mark_lost() noexcept {
    overflowed_bytes_.fetch_add(1, std::memory_order_release);
    engine_.wake();
}

void MidiInSink::start_delivery() {
    // Made here, before the backend may push, since push() must not allocate; an input that is
    // never delivered from (one fed by hand) does without.
    if (!ring_) ring_.reset(new uint8_t[ring_size]);
    engine_.attach(*this);
}

void MidiInSink::stop_delivery() {
    engine_.detach(*this);
}

void MidiInSink::discard_pending() {
    tail_.store(head_.load(std::memory_order_acquire), std::memory_order_release);
}

bool MidiInSink::drained() const {
    return head_.load(std::memory_order_acquire) == tail_.load(std::memory_order_acquire);
}

void MidiInSink::deliver_pending() {
    if (delivering_) return;
    delivering_ = true;
    for (;;) {
        const uint64_t lost_now = overflowed_bytes_.load(std::memory_order_acquire);
        const uint64_t lost = lost_now - lost_told_;
        lost_told_ = lost_now;
        const uint64_t head = head_.load(std::memory_order_acquire);
        const uint64_t tail = tail_.load(std::memory_order_relaxed);
        if (head == tail && lost == 0) break;
        const size_t start = tail & (ring_size - 1);
        const size_t count = std::min<uint64_t>(head - tail, ring_size - start);
        in_.take(ring_.get() + start, count, lost);
        tail_.store(tail + count, std::memory_order_release);
    }
    delivering_ = false;
}

MidiInput::MidiInput(MidiConsumer* consumer, EngineThread& engine)
    : sink(*this, engine), consumer_(consumer) {}

MidiInput::~MidiInput() {
    stop();
    sink.stop_delivery();
    finish();
    connection.reset();
}

std::optional<MidiError> MidiInput::start() {
    std::lock_guard lock(mutex_);
    if (started_) return std::nullopt;
    if (auto error = connection->start()) return error;
    started_ = true;
    return std::nullopt;
}

void MidiInput::stop() {
    bool was_started = false;
    {
        std::lock_guard lock(mutex_);
        was_started = started_;
        started_ = false;
    }
    if (was_started) connection->stop();
}

void MidiInput::take(const uint8_t* bytes, size_t count, uint64_t lost) {
    // Pieces go to the consumer in batches, so that a consumer that locks does so once a batch.
    constexpr size_t batch_size = 256;
    SysexPiece batch[batch_size];
    size_t n = 0;
    const auto hand_over = [&] {
        if (n > 0 && consumer_) consumer_->take(std::span<const SysexPiece>(batch, n));
        n = 0;
    };
    if (lost > 0) batch[n++] = {SysexPiece::lost, nullptr, static_cast<size_t>(lost)};
    uint64_t sysex = 0;
    framer_.feed(bytes, count);
    while (framer_.next(batch[n])) {
        sysex += batch[n].size;
        if (++n == batch_size) hand_over();
    }
    sysex_bytes_.fetch_add(sysex, std::memory_order_relaxed);
    hand_over();
}

void MidiInput::finish() {
    if (finished_) return;
    finished_ = true;
    if (framer_.in_message()) {
        framer_.reset();
        const SysexPiece cut{SysexPiece::cut, nullptr, 0};
        if (consumer_) consumer_->take(std::span<const SysexPiece>(&cut, 1));
    }
    if (consumer_) consumer_->closed();
}

std::optional<MidiError> open_input(MidiService& service, const MidiPort& port,
                                    MidiConsumer* consumer, std::unique_ptr<MidiInput>& input) {
    input.reset();
    {
        std::lock_guard lock(service.mutex);
        service.open_error.clear();
    }
    const int local = local_index(port, false);
    if (local < 0) return MidiError{MidiErrorKind::no_port, {}};
    auto in = std::make_unique<MidiInput>(consumer, service.engine);
    std::string error;
    in->connection = port.backend->open_in(local, in->sink, error);
    if (!in->connection) {
        std::lock_guard lock(service.mutex);
        service.open_error = error;
        return MidiError{MidiErrorKind::refused, error};
    }
    in->sink.start_delivery();
    input = std::move(in);
    return std::nullopt;
}

}  // namespace jx
