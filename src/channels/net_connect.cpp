// Construction, names, trace lines and the listener role of CKemNetConnect.
#include "channels/net_connect.h"

#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <new>
#include <string>

#include "channels/net_address.h"
#include "channels/net_log.h"

using kem::platform::kInfinite;
using kem::platform::kInvalidSocket;
namespace platform = kem::platform;

namespace {

constexpr int kAcceptRetryPauseMs = 100;

void WriteTrace(const char* address, unsigned port, int sock, const char* format,
                va_list arguments) {
    va_list counting;
    va_copy(counting, arguments);
    const int length = std::vsnprintf(nullptr, 0, format, counting);
    va_end(counting);
    if (length < 0) {
        return;
    }
    std::string text(static_cast<size_t>(length), '\0');
    std::vsnprintf(text.data(), text.size() + 1, format, arguments);
    LogFormat(&g_NetLog, true, true, "(%s:%u,%d)%s", address, port, sock, text.c_str());
}

// The first object of the process prepares the log; later ones leave it as it is.
void PrepareLogOnce() {
    static std::once_flag once;
    std::call_once(once, [] {
        if (g_NetLog.szFolder[0] == u'\0') {
            LogInit(&g_NetLog);
            g_NetLog.dwMaxSize = kNetLogDefaultMaxSize;
            g_NetLog.wIndex = kNetLogNoIndex;
            LogApplyEnvironment(&g_NetLog);
        }
    });
}

}  // namespace

thread_local const CKemNetConnect* CKemNetConnect::t_pReceiving = nullptr;

CKemNetConnect::CKemNetConnect() {
    PrepareLogOnce();
}

CKemNetConnect::~CKemNetConnect() {
    StopForDestruction();
    std::lock_guard lock(m_sockLock);
    // A Send still running here would be a caller's error; its socket is closed regardless.
    for (SocketHandle sock : m_closeWhenReturned) {
        platform::CloseSocket(sock);
    }
    m_closeWhenReturned.clear();
}

void CKemNetConnect::StopForDestruction() {
    StopListen();
    StopConnect();
    Disconnect(false);
}

char16_t* CKemNetConnect::SetName(const char16_t* text, int32_t count) {
    return kem::channels::SetNameText(m_szName, text, count);
}

int32_t CKemNetConnect::SetName(const char16_t* text) {
    return kem::channels::FormatNameText(m_szName, text);
}

const char16_t* CKemNetConnect::GetName() {
    return m_szName;
}

int CKemNetConnect::WaitMs(uint64_t ms) {
    return ms >= static_cast<uint64_t>(INT_MAX) ? INT_MAX : static_cast<int>(ms);
}

void CKemNetConnect::Trace(const char* format, ...) const {
    if (!LogEnabled(&g_NetLog)) {
        return;
    }
    va_list arguments;
    va_start(arguments, format);
    WriteTrace(kem::channels::FormatIpv4(m_dwRemoteAddr).c_str(), m_nRemotePort, m_sock.load(),
               format, arguments);
    va_end(arguments);
}

void CKemNetConnect::TraceListen(const char* format, ...) const {
    if (!LogEnabled(&g_NetLog)) {
        return;
    }
    va_list arguments;
    va_start(arguments, format);
    WriteTrace("", m_nListenPort, m_sockListen, format, arguments);
    va_end(arguments);
}

int32_t CKemNetConnect::Listen(int32_t port, int32_t backlog) {
    if (m_sockListen != kInvalidSocket) {
        return kNetAlreadyListening;
    }
    if (port < 0 || port > 65535) {
        // Never wrapped to another port.
        return kNetBindFailed;
    }
    if (!m_hListenStop.valid()) {
        return kNetListenThreadFailed;
    }
    SocketHandle sock = kInvalidSocket;
    if (platform::CreateStreamSocket(sock).failed()) {
        return kNetListenSocketFailed;
    }
    // The listen thread waits for clients with poll; a client that gives up between poll and
    // accept must not leave it blocked in accept.
    if (platform::SetNonBlocking(sock, true).failed()) {
        platform::CloseSocket(sock);
        return kNetListenSocketFailed;
    }
    // A restarted server must get its port back while old connections sit in TIME_WAIT.
    platform::AllowAddressReuse(sock);
    if (platform::Bind(sock, 0, static_cast<uint16_t>(port)).failed()) {
        platform::CloseSocket(sock);
        return kNetBindFailed;
    }
    if (platform::Listen(sock, backlog).failed()) {
        platform::CloseSocket(sock);
        return kNetListenFailed;
    }
    platform::Ipv4Endpoint local;
    m_nListenPort =
        platform::LocalEndpoint(sock, local).failed() ? static_cast<uint16_t>(port) : local.port;
    m_sockListen = sock;
    m_hListenStop.Reset();
    m_bListening = 1;
    if (m_hListenThread.Create(&ListenThreadProc, this, false) != 0) {
        m_bListening = 0;
        platform::CloseSocket(m_sockListen);
        m_sockListen = kInvalidSocket;
        return kNetListenThreadFailed;
    }
    return kNetOk;
}

