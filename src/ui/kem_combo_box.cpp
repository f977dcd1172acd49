#include "ui/kem_combo_box.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QMetaObject>

namespace {

bool IsEnter(const QEvent* event) {
    if (event->type() != QEvent::KeyPress) {
        return false;
    }
    const int key = static_cast<const QKeyEvent*>(event)->key();
    return key == Qt::Key_Return || key == Qt::Key_Enter;
}

}  // namespace

CKemComboBox::CKemComboBox(QWidget* parent, bool editable) : QComboBox(parent) {
    setEditable(editable);
    if (editable) {
        setInsertPolicy(QComboBox::NoInsert);
        // No completion: the edit field shows exactly what is typed.
        setCompleter(nullptr);
        lineEdit()->installEventFilter(this);
    }
    connect(this, &QComboBox::activated, this, &CKemComboBox::OnActivated);
}

QString CKemComboBox::GetText() const {
    return currentText();
}

int CKemComboBox::SelectText(const QString& text, int default_index, int start, bool exact) {
    if (text.isEmpty() && default_index < 0) {
        return -2;
    }
    const int items = count();
    if (!text.isEmpty() && items > 0) {
        const int first = start >= -1 && start < items ? start + 1 : 0;
        for (int step = 0; step < items; ++step) {
            const int index = (first + step) % items;
            const QString item = itemText(index);
            const bool match = exact ? item.compare(text, Qt::CaseInsensitive) == 0
                                     : item.startsWith(text, Qt::CaseInsensitive);
            if (match) {
                setCurrentIndex(index);
                return index;
            }
        }
    }
    if (default_index >= 0 && default_index < items) {
        setCurrentIndex(default_index);
        return default_index;
    }
    if (text.isEmpty()) {
        setCurrentIndex(-1);
        if (isEditable()) {
            setEditText(text);
        }
        return -1;
    }
    insertItem(0, text);
    inserted_index_ = 0;
    inserted_text_ = text;
    setCurrentIndex(0);
    return 0;
}

void CKemComboBox::showPopup() {
    emit dropDown();
    QComboBox::showPopup();
}

void CKemComboBox::keyPressEvent(QKeyEvent* event) {
    if (IsEnter(event)) {
        IgnoreActivationsOfThisKey();
    }
    QComboBox::keyPressEvent(event);
}

bool CKemComboBox::eventFilter(QObject* watched, QEvent* event) {
    if (watched == lineEdit() && IsEnter(event)) {
        IgnoreActivationsOfThisKey();
    }
    return QComboBox::eventFilter(watched, event);
}

void CKemComboBox::IgnoreActivationsOfThisKey() {
    typing_enter_ = true;
    // Cleared once the key has been handled, whichever widget handled it.
    QMetaObject::invokeMethod(
        this, [this] { typing_enter_ = false; }, Qt::QueuedConnection);
}

void CKemComboBox::OnActivated(int index) {
    if (typing_enter_ || index < 0) {
        return;
    }
    // Posted: the owner reads the text after the base class has finished the change.
    QMetaObject::invokeMethod(
        this, [this] { emit selectionChanged(); }, Qt::QueuedConnection);
}
