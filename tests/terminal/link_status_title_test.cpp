// The link marks in the window title: added once, removed again, in any order.
#include "terminal/link_status_title.h"

#include <gtest/gtest.h>

namespace {

TEST(LinkStatusTitle, MarksAreAddedOnceAndRemovedAgain) {
    const std::u16string base = u"Quorbel串口工具 - lab";
    const std::u16string waiting = TitleWithLinkMarks(base, true, false);
    EXPECT_EQ(waiting, u"Quorbel串口工具 - lab [等待重连]");
    EXPECT_EQ(TitleWithLinkMarks(waiting, true, false), waiting) << "not twice";
    const std::u16string both = TitleWithLinkMarks(waiting, true, true);
    EXPECT_EQ(both, u"Quorbel串口工具 - lab [等待重连] [参数未确认]");
    EXPECT_EQ(TitleWithLinkMarks(both, false, true), u"Quorbel串口工具 - lab [参数未确认]");
    EXPECT_EQ(TitleWithLinkMarks(both, false, false), base);
    // Marks in the other order, or repeated by an older title, all come off.
    EXPECT_EQ(TitleWithLinkMarks(base + u" [参数未确认] [等待重连] [等待重连]", false, false),
              base);
    // Text that only looks similar stays.
    EXPECT_EQ(TitleWithLinkMarks(u"端口转发 [等待", false, false), u"端口转发 [等待");
    EXPECT_EQ(TitleWithLinkMarks(u"", true, false), u" [等待重连]");
}

}  // namespace
