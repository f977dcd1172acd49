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

std::vector<uint8_t> Bytes(size_t count, uint8_t value = 'x') {
    return std::vector<uint8_t>(count, value);
}

uint64_t SumOfSizes(const TrafficQueue& queue) {
    uint64_t sum = 0;
    queue.ForEach([&](const tagComExchangeData& record) { sum += record.data.size(); });
    return sum;
}

TEST(AddTraffic, RejectsNullDataAndCountsThatAreNotPositive) {
    TrafficQueue queue;
    const std::vector<uint8_t> data = Bytes(4);
    EXPECT_EQ(queue.AddTraffic(1, nullptr, 4, kNoTrim), AddTrafficResult::kRejected);
    EXPECT_EQ(queue.AddTraffic(1, data.data(), 0, kNoTrim), AddTrafficResult::kRejected);
    EXPECT_EQ(queue.AddTraffic(1, data.data(), -3, kNoTrim), AddTrafficResult::kRejected);
    EXPECT_EQ(queue.AddRecord(tagComExchangeData{}, kNoTrim), AddTrafficResult::kRejected);
    EXPECT_EQ(queue.Count(), 0u);
    EXPECT_EQ(queue.RxCount(), 0u);
    EXPECT_EQ(queue.TxCount(), 0u);
}

TEST(AddTraffic, BlocksOfOneByteAndOneMebibyteAreCopiedExactly) {
    TrafficQueue queue;
    const uint8_t one = 0xA5;
    ASSERT_EQ(queue.AddTraffic(0, &one, 1, kNoTrim), AddTrafficResult::kQueued);
    std::vector<uint8_t> big(1 << 20);
    for (size_t i = 0; i < big.size(); ++i) {
        big[i] = static_cast<uint8_t>(i * 131 + 7);
    }
    ASSERT_EQ(queue.AddTraffic(1, big.data(), static_cast<int64_t>(big.size()), kNoTrim),
              AddTrafficResult::kQueued);
    ASSERT_EQ(queue.Count(), 2u);
    EXPECT_EQ(queue.At(0).data, std::vector<uint8_t>{0xA5});
    EXPECT_EQ(queue.At(0).direction, 0);
    EXPECT_EQ(queue.At(1).data, big);
    EXPECT_EQ(queue.At(1).direction, 1);
    EXPECT_EQ(queue.TxCount(), 1u);
    EXPECT_EQ(queue.RxCount(), 1u << 20);
    EXPECT_EQ(queue.QueuedBytes(), (1u << 20) + 1u);
}

TEST(MakeTrafficRecord, CopiesTheBytesOrRejectsEmptyInput) {
    const uint8_t bytes[3] = {1, 2, 3};
    EXPECT_FALSE(MakeTrafficRecord(1, nullptr, 3).has_value());
    EXPECT_FALSE(MakeTrafficRecord(1, bytes, 0).has_value());
    const std::optional<tagComExchangeData> record = MakeTrafficRecord(5, bytes, 3);
    ASSERT_TRUE(record.has_value());
    EXPECT_EQ(record->direction, 5);
    EXPECT_EQ(record->data, std::vector<uint8_t>({1, 2, 3}));
    // A record logged first and queued afterwards is counted although trimmed away at once.
    TrafficQueue queue;
    EXPECT_EQ(queue.AddRecord(*record, Trim(0)), AddTrafficResult::kTrimmedAway);
    EXPECT_EQ(queue.RxCount(), 3u);
}

TEST(AddTraffic, AnyNonZeroDirectionCountsAsReceived) {
    TrafficQueue queue;
    const std::vector<uint8_t> data = Bytes(3);
    queue.AddTraffic(-7, data.data(), 3, kNoTrim);
    queue.AddTraffic(2, data.data(), 3, kNoTrim);
    queue.AddTraffic(0, data.data(), 3, kNoTrim);
    EXPECT_EQ(queue.RxCount(), 6u);
    EXPECT_EQ(queue.TxCount(), 3u);
    EXPECT_TRUE(IsReceived(queue.At(0)));
    EXPECT_FALSE(IsReceived(queue.At(2)));
}

TEST(AddTraffic, StampsTheLocalTimeWithMilliseconds) {
    TrafficQueue queue;
    const std::vector<uint8_t> data = Bytes(1);
    const kem::platform::LocalTime before = kem::platform::NowLocal();
    queue.AddTraffic(1, data.data(), 1, kNoTrim);
    const kem::platform::LocalTime after = kem::platform::NowLocal();
    const kem::platform::LocalTime& stamp = queue.At(0).time;
    EXPECT_GE(stamp.unix_seconds, before.unix_seconds);
    EXPECT_LE(stamp.unix_seconds, after.unix_seconds);
    EXPECT_GE(stamp.millisecond, 0);
    EXPECT_LE(stamp.millisecond, 999);
    EXPECT_GE(stamp.year, 2000);
}

TEST(TrimTraffic, DoesNothingWhenAutoClearIsOff) {
    TrafficQueue queue;
    const std::vector<uint8_t> data = Bytes(600);
    for (int i = 0; i < 10; ++i) {
        queue.AddTraffic(1, data.data(), 600, TrafficTrimLimit{false, 1});
    }
    EXPECT_EQ(queue.Count(), 10u);
    EXPECT_EQ(queue.QueuedBytes(), 6000u);
}

TEST(TrimTraffic, DropsOldestBlocksPastOneKibibyte) {
    TrafficQueue queue;
    const std::vector<uint8_t> data = Bytes(400);
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
    EXPECT_EQ(queue.TxCount() + queue.RxCount(), 1424u);
}

