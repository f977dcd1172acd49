// Key handles: the stored keys go to the database, the device view is answered from the
// devices found when it was opened.
#include <algorithm>
#include <cstring>

#include "platform/registry.h"
#include "platform/registry_names.h"
#include "platform/registry_store.h"

namespace kem::platform {
namespace {

constexpr int kViewValueDepth = 3;  // SERIALCOMM, the view's only key with values

// Splits a key path at '\'; empty components (doubled or trailing separators) are skipped.
RegStatus SplitKeyPath(std::u16string_view path, std::vector<std::u16string>* components) {
    components->clear();
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find(u'\\', start);
        if (end == std::u16string_view::npos) {
            end = path.size();
        }
        if (end > start) {
            if (end - start > kRegMaxKeyName) {
                return RegStatus::kInvalid;
            }
            components->emplace_back(path.substr(start, end - start));
        }
        start = end + 1;
    }
    return RegStatus::kOk;
}

std::vector<std::string> Folded(const std::vector<std::u16string>& components) {
    std::vector<std::string> folded;
    folded.reserve(components.size());
    for (const std::u16string& component : components) {
        folded.push_back(FoldRegistryName(component));
    }
    return folded;
}

bool CanRead(RegAccess access) {
    return access != RegAccess::kWrite;
}

bool ValidType(RegType type, uint32_t size) {
    switch (type) {
        case RegType::kNone:
        case RegType::kSz:
        case RegType::kBinary:
            return true;
        case RegType::kDword:
            return size == 4;
    }
    return false;
}

std::vector<uint8_t> StringBytes(std::u16string_view text) {
    std::vector<uint8_t> bytes;
    bytes.reserve(2 * (text.size() + 1));
    for (char16_t unit : text) {
        bytes.push_back(static_cast<uint8_t>(unit & 0xFF));
        bytes.push_back(static_cast<uint8_t>(unit >> 8));
    }
    bytes.push_back(0);
    bytes.push_back(0);
    return bytes;
}

RegStatus UserRegistry(const std::shared_ptr<Registry>& given,
                       std::shared_ptr<Registry>* registry) {
    if (given != nullptr) {
        *registry = given;
        return RegStatus::kOk;
    }
    return Registry::OpenUser(registry);
}

}  // namespace

RegKey::RegKey() = default;

RegKey::~RegKey() {
    Close();
}

RegKey::RegKey(RegKey&& other) noexcept {
    *this = std::move(other);
}

RegKey& RegKey::operator=(RegKey&& other) noexcept {
    if (this != &other) {
        kind_ = other.kind_;
        root_ = other.root_;
        access_ = other.access_;
        registry_ = std::move(other.registry_);
        id_ = other.id_;
        devices_ = std::move(other.devices_);
        other.Close();
    }
    return *this;
}

void RegKey::Close() {
    kind_ = Kind::kClosed;
    registry_.reset();
    id_ = 0;
    devices_.clear();
}

RegStatus RegKey::Open(RegRoot root, std::u16string_view sub_key, RegAccess access, RegKey* out) {
    return Open(nullptr, root, sub_key, access, out);
}

RegStatus RegKey::Open(const std::shared_ptr<Registry>& registry, RegRoot root,
                       std::u16string_view sub_key, RegAccess access, RegKey* out) {
    RegKey root_key;
    root_key.kind_ = Kind::kStored;
    root_key.root_ = root;
    root_key.access_ = RegAccess::kAll;
    root_key.registry_ = registry;  // may stay null: the view needs no database
    root_key.id_ = RootKeyId(root);
    return root_key.OpenSubKey(sub_key, access, out);
}

RegStatus RegKey::Create(RegRoot root, std::u16string_view sub_key, RegKey* out, bool* created) {
    return Create(nullptr, root, sub_key, out, created);
}

