#include "terminal/com_choice_change.h"

#include <string>

#include "terminal/serial_param_text.h"

bool ApplyComChoice(ComChoiceField field, std::u16string_view choice_text, tagComPortParam& param) {
    if (choice_text.find(u',') != std::u16string_view::npos) {
        return false;
    }
    // The parameter text reader holds the field rules; the choice goes into its place behind
    // valid placeholders for the fields before it, and only that field is taken over.
    std::u16string text;
    switch (field) {
        case ComChoiceField::kBaudRate:
            break;
        case ComChoiceField::kParity:
            text = u"1,";
            break;
        case ComChoiceField::kDataBits:
            text = u"1,N,";
            break;
        case ComChoiceField::kStopBits:
            text = u"1,N,8,";
            break;
    }
    text += choice_text;
    // The reader looks at the first kReadUnits units only; a longer choice would be read cut.
    constexpr size_t kReadUnits = 31;
    if (choice_text.empty() || text.size() > kReadUnits) {
        return false;
    }
    tagComPortParam parsed = param;
    if (!ParseComParam(std::u16string_view(text), parsed, false)) {
        return false;
    }
    switch (field) {
        case ComChoiceField::kBaudRate:
            param.dwBaudRate = parsed.dwBaudRate;
            break;
        case ComChoiceField::kParity:
            param.nParity = parsed.nParity;
            break;
        case ComChoiceField::kDataBits:
            param.nByteSize = parsed.nByteSize;
            break;
        case ComChoiceField::kStopBits:
            param.nStopBits = parsed.nStopBits;
            break;
    }
    return true;
}
