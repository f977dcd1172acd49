// Registry databases in temporary folders (support/scratch_files.h), and small helpers to read
// values back.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "support/scratch_files.h"

namespace kem::testing {

inline std::vector<char> ReadByteVector(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteByteVector(const std::string& path, const std::vector<char>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::shared_ptr<platform::Registry> OpenRegistry(const std::string& path,
                                                        int busy_timeout_ms = 5000) {
    platform::RegistryOptions options;
    options.busy_timeout_ms = busy_timeout_ms;
    std::shared_ptr<platform::Registry> registry;
    platform::RegistryProblem problem;
    const platform::RegStatus status =
        platform::Registry::OpenAt(path, options, &registry, &problem);
    EXPECT_EQ(status, platform::RegStatus::kOk) << problem.message;
    return registry;
}

// The REG_SZ text of `name` without its terminator; empty when missing or of another type.
inline std::u16string QueryText(const platform::RegKey& key, std::u16string_view name) {
    platform::RegType type = platform::RegType::kNone;
    std::vector<uint8_t> data;
    if (key.QueryValue(name, &type, &data) != platform::RegStatus::kOk ||
        type != platform::RegType::kSz) {
        return {};
    }
    std::u16string text;
    for (size_t i = 0; i + 1 < data.size(); i += 2) {
        text.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
    }
    if (!text.empty() && text.back() == u'\0') {
        text.pop_back();
    }
    return text;
}

}  // namespace kem::testing
