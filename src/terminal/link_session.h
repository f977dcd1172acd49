// The main window's link: opens and closes the serial port, the TCP client or the TCP server,
// carries received bytes from the worker threads to the window's thread through one bounded
// queue, and keeps the server's client so that only the window's thread ever uses or destroys
// it. With automatic reconnection on, a lost serial port or client connection waits to come
// back instead (see LinkReconnect). No Qt here: the window reaches the session through
// LinkEventSink and plain calls.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "channels/net_connect.h"
#include "channels/port_com.h"
#include "channels/rfc2217_port.h"
#include "terminal/inbound_queue.h"
#include "terminal/link_connection.h"
#include "terminal/link_lost_text.h"
#include "terminal/link_reconnect.h"
#include "terminal/link_text.h"

// How worker threads tell the owner's (window) thread of events. Each call must only post
// (e.g. QCoreApplication::postEvent) and return at once; any thread may call them.
class LinkEventSink {
public:
    virtual ~LinkEventSink() = default;
    // The inbound queue went from empty to non-empty (or TakeInbound left blocks behind).
    virtual void PostTrafficReady() = 0;
    // A client is waiting to be adopted (server): call AdoptAcceptedClient.
    virtual void PostClientAccepted() = 0;
    // A connection ended or the serial device went away: call OnLinkClosed with both values.
    virtual void PostLinkClosed(int32_t code, uint64_t link_id) = 0;
    // A waiting link may be back (the device is there again, or a connection got through):
    // call OnReconnectEvent with the token.
    virtual void PostReconnectEvent(uint64_t token) = 0;
    // What the window marks in its title changed (a remote port left settings unconfirmed):
    // look at Unconfirmed() again. Sinks that show no marks need not post it.
    virtual void PostLinkStatus() {}
};

// The result of Open: the type opened, or kNone with the notice text (caption "提示").
struct OpenOutcome {
    LinkType opened = LinkType::kNone;
    std::u16string message;
};

// What OnLinkClosed made of a close event.
enum class ClosedAction {
    kIgnored,     // stale: not the current link
    kClientLeft,  // server: its client left; the caption goes back to "停止"
    kLinkLost,    // the serial port or the client connection went away: the link is closed
    kWaiting,     // it went away and automatic reconnection waits for it to come back
};

// What OnReconnectEvent did.
enum class ReconnectAction {
    kIgnored,       // stale: no longer the present wait
    kStillWaiting,  // not back yet (the reopen failed, or the connection ended at once)
    kReconnected,   // the link is open again (State() is kOpen)
};

// What the Open button did (Toggle).
enum class ToggleAction {
    kDroppedClient,  // server with a connected client: only the client was dropped
    kClosed,         // an open link was closed
    kOpened,         // a closed link was opened
    kOpenFailed,     // opening failed; the outcome carries the notice
};
struct ToggleOutcome {
    ToggleAction action = ToggleAction::kClosed;
    OpenOutcome open;  // for kOpened and kOpenFailed
};

// What ApplyComParam did.
struct ApplyParamOutcome {
    bool reopened = false;   // the open port was closed and opened again with the parameters
    bool failed = false;     // reopening failed: the link is closed now
    int32_t code = 0;        // the Open result of the reopen
    std::u16string message;  // notice for a failed reopen, else empty
};

class LinkSession {
public:
    // The close code a serial device that went away reports.
    static constexpr int32_t kSerialGoneCode = static_cast<int32_t>(CKemPortCom::kReadDeviceGone);
    // The close code of a remote serial port ("rfc2217://") whose connection ended.
    static constexpr int32_t kRemoteGoneCode = -2217;
    // How long a send may make no progress before it fails.
    static constexpr uint32_t kSendTimeoutMs = 2000;
    // Pause between closing and reopening the port for new parameters.
    static constexpr int kReopenPauseMs = 100;
    // How long the serial channel waits before offering bytes again that were held back.
    static constexpr int32_t kSerialReofferMs = 50;

    // `sink` must outlive the session. `inbound_bound`: bytes queued before the workers are
    // held back. Window's thread.
    explicit LinkSession(LinkEventSink& sink,
                         size_t inbound_bound = kem::terminal::InboundQueue::kDefaultBound);
    // Closes everything; returns promptly even while a receive call-back is held back.
    ~LinkSession();
    LinkSession(const LinkSession&) = delete;
    LinkSession& operator=(const LinkSession&) = delete;

    // The window's serial parameters (the advanced dialog edits the time-outs here); Open reads
    // the parameter text into it without reset. Window's thread.
    tagComPortParam& com_param() { return com_param_; }

