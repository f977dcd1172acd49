#include "channels/net_log.h"

#include <algorithm>
#include <cstdarg>
#include <cstdlib>
#include <new>
#include <string>
#include <string_view>

#include "platform/code_page.h"
#include "platform/debug_sink.h"
#include "platform/local_time.h"
#include "platform/paths.h"

tagNetLog g_NetLog;

namespace {

using kem::platform::CriticalSectionLock;

template <size_t N>
void SetField(char16_t (&field)[N], std::u16string_view text) {
    std::fill(std::begin(field), std::end(field), u'\0');
    std::copy_n(text.begin(), std::min(text.size(), N - 1), field);
}

template <size_t N>
std::u16string_view FieldText(const char16_t (&field)[N]) {
    return {field, std::char_traits<char16_t>::length(field)};
}

void CloseFile(tagNetLog* log) {
    if (log->hFile != nullptr) {
        std::fclose(log->hFile);
        log->hFile = nullptr;
    }
}

// The size of the file at `path`, creating it empty when it is missing; -1 when it cannot be
// opened.
long SizeCreatingFile(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "ab");
    if (file == nullptr) {
        return -1;
    }
    long size = -1;
    if (std::fseek(file, 0, SEEK_END) == 0) {
        size = std::ftell(file);
    }
    std::fclose(file);
    return size;
}

std::string PathOf(const tagNetLog* log, std::u16string_view name) {
    using kem::platform::WideToUtf8;
    return kem::platform::JoinPath(WideToUtf8(FieldText(log->szFolder)), WideToUtf8(name));
}

// ASCII text widened unit by unit.
std::u16string Widen(std::string_view text) {
    return std::u16string(text.begin(), text.end());
}

// The file name to write to now; empty when every numbered file up to 999 is full.
std::u16string BuildFileName(tagNetLog* log) {
    std::u16string stem(FieldText(log->szBaseName));
    if (log->bDateInName) {
        const auto now = kem::platform::NowLocal();
        char date[32];
        std::snprintf(date, sizeof date, "_%04d%02d%02d", now.year, now.month, now.day);
        stem.append(Widen(date));
    }
    const std::u16string_view ext = FieldText(log->szExt);
    if (log->wIndex == kNetLogNoIndex) {
        return stem.append(ext);
    }
    for (; log->wIndex < 1000; ++log->wIndex) {
        char number[8];
        std::snprintf(number, sizeof number, "_%03u", static_cast<unsigned>(log->wIndex));
        std::u16string candidate = stem;
        candidate.append(Widen(number)).append(ext);
        const long size = SizeCreatingFile(PathOf(log, candidate));
        // A candidate that cannot even be opened is taken; opening it for writing fails too
        // and the line is dropped, rather than probing all numbers for every line.
        if (size < 0 || static_cast<unsigned long>(size) < log->dwMaxSize) {
            return candidate;
        }
    }
    return {};
}

bool OpenFile(tagNetLog* log) {
    const std::u16string name = BuildFileName(log);
    if (name.empty()) {
        return false;
    }
    const std::string path = PathOf(log, name);
    // Appending creates a missing file but never a missing folder.
    std::FILE* file = std::fopen(path.c_str(), "ab");
    if (file == nullptr) {
        return false;
    }
    if (std::fseek(file, 0, SEEK_END) == 0 &&
        static_cast<unsigned long>(std::ftell(file)) >= log->dwMaxSize) {
        std::fclose(file);
        file = std::fopen(path.c_str(), "wb");
        if (file == nullptr) {
            return false;
        }
    }
    log->hFile = file;
    return true;
}

// Appends `bytes` to the log file; false when they could not be written. Caller holds csWrite.
bool WriteToFile(tagNetLog* log, std::string_view bytes) {
    if (bytes.empty()) {
        return true;
    }
    if (log->hFile == nullptr && !OpenFile(log)) {
        return false;
    }
    if (std::fseek(log->hFile, 0, SEEK_END) != 0) {
        CloseFile(log);
        if (!OpenFile(log)) {
            return false;
        }
    }
    if (std::fwrite(bytes.data(), 1, bytes.size(), log->hFile) != bytes.size() ||
        std::fflush(log->hFile) != 0) {
        return false;
    }
    const long size = std::ftell(log->hFile);
    if (size >= 0 && static_cast<unsigned long>(size) >= log->dwMaxSize) {
        // The next line opens the file anew and empties it.
        CloseFile(log);
    }
    return true;
}

