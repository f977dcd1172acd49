// What rendering produces: runs of UTF-16 text, each in one of the six display styles. The
// display only appends runs; every decision about their content is made before.
#pragma once

#include <string>
#include <string_view>
#include <vector>

enum class DisplayStyle : int {
    kReceivedNormal = 0,
    kReceivedControl = 1,
    kReceivedTimeStamp = 2,
    kSentNormal = 3,
    kSentControl = 4,
    kSentTimeStamp = 5,
};

constexpr int kDisplayStyleCount = 6;

struct StyledRun {
    std::u16string text;
    DisplayStyle style = DisplayStyle::kReceivedNormal;

    bool operator==(const StyledRun&) const = default;
};

// An ordered list of runs. Appending text in the style of the last run extends that run, so
// a block of plain text stays one run however it was put together.
class RunList {
public:
    // Appends `text` in `style`; empty text adds nothing. Single thread.
    void Append(std::u16string_view text, DisplayStyle style) {
        if (text.empty()) {
            return;
        }
        if (!runs_.empty() && runs_.back().style == style) {
            runs_.back().text.append(text);
        } else {
            runs_.push_back(StyledRun{std::u16string(text), style});
        }
    }

    // Room for `units` more units at the end of the last run, when it has `style`; else a new
    // empty run in that style. Returns the run to append to. Single thread.
    std::u16string& Tail(DisplayStyle style) {
        if (runs_.empty() || runs_.back().style != style) {
            runs_.push_back(StyledRun{std::u16string(), style});
        }
        return runs_.back().text;
    }

    const std::vector<StyledRun>& runs() const { return runs_; }
    bool empty() const { return runs_.empty(); }
    void clear() { runs_.clear(); }

    // Removes a trailing run left empty by Tail. Single thread.
    void DropEmptyTail() {
        if (!runs_.empty() && runs_.back().text.empty()) {
            runs_.pop_back();
        }
    }

private:
    std::vector<StyledRun> runs_;
};
