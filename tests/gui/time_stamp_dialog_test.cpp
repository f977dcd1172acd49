#include "ui/time_stamp_dialog.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <iterator>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "channels/net_test_support.h"
#include "gui/main_window_support.h"
#include "qt_app.h"
#include "settings/app_config.h"
#include "settings/app_config_ext.h"
#include "ui/save_to_file_option.h"

namespace {

using kem::testing::EnsureQtApp;

kem::platform::LocalTime FixedTime() {
    kem::platform::LocalTime time;
    time.year = 2026;
    time.month = 3;
    time.day = 4;
    time.hour = 5;
    time.minute = 6;
    time.second = 7;
    time.millisecond = 89;
    time.day_of_week = 3;
    return time;
}

std::u16string StoredTemplate() {
    return std::u16string(g_AppConfig.TimeStampFormat);
}

void StoreTemplate(const std::u16string& text) {
    std::fill(std::begin(g_AppConfig.TimeStampFormat), std::end(g_AppConfig.TimeStampFormat), 0);
    std::copy(text.begin(), text.end(), g_AppConfig.TimeStampFormat);
}

class TimeStampDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureQtApp();
        g_AppConfig = DefaultAppConfig();
        g_AppConfigExt = DefaultAppConfigExt();
    }
    void TearDown() override { g_AppConfigExt = DefaultAppConfigExt(); }

    static QLineEdit* Edit(QDialog& dialog) {
        auto* edit = dialog.findChild<QLineEdit*>(QStringLiteral("1056"));
        EXPECT_NE(edit, nullptr);
        return edit;
    }
    static QLabel* Preview(QDialog& dialog) {
        auto* label = dialog.findChild<QLabel*>(QStringLiteral("preview"));
        EXPECT_NE(label, nullptr);
        return label;
    }
    static QPushButton* Button(QDialog& dialog, int id) {
        auto* button = dialog.findChild<QPushButton*>(QString::number(id));
        EXPECT_NE(button, nullptr);
        return button;
    }
};

TEST_F(TimeStampDialogTest, ShowsTheStoredTemplateAndHelp) {
    CDlgTimeStampFormat dialog(nullptr);
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("时间戳设置"));
    EXPECT_EQ(Edit(dialog)->text(), QStringLiteral("[%H:%M:%S.%s]"));
    const auto* help = dialog.findChild<QLabel*>(QStringLiteral("help"));
    ASSERT_NE(help, nullptr);
    EXPECT_EQ(help->text(),
              QStringLiteral("%Y - yyyy年\t%m - mm月\t%d - dd日\n%H - HH时\t%M - MM分\t%S - "
                             "SS秒\n%s - sss毫秒\n%q - +S.mmm 距上一条的秒数"));
    EXPECT_EQ(Button(dialog, 1)->text(), QStringLiteral("确定"));
    EXPECT_EQ(Button(dialog, 2)->text(), QStringLiteral("取消"));
}

TEST_F(TimeStampDialogTest, PreviewFollowsTheText) {
    CDlgTimeStampFormat dialog(nullptr);
    dialog.SetClock(&FixedTime);
    EXPECT_EQ(Preview(dialog)->text(), QStringLiteral("[05:06:07.089]"));
    Edit(dialog)->setText(QStringLiteral("%Y-%m-%d %s"));
    EXPECT_EQ(Preview(dialog)->text(), QStringLiteral("2026-03-04 089"));
    Edit(dialog)->setText(QStringLiteral("100%% <%H>"));
    EXPECT_EQ(Preview(dialog)->text(), QStringLiteral("100% <05>"));
    Edit(dialog)->clear();
    EXPECT_EQ(Preview(dialog)->text(), QString());
    // Typing is not storing.
    EXPECT_EQ(StoredTemplate(), u"[%H:%M:%S.%s]");
}

TEST_F(TimeStampDialogTest, PreviewUsesTheRealClockByDefault) {
    CDlgTimeStampFormat dialog(nullptr);
    Edit(dialog)->setText(QStringLiteral("%Y"));
    const int year = Preview(dialog)->text().toInt();
    const int now = kem::platform::NowLocal().year;
    EXPECT_TRUE(year == now || year + 1 == now) << year;
}

TEST_F(TimeStampDialogTest, OkStoresTheText) {
    CDlgTimeStampFormat dialog(nullptr);
    Edit(dialog)->setText(QStringLiteral("<%M分%S秒>"));
    Button(dialog, 1)->click();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(StoredTemplate(), u"<%M分%S秒>");
}

