// The traffic queue: copies, counters, trimming to the auto-clear limit (with its 32-bit
// edges), concurrent adders, and the byte counts as the window shows them.
#include "terminal/traffic_queue.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "settings/app_config.h"

namespace {

const TrafficTrimLimit kNoTrim{false, 0};

TrafficTrimLimit Trim(int32_t size_kb) {
    return TrafficTrimLimit{true, size_kb};
}

uint64_t SumOfSizes(const TrafficQueue& queue) {
    uint64_t sum = 0;
    queue.ForEach([&](const tagComExchangeData& record) { sum += record.data.size(); });
    return sum;
}

TEST(AddTraffic, RejectsEmptyInputCopiesBlocksExactlyAndCountsNonZeroDirectionsAsReceived) {
    TrafficQueue queue;
    const uint8_t one = 0xA5;
    EXPECT_EQ(queue.AddTraffic(1, nullptr, 4, kNoTrim), AddTrafficResult::kRejected);
    EXPECT_EQ(queue.AddTraffic(1, &one, 0, kNoTrim), AddTrafficResult::kRejected);
    EXPECT_EQ(queue.AddTraffic(1, &one, -3, kNoTrim), AddTrafficResult::kRejected);
    EXPECT_EQ(queue.AddRecord(tagComExchangeData{}, kNoTrim), AddTrafficResult::kRejected);
    EXPECT_FALSE(MakeTrafficRecord(1, nullptr, 3).has_value());
    EXPECT_FALSE(MakeTrafficRecord(1, &one, 0).has_value());
    EXPECT_EQ(queue.RxCount() + queue.TxCount(), 0u);
    ASSERT_EQ(queue.AddTraffic(0, &one, 1, kNoTrim), AddTrafficResult::kQueued);
    std::vector<uint8_t> big(1 << 20);
    for (size_t i = 0; i < big.size(); ++i) {
        big[i] = static_cast<uint8_t>(i * 131 + 7);
    }
    ASSERT_EQ(queue.AddTraffic(1, big.data(), static_cast<int64_t>(big.size()), kNoTrim),
              AddTrafficResult::kQueued);
    ASSERT_EQ(queue.AddTraffic(-7, &one, 1, kNoTrim), AddTrafficResult::kQueued);
    ASSERT_EQ(queue.Count(), 3u);
    EXPECT_EQ(queue.At(0).data, std::vector<uint8_t>{0xA5});
    EXPECT_EQ(queue.At(0).direction, 0);
    EXPECT_FALSE(IsReceived(queue.At(0)));
    EXPECT_TRUE(queue.At(1).data == big);
    EXPECT_EQ(queue.At(1).direction, 1);
    EXPECT_TRUE(IsReceived(queue.At(2)));
    EXPECT_EQ(queue.TxCount(), 1u);
    EXPECT_EQ(queue.RxCount(), (1u << 20) + 1u);
    EXPECT_EQ(queue.QueuedBytes(), (1u << 20) + 2u);
}

TEST(AddTraffic, StampsTheLocalTimeWithMilliseconds) {
    TrafficQueue queue;
    const uint8_t byte = 1;
    const kem::platform::LocalTime before = kem::platform::NowLocal();
    queue.AddTraffic(1, &byte, 1, kNoTrim);
    const kem::platform::LocalTime after = kem::platform::NowLocal();
    const kem::platform::LocalTime& stamp = queue.At(0).time;
    EXPECT_GE(stamp.unix_seconds, before.unix_seconds);
    EXPECT_LE(stamp.unix_seconds, after.unix_seconds);
    EXPECT_GE(stamp.millisecond, 0);
    EXPECT_LE(stamp.millisecond, 999);
    EXPECT_GE(stamp.year, 2000);
}

TEST(TrimTraffic, DropsOldestBlocksPastTheLimitOnlyWhenAutoClearIsOn) {
    TrafficQueue queue;
    const std::vector<uint8_t> data(400, 'x');
    for (int i = 0; i < 3; ++i) {
        queue.AddTraffic(1, data.data(), 400, TrafficTrimLimit{false, 1});
    }
    EXPECT_EQ(queue.QueuedBytes(), 1200u);  // off: nothing dropped
    queue.TrimTraffic(Trim(1));             // asked for: the oldest goes
    EXPECT_EQ(queue.Count(), 2u);
    EXPECT_EQ(queue.QueuedBytes(), 800u);
    queue.ClearTraffic();
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(queue.AddTraffic(i % 2, data.data(), 400, Trim(1)), AddTrafficResult::kQueued);
    }
    // 1200 > 1024: the first block goes, 800 remain.
    EXPECT_EQ(queue.Count(), 2u);
    EXPECT_EQ(queue.QueuedBytes(), 800u);
    EXPECT_EQ(queue.At(0).direction, 1);
    const uint8_t exact[224] = {};
    EXPECT_EQ(queue.AddTraffic(0, exact, 224, Trim(1)), AddTrafficResult::kQueued);
    EXPECT_EQ(queue.QueuedBytes(), 1024u) << "exactly at the limit is kept";
    EXPECT_EQ(queue.Count(), 3u);
    // A block larger than the limit is counted but not kept, and takes the rest with it.
    const std::vector<uint8_t> large(2000, 'x');
    EXPECT_EQ(queue.AddTraffic(1, large.data(), 2000, Trim(1)), AddTrafficResult::kTrimmedAway);
    EXPECT_EQ(queue.Count(), 0u);
    EXPECT_EQ(queue.QueuedBytes(), 0u);
    EXPECT_EQ(queue.TxCount() + queue.RxCount(), 1200u + 1424u + 2000u);
    // So is a record logged first and queued afterwards.
    const uint8_t bytes[3] = {1, 2, 3};
    const std::optional<tagComExchangeData> record = MakeTrafficRecord(5, bytes, 3);
    ASSERT_TRUE(record.has_value());
    EXPECT_EQ(record->direction, 5);
    EXPECT_EQ(record->data, std::vector<uint8_t>({1, 2, 3}));
    EXPECT_EQ(queue.AddRecord(*record, Trim(0)), AddTrafficResult::kTrimmedAway);
    EXPECT_EQ(queue.RxCount(), 2000u + 1200u + 400u + 3u);
}

