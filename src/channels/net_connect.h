// One TCP endpoint over IPv4: a client that connects (with retries and a bounded attempt), a
// listener that accepts clients, or a connection made for one accepted client. Each live
// connection has a receive thread with a growing buffer; events reach the owner through
// virtual hooks whose default bodies call the owner's function pointers.
//
// Threads: the owner's thread calls the public operations. Hooks and callbacks run on the
// worker that saw the event (listen, connect or receive thread) and should only copy and post.
// A callback may call Send and Disconnect on the connection it is given; it must never destroy
// that connection, nor call Connect, StopConnect, Listen or StopListen. An accepted connection
// belongs to the owner from its accept callback on and is destroyed on the owner's thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "channels/name_text.h"
#include "platform/event.h"
#include "platform/socket.h"
#include "platform/thread.h"

// Status codes of the operations (0 or positive: success or work in progress).
constexpr int32_t kNetOk = 0;
constexpr int32_t kNetConnectPending = 60;  // Connect without waiting: it goes on
constexpr int32_t kNetAlreadyListening = 50;
constexpr int32_t kNetListenSocketFailed = -201;
constexpr int32_t kNetBindFailed = -202;  // also a port outside 0..65535
constexpr int32_t kNetListenFailed = -203;
constexpr int32_t kNetListenThreadFailed = -204;
constexpr int32_t kNetConnectThreadFailed = -251;
constexpr int32_t kNetAttemptFailed = -252;  // one attempt (to OnConnectResult)
constexpr int32_t kNetAllAttemptsFailed = -253;
constexpr int32_t kNetResolveFailed = -254;  // host text malformed, too long or unknown
constexpr int32_t kNetBadPort = -255;        // Connect to a port outside 1..65535
constexpr int32_t kNetNotConnected = -301;
constexpr int32_t kNetNotSocket = -302;
constexpr int32_t kNetNoBuffers = -303;
constexpr int32_t kNetSendFailed = -304;  // any other error, or no progress in time

// Reasons given to OnDisconnected besides a socket error number.
constexpr int32_t kNetReasonClosed = 0;      // the peer closed, or Disconnect stopped it
constexpr int32_t kNetReasonNoBuffer = 2;    // the receive buffer could not be allocated
constexpr int32_t kNetReasonBufferFull = 3;  // it could not grow (memory, or its cap is full)
constexpr int32_t kNetReasonHookEnded = 4;   // OnReceived returned -1

// Exit codes of one connect attempt.
constexpr uint32_t kNetAttemptSetupFailed = 3;     // socket or non-blocking switch
constexpr uint32_t kNetAttemptNoConnection = 4;    // refused, unreachable or timed out
constexpr uint32_t kNetAttemptBlockingFailed = 5;  // switching back to blocking mode
constexpr uint32_t kNetAttemptNoReceiver = 6;      // the receive thread could not start
constexpr uint32_t kNetThreadForced = 0xFFFFFFFF;  // terminated, or abandoned by StopConnect

class CKemNetConnect {
public:
    using SocketHandle = kem::platform::SocketHandle;
    using AcceptedCallback = void (*)(CKemNetConnect* connection);
    using ConnectedCallback = void (*)(CKemNetConnect* connection, int32_t code);
    using ReceivedCallback = int32_t (*)(CKemNetConnect* connection);
    using DisconnectedCallback = void (*)(CKemNetConnect* connection, int32_t reason);

    static constexpr int32_t kInitialRecvBufSize = 8192;
    static constexpr int32_t kMaxRecvBufSize = 64 * 1024 * 1024;
    static constexpr uint32_t kDefaultSendTimeout = 5000;
    static constexpr int kStopWaitMs = 5000;  // for a thread to end before it is terminated

    // The first object of the process sets up g_NetLog (defaults, then the environment).
    CKemNetConnect();
    // StopListen, StopConnect, Disconnect(0). Returns within a few milliseconds even when a
    // thread waits in accept, connect or recv. Never call it on this object's own workers.
    // A derived class that overrides a hook must call StopForDestruction in its own destructor:
    // the workers call the hooks, and the derived part is gone by the time this runs.
    virtual ~CKemNetConnect();
    CKemNetConnect(const CKemNetConnect&) = delete;
    CKemNetConnect& operator=(const CKemNetConnect&) = delete;

    // Name field (see channels/name_text.h): at most `count` (capped at 255) units; or the
    // whole text, returning the units written or -1 when cut. Owner's thread.
    virtual char16_t* SetName(const char16_t* text, int32_t count);
    virtual int32_t SetName(const char16_t* text);
    virtual const char16_t* GetName();

