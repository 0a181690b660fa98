#include "analysis/sysex_scan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>

#include "maker_message.h"

namespace jx {
namespace {

using test::Bytes;
using test::concat;
using test::record;

std::string describe(uint8_t device_code, const Bytes& data) {
    return describe_dump(device_code, data.data(), data.size()).value_or("<none>");
}

std::string six(std::array<int, 12> c) {
    char text[320];
    std::snprintf(text, sizeof text,
                  "Normal Globals: %i Kits: %i Sounds: %i\n       Patterns: %i Songs: %i Settings: "
                  "%i\nBroken Globals: %i Kits: %i Sounds: %i\n       Patterns: %i Songs: %i "
                  "Settings: %i",
                  c[0], c[1], c[2], c[3], c[4], c[5], c[6], c[7], c[8], c[9], c[10], c[11]);
    return text;
}

std::string four(std::array<int, 8> c) {
    char text[256];
    std::snprintf(text, sizeof text,
                  "Normal Globals: %i Kits: %i Patterns: %i Songs: %i \nBroken Globals: %i Kits: "
                  "%i Patterns: %i Songs: %i",
                  c[0], c[1], c[2], c[3], c[4], c[5], c[6], c[7]);
    return text;
}

Bytes with_byte(Bytes m, size_t at, uint8_t value) {
    m.at(at) = value;
    return m;
}

const Bytes body = {0x01, 0x02, 0x7F, 0x40, 0x10, 0x00, 0x05};

TEST(MatchDevice, FindsTheHeaderOnlyWhenAllFiveBytesAreInside) {
    struct Case {
        Bytes data;
        uint8_t device;
        bool expected;
    } cases[] = {
        {{}, 0x02, false},
        {{0xF0}, 0x02, false},
        {{0xF0, 0x00, 0x6B, 0x2E, 0x02}, 0x02, false},        // header cut off by the end
        {{0xF0, 0x00, 0x6B, 0x2E, 0x02, 0x00}, 0x02, true},   // no id needed to match
        {{0xF0, 0x00, 0x6B, 0x2E, 0x02, 0x00}, 0x03, false},  // another device
        {{0xF0, 0x00, 0x6B, 0x2E, 0x02, 0x01}, 0x02, false},  // sixth byte must be 00
        {{0x12, 0xF0, 0xF0, 0x00, 0x6B, 0x2E, 0x07, 0x00, 0xF7}, 0x07, true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(match_device(c.data.data(), c.data.size(), c.device), c.expected)
            << "device " << int(c.device) << " over " << c.data.size() << " bytes";
}

// The header is found wherever it stands in a long stretch of data, and the one pass that
// gathers every device code finds what match_device finds, code by code.
TEST(MatchDevice, FindsTheHeaderAtEveryPlaceAndTheOnePassAgrees) {
    const Bytes header = {0xF0, 0x00, 0x6B, 0x2E, 0x05, 0x00};
    for (size_t size : {size_t{6}, size_t{70}, size_t{150}}) {
        for (size_t at = 0; at + 6 <= size + 5; ++at) {
            SCOPED_TRACE(std::to_string(size) + " bytes, header at " + std::to_string(at));
            Bytes data(size, 0x7F);
            for (size_t k = 0; k < header.size() && at + k < size; ++k) data[at + k] = header[k];
            const bool whole = at + 6 <= size;
            const DeviceCodes codes = maker_device_codes(data.data(), data.size());
            for (int code = 0; code < 256; ++code) {
                const bool found = match_device(data.data(), data.size(), code);
                EXPECT_EQ(found, whole && code == 0x05) << "code " << code;
                EXPECT_EQ(codes.has(static_cast<uint8_t>(code)), found) << "code " << code;
            }
        }
    }
    // Several devices in one stretch, the last header past the 64-byte step.
    Bytes data(200, 0x01);
    for (auto [at, code] : {std::pair{3, 0x02}, {63, 0x07}, {130, 0x81}}) {
        std::copy(header.begin(), header.end(), data.begin() + at);
        data[at + 4] = static_cast<uint8_t>(code);
    }
    const DeviceCodes codes = maker_device_codes(data.data(), data.size());
    for (int code = 0; code < 256; ++code)
        EXPECT_EQ(codes.has(static_cast<uint8_t>(code)),
                  code == 0x02 || code == 0x07 || code == 0x81)
            << "code " << code;
}

TEST(Decode21, IsThreeSevenBitGroupsMostSignificantFirst) {
    const uint8_t bytes[] = {0x01, 0x7F, 0x02};
    EXPECT_EQ(decode21(bytes), 16384 + 127 * 128 + 2);
}

TEST(DescribeDump, CountsEachKindOfTheSixKindDevices) {
    Bytes dump = concat({record(0x06, 'W', body), record(0x06, 'R', body), record(0x06, 'R', body),
                         record(0x06, 'S', body), record(0x06, 'T', body), record(0x06, 'U', body),
                         record(0x06, 'V', body), record(0x06, 'X', body)});
    EXPECT_EQ(describe(0x06, dump), six({1, 2, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0}));
    Bytes kg = concat({record(0x07, 'S', body), record(0x07, 'S', body)});
    EXPECT_EQ(describe(0x07, kg), six({0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(DescribeDump, CountsTheFourKindDevices) {
    Bytes dump =
        concat({record(0x02, 'P', body), record(0x02, 'R', body), record(0x02, 'g', body),
                record(0x02, 'g', body), record(0x02, 'i', body), record(0x02, 'W', body)});
    EXPECT_EQ(describe(0x02, dump), four({1, 1, 2, 1, 0, 0, 0, 0}));
    EXPECT_EQ(describe(0x03, record(0x03, 'R', body)), four({0, 1, 0, 0, 0, 0, 0, 0}));
}

TEST(DescribeDump, MovesDamagedMessagesToTheBrokenCount) {
    Bytes kit = record(0x06, 'R', body);
    size_t f = kit.size() - 1;
    struct Case {
        const char* what;
        Bytes dump;
        std::string expected;
    } cases[] = {
        {"checksum off by one", concat({kit, with_byte(kit, f - 3, kit[f - 3] + 1)}),
         six({0, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0})},
        {"length field one too small", with_byte(kit, f - 1, kit[f - 1] - 1),
         six({0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0})},
        {"no F7 before the end", Bytes(kit.begin(), kit.end() - 1),
         six({0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0})},
        {"empty dump", {}, six({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0})},
        {"F0 as the last byte", concat({kit, {0xF0}}), six({0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0})},
        {"header without an id byte", concat({kit, {0xF0, 0x00, 0x6B, 0x2E, 0x06, 0x00}}),
         six({0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0})},
        {"id byte with nothing after it", concat({kit, {0xF0, 0x00, 0x6B, 0x2E, 0x06, 0x00, 'R'}}),
         six({0, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0})},
    };
    for (const Case& c : cases) EXPECT_EQ(describe(0x06, c.dump), c.expected) << c.what;
}

TEST(DescribeDump, AMessageWithoutF7IsClosedByTheNextMessagesF7) {
    Bytes first = record(0x06, 'S', body);
    first.pop_back();  // its F7 is lost; the second message's F7 closes it, and the test fails
    Bytes dump = concat({first, record(0x06, 'T', body)});
    EXPECT_EQ(describe(0x06, dump), six({0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0}));
}

TEST(DescribeDump, ChecksumStartsOneByteNearerTheIdForFourKindDevices) {
    // Built for the six-kind devices' start; body[2] makes the four-kind sum differ.
    Bytes six_kind = test::maker_message(0x06, 'R', body, 4);
    Bytes as_ka = six_kind;
    as_ka[4] = 0x02;
    EXPECT_EQ(describe(0x06, six_kind), six({0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(describe(0x02, as_ka), four({0, 0, 0, 0, 0, 1, 0, 0}));
}

TEST(DescribeDump, BytesAboveSevenFAreSummedAsNegativeValues) {
    // 0x90 inside a body is not valid MIDI, but a damaged dump can hold it: -112 + 3 = -109,
    // whose low 14 bits are 0x3F93.
    Bytes m = {0xF0, 0x00, 0x6B, 0x2E, 0x06, 0x00, 'R',  0x00, 0x00,
               0x00, 0x90, 0x03, 0x7F, 0x13, 0x00, 0x07, 0xF7};
    EXPECT_EQ(describe(0x06, m), six({0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(DescribeDump, OnlyTheAskedDeviceIsCountedInAMixedFile) {
    Bytes dump =
        concat({record(0x06, 'R', body), record(0x07, 'R', body), record(0x07, 'R', body)});
    EXPECT_EQ(describe(0x06, dump), six({0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(DescribeDump, HeadersInsideBodiesAreExaminedToo) {
    // A Kit message whose body carries a whole Song message: both are counted, and the outer
    // one stays intact because its checksum covers the inner bytes.
    Bytes inner = record(0x06, 'U', body);
    inner.pop_back();  // without F7 the outer message's F7 closes both
    Bytes outer = record(0x06, 'R', inner);
    EXPECT_EQ(describe(0x06, outer), six({0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0}));
}

TEST(DescribeDump, FixedTextAndNoText) {
    EXPECT_EQ(describe(0x01, {}), "PULSEBENCH");
    EXPECT_EQ(describe(0x05, record(0x05, 'R', body)), "");
    EXPECT_EQ(describe(0x04, record(0x04, 'R', body)), "<none>");
}

TEST(DescribeDump, StaysLinearOnHeadersWithoutAnyF7) {
    // Thousands of headers and no F7: every message is broken, and the scan must not search the
    // rest of the data again for each of them.
    Bytes dump;
    for (int k = 0; k < 20000; ++k)
        dump.insert(dump.end(), {0xF0, 0x00, 0x6B, 0x2E, 0x06, 0x00, 'R'});
    EXPECT_EQ(describe(0x06, dump), six({0, 0, 0, 0, 0, 0, 0, 20000, 0, 0, 0, 0}));
}

}  // namespace
}  // namespace jx
