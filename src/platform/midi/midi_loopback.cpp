#include "platform/midi/midi_loopback.h"

namespace jx {

using Clock = std::chrono::steady_clock;

namespace {

class LoopbackOut : public MidiOutConnection {
  public:
    explicit LoopbackOut(MidiLoopback& loopback) : loopback_(loopback) {}
    std::optional<MidiError> write(const uint8_t* data, size_t length,
                                   Clock::time_point leaves_wire) override {
        return loopback_.host_write(data, length, leaves_wire);
    }
    void reset() override { loopback_.drop_host_messages(); }

  private:
    MidiLoopback& loopback_;
};

class LoopbackIn : public MidiInConnection {
  public:
    LoopbackIn(MidiLoopback& loopback, MidiInSink& sink) : loopback_(loopback), sink_(sink) {}
    ~LoopbackIn() override { stop(); }
    std::optional<MidiError> start() override {
        loopback_.set_host_sink(&sink_);
        return std::nullopt;
    }
    void stop() override { loopback_.set_host_sink(nullptr); }

  private:
    MidiLoopback& loopback_;
    MidiInSink& sink_;
};

}  // namespace

MidiLoopback::MidiLoopback(const WirePacing& pacing)
    : pacing_(pacing), queue_([this](TimedQueue::Message& message) { deliver(message); }) {}

MidiLoopback::~MidiLoopback() = default;

void MidiLoopback::attach(LoopbackPeer* peer) {
    // A device being detached may be in the middle of taking a message: wait for that.
    queue_.between_messages([&] { peer_ = peer; });
}

std::string MidiLoopback::out_name(int index) {
    return index == 0 ? virtual_device_name : std::string();
}

std::string MidiLoopback::in_name(int index) {
    return index == 0 ? virtual_device_name : std::string();
}

std::unique_ptr<MidiOutConnection> MidiLoopback::open_out(int index, std::string& error) {
    if (index != 0) {
        error = "No such virtual port.";
        return nullptr;
    }
    return std::make_unique<LoopbackOut>(*this);
}

std::unique_ptr<MidiInConnection> MidiLoopback::open_in(int index, MidiInSink& sink,
                                                        std::string& error) {
    if (index != 0) {
        error = "No such virtual port.";
        return nullptr;
    }
    return std::make_unique<LoopbackIn>(*this, sink);
}

std::optional<MidiError> MidiLoopback::host_write(const uint8_t* data, size_t length,
                                                  Clock::time_point arrives) {
    std::lock_guard lock(mutex_);
    if (unplugged_)
        return MidiError{MidiErrorKind::gone, "Virtual device: the MIDI cable is unplugged."};
    queue_.push(arrives, data, length, to_device);
    return std::nullopt;
}

void MidiLoopback::device_send(const uint8_t* data, size_t length,
                               std::chrono::milliseconds delay) {
    std::lock_guard lock(mutex_);
    if (unplugged_) return;
    const bool paced = pacing_.enabled.load();
    // The message starts no earlier than the delay, and not before the one sent before it; then
    // it takes its wire time.
    const Clock::time_point start = Clock::now() + delay;
    if (device_clock_.free_at < start) device_clock_.free_at = start;
    const Clock::time_point arrives =
        paced ? device_clock_.schedule(length, device_speed_, true) : device_clock_.free_at;
    queue_.push(arrives, data, length, to_host);
}

void MidiLoopback::set_device_speed(int32_t turbo_speed) {
    std::lock_guard lock(mutex_);
    device_speed_ = turbo_speed;
}

void MidiLoopback::set_unplugged(bool unplugged) {
    std::lock_guard lock(mutex_);
    unplugged_ = unplugged;
    if (unplugged) queue_.drop_all();
}

bool MidiLoopback::unplugged() const {
    std::lock_guard lock(mutex_);
    return unplugged_;
}

bool MidiLoopback::idle() const {
    return queue_.idle();
}

bool MidiLoopback::wait_idle(std::chrono::steady_clock::time_point deadline) {
    return queue_.wait_idle(deadline);
}

void MidiLoopback::set_host_sink(MidiInSink* sink) {
    std::lock_guard lock(sink_mutex_);
    host_sink_ = sink;
}

void MidiLoopback::drop_host_messages() {
    queue_.drop(to_device);
}

void MidiLoopback::deliver(TimedQueue::Message& message) {
    if (message.lane == to_device) {
        if (peer_) peer_->receive(message.bytes.data(), message.bytes.size());
    } else {
        std::lock_guard sink_lock(sink_mutex_);
        if (host_sink_) host_sink_->push(message.bytes.data(), message.bytes.size());
    }
}

}  // namespace jx
