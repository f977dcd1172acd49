#include "terminal/ctrl_char_table.h"

namespace {

constexpr std::array<tagCtrlCharInfo, kCtrlCharCount> kTable = {{
    {0x00, u"NUL", u"^@", u"null"},
    {0x01, u"SOH", u"^A", u"start of heading"},
    {0x02, u"STX", u"^B", u"start of text"},
    {0x03, u"ETX", u"^C", u"end of text"},
    {0x04, u"EOT", u"^D", u"end of transmission"},
    {0x05, u"ENQ", u"^E", u"enquiry"},
    {0x06, u"ACK", u"^F", u"acknowledge"},
    {0x07, u"BEL", u"^G", u"bell"},
    {0x08, u"BS", u"^H", u"backspace"},
    {0x09, u"TAB", u"^I", u"(HF) horizontal tab"},
    {0x0A, u"LF", u"^J", u"(NL) line feed, new line"},
    {0x0B, u"VT", u"^K", u"vertical tab"},
    {0x0C, u"FF", u"^L", u"(NP) form feed, new page"},
    {0x0D, u"CR", u"^M", u"carriage return"},
    {0x0E, u"SO", u"^N", u"shift out"},
    {0x0F, u"SI", u"^O", u"shift in"},
    {0x10, u"DLE", u"^P", u"data link escape"},
    {0x11, u"DC1", u"^Q", u"device control 1"},
    {0x12, u"DC2", u"^R", u"device control 2"},
    {0x13, u"DC3", u"^S", u"device control 3"},
    {0x14, u"DC4", u"^T", u"device control 4"},
    {0x15, u"NAK", u"^U", u"negative acknowledge"},
    {0x16, u"SYN", u"^V", u"synchronous idle"},
    {0x17, u"ETB", u"^W", u"end of trans. block"},
    {0x18, u"CAN", u"^X", u"cancel"},
    {0x19, u"EM", u"^Y", u"end of medium"},
    {0x1A, u"SUB", u"^Z", u"substitute"},
    {0x1B, u"ESC", u"^[", u"escape"},
    {0x1C, u"FS", u"^\\", u"file separator"},
    {0x1D, u"GS", u"^]", u"group separator"},
    {0x1E, u"RS", u"^^", u"record separator"},
    {0x1F, u"US", u"^_", u"unit separator"},
    {0x20, u"SP", u"", u"space"},
    {0x7F, u"DEL", u"", u"delete"},
}};

char16_t FoldAsciiLetter(char16_t c) {
    return (c >= u'a' && c <= u'z') ? c - u'a' + u'A' : c;
}

bool NameEquals(const char16_t* name, std::u16string_view text) {
    size_t i = 0;
    for (; i < text.size(); ++i) {
        if (name[i] == u'\0' || FoldAsciiLetter(name[i]) != FoldAsciiLetter(text[i])) {
            return false;
        }
    }
    return name[i] == u'\0';
}

}  // namespace

const std::array<tagCtrlCharInfo, kCtrlCharCount>& CtrlCharTable() {
    return kTable;
}

std::optional<int> FindCtrlCharByCode(uint8_t code) {
    // The display asks for every byte it renders, so the answer is looked up, not searched.
    static const std::array<int8_t, 256> position_of = [] {
        std::array<int8_t, 256> positions;
        positions.fill(-1);
        for (int i = kCtrlCharCount - 1; i >= 0; --i) {
            positions[kTable[i].code] = static_cast<int8_t>(i);
        }
        return positions;
    }();
    const int position = position_of[code];
    return position < 0 ? std::nullopt : std::optional<int>(position);
}

std::optional<uint8_t> FindCtrlCharByName(std::u16string_view name) {
    for (const auto& record : kTable) {
        if (NameEquals(record.Name, name)) {
            return static_cast<uint8_t>(record.code);
        }
    }
    return std::nullopt;
}
