#include "channels/port_com.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

#include "platform/code_page.h"
#include "platform/event.h"
#include "platform/thread.h"

using kem::platform::DescriptorWait;
using kem::platform::Event;
using kem::platform::MakeOsError;
using kem::platform::SerialDevice;
using kem::platform::SerialFlow;
using kem::platform::SerialIo;
using kem::platform::SerialLineSettings;
using kem::platform::SerialParity;
using kem::platform::SerialStatus;
using kem::platform::SerialStopBits;

namespace kem::channels {

std::optional<int32_t> ComNumberFromName(std::u16string_view name) {
    if (name.size() <= 3) {
        return std::nullopt;
    }
    const auto lower = [](char16_t c) -> char16_t {
        return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c;
    };
    const auto digit = [](char16_t c) { return c >= u'0' && c <= u'9'; };
    if (lower(name[0]) != u'c' || lower(name[1]) != u'o' || lower(name[2]) != u'm' ||
        !digit(name[3])) {
        return std::nullopt;
    }
    int64_t number = 0;
    for (size_t i = 3; i < name.size() && digit(name[i]); ++i) {
        number = std::min<int64_t>(number * 10 + (name[i] - u'0'), INT32_MAX);
    }
    return static_cast<int32_t>(number);
}

std::u16string ComDevicePath(int32_t number) {
    std::u16string path = u"/dev/ttyS";
    for (char c : std::to_string(static_cast<int64_t>(number) - 1)) {
        path.push_back(static_cast<char16_t>(c));
    }
    return path;
}

std::optional<SerialLineSettings> LineSettingsFromParam(const tagComPortParam& param,
                                                        bool dtr_enable) {
    SerialLineSettings settings;
    settings.baud = param.dwBaudRate;
    settings.data_bits = param.nByteSize;
    switch (param.nParity) {
        case 1:
            settings.parity = SerialParity::kOdd;
            break;
        case 2:
            settings.parity = SerialParity::kEven;
            break;
        case 3:
            settings.parity = SerialParity::kMark;
            break;
        case 4:
            settings.parity = SerialParity::kSpace;
            break;
        default:
            settings.parity = SerialParity::kNone;
            break;
    }
    switch (param.nStopBits) {
        case 0:
            settings.stop_bits = SerialStopBits::kOne;
            break;
        case 1:
            settings.stop_bits = SerialStopBits::kOneAndHalf;
            break;
        case 2:
            settings.stop_bits = SerialStopBits::kTwo;
            break;
        default:
            return std::nullopt;
    }
    settings.flow = param.nFlowControl == 0   ? SerialFlow::kXonXoff
                    : param.nFlowControl == 1 ? SerialFlow::kRtsCts
                                              : SerialFlow::kNone;
    settings.dtr_enable = dtr_enable;
    return settings;
}

uint64_t ReadBurstRule::TotalMs(int32_t requested) const {
    return static_cast<uint64_t>(total_multiplier_ms) *
               static_cast<uint64_t>(std::max(requested, 0)) +
           total_constant_ms;
}

ReadBurstRule ReadBurstRuleFromParam(const tagComPortParam& param) {
    constexpr uint32_t kNone = 0xFFFFFFFF;
    ReadBurstRule rule;
    rule.immediate = param.ReadIntervalTimeout == kNone && param.ReadTotalTimeoutMultiplier == 0 &&
                     param.ReadTotalTimeoutConstant == 0;
    rule.interval_ms = param.ReadIntervalTimeout == kNone ? 0 : param.ReadIntervalTimeout;
    rule.total_multiplier_ms = param.ReadTotalTimeoutMultiplier;
    rule.total_constant_ms = param.ReadTotalTimeoutConstant;
    return rule;
}

int32_t DropConsumed(uint8_t* buffer, int32_t held, int32_t used) {
    if (used == 0) {
        return held;
    }
    if (used < 0 || used >= held) {
        return 0;
    }
    std::memmove(buffer, buffer + used, static_cast<size_t>(held - used));
    return held - used;
}

}  // namespace kem::channels

namespace {

// Close waits this long at most for queued output to leave before it cuts the line.
constexpr int kCloseDrainMs = 200;

// SetCommParam leaves a reopened port closed this long, so the far end sees the change.
constexpr int kReopenPauseMs = 100;

constexpr uint32_t kStopWaitMs = 1000;

int64_t MsUntil(std::chrono::steady_clock::time_point when) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(when -
                                                                 std::chrono::steady_clock::now())
        .count();
}

}  // namespace

CKemPortCom::CKemPortCom() {
    m_pfnThreadProc = &ReadThreadProc;
    m_pThreadParam = this;
}

CKemPortCom::~CKemPortCom() {
    Close();
}

