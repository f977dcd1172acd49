#include "settings/profile_base.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "platform/ascii_case.h"
#include "platform/code_page.h"
#include "settings/structure.h"

namespace kem::settings {
namespace {

bool IsHighSurrogate(char16_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}

bool IsBlank(char16_t c) {
    return c == u' ' || (c >= u'\t' && c <= u'\r');
}

std::u16string_view UpToNul(std::u16string_view text) {
    const size_t nul = text.find(u'\0');
    return nul == std::u16string_view::npos ? text : text.substr(0, nul);
}

std::u16string Widen(std::string_view ascii) {
    return std::u16string(ascii.begin(), ascii.end());
}

// The ASCII part of a scalar text; a unit outside ASCII ends it (no number contains one).
std::string Narrow(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char16_t c : text) {
        if (c == 0 || c > 0x7F) {
            break;
        }
        out.push_back(static_cast<char>(c));
    }
    return out;
}

// Decimal conversion as the C library reads it: leading blanks, optional sign, digits,
// saturated to [minimum, maximum]; 0 without digits.
int64_t ParseDecimal(std::string_view text, int64_t minimum, int64_t maximum) {
    size_t i = 0;
    while (i < text.size() && IsBlank(static_cast<char16_t>(text[i]))) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    // Accumulate as a negative number so that the lowest value fits.
    int64_t value = 0;
    bool saturated = false;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        const int digit = text[i] - '0';
        if (value < (std::numeric_limits<int64_t>::min() + digit) / 10) {
            saturated = true;
            continue;
        }
        value = value * 10 - digit;
    }
    if (negative) {
        return saturated ? minimum : std::max(value, minimum);
    }
    if (saturated || value == std::numeric_limits<int64_t>::min()) {
        return maximum;
    }
    return std::min(-value, maximum);
}

// Hexadecimal digits after optional blanks, sign and (when `prefix`) "0x"; false without any
// digit. The value saturates at `maximum`.
bool ParseHex(std::string_view text, bool prefix, uint64_t maximum, uint64_t* value) {
    size_t i = 0;
    while (i < text.size() && IsBlank(static_cast<char16_t>(text[i]))) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    if (prefix && i + 1 < text.size() && text[i] == '0' &&
        (text[i + 1] == 'x' || text[i + 1] == 'X') && i + 2 < text.size() &&
        kem::platform::HexDigitValue(text[i + 2]) >= 0) {
        i += 2;
    }
    uint64_t result = 0;
    bool any = false;
    for (; i < text.size() && kem::platform::HexDigitValue(text[i]) >= 0; ++i) {
        any = true;
        const uint64_t digit = static_cast<uint64_t>(kem::platform::HexDigitValue(text[i]));
        result = (result > (maximum - digit) / 16) ? maximum : result * 16 + digit;
    }
    if (!any) {
        return false;
    }
    *value = negative ? (0 - result) & maximum : result;
    return true;
}

std::u16string HexUpper(uint64_t value, int min_digits) {
    char buffer[24];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof(buffer), value, 16);
    std::string digits(buffer, end);
    std::transform(digits.begin(), digits.end(), digits.begin(),
                   [](char c) { return (c >= 'a' && c <= 'f') ? static_cast<char>(c - 32) : c; });
    if (static_cast<int>(digits.size()) < min_digits) {
        digits.insert(0, static_cast<size_t>(min_digits) - digits.size(), '0');
    }
    return Widen(digits);
}

template <typename T>
std::u16string Decimal(T value) {
    char buffer[32];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof(buffer), value);
    return Widen(std::string_view(buffer, static_cast<size_t>(end - buffer)));
}

// "%.16e" with the exponent widened to three digits, as stored files have it; the C locale's
// decimal point whatever the process locale is.
std::u16string ScientificText(double value) {
    char buffer[64];
    auto [end, ec] =
        std::to_chars(buffer, buffer + sizeof(buffer), value, std::chars_format::scientific, 16);
    std::string text(buffer, end);
    const size_t e = text.find('e');
    if (e != std::string::npos && e + 2 < text.size()) {
        const size_t digits = text.size() - (e + 2);
        if (digits < 3) {
            text.insert(e + 2, 3 - digits, '0');
        }
    }
    return Widen(text);
}

