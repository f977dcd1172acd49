// The port group with a serial port: a pseudo-terminal stands in for the device. Open and
// close, failures, the parameter box and the four choice lists, reconfiguring an open port,
// a device that goes away, and the port list.
#include <termios.h>
#include <unistd.h>

#include <QComboBox>

#include "channels/pty_pair.h"
#include "gui/main_window_support.h"

namespace {

using kem::testing::PtyPair;

class MainWindowSerialTest : public MainWindowTest {
protected:
    void UsePort(const std::u16string& name) {
        std::fill(std::begin(g_AppConfig.ComPortName), std::end(g_AppConfig.ComPortName), 0);
        std::copy(name.begin(), name.end(), g_AppConfig.ComPortName);
    }

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
        EXPECT_TRUE(Wait([&] {
            return DisplayText().find(u"round" + std::u16string(1, u'0' + round)) !=
                   std::u16string::npos;
        }));
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
    std::vector<uint8_t> got;
    EXPECT_TRUE(Wait([&] {
        pty_.ReadMaster(got, 7 - got.size(), 5);
        return got.size() >= 7;
    }));
    EXPECT_EQ(std::string(got.begin(), got.end()), "hello\r\n");
    EXPECT_TRUE(IsChecked(ids::kLoopSend));
}

TEST_F(MainWindowSerialTest, OpenFailuresSayWhyAndLeaveEverythingUsable) {
    struct Row {
        const char* name;
        std::u16string port;
        QString param;
        std::u16string message_start;
    };
    const std::vector<Row> rows = {
        {"nine data bits", pty_.path16(), QStringLiteral("9600,N,9,1"), u"不正确的串口参数"},
        {"unknown parity", pty_.path16(), QStringLiteral("9600,X,8,1"), u"不正确的串口参数"},
        {"no such device", PathOf("no-such-tty"), QStringLiteral("9600,N,8,1"), u"打开串口失败("},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
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
    struct Row {
        QString typed;
        QString baud, parity, data_bits, stop_bits;
    };
    const std::vector<Row> rows = {
        {QStringLiteral("115200,E,7,2"), "115200", "E(偶校验)", "7", "2"},
        {QStringLiteral("9600,n,8,1.5"), "9600", "N(无)", "8", "1.5"},
        {QStringLiteral("19200,m"), "19200", "M(标记)", "8", "1"},
        // A baud rate the list lacks leaves it without a choice.
        {QStringLiteral("250000,S,5,1"), "", "S(空格)", "5", "1"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.typed.toStdString());
        SetParam(row.typed);
        EXPECT_EQ(Choice(ids::kBaudRate), row.baud);
        EXPECT_EQ(Choice(ids::kParity), row.parity);
        EXPECT_EQ(Choice(ids::kDataBits), row.data_bits);
        EXPECT_EQ(Choice(ids::kStopBits), row.stop_bits);
    }
    // Each list changes its own field only: the typed 250000 survives.
    Choose(ids::kParity, QStringLiteral("E(偶校验)"));
    EXPECT_EQ(Param(), QStringLiteral("250000,E,5,1"));
    Choose(ids::kDataBits, QStringLiteral("8"));
    Choose(ids::kStopBits, QStringLiteral("2"));
    EXPECT_EQ(Param(), QStringLiteral("250000,E,8,2"));
    Choose(ids::kBaudRate, QStringLiteral("57600"));
    EXPECT_EQ(Param(), QStringLiteral("57600,E,8,2"));

    // The client shows its own text and no serial choices; back again, the serial text returns.
    ChoosePort(u"TCP/IP");
    EXPECT_EQ(Param(), QStringLiteral("127.0.0.1:60000"));
    for (int id : {ids::kBaudRate, ids::kParity, ids::kDataBits, ids::kStopBits, ids::kAdvanced}) {
        EXPECT_FALSE(Find(id)->isEnabled()) << id;
    }
    ChoosePort(u"SERVER");
    EXPECT_EQ(Param(), QStringLiteral("60000"));
    ChoosePort(u"COM1");
    EXPECT_EQ(Param(), QStringLiteral("57600,E,8,2"));
    for (int id : {ids::kBaudRate, ids::kParity, ids::kDataBits, ids::kStopBits, ids::kAdvanced}) {
        EXPECT_TRUE(Find(id)->isEnabled()) << id;
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
    struct Row {
        QString parity;
        QString param;
        tcflag_t kind;  // of PARODD | CMSPAR
        bool checked;   // INPCK
    };
    const std::vector<Row> rows = {
        {QStringLiteral("O(奇校验)"), QStringLiteral("9600,O,8,1"), PARODD, true},
        {QStringLiteral("E(偶校验)"), QStringLiteral("9600,E,8,1"), 0, true},
        {QStringLiteral("M(标记)"), QStringLiteral("9600,M,8,1"), PARODD | CMSPAR, true},
        {QStringLiteral("S(空格)"), QStringLiteral("9600,S,8,1"), CMSPAR, true},
        {QStringLiteral("N(无)"), QStringLiteral("9600,N,8,1"), 0, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.param.toStdString());
        Choose(ids::kParity, row.parity);
        EXPECT_EQ(Param(), row.param);
        ExpectOpen(true);
        // The test's own end of the line shares the terminal settings the port set.
        termios line{};
        ASSERT_EQ(tcgetattr(pty_.slave(), &line), 0);
        EXPECT_EQ(line.c_cflag & (PARODD | CMSPAR), row.kind);
        EXPECT_EQ((line.c_iflag & INPCK) != 0, row.checked);
    }
    // Still the same working link.
    pty_.WriteMaster(std::string("after"));
    EXPECT_TRUE(Wait([&] { return DisplayText().find(u"after") != std::u16string::npos; }));
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
    const std::u16string com10 = PathOf("COM10");
    const std::u16string com1 = PathOf("COM1");
    const std::string extra = std::string(root_ / "COM10") + ":" + std::string(root_ / "COM1");
    setenv("KEMPEMVILO_SERIAL_EXTRA", extra.c_str(), 1);
    UsePort(com1);
    MakeWindow();
    auto* list = Find<CKemComboBox>(ids::kPortList);
    for (int round = 0; round < 2; ++round) {
        emit list->dropDown();
        QStringList items;
        for (int i = 0; i < list->count(); ++i) {
            items << list->itemText(i);
        }
        SCOPED_TRACE(items.join(u' ').toStdString());
        EXPECT_EQ(list->GetText(), QString::fromStdU16String(com1));
        EXPECT_EQ(items.count(QString::fromStdU16String(com1)), 1);
        const qsizetype at10 = items.indexOf(QString::fromStdU16String(com10));
        ASSERT_GE(at10, 0);
        EXPECT_LT(at10, items.indexOf(QString::fromStdU16String(com1)));
        ASSERT_GE(items.size(), 4);
        EXPECT_EQ(items[items.size() - 2], QStringLiteral("TCP/IP"));
        EXPECT_EQ(items.back(), QStringLiteral("SERVER"));
    }
}

}  // namespace
