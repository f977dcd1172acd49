#include "platform/file_io.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <string>

namespace kem::platform {
namespace {

FileStatus StatusOfOpenFailure(int code) {
    return code == ENOENT || code == ENOTDIR ? FileStatus::kMissing : FileStatus::kUnreadable;
}

// Opens `path` for reading without ever blocking on a pipe or device, and accepts only a
// regular file. Returns the descriptor (-1 on failure, with `out` filled) and its size.
int OpenRegularForReading(const std::string& path, FileContent& out, uint64_t& size) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        OsError os = LastOsError();
        out.status = StatusOfOpenFailure(os.code);
        out.error = FailedAt(FileStep::kOpen, std::move(os));
        return -1;
    }
    struct stat info {};
    if (fstat(fd, &info) != 0) {
        out.status = FileStatus::kUnreadable;
        out.error = FailedAt(FileStep::kOpen, LastOsError());
        close(fd);
        return -1;
    }
    if (!S_ISREG(info.st_mode)) {
        out.status = FileStatus::kUnreadable;
        out.error = FailedAt(FileStep::kNotRegular);
        close(fd);
        return -1;
    }
    size = static_cast<uint64_t>(info.st_size);
    return fd;
}

// Reads the file behind `fd` from its start, up to its end.
void ReadAllFrom(int fd, uint64_t size, size_t limit, FileContent& out) {
    if (size > limit) {
        out.status = FileStatus::kUnreadable;
        out.error = FailedAt(FileStep::kTooLarge);
        return;
    }
    std::string bytes;
    bytes.resize(static_cast<size_t>(size));
    size_t got = 0;
    for (;;) {
        if (got == bytes.size()) {
            // The file may have grown since it was measured; take what is there, within limit.
            if (bytes.size() >= limit) {
                char probe;
                const ssize_t more = pread(fd, &probe, 1, static_cast<off_t>(got));
                if (more > 0) {
                    out.status = FileStatus::kUnreadable;
                    out.error = FailedAt(FileStep::kTooLarge);
                    return;
                }
                break;
            }
            bytes.resize(std::min(limit, std::max<size_t>(bytes.size() * 2, 4096)));
        }
        const ssize_t n =
            pread(fd, bytes.data() + got, bytes.size() - got, static_cast<off_t>(got));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            out.status = FileStatus::kUnreadable;
            out.error = FailedAt(FileStep::kRead, LastOsError());
            return;
        }
        if (n == 0) {
            break;
        }
        got += static_cast<size_t>(n);
    }
    if (got < size) {
        out.status = FileStatus::kUnreadable;
        out.error = FailedAt(FileStep::kShortRead);
        return;
    }
    bytes.resize(got);
    out.status = FileStatus::kOk;
    out.bytes = std::move(bytes);
}

// Writes all of `bytes` to `fd`, going on after partial writes and signals.
bool WriteAll(int fd, std::string_view bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

// A temporary name beside `path` that no other writer (thread or process) uses at once.
std::string TemporaryName(const std::string& path) {
    static std::atomic<uint64_t> counter{0};
    return path + ".saf." + std::to_string(getpid()) + "." + std::to_string(++counter);
}

}  // namespace

FileContent ReadWholeFile(std::string_view path, size_t limit) {
    FileContent out;
    uint64_t size = 0;
    const int fd = OpenRegularForReading(std::string(path), out, size);
    if (fd < 0) {
        return out;
    }
    ReadAllFrom(fd, size, limit, out);
    close(fd);
    return out;
}