std::string StampText(bool milliseconds) {
    const auto now = kem::platform::NowLocal();
    char text[64];
    if (milliseconds) {
        std::snprintf(text, sizeof text, "[%04d-%02d-%02d %02d:%02d:%02d.%03d]", now.year,
                      now.month, now.day, now.hour, now.minute, now.second, now.millisecond);
    } else {
        std::snprintf(text, sizeof text, "[%04d-%02d-%02d %02d:%02d:%02d]", now.year, now.month,
                      now.day, now.hour, now.minute, now.second);
    }
    return text;
}

}  // namespace

tagNetLog::~tagNetLog() {
    CloseFile(this);
}

void LogInit(tagNetLog* log) {
    CriticalSectionLock lock(log->csWrite);
    SetField(log->szFolder, u"");
    SetField(log->szBaseName, u"");
    SetField(log->szExt, u"");
    SetField(log->szFolder,
             kem::platform::Utf8ToWide(kem::platform::ResolveBesideExecutable(".\\log")));
    SetField(log->szBaseName, u"ltKemNetConnect");
    SetField(log->szExt, u".log");
    log->bDateInName = 0;
    CloseFile(log);
    log->bFileOutput = 0;
}

void LogApplyEnvironment(tagNetLog* log) {
    CriticalSectionLock lock(log->csWrite);
    if (const char* value = std::getenv("KEMPEMVILO_NETLOG");
        value != nullptr && std::string_view(value) != "0") {
        const std::string_view text(value);
        const bool names_folder = text.find_first_of("/\\") != std::string_view::npos ||
                                  (!text.empty() && text[0] == '.');
        if (names_folder) {
            const std::u16string folder =
                kem::platform::Utf8ToWide(kem::platform::ResolveBesideExecutable(text));
            // A folder that does not fit is not cut to a different one; the default stays.
            if (folder.size() < std::size(log->szFolder)) {
                SetField(log->szFolder, folder);
                CloseFile(log);
            }
        }
        log->bFileOutput = 1;
    }
    if (kem::platform::DebugRequested()) {
        log->bDebugOutput = 1;
    }
}

bool LogEnabled(const tagNetLog* log) {
    return log->bDebugOutput || log->bFileOutput;
}

int32_t LogFormat(tagNetLog* log, bool line_end, bool stamp, const char* format, ...) {
    // Most runs log nothing; the receive path calls this for every block.
    if (!LogEnabled(log)) {
        return 1;
    }
    va_list arguments;
    va_start(arguments, format);
    va_list counting;
    va_copy(counting, arguments);
    const int length = std::vsnprintf(nullptr, 0, format, counting);
    va_end(counting);
    if (length < 0) {
        va_end(arguments);
        return 0;
    }
    const size_t kept = std::min<size_t>(static_cast<size_t>(length), kNetLogMaxTextUnits);
    char* text = new (std::nothrow) char[kept + 1];
    if (text == nullptr) {
        va_end(arguments);
        return 0;
    }
    std::vsnprintf(text, kept + 1, format, arguments);
    va_end(arguments);
    LogWriteLine(log, text, line_end, stamp);
    delete[] text;
    return 1;
}

void LogText(tagNetLog* log, bool line_end, bool stamp, const char16_t* text) {
    if (!LogEnabled(log)) {
        return;
    }
    if (text == nullptr) {
        LogWriteLine(log, nullptr, line_end, stamp);
        return;
    }
    size_t length = 0;
    while (length < static_cast<size_t>(kNetLogMaxTextUnits) && text[length] != u'\0') {
        ++length;
    }
    const std::string ansi = kem::platform::WideToAnsi({text, length});
    LogWriteLine(log, ansi.c_str(), line_end, stamp);
}

void LogWriteLine(tagNetLog* log, const char* text, bool line_end, bool stamp) {
    // The line is put together first and goes out in one write: lines of other threads cannot
    // come between its parts, and the size limit never splits it.
    std::string line;
    if (stamp) {
        line = StampText(log->bMilliseconds != 0);
    }
    if (text != nullptr) {
        line.append(text);
    }
    if (line_end) {
        line.append("\r\n");
    }
    CriticalSectionLock lock(log->csWrite);
    if (line.empty()) {
        return;
    }
    if (log->bDebugOutput) {
        kem::platform::DebugOutput(line);
    }
    if (log->bFileOutput) {
        WriteToFile(log, line);
    }
}
