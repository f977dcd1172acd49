// Reconnecting by itself, as the user sees it: a serial device unplugged and plugged in again
// (socat ends and starts under the same link path) while the window waits with "停止" and a
// title mark, then carries traffic again without a click; the option in the "Other" menu and
// in the port forwarding window, kept in the settings beside the fixed record.
#include <QAction>
#include <QCheckBox>
#include <QPushButton>

#include "channels/net_test_support.h"
#include "gui/main_window_support.h"
#include "support/socat_pty.h"
#include "ui/transmit_dialog.h"

namespace {

using kem::testing::PtyPeer;
using kem::testing::SocatPty;

class MainWindowReconnectTest : public MainWindowTest {
protected:
    void SetUp() override {
        MainWindowTest::SetUp();
        ASSERT_TRUE(device_.Start()) << "socat could not make the pseudo-terminal pair";
        SetField(g_AppConfig.ComPortName, device_.device16());
    }

    QString Title() { return window().windowTitle(); }
    QString OpenCaption() { return ButtonText(ids::kOpen); }
    bool Marked() { return Title().contains(QStringLiteral("[等待重连]")); }

    // Reads from `peer` (a device or a socket) while the window runs until `text` has come.
    template <typename Peer, typename Read>
    bool PeerGets(Peer& peer, const std::string& text, Read read) {
        std::string got;
        return Wait([&] {
            got += (peer.*read)(text.size(), 20);
            return got.find(text) != std::string::npos;
        });
    }

    SocatPty device_{root_ / "dev", root_ / "peer"};
};

TEST_F(MainWindowReconnectTest, UnpluggedDeviceIsWaitedForAndCarriesTrafficAgain) {
    g_AppConfigExt.AutoReconnect = 1;
    MakeWindow();
    Click(ids::kOpen);
    ASSERT_TRUE(window().link().IsOpen());
    auto peer = std::make_unique<PtyPeer>(device_.peer());
    ASSERT_EQ(peer->Write("before "), 7u);
    ASSERT_TRUE(Wait([&] { return DisplayText() == u"before "; }));

    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        peer.reset();
        device_.Stop();
        ASSERT_TRUE(Wait([&] { return window().link().IsWaiting(); }));
        EXPECT_EQ(OpenCaption(), QStringLiteral("停止"));
        EXPECT_TRUE(Title().endsWith(QStringLiteral(" [等待重连]"))) << Title().toStdString();
        EXPECT_FALSE(Find(ids::kPortList)->isEnabled()) << "the port stays chosen while waiting";
        EXPECT_TRUE(dialogs_.shown.empty()) << "no message while waiting";

        ASSERT_TRUE(device_.Start());
        peer = std::make_unique<PtyPeer>(device_.peer());
        ASSERT_TRUE(Wait([&] { return window().link().IsOpen(); }, 10000));
        EXPECT_EQ(OpenCaption(), QStringLiteral("关闭"));
        EXPECT_FALSE(Marked());
        // Both directions, without a click.
        const std::string word = "again" + std::to_string(round);
        ASSERT_EQ(peer->Write(word), word.size());
        ASSERT_TRUE(WaitDisplayHas(U16(word)));
        SetInput(QStringLiteral("back"));
        Click(ids::kSend);
        ASSERT_TRUE(PeerGets(*peer, "back\r\n", &PtyPeer::Read));
    }
    EXPECT_TRUE(dialogs_.shown.empty());
}

TEST_F(MainWindowReconnectTest, ButtonStopsTheWaitingAndTheMenuEntrySwitchesTheOption) {
    MakeWindow();
    QAction* entry = nullptr;
    for (QAction* action : window().findChildren<QAction*>()) {
        entry = action->data().toInt() == ids::kAutoReconnect ? action : entry;
    }
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->text(), QStringLiteral("自动重连"));
    EXPECT_TRUE(entry->isCheckable());
    window().ExecuteCommand(ids::kAutoReconnect);
    EXPECT_EQ(g_AppConfigExt.AutoReconnect, 1);
    EXPECT_TRUE(window().link().auto_reconnect());

    Click(ids::kOpen);
    device_.Stop();
    ASSERT_TRUE(Wait([&] { return window().link().IsWaiting(); }));
    // The button while waiting: the waiting ends, the link is closed, the title plain again.
    Click(ids::kOpen);
    EXPECT_FALSE(window().link().IsWaiting());
    EXPECT_FALSE(window().link().IsOpen());
    EXPECT_EQ(OpenCaption(), QStringLiteral("打开"));
    EXPECT_FALSE(Marked());
    ASSERT_TRUE(device_.Start());
    QTest::qWait(600);
    EXPECT_FALSE(window().link().IsOpen()) << "nothing reopens once the user stopped it";

    // Switching the option off while waiting closes the link as it would have been without it.
    Click(ids::kOpen);
    ASSERT_TRUE(window().link().IsOpen());
    device_.Stop();
    ASSERT_TRUE(Wait([&] { return window().link().IsWaiting(); }));
    window().ExecuteCommand(ids::kAutoReconnect);
    EXPECT_EQ(g_AppConfigExt.AutoReconnect, 0);
    EXPECT_FALSE(window().link().IsWaiting());
    EXPECT_EQ(OpenCaption(), QStringLiteral("打开"));

    // Kept with the settings at the end.
    window().ExecuteCommand(ids::kAutoReconnect);
    DestroyWindow();
    ASSERT_EQ(SaveConfig(PathOf("saved.pvto")), 1);
    EXPECT_NE(
        kem::testing::ReadBytes(root_ / "saved.pvto").find("[Config_Ext]\r\nAutoReconnect=true"),
        std::string::npos);
}

