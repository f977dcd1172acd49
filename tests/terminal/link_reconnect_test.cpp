// Automatic reconnection of the main window's link, against real peers: socat pseudo-terminal
// pairs whose link paths vanish and come back, and loopback TCP servers that go and return.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "channels/net_test_support.h"
#include "support/scratch_files.h"
#include "support/socat_pty.h"
#include "terminal/link_session.h"
#include "terminal/session_window.h"

namespace {

namespace fs = std::filesystem;
using namespace kem::testing;

constexpr const char16_t* kLine = u"115200,N,8,1";

std::u16string U16(const std::string& text) {
    return kem::platform::Utf8ToWide(text);
}

bool Put(PtyPeer& peer, const std::string& data) {
    return peer.Write(data) == data.size();
}
bool Put(const TestSocket& peer, const std::string& data) {
    return peer.SendAll(data);
}
std::string Get(PtyPeer& peer, size_t size) {
    return peer.Read(size);
}
std::string Get(const TestSocket& peer, size_t size) {
    return peer.Receive(size);
}

// `size` bytes of the far end arrive complete and in order, and the window's bytes reach it.
template <typename Peer>
void ExpectBothDirections(SessionWindow& window, Peer& peer, size_t size, unsigned seed) {
    const std::string from_peer = Pattern(size, seed);
    ASSERT_TRUE(Put(peer, from_peer));
    EXPECT_TRUE(window.PumpUntil([&] { return window.received.size() >= size; }, 5000));
    EXPECT_EQ(window.received, from_peer);
    window.received.clear();
    const std::string to_peer = Pattern(512, seed + 7);
    EXPECT_EQ(window.session.Send(reinterpret_cast<const uint8_t*>(to_peer.data()), 512),
              LinkSession::SendResult::kSent);
    EXPECT_EQ(Get(peer, 512), to_peer);
}

void ExpectWaitingState(LinkSession& session, LinkType type) {
    EXPECT_EQ(std::tuple(session.IsWaiting(), session.State(), session.IsOpen(),
                         session.CanLoopSend(), session.type(), session.current_link_id()),
              std::tuple(true, LinkState::kWaiting, false, false, type, uint64_t{0}));
    EXPECT_EQ(std::u16string(OpenButtonCaption(session.State())), u"停止");
    EXPECT_TRUE(session.LostLinkMessage().empty());
    EXPECT_EQ(session.Send(reinterpret_cast<const uint8_t*>("x"), 1),
              LinkSession::SendResult::kNotOpen);
}

// Without automatic reconnection a close event loses the link: the window is told, and the
// same event once more is stale.
void ExpectLostWithoutWaiting(SessionWindow& window, const Posted& closed,
                              const std::u16string& message) {
    LinkSession& session = window.session;
    EXPECT_EQ(closed.id, session.current_link_id());
    window.Handle(closed);
    EXPECT_EQ(window.lost(), 1);
    EXPECT_EQ(std::tuple(session.State(), session.type(), session.IsWaiting()),
              std::tuple(LinkState::kClosed, LinkType::kNone, false));
    EXPECT_EQ(session.LostLinkMessage(), message);
    EXPECT_EQ(session.OnLinkClosed(closed.code, closed.id), ClosedAction::kIgnored);
}

enum class StopWay { kClose, kToggle, kOptionOff, kDestroy };
constexpr StopWay kStopWays[] = {StopWay::kClose, StopWay::kToggle, StopWay::kOptionOff,
                                 StopWay::kDestroy};

// Ends a waiting link of `type` one of the ways; how long it took. When the window lives on,
// the link is closed and no longer waits.
int64_t StopWaiting(StopWay way, std::unique_ptr<SessionWindow>& window, LinkType type,
                    const std::u16string& port) {
    LinkSession& session = window->session;
    const auto start = Clock::now();
    switch (way) {
        case StopWay::kClose:
            EXPECT_EQ(session.Close(), type);
            break;
        case StopWay::kToggle:
            EXPECT_EQ(session.Toggle(type, port, kLine).action, ToggleAction::kClosed);
            break;
        case StopWay::kOptionOff:
            session.SetAutoReconnect(false);
            break;
        case StopWay::kDestroy:
            window.reset();
            break;
    }
    const int64_t took = MsSince(start);
    if (window) {
        EXPECT_EQ(std::tuple(session.IsWaiting(), session.State(), session.type()),
                  std::tuple(false, LinkState::kClosed, LinkType::kNone));
    }
    return took;
}

// ---- serial devices that come and go ---------------------------------------------------------

// A socat pair dir/dev <-> dir/peer, and a window whose session looks for by-id links in a
// folder of the test's own.
class LinkReconnectSerial : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(socat_.Start()); }
    LinkSession& session() { return window_->session; }
    void Open(bool reconnect, const char16_t* param = kLine) {
        session().SetSerialByIdFolder(by_id_.path().string());
        session().SetAutoReconnect(reconnect);
        ASSERT_EQ(session().Open(LinkType::kSerial, dev(), param).opened, LinkType::kSerial);
    }
    void UnplugUntilWaiting() {
        socat_.Stop();
        ASSERT_TRUE(window_->PumpUntil([&] { return session().IsWaiting(); }, 5000));
    }
    bool PumpUntilOpen() {
        return window_->PumpUntil([&] { return session().State() == LinkState::kOpen; }, 5000);
    }
    std::u16string dev() const { return U16(dir_ / "dev"); }
    // After forgetting what the device's old session left, both directions through `peer`.
    void ExpectDeviceBothWays(const char* peer, size_t size, unsigned seed) {
        window_->ForgetReceived();
        PtyPeer device(dir_ / peer);
        ASSERT_TRUE(device.valid());
        ExpectBothDirections(*window_, device, size, seed);
    }

    TempFolder dir_;
    TempFolder by_id_;
    SocatPty socat_{dir_ / "dev", dir_ / "peer"};
    std::unique_ptr<SessionWindow> window_ = std::make_unique<SessionWindow>();
};

