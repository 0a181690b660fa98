#pragma once
// The virtual device inside this process, at the far end of the loopback's "Virtual device"
// ports. The program (or a test) makes one and attaches it to the loopback at start-up.
#include <mutex>

#include "devsim/virtual_device.h"
#include "platform/midi/midi_loopback.h"

namespace jx {

class InProcessDevice : public LoopbackPeer, public DeviceLink {
  public:
    explicit InProcessDevice(MidiLoopback& loopback, DeviceConfig config = {});
    ~InProcessDevice() override;
    InProcessDevice(const InProcessDevice&) = delete;
    InProcessDevice& operator=(const InProcessDevice&) = delete;

    VirtualDevice& device() { return device_; }

    void receive(const uint8_t* data, size_t length) override;
    void send(const uint8_t* data, size_t length, std::chrono::milliseconds delay) override;
    void set_speed(int32_t turbo_speed) override;
    void unplug() override;
    std::chrono::steady_clock::time_point all_sent_at() override;

  private:
    MidiLoopback& loopback_;
    // The loopback's wire time for what the device sends, kept the same way it keeps it; taken
    // as paced, so a message is never thought gone before it is.
    std::mutex clock_mutex_;
    WireClock clock_;
    int32_t speed_ = 10;
    VirtualDevice device_;  // last: its sender thread ends before the members above go
};

}  // namespace jx
