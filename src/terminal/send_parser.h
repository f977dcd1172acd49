// The send parser: what the user types becomes bytes for the link. Text is converted to the
// ANSI code page, bracketed control-character names ("[CR]") become their bytes, "\x" escapes
// are decoded, bracketed checksum names ("[CRC16]") become the checksum of the bytes before
// them, and a line end is added, each step switched by its own setting. Also the pieces
// around it: which part of the input box is sent, how a file is cut into blocks, and the bytes
// of one key typed into the receive display.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_io.h"

// The settings that shape a send (the window's copies of ParseCharName, ParseHex,
// AutoSendEnter and Send0D0A) and the name delimiters; only their low bytes are compared.
struct SendOptions {
    bool parse_char_name = false;
    bool parse_hex = false;
    bool auto_send_enter = false;
    bool send_0d0a = false;
    char16_t name_open = u'[';
    char16_t name_close = u']';
};

// A bracketed text longer than this many bytes is never taken for a name. Every name has at
// most ten letters, and no character of the supported code pages takes more than four
// bytes, so no name is missed; the bound keeps a text full of '[' from costing quadratic time.
constexpr size_t kMaxNameBytes = 64;

// The whole chain for one typed text: `text` in the ANSI code page (characters without a
// mapping become '?', the bytes end at the first zero byte), then the names, the escapes and
// the line end as `options` ask. Returns the bytes to send; empty for an empty text.
// With `parse_char_name`, a bracketed checksum name (see checksum.h; any letter case) is
// replaced by the checksum of the bytes sent before it, escapes and names decoded, back to
// where the previous checksum's bytes begin or to the start: "\x01\x02[SUM8][XOR8]" gives
// 01 02 03 03. The text on either side of such a name is decoded on its own, so an escape cut
// short by the name ends there ("\x4[SUM8]" gives 04 04). The line end is never covered, and
// is added after a checksum that ends the bytes even if its last byte is CR or LF. Pure;
// any thread.
std::string ParseSendText(std::u16string_view text, const SendOptions& options);

// `text` in the ANSI code page, cut at the first zero byte. Pure; any thread.
std::string SendTextToAnsi(std::u16string_view text);

// Replaces every "[name]" of `bytes` whose name (two bytes or more, read in the ANSI code
// page) is in the control-character table, letter case aside, by that character's byte.
// Bytes are scanned as bytes: each '[' pairs with the first `close` after it, and scanning
// goes on right after the '[' or after the byte put in its place, so "[[CR]" gives '[' and
// 0x0D, and a name never arises from a replacement. Pure; any thread.
std::string ReplaceCtrlCharNames(std::string_view bytes, uint8_t open = '[', uint8_t close = ']');

// Decodes the "\x" escapes of `length` bytes at `source` into `destination` (zero-filled
// first, at most `capacity` bytes; what does not fit is dropped). A negative `length` reads
// up to the first zero byte. "\\" gives one '\'; "\x" with one or two hexadecimal digits
// gives that byte; a digit followed by another character gives the byte and the character;
// anything else is copied unchanged. Returns the number of bytes written; 0 and nothing done
// for a null destination or a capacity below 1. Pure apart from `destination`; any thread.
int32_t ParseEscapes(const uint8_t* source, int32_t length, uint8_t* destination, int32_t capacity);

// Decodes one collected escape of `count` (1..4) bytes in place and returns how many bytes
// it now holds: "\xH" gives 1, "\xHH" gives 1, "\xHc" gives 2 (H and c); any other
// collection (count not 3 or 4, no leading "\x" or "\X", no digit after it) stays as it is
// and `count` is returned. Pure apart from `collected`; any thread.
int32_t DecodeEscape(uint8_t* collected, int32_t count);

// The line end rule: with `auto_send_enter`, CR (or CR LF with `send_0d0a`) is added unless
// the bytes already end in CR or LF. Pure apart from `bytes`.
void AppendLineEnd(std::string& bytes, bool auto_send_enter, bool send_0d0a);

// The part of the input text that is sent: the selection from `start` to `end` (in UTF-16
// units, either order, clamped to the text) when it is not empty, otherwise the whole text.
// Pure.
std::u16string_view SelectSendText(std::u16string_view input, int64_t start, int64_t end);

// The bytes of one key typed into the receive display: `typed` (one character, a surrogate
// pair for one beyond the BMP) in the ANSI code page, so a Chinese character goes out as its
// two GBK bytes; an unmappable one as '?'. A typed CR gives CR LF when `send_0d0a` is set.
// A typed zero character gives one zero byte. Pure; any thread.
std::string TypedCharBytes(std::u16string_view typed, bool send_0d0a);

// The byte a released Delete key sends from the display.
constexpr uint8_t kDeleteKeyByte = 0x7F;

// Files are sent in blocks of this size, each shown as its own sent block.
constexpr size_t kSendFileBlockBytes = 256;

// The largest file Send file reads; a serial terminal has no use for more, and the whole file
// is held in memory while it is sent.
constexpr size_t kSendFileMaxBytes = 64u << 20;

// Cuts a file's content into the blocks it is sent in: kSendFileBlockBytes each, the last one
// shorter; no empty block (an empty file gives none, a file of 512 bytes two). The views point
// into `content`. Pure.
std::vector<std::string_view> SplitSendBlocks(std::string_view content);

// Reads the file to send whole (path in UTF-16, any separators as the OS takes them). Failure
// to open, a missing file, a non-regular file or one over kSendFileMaxBytes give a status other
// than kOk with the failing step and errno in `error`. Blocks while reading; any thread.
kem::platform::FileContent ReadSendFile(std::u16string_view path);

// The message for a file that cannot be opened, under the caption "错误": "无法打开文件:<path>".
std::u16string CannotOpenFileText(std::u16string_view path);

// The name the open-file dialog starts with: the last file sent, or "*.*" before the first.
std::u16string SendFileDialogName(std::u16string_view last_sent);
