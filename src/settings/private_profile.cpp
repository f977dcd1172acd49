#include "settings/private_profile.h"

#include <algorithm>
#include <cstring>

#include "encoding/cp_selecter.h"
#include "platform/code_page.h"

namespace kem::settings {
namespace {

using LineList = std::vector<std::u16string>;

char16_t FoldCase(char16_t c) {
    return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c - u'A' + u'a') : c;
}

bool EqualIgnoringCase(std::u16string_view a, std::u16string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(),
                      [](char16_t x, char16_t y) { return FoldCase(x) == FoldCase(y); });
}

std::u16string_view OrEmpty(const char16_t* text) {
    return text == nullptr ? std::u16string_view() : std::u16string_view(text);
}

bool IsHeader(std::u16string_view line) {
    return line.size() >= 2 && line.front() == u'[' && line.back() == u']';
}

// The lines of a section: from the one after its header to the one before the next header.
struct SectionRange {
    size_t header = 0;
    size_t begin = 0;
    size_t end = 0;
};

bool FindSection(const LineList& lines, std::u16string_view name, SectionRange* range) {
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::u16string& line = lines[i];
        if (IsHeader(line) &&
            EqualIgnoringCase(std::u16string_view(line).substr(1, line.size() - 2), name)) {
            range->header = i;
            range->begin = i + 1;
            range->end = i + 1;
            while (range->end < lines.size() && !IsHeader(lines[range->end])) {
                ++range->end;
            }
            return true;
        }
    }
    return false;
}

// Whether `line` is the entry for `key`: not a comment, `key` in any letter case, then '='.
bool IsEntryFor(std::u16string_view line, std::u16string_view key) {
    return !line.empty() && line.front() != u'#' && line.size() > key.size() &&
           line[key.size()] == u'=' && EqualIgnoringCase(line.substr(0, key.size()), key);
}

// Index of the entry for `key` inside the section, or `range.end`.
size_t FindEntry(const LineList& lines, const SectionRange& range, std::u16string_view key) {
    for (size_t i = range.begin; i < range.end; ++i) {
        if (IsEntryFor(lines[i], key)) {
            return i;
        }
    }
    return range.end;
}

std::u16string_view ValueOf(std::u16string_view line) {
    const size_t equals = line.find(u'=');
    return equals == std::u16string_view::npos ? std::u16string_view() : line.substr(equals + 1);
}

// Moves the complete lines out of the decoded UTF-16 text in `buffer`; with `last`, what is
// left forms the last line. True once a NUL was met: nothing after it is read.
bool TakeLines(FilterBuffer& buffer, bool last, LineList& lines) {
    kem::platform::CriticalSectionLock hold(buffer.lock());
    const size_t units = buffer.size() / 2;
    const uint8_t* bytes = buffer.data();
    auto unit_at = [bytes](size_t i) {
        return static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    };
    auto text = [&](size_t from, size_t to) {
        std::u16string line(to - from, u'\0');
        for (size_t i = from; i < to; ++i) {
            line[i - from] = unit_at(i);
        }
        return line;
    };
    size_t start = 0;
    for (size_t i = 0; i < units; ++i) {
        const char16_t c = unit_at(i);
        if (c == u'\n') {
            size_t end = i;
            if (end > start && unit_at(end - 1) == u'\r') {
                --end;
            }
            lines.push_back(text(start, end));
            start = i + 1;
        } else if (c == u'\0') {
            if (i > start) {
                lines.push_back(text(start, i));
            }
            buffer.Clear();
            return true;
        }
    }
    if (last && start < units) {
        lines.push_back(text(start, units));
        start = units;
    }
    buffer.Consume(start * 2);
    return false;
}

}  // namespace

