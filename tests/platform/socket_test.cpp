// The IPv4 socket layer against itself on loopback: listening on a picked port, connecting,
// refusal through SO_ERROR, data both ways, no SIGPIPE, waking waiters, resolving, accept
// errors.
#include "platform/socket.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace kem::platform;

// Closes the handles a test made, whatever assertion ends it.
struct Sockets {
    ~Sockets() {
        for (SocketHandle sock : list) {
            CloseSocket(sock);
        }
    }
    SocketHandle Add(SocketHandle sock) {
        list.push_back(sock);
        return sock;
    }
    std::vector<SocketHandle> list;
};

SocketHandle NewSocket(Sockets& owned) {
    SocketHandle sock = kInvalidSocket;
    EXPECT_FALSE(CreateStreamSocket(sock).failed());
    EXPECT_NE(sock, kInvalidSocket);
    return owned.Add(sock);
}

// A loopback listener on a picked port.
SocketHandle NewListener(Sockets& owned, uint16_t& port, int backlog = 8) {
    const SocketHandle sock = NewSocket(owned);
    EXPECT_FALSE(Bind(sock, LoopbackAddress(), 0).failed());
    EXPECT_FALSE(Listen(sock, backlog).failed());
    Ipv4Endpoint local;
    EXPECT_FALSE(LocalEndpoint(sock, local).failed());
    EXPECT_EQ(local.address, LoopbackAddress());
    port = local.port;
    return sock;
}

TEST(Socket, ListenOnPickedPortConnectAcceptAndTalk) {
    Sockets owned;
    uint16_t port = 0;
    const SocketHandle listener = NewListener(owned, port);
    EXPECT_NE(port, 0);
    const SocketHandle client = NewSocket(owned);
    bool in_progress = true;
    ASSERT_FALSE(StartConnect(client, {LoopbackAddress(), port}, in_progress).failed());
    EXPECT_FALSE(in_progress);  // a blocking socket connects within the call

    SocketHandle server = kInvalidSocket;
    Ipv4Endpoint peer;
    ASSERT_FALSE(Accept(listener, server, peer).failed());
    owned.Add(server);
    EXPECT_EQ(peer.address, LoopbackAddress());
    Ipv4Endpoint client_local;
    ASSERT_FALSE(LocalEndpoint(client, client_local).failed());
    EXPECT_EQ(peer.port, client_local.port);

    size_t count = 0;
    ASSERT_FALSE(Send(client, "hello", 5, count, IoWait::kBlock).failed());
    EXPECT_EQ(count, 5u);
    char buffer[16] = {};
    ASSERT_FALSE(Receive(server, buffer, sizeof buffer, count, IoWait::kBlock).failed());
    EXPECT_EQ(std::string(buffer, count), "hello");

    const OsError empty = Receive(server, buffer, sizeof buffer, count, IoWait::kNoWait);
    EXPECT_EQ(empty.code, EAGAIN);
    EXPECT_EQ(empty.kind, ErrorKind::kWouldBlock);

    ASSERT_FALSE(Shutdown(client).failed());
    ASSERT_FALSE(Receive(server, buffer, sizeof buffer, count, IoWait::kBlock).failed());
    EXPECT_EQ(count, 0u);  // the peer closed its side
}

TEST(Socket, RefusedNonBlockingConnectShowsInPendingError) {
    Sockets owned;
    uint16_t port = 0;
    {
        Sockets temporary;
        NewListener(temporary, port);
    }
    const SocketHandle client = NewSocket(owned);
    ASSERT_FALSE(SetNonBlocking(client, true).failed());
    bool in_progress = false;
    const OsError started = StartConnect(client, {LoopbackAddress(), port}, in_progress);
    if (started.failed()) {
        EXPECT_EQ(started.code, ECONNREFUSED);
        return;
    }
    ASSERT_TRUE(in_progress);
    const DescriptorWait ready = WaitSocket(client, kIoWritable, nullptr, 2000);
    ASSERT_FALSE(ready.timed_out);
    // Writable, yet not connected: only SO_ERROR tells.
    int error = 0;
    ASSERT_FALSE(PendingError(client, error).failed());
    EXPECT_EQ(error, ECONNREFUSED);
    EXPECT_EQ(ClassifyErrno(error), ErrorKind::kRefused);
}

