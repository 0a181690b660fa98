// The Loop and L+R buttons, and the send counter field.
#include <gtest/gtest.h>

#include "transfer/entry_info.h"

namespace jx {
namespace {

struct OptionButtons : ::testing::Test {
    TransferList list;
    void SetUp() override {
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
        list.show_next = {};
        press_loop_button(list);
        captions.push_back(list.show_next.loop ? loop_caption(*list.show_next.loop) : "-");
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
    EXPECT_EQ(list.show_next.channel, channel_right);
    EXPECT_EQ(options(), "00 00 02 00 00 00 ");
}

TEST_F(OptionButtons, WithoutSelectionOnlyTheModeAndCaptionChange) {
    press_channel_button(list);
    EXPECT_EQ(list.show_next.channel, channel_left);
    EXPECT_EQ(list.channel_mode, 1);
    EXPECT_EQ(options(), "00 00 00 00 00 00 ");
}

TEST_F(OptionButtons, ModesSetWithoutShowLeaveTheCaptions) {
    set_loop_mode(list, '2', false);
    set_channel_mode(list, '7', false);
    EXPECT_EQ(list.loop_mode, 2);
    EXPECT_EQ(list.channel_mode, 0);
    EXPECT_FALSE(list.show_next.loop);
    EXPECT_FALSE(list.show_next.channel);
}

TEST(StatusFields, SendCounter) {
    EXPECT_EQ(send_counter_text(1, 3), "(1/3)");
    EXPECT_EQ(send_counter_text(-1, 3), "");
}

}  // namespace
}  // namespace jx
