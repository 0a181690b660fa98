#include "audio/wav.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>

#include "audio/sample_file.h"
#include "sample_checks.h"
#include "sample_file_maker.h"
#include "transfer/entry_info.h"

namespace jx {
namespace {

using namespace test;

Bytes frames16(int count, int channels) {
    Bytes out;
    for (int k = 0; k < count * channels; ++k)
        put(out, static_cast<uint32_t>(k * 300 - 20000), 2, false);
    return out;
}

// 16-bit stereo at 44100 Hz, 100 frames, with the given chunks around the data.
Bytes stereo_wav(std::initializer_list<Bytes> before, std::initializer_list<Bytes> after) {
    Bytes body = text("WAVE");
    for (const Bytes& c : before) body = join({body, c});
    body = join({body, fmt_chunk(1, 2, 44100, 16), wav_chunk("data", frames16(100, 2))});
    for (const Bytes& c : after) body = join({body, c});
    return join({text("RIFF"), le({{static_cast<uint32_t>(body.size()), 4}}), body});
}

SampleInfo parsed(const Bytes& file, int expect = 1) {
    SampleInfo info;
    EXPECT_EQ(parse_wav(info, file.data(), file.size()), expect);
    return info;
}

TEST(WavReader, PlainStereoFileGetsTheDefaultLoop) {
    Bytes file = stereo_wav({}, {});
    SampleInfo s = parsed(file);
    EXPECT_EQ(summary(s),
              "kind 2 format 1 length 100 channels 2 bits 16 container 2 rate 44100 "
              "period 22676 loop 0..99 type 127 present 0 data 44");
    EntryInfo shown = describe_wav(file.data(), file.size());
    EXPECT_EQ(shown.text, "Sample length: 100 Channels: 2 Sample Rate: 44100\nBits: 16 Loop OFF.");
    EXPECT_TRUE(shown.is_sample);
    EXPECT_TRUE(shown.enable_loop);
    EXPECT_TRUE(shown.enable_channel);
    EXPECT_TRUE(shown.enable_tonepak);
}

TEST(WavReader, SmplLoopWhereverItStands) {
    struct Case {
        const char* name;
        Bytes file;
        const char* text;
    } cases[] = {
        {"after data", stereo_wav({}, {smpl_chunk(22676, {{0, 10, 80}})}),
         "Loop ON. Loop start: 10 Loop end: 80"},
        {"after data, period 0", stereo_wav({}, {smpl_chunk(0, {{0, 10, 80}})}),
         "Loop ON. Loop start: 10 Loop end: 80"},
        {"before data", stereo_wav({smpl_chunk(22676, {{0, 10, 80}})}, {}),
         "Loop ON. Loop start: 10 Loop end: 80"},
        // A zero sample period says nothing about the loop: the loop is kept.
        {"before data, period 0", stereo_wav({smpl_chunk(0, {{0, 10, 80}})}, {}),
         "Loop ON. Loop start: 10 Loop end: 80"},
        {"type masked to 7 bits", stereo_wav({}, {smpl_chunk(0, {{0x81, 10, 80}})}),
         "Loop ON. Loop start: 10 Loop end: 80"},
        {"type 7F", stereo_wav({}, {smpl_chunk(0, {{0x7F, 10, 80}})}),
         "Loop OFF. Loop start: 10 Loop end: 80"},
        {"first of two loops", stereo_wav({}, {smpl_chunk(0, {{0, 5, 6}, {0, 10, 80}})}),
         "Loop ON. Loop start: 5 Loop end: 6"},
        // Loop points are unsigned in the file, and shown so.
        {"loop end past 2^31", stereo_wav({}, {smpl_chunk(0, {{0, 10, 0xFFFFFFF0}})}),
         "Loop ON. Loop start: 10 Loop end: 4294967280"},
        // No loop in the chunk: the default loop of the whole sample stays.
        {"no loops", stereo_wav({smpl_chunk(22676, {})}, {}), "Loop OFF."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string text = describe_wav(c.file.data(), c.file.size()).text;
        EXPECT_EQ(text.substr(text.find("Loop")), c.text);
        SampleInfo s = parsed(c.file);
        // The smpl chunk's own period never counts: the rate decides.
        EXPECT_EQ(s.period, 22676);
        if (std::string(c.text) == "Loop OFF.") {
            EXPECT_EQ(s.loop_present, 0);
            EXPECT_EQ(s.loop_end, 99);
        }
    }
}

TEST(WavReader, FaultsAndTheirTexts) {
    Bytes good = stereo_wav({}, {});
    Bytes past_end = good;
    past_end[40] += 1;  // the data chunk's size reaches one byte past the RIFF data
    Bytes long_riff = good;
    long_riff[4] = 0xFF, long_riff[5] = 0xFF, long_riff[6] = 0xFF, long_riff[7] = 0xFF;
    Bytes trailing_header = join({good, Bytes{'J', 'U', 'N'}});
    trailing_header[4] += 3;  // the RIFF size counts three bytes that cannot hold a header
    Bytes not_wave = good;
    not_wave[11] = 'X';
    Bytes fmt_short = riff(
        {wav_chunk("fmt ", le({{1, 2}, {1, 2}, {44100, 4}, {0, 4}})), wav_chunk("data", Bytes(4))});
    struct Case {
        const char* name;
        Bytes file;
        int result;
        const char* text;
    } cases[] = {
        {"no RIFF", text("RIFX0000WAVE"), 0, "Unknown Wave Format"},
        {"too short for the form type", text("RIFF0000WAV"), -1, "Unknown Wave Format"},
        {"not WAVE", not_wave, -1, "Unknown Wave Format"},
        {"no chunks", riff({}), -1, "Unknown Wave Format"},
        {"no fmt chunk", riff({wav_chunk("data", Bytes(8))}), -1, "Unknown Wave Format"},
        {"no channels", riff({fmt_chunk(1, 0, 44100, 16), wav_chunk("data", Bytes(8))}), -1,
         "Unknown Wave Format"},
        {"0 bits", riff({fmt_chunk(1, 1, 44100, 0), wav_chunk("data", Bytes(8))}), -1,
         "Unknown Wave Format"},
        {"33 bits", riff({fmt_chunk(1, 1, 44100, 33), wav_chunk("data", Bytes(10))}), -1,
         "Unknown Wave Format"},
        {"chunk one byte past the RIFF data", past_end, -2, "Wave: Chunk size error"},
        {"header cut by the end", trailing_header, -2, "Wave: Chunk size error"},
        {"fmt too short", fmt_short, -2, "Wave: Chunk size error"},
        {"smpl too short", stereo_wav({}, {wav_chunk("smpl", Bytes(20))}), -2,
         "Wave: Chunk size error"},
        {"smpl loop cut off",
         stereo_wav({}, {wav_chunk("smpl", join({Bytes(28), le({{1, 4}}), Bytes(8)}))}), -2,
         "Wave: Chunk size error"},
        {"ADPCM", riff({fmt_chunk(2, 1, 44100, 4), wav_chunk("data", Bytes(8))}), -3,
         "Wave: Not PCM or Float"},
        {"extensible without sub-format", riff({fmt_chunk(0xFFFE, 1, 44100, 16)}), -3,
         "Wave: Not PCM or Float"},
        {"extensible A-law", riff({fmt_extensible(6, 1, 44100, 8)}), -3, "Wave: Not PCM or Float"},
        {"double float", riff({fmt_chunk(3, 1, 44100, 64), wav_chunk("data", Bytes(16))}), -3,
         "Wave: Not PCM or Float"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        expect_refused(parse_wav, describe_wav, c.file, c.result, c.text);
    }
    // A RIFF size beyond the buffer is cut to the buffer.
    EXPECT_EQ(parsed(long_riff).length, 100);
}

TEST(WavReader, ChunkLayoutAndOrder) {
    // An odd-sized chunk is padded; the next chunk follows the pad byte.
    Bytes padded = riff({wav_chunk("junk", Bytes{1, 2, 3}), fmt_chunk(1, 1, 22050, 8),
                         wav_chunk("data", Bytes{0x80, 0x81, 0x82})});
    SampleInfo s = parsed(padded);
    EXPECT_EQ(s.length, 3);
    EXPECT_EQ(s.data_start, 12 + 12 + 24 + 8);
    EXPECT_EQ(s.period, 45351);
    // A data chunk before fmt is counted with the format that follows it.
    Bytes data_first = riff({wav_chunk("data", frames16(10, 2)), fmt_chunk(1, 2, 48000, 16)});
    s = parsed(data_first);
    EXPECT_EQ(s.length, 10);
    EXPECT_EQ(s.loop_end, 9);
    EXPECT_EQ(s.data_start, 20);
    // A partial last frame is not counted.
    s = parsed(riff({fmt_chunk(1, 2, 48000, 16), wav_chunk("data", Bytes(11))}));
    EXPECT_EQ(s.length, 2);
    // No data chunk: an empty sample.
    s = parsed(riff({fmt_chunk(1, 1, 48000, 16)}));
    EXPECT_EQ(s.length, 0);
    EXPECT_EQ(s.loop_end, -1);
    // A rate of 0 has no period; the file is still described.
    Bytes no_rate = riff({fmt_chunk(1, 1, 0, 16), wav_chunk("data", Bytes(8))});
    EXPECT_EQ(parsed(no_rate).period, 0);
    EXPECT_EQ(describe_wav(no_rate.data(), no_rate.size()).text,
              "Sample length: 4 Channels: 1 Sample Rate: 0\nBits: 16 Loop OFF.");
}

TEST(WavReader, ParseStartsAfresh) {
    SampleInfo info;
    Bytes looped = stereo_wav({}, {smpl_chunk(0, {{0, 10, 80}})});
    ASSERT_EQ(parse_wav(info, looped.data(), looped.size()), 1);
    Bytes plain = riff({fmt_chunk(1, 1, 8000, 8), wav_chunk("data", Bytes(50))});
    ASSERT_EQ(parse_wav(info, plain.data(), plain.size()), 1);
    EXPECT_EQ(info.loop_present, 0);
    EXPECT_EQ(info.loop_start, 0);
    EXPECT_EQ(info.loop_end, 49);
    // A failed parse leaves nothing of the earlier file either.
    Bytes broken = riff({wav_chunk("data", Bytes(8))});
    ASSERT_EQ(parse_wav(info, broken.data(), broken.size()), -1);
    EXPECT_EQ(info.channels, 0);
    EXPECT_EQ(info.length, 0);
}

TEST(WavReader, SampleFormats) {
    struct Case {
        const char* name;
        Bytes fmt;
        int format_code, bits, container;
    } cases[] = {
        {"8-bit", fmt_chunk(1, 1, 44100, 8), 1, 8, 1},
        {"12-bit", fmt_chunk(1, 1, 44100, 12), 1, 12, 2},
        {"20-bit", fmt_chunk(1, 1, 44100, 20), 1, 20, 3},
        {"24-bit", fmt_chunk(1, 1, 44100, 24), 1, 24, 3},
        {"32-bit", fmt_chunk(1, 1, 44100, 32), 1, 32, 4},
        {"float", fmt_chunk(3, 1, 44100, 32), 3, 24, 4},
        {"extensible 24-bit", fmt_extensible(1, 1, 44100, 24), 1, 24, 3},
        {"extensible float", fmt_extensible(3, 1, 44100, 32), 3, 24, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SampleInfo s = parsed(riff({c.fmt, wav_chunk("data", Bytes(24))}));
        EXPECT_EQ(s.format_code, c.format_code);
        EXPECT_EQ(s.bits, c.bits);
        EXPECT_EQ(s.container_bytes, c.container);
        EXPECT_EQ(s.length, 24 / c.container);
    }
}

TEST(WavReader, DecodeLittleEndian) {
    SampleInfo pcm;
    pcm.format_code = 1;
    struct Case {
        Bytes bytes;
        int32_t value;
    } ints[] = {
        {{0x00}, -128},
        {{0x80}, 0},
        {{0xFF}, 127},
        {{0x00, 0x80}, -32768},
        {{0xFF, 0x7F}, 32767},
        {{0xFE, 0xFF}, -2},
        {{0x00, 0x00, 0x80}, -8388608},
        {{0x56, 0x34, 0x12}, 0x123456},
        {{0x00, 0x00, 0x00, 0x80}, std::numeric_limits<int32_t>::min()},
        {{0x78, 0x56, 0x34, 0x12}, 0x12345678},
    };
    for (const Case& c : ints)
        EXPECT_EQ(decode_little_endian(pcm, c.bytes.data(), static_cast<int>(c.bytes.size())),
                  c.value);
    // 12-bit data in two bytes is left-justified; the converter shifts it down by 4.
    Bytes twelve = {0xF0, 0x7F};
    EXPECT_EQ(decode_little_endian(pcm, twelve.data(), 2) >> 4, 2047);

    SampleInfo flt;
    flt.format_code = 3;
    struct FloatCase {
        float f;
        int32_t value;
    } floats[] = {
        {0.5f, 1073741824},
        {-0.5f, -1073741824},
        {1.0f, 2147483392},
        {2.0f, 2147483392},
        {-1.0f, std::numeric_limits<int32_t>::min()},
        {-3.0f, std::numeric_limits<int32_t>::min()},
        {1e-10f, 0},
        {std::nanf(""), 0},
        {std::numeric_limits<float>::infinity(), 2147483392},
    };
    for (const FloatCase& c : floats) {
        SCOPED_TRACE(c.f);
        Bytes b = le({{std::bit_cast<uint32_t>(c.f), 4}});
        EXPECT_EQ(decode_little_endian(flt, b.data(), 4), c.value);
    }
    Bytes half = le({{std::bit_cast<uint32_t>(0.5f), 4}});
    EXPECT_EQ(decode_little_endian(flt, half.data(), 4) >> 8, 4194304);

    SampleInfo other;
    other.format_code = 2;
    EXPECT_EQ(decode_little_endian(other, half.data(), 2), 0);
}

TEST(WavReader, ButtonsFollowChannelsAndLoopWindow) {
    struct Case {
        const char* name;
        uint32_t channels;
        uint32_t loop_start, loop_end;
        bool channel, tonepak;
    } cases[] = {
        {"mono", 1, 0, 16383, false, true},
        {"stereo", 2, 0, 16383, true, true},
        {"three channels", 3, 0, 10, false, false},
        {"loop window of 16384", 1, 1, 16385, false, false},
        {"loop end before start", 2, 100, 10, true, true},
        {"loop points at the ends of the range", 1, 0x80000000u, 0x7FFFFFFFu, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes file = riff({fmt_chunk(1, c.channels, 44100, 8), wav_chunk("data", Bytes(6)),
                           smpl_chunk(0, {{0, c.loop_start, c.loop_end}})});
        EntryInfo shown = describe_wav(file.data(), file.size());
        EXPECT_TRUE(shown.enable_loop);
        EXPECT_EQ(shown.enable_channel, c.channel);
        EXPECT_EQ(shown.enable_tonepak, c.tonepak);
    }
}

TEST(SampleKinds, MagicDecidesTheKindAndTheParser) {
    Bytes wav = riff({fmt_chunk(1, 1, 44100, 16), wav_chunk("data", Bytes(8))});
    Bytes aiff = form("AIFF", {comm_chunk(1, 4, 16, rate_44100), ssnd_chunk(Bytes(8))});
    Bytes aifc = form("AIFC", {comm_chunk(1, 4, 16, rate_44100, "NONE"), ssnd_chunk(Bytes(8))});
    Bytes syx = {0xF0, 0x7E, 0x00, 0x01, 0xF7, 0, 0, 0, 0, 0, 0, 0};
    struct Case {
        const Bytes* data;
        bool wav, sample;
        int result, kind;
    } cases[] = {
        {&wav, true, true, 1, sample_kind::wav},
        {&aiff, false, true, 1, sample_kind::aiff},
        {&aifc, false, true, 1, sample_kind::aifc},
        {&syx, false, false, 0, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(is_wav(c.data->data(), c.data->size()), c.wav);
        EXPECT_EQ(is_sample(c.data->data(), c.data->size()), c.sample);
        SampleInfo info;
        EXPECT_EQ(parse_sample(info, c.data->data(), c.data->size()), c.result);
        EXPECT_EQ(info.file_kind, c.kind);
    }
    EXPECT_FALSE(is_sample(wav.data(), 11));
}

}  // namespace
}  // namespace jx
