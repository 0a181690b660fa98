// The virtual device as a sender: SysEx streams and sample dumps under the handshake, against a
// fake receiver at the far end of its cable, and dump requests for the samples it holds.
#include <gtest/gtest.h>

#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "audio/sample_words.h"
#include "audio/sds.h"
#include "audio/sds_convert.h"
#include "devsim/in_process_device.h"
#include "devsim/virtual_device.h"
#include "sample_file_maker.h"
#include "sds_stream.h"

namespace jx {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using test::Bytes;

// What a message of the device is, in short: "H" a dump header, "P<n>" data packet n, "C<n>" a
// CANCEL, "X" any other SysEx; "" for its answers to dumps it takes.
std::string token_of(const Bytes& m) {
    if (m.size() < 5 || m[1] != 0x7E) return m.size() >= 2 ? "X" : "";
    if (m[3] == sds::dump_header) return "H";
    if (m[3] == sds::data_packet) return "P" + std::to_string(m[4]);
    if (m[3] == sds::cancel) return "C" + std::to_string(m[4]);
    return "";
}

// The program at the far end of the device's cable. By default it answers a dump as a sampler
// program does: ACK 0 to a header, ACK to the packet it expects when it is whole, NAK with the
// number it expects otherwise. A script changes the answers to chosen arrivals of a message:
// "ACK" (take it), "NAK n", "CANCEL", "WAIT", "OTHER" (an ACK on another channel), "" (none),
// several separated by ','. Answers go back from a thread of its own after `answer_delay`; a
// message takes `wire_time` on the cable.
class ReceiverLink : public DeviceLink {
  public:
    std::map<std::string, std::deque<std::string>> script;
    std::chrono::milliseconds answer_delay{0};
    std::chrono::milliseconds wire_time{0};

    void start(VirtualDevice& device) {
        device_ = &device;
        thread_ = std::thread([this] { run(); });
    }
    void stop() {
        {
            std::lock_guard lock(mutex_);
            quit_ = true;
        }
        wake_.notify_all();
        if (thread_.joinable()) thread_.join();
    }

    void send(const uint8_t* data, size_t length, std::chrono::milliseconds) override {
        std::lock_guard lock(mutex_);
        const Bytes m(data, data + length);
        free_at_ = std::max(free_at_, Clock::now()) + wire_time;
        const std::string token = token_of(m);
        if (token.empty() || quit_) return;
        tokens_.push_back(token);
        if (token == "X" || token[0] == 'C') return;
        std::string answers = default_answer(m);
        auto scripted = script.find(token);
        if (scripted != script.end() && !scripted->second.empty()) {
            answers = scripted->second.front();
            scripted->second.pop_front();
        }
        // The answers to one message arrive together, as they do in one cycle of a server.
        Bytes replies;
        size_t from = 0;
        while (from <= answers.size() && !answers.empty()) {
            const size_t comma = std::min(answers.find(',', from), answers.size());
            const Bytes reply = answer(m, answers.substr(from, comma - from));
            replies.insert(replies.end(), reply.begin(), reply.end());
            from = comma + 1;
        }
        if (!replies.empty()) queue_.push_back({Clock::now() + answer_delay, replies});
        wake_.notify_all();
    }
    void set_speed(int32_t) override {}
    void unplug() override {}
    Clock::time_point all_sent_at() override {
        std::lock_guard lock(mutex_);
        return std::max(free_at_, Clock::now());
    }

    std::vector<std::string> tokens() {
        std::lock_guard lock(mutex_);
        return tokens_;
    }
    std::vector<int32_t> words() {
        std::lock_guard lock(mutex_);
        return words_;
    }

  private:
    std::string default_answer(const Bytes& m) {
        if (m[3] == sds::dump_header) return "ACK";
        SdsPacket packet;
        const bool good = sds_parse_packet(m.data(), m.size(), packet) == message_whole &&
                          packet.checksum_ok && packet.packet_number == expected_;
        return good ? "ACK" : "NAK " + std::to_string(expected_);
    }

