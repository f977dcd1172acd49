#include "terminal/config_location.h"

#include <gtest/gtest.h>

TEST(ConfigLocationTest, KeyIsNamedAfterTheExecutable) {
    const struct {
        const char16_t* file_name;
        const char16_t* key;
    } rows[] = {
        {u"KemPemvilo.exe", u"HKCU\\Software\\Quorbel\\KemPemvilo\\KemPemvilo"},
        {u"tool.exe", u"HKCU\\Software\\Quorbel\\KemPemvilo\\tool"},
        {u"TOOL.EXE", u"HKCU\\Software\\Quorbel\\KemPemvilo\\TOOL"},
        // Five characters are enough for a name of its own, ".exe" and all.
        {u"a.exe", u"HKCU\\Software\\Quorbel\\KemPemvilo\\a"},
        {u"b.ex", u"HKCU\\Software\\Quorbel\\KemPemvilo"},  // shorter than 5
        {u"kempemvilo", u"HKCU\\Software\\Quorbel\\KemPemvilo\\kempemvilo"},
        {u".exe.exe", u"HKCU\\Software\\Quorbel\\KemPemvilo\\.exe"},
        {u"终端程序.exe", u"HKCU\\Software\\Quorbel\\KemPemvilo\\终端程序"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(RegistryConfigKey(row.file_name), row.key);
    }
}

TEST(ConfigLocationTest, RunningKeyUsesTheTestBinaryName) {
    EXPECT_EQ(RunningRegistryConfigKey(), u"HKCU\\Software\\Quorbel\\KemPemvilo\\terminal_tests");
}

TEST(ConfigLocationTest, FileStemDropsFolderAndLastExtension) {
    EXPECT_EQ(ConfigFileStem(u"C:\\a\\b.pvto"), u"b");
    EXPECT_EQ(ConfigFileStem(u"/home/u/50%.cfg.pvto"), u"50%.cfg");
    EXPECT_EQ(ConfigFileStem(u"noext"), u"noext");
    EXPECT_EQ(ConfigFileStem(u"/dir.d/file"), u"file");
    EXPECT_EQ(ConfigFileStem(u""), u"");
}
