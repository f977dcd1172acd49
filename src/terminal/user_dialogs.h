// The questions and messages the window logic shows the user, behind one seam: the Qt
// windows implement it with real dialogs, tests answer from a script.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "terminal/display_style_format.h"

enum class DialogButtons { kOk, kYesNo, kYesNoCancel };
enum class DialogIcon { kInformation, kError, kQuestion };
enum class DialogAnswer { kOk, kYes, kNo, kCancel };

// The message-box captions the program uses.
inline constexpr const char16_t* kCaptionNotice = u"提示";
inline constexpr const char16_t* kCaptionError = u"错误";
inline constexpr const char16_t* kCaptionConfirm = u"确认";
inline constexpr const char16_t* kCaptionQuestion = u"询问";

// What a save-file dialog is asked to offer.
struct SaveFileRequest {
    std::u16string filter;             // "Name(*.ext)|*.ext|...||"
    std::u16string default_extension;  // with its dot
    std::u16string initial_name;
};

class UserDialogs {
public:
    virtual ~UserDialogs() = default;

    // Shows `text` under `caption` with the buttons and icon; returns the button chosen
    // (kCancel also when the box was closed otherwise).
    virtual DialogAnswer MessageBox(const std::u16string& text, const std::u16string& caption,
                                    DialogButtons buttons, DialogIcon icon) = 0;

    // Asks for a file to save to (prompting before an existing one is overwritten); nothing
    // when cancelled.
    virtual std::optional<std::u16string> AskSavePath(const SaveFileRequest& request) = 0;

    // Asks for an existing file to read; nothing when cancelled. The request's filter and
    // initial name are used as for saving.
    virtual std::optional<std::u16string> AskOpenPath(const SaveFileRequest& request) = 0;

    // Asks for a folder, starting at `initial`, under `title`; nothing when cancelled.
    virtual std::optional<std::u16string> AskFolder(const std::u16string& title,
                                                    const std::u16string& initial) = 0;

    // The font chooser, starting at `initial` (face, size in tenths of a point, bold, italic;
    // the colour is kept); nothing when cancelled.
    virtual std::optional<DisplayStyleFormat> ChooseFont(const DisplayStyleFormat& initial) = 0;

    // The colour chooser, starting at `initial` (0x00BBGGRR); nothing when cancelled.
    virtual std::optional<uint32_t> ChooseColour(uint32_t initial) = 0;
};
