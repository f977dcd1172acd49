// Any byte block converts to UTF-16 and back without a crash, and text that came from the
// code page goes back to the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "platform/code_page.h"
#include "terminal/ctrl_char_table.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace kem::platform;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::u16string wide = AnsiToWide(bytes);
    const std::string back = WideToAnsi(wide);
    if (AnsiToWide(back) != wide) {
        std::abort();
    }
    std::u16string units(size / 2, u'\0');
    for (size_t i = 0; i < units.size(); ++i) {
        units[i] = static_cast<char16_t>(data[2 * i] | data[2 * i + 1] << 8);
    }
    WideToAnsi(units);
    WideToUtf8(units);
    FindCtrlCharByName(units);
    return 0;
}
