// UTF-16 little-endian to the ANSI code page (direction 0) and back (direction 1). The code
// page is the platform's (kem::platform::AnsiCodePage): CP936 unless configured otherwise.
#pragma once

#include <cstdint>

#include "encoding/filter_base.h"

class CKemFilterUCS2ToANSI : public CKemFilterBaseClass {
public:
    CKemFilterUCS2ToANSI();

    // Direction 0: converts every whole unit; a character the code page cannot hold becomes
    // the "DefaultChar" text (the code page's '?' while that is empty), and with
    // "UseDefaultChar" set, "UsedDefaultChar" tells whether that happened in this call. An odd
    // byte, or a high surrogate whose partner has not arrived, waits in the input.
    // Direction 1: converts the input bytes; a double-byte character whose second byte has not
    // arrived waits in the input. Invalid sequences become '?'.
    // kNotEnoughMemory (both buffers unchanged) when memory runs out.
    FilterStatus Convert() override;

    // Also clears "UsedDefaultChar"; 1.
    uint32_t ResetBuffers() override;

    // "UseDefaultChar" (32-bit, writable), "UsedDefaultChar" (32-bit, read-only) and
    // "DefaultChar" (8-bit text of up to 31 bytes, writable), in this order.
    FilterStatus GetParamTable(const FilterParam** table, uint32_t* count) override;

private:
    FilterStatus ToAnsi();
    FilterStatus FromAnsi();

    uint32_t m_bUseDefaultChar = 1;
    uint32_t m_bUsedDefaultChar = 0;
    char m_szDefaultChar[32] = {};
};

namespace kem::encoding {

// How many leading bytes of `bytes` (ANSI code page) end on a whole character: a lead byte of
// a double-byte character at the very end is left out. Any thread.
size_t AnsiCompletePrefix(const uint8_t* bytes, size_t size);

}  // namespace kem::encoding
