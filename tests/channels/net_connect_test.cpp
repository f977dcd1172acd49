// CKemNetConnect as client and listener against real loopback peers: connecting, refusal,
// retries, time-outs, accepting, closing from either side and the lifetime of its threads.
#include "channels/net_connect.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "net_test_support.h"

namespace {

using kem::testing::ConnectTo;
using kem::testing::FullBacklog;
using kem::testing::MsSince;
using kem::testing::NetEvents;
using kem::testing::TestListener;
using kem::testing::TestSocket;
using kem::testing::TraceCapture;
using kem::testing::UnusedPort;
using kem::testing::WaitUntil;
using Clock = kem::testing::Clock;
namespace plat = kem::platform;

// Records every connect result, also those a waiting Connect keeps from the callback.
class ResultRecorder : public CKemNetConnect {
public:
    ~ResultRecorder() override { StopForDestruction(); }
    int32_t OnConnectResult(SocketHandle sock, uint32_t address, uint16_t port,
                            int32_t code) override {
        {
            std::lock_guard lock(mutex_);
            codes_.push_back(code);
        }
        return CKemNetConnect::OnConnectResult(sock, address, port, code);
    }
    std::vector<int32_t> codes() const {
        std::lock_guard lock(mutex_);
        return codes_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<int32_t> codes_;
};

TEST(NetConnectClient, ConnectsExchangesBytesAndConnectsAgainAfterTheEnd) {
    TestListener peer;
    NetEvents events;
    CKemNetConnect client;
    events.Install(client);
    for (int round = 0; round < 3; ++round) {
        const std::string tag = std::to_string(round);
        ASSERT_EQ(client.Connect(plat::LoopbackAddress(), peer.port(), true, 2000, 0, 0), kNetOk);
        EXPECT_TRUE(client.m_bConnected);
        EXPECT_EQ(client.m_dwLocalAddr.load(), plat::LoopbackAddress());
        TestSocket far = peer.Accept();
        ASSERT_TRUE(far.valid());
        ASSERT_EQ(client.Send(("ping" + tag).c_str(), 5, 32768), kNetOk);
        EXPECT_EQ(far.Receive(5), "ping" + tag);
        ASSERT_TRUE(far.SendAll("pong" + tag));
        EXPECT_TRUE(WaitUntil([&] { return events.received().size() == 5 * (round + 1u); }));
        // Connecting again while connected changes nothing.
        EXPECT_EQ(client.Connect(plat::LoopbackAddress(), peer.port(), true, 2000, 0, 0), kNetOk);
        EXPECT_FALSE(peer.Accept(50).valid());
        far.Close();
        ASSERT_TRUE(WaitUntil([&] { return !client.m_bConnected; }));
    }
    EXPECT_TRUE(WaitUntil([&] { return events.disconnect_reasons().size() == 3; }));
    EXPECT_EQ(events.received(), "pong0pong1pong2");
}

TEST(NetConnectClient, RefusedAttemptFailsAtOnceWithExitCodeFour) {
    TraceCapture trace;
    NetEvents events;
    ResultRecorder client;
    events.Install(client);
    const auto start = Clock::now();
    EXPECT_EQ(client.Connect(plat::LoopbackAddress(), UnusedPort(), true, 3000, 0, 3000),
              kNetAllAttemptsFailed);
    // Waiting out the 3000 ms time-out would mean the refusal went unnoticed.
    EXPECT_LT(MsSince(start), 2500);
    EXPECT_FALSE(client.m_bConnected);
    EXPECT_EQ(trace.Count("connect thread quit result: 4"), 1u) << trace.text();
    EXPECT_EQ(trace.Count("ThreadConnect: select failed(111)"), 1u) << trace.text();
    EXPECT_EQ(client.codes(), (std::vector<int32_t>{kNetAttemptFailed, kNetAllAttemptsFailed}));
    EXPECT_TRUE(events.connect_codes().empty());  // a waiting Connect keeps them from the callback
    // Retries of -1 make no attempt at all.
    const size_t tries = trace.Count("try to connect");
    EXPECT_EQ(client.Connect(plat::LoopbackAddress(), UnusedPort(), true, 1000, -1, 0),
              kNetAllAttemptsFailed);
    EXPECT_EQ(trace.Count("try to connect"), tries);
    EXPECT_EQ(client.codes(), (std::vector<int32_t>{kNetAttemptFailed, kNetAllAttemptsFailed,
                                                    kNetAllAttemptsFailed}));
}

TEST(NetConnectClient, RetriesReportEachFailureThenTheEnd) {
    TraceCapture trace;
    NetEvents events;
    ResultRecorder client;
    events.Install(client);
    const auto start = Clock::now();
    EXPECT_EQ(client.Connect(plat::LoopbackAddress(), UnusedPort(), false, 1000, 2, 50),
              kNetConnectPending);
    ASSERT_TRUE(WaitUntil([&] { return client.codes().size() == 6; }, 5000));
    // Each attempt reports -252, the supervisor adds -252 after the first two and -253 last.
    const std::vector<int32_t> expected{kNetAttemptFailed, kNetAttemptFailed,
                                        kNetAttemptFailed, kNetAttemptFailed,
                                        kNetAttemptFailed, kNetAllAttemptsFailed};
    EXPECT_EQ(client.codes(), expected);
    EXPECT_GE(MsSince(start), 100);  // two retry pauses of 50 ms
    EXPECT_TRUE(WaitUntil([&] { return events.connect_codes() == expected; }));
    EXPECT_EQ(trace.Count("try to connect: left times: 3"), 1u);
    EXPECT_EQ(trace.Count("try to connect: left times: 2"), 1u);
    EXPECT_EQ(trace.Count("try to connect: left times: 1"), 1u);
    EXPECT_EQ(trace.Count("notify connect failed one time"), 2u);
    EXPECT_EQ(trace.Count("notify connect failed END"), 1u);
}

TEST(NetConnectClient, UnansweredAttemptTimesOutOrIsAbandonedQuietly) {
    FullBacklog silent;
    ASSERT_TRUE(silent.Holds()) << "a connect to a full accept queue completed at once";
    {
        TraceCapture trace;
        ResultRecorder client;
        const auto start = Clock::now();
        EXPECT_EQ(client.Connect(plat::LoopbackAddress(), silent.port(), true, 300, 0, 0),
                  kNetAllAttemptsFailed);
        EXPECT_GE(MsSince(start), 250);
        EXPECT_LT(MsSince(start), 3000);
        EXPECT_EQ(trace.Count("select failed(110)"), 1u) << trace.text();
        EXPECT_EQ(trace.Count("connect thread quit result: 4"), 1u);
    }
    // StopConnect and destruction do not wait for a hanging attempt, and report nothing.
    NetEvents events;
    ResultRecorder client;
    events.Install(client);
    EXPECT_EQ(client.Connect(plat::LoopbackAddress(), silent.port(), false, 20000, 3, 0),
              kNetConnectPending);
    auto doomed = std::make_unique<CKemNetConnect>();
    doomed->Connect(plat::LoopbackAddress(), silent.port(), false, 20000, 0, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    auto start = Clock::now();
    EXPECT_EQ(client.StopConnect(), 0);
    EXPECT_LT(MsSince(start), 2000);
    EXPECT_FALSE(client.m_hConnectAdminThread.exists());
    EXPECT_FALSE(client.m_hConnectThread.exists());
    EXPECT_TRUE(client.codes().empty());
    EXPECT_TRUE(events.connect_codes().empty());
    start = Clock::now();
    doomed.reset();
    EXPECT_LT(MsSince(start), 2000);
}

TEST(NetConnectClient, BadPortsAndHostTextsAreRefusedNamesResolved) {
    // The host texts themselves are covered by the NetAddress tests.
    TestListener peer;
    CKemNetConnect client;
    for (int32_t port : {0, -1, 65536, 65536 + peer.port()}) {  // never wrapped
        EXPECT_EQ(client.Connect(plat::LoopbackAddress(), port, true, 500, 0, 0), kNetBadPort)
            << port;
        EXPECT_EQ(client.ConnectByName(u"127.0.0.1", port, true, 500, 0, 0), kNetBadPort) << port;
    }
    for (const char16_t* host :
         {u"no-such-host.invalid", u"127.0.0.256", u"", static_cast<const char16_t*>(nullptr)}) {
        EXPECT_EQ(client.ConnectByName(host, peer.port(), true, 500, 0, 0), kNetResolveFailed);
    }
    EXPECT_FALSE(client.m_bConnected);
    EXPECT_EQ(client.Send("abc", 3, 32768), kNetNotConnected);
    EXPECT_FALSE(peer.Accept(50).valid());
    for (const char16_t* host : {u"127.0.0.1", u"Http:localhost"}) {
        CKemNetConnect named;
        EXPECT_EQ(named.ConnectByName(host, peer.port(), true, 2000, 0, 0), kNetOk);
        EXPECT_EQ(named.m_dwRemoteAddr, plat::LoopbackAddress());
        EXPECT_TRUE(peer.Accept().valid());
    }
}

TEST(NetConnectListener, ListensOnPickedPortAndRefusesASecondListenOrABadPort) {
    CKemNetConnect listener;
    EXPECT_EQ(listener.Listen(-1, 1), kNetBindFailed);
    EXPECT_EQ(listener.Listen(65536, 1), kNetBindFailed);
    TestListener taken;
    EXPECT_EQ(listener.Listen(taken.port(), 1), kNetBindFailed);
    EXPECT_EQ(listener.m_sockListen, plat::kInvalidSocket);
    ASSERT_EQ(listener.Listen(0, 1), kNetOk);
    EXPECT_NE(listener.m_nListenPort, 0);
    EXPECT_TRUE(listener.m_bListening);
    EXPECT_EQ(listener.Listen(0, 1), kNetAlreadyListening);
    const uint16_t port = listener.m_nListenPort;
    EXPECT_EQ(listener.StopListen(), 0);
    EXPECT_FALSE(listener.m_bListening);
    EXPECT_EQ(listener.m_sockListen, plat::kInvalidSocket);
    EXPECT_EQ(listener.Listen(port, 1), kNetOk);  // the same port can be taken again at once
    EXPECT_EQ(listener.m_nListenPort, port);
}

TEST(NetConnectListener, WithoutAcceptCallbackClosesEveryClientAndEndsPromptly) {
    auto listener = std::make_unique<CKemNetConnect>();
    ASSERT_EQ(listener->Listen(0, 4), kNetOk);
    for (int i = 0; i < 3; ++i) {
        TestSocket client = ConnectTo(listener->m_nListenPort);
        ASSERT_TRUE(client.valid());
        EXPECT_TRUE(client.SeesClose()) << i;
    }
    const auto start = Clock::now();  // destroyed while waiting for the next client
    listener.reset();
    EXPECT_LT(MsSince(start), 2000);
}

TEST(NetConnectListener, AcceptedClientIsAnnouncedBeforeItsData) {
    NetEvents events;
    CKemNetConnect listener;
    events.Install(listener);
    ASSERT_EQ(listener.Listen(0, 4), kNetOk);
    TestSocket client = ConnectTo(listener.m_nListenPort);
    ASSERT_TRUE(client.SendAll("hello"));
    client.Close();
    ASSERT_TRUE(WaitUntil([&] { return events.disconnect_reasons().size() == 1; }));
    const std::vector<std::string> expected{"accepted", "connected 0", "received",
                                            "disconnected 0"};
    EXPECT_EQ(events.order(), expected);
    EXPECT_EQ(events.received(), "hello");
    CKemNetConnect* accepted = events.accepted(0);
    ASSERT_NE(accepted, nullptr);
    EXPECT_EQ(accepted->m_dwRemoteAddr, plat::LoopbackAddress());
    EXPECT_EQ(accepted->m_nRemotePort, listener.m_nListenPort);
    EXPECT_EQ(accepted->m_pUserData, &events);
    EXPECT_EQ(listener.m_dwLocalAddr.load(), plat::LoopbackAddress());
}

TEST(NetConnectListener, NewClientReplacesThePreviousOneAndOutlivesStopListen) {
    NetEvents events;
    CKemNetConnect listener;
    events.Install(listener);
    ASSERT_EQ(listener.Listen(0, 4), kNetOk);
    const uint16_t port = listener.m_nListenPort;
    TestSocket first = ConnectTo(port);
    ASSERT_TRUE(WaitUntil([&] { return events.accepted_count() == 1; }));
    TestSocket second = ConnectTo(port);
    ASSERT_TRUE(WaitUntil([&] { return events.accepted_count() == 2; }));
    // The owner keeps one client: the previous one is disconnected quietly and destroyed.
    CKemNetConnect* previous = events.accepted(0);
    CKemNetConnect* current = events.accepted(1);
    EXPECT_EQ(previous->Disconnect(false), 0);
    EXPECT_TRUE(first.SeesClose());
    EXPECT_TRUE(events.disconnect_reasons().empty());
    EXPECT_EQ(previous->Send("x", 1, 1), kNetNotConnected);
    listener.StopListen();
    EXPECT_FALSE(ConnectTo(port).valid());
    EXPECT_EQ(current->Send("still here", 10, 32768), kNetOk);
    EXPECT_EQ(second.Receive(10), "still here");
    ASSERT_TRUE(second.SendAll("after"));
    EXPECT_TRUE(WaitUntil([&] { return events.received() == "after"; }));
}

TEST(NetConnectListener, AcceptRecoversWhenDescriptorsRunOut) {
    TraceCapture trace;
    NetEvents events;
    CKemNetConnect listener;
    events.Install(listener);
    ASSERT_EQ(listener.Listen(0, 4), kNetOk);
    plat::SocketHandle raw = plat::kInvalidSocket;
    ASSERT_FALSE(plat::CreateStreamSocket(raw).failed());
    TestSocket client(raw);

    // Fill the descriptor table under a lowered soft limit; it is put back below whatever
    // happens in between.
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    const int spare = dup(client.get());
    ASSERT_GE(spare, 0);
    rlimit lowered = saved;
    lowered.rlim_cur = static_cast<rlim_t>(spare + 1);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &lowered), 0);
    std::vector<int> fillers;
    for (int fd = dup(spare); fd >= 0; fd = dup(spare)) {
        fillers.push_back(fd);
    }
    bool in_progress = false;
    const plat::OsError connected = plat::StartConnect(
        client.get(), {plat::LoopbackAddress(), listener.m_nListenPort}, in_progress);
    const bool saw_error = WaitUntil([&] { return trace.Count("accept error: 24") >= 2; }, 3000);
    const bool accepted_while_full = events.accepted_count() != 0;
    for (int fd : fillers) {
        close(fd);
    }
    close(spare);
    setrlimit(RLIMIT_NOFILE, &saved);

