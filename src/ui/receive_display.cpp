#include "ui/receive_display.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFont>
#include <QFontDialog>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QScrollBar>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>

#include "terminal/send_parser.h"

namespace {

QString ToQString(std::u16string_view text) {
    return QString(reinterpret_cast<const QChar*>(text.data()),
                   static_cast<qsizetype>(text.size()));
}

// The default face is a Windows font; point Qt at the Chinese-capable faces a Linux desktop has.
void InstallFaceSubstitutes() {
    static const bool installed = [] {
        QFont::insertSubstitutions(
            QStringLiteral("新宋体"),
            {QStringLiteral("NSimSun"), QStringLiteral("WenQuanYi Micro Hei Mono"),
             QStringLiteral("Noto Sans Mono CJK SC"), QStringLiteral("WenQuanYi Micro Hei"),
             QStringLiteral("Noto Sans CJK SC"), QStringLiteral("monospace")});
        return true;
    }();
    (void)installed;
}

QTextCharFormat ToCharFormat(const DisplayStyleFormat& style) {
    QTextCharFormat format;
    format.setForeground(QColor(static_cast<int>(style.colour & 0xFF),
                                static_cast<int>((style.colour >> 8) & 0xFF),
                                static_cast<int>((style.colour >> 16) & 0xFF)));
    if (!style.face.empty()) {
        format.setFontFamilies(QStringList{ToQString(style.face)});
    }
    if (style.size_tenths > 0) {
        format.setFontPointSize(style.size_tenths / 10.0);
    }
    format.setFontWeight(style.bold ? QFont::Bold : QFont::Normal);
    format.setFontItalic(style.italic);
    return format;
}

}  // namespace

CKemRichEditCtrl::CKemRichEditCtrl(QWidget* parent) : QPlainTextEdit(parent) {
    InstallFaceSubstitutes();
    setUndoRedoEnabled(false);
    setReadOnly(true);
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setContextMenuPolicy(Qt::DefaultContextMenu);
    flush_timer_.setSingleShot(true);
    flush_timer_.setTimerType(Qt::PreciseTimer);
    connect(&flush_timer_, &QTimer::timeout, this, [this] { FlushBatch(); });
    SetStyles(StartupDisplayStyles());
}

CKemRichEditCtrl::~CKemRichEditCtrl() = default;

void CKemRichEditCtrl::SetStyles(const DisplayStyleTable& styles) {
    styles_ = styles;
    for (int i = 0; i < kDisplayStyleCount; ++i) {
        formats_[i] = ToCharFormat(styles_[i]);
    }
    // Empty lines and the caret take the received text's font, so line heights match.
    QFont font = this->font();
    if (!styles_[0].face.empty()) {
        font.setFamilies(QStringList{ToQString(styles_[0].face)});
    }
    if (styles_[0].size_tenths > 0) {
        font.setPointSizeF(styles_[0].size_tenths / 10.0);
    }
    setFont(font);
}

void CKemRichEditCtrl::AppendRuns(const RunList& runs) {
    const bool was = Backlogged();
    for (const StyledRun& run : runs.runs()) {
        arrived_since_batch_ += run.text.size();
    }
    model_.Append(runs);
    NoteBacklog(was);
    ScheduleFlush();
}

void CKemRichEditCtrl::ShowAll(const RunList& runs) {
    const bool was = was_backlogged_ || Backlogged();
    model_.Clear();
    model_.Append(runs);
    flush_timer_.stop();
    InsertChanges(SIZE_MAX);
    last_flush_.restart();
    NoteBacklog(was);
}

void CKemRichEditCtrl::ClearDisplay() {
    const bool was = was_backlogged_ || Backlogged();
    model_.Clear();
    flush_timer_.stop();
    InsertChanges(0);  // only the reset
    NoteBacklog(was);
}

void CKemRichEditCtrl::FlushNow() {
    const bool was = was_backlogged_ || Backlogged();
    flush_timer_.stop();
    InsertChanges(SIZE_MAX);
    last_flush_.restart();
    NoteBacklog(was);
}

void CKemRichEditCtrl::ScheduleFlush() {
    if (flush_timer_.isActive()) {
        return;
    }
    if (model_.PendingUnits() == 0 && !model_.ResetPending()) {
        return;
    }
    // One insertion per frame: a new batch waits for the rest of the frame after the last.
    qint64 wait = 0;
    if (last_flush_.isValid()) {
        wait = std::max<qint64>(0, kFrameMs - last_flush_.elapsed());
    }
    flush_timer_.start(static_cast<int>(wait));
}

