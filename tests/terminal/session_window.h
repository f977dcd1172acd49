// A link session driven as the window drives it, without a window: the sink queues what the
// workers post, and the test's thread handles each event with the session's own calls.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
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

    std::optional<Posted> Next(int timeout_ms) {
        std::unique_lock lock(mutex_);
        if (!cv_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                          [this] { return !events_.empty(); })) {
            return std::nullopt;
        }
        Posted event = events_.front();
        events_.pop_front();
        return event;
    }

    // The oldest event of `kind`, waiting up to `timeout_ms`; other events stay queued.
    std::optional<Posted> WaitFor(Posted::Kind kind, int timeout_ms) {
        std::unique_lock lock(mutex_);
        std::optional<Posted> found;
        cv_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] {
            for (auto it = events_.begin(); it != events_.end(); ++it) {
                if (it->kind == kind) {
                    found = *it;
                    events_.erase(it);
                    return true;
                }
            }
            return false;
        });
        return found;
    }

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

// Plays the main window: handles every posted event on the test's thread.
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
                session.AdoptAcceptedClient();
                break;
            case Posted::kClosed:
                switch (session.OnLinkClosed(event.code, event.id)) {
                    case ClosedAction::kWaiting:
                        ++waiting;
                        break;
                    case ClosedAction::kLinkLost:
                        ++lost;
                        break;
                    default:
                        break;
                }
                break;
            case Posted::kReconnect:
                switch (session.OnReconnectEvent(event.id)) {
                    case ReconnectAction::kReconnected:
                        ++reconnected;
                        break;
                    case ReconnectAction::kStillWaiting:
                        ++still_waiting;
                        break;
                    case ReconnectAction::kIgnored:
                        ++ignored;
                        break;
                }
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
    // Handles events for `ms`.
    void PumpFor(int ms) {
        PumpUntil([] { return false; }, ms);
    }
    // Drops what was received so far, queued bytes included.
    void ForgetReceived() {
        for (const auto& block : session.TakeInbound(SIZE_MAX)) {
            (void)block;
        }
        received.clear();
    }

    QueueSink sink;
    LinkSession session;
    std::string received;
    int waiting = 0;
    int lost = 0;
    int reconnected = 0;
    int still_waiting = 0;
    int ignored = 0;
    int status = 0;
};

}  // namespace kem::testing