TEST_F(LinkReconnectSerial, DeviceBackUnderTheSamePathIsReopenedTwentyTimes) {
    session().serial().SetDtr(0);
    // One open and close first: the channel keeps its stop event from its first start on.
    Open(true);
    session().Close();
    const size_t fds_before = OpenDescriptors();
    const size_t threads_before = ThreadCount();
    Open(true, u"57600,E,7,1");
    EXPECT_EQ(session().serial_watch_path(), dir_ / "dev");  // the by-id folder is empty
    ExpectDeviceBothWays("peer", 4096, 1);
    constexpr int kCycles = 20;
    for (int cycle = 0; cycle < kCycles; ++cycle) {
        SCOPED_TRACE("cycle " + std::to_string(cycle));
        const uint64_t old_id = session().current_link_id();
        {
            PtyPeer peer(dir_ / "peer");
            ASSERT_TRUE(peer.valid());
            peer.Write(Pattern(2048, 99), 200);  // the device goes while bytes are on their way
        }
        UnplugUntilWaiting();
        ExpectWaitingState(session(), LinkType::kSerial);
        ASSERT_TRUE(socat_.Start());
        ASSERT_TRUE(PumpUntilOpen());
        EXPECT_TRUE(session().IsOpen());
        EXPECT_NE(session().current_link_id(), old_id);
        EXPECT_EQ(
            std::tuple(session().serial().param().dwBaudRate, session().serial().param().nParity),
            std::tuple(57600u, 2));
        ASSERT_NE(session().serial().device(), nullptr);
        EXPECT_FALSE(session().serial().device()->requested().dtr_enable);
        ExpectDeviceBothWays("peer", 8192, static_cast<unsigned>(cycle));
    }
    EXPECT_EQ(window_->waiting(), kCycles);
    EXPECT_EQ(window_->reconnected(), kCycles);
    EXPECT_EQ(window_->lost(), 0);
    EXPECT_EQ(session().Close(), LinkType::kSerial);
    EXPECT_EQ(OpenDescriptors(), fds_before);
    EXPECT_EQ(ThreadCount(), threads_before);
}

TEST_F(LinkReconnectSerial, AdapterBackUnderAnotherNumberIsFoundThroughItsByIdLink) {
    const std::string link = by_id_ / "usb-Quux_Serial_Adapter_A1B2C3-if00-port0";
    fs::create_symlink(dir_ / "dev", link);
    Open(true);
    EXPECT_EQ(session().serial_watch_path(), link);
    UnplugUntilWaiting();
    // The old number does not come back; the adapter turns up as another one, and its link
    // is made anew (as udev does, through a rename).
    SocatPty second(dir_ / "dev1", dir_ / "peer1");
    ASSERT_TRUE(second.Start());
    window_->PumpFor(300);
    EXPECT_TRUE(session().IsWaiting());  // the link still dangles
    fs::create_symlink(dir_ / "dev1", by_id_ / ".tmp-link");
    fs::rename(by_id_ / ".tmp-link", link);
    ASSERT_TRUE(PumpUntilOpen());
    EXPECT_EQ(session().serial().port_path().value_or(u""), U16(link));
    ExpectDeviceBothWays("peer1", 4096, 5);
}

