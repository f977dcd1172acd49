#include "terminal/display_search.h"

#include <algorithm>
#include <array>

#include "platform/ascii_case.h"

namespace {

// Built once: a lookup per unit keeps the scan of megabytes within a few milliseconds.
const std::array<char16_t, 65536>& FoldTable() {
    static const std::array<char16_t, 65536> table = [] {
        std::array<char16_t, 65536> t{};
        for (size_t i = 0; i < t.size(); ++i) {
            t[i] = static_cast<char16_t>(i);
        }
        auto shift = [&t](char16_t first, char16_t last, int by) {
            for (char16_t unit = first; unit <= last; ++unit) {
                t[unit] = static_cast<char16_t>(unit + by);
            }
        };
        shift(u'A', u'Z', 0x20);
        shift(0x00C0, 0x00DE, 0x20);  // Latin-1 capitals
        t[0x00D7] = 0x00D7;           // the multiplication sign has no case
        shift(0x0391, 0x03A9, 0x20);  // Greek capitals
        t[0x03A2] = 0x03A2;           // unassigned
        shift(0x0400, 0x040F, 0x50);  // Cyrillic capitals with marks
        shift(0x0410, 0x042F, 0x20);  // basic Cyrillic capitals
        shift(0xFF21, 0xFF3A, 0x20);  // full-width Latin capitals
        return t;
    }();
    return table;
}

bool IsTimeStampStyle(DisplayStyle style) {
    return style == DisplayStyle::kReceivedTimeStamp || style == DisplayStyle::kSentTimeStamp;
}

bool IsBlank(char16_t unit) {
    return unit == u' ' || unit == u'\t' || unit == 0x3000;  // 0x3000: the ideographic space
}

template <typename Unit>
std::vector<size_t> PrefixFunction(const std::basic_string_view<Unit> pattern) {
    std::vector<size_t> failure(pattern.size(), 0);
    size_t k = 0;
    for (size_t i = 1; i < pattern.size(); ++i) {
        while (k > 0 && pattern[i] != pattern[k]) {
            k = failure[k - 1];
        }
        if (pattern[i] == pattern[k]) {
            ++k;
        }
        failure[i] = k;
    }
    return failure;
}

}  // namespace

char16_t FoldSearchCase(char16_t unit) {
    return FoldTable()[unit];
}

std::optional<std::vector<uint8_t>> ParseHexPattern(std::u16string_view text) {
    std::vector<uint8_t> bytes;
    size_t i = 0;
    while (i < text.size()) {
        if (IsBlank(text[i])) {
            ++i;
            continue;
        }
        size_t end = i;
        while (end < text.size() && !IsBlank(text[end])) {
            if (kem::platform::HexDigitValue(text[end]) < 0) {
                return std::nullopt;
            }
            ++end;
        }
        if ((end - i) % 2 != 0) {
            return std::nullopt;
        }
        for (size_t at = i; at < end; at += 2) {
            bytes.push_back(static_cast<uint8_t>(kem::platform::HexDigitValue(text[at]) * 16 +
                                                 kem::platform::HexDigitValue(text[at + 1])));
        }
        i = end;
    }
    return bytes;
}

DisplaySearchState DisplaySearch::SetQuery(const DisplaySearchQuery& query) {
    if (query == query_ && model_ != nullptr) {
        return state_;
    }
    query_ = query;
    text_pattern_.clear();
    hex_pattern_.clear();
    failure_.clear();
    state_ = DisplaySearchState::kEmpty;
    if (query_.mode == DisplaySearchMode::kHex) {
        std::optional<std::vector<uint8_t>> bytes = ParseHexPattern(query_.text);
        if (!bytes) {
            state_ = DisplaySearchState::kInvalidHex;
        } else if (!bytes->empty()) {
            hex_pattern_ = std::move(*bytes);
            failure_ = PrefixFunction(
                std::basic_string_view<uint8_t>(hex_pattern_.data(), hex_pattern_.size()));
            state_ = DisplaySearchState::kReady;
        }
    } else if (!query_.text.empty()) {
        text_pattern_ = query_.text;
        if (!query_.match_case) {
            for (char16_t& unit : text_pattern_) {
                unit = FoldSearchCase(unit);
            }
        }
        failure_ = PrefixFunction(std::u16string_view(text_pattern_));
        state_ = DisplaySearchState::kReady;
    }
    Restart(nullptr);
    return state_;
}

void DisplaySearch::Restart(const DisplayModel* model) {
    if (!matches_.empty()) {
        ++epoch_;
    }
    matches_.clear();
    model_ = model;
    model_drops_ = model != nullptr ? model->DropCount() : 0;
    segment_ = 0;
    segment_offset_ = 0;
    position_ = 0;
    soft_index_ = 0;
    soft_breaks_ = model != nullptr ? &model->SoftBreaks() : nullptr;
    in_header_ = false;
    byte_starts_.assign(hex_pattern_.size(), 0);
    bytes_fed_ = 0;
    BreakChain();
}

void DisplaySearch::BreakChain() {
    matched_ = 0;
    have_high_ = false;
}

