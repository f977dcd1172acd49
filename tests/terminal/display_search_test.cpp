#include "terminal/display_search.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr auto kRx = DisplayStyle::kReceivedNormal;
constexpr auto kRxName = DisplayStyle::kReceivedControl;
constexpr auto kRxStamp = DisplayStyle::kReceivedTimeStamp;
constexpr auto kTx = DisplayStyle::kSentNormal;
constexpr auto kTxStamp = DisplayStyle::kSentTimeStamp;

DisplaySearchQuery Text(const std::u16string& text, bool match_case = false) {
    return DisplaySearchQuery{text, match_case, DisplaySearchMode::kText};
}

DisplaySearchQuery Hex(const std::u16string& text) {
    return DisplaySearchQuery{text, false, DisplaySearchMode::kHex};
}

DisplayModel Unlimited() {
    DisplayModel model;
    model.SetClearLimit(0);
    return model;
}

std::vector<DisplayMatch> Find(const DisplayModel& model, const DisplaySearchQuery& query) {
    DisplaySearch search;
    search.SetQuery(query);
    search.Update(model);
    return search.matches();
}

// An independent reference: the shown text without the display's own breaks is cut into
// zones where the time-stamp styles begin or end; each zone is searched by brute force from
// the left, a match excluding the next one where they would overlap.
struct Unit {
    char16_t unit;
    size_t at;
    bool header;
};

std::vector<Unit> Units(const DisplayModel& model) {
    std::vector<Unit> units;
    const std::vector<size_t>& soft = model.SoftBreaks();
    size_t at = 0;
    size_t next_soft = 0;
    for (const StyledRun& segment : model.Segments()) {
        const bool header =
            segment.style == DisplayStyle::kReceivedTimeStamp || segment.style == kTxStamp;
        for (char16_t unit : segment.text) {
            if (next_soft < soft.size() && soft[next_soft] == at) {
                ++next_soft;
            } else {
                units.push_back(Unit{unit, at, header});
            }
            ++at;
        }
    }
    return units;
}

std::vector<DisplayMatch> ReferenceText(const DisplayModel& model, std::u16string pattern,
                                        bool match_case) {
    auto fold = [&](char16_t unit) {
        return match_case || unit < u'A' || unit > u'Z' ? unit : static_cast<char16_t>(unit + 32);
    };
    for (char16_t& unit : pattern) {
        unit = fold(unit);
    }
    const std::vector<Unit> units = Units(model);
    std::vector<DisplayMatch> matches;
    size_t i = 0;
    while (i + pattern.size() <= units.size()) {
        bool ok = true;
        for (size_t k = 0; k < pattern.size() && ok; ++k) {
            ok = fold(units[i + k].unit) == pattern[k] && units[i + k].header == units[i].header;
        }
        if (ok) {
            matches.push_back(DisplayMatch{units[i].at, units[i + pattern.size() - 1].at + 1});
            i += pattern.size();
        } else {
            ++i;
        }
    }
    return matches;
}

// The same for bytes: each pair of hex digits of a data zone is a byte; bytes separated by
// anything but one space are not adjacent.
std::vector<DisplayMatch> ReferenceHex(const DisplayModel& model,
                                       const std::vector<uint8_t>& pattern) {
    struct Byte {
        uint8_t value;
        size_t begin, end;
        size_t run;  // bytes of one run are adjacent
    };
    const std::vector<Unit> units = Units(model);
    std::vector<Byte> bytes;
    size_t run = 0;
    auto digit = [](char16_t unit) {
        return unit >= u'0' && unit <= u'9'   ? unit - u'0'
               : unit >= u'A' && unit <= u'F' ? unit - u'A' + 10
                                              : -1;
    };
    for (size_t i = 0; i < units.size();) {
        if (!units[i].header && i + 1 < units.size() && !units[i + 1].header &&
            digit(units[i].unit) >= 0 && digit(units[i + 1].unit) >= 0) {
            bytes.push_back(
                Byte{static_cast<uint8_t>(digit(units[i].unit) * 16 + digit(units[i + 1].unit)),
                     units[i].at, units[i + 1].at + 1, run});
            i += 2;
            if (i < units.size() && units[i].unit == u' ' && !units[i].header) {
                ++i;
            } else {
                ++run;
            }
        } else {
            ++run;
            ++i;
        }
    }
    std::vector<DisplayMatch> matches;
    size_t i = 0;
    while (i + pattern.size() <= bytes.size()) {
        bool ok = true;
        for (size_t k = 0; k < pattern.size() && ok; ++k) {
            ok = bytes[i + k].value == pattern[k] && bytes[i + k].run == bytes[i].run;
        }
        if (ok) {
            matches.push_back(DisplayMatch{bytes[i].begin, bytes[i + pattern.size() - 1].end});
            i += pattern.size();
        } else {
            ++i;
        }
    }
    return matches;
}

