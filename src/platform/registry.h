// The embedded registry: named values under a tree of keys below five root keys, kept in one
// SQLite database per user. The calls take the shape of the Win32 registry calls the settings
// stores were written against (RegOpenKeyExW, RegCreateKeyExW, RegSetValueExW,
// RegQueryValueExW, RegEnumKeyW, RegEnumValueW, RegDeleteValueW, RegDeleteKeyW): a key handle,
// closed result codes, UTF-16 names compared without regard to case.
//
// Every write is one SQLite transaction in WAL mode with a busy time-out, so several running
// instances share the file safely. HKLM\HARDWARE\DEVICEMAP\SERIALCOMM is not stored: it is a
// read-only view of the serial devices present (registry_serialcomm.h).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/os_error.h"
#include "platform/registry_serialcomm.h"

namespace kem::platform {

enum class RegRoot { kClassesRoot, kCurrentUser, kLocalMachine, kUsers, kCurrentConfig };

// Value types; the numbers are Win32's, so stored types read the same as there.
enum class RegType : uint32_t { kNone = 0, kSz = 1, kBinary = 3, kDword = 4 };

enum class RegStatus {
    kOk,
    kNotFound,      // no such key or value, or the key was deleted while this handle was open
    kAccessDenied,  // a write to a read-only key or database; deleting a key with sub-keys
    kMoreData,      // the caller's buffer is too small; the size needed is reported
    kCorrupt,       // the database is damaged or no registry database; it is left untouched
    kBusy,          // another process held the database longer than the busy time-out
    kInvalid,       // a bad argument: a name too long, an unknown type, a closed handle
    kFailed,        // any other failure (I/O, no memory); the problem text says which
};

// A short English name of `status` for messages ("ok", "not found", ...). Pure.
const char* RegStatusName(RegStatus status);

// Rights a handle is opened with; a handle opened for reading refuses writes (kAccessDenied).
enum class RegAccess { kRead, kWrite, kAll };

// Longest key name component and value name, in UTF-16 units (Win32's limits).
inline constexpr size_t kRegMaxKeyName = 255;
inline constexpr size_t kRegMaxValueName = 16383;

// What went wrong with a database as a whole, for the caller to show.
struct RegistryProblem {
    RegStatus status = RegStatus::kOk;
    OsError os;           // the errno of the failed OS call, when one failed
    std::string message;  // one sentence naming the file and the failure
};

struct RegistryOptions {
    int busy_timeout_ms = 5000;     // how long a call waits for another process's lock
    bool report_to_stderr = false;  // write the first failure of each kind to stderr
};

// The per-user database path: $KEMPEMVILO_REGISTRY when set, else
// $XDG_CONFIG_HOME/Quorbel/registry.sqlite3 (an absolute XDG_CONFIG_HOME only), else
// $HOME/.config/Quorbel/registry.sqlite3. Read from the environment on every call.
std::string UserRegistryPath();

// One connection to one registry database. Calls on it are serialised by its own lock, so
// keys opened through it may be used from any thread.
class Registry {
public:
    class Store;  // the SQLite side (registry_store.h)

    // Opens the database at `path`; a missing file is created with its folder. A file that
    // is empty, damaged or foreign gives kCorrupt and is never written; a lock held past the
    // time-out gives kBusy; an unreadable file kFailed, with the errno in `problem`. A file
    // that is readable only opens, and its writes give kAccessDenied. Nothing is printed:
    // `problem` (optional) receives the message. Each call makes a new connection.
    static RegStatus OpenAt(const std::string& path, const RegistryOptions& options,
                            std::shared_ptr<Registry>* out, RegistryProblem* problem = nullptr);

    // The per-user database (UserRegistryPath()), one connection per process shared by all
    // callers. A failure is written once to stderr with its reason (and given in `problem`);
    // it is remembered while the file stays as it is (a lock: for 10 s), so the many reads of
    // a settings load fail fast rather than each waiting or printing again. Later failures of
    // calls on the connection (busy, damage found) are printed once per kind. Any thread.
    static RegStatus OpenUser(std::shared_ptr<Registry>* out, RegistryProblem* problem = nullptr);

    explicit Registry(std::unique_ptr<Store> store);
    ~Registry();
    Registry(const Registry&) = delete;
    Registry& operator=(const Registry&) = delete;

    const std::string& path() const;

    // The last failure of a call on this connection (status kOk when none yet).
    RegistryProblem LastProblem() const;

    // The SQLite side, for the key handles (registry_key.cpp).
    Store& store() { return *store_; }

private:
    std::unique_ptr<Store> store_;
};

// An open key, closed when the object goes (RegCloseKey). Movable, not copyable. A handle is
// used by one thread at a time; different handles may be used from different threads.
class RegKey {
public:
    RegKey();
    ~RegKey();
    RegKey(RegKey&& other) noexcept;
    RegKey& operator=(RegKey&& other) noexcept;
    RegKey(const RegKey&) = delete;
    RegKey& operator=(const RegKey&) = delete;

