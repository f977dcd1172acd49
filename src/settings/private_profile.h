// The settings store that keeps sections and key=value lines in a text file. The file is read
// whole into a list of lines on first use (in UTF-8, UTF-16 of either byte order or the ANSI
// code page, chosen by the byte-order mark, optionally scrambled) and written back as UTF-8
// with a byte-order mark and CR LF line ends. Used from one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_io.h"
#include "settings/profile_base.h"

// What the last Load found.
enum class ProfileLoadStatus {
    kNotLoaded,   // no Load since construction, Close or a change of location
    kNoPath,      // no file path is set
    kLoaded,      // the file was read
    kMissing,     // there is no such file: the store is empty and may create it
    kUnreadable,  // the file exists but could not be read (permission, I/O error, cut short,
                  // too large, locked): the store stays unloaded, refuses writes and never
                  // saves over that file
};

class CKemPrivateProfile : public CKemProfileBaseClass {
public:
    // Largest file the store reads.
    static constexpr size_t kMaxFileBytes = 64u << 20;
    // The file is decoded in pieces of this size.
    static constexpr size_t kPieceBytes = 65536;
    // WriteSection takes at most this many units of entries.
    static constexpr size_t kMaxSectionUnits = 65536;

    CKemPrivateProfile() = default;
    // Closes the store, which saves a modified one.
    ~CKemPrivateProfile() override;

    // Binds the store to the file `path` (UTF-16; a null path keeps the current one). A
    // different path closes the store first (saving it when modified), so changes never go
    // to the wrong file. Paths compare exactly, as the file system does. With `create`, the
    // file's folder is created with all missing parents; 1 only when this call created it,
    // else 0 (also always 0 without `create`).
    int32_t SetLocation(const char16_t* path, int32_t create) override;

    // Reads the file into the list of lines unless that was done. 1 when the store is loaded:
    // the file was read, or it does not exist (an empty store). 0 when no path is set or the
    // file exists but cannot be read; load_status() tells which, and the store then refuses
    // writes and saves until it is closed or bound anew. With keep-open the file stays open
    // and locked against other holders.
    int32_t Load() override;

    // Writes the lines to the file: the whole content goes to a new temporary file beside it,
    // which is flushed to disk and then renamed over the file, so a failure at any step leaves
    // the old file as it was. A store that was never loaded loads first (so a save never drops
    // what the file holds). 0 when no path is set, the load fails or the file could not be
    // replaced (last_save_error() names the step and the OS error); the lines and the modified
    // flag then stay for a later attempt. Clears the modified flag and returns 1 on success.
    int32_t Save() override;

    // Replaces the lines by those of the file `path`, which must exist and be readable; the
    // store counts as loaded and modified, so the next Save or Close writes them to this
    // store's own file. 1 on success, else 0 and nothing changed.
    int32_t ImportFile(const char16_t* path) override;

    // Saves when modified or `force` is set; 1 without writing otherwise.
    int32_t Flush(int32_t force) override;

    // Flush(0), then drops the lines, releases a held file and clears the modified and loaded
    // flags and the load status. Returns the Flush result.
    int32_t Close() override;

    // 1 when the file exists, can be opened for reading and, with `require_non_empty`, is not
    // empty; else 0.
    int32_t Exists(int32_t require_non_empty) override;

    // Whether the loaded file has a header for `section` (letter case ignored).
    int32_t HasSection(const char16_t* section) override;

    // Replaces the lines of `section` after its header by `entries` (texts each ended by a
    // NUL, the list by an empty text; at most kMaxSectionUnits units are taken). A missing
    // section is appended at the end; null entries remove the section with its header. 0 when
    // the store cannot be loaded, else 1 and modified.
    int32_t WriteSection(const char16_t* section, const char16_t* entries,
                         const char16_t* location) override;

    // Zero-fills `buffer`, then copies the lines of `section` after its header, each followed
    // by a NUL, as long as they fit with room for the final NUL. Returns the units copied less
    // one (0 when none or the section is missing).
    int32_t ReadSection(const char16_t* section, char16_t* buffer, int32_t capacity,
                        const char16_t* location) override;

    // Sets "key=value" (a null value is empty): the key's line is replaced, or the line goes
    // after the section's last line, or a new section with the line is appended at the end.
    // Values are stored verbatim. 0 when the store cannot be loaded or the section or key is
    // null; else 1 and modified.
    int32_t WriteStringRaw(const char16_t* section, const char16_t* key, const char16_t* value,
                           const char16_t* location) override;

    // Copies the key's value, or `default_value` when the section or key is missing (or, with
    // the empty-is-default option, the value is empty), into `buffer` through
    // kem::settings::CopyTextBounded. Returns the length in the buffer; 0 for capacity < 1.
    int32_t ReadStringRaw(const char16_t* section, const char16_t* key,
                          const char16_t* default_value, char16_t* buffer, int32_t capacity,
                          const char16_t* location) override;

    // Copies the key of the first line of `section` whose value equals `value` (letter case
    // ignored), or the default, into the zero-filled buffer; returns its length.
    int32_t FindKeyOfValue(const char16_t* section, const char16_t* value,
                           const char16_t* default_value, char16_t* buffer, int32_t capacity,
                           const char16_t* location) override;

    // What the last Load found; see ProfileLoadStatus.
    ProfileLoadStatus load_status() const { return m_loadStatus; }
    // Why the last Load found the file unreadable (step kNone otherwise).
    const kem::platform::FileError& last_load_error() const { return m_loadError; }
    // Why the last Save failed (step kNone after a successful one).
    const kem::platform::FileError& last_save_error() const { return m_saveError; }

    const std::u16string& path() const { return m_strFilePath; }
    // The lines held, without line ends. For tests and diagnostics.
    const std::vector<std::u16string>& lines() const { return m_lines; }

private:
    // Closes and switches when `location` names another file.
    void SwitchTo(const char16_t* location);

    std::u16string m_strFilePath;
    kem::platform::HeldFile m_hFile;
    std::vector<std::u16string> m_lines;
    ProfileLoadStatus m_loadStatus = ProfileLoadStatus::kNotLoaded;
    kem::platform::FileError m_loadError;
    kem::platform::FileError m_saveError;
};

namespace kem::settings {

// The lines of a configuration file's bytes: an optional scrambled form (FE 01 key), then the
// encoding by byte-order mark, split at line feeds (a CR before the LF removed), up to the
// first NUL. `key` receives the scramble key (unchanged when the file is not scrambled). Pure.
std::vector<std::u16string> ParseConfigurationBytes(std::string_view bytes, uint8_t* key);

// The bytes of a configuration file holding `lines`: UTF-8 with a byte-order mark, every line
// followed by CR LF; nothing at all for no lines. With `scramble`, FE 01 `key` first and every
// later byte combined with `key` by exclusive or. Pure.
std::string EncodeConfigurationLines(const std::vector<std::u16string>& lines, bool scramble,
                                     uint8_t key);

}  // namespace kem::settings
