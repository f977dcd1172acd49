// Waiting in tests for something another thread or process does: a hang guard, never a
// measurement.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace kem::testing {

// Polls `condition` every 2 ms until it holds or `timeout_ms` passed; its last value.
inline bool WaitUntil(const std::function<bool()>& condition, int timeout_ms = 5000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return condition();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

}  // namespace kem::testing
