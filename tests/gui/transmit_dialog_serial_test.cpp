// The port forwarding window with a serial second link on a pseudo-terminal, alone and relaying
// between that line and a TCP peer through a second window (one window's received bytes are
// the other's main-link traffic).
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QLineEdit>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "channels/pty_pair.h"
#include "gui/qt_app.h"
#include "platform/socket.h"
#include "settings/app_config.h"
#include "settings/profile_base.h"
#include "terminal/scripted_dialogs.h"
#include "ui/transmit_dialog.h"

namespace {

namespace plat = kem::platform;
using kem::testing::PatternBytes;
using kem::testing::PtyPair;
using kem::testing::PumpUntil;

template <size_t N>
void SetField(char16_t (&field)[N], const std::u16string& text) {
    kem::settings::CopyTextBounded(field, static_cast<int32_t>(N), text);
}

std::u16string Digits(unsigned value) {
    const std::string text = std::to_string(value);
    return std::u16string(text.begin(), text.end());
}

std::string AsText(const std::vector<uint8_t>& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

// A loopback TCP peer on a port the OS picked: listens, accepts one client, then sends and
// receives with blocking calls bounded by a time-out.
class TcpPeer {
public:
    TcpPeer() {
        EXPECT_FALSE(plat::CreateStreamSocket(listener_).failed());
        EXPECT_FALSE(plat::Bind(listener_, plat::LoopbackAddress(), 0).failed());
        EXPECT_FALSE(plat::Listen(listener_, 4).failed());
        plat::Ipv4Endpoint local;
        EXPECT_FALSE(plat::LocalEndpoint(listener_, local).failed());
        port_ = local.port;
    }
    ~TcpPeer() {
        for (plat::SocketHandle sock : {client_, listener_}) {
            if (sock >= 0) {
                plat::CloseSocket(sock);
            }
        }
    }
    TcpPeer(const TcpPeer&) = delete;
    TcpPeer& operator=(const TcpPeer&) = delete;

    uint16_t port() const { return port_; }

    bool Accept(int timeout_ms = 3000) {
        const auto ready = plat::WaitSocket(listener_, plat::kIoReadable, nullptr, timeout_ms);
        if (!(ready.ready & plat::kIoReadable)) {
            return false;
        }
        plat::Ipv4Endpoint peer;
        return !plat::Accept(listener_, client_, peer).failed() && client_ >= 0;
    }

    bool SendAll(const std::string& data) {
        for (size_t at = 0; at < data.size();) {
            size_t sent = 0;
            if (plat::Send(client_, data.data() + at, data.size() - at, sent, plat::IoWait::kBlock)
                    .failed()) {
                return false;
            }
            at += sent;
        }
        return true;
    }

    // Reads until `size` bytes came, the peer closed, or `timeout_ms` passed without data.
    std::string Receive(size_t size, int timeout_ms = 10000) {
        std::string out;
        char buffer[65536];
        while (out.size() < size) {
            const auto ready = plat::WaitSocket(client_, plat::kIoReadable, nullptr, timeout_ms);
            if (!(ready.ready & plat::kIoReadable)) {
                break;
            }
            size_t got = 0;
            const size_t want = std::min(sizeof buffer, size - out.size());
            if (plat::Receive(client_, buffer, want, got, plat::IoWait::kBlock).failed() ||
                got == 0) {
                break;
            }
            out.append(buffer, got);
        }
        return out;
    }

private:
    plat::SocketHandle listener_ = -1;
    plat::SocketHandle client_ = -1;
    uint16_t port_ = 0;
};

class TransmitSerialTest : public ::testing::Test {
protected:
    void SetUp() override {
        kem::testing::EnsureQtApp();
        g_AppConfig = DefaultAppConfig();
    }
    void TearDown() override { g_AppConfig = DefaultAppConfig(); }

    // A created window whose second link is `port` with `param`, opened by its button.
    std::unique_ptr<CDlgTransmit> OpenWindow(const std::u16string& port,
                                             const std::u16string& param) {
        SetField(g_AppConfig.TransmitComPortName, port);
        auto window = std::make_unique<CDlgTransmit>(nullptr, dialogs_);
        window->Create();
        static_cast<QLineEdit*>(window->Control(transmit_ids::kParam))
            ->setText(QString::fromStdU16String(param));
        static_cast<QAbstractButton*>(window->Control(transmit_ids::kOpen))->click();
        return window;
    }
    static std::u16string Text(CDlgTransmit& window, int id) {
        if (auto* edit = qobject_cast<QLineEdit*>(window.Control(id))) {
            return edit->text().toStdU16String();
        }
        return static_cast<QAbstractButton*>(window.Control(id))->text().toStdU16String();
    }

    ScriptedDialogs dialogs_;
};

TEST_F(TransmitSerialTest, SerialRelaysBothWaysWithCounters) {
    PtyPair pty;
    std::unique_ptr<CDlgTransmit> window = OpenWindow(pty.path16(), u"115200,N,8,1");
    ASSERT_TRUE(window->IsOpen());
    EXPECT_TRUE(dialogs_.shown.empty());
    EXPECT_EQ(window->link_type(), LinkType::kSerial);
    EXPECT_EQ(Text(*window, transmit_ids::kOpen), u"关闭");
    std::string got;
    QObject::connect(window.get(), &CDlgTransmit::received,
                     [&](const std::string& bytes) { got += bytes; });

    const std::vector<uint8_t> out = PatternBytes(65536, 5);
    std::vector<uint8_t> line_got;
    std::thread reader([&] { pty.ReadMaster(line_got, out.size()); });
    for (size_t at = 0; at < out.size(); at += 1000) {
        window->Relay(out.data() + at, std::min<size_t>(1000, out.size() - at));
    }
    reader.join();
    EXPECT_TRUE(line_got == out) << "line got " << line_got.size();
    EXPECT_EQ(window->tx_bytes(), out.size());
    EXPECT_EQ(Text(*window, transmit_ids::kTxCount), u"65536");

    const std::vector<uint8_t> in = PatternBytes(50000, 9);
    ASSERT_EQ(pty.WriteMaster(in.data(), in.size()), in.size());
    EXPECT_TRUE(PumpUntil([&] { return got.size() >= in.size(); }, 10000));
    EXPECT_TRUE(got == AsText(in)) << "got " << got.size();
    EXPECT_EQ(window->rx_bytes(), in.size());
    EXPECT_EQ(Text(*window, transmit_ids::kRxCount), u"50000");

    static_cast<QAbstractButton*>(window->Control(transmit_ids::kOpen))->click();
    EXPECT_FALSE(window->IsOpen());
    EXPECT_EQ(Text(*window, transmit_ids::kOpen), u"打开");
}

TEST_F(TransmitSerialTest, PtyAndTcpPeerRelayedBothWays) {
    PtyPair pty;
    TcpPeer peer;
    std::unique_ptr<CDlgTransmit> serial = OpenWindow(pty.path16(), u"115200,N,8,1");
    ASSERT_TRUE(serial->IsOpen());
    std::unique_ptr<CDlgTransmit> net = OpenWindow(u"TCP/IP", u"127.0.0.1:" + Digits(peer.port()));
    ASSERT_TRUE(net->IsOpen());
    ASSERT_TRUE(peer.Accept());
    EXPECT_TRUE(dialogs_.shown.empty());
    // Each window's received bytes are the other's main-link traffic.
    QObject::connect(serial.get(), &CDlgTransmit::received, [&](const std::string& bytes) {
        net->Relay(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    });
    QObject::connect(net.get(), &CDlgTransmit::received, [&](const std::string& bytes) {
        serial->Relay(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    });

    // Line → peer.
    const std::vector<uint8_t> from_line = PatternBytes(40000, 11);
    std::string peer_got;
    std::thread reader([&] { peer_got = peer.Receive(from_line.size()); });
    ASSERT_EQ(pty.WriteMaster(from_line.data(), from_line.size()), from_line.size());
    EXPECT_TRUE(PumpUntil([&] { return net->tx_bytes() >= from_line.size(); }, 10000));
    reader.join();
    EXPECT_TRUE(peer_got == AsText(from_line)) << "peer got " << peer_got.size();

    // Peer → line.
    const std::vector<uint8_t> from_peer = PatternBytes(60000, 13);
    std::vector<uint8_t> line_got;
    std::thread line_reader([&] { pty.ReadMaster(line_got, from_peer.size()); });
    ASSERT_TRUE(peer.SendAll(AsText(from_peer)));
    EXPECT_TRUE(PumpUntil([&] { return serial->tx_bytes() >= from_peer.size(); }, 10000));
    line_reader.join();
    EXPECT_TRUE(line_got == from_peer) << "line got " << line_got.size();

    EXPECT_EQ(serial->rx_bytes(), from_line.size());
    EXPECT_EQ(net->tx_bytes(), from_line.size());
    EXPECT_EQ(net->rx_bytes(), from_peer.size());
    EXPECT_EQ(serial->tx_bytes(), from_peer.size());
}

}  // namespace
