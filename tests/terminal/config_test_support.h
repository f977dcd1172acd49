// A temporary registry database, desktop folders and configuration folder per test, and the
// settings record back at its defaults afterwards.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "settings/app_config.h"
#include "settings/app_config_ext.h"
#include "settings/reg_profile.h"
#include "support/scratch_files.h"
#include "terminal/config_store.h"

class ConfigTest : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("KEMPEMVILO_REGISTRY", (root_ / "registry.sqlite3").c_str(), 1);
        setenv("XDG_DATA_HOME", (root_ / "data").c_str(), 1);
        setenv("XDG_CONFIG_HOME", (root_ / "config").c_str(), 1);
        g_AppConfig = DefaultAppConfig();
        g_AppConfigExt = DefaultAppConfigExt();
        g_strConfigFile.clear();
    }
    void TearDown() override {
        g_AppConfig = DefaultAppConfig();
        g_AppConfigExt = DefaultAppConfigExt();
        g_strConfigFile.clear();
        unsetenv("KEMPEMVILO_REGISTRY");
        unsetenv("XDG_DATA_HOME");
        unsetenv("XDG_CONFIG_HOME");
    }

    std::u16string PathOf(const char* name) const {
        const std::string path = (root_ / name).string();
        return std::u16string(path.begin(), path.end());
    }

    static std::string Slurp(const std::u16string& path) {
        return kem::testing::ReadBytes(std::string(path.begin(), path.end()));
    }

    kem::testing::TempFolder folder_;
    const std::filesystem::path& root_ = folder_.path();
};