double ParseDouble(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && IsBlank(static_cast<char16_t>(text[i]))) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        return 0.0;  // a second sign: no number
    }
    double value = 0.0;
    const char* first = text.data() + i;
    const char* last = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(first, last, value, std::chars_format::general);
    if (ec == std::errc::result_out_of_range) {
        // Too large gives infinity, too small gives zero, as the C library's conversion does.
        const std::string_view number(first, static_cast<size_t>(ptr - first));
        const size_t e = number.find_first_of("eE");
        const bool tiny =
            e != std::string_view::npos && e + 1 < number.size() && number[e + 1] == '-';
        value = tiny ? 0.0 : std::numeric_limits<double>::infinity();
    } else if (ec != std::errc()) {
        return 0.0;
    }
    return negative ? -value : value;
}

// One pair of ReadBytes: the two characters read as one hexadecimal number.
bool ParseHexPair(const char16_t* pair, uint32_t* value) {
    const std::string text = Narrow(std::u16string_view(pair, 2));
    uint64_t parsed = 0;
    if (!ParseHex(text, false, 0xFFFFFFFFu, &parsed)) {
        return false;
    }
    *value = static_cast<uint32_t>(parsed);
    return true;
}

std::u16string DateTimeText(double date) {
    CivilDateTime civil;
    if (!OleDateToCivil(date, &civil)) {
        return {};
    }
    return FormatCivilDateTime(civil, u"%Y-%m-%d %H:%M:%S");
}

}  // namespace

int32_t CopyTextBounded(char16_t* buffer, int32_t capacity, std::u16string_view text) {
    if (buffer == nullptr || capacity < 1) {
        return 0;
    }
    text = UpToNul(text);
    size_t length = std::min(text.size(), static_cast<size_t>(capacity - 1));
    if (length < text.size() && length > 0 && IsHighSurrogate(text[length - 1])) {
        --length;
    }
    std::copy_n(text.data(), length, buffer);
    buffer[length] = u'\0';
    return static_cast<int32_t>(length);
}

int32_t CopyTextBoundedAnsi(char* buffer, int32_t capacity, std::u16string_view text) {
    if (buffer == nullptr || capacity < 1) {
        return 0;
    }
    std::memset(buffer, 0, static_cast<size_t>(capacity));
    text = UpToNul(text);
    const size_t room = static_cast<size_t>(capacity - 1);
    std::string bytes = kem::platform::WideToAnsi(text);
    if (bytes.size() > room) {
        // Whole characters only: add one code point at a time while its bytes fit.
        bytes.clear();
        size_t i = 0;
        while (i < text.size()) {
            const size_t units = (IsHighSurrogate(text[i]) && i + 1 < text.size()) ? 2 : 1;
            const std::string piece = kem::platform::WideToAnsi(text.substr(i, units));
            if (bytes.size() + piece.size() > room) {
                break;
            }
            bytes += piece;
            i += units;
        }
    }
    std::memcpy(buffer, bytes.data(), bytes.size());
    return static_cast<int32_t>(bytes.size());
}

size_t TextLength(const char16_t* text) {
    return text == nullptr ? 0 : std::char_traits<char16_t>::length(text);
}

}  // namespace kem::settings

// The member functions below live outside the namespace; they share its local helpers.
using kem::settings::DateTimeText;
using kem::settings::Decimal;
using kem::settings::HexUpper;
using kem::settings::Narrow;
using kem::settings::ParseDecimal;
using kem::settings::ParseDouble;
using kem::settings::ParseHex;
using kem::settings::ParseHexPair;
using kem::settings::ScientificText;

CKemProfileBaseClass::~CKemProfileBaseClass() {
    m_bModified = 0;
    m_bLoaded = 0;
}

int32_t CKemProfileBaseClass::SetLocation(const char16_t*, int32_t) {
    return 0;
}

int32_t CKemProfileBaseClass::Load() {
    m_bLoaded = 1;
    return 1;
}

