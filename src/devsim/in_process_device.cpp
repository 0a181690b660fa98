#include "devsim/in_process_device.h"

namespace jx {

InProcessDevice::InProcessDevice(MidiLoopback& loopback, DeviceConfig config)
    : loopback_(loopback), device_(*this, config) {
    loopback_.attach(this);
}

InProcessDevice::~InProcessDevice() {
    loopback_.attach(nullptr);
}

void InProcessDevice::receive(const uint8_t* data, size_t length) {
    device_.receive(data, length);
}

void InProcessDevice::send(const uint8_t* data, size_t length, std::chrono::milliseconds delay) {
    loopback_.device_send(data, length, delay);
}

void InProcessDevice::set_speed(int32_t turbo_speed) {
    loopback_.set_device_speed(turbo_speed);
}

void InProcessDevice::unplug() {
    loopback_.set_unplugged(true);
}

}  // namespace jx
