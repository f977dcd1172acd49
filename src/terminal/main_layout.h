// The main window's resize rule: the receive display grows with the window, the horizontal
// line keeps its distance to the bottom edge, the controls below the line move down with it and
// the counters above its right end keep their distance to that end.
#pragma once

#include <vector>

// A rectangle in client coordinates; right and bottom are exclusive.
struct LayoutRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    friend bool operator==(const LayoutRect&, const LayoutRect&) = default;
};

// A child window that follows the line in the window order.
struct LayoutChild {
    LayoutRect startup;  // its rectangle when the window was first laid out
    LayoutRect current;  // its rectangle now (only its size is used)
};

// What one layout needs: the start-up client rectangle, the start-up rectangles of the line and
// the display, the children after the line (in window order), and the new client size.
struct LayoutInput {
    LayoutRect client0;
    LayoutRect line0;
    LayoutRect display0;
    std::vector<LayoutChild> after_line;
    int cx = 0;
    int cy = 0;
};

// Where each control goes; `after_line` in the order of the input.
struct LayoutResult {
    LayoutRect line;
    LayoutRect display;
    std::vector<LayoutRect> after_line;
};

// Lays out the line, the display and the children after the line for the client size cx, cy.
// With dy = cy - client0.bottom: the line's top is line0.bottom + dy (at least 0), it is one
// unit high and its right margin equals its left margin; the display keeps its left and top,
// its right margin equals its left margin and its bottom moves with the line (never above its
// top); a child that started below the line moves down with it and keeps its current left and
// size; a child that started above the line (the counters) also keeps its distance to the
// line's right end. Computed from the start-up rectangles only, so the same size always gives
// the same result (at the start-up size itself the line sits at its old bottom edge and what
// follows it one unit lower, as the rule gives). A window narrower or shorter than at start-up
// gives no negative width or height (a right edge is kept at least at its left edge). Pure; any
// thread.
LayoutResult LayoutControls(const LayoutInput& input);
