// The ASCII table window: all 256 byte values with their control-character names, check boxes
// that choose which named bytes the receive display shows by name, and insertion of a byte's
// character into the input box.
#pragma once

#include <QDialog>
#include <QString>

#include "terminal/render_options.h"

class CKemListCtrl;
class QTreeWidgetItem;
class UserDialogs;

// Object names of the window's controls (their identifiers in decimal).
namespace ascii_ids {
constexpr int kList = 1028;
constexpr int kSelectFont = 1032;
constexpr int kInsertChar = 1;
constexpr int kHide = 2;
}  // namespace ascii_ids

// Modeless; "隐藏" and closing only hide it. `flags` and `dialogs` belong to the main window and
// must outlive this window. Window's thread only.
class CDlgASCIIList : public QDialog {
    Q_OBJECT

public:
    // Builds the window and fills the list from the name table and `flags`.
    CDlgASCIIList(QWidget* parent, ShowByNameFlags& flags, UserDialogs& dialogs);

    // Inserts the selected row's character: emits insertText with its "Ch" text (empty for
    // byte 0, so the input box only loses its selection). Nothing when no row is selected.
    void OnInsertChar();

    // Asks for a font through the dialog seam, starting at the list's font; a confirmed
    // choice becomes the list's font (not stored).
    void OnSelectFont();

    CKemListCtrl* list() const { return list_; }

signals:
    // A show-by-name flag changed; the main window re-renders the display.
    void showByNameChanged();
    // `text` is to replace the input box's selection (or go in at its caret).
    void insertText(const QString& text);

private:
    void Fill();
    void FitCharColumn();
    void OnItemChanged(QTreeWidgetItem* item, int column);

    ShowByNameFlags& flags_;
    UserDialogs& dialogs_;
    CKemListCtrl* list_ = nullptr;
    bool filling_ = false;
};
