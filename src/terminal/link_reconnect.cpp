#include "terminal/link_reconnect.h"

#include <algorithm>
#include <utility>

#include "platform/device_watch.h"

namespace kem::terminal {
namespace {

namespace platform = kem::platform;

// Stop asks the worker to end; it is only ever in a platform wait, so this is plenty.
constexpr int kWorkerStopMs = 2000;

// An attempt reports its end within its time-out; the supervising thread of the connection
// allows itself a grace beyond that, and this covers both.
constexpr int kOutcomeWaitMs = static_cast<int>(LinkReconnect::kAttemptTimeoutMs) + 12000;

int MsUntil(LinkReconnect::Clock::time_point when) {
    // Rounded up: a pause must never end before `when`.
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(when - LinkReconnect::Clock::now()).count();
    return static_cast<int>(std::clamp<int64_t>(left, 0, LinkReconnect::kMaxBackoffMs));
}

}  // namespace

// ---- the connection ------------------------------------------------------------------------

ReconnectConnection::~ReconnectConnection() {
    Abort();
    StopForDestruction();
}

void ReconnectConnection::ResetOutcome() {
    outcome_ = 1;
    ended_ = false;
    outcome_ready_.Reset();
}

int32_t ReconnectConnection::OnConnectResult(SocketHandle sock, uint32_t address, uint16_t port,
                                             int32_t code) {
    // A single failed attempt is followed by the final verdict; only that one counts.
    if (code == kNetOk || code == kNetAllAttemptsFailed) {
        outcome_ = code;
        outcome_ready_.Set();
    }
    return LinkConnection::OnConnectResult(sock, address, port, code);
}

int32_t ReconnectConnection::OnDisconnected(SocketHandle sock, uint32_t address, uint16_t port,
                                            int32_t reason) {
    ended_ = true;
    return LinkConnection::OnDisconnected(sock, address, port, reason);
}

// ---- the worker ----------------------------------------------------------------------------

LinkReconnect::LinkReconnect(PostProc post) : post_(std::move(post)) {}

LinkReconnect::~LinkReconnect() {
    Stop();
}

bool LinkReconnect::StartWorker(platform::ThreadProc proc) {
    {
        std::lock_guard lock(lock_);
        attempts_.clear();
    }
    token_ = NextLinkId();
    stop_.Reset();
    retry_.Reset();
    if (!stop_.valid() || !retry_.valid() || worker_.Create(proc, this, false) != 0) {
        worker_.Release();
        connecting_.reset();
        return false;
    }
    active_ = true;
    return true;
}

bool LinkReconnect::StartSerial(std::string path) {
    Stop();
    path_ = std::move(path);
    return StartWorker(&SerialProc);
}

void LinkReconnect::RetrySerial() {
    retry_.Set();
}

bool LinkReconnect::StartClient(std::unique_ptr<ReconnectConnection> connection, uint32_t address,
                                uint16_t port) {
    Stop();
    if (!connection) {
        return false;
    }
    connecting_ = std::move(connection);
    address_ = address;
    port_ = port;
    return StartWorker(&ClientProc);
}

std::unique_ptr<ReconnectConnection> LinkReconnect::TakeConnection() {
    std::lock_guard lock(lock_);
    return std::move(connected_);
}

void LinkReconnect::Stop() {
    if (worker_.exists()) {
        stop_.Set();
        if (!worker_.Join(kWorkerStopMs)) {
            worker_.Terminate(0);
        }
        worker_.Release();
    }
    active_ = false;
    // Destroyed here, on the owner's thread, once no worker uses them any more.
    connecting_.reset();
    std::unique_ptr<ReconnectConnection> unclaimed = TakeConnection();
    unclaimed.reset();
}

std::vector<LinkReconnect::Clock::time_point> LinkReconnect::AttemptTimes() const {
    std::lock_guard lock(lock_);
    return attempts_;
}

void LinkReconnect::NoteAttempt(Clock::time_point when) {
    std::lock_guard lock(lock_);
    if (attempts_.size() >= kKeptAttempts) {
        attempts_.erase(attempts_.begin());
    }
    attempts_.push_back(when);
}

bool LinkReconnect::PauseStopped(int ms) {
    return stop_.Wait(ms) != platform::kWaitTimeout;
}

uint32_t LinkReconnect::SerialProc(void* self) {
    static_cast<LinkReconnect*>(self)->RunSerial();
    return 0;
}

uint32_t LinkReconnect::ClientProc(void* self) {
    static_cast<LinkReconnect*>(self)->RunClient();
    return 0;
}

void LinkReconnect::RunSerial() {
    const uint64_t token = token_;
    for (;;) {
        if (PauseStopped(MsUntil(last_post_ + std::chrono::milliseconds(kSerialRetryMs)))) {
            return;
        }
        const platform::PathWaitResult waited = platform::WaitForPath(path_, stop_);
        if (waited.stopped) {
            return;
        }
        if (waited.failed) {
            // The wait itself broke (out of descriptors, say): try again at the poll pace.
            last_post_ = Clock::now();
            continue;
        }
        last_post_ = Clock::now();
        NoteAttempt(last_post_);
        post_(token);
        platform::Event* events[2] = {&stop_, &retry_};
        if (platform::WaitAny(events, 2, platform::kInfinite) != platform::kWaitObject0 + 1) {
            return;  // stopped (or the wait failed: nothing sensible is left to do)
        }
    }
}

void LinkReconnect::RunClient() {
    const uint64_t token = token_;
    ReconnectConnection& connection = *connecting_;
    int pause_ms = kFirstBackoffMs;
    for (;;) {
        if (PauseStopped(pause_ms)) {
            return;
        }
        pause_ms = std::min(pause_ms * 2, kMaxBackoffMs);
        NoteAttempt(Clock::now());
        connection.Rearm();
        connection.RenewLinkId();
        connection.ResetOutcome();
        const int32_t started = connection.Connect(address_, port_, false, kAttemptTimeoutMs, 0, 0);
        bool connected = started == kNetOk;
        if (started == kNetConnectPending) {
            platform::Event* events[2] = {&stop_, &connection.outcome_ready()};
            const uint32_t waited = platform::WaitAny(events, 2, kOutcomeWaitMs);
            if (waited == platform::kWaitObject0) {
                connection.StopConnect();
                return;
            }
            connected = waited == platform::kWaitObject0 + 1 && connection.outcome() == kNetOk;
        }
        // Joins the supervising thread of the attempt, which has ended or is about to.
        connection.StopConnect();
        if (connected) {
            {
                std::lock_guard lock(lock_);
                connected_ = std::move(connecting_);
            }
            post_(token);
            return;
        }
        connection.Disconnect(false);
    }
}

}  // namespace kem::terminal
