// The input box's context sub-menu "插入校验" that inserts checksum names at the caret. Offscreen.
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

void CloseMenu(QMenu* menu) {
    menu->close();
    PumpUntil([] { return QApplication::activePopupWidget() == nullptr; }, 2000);
}

QAction* Entry(QMenu& menu, const QString& text) {
    for (QAction* action : menu.actions()) {
        if (action->text() == text) {
            return action;
        }
    }
    return nullptr;
}

QMenu* ChecksumSubMenu(QMenu& menu) {
    QAction* action = Entry(menu, QStringLiteral("插入校验"));
    return action != nullptr ? action->menu() : nullptr;
}

TEST(ChecksumMenuTest, RightClickInsertsTheNameAtTheCaretAsTheParserReadsIt) {
    kem::testing::EnsureQtApp();
    CKemEditCtrl box;
    box.SetChecksumMenuEnabled(true);
    box.resize(300, 100);
    box.show();
    box.setPlainText(QStringLiteral("\\x01\\x03\\x00\\x0A\\x00\\x02 tail"));
    QTextCursor cursor = box.textCursor();
    cursor.setPosition(24);  // just before " tail"
    box.setTextCursor(cursor);

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
    Entry(*sub, QStringLiteral("CRC16"))->trigger();
    CloseMenu(menu);
    EXPECT_EQ(box.toPlainText(), QStringLiteral("\\x01\\x03\\x00\\x0A\\x00\\x02[CRC16] tail"));
    EXPECT_EQ(box.textCursor().position(), 31);  // after the inserted name

    SendOptions options;
    options.parse_char_name = true;
    options.parse_hex = true;
    const std::string bytes = ParseSendText(
        box.toPlainText().left(box.textCursor().position()).toStdU16String(), options);
    EXPECT_EQ(bytes, std::string("\x01\x03\x00\x0A\x00\x02\xE4\x09", 8));
}

TEST(ChecksumMenuTest, EveryEntryInsertsItsNameAndReplacesASelection) {
    kem::testing::EnsureQtApp();
    CKemEditCtrl box;
    box.SetChecksumMenuEnabled(true);
    for (const ChecksumName& entry : ChecksumNames()) {
        const QString name = QString::fromLatin1(entry.name.data(), entry.name.size());
        SCOPED_TRACE(name.toStdString());
        box.setPlainText(QStringLiteral("ab--cd"));
        QTextCursor cursor = box.textCursor();
        cursor.setPosition(2);
        cursor.setPosition(4, QTextCursor::KeepAnchor);  // "--" selected
        box.setTextCursor(cursor);
        std::unique_ptr<QMenu> menu(box.CreateContextMenu(QPoint(1, 1)));
        QMenu* sub = ChecksumSubMenu(*menu);
        ASSERT_NE(sub, nullptr);
        ASSERT_NE(Entry(*sub, name), nullptr);
        Entry(*sub, name)->trigger();
        EXPECT_EQ(box.toPlainText(), "ab[" + name + "]cd");
        EXPECT_EQ(box.textCursor().position(), 2 + name.size() + 2);
        EXPECT_FALSE(box.textCursor().hasSelection());
    }
}

TEST(ChecksumMenuTest, SubMenuIsOptInAfterTheStandardMenuAndGreyWhenReadOnly) {
    kem::testing::EnsureQtApp();
    CKemEditCtrl box;
    box.setPlainText(QStringLiteral("text"));
    std::unique_ptr<QMenu> standard(box.createStandardContextMenu());
    const int standard_count = static_cast<int>(standard->actions().size());
    ASSERT_GT(standard_count, 0);

    // Off by default: the plain standard menu, also on a real right-click.
    std::unique_ptr<QMenu> plain(box.CreateContextMenu(QPoint(1, 1)));
    EXPECT_EQ(plain->actions().size(), standard_count);
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

    box.setReadOnly(true);
    std::unique_ptr<QMenu> read_only(box.CreateContextMenu(QPoint(1, 1)));
    ASSERT_NE(ChecksumSubMenu(*read_only), nullptr);
    EXPECT_FALSE(ChecksumSubMenu(*read_only)->isEnabled());
}

}  // namespace
