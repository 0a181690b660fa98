#include "devsim/in_process_device.h"

#include <algorithm>

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
    {
        std::lock_guard lock(clock_mutex_);
        const auto start = std::chrono::steady_clock::now() + delay;
        if (clock_.free_at < start) clock_.free_at = start;
        clock_.schedule(length, speed_, true);
    }
    loopback_.device_send(data, length, delay);
}

void InProcessDevice::set_speed(int32_t turbo_speed) {
    {
        std::lock_guard lock(clock_mutex_);
        speed_ = turbo_speed;
    }
    loopback_.set_device_speed(turbo_speed);
}

std::chrono::steady_clock::time_point InProcessDevice::all_sent_at() {
    std::lock_guard lock(clock_mutex_);
    return std::max(clock_.free_at, std::chrono::steady_clock::now());
}

void InProcessDevice::unplug() {
    loopback_.set_unplugged(true);
}

}  // namespace jx
