#include "terminal/main_layout.h"

#include <algorithm>

namespace {

// The right edge `margin` units from the client's right side, never left of `left`.
int RightWithMargin(int cx, int margin, int left) {
    return std::max(left, cx - margin);
}

// `rect` moved to (left, top) with its width and height, negative sizes taken as 0.
LayoutRect Placed(int left, int top, const LayoutRect& size) {
    return {left, top, left + std::max(0, size.Width()), top + std::max(0, size.Height())};
}

}  // namespace

LayoutResult LayoutControls(const LayoutInput& input) {
    const LayoutRect& line0 = input.line0;
    const LayoutRect& display0 = input.display0;
    const int dy = input.cy - input.client0.bottom;

    LayoutResult result;
    const int line_top = std::max(0, line0.bottom + dy);
    result.line = {line0.left, line_top, RightWithMargin(input.cx, line0.left, line0.left),
                   line_top + 1};

    const int display_bottom = std::max(display0.top, display0.bottom + (line_top - line0.top));
    result.display = {display0.left, display0.top,
                      RightWithMargin(input.cx, display0.left, display0.left), display_bottom};

    // How far everything below the line moves, and how far the line's right end moved.
    const int shift_down = line_top + 1 - line0.bottom;
    const int shift_right = result.line.right - line0.right;
    result.after_line.reserve(input.after_line.size());
    for (const LayoutChild& child : input.after_line) {
        const int top = child.startup.top + shift_down;
        const int left = child.startup.top >= line0.bottom ? child.current.left
                                                           : child.startup.left + shift_right;
        result.after_line.push_back(Placed(left, top, child.current));
    }
    return result;
}
