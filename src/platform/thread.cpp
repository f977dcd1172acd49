#include "platform/thread.h"

#include <pthread.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <mutex>

#include "platform/event.h"
#include "platform/termination_point.h"

namespace kem::platform {

struct Thread::State {
    ThreadProc proc = nullptr;
    void* argument = nullptr;
    pthread_t handle{};
    bool joined = false;
    std::atomic<uint32_t> id{0};

    std::mutex mutex;
    std::condition_variable resumed;
    int suspend_count = 0;
    bool terminated = false;  // Terminate came before the procedure started

    Event finished{Event::Mode::kManualReset};
    std::atomic<bool> active{true};
    std::optional<uint32_t> exit_code;  // written by the thread before `finished` is set
};

namespace {

// Marks the thread finished however its procedure leaves, a forced unwind included.
struct FinishGuard {
    Thread::State& state;
    ~FinishGuard() {
        state.active = false;
        state.finished.Set();
    }
};

extern "C" void* ThreadMain(void* raw) {
    // The state is kept alive by the Thread object, which joins before letting go of it.
    auto& state = *static_cast<Thread::State*>(raw);
    pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, nullptr);
    pthread_setcanceltype(PTHREAD_CANCEL_DEFERRED, nullptr);
    FinishGuard guard{state};
    {
        std::unique_lock lock(state.mutex);
        state.resumed.wait(lock, [&] { return state.suspend_count == 0; });
        if (state.terminated) {
            return nullptr;
        }
    }
    const uint32_t result = state.proc(state.argument);
    std::lock_guard lock(state.mutex);
    if (!state.exit_code) {
        state.exit_code = result;
    }
    return nullptr;
}

}  // namespace

Thread::Thread() = default;

Thread::~Thread() {
    Release();
}

int Thread::Create(ThreadProc proc, void* argument, bool suspended) {
    if (state_) {
        return EBUSY;
    }
    auto state = std::make_shared<State>();
    if (!state->finished.valid()) {
        return EMFILE;
    }
    state->proc = proc;
    state->argument = argument;
    state->suspend_count = suspended ? 1 : 0;
    static std::atomic<uint32_t> last_id{0};
    state->id = ++last_id;
    const int error = pthread_create(&state->handle, nullptr, ThreadMain, state.get());
    if (error != 0) {
        return error;
    }
    state_ = std::move(state);
    return 0;
}

bool Thread::exists() const {
    return state_ != nullptr;
}

bool Thread::IsActive() const {
    return state_ && state_->active;
}

int Thread::Resume() {
    if (!state_) {
        return -1;
    }
    std::lock_guard lock(state_->mutex);
    const int previous = state_->suspend_count;
    if (previous > 0 && --state_->suspend_count == 0) {
        state_->resumed.notify_all();
    }
    return previous;
}

bool Thread::Join(int timeout_ms) {
    if (!state_) {
        return true;
    }
    if (!state_->joined) {
        if (state_->finished.Wait(timeout_ms) != kWaitObject0) {
            return false;
        }
        pthread_join(state_->handle, nullptr);
        state_->joined = true;
    }
    return true;
}

void Thread::Terminate(uint32_t exit_code) {
    if (!state_ || state_->joined) {
        return;
    }
    {
        std::lock_guard lock(state_->mutex);
        if (!state_->exit_code && state_->active) {
            state_->exit_code = exit_code;
        }
        // A suspended thread is let go so that it reaches its end without running.
        state_->terminated = true;
        state_->suspend_count = 0;
        state_->resumed.notify_all();
    }
    if (state_->active) {
        pthread_cancel(state_->handle);
    }
    pthread_join(state_->handle, nullptr);
    state_->joined = true;
}

std::optional<uint32_t> Thread::exit_code() const {
    if (!state_ || state_->active) {
        return std::nullopt;
    }
    std::lock_guard lock(state_->mutex);
    return state_->exit_code;
}

void Thread::Release() {
    if (!state_) {
        return;
    }
    if (!Join(0)) {
        Terminate(0xFFFFFFFF);
    }
    state_.reset();
}

uint32_t Thread::id() const {
    return state_ ? state_->id.load() : 0;
}

bool Thread::IsCurrent() const {
    return state_ && pthread_equal(state_->handle, pthread_self());
}

void SleepMs(int ms) {
    if (ms <= 0) {
        return;
    }
    timespec delay{ms / 1000, (ms % 1000) * 1000000L};
    TerminationPoint point;
    while (nanosleep(&delay, &delay) != 0 && errno == EINTR) {
    }
}

}  // namespace kem::platform
