#include "ui/com_advanced_dialog.h"

#include <gtest/gtest.h>
#include <sys/ioctl.h>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <array>

#include "channels/pty_pair.h"
#include "qt_app.h"
#include "settings/app_config.h"
#include "terminal/link_session.h"
#include "terminal/scripted_dialogs.h"

namespace {

using kem::testing::EnsureQtApp;
using kem::testing::PtyPair;

// The session posts traffic and close events; these tests do not wait for any.
class IgnoringSink : public LinkEventSink {
public:
    void PostTrafficReady() override {}
    void PostClientAccepted() override {}
    void PostLinkClosed(int32_t, uint64_t) override {}
    void PostReconnectEvent(uint64_t) override {}
};

class ComAdvancedDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureQtApp();
        g_AppConfig = DefaultAppConfig();
    }

    static QLineEdit* Box(QDialog& dialog, int id) {
        auto* edit = dialog.findChild<QLineEdit*>(QString::number(id));
        EXPECT_NE(edit, nullptr) << "no box " << id;
        return edit;
    }
    static QCheckBox* Check(QDialog& dialog, int id) {
        auto* box = dialog.findChild<QCheckBox*>(QString::number(id));
        EXPECT_NE(box, nullptr) << "no check box " << id;
        return box;
    }
    static QPushButton* Button(QDialog& dialog, int id) {
        auto* button = dialog.findChild<QPushButton*>(QString::number(id));
        EXPECT_NE(button, nullptr) << "no button " << id;
        return button;
    }
    static void Type(QDialog& dialog, const std::array<const char*, 5>& texts) {
        for (size_t i = 0; i < texts.size(); ++i) {
            Box(dialog, CDlgComAdvancedSettings::kTimeoutIds[i])->setText(QLatin1String(texts[i]));
        }
    }

    ScriptedDialogs dialogs_;
};

std::array<uint32_t, 5> Timeouts(const tagComPortParam& param) {
    return {param.ReadIntervalTimeout, param.ReadTotalTimeoutMultiplier,
            param.ReadTotalTimeoutConstant, param.WriteTotalTimeoutMultiplier,
            param.WriteTotalTimeoutConstant};
}

TEST_F(ComAdvancedDialogTest, ShowsTheRecordAndTheSwitches) {
    tagComPortParam param;
    param.ReadTotalTimeoutConstant = 250;
    CKemPortCom port;
    port.SetDtr(1);
    g_AppConfig.IgnoreComRXCHAR = 1;
    CDlgComAdvancedSettings dialog(nullptr, param, port, &dialogs_);
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("串口进阶设置"));
    EXPECT_EQ(Box(dialog, 1020)->text(), QStringLiteral("4294967295"));
    EXPECT_EQ(Box(dialog, 1021)->text(), QStringLiteral("0"));
    EXPECT_EQ(Box(dialog, 1022)->text(), QStringLiteral("250"));
    EXPECT_EQ(Box(dialog, 1023)->text(), QStringLiteral("0"));
    EXPECT_EQ(Box(dialog, 1024)->text(), QStringLiteral("0"));
    EXPECT_EQ(Check(dialog, 1047)->text(), QStringLiteral("DTR"));
    EXPECT_TRUE(Check(dialog, 1047)->isChecked());
    EXPECT_EQ(Check(dialog, 1064)->text(), QStringLiteral("忽略EV_RXCHAR(高兼容性)"));
    EXPECT_TRUE(Check(dialog, 1064)->isChecked());
    EXPECT_EQ(Button(dialog, 1)->text(), QStringLiteral("确定"));
    EXPECT_EQ(Button(dialog, 2)->text(), QStringLiteral("取消"));
    QStringList labels;
    for (const QLabel* label : dialog.findChildren<QLabel*>()) {
        labels << label->text();
    }
    for (const char* name :
         {"ReadIntervalTimeout:", "ReadTotalTimeoutMultiplier:", "ReadTotalTimeoutConstant:",
          "WriteTotalTimeoutMultiplier:", "WriteTotalTimeoutConstant:"}) {
        EXPECT_TRUE(labels.contains(QLatin1String(name))) << name;
    }
    EXPECT_TRUE(labels.contains(QStringLiteral("以下设置,修改后,立即生效,不需要确定")));
}

TEST_F(ComAdvancedDialogTest, TypedTimeoutsReachTheRecordOnOk) {
    tagComPortParam param;
    const tagComPortParam before = param;
    CKemPortCom port;
    CDlgComAdvancedSettings dialog(nullptr, param, port, &dialogs_);
    Type(dialog, {"10", " 20 ", "30", "40", "4294967295"});
    EXPECT_EQ(Timeouts(param), Timeouts(before)) << "written before OK";
    Button(dialog, 1)->click();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(Timeouts(param), (std::array<uint32_t, 5>{10, 20, 30, 40, 4294967295u}));
    EXPECT_EQ(param.dwBaudRate, before.dwBaudRate);
    EXPECT_EQ(param.nFlowControl, before.nFlowControl);
    EXPECT_TRUE(dialogs_.shown.empty());
}

