// The font and colour dialog: captions, the working copy the choosers change, and what OK,
// Cancel and the defaults button leave in the caller's style table.
#include "ui/font_colour_dialog.h"

#include <QLabel>
#include <QPushButton>

#include "gui/main_window_support.h"

namespace {

class FontColourDialogTest : public MainWindowTest {
protected:
    static QPushButton* Button(QDialog& dialog, int id) {
        auto* button = dialog.findChild<QPushButton*>(QString::number(id));
        EXPECT_NE(button, nullptr) << "no control " << id;
        return button;
    }

    DisplayStyleTable styles_ = StartupDisplayStyles();
};

DisplayStyleFormat Courier() {
    DisplayStyleFormat font;
    font.colour = MakeDisplayColour(1, 2, 3);  // must not be taken from the font chooser
    font.face = u"Courier New";
    font.size_tenths = 95;
    font.bold = true;
    font.italic = true;
    return font;
}

TEST_F(FontColourDialogTest, ShowsTheTitleRowsAndFontCaptions) {
    styles_[4].face.clear();
    CDlgFontColorSetup dialog(nullptr, styles_, dialogs_);
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("字体&颜色设置"));
    for (int i = 0; i < kDisplayStyleCount; ++i) {
        ASSERT_NE(Button(dialog, CDlgFontColorSetup::kFontButtonIds[i]), nullptr);
        ASSERT_NE(Button(dialog, CDlgFontColorSetup::kColourButtonIds[i]), nullptr);
        EXPECT_EQ(Button(dialog, CDlgFontColorSetup::kFontButtonIds[i])->text(),
                  i == 4 ? QStringLiteral(" ...") : QStringLiteral("新宋体 ..."));
        EXPECT_EQ(Button(dialog, CDlgFontColorSetup::kColourButtonIds[i])->text(),
                  QStringLiteral("颜色"));
    }
    EXPECT_EQ(Button(dialog, 1016)->text(), QStringLiteral("默认值..."));
    QStringList labels;
    for (const QLabel* label : dialog.findChildren<QLabel*>()) {
        labels << label->text();
    }
    for (const QString& row :
         {QStringLiteral("普通字符:"), QStringLiteral("控制字符:"), QStringLiteral("时间戳:")}) {
        EXPECT_EQ(labels.count(row), 2) << row.toStdString();
    }
}

TEST_F(FontColourDialogTest, ChosenFontAndColourLandInTheirStyleOnOk) {
    const DisplayStyleTable before = styles_;
    CDlgFontColorSetup dialog(nullptr, styles_, dialogs_);
    // Sent control characters: font button 1023, starting from that style's font.
    dialogs_.font = Courier();
    Button(dialog, 1023)->click();
    ASSERT_EQ(dialogs_.font_requests.size(), 1u);
    EXPECT_EQ(dialogs_.font_requests[0], before[4]);
    EXPECT_EQ(Button(dialog, 1023)->text(), QStringLiteral("Courier New ..."));
    // Received time stamps: colour button 1026.
    dialogs_.colour = MakeDisplayColour(10, 200, 30);
    Button(dialog, 1026)->click();
    ASSERT_EQ(dialogs_.colour_requests.size(), 1u);
    EXPECT_EQ(dialogs_.colour_requests[0], before[2].colour);

    // The sample lines follow the working copy before OK; the caller's table does not.
    const auto* stamp = dialog.findChild<QLabel*>(QStringLiteral("sample2"));
    const auto* sent_control = dialog.findChild<QLabel*>(QStringLiteral("sample4"));
    ASSERT_TRUE(stamp && sent_control);
    EXPECT_EQ(stamp->palette().color(QPalette::WindowText), QColor(10, 200, 30));
    EXPECT_TRUE(sent_control->font().bold());
    EXPECT_TRUE(sent_control->font().italic());
    EXPECT_DOUBLE_EQ(sent_control->font().pointSizeF(), 9.5);
    EXPECT_TRUE(Button(dialog, 1026)->styleSheet().contains(QStringLiteral("#0ac81e")));
    EXPECT_EQ(styles_, before);

    Button(dialog, 1)->click();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    DisplayStyleTable expected = before;
    expected[4].face = u"Courier New";
    expected[4].size_tenths = 95;
    expected[4].bold = true;
    expected[4].italic = true;
    expected[2].colour = MakeDisplayColour(10, 200, 30);
    EXPECT_EQ(styles_, expected) << "a colour from the font chooser must not be taken";
}

TEST_F(FontColourDialogTest, CancelledChoosersCancelAndTheDefaultsButtonKeepOrRestore) {
    styles_[0].colour = MakeDisplayColour(1, 1, 1);
    styles_[3].face = u"Monospace";
    const DisplayStyleTable changed = styles_;
    {
        CDlgFontColorSetup dialog(nullptr, styles_, dialogs_);
        Button(dialog, 1017)->click();  // dialogs_.font and colour are empty: cancelled
        Button(dialog, 1018)->click();
        EXPECT_EQ(dialogs_.colour_requests.size(), 1u);
        EXPECT_EQ(dialog.working(), changed);
        dialogs_.font = Courier();
        Button(dialog, 1021)->click();
        EXPECT_EQ(dialog.working()[1].face, u"Courier New");
        Button(dialog, 1016)->click();
        EXPECT_EQ(dialog.working(), StartupDisplayStyles());
        EXPECT_EQ(Button(dialog, 1019)->text(), QStringLiteral("新宋体 ..."));
        Button(dialog, 2)->click();
        EXPECT_EQ(dialog.result(), QDialog::Rejected);
        EXPECT_EQ(styles_, changed);
    }
    CDlgFontColorSetup dialog(nullptr, styles_, dialogs_);
    Button(dialog, 1016)->click();
    Button(dialog, 1)->click();
    EXPECT_EQ(styles_, StartupDisplayStyles());
}

}  // namespace
