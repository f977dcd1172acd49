// Property tests of the renderer on random blocks, options and times: live rendering equals a
// full re-render and an independent gather-then-render reference.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "platform/code_page.h"
#include "render_test_support.h"
#include "support/hex_text.h"
#include "terminal/ctrl_char_table.h"
#include "terminal/render.h"
#include "terminal/time_stamp.h"

namespace {

// Bytes that exercise every rule: line ends, named controls, space, DEL, lead and trail
// bytes of double-byte characters, and the single bytes 80 and FF.
const uint8_t kInteresting[] = {'A',  'z',  '\r', '\n', 0x00, 0x01, 0x1B, 0x20, 0x7F,
                                0xD1, 0xDD, 0xC4, 0xE3, 0x81, 0x40, 0x80, 0xFF};

const char16_t* const kTemplates[] = {u"[%H:%M:%S.%s]", u"%s",        u"",
                                      u"%%s|%Q",        u"<%M>\r\n",  u"%q",
                                      u"[%S.%s %q]",    u"%%q|%q|%s", u"%%q"};

struct Case {
    RenderOptions options;
    std::vector<tagComExchangeData> blocks;

    std::string Describe() const {
        const RenderOptions& o = options;
        std::string out = "merge/ext/hex/stamp/chinese " + std::to_string(o.merge_continue) +
                          std::to_string(o.ext_new_line) + std::to_string(o.show_hex) +
                          std::to_string(o.time_stamp) + std::to_string(o.chinese_adjust) +
                          " gap " + std::to_string(o.frame_gap_ms) + " blocks:";
        for (const tagComExchangeData& block : blocks) {
            out += (block.direction != 0 ? " R@" : " S@") +
                   std::to_string(TimeStampInstantMs(block.time) % 100000) + "[" +
                   kem::testing::HexText(std::string(block.data.begin(), block.data.end())) + "]";
        }
        return out;
    }
};

// Random options (a frame gap of 0 three times in seven) and 1..10 blocks of 1..8 bytes coming
// 0..24 ms apart, sometimes a second. `single_bytes` drops lead bytes, which gathering before
// conversion would cut differently (80 and FF are single bytes).
Case RandomCase(std::mt19937& random, bool single_bytes = false) {
    static constexpr uint32_t kGaps[] = {0, 0, 0, 1, 5, 10, 20};
    Case c;
    auto coin = [&] { return (random() & 1) != 0; };
    c.options.merge_continue = coin();
    c.options.ext_new_line = coin();
    c.options.show_hex = random() % 4 == 0;
    c.options.time_stamp = coin();
    c.options.chinese_adjust = coin();
    c.options.time_stamp_format = kTemplates[random() % std::size(kTemplates)];
    c.options.frame_gap_ms = kGaps[random() % std::size(kGaps)];
    for (int toggles = random() % 4; toggles > 0; --toggles) {
        const uint8_t b = kInteresting[random() % std::size(kInteresting)];
        c.options.show_by_name[b] = !c.options.show_by_name[b];
    }
    int64_t t = 0;
    for (int i = 1 + static_cast<int>(random() % 10); i > 0; --i) {
        std::string bytes;
        for (int j = 1 + static_cast<int>(random() % 8); j > 0; --j) {
            uint8_t b = random() % 5 == 0 ? static_cast<uint8_t>(random() & 0xFF)
                                          : kInteresting[random() % std::size(kInteresting)];
            if (single_bytes && b >= 0x81 && b <= 0xFE) {
                b &= 0x7F;
            }
            bytes.push_back(static_cast<char>(b));
        }
        t += random() % 8 == 0 ? 1000 : random() % 25;
        c.blocks.push_back(At(random() % 3 == 0 ? 0 : 1, bytes, t));
    }
    return c;
}

TEST(RenderProperty, LiveRenderingShowsWhatAFullReRenderShows) {
    std::mt19937 random(20261207);
    int with_breaks = 0;
    int with_held = 0;
    int framed = 0;
    for (int iteration = 0; iteration < 6000; ++iteration) {
        const Case c = RandomCase(random);
        TrafficQueue queue;
        TrafficRenderer live(c.options);
        ShownText shown;
        for (const tagComExchangeData& block : c.blocks) {
            ASSERT_EQ(queue.AddRecord(block, TrafficTrimLimit{}), AddTrafficResult::kQueued);
            RunList runs;
            live.RenderRecord(queue.At(queue.Count() - 1), runs);
            shown.Append(runs);
            // The Chinese adjustment holds back at most one byte, and only a lead byte.
            ASSERT_LE(live.held().size(), 1u) << c.Describe();
            if (!live.held().empty()) {
                const auto lead = static_cast<uint8_t>(live.held()[0]);
                ASSERT_TRUE(lead >= 0x81 && lead <= 0xFE) << c.Describe();
            }
        }
        TrafficRenderer full(c.options);
        const std::string at_once = Describe(RenderAtOnce(full, queue));
        ASSERT_EQ(Describe(shown.Runs()), at_once)
            << "iteration " << iteration << ": " << c.Describe();
        ASSERT_EQ(live.held(), full.held()) << "iteration " << iteration;
        // A renderer that has been used carries nothing over into a re-render.
        ASSERT_EQ(Describe(RenderAtOnce(live, queue)), at_once) << "iteration " << iteration;
        // A gap longer than every silence (1000 ms at most) renders as no gap at all.
        if (c.options.frame_gap_ms == 0) {
            RenderOptions longer = c.options;
            longer.frame_gap_ms = 1001;
            TrafficRenderer renderer(longer);
            ASSERT_EQ(Describe(RenderAtOnce(renderer, queue)), at_once) << c.Describe();
        }
        with_breaks += at_once.find("\\n") != std::string::npos;
        with_held += !full.held().empty();
        framed += c.options.frame_gap_ms != 0 && c.options.merge_continue;
    }
    // The generator must actually reach the cases the property is about.
    EXPECT_GT(with_breaks, 3000);
    EXPECT_GT(with_held, 350);
    EXPECT_GT(framed, 1300);
}

DisplayStyle StyleOf(bool received, DisplayStyle sent_style) {
    return static_cast<DisplayStyle>(static_cast<int>(sent_style) - (received ? 3 : 0));
}

// The joining rules written the other way round: a group of records of one direction (and, with
// a frame gap, each less than the gap after the one before) is gathered first and shown as one
// text, with the LF rule applied to the record before the group. Without double-byte
// characters and the Chinese adjustment, joining bytes before or after conversion cannot differ.
bool Joins(const tagComExchangeData& previous, const tagComExchangeData& next,
           const RenderOptions& options) {
    return IsReceived(previous) == IsReceived(next) &&
           (options.frame_gap_ms == 0 ||
            TimeStampInstantMs(next.time) - TimeStampInstantMs(previous.time) <
                int64_t{options.frame_gap_ms});
}

RunList GatherThenRender(const TrafficQueue& queue, const RenderOptions& options) {
    RunList out;
    bool any_shown = false;  // for "%q": the start of the last group that showed something
    int64_t shown_ms = 0;
    for (size_t i = 0; i < queue.Count(); ++i) {
        const tagComExchangeData& first = queue.At(i);
        const bool received = IsReceived(first);
        const size_t start = i;
        bool continuation = false;
        bool extra = false;
        std::string bytes(first.data.begin(), first.data.end());
        if (options.merge_continue) {
            continuation = i >= 1 && Joins(queue.At(i - 1), queue.At(i), options);
            extra = !continuation && options.ext_new_line && i > 0;
            while (i + 1 < queue.Count() && Joins(queue.At(i), queue.At(i + 1), options)) {
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
            out.Append(u"\r\n", StyleOf(received, DisplayStyle::kSentTimeStamp));
        }
        const int64_t first_ms = TimeStampInstantMs(first.time);
        const int64_t elapsed = any_shown ? first_ms - shown_ms : 0;
        if (!continuation) {
            any_shown = true;
            shown_ms = first_ms;
            if (options.time_stamp) {
                out.Append(FormatTimeStampHeader(first.time, options.time_stamp_format, elapsed),
                           StyleOf(received, DisplayStyle::kSentTimeStamp));
            }
        }
        std::string plain;
        auto flush = [&] {
            out.Append(kem::platform::AnsiToWide(plain),
                       StyleOf(received, DisplayStyle::kSentNormal));
            plain.clear();
        };
        for (const char c : bytes) {
            const auto byte = static_cast<uint8_t>(c);
            const std::optional<int> row = FindCtrlCharByCode(byte);
            if (byte < 0x80 && row && options.show_by_name[byte]) {
                flush();
                out.Append(options.name_open + std::u16string(CtrlCharTable()[*row].Name) +
                               options.name_close,
                           StyleOf(received, DisplayStyle::kSentControl));
            } else {
                plain.push_back(c);
            }
        }
        flush();
    }
    return out;
}

TEST(RenderProperty, LiveRenderingShowsWhatGatheringGroupsFirstShows) {
    std::mt19937 random(4242);
    int joined = 0;
    int with_elapsed = 0;
    for (int iteration = 0; iteration < 6000; ++iteration) {
        Case c = RandomCase(random, true);
        c.options.chinese_adjust = false;
        TrafficQueue queue;
        TrafficRenderer renderer(c.options);
        const std::string live = Describe(RenderLive(renderer, queue, c.blocks));
        ShownText reference;
        reference.Append(GatherThenRender(queue, c.options));
        ASSERT_EQ(live, Describe(reference.Runs()))
            << "iteration " << iteration << ": " << c.Describe();
        joined += c.options.merge_continue && queue.Count() > 1;
        with_elapsed += c.options.time_stamp && TemplateUsesElapsed(c.options.time_stamp_format);
    }
    EXPECT_GT(joined, 2000);
    EXPECT_GT(with_elapsed, 650);
}

}  // namespace
