// The SQLite side of the embedded registry: one connection, its prepared statements and the
// key and value tables. Only registry*.cpp use this; everyone else goes through RegKey.
//
// Keys are rows of reg_key (a parent link, the spelled and the folded name); the five roots
// are the rows 1 to 5. Values are rows of reg_value, in the order they were first written.
// Deleting a key cascades to its sub-keys and values.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "platform/registry.h"

struct sqlite3;
struct sqlite3_stmt;

namespace kem::platform {

using RegKeyId = int64_t;

// The row of a root key.
RegKeyId RootKeyId(RegRoot root);

class Registry::Store {
public:
    // Opens and checks the existing database file at `path` (see Registry::OpenAt); the
    // file must exist. On failure `*problem` says why and nothing was written.
    static RegStatus Open(const std::string& path, const RegistryOptions& options,
                          std::unique_ptr<Store>* out, RegistryProblem* problem);

    // Writes a new, empty registry database to `path`, which must not exist.
    static RegStatus CreateFile(const std::string& path, RegistryProblem* problem);

    ~Store();
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    const std::string& path() const { return path_; }
    RegistryProblem LastProblem() const;

    // Each call below takes the connection's lock and is one transaction (a read, or for the
    // writers BEGIN IMMEDIATE ... COMMIT). Names are folded by the callee.

    // The key reached from `parent` through `components`; kNotFound when one is missing or
    // `parent` is gone.
    RegStatus FindKey(RegKeyId parent, const std::vector<std::u16string>& components,
                      RegKeyId* out);
    // As FindKey, creating what is missing; `created` tells whether the last one was new.
    RegStatus CreateKey(RegKeyId parent, const std::vector<std::u16string>& components,
                        RegKeyId* out, bool* created);
    RegStatus SetValue(RegKeyId key, std::u16string_view name, RegType type, const void* data,
                       uint32_t size);
    RegStatus GetValue(RegKeyId key, std::u16string_view name, RegType* type,
                       std::vector<uint8_t>* data);
    // `index` < 0: every name; else only the one at that place (kNotFound past the end).
    RegStatus SubKeyNames(RegKeyId key, int64_t index, std::vector<std::u16string>* names);
    RegStatus ValueNames(RegKeyId key, int64_t index, std::vector<std::u16string>* names,
                         std::vector<RegType>* types);
    RegStatus DeleteValue(RegKeyId key, std::u16string_view name);
    // Deletes the key reached from `parent` through `components`; without `recursive` it must
    // have no sub-keys.
    RegStatus DeleteKey(RegKeyId parent, const std::vector<std::u16string>& components,
                        bool recursive);

private:
    enum Statement {
        kBegin,
        kBeginImmediate,
        kCommit,
        kRollback,
        kKeyExists,
        kFindChild,
        kInsertKey,
        kUpsertValue,
        kGetValue,
        kListKeys,
        kKeyAt,
        kListValues,
        kValueAt,
        kDeleteValue,
        kHasChild,
        kDeleteKey,
        kStatementCount,
    };
    class Step;
    class Transaction;

    Store(sqlite3* db, std::string path, const RegistryOptions& options);

    // Runs one public call: under the connection's lock, with the lock-wait bookkeeping.
    template <typename Body>
    RegStatus Call(Body body);
    sqlite3_stmt* Prepare(Statement which);
    // Records the connection's error as the last problem and gives its status.
    RegStatus Fail(int code);
    RegStatus FindLocked(RegKeyId parent, const std::vector<std::u16string>& components,
                         RegKeyId* out);
    bool KeyExistsLocked(RegKeyId key, RegStatus* status);
    // After a lock wait ran out, later calls do not wait again until one succeeds (or 10 s
    // have passed), so a load of many values behind a stuck lock fails once, not many times.
    void NoteOutcome(RegStatus status);
    void ResumeWaitingIfDue();

    sqlite3* db_;
    std::string path_;
    RegistryOptions options_;
    std::mutex mutex_;
    sqlite3_stmt* statements_[kStatementCount] = {};
    RegistryProblem last_problem_;
    std::array<bool, 8> reported_ = {};  // per status: already written to stderr
    mutable std::mutex problem_mutex_;
    bool waiting_disabled_ = false;
    std::chrono::steady_clock::time_point busy_since_;
};

}  // namespace kem::platform
