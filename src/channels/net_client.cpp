// The client role of CKemNetConnect: Connect, its supervising thread and one attempt thread.
#include <cerrno>
#include <cstdint>

#include "channels/net_address.h"
#include "channels/net_connect.h"
#include "channels/net_log.h"

using kem::platform::kInfinite;
using kem::platform::kInvalidSocket;
namespace platform = kem::platform;

namespace {

// Extra time the supervisor grants an attempt beyond its own time-out before ending it.
constexpr uint64_t kAttemptGraceMs = 10000;

// Closes an attempt's socket however the attempt thread leaves, a forced end included.
class AttemptSocket {
public:
    AttemptSocket() = default;
    ~AttemptSocket() { Close(); }
    AttemptSocket(const AttemptSocket&) = delete;
    AttemptSocket& operator=(const AttemptSocket&) = delete;

    platform::SocketHandle& handle() { return sock_; }
    platform::SocketHandle get() const { return sock_; }
    platform::SocketHandle Release() {
        const platform::SocketHandle sock = sock_;
        sock_ = kInvalidSocket;
        return sock;
    }
    void Close() {
        if (sock_ != kInvalidSocket) {
            platform::CloseSocket(Release());
        }
    }

private:
    platform::SocketHandle sock_ = kInvalidSocket;
};

}  // namespace

int32_t CKemNetConnect::Connect(uint32_t address, int32_t port, bool wait, uint32_t timeout_ms,
                                int32_t retries, uint32_t retry_wait_ms) {
    Trace("######Connect######");
    if (m_bConnected) {
        Trace("Connect: Is Connected");
        return kNetOk;
    }
    if (!kem::channels::IsConnectPort(port)) {
        Trace("!!!!!!Connect: bad port %d!!!!!!", port);
        return kNetBadPort;
    }
    StopConnect();
    if (m_bConnected) {
        // The attempt just abandoned got through first; that connection stands.
        Trace("Connect: Is Connected");
        return kNetOk;
    }
    {
        // A receive thread of an earlier connection may still be on its way out.
        std::lock_guard lock(m_recvThreadLock);
        ReleaseReceiveThread();
    }
    m_dwRemoteAddr = address;
    m_nRemotePort = static_cast<uint16_t>(port);
    m_dwConnectTimeout = timeout_ms;
    m_nConnectRetries = retries;
    m_dwRetryWait = retry_wait_ms;
    m_bConnectSucceeded = false;
    m_hConnectStop.Reset();
    // Set before the supervisor starts, so that none of its results reach the callback.
    m_bWaitingConnect = wait ? 1 : 0;
    if (!m_hConnectStop.valid() ||
        m_hConnectAdminThread.Create(&ConnectAdminThreadProc, this, false) != 0) {
        m_bWaitingConnect = 0;
        Trace("!!!!!!Connect: start thread connect admin error!!!!!!");
        return kNetConnectThreadFailed;
    }
    if (!wait) {
        // The supervisor runs on; the member keeps its handle until StopConnect or the next
        // Connect joins it.
        Trace("Connect: unblocked connect");
        return kNetConnectPending;
    }
    Trace("Connect: wait for connect result");
    m_hConnectAdminThread.Join(kInfinite);
    m_hConnectAdminThread.Release();
    m_bWaitingConnect = 0;
    if (m_bConnectSucceeded || m_bConnected) {
        Trace("Connect: connect success");
        return kNetOk;
    }
    Trace("Connect: connect failed");
    return kNetAllAttemptsFailed;
}

int32_t CKemNetConnect::ConnectByName(const char16_t* host, int32_t port, bool wait,
                                      uint32_t timeout_ms, int32_t retries,
                                      uint32_t retry_wait_ms) {
    if (!kem::channels::IsConnectPort(port)) {
        Trace("!!!!!!ConnectByName: bad port %d!!!!!!", port);
        return kNetBadPort;
    }
    uint32_t address = 0;
    if (!kem::channels::ResolveHostText(host, address)) {
        Trace("!!!!!!ConnectByName: host not resolved!!!!!!");
        return kNetResolveFailed;
    }
    return Connect(address, port, wait, timeout_ms, retries, retry_wait_ms);
}

int32_t CKemNetConnect::StopConnect() {
    if (!m_hConnectAdminThread.exists()) {
        return 0;
    }
    // Both threads watch this event in every wait, so they end at once; the forced end is
    // only for a hook that never returns.
    m_hConnectStop.Set();
    if (!m_hConnectAdminThread.Join(kStopWaitMs)) {
        m_hConnectAdminThread.Terminate(kNetThreadForced);
    }
    m_hConnectAdminThread.Release();
    if (m_hConnectThread.exists()) {
        if (!m_hConnectThread.Join(kStopWaitMs)) {
            m_hConnectThread.Terminate(kNetThreadForced);
        }
        m_hConnectThread.Release();
    }
    m_hConnectStop.Reset();
    Trace("######Stopconnect######");
    return 0;
}

int32_t CKemNetConnect::OnConnectResult(SocketHandle, uint32_t, uint16_t, int32_t code) {
    if (m_pfnOnConnected != nullptr && !m_bWaitingConnect) {
        m_pfnOnConnected(this, code);
    }
    return 0;
}

uint32_t CKemNetConnect::ConnectAdminThreadProc(void* object) {
    if (object == nullptr) {
        LogText(&g_NetLog, true, false, u"!!!!!!ConnectAdmin thread param is NULL");
        return 0;
    }
    static_cast<CKemNetConnect*>(object)->RunConnectAdmin();
    return 0;
}

