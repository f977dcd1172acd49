#include "platform/registry_store.h"

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "platform/registry_names.h"

namespace kem::platform {
namespace {

// Marks the file as ours ("KemR"); a SQLite file without it is someone else's and is refused.
constexpr int kApplicationId = 0x4B656D52;
constexpr int kSchemaVersion = 1;
constexpr auto kBusyPause = std::chrono::seconds(10);

constexpr const char* kSchema = R"sql(
PRAGMA journal_mode = WAL;
PRAGMA application_id = 1264938322;
PRAGMA user_version = 1;
BEGIN;
CREATE TABLE reg_key(
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    parent INTEGER REFERENCES reg_key(id) ON DELETE CASCADE,
    name TEXT NOT NULL,
    folded TEXT NOT NULL,
    UNIQUE(parent, folded));
CREATE TABLE reg_value(
    key INTEGER NOT NULL REFERENCES reg_key(id) ON DELETE CASCADE,
    name TEXT NOT NULL,
    folded TEXT NOT NULL,
    type INTEGER NOT NULL,
    data BLOB NOT NULL,
    UNIQUE(key, folded));
INSERT INTO reg_key(id, parent, name, folded) VALUES
    (1, NULL, 'HKEY_CLASSES_ROOT', 'hkey_classes_root'),
    (2, NULL, 'HKEY_CURRENT_USER', 'hkey_current_user'),
    (3, NULL, 'HKEY_LOCAL_MACHINE', 'hkey_local_machine'),
    (4, NULL, 'HKEY_USERS', 'hkey_users'),
    (5, NULL, 'HKEY_CURRENT_CONFIG', 'hkey_current_config');
COMMIT;
)sql";

// Ids are never reused (AUTOINCREMENT), so a handle to a deleted key can never reach a newer
// key that happens to get the same row.
constexpr const char* kStatementText[] = {
    "BEGIN",
    "BEGIN IMMEDIATE",
    "COMMIT",
    "ROLLBACK",
    "SELECT 1 FROM reg_key WHERE id = ?1",
    "SELECT id FROM reg_key WHERE parent = ?1 AND folded = ?2",
    "INSERT INTO reg_key(parent, name, folded) VALUES (?1, ?2, ?3)",
    ("INSERT INTO reg_value(key, name, folded, type, data) VALUES (?1, ?2, ?3, ?4, ?5) "
     "ON CONFLICT(key, folded) DO UPDATE SET type = excluded.type, data = excluded.data"),
    "SELECT type, data FROM reg_value WHERE key = ?1 AND folded = ?2",
    "SELECT name FROM reg_key WHERE parent = ?1 ORDER BY folded, id",
    "SELECT name FROM reg_key WHERE parent = ?1 ORDER BY folded, id LIMIT 1 OFFSET ?2",
    "SELECT name, type FROM reg_value WHERE key = ?1 ORDER BY rowid",
    "SELECT name, type FROM reg_value WHERE key = ?1 ORDER BY rowid LIMIT 1 OFFSET ?2",
    "DELETE FROM reg_value WHERE key = ?1 AND folded = ?2",
    "SELECT 1 FROM reg_key WHERE parent = ?1 LIMIT 1",
    "DELETE FROM reg_key WHERE id = ?1",
};

RegStatus StatusOf(int code) {
    switch (code & 0xFF) {
        case SQLITE_OK:
        case SQLITE_ROW:
        case SQLITE_DONE:
            return RegStatus::kOk;
        case SQLITE_BUSY:
        case SQLITE_LOCKED:
            return RegStatus::kBusy;
        case SQLITE_CORRUPT:
        case SQLITE_NOTADB:
        case SQLITE_FORMAT:
            return RegStatus::kCorrupt;
        case SQLITE_READONLY:
        case SQLITE_PERM:
        case SQLITE_AUTH:
            return RegStatus::kAccessDenied;
        case SQLITE_CONSTRAINT:
            // Only the foreign key can fail: the key was deleted under the handle.
            return code == SQLITE_CONSTRAINT_FOREIGNKEY ? RegStatus::kNotFound : RegStatus::kFailed;
        case SQLITE_CANTOPEN:
            return RegStatus::kFailed;
        default:
            return RegStatus::kFailed;
    }
}

std::string Describe(RegStatus status, int busy_timeout_ms) {
    switch (status) {
        case RegStatus::kBusy:
            return "locked by another process for longer than " + std::to_string(busy_timeout_ms) +
                   " ms";
        case RegStatus::kCorrupt:
            return "damaged, or not a registry database; the file is left as it is";
        case RegStatus::kAccessDenied:
            return "cannot be written";
        default:
            return "cannot be used";
    }
}

RegistryProblem MakeProblem(const std::string& path, RegStatus status, int os_code,
                            const std::string& detail, int busy_timeout_ms) {
    RegistryProblem problem;
    problem.status = status;
    problem.os = MakeOsError(os_code);
    problem.message = "registry database " + path + ": " + Describe(status, busy_timeout_ms);
    if (!detail.empty()) {
        problem.message += " (" + detail + ")";
    }
    return problem;
}

void BindText(sqlite3_stmt* statement, int index, const std::string& text) {
    sqlite3_bind_text(statement, index, text.data(), static_cast<int>(text.size()),
                      SQLITE_TRANSIENT);
}

std::u16string ColumnName(sqlite3_stmt* statement, int column) {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
    const int length = sqlite3_column_bytes(statement, column);
    return text == nullptr
               ? std::u16string()
               : DecodeRegistryName(std::string_view(text, static_cast<size_t>(length)));
}

}  // namespace

