// Bytes as hexadecimal pairs for failure messages and expectations: "41 C3 A9".
#pragma once

#include <string>
#include <string_view>

namespace kem::testing {

inline std::string HexText(std::string_view bytes) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (const char byte : bytes) {
        const auto value = static_cast<unsigned char>(byte);
        if (!text.empty()) {
            text += ' ';
        }
        text += kDigits[value >> 4];
        text += kDigits[value & 15];
    }
    return text;
}

}  // namespace kem::testing
