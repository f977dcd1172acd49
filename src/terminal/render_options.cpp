#include "terminal/render_options.h"

#include "settings/app_config.h"
#include "settings/app_config_ext.h"
#include "terminal/ctrl_char_table.h"

ShowByNameFlags DefaultShowByName() {
    ShowByNameFlags flags{};
    for (const tagCtrlCharInfo& info : CtrlCharTable()) {
        flags[info.code] = info.code != 0x0A && info.code != 0x0D && info.code != 0x20;
    }
    return flags;
}

RenderOptions RenderOptionsFromConfig(const tagAppConfig& config,
                                      const ShowByNameFlags& show_by_name) {
    RenderOptions options;
    options.merge_continue = config.MergeCoutinue != 0;
    options.ext_new_line = config.ExtNewLine != 0;
    options.show_hex = config.ShowHex != 0;
    options.time_stamp = config.TimeStamp != 0;
    options.chinese_adjust = config.ChineseAdjust != 0;
    // The field is a fixed array that may lack a terminator after a damaged load.
    const char16_t* format = config.TimeStampFormat;
    constexpr size_t kCapacity = sizeof(config.TimeStampFormat) / sizeof(char16_t);
    size_t length = 0;
    while (length < kCapacity && format[length] != u'\0') {
        ++length;
    }
    options.time_stamp_format.assign(format, length);
    options.show_by_name = show_by_name;
    return options;
}

uint32_t FrameGapFromConfig(const tagAppConfigExt& config) {
    return config.FrameGap > 0 ? static_cast<uint32_t>(config.FrameGap) : 0u;
}
