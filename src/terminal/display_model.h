// The receive display's own copy of what it shows: the only place that decides its line
// structure (CR, LF and CR LF each make one break, also split across appends), the breaks the
// display adds to very long lines, and emptying at the size limit. A widget mirrors it by
// taking the changes since its last sync, so a flood costs the widget only the new text; the
// saved text and RTF come from here, never from the widget.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "terminal/display_run.h"
#include "terminal/display_style_format.h"

// What changed since the last sync. When `reset` is set the widget empties itself first, then
// appends `segments` in order. Breaks are u'\n' in the segment texts, the display's own ones
// included.
struct DisplayChanges {
    bool reset = false;
    std::vector<StyledRun> segments;
    size_t units = 0;  // UTF-16 units in `segments`
};

class DisplayModel {
public:
    static constexpr int32_t kDefaultClearLimit = 65536;
    // Longest line the display lays out; Qt's wrapping cost grows faster than the line.
    static constexpr size_t kMaxLineUnits = 1024;
    // Largest segment the model keeps; longer text of one style goes on in the next segment.
    static constexpr size_t kMaxSegmentUnits = 65536;

    // Applies `runs` one by one. Before each run, a display holding more than the clear limit
    // (ShownUnits) drops everything it shows. Window thread only (any single thread).
    void Append(const RunList& runs);

    // The same for one run of `text` in `style`.
    void AppendRun(std::u16string_view text, DisplayStyle style);

    // Drops everything shown and forgets a trailing CR; the next sync is a reset.
    void Clear();

    // Units of shown text above which the next run empties the display; 0 or less: no limit.
    // Takes effect at the next run. Default kDefaultClearLimit.
    void SetClearLimit(int32_t units) { clear_limit_ = units; }
    int32_t ClearLimit() const { return clear_limit_; }

    // UTF-16 units shown, each hard break one unit, the display's own breaks not counted.
    size_t ShownUnits() const { return shown_units_; }

    // Units the widget holds when in sync: ShownUnits plus the display's own breaks.
    size_t TotalUnits() const { return total_units_; }

    // Units not yet handed out by TakeChanges.
    size_t PendingUnits() const { return total_units_ - taken_units_; }

    // True when a reset is owed to the widget (a clear since the last sync).
    bool ResetPending() const { return reset_pending_; }

    // How many times everything shown was dropped (Clear and the size limit together) since
    // construction. A reader that keeps offsets into the shown text compares it with the value
    // it saw last: a change means its offsets point at text that went.
    uint64_t DropCount() const { return drop_count_; }

    // Hands out what changed since the last call: a reset flag when a clear happened, then at
    // most `max_units` units of new text (a surrogate pair is never split, so a call may hand
    // out one unit less; at least the pair when `max_units` is 1). Cost: the units handed out.
    DisplayChanges TakeChanges(size_t max_units);

    // Everything shown, breaks as u'\n' (the display's own ones too), adjacent runs of one
    // style merged up to kMaxSegmentUnits: what a widget shows after a full re-show.
    const std::vector<StyledRun>& Segments() const { return segments_; }

    // The same text as one string.
    std::u16string ShownText() const;

    // What is shown without the display's own breaks: the text that is saved or copied whole.
    std::vector<StyledRun> ExportSegments() const;
    std::u16string ExportText() const;

    // The part [begin, end) of ShownText without the display's own breaks: what a selection of
    // the widget (whose positions are ShownText offsets) copies. Ends past the text are cut.
    std::u16string ExportRange(size_t begin, size_t end) const;

    // Offsets (in ShownText) of the breaks the display added, ascending.
    const std::vector<size_t>& SoftBreaks() const { return soft_breaks_; }

    // The shown text in the ANSI code page with every break of the data as CR LF and none of
    // the display's own breaks. Characters the code page lacks become '?'.
    std::string PlainTextAnsi() const;

    // The shown text as an RTF document in `styles`.
    std::string Rtf(const DisplayStyleTable& styles) const;

private:
    void AppendLineText(std::u16string_view text, DisplayStyle style);
    void PushText(std::u16string_view text, DisplayStyle style);
    void HardBreak(DisplayStyle style);
    void DropAll();

    std::vector<StyledRun> segments_;
    std::vector<size_t> soft_breaks_;
    size_t total_units_ = 0;
    size_t shown_units_ = 0;
    size_t line_units_ = 0;  // units since the last break of either kind
    bool after_cr_ = false;  // the last character applied was a CR: an LF next adds nothing
    int32_t clear_limit_ = kDefaultClearLimit;
    uint64_t drop_count_ = 0;

    bool reset_pending_ = false;
    size_t taken_segment_ = 0;  // sync position: segment and offset in it
    size_t taken_offset_ = 0;
    size_t taken_units_ = 0;
};
