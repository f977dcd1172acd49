// The filters' byte buffer: growth, taking from the front, limits, clearing, and a producer and
// a consumer on two threads.
#include "encoding/filter_buffer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>

namespace {

std::string Held(FilterBuffer& buffer) {
    kem::platform::CriticalSectionLock hold(buffer.lock());
    return std::string(reinterpret_cast<const char*>(buffer.data()), buffer.size());
}

TEST(FilterBufferTest, GrowsToTwiceOrToWhatIsNeeded) {
    FilterBuffer buffer;
    EXPECT_EQ(buffer.data(), nullptr);
    const std::string block(10000, 'a');
    ASSERT_TRUE(buffer.Append(block.data(), block.size()));
    EXPECT_EQ(buffer.capacity(), 16384u);
    ASSERT_TRUE(buffer.Append(block.data(), block.size()));
    EXPECT_EQ(buffer.capacity(), 32768u);
    const std::string big(100000, 'b');
    ASSERT_TRUE(buffer.Append(big.data(), big.size()));
    EXPECT_EQ(buffer.capacity(), 120000u);
    EXPECT_TRUE(Held(buffer) == std::string(20000, 'a') + big);
}

TEST(FilterBufferTest, ConsumeTakesFromTheFrontAndAppendKeepsWithinTheMaximum) {
    FilterBuffer buffer;
    ASSERT_TRUE(buffer.Append("abcdef", 6));
    char taken[4] = {};
    EXPECT_EQ(buffer.Consume(2, taken), 2u);
    EXPECT_EQ(std::string(taken), "ab");
    EXPECT_EQ(Held(buffer), "cdef");
    const char dummy = 0;
    EXPECT_FALSE(buffer.Append(&dummy, kFilterBufferMaximum - 3));
    EXPECT_FALSE(buffer.Append(nullptr, 3));
    EXPECT_TRUE(buffer.Append(nullptr, 0));
    EXPECT_EQ(Held(buffer), "cdef");
    EXPECT_EQ(buffer.Consume(100), 4u);
    EXPECT_EQ(buffer.size(), 0u);
    EXPECT_EQ(buffer.Consume(1), 0u);
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
    EXPECT_EQ(Held(buffer), "z");
}

TEST(FilterBufferTest, ProducerAndConsumerOnTwoThreadsLoseNothing) {
    FilterBuffer buffer;
    constexpr int kBlocks = 2000;
    std::string sent;
    for (int i = 0; i < kBlocks; ++i) {
        sent += std::string(17, static_cast<char>('a' + i % 26));
    }
    std::thread producer([&] {
        for (int i = 0; i < kBlocks; ++i) {
            buffer.Append(sent.data() + 17 * i, 17);
        }
    });
    std::string received;
    while (received.size() < sent.size()) {
        kem::platform::CriticalSectionLock hold(buffer.lock());
        std::string part(buffer.size(), '\0');
        buffer.Consume(part.size(), part.data());
        received += part;
    }
    producer.join();
    EXPECT_TRUE(received == sent);
}

}  // namespace
