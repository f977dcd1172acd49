// The remote serial port against a scripted server on loopback (the test plays the server
// byte for byte, so every frame the port sends is checked exactly) and against a real ser2net
// serving a pseudo-terminal (skipped when ser2net is not installed).
#include "channels/rfc2217_port.h"

#include <gtest/gtest.h>
#include <termios.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "net_test_support.h"
#include "platform/code_page.h"
#include "platform/socket.h"
#include "pty_pair.h"
#include "support/scratch_files.h"
#include "support/ser2net_process.h"

namespace {

namespace plat = kem::platform;
using kem::testing::MsSince;
using kem::testing::TestSocket;
using kem::testing::TraceCapture;
using kem::testing::WaitUntil;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

std::string Bytes(std::initializer_list<int> values) {
    std::string out;
    for (int value : values) {
        out.push_back(static_cast<char>(value));
    }
    return out;
}

std::string AllByteValues() {
    std::string all;
    for (int i = 0; i < 256; ++i) {
        all.push_back(static_cast<char>(i));
    }
    return all;
}

// IAC SB COM-PORT payload IAC SE, with 0xFF in the payload doubled.
std::string Sb(std::initializer_list<int> payload) {
    std::string out = Bytes({0xFF, 0xFA, 0x2C});
    for (int value : payload) {
        out.append(value == 0xFF ? 2 : 1, static_cast<char>(value));
    }
    return out + Bytes({0xFF, 0xF0});
}

// What the port asks for first: WILL COM-PORT, WILL BINARY, DO BINARY; and the agreement.
const std::string kRequests = Bytes({0xFF, 0xFB, 0x2C, 0xFF, 0xFB, 0x00, 0xFF, 0xFD, 0x00});
const std::string kAgreement = Bytes({0xFF, 0xFD, 0x2C, 0xFF, 0xFD, 0x00, 0xFF, 0xFB, 0x00});

tagComPortParam Param(uint32_t baud, int32_t bits, int32_t parity, int32_t stop, int32_t flow) {
    tagComPortParam param;
    param.dwBaudRate = baud;
    param.nByteSize = bits;
    param.nParity = parity;
    param.nStopBits = stop;
    param.nFlowControl = flow;
    return param;
}
// 57600 baud, even parity, 7 data bits, 2 stop bits, XON/XOFF.
tagComPortParam Param57600E72() {
    return Param(57600, 7, 2, 2, 0);
}

// The settings of Param57600E72 with DTR on, and the server's answers to them.
const std::string kSettings57600E72 = Sb({1, 0x00, 0x00, 0xE1, 0x00}) + Sb({2, 7}) + Sb({3, 3}) +
                                      Sb({4, 2}) + Sb({5, 2}) + Sb({5, 8}) + Sb({5, 11});
const std::string kAnswers57600E72 = Sb({101, 0x00, 0x00, 0xE1, 0x00}) + Sb({102, 7}) +
                                     Sb({103, 3}) + Sb({104, 2}) + Sb({105, 2}) + Sb({105, 8}) +
                                     Sb({105, 11});
const std::vector<std::u16string> kAllSettingNames = {
    u"SET-BAUDRATE",      u"SET-DATASIZE",     u"SET-PARITY",      u"SET-STOPSIZE",
    u"SET-CONTROL(FLOW)", u"SET-CONTROL(DTR)", u"SET-CONTROL(RTS)"};

std::u16string UrlOf(const std::string& host, uint16_t port) {
    const std::string text = "rfc2217://" + host + ":" + std::to_string(port);
    return std::u16string(text.begin(), text.end());
}

// A one-connection server on a loopback port the OS picked; the test plays its side.
struct FakeServer {
    std::u16string url() const { return UrlOf("127.0.0.1", listener.port()); }
    bool Accept() {
        link = listener.Accept();
        return link.valid();
    }
    // What arrives within `ms`, up to `size` bytes: compared whole, so a byte too many or too
    // few shows.
    std::string Got(size_t size, int ms = 3000) const { return link.Receive(size, ms); }
    bool Send(const std::string& bytes) const { return link.SendAll(bytes); }

