// The remote serial port against a scripted server on loopback: the test plays the server
// byte for byte, so every frame the port sends is checked exactly.
#include "channels/rfc2217_port.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "net_test_support.h"
#include "platform/code_page.h"
#include "platform/debug_sink.h"
#include "platform/socket.h"

namespace {

namespace plat = kem::platform;
using kem::testing::MsSince;
using kem::testing::TestSocket;
using kem::testing::WaitUntil;
using Clock = std::chrono::steady_clock;

std::string Bytes(std::initializer_list<int> values) {
    std::string out;
    for (int value : values) {
        out.push_back(static_cast<char>(value));
    }
    return out;
}

// IAC SB COM-PORT payload IAC SE, with 0xFF in the payload doubled.
std::string Sb(std::initializer_list<int> payload) {
    std::string out = Bytes({0xFF, 0xFA, 0x2C});
    for (int value : payload) {
        out.push_back(static_cast<char>(value));
        if (value == 0xFF) {
            out.push_back(static_cast<char>(0xFF));
        }
    }
    return out + Bytes({0xFF, 0xF0});
}

// What the port asks for first: WILL COM-PORT, WILL BINARY, DO BINARY.
const std::string kRequests = Bytes({0xFF, 0xFB, 0x2C, 0xFF, 0xFB, 0x00, 0xFF, 0xFD, 0x00});
// The server agreeing to all three.
const std::string kAgreement = Bytes({0xFF, 0xFD, 0x2C, 0xFF, 0xFD, 0x00, 0xFF, 0xFB, 0x00});

// 57600 baud, even parity, 7 data bits, 2 stop bits, XON/XOFF.
tagComPortParam Param57600E72() {
    tagComPortParam param;
    param.dwBaudRate = 57600;
    param.nByteSize = 7;
    param.nParity = 2;
    param.nStopBits = 2;
    param.nFlowControl = 0;
    return param;
}

// The settings of Param57600E72 with DTR on, and the server's answers to them.
const std::string kSettings57600E72 = Sb({1, 0x00, 0x00, 0xE1, 0x00}) + Sb({2, 7}) + Sb({3, 3}) +
                                      Sb({4, 2}) + Sb({5, 2}) + Sb({5, 8}) + Sb({5, 11});
const std::string kAnswers57600E72 = Sb({101, 0x00, 0x00, 0xE1, 0x00}) + Sb({102, 7}) +
                                     Sb({103, 3}) + Sb({104, 2}) + Sb({105, 2}) + Sb({105, 8}) +
                                     Sb({105, 11});

// A one-connection server on a loopback port the OS picked.
class FakeServer {
public:
    FakeServer() {
        plat::SocketHandle sock = plat::kInvalidSocket;
        EXPECT_FALSE(plat::CreateStreamSocket(sock).failed());
        listener_ = TestSocket(sock);
        EXPECT_FALSE(plat::Bind(sock, plat::LoopbackAddress(), 0).failed());
        EXPECT_FALSE(plat::Listen(sock, 4).failed());
        plat::Ipv4Endpoint local;
        EXPECT_FALSE(plat::LocalEndpoint(sock, local).failed());
        port_ = local.port;
    }

    uint16_t port() const { return port_; }
    std::u16string url() const {
        const std::string text = "rfc2217://127.0.0.1:" + std::to_string(port_);
        return std::u16string(text.begin(), text.end());
    }

    bool Accept(int timeout_ms = 3000) {
        const auto ready =
            plat::WaitSocket(listener_.get(), plat::kIoReadable, nullptr, timeout_ms);
        if ((ready.ready & plat::kIoReadable) == 0) {
            return false;
        }
        plat::SocketHandle sock = plat::kInvalidSocket;
        plat::Ipv4Endpoint peer;
        if (plat::Accept(listener_.get(), sock, peer).failed()) {
            return false;
        }
        connection_ = TestSocket(sock);
        return true;
    }

    // True when another client is waiting to be accepted.
    bool AnotherClientWaiting() const {
        const auto ready = plat::WaitSocket(listener_.get(), plat::kIoReadable, nullptr, 0);
        return (ready.ready & plat::kIoReadable) != 0;
    }

    bool Send(const std::string& bytes) const { return connection_.SendAll(bytes); }

