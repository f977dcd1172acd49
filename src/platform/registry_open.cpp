// Finding, creating and opening registry databases, and the process's shared connection to
// the user's own.
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/paths.h"
#include "platform/registry.h"
#include "platform/registry_store.h"

namespace kem::platform {
namespace {

constexpr auto kBusyRetryAfter = std::chrono::seconds(10);

// Creates every missing folder on the way to `path`'s parent, private to the user.
bool MakeParentFolders(const std::string& path, int* os_code) {
    for (size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
        const std::string folder = path.substr(0, slash);
        if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
            *os_code = errno;
            return false;
        }
    }
    return true;
}

std::string HomeFolder() {
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] != '\0') {
        return home;
    }
    passwd entry;
    passwd* found = nullptr;
    char buffer[4096];
    if (getpwuid_r(getuid(), &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr &&
        found->pw_dir != nullptr) {
        return found->pw_dir;
    }
    return ".";
}

// What the file looked like when a failure was remembered; a change earns a new attempt.
struct FileStamp {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    int64_t modified_ns = 0;

    bool operator==(const FileStamp&) const = default;
};

FileStamp StampOf(const std::string& path) {
    FileStamp stamp;
    struct stat info;
    if (stat(path.c_str(), &info) == 0) {
        stamp.exists = true;
        stamp.device = info.st_dev;
        stamp.inode = info.st_ino;
        stamp.size = info.st_size;
        stamp.modified_ns = int64_t{info.st_mtim.tv_sec} * 1000000000 + info.st_mtim.tv_nsec;
    }
    return stamp;
}

struct UserRegistryCache {
    std::mutex mutex;
    pid_t pid = 0;
    std::string path;
    std::shared_ptr<Registry> registry;
    RegistryProblem failure;
    FileStamp stamp;
    std::chrono::steady_clock::time_point failed_at;
};

// Connections inherited through fork(): kept, never used or closed (see OpenUser).
std::vector<std::shared_ptr<Registry>>& Inherited() {
    static auto* inherited = new std::vector<std::shared_ptr<Registry>>;
    return *inherited;
}

UserRegistryCache& Cache() {
    // Never destroyed, so handles in other static objects stay valid to the end; the
    // connection itself is closed at exit, which folds the write-ahead log back into the file.
    static UserRegistryCache* cache = [] {
        auto* created = new UserRegistryCache;
        std::atexit([] {
            UserRegistryCache& at_exit = Cache();
            std::lock_guard<std::mutex> lock(at_exit.mutex);
            if (at_exit.pid == getpid()) {
                at_exit.registry.reset();
            }
        });
        return created;
    }();
    return *cache;
}

}  // namespace

const char* RegStatusName(RegStatus status) {
    switch (status) {
        case RegStatus::kOk:
            return "ok";
        case RegStatus::kNotFound:
            return "not found";
        case RegStatus::kAccessDenied:
            return "access denied";
        case RegStatus::kMoreData:
            return "more data";
        case RegStatus::kCorrupt:
            return "corrupt";
        case RegStatus::kBusy:
            return "busy";
        case RegStatus::kInvalid:
            return "invalid";
        case RegStatus::kFailed:
            return "failed";
    }
    return "unknown";
}

std::string UserRegistryPath() {
    const char* chosen = std::getenv("KEMPEMVILO_REGISTRY");
    if (chosen != nullptr && chosen[0] != '\0') {
        return chosen;
    }
    // XDG's base directory rules say a relative XDG_CONFIG_HOME is to be ignored.
    const char* config = std::getenv("XDG_CONFIG_HOME");
    const std::string base =
        config != nullptr && config[0] == '/' ? config : JoinPath(HomeFolder(), ".config");
    return JoinPath(base, "Quorbel/registry.sqlite3");
}

Registry::Registry(std::unique_ptr<Store> store) : store_(std::move(store)) {}

Registry::~Registry() = default;

const std::string& Registry::path() const {
    return store_->path();
}

RegistryProblem Registry::LastProblem() const {
    return store_->LastProblem();
}

RegStatus Registry::OpenAt(const std::string& path, const RegistryOptions& options,
                           std::shared_ptr<Registry>* out, RegistryProblem* problem) {
    RegistryProblem local;
    RegistryProblem* report = problem != nullptr ? problem : &local;
    std::unique_ptr<Store> store;
    RegStatus status = Store::Open(path, options, &store, report);
    if (status == RegStatus::kNotFound) {
        int os_code = 0;
        if (!MakeParentFolders(path, &os_code)) {
            report->status = RegStatus::kFailed;
            report->os = MakeOsError(os_code);
            report->message = "registry database " + path + ": its folder cannot be created (" +
                              report->os.text + ")";
            return RegStatus::kFailed;
        }
        status = Store::CreateFile(path, report);
        if (status == RegStatus::kOk) {
            status = Store::Open(path, options, &store, report);
        }
    }
    if (status != RegStatus::kOk) {
        return status;
    }
    *out = std::make_shared<Registry>(std::move(store));
    *report = RegistryProblem{};
    return RegStatus::kOk;
}

RegStatus Registry::OpenUser(std::shared_ptr<Registry>* out, RegistryProblem* problem) {
    const std::string path = UserRegistryPath();
    UserRegistryCache& cache = Cache();
    std::lock_guard<std::mutex> lock(cache.mutex);
    if (cache.pid != getpid() || cache.path != path) {
        if (cache.pid != getpid() && cache.registry != nullptr) {
            // A connection inherited through fork() must be neither used nor closed here: the
            // close could remove the parent's write-ahead log.
            Inherited().push_back(std::move(cache.registry));
        }
        cache.registry.reset();
        cache.failure = RegistryProblem{};
        cache.pid = getpid();
        cache.path = path;
    }
    if (cache.registry != nullptr) {
        *out = cache.registry;
        return RegStatus::kOk;
    }
    const auto now = std::chrono::steady_clock::now();
    if (cache.failure.status != RegStatus::kOk && StampOf(path) == cache.stamp &&
        (cache.failure.status != RegStatus::kBusy || now - cache.failed_at < kBusyRetryAfter)) {
        if (problem != nullptr) {
            *problem = cache.failure;
        }
        return cache.failure.status;
    }
    RegistryOptions options;
    options.report_to_stderr = true;
    RegistryProblem failure;
    const RegStatus status = OpenAt(path, options, &cache.registry, &failure);
    if (status == RegStatus::kOk) {
        cache.failure = RegistryProblem{};
        *out = cache.registry;
    } else {
        cache.failure = failure;
        cache.stamp = StampOf(path);
        cache.failed_at = now;
        std::fprintf(stderr, "%s; values kept there are not available, defaults apply\n",
                     failure.message.c_str());
    }
    if (problem != nullptr) {
        *problem = failure;
    }
    return status;
}

}  // namespace kem::platform