    kem::testing::TestListener listener{4};
    TestSocket link;
};

// What the port reported through its call-backs.
class PortEvents {
public:
    void Install(CKemRfc2217Port& port) {
        port.m_pfnOnReceived = &Received;
        port.m_pfnOnGone = &Gone;
        port.m_pfnOnUnconfirmed = &Unconfirmed;
        port.m_pUser = this;
    }
    std::string data() const {
        std::lock_guard lock(mutex_);
        return data_;
    }
    std::vector<std::string> order() const {
        std::lock_guard lock(mutex_);
        return order_;
    }
    std::u16string url() const {
        std::lock_guard lock(mutex_);
        return url_;
    }
    bool AwaitData(const std::string& want, int timeout_ms = 3000) const {
        return WaitUntil([&] { return data() == want; }, timeout_ms);
    }
    int gone() const { return gone_.load(); }
    int unconfirmed() const { return unconfirmed_.load(); }
    // What the receive call-back returns: -100 consumes all, other values as they are.
    std::atomic<int32_t> consume{-100};

private:
    static int32_t Received(const char16_t* url, const uint8_t* data, int32_t count, void* user) {
        auto* self = static_cast<PortEvents*>(user);
        std::lock_guard lock(self->mutex_);
        self->url_ = url;
        self->order_.push_back("data");
        const int32_t consume = self->consume.load();
        const int32_t taken = consume == -100 ? count : std::min(consume, count);
        self->data_.append(reinterpret_cast<const char*>(data), static_cast<size_t>(taken));
        return consume == -100 ? count : consume;
    }
    static void Gone(void* user) {
        auto* self = static_cast<PortEvents*>(user);
        std::lock_guard lock(self->mutex_);
        self->order_.push_back("gone");
        ++self->gone_;
    }
    static void Unconfirmed(void* user) { ++static_cast<PortEvents*>(user)->unconfirmed_; }

    mutable std::mutex mutex_;
    std::string data_;
    std::vector<std::string> order_;
    std::u16string url_;
    std::atomic<int> gone_{0};
    std::atomic<int> unconfirmed_{0};
};

// A port wired to its recorder, and the scripted server it talks to.
struct Session {
    Session() { events.Install(port); }

    // Opens with 57600,E,7,2 and DTR (true: on) and takes the three requests.
    void OpenAsking(bool dtr = true) {
        ASSERT_EQ(port.Open(server.url(), Param57600E72(), dtr), CKemRfc2217Port::kOpened);
        ASSERT_TRUE(server.Accept());
        ASSERT_EQ(server.Got(kRequests.size()), kRequests);
    }
    // OpenAsking, then agrees to the options and takes the settings, exactly.
    void OpenAgreed() {
        ASSERT_NO_FATAL_FAILURE(OpenAsking());
        ASSERT_TRUE(server.Send(kAgreement));
        ASSERT_EQ(server.Got(kSettings57600E72.size()), kSettings57600E72);
    }

    FakeServer server;
    PortEvents events;
    CKemRfc2217Port port;  // last: its thread ends before the recorder goes
};

}  // namespace

TEST(Rfc2217Url, SchemeInAnyCaseHostAndPortElseRefused) {
    const std::tuple<std::u16string, std::u16string, int> good[] = {
        {u"rfc2217://localhost:2217", u"localhost", 2217},
        {u"RFC2217://192.168.1.20:1", u"192.168.1.20", 1},
        {u"Rfc2217://ser-1.lab.example:65535", u"ser-1.lab.example", 65535},
        {u"rfc2217://" + std::u16string(63, u'a') + u":80", std::u16string(63, u'a'), 80}};
    for (const auto& [text, host, port] : good) {
        const auto url = CKemRfc2217Port::ParseRfc2217Url(text);
        ASSERT_TRUE(url.has_value()) << kem::platform::WideToUtf8(text);
        EXPECT_EQ(url->host, host);
        EXPECT_EQ(url->port, port);
    }
    const std::u16string label64 = u"rfc2217://" + std::u16string(64, u'a') + u":80";
    for (const char16_t* text : {u"",
                                 u"rfc2217://",
                                 u"rfc2217://host",
                                 u"rfc2217://host:",
                                 u"rfc2217://:2217",
                                 u"rfc2217://host:0",
                                 u"rfc2217://host:65536",
                                 u"rfc2217://host:123456",
                                 u"rfc2217://host:+80",
                                 u"rfc2217://host:80/",
                                 u"rfc2217://host:8x",
                                 u"rfc2217://host :80",
                                 u"rfc2217://1.2.3:80",
                                 u"rfc2217://256.1.1.1:80",
                                 u"rfc2217://0.0.0.0:80",
                                 u"rfc2217://-a.example:80",
                                 u"rfc2217://a-.example:80",
                                 u"rfc2217://a..b:80",
                                 u"rfc2217://a.b.:80",
                                 u"rfc2217://user@host:80",
                                 u"rfc2217://[::1]:80",
                                 u"rfc2217:/host:80",
                                 u"tcp://host:80",
                                 u" rfc2217://host:80",
                                 u"COM1",
                                 label64.c_str()}) {
        EXPECT_FALSE(CKemRfc2217Port::ParseRfc2217Url(text).has_value())
            << kem::platform::WideToUtf8(text);
    }
}

