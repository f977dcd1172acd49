// The port forwarding window with TCP second links against loopback peers on ports the OS
// picked: the kind and its texts, relaying both ways with the counters, a peer that goes away,
// and a server whose client is replaced.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QLineEdit>

#include <memory>
#include <string>
#include <thread>

#include "channels/net_test_support.h"
#include "gui/qt_app.h"
#include "settings/app_config.h"
#include "settings/profile_base.h"
#include "terminal/scripted_dialogs.h"
#include "ui/kem_combo_box.h"
#include "ui/transmit_dialog.h"

namespace {

using kem::testing::ConnectTo;
using kem::testing::Pattern;
using kem::testing::PumpUntil;
using kem::testing::TestListener;
using kem::testing::TestSocket;
using kem::testing::UnusedPort;

template <size_t N>
void SetField(char16_t (&field)[N], const std::u16string& text) {
    kem::settings::CopyTextBounded(field, static_cast<int32_t>(N), text);
}

std::u16string Digits(unsigned value) {
    const std::string text = std::to_string(value);
    return std::u16string(text.begin(), text.end());
}

class TransmitDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        kem::testing::EnsureQtApp();
        g_AppConfig = DefaultAppConfig();
    }
    void TearDown() override {
        window_.reset();
        g_AppConfig = DefaultAppConfig();
    }

    CDlgTransmit& Make() {
        window_ = std::make_unique<CDlgTransmit>(nullptr, dialogs_);
        QObject::connect(window_.get(), &CDlgTransmit::received,
                         [this](const std::string& bytes) { got_ += bytes; });
        return *window_;
    }
    // Creates the window and clicks its Open button.
    CDlgTransmit& MakeAndOpen() {
        CDlgTransmit& window = Make();
        window.Create();
        Click(transmit_ids::kOpen);
        return window;
    }

    void Click(int id) { static_cast<QAbstractButton*>(window_->Control(id))->click(); }
    std::u16string Text(int id) const {
        if (auto* edit = qobject_cast<QLineEdit*>(window_->Control(id))) {
            return edit->text().toStdU16String();
        }
        return static_cast<QAbstractButton*>(window_->Control(id))->text().toStdU16String();
    }
    std::u16string Caption() const { return Text(transmit_ids::kOpen); }
    bool Checked() const {
        return static_cast<QAbstractButton*>(window_->Control(transmit_ids::kOpen))->isChecked();
    }
    // Picks `entry` in the entry list as the user does.
    void Choose(const std::u16string& entry) {
        auto* combo = static_cast<CKemComboBox*>(window_->Control(transmit_ids::kPortList));
        combo->SelectText(QString::fromStdU16String(entry), -1, -1, true);
        emit combo->selectionChanged();
    }
    // Lets posted events run for `ms` milliseconds.
    static void Pump(int ms) {
        PumpUntil([] { return false; }, ms);
    }

    ScriptedDialogs dialogs_;
    std::unique_ptr<CDlgTransmit> window_;
    std::string got_;  // what the window handed on for the main link
};

TEST_F(TransmitDialogTest, NoKindAndNothingStoredUntilCreated) {
    SetField(g_AppConfig.TransmitComPortName, u"TCP/IP");
    SetField(g_AppConfig.TransmitNetPortParam, u"10.1.2.3:99");
    CDlgTransmit& window = Make();
    EXPECT_EQ(window.link_type(), LinkType::kNone);
    EXPECT_FALSE(window.IsCreated());
    EXPECT_FALSE(window.IsOpen());
    EXPECT_EQ(window.windowTitle().toStdU16String(), u"端口转发");
    EXPECT_EQ(Caption(), u"打开");
    EXPECT_EQ(Text(transmit_ids::kClearCounts), u"X");
    EXPECT_EQ(Text(transmit_ids::kTxCount), u"0");
    EXPECT_EQ(Text(transmit_ids::kRxCount), u"0");

    // Never shown: the settings keep what they had, even with another text in the box.
    static_cast<QLineEdit*>(window.Control(transmit_ids::kParam))->setText("changed");
    window.StoreToConfig();
    EXPECT_EQ(std::u16string(g_AppConfig.TransmitNetPortParam), u"10.1.2.3:99");
    EXPECT_EQ(std::u16string(g_AppConfig.TransmitComPortParam), u"9600,N,8,1");

    EXPECT_TRUE(window.Create());
    EXPECT_FALSE(window.Create());
    EXPECT_EQ(window.link_type(), LinkType::kTcpClient);
    EXPECT_EQ(Text(transmit_ids::kParam), u"10.1.2.3:99");
    static_cast<QLineEdit*>(window.Control(transmit_ids::kParam))->setText("10.1.2.3:100");
    window.StoreToConfig();
    EXPECT_EQ(std::u16string(g_AppConfig.TransmitNetPortParam), u"10.1.2.3:100");
    EXPECT_EQ(std::u16string(g_AppConfig.TransmitComPortName), u"TCP/IP");
}

