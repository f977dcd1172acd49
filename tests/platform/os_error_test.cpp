#include "platform/os_error.h"

#include <gtest/gtest.h>

#include <cerrno>

using namespace kem::platform;

TEST(OsErrorTest, ClassifyErrnoCoversEveryNamedValue) {
    const struct {
        int code;
        ErrorKind kind;
    } rows[] = {
        {0, ErrorKind::kNone},
        {ENOENT, ErrorKind::kNotFound},
        {ENODEV, ErrorKind::kNotFound},
        {ENXIO, ErrorKind::kNotFound},
        {EHOSTUNREACH, ErrorKind::kNotFound},
        {ENETUNREACH, ErrorKind::kNotFound},
        {EADDRNOTAVAIL, ErrorKind::kNotFound},
        {EACCES, ErrorKind::kPermission},
        {EPERM, ErrorKind::kPermission},
        {EBUSY, ErrorKind::kBusy},
        {EADDRINUSE, ErrorKind::kBusy},
        {EISCONN, ErrorKind::kBusy},
        {EALREADY, ErrorKind::kBusy},
        {ENOTTY, ErrorKind::kUnsupported},
        {EOPNOTSUPP, ErrorKind::kUnsupported},
        {ENOSYS, ErrorKind::kUnsupported},
        {ENOTSOCK, ErrorKind::kUnsupported},
        {EINVAL, ErrorKind::kInvalid},
        {EBADF, ErrorKind::kInvalid},
        {EFAULT, ErrorKind::kInvalid},
        {EISDIR, ErrorKind::kInvalid},
        {ETIMEDOUT, ErrorKind::kTimeout},
        {EAGAIN, ErrorKind::kWouldBlock},
        {EINPROGRESS, ErrorKind::kWouldBlock},
        {EINTR, ErrorKind::kInterrupted},
        {EIO, ErrorKind::kDisconnected},
        {EPIPE, ErrorKind::kDisconnected},
        {ECONNRESET, ErrorKind::kDisconnected},
        {ECONNABORTED, ErrorKind::kDisconnected},
        {ENOTCONN, ErrorKind::kDisconnected},
        {ESHUTDOWN, ErrorKind::kDisconnected},
        {ENETDOWN, ErrorKind::kDisconnected},
        {ENETRESET, ErrorKind::kDisconnected},
        {ECONNREFUSED, ErrorKind::kRefused},
        {EMFILE, ErrorKind::kNoResources},
        {ENFILE, ErrorKind::kNoResources},
        {ENOBUFS, ErrorKind::kNoResources},
        {ENOMEM, ErrorKind::kNoResources},
        {ENOSPC, ErrorKind::kNoResources},
        {EDOM, ErrorKind::kOther},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(ClassifyErrno(row.code), row.kind) << "errno " << row.code;
    }
}

TEST(OsErrorTest, LastOsErrorKeepsTheErrnoAndItsText) {
    errno = ENOENT;
    const OsError error = LastOsError();
    EXPECT_TRUE(error.failed());
    EXPECT_EQ(error.code, ENOENT);
    EXPECT_EQ(error.kind, ErrorKind::kNotFound);
    EXPECT_EQ(error.text, "No such file or directory");
    EXPECT_FALSE(MakeOsError(0).failed());
}
