// A live connection of CKemNetConnect: its receive thread, Send, Disconnect and the one slot
// that owns the connected socket.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <new>

#include "channels/net_connect.h"
#include "channels/net_log.h"

using kem::platform::kInfinite;
using kem::platform::kInvalidSocket;
namespace platform = kem::platform;

int32_t CKemNetConnect::StartReceiveThread(SocketHandle sock) {
    std::lock_guard lock(m_recvThreadLock);
    ReleaseReceiveThread();
    m_bNotifyDisconnect = 1;
    InstallSocket(sock);
    m_bReceiving = 1;
    m_hRecvStop.Reset();
    const int error =
        m_hRecvStop.valid() ? m_hRecvThread.Create(&ReceiveThreadProc, this, true) : EMFILE;
    if (error != 0) {
        m_bReceiving = 0;
        Trace("!!!!!!StartReceiveThread failed(%d)!!!!!!", error);
        return 0;
    }
    Trace("StartReceiveThread");
    m_bConnected = 1;
    m_hRecvThread.Resume();
    return 1;
}

void CKemNetConnect::ReleaseReceiveThread() {
    if (!m_hRecvThread.exists()) {
        return;
    }
    if (!m_hRecvThread.Join(kStopWaitMs)) {
        m_hRecvThread.Terminate(kNetThreadForced);
    }
    m_hRecvThread.Release();
}

uint32_t CKemNetConnect::ReceiveThreadProc(void* object) {
    if (object != nullptr) {
        static_cast<CKemNetConnect*>(object)->RunReceive();
    }
    return 0;
}

bool CKemNetConnect::MakeRoom(int32_t& reason) {
    if (m_nRecvLen < m_nRecvBufSize) {
        return true;
    }
    // Doubling stops at a cap: a consumer that keeps nothing never gets here, one that keeps
    // everything must not take the whole memory, nor overflow the size.
    if (m_nRecvBufSize >= kMaxRecvBufSize) {
        reason = kNetReasonBufferFull;
        Trace("!!!!!!ThreadReceive: enlarge buffer error:%d", ENOBUFS);
        return false;
    }
    const int32_t grown = std::min(m_nRecvBufSize * 2, kMaxRecvBufSize);
    uint8_t* bigger = new (std::nothrow) uint8_t[static_cast<size_t>(grown)]();
    if (bigger == nullptr) {
        reason = kNetReasonBufferFull;
        Trace("!!!!!!ThreadReceive: enlarge buffer error:%d", ENOMEM);
        return false;
    }
    std::memcpy(bigger, m_pRecvBuf.get(), static_cast<size_t>(m_nRecvLen));
    m_pRecvBuf.reset(bigger);
    m_nRecvBufSize = grown;
    return true;
}

