// Loopback peers, trace capture and resource counts for the TCP connection tests. The peers are
// plain sockets of the platform layer on ports the OS picks.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "channels/net_connect.h"
#include "channels/net_log.h"
#include "platform/debug_sink.h"
#include "platform/socket.h"
#include "support/wait_until.h"

namespace kem::testing {

namespace plat = kem::platform;

using Clock = std::chrono::steady_clock;

inline int64_t MsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

inline size_t CountEntries(const char* folder) {
    size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder)) {
        ++count;
    }
    return count;
}
inline size_t OpenDescriptors() {
    return CountEntries("/proc/self/fd");
}
inline size_t ThreadCount() {
    return CountEntries("/proc/self/task");
}

// Bytes 0..250 repeated, so a lost, doubled or moved byte shows.
inline std::string Pattern(size_t size, unsigned seed = 0) {
    std::string out(size, '\0');
    for (size_t i = 0; i < size; ++i) {
        out[i] = static_cast<char>((i + seed) % 251);
    }
    return out;
}

// One socket owned by the test.
class TestSocket {
public:
    TestSocket() = default;
    explicit TestSocket(plat::SocketHandle sock) : sock_(sock) {}
    ~TestSocket() { Close(); }
    TestSocket(TestSocket&& other) noexcept : sock_(other.sock_) { other.sock_ = -1; }
    TestSocket& operator=(TestSocket&& other) noexcept {
        if (this != &other) {
            Close();
            sock_ = other.sock_;
            other.sock_ = -1;
        }
        return *this;
    }

    plat::SocketHandle get() const { return sock_; }
    bool valid() const { return sock_ >= 0; }
    void Close() {
        if (sock_ >= 0) {
            plat::CloseSocket(sock_);
            sock_ = -1;
        }
    }

    // Sends everything (blocking); false on an error.
    bool SendAll(const std::string& data) const {
        size_t at = 0;
        while (at < data.size()) {
            size_t sent = 0;
            if (plat::Send(sock_, data.data() + at, data.size() - at, sent, plat::IoWait::kBlock)
                    .failed()) {
                return false;
            }
            at += sent;
        }
        return true;
    }

    // Reads until `size` bytes arrived, the peer closed, or `timeout_ms` passed.
    std::string Receive(size_t size, int timeout_ms = 3000) const {
        std::string out;
        const auto start = Clock::now();
        char buffer[65536];
        while (out.size() < size) {
            const int left = timeout_ms - static_cast<int>(MsSince(start));
            if (left <= 0) {
                break;
            }
            const auto ready = plat::WaitSocket(sock_, plat::kIoReadable, nullptr, left);
            if (ready.timed_out || ready.failed) {
                break;
            }
            size_t got = 0;
            const size_t want = std::min(sizeof buffer, size - out.size());
            const auto error = plat::Receive(sock_, buffer, want, got, plat::IoWait::kNoWait);
            if (error.failed()) {
                if (error.code == EAGAIN) {
                    continue;
                }
                break;
            }
            if (got == 0) {
                break;
            }
            out.append(buffer, got);
        }
        return out;
    }

    // True when the peer closed (or reset) the connection within `timeout_ms`; data that
    // arrives first is skipped.
    bool SeesClose(int timeout_ms = 3000) const {
        const auto start = Clock::now();
        char buffer[65536];
        for (;;) {
            const int left = timeout_ms - static_cast<int>(MsSince(start));
            if (left <= 0) {
                return false;
            }
            const auto ready = plat::WaitSocket(sock_, plat::kIoReadable, nullptr, left);
            if (ready.timed_out) {
                return false;
            }
            size_t got = 0;
            const auto error =
                plat::Receive(sock_, buffer, sizeof buffer, got, plat::IoWait::kNoWait);
            if (error.failed() ? error.code != EAGAIN : got == 0) {
                return true;
            }
        }
    }

private:
    plat::SocketHandle sock_ = -1;
};

