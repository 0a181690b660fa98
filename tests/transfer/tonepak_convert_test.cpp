#include "transfer/tonepak_convert.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "audio/sample_cycle.h"
#include "audio/sds_convert.h"
#include "audio/waveform_synthesis.h"
#include "audio/zbname.h"
#include "maker_message.h"
#include "sample_file_maker.h"
#include "start_up_tables.h"
#include "transfer/entry_info.h"

namespace jx {
namespace {

using test::Bytes;

using test::start_up_tables;

// 16-bit samples, channels interleaved.
Bytes wav16(int channels, const std::vector<int>& values,
            std::initializer_list<Bytes> after_data = {}) {
    Bytes data;
    for (int v : values) test::put(data, static_cast<uint32_t>(v), 2, false);
    Bytes chunks =
        test::join({test::fmt_chunk(1, channels, 44100, 16), test::wav_chunk("data", data)});
    for (const Bytes& c : after_data) chunks = test::join({chunks, c});
    return test::join({test::text("RIFF"), test::le({{uint32_t(chunks.size() + 4), 4}}),
                       test::text("WAVE"), chunks});
}

std::vector<int> sine(int frames, double amplitude = 20000) {
    std::vector<int> v(frames);
    for (int k = 0; k < frames; ++k)
        v[k] =
            static_cast<int>(std::lround(amplitude * std::sin(2 * std::numbers::pi * k / frames)));
    return v;
}

// The values a 16-bit cycle must be read as: each sample times 2 / 2^16.
std::vector<double> scaled(const std::vector<int>& values) {
    std::vector<double> x;
    for (int v : values) x.push_back(v * 2.0 / 65536);
    return x;
}

Bytes expected_message(const std::vector<double>& cycle, int slot, const char* name) {
    Bytes message(tonepak_message_length);
    EXPECT_EQ(
        build_tonepak_message(start_up_tables(), cycle.data(), static_cast<int32_t>(cycle.size()),
                              message.data(), slot, four_char_value(name)),
        1);
    return message;
}

void add(TransferList& list, const std::string& name, const Bytes& data, char channel = '0',
         bool selected = true) {
    auto entry = std::make_unique<Entry>();
    entry->data = data;
    entry->channel_option = channel;
    int index = insert_entry(list, name, std::move(entry), -1);
    set_selected(list, index, selected);
}

TEST(TonepakConvert, SelectedSamplesBecomeWaveformsInTheirSlotsAndPlaces) {
    std::vector<int> left = sine(500, 3000), right = sine(500);
    std::vector<int> stereo;
    for (size_t k = 0; k < right.size(); ++k)
        stereo.push_back(left[k] * 3 % 7000), stereo.push_back(right[k]);
    std::vector<int> looped = sine(1200);
    TransferList list;
    add(list, "/data/dump.syx", test::record(0x02, 'P', {1, 2, 3}));
    add(list, "/data/sine.wav", wav16(1, looped, {test::smpl_chunk(0, {{0, 100, 699}})}), '1');
    add(list, "/data/three.wav", wav16(3, std::vector<int>(300, 5)));
    add(list, "/data/kick.old.wav", wav16(2, stereo), '2');
    add(list, "/data/other.wav", wav16(1, sine(64)), '0', false);
    std::vector<const Entry*> before;
    for (int k = 0; k < 5; ++k) before.push_back(entry_at(list, k));

    TonepakOutcome outcome = convert_to_tonepak(list, start_up_tables(), false);
    EXPECT_FALSE(outcome.refused);
    EXPECT_EQ(outcome.converted, (std::vector<int>{1, 3}));
    ASSERT_EQ(list.items.size(), 5u);
    for (int k : {0, 2, 4}) EXPECT_EQ(entry_at(list, k), before[k]) << "entry " << k << " stays";
    EXPECT_EQ(list.channel_mode, 2) << "the last entry's channel option is the current mode";

    struct Want {
        int index;
        const char* name;
        Bytes message;
        const char* info;
    } wants[] = {
        // Slot 1: the loop's frames 100 … 699; a mono sample ignores its channel option.
        {1, "sine.syx",
         expected_message(scaled(std::vector<int>(looped.begin() + 100, looped.begin() + 700)), 1,
                          "sine"),
         "\nTonePAK waveform at position 2"},
        // Slot 3, the right channel only; the name keeps its own extension and gets no ".syx".
        {3, "kick.old", expected_message(scaled(right), 3, "kick.old"),
         "\nTonePAK waveform at position 4"},
    };
    for (const Want& w : wants) {
        const Entry* entry = entry_at(list, w.index);
        ASSERT_NE(entry, nullptr);
        EXPECT_EQ(entry_name(list, w.index), w.name);
        EXPECT_EQ(entry->data, w.message) << w.name;
        EXPECT_EQ(entry->loop_option, '0');
        EXPECT_EQ(entry->channel_option, '0');
        EXPECT_EQ(list.items[w.index].type_text, "KB");
        EXPECT_EQ(list.items[w.index].size_text, "7k");
        EXPECT_FALSE(list.items[w.index].selected);
        EXPECT_EQ(describe_entry(*entry).text, w.info);
    }
    EXPECT_EQ(Bytes(entry_at(list, 3)->data.begin() + 10, entry_at(list, 3)->data.begin() + 14),
              (Bytes{'K', 'I', 'C', 'D'}));
}

TEST(TonepakConvert, LoopWindowsDecideWhatIsConvertedAndNothingOutsideIsRead) {
    std::vector<int> hundred = sine(100);
    struct Case {
        const char* what;
        Bytes file;
        std::vector<double> cycle;  // empty: passed over
    } cases[] = {
        {"no loop, 16384 frames: the whole sample", wav16(1, sine(16384)), scaled(sine(16384))},
        {"no loop, 16385 frames", wav16(1, sine(16385)), {}},
        {"loop of 16385 frames",
         wav16(1, sine(20000), {test::smpl_chunk(0, {{0, 10, 16394}})}),
         {}},
        {"loop end before its start", wav16(1, hundred, {test::smpl_chunk(0, {{0, 80, 10}})}), {}},
        {"loop start past the end", wav16(1, hundred, {test::smpl_chunk(0, {{0, 100, 120}})}), {}},
        {"loop end past the end: cut at the last frame",
         wav16(1, hundred, {test::smpl_chunk(0, {{0, 10, 200}})}),
         scaled(std::vector<int>(hundred.begin() + 10, hundred.end()))},
        {"a sample that does not parse whole",
         [&] {
             Bytes f = wav16(1, hundred);
             f[40] += 2;  // the data chunk runs past the file
             return f;
         }(),
         {}},
    };
    for (const Case& c : cases) {
        TransferList list;
        add(list, "/a/wave.wav", c.file);
        TonepakOutcome outcome = convert_to_tonepak(list, start_up_tables(), false);
        if (c.cycle.empty()) {
            EXPECT_TRUE(outcome.converted.empty()) << c.what;
            EXPECT_EQ(entry_at(list, 0)->data, c.file) << c.what;
        } else {
            ASSERT_EQ(outcome.converted, std::vector<int>{0}) << c.what;
            EXPECT_EQ(entry_at(list, 0)->data, expected_message(c.cycle, 0, "wave")) << c.what;
        }
    }
}

TEST(TonepakConvert, RefusedWhileASendRuns) {
    TransferList list;
    Bytes file = wav16(1, sine(100));
    add(list, "/a/kick.wav", file);
    TonepakOutcome outcome = convert_to_tonepak(list, start_up_tables(), true);
    EXPECT_TRUE(outcome.refused);
    EXPECT_TRUE(outcome.converted.empty());
    EXPECT_EQ(entry_name(list, 0), "/a/kick.wav");
    EXPECT_EQ(entry_at(list, 0)->data, file);
}

TEST(ReadCycle, ChannelsKindsAndWindows) {
    using namespace test;
    // Stereo frames (1000, -3000), (-20000, 4000), (32767, -32768).
    Bytes stereo = wav16(2, {1000, -3000, -20000, 4000, 32767, -32768});
    // 12-bit samples sit in the top of two bytes; AIFF data is big-endian and signed.
    Bytes twelve =
        riff({fmt_chunk(1, 1, 44100, 12), wav_chunk("data", le({{0x7FF0, 2}, {0x8000, 2}}))});
    Bytes aiff =
        form("AIFF", {comm_chunk(1, 0, 8, rate_44100), ssnd_chunk(Bytes{0x40, 0xC0, 0x7F})});
    const double s = 2.0 / 65536;
    struct Case {
        const char* what;
        const Bytes& file;
        int32_t first, count, capacity;
        ChannelMode mode;
        std::vector<double> want;
    } cases[] = {
        {"both: the mean", stereo, 0, 3, 16384, channel_both, {-1000 * s, -8000 * s, -0.5 * s}},
        {"left", stereo, 0, 3, 16384, channel_left, {1000 * s, -20000 * s, 32767 * s}},
        {"right", stereo, 1, 2, 16384, channel_right, {4000 * s, -32768 * s}},
        {"capacity limits the count", stereo, 0, 3, 1, channel_left, {1000 * s}},
        {"cut at the last frame", stereo, 2, 5, 16384, channel_left, {32767 * s}},
        {"start past the end", stereo, 3, 1, 16384, channel_left, {}},
        {"negative start", stereo, -1, 2, 16384, channel_left, {}},
        {"no frames asked for", stereo, 0, 0, 16384, channel_left, {}},
        {"12 bits to the same scale", twelve, 0, 2, 16384, channel_both, {2047 * 2.0 / 4096, -1.0}},
        {"AIFF 8 bits", aiff, 0, 3, 16384, channel_both, {0.5, -0.5, 127 / 128.0}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(read_cycle(c.file.data(), c.file.size(), c.first, c.count, c.capacity, c.mode),
                  c.want)
            << c.what;
    }
    Bytes not_sample = record(0x02, 'P', {1, 2, 3});
    EXPECT_TRUE(
        read_cycle(not_sample.data(), not_sample.size(), 0, 10, 16384, channel_both).empty());
}

}  // namespace
}  // namespace jx
