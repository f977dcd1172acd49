// The auxiliary windows as the main window uses them, on an open pseudo-terminal: a colour
// chosen in the style dialog redraws the display, a ticked row of the ASCII table shows that
// byte by name, a custom entry goes out on the port by its key, and time-outs confirmed in the
// advanced dialog change how the open port reads.
#include <termios.h>

#include <QApplication>
#include <QTimer>
#include <QTreeWidgetItem>

#include <chrono>
#include <thread>

#include "gui/main_window_support.h"
#include "ui/ascii_list_dialog.h"
#include "ui/com_advanced_dialog.h"
#include "ui/custom_entry_dialog.h"
#include "ui/font_colour_dialog.h"
#include "ui/kem_edit_ctrl.h"
#include "ui/kem_list_ctrl.h"

namespace {

using kem::testing::PtyPair;

class MainWindowWindowsTest : public MainWindowTest {
protected:
    void SetUp() override {
        MainWindowTest::SetUp();
        SetField(g_AppConfig.ComPortName, pty_.path16());
        MakeWindow();
        Click(ids::kOpen);
        ASSERT_TRUE(window().link().IsOpen());
    }

    PtyPair pty_;
};

TEST_F(MainWindowWindowsTest, ColourChosenInTheStyleDialogRedrawsTheDisplay) {
    ReceiveFrom(pty_, "MMMM####WWWW");
    const QRgb purple = qRgb(128, 0, 128);
    const QRgb green = qRgb(0, 160, 0);
    ASSERT_GT(PixelsNear(GrabDisplay(), purple), 20);
    EXPECT_EQ(PixelsNear(GrabDisplay(), green), 0);

    // The chooser answers green (0x00BBGGRR) for the received text; the dialog is left with OK.
    dialogs_.colour = 0x00A000;
    QTimer::singleShot(0, [] {
        QWidget* dialog = QApplication::activeModalWidget();
        ASSERT_NE(dialog, nullptr);
        const QString colour_button = QString::number(CDlgFontColorSetup::kColourButtonIds[0]);
        dialog->findChild<QAbstractButton*>(colour_button)->click();
        dialog->findChild<QAbstractButton*>(QStringLiteral("1"))->click();
    });
    window().ExecuteCommand(ids::kFontColour);

    const QImage redrawn = GrabDisplay();
    EXPECT_GT(PixelsNear(redrawn, green), 20);
    EXPECT_EQ(PixelsNear(redrawn, purple), 0);
    EXPECT_EQ(window().display().Styles()[0].colour, 0x00A000u);
}

TEST_F(MainWindowWindowsTest, TickingARowOfTheAsciiTableShowsThatByteByName) {
    ReceiveFrom(pty_, "A\nB");
    EXPECT_EQ(DisplayText(), u"A\nB");

    window().ExecuteCommand(ids::kAsciiTable);
    auto* table = window().findChild<CDlgASCIIList*>();
    ASSERT_NE(table, nullptr);
    ASSERT_TRUE(table->isVisible());
    QTreeWidgetItem* lf = table->list()->topLevelItem(0x0A);
    ASSERT_NE(lf, nullptr);
    lf->setCheckState(0, Qt::Checked);
    EXPECT_EQ(DisplayText(), u"A[LF]B");

    lf->setCheckState(0, Qt::Unchecked);
    EXPECT_EQ(DisplayText(), u"A\nB");
    // A second use shows the same window again.
    window().ExecuteCommand(ids::kAsciiTable);
    EXPECT_EQ(window().findChildren<CDlgASCIIList*>().size(), 1);
}

TEST_F(MainWindowWindowsTest, CustomEntrySentByItsKeyGoesOutOnThePort) {
    window().ExecuteCommand(ids::kCustomEntries);
    auto* entries = window().findChild<CDlgCustomEntry*>();
    ASSERT_NE(entries, nullptr);
    CKemEditCtrl* box = entries->entryBox(1);
    ASSERT_NE(box, nullptr);
    box->setPlainText(QStringLiteral("PING[CR]"));
    box->setFocus();
    QTest::keyClick(box, Qt::Key_Return);

    // Names are decoded and the entry already ends in CR, so no line end is added.
    EXPECT_EQ(PtyGot(pty_, 5), "PING\r");
    EXPECT_EQ(Queued(false), "PING\r");

    // The entry is kept in the settings when the window ends.
    DestroyWindow();
    EXPECT_EQ(std::u16string(g_AppConfig.CustomEntries.EntriesData[0]), u"PING[CR]");
}

TEST_F(MainWindowWindowsTest, AdvancedTimeoutsReachTheOpenPortAndJoinCloseBytes) {
    // The time-outs are the channel's own, not the terminal's: the port is reopened with them
    // and its line settings stay as they were.
    const char* typed[] = {"300", "0", "0", "0", "2000"};
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        for (size_t i = 0; i < CDlgComAdvancedSettings::kTimeoutIds.size(); ++i) {
            dialog->findChild<QLineEdit*>(QString::number(CDlgComAdvancedSettings::kTimeoutIds[i]))
                ->setText(QLatin1String(typed[i]));
        }
        dialog->findChild<QAbstractButton*>(QStringLiteral("1"))->click();
    });
    Click(ids::kAdvanced);
    ASSERT_TRUE(window().link().IsOpen());
    const tagComPortParam& param = window().link().serial().param();
    EXPECT_EQ(param.ReadIntervalTimeout, 300u);
    EXPECT_EQ(param.WriteTotalTimeoutConstant, 2000u);
    termios line{};
    ASSERT_EQ(tcgetattr(pty_.slave(), &line), 0);
    EXPECT_EQ(cfgetispeed(&line), static_cast<speed_t>(B9600));
    EXPECT_EQ(line.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_TRUE(dialogs_.shown.empty());

    // Bytes 5 ms apart fall within the interval: one read, one record. A few tries keep a
    // loaded machine from deciding the outcome.
    bool joined = false;
    for (int attempt = 0; attempt < 3 && !joined; ++attempt) {
        size_t before = 0;
        Queued(true, &before);
        const uint32_t rx = window().traffic().RxCount();
        ASSERT_EQ(pty_.WriteMaster(std::string("ab")), 2u);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        ASSERT_EQ(pty_.WriteMaster(std::string("cd")), 2u);
        ASSERT_TRUE(Wait([&] {
            window().DrainNow();
            return window().traffic().RxCount() >= rx + 4;
        }));
        size_t records = 0;
        EXPECT_TRUE(Queued(true, &records).ends_with("abcd"));
        joined = records == before + 1;
    }
    EXPECT_TRUE(joined);
}

}  // namespace
