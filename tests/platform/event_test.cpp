// Events and descriptor waits: auto and manual reset, the lowest signalled index first, and
// stop requests that win over readiness and end a blocked wait from another thread.
#include "platform/event.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "platform/thread.h"

using namespace kem::platform;

TEST(EventTest, AutoResetIsConsumedByOneWaitManualResetStaysUntilReset) {
    Event automatic(Event::Mode::kAutoReset);
    ASSERT_TRUE(automatic.valid());
    EXPECT_EQ(automatic.Wait(0), kWaitTimeout);
    automatic.Set();
    automatic.Set();  // setting twice still signals once
    EXPECT_EQ(automatic.Wait(0), kWaitObject0);
    EXPECT_EQ(automatic.Wait(0), kWaitTimeout);
    Event manual(Event::Mode::kManualReset, true);
    EXPECT_EQ(manual.Wait(0), kWaitObject0);
    EXPECT_EQ(manual.Wait(0), kWaitObject0);
    manual.Reset();
    EXPECT_EQ(manual.Wait(0), kWaitTimeout);
}

TEST(EventTest, WaitAnyReportsTheSignalledIndexLowerFirst) {
    Event first, second;
    Event* both[2] = {&first, &second};
    EXPECT_EQ(WaitAny(both, 2, 0), kWaitTimeout);
    second.Set();
    EXPECT_EQ(WaitAny(both, 2, 0), kWaitObject0 + 1);
    first.Set();
    second.Set();
    EXPECT_EQ(WaitAny(both, 2, 0), kWaitObject0);
    EXPECT_EQ(WaitAny(both, 2, 0), kWaitObject0 + 1);
    EXPECT_EQ(WaitAny(both, 3, 0), kWaitFailed);
}

TEST(EventTest, OnlyOneOfTwoWaitersTakesAnAutoResetSignalSetFromAnotherThread) {
    Event event;
    std::atomic<int> woken{0};
    auto waiter = [&] {
        if (event.Wait(300) == kWaitObject0) {
            ++woken;
        }
    };
    std::thread a(waiter), b(waiter);
    SleepMs(20);
    event.Set();
    a.join();
    b.join();
    EXPECT_EQ(woken.load(), 1);
}

class DescriptorWaitTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds_), 0); }
    void TearDown() override {
        for (int fd : fds_) {
            if (fd >= 0) {
                close(fd);
            }
        }
    }
    int fds_[2] = {-1, -1};
};

TEST_F(DescriptorWaitTest, ReadableAfterDataStopWinsOverReadinessAndPeerCloseEndsAWait) {
    EXPECT_TRUE(WaitDescriptor(fds_[0], kIoReadable, nullptr, 0).timed_out);
    ASSERT_EQ(write(fds_[1], "x", 1), 1);
    auto outcome = WaitDescriptor(fds_[0], kIoReadable, nullptr, 1000);
    EXPECT_FALSE(outcome.timed_out);
    EXPECT_TRUE(outcome.ready & kIoReadable);
    Event stop;
    stop.Set();
    EXPECT_TRUE(WaitDescriptor(fds_[0], kIoReadable, &stop, 1000).stopped);
    EXPECT_EQ(stop.Wait(0), kWaitTimeout) << "the stop signal is consumed";
    char byte;
    ASSERT_EQ(read(fds_[0], &byte, 1), 1);
    close(fds_[1]);
    fds_[1] = -1;
    outcome = WaitDescriptor(fds_[0], kIoReadable, nullptr, 1000);
    EXPECT_FALSE(outcome.timed_out);
    EXPECT_TRUE(outcome.ready & (kIoHangUp | kIoReadable));
}

TEST_F(DescriptorWaitTest, StopFromAnotherThreadEndsABlockedWait) {
    Event stop;
    std::thread stopper([&] {
        SleepMs(20);
        stop.Set();
    });
    const auto outcome = WaitDescriptor(fds_[0], kIoReadable, &stop, 5000);
    stopper.join();
    EXPECT_TRUE(outcome.stopped);
}
