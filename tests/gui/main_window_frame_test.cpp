// The main window's frame: the exit questions, Enter, names of the controls, the layout on
// resizing, and what the window takes from and gives back to the settings record.
#include <QGroupBox>
#include <QLabel>

#include "gui/main_window_support.h"

namespace {

using MainWindowFrameTest = MainWindowTest;

TEST_F(MainWindowFrameTest, ExitAsksAsAutoSaveAndTheWayOfClosingSay) {
    const std::u16string unsaved = u"当前配置将不会保存,确定要退出吗?";
    const std::u16string plain = u"确定要退出吗?";
    const struct {
        int auto_save;
        bool by_title_bar;
        std::vector<DialogAnswer> answers;
        std::u16string question;  // empty: no question
        bool closes;
    } rows[] = {
        {1, false, {}, u"", true},
        {0, false, {DialogAnswer::kYes}, unsaved, true},
        {0, false, {DialogAnswer::kNo}, unsaved, false},
        {1, true, {DialogAnswer::kYes}, plain, true},
        {1, true, {DialogAnswer::kNo}, plain, false},
        {0, true, {DialogAnswer::kYes}, plain, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << row.auto_save << row.by_title_bar << row.closes);
        g_AppConfig.System.AutoSave = row.auto_save;
        dialogs_.shown.clear();
        dialogs_.answers.assign(row.answers.begin(), row.answers.end());
        MakeWindow();
        row.by_title_bar ? static_cast<void>(window().close()) : Click(ids::kExit);
        QCoreApplication::processEvents();
        ASSERT_EQ(dialogs_.shown.size(), row.question.empty() ? 0u : 1u);
        if (!row.question.empty()) {
            EXPECT_EQ(dialogs_.shown[0].text, row.question);
            EXPECT_EQ(dialogs_.shown[0].caption, u"确认");
            EXPECT_EQ(dialogs_.shown[0].buttons, DialogButtons::kYesNo);
            EXPECT_EQ(dialogs_.shown[0].icon, DialogIcon::kQuestion);
        }
        EXPECT_EQ(window().isVisible(), !row.closes);
        DestroyWindow();
    }
}

TEST_F(MainWindowFrameTest, EnterClosesNothingAndEveryControlHasAnIdAndAName) {
    MakeWindow();
    window().activateWindow();
    // On the window itself, on a check box and on a button: Enter reaches the dialog each time.
    for (QWidget* target : {static_cast<QWidget*>(&window()), Find(ids::kShowHex),
                            Find(ids::kClear), Find(ids::kOpen)}) {
        QTest::keyClick(target, Qt::Key_Return);
        QTest::keyClick(target, Qt::Key_Enter);
        QCoreApplication::processEvents();
    }
    EXPECT_TRUE(window().isVisible());
    EXPECT_TRUE(dialogs_.shown.empty());
    EXPECT_FALSE(IsChecked(ids::kShowHex));
    EXPECT_FALSE(IsChecked(ids::kOpen));
    EXPECT_EQ(window().result(), 0);

    int controls = 0;
    for (QObject* child : window().children()) {
        auto* widget = qobject_cast<QWidget*>(child);
        // Labels and the group frame are decoration; everything else is a control.
        if (widget == nullptr || widget->isWindow() || qobject_cast<QLabel*>(widget) ||
            qobject_cast<QGroupBox*>(widget)) {
            continue;
        }
        ++controls;
        bool numeric = false;
        const int id = widget->objectName().toInt(&numeric);
        EXPECT_TRUE(numeric && id > 0) << widget->metaObject()->className();
        EXPECT_EQ(window().Control(id), widget);
        const auto* button = qobject_cast<QAbstractButton*>(widget);
        EXPECT_TRUE(id == ids::kLine || !widget->accessibleName().isEmpty() ||
                    (button != nullptr && !button->text().isEmpty()))
            << id;
    }
    // Display, port group (8), display options and commands (16), send group (10), counters (2).
    EXPECT_GE(controls, 36);
}

// The layout itself is the terminal layer's; here the window applies it on a resize.
TEST_F(MainWindowFrameTest, TallerAndWiderWindowMovesWhatIsBelowTheLineAndGrowsTheDisplay) {
    MakeWindow();
    const QRect display = Find(ids::kDisplay)->geometry();
    const QRect send = Find(ids::kSend)->geometry();
    const QRect rx = Find(ids::kRxCount)->geometry();
    window().resize(window().width() + 60, window().height() + 120);
    QCoreApplication::processEvents();
    EXPECT_EQ(Find(ids::kDisplay)->geometry(), display.adjusted(0, 0, 60, 120));
    EXPECT_EQ(Find(ids::kSend)->geometry(), send.translated(0, 120));
    EXPECT_EQ(Find(ids::kRxCount)->geometry(), rx.translated(60, 120));  // follows the right end
}

TEST_F(MainWindowFrameTest, InputBoxTextGoesBackWithItsLineBreaksAndCutAtAnEscape) {
    const std::u16string long_text = std::u16string(508, u'a') + u"\\x41";  // 512 units
    const struct {
        std::u16string stored;
        QString shown;
        std::u16string stored_again;
    } rows[] = {
        {u"AB\\x0d\\x0aCD", QStringLiteral("AB\nCD"), u"AB\\x0D\\x0ACD"},
        {u"AB\\x0DCD", QStringLiteral("AB\\x0DCD"), u"AB\\x0DCD"},  // a lone CR stays
        // 511 units fit: "\x4" would send 0x04, not 'A', so the whole escape is cut off.
        {long_text.substr(0, 511), QString(), std::u16string(508, u'a')},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.shown.toStdString());
        SetField(g_AppConfig.InputBoxData, row.stored);
        MakeWindow();
        if (!row.shown.isEmpty()) {
            EXPECT_EQ(Find<QPlainTextEdit>(ids::kInputBox)->toPlainText(), row.shown);
        } else {
            SetInput(QString::fromStdU16String(long_text));
        }
        DestroyWindow();
        EXPECT_EQ(std::u16string(g_AppConfig.InputBoxData), row.stored_again);
    }
}

