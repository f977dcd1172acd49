// A link session driven as the window drives it, without a window: the sink queues what the
// workers post, and the test's thread handles each event with the session's own calls.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "terminal/link_session.h"

namespace kem::testing {

struct Posted {
    enum Kind { kTraffic, kAccepted, kClosed, kReconnect, kStatus } kind = kTraffic;
    int32_t code = 0;
    uint64_t id = 0;
};

class QueueSink : public LinkEventSink {
public:
    void PostTrafficReady() override { Push({Posted::kTraffic, 0, 0}); }
    void PostClientAccepted() override { Push({Posted::kAccepted, 0, 0}); }
    void PostLinkClosed(int32_t code, uint64_t link_id) override {
        Push({Posted::kClosed, code, link_id});
    }
    void PostReconnectEvent(uint64_t token) override { Push({Posted::kReconnect, 0, token}); }
    void PostLinkStatus() override { Push({Posted::kStatus, 0, 0}); }

    // The oldest event (of `kind` when given), waiting up to `timeout_ms`; others stay queued.
    std::optional<Posted> WaitFor(std::optional<Posted::Kind> kind, int timeout_ms) {
        std::unique_lock lock(mutex_);
        std::optional<Posted> found;
        cv_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] {
            for (auto it = events_.begin(); it != events_.end(); ++it) {
                if (!kind || it->kind == *kind) {
                    found = *it;
                    events_.erase(it);
                    return true;
                }
            }
            return false;
        });
        return found;
    }
    std::optional<Posted> Next(int timeout_ms) { return WaitFor(std::nullopt, timeout_ms); }

    // How many events of `kind` were posted so far.
    int count(Posted::Kind kind) {
        std::lock_guard lock(mutex_);
        return counts_[kind];
    }

private:
    void Push(Posted event) {
        {
            std::lock_guard lock(mutex_);
            events_.push_back(event);
            ++counts_[event.kind];
        }
        cv_.notify_all();
    }

    std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<Posted> events_;
    int counts_[Posted::kStatus + 1] = {};
};

// Plays the main window: handles every posted event on the thread that pumps, counting what
// each call answered.
struct SessionWindow {
    explicit SessionWindow(size_t bound = kem::terminal::InboundQueue::kDefaultBound)
        : session(sink, bound) {}

    void Handle(const Posted& event) {
        switch (event.kind) {
            case Posted::kTraffic:
                for (const auto& block : session.TakeInbound(1 << 20)) {
                    received.append(block.begin(), block.end());
                }
                break;
            case Posted::kAccepted:
                adopted += session.AdoptAcceptedClient() ? 1 : 0;
                break;
            case Posted::kClosed:
                ++closed[session.OnLinkClosed(event.code, event.id)];
                break;
            case Posted::kReconnect:
                ++reconnects[session.OnReconnectEvent(event.id)];
                break;
            case Posted::kStatus:
                ++status;
                break;
        }
    }

    // Handles events until `condition` holds or `timeout_ms` passed; its last value.
    bool PumpUntil(const std::function<bool()>& condition, int timeout_ms) {
        const auto give_up =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
        while (!condition()) {
            if (std::chrono::steady_clock::now() > give_up) {
                return condition();
            }
            if (const auto event = sink.Next(5)) {
                Handle(*event);
            }
        }
        return true;
    }
    void PumpFor(int ms) {
        PumpUntil([] { return false; }, ms);
    }
    // Drops what was received so far, queued bytes included.
    void ForgetReceived() {
        session.TakeInbound(SIZE_MAX);
        received.clear();
    }

    QueueSink sink;
    LinkSession session;
    std::string received;
    int adopted = 0;
    int status = 0;
    std::map<ClosedAction, int> closed;         // what each close event was taken for
    std::map<ReconnectAction, int> reconnects;  // and each reconnect event
    int lost() { return closed[ClosedAction::kLinkLost]; }
    int waiting() { return closed[ClosedAction::kWaiting]; }
    int reconnected() { return reconnects[ReconnectAction::kReconnected]; }
};

}  // namespace kem::testing
