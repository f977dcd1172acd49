#include "settings/reg_profile.h"

#include <algorithm>
#include <cstring>

#include "platform/code_page.h"
#include "platform/paths.h"

using kem::platform::RegAccess;
using kem::platform::RegKey;
using kem::platform::RegRoot;
using kem::platform::RegStatus;
using kem::platform::RegType;

namespace kem::settings {
namespace {

struct RootName {
    std::u16string_view name;
    RegRoot root;
};

// Searched in this order; a text is matched over the name's length only.
constexpr RootName kRootNames[] = {
    {u"HKCR", RegRoot::kClassesRoot},   {u"HKCU", RegRoot::kCurrentUser},
    {u"HKLM", RegRoot::kLocalMachine},  {u"HKU", RegRoot::kUsers},
    {u"HKCC", RegRoot::kCurrentConfig},
};

char16_t AsciiUpper(char16_t c) {
    return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - (u'a' - u'A')) : c;
}

bool StartsWithNoCase(std::u16string_view text, std::u16string_view prefix) {
    if (text.size() < prefix.size()) {
        return false;
    }
    for (size_t i = 0; i < prefix.size(); ++i) {
        if (AsciiUpper(text[i]) != AsciiUpper(prefix[i])) {
            return false;
        }
    }
    return true;
}

std::u16string_view View(const char16_t* text) {
    return text == nullptr ? std::u16string_view() : std::u16string_view(text);
}

std::u16string ExpandSection(std::u16string_view section) {
    if (section.find(u'%') == std::u16string_view::npos) {
        return std::u16string(section);  // no round trip through UTF-8 when nothing to expand
    }
    return platform::Utf8ToWide(platform::ExpandEnvironment(platform::WideToUtf8(section)));
}

// REG_SZ data as text: whole UTF-16 units ending in a zero unit; up to the first zero.
bool TerminatedText(const std::vector<uint8_t>& data, std::u16string* text) {
    if (data.size() < 2 || data.size() % 2 != 0 || data[data.size() - 1] != 0 ||
        data[data.size() - 2] != 0) {
        return false;
    }
    text->clear();
    for (size_t i = 0; i + 1 < data.size(); i += 2) {
        const auto unit = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
        if (unit == u'\0') {
            break;
        }
        text->push_back(unit);
    }
    return true;
}

// The registry's enumeration buffers hold 260 units: a longer name ends the listing there.
int32_t ListUpToLongName(std::vector<std::u16string>&& names, std::vector<std::u16string>* out) {
    const auto too_long = std::find_if(names.begin(), names.end(), [](const auto& name) {
        return name.size() > CKemRegProfile::kEnumNameUnits;
    });
    names.erase(too_long, names.end());
    const auto count = static_cast<int32_t>(names.size());
    if (out != nullptr) {
        *out = std::move(names);
    }
    return count;
}

}  // namespace

KeyPathKind ParseRootKey(const char16_t* path, RegRoot* root, char16_t* sub_key, int32_t capacity) {
    const std::u16string_view text = View(path);
    if (text.empty()) {
        return KeyPathKind::kNone;
    }
    for (const RootName& candidate : kRootNames) {
        if (StartsWithNoCase(text, candidate.name)) {
            if (root != nullptr) {
                *root = candidate.root;
            }
            const size_t slash = text.find(u'\\');
            CopyTextBounded(sub_key, capacity,
                            slash == std::u16string_view::npos ? std::u16string_view()
                                                               : text.substr(slash + 1));
            return KeyPathKind::kRegistry;
        }
    }
    const char16_t first = text[0];
    const char16_t upper = AsciiUpper(first);
    if (first == u'%' || first == u'.' || first == u'/' || first == u'\\' ||
        (upper >= u'A' && upper <= u'Z' && text.size() >= 2 && text[1] == u':')) {
        return KeyPathKind::kFileSystem;
    }
    return KeyPathKind::kOther;
}

