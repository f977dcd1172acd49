// The serial advanced settings dialog: its five time-outs checked and written on OK only, and
// the DTR and EV_RXCHAR switches that act at once, on a closed port and on an open pty.
#include "ui/com_advanced_dialog.h"

#include <sys/ioctl.h>

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>

#include <array>

#include "gui/main_window_support.h"
#include "terminal/link_session.h"

namespace {

using kem::testing::PtyPair;

// The session posts traffic and close events; these tests do not wait for any.
class IgnoringSink : public LinkEventSink {
public:
    void PostTrafficReady() override {}
    void PostClientAccepted() override {}
    void PostLinkClosed(int32_t, uint64_t) override {}
    void PostReconnectEvent(uint64_t) override {}
};

template <typename T>
T* Child(QDialog& dialog, int id) {
    auto* child = dialog.findChild<T*>(QString::number(id));
    EXPECT_NE(child, nullptr) << "no control " << id;
    return child;
}

void Type(QDialog& dialog, const std::array<const char*, 5>& texts) {
    for (size_t i = 0; i < texts.size(); ++i) {
        Child<QLineEdit>(dialog, CDlgComAdvancedSettings::kTimeoutIds[i])
            ->setText(QString::fromUtf8(texts[i]));
    }
}

std::array<uint32_t, 5> Timeouts(const tagComPortParam& param) {
    return {param.ReadIntervalTimeout, param.ReadTotalTimeoutMultiplier,
            param.ReadTotalTimeoutConstant, param.WriteTotalTimeoutMultiplier,
            param.WriteTotalTimeoutConstant};
}

using ComAdvancedDialogTest = MainWindowTest;  // for its settings reset and scripted dialogs

TEST_F(ComAdvancedDialogTest, ShowsTheRecordTheSwitchesAndTheirCaptions) {
    tagComPortParam param;
    param.ReadTotalTimeoutConstant = 250;
    CKemPortCom port;
    port.SetDtr(1);
    g_AppConfig.IgnoreComRXCHAR = 1;
    CDlgComAdvancedSettings dialog(nullptr, param, port, &dialogs_);
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("串口进阶设置"));
    const char* shown[] = {"4294967295", "0", "250", "0", "0"};
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(Child<QLineEdit>(dialog, CDlgComAdvancedSettings::kTimeoutIds[i])->text(),
                  QLatin1String(shown[i]));
    }
    EXPECT_EQ(Child<QCheckBox>(dialog, 1047)->text(), QStringLiteral("DTR"));
    EXPECT_TRUE(Child<QCheckBox>(dialog, 1047)->isChecked());
    EXPECT_EQ(Child<QCheckBox>(dialog, 1064)->text(), QStringLiteral("忽略EV_RXCHAR(高兼容性)"));
    EXPECT_TRUE(Child<QCheckBox>(dialog, 1064)->isChecked());
    EXPECT_EQ(Child<QPushButton>(dialog, 1)->text(), QStringLiteral("确定"));
    EXPECT_EQ(Child<QPushButton>(dialog, 2)->text(), QStringLiteral("取消"));
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

TEST_F(ComAdvancedDialogTest, TimeoutsReachTheRecordOnOkOnly) {
    tagComPortParam param;
    const tagComPortParam before = param;
    CKemPortCom port;
    {
        CDlgComAdvancedSettings dialog(nullptr, param, port, &dialogs_);
        Type(dialog, {"1", "2", "3", "4", "5"});
        Child<QPushButton>(dialog, 2)->click();
        EXPECT_EQ(dialog.result(), QDialog::Rejected);
        EXPECT_EQ(Timeouts(param), Timeouts(before));
    }
    CDlgComAdvancedSettings dialog(nullptr, param, port, &dialogs_);
    Type(dialog, {"10", " 20 ", "007", "40", "4294967295"});
    EXPECT_EQ(Timeouts(param), Timeouts(before)) << "written before OK";
    Child<QPushButton>(dialog, 1)->click();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(Timeouts(param), (std::array<uint32_t, 5>{10, 20, 7, 40, 4294967295u}));
    EXPECT_EQ(param.dwBaudRate, before.dwBaudRate);
    EXPECT_EQ(param.nFlowControl, before.nFlowControl);
    EXPECT_TRUE(dialogs_.shown.empty());
}

