// The serial parameter text ("9600,N,8,1"): the form in which serial settings are typed,
// shown and stored, and the texts of the four serial choice lists.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

#include "channels/port_com.h"

// Units of the output buffer FormatComParam fills, terminator included.
constexpr size_t kComParamTextUnits = 128;

// What is shown when opening a serial port fails on its parameter text.
inline constexpr const char16_t* kBadComParamMessage = u"不正确的串口参数";

// The record a parse with reset starts from: 9600 baud, 8 data bits, no parity, one stop bit,
// no flow control, ReadIntervalTimeout 0xFFFFFFFF and the other time-outs 0. Pure.
tagComPortParam DefaultComParam();

// Reads a parameter text into `record`: up to four comma-separated fields, baud rate (leading
// decimal digits, at least 1, saturating at INT32_MAX), parity (first letter of N O E M S in
// any case, the rest ignored), data bits (5..8) and stop bits (exactly "1", "1.5" or "2").
// Only the first 31 units count. With `reset`, the record starts from DefaultComParam().
// Fields are stored as they are read, so a text that fails in a later field leaves the
// earlier ones changed; a text that ends early keeps the remaining fields as they were.
// Returns false for a null text or record, a baud rate below 1 or a bad later field.
// Pure apart from `record`; any thread.
bool ParseComParam(const char16_t* text, tagComPortParam* record, bool reset);
bool ParseComParam(std::u16string_view text, tagComPortParam& record, bool reset);

// Writes "baud,parity,databits,stopbits" (for example "9600,N,8,1") into `output`, a buffer
// of kComParamTextUnits units that is zero-filled first. Returns false, leaving `output`
// untouched, for null arguments, a parity code above 4, data bits outside 5..8 or a stop
// bits code above 2. Pure apart from `output`; any thread.
bool FormatComParam(const tagComPortParam* record, char16_t* output);

// The same text as a string; empty when FormatComParam refuses the record. Pure.
std::u16string FormatComParamText(const tagComPortParam& record);

// The entries of the four serial choice lists, in list order.
inline constexpr std::array<const char16_t*, 10> kBaudRateChoices = {
    u"1200",  u"2400",  u"4800",  u"9600",  u"19200",
    u"38400", u"43000", u"56000", u"57600", u"115200"};
inline constexpr std::array<const char16_t*, 5> kParityChoices = {
    u"N(无)", u"O(奇校验)", u"E(偶校验)", u"M(标记)", u"S(空格)"};
inline constexpr std::array<const char16_t*, 4> kDataBitsChoices = {u"8", u"7", u"6", u"5"};
inline constexpr std::array<const char16_t*, 3> kStopBitsChoices = {u"1", u"2", u"1.5"};

// The texts the four choice lists should select for a record. A field the record holds out
// of range gives an empty text (no entry matches it); a baud rate missing from the list still
// gives its decimal text, which simply matches no entry.
struct ComChoiceTexts {
    std::u16string baud_rate;
    std::u16string parity;     // "N(无)" ... "S(空格)"
    std::u16string data_bits;  // "5" .. "8"
    std::u16string stop_bits;  // "1", "1.5", "2"
};

// The choice-list texts of `text`, read with ParseComParam (with reset) into a fresh record;
// a parse failure is not reported, the texts show what the record then holds. Pure.
ComChoiceTexts ChoiceTextsFromParamText(std::u16string_view text);

// The choice-list texts of `record`. Pure.
ComChoiceTexts ChoiceTextsFromParam(const tagComPortParam& record);

// The parameter text built from the four choice lists' current texts: "baud,parity,data,stop",
// for example "9600,N(无),8,1"; ParseComParam reads it as "9600,N,8,1". Pure.
std::u16string ParamTextFromChoices(const ComChoiceTexts& choices);
