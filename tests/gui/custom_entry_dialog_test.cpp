// The custom entries window: rows loaded from the settings record, sending by button and by
// bound key, and the texts written back (escaped and cut to the field) when it is destroyed.
#include <gtest/gtest.h>

#include <QPushButton>
#include <QTest>
#include <QTextCursor>

#include <algorithm>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "gui/qt_app.h"
#include "settings/app_config.h"
#include "ui/custom_entry_dialog.h"
#include "ui/kem_edit_ctrl.h"

namespace {

using kem::testing::EnsureQtApp;
using kem::testing::PumpUntil;

void SetField(int index, const std::u16string& text) {
    char16_t(&field)[kCustomEntryUnits] = g_AppConfig.CustomEntries.EntriesData[index];
    std::fill(std::begin(field), std::end(field), u'\0');
    std::copy(text.begin(), text.end(), field);
}

std::u16string Field(int index) {
    const char16_t(&field)[kCustomEntryUnits] = g_AppConfig.CustomEntries.EntriesData[index];
    return std::u16string(std::begin(field), std::find(std::begin(field), std::end(field), u'\0'));
}

class CustomEntryDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureQtApp();
        g_AppConfig = DefaultAppConfig();
    }

    void Open() {
        dialog_ = std::make_unique<CDlgCustomEntry>(nullptr);
        QObject::connect(dialog_.get(), &CDlgCustomEntry::sendText,
                         [this](const std::u16string& text) { sent_.push_back(text); });
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

TEST_F(CustomEntryDialogTest, RowsHaveTheirIdsLabelsAndStoredTexts) {
    SetField(0, u"AT\\x0D");
    SetField(17, u"last [CR]");
    Open();
    EXPECT_FALSE(dialog_->isModal());
    const char* labels[] = {"&1",    "&2",    "&3",    "&4",    "&5",    "&6",
                            "&7",    "&8",    "&9",    "10(&A", "11(&B", "12(&C",
                            "13(&D", "14(&E", "15(&F", "16(&G", "17(&H", "18(&I"};
    for (int row = 1; row <= 18; ++row) {
        ASSERT_NE(Button(row), nullptr) << row;
        ASSERT_NE(Box(row), nullptr) << row;
        EXPECT_EQ(Button(row)->objectName().toInt(), 1043 + 2 * row);
        EXPECT_EQ(Box(row)->objectName().toInt(), 1044 + 2 * row);
        EXPECT_EQ(Button(row)->text(), QString::fromLatin1(labels[row - 1])) << row;
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

TEST_F(CustomEntryDialogTest, ButtonSendsItsRowsText) {
    SetField(1, u"second");
    SetField(9, u"tenth");
    Open();
    Button(2)->click();
    Button(10)->click();
    // An empty entry still goes to the send path, which decides what it sends.
    Button(3)->click();
    EXPECT_EQ(sent_, (std::vector<std::u16string>{u"second", u"tenth", u""}));
    // A line break in the box goes out as CR LF.
    Box(4)->setPlainText(QStringLiteral("a\nb"));
    dialog_->OnEntryCommand(4);
    EXPECT_EQ(sent_.back(), u"a\r\nb");
    dialog_->OnEntryCommand(0);
    dialog_->OnEntryCommand(19);
    EXPECT_EQ(sent_.size(), 4u);
}

TEST_F(CustomEntryDialogTest, EnterAndCtrlEnterSendWithoutEditingTheBox) {
    SetField(4, u"fifth");
    SetField(16, u"x\\x0A");
    Open();
    dialog_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog_.get()));
    Box(5)->setFocus();
    Box(5)->moveCursor(QTextCursor::End);
    QTest::keyClick(Box(5), Qt::Key_Return);
    ASSERT_TRUE(PumpUntil([this] { return sent_.size() == 1; }, 2000));
    EXPECT_EQ(sent_[0], u"fifth");
    EXPECT_EQ(Box(5)->toPlainText(), QStringLiteral("fifth"));

    Box(17)->setFocus();
    QTest::keyClick(Box(17), Qt::Key_Return, Qt::ControlModifier);
    ASSERT_TRUE(PumpUntil([this] { return sent_.size() == 2; }, 2000));
    EXPECT_EQ(sent_[1], u"x\\x0A");
    EXPECT_EQ(Box(17)->toPlainText(), QStringLiteral("x\\x0A"));
    EXPECT_TRUE(dialog_->isVisible());
}

TEST_F(CustomEntryDialogTest, TextsGoBackEscapedOnlyWhenDestroyed) {
    SetField(1, u"keep");
    Open();
    dialog_->show();
    // A pasted CR LF is one line break in the box.
    Box(1)->insertPlainText(QStringLiteral("a\r\nb"));
    Box(2)->setPlainText(QStringLiteral("changed"));
    dialog_->hide();
    EXPECT_EQ(Field(0), u"");
    EXPECT_EQ(Field(1), u"keep");
    EXPECT_EQ(Box(2)->toPlainText(), QStringLiteral("changed"));
    dialog_.reset();
    EXPECT_EQ(Field(0), u"a\\x0D\\x0Ab");
    EXPECT_EQ(Field(1), u"changed");
    EXPECT_EQ(Field(2), u"");
}

TEST_F(CustomEntryDialogTest, LongTextsAreCutWithoutBreakingAnEscape) {
    Open();
    Box(1)->setPlainText(QString(600, QChar(u'x')));
    // 509 units, then a line break that needs 8 more: the pair goes whole.
    Box(2)->setPlainText(QString(509, QChar(u'y')) + QStringLiteral("\nz"));
    // A typed escape that would be cut to "\x4" is dropped.
    Box(3)->setPlainText(QString(509, QChar(u'w')) + QStringLiteral("\\x41"));
    Box(4)->setPlainText(QString(511, QChar(u'v')));
    dialog_.reset();
    EXPECT_EQ(Field(0), std::u16string(511, u'x'));
    EXPECT_EQ(Field(1), std::u16string(509, u'y'));
    EXPECT_EQ(Field(2), std::u16string(509, u'w'));
    EXPECT_EQ(Field(3), std::u16string(511, u'v'));
    // The terminator always fits.
    for (int i = 0; i < kCustomEntryCount; ++i) {
        EXPECT_EQ(g_AppConfig.CustomEntries.EntriesData[i][kCustomEntryUnits - 1], u'\0');
    }
}

TEST_F(CustomEntryDialogTest, EscClosesByHidingAndKeepsEdits) {
    Open();
    dialog_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog_.get()));
    Box(6)->setPlainText(QStringLiteral("six"));
    QTest::keyClick(dialog_.get(), Qt::Key_Escape);
    EXPECT_FALSE(dialog_->isVisible());
    dialog_->show();
    EXPECT_EQ(Box(6)->toPlainText(), QStringLiteral("six"));
    EXPECT_EQ(Field(5), u"");
}

}  // namespace