    // The reply `what` to the message; with the mutex held.
    Bytes answer(const Bytes& m, const std::string& what) {
        const uint8_t channel = m[2];
        const uint8_t number = m[3] == sds::dump_header ? 0 : m[4];
        Bytes reply;
        if (what == "ACK") {
            take(m);
            reply = {0xF0, 0x7E, channel, sds::ack, number, 0xF7};
        } else if (what.rfind("NAK ", 0) == 0) {
            reply = {0xF0, 0x7E, channel, sds::nak, static_cast<uint8_t>(std::stoi(what.substr(4))),
                     0xF7};
        } else if (what == "CANCEL") {
            reply = {0xF0, 0x7E, channel, sds::cancel, number, 0xF7};
        } else if (what == "WAIT") {
            reply = {0xF0, 0x7E, channel, sds::wait, number, 0xF7};
        } else if (what == "OTHER") {
            reply = {0xF0, 0x7E, static_cast<uint8_t>(channel + 1), sds::ack, number, 0xF7};
        } else {
            ADD_FAILURE() << "unknown answer " << what;
        }
        return reply;
    }

    void take(const Bytes& m) {
        if (m[3] == sds::dump_header) {
            header_ = sds_header_fields(m.data(), m.size());
            expected_ = 0;
            words_.clear();
            return;
        }
        // Read apart from the device's own code.
        const int w = header_.bits < 15 ? 2 : header_.bits < 22 ? 3 : 4;
        for (int k = 0; k < 120 / w && words_.size() < static_cast<size_t>(header_.length); ++k)
            words_.push_back(test::receive_word(&m[5 + k * w], header_.bits, w));
        expected_ = (expected_ + 1) & 0x7F;
    }

    void run() {
        std::unique_lock lock(mutex_);
        while (!quit_) {
            if (queue_.empty()) {
                wake_.wait(lock);
                continue;
            }
            if (Clock::now() < queue_.front().first) {
                wake_.wait_until(lock, queue_.front().first);
                continue;
            }
            const Bytes reply = queue_.front().second;
            queue_.pop_front();
            lock.unlock();  // the device calls send() while it takes a message
            device_->receive(reply.data(), reply.size());
            lock.lock();
        }
    }

    VirtualDevice* device_ = nullptr;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::pair<Clock::time_point, Bytes>> queue_;
    std::vector<std::string> tokens_;
    Clock::time_point free_at_{};
    SdsHeader header_;
    int expected_ = 0;
    std::vector<int32_t> words_;
    bool quit_ = false;
    std::thread thread_;
};

// Short time-outs, so that the silent cases end soon, yet long enough for a busy machine.
DeviceConfig quick_config() {
    DeviceConfig config;
    config.header_timeout = 500ms;
    config.packet_timeout = 500ms;
    config.wait_timeout = 500ms;
    return config;
}

struct Rig {
    ReceiverLink link;
    VirtualDevice device;
    explicit Rig(DeviceConfig config = quick_config(),
                 std::map<std::string, std::deque<std::string>> script = {})
        : device(link, config) {
        link.script = std::move(script);
        link.start(device);
    }
    ~Rig() { link.stop(); }

