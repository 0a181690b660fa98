// The File Info box, the option buttons and the Samplepos edit, shown from what the list's
// operations left.
#include "app/show_next.h"

#include <gtest/gtest.h>

#include "platform/window/dialog_ids.h"
#include "platform/window/headless_window.h"
#include "sample_file_maker.h"
#include "transfer/entry_info.h"

namespace jx {
namespace {

using test::Bytes;

struct ShowNextTest : ::testing::Test {
    HeadlessWindow window;
    TransferList list;
    void SetUp() override {
        for (int id : {ids::loop_button, ids::channel_button, ids::tonepak})
            window.enable(id, false);
    }
    std::string buttons() const {
        return std::string(window.is_enabled(ids::loop_button) ? "Loop " : "") +
               (window.is_enabled(ids::channel_button) ? "L+R " : "") +
               (window.is_enabled(ids::tonepak) ? "TonePAK" : "");
    }
};

TEST_F(ShowNextTest, TheInfoEnablesOnlyWhatApplies) {
    const Bytes stereo =
        test::riff({test::fmt_chunk(1, 2, 44100, 16), test::wav_chunk("data", Bytes(400))});
    const Bytes mono =
        test::riff({test::fmt_chunk(1, 1, 44100, 16), test::wav_chunk("data", Bytes(400))});
    const struct {
        const char* name;
        EntryInfo info;
        const char* buttons;
    } cases[] = {
        {"stereo WAV", describe_wav(stereo.data(), stereo.size()), "Loop L+R TonePAK"},
        {"mono WAV", describe_wav(mono.data(), mono.size()), "Loop TonePAK"},
        {"a dump", EntryInfo{"Normal Globals: 0"}, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        list.show_next.info = c.info;
        show_next(window, list);
        EXPECT_EQ(window.text(ids::file_info), c.info.text);
        EXPECT_EQ(buttons(), c.buttons);
    }
}

TEST_F(ShowNextTest, EachValueIsShownOnceAndWhatIsNotLeftStays) {
    window.set_text(ids::loop_button, "Loop: File");
    window.set_text(ids::samplepos, "3");
    list.show_next.info = EntryInfo{"first"};
    list.show_next.channel = channel_right;
    list.show_next.sample_position = 12;
    show_next(window, list);
    EXPECT_EQ(window.text(ids::file_info), "first");
    EXPECT_EQ(window.text(ids::channel_button), "Right");
    EXPECT_EQ(window.text(ids::loop_button), "Loop: File");
    EXPECT_EQ(window.text(ids::samplepos), "12");

    // What the window wrote itself since stays until something new is left.
    window.set_text(ids::file_info, "Record:Out of Memory");
    window.set_text(ids::samplepos, "4");
    show_next(window, list);
    EXPECT_EQ(window.text(ids::file_info), "Record:Out of Memory");
    EXPECT_EQ(window.text(ids::samplepos), "4");

    list.show_next.loop = loop_off;
    show_next(window, list);
    EXPECT_EQ(window.text(ids::loop_button), "Loop: Off");
    EXPECT_EQ(window.text(ids::file_info), "Record:Out of Memory");
}

}  // namespace
}  // namespace jx
