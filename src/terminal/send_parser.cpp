#include "terminal/send_parser.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "platform/ascii_case.h"
#include "platform/code_page.h"
#include "terminal/checksum.h"
#include "terminal/ctrl_char_table.h"

namespace {

// Whether the ANSI code page writes and reads every ASCII character as its own single byte.
// Then ASCII text can skip the converter, which would dominate the cost of typical sends.
bool AnsiKeepsAscii() {
    static const bool keeps = [] {
        std::u16string wide;
        std::string narrow;
        for (int unit = 1; unit < 0x80; ++unit) {
            wide += static_cast<char16_t>(unit);
            narrow += static_cast<char>(unit);
        }
        return kem::platform::WideToAnsi(wide) == narrow &&
               kem::platform::AnsiToWide(narrow) == wide;
    }();
    return keeps;
}

// `text` in the ANSI code page without cutting at zero bytes. Text of plain ASCII, by far the
// most common, skips the converter; anything else goes through it whole, in one piece, so a
// code page with shift states sees the text as one run.
std::string ToAnsi(std::u16string_view text) {
    if (!AnsiKeepsAscii() ||
        std::any_of(text.begin(), text.end(), [](char16_t unit) { return unit >= 0x80; })) {
        return kem::platform::WideToAnsi(text);
    }
    return std::string(text.begin(), text.end());
}

// A short ASCII name folded to upper case and packed with its length into one word, so the
// lookup of a bracketed name costs a few integer compares instead of 34 text compares.
uint32_t PackAsciiName(std::string_view name) {
    uint32_t key = static_cast<uint32_t>(name.size()) << 24;
    for (size_t i = 0; i < name.size(); ++i) {
        auto byte = static_cast<unsigned char>(name[i]);
        if (byte >= 'a' && byte <= 'z') {
            byte = static_cast<unsigned char>(byte - 'a' + 'A');
        }
        key |= static_cast<uint32_t>(byte) << (8 * i);
    }
    return key;
}

struct NameKey {
    uint32_t key;
    uint8_t code;
};

// The table's names of two or three ASCII units as packed keys, in table order, so the first
// record of a name wins as it does in FindCtrlCharByName.
const std::vector<NameKey>& AsciiNameKeys() {
    static const std::vector<NameKey> keys = [] {
        std::vector<NameKey> built;
        for (const tagCtrlCharInfo& record : CtrlCharTable()) {
            const std::u16string_view name(record.Name);
            if (name.size() < 2 || name.size() > 3 ||
                !std::all_of(name.begin(), name.end(), [](char16_t unit) { return unit < 0x80; })) {
                continue;
            }
            const std::string narrow(name.begin(), name.end());
            built.push_back({PackAsciiName(narrow), static_cast<uint8_t>(record.code)});
        }
        return built;
    }();
    return keys;
}

bool IsAsciiRun(std::string_view bytes) {
    return std::all_of(bytes.begin(), bytes.end(),
                       [](char byte) { return static_cast<unsigned char>(byte) < 0x80; });
}

// What the bytes between a pair of brackets name: a control character's byte or a checksum.
struct NameMeaning {
    std::optional<uint8_t> code;
    std::optional<ChecksumKind> checksum;
};

// Looks the bracketed `name` up among the control characters and, with `checksums`, among the
// checksum names; a control character wins (no name is both).
NameMeaning LookUpName(std::string_view name, bool checksums) {
    if (name.size() < 2 || name.size() > kMaxNameBytes) {
        return {};
    }
    if (AnsiKeepsAscii() && IsAsciiRun(name)) {
        if (name.size() <= 3) {
            const uint32_t key = PackAsciiName(name);
            for (const NameKey& entry : AsciiNameKeys()) {
                if (entry.key == key) {
                    return {entry.code, std::nullopt};
                }
            }
        }
        // Control names have two or three letters; only a checksum can be longer.
        if (checksums) {
            return {std::nullopt, FindChecksumByName(name)};
        }
        return {};
    }
    const std::u16string wide = kem::platform::AnsiToWide(name);
    if (const auto code = FindCtrlCharByName(wide)) {
        return {code, std::nullopt};
    }
    if (checksums) {
        return {std::nullopt, FindChecksumByName(wide)};
    }
    return {};
}

// A checksum name taken out of the bytes: its bytes go at `position` of the names step's result.
struct ChecksumMark {
    size_t position;
    ChecksumKind kind;
};

// The names step. Control-character names become their bytes; with `marks`, checksum names are
// also taken out and recorded there in order, since their bytes can only be known once the
// escapes before them are decoded. See ReplaceCtrlCharNames for the scanning rule.
std::string ReplaceNames(std::string_view bytes, uint8_t open, uint8_t close,
                         std::vector<ChecksumMark>* marks) {
    std::string out;
    out.reserve(bytes.size());
    const char open_char = static_cast<char>(open);
    const char close_char = static_cast<char>(close);
    // The first closing byte after the current '['. It only moves forward, so a text full of
    // '[' without ']' is scanned once, not once per '['.
    size_t next_close = 0;
    size_t i = 0;
    while (i < bytes.size()) {
        const size_t bracket = bytes.find(open_char, i);
        if (bracket == std::string_view::npos) {
            out.append(bytes.substr(i));
            break;
        }
        out.append(bytes.substr(i, bracket - i));
        i = bracket;
        if (next_close <= i) {
            next_close = bytes.find(close_char, i + 1);
        }
        if (next_close == std::string_view::npos) {
            // No '[' from here on has a partner.
            out.append(bytes.substr(i));
            break;
        }
        const NameMeaning meaning =
            LookUpName(bytes.substr(i + 1, next_close - i - 1), marks != nullptr);
        if (meaning.code) {
            out += static_cast<char>(*meaning.code);
            i = next_close + 1;
        } else if (meaning.checksum) {
            marks->push_back({out.size(), *meaning.checksum});
            i = next_close + 1;
        } else {
            out += open_char;
            ++i;
        }
    }
    return out;
}

}  // namespace

