#include "terminal/config_commands.h"

#include <cstdio>

#include "platform/code_page.h"
#include "platform/desktop_association.h"
#include "platform/paths.h"
#include "settings/app_config.h"
#include "settings/reg_profile.h"
#include "terminal/config_location.h"
#include "terminal/config_store.h"

namespace {

constexpr const char16_t* kFileTypeDescription = u"Quorbel Group Pemvilo Config";

bool ConfirmDeletion(UserDialogs& dialogs) {
    return dialogs.MessageBox(u"确定要删除吗?", kCaptionConfirm, DialogButtons::kYesNo,
                              DialogIcon::kQuestion) == DialogAnswer::kYes;
}

// Deletes a registry configuration; true when a deletion was attempted.
bool DeleteChosenConfiguration(UserDialogs& dialogs) {
    const DialogAnswer scope =
        dialogs.MessageBox(u"是否删除KemPemvilo的所有注册表配置?\n是 - 删除所有\n否 - 删除当前",
                           kCaptionQuestion, DialogButtons::kYesNoCancel, DialogIcon::kQuestion);
    if (scope == DialogAnswer::kYes) {
        if (!ConfirmDeletion(dialogs)) {
            return false;
        }
        CKemRegProfile store;
        store.SetLocation(kRegistryConfigRoot, 0);
        store.DeleteSection(kRegistryConfigProduct, nullptr);
        return true;
    }
    if (scope == DialogAnswer::kNo) {
        if (!g_strConfigFile.empty()) {
            dialogs.MessageBox(u"当前配置保存至文件,无法从注册表删除", kCaptionNotice,
                               DialogButtons::kOk, DialogIcon::kInformation);
            return false;
        }
        if (!ConfirmDeletion(dialogs)) {
            return false;
        }
        CKemRegProfile store;
        store.SetLocation(RunningRegistryConfigKey().c_str(), 0);
        store.DeleteAll(nullptr);
        return true;
    }
    return false;
}

}  // namespace

void AssociateConfigFiles(UserDialogs& dialogs) {
    const std::string executable = kem::platform::ExecutablePath();
    const std::u16string wide_executable = kem::platform::Utf8ToWide(executable);
    CKemRegProfile store;
    store.SetLocation(u"HKCR", 0);
    if (store.WriteStringRaw(u".pvto", nullptr, u"KemPemvilo.Config", nullptr) == 0) {
        dialogs.MessageBox(u"关联失败,请使用管理员权限", kCaptionNotice, DialogButtons::kOk,
                           DialogIcon::kInformation);
        return;
    }
    store.WriteStringRaw(u"KemPemvilo.Config", nullptr, kFileTypeDescription, nullptr);
    store.WriteStringRaw(u"KemPemvilo.Config\\DefaultIcon", nullptr,
                         (wide_executable + u",0").c_str(), nullptr);
    store.WriteStringRaw(u"KemPemvilo.Config\\shell\\open\\command", nullptr,
                         (u"\"" + wide_executable + u"\" \"%1\"").c_str(), nullptr);

    const kem::platform::OsError error = kem::platform::RegisterConfigAssociation(
        executable, kem::platform::WideToUtf8(kFileTypeDescription));
    if (error.failed()) {
        std::fprintf(stderr, "KemPemvilo: could not register *.pvto with the desktop: %s\n",
                     error.text.c_str());
    }
}

bool SaveConfigToChosenFile(UserDialogs& dialogs) {
    const std::optional<std::u16string> path = dialogs.AskSavePath(
        {u"KemPemvilo Config File(*.pvto)|*.pvto|All Files(*.*)|*.*||", u".pvto", u"*.pvto"});
    if (!path) {
        return false;
    }
    g_AppConfig.System.AutoSave = 1;
    if (SaveConfig(*path) == 0) {
        return false;
    }
    g_strConfigFile = *path;
    return true;
}

void CleanRegistryConfig(UserDialogs& dialogs) {
    if (!DeleteChosenConfiguration(dialogs)) {
        return;
    }
    if (dialogs.MessageBox(u"退出时,是否需要再次保存当前的配置?", kCaptionConfirm,
                           DialogButtons::kYesNo, DialogIcon::kQuestion) != DialogAnswer::kYes) {
        g_AppConfig.System.AutoSave = 0;
    }
}
