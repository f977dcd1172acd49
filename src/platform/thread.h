// A worker thread that can be created suspended, resumed, joined with a time-out and, as a
// last resort, terminated. Termination never leaves the thread running: it takes effect at the
// thread's next platform wait (Event::Wait, WaitAny, WaitDescriptor, SleepMs) and Terminate
// returns only after the thread is gone, so the object it worked on is safe to destroy.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>

namespace kem::platform {

using ThreadProc = uint32_t (*)(void* argument);

class Thread {
public:
    Thread();
    // Ends a thread that is still active (Terminate) and joins it.
    ~Thread();
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    // Creates the thread running `proc(argument)`; with `suspended` it waits for Resume before
    // running. Returns 0 or the errno of the failed creation. A previous thread must have been
    // released (Release) first; then this returns EBUSY.
    int Create(ThreadProc proc, void* argument, bool suspended);

    // True from Create until Release, whether or not the procedure has returned.
    bool exists() const;

    // True while the thread exists and its procedure has not returned (suspended counts).
    bool IsActive() const;

    // Lowers the suspend count: returns the previous count (0 when it was running), or -1
    // when there is no thread.
    int Resume();

    // Waits up to `timeout_ms` (kInfinite: no limit) for the procedure to end. True when it
    // ended; the thread is then joined and its exit code readable.
    bool Join(int timeout_ms);

    // Forces the thread to end with `exit_code` at its next platform wait and waits for that.
    void Terminate(uint32_t exit_code);

    // The procedure's result, or the code given to Terminate; nothing while active.
    std::optional<uint32_t> exit_code() const;

    // Forgets the thread; an active one is terminated first (exit code 0xFFFFFFFF).
    void Release();

    // A number naming the thread in this process (for logs), 0 when there is none.
    uint32_t id() const;

    // True when called on this thread itself.
    bool IsCurrent() const;

    struct State;

private:
    std::shared_ptr<State> state_;
};

// Sleeps for `ms` milliseconds; a forced termination may end the calling thread here.
void SleepMs(int ms);

}  // namespace kem::platform