RegStatus RegKey::Create(const std::shared_ptr<Registry>& registry, RegRoot root,
                         std::u16string_view sub_key, RegKey* out, bool* created) {
    RegKey root_key;
    root_key.kind_ = Kind::kStored;
    root_key.root_ = root;
    root_key.access_ = RegAccess::kAll;
    root_key.registry_ = registry;
    root_key.id_ = RootKeyId(root);
    return root_key.CreateSubKey(sub_key, out, created);
}

RegStatus RegKey::OpenSubKey(std::u16string_view sub_key, RegAccess access, RegKey* out) const {
    if (out == nullptr || kind_ == Kind::kClosed) {
        return RegStatus::kInvalid;
    }
    std::vector<std::u16string> components;
    if (SplitKeyPath(sub_key, &components) != RegStatus::kOk) {
        return RegStatus::kInvalid;
    }
    // Paths below HKLM\HARDWARE belong to the device view, stored or not.
    std::vector<std::u16string> from_machine;
    if (kind_ == Kind::kDeviceView) {
        for (int depth = 1; depth <= id_; ++depth) {
            from_machine.push_back(DeviceViewKeyName(depth));
        }
    }
    const bool at_machine_root = kind_ == Kind::kStored && root_ == RegRoot::kLocalMachine &&
                                 id_ == RootKeyId(RegRoot::kLocalMachine);
    if (kind_ == Kind::kDeviceView || at_machine_root) {
        from_machine.insert(from_machine.end(), components.begin(), components.end());
        const int depth = DeviceViewDepth(Folded(from_machine));
        if (depth == 0) {
            return RegStatus::kNotFound;
        }
        if (depth > 0) {
            if (access != RegAccess::kRead) {
                return RegStatus::kAccessDenied;
            }
            RegKey view;
            view.kind_ = Kind::kDeviceView;
            view.root_ = RegRoot::kLocalMachine;
            view.access_ = RegAccess::kRead;
            view.id_ = depth;
            if (depth == kViewValueDepth) {
                view.devices_ = ListSerialDevices();
            }
            *out = std::move(view);
            return RegStatus::kOk;
        }
    }
    std::shared_ptr<Registry> registry;
    RegStatus status = UserRegistry(registry_, &registry);
    if (status != RegStatus::kOk) {
        return status;
    }
    RegKeyId id = 0;
    status = registry->store().FindKey(id_, components, &id);
    if (status != RegStatus::kOk) {
        return status;
    }
    RegKey key;
    key.kind_ = Kind::kStored;
    key.root_ = root_;
    key.access_ = access;
    key.registry_ = std::move(registry);
    key.id_ = id;
    *out = std::move(key);
    return RegStatus::kOk;
}

RegStatus RegKey::CreateSubKey(std::u16string_view sub_key, RegKey* out, bool* created) const {
    if (out == nullptr || kind_ == Kind::kClosed) {
        return RegStatus::kInvalid;
    }
    std::vector<std::u16string> components;
    if (SplitKeyPath(sub_key, &components) != RegStatus::kOk) {
        return RegStatus::kInvalid;
    }
    if (kind_ == Kind::kDeviceView) {
        return RegStatus::kAccessDenied;
    }
    if (root_ == RegRoot::kLocalMachine && id_ == RootKeyId(RegRoot::kLocalMachine) &&
        DeviceViewDepth(Folded(components)) >= 0) {
        return RegStatus::kAccessDenied;
    }
    if (access_ == RegAccess::kRead) {
        return RegStatus::kAccessDenied;
    }
    std::shared_ptr<Registry> registry;
    RegStatus status = UserRegistry(registry_, &registry);
    if (status != RegStatus::kOk) {
        return status;
    }
    RegKeyId id = 0;
    status = registry->store().CreateKey(id_, components, &id, created);
    if (status != RegStatus::kOk) {
        return status;
    }
    RegKey key;
    key.kind_ = Kind::kStored;
    key.root_ = root_;
    key.access_ = RegAccess::kAll;
    key.registry_ = std::move(registry);
    key.id_ = id;
    *out = std::move(key);
    return RegStatus::kOk;
}

