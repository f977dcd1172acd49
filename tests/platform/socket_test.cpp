// The IPv4 socket layer against itself on loopback: picked ports, refusal through SO_ERROR,
// data both ways, no SIGPIPE, waking waiters, resolving, and the errno of each failure.
#include "platform/socket.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/thread.h"

using namespace kem::platform;

namespace {

// Sockets of one test, closed whatever assertion ends it; loopback listeners on picked ports.
class SocketTest : public ::testing::Test {
protected:
    ~SocketTest() override {
        for (SocketHandle sock : owned_) {
            CloseSocket(sock);
        }
    }
    SocketHandle NewSocket() {
        SocketHandle sock = kInvalidSocket;
        EXPECT_FALSE(CreateStreamSocket(sock).failed());
        owned_.push_back(sock);
        return sock;
    }
    SocketHandle NewListener() {
        const SocketHandle sock = NewSocket();
        EXPECT_FALSE(Bind(sock, LoopbackAddress(), 0).failed());
        EXPECT_FALSE(Listen(sock, 8).failed());
        Ipv4Endpoint local;
        EXPECT_FALSE(LocalEndpoint(sock, local).failed());
        EXPECT_EQ(local.address, LoopbackAddress());
        port_ = local.port;
        return sock;
    }
    // A client connected to the last listener, and the server side (owned) when asked.
    SocketHandle Connect(SocketHandle listener, Ipv4Endpoint* peer = nullptr) {
        const SocketHandle client = NewSocket();
        bool in_progress = true;
        EXPECT_FALSE(StartConnect(client, {LoopbackAddress(), port_}, in_progress).failed());
        EXPECT_FALSE(in_progress);  // a blocking socket connects within the call
        if (peer != nullptr) {
            EXPECT_FALSE(Accept(listener, server_, *peer).failed());
            owned_.push_back(server_);
        }
        return client;
    }
    std::vector<SocketHandle> owned_;
    uint16_t port_ = 0;
    SocketHandle server_ = kInvalidSocket;
};

TEST_F(SocketTest, TalkUntilAShutdownThatWakesAWaitingThread) {
    Ipv4Endpoint peer, client_local;
    const SocketHandle client = Connect(NewListener(), &peer);
    EXPECT_NE(port_, 0);
    ASSERT_FALSE(LocalEndpoint(client, client_local).failed());
    EXPECT_EQ(peer.address, LoopbackAddress());
    EXPECT_EQ(peer.port, client_local.port);
    size_t count = 0;
    ASSERT_FALSE(Send(client, "hello", 5, count, IoWait::kBlock).failed());
    EXPECT_EQ(count, 5u);
    char buffer[16] = {};
    ASSERT_FALSE(Receive(server_, buffer, sizeof buffer, count, IoWait::kBlock).failed());
    EXPECT_EQ(std::string(buffer, count), "hello");
    const OsError empty = Receive(server_, buffer, sizeof buffer, count, IoWait::kNoWait);
    EXPECT_EQ(empty.code, EAGAIN);
    EXPECT_EQ(empty.kind, ErrorKind::kWouldBlock);

    DescriptorWait seen;
    std::thread waiter([&] { seen = WaitSocket(client, kIoReadable, nullptr, 5000); });
    SleepMs(50);
    ASSERT_FALSE(Shutdown(client).failed());
    waiter.join();
    EXPECT_FALSE(seen.timed_out);
    EXPECT_NE(seen.ready & (kIoReadable | kIoHangUp), 0u);
    ASSERT_FALSE(Receive(server_, buffer, sizeof buffer, count, IoWait::kBlock).failed());
    EXPECT_EQ(count, 0u);  // the peer closed its side
}

TEST_F(SocketTest, ConnectToAClosedPortIsRefusedBlockingOrThroughPendingError) {
    CloseSocket(NewListener());
    owned_.pop_back();
    bool in_progress = false;
    const OsError blocking = StartConnect(NewSocket(), {LoopbackAddress(), port_}, in_progress);
    EXPECT_EQ(blocking.code, ECONNREFUSED);
    EXPECT_FALSE(blocking.text.empty());
    const SocketHandle client = NewSocket();
    ASSERT_FALSE(SetNonBlocking(client, true).failed());
    const OsError started = StartConnect(client, {LoopbackAddress(), port_}, in_progress);
    if (started.failed()) {
        EXPECT_EQ(started.code, ECONNREFUSED);
        return;
    }
    ASSERT_TRUE(in_progress);
    ASSERT_FALSE(WaitSocket(client, kIoWritable, nullptr, 2000).timed_out);
    int error = 0;  // writable, yet not connected: only SO_ERROR tells
    ASSERT_FALSE(PendingError(client, error).failed());
    EXPECT_EQ(error, ECONNREFUSED);
    EXPECT_EQ(ClassifyErrno(error), ErrorKind::kRefused);
}

TEST_F(SocketTest, SendToClosedPeerFailsWithoutSignal) {
    Ipv4Endpoint peer;
    const SocketHandle client = Connect(NewListener(), &peer);
    ASSERT_FALSE(CloseSocket(server_).failed());
    owned_.pop_back();
    // The first send may still be taken; the ones after meet the reset. Without MSG_NOSIGNAL
    // the process would die of SIGPIPE here.
    OsError error;
    const std::string block(4096, 'x');
    for (int i = 0; i < 50 && !error.failed(); ++i) {
        size_t sent = 0;
        error = Send(client, block.data(), block.size(), sent, IoWait::kBlock);
        SleepMs(2);
    }
    EXPECT_TRUE(error.code == EPIPE || error.code == ECONNRESET) << error.code;
    EXPECT_EQ(error.kind, ErrorKind::kDisconnected);
}

TEST_F(SocketTest, AcceptWithoutClientsOrDescriptorsFailsTransiently) {
    const SocketHandle listener = NewListener();
    ASSERT_FALSE(SetNonBlocking(listener, true).failed());
    SocketHandle sock = 123;
    Ipv4Endpoint peer;
    EXPECT_EQ(Accept(listener, sock, peer).code, EAGAIN);
    EXPECT_EQ(sock, kInvalidSocket);
    Connect(listener);
    // Fill the descriptor table under a lowered soft limit, restored before any assertion.
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    const int spare = dup(listener);
    ASSERT_GE(spare, 0);
    rlimit lowered = saved;
    lowered.rlim_cur = static_cast<rlim_t>(spare + 1);
    std::vector<int> fillers;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &lowered), 0);
    for (int fd = dup(listener); fd >= 0; fd = dup(listener)) {
        fillers.push_back(fd);
    }
    const OsError full = Accept(listener, sock, peer);
    for (int fd : fillers) {
        close(fd);
    }
    close(spare);
    setrlimit(RLIMIT_NOFILE, &saved);
    EXPECT_EQ(full.code, EMFILE);
    // The client is still waiting and is taken once descriptors are free again.
    ASSERT_FALSE(Accept(listener, sock, peer).failed());
    owned_.push_back(sock);
    for (int code : {EMFILE, ENFILE, ENOBUFS, ENOMEM, ECONNABORTED, EINTR, EAGAIN, EPROTO, ENETDOWN,
                     EHOSTUNREACH, ENETUNREACH}) {
        EXPECT_TRUE(IsTransientAcceptError(code)) << code;
    }
    for (int code : {EBADF, EINVAL, ENOTSOCK, EFAULT, 0}) {
        EXPECT_FALSE(IsTransientAcceptError(code)) << code;
    }
}

