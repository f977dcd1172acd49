#include "settings/app_config.h"

#include <cstddef>

// The layout stored files and registry values rely on: no field may move.
static_assert(sizeof(tagAppConfig) == kAppConfigBytes);
static_assert(offsetof(tagAppConfig, System) == 0);
static_assert(offsetof(tagAppConfig, ComPortName) == 4);
static_assert(offsetof(tagAppConfig, ComPortParam) == 516);
static_assert(offsetof(tagAppConfig, NetPortParam) == 1028);
static_assert(offsetof(tagAppConfig, NetServerParam) == 1540);
static_assert(offsetof(tagAppConfig, TransmitComPortName) == 1668);
static_assert(offsetof(tagAppConfig, TransmitComPortParam) == 2180);
static_assert(offsetof(tagAppConfig, TransmitNetPortParam) == 2692);
static_assert(offsetof(tagAppConfig, TransmitNetServerParam) == 3204);
static_assert(offsetof(tagAppConfig, IgnoreComRXCHAR) == 3332);
static_assert(offsetof(tagAppConfig, KeyToSend) == 3336);
static_assert(offsetof(tagAppConfig, CtrlKeyToSendCode) == 3340);
static_assert(offsetof(tagAppConfig, Send0D0A) == 3344);
static_assert(offsetof(tagAppConfig, ChineseAdjust) == 3348);
static_assert(offsetof(tagAppConfig, TimeStamp) == 3352);
static_assert(offsetof(tagAppConfig, TimeStampFormat) == 3356);
static_assert(offsetof(tagAppConfig, ShowHex) == 3484);
static_assert(offsetof(tagAppConfig, Topmost) == 3488);
static_assert(offsetof(tagAppConfig, MergeCoutinue) == 3492);
static_assert(offsetof(tagAppConfig, ExtNewLine) == 3496);
static_assert(offsetof(tagAppConfig, AutoClear) == 3500);
static_assert(offsetof(tagAppConfig, AutoClearSize) == 3504);
static_assert(offsetof(tagAppConfig, SendNow) == 3508);
static_assert(offsetof(tagAppConfig, AutoSendEnter) == 3512);
static_assert(offsetof(tagAppConfig, LoopSend) == 3516);
static_assert(offsetof(tagAppConfig, LoopSendTime) == 3520);
static_assert(offsetof(tagAppConfig, ParseHex) == 3524);
static_assert(offsetof(tagAppConfig, ParseCharName) == 3528);
static_assert(offsetof(tagAppConfig, InputBoxData) == 3532);
static_assert(offsetof(tagAppConfig, CustomEntries) == 4556);
static_assert(sizeof(tagAppConfigCustomEntries) == 18 * 1024);
static_assert(offsetof(tagAppConfig, LogFilePath) == 22988);
static_assert(offsetof(tagAppConfig, LogFileTitle) == 24012);
static_assert(offsetof(tagAppConfig, LogFileSendName) == 24524);
static_assert(offsetof(tagAppConfig, LogFileReceiveName) == 25036);
static_assert(offsetof(tagAppConfig, LogFileAllChannelName) == 25548);
static_assert(offsetof(tagAppConfig, LogSaveSend) == 26060);
static_assert(offsetof(tagAppConfig, LogSaveSendTimeStamp) == 26064);
static_assert(offsetof(tagAppConfig, LogSaveSendEndAddNewLine) == 26068);
static_assert(offsetof(tagAppConfig, LogSaveReceive) == 26072);
static_assert(offsetof(tagAppConfig, LogSaveReceiveTimeStamp) == 26076);
static_assert(offsetof(tagAppConfig, LogSaveReceiveEndAddNewLine) == 26080);
static_assert(offsetof(tagAppConfig, LogSaveAllChannel) == 26084);
static_assert(offsetof(tagAppConfig, LogSaveAllChannelTimeStamp) == 26088);
static_assert(offsetof(tagAppConfig, LogSaveAllChannelEndAddNewLine) == 26092);
static_assert(offsetof(tagAppConfig, LogSaveAllChannelMergeContinue) == 26096);

namespace {

constexpr tagAppConfig kDefaults = {
    .System = {.AutoSave = 1},
    .ComPortName = u"COM1",
    .ComPortParam = u"9600,N,8,1",
    .NetPortParam = u"127.0.0.1:60000",
    .NetServerParam = u"60000",
    .TransmitComPortName = u"COM1",
    .TransmitComPortParam = u"9600,N,8,1",
    .TransmitNetPortParam = u"127.0.0.1:60001",
    .TransmitNetServerParam = u"60001",
    .IgnoreComRXCHAR = 0,
    .KeyToSend = 1,
    .CtrlKeyToSendCode = 0,
    .Send0D0A = 1,
    .ChineseAdjust = 0,
    .TimeStamp = 0,
    .TimeStampFormat = u"[%H:%M:%S.%s]",
    .ShowHex = 0,
    .Topmost = 0,
    .MergeCoutinue = 1,
    .ExtNewLine = 0,
    .AutoClear = 1,
    .AutoClearSize = 128,
    .SendNow = 0,
    .AutoSendEnter = 1,
    .LoopSend = 0,
    .LoopSendTime = 1000,
    .ParseHex = 1,
    .ParseCharName = 1,
    // The line breaks of the input box are kept as escapes.
    .InputBoxData =
        u"Demo input\\x0D\\x0A\u6f14\u793a\u8f93\u5165[CR][LF]"
        u"\\xD1\\xDD\\xCA\\xBE\\xca\\xe4\\xc8\\xeb",
    .CustomEntries = {},
    .LogFilePath = u".\\",
    .LogFileTitle = u"",
    .LogFileSendName = u"",
    .LogFileReceiveName = u"",
    .LogFileAllChannelName = u"",
    .LogSaveSend = 0,
    .LogSaveSendTimeStamp = 0,
    .LogSaveSendEndAddNewLine = 0,
    .LogSaveReceive = 0,
    .LogSaveReceiveTimeStamp = 0,
    .LogSaveReceiveEndAddNewLine = 0,
    .LogSaveAllChannel = 1,
    .LogSaveAllChannelTimeStamp = 1,
    .LogSaveAllChannelEndAddNewLine = 0,
    .LogSaveAllChannelMergeContinue = 1,
};

}  // namespace

