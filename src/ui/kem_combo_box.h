// A combo box that shows any text, listed or not, tells its owner before its list drops down
// (so the owner can refill it), and reports a selection change only once its text already
// shows the new item.
#pragma once

#include <QComboBox>
#include <QString>

class QKeyEvent;

// Used on the window's thread only.
class CKemComboBox : public QComboBox {
    Q_OBJECT

public:
    // An editable combo box (the port list: any name may be typed) or, with `editable` false,
    // a drop-down list (the serial choices). Typed text is never added to the list by itself.
    explicit CKemComboBox(QWidget* parent = nullptr, bool editable = true);

    // The current text: the edit field's, or the selected item's for a drop-down list.
    QString GetText() const;

    // Shows `text`: searches the items after `start` (-1: from the top) to the end, then from
    // the top, for one that begins with `text` (or, when `exact`, equals it), ignoring case, and
    // selects it. Else selects `default_index` when it is a valid index. Else sets the text; a
    // non-empty text is inserted as a new item at index 0 (remembered as the inserted item) and
    // selected. An empty text matches no item. Returns the selected index: the found or default
    // item, 0 for an inserted one, -1 when nothing is selected (empty text, no usable default),
    // or -2 without any change when `text` is empty and `default_index` is negative. No
    // selectionChanged() follows. Window's thread.
    int SelectText(const QString& text, int default_index = -1, int start = -1, bool exact = false);

    // The index and text of the item SelectText inserted last (-1 and empty when none).
    int InsertedIndex() const { return inserted_index_; }
    QString InsertedText() const { return inserted_text_; }

    // Emits dropDown() and then shows the list, so the list shows what the owner put in.
    void showPopup() override;

signals:
    // The list is about to drop down.
    void dropDown();
    // The user chose another item (from the list, with the arrow keys or the wheel); queued,
    // so when it arrives GetText() already gives the new item's text. Typing in the edit field
    // and programmatic selections do not emit it.
    void selectionChanged();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void OnActivated(int index);
    void IgnoreActivationsOfThisKey();

    int inserted_index_ = -1;
    QString inserted_text_;
    // True while Enter is being handled in the edit field: the base class takes a typed text
    // that equals an item for a choice of it, which is typing, not a selection.
    bool typing_enter_ = false;
};