int32_t CKemPortCom::SetPortName(const char16_t* name) {
    const bool same = name == nullptr ? !m_pszPortPath.has_value()
                                      : m_pszPortPath.has_value() && *m_pszPortPath == name;
    if (same) {
        return 1;
    }
    Close();
    m_pszPortPath.reset();
    if (name == nullptr) {
        return 1;
    }
    const std::u16string_view text(name);
    if (const auto number = kem::channels::ComNumberFromName(text)) {
        SetPortNumber(*number);
        return 1;
    }
    m_pszPortPath = std::u16string(text);
    return 1;
}

int32_t CKemPortCom::SetPortNumber(int32_t number) {
    if (number == m_nPortNumber) {
        return 1;
    }
    Close();
    m_nPortNumber = std::clamp(number, 1, 256);
    m_pszPortPath.reset();
    return 1;
}

int32_t CKemPortCom::SetCommParam(const tagComPortParam& param) {
    m_Param = param;
    if (IsOpen()) {
        Close();
        kem::platform::SleepMs(kReopenPauseMs);
        Open();
    }
    return 0;
}

int32_t CKemPortCom::Open() {
    try {
        if (!m_pszPortPath) {
            if (m_nPortNumber < 1 || m_nPortNumber > 256) {
                return kBadPortNumber;
            }
            m_pszPortPath = kem::channels::ComDevicePath(m_nPortNumber);
        }
        if (m_hCom) {
            if (IsRunning()) {
                return kAlreadyOpen;
            }
            // The read thread ended. A device that went away is opened afresh (its descriptor
            // is dead for good); otherwise the held one is configured again.
            if (m_bDeviceGone) {
                Close();
            }
        }
        if (!m_hCom) {
            auto device = std::make_unique<SerialDevice>();
            const SerialStatus status = device->Open(kem::platform::WideToUtf8(*m_pszPortPath));
            if (status != SerialStatus::kOk) {
                m_LastError = device->last_error();
                return status == SerialStatus::kNotTerminal ? kReadStateFailed : kOpenDeviceFailed;
            }
            m_hCom = std::move(device);
        }
        m_bDeviceGone = false;

        const auto settings = kem::channels::LineSettingsFromParam(m_Param, m_bDtrEnable != 0);
        if (!settings) {
            m_LastError = MakeOsError(EINVAL);
            return FailOpen(kApplyStateFailed);
        }
        if (m_hCom->Configure(*settings) != SerialStatus::kOk) {
            m_LastError = m_hCom->last_error();
            return FailOpen(kApplyStateFailed);
        }
        // Stale bytes of an earlier session are no part of this one. The driver's queues have
        // a fixed size here, and the time-outs are applied by this class, so the purge is the
        // only step left of the queue set-up; its result does not matter.
        m_hCom->Purge();

        if (!m_pRecvBuf) {
            m_pRecvBuf.reset(new (std::nothrow) uint8_t[m_nRecvBufSize]());
            if (!m_pRecvBuf) {
                m_LastError = MakeOsError(ENOMEM);
                return FailOpen(kNoMemory);
            }
        }
        m_nRecvLen = 0;

        // DTR goes up here even with DTR control off, as the line has always done at open.
        m_hCom->SetDtr(true);
        m_hCom->SetRts(true);

        m_ReadRule = kem::channels::ReadBurstRuleFromParam(m_Param);
        if (Start(false) != 0) {
            return FailOpen(kStartFailed);
        }
        m_LastError = kem::platform::OsError{};
        return kOpened;
    } catch (const std::bad_alloc&) {
        m_LastError = MakeOsError(ENOMEM);
        return FailOpen(kNoMemory);
    }
}

int32_t CKemPortCom::FailOpen(int32_t code) {
    Close();
    return code;
}

int32_t CKemPortCom::Close() {
    if (m_hCom) {
        m_hCom->Drain(kCloseDrainMs);
    }
    // The stop event wakes the reader from its wait on the device at once.
    Stop(kStopWaitMs, true);
    if (m_hCom) {
        m_hCom->Close();
        m_hCom.reset();
    }
    m_nRecvLen = 0;
    m_bDeviceGone = false;
    return 0;
}

