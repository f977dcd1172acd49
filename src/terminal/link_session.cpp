#include "terminal/link_session.h"

#include <algorithm>
#include <climits>
#include <new>
#include <utility>

#include "platform/code_page.h"
#include "platform/device_watch.h"
#include "platform/thread.h"
#include "terminal/serial_param_text.h"

using kem::terminal::LinkConnection;
using kem::terminal::LinkReconnect;
using kem::terminal::ReconnectConnection;

namespace {

// What the connect of the TCP client waits for: one attempt of 3 s, no retry.
constexpr uint32_t kConnectTimeoutMs = 3000;
constexpr int32_t kConnectRetries = 0;
constexpr uint32_t kConnectRetryWaitMs = 3000;
constexpr int32_t kListenBacklog = 1;

// Larger sends go to the channels in pieces their int32 counts can carry.
constexpr size_t kSendPiece = 1u << 30;

int32_t ClampToInt32(int64_t value) {
    return static_cast<int32_t>(std::clamp<int64_t>(value, INT32_MIN, INT32_MAX));
}

LinkSession& SessionOf(CKemNetConnect* connection) {
    return *static_cast<LinkSession*>(connection->m_pUserData);
}

}  // namespace

LinkSession::LinkSession(LinkEventSink& sink, size_t inbound_bound)
    : sink_(sink),
      inbound_([this] { sink_.PostTrafficReady(); }, inbound_bound),
      serial_(std::make_unique<CKemPortCom>()),
      remote_(std::make_unique<CKemRfc2217Port>()),
      net_(std::make_unique<LinkConnection>()),
      by_id_folder_(kem::platform::kSerialByIdFolder),
      reconnect_(std::make_unique<LinkReconnect>(
          [this](uint64_t token) { sink_.PostReconnectEvent(token); })) {
    serial_->m_pfnOnReceived = &OnSerialReceived;
    serial_->m_pfnOnGone = &OnSerialGone;
    serial_->m_pUser = this;
    serial_->m_bAutoOpen = 0;
    serial_->m_nKeptOfferMs = kSerialReofferMs;

    // The remote port hands its bytes over exactly as the local one does.
    remote_->m_pfnOnReceived = &OnSerialReceived;
    remote_->m_pfnOnGone = &OnRemoteGone;
    remote_->m_pfnOnUnconfirmed = &OnRemoteUnconfirmed;
    remote_->m_pUser = this;
    remote_->m_nKeptOfferMs = kSerialReofferMs;

    InstallCallbacks(*net_);
}

void LinkSession::InstallCallbacks(CKemNetConnect& connection) {
    // Accepted clients inherit the callbacks, the user data and the send time-out.
    connection.m_pfnOnAccepted = &OnNetAccepted;
    connection.m_pfnOnReceived = &OnNetReceived;
    connection.m_pfnOnDisconnected = &OnNetClosed;
    connection.m_pUserData = this;
    connection.m_dwSendTimeout = kSendTimeoutMs;
}

LinkSession::~LinkSession() {
    Close();
    reconnect_.reset();
    // The channels go before the queue their workers push into.
    net_.reset();
    remote_.reset();
    serial_.reset();
}

// ---- worker-thread call-backs ------------------------------------------------------------

int32_t LinkSession::OnSerialReceived(const char16_t*, const uint8_t* data, int32_t count,
                                      void* user) {
    auto* self = static_cast<LinkSession*>(user);
    if (count <= 0) {
        return count;
    }
    // A full queue keeps the bytes in the channel: it stops reading, and the device is held
    // back by the line's buffer and flow control until the window catches up.
    return self->inbound_.TryPush(data, static_cast<size_t>(count)) ? count : 0;
}

void LinkSession::OnSerialGone(void* user) {
    auto* self = static_cast<LinkSession*>(user);
    self->sink_.PostLinkClosed(kSerialGoneCode, self->serial_link_id_.load());
}