    ASSERT_FALSE(connected.failed());
    EXPECT_TRUE(saw_error) << trace.text();
    EXPECT_FALSE(accepted_while_full);
    // The listener kept going: the waiting client is served once descriptors are free.
    ASSERT_TRUE(WaitUntil([&] { return events.accepted_count() == 1; }));
    EXPECT_TRUE(listener.m_bListening);
    ASSERT_TRUE(client.SendAll("served"));
    EXPECT_TRUE(WaitUntil([&] { return events.received() == "served"; }));
}

TEST(NetConnectLifecycle, EachEndingNotifiesOnceOrQuietlyAndClosesTheSocket) {
    enum class End { kPeerCloses, kNotifying, kQuiet };
    const std::pair<End, std::vector<int32_t>> cases[] = {{End::kPeerCloses, {kNetReasonClosed}},
                                                          {End::kNotifying, {kNetReasonClosed}},
                                                          {End::kQuiet, {}}};
    for (const auto& [end, reasons] : cases) {
        SCOPED_TRACE(static_cast<int>(end));
        TestListener peer;
        NetEvents events;
        CKemNetConnect client;
        events.Install(client);
        ASSERT_EQ(client.Connect(plat::LoopbackAddress(), peer.port(), true, 2000, 0, 0), kNetOk);
        TestSocket far = peer.Accept();
        const auto start = Clock::now();
        if (end == End::kPeerCloses) {
            far.Close();
            ASSERT_TRUE(WaitUntil([&] { return events.disconnect_reasons().size() == 1; }));
        } else {
            EXPECT_EQ(client.Disconnect(end == End::kNotifying), 0);
            EXPECT_LT(MsSince(start), 2000);
            EXPECT_FALSE(client.m_bConnected);
            EXPECT_FALSE(client.m_hRecvThread.exists());
            EXPECT_TRUE(far.SeesClose());
        }
        EXPECT_TRUE(WaitUntil([&] { return !client.m_bConnected; }));
        EXPECT_EQ(client.m_sock.load(), plat::kInvalidSocket);
        client.Disconnect(true);  // once ended, nothing more is told
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        EXPECT_EQ(events.disconnect_reasons(), reasons);
        EXPECT_EQ(client.Send("x", 1, 1), kNetNotConnected);
    }
}

TEST(NetConnectLifecycle, ManyCyclesLeakNoThreadOrDescriptor) {
    // Warm up: the first objects set up the log and per-thread converters once.
    {
        TestListener peer;
        CKemNetConnect warm;
        ASSERT_EQ(warm.Connect(plat::LoopbackAddress(), peer.port(), true, 2000, 0, 0), kNetOk);
        peer.Accept();
    }
    const size_t descriptors = kem::testing::OpenDescriptors();
    const size_t threads = kem::testing::ThreadCount();
    {
        NetEvents events;
        CKemNetConnect listener;
        events.Install(listener);
        ASSERT_EQ(listener.Listen(0, 16), kNetOk);
        for (int round = 0; round < 40; ++round) {
            CKemNetConnect client;
            ASSERT_EQ(
                client.Connect(plat::LoopbackAddress(), listener.m_nListenPort, true, 2000, 0, 0),
                kNetOk);
            ASSERT_TRUE(WaitUntil([&] { return events.accepted_count() == 1; }));
            std::vector<CKemNetConnect*> accepted = events.TakeAccepted();
            // Either side ends it; the other notices or is destroyed regardless.
            if (round % 2 == 0) {
                client.Disconnect(false);
            } else {
                accepted[0]->Disconnect(false);
                ASSERT_TRUE(WaitUntil([&] { return !client.m_bConnected; }));
            }
            delete accepted[0];
        }
    }
    EXPECT_TRUE(WaitUntil([&] { return kem::testing::ThreadCount() == threads; }))
        << kem::testing::ThreadCount() << " threads, " << threads << " before";
    EXPECT_EQ(kem::testing::OpenDescriptors(), descriptors);
}

TEST(NetConnectLifecycle, FirstObjectPreparesTheLog) {
    CKemNetConnect connection;
    EXPECT_NE(g_NetLog.szFolder[0], u'\0');
    EXPECT_EQ(g_NetLog.dwMaxSize, kNetLogDefaultMaxSize);
    EXPECT_EQ(g_NetLog.wIndex, kNetLogNoIndex);
    EXPECT_EQ(std::u16string(g_NetLog.szBaseName), u"ltKemNetConnect");
}

}  // namespace
