// The code-page selector: decides the encoding of a byte stream by its byte-order mark and
// decodes it to UTF-16 little-endian (direction 0), or encodes UTF-16 little-endian text into
// the encoding "OutputCodeType" names, mark first (direction 1).
#pragma once

#include <cstdint>

#include "encoding/ansi_filter.h"
#include "encoding/filter_container.h"
#include "encoding/ucs2_swap_filter.h"
#include "encoding/utf8_filter.h"

// Values of "OutputCodeType"; any other value counts as kOutputUtf16Le.
constexpr int32_t kOutputAnsi = 1;      // the ANSI code page, no mark
constexpr int32_t kOutputUtf16Le = 2;   // FF FE
constexpr int32_t kOutputUtf16Be = 3;   // FE FF
constexpr int32_t kOutputUtf8 = 4;      // EF BB BF
constexpr int32_t kOutputUtf8Also = 5;  // the same as 4

class CKemFilterContainerCPSelecter : public CKemFilterContainer {
public:
    CKemFilterContainerCPSelecter();

    // Resets all inner filters and the container's buffers; the route is open again. 1.
    uint32_t ResetBuffers() override;

    // The first call that can tell the route decides it; all input then goes that way.
    // Direction 0 looks at the first bytes: FE FF UTF-16 big-endian, FF FE UTF-16
    // little-endian, EF BB BF UTF-8 (each mark removed). While the bytes seen could still be
    // the start of a mark (FE, FF, EF, EF BB) nothing is decided and they are kept. Text
    // without a mark is UTF-8 when its first non-ASCII bytes are strict UTF-8 (a multi-byte
    // sequence and nothing invalid in what has arrived), else the ANSI code page; ASCII before
    // that passes to the output undecided. Direction 1 decides on the first call by
    // "OutputCodeType" and puts the mark into the output first. Returns the inner filter's
    // result; kOk while undecided.
    FilterStatus Input(const void* bytes, uint32_t length) override;

    // Takes converted bytes from the chosen filter (see CKemFilterBaseClass::Output); before a
    // route is chosen, the ASCII text passed on so far.
    FilterStatus Output(void* destination, uint32_t capacity, uint32_t* count) override;

    // One parameter: "OutputCodeType" (32-bit, writable).
    FilterStatus GetParamTable(const FilterParam** table, uint32_t* count) override;

    bool decided() const { return m_bDecided != 0; }

private:
    // Makes `filter` (in `direction`) the current route and marks the route decided.
    void Choose(CKemFilterBaseClass* filter, uint32_t direction);
    // Direction 1: picks the route by "OutputCodeType", puts the mark out, converts.
    FilterStatus StartEncoding(const void* bytes, uint32_t length);
    // Direction 0 while undecided: collects bytes until the route can be told, then converts.
    FilterStatus Decode(const void* bytes, uint32_t length);
    // The route a byte-order mark at the start of the input names (the mark removed); null
    // without one, with `*wait` set when more bytes could still complete a mark. Input lock held.
    CKemFilterBaseClass* RouteByMark(bool* wait);
    // Without a mark: passes leading ASCII on, then UTF-8 or ANSI by the bytes after it; null
    // while that cannot be told yet. Input lock held.
    CKemFilterBaseClass* RouteByContent();

    CKemFilterBaseClass m_filterPlain;
    CKemFilterUCS2ToANSI m_filterAnsi;
    CKemFilterUTF8ToUCS m_filterUtf8;
    CKemFilterUCS2BEToLE m_filterSwap;
    uint32_t m_bDecided = 0;
    uint32_t m_bPassedText = 0;  // text without a mark has begun; no mark can follow
    int32_t m_nOutputCodeType = 0;
};