TEST_F(ComAdvancedDialogTest, CancelKeepsTheRecord) {
    tagComPortParam param;
    const tagComPortParam before = param;
    CKemPortCom port;
    CDlgComAdvancedSettings dialog(nullptr, param, port, &dialogs_);
    Type(dialog, {"1", "2", "3", "4", "5"});
    Button(dialog, 2)->click();
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_EQ(Timeouts(param), Timeouts(before));
}

TEST_F(ComAdvancedDialogTest, BadNumberIsRefusedAndNothingIsWritten) {
    for (const char* bad : {"", "-1", "+5", "12a", "4294967296", "1 2", "0x10"}) {
        SCOPED_TRACE(bad);
        tagComPortParam param;
        const tagComPortParam before = param;
        CKemPortCom port;
        ScriptedDialogs dialogs;
        dialogs.answers.push_back(DialogAnswer::kOk);
        CDlgComAdvancedSettings dialog(nullptr, param, port, &dialogs);
        Type(dialog, {"1", "2", "3", bad, "5"});
        Button(dialog, 1)->click();
        ASSERT_EQ(dialogs.shown.size(), 1u);
        EXPECT_EQ(dialogs.shown[0].text, u"Please enter a positive integer.");
        EXPECT_EQ(dialogs.shown[0].buttons, DialogButtons::kOk);
        EXPECT_EQ(dialog.result(), QDialog::Rejected) << "closed despite a bad number";
        EXPECT_EQ(Timeouts(param), Timeouts(before));
        // The other boxes keep what was typed; fixing the bad one lets OK through.
        EXPECT_EQ(Box(dialog, 1020)->text(), QStringLiteral("1"));
        EXPECT_EQ(Box(dialog, 1023)->selectedText(), Box(dialog, 1023)->text());
        Box(dialog, 1023)->setText(QStringLiteral("4"));
        Button(dialog, 1)->click();
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
        EXPECT_EQ(Timeouts(param), (std::array<uint32_t, 5>{1, 2, 3, 4, 5}));
    }
}

TEST_F(ComAdvancedDialogTest, ParseTimeoutAcceptsOnlyUnsignedDecimal) {
    EXPECT_EQ(CDlgComAdvancedSettings::ParseTimeout(QStringLiteral("0")), 0u);
    EXPECT_EQ(CDlgComAdvancedSettings::ParseTimeout(QStringLiteral("007")), 7u);
    EXPECT_EQ(CDlgComAdvancedSettings::ParseTimeout(QStringLiteral("4294967295")), 4294967295u);
    EXPECT_EQ(CDlgComAdvancedSettings::ParseTimeout(QStringLiteral("99999999999999999999")),
              std::nullopt);
    EXPECT_EQ(CDlgComAdvancedSettings::ParseTimeout(QStringLiteral("１２")), std::nullopt);
    EXPECT_EQ(CDlgComAdvancedSettings::ParseTimeout(QStringLiteral(" ")), std::nullopt);
}

TEST_F(ComAdvancedDialogTest, IgnoreSwitchActsAtOnceAndCancelKeepsIt) {
    tagComPortParam param;
    CKemPortCom port;
    CDlgComAdvancedSettings dialog(nullptr, param, port, &dialogs_);
    ASSERT_FALSE(Check(dialog, 1064)->isChecked());
    Check(dialog, 1064)->click();
    EXPECT_EQ(port.m_bIgnoreRxChar, 1);
    EXPECT_EQ(g_AppConfig.IgnoreComRXCHAR, 1);
    Button(dialog, 2)->click();
    EXPECT_EQ(port.m_bIgnoreRxChar, 1);
    EXPECT_EQ(g_AppConfig.IgnoreComRXCHAR, 1);

    CDlgComAdvancedSettings again(nullptr, param, port, &dialogs_);
    EXPECT_TRUE(Check(again, 1064)->isChecked());
    Check(again, 1064)->click();
    EXPECT_EQ(port.m_bIgnoreRxChar, 0);
    EXPECT_EQ(g_AppConfig.IgnoreComRXCHAR, 0);
}

