#include "terminal/config_store.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>

#include "config_test_support.h"

namespace {

void SetText(char16_t* field, const char16_t* text) {
    std::u16string value(text);
    std::memcpy(field, value.c_str(), (value.size() + 1) * sizeof(char16_t));
}

}  // namespace

using ConfigStoreTest = ConfigTest;

TEST_F(ConfigStoreTest, FileRoundTripKeepsEveryChangedField) {
    SetText(g_AppConfig.ComPortName, u"/dev/ttyUSB0");
    SetText(g_AppConfig.InputBoxData, u"中文\\x0D\\x0A[CR]");
    SetText(g_AppConfig.CustomEntries.EntriesData[17], u"last entry");
    g_AppConfig.AutoClearSize = 4096;
    g_AppConfig.ShowHex = 1;
    const std::u16string path = PathOf("a.pvto");
    ASSERT_EQ(SaveConfig(path), 1);
    const tagAppConfig saved = g_AppConfig;

    g_AppConfig = DefaultAppConfig();
    ASSERT_EQ(LoadConfig(path), 1);
    EXPECT_EQ(std::memcmp(&g_AppConfig, &saved, sizeof saved), 0);
    const std::string bytes = Slurp(path);
    EXPECT_EQ(bytes.rfind("\xEF\xBB\xBF", 0), 0u) << "written as UTF-8 with its mark";
    EXPECT_NE(bytes.find("AutoClearSize=4096\r\n"), std::string::npos);
}

TEST_F(ConfigStoreTest, KeysMissingFromTheFileKeepTheirDefaults) {
    const std::u16string path = PathOf("partial.pvto");
    std::ofstream(root_ / "partial.pvto") << "[Config]\r\nShowHex=true\r\n";
    ASSERT_EQ(LoadConfig(path), 1);
    EXPECT_EQ(g_AppConfig.ShowHex, 1);
    EXPECT_EQ(g_AppConfig.AutoClearSize, 128);
    EXPECT_EQ(std::u16string(g_AppConfig.ComPortParam), u"9600,N,8,1");
}

TEST_F(ConfigStoreTest, AMissingFileIsEmptyAndIsCreatedBySave) {
    const std::u16string path = PathOf("new.pvto");
    EXPECT_EQ(LoadConfig(path), 1);
    EXPECT_EQ(SaveConfig(path), 1);
    EXPECT_TRUE(std::filesystem::exists(root_ / "new.pvto"));
}

TEST_F(ConfigStoreTest, AFileThatCannotBeReadIsNeverWrittenOver) {
    // A folder in place of the file: it exists, but cannot be read as one.
    std::filesystem::create_directory(root_ / "folder.pvto");
    const std::u16string path = PathOf("folder.pvto");
    g_AppConfig.ShowHex = 1;
    EXPECT_EQ(LoadConfig(path), 0);
    EXPECT_EQ(g_AppConfig.ShowHex, 1) << "the record keeps what it had";
    EXPECT_EQ(SaveConfig(path), 0);
    EXPECT_TRUE(std::filesystem::is_directory(root_ / "folder.pvto"));
}

TEST_F(ConfigStoreTest, ASaveThatCannotWriteFails) {
    std::ofstream(root_ / "plain") << "x";
    EXPECT_EQ(SaveConfig(PathOf("plain/below.pvto")), 0);
}

TEST_F(ConfigStoreTest, RegistryRoundTripUnderTheExecutablesKey) {
    EXPECT_EQ(LoadConfig(u""), 1) << "an empty registry holds nothing, which is no failure";
    EXPECT_EQ(g_AppConfig.AutoClearSize, 128);
    g_AppConfig.AutoClearSize = 64;
    SetText(g_AppConfig.NetPortParam, u"192.168.1.7:502");
    ASSERT_EQ(SaveConfig(u""), 1);
    g_AppConfig = DefaultAppConfig();
    ASSERT_EQ(LoadConfig(u""), 1);
    EXPECT_EQ(g_AppConfig.AutoClearSize, 64);
    EXPECT_EQ(std::u16string(g_AppConfig.NetPortParam), u"192.168.1.7:502");

    CKemRegProfile store;
    ASSERT_EQ(store.SetLocation(u"HKCU\\Software\\Quorbel\\KemPemvilo\\terminal_tests", 0), 1);
    EXPECT_EQ(store.GetString(u"Config", u"AutoClearSize", u"", nullptr), u"64");
}

TEST_F(ConfigStoreTest, StartUpMakesARelativePathAbsoluteAndLoadsIt) {
    std::ofstream(root_ / "rel.pvto") << "[Config]\r\nTopmost=true\r\n";
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(root_);
    const CommandLineOptions options = LoadSettingsAtStartUp({u"prog", u"rel.pvto", u"-start"});
    std::filesystem::current_path(previous);
    EXPECT_TRUE(options.open_at_start);
    EXPECT_EQ(g_strConfigFile, PathOf("rel.pvto"));
    EXPECT_EQ(g_AppConfig.Topmost, 1);
}

TEST_F(ConfigStoreTest, ExitSaveFollowsAutoSave) {
    g_strConfigFile = PathOf("exit.pvto");
    g_AppConfig.System.AutoSave = 0;
    EXPECT_EQ(SaveSettingsAtExit(), 1);
    EXPECT_FALSE(std::filesystem::exists(root_ / "exit.pvto"));
    g_AppConfig.System.AutoSave = 1;
    EXPECT_EQ(SaveSettingsAtExit(), 1);
    EXPECT_TRUE(std::filesystem::exists(root_ / "exit.pvto"));
}

TEST_F(ConfigStoreTest, ADamagedRegistryKeepsTheDefaultsAndIsNotWrittenOver) {
    const std::string garbage(4096, '\x5A');
    std::ofstream(root_ / "registry.sqlite3", std::ios::binary) << garbage;
    g_AppConfig.AutoClearSize = 77;
    LoadConfig(u"");
    EXPECT_EQ(g_AppConfig.AutoClearSize, 77);
    EXPECT_EQ(SaveConfig(u""), 0) << "a save that wrote nothing is no success";
    EXPECT_EQ(Slurp(PathOf("registry.sqlite3")), garbage);
}
