#include "channels/rfc2217_port.h"

#include <algorithm>
#include <cerrno>
#include <new>
#include <string>

#include "channels/net_address.h"
#include "platform/code_page.h"
#include "platform/debug_sink.h"
#include "platform/event.h"

namespace platform = kem::platform;
namespace telnet = kem::channels::telnet;
using kem::channels::Rfc2217Key;
using kem::channels::Rfc2217Setting;

namespace {

constexpr uint32_t kStopWaitMs = 1000;
constexpr size_t kWriteChunk = 16384;
// Write queues more only while less than this waits for the socket, so a peer that reads
// nothing holds at most about this much of ours.
constexpr size_t kWriteQueueRoom = 65536;

std::u16string Decimal(int64_t value) {
    const std::string text = std::to_string(value);
    return std::u16string(text.begin(), text.end());
}

std::u16string SocketFailureText(int code) {
    return u"连接出错(" + Decimal(code) + u")";
}

std::vector<uint8_t> Payload(const Rfc2217Setting& setting) {
    std::vector<uint8_t> payload;
    payload.reserve(setting.value.size() + 1);
    payload.push_back(setting.command);
    payload.insert(payload.end(), setting.value.begin(), setting.value.end());
    return payload;
}

Rfc2217Setting ControlSetting(Rfc2217Key key, uint8_t value) {
    return {key, kem::channels::rfc2217::kSetControl, {value}};
}

}  // namespace

CKemRfc2217Port::CKemRfc2217Port() {
    m_pfnThreadProc = &ReadThreadProc;
    m_pThreadParam = this;
}

CKemRfc2217Port::~CKemRfc2217Port() {
    Close();
}

int32_t CKemRfc2217Port::Open(std::u16string_view url, const tagComPortParam& param, bool dtr) {
    if (IsOpen()) {
        return kAlreadyOpen;
    }
    // A read thread that ended on its own leaves a dead connection behind.
    Close();
    try {
        const auto endpoint = ParseRfc2217Url(url);
        if (!endpoint) {
            m_LastError = platform::MakeOsError(EINVAL);
            return kBadUrl;
        }
        const auto settings = kem::channels::Rfc2217SettingsFromParam(param);
        if (!settings) {
            m_LastError = platform::MakeOsError(EINVAL);
            return kBadParam;
        }
        m_szUrl = std::u16string(url);
        m_Param = param;
        m_bDtrEnable = dtr ? 1 : 0;
        m_bRtsEnable = 1;

        uint32_t address = 0;
        if (kem::channels::ParseDottedQuad(endpoint->host, address) !=
            kem::channels::DottedQuad::kAddress) {
            const std::string host(endpoint->host.begin(), endpoint->host.end());
            const platform::OsError resolved = platform::ResolveIpv4(host, address);
            if (resolved.failed()) {
                m_LastError = resolved;
                return kResolveFailed;
            }
        }

        platform::OsError error = platform::CreateStreamSocket(m_sock);
        if (!error.failed()) {
            error = platform::SetNonBlocking(m_sock, true);
        }
        bool in_progress = false;
        if (!error.failed()) {
            error = platform::StartConnect(m_sock, {address, endpoint->port}, in_progress);
        }
        if (!error.failed() && in_progress) {
            const platform::DescriptorWait ready = platform::WaitSocket(
                m_sock, platform::kIoWritable, nullptr, std::max(m_nConnectTimeoutMs, 0));
            int outcome = 0;
            if (ready.failed) {
                outcome = ready.error;
            } else if (ready.timed_out) {
                outcome = ETIMEDOUT;
            } else {
                // A refused connection polls writable too; only the pending error tells.
                const platform::OsError query = platform::PendingError(m_sock, outcome);
                if (query.failed()) {
                    outcome = query.code;
                }
            }
            error = platform::MakeOsError(outcome);
        }
        if (error.failed()) {
            m_LastError = error;
            return FailOpen(kConnectFailed);
        }
        m_Peer = {address, endpoint->port};

        m_pRecvBuf.reset(new (std::nothrow) uint8_t[kRecvBufSize]());
        m_pRawBuf.reset(new (std::nothrow) uint8_t[kRecvBufSize]());
        if (!m_pRecvBuf || !m_pRawBuf) {
            m_LastError = platform::MakeOsError(ENOMEM);
            return FailOpen(kNoMemory);
        }
        m_nRecvLen = 0;
        m_Decoder = telnet::Decoder();
        m_Events.clear();
        m_nLineState = -1;
        m_nModemState = -1;
        m_bCommandsSent = false;
        m_LastOffer = Clock::now();
        int flush_error = 0;
        {
            std::lock_guard lock(m_lock);
            m_szReason.clear();
            m_Negotiator = telnet::Negotiator();
            m_Negotiator.Allow(telnet::kOptionComPort, true, false);
            m_Negotiator.Allow(telnet::kOptionBinary, true, true);
            m_Out.clear();
            m_nOutHead = 0;
            m_nOutSent = 0;
            m_nOutError = 0;
            m_Pending.clear();
            m_bUnconfirmedRun = false;
            m_bComPortRefusalLogged = false;
            m_Negotiator.RequestLocal(telnet::kOptionComPort, m_Out);
            m_Negotiator.RequestLocal(telnet::kOptionBinary, m_Out);
            m_Negotiator.RequestRemote(telnet::kOptionBinary, m_Out);
            for (const Rfc2217Setting& setting : *settings) {
                RequestLocked(setting);
            }
            RequestLocked(ControlSetting(Rfc2217Key::kDtr, m_bDtrEnable != 0
                                                               ? kem::channels::rfc2217::kDtrOn
                                                               : kem::channels::rfc2217::kDtrOff));
            RequestLocked(ControlSetting(Rfc2217Key::kRts, kem::channels::rfc2217::kRtsOn));
            flush_error = FlushLocked();
        }
        if (flush_error != 0) {
            m_LastError = platform::MakeOsError(flush_error);
            return FailOpen(kConnectFailed);
        }
        if (Start(false) != 0) {
            return FailOpen(kStartFailed);
        }
        m_LastError = platform::OsError{};
        return kOpened;
    } catch (const std::bad_alloc&) {
        m_LastError = platform::MakeOsError(ENOMEM);
        return FailOpen(kNoMemory);
    }
}

