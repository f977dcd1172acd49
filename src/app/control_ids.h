// Identifiers of the main window's controls and commands. Each control's object name is its
// identifier in decimal, so tests and accessibility tools find controls by id.
#pragma once

namespace ids {

// Controls of the main window.
constexpr int kDisplay = 1000;
constexpr int kPortList = 1001;
constexpr int kBaudRate = 1002;
constexpr int kParity = 1003;
constexpr int kDataBits = 1004;
constexpr int kStopBits = 1005;
constexpr int kParamBox = 1006;
constexpr int kInputBox = 1008;
constexpr int kSendNow = 1010;
constexpr int kSend = 1012;
constexpr int kSend0D0A = 1013;
constexpr int kOpen = 1014;
constexpr int kAutoSendEnter = 1016;
constexpr int kAsciiTable = 1018;
constexpr int kAdvanced = 1019;
constexpr int kSendFile = 1022;
constexpr int kChineseAdjust = 1025;
constexpr int kClear = 1026;
constexpr int kSave = 1027;
constexpr int kOther = 1028;
constexpr int kTimeStamp = 1033;
constexpr int kMerge = 1034;
constexpr int kLoopSend = 1035;
constexpr int kLoopSendTime = 1036;
constexpr int kExtNewLine = 1037;
constexpr int kShowHex = 1038;
constexpr int kTopmost = 1039;
constexpr int kLine = 1040;
constexpr int kParseHex = 1041;
constexpr int kPause = 1042;
constexpr int kParseCharName = 1043;
constexpr int kCustomEntries = 1044;
constexpr int kAutoClear = 1045;
constexpr int kAutoClearSize = 1046;
constexpr int kRecording = 1053;
constexpr int kTxCount = 1057;
constexpr int kRxCount = 1058;
constexpr int kExit = 2;

// Commands of the two pop-up menus (besides 1018 and 1022 above).
constexpr int kFontColour = 1015;
constexpr int kAssociate = 1020;
constexpr int kSaveConfig = 1021;
constexpr int kTimeStampFormat = 1023;
constexpr int kCleanRegistry = 1024;
constexpr int kPortForwarding = 1029;
constexpr int kSaveDisplay = 32773;
constexpr int kRecordToFile = 32774;
constexpr int kKeyToSend = 32784;
constexpr int kCtrlKeyForCommands = 32787;
constexpr int kCtrlKeyForCodes = 32788;
constexpr int kAutoReconnect = 32800;  // "自动重连", an option of this program's own
constexpr int kFind = 32801;           // "查找... (Ctrl+F)": the find bar above the display

// The system menu's About entry.
constexpr int kAbout = 0x10;

}  // namespace ids
