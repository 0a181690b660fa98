#include "platform/window/window.h"

namespace jx {

namespace {
// a * b / c rounded to the nearest, halves away from zero.
int mul_div(int a, int b, int c) {
    const int64_t product = static_cast<int64_t>(a) * b;
    const int64_t half = c / 2;
    return static_cast<int>(product >= 0 ? (product + half) / c : (product - half) / c);
}
}  // namespace

int du_to_px_x(const DialogUnits& units, int du) {
    return mul_div(du, units.base_x, 4);
}
int du_to_px_y(const DialogUnits& units, int du) {
    return mul_div(du, units.base_y, 8);
}

Rect map_dialog_rect(const DialogUnits& units, const Rect& du) {
    const int left = du_to_px_x(units, du.x);
    const int top = du_to_px_y(units, du.y);
    return {left, top, du_to_px_x(units, du.x + du.w) - left, du_to_px_y(units, du.y + du.h) - top};
}

}  // namespace jx
