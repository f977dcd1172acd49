#include "terminal/render.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/code_page.h"
#include "render_test_support.h"
#include "settings/app_config.h"
#include "terminal/dbcs_tail.h"
#include "terminal/time_stamp.h"

namespace {

using kem::platform::AnsiToWide;

constexpr auto kRxText = DisplayStyle::kReceivedNormal;
constexpr auto kRxName = DisplayStyle::kReceivedControl;
constexpr auto kRxStamp = DisplayStyle::kReceivedTimeStamp;
constexpr auto kTxText = DisplayStyle::kSentNormal;
constexpr auto kTxName = DisplayStyle::kSentControl;
constexpr auto kTxStamp = DisplayStyle::kSentTimeStamp;

// Renders records one by one, as they arrive, and keeps what each append produced.
class Incremental {
public:
    explicit Incremental(RenderOptions options) : renderer_(std::move(options)) {}

    // Queues and renders one block; returns the runs of this append alone.
    std::vector<StyledRun> Add(const tagComExchangeData& record) {
        EXPECT_EQ(queue_.AddRecord(record, TrafficTrimLimit{}), AddTrafficResult::kQueued);
        RunList runs;
        renderer_.RenderRecord(queue_.At(queue_.Count() - 1), runs);
        shown_.Append(runs);
        return runs.runs();
    }
    std::vector<StyledRun> Add(int32_t direction, std::string bytes) {
        return Add(MakeRecord(direction, std::move(bytes)));
    }

    // The whole queue rendered anew.
    std::vector<StyledRun> Rerender() {
        RunList runs;
        renderer_.RenderQueue(queue_, runs);
        return runs.runs();
    }

