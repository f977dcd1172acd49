#include "platform/device_watch.h"

#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <system_error>
#include <vector>

namespace kem::platform {
namespace {

namespace fs = std::filesystem;

// What a new device node, a re-pointed link or permissions fixed by udev look like.
constexpr uint32_t kWatchedEvents = IN_CREATE | IN_MOVED_TO | IN_ATTRIB;

std::string FolderOf(const std::string& path) {
    const fs::path parent = fs::path(path).parent_path();
    return parent.empty() ? std::string(".") : parent.string();
}

// One inotify instance watching one folder; the folder may come and go.
class FolderWatch {
public:
    explicit FolderWatch(std::string folder) : folder_(std::move(folder)) {
        fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    }
    ~FolderWatch() {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    FolderWatch(const FolderWatch&) = delete;
    FolderWatch& operator=(const FolderWatch&) = delete;

    // The descriptor to wait on, or -1 while nothing is watched (then the caller polls).
    int descriptor() {
        if (fd_ >= 0 && watch_ < 0) {
            watch_ = inotify_add_watch(fd_, folder_.c_str(), kWatchedEvents);
        }
        return watch_ >= 0 ? fd_ : -1;
    }

    // Reads every queued event; notices when the folder itself went away.
    void Drain() {
        alignas(inotify_event) char buffer[4096];
        for (;;) {
            const ssize_t got = read(fd_, buffer, sizeof buffer);
            if (got <= 0) {
                return;  // EAGAIN: all read
            }
            for (ssize_t at = 0; at < got;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                if ((event->mask & IN_IGNORED) != 0) {
                    watch_ = -1;  // removed or unmounted: watch it again once it is back
                }
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        }
    }

private:
    std::string folder_;
    int fd_ = -1;
    int watch_ = -1;
};

}  // namespace

bool PathExists(const std::string& path) {
    struct stat info {};
    return !path.empty() && stat(path.c_str(), &info) == 0;
}

std::string ResolvedPath(const std::string& path) {
    if (path.empty()) {
        return {};
    }
    std::error_code error;
    const fs::path resolved = fs::canonical(path, error);
    return error ? std::string() : resolved.string();
}

std::string FindLinkTo(const std::string& folder, const std::string& device) {
    const std::string target = ResolvedPath(device);
    if (target.empty()) {
        return {};
    }
    std::error_code error;
    fs::directory_iterator it(folder, error);
    if (error) {
        return {};
    }
    // Sorted, so the same folder always gives the same answer.
    std::vector<std::string> matches;
    for (const fs::directory_iterator end; it != end; it.increment(error)) {
        if (error) {
            break;
        }
        std::error_code kind_error;
        if (!it->is_symlink(kind_error) || kind_error) {
            continue;
        }
        const std::string entry = it->path().string();
        if (ResolvedPath(entry) == target) {
            matches.push_back(entry);
        }
    }
    if (matches.empty()) {
        return {};
    }
    return *std::min_element(matches.begin(), matches.end());
}

PathWaitResult WaitForPath(const std::string& path, Event& stop, int recheck_ms) {
    PathWaitResult result;
    const int period = std::max(recheck_ms, kPathRecheckMs);
    FolderWatch watch(FolderOf(path));
    for (;;) {
        if (stop.TryTake()) {
            result.stopped = true;
            return result;
        }
        // Looked at after the watch is in place, so a node made in between is not missed.
        const int fd = watch.descriptor();
        if (PathExists(path)) {
            result.present = true;
            return result;
        }
        if (fd < 0) {
            Event* events[1] = {&stop};
            const uint32_t waited = WaitAny(events, 1, period);
            if (waited == kWaitObject0) {
                result.stopped = true;
                return result;
            }
            if (waited == kWaitFailed) {
                result.failed = true;
                result.error = LastOsError();
                return result;
            }
            continue;
        }
        const DescriptorWait waited = WaitDescriptor(fd, kIoReadable, &stop, period);
        if (waited.stopped) {
            result.stopped = true;
            return result;
        }
        if (waited.failed) {
            result.failed = true;
            result.error = MakeOsError(waited.error);
            return result;
        }
        watch.Drain();
    }
}

}  // namespace kem::platform