bool DisplaySearch::Update(const DisplayModel& model) {
    const size_t before = matches_.size();
    const uint64_t epoch = epoch_;
    if (model_ != &model || model_drops_ != model.DropCount() || model.TotalUnits() < position_) {
        Restart(&model);
    }
    if (state_ != DisplaySearchState::kReady) {
        // Nothing to find: only follow the model, so a later query starts where it should.
        return epoch != epoch_;
    }
    const std::vector<StyledRun>& segments = model.Segments();
    while (segment_ < segments.size()) {
        const StyledRun& segment = segments[segment_];
        const bool header = IsTimeStampStyle(segment.style);
        if (header != in_header_) {
            BreakChain();
            in_header_ = header;
        }
        const size_t size = segment.text.size();
        if (segment_offset_ < size) {
            ScanChunk(segment.text.data() + segment_offset_, size - segment_offset_, position_);
            position_ += size - segment_offset_;
            segment_offset_ = size;
        }
        if (segment_ + 1 == segments.size()) {
            break;  // the last segment may still grow
        }
        ++segment_;
        segment_offset_ = 0;
    }
    return epoch != epoch_ || matches_.size() != before;
}

void DisplaySearch::ScanChunk(const char16_t* text, size_t size, size_t at) {
    // The display's own breaks are not in the data: the scan steps over them.
    const std::vector<size_t>& soft = *soft_breaks_;
    const size_t end = at + size;
    while (at < end) {
        size_t stop = end;
        if (soft_index_ < soft.size() && soft[soft_index_] < end) {
            stop = soft[soft_index_];
        }
        if (stop > at) {
            if (in_header_ && query_.mode == DisplaySearchMode::kHex) {
                // A header shows no bytes.
            } else if (query_.mode == DisplaySearchMode::kHex) {
                ScanHexChunk(text, stop - at, at);
            } else {
                ScanTextChunk(text, stop - at, at);
            }
            text += stop - at;
            at = stop;
        }
        if (at < end && soft_index_ < soft.size() && soft[soft_index_] == at) {
            ++soft_index_;
            ++text;
            ++at;
        }
    }
}

void DisplaySearch::ScanTextChunk(const char16_t* text, size_t size, size_t at) {
    const std::u16string& pattern = text_pattern_;
    const size_t length = pattern.size();
    const char16_t first = pattern[0];
    const bool fold = !query_.match_case;
    const std::array<char16_t, 65536>& table = FoldTable();
    size_t i = 0;
    size_t matched = matched_;
    while (i < size) {
        if (matched == 0) {
            // Most of the text matches nothing: look for the first unit only.
            if (fold) {
                while (i < size && table[text[i]] != first) {
                    ++i;
                }
            } else {
                while (i < size && text[i] != first) {
                    ++i;
                }
            }
            if (i == size) {
                break;
            }
        }
        const char16_t unit = fold ? table[text[i]] : text[i];
        while (matched > 0 && pattern[matched] != unit) {
            matched = failure_[matched - 1];
        }
        if (pattern[matched] == unit) {
            ++matched;
        }
        ++i;
        if (matched == length) {
            const size_t end = at + i;
            matches_.push_back(DisplayMatch{BeginOfTextMatch(end), end});
            matched = 0;
        }
    }
    matched_ = matched;
}

size_t DisplaySearch::BeginOfTextMatch(size_t end) const {
    // `length` units of data end at `end`; each of the display's own breaks among them
    // moves the beginning back by one.
    size_t begin = end - text_pattern_.size();
    const std::vector<size_t>& soft = *soft_breaks_;
    size_t k = soft_index_;
    while (k > 0 && soft[k - 1] >= begin) {
        --begin;
        --k;
    }
    return begin;
}

void DisplaySearch::ScanHexChunk(const char16_t* text, size_t size, size_t at) {
    for (size_t i = 0; i < size; ++i) {
        const char16_t unit = text[i];
        const int value = kem::platform::HexDigitValue(unit);
        if (value >= 0) {
            if (!have_high_) {
                have_high_ = true;
                high_ = static_cast<uint8_t>(value);
                high_at_ = at + i;
            } else {
                have_high_ = false;
                FeedByte(static_cast<uint8_t>(high_ * 16 + value), high_at_, at + i + 1);
            }
        } else if (unit == u' ' && !have_high_) {
            // The space after each byte of a HEX display.
        } else {
            // Anything else is not a byte of the display: the bytes around it are not adjacent.
            BreakChain();
        }
    }
}

void DisplaySearch::FeedByte(uint8_t byte, size_t begin, size_t end) {
    const size_t length = hex_pattern_.size();
    byte_starts_[bytes_fed_ % length] = begin;
    ++bytes_fed_;
    while (matched_ > 0 && hex_pattern_[matched_] != byte) {
        matched_ = failure_[matched_ - 1];
    }
    if (hex_pattern_[matched_] == byte) {
        ++matched_;
    }
    if (matched_ == length) {
        matches_.push_back(DisplayMatch{byte_starts_[(bytes_fed_ - length) % length], end});
        matched_ = 0;
    }
}

size_t DisplaySearch::FirstAtOrAfter(size_t offset) const {
    auto it = std::lower_bound(
        matches_.begin(), matches_.end(), offset,
        [](const DisplayMatch& match, size_t value) { return match.begin < value; });
    return static_cast<size_t>(it - matches_.begin());
}

size_t DisplaySearch::LastBefore(size_t offset) const {
    const size_t first = FirstAtOrAfter(offset);
    return first == 0 ? matches_.size() : first - 1;
}

std::pair<size_t, size_t> DisplaySearch::Overlapping(size_t begin, size_t end) const {
    // Matches do not overlap, so their ends ascend as their beginnings do.
    auto first =
        std::upper_bound(matches_.begin(), matches_.end(), begin,
                         [](size_t value, const DisplayMatch& match) { return value < match.end; });
    auto last = std::lower_bound(
        first, matches_.end(), end,
        [](const DisplayMatch& match, size_t value) { return match.begin < value; });
    return {static_cast<size_t>(first - matches_.begin()),
            static_cast<size_t>(last - matches_.begin())};
}