FileError ReplaceFile(std::string_view path, std::string_view bytes) {
    const std::string target(path);
    struct stat old {};
    const bool had_old = stat(target.c_str(), &old) == 0;

    std::string temporary;
    int fd = -1;
    // O_EXCL: a leftover of a crashed run is never reused; another name is tried instead.
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temporary = TemporaryName(target);
        fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
        if (fd < 0 && errno != EEXIST) {
            break;
        }
    }
    if (fd < 0) {
        return FailedAt(FileStep::kCreate, LastOsError());
    }
    if (had_old && S_ISREG(old.st_mode)) {
        // Best effort: a file that cannot take the old permissions keeps the default ones,
        // which loses nothing of its content.
        (void)fchmod(fd, old.st_mode & 07777);
    }
    FileError failure;
    if (!WriteAll(fd, bytes)) {
        failure = FailedAt(FileStep::kWrite, LastOsError());
    } else if (fsync(fd) != 0) {
        failure = FailedAt(FileStep::kSync, LastOsError());
    }
    // close can report a delayed write error (network file systems); it counts too.
    if (close(fd) != 0 && !failure.failed()) {
        failure = FailedAt(FileStep::kClose, LastOsError());
    }
    if (!failure.failed() && rename(temporary.c_str(), target.c_str()) != 0) {
        failure = FailedAt(FileStep::kRename, LastOsError());
    }
    if (failure.failed()) {
        unlink(temporary.c_str());
        return failure;
    }
    // The rename itself is durable only once the folder is flushed.
    const std::string folder = FolderOf(target);
    const int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) {
        return FailedAt(FileStep::kSyncFolder, LastOsError());
    }
    if (fsync(dir) != 0 && errno != EINVAL) {
        // EINVAL: the file system cannot flush folders; there is nothing more to do.
        failure = FailedAt(FileStep::kSyncFolder, LastOsError());
    }
    close(dir);
    return failure;
}

FileError DeleteFile(std::string_view path) {
    if (unlink(std::string(path).c_str()) != 0) {
        return FailedAt(FileStep::kDelete, LastOsError());
    }
    return {};
}

bool PathExists(std::string_view path) {
    struct stat info {};
    return stat(std::string(path).c_str(), &info) == 0;
}

FileSize QueryFileSize(std::string_view path) {
    FileContent probe;
    FileSize out;
    uint64_t size = 0;
    const int fd = OpenRegularForReading(std::string(path), probe, size);
    if (fd < 0) {
        out.status = probe.status;
        out.error = probe.error;
        return out;
    }
    close(fd);
    out.size = size;
    return out;
}

FolderResult CreateFolderTree(std::string_view path) {
    FolderResult out;
    std::string folder(path);
    while (folder.size() > 1 && folder.back() == '/') {
        folder.pop_back();
    }
    if (folder.empty()) {
        return out;
    }
    // Every prefix that ends before a separator, then the folder itself.
    for (size_t at = folder.find('/', 1); at != std::string::npos; at = folder.find('/', at + 1)) {
        const std::string part = folder.substr(0, at);
        if (mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) {
            out.error = FailedAt(FileStep::kCreateFolder, LastOsError());
            return out;
        }
    }
    if (mkdir(folder.c_str(), 0777) == 0) {
        out.created = true;
        return out;
    }
    OsError os = LastOsError();
    struct stat info {};
    if (os.code == EEXIST && stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
        return out;
    }
    out.error = FailedAt(FileStep::kCreateFolder, std::move(os));
    return out;
}

std::string FolderOf(std::string_view path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string_view::npos) {
        return ".";
    }
    if (slash == 0) {
        return "/";
    }
    return std::string(path.substr(0, slash));
}

HeldFile::~HeldFile() {
    Close();
}

FileContent HeldFile::OpenAndRead(std::string_view path, size_t limit) {
    Close();
    FileContent out;
    uint64_t size = 0;
    const int fd = OpenRegularForReading(std::string(path), out, size);
    if (fd < 0) {
        return out;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        out.status = FileStatus::kUnreadable;
        out.error = FailedAt(FileStep::kOpen, LastOsError());
        close(fd);
        return out;
    }
    ReadAllFrom(fd, size, limit, out);
    if (out.status != FileStatus::kOk) {
        close(fd);
        return out;
    }
    fd_ = fd;
    return out;
}

void HeldFile::Close() {
    if (fd_ >= 0) {
        close(fd_);  // also releases the lock
        fd_ = -1;
    }
}

}  // namespace kem::platform
