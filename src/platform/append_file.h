// A file opened for appending only, as the traffic log keeps its files: held against other
// writers while open, every append handed to the OS at once, every failure reported with
// the errno of the failing call. Paths are UTF-8.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/file_io.h"

namespace kem::platform {

class AppendFile {
public:
    AppendFile() = default;
    ~AppendFile();
    AppendFile(const AppendFile&) = delete;
    AppendFile& operator=(const AppendFile&) = delete;

    // Opens `path` for writing at its end, creating it (mode 0666 less the umask) when it does
    // not exist; no folder is created. A regular file is also locked (advisory, exclusive),
    // so a second holder, in this process or another instance, is refused with step kOpen
    // and EWOULDBLOCK; other processes may still read it. A folder gives kNotRegular with EISDIR.
    // Closes whatever this object held before. Owner's thread.
    FileError Open(std::string_view path);

    // Appends the `count` pieces in `parts`, in order, with as few OS calls as the OS allows
    // (one when it takes everything). Returns step kWrite with the OS error when the OS
    // refuses (ENOSPC, EFBIG, EIO ...); what was written before stays in the file. A call on
    // a closed object gives kWrite with EBADF. Owner's thread.
    FileError Append(const std::string_view* parts, size_t count);

    // Appends one piece; see the overload above.
    FileError Append(std::string_view bytes) { return Append(&bytes, 1); }

    // Releases the lock and closes the file. Step kClose when the OS reports a failure at
    // close (a deferred write error); the object is closed either way. Harmless when closed.
    FileError Close();

    bool is_open() const { return fd_ >= 0; }
    const std::string& path() const { return path_; }

private:
    int fd_ = -1;
    std::string path_;
};

}  // namespace kem::platform
