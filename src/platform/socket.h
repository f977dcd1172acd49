// IPv4 stream sockets: the few calls the TCP channel needs, each reporting the errno taken
// where it failed. Handles are plain descriptors; every socket is created close-on-exec.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/event.h"
#include "platform/os_error.h"

namespace kem::platform {

using SocketHandle = int;
constexpr SocketHandle kInvalidSocket = -1;

// An IPv4 address in network byte order (its first byte is the first part of "a.b.c.d") and a
// port in host order.
struct Ipv4Endpoint {
    uint32_t address = 0;
    uint16_t port = 0;
};

// The loopback address 127.0.0.1 in network byte order.
uint32_t LoopbackAddress();

// A new blocking IPv4 stream socket in `out` (kInvalidSocket on failure). Any thread.
OsError CreateStreamSocket(SocketHandle& out);

// Switches O_NONBLOCK on or off. Any thread.
OsError SetNonBlocking(SocketHandle socket, bool on);

// Lets a listening socket bind a port whose earlier connections still linger in TIME_WAIT.
// On Linux this never lets two listeners share a port. Any thread.
OsError AllowAddressReuse(SocketHandle socket);

// Starts or makes a connection to `peer`. On a non-blocking socket `in_progress` is set when
// the connection is still being made (EINPROGRESS is then not an error); wait for writability
// and read PendingError to learn the outcome. Any thread.
OsError StartConnect(SocketHandle socket, Ipv4Endpoint peer, bool& in_progress);

// Reads and clears the socket's pending error (SO_ERROR) into `error` (0: none). The result
// reports a failure of the query itself. Any thread.
OsError PendingError(SocketHandle socket, int& error);

// Binds to `address` (network order; 0 = any local address) and `port` (0: the OS picks).
OsError Bind(SocketHandle socket, uint32_t address, uint16_t port);

// Marks a bound socket as listening with `backlog` pending connections.
OsError Listen(SocketHandle socket, int backlog);

// The local address and port of a bound or connected socket (getsockname).
OsError LocalEndpoint(SocketHandle socket, Ipv4Endpoint& out);

// Accepts one pending connection into `out` (blocking, close-on-exec) with its peer in `peer`.
// On a non-blocking listener EAGAIN means nobody is waiting. Any thread.
OsError Accept(SocketHandle listener, SocketHandle& out, Ipv4Endpoint& peer);

// True for accept failures that concern only the connection being accepted or a passing
// shortage, after which the listener is still usable and accepting again is right.
bool IsTransientAcceptError(int error);

// How Receive and Send treat a socket that is not ready.
enum class IoWait { kBlock, kNoWait };

// Receives up to `size` bytes into `buffer`; `received` 0 means the peer closed its side.
// With kNoWait a socket without data fails with EAGAIN instead of blocking.
OsError Receive(SocketHandle socket, void* buffer, size_t size, size_t& received, IoWait wait);

// Sends up to `size` bytes, `sent` how many went. Never raises SIGPIPE: a closed peer gives
// EPIPE. With kNoWait a full send buffer fails with EAGAIN instead of blocking.
OsError Send(SocketHandle socket, const void* data, size_t size, size_t& sent, IoWait wait);

// Shuts down both directions; a thread waiting on the socket wakes up. Any thread.
OsError Shutdown(SocketHandle socket);

// Closes the descriptor. The caller must be its only owner: after this the number may belong
// to another file at once.
OsError CloseSocket(SocketHandle socket);

// Resolves `host` (a name or a dotted quad) to its first IPv4 address through getaddrinfo.
// An empty or embedded-zero name fails with EINVAL; an unknown name with ENOENT, a failing
// resolver with EAGAIN or EIO. The calling thread blocks while the resolver works.
OsError ResolveIpv4(std::string_view host, uint32_t& address);

// Waits until `socket` is ready for `wanted` (IoFlags), `stop` is signalled or `timeout_ms`
// passed; the platform wait (see event.h) that worker threads use on sockets.
inline DescriptorWait WaitSocket(SocketHandle socket, unsigned wanted, Event* stop,
                                 int timeout_ms) {
    return WaitDescriptor(socket, wanted, stop, timeout_ms);
}

}  // namespace kem::platform