TEST_F(MainWindowFrameTest, SettingsRecordDrivesTheControlsAndGetsTheirStateBack) {
    const std::pair<int, int32_t tagAppConfig::*> fields[] = {
        {ids::kSend0D0A, &tagAppConfig::Send0D0A},
        {ids::kChineseAdjust, &tagAppConfig::ChineseAdjust},
        {ids::kTimeStamp, &tagAppConfig::TimeStamp},
        {ids::kShowHex, &tagAppConfig::ShowHex},
        {ids::kMerge, &tagAppConfig::MergeCoutinue},
        {ids::kExtNewLine, &tagAppConfig::ExtNewLine},
        {ids::kAutoClear, &tagAppConfig::AutoClear},
        {ids::kSendNow, &tagAppConfig::SendNow},
        {ids::kAutoSendEnter, &tagAppConfig::AutoSendEnter},
        {ids::kParseHex, &tagAppConfig::ParseHex},
        {ids::kParseCharName, &tagAppConfig::ParseCharName},
    };
    // Every field the opposite of its default; the window shows that, the user flips them all
    // back, and the record gets the defaults again.
    const tagAppConfig defaults = DefaultAppConfig();
    for (const auto& [id, member] : fields) {
        g_AppConfig.*member = defaults.*member ? 0 : 1;
    }
    g_AppConfig.AutoClearSize = 7;
    g_AppConfig.LoopSendTime = 333;
    MakeWindow();
    EXPECT_EQ(Find<QLineEdit>(ids::kAutoClearSize)->text(), QStringLiteral("7"));
    EXPECT_EQ(Find<QLineEdit>(ids::kLoopSendTime)->text(), QStringLiteral("333"));
    // Time stamp on: Chinese adjustment off; join same source off: extra line break off.
    EXPECT_EQ(Find(ids::kChineseAdjust)->isEnabled(), g_AppConfig.TimeStamp == 0);
    EXPECT_EQ(Find(ids::kExtNewLine)->isEnabled(), g_AppConfig.MergeCoutinue != 0);
    for (const auto& [id, member] : fields) {
        EXPECT_EQ(IsChecked(id), g_AppConfig.*member != 0) << id;
        Find(id)->setEnabled(true);
        Click(id);
    }
    EXPECT_EQ(Find(ids::kChineseAdjust)->isEnabled(), defaults.TimeStamp == 0);
    EXPECT_EQ(Find(ids::kExtNewLine)->isEnabled(), defaults.MergeCoutinue != 0);
    DestroyWindow();
    for (const auto& [id, member] : fields) {
        EXPECT_EQ(g_AppConfig.*member != 0, defaults.*member != 0) << id;
    }
    EXPECT_EQ(g_AppConfig.AutoClearSize, 7);
    EXPECT_EQ(g_AppConfig.LoopSendTime, 333);
}

}  // namespace