TEST(TrimTraffic, SizesAtTheEdgesOfThirtyTwoBits) {
    // 4194304 KiB is 2^32 bytes, which a 32-bit product would turn into 0.
    const struct {
        int32_t size_kb;
        AddTrafficResult result;
    } rows[] = {{0, AddTrafficResult::kTrimmedAway},
                {-1, AddTrafficResult::kTrimmedAway},
                {-2147483647 - 1, AddTrafficResult::kTrimmedAway},
                {4194304, AddTrafficResult::kQueued},
                {2147483647, AddTrafficResult::kQueued}};
    const std::vector<uint8_t> data(5000, 'x');
    for (const auto& row : rows) {
        SCOPED_TRACE(row.size_kb);
        TrafficQueue queue;
        EXPECT_EQ(queue.AddTraffic(0, data.data(), 5000, Trim(row.size_kb)), row.result);
        EXPECT_EQ(queue.AddTraffic(0, data.data(), 1, Trim(row.size_kb)), row.result);
        EXPECT_EQ(queue.Count(), row.result == AddTrafficResult::kQueued ? 2u : 0u);
        EXPECT_EQ(queue.TxCount(), 5001u);
    }
    EXPECT_EQ(TrafficTrimLimit({true, 2147483647}).LimitBytes(), 2147483647ull * 1024ull);
    EXPECT_EQ(TrafficTrimLimit({true, -5}).LimitBytes(), 0u);
}

TEST(ClearTraffic, EmptiesTheQueueKeepingTheCountersUntilResetAndTheLimitIsTheSettings) {
    TrafficQueue queue;
    const std::vector<uint8_t> data(10, 'x');
    queue.AddTraffic(1, data.data(), 10, kNoTrim);
    queue.AddTraffic(0, data.data(), 10, kNoTrim);
    queue.ClearTraffic();
    EXPECT_EQ(queue.Count(), 0u);
    EXPECT_EQ(queue.QueuedBytes(), 0u);
    EXPECT_EQ(queue.RxCount(), 10u);
    queue.ResetCounters();
    EXPECT_EQ(queue.RxCount() + queue.TxCount(), 0u);
    queue.AddTraffic(1, data.data(), 10, kNoTrim);
    EXPECT_EQ(queue.Count(), 1u);
    EXPECT_EQ(queue.QueuedBytes(), 10u);
    // The limit comes from the settings record.
    tagAppConfig config = DefaultAppConfig();
    config.AutoClear = 1;
    config.AutoClearSize = 7;
    EXPECT_TRUE(TrimLimitFromConfig(config).enabled);
    EXPECT_EQ(TrimLimitFromConfig(config).LimitBytes(), 7u * 1024u);
    config.AutoClear = 0;
    EXPECT_FALSE(TrimLimitFromConfig(config).enabled);
}

TEST(TrafficQueue, ConcurrentAddersAndReadersKeepCountsConsistent) {
    TrafficQueue queue;
    constexpr int kPerThread = 2000;
    auto adder = [&](int32_t direction) {
        const uint8_t data[3] = {1, 2, 3};
        for (int i = 0; i < kPerThread; ++i) {
            queue.AddTraffic(direction, data, 3, Trim(4));
        }
    };
    std::thread sent(adder, 0);
    std::thread received(adder, 1);
    for (int i = 0; i < 200; ++i) {
        EXPECT_EQ(queue.QueuedBytes() % 3, 0u);
        EXPECT_LE(SumOfSizes(queue), 4096u);
    }
    sent.join();
    received.join();
    EXPECT_EQ(queue.TxCount(), 3u * kPerThread);
    EXPECT_EQ(queue.RxCount(), 3u * kPerThread);
    EXPECT_EQ(queue.QueuedBytes(), SumOfSizes(queue));
    EXPECT_LE(queue.QueuedBytes(), 4096u);
}

TEST(FormatByteCount, Table) {
    const struct {
        uint32_t value;
        const char16_t* text;
    } rows[] = {{0, u"0"},
                {1, u"1"},
                {102399, u"102399"},
                {102400, u"100.000K"},
                {1048575, u"1023.999K"},
                {1048576, u"1.000M"},
                {1572864, u"1.500M"},
                {1073741823, u"1024.000M"},
                {1073741824, u"1.000G"},
                {4294967295u, u"4.000G"}};
    for (const auto& row : rows) {
        EXPECT_EQ(FormatByteCount(row.value), std::u16string(row.text)) << row.value;
    }
}

}  // namespace
