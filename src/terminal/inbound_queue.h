// The one queue that carries received bytes from the link's worker threads to the window's
// thread. It keeps blocks in arrival order, tells the window once per batch (when it turns
// from empty to non-empty) and holds writers back while it is over its byte bound, so a flood
// cannot grow memory without limit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <vector>

#include "platform/event.h"

namespace kem::terminal {

class InboundQueue {
public:
    // Above this many queued bytes writers are held back.
    static constexpr size_t kDefaultBound = 4 * 1024 * 1024;

    // `on_first` is called (outside the lock) whenever a push makes the empty queue non-empty,
    // and by Take when it leaves blocks behind; it must only post and return.
    explicit InboundQueue(std::function<void()> on_first, size_t bound = kDefaultBound);
    InboundQueue(const InboundQueue&) = delete;
    InboundQueue& operator=(const InboundQueue&) = delete;

    // Appends a copy of `count` bytes when the queue is within its bound; false (nothing
    // queued) when it is over it. Null data or a count of 0 is accepted and queues nothing.
    // Any thread; never blocks beyond the lock.
    bool TryPush(const uint8_t* data, size_t count);

    // Appends a copy of `count` bytes, first waiting while the queue is over its bound. The
    // wait ends early when `abort` is signalled (then the bytes are queued anyway: they were
    // received). Blocks only in platform waits, so a forced thread end can take effect there.
    // Worker threads.
    void PushWaiting(const uint8_t* data, size_t count, kem::platform::Event& abort);

    // Removes blocks, oldest first, until about `max_bytes` were taken: at least one block when
    // any is queued, and no block that would pass `max_bytes` after the first. Wakes held-back
    // writers when room was made. Window's thread (any thread is safe).
    std::vector<std::vector<uint8_t>> Take(size_t max_bytes);

    // Bytes and blocks queued now. Any thread.
    size_t bytes() const;
    size_t blocks() const;
    size_t bound() const { return bound_; }

    // How often a writer had to wait or was refused because the queue was full (for tests and
    // diagnostics). Any thread.
    uint64_t held_back_count() const;

private:
    bool OverBoundLocked() const { return bytes_ > bound_; }
    // Appends under the lock; true when the queue was empty before.
    bool AppendLocked(const uint8_t* data, size_t count);
    void UpdateRoomLocked();

    const std::function<void()> on_first_;
    const size_t bound_;
    mutable std::mutex mutex_;
    std::deque<std::vector<uint8_t>> blocks_;
    size_t bytes_ = 0;
    uint64_t held_back_ = 0;
    // Signalled while the queue is within its bound.
    kem::platform::Event room_{kem::platform::Event::Mode::kManualReset, true};
};

}  // namespace kem::terminal
