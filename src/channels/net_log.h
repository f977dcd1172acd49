// The diagnostic trace of the TCP connection: one process-wide log that stamps each line and
// sends it to the debug output and to a size-limited file, each behind its own switch. Both
// switches start off; KEMPEMVILO_NETLOG and KEMPEMVILO_DEBUG turn them on (LogApplyEnvironment).
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>

#include "platform/critical_section.h"

constexpr uint16_t kNetLogNoIndex = 0xFFFF;           // wIndex: no number in the file name
constexpr uint32_t kNetLogDefaultMaxSize = 0x800000;  // 8 MiB
constexpr int32_t kNetLogMaxTextUnits = 0x7FFFFF;     // longer texts are cut to this

struct tagNetLog {
    char16_t szFolder[260] = {};
    char16_t szBaseName[260] = {};
    char16_t szExt[65] = {};
    int32_t bDateInName = 1;
    uint16_t wIndex = 0;
    std::FILE* hFile = nullptr;
    uint32_t dwMaxSize = kNetLogDefaultMaxSize;
    // The switches are read by every thread that logs, before it takes csWrite.
    std::atomic<int32_t> bMilliseconds{0};
    std::atomic<int32_t> bDebugOutput{0};
    std::atomic<int32_t> bFileOutput{0};
    kem::platform::CriticalSection csWrite;

    tagNetLog() = default;
    // Closes the file.
    ~tagNetLog();
    tagNetLog(const tagNetLog&) = delete;
    tagNetLog& operator=(const tagNetLog&) = delete;
};

// The process-wide log of the TCP connection class.
extern tagNetLog g_NetLog;

// Sets the defaults: folder "log" beside the executable, base name "ltKemNetConnect", extension
// ".log", no date in the name; closes an open file and turns the file output off. Call it while
// no other thread writes to `log`.
void LogInit(tagNetLog* log);

// Applies the environment: KEMPEMVILO_NETLOG set (and not "0") turns the file output on; a value
// that contains a path separator or starts with '.' names the folder (resolved beside the
// executable, %NAME% expanded). KEMPEMVILO_DEBUG set turns the debug output on. Same thread
// rule as LogInit.
void LogApplyEnvironment(tagNetLog* log);

// True when at least one output of `log` is on. Any thread.
bool LogEnabled(const tagNetLog* log);

// Formats `format` (ASCII, printf rules) with the arguments and writes the result as one line
// through LogWriteLine; a result longer than kNetLogMaxTextUnits is cut. Returns 1, or 0 when
// formatting failed or the text could not be held. When both outputs are off it returns 1 at
// once without formatting. Any thread.
int32_t LogFormat(tagNetLog* log, bool line_end, bool stamp, const char* format, ...)
    __attribute__((format(printf, 4, 5)));

// Converts UTF-16 `text` (null: no text) to the ANSI code page and writes it through
// LogWriteLine; a text longer than kNetLogMaxTextUnits units is cut first. Any thread.
void LogText(tagNetLog* log, bool line_end, bool stamp, const char16_t* text);

// Writes one line under csWrite: with `stamp` the local time "[YYYY-MM-DD hh:mm:ss]" (with
// ".mmm" when bMilliseconds is set), then `text` (null: none), then with `line_end` "\r\n",
// as one piece to the debug output and to the file, as switched on. File errors drop the line
// quietly. Any thread.
void LogWriteLine(tagNetLog* log, const char* text, bool line_end, bool stamp);