    // Listens on `port` (0: the OS picks; m_nListenPort then holds the bound port) of every
    // local address. 0 listening; 50 already listening; -201 socket, -202 bind (or a port
    // outside 0..65535), -203 listen, -204 listen thread not started. Owner's thread.
    virtual int32_t Listen(int32_t port, int32_t backlog);

    // Ends the listen thread and closes the listening socket; connections accepted earlier
    // live on. Returns 0. Owner's thread.
    virtual int32_t StopListen();

    // Listen thread, for each accepted socket: hands it to a new connection (AttachAccepted),
    // starts its receive thread and gives it to m_pfnOnAccepted; without that callback the
    // socket is closed. Returns 0.
    virtual int32_t OnAccept(SocketHandle sock, uint32_t address, uint16_t port);

    // Listen thread, when it ends. Does nothing; returns 0.
    virtual int32_t OnListenEnd(SocketHandle sock, uint32_t address, uint16_t port);

    // Connects to `address` (network order) and `port` in up to 1 + `retries` attempts of at
    // most `timeout_ms` each, `retry_wait_ms` apart. With `wait`: 0 connected, -253 all
    // attempts failed. Without: 60, and the outcome reaches OnConnectResult. 0 at once when
    // already connected; -255 for a port outside 1..65535; -251 thread not started. Owner's
    // thread.
    virtual int32_t Connect(uint32_t address, int32_t port, bool wait, uint32_t timeout_ms,
                            int32_t retries, uint32_t retry_wait_ms);

    // Connect to a host text (see channels/net_address.h); -254 when it cannot be resolved,
    // -255 for a bad port (checked first). Blocks while the name is resolved. Owner's thread.
    virtual int32_t ConnectByName(const char16_t* host, int32_t port, bool wait,
                                  uint32_t timeout_ms, int32_t retries, uint32_t retry_wait_ms);

    // Abandons a connect in progress (no further connect results are reported) and waits for
    // its threads. Returns 0. Owner's thread.
    virtual int32_t StopConnect();

    // Connect and receive threads: 0 connected, -252 one attempt failed, -253 all failed.
    // Calls m_pfnOnConnected unless a Connect call is waiting. Returns 0.
    virtual int32_t OnConnectResult(SocketHandle sock, uint32_t address, uint16_t port,
                                    int32_t code);

    // Receive thread, after bytes arrived: `buffer` holds `*length` bytes. Returns how many
    // were consumed (dropped from the front), or -1 to end the connection.
    virtual int32_t OnReceived(SocketHandle sock, uint32_t address, uint16_t port, uint8_t* buffer,
                               int32_t* length);

    // Sends `length` bytes in pieces of at most `chunk`. 0 all sent (also for a length of 0 or
    // below); -301 not connected; -302 / -303 / -304 socket errors, -304 also when the peer
    // took nothing for m_dwSendTimeout ms. Any one thread at a time; callbacks may call it.
    virtual int32_t Send(const void* data, int32_t length, int32_t chunk);

    // Ends the connection and waits for its receive thread; with `notify` 0 the owner gets no
    // disconnection callback from now on. Returns 0. Owner's thread, or a callback of this
    // connection's own receive thread (then it does not wait).
    virtual int32_t Disconnect(bool notify);

    // Receive thread, when the connection ended with `reason`: calls m_pfnOnDisconnected.
    virtual int32_t OnDisconnected(SocketHandle sock, uint32_t address, uint16_t port,
                                   int32_t reason);

    // A new default object for an accepted client, or null. Listen thread.
    virtual CKemNetConnect* CreateConnection();

    // Gives the accepted `sock` to `connection` (null: CreateConnection makes one) with the
    // peer address, the port and `listener`'s callbacks; `listener`'s m_dwLocalAddr is taken
    // from the socket. Null for an invalid socket or when no object could be made.
    virtual CKemNetConnect* AttachAccepted(SocketHandle sock, uint32_t address, uint16_t port,
                                           CKemNetConnect* listener, CKemNetConnect* connection);

