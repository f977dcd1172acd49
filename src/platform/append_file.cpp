#include "platform/append_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace kem::platform {
namespace {}  // namespace

AppendFile::~AppendFile() {
    Close();
}

FileError AppendFile::Open(std::string_view path) {
    Close();
    const std::string name(path);
    const int fd = open(name.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY, 0666);
    if (fd < 0) {
        return FailedAt(FileStep::kOpen, LastOsError());
    }
    struct stat info {};
    if (fstat(fd, &info) != 0) {
        FileError error = FailedAt(FileStep::kOpen, LastOsError());
        close(fd);
        return error;
    }
    if (S_ISDIR(info.st_mode)) {
        close(fd);
        return FailedAt(FileStep::kNotRegular, MakeOsError(EISDIR));
    }
    // Only regular files are locked: a device such as a terminal or /dev/full has no content
    // for two writers to interleave in, and locking it would shut out unrelated programs.
    if (S_ISREG(info.st_mode) && flock(fd, LOCK_EX | LOCK_NB) != 0) {
        FileError error = FailedAt(FileStep::kOpen, LastOsError());
        close(fd);
        return error;
    }
    fd_ = fd;
    path_ = name;
    return {};
}

FileError AppendFile::Append(const std::string_view* parts, size_t count) {
    if (fd_ < 0) {
        return FailedAt(FileStep::kWrite, MakeOsError(EBADF));
    }
    // Pieces are written together; a short write resumes inside the piece it stopped in.
    constexpr size_t kMaxPieces = 16;
    size_t first = 0;
    size_t offset = 0;  // bytes of parts[first] already written
    while (first < count) {
        iovec vectors[kMaxPieces];
        int used = 0;
        for (size_t i = first; i < count && used < static_cast<int>(kMaxPieces); ++i) {
            const size_t skip = i == first ? offset : 0;
            if (parts[i].size() == skip) {
                continue;
            }
            vectors[used].iov_base = const_cast<char*>(parts[i].data() + skip);
            vectors[used].iov_len = parts[i].size() - skip;
            ++used;
        }
        if (used == 0) {
            break;
        }
        const ssize_t written = writev(fd_, vectors, used);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return FailedAt(FileStep::kWrite, LastOsError());
        }
        if (written == 0) {
            // Nothing taken and no error named: treat as a full device rather than spin.
            return FailedAt(FileStep::kWrite, MakeOsError(ENOSPC));
        }
        size_t left = static_cast<size_t>(written);
        while (first < count && left >= parts[first].size() - offset) {
            left -= parts[first].size() - offset;
            offset = 0;
            ++first;
        }
        offset += left;
    }
    return {};
}

FileError AppendFile::Close() {
    if (fd_ < 0) {
        return {};
    }
    const int fd = std::exchange(fd_, -1);
    path_.clear();
    flock(fd, LOCK_UN);
    if (close(fd) != 0 && errno != EINTR) {
        return FailedAt(FileStep::kClose, LastOsError());
    }
    return {};
}

}  // namespace kem::platform