TEST_F(SocketTest, TakenPortsSecondClosesAndBadNamesFailWithTheirErrno) {
    NewListener();
    const OsError taken = Bind(NewSocket(), LoopbackAddress(), port_);
    EXPECT_EQ(taken.code, EADDRINUSE);
    EXPECT_EQ(taken.kind, ErrorKind::kBusy);
    // SO_REUSEADDR on both still does not let two listeners share a port.
    SocketHandle reusing[2] = {NewSocket(), NewSocket()};
    Ipv4Endpoint local;
    ASSERT_FALSE(AllowAddressReuse(reusing[0]).failed());
    ASSERT_FALSE(AllowAddressReuse(reusing[1]).failed());
    ASSERT_FALSE(Bind(reusing[0], 0, 0).failed());
    ASSERT_FALSE(Listen(reusing[0], 1).failed());
    ASSERT_FALSE(LocalEndpoint(reusing[0], local).failed());
    EXPECT_EQ(Bind(reusing[1], 0, local.port).code, EADDRINUSE);

    const SocketHandle once = NewSocket();
    owned_.pop_back();
    EXPECT_FALSE(CloseSocket(once).failed());
    EXPECT_EQ(CloseSocket(once).code, EBADF);

    uint32_t address = 0;
    for (const char* name : {"localhost", "127.0.0.1"}) {
        ASSERT_FALSE(ResolveIpv4(name, address).failed()) << name;
        EXPECT_EQ(address, LoopbackAddress()) << name;
    }
    EXPECT_TRUE(ResolveIpv4("no-such-host.invalid", address).failed());
    EXPECT_EQ(address, 0u);
    EXPECT_EQ(ResolveIpv4("", address).code, EINVAL);
    EXPECT_EQ(ResolveIpv4(std::string_view("local\0host", 10), address).code, EINVAL);
}

}  // namespace