    // Reads for up to `ms` milliseconds, or until the inbox holds `needle` when one is given.
    bool Read(int ms, const std::string& needle = {}) {
        const auto start = Clock::now();
        char buffer[65536];
        for (;;) {
            if (!needle.empty() && inbox_.find(needle) != std::string::npos) {
                return true;
            }
            const int left = ms - static_cast<int>(MsSince(start));
            if (left <= 0) {
                return needle.empty();
            }
            const auto ready =
                plat::WaitSocket(connection_.get(), plat::kIoReadable, nullptr, left);
            if (ready.timed_out || ready.failed) {
                continue;
            }
            size_t got = 0;
            const auto error =
                plat::Receive(connection_.get(), buffer, sizeof buffer, got, plat::IoWait::kNoWait);
            if (error.failed() && error.code == EAGAIN) {
                continue;
            }
            if (error.failed() || got == 0) {
                return needle.empty() ? true : inbox_.find(needle) != std::string::npos;
            }
            inbox_.append(buffer, got);
        }
    }

    const std::string& inbox() const { return inbox_; }
    void ClearInbox() { inbox_.clear(); }
    void CloseConnection() { connection_.Close(); }
    const TestSocket& connection() const { return connection_; }

private:
    TestSocket listener_;
    TestSocket connection_;
    uint16_t port_ = 0;
    std::string inbox_;
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
    int gone() const { return gone_.load(); }
    int unconfirmed() const { return unconfirmed_.load(); }
    std::u16string url() const {
        std::lock_guard lock(mutex_);
        return url_;
    }
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
        self->offers_.push_back(static_cast<size_t>(count));
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
    std::vector<size_t> offers_;
    std::u16string url_;
    std::atomic<int> gone_{0};
    std::atomic<int> unconfirmed_{0};
};

// Captures the diagnostic log for one scope.
class DebugCapture {
public:
    DebugCapture() {
        previous_ = plat::SetDebugSink([this](std::string_view text) {
            std::lock_guard lock(mutex_);
            text_.append(text);
        });
    }
    ~DebugCapture() { plat::SetDebugSink(previous_); }
    std::string text() const {
        std::lock_guard lock(mutex_);
        return text_;
    }

private:
    mutable std::mutex mutex_;
    std::string text_;
    plat::DebugSink previous_;
};

// Opens `port` on `server` with 57600,E,7,2 and DTR on, agrees to the options and waits
// until all settings arrived; the inbox is empty afterwards.
void OpenAgreed(CKemRfc2217Port& port, FakeServer& server) {
    ASSERT_EQ(port.Open(server.url(), Param57600E72(), true), CKemRfc2217Port::kOpened);
    ASSERT_TRUE(server.Accept());
    ASSERT_TRUE(server.Read(3000, kRequests));
    ASSERT_TRUE(server.Send(kAgreement));
    ASSERT_TRUE(server.Read(3000, kSettings57600E72));
    EXPECT_EQ(server.inbox(), kRequests + kSettings57600E72);
    server.ClearInbox();
}

}  // namespace

TEST(Rfc2217Url, SchemeInAnyCaseHostAndPort) {
    const auto plain = CKemRfc2217Port::ParseRfc2217Url(u"rfc2217://localhost:2217");
    ASSERT_TRUE(plain.has_value());
    EXPECT_EQ(plain->host, u"localhost");
    EXPECT_EQ(plain->port, 2217);
    const auto upper = CKemRfc2217Port::ParseRfc2217Url(u"RFC2217://192.168.1.20:1");
    ASSERT_TRUE(upper.has_value());
    EXPECT_EQ(upper->host, u"192.168.1.20");
    EXPECT_EQ(upper->port, 1);
    const auto mixed = CKemRfc2217Port::ParseRfc2217Url(u"Rfc2217://ser-1.lab.example:65535");
    ASSERT_TRUE(mixed.has_value());
    EXPECT_EQ(mixed->host, u"ser-1.lab.example");
    EXPECT_EQ(mixed->port, 65535);
}

TEST(Rfc2217Url, AnythingElseIsRefused) {
    const char16_t* const bad[] = {
        u"",
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
    };
    for (const char16_t* text : bad) {
        EXPECT_FALSE(CKemRfc2217Port::ParseRfc2217Url(text).has_value())
            << kem::platform::WideToUtf8(text);
    }
    const std::u16string long_label = u"rfc2217://" + std::u16string(64, u'a') + u":80";
    EXPECT_FALSE(CKemRfc2217Port::ParseRfc2217Url(long_label).has_value());
    const std::u16string fits = u"rfc2217://" + std::u16string(63, u'a') + u":80";
    EXPECT_TRUE(CKemRfc2217Port::ParseRfc2217Url(fits).has_value());
}

