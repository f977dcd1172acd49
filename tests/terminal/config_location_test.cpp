// Where the settings live: the registry key named after the executable, and the configuration
// file's stem that the window title and the traffic log names are made from.
#include "terminal/config_location.h"

#include <gtest/gtest.h>

TEST(ConfigLocationTest, KeyIsNamedAfterTheExecutable) {
    const std::u16string base = u"HKCU\\Software\\Quorbel\\KemPemvilo";
    const std::u16string_view rows[][2] = {
        {u"KemPemvilo.exe", u"\\KemPemvilo"},
        {u"tool.exe", u"\\tool"},
        {u"TOOL.EXE", u"\\TOOL"},
        {u"a.exe", u"\\a"},  // 5 units: a name of its own
        {u"b.ex", u""},
        {u"kempemvilo", u"\\kempemvilo"},
        {u".exe.exe", u"\\.exe"},
        {u"终端程序.exe", u"\\终端程序"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(RegistryConfigKey(row[0]), base + std::u16string(row[1]));
    }
    EXPECT_EQ(RunningRegistryConfigKey(), base + u"\\terminal_tests");
}

TEST(ConfigLocationTest, FileStemDropsFolderAndLastExtension) {
    const std::u16string_view rows[][2] = {
        {u"C:\\cfg\\lab.pvto", u"lab"},
        {u"/home/u/50%.cfg.pvto", u"50%.cfg"},
        {u"C:\\cfg/sub\\x.pvto", u"x"},
        {u"lab.pvto", u"lab"},
        {u"noext", u"noext"},
        {u"/dir.d/file", u"file"},
        {u"D:\\配置\\实验.pvto", u"实验"},
        {u"", u""},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(ConfigFileStem(row[0]), row[1]);
    }
}
