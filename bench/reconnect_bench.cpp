// How soon a serial link comes back on its own: a socat pseudo-terminal pair is stopped (the
// session starts waiting) and started again with the same link paths; measured is the time
// from the link path being there again to the first byte the device sends arriving through
// the session. The device's side writes one byte a millisecond from the moment it can, so the
// figure is the session's own delay within about a millisecond.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/code_page.h"
#include "platform/device_watch.h"
#include "support/socat_pty.h"
#include "terminal/link_session.h"

namespace {

using Clock = std::chrono::steady_clock;

// How long the device stays away in each cycle.
constexpr int kAwayMs = 300;

struct Event {
    enum Kind { kTraffic, kClosed, kReconnect, kOther } kind = kOther;
    int32_t code = 0;
    uint64_t id = 0;
};

class Sink : public LinkEventSink {
public:
    void PostTrafficReady() override { Push({Event::kTraffic, 0, 0}); }
    void PostClientAccepted() override { Push({Event::kOther, 0, 0}); }
    void PostLinkClosed(int32_t code, uint64_t id) override { Push({Event::kClosed, code, id}); }
    void PostReconnectEvent(uint64_t token) override { Push({Event::kReconnect, 0, token}); }

    bool Next(Event& out, int timeout_ms) {
        std::unique_lock lock(mutex_);
        if (!cv_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                          [this] { return !events_.empty(); })) {
            return false;
        }
        out = events_.front();
        events_.pop_front();
        return true;
    }

private:
    void Push(Event event) {
        {
            std::lock_guard lock(mutex_);
            events_.push_back(event);
        }
        cv_.notify_all();
    }
    std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<Event> events_;
};

// Handles events as the window would until `done` says so or `timeout_ms` passed.
template <typename Done>
bool Pump(LinkSession& session, Sink& sink, size_t& received, Done done, int timeout_ms) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!done()) {
        if (Clock::now() > deadline) {
            return false;
        }
        Event event;
        if (!sink.Next(event, 1)) {
            continue;
        }
        switch (event.kind) {
            case Event::kTraffic:
                for (const auto& block : session.TakeInbound(1 << 20)) {
                    received += block.size();
                }
                break;
            case Event::kClosed:
                session.OnLinkClosed(event.code, event.id);
                break;
            case Event::kReconnect:
                session.OnReconnectEvent(event.id);
                break;
            case Event::kOther:
                break;
        }
    }
    return true;
}

void BM_SerialReconnectFirstByte(benchmark::State& state) {
    std::string pattern = (std::filesystem::temp_directory_path() / "kem-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        state.SkipWithError("mkdtemp failed");
        return;
    }
    const std::filesystem::path folder = pattern;
    const std::string dev = (folder / "dev").string();
    const std::string peer = (folder / "peer").string();
    kem::testing::SocatPty socat(dev, peer);
    if (!socat.Start()) {
        state.SkipWithError("socat could not make the pseudo-terminal pair");
        return;
    }
    Sink sink;
    std::vector<double> samples;
    {
        LinkSession session(sink);
        session.SetSerialByIdFolder((folder / "by-id").string());
        session.SetAutoReconnect(true);
        if (session.Open(LinkType::kSerial, kem::platform::Utf8ToWide(dev), u"115200,N,8,1")
                .opened != LinkType::kSerial) {
            state.SkipWithError("the pseudo-terminal could not be opened");
            return;
        }
        size_t received = 0;
        for (auto _ : state) {
            socat.Stop();
            if (!Pump(
                    session, sink, received, [&] { return session.IsWaiting(); }, 5000)) {
                state.SkipWithError("the loss was not seen");
                break;
            }
            // A device is away for a while when it is pulled; a reopen also never follows the
            // previous one within 250 ms, which a quicker return would measure instead.
            Pump(
                session, sink, received, [] { return false; }, kAwayMs);
            std::atomic<bool> done{false};
            std::atomic<int64_t> back_ns{0};
            if (!socat.Spawn()) {
                state.SkipWithError("socat could not be started again");
                break;
            }
            // The device's side: notes when the link path is back, then sends a byte a
            // millisecond until the session has one.
            std::thread device([&] {
                while (!socat.Ready() && !done) {
                    std::this_thread::sleep_for(std::chrono::microseconds(200));
                }
                back_ns = Clock::now().time_since_epoch().count();
                const int fd = open(peer.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
                while (!done) {
                    const char byte = 'k';
                    if (fd >= 0) {
                        (void)!write(fd, &byte, 1);
                    }
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                }
                if (fd >= 0) {
                    close(fd);
                }
            });
            received = 0;
            const bool arrived = Pump(
                session, sink, received,
                [&] { return session.State() == LinkState::kOpen && received > 0; }, 10000);
            const auto first_byte = Clock::now().time_since_epoch().count();
            done = true;
            device.join();
            if (!arrived) {
                state.SkipWithError("the link did not come back");
                break;
            }
            const double seconds = static_cast<double>(first_byte - back_ns.load()) / 1e9;
            samples.push_back(seconds * 1000.0);
            state.SetIterationTime(seconds);
        }
        session.Close();
    }
    socat.Stop();
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    if (!samples.empty()) {
        std::sort(samples.begin(), samples.end());
        state.counters["median_ms"] = samples[samples.size() / 2];
        state.counters["worst_ms"] = samples.back();
        state.counters["cycles"] = static_cast<double>(samples.size());
    }
}
BENCHMARK(BM_SerialReconnectFirstByte)
    ->UseManualTime()
    ->Iterations(20)
    ->Unit(benchmark::kMillisecond);

}  // namespace
