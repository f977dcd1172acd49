#include "ui/ascii_list_dialog.h"

#include <QFont>
#include <QHBoxLayout>
#include <QPushButton>
#include <QStyle>
#include <QTreeWidgetItem>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <optional>

#include "terminal/ctrl_char_table.h"
#include "terminal/display_style_format.h"
#include "terminal/list_sort.h"
#include "terminal/user_dialogs.h"
#include "ui/kem_list_ctrl.h"

namespace {

enum Column { kCh = 0, kDec, kHex, kName, kKey, kRemark };

// The first column's width in the list view's own terms; FitCharColumn may widen it.
constexpr int kChWidth = 32;

// The check state the handler last saw on a row, so that only a real change of the box acts
// (the list reports every change of a row's data the same way).
constexpr int kLastCheckRole = Qt::UserRole + 101;

QString Q(const char16_t* text) {
    return QString::fromUtf16(text);
}

}  // namespace

CDlgASCIIList::CDlgASCIIList(QWidget* parent, ShowByNameFlags& flags, UserDialogs& dialogs)
    : QDialog(parent), flags_(flags), dialogs_(dialogs) {
    setWindowTitle(QStringLiteral("ASCII列表"));
    setModal(false);

    list_ = new CKemListCtrl(this);
    list_->setObjectName(QString::number(ascii_ids::kList));
    auto* select_font = new QPushButton(QStringLiteral("选择字体..."), this);
    select_font->setObjectName(QString::number(ascii_ids::kSelectFont));
    select_font->setAutoDefault(false);
    auto* insert = new QPushButton(QStringLiteral("插入字符"), this);
    insert->setObjectName(QString::number(ascii_ids::kInsertChar));
    insert->setDefault(true);
    auto* hide_button = new QPushButton(QStringLiteral("隐藏"), this);
    hide_button->setObjectName(QString::number(ascii_ids::kHide));
    hide_button->setAutoDefault(false);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(select_font);
    buttons->addStretch(1);
    buttons->addWidget(insert);
    buttons->addWidget(hide_button);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(list_, 1);
    layout->addLayout(buttons);
    resize(420, 480);

    Fill();

    connect(select_font, &QPushButton::clicked, this, &CDlgASCIIList::OnSelectFont);
    connect(insert, &QPushButton::clicked, this, &CDlgASCIIList::OnInsertChar);
    connect(hide_button, &QPushButton::clicked, this, &QDialog::hide);
    // Enter in the list reaches the default button; a double click inserts too.
    connect(list_, &QTreeWidget::itemDoubleClicked, this, [this] { OnInsertChar(); });
    connect(list_, &QTreeWidget::itemChanged, this, &CDlgASCIIList::OnItemChanged);
}

void CDlgASCIIList::Fill() {
    filling_ = true;
    list_->AddColumn(QStringLiteral("Ch"), kChWidth);
    list_->AddColumn(QStringLiteral("Dec"), 36);
    list_->AddColumn(QStringLiteral("Hex"), 36);
    list_->AddColumn(QStringLiteral("Name"), 44);
    list_->AddColumn(QStringLiteral("Key"), 36);
    list_->AddColumn(QStringLiteral("Remark"), 152);
    const auto& table = CtrlCharTable();
    for (int v = 0; v < 256; ++v) {
        QStringList cells;
        // Byte 0 has no character to show or insert.
        cells << (v == 0 ? QString() : QString(QChar(static_cast<char16_t>(v))))
              << QString::number(v) << QStringLiteral("%1").arg(v, 2, 16, QChar(u'0')).toUpper();
        const std::optional<int> position = FindCtrlCharByCode(static_cast<uint8_t>(v));
        if (position) {
            const tagCtrlCharInfo& info = table[static_cast<size_t>(*position)];
            cells << Q(info.Name) << Q(info.Key) << Q(info.Remark);
        }
        QTreeWidgetItem* item = list_->AppendRow(cells);
        const bool shown = position.has_value() && flags_[static_cast<size_t>(v)];
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(kCh, shown ? Qt::Checked : Qt::Unchecked);
        item->setData(kCh, kLastCheckRole, shown);
    }
    list_->SetColumnType(kDec, ListColumnType::kInteger);

    // A larger font than the dialog's, so the control characters' names read easily.
    QFont font = list_->font();
    if (font.pointSizeF() > 0) {
        font.setPointSizeF(std::trunc(font.pointSizeF() * 1.2));
    } else if (font.pixelSize() > 0) {
        font.setPixelSize(static_cast<int>(font.pixelSize() * 1.2));
    }
    list_->setFont(font);
    FitCharColumn();
    filling_ = false;
}

void CDlgASCIIList::FitCharColumn() {
    // The check box shares the first column with the character, and a Qt check box takes
    // more room than a list view's state image: the column grows until the character shows.
    QStyle* style = list_->style();
    const int check = style->pixelMetric(QStyle::PM_IndicatorWidth) +
                      style->pixelMetric(QStyle::PM_CheckBoxLabelSpacing) +
                      2 * style->pixelMetric(QStyle::PM_FocusFrameHMargin);
    const int glyph = list_->fontMetrics().horizontalAdvance(QChar(u'W'));
    list_->setColumnWidth(kCh, std::max(kChWidth, check + glyph));
}

void CDlgASCIIList::OnItemChanged(QTreeWidgetItem* item, int column) {
    if (filling_ || item == nullptr || column != kCh) {
        return;
    }
    const bool checked = item->checkState(kCh) == Qt::Checked;
    if (item->data(kCh, kLastCheckRole).toBool() == checked) {
        return;
    }
    item->setData(kCh, kLastCheckRole, checked);
    // The value comes from the "Dec" cell, which stays right in any sort order.
    bool ok = false;
    const int value = item->text(kDec).toInt(&ok);
    if (!ok || value < 0 || value > 255 || !FindCtrlCharByCode(static_cast<uint8_t>(value))) {
        return;
    }
    flags_[static_cast<size_t>(value)] = checked;
    emit showByNameChanged();
}

void CDlgASCIIList::OnInsertChar() {
    const QList<QTreeWidgetItem*> selected = list_->selectedItems();
    if (selected.isEmpty()) {
        return;
    }
    emit insertText(selected.front()->text(kCh));
}

void CDlgASCIIList::OnSelectFont() {
    const QFont current = list_->font();
    DisplayStyleFormat initial;
    initial.face = current.family().toStdU16String();
    initial.size_tenths =
        current.pointSizeF() > 0 ? static_cast<int32_t>(std::lround(current.pointSizeF() * 10)) : 0;
    initial.bold = current.bold();
    initial.italic = current.italic();
    const std::optional<DisplayStyleFormat> chosen = dialogs_.ChooseFont(initial);
    if (!chosen) {
        return;
    }
    QFont font = current;
    if (!chosen->face.empty()) {
        font.setFamily(QString::fromStdU16String(chosen->face));
    }
    if (chosen->size_tenths > 0) {
        font.setPointSizeF(chosen->size_tenths / 10.0);
    }
    font.setBold(chosen->bold);
    font.setItalic(chosen->italic);
    list_->setFont(font);
    FitCharColumn();
}
