// The registry's database file: where it lives, its creation, and what happens when it is
// damaged, foreign, unreadable or locked: a clear message, a failure the caller can fall back
// from, and a file left exactly as it was.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "platform/registry_test_support.h"

using namespace kem::platform;
using kem::testing::OpenRegistry;
using kem::testing::QueryText;
using kem::testing::ReadByteVector;
using kem::testing::TempFolder;
using kem::testing::WriteByteVector;

namespace {

// Sets an environment variable for one test and puts the old value back.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        const char* old = std::getenv(name);
        had_ = old != nullptr;
        if (had_) {
            old_ = old;
        }
        if (value != nullptr) {
            setenv(name, value, 1);
        } else {
            unsetenv(name);
        }
    }
    ~ScopedEnv() {
        if (had_) {
            setenv(name_, old_.c_str(), 1);
        } else {
            unsetenv(name_);
        }
    }

private:
    const char* name_;
    bool had_ = false;
    std::string old_;
};

// A valid registry database of several pages, closed.
std::vector<char> MakeDatabase(const std::string& path) {
    {
        auto registry = OpenRegistry(path);
        RegKey key;
        EXPECT_EQ(RegKey::Create(registry, RegRoot::kCurrentUser, u"Software\\Q\\Config", &key),
                  RegStatus::kOk);
        for (int i = 0; i < 200; ++i) {
            const std::u16string name = u"Value" + std::u16string(1, char16_t(u'A' + i % 26)) +
                                        std::u16string(static_cast<size_t>(i), u'x');
            EXPECT_EQ(key.SetString(name, std::u16string(100, u'v')), RegStatus::kOk);
        }
    }
    return ReadByteVector(path);
}

bool SideFilesExist(const std::string& path) {
    return access((path + "-wal").c_str(), F_OK) == 0 ||
           access((path + "-journal").c_str(), F_OK) == 0;
}

struct DamageRow {
    const char* name;
    std::vector<char> (*make)(const std::vector<char>& good);
    RegStatus expected;
};

const DamageRow kDamage[] = {
    {"empty", [](const std::vector<char>&) { return std::vector<char>(); }, RegStatus::kCorrupt},
    {"garbage",
     [](const std::vector<char>&) {
         std::vector<char> bytes(8192);
         for (size_t i = 0; i < bytes.size(); ++i) {
             bytes[i] = static_cast<char>((i * 7919) >> 3);
         }
         return bytes;
     },
     RegStatus::kCorrupt},
    {"text",
     [](const std::vector<char>&) {
         const std::string text = "[Config]\r\nComPortName=COM1\r\n";
         return std::vector<char>(text.begin(), text.end());
     },
     RegStatus::kCorrupt},
    {"header only",
     [](const std::vector<char>& good) {
         return std::vector<char>(good.begin(), good.begin() + 60);
     },
     RegStatus::kCorrupt},
    {"first page only",
     [](const std::vector<char>& good) {
         return std::vector<char>(good.begin(), good.begin() + 4096);
     },
     RegStatus::kCorrupt},
    {"half",
     [](const std::vector<char>& good) {
         return std::vector<char>(good.begin(), good.begin() + good.size() / 2);
     },
     RegStatus::kCorrupt},
    {"damaged page",
     [](const std::vector<char>& good) {
         std::vector<char> bytes = good;
         for (size_t i = 4096 + 8; i < 4096 + 400 && i < bytes.size(); ++i) {
             bytes[i] = static_cast<char>(0xA5);
         }
         return bytes;
     },
     RegStatus::kCorrupt},
};

}  // namespace