void CKemNetConnect::RunConnectAdmin() {
    Trace("ConnectAdmin thread: start");
    const int64_t attempts = static_cast<int64_t>(m_nConnectRetries) + 1;
    const int attempt_wait = WaitMs(uint64_t{m_dwConnectTimeout} + kAttemptGraceMs);
    for (int64_t left = attempts; left > 0; --left) {
        Trace("ConnectAdmin thread: try to connect: left times: %d", static_cast<int>(left));
        const int error = m_hConnectThread.Create(&ConnectThreadProc, this, false);
        if (error != 0) {
            Trace("!!!!!!ConnectAdmin thread: connect thread create failed: %d", error);
        } else {
            const bool ended = m_hConnectThread.Join(attempt_wait);
            Trace("ConnectAdmin thread: WaitForSingleObject result: %d,id=%x",
                  ended ? 0 : static_cast<int>(platform::kWaitTimeout), m_hConnectThread.id());
            if (!ended) {
                Trace("!!!!!!ConnectAdmin thread: connect thread quit time out");
                m_hConnectThread.Terminate(kNetThreadForced);
            } else {
                const uint32_t result = m_hConnectThread.exit_code().value_or(kNetThreadForced);
                Trace("ConnectAdmin thread: connect thread quit result: %d",
                      static_cast<int>(result));
                if (result == 0) {
                    m_bConnectSucceeded = true;
                }
            }
            m_hConnectThread.Release();
        }
        if (m_bConnectSucceeded) {
            Trace("ConnectAdmin thread: connected & break;");
            return;
        }
        if (m_hConnectStop.TryTake()) {
            return;  // abandoned: nothing more is reported
        }
        if (left > 1) {
            Trace("ConnectAdmin thread: notify connect failed one time");
            OnConnectResult(kInvalidSocket, m_dwRemoteAddr, m_nRemotePort, kNetAttemptFailed);
            if (m_hConnectStop.Wait(WaitMs(m_dwRetryWait)) == platform::kWaitObject0) {
                return;
            }
        }
    }
    Trace("ConnectAdmin thread: notify connect failed END");
    OnConnectResult(kInvalidSocket, m_dwRemoteAddr, m_nRemotePort, kNetAllAttemptsFailed);
}

uint32_t CKemNetConnect::ConnectThreadProc(void* object) {
    if (object == nullptr) {
        LogText(&g_NetLog, true, false, u"!!!!!!ThreadConnect thread param is NULL");
        return 0;
    }
    return static_cast<CKemNetConnect*>(object)->RunConnectAttempt();
}

uint32_t CKemNetConnect::RunConnectAttempt() {
    Trace("ThreadConnect: Start");
    AttemptSocket sock;
    auto fail = [&](uint32_t exit_code) {
        const SocketHandle number = sock.get();
        sock.Close();
        OnConnectResult(number, m_dwRemoteAddr, m_nRemotePort, kNetAttemptFailed);
        return exit_code;
    };
    platform::OsError error = platform::CreateStreamSocket(sock.handle());
    if (!error.failed()) {
        error = platform::SetNonBlocking(sock.get(), true);
    }
    if (error.failed()) {
        Trace("!!!!!!ThreadConnect: ioctlsocket unblock failed(%d)!!!!!!", error.code);
        return fail(kNetAttemptSetupFailed);
    }
    bool in_progress = false;
    error = platform::StartConnect(sock.get(), {m_dwRemoteAddr, m_nRemotePort}, in_progress);
    int outcome = error.code;
    if (!error.failed() && in_progress) {
        const auto ready = platform::WaitSocket(sock.get(), platform::kIoWritable, &m_hConnectStop,
                                                WaitMs(m_dwConnectTimeout));
        if (ready.stopped) {
            // Abandoned by StopConnect: like a terminated attempt, it reports nothing.
            return kNetThreadForced;
        }
        if (ready.failed) {
            outcome = ready.error;
        } else if (ready.timed_out) {
            outcome = ETIMEDOUT;
        } else {
            // Linux makes a refused socket writable too; only SO_ERROR tells them apart.
            int pending = 0;
            const platform::OsError query = platform::PendingError(sock.get(), pending);
            outcome = query.failed() ? query.code : pending;
        }
    }
    if (outcome != 0) {
        Trace("!!!!!!ThreadConnect: select failed(%d)!!!!!!", outcome);
        return fail(kNetAttemptNoConnection);
    }
    error = platform::SetNonBlocking(sock.get(), false);
    if (error.failed()) {
        Trace("!!!!!!ThreadConnect: ioctlsocket block failed(%d)!!!!!!", error.code);
        return fail(kNetAttemptBlockingFailed);
    }
    if (m_hConnectStop.TryTake()) {
        return kNetThreadForced;  // abandoned just now: the connection is not wanted
    }
    platform::Ipv4Endpoint local;
    if (!platform::LocalEndpoint(sock.get(), local).failed()) {
        m_dwLocalAddr = local.address;
    }
    if (!StartReceiveThread(sock.Release())) {
        RetireSocket();
        OnConnectResult(kInvalidSocket, m_dwRemoteAddr, m_nRemotePort, kNetAttemptFailed);
        return kNetAttemptNoReceiver;
    }
    return 0;
}
