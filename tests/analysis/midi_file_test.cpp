#include "analysis/midi_file.h"

#include <gtest/gtest.h>

#include "maker_message.h"
#include "midi_file_maker.h"
#include "temp_dir.h"

namespace jx {
namespace {

using test::Bytes;
using test::concat;
using test::end_of_track;
using test::midi_file;

Bytes sysex_of(const Bytes& file, std::string* reason = nullptr) {
    Bytes sysex;
    if (!midi_file_sysex(file.data(), file.size(), sysex, reason)) return {};
    return sysex;
}

// Files written by mido, with the SysEx messages mido itself encodes from them beside each.
TEST(MidiFile, ReadsTheSysexOfFilesAnotherLibraryWrote) {
    for (const char* name : {"mido_format0", "mido_format1"}) {
        SCOPED_TRACE(name);
        const std::string base = std::string(JX_TEST_DATA_DIR) + "/" + name;
        const Bytes file = test::read_file(base + ".mid");
        const Bytes expected = test::read_file(base + ".syx");
        ASSERT_FALSE(file.empty());
        ASSERT_FALSE(expected.empty());
        std::string reason;
        EXPECT_EQ(sysex_of(file, &reason), expected) << reason;
    }
}

struct Found {
    const char* what;
    Bytes file;
    Bytes sysex;
};

Bytes header(uint32_t length, const Bytes& fields) {
    Bytes file{'M', 'T', 'h', 'd', 0, 0, 0, static_cast<uint8_t>(length)};
    return concat({file, fields});
}

TEST(MidiFile, JoinsPacketsAndPassesOverWhatIsNotSysex) {
    const Bytes track_with_foreign_chunk = concat({header(6, {0, 1, 0, 1, 0, 96}),
                                                   {'X', 'Y', 'Z', 'W', 0, 0, 0, 2, 0xF0, 0xF7},
                                                   {'M', 'T', 'r', 'k', 0, 0, 0, 9},
                                                   {0x00, 0xF0, 0x02, 0x41, 0xF7},
                                                   end_of_track,
                                                   {0x00}});  // a byte after the last track
    const Bytes longer_header = concat({header(8, {0, 0, 0, 1, 0, 96, 0xAA, 0xBB}),
                                        {'M', 'T', 'r', 'k', 0, 0, 0, 5},
                                        {0x00, 0xF0, 0x02, 0x42, 0xF7}});
    const Found cases[] = {
        {"a message in packets: F0, then F7 events continue it",
         midi_file(0, {concat({{0x00, 0xF0, 0x03, 0x43, 0x12, 0x00},
                               {0x81, 0x48, 0xF7, 0x06, 0x43, 0x12, 0x00, 0x43, 0x12, 0x00},
                               {0x64, 0xF7, 0x04, 0x43, 0x12, 0x00, 0xF7},
                               end_of_track})}),
         {0xF0, 0x43, 0x12, 0x00, 0x43, 0x12, 0x00, 0x43, 0x12, 0x00, 0x43, 0x12, 0x00, 0xF7}},
        {"escapes outside a message: real-time bytes are passed over, a whole message is kept",
         midi_file(0, {concat({{0x00, 0xF7, 0x01, 0xFA},
                               {0x00, 0xF7, 0x03, 0xF0, 0x44, 0xF7},
                               {0x00, 0xF7, 0x00},
                               end_of_track})}),
         {0xF0, 0x44, 0xF7}},
        {"running status carries over channel messages, and SysEx lies between them",
         midi_file(0, {concat({{0x00, 0x90, 0x3C, 0x64, 0x10, 0x3E, 0x64, 0x00, 0xC0, 0x05},
                               {0x00, 0xF0, 0x02, 0x45, 0xF7},
                               {0x00, 0xE0, 0x00, 0x40, 0x00, 0x00, 0x41},
                               end_of_track})}),
         {0xF0, 0x45, 0xF7}},
        {"a message left open keeps its bytes when the next one starts",
         midi_file(0, {concat({{0x00, 0xF0, 0x01, 0x46},
                               {0x00, 0xFF, 0x01, 0x01, 'x'},
                               {0x00, 0xF0, 0x02, 0x47, 0xF7},
                               end_of_track})}),
         {0xF0, 0x46, 0xF0, 0x47, 0xF7}},
        {"tracks in file order, events after End of Track ignored",
         midi_file(1, {concat({{0x00, 0xF0, 0x02, 0x48, 0xF7},
                               end_of_track,
                               {0x00, 0xF0, 0x02, 0x49, 0xF7}}),
                       concat({{0x00, 0xF0, 0x02, 0x4A, 0xF7}})}),
         {0xF0, 0x48, 0xF7, 0xF0, 0x4A, 0xF7}},
        {"chunks of other types skipped, bytes after the last track ignored",
         track_with_foreign_chunk,
         {0xF0, 0x41, 0xF7}},
        {"a header longer than six bytes", longer_header, {0xF0, 0x42, 0xF7}},
    };
    for (const Found& c : cases) {
        SCOPED_TRACE(c.what);
        std::string reason;
        EXPECT_EQ(sysex_of(c.file, &reason), c.sysex) << reason;
    }
}

struct Refused {
    const char* what;
    Bytes file;
    const char* reason;
};

TEST(MidiFile, DamagedFilesAreRefusedWithTheirReason) {
    const Bytes good_track = concat({{0x00, 0xF0, 0x02, 0x41, 0xF7}, end_of_track});
    Bytes cut = midi_file(1, {good_track, good_track});
    cut.resize(cut.size() - 3);
    Bytes missing_track = midi_file(1, {good_track});
    missing_track[11] = 2;
    const Refused cases[] = {
        {"no header", {'R', 'I', 'F', 'F', 0, 0, 0, 0}, "no header chunk (MThd)"},
        {"header cut short", {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0}, "header chunk is cut short"},
        {"header too short", concat({header(4, {0, 0, 0, 1}), good_track}), "too short"},
        {"header longer than the file", header(200, {0, 0, 0, 1, 0, 96}),
         "header chunk is cut short"},
        {"format 2", midi_file(2, {good_track}), "format 2 is not read"},
        {"format 0 of two tracks", midi_file(0, {good_track, good_track}), "other than one track"},
        {"fewer tracks than the header says", missing_track, "ends after 1 of 2 tracks"},
        {"the last track cut short", cut, "track 2 is cut short"},
        {"a data byte before any status", midi_file(0, {{0x00, 0x3C, 0x40}}),
         "track 1 has a data byte without a status"},
        {"SysEx ends running status",
         midi_file(0, {{0x00, 0x90, 0x3C, 0x40, 0x00, 0xF0, 0x01, 0xF7, 0x00, 0x3C, 0x00}}),
         "data byte without a status"},
        {"a delta-time of five bytes",
         midi_file(0, {{0x81, 0x81, 0x81, 0x81, 0x01, 0xF0, 0x01, 0xF7}}),
         "number longer than four bytes"},
        {"a SysEx length past the track", midi_file(0, {{0x00, 0xF0, 0x83, 0x00, 0x41, 0xF7}}),
         "event longer than the track"},
        {"a meta length past the track", midi_file(0, {{0x00, 0xFF, 0x01, 0x05, 'a'}}),
         "event longer than the track"},
        {"a status no event has", midi_file(0, {{0x00, 0xF2, 0x00, 0x00}}), "status byte F2"},
        {"a channel message cut short by the track's end", midi_file(0, {{0x00, 0x90, 0x3C}}),
         "cut short inside a channel message"},
        {"a channel message cut short by a status",
         midi_file(0, {{0x00, 0x90, 0x3C, 0xF0, 0x01, 0xF7}}), "cut short by the byte F0"},
        {"a track ending after a delta-time", midi_file(0, {{0x00}}), "ends after a delta-time"},
        {"no SysEx at all", midi_file(0, {{0x00, 0x90, 0x3C, 0x40, 0x00, 0xFF, 0x2F, 0x00}}),
         "holds no SysEx messages"},
    };
    for (const Refused& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes sysex{0x01};
        std::string reason;
        EXPECT_FALSE(midi_file_sysex(c.file.data(), c.file.size(), sysex, &reason));
        EXPECT_NE(reason.find(c.reason), std::string::npos) << reason;
        EXPECT_EQ(reason.rfind("MIDI file: ", 0), 0u) << reason;
    }
}

}  // namespace
}  // namespace jx
