// The display widget alone: runs reaching the widget in sync with its model, following the end,
// backlog, colours, clear limit, copy without display breaks, its menus and keys.
#include "ui/receive_display.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QMenu>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <memory>
#include <string>
#include <vector>

#include "qt_app.h"

namespace {

using kem::testing::EnsureQtApp;
using kem::testing::PumpUntil;

QString Q(const std::u16string& text) {
    return QString::fromStdU16String(text);
}

RunList Runs(std::initializer_list<StyledRun> runs) {
    RunList list;
    for (const StyledRun& run : runs) {
        list.Append(run.text, run.style);
    }
    return list;
}

// The widget's text with every block break as '\n', as the model stores it.
QString DocumentText(const QPlainTextEdit& edit) {
    return edit.document()->toPlainText();
}

QColor ColourAt(const QPlainTextEdit& edit, int position) {
    QTextCursor cursor(edit.document());
    cursor.setPosition(position + 1);  // the format of the character before the cursor
    return cursor.charFormat().foreground().color();
}

// The menu's entries by id ("-" for a separator), each followed by "+" when enabled.
QStringList Entries(const QMenu& menu) {
    QStringList names;
    for (QAction* action : menu.actions()) {
        names << (action->isSeparator() ? QStringLiteral("-")
                                        : action->objectName() + (action->isEnabled() ? "+" : ""));
    }
    return names;
}

QAction* Action(const QMenu& menu, int id) {
    for (QAction* action : menu.actions()) {
        if (action->objectName() == QString::number(id)) {
            return action;
        }
    }
    return nullptr;
}

// A parent that records keys its child left unhandled.
class KeySink : public QWidget {
public:
    int presses = 0;

protected:
    void keyPressEvent(QKeyEvent* event) override {
        ++presses;
        event->accept();
    }
};

TEST(ReceiveDisplay, RunsReachTheWidgetLaterAndTheViewFollowsTheEndOnlyWhenThere) {
    EnsureQtApp();
    CMyRichEditCtrl display;
    display.resize(400, 200);
    display.show();
    display.AppendRuns(Runs({{u"hello\r\n", DisplayStyle::kReceivedNormal},
                             {u"[ESC]", DisplayStyle::kReceivedControl},
                             {u"你好\rX", DisplayStyle::kSentNormal}}));
    EXPECT_LT(display.document()->characterCount(), 10) << "inserted before the event loop ran";
    ASSERT_TRUE(PumpUntil([&] { return display.model().PendingUnits() == 0; }, 2000));
    EXPECT_EQ(DocumentText(display), QStringLiteral("hello\n[ESC]你好\nX"));

    RunList lines;
    for (int i = 0; i < 200; ++i) {
        lines.Append(u"a line of received text\r\n", DisplayStyle::kReceivedNormal);
    }
    QScrollBar* bar = display.verticalScrollBar();
    for (const bool at_end : {true, false, true}) {
        SCOPED_TRACE(at_end);
        bar->setValue(at_end ? bar->maximum() : 0);  // or the user scrolled up to read
        display.AppendRuns(lines);
        display.FlushNow();
        ASSERT_GT(bar->maximum(), 0);
        EXPECT_EQ(bar->value(), at_end ? bar->maximum() : 0);
    }
    EXPECT_EQ(DocumentText(display), Q(display.model().ShownText()));
}

// Floods through the real window are the find bar's; here one block far over the backlog mark.
TEST(ReceiveDisplay, BacklogIsReportedAtOnceAndCaughtUpExactlyOnce) {
    EnsureQtApp();
    CMyRichEditCtrl display;
    display.SetClearLimit(0);
    int caught_up = 0;
    QObject::connect(&display, &CKemRichEditCtrl::caughtUp, [&] { ++caught_up; });
    RunList lines;
    for (int i = 0; i < 20000; ++i) {
        lines.Append(u"0123456789012345678901234567890123456789012345678901234567890\r\n",
                     DisplayStyle::kReceivedNormal);
    }
    display.AppendRuns(lines);  // 1.24 M units, none in the widget yet
    EXPECT_TRUE(display.Backlogged());
    EXPECT_EQ(caught_up, 0);
    ASSERT_TRUE(PumpUntil([&] { return display.model().PendingUnits() == 0; }, 30000));
    EXPECT_FALSE(display.Backlogged());
    EXPECT_EQ(caught_up, 1);
    EXPECT_EQ(DocumentText(display), Q(display.model().ShownText()));
}

TEST(ReceiveDisplay, StyleColoursAndTheClearLimitEmptyingTheWidget) {
    EnsureQtApp();
    CMyRichEditCtrl display;
    display.AppendRuns(Runs({{u"AB", DisplayStyle::kReceivedNormal},
                             {u"[NUL]", DisplayStyle::kReceivedControl},
                             {u"C", DisplayStyle::kSentNormal}}));
    display.FlushNow();
    EXPECT_EQ(ColourAt(display, 1), QColor(128, 0, 128));
    EXPECT_EQ(ColourAt(display, 2), QColor(255, 0, 128));
    EXPECT_EQ(ColourAt(display, 7), QColor(255, 128, 64));
    display.ShowAll(Runs({{u"all", DisplayStyle::kSentControl}}));
    EXPECT_EQ(ColourAt(display, 1), QColor(0, 128, 128));
    display.ClearDisplay();
    EXPECT_TRUE(DocumentText(display).isEmpty());

    display.SetClearLimit(1024);
    display.AppendRuns(Runs({{std::u16string(1100, u'a'), DisplayStyle::kReceivedNormal}}));
    display.FlushNow();
    EXPECT_EQ(DocumentText(display).size(), 1101) << "one display break in a 1100-unit line";
    display.AppendRuns(Runs({{u"fresh", DisplayStyle::kReceivedNormal}}));
    display.FlushNow();
    EXPECT_EQ(DocumentText(display), QStringLiteral("fresh"));
}

TEST(ReceiveDisplay, SelectionAndCopyLeaveOutDisplayBreaks) {
    EnsureQtApp();
    CMyRichEditCtrl display;
    const std::u16string line(3000, u'x');
    display.AppendRuns(Runs({{line + u"\r\nend", DisplayStyle::kReceivedNormal}}));
    display.FlushNow();
    EXPECT_EQ(DocumentText(display).count(QLatin1Char('\n')), 3);
    EXPECT_TRUE(display.SelectedText().isEmpty());
    display.ExecuteCommand(CKemRichEditCtrl::kCmdSelectAll);
    EXPECT_EQ(display.SelectedText(), Q(line + u"\nend"));
    QApplication::clipboard()->clear();
    display.ExecuteCommand(CKemRichEditCtrl::kCmdCopy);
    EXPECT_EQ(QApplication::clipboard()->text(), Q(line + u"\nend"));
    EXPECT_EQ(display.PlainTextAnsi(), std::string(3000, 'x') + "\r\nend");
}

TEST(ReceiveDisplay, MenuEntriesFollowTheSelectionAndClipboardAndTriggerTheirCommands) {
    EnsureQtApp();
    CMyRichEditCtrl display;
    EXPECT_EQ(display.objectName(), QStringLiteral("1000"));
    display.AppendRuns(Runs({{u"some text", DisplayStyle::kReceivedNormal}}));
    display.FlushNow();
    std::unique_ptr<QMenu> menu(display.BuildContextMenu());
    EXPECT_EQ(Entries(*menu), QString("103 104+ - 106+ - 110+ 105+").split(' '));
    EXPECT_EQ(Action(*menu, 103)->text(), QStringLiteral("C&opy (Alt+C)"));
    EXPECT_EQ(Action(*menu, 105)->text(), QStringLiteral("Cl&ear (Alt+E)"));
    display.selectAll();
    menu.reset(display.BuildContextMenu());
    EXPECT_TRUE(Action(*menu, 103)->isEnabled());
    int refreshes = 0;
    int clears = 0;
    QObject::connect(&display, &CMyRichEditCtrl::refreshRequested, [&] { ++refreshes; });
    QObject::connect(&display, &CMyRichEditCtrl::clearRequested, [&] { ++clears; });
    Action(*menu, 110)->trigger();
    Action(*menu, 105)->trigger();
    EXPECT_EQ(refreshes, 1);
    EXPECT_EQ(clears, 1);

    // The base widget's menu: nothing to undo ever, cut and delete on a read-only view follow
    // the selection, paste the clipboard.
    CKemRichEditCtrl base;
    base.AppendRuns(Runs({{u"text", DisplayStyle::kReceivedNormal}}));
    base.FlushNow();
    QApplication::clipboard()->clear();
    menu.reset(base.BuildContextMenu());
    EXPECT_EQ(Entries(*menu), QString("101 - 102 103 104 105 - 106+ - 107+").split(' '));
    base.selectAll();
    QApplication::clipboard()->setText(QStringLiteral("x"));
    menu.reset(base.BuildContextMenu());
    EXPECT_EQ(Entries(*menu), QString("101 - 102+ 103+ 104+ 105+ - 106+ - 107+").split(' '));
    menu.reset();  // a child of `base`, which goes first
}

TEST(ReceiveDisplay, KeyFilterSeesKeysFirstAndEscAndLettersGoNowhere) {
    EnsureQtApp();
    KeySink parent;
    auto* display = new CMyRichEditCtrl(&parent);
    std::vector<std::pair<int, bool>> seen;
    display->key_filter = [&](QKeyEvent* event, bool released) {
        seen.emplace_back(event->key(), released);
        return event->key() == Qt::Key_F5;
    };
    const std::pair<QEvent::Type, int> keys[] = {{QEvent::KeyPress, Qt::Key_F5},
                                                 {QEvent::KeyRelease, Qt::Key_F5},
                                                 {QEvent::KeyPress, Qt::Key_Escape}};
    for (const auto& [type, key] : keys) {
        QKeyEvent event(type, key, Qt::NoModifier);
        QApplication::sendEvent(display, &event);
    }
    EXPECT_EQ(parent.presses, 0) << "Esc went on to the window";
    EXPECT_EQ(seen, (std::vector<std::pair<int, bool>>{
                        {Qt::Key_F5, false}, {Qt::Key_F5, true}, {Qt::Key_Escape, false}}));
    // A key the filter leaves goes to the read-only edit; the letter never becomes text.
    QKeyEvent letter(QEvent::KeyPress, Qt::Key_Q, Qt::NoModifier, QStringLiteral("q"));
    QApplication::sendEvent(display, &letter);
    EXPECT_TRUE(DocumentText(*display).isEmpty());
}

}  // namespace
