// The custom entries window: rows loaded from the settings record, sending by button and by
// bound key, and the texts written back (escaped and cut to the field) when it is destroyed.
#include <QPushButton>

#include "gui/main_window_support.h"
#include "ui/custom_entry_dialog.h"
#include "ui/kem_edit_ctrl.h"

namespace {

std::u16string Field(int index) {
    const char16_t(&field)[kCustomEntryUnits] = g_AppConfig.CustomEntries.EntriesData[index];
    return std::u16string(std::begin(field), std::find(std::begin(field), std::end(field), u'\0'));
}

class CustomEntryDialogTest : public MainWindowTest {
protected:
    void Open(bool show = false) {
        dialog_ = std::make_unique<CDlgCustomEntry>(nullptr);
        QObject::connect(dialog_.get(), &CDlgCustomEntry::sendText,
                         [this](const std::u16string& text) { sent_.push_back(text); });
        if (show) {
            dialog_->show();
            ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog_.get()));
        }
    }

    QPushButton* Button(int row) const {
        return dialog_->findChild<QPushButton*>(QString::number(custom_entry_ids::ButtonId(row)));
    }
    CKemEditCtrl* Box(int row) const {
        return dialog_->findChild<CKemEditCtrl*>(QString::number(custom_entry_ids::EditId(row)));
    }

    std::unique_ptr<CDlgCustomEntry> dialog_;
    std::vector<std::u16string> sent_;
};

TEST_F(CustomEntryDialogTest, RowsHaveTheirIdsLabelsKeysAndStoredTexts) {
    SetField(g_AppConfig.CustomEntries.EntriesData[0], u"AT\\x0D");
    SetField(g_AppConfig.CustomEntries.EntriesData[17], u"last [CR]");
    Open();
    EXPECT_FALSE(dialog_->isModal());
    const char* labels[] = {"&1",    "&2",    "&3",    "&4",    "&5",    "&6",
                            "&7",    "&8",    "&9",    "10(&A", "11(&B", "12(&C",
                            "13(&D", "14(&E", "15(&F", "16(&G", "17(&H", "18(&I"};
    for (int row = 1; row <= 18; ++row) {
        SCOPED_TRACE(row);
        ASSERT_NE(Button(row), nullptr);
        ASSERT_NE(Box(row), nullptr);
        EXPECT_EQ(Button(row)->objectName().toInt(), 1043 + 2 * row);
        EXPECT_EQ(Box(row)->objectName().toInt(), 1044 + 2 * row);
        EXPECT_EQ(Button(row)->text(), QString::fromLatin1(labels[row - 1]));
        EXPECT_EQ(dialog_->entryBox(row), Box(row));
        EXPECT_EQ(Box(row)->keyBindings().Find(kKeyEnter), 1043 + 2 * row);
        EXPECT_EQ(Box(row)->keyBindings().Find(kKeyCtrlEnter), 1043 + 2 * row);
    }
    EXPECT_EQ(dialog_->entryBox(0), nullptr);
    EXPECT_EQ(dialog_->entryBox(19), nullptr);
    // Loaded unchanged: the escape stays text.
    EXPECT_EQ(Box(1)->toPlainText(), QStringLiteral("AT\\x0D"));
    EXPECT_EQ(Box(18)->toPlainText(), QStringLiteral("last [CR]"));
    EXPECT_TRUE(Box(2)->toPlainText().isEmpty());
}

TEST_F(CustomEntryDialogTest, ButtonsEnterAndCtrlEnterSendTheRowWithoutEditingIt) {
    SetField(g_AppConfig.CustomEntries.EntriesData[1], u"second");
    SetField(g_AppConfig.CustomEntries.EntriesData[4], u"fifth");
    SetField(g_AppConfig.CustomEntries.EntriesData[16], u"x\\x0A");
    Open(true);
    Button(2)->click();
    Button(3)->click();  // an empty entry still goes to the send path, which decides
    Box(4)->setPlainText(QStringLiteral("a\nb"));
    dialog_->OnEntryCommand(4);  // a line break goes out as CR LF
    dialog_->OnEntryCommand(0);
    dialog_->OnEntryCommand(19);
    EXPECT_EQ(sent_, (std::vector<std::u16string>{u"second", u"", u"a\r\nb"}));

    Box(5)->setFocus();
    Box(5)->moveCursor(QTextCursor::End);
    QTest::keyClick(Box(5), Qt::Key_Return);
    Box(17)->setFocus();
    QTest::keyClick(Box(17), Qt::Key_Return, Qt::ControlModifier);
    ASSERT_TRUE(Wait([this] { return sent_.size() == 5; }, 2000));
    EXPECT_EQ(sent_[3], u"fifth");
    EXPECT_EQ(sent_[4], u"x\\x0A");
    EXPECT_EQ(Box(5)->toPlainText(), QStringLiteral("fifth"));
    EXPECT_EQ(Box(17)->toPlainText(), QStringLiteral("x\\x0A"));
    EXPECT_TRUE(dialog_->isVisible());
}

TEST_F(CustomEntryDialogTest, EscHidesAndTextsGoBackEscapedAndCutOnlyWhenDestroyed) {
    SetField(g_AppConfig.CustomEntries.EntriesData[1], u"keep");
    Open(true);
    Box(1)->insertPlainText(QStringLiteral("a\r\nb"));  // a pasted CR LF is one line break
    Box(2)->setPlainText(QStringLiteral("changed"));
    Box(3)->setPlainText(QString(600, QChar(u'x')));
    // 509 units, then a line break that needs 8 more: the pair goes whole.
    Box(4)->setPlainText(QString(509, QChar(u'y')) + QStringLiteral("\nz"));
    // A typed escape that would be cut to "\x4" is dropped.
    Box(5)->setPlainText(QString(509, QChar(u'w')) + QStringLiteral("\\x41"));
    Box(6)->setPlainText(QString(511, QChar(u'v')));
    QTest::keyClick(dialog_.get(), Qt::Key_Escape);
    EXPECT_FALSE(dialog_->isVisible());
    EXPECT_EQ(Field(0), u"");
    EXPECT_EQ(Field(1), u"keep");
    dialog_->show();
    EXPECT_EQ(Box(2)->toPlainText(), QStringLiteral("changed"));
    dialog_.reset();
    const std::u16string expected[] = {u"a\\x0D\\x0Ab",
                                       u"changed",
                                       std::u16string(511, u'x'),
                                       std::u16string(509, u'y'),
                                       std::u16string(509, u'w'),
                                       std::u16string(511, u'v'),
                                       u""};
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(Field(i), expected[i]) << i;
    }
    for (int i = 0; i < kCustomEntryCount; ++i) {
        EXPECT_EQ(g_AppConfig.CustomEntries.EntriesData[i][kCustomEntryUnits - 1], u'\0');
    }
}

}  // namespace
