#include "platform/os_error.h"

#include <cerrno>
#include <cstring>

namespace kem::platform {

ErrorKind ClassifyErrno(int code) {
    switch (code) {
        case 0:
            return ErrorKind::kNone;
        case ENOENT:
        case ENODEV:
        case ENXIO:
        case EHOSTUNREACH:
        case ENETUNREACH:
        case EADDRNOTAVAIL:
            return ErrorKind::kNotFound;
        case EACCES:
        case EPERM:
            return ErrorKind::kPermission;
        case EBUSY:
        case EADDRINUSE:
        case EISCONN:
        case EALREADY:
            return ErrorKind::kBusy;
        case ENOTTY:
        case EOPNOTSUPP:
        case ENOSYS:
        case ENOTSOCK:
            return ErrorKind::kUnsupported;
        case EINVAL:
        case EBADF:
        case EFAULT:
        case EISDIR:
            return ErrorKind::kInvalid;
        case ETIMEDOUT:
            return ErrorKind::kTimeout;
        case EAGAIN:
        case EINPROGRESS:
            return ErrorKind::kWouldBlock;
        case EINTR:
            return ErrorKind::kInterrupted;
        case EIO:
        case EPIPE:
        case ECONNRESET:
        case ECONNABORTED:
        case ENOTCONN:
        case ESHUTDOWN:
        case ENETDOWN:
        case ENETRESET:
            return ErrorKind::kDisconnected;
        case ECONNREFUSED:
            return ErrorKind::kRefused;
        case EMFILE:
        case ENFILE:
        case ENOBUFS:
        case ENOMEM:
        case ENOSPC:
            return ErrorKind::kNoResources;
        default:
            return ErrorKind::kOther;
    }
}

OsError MakeOsError(int code) {
    OsError error;
    error.code = code;
    error.kind = ClassifyErrno(code);
    char buffer[256];
    // The GNU strerror_r returns its text, which may or may not live in `buffer`.
    error.text = code == 0 ? "no error" : strerror_r(code, buffer, sizeof buffer);
    return error;
}

OsError LastOsError() {
    return MakeOsError(errno);
}

}  // namespace kem::platform
