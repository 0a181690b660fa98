#include "devsim/virtual_device.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "audio/sample_words.h"
#include "audio/sds.h"
#include "audio/sds_convert.h"
#include "audio/zbname.h"
#include "sample_file_maker.h"

namespace jx {
namespace {

using test::Bytes;

// The far end of the device's cable, as a list of what happened there.
struct RecordingLink : DeviceLink {
    std::vector<std::string> events;
    void send(const uint8_t* data, size_t length, std::chrono::milliseconds delay) override {
        std::string text = "send";
        char hex[4];
        for (size_t i = 0; i < length; ++i) {
            std::snprintf(hex, sizeof hex, " %02X", data[i]);
            text += hex;
        }
        if (delay.count()) text += " after " + std::to_string(delay.count()) + " ms";
        events.push_back(text);
    }
    void set_speed(int32_t speed) override { events.push_back("speed " + std::to_string(speed)); }
    void unplug() override { events.push_back("unplug"); }
};

void feed(VirtualDevice& device, const Bytes& bytes) {
    device.receive(bytes.data(), bytes.size());
}

TEST(VirtualDevice, AnswersTurboQueriesAndSwitchesAfterTheAnswer) {
    RecordingLink link;
    DeviceConfig config;
    config.highest_speed_index = 8;
    VirtualDevice device(link, config);
    feed(device, {0xF0, 0x00, 0x6B, 0x2E, 0x04, 0x00, 0x01, 0xF7});
    feed(device, {0xF0, 0x00, 0x6B, 0x2E, 0x04, 0x00, 0x03, 0x0B, 0xF7});
    feed(device, {0xF0, 0x00, 0x6B, 0x2E, 0x04, 0x00, 0x03, 0x00, 0xF7});
    EXPECT_EQ(link.events,
              (std::vector<std::string>{"send F0 00 6B 2E 04 00 02 01 F7", "speed 10",
                                        "send F0 00 6B 2E 04 00 02 08 F7", "speed 100",
                                        "send F0 00 6B 2E 04 00 02 01 F7", "speed 10"}));
    EXPECT_TRUE(device.record().sysex.empty());
}

// A 16-bit mono WAV of `frames` frames, and its dump as the send engine sends it.
Bytes dump_stream(int frames, uint8_t device_number, uint32_t name_value = 0) {
    Bytes data;
    for (int k = 0; k < frames; ++k) test::put(data, static_cast<uint32_t>(k * 100), 2, false);
    const Bytes file =
        test::riff({test::fmt_chunk(1, 1, 44100, 16), test::wav_chunk("data", data)});
    SampleConversion c;
    c.kind = sample_kind_of(file.data(), file.size());
    c.device = device_number;
    Bytes stream;
    convert_whole_sample(
        c, file.data(), file.size(), name_value, std::nullopt,
        [&](const uint8_t* m, size_t n) { stream.insert(stream.end(), m, m + n); });
    return stream;
}

// Every dump ends, complete or not: one cut off by the next dump's header, one its sender
// cancels; the dumps after them are taken as before.
TEST(VirtualDevice, EveryDumpEndsCompleteCancelledOrCutOff) {
    RecordingLink link;
    VirtualDevice device(link);
    const Bytes whole = dump_stream(100, 0);  // the header and 3 packets
    const size_t header_and_one_packet = whole.size() - 2 * 127;
    feed(device, Bytes(whole.begin(), whole.begin() + header_and_one_packet));
    feed(device, whole);  // its header cuts the first dump off
    feed(device, Bytes(whole.begin(), whole.begin() + header_and_one_packet));
    feed(device, {0xF0, 0x7E, 0x00, 0x7D, 0x01, 0xF7});  // the sender's CANCEL
    feed(device, whole);
    const DeviceRecord record = device.record();
    ASSERT_EQ(record.samples.size(), 4u);
    const auto ended = [](const ReceivedSample& s) {
        return s.complete ? "complete" : s.cancelled ? "cancelled" : s.cut_off ? "cut off" : "open";
    };
    EXPECT_STREQ(ended(record.samples[0]), "cut off");
    EXPECT_STREQ(ended(record.samples[1]), "complete");
    EXPECT_STREQ(ended(record.samples[2]), "cancelled");
    EXPECT_STREQ(ended(record.samples[3]), "complete");
    EXPECT_EQ(record.samples[0].words.size(), 40u);
}

TEST(VirtualDevice, TakesADumpInAnyPiecesAndAnswersEachPacket) {
    RecordingLink link;
    VirtualDevice device(link);
    const Bytes stream = dump_stream(100, 0, four_char_value("Snar"));  // 3 packets
    // Byte by byte, with a real-time byte between two of them.
    for (size_t i = 0; i < stream.size(); ++i) {
        device.receive(&stream[i], 1);
        if (i == 30) feed(device, {0xF8});
    }
    EXPECT_EQ(link.events,
              (std::vector<std::string>{"send F0 7E 00 7F 00 F7", "send F0 7E 00 7F 00 F7",
                                        "send F0 7E 00 7F 01 F7", "send F0 7E 00 7F 02 F7"}));
    const DeviceRecord got = device.record();
    ASSERT_EQ(got.samples.size(), 1u);
    const ReceivedSample& s = got.samples[0];
    EXPECT_TRUE(s.complete);
    EXPECT_EQ(s.rate, 44100);
    ASSERT_EQ(s.words.size(), 100u);
    EXPECT_EQ(s.words[99], 9900);
    ASSERT_TRUE(s.zbname.has_value());
    EXPECT_EQ(std::string(s.zbname->begin(), s.zbname->end()), "SNAR");
    EXPECT_TRUE(got.sysex.empty());
}

TEST(VirtualDevice, RejectsAWrongPacketNumberOrChecksumWithTheExpectedNumber) {
    const Bytes stream = dump_stream(100, 3);
    const size_t header = sds::header_size;
    struct Case {
        const char* what;
        size_t byte;  // offset in the first packet changed
        uint8_t value;
    };
    for (const Case& c : {Case{"packet number", 4, 0x05}, Case{"checksum", 125, 0x00},
                          Case{"a data byte", 10, 0x7F}}) {
        SCOPED_TRACE(c.what);
        RecordingLink link;
        DeviceConfig config;
        config.channel = 3;
        VirtualDevice device(link, config);
        Bytes bad(stream.begin() + header, stream.begin() + header + sds::packet_size);
        if (bad[c.byte] == c.value) bad[c.byte] ^= 1;
        bad[c.byte] = c.value;
        feed(device, Bytes(stream.begin(), stream.begin() + header));
        feed(device, bad);
        feed(device, Bytes(stream.begin() + header, stream.end()));
        EXPECT_EQ(link.events,
                  (std::vector<std::string>{"send F0 7E 03 7F 00 F7", "send F0 7E 03 7E 00 F7",
                                            "send F0 7E 03 7F 00 F7", "send F0 7E 03 7F 01 F7",
                                            "send F0 7E 03 7F 02 F7"}));
        EXPECT_TRUE(device.record().samples.at(0).complete);
    }
}

TEST(VirtualDevice, IgnoresDumpsForAnotherDeviceAndKeepsOtherSysEx) {
    RecordingLink link;
    VirtualDevice device(link);
    feed(device, dump_stream(100, 1));
    feed(device, {0xF0, 0x43, 0x10, 0x00, 0xF7, 0xF0, 0x01, 0x90, 0xF0, 0x02, 0xF7});
    EXPECT_TRUE(link.events.empty());
    const DeviceRecord got = device.record();
    EXPECT_TRUE(got.samples.empty());
    // A message cut short by a status byte is dropped.
    EXPECT_EQ(got.sysex, (std::vector<Bytes>{{0xF0, 0x43, 0x10, 0x00, 0xF7}, {0xF0, 0x02, 0xF7}}));
}

TEST(VirtualDevice, FaultsChangeTheAnswers) {
    struct Case {
        const char* what;
        DeviceFaults faults;
        std::vector<std::string> events;
    };
    DeviceFaults nak_once, wait, slow, other, cancel, silent, unplug;
    nak_once.nak_packet = 1;
    wait.wait_packet = 0;
    wait.wait_time = std::chrono::milliseconds(250);
    slow.answer_delay = std::chrono::milliseconds(40);
    other.other_channel = true;
    cancel.cancel_packet = 1;
    silent.silent_from = 1;
    unplug.unplug_packet = 2;
    const Case cases[] = {
        {"NAK once",
         nak_once,
         {"send F0 7E 00 7F 00 F7", "send F0 7E 00 7F 00 F7", "send F0 7E 00 7E 01 F7",
          "send F0 7E 00 7F 01 F7", "send F0 7E 00 7F 02 F7"}},
        {"WAIT",
         wait,
         {"send F0 7E 00 7F 00 F7", "send F0 7E 00 7C 00 F7", "send F0 7E 00 7F 00 F7 after 250 ms",
          "send F0 7E 00 7F 01 F7", "send F0 7E 00 7E 02 F7", "send F0 7E 00 7F 02 F7"}},
        {"slow",
         slow,
         {"send F0 7E 00 7F 00 F7 after 40 ms", "send F0 7E 00 7F 00 F7 after 40 ms",
          "send F0 7E 00 7F 01 F7 after 40 ms", "send F0 7E 00 7E 02 F7 after 40 ms",
          "send F0 7E 00 7F 02 F7 after 40 ms"}},
        {"another channel",
         other,
         {"send F0 7E 01 7F 00 F7", "send F0 7E 01 7F 00 F7", "send F0 7E 01 7F 01 F7",
          "send F0 7E 01 7E 02 F7", "send F0 7E 01 7F 02 F7"}},
        {"CANCEL",
         cancel,
         {"send F0 7E 00 7F 00 F7", "send F0 7E 00 7F 00 F7", "send F0 7E 00 7D 01 F7"}},
        {"silent", silent, {"send F0 7E 00 7F 00 F7", "send F0 7E 00 7F 00 F7"}},
        {"unplug",
         unplug,
         {"send F0 7E 00 7F 00 F7", "send F0 7E 00 7F 00 F7", "send F0 7E 00 7F 01 F7", "unplug"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RecordingLink link;
        DeviceConfig config;
        config.faults = c.faults;
        VirtualDevice device(link, config);
        // Packet 1 comes twice, as from a sender answering a NAK: a device that took it the
        // first time asks for packet 2 instead.
        Bytes stream = dump_stream(100, 0);
        const size_t second = sds::header_size + sds::packet_size;
        stream.insert(stream.begin() + second + sds::packet_size, stream.begin() + second,
                      stream.begin() + second + sds::packet_size);
        feed(device, stream);
        EXPECT_EQ(link.events, c.events);
    }
}

}  // namespace
}  // namespace jx
