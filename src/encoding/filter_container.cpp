#include "encoding/filter_container.h"

FilterStatus CKemFilterContainer::Input(const void*, uint32_t) {
    return FilterStatus::kOk;
}

FilterBuffer* CKemFilterContainer::GetInputBuffer() {
    return m_pInputFilter != nullptr ? m_pInputFilter->GetInputBuffer() : nullptr;
}

FilterBuffer* CKemFilterContainer::GetOutputBuffer() {
    return m_pOutputFilter != nullptr ? m_pOutputFilter->GetOutputBuffer() : &m_bufOutput;
}
