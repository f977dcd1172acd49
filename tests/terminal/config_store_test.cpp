// The settings: the fixed record and the later options beside it, in a file or under the
// executable's registry key; defaults for what is absent; stores that fail or are damaged.
#include "terminal/config_store.h"

#include <gtest/gtest.h>

#include <cstring>

#include "config_test_support.h"
#include "settings/private_profile.h"
#include "terminal/config_location.h"

namespace {

void SetText(char16_t* field, const char16_t* text) {
    std::u16string value(text);
    std::memcpy(field, value.c_str(), (value.size() + 1) * sizeof(char16_t));
}

using ConfigStoreTest = ConfigTest;

TEST_F(ConfigStoreTest, FileRoundTripKeepsEveryFieldAndTheOptionsInTheirOwnSection) {
    SetText(g_AppConfig.ComPortName, u"/dev/ttyUSB0");
    SetText(g_AppConfig.InputBoxData, u"中文\\x0D\\x0A[CR]");
    SetText(g_AppConfig.CustomEntries.EntriesData[17], u"last entry");
    g_AppConfig.AutoClearSize = 4096;
    g_AppConfig.ShowHex = 1;
    g_AppConfigExt.AutoReconnect = 1;
    g_AppConfigExt.FrameGap = 35;
    const std::u16string path = PathOf("a.pvto");
    ASSERT_EQ(SaveConfig(path), 1);
    const tagAppConfig saved = g_AppConfig;
    g_AppConfig = DefaultAppConfig();
    g_AppConfigExt = DefaultAppConfigExt();
    ASSERT_EQ(LoadConfig(path), 1);
    EXPECT_EQ(std::memcmp(&g_AppConfig, &saved, sizeof saved), 0);
    EXPECT_EQ(std::tuple(g_AppConfigExt.AutoReconnect, g_AppConfigExt.TransmitAutoReconnect,
                         g_AppConfigExt.FrameGap),
              std::tuple(1, 0, 35));

    const std::string bytes = Slurp(path);
    EXPECT_EQ(bytes.rfind("\xEF\xBB\xBF", 0), 0u) << "written as UTF-8 with its mark";
    EXPECT_NE(bytes.find("AutoClearSize=4096\r\n"), std::string::npos);
    const size_t section =
        bytes.find("[Config_Ext]\r\nAutoReconnect=true\r\nTransmitAutoReconnect=false\r\n");
    ASSERT_NE(section, std::string::npos) << bytes;
    EXPECT_EQ(bytes.find("FrameGap"), bytes.find("FrameGap=35\r\n", section)) << "only there";

    // A reader that binds only the fixed record reads the same file unchanged.
    tagAppConfig read = DefaultAppConfig();
    CKemPrivateProfile store;
    store.SetLocation(path.c_str(), 0);
    ASSERT_NE(store.Load(), 0);
    ASSERT_GT(store.LoadStruct(kAppConfigSection, &read, kAppConfigSchema, nullptr, u"|", u",",
                               u"{", u"}"),
              0);
    EXPECT_EQ(std::memcmp(&read, &saved, sizeof read), 0);
}

TEST_F(ConfigStoreTest, KeysMissingFromTheFileKeepTheirDefaults) {
    // Written by hand, or by an older version without the section or a key.
    const struct {
        const char* text;
        int show_hex, auto_reconnect, transmit_auto_reconnect, frame_gap;
    } rows[] = {
        {"[Config]\r\nShowHex=true\r\n", 1, 0, 0, 0},
        {"[Config_Ext]\r\nTransmitAutoReconnect=true\r\n", 0, 0, 1, 0},
        {"[Config_Ext]\r\nFrameGap=4\r\n", 0, 0, 0, 4},
        {"[Config_Ext]\r\nAutoReconnect=true\r\n", 0, 1, 0, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        std::ofstream(root_ / "hand.pvto") << row.text;
        g_AppConfig = DefaultAppConfig();
        g_AppConfigExt = DefaultAppConfigExt();
        ASSERT_EQ(LoadConfig(PathOf("hand.pvto")), 1);
        EXPECT_EQ(std::tuple(g_AppConfig.ShowHex, g_AppConfig.AutoClearSize,
                             std::u16string(g_AppConfig.ComPortParam)),
                  std::tuple(row.show_hex, 128, u"9600,N,8,1"));
        EXPECT_EQ(std::tuple(g_AppConfigExt.AutoReconnect, g_AppConfigExt.TransmitAutoReconnect,
                             g_AppConfigExt.FrameGap),
                  std::tuple(row.auto_reconnect, row.transmit_auto_reconnect, row.frame_gap));
    }
}

TEST_F(ConfigStoreTest, FilesThatAreMissingUnreadableOrUnwritable) {
    EXPECT_EQ(LoadConfig(PathOf("new.pvto")), 1) << "missing: empty";
    EXPECT_EQ(SaveConfig(PathOf("new.pvto")), 1);
    EXPECT_TRUE(std::filesystem::exists(root_ / "new.pvto"));
    // A folder in place of the file exists but cannot be read as one: never written over.
    std::filesystem::create_directory(root_ / "folder.pvto");
    g_AppConfig.ShowHex = 1;
    EXPECT_EQ(LoadConfig(PathOf("folder.pvto")), 0);
    EXPECT_EQ(g_AppConfig.ShowHex, 1) << "the record keeps what it had";
    EXPECT_EQ(SaveConfig(PathOf("folder.pvto")), 0);
    EXPECT_TRUE(std::filesystem::is_directory(root_ / "folder.pvto"));
    std::ofstream(root_ / "plain") << "x";
    EXPECT_EQ(SaveConfig(PathOf("plain/below.pvto")), 0);
}

TEST_F(ConfigStoreTest, RegistryRoundTripUnderTheExecutablesKeyWithTheOptionsBeside) {
    EXPECT_EQ(LoadConfig(u""), 1) << "an empty registry holds nothing, which is no failure";
    EXPECT_EQ(std::tuple(g_AppConfig.AutoClearSize, g_AppConfigExt.AutoReconnect),
              std::tuple(128, 0));
    g_AppConfig.AutoClearSize = 64;
    SetText(g_AppConfig.NetPortParam, u"192.168.1.7:502");
    g_AppConfigExt.TransmitAutoReconnect = 1;
    g_AppConfigExt.FrameGap = 120;
    ASSERT_EQ(SaveConfig(u""), 1);
    g_AppConfig = DefaultAppConfig();
    g_AppConfigExt = DefaultAppConfigExt();
    ASSERT_EQ(LoadConfig(u""), 1);
    EXPECT_EQ(std::tuple(g_AppConfig.AutoClearSize, std::u16string(g_AppConfig.NetPortParam)),
              std::tuple(64, u"192.168.1.7:502"));
    EXPECT_EQ(std::tuple(g_AppConfigExt.TransmitAutoReconnect, g_AppConfigExt.AutoReconnect,
                         g_AppConfigExt.FrameGap),
              std::tuple(1, 0, 120));

    CKemRegProfile store;
    ASSERT_EQ(store.SetLocation(RunningRegistryConfigKey().c_str(), 0), 1);
    const std::tuple<const char16_t*, const char16_t*, const char16_t*> values[] = {
        {u"Config", u"AutoClearSize", u"64"}, {u"Config_Ext", u"TransmitAutoReconnect", u"true"},
        {u"Config_Ext", u"FrameGap", u"120"}, {u"Config", u"TransmitAutoReconnect", u"absent"},
        {u"Config", u"FrameGap", u"absent"},
    };
    for (const auto& [section, key, value] : values) {
        EXPECT_EQ(store.GetString(section, key, u"absent", nullptr), value);
    }
}

TEST_F(ConfigStoreTest, ADamagedRegistryKeepsTheRecordAndIsNotWrittenOver) {
    const std::string garbage(4096, '\x5A');
    std::ofstream(root_ / "registry.sqlite3", std::ios::binary) << garbage;
    g_AppConfig.AutoClearSize = 77;
    LoadConfig(u"");
    EXPECT_EQ(g_AppConfig.AutoClearSize, 77);
    EXPECT_EQ(SaveConfig(u""), 0) << "a save that wrote nothing is no success";
    EXPECT_EQ(Slurp(PathOf("registry.sqlite3")), garbage);
}

TEST_F(ConfigStoreTest, StartUpLoadsARelativePathMadeAbsoluteAndExitSaveFollowsAutoSave) {
    std::ofstream(root_ / "rel.pvto") << "[Config]\r\nTopmost=true\r\n";
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(root_);
    const CommandLineOptions options = LoadSettingsAtStartUp({u"prog", u"rel.pvto", u"-start"});
    std::filesystem::current_path(previous);
    EXPECT_TRUE(options.open_at_start);
    EXPECT_EQ(g_strConfigFile, PathOf("rel.pvto"));
    EXPECT_EQ(g_AppConfig.Topmost, 1);

    g_strConfigFile = PathOf("exit.pvto");
    g_AppConfig.System.AutoSave = 0;
    EXPECT_EQ(SaveSettingsAtExit(), 1);
    EXPECT_FALSE(std::filesystem::exists(root_ / "exit.pvto"));
    g_AppConfig.System.AutoSave = 1;
    EXPECT_EQ(SaveSettingsAtExit(), 1);
    EXPECT_TRUE(std::filesystem::exists(root_ / "exit.pvto"));
}

}  // namespace
