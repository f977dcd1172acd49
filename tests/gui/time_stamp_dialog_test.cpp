// The time stamp dialog: its help, the preview, the template and frame gap stored on OK only
// (cut, checked), and in the main window a gap chosen there framing a TCP peer's bursts.
#include "ui/time_stamp_dialog.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QTimer>

#include "channels/net_test_support.h"
#include "gui/main_window_support.h"

namespace {

kem::platform::LocalTime FixedTime() {
    kem::platform::LocalTime time;
    time.year = 2026;
    time.month = 3;
    time.day = 4;
    time.hour = 5;
    time.minute = 6;
    time.second = 7;
    time.millisecond = 89;
    return time;
}

std::u16string StoredTemplate() {
    return std::u16string(g_AppConfig.TimeStampFormat);
}

template <typename T>
T* Child(QWidget& dialog, const QString& name) {
    auto* child = dialog.findChild<T*>(name);
    EXPECT_NE(child, nullptr) << name.toStdString();
    return child;
}
QLineEdit* Edit(QWidget& dialog) {
    return Child<QLineEdit>(dialog, QStringLiteral("1056"));
}
QLineEdit* Gap(QWidget& dialog) {
    return Child<QLineEdit>(dialog, QLatin1String(CDlgTimeStampFormat::kFrameGapName));
}
void Press(QWidget& dialog, int id) {
    Child<QPushButton>(dialog, QString::number(id))->click();
}

// The dialog's own tests run with the window fixture too: it resets both settings records.
using TimeStampDialogTest = MainWindowTest;

TEST_F(TimeStampDialogTest, HelpAndPreviewFollowTheTextAndOnlyOkStores) {
    CDlgTimeStampFormat dialog(nullptr);
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("时间戳设置"));
    EXPECT_EQ(Child<QLabel>(dialog, QStringLiteral("help"))->text(),
              QStringLiteral("%Y - yyyy年\t%m - mm月\t%d - dd日\n%H - HH时\t%M - MM分\t%S - "
                             "SS秒\n%s - sss毫秒\n%q - +S.mmm 距上一条的秒数"));
    dialog.SetClock(&FixedTime);
    const struct {
        const char* typed;
        const char* preview;
    } rows[] = {{"[%H:%M:%S.%s]", "[05:06:07.089]"},
                {"%Y-%m-%d %s", "2026-03-04 089"},
                {"100%% <%H>", "100% <05>"},
                {"%S %q %%q", "07 +0.000 %q"},  // the elapsed time previews as zero
                {"", ""}};
    for (const auto& row : rows) {
        Edit(dialog)->setText(QString::fromUtf8(row.typed));
        EXPECT_EQ(Child<QLabel>(dialog, QStringLiteral("preview"))->text(),
                  QString::fromUtf8(row.preview));
    }
    EXPECT_EQ(StoredTemplate(), u"[%H:%M:%S.%s]") << "typing is not storing";
    Edit(dialog)->setText(QStringLiteral("%H"));
    Press(dialog, 2);
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_EQ(StoredTemplate(), u"[%H:%M:%S.%s]");

    for (const QString& text : {QStringLiteral("<%M分%S秒>"), QString()}) {
        CDlgTimeStampFormat again(nullptr);
        Edit(again)->setText(text);
        Press(again, 1);
        EXPECT_EQ(again.result(), QDialog::Accepted);
        EXPECT_EQ(StoredTemplate(), text.toStdU16String());
    }
}

TEST_F(TimeStampDialogTest, LongTemplateIsCutTo63UnitsNeverSplittingASurrogatePair) {
    // 62 units, then U+1F600 (two units) at units 62 and 63: the pair is dropped whole.
    const std::u16string split = std::u16string(62, u'a') + u"\U0001F600tail";
    const std::u16string fits = std::u16string(61, u'a') + u"\U0001F600";
    const struct {
        std::u16string typed, stored;
    } rows[] = {{std::u16string(100, u'x'), std::u16string(63, u'x')},
                {split, std::u16string(62, u'a')},
                {fits + u"zz", fits}};
    for (const auto& row : rows) {
        CDlgTimeStampFormat dialog(nullptr);
        Edit(dialog)->setText(QString::fromStdU16String(row.typed));
        Press(dialog, 1);
        EXPECT_EQ(StoredTemplate(), row.stored);
        EXPECT_EQ(g_AppConfig.TimeStampFormat[63], u'\0');
    }
}