TEST(RegistryFileTest, UserPathFollowsTheEnvironment) {
    {
        ScopedEnv chosen("KEMPEMVILO_REGISTRY", "/tmp/x/chosen.sqlite3");
        EXPECT_EQ(UserRegistryPath(), "/tmp/x/chosen.sqlite3");
    }
    ScopedEnv none("KEMPEMVILO_REGISTRY", nullptr);
    ScopedEnv home("HOME", "/home/tester");
    {
        ScopedEnv xdg("XDG_CONFIG_HOME", "/cfg");
        EXPECT_EQ(UserRegistryPath(), "/cfg/Quorbel/registry.sqlite3");
    }
    {
        ScopedEnv xdg("XDG_CONFIG_HOME", "relative/cfg");  // ignored, as XDG asks
        EXPECT_EQ(UserRegistryPath(), "/home/tester/.config/Quorbel/registry.sqlite3");
    }
    ScopedEnv xdg("XDG_CONFIG_HOME", nullptr);
    EXPECT_EQ(UserRegistryPath(), "/home/tester/.config/Quorbel/registry.sqlite3");
}

TEST(RegistryFileTest, MissingDatabaseIsCreatedWithItsFolders) {
    TempFolder folder;
    const std::string path = folder.File("a/b/registry.sqlite3");
    std::shared_ptr<Registry> registry;
    ASSERT_EQ(Registry::OpenAt(path, {}, &registry), RegStatus::kOk);
    EXPECT_EQ(registry->path(), path);
    struct stat info;
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_GT(info.st_size, 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    // No temporary file is left beside it.
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder.File("a/b"))) {
        names.push_back(entry.path().filename().string());
    }
    for (const auto& name : names) {
        EXPECT_EQ(name.find(".new-"), std::string::npos) << name;
    }
    // The roots exist and hold nothing yet.
    RegKey root;
    ASSERT_EQ(RegKey::Open(registry, RegRoot::kClassesRoot, u"", RegAccess::kRead, &root),
              RegStatus::kOk);
    std::vector<std::u16string> keys;
    ASSERT_EQ(root.SubKeyNames(&keys), RegStatus::kOk);
    EXPECT_TRUE(keys.empty());
}

TEST(RegistryFileTest, DamagedFileIsReportedAndLeftUntouched) {
    TempFolder folder;
    const std::vector<char> good = MakeDatabase(folder.File("good.sqlite3"));
    ASSERT_GT(good.size(), 3 * 4096u);
    for (const DamageRow& row : kDamage) {
        SCOPED_TRACE(row.name);
        const std::string path = folder.File(std::string("bad-") + row.name);
        const std::vector<char> bytes = row.make(good);
        WriteByteVector(path, bytes);

        std::shared_ptr<Registry> registry;
        RegistryProblem problem;
        EXPECT_EQ(Registry::OpenAt(path, {}, &registry, &problem), row.expected);
        EXPECT_EQ(registry, nullptr);
        EXPECT_EQ(problem.status, row.expected);
        EXPECT_NE(problem.message.find(path), std::string::npos) << problem.message;
        EXPECT_NE(problem.message.find("damaged"), std::string::npos) << problem.message;
        EXPECT_EQ(ReadByteVector(path), bytes);
        EXPECT_FALSE(SideFilesExist(path));
    }
}

TEST(RegistryFileTest, ForeignSqliteDatabaseIsNotTakenOver) {
    TempFolder folder;
    const std::string path = folder.File("foreign.sqlite3");
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(
        sqlite3_exec(db, "CREATE TABLE t(x); INSERT INTO t VALUES(1);", nullptr, nullptr, nullptr),
        SQLITE_OK);
    sqlite3_close(db);
    const std::vector<char> bytes = ReadByteVector(path);

    std::shared_ptr<Registry> registry;
    RegistryProblem problem;
    EXPECT_EQ(Registry::OpenAt(path, {}, &registry, &problem), RegStatus::kCorrupt);
    EXPECT_NE(problem.message.find("not a registry database"), std::string::npos);
    EXPECT_EQ(ReadByteVector(path), bytes);
}

