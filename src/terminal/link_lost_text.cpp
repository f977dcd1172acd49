#include "terminal/link_lost_text.h"

#include <string>

namespace kem::terminal {

namespace {
std::u16string Decimal(int32_t value) {
    const std::string text = std::to_string(value);
    return std::u16string(text.begin(), text.end());
}
}  // namespace

std::u16string SerialLostText(std::u16string_view port_name) {
    return u"串口已断开:" + std::u16string(port_name);
}

std::u16string ServerClosedText(int32_t code) {
    return u"与服务器的连接已断开(" + Decimal(code) + u")";
}

}  // namespace kem::terminal
