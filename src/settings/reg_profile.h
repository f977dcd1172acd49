// The settings store kept in the registry: the store is bound to one key (a root and a
// sub-key path); each section is a sub-key below it and each key of a section a named value.
// Writes go straight to the registry and reads always see what is there now: nothing is held
// in memory, so Load, Save and Close only move the flags (the base class's behaviour).
//
// Also the registry path functions: recognising a root name at the start of a key path, and
// joining a section to the store's key.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry.h"
#include "settings/profile_base.h"

namespace kem::settings {

// What ParseRootKey found at the start of a text.
enum class KeyPathKind {
    kNone,        // null or empty: no path at all
    kRegistry,    // a root name: "HKCR", "HKCU", "HKLM", "HKU" or "HKCC"
    kFileSystem,  // begins with '%', '.', '/', '\' or a drive letter and ':'
    kOther,       // anything else
};

// Compares the start of `path`, without regard to ASCII case and over each name's own length,
// with "HKCR", "HKCU", "HKLM", "HKU", "HKCC" in this order (so "HKCUX\..." is HKCU). For a
// registry path `*root` receives the root and `sub_key` (capacity units, may be null)
// everything after the first '\' (empty when there is none), cut at a character boundary to
// fit. `root` may be null. Pure, any thread.
KeyPathKind ParseRootKey(const char16_t* path, platform::RegRoot* root, char16_t* sub_key,
                         int32_t capacity);

// The key of `section` below `key_path`: environment references (%NAME%) in the section
// expanded, the two joined with exactly one '\', a trailing '\' removed. A null or empty
// section gives the key path itself. Any thread.
std::u16string SectionKeyPath(std::u16string_view key_path, const char16_t* section);

// Win32 error numbers that ReadRawBytes returns, as the registry calls report them.
constexpr int32_t kRegErrorSuccess = 0;
constexpr int32_t kRegErrorNotFound = 2;      // ERROR_FILE_NOT_FOUND
constexpr int32_t kRegErrorAccessDenied = 5;  // ERROR_ACCESS_DENIED
constexpr int32_t kRegErrorBusy = 170;        // ERROR_BUSY
constexpr int32_t kRegErrorInvalidParameter = 87;
constexpr int32_t kRegErrorMoreData = 234;   // ERROR_MORE_DATA
constexpr int32_t kRegErrorCorrupt = 1015;   // ERROR_REGISTRY_CORRUPT
constexpr int32_t kRegErrorIoFailed = 1016;  // ERROR_REGISTRY_IO_FAILED

// The Win32 number of a registry result. Pure.
int32_t RegErrorCode(platform::RegStatus status);

}  // namespace kem::settings

class CKemRegProfile : public CKemProfileBaseClass {
public:
    // Capacity of the key path field, terminator included.
    static constexpr int32_t kKeyPathUnits = 260;
    // Longest section or value name the enumerations list, as their 260-unit name buffers
    // allow; the listing stops at a longer name.
    static constexpr size_t kEnumNameUnits = 259;

    // A store on the user's registry (platform Registry::OpenUser, opened at each call).
    CKemRegProfile();
    // A store on the given registry database; tests and benchmarks use their own file.
    explicit CKemRegProfile(std::shared_ptr<kem::platform::Registry> registry);
    ~CKemRegProfile() override;

    // Binds the store to a full key path such as "HKCU\Software\Quorbel" (see ParseRootKey).
    // 0, with the previous binding kept, for anything that is not a registry path. `create`
    // is ignored: keys are created when written.
    int32_t SetLocation(const char16_t* path, int32_t create) override;

    // Every operation below takes an optional `location`: when given, SetLocation(location, 0)
    // is applied first and the operation fails when that fails. A store is used from one
    // thread at a time.

