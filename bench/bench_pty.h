// A pseudo-terminal for the serial benchmarks, a writer that streams into it (unlike the tests'
// pair, both ends block, so the writer runs at the pace the reader takes the bytes), and the
// comparison of two ways of moving the same bytes.
#pragma once

#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/event.h"

namespace kem::bench {

// A channel's receive call-back that counts what arrives and sets `done` once `target` bytes
// came; it consumes everything it is offered.
struct ReceiveSink {
    std::atomic<size_t> received{0};
    size_t target = 0;
    kem::platform::Event done{kem::platform::Event::Mode::kManualReset};

    static int32_t Consume(const char16_t*, const uint8_t* data, int32_t count, void* user) {
        auto* self = static_cast<ReceiveSink*>(user);
        benchmark::DoNotOptimize(data);
        const size_t now =
            self->received.fetch_add(static_cast<size_t>(count)) + static_cast<size_t>(count);
        if (now >= self->target) {
            self->done.Set();
        }
        return count;
    }
};

struct BenchPty {
    int master = -1;
    int slave = -1;
    std::string path;

    BenchPty() {
        char name[128] = {};
        if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
            throw std::runtime_error("openpty failed");
        }
        path = name;
        // Raw, so every byte value arrives as it was written.
        termios raw{};
        tcgetattr(slave, &raw);
        cfmakeraw(&raw);
        tcsetattr(slave, TCSANOW, &raw);
    }
    ~BenchPty() {
        close(master);
        close(slave);
    }
    BenchPty(const BenchPty&) = delete;
    BenchPty& operator=(const BenchPty&) = delete;
    std::u16string path16() const { return std::u16string(path.begin(), path.end()); }
};

// Writes `total` bytes of every value (0xFF included) to `master` with blocking writes, in
// chunks of `chunk_size`, on a thread of its own.
inline std::thread StartPtyWriter(int master, size_t total, size_t chunk_size = 16384) {
    return std::thread([master, total, chunk_size] {
        std::vector<uint8_t> chunk(chunk_size);
        for (size_t i = 0; i < chunk.size(); ++i) {
            chunk[i] = static_cast<uint8_t>(i * 7 + i / 256);
        }
        size_t done = 0;
        while (done < total) {
            const ssize_t put = write(master, chunk.data(), std::min(chunk.size(), total - done));
            if (put <= 0) {
                return;
            }
            done += static_cast<size_t>(put);
        }
    });
}

// Runs `first` and `second` (each: seconds for `bytes_per_run`, <= 0 on failure) once per
// iteration and reports both rates in MB/s and their ratio as counters named after them.
// Returns false, with the benchmark marked as skipped, when a run failed.
inline bool CompareRates(benchmark::State& state, size_t bytes_per_run,
                         const std::string& first_name, const std::function<double()>& first,
                         const std::string& second_name, const std::function<double()>& second) {
    double first_seconds = 0;
    double second_seconds = 0;
    for (auto _ : state) {
        const double a = first();
        const double b = second();
        if (a <= 0 || b <= 0) {
            state.SkipWithError("a transfer did not complete");
            return false;
        }
        first_seconds += a;
        second_seconds += b;
    }
    const double bytes =
        static_cast<double>(bytes_per_run) * static_cast<double>(state.iterations());
    state.counters[first_name + "_MB/s"] = bytes / first_seconds / 1e6;
    state.counters[second_name + "_MB/s"] = bytes / second_seconds / 1e6;
    state.counters[first_name + "/" + second_name] = second_seconds / first_seconds;
    return true;
}

}  // namespace kem::bench
