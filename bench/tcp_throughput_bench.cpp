// TCP receive throughput of CKemNetConnect against a plain blocking recv loop with the same
// 8192-byte buffer, both fed by the same kind of loopback sender; and how long closing takes
// while a thread waits in recv, connect or accept.
//
//   kem_bench --benchmark_filter='Tcp'
//
// TcpReceive/ChannelVsPlain runs both receivers in turns inside each iteration and reports
// their rates and the ratio (target: channel at least 80 % of plain). The close benchmarks
// report the mean as time and the worst case as max_ms (target: under 100 ms).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "channels/net_connect.h"
#include "platform/event.h"
#include "platform/socket.h"

namespace {

namespace plat = kem::platform;
using Clock = std::chrono::steady_clock;

constexpr size_t kRecvBuffer = 8192;  // the channel's initial (and, here, lasting) buffer
constexpr size_t kBytesPerTurn = 32u << 20;

double Seconds(Clock::duration span) {
    return std::chrono::duration<double>(span).count();
}

// A listening socket on 127.0.0.1 with a picked port.
struct Listener {
    Listener() {
        plat::CreateStreamSocket(sock);
        plat::Bind(sock, plat::LoopbackAddress(), 0);
        plat::Listen(sock, 16);
        plat::Ipv4Endpoint local;
        plat::LocalEndpoint(sock, local);
        port = local.port;
    }
    ~Listener() { plat::CloseSocket(sock); }
    plat::SocketHandle Accept() const {
        plat::SocketHandle out = plat::kInvalidSocket;
        plat::Ipv4Endpoint peer;
        plat::Accept(sock, out, peer);
        return out;
    }
    plat::SocketHandle sock = plat::kInvalidSocket;
    uint16_t port = 0;
};

// Sends a requested number of bytes on a socket from a thread of its own, in 64 KiB blocks.
class Sender {
public:
    explicit Sender(plat::SocketHandle sock) : sock_(sock), thread_([this] { Run(); }) {}
    ~Sender() {
        {
            std::lock_guard lock(mutex_);
            quit_ = true;
        }
        wake_.notify_all();
        thread_.join();
        plat::CloseSocket(sock_);
    }
    void Start(size_t bytes) {
        {
            std::lock_guard lock(mutex_);
            pending_ = bytes;
        }
        wake_.notify_all();
    }

private:
    void Run() {
        const std::string block(65536, 'k');
        for (;;) {
            size_t left = 0;
            {
                std::unique_lock lock(mutex_);
                wake_.wait(lock, [&] { return quit_ || pending_ > 0; });
                if (quit_) {
                    return;
                }
                left = std::exchange(pending_, 0);
            }
            while (left > 0) {
                size_t sent = 0;
                if (plat::Send(sock_, block.data(), std::min(left, block.size()), sent,
                               plat::IoWait::kBlock)
                        .failed()) {
                    return;
                }
                left -= sent;
            }
        }
    }

    plat::SocketHandle sock_;
    std::mutex mutex_;
    std::condition_variable wake_;
    size_t pending_ = 0;
    bool quit_ = false;
    std::thread thread_;
};

// The plain receiver: one blocking recv loop on the calling thread.
class PlainReceiver {
public:
    explicit PlainReceiver(const Listener& listener) {
        plat::CreateStreamSocket(client_);
        bool in_progress = false;
        plat::StartConnect(client_, {plat::LoopbackAddress(), listener.port}, in_progress);
        sender_ = std::make_unique<Sender>(listener.Accept());
    }
    ~PlainReceiver() {
        sender_.reset();
        plat::CloseSocket(client_);
    }
    // Seconds to take `bytes` in.
    double Take(size_t bytes) {
        char buffer[kRecvBuffer];
        const auto start = Clock::now();
        sender_->Start(bytes);
        size_t got = 0;
        while (got < bytes) {
            size_t count = 0;
            if (plat::Receive(client_, buffer, sizeof buffer, count, plat::IoWait::kBlock)
                    .failed() ||
                count == 0) {
                break;
            }
            got += count;
        }
        return Seconds(Clock::now() - start);
    }

private:
    plat::SocketHandle client_ = plat::kInvalidSocket;
    std::unique_ptr<Sender> sender_;
};

// The channel receiver: a connected CKemNetConnect whose callback consumes everything.
class ChannelReceiver {
public:
    explicit ChannelReceiver(const Listener& listener) {
        client_.m_pUserData = this;
        client_.m_pfnOnReceived = &Count;
        client_.Connect(plat::LoopbackAddress(), listener.port, true, 2000, 0, 0);
        sender_ = std::make_unique<Sender>(listener.Accept());
    }
    ~ChannelReceiver() {
        client_.Disconnect(false);
        sender_.reset();
    }
    bool connected() const { return client_.m_bConnected != 0; }
    double Take(size_t bytes) {
        received_ = 0;
        target_ = bytes;
        const auto start = Clock::now();
        sender_->Start(bytes);
        done_.Wait(plat::kInfinite);
        return Seconds(Clock::now() - start);
    }

private:
    static int32_t Count(CKemNetConnect* connection) {
        auto* self = static_cast<ChannelReceiver*>(connection->m_pUserData);
        const int32_t held = connection->m_nRecvLen;
        self->received_ += static_cast<size_t>(held);
        if (self->received_ >= self->target_) {
            self->done_.Set();
        }
        return held;
    }