TEST_F(LinkReconnectSerial, ReopenThatFailsKeepsWaitingAndTriesAgainLater) {
    Open(true);
    UnplugUntilWaiting();
    // Something is at the path, but it cannot be opened as a serial line yet.
    WriteBytes(dir_ / "dev", "not a terminal");
    window_->PumpFor(1300);
    EXPECT_TRUE(session().IsWaiting());
    EXPECT_GE(window_->reconnects[ReconnectAction::kStillWaiting], 2);
    const auto attempts = session().reconnect().AttemptTimes();
    ASSERT_GE(attempts.size(), 2u);
    EXPECT_LE(attempts.size(), 7u);  // paced, never a busy loop: about four tries a second
    for (size_t i = 1; i < attempts.size(); ++i) {
        EXPECT_GE(attempts[i] - attempts[i - 1], std::chrono::milliseconds(250));
    }
    fs::remove(dir_ / "dev");
    ASSERT_TRUE(socat_.Start());
    ASSERT_TRUE(PumpUntilOpen());
    ExpectDeviceBothWays("peer", 1024, 3);
}

TEST_F(LinkReconnectSerial, OptionOffLosesTheLinkAndItStaysClosed) {
    EXPECT_FALSE(session().auto_reconnect());
    Open(false);
    socat_.Stop();
    const auto closed = window_->sink.WaitFor(Posted::kClosed, 5000);
    ASSERT_TRUE(closed.has_value());
    EXPECT_EQ(closed->code, LinkSession::kSerialGoneCode);
    ExpectLostWithoutWaiting(*window_, *closed, u"串口已断开:" + dev());
    EXPECT_EQ(session().serial().device(), nullptr);
    ASSERT_TRUE(socat_.Start());
    window_->PumpFor(400);
    EXPECT_EQ(session().State(), LinkState::kClosed);
    EXPECT_EQ(window_->reconnected(), 0);
}

TEST_F(LinkReconnectSerial, CloseToggleOptionOffAndDestructionStopTheWaitPromptly) {
    for (const StopWay way : kStopWays) {
        SCOPED_TRACE("way " + std::to_string(static_cast<int>(way)));
        if (!window_) {
            window_ = std::make_unique<SessionWindow>();
        }
        ASSERT_TRUE(socat_.Start());
        Open(true);
        UnplugUntilWaiting();
        EXPECT_LT(StopWaiting(way, window_, LinkType::kSerial, dev()), 500);
        if (window_) {  // nothing comes back on its own any more
            ASSERT_TRUE(socat_.Start());
            window_->PumpFor(400);
            EXPECT_EQ(session().State(), LinkState::kClosed);
            EXPECT_EQ(window_->reconnected(), 0);
            socat_.Stop();
        }
    }
}

// ---- TCP client ------------------------------------------------------------------------------

// Opens a client link to `listener`; the server's side of it.
TestSocket OpenClient(SessionWindow& window, const TestListener& listener, bool reconnect) {
    window.session.SetAutoReconnect(reconnect);
    const std::u16string target = u"127.0.0.1:" + U16(std::to_string(listener.port()));
    EXPECT_EQ(window.session.Open(LinkType::kTcpClient, u"TCP/IP", target).opened,
              LinkType::kTcpClient);
    return listener.Accept(3000);
}

// Pumps the window until the listener has a client; the accepted socket.
TestSocket PumpAccept(SessionWindow& window, const TestListener& listener, int timeout_ms) {
    TestSocket accepted;
    window.PumpUntil(
        [&] {
            accepted = listener.Accept(0);
            return accepted.valid();
        },
        timeout_ms);
    return accepted;
}

