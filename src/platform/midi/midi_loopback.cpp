#include "platform/midi/midi_loopback.h"

namespace jx {

using Clock = std::chrono::steady_clock;

namespace {

class LoopbackOut : public MidiOutConnection {
  public:
    explicit LoopbackOut(MidiLoopback& loopback) : loopback_(loopback) {}
    int write(const uint8_t* data, size_t length, Clock::time_point leaves_wire,
              std::string& error) override {
        return loopback_.host_write(data, length, leaves_wire, error);
    }
    void reset() override { loopback_.drop_host_messages(); }

  private:
    MidiLoopback& loopback_;
};

class LoopbackIn : public MidiInConnection {
  public:
    LoopbackIn(MidiLoopback& loopback, MidiInSink& sink) : loopback_(loopback), sink_(sink) {}
    ~LoopbackIn() override { stop(); }
    int start(std::string&) override {
        loopback_.set_host_sink(&sink_);
        return midi_ok;
    }
    void stop() override { loopback_.set_host_sink(nullptr); }

  private:
    MidiLoopback& loopback_;
    MidiInSink& sink_;
};

}  // namespace

MidiLoopback::MidiLoopback(const WirePacing& pacing) : pacing_(pacing) {
    thread_ = std::thread([this] {
        use_precise_timed_waits();
        run();
    });
}

MidiLoopback::~MidiLoopback() {
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void MidiLoopback::attach(LoopbackPeer* peer) {
    // A device being detached may be in the middle of taking a message: wait for that.
    std::unique_lock lock(mutex_);
    wake_.wait(lock, [this] { return !busy_; });
    peer_ = peer;
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

int MidiLoopback::host_write(const uint8_t* data, size_t length, Clock::time_point arrives,
                             std::string& error) {
    {
        std::lock_guard lock(mutex_);
        if (unplugged_) {
            error = "Virtual device: the MIDI cable is unplugged.";
            return midi_error;
        }
        to_device_.push_back(Message{arrives, std::vector<uint8_t>(data, data + length)});
    }
    wake_.notify_all();
    return midi_ok;
}

void MidiLoopback::device_send(const uint8_t* data, size_t length,
                               std::chrono::milliseconds delay) {
    {
        std::lock_guard lock(mutex_);
        if (unplugged_) return;
        const bool paced = pacing_.enabled.load();
        // The message starts no earlier than the delay; then it takes its wire time.
        const Clock::time_point start = Clock::now() + delay;
        if (device_clock_.free_at < start) device_clock_.free_at = start;
        const Clock::time_point arrives =
            paced ? device_clock_.schedule(length, device_speed_, true) : start;
        to_host_.push_back(Message{arrives, std::vector<uint8_t>(data, data + length)});
    }
    wake_.notify_all();
}

void MidiLoopback::set_device_speed(int32_t turbo_speed) {
    std::lock_guard lock(mutex_);
    device_speed_ = turbo_speed;
}

void MidiLoopback::set_unplugged(bool unplugged) {
    {
        std::lock_guard lock(mutex_);
        unplugged_ = unplugged;
        if (unplugged) {
            to_device_.clear();
            to_host_.clear();
        }
    }
    wake_.notify_all();
}

bool MidiLoopback::unplugged() const {
    std::lock_guard lock(mutex_);
    return unplugged_;
}

bool MidiLoopback::idle() const {
    std::lock_guard lock(mutex_);
    return to_device_.empty() && to_host_.empty() && !busy_;
}

bool MidiLoopback::wait_idle(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock lock(mutex_);
    // The cable's thread notifies after every message it hands over.
    return wake_.wait_until(lock, deadline,
                            [this] { return to_device_.empty() && to_host_.empty() && !busy_; });
}

void MidiLoopback::set_host_sink(MidiInSink* sink) {
    std::lock_guard lock(sink_mutex_);
    host_sink_ = sink;
}

void MidiLoopback::drop_host_messages() {
    std::lock_guard lock(mutex_);
    to_device_.clear();
}

void MidiLoopback::run() {
    std::unique_lock lock(mutex_);
    while (!quit_) {
        // The earlier of the two directions' next messages.
        std::deque<Message>* next = nullptr;
        if (!to_device_.empty()) next = &to_device_;
        if (!to_host_.empty() && (!next || to_host_.front().arrives < next->front().arrives))
            next = &to_host_;
        if (!next) {
            wake_.wait(lock);
            continue;
        }
        if (Clock::now() < next->front().arrives) {
            wake_.wait_until(lock, next->front().arrives);
            continue;
        }
        Message message = std::move(next->front());
        next->pop_front();
        busy_ = true;
        LoopbackPeer* peer = peer_;
        const bool to_device = next == &to_device_;
        lock.unlock();
        if (to_device) {
            if (peer) peer->receive(message.bytes.data(), message.bytes.size());
        } else {
            std::lock_guard sink_lock(sink_mutex_);
            if (host_sink_) host_sink_->push(message.bytes.data(), message.bytes.size());
        }
        lock.lock();
        busy_ = false;
        wake_.notify_all();
    }
}

}  // namespace jx
