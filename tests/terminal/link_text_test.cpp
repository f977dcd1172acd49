// Texts of the link: port kinds, parameter fields per kind, port numbers, notices, captions
// and the window title.
#include "terminal/link_text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <tuple>

#include "platform/code_page.h"
#include "terminal/link_lost_text.h"

namespace {

std::string Show(std::u16string_view text) {
    return kem::platform::WideToUtf8(text);
}

std::unique_ptr<tagAppConfig> EmptyConfig() {
    auto config = std::make_unique<tagAppConfig>();
    std::memset(config.get(), 0, sizeof(tagAppConfig));
    return config;
}

TEST(LinkTypeFromPortNameTest, PseudoPortsIgnoreAsciiCaseOnly) {
    const std::tuple<const char16_t*, LinkType> rows[] = {
        {u"TCP/IP", LinkType::kTcpClient}, {u"tcp/ip", LinkType::kTcpClient},
        {u"Tcp/Ip", LinkType::kTcpClient}, {u"SERVER", LinkType::kTcpServer},
        {u"server", LinkType::kTcpServer}, {u"COM3", LinkType::kSerial},
        {u"", LinkType::kSerial},          {u"SERVER ", LinkType::kSerial},
        {u"TCP", LinkType::kSerial},       {u"ＳＥＲＶＥＲ", LinkType::kSerial},  // full width
    };
    for (const auto& [port, type] : rows) {
        EXPECT_EQ(LinkTypeFromPortName(port), type) << Show(port);
        EXPECT_EQ(SerialChoicesEnabled(type), type == LinkType::kSerial) << Show(port);
    }
}

TEST(LinkParamTest, SwitchingKindsStoresTheBoxAndBringsItBack) {
    auto config = EmptyConfig();
    StoreLinkParam(*config, LinkType::kSerial, u"9600,N,8,1");
    std::u16string(u"10.0.0.5:23").copy(config->NetPortParam, 11);
    // The first selection stores nothing (no kind before) and shows the serial text.
    std::u16string box = SwitchLinkParam(*config, LinkType::kNone, LinkType::kSerial, u"junk");
    EXPECT_EQ(box, u"9600,N,8,1");
    box = SwitchLinkParam(*config, LinkType::kSerial, LinkType::kTcpClient, u"115200,E,7,2");
    EXPECT_EQ(box, u"10.0.0.5:23");
    EXPECT_EQ(std::u16string(config->ComPortParam), u"115200,E,7,2");
    EXPECT_EQ(SwitchLinkParam(*config, LinkType::kTcpClient, LinkType::kSerial, box),
              u"115200,E,7,2");
    // The same kind again keeps the box as it is.
    EXPECT_EQ(SwitchLinkParam(*config, LinkType::kSerial, LinkType::kSerial, u"typed"), u"typed");
    EXPECT_EQ(std::u16string(config->ComPortParam), u"115200,E,7,2");
    EXPECT_EQ(LoadLinkParam(*config, LinkType::kNone), u"");
}

TEST(LinkParamTest, TooLongTextsAreCutToTheField) {
    auto config = EmptyConfig();
    const std::u16string long_text(300, u'7');
    EXPECT_EQ(StoreLinkParam(*config, LinkType::kSerial, long_text), StoreResult::kCut);
    EXPECT_EQ(LoadLinkParam(*config, LinkType::kSerial), long_text.substr(0, 255));
    EXPECT_EQ(StoreLinkParam(*config, LinkType::kTcpServer, long_text), StoreResult::kCut);
    EXPECT_EQ(LoadLinkParam(*config, LinkType::kTcpServer), long_text.substr(0, 63));
    EXPECT_EQ(config->TransmitComPortName[0], u'\0');  // the field next to it is not touched
    EXPECT_EQ(StoreLinkParam(*config, LinkType::kTcpServer, long_text.substr(0, 63)),
              StoreResult::kStored);
    // A character beyond the BMP that would be split is dropped whole.
    EXPECT_EQ(
        StoreLinkParam(*config, LinkType::kTcpServer, std::u16string(62, u'1') + u"\U0001F600"),
        StoreResult::kCut);
    EXPECT_EQ(LoadLinkParam(*config, LinkType::kTcpServer), std::u16string(62, u'1'));
    // A shorter text replaces the old one completely, in the server's own field.
    EXPECT_EQ(StoreLinkParam(*config, LinkType::kTcpServer, u"80"), StoreResult::kStored);
    EXPECT_EQ(std::u16string(config->NetServerParam), u"80");
    EXPECT_EQ(StoreLinkParam(*config, LinkType::kNone, u"x"), StoreResult::kNoField);
}

TEST(ParsePortNumberTest, DecimalValueNeverWraps) {
    const std::tuple<const char16_t*, int64_t, bool> rows[] = {
        {u"60000", 60000, true},
        {u"1", 1, true},
        {u"65535", 65535, true},
        {u"65536", 65536, false},
        {u"65537", 65537, false},  // 1 in 16 bits
        {u"-1", -1, false},
        {u"0", 0, false},
        {u"", 0, false},
        {u"abc", 0, false},
        {u"  8080", 8080, true},
        {u"+23", 23, true},
        {u"23/tcp", 23, true},
        {u"4294967297", 4294967297, false},  // a valid port in 32 bits
        {u"99999999999999999999999", int64_t{1} << 40, false},
        {u"-99999999999999999999999", -(int64_t{1} << 40), false},
    };
    for (const auto& [text, value, usable] : rows) {
        const PortNumber port = ParsePortNumber(text);
        EXPECT_EQ(std::tuple(port.value, port.usable), std::tuple(value, usable)) << Show(text);
    }
}

TEST(ParseClientTargetTest, HostBeforeTheFirstColonPortAfterIt) {
    const std::tuple<const char16_t*, std::u16string, std::u16string, int64_t, bool> rows[] = {
        {u"127.0.0.1:60000", u"127.0.0.1", u"60000", 60000, true},
        {u"127.0.0.1", u"127.0.0.1", u"", 0, false},  // no colon: port 0
        {u"host:", u"host", u"", 0, false},
        {u":80", u"", u"80", 80, true},
        {u"h:1:2", u"h", u"1:2", 1, true},  // the second colon is part of the port
        {u"http://h:80", u"http", u"//h:80", 0, false},
        {u"", u"", u"", 0, false},
    };
    for (const auto& [text, host, port_text, port, usable] : rows) {
        const ClientTarget target = ParseClientTarget(text);
        EXPECT_EQ(std::tuple(target.host, target.port_text, target.port.value, target.port.usable),
                  std::tuple(host, port_text, port, usable))
            << Show(text);
    }
}

TEST(NoticeTextTest, MessagesCarryTheCodeInDecimal) {
    EXPECT_EQ(SerialOpenFailedText(0), u"打开串口失败(0)");
    EXPECT_EQ(SerialOpenFailedText(-3), u"打开串口失败(-3)");
    EXPECT_EQ(ConnectFailedText(kClientPortRefused), u"连接服务器失败(-255)");
    EXPECT_EQ(ListenFailedText(u"70000", kServerPortRefused), u"监听端口70000失败(-202)");
    EXPECT_EQ(ListenFailedText(u"", -203), u"监听端口失败(-203)");
    EXPECT_EQ(kem::terminal::SerialLostText(u"/dev/ttyUSB0"), u"串口已断开:/dev/ttyUSB0");
    EXPECT_EQ(kem::terminal::ServerClosedText(-104), u"与服务器的连接已断开(-104)");
}

TEST(OpenButtonCaptionTest, OneCaptionPerState) {
    const std::tuple<LinkState, std::u16string> rows[] = {
        {LinkState::kClosed, u"打开"},    {LinkState::kOpen, u"关闭"},
        {LinkState::kListening, u"停止"}, {LinkState::kServingClient, u"断开"},
        {LinkState::kWaiting, u"停止"},
    };
    for (const auto& [state, caption] : rows) {
        EXPECT_EQ(OpenButtonCaption(state), caption);
    }
}

TEST(WindowTitleTest, NamesTheConfigurationFileByItsStemOrKeepsTheTitle) {
    EXPECT_EQ(WindowTitle(u"C:\\cfg\\lab.pvto", u"Current title"), u"Quorbel串口工具 - lab");
    EXPECT_EQ(WindowTitle(u"", u"Current title"), u"Current title");
}

}  // namespace
