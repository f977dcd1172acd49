// The traffic log writer: up to three binary log files (sent bytes, received bytes, both
// interleaved with direction tags), framed by start and stop markers. The window that edits
// the options drives it; the main window hands it every block while recording.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/append_file.h"
#include "platform/local_time.h"
#include "platform/os_error.h"
#include "terminal/traffic_log_names.h"
#include "terminal/traffic_queue.h"

// What the writer reads of one block of traffic; it neither keeps nor frees the bytes.
struct TrafficLogBlock {
    int32_t direction = 0;  // 0 sent by this side, any other value received
    uint16_t hour = 0;
    uint16_t minute = 0;
    uint16_t second = 0;
    uint16_t millisecond = 0;
    int64_t instant_ms = 0;  // ms since the epoch, for the frame gap of the all-traffic log
    std::string_view bytes;
};

// The log's view of a queued record; it borrows the record's bytes.
TrafficLogBlock LogBlockOf(const tagComExchangeData& record);

// Outcome of a writer operation.
enum class TrafficLogResult {
    kOk,
    kNothingSelected,   // start without any of the three logs selected; nothing touched
    kAlreadyRecording,  // start while recording; nothing changed
    kOpenFailed,        // a log file could not be opened or created; none is left open
    kWriteFailed,       // a write failed; recording stopped, every file closed
    kCloseFailed,       // closing reported an error; every file closed all the same
};

// The result with, for a file failure, the full path of the file and the OS error.
struct TrafficLogStatus {
    TrafficLogResult result = TrafficLogResult::kOk;
    std::string file;  // UTF-8 path of the file that failed
    kem::platform::OsError os;

    bool ok() const { return result == TrafficLogResult::kOk; }
};

class TrafficLogWriter {
public:
    TrafficLogWriter() = default;
    ~TrafficLogWriter();
    TrafficLogWriter(const TrafficLogWriter&) = delete;
    TrafficLogWriter& operator=(const TrafficLogWriter&) = delete;

    // Starts a recording at `start`: resolves the names of `options` (with `config_file`, the
    // configuration file in use, for "%t"), opens the selected logs in the order send,
    // receive, all-traffic (appending to existing files) and writes the start marker to each.
    // kNothingSelected when no log is selected; kOpenFailed or kWriteFailed (with file and
    // OS error) when a file fails, and then every file opened by this call is closed and
    // recording stays off. `names()` holds the resolved names afterwards. Window's thread.
    TrafficLogStatus Start(const TrafficLogOptions& options, std::u16string_view config_file,
                           const kem::platform::LocalTime& start);

    // Stops a recording at `stop`: writes the stop marker to every open log and closes them.
    // Recording is off afterwards whatever happens; a failed marker write (kWriteFailed) or
    // close (kCloseFailed) is reported with its file, the other files are still finished.
    // kOk and nothing done while idle. Window's thread.
    TrafficLogStatus Stop(const kem::platform::LocalTime& stop);

    // Writes `block` to the logs it belongs to. Nothing happens while idle. When a write
    // fails, recording stops at once: the other logs get the stop marker (time of now), every
    // file is closed keeping what was written, and kWriteFailed names the failing file and
    // its OS error. Window's thread.
    TrafficLogStatus WriteTrafficBlock(const TrafficLogBlock& block);

    // With merging in the all-traffic log, a block at least `gap_ms` after the previous one
    // of its direction starts a new entry, as in the receive display; 0 (the default) joins
    // regardless of time. Takes effect from the next block; any time. Window's thread.
    void SetFrameGap(uint32_t gap_ms) { frame_gap_ms_ = gap_ms; }

    bool recording() const { return recording_; }

    // The resolved title and names of the running or last recording.
    const ResolvedLogNames& names() const { return names_; }

private:
    struct Log {
        kem::platform::AppendFile file;
        bool time_stamp = false;
        bool end_new_line = false;
    };

    TrafficLogStatus OpenAll(const TrafficLogOptions& options);
    TrafficLogStatus WriteMarker(std::u16string_view pattern, const kem::platform::LocalTime& time,
                                 const Log* skip);
    TrafficLogStatus CloseAll();
    TrafficLogStatus FailWrite(Log& log, const kem::platform::FileError& error);

    Log send_;
    Log receive_;
    Log all_;
    bool all_merge_continue_ = false;
    bool all_written_ = false;
    int32_t last_direction_ = 0;
    int64_t last_instant_ms_ = 0;
    uint32_t frame_gap_ms_ = 0;
    bool recording_ = false;
    ResolvedLogNames names_;
};
