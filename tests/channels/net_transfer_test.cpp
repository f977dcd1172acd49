// Data through CKemNetConnect against loopback peers: whole transfers checked byte by byte,
// closing from either side while data flows, the receive buffer's growth and bounded sends.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "channels/net_connect.h"
#include "net_test_support.h"

namespace {

using kem::testing::MsSince;
using kem::testing::NetEvents;
using kem::testing::Pattern;
using kem::testing::TestListener;
using kem::testing::TestSocket;
using kem::testing::TraceCapture;
using kem::testing::WaitUntil;
using Clock = kem::testing::Clock;
namespace plat = kem::platform;

// A client connected to a loopback peer, with the peer's end accepted.
struct ConnectedPair {
    explicit ConnectedPair(NetEvents* events = nullptr, CKemNetConnect* use = nullptr)
        : client(use != nullptr ? use : &own) {
        if (events != nullptr) {
            events->Install(*client);
        }
        EXPECT_EQ(client->Connect(plat::LoopbackAddress(), peer.port(), true, 2000, 0, 0), kNetOk);
        far = peer.Accept();
        EXPECT_TRUE(far.valid());
    }
    TestListener peer;
    CKemNetConnect own;
    CKemNetConnect* client;
    TestSocket far;
};

// OnReceived hooks for the cases the callback cannot express.
class HookConnection : public CKemNetConnect {
public:
    enum class Mode { kKeepAll, kEnd, kDisconnectSelf, kKeepTen };
    explicit HookConnection(Mode mode) : mode_(mode) {}
    ~HookConnection() override { StopForDestruction(); }
    int32_t OnReceived(SocketHandle, uint32_t, uint16_t, uint8_t*, int32_t* length) override {
        held = *length;
        switch (mode_) {
            case Mode::kKeepAll:
                return 0;
            case Mode::kEnd:
                return -1;
            case Mode::kDisconnectSelf:
                Disconnect(true);
                return *length;
            case Mode::kKeepTen:
                if (!std::all_of(m_pRecvBuf.get() + *length, m_pRecvBuf.get() + m_nRecvBufSize,
                                 [](uint8_t byte) { return byte == 0; })) {
                    ++dirty_tails;
                }
                ++blocks;
                return std::max(*length - 10, 0);
        }
        return 0;
    }
    std::atomic<int32_t> held{0};
    std::atomic<int> blocks{0};
    std::atomic<int> dirty_tails{0};

private:
    Mode mode_;
};

TEST(NetTransfer, OneMegabyteEachWayArrivesIntactOnBothSides) {
    NetEvents events;
    ConnectedPair pair(&events);
    CKemNetConnect listener;
    events.Install(listener);
    ASSERT_EQ(listener.Listen(0, 1), kNetOk);
    TestSocket client = kem::testing::ConnectTo(listener.m_nListenPort);
    ASSERT_TRUE(WaitUntil([&] { return events.accepted_count() == 1; }));
    // The connecting side, then the accepted one, each with its far end.
    const std::pair<CKemNetConnect*, TestSocket*> sides[] = {{pair.client, &pair.far},
                                                             {events.accepted(0), &client}};
    for (unsigned seed = 0; seed < 2; ++seed) {
        auto [side, far] = sides[seed];
        const std::string outgoing = Pattern(1 << 20, 7 + seed);
        const std::string incoming = Pattern(1 << 20, 3 + seed);
        std::string seen;
        std::thread reader([&] { seen = far->Receive(outgoing.size(), 10000); });
        EXPECT_EQ(
            side->Send(outgoing.data(), static_cast<int32_t>(outgoing.size()), 4096 << (3 * seed)),
            kNetOk);
        reader.join();
        EXPECT_TRUE(seen == outgoing) << seen.size() << " bytes arrived";
        ASSERT_TRUE(far->SendAll(incoming));
        ASSERT_TRUE(WaitUntil(
            [&] { return events.received().size() >= (seed + 1) * incoming.size(); }, 10000));
        EXPECT_TRUE(events.received() == (seed == 0 ? incoming : Pattern(1 << 20, 3) + incoming));
        // With a consumer that takes everything the buffer never grows.
        EXPECT_EQ(side->m_nRecvBufSize, CKemNetConnect::kInitialRecvBufSize);
    }
}

TEST(NetTransfer, PeerClosingWhileDataFlowsDeliversAllThenNotifiesOnce) {
    NetEvents events;
    ConnectedPair pair(&events);
    // Empty sends send nothing either way.
    EXPECT_EQ(pair.client->Send("", 0, 32768), kNetOk);
    EXPECT_EQ(pair.client->Send("abc", -5, 32768), kNetOk);
    EXPECT_EQ(pair.far.Receive(1, 100), "");
    ASSERT_TRUE(pair.far.SendAll(""));
    const std::string data = Pattern(256 * 1024, 1);
    ASSERT_TRUE(pair.far.SendAll(data));
    pair.far.Close();
    ASSERT_TRUE(WaitUntil([&] { return events.disconnect_reasons().size() == 1; }, 5000));
    EXPECT_TRUE(events.received() == data) << events.received().size();
    EXPECT_EQ(events.disconnect_reasons()[0], kNetReasonClosed);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(events.disconnect_reasons().size(), 1u);
}

TEST(NetTransfer, DisconnectWhileThePeerWrites) {
    NetEvents events;
    ConnectedPair pair(&events);
    std::atomic<bool> writer_failed{false};
    std::thread writer([&] {
        const std::string block = Pattern(65536);
        const auto start = Clock::now();
        while (MsSince(start) < 5000) {
            if (!pair.far.SendAll(block)) {
                writer_failed = true;
                return;
            }
        }
    });
    ASSERT_TRUE(WaitUntil([&] { return !events.received().empty(); }));
    const auto start = Clock::now();
    EXPECT_EQ(pair.client->Disconnect(false), 0);
    EXPECT_LT(MsSince(start), 2000);
    writer.join();
    EXPECT_TRUE(writer_failed);
    EXPECT_TRUE(events.disconnect_reasons().empty());
}

TEST(NetTransfer, PeerDisconnectingWhileWeWriteFailsTheSend) {
    NetEvents events;
    ConnectedPair pair(&events);
    const std::string big = Pattern(64 << 20);
    std::thread closer([&] {
        pair.far.Receive(100000, 3000);
        pair.far.Close();
    });
    const auto start = Clock::now();
    EXPECT_EQ(pair.client->Send(big.data(), static_cast<int32_t>(big.size()), 32768),
              kNetSendFailed);
    EXPECT_LT(MsSince(start), 5000);
    closer.join();
    ASSERT_TRUE(WaitUntil([&] { return events.disconnect_reasons().size() == 1; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(events.disconnect_reasons().size(), 1u);
}

TEST(NetTransfer, SendToAPeerThatStopsReadingFailsAfterTheBound) {
    TraceCapture trace;
    ConnectedPair pair;
    pair.client->m_dwSendTimeout = 300;
    const std::string big = Pattern(64 << 20);
    const auto start = Clock::now();
    EXPECT_EQ(pair.client->Send(big.data(), static_cast<int32_t>(big.size()), 32768),
              kNetSendFailed);
    const auto spent = MsSince(start);
    EXPECT_GE(spent, 300);
    EXPECT_LT(spent, 5000);
    EXPECT_EQ(trace.Count("!!!!!!Send: Err=110"), 1u);
    // The connection itself is still there; the peer may read again.
    EXPECT_TRUE(pair.client->m_bConnected);
}

TEST(NetTransfer, DisconnectWakesASendWaitingForRoom) {
    NetEvents events;
    ConnectedPair pair(&events);
    const std::string big = Pattern(64 << 20);
    std::atomic<int32_t> result{1};
    std::thread sender(
        [&] { result = pair.client->Send(big.data(), static_cast<int32_t>(big.size()), 32768); });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const auto start = Clock::now();
    EXPECT_EQ(pair.client->Disconnect(false), 0);
    sender.join();
    EXPECT_LT(MsSince(start), 2000);
    EXPECT_EQ(result.load(), kNetSendFailed);
    EXPECT_EQ(pair.client->m_sock.load(), plat::kInvalidSocket);
    EXPECT_TRUE(pair.far.SeesClose());
    EXPECT_TRUE(events.disconnect_reasons().empty());
}

TEST(NetTransfer, BufferGrowsByDoublingWhileNothingIsConsumed) {
    NetEvents events;
    events.set_consume(0);
    ConnectedPair pair(&events);
    const std::string data = Pattern(20000, 9);
    ASSERT_TRUE(pair.far.SendAll(data));
    ASSERT_TRUE(WaitUntil([&] { return events.last_buffer().size() == data.size(); }));
    EXPECT_TRUE(events.last_buffer() == data);
    const std::vector<int32_t> sizes = events.buffer_sizes();
    ASSERT_FALSE(sizes.empty());
    EXPECT_EQ(sizes.front(), 8192);
    EXPECT_EQ(sizes.back(), 32768);
    EXPECT_NE(std::find(sizes.begin(), sizes.end(), 16384), sizes.end());
    EXPECT_TRUE(std::is_sorted(sizes.begin(), sizes.end()));
    EXPECT_EQ(pair.client->m_nRecvBufSize, 32768);
    // Consuming later works from the kept bytes.
    events.set_consume(NetEvents::kConsumeAll);
    ASSERT_TRUE(pair.far.SendAll("!"));
    ASSERT_TRUE(WaitUntil([&] { return events.received().size() == data.size() + 1; }));
    EXPECT_TRUE(events.received() == data + "!");
}

TEST(NetTransfer, BytesAfterTheHeldOnesReadAsZero) {
    // Long blocks that are mostly consumed, each followed by a short one that leaves the old
    // bytes of the long one behind the held ones, unless they are cleared.
    HookConnection client(HookConnection::Mode::kKeepTen);
    ConnectedPair pair(nullptr, &client);
    for (int i = 0; i < 10; ++i) {
        ASSERT_TRUE(pair.far.SendAll(Pattern(i % 2 == 0 ? 3000 : 5, i + 1)));
        ASSERT_TRUE(WaitUntil([&] { return client.blocks.load() > i; }));
    }
    EXPECT_EQ(client.dirty_tails.load(), 0);
}

TEST(NetTransfer, ConsumedCountBeyondTheHeldBytesOrNegativeTakesEverything) {
    for (int32_t consume : {1 << 30, -1}) {
        NetEvents events;
        events.set_consume(consume);
        ConnectedPair pair(&events);
        ASSERT_TRUE(pair.far.SendAll(Pattern(50000) + "tail"));
        ASSERT_TRUE(WaitUntil([&] {
            const std::string last = events.last_buffer();
            return last.size() >= 4 && last.compare(last.size() - 4, 4, "tail") == 0;
        })) << consume;
        EXPECT_TRUE(pair.client->m_bConnected);
        // Every block was dropped whole, so the buffer never had to grow.
        EXPECT_EQ(pair.client->m_nRecvBufSize, CKemNetConnect::kInitialRecvBufSize);
    }
}

TEST(NetTransfer, HookEndingOrDisconnectingItselfEndsWithItsReason) {
    // A disconnect from the connection's own receive hook must not deadlock.
    const std::pair<HookConnection::Mode, int32_t> cases[] = {
        {HookConnection::Mode::kEnd, kNetReasonHookEnded},
        {HookConnection::Mode::kDisconnectSelf, kNetReasonClosed}};
    for (const auto& [mode, reason] : cases) {
        NetEvents events;
        HookConnection client(mode);
        ConnectedPair pair(&events, &client);
        ASSERT_TRUE(pair.far.SendAll("bye"));
        ASSERT_TRUE(WaitUntil([&] { return events.disconnect_reasons().size() == 1; }));
        EXPECT_EQ(events.disconnect_reasons()[0], reason);
        EXPECT_TRUE(pair.far.SeesClose());
        EXPECT_TRUE(WaitUntil([&] { return !client.m_bConnected; }));
    }
}

TEST(NetTransfer, FullBufferAtItsCapEndsWithReasonThree) {
    NetEvents events;
    HookConnection client(HookConnection::Mode::kKeepAll);
    ConnectedPair pair(&events, &client);
    std::thread writer([&] { pair.far.SendAll(Pattern(CKemNetConnect::kMaxRecvBufSize + 1)); });
    ASSERT_TRUE(WaitUntil([&] { return events.disconnect_reasons().size() == 1; }, 60000));
    EXPECT_EQ(events.disconnect_reasons()[0], kNetReasonBufferFull);
    EXPECT_EQ(client.m_nRecvBufSize, CKemNetConnect::kMaxRecvBufSize);
    EXPECT_EQ(client.held.load(), CKemNetConnect::kMaxRecvBufSize);
    pair.far.Close();
    writer.join();
}

TEST(NetTransfer, DestructionWhileReceivingReturnsPromptly) {
    ConnectedPair pair;
    auto client = std::make_unique<CKemNetConnect>();
    ASSERT_EQ(client->Connect(plat::LoopbackAddress(), pair.peer.port(), true, 2000, 0, 0), kNetOk);
    TestSocket far = pair.peer.Accept();
    const auto start = Clock::now();
    client.reset();
    EXPECT_LT(MsSince(start), 2000);
    EXPECT_TRUE(far.SeesClose());
}

}  // namespace
