#include "encoding/utf8_filter.h"

#include <algorithm>
#include <new>
#include <string>

namespace kem::encoding {
namespace {

// Bytes that follow a lead byte: 1..5, 0 for an ASCII byte, -1 for a byte that cannot begin a
// sequence (a continuation byte, FE, FF).
int FollowerCount(uint8_t lead) {
    if (lead < 0x80) {
        return 0;
    }
    if ((lead & 0xE0) == 0xC0) {
        return 1;
    }
    if ((lead & 0xF0) == 0xE0) {
        return 2;
    }
    if ((lead & 0xF8) == 0xF0) {
        return 3;
    }
    if ((lead & 0xFC) == 0xF8) {
        return 4;
    }
    if ((lead & 0xFE) == 0xFC) {
        return 5;
    }
    return -1;
}

bool IsContinuation(uint8_t b) {
    return (b & 0xC0) == 0x80;
}

void PutUnit(std::string& out, uint32_t unit) {
    out.push_back(static_cast<char>(unit & 0xFF));
    out.push_back(static_cast<char>((unit >> 8) & 0xFF));
}

}  // namespace

Utf8Verdict JudgeUtf8(const uint8_t* bytes, size_t size) {
    size_t sequences = 0;
    size_t i = 0;
    while (i < size) {
        const uint8_t lead = bytes[i];
        if (lead < 0x80) {
            ++i;
            continue;
        }
        // The allowed range of the second byte narrows for E0, ED, F0 and F4.
        size_t followers = 0;
        uint8_t low = 0x80;
        uint8_t high = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) {
            followers = 1;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            followers = 2;
            low = lead == 0xE0 ? 0xA0 : 0x80;
            high = lead == 0xED ? 0x9F : 0xBF;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            followers = 3;
            low = lead == 0xF0 ? 0x90 : 0x80;
            high = lead == 0xF4 ? 0x8F : 0xBF;
        } else {
            return Utf8Verdict::kNotUtf8;
        }
        for (size_t k = 1; k <= followers; ++k) {
            if (i + k == size) {
                return sequences > 0 ? Utf8Verdict::kUtf8 : Utf8Verdict::kUnsure;
            }
            const uint8_t b = bytes[i + k];
            const bool fits = k == 1 ? (b >= low && b <= high) : IsContinuation(b);
            if (!fits) {
                return Utf8Verdict::kNotUtf8;
            }
        }
        ++sequences;
        i += followers + 1;
    }
    return sequences > 0 ? Utf8Verdict::kUtf8 : Utf8Verdict::kUnsure;
}

}  // namespace kem::encoding

CKemFilterUTF8ToUCS::CKemFilterUTF8ToUCS() {
    m_pszName = u"Filter_In_UTF-8_Out_Unicode1.0(UCS-2)/2.0(UCS-4)";
}

FilterStatus CKemFilterUTF8ToUCS::Convert() {
    return m_dwDirection == 0 ? Decode() : Encode();
}

FilterStatus CKemFilterUTF8ToUCS::Decode() {
    using kem::encoding::FollowerCount;
    using kem::encoding::IsContinuation;
    kem::platform::CriticalSectionLock hold(m_bufInput.lock());
    const uint8_t* in = m_bufInput.data();
    const size_t n = m_bufInput.size();
    if (n == 0) {
        return FilterStatus::kOk;
    }
    std::string out;
    try {
        out.reserve(n * 2);
    } catch (const std::bad_alloc&) {
        return FilterStatus::kNotEnoughMemory;
    }
    size_t i = 0;
    while (i < n) {
        const uint8_t lead = in[i];
        const int followers = FollowerCount(lead);
        if (followers == 0) {
            kem::encoding::PutUnit(out, lead);
            ++i;
            continue;
        }
        if (followers < 0) {
            ++i;
            continue;
        }
        const size_t present = n - i - 1;
        const size_t checked = std::min<size_t>(present, static_cast<size_t>(followers));
        bool broken = false;
        for (size_t k = 1; k <= checked; ++k) {
            broken = broken || !IsContinuation(in[i + k]);
        }
        if (broken) {
            // The lead and the byte after it go together, whatever that byte is.
            i += 2;
            continue;
        }
        if (present < static_cast<size_t>(followers)) {
            break;  // the rest of the sequence comes with the next input
        }
        const uint8_t* s = in + i;
        if (followers == 1) {
            kem::encoding::PutUnit(out, ((lead & 0x1Fu) << 6) | (s[1] & 0x3Fu));
        } else if (followers == 2) {
            kem::encoding::PutUnit(out,
                                   ((lead & 0x0Fu) << 12) | ((s[1] & 0x3Fu) << 6) | (s[2] & 0x3Fu));
        } else if (followers == 3) {
            const uint32_t code = ((lead & 0x07u) << 18) | ((s[1] & 0x3Fu) << 12) |
                                  ((s[2] & 0x3Fu) << 6) | (s[3] & 0x3Fu);
            // Only what a surrogate pair can hold; overlong and out-of-range forms are dropped.
            if (code >= 0x10000 && code <= 0x10FFFF) {
                const uint32_t v = code - 0x10000;
                kem::encoding::PutUnit(out, 0xD800 | (v >> 10));
                kem::encoding::PutUnit(out, 0xDC00 | (v & 0x3FF));
            }
        }
        i += static_cast<size_t>(followers) + 1;
    }
    if (!out.empty() && !m_bufOutput.Append(out.data(), out.size())) {
        return FilterStatus::kNotEnoughMemory;
    }
    m_bufInput.Consume(i);
    return FilterStatus::kOk;
}

FilterStatus CKemFilterUTF8ToUCS::Encode() {
    kem::platform::CriticalSectionLock hold(m_bufInput.lock());
    const uint8_t* in = m_bufInput.data();
    const size_t units = m_bufInput.size() / 2;
    if (units == 0) {
        return FilterStatus::kOk;
    }
    std::string out;
    try {
        out.reserve(units * 3);
    } catch (const std::bad_alloc&) {
        return FilterStatus::kNotEnoughMemory;
    }
    size_t u = 0;
    while (u < units) {
        const uint32_t c = in[2 * u] | (in[2 * u + 1] << 8);
        if (c >= 0xD800 && c <= 0xDBFF) {
            if (u + 1 == units) {
                break;  // its partner may come with the next input
            }
            const uint32_t low = in[2 * u + 2] | (in[2 * u + 3] << 8);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                const uint32_t code = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                out.push_back(static_cast<char>(0xF0 | (code >> 18)));
                out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
                out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
                out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
                u += 2;
                continue;
            }
        }
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
        ++u;
    }
    if (!out.empty() && !m_bufOutput.Append(out.data(), out.size())) {
        return FilterStatus::kNotEnoughMemory;
    }
    m_bufInput.Consume(u * 2);
    return FilterStatus::kOk;
}
