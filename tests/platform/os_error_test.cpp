// What each errno means to callers, and the errno and text an error keeps.
#include "platform/os_error.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <vector>

using namespace kem::platform;

TEST(OsErrorTest, ClassifyErrnoCoversEveryNamedValue) {
    const std::pair<ErrorKind, std::vector<int>> rows[] = {
        {ErrorKind::kNone, {0}},
        {ErrorKind::kNotFound, {ENOENT, ENODEV, ENXIO, EHOSTUNREACH, ENETUNREACH, EADDRNOTAVAIL}},
        {ErrorKind::kPermission, {EACCES, EPERM}},
        {ErrorKind::kBusy, {EBUSY, EADDRINUSE, EISCONN, EALREADY}},
        {ErrorKind::kUnsupported, {ENOTTY, EOPNOTSUPP, ENOSYS, ENOTSOCK}},
        {ErrorKind::kInvalid, {EINVAL, EBADF, EFAULT, EISDIR}},
        {ErrorKind::kTimeout, {ETIMEDOUT}},
        {ErrorKind::kWouldBlock, {EAGAIN, EINPROGRESS}},
        {ErrorKind::kInterrupted, {EINTR}},
        {ErrorKind::kDisconnected,
         {EIO, EPIPE, ECONNRESET, ECONNABORTED, ENOTCONN, ESHUTDOWN, ENETDOWN, ENETRESET}},
        {ErrorKind::kRefused, {ECONNREFUSED}},
        {ErrorKind::kNoResources, {EMFILE, ENFILE, ENOBUFS, ENOMEM, ENOSPC}},
        {ErrorKind::kOther, {EDOM}},
    };
    for (const auto& [kind, codes] : rows) {
        for (const int code : codes) {
            EXPECT_EQ(ClassifyErrno(code), kind) << "errno " << code;
        }
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