TEST(Rfc2217Settings, CodesMapToValuesAndOnlyAnswersSettleKeys) {
    const auto value = [](const tagComPortParam& param, size_t index) {
        return int{(*kem::channels::Rfc2217SettingsFromParam(param)).at(index).value.at(0)};
    };
    // Parity codes 0..4 become 1..5, anything else none; stop bits 0, 1, 2 become 1, 3, 2;
    // flow 0 XON/XOFF, 1 hardware, anything else none.
    for (auto [code, want] : {std::pair{0, 1}, {1, 2}, {2, 3}, {3, 4}, {4, 5}, {9, 1}, {-1, 1}}) {
        EXPECT_EQ(value(Param(57600, 7, code, 2, 0), 2), want) << "parity " << code;
    }
    for (auto [code, want] : {std::pair{0, 1}, {1, 3}, {2, 2}}) {
        EXPECT_EQ(value(Param(57600, 5, 2, code, 0), 3), want) << "stop bits " << code;
    }
    for (auto [code, want] : {std::pair{0, 2}, {1, 3}, {2, 1}, {7, 1}}) {
        EXPECT_EQ(value(Param(57600, 7, 2, 2, code), 4), want) << "flow " << code;
    }
    for (const tagComPortParam& bad :
         {Param(0, 7, 2, 2, 0), Param(57600, 4, 2, 2, 0), Param(57600, 9, 2, 2, 0),
          Param(57600, 7, 2, 3, 0), Param(57600, 7, 2, -1, 0)}) {
        EXPECT_FALSE(kem::channels::Rfc2217SettingsFromParam(bad).has_value());
    }
    // A break (never sent), an empty payload, a client command and a notification settle none.
    using kem::channels::Rfc2217AnswerKey;
    EXPECT_FALSE(Rfc2217AnswerKey(105, {5}).has_value());
    EXPECT_FALSE(Rfc2217AnswerKey(105, {}).has_value());
    EXPECT_FALSE(Rfc2217AnswerKey(1, {8}).has_value());
    EXPECT_FALSE(Rfc2217AnswerKey(107, {0x30}).has_value());
}

TEST(Rfc2217Port, SettingsWaitForTheOptionThenGoOutExactly) {
    Session s;
    s.port.m_nAckWaitMs = 300;
    ASSERT_NO_FATAL_FAILURE(s.OpenAsking());
    EXPECT_EQ(s.port.IsOpen(), 1);
    EXPECT_EQ(s.port.Open(s.server.url(), Param57600E72(), true), CKemRfc2217Port::kAlreadyOpen);
    EXPECT_EQ(s.server.Got(1, 150), "");  // no setting before the option is agreed
    ASSERT_TRUE(s.server.Send(kAgreement));
    // The agreement answered our requests: nothing is answered back.
    EXPECT_EQ(s.server.Got(kSettings57600E72.size()), kSettings57600E72);
    EXPECT_EQ(s.server.Got(1, 150), "");
    ASSERT_TRUE(s.server.Send(kAnswers57600E72));
    // Past the answer wait, nothing is missing and nobody was told.
    std::this_thread::sleep_for(milliseconds(450));
    EXPECT_TRUE(s.port.Unconfirmed().empty());
    EXPECT_EQ(s.events.unconfirmed(), 0);
    EXPECT_EQ(s.port.IsOpen(), 1);
    EXPECT_EQ(s.port.Close(), 0);
    EXPECT_EQ(s.port.IsOpen(), 0);
    EXPECT_EQ(s.events.gone(), 0);  // Close is no loss of the link
}

