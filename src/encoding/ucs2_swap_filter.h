// UTF-16 big-endian to little-endian and back: the same swap of each byte pair both ways.
#pragma once

#include "encoding/filter_base.h"

class CKemFilterUCS2BEToLE : public CKemFilterBaseClass {
public:
    CKemFilterUCS2BEToLE();

    // Swaps every whole byte pair of the input into the output; an odd trailing byte stays in
    // the input for the next call. kNotEnoughMemory (both buffers unchanged) when the output
    // cannot grow.
    FilterStatus Convert() override;
};