int32_t CKemPortCom::Write(const void* data, int32_t length) {
    if (data == nullptr || length <= 0) {
        return 0;
    }
    if (!IsOpen()) {
        return kWriteNotOpen;
    }
    kem::platform::CriticalSectionLock lock(m_csIo);
    // Line errors arrive with the received bytes here; there is no error state to clear first.
    const auto start = Clock::now();
    const bool timed =
        m_Param.WriteTotalTimeoutMultiplier != 0 || m_Param.WriteTotalTimeoutConstant != 0;
    const auto total = std::chrono::milliseconds(
        static_cast<int64_t>(m_Param.WriteTotalTimeoutMultiplier) * length +
        m_Param.WriteTotalTimeoutConstant);
    const auto stall = std::chrono::milliseconds(std::max(m_nWriteStallMs, 0));
    const auto* bytes = static_cast<const uint8_t*>(data);
    const int fd = m_hCom->descriptor();
    int32_t written = 0;
    auto last_progress = start;
    while (written < length) {
        const SerialIo io = m_hCom->Write(bytes + written, static_cast<size_t>(length - written));
        if (io.status == SerialStatus::kOk) {
            written += static_cast<int32_t>(io.count);
            last_progress = Clock::now();
            continue;
        }
        if (io.status != SerialStatus::kWouldBlock) {
            m_LastError = MakeOsError(io.error != 0 ? io.error : EIO);
            return kWriteFailed;
        }
        const int64_t left = MsUntil(timed ? start + total : last_progress + stall);
        if (left <= 0) {
            m_LastError = MakeOsError(ETIMEDOUT);
            return kWriteFailed;
        }
        const DescriptorWait wait = kem::platform::WaitDescriptor(
            fd, kem::platform::kIoWritable, nullptr, kem::platform::ClampWaitMs(left));
        if (wait.failed) {
            m_LastError = MakeOsError(wait.error);
            return kWriteFailed;
        }
        if ((wait.ready & kem::platform::kIoWritable) == 0 &&
            (wait.ready & (kem::platform::kIoHangUp | kem::platform::kIoError)) != 0) {
            m_LastError = MakeOsError(EIO);
            return kWriteFailed;
        }
    }
    // The bytes are written once they left the port, as far as the bound allows; a line held
    // by flow control must not hold the caller longer. The outcome does not change the result.
    const int64_t drain_ms = timed ? MsUntil(start + total) : stall.count();
    m_hCom->Drain(kem::platform::ClampWaitMs(drain_ms));
    return written;
}

int32_t CKemPortCom::Send(const void* data, int32_t length) {
    return Write(data, length);
}

int32_t CKemPortCom::IsOpen() {
    return m_hCom && IsRunning() ? 1 : 0;
}

int32_t CKemPortCom::SetDtr(int32_t enable) {
    if (!IsOpen()) {
        m_bDtrEnable = enable != 0 ? 1 : 0;
        return m_bDtrEnable;
    }
    kem::platform::CriticalSectionLock lock(m_csIo);
    switch (m_hCom->SetDtrControl(enable != 0)) {
        case SerialStatus::kOk:
            m_bDtrEnable = enable != 0 ? 1 : 0;
            break;
        case SerialStatus::kRejected:
            // Recorded, but the line did not take it: the enabled state is assumed, as ever.
            m_bDtrEnable = 1;
            break;
        default:
            break;  // the line cannot be read: nothing changed
    }
    return m_bDtrEnable;
}

int32_t CKemPortCom::GetDtr() {
    if (IsOpen()) {
        kem::platform::SerialLineReadback line;
        if (m_hCom->ReadBack(line) == SerialStatus::kOk) {
            m_bDtrEnable = m_hCom->requested().dtr_enable ? 1 : 0;
        }
    }
    return m_bDtrEnable;
}

uint32_t CKemPortCom::ReadThreadProc(void* self) {
    auto* port = static_cast<CKemPortCom*>(self);
    const uint32_t code = port->ReadLoop();
    if (code != kReadStopped && port->m_pfnOnGone != nullptr) {
        port->m_pfnOnGone(port->m_pUser);
    }
    return code;
}