TEST(Rfc2217Port, OtherOptionsAreRefusedOnceWithoutLooping) {
    Session s;
    ASSERT_NO_FATAL_FAILURE(s.OpenAgreed());
    // ECHO and SUPPRESS-GO-AHEAD offered and asked for, as common servers do; then the
    // acknowledgements of our refusals, which must not be answered again.
    ASSERT_TRUE(s.server.Send(Bytes({0xFF, 0xFB, 0x01, 0xFF, 0xFB, 0x03, 0xFF, 0xFD, 0x03, 0xFF,
                                     0xFD, 0x2C, 0xFF, 0xFB, 0x00})));
    const std::string refusals = Bytes({0xFF, 0xFE, 0x01, 0xFF, 0xFE, 0x03, 0xFF, 0xFC, 0x03});
    EXPECT_EQ(s.server.Got(refusals.size()), refusals);
    EXPECT_EQ(s.server.Got(1, 150), "");  // and nothing more
    ASSERT_TRUE(s.server.Send(Bytes({0xFF, 0xFC, 0x01, 0xFF, 0xFC, 0x03, 0xFF, 0xFE, 0x03})));
    EXPECT_EQ(s.server.Got(1, 200), "");
    EXPECT_EQ(s.port.IsOpen(), 1);
}

TEST(Rfc2217Port, SilentOrRefusingServerGetsNoSettingAndOneReportWhileDataFlows) {
    // A server that says nothing about options, and a plain Telnet server: binary yes,
    // COM-PORT no.
    const std::pair<std::string, std::vector<std::string>> cases[] = {
        {"", {"SET-BAUDRATE", "SET-CONTROL(DTR)"}},
        {Bytes({0xFF, 0xFE, 0x2C, 0xFF, 0xFD, 0x00, 0xFF, 0xFB, 0x00}),
         {"refused the COM-PORT option"}}};
    for (const auto& [reply, logged] : cases) {
        TraceCapture log;
        Session s;
        s.port.m_nAckWaitMs = 200;
        ASSERT_NO_FATAL_FAILURE(s.OpenAsking(false));
        ASSERT_TRUE(s.server.Send(reply + "hello"));
        ASSERT_TRUE(s.events.AwaitData("hello"));
        EXPECT_EQ(s.events.url(), s.server.url());
        EXPECT_EQ(s.port.Write("abc", 3), 3);
        ASSERT_TRUE(WaitUntil([&] { return s.events.unconfirmed() == 1; }, 3000));
        // Queued one after another, their time may run out a tick apart.
        EXPECT_TRUE(WaitUntil([&] { return s.port.Unconfirmed().size() == 7; }, 3000));
        EXPECT_EQ(s.port.Unconfirmed(), kAllSettingNames);
        // Reported once for the run; never sent, and the refusal is not answered.
        EXPECT_EQ(s.server.Got(4, 300), "abc");
        EXPECT_EQ(s.events.unconfirmed(), 1);
        for (const std::string& text : logged) {
            EXPECT_NE(log.text().find(text), std::string::npos) << text;
        }
        ASSERT_TRUE(s.server.Send("more"));
        ASSERT_TRUE(s.events.AwaitData("hellomore"));
        EXPECT_EQ(s.port.IsOpen(), 1);
        EXPECT_EQ(s.events.gone(), 0);
    }
}

