#include "ui/kem_edit_ctrl.h"

#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMetaObject>

#include <algorithm>

namespace {

uint32_t VirtualKeyOf(int qt_key) {
    if (qt_key >= Qt::Key_A && qt_key <= Qt::Key_Z) {
        return static_cast<uint32_t>('A' + (qt_key - Qt::Key_A));
    }
    if (qt_key >= Qt::Key_0 && qt_key <= Qt::Key_9) {
        return static_cast<uint32_t>('0' + (qt_key - Qt::Key_0));
    }
    if (qt_key >= Qt::Key_F1 && qt_key <= Qt::Key_F24) {
        return static_cast<uint32_t>(0x70 + (qt_key - Qt::Key_F1));
    }
    switch (qt_key) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
            return 0x0D;
        case Qt::Key_Backspace:
            return 0x08;
        case Qt::Key_Tab:
        case Qt::Key_Backtab:
            return 0x09;
        case Qt::Key_Escape:
            return 0x1B;
        case Qt::Key_Space:
            return 0x20;
        case Qt::Key_PageUp:
            return 0x21;
        case Qt::Key_PageDown:
            return 0x22;
        case Qt::Key_End:
            return 0x23;
        case Qt::Key_Home:
            return 0x24;
        case Qt::Key_Left:
            return 0x25;
        case Qt::Key_Up:
            return 0x26;
        case Qt::Key_Right:
            return 0x27;
        case Qt::Key_Down:
            return 0x28;
        case Qt::Key_Insert:
            return 0x2D;
        case Qt::Key_Delete:
            return 0x2E;
        default:
            return 0;
    }
}

// The command a key press is bound to, if any.
std::optional<int> BoundCommand(const KeyBindings& bindings, const QEvent* event) {
    if (event->type() != QEvent::KeyPress && event->type() != QEvent::ShortcutOverride) {
        return std::nullopt;
    }
    const uint32_t key = KeyCodeOf(*static_cast<const QKeyEvent*>(event));
    if (key == 0) {
        return std::nullopt;
    }
    return bindings.Find(key);
}

// Handles a bound key for `widget`: a shortcut override is claimed, so the window's shortcuts
// do not take the key; the press itself posts the command. True when the event was bound.
template <typename Widget>
bool HandleBoundKey(Widget* widget, const KeyBindings& bindings, QEvent* event) {
    const std::optional<int> command = BoundCommand(bindings, event);
    if (!command) {
        return false;
    }
    event->accept();
    if (event->type() == QEvent::KeyPress) {
        const int id = *command;
        // Posted, so the owner handles it after this key event, as with a posted message.
        QMetaObject::invokeMethod(
            widget, [widget, id] { emit widget->commandPosted(id); }, Qt::QueuedConnection);
    }
    return true;
}

}  // namespace

uint32_t KeyCodeFromQt(int qt_key, Qt::KeyboardModifiers modifiers) {
    const uint32_t virtual_key = VirtualKeyOf(qt_key);
    if (virtual_key == 0) {
        return 0;
    }
    uint32_t code = virtual_key;
    if (modifiers & Qt::ControlModifier) {
        code |= kKeyCtrlBit;
    }
    if (modifiers & Qt::AltModifier) {
        code |= kKeyAltBit;
    }
    if (modifiers & Qt::ShiftModifier) {
        code |= kKeyShiftBit;
    }
    return code;
}

uint32_t KeyCodeOf(const QKeyEvent& event) {
    return KeyCodeFromQt(event.key(), event.modifiers());
}

void KeyBindings::AddKeyBinding(uint32_t key, int command_id) {
    RemoveKeyBinding(key);
    bindings_.push_back({key, command_id});
}

bool KeyBindings::RemoveKeyBinding(uint32_t key) {
    const auto found = std::find_if(bindings_.begin(), bindings_.end(),
                                    [key](const Binding& b) { return b.key == key; });
    if (found == bindings_.end()) {
        return false;
    }
    bindings_.erase(found);
    return true;
}

void KeyBindings::RemoveAll() {
    bindings_.clear();
}

std::optional<int> KeyBindings::Find(uint32_t key) const {
    const auto found = std::find_if(bindings_.begin(), bindings_.end(),
                                    [key](const Binding& b) { return b.key == key; });
    if (found == bindings_.end()) {
        return std::nullopt;
    }
    return found->command_id;
}

CKemEditCtrl::CKemEditCtrl(QWidget* parent) : QPlainTextEdit(parent) {}

bool CKemEditCtrl::event(QEvent* event) {
    if (HandleBoundKey(this, bindings_, event)) {
        return true;
    }
    return QPlainTextEdit::event(event);
}

void CKemEditCtrl::keyPressEvent(QKeyEvent* event) {
    // A multi-line box takes Ctrl+Enter as a plain line break too, so the key that does not
    // send still edits.
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    const auto modifiers = event->modifiers() & ~Qt::KeypadModifier;
    if (enter && modifiers == Qt::ControlModifier && !isReadOnly()) {
        insertPlainText(QStringLiteral("\n"));
        event->accept();
        return;
    }
    QPlainTextEdit::keyPressEvent(event);
}

void CKemEditCtrl::InsertChecksumName(ChecksumKind kind) {
    for (const ChecksumName& entry : ChecksumNames()) {
        if (entry.kind == kind) {
            const QString name =
                QString::fromLatin1(entry.name.data(), static_cast<qsizetype>(entry.name.size()));
            insertPlainText(QLatin1Char('[') + name + QLatin1Char(']'));
            return;
        }
    }
}

QMenu* CKemEditCtrl::CreateContextMenu(const QPoint& position) {
    QMenu* menu = createStandardContextMenu(position);
    if (!checksum_menu_) {
        return menu;
    }
    menu->addSeparator();
    QMenu* checksums = menu->addMenu(QString::fromUtf16(kInsertChecksumMenuTitle));
    checksums->setObjectName(QStringLiteral("insertChecksumMenu"));
    checksums->setEnabled(!isReadOnly());
    for (const ChecksumName& entry : ChecksumNames()) {
        const QString name =
            QString::fromLatin1(entry.name.data(), static_cast<qsizetype>(entry.name.size()));
        const ChecksumKind kind = entry.kind;
        QAction* action = checksums->addAction(name);
        connect(action, &QAction::triggered, this, [this, kind] { InsertChecksumName(kind); });
    }
    return menu;
}

void CKemEditCtrl::contextMenuEvent(QContextMenuEvent* event) {
    if (!checksum_menu_) {
        QPlainTextEdit::contextMenuEvent(event);
        return;
    }
    // As the standard box does: shown without blocking, gone once closed.
    QMenu* menu = CreateContextMenu(event->pos());
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
    event->accept();
}

CKemLineEdit::CKemLineEdit(QWidget* parent) : QLineEdit(parent) {}

bool CKemLineEdit::event(QEvent* event) {
    if (HandleBoundKey(this, bindings_, event)) {
        return true;
    }
    return QLineEdit::event(event);
}
