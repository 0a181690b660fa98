// What the main window's timer shows of a send: the send's report, brought into the window.
#include "app/send_view.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/window/dialog_ids.h"
#include "sample_file_maker.h"
#include "transfer/entry_info.h"
#include "virtual_rig.h"

namespace jx {
namespace {

using test::Bytes;
using test::VirtualRig;
using namespace std::chrono_literals;

const Bytes sample =
    test::riff({test::fmt_chunk(1, 1, 44100, 16), test::wav_chunk("data", Bytes(20, 0x11))});

std::string status_text(VirtualRig& rig) {
    return rig.window.text(ids::status);
}

TEST(SendView, TheWindowShowsTheSendWhenItsTimerRunsAndOnlyWhatIsNew) {
    VirtualRig rig;
    rig.settings.midi_del = 60000;  // the send waits after its first message
    rig.add("/d/a.syx", {0xF0, 0x01, 0xF7, 0xF0, 0x02, 0xF7});
    ASSERT_TRUE(rig.start_send());
    ASSERT_TRUE(rig.wait_for([&] { return rig.device.device().record().sysex.size() == 1; }));
    // The send itself leaves the window alone.
    EXPECT_EQ(rig.window.text(ids::send), "");
    EXPECT_EQ(rig.window.text(ids::send_counter), "");
    rig.tick();
    EXPECT_EQ(rig.window.text(ids::send), "Stop Send");
    EXPECT_EQ(rig.window.text(ids::send_counter), "(1/1)");
    request_cancel(rig.state);
    ASSERT_TRUE(rig.wait_send_end(5s));
    EXPECT_EQ(rig.window.text(ids::send), "Send");

    // A whole send between two ticks: its last texts, and the File Info of its entry.
    rig.settings.midi_del = 0;
    {
        std::lock_guard lock(rig.list_mutex);
        set_selected(rig.list, 0, false);
    }
    rig.add("/d/s.wav", sample);
    ASSERT_TRUE(rig.start_send());
    ASSERT_TRUE(rig.wait_for([&] { return rig.send_ended.load(); }));
    rig.send.join();
    EXPECT_EQ(status_text(rig), "");
    rig.tick();
    const std::string sent = "Sent: " + std::to_string(rig.state.sent_count.load());
    EXPECT_EQ(status_text(rig), sent);
    EXPECT_EQ(rig.window.text(ids::send_counter), "");
    EXPECT_EQ(rig.window.text(ids::send), "Send");
    Entry entry;
    entry.data = sample;
    EXPECT_EQ(rig.window.text(ids::file_info), describe_entry(entry).text);
    EXPECT_EQ(rig.window.text(ids::loop_button), "Loop: File");

    // What the window wrote since stays while the send has nothing new; the same send again
    // shows its texts again.
    rig.window.set_text(ids::status, "Receiving: 5");
    rig.window.set_text(ids::file_info, "");
    rig.tick();
    EXPECT_EQ(status_text(rig), "Receiving: 5");
    EXPECT_EQ(rig.window.text(ids::file_info), "");
    ASSERT_TRUE(rig.run_send());
    EXPECT_EQ(status_text(rig), sent);
    EXPECT_EQ(rig.window.text(ids::file_info), describe_entry(entry).text);
}

// A dump received between two ticks left its File Info to be shown, as it was shown at once
// before the send's report reached the window: the panel ends with the send's entry.
TEST(SendView, TheSendsEntryIsShownOverWhatWasLeftBefore) {
    VirtualRig rig;
    rig.add("/d/s.wav", sample);
    ASSERT_TRUE(rig.start_send());
    ASSERT_TRUE(rig.wait_for([&] { return rig.send_ended.load(); }));
    rig.send.join();
    Entry received;
    received.data = {0xF0, 0x7E, 0x00, 0x01, 0xF7};
    show_entry_info(rig.list, &received);
    rig.tick();
    Entry sent;
    sent.data = sample;
    EXPECT_EQ(rig.window.text(ids::file_info), describe_entry(sent).text);
    EXPECT_FALSE(rig.list.show_next.info);
}

}  // namespace
}  // namespace jx
