#include "ui/time_stamp_dialog.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <iterator>
#include <utility>

#include "settings/app_config.h"
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
                       "%s - sss毫秒"),
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
    const std::u16string format = CutTemplate(edit_->text().toStdU16String());
    std::fill(std::begin(g_AppConfig.TimeStampFormat), std::end(g_AppConfig.TimeStampFormat),
              u'\0');
    std::copy(format.begin(), format.end(), g_AppConfig.TimeStampFormat);
    QDialog::accept();
}

void CDlgTimeStampFormat::UpdatePreview() {
    preview_->setText(PreviewText());
}
