#include "terminal/input_box_text.h"

#include <algorithm>

#include "terminal/send_parser.h"

namespace {

constexpr std::u16string_view kCrEscape = u"\\x0D";
constexpr std::u16string_view kLfEscape = u"\\x0A";
constexpr std::u16string_view kPairUpper = u"\\x0D\\x0A";
constexpr std::u16string_view kPairLower = u"\\x0d\\x0a";

bool IsHighSurrogate(char16_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}

bool IsLowSurrogate(char16_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

// True when a cut after `length` units would split a surrogate pair.
bool SplitsPair(std::u16string_view text, size_t length) {
    return length > 0 && length < text.size() && IsHighSurrogate(text[length - 1]) &&
           IsLowSurrogate(text[length]);
}

// True when a cut after `length` units would separate the escapes of one CR LF line break.
bool SplitsLineBreak(std::u16string_view text, size_t length) {
    if (length < kCrEscape.size()) {
        return false;
    }
    return text.substr(length - kCrEscape.size(), kCrEscape.size()) == kCrEscape &&
           text.substr(length, kLfEscape.size()) == kLfEscape;
}

// What a stored text sends when both names and escapes are decoded, and with escapes only.
// The cut must keep both a prefix of the whole text's, whichever settings are on later.
struct Decoded {
    std::string with_names;
    std::string escapes_only;
};

Decoded Decode(std::u16string_view text) {
    SendOptions names;
    names.parse_char_name = true;
    names.parse_hex = true;
    SendOptions escapes;
    escapes.parse_hex = true;
    return {ParseSendText(text, names), ParseSendText(text, escapes)};
}

bool IsPrefix(const std::string& part, const std::string& whole) {
    return part.size() <= whole.size() && std::equal(part.begin(), part.end(), whole.begin());
}

}  // namespace

std::u16string InputBoxFromStored(std::u16string_view stored) {
    std::u16string shown;
    shown.reserve(stored.size());
    size_t i = 0;
    while (i < stored.size()) {
        const std::u16string_view rest = stored.substr(i);
        if (rest.starts_with(kPairUpper) || rest.starts_with(kPairLower)) {
            shown += u"\r\n";
            i += kPairUpper.size();
        } else {
            shown += stored[i];
            ++i;
        }
    }
    return shown;
}

std::u16string StoredFromInputBox(std::u16string_view text, size_t max_units) {
    std::u16string stored;
    stored.reserve(text.size());
    for (const char16_t unit : text) {
        if (unit == u'\r') {
            stored += kCrEscape;
        } else if (unit == u'\n') {
            stored += kLfEscape;
        } else {
            stored += unit;
        }
    }
    if (stored.size() <= max_units) {
        return stored;
    }
    const std::u16string_view whole = stored;
    const Decoded whole_bytes = Decode(whole);
    // An escape takes at most four units and a name at most kMaxNameBytes + 2, so the search
    // steps back only a few units in practice; it stops at the empty text, which always fits.
    for (size_t length = max_units; length > 0; --length) {
        if (SplitsPair(whole, length) || SplitsLineBreak(whole, length)) {
            continue;
        }
        const Decoded part = Decode(whole.substr(0, length));
        if (IsPrefix(part.with_names, whole_bytes.with_names) &&
            IsPrefix(part.escapes_only, whole_bytes.escapes_only)) {
            return std::u16string(whole.substr(0, length));
        }
    }
    return {};
}

std::u16string CutStoredText(std::u16string_view text, size_t max_units) {
    size_t length = std::min(text.size(), max_units);
    if (SplitsPair(text, length)) {
        --length;
    }
    return std::u16string(text.substr(0, length));
}