RegKeyId RootKeyId(RegRoot root) {
    return static_cast<RegKeyId>(root) + 1;
}

// Runs one prepared statement and resets it when it goes out of scope.
class Registry::Store::Step {
public:
    explicit Step(sqlite3_stmt* statement) : statement_(statement) {}
    ~Step() {
        if (statement_ != nullptr) {
            sqlite3_reset(statement_);
            sqlite3_clear_bindings(statement_);
        }
    }
    Step(const Step&) = delete;
    Step& operator=(const Step&) = delete;

    bool prepared() const { return statement_ != nullptr; }
    sqlite3_stmt* get() const { return statement_; }
    // SQLITE_ROW, SQLITE_DONE or an error code.
    int Next() { return sqlite3_step(statement_); }

private:
    sqlite3_stmt* statement_;
};

// A transaction that rolls back unless committed.
class Registry::Store::Transaction {
public:
    Transaction(Store& store, bool write) : store_(store) {
        Step begin(store_.Prepare(write ? kBeginImmediate : kBegin));
        code_ = begin.prepared() ? begin.Next() : sqlite3_errcode(store_.db_);
        active_ = code_ == SQLITE_DONE;
    }
    ~Transaction() {
        if (active_) {
            Step rollback(store_.Prepare(kRollback));
            if (rollback.prepared()) {
                rollback.Next();
            }
        }
    }
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    // kOk when BEGIN succeeded; else records and returns the failure.
    RegStatus status() { return active_ ? RegStatus::kOk : store_.Fail(code_); }

    RegStatus Commit() {
        Step commit(store_.Prepare(kCommit));
        const int code = commit.prepared() ? commit.Next() : sqlite3_errcode(store_.db_);
        if (code != SQLITE_DONE) {
            return store_.Fail(code);  // the destructor rolls back
        }
        active_ = false;
        return RegStatus::kOk;
    }

private:
    Store& store_;
    int code_ = SQLITE_OK;
    bool active_ = false;
};

