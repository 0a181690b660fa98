#pragma once
// Another program at the JACK server, written on libjack alone so that it shares no code with the
// backend under test: a client with one MIDI port, "in" collecting every byte that arrives or
// "out" sending the events it is given, each whole in one cycle.
#include <jack/jack.h>
#include <jack/midiport.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace jx::test {

class JackPeer {
  public:
    using Bytes = std::vector<uint8_t>;

    JackPeer(const std::string& name, bool output) : output_(output) {
        jack_status_t status;
        client_ = jack_client_open(name.c_str(), JackNoStartServer, &status);
        if (!client_) return;
        port_ = jack_port_register(client_, output ? "out" : "in", JACK_DEFAULT_MIDI_TYPE,
                                   output ? JackPortIsOutput : JackPortIsInput, 0);
        jack_set_process_callback(client_, &JackPeer::process, this);
        if (!port_ || jack_activate(client_) != 0) {
            jack_client_close(client_);
            client_ = nullptr;
        }
    }
    ~JackPeer() {
        if (client_) jack_client_close(client_);
    }
    JackPeer(const JackPeer&) = delete;
    JackPeer& operator=(const JackPeer&) = delete;

    bool ok() const { return client_ != nullptr; }
    std::string port_name() const { return jack_port_name(port_); }

    // Connects the port with the first port of the other direction whose name holds `part`.
    bool connect(const std::string& part) {
        const char** ports = jack_get_ports(client_, nullptr, JACK_DEFAULT_MIDI_TYPE,
                                            output_ ? JackPortIsInput : JackPortIsOutput);
        bool done = false;
        for (size_t i = 0; ports && ports[i] && !done; ++i) {
            const std::string other = ports[i];
            if (other.find(part) == std::string::npos) continue;
            done = output_ ? jack_connect(client_, port_name().c_str(), ports[i]) == 0
                           : jack_connect(client_, ports[i], port_name().c_str()) == 0;
        }
        if (ports) jack_free(ports);
        return done;
    }
    // True once some port connects to ours (another program opened it).
    bool wait_connected(std::chrono::milliseconds limit) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, limit, [&] { return connected_; });
    }

    // Output: sends `event` as one event in a cycle soon, after the ones given before it.
    void send(const Bytes& event) {
        std::lock_guard lock(mutex_);
        pending_.push_back(event);
    }
    // True once every event given has been written to the server.
    bool wait_sent(std::chrono::milliseconds limit) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, limit, [&] { return pending_.empty(); });
    }

    // Input: true once at least `count` bytes have arrived.
    bool wait_for(size_t count, std::chrono::milliseconds limit) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, limit, [&] { return bytes_.size() >= count; });
    }
    Bytes bytes() {
        std::lock_guard lock(mutex_);
        return bytes_;
    }

  private:
    // A test's peer: the lock is held for a copy only, which the server's cycle can afford.
    static int process(jack_nframes_t frames, void* self) {
        auto& peer = *static_cast<JackPeer*>(self);
        void* buffer = jack_port_get_buffer(peer.port_, frames);
        {
            std::lock_guard lock(peer.mutex_);
            peer.connected_ = peer.connected_ || jack_port_connected(peer.port_) > 0;
            if (peer.output_) {
                jack_midi_clear_buffer(buffer);
                if (!peer.pending_.empty() &&
                    jack_midi_event_write(buffer, 0, peer.pending_.front().data(),
                                          peer.pending_.front().size()) == 0)
                    peer.pending_.pop_front();
            } else {
                const uint32_t count = jack_midi_get_event_count(buffer);
                for (uint32_t i = 0; i < count; ++i) {
                    jack_midi_event_t event;
                    if (jack_midi_event_get(&event, buffer, i) == 0)
                        peer.bytes_.insert(peer.bytes_.end(), event.buffer,
                                           event.buffer + event.size);
                }
            }
        }
        peer.changed_.notify_all();
        return 0;
    }

    const bool output_;
    jack_client_t* client_ = nullptr;
    jack_port_t* port_ = nullptr;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool connected_ = false;
    std::deque<Bytes> pending_;
    Bytes bytes_;
};

}  // namespace jx::test
