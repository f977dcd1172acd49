// Shared by the render tests: a model of what the receive display shows, records at chosen
// times, live (record by record) and whole-queue rendering, and a compact text form of runs.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "terminal/display_run.h"
#include "terminal/render.h"
#include "terminal/traffic_queue.h"

// The display's line-break folding, written independently: CR LF, a lone CR and a lone LF are
// each one "\n", also when the CR ends one append and the LF starts the next; runs of one
// style are joined.
class ShownText {
public:
    void Append(const RunList& runs) {
        for (const StyledRun& run : runs.runs()) {
            for (const char16_t c : run.text) {
                const bool lf_after_cr = c == u'\n' && last_was_cr_;
                last_was_cr_ = c == u'\r';
                if (lf_after_cr) {
                    continue;
                }
                if (runs_.empty() || runs_.back().style != run.style) {
                    runs_.push_back(StyledRun{std::u16string(), run.style});
                }
                runs_.back().text.push_back(c == u'\r' ? u'\n' : c);
            }
        }
    }
    const std::vector<StyledRun>& Runs() const { return runs_; }

private:
    std::vector<StyledRun> runs_;
    bool last_was_cr_ = false;
};

// A record `offset_ms` after 2026-03-14 09:05:03.000 UTC (within the day); the wall-clock
// fields are kept in step by hand so the headers do not depend on the machine's time zone.
inline tagComExchangeData At(int32_t direction, std::string bytes, int64_t offset_ms) {
    const int64_t s = 9 * 3600 + 5 * 60 + 3 + offset_ms / 1000;
    return {direction,
            {2026, 3, 14, static_cast<int>(s / 3600), static_cast<int>(s / 60 % 60),
             static_cast<int>(s % 60), static_cast<int>(offset_ms % 1000), 6,
             1773479103 + offset_ms / 1000},
            {bytes.begin(), bytes.end()}};
}

// Records from a script "R:bytes@ms|S:bytes|...": received or sent, `ms` after 09:05:03.000,
// by default the record's position (1, 2, ...).
inline std::vector<tagComExchangeData> Records(std::string_view script) {
    std::vector<tagComExchangeData> records;
    for (size_t start = 0; start < script.size();) {
        const size_t end = std::min(script.find('|', start), script.size());
        std::string_view item = script.substr(start, end - start);
        int64_t ms = static_cast<int64_t>(records.size()) + 1;
        if (const size_t at = item.rfind('@'); at != std::string_view::npos) {
            ms = std::stoll(std::string(item.substr(at + 1)));
            item = item.substr(0, at);
        }
        records.push_back(At(item[0] == 'R' ? 1 : 0, std::string(item.substr(2)), ms));
        start = end + 1;
    }
    return records;
}

// Runs as one string: each run starts with its style tag (<R> <R#> <R@> received text, name,
// time stamp; <S> <S#> <S@> the same sent), CR and LF as \r \n, anything else outside
// printable ASCII, '<' and '\' as \uXXXX, so equal strings mean equal runs.
inline std::string Describe(const std::vector<StyledRun>& runs) {
    static const char* const kTags[] = {"<R>", "<R#>", "<R@>", "<S>", "<S#>", "<S@>"};
    std::string out;
    for (const StyledRun& run : runs) {
        out += kTags[static_cast<int>(run.style)];
        for (const char16_t c : run.text) {
            if (c == u'\n' || c == u'\r') {
                out += c == u'\n' ? "\\n" : "\\r";
            } else if (c >= 0x20 && c < 0x7F && c != u'<' && c != u'\\') {
                out.push_back(static_cast<char>(c));
            } else {
                char hex[8];
                std::snprintf(hex, sizeof hex, "\\u%04X", static_cast<unsigned>(c));
                out += hex;
            }
        }
    }
    return out;
}
inline std::string Describe(const RunList& runs) {
    return Describe(runs.runs());
}

// Queues `records` and renders them one by one through `renderer`, as the live display does;
// returns what is shown.
inline std::vector<StyledRun> RenderLive(TrafficRenderer& renderer, TrafficQueue& queue,
                                         const std::vector<tagComExchangeData>& records) {
    ShownText shown;
    for (const tagComExchangeData& record : records) {
        EXPECT_EQ(queue.AddRecord(record, TrafficTrimLimit{}), AddTrafficResult::kQueued);
        RunList runs;
        renderer.RenderRecord(queue.At(queue.Count() - 1), runs);
        shown.Append(runs);
    }
    return shown.Runs();
}

// What `renderer` shows for the whole queue rendered anew.
inline std::vector<StyledRun> RenderAtOnce(TrafficRenderer& renderer, const TrafficQueue& queue) {
    RunList runs;
    renderer.RenderQueue(queue, runs);
    ShownText shown;
    shown.Append(runs);
    return shown.Runs();
}

// Renders live and anew through a fresh renderer; both must show the same, which is returned
// in Describe form.
inline std::string LiveAndRerendered(const RenderOptions& options,
                                     const std::vector<tagComExchangeData>& records) {
    TrafficQueue queue;
    TrafficRenderer live(options);
    TrafficRenderer again(options);
    const std::string shown = Describe(RenderLive(live, queue, records));
    EXPECT_EQ(shown, Describe(RenderAtOnce(again, queue))) << "re-render differs from live";
    return shown;
}