RegStatus Registry::Store::CreateFile(const std::string& path, RegistryProblem* problem) {
    // The database is built under a temporary name and linked into place complete, so no
    // other instance ever sees a half-made file, and an empty file at the path always means
    // damage, never "being created".
    static std::atomic<unsigned> counter{0};
    const std::string temporary =
        path + ".new-" + std::to_string(getpid()) + "-" + std::to_string(counter.fetch_add(1));
    sqlite3* db = nullptr;
    int code =
        sqlite3_open_v2(temporary.c_str(), &db,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (code == SQLITE_OK) {
        code = sqlite3_exec(db, kSchema, nullptr, nullptr, nullptr);
    }
    const int os_code = db != nullptr ? sqlite3_system_errno(db) : 0;
    const std::string detail = db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(code);
    sqlite3_close(db);
    if (code != SQLITE_OK) {
        unlink(temporary.c_str());
        if (problem != nullptr) {
            *problem =
                MakeProblem(path, RegStatus::kFailed, os_code, "cannot be created: " + detail, 0);
        }
        return RegStatus::kFailed;
    }
    chmod(temporary.c_str(), 0600);  // settings are the user's own
    // link() fails with EEXIST when another instance created the file meanwhile: use theirs.
    int result = link(temporary.c_str(), path.c_str());
    const int link_errno = errno;
    unlink(temporary.c_str());
    if (result != 0 && link_errno != EEXIST) {
        if (problem != nullptr) {
            *problem =
                MakeProblem(path, RegStatus::kFailed, link_errno,
                            std::string("cannot be created: ") + std::strerror(link_errno), 0);
        }
        return RegStatus::kFailed;
    }
    return RegStatus::kOk;
}

RegStatus Registry::Store::Open(const std::string& path, const RegistryOptions& options,
                                std::unique_ptr<Store>* out, RegistryProblem* problem) {
    auto fail = [&](RegStatus status, int os_code, const std::string& detail) {
        if (problem != nullptr) {
            *problem = MakeProblem(path, status, os_code, detail, options.busy_timeout_ms);
        }
        return status;
    };
    struct stat info;
    if (stat(path.c_str(), &info) != 0) {
        const int error = errno;
        return fail(error == ENOENT ? RegStatus::kNotFound : RegStatus::kFailed, error,
                    std::strerror(error));
    }
    if (!S_ISREG(info.st_mode)) {
        return fail(RegStatus::kFailed, S_ISDIR(info.st_mode) ? EISDIR : EINVAL,
                    "not a regular file");
    }
    if (info.st_size == 0) {
        // SQLite would take an empty file for a new database and fill it; this program never
        // leaves one behind, so it is damage, and the file is not ours to overwrite.
        return fail(RegStatus::kCorrupt, 0, "the file is empty");
    }
    sqlite3* db = nullptr;
    int code = sqlite3_open_v2(path.c_str(), &db,
                               SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_EXRESCODE,
                               nullptr);
    auto fail_db = [&](int failed_code) {
        const int os_code = db != nullptr ? sqlite3_system_errno(db) : 0;
        const std::string detail = db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(failed_code);
        sqlite3_close(db);
        return fail(
            StatusOf(failed_code) == RegStatus::kOk ? RegStatus::kFailed : StatusOf(failed_code),
            os_code, detail);
    };
    if (code != SQLITE_OK) {
        return fail_db(code);
    }
    sqlite3_busy_timeout(db, options.busy_timeout_ms);

    // Reads only, until the file has proved to be an intact registry database.
    auto pragma = [db](const char* sql, std::string* text, int* code_out) {
        sqlite3_stmt* statement = nullptr;
        int rc = sqlite3_prepare_v2(db, sql, -1, &statement, nullptr);
        if (rc == SQLITE_OK) {
            rc = sqlite3_step(statement);
            if (rc == SQLITE_ROW) {
                const auto* value =
                    reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
                *text = value != nullptr ? value : "";
                rc = SQLITE_OK;
            } else if (rc == SQLITE_DONE) {
                text->clear();
                rc = SQLITE_OK;
            }
        }
        sqlite3_finalize(statement);
        *code_out = rc;
        return rc == SQLITE_OK;
    };
    std::string text;
    if (!pragma("PRAGMA application_id", &text, &code)) {
        return fail_db(code);
    }
    const bool ours = text == std::to_string(kApplicationId);
    if (!pragma("PRAGMA user_version", &text, &code)) {
        return fail_db(code);
    }
    if (!ours || text != std::to_string(kSchemaVersion)) {
        sqlite3_close(db);
        return fail(RegStatus::kCorrupt, 0, "not written by this program's registry");
    }
    if (!pragma("PRAGMA quick_check", &text, &code)) {
        return fail_db(code);
    }
    if (text != "ok") {
        sqlite3_close(db);
        for (char& c : text) {
            c = c == '\n' ? ';' : c;  // one line on stderr
        }
        return fail(RegStatus::kCorrupt, 0, "integrity check: " + text);
    }
    if (!pragma("PRAGMA foreign_keys = ON", &text, &code) ||
        !pragma("PRAGMA synchronous = NORMAL", &text, &code)) {
        return fail_db(code);
    }
    // WAL lets readers go on while another instance writes; the mode is kept in the file, so
    // this only changes anything for a database someone switched back.
    if (pragma("PRAGMA journal_mode", &text, &code) && text != "wal" &&
        sqlite3_db_readonly(db, "main") == 0) {
        pragma("PRAGMA journal_mode = WAL", &text, &code);
    }
    out->reset(new Store(db, path, options));
    return RegStatus::kOk;
}

Registry::Store::Store(sqlite3* db, std::string path, const RegistryOptions& options)
    : db_(db), path_(std::move(path)), options_(options) {}

Registry::Store::~Store() {
    for (sqlite3_stmt* statement : statements_) {
        sqlite3_finalize(statement);
    }
    sqlite3_close(db_);
}

RegistryProblem Registry::Store::LastProblem() const {
    std::lock_guard<std::mutex> lock(problem_mutex_);
    return last_problem_;
}

sqlite3_stmt* Registry::Store::Prepare(Statement which) {
    static_assert(std::size(kStatementText) == kStatementCount, "one text per statement");
    if (statements_[which] == nullptr) {
        const int code =
            sqlite3_prepare_v3(db_, kStatementText[which], -1, SQLITE_PREPARE_PERSISTENT,
                               &statements_[which], nullptr);
        if (code != SQLITE_OK) {
            Fail(code);
            statements_[which] = nullptr;
        }
    }
    return statements_[which];
}

RegStatus Registry::Store::Fail(int code) {
    const RegStatus status = StatusOf(code) == RegStatus::kOk ? RegStatus::kFailed : StatusOf(code);
    if (status != RegStatus::kNotFound) {
        std::lock_guard<std::mutex> lock(problem_mutex_);
        last_problem_ = MakeProblem(path_, status, sqlite3_system_errno(db_), sqlite3_errmsg(db_),
                                    options_.busy_timeout_ms);
        const auto kind = static_cast<size_t>(status);
        if (options_.report_to_stderr && kind < reported_.size() && !reported_[kind]) {
            reported_[kind] = true;
            std::fprintf(stderr, "%s\n", last_problem_.message.c_str());
        }
    }
    return status;
}

void Registry::Store::NoteOutcome(RegStatus status) {
    const auto now = std::chrono::steady_clock::now();
    if (status == RegStatus::kBusy) {
        if (!waiting_disabled_) {
            waiting_disabled_ = true;
            busy_since_ = now;
            sqlite3_busy_timeout(db_, 0);
        }
    } else if (waiting_disabled_) {
        waiting_disabled_ = false;
        sqlite3_busy_timeout(db_, options_.busy_timeout_ms);
    }
}

bool Registry::Store::KeyExistsLocked(RegKeyId key, RegStatus* status) {
    Step step(Prepare(kKeyExists));
    if (!step.prepared()) {
        *status = RegStatus::kFailed;
        return false;
    }
    sqlite3_bind_int64(step.get(), 1, key);
    const int code = step.Next();
    if (code == SQLITE_ROW) {
        *status = RegStatus::kOk;
        return true;
    }
    *status = code == SQLITE_DONE ? RegStatus::kNotFound : Fail(code);
    return false;
}

RegStatus Registry::Store::FindLocked(RegKeyId parent,
                                      const std::vector<std::u16string>& components,
                                      RegKeyId* out) {
    RegStatus status = RegStatus::kOk;
    if (!KeyExistsLocked(parent, &status)) {
        return status;
    }
    RegKeyId current = parent;
    for (const std::u16string& component : components) {
        Step step(Prepare(kFindChild));
        if (!step.prepared()) {
            return RegStatus::kFailed;
        }
        sqlite3_bind_int64(step.get(), 1, current);
        BindText(step.get(), 2, FoldRegistryName(component));
        const int code = step.Next();
        if (code == SQLITE_DONE) {
            return RegStatus::kNotFound;
        }
        if (code != SQLITE_ROW) {
            return Fail(code);
        }
        current = sqlite3_column_int64(step.get(), 0);
    }
    *out = current;
    return RegStatus::kOk;
}

template <typename Body>
RegStatus Registry::Store::Call(Body body) {
    std::lock_guard<std::mutex> lock(mutex_);
    ResumeWaitingIfDue();
    const RegStatus status = body();
    NoteOutcome(status);
    return status;
}

void Registry::Store::ResumeWaitingIfDue() {
    if (waiting_disabled_ && std::chrono::steady_clock::now() - busy_since_ > kBusyPause) {
        NoteOutcome(RegStatus::kOk);
    }
}

RegStatus Registry::Store::FindKey(RegKeyId parent, const std::vector<std::u16string>& components,
                                   RegKeyId* out) {
    return Call([&]() {
        Transaction transaction(*this, false);
        const RegStatus status = transaction.status();
        return status == RegStatus::kOk ? FindLocked(parent, components, out) : status;
    });
}

RegStatus Registry::Store::CreateKey(RegKeyId parent, const std::vector<std::u16string>& components,
                                     RegKeyId* out, bool* created) {
    // Most calls find the key already there (every settings save after the first): a read
    // answers them without taking the database's write lock.
    auto look_up = [&]() {
        Transaction transaction(*this, false);
        RegStatus status = transaction.status();
        return status == RegStatus::kOk ? FindLocked(parent, components, out) : status;
    };
    auto create = [&]() {
        Transaction transaction(*this, true);
        RegStatus status = transaction.status();
        if (status != RegStatus::kOk || !KeyExistsLocked(parent, &status)) {
            return status;
        }
        RegKeyId current = parent;
        bool made = false;
        for (const std::u16string& component : components) {
            const std::string folded = FoldRegistryName(component);
            Step find(Prepare(kFindChild));
            if (!find.prepared()) {
                return RegStatus::kFailed;
            }
            sqlite3_bind_int64(find.get(), 1, current);
            BindText(find.get(), 2, folded);
            const int code = find.Next();
            if (code == SQLITE_ROW) {
                current = sqlite3_column_int64(find.get(), 0);
                made = false;
                continue;
            }
            if (code != SQLITE_DONE) {
                return Fail(code);
            }
            Step insert(Prepare(kInsertKey));
            if (!insert.prepared()) {
                return RegStatus::kFailed;
            }
            sqlite3_bind_int64(insert.get(), 1, current);
            BindText(insert.get(), 2, EncodeRegistryName(component));
            BindText(insert.get(), 3, folded);
            const int inserted = insert.Next();
            if (inserted != SQLITE_DONE) {
                return Fail(inserted);
            }
            current = sqlite3_last_insert_rowid(db_);
            made = true;
        }
        status = transaction.Commit();
        if (status == RegStatus::kOk) {
            *out = current;
            if (created != nullptr) {
                *created = made;
            }
        }
        return status;
    };
    return Call([&]() {
        const RegStatus status = look_up();
        if (status == RegStatus::kOk && created != nullptr) {
            *created = false;
        }
        return status == RegStatus::kNotFound ? create() : status;
    });
}

RegStatus Registry::Store::SetValue(RegKeyId key, std::u16string_view name, RegType type,
                                    const void* data, uint32_t size) {
    // One statement is one transaction; the foreign key refuses a key deleted meanwhile.
    return Call([&]() {
        Step step(Prepare(kUpsertValue));
        if (!step.prepared()) {
            return RegStatus::kFailed;
        }
        static const uint8_t kNoBytes = 0;  // a null pointer would bind NULL, not an empty blob
        sqlite3_bind_int64(step.get(), 1, key);
        BindText(step.get(), 2, EncodeRegistryName(name));
        BindText(step.get(), 3, FoldRegistryName(name));
        sqlite3_bind_int64(step.get(), 4, static_cast<int64_t>(type));
        sqlite3_bind_blob(step.get(), 5, size == 0 ? &kNoBytes : data, static_cast<int>(size),
                          SQLITE_TRANSIENT);
        const int code = step.Next();
        return code == SQLITE_DONE ? RegStatus::kOk : Fail(code);
    });
}

RegStatus Registry::Store::GetValue(RegKeyId key, std::u16string_view name, RegType* type,
                                    std::vector<uint8_t>* data) {
    return Call([&]() {
        Step step(Prepare(kGetValue));
        if (!step.prepared()) {
            return RegStatus::kFailed;
        }
        sqlite3_bind_int64(step.get(), 1, key);
        BindText(step.get(), 2, FoldRegistryName(name));
        const int code = step.Next();
        if (code == SQLITE_DONE) {
            return RegStatus::kNotFound;
        }
        if (code != SQLITE_ROW) {
            return Fail(code);
        }
        *type = static_cast<RegType>(sqlite3_column_int64(step.get(), 0));
        const auto* bytes = static_cast<const uint8_t*>(sqlite3_column_blob(step.get(), 1));
        const int length = sqlite3_column_bytes(step.get(), 1);
        data->assign(bytes, bytes == nullptr ? bytes : bytes + length);
        return RegStatus::kOk;
    });
}

RegStatus Registry::Store::SubKeyNames(RegKeyId key, int64_t index,
                                       std::vector<std::u16string>* names) {
    return Call([&]() {
        Transaction transaction(*this, false);
        RegStatus status = transaction.status();
        if (status != RegStatus::kOk || !KeyExistsLocked(key, &status)) {
            return status;
        }
        Step step(Prepare(index < 0 ? kListKeys : kKeyAt));
        if (!step.prepared()) {
            return RegStatus::kFailed;
        }
        sqlite3_bind_int64(step.get(), 1, key);
        if (index >= 0) {
            sqlite3_bind_int64(step.get(), 2, index);
        }
        names->clear();
        int code;
        while ((code = step.Next()) == SQLITE_ROW) {
            names->push_back(ColumnName(step.get(), 0));
        }
        if (code != SQLITE_DONE) {
            return Fail(code);
        }
        return index >= 0 && names->empty() ? RegStatus::kNotFound : RegStatus::kOk;
    });
}

RegStatus Registry::Store::ValueNames(RegKeyId key, int64_t index,
                                      std::vector<std::u16string>* names,
                                      std::vector<RegType>* types) {
    return Call([&]() {
        Transaction transaction(*this, false);
        RegStatus status = transaction.status();
        if (status != RegStatus::kOk || !KeyExistsLocked(key, &status)) {
            return status;
        }
        Step step(Prepare(index < 0 ? kListValues : kValueAt));
        if (!step.prepared()) {
            return RegStatus::kFailed;
        }
        sqlite3_bind_int64(step.get(), 1, key);
        if (index >= 0) {
            sqlite3_bind_int64(step.get(), 2, index);
        }
        names->clear();
        if (types != nullptr) {
            types->clear();
        }
        int code;
        while ((code = step.Next()) == SQLITE_ROW) {
            names->push_back(ColumnName(step.get(), 0));
            if (types != nullptr) {
                types->push_back(static_cast<RegType>(sqlite3_column_int64(step.get(), 1)));
            }
        }
        if (code != SQLITE_DONE) {
            return Fail(code);
        }
        return index >= 0 && names->empty() ? RegStatus::kNotFound : RegStatus::kOk;
    });
}

RegStatus Registry::Store::DeleteValue(RegKeyId key, std::u16string_view name) {
    return Call([&]() {
        Step step(Prepare(kDeleteValue));
        if (!step.prepared()) {
            return RegStatus::kFailed;
        }
        sqlite3_bind_int64(step.get(), 1, key);
        BindText(step.get(), 2, FoldRegistryName(name));
        const int code = step.Next();
        if (code != SQLITE_DONE) {
            return Fail(code);
        }
        return sqlite3_changes(db_) > 0 ? RegStatus::kOk : RegStatus::kNotFound;
    });
}

RegStatus Registry::Store::DeleteKey(RegKeyId parent, const std::vector<std::u16string>& components,
                                     bool recursive) {
    if (components.empty()) {
        return RegStatus::kInvalid;
    }
    return Call([&]() {
        Transaction transaction(*this, true);
        RegStatus status = transaction.status();
        RegKeyId target = 0;
        if (status == RegStatus::kOk) {
            status = FindLocked(parent, components, &target);
        }
        if (status != RegStatus::kOk) {
            return status;
        }
        if (!recursive) {
            Step child(Prepare(kHasChild));
            if (!child.prepared()) {
                return RegStatus::kFailed;
            }
            sqlite3_bind_int64(child.get(), 1, target);
            const int code = child.Next();
            if (code == SQLITE_ROW) {
                return RegStatus::kAccessDenied;
            }
            if (code != SQLITE_DONE) {
                return Fail(code);
            }
        }
        {
            Step remove(Prepare(kDeleteKey));
            if (!remove.prepared()) {
                return RegStatus::kFailed;
            }
            sqlite3_bind_int64(remove.get(), 1, target);
            const int code = remove.Next();
            if (code != SQLITE_DONE) {
                return Fail(code);
            }
        }
        return transaction.Commit();
    });
}

}  // namespace kem::platform
