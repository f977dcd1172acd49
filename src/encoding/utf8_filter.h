// UTF-8 to UTF-16 little-endian (direction 0) and back (direction 1). Output units are always
// two bytes wide; the four-byte unit form its name also announces is never used here.
#pragma once

#include <cstdint>

#include "encoding/filter_base.h"

class CKemFilterUTF8ToUCS : public CKemFilterBaseClass {
public:
    CKemFilterUTF8ToUCS();

    // Direction 0: decodes the input. Sequences of one to three bytes become one unit (overlong
    // forms and encoded surrogates decode to the value their bits give); a four-byte sequence
    // for U+10000..U+10FFFF becomes a surrogate pair; other four-, five- and six-byte sequences
    // and stray bytes are dropped; a lead byte followed by a byte that does not continue it is
    // dropped together with that byte. A sequence cut off at the end of the input stays in the
    // input buffer until the rest arrives.
    // Direction 1: encodes whole units; a surrogate pair becomes one four-byte sequence, a lone
    // surrogate three bytes. An odd byte, or a high surrogate whose partner has not arrived,
    // stays in the input buffer.
    // kNotEnoughMemory (both buffers unchanged) when the output cannot grow.
    FilterStatus Convert() override;

private:
    FilterStatus Decode();
    FilterStatus Encode();
};

namespace kem::encoding {

// What some bytes without a byte-order mark say about being UTF-8.
enum class Utf8Verdict {
    kUtf8,     // at least one multi-byte sequence and nothing that is not strict UTF-8
    kNotUtf8,  // a byte or sequence strict UTF-8 does not allow
    kUnsure,   // nothing but ASCII and possibly one sequence cut off at the end
};

// Judges `bytes` by strict UTF-8 rules (no overlong forms, no encoded surrogates, nothing
// above U+10FFFF); a sequence cut off at the very end counts as valid so far. Pure.
Utf8Verdict JudgeUtf8(const uint8_t* bytes, size_t size);

}  // namespace kem::encoding
