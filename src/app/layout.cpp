#include "app/layout.h"

#include "platform/window/dialog_ids.h"

namespace jx {

namespace {

struct BandControl {
    int id;
    int x;
    int distance;  // of its top edge above the client bottom, dialog units
};

constexpr BandControl band_controls[] = {
    {ids::file_info_group, 3, 80},   {ids::file_info, 10, 68},       {ids::loop_button, 210, 74},
    {ids::tonepak, 250, 74},         {ids::channel_button, 210, 60}, {ids::global_group, 295, 80},
    {ids::samplepos_label, 308, 71}, {ids::samplepos, 351, 73},      {ids::turbo_check, 308, 60},
    {ids::turbo_speed, 351, 59},     {ids::status_group, 3, 18},     {ids::progress, 6, 12},
    {ids::send_counter, 206, 12},    {ids::status, 232, 12},
};

// The list view's room: its left and top edges stay at (1, 20); it ends 3 dialog units short
// of the right edge and leaves 100 below it for the band.
constexpr int list_width_margin = 3;
constexpr int list_height_margin = 100;
// The "Size" and "Type" columns' room right of "Filename".
constexpr int other_columns_width = 120;

}  // namespace

ControlPlacement placement_of(const DialogUnits& units, int id, int x, int y) {
    const Rect corner = map_dialog_rect(units, {0, 0, x, y});
    return {id, corner.w, corner.h};
}

Layout compute_layout(const DialogUnits& units, int width, int height) {
    const Rect thousand = map_dialog_rect(units, {0, 0, 1000, 1000});
    const int px1000x = thousand.w > 0 ? thousand.w : 1;
    const int px1000y = thousand.h > 0 ? thousand.h : 1;

    Layout result;
    result.filename_width = width - px1000x * other_columns_width / 1000;
    const int w = static_cast<int>(static_cast<int64_t>(width) * 1000 / px1000x);
    const int h = static_cast<int>(static_cast<int64_t>(height) * 1000 / px1000y);
    const Rect list = map_dialog_rect(units, {0, 0, w - list_width_margin, h - list_height_margin});
    result.list_size = {list.w, list.h};
    for (const BandControl& control : band_controls)
        result.moves.push_back(placement_of(units, control.id, control.x, h - control.distance));
    return result;
}

void layout(Window& window, int width, int height) {
    const Layout placed = compute_layout(window.dialog_units(), width, height);
    window.set_column_width(ids::transfer_list, 0, placed.filename_width);
    window.size_control(ids::transfer_list, placed.list_size.w, placed.list_size.h);
    for (const ControlPlacement& move : placed.moves) window.move_control(move.id, move.x, move.y);
}

void move_control(Window& window, int id, int x, int y) {
    const ControlPlacement placed = placement_of(window.dialog_units(), id, x, y);
    window.move_control(id, placed.x, placed.y);
}

}  // namespace jx
