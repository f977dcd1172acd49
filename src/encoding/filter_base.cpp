#include "encoding/filter_base.h"

#include <cstring>

#include "platform/ascii_case.h"

namespace {

using kem::platform::AsciiLower;

bool EqualIgnoringAsciiCase(const char16_t* a, const char16_t* b) {
    for (;; ++a, ++b) {
        if (AsciiLower(*a) != AsciiLower(*b)) {
            return false;
        }
        if (*a == u'\0') {
            return true;
        }
    }
}

bool IsTextType(uint32_t type) {
    return type == kFilterParamText8 || type == kFilterParamText16 || type == kFilterParamText16b;
}

// Bytes of the text in `bytes` up to (not including) its terminator, looking at no more than
// `limit` bytes; `unit` is 1 for 8-bit and 2 for UTF-16 texts.
size_t TextBytes(const uint8_t* bytes, size_t limit, size_t unit) {
    size_t n = 0;
    while (n + unit <= limit) {
        bool zero = true;
        for (size_t i = 0; i < unit; ++i) {
            zero = zero && bytes[n + i] == 0;
        }
        if (zero) {
            break;
        }
        n += unit;
    }
    return n;
}

}  // namespace

CKemFilterBaseClass::CKemFilterBaseClass() = default;

CKemFilterBaseClass::~CKemFilterBaseClass() = default;

uint32_t CKemFilterBaseClass::Open() {
    m_bOpen = 1;
    return 1;
}

uint32_t CKemFilterBaseClass::Release() {
    m_bufInput.Release();
    m_bufOutput.Release();
    m_bOpen = 0;
    m_params.clear();
    m_params.shrink_to_fit();
    return 1;
}

void CKemFilterBaseClass::SetDirection(uint32_t direction) {
    if (direction != m_dwDirection) {
        ResetBuffers();
        m_dwDirection = direction;
    }
}

uint32_t CKemFilterBaseClass::ResetBuffers() {
    m_bufInput.Clear();
    m_bufOutput.Clear();
    return 1;
}

FilterStatus CKemFilterBaseClass::Input(const void* bytes, uint32_t length) {
    m_bufInput.Append(bytes, length);
    const FilterStatus status = Convert();
    if (m_pNext != nullptr) {
        kem::platform::CriticalSectionLock hold(m_bufOutput.lock());
        const size_t held = m_bufOutput.size();
        if (held > 0) {
            m_pNext->Input(m_bufOutput.data(), static_cast<uint32_t>(held));
        }
        m_bufOutput.Clear();
    }
    return status;
}

FilterStatus CKemFilterBaseClass::Convert() {
    kem::platform::CriticalSectionLock in(m_bufInput.lock());
    const size_t held = m_bufInput.size();
    if (held == 0) {
        return FilterStatus::kOk;
    }
    if (!m_bufOutput.Append(m_bufInput.data(), held)) {
        return FilterStatus::kNotEnoughMemory;
    }
    m_bufInput.Clear();
    return FilterStatus::kOk;
}

FilterStatus CKemFilterBaseClass::Output(void* destination, uint32_t capacity, uint32_t* count) {
    if (destination == nullptr) {
        if (count != nullptr) {
            *count = 0;
        }
        return FilterStatus::kOk;
    }
    kem::platform::CriticalSectionLock hold(m_bufOutput.lock());
    const size_t taken = m_bufOutput.Consume(capacity, destination);
    if (count != nullptr) {
        *count = static_cast<uint32_t>(taken);
    }
    return m_bufOutput.size() > 0 ? FilterStatus::kBufferOverflow : FilterStatus::kOk;
}

FilterBuffer* CKemFilterBaseClass::GetInputBuffer() {
    return &m_bufInput;
}

FilterBuffer* CKemFilterBaseClass::GetOutputBuffer() {
    return &m_bufOutput;
}

FilterStatus CKemFilterBaseClass::SetParam(const char16_t* name, const void* value,
                                           int32_t length) {
    FilterParam param;
    const FilterStatus found = FindParam(&param, name);
    if (found != FilterStatus::kOk) {
        return found;
    }
    // Writing never changes the caller's bytes; AccessParam takes one pointer for both ways.
    return AccessParam(&param, true, const_cast<void*>(value), length);
}

