// The port forwarding window: the kind and its texts, relaying byte-exact both ways with the
// counters between a pty and a loopback TCP peer, a peer that goes away, open failures, and a
// server whose client is replaced.
#include <thread>

#include "channels/net_test_support.h"
#include "gui/main_window_support.h"
#include "ui/transmit_dialog.h"

namespace {

using kem::testing::ConnectTo;
using kem::testing::Pattern;
using kem::testing::PatternBytes;
using kem::testing::PumpUntil;
using kem::testing::TestListener;
using kem::testing::TestSocket;
using kem::testing::UnusedPort;

// The main window's fixture for its settings records, scripted dialogs and helpers; the window
// under test here is the forwarding one, fwd_.
class TransmitDialogTest : public MainWindowTest {
protected:
    void TearDown() override {
        fwd_.reset();
        MainWindowTest::TearDown();
    }

    CDlgTransmit& Make() {
        fwd_ = std::make_unique<CDlgTransmit>(nullptr, dialogs_);
        QObject::connect(fwd_.get(), &CDlgTransmit::received,
                         [this](const std::string& bytes) { got_ += bytes; });
        return *fwd_;
    }
    CDlgTransmit& MakeAndOpen() {
        Make().Create();
        Click(transmit_ids::kOpen);
        return *fwd_;
    }

    void Click(int id) { static_cast<QAbstractButton*>(fwd_->Control(id))->click(); }
    std::u16string Text(int id) const {
        if (auto* edit = qobject_cast<QLineEdit*>(fwd_->Control(id))) {
            return edit->text().toStdU16String();
        }
        return static_cast<QAbstractButton*>(fwd_->Control(id))->text().toStdU16String();
    }
    std::u16string Caption() const { return Text(transmit_ids::kOpen); }
    bool Checked() const {
        return static_cast<QAbstractButton*>(fwd_->Control(transmit_ids::kOpen))->isChecked();
    }
    // Picks `entry` in the entry list as the user does.
    void Choose(const std::u16string& entry) {
        auto* combo = static_cast<CKemComboBox*>(fwd_->Control(transmit_ids::kPortList));
        combo->SelectText(QString::fromStdU16String(entry), -1, -1, true);
        emit combo->selectionChanged();
        QCoreApplication::processEvents();
    }