std::u16string HexText(const std::string& bytes) {
    static const char16_t digits[] = u"0123456789ABCDEF";
    std::u16string text;
    for (unsigned char byte : bytes) {
        text += digits[byte >> 4];
        text += digits[byte & 15];
        text += u' ';
    }
    return text;
}

TEST(DisplaySearchTest, FindsTextIgnoringAsciiCaseByDefault) {
    DisplayModel model = Unlimited();
    model.AppendRun(u"Hello hello HELLO hElLo\r\nhelo", kRx);
    const auto found = Find(model, Text(u"hello"));
    ASSERT_EQ(found.size(), 4u);
    EXPECT_EQ(found[0], (DisplayMatch{0, 5}));
    EXPECT_EQ(found[3], (DisplayMatch{18, 23}));
    EXPECT_EQ(Find(model, Text(u"HELLO", true)).size(), 1u);
    EXPECT_EQ(Find(model, Text(u"hello", true)).size(), 1u);
    EXPECT_EQ(Find(model, Text(u"Hello", true))[0], (DisplayMatch{0, 5}));
    EXPECT_TRUE(Find(model, Text(u"hellox")).empty());
}

TEST(DisplaySearchTest, FoldsLatinGreekCyrillicAndFullWidthLettersButNotChinese) {
    EXPECT_EQ(FoldSearchCase(u'Q'), u'q');
    EXPECT_EQ(FoldSearchCase(u'Ä'), u'ä');
    EXPECT_EQ(FoldSearchCase(u'×'), u'×');
    EXPECT_EQ(FoldSearchCase(u'Ω'), u'ω');
    EXPECT_EQ(FoldSearchCase(u'Ж'), u'ж');
    EXPECT_EQ(FoldSearchCase(u'Ё'), u'ё');
    EXPECT_EQ(FoldSearchCase(u'Ａ'), u'ａ');
    EXPECT_EQ(FoldSearchCase(u'汉'), u'汉');
    EXPECT_EQ(FoldSearchCase(u'['), u'[');

    DisplayModel model = Unlimited();
    model.AppendRun(u"ÄÖÜ Привет ＡＢ 汉字", kRx);
    EXPECT_EQ(Find(model, Text(u"äöü")).size(), 1u);
    EXPECT_EQ(Find(model, Text(u"ПРИВЕТ")).size(), 1u);
    EXPECT_EQ(Find(model, Text(u"ａｂ")).size(), 1u);
    EXPECT_EQ(Find(model, Text(u"汉字")), (std::vector<DisplayMatch>{{14, 16}}));
    EXPECT_TRUE(Find(model, Text(u"äöü", true)).empty());
}

TEST(DisplaySearchTest, MatchesDoNotOverlapAndSpanStylesOfTheData) {
    DisplayModel model = Unlimited();
    model.AppendRun(u"aaaaa", kRx);
    EXPECT_EQ(Find(model, Text(u"aa")), (std::vector<DisplayMatch>{{0, 2}, {2, 4}}));
    // A control name and a change of direction are shown text like any other.
    model.AppendRun(u"x[NUL]y", kRxName);
    model.AppendRun(u"zw", kTx);
    EXPECT_EQ(Find(model, Text(u"]yz")), (std::vector<DisplayMatch>{{10, 13}}));
    EXPECT_EQ(Find(model, Text(u"[nul]")).size(), 1u);
}

