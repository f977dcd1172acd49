// The worker thread base: start, suspend/resume, wake-ups, cooperative and forced stop, names.
#include "channels/thread_base.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>

#include "support/wait_until.h"

using kem::platform::SleepMs;

namespace {

// Counts wake-ups of the default procedure.
class WakeCounter : public CKemThreadBaseClass {
public:
    ~WakeCounter() override { StopForDestruction(); }
    uint32_t WaitEvents(uint32_t timeout_ms) override {
        const uint32_t result = CKemThreadBaseClass::WaitEvents(timeout_ms);
        if (result == 1) {
            ++wakes;
        }
        return result;
    }
    std::atomic<int> wakes{0};
};

// A procedure that ignores the stop event, as a stuck worker would.
class Stubborn : public CKemThreadBaseClass {
public:
    Stubborn() {
        m_pfnThreadProc = &Proc;
        m_pThreadParam = this;
    }
    ~Stubborn() override { StopForDestruction(); }
    std::atomic<int> ticks{0};

private:
    static uint32_t Proc(void* raw) {
        for (auto* self = static_cast<Stubborn*>(raw);;) {
            ++self->ticks;
            SleepMs(10);
        }
    }
};

class NoProcedure : public CKemThreadBaseClass {
public:
    NoProcedure() { m_pfnThreadProc = nullptr; }
};

}  // namespace

TEST(ThreadBaseTest, StartTwiceWakeUpsRestartAfterAStaleStopRequestAndResume) {
    WakeCounter worker;
    ASSERT_EQ(worker.Start(false), 0);
    EXPECT_EQ(worker.Start(false), 0);
    for (int i = 0; i < 3; ++i) {
        worker.wake_event()->Set();
        SleepMs(10);
    }
    EXPECT_EQ(worker.IsRunning(), 1);  // a wake-up does not end the default body
    EXPECT_EQ(worker.wakes, 3);
    EXPECT_EQ(worker.Stop(0, false), 0);
    EXPECT_EQ(worker.IsRunning(), 0);
    EXPECT_EQ(worker.exit_code(), 0u);
    worker.stop_event()->Set();  // a stale request must not end the next thread
    ASSERT_EQ(worker.Start(false), 0);
    SleepMs(20);
    EXPECT_EQ(worker.IsRunning(), 1);
    EXPECT_EQ(worker.Stop(0, false), 0);
    // A suspended start runs only after Resume.
    ASSERT_EQ(worker.Start(true), 0);
    worker.wake_event()->Set();
    SleepMs(30);
    EXPECT_EQ(worker.wakes, 3) << "a suspended thread must not run";
    EXPECT_EQ(worker.Resume(), 1);
    EXPECT_TRUE(kem::testing::WaitUntil([&] { return worker.wakes == 4; }, 1000));
    EXPECT_EQ(worker.Stop(0, false), 0);
}

TEST(ThreadBaseTest, StopOfAStuckThreadTimesOutThenForceEndsIt) {
    Stubborn worker;
    ASSERT_EQ(worker.Start(false), 0);
    EXPECT_EQ(worker.wake_event(), nullptr) << "an own procedure gets no wake event";
    EXPECT_EQ(worker.Stop(50, false), kStopTimedOut);
    EXPECT_EQ(worker.IsRunning(), 1);
    EXPECT_EQ(worker.stop_event()->Wait(0), kem::platform::kWaitTimeout)
        << "the stop event is reset after a timed-out stop";
    EXPECT_EQ(worker.Stop(50, true), 0);
    EXPECT_EQ(worker.IsRunning(), 0);
    EXPECT_EQ(worker.exit_code(), kExitForced);
    const int after = worker.ticks;
    SleepMs(30);
    EXPECT_EQ(worker.ticks, after);
}

TEST(ThreadBaseTest, DestructionEndsAStuckThread) {
    auto worker = std::make_unique<Stubborn>();
    ASSERT_EQ(worker->Start(false), 0);
    ASSERT_TRUE(kem::testing::WaitUntil([&] { return worker->ticks > 0; }));
    const auto start = std::chrono::steady_clock::now();
    worker.reset();  // the sanitizers catch a thread left touching the freed object
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST(ThreadBaseTest, StartWithoutProcedureAndStopWithoutThread) {
    NoProcedure idle;
    EXPECT_EQ(idle.Start(false), -1);
    EXPECT_EQ(idle.Stop(0, false), 0);
    EXPECT_EQ(idle.Resume(), -1);
    EXPECT_EQ(CKemThreadBaseClass::ThreadEntry(nullptr), kExitNoObject);
}

TEST(ThreadBaseTest, SetNameCapsAt255UnitsAndKeepsTheTerminator) {
    CKemThreadBaseClass named;
    const std::u16string longer(1000, u'n');
    for (int32_t count : {-1, 1000, 255}) {
        named.SetName(longer.c_str(), count);
        EXPECT_EQ(std::u16string(named.GetName()), std::u16string(255, u'n')) << count;
    }
    named.SetName(u"COM3", 2);
    EXPECT_EQ(std::u16string(named.GetName()), u"CO");
    EXPECT_EQ(named.SetName(u"port"), 4);
    EXPECT_EQ(std::u16string(named.GetName()), u"port");
    EXPECT_EQ(named.SetName(longer.c_str()), -1);
    EXPECT_EQ(std::u16string(named.GetName()), std::u16string(255, u'n'));
}
