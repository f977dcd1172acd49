#include "terminal/serial_param_text.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>

namespace {

// Only this many units of a parameter text are looked at.
constexpr size_t kWorkUnits = 31;

constexpr char16_t kParityLetters[] = {u'N', u'O', u'E', u'M', u'S'};
constexpr const char16_t* kStopBitsTexts[] = {u"1", u"1.5", u"2"};

// Decimal value of the leading digits of `field`; 0 when it has none. Saturates so that a
// long run of digits never wraps into a small or negative rate.
int64_t LeadingDecimal(std::u16string_view field) {
    int64_t value = 0;
    for (const char16_t unit : field) {
        if (unit < u'0' || unit > u'9') {
            break;
        }
        value = std::min<int64_t>(value * 10 + (unit - u'0'), INT32_MAX);
    }
    return value;
}

// Splits off the field before the next ',' of `rest`; `rest` becomes what follows the comma,
// and `more` tells whether there was a comma with something after it.
std::u16string_view NextField(std::u16string_view& rest, bool& more) {
    const size_t comma = rest.find(u',');
    const std::u16string_view field = rest.substr(0, comma);
    if (comma == std::u16string_view::npos) {
        rest = {};
        more = false;
    } else {
        rest.remove_prefix(comma + 1);
        more = !rest.empty();
    }
    return field;
}

std::optional<int32_t> ParityCode(std::u16string_view field) {
    if (field.empty()) {
        return std::nullopt;
    }
    char16_t letter = field.front();
    if (letter >= u'a' && letter <= u'z') {
        letter = static_cast<char16_t>(letter - u'a' + u'A');
    }
    for (int32_t code = 0; code < 5; ++code) {
        if (kParityLetters[code] == letter) {
            return code;
        }
    }
    return std::nullopt;
}

std::optional<int32_t> StopBitsCode(std::u16string_view field) {
    for (int32_t code = 0; code < 3; ++code) {
        if (field == kStopBitsTexts[code]) {
            return code;
        }
    }
    return std::nullopt;
}

std::u16string AsciiToWide(const std::string& text) {
    return std::u16string(text.begin(), text.end());
}

}  // namespace

tagComPortParam DefaultComParam() {
    return tagComPortParam{};
}

bool ParseComParam(std::u16string_view text, tagComPortParam& record, bool reset) {
    if (reset) {
        record = DefaultComParam();
    }
    // A zero unit ends the text as it would in a fixed buffer.
    std::u16string_view rest = text.substr(0, std::min(text.size(), kWorkUnits));
    rest = rest.substr(0, rest.find(u'\0'));

    bool more = false;
    const int64_t baud = LeadingDecimal(NextField(rest, more));
    if (baud < 1) {
        return false;
    }
    record.dwBaudRate = static_cast<uint32_t>(baud);
    if (!more) {
        return true;
    }

    const auto parity = ParityCode(NextField(rest, more));
    if (!parity) {
        return false;
    }
    record.nParity = *parity;
    if (!more) {
        return true;
    }

    const int64_t data_bits = LeadingDecimal(NextField(rest, more));
    if (data_bits < 5 || data_bits > 8) {
        return false;
    }
    record.nByteSize = static_cast<int32_t>(data_bits);
    if (!more) {
        return true;
    }

    const auto stop_bits = StopBitsCode(NextField(rest, more));
    if (!stop_bits) {
        return false;
    }
    record.nStopBits = *stop_bits;
    return true;
}

bool ParseComParam(const char16_t* text, tagComPortParam* record, bool reset) {
    if (text == nullptr || record == nullptr) {
        return false;
    }
    // Never read past the units that count, even when the text is longer.
    size_t length = 0;
    while (length < kWorkUnits && text[length] != u'\0') {
        ++length;
    }
    return ParseComParam(std::u16string_view(text, length), *record, reset);
}

bool FormatComParam(const tagComPortParam* record, char16_t* output) {
    if (record == nullptr || output == nullptr) {
        return false;
    }
    const std::u16string text = FormatComParamText(*record);
    if (text.empty()) {
        return false;
    }
    std::fill_n(output, kComParamTextUnits, u'\0');
    std::copy_n(text.data(), std::min(text.size(), kWorkUnits), output);
    return true;
}

std::u16string FormatComParamText(const tagComPortParam& record) {
    if (record.nParity < 0 || record.nParity > 4 || record.nByteSize < 5 || record.nByteSize > 8 ||
        record.nStopBits < 0 || record.nStopBits > 2) {
        return {};
    }
    std::u16string text = AsciiToWide(std::to_string(record.dwBaudRate));
    text += u',';
    text += kParityLetters[record.nParity];
    text += u',';
    text += static_cast<char16_t>(u'0' + record.nByteSize);
    text += u',';
    text += kStopBitsTexts[record.nStopBits];
    return text;
}

ComChoiceTexts ChoiceTextsFromParamText(std::u16string_view text) {
    tagComPortParam record;
    ParseComParam(text, record, true);
    return ChoiceTextsFromParam(record);
}

ComChoiceTexts ChoiceTextsFromParam(const tagComPortParam& record) {
    ComChoiceTexts texts;
    texts.baud_rate = AsciiToWide(std::to_string(record.dwBaudRate));
    if (record.nParity >= 0 && record.nParity <= 4) {
        texts.parity = kParityChoices[record.nParity];
    }
    if (record.nByteSize >= 5 && record.nByteSize <= 8) {
        texts.data_bits = static_cast<char16_t>(u'0' + record.nByteSize);
    }
    if (record.nStopBits >= 0 && record.nStopBits <= 2) {
        texts.stop_bits = kStopBitsTexts[record.nStopBits];
    }
    return texts;
}

std::u16string ParamTextFromChoices(const ComChoiceTexts& choices) {
    return choices.baud_rate + u',' + choices.parity + u',' + choices.data_bits + u',' +
           choices.stop_bits;
}
