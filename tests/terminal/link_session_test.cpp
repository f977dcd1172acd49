#include "terminal/link_session.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <future>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "channels/net_test_support.h"
#include "terminal/serial_param_text.h"
#include "terminal/session_window.h"

namespace {

using kem::terminal::InboundQueue;
using kem::testing::ConnectTo;
using kem::testing::MsSince;
using kem::testing::Posted;
using kem::testing::QueueSink;
using kem::testing::TestListener;
using kem::testing::TestSocket;
using kem::testing::WaitUntil;
using Clock = std::chrono::steady_clock;

// ---- test doubles ------------------------------------------------------------------------

// A pseudo-terminal standing in for the serial device: the session opens the slave by path,
// the test plays the device on the master.
class Pty {
public:
    Pty() {
        char name[128] = {};
        if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0) {
            ADD_FAILURE() << "openpty failed";
            return;
        }
        path_ = name;
        fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
        fcntl(master_, F_SETFD, FD_CLOEXEC);
        fcntl(slave_, F_SETFD, FD_CLOEXEC);
    }
    ~Pty() {
        CloseMaster();
        if (slave_ >= 0) {
            close(slave_);
        }
    }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    std::u16string path16() const { return std::u16string(path_.begin(), path_.end()); }
    void CloseMaster() {
        if (master_ >= 0) {
            close(master_);
            master_ = -1;
        }
    }
    // Writes all of `data`, waiting for room, until `deadline`; counts progress in `written`.
    void Write(const std::string& data, std::atomic<size_t>& written, Clock::time_point deadline,
               const std::atomic<bool>* stop = nullptr) {
        while (written < data.size() && Clock::now() < deadline) {
            if (stop != nullptr && *stop) {
                return;
            }
            const ssize_t put = write(master_, data.data() + written, data.size() - written);
            if (put > 0) {
                written += static_cast<size_t>(put);
                continue;
            }
            if (put < 0 && errno != EAGAIN && errno != EINTR) {
                return;
            }
            pollfd p{master_, POLLOUT, 0};
            poll(&p, 1, 20);
        }
    }
    std::string Read(size_t want, int timeout_ms) {
        std::string out;
        const auto start = Clock::now();
        char buffer[4096];
        while (out.size() < want && MsSince(start) < timeout_ms) {
            const ssize_t n = read(master_, buffer, sizeof buffer);
            if (n > 0) {
                out.append(buffer, static_cast<size_t>(n));
                continue;
            }
            pollfd p{master_, POLLIN, 0};
            poll(&p, 1, 20);
        }
        return out;
    }

private:
    int master_ = -1;
    int slave_ = -1;
    std::string path_;
};

std::u16string U16(const std::string& text) {
    return std::u16string(text.begin(), text.end());
}

std::u16string PortText(uint16_t port) {
    return U16(std::to_string(port));
}

std::u16string LoopbackTarget(uint16_t port) {
    return u"127.0.0.1:" + PortText(port);
}

// Takes inbound blocks as a window would until `want` bytes came or `timeout_ms` passed.
std::string TakeAll(LinkSession& session, size_t want, int timeout_ms) {
    std::string out;
    const auto start = Clock::now();
    while (out.size() < want && MsSince(start) < timeout_ms) {
        const auto blocks = session.TakeInbound(256 * 1024);
        if (blocks.empty()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            continue;
        }
        for (const auto& block : blocks) {
            out.append(block.begin(), block.end());
        }
    }
    return out;
}

// Waits until `value` stops changing for `quiet_ms`; false when it still moved at `timeout_ms`.
bool SettlesWithin(const std::atomic<size_t>& value, int quiet_ms, int timeout_ms) {
    const auto start = Clock::now();
    size_t last = value;
    auto since = Clock::now();
    while (MsSince(start) < timeout_ms) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        const size_t now = value;
        if (now != last) {
            last = now;
            since = Clock::now();
        } else if (MsSince(since) >= quiet_ms) {
            return true;
        }
    }
    return false;
}