void LinkSession::OnRemoteGone(void* user) {
    auto* self = static_cast<LinkSession*>(user);
    self->sink_.PostLinkClosed(kRemoteGoneCode, self->serial_link_id_.load());
}

void LinkSession::OnRemoteUnconfirmed(void* user) {
    static_cast<LinkSession*>(user)->sink_.PostLinkStatus();
}

void LinkSession::OnNetAccepted(CKemNetConnect* connection) {
    LinkSession& self = SessionOf(connection);
    // Its receive and close call-backs came from the listener when it was attached, before
    // its receive thread started; that thread calls none of them before this returns.
    auto* link = static_cast<LinkConnection*>(connection);
    try {
        std::lock_guard lock(self.pending_lock_);
        self.pending_.emplace_back(link);
    } catch (const std::bad_alloc&) {
        // No slot for it: end it so it never reaches the session; the object is lost, which
        // beats a live connection nobody owns.
        link->Abort();
        link->Disconnect(false);
        return;
    }
    self.sink_.PostClientAccepted();
}

int32_t LinkSession::OnNetReceived(CKemNetConnect* connection) {
    LinkSession& self = SessionOf(connection);
    auto* link = static_cast<LinkConnection*>(connection);
    const int32_t held = connection->m_nRecvLen;
    if (held <= 0) {
        return 0;
    }
    // Waiting here leaves the socket unread, so TCP flow control slows the peer down.
    self.inbound_.PushWaiting(connection->m_pRecvBuf.get(), static_cast<size_t>(held),
                              link->abort_event());
    return held;
}

void LinkSession::OnNetClosed(CKemNetConnect* connection, int32_t reason) {
    auto* link = static_cast<LinkConnection*>(connection);
    SessionOf(connection).sink_.PostLinkClosed(reason, link->link_id());
}

// ---- open and close ------------------------------------------------------------------------

OpenOutcome LinkSession::Open(LinkType type, std::u16string_view port_name,
                              std::u16string_view param_text) {
    Close();
    lost_message_.clear();
    switch (type) {
        case LinkType::kSerial:
            return OpenSerial(port_name, param_text);
        case LinkType::kTcpClient:
            return OpenClient(param_text);
        case LinkType::kTcpServer:
            return OpenServer(param_text);
        case LinkType::kNone:
            break;
    }
    return {};
}

OpenOutcome LinkSession::OpenSerial(std::u16string_view port_name, std::u16string_view param_text) {
    OpenOutcome outcome;
    if (!ParseComParam(param_text, com_param_, false)) {
        outcome.message = kBadComParamMessage;
        return outcome;
    }
    if (CKemRfc2217Port::ParseRfc2217Url(port_name)) {
        return OpenRemote(port_name);
    }
    const std::u16string name(port_name);
    serial_->SetPortName(name.c_str());
    serial_->SetCommParam(com_param_);
    serial_link_id_ = kem::terminal::NextLinkId();
    const int32_t result = serial_->Open();
    if (result <= 0) {
        outcome.message = SerialOpenFailedText(result);
        return outcome;
    }
    port_name_ = name;
    // Found now, while the device is there: once it is gone the link may be all that still
    // leads to it (an adapter plugged in again can come back under another number).
    const std::string opened = kem::platform::WideToUtf8(serial_->port_path().value_or(name));
    const std::string link = kem::platform::FindLinkTo(by_id_folder_, opened);
    serial_watch_path_ = link.empty() ? opened : link;
    serial_reopen_name_ =
        link.empty() ? serial_->port_path().value_or(name) : kem::platform::Utf8ToWide(link);
    type_ = LinkType::kSerial;
    outcome.opened = type_;
    return outcome;
}

