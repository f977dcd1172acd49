#include "ui/time_stamp_dialog.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <iterator>
#include <string>

#include "qt_app.h"
#include "settings/app_config.h"

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
    }

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
                             "SS秒\n%s - sss毫秒"));
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

TEST_F(TimeStampDialogTest, ExecReturnsAcceptedAfterOk) {
    CDlgTimeStampFormat dialog(nullptr);
    QTimer::singleShot(0, &dialog, [&] {
        Edit(dialog)->setText(QStringLiteral("%d"));
        Button(dialog, 1)->click();
    });
    EXPECT_EQ(dialog.exec(), QDialog::Accepted);
    EXPECT_EQ(StoredTemplate(), u"%d");
}

}  // namespace
