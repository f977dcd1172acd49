#include "terminal/traffic_log.h"

#include <utility>

#include "platform/code_page.h"
#include "settings/date_time.h"
#include "terminal/time_stamp.h"

namespace {

constexpr std::u16string_view kStartMarker = u"[! \\StartTime: %Y-%m-%d %H:%M:%S]\r\n";
constexpr std::u16string_view kStopMarker =
    u"\r\n[! \\StopTime: %Y-%m-%d %H:%M:%S]\r\n\r\n\r\n\r\n";
constexpr size_t kMarkerBytes = 127;
constexpr std::string_view kLineEnd = "\r\n";

// Appends `value` in decimal with at least `width` digits (as printf's "%0Nu").
char* PutNumber(char* out, unsigned value, int width) {
    char digits[8];
    int count = 0;
    do {
        digits[count++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    for (int i = count; i < width; ++i) {
        *out++ = '0';
    }
    while (count > 0) {
        *out++ = digits[--count];
    }
    return out;
}

// "[HH:MM:SS.mmm]", or with `tag` "[R HH:MM:SS.mmm]"; built by hand because it is made for
// every block. `buffer` holds at least 64 bytes.
std::string_view FormatStamp(const TrafficLogBlock& block, char tag, char* buffer) {
    char* out = buffer;
    *out++ = '[';
    if (tag != '\0') {
        *out++ = tag;
        *out++ = ' ';
    }
    out = PutNumber(out, block.hour, 2);
    *out++ = ':';
    out = PutNumber(out, block.minute, 2);
    *out++ = ':';
    out = PutNumber(out, block.second, 2);
    *out++ = '.';
    out = PutNumber(out, block.millisecond, 3);
    *out++ = ']';
    return std::string_view(buffer, static_cast<size_t>(out - buffer));
}

TrafficLogStatus FileFailure(TrafficLogResult result, const std::string& file,
                             const kem::platform::FileError& error) {
    TrafficLogStatus status;
    status.result = result;
    status.file = file;
    status.os = error.os;
    return status;
}

}  // namespace

TrafficLogWriter::~TrafficLogWriter() {
    CloseAll();
}

TrafficLogStatus TrafficLogWriter::Start(const TrafficLogOptions& options,
                                         std::u16string_view config_file,
                                         const kem::platform::LocalTime& start) {
    TrafficLogStatus status;
    if (recording_) {
        status.result = TrafficLogResult::kAlreadyRecording;
        return status;
    }
    if (!options.AnySelected()) {
        status.result = TrafficLogResult::kNothingSelected;
        return status;
    }
    names_ = ResolveLogNames(options, config_file, start);
    status = OpenAll(options);
    if (!status.ok()) {
        CloseAll();
        return status;
    }
    status = WriteMarker(kStartMarker, start, nullptr);
    if (!status.ok()) {
        CloseAll();
        return status;
    }
    recording_ = true;
    return status;
}

TrafficLogStatus TrafficLogWriter::OpenAll(const TrafficLogOptions& options) {
    struct Plan {
        Log* log;
        bool selected;
        const std::u16string* name;
        bool time_stamp;
        bool end_new_line;
    };
    const Plan plans[] = {
        {&send_, options.save_send, &names_.send_name, options.send_time_stamp,
         options.send_end_new_line},
        {&receive_, options.save_receive, &names_.receive_name, options.receive_time_stamp,
         options.receive_end_new_line},
        {&all_, options.save_all, &names_.all_name, options.all_time_stamp,
         options.all_end_new_line},
    };
    for (const Plan& plan : plans) {
        if (!plan.selected) {
            continue;
        }
        const std::string path = LogFilePath(options.path, *plan.name);
        const kem::platform::FileError error = plan.log->file.Open(path);
        if (error.failed()) {
            return FileFailure(TrafficLogResult::kOpenFailed, path, error);
        }
        plan.log->time_stamp = plan.time_stamp;
        plan.log->end_new_line = plan.end_new_line;
    }
    all_merge_continue_ = options.all_merge_continue;
    all_written_ = false;
    last_direction_ = 0;
    return {};
}

TrafficLogStatus TrafficLogWriter::WriteMarker(std::u16string_view pattern,
                                               const kem::platform::LocalTime& time,
                                               const Log* skip) {
    std::string marker = kem::platform::WideToAnsi(kem::settings::FormatDateTime(time, pattern));
    if (marker.size() > kMarkerBytes) {
        marker.resize(kMarkerBytes);
    }
    TrafficLogStatus first_failure;
    for (Log* log : {&send_, &receive_, &all_}) {
        if (log == skip || !log->file.is_open()) {
            continue;
        }
        const kem::platform::FileError error = log->file.Append(marker);
        if (error.failed() && first_failure.ok()) {
            first_failure = FileFailure(TrafficLogResult::kWriteFailed, log->file.path(), error);
        }
    }
    return first_failure;
}

TrafficLogStatus TrafficLogWriter::CloseAll() {
    TrafficLogStatus first_failure;
    for (Log* log : {&send_, &receive_, &all_}) {
        const std::string path = log->file.path();
        const kem::platform::FileError error = log->file.Close();
        if (error.failed() && first_failure.ok()) {
            first_failure = FileFailure(TrafficLogResult::kCloseFailed, path, error);
        }
    }
    recording_ = false;
    return first_failure;
}

TrafficLogStatus TrafficLogWriter::Stop(const kem::platform::LocalTime& stop) {
    if (!recording_) {
        return {};
    }
    recording_ = false;
    TrafficLogStatus status = WriteMarker(kStopMarker, stop, nullptr);
    TrafficLogStatus closed = CloseAll();
    return status.ok() ? closed : status;
}

TrafficLogStatus TrafficLogWriter::FailWrite(Log& log, const kem::platform::FileError& error) {
    TrafficLogStatus status = FileFailure(TrafficLogResult::kWriteFailed, log.file.path(), error);
    recording_ = false;
    // The healthy logs still end with a stop marker, so each file reads as a finished
    // recording; the failing one keeps exactly what reached it.
    WriteMarker(kStopMarker, kem::platform::NowLocal(), &log);
    CloseAll();
    return status;
}

TrafficLogStatus TrafficLogWriter::WriteTrafficBlock(const TrafficLogBlock& block) {
    if (!recording_) {
        return {};
    }
    const bool sent = block.direction == 0;
    char stamp_buffer[64];
    Log& own = sent ? send_ : receive_;
    if (own.file.is_open()) {
        std::string_view parts[3];
        size_t count = 0;
        if (own.time_stamp) {
            parts[count++] = FormatStamp(block, '\0', stamp_buffer);
        }
        parts[count++] = block.bytes;
        if (own.end_new_line) {
            parts[count++] = kLineEnd;
        }
        const kem::platform::FileError error = own.file.Append(parts, count);
        if (error.failed()) {
            return FailWrite(own, error);
        }
    }
    if (all_.file.is_open()) {
        const bool joins =
            all_written_ && all_merge_continue_ && block.direction == last_direction_ &&
            (frame_gap_ms_ == 0 || block.instant_ms - last_instant_ms_ < int64_t{frame_gap_ms_});
        const bool new_entry = !joins;
        last_direction_ = block.direction;
        last_instant_ms_ = block.instant_ms;
        std::string_view parts[3];
        size_t count = 0;
        if (new_entry) {
            if (all_written_ && all_.end_new_line) {
                parts[count++] = kLineEnd;
            }
            if (all_.time_stamp) {
                parts[count++] = FormatStamp(block, sent ? 'S' : 'R', stamp_buffer);
            } else {
                parts[count++] = sent ? std::string_view("[S]") : std::string_view("[R]");
            }
        }
        parts[count++] = block.bytes;
        const kem::platform::FileError error = all_.file.Append(parts, count);
        if (error.failed()) {
            return FailWrite(all_, error);
        }
        all_written_ = true;
    }
    return {};
}

TrafficLogBlock LogBlockOf(const tagComExchangeData& record) {
    TrafficLogBlock block;
    block.direction = record.direction;
    block.hour = static_cast<uint16_t>(record.time.hour);
    block.minute = static_cast<uint16_t>(record.time.minute);
    block.second = static_cast<uint16_t>(record.time.second);
    block.millisecond = static_cast<uint16_t>(record.time.millisecond);
    block.instant_ms = TimeStampInstantMs(record.time);
    block.bytes =
        std::string_view(reinterpret_cast<const char*>(record.data.data()), record.data.size());
    return block;
}