void CKemRichEditCtrl::FlushBatch() {
    const bool was = was_backlogged_ || Backlogged();
    last_flush_.restart();
    // Size the batch to the budget by the speed measured so far; Qt's cost per unit varies
    // with fonts and line lengths, so it is measured, not assumed.
    const double wanted = units_per_ms_ * kBatchBudgetMs;
    const size_t batch = static_cast<size_t>(std::clamp(wanted, 4096.0, 4.0 * 1024 * 1024));
    QElapsedTimer timer;
    timer.start();
    const size_t inserted = InsertChanges(batch);
    const qint64 nanoseconds = timer.nsecsElapsed();
    if (inserted >= 4096 && nanoseconds > 0) {
        const double measured =
            static_cast<double>(inserted) * 1e6 / static_cast<double>(nanoseconds);
        units_per_ms_ = std::clamp(0.5 * units_per_ms_ + 0.5 * measured, 512.0, 1e6);
    }
    if (model_.PendingUnits() > 0 || model_.ResetPending()) {
        // The next frame begins kFrameMs after this one began.
        flush_timer_.start(static_cast<int>(std::max<qint64>(0, kFrameMs - last_flush_.elapsed())));
    }
    NoteBacklog(was);
}

size_t CKemRichEditCtrl::InsertChanges(size_t max_units) {
    arrived_since_batch_ = 0;
    DisplayChanges changes = model_.TakeChanges(max_units);
    if (!changes.reset && changes.segments.empty()) {
        return 0;
    }
    QScrollBar* bar = verticalScrollBar();
    const bool follow = bar->value() >= bar->maximum();
    if (changes.reset) {
        clear();
    }
    if (!changes.segments.empty()) {
        // A cursor of its own: the user's selection and caret stay where they are.
        QTextCursor cursor(document());
        cursor.movePosition(QTextCursor::End);
        cursor.beginEditBlock();
        for (const StyledRun& segment : changes.segments) {
            cursor.insertText(ToQString(segment.text), formats_[static_cast<int>(segment.style)]);
        }
        cursor.endEditBlock();
    }
    inserted_units_ += changes.units;
    if (follow) {
        bar->setValue(bar->maximum());
    }
    emit synced();
    return changes.units;
}

void CKemRichEditCtrl::NoteBacklog(bool was_backlogged) {
    const bool now = Backlogged();
    was_backlogged_ = now;
    if (was_backlogged && !now) {
        emit caughtUp();
    }
}

QString CKemRichEditCtrl::SelectedText() const {
    const QTextCursor cursor = textCursor();
    if (!cursor.hasSelection()) {
        return QString();
    }
    // Document positions are offsets into the model's shown text (a block break is one
    // position, as the model's '\n' is one unit).
    const std::u16string text = model_.ExportRange(static_cast<size_t>(cursor.selectionStart()),
                                                   static_cast<size_t>(cursor.selectionEnd()));
    return ToQString(text);
}

QMimeData* CKemRichEditCtrl::createMimeDataFromSelection() const {
    auto* mime = new QMimeData;
    mime->setText(SelectedText());
    return mime;
}

void CKemRichEditCtrl::CopySelection() {
    if (HasSelection()) {
        QApplication::clipboard()->setText(SelectedText());
    }
}

QAction* CKemRichEditCtrl::AddCommand(QMenu* menu, int id, const QString& text, bool enabled) {
    QAction* action = menu->addAction(text);
    action->setObjectName(QString::number(id));
    action->setEnabled(enabled);
    connect(action, &QAction::triggered, this, [this, id] { ExecuteCommand(id); });
    return action;
}

QMenu* CKemRichEditCtrl::BuildContextMenu() {
    auto* menu = new QMenu(this);
    const bool selected = HasSelection();
    const QMimeData* clipboard = QApplication::clipboard()->mimeData();
    const bool pasteable = clipboard != nullptr && clipboard->hasText();
    AddCommand(menu, kCmdUndo, tr("&Undo"), document()->isUndoAvailable());
    menu->addSeparator();
    AddCommand(menu, kCmdCut, tr("&Cut"), selected);
    AddCommand(menu, kCmdCopy, tr("C&opy"), selected);
    AddCommand(menu, kCmdPaste, tr("&Paste"), pasteable);
    AddCommand(menu, kCmdClear, tr("C&lear"), selected);
    menu->addSeparator();
    AddCommand(menu, kCmdSelectAll, tr("Select &All"), true);
    menu->addSeparator();
    AddCommand(menu, kCmdSelectFont, tr("Select &Font"), true);
    return menu;
}

void CKemRichEditCtrl::ShowContextMenu(const QPoint& global_position) {
    QMenu* menu = BuildContextMenu();
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(global_position);
}