    std::unique_ptr<CDlgTransmit> fwd_;
    std::string got_;  // what the window handed on for the main link
};

TEST_F(TransmitDialogTest, KindsKeepTheirOwnTextsAndNothingIsStoredUntilCreated) {
    SetField(g_AppConfig.TransmitComPortName, u"TCP/IP");
    SetField(g_AppConfig.TransmitNetPortParam, u"10.1.2.3:99");
    CDlgTransmit& window = Make();
    EXPECT_EQ(window.link_type(), LinkType::kNone);
    EXPECT_EQ(window.windowTitle().toStdU16String(), u"端口转发");
    EXPECT_EQ(Caption(), u"打开");
    EXPECT_EQ(Text(transmit_ids::kClearCounts), u"X");
    EXPECT_EQ(Text(transmit_ids::kTxCount), u"0");
    // Never shown: the settings keep what they had, even with another text in the box.
    auto* param = static_cast<QLineEdit*>(window.Control(transmit_ids::kParam));
    param->setText("changed");
    window.StoreToConfig();
    EXPECT_EQ(std::u16string(g_AppConfig.TransmitNetPortParam), u"10.1.2.3:99");

    EXPECT_TRUE(window.Create());
    EXPECT_FALSE(window.Create());
    EXPECT_EQ(window.link_type(), LinkType::kTcpClient);
    EXPECT_EQ(Text(transmit_ids::kParam), u"10.1.2.3:99");
    Choose(u"COM3");
    EXPECT_EQ(window.link_type(), LinkType::kSerial);
    EXPECT_EQ(Text(transmit_ids::kParam), u"9600,N,8,1");
    param->setText("115200,E,7,2");
    Choose(u"SERVER");
    EXPECT_EQ(window.link_type(), LinkType::kTcpServer);
    EXPECT_EQ(Text(transmit_ids::kParam), u"60001");
    Choose(u"TCP/IP");
    EXPECT_EQ(Text(transmit_ids::kParam), u"10.1.2.3:99");
    param->setText("10.1.2.3:100");
    window.StoreToConfig();
    EXPECT_EQ(std::u16string(g_AppConfig.TransmitNetPortParam), u"10.1.2.3:100");
    Choose(u"COM3");
    EXPECT_EQ(Text(transmit_ids::kParam), u"115200,E,7,2");
    window.StoreToConfig();
    EXPECT_EQ(std::u16string(g_AppConfig.TransmitComPortName), u"COM3");
    EXPECT_EQ(std::u16string(g_AppConfig.TransmitComPortParam), u"115200,E,7,2");
    // The main link's own fields are not the forwarding window's.
    EXPECT_EQ(std::u16string(g_AppConfig.ComPortParam), u"9600,N,8,1");
}

// Two windows relay between a pty and a TCP peer: each one's received bytes are the other's
// main-link traffic.
TEST_F(TransmitDialogTest, PtyAndTcpPeerAreRelayedByteExactWithCountersUntilThePeerCloses) {
    kem::testing::PtyPair pty;
    TestListener listener;
    SetField(g_AppConfig.TransmitComPortName, pty.path16());
    SetField(g_AppConfig.TransmitComPortParam, u"115200,N,8,1");
    auto serial = std::make_unique<CDlgTransmit>(nullptr, dialogs_);
    serial->Create();
    static_cast<QAbstractButton*>(serial->Control(transmit_ids::kOpen))->click();
    ASSERT_TRUE(serial->IsOpen());
    EXPECT_EQ(serial->link_type(), LinkType::kSerial);
    SetField(g_AppConfig.TransmitComPortName, u"TCP/IP");
    SetField(g_AppConfig.TransmitNetPortParam,
             u"127.0.0.1:" + U16(std::to_string(listener.port())));
    CDlgTransmit& net = Make();
    net.Create();
    const uint8_t early[] = {1, 2, 3};
    net.Relay(early, sizeof early);  // closed: dropped and not counted
    EXPECT_EQ(net.tx_bytes(), 0u);
    Click(transmit_ids::kOpen);
    ASSERT_TRUE(net.IsOpen());
    EXPECT_EQ(Caption(), u"关闭");
    EXPECT_TRUE(Checked());
    EXPECT_FALSE(net.Control(transmit_ids::kPortList)->isEnabled());
    EXPECT_TRUE(static_cast<QLineEdit*>(net.Control(transmit_ids::kParam))->isReadOnly());
    TestSocket peer = listener.Accept();
    ASSERT_TRUE(peer.valid());
    EXPECT_TRUE(dialogs_.shown.empty());
    QObject::connect(serial.get(), &CDlgTransmit::received, [&](const std::string& bytes) {
        net.Relay(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    });
    QObject::connect(&net, &CDlgTransmit::received, serial.get(), [&](const std::string& bytes) {
        serial->Relay(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    });

    // Line to peer: 300000 bytes, so the counter shows kilobytes.
    const std::vector<uint8_t> from_line = PatternBytes(300000, 11);
    std::string peer_got;
    std::thread reader([&] { peer_got = peer.Receive(from_line.size(), 10000); });
    ASSERT_EQ(pty.WriteMaster(from_line.data(), from_line.size(), 20000,
                              [&] {
                                  QCoreApplication::processEvents();
                                  return true;
                              }),
              from_line.size());
    EXPECT_TRUE(PumpUntil([&] { return net.tx_bytes() >= from_line.size(); }, 10000));
    reader.join();
    EXPECT_TRUE(peer_got == std::string(from_line.begin(), from_line.end()))
        << "peer got " << peer_got.size();

    // Peer to line.
    const std::string from_peer = Pattern(204800, 13);
    std::vector<uint8_t> line_got;
    std::thread line_reader([&] { pty.ReadMaster(line_got, from_peer.size()); });
    std::thread writer([&] { EXPECT_TRUE(peer.SendAll(from_peer)); });
    EXPECT_TRUE(PumpUntil([&] { return serial->tx_bytes() >= from_peer.size(); }, 10000));
    writer.join();
    line_reader.join();
    EXPECT_TRUE(std::string(line_got.begin(), line_got.end()) == from_peer)
        << "line got " << line_got.size();

    EXPECT_EQ(serial->rx_bytes(), from_line.size());
    EXPECT_EQ(net.tx_bytes(), from_line.size());
    EXPECT_EQ(net.rx_bytes(), from_peer.size());
    EXPECT_EQ(serial->tx_bytes(), from_peer.size());
    EXPECT_EQ(Text(transmit_ids::kTxCount), u"292.969K");
    EXPECT_EQ(Text(transmit_ids::kRxCount), u"200.000K");
    EXPECT_EQ(got_, from_peer);
    Click(transmit_ids::kClearCounts);
    EXPECT_EQ(Text(transmit_ids::kTxCount), u"0");
    EXPECT_EQ(Text(transmit_ids::kRxCount), u"0");
    static_cast<QAbstractButton*>(serial->Control(transmit_ids::kOpen))->click();
    EXPECT_FALSE(serial->IsOpen());

    // The peer closes: what came before the end is still handed on, the window returns to
    // closed, and a lost second link gets no notice.
    got_.clear();
    ASSERT_TRUE(peer.SendAll("last words"));
    peer.Close();
    EXPECT_TRUE(PumpUntil([&] { return !net.IsOpen(); }));
    Pump(50);
    EXPECT_EQ(Caption(), u"打开");
    EXPECT_FALSE(Checked());
    EXPECT_TRUE(net.Control(transmit_ids::kPortList)->isEnabled());
    EXPECT_EQ(got_, "last words");
    EXPECT_EQ(net.rx_bytes(), 10u);
    EXPECT_EQ(Text(transmit_ids::kRxCount), u"10");
    EXPECT_TRUE(dialogs_.shown.empty());
}

TEST_F(TransmitDialogTest, OpenFailuresSayWhy) {
    const uint16_t port = UnusedPort();
    SetField(g_AppConfig.TransmitComPortName, u"TCP/IP");
    SetField(g_AppConfig.TransmitNetPortParam, u"127.0.0.1:" + U16(std::to_string(port)));
    dialogs_.answers.push_back(DialogAnswer::kOk);
    CDlgTransmit& window = MakeAndOpen();
    EXPECT_FALSE(window.IsOpen());
    EXPECT_EQ(Caption(), u"打开");
    EXPECT_FALSE(Checked());
    ASSERT_EQ(dialogs_.shown.size(), 1u);
    EXPECT_EQ(dialogs_.shown[0].text.rfind(u"连接服务器失败(", 0), 0u);
    EXPECT_EQ(dialogs_.shown[0].caption, u"提示");
    EXPECT_EQ(dialogs_.shown[0].icon, DialogIcon::kInformation);

    // A serial text that does not parse.
    dialogs_.answers.push_back(DialogAnswer::kOk);
    Choose(u"/dev/null-not-a-port");
    static_cast<QLineEdit*>(window.Control(transmit_ids::kParam))->setText("fast,Q");
    Click(transmit_ids::kOpen);
    EXPECT_FALSE(window.IsOpen());
    ASSERT_EQ(dialogs_.shown.size(), 2u);
    EXPECT_EQ(dialogs_.shown[1].text, u"不正确的串口参数");
}

TEST_F(TransmitDialogTest, ServerReplacesItsClientAndDropsOnlyTheClient) {
    SetField(g_AppConfig.TransmitComPortName, u"SERVER");
    SetField(g_AppConfig.TransmitNetServerParam, u"0");
    CDlgTransmit& window = MakeAndOpen();
    ASSERT_TRUE(window.IsOpen());
    EXPECT_EQ(Caption(), u"停止");
    const uint16_t port = window.link().net().m_nListenPort;
    ASSERT_NE(port, 0);

    // Listening without a client: nothing to forward to.
    const std::string hello = "hello";
    const auto* hello_bytes = reinterpret_cast<const uint8_t*>(hello.data());
    window.Relay(hello_bytes, hello.size());
    EXPECT_EQ(window.tx_bytes(), 0u);

    TestSocket first = ConnectTo(port);
    ASSERT_TRUE(PumpUntil([&] { return Caption() == u"断开"; }));
    window.Relay(hello_bytes, hello.size());
    EXPECT_EQ(first.Receive(hello.size()), hello);

    // A second client replaces the first, which is disconnected; the close of the first must
    // not touch the new one.
    TestSocket second = ConnectTo(port);
    EXPECT_TRUE(PumpUntil([&] { return first.SeesClose(1); }));
    Pump(200);
    EXPECT_EQ(Caption(), u"断开");
    ASSERT_NE(window.link().current_client(), nullptr);
    const std::string data = Pattern(100000, 3);
    std::string second_got;
    std::thread reader([&] { second_got = second.Receive(data.size(), 10000); });
    window.Relay(reinterpret_cast<const uint8_t*>(data.data()), data.size());
    reader.join();
    EXPECT_TRUE(second_got == data) << "second got " << second_got.size();
    EXPECT_EQ(window.tx_bytes(), hello.size() + data.size());

    ASSERT_TRUE(second.SendAll("from second"));
    EXPECT_TRUE(PumpUntil([&] { return got_ == "from second"; }));
    EXPECT_EQ(window.rx_bytes(), 11u);

    // The button drops only the client; the server keeps listening.
    Click(transmit_ids::kOpen);
    EXPECT_EQ(Caption(), u"停止");
    EXPECT_TRUE(window.IsOpen());
    EXPECT_TRUE(Checked());
    EXPECT_TRUE(second.SeesClose());

    // A client that leaves on its own: listening again.
    TestSocket third = ConnectTo(port);
    ASSERT_TRUE(PumpUntil([&] { return Caption() == u"断开"; }));
    third.Close();
    EXPECT_TRUE(PumpUntil([&] { return Caption() == u"停止"; }));
    EXPECT_TRUE(window.IsOpen());

    Click(transmit_ids::kOpen);
    EXPECT_FALSE(window.IsOpen());
    EXPECT_EQ(Caption(), u"打开");
    EXPECT_FALSE(ConnectTo(port).valid());
    EXPECT_TRUE(dialogs_.shown.empty());
}

}  // namespace