TEST(Rfc2217Settings, RecordMapsToCommandsAndValues) {
    const auto settings = kem::channels::Rfc2217SettingsFromParam(Param57600E72());
    ASSERT_TRUE(settings.has_value());
    ASSERT_EQ(settings->size(), 5u);
    using kem::channels::Rfc2217Key;
    EXPECT_EQ((*settings)[0].key, Rfc2217Key::kBaudRate);
    EXPECT_EQ((*settings)[0].value, (std::vector<uint8_t>{0x00, 0x00, 0xE1, 0x00}));
    EXPECT_EQ((*settings)[1].value, (std::vector<uint8_t>{7}));
    EXPECT_EQ((*settings)[2].value, (std::vector<uint8_t>{3}));
    EXPECT_EQ((*settings)[3].value, (std::vector<uint8_t>{2}));
    EXPECT_EQ((*settings)[4].command, 5);
    EXPECT_EQ((*settings)[4].value, (std::vector<uint8_t>{2}));

    // Parity codes 0..4 become 1..5, anything else none; stop bits 0, 1, 2 become 1, 3, 2;
    // flow 0 XON/XOFF, 1 hardware, anything else none.
    tagComPortParam param = Param57600E72();
    const int parities[][2] = {{0, 1}, {1, 2}, {2, 3}, {3, 4}, {4, 5}, {9, 1}, {-1, 1}};
    for (const auto& pair : parities) {
        param.nParity = pair[0];
        EXPECT_EQ((*kem::channels::Rfc2217SettingsFromParam(param))[2].value[0], pair[1]);
    }
    const int stops[][2] = {{0, 1}, {1, 3}, {2, 2}};
    for (const auto& pair : stops) {
        param.nStopBits = pair[0];
        EXPECT_EQ((*kem::channels::Rfc2217SettingsFromParam(param))[3].value[0], pair[1]);
    }
    const int flows[][2] = {{0, 2}, {1, 3}, {2, 1}, {7, 1}};
    for (const auto& pair : flows) {
        param.nFlowControl = pair[0];
        EXPECT_EQ((*kem::channels::Rfc2217SettingsFromParam(param))[4].value[0], pair[1]);
    }

    for (auto change : {+[](tagComPortParam& p) { p.dwBaudRate = 0; },
                        +[](tagComPortParam& p) { p.nByteSize = 4; },
                        +[](tagComPortParam& p) { p.nByteSize = 9; },
                        +[](tagComPortParam& p) { p.nStopBits = 3; },
                        +[](tagComPortParam& p) { p.nStopBits = -1; }}) {
        tagComPortParam bad = Param57600E72();
        change(bad);
        EXPECT_FALSE(kem::channels::Rfc2217SettingsFromParam(bad).has_value());
    }
}

TEST(Rfc2217Settings, AnswersSettleTheirKeys) {
    using kem::channels::Rfc2217AnswerKey;
    using kem::channels::Rfc2217Key;
    EXPECT_EQ(Rfc2217AnswerKey(101, {0, 0, 0x25, 0x80}), Rfc2217Key::kBaudRate);
    EXPECT_EQ(Rfc2217AnswerKey(102, {8}), Rfc2217Key::kDataSize);
    EXPECT_EQ(Rfc2217AnswerKey(103, {1}), Rfc2217Key::kParity);
    EXPECT_EQ(Rfc2217AnswerKey(104, {1}), Rfc2217Key::kStopSize);
    EXPECT_EQ(Rfc2217AnswerKey(105, {3}), Rfc2217Key::kFlow);
    EXPECT_EQ(Rfc2217AnswerKey(105, {9}), Rfc2217Key::kDtr);
    EXPECT_EQ(Rfc2217AnswerKey(105, {11}), Rfc2217Key::kRts);
    EXPECT_FALSE(Rfc2217AnswerKey(105, {5}).has_value());  // break: never sent
    EXPECT_FALSE(Rfc2217AnswerKey(105, {}).has_value());
    EXPECT_FALSE(Rfc2217AnswerKey(1, {8}).has_value());  // a client command, no answer
    EXPECT_FALSE(Rfc2217AnswerKey(107, {0x30}).has_value());
    EXPECT_EQ(kem::channels::Rfc2217KeyName(Rfc2217Key::kDtr), u"SET-CONTROL(DTR)");
}

