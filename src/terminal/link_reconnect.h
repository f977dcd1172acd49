// Getting a lost link back without the user: a worker that waits for a serial device to
// reappear, or that connects to the TCP server again with a growing pause between attempts.
// The worker only watches and connects; the window's thread reopens the serial port and adopts
// the new connection when it is told (the post function), so the channels keep one owner.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/event.h"
#include "platform/thread.h"
#include "terminal/link_connection.h"

namespace kem::terminal {

// A client connection made by the reconnect worker. It tells the worker how its connect
// ended, and remembers when its connection ended before the window adopted it.
class ReconnectConnection : public LinkConnection {
public:
    ReconnectConnection() = default;
    // Ends the threads while the hooks below still exist.
    ~ReconnectConnection() override;

    // Forgets the last outcome before a new attempt. The owning thread, while no connect runs.
    void ResetOutcome();
    // Signalled once an attempt ended: connected (outcome kNetOk) or failed.
    kem::platform::Event& outcome_ready() { return outcome_ready_; }
    // kNetOk, kNetAllAttemptsFailed, or 1 while no attempt ended. Any thread.
    int32_t outcome() const { return outcome_.load(); }
    // True once the connection made by the last attempt ended (set before the close event is
    // posted). Any thread.
    bool ended() const { return ended_.load(); }

    int32_t OnConnectResult(SocketHandle sock, uint32_t address, uint16_t port,
                            int32_t code) override;
    int32_t OnDisconnected(SocketHandle sock, uint32_t address, uint16_t port,
                           int32_t reason) override;

private:
    std::atomic<int32_t> outcome_{1};
    std::atomic<bool> ended_{false};
    kem::platform::Event outcome_ready_{kem::platform::Event::Mode::kManualReset};
};

class LinkReconnect {
public:
    // Serial: at least this long between two reopen attempts (a node that is there but cannot
    // be opened yet, or a device that drops again at once, never makes a busy loop).
    static constexpr int kSerialRetryMs = 250;
    // Client: the pause before the first attempt, doubled after each failure up to the cap.
    static constexpr int kFirstBackoffMs = 500;
    static constexpr int kMaxBackoffMs = 5000;
    // Client: how long one connect attempt may take.
    static constexpr uint32_t kAttemptTimeoutMs = 3000;
    // How many attempt times are kept for AttemptTimes.
    static constexpr size_t kKeptAttempts = 64;

    using Clock = std::chrono::steady_clock;
    // Tells the window's thread to call back (OnReconnectEvent) with the token; must only post.
    using PostProc = std::function<void(uint64_t token)>;

    // `post` is called on the worker. Window's thread.
    explicit LinkReconnect(PostProc post);
    // Stops the worker (as Stop).
    ~LinkReconnect();
    LinkReconnect(const LinkReconnect&) = delete;
    LinkReconnect& operator=(const LinkReconnect&) = delete;

    // Starts waiting for `path` (UTF-8) to exist; each time it is there the token is posted and
    // the worker waits for RetrySerial or Stop. A worker that is still running is stopped first.
    // False when the worker could not start (nothing is waiting then). Window's thread.
    bool StartSerial(std::string path);

    // After a reopen that failed: looks again no sooner than kSerialRetryMs after the last
    // post. Window's thread.
    void RetrySerial();

    // Starts connecting `connection` (its call-backs installed, not connected) to `address`
    // (network order) and `port`: first after kFirstBackoffMs, then with doubled pauses up to
    // kMaxBackoffMs. A connection that got through is kept for TakeConnection and the token is
    // posted; the worker then ends. False when the worker could not start (the connection is
    // destroyed). A worker that is still running is stopped first. Window's thread.
    bool StartClient(std::unique_ptr<ReconnectConnection> connection, uint32_t address,
                     uint16_t port);

    // The connection that got through, or null. Window's thread.
    std::unique_ptr<ReconnectConnection> TakeConnection();

    // Ends the worker promptly (a connect in progress is abandoned) and destroys a connection
    // not taken. Safe when nothing runs. Window's thread.
    void Stop();

    // True from a successful Start until Stop. Window's thread.
    bool active() const { return active_; }
    // The token of the present (or last) wait; 0 before the first. Window's thread.
    uint64_t token() const { return token_; }

    // When the last waits posted (serial) or started a connect attempt (client), oldest first,
    // at most kKeptAttempts; cleared by each Start. For tests and diagnostics; any thread.
    std::vector<Clock::time_point> AttemptTimes() const;

private:
    static uint32_t SerialProc(void* self);
    static uint32_t ClientProc(void* self);
    void RunSerial();
    void RunClient();
    bool StartWorker(kem::platform::ThreadProc proc);
    void NoteAttempt(Clock::time_point when);
    // Waits `ms` or until stopped; true when stopped.
    bool PauseStopped(int ms);

    PostProc post_;
    kem::platform::Thread worker_;
    kem::platform::Event stop_{kem::platform::Event::Mode::kManualReset};
    kem::platform::Event retry_{kem::platform::Event::Mode::kAutoReset};
    bool active_ = false;
    uint64_t token_ = 0;

    // Set before the worker starts, read by it.
    std::string path_;
    uint32_t address_ = 0;
    uint16_t port_ = 0;
    std::unique_ptr<ReconnectConnection> connecting_;  // the worker's while it runs
    // Kept from one wait to the next, so a device that keeps dropping is paced too. Only the
    // worker writes it, and a new worker starts after the old one was joined.
    Clock::time_point last_post_{};

    mutable std::mutex lock_;
    std::unique_ptr<ReconnectConnection> connected_;  // handed over, not yet taken
    std::vector<Clock::time_point> attempts_;
};

}  // namespace kem::terminal
