// Letter case and hex digits of ASCII only: option names, key names, port kinds and file
// extensions compare this way, and no other letter changes case or counts as a digit.
#pragma once

#include <string_view>

namespace kem::platform {

// `unit` with A-Z turned into a-z; any other unit as it is. Pure.
constexpr char16_t AsciiLower(char16_t unit) {
    return unit >= u'A' && unit <= u'Z' ? static_cast<char16_t>(unit - u'A' + u'a') : unit;
}

// The value of the hex digit `unit` (0-9, A-F, a-f), or -1 for any other unit. Pure.
constexpr int HexDigitValue(char16_t unit) {
    if (unit >= u'0' && unit <= u'9') {
        return unit - u'0';
    }
    if (unit >= u'A' && unit <= u'F') {
        return unit - u'A' + 10;
    }
    if (unit >= u'a' && unit <= u'f') {
        return unit - u'a' + 10;
    }
    return -1;
}

// Whether `a` and `b` are equal apart from the case of ASCII letters. Pure.
constexpr bool EqualsIgnoringAsciiCase(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (AsciiLower(a[i]) != AsciiLower(b[i])) {
            return false;
        }
    }
    return true;
}

}  // namespace kem::platform
