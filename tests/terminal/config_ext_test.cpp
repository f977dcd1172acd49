// The later options beside the fixed record: their own section in the file and their own key in
// the registry, defaults when absent, and a record that readers of the fixed layout still read.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#include "settings/private_profile.h"
#include "settings/profile_base.h"
#include "terminal/config_location.h"
#include "terminal/config_test_support.h"

namespace {

using ConfigExtTest = ConfigTest;

TEST_F(ConfigExtTest, FileKeepsTheOptionsInTheirOwnSection) {
    g_AppConfigExt.AutoReconnect = 1;
    g_AppConfigExt.TransmitAutoReconnect = 0;
    const std::u16string path = PathOf("ext.pvto");
    ASSERT_EQ(SaveConfig(path), 1);
    const std::string bytes = Slurp(path);
    EXPECT_NE(bytes.find("[Config_Ext]\r\nAutoReconnect=true\r\nTransmitAutoReconnect=false\r\n"),
              std::string::npos)
        << bytes;

    g_AppConfigExt = DefaultAppConfigExt();
    ASSERT_EQ(LoadConfig(path), 1);
    EXPECT_EQ(g_AppConfigExt.AutoReconnect, 1);
    EXPECT_EQ(g_AppConfigExt.TransmitAutoReconnect, 0);

    // Turned on in the file by hand.
    std::ofstream(root_ / "hand.pvto") << "[Config_Ext]\r\nTransmitAutoReconnect=true\r\n";
    g_AppConfigExt = DefaultAppConfigExt();
    ASSERT_EQ(LoadConfig(PathOf("hand.pvto")), 1);
    EXPECT_EQ(g_AppConfigExt.AutoReconnect, 0);
    EXPECT_EQ(g_AppConfigExt.TransmitAutoReconnect, 1);
}

TEST_F(ConfigExtTest, StoresWithoutTheSectionLeaveTheDefaults) {
    g_AppConfigExt.AutoReconnect = 1;  // a stale value from an earlier load
    g_AppConfigExt = DefaultAppConfigExt();
    std::ofstream(root_ / "old.pvto") << "[Config]\r\nShowHex=true\r\n";
    ASSERT_EQ(LoadConfig(PathOf("old.pvto")), 1);
    EXPECT_EQ(g_AppConfig.ShowHex, 1);
    EXPECT_EQ(g_AppConfigExt.AutoReconnect, 0);
    EXPECT_EQ(g_AppConfigExt.TransmitAutoReconnect, 0);

    ASSERT_EQ(LoadConfig(u""), 1) << "an empty registry";
    EXPECT_EQ(g_AppConfigExt.AutoReconnect, 0);
}

TEST_F(ConfigExtTest, AReaderOfTheFixedRecordReadsAFileWithTheOptionsUnchanged) {
    kem::settings::CopyTextBounded(g_AppConfig.ComPortName, 256, u"/dev/ttyACM0");
    g_AppConfig.LoopSendTime = 250;
    g_AppConfigExt.AutoReconnect = 1;
    g_AppConfigExt.TransmitAutoReconnect = 1;
    const std::u16string path = PathOf("both.pvto");
    ASSERT_EQ(SaveConfig(path), 1);
    const tagAppConfig saved = g_AppConfig;

    // Binds only the fixed record, as a reader that knows nothing of the options does.
    tagAppConfig read = DefaultAppConfig();
    CKemPrivateProfile store;
    store.SetLocation(path.c_str(), 0);
    ASSERT_NE(store.Load(), 0);
    ASSERT_GT(store.LoadStruct(kAppConfigSection, &read, kAppConfigSchema, nullptr, u"|", u",",
                               u"{", u"}"),
              0);
    EXPECT_EQ(std::memcmp(&read, &saved, sizeof read), 0);
}

TEST_F(ConfigExtTest, RegistryKeepsTheOptionsInASiblingKey) {
    g_AppConfigExt.TransmitAutoReconnect = 1;
    ASSERT_EQ(SaveConfig(u""), 1);
    g_AppConfigExt = DefaultAppConfigExt();
    ASSERT_EQ(LoadConfig(u""), 1);
    EXPECT_EQ(g_AppConfigExt.TransmitAutoReconnect, 1);
    EXPECT_EQ(g_AppConfigExt.AutoReconnect, 0);

    CKemRegProfile store;
    ASSERT_EQ(store.SetLocation(u"HKCU\\Software\\Quorbel\\KemPemvilo\\terminal_tests", 0), 1);
    EXPECT_EQ(store.GetString(u"Config_Ext", u"TransmitAutoReconnect", u"", nullptr), u"true");
    EXPECT_EQ(store.GetString(u"Config", u"TransmitAutoReconnect", u"absent", nullptr), u"absent");
}

TEST_F(ConfigExtTest, FrameGapIsADecimalKeyOfTheSectionAndZeroWhenAbsent) {
    EXPECT_EQ(DefaultAppConfigExt().FrameGap, 0);
    g_AppConfigExt.FrameGap = 35;
    const std::u16string path = PathOf("gap.pvto");
    ASSERT_EQ(SaveConfig(path), 1);
    const std::string bytes = Slurp(path);
    const size_t section = bytes.find("[Config_Ext]\r\n");
    ASSERT_NE(section, std::string::npos) << bytes;
    EXPECT_NE(bytes.find("FrameGap=35\r\n", section), std::string::npos) << bytes;
    EXPECT_EQ(bytes.find("FrameGap"), bytes.find("FrameGap=35")) << "only in its own section";

    g_AppConfigExt = DefaultAppConfigExt();
    ASSERT_EQ(LoadConfig(path), 1);
    EXPECT_EQ(g_AppConfigExt.FrameGap, 35);

    // Written by hand; and a file of an older version without the key.
    std::ofstream(root_ / "hand_gap.pvto") << "[Config_Ext]\r\nFrameGap=4\r\n";
    g_AppConfigExt = DefaultAppConfigExt();
    ASSERT_EQ(LoadConfig(PathOf("hand_gap.pvto")), 1);
    EXPECT_EQ(g_AppConfigExt.FrameGap, 4);
    std::ofstream(root_ / "no_gap.pvto") << "[Config_Ext]\r\nAutoReconnect=true\r\n";
    g_AppConfigExt = DefaultAppConfigExt();
    ASSERT_EQ(LoadConfig(PathOf("no_gap.pvto")), 1);
    EXPECT_EQ(g_AppConfigExt.AutoReconnect, 1);
    EXPECT_EQ(g_AppConfigExt.FrameGap, 0);
}

TEST_F(ConfigExtTest, FrameGapGoesToTheSiblingRegistryKey) {
    g_AppConfigExt.FrameGap = 120;
    ASSERT_EQ(SaveConfig(u""), 1);
    g_AppConfigExt = DefaultAppConfigExt();
    ASSERT_EQ(LoadConfig(u""), 1);
    EXPECT_EQ(g_AppConfigExt.FrameGap, 120);

    CKemRegProfile store;
    ASSERT_EQ(store.SetLocation(RunningRegistryConfigKey().c_str(), 0), 1);
    EXPECT_EQ(store.GetString(u"Config_Ext", u"FrameGap", u"", nullptr), u"120");
    EXPECT_EQ(store.GetString(u"Config", u"FrameGap", u"absent", nullptr), u"absent");
}

}  // namespace
