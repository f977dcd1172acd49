// A re-entrant lock: the same thread may enter again, as the channels' I/O paths expect.
#pragma once

#include <mutex>

namespace kem::platform {

class CriticalSection {
public:
    void Enter() { mutex_.lock(); }
    void Leave() { mutex_.unlock(); }
    bool TryEnter() { return mutex_.try_lock(); }

    // For std::lock_guard and std::unique_lock.
    void lock() { Enter(); }
    void unlock() { Leave(); }

private:
    std::recursive_mutex mutex_;
};

// Holds a critical section for one scope.
using CriticalSectionLock = std::lock_guard<CriticalSection>;

}  // namespace kem::platform
