// What a key typed into the receive display does: the display never takes typed text; the key
// is sent to the link (when keys are sent at once), or runs one of the display's commands.
#pragma once

#include <cstdint>
#include <string>

// The display's own commands, as its context menu numbers them.
constexpr int kDisplayCmdCopy = 103;
constexpr int kDisplayCmdPaste = 104;
constexpr int kDisplayCmdClear = 105;
constexpr int kDisplayCmdSelectAll = 106;
constexpr int kDisplayCmdRefresh = 110;

// One keyboard event of the display.
struct DisplayKeyEvent {
    enum Kind {
        kChar,     // a typed character (Ctrl+letter gives its control code, Ctrl+E 0x05)
        kKeyDown,  // a key pressed; `code` is a Key below
        kKeyUp,    // a key released; `code` is a Key below
        kSysChar,  // Alt+character; `code` is the character ('a' for Alt+A)
    };
    // The keys that matter for kKeyDown and kKeyUp.
    enum Key : uint32_t { kDelete = 1, kBackspace, kTab, kReturn, kOther };

    Kind kind = kChar;
    uint32_t code = 0;  // the character (kChar, kSysChar) or a Key (kKeyDown, kKeyUp)
    bool ctrl = false;  // Ctrl held
    // The typed character as text (a surrogate pair beyond the BMP); for kChar, when empty,
    // `code` is the character.
    std::u16string text;
};

// The settings that shape the decision (the window's KeyToSend, CtrlKeyToSendCode, Send0D0A).
struct DisplayKeyOptions {
    bool key_to_send = false;            // typed keys are sent at once
    bool ctrl_key_to_send_code = false;  // Ctrl+letter sends its control code
    bool send_0d0a = false;              // a typed CR goes out as CR LF
};

// What to do with the event.
struct DisplayKeyAction {
    bool swallow = false;       // the display must not see the event
    std::string bytes_to_send;  // send these (open the link if closed); empty: send nothing
    int display_command = 0;    // run this display command (kDisplayCmd...); 0: none

    friend bool operator==(const DisplayKeyAction&, const DisplayKeyAction&) = default;
};

// The decision for one event:
// - kChar with Ctrl held and ctrl_key_to_send_code clear: 0x05 gives Clear, 0x12 Refresh, 0x16
//   Paste, not swallowed; any other Ctrl character is left to the display.
// - any other kChar is swallowed; with key_to_send its bytes are sent: the character in the ANSI
//   code page (a Chinese character as its two GBK bytes), CR as CR LF with send_0d0a.
// - kKeyUp of Delete sends 0x7F with key_to_send; Delete, Backspace, Tab and Return are
//   swallowed on both key-down and key-up; other keys are left to the display.
// - kSysChar 'a' Select all, 'c' Copy, 'e' Clear, 'r' Refresh, 'v' Paste, whatever
//   ctrl_key_to_send_code is, not swallowed; other characters are left to the display.
// Pure; any thread (uses the code page conversion).
DisplayKeyAction DecideDisplayKey(const DisplayKeyEvent& event, const DisplayKeyOptions& options);
