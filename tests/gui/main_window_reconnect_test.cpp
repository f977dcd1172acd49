// Reconnecting by itself, as the user sees it: a serial device unplugged and plugged in again
// (socat ends and starts under the same link path) while the window waits with "停止" and a
// title mark, then carries traffic again without a click; the option in the "Other" menu and
// in the port forwarding window, kept in the settings beside the fixed record.
#include <QAction>
#include <QCheckBox>
#include <QPushButton>

#include <fstream>
#include <memory>
#include <string>

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
    QString OpenCaption() { return Find<QPushButton>(ids::kOpen)->text(); }

    QAction* MenuEntry(int id) {
        for (QAction* action : window().findChildren<QAction*>()) {
            if (action->data().toInt() == id) {
                return action;
            }
        }
        return nullptr;
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
        EXPECT_FALSE(Title().contains(QStringLiteral("[等待重连]")));

        // Both directions, without a click.
        const std::string word = "again" + std::to_string(round);
        ASSERT_EQ(peer->Write(word), word.size());
        ASSERT_TRUE(Wait([&] {
            return DisplayText().find(std::u16string(word.begin(), word.end())) !=
                   std::u16string::npos;
        }));
        SetInput(QStringLiteral("back"));
        Click(ids::kSend);
        std::string got;
        ASSERT_TRUE(Wait([&] {
            got += peer->Read(6, 20);
            return got.find("back\r\n") != std::string::npos;
        }));
    }
    EXPECT_TRUE(dialogs_.shown.empty());
}

TEST_F(MainWindowReconnectTest, ButtonStopsTheWaitingAndTheMenuEntrySwitchesTheOption) {
    MakeWindow();
    QAction* entry = MenuEntry(ids::kAutoReconnect);
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
    EXPECT_FALSE(Title().contains(QStringLiteral("[等待重连]")));
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
    std::ifstream file(root_ / "saved.pvto");
    const std::string text((std::istreambuf_iterator<char>(file)), {});
    EXPECT_NE(text.find("[Config_Ext]\r\nAutoReconnect=true"), std::string::npos);
}

TEST_F(MainWindowReconnectTest, FileSendThatMeetsAnUnpluggedDeviceStopsWithOneMessage) {
    g_AppConfigExt.AutoReconnect = 1;
    const std::string path = (root_ / "big.bin").string();
    std::ofstream(path, std::ios::binary) << std::string(4 * 1024 * 1024, 'f');
    MakeWindow();
    Click(ids::kOpen);
    ASSERT_TRUE(window().link().IsOpen());
    dialogs_.open_path = std::u16string(path.begin(), path.end());
    Answer({DialogAnswer::kOk, DialogAnswer::kOk});
    // The far end never reads, so the file is still going out when the device goes.
    Click(ids::kSendFile);
    device_.Stop();
    ASSERT_TRUE(Wait([&] { return window().link().IsWaiting(); }, 10000));
    QTest::qWait(300);
    ASSERT_EQ(dialogs_.shown.size(), 1u);
    EXPECT_EQ(dialogs_.shown[0].text, u"发送文件失败:" + std::u16string(path.begin(), path.end()));
    ASSERT_TRUE(device_.Start());
    ASSERT_TRUE(Wait([&] { return window().link().IsOpen(); }, 10000));
    QTest::qWait(200);
    EXPECT_EQ(dialogs_.shown.size(), 1u) << "the file does not start again";
}

TEST_F(MainWindowReconnectTest, LoopSendGoesOnWhenTheServerComesBack) {
    g_AppConfigExt.AutoReconnect = 1;
    auto listener = std::make_unique<kem::testing::TestListener>(4);
    const uint16_t port = listener->port();
    SetField(g_AppConfig.ComPortName, u"TCP/IP");
    const std::string target = "127.0.0.1:" + std::to_string(port);
    SetField(g_AppConfig.NetPortParam, std::u16string(target.begin(), target.end()));
    SetField(g_AppConfig.InputBoxData, u"tick");
    g_AppConfig.LoopSendTime = 100;
    MakeWindow();
    Click(ids::kOpen);
    ASSERT_TRUE(window().link().IsOpen());
    kem::testing::TestSocket server = listener->Accept(3000);
    ASSERT_TRUE(server.valid());
    SetChecked(ids::kLoopSend, true);
    std::string got;
    ASSERT_TRUE(Wait([&] {
        got += server.Receive(6, 10);
        return got.find("tick\r\n") != std::string::npos;
    }));

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
    got.clear();
    ASSERT_TRUE(Wait([&] {
        got += again.Receive(6, 10);
        return got.find("tick\r\n") != std::string::npos;
    }));
    EXPECT_TRUE(window().link().IsOpen());
    EXPECT_FALSE(Title().contains(QStringLiteral("[等待重连]")));
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
