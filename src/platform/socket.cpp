#include "platform/socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace kem::platform {
namespace {

sockaddr_in ToSockaddr(uint32_t address, uint16_t port) {
    sockaddr_in out{};
    out.sin_family = AF_INET;
    out.sin_addr.s_addr = address;
    out.sin_port = htons(port);
    return out;
}

// getaddrinfo reports its own codes; callers see the nearest errno.
int ResolverErrno(int code, int system_errno) {
    switch (code) {
        case EAI_NONAME:
#ifdef EAI_NODATA
        case EAI_NODATA:
#endif
#ifdef EAI_ADDRFAMILY
        case EAI_ADDRFAMILY:
#endif
        case EAI_FAMILY:
            return ENOENT;
        case EAI_AGAIN:
            return EAGAIN;
        case EAI_MEMORY:
            return ENOMEM;
        case EAI_SYSTEM:
            return system_errno != 0 ? system_errno : EIO;
        default:
            return EIO;
    }
}

}  // namespace

uint32_t LoopbackAddress() {
    return htonl(INADDR_LOOPBACK);
}

OsError CreateStreamSocket(SocketHandle& out) {
    out = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (out < 0) {
        OsError error = LastOsError();
        out = kInvalidSocket;
        return error;
    }
    return {};
}

OsError SetNonBlocking(SocketHandle socket, bool on) {
    const int flags = fcntl(socket, F_GETFL);
    if (flags < 0) {
        return LastOsError();
    }
    const int wanted = on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
    if (wanted != flags && fcntl(socket, F_SETFL, wanted) < 0) {
        return LastOsError();
    }
    return {};
}

OsError AllowAddressReuse(SocketHandle socket) {
    const int one = 1;
    if (setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) < 0) {
        return LastOsError();
    }
    return {};
}

OsError StartConnect(SocketHandle socket, Ipv4Endpoint peer, bool& in_progress) {
    in_progress = false;
    const sockaddr_in address = ToSockaddr(peer.address, peer.port);
    for (;;) {
        if (connect(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
            return {};
        }
        const int error = errno;
        if (error == EINPROGRESS) {
            in_progress = true;
            return {};
        }
        if (error == EINTR) {
            // The connection goes on in the background, as EINPROGRESS would say.
            in_progress = true;
            return {};
        }
        return MakeOsError(error);
    }
}

OsError PendingError(SocketHandle socket, int& error) {
    error = 0;
    socklen_t length = sizeof error;
    if (getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &length) < 0) {
        return LastOsError();
    }
    return {};
}

OsError Bind(SocketHandle socket, uint32_t address, uint16_t port) {
    const sockaddr_in local = ToSockaddr(address, port);
    if (bind(socket, reinterpret_cast<const sockaddr*>(&local), sizeof local) < 0) {
        return LastOsError();
    }
    return {};
}

OsError Listen(SocketHandle socket, int backlog) {
    if (listen(socket, backlog) < 0) {
        return LastOsError();
    }
    return {};
}

OsError LocalEndpoint(SocketHandle socket, Ipv4Endpoint& out) {
    sockaddr_in local{};
    socklen_t length = sizeof local;
    if (getsockname(socket, reinterpret_cast<sockaddr*>(&local), &length) < 0) {
        return LastOsError();
    }
    out.address = local.sin_addr.s_addr;
    out.port = ntohs(local.sin_port);
    return {};
}

OsError Accept(SocketHandle listener, SocketHandle& out, Ipv4Endpoint& peer) {
    sockaddr_in remote{};
    socklen_t length = sizeof remote;
    out = accept4(listener, reinterpret_cast<sockaddr*>(&remote), &length, SOCK_CLOEXEC);
    if (out < 0) {
        out = kInvalidSocket;
        return LastOsError();
    }
    peer.address = remote.sin_addr.s_addr;
    peer.port = ntohs(remote.sin_port);
    return {};
}

bool IsTransientAcceptError(int error) {
    switch (error) {
        // A shortage that passes.
        case EMFILE:
        case ENFILE:
        case ENOBUFS:
        case ENOMEM:
        // The call or the one connection failed, not the listener.
        case EINTR:
        case EAGAIN:
        case ECONNABORTED:
        case EPROTO:
        case EPERM:  // a firewall rule refused this connection
        // Linux passes errors already pending on the new connection through accept.
        case ENETDOWN:
        case ENOPROTOOPT:
        case EHOSTDOWN:
        case ENONET:
        case EHOSTUNREACH:
        case EOPNOTSUPP:
        case ENETUNREACH:
            return true;
        default:
            return false;
    }
}

OsError Receive(SocketHandle socket, void* buffer, size_t size, size_t& received, IoWait wait) {
    received = 0;
    const int flags = wait == IoWait::kNoWait ? MSG_DONTWAIT : 0;
    for (;;) {
        const ssize_t count = recv(socket, buffer, size, flags);
        if (count >= 0) {
            received = static_cast<size_t>(count);
            return {};
        }
        if (errno != EINTR) {
            return LastOsError();
        }
    }
}

OsError Send(SocketHandle socket, const void* data, size_t size, size_t& sent, IoWait wait) {
    sent = 0;
    const int flags = MSG_NOSIGNAL | (wait == IoWait::kNoWait ? MSG_DONTWAIT : 0);
    for (;;) {
        const ssize_t count = send(socket, data, size, flags);
        if (count >= 0) {
            sent = static_cast<size_t>(count);
            return {};
        }
        if (errno != EINTR) {
            return LastOsError();
        }
    }
}

OsError Shutdown(SocketHandle socket) {
    if (shutdown(socket, SHUT_RDWR) < 0) {
        return LastOsError();
    }
    return {};
}

OsError CloseSocket(SocketHandle socket) {
    // Linux releases the descriptor even when close reports EINTR, so it is never retried.
    if (close(socket) < 0) {
        return LastOsError();
    }
    return {};
}

OsError ResolveIpv4(std::string_view host, uint32_t& address) {
    address = 0;
    if (host.empty() || host.find('\0') != std::string_view::npos) {
        return MakeOsError(EINVAL);
    }
    const std::string name(host);
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    errno = 0;
    const int code = getaddrinfo(name.c_str(), nullptr, &hints, &found);
    if (code != 0) {
        return MakeOsError(ResolverErrno(code, errno));
    }
    int error = ENOENT;
    for (const addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
        if (entry->ai_family == AF_INET && entry->ai_addrlen >= sizeof(sockaddr_in)) {
            address = reinterpret_cast<const sockaddr_in*>(entry->ai_addr)->sin_addr.s_addr;
            error = 0;
            break;
        }
    }
    freeaddrinfo(found);
    return MakeOsError(error);
}

}  // namespace kem::platform
