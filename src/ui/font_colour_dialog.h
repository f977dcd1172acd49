// The font and colour dialog: the six display styles (received and sent; ordinary characters,
// control characters, time stamps), each with a font button, a colour button and a sample line.
// It edits a copy and hands it back only when the user confirms, so a cancelled session never
// shows half its changes on the display.
#pragma once

#include <QDialog>

#include <array>

#include "terminal/display_style_format.h"
#include "terminal/user_dialogs.h"

class QLabel;
class QPushButton;

class CDlgFontColorSetup : public QDialog {
    Q_OBJECT

public:
    // Control ids, also the object names of the controls. Font and colour buttons are listed
    // in style order (received ordinary, control, time stamp; sent ordinary, control, stamp).
    static constexpr std::array<int, kDisplayStyleCount> kFontButtonIds = {1017, 1021, 1025,
                                                                           1019, 1023, 1027};
    static constexpr std::array<int, kDisplayStyleCount> kColourButtonIds = {1018, 1022, 1026,
                                                                             1020, 1024, 1028};
    static constexpr int kDefaultsId = 1016;
    static constexpr int kOkId = 1;
    static constexpr int kCancelId = 2;

    // Works on a copy of `styles`; `styles` is written only when the dialog ends with OK.
    // Fonts and colours are asked for through `dialogs`. Both must outlive the dialog.
    // Window thread only.
    CDlgFontColorSetup(QWidget* parent, DisplayStyleTable& styles, UserDialogs& dialogs);

    // The styles as edited so far (not yet handed back). Window thread.
    const DisplayStyleTable& working() const { return working_; }

    // The caption of a font button for `style`: its face name, a space and three dots. Pure.
    static QString FontButtonCaption(const DisplayStyleFormat& style);

    // OK: copies the edited styles into the caller's table, then closes with Accepted.
    void accept() override;

private:
    void ChooseFont(int index);
    void ChooseColour(int index);
    // The defaults button: every style back to the start-up look (still only on OK).
    void RestoreDefaults();
    // Refreshes the captions, colour faces and sample lines from the working copy.
    void ShowStyles();

    DisplayStyleTable& target_;
    UserDialogs& dialogs_;
    DisplayStyleTable working_;
    std::array<QPushButton*, kDisplayStyleCount> font_buttons_{};
    std::array<QPushButton*, kDisplayStyleCount> colour_buttons_{};
    std::array<QLabel*, kDisplayStyleCount> samples_{};
};
