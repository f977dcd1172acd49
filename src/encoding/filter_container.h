// A filter that delegates to inner filters: one takes the input, one holds the output.
#pragma once

#include "encoding/filter_base.h"

class CKemFilterContainer : public CKemFilterBaseClass {
public:
    // Takes nothing; kOk. Containers route input themselves.
    FilterStatus Input(const void* bytes, uint32_t length) override;

    // The input-side filter's input buffer, or null without one.
    FilterBuffer* GetInputBuffer() override;

    // The output-side filter's output buffer, or the container's own without one.
    FilterBuffer* GetOutputBuffer() override;

protected:
    CKemFilterBaseClass* m_pInputFilter = nullptr;
    CKemFilterBaseClass* m_pOutputFilter = nullptr;
};
