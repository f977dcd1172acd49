#include "terminal/display_keys.h"

#include <gtest/gtest.h>

#include <string>

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
Event Alt(char32_t letter) {
    return {Event::kSysChar, letter, false, {}};
}

constexpr DisplayKeyOptions kSendKeys{.key_to_send = true};
constexpr DisplayKeyOptions kSendKeysCrLf{.key_to_send = true, .send_0d0a = true};
constexpr DisplayKeyOptions kSendCodes{.key_to_send = true, .ctrl_key_to_send_code = true};
constexpr DisplayKeyOptions kNothing{};

struct Row {
    const char* name;
    Event event;
    DisplayKeyOptions options;
    DisplayKeyAction action;
};

std::string Hex(const std::string& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (const unsigned char byte : bytes) {
        text += digits[byte >> 4];
        text += digits[byte & 15];
        text += ' ';
    }
    return text;
}

void Check(const Row& row) {
    const DisplayKeyAction action = DecideDisplayKey(row.event, row.options);
    EXPECT_EQ(action.swallow, row.action.swallow) << row.name;
    EXPECT_EQ(Hex(action.bytes_to_send), Hex(row.action.bytes_to_send)) << row.name;
    EXPECT_EQ(action.display_command, row.action.display_command) << row.name;
}

TEST(DecideDisplayKeyTest, CtrlKeysRunCommandsUnlessCodesAreSent) {
    const Row rows[] = {
        {"ctrl+E clear", Char(0x05, true, u"\x05"), kSendKeys, {false, "", 105}},
        {"ctrl+R refresh", Char(0x12, true, u"\x12"), kSendKeys, {false, "", 110}},
        {"ctrl+V paste", Char(0x16, true, u"\x16"), kSendKeys, {false, "", 104}},
        {"ctrl+A left to the display", Char(0x01, true, u"\x01"), kSendKeys, {false, "", 0}},
        {"ctrl+C left to the display", Char(0x03, true, u"\x03"), kSendKeys, {false, "", 0}},
        {"ctrl+E with keys off", Char(0x05, true), kNothing, {false, "", 105}},
        {"ctrl+E sends 05", Char(0x05, true, u"\x05"), kSendCodes, {true, "\x05", 0}},
        {"ctrl+R sends 12", Char(0x12, true, u"\x12"), kSendCodes, {true, "\x12", 0}},
        {"ctrl+V sends 16", Char(0x16, true, u"\x16"), kSendCodes, {true, "\x16", 0}},
        {"ctrl+A sends 01", Char(0x01, true, u"\x01"), kSendCodes, {true, "\x01", 0}},
        {"ctrl+C sends 03", Char(0x03, true, u"\x03"), kSendCodes, {true, "\x03", 0}},
        {"ctrl+E codes but keys off: swallowed, nothing sent",
         Char(0x05, true, u"\x05"),
         {.ctrl_key_to_send_code = true},
         {true, "", 0}},
    };
    for (const auto& row : rows) {
        Check(row);
    }
}

TEST(DecideDisplayKeyTest, TypedCharactersAreSwallowedAndSentWhenKeysAreSent) {
    const Row rows[] = {
        {"letter", Char(U'a', false, u"a"), kSendKeys, {true, "a", 0}},
        {"letter keys off", Char(U'a', false, u"a"), kNothing, {true, "", 0}},
        {"enter", Char(0x0D, false, u"\r"), kSendKeys, {true, "\r", 0}},
        {"enter CR LF", Char(0x0D, false, u"\r"), kSendKeysCrLf, {true, "\r\n", 0}},
        {"enter CR LF without text", Char(0x0D), kSendKeysCrLf, {true, "\r\n", 0}},
        {"backspace char", Char(0x08, false, u"\b"), kSendKeys, {true, "\b", 0}},
        {"tab char", Char(0x09, false, u"\t"), kSendKeys, {true, "\t", 0}},
        {"code only", Char(U'Z'), kSendKeys, {true, "Z", 0}},
        {"chinese GBK", Char(U'中', false, u"中"), kSendKeys, {true, "\xD6\xD0", 0}},
        {"chinese keys off", Char(U'中', false, u"中"), kNothing, {true, "", 0}},
        {"ctrl not held with codes", Char(U'e', false, u"e"), kSendCodes, {true, "e", 0}},
    };
    for (const auto& row : rows) {
        Check(row);
    }
    // The wide-character path is the send parser's: the same bytes as a typed character there.
    EXPECT_EQ(DecideDisplayKey(Char(U'演', false, u"演"), kSendKeys).bytes_to_send,
              TypedCharBytes(u"演", false));
    EXPECT_EQ(DecideDisplayKey(Char(0x1F600, false, u"\U0001F600"), kSendKeys).bytes_to_send,
              TypedCharBytes(u"\U0001F600", false));
}

TEST(DecideDisplayKeyTest, KeysDownAndUp) {
    const Row rows[] = {
        {"delete down", Down(Event::kDelete), kSendKeys, {true, "", 0}},
        {"delete up sends 7F", Up(Event::kDelete), kSendKeys, {true, "\x7F", 0}},
        {"delete up keys off", Up(Event::kDelete), kNothing, {true, "", 0}},
        {"backspace down", Down(Event::kBackspace), kSendKeys, {true, "", 0}},
        {"backspace up", Up(Event::kBackspace), kSendKeys, {true, "", 0}},
        {"tab down", Down(Event::kTab), kSendKeys, {true, "", 0}},
        {"return down", Down(Event::kReturn), kSendKeysCrLf, {true, "", 0}},
        {"return up", Up(Event::kReturn), kSendKeysCrLf, {true, "", 0}},
        {"arrow down", Down(Event::kOther), kSendKeys, {false, "", 0}},
        {"arrow up", Up(Event::kOther), kSendKeys, {false, "", 0}},
    };
    for (const auto& row : rows) {
        Check(row);
    }
}

TEST(DecideDisplayKeyTest, AltLettersRunCommandsWhateverTheCtrlSetting) {
    for (const DisplayKeyOptions options : {kNothing, kSendKeys, kSendCodes}) {
        const Row rows[] = {
            {"alt+a", Alt(U'a'), options, {false, "", 106}},
            {"alt+c", Alt(U'c'), options, {false, "", 103}},
            {"alt+e", Alt(U'e'), options, {false, "", 105}},
            {"alt+r", Alt(U'r'), options, {false, "", 110}},
            {"alt+v", Alt(U'v'), options, {false, "", 104}},
            {"alt+x", Alt(U'x'), options, {false, "", 0}},
            {"alt+shift+A", Alt(U'A'), options, {false, "", 0}},
        };
        for (const auto& row : rows) {
            Check(row);
        }
    }
}

}  // namespace
