// Receive throughput of the remote serial port: bytes written to a pseudo-terminal travel
// through ser2net (Telnet with RFC 2217) into the port's receive call-back; compared in the
// same run with a plain TCP reader of a second pseudo-terminal that the same ser2net serves
// raw. Skipped when ser2net is not installed.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "bench_pty.h"
#include "channels/rfc2217_port.h"
#include "platform/event.h"
#include "platform/socket.h"
#include "support/scratch_files.h"
#include "support/ser2net_process.h"

namespace {

namespace plat = kem::platform;
using Clock = std::chrono::steady_clock;

constexpr size_t kTransfer = size_t{8} << 20;  // bytes per measured run

// A blocking loopback connection, or kInvalidSocket.
plat::SocketHandle ConnectLoopback(uint16_t port) {
    plat::SocketHandle sock = plat::kInvalidSocket;
    if (plat::CreateStreamSocket(sock).failed()) {
        return plat::kInvalidSocket;
    }
    bool in_progress = false;
    if (plat::StartConnect(sock, {plat::LoopbackAddress(), port}, in_progress).failed()) {
        plat::CloseSocket(sock);
        return plat::kInvalidSocket;
    }
    return sock;
}

// Seconds for kTransfer bytes from the first pty into the port's call-back; -1 on failure.
double RunRfc2217(const kem::bench::BenchPty& pty, uint16_t port_number) {
    kem::bench::ReceiveSink sink;
    sink.target = kTransfer;
    CKemRfc2217Port port;
    port.m_pfnOnReceived = &kem::bench::ReceiveSink::Consume;
    port.m_pUser = &sink;
    const std::string url = "rfc2217://127.0.0.1:" + std::to_string(port_number);
    tagComPortParam param;
    param.dwBaudRate = 115200;
    param.nFlowControl = 2;
    if (port.Open(std::u16string(url.begin(), url.end()), param, true) !=
        CKemRfc2217Port::kOpened) {
        return -1.0;
    }
    // ser2net opens the device once the client is there; bytes written before may be flushed.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const auto start = Clock::now();
    std::thread writer = kem::bench::StartPtyWriter(pty.master, kTransfer);
    const bool finished = sink.done.Wait(60000) == plat::kWaitObject0;
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    port.Close();
    writer.join();
    return finished && sink.received == kTransfer ? seconds : -1.0;
}

// Seconds for kTransfer bytes from the second pty through a plain blocking TCP reader.
double RunRaw(const kem::bench::BenchPty& pty, uint16_t port_number) {
    const plat::SocketHandle sock = ConnectLoopback(port_number);
    if (sock == plat::kInvalidSocket) {
        return -1.0;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    std::vector<uint8_t> buffer(CKemRfc2217Port::kRecvBufSize);
    const auto start = Clock::now();
    std::thread writer = kem::bench::StartPtyWriter(pty.master, kTransfer);
    size_t got = 0;
    while (got < kTransfer) {
        size_t received = 0;
        if (plat::Receive(sock, buffer.data(), buffer.size(), received, plat::IoWait::kBlock)
                .failed() ||
            received == 0) {
            break;
        }
        got += received;
        benchmark::DoNotOptimize(buffer.data());
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    plat::Shutdown(sock);
    plat::CloseSocket(sock);
    writer.join();
    return got == kTransfer ? seconds : -1.0;
}

void BM_Rfc2217ReceiveVsRawTcp(benchmark::State& state) {
    const auto program = kem::testing::Ser2netProcess::Find();
    if (!program) {
        state.SkipWithError("ser2net is not installed");
        return;
    }
    kem::bench::BenchPty telnet_pty;
    kem::bench::BenchPty raw_pty;
    kem::testing::TempFolder folder;
    kem::testing::Ser2netProcess server(*program, folder.path());
    const size_t telnet_link = server.Serve(telnet_pty.path, true);
    const size_t raw_link = server.Serve(raw_pty.path, false);
    if (!server.Start()) {
        state.SkipWithError("ser2net did not start");
        return;
    }
    kem::bench::CompareRates(
        state, kTransfer, "rfc2217",
        [&] { return RunRfc2217(telnet_pty, server.port(telnet_link)); }, "raw_tcp",
        [&] { return RunRaw(raw_pty, server.port(raw_link)); });
}
BENCHMARK(BM_Rfc2217ReceiveVsRawTcp)->Iterations(5)->Unit(benchmark::kMillisecond);

}  // namespace