void CKemNetConnect::RunReceive() {
    t_pReceiving = this;
    const SocketHandle sock = m_sock.load();
    int32_t reason = kNetReasonClosed;
    bool announced = true;
    if (m_pAnnounced) {
        platform::Event* events[2] = {m_pAnnounced.get(), &m_hRecvStop};
        announced = platform::WaitAny(events, 2, kInfinite) == platform::kWaitObject0;
        m_pAnnounced.reset();
    }
    // Bytes from `stale_end` to the end of the buffer are zero; before it old ones may linger.
    int32_t stale_end = m_nRecvBufSize;
    if (announced && m_bReceiving) {
        Trace("ThreadReceive: Start");
        OnConnectResult(sock, m_dwRemoteAddr, m_nRemotePort, kNetOk);
        if (!m_pRecvBuf) {
            if (m_nRecvBufSize <= 0 || m_nRecvBufSize > kMaxRecvBufSize) {
                m_nRecvBufSize = kInitialRecvBufSize;
            }
            m_pRecvBuf.reset(new (std::nothrow) uint8_t[static_cast<size_t>(m_nRecvBufSize)]());
            if (!m_pRecvBuf) {
                reason = kNetReasonNoBuffer;
                Trace("!!!!!!ThreadReceive: prepare buffer error:%d", ENOMEM);
                m_bReceiving = 0;
            }
            stale_end = 0;  // allocated zeroed
        }
        m_nRecvLen = 0;
    }
    while (announced && m_bReceiving) {
        if (!MakeRoom(reason)) {
            break;
        }
        // Read first and wait only when nothing is there: while data streams in, that saves
        // a poll per block. The wait is the thread's only blocking point, so a stop request
        // (or, as a last resort, a forced end) always reaches it.
        size_t received = 0;
        platform::OsError error = platform::Receive(
            sock, m_pRecvBuf.get() + m_nRecvLen, static_cast<size_t>(m_nRecvBufSize - m_nRecvLen),
            received, platform::IoWait::kNoWait);
        if (!m_bReceiving) {
            Trace("ThreadReceive: stop");
            break;
        }
        if (error.code == EAGAIN) {
            const auto ready =
                platform::WaitSocket(sock, platform::kIoReadable, &m_hRecvStop, kInfinite);
            if (ready.stopped) {
                Trace("ThreadReceive: stop");
                break;
            }
            if (!ready.failed) {
                continue;
            }
            error = platform::MakeOsError(ready.error);
        }
        if (error.failed()) {
            reason = error.code;
            Trace("!!!!!!ThreadReceive: socket error:%d", error.code);
            break;
        }
        if (received == 0) {
            reason = kNetReasonClosed;
            Trace("ThreadReceive: recv is 0, break");
            break;
        }
        Trace("ThreadReceive: recv=%d", static_cast<int>(received));
        m_nRecvLen += static_cast<int32_t>(received);
        // What follows the held bytes reads as zero, as a hook may treat them as text. Only
        // what earlier blocks left behind is cleared, so a stream of full reads clears nothing.
        if (stale_end > m_nRecvLen) {
            std::memset(m_pRecvBuf.get() + m_nRecvLen, 0,
                        static_cast<size_t>(stale_end - m_nRecvLen));
        }
        stale_end = m_nRecvLen;
        int32_t consumed =
            OnReceived(sock, m_dwRemoteAddr, m_nRemotePort, m_pRecvBuf.get(), &m_nRecvLen);
        // A hook may have changed the count it was given; keep it inside the buffer.
        m_nRecvLen = std::clamp(m_nRecvLen, 0, m_nRecvBufSize);
        stale_end = std::max(stale_end, m_nRecvLen);
        if (consumed == -1) {
            reason = kNetReasonHookEnded;
            Trace("!!!!!!ThreadReceive: OnReceived return is -1, break");
            break;
        }
        if (consumed > 0) {
            consumed = std::min(consumed, m_nRecvLen);
            std::memmove(m_pRecvBuf.get(), m_pRecvBuf.get() + consumed,
                         static_cast<size_t>(m_nRecvLen - consumed));
            m_nRecvLen -= consumed;
        }
    }
    if (m_bNotifyDisconnect) {
        Trace("ThreadReceive: call OnDisconnected");
        OnDisconnected(sock, m_dwRemoteAddr, m_nRemotePort, reason);
    } else {
        Trace("ThreadReceive: NOT call OnDisconnected");
    }
    RetireSocket();
    m_bConnected = 0;
    t_pReceiving = nullptr;
}

int32_t CKemNetConnect::OnReceived(SocketHandle, uint32_t, uint16_t, uint8_t*, int32_t* length) {
    if (m_pfnOnReceived == nullptr) {
        return *length;
    }
    const int32_t consumed = m_pfnOnReceived(this);
    return consumed >= 0 ? consumed : *length;
}

int32_t CKemNetConnect::OnDisconnected(SocketHandle, uint32_t, uint16_t, int32_t reason) {
    if (m_pfnOnDisconnected != nullptr) {
        m_pfnOnDisconnected(this, reason);
    }
    return 0;
}