    // The outcome of the one send, once it has ended.
    SendOutcome finished() {
        EXPECT_TRUE(device.wait_sends_done(Clock::now() + 20s));
        const DeviceRecord record = device.record();
        EXPECT_EQ(record.sends.size(), 1u);
        return record.sends.empty() ? SendOutcome{} : record.sends.back();
    }
};

// A 16-bit sample of `length` words, a ramp over the whole range, looped from 10 to the end.
ReceivedSample ramp_sample(int32_t length) {
    ReceivedSample s;
    s.bits = 16;
    s.period = 22676;
    s.rate = 44100;
    s.length = length;
    s.loop_start = 10;
    s.loop_end = length - 1;
    s.loop_type = 0;
    for (int32_t k = 0; k < length; ++k) s.words.push_back((k * 997) % 65536 - 32768);
    s.complete = true;
    return s;
}

std::vector<std::string> tokens(std::initializer_list<const char*> list) {
    return std::vector<std::string>(list.begin(), list.end());
}

Bytes stream_of(const std::vector<Bytes>& messages) {
    Bytes all;
    for (const Bytes& m : messages) all.insert(all.end(), m.begin(), m.end());
    return all;
}

// Packet numbers run 0..127 and on from 0; the receiver reads the same header and words.
TEST(DeviceSend, AWholeAcknowledgedDumpArrivesAsTheSamplesMessages) {
    Rig rig;
    const ReceivedSample sample = ramp_sample(130 * 40 - 7);  // 130 packets, the last one short
    rig.device.send_sample(sample, 200, "ramp.wav");
    const SendOutcome outcome = rig.finished();
    EXPECT_EQ(outcome.result, SendResult::sent);
    EXPECT_EQ(outcome.packets, 130);
    EXPECT_EQ(outcome.naks, 0);
    EXPECT_EQ(outcome.number, 200);
    EXPECT_EQ(outcome.file, "ramp.wav");

    const test::ReceivedDump dump = test::receive_dump(stream_of(rig.device.record().sent));
    EXPECT_EQ(dump.problem, "");
    EXPECT_FALSE(dump.extended);
    EXPECT_EQ(dump.sample_number, 200);
    EXPECT_EQ(dump.bits, 16);
    EXPECT_EQ(dump.period, 22676);
    EXPECT_EQ(dump.length, sample.length);
    EXPECT_EQ(dump.loop_start, 10);
    EXPECT_EQ(dump.loop_end, sample.length - 1);
    EXPECT_EQ(dump.loop_type, 0);
    ASSERT_EQ(dump.packet_numbers.size(), 130u);
    for (int k = 0; k < 130; ++k) ASSERT_EQ(dump.packet_numbers[k], k & 0x7F) << k;
    std::vector<int32_t> words = sample.words;
    words.resize(130 * 40, 0);  // the last packet is filled with silence
    EXPECT_EQ(dump.words, words);
    EXPECT_EQ(rig.link.words(), sample.words);
}

struct AnswerCase {
    const char* what;
    std::map<std::string, std::deque<std::string>> script;
    std::vector<std::string> tokens;  // what the device sent
    SendResult result;
    int naks;
};

// Four packets, P0..P3, answered as each case says.
TEST(DeviceSend, TheReceiversAnswersSteerTheDump) {
    const AnswerCase cases[] = {
        {"all ACK", {}, tokens({"H", "P0", "P1", "P2", "P3"}), SendResult::sent, 0},
        {"NAK sends the packet again",
         {{"P1", {"NAK 1"}}},
         tokens({"H", "P0", "P1", "P1", "P2", "P3"}),
         SendResult::sent,
         1},
        // The receiver then asks for packet 2, which it still expects.
        {"NAK of an earlier packet goes back to it",
         {{"P2", {"NAK 0"}}},
         tokens({"H", "P0", "P1", "P2", "P0", "P2", "P3"}),
         SendResult::sent,
         2},
        {"NAK of the header sends it again",
         {{"H", {"NAK 0"}}},
         tokens({"H", "H", "P0", "P1", "P2", "P3"}),
         SendResult::sent,
         1},
        {"eight resends, then it gives up with CANCEL",
         {{"P1", std::deque<std::string>(9, "NAK 1")}},
         tokens({"H", "P0", "P1", "P1", "P1", "P1", "P1", "P1", "P1", "P1", "P1", "C1"}),
         SendResult::gave_up,
         9},
        {"CANCEL ends it",
         {{"P1", {"CANCEL"}}},
         tokens({"H", "P0", "P1"}),
         SendResult::cancelled,
         0},
        {"CANCEL to the header", {{"H", {"CANCEL"}}}, tokens({"H"}), SendResult::cancelled, 0},
        // A receiver stopped by its user answers the packet it took and cancels at once.
        {"CANCEL right behind an ACK ends it",
         {{"P1", {"ACK,CANCEL"}}},
         tokens({"H", "P0", "P1"}),
         SendResult::cancelled,
         0},
        {"WAIT, then ACK",
         {{"P1", {"WAIT,ACK"}}},
         tokens({"H", "P0", "P1", "P2", "P3"}),
         SendResult::sent,
         0},
        {"WAIT, then nothing",
         {{"P1", {"WAIT"}}},
         tokens({"H", "P0", "P1", "C1"}),
         SendResult::gave_up,
         0},
        {"no answer to the header: open loop",
         {{"H", {""}}},
         tokens({"H", "P0", "P1", "P2", "P3"}),
         SendResult::open_loop,
         0},
        {"silence mid-dump: open loop from there",
         {{"P1", {""}}},
         tokens({"H", "P0", "P1", "P2", "P3"}),
         SendResult::open_loop,
         0},
        {"an answer on another channel is none",
         {{"P1", {"OTHER"}}},
         tokens({"H", "P0", "P1", "P2", "P3"}),
         SendResult::open_loop,
         0},
    };
    for (const AnswerCase& c : cases) {
        SCOPED_TRACE(c.what);
        Rig rig(quick_config(), c.script);
        rig.device.send_sample(ramp_sample(4 * 40), 0, "");
        const SendOutcome outcome = rig.finished();
        EXPECT_EQ(rig.link.tokens(), c.tokens);
        EXPECT_EQ(outcome.result, c.result) << send_result_text(outcome.result);
        EXPECT_EQ(outcome.naks, c.naks);
        EXPECT_EQ(outcome.packets, std::count_if(c.tokens.begin(), c.tokens.end(),
                                                 [](const std::string& t) { return t[0] == 'P'; }));
    }
}

// Cut off half way once packets 0 and 1 were answered: the cable pulled, or a hang that only the
// receiver's CANCEL ends.
TEST(DeviceSend, ADumpCutOffHalfWayStopsAfterTheAnsweredPackets) {
    {
        SCOPED_TRACE("unplugged");
        DeviceConfig config = quick_config();
        config.send_faults.unplug_before = 2;
        Rig rig(config);
        rig.device.send_sample(ramp_sample(4 * 40), 0, "");
        EXPECT_EQ(rig.finished().result, SendResult::stopped);
        EXPECT_EQ(rig.link.tokens(), tokens({"H", "P0", "P1"}));
        EXPECT_TRUE(rig.device.record().unplugged);
    }
    {
        SCOPED_TRACE("stalled");
        DeviceConfig config = quick_config();
        config.send_faults.stall_before = 2;
        Rig rig(config);
        rig.device.send_sample(ramp_sample(4 * 40), 0, "");
        const Clock::time_point deadline = Clock::now() + 20s;
        auto stalled = [&] {
            const DeviceRecord r = rig.device.record();
            return !r.sends.empty() && r.sends[0].stalled;
        };
        while (!stalled() && Clock::now() < deadline) std::this_thread::sleep_for(1ms);
        ASSERT_TRUE(stalled());
        // Well past every time-out, it still waits.
        EXPECT_FALSE(rig.device.wait_sends_done(Clock::now() + 3 * quick_config().packet_timeout));
        const auto cancel = sds_handshake(sds::cancel, 0, 2);
        rig.device.receive(cancel.data(), cancel.size());
        EXPECT_EQ(rig.finished().result, SendResult::cancelled);
        EXPECT_EQ(rig.link.tokens(), tokens({"H", "P0", "P1"}));
    }
}

// A slow cable: each message takes 200 ms to leave it and the answer comes 120 ms after it was
// queued. The 60 ms time-out runs from the moment the packet has left, so every answer counts.
TEST(DeviceSend, ThePacketTimeOutRunsFromWhenThePacketHasLeftTheCable) {
    DeviceConfig config = quick_config();
    config.header_timeout = 60ms;
    config.packet_timeout = 60ms;
    Rig rig(config);
    rig.link.wire_time = 200ms;
    rig.link.answer_delay = 120ms;
    rig.device.send_sample(ramp_sample(3 * 40), 0, "");
    EXPECT_EQ(rig.finished().result, SendResult::sent);
    EXPECT_EQ(rig.link.tokens(), tokens({"H", "P0", "P1", "P2"}));
}

// The observer hears a send start; clear() then forgets the record, and the send's outcome
// still lands in it when the send ends.
TEST(DeviceSend, ClearingTheRecordDuringASendKeepsItsOutcome) {
    // Declared before the rig: the device's thread may still be in the observer when the test
    // ends, and the rig's end waits for that thread.
    std::mutex mutex;
    std::condition_variable told;
    int events = 0;
    Rig rig(quick_config(), {{"H", {""}}});
    rig.device.set_send_observer([&] {
        {
            std::lock_guard lock(mutex);
            ++events;
        }
        told.notify_all();
    });
    rig.device.send_sample(ramp_sample(40), 0, "");
    {
        std::unique_lock lock(mutex);
        ASSERT_TRUE(told.wait_for(lock, 20s, [&] { return events >= 1; }));
    }
    rig.device.clear();
    EXPECT_EQ(rig.finished().result, SendResult::open_loop);
    std::unique_lock lock(mutex);
    EXPECT_TRUE(told.wait_for(lock, 20s, [&] { return events == 2; }));
}

// What a damaged message must look like, given the clean one.
using Damage = std::function<void(const Bytes& clean, const Bytes& sent)>;

struct FaultCase {
    const char* what;
    SendFaults faults;
    std::map<std::string, std::deque<std::string>> script;
    std::vector<std::string> tokens;
    std::set<size_t> damaged;  // positions in what was sent
    Damage check;
    SendResult result = SendResult::sent;
    std::string stands_for =
        "";  // the clean message a damaged one is compared with, if not its own
};

SendFaults fault(std::optional<int> SendFaults::*which, int packet, bool always = false) {
    SendFaults f;
    f.*which = packet;
    f.always = always;
    return f;
}

// The receiver NAKs the damaged packets; the packet sent again is whole unless every time was
// asked for.
TEST(DeviceSend, EachSendFaultDamagesExactlyItsMessage) {
    const Damage checksum = [](const Bytes& clean, const Bytes& sent) {
        ASSERT_EQ(sent.size(), clean.size());
        for (size_t k = 0; k < sent.size(); ++k) {
            if (k != 125) {
                EXPECT_EQ(sent[k], clean[k]) << k;
            }
        }
        EXPECT_NE(sent[125], clean[125]);
        EXPECT_LT(sent[125], 0x80);
    };
    const Damage number = [](const Bytes& clean, const Bytes& sent) {
        ASSERT_EQ(sent.size(), clean.size());
        EXPECT_EQ(sent[4], clean[4] + 1);
        EXPECT_EQ(sent[125], sds_packet_checksum(sent.data()));
        for (size_t k = 5; k < 125; ++k) EXPECT_EQ(sent[k], clean[k]) << k;
    };
    const Damage cut = [](const Bytes& clean, const Bytes& sent) {
        ASSERT_EQ(sent.size(), 64u);
        EXPECT_TRUE(std::equal(sent.begin(), sent.end() - 1, clean.begin()));
        EXPECT_EQ(sent.back(), 0xF7);
    };
    const Damage zero_period = [](const Bytes& clean, const Bytes& sent) {
        ASSERT_EQ(sent.size(), clean.size());
        Bytes expected = clean;
        expected[7] = expected[8] = expected[9] = 0;
        EXPECT_EQ(sent, expected);
    };
    SendFaults zero;
    zero.zero_period = true;
    SendFaults zero_always = zero;
    zero_always.always = true;
    const FaultCase cases[] = {
        {"bad checksum",
         fault(&SendFaults::bad_checksum, 1),
         {},
         tokens({"H", "P0", "P1", "P1", "P2"}),
         {2},
         checksum},
        {"wrong packet number",
         fault(&SendFaults::wrong_number, 1),
         {},
         tokens({"H", "P0", "P2", "P1", "P2"}),
         {2},
         number,
         SendResult::sent,
         "P1"},
        {"cut short",
         fault(&SendFaults::cut_short, 2),
         {},
         tokens({"H", "P0", "P1", "P2", "P2"}),
         {3},
         cut},
        {"a plain SysEx message before packet 1",
         fault(&SendFaults::plain_before, 1),
         {},
         tokens({"H", "P0", "X", "P1", "P2"}),
         {},
         nullptr},
        {"bad checksum every time",
         fault(&SendFaults::bad_checksum, 1, true),
         {},
         tokens({"H", "P0", "P1", "P1", "P1", "P1", "P1", "P1", "P1", "P1", "P1", "C1"}),
         {2, 3, 4, 5, 6, 7, 8, 9, 10},
         checksum,
         SendResult::gave_up},
        // The receiver here takes any period; it asks for the header again to show the second
        // one whole.
        {"period 0",
         zero,
         {{"H", {"NAK 0"}}},
         tokens({"H", "H", "P0", "P1", "P2"}),
         {0},
         zero_period},
        {"period 0 every time",
         zero_always,
         {{"H", {"NAK 0"}}},
         tokens({"H", "H", "P0", "P1", "P2"}),
         {0, 1},
         zero_period},
    };
    // The messages of the same dump without faults, by token.
    std::map<std::string, Bytes> clean;
    {
        Rig rig;
        rig.device.send_sample(ramp_sample(3 * 40), 3, "");
        ASSERT_EQ(rig.finished().result, SendResult::sent);
        for (const Bytes& m : rig.device.record().sent) clean[token_of(m)] = m;
    }
    clean["X"] = Bytes(stray_sysex.begin(), stray_sysex.end());
    for (const FaultCase& c : cases) {
        SCOPED_TRACE(c.what);
        DeviceConfig config = quick_config();
        config.send_faults = c.faults;
        Rig rig(config, c.script);
        rig.device.send_sample(ramp_sample(3 * 40), 3, "");
        EXPECT_EQ(rig.finished().result, c.result);
        const std::vector<Bytes> sent = rig.device.record().sent;
        const std::vector<std::string> got = rig.link.tokens();
        ASSERT_EQ(got, c.tokens);
        for (size_t k = 0; k < sent.size(); ++k) {
            SCOPED_TRACE("message " + std::to_string(k) + " " + got[k]);
            if (got[k][0] == 'C') continue;
            const std::string meant =
                c.damaged.count(k) && !c.stands_for.empty() ? c.stands_for : got[k];
            if (c.damaged.count(k))
                c.check(clean.at(meant), sent[k]);
            else
                EXPECT_EQ(sent[k], clean.at(meant));
        }
    }
}

TEST(DeviceSend, SysExStreamsGoMessageByMessage) {
    const Bytes first = {0xF0, 0x43, 0x10, 0x00, 0xF7};
    const Bytes second = {0xF0, 0x00, 0x6B, 0x2E, 0x02, 0x00, 0x10, 0x01, 0xF7};
    struct Case {
        const char* what;
        Bytes stream;
        std::vector<Bytes> sent;
        SendResult result;
    };
    const Case cases[] = {
        {"two messages", test::join({first, second}), {first, second}, SendResult::sent},
        // Bytes outside messages and a message without its end are not sent.
        {"with stray bytes and a cut tail",
         test::join({{0x01, 0x02}, first, {0x7F}, second, {0xF0, 0x10}}),
         {first, second},
         SendResult::sent},
        {"no message at all", {0x01, 0xF0, 0x02}, {}, SendResult::failed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Rig rig;
        rig.device.send_sysex(c.stream, "dump.syx");
        const SendOutcome outcome = rig.finished();
        EXPECT_EQ(outcome.result, c.result);
        EXPECT_FALSE(outcome.dump);
        EXPECT_EQ(outcome.messages, static_cast<int>(c.sent.size()));
        EXPECT_EQ(rig.device.record().sent, c.sent);
    }
}

// A 16-bit mono WAV of `frames` frames.
Bytes ramp_wav(int frames) {
    Bytes data;
    for (int k = 0; k < frames; ++k)
        test::put(data, static_cast<uint32_t>(k * 300 - 9000), 2, false);
    return test::riff({test::fmt_chunk(1, 1, 44100, 16), test::wav_chunk("data", data)});
}

// The dump the program sends of a WAV file, with an extended header and name or without.
Bytes program_dump(const Bytes& file, bool extended) {
    SampleConversion c;
    c.kind = sample_kind_of(file.data(), file.size());
    Bytes stream;
    convert_whole_sample(
        c, file.data(), file.size(), 0,
        extended ? std::optional<std::string_view>("ramp") : std::nullopt,
        [&](const uint8_t* m, size_t n) { stream.insert(stream.end(), m, m + n); });
    return stream;
}

// A file's bytes go as what they are: a sample file as a dump, anything else as SysEx; a sample
// file that does not read is refused and nothing is sent.
TEST(DeviceSend, AFileGoesAsADumpOrAsSysExByItsKind) {
    Bytes broken = ramp_wav(10);
    broken.resize(30);
    struct Case {
        const char* what;
        Bytes file;
        bool refused;
        bool dump;
        int32_t messages;  // sent
    };
    const Case cases[] = {
        {"a WAV file", ramp_wav(100), false, true, 4},
        {"a SysEx file", {0xF0, 0x01, 0xF7, 0xF0, 0x02, 0xF7}, false, false, 2},
        {"a WAV file cut short", broken, true, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Rig rig;
        const std::string problem = rig.device.send_file(c.file, 9, "file");
        EXPECT_EQ(problem.empty(), !c.refused) << problem;
        ASSERT_TRUE(rig.device.wait_sends_done(Clock::now() + 20s));
        const DeviceRecord record = rig.device.record();
        EXPECT_EQ(record.sent.size(), static_cast<size_t>(c.messages));
        if (c.refused) {
            EXPECT_TRUE(record.sends.empty());
            continue;
        }
        ASSERT_EQ(record.sends.size(), 1u);
        EXPECT_EQ(record.sends[0].result, SendResult::sent);
        EXPECT_EQ(record.sends[0].dump, c.dump);
        if (c.dump) {
            EXPECT_EQ(test::receive_dump(stream_of(record.sent)).sample_number, 9);
        }
    }
}

Bytes request(int32_t number, uint8_t channel = 0) {
    return {0xF0,
            0x7E,
            channel,
            0x03,
            static_cast<uint8_t>(number & 0x7F),
            static_cast<uint8_t>(number >> 7),
            0xF7};
}

// The device holds what it took and the files it was given, and sends a held sample back when
// asked, always with the plain dump header.
TEST(DeviceRequest, ARequestForAHeldSampleBringsItsDump) {
    const Bytes wav = ramp_wav(100);
    ReceivedSample from_file;
    ASSERT_EQ(sample_from_file(wav.data(), wav.size(), from_file), "");
    std::vector<int32_t> wav_words;
    for (int k = 0; k < 100; ++k) wav_words.push_back(k * 300 - 9000);
    ASSERT_EQ(from_file.words, wav_words);

    struct Case {
        const char* what;
        Bytes taken;     // fed to the device first
        bool hold_file;  // the WAV held under number 200
        Bytes ask;       // the request
        bool sent;       // a dump comes back
        int32_t number;  // of the request
    };
    const Case cases[] = {
        {"a dump it took", program_dump(wav, false), false, request(0), true, 0},
        {"a dump with an extended header", program_dump(wav, true), false, request(0), true, 0},
        {"a file it holds", {}, true, request(200), true, 200},
        {"a number it does not hold", program_dump(wav, false), true, request(5), false, 5},
        {"a request on another channel", {}, true, request(200, 1), false, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Rig rig;
        if (c.hold_file) rig.device.hold_sample(from_file, 200);
        rig.device.receive(c.taken.data(), c.taken.size());
        rig.device.receive(c.ask.data(), c.ask.size());
        ASSERT_TRUE(rig.device.wait_sends_done(Clock::now() + 20s));
        const DeviceRecord record = rig.device.record();
        if (c.number < 0) {
            EXPECT_TRUE(record.requests.empty());
        } else {
            ASSERT_EQ(record.requests.size(), 1u);
            EXPECT_EQ(record.requests[0].number, c.number);
            EXPECT_EQ(record.requests[0].held, c.sent);
        }
        if (!c.sent) {
            EXPECT_TRUE(record.sends.empty());
            EXPECT_TRUE(record.sent.empty());
            continue;
        }
        ASSERT_EQ(record.sends.size(), 1u);
        EXPECT_EQ(record.sends[0].result, SendResult::sent);
        const test::ReceivedDump dump = test::receive_dump(stream_of(record.sent));
        EXPECT_EQ(dump.problem, "");
        EXPECT_FALSE(dump.extended);
        EXPECT_EQ(dump.sample_number, c.number);
        EXPECT_EQ(dump.period, 22676);
        EXPECT_EQ(dump.length, 100);
        EXPECT_EQ(rig.link.words(), wav_words);
    }
}

// The in-process device knows when what it sent has left the loopback's cable: 10 bits a byte
// at 31250 baud, times the Turbo factor in force, one message after the other.
TEST(DeviceInProcess, KnowsWhenWhatItSentHasLeftTheCable) {
    MidiService service;
    MidiLoopback loopback(service.pacing);
    InProcessDevice device(loopback);
    const Bytes message(3125, 0x00);  // one second at 31250 baud
    const Clock::time_point before = Clock::now();
    device.send(message.data(), message.size(), 0ms);
    device.set_speed(100);
    device.send(message.data(), message.size(), 0ms);  // a tenth of that
    const Clock::time_point after = Clock::now();
    const Clock::time_point gone = device.all_sent_at();
    EXPECT_GE(gone, before + 1100ms);
    EXPECT_LE(gone, after + 1100ms);
}

}  // namespace
}  // namespace jx
