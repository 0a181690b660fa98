#include "midi/sds_receive.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "midi/recorder.h"
#include "platform/dialog_ids.h"
#include "recorder_rig.h"
#include "sds_dump_maker.h"

namespace jx {
namespace {

using test::cat;
using test::DumpSpec;
using test::RecorderRig;
using test::Stream;
using Replies = std::vector<std::string>;

Stream with_checksum_broken(Stream packet) {
    packet[125] ^= 0x01;
    return packet;
}

Stream renumbered(Stream packet, uint8_t number) {
    packet[4] = number;
    packet[125] = test::checksum(packet);
    return packet;
}

const DumpSpec dump12{.device = 5, .bits = 12, .samples = test::sweep(12, 120)};
const DumpSpec dump16{.device = 5, .bits = 16, .samples = test::sweep(16, 120)};

struct HandshakeCase {
    const char* what;
    bool handshake;
    std::vector<Stream> messages;  // one input buffer each
    Replies replies;
    bool still_recording;
    size_t entries;  // after the messages, before any stop
};

TEST(SdsReceive, AnswersEveryMessageUnderTheHandshake) {
    const DumpSpec& d = dump16;
    const Stream header = test::dump_header(d);
    const Stream p0 = test::data_packet(d, 0), p1 = test::data_packet(d, 1),
                 p2 = test::data_packet(d, 2);
    const HandshakeCase cases[] = {
        {"12 bits: two packets of 60",
         true,
         {test::dump_header(dump12), test::data_packet(dump12, 0), test::data_packet(dump12, 1)},
         {"ACK 0", "ACK 0", "ACK 1"},
         true,
         1},
        {"16 bits: three packets of 40",
         true,
         {header, p0, p1, p2},
         {"ACK 0", "ACK 0", "ACK 1", "ACK 2"},
         true,
         1},
        {"a wrong packet number gets a NAK with the one expected",
         true,
         {header, p0, renumbered(p2, 2), p1, p2},
         {"ACK 0", "ACK 0", "NAK 1", "ACK 1", "ACK 2"},
         true,
         1},
        {"a bad checksum gets a NAK",
         true,
         {header, with_checksum_broken(p0), p0, p1, p2},
         {"ACK 0", "NAK 0", "ACK 0", "ACK 1", "ACK 2"},
         true,
         1},
        {"the third rejection in a row gives up with CANCEL",
         true,
         {header, p0, p2, p2, p2, p1},
         {"ACK 0", "ACK 0", "NAK 1", "NAK 1", "CANCEL 1"},
         false,
         1},
        {"an ACK between rejections starts the count again",
         true,
         {header, p1, p1, p0, p2, p2, p1, p2},
         {"ACK 0", "NAK 0", "NAK 0", "ACK 0", "NAK 1", "NAK 1", "ACK 1", "ACK 2"},
         true,
         1},
        {"a packet cut short is refused",
         true,
         {header, Stream(p0.begin(), p0.begin() + 60), p0},
         {"ACK 0", "NAK 0", "ACK 0"},
         true,
         0},
        {"the device's own ACK, WAIT and CANCEL are answered with ACK",
         true,
         {header, test::handshake(0x7F, 5, 0), test::handshake(0x7C, 5, 0),
          test::handshake(0x7D, 5, 0)},
         {"ACK 0", "ACK 0", "ACK 0", "ACK 0"},
         true,
         0},
        {"without the handshake nothing is answered", false, {header, p0, p1, p2}, {}, true, 1},
        {"without the handshake the first rejection stops, with CANCEL",
         false,
         {header, p0, with_checksum_broken(p1)},
         {"CANCEL 1"},
         false,
         1},
        {"a header with more than 28 bits is refused",
         true,
         {test::dump_header(DumpSpec{.bits = 29, .samples = {1}})},
         {"NAK 0"},
         true,
         0},
        {"a header cut short is refused",
         true,
         {Stream(header.begin(), header.begin() + 12)},
         {"NAK 0"},
         true,
         0},
        {"a packet before any header is passed over",
         true,
         {test::data_packet(DumpSpec{.samples = {1}}, 0)},
         {"ACK 0"},
         true,
         0},
    };
    for (const HandshakeCase& c : cases) {
        SCOPED_TRACE(c.what);
        RecorderRig rig(rec_sds, c.handshake, true);
        start_recording(rig.recorder);
        for (const Stream& m : c.messages) {
            Stream buffer = m;
            if (buffer.back() != 0xF7) buffer.push_back(0xF7);
            rig.feed_each({buffer});
        }
        EXPECT_EQ(rig.replies(), c.replies);
        EXPECT_EQ(is_recording(rig.recorder), c.still_recording);
        EXPECT_EQ(rig.entries().size(), c.entries);
        for (const auto& reply : rig.capture.messages())
            EXPECT_EQ(reply[2], c.messages[0][2]) << "replies go to the header's device";
    }
}

TEST(SdsReceive, CompleteDumpIsItsOwnMessagesInSdsForm) {
    RecorderRig rig(rec_sds, true, true);
    start_recording(rig.recorder);
    const Stream plain = {0xF0, 0x01, 0xF7};
    rig.feed(cat({plain, test::whole_dump(dump12), plain}));
    stop_recording(rig.recorder);
    const auto entries = rig.entries();
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].data, plain);  // what came before the header is an entry of its own
    EXPECT_EQ(entries[1].data, test::whole_dump(dump12));
    EXPECT_EQ(entries[2].data, plain);
    EXPECT_EQ(rig.window.text(ids::status), "Received: 3 bytes.");
}

