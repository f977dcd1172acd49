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

std::vector<QString> ActionNames(const QMenu& menu) {
    std::vector<QString> names;
    for (QAction* action : menu.actions()) {
        names.push_back(action->isSeparator() ? QStringLiteral("-") : action->objectName());
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

TEST(ReceiveDisplay, AppendedRunsReachWidgetAfterFlushNow) {
    EnsureQtApp();
    CMyRichEditCtrl display;
    display.AppendRuns(Runs({{u"hello\r\n", DisplayStyle::kReceivedNormal},
                             {u"[ESC]", DisplayStyle::kReceivedControl},
                             {u"你好\rX", DisplayStyle::kSentNormal}}));
    display.FlushNow();
    EXPECT_EQ(DocumentText(display), QStringLiteral("hello\n[ESC]你好\nX"));
    EXPECT_EQ(DocumentText(display), Q(display.model().ShownText()));
    EXPECT_EQ(display.model().PendingUnits(), 0u);
}

TEST(ReceiveDisplay, AppendedRunsReachWidgetThroughEventLoop) {
    EnsureQtApp();
    CMyRichEditCtrl display;
    display.resize(600, 300);
    display.show();
    for (int i = 0; i < 50; ++i) {
        display.AppendRuns(Runs({{u"line " + std::u16string(1, u'a' + i % 26) + u"\r\n",
                                  DisplayStyle::kReceivedNormal}}));
    }
    EXPECT_LT(display.document()->characterCount(), 10) << "inserted before the event loop ran";
    ASSERT_TRUE(PumpUntil([&] { return display.model().PendingUnits() == 0; }, 2000));
    EXPECT_EQ(DocumentText(display), Q(display.model().ShownText()));
    EXPECT_EQ(display.verticalScrollBar()->value(), display.verticalScrollBar()->maximum())
        << "the view was at the end and should follow it";
}

TEST(ReceiveDisplay, FollowsTheEndOnlyWhenTheViewWasThere) {
    EnsureQtApp();
    CMyRichEditCtrl display;
    display.resize(400, 200);
    display.show();
    RunList lines;
    for (int i = 0; i < 200; ++i) {
        lines.Append(u"a line of received text\r\n", DisplayStyle::kReceivedNormal);
    }
    display.AppendRuns(lines);
    display.FlushNow();
    QScrollBar* bar = display.verticalScrollBar();
    ASSERT_GT(bar->maximum(), 0);
    EXPECT_EQ(bar->value(), bar->maximum());

    bar->setValue(0);  // the user scrolled up to read
    display.AppendRuns(lines);
    display.FlushNow();
    EXPECT_EQ(bar->value(), 0);

    bar->setValue(bar->maximum());
    display.AppendRuns(lines);
    display.FlushNow();
    EXPECT_EQ(bar->value(), bar->maximum());
}

TEST(ReceiveDisplay, BacklogIsReportedAndCaughtUpFollows) {
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
    ASSERT_TRUE(PumpUntil([&] { return !display.Backlogged(); }, 30000));
    EXPECT_EQ(caught_up, 1);
    ASSERT_TRUE(PumpUntil([&] { return display.model().PendingUnits() == 0; }, 30000));
    EXPECT_EQ(DocumentText(display), Q(display.model().ShownText()));
    EXPECT_EQ(caught_up, 1);
}

TEST(ReceiveDisplay, CharacterHasItsStyleColour) {
    EnsureQtApp();
    CMyRichEditCtrl display;
    display.AppendRuns(Runs({{u"AB", DisplayStyle::kReceivedNormal},
                             {u"[NUL]", DisplayStyle::kReceivedControl},
                             {u"C", DisplayStyle::kSentNormal}}));
    display.FlushNow();
    EXPECT_EQ(ColourAt(display, 0), QColor(128, 0, 128));
    EXPECT_EQ(ColourAt(display, 1), QColor(128, 0, 128));
    EXPECT_EQ(ColourAt(display, 2), QColor(255, 0, 128));
    EXPECT_EQ(ColourAt(display, 7), QColor(255, 128, 64));

    DisplayStyleTable styles = StartupDisplayStyles();
    styles[0].colour = MakeDisplayColour(1, 2, 3);
    styles[0].face = u"No Such Face Anywhere";
    display.SetStyles(styles);
    display.AppendRuns(Runs({{u"D", DisplayStyle::kReceivedNormal}}));
    display.FlushNow();
    EXPECT_EQ(ColourAt(display, 8), QColor(1, 2, 3));
    EXPECT_EQ(DocumentText(display), QStringLiteral("AB[NUL]CD"));
}

TEST(ReceiveDisplay, ShowAllReplacesAtOnce) {
    EnsureQtApp();
    CMyRichEditCtrl display;
    display.AppendRuns(Runs({{u"old text\r\n", DisplayStyle::kReceivedNormal}}));
    display.FlushNow();
    display.AppendRuns(Runs({{u"pending", DisplayStyle::kReceivedNormal}}));
    display.ShowAll(
        Runs({{u"new ", DisplayStyle::kSentNormal}, {u"all", DisplayStyle::kSentControl}}));
    EXPECT_EQ(DocumentText(display), QStringLiteral("new all"));
    EXPECT_EQ(display.model().PendingUnits(), 0u);
    EXPECT_EQ(ColourAt(display, 5), QColor(0, 128, 128));
    display.ClearDisplay();
    EXPECT_TRUE(DocumentText(display).isEmpty());
    EXPECT_EQ(display.model().ShownUnits(), 0u);
}

TEST(ReceiveDisplay, ClearLimitEmptiesWidgetToo) {
    EnsureQtApp();
    CMyRichEditCtrl display;
    display.SetClearLimit(1024);
    EXPECT_EQ(display.ClearLimit(), 1024);
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
    EXPECT_EQ(display.Rtf().rfind("{\\rtf1", 0), 0u);
}

TEST(ReceiveDisplayMenu, ReceiveMenuHasItsEntriesAndGreysCopyWithoutSelection) {
    EnsureQtApp();
    CMyRichEditCtrl display;
    EXPECT_EQ(display.objectName(), QStringLiteral("1000"));
    display.AppendRuns(Runs({{u"some text", DisplayStyle::kReceivedNormal}}));
    display.FlushNow();
    std::unique_ptr<QMenu> menu(display.BuildContextMenu());
    EXPECT_EQ(ActionNames(*menu),
              (std::vector<QString>{"103", "104", "-", "106", "-", "110", "105"}));
    EXPECT_EQ(Action(*menu, 103)->text(), QStringLiteral("C&opy (Alt+C)"));
    EXPECT_EQ(Action(*menu, 105)->text(), QStringLiteral("Cl&ear (Alt+E)"));
    EXPECT_FALSE(Action(*menu, 103)->isEnabled());
    for (int id : {104, 106, 110, 105}) {
        EXPECT_TRUE(Action(*menu, id)->isEnabled()) << id;
    }
    display.selectAll();
    menu.reset(display.BuildContextMenu());
    EXPECT_TRUE(Action(*menu, 103)->isEnabled());
}

TEST(ReceiveDisplayMenu, ShowContextMenuPopsUpTheMenu) {
    EnsureQtApp();
    CMyRichEditCtrl display;
    display.resize(300, 200);
    display.show();
    display.ShowContextMenu(display.mapToGlobal(QPoint(10, 10)));
    ASSERT_TRUE(PumpUntil([] { return QApplication::activePopupWidget() != nullptr; }, 2000));
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    ASSERT_NE(menu, nullptr);
    ASSERT_NE(Action(*menu, 103), nullptr);
    EXPECT_FALSE(Action(*menu, 103)->isEnabled());
    menu->close();
    EXPECT_TRUE(PumpUntil([] { return QApplication::activePopupWidget() == nullptr; }, 2000));
}

TEST(ReceiveDisplayMenu, BaseMenuOrderAndEnabling) {
    EnsureQtApp();
    CKemRichEditCtrl display;
    display.AppendRuns(Runs({{u"text", DisplayStyle::kReceivedNormal}}));
    display.FlushNow();
    QApplication::clipboard()->clear();
    std::unique_ptr<QMenu> menu(display.BuildContextMenu());
    EXPECT_EQ(ActionNames(*menu), (std::vector<QString>{"101", "-", "102", "103", "104", "105", "-",
                                                        "106", "-", "107"}));
    for (int id : {101, 102, 103, 104, 105}) {
        EXPECT_FALSE(Action(*menu, id)->isEnabled()) << id;
    }
    EXPECT_TRUE(Action(*menu, 106)->isEnabled());
    display.selectAll();
    QApplication::clipboard()->setText(QStringLiteral("x"));
    menu.reset(display.BuildContextMenu());
    for (int id : {102, 103, 104, 105}) {
        EXPECT_TRUE(Action(*menu, id)->isEnabled()) << id;
    }
    EXPECT_FALSE(Action(*menu, 101)->isEnabled()) << "the display keeps no undo";
}

TEST(ReceiveDisplayMenu, CommandsEmitTheirSignals) {
    EnsureQtApp();
    CMyRichEditCtrl display;
    int refreshes = 0;
    int clears = 0;
    QObject::connect(&display, &CMyRichEditCtrl::refreshRequested, [&] { ++refreshes; });
    QObject::connect(&display, &CMyRichEditCtrl::clearRequested, [&] { ++clears; });
    display.ExecuteCommand(110);
    display.ExecuteCommand(105);
    display.ExecuteCommand(105);
    EXPECT_EQ(refreshes, 1);
    EXPECT_EQ(clears, 2);
}

TEST(ReceiveDisplayPaste, EmptyClipboardSendsNothing) {
    EnsureQtApp();
    CMyRichEditCtrl display;
    std::vector<std::string> pasted;
    QObject::connect(&display, &CMyRichEditCtrl::pasteBytes,
                     [&](const std::string& bytes) { pasted.push_back(bytes); });
    QApplication::clipboard()->clear();
    display.ExecuteCommand(104);
    QApplication::clipboard()->setText(QString());
    display.ExecuteCommand(104);
    EXPECT_TRUE(pasted.empty());
}

TEST(ReceiveDisplayPaste, ClipboardTextIsSentAsGbkBytes) {
    EnsureQtApp();
    CMyRichEditCtrl display;
    std::vector<std::string> pasted;
    QObject::connect(&display, &CMyRichEditCtrl::pasteBytes,
                     [&](const std::string& bytes) { pasted.push_back(bytes); });
    QApplication::clipboard()->setText(QStringLiteral("你好A\r\n"));
    display.ExecuteCommand(104);
    ASSERT_EQ(pasted.size(), 1u);
    EXPECT_EQ(pasted[0],
              "\xC4\xE3\xBA\xC3"
              "A\r\n");
    EXPECT_TRUE(DocumentText(display).isEmpty()) << "paste sends; it does not insert";
}

TEST(ReceiveDisplayKeys, FilterSeesKeysFirstAndEscIsSwallowed) {
    EnsureQtApp();
    KeySink parent;
    auto* display = new CMyRichEditCtrl(&parent);
    std::vector<std::pair<int, bool>> seen;
    display->key_filter = [&](QKeyEvent* event, bool released) {
        seen.emplace_back(event->key(), released);
        return event->key() == Qt::Key_F5;
    };
    QKeyEvent f5(QEvent::KeyPress, Qt::Key_F5, Qt::NoModifier);
    QApplication::sendEvent(display, &f5);
    QKeyEvent f5_up(QEvent::KeyRelease, Qt::Key_F5, Qt::NoModifier);
    QApplication::sendEvent(display, &f5_up);
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(display, &escape);
    EXPECT_EQ(parent.presses, 0) << "Esc went on to the window";
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0], std::make_pair(int{Qt::Key_F5}, false));
    EXPECT_EQ(seen[1], std::make_pair(int{Qt::Key_F5}, true));
    EXPECT_EQ(seen[2], std::make_pair(int{Qt::Key_Escape}, false));

    // A key the filter leaves goes to the edit, which ignores a letter in a read-only view;
    // the letter never becomes text.
    QKeyEvent letter(QEvent::KeyPress, Qt::Key_Q, Qt::NoModifier, QStringLiteral("q"));
    QApplication::sendEvent(display, &letter);
    EXPECT_TRUE(DocumentText(*display).isEmpty());
}

