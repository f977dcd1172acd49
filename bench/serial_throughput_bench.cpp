// Receive throughput of the serial channel against a plain read loop, both fed by a writer
// thread on a pseudo-terminal master; and how long Close and destruction take while the read
// thread waits for data.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "bench_pty.h"
#include "channels/port_com.h"
#include "platform/event.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kBufferSize = 4096;            // the channel's receive buffer
constexpr size_t kTransfer = size_t{16} << 20;  // bytes per measured run

// Seconds for `kTransfer` bytes through blocking reads of the slave into a 4096-byte buffer.
double RunPlainLoop() {
    kem::bench::BenchPty pty;
    std::vector<uint8_t> buffer(kBufferSize);
    const auto start = Clock::now();
    std::thread writer = kem::bench::StartPtyWriter(pty.master, kTransfer);
    size_t got = 0;
    while (got < kTransfer) {
        const ssize_t n = read(pty.slave, buffer.data(), buffer.size());
        if (n <= 0) {
            break;
        }
        got += static_cast<size_t>(n);
        benchmark::DoNotOptimize(buffer.data());
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    writer.join();
    return got == kTransfer ? seconds : -1.0;
}

// Seconds for `kTransfer` bytes into the channel's receive call-back (consuming all).
double RunChannel() {
    kem::bench::BenchPty pty;
    kem::bench::ReceiveSink sink;
    sink.target = kTransfer;
    CKemPortCom port;
    port.m_pfnOnReceived = &kem::bench::ReceiveSink::Consume;
    port.m_pUser = &sink;
    port.m_bDtrEnable = 1;
    const std::u16string path = pty.path16();
    port.SetPortName(path.c_str());
    if (port.Open() != 1) {
        return -1.0;
    }
    const auto start = Clock::now();
    std::thread writer = kem::bench::StartPtyWriter(pty.master, kTransfer);
    const bool finished = sink.done.Wait(60000) == kem::platform::kWaitObject0;
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    writer.join();
    port.Close();
    return finished ? seconds : -1.0;
}

// Both receivers in the same run, alternating, so machine load hits them alike.
void BM_SerialReceiveThroughput(benchmark::State& state) {
    kem::bench::CompareRates(state, kTransfer, "channel", RunChannel, "plain", RunPlainLoop);
}
BENCHMARK(BM_SerialReceiveThroughput)->Iterations(10)->Unit(benchmark::kMillisecond);

// Close, then destruction, of a channel whose read thread is blocked waiting for data.
void BM_SerialCloseLatency(benchmark::State& state) {
    kem::bench::BenchPty pty;
    kem::bench::ReceiveSink sink;
    sink.target = SIZE_MAX;
    const std::u16string path = pty.path16();
    double worst_close = 0;
    double worst_destroy = 0;
    double total = 0;
    for (auto _ : state) {
        auto port = std::make_unique<CKemPortCom>();
        port->m_pfnOnReceived = &kem::bench::ReceiveSink::Consume;
        port->m_pUser = &sink;
        port->SetPortName(path.c_str());
        if (port->Open() != 1) {
            state.SkipWithError("open failed");
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));  // reader now waits
        auto start = Clock::now();
        port->Close();
        const double close_ms =
            std::chrono::duration<double, std::milli>(Clock::now() - start).count();

        if (port->Open() != 1) {
            state.SkipWithError("reopen failed");
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        start = Clock::now();
        port.reset();
        const double destroy_ms =
            std::chrono::duration<double, std::milli>(Clock::now() - start).count();

        worst_close = std::max(worst_close, close_ms);
        worst_destroy = std::max(worst_destroy, destroy_ms);
        total += close_ms + destroy_ms;
        state.SetIterationTime((close_ms + destroy_ms) / 1000.0);
    }
    state.counters["worst_close_ms"] = worst_close;
    state.counters["worst_destroy_ms"] = worst_destroy;
    state.counters["mean_ms"] = total / (2.0 * static_cast<double>(state.iterations()));
}
BENCHMARK(BM_SerialCloseLatency)->Iterations(200)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace
