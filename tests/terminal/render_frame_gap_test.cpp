// Merged blocks split into entries by silence (the frame gap), "%q" (the time since the previous
// entry) on queues with chosen times, and the all-traffic log framing as the display does.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "render_test_support.h"
#include "support/scratch_files.h"
#include "terminal/render.h"
#include "terminal/time_stamp.h"
#include "terminal/traffic_log.h"

namespace {

RenderOptions Framed(uint32_t gap_ms, std::u16string format = u"[%s]", bool extra_line = false) {
    return {.merge_continue = true,
            .ext_new_line = extra_line,
            .time_stamp = true,
            .time_stamp_format = std::move(format),
            .frame_gap_ms = gap_ms};
}

TEST(FrameGap, SplitsEntriesLiveAndReRenderedAlike) {
    // b comes 9 ms after a (below a gap of 10), c 10 ms after b (at), d 11 ms after c (above).
    const std::string abcd = "R:a@0|R:b@9|R:c@19|R:d@30";
    std::string steady = "R:a@0";  // 8 ms apart, far longer than the gap in all
    for (int i = 1; i < 20; ++i) {
        steady += "|R:" + std::string(1, static_cast<char>('a' + i)) + "@" + std::to_string(i * 8);
    }
    RenderOptions break_only = Framed(50, u"[%s]", true);
    break_only.time_stamp = false;
    RenderOptions unmerged = Framed(10, u"[%s]", true);
    unmerged.merge_continue = false;
    RenderOptions unmerged_no_gap = unmerged;
    unmerged_no_gap.frame_gap_ms = 0;
    const std::string unmerged_shown = "<R@>[000]<R>a<R@>[003]<R>b<R@>[050]<R>c<S@>[051]<S>d";
    const std::tuple<const char*, RenderOptions, std::string, std::string> rows[] = {
        {"below the gap joins, at and above it splits", Framed(10), abcd,
         "<R@>[000]<R>ab<R@>[019]<R>c<R@>[030]<R>d"},
        {"one millisecond more of gap joins b and c", Framed(11), abcd,
         "<R@>[000]<R>abc<R@>[030]<R>d"},
        {"gap 0 joins whatever the silence", Framed(0), "R:a@0|R:b@60000|R:c@3600000",
         "<R@>[000]<R>abc"},
        {"measured from the previous block, not the entry start", Framed(10), steady,
         "<R@>[000]<R>abcdefghijklmnopqrst"},
        {"a new entry gets the extra line break", Framed(50, u"[%s]", true),
         "R:ab@0|R:cd@20|R:ef@200", "<R@>[000]<R>abcd<R@>\\n[200]<R>ef"},
        {"without time stamps the split shows as the line break", break_only,
         "R:ab@0|R:cd@20|R:ef@200", "<R>abcd<R@>\\n<R>ef"},
        {"both directions interleaved", Framed(50),
         "S:Q1@0|R:R1@5|R:r1@40|R:R2@100|S:Q2@120|S:q2@169|S:Q3@219|R:R3@220",
         "<S@>[000]<S>Q1<R@>[005]<R>R1r1<R@>[100]<R>R2<S@>[120]<S>Q2q2<S@>[219]<S>Q3<R@>[220]<R>"
         "R3"},
        {"merge off: the gap changes nothing", unmerged, "R:a@0|R:b@3|R:c@50|S:d@51",
         unmerged_shown},
        {"merge off without a gap", unmerged_no_gap, "R:a@0|R:b@3|R:c@50|S:d@51", unmerged_shown},
        // The LF after the CR that ended the previous frame is dropped; the frame's own extra
        // line break separates the two.
        {"CR LF split by silence", Framed(50, u"[%s]", true), "R:A\r@0|R:\nB@100",
         "<R@>[000]<R>A\\n<R@>\\n[100]<R>B"},
    };
    for (const auto& [name, options, script, shown] : rows) {
        EXPECT_EQ(LiveAndRerendered(options, Records(script)), shown) << name;
    }
}

TEST(FrameGap, ChangingTheGapAndReRenderingReframesTheWholeQueue) {
    TrafficQueue queue;
    TrafficRenderer renderer(Framed(0));
    RenderLive(renderer, queue, Records("R:a@0|R:b@30|R:c@100"));
    EXPECT_EQ(Describe(RenderAtOnce(renderer, queue)), "<R@>[000]<R>abc");
    renderer.SetOptions(Framed(25));
    EXPECT_EQ(Describe(RenderAtOnce(renderer, queue)), "<R@>[000]<R>a<R@>[030]<R>b<R@>[100]<R>c");
}

TEST(ElapsedToken, CountsFromThePreviousShownEntryHeader) {
    // b continues a's entry; c is 125 ms after a's header, not after b; d twelve seconds later.
    const std::string abcd = "R:a@0|R:b@50|S:c@125|R:d@12125";
    RenderOptions unmerged = Framed(0, u"%q ");
    unmerged.merge_continue = false;
    const std::tuple<const char*, RenderOptions, std::string, std::string> rows[] = {
        {"merged", Framed(0, u"%q "), abcd, "<R@>+0.000 <R>ab<S@>+0.125 <S>c<R@>+12.000 <R>d"},
        {"entries split by the gap count too; %%q stays text", Framed(40, u"%q|%%q "), abcd,
         "<R@>+0.000|%q <R>a<R@>+0.050|%q <R>b<S@>+0.075|%q <S>c<R@>+12.000|%q <R>d"},
        {"unmerged: every block is an entry", unmerged, abcd,
         "<R@>+0.000 <R>a<R@>+0.050 <R>b<S@>+0.075 <S>c<R@>+12.000 <R>d"},
        // The sent LF completes the CR LF and shows nothing: no header, B counts from A.
        {"entries that show nothing are skipped", Framed(0, u"%q "), "R:A\r@0|S:\n@100|R:B@300",
         "<R@>+0.000 <R>A\\n<R@>+0.300 <R>B"},
        // b and c share a millisecond but not their elapsed times: the header cache must not
        // hand one's text to the other.
        {"same millisecond, different elapsed times", Framed(0, u"%q"),
         "R:a@0|S:b@1000|R:c@1000|S:d@2000",
         "<R@>+0.000<R>a<S@>+1.000<S>b<R@>+0.000<R>c<S@>+1.000<S>d"},
    };
    for (const auto& [name, options, script, shown] : rows) {
        EXPECT_EQ(LiveAndRerendered(options, Records(script)), shown) << name;
    }
}

TEST(ElapsedToken, TurningTimeStampsOnLaterShowsWhatTheLiveDisplayWouldHave) {
    RenderOptions off = Framed(0, u"%q ");
    off.time_stamp = false;
    TrafficQueue queue;
    TrafficRenderer renderer(off);
    RenderLive(renderer, queue, Records("R:a@0|S:b@250|R:c@1250"));
    renderer.SetOptions(Framed(0, u"%q "));
    EXPECT_EQ(Describe(RenderAtOnce(renderer, queue)),
              "<R@>+0.000 <R>a<S@>+0.250 <S>b<R@>+1.000 <R>c");
}

// The all-traffic log written with merging, no stamps and `gap_ms`, its "[R]"/"[S]" entries in
// Describe form with "#" headers.
std::string LogEntries(const std::vector<tagComExchangeData>& records, uint32_t gap_ms) {
    kem::testing::TempFolder folder;
    TrafficLogOptions options;
    options.path = folder.path16();
    options.title = u"t";
    options.all_name = u"all.log";
    options.save_all = true;
    options.all_time_stamp = false;
    options.all_merge_continue = true;
    TrafficLogWriter writer;
    const kem::platform::LocalTime start{.year = 2026, .month = 3, .day = 14};
    EXPECT_TRUE(writer.Start(options, u"", start).ok());
    writer.SetFrameGap(gap_ms);
    for (const tagComExchangeData& record : records) {
        EXPECT_TRUE(writer.WriteTrafficBlock(LogBlockOf(record)).ok());
    }
    EXPECT_TRUE(writer.Stop(start).ok());
    const std::string log = kem::testing::ReadBytes(folder.path() / "all.log");
    // Between the start line and the stop marker.
    const size_t to = log.find("\r\n[! \\StopTime");
    std::string entries;
    for (size_t i = log.find("]\r\n") + 3; i < to; ++i) {
        if (log.compare(i, 3, "[R]") == 0 || log.compare(i, 3, "[S]") == 0) {
            entries += log[i + 1] == 'R' ? "<R@>#<R>" : "<S@>#<S>";
            i += 2;
        } else {
            entries += log[i];
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
        for (int i = 1 + static_cast<int>(random() % 12); i > 0; --i) {
            t += random() % 40;
            std::string bytes(1 + random() % 4, 'a');
            for (char& c : bytes) {
                c = static_cast<char>('a' + random() % 26);
            }
            records.push_back(At(random() % 3 == 0 ? 0 : 1, bytes, t));
        }
        const uint32_t gap = static_cast<uint32_t>(random() % 30);
        const std::string shown = LiveAndRerendered(Framed(gap, u"#"), records);
        ASSERT_EQ(LogEntries(records, gap), shown) << "iteration " << iteration;
        const std::string joined = LiveAndRerendered(Framed(0, u"#"), records);
        splits_by_gap += std::count(shown.begin(), shown.end(), '#') >
                         std::count(joined.begin(), joined.end(), '#');
    }
    EXPECT_GT(splits_by_gap, 50) << "the random times must actually reach the gap";
}

}  // namespace
