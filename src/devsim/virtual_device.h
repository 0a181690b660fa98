#pragma once
// The virtual device: a simulated instrument at the far end of the MIDI cable. It answers the
// Turbo query and request, takes SysEx messages and SDS dumps as a sampler does (ACK to a dump
// header and to a sample name message, ACK or NAK per data packet) and keeps what it took. Faults
// can be asked for, so that every answer a real device may give can be tried. It knows nothing of
// ports: bytes come in through receive() and go out through a DeviceLink, in-process over the
// loopback or as the jx-device program over a MIDI server.
//
// It also sends, as a sampler does: SysEx streams message by message, and samples as dumps under
// the handshake (dump header, then each data packet after the receiver's answer to the one
// before), from a sender thread of its own that the receiver's answers reach through receive().
// A dump request for a sample it holds brings that sample's dump.
#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "audio/sds.h"
#include "platform/midi/sysex_framer.h"

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
    // The moment the last byte of everything sent so far leaves the cable; now for a link that
    // hands messages over at once.
    virtual std::chrono::steady_clock::time_point all_sent_at() {
        return std::chrono::steady_clock::now();
    }
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
    // A device that makes room for a sample first: each dump header's answer this much later.
    std::chrono::milliseconds header_delay{0};
};

// Faults in what the device sends, on request. Data packets count from 0 in each dump. Each
// happens the first time only (the packet sent again is correct) unless `always` is set.
struct SendFaults {
    std::optional<int> bad_checksum;  // packet k with a wrong checksum
    std::optional<int> wrong_number;  // packet k numbered one higher (checksum to match)
    std::optional<int> cut_short;     // packet k ends with F7 after its first 63 bytes
    std::optional<int> plain_before;  // a plain (not universal) SysEx message before packet k
    bool zero_period = false;         // the dump header with a sample period of 0
    bool always = false;
    // Mid-dump, once packets 0 .. k-1 were answered: pull the cable instead of sending packet k
    // (a device switched off), or send nothing more and wait for a CANCEL (a device that hangs).
    std::optional<int> unplug_before;
    std::optional<int> stall_before;
};

// The plain SysEx message that SendFaults::plain_before puts between two packets.
constexpr std::array<uint8_t, 6> stray_sysex = {0xF0, 0x7D, 0x00, 0x01, 0x02, 0xF7};

struct DeviceConfig {
    uint8_t channel = 0;           // the SDS device number it takes dumps for and sends with
    int highest_speed_index = 11;  // the fastest Turbo speed it can run
    DeviceFaults faults;
    SendFaults send_faults;
    // How long the device waits for the receiver's answer once a message has left the cable:
    // to a dump header (no answer: the dump goes on without the handshake), to a data packet
    // (no answer: the rest of the dump goes without it), and after a WAIT (no answer: it gives
    // up). A round trip over a software MIDI server may take far longer than the 20 ms a cable
    // needs, so the packet time-out is generous: it only costs time when nobody answers.
    std::chrono::milliseconds header_timeout{2000};
    std::chrono::milliseconds packet_timeout{1000};
    std::chrono::milliseconds wait_timeout{10000};
    int max_resends = 8;  // NAKs in a row for one packet it sends again; the next one: give up
    // Keep every whole message in DeviceRecord::messages. A device that runs for long and
    // reports as it goes (jx-device) does without: the list only grows.
    bool keep_messages = true;
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
    // How a dump that did not complete ended: the sender (or the device) cancelled it, or the
    // next dump header came first.
    bool cancelled = false;
    bool cut_off = false;
    bool ended() const { return complete || cancelled || cut_off; }
};

// How a send ended.
enum class SendResult {
    running,    // not ended yet
    sent,       // every message sent; for a dump every packet acknowledged
    open_loop,  // sent to the end, but the receiver stopped answering on the way (or never did)
    cancelled,  // the receiver sent CANCEL
    gave_up,    // too many NAKs in a row, or no answer after a WAIT: the device sent CANCEL
    stopped,    // the device was shut down or unplugged during the send
    failed,     // nothing could be sent (an empty SysEx stream, a dump the header cannot carry)
};
// "sent", "open loop", "cancelled", "gave up", "stopped", "failed", "running".
const char* send_result_text(SendResult result);

// One send of the device, from the moment it started.
struct SendOutcome {
    std::string file;    // what was sent; empty for a requested dump
    bool dump = false;   // a sample dump, else a SysEx stream
    int32_t number = 0;  // the dump's sample number
    SendResult result = SendResult::running;
    std::string problem;   // why it failed
    int32_t messages = 0;  // messages sent, resends included
    int32_t packets = 0;   // data packets sent, resends included
    int32_t naks = 0;      // NAKs answered
    bool stalled = false;  // the dump hangs on purpose (SendFaults::stall_before)
};

