// The main window's link against real peers (pseudo-terminals, loopback TCP): the inbound
// queue, open/close/toggle, floods held back by the bound, stops while a reader waits, server
// clients that come and go, and a window thread against a stream of clients.
#include "terminal/link_session.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "channels/net_test_support.h"
#include "channels/pty_pair.h"
#include "terminal/session_window.h"

namespace {

using kem::terminal::InboundQueue;
using namespace kem::testing;
using Sent = LinkSession::SendResult;

std::u16string Loopback(uint16_t port) {
    const std::string text = "127.0.0.1:" + std::to_string(port);
    return std::u16string(text.begin(), text.end());
}

Sent Send(LinkSession& session, const std::string& text) {
    return session.Send(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

// type, state, can loop-send, in one comparable value.
std::tuple<LinkType, LinkState, bool> Looks(LinkSession& session) {
    return {session.type(), session.State(), session.CanLoopSend()};
}

// An open server session on a port the OS picked.
uint16_t OpenServer(LinkSession& session) {
    const OpenOutcome outcome = session.Open(LinkType::kTcpServer, u"SERVER", u"0");
    EXPECT_EQ(outcome.opened, LinkType::kTcpServer);
    EXPECT_TRUE(outcome.message.empty());
    return session.net().m_nListenPort;
}

// A client connected to the server session and adopted; its socket.
TestSocket ServeOneClient(SessionWindow& window, uint16_t port) {
    TestSocket peer = ConnectTo(port);
    EXPECT_TRUE(window.sink.WaitFor(Posted::kAccepted, 3000).has_value());
    EXPECT_TRUE(window.session.AdoptAcceptedClient());
    return peer;
}

TestSocket OpenClient(LinkSession& session, const TestListener& listener) {
    EXPECT_EQ(session.Open(LinkType::kTcpClient, u"TCP/IP", Loopback(listener.port())).opened,
              LinkType::kTcpClient);
    return listener.Accept();
}

TEST(InboundQueue, AnnouncesOncePerBatchRefusesOverTheBoundAndTakesAtLeastOneBlock) {
    std::atomic<int> announced{0};
    InboundQueue queue([&] { ++announced; }, 500);
    const std::vector<uint8_t> big(300, 7);
    const uint8_t small[] = {1, 2};
    EXPECT_TRUE(queue.TryPush(small, 2));
    EXPECT_TRUE(queue.TryPush(big.data(), big.size()));
    EXPECT_TRUE(queue.TryPush(big.data(), big.size()));  // 602: over the bound now
    EXPECT_FALSE(queue.TryPush(small, 2));
    EXPECT_EQ(std::tuple(announced.load(), queue.bytes(), queue.held_back_count()),
              std::tuple(1, size_t{602}, uint64_t{1}));
    // The oldest first; a block over the limit is still taken; what stays is announced again.
    const auto first = queue.Take(1);
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(first[0], std::vector<uint8_t>({1, 2}));
    EXPECT_EQ(queue.Take(100).size(), 1u);
    EXPECT_EQ(announced, 3);
    EXPECT_TRUE(queue.TryPush(small, 2));
    EXPECT_EQ(queue.Take(1000).size(), 2u);
    EXPECT_EQ(announced, 3);  // nothing left behind
    EXPECT_TRUE(queue.Take(1000).empty());
}

// ---- open and close ----------------------------------------------------------------------

TEST(LinkSessionOpen, FailedOpensGiveTheNoticeAndStayClosed) {
    PtyPair pty;
    TestListener taken;
    const std::u16string taken_port = Loopback(taken.port()).substr(10);  // the number alone
    const struct {
        LinkType type;
        std::u16string port, param, message;
    } rows[] = {
        {LinkType::kSerial, pty.path16(), u"9600,N,9,1", u"不正确的串口参数"},
        {LinkType::kSerial, u"/tmp/kem-no-such-device-4711", u"9600,N,8,1", u"打开串口失败(0)"},
        {LinkType::kTcpServer, u"SERVER", taken_port, u"监听端口" + taken_port + u"失败(-202)"},
        {LinkType::kTcpClient, u"TCP/IP", Loopback(UnusedPort()),
         ConnectFailedText(kNetAllAttemptsFailed)},
        {LinkType::kTcpClient, u"TCP/IP", u"127.0.0.1", ConnectFailedText(kNetBadPort)},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.port.begin(), row.port.end()));
        SessionWindow window;
        const auto start = Clock::now();
        const OpenOutcome outcome = window.session.Open(row.type, row.port, row.param);
        EXPECT_LT(MsSince(start), 10000);
        EXPECT_EQ(outcome.opened, LinkType::kNone);
        EXPECT_EQ(outcome.message, row.message);
        EXPECT_EQ(window.session.State(), LinkState::kClosed);
        EXPECT_EQ(window.session.serial().IsOpen(), 0);
    }
}

TEST(LinkSessionOpen, ServerToggleDropsTheClientThenStopsThenListensAgain) {
    SessionWindow window;
    LinkSession& session = window.session;
    const uint16_t port = OpenServer(session);
    ASSERT_NE(port, 0);
    EXPECT_EQ(Looks(session), std::tuple(LinkType::kTcpServer, LinkState::kListening, false));
    EXPECT_EQ(Send(session, "x"), Sent::kNotOpen);
    TestSocket peer = ServeOneClient(window, port);
    EXPECT_EQ(Looks(session), std::tuple(LinkType::kTcpServer, LinkState::kServingClient, true));

    EXPECT_EQ(session.Toggle(LinkType::kTcpServer, u"SERVER", u"0").action,
              ToggleAction::kDroppedClient);
    EXPECT_EQ(session.State(), LinkState::kListening);
    EXPECT_EQ(session.current_client(), nullptr);
    EXPECT_TRUE(peer.SeesClose());
    // The dropped client's own close event is stale.
    const auto closed = window.sink.WaitFor(Posted::kClosed, 3000);
    ASSERT_TRUE(closed.has_value());
    EXPECT_EQ(session.OnLinkClosed(closed->code, closed->id), ClosedAction::kIgnored);
    EXPECT_EQ(session.State(), LinkState::kListening);

    EXPECT_EQ(session.Toggle(LinkType::kTcpServer, u"SERVER", u"0").action, ToggleAction::kClosed);
    EXPECT_EQ(session.State(), LinkState::kClosed);
    EXPECT_FALSE(ConnectTo(port).valid());  // nobody listens any more
    const ToggleOutcome toggled = session.Toggle(LinkType::kTcpServer, u"SERVER", u"0");
    EXPECT_EQ(std::tuple(toggled.action, toggled.open.opened, session.State()),
              std::tuple(ToggleAction::kOpened, LinkType::kTcpServer, LinkState::kListening));
}

TEST(LinkSessionOpen, ApplyComParamReopensTheOpenPortAndOnlyStoresWhenClosed) {
    SessionWindow window;
    LinkSession& session = window.session;
    PtyPair pty;
    ASSERT_EQ(session.Open(LinkType::kSerial, pty.path16(), u"9600,N,8,1").opened,
              LinkType::kSerial);
    const uint64_t first_id = session.current_link_id();
    session.com_param().nParity = 3;  // mark
    const ApplyParamOutcome applied = session.ApplyComParam();
    EXPECT_EQ(std::tuple(applied.reopened, applied.failed, applied.code),
              std::tuple(true, false, CKemPortCom::kOpened));
    EXPECT_EQ(session.State(), LinkState::kOpen);
    EXPECT_EQ(session.serial().param().nParity, 3);
    EXPECT_NE(session.current_link_id(), first_id);

    // Parameters the line refuses: the reopen fails and the link ends up closed with the notice.
    session.com_param().nByteSize = 9;
    const ApplyParamOutcome refused = session.ApplyComParam();
    EXPECT_EQ(std::tuple(refused.reopened, refused.failed, refused.code),
              std::tuple(true, true, CKemPortCom::kApplyStateFailed));
    EXPECT_EQ(refused.message, SerialOpenFailedText(CKemPortCom::kApplyStateFailed));
    EXPECT_EQ(Looks(session), std::tuple(LinkType::kNone, LinkState::kClosed, false));

    session.com_param().nByteSize = 8;
    session.com_param().dwBaudRate = 4800;
    const ApplyParamOutcome stored = session.ApplyComParam();
    EXPECT_EQ(std::tuple(stored.reopened, stored.failed), std::tuple(false, false));
    EXPECT_EQ(session.serial().param().dwBaudRate, 4800u);
    EXPECT_EQ(session.serial().IsOpen(), 0);
    EXPECT_EQ(session.Close(), LinkType::kNone);
    EXPECT_EQ(Send(session, "x"), Sent::kNotOpen);
}

// ---- received data -------------------------------------------------------------------------

// Waits until `value` stops changing for `quiet_ms`; false when it still moved at `timeout_ms`.
bool SettlesWithin(const std::atomic<size_t>& value, int quiet_ms, int timeout_ms) {
    const auto start = Clock::now();
    size_t last = value;
    auto since = Clock::now();
    while (MsSince(start) < timeout_ms) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (value != last) {
            last = value;
            since = Clock::now();
        } else if (MsSince(since) >= quiet_ms) {
            return true;
        }
    }
    return false;
}

