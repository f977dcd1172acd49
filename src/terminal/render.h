// Rendering traffic records into styled runs for the receive display: joining blocks of one
// direction (split where the line fell silent for the frame gap), time-stamp headers, the
// extra line break, hexadecimal display, control characters by name, ANSI text, CR LF split
// across blocks and the Chinese adjustment.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "terminal/display_run.h"
#include "terminal/render_options.h"
#include "terminal/time_stamp.h"
#include "terminal/traffic_queue.h"

// Renders records one at a time, remembering what the next record needs to know (the
// previous record's direction and last byte, bytes held by the Chinese adjustment). The
// newest record and a full re-render go through the same RenderRecord, so both show the
// same text. One renderer per display; window thread only.
class TrafficRenderer {
public:
    explicit TrafficRenderer(RenderOptions options = RenderOptions());

    // Takes new options. The state is kept: call RenderQueue afterwards to show the queue
    // anew, as every option change requires.
    void SetOptions(RenderOptions options);
    const RenderOptions& options() const { return options_; }

    // Forgets the previous record and drops any held bytes, as for an emptied display.
    void Reset();

    // Appends the runs of `record`, the record queued right after the last one rendered, to
    // `out`. With merging, a record joins the previous one of its direction unless the frame
    // gap is set and it came at least that long after it (by the records' own times, so a
    // re-render splits where the live display did). A group's extra line break and header
    // come with its first byte that is shown, so a block that is only the LF of a split CR LF
    // adds nothing. "%q" in the header is the time since the header of the previous group
    // that showed something. With the Chinese adjustment a received block's trailing lead
    // byte is held and shown before the next received block's text (after that block's
    // header, if it has one).
    void RenderRecord(const tagComExchangeData& record, RunList& out);

    // Reset, then every record of `queue`, oldest first, into `out` (for an emptied display).
    void RenderQueue(const TrafficQueue& queue, RunList& out);

    // Bytes the Chinese adjustment holds back (at most one lead byte).
    const std::string& held() const { return held_; }

private:
    void AppendHex(std::string_view bytes, bool received, RunList& out) const;
    void AppendText(std::string_view text, bool received, RunList& out) const;
    void AppendAnsi(std::string_view bytes, DisplayStyle style, RunList& out) const;

    RenderOptions options_;
    std::array<std::u16string, 256> names_;  // bracketed name of each byte shown by name
    bool any_named_ = false;

    bool uses_elapsed_ = false;  // the template shows "%q"

    bool has_previous_ = false;
    bool previous_received_ = false;
    int64_t previous_ms_ = 0;  // time of the previous record, for the frame gap
    bool previous_ended_cr_ = false;
    bool group_pending_ = false;           // the current group has shown nothing yet
    bool group_extra_line_ = false;        // it is owed an extra line break
    kem::platform::LocalTime group_time_;  // time of its first record, for the header
    bool has_shown_group_ = false;         // an earlier group has shown its first byte
    int64_t shown_group_ms_ = 0;           // when that group started, for "%q"
    std::string held_;
    TimeStampFormatter stamps_;
};
