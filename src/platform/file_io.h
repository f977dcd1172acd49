// Whole-file reads and safe replacement of files: the few file operations the settings stores
// need, each reporting which step failed with the errno taken there. Paths are UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "platform/os_error.h"

namespace kem::platform {

// What became of a file that was asked for.
enum class FileStatus {
    kOk,
    kMissing,     // neither the file nor (for some path) a folder on its way exists
    kUnreadable,  // it exists but could not be opened, locked or read completely
};

// The step at which a file operation failed.
enum class FileStep {
    kNone,
    kOpen,          // opening (or, for a held file, locking) the file
    kNotRegular,    // the path names a folder, device or pipe
    kTooLarge,      // larger than the caller allows
    kRead,          // a read failed
    kShortRead,     // the file ended before the size it had when opened (it was cut short)
    kCreate,        // the temporary file could not be created
    kWrite,         // writing the temporary file failed
    kSync,          // flushing the temporary file to disk failed
    kClose,         // closing the temporary file reported an error
    kRename,        // moving the temporary file over the target failed
    kSyncFolder,    // flushing the folder that holds the renamed file failed
    kDelete,        // deleting failed
    kCreateFolder,  // creating a folder failed
};

// A failure: the step and the OS error of that step (code 0 when the OS reported none, as
// for kShortRead, kNotRegular and kTooLarge).
struct FileError {
    FileStep step = FileStep::kNone;
    OsError os;

    bool failed() const { return step != FileStep::kNone; }
};

// The failure of `step` with the OS error taken there (none for steps the OS did not fail).
inline FileError FailedAt(FileStep step, OsError os = {}) {
    FileError error;
    error.step = step;
    error.os = std::move(os);
    return error;
}

// A file's content, or why there is none.
struct FileContent {
    FileStatus status = FileStatus::kOk;
    FileError error;
    std::string bytes;
};

// Reads the regular file `path` whole, refusing files larger than `limit` bytes. A missing
// file (ENOENT, or ENOTDIR for a path through a non-folder) gives kMissing; every other
// failure, and a file that delivers fewer bytes than its size, gives kUnreadable. Never
// blocks on a pipe or device. Any thread.
FileContent ReadWholeFile(std::string_view path, size_t limit);

// Replaces (or creates) `path` with `bytes` so that readers see either the old or the new
// content, never a part: a new temporary file in the same folder ("<path>.saf.<unique>")
// receives everything, is flushed to disk and closed, then renamed over `path`, and the
// folder is flushed. An existing file's permission bits carry over. On any failure the
// temporary file is removed, `path` keeps its old content, and the failing step is returned.
// Any thread; two writers of one path never share a temporary file.
FileError ReplaceFile(std::string_view path, std::string_view bytes);

// Deletes the file `path`. Any thread.
FileError DeleteFile(std::string_view path);

// Whether anything exists at `path` (a broken symbolic link does not count). Any thread.
bool PathExists(std::string_view path);

// The size of the regular file `path`, opened for reading as a reader would: kMissing /
// kUnreadable as for ReadWholeFile. Any thread.
struct FileSize {
    FileStatus status = FileStatus::kOk;
    FileError error;
    uint64_t size = 0;
};
FileSize QueryFileSize(std::string_view path);

// Creates the folder `path` with every missing parent. `created` tells whether this call made
// the last folder itself; an existing folder is no error. Any thread.
struct FolderResult {
    FileError error;
    bool created = false;
};
FolderResult CreateFolderTree(std::string_view path);

// The folder part of `path` ("." when it has none, "/" for a file in the root).
std::string FolderOf(std::string_view path);

// A regular file held open for reading and locked against other holders (an advisory
// exclusive lock, which other processes of this program respect), so its content cannot be
// replaced by them while it is held. Owner's thread.
class HeldFile {
public:
    HeldFile() = default;
    ~HeldFile();
    HeldFile(const HeldFile&) = delete;
    HeldFile& operator=(const HeldFile&) = delete;

    // Opens and locks `path` (closing what was held) and reads it whole as ReadWholeFile
    // does; the file stays held only on kOk. A lock held by someone else gives kUnreadable
    // at step kOpen with EWOULDBLOCK.
    FileContent OpenAndRead(std::string_view path, size_t limit);

    // Releases the lock and the file; harmless when nothing is held.
    void Close();

    bool is_open() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

}  // namespace kem::platform
