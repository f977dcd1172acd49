// The byte-stream filter protocol: bytes go in, what can be converted goes to the output
// buffer, and a table of named parameters configures the conversion.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "encoding/filter_buffer.h"

// Results of the filter operations; the values are the Windows error numbers the filters
// have always reported, so callers that log them keep their meaning.
enum class FilterStatus : uint32_t {
    kOk = 0,
    kAccessDenied = 5,        // the parameter may not be written
    kNotEnoughMemory = 8,     // a value too long for its place, or no memory
    kInvalidParameter = 87,   // a null argument or a value of the wrong size
    kBufferOverflow = 111,    // output remains after Output filled the destination
    kInternalError = 1359,    // a broken parameter descriptor or an unknown type
    kUnknownProperty = 1608,  // no parameter of that name
};

// Parameter value types.
constexpr uint32_t kFilterParamInt32 = 0;  // 0, 1 and 2 are all one 32-bit value
constexpr uint32_t kFilterParamBool32 = 1;
constexpr uint32_t kFilterParamUInt32 = 2;
constexpr uint32_t kFilterParamText8 = 3;   // zero-terminated 8-bit text
constexpr uint32_t kFilterParamText16 = 4;  // zero-terminated UTF-16 text (4 and 5)
constexpr uint32_t kFilterParamText16b = 5;
constexpr uint32_t kFilterParamCustomFirst = 0x0F000000;  // private to one filter
constexpr uint32_t kFilterParamCustomLast = 0x0FFFFFFF;

// Flag bit 0: the parameter may be written.
constexpr uint32_t kFilterParamWritable = 1;

// One named parameter; `value` points into the filter that owns the table.
struct FilterParam {
    const char16_t* name = nullptr;  // matched without regard to ASCII case
    uint32_t type = 0;
    uint32_t flags = 0;
    void* value = nullptr;
    uint32_t size = 0;  // texts: bytes available including the terminator
    const char16_t* description = nullptr;
};

// The base filter copies its input to its output unchanged. Derived filters override Convert
// (and, when they have parameters, GetParamTable). A filter is used by one thread at a time;
// its buffers may be read by another thread under their locks.
class CKemFilterBaseClass {
public:
    CKemFilterBaseClass();
    virtual ~CKemFilterBaseClass();
    CKemFilterBaseClass(const CKemFilterBaseClass&) = delete;
    CKemFilterBaseClass& operator=(const CKemFilterBaseClass&) = delete;

    // Marks the filter open; 1.
    virtual uint32_t Open();

    // Frees both buffer blocks and the parameter table, clears the open flag; 1.
    virtual uint32_t Release();

    // 0: the forward conversion the name describes; non-zero: the reverse one. A new value
    // resets the buffers first.
    virtual void SetDirection(uint32_t direction);

    // Empties both buffers, each under its lock; 1.
    virtual uint32_t ResetBuffers();

    // Appends `length` bytes to the input buffer and converts. With a next filter, the whole
    // output is handed on and the output buffer emptied. Bytes that do not fit the input
    // buffer are dropped. Always kOk for the base; converters may report their failure.
    virtual FilterStatus Input(const void* bytes, uint32_t length);

    // Converts what the input buffer holds into the output buffer and removes the input used.
    // The base moves every byte unchanged.
    virtual FilterStatus Convert();

    // Moves up to `capacity` bytes from the output buffer to `destination` and stores their
    // number in `*count` (when not null). kBufferOverflow when bytes remain, else kOk; a null
    // destination takes nothing and gives kOk.
    virtual FilterStatus Output(void* destination, uint32_t capacity, uint32_t* count);

    // The buffers; a container may have none to offer (null).
    virtual FilterBuffer* GetInputBuffer();
    virtual FilterBuffer* GetOutputBuffer();

    // Finds the parameter by name and writes / reads it (see AccessParam).
    virtual FilterStatus SetParam(const char16_t* name, const void* value, int32_t length);
    virtual FilterStatus GetParam(const char16_t* name, void* value, int32_t length);

    // The parameter table of this filter (none in the base); kOk.
    virtual FilterStatus GetParamTable(const FilterParam** table, uint32_t* count);

    // Copies the entry named `name` (ASCII case ignored) to `*found`. kUnknownProperty when
    // the table is empty or has no such name; kInternalError for a null `found`.
    virtual FilterStatus FindParam(FilterParam* found, const char16_t* name);

    // Reads (`write` false) or writes a parameter through its descriptor. 32-bit values need
    // a buffer of at least 4 bytes. Texts: reading needs a buffer longer than the text and
    // receives it zero-terminated; writing takes `length` bytes (negative: the text up to and
    // including its terminator), which must fit the parameter's size with a terminator.
    virtual FilterStatus AccessParam(const FilterParam* param, bool write, void* value,
                                     int32_t length);

    // Parameters of a type private to the filter; the base knows none.
    virtual FilterStatus AccessCustomParam(const FilterParam* param, bool write, void* value,
                                           int32_t length);

    // The filter's name, its direction and whether Open was called.
    const char16_t* name() const { return m_pszName; }
    uint32_t direction() const { return m_dwDirection; }
    bool is_open() const { return m_bOpen != 0; }
    // The filter Input hands converted output to (null: output stays in this filter).
    CKemFilterBaseClass* next() const { return m_pNext; }
    void set_next(CKemFilterBaseClass* next) { m_pNext = next; }

protected:
    // Hands out m_params (null and 0 when empty); for GetParamTable overrides, which fill
    // m_params on first request. kOk.
    FilterStatus PublishParamTable(const FilterParam** table, uint32_t* count) const;

    const char16_t* m_pszName = u"Filter_Base";
    CKemFilterBaseClass* m_pNext = nullptr;
    uint32_t m_bOpen = 0;
    FilterBuffer m_bufInput;
    FilterBuffer m_bufOutput;
    uint32_t m_dwDirection = 0;
    std::vector<FilterParam> m_params;
};
