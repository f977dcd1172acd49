// The ASCII table window: its 256 rows and names, the show-by-name check boxes, inserting a
// character, choosing the font, and the three-state sorting of its list. Offscreen.
#include <gtest/gtest.h>

#include <QFont>
#include <QHeaderView>
#include <QPushButton>
#include <QStringList>
#include <QStyle>
#include <QTest>
#include <QTreeWidgetItem>

#include <memory>
#include <vector>

#include "gui/qt_app.h"
#include "settings/app_config.h"
#include "terminal/ctrl_char_table.h"
#include "terminal/render_options.h"
#include "terminal/scripted_dialogs.h"
#include "ui/ascii_list_dialog.h"
#include "ui/kem_list_ctrl.h"

namespace {

using kem::testing::EnsureQtApp;

enum Column { kCh = 0, kDec, kHex, kName, kKey, kRemark };

class AsciiListDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureQtApp();
        g_AppConfig = DefaultAppConfig();
        flags_ = DefaultShowByName();
        dialog_ = std::make_unique<CDlgASCIIList>(nullptr, flags_, dialogs_);
        QObject::connect(dialog_.get(), &CDlgASCIIList::showByNameChanged, [this] { ++changes_; });
        QObject::connect(dialog_.get(), &CDlgASCIIList::insertText,
                         [this](const QString& text) { inserted_.push_back(text); });
    }

    CKemListCtrl* List() const { return dialog_->findChild<CKemListCtrl*>(QStringLiteral("1028")); }

    // The first column also holds the check box: room for it and a wide character.
    bool CharColumnFits() const {
        QStyle* style = List()->style();
        const int check = style->pixelMetric(QStyle::PM_IndicatorWidth) +
                          style->pixelMetric(QStyle::PM_CheckBoxLabelSpacing) +
                          2 * style->pixelMetric(QStyle::PM_FocusFrameHMargin);
        const int glyph = List()->fontMetrics().horizontalAdvance(QChar(u'W'));
        return List()->columnWidth(kCh) >= check + glyph;
    }

    QPushButton* Button(const char* id) const {
        return dialog_->findChild<QPushButton*>(QString::fromLatin1(id));
    }

    // The row currently showing byte `value`.
    QTreeWidgetItem* Row(int value) const {
        CKemListCtrl* list = List();
        for (int i = 0; i < list->topLevelItemCount(); ++i) {
            if (list->topLevelItem(i)->text(kDec).toInt() == value) {
                return list->topLevelItem(i);
            }
        }
        return nullptr;
    }

    // The "Dec" values top to bottom.
    std::vector<int> Order() const {
        std::vector<int> values;
        for (int i = 0; i < List()->topLevelItemCount(); ++i) {
            values.push_back(List()->topLevelItem(i)->text(kDec).toInt());
        }
        return values;
    }

    // A real mouse click on the header of `column`.
    void ClickHeader(int column) {
        QHeaderView* header = List()->header();
        const int x = header->sectionViewportPosition(column) + header->sectionSize(column) / 2;
        QTest::mouseClick(header->viewport(), Qt::LeftButton, Qt::NoModifier,
                          QPoint(x, header->height() / 2));
    }

    ShowByNameFlags flags_;
    ScriptedDialogs dialogs_;
    std::unique_ptr<CDlgASCIIList> dialog_;
    int changes_ = 0;
    std::vector<QString> inserted_;
};

std::vector<int> Range(int first, int last) {
    std::vector<int> values;
    const int step = first <= last ? 1 : -1;
    for (int v = first; v != last + step; v += step) {
        values.push_back(v);
    }
    return values;
}

