#include "encoding/filter_buffer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>

TEST(FilterBufferTest, StartsEmptyWithTheInitialCapacity) {
    FilterBuffer buffer;
    EXPECT_EQ(buffer.size(), 0u);
    EXPECT_EQ(buffer.data(), nullptr);
    EXPECT_EQ(buffer.capacity(), 16384u);
    EXPECT_EQ(buffer.maximum(), 0x10000000u);
}

TEST(FilterBufferTest, GrowsToTwiceOrToWhatIsNeeded) {
    FilterBuffer buffer;
    const std::string block(10000, 'a');
    ASSERT_TRUE(buffer.Append(block.data(), block.size()));
    EXPECT_EQ(buffer.capacity(), 16384u);
    ASSERT_TRUE(buffer.Append(block.data(), block.size()));
    EXPECT_EQ(buffer.capacity(), 32768u);
    const std::string big(100000, 'b');
    ASSERT_TRUE(buffer.Append(big.data(), big.size()));
    EXPECT_EQ(buffer.capacity(), 120000u);
    EXPECT_EQ(buffer.size(), 120000u);
    kem::platform::CriticalSectionLock hold(buffer.lock());
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(buffer.data()), 20000),
              std::string(20000, 'a'));
    EXPECT_EQ(buffer.data()[119999], 'b');
}

TEST(FilterBufferTest, ConsumeTakesFromTheFrontAndCopiesOut) {
    FilterBuffer buffer;
    ASSERT_TRUE(buffer.Append("abcdef", 6));
    char taken[4] = {};
    EXPECT_EQ(buffer.Consume(2, taken), 2u);
    EXPECT_EQ(std::string(taken), "ab");
    EXPECT_EQ(buffer.size(), 4u);
    {
        kem::platform::CriticalSectionLock hold(buffer.lock());
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(buffer.data())), "cdef");
    }
    EXPECT_EQ(buffer.Consume(100), 4u);
    EXPECT_EQ(buffer.size(), 0u);
    EXPECT_EQ(buffer.Consume(1), 0u);
}

TEST(FilterBufferTest, AppendBeyondTheMaximumFailsAndKeepsTheContent) {
    FilterBuffer buffer;
    ASSERT_TRUE(buffer.Append("xy", 2));
    const char dummy = 0;
    EXPECT_FALSE(buffer.Append(&dummy, kFilterBufferMaximum));
    EXPECT_FALSE(buffer.Append(nullptr, 3));
    EXPECT_EQ(buffer.size(), 2u);
    EXPECT_TRUE(buffer.Append(nullptr, 0));
}

TEST(FilterBufferTest, ClearZeroFillsTheWholeBlockAndReleaseFrees) {
    FilterBuffer buffer;
    const std::string block(20000, 'x');
    ASSERT_TRUE(buffer.Append(block.data(), block.size()));
    buffer.Consume(15000);
    ASSERT_TRUE(buffer.Append("abc", 3));
    buffer.Clear();
    EXPECT_EQ(buffer.size(), 0u);
    {
        kem::platform::CriticalSectionLock hold(buffer.lock());
        ASSERT_NE(buffer.data(), nullptr);
        const uint8_t* end = buffer.data() + buffer.capacity();
        EXPECT_EQ(std::count(buffer.data(), end, 0), buffer.capacity());
    }
    buffer.Release();
    EXPECT_EQ(buffer.data(), nullptr);
    EXPECT_TRUE(buffer.Append("z", 1));
    EXPECT_EQ(buffer.size(), 1u);
}

TEST(FilterBufferTest, ProducerAndConsumerOnTwoThreadsLoseNothing) {
    FilterBuffer buffer;
    constexpr int kBlocks = 2000;
    std::thread producer([&] {
        for (int i = 0; i < kBlocks; ++i) {
            const std::string block(17, static_cast<char>('a' + i % 26));
            buffer.Append(block.data(), block.size());
        }
    });
    std::string received;
    while (received.size() < 17u * kBlocks) {
        kem::platform::CriticalSectionLock hold(buffer.lock());
        const size_t held = buffer.size();
        std::string part(held, '\0');
        buffer.Consume(held, part.data());
        received += part;
    }
    producer.join();
    ASSERT_EQ(received.size(), 17u * kBlocks);
    for (int i = 0; i < kBlocks; ++i) {
        ASSERT_EQ(received.substr(17 * i, 17), std::string(17, static_cast<char>('a' + i % 26)))
            << "block " << i;
    }
}
