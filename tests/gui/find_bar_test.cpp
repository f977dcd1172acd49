// Find in the display of the real main window, offscreen, with a loopback TCP peer flooding it:
// text and hex, match case, next and previous with wrapping, the count following the flood,
// Esc, Ctrl+F and the menu entry, and saving and copying the display without highlights.
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QElapsedTimer>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QTextBlock>
#include <QTextEdit>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <set>
#include <thread>

#include "channels/net_test_support.h"
#include "gui/main_window_support.h"
#include "ui/find_bar.h"

namespace {

using kem::testing::TestListener;
using kem::testing::TestSocket;

std::u16string Lower(std::u16string text) {
    for (char16_t& unit : text) {
        if (unit >= u'A' && unit <= u'Z') {
            unit = static_cast<char16_t>(unit + 32);
        }
    }
    return text;
}

// Pixels of `image` whose colour is `rgb` or close to it.
int PixelsNear(const QImage& image, QRgb rgb) {
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            if (std::abs(qRed(p) - qRed(rgb)) <= 16 && std::abs(qGreen(p) - qGreen(rgb)) <= 16 &&
                std::abs(qBlue(p) - qBlue(rgb)) <= 16) {
                ++count;
            }
        }
    }
    return count;
}

// Non-overlapping occurrences of `pattern` in `text`, from the left.
size_t Occurrences(const std::u16string& text, const std::u16string& pattern) {
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

    // A window connected as a TCP client to a loopback peer.
    void Connect() {
        SetField(g_AppConfig.ComPortName, u"TCP/IP");
        const std::string port = std::to_string(listener_.port());
        SetField(g_AppConfig.NetPortParam,
                 u"127.0.0.1:" + std::u16string(port.begin(), port.end()));
        MakeWindow();
        // Window shortcuts (Ctrl+F, F3) work in the active window only.
        window().activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window()));
        Click(ids::kOpen);
        peer_ = listener_.Accept();
        ASSERT_TRUE(peer_.valid());
    }

    // The peer sends `chunks` in turn from a thread of its own, pausing between them, so the
    // window sees a stream of arrivals rather than one block.
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

    // Runs the window until everything flooded has arrived and is in the widget. Returns the
    // longest time one turn of the event loop took meanwhile.
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
        // One more frame: the bar follows the widget's last batch.
        Wait([] { return false; }, 60);
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

    // The highlight of the current match and how many others there are.
    struct Highlights {
        int current = 0;
        int others = 0;
        bool current_at_match = false;
    };
    Highlights Painted() {
        Highlights result;
        const DisplayMatch current = Current();
        for (const QTextEdit::ExtraSelection& selection : window().display().extraSelections()) {
            if (selection.format.background().color() == QColor(255, 140, 40)) {
                ++result.current;
                result.current_at_match =
                    static_cast<size_t>(selection.cursor.selectionStart()) == current.begin &&
                    static_cast<size_t>(selection.cursor.selectionEnd()) == current.end;
            } else {
                ++result.others;
            }
        }
        return result;
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
    std::vector<std::string> chunks;
    std::string chunk;
    for (int i = 0; i < lines; ++i) {
        char line[64];
        std::snprintf(line, sizeof line, "L%05d Alpha beta ALPHA gamma\r\n", i);
        chunk += line;
        if ((i + 1) % per_chunk == 0) {
            chunks.push_back(std::move(chunk));
            chunk.clear();
        }
    }
    if (!chunk.empty()) {
        chunks.push_back(chunk);
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
    const QRect text_with_bar = window().display().viewport()->geometry();
    EXPECT_EQ(bar().geometry().top(), text_alone.top());
    EXPECT_GE(bar().height(), Field()->sizeHint().height());
    EXPECT_EQ(text_with_bar.top(), bar().geometry().bottom() + 1);
    EXPECT_EQ(text_with_bar.bottom(), text_alone.bottom());
    TypeFind(QStringLiteral("alpha"));
    EXPECT_EQ(bar().CountText(), QStringLiteral("无匹配"));

    const int lines = 12000;
    Flood(TextLines(lines, 60));
    const qint64 longest_turn = WaitFloodShown();
    // A hang guard, not a speed figure: the window kept turning while the flood arrived.
    EXPECT_LT(longest_turn, 3000);
    // The count followed the text as it came, never going back.
    std::set<size_t> distinct(counts_seen_.begin(), counts_seen_.end());
    EXPECT_GE(distinct.size(), 3u);
    EXPECT_TRUE(std::is_sorted(counts_seen_.begin(), counts_seen_.end()));

    const std::u16string shown = window().display().model().ShownText();
    ASSERT_EQ(Occurrences(Lower(shown), u"alpha"), 2u * lines);
    EXPECT_EQ(bar().MatchCount(), 2u * lines);
    // Matches that arrived after the typing are counted, not jumped to: the display keeps
    // following the flood until the user steps.
    EXPECT_EQ(bar().CurrentIndex(), -1);
    EXPECT_EQ(bar().CountText(), QStringLiteral("%1 个匹配").arg(2 * lines));
    QTest::keyClick(Field(), Qt::Key_F3);
    EXPECT_EQ(bar().CurrentIndex(), 0);
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

    // From the first match, previous wraps to the last and next wraps back to the first;
    // Enter, Shift+Enter, F3 and Shift+F3 step as the buttons do.
    TypeFind(QStringLiteral("L00000 alpha"));
    ASSERT_EQ(bar().MatchCount(), 1u);
    TypeFind(QStringLiteral("alpha"));
    ASSERT_EQ(bar().CurrentIndex(), 0);
    auto* previous = bar().findChild<QPushButton*>(QStringLiteral("FindPrevious"));
    auto* next = bar().findChild<QPushButton*>(QStringLiteral("FindNext"));
    previous->click();
    EXPECT_EQ(bar().CurrentIndex(), 2 * lines - 1);
    EXPECT_EQ(Selected(), u"ALPHA");
    EXPECT_TRUE(CurrentInView());
    next->click();
    EXPECT_EQ(bar().CurrentIndex(), 0);
    EXPECT_EQ(Selected(), u"Alpha");
    EXPECT_TRUE(CurrentInView());
    QTest::keyClick(Field(), Qt::Key_Return);
    EXPECT_EQ(bar().CurrentIndex(), 1);
    QTest::keyClick(Field(), Qt::Key_F3);
    EXPECT_EQ(bar().CurrentIndex(), 2);
    QTest::keyClick(Field(), Qt::Key_Return, Qt::ShiftModifier);
    EXPECT_EQ(bar().CurrentIndex(), 1);
    QTest::keyClick(Field(), Qt::Key_F3, Qt::ShiftModifier);
    QTest::keyClick(Field(), Qt::Key_F3, Qt::ShiftModifier);
    EXPECT_EQ(bar().CurrentIndex(), 2 * lines - 1);
    EXPECT_EQ(bar().CountText(), QStringLiteral("%1/%1").arg(2 * lines));

    // Every visible match is highlighted, the current one in its own colour.
    Wait([] { return false; }, 30);
    Highlights painted = Painted();
    EXPECT_EQ(painted.current, 1);
    EXPECT_TRUE(painted.current_at_match);
    EXPECT_GE(painted.others, 3);
    EXPECT_LE(painted.others + painted.current,
              static_cast<int>(std::min<size_t>(FindBar::kMaxHighlights, 2 * lines)));
    for (const QTextEdit::ExtraSelection& selection : window().display().extraSelections()) {
        EXPECT_EQ(Lower(window().display().model().ExportRange(
                      static_cast<size_t>(selection.cursor.selectionStart()),
                      static_cast<size_t>(selection.cursor.selectionEnd()))),
                  u"alpha");
    }

    // And they are on screen: the current match selected, the others in their colour.
    const QImage painted_image = window().display().viewport()->grab().toImage();
    const QRgb selected = window().display().palette().color(QPalette::Highlight).rgb();
    EXPECT_GT(PixelsNear(painted_image, selected), 20);
    EXPECT_GT(PixelsNear(painted_image, qRgb(255, 238, 88)), 20 * painted.others);
    if (const char* shot = std::getenv("KEM_FIND_SCREENSHOT")) {
        window().grab().save(QString::fromLocal8Bit(shot));
    }

    // Esc closes the bar, takes the highlights away and gives the room back; the window stays.
    QTest::keyClick(Field(), Qt::Key_Escape);
    EXPECT_FALSE(bar().isVisible());
    EXPECT_TRUE(window().display().extraSelections().isEmpty());
    const QImage plain_image = window().display().viewport()->grab().toImage();
    EXPECT_EQ(PixelsNear(plain_image, qRgb(255, 238, 88)), 0);
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
    TypeFind(QStringLiteral("0D 0A 0D D0"));
    EXPECT_EQ(bar().MatchCount(), 250u);
    EXPECT_EQ(bar().CurrentIndex(), 0);
    TypeFind(QStringLiteral("0D0A0DD0A00A0D"));
    EXPECT_EQ(bar().MatchCount(), 250u);

    TypeFind(QStringLiteral("0D 0"));
    EXPECT_EQ(bar().MatchCount(), 0u);
    EXPECT_EQ(bar().CountText(), QStringLiteral("无效的十六进制字节"));
    EXPECT_TRUE(window().display().extraSelections().isEmpty());

    // Leaving HEX: the same field is text again.
    TypeFind(QStringLiteral("0D 0A"));
    Click(ids::kShowHex);
    EXPECT_FALSE(bar().hex_mode());
    EXPECT_TRUE(MatchCase()->isEnabled());
    Wait([] { return false; }, 60);
    EXPECT_EQ(bar().MatchCount(), 0u);
    EXPECT_EQ(bar().CountText(), QStringLiteral("无匹配"));
    Click(ids::kShowHex);
    Wait([] { return false; }, 60);
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
    // Emptied at the limit on the way; how much came after the last emptying depends on how
    // the reads fell, so only the whole flood is an upper bound.
    EXPECT_GT(window().display().model().DropCount(), 0u);
    EXPECT_LT(shown.size(), total_);
    EXPECT_EQ(bar().MatchCount(), Occurrences(shown, u"gamma"));
    EXPECT_GT(bar().MatchCount(), 0u);
    // Every match is in the text now shown.
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

    // Ctrl+F in the input box opens the bar.
    QTest::keyClick(Find(ids::kInputBox), Qt::Key_F, Qt::ControlModifier);
    EXPECT_TRUE(bar().isVisible());
    bar().Close();

    // In the display with "复制,粘贴等" chosen, Ctrl+F opens the bar too.
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
    Wait([] { return false; }, 30);
    ASSERT_EQ(window().display().extraSelections().size(), 2);

    // The document itself carries no background: highlights are drawn over it.
    for (QTextBlock block = window().display().document()->begin(); block.isValid();
         block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            EXPECT_EQ(it.fragment().charFormat().background().style(), Qt::NoBrush);
        }
    }

    const std::string text_path = (root_ / "shown.txt").string();
    dialogs_.save_path = PathOf("shown.txt");
    window().ExecuteCommand(ids::kSaveDisplay);
    EXPECT_EQ(kem::testing::ReadBytes(text_path), "first Match line\r\nsecond match line\r\n");

    const std::string rtf_path = (root_ / "shown.rtf").string();
    dialogs_.save_path = PathOf("shown.rtf");
    window().ExecuteCommand(ids::kSaveDisplay);
    const std::string rtf = kem::testing::ReadBytes(rtf_path);
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
    const QMimeData* mime = QApplication::clipboard()->mimeData();
    ASSERT_NE(mime, nullptr);
    EXPECT_FALSE(mime->hasHtml());
    EXPECT_TRUE(dialogs_.shown.empty());
}

}  // namespace
