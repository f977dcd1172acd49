// The traffic queue: every sent and received block in the order it happened, the master copy
// the receive display is rendered from, with the TX/RX byte counters.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "platform/critical_section.h"
#include "platform/local_time.h"

struct tagAppConfig;

// One block of traffic. Any non-zero direction counts as received.
struct tagComExchangeData {
    int32_t direction = 0;          // 0: sent by this side; otherwise received
    kem::platform::LocalTime time;  // local time the block was queued, with milliseconds
    std::vector<uint8_t> data;      // the bytes exactly as sent or received
};

constexpr int32_t kTrafficSent = 0;
constexpr int32_t kTrafficReceived = 1;

// True for a received record (any non-zero direction).
inline bool IsReceived(const tagComExchangeData& record) {
    return record.direction != 0;
}

// How far the queue is trimmed after each append.
struct TrafficTrimLimit {
    bool enabled = false;  // AutoClear
    int32_t size_kb = 0;   // AutoClearSize; a negative size counts as 0

    // The limit in bytes, computed in 64 bits so large sizes do not wrap.
    uint64_t LimitBytes() const {
        return size_kb > 0 ? static_cast<uint64_t>(size_kb) * 1024u : 0u;
    }
};

// The trim limit of the settings record (AutoClear, AutoClearSize). Window thread.
TrafficTrimLimit TrimLimitFromConfig(const tagAppConfig& config);

// A record of `count` bytes from `data` stamped with the local time now, for the traffic log
// and TrafficQueue::AddRecord; nothing for null data or a count that is not positive. Any
// thread.
std::optional<tagComExchangeData> MakeTrafficRecord(int32_t direction, const uint8_t* data,
                                                    int64_t count);

// Result of TrafficQueue::AddTraffic.
enum class AddTrafficResult {
    kRejected,     // null data or a count that is not positive: nothing queued or counted
    kQueued,       // queued, counted, and still the newest record
    kTrimmedAway,  // counted, but the block alone exceeded the limit and was dropped at once
};

// The queue with its lock. Appending, trimming and clearing take the lock; the owner renders
// from it on the window thread. Records are kept by value in a deque, so dropping from the
// front costs only what is dropped.
class TrafficQueue {
public:
    // Builds a record stamped with the local time now and queues it, see AddRecord.
    // Any thread; normally the window thread.
    AddTrafficResult AddTraffic(int32_t direction, const uint8_t* data, int64_t count,
                                const TrafficTrimLimit& limit);

    // Queues `record` (counting its bytes into TX or RX), then trims to `limit`. A record
    // without bytes is rejected and not counted. Any thread.
    AddTrafficResult AddRecord(tagComExchangeData record, const TrafficTrimLimit& limit);

    // Drops the oldest records while the queued bytes exceed the limit (only when enabled);
    // the newest goes too when it alone is over. Uses the running total, so the cost is
    // that of the records dropped. Any thread.
    void TrimTraffic(const TrafficTrimLimit& limit);

    // Drops every record; the counters are kept (ResetCounters clears them). Any thread.
    void ClearTraffic();

    // Sets both byte counters to 0. Any thread.
    void ResetCounters();

    // Byte counters; they wrap at 2^32 like the 32-bit counters they show. Any thread.
    uint32_t TxCount() const;
    uint32_t RxCount() const;

    // Number of records and the sum of their sizes. Any thread.
    size_t Count() const;
    uint64_t QueuedBytes() const;

    // Record `index` (0 the oldest). Only for the thread that also appends and trims (the
    // window thread), and only until its next append, trim or clear.
    const tagComExchangeData& At(size_t index) const { return records_[index]; }

    // Calls `visit(record)` for every record, oldest first, under the lock. Any thread.
    template <typename Visitor>
    void ForEach(Visitor&& visit) const {
        kem::platform::CriticalSectionLock hold(lock_);
        for (const tagComExchangeData& record : records_) {
            visit(record);
        }
    }

private:
    void TrimLocked(const TrafficTrimLimit& limit);

    mutable kem::platform::CriticalSection lock_;
    std::deque<tagComExchangeData> records_;
    uint64_t queued_bytes_ = 0;
    uint32_t tx_count_ = 0;
    uint32_t rx_count_ = 0;
};

// The counter text: "%u" below 102400, then "%.3fK", "%.3fM", "%.3fG" of the value divided by
// 1024, 1048576 and 1073741824 at 102400, 1048576 and 1073741824. Pure, any thread.
std::u16string FormatByteCount(uint32_t value);
