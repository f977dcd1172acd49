#include "ui/font_colour_dialog.h"

#include <QColor>
#include <QFont>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPalette>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

constexpr int kRowsPerGroup = 3;

QColor ToQColor(uint32_t colour) {
    return QColor(static_cast<int>(colour & 0xFF), static_cast<int>((colour >> 8) & 0xFF),
                  static_cast<int>((colour >> 16) & 0xFF));
}

// The font the display would use for `style`, starting from the dialog's own font so that an
// empty face or size keeps the default as the display does.
QFont StyleFont(const DisplayStyleFormat& style, QFont font) {
    if (!style.face.empty()) {
        font.setFamilies(QStringList{QString::fromStdU16String(style.face)});
    }
    if (style.size_tenths > 0) {
        font.setPointSizeF(style.size_tenths / 10.0);
    }
    font.setBold(style.bold);
    font.setItalic(style.italic);
    return font;
}

}  // namespace

CDlgFontColorSetup::CDlgFontColorSetup(QWidget* parent, DisplayStyleTable& styles,
                                       UserDialogs& dialogs)
    : QDialog(parent), target_(styles), dialogs_(dialogs), working_(styles) {
    setWindowTitle(QStringLiteral("字体&颜色设置"));
    setModal(true);

    const QString row_names[kRowsPerGroup] = {
        QStringLiteral("普通字符:"), QStringLiteral("控制字符:"), QStringLiteral("时间戳:")};
    auto* layout = new QVBoxLayout(this);
    for (int group = 0; group < 2; ++group) {
        auto* box =
            new QGroupBox(group == 0 ? QStringLiteral("接收") : QStringLiteral("发送"), this);
        auto* grid = new QGridLayout(box);
        for (int row = 0; row < kRowsPerGroup; ++row) {
            const int index = group * kRowsPerGroup + row;
            grid->addWidget(new QLabel(row_names[row], box), row, 0);

            auto* font_button = new QPushButton(box);
            font_button->setObjectName(QString::number(kFontButtonIds[index]));
            font_button->setAutoDefault(false);
            connect(font_button, &QPushButton::clicked, this, [this, index] { ChooseFont(index); });
            grid->addWidget(font_button, row, 1);
            font_buttons_[index] = font_button;

            auto* colour_button = new QPushButton(QStringLiteral("颜色"), box);
            colour_button->setObjectName(QString::number(kColourButtonIds[index]));
            colour_button->setAutoDefault(false);
            connect(colour_button, &QPushButton::clicked, this,
                    [this, index] { ChooseColour(index); });
            grid->addWidget(colour_button, row, 2);
            colour_buttons_[index] = colour_button;

            auto* sample = new QLabel(QStringLiteral("AaBb 0123 中文字符"), box);
            sample->setObjectName(QStringLiteral("sample%1").arg(index));
            sample->setMinimumWidth(180);
            grid->addWidget(sample, row, 3);
            samples_[index] = sample;
        }
        layout->addWidget(box);
    }

    auto* buttons = new QHBoxLayout;
    auto* defaults = new QPushButton(QStringLiteral("默认值..."), this);
    defaults->setObjectName(QString::number(kDefaultsId));
    defaults->setAutoDefault(false);
    connect(defaults, &QPushButton::clicked, this, &CDlgFontColorSetup::RestoreDefaults);
    buttons->addWidget(defaults);
    buttons->addStretch();
    auto* ok = new QPushButton(QStringLiteral("确定"), this);
    ok->setObjectName(QString::number(kOkId));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &CDlgFontColorSetup::accept);
    buttons->addWidget(ok);
    auto* cancel = new QPushButton(QStringLiteral("取消"), this);
    cancel->setObjectName(QString::number(kCancelId));
    cancel->setAutoDefault(false);
    connect(cancel, &QPushButton::clicked, this, &CDlgFontColorSetup::reject);
    buttons->addWidget(cancel);
    layout->addLayout(buttons);

    ShowStyles();
}

QString CDlgFontColorSetup::FontButtonCaption(const DisplayStyleFormat& style) {
    return QString::fromStdU16String(style.face) + QStringLiteral(" ...");
}

void CDlgFontColorSetup::accept() {
    target_ = working_;
    QDialog::accept();
}

void CDlgFontColorSetup::ChooseFont(int index) {
    const std::optional<DisplayStyleFormat> chosen = dialogs_.ChooseFont(working_[index]);
    if (!chosen) {
        return;
    }
    // Only the font is taken: a colour picked inside the font chooser does not count.
    DisplayStyleFormat& style = working_[index];
    style.face = chosen->face;
    style.size_tenths = chosen->size_tenths;
    style.bold = chosen->bold;
    style.italic = chosen->italic;
    ShowStyles();
}

void CDlgFontColorSetup::ChooseColour(int index) {
    const std::optional<uint32_t> chosen = dialogs_.ChooseColour(working_[index].colour);
    if (!chosen) {
        return;
    }
    working_[index].colour = *chosen & 0x00FFFFFFu;
    ShowStyles();
}

void CDlgFontColorSetup::RestoreDefaults() {
    working_ = StartupDisplayStyles();
    ShowStyles();
}

void CDlgFontColorSetup::ShowStyles() {
    for (int index = 0; index < kDisplayStyleCount; ++index) {
        const DisplayStyleFormat& style = working_[index];
        font_buttons_[index]->setText(FontButtonCaption(style));

        // A style sheet rather than the palette: several widget styles ignore a button's
        // palette when painting its face.
        const QColor colour = ToQColor(style.colour);
        const QColor text = colour.lightness() < 128 ? QColor(Qt::white) : QColor(Qt::black);
        colour_buttons_[index]->setStyleSheet(
            QStringLiteral("background-color: %1; color: %2;").arg(colour.name(), text.name()));

        QLabel* sample = samples_[index];
        sample->setFont(StyleFont(style, font()));
        QPalette palette = sample->palette();
        palette.setColor(QPalette::WindowText, colour);
        sample->setPalette(palette);
    }
}