int32_t CKemProfileBaseClass::Save() {
    m_bModified = 0;
    return 1;
}

int32_t CKemProfileBaseClass::ImportFile(const char16_t*) {
    return 0;
}

int32_t CKemProfileBaseClass::Flush(int32_t) {
    return 1;
}

int32_t CKemProfileBaseClass::Reset() {
    Close();
    m_bKeepOpen = 0;
    m_bScramble = 0;
    m_byScrambleKey = 0;
    m_bSafeSave = 0;
    m_bEmptyIsDefault = 0;
    return 0;
}

int32_t CKemProfileBaseClass::Close() {
    m_bModified = 0;
    m_bLoaded = 0;
    return 1;
}

int32_t CKemProfileBaseClass::IsLoaded() {
    return m_bLoaded;
}

int32_t CKemProfileBaseClass::IsModified() {
    return m_bModified;
}

int32_t CKemProfileBaseClass::Exists(int32_t) {
    return 1;
}

int32_t CKemProfileBaseClass::HasSection(const char16_t*) {
    return 0;
}

int32_t CKemProfileBaseClass::Reserved() {
    return 0;
}

int32_t CKemProfileBaseClass::SetLoaded(int32_t value) {
    m_bLoaded = value;
    return value;
}

int32_t CKemProfileBaseClass::SetModified(int32_t value) {
    m_bModified = value;
    return value;
}

int32_t CKemProfileBaseClass::SectionExists(const char16_t*, const char16_t*, const char16_t*) {
    return 0;
}

int32_t CKemProfileBaseClass::DeleteValue(const char16_t*, const char16_t*, const char16_t*) {
    return 0;
}

int32_t CKemProfileBaseClass::DeleteSection(const char16_t*, const char16_t*) {
    return 0;
}

int32_t CKemProfileBaseClass::DeleteAll(const char16_t*) {
    return 0;
}

int32_t CKemProfileBaseClass::EnumSections(std::vector<std::u16string>* out, const char16_t*) {
    if (out != nullptr) {
        out->clear();
    }
    return 0;
}

int32_t CKemProfileBaseClass::EnumKeys(const char16_t*, std::vector<std::u16string>* out,
                                       const char16_t*) {
    if (out != nullptr) {
        out->clear();
    }
    return 0;
}

int32_t CKemProfileBaseClass::WriteSection(const char16_t*, const char16_t*, const char16_t*) {
    return 0;
}

int32_t CKemProfileBaseClass::ReadSection(const char16_t*, char16_t*, int32_t, const char16_t*) {
    return 0;
}

int32_t CKemProfileBaseClass::WriteStringRaw(const char16_t*, const char16_t*, const char16_t*,
                                             const char16_t*) {
    m_bModified = 1;
    return 1;
}

int32_t CKemProfileBaseClass::ReadStringRaw(const char16_t*, const char16_t*, const char16_t*,
                                            char16_t*, int32_t, const char16_t*) {
    return 0;
}

int32_t CKemProfileBaseClass::WriteStringW(const char16_t* section, const char16_t* key,
                                           const char16_t* value, const char16_t* location) {
    return WriteStringRaw(section, key, value, location);
}

int32_t CKemProfileBaseClass::WriteStringA(const char16_t* section, const char16_t* key,
                                           const char* value, const char16_t* location) {
    const std::u16string wide =
        value == nullptr ? std::u16string() : kem::platform::AnsiToWide(value);
    return WriteStringW(section, key, wide.c_str(), location);
}

int32_t CKemProfileBaseClass::WriteString(const char16_t* section, const char16_t* key,
                                          const char16_t* value, const char16_t* location) {
    return WriteStringW(section, key, value, location);
}

std::u16string CKemProfileBaseClass::GetString(const char16_t* section, const char16_t* key,
                                               const char16_t* default_value,
                                               const char16_t* location) {
    std::u16string buffer(kStringObjectUnits, u'\0');
    ReadStringW(section, key, default_value, buffer.data(), kStringObjectUnits, location);
    // Trusts the terminator, not the returned length, so a store that miscounts cannot make
    // the object hold more than its text.
    buffer.resize(kem::settings::TextLength(buffer.c_str()));
    return buffer;
}

