// Automatic reconnection of the main window's link, against real peers: socat pseudo-terminal
// pairs whose link paths vanish and come back, and loopback TCP servers that go and return.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "channels/net_test_support.h"
#include "platform/device_watch.h"
#include "support/scratch_files.h"
#include "support/socat_pty.h"
#include "terminal/link_session.h"
#include "terminal/session_window.h"

namespace {

namespace fs = std::filesystem;
namespace plat = kem::platform;
using kem::testing::MsSince;
using kem::testing::OpenDescriptors;
using kem::testing::PtyPeer;
using kem::testing::SessionWindow;
using kem::testing::SocatPty;
using kem::testing::TempFolder;
using kem::testing::TestListener;
using kem::testing::TestSocket;
using kem::testing::ThreadCount;
using Clock = std::chrono::steady_clock;

constexpr const char16_t* kLine = u"115200,N,8,1";

// ---- serial devices that come and go ---------------------------------------------------------

std::u16string U16(const std::string& text) {
    return kem::platform::Utf8ToWide(text);
}

// Bytes of the device after a reopen arrive complete and in order, and the window's bytes
// reach the device.
void ExpectBothDirections(SessionWindow& window, PtyPeer& peer, size_t size, unsigned seed) {
    const std::string from_device = kem::testing::Pattern(size, seed);
    ASSERT_EQ(peer.Write(from_device), size);
    EXPECT_TRUE(
        window.PumpUntil([&] { return window.received.size() >= from_device.size(); }, 5000));
    EXPECT_EQ(window.received, from_device);
    window.received.clear();

    const std::string to_device = kem::testing::Pattern(512, seed + 7);
    EXPECT_EQ(
        window.session.Send(reinterpret_cast<const uint8_t*>(to_device.data()), to_device.size()),
        LinkSession::SendResult::kSent);
    EXPECT_EQ(peer.Read(to_device.size()), to_device);
}

void ExpectWaitingState(LinkSession& session, LinkType type) {
    EXPECT_TRUE(session.IsWaiting());
    EXPECT_EQ(session.State(), LinkState::kWaiting);
    EXPECT_EQ(std::u16string(OpenButtonCaption(session.State())), u"停止");
    EXPECT_FALSE(session.IsOpen());
    EXPECT_FALSE(session.CanLoopSend());
    EXPECT_EQ(session.type(), type);
    EXPECT_TRUE(session.LostLinkMessage().empty());
    EXPECT_EQ(session.current_link_id(), 0u);
    const uint8_t byte = 'x';
    EXPECT_EQ(session.Send(&byte, 1), LinkSession::SendResult::kNotOpen);
}

TEST(LinkReconnectSerial, DeviceBackUnderTheSamePathIsReopenedTwentyTimes) {
    TempFolder dir;
    TempFolder by_id;  // empty: the path itself is waited for
    SocatPty socat(dir / "dev", dir / "peer");
    ASSERT_TRUE(socat.Start());
    size_t fds_before = 0;
    size_t threads_before = 0;
    SessionWindow window;
    LinkSession& session = window.session;
    session.SetSerialByIdFolder(by_id.path().string());
    session.SetAutoReconnect(true);
    EXPECT_TRUE(session.auto_reconnect());
    session.serial().SetDtr(0);
    // One open and close first: the channel keeps its stop event from its first start on.
    ASSERT_EQ(session.Open(LinkType::kSerial, U16(dir / "dev"), kLine).opened, LinkType::kSerial);
    session.Close();
    fds_before = OpenDescriptors();
    threads_before = ThreadCount();
    ASSERT_EQ(session.Open(LinkType::kSerial, U16(dir / "dev"), u"57600,E,7,1").opened,
              LinkType::kSerial);
    EXPECT_EQ(session.serial_watch_path(), dir / "dev");
    {
        PtyPeer peer(dir / "peer");
        ASSERT_TRUE(peer.valid());
        ExpectBothDirections(window, peer, 4096, 1);
    }
    constexpr int kCycles = 20;
    for (int cycle = 0; cycle < kCycles; ++cycle) {
        SCOPED_TRACE("cycle " + std::to_string(cycle));
        const uint64_t old_id = session.current_link_id();
        {
            PtyPeer peer(dir / "peer");
            ASSERT_TRUE(peer.valid());
            // The device goes while bytes are on their way.
            peer.Write(kem::testing::Pattern(2048, 99), 200);
            socat.Stop();
        }
        ASSERT_TRUE(window.PumpUntil([&] { return session.IsWaiting(); }, 5000));
        ExpectWaitingState(session, LinkType::kSerial);
        ASSERT_TRUE(socat.Start());
        ASSERT_TRUE(window.PumpUntil([&] { return session.State() == LinkState::kOpen; }, 5000));
        EXPECT_TRUE(session.IsOpen());
        EXPECT_FALSE(session.IsWaiting());
        EXPECT_NE(session.current_link_id(), old_id);
        EXPECT_EQ(session.serial().param().dwBaudRate, 57600u);
        EXPECT_EQ(session.serial().param().nParity, 2);
        ASSERT_NE(session.serial().device(), nullptr);
        EXPECT_FALSE(session.serial().device()->requested().dtr_enable);
        window.ForgetReceived();  // what the old session of the device left
        PtyPeer peer(dir / "peer");
        ASSERT_TRUE(peer.valid());
        ExpectBothDirections(window, peer, 8192, static_cast<unsigned>(cycle));
    }
    EXPECT_EQ(window.waiting, kCycles);
    EXPECT_EQ(window.reconnected, kCycles);
    EXPECT_EQ(window.lost, 0);
    EXPECT_EQ(session.Close(), LinkType::kSerial);
    EXPECT_EQ(OpenDescriptors(), fds_before);
    EXPECT_EQ(ThreadCount(), threads_before);
}

TEST(LinkReconnectSerial, AdapterBackUnderAnotherNumberIsFoundThroughItsByIdLink) {
    TempFolder dir;
    TempFolder by_id;
    SocatPty first(dir / "ttyUSB0", dir / "peer0");
    ASSERT_TRUE(first.Start());
    const std::string link = by_id / "usb-Quux_Serial_Adapter_A1B2C3-if00-port0";
    fs::create_symlink(dir / "ttyUSB0", link);

    SessionWindow window;
    LinkSession& session = window.session;
    session.SetSerialByIdFolder(by_id.path().string());
    session.SetAutoReconnect(true);
    ASSERT_EQ(session.Open(LinkType::kSerial, U16(dir / "ttyUSB0"), kLine).opened,
              LinkType::kSerial);
    EXPECT_EQ(session.serial_watch_path(), link);
    first.Stop();
    ASSERT_TRUE(window.PumpUntil([&] { return session.IsWaiting(); }, 5000));
    // The old number does not come back; the adapter turns up as another one, and its link
    // is made anew (as udev does, through a rename).
    SocatPty second(dir / "ttyUSB1", dir / "peer1");
    ASSERT_TRUE(second.Start());
    window.PumpFor(300);
    EXPECT_TRUE(session.IsWaiting());  // the link still dangles
    fs::create_symlink(dir / "ttyUSB1", by_id / ".tmp-link");
    fs::rename(by_id / ".tmp-link", link);
    ASSERT_TRUE(window.PumpUntil([&] { return session.State() == LinkState::kOpen; }, 5000));
    EXPECT_EQ(session.serial().port_path().value_or(u""), U16(link));
    window.ForgetReceived();
    PtyPeer peer(dir / "peer1");
    ASSERT_TRUE(peer.valid());
    ExpectBothDirections(window, peer, 4096, 5);
}

TEST(LinkReconnectSerial, ReopenThatFailsKeepsWaitingAndTriesAgainLater) {
    TempFolder dir;
    TempFolder by_id;
    SocatPty socat(dir / "dev", dir / "peer");
    ASSERT_TRUE(socat.Start());
    SessionWindow window;
    LinkSession& session = window.session;
    session.SetSerialByIdFolder(by_id.path().string());
    session.SetAutoReconnect(true);
    ASSERT_EQ(session.Open(LinkType::kSerial, U16(dir / "dev"), kLine).opened, LinkType::kSerial);
    socat.Stop();
    ASSERT_TRUE(window.PumpUntil([&] { return session.IsWaiting(); }, 5000));
    // Something is at the path, but it cannot be opened as a serial line yet.
    kem::testing::WriteBytes(dir / "dev", "not a terminal");
    window.PumpFor(1300);
    EXPECT_TRUE(session.IsWaiting());
    EXPECT_GE(window.still_waiting, 2);
    const auto attempts = session.reconnect().AttemptTimes();
    ASSERT_GE(attempts.size(), 2u);
    // Paced, never a busy loop: about four tries a second at most.
    EXPECT_LE(attempts.size(), 7u);
    for (size_t i = 1; i < attempts.size(); ++i) {
        EXPECT_GE(attempts[i] - attempts[i - 1], std::chrono::milliseconds(250));
    }
    fs::remove(dir / "dev");
    ASSERT_TRUE(socat.Start());
    ASSERT_TRUE(window.PumpUntil([&] { return session.State() == LinkState::kOpen; }, 5000));
    window.ForgetReceived();
    PtyPeer peer(dir / "peer");
    ASSERT_TRUE(peer.valid());
    ExpectBothDirections(window, peer, 1024, 3);
}

TEST(LinkReconnectSerial, OptionOffLosesTheLinkAsBefore) {
    TempFolder dir;
    TempFolder by_id;
    SocatPty socat(dir / "dev", dir / "peer");
    ASSERT_TRUE(socat.Start());
    SessionWindow window;
    LinkSession& session = window.session;
    session.SetSerialByIdFolder(by_id.path().string());
    EXPECT_FALSE(session.auto_reconnect());
    ASSERT_EQ(session.Open(LinkType::kSerial, U16(dir / "dev"), kLine).opened, LinkType::kSerial);
    socat.Stop();
    ASSERT_TRUE(window.PumpUntil([&] { return window.lost == 1; }, 5000));
    EXPECT_EQ(session.State(), LinkState::kClosed);
    EXPECT_EQ(session.type(), LinkType::kNone);
    EXPECT_FALSE(session.IsWaiting());
    EXPECT_EQ(session.LostLinkMessage(), u"串口已断开:" + U16(dir / "dev"));
    ASSERT_TRUE(socat.Start());
    window.PumpFor(400);
    EXPECT_EQ(session.State(), LinkState::kClosed);
    EXPECT_EQ(window.reconnected, 0);
}

// How long `action` took, in milliseconds.
int64_t Timed(const std::function<void()>& action) {
    const auto start = Clock::now();
    action();
    return MsSince(start);
}

TEST(LinkReconnectSerial, CloseToggleOptionOffAndDestructionStopTheWaitPromptly) {
    TempFolder dir;
    TempFolder by_id;
    SocatPty socat(dir / "dev", dir / "peer");
    for (int way = 0; way < 4; ++way) {
        SCOPED_TRACE("way " + std::to_string(way));
        ASSERT_TRUE(socat.Start());
        auto window = std::make_unique<SessionWindow>();
        LinkSession& session = window->session;
        session.SetSerialByIdFolder(by_id.path().string());
        session.SetAutoReconnect(true);
        ASSERT_EQ(session.Open(LinkType::kSerial, U16(dir / "dev"), kLine).opened,
                  LinkType::kSerial);
        socat.Stop();
        ASSERT_TRUE(window->PumpUntil([&] { return session.IsWaiting(); }, 5000));
        int64_t took = 0;
        switch (way) {
            case 0:
                took = Timed([&] { EXPECT_EQ(session.Close(), LinkType::kSerial); });
                break;
            case 1:
                took = Timed([&] {
                    EXPECT_EQ(session.Toggle(LinkType::kSerial, U16(dir / "dev"), kLine).action,
                              ToggleAction::kClosed);
                });
                break;
            case 2:
                took = Timed([&] { session.SetAutoReconnect(false); });
                break;
            case 3:
                took = Timed([&] { window.reset(); });
                break;
        }
        EXPECT_LT(took, 500);
        if (window) {
            EXPECT_FALSE(session.IsWaiting());
            EXPECT_EQ(session.State(), LinkState::kClosed);
            EXPECT_EQ(session.type(), LinkType::kNone);
            // Nothing comes back on its own any more.
            ASSERT_TRUE(socat.Start());
            window->PumpFor(400);
            EXPECT_EQ(session.State(), LinkState::kClosed);
            EXPECT_EQ(window->reconnected, 0);
            socat.Stop();
        }
    }
}

// ---- TCP client ------------------------------------------------------------------------------

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

void ExpectTcpBothDirections(SessionWindow& window, const TestSocket& server, unsigned seed) {
    const std::string from_server = kem::testing::Pattern(16384, seed);
    ASSERT_TRUE(server.SendAll(from_server));
    EXPECT_TRUE(
        window.PumpUntil([&] { return window.received.size() >= from_server.size(); }, 5000));
    EXPECT_EQ(window.received, from_server);
    window.received.clear();
    const std::string to_server = kem::testing::Pattern(1000, seed + 3);
    EXPECT_EQ(
        window.session.Send(reinterpret_cast<const uint8_t*>(to_server.data()), to_server.size()),
        LinkSession::SendResult::kSent);
    EXPECT_EQ(server.Receive(to_server.size()), to_server);
}

TEST(LinkReconnectClient, ServerGoneAndBackIsReconnectedWithGrowingPauses) {
    uint16_t port = 0;
    auto listener = std::make_unique<TestListener>(4, port);
    port = listener->port();
    SessionWindow window;
    LinkSession& session = window.session;
    session.SetAutoReconnect(true);
    const std::u16string target = u"127.0.0.1:" + U16(std::to_string(port));
    ASSERT_EQ(session.Open(LinkType::kTcpClient, u"TCP/IP", target).opened, LinkType::kTcpClient);
    TestSocket server = listener->Accept(3000);
    ASSERT_TRUE(server.valid());
    ExpectTcpBothDirections(window, server, 1);
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
    const auto first_pause = attempts[0] - lost_at;
    const auto second_pause = attempts[1] - attempts[0];
    const auto third_pause = attempts[2] - attempts[1];
    EXPECT_GE(first_pause, std::chrono::milliseconds(400));
    EXPECT_GT(second_pause, first_pause);
    EXPECT_GT(third_pause, second_pause);

    // Back on the same port: the next attempt gets through.
    listener = std::make_unique<TestListener>(4, port);
    server = PumpAccept(window, *listener, 10000);
    ASSERT_TRUE(server.valid());
    ASSERT_TRUE(window.PumpUntil([&] { return session.State() == LinkState::kOpen; }, 5000));
    EXPECT_EQ(window.reconnected, 1);
    EXPECT_NE(session.current_link_id(), first_id);
    EXPECT_NE(session.current_link_id(), 0u);
    ExpectTcpBothDirections(window, server, 2);

    // Dropped again with the server still listening: back after the first, short pause.
    const uint64_t second_id = session.current_link_id();
    server.Close();
    ASSERT_TRUE(window.PumpUntil([&] { return window.waiting == 2; }, 5000));
    server = PumpAccept(window, *listener, 5000);
    ASSERT_TRUE(server.valid());
    ASSERT_TRUE(window.PumpUntil([&] { return session.State() == LinkState::kOpen; }, 5000));
    EXPECT_EQ(session.reconnect().AttemptTimes().size(), 1u);
    EXPECT_NE(session.current_link_id(), second_id);
    ExpectTcpBothDirections(window, server, 3);
    EXPECT_EQ(window.lost, 0);

    // A late close event of a connection that is gone changes nothing.
    EXPECT_EQ(session.OnLinkClosed(0, second_id), ClosedAction::kIgnored);
    EXPECT_EQ(session.State(), LinkState::kOpen);
}

TEST(LinkReconnectClient, OptionOffLosesTheLinkAsBefore) {
    uint16_t port = 0;
    auto listener = std::make_unique<TestListener>(4, port);
    port = listener->port();
    SessionWindow window;
    LinkSession& session = window.session;
    ASSERT_EQ(
        session.Open(LinkType::kTcpClient, u"TCP/IP", u"127.0.0.1:" + U16(std::to_string(port)))
            .opened,
        LinkType::kTcpClient);
    TestSocket server = listener->Accept(3000);
    ASSERT_TRUE(server.valid());
    server.Close();
    ASSERT_TRUE(window.PumpUntil([&] { return window.lost == 1; }, 5000));
    EXPECT_EQ(session.State(), LinkState::kClosed);
    EXPECT_EQ(session.LostLinkMessage(), u"与服务器的连接已断开(0)");
    window.PumpFor(800);
    EXPECT_FALSE(listener->Accept(0).valid());  // no attempt was made
}

TEST(LinkReconnectClient, StoppingWhileAnAttemptHangsReturnsPromptly) {
    for (int way = 0; way < 3; ++way) {
        SCOPED_TRACE("way " + std::to_string(way));
        uint16_t port = 0;
        auto listener = std::make_unique<TestListener>(0, port);
        port = listener->port();
        auto window = std::make_unique<SessionWindow>();
        LinkSession& session = window->session;
        session.SetAutoReconnect(true);
        ASSERT_EQ(
            session.Open(LinkType::kTcpClient, u"TCP/IP", u"127.0.0.1:" + U16(std::to_string(port)))
                .opened,
            LinkType::kTcpClient);
        TestSocket server = listener->Accept(3000);
        ASSERT_TRUE(server.valid());
        // A full accept queue: the kernel drops further connects, so the next attempt hangs.
        std::vector<TestSocket> fillers;
        for (int i = 0; i < 4; ++i) {
            fillers.push_back(kem::testing::StartClient(port));
        }
        TestSocket probe = kem::testing::StartClient(port);
        if (!plat::WaitSocket(probe.get(), plat::kIoWritable, nullptr, 200).timed_out) {
            GTEST_SKIP() << "this kernel answers connects to a full accept queue";
        }
        server.Close();
        ASSERT_TRUE(window->PumpUntil([&] { return session.IsWaiting(); }, 5000));
        ASSERT_TRUE(
            window->PumpUntil([&] { return !session.reconnect().AttemptTimes().empty(); }, 5000));
        window->PumpFor(200);  // well inside the attempt's 3 s
        EXPECT_TRUE(session.IsWaiting());
        int64_t took = 0;
        switch (way) {
            case 0:
                took = Timed([&] { EXPECT_EQ(session.Close(), LinkType::kTcpClient); });
                break;
            case 1:
                took = Timed([&] {
                    EXPECT_EQ(session.Toggle(LinkType::kTcpClient, u"TCP/IP", u"").action,
                              ToggleAction::kClosed);
                });
                break;
            case 2:
                took = Timed([&] { window.reset(); });
                break;
        }
        EXPECT_LT(took, 500);
        if (window) {
            EXPECT_EQ(session.State(), LinkState::kClosed);
            EXPECT_FALSE(session.IsWaiting());
        }
    }
}

}  // namespace