TEST(Socket, BlockingConnectToClosedPortIsRefused) {
    Sockets owned;
    uint16_t port = 0;
    {
        Sockets temporary;
        NewListener(temporary, port);
    }
    bool in_progress = false;
    const OsError error = StartConnect(NewSocket(owned), {LoopbackAddress(), port}, in_progress);
    EXPECT_EQ(error.code, ECONNREFUSED);
    EXPECT_FALSE(error.text.empty());
}

TEST(Socket, SendToClosedPeerFailsWithoutSignal) {
    Sockets owned;
    uint16_t port = 0;
    const SocketHandle listener = NewListener(owned, port);
    const SocketHandle client = NewSocket(owned);
    bool in_progress = false;
    ASSERT_FALSE(StartConnect(client, {LoopbackAddress(), port}, in_progress).failed());
    SocketHandle server = kInvalidSocket;
    Ipv4Endpoint peer;
    ASSERT_FALSE(Accept(listener, server, peer).failed());
    ASSERT_FALSE(CloseSocket(server).failed());
    // The first send may still be taken; the ones after it meet the reset. Without
    // MSG_NOSIGNAL the process would die of SIGPIPE here.
    OsError error;
    const std::string block(4096, 'x');
    for (int i = 0; i < 50 && !error.failed(); ++i) {
        size_t sent = 0;
        error = Send(client, block.data(), block.size(), sent, IoWait::kBlock);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ASSERT_TRUE(error.failed());
    EXPECT_TRUE(error.code == EPIPE || error.code == ECONNRESET) << error.code;
    EXPECT_EQ(error.kind, ErrorKind::kDisconnected);
}

TEST(Socket, ShutdownWakesAThreadWaitingToRead) {
    Sockets owned;
    uint16_t port = 0;
    const SocketHandle listener = NewListener(owned, port);
    const SocketHandle client = NewSocket(owned);
    bool in_progress = false;
    ASSERT_FALSE(StartConnect(client, {LoopbackAddress(), port}, in_progress).failed());
    SocketHandle server = kInvalidSocket;
    Ipv4Endpoint peer;
    ASSERT_FALSE(Accept(listener, server, peer).failed());
    owned.Add(server);
    DescriptorWait seen;
    std::thread waiter([&] { seen = WaitSocket(client, kIoReadable, nullptr, 5000); });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_FALSE(Shutdown(client).failed());
    waiter.join();
    EXPECT_FALSE(seen.timed_out);
    EXPECT_NE(seen.ready & (kIoReadable | kIoHangUp), 0u);
}

TEST(Socket, StopEventEndsAWaitOnAnIdleListener) {
    Sockets owned;
    uint16_t port = 0;
    const SocketHandle listener = NewListener(owned, port);
    Event stop;
    const auto start = std::chrono::steady_clock::now();
    std::thread setter([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        stop.Set();
    });
    const DescriptorWait seen = WaitSocket(listener, kIoReadable, &stop, 5000);
    setter.join();
    EXPECT_TRUE(seen.stopped);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

TEST(Socket, NonBlockingListenerWithoutClientsSaysEagain) {
    Sockets owned;
    uint16_t port = 0;
    const SocketHandle listener = NewListener(owned, port);
    ASSERT_FALSE(SetNonBlocking(listener, true).failed());
    SocketHandle sock = 123;
    Ipv4Endpoint peer;
    const OsError error = Accept(listener, sock, peer);
    EXPECT_EQ(error.code, EAGAIN);
    EXPECT_EQ(sock, kInvalidSocket);
    EXPECT_TRUE(IsTransientAcceptError(error.code));
}

TEST(Socket, AcceptOutOfDescriptorsIsTransient) {
    Sockets owned;
    uint16_t port = 0;
    const SocketHandle listener = NewListener(owned, port);
    const SocketHandle client = NewSocket(owned);
    bool in_progress = false;
    ASSERT_FALSE(StartConnect(client, {LoopbackAddress(), port}, in_progress).failed());

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
    SocketHandle sock = kInvalidSocket;
    Ipv4Endpoint peer;
    const OsError full = Accept(listener, sock, peer);
    for (int fd : fillers) {
        close(fd);
    }
    close(spare);
    setrlimit(RLIMIT_NOFILE, &saved);

    EXPECT_EQ(full.code, EMFILE);
    EXPECT_TRUE(IsTransientAcceptError(full.code));
    // The client is still waiting and is taken once descriptors are free again.
    ASSERT_FALSE(Accept(listener, sock, peer).failed());
    owned.Add(sock);
}

TEST(Socket, TransientAcceptErrorsAreTold) {
    for (int code : {EMFILE, ENFILE, ENOBUFS, ENOMEM, ECONNABORTED, EINTR, EAGAIN, EPROTO, ENETDOWN,
                     EHOSTUNREACH, ENETUNREACH}) {
        EXPECT_TRUE(IsTransientAcceptError(code)) << code;
    }
    for (int code : {EBADF, EINVAL, ENOTSOCK, EFAULT, 0}) {
        EXPECT_FALSE(IsTransientAcceptError(code)) << code;
    }
}

TEST(Socket, ClosingTwiceReportsTheSecond) {
    SocketHandle sock = kInvalidSocket;
    ASSERT_FALSE(CreateStreamSocket(sock).failed());
    EXPECT_FALSE(CloseSocket(sock).failed());
    EXPECT_EQ(CloseSocket(sock).code, EBADF);
}

TEST(Socket, ResolvesNamesToIpv4) {
    uint32_t address = 0;
    ASSERT_FALSE(ResolveIpv4("localhost", address).failed());
    EXPECT_EQ(address, LoopbackAddress());
    ASSERT_FALSE(ResolveIpv4("127.0.0.1", address).failed());
    EXPECT_EQ(address, LoopbackAddress());
    const OsError unknown = ResolveIpv4("no-such-host.invalid", address);
    EXPECT_TRUE(unknown.failed());
    EXPECT_EQ(address, 0u);
    EXPECT_EQ(ResolveIpv4("", address).code, EINVAL);
    EXPECT_EQ(ResolveIpv4(std::string_view("local\0host", 10), address).code, EINVAL);
}

TEST(Socket, BindingATakenPortFails) {
    Sockets owned;
    uint16_t port = 0;
    NewListener(owned, port);
    const SocketHandle second = NewSocket(owned);
    const OsError error = Bind(second, LoopbackAddress(), port);
    EXPECT_EQ(error.code, EADDRINUSE);
    EXPECT_EQ(error.kind, ErrorKind::kBusy);
}

TEST(Socket, ReuseDoesNotLetTwoListenersSharePort) {
    Sockets owned;
    uint16_t port = 0;
    const SocketHandle first = NewSocket(owned);
    ASSERT_FALSE(AllowAddressReuse(first).failed());
    ASSERT_FALSE(Bind(first, 0, 0).failed());
    ASSERT_FALSE(Listen(first, 1).failed());
    Ipv4Endpoint local;
    ASSERT_FALSE(LocalEndpoint(first, local).failed());
    port = local.port;
    const SocketHandle second = NewSocket(owned);
    ASSERT_FALSE(AllowAddressReuse(second).failed());
    EXPECT_EQ(Bind(second, 0, port).code, EADDRINUSE);
}

}  // namespace
