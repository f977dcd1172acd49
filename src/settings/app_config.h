// The settings record: every persistent setting of the program in one fixed-layout record of
// 26100 bytes, and the schema text that describes it to the settings stores. Fields lie back
// to back in schema order; the layout is checked at compile time in app_config.cpp.
#pragma once

#include <cstdint>

// Texts are zero-terminated UTF-16 arrays; BOOL fields are 32-bit, 0 false, non-zero true.
// Every field falls on a multiple of its own alignment, so the record has no padding without
// a packing pragma, and the text fields can be used as ordinary char16_t arrays.
struct tagAppConfigSystem {
    int32_t AutoSave;
};

constexpr int kCustomEntryCount = 18;
constexpr int kCustomEntryUnits = 512;

struct tagAppConfigCustomEntries {
    char16_t EntriesData[kCustomEntryCount][kCustomEntryUnits];
};

struct tagAppConfig {
    tagAppConfigSystem System;
    char16_t ComPortName[256];
    char16_t ComPortParam[256];
    char16_t NetPortParam[256];
    char16_t NetServerParam[64];
    char16_t TransmitComPortName[256];
    char16_t TransmitComPortParam[256];
    char16_t TransmitNetPortParam[256];
    char16_t TransmitNetServerParam[64];
    int32_t IgnoreComRXCHAR;
    int32_t KeyToSend;
    int32_t CtrlKeyToSendCode;
    int32_t Send0D0A;
    int32_t ChineseAdjust;
    int32_t TimeStamp;
    char16_t TimeStampFormat[64];
    int32_t ShowHex;
    int32_t Topmost;
    int32_t MergeCoutinue;
    int32_t ExtNewLine;
    int32_t AutoClear;
    int32_t AutoClearSize;
    int32_t SendNow;
    int32_t AutoSendEnter;
    int32_t LoopSend;
    int32_t LoopSendTime;
    int32_t ParseHex;
    int32_t ParseCharName;
    char16_t InputBoxData[512];
    tagAppConfigCustomEntries CustomEntries;
    char16_t LogFilePath[512];
    char16_t LogFileTitle[256];
    char16_t LogFileSendName[256];
    char16_t LogFileReceiveName[256];
    char16_t LogFileAllChannelName[256];
    int32_t LogSaveSend;
    int32_t LogSaveSendTimeStamp;
    int32_t LogSaveSendEndAddNewLine;
    int32_t LogSaveReceive;
    int32_t LogSaveReceiveTimeStamp;
    int32_t LogSaveReceiveEndAddNewLine;
    int32_t LogSaveAllChannel;
    int32_t LogSaveAllChannelTimeStamp;
    int32_t LogSaveAllChannelEndAddNewLine;
    int32_t LogSaveAllChannelMergeContinue;
};

constexpr int32_t kAppConfigBytes = 26100;

// The one process-wide record, holding the defaults until it is loaded. Only the window's
// thread touches it while the program runs; it has no lock.
extern tagAppConfig g_AppConfig;

// A record holding the defaults, for resetting and for tests. Any thread.
const tagAppConfig& DefaultAppConfig();

// The schema text of the record, exactly as stored; one line, laid out with tabs. Separators
// "|" and ",", braces "{" and "}". Stored under the section "Config".
extern const char16_t* const kAppConfigSchema;

// The section the record is stored under.
extern const char16_t* const kAppConfigSection;