int32_t CKemProfileBaseClass::ReadStringW(const char16_t* section, const char16_t* key,
                                          const char16_t* default_value, char16_t* buffer,
                                          int32_t capacity, const char16_t* location) {
    return ReadStringRaw(section, key, default_value, buffer, capacity, location);
}

int32_t CKemProfileBaseClass::ReadStringA(const char16_t* section, const char16_t* key,
                                          const char* default_value, char* buffer, int32_t capacity,
                                          const char16_t* location) {
    if (buffer == nullptr || capacity < 1) {
        return 0;
    }
    const std::u16string wide_default =
        default_value == nullptr ? std::u16string() : kem::platform::AnsiToWide(default_value);
    std::u16string wide(static_cast<size_t>(capacity), u'\0');
    ReadStringW(section, key, wide_default.c_str(), wide.data(), capacity, location);
    return kem::settings::CopyTextBoundedAnsi(buffer, capacity, wide);
}

int32_t CKemProfileBaseClass::ReadString(const char16_t* section, const char16_t* key,
                                         const char16_t* default_value, char16_t* buffer,
                                         int32_t capacity, const char16_t* location) {
    return ReadStringW(section, key, default_value, buffer, capacity, location);
}

std::u16string CKemProfileBaseClass::GetKeyOfValue(const char16_t* section, const char16_t* value,
                                                   const char16_t* default_value,
                                                   const char16_t* location) {
    std::u16string buffer(kStringObjectUnits, u'\0');
    FindKeyOfValue(section, value, default_value, buffer.data(), kStringObjectUnits, location);
    buffer.resize(kem::settings::TextLength(buffer.c_str()));
    return buffer;
}

int32_t CKemProfileBaseClass::FindKeyOfValue(const char16_t*, const char16_t*, const char16_t*,
                                             char16_t*, int32_t, const char16_t*) {
    return 0;
}

// ---- typed value codecs ----

namespace {

// Whether the value exists and is not empty; the readers fall back to the default otherwise.
bool ReadScalar(CKemProfileBaseClass& store, const char16_t* section, const char16_t* key,
                const char16_t* location, std::u16string* text) {
    char16_t buffer[CKemProfileBaseClass::kScalarUnits] = {};
    const int32_t length = store.ReadStringW(section, key, nullptr, buffer,
                                             CKemProfileBaseClass::kScalarUnits, location);
    buffer[CKemProfileBaseClass::kScalarUnits - 1] = u'\0';
    if (length <= 0 || buffer[0] == u'\0') {
        return false;
    }
    *text = buffer;
    return true;
}

}  // namespace

int32_t CKemProfileBaseClass::WriteInt(const char16_t* section, const char16_t* key, int32_t value,
                                       const char16_t* location) {
    return WriteStringW(section, key, Decimal(value).c_str(), location);
}

int32_t CKemProfileBaseClass::ReadInt(const char16_t* section, const char16_t* key,
                                      int32_t default_value, const char16_t* location) {
    std::u16string text;
    if (!ReadScalar(*this, section, key, location, &text)) {
        return default_value;
    }
    return static_cast<int32_t>(ParseDecimal(Narrow(text), INT32_MIN, INT32_MAX));
}

int32_t CKemProfileBaseClass::WriteUInt(const char16_t* section, const char16_t* key,
                                        uint32_t value, const char16_t* location) {
    return WriteStringW(section, key, Decimal(value).c_str(), location);
}

uint32_t CKemProfileBaseClass::ReadUInt(const char16_t* section, const char16_t* key,
                                        uint32_t default_value, const char16_t* location) {
    std::u16string text;
    if (!ReadScalar(*this, section, key, location, &text)) {
        return default_value;
    }
    const int64_t value = ParseDecimal(Narrow(text), INT64_MIN, INT64_MAX);
    return static_cast<uint32_t>(static_cast<uint64_t>(value));
}

