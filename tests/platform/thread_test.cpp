#include "platform/thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "platform/event.h"

using namespace kem::platform;

namespace {

uint32_t ReturnSeven(void*) {
    return 7;
}

struct Counter {
    std::atomic<int> ticks{0};
    std::string text = "still alive";  // touched by the thread, so ASan sees a late access
};

// Never looks at a stop request: only a forced termination ends it.
uint32_t TickForever(void* raw) {
    auto& counter = *static_cast<Counter*>(raw);
    for (;;) {
        std::string copy = counter.text;
        ++counter.ticks;
        SleepMs(5);
    }
}

uint32_t WaitForEvent(void* raw) {
    return static_cast<Event*>(raw)->Wait(kInfinite) == kWaitObject0 ? 1 : 2;
}

}  // namespace

TEST(ThreadTest, RunsAndReportsItsExitCode) {
    Thread thread;
    ASSERT_EQ(thread.Create(ReturnSeven, nullptr, false), 0);
    EXPECT_TRUE(thread.Join(5000));
    EXPECT_FALSE(thread.IsActive());
    EXPECT_EQ(thread.exit_code(), 7u);
    EXPECT_NE(thread.id(), 0u);
    EXPECT_EQ(thread.Create(ReturnSeven, nullptr, false), EBUSY) << "one thread per handle";
}

TEST(ThreadTest, SuspendedThreadWaitsForResume) {
    Event event;
    event.Set();
    Thread thread;
    ASSERT_EQ(thread.Create(WaitForEvent, &event, true), 0);
    EXPECT_FALSE(thread.Join(50));
    EXPECT_TRUE(thread.IsActive());
    EXPECT_EQ(event.Wait(0), kWaitObject0) << "a suspended thread must not have run";
    event.Set();
    EXPECT_EQ(thread.Resume(), 1);
    EXPECT_TRUE(thread.Join(5000));
    EXPECT_EQ(thread.exit_code(), 1u);
    EXPECT_EQ(thread.Resume(), 0);
}

TEST(ThreadTest, ResumeWithoutThreadIsMinusOne) {
    Thread thread;
    EXPECT_EQ(thread.Resume(), -1);
    EXPECT_FALSE(thread.IsActive());
    EXPECT_FALSE(thread.exit_code().has_value());
}

TEST(ThreadTest, TerminateEndsAThreadThatIgnoresStopRequests) {
    Counter counter;
    Thread thread;
    ASSERT_EQ(thread.Create(TickForever, &counter, false), 0);
    while (counter.ticks < 2) {
        SleepMs(1);
    }
    EXPECT_FALSE(thread.Join(20));
    thread.Terminate(0xF0FFFFFF);
    EXPECT_FALSE(thread.IsActive());
    EXPECT_EQ(thread.exit_code(), 0xF0FFFFFFu);
    const int after = counter.ticks;
    SleepMs(30);
    EXPECT_EQ(counter.ticks, after) << "a terminated thread must not run on";
}

TEST(ThreadTest, TerminateOfASuspendedThreadNeverRunsIt) {
    Event event;
    Thread thread;
    ASSERT_EQ(thread.Create(WaitForEvent, &event, true), 0);
    event.Set();
    thread.Terminate(9);
    EXPECT_EQ(thread.exit_code(), 9u);
    EXPECT_EQ(event.Wait(0), kWaitObject0) << "the procedure never ran";
}

TEST(ThreadTest, ReleaseAndDestructionEndAnActiveThread) {
    Counter counter;
    {
        Thread thread;
        ASSERT_EQ(thread.Create(TickForever, &counter, false), 0);
        SleepMs(10);
    }
    const int after = counter.ticks;
    SleepMs(30);
    EXPECT_EQ(counter.ticks, after);

    Thread again;
    ASSERT_EQ(again.Create(TickForever, &counter, false), 0);
    again.Release();
    EXPECT_FALSE(again.exists());
    ASSERT_EQ(again.Create(ReturnSeven, nullptr, false), 0) << "a released handle is reusable";
    EXPECT_TRUE(again.Join(5000));
}