    // Opens a link of `type`, closing whatever is open first.
    //  - serial: the parameter text is read into com_param() (no reset; on failure the notice
    //    "不正确的串口参数"); the port is `port_name` (a "COMn" name or a device path); an Open
    //    result <= 0 gives "打开串口失败(code)".
    //  - client: "host:port" from the text, connect waiting up to 3000 ms, no retry; a negative
    //    result gives "连接服务器失败(code)".
    //  - server: the decimal port of the text (0: the OS picks), backlog 1; a negative result
    //    gives "监听端口<text>失败(code)".
    //  - kNone: nothing is opened, no message.
    // Window's thread; blocks at most for the connect time-out and the name resolution.
    OpenOutcome Open(LinkType type, std::u16string_view port_name, std::u16string_view param_text);

    // Closes the open link (server: stops listening and drops its client and any client not
    // yet adopted); a link waiting to come back stops waiting (promptly, also while a connect
    // attempt runs). Returns the type closed, kNone when nothing was open. Window's thread.
    LinkType Close();

    // The Open button: drops only the client of a server that has a connected one; otherwise
    // closes an open or waiting link or opens a closed one (as Open). Window's thread.
    ToggleOutcome Toggle(LinkType type, std::u16string_view port_name,
                         std::u16string_view param_text);

    // Server with a connected client: disconnects and destroys that client (the server keeps
    // listening) and returns true; otherwise false and nothing changes. Window's thread.
    bool DropClient();

    // The type of the open link, or of the link waiting to come back (kNone when closed).
    // Window's thread.
    LinkType type() const { return type_; }
    // The state the Open button shows (kWaiting while a lost link waits to come back).
    // Window's thread.
    LinkState State() const;
    // Serial port open, client connected, or server listening; false while waiting. Window's
    // thread.
    bool IsOpen() const;
    // Whether the loop timer should send: serial open, client connected, or server with a
    // connected client. Window's thread.
    bool CanLoopSend() const;

    // Automatic reconnection (off by default). With it on, a serial port whose device went
    // away and a client connection that ended are not closed but wait (State() kWaiting):
    //  - serial: the descriptor is closed; once the device is there again (the same path, or
    //    the adapter found again through the by-id link that named it when it was opened) it
    //    is reopened with com_param() and the DTR state, at most every 250 ms;
    //  - client: a worker connects to the same address again, first after 0.5 s, the pause
    //    doubling after each failure up to 5 s.
    // The worker posts PostReconnectEvent; OnReconnectEvent finishes the work. Turning it off
    // while waiting closes the link. Window's thread.
    void SetAutoReconnect(bool on);
    bool auto_reconnect() const { return auto_reconnect_; }
    // True while a lost link waits to come back. Window's thread.
    bool IsWaiting() const { return waiting_; }

    // On PostReconnectEvent: a token that is not the present wait's is kIgnored. Serial: the
    // port is reopened; kReconnected, or kStillWaiting when that failed (the wait goes on and
    // tries again no sooner than 250 ms later). Client: the connection that got through
    // becomes the current link with its own link id (kReconnected), or, when it already ended,
    // connecting starts over (kStillWaiting; in the rare case that no worker can be started
    // the link is closed instead, as State() then shows). Window's thread.
    ReconnectAction OnReconnectEvent(uint64_t token);

    // The folder searched, at each serial open, for a link naming the opened device; default
    // kem::platform::kSerialByIdFolder. Window's thread, before Open.
    void SetSerialByIdFolder(std::string folder) { by_id_folder_ = std::move(folder); }
    // The path a lost serial port is waited for and reopened through (UTF-8; empty before the
    // first serial open). Window's thread.
    const std::string& serial_watch_path() const { return serial_watch_path_; }
    // The reconnect worker, for tests and diagnostics.
    const kem::terminal::LinkReconnect& reconnect() const { return *reconnect_; }

    enum class SendResult { kSent, kNotOpen, kFailed };
    // Writes to the open link: serial (bounded by its write stall), client (bounded by
    // kSendTimeoutMs without progress), server: its adopted client only. kNotOpen when there is
    // nothing to send to; kFailed when the channel refused or stalled (some bytes may have gone
    // out). A count of 0 or null data is kSent with nothing done. Window's thread.
    SendResult Send(const uint8_t* data, size_t count);

    // Received blocks, oldest first, about `max_bytes` at most (at least one block when any is
    // queued). Blocks left behind are announced again with PostTrafficReady. Window's thread.
    std::vector<std::vector<uint8_t>> TakeInbound(size_t max_bytes);

    // On PostClientAccepted: takes the waiting client(s); the newest becomes the current client,
    // the previous client and older waiting ones are disconnected and destroyed. True when a new
    // client was adopted (caption "断开"); false when none waited or no server is open.
    // Window's thread.
    bool AdoptAcceptedClient();

    // On PostLinkClosed: acts only when `link_id` names the current link. The server's client:
    // destroyed, kClientLeft. The client connection or the serial port: with automatic
    // reconnection, it waits to come back (kWaiting, no notice); otherwise, or when the wait
    // cannot start, closed as Close does, kLinkLost (LostLinkMessage then has the notice).
    // Anything else: kIgnored. Window's thread.
    ClosedAction OnLinkClosed(int32_t code, uint64_t link_id);