int32_t CKemRfc2217Port::FailOpen(int32_t code) {
    Close();
    return code;
}

int32_t CKemRfc2217Port::Close() {
    // The stop event wakes the reader from its wait at once.
    Stop(kStopWaitMs, true);
    if (m_sock != platform::kInvalidSocket) {
        {
            // Settings or data still queued get one last chance, without waiting.
            std::lock_guard lock(m_lock);
            FlushLocked();
        }
        platform::Shutdown(m_sock);
        platform::CloseSocket(m_sock);
        m_sock = platform::kInvalidSocket;
    }
    m_nRecvLen = 0;
    std::lock_guard lock(m_lock);
    m_Out.clear();
    m_nOutHead = 0;
    m_Pending.clear();
    m_bUnconfirmedRun = false;
    return 0;
}

int32_t CKemRfc2217Port::Stop(uint32_t timeout_ms, bool force) {
    m_bStopping = true;
    const int32_t result = CKemThreadBaseClass::Stop(timeout_ms, force);
    m_bStopping = false;
    return result;
}

void CKemRfc2217Port::WakeReader() {
    if (m_hStopEvent && IsRunning()) {
        m_hStopEvent->Set();
    }
}

int32_t CKemRfc2217Port::IsOpen() {
    return m_sock != platform::kInvalidSocket && IsRunning() ? 1 : 0;
}