TEST(LinkReconnectClient, ServerGoneAndBackIsReconnectedWithGrowingPauses) {
    auto listener = std::make_unique<TestListener>(4);
    const uint16_t port = listener->port();
    SessionWindow window;
    LinkSession& session = window.session;
    TestSocket server = OpenClient(window, *listener, true);
    ASSERT_TRUE(server.valid());
    ExpectBothDirections(window, server, 16384, 1);
    const uint64_t first_id = session.current_link_id();

    // The server goes away altogether.
    server.Close();
    listener.reset();
    ASSERT_TRUE(window.PumpUntil([&] { return session.IsWaiting(); }, 5000));
    ExpectWaitingState(session, LinkType::kTcpClient);
    const auto lost_at = Clock::now();
    // Attempts at about 0.5 s, 1.5 s and 3.5 s: all refused.
    window.PumpUntil([&] { return session.reconnect().AttemptTimes().size() >= 3; }, 8000);
    EXPECT_TRUE(session.IsWaiting());
    const auto attempts = session.reconnect().AttemptTimes();
    ASSERT_GE(attempts.size(), 3u);
    EXPECT_GE(attempts[0] - lost_at, std::chrono::milliseconds(400));
    EXPECT_GT(attempts[1] - attempts[0], attempts[0] - lost_at);
    EXPECT_GT(attempts[2] - attempts[1], attempts[1] - attempts[0]);

    // Back on the same port: the next attempt gets through.
    listener = std::make_unique<TestListener>(4, port);
    server = PumpAccept(window, *listener, 10000);
    ASSERT_TRUE(server.valid());
    ASSERT_TRUE(window.PumpUntil([&] { return session.State() == LinkState::kOpen; }, 5000));
    EXPECT_EQ(window.reconnected(), 1);
    EXPECT_NE(session.current_link_id(), first_id);
    EXPECT_NE(session.current_link_id(), 0u);
    ExpectBothDirections(window, server, 16384, 2);

    // Dropped again with the server still listening: back after the first, short pause.
    const uint64_t second_id = session.current_link_id();
    server.Close();
    ASSERT_TRUE(window.PumpUntil([&] { return window.waiting() == 2; }, 5000));
    server = PumpAccept(window, *listener, 5000);
    ASSERT_TRUE(server.valid());
    ASSERT_TRUE(window.PumpUntil([&] { return session.State() == LinkState::kOpen; }, 5000));
    EXPECT_EQ(session.reconnect().AttemptTimes().size(), 1u);
    EXPECT_NE(session.current_link_id(), second_id);
    ExpectBothDirections(window, server, 16384, 3);
    EXPECT_EQ(window.lost(), 0);
    // A late close event of a connection that is gone changes nothing.
    EXPECT_EQ(session.OnLinkClosed(0, second_id), ClosedAction::kIgnored);
    EXPECT_EQ(session.State(), LinkState::kOpen);
}

TEST(LinkReconnectClient, OptionOffLosesTheLinkKeepingWhatCameAndMakesNoAttempt) {
    TestListener listener(4);
    SessionWindow window;
    TestSocket server = OpenClient(window, listener, false);
    ASSERT_TRUE(server.SendAll("bye"));
    server.Close();
    const auto closed = window.sink.WaitFor(Posted::kClosed, 5000);
    ASSERT_TRUE(closed.has_value());
    ExpectLostWithoutWaiting(window, *closed, u"与服务器的连接已断开(0)");
    // Received before the end: still there.
    EXPECT_TRUE(window.PumpUntil([&] { return window.received == "bye"; }, 2000));
    window.PumpFor(800);
    EXPECT_FALSE(listener.Accept(0).valid());  // no attempt was made
}

TEST(LinkReconnectClient, StoppingWhileAnAttemptHangsReturnsPromptly) {
    for (const StopWay way : kStopWays) {
        SCOPED_TRACE("way " + std::to_string(static_cast<int>(way)));
        TestListener listener(0);
        auto window = std::make_unique<SessionWindow>();
        TestSocket server = OpenClient(*window, listener, true);
        ASSERT_TRUE(server.valid());
        // A full accept queue: the kernel drops further connects, so the next attempt hangs.
        std::vector<TestSocket> fillers;
        for (int i = 0; i < 4; ++i) {
            fillers.push_back(StartClient(listener.port()));
        }
        TestSocket probe = StartClient(listener.port());
        if (!kem::platform::WaitSocket(probe.get(), kem::platform::kIoWritable, nullptr, 200)
                 .timed_out) {
            GTEST_SKIP() << "this kernel answers connects to a full accept queue";
        }
        server.Close();
        LinkSession& session = window->session;
        ASSERT_TRUE(window->PumpUntil([&] { return session.IsWaiting(); }, 5000));
        ASSERT_TRUE(
            window->PumpUntil([&] { return !session.reconnect().AttemptTimes().empty(); }, 5000));
        window->PumpFor(200);  // well inside the attempt's 3 s
        EXPECT_TRUE(session.IsWaiting());
        EXPECT_LT(StopWaiting(way, window, LinkType::kTcpClient, u"TCP/IP"), 500);
    }
}

}  // namespace
