// The main window's frame: the exit questions, Enter, names of the controls, the layout on
// resizing, and what the window takes from and gives back to the settings record.
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>

#include "gui/main_window_support.h"
#include "settings/app_config.h"

namespace {

class MainWindowFrameTest : public MainWindowTest {};

TEST_F(MainWindowFrameTest, ExitAsksAsAutoSaveAndTheWayOfClosingSay) {
    struct Row {
        const char* name;
        int auto_save;
        bool by_title_bar;
        std::vector<DialogAnswer> answers;
        std::u16string question;  // empty: no question
        bool closes;
    };
    const std::u16string unsaved = u"当前配置将不会保存,确定要退出吗?";
    const std::u16string plain = u"确定要退出吗?";
    const std::vector<Row> rows = {
        {"exit, autosave on", 1, false, {}, u"", true},
        {"exit, autosave off, yes", 0, false, {DialogAnswer::kYes}, unsaved, true},
        {"exit, autosave off, no", 0, false, {DialogAnswer::kNo}, unsaved, false},
        {"title bar, autosave on, yes", 1, true, {DialogAnswer::kYes}, plain, true},
        {"title bar, autosave on, no", 1, true, {DialogAnswer::kNo}, plain, false},
        {"title bar, autosave off, yes", 0, true, {DialogAnswer::kYes}, plain, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        g_AppConfig.System.AutoSave = row.auto_save;
        dialogs_.shown.clear();
        dialogs_.answers.assign(row.answers.begin(), row.answers.end());
        MakeWindow();
        if (row.by_title_bar) {
            window().close();
        } else {
            Click(ids::kExit);
        }
        QCoreApplication::processEvents();
        if (row.question.empty()) {
            EXPECT_TRUE(dialogs_.shown.empty());
        } else {
            ASSERT_EQ(dialogs_.shown.size(), 1u);
            EXPECT_EQ(dialogs_.shown[0].text, row.question);
            EXPECT_EQ(dialogs_.shown[0].caption, u"确认");
            EXPECT_EQ(dialogs_.shown[0].buttons, DialogButtons::kYesNo);
            EXPECT_EQ(dialogs_.shown[0].icon, DialogIcon::kQuestion);
        }
        EXPECT_EQ(window().isVisible(), !row.closes);
        DestroyWindow();
    }
}

TEST_F(MainWindowFrameTest, EnterInTheWindowClosesNothingAndPressesNothing) {
    MakeWindow();
    window().activateWindow();
    // On the window itself, on a check box and on a button: Enter reaches the dialog each time.
    for (QWidget* target : {static_cast<QWidget*>(&window()), Find(ids::kShowHex),
                            Find(ids::kClear), Find(ids::kOpen)}) {
        SCOPED_TRACE(target->objectName().toStdString());
        QTest::keyClick(target, Qt::Key_Return);
        QTest::keyClick(target, Qt::Key_Enter);
        QCoreApplication::processEvents();
        EXPECT_TRUE(window().isVisible());
    }
    EXPECT_TRUE(dialogs_.shown.empty());
    EXPECT_FALSE(IsChecked(ids::kShowHex));
    EXPECT_FALSE(IsChecked(ids::kOpen));
    EXPECT_EQ(window().result(), 0);
}

TEST_F(MainWindowFrameTest, EveryControlHasAnIdAndANameForAssistiveTools) {
    MakeWindow();
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
        if (id == ids::kLine) {
            continue;
        }
        const auto* button = qobject_cast<QAbstractButton*>(widget);
        const QString text = button != nullptr ? button->text() : QString();
        EXPECT_FALSE(widget->accessibleName().isEmpty() && text.isEmpty()) << id;
    }
    // Display, port group (8), display options and commands (16), send group (10), counters (2).
    EXPECT_GE(controls, 36);
}

TEST_F(MainWindowFrameTest, TallerAndWiderWindowMovesWhatIsBelowTheLineAndGrowsTheDisplay) {
    MakeWindow();
    const QRect line0 = Find(ids::kLine)->geometry();
    const QRect display0 = Find(ids::kDisplay)->geometry();
    std::vector<std::pair<QWidget*, QRect>> before;
    for (QObject* child : window().children()) {
        if (auto* widget = qobject_cast<QWidget*>(child); widget && !widget->isWindow()) {
            before.emplace_back(widget, widget->geometry());
        }
    }
    const int dy = 120;
    const int dx = 60;
    // Twice with the same size: positions come from the start-up layout, not the last one.
    for (int round = 0; round < 2; ++round) {
        window().resize(window().width() + (round == 0 ? dx : 0),
                        window().height() + (round == 0 ? dy : 0));
        QCoreApplication::processEvents();
    }
    const QRect line = Find(ids::kLine)->geometry();
    EXPECT_EQ(line.top(), line0.top() + dy);
    EXPECT_EQ(line.left(), line0.left());
    EXPECT_EQ(window().width() - (line.right() + 1), line.left());
    const QRect display = Find(ids::kDisplay)->geometry();
    EXPECT_EQ(display.topLeft(), display0.topLeft());
    EXPECT_EQ(display.height(), display0.height() + dy);
    EXPECT_EQ(display.width(), display0.width() + dx);
    int moved_below = 0;
    int moved_above = 0;
    for (const auto& [widget, r] : before) {
        if (widget == Find(ids::kLine) || widget == Find(ids::kDisplay)) {
            continue;
        }
        const QRect now = widget->geometry();
        SCOPED_TRACE(widget->objectName().toStdString() + " " + widget->metaObject()->className());
        EXPECT_EQ(now.size(), r.size());
        EXPECT_EQ(now.top(), r.top() + dy);
        if (r.top() >= line0.bottom()) {
            EXPECT_EQ(now.left(), r.left());
            ++moved_below;
        } else {
            // The counters above the line keep their distance to its right end.
            EXPECT_EQ(now.left(), r.left() + dx);
            ++moved_above;
        }
    }
    EXPECT_GE(moved_below, 30);
    EXPECT_EQ(moved_above, 4);  // TX, RX and their labels
}

TEST_F(MainWindowFrameTest, InputBoxTextGoesBackWithItsLineBreaksAndCutAtAnEscape) {
    struct Row {
        const char* name;
        std::u16string stored;
        QString shown;
        std::u16string stored_again;
    };
    const std::u16string long_text = std::u16string(508, u'a') + u"\\x41";  // 512 units
    const std::vector<Row> rows = {
        {"two lines", u"AB\\x0D\\x0ACD", QStringLiteral("AB\nCD"), u"AB\\x0D\\x0ACD"},
        {"lower case pair", u"AB\\x0d\\x0aCD", QStringLiteral("AB\nCD"), u"AB\\x0D\\x0ACD"},
        {"lone CR escape stays", u"AB\\x0DCD", QStringLiteral("AB\\x0DCD"), u"AB\\x0DCD"},
        // 511 units fit: "\x4" would send 0x04, not 'A', so the whole escape is cut off.
        {"cut before the escape", long_text.substr(0, 511), QString(), std::u16string(508, u'a')},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        g_AppConfig = DefaultAppConfig();
        std::fill(std::begin(g_AppConfig.InputBoxData), std::end(g_AppConfig.InputBoxData), 0);
        std::copy(row.stored.begin(), row.stored.end(), g_AppConfig.InputBoxData);
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
    struct Field {
        int id;
        int32_t tagAppConfig::*member;
    };
    const std::vector<Field> fields = {
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
    for (const Field& field : fields) {
        g_AppConfig.*field.member = defaults.*field.member ? 0 : 1;
    }
    g_AppConfig.AutoClearSize = 7;
    g_AppConfig.LoopSendTime = 333;
    MakeWindow();
    EXPECT_EQ(Find<QLineEdit>(ids::kAutoClearSize)->text(), QStringLiteral("7"));
    EXPECT_EQ(Find<QLineEdit>(ids::kLoopSendTime)->text(), QStringLiteral("333"));
    // Time stamp on: Chinese adjustment off; join same source off: extra line break off.
    EXPECT_EQ(Find(ids::kChineseAdjust)->isEnabled(), g_AppConfig.TimeStamp == 0);
    EXPECT_EQ(Find(ids::kExtNewLine)->isEnabled(), g_AppConfig.MergeCoutinue != 0);
    for (const Field& field : fields) {
        SCOPED_TRACE(field.id);
        EXPECT_EQ(IsChecked(field.id), g_AppConfig.*field.member != 0);
        Find<QAbstractButton>(field.id)->setEnabled(true);
        Click(field.id);
    }
    EXPECT_EQ(Find(ids::kChineseAdjust)->isEnabled(), defaults.TimeStamp == 0);
    EXPECT_EQ(Find(ids::kExtNewLine)->isEnabled(), defaults.MergeCoutinue != 0);
    DestroyWindow();
    for (const Field& field : fields) {
        SCOPED_TRACE(field.id);
        EXPECT_EQ(g_AppConfig.*field.member != 0, defaults.*field.member != 0);
    }
    EXPECT_EQ(g_AppConfig.AutoClearSize, 7);
    EXPECT_EQ(g_AppConfig.LoopSendTime, 333);
}

}  // namespace