uint32_t CKemPortCom::ReadLoop() {
    Event* const stop = m_hStopEvent.get();
    const int fd = m_hCom->descriptor();
    // A pause that a stop request cuts short: the exit code, or nothing to go on.
    const auto pause = [stop]() -> std::optional<uint32_t> {
        const uint32_t waited = stop->Wait(kem::channels::kBurstWaitCapMs);
        if (waited == kem::platform::kWaitTimeout) {
            return std::nullopt;
        }
        return waited == kem::platform::kWaitObject0 ? kReadStopped : kReadWaitFailed;
    };
    bool read_first = false;
    for (;;) {
        if (m_nRecvLen >= m_nRecvBufSize) {
            // The call-back keeps a full buffer: nothing more is read, and the bytes are
            // offered again after a pause instead of at the pace of the readable device.
            if (const auto code = pause()) {
                return *code;
            }
            Deliver();
            continue;
        }
        bool hang_up = false;
        if (read_first) {
            // A stream keeps the reader busy without a wait, so the stop request is looked at
            // here instead.
            if (stop->TryTake()) {
                return kReadStopped;
            }
        } else {
            const bool offer_kept = m_nRecvLen > 0 && m_nKeptOfferMs > 0;
            const DescriptorWait wait = kem::platform::WaitDescriptor(
                fd, kem::platform::kIoReadable, stop,
                offer_kept ? m_nKeptOfferMs : kem::platform::kInfinite);
            if (wait.stopped) {
                return kReadStopped;
            }
            if (wait.failed) {
                return kReadWaitFailed;
            }
            if (wait.timed_out) {
                Deliver();  // the line is quiet: the kept bytes are offered again
                continue;
            }
            hang_up = (wait.ready & (kem::platform::kIoHangUp | kem::platform::kIoError)) != 0;
        }
        const BurstResult burst = ReadBurst(stop, fd, hang_up);
        if (burst.stopped) {
            return kReadStopped;
        }
        // Only new bytes are delivered: bytes the call-back kept wait for the next ones.
        if (burst.bytes > 0) {
            Deliver();
        }
        if (burst.gone) {
            m_bDeviceGone = true;
            return kReadDeviceGone;
        }
        if (burst.bytes == 0 && !read_first) {
            // Readable, yet nothing came: pause rather than spin on the device.
            if (const auto code = pause()) {
                return *code;
            }
        }
        // After a burst that brought bytes, more are likely there already: read before
        // waiting, which saves a wait per burst while data streams. An empty read leads back
        // to the wait. Only for immediate bursts: any other burst ended because the line
        // went quiet, and would wait inside the burst again.
        read_first = m_ReadRule.immediate && burst.bytes > 0;
    }
}

CKemPortCom::BurstResult CKemPortCom::ReadBurst(Event* stop, int fd, bool hang_up) {
    BurstResult result;
    result.hang_up = hang_up;
    uint8_t* const buffer = m_pRecvBuf.get();
    std::memset(buffer + m_nRecvLen, 0, static_cast<size_t>(m_nRecvBufSize - m_nRecvLen));
    kem::platform::CriticalSectionLock lock(m_csIo);
    const int32_t requested = m_nRecvBufSize - m_nRecvLen;
    const auto start = Clock::now();
    auto last_byte = start;
    while (m_nRecvLen < m_nRecvBufSize) {
        const int32_t room = m_nRecvBufSize - m_nRecvLen;
        const SerialIo io = m_hCom->Read(buffer + m_nRecvLen, static_cast<size_t>(room));
        if (io.status == SerialStatus::kOk) {
            const auto count = static_cast<int32_t>(io.count);
            m_nRecvLen += count;
            result.bytes += count;
            last_byte = Clock::now();
            if (m_ReadRule.immediate && count < room) {
                break;  // the driver held no more
            }
            continue;
        }
        // Nothing to read although the device reported a hang-up or an error: it is gone,
        // and waiting again would only spin.
        if (io.status != SerialStatus::kWouldBlock || result.hang_up) {
            result.gone = true;
            break;
        }
        if (m_ReadRule.immediate || !WaitForMore(stop, fd, start, last_byte, requested, result)) {
            break;
        }
    }
    return result;
}

bool CKemPortCom::WaitForMore(Event* stop, int fd, Clock::time_point burst_start,
                              Clock::time_point last_byte, int32_t requested, BurstResult& result) {
    int64_t wait_ms = kem::channels::kBurstWaitCapMs;
    if (m_ReadRule.interval_ms != 0) {
        wait_ms = std::min(wait_ms,
                           MsUntil(last_byte + std::chrono::milliseconds(m_ReadRule.interval_ms)));
    }
    if (const uint64_t total_ms = m_ReadRule.TotalMs(requested); total_ms != 0) {
        const auto capped = static_cast<int64_t>(std::min<uint64_t>(total_ms, INT32_MAX));
        wait_ms = std::min(wait_ms, MsUntil(burst_start + std::chrono::milliseconds(capped)));
    }
    if (wait_ms <= 0) {
        return false;
    }
    const DescriptorWait wait = kem::platform::WaitDescriptor(fd, kem::platform::kIoReadable, stop,
                                                              static_cast<int>(wait_ms));
    if (wait.stopped) {
        result.stopped = true;
        return false;
    }
    if (wait.failed || wait.timed_out) {
        return false;
    }
    result.hang_up = (wait.ready & (kem::platform::kIoHangUp | kem::platform::kIoError)) != 0;
    return true;
}

void CKemPortCom::Deliver() {
    const int32_t held = m_nRecvLen;
    // Without a call-back nobody takes the bytes; keeping them would only stall the reader.
    const int32_t used =
        m_pfnOnReceived != nullptr
            ? m_pfnOnReceived(m_pszPortPath->c_str(), m_pRecvBuf.get(), held, m_pUser)
            : held;
    m_nRecvLen = kem::channels::DropConsumed(m_pRecvBuf.get(), held, used);
}
