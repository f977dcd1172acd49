// Any typed text goes through the send parser without a crash, and the parts keep their
// promises: decoding escapes never lengthens, replacing names never lengthens, and a line end
// is added exactly when asked for.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/code_page.h"
#include "terminal/ctrl_char_table.h"
#include "terminal/send_parser.h"

namespace {

// Escape decoding one byte at a time, with no shortcut for plain runs: the parser's fast
// path must agree with it.
std::string SlowEscapes(std::string_view source) {
    std::string out;
    uint8_t collected[4];
    int32_t k = 0;
    size_t p = 0;
    while (p < source.size()) {
        const auto byte = static_cast<uint8_t>(source[p]);
        if (byte == '\\' && k > 0) {
            if (k == 1) {
                out += '\\';
                ++p;
            } else {
                out.append(reinterpret_cast<char*>(collected),
                           static_cast<size_t>(DecodeEscape(collected, k)));
            }
            k = 0;
            continue;
        }
        collected[k++] = byte;
        ++p;
        if (collected[0] != '\\') {
            out += static_cast<char>(byte);
            k = 0;
        } else if (k == 4 || p == source.size()) {
            out.append(reinterpret_cast<char*>(collected),
                       static_cast<size_t>(DecodeEscape(collected, k)));
            k = 0;
        }
    }
    return out;
}

// Name replacement in place, each '[' searching for its ']' afresh and every bracketed text
// converted and looked up: quadratic, but plainly right.
std::string SlowNames(std::string bytes) {
    size_t i = 0;
    while (i < bytes.size()) {
        if (bytes[i] != '[') {
            ++i;
            continue;
        }
        const size_t j = bytes.find(']', i + 1);
        if (j == std::string::npos) {
            ++i;
            continue;
        }
        if (j - i > 2 && j - i - 1 <= kMaxNameBytes) {
            const auto code =
                FindCtrlCharByName(kem::platform::AnsiToWide(bytes.substr(i + 1, j - i - 1)));
            if (code) {
                bytes.replace(i, j - i + 1, 1, static_cast<char>(*code));
            }
        }
        ++i;
    }
    return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) {
        return 0;
    }
    const uint8_t flags = data[0];
    ++data;
    --size;
    SendOptions options;
    options.parse_char_name = (flags & 1) != 0;
    options.parse_hex = (flags & 2) != 0;
    options.auto_send_enter = (flags & 4) != 0;
    options.send_0d0a = (flags & 8) != 0;

    // The raw bytes as parser input.
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::string named = ReplaceCtrlCharNames(bytes);
    if (named.size() > bytes.size() || (size <= 512 && named != SlowNames(std::string(bytes)))) {
        std::abort();
    }
    std::string decoded(bytes.size() + 1, '\xAA');
    const int32_t count =
        ParseEscapes(data, static_cast<int32_t>(size), reinterpret_cast<uint8_t*>(decoded.data()),
                     static_cast<int32_t>(decoded.size()));
    if (count < 0 || static_cast<size_t>(count) > size) {
        std::abort();
    }
    if (std::string_view(decoded.data(), static_cast<size_t>(count)) != SlowEscapes(bytes)) {
        std::abort();
    }
    // Text without a backslash comes out as it went in.
    if (bytes.find('\\') == std::string_view::npos &&
        std::string_view(decoded.data(), static_cast<size_t>(count)) != bytes) {
        std::abort();
    }

    // The same bytes as UTF-16 units, through the whole chain.
    std::u16string text(size / 2, u'\0');
    for (size_t i = 0; i < text.size(); ++i) {
        text[i] = static_cast<char16_t>(data[2 * i] | data[2 * i + 1] << 8);
    }
    const std::string sent = ParseSendText(text, options);
    if (options.auto_send_enter && !text.empty() &&
        (sent.empty() || (sent.back() != '\r' && sent.back() != '\n'))) {
        std::abort();
    }
    if (!options.parse_char_name && !options.parse_hex && !options.auto_send_enter &&
        sent != SendTextToAnsi(text)) {
        std::abort();
    }
    TypedCharBytes(std::u16string_view(text).substr(0, 2), (flags & 16) != 0);
    SelectSendText(text, static_cast<int8_t>(flags), static_cast<int64_t>(size) - 3);
    return 0;
}