TEST_F(AsciiListDialogTest, ShowsTitleControlsAndColumns) {
    EXPECT_EQ(dialog_->windowTitle(), QStringLiteral("ASCII列表"));
    EXPECT_FALSE(dialog_->isModal());
    ASSERT_NE(List(), nullptr);
    ASSERT_NE(Button("1032"), nullptr);
    ASSERT_NE(Button("1"), nullptr);
    ASSERT_NE(Button("2"), nullptr);
    EXPECT_EQ(Button("1032")->text(), QStringLiteral("选择字体..."));
    EXPECT_EQ(Button("1")->text(), QStringLiteral("插入字符"));
    EXPECT_TRUE(Button("1")->isDefault());
    EXPECT_EQ(Button("2")->text(), QStringLiteral("隐藏"));
    const QStringList headings = {"Ch", "Dec", "Hex", "Name", "Key", "Remark"};
    const int widths[] = {32, 36, 36, 44, 36, 152};
    ASSERT_EQ(List()->columnCount(), 6);
    for (int c = 0; c < 6; ++c) {
        EXPECT_EQ(List()->headerItem()->text(c), headings[c]);
        if (c != kCh) {
            EXPECT_EQ(List()->columnWidth(c), widths[c]) << c;
        }
    }
    EXPECT_GE(List()->columnWidth(kCh), widths[kCh]);
    EXPECT_TRUE(CharColumnFits());
    EXPECT_EQ(List()->ColumnType(kDec), ListColumnType::kInteger);
    EXPECT_EQ(List()->ColumnType(kName), ListColumnType::kText);
    EXPECT_EQ(List()->ColumnType(kCh), ListColumnType::kText);
}

TEST_F(AsciiListDialogTest, Lists256RowsWithNamesAndStartupChecks) {
    CKemListCtrl* list = List();
    ASSERT_EQ(list->topLevelItemCount(), 256);
    const auto& table = CtrlCharTable();
    for (int v = 0; v < 256; ++v) {
        const QTreeWidgetItem* item = list->topLevelItem(v);
        EXPECT_EQ(CKemListCtrl::ItemId(item), v);
        EXPECT_EQ(item->text(kDec), QString::number(v));
        EXPECT_EQ(item->text(kHex), QStringLiteral("%1").arg(v, 2, 16, QChar('0')).toUpper());
        EXPECT_EQ(item->text(kCh), v == 0 ? QString() : QString(QChar(char16_t(v))));
        const auto position = FindCtrlCharByCode(static_cast<uint8_t>(v));
        if (position) {
            const tagCtrlCharInfo& info = table[static_cast<size_t>(*position)];
            EXPECT_EQ(item->text(kName), QString::fromUtf16(info.Name)) << v;
            EXPECT_EQ(item->text(kKey), QString::fromUtf16(info.Key)) << v;
            EXPECT_EQ(item->text(kRemark), QString::fromUtf16(info.Remark)) << v;
        } else {
            EXPECT_TRUE(item->text(kName).isEmpty()) << v;
            EXPECT_TRUE(item->text(kKey).isEmpty()) << v;
            EXPECT_TRUE(item->text(kRemark).isEmpty()) << v;
        }
        const bool expected = position && v != 0x0A && v != 0x0D && v != 0x20;
        EXPECT_EQ(item->checkState(kCh) == Qt::Checked, expected) << v;
    }
    EXPECT_EQ(Row(0x0D)->text(kName), QStringLiteral("CR"));
    EXPECT_EQ(Row(0x0D)->text(kKey), QStringLiteral("^M"));
    EXPECT_EQ(Row(0x1C)->text(kKey), QStringLiteral("^\\"));
    EXPECT_EQ(Row(0x7F)->text(kRemark), QStringLiteral("delete"));
    EXPECT_EQ(Row(0xFF)->text(kCh), QString(QChar(0x00FF)));
    EXPECT_EQ(changes_, 0);
}

TEST_F(AsciiListDialogTest, ListFontIsLargerThanTheDialogs) {
    const QFont dialog_font = dialog_->font();
    ASSERT_GT(dialog_font.pointSizeF(), 0);
    EXPECT_EQ(List()->font().pointSizeF(), static_cast<int>(dialog_font.pointSizeF() * 1.2));
}

TEST_F(AsciiListDialogTest, CheckBoxFlipsTheFlagOfANamedByte) {
    QTreeWidgetItem* del = Row(0x7F);
    del->setCheckState(kCh, Qt::Unchecked);
    EXPECT_FALSE(flags_[0x7F]);
    EXPECT_EQ(changes_, 1);
    del->setCheckState(kCh, Qt::Checked);
    EXPECT_TRUE(flags_[0x7F]);
    EXPECT_EQ(changes_, 2);
    Row(0x0D)->setCheckState(kCh, Qt::Checked);
    EXPECT_TRUE(flags_[0x0D]);
    EXPECT_EQ(changes_, 3);
    // Other changes of a row are not a check box change.
    del->setSelected(true);
    del->setText(kRemark, QStringLiteral("delete"));
    EXPECT_EQ(changes_, 3);
}