TEST(RegistryFileTest, UnreadableFileIsReported) {
    TempFolder folder;
    // A folder where the file should be: unreadable as a database for every user.
    const std::string dir_path = folder.File("is-a-folder");
    ASSERT_EQ(mkdir(dir_path.c_str(), 0700), 0);
    std::shared_ptr<Registry> registry;
    RegistryProblem problem;
    EXPECT_EQ(Registry::OpenAt(dir_path, {}, &registry, &problem), RegStatus::kFailed);
    EXPECT_NE(problem.message.find(dir_path), std::string::npos);

    // A file without read permission. Permission bits do not stop root, so as root the check
    // runs in a child that has given up its rights.
    const std::string path = folder.File("locked-out.sqlite3");
    const std::vector<char> bytes = MakeDatabase(path);
    ASSERT_EQ(chmod(path.c_str(), 0), 0);
    ASSERT_EQ(chmod(folder.path().c_str(), 0755), 0);  // the file itself must be what stops us
    auto check = [&path]() {
        std::shared_ptr<Registry> denied;
        RegistryProblem why;
        return Registry::OpenAt(path, {}, &denied, &why) == RegStatus::kFailed &&
               why.os.kind == ErrorKind::kPermission &&
               why.message.find(path) != std::string::npos && denied == nullptr;
    };
    if (geteuid() == 0) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            const bool dropped = setgid(65534) == 0 && setuid(65534) == 0;
            _exit(dropped && check() ? 0 : 1);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    } else {
        EXPECT_TRUE(check());
    }
    ASSERT_EQ(chmod(path.c_str(), 0600), 0);
    EXPECT_EQ(ReadByteVector(path), bytes);
}

TEST(RegistryFileTest, LockedDatabaseGivesBusyAfterTheTimeOut) {
    TempFolder folder;
    const std::string path = folder.File("r.sqlite3");
    MakeDatabase(path);
    // Another program holds the file exclusively (as the sqlite3 shell would with
    // locking_mode=EXCLUSIVE and an open write).
    sqlite3* holder = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &holder), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(holder, "PRAGMA locking_mode=EXCLUSIVE; BEGIN EXCLUSIVE;", nullptr,
                           nullptr, nullptr),
              SQLITE_OK);

    RegistryOptions options;
    options.busy_timeout_ms = 200;
    std::shared_ptr<Registry> registry;
    RegistryProblem problem;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Registry::OpenAt(path, options, &registry, &problem), RegStatus::kBusy);
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(150));
    EXPECT_LT(waited, std::chrono::seconds(5));
    EXPECT_NE(problem.message.find("locked"), std::string::npos) << problem.message;

    sqlite3_exec(holder, "COMMIT;", nullptr, nullptr, nullptr);
    sqlite3_close(holder);
    EXPECT_EQ(Registry::OpenAt(path, options, &registry, &problem), RegStatus::kOk)
        << problem.message;
}

TEST(RegistryFileTest, WriteBehindAHeldWriteLockFailsBusyThenWorks) {
    TempFolder folder;
    const std::string path = folder.File("r.sqlite3");
    auto registry = OpenRegistry(path, 200);
    RegKey key;
    ASSERT_EQ(RegKey::Create(registry, RegRoot::kCurrentUser, u"W", &key), RegStatus::kOk);
    ASSERT_EQ(key.SetDword(u"before", 1), RegStatus::kOk);

    sqlite3* holder = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &holder), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(holder, "BEGIN IMMEDIATE;", nullptr, nullptr, nullptr), SQLITE_OK);
    using Clock = std::chrono::steady_clock;
    auto start = Clock::now();
    EXPECT_EQ(key.SetDword(u"during", 2), RegStatus::kBusy);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(150));  // waited for the lock
    EXPECT_EQ(registry->LastProblem().status, RegStatus::kBusy);
    // Behind the same stuck lock the next write fails without waiting again.
    start = Clock::now();
    EXPECT_EQ(key.SetDword(u"during", 2), RegStatus::kBusy);
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(150));
    // Readers are not blocked by a writer (WAL).
    EXPECT_NE(QueryText(key, u"x"), u"never");
    uint32_t value = 0;
    uint32_t size = sizeof value;
    EXPECT_EQ(key.QueryValue(u"before", nullptr, &value, &size), RegStatus::kOk);
    EXPECT_EQ(value, 1u);
    sqlite3_exec(holder, "COMMIT;", nullptr, nullptr, nullptr);
    sqlite3_close(holder);

    EXPECT_EQ(key.SetDword(u"after", 3), RegStatus::kOk);
    EXPECT_EQ(key.QueryValue(u"during", nullptr, nullptr, &size), RegStatus::kNotFound);

    // After a success the full wait applies again.
    ASSERT_EQ(sqlite3_open(path.c_str(), &holder), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(holder, "BEGIN IMMEDIATE;", nullptr, nullptr, nullptr), SQLITE_OK);
    start = Clock::now();
    EXPECT_EQ(key.SetDword(u"again", 4), RegStatus::kBusy);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(150));
    sqlite3_exec(holder, "COMMIT;", nullptr, nullptr, nullptr);
    sqlite3_close(holder);
}

