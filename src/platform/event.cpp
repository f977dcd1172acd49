#include "platform/event.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "platform/termination_point.h"

namespace kem::platform {
namespace {

using Clock = std::chrono::steady_clock;

// Time left of `timeout_ms` since `start`, for restarting an interrupted poll.
int Remaining(int timeout_ms, Clock::time_point start) {
    if (timeout_ms < 0) {
        return -1;
    }
    auto spent =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    return spent >= timeout_ms ? 0 : static_cast<int>(timeout_ms - spent);
}

// poll() for what is left of `timeout_ms` since `start`, restarted after a signal; the one
// place where a forced termination can end a waiting thread.
int PollAtTerminationPoint(pollfd* fds, int count, int timeout_ms, Clock::time_point start) {
    for (;;) {
        int result;
        {
            TerminationPoint point;
            result = poll(fds, count, Remaining(timeout_ms, start));
        }
        if (result >= 0 || errno != EINTR) {
            return result;
        }
    }
}

// Takes the signal of an event whose descriptor polled readable. An auto-reset event is
// consumed; another waiter may have consumed it first, then this is false.
bool Take(Event& event) {
    return event.TryTake();
}

}  // namespace

Event::Event(Mode mode, bool signalled) : mode_(mode) {
    fd_ = eventfd(signalled ? 1 : 0, EFD_NONBLOCK | EFD_CLOEXEC);
}

Event::~Event() {
    if (fd_ >= 0) {
        close(fd_);
    }
}

void Event::Set() {
    uint64_t one = 1;
    // The counter only saturates after 2^64 sets; a failed write means it is signalled already.
    [[maybe_unused]] auto written = write(fd_, &one, sizeof one);
}

void Event::Reset() {
    uint64_t value;
    [[maybe_unused]] auto got = read(fd_, &value, sizeof value);
}

bool Event::TryTake() {
    if (mode_ == Mode::kManualReset) {
        pollfd p{fd_, POLLIN, 0};
        return poll(&p, 1, 0) == 1 && (p.revents & POLLIN);
    }
    uint64_t value;
    return read(fd_, &value, sizeof value) == sizeof value;
}

uint32_t Event::Wait(int timeout_ms) {
    Event* self = this;
    return WaitAny(&self, 1, timeout_ms);
}

uint32_t WaitAny(Event* const* events, int count, int timeout_ms) {
    if (count < 1 || count > 2) {
        return kWaitFailed;
    }
    pollfd fds[2];
    for (int i = 0; i < count; ++i) {
        fds[i] = {events[i]->descriptor(), POLLIN, 0};
    }
    const auto start = Clock::now();
    for (;;) {
        const int result = PollAtTerminationPoint(fds, count, timeout_ms, start);
        if (result < 0) {
            return kWaitFailed;
        }
        if (result == 0) {
            return kWaitTimeout;
        }
        for (int i = 0; i < count; ++i) {
            if ((fds[i].revents & POLLIN) && Take(*events[i])) {
                return kWaitObject0 + i;
            }
        }
        // Another waiter took the signal first; wait for the next one.
    }
}

DescriptorWait WaitDescriptor(int fd, unsigned wanted, Event* stop, int timeout_ms) {
    DescriptorWait outcome;
    pollfd fds[2];
    short events = 0;
    if (wanted & kIoReadable) {
        events |= POLLIN;
    }
    if (wanted & kIoWritable) {
        events |= POLLOUT;
    }
    fds[0] = {fd, events, 0};
    int count = 1;
    if (stop != nullptr) {
        fds[1] = {stop->descriptor(), POLLIN, 0};
        count = 2;
    }
    const auto start = Clock::now();
    for (;;) {
        const int result = PollAtTerminationPoint(fds, count, timeout_ms, start);
        if (result < 0) {
            outcome.failed = true;
            outcome.error = errno;
            return outcome;
        }
        if (result == 0) {
            outcome.timed_out = true;
            return outcome;
        }
        if (count == 2 && (fds[1].revents & POLLIN) && Take(*stop)) {
            outcome.stopped = true;
            return outcome;
        }
        const short seen = fds[0].revents;
        if (seen & POLLIN) {
            outcome.ready |= kIoReadable;
        }
        if (seen & POLLOUT) {
            outcome.ready |= kIoWritable;
        }
        if (seen & (POLLHUP | POLLRDHUP)) {
            outcome.ready |= kIoHangUp;
        }
        if (seen & (POLLERR | POLLNVAL)) {
            outcome.ready |= kIoError;
        }
        if (outcome.ready != 0) {
            return outcome;
        }
    }
}

}  // namespace kem::platform
