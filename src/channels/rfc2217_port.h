// A serial port on another machine, reached as "rfc2217://host:port": a TCP connection that
// speaks Telnet with the COM-PORT-OPTION of RFC 2217. It looks to its owner like the local
// serial channel: one read thread hands the received bytes to a call-back, writes never hang
// the caller, and the line settings of a parameter record go to the remote port. Settings
// are sent without waiting; each one waits for its answer in the background, and settings
// the server leaves unanswered are reported, while data keeps flowing.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "channels/port_com.h"
#include "channels/rfc2217_settings.h"
#include "channels/telnet_codec.h"
#include "channels/thread_base.h"
#include "platform/os_error.h"
#include "platform/socket.h"

class CKemRfc2217Port : public CKemThreadBaseClass {
public:
    // As CKemPortCom: called on the read thread with the URL given to Open, the bytes held
    // (kept ones first), their count and m_pUser; returns how many it consumed (0 keeps all,
    // r >= count or r < 0 drops all). A full buffer that is kept is offered again every
    // 50 ms, and nothing more is read until the call-back takes some.
    using ReceiveProc = CKemPortCom::ReceiveProc;
    // Called on the read thread with m_pUser when the connection ended on its own (peer
    // closed, socket error, protocol violation), after the last data was delivered; never for
    // Close. It should only post to the owner, who then calls Close on its own thread.
    using GoneProc = CKemPortCom::GoneProc;
    // Called on the read thread with m_pUser when settings went unanswered for m_nAckWaitMs:
    // once at the start of each run of missing answers (a run ends when every overdue
    // setting got its answer or was sent anew). It should only post.
    using UnconfirmedProc = void (*)(void* user);

    using Endpoint = kem::channels::Rfc2217Endpoint;

    // Open results.
    static constexpr int32_t kOpened = 1;
    static constexpr int32_t kAlreadyOpen = 2;
    static constexpr int32_t kBadUrl = -1;
    static constexpr int32_t kResolveFailed = -2;  // last_error() holds the errno
    static constexpr int32_t kConnectFailed = -3;  // refused, unreachable or timed out; errno
    static constexpr int32_t kBadParam = -4;       // the record cannot be expressed
    static constexpr int32_t kStartFailed = -5;
    static constexpr int32_t kNoMemory = -6;

    // Write results besides the count written.
    static constexpr int32_t kWriteNotOpen = -2;
    static constexpr int32_t kWriteFailed = -3;  // the connection failed, or no progress in time

    // Exit codes of the read thread.
    static constexpr uint32_t kReadStopped = 0;
    static constexpr uint32_t kReadPeerClosed = 1;
    static constexpr uint32_t kReadSocketFailed = 2;
    static constexpr uint32_t kReadProtocolError = 3;
    static constexpr uint32_t kReadWaitFailed = 4;

    // Bytes the receive buffer holds for the call-back.
    static constexpr int32_t kRecvBufSize = 16384;

    CKemRfc2217Port();
    // Closes the connection; the read thread is gone before any member is.
    ~CKemRfc2217Port() override;

    // Reads "rfc2217://HOST:PORT": the scheme in any letter case, HOST a host name (letters,
    // digits, hyphens and dots, labels of 1..63, at most 253 in all) or a dotted quad, PORT
    // 1..65535 in decimal and nothing after it. Nothing for any other text. Pure; any thread.
    static std::optional<Endpoint> ParseRfc2217Url(std::u16string_view url) {
        return kem::channels::ParseRfc2217Url(url);
    }

    // Connects to the URL's server (at most m_nConnectTimeoutMs), asks for the COM-PORT and
    // BINARY options, queues the line settings of `param` with DTR as `dtr` and RTS on (they
    // go out once the server agrees to the COM-PORT option) and starts the read thread.
    // Returns kOpened, kAlreadyOpen, or a failure code above with the port closed. Does not
    // wait for any answer. Owner's thread.
    int32_t Open(std::u16string_view url, const tagComPortParam& param, bool dtr);

    // Stops the read thread (1000 ms, then forced) and closes the connection. Returns 0;
    // safe when closed. Owner's thread.
    int32_t Close();

    // Stops the read thread as the base class does. The stop event also serves to wake the
    // reader when a setting starts waiting for its answer; this tells the two apart.
    // Owner's thread.
    int32_t Stop(uint32_t timeout_ms, bool force) override;

    // 1 while connected and the read thread runs, else 0. Owner's thread.
    int32_t IsOpen();

    // Writes `length` bytes (0xFF doubled on the wire): the count written once all of it was
    // handed to the connection; 0 for null data or length <= 0; kWriteNotOpen; kWriteFailed
    // when the connection failed or took nothing for m_nWriteStallMs (what went out before
    // is not reported). Owner's thread.
    int32_t Write(const void* data, int32_t length);

    // The send entry of the owners; as Write.
    int32_t Send(const void* data, int32_t length);

    // Takes a new record. Open: sends only the settings that changed, at once, without
    // reconnecting. Closed: stored for the next Open. Returns 0, or kBadParam when the record
    // cannot be expressed (nothing changes then). Owner's thread.
    int32_t SetCommParam(const tagComPortParam& param);

    // DTR and RTS: while open, sent at once (SET-CONTROL 8/9, 11/12); closed, stored for the
    // next Open (RTS goes up at every Open). SetDtr returns the new DTR state. Owner's thread.
    int32_t SetDtr(int32_t enable);
    int32_t GetDtr() const { return m_bDtrEnable; }
    void SetRts(int32_t enable);