TEST(DisplaySearchTest, MatchesNeverCrossATimeStampHeader) {
    DisplayModel model = Unlimited();
    model.AppendRun(u"[10:00:00.001]", kRxStamp);
    model.AppendRun(u"ab", kRx);
    model.AppendRun(u"\r\n", kTxStamp);  // the extra line break is in the header's style
    model.AppendRun(u"ab", kTxStamp);
    model.AppendRun(u"ab", kTx);
    // Shown: "[10:00:00.001]ab\nabab"; "bab" would run from data into the header.
    EXPECT_TRUE(Find(model, Text(u"bab")).empty());
    EXPECT_TRUE(Find(model, Text(u"]a")).empty());
    // A header is text that can be found, as a whole or in part.
    EXPECT_EQ(Find(model, Text(u"00.001")), (std::vector<DisplayMatch>{{7, 13}}));
    EXPECT_EQ(Find(model, Text(u"ab")), (std::vector<DisplayMatch>{{14, 16}, {17, 19}, {19, 21}}));
}

TEST(DisplaySearchTest, HexPatternsParseAsBytes) {
    using Bytes = std::vector<uint8_t>;
    EXPECT_EQ(ParseHexPattern(u"0D 0A"), (Bytes{0x0D, 0x0A}));
    EXPECT_EQ(ParseHexPattern(u"0d0a"), (Bytes{0x0D, 0x0A}));
    EXPECT_EQ(ParseHexPattern(u"  ff 0D0a\t7e "), (Bytes{0xFF, 0x0D, 0x0A, 0x7E}));
    EXPECT_EQ(ParseHexPattern(u""), Bytes{});
    EXPECT_EQ(ParseHexPattern(u"   "), Bytes{});
    EXPECT_FALSE(ParseHexPattern(u"0D 0"));
    EXPECT_FALSE(ParseHexPattern(u"D"));
    EXPECT_FALSE(ParseHexPattern(u"0G"));
    EXPECT_FALSE(ParseHexPattern(u"0x0D"));
    EXPECT_FALSE(ParseHexPattern(u"0D,0A"));

    DisplaySearch search;
    EXPECT_EQ(search.SetQuery(Hex(u"0D 0A")), DisplaySearchState::kReady);
    EXPECT_EQ(search.SetQuery(Hex(u"0D 0")), DisplaySearchState::kInvalidHex);
    EXPECT_EQ(search.SetQuery(Hex(u" ")), DisplaySearchState::kEmpty);
    EXPECT_EQ(search.SetQuery(Text(u"")), DisplaySearchState::kEmpty);
    EXPECT_EQ(search.SetQuery(Text(u"0D 0")), DisplaySearchState::kReady);
}

TEST(DisplaySearchTest, InvalidOrEmptyPatternsFindNothing) {
    DisplayModel model = Unlimited();
    model.AppendRun(HexText("\r\n"), kRx);
    DisplaySearch search;
    search.SetQuery(Hex(u"0D 0"));
    search.Update(model);
    EXPECT_EQ(search.Count(), 0u);
    search.SetQuery(Text(u""));
    search.Update(model);
    EXPECT_EQ(search.Count(), 0u);
}

TEST(DisplaySearchTest, HexFindsTheBytesShownNotTheDigitsInHeaders) {
    DisplayModel model = Unlimited();
    model.AppendRun(u"[0D 0A]", kRxStamp);  // a header that looks like bytes
    model.AppendRun(HexText("A\r\nB\r"), kRx);
    model.AppendRun(u"[10:00]", kTxStamp);
    model.AppendRun(HexText("\nC"), kTx);
    // Shown: "[0D 0A]41 0D 0A 42 0D [10:00]0A 43 ".
    const auto found = Find(model, Hex(u"0d0a"));
    EXPECT_EQ(found, (std::vector<DisplayMatch>{{10, 15}}));
    EXPECT_EQ(model.ExportRange(10, 15), u"0D 0A");
    // The CR before the header and the LF after it are not adjacent bytes.
    EXPECT_EQ(Find(model, Hex(u"0A")).size(), 2u);
    EXPECT_EQ(Find(model, Hex(u"0A 42 0D")), (std::vector<DisplayMatch>{{13, 21}}));
    // Text mode in the same display finds the digits, headers included.
    EXPECT_EQ(Find(model, Text(u"0D 0A")).size(), 2u);
}

TEST(DisplaySearchTest, HexBytesOfBothDirectionsWithoutHeadersAreAdjacent) {
    DisplayModel model = Unlimited();
    model.AppendRun(HexText("\x01\x02"), kRx);
    model.AppendRun(HexText("\x03"), kTx);
    EXPECT_EQ(Find(model, Hex(u"0203")), (std::vector<DisplayMatch>{{3, 8}}));
}

