#pragma once
// The main window's layout: the list view takes all extra width and height, the band of controls
// below it keeps its distances from the bottom edge, the command buttons stay where they are.
// Positions are kept in dialog units, so the layout follows the dialog font.
#include <vector>

#include "platform/window/window.h"

namespace jx {

struct ControlPlacement {
    int id = 0;
    int x = 0;  // top-left corner in client pixels
    int y = 0;
};

struct Layout {
    int filename_width = 0;  // the list view's "Filename" column, pixels
    Size list_size;          // the list view, pixels; its corner stays put
    std::vector<ControlPlacement> moves;
};

// The placement for a client area of width by height pixels.
Layout compute_layout(const DialogUnits& units, int width, int height);
// The client pixels of the point (x, y) in dialog units, as the control's new top-left corner.
ControlPlacement placement_of(const DialogUnits& units, int id, int x, int y);

// Applies compute_layout to the main window.
void layout(Window& window, int width, int height);
// Moves control id to (x, y) dialog units, keeping its size.
void move_control(Window& window, int id, int x, int y);

}  // namespace jx