OpenOutcome LinkSession::OpenRemote(std::u16string_view url) {
    OpenOutcome outcome;
    serial_link_id_ = kem::terminal::NextLinkId();
    const int32_t result = remote_->Open(url, com_param_, serial_->m_bDtrEnable != 0);
    if (result <= 0) {
        outcome.message = SerialOpenFailedText(result);
        return outcome;
    }
    port_name_ = std::u16string(url);
    remote_active_ = true;
    type_ = LinkType::kSerial;
    outcome.opened = type_;
    return outcome;
}

OpenOutcome LinkSession::OpenClient(std::u16string_view param_text) {
    OpenOutcome outcome;
    const ClientTarget target = ParseClientTarget(param_text);
    net_->Rearm();
    net_->RenewLinkId();
    const int32_t result =
        net_->ConnectByName(target.host.c_str(), ClampToInt32(target.port.value), true,
                            kConnectTimeoutMs, kConnectRetries, kConnectRetryWaitMs);
    if (result < 0) {
        outcome.message = ConnectFailedText(result);
        return outcome;
    }
    type_ = LinkType::kTcpClient;
    outcome.opened = type_;
    return outcome;
}

OpenOutcome LinkSession::OpenServer(std::u16string_view param_text) {
    OpenOutcome outcome;
    const PortNumber port = ParsePortNumber(param_text);
    net_->Rearm();
    const int32_t result = net_->Listen(ClampToInt32(port.value), kListenBacklog);
    if (result < 0) {
        outcome.message = ListenFailedText(param_text, result);
        return outcome;
    }
    type_ = LinkType::kTcpServer;
    outcome.opened = type_;
    return outcome;
}

LinkType LinkSession::Close() {
    const LinkType closed = type_;
    StopWaiting();
    switch (type_) {
        case LinkType::kSerial:
            serial_->Close();
            remote_->Close();
            break;
        case LinkType::kTcpClient:
            net_->Abort();
            net_->StopConnect();
            net_->Disconnect(false);
            break;
        case LinkType::kTcpServer:
            // The listen thread is gone after this, so no client can arrive while they are
            // dropped below.
            net_->StopListen();
            DropAllClients();
            break;
        case LinkType::kNone:
            break;
    }
    type_ = LinkType::kNone;
    remote_active_ = false;
    return closed;
}

ToggleOutcome LinkSession::Toggle(LinkType type, std::u16string_view port_name,
                                  std::u16string_view param_text) {
    ToggleOutcome outcome;
    if (DropClient()) {
        outcome.action = ToggleAction::kDroppedClient;
        return outcome;
    }
    if (IsOpen() || waiting_) {
        Close();
        outcome.action = ToggleAction::kClosed;
        return outcome;
    }
    outcome.open = Open(type, port_name, param_text);
    outcome.action =
        outcome.open.opened != LinkType::kNone ? ToggleAction::kOpened : ToggleAction::kOpenFailed;
    return outcome;
}

bool LinkSession::DropClient() {
    if (type_ != LinkType::kTcpServer || !client_ || client_->m_bConnected == 0) {
        return false;
    }
    std::unique_ptr<LinkConnection> client = std::move(client_);
    client->Abort();
    client->Disconnect(true);  // its close event comes later and is ignored as stale
    client.reset();
    return true;
}

void LinkSession::Discard(std::unique_ptr<LinkConnection> connection) {
    if (!connection) {
        return;
    }
    connection->Abort();
    connection->Disconnect(false);
}

void LinkSession::DropAllClients() {
    std::vector<std::unique_ptr<LinkConnection>> waiting;
    {
        std::lock_guard lock(pending_lock_);
        waiting.swap(pending_);
    }
    for (auto& connection : waiting) {
        Discard(std::move(connection));
    }
    Discard(std::move(client_));
}

// ---- state -------------------------------------------------------------------------------

