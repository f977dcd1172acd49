// The dialog seam answered by real Qt dialogs: message boxes with the program's captions and
// icons, and the platform's file choosers.
#pragma once

#include <QString>
#include <QStringList>

#include "terminal/user_dialogs.h"

class QWidget;

// The Windows-style filter "Name(*.ext)|*.ext|...||" as Qt name filters. A "*.*" pattern
// matches every file, as it does there. Pure.
QStringList QtNameFilters(const std::u16string& filter);

class QtUserDialogs : public UserDialogs {
public:
    // Dialogs open over `parent` (may be null). Window thread.
    explicit QtUserDialogs(QWidget* parent) : parent_(parent) {}

    DialogAnswer MessageBox(const std::u16string& text, const std::u16string& caption,
                            DialogButtons buttons, DialogIcon icon) override;
    std::optional<std::u16string> AskSavePath(const SaveFileRequest& request) override;
    std::optional<std::u16string> AskOpenPath(const SaveFileRequest& request) override;
    std::optional<std::u16string> AskFolder(const std::u16string& title,
                                            const std::u16string& initial) override;
    std::optional<DisplayStyleFormat> ChooseFont(const DisplayStyleFormat& initial) override;
    std::optional<uint32_t> ChooseColour(uint32_t initial) override;

private:
    QWidget* parent_;
};