// A listening socket on 127.0.0.1 and `port` (0: one the OS picked), which may be listened on
// again right after it was closed (a server that goes away and comes back).
class TestListener {
public:
    explicit TestListener(int backlog = 16, uint16_t port = 0) {
        plat::SocketHandle sock = -1;
        EXPECT_FALSE(plat::CreateStreamSocket(sock).failed());
        sock_ = TestSocket(sock);
        plat::AllowAddressReuse(sock);
        EXPECT_FALSE(plat::Bind(sock, plat::LoopbackAddress(), port).failed());
        EXPECT_FALSE(plat::Listen(sock, backlog).failed());
        plat::Ipv4Endpoint local;
        EXPECT_FALSE(plat::LocalEndpoint(sock, local).failed());
        port_ = local.port;
    }

    uint16_t port() const { return port_; }
    plat::SocketHandle get() const { return sock_.get(); }

    // The next client, or an invalid socket after `timeout_ms`.
    TestSocket Accept(int timeout_ms = 3000) const {
        const auto ready = plat::WaitSocket(sock_.get(), plat::kIoReadable, nullptr, timeout_ms);
        if (!(ready.ready & plat::kIoReadable)) {
            return TestSocket();
        }
        plat::SocketHandle client = -1;
        plat::Ipv4Endpoint peer;
        plat::Accept(sock_.get(), client, peer);
        return TestSocket(client);
    }

private:
    TestSocket sock_;
    uint16_t port_ = 0;
};

// A client socket connected (blocking) to 127.0.0.1:`port`; invalid when refused.
inline TestSocket ConnectTo(uint16_t port) {
    plat::SocketHandle sock = -1;
    if (plat::CreateStreamSocket(sock).failed()) {
        return TestSocket();
    }
    TestSocket out(sock);
    bool in_progress = false;
    if (plat::StartConnect(sock, {plat::LoopbackAddress(), port}, in_progress).failed()) {
        return TestSocket();
    }
    return out;
}

// A non-blocking client socket whose connect to 127.0.0.1:`port` has been started.
inline TestSocket StartClient(uint16_t port) {
    plat::SocketHandle sock = -1;
    if (plat::CreateStreamSocket(sock).failed()) {
        return TestSocket();
    }
    TestSocket out(sock);
    bool in_progress = false;
    plat::SetNonBlocking(sock, true);
    if (plat::StartConnect(sock, {plat::LoopbackAddress(), port}, in_progress).failed()) {
        return TestSocket();
    }
    return out;
}

// A listener that never accepts, its queue filled so that a further connect stays pending:
// the kernel drops the SYN of a client that finds the accept queue full.
class FullBacklog {
public:
    FullBacklog() : listener_(0) {
        for (int i = 0; i < 4; ++i) {
            fillers_.push_back(StartClient(listener_.port()));
        }
    }
    uint16_t port() const { return listener_.port(); }

    // True when a probe connect is still pending after 200 ms, so the trick works here.
    bool Holds() {
        TestSocket probe = StartClient(listener_.port());
        const auto ready = plat::WaitSocket(probe.get(), plat::kIoWritable, nullptr, 200);
        const bool pending = ready.timed_out;
        fillers_.push_back(std::move(probe));
        return pending;
    }

private:
    TestListener listener_;
    std::vector<TestSocket> fillers_;
};

// A port on 127.0.0.1 where nothing listens (bound once, then released).
inline uint16_t UnusedPort() {
    TestListener probe;
    return probe.port();
}

// Collects what the diagnostic log sends to the debug output while it lives.
class TraceCapture {
public:
    TraceCapture() {
        previous_switch_ = g_NetLog.bDebugOutput.exchange(1);
        previous_sink_ = plat::SetDebugSink([this](std::string_view text) {
            std::lock_guard lock(mutex_);
            text_.append(text);
        });
    }
    ~TraceCapture() {
        plat::SetDebugSink(std::move(previous_sink_));
        g_NetLog.bDebugOutput = previous_switch_;
    }
    TraceCapture(const TraceCapture&) = delete;
    TraceCapture& operator=(const TraceCapture&) = delete;

    std::string text() const {
        std::lock_guard lock(mutex_);
        return text_;
    }
    // How often `needle` occurs in the captured text.
    size_t Count(const std::string& needle) const {
        const std::string all = text();
        size_t count = 0;
        for (size_t at = all.find(needle); at != std::string::npos;
             at = all.find(needle, at + needle.size())) {
            ++count;
        }
        return count;
    }

private:
    mutable std::mutex mutex_;
    std::string text_;
    plat::DebugSink previous_sink_;
    int32_t previous_switch_ = 0;
};

