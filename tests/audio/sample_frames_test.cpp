// The frames the inspector draws: each kind of entry read back to the values that were written.
#include "audio/sample_frames.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "audio/transform.h"
#include "audio/waveform_synthesis.h"
#include "sample_file_maker.h"
#include "sds_dump_maker.h"

namespace jx {
namespace {

TEST(SampleFrames, WavChannelsApartWithTheirLoop) {
    using namespace test;
    // Stereo 16-bit: left rises, right falls.
    Bytes data;
    for (int f = 0; f < 100; ++f)
        data = join({data, le({{static_cast<uint32_t>(f * 300), 2},
                               {static_cast<uint32_t>(-f * 300) & 0xFFFF, 2}})});
    const Bytes wav =
        riff({fmt_chunk(1, 2, 22050, 16), wav_chunk("data", data), smpl_chunk(0, {{0, 10, 80}})});
    SampleFrames sound;
    ASSERT_TRUE(read_sample_frames(wav.data(), wav.size(), sound));
    ASSERT_EQ(sound.channels.size(), 2u);
    ASSERT_EQ(sound.frames(), 100);
    EXPECT_EQ(sound.rate, 22050);
    EXPECT_TRUE(sound.looped);
    EXPECT_EQ(sound.loop_start, 10);
    EXPECT_EQ(sound.loop_end, 80);
    for (int f : {0, 1, 57, 99}) {
        EXPECT_FLOAT_EQ(sound.channels[0][f], f * 300 / 32768.0f) << f;
        EXPECT_FLOAT_EQ(sound.channels[1][f], -f * 300 / 32768.0f) << f;
    }
}

TEST(SampleFrames, SdsDumpAsFarAsItsPacketsCame) {
    test::DumpFields dump;
    dump.bits = 12;  // two bytes a word, 60 words a packet
    dump.period = 20000;
    dump.loop_start = 5;
    dump.loop_end = 150;
    dump.loop_type = 0x00;
    for (int k = 0; k < 200; ++k) dump.samples.push_back((k * 37) % 4096 - 2048);
    const test::Stream whole = test::whole_dump(dump);
    struct Case {
        size_t bytes;
        int64_t frames;
    };
    // Whole; two packets and a third cut off; the header alone.
    for (const Case& c : {Case{whole.size(), 200}, Case{21 + 2 * 127 + 50, 120}, Case{21, 0}}) {
        SCOPED_TRACE(c.bytes);
        SampleFrames sound;
        ASSERT_TRUE(read_sample_frames(whole.data(), c.bytes, sound));
        ASSERT_EQ(sound.frames(), c.frames);
        EXPECT_EQ(sound.declared, 200);
        EXPECT_EQ(sound.rate, 50000);
        EXPECT_TRUE(sound.looped);
        EXPECT_EQ(sound.loop_end, 150);
        for (int64_t f = 0; f < c.frames; ++f)
            ASSERT_FLOAT_EQ(sound.channels[0][f], dump.samples[f] / 2048.0f) << f;
    }
    // Something that only starts like a dump header holds no sound.
    SampleFrames none;
    EXPECT_FALSE(read_sample_frames(whole.data(), 10, none));
}

TEST(SampleFrames, TonepakWaveformGivesBackItsCycle) {
    FftTables tables;
    ASSERT_EQ(fft_init(tables, 16384, fft_flag::any_length), 0);
    std::vector<double> cycle(300);
    for (size_t j = 0; j < cycle.size(); ++j)
        cycle[j] = std::sin(2 * std::numbers::pi * j / cycle.size());
    std::vector<uint8_t> message(tonepak_message_length);
    ASSERT_EQ(build_tonepak_message(tables, cycle.data(), 300, message.data(), 2, 0), 1);
    SampleFrames sound;
    ASSERT_TRUE(read_sample_frames(message.data(), message.size(), sound));
    ASSERT_EQ(sound.frames(), 1024);
    // The first table is the cycle resampled to 1024 points, drawn at full height.
    double error = 0, peak = 0;
    for (int j = 0; j < 1024; ++j) {
        error = std::max(
            error, std::fabs(sound.channels[0][j] - std::sin(2 * std::numbers::pi * j / 1024)));
        peak = std::max(peak, std::fabs(double(sound.channels[0][j])));
    }
    EXPECT_LT(error, 0.01);
    EXPECT_DOUBLE_EQ(peak, 1.0);
    // Cut short, it is no waveform.
    EXPECT_FALSE(read_sample_frames(message.data(), message.size() - 1, sound));
}

}  // namespace
}  // namespace jx