    // 1 when the section's key can be opened for reading.
    int32_t SectionExists(const char16_t* section, const char16_t* value_name,
                          const char16_t* location) override;
    // Deletes value `key` (null: the default value) of the section; 1 when it was deleted or
    // did not exist, 0 when the section's key cannot be opened or the deletion failed.
    int32_t DeleteValue(const char16_t* section, const char16_t* key,
                        const char16_t* location) override;
    // Deletes the section's key with all its sub-keys and values in one transaction. The
    // section must be non-empty; 0 when it does not exist.
    int32_t DeleteSection(const char16_t* section, const char16_t* location) override;
    // Deletes the store's own key with everything below it: the key path is split at its
    // last '\' and the last component deleted as a section of its parent. 0 for an empty path.
    int32_t DeleteAll(const char16_t* location) override;
    // Sub-key names of the store's key (in the registry's order), appended to `*out` after
    // clearing it; returns their number (0 when the key cannot be opened).
    int32_t EnumSections(std::vector<std::u16string>* out, const char16_t* location) override;
    // Value names of the section's key, in the order they were first written.
    int32_t EnumKeys(const char16_t* section, std::vector<std::u16string>* out,
                     const char16_t* location) override;
    // Writes a REG_SZ value (null value: empty text), creating the section's key and any
    // missing parent. 1 on success. The modified flag is not touched.
    int32_t WriteStringRaw(const char16_t* section, const char16_t* key, const char16_t* value,
                           const char16_t* location) override;
    // Copies the REG_SZ value into `buffer` (at most capacity - 1 units, always terminated;
    // a longer text is cut at a character boundary, never inside a surrogate pair) and
    // returns its length. A missing key or value, another type, or data that is not a
    // terminated UTF-16 text copies `default_value` (null: empty) instead and returns its
    // length; when the location cannot be applied, the default is copied and 0 returned.
    // A null buffer gives 0.
    int32_t ReadStringRaw(const char16_t* section, const char16_t* key,
                          const char16_t* default_value, char16_t* buffer, int32_t capacity,
                          const char16_t* location) override;
    // A native REG_DWORD value (4 bytes, little-endian) rather than text.
    int32_t WriteDword(const char16_t* section, const char16_t* key, uint32_t value,
                       const char16_t* location) override;
    // The REG_DWORD value, or `default_value` when it is missing or of another type.
    uint32_t ReadDword(const char16_t* section, const char16_t* key, uint32_t default_value,
                       const char16_t* location) override;

    // ---- appended operations ----

    // Binds the store to `root` and `key_path` (copied, at most 259 units, cut at a character
    // boundary) and returns 1. No root: 0 and the root is cleared. A null path: 0, with the
    // root taken and the path kept. `flag` is ignored.
    virtual int32_t SetKey(std::optional<kem::platform::RegRoot> root, const char16_t* key_path,
                           int32_t flag);
    // Writes `length` bytes as a REG_BINARY value. 1 on success; 0 for a negative length or
    // null bytes with a positive length.
    virtual int32_t WriteRawBytes(const char16_t* section, const char16_t* name, const void* bytes,
                                  int32_t length, const char16_t* location);
    // Reads a REG_BINARY value into `buffer` of `*length` bytes and returns the registry error
    // number: 0 with `*length` the size read (a null buffer: the size only); 234 (more data)
    // with `*length` the size needed; 87 when the location cannot be applied (the buffer is
    // zero-filled), for a value of another type, or a null `length`; 2 when the key or value
    // is missing; the number of any other failure (RegErrorCode).
    virtual int32_t ReadRawBytes(const char16_t* section, const char16_t* name, void* buffer,
                                 int32_t* length, const char16_t* location);

    std::optional<kem::platform::RegRoot> root_key() const { return m_hRootKey; }
    const char16_t* key_path() const { return m_szKeyPath; }

private:
    bool ApplyLocation(const char16_t* location);
    // Opens or creates the key of `section` below the store's key.
    kem::platform::RegStatus OpenSection(const char16_t* section, kem::platform::RegAccess access,
                                         kem::platform::RegKey* key) const;
    kem::platform::RegStatus CreateSection(const char16_t* section,
                                           kem::platform::RegKey* key) const;
    // Creates the section's key as needed and stores one value; 1 on success.
    int32_t WriteValue(const char16_t* section, const char16_t* name, kem::platform::RegType type,
                       const void* data, size_t size, const char16_t* location);

    std::optional<kem::platform::RegRoot> m_hRootKey;    // none until bound
    char16_t m_szKeyPath[kKeyPathUnits] = {};            // below the root, without its name
    std::shared_ptr<kem::platform::Registry> registry_;  // null: the user's registry
};
