#include "terminal/input_box_text.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "platform/code_page.h"
#include "terminal/send_parser.h"

namespace {

std::string Show(std::u16string_view text) {
    return kem::platform::WideToUtf8(text);
}

// What a stored text sends with escapes decoded (names untouched).
std::string EscapeBytes(std::u16string_view text) {
    SendOptions options;
    options.parse_hex = true;
    return ParseSendText(text, options);
}

// The same with names replaced first.
std::string NameAndEscapeBytes(std::u16string_view text) {
    SendOptions options;
    options.parse_hex = true;
    options.parse_char_name = true;
    return ParseSendText(text, options);
}

TEST(InputBoxFromStoredTest, TurnsOnlyTheTwoSpellingsBack) {
    const struct {
        const char* name;
        const char16_t* stored;
        const char16_t* shown;
    } rows[] = {
        {"upper pair", u"AB\\x0D\\x0ACD", u"AB\r\nCD"},
        {"lower pair", u"AB\\x0d\\x0aCD", u"AB\r\nCD"},
        {"lone CR escape", u"AB\\x0DCD", u"AB\\x0DCD"},
        {"lone LF escape", u"AB\\x0ACD", u"AB\\x0ACD"},
        {"mixed case pair", u"AB\\x0D\\x0aCD", u"AB\\x0D\\x0aCD"},
        {"mixed case pair 2", u"AB\\x0d\\x0ACD", u"AB\\x0d\\x0ACD"},
        {"upper X", u"AB\\X0D\\X0ACD", u"AB\\X0D\\X0ACD"},
        {"two pairs", u"\\x0D\\x0A\\x0d\\x0a", u"\r\n\r\n"},
        {"other escapes kept", u"\\xD1\\xDD[CR]", u"\\xD1\\xDD[CR]"},
        {"empty", u"", u""},
        {"chinese around", u"演示\\x0D\\x0A输入", u"演示\r\n输入"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(InputBoxFromStored(row.stored), row.shown) << row.name;
    }
}

TEST(StoredFromInputBoxTest, EscapesEveryLineBreakUnit) {
    const struct {
        const char* name;
        const char16_t* shown;
        const char16_t* stored;
    } rows[] = {
        {"pair", u"AB\r\nCD", u"AB\\x0D\\x0ACD"},
        {"lone CR", u"A\rB", u"A\\x0DB"},
        {"lone LF", u"A\nB", u"A\\x0AB"},
        {"LF CR", u"\n\r", u"\\x0A\\x0D"},
        {"no breaks", u"Demo [CR]\\x41", u"Demo [CR]\\x41"},
        {"empty", u"", u""},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(StoredFromInputBox(row.shown), row.stored) << row.name;
    }
}

TEST(StoredFromInputBoxTest, RoundTripOfTheDefaultAndTheExample) {
    const std::u16string example = u"AB\\x0D\\x0ACD";
    EXPECT_EQ(InputBoxFromStored(example), u"AB\r\nCD");
    EXPECT_EQ(StoredFromInputBox(InputBoxFromStored(example)), example);
    const std::u16string demo =
        u"Demo input\\x0D\\x0A演示输入[CR][LF]\\xD1\\xDD\\xCA\\xBE\\xca\\xe4";
    EXPECT_EQ(StoredFromInputBox(InputBoxFromStored(demo)), demo);
    // The lower-case pair comes back in upper case: the same bytes are sent.
    EXPECT_EQ(StoredFromInputBox(InputBoxFromStored(u"x\\x0d\\x0ay")), u"x\\x0D\\x0Ay");
}

TEST(StoredFromInputBoxTest, CutsNeverInsideAnEscapeOrName) {
    const struct {
        const char* name;
        std::u16string shown;
        size_t max_units;
        std::u16string stored;
    } rows[] = {
        {"fits exactly", u"ABCD", 4, u"ABCD"},
        {"plain cut", u"ABCDEF", 4, u"ABCD"},
        // "AB\x0D" is 6 units; 5 would leave "\x0" (a zero byte): the escape goes whole.
        {"CR escape not halved", u"AB\r", 5, u"AB"},
        {"CR escape kept whole", u"AB\r", 6, u"AB\\x0D"},
        {"CR LF kept as a pair", u"AB\r\nC", 9, u"AB"},
        {"CR LF whole", u"AB\r\nC", 10, u"AB\\x0D\\x0A"},
        {"typed escape not shortened", u"AB\\x41", 5, u"AB"},
        {"typed escape after", u"AB\\x41C", 6, u"AB\\x41"},
        // "\x4G" decodes to 0x04 'G'; cutting before G leaves "\x4" = 0x04, still a prefix.
        {"digit then other", u"\\x4G", 3, u"\\x4"},
        {"name not halved", u"AB[CR]", 5, u"AB"},
        {"unknown bracket text cut freely", u"AB[QQ]", 5, u"AB[QQ"},
        {"surrogate pair not split", u"A\U0001F600", 2, u"A"},
        {"surrogate pair whole", u"A\U0001F600B", 3, u"A\U0001F600"},
        {"doubled backslash", u"A\\\\B", 2, u"A\\"},
        {"zero limit", u"ABC", 0, u""},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(Show(StoredFromInputBox(row.shown, row.max_units)), Show(row.stored)) << row.name;
    }
}

TEST(StoredFromInputBoxTest, LongTextIsCutTo511Units) {
    std::u16string shown(600, u'a');
    shown[509] = u'\r';  // its escape would need units 509..512
    const std::u16string stored = StoredFromInputBox(shown);
    EXPECT_EQ(stored.size(), 509u);
    EXPECT_EQ(stored, std::u16string(509, u'a'));
}

// Random texts of escapes, names, line breaks, wide characters and plain text, longer than the
// field: the stored text must send a prefix of what the whole text sends.
TEST(StoredFromInputBoxTest, PropertyCutTextSendsAPrefixOfTheWholeText) {
    const char16_t* pieces[] = {u"\r",         u"\n",   u"\r\n", u"\\x41", u"\\x4",
                                u"\\x",        u"\\",   u"\\\\", u"x",     u"0",
                                u"D",          u"[CR]", u"[LF]", u"[",     u"]",
                                u"[NUL]",      u"a",    u"演",   u"示",    u"\U0001F600",
                                u"\\xD1\\xDD", u"\\xG", u"F",    u"[cr]",  u"\\x0d\\x0a"};
    std::mt19937 random(20240131);
    std::uniform_int_distribution<size_t> pick(0, std::size(pieces) - 1);
    std::uniform_int_distribution<size_t> limit(0, 80);
    for (int round = 0; round < 400; ++round) {
        std::u16string shown;
        while (shown.size() < 120) {
            shown += pieces[pick(random)];
        }
        std::u16string whole = StoredFromInputBox(shown, SIZE_MAX);
        const size_t max_units = round % 4 == 0 ? kInputBoxStoredUnits : limit(random);
        const std::u16string stored = StoredFromInputBox(shown, max_units);
        ASSERT_LE(stored.size(), max_units) << round;
        ASSERT_EQ(whole.substr(0, stored.size()), stored) << round;
        const std::string part_bytes = EscapeBytes(stored);
        const std::string whole_bytes = EscapeBytes(whole);
        ASSERT_EQ(whole_bytes.substr(0, part_bytes.size()), part_bytes)
            << round << ": " << Show(stored);
        const std::string part_named = NameAndEscapeBytes(stored);
        const std::string whole_named = NameAndEscapeBytes(whole);
        ASSERT_EQ(whole_named.substr(0, part_named.size()), part_named)
            << round << ": " << Show(stored);
        if (!stored.empty()) {
            const char16_t last = stored.back();
            EXPECT_FALSE(last >= 0xD800 && last <= 0xDBFF) << round;
        }
    }
}

TEST(CutStoredTextTest, CutsAtTheLimitButNotInsideASurrogatePair) {
    EXPECT_EQ(CutStoredText(u"COM1", 255), u"COM1");
    EXPECT_EQ(CutStoredText(u"123456", 3), u"123");
    EXPECT_EQ(CutStoredText(u"ab\U0001F600", 3), u"ab");
    EXPECT_EQ(CutStoredText(u"ab\U0001F600", 4), u"ab\U0001F600");
    EXPECT_EQ(CutStoredText(u"", 0), u"");
    EXPECT_EQ(CutStoredText(u"abc", 0), u"");
}

}  // namespace
