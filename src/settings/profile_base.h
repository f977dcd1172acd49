// The base of every settings store: named text values addressed by section and key, the
// typed value codecs that every store shares, the schema parser and the binding of a whole
// packed memory record to a store through a schema.
//
// Texts are UTF-16 and zero-terminated; a null text means "none" (a null location: the
// store's current location; a null default: the empty text). Buffer capacities count UTF-16
// units (bytes for 8-bit buffers) and include the terminator. Results are 1 for success and 0
// for failure unless stated otherwise. A store is used from one thread at a time.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "settings/date_time.h"
#include "settings/schema.h"

namespace kem::settings {

// Copies `text` into `buffer` up to its first NUL, at most `capacity` - 1 units, always
// terminated. A text that does not fit is cut at a character boundary: never between the two
// units of a surrogate pair. Returns the number of units copied (0 and nothing written when
// `buffer` is null or `capacity` < 1). Every store copies texts out through this. Pure.
int32_t CopyTextBounded(char16_t* buffer, int32_t capacity, std::u16string_view text);

// As CopyTextBounded for 8-bit ANSI text: the UTF-16 `text` is converted with the ANSI code
// page and cut before the first character whose bytes do not fit. The buffer is zero-filled
// first. Returns the number of bytes copied.
int32_t CopyTextBoundedAnsi(char* buffer, int32_t capacity, std::u16string_view text);

// Length of a zero-terminated text, 0 for null.
size_t TextLength(const char16_t* text);

}  // namespace kem::settings

class CKemProfileBaseClass {
public:
    // Capacity of the buffers behind GetString and GetKeyOfValue.
    static constexpr int32_t kStringObjectUnits = 16384;
    // Capacity of the buffer the scalar readers read into; scalar texts are at most 127 units.
    static constexpr int32_t kScalarUnits = 128;

    CKemProfileBaseClass() = default;
    // Clears the modified and loaded flags. A store that holds content must close (and so
    // save) in its own destructor: this one cannot reach the derived part.
    virtual ~CKemProfileBaseClass();
    CKemProfileBaseClass(const CKemProfileBaseClass&) = delete;
    CKemProfileBaseClass& operator=(const CKemProfileBaseClass&) = delete;

    // ---- store primitives; a store overrides those it supports ----

