#include "channels/thread_base.h"

using kem::platform::Event;
using kem::platform::kInfinite;

namespace {

constexpr uint32_t kNoLimit = 0xFFFFFFFF;

int ToWaitTimeout(uint32_t timeout_ms) {
    return timeout_ms == kNoLimit || timeout_ms > INT32_MAX ? kInfinite
                                                            : static_cast<int>(timeout_ms);
}

}  // namespace

CKemThreadBaseClass::CKemThreadBaseClass() = default;

CKemThreadBaseClass::~CKemThreadBaseClass() {
    StopForDestruction();
}

char16_t* CKemThreadBaseClass::SetName(const char16_t* text, int32_t count) {
    return kem::channels::SetNameText(m_szName, text, count);
}

int32_t CKemThreadBaseClass::SetName(const char16_t* text) {
    return kem::channels::FormatNameText(m_szName, text);
}

const char16_t* CKemThreadBaseClass::GetName() {
    return m_szName;
}

int32_t CKemThreadBaseClass::Start(bool start_suspended) {
    if (m_pfnThreadProc == nullptr) {
        return -1;
    }
    if (IsRunning()) {
        return 0;
    }
    if (!m_hStopEvent) {
        auto event = std::make_unique<Event>(Event::Mode::kAutoReset);
        if (!event->valid()) {
            return -2;
        }
        m_hStopEvent = std::move(event);
    }
    m_hStopEvent->Reset();
    if (m_pfnThreadProc == &ThreadEntry) {
        if (!m_hWakeEvent) {
            auto event = std::make_unique<Event>(Event::Mode::kAutoReset);
            if (!event->valid()) {
                return -3;
            }
            m_hWakeEvent = std::move(event);
        }
        m_hWakeEvent->Reset();
    }
    // A thread that ended by itself still holds its slot until released here.
    ReleaseEnded();
    const int error = m_hThread.Create(m_pfnThreadProc, m_pThreadParam, true);
    if (error != 0) {
        return error;
    }
    m_dwThreadId = m_hThread.id();
    if (!start_suspended) {
        Resume();
    }
    return 0;
}

int32_t CKemThreadBaseClass::Resume() {
    return m_hThread.Resume();
}

int32_t CKemThreadBaseClass::Stop(uint32_t timeout_ms, bool force) {
    if (!IsRunning()) {
        return 0;
    }
    const uint32_t effective = timeout_ms == 0 ? m_dwStopTimeout : timeout_ms;
    if (m_hStopEvent) {
        m_hStopEvent->Set();
        if (!m_hThread.Join(ToWaitTimeout(effective))) {
            if (!force) {
                m_hStopEvent->Reset();
                return kStopTimedOut;
            }
            m_hThread.Terminate(kExitForced);
        }
    } else if (force) {
        m_hThread.Terminate(kExitForced);
    } else {
        return kStopTimedOut;
    }
    ReleaseEnded();
    return 0;
}

int32_t CKemThreadBaseClass::IsRunning() {
    return m_hThread.IsActive() ? 1 : 0;
}

uint32_t CKemThreadBaseClass::WaitEvents(uint32_t timeout_ms) {
    if (!m_hStopEvent) {
        return kem::platform::kWaitFailed;
    }
    Event* events[2] = {m_hStopEvent.get(), m_hWakeEvent.get()};
    return kem::platform::WaitAny(events, m_hWakeEvent ? 2 : 1, ToWaitTimeout(timeout_ms));
}

uint32_t CKemThreadBaseClass::Run() {
    for (;;) {
        const uint32_t result = WaitEvents(kNoLimit);
        switch (result) {
            case 0:
                return 0;
            case 0x80:
            case 0x81:
                return result;
            case kem::platform::kWaitTimeout:
                return kExitRunTimedOut;
            case kem::platform::kWaitFailed:
                return kem::platform::kWaitFailed;
            default:
                break;  // the wake event, or nothing this loop acts on: wait again
        }
    }
}

uint32_t CKemThreadBaseClass::ThreadEntry(void* object) {
    if (object == nullptr) {
        return kExitNoObject;
    }
    return static_cast<CKemThreadBaseClass*>(object)->Run();
}

void CKemThreadBaseClass::StopForDestruction() {
    if (IsRunning()) {
        if (m_hStopEvent) {
            m_hStopEvent->Set();
        }
        if (!m_hStopEvent || !m_hThread.Join(ToWaitTimeout(m_dwStopTimeout))) {
            m_hThread.Terminate(kExitForced);
        }
    }
    ReleaseEnded();
}

void CKemThreadBaseClass::ReleaseEnded() {
    if (!m_hThread.exists() || m_hThread.IsActive()) {
        return;
    }
    m_hThread.Join(kInfinite);
    m_dwExitCode = m_hThread.exit_code().value_or(m_dwExitCode);
    m_hThread.Release();
    m_dwThreadId = 0;
}
