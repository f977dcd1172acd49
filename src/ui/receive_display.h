// The receive display: a read-only, selectable QPlainTextEdit that mirrors a DisplayModel.
// Runs go into the model at once and into the widget in batches, at most one insertion per
// frame within a time budget, so a flooding link never freezes the window and nothing is lost.
#pragma once

#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QTextCharFormat>
#include <QTimer>

#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "terminal/display_model.h"
#include "terminal/display_style_format.h"

class QMenu;

// The rich display with a size limit and the standard edit menu. Window thread only.
class CKemRichEditCtrl : public QPlainTextEdit {
    Q_OBJECT

public:
    // Menu command identifiers; also the object names of the menu actions.
    enum Command : int {
        kCmdUndo = 101,
        kCmdCut = 102,
        kCmdCopy = 103,
        kCmdPaste = 104,
        kCmdClear = 105,
        kCmdSelectAll = 106,
        kCmdSelectFont = 107,
        kCmdRefresh = 110,
    };

    // The widget counts as backlogged when this many units wait for it.
    static constexpr size_t kBacklogUnits = size_t{1} << 20;
    static constexpr int kFrameMs = 16;
    static constexpr int kBatchBudgetMs = 10;

    explicit CKemRichEditCtrl(QWidget* parent = nullptr);
    ~CKemRichEditCtrl() override;

    // Adds `runs` to the model now (clearing at the limit before each run) and schedules them
    // for the widget: the next batch comes at most one frame after the last. Never drops text.
    void AppendRuns(const RunList& runs);

    // Replaces everything shown by `runs` in one insertion, with no repaint in between.
    void ShowAll(const RunList& runs);

    // Empties the model and the widget now.
    void ClearDisplay();

    // Shown units above which the next run empties the display; 0 or less: no limit.
    void SetClearLimit(int32_t units) { model_.SetClearLimit(units); }
    int32_t ClearLimit() const { return model_.ClearLimit(); }

    // Sets the six styles used for text inserted from now on (a re-show applies them to all).
    // A face the system lacks is substituted; it never fails.
    void SetStyles(const DisplayStyleTable& styles);
    const DisplayStyleTable& Styles() const { return styles_; }

    // Puts everything pending into the widget now (before saving, and for tests).
    void FlushNow();

    // True while the widget is more than kBacklogUnits units behind the model: that many wait
    // for it, or arrived since its last batch (with a size limit most of them are dropped
    // before it sees them, but taking them in still costs the window). caughtUp() follows
    // when that is over. The window stops taking in traffic meanwhile.
    bool Backlogged() const {
        return model_.PendingUnits() > kBacklogUnits || arrived_since_batch_ > kBacklogUnits;
    }

    // Units put into the widget since construction (across clears): for throughput figures.
    uint64_t InsertedUnits() const { return inserted_units_; }

    // Whole text for saving, from the model: ANSI with CR LF, and RTF in the current styles.
    std::string PlainTextAnsi() const { return model_.PlainTextAnsi(); }
    std::string Rtf() const { return model_.Rtf(styles_); }

    // The selected text with breaks as '\n' and without the display's own breaks.
    QString SelectedText() const;

    const DisplayModel& model() const { return model_; }

    // Units of the model's ShownText that the widget holds now, as document positions 0 to
    // this; 0 while a reset is owed to it (it still shows text the model dropped).
    size_t SyncedUnits() const {
        return model_.ResetPending() ? 0 : model_.TotalUnits() - model_.PendingUnits();
    }

    // A new menu for the context menu, its actions named by command id and enabled as the
    // state allows, each connected to ExecuteCommand. The caller owns it.
    virtual QMenu* BuildContextMenu();

    // Shows BuildContextMenu() at `global_position` (non-blocking; the menu deletes itself).
    virtual void ShowContextMenu(const QPoint& global_position);

    // Runs menu command `id`; unknown ids do nothing.
    virtual void ExecuteCommand(int id);

    // Makes `bar`, a child of this control, a bar at the top of its frame: while the bar is
    // shown the text area gives it its height, and takes the room back when it is hidden.
    // LayoutTopBar after showing or hiding it.
    void SetTopBar(QWidget* bar);
    void LayoutTopBar();

signals:
    // The widget was backlogged and has caught up.
    void caughtUp();

    // The widget took changes from the model (new text, a reset or both): at most once a
    // frame while text arrives, and after every ShowAll and ClearDisplay.
    void synced();

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool viewportEvent(QEvent* event) override;
    QMimeData* createMimeDataFromSelection() const override;

    // Adds the entry `id` named `text` to `menu`.
    QAction* AddCommand(QMenu* menu, int id, const QString& text, bool enabled);
    bool HasSelection() const { return textCursor().hasSelection(); }
    void CopySelection();

private:
    void ScheduleFlush();
    void FlushBatch();
    // Takes at most `max_units` from the model and puts them into the widget; returns them.
    size_t InsertChanges(size_t max_units);
    void NoteBacklog(bool was_backlogged);

    DisplayModel model_;
    DisplayStyleTable styles_;
    std::array<QTextCharFormat, kDisplayStyleCount> formats_;
    QTimer flush_timer_;
    QElapsedTimer last_flush_;
    double units_per_ms_ = 2048.0;  // measured insertion speed, sizes the next batch
    uint64_t inserted_units_ = 0;
    size_t arrived_since_batch_ = 0;  // units appended to the model since the last batch
    bool was_backlogged_ = false;
    QWidget* top_bar_ = nullptr;
    int top_margin_ = 0;
};

// The main window's receive display, object name "1000": its own menu, paste as bytes to send,
// and every key first offered to the window's filter.
class CMyRichEditCtrl : public CKemRichEditCtrl {
    Q_OBJECT

public:
    explicit CMyRichEditCtrl(QWidget* parent = nullptr);

    // Offered every key press (released false) and release (true) first; true swallows it.
    std::function<bool(QKeyEvent*, bool released)> key_filter;

    // Asked before a key would run a window shortcut; true keeps the key for the display
    // (and key_filter), so a key the display sends is never taken by the window.
    std::function<bool(const QKeyEvent*)> keeps_shortcut;

    QMenu* BuildContextMenu() override;

    // 103 copy, 104 paste (pasteBytes), 105 clearRequested, 106 select all,
    // 110 refreshRequested.
    void ExecuteCommand(int id) override;

signals:
    // The clipboard's text in the ANSI code page, to be sent; never empty.
    void pasteBytes(const std::string& bytes);
    void refreshRequested();
    void clearRequested();

protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
};
