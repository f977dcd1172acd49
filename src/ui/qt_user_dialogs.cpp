#include "ui/qt_user_dialogs.h"

#include <QColorDialog>
#include <QFileDialog>
#include <QFontDialog>
#include <QMessageBox>

namespace {

QString Q(const std::u16string& text) {
    return QString::fromStdU16String(text);
}

// The chooser asks about overwriting itself; the default extension is added when the typed
// name has none, as users of the save dialogs expect.
QFileDialog* MakeFileDialog(QWidget* parent, const SaveFileRequest& request, bool save) {
    auto* dialog = new QFileDialog(parent);
    dialog->setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog->setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dialog->setNameFilters(QtNameFilters(request.filter));
    QString extension = Q(request.default_extension);
    while (extension.startsWith('.')) {
        extension.remove(0, 1);
    }
    if (!extension.isEmpty() && extension != "*") {
        dialog->setDefaultSuffix(extension);
    }
    const QString name = Q(request.initial_name);
    if (!name.isEmpty() && !name.contains('*')) {
        dialog->selectFile(name);
    }
    return dialog;
}

std::optional<std::u16string> RunFileDialog(QWidget* parent, const SaveFileRequest& request,
                                            bool save) {
    QFileDialog* dialog = MakeFileDialog(parent, request, save);
    std::optional<std::u16string> chosen;
    if (dialog->exec() == QDialog::Accepted && !dialog->selectedFiles().isEmpty()) {
        chosen = dialog->selectedFiles().front().toStdU16String();
    }
    delete dialog;
    return chosen;
}

}  // namespace

QStringList QtNameFilters(const std::u16string& filter) {
    const QStringList parts = Q(filter).split('|');
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        if (parts[i].isEmpty()) {
            break;
        }
        QString patterns = parts[i + 1];
        patterns.replace(';', ' ');
        if (patterns.trimmed() == "*.*") {
            patterns = "*";
        }
        QString name = parts[i];
        const qsizetype open = name.lastIndexOf('(');
        if (open > 0 && name.endsWith(')')) {
            name = name.left(open).trimmed();
        }
        filters << QStringLiteral("%1 (%2)").arg(name, patterns);
    }
    return filters;
}

DialogAnswer QtUserDialogs::MessageBox(const std::u16string& text, const std::u16string& caption,
                                       DialogButtons buttons, DialogIcon icon) {
    QMessageBox box(parent_);
    box.setWindowTitle(Q(caption));
    box.setText(Q(text));
    box.setIcon(icon == DialogIcon::kError      ? QMessageBox::Critical
                : icon == DialogIcon::kQuestion ? QMessageBox::Question
                                                : QMessageBox::Information);
    switch (buttons) {
        case DialogButtons::kOk:
            box.setStandardButtons(QMessageBox::Ok);
            break;
        case DialogButtons::kYesNo:
            box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
            break;
        case DialogButtons::kYesNoCancel:
            box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
            break;
    }
    switch (box.exec()) {
        case QMessageBox::Ok:
            return DialogAnswer::kOk;
        case QMessageBox::Yes:
            return DialogAnswer::kYes;
        case QMessageBox::No:
            return DialogAnswer::kNo;
        default:
            return DialogAnswer::kCancel;
    }
}

std::optional<std::u16string> QtUserDialogs::AskSavePath(const SaveFileRequest& request) {
    return RunFileDialog(parent_, request, true);
}

std::optional<std::u16string> QtUserDialogs::AskOpenPath(const SaveFileRequest& request) {
    return RunFileDialog(parent_, request, false);
}

std::optional<std::u16string> QtUserDialogs::AskFolder(const std::u16string& title,
                                                       const std::u16string& initial) {
    const QString folder = QFileDialog::getExistingDirectory(parent_, Q(title), Q(initial));
    if (folder.isEmpty()) {
        return std::nullopt;
    }
    return folder.toStdU16String();
}

std::optional<DisplayStyleFormat> QtUserDialogs::ChooseFont(const DisplayStyleFormat& initial) {
    QFont font(Q(initial.face));
    if (initial.size_tenths > 0) {
        font.setPointSizeF(initial.size_tenths / 10.0);
    }
    font.setBold(initial.bold);
    font.setItalic(initial.italic);
    bool chosen = false;
    const QFont result = QFontDialog::getFont(&chosen, font, parent_);
    if (!chosen) {
        return std::nullopt;
    }
    DisplayStyleFormat format = initial;
    format.face = result.family().toStdU16String();
    format.size_tenths = static_cast<int32_t>(result.pointSizeF() * 10.0 + 0.5);
    format.bold = result.bold();
    format.italic = result.italic();
    return format;
}

std::optional<uint32_t> QtUserDialogs::ChooseColour(uint32_t initial) {
    // The program keeps colours as 0x00BBGGRR.
    const QColor start(initial & 0xFF, (initial >> 8) & 0xFF, (initial >> 16) & 0xFF);
    const QColor colour = QColorDialog::getColor(start, parent_);
    if (!colour.isValid()) {
        return std::nullopt;
    }
    return static_cast<uint32_t>(colour.red()) | (static_cast<uint32_t>(colour.green()) << 8) |
           (static_cast<uint32_t>(colour.blue()) << 16);
}
