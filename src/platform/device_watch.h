// Waiting for a device node to come back, and finding the stable name of a serial adapter.
// A USB adapter that is pulled and plugged in again may get another number (/dev/ttyUSB0
// becomes /dev/ttyUSB1); the links in /dev/serial/by-id name it by vendor, model and serial
// number, so they lead back to the same adapter.
#pragma once

#include <string>

#include "platform/event.h"
#include "platform/os_error.h"

namespace kem::platform {

// The default folder of the stable serial device links.
inline constexpr const char* kSerialByIdFolder = "/dev/serial/by-id";

// How long a watch waits at most before it looks at the path again, and the poll period
// when the folder cannot be watched.
constexpr int kPathRecheckMs = 250;

// True when `path` can be reached, following symbolic links (a dangling link is missing).
// Any thread.
bool PathExists(const std::string& path);

// The canonical path `path` resolves to (links followed); empty when it does not resolve.
// Any thread.
std::string ResolvedPath(const std::string& path);

// The path of the entry of `folder` that is a symbolic link resolving to the same canonical
// path as `device`; empty when there is none, when `device` does not resolve or when the
// folder cannot be read. Any thread.
std::string FindLinkTo(const std::string& folder, const std::string& device);

// The outcome of WaitForPath.
struct PathWaitResult {
    bool present = false;  // the path exists now
    bool stopped = false;  // `stop` was signalled
    bool failed = false;   // the stop wait itself failed; `error` tells why
    OsError error;
};

// Waits until `path` exists (PathExists) or `stop` is signalled. The folder holding `path` is
// watched with inotify for entries created, moved in or changed in their attributes; the path
// is also looked at again every `recheck_ms` (at least kPathRecheckMs), which covers changes
// further along a chain of links and a folder that cannot be watched (it may be missing while
// no device is plugged in). Blocks only in the platform waits, so a forced termination takes
// effect. Any thread; `stop` must outlive the call.
PathWaitResult WaitForPath(const std::string& path, Event& stop, int recheck_ms = kPathRecheckMs);

}  // namespace kem::platform