TEST_F(AsciiListDialogTest, CheckBoxOfAnUnnamedByteChangesNothing) {
    const ShowByNameFlags before = flags_;
    Row(0x41)->setCheckState(kCh, Qt::Checked);
    Row(0x41)->setCheckState(kCh, Qt::Unchecked);
    Row(0xFF)->setCheckState(kCh, Qt::Checked);
    EXPECT_EQ(flags_, before);
    EXPECT_EQ(changes_, 0);
}

TEST_F(AsciiListDialogTest, InsertNeedsASelectedRow) {
    Button("1")->click();
    EXPECT_TRUE(inserted_.empty());
}

TEST_F(AsciiListDialogTest, InsertEmitsTheRowsCharacter) {
    List()->setCurrentItem(Row(0x0D));
    Button("1")->click();
    List()->setCurrentItem(Row(0x41));
    dialog_->OnInsertChar();
    // Byte 0 has no character: the caller's selection goes, nothing comes in.
    List()->setCurrentItem(Row(0));
    Button("1")->click();
    EXPECT_EQ(inserted_,
              (std::vector<QString>{QStringLiteral("\r"), QStringLiteral("A"), QString()}));
    EXPECT_TRUE(inserted_.back().isEmpty());
}

TEST_F(AsciiListDialogTest, DoubleClickAndEnterInsert) {
    dialog_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog_.get()));
    List()->setCurrentItem(Row(0x42));
    List()->scrollToItem(Row(0x42));
    const QRect rect = List()->visualItemRect(Row(0x42));
    // A double click as the mouse delivers it: press, release, then the second press.
    QTest::mousePress(List()->viewport(), Qt::LeftButton, Qt::NoModifier, rect.center());
    QTest::mouseRelease(List()->viewport(), Qt::LeftButton, Qt::NoModifier, rect.center());
    QTest::mouseDClick(List()->viewport(), Qt::LeftButton, Qt::NoModifier, rect.center());
    ASSERT_EQ(inserted_.size(), 1u);
    EXPECT_EQ(inserted_[0], QStringLiteral("B"));
    List()->setFocus();
    QTest::keyClick(List(), Qt::Key_Return);
    ASSERT_EQ(inserted_.size(), 2u);
    EXPECT_EQ(inserted_[1], QStringLiteral("B"));
    EXPECT_TRUE(dialog_->isVisible());
}

TEST_F(AsciiListDialogTest, HideOnlyHides) {
    dialog_->show();
    Button("2")->click();
    EXPECT_FALSE(dialog_->isVisible());
    dialog_->show();
    EXPECT_TRUE(dialog_->isVisible());
    EXPECT_EQ(List()->topLevelItemCount(), 256);
}

TEST_F(AsciiListDialogTest, SelectFontAppliesAConfirmedChoice) {
    const QFont before = List()->font();
    dialogs_.font.reset();
    Button("1032")->click();
    ASSERT_EQ(dialogs_.font_requests.size(), 1u);
    EXPECT_EQ(dialogs_.font_requests[0].face, before.family().toStdU16String());
    EXPECT_EQ(List()->font(), before);

    DisplayStyleFormat chosen;
    chosen.face = u"Courier";
    chosen.size_tenths = 300;
    chosen.bold = true;
    dialogs_.font = chosen;
    Button("1032")->click();
    ASSERT_EQ(dialogs_.font_requests.size(), 2u);
    EXPECT_EQ(List()->font().family(), QStringLiteral("Courier"));
    EXPECT_EQ(List()->font().pointSizeF(), 30.0);
    EXPECT_TRUE(List()->font().bold());
    EXPECT_FALSE(List()->font().italic());
    EXPECT_TRUE(CharColumnFits()) << "the first column follows the larger font";
}

