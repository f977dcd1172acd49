// Any parameter, client or server text is read without a crash; whatever the serial parser
// accepts formats back into a text that reads to the same record.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "terminal/link_text.h"
#include "terminal/serial_param_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::u16string text(size / 2, u'\0');
    for (size_t i = 0; i < text.size(); ++i) {
        text[i] = static_cast<char16_t>(data[2 * i] | data[2 * i + 1] << 8);
    }
    // Also the bytes as ASCII-range units, which reach the interesting paths far more often.
    std::u16string narrow(data, data + size);

    for (const std::u16string* input : {&text, &narrow}) {
        tagComPortParam record;
        if (ParseComParam(*input, record, true)) {
            if (record.dwBaudRate < 1 || record.dwBaudRate > 2147483647u) {
                std::abort();
            }
            const std::u16string formatted = FormatComParamText(record);
            tagComPortParam back;
            if (formatted.empty() || !ParseComParam(formatted, back, true) ||
                std::memcmp(&back, &record, sizeof record) != 0) {
                std::abort();
            }
        }
        ChoiceTextsFromParamText(*input);
        const std::u16string terminated = *input;
        tagComPortParam other;
        ParseComParam(terminated.c_str(), &other, false);

        const ClientTarget target = ParseClientTarget(*input);
        if (target.port.usable != (target.port.value >= 1 && target.port.value <= 65535)) {
            std::abort();
        }
        ParsePortNumber(*input);
        LinkTypeFromPortName(*input);
        WindowTitle(*input, u"t");
    }
    return 0;
}
