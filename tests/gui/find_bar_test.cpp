// Find in the display of the real main window, offscreen, with a loopback TCP peer flooding it:
// text and hex, match case, next and previous with wrapping, the count following the flood,
// Esc, Ctrl+F against control codes, and saving and copying the display without highlights.
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QElapsedTimer>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QTextBlock>
#include <QTextEdit>

#include <algorithm>
#include <chrono>
#include <set>
#include <thread>

#include "channels/net_test_support.h"
#include "gui/main_window_support.h"
#include "ui/find_bar.h"

namespace {

using kem::testing::TestListener;
using kem::testing::TestSocket;

// Non-overlapping occurrences of `pattern` in `text`, from the left; ASCII case folded if asked.
size_t Occurrences(std::u16string text, const std::u16string& pattern, bool fold = false) {
    if (fold) {
        for (char16_t& unit : text) {
            unit = unit >= u'A' && unit <= u'Z' ? static_cast<char16_t>(unit + 32) : unit;
        }
    }
    size_t count = 0;
    for (size_t at = text.find(pattern); at != std::u16string::npos;
         at = text.find(pattern, at + pattern.size())) {
        ++count;
    }
    return count;
}

class FindBarTest : public MainWindowTest {
protected:
    void SetUp() override {
        MainWindowTest::SetUp();
        // No size limit unless a test sets one: the counts below are of the whole flood.
        g_AppConfig.AutoClear = 0;
        g_AppConfig.AutoClearSize = 0;
    }

    void TearDown() override {
        if (sender_.joinable()) {
            sender_.join();
        }
        MainWindowTest::TearDown();
    }