TEST(Rfc2217Port, OneMissingAnswerIsReportedOncePerRun) {
    TraceCapture log;
    Session s;
    s.port.m_nAckWaitMs = 200;
    ASSERT_NO_FATAL_FAILURE(s.OpenAgreed());
    // Everything but DTR is answered.
    ASSERT_TRUE(s.server.Send(Sb({101, 0x00, 0x00, 0xE1, 0x00}) + Sb({102, 7}) + Sb({103, 3}) +
                              Sb({104, 2}) + Sb({105, 2}) + Sb({105, 11})));
    ASSERT_TRUE(WaitUntil([&] { return s.events.unconfirmed() == 1; }, 3000));
    EXPECT_EQ(s.port.Unconfirmed(), std::vector<std::u16string>{u"SET-CONTROL(DTR)"});
    EXPECT_NE(log.text().find("SET-CONTROL(DTR)"), std::string::npos);
    EXPECT_EQ(log.text().find("SET-BAUDRATE"), std::string::npos);
    // A late answer settles it and ends the run; a new setting left unanswered starts a new one.
    ASSERT_TRUE(s.server.Send(Sb({105, 8})));
    ASSERT_TRUE(WaitUntil([&] { return s.port.Unconfirmed().empty(); }, 3000));
    EXPECT_EQ(s.port.SetDtr(0), 0);
    EXPECT_EQ(s.port.GetDtr(), 0);
    EXPECT_EQ(s.server.Got(Sb({5, 9}).size()), Sb({5, 9}));
    ASSERT_TRUE(WaitUntil([&] { return s.events.unconfirmed() == 2; }, 3000));
    EXPECT_EQ(s.port.Unconfirmed(), std::vector<std::u16string>{u"SET-CONTROL(DTR)"});
    ASSERT_TRUE(s.server.Send("still here"));  // data kept flowing all along
    ASSERT_TRUE(s.events.AwaitData("still here"));
}

TEST(Rfc2217Port, AnswersAndNotificationsSplitByteByByte) {
    Session s;
    s.port.m_nAckWaitMs = 400;
    ASSERT_NO_FATAL_FAILURE(s.OpenAgreed());
    // Data, every answer, both notifications and a doubled 0xFF in the data, one byte per
    // segment.
    const std::string script = "a" + kAnswers57600E72 + Bytes({0xFF, 0xFF}) + "b" +
                               Sb({106, 0x60}) + Sb({107, 0xB0}) + "c";
    for (char c : script) {
        ASSERT_TRUE(s.server.Send(std::string(1, c)));
        std::this_thread::sleep_for(std::chrono::microseconds(300));
    }
    ASSERT_TRUE(s.events.AwaitData("a" + Bytes({0xFF}) + "bc"));
    ASSERT_TRUE(WaitUntil([&] { return s.port.modem_state() == 0xB0; }, 3000));
    EXPECT_EQ(s.port.line_state(), 0x60);
    std::this_thread::sleep_for(milliseconds(500));
    EXPECT_TRUE(s.port.Unconfirmed().empty());
    EXPECT_EQ(s.events.unconfirmed(), 0);
    EXPECT_EQ(s.port.IsOpen(), 1);
}

TEST(Rfc2217Port, MalformedOrEndlessControlCutsTheLinkAfterTheData) {
    // Endless modem state notifications without a data byte between them.
    std::string notifications;
    for (size_t i = 0; i <= kem::channels::telnet::Decoder::kDefaultMaxControlRun; ++i) {
        notifications += Sb({107, 0x30});
    }
    const std::pair<std::string, std::u16string> cases[] = {
        {Bytes({0xFF, 0xFA, 0x2C, 107}) + std::string(300, 'x'), u"子协商过长"},
        {Bytes({0xFF, 0xF0}), u"子协商结束符多余"},
        {Bytes({0xFF, 0x20}), u"未知的 Telnet 命令"},
        {Bytes({0xFF, 0xFA, 0x2C, 0x65, 0xFF, 0x01}), u"子协商格式错误"},
        {notifications, u"控制命令过多而无数据"}};
    for (const auto& [bytes, reason] : cases) {
        SCOPED_TRACE(kem::platform::WideToUtf8(reason));
        Session s;
        ASSERT_NO_FATAL_FAILURE(s.OpenAgreed());
        ASSERT_TRUE(s.server.Send("ok" + bytes + "lost"));
        ASSERT_TRUE(WaitUntil([&] { return s.events.gone() == 1; }, 3000));
        EXPECT_EQ(s.events.data(), "ok");
        EXPECT_EQ(s.events.order().back(), "gone");
        EXPECT_EQ(s.port.last_reason(), reason);
        EXPECT_EQ(s.port.IsOpen(), 0);
        EXPECT_EQ(s.port.Write("x", 1), CKemRfc2217Port::kWriteNotOpen);
        // The port closed its side: the server sees the end once Close ran.
        EXPECT_EQ(s.port.Close(), 0);
        EXPECT_TRUE(s.server.link.SeesClose());
        EXPECT_EQ(s.events.gone(), 1);
    }
}

