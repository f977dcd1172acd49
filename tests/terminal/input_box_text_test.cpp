// The input box text and its stored form: line breaks as escapes both ways, cutting to the
// field's size without breaking an escape, a name or a surrogate pair.
#include "terminal/input_box_text.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <tuple>

#include "platform/code_page.h"
#include "terminal/send_parser.h"

namespace {

std::string Show(std::u16string_view text) {
    return kem::platform::WideToUtf8(text);
}

TEST(InputBoxFromStoredTest, TurnsOnlyTheTwoSpellingsBack) {
    const std::pair<const char16_t*, const char16_t*> rows[] = {
        {u"AB\\x0D\\x0ACD", u"AB\r\nCD"},
        {u"AB\\x0d\\x0aCD", u"AB\r\nCD"},
        {u"AB\\x0DCD", u"AB\\x0DCD"},  // a lone CR or LF escape stays
        {u"AB\\x0ACD", u"AB\\x0ACD"},
        {u"AB\\x0D\\x0aCD", u"AB\\x0D\\x0aCD"},  // mixed case stays
        {u"AB\\x0d\\x0ACD", u"AB\\x0d\\x0ACD"},
        {u"AB\\X0D\\X0ACD", u"AB\\X0D\\X0ACD"},
        {u"\\x0D\\x0A\\x0d\\x0a", u"\r\n\r\n"},
        {u"\\xD1\\xDD[CR]", u"\\xD1\\xDD[CR]"},
        {u"", u""},
        {u"演示\\x0D\\x0A输入", u"演示\r\n输入"},
    };
    for (const auto& [stored, shown] : rows) {
        EXPECT_EQ(Show(InputBoxFromStored(stored)), Show(shown)) << Show(stored);
    }
}

TEST(StoredFromInputBoxTest, EscapesEveryLineBreakUnitAndRoundTrips) {
    const std::pair<const char16_t*, const char16_t*> rows[] = {
        {u"AB\r\nCD", u"AB\\x0D\\x0ACD"},
        {u"A\rB", u"A\\x0DB"},
        {u"A\nB", u"A\\x0AB"},
        {u"\n\r", u"\\x0A\\x0D"},
        {u"Demo [CR]\\x41", u"Demo [CR]\\x41"},
        {u"", u""}};
    for (const auto& [shown, stored] : rows) {
        EXPECT_EQ(Show(StoredFromInputBox(shown)), Show(stored)) << Show(shown);
    }
    const std::u16string demo =
        u"Demo input\\x0D\\x0A演示输入[CR][LF]\\xD1\\xDD\\xCA\\xBE\\xca\\xe4";
    EXPECT_EQ(StoredFromInputBox(InputBoxFromStored(demo)), demo);
    // The lower-case pair comes back in upper case: the same bytes are sent.
    EXPECT_EQ(StoredFromInputBox(InputBoxFromStored(u"x\\x0d\\x0ay")), u"x\\x0D\\x0Ay");
}

TEST(StoredFromInputBoxTest, CutsNeverInsideAnEscapeOrName) {
    std::u16string long_text(600, u'a');
    long_text[509] = u'\r';  // by default cut to 511 units: its escape would need 509..512
    const std::tuple<const char*, std::u16string, size_t, std::u16string> rows[] = {
        {"fits exactly", u"ABCD", 4, u"ABCD"},
        {"plain cut", u"ABCDEF", 4, u"ABCD"},
        // 5 units would leave "\x0", a zero byte: the escape goes whole.
        {"CR escape not halved", u"AB\r", 5, u"AB"},
        {"CR escape kept whole", u"AB\r", 6, u"AB\\x0D"},
        {"CR LF kept as a pair", u"AB\r\nC", 9, u"AB"},
        {"CR LF whole", u"AB\r\nC", 10, u"AB\\x0D\\x0A"},
        {"typed escape not shortened", u"AB\\x41", 5, u"AB"},
        {"typed escape after", u"AB\\x41C", 6, u"AB\\x41"},
        // "\x4G" is 0x04 'G'; "\x4" is still 0x04, a prefix.
        {"digit then other", u"\\x4G", 3, u"\\x4"},
        {"name not halved", u"AB[CR]", 5, u"AB"},
        {"unknown bracket text cut freely", u"AB[QQ]", 5, u"AB[QQ"},
        {"surrogate pair not split", u"A\U0001F600", 2, u"A"},
        {"surrogate pair whole", u"A\U0001F600B", 3, u"A\U0001F600"},
        {"doubled backslash", u"A\\\\B", 2, u"A\\"},
        {"zero limit", u"ABC", 0, u""},
    };
    for (const auto& [name, shown, max_units, stored] : rows) {
        EXPECT_EQ(Show(StoredFromInputBox(shown, max_units)), Show(stored)) << name;
    }
    EXPECT_EQ(Show(StoredFromInputBox(long_text)), Show(std::u16string(509, u'a')));
}

// What a stored text sends with escapes decoded, and names replaced or not.
std::string Bytes(std::u16string_view text, bool names) {
    SendOptions options;
    options.parse_hex = true;
    options.parse_char_name = names;
    return ParseSendText(text, options);
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
        const std::u16string whole = StoredFromInputBox(shown, SIZE_MAX);
        const size_t max_units = round % 4 == 0 ? kInputBoxStoredUnits : limit(random);
        const std::u16string stored = StoredFromInputBox(shown, max_units);
        ASSERT_LE(stored.size(), max_units) << round;
        ASSERT_EQ(whole.substr(0, stored.size()), stored) << round;
        for (const bool names : {false, true}) {
            const std::string part = Bytes(stored, names);
            ASSERT_EQ(Bytes(whole, names).substr(0, part.size()), part)
                << round << ": " << Show(stored);
        }
        if (!stored.empty()) {
            EXPECT_FALSE(stored.back() >= 0xD800 && stored.back() <= 0xDBFF) << round;
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
