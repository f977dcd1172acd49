// The options of the traffic log (folder, name templates, ten switches), their exchange with
// the settings record, and the turning of the name templates into the file names of one
// recording.
#pragma once

#include <string>
#include <string_view>

#include "platform/local_time.h"
#include "settings/app_config.h"

// The traffic log's options as the window edits them. While idle the texts are templates.
struct TrafficLogOptions {
    std::u16string path{};
    std::u16string title{};
    std::u16string send_name{};
    std::u16string receive_name{};
    std::u16string all_name{};
    bool save_send = false;
    bool send_time_stamp = false;
    bool send_end_new_line = false;
    bool save_receive = false;
    bool receive_time_stamp = false;
    bool receive_end_new_line = false;
    bool save_all = true;
    bool all_time_stamp = true;
    bool all_end_new_line = false;
    bool all_merge_continue = true;

    bool AnySelected() const { return save_send || save_receive || save_all; }
};

// The templates that stand in for empty settings fields.
inline constexpr std::u16string_view kDefaultLogPath = u".\\";
inline constexpr std::u16string_view kDefaultLogTitle = u"%t_%Y%m%d_%H%M%S";
inline constexpr std::u16string_view kDefaultLogSendName = u"%T_Send.log";
inline constexpr std::u16string_view kDefaultLogReceiveName = u"%T_Receive.log";
inline constexpr std::u16string_view kDefaultLogAllName = u"%T_All.log";

// The configuration title used when no configuration file is in use.
inline constexpr std::u16string_view kNoConfigTitle = u"ZedOzuzu";

// Options from `config`: the ten switches, and each text field or, when it is empty, its
// default template. Window's thread (reads the record).
TrafficLogOptions LoadTrafficLogOptions(const tagAppConfig& config);

// Writes `options` into `config`: the path cut to 511 units, the four templates to 255 each
// (never inside a surrogate pair), the switches as 1 or 0. Window's thread.
void StoreTrafficLogOptions(const TrafficLogOptions& options, tagAppConfig* config);

// The title that "%t" stands for: "ZedOzuzu" when `config_file` is empty, else its file name
// (after the last '\' or '/') without its last extension, with surrounding double quotes
// removed. Pure, any thread.
std::u16string ConfigurationTitle(std::u16string_view config_file);

// One template expanded against `time`: "%t" becomes `config_title` and, when
// `resolved_title` is given, "%T" becomes it; both with their '%' doubled, so the following
// strftime expansion keeps them literal. "%%" is one unit and stays a literal '%'. A
// non-empty template whose expansion comes out empty, or as long as the 255-unit cap (the
// strftime result did not fit), gives kLogNameFallback instead. Pure, any thread.
std::u16string ExpandLogTemplate(std::u16string_view pattern, std::u16string_view config_title,
                                 const std::u16string* resolved_title,
                                 const kem::platform::LocalTime& time);

// The fixed text for an expansion that could not be made.
inline constexpr std::u16string_view kLogNameFallback = u"Invalid DateTime";

// The resolved title and three names of one recording started at `start`.
struct ResolvedLogNames {
    std::u16string title;
    std::u16string send_name;
    std::u16string receive_name;
    std::u16string all_name;
};

// Resolves the title from its template, then the three names against it. `config_file` is
// the configuration file in use (g_strConfigFile), empty for none. Pure, any thread.
ResolvedLogNames ResolveLogNames(const TrafficLogOptions& options, std::u16string_view config_file,
                                 const kem::platform::LocalTime& start);

// The full UTF-8 path of a log file: environment references (%NAME%) in `folder` and `name`
// expanded, a relative folder taken from the current folder, "." and ".." resolved, and an
// absolute `name` standing for itself. Any thread (reads the environment and current folder).
std::string LogFilePath(std::u16string_view folder, std::u16string_view name);
