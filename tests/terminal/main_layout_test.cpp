// Laying out the main window's controls when it is resized: the dividing line, the display
// above it, and the controls after it in window order.
#include "terminal/main_layout.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// A window of 600 x 400 at start-up: the display above a line at y 300, a button and the input
// box below the line, and the TX counter above the line's right end (after it in window order).
LayoutInput StartUp(int cx = 600, int cy = 400) {
    LayoutInput input;
    input.client0 = {0, 0, 600, 400};
    input.line0 = {10, 300, 590, 301};
    input.display0 = {10, 10, 590, 290};
    const LayoutRect button = {10, 310, 90, 334};
    const LayoutRect input_box = {100, 310, 590, 390};
    const LayoutRect counter = {520, 292, 590, 299};
    input.after_line = {{button, button}, {input_box, input_box}, {counter, counter}};
    input.cx = cx;
    input.cy = cy;
    return input;
}

// The line's top is always the start-up bottom plus the growth, and it keeps one unit of
// height, so everything below it and the counters sit one unit lower at the start-up size.
// Controls below the line move down by the growth; the counter keeps its distance to the right
// end; the display and the line take the extra width.
TEST(LayoutControlsTest, ControlsFollowTheWindowSize) {
    const struct {
        int cx, cy;
        LayoutRect line, display;
        std::vector<LayoutRect> after_line;
    } rows[] = {
        {600,
         400,
         {10, 301, 590, 302},
         {10, 10, 590, 291},
         {{10, 311, 90, 335}, {100, 311, 590, 391}, {520, 293, 590, 300}}},
        {600,
         480,
         {10, 381, 590, 382},
         {10, 10, 590, 371},
         {{10, 391, 90, 415}, {100, 391, 590, 471}, {520, 373, 590, 380}}},
        {750,
         400,
         {10, 301, 740, 302},
         {10, 10, 740, 291},
         {{10, 311, 90, 335}, {100, 311, 590, 391}, {670, 293, 740, 300}}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(::testing::Message() << row.cx << " x " << row.cy);
        const LayoutResult result = LayoutControls(StartUp(row.cx, row.cy));
        EXPECT_EQ(result.line, row.line);
        EXPECT_EQ(result.display, row.display);
        EXPECT_EQ(result.after_line, row.after_line);
    }
}

TEST(LayoutControlsTest, SameSizeTwiceGivesTheSameResultAndChildrenKeepTheirCurrentSize) {
    LayoutInput input = StartUp(800, 650);
    const LayoutResult first = LayoutControls(input);
    // The children now sit where the first layout put them; the second must not move them.
    for (size_t i = 0; i < input.after_line.size(); ++i) {
        input.after_line[i].current = first.after_line[i];
    }
    const LayoutResult second = LayoutControls(input);
    EXPECT_EQ(second.line, first.line);
    EXPECT_EQ(second.display, first.display);
    EXPECT_EQ(second.after_line, first.after_line);

    input = StartUp(600, 420);
    input.after_line[1].current = {100, 310, 700, 420};  // the owner made it bigger
    EXPECT_EQ(LayoutControls(input).after_line[1], (LayoutRect{100, 331, 700, 441}));
}

TEST(LayoutControlsTest, SmallerThanStartUpGivesNoNegativeSizes) {
    for (const auto& [cx, cy] : {std::pair{15, 400}, {600, 50}, {0, 0}, {-20, -20}}) {
        SCOPED_TRACE(::testing::Message() << cx << " x " << cy);
        const LayoutResult result = LayoutControls(StartUp(cx, cy));
        EXPECT_GE(result.line.top, 0);
        EXPECT_GE(result.line.Width(), 0);
        EXPECT_EQ(result.line.Height(), 1);
        EXPECT_GE(result.display.Width(), 0);
        EXPECT_GE(result.display.Height(), 0);
        for (const LayoutRect& rect : result.after_line) {
            EXPECT_GE(rect.Width(), 0);
            EXPECT_GE(rect.Height(), 0);
        }
    }
    // The line would go to -50: it stops at the top, and the display is flat.
    const LayoutResult result = LayoutControls(StartUp(600, 50));
    EXPECT_EQ(result.line.top, 0);
    EXPECT_EQ(result.display.bottom, result.display.top);
    EXPECT_EQ(result.after_line[0].top, 10);
}

}  // namespace
