#include "encoding/cp_selecter.h"

#include <cstring>
#include <string>

namespace {

constexpr uint8_t kMarkUtf16Le[] = {0xFF, 0xFE};
constexpr uint8_t kMarkUtf16Be[] = {0xFE, 0xFF};
constexpr uint8_t kMarkUtf8[] = {0xEF, 0xBB, 0xBF};

}  // namespace

CKemFilterContainerCPSelecter::CKemFilterContainerCPSelecter() = default;

uint32_t CKemFilterContainerCPSelecter::ResetBuffers() {
    m_filterPlain.ResetBuffers();
    m_filterAnsi.ResetBuffers();
    m_filterUtf8.ResetBuffers();
    m_filterSwap.ResetBuffers();
    m_bDecided = 0;
    m_bPassedText = 0;
    m_pInputFilter = nullptr;
    m_pOutputFilter = nullptr;
    return CKemFilterBaseClass::ResetBuffers();
}

FilterStatus CKemFilterContainerCPSelecter::GetParamTable(const FilterParam** table,
                                                          uint32_t* count) {
    if (m_params.empty()) {
        m_params = {
            {u"OutputCodeType", kFilterParamInt32, 0xFFFF, &m_nOutputCodeType, 4, u"输出编码类型"},
        };
    }
    return PublishParamTable(table, count);
}

void CKemFilterContainerCPSelecter::Choose(CKemFilterBaseClass* filter, uint32_t direction) {
    filter->SetDirection(direction);
    filter->set_next(nullptr);
    m_pInputFilter = filter;
    m_pOutputFilter = filter;
    m_bDecided = 1;
}

FilterStatus CKemFilterContainerCPSelecter::Input(const void* bytes, uint32_t length) {
    if (m_bDecided != 0) {
        return m_pInputFilter->Input(bytes, length);
    }
    return m_dwDirection != 0 ? StartEncoding(bytes, length) : Decode(bytes, length);
}

FilterStatus CKemFilterContainerCPSelecter::StartEncoding(const void* bytes, uint32_t length) {
    CKemFilterBaseClass* filter = &m_filterPlain;
    uint32_t direction = 0;
    const uint8_t* mark = kMarkUtf16Le;
    size_t mark_size = sizeof kMarkUtf16Le;
    switch (m_nOutputCodeType) {
        case kOutputAnsi:
            filter = &m_filterAnsi;
            mark = nullptr;
            mark_size = 0;
            break;
        case kOutputUtf16Be:
            filter = &m_filterSwap;
            direction = 1;
            mark = kMarkUtf16Be;
            mark_size = sizeof kMarkUtf16Be;
            break;
        case kOutputUtf8:
        case kOutputUtf8Also:
            filter = &m_filterUtf8;
            direction = 1;
            mark = kMarkUtf8;
            mark_size = sizeof kMarkUtf8;
            break;
        default:
            break;
    }
    Choose(filter, direction);
    if (mark_size > 0) {
        filter->GetOutputBuffer()->Append(mark, mark_size);
    }
    return filter->Input(bytes, length);
}

CKemFilterBaseClass* CKemFilterContainerCPSelecter::RouteByMark(bool* wait) {
    *wait = false;
    const uint8_t* seen = m_bufInput.data();
    const size_t size = m_bufInput.size();
    auto starts_with = [&](const uint8_t* mark, size_t mark_size) {
        return size >= mark_size && std::memcmp(seen, mark, mark_size) == 0;
    };
    // A prefix of a mark that more bytes could still complete.
    if ((size == 1 && (seen[0] == 0xFE || seen[0] == 0xFF || seen[0] == 0xEF)) ||
        (size == 2 && seen[0] == 0xEF && seen[1] == 0xBB)) {
        *wait = true;
        return nullptr;
    }
    if (starts_with(kMarkUtf16Be, sizeof kMarkUtf16Be)) {
        m_bufInput.Consume(sizeof kMarkUtf16Be);
        return &m_filterSwap;
    }
    if (starts_with(kMarkUtf16Le, sizeof kMarkUtf16Le)) {
        m_bufInput.Consume(sizeof kMarkUtf16Le);
        return &m_filterPlain;
    }
    if (starts_with(kMarkUtf8, sizeof kMarkUtf8)) {
        m_bufInput.Consume(sizeof kMarkUtf8);
        return &m_filterUtf8;
    }
    return nullptr;
}

CKemFilterBaseClass* CKemFilterContainerCPSelecter::RouteByContent() {
    const uint8_t* seen = m_bufInput.data();
    size_t size = m_bufInput.size();
    // ASCII reads the same in the ANSI code page and in UTF-8, so it passes as it is until the
    // first other byte shows which of the two the text is in.
    size_t ascii = 0;
    while (ascii < size && seen[ascii] < 0x80) {
        ++ascii;
    }
    if (ascii > 0) {
        std::string units(ascii * 2, '\0');
        for (size_t i = 0; i < ascii; ++i) {
            units[2 * i] = static_cast<char>(seen[i]);
        }
        m_bufOutput.Append(units.data(), units.size());
        m_bufInput.Consume(ascii);
        m_bPassedText = 1;
        size -= ascii;
    }
    switch (kem::encoding::JudgeUtf8(seen, size)) {
        case kem::encoding::Utf8Verdict::kUtf8:
            return &m_filterUtf8;
        case kem::encoding::Utf8Verdict::kNotUtf8:
            return &m_filterAnsi;
        case kem::encoding::Utf8Verdict::kUnsure:
            break;
    }
    return nullptr;
}

FilterStatus CKemFilterContainerCPSelecter::Decode(const void* bytes, uint32_t length) {
    m_bufInput.Append(bytes, length);
    kem::platform::CriticalSectionLock hold(m_bufInput.lock());
    if (m_bufInput.size() == 0) {
        return FilterStatus::kOk;
    }
    CKemFilterBaseClass* filter = nullptr;
    if (m_bPassedText == 0) {
        bool wait = false;
        filter = RouteByMark(&wait);
        if (wait) {
            return FilterStatus::kOk;
        }
    }
    if (filter == nullptr) {
        filter = RouteByContent();
        if (filter == nullptr) {
            return FilterStatus::kOk;
        }
    }
    // The ANSI filter is named for the other way round.
    Choose(filter, filter == &m_filterAnsi ? 1 : 0);
    {
        // Text passed on before the decision goes first in the route's output.
        kem::platform::CriticalSectionLock out(m_bufOutput.lock());
        if (m_bufOutput.size() > 0) {
            filter->GetOutputBuffer()->Append(m_bufOutput.data(), m_bufOutput.size());
            m_bufOutput.Clear();
        }
    }
    const FilterStatus status =
        filter->Input(m_bufInput.data(), static_cast<uint32_t>(m_bufInput.size()));
    m_bufInput.Clear();
    return status;
}

FilterStatus CKemFilterContainerCPSelecter::Output(void* destination, uint32_t capacity,
                                                   uint32_t* count) {
    if (m_pOutputFilter != nullptr) {
        return m_pOutputFilter->Output(destination, capacity, count);
    }
    return CKemFilterBaseClass::Output(destination, capacity, count);
}
