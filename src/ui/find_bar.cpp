#include "ui/find_bar.h"

#include <QApplication>
#include <QCheckBox>
#include <QContextMenuEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollBar>
#include <QTextCursor>
#include <QTextEdit>

#include <algorithm>

#include "ui/receive_display.h"

namespace {

const QColor kMatchColour(255, 238, 88);
const QColor kCurrentColour(255, 140, 40);

QPushButton* MakeButton(const QString& text, const QString& name, const QString& tip,
                        QWidget* parent) {
    auto* button = new QPushButton(text, parent);
    button->setObjectName(name);
    button->setToolTip(tip);
    // Enter in the window must never press a button of its own accord.
    button->setAutoDefault(false);
    button->setDefault(false);
    return button;
}

}  // namespace

FindBar::FindBar(CKemRichEditCtrl* display) : QWidget(display), display_(display) {
    setObjectName(QStringLiteral("FindBar"));
    // The window's look, not the display's text font and colours.
    setFont(QApplication::font());
    setPalette(QApplication::palette());
    setBackgroundRole(QPalette::Window);
    setAutoFillBackground(true);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(4, 2, 4, 2);
    layout->setSpacing(6);

    auto* label = new QLabel(QStringLiteral("查找:"), this);
    field_ = new QLineEdit(this);
    field_->setObjectName(QStringLiteral("FindText"));
    field_->setAccessibleName(QStringLiteral("查找内容"));
    field_->setClearButtonEnabled(true);
    label->setBuddy(field_);
    match_case_ = new QCheckBox(QStringLiteral("区分大小写"), this);
    match_case_->setObjectName(QStringLiteral("FindMatchCase"));
    previous_ = MakeButton(QStringLiteral("上一个"), QStringLiteral("FindPrevious"),
                           QStringLiteral("上一个 (Shift+F3, Shift+Enter)"), this);
    next_ = MakeButton(QStringLiteral("下一个"), QStringLiteral("FindNext"),
                       QStringLiteral("下一个 (F3, Enter)"), this);
    count_ = new QLabel(this);
    count_->setObjectName(QStringLiteral("FindCount"));
    count_->setMinimumWidth(120);
    close_ = MakeButton(QStringLiteral("×"), QStringLiteral("FindClose"),
                        QStringLiteral("关闭 (Esc)"), this);
    close_->setAccessibleName(QStringLiteral("关闭查找"));
    close_->setFixedWidth(28);

    layout->addWidget(label);
    layout->addWidget(field_, 1);
    layout->addWidget(match_case_);
    layout->addWidget(previous_);
    layout->addWidget(next_);
    layout->addWidget(count_);
    layout->addWidget(close_);

    connect(field_, &QLineEdit::textChanged, this, [this] { OnQueryChanged(); });
    connect(match_case_, &QCheckBox::toggled, this, [this] { OnQueryChanged(); });
    connect(previous_, &QPushButton::clicked, this, [this] { FindPrevious(); });
    connect(next_, &QPushButton::clicked, this, [this] { FindNext(); });
    connect(close_, &QPushButton::clicked, this, [this] { Close(); });
    field_->installEventFilter(this);

    connect(display_, &CKemRichEditCtrl::synced, this, [this] { OnDisplaySynced(); });
    connect(display_->verticalScrollBar(), &QScrollBar::valueChanged, this,
            [this] { ScheduleHighlights(); });
    // Kept: the filter also sees the viewport's last events while the display is destroyed.
    viewport_ = display_->viewport();
    viewport_->installEventFilter(this);
    // One highlight pass per turn of the event loop, however many scrolls and syncs asked.
    highlight_timer_.setSingleShot(true);
    highlight_timer_.setInterval(0);
    connect(&highlight_timer_, &QTimer::timeout, this, [this] { ApplyHighlights(); });

    SetHexMode(false);
    hide();
    display_->SetTopBar(this);
}

