#include "terminal/display_model.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "platform/code_page.h"

namespace {

constexpr auto kRx = DisplayStyle::kReceivedNormal;
constexpr auto kRxName = DisplayStyle::kReceivedControl;
constexpr auto kTx = DisplayStyle::kSentNormal;

RunList Runs(std::initializer_list<StyledRun> runs) {
    RunList list;
    for (const StyledRun& run : runs) {
        list.Append(run.text, run.style);
    }
    return list;
}

std::string Narrow(const std::u16string& text) {
    std::string result;
    for (char16_t unit : text) {
        result.push_back(unit == u'\n' ? '|' : static_cast<char>(unit));
    }
    return result;
}

// Replays every change into a plain string, as a widget would.
struct Mirror {
    std::u16string text;
    std::vector<StyledRun> runs;
    int resets = 0;

    void Take(DisplayModel& model, size_t max_units) {
        DisplayChanges changes = model.TakeChanges(max_units);
        if (changes.reset) {
            text.clear();
            runs.clear();
            ++resets;
        }
        size_t units = 0;
        for (const StyledRun& segment : changes.segments) {
            text += segment.text;
            units += segment.text.size();
            if (!runs.empty() && runs.back().style == segment.style) {
                runs.back().text += segment.text;
            } else {
                runs.push_back(segment);
            }
        }
        EXPECT_EQ(units, changes.units);
    }
};

TEST(DisplayModelBreaks, FoldsCrLfAndLoneBreaksWithinOneRun) {
    struct Row {
        const char* name;
        std::u16string input;
        std::u16string shown;
    };
    const Row rows[] = {
        {"crlf", u"A\r\nB", u"A\nB"},     {"lone cr", u"A\rB", u"A\nB"},
        {"lone lf", u"A\nB", u"A\nB"},    {"lf cr", u"A\n\rB", u"A\n\nB"},
        {"cr cr lf", u"\r\r\n", u"\n\n"}, {"crlf crlf", u"\r\n\r\n", u"\n\n"},
        {"lf lf", u"x\n\ny", u"x\n\ny"},  {"no break", u"plain", u"plain"},
    };
    for (const Row& row : rows) {
        DisplayModel model;
        model.AppendRun(row.input, kRx);
        EXPECT_EQ(Narrow(model.ShownText()), Narrow(row.shown)) << row.name;
        EXPECT_EQ(model.ShownUnits(), row.shown.size()) << row.name;
    }
}

TEST(DisplayModelBreaks, CrAtEndOfOneAppendAndLfAtStartOfNextMakeOneBreak) {
    DisplayModel model;
    model.Append(Runs({{u"AB\r", kRx}}));
    model.Append(Runs({{u"\nCD", kRx}}));
    EXPECT_EQ(model.ShownText(), u"AB\nCD");

    // The same across two runs of one append, in different styles.
    DisplayModel styled;
    styled.Append(Runs({{u"x\r", kRx}, {u"\ny", kTx}}));
    EXPECT_EQ(styled.ShownText(), u"x\ny");
    ASSERT_EQ(styled.Segments().size(), 2u);
    EXPECT_EQ(styled.Segments()[0].text, u"x\n");
    EXPECT_EQ(styled.Segments()[1].text, u"y");

    // A character in between ends the CR's claim on the LF.
    DisplayModel apart;
    apart.Append(Runs({{u"a\r", kRx}}));
    apart.Append(Runs({{u"b", kRx}}));
    apart.Append(Runs({{u"\nc", kRx}}));
    EXPECT_EQ(apart.ShownText(), u"a\nb\nc");
}

TEST(DisplayModelBreaks, ClearForgetsTrailingCr) {
    DisplayModel model;
    model.AppendRun(u"A\r", kRx);
    model.Clear();
    model.AppendRun(u"\nB", kRx);
    EXPECT_EQ(model.ShownText(), u"\nB");
}

TEST(DisplayModelSoftBreaks, LongLineGetsDisplayBreaksThatExportsOmit) {
    DisplayModel model;
    model.SetClearLimit(0);
    const std::u16string line(5000, u'x');
    model.AppendRun(line, kRx);
    EXPECT_EQ(model.ShownUnits(), 5000u);
    EXPECT_EQ(model.TotalUnits(), 5004u);
    const std::u16string shown = model.ShownText();
    ASSERT_EQ(shown.size(), 5004u);
    for (size_t position : {size_t{1024}, size_t{2049}, size_t{3074}, size_t{4099}}) {
        EXPECT_EQ(shown[position], u'\n') << position;
    }
    EXPECT_EQ(std::count(shown.begin(), shown.end(), u'\n'), 4);
    EXPECT_EQ(model.SoftBreaks(), (std::vector<size_t>{1024, 2049, 3074, 4099}));
    EXPECT_EQ(model.ExportText(), line);
    const std::string plain = model.PlainTextAnsi();
    EXPECT_EQ(plain, std::string(5000, 'x'));
}

TEST(DisplayModelSoftBreaks, LineLengthCarriesAcrossAppendsAndResetsAtHardBreak) {
    DisplayModel model;
    model.AppendRun(std::u16string(1000, u'a'), kRx);
    model.AppendRun(std::u16string(100, u'b'), kTx);
    EXPECT_EQ(model.SoftBreaks(), (std::vector<size_t>{1024}));
    model.AppendRun(u"\r\n", kRx);
    model.AppendRun(std::u16string(1024, u'c'), kRx);  // exactly full: no display break
    EXPECT_EQ(model.SoftBreaks().size(), 1u);
    model.AppendRun(u"d\r\ne", kRx);  // the 1025th character breaks, the CR LF starts anew
    EXPECT_EQ(model.SoftBreaks().size(), 2u);
    const std::u16string exported = model.ExportText();
    EXPECT_EQ(exported, std::u16string(1000, u'a') + std::u16string(100, u'b') + u"\n" +
                            std::u16string(1024, u'c') + u"d\ne");
    EXPECT_EQ(model.ShownUnits(), exported.size());
}

TEST(DisplayModelSoftBreaks, SurrogatePairStaysOnOneLine) {
    DisplayModel model;
    std::u16string text(1023, u'a');
    text += u"\U0001F600";  // the pair would straddle the 1024th unit
    text += u"z";
    model.AppendRun(text, kRx);
    const std::u16string shown = model.ShownText();
    ASSERT_EQ(model.SoftBreaks().size(), 1u);
    const size_t soft = model.SoftBreaks()[0];
    EXPECT_EQ(shown[soft], u'\n');
    EXPECT_NE(shown[soft - 1], u'\xD83D') << "a break between the halves of a pair";
    EXPECT_EQ(model.ExportText(), text);
}

TEST(DisplayModelClearLimit, EmptiesBeforeFirstRunThatFindsMoreThanTheLimit) {
    DisplayModel model;
    model.SetClearLimit(1024);
    model.AppendRun(std::u16string(1000, u'a'), kRx);
    model.AppendRun(std::u16string(24, u'b'), kRx);
    EXPECT_EQ(model.ShownUnits(), 1024u);
    model.AppendRun(u"c", kRx);  // finds 1024: not more than the limit
    EXPECT_EQ(model.ShownUnits(), 1025u);
    model.AppendRun(u"XYZ", kTx);  // finds 1025
    EXPECT_EQ(model.ShownText(), u"XYZ");
    EXPECT_EQ(model.ShownUnits(), 3u);
    ASSERT_EQ(model.Segments().size(), 1u);
    EXPECT_EQ(model.Segments()[0].style, kTx);
}

TEST(DisplayModelClearLimit, CheckedBeforeEachRunOfOneAppend) {
    DisplayModel model;
    model.SetClearLimit(10);
    model.Append(Runs({{u"0123456789AB", kRx}, {u"[NUL]", kRxName}, {u"tail", kRx}}));
    EXPECT_EQ(model.ShownText(), u"[NUL]tail");
}

TEST(DisplayModelClearLimit, ZeroOrNegativeMeansNoLimit) {
    for (int32_t limit : {0, -5}) {
        DisplayModel model;
        model.SetClearLimit(limit);
        for (int i = 0; i < 100; ++i) {
            model.AppendRun(std::u16string(999, u'x') + u"\n", kRx);
        }
        EXPECT_EQ(model.ShownUnits(), 100000u) << limit;
    }
    EXPECT_EQ(DisplayModel().ClearLimit(), 65536);
}

TEST(DisplayModelClearLimit, DisplayBreaksDoNotCount) {
    DisplayModel model;
    model.SetClearLimit(2048);
    model.AppendRun(std::u16string(2048, u'x'), kRx);  // one display break: 2049 units held
    EXPECT_EQ(model.TotalUnits(), 2049u);
    model.AppendRun(u"y", kRx);
    EXPECT_EQ(model.ShownUnits(), 2049u) << "emptied although only 2048 units were shown";
    model.AppendRun(u"z", kRx);
    EXPECT_EQ(model.ShownText(), u"z");
}

TEST(DisplayModelSync, TakeChangesHandsOutNewTextUpToMax) {
    DisplayModel model;
    model.Append(Runs({{u"hello ", kRx}, {u"[CR]", kRxName}, {u"world\r\n", kRx}}));
    EXPECT_EQ(model.PendingUnits(), 16u);
    DisplayChanges first = model.TakeChanges(8);
    EXPECT_FALSE(first.reset);
    EXPECT_EQ(first.units, 8u);
    ASSERT_EQ(first.segments.size(), 2u);
    EXPECT_EQ(first.segments[0], (StyledRun{u"hello ", kRx}));
    EXPECT_EQ(first.segments[1], (StyledRun{u"[C", kRxName}));
    EXPECT_EQ(model.PendingUnits(), 8u);

    model.AppendRun(u"more", kRx);  // merges into the last, partly taken segment
    DisplayChanges rest = model.TakeChanges(1000);
    EXPECT_FALSE(rest.reset);
    ASSERT_EQ(rest.segments.size(), 2u);
    EXPECT_EQ(rest.segments[0], (StyledRun{u"R]", kRxName}));
    EXPECT_EQ(rest.segments[1], (StyledRun{u"world\nmore", kRx}));
    EXPECT_EQ(model.PendingUnits(), 0u);

    DisplayChanges none = model.TakeChanges(1000);
    EXPECT_FALSE(none.reset);
    EXPECT_TRUE(none.segments.empty());
}

TEST(DisplayModelSync, ResetAfterClearCarriesOnlyWhatIsShownNow) {
    DisplayModel model;
    model.AppendRun(u"old text", kRx);
    Mirror mirror;
    mirror.Take(model, 3);
    model.Clear();
    model.AppendRun(u"new", kTx);
    DisplayChanges changes = model.TakeChanges(100);
    EXPECT_TRUE(changes.reset);
    ASSERT_EQ(changes.segments.size(), 1u);
    EXPECT_EQ(changes.segments[0], (StyledRun{u"new", kTx}));
    EXPECT_FALSE(model.TakeChanges(100).reset) << "a reset is handed out once";
}

TEST(DisplayModelSync, ResetAfterLimitClearWithMax) {
    DisplayModel model;
    model.SetClearLimit(16);
    model.AppendRun(std::u16string(20, u'a'), kRx);
    Mirror mirror;
    mirror.Take(model, 100);
    model.AppendRun(u"0123456789", kTx);  // empties first
    DisplayChanges changes = model.TakeChanges(4);
    EXPECT_TRUE(changes.reset);
    ASSERT_EQ(changes.segments.size(), 1u);
    EXPECT_EQ(changes.segments[0].text, u"0123");
    DisplayChanges next = model.TakeChanges(100);
    EXPECT_FALSE(next.reset);
    EXPECT_EQ(next.segments[0].text, u"456789");
}

TEST(DisplayModelSync, NeverSplitsSurrogatePair) {
    DisplayModel model;
    model.AppendRun(u"a\U0001F600b", kRx);
    DisplayChanges first = model.TakeChanges(2);
    EXPECT_EQ(first.segments[0].text, u"a");
    DisplayChanges second = model.TakeChanges(1);
    EXPECT_EQ(second.segments[0].text, u"\U0001F600");
    EXPECT_EQ(model.TakeChanges(5).segments[0].text, u"b");
}

TEST(DisplayModelSync, RandomFloodMirrorsExactly) {
    std::mt19937 random(7);
    DisplayModel model;
    model.SetClearLimit(5000);
    Mirror mirror;
    const std::u16string alphabet = u"ab\r\n\x4F60 ";
    for (int step = 0; step < 3000; ++step) {
        RunList runs;
        const int count = 1 + static_cast<int>(random() % 3);
        for (int r = 0; r < count; ++r) {
            std::u16string text(1 + random() % 700, u'x');
            for (char16_t& unit : text) {
                unit = alphabet[random() % alphabet.size()];
            }
            runs.Append(text, static_cast<DisplayStyle>(random() % kDisplayStyleCount));
        }
        model.Append(runs);
        if (random() % 4 == 0) {
            mirror.Take(model, 1 + random() % 3000);
        }
        if (step % 997 == 0) {
            model.Clear();
        }
    }
    mirror.Take(model, SIZE_MAX);
    EXPECT_GT(mirror.resets, 3);
    EXPECT_EQ(model.PendingUnits(), 0u);
    EXPECT_EQ(mirror.text, model.ShownText());
    std::vector<StyledRun> merged;
    for (const StyledRun& segment : model.Segments()) {
        if (!merged.empty() && merged.back().style == segment.style) {
            merged.back().text += segment.text;
        } else {
            merged.push_back(segment);
        }
    }
    EXPECT_EQ(mirror.runs, merged);
}

TEST(DisplayModelMemory, AdjacentRunsOfOneStyleMerge) {
    DisplayModel model;
    model.SetClearLimit(0);
    for (int i = 0; i < 1000; ++i) {
        model.AppendRun(u"line of text\r\n", kRx);
    }
    EXPECT_EQ(model.Segments().size(), 1u);
    model.AppendRun(u"[ESC]", kRxName);
    model.AppendRun(u"x", kRx);
    EXPECT_EQ(model.Segments().size(), 3u);

    // A flood of one style: segments of at most the cap, all but the last full.
    for (int i = 0; i < 100000; ++i) {
        model.AppendRun(u"line of text\r\n", kRx);
    }
    const std::vector<StyledRun>& segments = model.Segments();
    const size_t flood_units = model.TotalUnits() - 13000 - 5;  // from "x" on
    constexpr size_t kCap = DisplayModel::kMaxSegmentUnits;
    EXPECT_GE(segments.size() - 2, (flood_units + kCap - 1) / kCap);
    EXPECT_LE(segments.size() - 2, (flood_units + kCap - 14) / (kCap - 13));
    for (size_t i = 2; i + 1 < segments.size(); ++i) {
        EXPECT_GT(segments[i].text.size(), DisplayModel::kMaxSegmentUnits - 13) << i;
        EXPECT_LE(segments[i].text.size(), DisplayModel::kMaxSegmentUnits) << i;
    }
}

TEST(DisplayModelExport, PlainTextHasCrLfAndGbkBytes) {
    DisplayModel model;
    model.Append(Runs({{u"你好\r\nA", kRx}, {u"\r", kTx}, {u"B\nC", kRx}}));
    EXPECT_EQ(model.PlainTextAnsi(), "\xC4\xE3\xBA\xC3\r\nA\r\nB\r\nC");
    // Read back: the bytes decode to the shown text with CR LF breaks.
    EXPECT_EQ(kem::platform::AnsiToWide(model.PlainTextAnsi()), u"你好\r\nA\r\nB\r\nC");
}

TEST(DisplayModelExport, ExportSegmentsKeepStylesAndDropDisplayBreaks) {
    DisplayModel model;
    model.AppendRun(std::u16string(1020, u'a'), kRx);
    model.AppendRun(std::u16string(10, u'b'), kTx);
    std::vector<StyledRun> exported = model.ExportSegments();
    ASSERT_EQ(exported.size(), 2u);
    EXPECT_EQ(exported[0], (StyledRun{std::u16string(1020, u'a'), kRx}));
    EXPECT_EQ(exported[1], (StyledRun{std::u16string(10, u'b'), kTx}));
    EXPECT_EQ(model.Segments()[1].text, u"bbbb\nbbbbbb");
}

}  // namespace

namespace {

TEST(DisplayModelExport, RangeDropsDisplayBreaksInsideTheRange) {
    DisplayModel model;
    model.AppendRun(std::u16string(1020, u'a'), kRx);
    model.AppendRun(u"bbbbbbbbbb\r\nc", kTx);  // display break after the 4th b, at 1024
    EXPECT_EQ(model.ExportRange(1018, 1032), u"aabbbbbbbbbb\n");
    EXPECT_EQ(model.ExportRange(1024, 1025), u"");
    EXPECT_EQ(model.ExportRange(1030, 5000), u"b\nc");
    EXPECT_EQ(model.ExportRange(0, model.TotalUnits()), model.ExportText());
    EXPECT_EQ(model.ExportRange(7, 7), u"");
}

}  // namespace