    // Binds the store to `path` (a file path or a registry key path); `create` asks for the
    // location to be created. Base: 0.
    virtual int32_t SetLocation(const char16_t* path, int32_t create);
    // Brings the content into memory. Base: sets the loaded flag, 1.
    virtual int32_t Load();
    // Writes held content out. Base: clears the modified flag, 1.
    virtual int32_t Save();
    // Replaces the content by that of the file `path`. Base: 0.
    virtual int32_t ImportFile(const char16_t* path);
    // Saves when modified, or always with `force`. Base: 1.
    virtual int32_t Flush(int32_t force);
    // Close, then clears the five option fields. Returns 0.
    virtual int32_t Reset();
    // Saves when the store needs it, then clears the modified and loaded flags. Base: 1.
    virtual int32_t Close();
    // The loaded and the modified flag.
    virtual int32_t IsLoaded();
    virtual int32_t IsModified();
    // Whether the location exists (and, with `require_non_empty`, holds something). Base: 1.
    virtual int32_t Exists(int32_t require_non_empty);
    // Whether `section` exists in the loaded content. Base: 0.
    virtual int32_t HasSection(const char16_t* section);
    // Kept free for a later operation. Returns 0.
    virtual int32_t Reserved();
    // Set a flag, return the value set.
    virtual int32_t SetLoaded(int32_t value);
    virtual int32_t SetModified(int32_t value);
    // Whether `section` exists at `location` (`value_name` is ignored). Base: 0.
    virtual int32_t SectionExists(const char16_t* section, const char16_t* value_name,
                                  const char16_t* location);
    // Deletes one value, one section with everything below it, or the whole location. Base: 0.
    virtual int32_t DeleteValue(const char16_t* section, const char16_t* key,
                                const char16_t* location);
    virtual int32_t DeleteSection(const char16_t* section, const char16_t* location);
    virtual int32_t DeleteAll(const char16_t* location);
    // Names of the sections, or of the keys of `section`, appended to `*out` after clearing
    // it (a null `out` only counts). Returns the number of names. Base: clears, 0.
    virtual int32_t EnumSections(std::vector<std::u16string>* out, const char16_t* location);
    virtual int32_t EnumKeys(const char16_t* section, std::vector<std::u16string>* out,
                             const char16_t* location);
    // Replaces the lines of `section` by `entries`: texts each ended by a NUL, the list ended
    // by an empty text; null removes the section. Base: 0.
    virtual int32_t WriteSection(const char16_t* section, const char16_t* entries,
                                 const char16_t* location);
    // Copies the lines of `section`, each followed by a NUL, into the zero-filled buffer.
    // Returns the units copied less one (0 when none). Base: 0.
    virtual int32_t ReadSection(const char16_t* section, char16_t* buffer, int32_t capacity,
                                const char16_t* location);
    // Stores one text value (a null value is the empty text). Base: sets modified, 1.
    virtual int32_t WriteStringRaw(const char16_t* section, const char16_t* key,
                                   const char16_t* value, const char16_t* location);
    // Copies the value, or `default_value` when there is none, into `buffer` through
    // CopyTextBounded; returns the length of the text now in the buffer. Base: 0.
    virtual int32_t ReadStringRaw(const char16_t* section, const char16_t* key,
                                  const char16_t* default_value, char16_t* buffer, int32_t capacity,
                                  const char16_t* location);
    // Forwards to WriteStringRaw.
    virtual int32_t WriteStringW(const char16_t* section, const char16_t* key,
                                 const char16_t* value, const char16_t* location);
    // Converts the 8-bit ANSI `value` to UTF-16 and forwards to WriteStringW.
    virtual int32_t WriteStringA(const char16_t* section, const char16_t* key, const char* value,
                                 const char16_t* location);
    // Forwards to WriteStringW (the build's character type is UTF-16).
    virtual int32_t WriteString(const char16_t* section, const char16_t* key, const char16_t* value,
                                const char16_t* location);
    // The value (or the default) as a string object, read through a 16384-unit buffer.
    virtual std::u16string GetString(const char16_t* section, const char16_t* key,
                                     const char16_t* default_value, const char16_t* location);
    // Forwards to ReadStringRaw; returns the length of the text in `buffer`.
    virtual int32_t ReadStringW(const char16_t* section, const char16_t* key,
                                const char16_t* default_value, char16_t* buffer, int32_t capacity,
                                const char16_t* location);
    // ReadStringW with the default converted from, and the result converted to, the ANSI code
    // page; `capacity` counts bytes. Returns the length in bytes of the 8-bit result.
    virtual int32_t ReadStringA(const char16_t* section, const char16_t* key,
                                const char* default_value, char* buffer, int32_t capacity,
                                const char16_t* location);
    // Forwards to ReadStringW.
    virtual int32_t ReadString(const char16_t* section, const char16_t* key,
                               const char16_t* default_value, char16_t* buffer, int32_t capacity,
                               const char16_t* location);
    // The key whose value is `value` (or the default), through a 16384-unit buffer.
    virtual std::u16string GetKeyOfValue(const char16_t* section, const char16_t* value,
                                         const char16_t* default_value, const char16_t* location);
    // Copies the first key of `section` whose value is `value`, or the default, into the
    // buffer; returns its length. Base: 0.
    virtual int32_t FindKeyOfValue(const char16_t* section, const char16_t* value,
                                   const char16_t* default_value, char16_t* buffer,
                                   int32_t capacity, const char16_t* location);

    // ---- typed value codecs, the same text forms for every store ----
    // Writers format the value (at most 127 units) and return WriteStringW's result. Readers
    // read at most 127 units and return `default_value` when the value is missing or empty;
    // they never fail.

