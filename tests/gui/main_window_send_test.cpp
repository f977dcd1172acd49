// The send path of the main window through a pseudo-terminal: the input box with every parse
// option, its selection and send key, keys typed into the display, paste, Send file and loop
// sending.
#include <QClipboard>
#include <QGuiApplication>

#include "gui/main_window_support.h"

namespace {

using kem::testing::PtyPair;

class MainWindowSendTest : public MainWindowTest {
protected:
    void SetUp() override {
        MainWindowTest::SetUp();
        SetField(g_AppConfig.ComPortName, pty_.path16());
    }

    std::string PeerGot(size_t size) { return PtyGot(pty_, size); }
    // True when nothing (more) reaches the far end while the events run for `ms`.
    bool PeerSilent(int ms = 100) { return PtyGot(pty_, 1, ms).empty(); }

    void Press(QWidget* target, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QTest::keyClick(target, key, modifiers);
        QCoreApplication::processEvents();
    }

    PtyPair pty_;
};

TEST_F(MainWindowSendTest, InputIsParsedAsTheCheckBoxesSay) {
    MakeWindow();
    // The parser's own cases are the terminal layer's; these are the four boxes' effects.
    const struct {
        QString input;
        bool names, hex, enter, crlf;
        std::string sent;
    } rows[] = {
        {"AB", true, true, true, true, "AB\r\n"},
        {"AB", true, true, true, false, "AB\r"},
        {"AB", true, true, false, true, "AB"},
        {"Demo input\\x0D\\x0A", true, true, true, true, "Demo input\r\n"},
        {"[CR]", false, true, false, true, "[CR]"},
        {"[cr][Lf][NUL][A][ABC]", true, false, false, true, std::string("\r\n\0[A][ABC]", 11)},
        {"\\x41", true, false, false, true, "\\x41"},
        {"演示", true, true, false, true, "\xD1\xDD\xCA\xBE"},
        {"[CR]\\x0D", true, true, true, true, "\r\r"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.input.toStdString());
        SetChecked(ids::kParseCharName, row.names);
        SetChecked(ids::kParseHex, row.hex);
        SetChecked(ids::kAutoSendEnter, row.enter);
        SetChecked(ids::kSend0D0A, row.crlf);
        SetInput(row.input);
        Click(ids::kSend);
        EXPECT_EQ(PeerGot(row.sent.size()), row.sent);
        EXPECT_TRUE(Queued(false).ends_with(row.sent));
    }
    // The first send opened the port, and it stays open.
    EXPECT_EQ(ButtonText(ids::kOpen), QStringLiteral("关闭"));
    EXPECT_TRUE(dialogs_.shown.empty());
}

TEST_F(MainWindowSendTest, SelectionAloneIsSentLineBreaksAsCrLfAndAnEmptyBoxNothing) {
    g_AppConfig.AutoSendEnter = 0;
    MakeWindow();
    SetInput(QStringLiteral("one\ntwo"));
    Click(ids::kSend);
    EXPECT_EQ(PeerGot(8), "one\r\ntwo");
    auto* input = Find<QPlainTextEdit>(ids::kInputBox);
    input->setPlainText(QStringLiteral("first line\nsecond"));
    QTextCursor cursor = input->textCursor();
    cursor.setPosition(6);
    cursor.setPosition(10, QTextCursor::KeepAnchor);
    input->setTextCursor(cursor);
    Click(ids::kSend);
    EXPECT_EQ(PeerGot(4), "line");
    SetInput(QString());
    Click(ids::kSend);
    EXPECT_TRUE(PeerSilent());
    EXPECT_EQ(Queued(false), "one\r\ntwoline");
}

TEST_F(MainWindowSendTest, SendKeyFollowsEnterKeySends) {
    g_AppConfig.AutoSendEnter = 0;
    g_AppConfig.SendNow = 0;
    MakeWindow();
    auto* input = Find<QPlainTextEdit>(ids::kInputBox);
    SetInput(QStringLiteral("go"));
    input->moveCursor(QTextCursor::End);
    // Ctrl+Enter sends; Enter is a line break.
    Press(input, Qt::Key_Return, Qt::ControlModifier);
    EXPECT_EQ(PeerGot(2), "go");
    Press(input, Qt::Key_Return);
    EXPECT_EQ(input->toPlainText(), QStringLiteral("go\n"));
    EXPECT_TRUE(PeerSilent());
    Click(ids::kSendNow);
    SetInput(QStringLiteral("now"));
    input->moveCursor(QTextCursor::End);
    Press(input, Qt::Key_Return);
    EXPECT_EQ(PeerGot(3), "now");
    EXPECT_EQ(input->toPlainText(), QStringLiteral("now"));
}

TEST_F(MainWindowSendTest, KeysAndPasteInTheDisplayAreSentAndNeverShownAsTyped) {
    MakeWindow();
    Click(ids::kOpen);
    QWidget* display = Find(ids::kDisplay);
    Press(display, Qt::Key_A);
    EXPECT_EQ(PeerGot(1), "a");
    Press(display, Qt::Key_Return);
    EXPECT_EQ(PeerGot(2), "\r\n");
    Press(display, Qt::Key_Delete);
    EXPECT_EQ(PeerGot(1), "\x7f");
    EXPECT_TRUE(PeerSilent());
    // Ctrl+letter: a display command by default, its control code when so chosen.
    window().ExecuteCommand(ids::kCtrlKeyForCodes);
    Press(display, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(PeerGot(1), "\x01");
    window().ExecuteCommand(ids::kCtrlKeyForCommands);
    Press(display, Qt::Key_E, Qt::ControlModifier);  // clear
    EXPECT_EQ(DisplayText(), u"");
    // Paste sends the clipboard as ANSI bytes; an empty clipboard sends nothing.
    QGuiApplication::clipboard()->clear();
    window().display().ExecuteCommand(CKemRichEditCtrl::kCmdPaste);
    EXPECT_TRUE(PeerSilent());
    QGuiApplication::clipboard()->setText(QStringLiteral("paste 演示"));
    window().display().ExecuteCommand(CKemRichEditCtrl::kCmdPaste);
    EXPECT_EQ(PeerGot(10), "paste \xD1\xDD\xCA\xBE");
    EXPECT_EQ(DisplayText(), u"paste 演示");
    Click(ids::kClear);
    // Keys no longer sent: nothing goes out and the display takes no text.
    window().ExecuteCommand(ids::kKeyToSend);
    Press(display, Qt::Key_B);
    EXPECT_TRUE(PeerSilent());
    EXPECT_EQ(DisplayText(), u"");
    EXPECT_EQ(window().traffic().Count(), 0u);
}

TEST_F(MainWindowSendTest, SendFileGoesOutIn256ByteBlocks) {
    MakeWindow();
    struct Row {
        size_t size;
        std::vector<size_t> blocks;
    };
    const std::vector<Row> rows = {{600, {256, 256, 88}}, {512, {256, 256}}, {5, {5}}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.size);
        Click(ids::kClear);
        const std::string content(row.size, static_cast<char>('a' + row.size % 26));
        kem::testing::WriteBytes((root_ / "file.bin").string(), content);
        dialogs_.open_path = PathOf("file.bin");
        Click(ids::kSendFile);
        EXPECT_EQ(PeerGot(row.size), content);
        std::vector<size_t> blocks;
        window().traffic().ForEach(
            [&](const tagComExchangeData& record) { blocks.push_back(record.data.size()); });
        EXPECT_EQ(blocks, row.blocks);
    }
    // The dialog offers the last file next time.
    EXPECT_NE(dialogs_.open_requests.back().initial_name.find(u"file.bin"), std::u16string::npos);
    EXPECT_TRUE(dialogs_.shown.empty());
}

TEST_F(MainWindowSendTest, SendFileFailuresAreReportedOnce) {
    kem::testing::WriteBytes((root_ / "big.bin").string(), std::string(1 << 20, 'f'));
    struct Row {
        const char* name;
        std::u16string port;
        const char* file;
        std::u16string message_start;
    };
    const std::vector<Row> rows = {
        {"missing file", pty_.path16(), "missing.bin", u"无法打开文件:"},
        {"port cannot open", PathOf("no-such-tty"), "big.bin", u"打开串口失败("},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        SetField(g_AppConfig.ComPortName, row.port);
        dialogs_.shown.clear();
        Answer({DialogAnswer::kOk, DialogAnswer::kOk});
        MakeWindow();
        dialogs_.open_path = PathOf(row.file);
        Click(ids::kSendFile);
        Pump(50);
        ASSERT_EQ(dialogs_.shown.size(), 1u);
        EXPECT_EQ(dialogs_.shown[0].text.substr(0, row.message_start.size()), row.message_start);
        EXPECT_EQ(window().traffic().Count(), 0u);
        DestroyWindow();
    }
}

TEST_F(MainWindowSendTest, SendFileStopsAtTheFirstFailedWriteWithOneMessage) {
    kem::testing::WriteBytes((root_ / "big.bin").string(), std::string(4 << 20, 'f'));
    MakeWindow();
    Click(ids::kOpen);
    // The far end reads nothing: the line fills and a write stalls.
    window().link().serial().m_nWriteStallMs = 200;
    Answer({DialogAnswer::kOk, DialogAnswer::kOk});
    dialogs_.open_path = PathOf("big.bin");
    Click(ids::kSendFile);
    ASSERT_TRUE(WaitShown(1, 20000));
    const size_t queued = Queued(false).size();
    EXPECT_LT(queued, size_t{4} << 20);
    Pump(300);
    ASSERT_EQ(dialogs_.shown.size(), 1u);
    EXPECT_EQ(dialogs_.shown[0].text, u"发送文件失败:" + PathOf("big.bin"));
    EXPECT_EQ(dialogs_.shown[0].caption, u"错误");
    EXPECT_EQ(Queued(false).size(), queued);
}

TEST_F(MainWindowSendTest, LoopSendRepeatsAndStopsOnAZeroPeriodOrAnEdit) {
    g_AppConfig.LoopSendTime = 0;
    MakeWindow();
    Click(ids::kOpen);
    SetInput(QStringLiteral("L"));
    Click(ids::kLoopSend);
    EXPECT_FALSE(IsChecked(ids::kLoopSend));
    EXPECT_TRUE(PeerSilent());

    TypeInto(ids::kLoopSendTime, QStringLiteral("20"));
    Click(ids::kLoopSend);
    EXPECT_TRUE(IsChecked(ids::kLoopSend));
    EXPECT_EQ(PeerGot(9), "L\r\nL\r\nL\r\n");
    // Editing the period stops the loop until it is ticked again.
    QTest::keyClick(Find<QLineEdit>(ids::kLoopSendTime), Qt::Key_0);
    EXPECT_FALSE(IsChecked(ids::kLoopSend));
    window().DrainNow();
    const size_t sent = Queued(false).size();
    PeerGot(sent - 9);
    EXPECT_TRUE(PeerSilent(200));
    EXPECT_EQ(Queued(false).size(), sent);
}

}  // namespace
