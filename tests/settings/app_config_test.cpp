// The settings record: its layout, defaults and schema, and how it is stored.
#include "settings/app_config.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <memory>
#include <string>

#include "memory_profile.h"
#include "settings/schema.h"

namespace {

int32_t SaveRecord(CMemoryProfile& store, const tagAppConfig& record) {
    return store.SaveStruct(kAppConfigSection, &record, kAppConfigSchema, nullptr, u"|", u",", u"{",
                            u"}");
}

int32_t LoadRecord(CMemoryProfile& store, tagAppConfig& record) {
    return store.LoadStruct(kAppConfigSection, &record, kAppConfigSchema, nullptr, u"|", u",", u"{",
                            u"}");
}

std::unique_ptr<tagAppConfig> Copy(const tagAppConfig& source) {
    auto record = std::make_unique<tagAppConfig>();
    std::memcpy(record.get(), &source, sizeof source);
    return record;
}

TEST(AppConfig, RecordAndSchemaDescribeTheSame26100Bytes) {
    EXPECT_EQ(sizeof(tagAppConfig), 26100u);
    EXPECT_EQ(kem::settings::SchemaRecordSize(kAppConfigSchema, u"|", u","), 26100);
}

TEST(AppConfig, EveryFieldSitsWhereTheSchemaPutsIt) {
    // Walk the parsed schema and compare each top-level item's offset with the record's.
    SchemaField* fields = nullptr;
    const int32_t count =
        kem::settings::ParseSchema(&fields, kAppConfigSchema, u"|", u",", u"{", u"}");
    ASSERT_EQ(count, 45);
    const struct {
        const char16_t* name;
        size_t offset;
    } expected[] = {
        {u"System", offsetof(tagAppConfig, System)},
        {u"ComPortName", offsetof(tagAppConfig, ComPortName)},
        {u"NetServerParam", offsetof(tagAppConfig, NetServerParam)},
        {u"TransmitNetServerParam", offsetof(tagAppConfig, TransmitNetServerParam)},
        {u"TimeStampFormat", offsetof(tagAppConfig, TimeStampFormat)},
        {u"AutoClearSize", offsetof(tagAppConfig, AutoClearSize)},
        {u"LoopSendTime", offsetof(tagAppConfig, LoopSendTime)},
        {u"InputBoxData", offsetof(tagAppConfig, InputBoxData)},
        {u"CustomEntries", offsetof(tagAppConfig, CustomEntries)},
        {u"LogFilePath", offsetof(tagAppConfig, LogFilePath)},
        {u"LogFileAllChannelName", offsetof(tagAppConfig, LogFileAllChannelName)},
        {u"LogSaveAllChannelMergeContinue", offsetof(tagAppConfig, LogSaveAllChannelMergeContinue)},
    };
    size_t offset = 0;
    size_t matched = 0;
    for (int32_t i = 0; i < count; ++i) {
        ASSERT_TRUE(kem::settings::ResolveStructField(fields[i], u"|", u",", 0));
        for (const auto& row : expected) {
            if (std::u16string(fields[i].name) == row.name) {
                EXPECT_EQ(offset, row.offset) << i;
                ++matched;
            }
        }
        offset += static_cast<size_t>(fields[i].total_size);
    }
    EXPECT_EQ(matched, std::size(expected));
    EXPECT_EQ(offset, sizeof(tagAppConfig));
    kem::settings::FreeSchema(&fields, count);
}

TEST(AppConfig, Defaults) {
    const tagAppConfig& d = DefaultAppConfig();
    EXPECT_EQ(d.System.AutoSave, 1);
    EXPECT_EQ(std::u16string(d.ComPortName), u"COM1");
    EXPECT_EQ(std::u16string(d.ComPortParam), u"9600,N,8,1");
    EXPECT_EQ(std::u16string(d.NetPortParam), u"127.0.0.1:60000");
    EXPECT_EQ(std::u16string(d.NetServerParam), u"60000");
    EXPECT_EQ(std::u16string(d.TransmitComPortName), u"COM1");
    EXPECT_EQ(std::u16string(d.TransmitComPortParam), u"9600,N,8,1");
    EXPECT_EQ(std::u16string(d.TransmitNetPortParam), u"127.0.0.1:60001");
    EXPECT_EQ(std::u16string(d.TransmitNetServerParam), u"60001");
    EXPECT_EQ(std::u16string(d.TimeStampFormat), u"[%H:%M:%S.%s]");
    EXPECT_EQ(std::u16string(d.InputBoxData),
              u"Demo input\\x0D\\x0A\u6f14\u793a\u8f93\u5165[CR][LF]"
              u"\\xD1\\xDD\\xCA\\xBE\\xca\\xe4\\xc8\\xeb");
    EXPECT_EQ(std::u16string(d.LogFilePath), u".\\");
    EXPECT_EQ(std::u16string(d.LogFileTitle), u"");
    for (const auto& entry : d.CustomEntries.EntriesData) {
        EXPECT_EQ(entry[0], u'\0');
    }
    const int32_t flags[] = {d.IgnoreComRXCHAR, d.KeyToSend,  d.CtrlKeyToSendCode, d.Send0D0A,
                             d.ChineseAdjust,   d.TimeStamp,  d.ShowHex,           d.Topmost,
                             d.MergeCoutinue,   d.ExtNewLine, d.AutoClear,         d.SendNow,
                             d.AutoSendEnter,   d.LoopSend,   d.ParseHex,          d.ParseCharName};
    const int32_t expected_flags[] = {0, 1, 0, 1, 0, 0, 0, 0, 1, 0, 1, 0, 1, 0, 1, 1};
    for (size_t i = 0; i < std::size(flags); ++i) {
        EXPECT_EQ(flags[i], expected_flags[i]) << i;
    }
    EXPECT_EQ(d.AutoClearSize, 128);
    EXPECT_EQ(d.LoopSendTime, 1000);
    const int32_t log_flags[] = {d.LogSaveSend,
                                 d.LogSaveSendTimeStamp,
                                 d.LogSaveSendEndAddNewLine,
                                 d.LogSaveReceive,
                                 d.LogSaveReceiveTimeStamp,
                                 d.LogSaveReceiveEndAddNewLine,
                                 d.LogSaveAllChannel,
                                 d.LogSaveAllChannelTimeStamp,
                                 d.LogSaveAllChannelEndAddNewLine,
                                 d.LogSaveAllChannelMergeContinue};
    const int32_t expected_log[] = {0, 0, 0, 0, 0, 0, 1, 1, 0, 1};
    for (size_t i = 0; i < std::size(log_flags); ++i) {
        EXPECT_EQ(log_flags[i], expected_log[i]) << i;
    }
    EXPECT_EQ(std::memcmp(&g_AppConfig, &d, sizeof d), 0);
}

TEST(AppConfig, SavedIntoThreeSectionsInSchemaOrder) {
    CMemoryProfile store;
    EXPECT_EQ(SaveRecord(store, DefaultAppConfig()), 26100);
    const auto& sections = store.sections();
    ASSERT_EQ(sections.size(), 3u);
    EXPECT_EQ(sections[0].name, u"Config_System");
    EXPECT_EQ(sections[1].name, u"Config");
    EXPECT_EQ(sections[2].name, u"Config_CustomEntries");
    ASSERT_EQ(sections[0].values.size(), 1u);
    EXPECT_EQ(sections[0].values[0].first, u"AutoSave");
    EXPECT_EQ(sections[0].values[0].second, u"true");
    ASSERT_EQ(sections[1].values.size(), 43u);
    EXPECT_EQ(sections[1].values.front().first, u"ComPortName");
    EXPECT_EQ(sections[1].values.back().first, u"LogSaveAllChannelMergeContinue");
    EXPECT_EQ(store.Find(u"Config", u"AutoSave"), nullptr);
    ASSERT_EQ(sections[2].values.size(), 18u);
    EXPECT_EQ(sections[2].values[0].first, u"EntriesData0");
    EXPECT_EQ(sections[2].values[17].first, u"EntriesData17");
    EXPECT_EQ(*store.Find(u"Config", u"ShowHex"), u"false");
    EXPECT_EQ(*store.Find(u"Config", u"AutoClearSize"), u"128");
    EXPECT_EQ(*store.Find(u"Config", u"ComPortParam"), u"9600,N,8,1");
    EXPECT_EQ(*store.Find(u"Config", u"LogFilePath"), u".\\");
}

TEST(AppConfig, OnlyShowHexStoredChangesOnlyShowHex) {
    auto record = Copy(DefaultAppConfig());
    CMemoryProfile store;
    store.Put(u"Config", u"ShowHex", u"true");
    EXPECT_EQ(LoadRecord(store, *record), 26100);
    EXPECT_EQ(record->ShowHex, 1);
    record->ShowHex = 0;
    EXPECT_EQ(std::memcmp(record.get(), &DefaultAppConfig(), sizeof(tagAppConfig)), 0);
}

TEST(AppConfig, AutoSaveLivesInConfigSystem) {
    auto record = Copy(DefaultAppConfig());
    CMemoryProfile store;
    store.Put(u"Config", u"AutoSave", u"false");
    LoadRecord(store, *record);
    EXPECT_EQ(record->System.AutoSave, 1);
    store.Put(u"Config_System", u"AutoSave", u"false");
    LoadRecord(store, *record);
    EXPECT_EQ(record->System.AutoSave, 0);
}

TEST(AppConfig, EveryFieldRoundTrips) {
    auto record = Copy(DefaultAppConfig());
    record->System.AutoSave = 0;
    std::u16string long_text(511, u'x');
    long_text[0] = u'\u6c49';
    std::memcpy(record->InputBoxData, long_text.c_str(), (long_text.size() + 1) * 2);
    for (int i = 0; i < kCustomEntryCount; ++i) {
        const std::u16string text = u"entry " + std::u16string(1, static_cast<char16_t>(u'A' + i));
        std::memcpy(record->CustomEntries.EntriesData[i], text.c_str(), (text.size() + 1) * 2);
    }
    std::memcpy(record->NetServerParam, u"1234", 10);
    record->ShowHex = 1;
    record->AutoClearSize = -77;
    record->LoopSendTime = 2147483647;
    record->LogSaveAllChannel = 0;
    CMemoryProfile store;
    ASSERT_EQ(SaveRecord(store, *record), 26100);
    auto back = Copy(DefaultAppConfig());
    ASSERT_EQ(LoadRecord(store, *back), 26100);
    EXPECT_EQ(std::memcmp(back.get(), record.get(), sizeof(tagAppConfig)), 0);
}

}  // namespace
