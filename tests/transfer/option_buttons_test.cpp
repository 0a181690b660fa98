// The Loop and L+R buttons, and the send counter and status fields.
#include <gtest/gtest.h>

#include "platform/window/dialog_ids.h"
#include "platform/window/headless_window.h"
#include "transfer/entry_info.h"

namespace jx {
namespace {

struct OptionButtons : ::testing::Test {
    HeadlessWindow window;
    TransferList list;
    void SetUp() override {
        list.window = &window;
        for (int k = 0; k < 6; ++k) insert_entry(list, "e", std::make_unique<Entry>(), -1);
    }
    std::string options() const {
        std::string all;
        for (const ListItem& item : list.items)
            all += std::string{item.entry->loop_option, item.entry->channel_option, ' '};
        return all;
    }
};

TEST_F(OptionButtons, LoopCyclesThroughItsThreeModesIntoTheFirstSelectedEntry) {
    set_selected(list, 2, true);
    std::vector<std::string> captions;
    for (int press = 0; press < 3; ++press) {
        press_loop_button(list);
        captions.push_back(window.text(ids::loop_button));
        if (press == 0) {
            EXPECT_EQ(entry_at(list, 2)->loop_option, '1');
        }
    }
    EXPECT_EQ(captions, (std::vector<std::string>{"Loop: On", "Loop: Off", "Loop: File"}));
    EXPECT_EQ(list.loop_mode, 0);
    EXPECT_EQ(options(), "00 00 00 00 00 00 ");
}

TEST_F(OptionButtons, ChannelChangesOnlyTheFirstOfSeveralSelected) {
    set_selected(list, 2, true);
    set_selected(list, 5, true);
    press_channel_button(list);
    press_channel_button(list);
    EXPECT_EQ(window.text(ids::channel_button), "Right");
    EXPECT_EQ(options(), "00 00 02 00 00 00 ");
}

TEST_F(OptionButtons, WithoutSelectionOnlyTheModeAndCaptionChange) {
    press_channel_button(list);
    EXPECT_EQ(window.text(ids::channel_button), "Left");
    EXPECT_EQ(list.channel_mode, 1);
    EXPECT_EQ(options(), "00 00 00 00 00 00 ");
}

TEST_F(OptionButtons, ModesSetWithoutShowLeaveTheCaptions) {
    window.set_text(ids::loop_button, "Loop:FILE");
    set_loop_mode(list, '2', false);
    set_channel_mode(list, '7', false);
    EXPECT_EQ(list.loop_mode, 2);
    EXPECT_EQ(list.channel_mode, 0);
    EXPECT_EQ(window.text(ids::loop_button), "Loop:FILE");
}

TEST(StatusFields, SendCounterAndStatusLine) {
    HeadlessWindow window;
    TransferList list;
    list.window = &window;
    show_send_counter(list, 1, 3);
    EXPECT_EQ(window.text(ids::send_counter), "(1/3)");
    show_send_counter(list, -1, 3);
    EXPECT_EQ(window.text(ids::send_counter), "");
    show_status(list, "Sent: 12");
    EXPECT_EQ(window.text(ids::status), "Sent: 12");
}

}  // namespace
}  // namespace jx
