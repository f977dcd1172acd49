// The worker-thread base of the channels: one thread with a stop event (and, for the default
// procedure, a wake event), started, suspended, resumed and stopped in one uniform way.
#pragma once

#include <cstdint>
#include <memory>

#include "channels/name_text.h"
#include "platform/event.h"
#include "platform/thread.h"

// Exit codes this class reserves.
constexpr uint32_t kExitForced = 0xF0FFFFFF;       // ended by a forced stop
constexpr uint32_t kExitNoObject = 0xF0FF0001;     // ThreadEntry without object
constexpr uint32_t kExitRunTimedOut = 0xF0FF00FF;  // Run ended by a wait time-out

// Status of Stop when the thread did not end in time and force was not asked.
constexpr int32_t kStopTimedOut = 998;

class CKemThreadBaseClass {
public:
    using ThreadProc = kem::platform::ThreadProc;

    CKemThreadBaseClass();
    // Stops a thread that is still active: stop event, m_dwStopTimeout, then a forced end.
    // A class that replaces Run or the procedure must stop the thread in its own destructor,
    // since the thread may call into the derived part, which is gone by the time this runs.
    virtual ~CKemThreadBaseClass();
    CKemThreadBaseClass(const CKemThreadBaseClass&) = delete;
    CKemThreadBaseClass& operator=(const CKemThreadBaseClass&) = delete;

    // Name field; see name_text.h. Owner's thread.
    virtual char16_t* SetName(const char16_t* text, int32_t count);
    virtual int32_t SetName(const char16_t* text);
    virtual const char16_t* GetName();

    // 0 started (or already running); -1 no procedure; -2 / -3 the stop / wake event could not
    // be created; otherwise the errno of the failed thread creation. Owner's thread.
    virtual int32_t Start(bool start_suspended);

    // The previous suspend count, or -1 when there is no thread. Owner's thread.
    virtual int32_t Resume();

    // Signals the stop event and waits `timeout_ms` (0: m_dwStopTimeout). 0 stopped (or was not
    // running); kStopTimedOut when it went on and `force` was false (the stop event is reset and
    // the thread keeps running); with `force` the thread is ended with kExitForced. Owner's thread.
    virtual int32_t Stop(uint32_t timeout_ms, bool force);

    // 1 while the thread exists and has not ended, else 0.
    virtual int32_t IsRunning();

    // Worker thread: waits for the stop event (result 0) or the wake event (1), or times out
    // (0x102); 0xFFFFFFFF on failure. 0xFFFFFFFF as time-out means no limit.
    virtual uint32_t WaitEvents(uint32_t timeout_ms);

    // The default thread body: waits until the stop event; see the exit codes above.
    virtual uint32_t Run();

    // The default thread procedure: calls Run on `object`.
    static uint32_t ThreadEntry(void* object);

    uint32_t exit_code() const { return m_dwExitCode; }
    kem::platform::Event* stop_event() { return m_hStopEvent.get(); }
    kem::platform::Event* wake_event() { return m_hWakeEvent.get(); }

protected:
    // Stops an active thread as the destructor does; for derived destructors.
    void StopForDestruction();

    kem::platform::Thread m_hThread;
    uint32_t m_dwThreadId = 0;
    ThreadProc m_pfnThreadProc = &ThreadEntry;
    void* m_pThreadParam = this;
    uint32_t m_dwExitCode = 0;
    uint32_t m_dwStopTimeout = 1000;
    std::unique_ptr<kem::platform::Event> m_hStopEvent;
    char16_t m_szName[kem::channels::kNameUnits] = {};
    std::unique_ptr<kem::platform::Event> m_hWakeEvent;

private:
    // Records the exit code and forgets a thread that has ended.
    void ReleaseEnded();
};
