#include "terminal/link_text.h"

#include <algorithm>
#include <string>

#include "platform/ascii_case.h"
#include "terminal/config_location.h"

namespace {

using kem::platform::EqualsIgnoringAsciiCase;

// The field a link kind keeps its text in, with its capacity in units (terminator included).
struct Field {
    char16_t* units = nullptr;
    size_t capacity = 0;
};

Field FieldOf(tagAppConfig& config, LinkType type) {
    switch (type) {
        case LinkType::kSerial:
            return {config.ComPortParam, std::size(config.ComPortParam)};
        case LinkType::kTcpClient:
            return {config.NetPortParam, std::size(config.NetPortParam)};
        case LinkType::kTcpServer:
            return {config.NetServerParam, std::size(config.NetServerParam)};
        case LinkType::kNone:
            break;
    }
    return {};
}

std::u16string FieldText(const char16_t* units, size_t capacity) {
    return std::u16string(units, std::find(units, units + capacity, u'\0'));
}

std::u16string Decimal(int64_t value) {
    const std::string text = std::to_string(value);
    return std::u16string(text.begin(), text.end());
}

std::u16string WithCode(std::u16string text, int32_t code) {
    return text + u'(' + Decimal(code) + u')';
}

}  // namespace

LinkType LinkTypeFromPortName(std::u16string_view port_name) {
    if (EqualsIgnoringAsciiCase(port_name, kTcpClientPortName)) {
        return LinkType::kTcpClient;
    }
    if (EqualsIgnoringAsciiCase(port_name, kTcpServerPortName)) {
        return LinkType::kTcpServer;
    }
    return LinkType::kSerial;
}

std::u16string LoadLinkParam(const tagAppConfig& config, LinkType type) {
    switch (type) {
        case LinkType::kSerial:
            return FieldText(config.ComPortParam, std::size(config.ComPortParam));
        case LinkType::kTcpClient:
            return FieldText(config.NetPortParam, std::size(config.NetPortParam));
        case LinkType::kTcpServer:
            return FieldText(config.NetServerParam, std::size(config.NetServerParam));
        case LinkType::kNone:
            break;
    }
    return {};
}

StoreResult StoreLinkParam(tagAppConfig& config, LinkType type, std::u16string_view text) {
    const Field field = FieldOf(config, type);
    if (field.units == nullptr) {
        return StoreResult::kNoField;
    }
    size_t length = std::min(text.size(), field.capacity - 1);
    // A high surrogate left without its partner would be a broken character.
    if (length < text.size() && length > 0 && text[length - 1] >= 0xD800 &&
        text[length - 1] <= 0xDBFF) {
        --length;
    }
    std::fill_n(field.units, field.capacity, u'\0');
    std::copy_n(text.data(), length, field.units);
    return length == text.size() ? StoreResult::kStored : StoreResult::kCut;
}

std::u16string SwitchLinkParam(tagAppConfig& config, LinkType old_type, LinkType new_type,
                               std::u16string_view param_text) {
    if (old_type == new_type) {
        return std::u16string(param_text);
    }
    StoreLinkParam(config, old_type, param_text);
    return LoadLinkParam(config, new_type);
}

PortNumber ParsePortNumber(std::u16string_view text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == u' ' || (text[i] >= u'\t' && text[i] <= u'\r'))) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    // Anything past this is out of range anyway; stopping here keeps the value from wrapping.
    constexpr int64_t kCap = int64_t{1} << 40;
    int64_t value = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        value = std::min(value * 10 + (text[i] - u'0'), kCap);
    }
    PortNumber port;
    port.value = negative ? -value : value;
    port.usable = port.value >= 1 && port.value <= 65535;
    return port;
}

ClientTarget ParseClientTarget(std::u16string_view text) {
    ClientTarget target;
    const size_t colon = text.find(u':');
    target.host = std::u16string(text.substr(0, colon));
    if (colon != std::u16string_view::npos) {
        target.port_text = std::u16string(text.substr(colon + 1));
    }
    target.port = ParsePortNumber(target.port_text);
    return target;
}

std::u16string SerialOpenFailedText(int32_t code) {
    return WithCode(u"打开串口失败", code);
}

std::u16string ConnectFailedText(int32_t code) {
    return WithCode(u"连接服务器失败", code);
}

std::u16string ListenFailedText(std::u16string_view port_text, int32_t code) {
    return WithCode(u"监听端口" + std::u16string(port_text) + u"失败", code);
}

const char16_t* OpenButtonCaption(LinkState state) {
    switch (state) {
        case LinkState::kOpen:
            return u"关闭";
        case LinkState::kListening:
        case LinkState::kWaiting:
            return u"停止";
        case LinkState::kServingClient:
            return u"断开";
        case LinkState::kClosed:
            break;
    }
    return u"打开";
}

std::u16string WindowTitle(std::u16string_view config_file, std::u16string_view current_title) {
    if (config_file.empty()) {
        return std::u16string(current_title);
    }
    std::u16string_view name = ConfigFileStem(config_file);
    return std::u16string(kWindowTitleBase) + u" - " + std::u16string(name);
}