void CKemRichEditCtrl::ExecuteCommand(int id) {
    switch (id) {
        case kCmdUndo:
            undo();
            break;
        case kCmdCopy:
            CopySelection();
            break;
        case kCmdSelectAll:
            selectAll();
            break;
        case kCmdSelectFont: {
            bool ok = false;
            QTextCursor cursor = textCursor();
            const QFont initial = cursor.hasSelection() ? cursor.charFormat().font() : font();
            const QFont chosen = QFontDialog::getFont(&ok, initial, this);
            if (ok) {
                if (cursor.hasSelection()) {
                    QTextCharFormat format;
                    format.setFont(chosen);
                    cursor.mergeCharFormat(format);
                } else {
                    setFont(chosen);
                }
            }
            break;
        }
        case kCmdCut:
        case kCmdPaste:
        case kCmdClear:
            // The display is read-only, as a read-only edit control ignores cut, paste and
            // clear; its text also belongs to the model, which a local edit would contradict.
            break;
        default:
            break;
    }
}

void CKemRichEditCtrl::SetTopBar(QWidget* bar) {
    top_bar_ = bar;
    LayoutTopBar();
}

void CKemRichEditCtrl::LayoutTopBar() {
    if (top_bar_ == nullptr) {
        return;
    }
    const int height = top_bar_->isHidden() ? 0 : top_bar_->sizeHint().height();
    if (height != top_margin_) {
        top_margin_ = height;
        setViewportMargins(0, height, 0, 0);
    }
    // Over the text column only: the scroll bar keeps its place at the side.
    const QRect inner = contentsRect();
    const int right = viewport()->geometry().right();
    top_bar_->setGeometry(inner.left(), inner.top(), std::max(0, right + 1 - inner.left()), height);
}

void CKemRichEditCtrl::resizeEvent(QResizeEvent* event) {
    QPlainTextEdit::resizeEvent(event);
    LayoutTopBar();
}

bool CKemRichEditCtrl::viewportEvent(QEvent* event) {
    // The text area narrows when its scroll bar appears: the bar follows its width.
    if (event->type() == QEvent::Resize && top_bar_ != nullptr && !top_bar_->isHidden()) {
        LayoutTopBar();
    }
    return QPlainTextEdit::viewportEvent(event);
}

void CKemRichEditCtrl::contextMenuEvent(QContextMenuEvent* event) {
    setFocus(Qt::MouseFocusReason);
    ShowContextMenu(event->globalPos());
    event->accept();
}

void CKemRichEditCtrl::keyPressEvent(QKeyEvent* event) {
    // Copy from the model, so the display's own line breaks stay out of the clipboard.
    if (event->matches(QKeySequence::Copy)) {
        CopySelection();
        event->accept();
        return;
    }
    QPlainTextEdit::keyPressEvent(event);
}

CMyRichEditCtrl::CMyRichEditCtrl(QWidget* parent) : CKemRichEditCtrl(parent) {
    setObjectName(QStringLiteral("1000"));
}

QMenu* CMyRichEditCtrl::BuildContextMenu() {
    auto* menu = new QMenu(this);
    AddCommand(menu, kCmdCopy, tr("C&opy (Alt+C)"), HasSelection());
    AddCommand(menu, kCmdPaste, tr("&Paste (Alt+V)"), true);
    menu->addSeparator();
    AddCommand(menu, kCmdSelectAll, tr("Select &All (Alt+A)"), true);
    menu->addSeparator();
    AddCommand(menu, kCmdRefresh, tr("&Refresh (Alt+R)"), true);
    AddCommand(menu, kCmdClear, tr("Cl&ear (Alt+E)"), true);
    return menu;
}

void CMyRichEditCtrl::ExecuteCommand(int id) {
    switch (id) {
        case kCmdPaste: {
            const QMimeData* clipboard = QApplication::clipboard()->mimeData();
            if (clipboard == nullptr || !clipboard->hasText()) {
                return;
            }
            const std::string bytes = SendTextToAnsi(clipboard->text().toStdU16String());
            if (!bytes.empty()) {
                emit pasteBytes(bytes);
            }
            return;
        }
        case kCmdRefresh:
            emit refreshRequested();
            return;
        case kCmdClear:
            emit clearRequested();
            return;
        default:
            CKemRichEditCtrl::ExecuteCommand(id);
    }
}

bool CMyRichEditCtrl::event(QEvent* event) {
    if (event->type() == QEvent::ShortcutOverride && keeps_shortcut &&
        keeps_shortcut(static_cast<QKeyEvent*>(event))) {
        event->accept();
        return true;
    }
    return CKemRichEditCtrl::event(event);
}

void CMyRichEditCtrl::keyPressEvent(QKeyEvent* event) {
    if (key_filter && key_filter(event, false)) {
        event->accept();
        return;
    }
    // Esc would otherwise reach the window and close it.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    CKemRichEditCtrl::keyPressEvent(event);
}

void CMyRichEditCtrl::keyReleaseEvent(QKeyEvent* event) {
    if (key_filter && key_filter(event, true)) {
        event->accept();
        return;
    }
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    CKemRichEditCtrl::keyReleaseEvent(event);
}
