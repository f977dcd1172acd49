// The registry's database file: where it lives, its creation, and what happens when it is
// damaged, foreign, unreadable or locked: a clear message, a failure the caller can fall back
// from, and a file left exactly as it was.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <optional>

#include "platform/registry.h"
#include "platform/registry_test_support.h"

using namespace kem::platform;
using namespace kem::testing;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

namespace {

// A valid registry database of several pages, closed; its bytes.
std::string MakeDatabase(const std::string& path) {
    {
        RegKey key = MakeKey(OpenRegistry(path), u"Software\\Q\\Config");
        for (int i = 0; i < 200; ++i) {
            const std::u16string name = u"Value" + std::u16string(1, char16_t(u'A' + i % 26)) +
                                        std::u16string(static_cast<size_t>(i), u'x');
            EXPECT_EQ(key.SetString(name, std::u16string(100, u'v')), RegStatus::kOk);
        }
    }
    return ReadBytes(path);
}

// Another program's connection running `sql`; commits and closes when it goes.
struct OtherConnection {
    OtherConnection(const std::string& path, const char* sql) {
        EXPECT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
        EXPECT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK);
    }
    ~OtherConnection() {
        sqlite3_exec(db, "COMMIT;", nullptr, nullptr, nullptr);
        sqlite3_close(db);
    }
    sqlite3* db = nullptr;
};

class RegistryFileTest : public ::testing::Test {
protected:
    // Opens `path` expecting `status`; a failure names the file and leaves no registry.
    RegistryProblem Open(const std::string& path, RegStatus status, int busy_timeout_ms = 5000) {
        RegistryOptions options;
        options.busy_timeout_ms = busy_timeout_ms;
        RegistryProblem problem;
        EXPECT_EQ(Registry::OpenAt(path, options, &registry_, &problem), status) << problem.message;
        EXPECT_EQ(problem.status, status);
        EXPECT_EQ(registry_ == nullptr, status != RegStatus::kOk);
        if (status != RegStatus::kOk) {
            EXPECT_NE(problem.message.find(path), std::string::npos) << problem.message;
        }
        return problem;
    }
    TempFolder folder_;
    const std::string path_ = folder_.File("r.sqlite3");
    std::shared_ptr<Registry> registry_;
};

}  // namespace

TEST_F(RegistryFileTest, UserPathFollowsTheEnvironment) {
    {
        ScopedEnv chosen("KEMPEMVILO_REGISTRY", "/tmp/x/chosen.sqlite3");
        EXPECT_EQ(UserRegistryPath(), "/tmp/x/chosen.sqlite3");
    }
    ScopedEnv none("KEMPEMVILO_REGISTRY", nullptr);
    ScopedEnv home("HOME", "/home/tester");
    const std::string fallback = "/home/tester/.config/Quorbel/registry.sqlite3";
    const std::pair<const char*, std::string> rows[] = {
        {"/cfg", "/cfg/Quorbel/registry.sqlite3"},
        {"relative/cfg", fallback},  // ignored, as XDG asks
        {nullptr, fallback},
    };
    for (const auto& [xdg, expected] : rows) {
        ScopedEnv config("XDG_CONFIG_HOME", xdg);
        EXPECT_EQ(UserRegistryPath(), expected) << (xdg ? xdg : "unset");
    }
}

