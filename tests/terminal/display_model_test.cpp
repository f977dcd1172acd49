// The display model: line-break folding, display breaks in long lines, the clear limit, handing
// changes to the widget, segment merging and the exports.
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

std::vector<StyledRun> Merged(const std::vector<StyledRun>& segments) {
    std::vector<StyledRun> merged;
    for (const StyledRun& segment : segments) {
        if (!merged.empty() && merged.back().style == segment.style) {
            merged.back().text += segment.text;
        } else {
            merged.push_back(segment);
        }
    }
    return merged;
}

// Replays every change into plain text and runs, as a widget would.
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
            runs.push_back(segment);
        }
        runs = Merged(runs);
        EXPECT_EQ(units, changes.units);
    }
};

TEST(DisplayModelBreaks, FoldsCrLfAndLoneBreaksAlsoAcrossAppendsAndRuns) {
    const struct {
        std::u16string input;
        std::u16string shown;
    } rows[] = {{u"A\r\nB", u"A\nB"},   {u"A\rB", u"A\nB"},   {u"A\nB", u"A\nB"},
                {u"A\n\rB", u"A\n\nB"}, {u"\r\r\n", u"\n\n"}, {u"\r\n\r\n", u"\n\n"},
                {u"x\n\ny", u"x\n\ny"}, {u"plain", u"plain"}};
    for (const auto& row : rows) {
        DisplayModel model;
        model.AppendRun(row.input, kRx);
        EXPECT_EQ(model.ShownText(), row.shown) << kem::platform::WideToUtf8(row.input);
        EXPECT_EQ(model.ShownUnits(), row.shown.size());
    }
    DisplayModel model;
    model.Append(Runs({{u"AB\r", kRx}}));
    model.Append(Runs({{u"\nCD", kRx}}));
    EXPECT_EQ(model.ShownText(), u"AB\nCD");
    // Across two runs of one append, in different styles.
    DisplayModel styled;
    styled.Append(Runs({{u"x\r", kRx}, {u"\ny", kTx}}));
    EXPECT_EQ(styled.Segments(), (std::vector<StyledRun>{{u"x\n", kRx}, {u"y", kTx}}));
    // A character in between ends the CR's claim on the LF; so does a clear.
    DisplayModel apart;
    apart.Append(Runs({{u"a\r", kRx}}));
    apart.Append(Runs({{u"b", kRx}}));
    apart.Append(Runs({{u"\nc", kRx}}));
    EXPECT_EQ(apart.ShownText(), u"a\nb\nc");
    apart.AppendRun(u"\r", kRx);
    apart.Clear();
    apart.AppendRun(u"\nB", kRx);
    EXPECT_EQ(apart.ShownText(), u"\nB");
}

TEST(DisplayModelSoftBreaks, LongLineGetsDisplayBreaksThatExportsOmit) {
    DisplayModel model;
    model.SetClearLimit(0);
    const std::u16string line(5000, u'x');
    model.AppendRun(line, kRx);
    EXPECT_EQ(model.ShownUnits(), 5000u);
    EXPECT_EQ(model.TotalUnits(), 5004u);
    const std::u16string full(1024, u'x');
    EXPECT_EQ(model.ShownText(), full + u"\n" + full + u"\n" + full + u"\n" + full + u"\n" +
                                     std::u16string(904, u'x'));
    EXPECT_EQ(model.SoftBreaks(), (std::vector<size_t>{1024, 2049, 3074, 4099}));
    EXPECT_EQ(model.ExportText(), line);
    EXPECT_EQ(model.PlainTextAnsi(), std::string(5000, 'x'));
}

