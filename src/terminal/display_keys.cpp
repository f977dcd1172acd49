#include "terminal/display_keys.h"

#include "terminal/send_parser.h"

namespace {

constexpr uint32_t kCtrlE = 0x05;
constexpr uint32_t kCtrlR = 0x12;
constexpr uint32_t kCtrlV = 0x16;

DisplayKeyAction OnChar(const DisplayKeyEvent& event, const DisplayKeyOptions& options) {
    DisplayKeyAction action;
    if (!options.ctrl_key_to_send_code && event.ctrl) {
        // Ctrl keys stay the display's editing keys; three of them run its commands.
        switch (event.code) {
            case kCtrlE:
                action.display_command = kDisplayCmdClear;
                break;
            case kCtrlR:
                action.display_command = kDisplayCmdRefresh;
                break;
            case kCtrlV:
                action.display_command = kDisplayCmdPaste;
                break;
            default:
                break;
        }
        return action;
    }
    action.swallow = true;
    if (options.key_to_send) {
        if (!event.text.empty()) {
            action.bytes_to_send = TypedCharBytes(event.text, options.send_0d0a);
        } else {
            // Without text only the character code is known: its low byte is sent.
            const auto byte = static_cast<char>(event.code & 0xFF);
            action.bytes_to_send.assign(1, byte);
            if (byte == '\r' && options.send_0d0a) {
                action.bytes_to_send += '\n';
            }
        }
    }
    return action;
}

DisplayKeyAction OnKey(const DisplayKeyEvent& event, const DisplayKeyOptions& options) {
    DisplayKeyAction action;
    switch (event.code) {
        case DisplayKeyEvent::kDelete:
            action.swallow = true;
            if (event.kind == DisplayKeyEvent::kKeyUp && options.key_to_send) {
                action.bytes_to_send.assign(1, static_cast<char>(kDeleteKeyByte));
            }
            break;
        case DisplayKeyEvent::kBackspace:
        case DisplayKeyEvent::kTab:
        case DisplayKeyEvent::kReturn:
            // Their characters arrive as kChar and are handled there.
            action.swallow = true;
            break;
        default:
            break;
    }
    return action;
}

DisplayKeyAction OnSysChar(const DisplayKeyEvent& event) {
    DisplayKeyAction action;
    switch (event.code) {
        case U'a':
            action.display_command = kDisplayCmdSelectAll;
            break;
        case U'c':
            action.display_command = kDisplayCmdCopy;
            break;
        case U'e':
            action.display_command = kDisplayCmdClear;
            break;
        case U'r':
            action.display_command = kDisplayCmdRefresh;
            break;
        case U'v':
            action.display_command = kDisplayCmdPaste;
            break;
        default:
            break;
    }
    return action;
}

}  // namespace

DisplayKeyAction DecideDisplayKey(const DisplayKeyEvent& event, const DisplayKeyOptions& options) {
    switch (event.kind) {
        case DisplayKeyEvent::kChar:
            return OnChar(event, options);
        case DisplayKeyEvent::kKeyDown:
        case DisplayKeyEvent::kKeyUp:
            return OnKey(event, options);
        case DisplayKeyEvent::kSysChar:
            return OnSysChar(event);
    }
    return {};
}
