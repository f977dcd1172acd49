// Edit boxes in which chosen key combinations press a button: the multi-line input box and the
// one-line parameter box bind a key (Enter, Ctrl+Enter) to a command, posted to the owner.
#pragma once

#include <QLineEdit>
#include <QPlainTextEdit>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "terminal/checksum.h"

class QContextMenuEvent;
class QKeyEvent;
class QMenu;

// Key codes: the virtual-key code in bits 0-7 (Enter 0x0D, 'A' 0x41, F1 0x70 ...), plus one
// bit for each modifier held.
constexpr uint32_t kKeyCtrlBit = 0x10000;
constexpr uint32_t kKeyAltBit = 0x20000;
constexpr uint32_t kKeyShiftBit = 0x40000;
constexpr uint32_t kKeyEnter = 0x0D;
constexpr uint32_t kKeyCtrlEnter = kKeyCtrlBit | kKeyEnter;

// The key code of a Qt key with `modifiers`: Return and keypad Enter both give 0x0D; letters,
// digits, F1-F24, Escape, Tab, Backspace, Space, Insert, Delete, Home, End, Page Up/Down and the
// arrows give their virtual-key codes. 0 for any other key (it can never be bound). Pure;
// any thread.
uint32_t KeyCodeFromQt(int qt_key, Qt::KeyboardModifiers modifiers);

// The key code of a key event (its key and modifiers). Pure; any thread.
uint32_t KeyCodeOf(const QKeyEvent& event);

// At most one command per key code, in the order added. Window's thread.
class KeyBindings {
public:
    // Binds `key` to `command_id`, replacing the key's binding if it has one.
    void AddKeyBinding(uint32_t key, int command_id);
    // Removes the binding of `key`; false when it had none.
    bool RemoveKeyBinding(uint32_t key);
    void RemoveAll();
    // The command bound to `key`, if any.
    std::optional<int> Find(uint32_t key) const;
    size_t size() const { return bindings_.size(); }

private:
    struct Binding {
        uint32_t key;
        int command_id;
    };
    std::vector<Binding> bindings_;
};

// The title of the input box's context sub-menu that inserts checksum names.
inline constexpr char16_t kInsertChecksumMenuTitle[] = u"插入校验";

// The multi-line input box. A key press whose code is bound never reaches the text (no line
// break) and posts commandPosted(command) to be delivered after the current event; other keys
// edit as usual (an unbound Enter or Ctrl+Enter starts a new line). Optionally its context
// menu offers the checksum names the send parser understands. Window's thread.
class CKemEditCtrl : public QPlainTextEdit {
    Q_OBJECT

public:
    explicit CKemEditCtrl(QWidget* parent = nullptr);

    // See KeyBindings.
    void AddKeyBinding(uint32_t key, int command_id) { bindings_.AddKeyBinding(key, command_id); }
    bool RemoveKeyBinding(uint32_t key) { return bindings_.RemoveKeyBinding(key); }
    void RemoveAllKeyBindings() { bindings_.RemoveAll(); }
    const KeyBindings& keyBindings() const { return bindings_; }

    // Off by default. When on, the context menu is the standard edit menu followed by the
    // sub-menu kInsertChecksumMenuTitle, one entry per checksum name in ChecksumNames() order;
    // choosing one calls InsertChecksumName. The sub-menu is disabled while the box is
    // read-only.
    void SetChecksumMenuEnabled(bool enabled) { checksum_menu_ = enabled; }
    bool checksumMenuEnabled() const { return checksum_menu_; }

    // Types "[NAME]" (the name in upper case) at the caret, replacing a selection as typing
    // does, and leaves the caret after it. Undoable like typing.
    void InsertChecksumName(ChecksumKind kind);

    // The context menu for a click at `position` (viewport coordinates): the standard one, plus
    // the checksum sub-menu when enabled. The caller owns it; its parent is this box.
    QMenu* CreateContextMenu(const QPoint& position);

signals:
    // A bound key was pressed; queued, like a posted window message.
    void commandPosted(int command_id);

protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    KeyBindings bindings_;
    bool checksum_menu_ = false;
};

// The one-line parameter box, with the same key bindings as CKemEditCtrl. Window's thread.
class CKemLineEdit : public QLineEdit {
    Q_OBJECT

public:
    explicit CKemLineEdit(QWidget* parent = nullptr);

    // See KeyBindings.
    void AddKeyBinding(uint32_t key, int command_id) { bindings_.AddKeyBinding(key, command_id); }
    bool RemoveKeyBinding(uint32_t key) { return bindings_.RemoveKeyBinding(key); }
    void RemoveAllKeyBindings() { bindings_.RemoveAll(); }
    const KeyBindings& keyBindings() const { return bindings_; }

signals:
    // A bound key was pressed; queued, like a posted window message.
    void commandPosted(int command_id);

protected:
    bool event(QEvent* event) override;

private:
    KeyBindings bindings_;
};