    // A window connected as a TCP client to a loopback peer, the find bar open.
    void Connect() {
        UseClient(listener_.port());
        MakeWindow();
        // Window shortcuts (Ctrl+F, F3) work in the active window only.
        window().activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window()));
        Click(ids::kOpen);
        peer_ = listener_.Accept();
        ASSERT_TRUE(peer_.valid());
    }

    // The peer sends `chunks` from a thread of its own, pausing between them, so the window
    // sees a stream of arrivals rather than one block.
    void Flood(std::vector<std::string> chunks) {
        total_ = 0;
        for (const std::string& chunk : chunks) {
            total_ += chunk.size();
        }
        sender_ = std::thread([this, chunks = std::move(chunks)] {
            for (const std::string& chunk : chunks) {
                if (!peer_.SendAll(chunk)) {
                    return;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
        });
    }

    // Runs the window until the whole flood is in the widget; returns the longest turn of the
    // event loop meanwhile.
    qint64 WaitFloodShown() {
        QElapsedTimer turn;
        turn.start();
        qint64 longest = 0;
        const bool done = Wait(
            [&] {
                longest = std::max(longest, turn.restart());
                counts_seen_.push_back(bar().MatchCount());
                return window().traffic().RxCount() >= total_ &&
                       window().display().SyncedUnits() == window().display().model().TotalUnits();
            },
            20000);
        EXPECT_TRUE(done) << "received " << window().traffic().RxCount() << " of " << total_;
        Pump(60);  // one more frame: the bar follows the widget's last batch
        return longest;
    }

    FindBar& bar() { return window().find_bar(); }
    QLineEdit* Field() { return bar().field(); }
    QCheckBox* MatchCase() { return bar().findChild<QCheckBox*>(QStringLiteral("FindMatchCase")); }

    void TypeFind(const QString& text) {
        Field()->selectAll();
        QTest::keyClick(Field(), Qt::Key_Delete);
        QTest::keyClicks(Field(), text);
    }

    // The display's selection, which is the current match, as the model's text.
    std::u16string Selected() {
        const QTextCursor cursor = window().display().textCursor();
        return window().display().model().ExportRange(static_cast<size_t>(cursor.selectionStart()),
                                                      static_cast<size_t>(cursor.selectionEnd()));
    }

    DisplayMatch Current() {
        return bar().search().matches().at(static_cast<size_t>(bar().CurrentIndex()));
    }

    bool CurrentInView() {
        QTextCursor cursor(window().display().document());
        cursor.setPosition(static_cast<int>(Current().begin));
        return window().display().viewport()->rect().intersects(
            window().display().cursorRect(cursor));
    }

    TestListener listener_;
    TestSocket peer_;
    std::thread sender_;
    uint32_t total_ = 0;
    std::vector<size_t> counts_seen_;
};

std::vector<std::string> TextLines(int lines, int per_chunk) {
    std::vector<std::string> chunks(1);
    for (int i = 0; i < lines; ++i) {
        char line[64];
        std::snprintf(line, sizeof line, "L%05d Alpha beta ALPHA gamma\r\n", i);
        chunks.back() += line;
        if ((i + 1) % per_chunk == 0 && i + 1 < lines) {
            chunks.emplace_back();
        }
    }
    return chunks;
}

TEST_F(FindBarTest, TextFloodCountFollowsCaseNextPreviousWrapAndEsc) {
    Connect();
    const QRect display_rect = window().display().geometry();
    const QRect text_alone = window().display().viewport()->geometry();
    window().ExecuteCommand(ids::kFind);
    ASSERT_TRUE(bar().isVisible());
    EXPECT_TRUE(Field()->hasFocus());
    // The bar sits at the top of the display's frame, and the text area gives it its room.
    EXPECT_EQ(bar().parentWidget(), &window().display());
    EXPECT_EQ(window().display().geometry(), display_rect);
    EXPECT_EQ(bar().geometry().top(), text_alone.top());
    EXPECT_EQ(window().display().viewport()->geometry().top(), bar().geometry().bottom() + 1);
    EXPECT_EQ(window().display().viewport()->geometry().bottom(), text_alone.bottom());
    TypeFind(QStringLiteral("alpha"));
    EXPECT_EQ(bar().CountText(), QStringLiteral("无匹配"));

    const int lines = 12000;
    Flood(TextLines(lines, 60));
    EXPECT_LT(WaitFloodShown(), 3000) << "a hang guard: the window kept turning";
    // The count followed the text as it came, never going back.
    EXPECT_GE(std::set<size_t>(counts_seen_.begin(), counts_seen_.end()).size(), 3u);
    EXPECT_TRUE(std::is_sorted(counts_seen_.begin(), counts_seen_.end()));
    ASSERT_EQ(Occurrences(window().display().model().ShownText(), u"alpha", true), 2u * lines);
    EXPECT_EQ(bar().MatchCount(), 2u * lines);
    // Matches that arrived after the typing are counted, not jumped to: the display keeps
    // following the flood until the user steps.
    EXPECT_EQ(bar().CurrentIndex(), -1);
    EXPECT_EQ(bar().CountText(), QStringLiteral("%1 个匹配").arg(2 * lines));
    QTest::keyClick(Field(), Qt::Key_F3);
    EXPECT_EQ(bar().CountText(), QStringLiteral("1/%1").arg(2 * lines));
    EXPECT_EQ(Selected(), u"Alpha");
    EXPECT_TRUE(CurrentInView());

    // Match case: only the spelling typed.
    MatchCase()->click();
    EXPECT_EQ(bar().MatchCount(), 0u);
    TypeFind(QStringLiteral("ALPHA"));
    EXPECT_EQ(bar().MatchCount(), static_cast<size_t>(lines));
    EXPECT_EQ(Selected(), u"ALPHA");
    MatchCase()->click();
    EXPECT_EQ(bar().MatchCount(), 2u * lines);

    // From the first match, previous wraps to the last and next back to the first; Enter,
    // Shift+Enter, F3 and Shift+F3 step as the buttons do.
    TypeFind(QStringLiteral("L00000 alpha"));
    ASSERT_EQ(bar().MatchCount(), 1u);
    TypeFind(QStringLiteral("alpha"));
    ASSERT_EQ(bar().CurrentIndex(), 0);
    bar().findChild<QPushButton*>(QStringLiteral("FindPrevious"))->click();
    EXPECT_EQ(bar().CurrentIndex(), 2 * lines - 1);
    EXPECT_EQ(Selected(), u"ALPHA");
    EXPECT_TRUE(CurrentInView());
    bar().findChild<QPushButton*>(QStringLiteral("FindNext"))->click();
    EXPECT_EQ(bar().CurrentIndex(), 0);
    EXPECT_TRUE(CurrentInView());
    const struct {
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        int index;
    } steps[] = {{Qt::Key_Return, Qt::NoModifier, 1},
                 {Qt::Key_F3, Qt::NoModifier, 2},
                 {Qt::Key_Return, Qt::ShiftModifier, 1},
                 {Qt::Key_F3, Qt::ShiftModifier, 0},
                 {Qt::Key_F3, Qt::ShiftModifier, 2 * lines - 1}};
    for (const auto& step : steps) {
        QTest::keyClick(Field(), step.key, step.modifiers);
        EXPECT_EQ(bar().CurrentIndex(), step.index);
    }
    EXPECT_EQ(bar().CountText(), QStringLiteral("%1/%1").arg(2 * lines));

    // Every visible match is highlighted, the current one in its own colour, and drawn so.
    Pump(30);
    int current = 0;
    int others = 0;
    for (const QTextEdit::ExtraSelection& selection : window().display().extraSelections()) {
        const size_t begin = static_cast<size_t>(selection.cursor.selectionStart());
        const size_t end = static_cast<size_t>(selection.cursor.selectionEnd());
        EXPECT_EQ(Occurrences(window().display().model().ExportRange(begin, end), u"alpha", true),
                  1u);
        EXPECT_EQ(end - begin, 5u);
        if (selection.format.background().color() == QColor(255, 140, 40)) {
            ++current;
            EXPECT_EQ(begin, Current().begin);
        } else {
            ++others;
        }
    }
    EXPECT_EQ(current, 1);
    EXPECT_GE(others, 3);
    EXPECT_LE(others + current, static_cast<int>(FindBar::kMaxHighlights));
    const QImage painted = window().display().viewport()->grab().toImage();
    const QRgb selected = window().display().palette().color(QPalette::Highlight).rgb();
    EXPECT_GT(PixelsNear(painted, selected, 16), 20);
    EXPECT_GT(PixelsNear(painted, qRgb(255, 238, 88), 16), 20 * others);

    // Esc closes the bar, takes the highlights away and gives the room back; the window stays.
    QTest::keyClick(Field(), Qt::Key_Escape);
    EXPECT_FALSE(bar().isVisible());
    EXPECT_TRUE(window().display().extraSelections().isEmpty());
    EXPECT_EQ(PixelsNear(window().display().viewport()->grab().toImage(), qRgb(255, 238, 88), 16),
              0);
    EXPECT_EQ(window().display().viewport()->geometry().top(), text_alone.top());
    EXPECT_EQ(window().display().viewport()->geometry().bottom(), text_alone.bottom());
    EXPECT_TRUE(window().isVisible());
    EXPECT_TRUE(dialogs_.shown.empty());
}

TEST_F(FindBarTest, HexDisplayFindsBytesAndSaysWhenThePatternIsNotHex) {
    g_AppConfig.ShowHex = 1;
    Connect();
    window().ExecuteCommand(ids::kFind);
    EXPECT_TRUE(bar().hex_mode());
    EXPECT_FALSE(MatchCase()->isEnabled());
    TypeFind(QStringLiteral("0d0a"));
    std::vector<std::string> chunks;
    for (int i = 0; i < 250; ++i) {
        // One CR LF per chunk, a lone CR and LF, and bytes that look like it in another order.
        chunks.push_back(std::string("\x01\x0D\x0A\x0D\xD0\xA0\x0A\x0D", 8) +
                         std::string(40, static_cast<char>(i)));
    }
    Flood(chunks);
    WaitFloodShown();
    // A CR LF in each chunk, and one more where the bytes 0x0A follow a chunk's last CR.
    ASSERT_EQ(Occurrences(window().display().model().ExportText(), u"0D 0A"), 251u);
    EXPECT_EQ(bar().MatchCount(), 251u);
    QTest::keyClick(Field(), Qt::Key_Return);
    EXPECT_EQ(bar().CurrentIndex(), 0);
    EXPECT_EQ(Selected(), u"0D 0A");
    TypeFind(QStringLiteral("0D 0"));
    EXPECT_EQ(bar().MatchCount(), 0u);
    EXPECT_EQ(bar().CountText(), QStringLiteral("无效的十六进制字节"));
    EXPECT_TRUE(window().display().extraSelections().isEmpty());

    // Leaving HEX: the same field is text again.
    TypeFind(QStringLiteral("0D 0A"));
    Click(ids::kShowHex);
    EXPECT_FALSE(bar().hex_mode());
    EXPECT_TRUE(MatchCase()->isEnabled());
    Pump(60);
    EXPECT_EQ(bar().MatchCount(), 0u);
    Click(ids::kShowHex);
    Pump(60);
    EXPECT_EQ(bar().MatchCount(), 251u);
}

TEST_F(FindBarTest, AutoClearDropsTheMatchesThatWent) {
    g_AppConfig.AutoClear = 1;
    g_AppConfig.AutoClearSize = 16;
    Connect();
    window().ExecuteCommand(ids::kFind);
    TypeFind(QStringLiteral("gamma"));
    Flood(TextLines(4000, 50));
    WaitFloodShown();
    const std::u16string shown = window().display().model().ShownText();
    // Emptied at the limit on the way; what came after the last emptying depends on the reads.
    EXPECT_GT(window().display().model().DropCount(), 0u);
    EXPECT_LT(shown.size(), total_);
    EXPECT_EQ(bar().MatchCount(), Occurrences(shown, u"gamma"));
    EXPECT_GT(bar().MatchCount(), 0u);
    for (const DisplayMatch& match : bar().search().matches()) {
        ASSERT_EQ(shown.substr(match.begin, match.end - match.begin), u"gamma");
    }
    Click(ids::kClear);
    EXPECT_EQ(bar().MatchCount(), 0u);
    EXPECT_EQ(bar().CountText(), QStringLiteral("无匹配"));
}

TEST_F(FindBarTest, CtrlFAndTheMenuOpenTheBarButTheDisplayKeepsItForControlCodes) {
    Connect();
    auto* menu = window().findChild<QMenu*>(QStringLiteral("OtherMenu"));
    ASSERT_NE(menu, nullptr);
    QAction* last = menu->actions().last();
    EXPECT_EQ(last->text(), QStringLiteral("查找... (Ctrl+F)"));
    last->trigger();
    EXPECT_TRUE(bar().isVisible());
    QTest::keyClick(Field(), Qt::Key_Escape);
    EXPECT_FALSE(bar().isVisible());

    // Ctrl+F in the input box, and in the display with "复制,粘贴等" chosen, opens the bar.
    QTest::keyClick(Find(ids::kInputBox), Qt::Key_F, Qt::ControlModifier);
    EXPECT_TRUE(bar().isVisible());
    bar().Close();
    window().ExecuteCommand(ids::kCtrlKeyForCommands);
    window().display().setFocus();
    QTest::keyClick(&window().display(), Qt::Key_F, Qt::ControlModifier);
    EXPECT_TRUE(bar().isVisible());
    bar().Close();

    // With "输入控制码" it is the code 0x06, sent to the link; the bar stays closed.
    window().ExecuteCommand(ids::kCtrlKeyForCodes);
    window().display().setFocus();
    QTest::keyClick(&window().display(), Qt::Key_F, Qt::ControlModifier);
    EXPECT_FALSE(bar().isVisible());
    EXPECT_EQ(peer_.Receive(1), std::string("\x06", 1));
    // The window's other keys still reach the bar from the display.
    QTest::keyClick(&window().display(), Qt::Key_F3);
    EXPECT_TRUE(bar().isVisible());
}

TEST_F(FindBarTest, SavedAndCopiedDisplayHasNoHighlights) {
    Connect();
    Flood({"first Match line\r\n", "second match line\r\n"});
    WaitFloodShown();
    window().ExecuteCommand(ids::kFind);
    TypeFind(QStringLiteral("match"));
    ASSERT_EQ(bar().MatchCount(), 2u);
    Pump(30);
    ASSERT_EQ(window().display().extraSelections().size(), 2);
    // The document itself carries no background: highlights are drawn over it.
    for (QTextBlock block = window().display().document()->begin(); block.isValid();
         block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            EXPECT_EQ(it.fragment().charFormat().background().style(), Qt::NoBrush);
        }
    }

    dialogs_.save_path = PathOf("shown.txt");
    window().ExecuteCommand(ids::kSaveDisplay);
    EXPECT_EQ(kem::testing::ReadBytes(root_ / "shown.txt"),
              "first Match line\r\nsecond match line\r\n");
    dialogs_.save_path = PathOf("shown.rtf");
    window().ExecuteCommand(ids::kSaveDisplay);
    const std::string rtf = kem::testing::ReadBytes(root_ / "shown.rtf");
    EXPECT_EQ(rtf, window().display().Rtf());
    EXPECT_NE(rtf.find("first Match line"), std::string::npos);
    for (const char* colour : {"\\red255\\green238\\blue88", "\\red255\\green140\\blue40",
                               "\\highlight", "\\cb", "\\chcbpat"}) {
        EXPECT_EQ(rtf.find(colour), std::string::npos) << colour;
    }

    // Copying the whole display gives its text, highlights or not.
    window().display().ExecuteCommand(CKemRichEditCtrl::kCmdSelectAll);
    window().display().ExecuteCommand(CKemRichEditCtrl::kCmdCopy);
    EXPECT_EQ(QApplication::clipboard()->text(),
              QStringLiteral("first Match line\nsecond match line\n"));
    ASSERT_NE(QApplication::clipboard()->mimeData(), nullptr);
    EXPECT_FALSE(QApplication::clipboard()->mimeData()->hasHtml());
    EXPECT_TRUE(dialogs_.shown.empty());
}

}  // namespace