TEST(Rfc2217Port, AllByteValuesPassBothWaysWithTheirIacDoubled) {
    Session s;
    ASSERT_NO_FATAL_FAILURE(s.OpenAgreed());
    const std::string all = AllByteValues();
    const std::string doubled = all + Bytes({0xFF});
    EXPECT_EQ(s.port.Write(all.data(), static_cast<int32_t>(all.size())), 256);
    EXPECT_EQ(s.server.Got(doubled.size()), doubled);
    ASSERT_TRUE(s.server.Send(doubled + doubled));
    ASSERT_TRUE(s.events.AwaitData(all + all));
    const std::string big(100000, static_cast<char>(0xFF));  // a large block, all IAC
    EXPECT_EQ(s.port.Write(big.data(), static_cast<int32_t>(big.size())), 100000);
    EXPECT_TRUE(s.server.Got(200000, 5000) == big + big);
}

TEST(Rfc2217Port, SetCommParamOnTheFlySendsOnlyTheChangedSettings) {
    Session s;
    ASSERT_NO_FATAL_FAILURE(s.OpenAgreed());
    tagComPortParam next = Param(0x1FF, 7, 0, 2, 0);  // 0xFF in the baud rate is doubled
    EXPECT_EQ(s.port.SetCommParam(next), 0);
    const std::string expected = Sb({1, 0x00, 0x00, 0x01, 0xFF}) + Sb({3, 1});
    EXPECT_EQ(s.server.Got(expected.size()), expected);
    EXPECT_EQ(s.server.Got(1, 150), "");  // and nothing more
    EXPECT_EQ(s.port.param().dwBaudRate, 0x1FFu);
    // The same record again sends nothing; a bad one is refused and changes nothing.
    EXPECT_EQ(s.port.SetCommParam(next), 0);
    EXPECT_EQ(s.port.SetCommParam(Param(0x1FF, 7, 0, 5, 0)), CKemRfc2217Port::kBadParam);
    EXPECT_EQ(s.port.param().nStopBits, 2);
    next.nFlowControl = 1;
    EXPECT_EQ(s.port.SetCommParam(next), 0);
    s.port.SetRts(0);
    const std::string controls = Sb({5, 3}) + Sb({5, 12});
    EXPECT_EQ(s.server.Got(controls.size()), controls);
    EXPECT_EQ(s.server.Got(1, 150), "");                // and nothing more
    EXPECT_FALSE(s.server.listener.Accept(0).valid());  // still the one connection
    EXPECT_EQ(s.port.IsOpen(), 1);
    EXPECT_EQ(s.events.gone(), 0);
}

TEST(Rfc2217Port, PeerClosingCallsGoneOnceAfterTheDataAndItOpensAgain) {
    Session s;
    ASSERT_NO_FATAL_FAILURE(s.OpenAgreed());
    ASSERT_TRUE(s.server.Send("last words"));
    s.server.link.Close();
    ASSERT_TRUE(WaitUntil([&] { return s.events.gone() == 1; }, 3000));
    EXPECT_EQ(s.events.data(), "last words");
    EXPECT_EQ(s.events.order().back(), "gone");
    EXPECT_EQ(s.port.last_reason(), u"服务器关闭了连接");
    EXPECT_EQ(s.port.IsOpen(), 0);
    std::this_thread::sleep_for(milliseconds(100));
    EXPECT_EQ(s.events.gone(), 1);
    EXPECT_EQ(s.port.Close(), 0);
    ASSERT_NO_FATAL_FAILURE(s.OpenAsking());
    EXPECT_TRUE(s.port.last_reason().empty());
}

