// The File Info panel and the sample option buttons for sample entries.
#include "transfer/entry_info.h"

#include <gtest/gtest.h>

#include "audio/wav.h"
#include "maker_message.h"
#include "sample_file_maker.h"

namespace jx {
namespace {

using namespace test;

struct SampleEntryInfo : ::testing::Test {
    TransferList list;

    static Entry entry(const Bytes& data, char loop = '0', char channel = '0') {
        Entry e;
        e.data = data;
        e.loop_option = loop;
        e.channel_option = channel;
        return e;
    }
    // What is left to be shown: the File Info text, the buttons it enables, the captions.
    std::string text() const { return list.show_next.info.value_or(EntryInfo{"-"}).text; }
    std::string buttons() const {
        const EntryInfo info = list.show_next.info.value_or(EntryInfo{});
        return std::string(info.enable_loop ? "Loop " : "") + (info.enable_channel ? "L+R " : "") +
               (info.enable_tonepak ? "TonePAK" : "");
    }
    std::string loop_shown() const {
        return list.show_next.loop ? loop_caption(*list.show_next.loop) : "-";
    }
    std::string channel_shown() const {
        return list.show_next.channel ? channel_caption(*list.show_next.channel) : "-";
    }
};

const Bytes stereo_wav = riff({fmt_chunk(1, 2, 44100, 16), wav_chunk("data", Bytes(400))});

TEST_F(SampleEntryInfo, EachSampleKindIsDescribedByItsReader) {
    struct Case {
        const char* name;
        Bytes data;
        const char* text;
        const char* buttons;
    } cases[] = {
        {"WAV", stereo_wav, "Sample length: 100 Channels: 2 Sample Rate: 44100\nBits: 16 Loop OFF.",
         "Loop L+R TonePAK"},
        {"AIFF", form("AIFF", {comm_chunk(1, 0, 8, rate_48000), ssnd_chunk(Bytes(20000))}),
         "Sample length: 20000 Channels: 1 Sample Rate: 48000\nBits: 8 Loop OFF.", "Loop "},
        {"AIFC",
         form("AIFC", {comm_chunk(3, 0, 24, rate_44100, "fl32"), ssnd_chunk(Bytes(120)),
                       inst_chunk(1, 1, 2), mark_chunk({{1, 2, "a"}, {2, 8, "b"}})}),
         "Sample length: 10 Channels: 3 Sample Rate: 44100\nBits: 24 Loop ON. Loop start: 2 "
         "Loop end: 8",
         "Loop "},
        {"broken WAV", riff({wav_chunk("data", Bytes(8))}), "Unknown Wave Format", ""},
        {"broken AIFF", form("AIFF", {aiff_chunk("COMM", Bytes(4))}), "AIFF: Chunk size error", ""},
        {"refused AIFC", form("AIFC", {comm_chunk(1, 0, 8, rate_44100, "ulaw")}),
         "AIFC: Not PCM or Float", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Entry e = entry(c.data, '1', '2');
        EntryInfo info = describe_entry(e);
        EXPECT_TRUE(info.is_sample);
        EXPECT_EQ(info.text, c.text);
        list.show_next = {};
        show_entry_info(list, &e);
        EXPECT_EQ(text(), c.text);
        EXPECT_EQ(buttons(), c.buttons);
        // Readable or not, a sample entry brings its options to the buttons.
        EXPECT_EQ(loop_shown(), "Loop: On");
        EXPECT_EQ(channel_shown(), "Right");
        EXPECT_EQ(list.loop_mode, 1);
        EXPECT_EQ(list.channel_mode, 2);
    }
}

TEST_F(SampleEntryInfo, SysexAfterSampleKeepsTheCaptions) {
    Entry wav = entry(stereo_wav, '1', '0');
    show_entry_info(list, &wav);
    Entry kit = entry(record(0x06, 'R', {1, 2, 3, 4}), '2', '2');
    show_entry_info(list, &kit);
    EXPECT_EQ(buttons(), "");
    EXPECT_EQ(loop_shown(), "Loop: On");
    EXPECT_EQ(channel_shown(), "L+R");
    EXPECT_EQ(list.loop_mode, 1);
}

TEST_F(SampleEntryInfo, MakerDumpInsideASampleFileIsADump) {
    Bytes wav =
        riff({fmt_chunk(1, 1, 44100, 16), wav_chunk("data", record(0x06, 'R', {1, 2, 3, 4}))});
    Entry e = entry(wav, '2', '1');
    EntryInfo info = describe_entry(e);
    EXPECT_FALSE(info.is_sample);
    show_entry_info(list, &e);
    EXPECT_EQ(text().substr(0, 25), "Normal Globals: 0 Kits: 1");
    EXPECT_EQ(buttons(), "");
    EXPECT_EQ(loop_shown(), "-");  // a dump leaves the captions
    EXPECT_EQ(list.loop_mode, 0);
    EXPECT_EQ(list.channel_mode, 0);
}

TEST_F(SampleEntryInfo, OptionsThatAreNotDigitsKeepThePreviousModes) {
    Entry first = entry(stereo_wav, '2', '1');
    show_entry_info(list, &first);
    Entry odd = entry(stereo_wav, 'x', '\0');
    show_entry_info(list, &odd);
    EXPECT_EQ(loop_shown(), "Loop: Off");
    EXPECT_EQ(channel_shown(), "Left");
}

}  // namespace
}  // namespace jx