int32_t CKemRfc2217Port::Write(const void* data, int32_t length) {
    if (data == nullptr || length <= 0) {
        return 0;
    }
    if (!IsOpen()) {
        return kWriteNotOpen;
    }
    const auto* bytes = static_cast<const uint8_t*>(data);
    const auto total = static_cast<size_t>(length);
    const auto stall = std::chrono::milliseconds(std::max(m_nWriteStallMs, 0));
    size_t taken = 0;
    uint64_t mark = 0;  // the output count at which our last byte is out
    uint64_t seen_sent = 0;
    {
        std::lock_guard lock(m_lock);
        seen_sent = m_nOutSent;
    }
    auto last_progress = Clock::now();
    for (;;) {
        int error = 0;
        bool done = false;
        bool pending = false;
        {
            std::lock_guard lock(m_lock);
            while (taken < total && m_Out.size() - m_nOutHead < kWriteQueueRoom) {
                const size_t piece = std::min(kWriteChunk, total - taken);
                telnet::AppendData(bytes + taken, piece, m_Out);
                taken += piece;
                mark = m_nOutSent + (m_Out.size() - m_nOutHead);
            }
            error = FlushLocked();
            if (m_nOutSent != seen_sent) {
                seen_sent = m_nOutSent;
                last_progress = Clock::now();
            }
            done = taken == total && m_nOutSent >= mark;
            pending = OutputPendingLocked();
        }
        if (error != 0) {
            m_LastError = platform::MakeOsError(error);
            return kWriteFailed;
        }
        if (done) {
            return length;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              last_progress + stall - Clock::now())
                              .count();
        if (left <= 0) {
            m_LastError = platform::MakeOsError(ETIMEDOUT);
            return kWriteFailed;
        }
        if (pending) {
            const platform::DescriptorWait ready = platform::WaitSocket(
                m_sock, platform::kIoWritable, nullptr, platform::ClampWaitMs(left));
            if (ready.failed) {
                m_LastError = platform::MakeOsError(ready.error);
                return kWriteFailed;
            }
        }
    }
}

int32_t CKemRfc2217Port::Send(const void* data, int32_t length) {
    return Write(data, length);
}

int32_t CKemRfc2217Port::SetCommParam(const tagComPortParam& param) {
    const auto settings = kem::channels::Rfc2217SettingsFromParam(param);
    if (!settings) {
        return kBadParam;
    }
    if (IsOpen()) {
        const auto previous = kem::channels::Rfc2217SettingsFromParam(m_Param);
        std::lock_guard lock(m_lock);
        for (size_t i = 0; i < settings->size(); ++i) {
            if (!previous || (*previous)[i].value != (*settings)[i].value) {
                RequestLocked((*settings)[i]);
            }
        }
        FlushLocked();
    }
    WakeReader();
    m_Param = param;
    return 0;
}

int32_t CKemRfc2217Port::SetDtr(int32_t enable) {
    m_bDtrEnable = enable != 0 ? 1 : 0;
    if (IsOpen()) {
        std::lock_guard lock(m_lock);
        RequestLocked(ControlSetting(Rfc2217Key::kDtr, m_bDtrEnable != 0
                                                           ? kem::channels::rfc2217::kDtrOn
                                                           : kem::channels::rfc2217::kDtrOff));
        FlushLocked();
    }
    WakeReader();
    return m_bDtrEnable;
}

void CKemRfc2217Port::SetRts(int32_t enable) {
    m_bRtsEnable = enable != 0 ? 1 : 0;
    if (IsOpen()) {
        std::lock_guard lock(m_lock);
        RequestLocked(ControlSetting(Rfc2217Key::kRts, m_bRtsEnable != 0
                                                           ? kem::channels::rfc2217::kRtsOn
                                                           : kem::channels::rfc2217::kRtsOff));
        FlushLocked();
    }
    WakeReader();
}

std::vector<std::u16string> CKemRfc2217Port::Unconfirmed() const {
    std::lock_guard lock(m_lock);
    std::vector<std::u16string> names;
    for (const Pending& pending : m_Pending) {
        if (pending.overdue) {
            names.emplace_back(kem::channels::Rfc2217KeyName(pending.setting.key));
        }
    }
    return names;
}

std::u16string CKemRfc2217Port::last_reason() const {
    std::lock_guard lock(m_lock);
    return m_szReason;
}

