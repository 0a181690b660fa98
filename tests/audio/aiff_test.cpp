#include "audio/aiff.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>

#include "sample_checks.h"
#include "sample_file_maker.h"
#include "transfer/entry_info.h"

namespace jx {
namespace {

using namespace test;

const Bytes frames_400(400, 0x11);

SampleInfo parsed(const Bytes& file, int expect = 1) {
    SampleInfo info;
    int result = is_aifc(file.data(), file.size()) ? parse_aifc(info, file.data(), file.size())
                                                   : parse_aiff(info, file.data(), file.size());
    EXPECT_EQ(result, expect);
    return info;
}

TEST(AiffReader, PlainStereoFile) {
    Bytes file = form("AIFF", {comm_chunk(2, 100, 16, rate_44100), ssnd_chunk(frames_400)});
    SampleInfo s = parsed(file);
    EXPECT_EQ(summary(s),
              "kind 1 format 4097 length 100 channels 2 bits 16 container 2 "
              "rate 44100 period 22676 loop 0..99 type 127 present 0 data 54");
    EntryInfo shown = describe_aiff(file.data(), file.size());
    EXPECT_EQ(shown.text, "Sample length: 100 Channels: 2 Sample Rate: 44100\nBits: 16 Loop OFF.");
    EXPECT_TRUE(shown.enable_loop && shown.enable_channel && shown.enable_tonepak);
}

TEST(AiffReader, SustainLoopFromMarkersInAnyOrder) {
    Bytes comm = comm_chunk(2, 100, 16, rate_44100);
    Bytes ssnd = ssnd_chunk(frames_400);
    Bytes inst = inst_chunk(1, 1, 2);
    Bytes mark = mark_chunk({{1, 10, "begin"}, {2, 90, "end loop"}});
    Bytes high_inst = inst_chunk(1, 300, 17);
    Bytes high_mark = mark_chunk({{17, 90, "e"}, {300, 10, "b"}});
    struct Case {
        const char* name;
        Bytes file;
    } cases[] = {
        {"INST then MARK", form("AIFF", {comm, ssnd, inst, mark})},
        {"MARK then INST", form("AIFF", {comm, ssnd, mark, inst})},
        {"both before the sound data", form("AIFF", {comm, mark, inst, ssnd})},
        {"sound data first", form("AIFF", {ssnd, inst, mark, comm})},
        {"marker ids of 16 and above, INST first",
         form("AIFF", {comm, ssnd, high_inst, high_mark})},
        {"marker ids of 16 and above, MARK first",
         form("AIFF", {comm, ssnd, high_mark, high_inst})},
        {"AIFC", form("AIFC", {comm_chunk(2, 100, 16, rate_44100, "NONE"), mark, ssnd, inst})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SampleInfo s = parsed(c.file);
        EXPECT_EQ(s.loop_type, 0x00);
        EXPECT_EQ(s.loop_start, 10);
        EXPECT_EQ(s.loop_end, 90);
        EXPECT_EQ(s.loop_present, 1);
        EXPECT_EQ(s.length, 100);
        EXPECT_EQ(s.period, 22676);
        std::string text = is_aifc(c.file.data(), c.file.size())
                               ? describe_aifc(c.file.data(), c.file.size()).text
                               : describe_aiff(c.file.data(), c.file.size()).text;
        EXPECT_EQ(text,
                  "Sample length: 100 Channels: 2 Sample Rate: 44100\nBits: 16 Loop ON. "
                  "Loop start: 10 Loop end: 90");
    }
}

TEST(AiffReader, LoopCases) {
    Bytes comm = comm_chunk(1, 200, 16, rate_44100);
    Bytes ssnd = ssnd_chunk(frames_400);
    Bytes mark = mark_chunk({{1, 10, "a"}, {2, 90, "bb"}});
    struct Case {
        const char* name;
        Bytes file;
        int type, start, end, present;
    } cases[] = {
        // Play mode 2 (forward and backward) is not kept: no loop type.
        {"play mode 2", form("AIFF", {comm, ssnd, inst_chunk(2, 1, 2), mark}), 0x7F, 10, 90, 1},
        {"play mode 0", form("AIFF", {comm, ssnd, inst_chunk(0, 1, 2), mark}), 0x7F, 10, 90, 1},
        {"an earlier INST's type stays",
         form("AIFF", {comm, ssnd, inst_chunk(1, 1, 2), inst_chunk(2, 1, 2), mark}), 0, 10, 90, 1},
        // Markers alone declare a loop, but no play mode: the default loop stays.
        {"markers without INST", form("AIFF", {comm, ssnd, mark}), 0x7F, 0, 199, 1},
        {"INST without markers", form("AIFF", {comm, ssnd, inst_chunk(1, 1, 2)}), 0, 0, 199, 0},
        {"INST naming a missing marker", form("AIFF", {comm, ssnd, inst_chunk(1, 1, 7), mark}), 0,
         10, 199, 1},
        {"an empty MARK", form("AIFF", {comm, ssnd, inst_chunk(1, 1, 2), mark_chunk({})}), 0, 0,
         199, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SampleInfo s = parsed(c.file);
        EXPECT_EQ(s.loop_type, c.type);
        EXPECT_EQ(s.loop_start, c.start);
        EXPECT_EQ(s.loop_end, c.end);
        EXPECT_EQ(s.loop_present, c.present);
    }
    EXPECT_EQ(describe_aiff(cases[0].file.data(), cases[0].file.size()).text,
              "Sample length: 200 Channels: 1 Sample Rate: 44100\nBits: 16 Loop OFF. "
              "Loop start: 10 Loop end: 90");
    // A marker's position is unsigned in the file, and shown so.
    const Bytes far = form("AIFF", {comm, ssnd, inst_chunk(1, 1, 2),
                                    mark_chunk({{1, 10, "a"}, {2, 0xFFFFFFFF, "bb"}})});
    EXPECT_EQ(describe_aiff(far.data(), far.size()).text,
              "Sample length: 200 Channels: 1 Sample Rate: 44100\nBits: 16 Loop ON. "
              "Loop start: 10 Loop end: 4294967295");
}

TEST(AiffReader, MarkerNamesArePaddedToEvenLength) {
    // An 8-character name is followed by a pad byte, a 1-character name is not: the marker
    // after each is read in the right place only when the padding is followed.
    for (const char* name : {"12345678", "x", "", "abc"}) {
        SCOPED_TRACE(name);
        Bytes file = form(
            "AIFF", {comm_chunk(1, 200, 16, rate_44100), ssnd_chunk(frames_400),
                     inst_chunk(1, 1, 2), mark_chunk({{5, 1, name}, {1, 33, name}, {2, 44, "z"}})});
        SampleInfo s = parsed(file);
        EXPECT_EQ(s.loop_start, 33);
        EXPECT_EQ(s.loop_end, 44);
    }
}

TEST(AiffReader, SoundDataBeforeCommUsesTheFilesOwnFormat) {
    Bytes file = form("AIFF", {ssnd_chunk(frames_400), comm_chunk(2, 100, 16, rate_48000)});
    SampleInfo s = parsed(file);
    EXPECT_EQ(s.length, 100);
    EXPECT_EQ(s.loop_end, 99);
    EXPECT_EQ(s.rate, 48000);
    EXPECT_EQ(s.period, 20833);
    EXPECT_EQ(s.data_start, 12 + 16);
}

TEST(AiffReader, FaultsAndTheirTexts) {
    Bytes comm = comm_chunk(1, 4, 16, rate_44100);
    Bytes good = form("AIFF", {comm, ssnd_chunk(Bytes(8))});
    Bytes past_end = good;
    past_end[4 + 3] -= 1;  // the FORM size now ends one byte before the sound data does
    Bytes cut_header = join({good, Bytes{'J', 'U', 'N', 'K', 0, 0}});
    cut_header[4 + 3] += 6;  // the FORM size counts six bytes that cannot hold a header
    Bytes cut_mark = aiff_chunk("MARK", join({be({{2, 2}, {1, 2}, {5, 4}}), Bytes{0, 0},
                                              be({{2, 2}, {6, 4}}), Bytes{3, 'a'}}));
    struct Case {
        const char* name;
        Bytes file;
        int result;
        const char* text;
    } cases[] = {
        {"no FORM", text("FARM0000AIFF"), 0, "Unknown AIFF\tFormat"},
        {"AIFC form", form("AIFC", {comm, ssnd_chunk(Bytes(8))}), -1, "Unknown AIFF\tFormat"},
        {"too short for the form type", text("FORM0000AIF"), -1, "Unknown AIFF\tFormat"},
        {"no COMM", form("AIFF", {ssnd_chunk(Bytes(8))}), -1, "Unknown AIFF\tFormat"},
        {"no channels", form("AIFF", {comm_chunk(0, 4, 16, rate_44100)}), -1,
         "Unknown AIFF\tFormat"},
        {"40 bits", form("AIFF", {comm_chunk(1, 4, 40, rate_44100)}), -1, "Unknown AIFF\tFormat"},
        {"chunk past the FORM data", past_end, -2, "AIFF: Chunk size error"},
        {"header cut by the end", cut_header, -2, "AIFF: Chunk size error"},
        {"COMM too short", form("AIFF", {aiff_chunk("COMM", Bytes(16))}), -2,
         "AIFF: Chunk size error"},
        {"SSND too short", form("AIFF", {comm, aiff_chunk("SSND", Bytes(6))}), -2,
         "AIFF: Chunk size error"},
        {"INST too short", form("AIFF", {comm, aiff_chunk("INST", Bytes(12))}), -2,
         "AIFF: Chunk size error"},
        {"MARK without a count", form("AIFF", {comm, aiff_chunk("MARK", Bytes(1))}), -2,
         "AIFF: Chunk size error"},
        {"marker name past the chunk", form("AIFF", {comm, cut_mark}), -2,
         "AIFF: Chunk size error"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        expect_refused(parse_aiff, describe_aiff, c.file, c.result, c.text);
    }
}

TEST(AifcReader, CompressionTypes) {
    struct Case {
        const char* type;
        int bits_in_comm;
        int compression, bits, container;
    } cases[] = {
        {"NONE", 16, aifc_compression::none, 16, 2}, {"NONE", 12, aifc_compression::none, 12, 2},
        {"sowt", 24, aifc_compression::sowt, 24, 3}, {"fl32", 32, aifc_compression::fl32, 24, 4},
        {"fl64", 64, aifc_compression::fl64, 24, 8}, {"FL32", 32, aifc_compression::fl32, 24, 4},
        {"FL64", 64, aifc_compression::fl64, 24, 8}, {"in24", 24, aifc_compression::none, 24, 3},
        {"42n1", 24, aifc_compression::sowt, 24, 3}, {"23ni", 32, aifc_compression::sowt, 32, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type);
        Bytes file = form(
            "AIFC", {comm_chunk(2, 0, c.bits_in_comm, rate_48000, c.type), ssnd_chunk(Bytes(48))});
        SampleInfo s = parsed(file);
        EXPECT_EQ(s.file_kind, sample_kind::aifc);
        EXPECT_EQ(s.format_code, 4099);
        EXPECT_EQ(s.compression, c.compression);
        EXPECT_EQ(s.bits, c.bits);
        EXPECT_EQ(s.container_bytes, c.container);
        EXPECT_EQ(s.length, 48 / c.container / 2);
    }
    struct Fault {
        const char* name;
        Bytes file;
        int result;
        const char* text;
    } faults[] = {
        {"u-law", form("AIFC", {comm_chunk(1, 0, 16, rate_44100, "ulaw")}), -3,
         "AIFC: Not PCM or Float"},
        {"8-bit offset binary", form("AIFC", {comm_chunk(1, 0, 8, rate_44100, "raw ")}), -3,
         "AIFC: Not PCM or Float"},
        {"lower-case none", form("AIFC", {comm_chunk(1, 0, 16, rate_44100, "none")}), -3,
         "AIFC: Not PCM or Float"},
        {"AIFF COMM in an AIFC", form("AIFC", {comm_chunk(1, 0, 16, rate_44100)}), -2,
         "AIFC: Chunk size error"},
        {"AIFF form", form("AIFF", {comm_chunk(1, 0, 16, rate_44100)}), -1, "Unknown AIFC\tFormat"},
    };
    for (const Fault& f : faults) {
        SCOPED_TRACE(f.name);
        expect_refused(parse_aifc, describe_aifc, f.file, f.result, f.text);
    }
    SampleInfo refused;
    parse_aifc(refused, faults[0].file.data(), faults[0].file.size());
    EXPECT_EQ(refused.compression, aifc_compression::unknown);
}

TEST(AifcReader, DecodeSamples) {
    auto info = [](int32_t compression, int bits, int container) {
        SampleInfo s;
        s.compression = compression;
        s.bits = bits;
        s.container_bytes = container;
        return s;
    };
    struct Case {
        const char* name;
        SampleInfo info;
        Bytes bytes;
        int32_t value;
    } cases[] = {
        {"NONE 8-bit is signed", info(0, 8, 1), {0x80}, -128},
        {"NONE 16-bit", info(0, 16, 2), {0x80, 0x01}, -32767},
        {"NONE 12-bit shifted", info(0, 12, 2), {0x7F, 0xF0}, 2047},
        {"NONE 20-bit shifted", info(0, 20, 3), {0x80, 0x00, 0x10}, -524287},
        {"NONE 24-bit", info(0, 24, 3), {0x12, 0x34, 0x56}, 0x123456},
        {"NONE 32-bit", info(0, 32, 4), {0x80, 0, 0, 0}, std::numeric_limits<int32_t>::min()},
        {"sowt 8-bit is signed", info(1, 8, 1), {0xFF}, -1},
        {"sowt 16-bit", info(1, 16, 2), {0x01, 0x80}, -32767},
        {"sowt 12-bit shifted", info(1, 12, 2), {0xF0, 0x7F}, 2047},
        {"sowt 24-bit", info(1, 24, 3), {0x56, 0x34, 0x12}, 0x123456},
        {"fl32 0.25", info(2, 24, 4), be({{std::bit_cast<uint32_t>(0.25f), 4}}), 2097152},
        {"fl32 -1.5", info(2, 24, 4), be({{std::bit_cast<uint32_t>(-1.5f), 4}}), -8388608},
        {"fl32 1.0", info(2, 24, 4), be({{std::bit_cast<uint32_t>(1.0f), 4}}), 8388607},
        {"fl32 NaN", info(2, 24, 4), be({{0x7FC00000, 4}}), 0},
        {"fl64 0.25", info(3, 24, 8), be({{0x3FD00000, 4}, {0, 4}}), 2097152},
        // Doubles are clamped a little lower than singles.
        {"fl64 1.0", info(3, 24, 8), be({{0x3FF00000, 4}, {0, 4}}), 8388606},
        {"fl64 -2.0", info(3, 24, 8), be({{0xC0000000, 4}, {0, 4}}), -8388608},
        {"unknown compression", info(-1, 16, 2), {0x12, 0x34}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(decode_aifc_sample(c.info, c.bytes.data()), c.value);
    }
}

TEST(AiffReader, DecodeBigEndian) {
    Bytes b = {0x81, 0x02, 0x03, 0x04};
    EXPECT_EQ(decode_big_endian(b.data(), 1), -127);
    EXPECT_EQ(decode_big_endian(b.data(), 2), -32510);
    EXPECT_EQ(decode_big_endian(b.data(), 3), static_cast<int32_t>(0xFF810203));
    EXPECT_EQ(decode_big_endian(b.data(), 4), static_cast<int32_t>(0x81020304));
    EXPECT_EQ(decode_big_endian(b.data() + 1, 3), 0x020304);
    EXPECT_EQ(decode_big_endian(b.data(), 0), 0);
}

}  // namespace
}  // namespace jx
