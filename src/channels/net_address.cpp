#include "channels/net_address.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/code_page.h"
#include "platform/socket.h"

namespace kem::channels {
namespace {

bool IsDigit(char16_t c) {
    return c >= u'0' && c <= u'9';
}

bool OnlyDigitsAndStops(std::u16string_view text) {
    for (char16_t c : text) {
        if (!IsDigit(c) && c != u'.') {
            return false;
        }
    }
    return true;
}

char16_t Lower(char16_t c) {
    return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c;
}

}  // namespace

DottedQuad ParseDottedQuad(std::u16string_view text, uint32_t& address) {
    address = 0;
    if (!OnlyDigitsAndStops(text)) {
        return DottedQuad::kNotLiteral;
    }
    // From here on the text can only be meant as numbers. Whatever is not a clean quad is
    // refused: a resolver would read "1.2.300" or "1.2.3.300" as some other address.
    uint8_t bytes[4] = {};
    size_t at = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (at >= text.size() || text[at] != u'.') {
                return DottedQuad::kInvalid;
            }
            ++at;
        }
        unsigned value = 0;
        size_t digits = 0;
        while (at < text.size() && IsDigit(text[at]) && digits < 4) {
            value = value * 10 + static_cast<unsigned>(text[at] - u'0');
            ++at;
            ++digits;
        }
        if (digits == 0 || digits > 3 || value > 255) {
            return DottedQuad::kInvalid;
        }
        bytes[part] = static_cast<uint8_t>(value);
    }
    if (at != text.size()) {
        return DottedQuad::kInvalid;
    }
    std::memcpy(&address, bytes, sizeof address);
    // 0.0.0.0 names no peer; it goes to the resolver like a name.
    return address == 0 ? DottedQuad::kNotLiteral : DottedQuad::kAddress;
}

std::u16string_view SkipHttpPrefix(std::u16string_view text) {
    constexpr std::u16string_view kPrefix = u"http:";
    if (text.size() <= kPrefix.size()) {
        return text;
    }
    for (size_t i = 0; i < kPrefix.size(); ++i) {
        if (Lower(text[i]) != kPrefix[i]) {
            return text;
        }
    }
    size_t at = kPrefix.size();
    while (at < text.size() && (text[at] == u'/' || text[at] == u'\\')) {
        ++at;
    }
    return text.substr(at);
}

bool ResolveHostText(const char16_t* host, uint32_t& address) {
    address = 0;
    if (host == nullptr) {
        return false;
    }
    const std::u16string_view text(host);
    switch (ParseDottedQuad(text, address)) {
        case DottedQuad::kAddress:
            return true;
        case DottedQuad::kInvalid:
            return false;
        case DottedQuad::kNotLiteral:
            break;
    }
    const std::u16string_view rest = SkipHttpPrefix(text);
    uint32_t unused = 0;
    if (rest.empty() || ParseDottedQuad(rest, unused) == DottedQuad::kInvalid) {
        return false;
    }
    const std::string name = kem::platform::WideToAnsi(rest);
    if (name.empty() || name.size() > kHostNameMaxBytes) {
        return false;
    }
    return !kem::platform::ResolveIpv4(name, address).failed();
}

Ipv4Text FormatIpv4(uint32_t address) {
    uint8_t bytes[4];
    std::memcpy(bytes, &address, sizeof bytes);
    Ipv4Text out;
    std::snprintf(out.text, sizeof out.text, "%u.%u.%u.%u", bytes[0], bytes[1], bytes[2], bytes[3]);
    return out;
}

}  // namespace kem::channels