TEST_F(RegistryFileTest, MissingDatabaseIsCreatedWithItsFoldersAndEmptyRoots) {
    const std::string path = folder_.File("a/b/registry.sqlite3");
    std::shared_ptr<Registry> registry;
    ASSERT_EQ(Registry::OpenAt(path, {}, &registry), RegStatus::kOk);
    EXPECT_EQ(registry->path(), path);
    struct stat info;
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_GT(info.st_size, 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    for (const auto& name : Names(folder_.File("a/b"))) {
        EXPECT_EQ(name.find(".new-"), std::string::npos) << "temporary left: " << name;
    }
    RegKey root;
    ASSERT_EQ(RegKey::Open(registry, RegRoot::kClassesRoot, u"", RegAccess::kRead, &root),
              RegStatus::kOk);
    EXPECT_TRUE(SubKeysOf(root).empty());
}

TEST_F(RegistryFileTest, DamagedOrForeignFileIsReportedAndLeftUntouched) {
    const std::string good = MakeDatabase(folder_.File("good.sqlite3"));
    ASSERT_GT(good.size(), 3 * 4096u);
    std::string garbage(8192, '\0');
    for (size_t i = 0; i < garbage.size(); ++i) {
        garbage[i] = static_cast<char>((i * 7919) >> 3);
    }
    std::string damaged = good;
    damaged.replace(4096 + 8, 392, 392, '\xA5');
    {
        OtherConnection make(folder_.File("foreign"),
                             "CREATE TABLE t(x); INSERT INTO t VALUES(1);");
    }
    const struct {
        const char* name;
        std::string bytes;
        const char* says;
    } rows[] = {
        {"empty", "", "damaged"},
        {"garbage", garbage, "damaged"},
        {"text", "[Config]\r\nComPortName=COM1\r\n", "damaged"},
        {"header only", good.substr(0, 60), "damaged"},
        {"first page only", good.substr(0, 4096), "damaged"},
        {"half", good.substr(0, good.size() / 2), "damaged"},
        {"damaged page", damaged, "damaged"},
        {"foreign SQLite database", ReadBytes(folder_.File("foreign")), "not a registry database"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string path = folder_.File(std::string("bad-") + row.name);
        WriteBytes(path, row.bytes);
        const std::string message = Open(path, RegStatus::kCorrupt).message;
        EXPECT_NE(message.find(row.says), std::string::npos) << message;
        EXPECT_EQ(ReadBytes(path), row.bytes);
        EXPECT_NE(access((path + "-wal").c_str(), F_OK), 0);
        EXPECT_NE(access((path + "-journal").c_str(), F_OK), 0);
    }
}

TEST_F(RegistryFileTest, UnreadableFileIsReportedWithItsErrno) {
    // A folder where the file should be: unreadable as a database for every user.
    ASSERT_EQ(mkdir(path_.c_str(), 0700), 0);
    Open(path_, RegStatus::kFailed);
    // Without read permission; root ignores permission bits, so the child gives them up.
    const std::string path = folder_.File("locked-out.sqlite3");
    const std::string bytes = MakeDatabase(path);
    ASSERT_EQ(chmod(path.c_str(), 0), 0);
    ASSERT_EQ(chmod(folder_.path().c_str(), 0755), 0);  // the file itself must be what stops us
    EXPECT_TRUE(PassesInChild([&] {
        std::shared_ptr<Registry> denied;
        RegistryProblem why;
        return (geteuid() != 0 || (setgid(65534) == 0 && setuid(65534) == 0)) &&
               Registry::OpenAt(path, {}, &denied, &why) == RegStatus::kFailed &&
               why.os.kind == ErrorKind::kPermission &&
               why.message.find(path) != std::string::npos && denied == nullptr;
    }));
    ASSERT_EQ(chmod(path.c_str(), 0600), 0);
    EXPECT_EQ(ReadBytes(path), bytes);
}

// Another program holding the file: opening and writing wait for the busy time-out, then
// fail; readers go on (WAL); a write behind the same stuck lock fails without a second wait.
TEST_F(RegistryFileTest, LockedDatabaseGivesBusyAfterTheTimeOutThenWorks) {
    MakeDatabase(path_);
    // Held exclusively, as the sqlite3 shell would with locking_mode=EXCLUSIVE and a write.
    std::optional<OtherConnection> holder(std::in_place, path_,
                                          "PRAGMA locking_mode=EXCLUSIVE; BEGIN EXCLUSIVE;");
    auto start = Clock::now();
    const std::string message = Open(path_, RegStatus::kBusy, 200).message;
    EXPECT_GE(Clock::now() - start, milliseconds(150));
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
    EXPECT_NE(message.find("locked"), std::string::npos) << message;
    holder.reset();
    Open(path_, RegStatus::kOk, 200);
    RegKey key = MakeKey(registry_, u"W");
    ASSERT_EQ(key.SetDword(u"before", 1), RegStatus::kOk);
    for (int round = 0; round < 2; ++round) {  // after a success the full wait applies again
        holder.emplace(path_, "BEGIN IMMEDIATE;");
        start = Clock::now();
        EXPECT_EQ(key.SetDword(u"during", 2), RegStatus::kBusy);
        EXPECT_GE(Clock::now() - start, milliseconds(150));
        EXPECT_EQ(registry_->LastProblem().status, RegStatus::kBusy);
        start = Clock::now();
        EXPECT_EQ(key.SetDword(u"during", 2), RegStatus::kBusy);
        EXPECT_LT(Clock::now() - start, milliseconds(150));
        EXPECT_EQ(QueryRaw(key, u"before"), (RawValue{RegType::kDword, {1, 0, 0, 0}}));
        holder.reset();
        EXPECT_EQ(key.SetDword(u"after", 3), RegStatus::kOk);
        EXPECT_EQ(QueryRaw(key, u"during").first, RegType::kNone);
    }
}

TEST_F(RegistryFileTest, UserRegistryReportsADamagedFileOnceOnStderr) {
    WriteBytes(path_, "not a database at all");
    ScopedEnv chosen("KEMPEMVILO_REGISTRY", path_.c_str());
    ::testing::internal::CaptureStderr();
    RegKey key;
    EXPECT_EQ(RegKey::Open(RegRoot::kCurrentUser, u"Software", RegAccess::kRead, &key),
              RegStatus::kCorrupt);
    EXPECT_EQ(RegKey::Create(RegRoot::kCurrentUser, u"Software\\X", &key), RegStatus::kCorrupt);
    const std::string printed = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(printed.find(path_), std::string::npos) << printed;
    EXPECT_NE(printed.find("damaged"), std::string::npos) << printed;
    EXPECT_EQ(printed.find(path_), printed.rfind(path_)) << "reported more than once: " << printed;
    EXPECT_EQ(ReadBytes(path_), "not a database at all");
    // Once the bad file is gone, the registry is used again.
    ASSERT_EQ(unlink(path_.c_str()), 0);
    ASSERT_EQ(RegKey::Create(RegRoot::kCurrentUser, u"Software\\X", &key), RegStatus::kOk);
    EXPECT_EQ(key.SetDword(u"v", 7), RegStatus::kOk);
}

TEST_F(RegistryFileTest, UserRegistryConnectionIsNotCarriedAcrossFork) {
    ScopedEnv chosen("KEMPEMVILO_REGISTRY", path_.c_str());
    RegKey key;
    ASSERT_EQ(RegKey::Create(RegRoot::kCurrentUser, u"F", &key), RegStatus::kOk);
    ASSERT_EQ(key.SetDword(u"parent-before", 1), RegStatus::kOk);
    ASSERT_EQ(Registry::OpenUser(&registry_), RegStatus::kOk);
    // The child writes through a connection of its own, closed by its normal exit.
    EXPECT_TRUE(PassesInChild([&] {
        std::shared_ptr<Registry> own;
        RegKey child_key;
        return Registry::OpenUser(&own) == RegStatus::kOk && own != registry_ &&
               RegKey::Create(RegRoot::kCurrentUser, u"F", &child_key) == RegStatus::kOk &&
               child_key.SetDword(u"child", 2) == RegStatus::kOk;
    }));
    // The parent's connection is unharmed and sees the child's write.
    EXPECT_EQ(key.SetDword(u"parent-after", 3), RegStatus::kOk);
    EXPECT_EQ(ValueNamesOf(key),
              (std::vector<std::u16string>{u"parent-before", u"child", u"parent-after"}));
}