// An open server session on a port the OS picked.
uint16_t OpenServer(LinkSession& session) {
    const OpenOutcome outcome = session.Open(LinkType::kTcpServer, u"SERVER", u"0");
    EXPECT_EQ(outcome.opened, LinkType::kTcpServer);
    EXPECT_TRUE(outcome.message.empty());
    return session.net().m_nListenPort;
}

// ---- lost-link notices -------------------------------------------------------------------

TEST(LinkLostText, Texts) {
    EXPECT_EQ(kem::terminal::SerialLostText(u"/dev/ttyUSB0"), u"串口已断开:/dev/ttyUSB0");
    EXPECT_EQ(kem::terminal::ServerClosedText(0), u"与服务器的连接已断开(0)");
    EXPECT_EQ(kem::terminal::ServerClosedText(-104), u"与服务器的连接已断开(-104)");
}

// ---- inbound queue -----------------------------------------------------------------------

TEST(InboundQueue, OneAnnouncementPerBatchAndOldestFirst) {
    std::atomic<int> announced{0};
    InboundQueue queue([&] { ++announced; }, 1000);
    const uint8_t a[] = {1, 2, 3};
    const uint8_t b[] = {4, 5};
    EXPECT_TRUE(queue.TryPush(a, 3));
    EXPECT_TRUE(queue.TryPush(b, 2));
    EXPECT_EQ(announced, 1);
    EXPECT_EQ(queue.bytes(), 5u);
    const auto taken = queue.Take(100);
    ASSERT_EQ(taken.size(), 2u);
    EXPECT_EQ(taken[0], std::vector<uint8_t>({1, 2, 3}));
    EXPECT_EQ(taken[1], std::vector<uint8_t>({4, 5}));
    EXPECT_EQ(announced, 1);  // nothing left behind
    EXPECT_TRUE(queue.TryPush(b, 2));
    EXPECT_EQ(announced, 2);  // empty again, so a new batch
}

TEST(InboundQueue, TakeStopsAtTheLimitButAlwaysTakesOneAndReannounces) {
    std::atomic<int> announced{0};
    InboundQueue queue([&] { ++announced; }, 1000);
    const std::vector<uint8_t> big(300, 7);
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(queue.TryPush(big.data(), big.size()));
    }
    EXPECT_EQ(announced, 1);
    EXPECT_EQ(queue.Take(100).size(), 1u);  // one block even though it is larger
    EXPECT_EQ(announced, 2);                // two left behind: announced again
    EXPECT_EQ(queue.Take(600).size(), 2u);
    EXPECT_EQ(announced, 2);
    EXPECT_TRUE(queue.Take(600).empty());
}

TEST(InboundQueue, OverTheBoundRefusesUntilTaken) {
    InboundQueue queue([] {}, 100);
    const std::vector<uint8_t> block(60, 1);
    EXPECT_TRUE(queue.TryPush(block.data(), block.size()));
    EXPECT_TRUE(queue.TryPush(block.data(), block.size()));  // 120: over the bound now
    EXPECT_FALSE(queue.TryPush(block.data(), block.size()));
    EXPECT_EQ(queue.bytes(), 120u);
    EXPECT_EQ(queue.held_back_count(), 1u);
    queue.Take(60);
    EXPECT_TRUE(queue.TryPush(block.data(), block.size()));
}