    CKemNetConnect client_;
    std::unique_ptr<Sender> sender_;
    std::atomic<size_t> received_{0};
    std::atomic<size_t> target_{0};
    plat::Event done_;
};

void TcpReceiveChannel(benchmark::State& state) {
    Listener listener;
    ChannelReceiver channel(listener);
    if (!channel.connected()) {
        state.SkipWithError("no loopback connection");
        return;
    }
    for (auto _ : state) {
        state.SetIterationTime(channel.Take(kBytesPerTurn));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBytesPerTurn));
}
BENCHMARK(TcpReceiveChannel)->Name("TcpReceive/Channel")->UseManualTime()->MinTime(1.0);

void TcpReceivePlain(benchmark::State& state) {
    Listener listener;
    PlainReceiver plain(listener);
    for (auto _ : state) {
        state.SetIterationTime(plain.Take(kBytesPerTurn));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBytesPerTurn));
}
BENCHMARK(TcpReceivePlain)->Name("TcpReceive/Plain")->UseManualTime()->MinTime(1.0);

// Both receivers in turns, so that a busy machine slows both alike.
void TcpReceiveChannelVsPlain(benchmark::State& state) {
    Listener listener;
    PlainReceiver plain(listener);
    ChannelReceiver channel(listener);
    if (!channel.connected()) {
        state.SkipWithError("no loopback connection");
        return;
    }
    double plain_seconds = 0;
    double channel_seconds = 0;
    for (auto _ : state) {
        const double p = plain.Take(kBytesPerTurn);
        const double c = channel.Take(kBytesPerTurn);
        plain_seconds += p;
        channel_seconds += c;
        state.SetIterationTime(p + c);
    }
    const double bytes = static_cast<double>(state.iterations()) * kBytesPerTurn;
    state.counters["plain_MBps"] = bytes / plain_seconds / 1e6;
    state.counters["channel_MBps"] = bytes / channel_seconds / 1e6;
    state.counters["ratio"] = plain_seconds / channel_seconds;
}
BENCHMARK(TcpReceiveChannelVsPlain)
    ->Name("TcpReceive/ChannelVsPlain")
    ->UseManualTime()
    ->Iterations(40);

// Reports the mean close time as the iteration time and the worst case as max_ms.
template <typename Prepare>
void MeasureClose(benchmark::State& state, Prepare prepare) {
    double worst = 0;
    for (auto _ : state) {
        std::unique_ptr<CKemNetConnect> connection = prepare();
        // Let the worker reach its wait.
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        const auto start = Clock::now();
        connection.reset();
        const double spent = Seconds(Clock::now() - start);
        worst = std::max(worst, spent);
        state.SetIterationTime(spent);
    }
    state.counters["max_ms"] = worst * 1000;
}

void TcpCloseWhileInRecv(benchmark::State& state) {
    Listener listener;
    std::vector<plat::SocketHandle> peers;
    MeasureClose(state, [&] {
        auto client = std::make_unique<CKemNetConnect>();
        client->Connect(plat::LoopbackAddress(), listener.port, true, 2000, 0, 0);
        peers.push_back(listener.Accept());
        return client;
    });
    for (plat::SocketHandle peer : peers) {
        plat::CloseSocket(peer);
    }
}
BENCHMARK(TcpCloseWhileInRecv)->Name("TcpClose/InRecv")->UseManualTime()->Iterations(100);

void TcpCloseWhileInAccept(benchmark::State& state) {
    MeasureClose(state, [] {
        auto listener = std::make_unique<CKemNetConnect>();
        listener->Listen(0, 1);
        return listener;
    });
}
BENCHMARK(TcpCloseWhileInAccept)->Name("TcpClose/InAccept")->UseManualTime()->Iterations(100);

// A connect to a listener whose accept queue is full gets no answer, so the attempt waits.
void TcpCloseWhileInConnect(benchmark::State& state) {
    Listener silent;
    plat::Listen(silent.sock, 0);
    std::vector<plat::SocketHandle> fillers;
    for (int i = 0; i < 4; ++i) {
        plat::SocketHandle sock = plat::kInvalidSocket;
        plat::CreateStreamSocket(sock);
        plat::SetNonBlocking(sock, true);
        bool in_progress = false;
        plat::StartConnect(sock, {plat::LoopbackAddress(), silent.port}, in_progress);
        fillers.push_back(sock);
    }
    MeasureClose(state, [&] {
        auto client = std::make_unique<CKemNetConnect>();
        client->Connect(plat::LoopbackAddress(), silent.port, false, 20000, 0, 0);
        return client;
    });
    for (plat::SocketHandle sock : fillers) {
        plat::CloseSocket(sock);
    }
}
BENCHMARK(TcpCloseWhileInConnect)->Name("TcpClose/InConnect")->UseManualTime()->Iterations(100);

}  // namespace
