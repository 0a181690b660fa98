#pragma once
// The virtual device inside this process, at the far end of the loopback's "Virtual device"
// ports. The program (or a test) makes one and attaches it to the loopback at start-up.
#include "devsim/virtual_device.h"
#include "platform/midi_loopback.h"

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

  private:
    MidiLoopback& loopback_;
    VirtualDevice device_;
};

}  // namespace jx
