#include "terminal/inbound_queue.h"

#include <utility>

namespace kem::terminal {

namespace {
// A writer re-checks the queue at least this often, so a wake-up that slipped between its
// check and its wait costs a short delay, never a hang.
constexpr int kRecheckMs = 50;
}  // namespace

InboundQueue::InboundQueue(std::function<void()> on_first, size_t bound)
    : on_first_(std::move(on_first)), bound_(bound) {}

bool InboundQueue::AppendLocked(const uint8_t* data, size_t count) {
    const bool was_empty = blocks_.empty();
    blocks_.emplace_back(data, data + count);
    bytes_ += count;
    UpdateRoomLocked();
    return was_empty;
}

void InboundQueue::UpdateRoomLocked() {
    if (OverBoundLocked()) {
        room_.Reset();
    } else {
        room_.Set();
    }
}

bool InboundQueue::TryPush(const uint8_t* data, size_t count) {
    if (data == nullptr || count == 0) {
        return true;
    }
    bool first = false;
    {
        std::lock_guard lock(mutex_);
        if (OverBoundLocked()) {
            ++held_back_;
            return false;
        }
        first = AppendLocked(data, count);
    }
    if (first && on_first_) {
        on_first_();
    }
    return true;
}

void InboundQueue::PushWaiting(const uint8_t* data, size_t count, kem::platform::Event& abort) {
    if (data == nullptr || count == 0) {
        return;
    }
    bool counted = false;
    bool first = false;
    for (;;) {
        {
            std::lock_guard lock(mutex_);
            if (!OverBoundLocked() || abort.TryTake()) {
                first = AppendLocked(data, count);
                break;
            }
            if (!counted) {
                ++held_back_;
                counted = true;
            }
        }
        kem::platform::Event* events[2] = {&abort, &room_};
        const uint32_t woke = kem::platform::WaitAny(events, 2, kRecheckMs);
        if (woke == kem::platform::kWaitObject0) {
            // Aborted: the owner is tearing the connection down. The bytes were received, so
            // they are queued all the same; keep the abort visible for the next push.
            abort.Set();
            std::lock_guard lock(mutex_);
            first = AppendLocked(data, count);
            break;
        }
    }
    if (first && on_first_) {
        on_first_();
    }
}

std::vector<std::vector<uint8_t>> InboundQueue::Take(size_t max_bytes) {
    std::vector<std::vector<uint8_t>> out;
    bool left_behind = false;
    {
        std::lock_guard lock(mutex_);
        size_t taken = 0;
        while (!blocks_.empty()) {
            const size_t size = blocks_.front().size();
            if (!out.empty() && taken + size > max_bytes) {
                break;
            }
            taken += size;
            bytes_ -= size;
            out.push_back(std::move(blocks_.front()));
            blocks_.pop_front();
        }
        left_behind = !blocks_.empty();
        UpdateRoomLocked();
    }
    // Blocks left behind would otherwise wait for a push that may never come.
    if (left_behind && on_first_) {
        on_first_();
    }
    return out;
}

size_t InboundQueue::bytes() const {
    std::lock_guard lock(mutex_);
    return bytes_;
}

size_t InboundQueue::blocks() const {
    std::lock_guard lock(mutex_);
    return blocks_.size();
}

uint64_t InboundQueue::held_back_count() const {
    std::lock_guard lock(mutex_);
    return held_back_;
}

}  // namespace kem::terminal