TEST_F(MainWindowReconnectTest, FileSendThatMeetsAnUnpluggedDeviceStopsWithOneMessage) {
    g_AppConfigExt.AutoReconnect = 1;
    kem::testing::WriteBytes((root_ / "big.bin").string(), std::string(4 << 20, 'f'));
    MakeWindow();
    Click(ids::kOpen);
    ASSERT_TRUE(window().link().IsOpen());
    dialogs_.open_path = PathOf("big.bin");
    Answer({DialogAnswer::kOk, DialogAnswer::kOk});
    // The far end never reads, so the file is still going out when the device goes.
    Click(ids::kSendFile);
    device_.Stop();
    ASSERT_TRUE(Wait([&] { return window().link().IsWaiting(); }, 10000));
    QTest::qWait(300);
    ASSERT_EQ(dialogs_.shown.size(), 1u);
    EXPECT_EQ(dialogs_.shown[0].text, u"发送文件失败:" + PathOf("big.bin"));
    ASSERT_TRUE(device_.Start());
    ASSERT_TRUE(Wait([&] { return window().link().IsOpen(); }, 10000));
    QTest::qWait(200);
    EXPECT_EQ(dialogs_.shown.size(), 1u) << "the file does not start again";
}

TEST_F(MainWindowReconnectTest, LoopSendGoesOnWhenTheServerComesBack) {
    g_AppConfigExt.AutoReconnect = 1;
    auto listener = std::make_unique<kem::testing::TestListener>(4);
    const uint16_t port = listener->port();
    UseClient(port);
    SetField(g_AppConfig.InputBoxData, u"tick");
    g_AppConfig.LoopSendTime = 100;
    MakeWindow();
    Click(ids::kOpen);
    ASSERT_TRUE(window().link().IsOpen());
    kem::testing::TestSocket server = listener->Accept(3000);
    ASSERT_TRUE(server.valid());
    SetChecked(ids::kLoopSend, true);
    ASSERT_TRUE(PeerGets(server, "tick\r\n", &kem::testing::TestSocket::Receive));

    // The server goes; the window waits with the loop still ticked, and sends nothing.
    server.Close();
    listener.reset();
    ASSERT_TRUE(Wait([&] { return window().link().IsWaiting(); }));
    EXPECT_TRUE(Title().endsWith(QStringLiteral(" [等待重连]")));
    EXPECT_TRUE(IsChecked(ids::kLoopSend));
    QTest::qWait(300);
    EXPECT_TRUE(dialogs_.shown.empty());

    // Back on the same port: the window connects again and the loop goes on by itself.
    listener = std::make_unique<kem::testing::TestListener>(4, port);
    kem::testing::TestSocket again;
    ASSERT_TRUE(Wait(
        [&] {
            if (!again.valid()) {
                again = listener->Accept(0);
            }
            return again.valid();
        },
        15000));
    ASSERT_TRUE(PeerGets(again, "tick\r\n", &kem::testing::TestSocket::Receive));
    EXPECT_TRUE(window().link().IsOpen());
    EXPECT_FALSE(Marked());
}

TEST_F(MainWindowReconnectTest, ForwardingWindowHasItsOwnOption) {
    g_AppConfigExt.TransmitAutoReconnect = 1;
    SetField(g_AppConfig.TransmitComPortName, device_.device16());
    SetField(g_AppConfig.ComPortName, u"COM1");
    MakeWindow();
    window().ExecuteCommand(ids::kPortForwarding);
    auto* forwarding = window().findChild<CDlgTransmit*>();
    ASSERT_NE(forwarding, nullptr);
    auto* box = qobject_cast<QCheckBox*>(forwarding->Control(transmit_ids::kAutoReconnect));
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->text(), QStringLiteral("自动重连"));
    EXPECT_TRUE(box->isChecked());
    EXPECT_TRUE(forwarding->link().auto_reconnect());
    EXPECT_FALSE(window().link().auto_reconnect()) << "the main link keeps its own";
    box->click();
    EXPECT_EQ(g_AppConfigExt.TransmitAutoReconnect, 0);
    EXPECT_FALSE(forwarding->link().auto_reconnect());
    box->click();

    // The second link on the socat device waits and comes back the same way.
    qobject_cast<QPushButton*>(forwarding->Control(transmit_ids::kOpen))->click();
    ASSERT_TRUE(forwarding->IsOpen());
    device_.Stop();
    ASSERT_TRUE(Wait([&] { return forwarding->link().IsWaiting(); }));
    EXPECT_EQ(forwarding->windowTitle(), QStringLiteral("端口转发 [等待重连]"));
    ASSERT_TRUE(device_.Start());
    ASSERT_TRUE(Wait([&] { return forwarding->IsOpen(); }, 10000));
    EXPECT_EQ(forwarding->windowTitle(), QStringLiteral("端口转发"));
}

}  // namespace