int32_t CKemNetConnect::StopListen() {
    if (m_sockListen == kInvalidSocket) {
        return 0;
    }
    m_bListening = 0;
    m_hListenStop.Set();
    if (m_hListenThread.IsCurrent()) {
        // Asked from an accept hook: the thread ends after it; the next StopListen (or the
        // destructor) joins it and closes the socket.
        return 0;
    }
    if (m_hListenThread.exists()) {
        if (!m_hListenThread.Join(kStopWaitMs)) {
            m_hListenThread.Terminate(kNetThreadForced);
        }
        m_hListenThread.Release();
    }
    // Closed only now that no thread waits on it: a closed number may be reused at once.
    platform::CloseSocket(m_sockListen);
    m_sockListen = kInvalidSocket;
    return 0;
}

uint32_t CKemNetConnect::ListenThreadProc(void* object) {
    if (object == nullptr) {
        LogText(&g_NetLog, true, false, u"!!!!!!listen thread param is NULL");
        return 0;
    }
    static_cast<CKemNetConnect*>(object)->RunListen();
    return 0;
}

void CKemNetConnect::RunListen() {
    TraceListen("listen thread: start");
    while (m_bListening) {
        TraceListen("listen thread: accept while start");
        const auto ready =
            platform::WaitSocket(m_sockListen, platform::kIoReadable, &m_hListenStop, kInfinite);
        if (ready.stopped || !m_bListening) {
            break;
        }
        SocketHandle sock = kInvalidSocket;
        platform::Ipv4Endpoint peer;
        const platform::OsError error = ready.failed ? platform::MakeOsError(ready.error)
                                                     : platform::Accept(m_sockListen, sock, peer);
        if (error.failed()) {
            if (error.code == EAGAIN || error.code == EINTR) {
                continue;  // the client went away before we took it
            }
            TraceListen("!!!!!!listen thread: accept error: %d", error.code);
            if (!platform::IsTransientAcceptError(error.code)) {
                // The listening socket itself is broken; say so instead of looking open.
                m_bListening = 0;
                break;
            }
            // Out of descriptors or one aborted client: the listener is fine, try again soon.
            if (m_hListenStop.Wait(kAcceptRetryPauseMs) == platform::kWaitObject0) {
                break;
            }
            continue;
        }
        if (!m_bListening) {
            TraceListen("listen thread: break before accept");
            platform::CloseSocket(sock);
            break;
        }
        TraceListen("listen thread: accept one socket: %d", sock);
        OnAccept(sock, peer.address, m_nListenPort);
    }
    TraceListen("listen thread: out of while");
    OnListenEnd(m_sockListen, 0, m_nListenPort);
}

int32_t CKemNetConnect::OnAccept(SocketHandle sock, uint32_t address, uint16_t port) {
    if (m_pfnOnAccepted == nullptr) {
        platform::CloseSocket(sock);
        return 0;
    }
    CKemNetConnect* connection = AttachAccepted(sock, address, port, this, nullptr);
    if (connection == nullptr) {
        platform::CloseSocket(sock);
        return 0;
    }
    // The receive thread holds its callbacks until the owner has heard of the connection. The
    // gate is kept alive here: the owner may destroy the connection before Set below.
    auto announced = std::make_shared<platform::Event>(platform::Event::Mode::kManualReset);
    if (announced->valid()) {
        connection->m_pAnnounced = announced;
    }
    if (!connection->StartReceiveThread(sock)) {
        delete connection;  // closes the socket it holds
        return 0;
    }
    m_pfnOnAccepted(connection);
    announced->Set();
    return 0;
}

int32_t CKemNetConnect::OnListenEnd(SocketHandle, uint32_t, uint16_t) {
    return 0;
}

CKemNetConnect* CKemNetConnect::CreateConnection() {
    return new (std::nothrow) CKemNetConnect;
}

CKemNetConnect* CKemNetConnect::AttachAccepted(SocketHandle sock, uint32_t address, uint16_t port,
                                               CKemNetConnect* listener,
                                               CKemNetConnect* connection) {
    if (sock == kInvalidSocket) {
        return nullptr;
    }
    if (connection == nullptr) {
        connection = CreateConnection();
        if (connection == nullptr) {
            return nullptr;
        }
    }
    connection->Disconnect(false);
    connection->m_dwRemoteAddr = address;
    connection->m_nRemotePort = port;
    connection->InstallSocket(sock);
    connection->m_bReceiving = 1;
    connection->m_bWaitingConnect = 0;
    connection->m_nRecvLen = 0;
    if (listener != nullptr) {
        connection->m_pfnOnAccepted = listener->m_pfnOnAccepted;
        connection->m_pfnOnConnected = listener->m_pfnOnConnected;
        connection->m_pfnOnReceived = listener->m_pfnOnReceived;
        connection->m_pfnOnDisconnected = listener->m_pfnOnDisconnected;
        connection->m_pUserData = listener->m_pUserData;
        connection->m_dwSendTimeout = listener->m_dwSendTimeout;
        platform::Ipv4Endpoint local;
        if (!platform::LocalEndpoint(sock, local).failed()) {
            listener->m_dwLocalAddr = local.address;
        }
    }
    return connection;
}