LineList ParseConfigurationBytes(std::string_view bytes, uint8_t* key) {
    LineList lines;
    std::string descrambled;
    if (bytes.size() >= 3 && static_cast<uint8_t>(bytes[0]) == 0xFE &&
        static_cast<uint8_t>(bytes[1]) == 0x01) {
        const auto k = static_cast<uint8_t>(bytes[2]);
        if (key != nullptr) {
            *key = k;
        }
        descrambled.assign(bytes.substr(3));
        for (char& c : descrambled) {
            c = static_cast<char>(static_cast<uint8_t>(c) ^ k);
        }
        bytes = descrambled;
    }
    CKemFilterContainerCPSelecter selector;
    for (size_t at = 0; at < bytes.size(); at += CKemPrivateProfile::kPieceBytes) {
        const std::string_view piece = bytes.substr(at, CKemPrivateProfile::kPieceBytes);
        selector.Input(piece.data(), static_cast<uint32_t>(piece.size()));
        if (TakeLines(*selector.GetOutputBuffer(), false, lines)) {
            return lines;
        }
    }
    TakeLines(*selector.GetOutputBuffer(), true, lines);
    return lines;
}

std::string EncodeConfigurationLines(const LineList& lines, bool scramble, uint8_t key) {
    if (lines.empty()) {
        return {};
    }
    // The whole text as UTF-16 little-endian, then encoded in pieces as the reader decodes.
    std::string text;
    size_t units = 0;
    for (const std::u16string& line : lines) {
        units += line.size() + 2;
    }
    text.reserve(units * 2);
    auto put = [&text](char16_t c) {
        text.push_back(static_cast<char>(c & 0xFF));
        text.push_back(static_cast<char>(c >> 8));
    };
    for (const std::u16string& line : lines) {
        for (char16_t c : line) {
            put(c);
        }
        put(u'\r');
        put(u'\n');
    }
    CKemFilterContainerCPSelecter selector;
    selector.SetDirection(1);
    const int32_t utf8 = kOutputUtf8;
    selector.SetParam(u"OutputCodeType", &utf8, sizeof utf8);
    std::string out;
    out.reserve(3 + units * 3 / 2);
    if (scramble) {
        out.push_back(static_cast<char>(0xFE));
        out.push_back(static_cast<char>(0x01));
        out.push_back(static_cast<char>(key));
    }
    const size_t head = out.size();
    for (size_t at = 0; at < text.size(); at += CKemPrivateProfile::kPieceBytes) {
        const std::string_view piece =
            std::string_view(text).substr(at, CKemPrivateProfile::kPieceBytes);
        selector.Input(piece.data(), static_cast<uint32_t>(piece.size()));
        FilterBuffer& encoded = *selector.GetOutputBuffer();
        kem::platform::CriticalSectionLock hold(encoded.lock());
        const size_t held = encoded.size();
        out.append(reinterpret_cast<const char*>(encoded.data()), held);
        encoded.Consume(held);
    }
    if (scramble) {
        for (size_t i = head; i < out.size(); ++i) {
            out[i] = static_cast<char>(static_cast<uint8_t>(out[i]) ^ key);
        }
    }
    return out;
}

}  // namespace kem::settings

using kem::settings::FindEntry;
using kem::settings::FindSection;
using kem::settings::OrEmpty;
using kem::settings::SectionRange;

CKemPrivateProfile::~CKemPrivateProfile() {
    Close();
}

void CKemPrivateProfile::SwitchTo(const char16_t* location) {
    if (location != nullptr && m_strFilePath != location) {
        Close();
        m_strFilePath = location;
    }
}

int32_t CKemPrivateProfile::SetLocation(const char16_t* path, int32_t create) {
    SwitchTo(path);
    if (create == 0 || m_strFilePath.empty()) {
        return 0;
    }
    const std::string file = kem::platform::WideToUtf8(m_strFilePath);
    const kem::platform::FolderResult made =
        kem::platform::CreateFolderTree(kem::platform::FolderOf(file));
    return made.created ? 1 : 0;
}

int32_t CKemPrivateProfile::Load() {
    if (m_bLoaded != 0) {
        return 1;
    }
    if (m_loadStatus == ProfileLoadStatus::kUnreadable) {
        // Not read again until the store is closed: every later call would fail the same way.
        return 0;
    }
    m_lines.clear();
    m_bModified = 0;
    m_loadError = {};
    if (m_strFilePath.empty()) {
        m_loadStatus = ProfileLoadStatus::kNoPath;
        return 0;
    }
    const std::string file = kem::platform::WideToUtf8(m_strFilePath);
    kem::platform::FileContent content = m_bKeepOpen != 0
                                             ? m_hFile.OpenAndRead(file, kMaxFileBytes)
                                             : kem::platform::ReadWholeFile(file, kMaxFileBytes);
    switch (content.status) {
        case kem::platform::FileStatus::kOk:
            m_lines = kem::settings::ParseConfigurationBytes(content.bytes, &m_byScrambleKey);
            m_loadStatus = ProfileLoadStatus::kLoaded;
            break;
        case kem::platform::FileStatus::kMissing:
            m_loadStatus = ProfileLoadStatus::kMissing;
            break;
        case kem::platform::FileStatus::kUnreadable:
            m_loadStatus = ProfileLoadStatus::kUnreadable;
            m_loadError = content.error;
            return 0;
    }
    m_bLoaded = 1;
    return 1;
}

