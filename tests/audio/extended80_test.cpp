#include "audio/extended80.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>

namespace jx {
namespace {

using Ten = std::array<uint8_t, 10>;

TEST(Extended80, ReadsRates) {
    struct Case {
        const char* name;
        Ten bytes;
        int32_t rate;
    } cases[] = {
        {"44100", {0x40, 0x0E, 0xAC, 0x44, 0, 0, 0, 0, 0, 0}, 44100},
        {"44100 without the exponent's top bit", {0x00, 0x0E, 0xAC, 0x44, 0, 0, 0, 0, 0, 0}, 44100},
        {"48000", {0x40, 0x0E, 0xBB, 0x80, 0, 0, 0, 0, 0, 0}, 48000},
        {"22254.5454 drops the fraction",
         {0x40, 0x0D, 0xAD, 0xDD, 0x17, 0x45, 0xD1, 0x74, 0x5D, 0x17},
         22254},
        {"1", {0x3F, 0xFF, 0x80, 0, 0, 0, 0, 0, 0, 0}, 1},
        {"negative", {0xC0, 0x0E, 0xAC, 0x44, 0, 0, 0, 0, 0, 0}, -44100},
        {"zero", {0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 0},
        {"infinity", {0x7F, 0xFF, 0x80, 0, 0, 0, 0, 0, 0, 0}, 0},
        {"not a number", {0x7F, 0xFF, 0xC0, 0, 0, 0, 0, 0, 0, 1}, 0},
        {"below one", {0x3F, 0xFE, 0x80, 0, 0, 0, 0, 0, 0, 0}, 0},
        {"top mantissa bits only", {0x40, 0x1D, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0}, 0x7FFFFFFF},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(read_extended80(c.bytes.data()), c.rate);
    }
}

TEST(Extended80, WritesWholeRatesExactly) {
    Ten b;
    write_extended80(44100, b.data());
    EXPECT_EQ(b, (Ten{0x40, 0x0E, 0xAC, 0x44, 0, 0, 0, 0, 0, 0}));
    for (int32_t rate :
         {1, 2, 3, 8000, 11025, 22050, 32000, 44100, 48000, 96000, 192000, 1 << 30, 0x7FFFFFFF}) {
        SCOPED_TRACE(rate);
        write_extended80(rate, b.data());
        EXPECT_EQ(read_extended80(b.data()), rate);
    }
    b.fill(0xAA);
    write_extended80(0, b.data());
    EXPECT_EQ(b, Ten{});
    write_extended80(-5, b.data());
    EXPECT_EQ(b, Ten{});
}

}  // namespace
}  // namespace jx
