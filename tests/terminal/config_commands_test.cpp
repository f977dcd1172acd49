// The settings commands of the menu: file association, saving to a chosen file, and cleaning
// the registry as the answers say.
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

TEST_F(ConfigCommandsTest, SaveToChosenFileSwitchesToThatFileUnlessTheSaveFails) {
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

    std::ofstream(root_ / "plain") << "x";  // a file where a folder should be
    dialogs.save_path = PathOf("plain/x.pvto");
    EXPECT_FALSE(SaveConfigToChosenFile(dialogs));
    EXPECT_EQ(g_strConfigFile, PathOf("chosen.pvto"));
}

TEST_F(ConfigCommandsTest, CleanRegistryConfigFollowsTheAnswers) {
    using enum DialogAnswer;
    const char16_t* const save_again = u"退出时,是否需要再次保存当前的配置?";
    const struct {
        const char* name;
        const char* file_in_use;  // or nullptr
        std::deque<DialogAnswer> answers;
        std::tuple<bool, bool, int> own_other_kept_auto_save;
        const char16_t* last_text;  // of the last message box; nullptr: not checked
    } rows[] = {
        {"all, no saving again", nullptr, {kYes, kYes, kNo}, {false, false, 0}, save_again},
        {"this executable's only", nullptr, {kNo, kYes, kYes}, {false, true, 1}, save_again},
        {"this executable's while a file is in use only informs",
         "in-use.pvto",
         {kNo, kOk},
         {true, true, 1},
         u"当前配置保存至文件,无法从注册表删除"},
        {"confirmation declined", nullptr, {kYes, kNo}, {true, true, 1}, u"确定要删除吗?"},
        {"cancelled", nullptr, {kCancel}, {true, true, 1}, nullptr},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        SeedRegistry();
        g_AppConfig = DefaultAppConfig();
        g_strConfigFile = row.file_in_use ? PathOf(row.file_in_use) : u"";
        ScriptedDialogs dialogs;
        dialogs.answers = row.answers;
        CleanRegistryConfig(dialogs);
        EXPECT_TRUE(dialogs.answers.empty()) << "one message box per answer";
        EXPECT_EQ(std::tuple(KeyHolds(kOwnKey), KeyHolds(kOtherKey), g_AppConfig.System.AutoSave),
                  row.own_other_kept_auto_save);
        ASSERT_FALSE(dialogs.shown.empty());
        EXPECT_EQ(dialogs.shown[0].caption, u"询问");
        EXPECT_EQ(dialogs.shown[0].buttons, DialogButtons::kYesNoCancel);
        if (row.last_text != nullptr) {
            EXPECT_EQ(dialogs.shown.back().text, row.last_text);
        }
        if (row.file_in_use != nullptr) {
            EXPECT_EQ(dialogs.shown.back().caption, u"提示");
        }
    }
}