TEST(InboundQueue, WaitingPushResumesWhenRoomIsMadeOrWhenAborted) {
    InboundQueue queue([] {}, 10);
    const std::vector<uint8_t> block(20, 3);
    kem::platform::Event abort(kem::platform::Event::Mode::kManualReset);
    queue.PushWaiting(block.data(), block.size(), abort);  // within the bound: at once
    std::atomic<bool> done{false};
    std::thread writer([&] {
        queue.PushWaiting(block.data(), block.size(), abort);
        done = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    EXPECT_FALSE(done);
    EXPECT_EQ(queue.blocks(), 1u);
    queue.Take(1);
    EXPECT_TRUE(WaitUntil([&] { return done.load(); }, 2000));
    writer.join();
    EXPECT_EQ(queue.blocks(), 1u);

    done = false;
    std::thread aborted([&] {
        queue.PushWaiting(block.data(), block.size(), abort);
        done = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(done);
    abort.Set();
    EXPECT_TRUE(WaitUntil([&] { return done.load(); }, 2000));
    aborted.join();
    EXPECT_EQ(queue.blocks(), 2u);  // received bytes are kept even when aborted
}

// ---- open and close ----------------------------------------------------------------------

TEST(LinkSessionOpen, SerialOpensAndClosesWithStatesAndCaptions) {
    QueueSink sink;
    Pty pty;
    LinkSession session(sink);
    EXPECT_EQ(session.State(), LinkState::kClosed);
    EXPECT_FALSE(session.IsOpen());
    const OpenOutcome outcome = session.Open(LinkType::kSerial, pty.path16(), u"115200,E,7,2");
    EXPECT_EQ(outcome.opened, LinkType::kSerial);
    EXPECT_TRUE(outcome.message.empty());
    EXPECT_EQ(session.type(), LinkType::kSerial);
    EXPECT_EQ(session.State(), LinkState::kOpen);
    EXPECT_EQ(std::u16string(OpenButtonCaption(session.State())), u"关闭");
    EXPECT_TRUE(session.CanLoopSend());
    EXPECT_EQ(session.com_param().dwBaudRate, 115200u);
    EXPECT_EQ(session.com_param().nParity, 2);
    EXPECT_EQ(session.serial().param().nByteSize, 7);

    const uint8_t hello[] = {'h', 'i', 0x0D};
    EXPECT_EQ(session.Send(hello, sizeof hello), LinkSession::SendResult::kSent);
    EXPECT_EQ(pty.Read(3, 3000), std::string("hi\r"));

    EXPECT_EQ(session.Close(), LinkType::kSerial);
    EXPECT_EQ(session.State(), LinkState::kClosed);
    EXPECT_EQ(std::u16string(OpenButtonCaption(session.State())), u"打开");
    EXPECT_EQ(session.serial().IsOpen(), 0);
    EXPECT_EQ(session.Close(), LinkType::kNone);
    EXPECT_EQ(session.Send(hello, sizeof hello), LinkSession::SendResult::kNotOpen);
}

TEST(LinkSessionOpen, BadParameterTextIsRefusedWithTheNotice) {
    QueueSink sink;
    Pty pty;
    LinkSession session(sink);
    const OpenOutcome outcome = session.Open(LinkType::kSerial, pty.path16(), u"9600,N,9,1");
    EXPECT_EQ(outcome.opened, LinkType::kNone);
    EXPECT_EQ(outcome.message, kBadComParamMessage);
    EXPECT_EQ(session.State(), LinkState::kClosed);
    EXPECT_EQ(session.serial().IsOpen(), 0);
}

TEST(LinkSessionOpen, MissingDeviceGivesTheCode) {
    QueueSink sink;
    LinkSession session(sink);
    const OpenOutcome outcome =
        session.Open(LinkType::kSerial, u"/tmp/kem-no-such-device-4711", u"9600,N,8,1");
    EXPECT_EQ(outcome.opened, LinkType::kNone);
    EXPECT_EQ(outcome.message, SerialOpenFailedText(CKemPortCom::kOpenDeviceFailed));
    EXPECT_EQ(outcome.message, u"打开串口失败(0)");
    EXPECT_EQ(session.State(), LinkState::kClosed);
}

TEST(LinkSessionOpen, ServerListensAndStops) {
    QueueSink sink;
    LinkSession session(sink);
    const uint16_t port = OpenServer(session);
    ASSERT_NE(port, 0);
    EXPECT_EQ(session.State(), LinkState::kListening);
    EXPECT_EQ(std::u16string(OpenButtonCaption(session.State())), u"停止");
    EXPECT_TRUE(session.IsOpen());
    EXPECT_FALSE(session.CanLoopSend());
    const uint8_t byte = 'x';
    EXPECT_EQ(session.Send(&byte, 1), LinkSession::SendResult::kNotOpen);
    EXPECT_EQ(session.Close(), LinkType::kTcpServer);
    EXPECT_EQ(session.State(), LinkState::kClosed);
    EXPECT_FALSE(ConnectTo(port).valid());  // nobody listens any more
}

TEST(LinkSessionOpen, ListenOnAPortInUseGivesTheNotice) {
    QueueSink sink;
    TestListener taken;
    LinkSession session(sink);
    const std::u16string text = PortText(taken.port());
    const OpenOutcome outcome = session.Open(LinkType::kTcpServer, u"SERVER", text);
    EXPECT_EQ(outcome.opened, LinkType::kNone);
    EXPECT_EQ(outcome.message, ListenFailedText(text, kNetBindFailed));
    EXPECT_EQ(outcome.message, u"监听端口" + text + u"失败(-202)");
    EXPECT_EQ(session.State(), LinkState::kClosed);
}

TEST(LinkSessionOpen, ClientToARefusedPortGivesTheNotice) {
    QueueSink sink;
    LinkSession session(sink);
    const uint16_t port = kem::testing::UnusedPort();
    const auto start = Clock::now();
    const OpenOutcome outcome = session.Open(LinkType::kTcpClient, u"TCP/IP", LoopbackTarget(port));
    EXPECT_LT(MsSince(start), 10000);
    EXPECT_EQ(outcome.opened, LinkType::kNone);
    EXPECT_EQ(outcome.message, ConnectFailedText(kNetAllAttemptsFailed));
    EXPECT_EQ(session.State(), LinkState::kClosed);
    // No port at all is refused by the connection's own check.
    EXPECT_EQ(session.Open(LinkType::kTcpClient, u"TCP/IP", u"127.0.0.1").message,
              ConnectFailedText(kNetBadPort));
}

TEST(LinkSessionOpen, ClientConnectsSendsAndCloses) {
    QueueSink sink;
    TestListener listener;
    LinkSession session(sink);
    const OpenOutcome outcome =
        session.Open(LinkType::kTcpClient, u"TCP/IP", LoopbackTarget(listener.port()));
    ASSERT_EQ(outcome.opened, LinkType::kTcpClient);
    TestSocket peer = listener.Accept();
    ASSERT_TRUE(peer.valid());
    EXPECT_EQ(session.State(), LinkState::kOpen);
    EXPECT_TRUE(session.CanLoopSend());
    EXPECT_EQ(session.net().m_dwSendTimeout, LinkSession::kSendTimeoutMs);

    const std::string text = "ping\r\n";
    EXPECT_EQ(session.Send(reinterpret_cast<const uint8_t*>(text.data()), text.size()),
              LinkSession::SendResult::kSent);
    EXPECT_EQ(peer.Receive(text.size()), text);
    ASSERT_TRUE(peer.SendAll("pong"));
    ASSERT_TRUE(sink.WaitFor(Posted::kTraffic, 3000).has_value());
    EXPECT_EQ(TakeAll(session, 4, 3000), "pong");

    EXPECT_EQ(session.Close(), LinkType::kTcpClient);
    EXPECT_EQ(session.State(), LinkState::kClosed);
    EXPECT_TRUE(peer.SeesClose());
    // Closed by us: no close event reaches the window.
    EXPECT_FALSE(sink.WaitFor(Posted::kClosed, 200).has_value());
}

TEST(LinkSessionOpen, ToggleDropsTheClientFirstThenStops) {
    QueueSink sink;
    LinkSession session(sink);
    const uint16_t port = OpenServer(session);
    TestSocket peer = ConnectTo(port);
    ASSERT_TRUE(peer.valid());
    ASSERT_TRUE(sink.WaitFor(Posted::kAccepted, 3000).has_value());
    ASSERT_TRUE(session.AdoptAcceptedClient());
    EXPECT_EQ(session.State(), LinkState::kServingClient);
    EXPECT_EQ(std::u16string(OpenButtonCaption(session.State())), u"断开");

    ToggleOutcome toggled = session.Toggle(LinkType::kTcpServer, u"SERVER", u"0");
    EXPECT_EQ(toggled.action, ToggleAction::kDroppedClient);
    EXPECT_EQ(session.State(), LinkState::kListening);
    EXPECT_EQ(session.current_client(), nullptr);
    EXPECT_TRUE(peer.SeesClose());
    // The dropped client's own close event is stale.
    const auto closed = sink.WaitFor(Posted::kClosed, 3000);
    ASSERT_TRUE(closed.has_value());
    EXPECT_EQ(session.OnLinkClosed(closed->code, closed->id), ClosedAction::kIgnored);
    EXPECT_EQ(session.State(), LinkState::kListening);

    toggled = session.Toggle(LinkType::kTcpServer, u"SERVER", u"0");
    EXPECT_EQ(toggled.action, ToggleAction::kClosed);
    EXPECT_EQ(session.State(), LinkState::kClosed);
    toggled = session.Toggle(LinkType::kTcpServer, u"SERVER", u"0");
    EXPECT_EQ(toggled.action, ToggleAction::kOpened);
    EXPECT_EQ(toggled.open.opened, LinkType::kTcpServer);
    EXPECT_EQ(session.State(), LinkState::kListening);
}

TEST(LinkSessionOpen, ApplyComParamReopensTheOpenPort) {
    QueueSink sink;
    Pty pty;
    LinkSession session(sink);
    ASSERT_EQ(session.Open(LinkType::kSerial, pty.path16(), u"9600,N,8,1").opened,
              LinkType::kSerial);
    const uint64_t first_id = session.current_link_id();
    session.com_param().nParity = 3;  // mark
    const ApplyParamOutcome applied = session.ApplyComParam();
    EXPECT_TRUE(applied.reopened);
    EXPECT_FALSE(applied.failed);
    EXPECT_EQ(applied.code, CKemPortCom::kOpened);
    EXPECT_EQ(session.State(), LinkState::kOpen);
    EXPECT_EQ(session.serial().param().nParity, 3);
    EXPECT_NE(session.current_link_id(), first_id);

    // Parameters the line refuses: the reopen fails and the link ends up closed with the notice.
    session.com_param().nByteSize = 9;
    const ApplyParamOutcome refused = session.ApplyComParam();
    EXPECT_TRUE(refused.reopened);
    EXPECT_TRUE(refused.failed);
    EXPECT_EQ(refused.code, CKemPortCom::kApplyStateFailed);
    EXPECT_EQ(refused.message, SerialOpenFailedText(CKemPortCom::kApplyStateFailed));
    EXPECT_EQ(session.type(), LinkType::kNone);
    EXPECT_EQ(session.State(), LinkState::kClosed);

    // Closed: the parameters are only stored.
    session.com_param().nByteSize = 8;
    session.com_param().dwBaudRate = 4800;
    const ApplyParamOutcome stored = session.ApplyComParam();
    EXPECT_FALSE(stored.reopened);
    EXPECT_FALSE(stored.failed);
    EXPECT_EQ(session.serial().param().dwBaudRate, 4800u);
    EXPECT_EQ(session.serial().IsOpen(), 0);
}

// ---- received data -------------------------------------------------------------------------

TEST(LinkSessionTraffic, SerialFloodIsThrottledAndArrivesWhole) {
    QueueSink sink;
    Pty pty;
    LinkSession session(sink);
    ASSERT_EQ(session.Open(LinkType::kSerial, pty.path16(), u"115200,N,8,1").opened,
              LinkType::kSerial);
    const size_t bound = session.inbound().bound();
    const std::string data = kem::testing::Pattern(bound + bound / 2, 3);
    std::atomic<size_t> written{0};
    std::thread device([&] { pty.Write(data, written, Clock::now() + std::chrono::seconds(60)); });

    // Nobody takes: the queue fills past its bound, and then the device is held back.
    ASSERT_TRUE(WaitUntil([&] { return session.inbound().bytes() > bound; }, 30000));
    EXPECT_TRUE(SettlesWithin(written, 300, 10000));
    EXPECT_LT(written.load(), data.size());
    EXPECT_GT(session.inbound().held_back_count(), 0u);
    EXPECT_LE(session.inbound().bytes(), bound + 4096);
    EXPECT_EQ(sink.count(Posted::kTraffic), 1);  // one announcement for the whole batch

    const std::string got = TakeAll(session, data.size(), 60000);
    device.join();
    EXPECT_EQ(written.load(), data.size());
    ASSERT_EQ(got.size(), data.size());
    EXPECT_TRUE(got == data);
}

TEST(LinkSessionTraffic, TcpFloodThrottlesThePeerAndArrivesWhole) {
    QueueSink sink;
    TestListener listener;
    LinkSession session(sink);
    ASSERT_EQ(session.Open(LinkType::kTcpClient, u"TCP/IP", LoopbackTarget(listener.port())).opened,
              LinkType::kTcpClient);
    TestSocket peer = listener.Accept();
    ASSERT_TRUE(peer.valid());
    const size_t bound = session.inbound().bound();
    // More than the queue and every kernel buffer on the way can hold.
    const std::string data = kem::testing::Pattern(32u * 1024 * 1024, 11);
    std::atomic<size_t> sent{0};
    std::thread sender([&] {
        const size_t piece = 64 * 1024;
        for (size_t at = 0; at < data.size(); at += piece) {
            if (!peer.SendAll(data.substr(at, piece))) {
                return;
            }
            sent += std::min(piece, data.size() - at);
        }
    });

    ASSERT_TRUE(WaitUntil([&] { return session.inbound().bytes() > bound; }, 30000));
    EXPECT_TRUE(SettlesWithin(sent, 400, 20000));
    EXPECT_LT(sent.load(), data.size());  // the peer is held back by TCP flow control
    EXPECT_GT(session.inbound().held_back_count(), 0u);
    // Over the bound by at most the one block that was taken in before the writer waited.
    EXPECT_LE(session.inbound().bytes(),
              bound + static_cast<size_t>(CKemNetConnect::kInitialRecvBufSize));

    const std::string got = TakeAll(session, data.size(), 120000);
    sender.join();
    EXPECT_EQ(sent.load(), data.size());
    ASSERT_EQ(got.size(), data.size());
    EXPECT_TRUE(got == data);
}

TEST(LinkSessionTraffic, DestructionWhileAReceiveCallbackWaitsReturnsPromptly) {
    QueueSink sink;
    TestListener listener;
    auto session = std::make_unique<LinkSession>(sink, 1024);
    ASSERT_EQ(
        session->Open(LinkType::kTcpClient, u"TCP/IP", LoopbackTarget(listener.port())).opened,
        LinkType::kTcpClient);
    TestSocket peer = listener.Accept();
    ASSERT_TRUE(peer.valid());
    ASSERT_TRUE(peer.SendAll(std::string(4096, 'a')));
    ASSERT_TRUE(WaitUntil([&] { return session->inbound().bytes() > 1024; }, 3000));
    ASSERT_TRUE(peer.SendAll(std::string(4096, 'b')));
    ASSERT_TRUE(WaitUntil([&] { return session->inbound().held_back_count() > 0; }, 3000));

    const auto start = Clock::now();
    session.reset();
    EXPECT_LT(MsSince(start), 2000);
    EXPECT_TRUE(peer.SeesClose());
}

TEST(LinkSessionTraffic, CloseWhileAServerClientWaitsReturnsPromptly) {
    QueueSink sink;
    LinkSession session(sink, 1024);
    const uint16_t port = OpenServer(session);
    TestSocket peer = ConnectTo(port);
    ASSERT_TRUE(sink.WaitFor(Posted::kAccepted, 3000).has_value());
    ASSERT_TRUE(session.AdoptAcceptedClient());
    ASSERT_TRUE(peer.SendAll(std::string(4096, 'y')));
    ASSERT_TRUE(WaitUntil([&] { return session.inbound().bytes() > 1024; }, 3000));
    ASSERT_TRUE(peer.SendAll(std::string(4096, 'z')));
    ASSERT_TRUE(WaitUntil([&] { return session.inbound().held_back_count() > 0; }, 3000));
    const auto start = Clock::now();
    EXPECT_EQ(session.Close(), LinkType::kTcpServer);
    EXPECT_LT(MsSince(start), 2000);
    // Blocks received before the close may still be taken.
    EXPECT_GE(session.TakeInbound(1u << 20).size(), 1u);
}

// ---- links that end on their own ---------------------------------------------------------

TEST(LinkSessionClosed, SerialDeviceGoneClosesTheLink) {
    QueueSink sink;
    Pty pty;
    LinkSession session(sink);
    const std::u16string path = pty.path16();
    ASSERT_EQ(session.Open(LinkType::kSerial, path, u"9600,N,8,1").opened, LinkType::kSerial);
    const uint64_t id = session.current_link_id();
    pty.CloseMaster();
    const auto closed = sink.WaitFor(Posted::kClosed, 3000);
    ASSERT_TRUE(closed.has_value());
    EXPECT_EQ(closed->id, id);
    EXPECT_EQ(closed->code, LinkSession::kSerialGoneCode);
    EXPECT_EQ(session.OnLinkClosed(closed->code, closed->id), ClosedAction::kLinkLost);
    EXPECT_EQ(session.type(), LinkType::kNone);
    EXPECT_EQ(session.State(), LinkState::kClosed);
    EXPECT_EQ(session.serial().device(), nullptr);
    EXPECT_EQ(session.LostLinkMessage(), u"串口已断开:" + path);
    // The same event once more is stale.
    EXPECT_EQ(session.OnLinkClosed(closed->code, closed->id), ClosedAction::kIgnored);
}

TEST(LinkSessionClosed, PeerClosingTheClientConnectionClosesTheLink) {
    QueueSink sink;
    TestListener listener;
    LinkSession session(sink);
    ASSERT_EQ(session.Open(LinkType::kTcpClient, u"TCP/IP", LoopbackTarget(listener.port())).opened,
              LinkType::kTcpClient);
    TestSocket peer = listener.Accept();
    ASSERT_TRUE(peer.SendAll("bye"));
    peer.Close();
    const auto closed = sink.WaitFor(Posted::kClosed, 3000);
    ASSERT_TRUE(closed.has_value());
    EXPECT_EQ(closed->id, session.current_link_id());
    EXPECT_EQ(session.OnLinkClosed(closed->code, closed->id), ClosedAction::kLinkLost);
    EXPECT_EQ(session.State(), LinkState::kClosed);
    EXPECT_EQ(session.LostLinkMessage(), kem::terminal::ServerClosedText(closed->code));
    EXPECT_EQ(TakeAll(session, 3, 2000), "bye");  // received before the end: still there
}

TEST(LinkSessionClosed, ServerClientLeavingKeepsListening) {
    QueueSink sink;
    LinkSession session(sink);
    const uint16_t port = OpenServer(session);
    TestSocket peer = ConnectTo(port);
    ASSERT_TRUE(sink.WaitFor(Posted::kAccepted, 3000).has_value());
    ASSERT_TRUE(session.AdoptAcceptedClient());
    const uint64_t id = session.current_link_id();
    EXPECT_NE(id, 0u);
    EXPECT_TRUE(session.CanLoopSend());
    peer.Close();
    const auto closed = sink.WaitFor(Posted::kClosed, 3000);
    ASSERT_TRUE(closed.has_value());
    EXPECT_EQ(closed->id, id);
    EXPECT_EQ(session.OnLinkClosed(closed->code, closed->id), ClosedAction::kClientLeft);
    EXPECT_EQ(session.State(), LinkState::kListening);
    EXPECT_EQ(session.current_client(), nullptr);
    EXPECT_TRUE(session.LostLinkMessage().empty());
    // Still listening: the next client is served.
    TestSocket next = ConnectTo(port);
    ASSERT_TRUE(sink.WaitFor(Posted::kAccepted, 3000).has_value());
    EXPECT_TRUE(session.AdoptAcceptedClient());
}

TEST(LinkSessionClosed, SecondClientReplacesTheFirst) {
    QueueSink sink;
    LinkSession session(sink);
    const uint16_t port = OpenServer(session);
    TestSocket first = ConnectTo(port);
    ASSERT_TRUE(sink.WaitFor(Posted::kAccepted, 3000).has_value());
    ASSERT_TRUE(session.AdoptAcceptedClient());
    const uint64_t first_id = session.current_link_id();

    TestSocket second = ConnectTo(port);
    ASSERT_TRUE(sink.WaitFor(Posted::kAccepted, 3000).has_value());
    ASSERT_TRUE(session.AdoptAcceptedClient());
    const uint64_t second_id = session.current_link_id();
    EXPECT_NE(second_id, first_id);
    EXPECT_TRUE(first.SeesClose());
    EXPECT_EQ(session.State(), LinkState::kServingClient);

    // A late close of the first client changes nothing.
    EXPECT_EQ(session.OnLinkClosed(0, first_id), ClosedAction::kIgnored);
    EXPECT_EQ(session.current_link_id(), second_id);
    const std::string text = "to the second";
    EXPECT_EQ(session.Send(reinterpret_cast<const uint8_t*>(text.data()), text.size()),
              LinkSession::SendResult::kSent);
    EXPECT_EQ(second.Receive(text.size()), text);
    // Nothing else is waiting.
    EXPECT_FALSE(session.AdoptAcceptedClient());
}

// ---- the window thread against a stream of clients ---------------------------------------

TEST(LinkSessionStress, WindowSendsWhileTwoHundredClientsComeAndGo) {
    QueueSink sink;
    std::promise<uint16_t> port_promise;
    std::atomic<bool> clients_done{false};
    std::atomic<int> adopted{0};
    std::atomic<int> left{0};
    std::atomic<int> sent_ok{0};
    std::atomic<size_t> taken{0};
    std::atomic<bool> ended_listening{false};

    // The "window": owns the session and handles every event on its own thread.
    std::thread window([&] {
        LinkSession session(sink);
        port_promise.set_value(OpenServer(session));
        const std::string line = "loop line\r\n";
        const auto* bytes = reinterpret_cast<const uint8_t*>(line.data());
        auto handle = [&](const Posted& event) {
            switch (event.kind) {
                case Posted::kTraffic:
                    for (const auto& block : session.TakeInbound(64 * 1024)) {
                        taken += block.size();
                    }
                    break;
                case Posted::kAccepted:
                    adopted += session.AdoptAcceptedClient() ? 1 : 0;
                    break;
                case Posted::kClosed:
                    left += session.OnLinkClosed(event.code, event.id) == ClosedAction::kClientLeft
                                ? 1
                                : 0;
                    break;
                case Posted::kReconnect:
                case Posted::kStatus:
                    break;  // automatic reconnection is off, no remote port here
            }
        };
        while (!clients_done) {
            if (const auto event = sink.Next(1)) {
                handle(*event);
            }
            if (session.CanLoopSend() &&
                session.Send(bytes, line.size()) == LinkSession::SendResult::kSent) {
                ++sent_ok;
            }
        }
        // Let the last close events arrive, then the server should be back to listening.
        const auto start = Clock::now();
        while (MsSince(start) < 5000 && session.State() != LinkState::kListening) {
            if (const auto event = sink.Next(10)) {
                handle(*event);
            }
        }
        ended_listening = session.State() == LinkState::kListening;
    });

    const uint16_t port = port_promise.get_future().get();
    int connected = 0;
    int heard_window = 0;
    for (int i = 0; i < 200; ++i) {
        // The server's backlog is 1: a client that finds the accept queue full has its SYN
        // dropped and retries a second later. Keep at most one client ahead of the listener.
        WaitUntil([&] { return sink.count(Posted::kAccepted) >= i - 1; }, 3000);
        TestSocket client = ConnectTo(port);
        if (!client.valid()) {
            continue;
        }
        ++connected;
        client.SendAll("client " + std::to_string(i) + "\n");
        if (i % 10 == 0) {
            // Read a little of what the window sends to its current client.
            if (!client.Receive(8, 500).empty()) {
                ++heard_window;
            }
        }
        client.Close();
    }
    // The last clients' events may still be on their way.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    clients_done = true;
    window.join();

    EXPECT_EQ(connected, 200);
    EXPECT_GT(adopted.load(), 0);
    EXPECT_GT(left.load(), 0);
    EXPECT_GT(taken.load(), 0u);
    EXPECT_GT(sent_ok.load(), 0);
    EXPECT_GT(heard_window, 0);
    EXPECT_TRUE(ended_listening.load());
}

}  // namespace