LinkState LinkSession::State() const {
    if (waiting_) {
        return LinkState::kWaiting;
    }
    switch (type_) {
        case LinkType::kSerial:
            return SerialSideOpen() ? LinkState::kOpen : LinkState::kClosed;
        case LinkType::kTcpClient:
            return net_->m_bConnected != 0 ? LinkState::kOpen : LinkState::kClosed;
        case LinkType::kTcpServer:
            if (net_->m_sockListen == kem::platform::kInvalidSocket) {
                return LinkState::kClosed;
            }
            return client_ ? LinkState::kServingClient : LinkState::kListening;
        case LinkType::kNone:
            break;
    }
    return LinkState::kClosed;
}

bool LinkSession::IsOpen() const {
    const LinkState state = State();
    return state != LinkState::kClosed && state != LinkState::kWaiting;
}

bool LinkSession::SerialSideOpen() const {
    return remote_active_ ? remote_->IsOpen() != 0 : serial_->IsOpen() != 0;
}

bool LinkSession::Unconfirmed() const {
    return remote_active_ && !waiting_ && !remote_->Unconfirmed().empty();
}

bool LinkSession::CanLoopSend() const {
    if (waiting_) {
        return false;
    }
    switch (type_) {
        case LinkType::kSerial:
            return SerialSideOpen();
        case LinkType::kTcpClient:
            return net_->m_bConnected != 0;
        case LinkType::kTcpServer:
            return client_ && client_->m_bConnected != 0;
        case LinkType::kNone:
            break;
    }
    return false;
}

uint64_t LinkSession::current_link_id() const {
    if (waiting_) {
        return 0;
    }
    switch (type_) {
        case LinkType::kSerial:
            return serial_link_id_.load();
        case LinkType::kTcpClient:
            return net_->link_id();
        case LinkType::kTcpServer:
            return client_ ? client_->link_id() : 0;
        case LinkType::kNone:
            break;
    }
    return 0;
}

// ---- traffic -------------------------------------------------------------------------------

LinkSession::SendResult LinkSession::Send(const uint8_t* data, size_t count) {
    if (data == nullptr || count == 0) {
        return SendResult::kSent;
    }
    if (waiting_) {
        return SendResult::kNotOpen;
    }
    CKemNetConnect* connection = nullptr;
    switch (type_) {
        case LinkType::kSerial:
            if (!SerialSideOpen()) {
                return SendResult::kNotOpen;
            }
            break;
        case LinkType::kTcpClient:
            connection = net_.get();
            break;
        case LinkType::kTcpServer:
            connection = client_.get();
            break;
        case LinkType::kNone:
            return SendResult::kNotOpen;
    }
    if (type_ != LinkType::kSerial && (connection == nullptr || connection->m_bConnected == 0)) {
        return SendResult::kNotOpen;
    }
    for (size_t at = 0; at < count;) {
        const auto piece = static_cast<int32_t>(std::min(count - at, kSendPiece));
        if (connection == nullptr) {
            const int32_t written =
                remote_active_ ? remote_->Send(data + at, piece) : serial_->Send(data + at, piece);
            if (written == CKemPortCom::kWriteNotOpen) {
                return SendResult::kNotOpen;
            }
            if (written != piece) {
                return SendResult::kFailed;
            }
        } else {
            const int32_t result = connection->Send(data + at, piece, 0);
            if (result == kNetNotConnected) {
                return SendResult::kNotOpen;
            }
            if (result != kNetOk) {
                return SendResult::kFailed;
            }
        }
        at += static_cast<size_t>(piece);
    }
    return SendResult::kSent;
}

std::vector<std::vector<uint8_t>> LinkSession::TakeInbound(size_t max_bytes) {
    return inbound_.Take(max_bytes);
}