TEST(Rfc2217Port, SettingsWaitForTheOptionThenGoOutExactly) {
    FakeServer server;
    CKemRfc2217Port port;
    PortEvents events;
    events.Install(port);
    port.m_nAckWaitMs = 300;
    ASSERT_EQ(port.Open(server.url(), Param57600E72(), true), CKemRfc2217Port::kOpened);
    EXPECT_EQ(port.IsOpen(), 1);
    EXPECT_EQ(port.Open(server.url(), Param57600E72(), true), CKemRfc2217Port::kAlreadyOpen);
    ASSERT_TRUE(server.Accept());
    ASSERT_TRUE(server.Read(3000, kRequests));
    // No setting before the server agreed to the option.
    server.Read(150);
    EXPECT_EQ(server.inbox(), kRequests);
    server.ClearInbox();
    ASSERT_TRUE(server.Send(kAgreement));
    ASSERT_TRUE(server.Read(3000, kSettings57600E72));
    // The agreement answered our requests: nothing is answered back.
    server.Read(150);
    EXPECT_EQ(server.inbox(), kSettings57600E72);
    ASSERT_TRUE(server.Send(kAnswers57600E72));
    // Past the answer wait, nothing is missing and nobody was told.
    std::this_thread::sleep_for(std::chrono::milliseconds(450));
    EXPECT_TRUE(port.Unconfirmed().empty());
    EXPECT_EQ(events.unconfirmed(), 0);
    EXPECT_EQ(port.IsOpen(), 1);
    EXPECT_EQ(port.Close(), 0);
    EXPECT_EQ(port.IsOpen(), 0);
    EXPECT_EQ(events.gone(), 0);  // Close is no loss of the link
}

TEST(Rfc2217Port, OtherOptionsAreRefusedOnceWithoutLooping) {
    FakeServer server;
    CKemRfc2217Port port;
    OpenAgreed(port, server);
    // ECHO and SUPPRESS-GO-AHEAD offered and asked for, as common servers do; then the
    // acknowledgements of our refusals, which must not be answered again.
    ASSERT_TRUE(server.Send(Bytes({0xFF, 0xFB, 0x01, 0xFF, 0xFB, 0x03, 0xFF, 0xFD, 0x03, 0xFF, 0xFD,
                                   0x2C, 0xFF, 0xFB, 0x00})));
    const std::string refusals = Bytes({0xFF, 0xFE, 0x01, 0xFF, 0xFE, 0x03, 0xFF, 0xFC, 0x03});
    ASSERT_TRUE(server.Read(3000, refusals));
    server.Read(150);
    EXPECT_EQ(server.inbox(), refusals);
    server.ClearInbox();
    ASSERT_TRUE(server.Send(Bytes({0xFF, 0xFC, 0x01, 0xFF, 0xFC, 0x03, 0xFF, 0xFE, 0x03})));
    server.Read(200);
    EXPECT_EQ(server.inbox(), "");
    EXPECT_EQ(port.IsOpen(), 1);
}

TEST(Rfc2217Port, UnansweredNegotiationIsReportedWhileDataFlows) {
    DebugCapture log;
    FakeServer server;
    CKemRfc2217Port port;
    PortEvents events;
    events.Install(port);
    port.m_nAckWaitMs = 200;
    ASSERT_EQ(port.Open(server.url(), Param57600E72(), false), CKemRfc2217Port::kOpened);
    ASSERT_TRUE(server.Accept());
    // The server says nothing at all about options, but data flows both ways.
    ASSERT_TRUE(server.Send("hello"));
    ASSERT_TRUE(WaitUntil([&] { return events.data() == "hello"; }, 3000));
    EXPECT_EQ(events.url(), server.url());
    EXPECT_EQ(port.Write("abc", 3), 3);
    ASSERT_TRUE(server.Read(3000, kRequests + "abc"));
    ASSERT_TRUE(WaitUntil([&] { return events.unconfirmed() == 1; }, 3000));
    const std::vector<std::u16string> expected = {
        u"SET-BAUDRATE",      u"SET-DATASIZE",     u"SET-PARITY",       u"SET-STOPSIZE",
        u"SET-CONTROL(FLOW)", u"SET-CONTROL(DTR)", u"SET-CONTROL(RTS)",
    };
    // Queued one after another, their time may run out a tick apart.
    EXPECT_TRUE(WaitUntil([&] { return port.Unconfirmed().size() == expected.size(); }, 3000));
    EXPECT_EQ(port.Unconfirmed(), expected);
    // Reported once for the run, never sent (the option was never agreed).
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(events.unconfirmed(), 1);
    EXPECT_EQ(server.inbox(), kRequests + "abc");
    EXPECT_NE(log.text().find("SET-BAUDRATE"), std::string::npos);
    EXPECT_NE(log.text().find("SET-CONTROL(DTR)"), std::string::npos);
    ASSERT_TRUE(server.Send("more"));
    ASSERT_TRUE(WaitUntil([&] { return events.data() == "hellomore"; }, 3000));
    EXPECT_EQ(port.IsOpen(), 1);
    EXPECT_EQ(events.gone(), 0);
}

