// Registry databases in temporary folders (support/scratch_files.h), short ways to make keys
// and read them back, and environment variables set for one scope.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "support/scratch_files.h"

namespace kem::testing {

inline std::shared_ptr<platform::Registry> OpenRegistry(const std::string& path,
                                                        int busy_timeout_ms = 5000) {
    platform::RegistryOptions options;
    options.busy_timeout_ms = busy_timeout_ms;
    std::shared_ptr<platform::Registry> registry;
    platform::RegistryProblem problem;
    EXPECT_EQ(platform::Registry::OpenAt(path, options, &registry, &problem),
              platform::RegStatus::kOk)
        << problem.message;
    return registry;
}

// Creates (or opens) `path` below HKCU of `registry`; a closed key on failure.
inline platform::RegKey MakeKey(const std::shared_ptr<platform::Registry>& registry,
                                std::u16string_view path) {
    platform::RegKey key;
    EXPECT_EQ(platform::RegKey::Create(registry, platform::RegRoot::kCurrentUser, path, &key),
              platform::RegStatus::kOk);
    return key;
}

// Opens `path` below `root` of `registry` (the user registry when null); closed on failure.
inline platform::RegKey OpenKey(const std::shared_ptr<platform::Registry>& registry,
                                platform::RegRoot root, std::u16string_view path,
                                platform::RegAccess access = platform::RegAccess::kRead) {
    platform::RegKey key;
    EXPECT_EQ(registry ? platform::RegKey::Open(registry, root, path, access, &key)
                       : platform::RegKey::Open(root, path, access, &key),
              platform::RegStatus::kOk);
    return key;
}

inline std::vector<std::u16string> ValueNamesOf(const platform::RegKey& key) {
    std::vector<std::u16string> names;
    EXPECT_EQ(key.ValueNames(&names), platform::RegStatus::kOk);
    return names;
}

inline std::vector<std::u16string> SubKeysOf(const platform::RegKey& key) {
    std::vector<std::u16string> names;
    EXPECT_EQ(key.SubKeyNames(&names), platform::RegStatus::kOk);
    return names;
}

// A value's type and bytes; kNone and nothing when it cannot be read.
using RawValue = std::pair<platform::RegType, std::vector<uint8_t>>;
inline RawValue QueryRaw(const platform::RegKey& key, std::u16string_view name) {
    RawValue raw{platform::RegType::kNone, {}};
    key.QueryValue(name, &raw.first, &raw.second);
    return raw;
}

// The REG_SZ text of `name` without its terminator; empty when missing or of another type.
inline std::u16string QueryText(const platform::RegKey& key, std::u16string_view name) {
    const auto [type, data] = QueryRaw(key, name);
    std::u16string text;
    for (size_t i = 0; type == platform::RegType::kSz && i + 1 < data.size(); i += 2) {
        text.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
    }
    if (!text.empty() && text.back() == u'\0') {
        text.pop_back();
    }
    return text;
}

// Runs `body` in a forked child that ends through exit(), so that its destructors run;
// whether it returned true.
inline bool PassesInChild(const std::function<bool()>& body) {
    std::fflush(nullptr);  // or the child's exit prints the parent's buffered output again
    const pid_t child = fork();
    if (child == 0) {
        std::exit(body() ? 0 : 1);
    }
    int status = 0;
    return child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

// Sets (or with nullptr removes) an environment variable for one scope, then restores it.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) {
            old_ = old;
        }
        value ? setenv(name, value, 1) : unsetenv(name);
    }
    ~ScopedEnv() { old_ ? setenv(name_, old_->c_str(), 1) : unsetenv(name_); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* name_;
    std::optional<std::string> old_;
};

}  // namespace kem::testing