// The peer floods the open link 64 KiB at a time through `send` while nobody takes: the queue
// goes past its bound by at most `slack`, the peer is held back, one announcement covers it
// all; then every byte arrives in order.
void ExpectFloodHeldBackAndWhole(SessionWindow& window, const std::string& data, size_t slack,
                                 const std::function<bool(const char*, size_t)>& send) {
    const InboundQueue& queue = window.session.inbound();
    std::atomic<size_t> sent{0};
    std::thread sender([&] {
        const size_t piece = 64 * 1024;
        for (size_t at = 0; at < data.size(); at += piece) {
            const size_t size = std::min(piece, data.size() - at);
            if (!send(data.data() + at, size)) {
                return;
            }
            sent += size;
        }
    });
    EXPECT_TRUE(WaitUntil([&] { return queue.bytes() > queue.bound(); }, 30000));
    EXPECT_TRUE(SettlesWithin(sent, 400, 20000));
    EXPECT_LT(sent.load(), data.size());
    EXPECT_GT(queue.held_back_count(), 0u);
    EXPECT_LE(queue.bytes(), queue.bound() + slack);
    EXPECT_EQ(window.sink.count(Posted::kTraffic), 1);

    window.PumpUntil([&] { return window.received.size() >= data.size(); }, 120000);
    sender.join();
    EXPECT_EQ(sent.load(), data.size());
    ASSERT_EQ(window.received.size(), data.size());
    EXPECT_TRUE(window.received == data);
}