std::string SendTextToAnsi(std::u16string_view text) {
    std::string bytes = ToAnsi(text);
    const size_t zero = bytes.find('\0');
    if (zero != std::string::npos) {
        bytes.resize(zero);
    }
    return bytes;
}

std::string ReplaceCtrlCharNames(std::string_view bytes, uint8_t open, uint8_t close) {
    return ReplaceNames(bytes, open, close, nullptr);
}

int32_t DecodeEscape(uint8_t* collected, int32_t count) {
    if (collected == nullptr || (count != 3 && count != 4) || collected[0] != '\\' ||
        (collected[1] != 'x' && collected[1] != 'X')) {
        return count;
    }
    const int high = kem::platform::HexDigitValue(collected[2]);
    if (high < 0) {
        return count;
    }
    if (count == 3) {
        collected[0] = static_cast<uint8_t>(high);
        return 1;
    }
    const int low = kem::platform::HexDigitValue(collected[3]);
    if (low < 0) {
        collected[0] = static_cast<uint8_t>(high);
        collected[1] = collected[3];
        return 2;
    }
    collected[0] = static_cast<uint8_t>(high * 16 + low);
    return 1;
}

int32_t ParseEscapes(const uint8_t* source, int32_t length, uint8_t* destination,
                     int32_t capacity) {
    if (destination == nullptr || capacity < 1) {
        return 0;
    }
    std::memset(destination, 0, static_cast<size_t>(capacity));
    if (source == nullptr) {
        return 0;
    }
    if (length < 0) {
        length = static_cast<int32_t>(std::strlen(reinterpret_cast<const char*>(source)));
    }
    int32_t written = 0;
    const auto write = [&](const uint8_t* bytes, int32_t count) {
        const int32_t fit = std::min(count, capacity - written);
        std::memcpy(destination + written, bytes, static_cast<size_t>(fit));
        written += fit;
    };

    uint8_t collected[4];
    int32_t k = 0;
    int32_t p = 0;
    while (p < length && written < capacity) {
        const uint8_t byte = source[p];
        if (k == 0 && byte != '\\') {
            // Plain text up to the next backslash goes across in one copy.
            const void* next = std::memchr(source + p, '\\', static_cast<size_t>(length - p));
            const int32_t end =
                next == nullptr ? length
                                : static_cast<int32_t>(static_cast<const uint8_t*>(next) - source);
            write(source + p, end - p);
            p = end;
            continue;
        }
        if (byte == '\\' && k > 0) {
            if (k == 1) {
                // "\\": one backslash, and this one is used up too.
                write(&byte, 1);
                ++p;
            } else {
                // This backslash starts the next escape.
                write(collected, DecodeEscape(collected, k));
            }
            k = 0;
            continue;
        }
        collected[k++] = byte;
        ++p;
        if (collected[0] != '\\') {
            write(collected, 1);
            k = 0;
        } else if (k == 4 || p == length) {
            write(collected, DecodeEscape(collected, k));
            k = 0;
        }
    }
    return written;
}

