// Keys typed into the receive display: which run display commands, which are sent, which are
// kept from the display.
#include "terminal/display_keys.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "support/hex_text.h"
#include "terminal/send_parser.h"

namespace {

using Event = DisplayKeyEvent;

Event Char(uint32_t code, bool ctrl = false, std::u16string text = {}) {
    return {Event::kChar, code, ctrl, std::move(text)};
}
Event Down(Event::Key key) {
    return {Event::kKeyDown, key, false, {}};
}
Event Up(Event::Key key) {
    return {Event::kKeyUp, key, false, {}};
}

constexpr DisplayKeyOptions kSendKeys{.key_to_send = true};
constexpr DisplayKeyOptions kSendKeysCrLf{.key_to_send = true, .send_0d0a = true};
constexpr DisplayKeyOptions kSendCodes{.key_to_send = true, .ctrl_key_to_send_code = true};
constexpr DisplayKeyOptions kCodesOnly{.ctrl_key_to_send_code = true};
constexpr DisplayKeyOptions kNothing{};

// "swallow"/"pass", then " send" and the bytes, then " cmd" and the display command.
std::string Decide(const Event& event, const DisplayKeyOptions& options) {
    const DisplayKeyAction action = DecideDisplayKey(event, options);
    std::string text = action.swallow ? "swallow" : "pass";
    if (!action.bytes_to_send.empty()) {
        text += " send " + kem::testing::HexText(action.bytes_to_send);
    }
    if (action.display_command != 0) {
        text += " cmd " + std::to_string(action.display_command);
    }
    return text;
}

TEST(DecideDisplayKeyTest, CtrlKeysTypedCharactersAndKeysDownAndUp) {
    const std::tuple<const char*, Event, DisplayKeyOptions, const char*> rows[] = {
        // Ctrl keys run display commands unless their codes are sent.
        {"ctrl+E clear", Char(0x05, true, u"\x05"), kSendKeys, "pass cmd 105"},
        {"ctrl+R refresh", Char(0x12, true, u"\x12"), kSendKeys, "pass cmd 110"},
        {"ctrl+V paste", Char(0x16, true, u"\x16"), kSendKeys, "pass cmd 104"},
        {"ctrl+A left to the display", Char(0x01, true, u"\x01"), kSendKeys, "pass"},
        {"ctrl+C left to the display", Char(0x03, true, u"\x03"), kSendKeys, "pass"},
        {"ctrl+E with keys off", Char(0x05, true), kNothing, "pass cmd 105"},
        {"ctrl+E sends 05", Char(0x05, true, u"\x05"), kSendCodes, "swallow send 05"},
        {"ctrl+R sends 12", Char(0x12, true, u"\x12"), kSendCodes, "swallow send 12"},
        {"ctrl+V sends 16", Char(0x16, true, u"\x16"), kSendCodes, "swallow send 16"},
        {"ctrl+A sends 01", Char(0x01, true, u"\x01"), kSendCodes, "swallow send 01"},
        {"ctrl+C sends 03", Char(0x03, true, u"\x03"), kSendCodes, "swallow send 03"},
        {"ctrl+E codes, keys off", Char(0x05, true, u"\x05"), kCodesOnly, "swallow"},
        // Typed characters are swallowed, and sent when keys are sent.
        {"letter", Char(U'a', false, u"a"), kSendKeys, "swallow send 61"},
        {"letter keys off", Char(U'a', false, u"a"), kNothing, "swallow"},
        {"enter", Char(0x0D, false, u"\r"), kSendKeys, "swallow send 0D"},
        {"enter CR LF", Char(0x0D, false, u"\r"), kSendKeysCrLf, "swallow send 0D 0A"},
        {"enter CR LF without text", Char(0x0D), kSendKeysCrLf, "swallow send 0D 0A"},
        {"backspace char", Char(0x08, false, u"\b"), kSendKeys, "swallow send 08"},
        {"tab char", Char(0x09, false, u"\t"), kSendKeys, "swallow send 09"},
        {"code only", Char(U'Z'), kSendKeys, "swallow send 5A"},
        {"chinese GBK", Char(U'中', false, u"中"), kSendKeys, "swallow send D6 D0"},
        {"chinese keys off", Char(U'中', false, u"中"), kNothing, "swallow"},
        {"ctrl not held with codes", Char(U'e', false, u"e"), kSendCodes, "swallow send 65"},
        // Keys down and up.
        {"delete down", Down(Event::kDelete), kSendKeys, "swallow"},
        {"delete up sends 7F", Up(Event::kDelete), kSendKeys, "swallow send 7F"},
        {"delete up keys off", Up(Event::kDelete), kNothing, "swallow"},
        {"backspace down", Down(Event::kBackspace), kSendKeys, "swallow"},
        {"backspace up", Up(Event::kBackspace), kSendKeys, "swallow"},
        {"tab down", Down(Event::kTab), kSendKeys, "swallow"},
        {"return down", Down(Event::kReturn), kSendKeysCrLf, "swallow"},
        {"return up", Up(Event::kReturn), kSendKeysCrLf, "swallow"},
        {"arrow down", Down(Event::kOther), kSendKeys, "pass"},
        {"arrow up", Up(Event::kOther), kSendKeys, "pass"},
    };
    for (const auto& [name, event, options, action] : rows) {
        EXPECT_EQ(Decide(event, options), action) << name;
    }
    // The wide-character path is the send parser's: the same bytes as a typed character there.
    for (const char16_t* wide : {u"演", u"\U0001F600"}) {
        const std::u16string text(wide);
        const uint32_t code = text.size() == 1 ? text[0] : 0x1F600;
        EXPECT_EQ(DecideDisplayKey(Char(code, false, text), kSendKeys).bytes_to_send,
                  TypedCharBytes(text, false));
    }
}

TEST(DecideDisplayKeyTest, AltLettersRunCommandsWhateverTheCtrlSetting) {
    const std::pair<char32_t, const char*> rows[] = {{U'a', "pass cmd 106"}, {U'c', "pass cmd 103"},
                                                     {U'e', "pass cmd 105"}, {U'r', "pass cmd 110"},
                                                     {U'v', "pass cmd 104"}, {U'x', "pass"},
                                                     {U'A', "pass"}};  // Alt+Shift+A: none
    for (const DisplayKeyOptions options : {kNothing, kSendKeys, kSendCodes}) {
        for (const auto& [letter, action] : rows) {
            EXPECT_EQ(Decide({Event::kSysChar, letter, false, {}}, options), action)
                << static_cast<char>(letter);
        }
    }
}

}  // namespace
