#include "terminal/port_list.h"

#include <algorithm>
#include <cstdint>

#include "platform/registry.h"
#include "terminal/link_text.h"

using kem::platform::RegAccess;
using kem::platform::RegKey;
using kem::platform::RegRoot;
using kem::platform::RegStatus;
using kem::platform::RegType;

std::vector<std::u16string> BuildPortList(const std::vector<std::u16string>& serialcomm_values) {
    std::vector<std::u16string> list;
    list.reserve(serialcomm_values.size() + 2);
    for (const auto& value : serialcomm_values) {
        if (value.empty() || std::find(list.begin(), list.end(), value) != list.end()) {
            continue;
        }
        list.push_back(value);
    }
    list.emplace_back(kTcpClientPortName);
    list.emplace_back(kTcpServerPortName);
    return list;
}

std::vector<std::u16string> SerialCommPortsOf(const RegKey& key) {
    std::vector<std::u16string> ports;
    std::vector<std::u16string> names;
    if (!key.IsOpen() || key.ValueNames(&names) != RegStatus::kOk) {
        return ports;
    }
    for (const auto& name : names) {
        RegType type = RegType::kNone;
        std::vector<uint8_t> data;
        if (key.QueryValue(name, &type, &data) != RegStatus::kOk || type != RegType::kSz) {
            continue;
        }
        std::u16string text;
        for (size_t i = 0; i + 1 < data.size(); i += 2) {
            const auto unit = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
            if (unit == u'\0') {
                break;
            }
            text += unit;
        }
        ports.push_back(std::move(text));
    }
    return ports;
}

std::vector<std::u16string> ReadSerialCommPorts() {
    RegKey key;
    if (RegKey::Open(RegRoot::kLocalMachine, kSerialCommKey, RegAccess::kRead, &key) !=
        RegStatus::kOk) {
        return {};
    }
    return SerialCommPortsOf(key);
}