bool LinkSession::AdoptAcceptedClient() {
    std::vector<std::unique_ptr<LinkConnection>> waiting;
    {
        std::lock_guard lock(pending_lock_);
        waiting.swap(pending_);
    }
    if (waiting.empty()) {
        return false;
    }
    if (type_ != LinkType::kTcpServer) {
        for (auto& connection : waiting) {
            Discard(std::move(connection));
        }
        return false;
    }
    // The newest client wins; the one it replaces and any older waiting one are ended here,
    // on the only thread that ever uses them.
    std::unique_ptr<LinkConnection> newest = std::move(waiting.back());
    waiting.pop_back();
    Discard(std::move(client_));
    for (auto& connection : waiting) {
        Discard(std::move(connection));
    }
    client_ = std::move(newest);
    return true;
}

ClosedAction LinkSession::OnLinkClosed(int32_t code, uint64_t link_id) {
    if (link_id == 0) {
        return ClosedAction::kIgnored;
    }
    switch (type_) {
        case LinkType::kTcpServer:
            if (client_ && client_->link_id() == link_id) {
                Discard(std::move(client_));
                return ClosedAction::kClientLeft;
            }
            break;
        case LinkType::kTcpClient:
        case LinkType::kSerial:
            if (current_link_id() == link_id) {
                if (auto_reconnect_ && StartWaiting()) {
                    return ClosedAction::kWaiting;
                }
                lost_message_ = LostLinkMessage(type_, code);
                Close();
                return ClosedAction::kLinkLost;
            }
            break;
        case LinkType::kNone:
            break;
    }
    return ClosedAction::kIgnored;
}

ApplyParamOutcome LinkSession::ApplyComParam() {
    ApplyParamOutcome outcome;
    if (type_ == LinkType::kSerial && remote_active_) {
        // The remote port takes new settings on the fly: no reconnection, nothing lost.
        serial_->SetCommParam(com_param_);
        if (remote_->SetCommParam(com_param_) != 0) {
            outcome.message = kBadComParamMessage;
        }
        remote_->SetDtr(serial_->m_bDtrEnable);
        return outcome;
    }
    if (type_ != LinkType::kSerial || serial_->IsOpen() == 0) {
        serial_->SetCommParam(com_param_);
        return outcome;
    }
    // Reopened here rather than inside the channel, so a failed reopen is known and the new
    // session of the port gets its own id.
    serial_->Close();
    serial_->SetCommParam(com_param_);
    kem::platform::SleepMs(kReopenPauseMs);
    serial_link_id_ = kem::terminal::NextLinkId();
    outcome.reopened = true;
    outcome.code = serial_->Open();
    if (outcome.code <= 0) {
        outcome.failed = true;
        outcome.message = SerialOpenFailedText(outcome.code);
        Close();
    }
    return outcome;
}

std::u16string LinkSession::LostLinkMessage(LinkType type, int32_t code) const {
    switch (type) {
        case LinkType::kSerial: {
            // A remote port says why its server went: a broken stream is not a pulled cable.
            const std::u16string reason = remote_active_ ? remote_->last_reason() : u"";
            const std::u16string text = kem::terminal::SerialLostText(port_name_);
            return reason.empty() ? text : text + u"(" + reason + u")";
        }
        case LinkType::kTcpClient:
            return kem::terminal::ServerClosedText(code);
        default:
            return {};
    }
}

// ---- automatic reconnection ----------------------------------------------------------------

void LinkSession::SetAutoReconnect(bool on) {
    auto_reconnect_ = on;
    if (!on && waiting_) {
        Close();
    }
}

bool LinkSession::StartWaiting() {
    if (type_ == LinkType::kSerial && remote_active_) {
        remote_->Close();
        waiting_ = StartRemoteWait();
        return waiting_;
    }
    if (type_ == LinkType::kSerial) {
        // The dead descriptor goes at once: while it is held, the node of an unplugged adapter
        // cannot be reused and it would come back under another number.
        serial_->Close();
        waiting_ = reconnect_->StartSerial(serial_watch_path_);
        return waiting_;
    }
    if (type_ == LinkType::kTcpClient) {
        net_->Abort();
        net_->StopConnect();
        net_->Disconnect(false);
        waiting_ = StartClientWait();
        return waiting_;
    }
    return false;
}

