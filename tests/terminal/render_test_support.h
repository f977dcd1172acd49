// A model of what the receive display shows after a series of appends: line breaks are
// folded the way the display folds them (CR LF, a lone CR and a lone LF are each one break,
// also when the CR ends one append and the LF starts the next), runs of one style joined.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

#include "platform/local_time.h"
#include "terminal/display_run.h"
#include "terminal/traffic_queue.h"

class ShownText {
public:
    void Append(const RunList& runs) {
        for (const StyledRun& run : runs.runs()) {
            for (const char16_t c : run.text) {
                Put(c, run.style);
            }
        }
    }

    // What is shown, breaks as "\n", runs of one style joined.
    std::vector<StyledRun> Runs() const {
        std::vector<StyledRun> runs;
        for (const auto& [c, style] : cells_) {
            if (runs.empty() || runs.back().style != style) {
                runs.push_back(StyledRun{std::u16string(), style});
            }
            runs.back().text.push_back(c);
        }
        return runs;
    }

    // The characters alone.
    std::u16string Text() const {
        std::u16string text;
        for (const auto& cell : cells_) {
            text.push_back(cell.first);
        }
        return text;
    }

private:
    void Put(char16_t c, DisplayStyle style) {
        const bool after_cr = last_was_cr_;
        last_was_cr_ = c == u'\r';
        if (c == u'\n' && after_cr) {
            return;
        }
        cells_.emplace_back(c == u'\r' ? u'\n' : c, style);
    }

    std::vector<std::pair<char16_t, DisplayStyle>> cells_;
    bool last_was_cr_ = false;
};

// Readable failure output for a run.
inline void PrintTo(const StyledRun& run, std::ostream* out);

// A record with fixed time 2026-03-14 09:05:03.007 unless given.
inline tagComExchangeData MakeRecord(int32_t direction, std::string bytes, int millisecond = 7) {
    tagComExchangeData record;
    record.direction = direction;
    record.time.year = 2026;
    record.time.month = 3;
    record.time.day = 14;
    record.time.hour = 9;
    record.time.minute = 5;
    record.time.second = 3;
    record.time.millisecond = millisecond;
    record.time.day_of_week = 6;
    record.data.assign(bytes.begin(), bytes.end());
    return record;
}

// Readable form of runs for failure messages: each run as <style>text with breaks escaped.
inline std::string Describe(const std::vector<StyledRun>& runs) {
    std::string out;
    for (const StyledRun& run : runs) {
        out += "<" + std::to_string(static_cast<int>(run.style)) + ">";
        for (const char16_t c : run.text) {
            if (c == u'\n') {
                out += "\\n";
            } else if (c == u'\r') {
                out += "\\r";
            } else if (c >= 0x20 && c < 0x7F) {
                out.push_back(static_cast<char>(c));
            } else {
                char hex[12];
                std::snprintf(hex, sizeof hex, "\\u%04X", static_cast<unsigned>(c));
                out += hex;
            }
        }
    }
    return out;
}

inline void PrintTo(const StyledRun& run, std::ostream* out) {
    *out << Describe({run});
}
