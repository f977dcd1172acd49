// The port group with TCP links against loopback peers on ports the OS picked: the client and
// the server, their failures, peers that vanish, a client replaced by the next one, and loop
// sending to the server's client.
#include "channels/net_test_support.h"
#include "gui/main_window_support.h"

namespace {

using kem::testing::ConnectTo;
using kem::testing::TestListener;
using kem::testing::TestSocket;
using kem::testing::UnusedPort;

class MainWindowNetTest : public MainWindowTest {
protected:
    bool WaitCaption(const char16_t* caption) {
        return Wait([&] { return ButtonText(ids::kOpen) == QString::fromUtf16(caption); });
    }

    // Reads `size` bytes from `peer` while the window's events keep running.
    std::string ReceiveWhilePumping(const TestSocket& peer, size_t size) {
        std::string got;
        Wait([&] {
            got += peer.Receive(size - got.size(), 10);
            return got.size() >= size;
        });
        return got;
    }

    void SendInput(const QString& text) {
        SetInput(text);
        Click(ids::kSend);
    }
};

TEST_F(MainWindowNetTest, ClientTalksBothWaysAndAPeerThatVanishesClosesTheLink) {
    TestListener listener;
    UseClient(listener.port());
    MakeWindow();
    // A send while closed connects first.
    SendInput(QStringLiteral("ping"));
    EXPECT_EQ(ButtonText(ids::kOpen), QStringLiteral("关闭"));
    EXPECT_TRUE(IsChecked(ids::kOpen));
    EXPECT_FALSE(Find(ids::kPortList)->isEnabled());
    TestSocket peer = listener.Accept();
    ASSERT_TRUE(peer.valid());
    EXPECT_EQ(peer.Receive(6), "ping\r\n");
    ASSERT_TRUE(peer.SendAll("pong"));
    EXPECT_TRUE(WaitDisplayHas(u"pong"));

    // Mid-flow: data, then the peer is gone. The data is shown before the notice.
    Answer({DialogAnswer::kOk});
    ASSERT_TRUE(peer.SendAll("bye"));
    peer.Close();
    ASSERT_TRUE(WaitShown(1));
    const std::u16string lost = u"与服务器的连接已断开(";
    EXPECT_EQ(dialogs_.shown[0].text.substr(0, lost.size()), lost);
    EXPECT_EQ(DisplayText(), u"ping\npongbye");
    EXPECT_EQ(ButtonText(ids::kOpen), QStringLiteral("打开"));
    EXPECT_FALSE(IsChecked(ids::kOpen));
    EXPECT_TRUE(Find(ids::kPortList)->isEnabled());
    EXPECT_EQ(Counter(ids::kTxCount), QStringLiteral("6"));
    EXPECT_EQ(Counter(ids::kRxCount), QStringLiteral("7"));
    window().DrainNow();
    EXPECT_EQ(dialogs_.shown.size(), 1u);
}

TEST_F(MainWindowNetTest, ConnectAndListenFailuresSayWhy) {
    TestListener occupied;
    const uint16_t nobody = UnusedPort();
    struct Row {
        const char* name;
        bool server;
        uint16_t port;
        std::u16string message_start;
    };
    const std::vector<Row> rows = {
        {"nobody listens", false, nobody, u"连接服务器失败("},
        {"port taken", true, occupied.port(),
         u"监听端口" + U16(std::to_string(occupied.port())) + u"失败("},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        row.server ? UseServer(row.port) : UseClient(row.port);
        dialogs_.shown.clear();
        Answer({DialogAnswer::kOk});
        MakeWindow();
        Click(ids::kOpen);
        ASSERT_EQ(dialogs_.shown.size(), 1u);
        EXPECT_EQ(dialogs_.shown[0].text.substr(0, row.message_start.size()), row.message_start);
        EXPECT_EQ(dialogs_.shown[0].caption, u"提示");
        EXPECT_EQ(ButtonText(ids::kOpen), QStringLiteral("打开"));
        EXPECT_FALSE(IsChecked(ids::kOpen));
        EXPECT_FALSE(Find<QLineEdit>(ids::kParamBox)->isReadOnly());
        DestroyWindow();
    }
}

TEST_F(MainWindowNetTest, ServerServesOneClientAtATimeAndTheButtonFollows) {
    const uint16_t port = UnusedPort();
    UseServer(port);
    MakeWindow();
    Click(ids::kOpen);
    EXPECT_EQ(ButtonText(ids::kOpen), QStringLiteral("停止"));

    // No client: a send does nothing at all.
    SendInput(QStringLiteral("nobody hears"));
    EXPECT_EQ(Counter(ids::kTxCount), QStringLiteral("0"));
    EXPECT_TRUE(Queued(false).empty());
    EXPECT_TRUE(dialogs_.shown.empty());

    TestSocket first = ConnectTo(port);
    ASSERT_TRUE(first.valid());
    ASSERT_TRUE(WaitCaption(u"断开"));
    ASSERT_TRUE(first.SendAll("from first"));
    EXPECT_TRUE(WaitDisplayHas(u"from first"));
    SendInput(QStringLiteral("to first"));
    EXPECT_EQ(first.Receive(10), "to first\r\n");

    // The Open button in the "断开" state drops the client only.
    Click(ids::kOpen);
    EXPECT_EQ(ButtonText(ids::kOpen), QStringLiteral("停止"));
    EXPECT_TRUE(first.SeesClose());

    // A client that leaves by itself: back to "停止" without a word.
    TestSocket second = ConnectTo(port);
    ASSERT_TRUE(WaitCaption(u"断开"));
    ASSERT_TRUE(second.SendAll("short visit"));
    second.Close();
    ASSERT_TRUE(WaitCaption(u"停止"));
    EXPECT_TRUE(WaitDisplayHas(u"short visit"));
    EXPECT_TRUE(dialogs_.shown.empty());

    // Stop: nobody listens any more.
    Click(ids::kOpen);
    EXPECT_EQ(ButtonText(ids::kOpen), QStringLiteral("打开"));
    TestSocket late = ConnectTo(port);
    EXPECT_FALSE(late.valid() && !late.SeesClose(500));
}

TEST_F(MainWindowNetTest, NewClientReplacesTheOldOneWhoseCloseLeavesItAloneAndLoopSendGoesToIt) {
    const uint16_t port = UnusedPort();
    UseServer(port);
    g_AppConfig.LoopSendTime = 20;
    MakeWindow();
    Click(ids::kOpen);
    TestSocket first = ConnectTo(port);
    ASSERT_TRUE(WaitCaption(u"断开"));
    CKemNetConnect* const first_link = window().link().current_client();
    ASSERT_NE(first_link, nullptr);

    TestSocket second = ConnectTo(port);
    ASSERT_TRUE(second.valid());
    ASSERT_TRUE(Wait([&] {
        return window().link().current_client() != nullptr &&
               window().link().current_client() != first_link;
    }));
    EXPECT_TRUE(first.SeesClose());
    // Let the replaced client's close reach the window, then use the new client both ways.
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        const std::string tag = std::to_string(round);
        ASSERT_TRUE(second.SendAll("in" + tag));
        EXPECT_TRUE(WaitDisplayHas(U16("in" + tag)));
        SendInput(QString::fromStdString("out" + tag));
        EXPECT_EQ(second.Receive(6), "out" + tag + "\r\n");
        EXPECT_EQ(ButtonText(ids::kOpen), QStringLiteral("断开"));
    }
    EXPECT_TRUE(dialogs_.shown.empty());

    // Loop sending reaches the new client and stops when unticked.
    const TestSocket& client = second;
    const size_t before = Queued(false).size();
    SetInput(QStringLiteral("tick"));
    Click(ids::kLoopSend);
    EXPECT_EQ(ReceiveWhilePumping(client, 18), "tick\r\ntick\r\ntick\r\n");
    Click(ids::kLoopSend);
    EXPECT_FALSE(IsChecked(ids::kLoopSend));
    window().DrainNow();
    // Whatever was under way has arrived; after that nothing more comes.
    const size_t sent = Queued(false).size();
    EXPECT_EQ(sent % 6, 0u);
    EXPECT_EQ(ReceiveWhilePumping(client, sent - before - 18).size(), sent - before - 18);
    // Ten periods with the event loop running: no further send.
    Pump(200);
    EXPECT_EQ(Queued(false).size(), sent);
    EXPECT_EQ(client.Receive(1, 10), "");
}

}  // namespace