TEST(Rfc2217Port, OneMissingAnswerIsReportedOncePerRun) {
    DebugCapture log;
    FakeServer server;
    CKemRfc2217Port port;
    PortEvents events;
    events.Install(port);
    port.m_nAckWaitMs = 200;
    OpenAgreed(port, server);
    // Everything but DTR is answered.
    ASSERT_TRUE(server.Send(Sb({101, 0x00, 0x00, 0xE1, 0x00}) + Sb({102, 7}) + Sb({103, 3}) +
                            Sb({104, 2}) + Sb({105, 2}) + Sb({105, 11})));
    ASSERT_TRUE(WaitUntil([&] { return events.unconfirmed() == 1; }, 3000));
    EXPECT_EQ(port.Unconfirmed(), std::vector<std::u16string>{u"SET-CONTROL(DTR)"});
    const std::string text = log.text();
    EXPECT_NE(text.find("SET-CONTROL(DTR)"), std::string::npos);
    EXPECT_EQ(text.find("SET-BAUDRATE"), std::string::npos);
    // A late answer settles it and ends the run.
    ASSERT_TRUE(server.Send(Sb({105, 8})));
    ASSERT_TRUE(WaitUntil([&] { return port.Unconfirmed().empty(); }, 3000));
    // A new setting left unanswered starts a new run.
    EXPECT_EQ(port.SetDtr(0), 0);
    EXPECT_EQ(port.GetDtr(), 0);
    ASSERT_TRUE(server.Read(3000, Sb({5, 9})));
    ASSERT_TRUE(WaitUntil([&] { return events.unconfirmed() == 2; }, 3000));
    EXPECT_EQ(port.Unconfirmed(), std::vector<std::u16string>{u"SET-CONTROL(DTR)"});
    // Data kept flowing all along.
    ASSERT_TRUE(server.Send("still here"));
    ASSERT_TRUE(WaitUntil([&] { return events.data() == "still here"; }, 3000));
}

TEST(Rfc2217Port, AnswersAndNotificationsSplitByteByByte) {
    FakeServer server;
    CKemRfc2217Port port;
    PortEvents events;
    events.Install(port);
    port.m_nAckWaitMs = 400;
    OpenAgreed(port, server);
    // Data, every answer, both notifications and a doubled 0xFF in the data, one byte per
    // segment.
    const std::string script = "a" + kAnswers57600E72 + Bytes({0xFF, 0xFF}) + "b" +
                               Sb({106, 0x60}) + Sb({107, 0xB0}) + "c";
    for (char c : script) {
        ASSERT_TRUE(server.Send(std::string(1, c)));
        std::this_thread::sleep_for(std::chrono::microseconds(300));
    }
    ASSERT_TRUE(WaitUntil([&] { return events.data().size() == 4; }, 3000));
    EXPECT_EQ(events.data(), "a" + Bytes({0xFF}) + "bc");
    ASSERT_TRUE(WaitUntil([&] { return port.modem_state() == 0xB0; }, 3000));
    EXPECT_EQ(port.line_state(), 0x60);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_TRUE(port.Unconfirmed().empty());
    EXPECT_EQ(events.unconfirmed(), 0);
    EXPECT_EQ(port.IsOpen(), 1);
}

