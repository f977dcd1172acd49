#include "ui/time_stamp_dialog.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

#include <algorithm>
#include <iterator>
#include <utility>

#include "settings/app_config.h"
#include "settings/app_config_ext.h"
#include "terminal/time_stamp.h"

namespace {

// The stored field may lack a terminator after a damaged load: read no further than it holds.
std::u16string StoredTemplate() {
    constexpr size_t kCapacity = std::size(g_AppConfig.TimeStampFormat);
    const char16_t* field = g_AppConfig.TimeStampFormat;
    return std::u16string(field, std::find(field, field + kCapacity, u'\0'));
}

}  // namespace

CDlgTimeStampFormat::CDlgTimeStampFormat(QWidget* parent)
    : QDialog(parent), clock_(&kem::platform::NowLocal) {
    setWindowTitle(QStringLiteral("时间戳设置"));
    setModal(true);

    auto* layout = new QVBoxLayout(this);
    auto* help = new QLabel(
        QStringLiteral("%Y - yyyy年\t%m - mm月\t%d - dd日\n%H - HH时\t%M - MM分\t%S - SS秒\n"
                       "%s - sss毫秒\n%q - +S.mmm 距上一条的秒数"),
        this);
    help->setObjectName(QLatin1String(kHelpName));
    help->setTextFormat(Qt::PlainText);
    layout->addWidget(help);

    edit_ = new QLineEdit(QString::fromStdU16String(StoredTemplate()), this);
    edit_->setObjectName(QString::number(kEditId));
    layout->addWidget(edit_);

    preview_ = new QLabel(this);
    preview_->setObjectName(QLatin1String(kPreviewName));
    preview_->setTextFormat(Qt::PlainText);
    layout->addWidget(preview_);
    connect(edit_, &QLineEdit::textChanged, this, &CDlgTimeStampFormat::UpdatePreview);

    auto* gap_row = new QFormLayout;
    frame_gap_ = new QLineEdit(
        QString::number(g_AppConfigExt.FrameGap > 0 ? g_AppConfigExt.FrameGap : 0), this);
    frame_gap_->setObjectName(QLatin1String(kFrameGapName));
    // Typing is limited to digits; OK still checks, since text can be set past the validator.
    frame_gap_->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("[0-9]{0,10}")), frame_gap_));
    gap_row->addRow(QStringLiteral("帧间隔 (ms)"), frame_gap_);
    layout->addLayout(gap_row);
    frame_gap_error_ = new QLabel(this);
    frame_gap_error_->setObjectName(QLatin1String(kFrameGapErrorName));
    frame_gap_error_->setTextFormat(Qt::PlainText);
    frame_gap_error_->hide();
    layout->addWidget(frame_gap_error_);
    connect(frame_gap_, &QLineEdit::textChanged, frame_gap_error_, &QLabel::hide);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    auto* ok = new QPushButton(QStringLiteral("确定"), this);
    ok->setObjectName(QString::number(kOkId));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &CDlgTimeStampFormat::accept);
    buttons->addWidget(ok);
    auto* cancel = new QPushButton(QStringLiteral("取消"), this);
    cancel->setObjectName(QString::number(kCancelId));
    cancel->setAutoDefault(false);
    connect(cancel, &QPushButton::clicked, this, &CDlgTimeStampFormat::reject);
    buttons->addWidget(cancel);
    layout->addLayout(buttons);

    UpdatePreview();
}

std::u16string CDlgTimeStampFormat::CutTemplate(std::u16string_view text) {
    if (text.size() <= kMaxTemplateUnits) {
        return std::u16string(text);
    }
    size_t length = kMaxTemplateUnits;
    // The last unit kept must not be the first half of a pair whose second half is cut off.
    const char16_t last = text[length - 1];
    if (last >= 0xD800 && last <= 0xDBFF) {
        --length;
    }
    return std::u16string(text.substr(0, length));
}

std::optional<int32_t> CDlgTimeStampFormat::ParseFrameGap(std::u16string_view text) {
    if (text.empty() || text.size() > 10) {
        return std::nullopt;
    }
    int64_t value = 0;
    for (const char16_t c : text) {
        if (c < u'0' || c > u'9') {
            return std::nullopt;
        }
        value = value * 10 + (c - u'0');
    }
    if (value > INT32_MAX) {
        return std::nullopt;
    }
    return static_cast<int32_t>(value);
}

void CDlgTimeStampFormat::SetClock(std::function<kem::platform::LocalTime()> clock) {
    clock_ = std::move(clock);
    UpdatePreview();
}

QString CDlgTimeStampFormat::PreviewText() const {
    // The preview shows what would be stored, so an overlong template previews its cut form.
    const std::u16string format = CutTemplate(edit_->text().toStdU16String());
    return QString::fromStdU16String(FormatTimeStampHeader(clock_(), format));
}

void CDlgTimeStampFormat::accept() {
    const std::optional<int32_t> gap = ParseFrameGap(frame_gap_->text().toStdU16String());
    if (!gap) {
        frame_gap_error_->setText(QStringLiteral("帧间隔须为非负整数 (0 为不分帧)"));
        frame_gap_error_->show();
        frame_gap_->setFocus();
        frame_gap_->selectAll();
        return;
    }
    g_AppConfigExt.FrameGap = *gap;
    const std::u16string format = CutTemplate(edit_->text().toStdU16String());
    std::fill(std::begin(g_AppConfig.TimeStampFormat), std::end(g_AppConfig.TimeStampFormat),
              u'\0');
    std::copy(format.begin(), format.end(), g_AppConfig.TimeStampFormat);
    QDialog::accept();
}

void CDlgTimeStampFormat::UpdatePreview() {
    preview_->setText(PreviewText());
}