int32_t CKemPrivateProfile::Save() {
    if (m_strFilePath.empty()) {
        return 0;
    }
    if (m_bLoaded == 0 && Load() == 0) {
        return 0;
    }
    const std::string file = kem::platform::WideToUtf8(m_strFilePath);
    const std::string bytes =
        kem::settings::EncodeConfigurationLines(m_lines, m_bScramble != 0, m_byScrambleKey);
    m_saveError = kem::platform::ReplaceFile(file, bytes);
    if (m_saveError.failed()) {
        return 0;
    }
    if (m_bKeepOpen != 0) {
        // The held file is the one just replaced; hold the new one instead. Failing to hold it
        // changes nothing written.
        m_hFile.OpenAndRead(file, kMaxFileBytes);
    }
    m_bModified = 0;
    return 1;
}

int32_t CKemPrivateProfile::ImportFile(const char16_t* path) {
    if (path == nullptr) {
        return 0;
    }
    CKemPrivateProfile source;
    source.SetLocation(path, 0);
    if (source.Load() == 0 || source.load_status() != ProfileLoadStatus::kLoaded) {
        return 0;
    }
    m_lines = source.m_lines;
    m_bLoaded = 1;
    m_bModified = 1;
    // The content is now the imported one, whatever this store's own file held.
    m_loadStatus = ProfileLoadStatus::kLoaded;
    return 1;
}

int32_t CKemPrivateProfile::Flush(int32_t force) {
    if (m_bModified == 0 && force == 0) {
        return 1;
    }
    return Save();
}

int32_t CKemPrivateProfile::Close() {
    const int32_t flushed = Flush(0);
    m_lines.clear();
    m_lines.shrink_to_fit();
    m_hFile.Close();
    m_bModified = 0;
    m_bLoaded = 0;
    m_loadStatus = ProfileLoadStatus::kNotLoaded;
    m_loadError = {};
    return flushed;
}

int32_t CKemPrivateProfile::Exists(int32_t require_non_empty) {
    if (m_strFilePath.empty()) {
        return 0;
    }
    const kem::platform::FileSize info =
        kem::platform::QueryFileSize(kem::platform::WideToUtf8(m_strFilePath));
    if (info.status != kem::platform::FileStatus::kOk) {
        return 0;
    }
    return require_non_empty == 0 || info.size != 0 ? 1 : 0;
}

int32_t CKemPrivateProfile::HasSection(const char16_t* section) {
    if (section == nullptr || Load() == 0) {
        return 0;
    }
    SectionRange range;
    return FindSection(m_lines, section, &range) ? 1 : 0;
}

int32_t CKemPrivateProfile::WriteSection(const char16_t* section, const char16_t* entries,
                                         const char16_t* location) {
    SwitchTo(location);
    if (section == nullptr || Load() == 0) {
        return 0;
    }
    std::vector<std::u16string> given;
    if (entries != nullptr) {
        // Texts ended by a NUL up to the empty one, within the unit limit.
        size_t at = 0;
        while (at < kMaxSectionUnits && entries[at] != u'\0') {
            size_t end = at;
            while (end < kMaxSectionUnits && entries[end] != u'\0') {
                ++end;
            }
            given.emplace_back(entries + at, end - at);
            at = end + 1;
        }
    }
    SectionRange range;
    size_t insert_at = 0;
    if (FindSection(m_lines, section, &range)) {
        const auto first = m_lines.begin() + static_cast<std::ptrdiff_t>(range.begin);
        m_lines.erase(first, m_lines.begin() + static_cast<std::ptrdiff_t>(range.end));
        if (entries == nullptr) {
            m_lines.erase(m_lines.begin() + static_cast<std::ptrdiff_t>(range.header));
        }
        insert_at = range.begin;
    } else if (entries != nullptr) {
        m_lines.push_back(u"[" + std::u16string(section) + u"]");
        insert_at = m_lines.size();
    }
    m_lines.insert(m_lines.begin() + static_cast<std::ptrdiff_t>(insert_at), given.begin(),
                   given.end());
    m_bModified = 1;
    return 1;
}