TEST(Rfc2217Port, OverlongSubnegotiationCutsTheLinkAfterTheData) {
    FakeServer server;
    CKemRfc2217Port port;
    PortEvents events;
    events.Install(port);
    OpenAgreed(port, server);
    std::string flood = "data first" + Bytes({0xFF, 0xFA, 0x2C, 107});
    flood.append(300, 'x');
    ASSERT_TRUE(server.Send(flood));
    ASSERT_TRUE(WaitUntil([&] { return events.gone() == 1; }, 3000));
    EXPECT_EQ(events.data(), "data first");
    EXPECT_EQ(events.order().back(), "gone");
    EXPECT_EQ(port.last_reason(), u"子协商过长");
    EXPECT_EQ(port.IsOpen(), 0);
    EXPECT_EQ(port.Write("x", 1), CKemRfc2217Port::kWriteNotOpen);
    EXPECT_EQ(port.Close(), 0);
    EXPECT_EQ(events.gone(), 1);
}

TEST(Rfc2217Port, MalformedStreamsCutTheLinkWithTheirReason) {
    struct Case {
        std::string bytes;
        std::u16string reason;
    };
    // Endless modem state notifications without a data byte between them.
    std::string notifications;
    for (size_t i = 0; i <= kem::channels::telnet::Decoder::kDefaultMaxControlRun; ++i) {
        notifications += Sb({107, 0x30});
    }
    const Case cases[] = {
        {Bytes({0xFF, 0xF0}), u"子协商结束符多余"},
        {Bytes({0xFF, 0x20}), u"未知的 Telnet 命令"},
        {Bytes({0xFF, 0xFA, 0x2C, 0x65, 0xFF, 0x01}), u"子协商格式错误"},
        {notifications, u"控制命令过多而无数据"},
    };
    for (const Case& c : cases) {
        FakeServer server;
        CKemRfc2217Port port;
        PortEvents events;
        events.Install(port);
        OpenAgreed(port, server);
        ASSERT_TRUE(server.Send("ok" + c.bytes + "lost"));
        ASSERT_TRUE(WaitUntil([&] { return events.gone() == 1; }, 3000));
        EXPECT_EQ(events.data(), "ok");
        EXPECT_EQ(port.last_reason(), c.reason);
        // The port closed its side: the server sees the end once Close ran.
        port.Close();
        EXPECT_TRUE(server.connection().SeesClose());
    }
}

TEST(Rfc2217Port, AllByteValuesPassBothWays) {
    FakeServer server;
    CKemRfc2217Port port;
    PortEvents events;
    events.Install(port);
    OpenAgreed(port, server);
    std::string all;
    std::string doubled;
    for (int i = 0; i < 256; ++i) {
        all.push_back(static_cast<char>(i));
        doubled.push_back(static_cast<char>(i));
        if (i == 0xFF) {
            doubled.push_back(static_cast<char>(0xFF));
        }
    }
    EXPECT_EQ(port.Write(all.data(), static_cast<int32_t>(all.size())), 256);
    ASSERT_TRUE(server.Read(3000, doubled));
    EXPECT_EQ(server.inbox(), doubled);
    ASSERT_TRUE(server.Send(doubled + doubled));
    ASSERT_TRUE(WaitUntil([&] { return events.data().size() >= 512; }, 3000));
    EXPECT_EQ(events.data(), all + all);
    // A large block with many 0xFF arrives whole.
    server.ClearInbox();
    const std::string big(100000, static_cast<char>(0xFF));
    EXPECT_EQ(port.Write(big.data(), static_cast<int32_t>(big.size())), 100000);
    ASSERT_TRUE(server.Read(5000, std::string(200000, static_cast<char>(0xFF))));
    EXPECT_EQ(server.inbox().size(), 200000u);
}

TEST(Rfc2217Port, SetCommParamOnTheFlySendsOnlyTheChangedSettings) {
    FakeServer server;
    CKemRfc2217Port port;
    PortEvents events;
    events.Install(port);
    OpenAgreed(port, server);
    tagComPortParam next = Param57600E72();
    next.dwBaudRate = 0x1FF;  // 0xFF in the value is doubled
    next.nParity = 0;
    EXPECT_EQ(port.SetCommParam(next), 0);
    const std::string expected = Sb({1, 0x00, 0x00, 0x01, 0xFF}) + Sb({3, 1});
    ASSERT_TRUE(server.Read(3000, expected));
    server.Read(150);
    EXPECT_EQ(server.inbox(), expected);
    EXPECT_EQ(port.param().dwBaudRate, 0x1FFu);
    // The same record again sends nothing; a bad one is refused and changes nothing.
    server.ClearInbox();
    EXPECT_EQ(port.SetCommParam(next), 0);
    tagComPortParam bad = next;
    bad.nStopBits = 5;
    EXPECT_EQ(port.SetCommParam(bad), CKemRfc2217Port::kBadParam);
    EXPECT_EQ(port.param().nStopBits, 2);
    // Flow control and RTS.
    next.nFlowControl = 1;
    EXPECT_EQ(port.SetCommParam(next), 0);
    port.SetRts(0);
    const std::string controls = Sb({5, 3}) + Sb({5, 12});
    ASSERT_TRUE(server.Read(3000, controls));
    server.Read(150);
    EXPECT_EQ(server.inbox(), controls);
    // Still the one connection.
    EXPECT_FALSE(server.AnotherClientWaiting());
    EXPECT_EQ(port.IsOpen(), 1);
    EXPECT_EQ(events.gone(), 0);
}

