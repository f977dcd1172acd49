#include "ui/custom_entry_dialog.h"

#include <QFontMetrics>
#include <QGridLayout>
#include <QPushButton>

#include <algorithm>
#include <iterator>

#include "terminal/input_box_text.h"
#include "ui/kem_edit_ctrl.h"

namespace {

// Buttons 10 to 18 take the letters A to I as their mnemonics.
QString ButtonLabel(int row) {
    if (row <= 9) {
        return QStringLiteral("&%1").arg(row);
    }
    return QStringLiteral("%1(&%2").arg(row).arg(QChar(u'A' + (row - 10)));
}

std::u16string StoredText(const char16_t (&field)[kCustomEntryUnits]) {
    const auto end = std::find(std::begin(field), std::end(field), u'\0');
    return std::u16string(std::begin(field), end);
}

}  // namespace

CDlgCustomEntry::CDlgCustomEntry(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Custom Entries"));
    setModal(false);
    auto* layout = new QGridLayout(this);
    const int line_height = QFontMetrics(font()).lineSpacing();
    for (int row = 1; row <= kCustomEntryCount; ++row) {
        auto* button = new QPushButton(ButtonLabel(row), this);
        button->setObjectName(QString::number(custom_entry_ids::ButtonId(row)));
        button->setAutoDefault(false);
        auto* box = new CKemEditCtrl(this);
        box->setObjectName(QString::number(custom_entry_ids::EditId(row)));
        box->setPlainText(
            QString::fromStdU16String(StoredText(g_AppConfig.CustomEntries.EntriesData[row - 1])));
        // One line high; a pasted line break still fits and scrolls.
        box->setFixedHeight(line_height + 2 * box->frameWidth() + 8);
        box->setLineWrapMode(QPlainTextEdit::NoWrap);
        box->setTabChangesFocus(true);
        box->AddKeyBinding(kKeyEnter, custom_entry_ids::ButtonId(row));
        box->AddKeyBinding(kKeyCtrlEnter, custom_entry_ids::ButtonId(row));
        boxes_[static_cast<size_t>(row - 1)] = box;
        layout->addWidget(button, row - 1, 0);
        layout->addWidget(box, row - 1, 1);
        connect(button, &QPushButton::clicked, this, [this, row] { OnEntryCommand(row); });
        connect(box, &CKemEditCtrl::commandPosted, this, [this](int id) {
            // The bound key names its row by the button's identifier.
            OnEntryCommand((id - 1043) / 2);
        });
    }
    layout->setColumnStretch(1, 1);
    resize(360, sizeHint().height());
}

CDlgCustomEntry::~CDlgCustomEntry() {
    StoreEntries();
}

CKemEditCtrl* CDlgCustomEntry::entryBox(int row) const {
    if (row < 1 || row > kCustomEntryCount) {
        return nullptr;
    }
    return boxes_[static_cast<size_t>(row - 1)];
}

void CDlgCustomEntry::OnEntryCommand(int row) {
    const CKemEditCtrl* box = entryBox(row);
    if (box == nullptr) {
        return;
    }
    // The box keeps a line break as one '\n'; the send path expects CR LF.
    emit sendText(box->toPlainText().replace(u'\n', QStringLiteral("\r\n")).toStdU16String());
}

void CDlgCustomEntry::StoreEntries() const {
    for (int row = 1; row <= kCustomEntryCount; ++row) {
        const std::u16string text =
            entryBox(row)->toPlainText().replace(u'\n', QStringLiteral("\r\n")).toStdU16String();
        const std::u16string stored = StoredFromInputBox(text, kCustomEntryUnits - 1);
        char16_t(&field)[kCustomEntryUnits] = g_AppConfig.CustomEntries.EntriesData[row - 1];
        std::fill(std::begin(field), std::end(field), u'\0');
        std::copy(stored.begin(), stored.end(), field);
    }
}