int32_t CKemPrivateProfile::ReadSection(const char16_t* section, char16_t* buffer, int32_t capacity,
                                        const char16_t* location) {
    if (buffer == nullptr || capacity < 1) {
        return 0;
    }
    std::fill_n(buffer, capacity, u'\0');
    SwitchTo(location);
    SectionRange range;
    if (section == nullptr || Load() == 0 || !FindSection(m_lines, section, &range)) {
        return 0;
    }
    // One unit stays free for the NUL that ends the list.
    size_t used = 0;
    const size_t room = static_cast<size_t>(capacity) - 1;
    for (size_t i = range.begin; i < range.end; ++i) {
        const std::u16string& line = m_lines[i];
        if (used + line.size() + 1 > room) {
            break;
        }
        std::copy(line.begin(), line.end(), buffer + used);
        used += line.size() + 1;
    }
    return used == 0 ? 0 : static_cast<int32_t>(used - 1);
}

int32_t CKemPrivateProfile::WriteStringRaw(const char16_t* section, const char16_t* key,
                                           const char16_t* value, const char16_t* location) {
    SwitchTo(location);
    if (section == nullptr || key == nullptr || Load() == 0) {
        return 0;
    }
    std::u16string line = std::u16string(key) + u"=" + std::u16string(OrEmpty(value));
    SectionRange range;
    if (FindSection(m_lines, section, &range)) {
        const size_t entry = FindEntry(m_lines, range, key);
        if (entry < range.end) {
            m_lines[entry] = std::move(line);
        } else {
            m_lines.insert(m_lines.begin() + static_cast<std::ptrdiff_t>(range.end),
                           std::move(line));
        }
    } else {
        m_lines.push_back(u"[" + std::u16string(section) + u"]");
        m_lines.push_back(std::move(line));
    }
    m_bModified = 1;
    return 1;
}

int32_t CKemPrivateProfile::ReadStringRaw(const char16_t* section, const char16_t* key,
                                          const char16_t* default_value, char16_t* buffer,
                                          int32_t capacity, const char16_t* location) {
    if (buffer == nullptr || capacity < 1) {
        return 0;
    }
    SwitchTo(location);
    std::u16string_view result = OrEmpty(default_value);
    SectionRange range;
    if (section != nullptr && key != nullptr && Load() != 0 &&
        FindSection(m_lines, section, &range)) {
        const size_t entry = FindEntry(m_lines, range, key);
        if (entry < range.end) {
            const std::u16string_view value = kem::settings::ValueOf(m_lines[entry]);
            if (!value.empty() || m_bEmptyIsDefault == 0) {
                result = value;
            }
        }
    }
    return kem::settings::CopyTextBounded(buffer, capacity, result);
}

int32_t CKemPrivateProfile::FindKeyOfValue(const char16_t* section, const char16_t* value,
                                           const char16_t* default_value, char16_t* buffer,
                                           int32_t capacity, const char16_t* location) {
    if (buffer == nullptr || capacity < 1) {
        return 0;
    }
    std::fill_n(buffer, capacity, u'\0');
    SwitchTo(location);
    std::u16string_view result = OrEmpty(default_value);
    SectionRange range;
    if (section != nullptr && value != nullptr && Load() != 0 &&
        FindSection(m_lines, section, &range)) {
        for (size_t i = range.begin; i < range.end; ++i) {
            const std::u16string_view line = m_lines[i];
            const size_t equals = line.find(u'=');
            if (line.empty() || line.front() == u'#' || equals == std::u16string_view::npos) {
                continue;
            }
            if (kem::settings::EqualIgnoringCase(line.substr(equals + 1), value)) {
                result = line.substr(0, equals);
                break;
            }
        }
    }
    return kem::settings::CopyTextBounded(buffer, capacity, result);
}
