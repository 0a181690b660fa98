#include "audio/waveform_synthesis.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>
#include <vector>

#include "analysis/sysex_scan.h"
#include "start_up_tables.h"

namespace jx {
namespace {

using Bytes = std::vector<uint8_t>;

using test::start_up_tables;

// Undoes the 7-in-8 packing, written apart from pack7: every top-bit byte gives bit 7 back to the
// bytes after it, bit 6 to the first.
Bytes unpack7(const uint8_t* data, size_t length) {
    Bytes out;
    for (size_t start = 0; start < length; start += 8) {
        uint8_t top = data[start];
        for (size_t k = 1; k < 8 && start + k < length; ++k)
            out.push_back(static_cast<uint8_t>(data[start + k] | (((top >> (7 - k)) & 1) << 7)));
    }
    return out;
}

TEST(GainCurve, KeepsTheGivenValuesAndRisesStrictlyInSixDecimals) {
    const std::pair<int, double> given[] = {
        {0, 0.866444},   {64, 0.873608},  {128, 0.895491}, {192, 0.933306}, {256, 0.98921},
        {320, 1.066533}, {384, 1.170145}, {448, 1.307031}, {512, 1.487171}, {576, 1.724913},
        {640, 2.041122}, {704, 2.466638}, {768, 3.047923}, {832, 3.856568}, {896, 5.005748},
        {960, 6.679657}, {1023, 9.14025}};
    for (auto [index, value] : given) EXPECT_EQ(gain_curve[index], value) << "G[" << index << "]";
    for (int k = 0; k < 1024; ++k) {
        EXPECT_EQ(std::round(gain_curve[k] * 1e6) / 1e6, gain_curve[k]) << "G[" << k << "]";
        if (k > 0) {
            EXPECT_GT(gain_curve[k], gain_curve[k - 1]) << "G[" << k << "]";
        }
    }
}

TEST(Pack7, PacksTopBitsFirstAndUnpacksBack) {
    const Bytes small = {0x80, 0x01, 0xFF};
    uint8_t out[8] = {};
    ASSERT_EQ(pack7(small.data(), small.size(), out), 4u);
    EXPECT_EQ(Bytes(out, out + 4), (Bytes{0x50, 0x00, 0x01, 0x7F}));

    std::mt19937 rng(3);
    for (size_t count : {0u, 1u, 6u, 7u, 8u, 14u, 6132u}) {
        Bytes data(count);
        for (uint8_t& b : data) b = static_cast<uint8_t>(rng());
        Bytes packed(pack7_length(count) + 1, 0xEE);
        size_t written = pack7(data.data(), count, packed.data());
        ASSERT_EQ(written, count + count / 7 + 1) << count << " bytes";
        EXPECT_EQ(packed[written], 0xEE) << "nothing written past the end";
        for (size_t k = 0; k < written; ++k) EXPECT_LT(packed[k], 0x80) << count << " bytes";
        if (count % 7 == 0) {
            EXPECT_EQ(packed[written - 1], 0x00) << "empty last group";
        }
        EXPECT_EQ(unpack7(packed.data(), written), data) << count << " bytes";
    }
}

// The tables of a message, read back: the nine full-band levels one after another (2044 values)
// and the half-band levels 2 to 9 (1020 values, the first at index 1024 as in the full band).
struct Tables {
    std::vector<double> full = std::vector<double>(2044), half = std::vector<double>(2044);
};

Tables decode_tables(const Bytes& message) {
    Bytes bytes = unpack7(message.data() + 14, 7008);
    EXPECT_EQ(bytes.size(), 6132u);
    auto word = [](uint8_t high, uint8_t low) {
        return static_cast<int16_t>(high << 8 | low) / 32767.0;
    };
    Tables t;
    for (size_t i = 0; i < 1022; ++i) {
        const uint8_t* b = &bytes[6 * i];
        t.full[2 * i] = word(b[0], b[1]);
        t.full[2 * i + 1] = word(b[3], b[4]);
        if (i < 1020) t.half[1024 + i] = word(b[2], b[5]);
    }
    return t;
}

Bytes build(const std::vector<double>& frames, int32_t slot = 0, uint32_t name = 0x4B49434B) {
    Bytes message(tonepak_message_length);
    EXPECT_EQ(
        build_tonepak_message(start_up_tables(), frames.data(), static_cast<int32_t>(frames.size()),
                              message.data(), slot, name),
        1);
    return message;
}

bool intact_waveform(const Bytes& message) {
    IntegrityTest test(message.data(), message.size());
    int found = 0;
    bool intact = false;
    for_each_message(message.data(), message.size(), device::kb, [&](size_t i, uint8_t id) {
        ++found;
        intact = id == tonepak_message_id && message_intact(test, i, 4);
    });
    return found == 1 && intact;
}

std::vector<double> harmonic(int32_t n, int32_t h, double amplitude, double offset = 0) {
    std::vector<double> x(n);
    for (int32_t j = 0; j < n; ++j)
        x[j] = offset + amplitude * std::cos(2 * std::numbers::pi * h * j / n);
    return x;
}

TEST(TonepakMessage, SineCycleIsAnIntactWaveformOfThatSine) {
    std::vector<double> sine(600);
    for (size_t j = 0; j < sine.size(); ++j)
        sine[j] = 0.8 * std::sin(2 * std::numbers::pi * j / sine.size());
    Bytes message = build(sine, 70, 0xCB49C3CB);

    EXPECT_TRUE(intact_waveform(message));
    EXPECT_EQ(Bytes(message.begin(), message.begin() + 14),
              (Bytes{0xF0, 0x00, 0x6B, 0x2E, 0x03, 0x00, 0x5D, 0x01, 0x01, 70 & 0x3F, 0x4B, 0x49,
                     0x43, 0x4B}));
    EXPECT_EQ(Bytes(message.end() - 3, message.end()), (Bytes{0x36, 0x69, 0xF7}));

    // Normalised to the sine's peak, weighted by the gain of its bin relative to the largest.
    Tables t = decode_tables(message);
    const double amplitude = gain_curve[2] / gain_curve[1023];
    for (int i = 0; i < 1024; ++i)
        ASSERT_NEAR(t.full[i], amplitude * std::sin(2 * std::numbers::pi * i / 1024), 1.5 / 32767)
            << "level 1 at " << i;
}

// A cosine of harmonic h appears in every level whose band holds it, at the gain of its bin,
// whatever the cycle's length and offset; above a level's band that level is silent.
TEST(TonepakMessage, EachLevelCarriesTheHarmonicsOfItsBand) {
    struct Case {
        int32_t frames, harmonic;
    } cases[] = {{100, 3}, {1000, 5}, {1024, 1}, {2048, 40}, {16383, 2}, {16384, 200}};
    for (const Case& c : cases) {
        Tables t = decode_tables(build(harmonic(c.frames, c.harmonic, 0.5, 0.25)));
        int32_t offset = 0;
        for (int32_t size = 1024; size >= 4; size /= 2) {
            const int32_t step = 2048 / size;
            const bool in_band = c.harmonic < size / 2;
            const double gain = in_band ? gain_curve[c.harmonic * step] / gain_curve[1023] : 0;
            for (int32_t i = 0; i < size; ++i) {
                double wave = std::cos(2 * std::numbers::pi * c.harmonic * i / size);
                double full = gain * wave;
                double half = c.harmonic < size / 4 ? gain * wave : 0;
                ASSERT_NEAR(t.full[offset + i], full, 1.5 / 32767)
                    << c.frames << " frames, harmonic " << c.harmonic << ", level " << size;
                if (size < 1024) {
                    ASSERT_NEAR(t.half[offset + i], half, 1.5 / 32767)
                        << c.frames << " frames, harmonic " << c.harmonic << ", half " << size;
                }
            }
            offset += size;
        }
    }
}

TEST(TonepakMessage, DropsWhatLiesAboveTheBandOfTheResampledCycle) {
    // 2048 frames keep harmonics up to 511: harmonic 700 goes, and 600 with it.
    std::vector<double> clean = harmonic(2048, 3, 0.5);
    std::vector<double> mixed = clean;
    for (int32_t h : {600, 700}) {
        std::vector<double> high = harmonic(2048, h, 0.3);
        for (size_t j = 0; j < mixed.size(); ++j) mixed[j] += high[j];
    }
    Tables a = decode_tables(build(clean)), b = decode_tables(build(mixed));
    for (size_t i = 0; i < a.full.size(); ++i) ASSERT_NEAR(a.full[i], b.full[i], 1.5 / 32767);
}

// Harmonic 1 and harmonic 400 at the same level: in the table, 400 arrives weighted by its gain
// and faded by (1 − (400 − 351) / 162)².
TEST(TonepakMessage, FadesOutTheTopOfTheBand) {
    std::vector<double> low = harmonic(2048, 1, 0.5), high = harmonic(2048, 400, 0.5);
    for (size_t j = 0; j < low.size(); ++j) low[j] += high[j];
    Tables t = decode_tables(build(low));
    double a1 = 0, a400 = 0;
    for (int i = 0; i < 1024; ++i) {
        a1 += t.full[i] * std::cos(2 * std::numbers::pi * i / 1024) / 512;
        a400 += t.full[i] * std::cos(2 * std::numbers::pi * 400 * i / 1024) / 512;
    }
    const double fade = std::pow(1 - 49 / 162.0, 2);
    EXPECT_NEAR(a400 / a1, fade * gain_curve[800] / gain_curve[2], 2e-3);
}

TEST(TonepakMessage, SilentCycleGivesSilentTablesInAnIntactMessage) {
    Bytes message = build(std::vector<double>(300, 0.4));
    EXPECT_TRUE(intact_waveform(message));
    for (size_t p = 14; p < 7022; ++p) ASSERT_EQ(message[p], 0) << "byte " << p;
}

TEST(TonepakMessage, RefusesCyclesItCannotTake) {
    Bytes message(tonepak_message_length);
    std::vector<double> frames(tonepak_max_frames + 1, 0.5);
    FftTables& tables = start_up_tables();
    EXPECT_EQ(build_tonepak_message(tables, frames.data(), 0, message.data(), 0, 0), 0);
    EXPECT_EQ(
        build_tonepak_message(tables, frames.data(), tonepak_max_frames + 1, message.data(), 0, 0),
        0);
    EXPECT_EQ(build_tonepak_message(tables, nullptr, 100, message.data(), 0, 0), 0);
    FftTables powers_only;
    fft_init(powers_only, 16384, 0);
    EXPECT_EQ(build_tonepak_message(powers_only, frames.data(), 1000, message.data(), 0, 0), 0);
    EXPECT_EQ(build_tonepak_message(powers_only, frames.data(), 1024, message.data(), 0, 0), 1);
}

}  // namespace
}  // namespace jx
