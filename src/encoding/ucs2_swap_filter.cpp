#include "encoding/ucs2_swap_filter.h"

#include <new>
#include <string>

CKemFilterUCS2BEToLE::CKemFilterUCS2BEToLE() {
    // The misspelling is the name this filter has always carried.
    m_pszName = u"Filter_In_Unicdoe1.0BigEndian_Out_Unicode1.0LittleEndian";
}

FilterStatus CKemFilterUCS2BEToLE::Convert() {
    kem::platform::CriticalSectionLock hold(m_bufInput.lock());
    const uint8_t* in = m_bufInput.data();
    const size_t pairs = m_bufInput.size() / 2;
    if (pairs == 0) {
        return FilterStatus::kOk;
    }
    std::string out;
    try {
        out.resize(pairs * 2);
    } catch (const std::bad_alloc&) {
        return FilterStatus::kNotEnoughMemory;
    }
    for (size_t i = 0; i < pairs; ++i) {
        out[2 * i] = static_cast<char>(in[2 * i + 1]);
        out[2 * i + 1] = static_cast<char>(in[2 * i]);
    }
    if (!m_bufOutput.Append(out.data(), out.size())) {
        return FilterStatus::kNotEnoughMemory;
    }
    m_bufInput.Consume(pairs * 2);
    return FilterStatus::kOk;
}