// What the owner's callbacks saw, in order. It owns the accepted connections and deletes them
// on the test's thread, as a window would; declare it before the connections it serves.
class NetEvents {
public:
    static constexpr int32_t kConsumeAll = -100;

    ~NetEvents() {
        for (CKemNetConnect* connection : TakeAccepted()) {
            delete connection;
        }
    }

    // Installs the four callbacks and this recorder as the user data.
    void Install(CKemNetConnect& connection) {
        connection.m_pUserData = this;
        connection.m_pfnOnAccepted = &Accepted;
        connection.m_pfnOnConnected = &Connected;
        connection.m_pfnOnReceived = &Received;
        connection.m_pfnOnDisconnected = &Disconnected;
    }

    // What the received callback returns: kConsumeAll (the held count) or a fixed value.
    void set_consume(int32_t value) { consume_ = value; }

    std::vector<std::string> order() const { return Locked(order_); }
    std::vector<int32_t> connect_codes() const { return Locked(connect_codes_); }
    std::vector<int32_t> disconnect_reasons() const { return Locked(disconnect_reasons_); }
    std::vector<int32_t> buffer_sizes() const { return Locked(buffer_sizes_); }
    std::string received() const { return Locked(received_); }
    std::string last_buffer() const { return Locked(last_buffer_); }
    size_t accepted_count() const {
        std::lock_guard lock(mutex_);
        return accepted_.size();
    }
    CKemNetConnect* accepted(size_t index) const {
        std::lock_guard lock(mutex_);
        return index < accepted_.size() ? accepted_[index] : nullptr;
    }
    std::vector<CKemNetConnect*> TakeAccepted() {
        std::lock_guard lock(mutex_);
        return std::move(accepted_);
    }

private:
    template <typename T>
    T Locked(const T& value) const {
        std::lock_guard lock(mutex_);
        return value;
    }
    static NetEvents& Of(CKemNetConnect* connection) {
        return *static_cast<NetEvents*>(connection->m_pUserData);
    }
    static void Accepted(CKemNetConnect* connection) {
        NetEvents& self = Of(connection);
        std::lock_guard lock(self.mutex_);
        self.accepted_.push_back(connection);
        self.order_.push_back("accepted");
    }
    static void Connected(CKemNetConnect* connection, int32_t code) {
        NetEvents& self = Of(connection);
        std::lock_guard lock(self.mutex_);
        self.connect_codes_.push_back(code);
        self.order_.push_back("connected " + std::to_string(code));
    }
    static int32_t Received(CKemNetConnect* connection) {
        NetEvents& self = Of(connection);
        std::lock_guard lock(self.mutex_);
        const auto* bytes = reinterpret_cast<const char*>(connection->m_pRecvBuf.get());
        const int32_t held = connection->m_nRecvLen;
        self.last_buffer_.assign(bytes, static_cast<size_t>(held));
        self.buffer_sizes_.push_back(connection->m_nRecvBufSize);
        if (self.order_.empty() || self.order_.back() != "received") {
            self.order_.push_back("received");
        }
        if (self.consume_ == kConsumeAll) {
            self.received_.append(bytes, static_cast<size_t>(held));
            return held;
        }
        return self.consume_;
    }
    static void Disconnected(CKemNetConnect* connection, int32_t reason) {
        NetEvents& self = Of(connection);
        std::lock_guard lock(self.mutex_);
        self.disconnect_reasons_.push_back(reason);
        self.order_.push_back("disconnected " + std::to_string(reason));
    }

    mutable std::mutex mutex_;
    std::atomic<int32_t> consume_{kConsumeAll};
    std::vector<std::string> order_;
    std::vector<CKemNetConnect*> accepted_;
    std::vector<int32_t> connect_codes_;
    std::vector<int32_t> disconnect_reasons_;
    std::vector<int32_t> buffer_sizes_;
    std::string received_;
    std::string last_buffer_;
};

}  // namespace kem::testing
