// The find bar at the top of the receive display: a text field, "区分大小写" (match case), previous
// and next, and the number of matches. The search runs over the display's model (DisplaySearch),
// never over the widget; the widget only gets highlights, as extra selections, which are not
// part of its text, so saving and copying never see them.
#pragma once

#include <QTimer>
#include <QWidget>

#include <cstddef>

#include "terminal/display_search.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class CKemRichEditCtrl;

// Window thread only.
class FindBar : public QWidget {
    Q_OBJECT

public:
    // Most matches highlighted at once: the visible ones, never more than this.
    static constexpr size_t kMaxHighlights = 4096;

    // A hidden bar in the top of `display`'s frame (its parent, see SetTopBar) that finds in it.
    explicit FindBar(CKemRichEditCtrl* display);

    // Shows the bar, puts the focus into its field with the text selected, and finds.
    void Open();

    // Hides the bar and removes every highlight from the display.
    void Close();

    // In hex mode the field takes hex bytes, found in the bytes a HEX display shows; set it
    // whenever the display's HEX option changes. Finds again when open and the mode changed.
    void SetHexMode(bool hex);
    bool hex_mode() const { return hex_mode_; }

    // Moves to the next (previous) match, wrapping around at the end (start), selects it in
    // the display and scrolls it into view. Without a current match it starts from the
    // display's caret. Nothing happens without matches.
    void FindNext();
    void FindPrevious();

    // What the bar found, for the window and for tests.
    size_t MatchCount() const { return search_.Count(); }
    // Index of the current match; -1 when there is none.
    long CurrentIndex() const { return current_; }
    const DisplaySearch& search() const { return search_; }
    QString CountText() const;
    QLineEdit* field() const { return field_; }

signals:
    // The bar was shown (true) or hidden (false).
    void shownChanged(bool shown);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    // What the bar's own controls leave stops here: the display, its parent, would take keys
    // as bytes to send and clicks as positions in its text.
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void OnQueryChanged();
    void OnDisplaySynced();
    // Updates the matches from the model; drops the current match when they were dropped.
    void UpdateMatches();
    void Step(bool forward);
    void ShowCurrent();
    void ScheduleHighlights();
    void ApplyHighlights();
    void UpdateCountLabel();

    CKemRichEditCtrl* display_;
    QObject* viewport_ = nullptr;
    QLineEdit* field_ = nullptr;
    QCheckBox* match_case_ = nullptr;
    QPushButton* previous_ = nullptr;
    QPushButton* next_ = nullptr;
    QLabel* count_ = nullptr;
    QPushButton* close_ = nullptr;
    QTimer highlight_timer_;

    DisplaySearch search_;
    bool hex_mode_ = false;
    long current_ = -1;
    uint64_t epoch_ = 0;         // the search's epoch current_ belongs to
    bool show_pending_ = false;  // the current match is not in the widget yet
    bool field_marked_invalid_ = false;
};