TEST_F(TimeStampDialogTest, CancelStoresNothing) {
    CDlgTimeStampFormat dialog(nullptr);
    Edit(dialog)->setText(QStringLiteral("%H"));
    Button(dialog, 2)->click();
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_EQ(StoredTemplate(), u"[%H:%M:%S.%s]");
}

TEST_F(TimeStampDialogTest, UnchangedAndEmptyTemplatesAreStored) {
    StoreTemplate(u"%S");
    {
        CDlgTimeStampFormat dialog(nullptr);
        Button(dialog, 1)->click();
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
        EXPECT_EQ(StoredTemplate(), u"%S");
    }
    CDlgTimeStampFormat dialog(nullptr);
    Edit(dialog)->clear();
    Button(dialog, 1)->click();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(StoredTemplate(), u"");
}

TEST_F(TimeStampDialogTest, LongTemplateIsCutTo63Units) {
    CDlgTimeStampFormat dialog(nullptr);
    Edit(dialog)->setText(QString(100, QChar(u'x')));
    Button(dialog, 1)->click();
    EXPECT_EQ(StoredTemplate(), std::u16string(63, u'x'));
    EXPECT_EQ(g_AppConfig.TimeStampFormat[63], u'\0');
}

TEST_F(TimeStampDialogTest, CutNeverSplitsASurrogatePair) {
    // 62 units, then U+1F600 (two units) at units 62 and 63: the pair is dropped whole.
    std::u16string text(62, u'a');
    text += u"\U0001F600";
    text += u"tail";
    EXPECT_EQ(CDlgTimeStampFormat::CutTemplate(text), std::u16string(62, u'a'));
    // One unit earlier the pair fits exactly.
    std::u16string fits(61, u'a');
    fits += u"\U0001F600";
    EXPECT_EQ(CDlgTimeStampFormat::CutTemplate(fits + u"zz"), fits);
    EXPECT_EQ(CDlgTimeStampFormat::CutTemplate(u"short"), u"short");

    CDlgTimeStampFormat dialog(nullptr);
    Edit(dialog)->setText(QString::fromStdU16String(text));
    Button(dialog, 1)->click();
    EXPECT_EQ(StoredTemplate(), std::u16string(62, u'a'));
}

TEST_F(TimeStampDialogTest, FrameGapBoxShowsAndStoresTheSetting) {
    g_AppConfigExt.FrameGap = 35;
    CDlgTimeStampFormat dialog(nullptr);
    auto* gap = dialog.findChild<QLineEdit*>(QLatin1String(CDlgTimeStampFormat::kFrameGapName));
    ASSERT_NE(gap, nullptr);
    EXPECT_EQ(gap->text(), QStringLiteral("35"));
    gap->setText(QStringLiteral("250"));
    EXPECT_EQ(g_AppConfigExt.FrameGap, 35) << "typing is not storing";
    Button(dialog, 1)->click();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(g_AppConfigExt.FrameGap, 250);
}

TEST_F(TimeStampDialogTest, FrameGapCancelStoresNothingAndANegativeStoredGapShowsAsZero) {
    g_AppConfigExt.FrameGap = -7;
    CDlgTimeStampFormat dialog(nullptr);
    auto* gap = dialog.findChild<QLineEdit*>(QLatin1String(CDlgTimeStampFormat::kFrameGapName));
    ASSERT_NE(gap, nullptr);
    EXPECT_EQ(gap->text(), QStringLiteral("0"));
    gap->setText(QStringLiteral("9"));
    Button(dialog, 2)->click();
    EXPECT_EQ(g_AppConfigExt.FrameGap, -7);
}

TEST_F(TimeStampDialogTest, BadFrameGapIsRefusedAndTheDialogStaysOpen) {
    CDlgTimeStampFormat dialog(nullptr);
    dialog.show();
    auto* gap = dialog.findChild<QLineEdit*>(QLatin1String(CDlgTimeStampFormat::kFrameGapName));
    auto* error = dialog.findChild<QLabel*>(QLatin1String(CDlgTimeStampFormat::kFrameGapErrorName));
    ASSERT_NE(gap, nullptr);
    ASSERT_NE(error, nullptr);
    EXPECT_FALSE(error->isVisible());
    // Typed keys other than digits never reach the box.
    gap->clear();
    QTest::keyClicks(gap, QStringLiteral("-1x2"));
    EXPECT_EQ(gap->text(), QStringLiteral("12"));
    Edit(dialog)->setText(QStringLiteral("%q"));
    for (const QString& bad :
         {QStringLiteral(""), QStringLiteral("-5"), QStringLiteral("1.5"), QStringLiteral("abc"),
          QStringLiteral("2147483648"), QStringLiteral(" 7")}) {
        gap->setText(bad);
        EXPECT_FALSE(error->isVisible());
        Button(dialog, 1)->click();
        EXPECT_TRUE(dialog.isVisible()) << bad.toStdString();
        EXPECT_TRUE(error->isVisible()) << bad.toStdString();
        EXPECT_FALSE(error->text().isEmpty());
        EXPECT_EQ(g_AppConfigExt.FrameGap, 0) << bad.toStdString();
        EXPECT_EQ(StoredTemplate(), u"[%H:%M:%S.%s]") << "nothing is stored on a refusal";
    }
    gap->setText(QStringLiteral("2147483647"));
    Button(dialog, 1)->click();
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(g_AppConfigExt.FrameGap, 2147483647);
    EXPECT_EQ(StoredTemplate(), u"%q");
}

