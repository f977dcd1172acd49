#include "terminal/main_layout.h"

#include <gtest/gtest.h>

namespace {

// A window of 600 x 400 at start-up: the display above a line at y 300, a button and the input
// box below the line, and the TX counter above the line's right end (after it in window order).
LayoutInput StartUp() {
    LayoutInput input;
    input.client0 = {0, 0, 600, 400};
    input.line0 = {10, 300, 590, 301};
    input.display0 = {10, 10, 590, 290};
    const LayoutRect button = {10, 310, 90, 334};
    const LayoutRect input_box = {100, 310, 590, 390};
    const LayoutRect counter = {520, 292, 590, 299};
    input.after_line = {{button, button}, {input_box, input_box}, {counter, counter}};
    input.cx = 600;
    input.cy = 400;
    return input;
}

// At the start-up size the line goes to its old bottom edge (its top is always the start-up
// bottom plus the growth) and keeps one unit of height, so everything below it and the counters
// sit one unit lower and the display reaches one unit further down.
TEST(LayoutControlsTest, StartUpSizePlacesTheLineAtItsOldBottom) {
    const LayoutInput input = StartUp();
    const LayoutResult result = LayoutControls(input);
    EXPECT_EQ(result.line, (LayoutRect{10, 301, 590, 302}));
    EXPECT_EQ(result.display, (LayoutRect{10, 10, 590, 291}));
    ASSERT_EQ(result.after_line.size(), 3u);
    EXPECT_EQ(result.after_line[0], (LayoutRect{10, 311, 90, 335}));
    EXPECT_EQ(result.after_line[1], (LayoutRect{100, 311, 590, 391}));
    EXPECT_EQ(result.after_line[2], (LayoutRect{520, 293, 590, 300}));
}

TEST(LayoutControlsTest, SameSizeTwiceGivesTheSameResult) {
    LayoutInput input = StartUp();
    input.cx = 800;
    input.cy = 650;
    const LayoutResult first = LayoutControls(input);
    // The children now sit where the first layout put them; the second layout must not move
    // them further.
    for (size_t i = 0; i < input.after_line.size(); ++i) {
        input.after_line[i].current = first.after_line[i];
    }
    const LayoutResult second = LayoutControls(input);
    EXPECT_EQ(second.line, first.line);
    EXPECT_EQ(second.display, first.display);
    EXPECT_EQ(second.after_line, first.after_line);
}

TEST(LayoutControlsTest, TallerWindowMovesControlsBelowTheLineDownByTheSameAmount) {
    LayoutInput input = StartUp();
    const LayoutResult before = LayoutControls(input);
    input.cy = 480;  // 80 taller
    const LayoutResult result = LayoutControls(input);
    EXPECT_EQ(result.line, (LayoutRect{10, 381, 590, 382}));
    EXPECT_EQ(result.display, (LayoutRect{10, 10, 590, 371}));
    EXPECT_EQ(result.after_line[0], (LayoutRect{10, 391, 90, 415}));
    EXPECT_EQ(result.after_line[1], (LayoutRect{100, 391, 590, 471}));
    // The counter started above the line: it moves down too, and keeps its right distance.
    EXPECT_EQ(result.after_line[2], (LayoutRect{520, 373, 590, 380}));
    for (size_t i = 0; i < result.after_line.size(); ++i) {
        EXPECT_EQ(result.after_line[i].top - before.after_line[i].top, 80) << i;
        EXPECT_EQ(result.after_line[i].left, before.after_line[i].left) << i;
        EXPECT_EQ(result.after_line[i].Height(), before.after_line[i].Height()) << i;
    }
    EXPECT_EQ(result.display.Height() - before.display.Height(), 80);
    EXPECT_EQ(input.cy - result.line.top, 400 - before.line.top);
}

TEST(LayoutControlsTest, WiderWindowWidensLineAndDisplayAndCountersFollowTheRightEnd) {
    LayoutInput input = StartUp();
    input.cx = 750;  // 150 wider
    const LayoutResult result = LayoutControls(input);
    EXPECT_EQ(result.line, (LayoutRect{10, 301, 740, 302}));
    EXPECT_EQ(result.display, (LayoutRect{10, 10, 740, 291}));
    // Below the line: left and size as they are now (the input box is not widened here).
    EXPECT_EQ(result.after_line[1], (LayoutRect{100, 311, 590, 391}));
    EXPECT_EQ(result.after_line[2], (LayoutRect{670, 293, 740, 300}));
    EXPECT_EQ(750 - result.after_line[2].right, 600 - input.after_line[2].startup.right);
    EXPECT_EQ(750 - result.line.right, result.line.left);
    EXPECT_EQ(750 - result.display.right, result.display.left);
}

TEST(LayoutControlsTest, ChildrenKeepTheirCurrentSize) {
    LayoutInput input = StartUp();
    input.after_line[1].current = {100, 310, 700, 420};  // the owner made it bigger
    input.cy = 420;
    const LayoutResult result = LayoutControls(input);
    EXPECT_EQ(result.after_line[1], (LayoutRect{100, 331, 700, 441}));
}

TEST(LayoutControlsTest, SmallerThanStartUpGivesNoNegativeSizes) {
    const struct {
        const char* name;
        int cx;
        int cy;
    } rows[] = {{"narrow", 15, 400}, {"short", 600, 50}, {"tiny", 0, 0}, {"negative", -20, -20}};
    for (const auto& row : rows) {
        LayoutInput input = StartUp();
        input.cx = row.cx;
        input.cy = row.cy;
        const LayoutResult result = LayoutControls(input);
        EXPECT_GE(result.line.top, 0) << row.name;
        EXPECT_GE(result.line.Width(), 0) << row.name;
        EXPECT_EQ(result.line.Height(), 1) << row.name;
        EXPECT_GE(result.display.Width(), 0) << row.name;
        EXPECT_GE(result.display.Height(), 0) << row.name;
        for (const LayoutRect& rect : result.after_line) {
            EXPECT_GE(rect.Width(), 0) << row.name;
            EXPECT_GE(rect.Height(), 0) << row.name;
        }
    }
    LayoutInput input = StartUp();
    input.cy = 50;  // the line would go to -50: it stops at the top, the display is flat
    const LayoutResult result = LayoutControls(input);
    EXPECT_EQ(result.line.top, 0);
    EXPECT_EQ(result.display.bottom, result.display.top);
    EXPECT_EQ(result.after_line[0].top, 10);
}

}  // namespace
