// Rendering records for the display: joining, headers, the extra line break, names, hex, CR LF
// across blocks, ANSI text, the Chinese adjustment, time-stamp templates, the options record.
#include "terminal/render.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <tuple>
#include <vector>

#include "render_test_support.h"
#include "settings/app_config.h"
#include "support/hex_text.h"
#include "terminal/dbcs_tail.h"
#include "terminal/time_stamp.h"

namespace {

using namespace std::string_literals;

// Options with the flags named in `flags`: "merge", "ext", "hex", "stamp", "chinese".
RenderOptions Opts(std::string_view flags) {
    auto has = [&](std::string_view flag) { return flags.find(flag) != std::string_view::npos; };
    return {.merge_continue = has("merge"),
            .ext_new_line = has("ext"),
            .show_hex = has("hex"),
            .time_stamp = has("stamp"),
            .chinese_adjust = has("chinese")};
}

// Renders the records of `script` one by one; returns what each append adds (Describe form,
// then " held" and the bytes the Chinese adjustment holds back, if any), joined by '|'. A
// fresh renderer must show the same for the whole queue; `rerendered` gets the queue rendered
// anew through the used renderer.
std::string RenderEach(const RenderOptions& options, const std::string& script,
                       std::string* rerendered = nullptr) {
    TrafficQueue queue;
    TrafficRenderer renderer(options);
    ShownText shown;
    std::string each;
    for (const tagComExchangeData& record : Records(script)) {
        EXPECT_EQ(queue.AddRecord(record, TrafficTrimLimit{}), AddTrafficResult::kQueued);
        RunList runs;
        renderer.RenderRecord(queue.At(queue.Count() - 1), runs);
        shown.Append(runs);
        each += (each.empty() ? "" : "|") + Describe(runs);
        each += renderer.held().empty() ? "" : " held " + kem::testing::HexText(renderer.held());
    }
    TrafficRenderer fresh(options);
    EXPECT_EQ(Describe(RenderAtOnce(fresh, queue)), Describe(shown.Runs()));
    if (rerendered != nullptr) {
        RunList runs;
        renderer.RenderQueue(queue, runs);
        *rerendered = Describe(runs);
    }
    return each;
}

TEST(RenderRecord, JoiningHeadersNamesHexLineEndsAndHeldLeadBytesPerAppend) {
    RenderOptions named;  // other flags and delimiters than the defaults
    named.show_by_name[0x0D] = named.show_by_name[0x20] = named.show_by_name[0x80] = true;
    named.show_by_name[0x01] = false;
    named.show_by_name['A'] = true;
    named.name_open = u'{';
    named.name_close = u'}';
    RenderOptions hex_space_named = Opts("hex");
    hex_space_named.show_by_name[0x20] = true;
    // Each row: what it checks, options, script, what each append adds, and the queue rendered
    // anew when the row checks that.
    const std::tuple<const char*, RenderOptions, std::string, std::string, std::string> rows[] = {
        {"merged blocks of one direction join", Opts("merge"), "R:AB|R:CD", "<R>AB|<R>CD",
         "<R>ABCD"},
        {"merged: one header per direction change, with the time of its first block",
         Opts("merge stamp"), "R:a|S:b|R:c|R:d",
         "<R@>[09:05:03.001]<R>a|<S@>[09:05:03.002]<S>b|<R@>[09:05:03.003]<R>c|<R>d", ""},
        {"unmerged: a header per block, no extra line", Opts("ext stamp"), "R:a|R:b|S:c",
         "<R@>[09:05:03.001]<R>a|<R@>[09:05:03.002]<R>b|<S@>[09:05:03.003]<S>c", ""},
        {"extra line break at a direction change, never first", Opts("merge ext"),
         "S:hi|R:ok|R:!|S:x", "<S>hi|<R@>\\r\\n<R>ok|<R>!|<S@>\\r\\n<S>x", ""},
        {"control characters by name", Opts(""), "R:\x01\x41\r\n|R: |R:\x7F|S:\0\x1B\x62"s,
         "<R#>[SOH]<R>A\\r\\n|<R> |<R#>[DEL]|<S#>[NUL][ESC]<S>b", ""},
        {"flags decide; bytes above 7F never named", named, "R:\x01\x41 \r\n|R:\x80",
         "<R>\\u0001A<R#>{SP}{CR}<R>\\n|<R>\\u20AC", ""},
        {"hex keeps an LF after a CR", Opts("hex"), "R:\r|R:\n", "<R>0D |<R>0A ", ""},
        {"hex separator named when space is", hex_space_named, "R:\x0D\x41",
         "<R>0D<R#>[SP]<R>41<R#>[SP]", ""},
        {"CR LF over two unjoined blocks: the LF is dropped", Opts(""), "R:A\r|R:\nB",
         "<R>A\\r|<R>B", ""},
        {"CR LF over two joined blocks: the LF stays", Opts("merge"), "R:A\r|R:\nB",
         "<R>A\\r|<R>\\nB", ""},
        {"CR LF over a direction change with a header", Opts("merge stamp"), "S:A\r|R:\nB",
         "<S@>[09:05:03.001]<S>A\\r|<R@>[09:05:03.002]<R>B", ""},
        {"a block of only that LF shows nothing, not even a header", Opts("stamp"), "S:x\r|R:\n",
         "<S@>[09:05:03.001]<S>x\\r|", ""},
        {"the group header waits for the first shown byte", Opts("merge ext stamp"),
         "S:a\r|R:\n|R:x", "<S@>[09:05:03.001]<S>a\\r||<R@>\\r\\n[09:05:03.002]<R>x",
         "<S@>[09:05:03.001]<S>a\\r<R@>\\r\\n[09:05:03.002]<R>x"},
        {"a joined group keeps a real LF at its start", Opts("merge"), "S:a|R:\nb\r|R:c",
         "<S>a|<R>\\nb\\r|<R>c", "<S>a<R>\\nb\\rc"},
        {"ANSI text through the code page", Opts(""), "R:x\xC4\xE3\xBA\xC3\r\n",
         "<R>x\\u4F60\\u597D\\r\\n", ""},
        {"Chinese: a lead byte waits for its trail", Opts("chinese"), "R:A\xD1|R:\xDD\r",
         "<R>A held D1|<R>\\u6F14\\r", ""},
        {"Chinese: text without a line end never waits", Opts("chinese"), "R:OK|R:\xC4\xE3",
         "<R>OK|<R>\\u4F60", ""},
        {"Chinese: CR is no trail byte, the lead stands alone", Opts("chinese"), "R:A\xD1|R:\r\nB",
         "<R>A held D1|<R>?\\r\\nB", ""},
        {"Chinese: sent blocks are never held and do not release the held byte", Opts("chinese"),
         "R:\xD1|S:\xC4|R:\xDD", " held D1|<S>? held D1|<R>\\u6F14", ""},

    };
    for (const auto& [name, options, script, each, rerendered_expected] : rows) {
        SCOPED_TRACE(name);
        std::string rerendered;
        EXPECT_EQ(RenderEach(options, script, &rerendered), each);
        if (!rerendered_expected.empty()) {
            EXPECT_EQ(rerendered, rerendered_expected);
        }
    }
}

TEST(RenderRecord, HexShowsEveryByteValueAsTwoDigitsAndASpace) {
    std::string all;
    std::string expected = "<R>";
    for (int b = 0; b < 256; ++b) {
        all.push_back(static_cast<char>(b));
        char digits[4];
        std::snprintf(digits, sizeof digits, "%02X ", b);
        expected += digits;
    }
    TrafficQueue queue;
    TrafficRenderer renderer(Opts("hex"));
    EXPECT_EQ(Describe(RenderLive(renderer, queue, {At(1, all, 1), At(0, "\0\xFF"s, 2)})),
              expected + "<S>00 FF ");
}

TEST(ChineseAdjust, ReRenderStartsWithNothingHeldAndShowsHeldBytesOnce) {
    TrafficQueue queue;
    TrafficRenderer renderer(Opts("chinese"));
    RunList runs;
    RenderLive(renderer, queue, Records("R:A\xD1"));
    renderer.RenderQueue(queue, runs);
    EXPECT_EQ(Describe(runs), "<R>A");
    EXPECT_EQ(renderer.held(), "\xD1");
    EXPECT_EQ(Describe(RenderLive(renderer, queue, Records("R:\xDD"))), "<R>\\u6F14");
    EXPECT_EQ(Describe(RenderAtOnce(renderer, queue)), "<R>A\\u6F14");
}

TEST(IncompleteDbcsTail, Table) {
    const std::pair<std::string, size_t> rows[] = {{"", 0},
                                                   {"OK", 0},
                                                   {"\xD1", 1},
                                                   {"\xD1\xDD", 0},
                                                   {"\xD1\xDD\xC4", 1},
                                                   {"\xD1\xDD\xC4\xE3", 0},
                                                   {"A\x81\x41\x81", 1},
                                                   {"\xD1\r", 0},
                                                   {"\xFF", 0},
                                                   {"\x80", 0},
                                                   {"\xD1\r\xD1", 1},
                                                   {"\x81\x40", 0}};
    for (const auto& [text, tail] : rows) {
        EXPECT_EQ(IncompleteDbcsTail(text), tail) << kem::testing::HexText(text);
    }
}

TEST(TimeStampHeader, TemplatesMillisecondsElapsedTimeAndOverlongFallback) {
    kem::platform::LocalTime time = At(1, "x", 7).time;
    std::u16string long_expansion;  // 30 x 11 units, under the template limit
    for (int i = 0; i < 30; ++i) {
        long_expansion += u"%Y-%m-%d ";
    }
    const std::u16string fallback(TimeStampFallbackText());
    // glibc copies an unknown conversion as it stands. "%q" is the time since the previous
    // entry ("+S.mmm", a clock set back counting as none), put in before strftime unless
    // escaped as "%%q".
    const std::tuple<std::u16string, int64_t, std::u16string> rows[] = {
        {u"[%H:%M:%S.%s]", 0, u"[09:05:03.007]"},
        {u"%H%M%S-%s", 0, u"090503-007"},
        {u"%%s %s", 0, u"%s 007"},
        {u"%Y-%m-%d", 0, u"2026-03-14"},
        {u"", 0, u""},
        {u"[%Q %H]", 0, u"[%Q 09]"},
        {std::u16string(300, u'x'), 0, fallback},
        {long_expansion, 0, fallback},
        {std::u16string(254, u'y'), 0, std::u16string(254, u'y')},
        {u"%q", 0, u"+0.000"},
        {u"[%q]", 125, u"[+0.125]"},
        {u"%S.%s %q", 12000, u"03.007 +12.000"},
        {u"%q", 3723004, u"+3723.004"},
        {u"%q", -5, u"+0.000"},
        {u"%%q|%%%q|%q%%", 1500, u"%q|%+1.500|+1.500%"}};
    for (const auto& [format, elapsed, header] : rows) {
        EXPECT_EQ(FormatTimeStampHeader(time, format, elapsed), header);
    }
    time.millisecond = 999;
    EXPECT_EQ(FormatTimeStampHeader(time, u"%s|%s"), u"999|999");
    EXPECT_EQ(SubstituteMilliseconds(u"%s%%s%", 42), u"042%%s%");
    EXPECT_EQ(SubstituteMilliseconds(u"%q%s", 42), u"%q042");
    EXPECT_EQ(SubstituteStampTokens(u"%q%s%%q", 42, 1), u"+0.001042%%q");
    const std::pair<const char16_t*, bool> uses_elapsed[] = {{u"a%qb", true},
                                                             {u"%%%q", true},
                                                             {u"%%q", false},
                                                             {u"[%H:%M:%S.%s]", false},
                                                             {u"%", false}};
    for (const auto& [format, uses] : uses_elapsed) {
        EXPECT_EQ(TemplateUsesElapsed(format), uses);
    }
    // The renderer takes the template from its options.
    RenderOptions options = Opts("stamp");
    options.time_stamp_format = std::u16string(256, u'z') + u"%H";
    EXPECT_EQ(RenderEach(options, "R:a"), "<R@>[--:--:--.---]<R>a");
}

TEST(RenderRecord, BlocksOfZeroBytesAndOfOneMebibyte) {
    TrafficRenderer renderer;
    RunList runs;
    renderer.RenderRecord(At(1, "", 1), runs);
    EXPECT_TRUE(runs.empty());
    std::string big(1 << 20, 'a');
    for (size_t i = 0; i < big.size(); i += 64) {
        big[i] = static_cast<char>('a' + i / 64 % 26);
    }
    renderer.RenderRecord(At(0, big, 2), runs);
    EXPECT_EQ(runs.runs(), (std::vector<StyledRun>{{std::u16string(big.begin(), big.end()),
                                                    DisplayStyle::kSentNormal}}));
    renderer.SetOptions(Opts("hex"));
    runs.clear();
    renderer.RenderRecord(At(0, big, 3), runs);
    ASSERT_EQ(runs.runs().size(), 1u);
    EXPECT_EQ(runs.runs()[0].text.size(), 3u << 20);
    EXPECT_EQ(runs.runs()[0].text.substr(0, 6), u"61 61 ");
}

TEST(RenderOptions, DefaultsAndSettingsRecord) {
    ShowByNameFlags flags = DefaultShowByName();
    std::string named;
    for (int b = 0; b < 256; ++b) {
        named += flags[b] ? std::to_string(b) + " " : "";
    }
    // The control characters but LF and CR, and DEL; not space.
    EXPECT_EQ(named,
              "0 1 2 3 4 5 6 7 8 9 11 12 14 15 16 17 18 19 20 21 22 23 24 25 26 27 28 29 30 31 "
              "127 ");
    tagAppConfig config = DefaultAppConfig();
    config.MergeCoutinue = 1;
    config.ExtNewLine = 0;
    config.ShowHex = 1;
    config.TimeStamp = 1;
    config.ChineseAdjust = 0;
    const char16_t format[] = u"<%S>";
    std::copy(std::begin(format), std::end(format), config.TimeStampFormat);
    flags[5] = false;
    const RenderOptions options = RenderOptionsFromConfig(config, flags);
    EXPECT_EQ(std::vector<bool>({options.merge_continue, options.ext_new_line, options.show_hex,
                                 options.time_stamp, options.chinese_adjust}),
              std::vector<bool>({true, false, true, true, false}));
    EXPECT_EQ(options.time_stamp_format, u"<%S>");
    EXPECT_EQ(options.show_by_name, flags);
    // A field without a terminator is read up to its capacity.
    std::fill(std::begin(config.TimeStampFormat), std::end(config.TimeStampFormat), u'q');
    EXPECT_EQ(RenderOptionsFromConfig(config, flags).time_stamp_format, std::u16string(64, u'q'));
}

}  // namespace
