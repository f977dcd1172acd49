// The texts around the link choice: which kind of link a port-list entry selects, where each
// kind keeps its parameter text in the settings record, the client target "host:port", the
// server port, the Open button captions, the open-failure messages and the window title.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "settings/app_config.h"

// The kind of link the main window drives; the values are those of m_nLinkType.
enum class LinkType : int32_t {
    kNone = 0,  // nothing chosen yet
    kSerial = 1,
    kTcpClient = 2,
    kTcpServer = 3,
};

// The two pseudo-ports that follow the serial ports in the port list.
inline constexpr const char16_t* kTcpClientPortName = u"TCP/IP";
inline constexpr const char16_t* kTcpServerPortName = u"SERVER";

// The link kind a port name selects: "TCP/IP" and "SERVER" (ASCII letters in any case) pick
// the client and the server, every other text (a serial port name or path) the serial port.
// Pure.
LinkType LinkTypeFromPortName(std::u16string_view port_name);

// The parameter text that `config` keeps for `type`: ComPortParam, NetPortParam or
// NetServerParam; empty for kNone. Pure.
std::u16string LoadLinkParam(const tagAppConfig& config, LinkType type);

// How StoreLinkParam dealt with a text.
enum class StoreResult {
    kStored,   // the whole text was stored
    kCut,      // the text did not fit and was cut (never inside a surrogate pair)
    kNoField,  // kNone keeps no text; nothing changed
};

// Stores `text` into the field `config` keeps for `type` (255 units for the serial port and
// the client, 63 for the server). A text that does not fit is cut to the field and kept
// zero-terminated. Window's thread when `config` is g_AppConfig.
StoreResult StoreLinkParam(tagAppConfig& config, LinkType type, std::u16string_view text);

// A change of the port-list selection from `old_type` to `new_type`: when they differ, the
// parameter box text `param_text` is stored for `old_type` and the new type's text is
// returned for the box; when they are equal the box keeps `param_text`. Window's thread when
// `config` is g_AppConfig.
std::u16string SwitchLinkParam(tagAppConfig& config, LinkType old_type, LinkType new_type,
                               std::u16string_view param_text);

// Whether the serial choice lists and the advanced button are usable for a link kind: only
// for the serial port. Pure.
constexpr bool SerialChoicesEnabled(LinkType type) {
    return type == LinkType::kSerial;
}

// A decimal port text read like the C library's atoi (leading blanks, an optional sign, then
// digits up to the first other unit; 0 without digits), but saturating instead of wrapping,
// so "70000" stays 70000 and "-1" stays -1. `usable` is true only for 1..65535.
struct PortNumber {
    int64_t value = 0;
    bool usable = false;
};
PortNumber ParsePortNumber(std::u16string_view text);

// A client target "host:port": the host is the text before the first ':', the port the
// decimal value of the text after it (no ':' gives port 0, which is not usable).
struct ClientTarget {
    std::u16string host;
    std::u16string port_text;
    PortNumber port;
};
ClientTarget ParseClientTarget(std::u16string_view text);

// The codes shown with a refused port, the same the TCP connection gives for such a port: a
// client port outside 1..65535 (-255) and a server port it cannot bind (-202).
constexpr int32_t kClientPortRefused = -255;
constexpr int32_t kServerPortRefused = -202;

// The messages of a failed open, under the caption "提示". Pure.
// "打开串口失败(code)"
std::u16string SerialOpenFailedText(int32_t code);
// "连接服务器失败(code)"
std::u16string ConnectFailedText(int32_t code);
// "监听端口<port_text>失败(code)"
std::u16string ListenFailedText(std::u16string_view port_text, int32_t code);

// What the Open button shows in each state of the link.
enum class LinkState {
    kClosed,         // "打开"
    kOpen,           // serial port open or client connected: "关闭"
    kListening,      // server without a client: "停止"
    kServingClient,  // server with a client: "断开"
    kWaiting,        // a lost serial port or client waits to come back: "停止"
};
const char16_t* OpenButtonCaption(LinkState state);

// The window's caption as the dialog template gives it.
inline constexpr const char16_t* kWindowTitleBase = u"Quorbel串口工具";

// The window title for the configuration file in use: "Quorbel串口工具 - <name>" with the
// file's name without folder (either '\' or '/' separates) and without its last extension;
// with no configuration file (empty path) the title stays `current_title`. Pure.
std::u16string WindowTitle(std::u16string_view config_file, std::u16string_view current_title);