void FindBar::Open() {
    const bool was_hidden = isHidden();
    show();
    field_->setFocus(Qt::ShortcutFocusReason);
    field_->selectAll();
    if (was_hidden) {
        display_->LayoutTopBar();
        emit shownChanged(true);
        OnQueryChanged();
    }
}

void FindBar::Close() {
    if (isHidden()) {
        return;
    }
    const bool had_focus = isAncestorOf(QApplication::focusWidget());
    hide();
    display_->LayoutTopBar();
    highlight_timer_.stop();
    display_->setExtraSelections({});
    if (had_focus) {
        display_->setFocus(Qt::OtherFocusReason);
    }
    emit shownChanged(false);
}

void FindBar::SetHexMode(bool hex) {
    const bool changed = hex != hex_mode_;
    hex_mode_ = hex;
    field_->setPlaceholderText(hex ? QStringLiteral("十六进制字节, 如 0D 0A")
                                   : QStringLiteral("要查找的文本"));
    // Hex digits match in either case; the box would only mislead.
    match_case_->setEnabled(!hex);
    if (changed && !isHidden()) {
        OnQueryChanged();
    }
}

void FindBar::OnQueryChanged() {
    if (isHidden()) {
        return;
    }
    DisplaySearchQuery query;
    query.text = field_->text().toStdU16String();
    query.match_case = match_case_->isChecked();
    query.mode = hex_mode_ ? DisplaySearchMode::kHex : DisplaySearchMode::kText;
    search_.SetQuery(query);
    UpdateMatches();
    current_ = -1;
    if (search_.Count() > 0) {
        // Typing on finds onwards from the match shown, not from the top again.
        size_t index =
            search_.FirstAtOrAfter(static_cast<size_t>(display_->textCursor().selectionStart()));
        if (index == search_.Count()) {
            index = 0;
        }
        current_ = static_cast<long>(index);
        ShowCurrent();
    }
    UpdateCountLabel();
    // At once: highlights of the previous text must not outlive it by a turn of the loop.
    highlight_timer_.stop();
    ApplyHighlights();
}

void FindBar::OnDisplaySynced() {
    if (isHidden()) {
        return;
    }
    UpdateMatches();
    if (show_pending_ && current_ >= 0) {
        ShowCurrent();
    }
    UpdateCountLabel();
    ScheduleHighlights();
}

void FindBar::UpdateMatches() {
    search_.Update(display_->model());
    if (search_.Epoch() != epoch_) {
        epoch_ = search_.Epoch();
        current_ = -1;
        show_pending_ = false;
    }
}

void FindBar::FindNext() {
    Step(true);
}

void FindBar::FindPrevious() {
    Step(false);
}

void FindBar::Step(bool forward) {
    if (isHidden()) {
        Open();  // finds from the caret: that is the step
        return;
    }
    UpdateMatches();
    const size_t count = search_.Count();
    if (count == 0) {
        UpdateCountLabel();
        return;
    }
    size_t index = 0;
    if (current_ < 0) {
        const QTextCursor caret = display_->textCursor();
        if (forward) {
            index = search_.FirstAtOrAfter(static_cast<size_t>(caret.selectionEnd()));
            index = index == count ? 0 : index;
        } else {
            index = search_.LastBefore(static_cast<size_t>(caret.selectionStart()));
            index = index == count ? count - 1 : index;
        }
    } else {
        const size_t at = static_cast<size_t>(current_);
        index = forward ? (at + 1) % count : (at + count - 1) % count;
    }
    current_ = static_cast<long>(index);
    ShowCurrent();
    UpdateCountLabel();
    ScheduleHighlights();
}

void FindBar::ShowCurrent() {
    if (current_ < 0 || static_cast<size_t>(current_) >= search_.Count()) {
        show_pending_ = false;
        return;
    }
    const DisplayMatch match = search_.matches()[static_cast<size_t>(current_)];
    if (match.end > display_->SyncedUnits()) {
        // The widget has not got that far; it is shown when it has.
        show_pending_ = true;
        return;
    }
    show_pending_ = false;
    QTextCursor cursor(display_->document());
    cursor.setPosition(static_cast<int>(match.begin));
    cursor.setPosition(static_cast<int>(match.end), QTextCursor::KeepAnchor);
    display_->setTextCursor(cursor);
    const QRect shown = display_->cursorRect(cursor);
    if (!display_->viewport()->rect().contains(shown)) {
        display_->centerCursor();
    }
    display_->ensureCursorVisible();
}

