// The input controls: the combo box's text selection, its drop-down and selection signals, and
// key bindings of the edit boxes. Offscreen.
#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QStringList>
#include <QWidget>

#include <vector>

#include "gui/qt_app.h"
#include "ui/kem_combo_box.h"
#include "ui/kem_edit_ctrl.h"

namespace {

using kem::testing::EnsureQtApp;
using kem::testing::PumpUntil;

QStringList Items(const QComboBox& combo) {
    QStringList items;
    for (int i = 0; i < combo.count(); ++i) {
        items << combo.itemText(i);
    }
    return items;
}

// Sends a key press and release to `widget`, as the keyboard would.
void Press(QWidget* widget, int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier,
           const QString& text = QString()) {
    QKeyEvent press(QEvent::KeyPress, key, modifiers, text);
    QApplication::sendEvent(widget, &press);
    QKeyEvent release(QEvent::KeyRelease, key, modifiers, text);
    QApplication::sendEvent(widget, &release);
}

// Lets every posted event run.
void Drain() {
    for (int i = 0; i < 5; ++i) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
}

TEST(KemComboBoxTest, SelectTextFindsAddsOrFallsBack) {
    EnsureQtApp();
    struct Row {
        const char* name;
        QStringList items;
        QString text;
        int default_index;
        int start;
        bool exact;
        int result;
        QStringList items_after;
        QString shown;
    };
    const std::vector<Row> rows = {
        {"existing item", {"9600", "19200"}, "19200", -1, -1, false, 1, {"9600", "19200"}, "19200"},
        {"prefix", {"9600", "19200"}, "19", -1, -1, false, 1, {"9600", "19200"}, "19200"},
        {"prefix ignores case",
         {"COM1", "TCP/IP"},
         "tcp",
         -1,
         -1,
         false,
         1,
         {"COM1", "TCP/IP"},
         "TCP/IP"},
        {"exact ignores case",
         {"COM1", "TCP/IP"},
         "tcp/ip",
         -1,
         -1,
         true,
         1,
         {"COM1", "TCP/IP"},
         "TCP/IP"},
        {"exact COM1 never COM10",
         {"COM10", "COM1"},
         "COM1",
         -1,
         -1,
         true,
         1,
         {"COM10", "COM1"},
         "COM1"},
        {"prefix COM1 takes COM10 first",
         {"COM10", "COM1"},
         "COM1",
         -1,
         -1,
         false,
         0,
         {"COM10", "COM1"},
         "COM10"},
        {"search starts after start",
         {"COM1", "COM10"},
         "COM1",
         -1,
         0,
         false,
         1,
         {"COM1", "COM10"},
         "COM10"},
        {"search wraps to the top",
         {"COM1", "COM10"},
         "COM1",
         -1,
         1,
         false,
         0,
         {"COM1", "COM10"},
         "COM1"},
        {"unknown added at top",
         {"COM1", "TCP/IP"},
         "COM7",
         -1,
         -1,
         true,
         0,
         {"COM7", "COM1", "TCP/IP"},
         "COM7"},
        {"unknown exact COM1 on COM10 added",
         {"COM10"},
         "COM1",
         -1,
         -1,
         true,
         0,
         {"COM1", "COM10"},
         "COM1"},
        {"unknown takes default",
         {"9600", "19200"},
         "250000",
         0,
         -1,
         false,
         0,
         {"9600", "19200"},
         "9600"},
        {"default out of range: added",
         {"9600"},
         "250000",
         5,
         -1,
         false,
         0,
         {"250000", "9600"},
         "250000"},
        {"empty with default", {"A", "B"}, "", 1, -1, false, 1, {"A", "B"}, "B"},
        {"empty, default out of range", {"A", "B"}, "", 7, -1, false, -1, {"A", "B"}, ""},
        {"empty list", {}, "COM3", -1, -1, true, 0, {"COM3"}, "COM3"},
    };
    for (const bool editable : {true, false}) {
        for (const auto& row : rows) {
            CKemComboBox combo(nullptr, editable);
            combo.addItems(row.items);
            combo.setCurrentIndex(-1);
            EXPECT_EQ(combo.SelectText(row.text, row.default_index, row.start, row.exact),
                      row.result)
                << row.name << " editable " << editable;
            EXPECT_EQ(Items(combo), row.items_after) << row.name << " editable " << editable;
            EXPECT_EQ(combo.GetText(), row.shown) << row.name << " editable " << editable;
        }
    }
}

TEST(KemComboBoxTest, EmptyTextWithoutDefaultChangesNothing) {
    EnsureQtApp();
    CKemComboBox combo;
    combo.addItems({"COM1", "COM2"});
    combo.setCurrentIndex(1);
    EXPECT_EQ(combo.SelectText(QString(), -1, -1, true), -2);
    EXPECT_EQ(combo.currentIndex(), 1);
    EXPECT_EQ(combo.GetText(), "COM2");
    EXPECT_EQ(combo.count(), 2);
}

TEST(KemComboBoxTest, EachUnknownTextAddsAnotherItemAndIsRemembered) {
    EnsureQtApp();
    CKemComboBox combo;
    combo.addItems({"TCP/IP", "SERVER"});
    EXPECT_EQ(combo.InsertedIndex(), -1);
    EXPECT_EQ(combo.SelectText("COM5", -1, -1, true), 0);
    EXPECT_EQ(combo.InsertedIndex(), 0);
    EXPECT_EQ(combo.InsertedText(), "COM5");
    EXPECT_EQ(combo.SelectText("/dev/ttyUSB0", -1, -1, true), 0);
    EXPECT_EQ(combo.InsertedText(), "/dev/ttyUSB0");
    EXPECT_EQ(Items(combo), (QStringList{"/dev/ttyUSB0", "COM5", "TCP/IP", "SERVER"}));
    EXPECT_EQ(combo.GetText(), "/dev/ttyUSB0");
    // An inserted item is found like any other afterwards.
    EXPECT_EQ(combo.SelectText("com5", -1, -1, true), 1);
    EXPECT_EQ(combo.GetText(), "COM5");
}

TEST(KemComboBoxTest, DropDownIsSignalledBeforeTheListShows) {
    EnsureQtApp();
    QWidget window;
    auto* combo = new CKemComboBox(&window);
    combo->addItem("old");
    window.show();
    bool popup_visible_at_signal = true;
    int signals_seen = 0;
    QObject::connect(combo, &CKemComboBox::dropDown, combo, [&] {
        ++signals_seen;
        popup_visible_at_signal = combo->view()->isVisible();
        // The owner refills the list here.
        const QString remembered = combo->GetText();
        combo->clear();
        combo->addItems({"COM1", "COM2", "TCP/IP", "SERVER"});
        combo->SelectText(remembered, -1, -1, true);
    });
    combo->showPopup();
    EXPECT_EQ(signals_seen, 1);
    EXPECT_FALSE(popup_visible_at_signal);
    EXPECT_TRUE(combo->view()->isVisible());
    EXPECT_EQ(combo->view()->model()->rowCount(), 5);
    EXPECT_EQ(combo->GetText(), "old");
    combo->hidePopup();
}

TEST(KemComboBoxTest, SelectionChangedArrivesQueuedWithTheNewText) {
    EnsureQtApp();
    for (const bool editable : {true, false}) {
        QWidget window;
        auto* combo = new CKemComboBox(&window, editable);
        combo->addItems({"COM1", "COM2", "TCP/IP"});
        combo->setCurrentIndex(0);
        window.show();
        QStringList seen;
        QObject::connect(combo, &CKemComboBox::selectionChanged, combo,
                         [&] { seen << combo->GetText(); });
        Press(combo, Qt::Key_Down);
        EXPECT_TRUE(seen.isEmpty()) << "posted, not sent at once; editable " << editable;
        ASSERT_TRUE(PumpUntil([&] { return !seen.isEmpty(); }, 2000)) << editable;
        EXPECT_EQ(seen, QStringList{"COM2"}) << editable;
        Press(combo, Qt::Key_Down);
        ASSERT_TRUE(PumpUntil([&] { return seen.size() == 2; }, 2000)) << editable;
        EXPECT_EQ(seen.last(), "TCP/IP") << editable;
        // A programmatic selection is not the user's.
        combo->SelectText("COM1", -1, -1, true);
        combo->setCurrentIndex(1);
        Drain();
        EXPECT_EQ(seen.size(), 2) << editable;
    }
}

TEST(KemComboBoxTest, TypingInTheEditFieldIsNoSelection) {
    EnsureQtApp();
    QWidget window;
    auto* combo = new CKemComboBox(&window);
    combo->addItems({"COM1", "COM2"});
    combo->setCurrentIndex(0);
    window.show();
    int changes = 0;
    QObject::connect(combo, &CKemComboBox::selectionChanged, combo, [&] { ++changes; });
    combo->lineEdit()->selectAll();
    Press(combo, Qt::Key_C, Qt::NoModifier, "C");
    Press(combo, Qt::Key_O, Qt::NoModifier, "O");
    Press(combo, Qt::Key_M, Qt::ShiftModifier, "M");
    Press(combo, Qt::Key_2, Qt::NoModifier, "2");
    // Enter on a text that equals an item is still typing.
    Press(combo, Qt::Key_Return);
    Press(combo->lineEdit(), Qt::Key_Return);
    Drain();
    EXPECT_EQ(combo->GetText(), "COM2");
    EXPECT_EQ(changes, 0);
    EXPECT_EQ(combo->count(), 2) << "typed text is not added";
}

TEST(KeyBindingsTest, AddReplacesRemoveAndRemoveAll) {
    KeyBindings bindings;
    bindings.AddKeyBinding(kKeyEnter, 1012);
    bindings.AddKeyBinding(kKeyCtrlEnter, 1013);
    bindings.AddKeyBinding(kKeyEnter, 1014);
    EXPECT_EQ(bindings.size(), 2u);
    EXPECT_EQ(bindings.Find(kKeyEnter), 1014);
    EXPECT_EQ(bindings.Find(kKeyCtrlEnter), 1013);
    EXPECT_FALSE(bindings.Find(0x41).has_value());
    EXPECT_TRUE(bindings.RemoveKeyBinding(kKeyEnter));
    EXPECT_FALSE(bindings.RemoveKeyBinding(kKeyEnter));
    EXPECT_FALSE(bindings.Find(kKeyEnter).has_value());
    bindings.RemoveAll();
    EXPECT_EQ(bindings.size(), 0u);
    EXPECT_FALSE(bindings.Find(kKeyCtrlEnter).has_value());
}

TEST(KeyBindingsTest, KeyCodesOfQtKeys) {
    const struct {
        const char* name;
        int key;
        Qt::KeyboardModifiers modifiers;
        uint32_t code;
    } rows[] = {
        {"return", Qt::Key_Return, Qt::NoModifier, 0x0D},
        {"keypad enter", Qt::Key_Enter, Qt::KeypadModifier, 0x0D},
        {"ctrl+return", Qt::Key_Return, Qt::ControlModifier, 0x1000D},
        {"ctrl+keypad enter", Qt::Key_Enter, Qt::ControlModifier | Qt::KeypadModifier, 0x1000D},
        {"alt+shift+A", Qt::Key_A, Qt::AltModifier | Qt::ShiftModifier, 0x60041},
        {"digit", Qt::Key_7, Qt::NoModifier, 0x37},
        {"F5", Qt::Key_F5, Qt::NoModifier, 0x74},
        {"delete", Qt::Key_Delete, Qt::NoModifier, 0x2E},
        {"escape", Qt::Key_Escape, Qt::NoModifier, 0x1B},
        {"unmapped", Qt::Key_VolumeUp, Qt::ControlModifier, 0},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(KeyCodeFromQt(row.key, row.modifiers), row.code) << row.name;
    }
}

TEST(CKemEditCtrlTest, BoundEnterPostsTheCommandAndAddsNoLineBreak) {
    EnsureQtApp();
    QWidget window;
    auto* edit = new CKemEditCtrl(&window);
    window.show();
    edit->setFocus();
    edit->setPlainText("Demo");
    edit->moveCursor(QTextCursor::End);
    edit->AddKeyBinding(kKeyEnter, 1012);
    std::vector<int> commands;
    QObject::connect(edit, &CKemEditCtrl::commandPosted, edit,
                     [&](int id) { commands.push_back(id); });
    Press(edit, Qt::Key_Return, Qt::NoModifier, "\r");
    EXPECT_TRUE(commands.empty()) << "posted, not sent at once";
    Drain();
    EXPECT_EQ(commands, std::vector<int>{1012});
    EXPECT_EQ(edit->toPlainText(), "Demo");
    // Keypad Enter is the same key.
    Press(edit, Qt::Key_Enter, Qt::KeypadModifier, "\r");
    Drain();
    EXPECT_EQ(commands, (std::vector<int>{1012, 1012}));
    EXPECT_EQ(edit->toPlainText(), "Demo");
    // Ctrl+Enter is not bound: it starts a new line.
    Press(edit, Qt::Key_Return, Qt::ControlModifier, "\r");
    Drain();
    EXPECT_EQ(commands.size(), 2u);
    EXPECT_EQ(edit->toPlainText(), "Demo\n");
    // Other keys type as usual.
    Press(edit, Qt::Key_X, Qt::NoModifier, "x");
    EXPECT_EQ(edit->toPlainText(), "Demo\nx");
}

TEST(CKemEditCtrlTest, SwitchingTheSendKeyRebindsIt) {
    EnsureQtApp();
    QWidget window;
    auto* edit = new CKemEditCtrl(&window);
    window.show();
    edit->AddKeyBinding(kKeyEnter, 1012);
    // The Enter-key-sends box is cleared: Ctrl+Enter sends, Enter breaks the line.
    edit->RemoveKeyBinding(kKeyEnter);
    edit->AddKeyBinding(kKeyCtrlEnter, 1012);
    std::vector<int> commands;
    QObject::connect(edit, &CKemEditCtrl::commandPosted, edit,
                     [&](int id) { commands.push_back(id); });
    Press(edit, Qt::Key_Return, Qt::NoModifier, "\r");
    Press(edit, Qt::Key_Return, Qt::ControlModifier, "\r");
    Drain();
    EXPECT_EQ(commands, std::vector<int>{1012});
    EXPECT_EQ(edit->toPlainText(), "\n");
    edit->RemoveAllKeyBindings();
    Press(edit, Qt::Key_Return, Qt::ControlModifier, "\r");
    Drain();
    EXPECT_EQ(commands.size(), 1u);
    EXPECT_EQ(edit->toPlainText(), "\n\n");
}

TEST(CKemLineEditTest, BoundEnterPressesTheOpenButton) {
    EnsureQtApp();
    QWidget window;
    auto* edit = new CKemLineEdit(&window);
    window.show();
    edit->setText("9600,N,8,1");
    edit->AddKeyBinding(kKeyEnter, 1014);
    std::vector<int> commands;
    int return_pressed = 0;
    QObject::connect(edit, &CKemLineEdit::commandPosted, edit,
                     [&](int id) { commands.push_back(id); });
    QObject::connect(edit, &QLineEdit::returnPressed, edit, [&] { ++return_pressed; });
    Press(edit, Qt::Key_Return, Qt::NoModifier, "\r");
    Drain();
    EXPECT_EQ(commands, std::vector<int>{1014});
    EXPECT_EQ(return_pressed, 0) << "the bound key never reaches the box";
    edit->RemoveKeyBinding(kKeyEnter);
    Press(edit, Qt::Key_Return, Qt::NoModifier, "\r");
    Drain();
    EXPECT_EQ(commands.size(), 1u);
    EXPECT_EQ(return_pressed, 1);
    EXPECT_EQ(edit->text(), "9600,N,8,1");
}

}  // namespace
