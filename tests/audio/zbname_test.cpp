#include "audio/zbname.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace jx {
namespace {

std::string chars_of(const std::array<uint8_t, 4>& c) {
    return std::string(c.begin(), c.end());
}

TEST(FourCharName, FirstThreeAndLastInDeviceCharacters) {
    struct Case {
        const char* file_name;
        const char* chars;
    } cases[] = {
        {"kick", "KICK"},
        {"snare", "SNAE"},  // the last character fills position 4
        {"hat", "HAT "},
        {"Åsa", "[SA "},
        {"äÄöÖå", "\\\\]["},
        {"", "    "},
        {"é", "i   "},  // E9: not an ASCII letter, so only bit 7 is cleared
        {"a€b",
         "A\x00"
         "B "},           // the euro sign is Windows-1252 byte 80
        {"x☃y", "X?Y "},  // a character Windows-1252 lacks
        {"long name", "LONE"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(chars_of(four_char_name(c.file_name)), std::string(c.chars, 4)) << c.file_name;
    EXPECT_EQ(four_char_value("snare"), 0x534E4145u);
}

TEST(FourCharName, ReadsBackWithTheSwedishLetters) {
    const uint8_t chars[4] = {'[', 'S', 'A', ' '};
    EXPECT_EQ(four_char_text(chars), "ÅSA ");
    const uint8_t others[4] = {'\\', ']', 'k', '1'};
    EXPECT_EQ(four_char_text(others), "ÄÖk1");
}

TEST(ZbName, FollowsTheHeaderAndParsesBack) {
    SdsDump dump;
    dump.sample.bits = 16;
    dump.sample.length = 10;
    sds_begin_dump(dump, 7, 0);
    sds_build_header(dump, loop_file, std::nullopt);
    ASSERT_EQ(sds_build_zbname(dump, four_char_value("kick") | 0x80808080u), 13u);
    ASSERT_EQ(dump.header_length, 34u);
    const uint8_t* m = dump.header.data() + 21;
    EXPECT_EQ(std::vector<uint8_t>(m, m + 13),
              (std::vector<uint8_t>{0xF0, 0x00, 0x6B, 0x2E, 0x02, 0x00, 0x73, 7, 'K', 'I', 'C', 'K',
                                    0xF7}));
    ZbName name;
    ASSERT_EQ(parse_zbname(m, 13, name), 1);
    EXPECT_EQ(name.sample_number, 7);
    EXPECT_EQ(chars_of(name.chars), "KICK");
    EXPECT_EQ(parse_zbname(m, 11, name), -1);
    EXPECT_EQ(parse_zbname(dump.header.data(), 21, name), 0);
}

TEST(ZbName, NoMessageForSlotsItCannotName) {
    SdsDump dump;
    sds_begin_dump(dump, 128, 0);
    EXPECT_EQ(sds_build_zbname(dump, four_char_value("kick")), 0u);
    EXPECT_EQ(dump.header_length, 0u);
    sds_begin_dump(dump, 127, 0);
    EXPECT_EQ(sds_build_zbname(dump, four_char_value("kick")), 13u);
    EXPECT_EQ(dump.header[7], 127);
}

}  // namespace
}  // namespace jx
