#include "settings/app_config_ext.h"

namespace {

constexpr tagAppConfigExt kExtDefaults = {
    .AutoReconnect = 0,
    .TransmitAutoReconnect = 0,
    .FrameGap = 0,
};

}  // namespace

tagAppConfigExt g_AppConfigExt = kExtDefaults;

const tagAppConfigExt& DefaultAppConfigExt() {
    return kExtDefaults;
}

const char16_t* const kAppConfigExtSection = u"Config_Ext";

const char16_t* const kAppConfigExtSchema =
    u"\t"
    u"|AutoReconnect,BOOL"
    u"|TransmitAutoReconnect,BOOL"
    u"|FrameGap,INT";
