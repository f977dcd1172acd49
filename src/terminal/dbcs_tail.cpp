#include "terminal/dbcs_tail.h"

namespace {

bool IsLead(unsigned char b) {
    return b >= 0x81 && b <= 0xFE;
}

bool CanBeTrail(unsigned char b) {
    return b >= 0x40 && b <= 0xFE;
}

}  // namespace

size_t IncompleteDbcsTail(std::string_view text) {
    // A byte below 40 is a whole character on its own, so a boundary follows it: start the
    // walk after the last one instead of at the front of a long text.
    size_t start = text.size();
    while (start > 0 && static_cast<unsigned char>(text[start - 1]) >= 0x40) {
        --start;
    }
    size_t i = start;
    while (i < text.size()) {
        const auto b = static_cast<unsigned char>(text[i]);
        if (!IsLead(b)) {
            ++i;
        } else if (i + 1 == text.size()) {
            return 1;
        } else if (CanBeTrail(static_cast<unsigned char>(text[i + 1]))) {
            i += 2;
        } else {
            ++i;
        }
    }
    return 0;
}
