// The ASCII table window: its 256 rows and names, the show-by-name check boxes, inserting a
// character, choosing the font, and the typed three-state sorting of its list. Offscreen.
#include <QHeaderView>
#include <QPushButton>
#include <QStyle>
#include <QTreeWidgetItem>

#include "gui/main_window_support.h"
#include "terminal/ctrl_char_table.h"
#include "terminal/render_options.h"
#include "ui/ascii_list_dialog.h"
#include "ui/kem_list_ctrl.h"

namespace {

enum Column { kCh = 0, kDec, kHex, kName, kKey, kRemark };

class AsciiListDialogTest : public MainWindowTest {
protected:
    void SetUp() override {
        MainWindowTest::SetUp();
        flags_ = DefaultShowByName();
        dialog_ = std::make_unique<CDlgASCIIList>(nullptr, flags_, dialogs_);
        QObject::connect(dialog_.get(), &CDlgASCIIList::showByNameChanged, [this] { ++changes_; });
        QObject::connect(dialog_.get(), &CDlgASCIIList::insertText,
                         [this](const QString& text) { inserted_.push_back(text); });
    }

    CKemListCtrl* List() const { return dialog_->findChild<CKemListCtrl*>(QStringLiteral("1028")); }
    QPushButton* Button(const char* id) const {
        return dialog_->findChild<QPushButton*>(QString::fromLatin1(id));
    }

    // The first column also holds the check box: room for it and a wide character.
    bool CharColumnFits() const {
        QStyle* style = List()->style();
        const int check = style->pixelMetric(QStyle::PM_IndicatorWidth) +
                          style->pixelMetric(QStyle::PM_CheckBoxLabelSpacing) +
                          2 * style->pixelMetric(QStyle::PM_FocusFrameHMargin);
        return List()->columnWidth(kCh) >= check + List()->fontMetrics().horizontalAdvance('W');
    }

