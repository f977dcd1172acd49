// Settings added after the fixed record: they live in a section of their own beside it
// ("Config_Ext" in the file, a sibling key in the registry), so the 26100-byte record, its
// schema and everything that reads stored files stay as they are. A store without the section
// leaves the defaults.
#pragma once

#include <cstdint>

struct tagAppConfigExt {
    int32_t AutoReconnect;          // main link: reconnect on its own when it is lost
    int32_t TransmitAutoReconnect;  // the same for the port forwarding window's link
    int32_t FrameGap;  // ms of silence that split merged blocks into entries; 0 (or less) off
};

extern tagAppConfigExt g_AppConfigExt;

// Every option off: what the program did before the options existed.
const tagAppConfigExt& DefaultAppConfigExt();

extern const char16_t* const kAppConfigExtSection;
extern const char16_t* const kAppConfigExtSchema;
