#include "platform/registry_serialcomm.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "platform/code_page.h"

namespace kem::platform {
namespace {

constexpr std::string_view kDevPrefix = "/dev/";

// Compares names with their digit runs taken as numbers, so ttyS2 sorts before ttyS10.
bool NaturalLess(const std::string& a, const std::string& b) {
    size_t i = 0;
    size_t j = 0;
    while (i < a.size() && j < b.size()) {
        const bool digit_a = std::isdigit(static_cast<unsigned char>(a[i])) != 0;
        const bool digit_b = std::isdigit(static_cast<unsigned char>(b[j])) != 0;
        if (digit_a && digit_b) {
            size_t end_a = i;
            size_t end_b = j;
            while (end_a < a.size() && std::isdigit(static_cast<unsigned char>(a[end_a]))) {
                ++end_a;
            }
            while (end_b < b.size() && std::isdigit(static_cast<unsigned char>(b[end_b]))) {
                ++end_b;
            }
            // Strip leading zeros, then the longer run is the larger number.
            while (i + 1 < end_a && a[i] == '0') {
                ++i;
            }
            while (j + 1 < end_b && b[j] == '0') {
                ++j;
            }
            if (end_a - i != end_b - j) {
                return end_a - i < end_b - j;
            }
            const int order = a.compare(i, end_a - i, b, j, end_b - j);
            if (order != 0) {
                return order < 0;
            }
            i = end_a;
            j = end_b;
            continue;
        }
        if (a[i] != b[j]) {
            return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]);
        }
        ++i;
        ++j;
    }
    return a.size() - i < b.size() - j;
}

// Reads a small sysfs attribute; empty when it cannot be read.
std::string ReadAttribute(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return {};
    }
    char buffer[64];
    const ssize_t length = read(fd, buffer, sizeof buffer);
    close(fd);
    if (length <= 0) {
        return {};
    }
    std::string text(buffer, static_cast<size_t>(length));
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) {
        text.pop_back();
    }
    return text;
}

// The 8250 driver registers a fixed number of ports whether or not a UART answers; the empty
// ones report type 0 (PORT_UNKNOWN) and would only clutter the list.
bool IsEmptyUartSlot(const std::string& entry_folder) {
    return ReadAttribute(entry_folder + "/type") == "0";
}

std::vector<std::string> SysfsDevices(std::string_view sysfs_tty) {
    std::vector<std::string> names;
    const std::string folder(sysfs_tty);
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr) {
        return names;
    }
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.empty() || name[0] == '.') {
            continue;
        }
        const std::string entry_folder = folder + "/" + name;
        struct stat info;
        if (stat((entry_folder + "/device").c_str(), &info) != 0) {
            continue;  // virtual terminals and pseudo-terminals have no device behind them
        }
        if (IsEmptyUartSlot(entry_folder)) {
            continue;
        }
        names.push_back(name);
    }
    closedir(dir);
    std::sort(names.begin(), names.end(), NaturalLess);
    return names;
}

std::vector<std::string> ExtraPaths() {
    std::vector<std::string> paths;
    const char* value = std::getenv("KEMPEMVILO_SERIAL_EXTRA");
    if (value == nullptr) {
        return paths;
    }
    std::string current;
    for (const char* p = value;; ++p) {
        if (*p == '\0' || *p == ':' || *p == ',') {
            if (!current.empty()) {
                paths.push_back(current);
            }
            current.clear();
            if (*p == '\0') {
                break;
            }
        } else {
            current.push_back(*p);
        }
    }
    return paths;
}

}  // namespace

std::vector<SerialDeviceEntry> ListSerialDevices(std::string_view sysfs_tty) {
    std::vector<SerialDeviceEntry> devices;
    std::vector<std::string> seen;
    auto add = [&devices, &seen](const std::string& path) {
        if (std::find(seen.begin(), seen.end(), path) != seen.end()) {
            return;
        }
        seen.push_back(path);
        const std::string name =
            path.starts_with(kDevPrefix) ? path.substr(kDevPrefix.size()) : path;
        devices.push_back({Utf8ToWide(name), Utf8ToWide(path)});
    };
    for (const std::string& name : SysfsDevices(sysfs_tty)) {
        add(std::string(kDevPrefix) + name);
    }
    for (const std::string& path : ExtraPaths()) {
        add(path);
    }
    return devices;
}

int DeviceViewDepth(const std::vector<std::string>& folded_components) {
    static const char* const kPath[] = {"hardware", "devicemap", "serialcomm"};
    if (folded_components.empty() || folded_components[0] != kPath[0]) {
        return -1;
    }
    if (folded_components.size() > 3) {
        return 0;
    }
    for (size_t i = 1; i < folded_components.size(); ++i) {
        if (folded_components[i] != kPath[i]) {
            return 0;
        }
    }
    return static_cast<int>(folded_components.size());
}

std::u16string DeviceViewKeyName(int depth) {
    switch (depth) {
        case 1:
            return u"HARDWARE";
        case 2:
            return u"DEVICEMAP";
        case 3:
            return u"SERIALCOMM";
        default:
            return {};
    }
}

}  // namespace kem::platform