TEST(SdsReceive, FormatNoneKeepsTheWholeRecordingAsOneEntry) {
    RecorderRig rig(rec_none, true, true);
    const Stream plain = {0xF0, 0x01, 0xF7};
    const Stream named = cat({test::dump_header(dump12), test::name_message("KICK")});
    Stream all = cat({plain, named});
    for (size_t k = 0; k < test::packet_count(dump12); ++k)
        all = cat({all, test::data_packet(dump12, k)});
    all = cat({all, test::whole_dump(dump16)});
    start_recording(rig.recorder);
    rig.feed(all);
    EXPECT_TRUE(rig.entries().empty());
    stop_recording(rig.recorder);
    const auto entries = rig.entries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].name, "unnamed1");
    EXPECT_EQ(entries[0].data, all);  // the name message too, as plain SysEx
}

TEST(SdsReceive, StopInTheMiddleCancelsAndKeepsThePartialDump) {
    RecorderRig rig(rec_sds, true, true);
    start_recording(rig.recorder);
    rig.feed(cat({test::dump_header(dump16), test::data_packet(dump16, 0)}));
    stop_recording(rig.recorder);
    EXPECT_EQ(rig.replies(), Replies({"ACK 0", "ACK 0", "CANCEL 0"}));
    ASSERT_EQ(rig.entries().size(), 1u);
    EXPECT_EQ(rig.entries()[0].data,
              cat({test::dump_header(dump16), test::data_packet(dump16, 0)}));
    // A later close of the input, outside a recording, sends no second CANCEL.
    stop_recording(rig.recorder);
    EXPECT_EQ(rig.replies().size(), 3u);
}

// The image's data: what follows the file header.
Stream image_data(const Stream& image, bool aiff) {
    const size_t start =
        aiff ? (image.size() >= 116 && image[38] == 'I' ? 116 : 54) : (image[36] == 's' ? 112 : 44);
    return Stream(image.begin() + static_cast<long>(start), image.end());
}

// The bytes a sample must become in the file, worked out from its value alone.
Stream expected_sample_bytes(int32_t s, int bits, bool aiff) {
    const int fb = (bits + 7) / 8;
    uint32_t v = static_cast<uint32_t>(s) << (8 * fb - bits);
    if (!aiff && fb == 1) v = static_cast<uint32_t>(s + (1 << (bits - 1))) << (8 - bits);
    Stream out;
    for (int b = 0; b < fb; ++b)
        out.push_back(static_cast<uint8_t>(v >> (8 * (aiff ? fb - 1 - b : b))));
    return out;
}

TEST(SdsReceive, SamplesAreDecodedLeftJustifiedInTheFileBytes) {
    for (int bits : {5, 8, 12, 14, 15, 16, 20, 21, 22, 24, 28}) {
        for (bool aiff : {false, true}) {
            SCOPED_TRACE(std::to_string(bits) + (aiff ? " AIFF" : " WAV"));
            // A length that is not a multiple of the packet's words: the rest is not written.
            const DumpSpec d{.bits = bits, .samples = test::sweep(bits, 97)};
            RecorderRig rig(aiff ? rec_aiff : rec_wav);
            rig.record(test::whole_dump(d));
            ASSERT_EQ(rig.entries().size(), 1u);
            Stream expected;
            for (int32_t s : d.samples)
                expected = cat({expected, expected_sample_bytes(s, bits, aiff)});
            EXPECT_EQ(image_data(rig.entries()[0].data, aiff), expected);
        }
    }
}

TEST(SdsReceive, RateIsTheNearestWholeHertzWithTheCommonRatesKept) {
    const struct {
        int32_t period;
        uint32_t rate;
    } cases[] = {{22676, 44100}, {20833, 48000},  {31250, 32000},
                 {22675, 44101}, {1, 1000000000}, {2097151, 477}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.period);
        RecorderRig rig(rec_wav);
        rig.record(test::whole_dump(DumpSpec{.period = c.period, .samples = {1, 2, 3}}));
        ASSERT_EQ(rig.entries().size(), 1u);
        const Stream& wav = rig.entries()[0].data;
        EXPECT_EQ(wav[24] | wav[25] << 8 | wav[26] << 16 | uint32_t(wav[27]) << 24, c.rate);
    }
}

TEST(SdsReceive, PeriodZeroIsRefusedForFileImagesAndRecordedAsSds) {
    const DumpSpec d{.period = 0, .samples = {1, 2, 3}};
    for (int32_t format : {rec_wav, rec_aiff}) {
        RecorderRig rig(format, true, true);
        rig.record(test::whole_dump(d));
        // The packet is passed over; the stop cancels what the device may still send.
        EXPECT_EQ(rig.replies(), Replies({"NAK 0", "ACK 0", "CANCEL 0"}));
        EXPECT_TRUE(rig.entries().empty());
    }
    RecorderRig rig(rec_sds, true, true);
    rig.record(test::whole_dump(d));
    EXPECT_EQ(rig.replies(), Replies({"ACK 0", "ACK 0"}));
    ASSERT_EQ(rig.entries().size(), 1u);
    EXPECT_EQ(rig.entries()[0].data, test::whole_dump(d));
}

TEST(SdsReceive, PacketNumbersWrapAfter127) {
    const DumpSpec d{.bits = 8, .samples = test::sweep(8, 60 * 130)};
    RecorderRig rig(rec_wav, true, true);
    rig.record(test::whole_dump(d));
    const Replies replies = rig.replies();
    ASSERT_EQ(replies.size(), 131u);
    EXPECT_EQ(replies[128], "ACK 127");
    EXPECT_EQ(replies[129], "ACK 0");
    EXPECT_EQ(replies[130], "ACK 1");
    ASSERT_EQ(rig.entries().size(), 1u);
    EXPECT_EQ(rig.entries()[0].data.size(), 44u + 60 * 130);
}

}  // namespace
}  // namespace jx