    // RegOpenKeyExW: opens `sub_key` (components separated by '\'; empty components are
    // skipped; empty opens the root itself) below `root` in the per-user registry, or in
    // `registry` when given. kNotFound when a component is missing; database failures as in
    // Registry::OpenUser. The device view opens without touching the database.
    static RegStatus Open(RegRoot root, std::u16string_view sub_key, RegAccess access, RegKey* out);
    static RegStatus Open(const std::shared_ptr<Registry>& registry, RegRoot root,
                          std::u16string_view sub_key, RegAccess access, RegKey* out);

    // RegCreateKeyExW: opens `sub_key`, creating it and any missing parent in one
    // transaction; `created` (optional) tells whether the last component was new. The handle
    // has all rights. kAccessDenied below HKLM\HARDWARE; kInvalid for a component longer than
    // kRegMaxKeyName.
    static RegStatus Create(RegRoot root, std::u16string_view sub_key, RegKey* out,
                            bool* created = nullptr);
    static RegStatus Create(const std::shared_ptr<Registry>& registry, RegRoot root,
                            std::u16string_view sub_key, RegKey* out, bool* created = nullptr);

    // RegOpenKeyExW / RegCreateKeyExW relative to this key.
    RegStatus OpenSubKey(std::u16string_view sub_key, RegAccess access, RegKey* out) const;
    RegStatus CreateSubKey(std::u16string_view sub_key, RegKey* out, bool* created = nullptr) const;

    bool IsOpen() const { return kind_ != Kind::kClosed; }
    // True for a key of the device view, which refuses every write.
    bool IsReadOnlyView() const { return kind_ == Kind::kDeviceView; }
    void Close();

    // RegSetValueExW: stores `size` bytes of `data` as value `name` ("" is the default value)
    // of `type`, replacing any value of that name (its first spelling and its place in the
    // enumeration are kept). One transaction.
    RegStatus SetValue(std::u16string_view name, RegType type, const void* data, uint32_t size);
    // REG_SZ with the terminating zero (2 x (length + 1) bytes); REG_DWORD, 4 bytes little-endian.
    RegStatus SetString(std::u16string_view name, std::u16string_view text);
    RegStatus SetDword(std::u16string_view name, uint32_t value);

    // RegQueryValueExW: `type` (optional) receives the type. With `data` null, `*size`
    // receives the size of the data; else the data is copied when `*size` is large enough
    // (`*size` then holds its size), or kMoreData is returned with the size needed in `*size`
    // and nothing copied. `size` may be null only when `data` is.
    RegStatus QueryValue(std::u16string_view name, RegType* type, void* data, uint32_t* size) const;
    // The whole value in one call.
    RegStatus QueryValue(std::u16string_view name, RegType* type, std::vector<uint8_t>* data) const;

    // RegEnumKeyW / RegEnumValueW: the name at `index` (sub-keys in folded-name order, values
    // in the order they were first written); kNotFound past the end ("no more items").
    RegStatus EnumKey(uint32_t index, std::u16string* name) const;
    RegStatus EnumValue(uint32_t index, std::u16string* name, RegType* type = nullptr) const;
    // All sub-key or value names at once, in the same orders, from one consistent reading.
    RegStatus SubKeyNames(std::vector<std::u16string>* names) const;
    RegStatus ValueNames(std::vector<std::u16string>* names) const;

    // RegDeleteValueW: kNotFound when there is no such value.
    RegStatus DeleteValue(std::u16string_view name);
    // RegDeleteKeyW: deletes `sub_key`, which must have no sub-keys of its own
    // (kAccessDenied otherwise), with its values.
    RegStatus DeleteKey(std::u16string_view sub_key);
    // Deletes `sub_key` with everything below it, in one transaction. Empty is not allowed.
    RegStatus DeleteTree(std::u16string_view sub_key);

private:
    enum class Kind { kClosed, kStored, kDeviceView };

    RegStatus CheckWritable() const;
    RegStatus DeleteSubKey(std::u16string_view sub_key, bool recursive);

    Kind kind_ = Kind::kClosed;
    RegRoot root_ = RegRoot::kCurrentUser;
    RegAccess access_ = RegAccess::kRead;
    std::shared_ptr<Registry> registry_;
    int64_t id_ = 0;  // stored key's row; for the view, its depth below HKLM (1..3)
    std::vector<SerialDeviceEntry> devices_;  // the view's values, taken when it was opened
};

}  // namespace kem::platform