    // The row currently showing byte `value`.
    QTreeWidgetItem* Row(int value) const {
        for (int i = 0; i < List()->topLevelItemCount(); ++i) {
            if (List()->topLevelItem(i)->text(kDec).toInt() == value) {
                return List()->topLevelItem(i);
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

    void ClickHeader(int column) {
        QHeaderView* header = List()->header();
        const int x = header->sectionViewportPosition(column) + header->sectionSize(column) / 2;
        QTest::mouseClick(header->viewport(), Qt::LeftButton, Qt::NoModifier,
                          QPoint(x, header->height() / 2));
    }

    ShowByNameFlags flags_;
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

TEST_F(AsciiListDialogTest, CaptionsRowsNamesAndStartupChecks) {
    EXPECT_EQ(dialog_->windowTitle(), QStringLiteral("ASCII列表"));
    EXPECT_FALSE(dialog_->isModal());
    ASSERT_NE(List(), nullptr);
    ASSERT_TRUE(Button("1032") && Button("1") && Button("2"));
    EXPECT_EQ(Button("1032")->text(), QStringLiteral("选择字体..."));
    EXPECT_EQ(Button("1")->text(), QStringLiteral("插入字符"));
    EXPECT_TRUE(Button("1")->isDefault());
    EXPECT_EQ(Button("2")->text(), QStringLiteral("隐藏"));
    const QStringList headings = {"Ch", "Dec", "Hex", "Name", "Key", "Remark"};
    ASSERT_EQ(List()->columnCount(), 6);
    for (int c = 0; c < 6; ++c) {
        EXPECT_EQ(List()->headerItem()->text(c), headings[c]);
    }
    EXPECT_TRUE(CharColumnFits());
    EXPECT_EQ(List()->font().pointSizeF(), static_cast<int>(dialog_->font().pointSizeF() * 1.2));

    ASSERT_EQ(List()->topLevelItemCount(), 256);
    for (int v = 0; v < 256; ++v) {
        SCOPED_TRACE(v);
        const QTreeWidgetItem* item = List()->topLevelItem(v);
        EXPECT_EQ(CKemListCtrl::ItemId(item), v);
        EXPECT_EQ(item->text(kDec), QString::number(v));
        EXPECT_EQ(item->text(kHex), QStringLiteral("%1").arg(v, 2, 16, QChar('0')).toUpper());
        EXPECT_EQ(item->text(kCh), v == 0 ? QString() : QString(QChar(char16_t(v))));
        const auto position = FindCtrlCharByCode(static_cast<uint8_t>(v));
        const tagCtrlCharInfo* info =
            position ? &CtrlCharTable()[static_cast<size_t>(*position)] : nullptr;
        EXPECT_EQ(item->text(kName), info ? QString::fromUtf16(info->Name) : QString());
        EXPECT_EQ(item->text(kKey), info ? QString::fromUtf16(info->Key) : QString());
        EXPECT_EQ(item->text(kRemark), info ? QString::fromUtf16(info->Remark) : QString());
        const bool expected = position && v != 0x0A && v != 0x0D && v != 0x20;
        EXPECT_EQ(item->checkState(kCh) == Qt::Checked, expected);
    }
    EXPECT_EQ(Row(0x0D)->text(kName), QStringLiteral("CR"));
    EXPECT_EQ(Row(0x0D)->text(kKey), QStringLiteral("^M"));
    EXPECT_EQ(Row(0x1C)->text(kKey), QStringLiteral("^\\"));
    EXPECT_EQ(Row(0x7F)->text(kRemark), QStringLiteral("delete"));
}

TEST_F(AsciiListDialogTest, CheckBoxFlipsOnlyTheFlagOfANamedByte) {
    const ShowByNameFlags before = flags_;
    Row(0x41)->setCheckState(kCh, Qt::Checked);  // unnamed: nothing changes
    Row(0xFF)->setCheckState(kCh, Qt::Checked);
    EXPECT_EQ(flags_, before);
    EXPECT_EQ(changes_, 0);
    QTreeWidgetItem* del = Row(0x7F);
    del->setCheckState(kCh, Qt::Unchecked);
    EXPECT_FALSE(flags_[0x7F]);
    del->setCheckState(kCh, Qt::Checked);
    EXPECT_TRUE(flags_[0x7F]);
    Row(0x0D)->setCheckState(kCh, Qt::Checked);
    EXPECT_TRUE(flags_[0x0D]);
    EXPECT_EQ(changes_, 3);
    // Other changes of a row are not a check box change.
    del->setSelected(true);
    del->setText(kRemark, QStringLiteral("delete"));
    EXPECT_EQ(changes_, 3);
}

TEST_F(AsciiListDialogTest, InsertByButtonDoubleClickAndEnterAndHideOnlyHides) {
    Button("1")->click();  // no row selected
    EXPECT_TRUE(inserted_.empty());
    List()->setCurrentItem(Row(0x0D));
    Button("1")->click();
    // Byte 0 has no character: the caller's selection goes, nothing comes in.
    List()->setCurrentItem(Row(0));
    Button("1")->click();
    EXPECT_EQ(inserted_, (std::vector<QString>{QStringLiteral("\r"), QString()}));

    dialog_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog_.get()));
    List()->setCurrentItem(Row(0x42));
    List()->scrollToItem(Row(0x42));
    const QPoint at = List()->visualItemRect(Row(0x42)).center();
    // A double click as the mouse delivers it: press, release, then the second press.
    QTest::mousePress(List()->viewport(), Qt::LeftButton, Qt::NoModifier, at);
    QTest::mouseRelease(List()->viewport(), Qt::LeftButton, Qt::NoModifier, at);
    QTest::mouseDClick(List()->viewport(), Qt::LeftButton, Qt::NoModifier, at);
    List()->setFocus();
    QTest::keyClick(List(), Qt::Key_Return);
    ASSERT_EQ(inserted_.size(), 4u);
    EXPECT_EQ(inserted_[2], QStringLiteral("B"));
    EXPECT_EQ(inserted_[3], QStringLiteral("B"));
    EXPECT_TRUE(dialog_->isVisible());
    Button("2")->click();
    EXPECT_FALSE(dialog_->isVisible());
    EXPECT_EQ(List()->topLevelItemCount(), 256);
}

TEST_F(AsciiListDialogTest, SelectFontAppliesOnlyAConfirmedChoice) {
    const QFont before = List()->font();
    Button("1032")->click();  // chooser cancelled
    ASSERT_EQ(dialogs_.font_requests.size(), 1u);
    EXPECT_EQ(dialogs_.font_requests[0].face, before.family().toStdU16String());
    EXPECT_EQ(List()->font(), before);

    DisplayStyleFormat chosen;
    chosen.face = u"Courier";
    chosen.size_tenths = 300;
    chosen.bold = true;
    dialogs_.font = chosen;
    Button("1032")->click();
    EXPECT_EQ(List()->font().family(), QStringLiteral("Courier"));
    EXPECT_EQ(List()->font().pointSizeF(), 30.0);
    EXPECT_TRUE(List()->font().bold());
    EXPECT_FALSE(List()->font().italic());
    EXPECT_TRUE(CharColumnFits()) << "the first column follows the larger font";
}

TEST_F(AsciiListDialogTest, HeaderClicksSortTypedInThreeStates) {
    dialog_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog_.get()));
    QHeaderView* header = List()->header();
    EXPECT_FALSE(header->isSortIndicatorShown());
    // Dec sorts as numbers (as text "10" would come before "2"); the fourth click starts over.
    const struct {
        std::vector<int> order;
        ListHeaderArrow arrow;
    } clicks[] = {{Range(0, 255), ListHeaderArrow::kUp},
                  {Range(255, 0), ListHeaderArrow::kDown},
                  {Range(0, 255), ListHeaderArrow::kNone},
                  {Range(0, 255), ListHeaderArrow::kUp}};
    for (const auto& click : clicks) {
        ClickHeader(kDec);
        EXPECT_EQ(Order(), click.order);
        EXPECT_EQ(List()->HeaderArrow(kDec), click.arrow);
        EXPECT_EQ(header->isSortIndicatorShown(), click.arrow != ListHeaderArrow::kNone);
        if (click.arrow != ListHeaderArrow::kNone) {
            EXPECT_EQ(header->sortIndicatorOrder(), click.arrow == ListHeaderArrow::kUp
                                                        ? Qt::AscendingOrder
                                                        : Qt::DescendingOrder);
        }
    }

    // Another column starts ascending as text, the unnamed rows (empty) first.
    ClickHeader(kName);
    EXPECT_EQ(List()->HeaderArrow(kName), ListHeaderArrow::kUp);
    EXPECT_EQ(List()->HeaderArrow(kDec), ListHeaderArrow::kNone);
    EXPECT_EQ(header->sortIndicatorSection(), kName);
    const std::vector<int> order = Order();
    EXPECT_EQ(order[0], 0x21);
    EXPECT_EQ(order[222], 0x06);  // ACK
    EXPECT_EQ(order[255], 0x0B);  // VT
    for (int i = 223; i < 256; ++i) {
        EXPECT_LT(List()->topLevelItem(i - 1)->text(kName), List()->topLevelItem(i)->text(kName));
    }
    // Rows keep their values in any order.
    List()->setCurrentItem(Row(0x41));
    Button("1")->click();
    EXPECT_EQ(inserted_, std::vector<QString>{QStringLiteral("A")});

    // Sorting switched off: header clicks change nothing.
    List()->SetSortEnabled(false);
    const std::vector<int> frozen = Order();
    List()->OnHeaderClicked(kDec);
    EXPECT_EQ(Order(), frozen);
}

}  // namespace
