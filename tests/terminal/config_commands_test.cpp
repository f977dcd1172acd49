#include "terminal/config_commands.h"

#include <gtest/gtest.h>

#include "config_test_support.h"
#include "platform/code_page.h"
#include "platform/paths.h"
#include "scripted_dialogs.h"
#include "settings/reg_profile.h"

using ConfigCommandsTest = ConfigTest;

namespace {

const char16_t* const kOwnKey = u"HKCU\\Software\\Quorbel\\KemPemvilo\\terminal_tests";
const char16_t* const kOtherKey = u"HKCU\\Software\\Quorbel\\KemPemvilo\\other";

void SeedRegistry() {
    for (const char16_t* key : {kOwnKey, kOtherKey}) {
        CKemRegProfile store;
        ASSERT_EQ(store.SetLocation(key, 1), 1);
        ASSERT_EQ(store.WriteStringRaw(u"Config", u"ShowHex", u"true", nullptr), 1);
    }
}

bool KeyHolds(const char16_t* key) {
    CKemRegProfile store;
    store.SetLocation(key, 0);
    return store.SectionExists(u"Config", nullptr, nullptr) != 0;
}

}  // namespace

TEST_F(ConfigCommandsTest, AssociateWritesTheFourValuesAndTheDesktopFiles) {
    ScriptedDialogs dialogs;
    AssociateConfigFiles(dialogs);
    AssociateConfigFiles(dialogs);  // twice writes the same again
    EXPECT_TRUE(dialogs.shown.empty());

    const std::u16string exe = kem::platform::Utf8ToWide(kem::platform::ExecutablePath());
    CKemRegProfile store;
    ASSERT_EQ(store.SetLocation(u"HKCR", 0), 1);
    EXPECT_EQ(store.GetString(u".pvto", nullptr, u"", nullptr), u"KemPemvilo.Config");
    EXPECT_EQ(store.GetString(u"KemPemvilo.Config", nullptr, u"", nullptr),
              u"Quorbel Group Pemvilo Config");
    EXPECT_EQ(store.GetString(u"KemPemvilo.Config\\DefaultIcon", nullptr, u"", nullptr),
              exe + u",0");
    EXPECT_EQ(store.GetString(u"KemPemvilo.Config\\shell\\open\\command", nullptr, u"", nullptr),
              u"\"" + exe + u"\" \"%1\"");
    EXPECT_TRUE(std::filesystem::exists(root_ / "data/applications/kempemvilo.desktop"));
    EXPECT_TRUE(std::filesystem::exists(root_ / "data/mime/packages/kempemvilo-pvto.xml"));
}

TEST_F(ConfigCommandsTest, SaveToChosenFileSwitchesToThatFile) {
    ScriptedDialogs dialogs;
    g_AppConfig.System.AutoSave = 0;
    EXPECT_FALSE(SaveConfigToChosenFile(dialogs)) << "cancelled";
    EXPECT_EQ(g_AppConfig.System.AutoSave, 0);

    dialogs.save_path = PathOf("chosen.pvto");
    EXPECT_TRUE(SaveConfigToChosenFile(dialogs));
    EXPECT_EQ(g_strConfigFile, PathOf("chosen.pvto"));
    EXPECT_EQ(g_AppConfig.System.AutoSave, 1);
    ASSERT_EQ(dialogs.save_requests.size(), 2u);
    EXPECT_EQ(dialogs.save_requests[1].filter,
              u"KemPemvilo Config File(*.pvto)|*.pvto|All Files(*.*)|*.*||");
    EXPECT_EQ(dialogs.save_requests[1].default_extension, u".pvto");
    EXPECT_NE(Slurp(PathOf("chosen.pvto")).find("AutoSave=true"), std::string::npos);
}

TEST_F(ConfigCommandsTest, AFailedSaveKeepsThePathInUse) {
    std::ofstream(root_ / "plain") << "x";
    ScriptedDialogs dialogs;
    dialogs.save_path = PathOf("plain/x.pvto");
    g_strConfigFile = PathOf("old.pvto");
    EXPECT_FALSE(SaveConfigToChosenFile(dialogs));
    EXPECT_EQ(g_strConfigFile, PathOf("old.pvto"));
}

TEST_F(ConfigCommandsTest, CleanAllDeletesEveryExecutablesConfiguration) {
    SeedRegistry();
    ScriptedDialogs dialogs;
    dialogs.answers = {DialogAnswer::kYes, DialogAnswer::kYes, DialogAnswer::kNo};
    CleanRegistryConfig(dialogs);
    EXPECT_FALSE(KeyHolds(kOwnKey));
    EXPECT_FALSE(KeyHolds(kOtherKey));
    EXPECT_EQ(g_AppConfig.System.AutoSave, 0) << "answered No to saving again";
    ASSERT_EQ(dialogs.shown.size(), 3u);
    EXPECT_EQ(dialogs.shown[0].caption, u"询问");
    EXPECT_EQ(dialogs.shown[0].buttons, DialogButtons::kYesNoCancel);
    EXPECT_EQ(dialogs.shown[1].text, u"确定要删除吗?");
    EXPECT_EQ(dialogs.shown[2].text, u"退出时,是否需要再次保存当前的配置?");
}

TEST_F(ConfigCommandsTest, CleanCurrentDeletesOnlyThisExecutablesKey) {
    SeedRegistry();
    ScriptedDialogs dialogs;
    dialogs.answers = {DialogAnswer::kNo, DialogAnswer::kYes, DialogAnswer::kYes};
    CleanRegistryConfig(dialogs);
    EXPECT_FALSE(KeyHolds(kOwnKey));
    EXPECT_TRUE(KeyHolds(kOtherKey));
    EXPECT_EQ(g_AppConfig.System.AutoSave, 1) << "answered Yes to saving again";
}

TEST_F(ConfigCommandsTest, CleanCurrentWhileAFileIsInUseOnlyInforms) {
    SeedRegistry();
    g_strConfigFile = PathOf("in-use.pvto");
    ScriptedDialogs dialogs;
    dialogs.answers = {DialogAnswer::kNo, DialogAnswer::kOk};
    CleanRegistryConfig(dialogs);
    EXPECT_TRUE(KeyHolds(kOwnKey));
    EXPECT_EQ(g_AppConfig.System.AutoSave, 1);
    ASSERT_EQ(dialogs.shown.size(), 2u);
    EXPECT_EQ(dialogs.shown[1].text, u"当前配置保存至文件,无法从注册表删除");
    EXPECT_EQ(dialogs.shown[1].caption, u"提示");
}

TEST_F(ConfigCommandsTest, DeclinedConfirmationDeletesNothing) {
    SeedRegistry();
    ScriptedDialogs dialogs;
    dialogs.answers = {DialogAnswer::kYes, DialogAnswer::kNo};
    CleanRegistryConfig(dialogs);
    EXPECT_TRUE(KeyHolds(kOwnKey));
    dialogs.answers = {DialogAnswer::kCancel};
    CleanRegistryConfig(dialogs);
    EXPECT_TRUE(KeyHolds(kOtherKey));
    EXPECT_EQ(g_AppConfig.System.AutoSave, 1);
}