std::u16string SectionKeyPath(std::u16string_view key_path, const char16_t* section) {
    std::u16string joined(key_path);
    std::u16string part = ExpandSection(View(section));
    const size_t lead = part.find_first_not_of(u'\\');
    part.erase(0, lead == std::u16string::npos ? part.size() : lead);
    if (!part.empty()) {
        while (!joined.empty() && joined.back() == u'\\') {
            joined.pop_back();
        }
        if (!joined.empty()) {
            joined.push_back(u'\\');
        }
        joined += part;
    }
    while (!joined.empty() && joined.back() == u'\\') {
        joined.pop_back();
    }
    return joined;
}

int32_t RegErrorCode(RegStatus status) {
    switch (status) {
        case RegStatus::kOk:
            return kRegErrorSuccess;
        case RegStatus::kNotFound:
            return kRegErrorNotFound;
        case RegStatus::kAccessDenied:
            return kRegErrorAccessDenied;
        case RegStatus::kMoreData:
            return kRegErrorMoreData;
        case RegStatus::kCorrupt:
            return kRegErrorCorrupt;
        case RegStatus::kBusy:
            return kRegErrorBusy;
        case RegStatus::kInvalid:
            return kRegErrorInvalidParameter;
        case RegStatus::kFailed:
            return kRegErrorIoFailed;
    }
    return kRegErrorIoFailed;
}

}  // namespace kem::settings

using kem::settings::CopyTextBounded;
using kem::settings::View;

CKemRegProfile::CKemRegProfile() = default;

CKemRegProfile::CKemRegProfile(std::shared_ptr<kem::platform::Registry> registry)
    : registry_(std::move(registry)) {}

CKemRegProfile::~CKemRegProfile() = default;

int32_t CKemRegProfile::SetLocation(const char16_t* path, int32_t create) {
    RegRoot root = RegRoot::kCurrentUser;
    char16_t sub_key[kKeyPathUnits] = {};
    if (kem::settings::ParseRootKey(path, &root, sub_key, kKeyPathUnits) !=
        kem::settings::KeyPathKind::kRegistry) {
        return 0;
    }
    return SetKey(root, sub_key, create);
}

int32_t CKemRegProfile::SetKey(std::optional<RegRoot> root, const char16_t* key_path, int32_t) {
    m_hRootKey = root;
    if (!root.has_value() || key_path == nullptr) {
        return 0;
    }
    // Copied through a temporary: the caller may pass this store's own key_path().
    const std::u16string copy(key_path);
    CopyTextBounded(m_szKeyPath, kKeyPathUnits, copy);
    return 1;
}

bool CKemRegProfile::ApplyLocation(const char16_t* location) {
    return location == nullptr || SetLocation(location, 0) != 0;
}

RegStatus CKemRegProfile::OpenSection(const char16_t* section, RegAccess access,
                                      RegKey* key) const {
    if (!m_hRootKey.has_value()) {
        return RegStatus::kInvalid;
    }
    const std::u16string path = kem::settings::SectionKeyPath(m_szKeyPath, section);
    return registry_ != nullptr ? RegKey::Open(registry_, *m_hRootKey, path, access, key)
                                : RegKey::Open(*m_hRootKey, path, access, key);
}

RegStatus CKemRegProfile::CreateSection(const char16_t* section, RegKey* key) const {
    if (!m_hRootKey.has_value()) {
        return RegStatus::kInvalid;
    }
    const std::u16string path = kem::settings::SectionKeyPath(m_szKeyPath, section);
    return registry_ != nullptr ? RegKey::Create(registry_, *m_hRootKey, path, key)
                                : RegKey::Create(*m_hRootKey, path, key);
}

int32_t CKemRegProfile::WriteValue(const char16_t* section, const char16_t* name, RegType type,
                                   const void* data, size_t size, const char16_t* location) {
    if (!ApplyLocation(location)) {
        return 0;
    }
    // A second try covers another instance deleting the key between its creation and the
    // write (the write then finds no key).
    for (int attempt = 0; attempt < 2; ++attempt) {
        RegKey key;
        if (CreateSection(section, &key) != RegStatus::kOk) {
            return 0;
        }
        const RegStatus status = key.SetValue(View(name), type, data, static_cast<uint32_t>(size));
        if (status != RegStatus::kNotFound) {
            return status == RegStatus::kOk ? 1 : 0;
        }
    }
    return 0;
}