TEST(Rfc2217Port, ClosedPortStoresSettingsAndOpenFailuresLeaveNothingBehind) {
    CKemRfc2217Port port;
    const tagComPortParam param = Param57600E72();
    EXPECT_EQ(port.SetCommParam(Param(115200, 7, 2, 2, 0)), 0);
    EXPECT_EQ(port.param().dwBaudRate, 115200u);
    EXPECT_EQ(port.SetDtr(1), 1);
    EXPECT_EQ(port.GetDtr(), 1);
    EXPECT_EQ(port.Write("x", 1), CKemRfc2217Port::kWriteNotOpen);
    EXPECT_EQ(port.Write(nullptr, 1), 0);
    EXPECT_EQ(port.Close(), 0);
    EXPECT_TRUE(port.Unconfirmed().empty());
    EXPECT_EQ(port.Open(u"rfc2217://host", param, true), CKemRfc2217Port::kBadUrl);
    EXPECT_EQ(port.Open(u"rfc2217://127.0.0.1:9", Param(57600, 12, 2, 2, 0), true),
              CKemRfc2217Port::kBadParam);
    EXPECT_EQ(port.Open(UrlOf("127.0.0.1", kem::testing::UnusedPort()), param, true),
              CKemRfc2217Port::kConnectFailed);
    EXPECT_EQ(port.last_error().kind, plat::ErrorKind::kRefused);
    EXPECT_EQ(port.IsOpen(), 0);
    EXPECT_EQ(port.Open(u"rfc2217://no-such-host.invalid:2217", param, true),
              CKemRfc2217Port::kResolveFailed);
    EXPECT_TRUE(port.last_error().failed());
    EXPECT_EQ(port.IsOpen(), 0);
    // The next Open succeeds, by host name.
    FakeServer server;
    ASSERT_EQ(port.Open(UrlOf("localhost", server.listener.port()), param, true),
              CKemRfc2217Port::kOpened);
    EXPECT_FALSE(port.last_error().failed());
    ASSERT_TRUE(server.Accept());
    EXPECT_EQ(server.Got(kRequests.size()), kRequests);
}

TEST(Rfc2217Port, WriteToAPeerThatReadsNothingFailsInBoundedTime) {
    Session s;
    s.port.m_nWriteStallMs = 300;
    ASSERT_NO_FATAL_FAILURE(s.OpenAgreed());
    const std::string block(1 << 20, 'w');
    const auto start = Clock::now();
    int32_t result = 0;
    for (int i = 0; i < 64 && result >= 0; ++i) {
        result = s.port.Write(block.data(), static_cast<int32_t>(block.size()));
    }
    EXPECT_EQ(result, CKemRfc2217Port::kWriteFailed);
    EXPECT_EQ(s.port.last_error().kind, plat::ErrorKind::kTimeout);
    EXPECT_LT(MsSince(start), 20000);
    EXPECT_EQ(s.port.IsOpen(), 1);  // the read side still works
}

TEST(Rfc2217Port, KeptBytesAreOfferedAgainAndComeFirst) {
    Session s;
    s.port.m_nKeptOfferMs = 20;
    ASSERT_NO_FATAL_FAILURE(s.OpenAgreed());
    s.events.consume = 0;  // keep everything for now
    ASSERT_TRUE(s.server.Send("keep"));
    ASSERT_TRUE(WaitUntil([&] { return s.events.order().size() >= 3; }, 3000));
    EXPECT_EQ(s.events.data(), "");
    s.events.consume = -100;
    ASSERT_TRUE(s.events.AwaitData("keep"));
    ASSERT_TRUE(s.server.Send("next"));
    ASSERT_TRUE(s.events.AwaitData("keepnext"));
}

TEST(Rfc2217Port, CloseIsPromptWhileTheReaderWaitsAndDestructionWhileOpen) {
    auto s = std::make_unique<Session>();
    ASSERT_NO_FATAL_FAILURE(s->OpenAsking(false));
    const auto start = Clock::now();
    EXPECT_EQ(s->port.Close(), 0);
    EXPECT_LT(MsSince(start), 1000);
    EXPECT_TRUE(s->server.link.SeesClose());
    EXPECT_EQ(s->events.gone(), 0);
    // Destroyed while open: the thread goes first.
    ASSERT_NO_FATAL_FAILURE(s->OpenAsking(false));
    const TestSocket far = std::move(s->server.link);
    s.reset();
    EXPECT_TRUE(far.SeesClose());
}