void CKemRfc2217Port::SetReason(std::u16string reason) {
    std::lock_guard lock(m_lock);
    m_szReason = std::move(reason);
}

void CKemRfc2217Port::RequestLocked(Rfc2217Setting setting) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(m_nAckWaitMs, 0));
    auto same = std::find_if(m_Pending.begin(), m_Pending.end(), [&](const Pending& pending) {
        return pending.setting.key == setting.key;
    });
    if (same != m_Pending.end()) {
        // The newer value supersedes the one still waiting; a late answer settles either.
        m_Pending.erase(same);
    }
    m_Pending.push_back({std::move(setting), deadline, false, false});
    SettleRunLocked();
    SendWaitingLocked();
    m_bCommandsSent = true;
}

void CKemRfc2217Port::SendWaitingLocked() {
    if (!m_Negotiator.LocalEnabled(telnet::kOptionComPort)) {
        return;
    }
    const auto now = Clock::now();
    for (Pending& pending : m_Pending) {
        if (pending.sent) {
            continue;
        }
        const std::vector<uint8_t> payload = Payload(pending.setting);
        telnet::AppendSubnegotiation(telnet::kOptionComPort, payload.data(), payload.size(), m_Out);
        pending.sent = true;
        if (!pending.overdue) {
            // The wait for the answer starts now that the setting is on its way.
            pending.deadline = now + std::chrono::milliseconds(std::max(m_nAckWaitMs, 0));
        }
    }
}

bool CKemRfc2217Port::MarkOverdueLocked(Clock::time_point now, std::vector<std::u16string>& names) {
    for (Pending& pending : m_Pending) {
        if (!pending.overdue && pending.deadline <= now) {
            pending.overdue = true;
            names.emplace_back(kem::channels::Rfc2217KeyName(pending.setting.key));
        }
    }
    if (!names.empty() && !m_bUnconfirmedRun) {
        m_bUnconfirmedRun = true;
        return true;
    }
    return false;
}

void CKemRfc2217Port::SettleRunLocked() {
    const bool any = std::any_of(m_Pending.begin(), m_Pending.end(),
                                 [](const Pending& pending) { return pending.overdue; });
    if (!any) {
        m_bUnconfirmedRun = false;
    }
}

int CKemRfc2217Port::NextDeadlineMsLocked(Clock::time_point now) const {
    int64_t next = -1;
    for (const Pending& pending : m_Pending) {
        if (pending.overdue) {
            continue;
        }
        const int64_t ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(pending.deadline - now).count() +
            1;
        next = next < 0 ? ms : std::min(next, ms);
    }
    return next < 0 ? -1 : platform::ClampWaitMs(next);
}

int CKemRfc2217Port::FlushLocked() {
    if (m_nOutError != 0) {
        m_Out.clear();
        m_nOutHead = 0;
        return m_nOutError;
    }
    while (m_nOutHead < m_Out.size()) {
        size_t sent = 0;
        const platform::OsError error =
            platform::Send(m_sock, m_Out.data() + m_nOutHead, m_Out.size() - m_nOutHead, sent,
                           platform::IoWait::kNoWait);
        if (error.failed()) {
            if (error.code == EAGAIN || error.code == EWOULDBLOCK) {
                break;
            }
            // The connection is dead for output; the reader learns the rest from the socket.
            m_nOutError = error.code;
            m_Out.clear();
            m_nOutHead = 0;
            return m_nOutError;
        }
        if (sent == 0) {
            break;
        }
        m_nOutHead += sent;
        m_nOutSent += sent;
    }
    if (m_nOutHead == m_Out.size()) {
        m_Out.clear();
        m_nOutHead = 0;
    }
    return 0;
}

void CKemRfc2217Port::LogOverdue(const std::vector<std::u16string>& names) const {
    const std::string url = platform::WideToUtf8(m_szUrl);
    for (const std::u16string& name : names) {
        platform::DebugOutput(url + ": no answer to " + platform::WideToUtf8(name) + " within " +
                              std::to_string(m_nAckWaitMs) + " ms\n");
    }
}

