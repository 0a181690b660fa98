#pragma once
// The virtual loopback: one output and one input port, both called "Virtual device", whose far
// end is a device the program wires in at start-up (the virtual device). The loopback plays the
// cable in both directions: a message the program sends reaches the device when its last byte
// has left the cable at the program's speed; what the device sends reaches the program's input
// after its wire time at the device's speed. With the service's pacing off both arrive at once,
// still from the loopback's own thread.
#include <chrono>
#include <cstdint>
#include <mutex>

#include "platform/midi/midi.h"
#include "platform/midi/timed_queue.h"

namespace jx {

constexpr const char* virtual_device_name = "Virtual device";

// The far end of the cable.
class LoopbackPeer {
  public:
    virtual ~LoopbackPeer() = default;
    // One whole message from the program, as it leaves the cable; on the loopback's thread.
    virtual void receive(const uint8_t* data, size_t length) = 0;
};

class MidiLoopback : public MidiBackend {
  public:
    explicit MidiLoopback(const WirePacing& pacing);
    ~MidiLoopback() override;

    // The device at the far end; nullptr detaches it. Not while messages are on their way.
    void attach(LoopbackPeer* peer);

    // The device's side of the cable.
    // Sends bytes to the program's input, leaving no earlier than `delay` from now.
    void device_send(const uint8_t* data, size_t length,
                     std::chrono::milliseconds delay = std::chrono::milliseconds(0));
    // The device's speed (Turbo speed times ten) for what it sends from now on.
    void set_device_speed(int32_t turbo_speed);
    // The cable pulled (true) or put back: while pulled the program's messages fail with a port
    // error and nothing reaches either side.
    void set_unplugged(bool unplugged);
    bool unplugged() const;
    // True when nothing is on its way in either direction.
    bool idle() const;
    // Sleeps until idle() or the deadline; true when idle.
    bool wait_idle(std::chrono::steady_clock::time_point deadline);

    int out_count() override { return 1; }
    std::string out_name(int index) override;
    int in_count() override { return 1; }
    std::string in_name(int index) override;
    std::unique_ptr<MidiOutConnection> open_out(int index, std::string& error) override;
    std::unique_ptr<MidiInConnection> open_in(int index, MidiInSink& sink,
                                              std::string& error) override;

    // Used by the connections.
    std::optional<MidiError> host_write(const uint8_t* data, size_t length,
                                        std::chrono::steady_clock::time_point arrives);
    void set_host_sink(MidiInSink* sink);
    void drop_host_messages();

  private:
    // The two ways of the cable, as lanes of one queue: the messages of both come out in the
    // order they are due.
    enum Lane { to_device = 0, to_host = 1 };
    void deliver(TimedQueue::Message& message);

    const WirePacing& pacing_;
    mutable std::mutex mutex_;
    LoopbackPeer* peer_ = nullptr;  // changed only between messages
    MidiInSink* host_sink_ = nullptr;
    std::mutex sink_mutex_;  // held while handing bytes to the sink, so that stop() can wait
    WireClock device_clock_;
    int32_t device_speed_ = 10;
    bool unplugged_ = false;
    TimedQueue queue_;  // last: its thread ends before the members above go
};

}  // namespace jx
