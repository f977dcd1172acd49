#include "terminal/config_store.h"

#include <cstdio>

#include "platform/code_page.h"
#include "platform/paths.h"
#include "settings/app_config.h"
#include "settings/app_config_ext.h"
#include "settings/private_profile.h"
#include "settings/reg_profile.h"
#include "terminal/config_location.h"

std::u16string g_strConfigFile;

namespace {

void ReportOnStderr(const std::string& text) {
    std::fprintf(stderr, "KemPemvilo: %s\n", text.c_str());
}

std::string Narrow(const std::u16string& text) {
    return kem::platform::WideToUtf8(text);
}

int32_t BindStruct(CKemProfileBaseClass& store, bool save, const char16_t* section, void* record,
                   const char16_t* schema) {
    return save ? store.SaveStruct(section, record, schema, nullptr, u"|", u",", u"{", u"}")
                : store.LoadStruct(section, record, schema, nullptr, u"|", u",", u"{", u"}");
}

// Runs the structure binding of the record and of the later options beside it on `store`, in
// the direction asked. The fixed record decides a load; a save needs both.
int32_t BindRecord(CKemProfileBaseClass& store, bool save) {
    const int32_t fixed =
        BindStruct(store, save, kAppConfigSection, &g_AppConfig, kAppConfigSchema);
    if (fixed < 0) {
        return fixed;
    }
    const int32_t ext =
        BindStruct(store, save, kAppConfigExtSection, &g_AppConfigExt, kAppConfigExtSchema);
    return save ? ext : fixed;
}

int32_t LoadFromFile(const std::u16string& path) {
    CKemPrivateProfile store;
    store.SetLocation(path.c_str(), 0);
    if (store.Load() == 0) {
        ReportOnStderr("cannot read the configuration file " + Narrow(path) +
                       "; the default settings are used and the file is left as it is");
        return 0;
    }
    return BindRecord(store, false) >= 0 ? 1 : 0;
}

int32_t SaveToFile(const std::u16string& path) {
    CKemPrivateProfile store;
    store.SetLocation(path.c_str(), 0);
    if (BindRecord(store, true) < 0) {
        return 0;
    }
    // Close writes the file; only then is the save a success.
    return store.Save() != 0 && store.Close() != 0 ? 1 : 0;
}

int32_t BindRegistry(bool save) {
    CKemRegProfile store;
    const std::u16string key = RunningRegistryConfigKey();
    if (store.SetLocation(key.c_str(), save ? 1 : 0) == 0) {
        return 0;
    }
    return BindRecord(store, save) >= 0 ? 1 : 0;
}

}  // namespace

int32_t LoadConfig(const std::u16string& path) {
    return path.empty() ? BindRegistry(false) : LoadFromFile(path);
}

int32_t SaveConfig(const std::u16string& path) {
    return path.empty() ? BindRegistry(true) : SaveToFile(path);
}

CommandLineOptions LoadSettingsAtStartUp(const std::vector<std::u16string>& arguments) {
    CommandLineOptions options = ParseCommandLine(arguments);
    if (!options.config_file.empty()) {
        options.config_file = kem::platform::Utf8ToWide(
            kem::platform::AbsolutePath(kem::platform::WideToUtf8(options.config_file)));
    }
    g_strConfigFile = options.config_file;
    LoadConfig(g_strConfigFile);
    return options;
}

int32_t SaveSettingsAtExit() {
    if (g_AppConfig.System.AutoSave == 0) {
        return 1;
    }
    const int32_t saved = SaveConfig(g_strConfigFile);
    if (saved == 0) {
        ReportOnStderr(g_strConfigFile.empty()
                           ? std::string("could not save the settings to the registry")
                           : "could not save the settings to " + Narrow(g_strConfigFile));
    }
    return saved;
}