uint32_t CKemRfc2217Port::ReadThreadProc(void* self) {
    auto* port = static_cast<CKemRfc2217Port*>(self);
    const uint32_t code = port->ReadLoop();
    if (code != kReadStopped && port->m_pfnOnGone != nullptr) {
        port->m_pfnOnGone(port->m_pUser);
    }
    return code;
}

uint32_t CKemRfc2217Port::ReadLoop() {
    platform::Event* const stop = m_hStopEvent.get();
    bool read_first = false;
    bool hung_up = false;
    for (;;) {
        const auto now = Clock::now();
        std::vector<std::u16string> overdue;
        bool run_started = false;
        int deadline_ms = -1;
        bool want_write = false;
        {
            std::lock_guard lock(m_lock);
            run_started = MarkOverdueLocked(now, overdue);
            deadline_ms = NextDeadlineMsLocked(now);
            want_write = OutputPendingLocked();
        }
        if (!overdue.empty()) {
            LogOverdue(overdue);
        }
        if (run_started && m_pfnOnUnconfirmed != nullptr) {
            m_pfnOnUnconfirmed(m_pUser);
        }

        const bool full = m_nRecvLen >= kRecvBufSize;
        // Kept bytes come again after a pause: always when the buffer is full (nothing more
        // can be read), otherwise when the owner asked for it.
        const int offer_ms = full                                   ? kem::channels::kBurstWaitCapMs
                             : m_nRecvLen > 0 && m_nKeptOfferMs > 0 ? m_nKeptOfferMs
                                                                    : -1;
        int timeout = platform::kInfinite;
        if (offer_ms >= 0) {
            timeout =
                platform::ClampWaitMs(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          m_LastOffer + std::chrono::milliseconds(offer_ms) - now)
                                          .count());
        }
        if (deadline_ms >= 0 && (timeout < 0 || deadline_ms < timeout)) {
            timeout = deadline_ms;
        }

        unsigned ready = 0;
        if (read_first && !full) {
            // While data streams the reader does not wait, so it looks at the stop request here.
            if (stop->TryTake() && m_bStopping) {
                return kReadStopped;
            }
            ready = platform::kIoReadable;
        } else {
            const unsigned wanted = (full ? 0u : unsigned{platform::kIoReadable}) |
                                    (want_write && !hung_up ? unsigned{platform::kIoWritable} : 0u);
            if (wanted == 0) {
                const uint32_t waited = stop->Wait(timeout);
                if (waited == platform::kWaitObject0) {
                    if (m_bStopping) {
                        return kReadStopped;
                    }
                    continue;  // woken to look at the deadlines again
                }
                if (waited != platform::kWaitTimeout) {
                    SetReason(u"等待连接失败");
                    return kReadWaitFailed;
                }
            } else {
                const platform::DescriptorWait wait =
                    platform::WaitSocket(m_sock, wanted, stop, timeout);
                if (wait.stopped) {
                    if (m_bStopping) {
                        return kReadStopped;
                    }
                    continue;
                }
                if (wait.failed) {
                    SetReason(u"等待连接失败");
                    return kReadWaitFailed;
                }
                ready = wait.ready;
                hung_up = (ready & (platform::kIoHangUp | platform::kIoError)) != 0;
            }
        }

        if ((ready & platform::kIoWritable) != 0) {
            // A failed send is remembered for Write; the reader goes on until the socket
            // itself tells why the connection ended.
            std::lock_guard lock(m_lock);
            FlushLocked();
        }

        if (m_nRecvLen > 0 && offer_ms >= 0 &&
            Clock::now() >= m_LastOffer + std::chrono::milliseconds(offer_ms)) {
            Deliver();
            continue;
        }
        if (full ||
            (ready & (platform::kIoReadable | platform::kIoHangUp | platform::kIoError)) == 0) {
            read_first = false;
            continue;
        }

        const int32_t room = kRecvBufSize - m_nRecvLen;
        size_t received = 0;
        const platform::OsError error =
            platform::Receive(m_sock, m_pRawBuf.get(), static_cast<size_t>(room), received,
                              platform::IoWait::kNoWait);
        if (error.failed()) {
            if (error.code == EAGAIN || error.code == EWOULDBLOCK) {
                read_first = false;
                continue;
            }
            SetReason(SocketFailureText(error.code));
            return kReadSocketFailed;
        }
        if (received == 0) {
            SetReason(u"服务器关闭了连接");
            return kReadPeerClosed;
        }
        const int32_t added = Absorb(m_pRawBuf.get(), static_cast<int32_t>(received));
        // Data ahead of a protocol fault still reaches the owner before the link is cut.
        if (added > 0) {
            Deliver();
        }
        if (m_Decoder.failed()) {
            SetReason(std::u16string(telnet::DecodeErrorText(m_Decoder.error())));
            return kReadProtocolError;
        }
        read_first = static_cast<int32_t>(received) == room;
    }
}