    // Hands com_param() to the serial channel. An open port is closed, left for 100 ms and
    // opened again; a failed reopen leaves the link closed and says so in the outcome (with
    // the "打开串口失败(code)" notice). Window's thread.
    ApplyParamOutcome ApplyComParam();

    // The notice for the link most recently lost on its own (kLinkLost): "串口已断开:<port>" or
    // "与服务器的连接已断开(<code>)"; empty when none was lost since the last Open. Window's
    // thread.
    std::u16string LostLinkMessage() const { return lost_message_; }
    // The notice for a lost link of `type` with close `code` (empty for the server and kNone).
    // Window's thread.
    std::u16string LostLinkMessage(LinkType type, int32_t code) const;

    // The channels, for the advanced dialog and tests. Do not open or close them directly.
    CKemPortCom& serial() { return *serial_; }
    CKemNetConnect& net() { return *net_; }

    // A serial link whose port name is "rfc2217://host:port" is a remote port (see
    // CKemRfc2217Port): opened with the parameter text, written and read like a local one,
    // new parameters applied on the fly, and when lost it waits by the TCP rules (the server
    // is tried again with the growing pause; once it answers, the port is opened again).
    bool IsRemote() const { return remote_active_; }
    CKemRfc2217Port& remote() { return *remote_; }
    // True while a remote port has settings the server never confirmed. Window's thread.
    bool Unconfirmed() const;

    // The server's adopted client (null when none). Window's thread; for tests.
    CKemNetConnect* current_client() const { return client_.get(); }
    // Id of the current link (serial open or client connection); 0 when none or while
    // waiting. Window's thread.
    uint64_t current_link_id() const;
    // The inbound queue, for tests and diagnostics.
    const kem::terminal::InboundQueue& inbound() const { return inbound_; }

private:
    static int32_t OnSerialReceived(const char16_t* port_path, const uint8_t* data, int32_t count,
                                    void* user);
    static void OnSerialGone(void* user);
    static void OnRemoteGone(void* user);
    static void OnRemoteUnconfirmed(void* user);
    static void OnNetAccepted(CKemNetConnect* connection);
    static int32_t OnNetReceived(CKemNetConnect* connection);
    static void OnNetClosed(CKemNetConnect* connection, int32_t reason);

    OpenOutcome OpenSerial(std::u16string_view port_name, std::u16string_view param_text);
    OpenOutcome OpenRemote(std::u16string_view url);
    OpenOutcome OpenClient(std::u16string_view param_text);
    OpenOutcome OpenServer(std::u16string_view param_text);
    // Disconnects and destroys the adopted client and every waiting one.
    void DropAllClients();
    // Sets the installed call-backs, user data and send time-out on a client connection.
    void InstallCallbacks(CKemNetConnect& connection);
    // Closes the lost serial port or client connection and starts waiting for it; false when
    // the wait could not start (then nothing waits).
    bool StartWaiting();
    bool StartClientWait();
    // Tries the remote port's server again and again (connect only) until it answers.
    bool StartRemoteWait();
    ReconnectAction ReopenRemote();
    // The serial port, or the remote one, is open.
    bool SerialSideOpen() const;
    // Ends a wait; the link is then closed.
    void StopWaiting();
    ReconnectAction ReopenSerial();
    ReconnectAction AdoptReconnected();
    static void Discard(std::unique_ptr<kem::terminal::LinkConnection> connection);

    LinkEventSink& sink_;
    // Declared before the channels: their workers push into it until they are gone.
    kem::terminal::InboundQueue inbound_;
    tagComPortParam com_param_;
    LinkType type_ = LinkType::kNone;
    std::u16string port_name_;  // serial port of the last open, for the lost-link notice
    std::u16string lost_message_;
    std::atomic<uint64_t> serial_link_id_{0};

    std::mutex pending_lock_;
    std::vector<std::unique_ptr<kem::terminal::LinkConnection>> pending_;  // accepted, not adopted
    std::unique_ptr<kem::terminal::LinkConnection> client_;                // adopted server client

    std::unique_ptr<CKemPortCom> serial_;
    std::unique_ptr<CKemRfc2217Port> remote_;
    bool remote_active_ = false;  // the serial link is the remote port
    std::unique_ptr<kem::terminal::LinkConnection> net_;

    bool auto_reconnect_ = false;
    bool waiting_ = false;
    std::string by_id_folder_;
    std::string serial_watch_path_;      // by-id link, or the opened device path
    std::u16string serial_reopen_name_;  // the same, as the serial channel takes it
    // Declared last: its worker's connection pushes into the queue and posts to the sink.
    std::unique_ptr<kem::terminal::LinkReconnect> reconnect_;
};