struct DumpRequest {
    int32_t number = 0;
    bool held = false;  // a sample the device holds: its dump is sent
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
    std::vector<std::vector<uint8_t>> sent;  // every message of the device's own sends
    std::vector<SendOutcome> sends;
    std::vector<DumpRequest> requests;
};

// A sample as a dump header (plain or extended) describes it, without its words yet.
ReceivedSample sample_of_header(const SdsHeader& header, bool extended);
// Adds the words of a whole data packet (127 bytes) of the sample's dump, as far as its length.
void take_packet_words(ReceivedSample& sample, const uint8_t* packet);

// The sample a WAV, AIFF or AIFC file holds, as its dump carries it (one channel, the words at
// the dump's bits): read and converted as the program sends it. Empty when it can be read, else
// why not.
std::string sample_from_file(const uint8_t* data, size_t length, ReceivedSample& sample);

class VirtualDevice {
  public:
    VirtualDevice(DeviceLink& link, DeviceConfig config = {});
    // A send in progress ends as "stopped".
    ~VirtualDevice();
    VirtualDevice(const VirtualDevice&) = delete;
    VirtualDevice& operator=(const VirtualDevice&) = delete;

    // Bytes as they arrive from the cable, in any pieces; whole messages are acted on. The
    // device frames them itself: the in-process cable hands it what the program sent as it is.
    void receive(const uint8_t* data, size_t length);
    // The same, framed already by a MIDI input (jx-device's port).
    void take(std::span<const SysexPiece> pieces);

    // A copy of everything taken so far: for tests, which look at it once.
    DeviceRecord record() const;
    // Calls `look` with the record under the device's lock, without copying it: for a program
    // that reports what is new after everything its input hands over, whose cost must not grow with
    // what the device took before. `look` must not call the device.
    void with_record(const std::function<void(const DeviceRecord&)>& look) const;
    void set_faults(const DeviceFaults& faults);
    // Forgets what was taken; the speed in force and the samples held stay.
    void clear();

    // Sends are queued and run one after the other on the device's sender thread.
    // The F0..F7 messages of a SysEx stream (a .syx file's bytes), one after the other.
    void send_sysex(std::vector<uint8_t> stream, std::string file);
    // A sample as a dump to `number` (0..16383).
    void send_sample(ReceivedSample sample, int32_t number, std::string file);
    // A file's bytes: a WAV, AIFF or AIFC file as a dump to `number`, anything else as a SysEx
    // stream. Empty when it was queued, else why not (a sample file that cannot be read).
    std::string send_file(std::vector<uint8_t> bytes, int32_t number, std::string file);
    // Keeps a sample under `number` for dump requests (a newer one replaces it). Every complete
    // dump the device takes is held under its sample number.
    void hold_sample(ReceivedSample sample, int32_t number);
    // Waits until every queued send has ended; false when the deadline came first.
    bool wait_sends_done(std::chrono::steady_clock::time_point deadline) const;
    // Called (on the sender thread, without locks held) when a send starts and when it ends.
    void set_send_observer(std::function<void()> observer);

  private:
    struct SendJob {
        SendOutcome outcome;
        std::vector<uint8_t> stream;  // a SysEx stream
        ReceivedSample sample;        // a dump
    };
    using Lock = std::unique_lock<std::mutex>;

    void queue_send(SendJob job);
    void run_sender();
    void send_stream(Lock& lock, const SendJob& job, SendOutcome& outcome);
    void send_dump(Lock& lock, const SendJob& job, SendOutcome& outcome);
    void send_own(const std::vector<uint8_t>& message, SendOutcome& outcome);
    // Calls the send observer without the lock held.
    void tell_observer(Lock& lock);
    std::optional<SdsHandshake> await_answer(Lock& lock,
                                             std::chrono::steady_clock::time_point deadline);
    void take_request(const std::vector<uint8_t>& message);
    void take_answer(const std::vector<uint8_t>& message);
    void take_piece(const SysexPiece& piece);
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
    SysexFramer framer_;               // receive()'s
    bool in_dump_ = false;             // a dump header was taken and its dump is not complete
    int expected_packet_ = 0;          // 0..127
    int dump_packets_ = 0;             // packets accepted in this dump
    uint8_t dump_channel_ = 0;
    bool nak_done_ = false;

    std::map<int32_t, ReceivedSample> held_;
    std::deque<SendJob> jobs_;
    bool sending_ = false;
    bool listening_ = false;  // a dump is being sent: the receiver's answers are kept
    std::deque<std::vector<uint8_t>> answers_;
    bool quit_ = false;
    std::condition_variable sender_wake_;
    mutable std::condition_variable sends_done_;
    std::function<void()> observer_;
    std::thread sender_;
};

}  // namespace jx