TEST(DisplayModelSoftBreaks, LineLengthCarriesAcrossAppendsAndSurrogatePairsStayWhole) {
    DisplayModel model;
    model.AppendRun(std::u16string(1000, u'a'), kRx);
    model.AppendRun(std::u16string(100, u'b'), kTx);
    EXPECT_EQ(model.SoftBreaks(), (std::vector<size_t>{1024}));
    model.AppendRun(u"\r\n", kRx);
    model.AppendRun(std::u16string(1024, u'c'), kRx);  // exactly full: no display break
    EXPECT_EQ(model.SoftBreaks().size(), 1u);
    model.AppendRun(u"d\r\ne", kRx);  // the 1025th character breaks, the CR LF starts anew
    EXPECT_EQ(model.SoftBreaks(), (std::vector<size_t>{1024, 2126}));
    const std::u16string exported = model.ExportText();
    EXPECT_EQ(exported, std::u16string(1000, u'a') + std::u16string(100, u'b') + u"\n" +
                            std::u16string(1024, u'c') + u"d\ne");
    EXPECT_EQ(model.ShownUnits(), exported.size());

    DisplayModel pair;
    const std::u16string text = std::u16string(1023, u'a') + u"\U0001F600z";  // straddles 1024
    pair.AppendRun(text, kRx);
    ASSERT_EQ(pair.SoftBreaks().size(), 1u);
    const size_t soft = pair.SoftBreaks()[0];
    EXPECT_EQ(pair.ShownText()[soft], u'\n');
    EXPECT_NE(pair.ShownText()[soft - 1], u'\xD83D') << "a break between the halves of a pair";
    EXPECT_EQ(pair.ExportText(), text);
}

TEST(DisplayModelClearLimit, EmptiesBeforeEachRunThatFindsMoreThanTheLimitShown) {
    DisplayModel model;
    model.SetClearLimit(1024);
    model.AppendRun(std::u16string(1000, u'a'), kRx);
    model.AppendRun(std::u16string(24, u'b'), kRx);
    model.AppendRun(u"c", kRx);  // finds 1024: not more than the limit
    EXPECT_EQ(model.ShownUnits(), 1025u);
    model.AppendRun(u"XYZ", kTx);  // finds 1025
    EXPECT_EQ(model.Segments(), (std::vector<StyledRun>{{u"XYZ", kTx}}));
    EXPECT_EQ(model.ShownUnits(), 3u);
    // Checked before each run of one append.
    model.SetClearLimit(10);
    model.Append(Runs({{u"0123456789AB", kRx}, {u"[NUL]", kRxName}, {u"tail", kRx}}));
    EXPECT_EQ(model.ShownText(), u"[NUL]tail");
    // Display breaks do not count: 2048 shown units hold 2049 with the break.
    DisplayModel broken;
    broken.SetClearLimit(2048);
    broken.AppendRun(std::u16string(2048, u'x'), kRx);
    EXPECT_EQ(broken.TotalUnits(), 2049u);
    broken.AppendRun(u"y", kRx);
    EXPECT_EQ(broken.ShownUnits(), 2049u) << "emptied although only 2048 units were shown";
    broken.AppendRun(u"z", kRx);
    EXPECT_EQ(broken.ShownText(), u"z");
    // Zero or negative: no limit.
    EXPECT_EQ(DisplayModel().ClearLimit(), 65536);
    for (int32_t limit : {0, -5}) {
        DisplayModel unlimited;
        unlimited.SetClearLimit(limit);
        for (int i = 0; i < 100; ++i) {
            unlimited.AppendRun(std::u16string(999, u'x') + u"\n", kRx);
        }
        EXPECT_EQ(unlimited.ShownUnits(), 100000u) << limit;
    }
}

// The changes handed to the widget: "reset|" when they start over, then each segment as
// <style number> and its text.
std::string Take(DisplayModel& model, size_t max_units) {
    const DisplayChanges changes = model.TakeChanges(max_units);
    std::string out = changes.reset ? "reset|" : "";
    size_t units = 0;
    for (const StyledRun& segment : changes.segments) {
        out += "<" + std::to_string(static_cast<int>(segment.style)) + ">" +
               kem::platform::WideToUtf8(segment.text);
        units += segment.text.size();
    }
    EXPECT_EQ(units, changes.units);
    return out;
}

TEST(DisplayModelSync, TakeChangesHandsOutNewTextUpToMaxNeverSplittingAPair) {
    DisplayModel model;
    model.Append(Runs({{u"hello ", kRx}, {u"[CR]", kRxName}, {u"world\r\n", kRx}}));
    EXPECT_EQ(model.PendingUnits(), 16u);
    EXPECT_EQ(Take(model, 8), "<0>hello <1>[C");
    EXPECT_EQ(model.PendingUnits(), 8u);
    model.AppendRun(u"more", kRx);  // merges into the last, partly taken segment
    EXPECT_EQ(Take(model, 1000), "<1>R]<0>world\nmore");
    EXPECT_EQ(model.PendingUnits(), 0u);
    EXPECT_EQ(Take(model, 1000), "");
    DisplayModel pair;
    pair.AppendRun(u"a\U0001F600b", kRx);
    EXPECT_EQ(Take(pair, 2), "<0>a");
    EXPECT_EQ(Take(pair, 1), "<0>\U0001F600");
    EXPECT_EQ(Take(pair, 5), "<0>b");
}

