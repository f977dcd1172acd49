#include "terminal/traffic_queue.h"

#include <cstdio>
#include <utility>

#include "settings/app_config.h"

TrafficTrimLimit TrimLimitFromConfig(const tagAppConfig& config) {
    TrafficTrimLimit limit;
    limit.enabled = config.AutoClear != 0;
    limit.size_kb = config.AutoClearSize;
    return limit;
}

std::optional<tagComExchangeData> MakeTrafficRecord(int32_t direction, const uint8_t* data,
                                                    int64_t count) {
    if (data == nullptr || count <= 0) {
        return std::nullopt;
    }
    tagComExchangeData record;
    record.direction = direction;
    record.time = kem::platform::NowLocal();
    record.data.assign(data, data + count);
    return record;
}

AddTrafficResult TrafficQueue::AddTraffic(int32_t direction, const uint8_t* data, int64_t count,
                                          const TrafficTrimLimit& limit) {
    std::optional<tagComExchangeData> record = MakeTrafficRecord(direction, data, count);
    if (!record) {
        return AddTrafficResult::kRejected;
    }
    return AddRecord(std::move(*record), limit);
}

AddTrafficResult TrafficQueue::AddRecord(tagComExchangeData record, const TrafficTrimLimit& limit) {
    if (record.data.empty()) {
        return AddTrafficResult::kRejected;
    }
    const uint64_t size = record.data.size();
    const bool received = IsReceived(record);
    kem::platform::CriticalSectionLock hold(lock_);
    records_.push_back(std::move(record));
    queued_bytes_ += size;
    // The counters are 32-bit on purpose: they wrap as the displayed counters always have.
    if (received) {
        rx_count_ += static_cast<uint32_t>(size);
    } else {
        tx_count_ += static_cast<uint32_t>(size);
    }
    TrimLocked(limit);
    // Trimming removes oldest first, so the newest survives unless the queue emptied.
    return records_.empty() ? AddTrafficResult::kTrimmedAway : AddTrafficResult::kQueued;
}

void TrafficQueue::TrimTraffic(const TrafficTrimLimit& limit) {
    kem::platform::CriticalSectionLock hold(lock_);
    TrimLocked(limit);
}

void TrafficQueue::TrimLocked(const TrafficTrimLimit& limit) {
    if (!limit.enabled) {
        return;
    }
    const uint64_t max_bytes = limit.LimitBytes();
    while (!records_.empty() && queued_bytes_ > max_bytes) {
        queued_bytes_ -= records_.front().data.size();
        records_.pop_front();
    }
}

void TrafficQueue::ClearTraffic() {
    kem::platform::CriticalSectionLock hold(lock_);
    records_.clear();
    queued_bytes_ = 0;
}

void TrafficQueue::ResetCounters() {
    kem::platform::CriticalSectionLock hold(lock_);
    tx_count_ = 0;
    rx_count_ = 0;
}

uint32_t TrafficQueue::TxCount() const {
    kem::platform::CriticalSectionLock hold(lock_);
    return tx_count_;
}

uint32_t TrafficQueue::RxCount() const {
    kem::platform::CriticalSectionLock hold(lock_);
    return rx_count_;
}

size_t TrafficQueue::Count() const {
    kem::platform::CriticalSectionLock hold(lock_);
    return records_.size();
}

uint64_t TrafficQueue::QueuedBytes() const {
    kem::platform::CriticalSectionLock hold(lock_);
    return queued_bytes_;
}

std::u16string FormatByteCount(uint32_t value) {
    char text[32];
    if (value < 102400u) {
        std::snprintf(text, sizeof text, "%u", value);
    } else if (value < 1048576u) {
        std::snprintf(text, sizeof text, "%.3fK", value / 1024.0);
    } else if (value < 1073741824u) {
        std::snprintf(text, sizeof text, "%.3fM", value / 1048576.0);
    } else {
        std::snprintf(text, sizeof text, "%.3fG", value / 1073741824.0);
    }
    // The text is ASCII digits, '.', and a unit letter.
    std::u16string result;
    for (const char* p = text; *p != '\0'; ++p) {
        result.push_back(static_cast<char16_t>(*p));
    }
    return result;
}