int32_t CKemProfileBaseClass::WriteInt64(const char16_t* section, const char16_t* key,
                                         int64_t value, const char16_t* location) {
    return WriteStringW(section, key, Decimal(value).c_str(), location);
}

int64_t CKemProfileBaseClass::ReadInt64(const char16_t* section, const char16_t* key,
                                        int64_t default_value, const char16_t* location) {
    std::u16string text;
    if (!ReadScalar(*this, section, key, location, &text)) {
        return default_value;
    }
    return ParseDecimal(Narrow(text), INT64_MIN, INT64_MAX);
}

int32_t CKemProfileBaseClass::WriteUInt64(const char16_t* section, const char16_t* key,
                                          uint64_t value, const char16_t* location) {
    return WriteStringW(section, key, Decimal(value).c_str(), location);
}

uint64_t CKemProfileBaseClass::ReadUInt64(const char16_t* section, const char16_t* key,
                                          uint64_t default_value, const char16_t* location) {
    std::u16string text;
    if (!ReadScalar(*this, section, key, location, &text)) {
        return default_value;
    }
    // The signed conversion: stored values above the signed limit read back as that limit.
    return static_cast<uint64_t>(ParseDecimal(Narrow(text), INT64_MIN, INT64_MAX));
}

int32_t CKemProfileBaseClass::WriteDword(const char16_t* section, const char16_t* key,
                                         uint32_t value, const char16_t* location) {
    return WriteUInt(section, key, value, location);
}

uint32_t CKemProfileBaseClass::ReadDword(const char16_t* section, const char16_t* key,
                                         uint32_t default_value, const char16_t* location) {
    return ReadUInt(section, key, default_value, location);
}

int32_t CKemProfileBaseClass::WriteHex(const char16_t* section, const char16_t* key, uint32_t value,
                                       const char16_t* location) {
    return WriteStringW(section, key, (u"0x" + HexUpper(value, 1)).c_str(), location);
}

uint32_t CKemProfileBaseClass::ReadHex(const char16_t* section, const char16_t* key,
                                       uint32_t default_value, const char16_t* location) {
    std::u16string text;
    if (!ReadScalar(*this, section, key, location, &text)) {
        return default_value;
    }
    uint64_t value = 0;
    if (!ParseHex(Narrow(text), true, 0xFFFFFFFFu, &value)) {
        return default_value;
    }
    return static_cast<uint32_t>(value);
}

int32_t CKemProfileBaseClass::WriteBool(const char16_t* section, const char16_t* key, int32_t value,
                                        const char16_t* location) {
    return WriteStringW(section, key, value != 0 ? u"true" : u"false", location);
}