FilterStatus CKemFilterBaseClass::GetParam(const char16_t* name, void* value, int32_t length) {
    FilterParam param;
    const FilterStatus found = FindParam(&param, name);
    if (found != FilterStatus::kOk) {
        return found;
    }
    return AccessParam(&param, false, value, length);
}

FilterStatus CKemFilterBaseClass::GetParamTable(const FilterParam** table, uint32_t* count) {
    return PublishParamTable(table, count);
}

FilterStatus CKemFilterBaseClass::PublishParamTable(const FilterParam** table,
                                                    uint32_t* count) const {
    if (table != nullptr) {
        *table = m_params.empty() ? nullptr : m_params.data();
    }
    if (count != nullptr) {
        *count = static_cast<uint32_t>(m_params.size());
    }
    return FilterStatus::kOk;
}

FilterStatus CKemFilterBaseClass::FindParam(FilterParam* found, const char16_t* name) {
    const FilterParam* table = nullptr;
    uint32_t count = 0;
    GetParamTable(&table, &count);
    if (table == nullptr || count == 0) {
        return FilterStatus::kUnknownProperty;
    }
    if (found == nullptr) {
        return FilterStatus::kInternalError;
    }
    if (name == nullptr) {
        return FilterStatus::kUnknownProperty;
    }
    for (uint32_t i = 0; i < count; ++i) {
        if (table[i].name != nullptr && EqualIgnoringAsciiCase(table[i].name, name)) {
            *found = table[i];
            return FilterStatus::kOk;
        }
    }
    return FilterStatus::kUnknownProperty;
}

FilterStatus CKemFilterBaseClass::AccessParam(const FilterParam* param, bool write, void* value,
                                              int32_t length) {
    if (param == nullptr || value == nullptr) {
        return FilterStatus::kInvalidParameter;
    }
    if (param->type >= kFilterParamCustomFirst && param->type <= kFilterParamCustomLast) {
        return AccessCustomParam(param, write, value, length);
    }
    if (param->value == nullptr) {
        return FilterStatus::kInternalError;
    }
    if (write && (param->flags & kFilterParamWritable) == 0) {
        return FilterStatus::kAccessDenied;
    }
    if (param->type <= kFilterParamUInt32) {
        if (length >= 0 && length < 4) {
            return FilterStatus::kInvalidParameter;
        }
        if (write) {
            std::memcpy(param->value, value, 4);
        } else {
            std::memcpy(value, param->value, 4);
        }
        return FilterStatus::kOk;
    }
    if (!IsTextType(param->type)) {
        return FilterStatus::kInternalError;
    }
    const size_t unit = param->type == kFilterParamText8 ? 1 : 2;
    const auto* stored = static_cast<const uint8_t*>(param->value);
    if (!write) {
        if (length < 1) {
            return FilterStatus::kInternalError;
        }
        const size_t text = TextBytes(stored, param->size, unit);
        if (static_cast<size_t>(length) < text + unit) {
            return FilterStatus::kNotEnoughMemory;
        }
        std::memset(value, 0, static_cast<size_t>(length));
        std::memcpy(value, stored, text);
        return FilterStatus::kOk;
    }
    const auto* given = static_cast<const uint8_t*>(value);
    size_t bytes = 0;
    if (length < 0) {
        // The caller's own text: its length up to the terminator. Bounded by the parameter's
        // size plus one unit, since anything longer is refused anyway.
        bytes = TextBytes(given, static_cast<size_t>(param->size) + unit, unit) + unit;
    } else {
        bytes = static_cast<size_t>(length);
    }
    if (bytes > param->size) {
        return FilterStatus::kNotEnoughMemory;
    }
    // The stored value must stay terminated: a text that fills the whole size needs its
    // terminator among the given bytes.
    const size_t text = TextBytes(given, bytes, unit);
    if (text + unit > param->size) {
        return FilterStatus::kNotEnoughMemory;
    }
    std::memset(param->value, 0, param->size);
    std::memcpy(param->value, given, text);
    return FilterStatus::kOk;
}

FilterStatus CKemFilterBaseClass::AccessCustomParam(const FilterParam*, bool, void*, int32_t) {
    return FilterStatus::kUnknownProperty;
}
