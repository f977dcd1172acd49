#include "channels/rfc2217_settings.h"

#include "channels/net_address.h"
#include "platform/ascii_case.h"

namespace {

constexpr size_t kHostMaxUnits = 253;
constexpr size_t kLabelMaxUnits = 63;

bool IsDigit(char16_t c) {
    return c >= u'0' && c <= u'9';
}

bool IsLetter(char16_t c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

bool ValidHostName(std::u16string_view host) {
    if (host.empty() || host.size() > kHostMaxUnits) {
        return false;
    }
    bool only_numeric = true;
    for (char16_t c : host) {
        only_numeric = only_numeric && (IsDigit(c) || c == u'.');
    }
    if (only_numeric) {
        // Digits and dots can only mean an address; anything but a clean quad is refused
        // rather than handed to a resolver that reads "1.2.3" as some other address.
        uint32_t address = 0;
        return kem::channels::ParseDottedQuad(host, address) == kem::channels::DottedQuad::kAddress;
    }
    size_t label_start = 0;
    for (size_t at = 0; at <= host.size(); ++at) {
        if (at < host.size() && host[at] != u'.') {
            const char16_t c = host[at];
            if (!IsLetter(c) && !IsDigit(c) && c != u'-') {
                return false;
            }
            continue;
        }
        const std::u16string_view label = host.substr(label_start, at - label_start);
        if (label.empty() || label.size() > kLabelMaxUnits || label.front() == u'-' ||
            label.back() == u'-') {
            return false;
        }
        label_start = at + 1;
    }
    return true;
}

}  // namespace

namespace kem::channels {

std::u16string_view Rfc2217KeyName(Rfc2217Key key) {
    switch (key) {
        case Rfc2217Key::kBaudRate:
            return u"SET-BAUDRATE";
        case Rfc2217Key::kDataSize:
            return u"SET-DATASIZE";
        case Rfc2217Key::kParity:
            return u"SET-PARITY";
        case Rfc2217Key::kStopSize:
            return u"SET-STOPSIZE";
        case Rfc2217Key::kFlow:
            return u"SET-CONTROL(FLOW)";
        case Rfc2217Key::kDtr:
            return u"SET-CONTROL(DTR)";
        case Rfc2217Key::kRts:
            return u"SET-CONTROL(RTS)";
    }
    return u"SET-?";
}

std::optional<Rfc2217Key> Rfc2217AnswerKey(uint8_t code, const std::vector<uint8_t>& value) {
    if (code < rfc2217::kServerOffset) {
        return std::nullopt;
    }
    switch (code - rfc2217::kServerOffset) {
        case rfc2217::kSetBaudRate:
            return Rfc2217Key::kBaudRate;
        case rfc2217::kSetDataSize:
            return Rfc2217Key::kDataSize;
        case rfc2217::kSetParity:
            return Rfc2217Key::kParity;
        case rfc2217::kSetStopSize:
            return Rfc2217Key::kStopSize;
        case rfc2217::kSetControl:
            if (value.empty()) {
                return std::nullopt;
            }
            // Values 0..3 concern outbound flow control, 7..9 DTR, 10..12 RTS (the lowest
            // of each group is a query, answered with the state).
            if (value[0] <= rfc2217::kFlowHardware) {
                return Rfc2217Key::kFlow;
            }
            if (value[0] >= 7 && value[0] <= rfc2217::kDtrOff) {
                return Rfc2217Key::kDtr;
            }
            if (value[0] >= 10 && value[0] <= rfc2217::kRtsOff) {
                return Rfc2217Key::kRts;
            }
            return std::nullopt;
        default:
            return std::nullopt;
    }
}

std::optional<std::vector<Rfc2217Setting>> Rfc2217SettingsFromParam(const tagComPortParam& param) {
    if (param.dwBaudRate == 0 || param.nByteSize < 5 || param.nByteSize > 8 ||
        param.nStopBits < 0 || param.nStopBits > 2) {
        return std::nullopt;
    }
    std::vector<Rfc2217Setting> settings;
    const uint32_t baud = param.dwBaudRate;
    settings.push_back({Rfc2217Key::kBaudRate,
                        rfc2217::kSetBaudRate,
                        {static_cast<uint8_t>(baud >> 24), static_cast<uint8_t>(baud >> 16),
                         static_cast<uint8_t>(baud >> 8), static_cast<uint8_t>(baud)}});
    settings.push_back(
        {Rfc2217Key::kDataSize, rfc2217::kSetDataSize, {static_cast<uint8_t>(param.nByteSize)}});
    const uint8_t parity = param.nParity >= 1 && param.nParity <= 4
                               ? static_cast<uint8_t>(param.nParity + 1)
                               : uint8_t{1};
    settings.push_back({Rfc2217Key::kParity, rfc2217::kSetParity, {parity}});
    static constexpr uint8_t kStopSizes[3] = {1, 3, 2};  // one, one and a half, two
    settings.push_back(
        {Rfc2217Key::kStopSize, rfc2217::kSetStopSize, {kStopSizes[param.nStopBits]}});
    const uint8_t flow = param.nFlowControl == 0   ? rfc2217::kFlowXonXoff
                         : param.nFlowControl == 1 ? rfc2217::kFlowHardware
                                                   : rfc2217::kFlowNone;
    settings.push_back({Rfc2217Key::kFlow, rfc2217::kSetControl, {flow}});
    return settings;
}

std::optional<Rfc2217Endpoint> ParseRfc2217Url(std::u16string_view url) {
    constexpr std::u16string_view kScheme = u"rfc2217://";
    if (url.size() <= kScheme.size()) {
        return std::nullopt;
    }
    for (size_t i = 0; i < kScheme.size(); ++i) {
        if (kem::platform::AsciiLower(url[i]) != kScheme[i]) {
            return std::nullopt;
        }
    }
    const std::u16string_view rest = url.substr(kScheme.size());
    const size_t colon = rest.rfind(u':');
    if (colon == std::u16string_view::npos) {
        return std::nullopt;
    }
    const std::u16string_view host = rest.substr(0, colon);
    const std::u16string_view port_text = rest.substr(colon + 1);
    if (!ValidHostName(host) || port_text.empty() || port_text.size() > 5) {
        return std::nullopt;
    }
    uint32_t port = 0;
    for (char16_t c : port_text) {
        if (!IsDigit(c)) {
            return std::nullopt;
        }
        port = port * 10 + static_cast<uint32_t>(c - u'0');
    }
    if (port < 1 || port > 65535) {
        return std::nullopt;
    }
    return Rfc2217Endpoint{std::u16string(host), static_cast<uint16_t>(port)};
}

}  // namespace kem::channels
