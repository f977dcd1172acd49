// The port group with a serial port: a pseudo-terminal stands in for the device. Open and
// close, failures, the parameter box and the four choice lists, reconfiguring an open port,
// a device that goes away, and the port list.
#include <termios.h>

#include "gui/main_window_support.h"

namespace {

using kem::testing::PtyPair;

class MainWindowSerialTest : public MainWindowTest {
protected:
    void UsePort(const std::u16string& name) { SetField(g_AppConfig.ComPortName, name); }

    // The closed and open looks of the port group.
    void ExpectOpen(bool open) {
        EXPECT_EQ(ButtonText(ids::kOpen), open ? QStringLiteral("关闭") : QStringLiteral("打开"));
        EXPECT_EQ(IsChecked(ids::kOpen), open);
        EXPECT_EQ(Find(ids::kPortList)->isEnabled(), !open);
        EXPECT_EQ(Find<QLineEdit>(ids::kParamBox)->isReadOnly(), open);
        EXPECT_EQ(window().link().IsOpen(), open);
    }

    QString Choice(int id) { return Find<QComboBox>(id)->currentText(); }

    PtyPair pty_;
};

TEST_F(MainWindowSerialTest, OpenButtonOpensAndClosesThePortAndTheControlsFollow) {
    UsePort(pty_.path16());
    MakeWindow();
    ExpectOpen(false);
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        if (round == 0) {
            Click(ids::kOpen);
        } else {
            // Enter in the parameter box is the Open button.
            QTest::keyClick(Find(ids::kParamBox), Qt::Key_Return);
            Wait([&] { return window().link().IsOpen(); });
        }
        ExpectOpen(true);
        const std::string text = "round" + std::to_string(round);
        pty_.WriteMaster(text);
        EXPECT_TRUE(WaitDisplayHas(U16(text)));
        Click(ids::kOpen);
        ExpectOpen(false);
    }
    EXPECT_EQ(Counter(ids::kRxCount), QStringLiteral("12"));
    EXPECT_TRUE(dialogs_.shown.empty());
}

TEST_F(MainWindowSerialTest, StartSwitchOpensAndLoadedLoopSendSendsOnceTheWindowIsUp) {
    UsePort(pty_.path16());
    g_AppConfig.LoopSend = 1;
    g_AppConfig.LoopSendTime = 60000;
    SetField(g_AppConfig.InputBoxData, u"hello");
    MakeWindow(false);
    window().m_bOpenAtStart = true;
    // Nothing happens before the window is shown.
    QCoreApplication::processEvents();
    EXPECT_FALSE(window().link().IsOpen());
    window().show();
    ASSERT_TRUE(Wait([&] { return window().link().IsOpen(); }));
    ExpectOpen(true);
    EXPECT_EQ(PtyGot(pty_, 7), "hello\r\n");
    EXPECT_TRUE(IsChecked(ids::kLoopSend));
}

TEST_F(MainWindowSerialTest, OpenFailuresSayWhyAndLeaveEverythingUsable) {
    const struct {
        std::u16string port;
        QString param;
        std::u16string message_start;
    } rows[] = {
        {pty_.path16(), QStringLiteral("9600,N,9,1"), u"不正确的串口参数"},
        {pty_.path16(), QStringLiteral("9600,X,8,1"), u"不正确的串口参数"},
        {PathOf("no-such-tty"), QStringLiteral("9600,N,8,1"), u"打开串口失败("},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.param.toStdString());
        UsePort(row.port);
        dialogs_.shown.clear();
        Answer({DialogAnswer::kOk});
        MakeWindow();
        SetParam(row.param);
        Click(ids::kOpen);
        ASSERT_EQ(dialogs_.shown.size(), 1u);
        EXPECT_EQ(dialogs_.shown[0].text.substr(0, row.message_start.size()), row.message_start);
        EXPECT_EQ(dialogs_.shown[0].caption, u"提示");
        EXPECT_EQ(dialogs_.shown[0].icon, DialogIcon::kInformation);
        ExpectOpen(false);
        DestroyWindow();
    }
}

TEST_F(MainWindowSerialTest, ParameterBoxAndChoiceListsFollowEachOther) {
    UsePort(u"COM1");
    MakeWindow();
    EXPECT_EQ(Param(), QStringLiteral("9600,N,8,1"));
    // A baud rate the list lacks leaves it without a choice.
    const std::pair<const char*, const char*> rows[] = {{"115200,E,7,2", "115200|E(偶校验)|7|2"},
                                                        {"9600,n,8,1.5", "9600|N(无)|8|1.5"},
                                                        {"19200,m", "19200|M(标记)|8|1"},
                                                        {"250000,S,5,1", "|S(空格)|5|1"}};
    for (const auto& [typed, choices] : rows) {
        SetParam(QString::fromUtf8(typed));
        EXPECT_EQ(QStringList({Choice(ids::kBaudRate), Choice(ids::kParity), Choice(ids::kDataBits),
                               Choice(ids::kStopBits)})
                      .join(u'|'),
                  QString::fromUtf8(choices));
    }
    // Each list changes its own field only: the typed 250000 survives.
    Choose(ids::kParity, QStringLiteral("E(偶校验)"));
    EXPECT_EQ(Param(), QStringLiteral("250000,E,5,1"));
    Choose(ids::kStopBits, QStringLiteral("2"));
    Choose(ids::kDataBits, QStringLiteral("8"));
    Choose(ids::kBaudRate, QStringLiteral("57600"));
    EXPECT_EQ(Param(), QStringLiteral("57600,E,8,2"));

    // The client shows its own text and no serial choices; back again, the serial text returns.
    const struct {
        std::u16string port;
        const char* param;
    } ports[] = {{u"TCP/IP", "127.0.0.1:60000"}, {u"SERVER", "60000"}, {u"COM1", "57600,E,8,2"}};
    for (const auto& port : ports) {
        ChoosePort(port.port);
        EXPECT_EQ(Param(), QLatin1String(port.param));
        for (int id :
             {ids::kBaudRate, ids::kParity, ids::kDataBits, ids::kStopBits, ids::kAdvanced}) {
            EXPECT_EQ(Find(id)->isEnabled(), port.port == u"COM1") << id;
        }
    }
    DestroyWindow();
    EXPECT_EQ(std::u16string(g_AppConfig.ComPortParam), u"57600,E,8,2");
    EXPECT_EQ(std::u16string(g_AppConfig.ComPortName), u"COM1");
}