TEST(RegistryFileTest, UserRegistryReportsADamagedFileOnceOnStderr) {
    TempFolder folder;
    const std::string path = folder.File("user.sqlite3");
    const std::string text = "not a database at all";
    WriteByteVector(path, std::vector<char>(text.begin(), text.end()));
    ScopedEnv chosen("KEMPEMVILO_REGISTRY", path.c_str());

    ::testing::internal::CaptureStderr();
    RegKey key;
    const RegStatus first =
        RegKey::Open(RegRoot::kCurrentUser, u"Software", RegAccess::kRead, &key);
    const RegStatus second = RegKey::Create(RegRoot::kCurrentUser, u"Software\\X", &key);
    const std::string printed = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(first, RegStatus::kCorrupt);
    EXPECT_EQ(second, RegStatus::kCorrupt);
    EXPECT_NE(printed.find(path), std::string::npos) << printed;
    EXPECT_NE(printed.find("damaged"), std::string::npos) << printed;
    EXPECT_EQ(printed.find(path), printed.rfind(path)) << "reported more than once: " << printed;
    EXPECT_EQ(ReadByteVector(path), std::vector<char>(text.begin(), text.end()));

    // Once the file is replaced by a good one, the registry is used again.
    ASSERT_EQ(unlink(path.c_str()), 0);
    ASSERT_EQ(RegKey::Create(RegRoot::kCurrentUser, u"Software\\X", &key), RegStatus::kOk);
    EXPECT_EQ(key.SetDword(u"v", 7), RegStatus::kOk);
}

TEST(RegistryFileTest, UserRegistryConnectionIsNotCarriedAcrossFork) {
    TempFolder folder;
    const std::string path = folder.File("user.sqlite3");
    ScopedEnv chosen("KEMPEMVILO_REGISTRY", path.c_str());
    RegKey key;
    ASSERT_EQ(RegKey::Create(RegRoot::kCurrentUser, u"F", &key), RegStatus::kOk);
    ASSERT_EQ(key.SetDword(u"parent-before", 1), RegStatus::kOk);
    std::shared_ptr<Registry> parent_registry;
    ASSERT_EQ(Registry::OpenUser(&parent_registry), RegStatus::kOk);

    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // A connection of its own, written through and closed by the child's normal exit.
        std::shared_ptr<Registry> own;
        RegKey child_key;
        const bool ok = Registry::OpenUser(&own) == RegStatus::kOk && own != parent_registry &&
                        RegKey::Create(RegRoot::kCurrentUser, u"F", &child_key) == RegStatus::kOk &&
                        child_key.SetDword(u"child", 2) == RegStatus::kOk;
        child_key.Close();
        own.reset();
        std::exit(ok ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);

    // The parent's connection is unharmed and sees the child's write.
    EXPECT_EQ(key.SetDword(u"parent-after", 3), RegStatus::kOk);
    std::vector<std::u16string> names;
    ASSERT_EQ(key.ValueNames(&names), RegStatus::kOk);
    EXPECT_EQ(names, (std::vector<std::u16string>{u"parent-before", u"child", u"parent-after"}));
}
