#include "terminal/display_model.h"

#include <algorithm>

#include "platform/code_page.h"
#include "terminal/rtf_writer.h"

namespace {

bool IsHighSurrogate(char16_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}
bool IsLowSurrogate(char16_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

void AppendMerged(std::vector<StyledRun>& runs, std::u16string_view text, DisplayStyle style) {
    if (text.empty()) {
        return;
    }
    if (!runs.empty() && runs.back().style == style) {
        runs.back().text.append(text);
    } else {
        runs.push_back(StyledRun{std::u16string(text), style});
    }
}

}  // namespace

void DisplayModel::Append(const RunList& runs) {
    for (const StyledRun& run : runs.runs()) {
        AppendRun(run.text, run.style);
    }
}

void DisplayModel::AppendRun(std::u16string_view text, DisplayStyle style) {
    if (text.empty()) {
        return;
    }
    if (clear_limit_ > 0 && shown_units_ > static_cast<size_t>(clear_limit_)) {
        DropAll();
    }
    size_t i = 0;
    while (i < text.size()) {
        const char16_t unit = text[i];
        if (unit == u'\r') {
            HardBreak(style);
            after_cr_ = true;
            ++i;
            continue;
        }
        if (unit == u'\n') {
            if (!after_cr_) {
                HardBreak(style);
            }
            after_cr_ = false;
            ++i;
            continue;
        }
        after_cr_ = false;
        size_t end = text.find_first_of(u"\r\n", i);
        if (end == std::u16string_view::npos) {
            end = text.size();
        }
        AppendLineText(text.substr(i, end - i), style);
        i = end;
    }
}

void DisplayModel::AppendLineText(std::u16string_view text, DisplayStyle style) {
    while (!text.empty()) {
        if (line_units_ >= kMaxLineUnits && !IsLowSurrogate(text.front())) {
            soft_breaks_.push_back(total_units_);
            PushText(u"\n", style);
            line_units_ = 0;
        }
        size_t take = std::min(text.size(), kMaxLineUnits - std::min(line_units_, kMaxLineUnits));
        // Keep a surrogate pair on one line: the line may end one unit short, or, when the
        // pair is all that is left to place, one unit long.
        if (take < text.size() && take > 0 && IsHighSurrogate(text[take - 1])) {
            --take;
        }
        if (take == 0) {
            take = std::min<size_t>(text.size(), IsHighSurrogate(text.front()) ? 2 : 1);
        }
        PushText(text.substr(0, take), style);
        shown_units_ += take;
        line_units_ += take;
        text.remove_prefix(take);
    }
}

void DisplayModel::PushText(std::u16string_view text, DisplayStyle style) {
    // Segments stop growing at kMaxSegmentUnits: appending to one huge string would now and
    // then copy all of it, a stall of many milliseconds in the middle of a flood.
    if (!segments_.empty() && segments_.back().style == style &&
        segments_.back().text.size() + text.size() <= kMaxSegmentUnits) {
        segments_.back().text.append(text);
    } else {
        segments_.push_back(StyledRun{std::u16string(text), style});
    }
    total_units_ += text.size();
}

void DisplayModel::HardBreak(DisplayStyle style) {
    PushText(u"\n", style);
    ++shown_units_;
    line_units_ = 0;
}

void DisplayModel::DropAll() {
    segments_.clear();
    soft_breaks_.clear();
    total_units_ = 0;
    shown_units_ = 0;
    line_units_ = 0;
    taken_segment_ = 0;
    taken_offset_ = 0;
    taken_units_ = 0;
    reset_pending_ = true;
    ++drop_count_;
}

void DisplayModel::Clear() {
    DropAll();
    after_cr_ = false;
}

DisplayChanges DisplayModel::TakeChanges(size_t max_units) {
    DisplayChanges changes;
    changes.reset = reset_pending_;
    reset_pending_ = false;
    size_t budget = max_units;
    while (budget > 0 && taken_segment_ < segments_.size()) {
        const std::u16string& text = segments_[taken_segment_].text;
        const size_t available = text.size() - taken_offset_;
        if (available == 0) {
            if (taken_segment_ + 1 == segments_.size()) {
                break;  // stay on the last segment: new text may still merge into it
            }
            ++taken_segment_;
            taken_offset_ = 0;
            continue;
        }
        size_t take = std::min(available, budget);
        if (take < available && IsHighSurrogate(text[taken_offset_ + take - 1])) {
            --take;
            if (take == 0) {
                if (changes.units > 0) {
                    break;
                }
                take = 2;  // a pair is the least that can be handed out
            }
        }
        AppendMerged(changes.segments, std::u16string_view(text).substr(taken_offset_, take),
                     segments_[taken_segment_].style);
        taken_offset_ += take;
        taken_units_ += take;
        changes.units += take;
        budget -= std::min(budget, take);
    }
    return changes;
}

std::u16string DisplayModel::ShownText() const {
    std::u16string text;
    text.reserve(total_units_);
    for (const StyledRun& segment : segments_) {
        text += segment.text;
    }
    return text;
}

std::vector<StyledRun> DisplayModel::ExportSegments() const {
    std::vector<StyledRun> result;
    size_t offset = 0;
    auto soft = soft_breaks_.begin();
    for (const StyledRun& segment : segments_) {
        std::u16string_view text = segment.text;
        const size_t end = offset + text.size();
        size_t start = offset;
        while (soft != soft_breaks_.end() && *soft < end) {
            AppendMerged(result, text.substr(start - offset, *soft - start), segment.style);
            start = *soft + 1;
            ++soft;
        }
        AppendMerged(result, text.substr(start - offset), segment.style);
        offset = end;
    }
    return result;
}

std::u16string DisplayModel::ExportText() const {
    std::u16string text;
    text.reserve(shown_units_);
    for (const StyledRun& segment : ExportSegments()) {
        text += segment.text;
    }
    return text;
}

std::u16string DisplayModel::ExportRange(size_t begin, size_t end) const {
    end = std::min(end, total_units_);
    std::u16string text;
    if (begin >= end) {
        return text;
    }
    text.reserve(end - begin);
    auto soft = std::lower_bound(soft_breaks_.begin(), soft_breaks_.end(), begin);
    size_t offset = 0;
    for (const StyledRun& segment : segments_) {
        const size_t segment_end = offset + segment.text.size();
        if (segment_end > begin && offset < end) {
            for (size_t at = std::max(begin, offset); at < std::min(end, segment_end); ++at) {
                if (soft != soft_breaks_.end() && *soft == at) {
                    ++soft;
                    continue;
                }
                text.push_back(segment.text[at - offset]);
            }
        }
        if (segment_end >= end) {
            break;
        }
        offset = segment_end;
    }
    return text;
}

std::string DisplayModel::PlainTextAnsi() const {
    const std::u16string shown = ExportText();
    std::u16string text;
    text.reserve(shown.size() + shown.size() / 16);
    for (char16_t unit : shown) {
        if (unit == u'\n') {
            text += u"\r\n";
        } else {
            text.push_back(unit);
        }
    }
    return kem::platform::WideToAnsi(text);
}

std::string DisplayModel::Rtf(const DisplayStyleTable& styles) const {
    return WriteRtf(ExportSegments(), styles);
}
