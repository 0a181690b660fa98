#include "midi/send_engine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "audio/sample_words.h"
#include "audio/sds_convert.h"
#include "platform/window/dialog_ids.h"
#include "sample_file_maker.h"
#include "sds_stream.h"
#include "virtual_rig.h"

namespace jx {
namespace {

using test::Bytes;
using test::VirtualRig;
using namespace std::chrono_literals;

// A mono 16-bit WAV of n frames holding a ramp that never repeats a value within a dump.
Bytes ramp_wav(int frames, uint32_t rate = 44100) {
    Bytes data;
    for (int k = 0; k < frames; ++k)
        test::put(data, static_cast<uint32_t>(k * 7 - 20000), 2, false);
    return test::riff({test::fmt_chunk(1, 1, rate, 16), test::wav_chunk("data", data)});
}

// What jx-cli sds writes for the file: the dump converted without the handshake, read back by
// the independent reader of the tests.
test::ReceivedDump reference_dump(const Bytes& file, int32_t sample_number, uint32_t name_value,
                                  std::optional<std::string_view> name) {
    SampleConversion c;
    c.kind = sample_kind_of(file.data(), file.size());
    c.sample_number = sample_number;
    Bytes stream;
    convert_whole_sample(
        c, file.data(), file.size(), name_value, name,
        [&](const uint8_t* m, size_t n) { stream.insert(stream.end(), m, m + n); });
    return test::receive_dump(stream);
}

std::string status_text(VirtualRig& rig) {
    return rig.window.text(ids::status);
}

TEST(SendEngine, CutsSysExIntoWholeMessagesAndCountsSkippedBytes) {
    // Leading bytes are skipped but count; an unfinished message at the end is not sent.
    VirtualRig rig;
    rig.add("/d/a.syx", {0x00, 0x00, 0xF0, 0x01, 0xF7, 0x00, 0xF0, 0x02, 0x03});
    ASSERT_TRUE(rig.run_send());
    const DeviceRecord got = rig.device_record();
    ASSERT_EQ(got.sysex.size(), 1u);
    EXPECT_EQ(got.sysex[0], (Bytes{0xF0, 0x01, 0xF7}));
    EXPECT_EQ(rig.state.sent_count.load(), 5);
    EXPECT_EQ(status_text(rig), "Sent: 6");
    EXPECT_EQ(rig.window.text(ids::send_counter), "");
    EXPECT_EQ(rig.window.text(ids::send), "Send");
    EXPECT_EQ(rig.state.sending.load(), 0);
    EXPECT_EQ(rig.state.status_bits.load() & status_sending, 0);
}

TEST(SendEngine, SendsEveryMessageOfSelectedEntriesInListOrderWithTheCount) {
    VirtualRig rig;
    rig.add("/d/a.syx", {0xF0, 0x01, 0xF7, 0xF0, 0x02, 0x02, 0xF7});
    rig.add("/d/skipped.syx", {0xF0, 0x09, 0xF7}, false);
    rig.add("/d/b.syx", {0x55, 0xF0, 0x03, 0xF7});
    ASSERT_TRUE(rig.run_send());
    const DeviceRecord got = rig.device_record();
    EXPECT_EQ(got.sysex, (std::vector<Bytes>{
                             {0xF0, 0x01, 0xF7}, {0xF0, 0x02, 0x02, 0xF7}, {0xF0, 0x03, 0xF7}}));
    // The last entry ends with its F7: every byte counted.
    EXPECT_EQ(rig.state.sent_count.load(), 4);
    EXPECT_EQ(status_text(rig), "Sent: 4");
    std::lock_guard lock(rig.list_mutex);
    EXPECT_EQ(rig.list.items[0].entry->send_mark, 'S');
    EXPECT_EQ(rig.list.items[1].entry->send_mark, 'U');
    EXPECT_EQ(rig.list.items[2].entry->send_mark, 'S');
}

TEST(SendEngine, NothingSelectedEndsAtOnce) {
    VirtualRig rig;
    rig.add("/d/a.syx", {0xF0, 0x01, 0xF7}, false);
    ASSERT_TRUE(rig.run_send());
    EXPECT_TRUE(rig.device_record().sysex.empty());
    EXPECT_EQ(status_text(rig), "");
}

TEST(SendEngine, SampleArrivesWithTheWordsOfTheConvertedDump) {
    struct Case {
        const char* what;
        int32_t ignore_hs;
        int32_t use_xsds;
        int32_t send_zbname;
        int frames;
    };
    const Case cases[] = {
        {"open loop, plain header", 1, 0, 0, 1000},
        {"handshake, plain header", 0, 0, 0, 1000},
        {"handshake, extended header and both names", 0, 1, 1, 777},
        {"one frame", 0, 0, 0, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        VirtualRig rig;
        rig.settings.ignore_hs = c.ignore_hs;
        rig.settings.use_xsds = c.use_xsds;
        rig.settings.send_zbname = c.send_zbname;
        const Bytes file = ramp_wav(c.frames, 32000);
        rig.add("/samples/Kick.wav", file);
        ASSERT_TRUE(rig.run_send());
        const test::ReceivedDump want =
            reference_dump(file, 0, c.send_zbname ? sample_name_code("Kick") : 0,
                           c.use_xsds ? std::optional<std::string_view>("Kick") : std::nullopt);
        ASSERT_EQ(want.problem, "");
        const DeviceRecord got = rig.device_record();
        ASSERT_EQ(got.samples.size(), 1u);
        const ReceivedSample& s = got.samples[0];
        EXPECT_TRUE(s.complete);
        EXPECT_EQ(s.length, want.length);
        EXPECT_EQ(s.bits, want.bits);
        EXPECT_EQ(s.rate, 32000);
        EXPECT_EQ(s.loop_start, want.loop_start);
        EXPECT_EQ(s.loop_end, want.loop_end);
        EXPECT_EQ(s.loop_type, want.loop_type);
        EXPECT_EQ(s.extended, c.use_xsds != 0);
        EXPECT_EQ(s.name, c.use_xsds ? "Kick" : "");
        EXPECT_EQ(s.zbname.has_value(), c.send_zbname != 0);
        if (s.zbname) {
            EXPECT_EQ(std::string(s.zbname->begin(), s.zbname->end()), "KICK");
        }
        const std::vector<int32_t> words(want.words.begin(), want.words.begin() + want.length);
        EXPECT_EQ(s.words, words);
        EXPECT_EQ(status_text(rig), "Sent: " + std::to_string(rig.state.sent_count.load()));
    }
}

TEST(SendEngine, SampleNumbersStartAtSampleposMinusOneAndRiseWithEveryEntry) {
    struct Case {
        const char* samplepos;
        int32_t first;
    };
    const Case cases[] = {{"", 0}, {"0", 0}, {"1", 0}, {"x", 0}, {"5", 4}, {" 12a", 11}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.samplepos);
        VirtualRig rig;
        rig.window.set_text(ids::samplepos, c.samplepos);
        rig.add("/d/one.wav", ramp_wav(10));
        rig.add("/d/a.syx", {0xF0, 0x01, 0xF7});  // a SysEx entry takes a number too
        rig.add("/d/two.wav", ramp_wav(10));
        ASSERT_TRUE(rig.run_send());
        const DeviceRecord got = rig.device_record();
        ASSERT_EQ(got.samples.size(), 2u);
        EXPECT_EQ(got.samples[0].sample_number, c.first);
        EXPECT_EQ(got.samples[1].sample_number, c.first + 2);
    }
}

TEST(SendEngine, UnreadableSampleIsSkipped) {
    VirtualRig rig;
    rig.settings.ignore_hs = 0;
    Bytes broken = ramp_wav(100);
    broken.resize(30);  // the fmt chunk cut off
    rig.add("/d/broken.wav", broken);
    rig.add("/d/good.wav", ramp_wav(100));
    ASSERT_TRUE(rig.run_send());
    const DeviceRecord got = rig.device_record();
    ASSERT_EQ(got.samples.size(), 1u);
    EXPECT_TRUE(got.samples[0].complete);
    EXPECT_EQ(got.samples[0].sample_number, 1);
}

// How a send under the handshake ends against a device with one fault.
struct FaultCase {
    const char* what;
    DeviceFaults faults;
    bool sample_complete;  // the device took the whole dump
    bool cancel_heard;     // the send ended the dump itself and told the device with a CANCEL
    bool remote_cancel;    // "Remotely cancelled." is due
    int32_t use_xsds = 0;  // the extended header and the sample name message, each answered
};

FaultCase fault(const char* what, DeviceFaults faults, bool complete, bool cancel_heard,
                bool remote_cancel = false) {
    return {what, faults, complete, cancel_heard, remote_cancel};
}

// The same case with the extended header: the send takes the device's answer to the header and
// then the one to the sample name message before the first packet, and keeps in step after.
FaultCase extended(FaultCase c) {
    c.use_xsds = 1;
    return c;
}

// Whether the device heard a CANCEL (F0 7E ch 7D pp F7) for its dump.
bool heard_cancel(const DeviceRecord& record) {
    return std::any_of(record.messages.begin(), record.messages.end(), [](const Bytes& m) {
        return m.size() == 6 && m[1] == 0x7E && m[3] == 0x7D;
    });
}

TEST(SendEngine, HandshakeFaultMatrix) {
    // 1000 frames of 16 bits: 25 packets, numbered 0 to 24.
    const int last_packet = 24;
    DeviceFaults nak_last, nak_other_once, nak_names_another, wait, slow, cancel, silent_header,
        silent_later, unplug, other_channel;
    nak_last.nak_packet = last_packet;
    nak_other_once.nak_packet = 3;
    nak_names_another.nak_packet = 3;
    nak_names_another.nak_offset = 1;
    wait.wait_packet = 2;
    wait.wait_time = 300ms;  // far beyond the 65 ms an answer may take without WAIT
    slow.answer_delay = 300ms;
    cancel.cancel_packet = 4;
    silent_header.silent_from = -1;
    silent_later.silent_from = 5;
    unplug.unplug_packet = 6;
    other_channel.other_channel = true;
    const FaultCase cases[] = {
        fault("no fault", {}, true, false),
        fault("NAK of the last packet, sent again", nak_last, true, false),
        fault("NAK of another packet, sent again", nak_other_once, true, false),
        fault("NAK naming a packet not sent last", nak_names_another, false, true),
        fault("WAIT allows a late answer", wait, true, false),
        fault("slow device without WAIT times out", slow, false, true),
        fault("CANCEL", cancel, false, false, true),
        // The first header's answer is awaited longer, but not for ever.
        fault("silence after the first header times out", silent_header, false, true),
        fault("silence later times out", silent_later, false, true),
        fault("answers on another channel are not heard", other_channel, false, true),
        fault("port unplugged: no answer comes", unplug, false, false),
        extended(fault("no fault", {}, true, false)),
        extended(fault("NAK of the last packet, sent again", nak_last, true, false)),
        extended(fault("NAK of another packet, sent again", nak_other_once, true, false)),
        extended(fault("NAK naming a packet not sent last", nak_names_another, false, true)),
    };
    for (const FaultCase& c : cases) {
        SCOPED_TRACE(std::string(c.what) + (c.use_xsds ? ", extended header" : ""));
        DeviceConfig config;
        config.faults = c.faults;
        VirtualRig rig(config);
        rig.settings.ignore_hs = 0;
        rig.settings.use_xsds = c.use_xsds;
        rig.add("/d/s.wav", ramp_wav(1000));
        ASSERT_TRUE(rig.start_send());
        ASSERT_TRUE(rig.wait_send_end());
        const DeviceRecord got = rig.device_record();
        ASSERT_EQ(got.samples.size(), 1u);
        EXPECT_EQ(got.samples[0].complete, c.sample_complete);
        EXPECT_EQ(heard_cancel(got), c.cancel_heard);
        EXPECT_EQ(rig.state.sending.load(), 0);
        EXPECT_EQ(rig.state.cancel_request.load(), 0);
        EXPECT_EQ(rig.state.status_bits.load() & status_sending, 0);
        EXPECT_EQ((rig.state.status_bits.load() & status_remote_cancel) != 0, c.remote_cancel);
        EXPECT_EQ(rig.window.text(ids::send), "Send");
        // Time-outs, NAKs and CANCEL end the send without a message box.
        EXPECT_EQ(rig.state.reopen_in_before_send.load(), 0);
        EXPECT_TRUE(rig.window.message_boxes.empty());
        // "Sent: %i" only when the send ran to its end.
        EXPECT_EQ(status_text(rig) == "Sent: 1000", c.sample_complete);
    }
}

// A device that takes its time over every dump header (it makes room for the sample first) gets
// the header's answer window for each dump of a send, not only for the first.
TEST(SendEngine, EveryDumpHeaderMayTakeTheHeadersTimeToBeAnswered) {
    DeviceConfig config;
    config.faults.header_delay = 300ms;  // far beyond the 65 ms of a packet's answer
    VirtualRig rig(config);
    rig.settings.ignore_hs = 0;
    rig.add("/d/a.wav", ramp_wav(200));
    rig.add("/d/b.wav", ramp_wav(400));
    ASSERT_TRUE(rig.run_send());
    const DeviceRecord got = rig.device_record();
    ASSERT_EQ(got.samples.size(), 2u);
    EXPECT_TRUE(got.samples[0].complete);
    EXPECT_TRUE(got.samples[1].complete);
    EXPECT_FALSE(heard_cancel(got));
    EXPECT_EQ(status_text(rig), "Sent: 400");
}

TEST(SendEngine, NakOfTheLastMessageIsAnsweredAsOftenAsItComes) {
    DeviceConfig config;
    config.faults.nak_packet = 1;
    config.faults.nak_always = true;
    VirtualRig rig(config);
    rig.settings.ignore_hs = 0;
    rig.add("/d/s.wav", ramp_wav(200));
    ASSERT_TRUE(rig.start_send());
    // Packet 1 goes out again and again; each time the device says NAK.
    ASSERT_TRUE(rig.wait_for([&] { return rig.device.device().record().answers.size() > 50; }));
    request_cancel(rig.state);
    ASSERT_TRUE(rig.wait_send_end());
    EXPECT_EQ(rig.device_record().packets_taken, 1);
    // Stop Send in the middle of a dump tells the device.
    EXPECT_TRUE(heard_cancel(rig.device_record()));
}

TEST(SendEngine, WithoutTheHandshakeOnlyCancelIsHeard) {
    DeviceConfig nak_config;
    nak_config.faults.nak_packet = 1;
    nak_config.faults.nak_always = true;
    VirtualRig nak_rig(nak_config);
    nak_rig.add("/d/s.wav", ramp_wav(200));
    ASSERT_TRUE(nak_rig.run_send());
    EXPECT_EQ(status_text(nak_rig), "Sent: 200");  // the NAKs changed nothing

    // The cancel has to arrive while packets are still going: the wire is paced at x20.
    DeviceConfig cancel_config;
    cancel_config.faults.cancel_packet = 1;
    VirtualRig rig(cancel_config, true);
    rig.state.turbo_speed = 200;
    rig.loopback.set_device_speed(200);
    rig.add("/d/s.wav", ramp_wav(4000));  // 100 packets, 0.2 s on the wire
    ASSERT_TRUE(rig.run_send());
    EXPECT_NE(rig.state.status_bits.load() & status_remote_cancel, 0);
    EXPECT_EQ(status_text(rig), "");
    EXPECT_LT(rig.state.sent_count.load(), 4000);
}

TEST(SendEngine, PortUnpluggedDuringAnOpenLoopDumpIsAPortError) {
    // Without the handshake the next packet meets the pulled cable: paced at x20 so that packets
    // are still going when the device pulls it.
    DeviceConfig config;
    config.faults.unplug_packet = 3;
    VirtualRig rig(config, true);
    rig.state.turbo_speed = 200;
    rig.add("/d/s.wav", ramp_wav(4000));
    ASSERT_TRUE(rig.run_send());
    ASSERT_EQ(rig.window.message_boxes.size(), 1u);
    EXPECT_EQ(rig.window.message_boxes[0].text, "Virtual device: the MIDI cable is unplugged.");
    EXPECT_EQ(rig.window.message_boxes[0].caption, "Cancel");
    EXPECT_EQ(rig.window.message_boxes[0].icon, MessageIcon::exclamation);
    EXPECT_EQ(rig.state.reopen_in_before_send.load(), 1);
    EXPECT_EQ(rig.state.sending.load(), 0);
    EXPECT_EQ(rig.state.cancel_request.load(), 0);
    EXPECT_EQ(rig.window.text(ids::send), "Send");
    EXPECT_EQ(status_text(rig), "");
}

TEST(SendEngine, PortErrorIsAValueForWhoeverFollowsTheSend) {
    VirtualRig rig;
    rig.add("/d/a.syx", {0xF0, 0x01, 0xF7});
    open_midi_out(rig.ports);
    rig.loopback.set_unplugged(true);
    ASSERT_TRUE(rig.start_send());
    ASSERT_TRUE(rig.wait_for([&] { return rig.send_ended.load(); }));
    rig.send.join();
    // Nothing shown by the send itself; the error waits for whoever takes it.
    EXPECT_TRUE(rig.window.message_boxes.empty());
    EXPECT_EQ(rig.ports.errors.take(),
              (std::vector<PortError>{
                  {PortFault::out_send, "Virtual device: the MIDI cable is unplugged."}}));
    rig.tick();
    EXPECT_TRUE(rig.window.message_boxes.empty());  // taken: not shown as well
    EXPECT_EQ(rig.window.text(ids::send), "Send");
}

TEST(SendEngine, StopDuringAMessageDelayEndsTheSendWithoutTheSentText) {
    VirtualRig rig;
    rig.settings.midi_del = 60000;
    rig.add("/d/a.syx", {0xF0, 0x01, 0xF7, 0xF0, 0x02, 0xF7});
    ASSERT_TRUE(rig.start_send());
    ASSERT_TRUE(rig.wait_for([&] { return rig.device.device().record().sysex.size() == 1; }));
    request_cancel(rig.state);
    ASSERT_TRUE(rig.wait_send_end(5s));
    EXPECT_EQ(rig.device_record().sysex.size(), 1u);
    EXPECT_EQ(status_text(rig), "");
    EXPECT_EQ(rig.window.text(ids::send_counter), "(1/1)");
    EXPECT_EQ(rig.state.cancel_request.load(), 0);
}

TEST(SendEngine, PortErrorOnASysExEntryAsksForTheInputToBeReopened) {
    VirtualRig rig;
    rig.add("/d/a.syx", {0xF0, 0x01, 0xF7});
    open_midi_out(rig.ports);
    rig.loopback.set_unplugged(true);
    ASSERT_TRUE(rig.run_send());
    ASSERT_EQ(rig.window.message_boxes.size(), 1u);
    EXPECT_EQ(rig.window.message_boxes[0].caption, "Cancel");
    EXPECT_EQ(rig.window.message_boxes[0].icon, MessageIcon::exclamation);
    EXPECT_EQ(rig.state.reopen_in_before_send.load(), 1);
    EXPECT_EQ(rig.state.sending.load(), 0);
}

}  // namespace
}  // namespace jx
