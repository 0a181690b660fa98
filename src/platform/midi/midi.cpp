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

// One output device of the service. The connection is kept while the handle is closed, so that
// reopening the same device costs nothing; it is dropped when another device is opened.
class MidiOut {
  public:
    MidiService* service = nullptr;
    int index = -1;
    std::mutex mutex;  // one writer on the wire at a time
    std::unique_ptr<MidiOutConnection> connection;
    bool open = false;
    WireClock clock;
    uint64_t reset_count = 0;
    std::string error;
};

MidiService::MidiService() = default;
MidiService::~MidiService() = default;

namespace {

// The backend that lists the port `index` of the service's list, and its index there.
MidiBackend* find_backend(MidiService& service, int index, bool output, int& local) {
    if (index < 0) return nullptr;
    int base = 0;
    for (MidiBackend* backend : service.backends) {
        const int count = output ? backend->out_count() : backend->in_count();
        if (index < base + count) {
            local = index - base;
            return backend;
        }
        base += count;
    }
    return nullptr;
}

int count_ports(MidiService& service, bool output) {
    int total = 0;
    for (MidiBackend* backend : service.backends)
        total += output ? backend->out_count() : backend->in_count();
    return total;
}

std::string error_text(int result, const std::string& backend_text, size_t max_length) {
    std::string text;
    switch (result) {
        case midi_ok:
            text = "No error.";
            break;
        case midi_error:
            text = backend_text.empty() ? "The MIDI port failed." : backend_text;
            break;
        case midi_bad_device:
            text = "There is no MIDI port with this number.";
            break;
        case midi_invalid_handle:
            text = "The MIDI port is not open.";
            break;
        case midi_no_memory:
            text = "Not enough memory for the MIDI port.";
            break;
        case midi_invalid_param:
            text = "The message is empty or too long for the port.";
            break;
        case midi_unprepared:
            text = "The message buffer was not prepared.";
            break;
        case midi_still_playing:
            text = "The message is still being sent.";
            break;
        case midi_not_ready:
            text = "The MIDI port is busy.";
            break;
        default:
            text = "Unknown MIDI error " + std::to_string(result) + ".";
            break;
    }
    if (max_length == 0) return {};
    if (text.size() > max_length - 1) text.resize(max_length - 1);
    return text;
}

// The text of a result from an input or output handle, with the backend's own text it kept.
template <typename Handle>
std::string handle_error_text(Handle* handle, int result, size_t max_length) {
    std::string backend_text;
    if (handle) {
        std::lock_guard lock(handle->mutex);
        backend_text = handle->error;
    }
    return error_text(result, backend_text, max_length);
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

int midi_out_count(MidiService& service) {
    return count_ports(service, true);
}
int midi_in_count(MidiService& service) {
    return count_ports(service, false);
}

std::string midi_out_name(MidiService& service, int index) {
    int local = 0;
    MidiBackend* backend = find_backend(service, index, true, local);
    return backend ? backend->out_name(local) : std::string();
}

std::string midi_in_name(MidiService& service, int index) {
    int local = 0;
    MidiBackend* backend = find_backend(service, index, false, local);
    return backend ? backend->in_name(local) : std::string();
}

int midi_out_open(MidiService& service, int index, MidiOut*& handle) {
    handle = nullptr;
    {
        // The device whose connection is kept opens again without a look at the ports: the
        // program reopens the output before every short reply.
        std::lock_guard service_lock(service.mutex);
        service.open_error.clear();
        for (auto& known : service.outs) {
            if (known->index != index) continue;
            std::lock_guard lock(known->mutex);
            if (known->open) return midi_not_ready;
            if (!known->connection) break;
            known->open = true;
            handle = known.get();
            return midi_ok;
        }
    }
    int local = 0;
    MidiBackend* backend = find_backend(service, index, true, local);
    if (!backend) return midi_bad_device;
    std::lock_guard service_lock(service.mutex);
    MidiOut* out = nullptr;
    for (auto& known : service.outs) {
        if (known->index == index) {
            out = known.get();
            continue;
        }
        // Another device is wanted: a closed one gives up its connection.
        std::lock_guard lock(known->mutex);
        if (!known->open) known->connection.reset();
    }
    if (!out) {
        service.outs.push_back(std::make_unique<MidiOut>());
        out = service.outs.back().get();
        out->service = &service;
        out->index = index;
    }
    std::lock_guard lock(out->mutex);
    if (out->open) return midi_not_ready;
    if (!out->connection) {
        std::string error;
        out->connection = backend->open_out(local, error);
        if (!out->connection) {
            out->error = error;
            service.open_error = error;
            return midi_error;
        }
        out->clock = WireClock{};
    }
    out->open = true;
    handle = out;
    return midi_ok;
}

int midi_out_close(MidiOut* handle) {
    if (!handle) return midi_invalid_handle;
    std::lock_guard lock(handle->mutex);
    if (!handle->open) return midi_invalid_handle;
    handle->open = false;
    return midi_ok;
}

int midi_out_reset(MidiOut* handle) {
    if (!handle) return midi_invalid_handle;
    std::lock_guard lock(handle->mutex);
    if (!handle->connection) return midi_invalid_handle;
    ++handle->reset_count;
    handle->clock.free_at = Clock::now();
    handle->connection->reset();
    return midi_ok;
}

int midi_out_prepare_header(MidiOut* handle, MidiHeader& header) {
    if (!handle) return midi_invalid_handle;
    if (!header.data) return midi_invalid_param;
    header.flags = midi_header_prepared;
    return midi_ok;
}

int midi_out_long_msg(MidiOut* handle, MidiHeader& header) {
    if (!handle) return midi_invalid_handle;
    if (!(header.flags & midi_header_prepared)) return midi_unprepared;
    if (!header.data || header.length == 0) return midi_invalid_param;
    std::lock_guard lock(handle->mutex);
    // A closed handle whose connection is still kept writes on: the program closes and reopens
    // the output for every short reply, possibly while the send thread is between two calls.
    if (!handle->connection) return midi_invalid_handle;
    std::string error;
    const int32_t speed = handle->service->pacing.speed();
    const bool paced = handle->service->pacing.enabled.load();
    WireClock next = handle->clock;
    const Clock::time_point leaves = next.schedule(header.length, speed, paced);
    const int result = handle->connection->write(header.data, header.length, leaves, error);
    if (result != midi_ok) {
        handle->error = error;
        return result;
    }
    handle->clock = next;
    header.leaves_wire = leaves;
    header.reset_count = handle->reset_count;
    header.flags = (header.flags | midi_header_in_queue) & ~midi_header_done;
    return midi_ok;
}

Clock::time_point midi_out_release_time(MidiOut* handle, const MidiHeader& header) {
    if (!handle || !(header.flags & midi_header_in_queue)) return Clock::time_point{};
    std::lock_guard lock(handle->mutex);
    if (header.reset_count != handle->reset_count) return Clock::time_point{};
    return header.leaves_wire;
}

int midi_out_unprepare_header(MidiOut* handle, MidiHeader& header) {
    if (!handle) return midi_invalid_handle;
    if (!(header.flags & midi_header_prepared)) return midi_ok;
    if ((header.flags & midi_header_in_queue) &&
        Clock::now() < midi_out_release_time(handle, header))
        return midi_still_playing;
    header.flags = midi_header_done;
    return midi_ok;
}

std::string midi_out_error_text(MidiOut* handle, int result, size_t max_length) {
    return handle_error_text(handle, result, max_length);
}

// Input.

MidiInSink::MidiInSink(MidiIn& in, EngineThread& engine)
    : in_(in), engine_(engine), ring_(new uint8_t[ring_size]) {}

MidiInSink::~MidiInSink() {
    stop_delivery();
}

void MidiInSink::push(const uint8_t* bytes, size_t count) noexcept {
    const uint64_t head = head_.load(std::memory_order_relaxed);
    const uint64_t tail = tail_.load(std::memory_order_acquire);
    const size_t room = ring_size - (head - tail);
    const size_t taken = std::min(count, room);
    for (size_t i = 0; i < taken; ++i) ring_[(head + i) & (ring_size - 1)] = bytes[i];
    head_.store(head + taken, std::memory_order_release);
    if (taken < count) {
        overflowed_bytes_.fetch_add(count - taken, std::memory_order_relaxed);
        overflowed_.store(true, std::memory_order_release);
    }
    engine_.wake();
}

void MidiInSink::mark_lost() noexcept {
    overflowed_bytes_.fetch_add(1, std::memory_order_relaxed);
    overflowed_.store(true, std::memory_order_release);
    engine_.wake();
}

void MidiInSink::start_delivery() {
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
        if (overflowed_.exchange(false)) {
            std::lock_guard lock(in_.mutex);
            in_.lost_message = true;
        }
        const uint64_t head = head_.load(std::memory_order_acquire);
        const uint64_t tail = tail_.load(std::memory_order_relaxed);
        if (head == tail) break;
        const size_t start = tail & (ring_size - 1);
        const size_t count = std::min<uint64_t>(head - tail, ring_size - start);
        in_.take(&ring_[start], count);
        tail_.store(tail + count, std::memory_order_release);
    }
    delivering_ = false;
}

MidiIn::MidiIn(MidiInCallback callback_, void* instance_, EngineThread& engine)
    : callback(callback_), instance(instance_), sink(*this, engine) {}

MidiIn::~MidiIn() {
    connection.reset();
    sink.stop_delivery();
}

void MidiIn::return_front(MidiInMessage message, std::unique_lock<std::mutex>& lock) {
    MidiHeader* header = queue.front();
    queue.pop_front();
    header->flags = (header->flags | midi_header_done) & ~midi_header_in_queue;
    if (lost_message) {
        message = MidiInMessage::long_error;
        lost_message = false;
    }
    lock.unlock();
    callback(this, message, instance, header);
    lock.lock();
}

// Puts one message byte (F0, data, F7) in the front buffer, or counts it lost when no buffer is
// queued.
bool MidiIn::store(uint8_t byte) {
    if (queue.empty()) {
        lost_message = true;
        unbuffered_bytes.fetch_add(1, std::memory_order_relaxed);
        return false;
    }
    MidiHeader* front = queue.front();
    front->data[front->bytes_recorded++] = byte;
    return true;
}

void MidiIn::take(const uint8_t* bytes, size_t count) {
    std::unique_lock lock(mutex);
    uint64_t sysex = 0;
    auto front_has_bytes = [this] { return !queue.empty() && queue.front()->bytes_recorded > 0; };
    auto return_if_full = [&] {
        MidiHeader* front = queue.empty() ? nullptr : queue.front();
        if (front && front->bytes_recorded >= front->length)
            return_front(MidiInMessage::long_data, lock);
    };
    framer.feed(bytes, count);
    SysexPiece piece;
    while (framer.next(piece)) {
        switch (piece.kind) {
            case SysexPiece::start:
                ++sysex;
                if (store(sysex_start)) return_if_full();
                break;
            case SysexPiece::data:
                // The run is copied in pieces as buffers fill; a callback that resets the input
                // ends the message, and the rest of the run is no longer in one.
                for (size_t done = 0; done < piece.size && framer.in_message();) {
                    size_t n = piece.size - done;
                    if (queue.empty()) {
                        lost_message = true;
                        unbuffered_bytes.fetch_add(n, std::memory_order_relaxed);
                    } else {
                        MidiHeader* front = queue.front();
                        n = std::min<size_t>(n, front->length - front->bytes_recorded);
                        std::memcpy(front->data + front->bytes_recorded, piece.bytes + done, n);
                        front->bytes_recorded += static_cast<uint32_t>(n);
                    }
                    sysex += n;
                    done += n;
                    return_if_full();
                }
                break;
            case SysexPiece::end:
                ++sysex;
                if (store(sysex_end)) return_front(MidiInMessage::long_data, lock);
                break;
            case SysexPiece::cut:
                if (front_has_bytes()) return_front(MidiInMessage::long_error, lock);
                break;
        }
    }
    sysex_bytes.fetch_add(sysex, std::memory_order_relaxed);
}

namespace {

// Hands every queued buffer back to the callback, in queue order.
void return_all_buffers(MidiIn* handle) {
    std::unique_lock lock(handle->mutex);
    std::deque<MidiHeader*> returned;
    returned.swap(handle->queue);
    handle->framer.reset();
    handle->lost_message = false;
    lock.unlock();
    for (MidiHeader* header : returned) {
        header->flags = (header->flags | midi_header_done) & ~midi_header_in_queue;
        handle->callback(handle, MidiInMessage::long_data, handle->instance, header);
    }
}

void stop_connection(MidiIn* handle) {
    bool was_started = false;
    {
        std::lock_guard lock(handle->mutex);
        was_started = handle->started;
        handle->started = false;
    }
    if (was_started) handle->connection->stop();
}

}  // namespace

int midi_in_open(MidiService& service, int index, MidiInCallback callback, void* instance,
                 MidiIn*& handle) {
    handle = nullptr;
    {
        std::lock_guard lock(service.mutex);
        service.open_error.clear();
    }
    int local = 0;
    MidiBackend* backend = find_backend(service, index, false, local);
    if (!backend) return midi_bad_device;
    auto in = std::make_unique<MidiIn>(callback, instance, service.engine);
    std::string error;
    in->connection = backend->open_in(local, in->sink, error);
    if (!in->connection) {
        std::lock_guard lock(service.mutex);
        service.open_error = error;
        return midi_error;
    }
    in->sink.start_delivery();
    handle = in.release();
    if (callback) callback(handle, MidiInMessage::open, instance, nullptr);
    return midi_ok;
}

std::string midi_open_error_text(MidiService& service) {
    std::lock_guard lock(service.mutex);
    return service.open_error;
}

int midi_in_prepare_header(MidiIn* handle, MidiHeader& header) {
    if (!handle) return midi_invalid_handle;
    if (!header.data || header.length == 0) return midi_invalid_param;
    header.flags = midi_header_prepared;
    return midi_ok;
}

int midi_in_unprepare_header(MidiIn* handle, MidiHeader& header) {
    (void)handle;  // also after the handle was closed: the buffers outlive it
    if (header.flags & midi_header_in_queue) return midi_still_playing;
    header.flags &= ~midi_header_prepared;
    return midi_ok;
}

uint64_t midi_in_lost_bytes(MidiIn* handle) {
    if (!handle) return 0;
    return handle->sink.overflowed_bytes() + handle->unbuffered_bytes.load();
}

uint64_t midi_in_sysex_bytes(MidiIn* handle) {
    return handle ? handle->sysex_bytes.load(std::memory_order_relaxed) : 0;
}

int midi_in_add_buffer(MidiIn* handle, MidiHeader& header) {
    if (!handle) return midi_invalid_handle;
    if (!(header.flags & midi_header_prepared)) return midi_unprepared;
    if (header.flags & midi_header_in_queue) return midi_still_playing;
    std::lock_guard lock(handle->mutex);
    header.bytes_recorded = 0;
    header.flags = (header.flags | midi_header_in_queue) & ~midi_header_done;
    handle->queue.push_back(&header);
    return midi_ok;
}

int midi_in_start(MidiIn* handle) {
    if (!handle) return midi_invalid_handle;
    {
        std::lock_guard lock(handle->mutex);
        if (handle->started) return midi_ok;
    }
    std::string error;
    const int result = handle->connection->start(error);
    std::lock_guard lock(handle->mutex);
    if (result != midi_ok) {
        handle->error = error;
        return result;
    }
    handle->started = true;
    return midi_ok;
}

int midi_in_stop(MidiIn* handle) {
    if (!handle) return midi_invalid_handle;
    stop_connection(handle);
    // A buffer holding part of a message comes back with what it holds.
    std::unique_lock lock(handle->mutex);
    if (!handle->queue.empty() && handle->queue.front()->bytes_recorded > 0) {
        handle->framer.reset();
        handle->return_front(MidiInMessage::long_data, lock);
    }
    return midi_ok;
}

int midi_in_reset(MidiIn* handle) {
    if (!handle) return midi_invalid_handle;
    stop_connection(handle);
    // Bytes the backend handed over before it stopped are delivered first; then the queue empties.
    handle->sink.stop_delivery();
    handle->sink.discard_pending();
    return_all_buffers(handle);
    handle->sink.start_delivery();
    return midi_ok;
}

int midi_in_close(MidiIn* handle) {
    if (!handle) return midi_invalid_handle;
    stop_connection(handle);
    handle->sink.stop_delivery();
    handle->sink.discard_pending();
    return_all_buffers(handle);
    handle->connection.reset();
    if (handle->callback) handle->callback(handle, MidiInMessage::close, handle->instance, nullptr);
    delete handle;
    return midi_ok;
}

std::string midi_in_error_text(MidiIn* handle, int result, size_t max_length) {
    return handle_error_text(handle, result, max_length);
}

}  // namespace jx
