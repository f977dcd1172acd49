#include "terminal/config_location.h"

#include "platform/code_page.h"
#include "platform/paths.h"

namespace {

bool EndsWithExeIgnoringCase(std::u16string_view name) {
    if (name.size() < 4) {
        return false;
    }
    const std::u16string_view tail = name.substr(name.size() - 4);
    const char16_t* exe = u".exe";
    for (size_t i = 0; i < 4; ++i) {
        char16_t c = tail[i];
        if (c >= u'A' && c <= u'Z') {
            c = c - u'A' + u'a';
        }
        if (c != exe[i]) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::u16string RegistryConfigKey(std::u16string_view file_name) {
    std::u16string key = std::u16string(kRegistryConfigRoot) + u"\\" + kRegistryConfigProduct;
    if (file_name.size() < 5) {
        return key;
    }
    if (EndsWithExeIgnoringCase(file_name)) {
        file_name.remove_suffix(4);
    }
    return key + u"\\" + std::u16string(file_name);
}

std::u16string RunningRegistryConfigKey() {
    const std::string path = kem::platform::ExecutablePath();
    const size_t slash = path.rfind('/');
    return RegistryConfigKey(
        kem::platform::Utf8ToWide(slash == std::string::npos ? path : path.substr(slash + 1)));
}

std::u16string_view ConfigFileStem(std::u16string_view path) {
    const size_t slash = path.find_last_of(u"\\/");
    if (slash != std::u16string_view::npos) {
        path.remove_prefix(slash + 1);
    }
    const size_t dot = path.rfind(u'.');
    return dot == std::u16string_view::npos ? path : path.substr(0, dot);
}