// ---- against ser2net --------------------------------------------------------------------

namespace {

class Rfc2217Ser2net : public ::testing::Test {
protected:
    void SetUp() override {
        const auto program = kem::testing::Ser2netProcess::Find();
        if (!program) {
            GTEST_SKIP() << "ser2net is not installed (scripts/setup installs it)";
        }
        server_.emplace(*program, folder_.path());
        server_->Serve(pty_.path(), true);
        ASSERT_TRUE(server_->Start()) << server_->log();
        events_.Install(port_);
    }
    // Waits until the pseudo-terminal's line has `speed` and (or not) two stop bits.
    bool LineBecomes(speed_t speed, bool two_stop_bits) const {
        return WaitUntil([&] { return pty_.LineHas(speed, two_stop_bits); }, 5000);
    }

    kem::testing::TempFolder folder_;
    kem::testing::PtyPair pty_;
    std::optional<kem::testing::Ser2netProcess> server_;
    PortEvents events_;
    CKemRfc2217Port port_;
};

}  // namespace

TEST_F(Rfc2217Ser2net, SettingsReachTheLineAndEveryByteValuePasses) {
    port_.m_nAckWaitMs = 1500;
    ASSERT_EQ(port_.Open(server_->url(0), Param(57600, 7, 2, 2, 2), true),
              CKemRfc2217Port::kOpened);
    // A Linux pseudo-terminal keeps the speed and the stop bits; it always reports CS8
    // without PARENB, so character size and parity cannot be checked here.
    EXPECT_TRUE(LineBecomes(B57600, true)) << server_->log();
    // New settings on the fly: the same connection, the line changes.
    ASSERT_EQ(port_.SetCommParam(Param(115200, 8, 0, 0, 2)), 0);
    EXPECT_TRUE(LineBecomes(B115200, false));
    EXPECT_EQ(port_.IsOpen(), 1);

    const std::string all = AllByteValues();
    EXPECT_EQ(port_.Write(all.data(), static_cast<int32_t>(all.size())), 256);
    std::vector<uint8_t> at_device;
    pty_.ReadMaster(at_device, 256, 5000);
    EXPECT_EQ(std::string(at_device.begin(), at_device.end()), all);
    ASSERT_EQ(pty_.WriteMaster(all.data(), all.size()), all.size());
    EXPECT_TRUE(events_.AwaitData(all, 5000));

    // The line settings were answered. (Whether the server answers DTR and RTS on a
    // pseudo-terminal, which has no modem lines, is its own business.)
    std::this_thread::sleep_for(milliseconds(1700));
    for (const std::u16string& name : port_.Unconfirmed()) {
        EXPECT_EQ(name.rfind(u"SET-CONTROL(", 0), 0u) << kem::platform::WideToUtf8(name);
        EXPECT_NE(name, u"SET-CONTROL(FLOW)");
    }
    EXPECT_EQ(events_.gone(), 0);
}

TEST_F(Rfc2217Ser2net, ServerStoppingMidFlowEndsTheLink) {
    ASSERT_EQ(port_.Open(server_->url(0), Param(115200, 8, 0, 0, 2), false),
              CKemRfc2217Port::kOpened);
    std::atomic<bool> streaming{true};
    std::thread writer([&] {
        const std::vector<uint8_t> chunk = kem::testing::PatternBytes(1024);
        while (streaming) {
            pty_.WriteMaster(chunk.data(), chunk.size(), 50, [&] { return streaming.load(); });
        }
    });
    EXPECT_TRUE(WaitUntil([&] { return events_.data().size() >= 4096; }, 5000));
    server_->Stop();
    EXPECT_TRUE(WaitUntil([&] { return events_.gone() == 1; }, 5000));
    streaming = false;
    writer.join();
    EXPECT_EQ(port_.IsOpen(), 0);
    EXPECT_FALSE(port_.last_reason().empty());
    std::this_thread::sleep_for(milliseconds(100));
    EXPECT_EQ(events_.gone(), 1);
    EXPECT_EQ(port_.Close(), 0);
}
