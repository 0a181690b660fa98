#include "midi/sds_receive.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "audio/extended80.h"
#include "audio/sample_words.h"
#include "audio/sds_convert.h"
#include "midi/recorder.h"
#include "platform/window/dialog_ids.h"
#include "recorder_rig.h"
#include "sample_file_maker.h"
#include "sds_dump_maker.h"

namespace jx {
namespace {

using test::cat;
using test::DumpFields;
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

const DumpFields dump12{.device = 5, .bits = 12, .samples = test::sweep(12, 120)};
const DumpFields dump16{.device = 5, .bits = 16, .samples = test::sweep(16, 120)};

// The extended dump header of the dump: the rate in hertz and the length in 35 bits, the sample
// number's high part first.
Stream extended_header(const DumpFields& d, uint32_t rate, uint64_t length, uint8_t channels = 1) {
    Stream m = {0xF0, 0x7E, d.device, 0x05, 0x05, 0x00, 0x05, static_cast<uint8_t>(d.bits)};
    test::groups(m, rate, 4);
    test::groups(m, 0, 4);
    for (int k = 0; k < 5; ++k) m.push_back((length >> (7 * k)) & 0x7F);
    test::groups(m, static_cast<uint32_t>(d.loop_start), 5);
    test::groups(m, static_cast<uint32_t>(d.loop_end), 5);
    m.push_back(d.loop_type);
    m.push_back(channels);
    m.push_back(0xF7);
    return m;
}
Stream extended_header(const DumpFields& d, uint32_t rate) {
    return extended_header(d, rate, d.samples.size());
}

Stream sample_name(const DumpFields& d, const std::string& name) {
    Stream m = {
        0xF0, 0x7E, d.device, 0x05, 0x03, 0x00, 0x05, 0x00, static_cast<uint8_t>(name.size())};
    for (char ch : name) m.push_back(static_cast<uint8_t>(ch));
    m.push_back(0xF7);
    return m;
}

// Every data packet of the dump, one after the other.
Stream packets(const DumpFields& d) {
    Stream s;
    for (size_t k = 0; k < test::packet_count(d); ++k) s = cat({s, test::data_packet(d, k)});
    return s;
}

struct HandshakeCase {
    const char* what;
    bool handshake;
    std::vector<Stream> messages;  // one input buffer each
    Replies replies;
    bool still_recording;
    size_t entries;  // after the messages, before any stop
};

TEST(SdsReceive, AnswersEveryMessageUnderTheHandshake) {
    const DumpFields& d = dump16;
    const Stream header = test::dump_header(d);
    const Stream p0 = test::data_packet(d, 0), p1 = test::data_packet(d, 1),
                 p2 = test::data_packet(d, 2);
    const Stream extended = extended_header(d, 44100);
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
         {test::dump_header(DumpFields{.bits = 29, .samples = {1}})},
         {"NAK 0"},
         true,
         0},
        {"a header cut short is refused",
         true,
         {Stream(header.begin(), header.begin() + 12)},
         {"NAK 0"},
         true,
         0},
        {"an extended header cut short is refused",
         true,
         // Of the length of a plain header, which it is not.
         {Stream(extended.begin(), extended.begin() + 20)},
         {"NAK 0"},
         true,
         0},
        {"an extended header of two channels is refused, and its packets with it",
         true,
         {extended_header(d, 44100, 120, 2), p0},
         {"NAK 0", "NAK 0"},
         true,
         0},
        {"an extended header and its name are each answered",
         true,
         {extended, sample_name(d, "Kick"), p0, p1, p2},
         {"ACK 0", "ACK 0", "ACK 0", "ACK 1", "ACK 2"},
         true,
         1},
        {"a packet before any header is refused",
         true,
         {test::data_packet(DumpFields{.samples = {1}}, 0)},
         {"NAK 0"},
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
    EXPECT_EQ(rig.shown(ids::status), "Received: 3 bytes.");
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

TEST(SdsReceive, PlainSysexDuringAnImageFollowsItInsteadOfJoiningTheSamples) {
    const Stream plain = {0xF0, 0x01, 0x02, 0xF7};
    const Stream h = test::dump_header(dump16), p0 = test::data_packet(dump16, 0),
                 p1 = test::data_packet(dump16, 1), p2 = test::data_packet(dump16, 2);
    for (int32_t format : {rec_wav, rec_aiff}) {
        SCOPED_TRACE(format);
        RecorderRig clean(format);
        clean.record(cat({h, p0, p1, p2}));
        ASSERT_EQ(clean.entries().size(), 1u);
        RecorderRig rig(format);
        rig.record(cat({h, p0, plain, p1, plain, p2, h, p0}));
        auto entries = rig.entries();
        ASSERT_EQ(entries.size(), 3u);
        EXPECT_EQ(entries[0].data, clean.entries()[0].data);
        // The held SysEx starts the next buffer, which the next dump header stores on its own.
        EXPECT_EQ(entries[1].data, cat({plain, plain}));
        EXPECT_EQ(entries[2].data[0], format == rec_wav ? 'R' : 'F');
        // A new dump header instead of the image's end: the cut-off image, the held SysEx on its
        // own, then the new dump whole, as after an image that ended.
        RecorderRig cut(format);
        cut.record(cat({h, p0}));
        ASSERT_EQ(cut.entries().size(), 1u);
        RecorderRig restarted(format);
        restarted.record(cat({h, p0, plain, h, p0, p1, p2}));
        entries = restarted.entries();
        ASSERT_EQ(entries.size(), 3u);
        EXPECT_EQ(entries[0].data, cut.entries()[0].data);
        EXPECT_EQ(entries[1], (test::ReceivedEntry{"unnamed2", plain}));
        EXPECT_EQ(entries[2].data, clean.entries()[0].data);
        RecorderRig stopped(format);
        stopped.record(cat({h, p0, plain}));
        entries = stopped.entries();
        ASSERT_EQ(entries.size(), 2u);
        EXPECT_EQ(entries[1].data, plain);
        EXPECT_EQ(entries[1].name, "unnamed2");
    }
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
            const DumpFields d{.bits = bits, .samples = test::sweep(bits, 97)};
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
        rig.record(test::whole_dump(DumpFields{.period = c.period, .samples = {1, 2, 3}}));
        ASSERT_EQ(rig.entries().size(), 1u);
        const Stream wav = rig.entries()[0].data;
        EXPECT_EQ(wav[24] | wav[25] << 8 | wav[26] << 16 | uint32_t(wav[27]) << 24, c.rate);
    }
}

TEST(SdsReceive, PeriodOrRateZeroIsRefusedForFileImagesAndRecordedAsSds) {
    const DumpFields d{.period = 0, .samples = {1, 2, 3}};
    // The plain header without a period, and the extended one without a rate.
    for (const Stream& dump : {test::whole_dump(d), cat({extended_header(d, 0), packets(d)})}) {
        SCOPED_TRACE(dump.size());
        for (int32_t format : {rec_wav, rec_aiff}) {
            RecorderRig rig(format, true, true);
            rig.record(dump);
            // Its packet cannot be placed either; the stop cancels what the device still sends.
            EXPECT_EQ(rig.replies(), Replies({"NAK 0", "NAK 0", "CANCEL 0"}));
            EXPECT_TRUE(rig.entries().empty());
        }
        RecorderRig rig(rec_sds, true, true);
        rig.record(dump);
        EXPECT_EQ(rig.replies(), Replies({"ACK 0", "ACK 0"}));
        ASSERT_EQ(rig.entries().size(), 1u);
        EXPECT_EQ(rig.entries()[0].data, dump);
    }
}

TEST(SdsReceive, PacketNumbersWrapAfter127) {
    const DumpFields d{.bits = 8, .samples = test::sweep(8, 60 * 130)};
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

// A mono WAV file of the samples at `rate`, with a forward loop 10 ... 90 when `looped`.
Stream wav_file(int bits, uint32_t rate, bool looped, const std::vector<int32_t>& samples) {
    using test::Bytes;
    const int fb = (bits + 7) / 8;
    Bytes data;
    for (int32_t s : samples)
        test::put(data, static_cast<uint32_t>(fb == 1 ? s + 128 : s), fb, false);
    const Bytes smpl =
        looped ? test::smpl_chunk(sample_period(static_cast<int32_t>(rate)), {{0, 10, 90}})
               : Bytes{};
    return test::riff({test::fmt_chunk(1, 1, rate, static_cast<uint32_t>(8 * fb)), smpl,
                       test::wav_chunk("data", data)});
}

// What our sender sends for the file without the handshake: a dump header, or with a name the
// extended dump header and the sample name message.
Stream sent_dump(const Stream& file, std::optional<std::string_view> name) {
    SampleConversion c;
    c.kind = sample_kind_of(file.data(), file.size());
    c.device = 5;
    Stream out;
    convert_whole_sample(c, file.data(), file.size(), 0, name,
                         [&](const uint8_t* m, size_t n) { out.insert(out.end(), m, m + n); });
    return out;
}

uint32_t le32(const Stream& s, size_t at) {
    return s[at] | s[at + 1] << 8 | s[at + 2] << 16 | uint32_t{s[at + 3]} << 24;
}

// The image with its rate fields blanked: all that the two header forms must give alike.
Stream without_rate(Stream image, bool aiff) {
    const size_t from = aiff ? 28 : 24, to = aiff ? 38 : 32;
    for (size_t k = from; k < to; ++k) image[k] = 0;
    return image;
}

TEST(SdsReceive, OurExtendedDumpGivesWhatOurPlainOneGivesWithTheExactRate) {
    const struct {
        int bits;
        uint32_t rate;
        bool looped;
        size_t frames;
        uint32_t period;  // nanoseconds, the nearest whole one for the rate
    } cases[] = {{16, 44100, true, 100, 22676},
                 {24, 96000, true, 95, 10417},
                 {8, 8000, false, 130, 125000},
                 {16, 11025, true, 91, 90703}};
    for (const auto& c : cases) {
        const Stream file = wav_file(c.bits, c.rate, c.looped, test::sweep(c.bits, c.frames));
        const Stream plain = sent_dump(file, std::nullopt);
        const Stream extended = sent_dump(file, "Kick drum");
        ASSERT_FALSE(plain.empty());
        ASSERT_EQ(extended[3], 0x05);
        for (int32_t format : {rec_sds, rec_none, rec_wav, rec_aiff}) {
            SCOPED_TRACE(std::to_string(c.rate) + " format " + std::to_string(format));
            RecorderRig plain_rig(format, true, true), rig(format, true, true);
            plain_rig.record(plain);
            // Twice, one after the other: each dump is an entry of its own.
            rig.record(cat({extended, extended}));
            // One answer more for each name message; none refused.
            Replies replies = plain_rig.replies();
            replies.insert(replies.begin(), "ACK 0");
            const Replies once = replies;
            replies.insert(replies.end(), once.begin(), once.end());
            EXPECT_EQ(rig.replies(), replies);
            const auto entries = rig.entries();
            ASSERT_EQ(plain_rig.entries().size(), 1u);
            if (format == rec_none) {
                ASSERT_EQ(entries.size(), 1u);
                EXPECT_EQ(entries[0].data, cat({extended, extended}));
                continue;
            }
            ASSERT_EQ(entries.size(), 2u);
            EXPECT_EQ(entries[0].data, entries[1].data);
            const Stream image = entries[0].data;
            if (format == rec_sds) {
                EXPECT_EQ(image, extended);
                continue;
            }
            const bool aiff = format == rec_aiff;
            const Stream plain_image = plain_rig.entries()[0].data;
            EXPECT_EQ(without_rate(image, aiff), without_rate(plain_image, aiff));
            if (aiff) {
                EXPECT_EQ(read_extended80(&image[28]), static_cast<int32_t>(c.rate));
            } else {
                EXPECT_EQ(le32(image, 24), c.rate);
                EXPECT_EQ(le32(image, 28), c.rate * ((c.bits + 7) / 8));
                if (c.looped) {
                    EXPECT_EQ(le32(image, 52), c.period);
                }
            }
        }
    }
}

TEST(SdsReceive, SampleNameIsKeptOnlyRightAfterItsHeader) {
    const DumpFields d = dump16;
    const Stream h = extended_header(d, 44100), name = sample_name(d, "Snare"),
                 p0 = test::data_packet(d, 0),
                 rest = cat({test::data_packet(d, 1), test::data_packet(d, 2)});
    const Stream long_name = sample_name(d, std::string(127, 'x'));
    const struct {
        const char* what;
        Stream stream;
        Stream kept;
    } cases[] = {
        {"after the header", cat({h, name, p0, rest}), cat({h, name, p0, rest})},
        {"after a plain header too", cat({test::dump_header(d), name, p0, rest}),
         cat({test::dump_header(d), name, p0, rest})},
        {"not among the packets", cat({h, p0, name, rest}), cat({h, p0, rest})},
        {"not longer than what is kept of a message", cat({h, long_name, p0, rest}),
         cat({h, p0, rest})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        RecorderRig rig(rec_sds, true, true);
        rig.record(c.stream);
        ASSERT_EQ(rig.entries().size(), 1u);
        EXPECT_EQ(rig.entries()[0].data, c.kept);
        EXPECT_EQ(rig.replies().back(), "ACK 2") << "every message answered, none refused";
    }
}

TEST(SdsReceive, NewExtendedHeaderStoresTheCutOffDumpAndForgetsItsName) {
    const DumpFields d = dump16;
    const Stream first = cat({extended_header(d, 44100), sample_name(d, "A"),
                              test::name_message("KICK"), test::data_packet(d, 0)});
    const Stream second = cat({extended_header(d, 48000), sample_name(d, "B"), packets(d)});
    RecorderRig rig(rec_sds, true, true);
    rig.record(cat({first, second}));
    const auto entries = rig.entries();
    ASSERT_EQ(entries.size(), 2u);
    // The maker's name message is not part of the dump: the SDS form keeps its own messages.
    EXPECT_EQ(entries[0].data,
              cat({extended_header(d, 44100), sample_name(d, "A"), test::data_packet(d, 0)}));
    EXPECT_EQ(entries[0].name, "KICK");
    EXPECT_EQ(entries[1].data, second);
    EXPECT_EQ(entries[1].name, "unnamed2");
}

// The sample name message names an entry stored as an image, which has no room for it; the SDS
// form keeps the message in the data and the usual name.
TEST(SdsReceive, SampleNameNamesTheImage) {
    const DumpFields d = dump16;
    const Stream stream = cat({extended_header(d, 44100), sample_name(d, "Snare"), packets(d)});
    for (const auto& [format, name] : {std::pair{rec_wav, "Snare"}, std::pair{rec_aiff, "Snare"},
                                       std::pair{rec_sds, "unnamed1"}}) {
        SCOPED_TRACE(format);
        RecorderRig rig(format, true, true);
        rig.record(stream);
        ASSERT_EQ(rig.entries().size(), 1u);
        EXPECT_EQ(rig.entries()[0].name, name);
    }
}

// An entry stored before its dump was complete (recording stopped, a new dump begun) is noted with
// the frames it holds and those announced; a complete dump is not.
TEST(SdsReceive, DumpsCutOffAreNotedWithTheirFrames) {
    const DumpFields d = dump16;  // 120 frames, 40 a packet
    const Stream two_packets =
        cat({test::dump_header(d), test::data_packet(d, 0), test::data_packet(d, 1)});
    const Stream whole = cat({test::dump_header(d), packets(d)});
    const struct {
        const char* what;
        Stream stream;
        std::vector<std::pair<int32_t, int32_t>> notes;  // per cut-off entry: frames, announced
    } cases[] = {
        {"complete", whole, {}},
        {"stopped after two packets", two_packets, {{80, 120}}},
        {"followed by a new dump", cat({two_packets, whole}), {{80, 120}}},
    };
    for (const auto& c : cases) {
        for (int32_t format : {rec_sds, rec_wav, rec_aiff}) {
            SCOPED_TRACE(std::string(c.what) + " format " + std::to_string(format));
            RecorderRig rig(format, true, true);
            rig.record(c.stream);
            std::vector<std::pair<int32_t, int32_t>> notes;
            for (const PartialDump& p : rig.recorder.partial_dumps) {
                notes.emplace_back(p.frames, p.announced);
                EXPECT_EQ(p.entry, rig.list.items.front().entry.get());
            }
            EXPECT_EQ(notes, c.notes);
        }
    }
}

// A length the receive buffer cannot hold, up to the largest the header carries: the buffer fills,
// recording stops, and what fits is kept, an image with sizes that match what it holds.
TEST(SdsReceive, ExtendedLengthBeyondTheBufferFillsItAndStops) {
    const DumpFields d{.bits = 28, .samples = {}};
    const uint64_t lengths[] = {uint64_t{1} << 30, (uint64_t{1} << 35) - 1};
    Stream body;
    for (size_t k = 0; k < receive_length_limit / 120 + 4; ++k) {
        const Stream packet = test::data_packet(d, k);
        body.insert(body.end(), packet.begin(), packet.end());
    }
    for (uint64_t length : lengths) {
        for (int32_t format : {rec_sds, rec_wav, rec_aiff}) {
            SCOPED_TRACE(std::to_string(length) + " format " + std::to_string(format));
            const Stream stream = cat({extended_header(d, 44100, length), body});
            RecorderRig rig(format);
            start_recording(rig.recorder);
            rig.feed(stream);
            EXPECT_FALSE(is_recording(rig.recorder));
            const auto entries = rig.entries();
            ASSERT_EQ(entries.size(), 1u);
            const Stream& image = entries[0].data;
            ASSERT_EQ(image.size(), static_cast<size_t>(receive_length_limit));
            if (format == rec_sds) {
                EXPECT_TRUE(std::equal(image.begin(), image.end(), stream.begin()));
            } else if (format == rec_wav) {
                EXPECT_EQ(le32(image, 4), image.size() - 8);
                EXPECT_EQ(le32(image, 40), image.size() - 44);
            } else {
                auto be32 = [&](size_t at) {
                    return uint32_t{image[at]} << 24 | image[at + 1] << 16 | image[at + 2] << 8 |
                           image[at + 3];
                };
                EXPECT_EQ(be32(4), image.size() - 8);
                EXPECT_EQ(be32(22), (image.size() - 54) / 4);  // frames
                EXPECT_EQ(be32(42), image.size() - 46);
            }
        }
    }
}

}  // namespace
}  // namespace jx