int32_t CKemNetConnect::Send(const void* data, int32_t length, int32_t chunk) {
    if (!m_bConnected) {
        Trace("!!!!!!Send: NOT connected!!!!!!");
        return kNetNotConnected;
    }
    Trace("Send: iLen=%d", length);
    if (length == 0) {
        return kNetOk;
    }
    if (length < 0 || data == nullptr) {
        Trace("!!!!!!Send: data error iLen=%d", length);
        return length < 0 ? kNetOk : kNetSendFailed;
    }
    const SocketHandle sock = BorrowSocket();
    if (sock == kInvalidSocket) {
        Trace("!!!!!!Send: NOT connected!!!!!!");
        return kNetNotConnected;
    }
    using Clock = std::chrono::steady_clock;
    const size_t piece = static_cast<size_t>(chunk > 0 ? chunk : length);
    const auto* at = static_cast<const uint8_t*>(data);
    size_t left = static_cast<size_t>(length);
    int error = 0;
    auto last_progress = Clock::now();
    while (left > 0) {
        size_t sent = 0;
        const platform::OsError result =
            platform::Send(sock, at, std::min(piece, left), sent, platform::IoWait::kNoWait);
        if (!result.failed()) {
            if (sent == 0) {
                break;  // nothing taken and no error: counted as a failure
            }
            at += sent;
            left -= sent;
            last_progress = Clock::now();
            continue;
        }
        if (result.code != EAGAIN) {
            error = result.code;
            break;
        }
        // The peer reads nothing: wait for room, but only so long without progress.
        const auto spent =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - last_progress)
                .count();
        if (spent >= static_cast<int64_t>(m_dwSendTimeout)) {
            error = ETIMEDOUT;
            break;
        }
        const auto ready = platform::WaitSocket(
            sock, platform::kIoWritable, nullptr,
            WaitMs(static_cast<uint64_t>(m_dwSendTimeout) - static_cast<uint64_t>(spent)));
        if (ready.failed) {
            error = ready.error;
            break;
        }
    }
    ReturnSocket();
    if (left == 0) {
        return kNetOk;
    }
    Trace("!!!!!!Send: Err=%d, iLen=%d", error, static_cast<int>(left));
    switch (error) {
        case ENOTSOCK:
            return kNetNotSocket;
        case ENOBUFS:
            return kNetNoBuffers;
        case ENOTCONN:
            return kNetNotConnected;
        default:
            return kNetSendFailed;
    }
}

int32_t CKemNetConnect::Disconnect(bool notify) {
    if (t_pReceiving == this) {
        // From a hook of the receive thread: it cannot wait for itself; it ends after the hook.
        m_bNotifyDisconnect = notify ? 1 : 0;
        m_bReceiving = 0;
        ShutdownSocket();
        m_hRecvStop.Set();
        return 0;
    }
    std::lock_guard lock(m_recvThreadLock);
    if (!m_bConnected) {
        ReleaseReceiveThread();
        RetireSocket();
        return 0;
    }
    Trace("######Disconnect######");
    m_bNotifyDisconnect = notify ? 1 : 0;
    m_bReceiving = 0;
    // Shutting down wakes a thread waiting on the socket, a sender included; the descriptor
    // is closed only when nobody uses it any more.
    ShutdownSocket();
    m_hRecvStop.Set();
    ReleaseReceiveThread();
    RetireSocket();
    m_bConnected = 0;
    return 0;
}

CKemNetConnect::SocketHandle CKemNetConnect::BorrowSocket() {
    std::lock_guard lock(m_sockLock);
    const SocketHandle sock = m_sock.load();
    if (sock != kInvalidSocket) {
        ++m_nSockUsers;
    }
    return sock;
}

void CKemNetConnect::ReturnSocket() {
    std::lock_guard lock(m_sockLock);
    if (--m_nSockUsers == 0) {
        for (SocketHandle sock : m_closeWhenReturned) {
            platform::CloseSocket(sock);
        }
        m_closeWhenReturned.clear();
    }
}

void CKemNetConnect::InstallSocket(SocketHandle sock) {
    std::lock_guard lock(m_sockLock);
    const SocketHandle previous = m_sock.exchange(sock);
    if (previous != kInvalidSocket && previous != sock) {
        DropSocketLocked(previous);
    }
}

void CKemNetConnect::ShutdownSocket() {
    std::lock_guard lock(m_sockLock);
    const SocketHandle sock = m_sock.load();
    if (sock != kInvalidSocket) {
        platform::Shutdown(sock);
    }
}

void CKemNetConnect::RetireSocket() {
    std::lock_guard lock(m_sockLock);
    const SocketHandle sock = m_sock.exchange(kInvalidSocket);
    if (sock != kInvalidSocket) {
        DropSocketLocked(sock);
    }
}

void CKemNetConnect::DropSocketLocked(SocketHandle sock) {
    platform::Shutdown(sock);
    if (m_nSockUsers == 0) {
        platform::CloseSocket(sock);
    } else {
        m_closeWhenReturned.push_back(sock);
    }
}