    const ShownText& shown() const { return shown_; }
    TrafficRenderer& renderer() { return renderer_; }
    TrafficQueue& queue() { return queue_; }

private:
    TrafficQueue queue_;
    TrafficRenderer renderer_;
    ShownText shown_;
};

std::vector<StyledRun> Runs(std::initializer_list<StyledRun> runs) {
    return std::vector<StyledRun>(runs);
}

RenderOptions Merged() {
    RenderOptions options;
    options.merge_continue = true;
    return options;
}

TEST(RenderRecord, MergedBlocksOfOneDirectionJoinInTheReceivedStyle) {
    Incremental display(Merged());
    display.Add(1, "AB");
    display.Add(1, "CD");
    EXPECT_EQ(display.shown().Runs(), Runs({{u"ABCD", kRxText}}));
    EXPECT_EQ(display.Rerender(), Runs({{u"ABCD", kRxText}}));
}

TEST(RenderRecord, MergedWithTimeStampsGivesOneHeaderPerDirectionChange) {
    RenderOptions options = Merged();
    options.time_stamp = true;
    Incremental display(options);
    display.Add(1, "a");
    display.Add(0, "b");
    display.Add(1, "c");
    display.Add(1, "d");
    EXPECT_EQ(display.shown().Runs(), Runs({{u"[09:05:03.007]", kRxStamp},
                                            {u"a", kRxText},
                                            {u"[09:05:03.007]", kTxStamp},
                                            {u"b", kTxText},
                                            {u"[09:05:03.007]", kRxStamp},
                                            {u"cd", kRxText}}));
}

TEST(RenderRecord, WithoutMergingEveryBlockHasAHeaderAndNoExtraLine) {
    RenderOptions options;
    options.time_stamp = true;
    options.ext_new_line = true;  // no effect without merging
    Incremental display(options);
    display.Add(MakeRecord(1, "a", 1));
    display.Add(MakeRecord(1, "b", 2));
    display.Add(MakeRecord(0, "c", 3));
    EXPECT_EQ(display.shown().Runs(), Runs({{u"[09:05:03.001]", kRxStamp},
                                            {u"a", kRxText},
                                            {u"[09:05:03.002]", kRxStamp},
                                            {u"b", kRxText},
                                            {u"[09:05:03.003]", kTxStamp},
                                            {u"c", kTxText}}));
}

TEST(RenderRecord, ExtraLineBreakBeforeADirectionChangeButNeverFirst) {
    RenderOptions options = Merged();
    options.ext_new_line = true;
    Incremental display(options);
    EXPECT_EQ(display.Add(0, "hi"), Runs({{u"hi", kTxText}}));
    EXPECT_EQ(display.Add(1, "ok"), Runs({{u"\r\n", kRxStamp}, {u"ok", kRxText}}));
    EXPECT_EQ(display.Add(1, "!"), Runs({{u"!", kRxText}}));
    EXPECT_EQ(display.Add(0, "x"), Runs({{u"\r\n", kTxStamp}, {u"x", kTxText}}));
}

TEST(RenderRecord, ControlCharactersByNameInTheControlStyle) {
    Incremental display(RenderOptions{});
    EXPECT_EQ(display.Add(1, std::string("\x01"
                                         "A\r\n",
                                         4)),
              Runs({{u"[SOH]", kRxName}, {u"A\r\n", kRxText}}));
    EXPECT_EQ(display.Add(1, " "), Runs({{u" ", kRxText}}));
    EXPECT_EQ(display.Add(1, "\x7F"), Runs({{u"[DEL]", kRxName}}));
    EXPECT_EQ(display.Add(0, std::string("\0\x1B"
                                         "b",
                                         3)),
              Runs({{u"[NUL][ESC]", kTxName}, {u"b", kTxText}}));
}

TEST(RenderRecord, ShowByNameFlagsDecideAndBytesAbove7FAreNeverNamed) {
    RenderOptions options;
    options.show_by_name[0x0D] = true;
    options.show_by_name[0x20] = true;
    options.show_by_name[0x01] = false;
    options.show_by_name[0x80] = true;
    options.show_by_name['A'] = true;
    options.name_open = u'<';
    options.name_close = u'>';
    Incremental display(options);
    EXPECT_EQ(display.Add(1, std::string("\x01"
                                         "A \r\n",
                                         5)),
              Runs({{u"\x01"
                     u"A",
                     kRxText},
                    {u"<SP><CR>", kRxName},
                    {u"\n", kRxText}}));
    const std::vector<StyledRun> high = display.Add(1, "\x80");
    ASSERT_EQ(high.size(), 1u);
    EXPECT_EQ(high[0].style, kRxText);
}

TEST(RenderRecord, HexShowsEveryByteValueAsTwoDigitsAndASpace) {
    RenderOptions options;
    options.show_hex = true;
    Incremental display(options);
    std::string all;
    std::u16string expected;
    for (int b = 0; b < 256; ++b) {
        all.push_back(static_cast<char>(b));
        char digits[4];
        std::snprintf(digits, sizeof digits, "%02X ", b);
        for (const char* p = digits; *p != '\0'; ++p) {
            expected.push_back(static_cast<char16_t>(*p));
        }
    }
    EXPECT_EQ(display.Add(1, all), Runs({{expected, kRxText}}));
    EXPECT_EQ(display.Add(0, std::string("\0\xFF", 2)), Runs({{u"00 FF ", kTxText}}));
}

TEST(RenderRecord, HexKeepsALineFeedAfterCarriageReturn) {
    RenderOptions options;
    options.show_hex = true;
    Incremental display(options);
    display.Add(1, "\r");
    EXPECT_EQ(display.Add(1, "\n"), Runs({{u"0A ", kRxText}}));
}

TEST(RenderRecord, HexSeparatorIsNamedWhenSpaceIsShownByName) {
    RenderOptions options;
    options.show_hex = true;
    options.show_by_name[0x20] = true;
    Incremental display(options);
    EXPECT_EQ(display.Add(1, "\x0D\x41"),
              Runs({{u"0D", kRxText}, {u"[SP]", kRxName}, {u"41", kRxText}, {u"[SP]", kRxName}}));
}

TEST(RenderRecord, CarriageReturnAndLineFeedInTwoBlocksMakeOneBreak) {
    // Not joined: the LF that starts the next block is dropped.
    Incremental separate(RenderOptions{});
    separate.Add(1, "A\r");
    EXPECT_EQ(separate.Add(1, "\nB"), Runs({{u"B", kRxText}}));
    EXPECT_EQ(separate.shown().Text(), u"A\nB");
    // Joined: the LF stays, right after the CR, as if both had come in one block.
    Incremental joined(Merged());
    joined.Add(1, "A\r");
    EXPECT_EQ(joined.Add(1, "\nB"), Runs({{u"\nB", kRxText}}));
    EXPECT_EQ(joined.shown().Text(), u"A\nB");
    // Across a direction change with a header between, the LF is dropped too.
    RenderOptions merged_stamped = Merged();
    merged_stamped.time_stamp = true;
    Incremental across(merged_stamped);
    across.Add(0, "A\r");
    EXPECT_EQ(across.Add(1, "\nB"), Runs({{u"[09:05:03.007]", kRxStamp}, {u"B", kRxText}}));
    // A block that is only the LF shows nothing at all, not even a header.
    RenderOptions stamped;
    stamped.time_stamp = true;
    Incremental other(stamped);
    other.Add(0, "x\r");
    EXPECT_TRUE(other.Add(1, "\n").empty());
}

TEST(RenderRecord, GroupHeaderWaitsForTheFirstShownByte) {
    RenderOptions options = Merged();
    options.time_stamp = true;
    options.ext_new_line = true;
    Incremental display(options);
    display.Add(MakeRecord(0, "a\r", 1));
    // Only the LF of a split CR LF: nothing to show yet, so no header either.
    EXPECT_TRUE(display.Add(MakeRecord(1, "\n", 2)).empty());
    // The group's header, with the time of its first block, comes with the first shown byte.
    EXPECT_EQ(display.Add(MakeRecord(1, "x", 3)),
              Runs({{u"\r\n[09:05:03.002]", kRxStamp}, {u"x", kRxText}}));
    EXPECT_EQ(display.Rerender(), Runs({{u"[09:05:03.001]", kTxStamp},
                                        {u"a\r", kTxText},
                                        {u"\r\n[09:05:03.002]", kRxStamp},
                                        {u"x", kRxText}}));
}

TEST(RenderQueue, MergedGroupKeepsARealLineFeedAtItsStart) {
    Incremental display(Merged());
    display.Add(0, "a");
    display.Add(1, "\nb\r");
    display.Add(1, "c");
    EXPECT_EQ(display.Rerender(), Runs({{u"a", kTxText}, {u"\nb\rc", kRxText}}));
    EXPECT_EQ(display.shown().Text(), u"a\nb\nc");
}

TEST(RenderRecord, AnsiTextComesThroughTheCodePage) {
    Incremental display(RenderOptions{});
    const std::string gbk = "\xC4\xE3\xBA\xC3";  // two double-byte characters
    const std::u16string wide = AnsiToWide(gbk);
    ASSERT_EQ(wide.size(), 2u);
    EXPECT_EQ(display.Add(1, "x" + gbk + "\r\n"), Runs({{u"x" + wide + u"\r\n", kRxText}}));
}

RenderOptions Chinese() {
    RenderOptions options;
    options.chinese_adjust = true;
    return options;
}

TEST(ChineseAdjust, HoldsALeadByteUntilItsTrailArrives) {
    Incremental display(Chinese());
    const std::u16string wide = AnsiToWide("\xD1\xDD");
    ASSERT_EQ(wide.size(), 1u);
    ASSERT_NE(wide[0], u'?');
    // "A" is complete and shows at once; only the lead byte waits.
    EXPECT_EQ(display.Add(1, "A\xD1"), Runs({{u"A", kRxText}}));
    EXPECT_EQ(display.renderer().held(), "\xD1");
    EXPECT_EQ(display.Add(1, "\xDD\r"), Runs({{wide + u"\r", kRxText}}));
    EXPECT_TRUE(display.renderer().held().empty());
    EXPECT_EQ(display.shown().Text(), u"A" + wide + u"\n");
}

TEST(ChineseAdjust, TextWithoutALineEndNeverWaits) {
    Incremental display(Chinese());
    EXPECT_EQ(display.Add(1, "OK"), Runs({{u"OK", kRxText}}));
    EXPECT_EQ(display.Add(1, "\xC4\xE3"), Runs({{AnsiToWide("\xC4\xE3"), kRxText}}));
    EXPECT_TRUE(display.renderer().held().empty());
}

TEST(ChineseAdjust, LeadByteFollowedByABlockStartingWithCarriageReturn) {
    Incremental display(Chinese());
    EXPECT_EQ(display.Add(1, "A\xD1"), Runs({{u"A", kRxText}}));
    // CR cannot be a trail byte: the lead stands alone, the CR and the rest show, nothing waits.
    EXPECT_EQ(display.Add(1, "\r\nB"), Runs({{u"?\r\nB", kRxText}}));
    EXPECT_TRUE(display.renderer().held().empty());
    EXPECT_EQ(display.shown().Text(), u"A?\nB");
}

TEST(ChineseAdjust, SentBlocksAreNeverHeldAndDoNotReleaseTheHeldByte) {
    Incremental display(Chinese());
    display.Add(1, "\xD1");
    EXPECT_EQ(display.Add(0, "\xC4"), Runs({{u"?", kTxText}}));
    EXPECT_EQ(display.renderer().held(), "\xD1");
    EXPECT_EQ(display.Add(1, "\xDD"), Runs({{AnsiToWide("\xD1\xDD"), kRxText}}));
}

TEST(ChineseAdjust, ReRenderStartsWithNothingHeldAndShowsHeldBytesOnce) {
    Incremental display(Chinese());
    display.Add(1, "A\xD1");
    EXPECT_EQ(display.Rerender(), Runs({{u"A", kRxText}}));
    EXPECT_EQ(display.renderer().held(), "\xD1");
    EXPECT_EQ(display.Add(1, "\xDD"), Runs({{AnsiToWide("\xD1\xDD"), kRxText}}));
    EXPECT_EQ(display.Rerender(), Runs({{u"A" + AnsiToWide("\xD1\xDD"), kRxText}}));
}

TEST(IncompleteDbcsTail, Table) {
    struct Row {
        const char* name;
        std::string text;
        size_t tail;
    };
    const Row rows[] = {
        {"empty", "", 0},
        {"ascii", "OK", 0},
        {"lone lead", "\xD1", 1},
        {"pair", "\xD1\xDD", 0},
        {"pair then lead", "\xD1\xDD\xC4", 1},
        {"two pairs", "\xD1\xDD\xC4\xE3", 0},
        {"lead trail-like lead", "A\x81\x41\x81", 1},
        {"lead before CR", "\xD1\r", 0},
        {"FF is single", "\xFF", 0},
        {"80 is single", "\x80", 0},
        {"lead after CR", "\xD1\r\xD1", 1},
        {"trail byte 40", "\x81\x40", 0},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(IncompleteDbcsTail(row.text), row.tail) << row.name;
    }
}

TEST(TimeStampHeader, TemplatesAndMilliseconds) {
    const kem::platform::LocalTime time = MakeRecord(1, "x").time;
    EXPECT_EQ(FormatTimeStampHeader(time, u"[%H:%M:%S.%s]"), u"[09:05:03.007]");
    EXPECT_EQ(FormatTimeStampHeader(time, u"%H%M%S-%s"), u"090503-007");
    EXPECT_EQ(FormatTimeStampHeader(time, u"%%s %s"), u"%s 007");
    EXPECT_EQ(FormatTimeStampHeader(time, u"%Y-%m-%d"), u"2026-03-14");
    EXPECT_EQ(FormatTimeStampHeader(time, u""), u"");
    kem::platform::LocalTime late = time;
    late.millisecond = 999;
    EXPECT_EQ(FormatTimeStampHeader(late, u"%s|%s"), u"999|999");
    EXPECT_EQ(SubstituteMilliseconds(u"%s%%s%", 42), u"042%%s%");
}

TEST(TimeStampHeader, UnknownConversionIsCopiedNotGarbage) {
    const kem::platform::LocalTime time = MakeRecord(1, "x").time;
    // glibc writes a conversion it does not know as it stands.
    EXPECT_EQ(FormatTimeStampHeader(time, u"[%Q %H]"), u"[%Q 09]");
}

TEST(TimeStampHeader, OverlongTemplateOrExpansionGivesTheFallback) {
    const kem::platform::LocalTime time = MakeRecord(1, "x").time;
    const std::u16string long_template(300, u'x');
    EXPECT_EQ(FormatTimeStampHeader(time, long_template), TimeStampFallbackText());
    std::u16string long_expansion;
    for (int i = 0; i < 30; ++i) {
        long_expansion += u"%Y-%m-%d ";  // 30 x 11 units
    }
    ASSERT_LT(long_expansion.size(), 300u);
    EXPECT_EQ(FormatTimeStampHeader(time, long_expansion), TimeStampFallbackText());
    const std::u16string fits(254, u'y');
    EXPECT_EQ(FormatTimeStampHeader(time, fits), fits);
}

TEST(RenderRecord, TimeStampHeaderUsesTheTemplateOfTheOptions) {
    RenderOptions options;
    options.time_stamp = true;
    options.time_stamp_format = std::u16string(256, u'z') + u"%H";
    Incremental display(options);
    EXPECT_EQ(display.Add(1, "a"),
              Runs({{std::u16string(TimeStampFallbackText()), kRxStamp}, {u"a", kRxText}}));
}

TEST(RenderRecord, BlocksOfZeroOneAndOneMebibyte) {
    TrafficRenderer renderer{RenderOptions{}};
    RunList runs;
    renderer.RenderRecord(MakeRecord(1, ""), runs);
    EXPECT_TRUE(runs.empty());
    renderer.RenderRecord(MakeRecord(1, "x"), runs);
    EXPECT_EQ(runs.runs(), Runs({{u"x", kRxText}}));
    std::string big(1 << 20, 'a');
    std::u16string expected(1 << 20, u'a');
    for (size_t i = 0; i < big.size(); i += 64) {
        big[i] = static_cast<char>('a' + i / 64 % 26);
        expected[i] = static_cast<char16_t>(big[i]);
    }
    runs.clear();
    renderer.RenderRecord(MakeRecord(0, big), runs);
    EXPECT_EQ(runs.runs(), Runs({{expected, kTxText}}));
    RenderOptions hex;
    hex.show_hex = true;
    renderer.SetOptions(hex);
    runs.clear();
    renderer.RenderRecord(MakeRecord(0, big), runs);
    ASSERT_EQ(runs.runs().size(), 1u);
    EXPECT_EQ(runs.runs()[0].text.size(), 3u << 20);
    EXPECT_EQ(runs.runs()[0].text.substr(0, 6), u"61 61 ");
}

TEST(RenderOptions, DefaultsAndSettingsRecord) {
    const ShowByNameFlags flags = DefaultShowByName();
    int named = 0;
    for (int b = 0; b < 256; ++b) {
        named += flags[b] ? 1 : 0;
    }
    EXPECT_EQ(named, 31);
    EXPECT_FALSE(flags[0x0A]);
    EXPECT_FALSE(flags[0x0D]);
    EXPECT_FALSE(flags[0x20]);
    EXPECT_TRUE(flags[0x7F]);
    EXPECT_TRUE(flags[0x00]);

    tagAppConfig config = DefaultAppConfig();
    config.MergeCoutinue = 1;
    config.ExtNewLine = 0;
    config.ShowHex = 1;
    config.TimeStamp = 1;
    config.ChineseAdjust = 0;
    const char16_t format[] = u"<%S>";
    std::copy(std::begin(format), std::end(format), config.TimeStampFormat);
    const RenderOptions options = RenderOptionsFromConfig(config, flags);
    EXPECT_TRUE(options.merge_continue);
    EXPECT_FALSE(options.ext_new_line);
    EXPECT_TRUE(options.show_hex);
    EXPECT_TRUE(options.time_stamp);
    EXPECT_FALSE(options.chinese_adjust);
    EXPECT_EQ(options.time_stamp_format, u"<%S>");
    // A field without a terminator is read up to its capacity.
    std::fill(std::begin(config.TimeStampFormat), std::end(config.TimeStampFormat), u'q');
    EXPECT_EQ(RenderOptionsFromConfig(config, flags).time_stamp_format, std::u16string(64, u'q'));
}

}  // namespace