TEST(LinkSessionTraffic, SerialFloodIsThrottledAndArrivesWhole) {
    SessionWindow window;
    PtyPair pty;
    ASSERT_EQ(window.session.Open(LinkType::kSerial, pty.path16(), u"115200,N,8,1").opened,
              LinkType::kSerial);
    const size_t bound = window.session.inbound().bound();
    ExpectFloodHeldBackAndWhole(
        window, Pattern(bound + bound / 2, 3), 4096,
        [&](const char* data, size_t size) { return pty.WriteMaster(data, size, 60000) == size; });
}

TEST(LinkSessionTraffic, TcpFloodThrottlesThePeerArrivesWholeAndCloseIsQuiet) {
    SessionWindow window;
    TestListener listener;
    TestSocket peer = OpenClient(window.session, listener);
    ASSERT_TRUE(peer.valid());
    EXPECT_EQ(Looks(window.session), std::tuple(LinkType::kTcpClient, LinkState::kOpen, true));
    EXPECT_EQ(window.session.net().m_dwSendTimeout, LinkSession::kSendTimeoutMs);
    // More than the queue and every kernel buffer on the way can hold; over the bound by at
    // most the one block taken in before the reader waited.
    ExpectFloodHeldBackAndWhole(
        window, Pattern(32u * 1024 * 1024, 11),
        static_cast<size_t>(CKemNetConnect::kInitialRecvBufSize),
        [&](const char* data, size_t size) { return peer.SendAll(std::string(data, size)); });
    EXPECT_EQ(Send(window.session, "ping\r\n"), Sent::kSent);
    EXPECT_EQ(peer.Receive(6), "ping\r\n");
    EXPECT_EQ(window.session.Close(), LinkType::kTcpClient);
    EXPECT_TRUE(peer.SeesClose());
    // Closed by us: no close event reaches the window.
    EXPECT_FALSE(window.sink.WaitFor(Posted::kClosed, 200).has_value());
}

