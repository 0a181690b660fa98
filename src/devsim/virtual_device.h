#pragma once
// The virtual device: a simulated instrument at the far end of the MIDI cable. It answers the
// Turbo query and request, takes SysEx messages and SDS dumps as a sampler does (ACK to a dump
// header, ACK or NAK per data packet) and keeps what it took. Faults can be asked for, so that
// every answer a real device may give can be tried. It knows nothing of ports: bytes come in
// through receive() and go out through a DeviceLink, in-process over the loopback or as the
// jx-device program over a MIDI server.
#include <array>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace jx {

// The device's side of the cable.
class DeviceLink {
  public:
    virtual ~DeviceLink() = default;
    // Sends one message, leaving no earlier than `delay` from now.
    virtual void send(const uint8_t* data, size_t length, std::chrono::milliseconds delay) = 0;
    // The speed (Turbo speed times ten) of what the device sends from now on.
    virtual void set_speed(int32_t turbo_speed) = 0;
    // The cable is pulled: nothing passes in either direction from now on.
    virtual void unplug() = 0;
};

// Faults on request. Packets are counted in the dump from 0 (the data packets the device has
// accepted before: a packet sent again keeps its count); the dump header counts as packet -1.
struct DeviceFaults {
    std::optional<int> nak_packet;  // NAK this packet (once, or every time with nak_always)
    bool nak_always = false;
    int nak_offset = 0;  // added to the number such a NAK carries: a NAK naming another packet
    std::optional<int> wait_packet;  // WAIT before answering this packet, then answer late
    std::chrono::milliseconds wait_time{200};
    std::optional<int> cancel_packet;           // CANCEL instead of answering this packet
    std::optional<int> silent_from;             // from this packet on, never answer
    std::optional<int> unplug_packet;           // pull the cable when this packet arrives
    bool other_channel = false;                 // answer on the channel above the dump's
    std::chrono::milliseconds answer_delay{0};  // a slow device: every answer this much later
};

struct DeviceConfig {
    uint8_t channel = 0;           // the SDS device number it takes dumps for
    int highest_speed_index = 11;  // the fastest Turbo speed it can run
    DeviceFaults faults;
};

// One sample dump as the device took it.
struct ReceivedSample {
    int32_t sample_number = 0;
    int32_t bits = 0;
    int32_t period = 0;  // nanoseconds (dump header)
    int32_t rate = 0;    // hertz (extended dump header, or from the period)
    int32_t length = 0;  // words
    int32_t loop_start = 0;
    int32_t loop_end = 0;
    int32_t loop_type = 0x7F;
    bool extended = false;
    std::string name;                              // from the sample name message
    std::optional<std::array<uint8_t, 4>> zbname;  // from the KVR-9ZB name message
    std::vector<int32_t> words;                    // decoded, right-justified in `bits`
    bool complete = false;
};

// Everything the device took and said, in order.
struct DeviceRecord {
    std::vector<std::vector<uint8_t>> messages;  // every whole message that arrived
    std::vector<std::vector<uint8_t>> sysex;     // messages other than SDS and Turbo
    std::vector<ReceivedSample> samples;
    std::vector<std::vector<uint8_t>> answers;  // every message the device sent
    int32_t packets_taken = 0;                  // data packets accepted, all dumps
    int32_t speed_index = 1;                    // the Turbo speed index in force
    bool unplugged = false;
};

class VirtualDevice {
  public:
    VirtualDevice(DeviceLink& link, DeviceConfig config = {});

    // Bytes as they arrive from the cable, in any pieces; whole messages are acted on.
    void receive(const uint8_t* data, size_t length);

    DeviceRecord record() const;
    void set_faults(const DeviceFaults& faults);
    // Forgets what was taken; the speed in force stays.
    void clear();

  private:
    void take_message(const std::vector<uint8_t>& message);
    void take_sds(const std::vector<uint8_t>& message);
    void take_header(const std::vector<uint8_t>& message, bool extended);
    void take_packet(const std::vector<uint8_t>& message);
    void take_turbo(const std::vector<uint8_t>& message);
    void answer(uint8_t type, uint8_t packet, std::chrono::milliseconds extra_delay = {});
    void say(const std::vector<uint8_t>& message, std::chrono::milliseconds delay);
    bool silent_at(int packet) const;

    DeviceLink& link_;
    mutable std::mutex mutex_;
    DeviceConfig config_;
    DeviceRecord record_;
    std::vector<uint8_t> collecting_;  // the message arriving now
    bool in_message_ = false;
    bool in_dump_ = false;     // a dump header was taken and its dump is not complete
    int expected_packet_ = 0;  // 0..127
    int dump_packets_ = 0;     // packets accepted in this dump
    uint8_t dump_channel_ = 0;
    bool nak_done_ = false;
};

}  // namespace jx
