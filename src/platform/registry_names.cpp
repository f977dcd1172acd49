#include "platform/registry_names.h"

#include <locale.h>
#include <wctype.h>

#include <cstdint>

namespace kem::platform {
namespace {

bool IsHighSurrogate(char32_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}

bool IsLowSurrogate(char32_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

void AppendCodePoint(std::string& out, char32_t c) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

void AppendUtf16(std::u16string& out, char32_t c) {
    if (c < 0x10000) {
        out.push_back(static_cast<char16_t>(c));
    } else {
        c -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
    }
}

// Calls `sink` with each code point of `name`; an unpaired surrogate is passed on as itself.
template <typename Sink>
void ForEachCodePoint(std::u16string_view name, Sink sink) {
    for (size_t i = 0; i < name.size(); ++i) {
        char32_t c = name[i];
        if (IsHighSurrogate(c) && i + 1 < name.size() && IsLowSurrogate(name[i + 1])) {
            c = 0x10000 + ((c - 0xD800) << 10) + (name[i + 1] - 0xDC00);
            ++i;
        }
        sink(c);
    }
}

// The case tables of the C.UTF-8 locale, which glibc always carries, independent of the
// user's locale: the folded form must not change with LANG, or stored names would be lost.
locale_t CaseLocale() {
    static const locale_t locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t{});
    return locale;
}

char32_t FoldCodePoint(char32_t c) {
    if (c < 0x80) {
        return (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c;
    }
    if (IsHighSurrogate(c) || IsLowSurrogate(c)) {
        return c;
    }
    const locale_t locale = CaseLocale();
    if (locale == locale_t{}) {
        return c;  // no case tables: only ASCII folds
    }
    const wint_t upper = towupper_l(static_cast<wint_t>(c), locale);
    return static_cast<char32_t>(towlower_l(upper, locale));
}

}  // namespace

std::string EncodeRegistryName(std::u16string_view name) {
    std::string out;
    out.reserve(name.size());
    ForEachCodePoint(name, [&out](char32_t c) { AppendCodePoint(out, c); });
    return out;
}

std::u16string DecodeRegistryName(std::string_view bytes) {
    std::u16string out;
    out.reserve(bytes.size());
    size_t i = 0;
    while (i < bytes.size()) {
        const auto lead = static_cast<uint8_t>(bytes[i]);
        size_t extra = 0;
        char32_t c = 0;
        if (lead < 0x80) {
            c = lead;
        } else if ((lead & 0xE0) == 0xC0) {
            extra = 1;
            c = lead & 0x1F;
        } else if ((lead & 0xF0) == 0xE0) {
            extra = 2;
            c = lead & 0x0F;
        } else if ((lead & 0xF8) == 0xF0) {
            extra = 3;
            c = lead & 0x07;
        } else {
            out.push_back(u'\uFFFD');
            ++i;
            continue;
        }
        bool valid = i + extra < bytes.size();
        for (size_t k = 1; valid && k <= extra; ++k) {
            const auto next = static_cast<uint8_t>(bytes[i + k]);
            if ((next & 0xC0) != 0x80) {
                valid = false;
            } else {
                c = (c << 6) | (next & 0x3F);
            }
        }
        if (!valid || c > 0x10FFFF) {
            out.push_back(u'\uFFFD');
            ++i;
            continue;
        }
        AppendUtf16(out, c);
        i += extra + 1;
    }
    return out;
}

std::string FoldRegistryName(std::u16string_view name) {
    std::string out;
    out.reserve(name.size());
    ForEachCodePoint(name, [&out](char32_t c) { AppendCodePoint(out, FoldCodePoint(c)); });
    return out;
}

}  // namespace kem::platform
