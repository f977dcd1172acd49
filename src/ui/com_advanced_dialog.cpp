#include "ui/com_advanced_dialog.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "settings/app_config.h"
#include "ui/qt_user_dialogs.h"

namespace {

// The record's time-outs in box order.
std::array<uint32_t*, 5> TimeoutFields(tagComPortParam& param) {
    return {&param.ReadIntervalTimeout, &param.ReadTotalTimeoutMultiplier,
            &param.ReadTotalTimeoutConstant, &param.WriteTotalTimeoutMultiplier,
            &param.WriteTotalTimeoutConstant};
}

std::unique_ptr<UserDialogs> OwnDialogs(QWidget* owner, UserDialogs* given) {
    if (given != nullptr) {
        return nullptr;
    }
    return std::make_unique<QtUserDialogs>(owner);
}

}  // namespace

CDlgComAdvancedSettings::CDlgComAdvancedSettings(QWidget* parent, tagComPortParam& param,
                                                 CKemPortCom& port, UserDialogs* dialogs)
    : QDialog(parent),
      param_(param),
      port_(port),
      own_dialogs_(OwnDialogs(this, dialogs)),
      dialogs_(dialogs != nullptr ? *dialogs : *own_dialogs_) {
    setWindowTitle(QStringLiteral("串口进阶设置"));
    setModal(true);

    static const char* const kLabels[5] = {
        "ReadIntervalTimeout:", "ReadTotalTimeoutMultiplier:", "ReadTotalTimeoutConstant:",
        "WriteTotalTimeoutMultiplier:", "WriteTotalTimeoutConstant:"};
    auto* layout = new QVBoxLayout(this);
    auto* grid = new QGridLayout;
    const std::array<uint32_t*, 5> fields = TimeoutFields(param_);
    for (size_t i = 0; i < timeouts_.size(); ++i) {
        const int row = static_cast<int>(i);
        grid->addWidget(new QLabel(QLatin1String(kLabels[i]), this), row, 0);
        auto* edit = new QLineEdit(QString::number(*fields[i]), this);
        edit->setObjectName(QString::number(kTimeoutIds[i]));
        grid->addWidget(edit, row, 1);
        timeouts_[i] = edit;
    }
    layout->addLayout(grid);

    auto* other = new QGroupBox(QStringLiteral("其它"), this);
    auto* other_layout = new QVBoxLayout(other);
    other_layout->addWidget(
        new QLabel(QStringLiteral("以下设置,修改后,立即生效,不需要确定"), other));
    dtr_ = new QCheckBox(QStringLiteral("DTR"), other);
    dtr_->setObjectName(QString::number(kDtrId));
    dtr_->setChecked(port_.GetDtr() != 0);
    connect(dtr_, &QCheckBox::clicked, this, &CDlgComAdvancedSettings::OnDtrClicked);
    other_layout->addWidget(dtr_);
    ignore_rx_char_ = new QCheckBox(QStringLiteral("忽略EV_RXCHAR(高兼容性)"), other);
    ignore_rx_char_->setObjectName(QString::number(kIgnoreRxCharId));
    ignore_rx_char_->setChecked(g_AppConfig.IgnoreComRXCHAR != 0);
    connect(ignore_rx_char_, &QCheckBox::clicked, this,
            &CDlgComAdvancedSettings::OnIgnoreRxCharClicked);
    other_layout->addWidget(ignore_rx_char_);
    layout->addWidget(other);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    auto* ok = new QPushButton(QStringLiteral("确定"), this);
    ok->setObjectName(QString::number(kOkId));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &CDlgComAdvancedSettings::accept);
    buttons->addWidget(ok);
    auto* cancel = new QPushButton(QStringLiteral("取消"), this);
    cancel->setObjectName(QString::number(kCancelId));
    cancel->setAutoDefault(false);
    connect(cancel, &QPushButton::clicked, this, &CDlgComAdvancedSettings::reject);
    buttons->addWidget(cancel);
    layout->addLayout(buttons);
}

CDlgComAdvancedSettings::~CDlgComAdvancedSettings() = default;

std::optional<uint32_t> CDlgComAdvancedSettings::ParseTimeout(const QString& text) {
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty()) {
        return std::nullopt;
    }
    uint64_t value = 0;
    for (const QChar unit : trimmed) {
        if (unit < u'0' || unit > u'9') {
            return std::nullopt;
        }
        value = value * 10 + static_cast<uint64_t>(unit.unicode() - u'0');
        if (value > 0xFFFFFFFFull) {
            return std::nullopt;
        }
    }
    return static_cast<uint32_t>(value);
}

void CDlgComAdvancedSettings::accept() {
    // Every box is checked before any field is written, so a refusal leaves the record whole.
    std::array<uint32_t, 5> values{};
    for (size_t i = 0; i < timeouts_.size(); ++i) {
        const std::optional<uint32_t> value = ParseTimeout(timeouts_[i]->text());
        if (!value) {
            dialogs_.MessageBox(kBadNumberText, kCaptionError, DialogButtons::kOk,
                                DialogIcon::kError);
            timeouts_[i]->setFocus();
            timeouts_[i]->selectAll();
            return;
        }
        values[i] = *value;
    }
    const std::array<uint32_t*, 5> fields = TimeoutFields(param_);
    for (size_t i = 0; i < fields.size(); ++i) {
        *fields[i] = values[i];
    }
    QDialog::accept();
}

void CDlgComAdvancedSettings::OnDtrClicked(bool checked) {
    port_.SetDtr(checked ? 1 : 0);
    // The box shows what the port really has, which a refusing line may not have taken.
    dtr_->setChecked(port_.GetDtr() != 0);
}

void CDlgComAdvancedSettings::OnIgnoreRxCharClicked(bool checked) {
    const int32_t value = checked ? 1 : 0;
    port_.m_bIgnoreRxChar = value;
    g_AppConfig.IgnoreComRXCHAR = value;
}