TEST(DisplaySearchTest, MatchesRunOverTheDisplaysOwnBreaks) {
    DisplayModel model = Unlimited();
    std::u16string line(DisplayModel::kMaxLineUnits - 3, u'x');
    line += u"needle";
    model.AppendRun(line, kRx);
    ASSERT_EQ(model.SoftBreaks(), (std::vector<size_t>{DisplayModel::kMaxLineUnits}));
    const auto found = Find(model, Text(u"NEEDLE"));
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].begin, DisplayModel::kMaxLineUnits - 3);
    EXPECT_EQ(found[0].end, DisplayModel::kMaxLineUnits + 4);
    EXPECT_EQ(model.ExportRange(found[0].begin, found[0].end), u"needle");

    // A HEX line longer than a display line: a break falls inside a byte's two digits.
    DisplayModel hex = Unlimited();
    std::string bytes(400, '\x11');
    bytes[341] = '\x7E';
    bytes[342] = '\x7F';
    hex.AppendRun(HexText(bytes), kRx);
    ASSERT_EQ(hex.SoftBreaks(), (std::vector<size_t>{1024}));
    const auto bytes_found = Find(hex, Hex(u"7E7F"));
    ASSERT_EQ(bytes_found.size(), 1u);
    EXPECT_EQ(bytes_found[0], (DisplayMatch{1023, 1029}));
    EXPECT_EQ(hex.ExportRange(1023, 1029), u"7E 7F");
}

TEST(DisplaySearchTest, AppendsAreScannedIncrementallyAcrossTheirBorders) {
    DisplayModel model = Unlimited();
    DisplaySearch search;
    search.SetQuery(Text(u"abc"));
    EXPECT_FALSE(search.Update(model));
    model.AppendRun(u"xxa", kRx);
    EXPECT_FALSE(search.Update(model));
    model.AppendRun(u"b", kRx);
    EXPECT_FALSE(search.Update(model));
    const uint64_t epoch = search.Epoch();
    model.AppendRun(u"cab", kTx);
    EXPECT_TRUE(search.Update(model));
    EXPECT_EQ(search.matches(), (std::vector<DisplayMatch>{{2, 5}}));
    model.AppendRun(u"c", kTx);
    EXPECT_TRUE(search.Update(model));
    EXPECT_EQ(search.matches(), (std::vector<DisplayMatch>{{2, 5}, {5, 8}}));
    EXPECT_EQ(search.Epoch(), epoch);  // appended, nothing dropped
    EXPECT_FALSE(search.Update(model));
}

TEST(DisplaySearchTest, ClearedOrEmptiedAtTheLimitDropsTheMatchesThatWent) {
    DisplayModel model;
    model.SetClearLimit(20);
    DisplaySearch search;
    search.SetQuery(Text(u"ok"));
    model.AppendRun(u"ok ok ok ok ok ok ok ", kRx);  // 21 units: over the limit
    search.Update(model);
    EXPECT_EQ(search.Count(), 7u);
    const uint64_t epoch = search.Epoch();
    model.AppendRun(u"--ok", kRx);  // the display empties itself first
    EXPECT_TRUE(search.Update(model));
    EXPECT_GT(search.Epoch(), epoch);
    EXPECT_EQ(search.matches(), (std::vector<DisplayMatch>{{2, 4}}));

    // A match split by the emptying is not found: its first half went.
    model.AppendRun(u"0123456789abcdefo", kRx);
    search.Update(model);
    EXPECT_EQ(search.Count(), 1u);
    model.AppendRun(u"k", kRx);
    search.Update(model);
    EXPECT_EQ(search.Count(), 0u);
    EXPECT_EQ(model.ShownText(), u"k");

    model.AppendRun(u" ok", kRx);
    search.Update(model);
    EXPECT_EQ(search.Count(), 1u);
    model.Clear();
    EXPECT_TRUE(search.Update(model));
    EXPECT_EQ(search.Count(), 0u);
}