    // The names of settings whose answer is overdue, e.g. u"SET-CONTROL(DTR)", in the order
    // they were sent. Any thread.
    std::vector<std::u16string> Unconfirmed() const;

    // The last NOTIFY-LINESTATE and NOTIFY-MODEMSTATE values, -1 before the first. Any thread.
    int32_t line_state() const { return m_nLineState.load(); }
    int32_t modem_state() const { return m_nModemState.load(); }

    // Why the connection ended on its own (empty before that, and after Open); kept after
    // Close. Any thread.
    std::u16string last_reason() const;

    // The errno of the last failed Open or Write. Owner's thread.
    const kem::platform::OsError& last_error() const { return m_LastError; }

    // The record and URL in use. Owner's thread.
    const tagComPortParam& param() const { return m_Param; }
    const std::u16string& url() const { return m_szUrl; }
    // The server the last successful Open connected to (its resolved address), so that a
    // lost link can be looked for again without resolving the name. Owner's thread.
    const kem::platform::Ipv4Endpoint& peer() const { return m_Peer; }

    // Installed by the owner before Open.
    ReceiveProc m_pfnOnReceived = nullptr;
    GoneProc m_pfnOnGone = nullptr;
    UnconfirmedProc m_pfnOnUnconfirmed = nullptr;
    void* m_pUser = nullptr;

    // With a value above 0, bytes the call-back kept are offered again after this many
    // milliseconds even when nothing new arrives. Set before Open.
    int32_t m_nKeptOfferMs = 0;
    // How long a write may make no progress before it fails.
    int32_t m_nWriteStallMs = 3000;
    // How long one connect may take.
    int32_t m_nConnectTimeoutMs = 3000;
    // How long a setting waits for its answer before it is reported. Set before Open.
    int32_t m_nAckWaitMs = 1500;

private:
    using Clock = std::chrono::steady_clock;

    // A setting waiting for its answer.
    struct Pending {
        kem::channels::Rfc2217Setting setting;
        Clock::time_point deadline;
        bool sent = false;     // on the wire (it waits for the COM-PORT option until then)
        bool overdue = false;  // reported as unanswered
    };

    static uint32_t ReadThreadProc(void* self);
    uint32_t ReadLoop();
    // Decodes `count` received bytes into the receive buffer and acts on the commands.
    // Returns the data bytes added. Read thread.
    int32_t Absorb(const uint8_t* raw, int32_t count);
    // Takes a COM-PORT subnegotiation of the server: an answer or a notification. m_lock held.
    void TakeServerCommand(const std::vector<uint8_t>& payload);
    void Deliver();

    // Queues `setting` (replacing one of the same key) and sends it when the option allows.
    // Caller holds m_lock.
    void RequestLocked(kem::channels::Rfc2217Setting setting);
    // Sends the queued settings not sent yet, once the COM-PORT option is on. m_lock held.
    void SendWaitingLocked();
    // Marks settings whose time ran out; true when a run of missing answers started. The
    // names newly overdue are appended to `names`. m_lock held.
    bool MarkOverdueLocked(Clock::time_point now, std::vector<std::u16string>& names);
    // Ends the run when nothing is overdue any more. m_lock held.
    void SettleRunLocked();
    // Milliseconds until the next deadline of a waiting setting (-1: none). m_lock held.
    int NextDeadlineMsLocked(Clock::time_point now) const;
    // Hands queued output to the socket without blocking; the errno of a failed send or 0.
    // m_lock held.
    int FlushLocked();
    bool OutputPendingLocked() const { return m_nOutHead < m_Out.size(); }

    // Makes the reader look at the deadlines again. Owner's thread, m_lock not held.
    void WakeReader();

    void LogOverdue(const std::vector<std::u16string>& names) const;
    void SetReason(std::u16string reason);
    int32_t FailOpen(int32_t code);

    std::u16string m_szUrl;
    kem::platform::Ipv4Endpoint m_Peer;
    tagComPortParam m_Param;
    int32_t m_bDtrEnable = 0;
    int32_t m_bRtsEnable = 1;
    kem::platform::SocketHandle m_sock = kem::platform::kInvalidSocket;
    kem::platform::OsError m_LastError;

    // Read thread only.
    kem::channels::telnet::Decoder m_Decoder;
    std::vector<kem::channels::telnet::Event> m_Events;
    std::unique_ptr<uint8_t[]> m_pRecvBuf;
    std::unique_ptr<uint8_t[]> m_pRawBuf;
    int32_t m_nRecvLen = 0;

    // Shared by the owner and the read thread; held only around non-blocking work.
    mutable std::mutex m_lock;
    kem::channels::telnet::Negotiator m_Negotiator;
    std::vector<uint8_t> m_Out;  // queued output from m_nOutHead on
    size_t m_nOutHead = 0;
    uint64_t m_nOutSent = 0;  // bytes ever handed to the socket
    int m_nOutError = 0;      // errno of a failed send; the connection is dead then
    std::vector<Pending> m_Pending;
    bool m_bUnconfirmedRun = false;
    bool m_bComPortRefusalLogged = false;
    std::u16string m_szReason;

    // Set when the owner sent settings: their answers start a fresh count of commands
    // without data in the decoder.
    std::atomic<bool> m_bCommandsSent{false};
    // True while Stop runs: a signalled stop event is then a stop, not a wake-up.
    std::atomic<bool> m_bStopping{false};
    // When the read thread last offered bytes to the call-back.
    Clock::time_point m_LastOffer;

    std::atomic<int32_t> m_nLineState{-1};
    std::atomic<int32_t> m_nModemState{-1};
};