void FindBar::ScheduleHighlights() {
    if (!isHidden()) {
        highlight_timer_.start();
    }
}

void FindBar::ApplyHighlights() {
    if (isHidden()) {
        return;
    }
    const size_t synced = display_->SyncedUnits();
    QList<QTextEdit::ExtraSelection> selections;
    if (synced > 0 && search_.Count() > 0) {
        // Only what can be seen: a flood may hold millions of matches.
        const QRect area = display_->viewport()->rect();
        const size_t top =
            static_cast<size_t>(display_->cursorForPosition(area.topLeft()).position());
        const size_t bottom =
            static_cast<size_t>(display_->cursorForPosition(area.bottomRight()).position());
        const auto [first, last] = search_.Overlapping(top, std::max(top, bottom) + 1);
        const size_t end = std::min(last, first + kMaxHighlights);
        for (size_t i = first; i < end; ++i) {
            const DisplayMatch& match = search_.matches()[i];
            if (match.end > synced) {
                break;
            }
            QTextEdit::ExtraSelection selection;
            selection.cursor = QTextCursor(display_->document());
            selection.cursor.setPosition(static_cast<int>(match.begin));
            selection.cursor.setPosition(static_cast<int>(match.end), QTextCursor::KeepAnchor);
            const bool current = static_cast<long>(i) == current_;
            selection.format.setBackground(current ? kCurrentColour : kMatchColour);
            selections.push_back(selection);
        }
    }
    display_->setExtraSelections(selections);
}

QString FindBar::CountText() const {
    return count_->text();
}

void FindBar::UpdateCountLabel() {
    QString text;
    switch (search_.state()) {
        case DisplaySearchState::kEmpty:
            break;
        case DisplaySearchState::kInvalidHex:
            text = QStringLiteral("无效的十六进制字节");
            break;
        case DisplaySearchState::kReady:
            if (search_.Count() == 0) {
                text = QStringLiteral("无匹配");
            } else if (current_ >= 0) {
                text = QStringLiteral("%1/%2").arg(current_ + 1).arg(search_.Count());
            } else {
                text = QStringLiteral("%1 个匹配").arg(search_.Count());
            }
            break;
    }
    if (count_->text() != text) {
        count_->setText(text);
    }
    // An invalid pattern shows in the field as well as in the count; a style sheet costs a
    // restyle, so it changes only when the state does.
    const bool invalid = search_.state() == DisplaySearchState::kInvalidHex;
    if (invalid != field_marked_invalid_) {
        field_marked_invalid_ = invalid;
        field_->setStyleSheet(invalid ? QStringLiteral("QLineEdit { background: #FFD0D0; }")
                                      : QString());
    }
}

bool FindBar::eventFilter(QObject* watched, QEvent* event) {
    if (watched == field_ && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            Step(!(key->modifiers() & Qt::ShiftModifier));
            return true;
        }
        if (key->key() == Qt::Key_Escape) {
            Close();
            return true;
        }
    } else if (watched == viewport_ && event->type() == QEvent::Resize) {
        ScheduleHighlights();
    }
    return QWidget::eventFilter(watched, event);
}

void FindBar::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        Close();
    }
    event->accept();
}

void FindBar::keyReleaseEvent(QKeyEvent* event) {
    event->accept();
}

void FindBar::mousePressEvent(QMouseEvent* event) {
    event->accept();
}

void FindBar::mouseReleaseEvent(QMouseEvent* event) {
    event->accept();
}

void FindBar::mouseDoubleClickEvent(QMouseEvent* event) {
    event->accept();
}

void FindBar::contextMenuEvent(QContextMenuEvent* event) {
    event->accept();
}
