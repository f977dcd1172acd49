// Find in the receive display: matches of a typed text, or of hex bytes in a HEX display, over
// the DisplayModel's shown text. Matches are kept as offsets into the shown text (the widget's
// positions), found again only for text appended since the last look, so a flood costs the
// search only the new text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "terminal/display_model.h"

// One match: [begin, end) in the model's ShownText. A match that runs over one of the
// display's own line breaks includes that break.
struct DisplayMatch {
    size_t begin = 0;
    size_t end = 0;

    bool operator==(const DisplayMatch&) const = default;
};

enum class DisplaySearchMode {
    kText,  // the pattern is text, found in the text shown
    kHex,   // the pattern is hex bytes, found in the bytes a HEX display shows as "XX "
};

struct DisplaySearchQuery {
    std::u16string text;
    bool match_case = false;  // text mode only; hex digits match in either case
    DisplaySearchMode mode = DisplaySearchMode::kText;

    bool operator==(const DisplaySearchQuery&) const = default;
};

enum class DisplaySearchState {
    kEmpty,       // nothing to find (blank text): no matches
    kReady,       // a valid pattern
    kInvalidHex,  // hex mode and the text is not hex bytes: no matches
};

// `unit` in lower case when it is an upper-case letter of ASCII, Latin-1, basic Greek, basic
// Cyrillic or full-width Latin; any other unit as it is. One unit for one, so offsets hold.
// Pure; any thread.
char16_t FoldSearchCase(char16_t unit);

// The bytes of a hex pattern: whitespace-separated groups of an even number of hex digits
// ("0D 0A", "0d0a", "0D0A FF"). Empty for blank text; nullopt for anything else (an odd group,
// a character that is not a hex digit). Pure; any thread.
std::optional<std::vector<uint8_t>> ParseHexPattern(std::u16string_view text);

// The matches of one query in one DisplayModel, kept up to date by Update. Matches never
// overlap and never cross the border between a time-stamp header (time-stamp styles) and the
// data around it; in hex mode headers hold no bytes at all. Single thread: the one that
// changes the model.
class DisplaySearch {
public:
    // Sets what to find. A query other than the current one drops every match; the next Update
    // scans the whole model. Returns the new state.
    DisplaySearchState SetQuery(const DisplaySearchQuery& query);

    const DisplaySearchQuery& query() const { return query_; }
    DisplaySearchState state() const { return state_; }

    // Brings the matches up to `model`: scans only what was appended since the last Update,
    // unless the model dropped its text (Clear or the size limit: the matches that went are
    // dropped and what is shown now is scanned), the query changed, or another model is given.
    // Returns true when the matches changed. Cost: the units scanned.
    bool Update(const DisplayModel& model);

    // All matches, in text order.
    const std::vector<DisplayMatch>& matches() const { return matches_; }
    size_t Count() const { return matches_.size(); }

    // Counts the times the matches were dropped (a query change, or the model dropping its
    // text): indexes into matches() taken before a change of it are void.
    uint64_t Epoch() const { return epoch_; }

    // Index of the first match beginning at or after `offset`; Count() when there is none.
    size_t FirstAtOrAfter(size_t offset) const;

    // Index of the last match beginning before `offset`; Count() when there is none.
    size_t LastBefore(size_t offset) const;

    // Indexes [first, last) of the matches that overlap [begin, end).
    std::pair<size_t, size_t> Overlapping(size_t begin, size_t end) const;

private:
    void Restart(const DisplayModel* model);
    void ScanChunk(const char16_t* text, size_t size, size_t at);
    void ScanTextChunk(const char16_t* text, size_t size, size_t at);
    void ScanHexChunk(const char16_t* text, size_t size, size_t at);
    void FeedByte(uint8_t byte, size_t begin, size_t end);
    size_t BeginOfTextMatch(size_t end) const;
    void BreakChain();

    DisplaySearchQuery query_;
    DisplaySearchState state_ = DisplaySearchState::kEmpty;
    std::u16string text_pattern_;  // folded unless match_case
    std::vector<uint8_t> hex_pattern_;
    std::vector<size_t> failure_;  // prefix function of the pattern in use

    std::vector<DisplayMatch> matches_;
    uint64_t epoch_ = 0;

    // Where the scan stands in the model it last saw.
    const DisplayModel* model_ = nullptr;
    uint64_t model_drops_ = 0;
    size_t segment_ = 0;         // segment index
    size_t segment_offset_ = 0;  // units of that segment scanned
    size_t position_ = 0;        // ShownText offset scanned up to
    size_t soft_index_ = 0;      // soft breaks before position_
    const std::vector<size_t>* soft_breaks_ = nullptr;
    bool in_header_ = false;  // the last unit scanned was in a time-stamp style

    // Matcher state: units (or bytes) of the pattern matched so far.
    size_t matched_ = 0;
    // Hex mode: a first digit waiting for its second, and the starts of the recent bytes.
    bool have_high_ = false;
    uint8_t high_ = 0;
    size_t high_at_ = 0;
    std::vector<size_t> byte_starts_;  // ring of pattern size
    uint64_t bytes_fed_ = 0;
};