int32_t CKemRfc2217Port::Absorb(const uint8_t* raw, int32_t count) {
    if (m_bCommandsSent.exchange(false)) {
        m_Decoder.ResetControlRun();
    }
    m_Events.clear();
    const size_t added =
        m_Decoder.Feed(raw, static_cast<size_t>(count), m_pRecvBuf.get() + m_nRecvLen, m_Events);
    m_nRecvLen += static_cast<int32_t>(added);
    if (m_Events.empty()) {
        return static_cast<int32_t>(added);
    }
    bool refused_now = false;
    {
        std::lock_guard lock(m_lock);
        for (const telnet::Event& event : m_Events) {
            switch (event.kind) {
                case telnet::Event::Kind::kWill:
                case telnet::Event::Kind::kWont:
                case telnet::Event::Kind::kDo:
                case telnet::Event::Kind::kDont:
                    m_Negotiator.Receive(event.kind, event.code, m_Out);
                    if (event.code == telnet::kOptionComPort) {
                        SendWaitingLocked();
                        if (m_Negotiator.LocalRefused(telnet::kOptionComPort) &&
                            !m_bComPortRefusalLogged) {
                            m_bComPortRefusalLogged = true;
                            refused_now = true;
                        }
                    }
                    break;
                case telnet::Event::Kind::kSubnegotiation:
                    if (event.code == telnet::kOptionComPort && !event.payload.empty()) {
                        TakeServerCommand(event.payload);
                    }
                    break;
                case telnet::Event::Kind::kCommand:
                    break;  // NOP, break, data mark...: nothing to do for a serial stream
            }
        }
        SettleRunLocked();
        FlushLocked();
    }
    if (refused_now) {
        platform::DebugOutput(platform::WideToUtf8(m_szUrl) +
                              ": the server refused the COM-PORT option\n");
    }
    return static_cast<int32_t>(added);
}

void CKemRfc2217Port::TakeServerCommand(const std::vector<uint8_t>& payload) {
    const uint8_t code = payload[0];
    const std::vector<uint8_t> value(payload.begin() + 1, payload.end());
    if (code == kem::channels::rfc2217::kNotifyLineState && !value.empty()) {
        m_nLineState = value[0];
        return;
    }
    if (code == kem::channels::rfc2217::kNotifyModemState && !value.empty()) {
        m_nModemState = value[0];
        return;
    }
    const auto key = kem::channels::Rfc2217AnswerKey(code, value);
    if (!key) {
        return;
    }
    auto answered = std::find_if(m_Pending.begin(), m_Pending.end(), [&](const Pending& pending) {
        return pending.sent && pending.setting.key == *key;
    });
    if (answered != m_Pending.end()) {
        m_Pending.erase(answered);
    }
}

void CKemRfc2217Port::Deliver() {
    m_LastOffer = Clock::now();
    const int32_t held = m_nRecvLen;
    const int32_t used = m_pfnOnReceived != nullptr
                             ? m_pfnOnReceived(m_szUrl.c_str(), m_pRecvBuf.get(), held, m_pUser)
                             : held;
    m_nRecvLen = kem::channels::DropConsumed(m_pRecvBuf.get(), held, used);
}
