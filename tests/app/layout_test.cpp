#include "app/layout.h"

#include <gtest/gtest.h>

#include <map>

#include "platform/window/dialog_ids.h"

namespace jx {
namespace {

// Where the template puts each control of the bottom band, dialog units.
const std::map<int, std::pair<int, int>> template_corner = {
    {ids::file_info_group, {3, 100}},   {ids::file_info, {10, 112}},
    {ids::loop_button, {210, 107}},     {ids::tonepak, {250, 107}},
    {ids::channel_button, {210, 120}},  {ids::global_group, {295, 100}},
    {ids::samplepos_label, {308, 109}}, {ids::samplepos, {351, 107}},
    {ids::turbo_check, {308, 120}},     {ids::turbo_speed, {351, 121}},
    {ids::status_group, {3, 162}},      {ids::progress, {6, 168}},
    {ids::send_counter, {206, 168}},    {ids::status, {232, 168}},
};

// The corner each band control gets at the designed size plus `extra` dialog units of height:
// the template's, except the Loop and TonePAK buttons, which sit one unit higher.
std::pair<int, int> expected_corner(int id, int extra) {
    auto [x, y] = template_corner.at(id);
    if (id == ids::loop_button || id == ids::tonepak) y = 106;
    return {x, y + extra};
}

class LayoutTest : public testing::TestWithParam<DialogUnits> {};

TEST_P(LayoutTest, DesignedSizeAndTallerKeepTheBandAtItsDistances) {
    const DialogUnits units = GetParam();
    for (int extra : {0, 100}) {
        const Rect client = map_dialog_rect(units, {0, 0, 392, 180 + extra});
        const Layout placed = compute_layout(units, client.w, client.h);

        const Rect list = map_dialog_rect(units, {0, 0, 389, 80 + extra});
        EXPECT_EQ(placed.list_size, (Size{list.w, list.h})) << extra;
        EXPECT_EQ(placed.filename_width,
                  client.w - map_dialog_rect(units, {0, 0, 1000, 0}).w * 120 / 1000);
        ASSERT_EQ(placed.moves.size(), template_corner.size());
        for (const ControlPlacement& move : placed.moves) {
            const auto [x, y] = expected_corner(move.id, extra);
            const Rect corner = map_dialog_rect(units, {0, 0, x, y});
            EXPECT_EQ(move.x, corner.w) << move.id << " +" << extra;
            EXPECT_EQ(move.y, corner.h) << move.id << " +" << extra;
        }
    }
}

TEST_P(LayoutTest, WiderWindowWidensOnlyTheListAndItsFilenameColumn) {
    const DialogUnits units = GetParam();
    const Rect designed = map_dialog_rect(units, {0, 0, 392, 180});
    const Layout before = compute_layout(units, designed.w, designed.h);
    const Layout after = compute_layout(units, designed.w + 200, designed.h);

    EXPECT_EQ(after.filename_width, before.filename_width + 200);
    EXPECT_NEAR(after.list_size.w, before.list_size.w + 200, units.base_x / 4 + 1);
    EXPECT_EQ(after.list_size.h, before.list_size.h);
    for (size_t i = 0; i < before.moves.size(); ++i) {
        EXPECT_EQ(after.moves[i].x, before.moves[i].x);
        EXPECT_EQ(after.moves[i].y, before.moves[i].y);
    }
}

INSTANTIATE_TEST_SUITE_P(DialogFonts, LayoutTest,
                         testing::Values(DialogUnits{6, 13}, DialogUnits{7, 16},
                                         DialogUnits{9, 19}));

}  // namespace
}  // namespace jx