int32_t CKemProfileBaseClass::ReadBool(const char16_t* section, const char16_t* key,
                                       int32_t default_value, const char16_t* location) {
    std::u16string text;
    if (!ReadScalar(*this, section, key, location, &text)) {
        return default_value;
    }
    if (text.size() != 4) {
        return 0;
    }
    static constexpr char16_t kTrue[] = u"true";
    for (size_t i = 0; i < 4; ++i) {
        const char16_t c = text[i];
        const char16_t lower = (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c;
        if (lower != kTrue[i]) {
            return 0;
        }
    }
    return 1;
}

int32_t CKemProfileBaseClass::WriteDouble(const char16_t* section, const char16_t* key,
                                          double value, const char16_t* location) {
    return WriteStringW(section, key, ScientificText(value).c_str(), location);
}

double CKemProfileBaseClass::ReadDouble(const char16_t* section, const char16_t* key,
                                        double default_value, const char16_t* location) {
    std::u16string text;
    if (!ReadScalar(*this, section, key, location, &text)) {
        return default_value;
    }
    return ParseDouble(Narrow(text));
}

int32_t CKemProfileBaseClass::WriteBytes(const char16_t* section, const char16_t* key,
                                         const void* bytes, int32_t length,
                                         const char16_t* location, int32_t check) {
    if (length < 0 || (bytes == nullptr && length > 0)) {
        return 0;
    }
    static constexpr char16_t kDigits[] = u"0123456789ABCDEF";
    const auto* data = static_cast<const uint8_t*>(bytes);
    std::u16string text;
    text.reserve(static_cast<size_t>(length) * 2 + 2);
    uint8_t sum = 0;
    for (int32_t i = 0; i < length; ++i) {
        text.push_back(kDigits[data[i] >> 4]);
        text.push_back(kDigits[data[i] & 0x0F]);
        sum = static_cast<uint8_t>(sum + data[i]);
    }
    if (check != 0) {
        text.push_back(kDigits[sum >> 4]);
        text.push_back(kDigits[sum & 0x0F]);
    }
    return WriteStringW(section, key, text.c_str(), location);
}

int32_t CKemProfileBaseClass::ReadBytes(const char16_t* section, const char16_t* key,
                                        void* destination, int32_t* length,
                                        const char16_t* location, int32_t check) {
    if (length == nullptr) {
        return 0;
    }
    const int64_t expected = std::max<int32_t>(*length, 0);
    if (destination != nullptr && expected * 2 + 4 > INT32_MAX) {
        return 0;  // no text that long can be read; the destination is left alone
    }
    const int64_t capacity = destination != nullptr ? expected * 2 + 4 : 65536;
    std::u16string text(static_cast<size_t>(capacity), u'\0');
    ReadStringW(section, key, nullptr, text.data(), static_cast<int32_t>(capacity), location);
    text[text.size() - 1] = u'\0';
    const size_t read = kem::settings::TextLength(text.c_str());
    if (read == 0) {
        *length = 0;
        return 0;
    }
    if (destination == nullptr) {
        int64_t pairs = static_cast<int64_t>(read / 2);
        if (check != 0 && pairs > 0) {
            --pairs;
        }
        *length = static_cast<int32_t>(pairs);
        return 0;
    }
    auto* out = static_cast<uint8_t*>(destination);
    uint32_t value = 0;  // a pair that cannot be read repeats the previous byte
    uint8_t sum = 0;
    for (int64_t i = 0; i < expected; ++i) {
        ParseHexPair(text.data() + 2 * i, &value);
        out[i] = static_cast<uint8_t>(value);
        sum = static_cast<uint8_t>(sum + out[i]);
    }
    if (check != 0) {
        ParseHexPair(text.data() + 2 * expected, &value);
        if (static_cast<uint8_t>(value) != sum) {
            std::memset(out, 0, static_cast<size_t>(expected));
            return 0;
        }
    }
    return 1;
}

int32_t CKemProfileBaseClass::WritePointer(const char16_t* section, const char16_t* key,
                                           uint64_t value, const char16_t* location) {
    return WriteStringW(section, key, (u"0x" + HexUpper(value, 8)).c_str(), location);
}

uint64_t CKemProfileBaseClass::ReadPointer(const char16_t* section, const char16_t* key,
                                           uint64_t default_value, const char16_t* location) {
    std::u16string text;
    if (!ReadScalar(*this, section, key, location, &text)) {
        return default_value;
    }
    uint64_t value = 0;
    if (!ParseHex(Narrow(text), true, UINT64_MAX, &value)) {
        return default_value;
    }
    return value;
}

int32_t CKemProfileBaseClass::WriteDateTime(const char16_t* section, const char16_t* key,
                                            DateTimeValue value, const char16_t* location) {
    if (value.status != kDateTimeValid) {
        return 0;
    }
    const std::u16string text = DateTimeText(value.date);
    if (text.empty()) {
        return 0;
    }
    return WriteStringW(section, key, text.c_str(), location);
}

DateTimeValue CKemProfileBaseClass::ReadDateTime(const char16_t* section, const char16_t* key,
                                                 DateTimeValue default_value,
                                                 const char16_t* location) {
    const std::u16string text =
        default_value.status == kDateTimeValid ? DateTimeText(default_value.date) : u"";
    return ReadDateTimeText(section, key, text.c_str(), location);
}

DateTimeValue CKemProfileBaseClass::ReadDateTimeText(const char16_t* section, const char16_t* key,
                                                     const char16_t* default_text,
                                                     const char16_t* location) {
    std::u16string text = GetString(section, key, default_text, location);
    if (text.empty() && default_text != nullptr) {
        text = default_text;
    }
    DateTimeValue result;
    switch (kem::settings::ParseDateTimeText(text, &result.date)) {
        case kem::settings::DateParseResult::kOk:
            result.status = kDateTimeValid;
            break;
        case kem::settings::DateParseResult::kInvalid:
            result = {0.0, kDateTimeInvalid};
            break;
        case kem::settings::DateParseResult::kOverflow:
            result = {-1.0, kDateTimeInvalid};
            break;
    }
    return result;
}

DateTimeValue CKemProfileBaseClass::ReadDate(const char16_t* section, const char16_t* key,
                                             const char16_t* default_text,
                                             const char16_t* location) {
    DateTimeValue value = ReadDateTimeText(section, key, default_text, location);
    kem::settings::CivilDateTime civil;
    if (value.status != kDateTimeValid || !kem::settings::OleDateToCivil(value.date, &civil)) {
        return value;
    }
    civil.hour = civil.minute = civil.second = 0;
    kem::settings::CivilToOleDate(civil, &value.date);
    return value;
}

DateTimeValue CKemProfileBaseClass::ReadTime(const char16_t* section, const char16_t* key,
                                             const char16_t* default_text,
                                             const char16_t* location) {
    DateTimeValue value = ReadDateTimeText(section, key, default_text, location);
    kem::settings::CivilDateTime civil;
    if (value.status != kDateTimeValid || !kem::settings::OleDateToCivil(value.date, &civil)) {
        return value;
    }
    kem::settings::CivilDateTime time_only;
    time_only.hour = civil.hour;
    time_only.minute = civil.minute;
    time_only.second = civil.second;
    kem::settings::CivilToOleDate(time_only, &value.date);
    return value;
}

std::u16string CKemProfileBaseClass::FormatDate(const char16_t* section, const char16_t* key,
                                                const char16_t* default_text,
                                                const char16_t* format, const char16_t* location) {
    const DateTimeValue value = ReadDate(section, key, default_text, location);
    if (value.status != kDateTimeValid) {
        return std::u16string(kem::settings::InvalidDateTimeText());
    }
    return kem::settings::FormatOleDateTime(value.date, format == nullptr ? u"" : format);
}

std::u16string CKemProfileBaseClass::FormatTime(const char16_t* section, const char16_t* key,
                                                const char16_t* default_text,
                                                const char16_t* format, const char16_t* location) {
    const DateTimeValue value = ReadTime(section, key, default_text, location);
    if (value.status != kDateTimeValid) {
        return std::u16string(kem::settings::InvalidDateTimeText());
    }
    return kem::settings::FormatOleDateTime(value.date, format == nullptr ? u"" : format);
}

// ---- schema and structure binding ----

int32_t CKemProfileBaseClass::ParseSchema(SchemaField** out, const char16_t* schema,
                                          const char16_t* item_separator,
                                          const char16_t* field_separator,
                                          const char16_t* open_brace, const char16_t* close_brace) {
    return kem::settings::ParseSchema(out, schema, item_separator, field_separator, open_brace,
                                      close_brace);
}

void CKemProfileBaseClass::FreeSchema(SchemaField** fields, int32_t count) {
    kem::settings::FreeSchema(fields, count);
}

int32_t CKemProfileBaseClass::SaveStruct(const char16_t* section, const void* record,
                                         const char16_t* schema, const char16_t* location,
                                         const char16_t* item_separator,
                                         const char16_t* field_separator,
                                         const char16_t* open_brace, const char16_t* close_brace) {
    return kem::settings::SaveRecord(*this, section, record, schema, location, item_separator,
                                     field_separator, open_brace, close_brace);
}

int32_t CKemProfileBaseClass::LoadStruct(const char16_t* section, void* record,
                                         const char16_t* schema, const char16_t* location,
                                         const char16_t* item_separator,
                                         const char16_t* field_separator,
                                         const char16_t* open_brace, const char16_t* close_brace) {
    return kem::settings::LoadRecord(*this, section, record, schema, location, item_separator,
                                     field_separator, open_brace, close_brace);
}