bool LinkSession::StartClientWait() {
    // The address the lost connection had: no name is resolved on the worker, whose waits
    // must all be ones a stop request ends.
    auto connection = std::make_unique<ReconnectConnection>();
    InstallCallbacks(*connection);
    return reconnect_->StartClient(std::move(connection), net_->m_dwRemoteAddr,
                                   net_->m_nRemotePort);
}

bool LinkSession::StartRemoteWait() {
    // Only a connection to see that the server is back: no call-backs, so nothing it hears
    // reaches the queue; the remote port itself connects once it got through.
    const kem::platform::Ipv4Endpoint& peer = remote_->peer();
    return reconnect_->StartClient(std::make_unique<ReconnectConnection>(), peer.address,
                                   peer.port);
}

void LinkSession::StopWaiting() {
    reconnect_->Stop();
    waiting_ = false;
}

ReconnectAction LinkSession::OnReconnectEvent(uint64_t token) {
    if (!waiting_ || token == 0 || token != reconnect_->token()) {
        return ReconnectAction::kIgnored;
    }
    switch (type_) {
        case LinkType::kSerial:
            return remote_active_ ? ReopenRemote() : ReopenSerial();
        case LinkType::kTcpClient:
            return AdoptReconnected();
        default:
            return ReconnectAction::kIgnored;
    }
}

ReconnectAction LinkSession::ReopenSerial() {
    serial_->SetPortName(serial_reopen_name_.c_str());
    serial_->SetCommParam(com_param_);
    serial_link_id_ = kem::terminal::NextLinkId();
    if (serial_->Open() <= 0) {
        // Often the node is there before it can be used (permissions not set yet, another
        // program still holds it): the worker looks again a little later.
        reconnect_->RetrySerial();
        return ReconnectAction::kStillWaiting;
    }
    StopWaiting();
    return ReconnectAction::kReconnected;
}

ReconnectAction LinkSession::ReopenRemote() {
    std::unique_ptr<ReconnectConnection> probe = reconnect_->TakeConnection();
    if (!probe) {
        return ReconnectAction::kStillWaiting;
    }
    reconnect_->Stop();
    Discard(std::move(probe));
    serial_link_id_ = kem::terminal::NextLinkId();
    if (remote_->Open(port_name_, com_param_, serial_->m_bDtrEnable != 0) <= 0) {
        waiting_ = StartRemoteWait();
        if (!waiting_) {
            Close();  // no worker to wait with: closed, which State() shows
        }
        return ReconnectAction::kStillWaiting;
    }
    waiting_ = false;
    return ReconnectAction::kReconnected;
}

ReconnectAction LinkSession::AdoptReconnected() {
    std::unique_ptr<ReconnectConnection> connection = reconnect_->TakeConnection();
    if (!connection) {
        return ReconnectAction::kStillWaiting;
    }
    reconnect_->Stop();
    if (connection->ended()) {
        // It ended before it was adopted; its close event, if not yet seen, names a link that
        // is not current and is ignored. Start over from the same address.
        const uint32_t address = connection->m_dwRemoteAddr;
        const uint16_t port = connection->m_nRemotePort;
        Discard(std::move(connection));
        auto fresh = std::make_unique<ReconnectConnection>();
        InstallCallbacks(*fresh);
        waiting_ = reconnect_->StartClient(std::move(fresh), address, port);
        if (!waiting_) {
            Close();  // no worker to wait with: closed, which State() shows
        }
        return ReconnectAction::kStillWaiting;
    }
    // Not ended now means its close event comes later, carrying its id, which is current from
    // here on.
    std::unique_ptr<LinkConnection> previous = std::move(net_);
    net_ = std::move(connection);
    Discard(std::move(previous));
    waiting_ = false;
    return ReconnectAction::kReconnected;
}
