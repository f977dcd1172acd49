#include "terminal/link_text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "platform/code_page.h"

namespace {

std::string Show(std::u16string_view text) {
    return kem::platform::WideToUtf8(text);
}

std::unique_ptr<tagAppConfig> EmptyConfig() {
    auto config = std::make_unique<tagAppConfig>();
    std::memset(config.get(), 0, sizeof(tagAppConfig));
    return config;
}

void Put(char16_t* field, std::u16string_view text) {
    std::copy(text.begin(), text.end(), field);
    field[text.size()] = u'\0';
}

TEST(LinkTypeFromPortNameTest, PseudoPortsIgnoreAsciiCaseOnly) {
    const struct {
        const char* name;
        const char16_t* port;
        LinkType type;
    } rows[] = {
        {"client", u"TCP/IP", LinkType::kTcpClient},
        {"client lower", u"tcp/ip", LinkType::kTcpClient},
        {"client mixed", u"Tcp/Ip", LinkType::kTcpClient},
        {"server", u"SERVER", LinkType::kTcpServer},
        {"server lower", u"server", LinkType::kTcpServer},
        {"serial", u"COM3", LinkType::kSerial},
        {"device path", u"/dev/ttyUSB0", LinkType::kSerial},
        {"empty", u"", LinkType::kSerial},
        {"blank after", u"SERVER ", LinkType::kSerial},
        {"prefix only", u"TCP", LinkType::kSerial},
        {"full-width letters", u"ＳＥＲＶＥＲ", LinkType::kSerial},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(LinkTypeFromPortName(row.port), row.type) << row.name;
    }
}

TEST(LinkParamTest, EachKindKeepsItsOwnField) {
    auto config = EmptyConfig();
    Put(config->ComPortParam, u"9600,N,8,1");
    Put(config->NetPortParam, u"127.0.0.1:60000");
    Put(config->NetServerParam, u"60000");
    EXPECT_EQ(LoadLinkParam(*config, LinkType::kSerial), u"9600,N,8,1");
    EXPECT_EQ(LoadLinkParam(*config, LinkType::kTcpClient), u"127.0.0.1:60000");
    EXPECT_EQ(LoadLinkParam(*config, LinkType::kTcpServer), u"60000");
    EXPECT_EQ(LoadLinkParam(*config, LinkType::kNone), u"");
}

TEST(LinkParamTest, SwitchingKindsStoresTheBoxAndBringsItBack) {
    auto config = EmptyConfig();
    Put(config->ComPortParam, u"9600,N,8,1");
    Put(config->NetPortParam, u"10.0.0.5:23");
    // The first selection stores nothing (no kind before) and shows the serial text.
    std::u16string box = SwitchLinkParam(*config, LinkType::kNone, LinkType::kSerial, u"junk");
    EXPECT_EQ(box, u"9600,N,8,1");
    box = u"115200,E,7,2";  // typed by the user
    box = SwitchLinkParam(*config, LinkType::kSerial, LinkType::kTcpClient, box);
    EXPECT_EQ(box, u"10.0.0.5:23");
    EXPECT_EQ(std::u16string(config->ComPortParam), u"115200,E,7,2");
    box = SwitchLinkParam(*config, LinkType::kTcpClient, LinkType::kSerial, box);
    EXPECT_EQ(box, u"115200,E,7,2");
    // The same kind again keeps the box as it is.
    EXPECT_EQ(SwitchLinkParam(*config, LinkType::kSerial, LinkType::kSerial, u"typed"), u"typed");
    EXPECT_EQ(std::u16string(config->ComPortParam), u"115200,E,7,2");
}

TEST(LinkParamTest, TooLongTextsAreCutToTheField) {
    auto config = EmptyConfig();
    const std::u16string long_text(300, u'7');
    EXPECT_EQ(StoreLinkParam(*config, LinkType::kSerial, long_text), StoreResult::kCut);
    EXPECT_EQ(LoadLinkParam(*config, LinkType::kSerial), long_text.substr(0, 255));
    EXPECT_EQ(StoreLinkParam(*config, LinkType::kTcpServer, long_text), StoreResult::kCut);
    EXPECT_EQ(LoadLinkParam(*config, LinkType::kTcpServer), long_text.substr(0, 63));
    // The field next to the server's is not touched.
    EXPECT_EQ(config->TransmitComPortName[0], u'\0');
    EXPECT_EQ(StoreLinkParam(*config, LinkType::kTcpServer, long_text.substr(0, 63)),
              StoreResult::kStored);
    // A character beyond the BMP that would be split is dropped whole.
    std::u16string emoji(62, u'1');
    emoji += u"\U0001F600";
    EXPECT_EQ(StoreLinkParam(*config, LinkType::kTcpServer, emoji), StoreResult::kCut);
    EXPECT_EQ(LoadLinkParam(*config, LinkType::kTcpServer), std::u16string(62, u'1'));
    // A shorter text replaces the old one completely.
    EXPECT_EQ(StoreLinkParam(*config, LinkType::kTcpServer, u"80"), StoreResult::kStored);
    EXPECT_EQ(LoadLinkParam(*config, LinkType::kTcpServer), u"80");
    EXPECT_EQ(StoreLinkParam(*config, LinkType::kNone, u"x"), StoreResult::kNoField);
}

TEST(LinkParamTest, SerialChoicesOnlyForTheSerialPort) {
    EXPECT_TRUE(SerialChoicesEnabled(LinkType::kSerial));
    EXPECT_FALSE(SerialChoicesEnabled(LinkType::kTcpClient));
    EXPECT_FALSE(SerialChoicesEnabled(LinkType::kTcpServer));
}

TEST(ParsePortNumberTest, DecimalValueNeverWraps) {
    const struct {
        const char* name;
        const char16_t* text;
        int64_t value;
        bool usable;
    } rows[] = {
        {"plain", u"60000", 60000, true},
        {"lowest", u"1", 1, true},
        {"highest", u"65535", 65535, true},
        {"one past", u"65536", 65536, false},
        {"seventy thousand", u"70000", 70000, false},
        {"wraps to 1 in 16 bits", u"65537", 65537, false},
        {"minus one", u"-1", -1, false},
        {"zero", u"0", 0, false},
        {"empty", u"", 0, false},
        {"letters", u"abc", 0, false},
        {"leading blanks", u"  8080", 8080, true},
        {"plus sign", u"+23", 23, true},
        {"trailing text", u"23/tcp", 23, true},
        {"wraps to a valid port in 32 bits", u"4294967297", 4294967297, false},
        {"huge", u"99999999999999999999999", int64_t{1} << 40, false},
        {"huge negative", u"-99999999999999999999999", -(int64_t{1} << 40), false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const PortNumber port = ParsePortNumber(row.text);
        EXPECT_EQ(port.value, row.value);
        EXPECT_EQ(port.usable, row.usable);
    }
}

TEST(ParseClientTargetTest, HostBeforeTheFirstColonPortAfterIt) {
    const struct {
        const char* name;
        const char16_t* text;
        const char16_t* host;
        const char16_t* port_text;
        int64_t port;
        bool usable;
    } rows[] = {
        {"usual", u"127.0.0.1:60000", u"127.0.0.1", u"60000", 60000, true},
        {"name", u"example.org:23", u"example.org", u"23", 23, true},
        {"no colon gives port 0", u"127.0.0.1", u"127.0.0.1", u"", 0, false},
        {"empty port", u"host:", u"host", u"", 0, false},
        {"empty host", u":80", u"", u"80", 80, true},
        {"second colon is part of the port", u"h:1:2", u"h", u"1:2", 1, true},
        {"port too large", u"h:70000", u"h", u"70000", 70000, false},
        {"negative port", u"h:-1", u"h", u"-1", -1, false},
        {"http prefix keeps its colon", u"http://h:80", u"http", u"//h:80", 0, false},
        {"empty", u"", u"", u"", 0, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const ClientTarget target = ParseClientTarget(row.text);
        EXPECT_EQ(target.host, row.host);
        EXPECT_EQ(target.port_text, row.port_text);
        EXPECT_EQ(target.port.value, row.port);
        EXPECT_EQ(target.port.usable, row.usable);
    }
}

TEST(OpenFailureTextTest, MessagesCarryTheCodeInDecimal) {
    EXPECT_EQ(SerialOpenFailedText(0), u"打开串口失败(0)");
    EXPECT_EQ(SerialOpenFailedText(-3), u"打开串口失败(-3)");
    EXPECT_EQ(ConnectFailedText(kClientPortRefused), u"连接服务器失败(-255)");
    EXPECT_EQ(ListenFailedText(u"70000", kServerPortRefused), u"监听端口70000失败(-202)");
    EXPECT_EQ(ListenFailedText(u"", -203), u"监听端口失败(-203)");
}

TEST(OpenButtonCaptionTest, OneCaptionPerState) {
    EXPECT_EQ(std::u16string(OpenButtonCaption(LinkState::kClosed)), u"打开");
    EXPECT_EQ(std::u16string(OpenButtonCaption(LinkState::kOpen)), u"关闭");
    EXPECT_EQ(std::u16string(OpenButtonCaption(LinkState::kListening)), u"停止");
    EXPECT_EQ(std::u16string(OpenButtonCaption(LinkState::kServingClient)), u"断开");
}

TEST(WindowTitleTest, NamesTheConfigurationFileWithoutFolderAndExtension) {
    const struct {
        const char* name;
        const char16_t* file;
        const char16_t* title;
    } rows[] = {
        {"windows path", u"C:\\cfg\\lab.pvto", u"Quorbel串口工具 - lab"},
        {"unix path", u"/home/user/bench.pvto", u"Quorbel串口工具 - bench"},
        {"mixed separators", u"C:\\cfg/sub\\x.pvto", u"Quorbel串口工具 - x"},
        {"no folder", u"lab.pvto", u"Quorbel串口工具 - lab"},
        {"no extension", u"/tmp/lab", u"Quorbel串口工具 - lab"},
        {"only the last extension", u"/tmp/a.b.pvto", u"Quorbel串口工具 - a.b"},
        {"dot in a folder only", u"/tmp/v1.2/lab", u"Quorbel串口工具 - lab"},
        {"chinese name", u"D:\\配置\\实验.pvto", u"Quorbel串口工具 - 实验"},
        {"no file keeps the title", u"", u"Current title"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(WindowTitle(row.file, u"Current title"), row.title) << Show(row.file);
    }
}

}  // namespace