TEST_F(TimeStampDialogTest, ParseFrameGapTakesOnlyPlainDecimalNumbers) {
    EXPECT_EQ(CDlgTimeStampFormat::ParseFrameGap(u"0"), 0);
    EXPECT_EQ(CDlgTimeStampFormat::ParseFrameGap(u"007"), 7);
    EXPECT_EQ(CDlgTimeStampFormat::ParseFrameGap(u"2147483647"), 2147483647);
    EXPECT_EQ(CDlgTimeStampFormat::ParseFrameGap(u"2147483648"), std::nullopt);
    EXPECT_EQ(CDlgTimeStampFormat::ParseFrameGap(u"99999999999"), std::nullopt);
    EXPECT_EQ(CDlgTimeStampFormat::ParseFrameGap(u""), std::nullopt);
    EXPECT_EQ(CDlgTimeStampFormat::ParseFrameGap(u"+3"), std::nullopt);
    EXPECT_EQ(CDlgTimeStampFormat::ParseFrameGap(u"3 "), std::nullopt);
    EXPECT_EQ(CDlgTimeStampFormat::ParseFrameGap(u"\uFF13"), std::nullopt) << "a wide digit";
}

TEST_F(TimeStampDialogTest, PreviewShowsTheElapsedTokenAsZero) {
    CDlgTimeStampFormat dialog(nullptr);
    dialog.SetClock(&FixedTime);
    Edit(dialog)->setText(QStringLiteral("%S %q %%q"));
    EXPECT_EQ(Preview(dialog)->text(), QStringLiteral("07 +0.000 %q"));
}

TEST_F(TimeStampDialogTest, ExecReturnsAcceptedAfterOk) {
    CDlgTimeStampFormat dialog(nullptr);
    QTimer::singleShot(0, &dialog, [&] {
        Edit(dialog)->setText(QStringLiteral("%d"));
        Button(dialog, 1)->click();
    });
    EXPECT_EQ(dialog.exec(), QDialog::Accepted);
    EXPECT_EQ(StoredTemplate(), u"%d");
}

// ---- The all-traffic log of the log window ----

TEST_F(TimeStampDialogTest, LogWindowFramesTheAllTrafficLogWithTheStoredGap) {
    kem::testing::TempFolder folder;
    ScriptedDialogs dialogs;
    g_AppConfigExt.FrameGap = 50;
    CDlgSaveToFileOption log(nullptr, dialogs);
    auto text = [&](int id, const QString& value) {
        log.findChild<QLineEdit*>(QString::number(id))->setText(value);
    };
    auto check = [&](int id, bool on) {
        log.findChild<QAbstractButton*>(QString::number(id))->setChecked(on);
    };
    text(log_ids::kPath, QString::fromStdU16String(folder.path16()));
    text(log_ids::kTitle, QStringLiteral("t"));
    text(log_ids::kAllName, QStringLiteral("all.log"));
    check(log_ids::kSaveSend, false);
    check(log_ids::kSaveReceive, false);
    check(log_ids::kSaveAll, true);
    check(log_ids::kAllTimeStamp, false);
    check(log_ids::kAllMergeContinue, true);
    log.findChild<QPushButton*>(QString::number(log_ids::kStartStop))->click();
    ASSERT_TRUE(log.IsRecording());
    // 20 ms joins, 80 ms is past the gap; the sent block is an entry of its own.
    const std::vector<std::pair<std::string, int>> blocks = {
        {"a", 0}, {"b", 20}, {"c", 100}, {"d", 101}};
    for (const auto& [bytes, offset] : blocks) {
        tagComExchangeData record;
        record.direction = bytes == "d" ? 0 : 1;
        record.time = kem::platform::ToLocal(1773479103);
        record.time.millisecond = offset;
        record.data.assign(bytes.begin(), bytes.end());
        log.WriteTrafficBlock(record);
    }
    log.findChild<QPushButton*>(QString::number(log_ids::kStartStop))->click();
    ASSERT_FALSE(log.IsRecording());
    const std::string written = kem::testing::ReadBytes(folder.path() / "all.log");
    EXPECT_NE(written.find("]\r\n[R]ab[R]c[S]d\r\n[! \\StopTime"), std::string::npos) << written;
    EXPECT_TRUE(dialogs.shown.empty());
}

