#include "channels/name_text.h"

#include <algorithm>

namespace kem::channels {

char16_t* SetNameText(char16_t (&field)[kNameUnits], const char16_t* text, int32_t count) {
    std::fill(field, field + kNameUnits, u'\0');
    const uint32_t limit = std::min<uint32_t>(static_cast<uint32_t>(count), kNameUnits - 1);
    for (uint32_t i = 0; text != nullptr && i < limit && text[i] != u'\0'; ++i) {
        field[i] = text[i];
    }
    return field;
}

int32_t FormatNameText(char16_t (&field)[kNameUnits], const char16_t* text) {
    SetNameText(field, text, kNameUnits - 1);
    int32_t written = 0;
    while (field[written] != u'\0') {
        ++written;
    }
    const bool cut = written == kNameUnits - 1 && text[written] != u'\0';
    return cut ? -1 : written;
}

}  // namespace kem::channels