tagAppConfig g_AppConfig = kDefaults;

const tagAppConfig& DefaultAppConfig() {
    return kDefaults;
}

const char16_t* const kAppConfigSection = u"Config";

// clang-format off
const char16_t* const kAppConfigSchema =
    u"\t"
    u"|System,STRUCT,\t\t\t\ts{1"
    u"|AutoSave,BOOL}\t\t\t"
    u"|ComPortName,TSTR,c256"
    u"|ComPortParam,TSTR,c256"
    u"|NetPortParam,TSTR,c256"
    u"|NetServerParam,TSTR,c64\t\t\t"
    u"|TransmitComPortName,TSTR,c256"
    u"|TransmitComPortParam,TSTR,c256"
    u"|TransmitNetPortParam,TSTR,c256"
    u"|TransmitNetServerParam,TSTR,c64\t\t\t"
    u"|IgnoreComRXCHAR,BOOL\t\t\t"
    u"|KeyToSend,BOOL"
    u"|CtrlKeyToSendCode,BOOL"
    u"|Send0D0A,BOOL"
    u"|ChineseAdjust,BOOL"
    u"|TimeStamp,BOOL"
    u"|TimeStampFormat,TSTR,c64"
    u"|ShowHex,BOOL"
    u"|Topmost,BOOL"
    u"|MergeCoutinue,BOOL"
    u"|ExtNewLine,BOOL"
    u"|AutoClear,BOOL"
    u"|AutoClearSize,INT\t\t\t"
    u"|SendNow,BOOL"
    u"|AutoSendEnter,BOOL"
    u"|LoopSend,BOOL"
    u"|LoopSendTime,INT"
    u"|ParseHex,BOOL"
    u"|ParseCharName,BOOL\t\t\t"
    u"|InputBoxData,TSTR,c512\t\t\t"
    u"|CustomEntries,STRUCT,\t\t\t\ts{\t"
    u"|EntriesData0,TSTR,c512\t\t\t\t\t"
    u"|EntriesData1,TSTR,c512\t\t\t\t\t"
    u"|EntriesData2,TSTR,c512\t\t\t\t\t"
    u"|EntriesData3,TSTR,c512\t\t\t\t\t"
    u"|EntriesData4,TSTR,c512\t\t\t\t\t"
    u"|EntriesData5,TSTR,c512\t\t\t\t\t"
    u"|EntriesData6,TSTR,c512\t\t\t\t\t"
    u"|EntriesData7,TSTR,c512\t\t\t\t\t"
    u"|EntriesData8,TSTR,c512\t\t\t\t\t"
    u"|EntriesData9,TSTR,c512\t\t\t\t\t"
    u"|EntriesData10,TSTR,c512\t\t\t\t\t"
    u"|EntriesData11,TSTR,c512\t\t\t\t\t"
    u"|EntriesData12,TSTR,c512\t\t\t\t\t"
    u"|EntriesData13,TSTR,c512\t\t\t\t\t"
    u"|EntriesData14,TSTR,c512\t\t\t\t\t"
    u"|EntriesData15,TSTR,c512\t\t\t\t\t"
    u"|EntriesData16,TSTR,c512\t\t\t\t\t"
    u"|EntriesData17,TSTR,c512\t\t\t\t}\t\t\t"
    u"|LogFilePath,TSTR,c512"
    u"|LogFileTitle,TSTR,c256"
    u"|LogFileSendName,TSTR,c256"
    u"|LogFileReceiveName,TSTR,c256"
    u"|LogFileAllChannelName,TSTR,c256\t\t\t"
    u"|LogSaveSend,BOOL"
    u"|LogSaveSendTimeStamp,BOOL"
    u"|LogSaveSendEndAddNewLine,BOOL\t\t\t"
    u"|LogSaveReceive,BOOL"
    u"|LogSaveReceiveTimeStamp,BOOL"
    u"|LogSaveReceiveEndAddNewLine,BOOL\t\t\t"
    u"|LogSaveAllChannel,BOOL"
    u"|LogSaveAllChannelTimeStamp,BOOL"
    u"|LogSaveAllChannelEndAddNewLine,BOOL"
    u"|LogSaveAllChannelMergeContinue,BOOL";
// clang-format on
