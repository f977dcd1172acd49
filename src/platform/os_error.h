// Failures of operating-system calls, taken where they happen.
#pragma once

#include <string>

namespace kem::platform {

// What kind of failure an errno stands for; callers branch on this, not on errno values.
enum class ErrorKind {
    kNone,
    kNotFound,      // no such file, device or address
    kPermission,    // access denied
    kBusy,          // held by someone else (exclusive open, address in use)
    kUnsupported,   // the device or socket cannot do this
    kInvalid,       // a parameter the OS refused
    kTimeout,       // no progress within the allowed time
    kWouldBlock,    // try again later
    kInterrupted,   // a signal broke the call
    kDisconnected,  // the peer or the device went away
    kRefused,       // the peer refused a connection
    kNoResources,   // out of descriptors, buffers or memory
    kOther,
};

// An OS failure: the errno taken at the failure site, its kind and its text.
struct OsError {
    int code = 0;
    ErrorKind kind = ErrorKind::kNone;
    std::string text;

    bool failed() const { return code != 0; }
};

// Maps one errno value to its kind. Pure; every errno it names is covered by a table test.
ErrorKind ClassifyErrno(int code);

// Builds the error for `code` (0 gives "no error").
OsError MakeOsError(int code);

// Captures errno now; call it directly after the failing call, before anything else runs.
OsError LastOsError();

}  // namespace kem::platform
