#include "terminal/traffic_log_names.h"

#include <algorithm>

#include "platform/code_page.h"
#include "platform/paths.h"
#include "settings/date_time.h"
#include "terminal/config_location.h"

namespace {

// Every FormatDateTime result is cut to this many units; reaching it means it may be cut.
constexpr size_t kExpansionCap = 255;

template <size_t N>
std::u16string FieldText(const char16_t (&field)[N]) {
    return std::u16string(field, std::find(field, field + N, u'\0'));
}

template <size_t N>
std::u16string FieldOrDefault(const char16_t (&field)[N], std::u16string_view fallback) {
    std::u16string text = FieldText(field);
    return text.empty() ? std::u16string(fallback) : text;
}

// Copies at most N-1 units and a terminator; a surrogate pair is never split.
template <size_t N>
void StoreField(std::u16string_view text, char16_t (&field)[N]) {
    size_t length = std::min(text.size(), N - 1);
    if (length < text.size() && length > 0 && text[length - 1] >= 0xD800 &&
        text[length - 1] <= 0xDBFF) {
        --length;
    }
    std::copy_n(text.data(), length, field);
    std::fill(field + length, field + N, u'\0');
}

std::u16string EscapePercent(std::u16string_view text) {
    std::u16string out;
    out.reserve(text.size() + 4);
    for (const char16_t c : text) {
        out.push_back(c);
        if (c == u'%') {
            out.push_back(u'%');
        }
    }
    return out;
}

}  // namespace

TrafficLogOptions LoadTrafficLogOptions(const tagAppConfig& config) {
    TrafficLogOptions options;
    options.path = FieldOrDefault(config.LogFilePath, kDefaultLogPath);
    options.title = FieldOrDefault(config.LogFileTitle, kDefaultLogTitle);
    options.send_name = FieldOrDefault(config.LogFileSendName, kDefaultLogSendName);
    options.receive_name = FieldOrDefault(config.LogFileReceiveName, kDefaultLogReceiveName);
    options.all_name = FieldOrDefault(config.LogFileAllChannelName, kDefaultLogAllName);
    options.save_send = config.LogSaveSend != 0;
    options.send_time_stamp = config.LogSaveSendTimeStamp != 0;
    options.send_end_new_line = config.LogSaveSendEndAddNewLine != 0;
    options.save_receive = config.LogSaveReceive != 0;
    options.receive_time_stamp = config.LogSaveReceiveTimeStamp != 0;
    options.receive_end_new_line = config.LogSaveReceiveEndAddNewLine != 0;
    options.save_all = config.LogSaveAllChannel != 0;
    options.all_time_stamp = config.LogSaveAllChannelTimeStamp != 0;
    options.all_end_new_line = config.LogSaveAllChannelEndAddNewLine != 0;
    options.all_merge_continue = config.LogSaveAllChannelMergeContinue != 0;
    return options;
}

void StoreTrafficLogOptions(const TrafficLogOptions& options, tagAppConfig* config) {
    StoreField(options.path, config->LogFilePath);
    StoreField(options.title, config->LogFileTitle);
    StoreField(options.send_name, config->LogFileSendName);
    StoreField(options.receive_name, config->LogFileReceiveName);
    StoreField(options.all_name, config->LogFileAllChannelName);
    config->LogSaveSend = options.save_send ? 1 : 0;
    config->LogSaveSendTimeStamp = options.send_time_stamp ? 1 : 0;
    config->LogSaveSendEndAddNewLine = options.send_end_new_line ? 1 : 0;
    config->LogSaveReceive = options.save_receive ? 1 : 0;
    config->LogSaveReceiveTimeStamp = options.receive_time_stamp ? 1 : 0;
    config->LogSaveReceiveEndAddNewLine = options.receive_end_new_line ? 1 : 0;
    config->LogSaveAllChannel = options.save_all ? 1 : 0;
    config->LogSaveAllChannelTimeStamp = options.all_time_stamp ? 1 : 0;
    config->LogSaveAllChannelEndAddNewLine = options.all_end_new_line ? 1 : 0;
    config->LogSaveAllChannelMergeContinue = options.all_merge_continue ? 1 : 0;
}

std::u16string ConfigurationTitle(std::u16string_view config_file) {
    if (config_file.empty()) {
        return std::u16string(kNoConfigTitle);
    }
    std::u16string_view name = ConfigFileStem(config_file);
    while (!name.empty() && name.front() == u'"') {
        name.remove_prefix(1);
    }
    while (!name.empty() && name.back() == u'"') {
        name.remove_suffix(1);
    }
    return std::u16string(name);
}

std::u16string ExpandLogTemplate(std::u16string_view pattern, std::u16string_view config_title,
                                 const std::u16string* resolved_title,
                                 const kem::platform::LocalTime& time) {
    if (pattern.empty()) {
        return {};
    }
    // Substitution walks the template once, so "%%t" is a literal "%" and "t", and what is
    // put in is never scanned again; the doubled '%' keeps a title such as "50%" literal
    // through strftime.
    std::u16string substituted;
    substituted.reserve(pattern.size() + 32);
    for (size_t i = 0; i < pattern.size(); ++i) {
        const char16_t c = pattern[i];
        if (c != u'%' || i + 1 == pattern.size()) {
            substituted.push_back(c);
            continue;
        }
        const char16_t next = pattern[i + 1];
        if (next == u't') {
            substituted += EscapePercent(config_title);
        } else if (next == u'T' && resolved_title != nullptr) {
            substituted += EscapePercent(*resolved_title);
        } else {
            substituted.push_back(c);
            substituted.push_back(next);
        }
        ++i;
    }
    std::u16string expanded = kem::settings::FormatDateTime(time, substituted);
    if (expanded.empty() || expanded.size() >= kExpansionCap) {
        return std::u16string(kLogNameFallback);
    }
    return expanded;
}

ResolvedLogNames ResolveLogNames(const TrafficLogOptions& options, std::u16string_view config_file,
                                 const kem::platform::LocalTime& start) {
    const std::u16string config_title = ConfigurationTitle(config_file);
    ResolvedLogNames names;
    names.title = ExpandLogTemplate(options.title, config_title, nullptr, start);
    names.send_name = ExpandLogTemplate(options.send_name, config_title, &names.title, start);
    names.receive_name = ExpandLogTemplate(options.receive_name, config_title, &names.title, start);
    names.all_name = ExpandLogTemplate(options.all_name, config_title, &names.title, start);
    return names;
}

std::string LogFilePath(std::u16string_view folder, std::u16string_view name) {
    std::string expanded_folder =
        kem::platform::ExpandEnvironment(kem::platform::WideToUtf8(folder));
    if (expanded_folder.empty()) {
        expanded_folder.push_back('.');  // not = ".": GCC 12 misreports -Wrestrict on it
    }
    const std::string expanded_name =
        kem::platform::ExpandEnvironment(kem::platform::WideToUtf8(name));
    return kem::platform::AbsolutePath(kem::platform::JoinPath(expanded_folder, expanded_name));
}
