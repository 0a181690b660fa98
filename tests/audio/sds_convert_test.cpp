#include "audio/sds_convert.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "audio/sample_words.h"
#include "sample_file_maker.h"
#include "sds_stream.h"

namespace jx {
namespace {

using test::Bytes;

// Little-endian samples of `bytes` bytes each, channels interleaved; 8-bit WAV data is unsigned.
Bytes le_samples(const std::vector<int64_t>& values, int bytes) {
    Bytes out;
    for (int64_t v : values)
        test::put(out, static_cast<uint32_t>(v + (bytes == 1 ? 128 : 0)), bytes, false);
    return out;
}

Bytes wav(int channels, int bits, const std::vector<int64_t>& values,
          std::initializer_list<Bytes> extra = {}) {
    Bytes file = test::riff({test::fmt_chunk(1, channels, 44100, bits),
                             test::wav_chunk("data", le_samples(values, (bits + 7) / 8))});
    for (const Bytes& chunk : extra) file.insert(file.end(), chunk.begin(), chunk.end());
    // The RIFF size covers the chunks appended after `data`.
    uint32_t riff_size = static_cast<uint32_t>(file.size() - 8);
    for (int k = 0; k < 4; ++k) file[4 + k] = static_cast<uint8_t>(riff_size >> (8 * k));
    return file;
}

// A ramp of n mono 16-bit values that never repeats a value within a dump.
std::vector<int64_t> ramp(int n) {
    std::vector<int64_t> v(n);
    for (int k = 0; k < n; ++k) v[k] = k * 7 - 20000;
    return v;
}

// The whole dump as the send engine sends it without the handshake.
Bytes dump_of(const Bytes& file, SampleConversion c, uint32_t name_value = 0,
              std::optional<std::string_view> name = std::nullopt) {
    c.kind = sample_kind_of(file.data(), file.size());
    Bytes out;
    convert_whole_sample(c, file.data(), file.size(), name_value, name,
                         [&](const uint8_t* m, size_t n) { out.insert(out.end(), m, m + n); });
    return out;
}

// The send engine's variables for one entry, stepped one call at a time.
struct Stepper {
    SampleConversion c;
    size_t position = 0, length;
    const uint8_t* buffer;
    Stepper(const Bytes& file, SampleConversion options)
        : c(options), length(file.size()), buffer(file.data()) {
        c.kind = sample_kind_of(file.data(), file.size());
    }
    size_t step(uint32_t name_value = 0, std::optional<std::string_view> name = std::nullopt) {
        return convert_sample_step(c, position, length, buffer, name_value, name);
    }
    Bytes message(size_t size) const { return Bytes(buffer, buffer + size); }
};

TEST(SdsConvert, SixteenBitMonoOfAHundredFramesStepByStep) {
    std::vector<int64_t> values = ramp(100);
    Bytes file = wav(1, 16, values);
    Stepper s(file, {});
    ASSERT_EQ(s.step(), 21u);
    EXPECT_EQ(s.position, 1u);
    EXPECT_EQ(s.length, 100u);
    ASSERT_EQ(s.buffer, s.c.dump.header.data());
    // Sample number 0, 16 bits, period 22676 ns, length 100, loop 0 … 99, no loop (7F).
    EXPECT_EQ(s.message(21),
              (Bytes{0xF0, 0x7E, 0x00, 0x01, 0x00, 0x00, 0x10, 0x14, 0x31, 0x01, 0x64,
                     0x00, 0x00, 0x00, 0x00, 0x00, 0x63, 0x00, 0x00, 0x7F, 0xF7}));

    std::vector<int32_t> words;
    for (int packet = 0; packet < 3; ++packet) {
        ASSERT_EQ(s.step(), 127u);
        EXPECT_EQ(s.buffer, s.c.dump.packet.data());
        EXPECT_EQ(s.position, 40u * (packet + 1));
        EXPECT_EQ(s.message(5), (Bytes{0xF0, 0x7E, 0x00, 0x02, uint8_t(packet)}));
        for (int k = 0; k < 40; ++k)
            words.push_back(test::receive_word(s.buffer + 5 + 3 * k, 16, 3));
    }
    EXPECT_GE(s.position, s.length);  // the send engine stops here
    std::vector<int32_t> want(values.begin(), values.end());
    want.resize(120, 0);  // frames 80 … 99, then 20 zero words
    EXPECT_EQ(words, want);
}

TEST(SdsConvert, ChannelModesMixTruncateOrChoose) {
    struct Case {
        const char* what;
        int channels, bits;
        std::vector<int64_t> frames;  // interleaved
        std::vector<int32_t> both, left, right;
    } cases[] = {
        {"stereo", 2, 16, {1000, -1000, 3, 0, -3, 0}, {0, 1, -1}, {1000, 3, -3}, {-1000, 0, 0}},
        // The sum of two 32-bit samples does not fit 32 bits; the words go out as 28 bits.
        {"stereo 32-bit",
         2,
         32,
         {INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN, INT32_MAX, -16},
         {0x7FFFFFF, -0x8000000, 0x3FFFFFF},
         {0x7FFFFFF, -0x8000000, 0x7FFFFFF},
         {0x7FFFFFF, -0x8000000, -1}},
        {"four channels",
         4,
         16,
         {100, 200, 300, 400, -5, 6, 7, 8},
         {100, -5},
         {100, -5},
         {100, -5}},
    };
    for (const Case& c : cases) {
        Bytes file = wav(c.channels, c.bits, c.frames);
        for (ChannelMode mode : {channel_both, channel_left, channel_right}) {
            test::ReceivedDump d = test::receive_dump(dump_of(file, {.channel_mode = mode}));
            ASSERT_EQ(d.problem, "") << c.what;
            const std::vector<int32_t>& want = mode == channel_both   ? c.both
                                               : mode == channel_left ? c.left
                                                                      : c.right;
            EXPECT_EQ(std::vector<int32_t>(d.words.begin(), d.words.begin() + want.size()), want)
                << c.what << ", channel mode " << mode;
        }
    }
}

TEST(SdsConvert, LoopModeDecidesTheHeaderLoop) {
    struct Case {
        const char* what;
        bool file_loop;
        LoopMode mode;
        int64_t start, end;
        int type;
    } cases[] = {
        {"no loop, file", false, loop_file, 0, 99, 0x7F},
        {"no loop, on: the whole sample", false, loop_on, 0, 99, 0x00},
        {"no loop, off", false, loop_off, 0, 99, 0x7F},
        {"loop, file", true, loop_file, 10, 80, 0x00},
        {"loop, on", true, loop_on, 10, 80, 0x00},
        {"loop, off keeps the points", true, loop_off, 10, 80, 0x7F},
    };
    for (const Case& c : cases) {
        Bytes file = c.file_loop ? wav(1, 16, ramp(100), {test::smpl_chunk(0, {{0, 10, 80}})})
                                 : wav(1, 16, ramp(100));
        for (bool extended : {false, true}) {
            test::ReceivedDump d = test::receive_dump(
                dump_of(file, {.loop_mode = c.mode}, 0,
                        extended ? std::optional<std::string_view>("x") : std::nullopt));
            ASSERT_EQ(d.problem, "") << c.what;
            EXPECT_EQ(d.extended, extended);
            EXPECT_EQ(d.loop_start, c.start) << c.what;
            EXPECT_EQ(d.loop_end, c.end) << c.what;
            EXPECT_EQ(d.loop_type, c.type) << c.what;
        }
    }
}

TEST(SdsConvert, PacketsCoverTheSampleAndNumberModulo128) {
    struct Case {
        int bits, frames, packets;
    } cases[] = {
        {16, 80, 2},
        {16, 81, 3},
        {8, 120, 2},
        {8, 121, 3},
        {24, 90, 3},
        {24, 91, 4},
        {16, 2, 1},
        {16, 1, 1},  // one frame still gets its packet
        {16, 129 * 40 + 1, 130},
    };
    for (const Case& c : cases) {
        std::vector<int64_t> values(c.frames);
        for (int k = 0; k < c.frames; ++k) values[k] = (k % 100) - 50;
        test::ReceivedDump d = test::receive_dump(dump_of(wav(1, c.bits, values), {}));
        ASSERT_EQ(d.problem, "") << c.bits << " bits, " << c.frames << " frames";
        EXPECT_EQ(d.length, c.frames);
        ASSERT_EQ(d.packet_numbers.size(), static_cast<size_t>(c.packets)) << c.frames;
        for (int k = 0; k < c.packets; ++k) ASSERT_EQ(d.packet_numbers[k], k % 128);
        for (size_t k = 0; k < d.words.size(); ++k)
            ASSERT_EQ(d.words[k], k < values.size() ? values[k] : 0) << c.frames << ", word " << k;
    }
}

TEST(SdsConvert, AResentPacketIsRebuiltTheSameAndTheNextStepMovesOn) {
    std::vector<int64_t> values = ramp(200);
    Bytes file = wav(1, 16, values);
    Stepper s(file, {});
    s.step(), s.step(), s.step();
    Bytes sent = s.message(127);
    ASSERT_EQ(sent[4], 1);
    // Building the packet again from the committed state, as often as NAKs ask, gives it again.
    for (int again = 0; again < 2; ++again) {
        SdsDump& dump = s.c.dump;
        dump.read_position = fill_wav_words(s.c, dump.committed_read_position);
        sds_build_packet(dump);
        EXPECT_EQ(Bytes(dump.packet.begin(), dump.packet.begin() + 127), sent);
    }
    ASSERT_EQ(s.step(), 127u);
    EXPECT_EQ(s.buffer[4], 2);
    EXPECT_EQ(s.position, 120u);
    EXPECT_EQ(test::receive_word(s.buffer + 5, 16, 3), values[80]);
}

TEST(SdsConvert, HeaderMessagesForEachNameSetting) {
    Bytes file = wav(1, 16, ramp(50));
    const uint32_t kick = sample_name_code("/samples/kick.wav");
    EXPECT_EQ(kick, 0x4B49434Bu);
    struct Case {
        bool xsds, zbname;
        int32_t sample_number;
        size_t size;
    } cases[] = {
        {false, false, 4, 21}, {false, true, 4, 34},   {true, false, 4, 48},  // 44 + "kick"
        {true, true, 4, 61},   {false, true, 200, 21},  // the name message has one byte for the
                                                        // sample number
    };
    for (const Case& c : cases) {
        Bytes stream =
            dump_of(file, {.sample_number = c.sample_number, .device = 0x11}, c.zbname ? kick : 0,
                    c.xsds ? std::optional<std::string_view>(sample_base_name("/samples/kick.wav"))
                           : std::nullopt);
        test::ReceivedDump d = test::receive_dump(stream);
        ASSERT_EQ(d.problem, "");
        EXPECT_EQ(stream.size(), c.size + 2 * 127) << c.xsds << c.zbname;
        EXPECT_EQ(d.device, 0x11);
        EXPECT_EQ(d.sample_number, c.sample_number);
        EXPECT_EQ(d.name, c.xsds ? "kick" : "");
        EXPECT_EQ(d.zbname, c.zbname && c.sample_number < 128 ? "KICK" : "");
        if (d.has_zbname) {
            EXPECT_EQ(d.zbname_sample, c.sample_number);
        }
    }
}

TEST(SdsConvert, SamplesThatGiveNoDumpAreSkipped) {
    using namespace test;
    struct Case {
        const char* what;
        Bytes file;
        int32_t kind;
    } cases[] = {
        {"not a sample", Bytes{0xF0, 0x7E, 0x00, 0x01, 0xF7}, sample_kind::wav},
        {"no kind given", wav(1, 16, ramp(10)), 0},
        {"an AIFF handed to the WAV step",
         form("AIFF", {comm_chunk(1, 0, 16, rate_44100), ssnd_chunk(Bytes(20))}), sample_kind::wav},
        {"WAV chunk past the end",
         [] {
             Bytes f = wav(1, 16, ramp(10));
             f[40] += 2;  // the data chunk's size
             return f;
         }(),
         sample_kind::wav},
        {"WAV without frames", wav(1, 16, {}), sample_kind::wav},
        {"AIFF without COMM", form("AIFF", {ssnd_chunk(Bytes(20))}), sample_kind::aiff},
        {"AIFC of an unknown compression",
         form("AIFC", {comm_chunk(1, 0, 8, rate_44100, "ulaw"), ssnd_chunk(Bytes(20))}),
         sample_kind::aifc},
    };
    for (const Case& c : cases) {
        Stepper s(c.file, {});
        s.c.kind = c.kind;
        EXPECT_EQ(s.step(0x41414141, "a"), 0u) << c.what;
        // Nor does a later step send anything for it.
        s.position = 1;
        EXPECT_EQ(s.step(), 0u) << c.what;
    }
}

TEST(SdsConvert, EachDumpKeepsItsOwnState) {
    // Two dumps built step by step in turn give what each gives alone.
    Bytes a = wav(2, 16, ramp(300)), b = wav(1, 24, ramp(170));
    SampleConversion ca{.channel_mode = channel_right};
    SampleConversion cb{.loop_mode = loop_on, .sample_number = 3};
    Stepper sa(a, ca), sb(b, cb);
    Bytes out_a, out_b;
    while (sa.position < sa.length || sb.position < sb.length) {
        for (auto [s, out] : {std::pair{&sa, &out_a}, std::pair{&sb, &out_b}}) {
            if (s->position >= s->length) continue;
            Bytes message = s->message(s->step());
            out->insert(out->end(), message.begin(), message.end());
        }
    }
    EXPECT_EQ(out_a, dump_of(a, ca));
    EXPECT_EQ(out_b, dump_of(b, cb));
}

}  // namespace
}  // namespace jx