TEST_F(TimeStampDialogTest, FrameGapIsShownCheckedAndStoredOnOkOnly) {
    g_AppConfigExt.FrameGap = -7;  // a negative stored gap shows as zero
    {
        CDlgTimeStampFormat dialog(nullptr);
        EXPECT_EQ(Gap(dialog)->text(), QStringLiteral("0"));
        Gap(dialog)->setText(QStringLiteral("9"));
        Press(dialog, 2);
        EXPECT_EQ(g_AppConfigExt.FrameGap, -7);
    }
    g_AppConfigExt.FrameGap = 35;
    CDlgTimeStampFormat dialog(nullptr);
    dialog.show();
    EXPECT_EQ(Gap(dialog)->text(), QStringLiteral("35"));
    auto* error = Child<QLabel>(dialog, QLatin1String(CDlgTimeStampFormat::kFrameGapErrorName));
    EXPECT_FALSE(error->isVisible());
    // Typed keys other than digits never reach the box.
    Gap(dialog)->clear();
    QTest::keyClicks(Gap(dialog), QStringLiteral("-1x2"));
    EXPECT_EQ(Gap(dialog)->text(), QStringLiteral("12"));
    Edit(dialog)->setText(QStringLiteral("%q"));
    for (const char* bad :
         {"", "-5", "1.5", "abc", "2147483648", "99999999999", " 7", "3 ", "+3", "３"}) {
        SCOPED_TRACE(bad);
        Gap(dialog)->setText(QString::fromUtf8(bad));
        Press(dialog, 1);
        EXPECT_TRUE(dialog.isVisible());
        EXPECT_TRUE(error->isVisible());
        EXPECT_FALSE(error->text().isEmpty());
        EXPECT_EQ(g_AppConfigExt.FrameGap, 35);
        EXPECT_EQ(StoredTemplate(), u"[%H:%M:%S.%s]") << "nothing is stored on a refusal";
    }
    Gap(dialog)->setText(QStringLiteral("2147483647"));
    Press(dialog, 1);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(g_AppConfigExt.FrameGap, 2147483647);
    EXPECT_EQ(StoredTemplate(), u"%q");
    CDlgTimeStampFormat again(nullptr);
    Gap(again)->setText(QStringLiteral("007"));
    Press(again, 1);
    EXPECT_EQ(g_AppConfigExt.FrameGap, 7);
}

// Answers the modal time stamp dialog, once it is up, with `gap` and maybe a template.
void AnswerDialog(const QString& gap, const QString& stamp = QString()) {
    QTimer::singleShot(0, [=] {
        QWidget* dialog = QApplication::activeModalWidget();
        ASSERT_NE(dialog, nullptr);
        if (!stamp.isEmpty()) {
            Edit(*dialog)->setText(stamp);
        }
        Gap(*dialog)->selectAll();
        QTest::keyClicks(Gap(*dialog), gap);
        Press(*dialog, 1);
    });
}

TEST_F(TimeStampDialogTest, GapFromTheDialogFramesATcpPeersBurstsInTheWindow) {
    kem::testing::TestListener listener;
    UseClient(listener.port());
    g_AppConfig.MergeCoutinue = 1;
    g_AppConfig.ExtNewLine = 1;
    g_AppConfig.TimeStamp = 1;
    MakeWindow();
    AnswerDialog(QStringLiteral("400"), QStringLiteral("<%q>"));
    window().ExecuteCommand(ids::kTimeStampFormat);
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
    Pump(1200);
    ASSERT_TRUE(peer.SendAll("CC"));
    ASSERT_TRUE(WaitDisplayHas(u"CC"));
    size_t records = 0;
    EXPECT_EQ(Queued(true, &records), "AABBCC");
    EXPECT_GE(records, 3u);
    const QString shown = QString::fromStdU16String(DisplayText());
    const QRegularExpressionMatch match =
        QRegularExpression(QStringLiteral("^<\\+0\\.000>AABB\\n<\\+(\\d+)\\.(\\d{3})>CC$"))
            .match(shown);
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
    AnswerDialog(QStringLiteral("0"));
    window().ExecuteCommand(ids::kTimeStampFormat);
    EXPECT_EQ(g_AppConfigExt.FrameGap, 0);
    Click(ids::kShowHex);
    Click(ids::kShowHex);
    EXPECT_EQ(DisplayText(), u"<+0.000>AABBCC");
}

}  // namespace
