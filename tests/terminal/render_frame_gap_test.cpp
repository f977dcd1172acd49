// Merged blocks split into entries by silence on the line, and "%q", the time since the
// previous entry, on recorded queues with chosen times.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <utility>
#include <vector>

#include "render_test_support.h"
#include "support/scratch_files.h"
#include "terminal/render.h"
#include "terminal/time_stamp.h"
#include "terminal/traffic_log.h"

namespace {

constexpr auto kRxText = DisplayStyle::kReceivedNormal;
constexpr auto kRxStamp = DisplayStyle::kReceivedTimeStamp;
constexpr auto kTxText = DisplayStyle::kSentNormal;
constexpr auto kTxStamp = DisplayStyle::kSentTimeStamp;

// 2026-03-14 09:05:03 UTC; the wall-clock fields below are kept in step by hand so the
// expected headers do not depend on the machine's time zone.
constexpr int64_t kBaseSeconds = 1773479103;

// A record `offset_ms` after 09:05:03.000 (within the same day).
tagComExchangeData At(int32_t direction, std::string bytes, int64_t offset_ms) {
    tagComExchangeData record = MakeRecord(direction, std::move(bytes));
    const int64_t seconds = 9 * 3600 + 5 * 60 + 3 + offset_ms / 1000;
    record.time.hour = static_cast<int>(seconds / 3600);
    record.time.minute = static_cast<int>(seconds / 60 % 60);
    record.time.second = static_cast<int>(seconds % 60);
    record.time.millisecond = static_cast<int>(offset_ms % 1000);
    record.time.unix_seconds = kBaseSeconds + offset_ms / 1000;
    return record;
}

RenderOptions Framed(uint32_t gap_ms, std::u16string format = u"[%s]") {
    RenderOptions options;
    options.merge_continue = true;
    options.time_stamp = true;
    options.time_stamp_format = std::move(format);
    options.frame_gap_ms = gap_ms;
    return options;
}

// Renders `records` one by one as the live display does, and the queue anew; both must
// show the same, which is returned.
std::vector<StyledRun> LiveAndRerendered(const RenderOptions& options,
                                         const std::vector<tagComExchangeData>& records) {
    TrafficQueue queue;
    TrafficRenderer live(options);
    ShownText live_shown;
    for (const tagComExchangeData& record : records) {
        EXPECT_EQ(queue.AddRecord(record, TrafficTrimLimit{}), AddTrafficResult::kQueued);
        RunList runs;
        live.RenderRecord(queue.At(queue.Count() - 1), runs);
        live_shown.Append(runs);
    }
    TrafficRenderer again(options);
    RunList all;
    again.RenderQueue(queue, all);
    ShownText rerendered;
    rerendered.Append(all);
    EXPECT_EQ(live_shown.Runs(), rerendered.Runs())
        << "live: " << Describe(live_shown.Runs())
        << "\nre-rendered: " << Describe(rerendered.Runs());
    return live_shown.Runs();
}

std::vector<StyledRun> Runs(std::initializer_list<StyledRun> runs) {
    return std::vector<StyledRun>(runs);
}

TEST(FrameGap, SplitsAtAndAboveTheGapButNotJustBelow) {
    // b comes 9 ms after a (below), c 10 ms after b (at), d 11 ms after c (above).
    const std::vector<tagComExchangeData> records = {At(1, "a", 0), At(1, "b", 9), At(1, "c", 19),
                                                     At(1, "d", 30)};
    EXPECT_EQ(LiveAndRerendered(Framed(10), records), Runs({{u"[000]", kRxStamp},
                                                            {u"ab", kRxText},
                                                            {u"[019]", kRxStamp},
                                                            {u"c", kRxText},
                                                            {u"[030]", kRxStamp},
                                                            {u"d", kRxText}}));
    // One millisecond more of gap and b..c no longer splits; c..d still does.
    EXPECT_EQ(
        LiveAndRerendered(Framed(11), records),
        Runs({{u"[000]", kRxStamp}, {u"abc", kRxText}, {u"[030]", kRxStamp}, {u"d", kRxText}}));
}

TEST(FrameGap, IsMeasuredFromThePreviousBlockNotFromTheEntryStart) {
    // A steady stream 8 ms apart stays one entry although it lasts far longer than the gap.
    std::vector<tagComExchangeData> records;
    std::u16string text;
    for (int i = 0; i < 20; ++i) {
        const char c = static_cast<char>('a' + i);
        records.push_back(At(1, std::string(1, c), i * 8));
        text.push_back(static_cast<char16_t>(c));
    }
    EXPECT_EQ(LiveAndRerendered(Framed(10), records),
              Runs({{u"[000]", kRxStamp}, {text, kRxText}}));
}

TEST(FrameGap, NewEntryGetsTheExtraLineBreakLikeADirectionChange) {
    RenderOptions options = Framed(50);
    options.ext_new_line = true;
    const std::vector<tagComExchangeData> records = {At(1, "ab", 0), At(1, "cd", 20),
                                                     At(1, "ef", 200)};
    EXPECT_EQ(
        LiveAndRerendered(options, records),
        Runs({{u"[000]", kRxStamp}, {u"abcd", kRxText}, {u"\n[200]", kRxStamp}, {u"ef", kRxText}}));
    // Without time stamps the split still shows, as the line break alone.
    options.time_stamp = false;
    EXPECT_EQ(LiveAndRerendered(options, records),
              Runs({{u"abcd", kRxText}, {u"\n", kRxStamp}, {u"ef", kRxText}}));
}

TEST(FrameGap, BothDirectionsInterleaved) {
    RenderOptions options = Framed(50);
    const std::vector<tagComExchangeData> records = {
        At(0, "Q1", 0),     // sent
        At(1, "R1", 5),     // reply: a direction change
        At(1, "r1", 40),    // 35 ms later: same frame
        At(1, "R2", 100),   // 60 ms later: a new frame of the same direction
        At(0, "Q2", 120),   // sent
        At(0, "q2", 169),   // 49 ms later: same frame
        At(0, "Q3", 219),   // 50 ms later: new frame
        At(1, "R3", 220)};  // reply
    EXPECT_EQ(LiveAndRerendered(options, records), Runs({{u"[000]", kTxStamp},
                                                         {u"Q1", kTxText},
                                                         {u"[005]", kRxStamp},
                                                         {u"R1r1", kRxText},
                                                         {u"[100]", kRxStamp},
                                                         {u"R2", kRxText},
                                                         {u"[120]", kTxStamp},
                                                         {u"Q2q2", kTxText},
                                                         {u"[219]", kTxStamp},
                                                         {u"Q3", kTxText},
                                                         {u"[220]", kRxStamp},
                                                         {u"R3", kRxText}}));
}

TEST(FrameGap, MergeOffIsUnaffected) {
    RenderOptions with_gap = Framed(10);
    with_gap.merge_continue = false;
    with_gap.ext_new_line = true;
    RenderOptions without = with_gap;
    without.frame_gap_ms = 0;
    const std::vector<tagComExchangeData> records = {At(1, "a", 0), At(1, "b", 3), At(1, "c", 50),
                                                     At(0, "d", 51)};
    const std::vector<StyledRun> expected = Runs({{u"[000]", kRxStamp},
                                                  {u"a", kRxText},
                                                  {u"[003]", kRxStamp},
                                                  {u"b", kRxText},
                                                  {u"[050]", kRxStamp},
                                                  {u"c", kRxText},
                                                  {u"[051]", kTxStamp},
                                                  {u"d", kTxText}});
    EXPECT_EQ(LiveAndRerendered(with_gap, records), expected);
    EXPECT_EQ(LiveAndRerendered(without, records), expected);
}

TEST(FrameGap, ZeroJoinsWhateverTheSilence) {
    const std::vector<tagComExchangeData> records = {At(1, "a", 0), At(1, "b", 60000),
                                                     At(1, "c", 3600000)};
    EXPECT_EQ(LiveAndRerendered(Framed(0), records),
              Runs({{u"[000]", kRxStamp}, {u"abc", kRxText}}));
}

TEST(FrameGap, CrLfSplitBySilenceMakesOneLineBreakLikeADirectionChange) {
    RenderOptions options = Framed(50);
    options.ext_new_line = true;
    // The LF that starts the new frame is dropped after the CR that ended the previous one;
    // the frame's own extra line break separates the two.
    const std::vector<tagComExchangeData> records = {At(1, "A\r", 0), At(1, "\nB", 100)};
    EXPECT_EQ(
        LiveAndRerendered(options, records),
        Runs({{u"[000]", kRxStamp}, {u"A\n", kRxText}, {u"\n[100]", kRxStamp}, {u"B", kRxText}}));
}

TEST(FrameGap, ChangingTheGapAndReRenderingReframesTheWholeQueue) {
    const std::vector<tagComExchangeData> records = {At(1, "a", 0), At(1, "b", 30),
                                                     At(1, "c", 100)};
    TrafficQueue queue;
    for (const tagComExchangeData& record : records) {
        queue.AddRecord(record, TrafficTrimLimit{});
    }
    TrafficRenderer renderer(Framed(0));
    RunList runs;
    renderer.RenderQueue(queue, runs);
    EXPECT_EQ(runs.runs(), Runs({{u"[000]", kRxStamp}, {u"abc", kRxText}}));
    renderer.SetOptions(Framed(25));
    runs.clear();
    renderer.RenderQueue(queue, runs);
    EXPECT_EQ(runs.runs(), Runs({{u"[000]", kRxStamp},
                                 {u"a", kRxText},
                                 {u"[030]", kRxStamp},
                                 {u"b", kRxText},
                                 {u"[100]", kRxStamp},
                                 {u"c", kRxText}}));
}

// ---- "%q" ----

TEST(ElapsedToken, FormatsSecondsAndMilliseconds) {
    EXPECT_EQ(FormatElapsed(0), u"+0.000");
    EXPECT_EQ(FormatElapsed(125), u"+0.125");
    EXPECT_EQ(FormatElapsed(12000), u"+12.000");
    EXPECT_EQ(FormatElapsed(3723004), u"+3723.004");
    EXPECT_EQ(FormatElapsed(-5), u"+0.000") << "a clock set back counts as no time";
}

TEST(ElapsedToken, SubstitutedBeforeStrftimeAndEscapedByPercentPercent) {
    const tagComExchangeData record = At(1, "x", 7);
    EXPECT_EQ(FormatTimeStampHeader(record.time, u"[%q]", 125), u"[+0.125]");
    EXPECT_EQ(FormatTimeStampHeader(record.time, u"%S.%s %q", 12000), u"03.007 +12.000");
    EXPECT_EQ(FormatTimeStampHeader(record.time, u"%%q|%%%q|%q%%", 1500), u"%q|%+1.500|+1.500%");
    EXPECT_EQ(FormatTimeStampHeader(record.time, u"%q"), u"+0.000");
    EXPECT_TRUE(TemplateUsesElapsed(u"a%qb"));
    EXPECT_TRUE(TemplateUsesElapsed(u"%%%q"));
    EXPECT_FALSE(TemplateUsesElapsed(u"%%q"));
    EXPECT_FALSE(TemplateUsesElapsed(u"[%H:%M:%S.%s]"));
    EXPECT_FALSE(TemplateUsesElapsed(u"%"));
    // Without "%q" the old substitution is untouched.
    EXPECT_EQ(SubstituteMilliseconds(u"%q%s", 42), u"%q042");
    EXPECT_EQ(SubstituteStampTokens(u"%q%s%%q", 42, 1), u"+0.001042%%q");
}

TEST(ElapsedToken, CountsFromThePreviousEntryHeaderAndStartsAtZero) {
    const std::vector<tagComExchangeData> records = {
        At(1, "a", 0), At(1, "b", 50),  // one entry: b is a continuation
        At(0, "c", 125),                // 125 ms after the header of a, not after b
        At(1, "d", 12125)};             // twelve seconds later
    EXPECT_EQ(LiveAndRerendered(Framed(0, u"%q "), records), Runs({{u"+0.000 ", kRxStamp},
                                                                   {u"ab", kRxText},
                                                                   {u"+0.125 ", kTxStamp},
                                                                   {u"c", kTxText},
                                                                   {u"+12.000 ", kRxStamp},
                                                                   {u"d", kRxText}}));
    // With a frame gap the split entries count too, and "%%q" stays literal text.
    EXPECT_EQ(LiveAndRerendered(Framed(40, u"%q|%%q "), records), Runs({{u"+0.000|%q ", kRxStamp},
                                                                        {u"a", kRxText},
                                                                        {u"+0.050|%q ", kRxStamp},
                                                                        {u"b", kRxText},
                                                                        {u"+0.075|%q ", kTxStamp},
                                                                        {u"c", kTxText},
                                                                        {u"+12.000|%q ", kRxStamp},
                                                                        {u"d", kRxText}}));
    // Without merging every block is an entry.
    RenderOptions unmerged = Framed(0, u"%q ");
    unmerged.merge_continue = false;
    EXPECT_EQ(LiveAndRerendered(unmerged, records)[2].text, u"+0.050 ");
}

TEST(ElapsedToken, EntriesThatShowNothingAreSkipped) {
    // The sent LF completes the CR LF pair and shows nothing, so it gets no header and the
    // next entry counts from the one before it.
    RenderOptions options = Framed(0, u"%q ");
    const std::vector<tagComExchangeData> records = {At(1, "A\r", 0), At(0, "\n", 100),
                                                     At(1, "B", 300)};
    EXPECT_EQ(
        LiveAndRerendered(options, records),
        Runs({{u"+0.000 ", kRxStamp}, {u"A\n", kRxText}, {u"+0.300 ", kRxStamp}, {u"B", kRxText}}));
}

TEST(ElapsedToken, TurningTimeStampsOnLaterShowsWhatTheLiveDisplayWouldHave) {
    const std::vector<tagComExchangeData> records = {At(1, "a", 0), At(0, "b", 250),
                                                     At(1, "c", 1250)};
    RenderOptions off = Framed(0, u"%q ");
    off.time_stamp = false;
    TrafficQueue queue;
    TrafficRenderer renderer(off);
    for (const tagComExchangeData& record : records) {
        queue.AddRecord(record, TrafficTrimLimit{});
        RunList runs;
        renderer.RenderRecord(queue.At(queue.Count() - 1), runs);
    }
    renderer.SetOptions(Framed(0, u"%q "));
    RunList rerendered;
    renderer.RenderQueue(queue, rerendered);
    EXPECT_EQ(rerendered.runs(), LiveAndRerendered(Framed(0, u"%q "), records));
    EXPECT_EQ(rerendered.runs()[4].text, u"+1.000 ");
}

TEST(ElapsedToken, SameMillisecondBlocksWithDifferentElapsedTimesGetTheirOwnText) {
    // The header cache must not hand the text of one elapsed time to another.
    // b and c share a millisecond but not their elapsed times.
    const std::vector<tagComExchangeData> records = {At(1, "a", 0), At(0, "b", 1000),
                                                     At(1, "c", 1000), At(0, "d", 2000)};
    RenderOptions options = Framed(0, u"%q");
    const std::vector<StyledRun> shown = LiveAndRerendered(options, records);
    ASSERT_EQ(shown.size(), 8u);
    EXPECT_EQ(shown[0].text, u"+0.000");
    EXPECT_EQ(shown[2].text, u"+1.000");
    EXPECT_EQ(shown[4].text, u"+0.000");
    EXPECT_EQ(shown[6].text, u"+1.000");
}

// ---- The all-traffic log frames as the display does ----

// Entries as (direction, text): the display rendered with a marker header, split there.
std::vector<std::pair<bool, std::string>> DisplayEntries(
    const std::vector<tagComExchangeData>& records, uint32_t gap_ms) {
    RenderOptions options = Framed(gap_ms, u"#");
    std::vector<std::pair<bool, std::string>> entries;
    for (const StyledRun& run : LiveAndRerendered(options, records)) {
        if (run.style == kRxStamp || run.style == kTxStamp) {
            entries.emplace_back(run.style == kRxStamp, std::string());
        } else {
            for (const char16_t c : run.text) {
                entries.back().second.push_back(static_cast<char>(c));
            }
        }
    }
    return entries;
}

// Entries of the all-traffic log written with merging, no stamps, and the same gap.
std::vector<std::pair<bool, std::string>> LogEntries(const std::vector<tagComExchangeData>& records,
                                                     uint32_t gap_ms) {
    kem::testing::TempFolder folder;
    TrafficLogOptions options;
    options.path = folder.path16();
    options.title = u"t";
    options.all_name = u"all.log";
    options.save_all = true;
    options.all_time_stamp = false;
    options.all_merge_continue = true;
    TrafficLogWriter writer;
    kem::platform::LocalTime start;
    start.year = 2026;
    start.month = 3;
    start.day = 14;
    EXPECT_TRUE(writer.Start(options, u"", start).ok());
    writer.SetFrameGap(gap_ms);
    for (const tagComExchangeData& record : records) {
        EXPECT_TRUE(writer.WriteTrafficBlock(LogBlockOf(record)).ok());
    }
    EXPECT_TRUE(writer.Stop(start).ok());
    const std::string log = kem::testing::ReadBytes(folder.path() / "all.log");
    // Between the start line and the stop marker: "[S]..." and "[R]..." entries.
    const size_t from = log.find("]\r\n") + 3;
    const size_t to = log.find("\r\n[! \\StopTime");
    std::vector<std::pair<bool, std::string>> entries;
    for (size_t i = from; i < to;) {
        if (log.compare(i, 3, "[S]") == 0 || log.compare(i, 3, "[R]") == 0) {
            entries.emplace_back(log[i + 1] == 'R', std::string());
            i += 3;
        } else {
            entries.back().second.push_back(log[i++]);
        }
    }
    return entries;
}

TEST(FrameGap, AllTrafficLogFramesAsTheDisplayDoes) {
    std::mt19937 random(1012);
    int splits_by_gap = 0;
    for (int iteration = 0; iteration < 200; ++iteration) {
        std::vector<tagComExchangeData> records;
        int64_t t = 0;
        const int count = 1 + static_cast<int>(random() % 12);
        for (int i = 0; i < count; ++i) {
            t += random() % 40;
            std::string bytes(1 + random() % 4, 'a');
            for (char& c : bytes) {
                c = static_cast<char>('a' + random() % 26);
            }
            records.push_back(At(random() % 3 == 0 ? 0 : 1, bytes, t));
        }
        const uint32_t gap = static_cast<uint32_t>(random() % 30);
        const auto shown = DisplayEntries(records, gap);
        ASSERT_EQ(LogEntries(records, gap), shown) << "iteration " << iteration;
        splits_by_gap += shown.size() > DisplayEntries(records, 0).size() ? 1 : 0;
    }
    EXPECT_GT(splits_by_gap, 50) << "the random times must actually reach the gap";
}

}  // namespace
