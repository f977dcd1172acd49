// The combo box's text selection, its drop-down and selection signals, and the key codes the
// edit boxes bind. Offscreen; the bindings themselves are driven through the windows.
#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>

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

QStringList Split(const char* items) {
    return QString::fromLatin1(items).split(u'|', Qt::SkipEmptyParts);
}

TEST(KemComboBoxTest, SelectTextFindsAddsOrFallsBack) {
    EnsureQtApp();
    const struct {
        const char* items;  // '|' between items
        const char* text;
        int default_index, start;
        bool exact;
        int result;
        const char* items_after;
        const char* shown;
    } rows[] = {
        {"9600|19200", "19200", -1, -1, false, 1, "9600|19200", "19200"},
        {"9600|19200", "19", -1, -1, false, 1, "9600|19200", "19200"},         // prefix
        {"COM1|TCP/IP", "tcp", -1, -1, false, 1, "COM1|TCP/IP", "TCP/IP"},     // any case
        {"COM1|TCP/IP", "tcp/ip", -1, -1, true, 1, "COM1|TCP/IP", "TCP/IP"},   // exact, any case
        {"COM10|COM1", "COM1", -1, -1, true, 1, "COM10|COM1", "COM1"},         // never COM10
        {"COM10|COM1", "COM1", -1, -1, false, 0, "COM10|COM1", "COM10"},       // prefix takes it
        {"COM1|COM10", "COM1", -1, 0, false, 1, "COM1|COM10", "COM10"},        // after start
        {"COM1|COM10", "COM1", -1, 1, false, 0, "COM1|COM10", "COM1"},         // wraps to top
        {"COM1|TCP/IP", "COM7", -1, -1, true, 0, "COM7|COM1|TCP/IP", "COM7"},  // added at top
        {"COM10", "COM1", -1, -1, true, 0, "COM1|COM10", "COM1"},              // exact: added
        {"9600|19200", "250000", 0, -1, false, 0, "9600|19200", "9600"},       // default
        {"9600", "250000", 5, -1, false, 0, "250000|9600", "250000"},          // bad default
        {"A|B", "", 1, -1, false, 1, "A|B", "B"},                              // empty: default
        {"A|B", "", 7, -1, false, -1, "A|B", ""},                              // bad default
        {"", "COM3", -1, -1, true, 0, "COM3", "COM3"},                         // empty list
    };
    for (const bool editable : {true, false}) {
        for (const auto& row : rows) {
            SCOPED_TRACE(std::string(row.items) + " <- " + row.text +
                         (editable ? " editable" : " list"));
            CKemComboBox combo(nullptr, editable);
            combo.addItems(Split(row.items));
            combo.setCurrentIndex(-1);
            EXPECT_EQ(combo.SelectText(row.text, row.default_index, row.start, row.exact),
                      row.result);
            EXPECT_EQ(Items(combo), Split(row.items_after));
            EXPECT_EQ(combo.GetText(), QString::fromLatin1(row.shown));
        }
    }
}

TEST(KemComboBoxTest, EmptyTextWithoutDefaultKeepsAndUnknownTextsAreRemembered) {
    EnsureQtApp();
    CKemComboBox combo;
    combo.addItems({"TCP/IP", "SERVER"});
    combo.setCurrentIndex(1);
    EXPECT_EQ(combo.SelectText(QString(), -1, -1, true), -2);
    EXPECT_EQ(combo.GetText(), "SERVER");
    EXPECT_EQ(combo.InsertedIndex(), -1);
    EXPECT_EQ(combo.SelectText("COM5", -1, -1, true), 0);
    EXPECT_EQ(combo.InsertedIndex(), 0);
    EXPECT_EQ(combo.SelectText("/dev/ttyUSB0", -1, -1, true), 0);
    EXPECT_EQ(combo.InsertedText(), "/dev/ttyUSB0");
    EXPECT_EQ(Items(combo), (QStringList{"/dev/ttyUSB0", "COM5", "TCP/IP", "SERVER"}));
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

TEST(KemComboBoxTest, SelectionChangedIsQueuedForTheUsersChoiceOnly) {
    EnsureQtApp();
    for (const bool editable : {true, false}) {
        SCOPED_TRACE(editable);
        QWidget window;
        auto* combo = new CKemComboBox(&window, editable);
        combo->addItems({"COM1", "COM2", "TCP/IP"});
        combo->setCurrentIndex(0);
        window.show();
        QStringList seen;
        QObject::connect(combo, &CKemComboBox::selectionChanged, combo,
                         [&] { seen << combo->GetText(); });
        Press(combo, Qt::Key_Down);
        EXPECT_TRUE(seen.isEmpty()) << "posted, not sent at once";
        ASSERT_TRUE(PumpUntil([&] { return !seen.isEmpty(); }, 2000));
        Press(combo, Qt::Key_Down);
        ASSERT_TRUE(PumpUntil([&] { return seen.size() == 2; }, 2000));
        EXPECT_EQ(seen, (QStringList{"COM2", "TCP/IP"}));
        // A programmatic selection is not the user's.
        combo->SelectText("COM1", -1, -1, true);
        combo->setCurrentIndex(1);
        Drain();
        EXPECT_EQ(seen.size(), 2);
        if (!editable) {
            continue;
        }
        // Typing, even Enter on a text equal to an item, is no selection and adds nothing.
        combo->lineEdit()->selectAll();
        Press(combo, Qt::Key_C, Qt::NoModifier, "C");
        Press(combo, Qt::Key_O, Qt::NoModifier, "O");
        Press(combo, Qt::Key_M, Qt::ShiftModifier, "M");
        Press(combo, Qt::Key_1, Qt::NoModifier, "1");
        Press(combo, Qt::Key_Return);
        Press(combo->lineEdit(), Qt::Key_Return);
        Drain();
        EXPECT_EQ(combo->GetText(), "COM1");
        EXPECT_EQ(seen.size(), 2);
        EXPECT_EQ(combo->count(), 3);
    }
}

TEST(KeyBindingsTest, KeyCodesOfQtKeys) {
    const struct {
        int key;
        Qt::KeyboardModifiers modifiers;
        uint32_t code;
    } rows[] = {
        {Qt::Key_Return, Qt::NoModifier, 0x0D},
        {Qt::Key_Enter, Qt::KeypadModifier, 0x0D},
        {Qt::Key_Return, Qt::ControlModifier, 0x1000D},
        {Qt::Key_Enter, Qt::ControlModifier | Qt::KeypadModifier, 0x1000D},
        {Qt::Key_A, Qt::AltModifier | Qt::ShiftModifier, 0x60041},
        {Qt::Key_7, Qt::NoModifier, 0x37},
        {Qt::Key_F5, Qt::NoModifier, 0x74},
        {Qt::Key_Delete, Qt::NoModifier, 0x2E},
        {Qt::Key_Escape, Qt::NoModifier, 0x1B},
        {Qt::Key_VolumeUp, Qt::ControlModifier, 0},  // unmapped
    };
    for (const auto& row : rows) {
        EXPECT_EQ(KeyCodeFromQt(row.key, row.modifiers), row.code) << std::hex << row.key;
    }
}

}  // namespace
