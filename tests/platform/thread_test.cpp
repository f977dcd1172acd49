// Threads: exit codes, suspended starts, and forced termination of threads that ignore stop
// requests, so that nothing they touch is used after they end (ASan, TSan).
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

TEST(ThreadTest, RunsAndReportsItsExitCodeOncePerHandle) {
    Thread thread;
    EXPECT_EQ(thread.Resume(), -1);
    EXPECT_FALSE(thread.exit_code().has_value());
    ASSERT_EQ(thread.Create(ReturnSeven, nullptr, false), 0);
    EXPECT_TRUE(thread.Join(5000));
    EXPECT_FALSE(thread.IsActive());
    EXPECT_EQ(thread.exit_code(), 7u);
    EXPECT_NE(thread.id(), 0u);
    EXPECT_EQ(thread.Create(ReturnSeven, nullptr, false), EBUSY) << "one thread per handle";
}

TEST(ThreadTest, SuspendedThreadRunsOnlyAfterResumeAndNeverWhenTerminated) {
    Event first, second;
    first.Set();
    second.Set();
    Thread resumed, terminated;
    ASSERT_EQ(resumed.Create(WaitForEvent, &first, true), 0);
    ASSERT_EQ(terminated.Create(WaitForEvent, &second, true), 0);
    EXPECT_FALSE(resumed.Join(50));
    EXPECT_TRUE(resumed.IsActive());
    EXPECT_EQ(first.Wait(0), kWaitObject0) << "a suspended thread must not have run";
    first.Set();
    EXPECT_EQ(resumed.Resume(), 1);
    EXPECT_TRUE(resumed.Join(5000));
    EXPECT_EQ(resumed.exit_code(), 1u);
    EXPECT_EQ(resumed.Resume(), 0);
    terminated.Terminate(9);
    EXPECT_EQ(terminated.exit_code(), 9u);
    EXPECT_EQ(second.Wait(0), kWaitObject0) << "the procedure never ran";
}

// Terminate, destruction and Release each end a thread that never looks at a stop request.
TEST(ThreadTest, ForcedEndsStopAThreadThatIgnoresStopRequests) {
    Counter counter;
    auto expect_ended = [&counter] {
        const int after = counter.ticks;
        SleepMs(30);
        EXPECT_EQ(counter.ticks, after) << "an ended thread must not run on";
    };
    Thread thread;
    ASSERT_EQ(thread.Create(TickForever, &counter, false), 0);
    while (counter.ticks < 2) {
        SleepMs(1);
    }
    EXPECT_FALSE(thread.Join(20));
    thread.Terminate(0xF0FFFFFF);
    EXPECT_FALSE(thread.IsActive());
    EXPECT_EQ(thread.exit_code(), 0xF0FFFFFFu);
    expect_ended();
    {
        Thread scoped;
        ASSERT_EQ(scoped.Create(TickForever, &counter, false), 0);
        SleepMs(10);
    }
    expect_ended();
    Thread again;
    ASSERT_EQ(again.Create(TickForever, &counter, false), 0);
    again.Release();
    EXPECT_FALSE(again.exists());
    expect_ended();
    ASSERT_EQ(again.Create(ReturnSeven, nullptr, false), 0) << "a released handle is reusable";
    EXPECT_TRUE(again.Join(5000));
}