int32_t CKemRegProfile::SectionExists(const char16_t* section, const char16_t*,
                                      const char16_t* location) {
    RegKey key;
    return ApplyLocation(location) && OpenSection(section, RegAccess::kRead, &key) == RegStatus::kOk
               ? 1
               : 0;
}

int32_t CKemRegProfile::DeleteValue(const char16_t* section, const char16_t* name,
                                    const char16_t* location) {
    RegKey key;
    if (!ApplyLocation(location) ||
        OpenSection(section, RegAccess::kWrite, &key) != RegStatus::kOk) {
        return 0;
    }
    const RegStatus status = key.DeleteValue(View(name));
    return status == RegStatus::kOk || status == RegStatus::kNotFound ? 1 : 0;
}

int32_t CKemRegProfile::DeleteSection(const char16_t* section, const char16_t* location) {
    if (View(section).empty() || !ApplyLocation(location)) {
        return 0;
    }
    // The whole tree goes in one transaction, so another instance never sees half of it.
    RegKey store_key;
    if (OpenSection(nullptr, RegAccess::kWrite, &store_key) != RegStatus::kOk) {
        return 0;
    }
    const std::u16string relative = kem::settings::SectionKeyPath(u"", section);
    return !relative.empty() && store_key.DeleteTree(relative) == RegStatus::kOk ? 1 : 0;
}

int32_t CKemRegProfile::DeleteAll(const char16_t* location) {
    if (!ApplyLocation(location) || !m_hRootKey.has_value()) {
        return 0;
    }
    const std::u16string_view path(m_szKeyPath);
    const size_t slash = path.rfind(u'\\');
    const std::u16string parent(slash == std::u16string_view::npos ? std::u16string_view()
                                                                   : path.substr(0, slash));
    const std::u16string last(slash == std::u16string_view::npos ? path : path.substr(slash + 1));
    if (last.empty()) {
        return 0;
    }
    CKemRegProfile parent_store(registry_);
    if (!parent_store.SetKey(m_hRootKey, parent.c_str(), 0)) {
        return 0;
    }
    return parent_store.DeleteSection(last.c_str(), nullptr);
}

int32_t CKemRegProfile::EnumSections(std::vector<std::u16string>* out, const char16_t* location) {
    if (out != nullptr) {
        out->clear();
    }
    RegKey key;
    std::vector<std::u16string> names;
    if (!ApplyLocation(location) ||
        OpenSection(nullptr, RegAccess::kRead, &key) != RegStatus::kOk ||
        key.SubKeyNames(&names) != RegStatus::kOk) {
        return 0;
    }
    return kem::settings::ListUpToLongName(std::move(names), out);
}

int32_t CKemRegProfile::EnumKeys(const char16_t* section, std::vector<std::u16string>* out,
                                 const char16_t* location) {
    if (out != nullptr) {
        out->clear();
    }
    RegKey key;
    std::vector<std::u16string> names;
    if (!ApplyLocation(location) ||
        OpenSection(section, RegAccess::kRead, &key) != RegStatus::kOk ||
        key.ValueNames(&names) != RegStatus::kOk) {
        return 0;
    }
    return kem::settings::ListUpToLongName(std::move(names), out);
}

int32_t CKemRegProfile::WriteStringRaw(const char16_t* section, const char16_t* name,
                                       const char16_t* value, const char16_t* location) {
    const std::u16string_view text = View(value);
    std::vector<uint8_t> data;
    data.reserve(2 * (text.size() + 1));
    for (const char16_t unit : text) {
        data.push_back(static_cast<uint8_t>(unit & 0xFF));
        data.push_back(static_cast<uint8_t>(unit >> 8));
    }
    data.insert(data.end(), {0, 0});  // REG_SZ keeps its terminator
    return WriteValue(section, name, RegType::kSz, data.data(), data.size(), location);
}

