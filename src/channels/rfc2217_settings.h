// What an "rfc2217://" link says to the remote port: the COM-PORT-OPTION commands of RFC 2217,
// the settings of a parameter record in that form, how the server's answers settle them, and
// the address the link names.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "channels/port_com.h"

namespace kem::channels {

// COM-PORT-OPTION commands sent by the client; the server answers with the code + 100.
namespace rfc2217 {
constexpr uint8_t kSetBaudRate = 1;
constexpr uint8_t kSetDataSize = 2;
constexpr uint8_t kSetParity = 3;
constexpr uint8_t kSetStopSize = 4;
constexpr uint8_t kSetControl = 5;
constexpr uint8_t kServerOffset = 100;
constexpr uint8_t kNotifyLineState = 106;
constexpr uint8_t kNotifyModemState = 107;

// SET-CONTROL values this port sends.
constexpr uint8_t kFlowNone = 1;
constexpr uint8_t kFlowXonXoff = 2;
constexpr uint8_t kFlowHardware = 3;
constexpr uint8_t kDtrOn = 8;
constexpr uint8_t kDtrOff = 9;
constexpr uint8_t kRtsOn = 11;
constexpr uint8_t kRtsOff = 12;
}  // namespace rfc2217

// Which answer settles a setting: SET-CONTROL carries three independent settings.
enum class Rfc2217Key : uint8_t { kBaudRate, kDataSize, kParity, kStopSize, kFlow, kDtr, kRts };

// One setting as sent: the command code, its value bytes and what answers it.
struct Rfc2217Setting {
    Rfc2217Key key = Rfc2217Key::kBaudRate;
    uint8_t command = 0;
    std::vector<uint8_t> value;
};

// The name of a setting in reports, e.g. u"SET-CONTROL(DTR)". Pure.
std::u16string_view Rfc2217KeyName(Rfc2217Key key);

// The key an answer of the server (code >= 100 with its value) settles; nothing for
// notifications and for answers to settings this port never sends. Pure.
std::optional<Rfc2217Key> Rfc2217AnswerKey(uint8_t code, const std::vector<uint8_t>& value);

// The five line settings of a record, in the order they are sent: baud rate (4 bytes, network
// order), data size, parity (1 none, 2 odd, 3 even, 4 mark, 5 space; unknown values as none),
// stop size (1 one, 2 two, 3 one and a half) and flow control (XON/XOFF for 0, hardware for
// 1, none otherwise). Nothing when the record cannot be expressed: baud rate 0, data bits
// outside 5..8, stop bits outside 0..2. Pure.
std::optional<std::vector<Rfc2217Setting>> Rfc2217SettingsFromParam(const tagComPortParam& param);

// Where "rfc2217://host:port" points.
struct Rfc2217Endpoint {
    std::u16string host;  // a host name or a dotted quad
    uint16_t port = 0;    // 1..65535
};

// Reads "rfc2217://host:port": the scheme in any letter case, a host name (letters, digits,
// hyphens, dotted labels) or a clean dotted quad, and a decimal port 1..65535 with nothing
// after it. Nothing for anything else. Pure.
std::optional<Rfc2217Endpoint> ParseRfc2217Url(std::u16string_view url);

}  // namespace kem::channels
