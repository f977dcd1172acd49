#include "platform/code_page.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <memory>

namespace kem::platform {
namespace {

// One iconv descriptor per direction and thread: a descriptor carries shift state and must
// not be shared, and opening one per call would dominate short conversions.
class Converter {
public:
    Converter(const char* to, const char* from) : handle_(iconv_open(to, from)) {}
    ~Converter() {
        if (ok()) {
            iconv_close(handle_);
        }
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    bool ok() const { return handle_ != reinterpret_cast<iconv_t>(-1); }

    // Converts `in`; at a sequence that cannot be converted, writes `replacement` and skips
    // `step` input bytes (one unit of the input encoding).
    std::string Run(const char* in, size_t size, std::string_view replacement, size_t step) {
        std::string out;
        if (!ok()) {
            return out;
        }
        iconv(handle_, nullptr, nullptr, nullptr, nullptr);
        out.resize(size * 2 + 16);
        char* source = const_cast<char*>(in);
        size_t left = size;
        size_t used = 0;
        while (left > 0) {
            char* target = out.data() + used;
            size_t room = out.size() - used;
            const size_t result = iconv(handle_, &source, &left, &target, &room);
            used = out.size() - room;
            if (result != static_cast<size_t>(-1)) {
                break;
            }
            if (errno == E2BIG) {
                out.resize(out.size() * 2);
                continue;
            }
            // EILSEQ or EINVAL (a sequence cut at the end): replace one unit and go on.
            if (out.size() - used < replacement.size() + 16) {
                out.resize(out.size() * 2 + replacement.size() + 16);
            }
            out.replace(used, replacement.size(), replacement);
            used += replacement.size();
            const size_t skip = std::min(step, left);
            source += skip;
            left -= skip;
            iconv(handle_, nullptr, nullptr, nullptr, nullptr);
        }
        // Flush any shift state.
        char* target = out.data() + used;
        size_t room = out.size() - used;
        iconv(handle_, nullptr, nullptr, &target, &room);
        used = out.size() - room;
        out.resize(used);
        return out;
    }

private:
    iconv_t handle_;
};

Converter& ToAnsi() {
    thread_local Converter converter(AnsiCodePage().c_str(), "UTF-16LE");
    return converter;
}
Converter& FromAnsi() {
    thread_local Converter converter("UTF-16LE", AnsiCodePage().c_str());
    return converter;
}
Converter& ToUtf8() {
    thread_local Converter converter("UTF-8", "UTF-16LE");
    return converter;
}
Converter& FromUtf8() {
    thread_local Converter converter("UTF-16LE", "UTF-8");
    return converter;
}

std::u16string ToUnits(const std::string& bytes) {
    std::u16string units(bytes.size() / 2, u'\0');
    for (size_t i = 0; i < units.size(); ++i) {
        units[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                         static_cast<unsigned char>(bytes[2 * i + 1]) << 8);
    }
    return units;
}

std::string ToBytes(std::u16string_view units) {
    std::string bytes(units.size() * 2, '\0');
    for (size_t i = 0; i < units.size(); ++i) {
        bytes[2 * i] = static_cast<char>(units[i] & 0xFF);
        bytes[2 * i + 1] = static_cast<char>(units[i] >> 8);
    }
    return bytes;
}

const std::string kQuestionMarkUtf16("?\0", 2);
const std::string kReplacementUtf16("\xFD\xFF", 2);

}  // namespace

const std::string& AnsiCodePage() {
    static const std::string name = [] {
        const char* chosen = std::getenv("KEMPEMVILO_ACP");
        if (chosen != nullptr && *chosen != '\0') {
            iconv_t probe = iconv_open("UTF-16LE", chosen);
            if (probe != reinterpret_cast<iconv_t>(-1)) {
                iconv_close(probe);
                return std::string(chosen);
            }
        }
        return std::string("CP936");
    }();
    return name;
}

std::string WideToAnsi(std::u16string_view text) {
    const std::string bytes = ToBytes(text);
    return ToAnsi().Run(bytes.data(), bytes.size(), "?", 2);
}

std::u16string AnsiToWide(std::string_view bytes) {
    return ToUnits(FromAnsi().Run(bytes.data(), bytes.size(), kQuestionMarkUtf16, 1));
}

std::string WideToUtf8(std::u16string_view text) {
    const std::string bytes = ToBytes(text);
    return ToUtf8().Run(bytes.data(), bytes.size(), "\xEF\xBF\xBD", 2);
}

std::u16string Utf8ToWide(std::string_view bytes) {
    return ToUnits(FromUtf8().Run(bytes.data(), bytes.size(), kReplacementUtf16, 1));
}

}  // namespace kem::platform
