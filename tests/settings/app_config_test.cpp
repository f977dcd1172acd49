// The settings record: its 26100-byte layout, defaults and schema, and its round trips through
// the memory store, the configuration file and the registry.
#include "settings/app_config.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <memory>
#include <string>

#include "memory_profile.h"
#include "platform/code_page.h"
#include "settings/private_profile.h"
#include "settings/reg_profile.h"
#include "settings/schema.h"
#include "support/scratch_files.h"

namespace {

using kem::platform::Registry;
using kem::platform::RegStatus;
using kem::settings::CopyTextBounded;

int32_t SaveRecord(CKemProfileBaseClass& store, const tagAppConfig& record,
                   const char16_t* location = nullptr) {
    return store.SaveStruct(kAppConfigSection, &record, kAppConfigSchema, location, u"|", u",",
                            u"{", u"}");
}

int32_t LoadRecord(CKemProfileBaseClass& store, tagAppConfig& record) {
    return store.LoadStruct(kAppConfigSection, &record, kAppConfigSchema, nullptr, u"|", u",", u"{",
                            u"}");
}

// Every kind of field away from its default: long and Chinese texts, extreme numbers.
std::unique_ptr<tagAppConfig> Unusual() {
    auto record = std::make_unique<tagAppConfig>(DefaultAppConfig());
    record->System.AutoSave = 0;
    std::u16string long_text(511, u'x');
    long_text[0] = u'\u6c49';
    CopyTextBounded(record->InputBoxData, 512, long_text);
    for (int i = 0; i < kCustomEntryCount; ++i) {
        CopyTextBounded(record->CustomEntries.EntriesData[i], kCustomEntryUnits,
                        u"\u53d1\u9001 [CR] " + std::u16string(1, char16_t(u'A' + i)));
    }
    CopyTextBounded(record->ComPortName, 256, u"/dev/pts/9");
    CopyTextBounded(record->NetServerParam, 5, u"1234");
    record->ShowHex = 1;
    record->AutoClearSize = -77;
    record->LoopSendTime = 2147483647;
    record->LogSaveAllChannel = 0;
    return record;
}

TEST(AppConfig, EveryFieldSitsWhereTheSchemaPutsItIn26100Bytes) {
    EXPECT_EQ(sizeof(tagAppConfig), 26100u);
    EXPECT_EQ(kem::settings::SchemaRecordSize(kAppConfigSchema, u"|", u","), 26100);
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
    EXPECT_EQ(std::u16string(fields[0].nested_schema.get()), u"1|AutoSave,BOOL");
    EXPECT_EQ(matched, std::size(expected));
    EXPECT_EQ(offset, sizeof(tagAppConfig));
    kem::settings::FreeSchema(&fields, count);
}

TEST(AppConfig, Defaults) {
    const tagAppConfig& d = DefaultAppConfig();
    auto texts = [](auto... values) { return ((std::u16string(values) + u"|") + ...); };
    EXPECT_EQ(texts(d.ComPortName, d.ComPortParam, d.NetPortParam, d.NetServerParam,
                    d.TransmitComPortName, d.TransmitComPortParam, d.TransmitNetPortParam,
                    d.TransmitNetServerParam, d.TimeStampFormat, d.LogFilePath, d.LogFileTitle),
              u"COM1|9600,N,8,1|127.0.0.1:60000|60000|COM1|9600,N,8,1|127.0.0.1:60001|60001|"
              u"[%H:%M:%S.%s]|.\\||");
    EXPECT_EQ(std::u16string(d.InputBoxData),
              u"Demo input\\x0D\\x0A\u6f14\u793a\u8f93\u5165[CR][LF]"
              u"\\xD1\\xDD\\xCA\\xBE\\xca\\xe4\\xc8\\xeb");
    for (const auto& entry : d.CustomEntries.EntriesData) {
        EXPECT_EQ(entry[0], u'\0');
    }
    auto joined = [](auto... values) { return ((std::to_string(values) + " ") + ...); };
    const std::string numbers =
        joined(d.System.AutoSave, d.IgnoreComRXCHAR, d.KeyToSend, d.CtrlKeyToSendCode, d.Send0D0A,
               d.ChineseAdjust, d.TimeStamp, d.ShowHex, d.Topmost, d.MergeCoutinue, d.ExtNewLine,
               d.AutoClear, d.SendNow, d.AutoSendEnter, d.LoopSend, d.ParseHex, d.ParseCharName,
               d.AutoClearSize, d.LoopSendTime, d.LogSaveSend, d.LogSaveSendTimeStamp,
               d.LogSaveSendEndAddNewLine, d.LogSaveReceive, d.LogSaveReceiveTimeStamp,
               d.LogSaveReceiveEndAddNewLine, d.LogSaveAllChannel, d.LogSaveAllChannelTimeStamp,
               d.LogSaveAllChannelEndAddNewLine, d.LogSaveAllChannelMergeContinue);
    EXPECT_EQ(numbers, "1 0 1 0 1 0 0 0 0 1 0 1 0 1 0 1 1 128 1000 0 0 0 0 0 0 1 1 0 1 ");
    EXPECT_EQ(std::memcmp(&g_AppConfig, &d, sizeof d), 0);
}

TEST(AppConfig, AutoSaveLivesInConfigSystem) {
    auto record = std::make_unique<tagAppConfig>(DefaultAppConfig());
    CMemoryProfile store;
    store.Put(u"Config", u"AutoSave", u"false");
    LoadRecord(store, *record);
    EXPECT_EQ(record->System.AutoSave, 1);
    store.Put(u"Config_System", u"AutoSave", u"false");
    LoadRecord(store, *record);
    EXPECT_EQ(record->System.AutoSave, 0);
}

TEST(AppConfig, UnusualRecordRoundTripsThroughMemoryFileAndRegistry) {
    const auto record = Unusual();
    kem::testing::TempFolder folder;
    const std::u16string path = kem::platform::Utf8ToWide(folder / "app.pvto");
    const char16_t* key = u"HKCU\\Software\\Quorbel\\test";
    std::shared_ptr<Registry> registry;
    ASSERT_EQ(Registry::OpenAt(folder / "reg.sqlite3", {}, &registry), RegStatus::kOk);
    CMemoryProfile memory;
    {
        CKemPrivateProfile file;
        CKemRegProfile reg(registry);
        EXPECT_EQ(SaveRecord(memory, *record), 26100);
        EXPECT_EQ(SaveRecord(file, *record, path.c_str()), 26100);
        EXPECT_EQ(SaveRecord(reg, *record, key), 26100);
        EXPECT_EQ(file.Close(), 1);
    }
    // Fresh stores (a new registry connection) read what reached the disk.
    std::shared_ptr<Registry> second;
    ASSERT_EQ(Registry::OpenAt(folder / "reg.sqlite3", {}, &second), RegStatus::kOk);
    CKemPrivateProfile file;
    CKemRegProfile reg(second);
    file.SetLocation(path.c_str(), 0);
    ASSERT_EQ(file.Load(), 1);
    ASSERT_EQ(reg.SetLocation(key, 0), 1);
    for (CKemProfileBaseClass* store :
         {static_cast<CKemProfileBaseClass*>(&memory), static_cast<CKemProfileBaseClass*>(&file),
          static_cast<CKemProfileBaseClass*>(&reg)}) {
        auto back = std::make_unique<tagAppConfig>(DefaultAppConfig());
        EXPECT_EQ(LoadRecord(*store, *back), 26100);
        EXPECT_EQ(std::memcmp(back.get(), record.get(), sizeof(tagAppConfig)), 0);
    }
    // The file holds three sections in schema order, AutoSave only in Config_System.
    const auto& lines = file.lines();
    ASSERT_EQ(lines.size(), 2u + 1u + 43u + 1u + 18u);
    EXPECT_EQ(lines[0], u"[Config_System]");
    EXPECT_EQ(lines[1], u"AutoSave=false");
    EXPECT_EQ(lines[2], u"[Config]");
    EXPECT_EQ(lines[3], u"ComPortName=/dev/pts/9");
    EXPECT_EQ(lines[45], u"LogSaveAllChannelMergeContinue=true");
    EXPECT_EQ(lines[46], u"[Config_CustomEntries]");
    EXPECT_EQ(lines[47], u"EntriesData0=\u53d1\u9001 [CR] A");
    EXPECT_EQ(lines[64], u"EntriesData17=\u53d1\u9001 [CR] R");
    EXPECT_EQ(kem::testing::ReadBytes(folder / "app.pvto").substr(0, 3), "\xEF\xBB\xBF");
}

}  // namespace