TEST_F(MainWindowSerialTest, ChangingAChoiceReconfiguresTheOpenPort) {
    UsePort(pty_.path16());
    MakeWindow();
    Click(ids::kOpen);
    ExpectOpen(true);
    // A pseudo-terminal forces PARENB off and 8 bits; the parity's kind and the input check
    // it asks for still show.
    const struct {
        const char* parity;
        char letter;
        tcflag_t kind;  // of PARODD | CMSPAR
        bool checked;   // INPCK
    } rows[] = {{"O(奇校验)", 'O', PARODD, true},
                {"E(偶校验)", 'E', 0, true},
                {"M(标记)", 'M', PARODD | CMSPAR, true},
                {"S(空格)", 'S', CMSPAR, true},
                {"N(无)", 'N', 0, false}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.letter);
        Choose(ids::kParity, QString::fromUtf8(row.parity));
        EXPECT_EQ(Param(), QStringLiteral("9600,%1,8,1").arg(QChar(row.letter)));
        ExpectOpen(true);
        // The test's own end of the line shares the terminal settings the port set.
        termios line{};
        ASSERT_EQ(tcgetattr(pty_.slave(), &line), 0);
        EXPECT_EQ(line.c_cflag & (PARODD | CMSPAR), row.kind);
        EXPECT_EQ((line.c_iflag & INPCK) != 0, row.checked);
    }
    // Still the same working link.
    pty_.WriteMaster(std::string("after"));
    EXPECT_TRUE(WaitDisplayHas(u"after"));
    EXPECT_TRUE(dialogs_.shown.empty());
}

TEST_F(MainWindowSerialTest, FailedReopenAfterAChoiceClosesTheLinkWithOneNotice) {
    // The port is opened through a name that can vanish without hanging up the open line, so
    // only the reopen fails and no hang-up races with the choice.
    const std::filesystem::path name = root_ / "ttyGone";
    std::filesystem::create_symlink(pty_.path(), name);
    UsePort(PathOf("ttyGone"));
    MakeWindow();
    Click(ids::kOpen);
    ExpectOpen(true);
    std::filesystem::remove(name);
    Answer({DialogAnswer::kOk, DialogAnswer::kOk});
    Choose(ids::kParity, QStringLiteral("E(偶校验)"));
    window().DrainNow();
    QCoreApplication::processEvents();
    ASSERT_GE(dialogs_.shown.size(), 1u);
    EXPECT_EQ(dialogs_.shown[0].text.substr(0, 7), u"打开串口失败(");
    // The close of the old line belongs to the link that was closed: no second notice.
    QTest::qWait(100);
    EXPECT_EQ(dialogs_.shown.size(), 1u);
    ExpectOpen(false);
}

TEST_F(MainWindowSerialTest, DeviceThatGoesAwayClosesTheLinkAndSaysWhich) {
    UsePort(pty_.path16());
    MakeWindow();
    Click(ids::kOpen);
    pty_.WriteMaster(std::string("last words"));
    EXPECT_TRUE(Wait([&] { return DisplayText() == u"last words"; }));
    Answer({DialogAnswer::kOk});
    pty_.CloseMaster();
    ASSERT_TRUE(WaitShown(1));
    EXPECT_EQ(dialogs_.shown[0].text, u"串口已断开:" + pty_.path16());
    EXPECT_EQ(dialogs_.shown[0].caption, u"提示");
    ExpectOpen(false);
    EXPECT_EQ(DisplayText(), u"last words");
}

TEST_F(MainWindowSerialTest, PortListIsRefilledAndReselectsTheExactName) {
    // COM10 is listed before COM1: a prefix search would pick it for COM1.
    const QString com10 = QString::fromStdU16String(PathOf("COM10"));
    const QString com1 = QString::fromStdU16String(PathOf("COM1"));
    setenv("KEMPEMVILO_SERIAL_EXTRA", (com10 + ":" + com1).toUtf8().constData(), 1);
    UsePort(com1.toStdU16String());
    MakeWindow();
    auto* list = Find<CKemComboBox>(ids::kPortList);
    for (int round = 0; round < 2; ++round) {
        emit list->dropDown();
        QStringList items;
        for (int i = 0; i < list->count(); ++i) {
            items << list->itemText(i);
        }
        SCOPED_TRACE(items.join(u' ').toStdString());
        EXPECT_EQ(list->GetText(), com1);
        EXPECT_EQ(items.count(com1), 1);
        ASSERT_GE(items.indexOf(com10), 0);
        EXPECT_LT(items.indexOf(com10), items.indexOf(com1));
        ASSERT_GE(items.size(), 4);
        EXPECT_EQ(items[items.size() - 2], QStringLiteral("TCP/IP"));
        EXPECT_EQ(items.back(), QStringLiteral("SERVER"));
    }
}

}  // namespace