TEST(DisplayModelSync, ResetAfterAClearOrLimitCarriesOnlyWhatIsShownNowOnce) {
    DisplayModel model;
    model.AppendRun(u"old text", kRx);
    model.TakeChanges(3);
    model.Clear();
    model.AppendRun(u"new", kTx);
    EXPECT_EQ(Take(model, 100), "reset|<3>new");
    EXPECT_EQ(Take(model, 100), "") << "a reset is handed out once";
    DisplayModel limited;
    limited.SetClearLimit(16);
    limited.AppendRun(std::u16string(20, u'a'), kRx);
    limited.TakeChanges(100);
    limited.AppendRun(u"0123456789", kTx);  // empties first
    EXPECT_EQ(Take(limited, 4), "reset|<3>0123");
    EXPECT_EQ(Take(limited, 100), "<3>456789");
}

TEST(DisplayModelSync, RandomFloodMirrorsExactly) {
    std::mt19937 random(7);
    DisplayModel model;
    model.SetClearLimit(5000);
    Mirror mirror;
    const std::u16string alphabet = u"ab\r\n\x4F60 ";
    for (int step = 0; step < 3000; ++step) {
        RunList runs;
        for (int r = 1 + static_cast<int>(random() % 3); r > 0; --r) {
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
    EXPECT_EQ(mirror.runs, Merged(model.Segments()));
}

TEST(DisplayModelMemory, AdjacentRunsOfOneStyleMergeUpToTheSegmentCap) {
    DisplayModel model;
    model.SetClearLimit(0);
    for (int i = 0; i < 1000; ++i) {
        model.AppendRun(u"line of text\r\n", kRx);
    }
    EXPECT_EQ(model.Segments().size(), 1u);
    model.AppendRun(u"[ESC]", kRxName);
    model.AppendRun(u"x", kRx);
    EXPECT_EQ(model.Segments().size(), 3u);
    // A flood of one style: segments of at most the cap, all but the last nearly full.
    for (int i = 0; i < 100000; ++i) {
        model.AppendRun(u"line of text\r\n", kRx);
    }
    const std::vector<StyledRun>& segments = model.Segments();
    const size_t flood_units = model.TotalUnits() - 13000 - 5;  // from "x" on
    constexpr size_t kCap = DisplayModel::kMaxSegmentUnits;
    EXPECT_GE(segments.size() - 2, (flood_units + kCap - 1) / kCap);
    EXPECT_LE(segments.size() - 2, (flood_units + kCap - 14) / (kCap - 13));
    for (size_t i = 2; i + 1 < segments.size(); ++i) {
        EXPECT_GT(segments[i].text.size(), kCap - 13) << i;
        EXPECT_LE(segments[i].text.size(), kCap) << i;
    }
}

TEST(DisplayModelExport, PlainTextSegmentsAndRangesDropDisplayBreaks) {
    DisplayModel text;
    text.Append(Runs({{u"你好\r\nA", kRx}, {u"\r", kTx}, {u"B\nC", kRx}}));
    EXPECT_EQ(text.PlainTextAnsi(), "\xC4\xE3\xBA\xC3\r\nA\r\nB\r\nC");

    DisplayModel model;
    model.AppendRun(std::u16string(1020, u'a'), kRx);
    model.AppendRun(u"bbbbbbbbbb\r\nc", kTx);  // display break after the 4th b, at 1024
    EXPECT_EQ(model.Segments()[1].text, u"bbbb\nbbbbbb\nc");
    EXPECT_EQ(model.ExportSegments(),
              (std::vector<StyledRun>{{std::u16string(1020, u'a'), kRx}, {u"bbbbbbbbbb\nc", kTx}}));
    EXPECT_EQ(model.ExportRange(1018, 1032), u"aabbbbbbbbbb\n");
    EXPECT_EQ(model.ExportRange(1024, 1025), u"");
    EXPECT_EQ(model.ExportRange(1030, 5000), u"b\nc");
    EXPECT_EQ(model.ExportRange(0, model.TotalUnits()), model.ExportText());
    EXPECT_EQ(model.ExportRange(7, 7), u"");
}

}  // namespace