TEST(ReceiveDisplayFlood, TwentyMegabytesInPiecesEndInSync) {
    EnsureQtApp();
    CMyRichEditCtrl display;
    display.resize(900, 600);
    display.show();
    display.SetClearLimit(4 * 1024 * 1024);
    int caught_up = 0;
    QObject::connect(&display, &CKemRichEditCtrl::caughtUp, [&] { ++caught_up; });
    // 64-byte lines, every 50th a long line without a break, names in the control style.
    std::u16string lines;
    for (int i = 0; i < 1000; ++i) {
        if (i % 50 == 0) {
            lines += std::u16string(3000, u'L');
        }
        lines += u"0123456789abcdefghijklmnopqrstuvwxyz 数据 ABCDEFGHIJKLMNOPQRSTU\r\n";
    }
    RunList piece;
    piece.Append(lines, DisplayStyle::kReceivedNormal);
    piece.Append(u"[NUL]", DisplayStyle::kReceivedControl);
    size_t fed = 0;
    const size_t target = 20u * 1024 * 1024;
    bool ever_backlogged = false;
    QElapsedTimer guard;
    guard.start();
    while (fed < target && guard.elapsed() < 100000) {
        if (display.Backlogged()) {
            ever_backlogged = true;
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            continue;
        }
        display.AppendRuns(piece);
        fed += lines.size() + 5;  // units, one per received byte of ASCII
        QCoreApplication::processEvents();
    }
    ASSERT_GE(fed, target) << "the flood did not finish in time";
    ASSERT_TRUE(PumpUntil([&] { return display.model().PendingUnits() == 0; }, 60000));
    EXPECT_EQ(DocumentText(display), Q(display.model().ShownText()));
    EXPECT_EQ(display.InsertedUnits() >= display.model().TotalUnits(), true);
    if (ever_backlogged) {
        EXPECT_GE(caught_up, 1);
    }
}

}  // namespace
