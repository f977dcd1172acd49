// Rendering block by block must show what a full re-render of the same queue shows, for
// random blocks and options.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "platform/code_page.h"
#include "render_test_support.h"
#include "terminal/ctrl_char_table.h"
#include "terminal/render.h"
#include "terminal/time_stamp.h"

namespace {

// Bytes that exercise every rule: line ends, named controls, space, DEL, lead and trail
// bytes of double-byte characters, and the single bytes 80 and FF.
const uint8_t kInteresting[] = {'A',  'z',  '\r', '\n', 0x00, 0x01, 0x1B, 0x20, 0x7F,
                                0xD1, 0xDD, 0xC4, 0xE3, 0x81, 0x40, 0x80, 0xFF};

const char16_t* const kTemplates[] = {u"[%H:%M:%S.%s]", u"%s", u"", u"%%s|%Q", u"<%M>\r\n"};

struct Case {
    RenderOptions options;
    std::vector<tagComExchangeData> blocks;
};

Case RandomCase(std::mt19937& random) {
    Case c;
    auto coin = [&] { return (random() & 1) != 0; };
    c.options.merge_continue = coin();
    c.options.ext_new_line = coin();
    c.options.show_hex = random() % 4 == 0;
    c.options.time_stamp = coin();
    c.options.chinese_adjust = coin();
    c.options.time_stamp_format = kTemplates[random() % std::size(kTemplates)];
    for (int toggles = random() % 4; toggles > 0; --toggles) {
        const uint8_t b = kInteresting[random() % std::size(kInteresting)];
        c.options.show_by_name[b] = !c.options.show_by_name[b];
    }
    const int count = 1 + static_cast<int>(random() % 10);
    for (int i = 0; i < count; ++i) {
        std::string bytes;
        const int length = 1 + static_cast<int>(random() % 8);
        for (int j = 0; j < length; ++j) {
            bytes.push_back(
                random() % 5 == 0
                    ? static_cast<char>(random() & 0xFF)
                    : static_cast<char>(kInteresting[random() % std::size(kInteresting)]));
        }
        c.blocks.push_back(
            MakeRecord(random() % 3 == 0 ? 0 : 1, bytes, static_cast<int>(random() % 1000)));
    }
    return c;
}

std::string DescribeCase(const Case& c) {
    std::string out = "merge=" + std::to_string(c.options.merge_continue) +
                      " ext=" + std::to_string(c.options.ext_new_line) +
                      " hex=" + std::to_string(c.options.show_hex) +
                      " stamp=" + std::to_string(c.options.time_stamp) +
                      " chinese=" + std::to_string(c.options.chinese_adjust) + " blocks:";
    for (const tagComExchangeData& block : c.blocks) {
        out += block.direction != 0 ? " R[" : " S[";
        for (const uint8_t b : block.data) {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%02X", b);
            out += hex;
        }
        out += "]";
    }
    return out;
}

TEST(RenderProperty, BlockByBlockShowsWhatAFullReRenderShows) {
    std::mt19937 random(20261207);
    int with_breaks = 0;
    int with_held = 0;
    for (int iteration = 0; iteration < 4000; ++iteration) {
        const Case c = RandomCase(random);
        TrafficQueue queue;
        TrafficRenderer incremental(c.options);
        ShownText shown_incrementally;
        for (const tagComExchangeData& block : c.blocks) {
            ASSERT_EQ(queue.AddRecord(block, TrafficTrimLimit{}), AddTrafficResult::kQueued);
            RunList runs;
            incremental.RenderRecord(queue.At(queue.Count() - 1), runs);
            shown_incrementally.Append(runs);
        }
        TrafficRenderer full(c.options);
        RunList all;
        full.RenderQueue(queue, all);
        ShownText shown_at_once;
        shown_at_once.Append(all);
        ASSERT_EQ(shown_incrementally.Runs(), shown_at_once.Runs())
            << "iteration " << iteration << ": " << DescribeCase(c)
            << "\nincremental: " << Describe(shown_incrementally.Runs())
            << "\nre-rendered: " << Describe(shown_at_once.Runs());
        ASSERT_EQ(incremental.held(), full.held()) << "iteration " << iteration;
        // Rendering the queue a second time through a renderer that has already been used
        // must not carry anything over.
        RunList again;
        incremental.RenderQueue(queue, again);
        ShownText shown_again;
        shown_again.Append(again);
        ASSERT_EQ(shown_again.Runs(), shown_at_once.Runs()) << "iteration " << iteration;
        with_breaks += shown_at_once.Text().find(u'\n') != std::u16string::npos ? 1 : 0;
        with_held += full.held().empty() ? 0 : 1;
    }
    // The generator must actually reach the cases the property is about.
    EXPECT_GT(with_breaks, 1000);
    EXPECT_GT(with_held, 50);
}

TEST(RenderProperty, HeldBytesNeverExceedOneAndStartOnABoundary) {
    std::mt19937 random(77);
    for (int iteration = 0; iteration < 3000; ++iteration) {
        Case c = RandomCase(random);
        c.options.chinese_adjust = true;
        c.options.show_hex = false;
        TrafficRenderer renderer(c.options);
        for (const tagComExchangeData& block : c.blocks) {
            RunList runs;
            renderer.RenderRecord(block, runs);
            ASSERT_LE(renderer.held().size(), 1u) << DescribeCase(c);
            if (!renderer.held().empty()) {
                const auto lead = static_cast<uint8_t>(renderer.held()[0]);
                ASSERT_TRUE(lead >= 0x81 && lead <= 0xFE) << DescribeCase(c);
            }
        }
    }
}

// The joining rules written the other way round, straight from their description: a group of
// records of one direction is gathered first and shown as one text, with the LF rule applied
// to the record before the group. Without double-byte characters and the Chinese adjustment,
// joining bytes before or after conversion cannot differ, so both must show the same.
// With merging, `next` belongs to the group of `previous`: the same direction and, with a
// frame gap, less than the gap after it.
bool Joins(const tagComExchangeData& previous, const tagComExchangeData& next,
           const RenderOptions& options) {
    return IsReceived(previous) == IsReceived(next) &&
           (options.frame_gap_ms == 0 ||
            TimeStampInstantMs(next.time) - TimeStampInstantMs(previous.time) <
                int64_t{options.frame_gap_ms});
}

RunList GatherThenRender(const TrafficQueue& queue, const RenderOptions& options) {
    RunList out;
    const size_t n = queue.Count();
    bool any_shown = false;  // for "%q": the start of the last group that showed something
    int64_t shown_ms = 0;
    for (size_t i = 0; i < n; ++i) {
        const tagComExchangeData& first = queue.At(i);
        const bool received = IsReceived(first);
        const size_t start = i;
        bool continuation = false;
        bool extra = false;
        std::string bytes(first.data.begin(), first.data.end());
        if (options.merge_continue) {
            continuation = i >= 1 && Joins(queue.At(i - 1), queue.At(i), options);
            extra = !continuation && options.ext_new_line && i > 0;
            while (i + 1 < n && Joins(queue.At(i), queue.At(i + 1), options)) {
                ++i;
                bytes.append(queue.At(i).data.begin(), queue.At(i).data.end());
            }
        }
        if (options.show_hex) {
            std::string hex;
            for (const char c : bytes) {
                char digits[4];
                std::snprintf(digits, sizeof digits, "%02X ", static_cast<unsigned char>(c));
                hex += digits;
            }
            bytes = hex;
        } else if (!bytes.empty() && bytes[0] == '\n' && start > 0 &&
                   queue.At(start - 1).data.back() == '\r') {
            bytes.erase(0, 1);
        }
        if (bytes.empty()) {
            continue;
        }
        if (extra) {
            out.Append(u"\r\n",
                       received ? DisplayStyle::kReceivedTimeStamp : DisplayStyle::kSentTimeStamp);
        }
        const int64_t first_ms = TimeStampInstantMs(first.time);
        const int64_t elapsed = any_shown ? first_ms - shown_ms : 0;
        if (!continuation) {
            any_shown = true;
            shown_ms = first_ms;
        }
        if (options.time_stamp && !continuation) {
            out.Append(FormatTimeStampHeader(first.time, options.time_stamp_format, elapsed),
                       received ? DisplayStyle::kReceivedTimeStamp : DisplayStyle::kSentTimeStamp);
        }
        std::string plain;
        auto flush = [&] {
            out.Append(kem::platform::AnsiToWide(plain),
                       received ? DisplayStyle::kReceivedNormal : DisplayStyle::kSentNormal);
            plain.clear();
        };
        for (const char c : bytes) {
            const std::optional<int> row = FindCtrlCharByCode(static_cast<uint8_t>(c));
            if (static_cast<signed char>(c) >= 0 && row &&
                options.show_by_name[static_cast<uint8_t>(c)]) {
                flush();
                std::u16string name(1, options.name_open);
                name += CtrlCharTable()[*row].Name;
                name += options.name_close;
                out.Append(name,
                           received ? DisplayStyle::kReceivedControl : DisplayStyle::kSentControl);
            } else {
                plain.push_back(c);
            }
        }
        flush();
    }
    return out;
}

TEST(RenderProperty, IncrementalRenderingShowsWhatGatheringGroupsFirstShows) {
    std::mt19937 random(4242);
    int joined = 0;
    for (int iteration = 0; iteration < 3000; ++iteration) {
        Case c = RandomCase(random);
        c.options.chinese_adjust = false;
        TrafficQueue queue;
        TrafficRenderer renderer(c.options);
        ShownText shown;
        for (tagComExchangeData& block : c.blocks) {
            // Lead bytes would be cut differently by the two ways; 80 and FF are single bytes.
            for (uint8_t& b : block.data) {
                if (b >= 0x81 && b <= 0xFE) {
                    b = static_cast<uint8_t>(b & 0x7F);
                }
            }
            queue.AddRecord(block, TrafficTrimLimit{});
            RunList runs;
            renderer.RenderRecord(queue.At(queue.Count() - 1), runs);
            shown.Append(runs);
        }
        ShownText reference;
        reference.Append(GatherThenRender(queue, c.options));
        ASSERT_EQ(shown.Runs(), reference.Runs())
            << "iteration " << iteration << ": " << DescribeCase(c)
            << "\nincremental: " << Describe(shown.Runs())
            << "\ngathered:    " << Describe(reference.Runs());
        joined += c.options.merge_continue && queue.Count() > 1 ? 1 : 0;
    }
    EXPECT_GT(joined, 1000);
}

// ---- Frames split by silence and "%q" ----

const char16_t* const kElapsedTemplates[] = {u"%q", u"[%S.%s %q]", u"%%q|%q|%s", u"%%q"};

// A random case whose records come 0..24 ms apart (sometimes a second), with a random frame
// gap (0 half the time) and, half the time, a template with "%q".
Case RandomFramedCase(std::mt19937& random) {
    Case c = RandomCase(random);
    static constexpr uint32_t kGaps[] = {0, 0, 0, 1, 5, 10, 20};
    c.options.frame_gap_ms = kGaps[random() % std::size(kGaps)];
    if (random() % 2 == 0) {
        c.options.time_stamp_format = kElapsedTemplates[random() % std::size(kElapsedTemplates)];
    }
    int64_t t = 1773479103000;
    for (tagComExchangeData& block : c.blocks) {
        t += random() % 8 == 0 ? 1000 : random() % 25;
        block.time.unix_seconds = t / 1000;
        block.time.millisecond = static_cast<int>(t % 1000);
        block.time.second = static_cast<int>(t / 1000 % 60);
    }
    return c;
}

std::string DescribeFramed(const Case& c) {
    std::string out = DescribeCase(c) + " gap=" + std::to_string(c.options.frame_gap_ms) + " at:";
    for (const tagComExchangeData& block : c.blocks) {
        out += " " + std::to_string(TimeStampInstantMs(block.time) % 100000);
    }
    return out;
}

std::vector<StyledRun> RenderIncrementally(const Case& c, TrafficQueue& queue) {
    TrafficRenderer renderer(c.options);
    ShownText shown;
    for (const tagComExchangeData& block : c.blocks) {
        queue.AddRecord(block, TrafficTrimLimit{});
        RunList runs;
        renderer.RenderRecord(queue.At(queue.Count() - 1), runs);
        shown.Append(runs);
    }
    return shown.Runs();
}

TEST(RenderProperty, FramedBlockByBlockShowsWhatAFullReRenderShows) {
    std::mt19937 random(1007);
    int framed = 0;
    for (int iteration = 0; iteration < 4000; ++iteration) {
        const Case c = RandomFramedCase(random);
        TrafficQueue queue;
        const std::vector<StyledRun> live = RenderIncrementally(c, queue);
        TrafficRenderer full(c.options);
        RunList all;
        full.RenderQueue(queue, all);
        ShownText shown_at_once;
        shown_at_once.Append(all);
        ASSERT_EQ(live, shown_at_once.Runs())
            << "iteration " << iteration << ": " << DescribeFramed(c)
            << "\nincremental: " << Describe(live)
            << "\nre-rendered: " << Describe(shown_at_once.Runs());
        framed += c.options.frame_gap_ms != 0 && c.options.merge_continue ? 1 : 0;
    }
    EXPECT_GT(framed, 800);
}

TEST(RenderProperty, FramedIncrementalRenderingShowsWhatGatheringFramesFirstShows) {
    std::mt19937 random(2026);
    int with_elapsed = 0;
    for (int iteration = 0; iteration < 4000; ++iteration) {
        Case c = RandomFramedCase(random);
        c.options.chinese_adjust = false;
        for (tagComExchangeData& block : c.blocks) {
            for (uint8_t& b : block.data) {
                if (b >= 0x81 && b <= 0xFE) {
                    b = static_cast<uint8_t>(b & 0x7F);
                }
            }
        }
        TrafficQueue queue;
        const std::vector<StyledRun> live = RenderIncrementally(c, queue);
        ShownText reference;
        reference.Append(GatherThenRender(queue, c.options));
        ASSERT_EQ(live, reference.Runs()) << "iteration " << iteration << ": " << DescribeFramed(c)
                                          << "\nincremental: " << Describe(live)
                                          << "\ngathered:    " << Describe(reference.Runs());
        with_elapsed += c.options.time_stamp && TemplateUsesElapsed(c.options.time_stamp_format);
    }
    EXPECT_GT(with_elapsed, 500);
}

// Gap 0 must be today's rendering whatever the times; a gap longer than every silence must
// change nothing either.
TEST(RenderProperty, GapZeroOrLongerThanEverySilenceRendersAsWithoutTheOption) {
    std::mt19937 random(31);
    for (int iteration = 0; iteration < 3000; ++iteration) {
        Case c = RandomFramedCase(random);
        c.options.time_stamp_format = kTemplates[random() % std::size(kTemplates)];
        Case without = c;
        without.options = RenderOptions();
        without.options.merge_continue = c.options.merge_continue;
        without.options.ext_new_line = c.options.ext_new_line;
        without.options.show_hex = c.options.show_hex;
        without.options.time_stamp = c.options.time_stamp;
        without.options.chinese_adjust = c.options.chinese_adjust;
        without.options.time_stamp_format = c.options.time_stamp_format;
        without.options.show_by_name = c.options.show_by_name;
        TrafficQueue queue_without;
        const std::vector<StyledRun> expected = RenderIncrementally(without, queue_without);
        for (const uint32_t gap : {0u, 1001u}) {
            c.options.frame_gap_ms = gap;
            TrafficQueue queue;
            ASSERT_EQ(RenderIncrementally(c, queue), expected)
                << "iteration " << iteration << " gap " << gap << ": " << DescribeFramed(c);
        }
    }
}

}  // namespace