TEST_F(ComAdvancedDialogTest, BadNumberIsRefusedAndNothingIsWritten) {
    for (const char* bad : {"", " ", "-1", "+5", "12a", "4294967296", "99999999999999999999", "1 2",
                            "0x10", "１２"}) {
        SCOPED_TRACE(bad);
        tagComPortParam param;
        const tagComPortParam before = param;
        CKemPortCom port;
        ScriptedDialogs dialogs;
        dialogs.answers.push_back(DialogAnswer::kOk);
        CDlgComAdvancedSettings dialog(nullptr, param, port, &dialogs);
        Type(dialog, {"1", "2", "3", bad, "5"});
        Child<QPushButton>(dialog, 1)->click();
        ASSERT_EQ(dialogs.shown.size(), 1u);
        EXPECT_EQ(dialogs.shown[0].text, u"Please enter a positive integer.");
        EXPECT_EQ(dialogs.shown[0].buttons, DialogButtons::kOk);
        EXPECT_EQ(dialog.result(), QDialog::Rejected) << "closed despite a bad number";
        EXPECT_EQ(Timeouts(param), Timeouts(before));
        // The other boxes keep what was typed; fixing the bad one lets OK through.
        QLineEdit* box = Child<QLineEdit>(dialog, 1023);
        EXPECT_EQ(box->selectedText(), box->text());
        box->setText(QStringLiteral("4"));
        Child<QPushButton>(dialog, 1)->click();
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
        EXPECT_EQ(Timeouts(param), (std::array<uint32_t, 5>{1, 2, 3, 4, 5}));
    }
}

TEST_F(ComAdvancedDialogTest, SwitchesActAtOnceOnAClosedPortAndCancelKeepsThem) {
    tagComPortParam param;
    CKemPortCom port;
    port.SetDtr(0);
    CDlgComAdvancedSettings dialog(nullptr, param, port, &dialogs_);
    Child<QCheckBox>(dialog, 1064)->click();
    EXPECT_EQ(port.m_bIgnoreRxChar, 1);
    EXPECT_EQ(g_AppConfig.IgnoreComRXCHAR, 1);
    Child<QCheckBox>(dialog, 1047)->click();  // stored for the next open
    EXPECT_EQ(port.m_bDtrEnable, 1);
    EXPECT_EQ(port.GetDtr(), 1);
    Child<QPushButton>(dialog, 2)->click();
    EXPECT_EQ(port.m_bIgnoreRxChar, 1);
    EXPECT_EQ(port.GetDtr(), 1);

    CDlgComAdvancedSettings again(nullptr, param, port, &dialogs_);
    EXPECT_TRUE(Child<QCheckBox>(again, 1064)->isChecked());
    Child<QCheckBox>(again, 1064)->click();
    EXPECT_EQ(port.m_bIgnoreRxChar, 0);
    EXPECT_EQ(g_AppConfig.IgnoreComRXCHAR, 0);
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
    QCheckBox* dtr = Child<QCheckBox>(dialog, 1047);
    ASSERT_EQ(dtr->isChecked(), initial);
    dtr->click();
    // A pty has no modem lines: the channel takes the request as given and reports it.
    EXPECT_EQ(port.GetDtr() != 0, !initial);
    EXPECT_EQ(dtr->isChecked(), !initial);
    ASSERT_NE(port.device(), nullptr);
    EXPECT_EQ(port.device()->requested().dtr_enable, !initial);
    int lines = 0;
    if (ioctl(pty.slave(), TIOCMGET, &lines) == 0) {
        EXPECT_EQ((lines & TIOCM_DTR) != 0, !initial);  // where it can be read back
    }
    Child<QPushButton>(dialog, 2)->click();
    EXPECT_EQ(port.GetDtr() != 0, !initial) << "cancel undid DTR";
    EXPECT_EQ(session.serial().IsOpen(), 1);
}

TEST_F(ComAdvancedDialogTest, TimeoutsChangedWhileClosedAreUsedByTheNextOpen) {
    PtyPair pty;
    IgnoringSink sink;
    LinkSession session(sink);
    CDlgComAdvancedSettings dialog(nullptr, session.com_param(), session.serial(), &dialogs_);
    Type(dialog, {"7", "0", "0", "0", "0"});
    Child<QPushButton>(dialog, 1)->click();
    ASSERT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_FALSE(session.ApplyComParam().reopened);
    EXPECT_EQ(session.serial().IsOpen(), 0);
    ASSERT_EQ(session.Open(LinkType::kSerial, pty.path16(), u"9600,N,8,1").opened,
              LinkType::kSerial);
    EXPECT_EQ(session.serial().param().ReadIntervalTimeout, 7u);
}

}  // namespace