TEST(LinkSessionTraffic, StoppingWhileAReceiveCallbackWaitsReturnsPromptly) {
    for (const bool server : {false, true}) {
        SCOPED_TRACE(server ? "server session closed" : "client session destroyed");
        auto window = std::make_unique<SessionWindow>(1024);
        LinkSession& session = window->session;
        TestListener listener;
        TestSocket peer =
            server ? ServeOneClient(*window, OpenServer(session)) : OpenClient(session, listener);
        ASSERT_TRUE(peer.SendAll(std::string(4096, 'a')));
        ASSERT_TRUE(WaitUntil([&] { return session.inbound().bytes() > 1024; }, 3000));
        ASSERT_TRUE(peer.SendAll(std::string(4096, 'b')));
        ASSERT_TRUE(WaitUntil([&] { return session.inbound().held_back_count() > 0; }, 3000));
        const auto start = Clock::now();
        if (server) {
            EXPECT_EQ(session.Close(), LinkType::kTcpServer);
        } else {
            window.reset();
        }
        EXPECT_LT(MsSince(start), 2000);
        EXPECT_TRUE(peer.SeesClose());
        if (server) {  // blocks received before the close may still be taken
            EXPECT_GE(session.TakeInbound(1u << 20).size(), 1u);
        }
    }
}

// ---- server clients that come and go -------------------------------------------------------

TEST(LinkSessionServer, SecondClientReplacesTheFirstAndLeavingKeepsListening) {
    SessionWindow window;
    LinkSession& session = window.session;
    const uint16_t port = OpenServer(session);
    TestSocket first = ServeOneClient(window, port);
    const uint64_t first_id = session.current_link_id();
    EXPECT_NE(first_id, 0u);
    TestSocket second = ServeOneClient(window, port);
    const uint64_t second_id = session.current_link_id();
    EXPECT_NE(second_id, first_id);
    EXPECT_TRUE(first.SeesClose());
    // A late close of the first client changes nothing.
    EXPECT_EQ(session.OnLinkClosed(0, first_id), ClosedAction::kIgnored);
    EXPECT_EQ(std::tuple(session.State(), session.current_link_id()),
              std::tuple(LinkState::kServingClient, second_id));
    EXPECT_EQ(Send(session, "to the second"), Sent::kSent);
    EXPECT_EQ(second.Receive(13), "to the second");
    EXPECT_FALSE(session.AdoptAcceptedClient());  // nothing else is waiting

    second.Close();
    Posted closed;
    ASSERT_TRUE(WaitUntil([&] {
        const auto event = window.sink.WaitFor(Posted::kClosed, 10);
        closed = event.value_or(Posted{});
        return event && event->id == second_id;
    }));
    EXPECT_EQ(session.OnLinkClosed(closed.code, closed.id), ClosedAction::kClientLeft);
    EXPECT_EQ(Looks(session), std::tuple(LinkType::kTcpServer, LinkState::kListening, false));
    EXPECT_EQ(session.current_client(), nullptr);
    EXPECT_TRUE(session.LostLinkMessage().empty());
    TestSocket third = ServeOneClient(window, port);  // still listening: the next is served
    EXPECT_EQ(session.State(), LinkState::kServingClient);
}

TEST(LinkSessionStress, WindowSendsWhileTwoHundredClientsComeAndGo) {
    SessionWindow window;  // from here on used by the window thread only
    const uint16_t port = OpenServer(window.session);
    std::atomic<bool> clients_done{false};
    int sent_ok = 0;
    bool ended_listening = false;
    std::thread window_thread([&] {
        LinkSession& session = window.session;
        while (!clients_done) {
            if (const auto event = window.sink.Next(1)) {
                window.Handle(*event);
            }
            if (session.CanLoopSend() && Send(session, "loop line\r\n") == Sent::kSent) {
                ++sent_ok;
            }
        }
        // The last close events arrive; then the server is back to listening.
        ended_listening =
            window.PumpUntil([&] { return session.State() == LinkState::kListening; }, 5000);
    });
    int connected = 0;
    int heard_window = 0;
    for (int i = 0; i < 200; ++i) {
        // The server's backlog is 1: a client that finds the accept queue full has its SYN
        // dropped and retries a second later. Keep at most one client ahead of the listener.
        WaitUntil([&] { return window.sink.count(Posted::kAccepted) >= i - 1; }, 3000);
        TestSocket client = ConnectTo(port);
        if (!client.valid()) {
            continue;
        }
        ++connected;
        client.SendAll("client " + std::to_string(i) + "\n");
        if (i % 10 == 0 && !client.Receive(8, 500).empty()) {
            ++heard_window;
        }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the last events on their way
    clients_done = true;
    window_thread.join();
    EXPECT_EQ(connected, 200);
    EXPECT_GT(window.adopted, 0);
    EXPECT_GT(window.closed[ClosedAction::kClientLeft], 0);
    EXPECT_GT(window.received.size(), 0u);
    EXPECT_GT(sent_ok, 0);
    EXPECT_GT(heard_window, 0);
    EXPECT_TRUE(ended_listening);
}

}  // namespace