    // The fields below belong to the object's threads; the owner sets the callbacks, the user
    // data and the send time-out while nothing runs, and reads the buffer in callbacks.
    std::atomic<int32_t> m_bNotifyDisconnect{1};
    SocketHandle m_sockListen = kem::platform::kInvalidSocket;
    uint16_t m_nListenPort = 0;
    kem::platform::Thread m_hListenThread;
    std::atomic<int32_t> m_bListening{0};
    std::atomic<SocketHandle> m_sock{kem::platform::kInvalidSocket};  // written under the lock
    uint32_t m_dwRemoteAddr = 0;
    uint16_t m_nRemotePort = 0;
    std::atomic<uint32_t> m_dwLocalAddr{0};
    int32_t m_nConnectRetries = 0;
    uint32_t m_dwRetryWait = 0;
    uint32_t m_dwConnectTimeout = 0;
    std::unique_ptr<uint8_t[]> m_pRecvBuf;
    int32_t m_nRecvBufSize = kInitialRecvBufSize;
    int32_t m_nRecvLen = 0;
    kem::platform::Thread m_hConnectAdminThread;
    kem::platform::Thread m_hConnectThread;
    kem::platform::Thread m_hRecvThread;
    std::atomic<int32_t> m_bReceiving{0};
    std::atomic<int32_t> m_bWaitingConnect{0};
    char16_t m_szName[kem::channels::kNameUnits] = {};
    std::atomic<int32_t> m_bConnected{0};
    AcceptedCallback m_pfnOnAccepted = nullptr;
    ConnectedCallback m_pfnOnConnected = nullptr;
    ReceivedCallback m_pfnOnReceived = nullptr;
    DisconnectedCallback m_pfnOnDisconnected = nullptr;

    // Additions: the owner's context for its callbacks (accepted connections inherit it), and
    // how long Send waits for a peer that takes nothing (accepted connections inherit it).
    void* m_pUserData = nullptr;
    uint32_t m_dwSendTimeout = kDefaultSendTimeout;

protected:
    // Ends every thread and closes every socket of this object, as the destructor does.
    // Owner's thread.
    void StopForDestruction();

private:
    static uint32_t ListenThreadProc(void* object);
    static uint32_t ConnectAdminThreadProc(void* object);
    static uint32_t ConnectThreadProc(void* object);
    static uint32_t ReceiveThreadProc(void* object);
    void RunListen();
    void RunConnectAdmin();
    uint32_t RunConnectAttempt();
    void RunReceive();

    // Installs `sock` as m_sock and starts the receive thread. 1 started, 0 not (the socket
    // then stays in m_sock for Disconnect to close).
    int32_t StartReceiveThread(SocketHandle sock);
    // Receive thread: makes room for more bytes; false when it cannot (reason in `reason`).
    bool MakeRoom(int32_t& reason);
    // Waits for the receive thread to end (terminating it after kStopWaitMs) and forgets it.
    // Caller holds m_recvThreadLock.
    void ReleaseReceiveThread();

    // The socket slot. Send borrows the descriptor, so it is never closed under a send;
    // whoever takes it out of m_sock closes it once the last borrower has returned it.
    SocketHandle BorrowSocket();
    void ReturnSocket();
    void InstallSocket(SocketHandle sock);
    void ShutdownSocket();
    void RetireSocket();
    // Shuts `sock` down and closes it now, or when the last borrower returns. Caller holds
    // m_sockLock and has taken `sock` out of m_sock.
    void DropSocketLocked(SocketHandle sock);

    // A wait of `ms` milliseconds for the platform waits, capped so that it cannot overflow.
    static int WaitMs(uint64_t ms);

    // Log lines with the "(address:port,socket)" prefix of this connection or of the listener.
    void Trace(const char* format, ...) const __attribute__((format(printf, 2, 3)));
    void TraceListen(const char* format, ...) const __attribute__((format(printf, 2, 3)));

    kem::platform::Event m_hListenStop{kem::platform::Event::Mode::kAutoReset};
    kem::platform::Event m_hConnectStop{kem::platform::Event::Mode::kManualReset};
    kem::platform::Event m_hRecvStop{kem::platform::Event::Mode::kAutoReset};
    // Opened by the listen thread once the owner has been told of this accepted connection, so
    // no callback of the receive thread comes before the accept callback. Shared, because the
    // listen thread opens it after the owner may already have destroyed this object.
    std::shared_ptr<kem::platform::Event> m_pAnnounced;
    std::atomic<bool> m_bConnectSucceeded{false};
    std::mutex m_recvThreadLock;  // m_hRecvThread: connect thread versus owner
    std::mutex m_sockLock;
    int m_nSockUsers = 0;
    std::vector<SocketHandle> m_closeWhenReturned;

    // The connection whose receive thread is the calling thread, if any.
    static thread_local const CKemNetConnect* t_pReceiving;
};