// ---- In the main window ----

using TimeStampDialogWindowTest = MainWindowTest;

TEST_F(TimeStampDialogWindowTest, GapFromTheDialogFramesATcpPeersBursts) {
    kem::testing::TestListener listener;
    const std::string port = std::to_string(listener.port());
    SetField(g_AppConfig.ComPortName, u"TCP/IP");
    SetField(g_AppConfig.NetPortParam, u"127.0.0.1:" + std::u16string(port.begin(), port.end()));
    g_AppConfig.MergeCoutinue = 1;
    g_AppConfig.ExtNewLine = 1;
    g_AppConfig.TimeStamp = 1;
    MakeWindow();

    // The user sets a template with the elapsed time and a gap of 400 ms, and presses OK.
    bool answered = false;
    QTimer::singleShot(0, [&] {
        QWidget* dialog = QApplication::activeModalWidget();
        ASSERT_NE(dialog, nullptr);
        dialog->findChild<QLineEdit*>(QStringLiteral("1056"))->setText(QStringLiteral("<%q>"));
        auto* gap =
            dialog->findChild<QLineEdit*>(QLatin1String(CDlgTimeStampFormat::kFrameGapName));
        ASSERT_NE(gap, nullptr);
        gap->selectAll();
        QTest::keyClicks(gap, QStringLiteral("400"));
        dialog->findChild<QPushButton*>(QStringLiteral("1"))->click();
        answered = true;
    });
    window().ExecuteCommand(ids::kTimeStampFormat);
    ASSERT_TRUE(answered);
    EXPECT_EQ(g_AppConfigExt.FrameGap, 400);
    EXPECT_EQ(StoredTemplate(), u"<%q>");

    Click(ids::kOpen);
    kem::testing::TestSocket peer = listener.Accept();
    ASSERT_TRUE(peer.valid());
    // A burst in two blocks, silence, and a second burst.
    ASSERT_TRUE(peer.SendAll("AA"));
    ASSERT_TRUE(Wait([&] { return Queued(true) == "AA"; }));
    ASSERT_TRUE(peer.SendAll("BB"));
    ASSERT_TRUE(Wait([&] { return Queued(true) == "AABB"; }));
    Wait([] { return false; }, 1200);
    ASSERT_TRUE(peer.SendAll("CC"));
    ASSERT_TRUE(Wait([&] { return DisplayText().find(u"CC") != std::u16string::npos; }));
    size_t records = 0;
    EXPECT_EQ(Queued(true, &records), "AABBCC");
    EXPECT_GE(records, 3u);

    const QString shown = QString::fromStdU16String(DisplayText());
    const QRegularExpression framed(
        QStringLiteral("^<\\+0\\.000>AABB\\n<\\+(\\d+)\\.(\\d{3})>CC$"));
    const QRegularExpressionMatch match = framed.match(shown);
    ASSERT_TRUE(match.hasMatch()) << shown.toStdString();
    const int elapsed_ms = match.captured(1).toInt() * 1000 + match.captured(2).toInt();
    EXPECT_GE(elapsed_ms, 1200);
    EXPECT_LT(elapsed_ms, 60000);

    // A re-render (HEX on and off again) frames exactly as the live display did.
    Click(ids::kShowHex);
    EXPECT_NE(QString::fromStdU16String(DisplayText()), shown);
    Click(ids::kShowHex);
    EXPECT_EQ(QString::fromStdU16String(DisplayText()), shown);

    // Gap 0 again: the re-rendered display joins the two bursts into one entry.
    QTimer::singleShot(0, [] {
        QWidget* dialog = QApplication::activeModalWidget();
        ASSERT_NE(dialog, nullptr);
        dialog->findChild<QLineEdit*>(QLatin1String(CDlgTimeStampFormat::kFrameGapName))
            ->setText(QStringLiteral("0"));
        dialog->findChild<QPushButton*>(QStringLiteral("1"))->click();
    });
    window().ExecuteCommand(ids::kTimeStampFormat);
    EXPECT_EQ(g_AppConfigExt.FrameGap, 0);
    Click(ids::kShowHex);
    Click(ids::kShowHex);
    EXPECT_EQ(DisplayText(), u"<+0.000>AABBCC");
}

}  // namespace