TEST(Rfc2217Port, ClosedPortStoresSettingsForTheNextOpen) {
    CKemRfc2217Port port;
    tagComPortParam param = Param57600E72();
    param.dwBaudRate = 115200;
    EXPECT_EQ(port.SetCommParam(param), 0);
    EXPECT_EQ(port.param().dwBaudRate, 115200u);
    EXPECT_EQ(port.SetDtr(1), 1);
    EXPECT_EQ(port.GetDtr(), 1);
    EXPECT_EQ(port.Write("x", 1), CKemRfc2217Port::kWriteNotOpen);
    EXPECT_EQ(port.Write(nullptr, 1), 0);
    EXPECT_EQ(port.Close(), 0);
    EXPECT_EQ(port.Close(), 0);
    EXPECT_TRUE(port.Unconfirmed().empty());
}

TEST(Rfc2217Port, PeerClosingCallsGoneOnceAfterTheData) {
    FakeServer server;
    CKemRfc2217Port port;
    PortEvents events;
    events.Install(port);
    OpenAgreed(port, server);
    ASSERT_TRUE(server.Send("last words"));
    server.CloseConnection();
    ASSERT_TRUE(WaitUntil([&] { return events.gone() == 1; }, 3000));
    EXPECT_EQ(events.data(), "last words");
    EXPECT_EQ(events.order().back(), "gone");
    EXPECT_EQ(port.last_reason(), u"服务器关闭了连接");
    EXPECT_EQ(port.IsOpen(), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(events.gone(), 1);
    EXPECT_EQ(port.Close(), 0);
    // It opens again afterwards, and the reason is cleared.
    ASSERT_EQ(port.Open(server.url(), Param57600E72(), true), CKemRfc2217Port::kOpened);
    EXPECT_TRUE(port.last_reason().empty());
    ASSERT_TRUE(server.Accept());
    ASSERT_TRUE(server.Read(3000, kRequests));
}

TEST(Rfc2217Port, OpenFailuresAreToldApart) {
    CKemRfc2217Port port;
    const tagComPortParam param = Param57600E72();
    EXPECT_EQ(port.Open(u"rfc2217://host", param, true), CKemRfc2217Port::kBadUrl);
    tagComPortParam bad = param;
    bad.nByteSize = 12;
    EXPECT_EQ(port.Open(u"rfc2217://127.0.0.1:9", bad, true), CKemRfc2217Port::kBadParam);

    // A port nobody listens on: bound, then released.
    uint16_t free_port = 0;
    {
        FakeServer gone_server;
        free_port = gone_server.port();
    }
    const std::string refused_url = "rfc2217://127.0.0.1:" + std::to_string(free_port);
    EXPECT_EQ(port.Open(std::u16string(refused_url.begin(), refused_url.end()), param, true),
              CKemRfc2217Port::kConnectFailed);
    EXPECT_EQ(port.last_error().kind, plat::ErrorKind::kRefused);
    EXPECT_EQ(port.IsOpen(), 0);

    EXPECT_EQ(port.Open(u"rfc2217://no-such-host.invalid:2217", param, true),
              CKemRfc2217Port::kResolveFailed);
    EXPECT_TRUE(port.last_error().failed());
    EXPECT_EQ(port.IsOpen(), 0);

    // Earlier failures leave nothing behind: the next Open succeeds.
    FakeServer server;
    ASSERT_EQ(port.Open(server.url(), param, true), CKemRfc2217Port::kOpened);
    EXPECT_FALSE(port.last_error().failed());
    ASSERT_TRUE(server.Accept());
    ASSERT_TRUE(server.Read(3000, kRequests));
}

TEST(Rfc2217Port, WriteToAPeerThatReadsNothingFailsInBoundedTime) {
    FakeServer server;
    CKemRfc2217Port port;
    port.m_nWriteStallMs = 300;
    OpenAgreed(port, server);
    const std::string block(1 << 20, 'w');
    const auto start = Clock::now();
    int32_t result = 0;
    for (int i = 0; i < 64 && result >= 0; ++i) {
        result = port.Write(block.data(), static_cast<int32_t>(block.size()));
    }
    EXPECT_EQ(result, CKemRfc2217Port::kWriteFailed);
    EXPECT_EQ(port.last_error().kind, plat::ErrorKind::kTimeout);
    EXPECT_LT(MsSince(start), 20000);
    // The read side still works.
    EXPECT_EQ(port.IsOpen(), 1);
}

TEST(Rfc2217Port, KeptBytesAreOfferedAgainAndComeFirst) {
    FakeServer server;
    CKemRfc2217Port port;
    PortEvents events;
    events.Install(port);
    port.m_nKeptOfferMs = 20;
    OpenAgreed(port, server);
    events.consume = 0;  // keep everything for now
    ASSERT_TRUE(server.Send("keep"));
    ASSERT_TRUE(WaitUntil([&] { return events.order().size() >= 3; }, 3000));
    EXPECT_EQ(events.data(), "");
    events.consume = -100;
    ASSERT_TRUE(WaitUntil([&] { return events.data() == "keep"; }, 3000));
    ASSERT_TRUE(server.Send("next"));
    ASSERT_TRUE(WaitUntil([&] { return events.data() == "keepnext"; }, 3000));
}

TEST(Rfc2217Port, CloseIsPromptWhileTheReaderWaits) {
    FakeServer server;
    auto port = std::make_unique<CKemRfc2217Port>();
    PortEvents events;
    events.Install(*port);
    OpenAgreed(*port, server);
    const auto start = Clock::now();
    EXPECT_EQ(port->Close(), 0);
    EXPECT_LT(MsSince(start), 1000);
    EXPECT_TRUE(server.connection().SeesClose());
    EXPECT_EQ(events.gone(), 0);
    // Destroyed while open: the thread goes first.
    FakeServer second;
    ASSERT_EQ(port->Open(second.url(), Param57600E72(), false), CKemRfc2217Port::kOpened);
    ASSERT_TRUE(second.Accept());
    port.reset();
    EXPECT_TRUE(second.connection().SeesClose());
}

TEST(Rfc2217Port, HostNameIsResolved) {
    FakeServer server;
    CKemRfc2217Port port;
    const std::string url = "rfc2217://localhost:" + std::to_string(server.port());
    ASSERT_EQ(port.Open(std::u16string(url.begin(), url.end()), Param57600E72(), true),
              CKemRfc2217Port::kOpened);
    ASSERT_TRUE(server.Accept());
    ASSERT_TRUE(server.Read(3000, kRequests));
}

TEST(Rfc2217Port, RefusedComPortOptionIsLoggedAndSettingsReported) {
    DebugCapture log;
    FakeServer server;
    CKemRfc2217Port port;
    PortEvents events;
    events.Install(port);
    port.m_nAckWaitMs = 200;
    ASSERT_EQ(port.Open(server.url(), Param57600E72(), true), CKemRfc2217Port::kOpened);
    ASSERT_TRUE(server.Accept());
    ASSERT_TRUE(server.Read(3000, kRequests));
    server.ClearInbox();
    // A plain Telnet server: binary yes, COM-PORT no.
    ASSERT_TRUE(server.Send(Bytes({0xFF, 0xFE, 0x2C, 0xFF, 0xFD, 0x00, 0xFF, 0xFB, 0x00})));
    ASSERT_TRUE(WaitUntil([&] { return events.unconfirmed() == 1; }, 3000));
    // The settings were queued one after another, so their time may run out a tick apart.
    EXPECT_TRUE(WaitUntil([&] { return port.Unconfirmed().size() == 7u; }, 3000))
        << port.Unconfirmed().size();
    EXPECT_EQ(events.unconfirmed(), 1) << "one report for the whole run";
    EXPECT_NE(log.text().find("refused the COM-PORT option"), std::string::npos);
    server.Read(100);
    EXPECT_EQ(server.inbox(), "");  // no setting, no reply to the refusal
    ASSERT_TRUE(server.Send("data"));
    ASSERT_TRUE(WaitUntil([&] { return events.data() == "data"; }, 3000));
    EXPECT_EQ(port.IsOpen(), 1);
}