TEST_F(TransmitDialogTest, SwitchingKindsKeepsEachKindsText) {
    SetField(g_AppConfig.TransmitComPortName, u"COM3");
    CDlgTransmit& window = Make();
    window.Create();
    EXPECT_EQ(window.link_type(), LinkType::kSerial);
    EXPECT_EQ(Text(transmit_ids::kParam), u"9600,N,8,1");
    static_cast<QLineEdit*>(window.Control(transmit_ids::kParam))->setText("115200,E,7,2");

    Choose(u"TCP/IP");
    PumpUntil([&] { return window.link_type() == LinkType::kTcpClient; }, 2000);
    EXPECT_EQ(window.link_type(), LinkType::kTcpClient);
    EXPECT_EQ(Text(transmit_ids::kParam), u"127.0.0.1:60001");
    EXPECT_EQ(std::u16string(g_AppConfig.TransmitComPortName), u"TCP/IP");

    Choose(u"SERVER");
    EXPECT_EQ(window.link_type(), LinkType::kTcpServer);
    EXPECT_EQ(Text(transmit_ids::kParam), u"60001");

    Choose(u"COM3");
    EXPECT_EQ(window.link_type(), LinkType::kSerial);
    EXPECT_EQ(Text(transmit_ids::kParam), u"115200,E,7,2");
    // The main link's own fields are not the forwarding window's.
    EXPECT_EQ(std::u16string(g_AppConfig.ComPortParam), u"9600,N,8,1");
    window.StoreToConfig();
    EXPECT_EQ(std::u16string(g_AppConfig.TransmitComPortName), u"COM3");
    EXPECT_EQ(std::u16string(g_AppConfig.TransmitComPortParam), u"115200,E,7,2");
}

TEST_F(TransmitDialogTest, ClientRelaysBothWaysWithCounters) {
    TestListener listener;
    SetField(g_AppConfig.TransmitComPortName, u"TCP/IP");
    SetField(g_AppConfig.TransmitNetPortParam, u"127.0.0.1:" + Digits(listener.port()));
    CDlgTransmit& window = Make();
    window.Create();

    // Closed: dropped and not counted.
    const uint8_t early[] = {1, 2, 3};
    window.Relay(early, sizeof early);
    EXPECT_EQ(window.tx_bytes(), 0u);

    Click(transmit_ids::kOpen);
    ASSERT_TRUE(window.IsOpen());
    EXPECT_TRUE(dialogs_.shown.empty());
    EXPECT_EQ(Caption(), u"关闭");
    EXPECT_TRUE(Checked());
    EXPECT_FALSE(window.Control(transmit_ids::kPortList)->isEnabled());
    EXPECT_TRUE(static_cast<QLineEdit*>(window.Control(transmit_ids::kParam))->isReadOnly());
    TestSocket peer = listener.Accept();
    ASSERT_TRUE(peer.valid());

    // Main link → second link, in pieces as the main link receives them.
    const std::string out = Pattern(300000, 1);
    std::string peer_got;
    std::thread reader([&] { peer_got = peer.Receive(out.size(), 10000); });
    for (size_t at = 0; at < out.size(); at += 4096) {
        const size_t piece = std::min<size_t>(4096, out.size() - at);
        window.Relay(reinterpret_cast<const uint8_t*>(out.data() + at), piece);
    }
    reader.join();
    EXPECT_TRUE(peer_got == out) << "peer got " << peer_got.size() << " of " << out.size();
    EXPECT_EQ(window.tx_bytes(), out.size());
    EXPECT_EQ(Text(transmit_ids::kTxCount), u"292.969K");

    // Second link → main link.
    const std::string in = Pattern(204800, 7);
    std::thread writer([&] { EXPECT_TRUE(peer.SendAll(in)); });
    EXPECT_TRUE(PumpUntil([&] { return got_.size() >= in.size(); }, 10000));
    writer.join();
    EXPECT_TRUE(got_ == in) << "got " << got_.size() << " of " << in.size();
    EXPECT_EQ(window.rx_bytes(), in.size());
    EXPECT_EQ(Text(transmit_ids::kRxCount), u"200.000K");

    Click(transmit_ids::kClearCounts);
    EXPECT_EQ(window.tx_bytes(), 0u);
    EXPECT_EQ(window.rx_bytes(), 0u);
    EXPECT_EQ(Text(transmit_ids::kTxCount), u"0");
    EXPECT_EQ(Text(transmit_ids::kRxCount), u"0");

    Click(transmit_ids::kOpen);
    EXPECT_FALSE(window.IsOpen());
    EXPECT_EQ(Caption(), u"打开");
    EXPECT_FALSE(Checked());
    EXPECT_TRUE(window.Control(transmit_ids::kPortList)->isEnabled());
    EXPECT_TRUE(peer.SeesClose());
    window.Relay(early, sizeof early);
    EXPECT_EQ(window.tx_bytes(), 0u);
}

TEST_F(TransmitDialogTest, ClientThatThePeerClosesReturnsToClosed) {
    TestListener listener;
    SetField(g_AppConfig.TransmitComPortName, u"TCP/IP");
    SetField(g_AppConfig.TransmitNetPortParam, u"127.0.0.1:" + Digits(listener.port()));
    CDlgTransmit& window = MakeAndOpen();
    ASSERT_TRUE(window.IsOpen());
    TestSocket peer = listener.Accept();
    ASSERT_TRUE(peer.valid());
    ASSERT_TRUE(peer.SendAll("last words"));
    peer.Close();

    EXPECT_TRUE(PumpUntil([&] { return !window.IsOpen(); }));
    Pump(50);
    EXPECT_EQ(Caption(), u"打开");
    EXPECT_FALSE(Checked());
    EXPECT_TRUE(window.Control(transmit_ids::kPortList)->isEnabled());
    // What came before the end was still handed on; no notice for a lost second link.
    EXPECT_EQ(got_, "last words");
    EXPECT_EQ(window.rx_bytes(), 10u);
    EXPECT_TRUE(dialogs_.shown.empty());
}

TEST_F(TransmitDialogTest, OpenFailuresSayWhy) {
    const uint16_t port = UnusedPort();
    SetField(g_AppConfig.TransmitComPortName, u"TCP/IP");
    SetField(g_AppConfig.TransmitNetPortParam, u"127.0.0.1:" + Digits(port));
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
