// The notices shown when a link goes away on its own (not closed by the user).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kem::terminal {

// "串口已断开:<port>": the serial device went away (unplugged, hung up). Pure.
std::u16string SerialLostText(std::u16string_view port_name);

// "与服务器的连接已断开(<code>)": the server ended the TCP client connection. Pure.
std::u16string ServerClosedText(int32_t code);

}  // namespace kem::terminal