TEST(TrimTraffic, ABlockLargerThanTheLimitIsCountedButNotKept) {
    TrafficQueue queue;
    const std::vector<uint8_t> small = Bytes(100);
    const std::vector<uint8_t> large = Bytes(2000);
    queue.AddTraffic(1, small.data(), 100, Trim(1));
    EXPECT_EQ(queue.AddTraffic(1, large.data(), 2000, Trim(1)), AddTrafficResult::kTrimmedAway);
    EXPECT_EQ(queue.Count(), 0u);
    EXPECT_EQ(queue.QueuedBytes(), 0u);
    EXPECT_EQ(queue.RxCount(), 2100u);
}

TEST(TrimTraffic, SizeZeroAndNegativeDropEveryBlock) {
    for (const int32_t size : {0, -1, -2147483647 - 1}) {
        TrafficQueue queue;
        const std::vector<uint8_t> data = Bytes(1);
        EXPECT_EQ(queue.AddTraffic(0, data.data(), 1, Trim(size)), AddTrafficResult::kTrimmedAway)
            << size;
        EXPECT_EQ(queue.AddTraffic(0, data.data(), 1, Trim(size)), AddTrafficResult::kTrimmedAway)
            << size;
        EXPECT_EQ(queue.Count(), 0u) << size;
        EXPECT_EQ(queue.TxCount(), 2u) << size;
    }
}

TEST(TrimTraffic, LargeSizesDoNotWrapIn32Bits) {
    // 4194304 KiB is 2^32 bytes, which a 32-bit product would turn into 0.
    for (const int32_t size : {4194304, 2147483647}) {
        TrafficQueue queue;
        const std::vector<uint8_t> data = Bytes(5000);
        EXPECT_EQ(queue.AddTraffic(1, data.data(), 5000, Trim(size)), AddTrafficResult::kQueued)
            << size;
        EXPECT_EQ(queue.Count(), 1u) << size;
    }
    EXPECT_EQ(TrafficTrimLimit({true, 2147483647}).LimitBytes(), 2147483647ull * 1024ull);
    EXPECT_EQ(TrafficTrimLimit({true, -5}).LimitBytes(), 0u);
}

TEST(TrimTraffic, RunningTotalMatchesTheQueueAfterMixedOperations) {
    TrafficQueue queue;
    uint32_t seed = 99;
    for (int step = 0; step < 2000; ++step) {
        seed = seed * 1103515245u + 12345u;
        const size_t count = 1 + (seed >> 16) % 700;
        const std::vector<uint8_t> data = Bytes(count);
        const int32_t size_kb = static_cast<int32_t>((seed >> 8) % 6);
        queue.AddTraffic(static_cast<int32_t>(seed & 1), data.data(), static_cast<int64_t>(count),
                         TrafficTrimLimit{(seed & 6) != 0, size_kb});
        if (step % 97 == 0) {
            queue.TrimTraffic(Trim(1));
            EXPECT_LE(queue.QueuedBytes(), 1024u);
        }
        ASSERT_EQ(queue.QueuedBytes(), SumOfSizes(queue)) << "step " << step;
    }
}

TEST(TrimTraffic, LimitComesFromTheSettingsRecord) {
    tagAppConfig config = DefaultAppConfig();
    config.AutoClear = 1;
    config.AutoClearSize = 7;
    TrafficTrimLimit limit = TrimLimitFromConfig(config);
    EXPECT_TRUE(limit.enabled);
    EXPECT_EQ(limit.LimitBytes(), 7u * 1024u);
    config.AutoClear = 0;
    EXPECT_FALSE(TrimLimitFromConfig(config).enabled);
}

TEST(ClearTraffic, EmptiesTheQueueAndKeepsTheCounters) {
    TrafficQueue queue;
    const std::vector<uint8_t> data = Bytes(10);
    queue.AddTraffic(1, data.data(), 10, kNoTrim);
    queue.AddTraffic(0, data.data(), 10, kNoTrim);
    queue.ClearTraffic();
    EXPECT_EQ(queue.Count(), 0u);
    EXPECT_EQ(queue.QueuedBytes(), 0u);
    EXPECT_EQ(queue.RxCount(), 10u);
    queue.ResetCounters();
    EXPECT_EQ(queue.RxCount(), 0u);
    EXPECT_EQ(queue.TxCount(), 0u);
    queue.AddTraffic(1, data.data(), 10, kNoTrim);
    EXPECT_EQ(queue.Count(), 1u);
    EXPECT_EQ(queue.QueuedBytes(), 10u);
}

TEST(TrafficQueue, ConcurrentAddersAndReadersKeepCountsConsistent) {
    TrafficQueue queue;
    constexpr int kPerThread = 2000;
    auto adder = [&](int32_t direction) {
        const std::vector<uint8_t> data = Bytes(3);
        for (int i = 0; i < kPerThread; ++i) {
            queue.AddTraffic(direction, data.data(), 3, Trim(4));
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

struct ByteCountRow {
    uint32_t value;
    const char16_t* text;
};

TEST(FormatByteCount, Table) {
    const ByteCountRow rows[] = {
        {0, u"0"},
        {1, u"1"},
        {102399, u"102399"},
        {102400, u"100.000K"},
        {1048575, u"1023.999K"},
        {1048576, u"1.000M"},
        {1572864, u"1.500M"},
        {1073741823, u"1024.000M"},
        {1073741824, u"1.000G"},
        {4294967295u, u"4.000G"},
    };
    for (const ByteCountRow& row : rows) {
        EXPECT_EQ(FormatByteCount(row.value), std::u16string(row.text)) << row.value;
    }
}

}  // namespace
