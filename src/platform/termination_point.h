// Private to the platform layer. Worker threads run with cancellation disabled, so a forced
// termination can only take effect inside the platform's own blocking waits, where the thread
// holds no lock and is about to look at its stop event anyway. A scope of this type marks such
// a wait.
#pragma once

#include <pthread.h>

namespace kem::platform {

class TerminationPoint {
public:
    TerminationPoint() { pthread_setcancelstate(PTHREAD_CANCEL_ENABLE, &previous_); }
    ~TerminationPoint() { pthread_setcancelstate(previous_, nullptr); }
    TerminationPoint(const TerminationPoint&) = delete;
    TerminationPoint& operator=(const TerminationPoint&) = delete;

private:
    int previous_ = PTHREAD_CANCEL_DISABLE;
};

}  // namespace kem::platform