RegStatus RegKey::CheckWritable() const {
    if (kind_ == Kind::kClosed) {
        return RegStatus::kInvalid;
    }
    if (kind_ == Kind::kDeviceView || access_ == RegAccess::kRead) {
        return RegStatus::kAccessDenied;
    }
    return RegStatus::kOk;
}

RegStatus RegKey::SetValue(std::u16string_view name, RegType type, const void* data,
                           uint32_t size) {
    const RegStatus status = CheckWritable();
    if (status != RegStatus::kOk) {
        return status;
    }
    if (name.size() > kRegMaxValueName || !ValidType(type, size) ||
        (data == nullptr && size != 0)) {
        return RegStatus::kInvalid;
    }
    return registry_->store().SetValue(id_, name, type, data, size);
}

RegStatus RegKey::SetString(std::u16string_view name, std::u16string_view text) {
    const std::vector<uint8_t> bytes = StringBytes(text);
    return SetValue(name, RegType::kSz, bytes.data(), static_cast<uint32_t>(bytes.size()));
}

RegStatus RegKey::SetDword(std::u16string_view name, uint32_t value) {
    const uint8_t bytes[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                              static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
    return SetValue(name, RegType::kDword, bytes, sizeof bytes);
}

RegStatus RegKey::QueryValue(std::u16string_view name, RegType* type,
                             std::vector<uint8_t>* data) const {
    if (kind_ == Kind::kClosed || data == nullptr) {
        return RegStatus::kInvalid;
    }
    if (!CanRead(access_)) {
        return RegStatus::kAccessDenied;
    }
    RegType found = RegType::kNone;
    if (kind_ == Kind::kDeviceView) {
        const std::string folded = FoldRegistryName(name);
        const auto device = std::find_if(
            devices_.begin(), devices_.end(),
            [&folded](const SerialDeviceEntry& d) { return FoldRegistryName(d.name) == folded; });
        if (device == devices_.end()) {
            return RegStatus::kNotFound;
        }
        found = RegType::kSz;
        *data = StringBytes(device->path);
    } else {
        const RegStatus status = registry_->store().GetValue(id_, name, &found, data);
        if (status != RegStatus::kOk) {
            return status;
        }
    }
    if (type != nullptr) {
        *type = found;
    }
    return RegStatus::kOk;
}

RegStatus RegKey::QueryValue(std::u16string_view name, RegType* type, void* data,
                             uint32_t* size) const {
    if (data != nullptr && size == nullptr) {
        return RegStatus::kInvalid;
    }
    std::vector<uint8_t> bytes;
    const RegStatus status = QueryValue(name, type, &bytes);
    if (status != RegStatus::kOk) {
        return status;
    }
    const auto needed = static_cast<uint32_t>(bytes.size());
    if (data != nullptr && *size < needed) {
        *size = needed;
        return RegStatus::kMoreData;
    }
    if (data != nullptr && needed > 0) {
        std::memcpy(data, bytes.data(), needed);
    }
    if (size != nullptr) {
        *size = needed;
    }
    return RegStatus::kOk;
}

RegStatus RegKey::SubKeyNames(std::vector<std::u16string>* names) const {
    if (kind_ == Kind::kClosed || names == nullptr) {
        return RegStatus::kInvalid;
    }
    if (!CanRead(access_)) {
        return RegStatus::kAccessDenied;
    }
    names->clear();
    if (kind_ == Kind::kDeviceView) {
        if (id_ < kViewValueDepth) {
            names->push_back(DeviceViewKeyName(static_cast<int>(id_) + 1));
        }
        return RegStatus::kOk;
    }
    const RegStatus status = registry_->store().SubKeyNames(id_, -1, names);
    if (status == RegStatus::kOk && root_ == RegRoot::kLocalMachine &&
        id_ == RootKeyId(RegRoot::kLocalMachine)) {
        // The view's top key takes its place among the stored ones, in the same order.
        const std::u16string hardware = DeviceViewKeyName(1);
        const std::string folded = FoldRegistryName(hardware);
        const auto place = std::find_if(names->begin(), names->end(), [&folded](const auto& n) {
            return FoldRegistryName(n) > folded;
        });
        names->insert(place, hardware);
    }
    return status;
}

RegStatus RegKey::ValueNames(std::vector<std::u16string>* names) const {
    if (kind_ == Kind::kClosed || names == nullptr) {
        return RegStatus::kInvalid;
    }
    if (!CanRead(access_)) {
        return RegStatus::kAccessDenied;
    }
    names->clear();
    if (kind_ == Kind::kDeviceView) {
        for (const SerialDeviceEntry& device : devices_) {
            names->push_back(device.name);
        }
        return RegStatus::kOk;
    }
    return registry_->store().ValueNames(id_, -1, names, nullptr);
}

RegStatus RegKey::EnumKey(uint32_t index, std::u16string* name) const {
    if (kind_ == Kind::kClosed || name == nullptr) {
        return RegStatus::kInvalid;
    }
    std::vector<std::u16string> names;
    const bool whole_list =
        kind_ == Kind::kDeviceView ||
        (root_ == RegRoot::kLocalMachine && id_ == RootKeyId(RegRoot::kLocalMachine));
    RegStatus status;
    if (whole_list || !CanRead(access_)) {
        status = SubKeyNames(&names);
        if (status == RegStatus::kOk && index >= names.size()) {
            status = RegStatus::kNotFound;
        }
        if (status == RegStatus::kOk) {
            *name = names[index];
        }
        return status;
    }
    status = registry_->store().SubKeyNames(id_, index, &names);
    if (status == RegStatus::kOk) {
        *name = names.front();
    }
    return status;
}

RegStatus RegKey::EnumValue(uint32_t index, std::u16string* name, RegType* type) const {
    if (kind_ == Kind::kClosed || name == nullptr) {
        return RegStatus::kInvalid;
    }
    if (!CanRead(access_)) {
        return RegStatus::kAccessDenied;
    }
    if (kind_ == Kind::kDeviceView) {
        if (index >= devices_.size()) {
            return RegStatus::kNotFound;
        }
        *name = devices_[index].name;
        if (type != nullptr) {
            *type = RegType::kSz;
        }
        return RegStatus::kOk;
    }
    std::vector<std::u16string> names;
    std::vector<RegType> types;
    const RegStatus status = registry_->store().ValueNames(id_, index, &names, &types);
    if (status == RegStatus::kOk) {
        *name = names.front();
        if (type != nullptr) {
            *type = types.front();
        }
    }
    return status;
}

RegStatus RegKey::DeleteValue(std::u16string_view name) {
    const RegStatus status = CheckWritable();
    if (status != RegStatus::kOk) {
        return status;
    }
    return registry_->store().DeleteValue(id_, name);
}

RegStatus RegKey::DeleteKey(std::u16string_view sub_key) {
    return DeleteSubKey(sub_key, false);
}

RegStatus RegKey::DeleteTree(std::u16string_view sub_key) {
    return DeleteSubKey(sub_key, true);
}

RegStatus RegKey::DeleteSubKey(std::u16string_view sub_key, bool recursive) {
    RegStatus status = CheckWritable();
    if (status != RegStatus::kOk) {
        return status;
    }
    std::vector<std::u16string> components;
    if (SplitKeyPath(sub_key, &components) != RegStatus::kOk || components.empty()) {
        return RegStatus::kInvalid;
    }
    if (root_ == RegRoot::kLocalMachine && id_ == RootKeyId(RegRoot::kLocalMachine) &&
        DeviceViewDepth(Folded(components)) >= 0) {
        return RegStatus::kAccessDenied;
    }
    return registry_->store().DeleteKey(id_, components, recursive);
}

}  // namespace kem::platform