TEST(DisplaySearchTest, ANewQueryStartsOverAndTheSameQueryKeepsTheMatches) {
    DisplayModel model = Unlimited();
    model.AppendRun(u"Alpha alpha", kRx);
    DisplaySearch search;
    search.SetQuery(Text(u"alpha"));
    search.Update(model);
    EXPECT_EQ(search.Count(), 2u);
    const uint64_t epoch = search.Epoch();
    search.SetQuery(Text(u"alpha"));
    EXPECT_FALSE(search.Update(model));
    EXPECT_EQ(search.Epoch(), epoch);
    search.SetQuery(Text(u"alpha", true));
    EXPECT_TRUE(search.Update(model));
    EXPECT_EQ(search.Count(), 1u);
    EXPECT_NE(search.Epoch(), epoch);

    // Another model is another text.
    DisplayModel other = Unlimited();
    other.AppendRun(u"alpha alpha alpha", kRx);
    EXPECT_TRUE(search.Update(other));
    EXPECT_EQ(search.Count(), 3u);
}

TEST(DisplaySearchTest, LooksUpMatchesByOffset) {
    DisplayModel model = Unlimited();
    model.AppendRun(u"ab..ab..ab", kRx);  // matches at 0, 4, 8
    DisplaySearch search;
    search.SetQuery(Text(u"ab"));
    search.Update(model);
    ASSERT_EQ(search.Count(), 3u);
    EXPECT_EQ(search.FirstAtOrAfter(0), 0u);
    EXPECT_EQ(search.FirstAtOrAfter(1), 1u);
    EXPECT_EQ(search.FirstAtOrAfter(4), 1u);
    EXPECT_EQ(search.FirstAtOrAfter(9), 3u);
    EXPECT_EQ(search.LastBefore(0), 3u);
    EXPECT_EQ(search.LastBefore(5), 1u);
    EXPECT_EQ(search.LastBefore(100), 2u);
    EXPECT_EQ(search.Overlapping(0, 100), (std::pair<size_t, size_t>{0, 3}));
    EXPECT_EQ(search.Overlapping(1, 5), (std::pair<size_t, size_t>{0, 2}));
    EXPECT_EQ(search.Overlapping(2, 4), (std::pair<size_t, size_t>{1, 1}));
    EXPECT_EQ(search.Overlapping(5, 9), (std::pair<size_t, size_t>{1, 3}));
}

// Random traffic in random pieces, with headers, long lines and a size limit now and then:
// after every piece the incremental matches equal a full search by the reference.
TEST(DisplaySearchTest, IncrementalEqualsReferenceOnRandomTraffic) {
    std::mt19937 random(20261207);
    for (int round = 0; round < 40; ++round) {
        DisplayModel model;
        model.SetClearLimit(round % 3 == 0 ? 3000 : 0);
        const bool hex = round % 2 == 1;
        const bool match_case = round % 4 == 0;
        std::u16string pattern;
        std::vector<uint8_t> bytes;
        if (hex) {
            const size_t length = 1 + random() % 3;
            for (size_t i = 0; i < length; ++i) {
                bytes.push_back(static_cast<uint8_t>(random() % 3));
            }
            const std::string raw(bytes.begin(), bytes.end());
            pattern = HexText(raw);
        } else {
            const size_t length = 1 + random() % 4;
            for (size_t i = 0; i < length; ++i) {
                pattern += u"aAb"[random() % 3];
            }
        }
        DisplaySearch search;
        search.SetQuery(hex ? Hex(pattern) : Text(pattern, match_case));
        for (int piece = 0; piece < 60; ++piece) {
            const int kind = static_cast<int>(random() % 10);
            std::u16string text;
            DisplayStyle style = random() % 2 ? kRx : kTx;
            if (kind == 0) {
                text = u"[0" + std::u16string(1, u"012"[random() % 3]) + u"]";
                style = random() % 2 ? kRxStamp : kTxStamp;
            } else if (hex) {
                std::string raw(random() % (kind == 9 ? 700 : 20), '\0');
                for (char& c : raw) {
                    c = static_cast<char>(random() % 3);
                }
                text = HexText(raw);
            } else {
                text.resize(random() % (kind == 9 ? 2500 : 20));
                for (char16_t& unit : text) {
                    unit = u"aAb\r\n"[random() % (kind == 8 ? 5 : 3)];
                }
            }
            model.AppendRun(text, style);
            search.Update(model);
            const auto expected =
                hex ? ReferenceHex(model, bytes) : ReferenceText(model, pattern, match_case);
            ASSERT_EQ(search.matches(), expected) << "round " << round << " piece " << piece;
        }
    }
}

}  // namespace