    // "%d"; decimal to 32-bit signed, saturating, leading blanks and a sign allowed.
    virtual int32_t WriteInt(const char16_t* section, const char16_t* key, int32_t value,
                             const char16_t* location);
    virtual int32_t ReadInt(const char16_t* section, const char16_t* key, int32_t default_value,
                            const char16_t* location);
    // "%u"; decimal to 64-bit signed (saturating), low 32 bits kept.
    virtual int32_t WriteUInt(const char16_t* section, const char16_t* key, uint32_t value,
                              const char16_t* location);
    virtual uint32_t ReadUInt(const char16_t* section, const char16_t* key, uint32_t default_value,
                              const char16_t* location);
    // 64-bit decimal; the reader saturates at the signed limits, also for ReadUInt64.
    virtual int32_t WriteInt64(const char16_t* section, const char16_t* key, int64_t value,
                               const char16_t* location);
    virtual int64_t ReadInt64(const char16_t* section, const char16_t* key, int64_t default_value,
                              const char16_t* location);
    virtual int32_t WriteUInt64(const char16_t* section, const char16_t* key, uint64_t value,
                                const char16_t* location);
    virtual uint64_t ReadUInt64(const char16_t* section, const char16_t* key,
                                uint64_t default_value, const char16_t* location);
    // As WriteUInt / ReadUInt; the registry store keeps a native 32-bit value instead.
    virtual int32_t WriteDword(const char16_t* section, const char16_t* key, uint32_t value,
                               const char16_t* location);
    virtual uint32_t ReadDword(const char16_t* section, const char16_t* key, uint32_t default_value,
                               const char16_t* location);
    // "0x" and upper-case hexadecimal; the reader skips "0x"/"0X" (default when no digit).
    virtual int32_t WriteHex(const char16_t* section, const char16_t* key, uint32_t value,
                             const char16_t* location);
    virtual uint32_t ReadHex(const char16_t* section, const char16_t* key, uint32_t default_value,
                             const char16_t* location);
    // "true" for non-zero, "false" for 0; reads 1 only for "true" in any case, else 0.
    virtual int32_t WriteBool(const char16_t* section, const char16_t* key, int32_t value,
                              const char16_t* location);
    virtual int32_t ReadBool(const char16_t* section, const char16_t* key, int32_t default_value,
                             const char16_t* location);
    // "%.16e" with a three-digit exponent (1.5000000000000000e+000), independent of the
    // locale; the reader takes any decimal floating-point text (0 when none).
    virtual int32_t WriteDouble(const char16_t* section, const char16_t* key, double value,
                                const char16_t* location);
    virtual double ReadDouble(const char16_t* section, const char16_t* key, double default_value,
                              const char16_t* location);
    // `length` bytes as upper-case hexadecimal pairs, with `check` one more pair: their sum
    // modulo 256.
    virtual int32_t WriteBytes(const char16_t* section, const char16_t* key, const void* bytes,
                               int32_t length, const char16_t* location, int32_t check);
    // With `destination`: reads `*length` bytes and returns 1; 0 with `*length` = 0 and the
    // destination untouched when nothing was read; 0 with the destination zeroed when the
    // check pair disagrees. Without: `*length` = bytes the value holds, result 0.
    virtual int32_t ReadBytes(const char16_t* section, const char16_t* key, void* destination,
                              int32_t* length, const char16_t* location, int32_t check);
    // "0x" and at least eight upper-case hexadecimal digits; the reader accepts an optional
    // "0x"/"0X" prefix and gives the default when no digit follows.
    virtual int32_t WritePointer(const char16_t* section, const char16_t* key, uint64_t value,
                                 const char16_t* location);
    virtual uint64_t ReadPointer(const char16_t* section, const char16_t* key,
                                 uint64_t default_value, const char16_t* location);
    // "%Y-%m-%d %H:%M:%S"; 0 without writing when the value is invalid or out of range.
    virtual int32_t WriteDateTime(const char16_t* section, const char16_t* key, DateTimeValue value,
                                  const char16_t* location);
    // ReadDateTimeText with the default formatted as WriteDateTime writes it.
    virtual DateTimeValue ReadDateTime(const char16_t* section, const char16_t* key,
                                       DateTimeValue default_value, const char16_t* location);
    // The value (or `default_text` when empty) parsed by ParseDateTimeText; status valid, day
    // count 0 for a text that cannot be parsed, -1 for one out of range.
    virtual DateTimeValue ReadDateTimeText(const char16_t* section, const char16_t* key,
                                           const char16_t* default_text, const char16_t* location);
    // ReadDateTimeText keeping only the date part, or only the time part (day 0).
    virtual DateTimeValue ReadDate(const char16_t* section, const char16_t* key,
                                   const char16_t* default_text, const char16_t* location);
    virtual DateTimeValue ReadTime(const char16_t* section, const char16_t* key,
                                   const char16_t* default_text, const char16_t* location);
    // ReadDate / ReadTime expanded with the strftime-style `format`.
    virtual std::u16string FormatDate(const char16_t* section, const char16_t* key,
                                      const char16_t* default_text, const char16_t* format,
                                      const char16_t* location);
    virtual std::u16string FormatTime(const char16_t* section, const char16_t* key,
                                      const char16_t* default_text, const char16_t* format,
                                      const char16_t* location);

