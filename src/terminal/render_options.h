// The display options rendering depends on, taken from the settings record and the
// show-by-name flags of the ASCII table window.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "settings/app_config_ext.h"

struct tagAppConfig;

// One flag per byte value: true shows the byte by its bracketed name. Only bytes with a
// control-character name (00..20, 7F) can be named; other flags are ignored.
using ShowByNameFlags = std::array<bool, 256>;

// The start-up flags: every named byte except LF, CR and SP. Pure, any thread.
ShowByNameFlags DefaultShowByName();

struct RenderOptions {
    bool merge_continue = false;  // MergeCoutinue: consecutive blocks of one direction join
    bool ext_new_line = false;    // ExtNewLine: a line break where the direction changes
    bool show_hex = false;        // ShowHex: "%02X " per byte
    bool time_stamp = false;      // TimeStamp: a header before each (joined) block
    bool chinese_adjust = false;  // ChineseAdjust: hold a lead byte until its trail arrives
    std::u16string time_stamp_format = u"[%H:%M:%S.%s]";
    // FrameGap: with merging, a block at least this many ms after the previous one of its
    // direction starts a new entry; 0 joins regardless of time.
    uint32_t frame_gap_ms = 0;
    ShowByNameFlags show_by_name = DefaultShowByName();
    char16_t name_open = u'[';
    char16_t name_close = u']';
};

// The options of `config` with `show_by_name`. Window thread (reads the record).
RenderOptions RenderOptionsFromConfig(const tagAppConfig& config,
                                      const ShowByNameFlags& show_by_name);

// The frame gap of `config` in ms; a negative value counts as 0 (off). Pure, any thread.
uint32_t FrameGapFromConfig(const tagAppConfigExt& config);
