// Events that one thread signals and another waits for, alone, two at once, or together
// with a descriptor. Each event is an eventfd, so a wait can include a socket or a device.
#pragma once

#include <algorithm>
#include <climits>
#include <cstdint>

namespace kem::platform {

constexpr int kInfinite = -1;

// A millisecond count as a time-out for the waits below: past deadlines wait 0, far ones are cut
// to what an int holds.
inline int ClampWaitMs(int64_t ms) {
    return static_cast<int>(std::clamp<int64_t>(ms, 0, INT_MAX));
}

// Results of the waits below, numbered like the waits they replace.
constexpr uint32_t kWaitObject0 = 0;  // + index of the signalled event
constexpr uint32_t kWaitTimeout = 0x102;
constexpr uint32_t kWaitFailed = 0xFFFFFFFF;

class Event {
public:
    enum class Mode { kAutoReset, kManualReset };

    explicit Event(Mode mode = Mode::kAutoReset, bool signalled = false);
    ~Event();
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    // False when the OS could not create the event (out of descriptors).
    bool valid() const { return fd_ >= 0; }
    Mode mode() const { return mode_; }

    void Set();
    void Reset();

    // Waits until signalled or `timeout_ms` passed (kInfinite: no limit). An auto-reset event is
    // consumed by the waiter that sees it. Returns kWaitObject0, kWaitTimeout or kWaitFailed.
    // A forced thread termination may end the calling thread here.
    uint32_t Wait(int timeout_ms);

    // Non-blocking: true when signalled (and, for auto-reset, consumed by this call).
    bool TryTake();

    // The descriptor that polls readable while the event is signalled.
    int descriptor() const { return fd_; }

private:
    int fd_ = -1;
    Mode mode_;
};

// Waits for the first of `count` (1 or 2) events: kWaitObject0 + index, kWaitTimeout or
// kWaitFailed. When both are signalled the lower index wins. Any thread may call it.
uint32_t WaitAny(Event* const* events, int count, int timeout_ms);

// Readiness asked for and reported by WaitDescriptor.
enum IoFlags : unsigned {
    kIoReadable = 1,
    kIoWritable = 2,
    kIoHangUp = 4,  // the peer or the device is gone (reported, never asked for)
    kIoError = 8,   // an error is pending on the descriptor (reported only)
};

struct DescriptorWait {
    bool stopped = false;  // `stop` was signalled (and consumed, when auto-reset)
    bool timed_out = false;
    bool failed = false;  // the wait itself failed; `error` holds the errno
    int error = 0;
    unsigned ready = 0;  // IoFlags seen on the descriptor
};

// Waits until `fd` is ready for `wanted` (IoFlags), `stop` is signalled (null: no stop event)
// or `timeout_ms` passed. Hang-up and error conditions always end the wait. A stop request
// wins over readiness. A forced thread termination may end the calling thread here.
DescriptorWait WaitDescriptor(int fd, unsigned wanted, Event* stop, int timeout_ms);

}  // namespace kem::platform
