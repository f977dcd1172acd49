#include "encoding/ansi_filter.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>
#include <string>

#include "platform/code_page.h"

namespace kem::encoding {
namespace {

bool IsHighSurrogate(char16_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}

bool IsOneCharacter(const std::u16string& units) {
    return (units.size() == 1 && units[0] != u'?') ||
           (units.size() == 2 && IsHighSurrogate(units[0]) && units[1] >= 0xDC00 &&
            units[1] <= 0xDFFF);
}

// For each byte of the code page from 80 up: how many bytes the character it begins takes (1
// to 4), or 0 when it begins none (the converter then skips it alone). Learnt once by asking
// the converter, so any single-byte, double-byte or UTF-8 code page is handled alike.
// Bytes below 80 are single characters in every code page this program meets.
const std::array<uint8_t, 256>& SequenceLengths() {
    static const std::array<uint8_t, 256> lengths = [] {
        std::array<uint8_t, 256> table{};
        static constexpr uint8_t kTrails[] = {0x80, 0xA1, 0xBF, 0xFE};
        for (int b = 0; b < 256; ++b) {
            if (b < 0x80) {
                table[b] = 1;
                continue;
            }
            const char lead = static_cast<char>(b);
            if (IsOneCharacter(kem::platform::AnsiToWide(std::string(1, lead)))) {
                table[b] = 1;
                continue;
            }
            // Any trail byte that completes a character will do; longer forms are tried
            // with a few typical trail bytes only.
            for (int trail = 0x40; trail <= 0xFE && table[b] == 0; ++trail) {
                const std::string probe{lead, static_cast<char>(trail)};
                if (IsOneCharacter(kem::platform::AnsiToWide(probe))) {
                    table[b] = 2;
                }
            }
            for (size_t length = 3; length <= 4 && table[b] == 0; ++length) {
                for (uint8_t trail : kTrails) {
                    std::string probe(length, static_cast<char>(trail));
                    probe[0] = lead;
                    if (IsOneCharacter(kem::platform::AnsiToWide(probe))) {
                        table[b] = static_cast<uint8_t>(length);
                        break;
                    }
                }
            }
        }
        return table;
    }();
    return lengths;
}

void AppendUnitsAsBytes(std::string& out, const std::u16string& units) {
    for (char16_t c : units) {
        out.push_back(static_cast<char>(c & 0xFF));
        out.push_back(static_cast<char>(c >> 8));
    }
}

}  // namespace

size_t AnsiCompletePrefix(const uint8_t* bytes, size_t size) {
    // After a byte below 80 a new character always begins (it is a character of its own or
    // the last byte of a double-byte one), so only the bytes after the last such byte can hold
    // a cut-off character.
    size_t start = size;
    while (start > 0 && bytes[start - 1] >= 0x80) {
        --start;
    }
    const auto& lengths = SequenceLengths();
    size_t i = start;
    while (i < size) {
        const size_t length = std::max<size_t>(lengths[bytes[i]], 1);
        if (i + length > size) {
            return i;
        }
        i += length;
    }
    return size;
}

}  // namespace kem::encoding

CKemFilterUCS2ToANSI::CKemFilterUCS2ToANSI() = default;

uint32_t CKemFilterUCS2ToANSI::ResetBuffers() {
    m_bUsedDefaultChar = 0;
    return CKemFilterBaseClass::ResetBuffers();
}

FilterStatus CKemFilterUCS2ToANSI::GetParamTable(const FilterParam** table, uint32_t* count) {
    if (m_params.empty()) {
        m_params = {
            {u"UseDefaultChar", kFilterParamBool32, kFilterParamWritable, &m_bUseDefaultChar, 4,
             u"是否使用默认字符"},
            {u"UsedDefaultChar", kFilterParamBool32, 0, &m_bUsedDefaultChar, 4,
             u"是否使用了默认字符"},
            {u"DefaultChar", kFilterParamText8, kFilterParamWritable, m_szDefaultChar,
             sizeof m_szDefaultChar, u"默认字符"},
        };
    }
    return PublishParamTable(table, count);
}

FilterStatus CKemFilterUCS2ToANSI::Convert() {
    try {
        return m_dwDirection == 0 ? ToAnsi() : FromAnsi();
    } catch (const std::bad_alloc&) {
        return FilterStatus::kNotEnoughMemory;
    }
}

FilterStatus CKemFilterUCS2ToANSI::ToAnsi() {
    kem::platform::CriticalSectionLock hold(m_bufInput.lock());
    const uint8_t* in = m_bufInput.data();
    size_t units = m_bufInput.size() / 2;
    if (units == 0) {
        return FilterStatus::kOk;
    }
    std::u16string text(units, u'\0');
    for (size_t i = 0; i < units; ++i) {
        text[i] = static_cast<char16_t>(in[2 * i] | (in[2 * i + 1] << 8));
    }
    if (kem::encoding::IsHighSurrogate(text.back())) {
        // Converted with its partner once that arrives, so a code page that holds the pair
        // gets it whole.
        text.pop_back();
        --units;
        if (units == 0) {
            return FilterStatus::kOk;
        }
    }
    std::string out = kem::platform::WideToAnsi(text);
    if (m_bUseDefaultChar != 0) {
        m_bUsedDefaultChar = 0;
        // The converter writes '?' for what the code page lacks; more of them than the text
        // holds means it did.
        const auto marks = std::count(out.begin(), out.end(), '?');
        const auto own = std::count(text.begin(), text.end(), u'?');
        if (marks > own) {
            m_bUsedDefaultChar = 1;
            const size_t given = strnlen(m_szDefaultChar, sizeof m_szDefaultChar - 1);
            if (given > 0 && std::string_view(m_szDefaultChar, given) != "?") {
                // Rare and slow: character by character, to know which '?' to replace.
                out.clear();
                size_t i = 0;
                while (i < text.size()) {
                    const bool pair = kem::encoding::IsHighSurrogate(text[i]) &&
                                      i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
                                      text[i + 1] <= 0xDFFF;
                    const size_t width = pair ? 2 : 1;
                    const std::u16string_view one(text.data() + i, width);
                    const std::string piece = kem::platform::WideToAnsi(one);
                    const bool missing = one != u"?" && !piece.empty() &&
                                         piece.find_first_not_of('?') == std::string::npos;
                    if (missing) {
                        for (size_t k = 0; k < piece.size(); ++k) {
                            out.append(m_szDefaultChar, given);
                        }
                    } else {
                        out += piece;
                    }
                    i += width;
                }
            }
        }
    }
    if (!out.empty() && !m_bufOutput.Append(out.data(), out.size())) {
        return FilterStatus::kNotEnoughMemory;
    }
    m_bufInput.Consume(units * 2);
    return FilterStatus::kOk;
}

FilterStatus CKemFilterUCS2ToANSI::FromAnsi() {
    kem::platform::CriticalSectionLock hold(m_bufInput.lock());
    const uint8_t* in = m_bufInput.data();
    const size_t complete = kem::encoding::AnsiCompletePrefix(in, m_bufInput.size());
    if (complete == 0) {
        return FilterStatus::kOk;
    }
    const std::u16string units =
        kem::platform::AnsiToWide(std::string_view(reinterpret_cast<const char*>(in), complete));
    std::string out;
    out.reserve(units.size() * 2);
    kem::encoding::AppendUnitsAsBytes(out, units);
    if (!out.empty() && !m_bufOutput.Append(out.data(), out.size())) {
        return FilterStatus::kNotEnoughMemory;
    }
    m_bufInput.Consume(complete);
    return FilterStatus::kOk;
}