    // ---- schema and structure binding ----

    // See kem::settings::ParseSchema and FreeSchema (settings/schema.h).
    virtual int32_t ParseSchema(SchemaField** out, const char16_t* schema,
                                const char16_t* item_separator, const char16_t* field_separator,
                                const char16_t* open_brace, const char16_t* close_brace);
    virtual void FreeSchema(SchemaField** fields, int32_t count);
    // Writes, or reads, the packed record at `record` laid out by `schema`: top-level values
    // go to `section`, nested structures to sections "<section>_<name>". -1 when `record` or
    // `schema` is null, the schema is unusable as a whole (too deep, too large) or, saving, a
    // store write failed; 0 when it has no item; else the number of record bytes processed. No
    // access lies outside the size the schema itself describes. See settings/structure.h.
    virtual int32_t SaveStruct(const char16_t* section, const void* record, const char16_t* schema,
                               const char16_t* location, const char16_t* item_separator,
                               const char16_t* field_separator, const char16_t* open_brace,
                               const char16_t* close_brace);
    virtual int32_t LoadStruct(const char16_t* section, void* record, const char16_t* schema,
                               const char16_t* location, const char16_t* item_separator,
                               const char16_t* field_separator, const char16_t* open_brace,
                               const char16_t* close_brace);

    // ---- options, set by the embedding code (all off by default) ----
    int32_t keep_open() const { return m_bKeepOpen; }
    void set_keep_open(int32_t value) { m_bKeepOpen = value; }
    int32_t scramble() const { return m_bScramble; }
    void set_scramble(int32_t value) { m_bScramble = value; }
    uint8_t scramble_key() const { return m_byScrambleKey; }
    void set_scramble_key(uint8_t value) { m_byScrambleKey = value; }
    int32_t safe_save() const { return m_bSafeSave; }
    void set_safe_save(int32_t value) { m_bSafeSave = value; }
    int32_t empty_is_default() const { return m_bEmptyIsDefault; }
    void set_empty_is_default(int32_t value) { m_bEmptyIsDefault = value; }

protected:
    int32_t m_bLoaded = 0;          // content is in memory
    int32_t m_bModified = 0;        // written since the last save
    int32_t m_bKeepOpen = 0;        // text store: hold the file open, unshared
    int32_t m_bScramble = 0;        // text store: write the scrambled form
    uint8_t m_byScrambleKey = 0;    // text store: key of the scrambled form
    int32_t m_bSafeSave = 0;        // text store: save through "<path>.saf"
    int32_t m_bEmptyIsDefault = 0;  // text store: an empty value reads as the default
};