TEST_F(AsciiListDialogTest, HeaderClicksSortInThreeStates) {
    dialog_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog_.get()));
    QHeaderView* header = List()->header();
    EXPECT_FALSE(header->isSortIndicatorShown());

    ClickHeader(kDec);
    EXPECT_EQ(Order(), Range(0, 255));
    EXPECT_EQ(List()->HeaderArrow(kDec), ListHeaderArrow::kUp);
    EXPECT_TRUE(header->isSortIndicatorShown());
    EXPECT_EQ(header->sortIndicatorSection(), kDec);
    EXPECT_EQ(header->sortIndicatorOrder(), Qt::AscendingOrder);

    ClickHeader(kDec);
    EXPECT_EQ(Order(), Range(255, 0));
    EXPECT_EQ(List()->HeaderArrow(kDec), ListHeaderArrow::kDown);
    EXPECT_EQ(header->sortIndicatorOrder(), Qt::DescendingOrder);

    ClickHeader(kDec);
    EXPECT_EQ(Order(), Range(0, 255));
    EXPECT_EQ(List()->HeaderArrow(kDec), ListHeaderArrow::kNone);
    EXPECT_FALSE(header->isSortIndicatorShown());

    ClickHeader(kDec);
    EXPECT_EQ(Order(), Range(0, 255));
    EXPECT_EQ(List()->HeaderArrow(kDec), ListHeaderArrow::kUp);

    // Another column keeps the state: ascending by name, the unnamed rows (empty) first.
    ClickHeader(kName);
    EXPECT_EQ(List()->HeaderArrow(kName), ListHeaderArrow::kUp);
    EXPECT_EQ(List()->HeaderArrow(kDec), ListHeaderArrow::kNone);
    EXPECT_EQ(header->sortIndicatorSection(), kName);
    const std::vector<int> order = Order();
    ASSERT_EQ(order.size(), 256u);
    EXPECT_EQ(order[0], 0x21);
    EXPECT_EQ(order[221], 0xFF);
    EXPECT_EQ(order[222], 0x06);  // ACK
    EXPECT_EQ(order[223], 0x07);  // BEL
    EXPECT_EQ(order[224], 0x08);  // BS
    EXPECT_EQ(order[255], 0x0B);  // VT
    for (size_t i = 223; i < 256; ++i) {
        EXPECT_LT(List()->topLevelItem(static_cast<int>(i) - 1)->text(kName),
                  List()->topLevelItem(static_cast<int>(i))->text(kName));
    }

    // Rows keep their check boxes and values in any order.
    EXPECT_EQ(Row(0x0D)->checkState(kCh), Qt::Unchecked);
    EXPECT_EQ(Row(0x7F)->checkState(kCh), Qt::Checked);
    Row(0x7F)->setCheckState(kCh, Qt::Unchecked);
    EXPECT_FALSE(flags_[0x7F]);
    EXPECT_EQ(changes_, 1);
    List()->setCurrentItem(Row(0x41));
    Button("1")->click();
    EXPECT_EQ(inserted_, std::vector<QString>{QStringLiteral("A")});
}

TEST_F(AsciiListDialogTest, DisabledSortingIgnoresHeaderClicks) {
    List()->SetSortEnabled(false);
    EXPECT_FALSE(List()->IsSortEnabled());
    List()->OnHeaderClicked(kDec);
    List()->OnHeaderClicked(kDec);
    EXPECT_EQ(Order(), Range(0, 255));
    EXPECT_FALSE(List()->SortKey().column.has_value());
}

TEST_F(AsciiListDialogTest, CellColoursAreKeptPerItem) {
    EXPECT_FALSE(List()->ItemColorInfo(5, kName).has_value());
    tagKemListItemColorInfo info;
    info.text = Qt::red;
    info.text_set = true;
    List()->SetItemColorInfo(5, kName, info);
    ASSERT_TRUE(List()->ItemColorInfo(5, kName).has_value());
    EXPECT_EQ(Row(5)->foreground(kName).color(), QColor(Qt::red));
    EXPECT_EQ(Row(5)->background(kName).style(), Qt::NoBrush);
    EXPECT_EQ(changes_, 0);
}

}  // namespace
