// The input box's context sub-menu that inserts checksum names at the caret. Offscreen.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QMenu>
#include <QTextCursor>

#include <memory>

#include "gui/qt_app.h"
#include "terminal/send_parser.h"
#include "ui/kem_edit_ctrl.h"

namespace {

using kem::testing::EnsureQtApp;
using kem::testing::PumpUntil;

// Right-clicks the box's viewport, as the mouse would, and returns the menu that pops up.
QMenu* RightClick(CKemEditCtrl& box) {
    const QPoint where(10, 10);
    QContextMenuEvent event(QContextMenuEvent::Mouse, where, box.viewport()->mapToGlobal(where));
    QApplication::sendEvent(box.viewport(), &event);
    PumpUntil([] { return qobject_cast<QMenu*>(QApplication::activePopupWidget()) != nullptr; },
              2000);
    return qobject_cast<QMenu*>(QApplication::activePopupWidget());
}

QMenu* ChecksumSubMenu(QMenu& menu) {
    for (QAction* action : menu.actions()) {
        if (action->menu() != nullptr &&
            action->text() == QString::fromUtf16(kInsertChecksumMenuTitle)) {
            return action->menu();
        }
    }
    return nullptr;
}

QAction* Entry(QMenu& sub, const QString& text) {
    for (QAction* action : sub.actions()) {
        if (action->text() == text) {
            return action;
        }
    }
    return nullptr;
}

void CloseMenu(QMenu* menu) {
    menu->close();
    PumpUntil([] { return QApplication::activePopupWidget() == nullptr; }, 2000);
}

void PlaceCaret(CKemEditCtrl& box, int position) {
    QTextCursor cursor = box.textCursor();
    cursor.setPosition(position);
    box.setTextCursor(cursor);
}

TEST(ChecksumMenuTest, RightClickMenuInsertsTheNameAtTheCaret) {
    EnsureQtApp();
    CKemEditCtrl box;
    box.SetChecksumMenuEnabled(true);
    box.resize(300, 100);
    box.show();
    box.setPlainText(QStringLiteral("\\x01\\x03\\x00\\x0A\\x00\\x02 tail"));
    PlaceCaret(box, 24);  // just before " tail"

    QMenu* menu = RightClick(box);
    ASSERT_NE(menu, nullptr);
    QMenu* sub = ChecksumSubMenu(*menu);
    ASSERT_NE(sub, nullptr);
    EXPECT_TRUE(sub->isEnabled());
    QStringList names;
    for (QAction* action : sub->actions()) {
        names << action->text();
    }
    EXPECT_EQ(names, (QStringList{"CRC16", "CRC16CCITT", "CRC8", "SUM8", "XOR8", "LRC"}));

    QAction* crc16 = Entry(*sub, QStringLiteral("CRC16"));
    ASSERT_NE(crc16, nullptr);
    crc16->trigger();
    CloseMenu(menu);
    EXPECT_EQ(box.toPlainText(), QStringLiteral("\\x01\\x03\\x00\\x0A\\x00\\x02[CRC16] tail"));
    EXPECT_EQ(box.textCursor().position(), 31);  // after the inserted name

    // What was inserted is what the send parser understands.
    SendOptions options;
    options.parse_char_name = true;
    options.parse_hex = true;
    const std::string bytes = ParseSendText(
        box.toPlainText().left(box.textCursor().position()).toStdU16String(), options);
    EXPECT_EQ(bytes, std::string("\x01\x03\x00\x0A\x00\x02\xE4\x09", 8));
}

TEST(ChecksumMenuTest, EveryEntryInsertsItsNameAndReplacesASelection) {
    EnsureQtApp();
    CKemEditCtrl box;
    box.SetChecksumMenuEnabled(true);
    for (const ChecksumName& entry : ChecksumNames()) {
        const QString name = QString::fromLatin1(entry.name.data(), entry.name.size());
        box.setPlainText(QStringLiteral("ab--cd"));
        QTextCursor cursor = box.textCursor();
        cursor.setPosition(2);
        cursor.setPosition(4, QTextCursor::KeepAnchor);  // "--" selected
        box.setTextCursor(cursor);
        std::unique_ptr<QMenu> menu(box.CreateContextMenu(QPoint(1, 1)));
        QMenu* sub = ChecksumSubMenu(*menu);
        ASSERT_NE(sub, nullptr);
        QAction* action = Entry(*sub, name);
        ASSERT_NE(action, nullptr) << name.toStdString();
        action->trigger();
        EXPECT_EQ(box.toPlainText(), "ab[" + name + "]cd");
        EXPECT_EQ(box.textCursor().position(), 2 + name.size() + 2);
        EXPECT_FALSE(box.textCursor().hasSelection());
    }
}

TEST(ChecksumMenuTest, StandardMenuIsKeptAndTheSubMenuIsOptIn) {
    EnsureQtApp();
    CKemEditCtrl box;
    box.setPlainText(QStringLiteral("text"));
    std::unique_ptr<QMenu> standard(box.createStandardContextMenu());
    const int standard_count = static_cast<int>(standard->actions().size());
    ASSERT_GT(standard_count, 0);

    // Off by default: the plain standard menu, also on a real right-click.
    EXPECT_FALSE(box.checksumMenuEnabled());
    std::unique_ptr<QMenu> plain(box.CreateContextMenu(QPoint(1, 1)));
    EXPECT_EQ(plain->actions().size(), standard_count);
    EXPECT_EQ(ChecksumSubMenu(*plain), nullptr);
    box.resize(300, 100);
    box.show();
    QMenu* shown = RightClick(box);
    ASSERT_NE(shown, nullptr);
    EXPECT_EQ(ChecksumSubMenu(*shown), nullptr);
    CloseMenu(shown);

    // On: every standard entry, in order, then a separator and the sub-menu.
    box.SetChecksumMenuEnabled(true);
    std::unique_ptr<QMenu> full(box.CreateContextMenu(QPoint(1, 1)));
    ASSERT_EQ(full->actions().size(), standard_count + 2);
    for (int i = 0; i < standard_count; ++i) {
        EXPECT_EQ(full->actions()[i]->text(), standard->actions()[i]->text()) << i;
    }
    EXPECT_TRUE(full->actions()[standard_count]->isSeparator());
    EXPECT_NE(ChecksumSubMenu(*full), nullptr);
}

TEST(ChecksumMenuTest, ReadOnlyBoxOffersNoInsertion) {
    EnsureQtApp();
    CKemEditCtrl box;
    box.SetChecksumMenuEnabled(true);
    box.setPlainText(QStringLiteral("fixed"));
    box.setReadOnly(true);
    std::unique_ptr<QMenu> menu(box.CreateContextMenu(QPoint(1, 1)));
    QMenu* sub = ChecksumSubMenu(*menu);
    ASSERT_NE(sub, nullptr);
    EXPECT_FALSE(sub->isEnabled());
}

}  // namespace