void AppendLineEnd(std::string& bytes, bool auto_send_enter, bool send_0d0a) {
    if (!auto_send_enter) {
        return;
    }
    if (!bytes.empty() && (bytes.back() == '\r' || bytes.back() == '\n')) {
        return;
    }
    bytes += send_0d0a ? "\r\n" : "\r";
}

namespace {

// Appends `segment` to `out`, with its "\x" escapes decoded when `parse_hex` is set.
void AppendSegment(std::string& out, std::string_view segment, bool parse_hex) {
    if (!parse_hex || segment.empty()) {
        out.append(segment);
        return;
    }
    // Decoding never lengthens the bytes, so room for the segment itself always suffices.
    const size_t start = out.size();
    out.resize(start + segment.size());
    const int32_t count = ParseEscapes(
        reinterpret_cast<const uint8_t*>(segment.data()), static_cast<int32_t>(segment.size()),
        reinterpret_cast<uint8_t*>(out.data() + start), static_cast<int32_t>(segment.size()));
    out.resize(start + static_cast<size_t>(count));
}

}  // namespace

std::string ParseSendText(std::u16string_view text, const SendOptions& options) {
    if (text.empty()) {
        return {};
    }
    std::string bytes = SendTextToAnsi(text);
    std::vector<ChecksumMark> marks;
    if (options.parse_char_name) {
        bytes = ReplaceNames(bytes, static_cast<uint8_t>(options.name_open & 0xFF),
                             static_cast<uint8_t>(options.name_close & 0xFF), &marks);
    }
    if (marks.empty()) {
        if (options.parse_hex && !bytes.empty()) {
            std::string decoded;
            AppendSegment(decoded, bytes, true);
            bytes = std::move(decoded);
        }
        AppendLineEnd(bytes, options.auto_send_enter, options.send_0d0a);
        return bytes;
    }
    // A checksum name ends the text between names like any other name: each piece is decoded
    // on its own (an escape cut short by the name ends there, as at the end of the text), and
    // the checksum covers the decoded bytes since the previous checksum's own bytes began.
    std::string out;
    out.reserve(bytes.size() + 2 * marks.size() + 2);
    size_t piece_start = 0;
    size_t covered_from = 0;
    size_t checksum_end = std::string::npos;
    for (const ChecksumMark& mark : marks) {
        AppendSegment(out, std::string_view(bytes).substr(piece_start, mark.position - piece_start),
                      options.parse_hex);
        const size_t this_start = out.size();
        AppendChecksum(out, covered_from, mark.kind);
        covered_from = this_start;
        checksum_end = out.size();
        piece_start = mark.position;
    }
    AppendSegment(out, std::string_view(bytes).substr(piece_start), options.parse_hex);
    if (out.size() == checksum_end && options.auto_send_enter) {
        // A checksum that happens to end in CR or LF is data, not a line end the user typed.
        out += options.send_0d0a ? "\r\n" : "\r";
    } else {
        AppendLineEnd(out, options.auto_send_enter, options.send_0d0a);
    }
    return out;
}

std::u16string_view SelectSendText(std::u16string_view input, int64_t start, int64_t end) {
    const int64_t size = static_cast<int64_t>(input.size());
    start = std::clamp<int64_t>(start, 0, size);
    end = std::clamp<int64_t>(end, 0, size);
    if (start == end) {
        return input;
    }
    const int64_t first = std::min(start, end);
    return input.substr(static_cast<size_t>(first),
                        static_cast<size_t>(std::max(start, end) - first));
}

std::string TypedCharBytes(std::u16string_view typed, bool send_0d0a) {
    if (typed == u"\r") {
        return send_0d0a ? "\r\n" : "\r";
    }
    return ToAnsi(typed);
}

std::vector<std::string_view> SplitSendBlocks(std::string_view content) {
    std::vector<std::string_view> blocks;
    blocks.reserve(content.size() / kSendFileBlockBytes + 1);
    for (size_t offset = 0; offset < content.size(); offset += kSendFileBlockBytes) {
        blocks.push_back(content.substr(offset, kSendFileBlockBytes));
    }
    return blocks;
}

kem::platform::FileContent ReadSendFile(std::u16string_view path) {
    return kem::platform::ReadWholeFile(kem::platform::WideToUtf8(path), kSendFileMaxBytes);
}

std::u16string CannotOpenFileText(std::u16string_view path) {
    return u"无法打开文件:" + std::u16string(path);
}

std::u16string SendFileDialogName(std::u16string_view last_sent) {
    return last_sent.empty() ? std::u16string(u"*.*") : std::u16string(last_sent);
}