int32_t CKemRegProfile::ReadStringRaw(const char16_t* section, const char16_t* name,
                                      const char16_t* default_value, char16_t* buffer,
                                      int32_t capacity, const char16_t* location) {
    if (buffer == nullptr) {
        return 0;
    }
    const std::u16string_view fallback = View(default_value);
    if (!ApplyLocation(location)) {
        CopyTextBounded(buffer, capacity, fallback);
        return 0;
    }
    RegKey key;
    RegType type = RegType::kNone;
    std::vector<uint8_t> data;
    std::u16string text;
    // Only a well-formed REG_SZ is taken: data of another type, or text without its
    // terminator, leaves the caller with the default (a loaded field keeps its content).
    if (OpenSection(section, RegAccess::kRead, &key) == RegStatus::kOk &&
        key.QueryValue(View(name), &type, &data) == RegStatus::kOk && type == RegType::kSz &&
        kem::settings::TerminatedText(data, &text)) {
        return CopyTextBounded(buffer, capacity, text);
    }
    return CopyTextBounded(buffer, capacity, fallback);
}

int32_t CKemRegProfile::WriteDword(const char16_t* section, const char16_t* name, uint32_t value,
                                   const char16_t* location) {
    const uint8_t data[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                             static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
    return WriteValue(section, name, RegType::kDword, data, sizeof data, location);
}

uint32_t CKemRegProfile::ReadDword(const char16_t* section, const char16_t* name,
                                   uint32_t default_value, const char16_t* location) {
    RegKey key;
    RegType type = RegType::kNone;
    std::vector<uint8_t> data;
    if (!ApplyLocation(location) ||
        OpenSection(section, RegAccess::kRead, &key) != RegStatus::kOk ||
        key.QueryValue(View(name), &type, &data) != RegStatus::kOk || type != RegType::kDword ||
        data.size() != 4) {
        return default_value;
    }
    return static_cast<uint32_t>(data[0]) | (static_cast<uint32_t>(data[1]) << 8) |
           (static_cast<uint32_t>(data[2]) << 16) | (static_cast<uint32_t>(data[3]) << 24);
}

int32_t CKemRegProfile::WriteRawBytes(const char16_t* section, const char16_t* name,
                                      const void* bytes, int32_t length, const char16_t* location) {
    if (length < 0 || (bytes == nullptr && length > 0)) {
        return 0;
    }
    return WriteValue(section, name, RegType::kBinary, bytes, static_cast<size_t>(length),
                      location);
}

int32_t CKemRegProfile::ReadRawBytes(const char16_t* section, const char16_t* name, void* buffer,
                                     int32_t* length, const char16_t* location) {
    if (length == nullptr || *length < 0) {
        return kem::settings::kRegErrorInvalidParameter;
    }
    if (!ApplyLocation(location)) {
        if (buffer != nullptr) {
            std::memset(buffer, 0, static_cast<size_t>(*length));
        }
        return kem::settings::kRegErrorInvalidParameter;
    }
    RegKey key;
    RegType type = RegType::kNone;
    std::vector<uint8_t> data;
    RegStatus status = OpenSection(section, RegAccess::kRead, &key);
    if (status == RegStatus::kOk) {
        status = key.QueryValue(View(name), &type, &data);
    }
    if (status != RegStatus::kOk) {
        return kem::settings::RegErrorCode(status);
    }
    if (type != RegType::kBinary) {
        return kem::settings::kRegErrorInvalidParameter;
    }
    const auto needed = static_cast<int32_t>(data.size());
    if (buffer != nullptr && *length < needed) {
        *length = needed;
        return kem::settings::kRegErrorMoreData;
    }
    if (buffer != nullptr && needed > 0) {
        std::memcpy(buffer, data.data(), data.size());
    }
    *length = needed;
    return kem::settings::kRegErrorSuccess;
}