TEST_F(ComAdvancedDialogTest, DtrOnAClosedPortIsStoredForTheNextOpen) {
    tagComPortParam param;
    CKemPortCom port;
    port.SetDtr(0);
    CDlgComAdvancedSettings dialog(nullptr, param, port, &dialogs_);
    ASSERT_FALSE(Check(dialog, 1047)->isChecked());
    Check(dialog, 1047)->click();
    EXPECT_EQ(port.m_bDtrEnable, 1);
    EXPECT_EQ(port.GetDtr(), 1);
    EXPECT_TRUE(Check(dialog, 1047)->isChecked());
}

TEST_F(ComAdvancedDialogTest, DtrIsAppliedToTheOpenPortBeforeOkOrCancel) {
    PtyPair pty;
    IgnoringSink sink;
    LinkSession session(sink);
    ASSERT_EQ(session.Open(LinkType::kSerial, pty.path16(), u"9600,N,8,1").opened,
              LinkType::kSerial);
    CKemPortCom& port = session.serial();
    const bool initial = port.GetDtr() != 0;

    CDlgComAdvancedSettings dialog(nullptr, session.com_param(), port, &dialogs_);
    QCheckBox* dtr = Check(dialog, 1047);
    ASSERT_EQ(dtr->isChecked(), initial);
    dtr->click();
    // A pty has no modem lines: the channel takes the request as given and reports it.
    EXPECT_EQ(port.GetDtr() != 0, !initial);
    EXPECT_EQ(dtr->isChecked(), port.GetDtr() != 0);
    ASSERT_NE(port.device(), nullptr);
    EXPECT_EQ(port.device()->requested().dtr_enable, !initial);
    int lines = 0;
    if (ioctl(pty.slave(), TIOCMGET, &lines) == 0) {
        // Where the line can be read back it must match.
        EXPECT_EQ((lines & TIOCM_DTR) != 0, !initial);
    }

    Button(dialog, 2)->click();
    EXPECT_EQ(port.GetDtr() != 0, !initial) << "cancel undid DTR";
    EXPECT_EQ(session.serial().IsOpen(), 1);
}

TEST_F(ComAdvancedDialogTest, TimeoutsReachTheOpenChannelThroughApplyComParam) {
    PtyPair pty;
    IgnoringSink sink;
    LinkSession session(sink);
    ASSERT_EQ(session.Open(LinkType::kSerial, pty.path16(), u"115200,N,8,1").opened,
              LinkType::kSerial);
    ASSERT_EQ(session.serial().param().ReadIntervalTimeout, 0xFFFFFFFFu);

    CDlgComAdvancedSettings dialog(nullptr, session.com_param(), session.serial(), &dialogs_);
    Type(dialog, {"15", "2", "100", "3", "500"});
    QTimer::singleShot(0, &dialog, [&] { Button(dialog, 1)->click(); });
    ASSERT_EQ(dialog.exec(), QDialog::Accepted);
    // Not yet in the channel: the owner applies the record after OK.
    EXPECT_EQ(session.serial().param().ReadIntervalTimeout, 0xFFFFFFFFu);

    const ApplyParamOutcome outcome = session.ApplyComParam();
    EXPECT_TRUE(outcome.reopened);
    EXPECT_FALSE(outcome.failed);
    EXPECT_EQ(session.serial().IsOpen(), 1);
    const std::array<uint32_t, 5> expected{15, 2, 100, 3, 500};
    EXPECT_EQ(Timeouts(session.serial().param()), expected);
    EXPECT_EQ(session.serial().param().dwBaudRate, 115200u);

    // The reopened port still carries traffic.
    const uint8_t hello[] = {'o', 'k'};
    EXPECT_EQ(session.Send(hello, sizeof hello), LinkSession::SendResult::kSent);
    std::vector<uint8_t> got;
    pty.ReadMaster(got, 2, 3000);
    EXPECT_EQ(got, (std::vector<uint8_t>{'o', 'k'}));
}

TEST_F(ComAdvancedDialogTest, TimeoutsChangedWhileClosedAreUsedByTheNextOpen) {
    PtyPair pty;
    IgnoringSink sink;
    LinkSession session(sink);
    CDlgComAdvancedSettings dialog(nullptr, session.com_param(), session.serial(), &dialogs_);
    Type(dialog, {"7", "0", "0", "0", "0"});
    Button(dialog, 1)->click();
    ASSERT_EQ(dialog.result(), QDialog::Accepted);
    const ApplyParamOutcome outcome = session.ApplyComParam();
    EXPECT_FALSE(outcome.reopened);
    EXPECT_EQ(session.serial().IsOpen(), 0);
    EXPECT_EQ(session.serial().param().ReadIntervalTimeout, 7u);

    ASSERT_EQ(session.Open(LinkType::kSerial, pty.path16(), u"9600,N,8,1").opened,
              LinkType::kSerial);
    EXPECT_EQ(session.serial().param().ReadIntervalTimeout, 7u);
}

}  // namespace
