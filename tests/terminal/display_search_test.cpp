// Searching the display: text with and without case, hex bytes, time-stamp headers as borders,
// the display's own breaks, incremental following of appends and clears, lookups by offset.
#include "terminal/display_search.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <tuple>
#include <vector>

namespace {

constexpr auto kRx = DisplayStyle::kReceivedNormal;
constexpr auto kRxName = DisplayStyle::kReceivedControl;
constexpr auto kRxStamp = DisplayStyle::kReceivedTimeStamp;
constexpr auto kTx = DisplayStyle::kSentNormal;
constexpr auto kTxStamp = DisplayStyle::kSentTimeStamp;

using Matches = std::vector<DisplayMatch>;

DisplaySearchQuery Text(const std::u16string& text, bool match_case = false) {
    return DisplaySearchQuery{text, match_case, DisplaySearchMode::kText};
}

DisplaySearchQuery Hex(const std::u16string& text) {
    return DisplaySearchQuery{text, false, DisplaySearchMode::kHex};
}

DisplayModel Model(std::initializer_list<StyledRun> runs, int32_t clear_limit = 0) {
    DisplayModel model;
    model.SetClearLimit(clear_limit);
    for (const StyledRun& run : runs) {
        model.AppendRun(run.text, run.style);
    }
    return model;
}

Matches Find(const DisplayModel& model, const DisplaySearchQuery& query) {
    DisplaySearch search;
    search.SetQuery(query);
    search.Update(model);
    return search.matches();
}

// Bytes as the HEX display shows them: "XX " each.
std::u16string HexText(const std::string& bytes) {
    static const char16_t digits[] = u"0123456789ABCDEF";
    std::u16string text;
    for (unsigned char byte : bytes) {
        text += {digits[byte >> 4], digits[byte & 15], u' '};
    }
    return text;
}

// An independent reference, searched by brute force from the left, a match excluding the next
// where they would overlap. Units of the shown text without the display's own breaks, each in
// a zone that changes wherever the time-stamp styles begin or end; a match stays in one zone.
struct Unit {
    char16_t value;
    size_t begin, end;
    size_t zone;
    bool header;
};

std::vector<Unit> TextUnits(const DisplayModel& model) {
    std::vector<Unit> units;
    const std::vector<size_t>& soft = model.SoftBreaks();
    size_t at = 0;
    size_t next_soft = 0;
    for (const StyledRun& segment : model.Segments()) {
        const bool header = segment.style == kRxStamp || segment.style == kTxStamp;
        for (char16_t unit : segment.text) {
            if (next_soft < soft.size() && soft[next_soft] == at) {
                ++next_soft;
            } else {
                const size_t zone = units.empty() ? 0 : units.back().zone;
                units.push_back({unit, at, at + 1,
                                 zone + (!units.empty() && units.back().header != header), header});
            }
            ++at;
        }
    }
    return units;
}

// Each pair of hex digits in a data zone is a byte; bytes not separated by exactly one data
// space are in different zones.
std::vector<Unit> HexUnits(const std::vector<Unit>& text) {
    auto digit = [&](size_t i) {
        const char16_t c = text[i].value;
        return text[i].header           ? -1
               : c >= u'0' && c <= u'9' ? c - u'0'
               : c >= u'A' && c <= u'F' ? c - u'A' + 10
                                        : -1;
    };
    std::vector<Unit> bytes;
    size_t zone = 0;
    for (size_t i = 0; i < text.size();) {
        if (i + 1 < text.size() && digit(i) >= 0 && digit(i + 1) >= 0) {
            const auto value = static_cast<char16_t>(digit(i) * 16 + digit(i + 1));
            bytes.push_back({value, text[i].begin, text[i + 1].end, zone, false});
            i += 2;
            if (i < text.size() && text[i].value == u' ' && !text[i].header) {
                ++i;
                continue;
            }
        } else {
            ++i;
        }
        ++zone;
    }
    return bytes;
}

Matches Reference(const std::vector<Unit>& units, std::u16string_view pattern, bool fold) {
    auto folded = [&](char16_t c) {
        return fold && c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c;
    };
    Matches matches;
    for (size_t i = 0; i + pattern.size() <= units.size();) {
        size_t k = 0;
        while (k < pattern.size() && folded(units[i + k].value) == folded(pattern[k]) &&
               units[i + k].zone == units[i].zone) {
            ++k;
        }
        if (k == pattern.size()) {
            matches.push_back({units[i].begin, units[i + k - 1].end});
        }
        i += k == pattern.size() ? k : 1;
    }
    return matches;
}

TEST(DisplaySearchTest, FindsTextAndBytesWithinZonesWithoutOverlap) {
    const DisplayModel hello = Model({{u"Hello hello HELLO hElLo\r\nhelo", kRx}});
    // A control name and a change of direction are shown text like any other.
    const DisplayModel styled = Model({{u"aaaaa", kRx}, {u"x[NUL]y", kRxName}, {u"zw", kTx}});
    const DisplayModel letters = Model({{u"ÄÖÜ Привет ＡＢ 汉字", kRx}});
    // "[10:00:00.001]ab\nabab", the extra line break and the second "ab" in a header style.
    const DisplayModel stamped = Model({{u"[10:00:00.001]", kRxStamp},
                                        {u"ab", kRx},
                                        {u"\r\n", kTxStamp},
                                        {u"ab", kTxStamp},
                                        {u"ab", kTx}});
    // "[0D 0A]41 0D 0A 42 0D [10:00]0A 43 ", the first header looking like bytes.
    const DisplayModel hex = Model({{u"[0D 0A]", kRxStamp},
                                    {HexText("A\r\nB\r"), kRx},
                                    {u"[10:00]", kTxStamp},
                                    {HexText("\nC"), kTx}});
    const DisplayModel both = Model({{HexText("\x01\x02"), kRx}, {HexText("\x03"), kTx}});
    const std::tuple<const DisplayModel&, DisplaySearchQuery, Matches> rows[] = {
        {hello, Text(u"hello"), {{0, 5}, {6, 11}, {12, 17}, {18, 23}}},
        {hello, Text(u"HELLO", true), {{12, 17}}},
        {hello, Text(u"hello", true), {{6, 11}}},
        {hello, Text(u"Hello", true), {{0, 5}}},
        {hello, Text(u"hellox"), {}},
        {styled, Text(u"aa"), {{0, 2}, {2, 4}}},
        {styled, Text(u"]yz"), {{10, 13}}},
        {styled, Text(u"[nul]"), {{6, 11}}},
        {letters, Text(u"äöü"), {{0, 3}}},
        {letters, Text(u"ПРИВЕТ"), {{4, 10}}},
        {letters, Text(u"ａｂ"), {{11, 13}}},
        {letters, Text(u"汉字"), {{14, 16}}},
        {letters, Text(u"äöü", true), {}},
        {stamped, Text(u"bab"), {}},  // would run from data into the header
        {stamped, Text(u"]a"), {}},
        {stamped, Text(u"00.001"), {{7, 13}}},  // a header is found, whole or in part
        {stamped, Text(u"ab"), {{14, 16}, {17, 19}, {19, 21}}},
        {hex, Hex(u"0d0a"), {{10, 15}}},
        {hex, Hex(u"0A"), {{13, 15}, {29, 31}}},  // the header parts the CR from the LF
        {hex, Hex(u"0A 42 0D"), {{13, 21}}},
        {hex, Text(u"0D 0A"), {{1, 6}, {10, 15}}},  // text mode: headers included
        {both, Hex(u"0203"), {{3, 8}}},             // no header: both directions adjacent
    };
    for (size_t i = 0; i < std::size(rows); ++i) {
        const auto& [model, query, found] = rows[i];
        EXPECT_EQ(Find(model, query), found) << "row " << i;
    }
    EXPECT_EQ(hex.ExportRange(10, 15), u"0D 0A");
    const char16_t folds[][2] = {{u'Q', u'q'},   {u'Ä', u'ä'},   {u'×', u'×'},
                                 {u'Ω', u'ω'},   {u'Ж', u'ж'},   {u'Ё', u'ё'},
                                 {u'Ａ', u'ａ'}, {u'汉', u'汉'}, {u'[', u'['}};
    for (const auto& fold : folds) {
        EXPECT_EQ(FoldSearchCase(fold[0]), fold[1]) << static_cast<int>(fold[0]);
    }
}

TEST(DisplaySearchTest, HexPatternsParseAsBytesAndInvalidOrEmptyOnesFindNothing) {
    using Bytes = std::vector<uint8_t>;
    EXPECT_EQ(ParseHexPattern(u"0D 0A"), (Bytes{0x0D, 0x0A}));
    EXPECT_EQ(ParseHexPattern(u"0d0a"), (Bytes{0x0D, 0x0A}));
    EXPECT_EQ(ParseHexPattern(u"  ff 0D0a\t7e "), (Bytes{0xFF, 0x0D, 0x0A, 0x7E}));
    EXPECT_EQ(ParseHexPattern(u""), Bytes{});
    EXPECT_EQ(ParseHexPattern(u"   "), Bytes{});
    for (const char16_t* invalid : {u"0D 0", u"D", u"0G", u"0x0D", u"0D,0A"}) {
        EXPECT_FALSE(ParseHexPattern(invalid));
    }
    const DisplayModel model = Model({{HexText("\r\n") + u"0D 0", kRx}});
    const std::tuple<DisplaySearchQuery, DisplaySearchState, size_t> rows[] = {
        {Hex(u"0D 0A"), DisplaySearchState::kReady, 1},
        {Hex(u"0D 0"), DisplaySearchState::kInvalidHex, 0},
        {Hex(u" "), DisplaySearchState::kEmpty, 0},
        {Text(u""), DisplaySearchState::kEmpty, 0},
        {Text(u"0D 0"), DisplaySearchState::kReady, 2}};
    for (const auto& [query, state, count] : rows) {
        DisplaySearch search;
        EXPECT_EQ(search.SetQuery(query), state);
        search.Update(model);
        EXPECT_EQ(search.Count(), count);
    }
}

TEST(DisplaySearchTest, MatchesRunOverTheDisplaysOwnBreaks) {
    constexpr size_t kLine = DisplayModel::kMaxLineUnits;
    const DisplayModel model = Model({{std::u16string(kLine - 3, u'x') + u"needle", kRx}});
    ASSERT_EQ(model.SoftBreaks(), (std::vector<size_t>{kLine}));
    EXPECT_EQ(Find(model, Text(u"NEEDLE")), (Matches{{kLine - 3, kLine + 4}}));
    EXPECT_EQ(model.ExportRange(kLine - 3, kLine + 4), u"needle");
    // A HEX line longer than a display line: a break falls inside a byte's two digits.
    std::string bytes(400, '\x11');
    bytes[341] = '\x7E';
    bytes[342] = '\x7F';
    const DisplayModel hex = Model({{HexText(bytes), kRx}});
    ASSERT_EQ(hex.SoftBreaks(), (std::vector<size_t>{1024}));
    EXPECT_EQ(Find(hex, Hex(u"7E7F")), (Matches{{1023, 1029}}));
    EXPECT_EQ(hex.ExportRange(1023, 1029), u"7E 7F");
}

TEST(DisplaySearchTest, FollowsAppendsAcrossTheirBordersAndNewQueriesOrModels) {
    DisplayModel model = Model({});
    DisplaySearch search;
    auto append = [&](std::u16string_view text, DisplayStyle style = kRx) {
        model.AppendRun(text, style);
        return search.Update(model);  // whether the matches changed
    };
    search.SetQuery(Text(u"abc"));
    EXPECT_FALSE(search.Update(model));
    EXPECT_FALSE(append(u"xxa"));
    EXPECT_FALSE(append(u"b"));
    const uint64_t epoch = search.Epoch();
    EXPECT_TRUE(append(u"cab", kTx));
    EXPECT_EQ(search.matches(), (Matches{{2, 5}}));
    EXPECT_TRUE(append(u"c", kTx));
    EXPECT_EQ(search.matches(), (Matches{{2, 5}, {5, 8}}));
    EXPECT_EQ(search.Epoch(), epoch);  // appended, nothing dropped
    EXPECT_FALSE(search.Update(model));
    // The same query keeps the matches; another starts over.
    search.SetQuery(Text(u"abc"));
    EXPECT_FALSE(search.Update(model));
    EXPECT_EQ(search.Epoch(), epoch);
    search.SetQuery(Text(u"abc", true));
    EXPECT_TRUE(search.Update(model));
    EXPECT_EQ(search.Count(), 2u);
    EXPECT_NE(search.Epoch(), epoch);
    // Another model is another text.
    EXPECT_TRUE(search.Update(Model({{u"aBc abc abc", kRx}})));
    EXPECT_EQ(search.Count(), 2u);
}

TEST(DisplaySearchTest, ClearedOrEmptiedAtTheLimitDropsTheMatchesThatWent) {
    DisplayModel model = Model({}, 20);
    DisplaySearch search;
    auto count_after = [&](std::u16string_view text) {
        model.AppendRun(text, kRx);
        search.Update(model);
        return search.Count();
    };
    search.SetQuery(Text(u"ok"));
    EXPECT_EQ(count_after(u"ok ok ok ok ok ok ok "), 7u);  // 21 units: over the limit
    const uint64_t epoch = search.Epoch();
    EXPECT_EQ(count_after(u"--ok"), 1u);  // the display empties itself first
    EXPECT_GT(search.Epoch(), epoch);
    EXPECT_EQ(search.matches(), (Matches{{2, 4}}));
    // A match split by the emptying is not found: its first half went.
    EXPECT_EQ(count_after(u"0123456789abcdefo"), 1u);
    EXPECT_EQ(count_after(u"k"), 0u);
    EXPECT_EQ(model.ShownText(), u"k");
    EXPECT_EQ(count_after(u" ok"), 1u);
    model.Clear();
    EXPECT_TRUE(search.Update(model));
    EXPECT_EQ(search.Count(), 0u);
}

TEST(DisplaySearchTest, LooksUpMatchesByOffset) {
    const DisplayModel model = Model({{u"ab..ab..ab", kRx}});  // matches at 0, 4, 8
    DisplaySearch search;
    search.SetQuery(Text(u"ab"));
    search.Update(model);
    ASSERT_EQ(search.Count(), 3u);
    const size_t first_at_or_after[][2] = {{0, 0}, {1, 1}, {4, 1}, {9, 3}};
    for (const auto& [offset, index] : first_at_or_after) {
        EXPECT_EQ(search.FirstAtOrAfter(offset), index) << offset;
    }
    const size_t last_before[][2] = {{0, 3}, {5, 1}, {100, 2}};
    for (const auto& [offset, index] : last_before) {
        EXPECT_EQ(search.LastBefore(offset), index) << offset;
    }
    using Range = std::pair<size_t, size_t>;
    EXPECT_EQ(search.Overlapping(0, 100), (Range{0, 3}));
    EXPECT_EQ(search.Overlapping(1, 5), (Range{0, 2}));
    EXPECT_EQ(search.Overlapping(2, 4), (Range{1, 1}));
    EXPECT_EQ(search.Overlapping(5, 9), (Range{1, 3}));
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
        for (size_t i = 1 + random() % (hex ? 3 : 4); i > 0; --i) {
            if (hex) {
                bytes.push_back(static_cast<uint8_t>(random() % 3));
            } else {
                pattern += u"aAb"[random() % 3];
            }
        }
        if (hex) {
            pattern = HexText(std::string(bytes.begin(), bytes.end()));
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
            const auto expected = hex ? Reference(HexUnits(TextUnits(model)),
                                                  std::u16string(bytes.begin(), bytes.end()), false)
                                      : Reference(TextUnits(model), pattern, !match_case);
            ASSERT_EQ(search.matches(), expected) << "round " << round << " piece " << piece;
        }
    }
}

}  // namespace
