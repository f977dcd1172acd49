#include "terminal/rtf_writer.h"

#include <cstdio>

namespace {

// Appends `text` escaped for RTF.
void AppendEscaped(std::string& out, std::u16string_view text) {
    char number[16];
    for (char16_t unit : text) {
        if (unit == u'\n') {
            out += "\\par\n";
        } else if (unit == u'\\' || unit == u'{' || unit == u'}') {
            out.push_back('\\');
            out.push_back(static_cast<char>(unit));
        } else if (unit == u'\t') {
            out += "\\tab ";
        } else if (unit < 0x20) {
            std::snprintf(number, sizeof number, "\\'%02x", static_cast<unsigned>(unit));
            out += number;
        } else if (unit < 0x80) {
            out.push_back(static_cast<char>(unit));
        } else {
            // RTF numbers are signed 16-bit: units from 0x8000 go out negative.
            std::snprintf(number, sizeof number, "\\u%d?",
                          static_cast<int>(static_cast<int16_t>(unit)));
            out += number;
        }
    }
}

}  // namespace

std::string WriteRtf(const std::vector<StyledRun>& segments, const DisplayStyleTable& styles) {
    std::string out = "{\\rtf1\\ansi\\ansicpg936\\deff0\\uc1\n{\\fonttbl";
    char number[96];
    for (int i = 0; i < kDisplayStyleCount; ++i) {
        // charset 134 is GB2312: readers pick a Chinese-capable font for a missing face.
        std::snprintf(number, sizeof number, "{\\f%d\\fnil\\fcharset134 ", i);
        out += number;
        AppendEscaped(out, styles[i].face);
        out += ";}";
    }
    out += "}\n{\\colortbl ;";
    for (const DisplayStyleFormat& style : styles) {
        std::snprintf(number, sizeof number, "\\red%u\\green%u\\blue%u;", style.colour & 0xFFu,
                      (style.colour >> 8) & 0xFFu, (style.colour >> 16) & 0xFFu);
        out += number;
    }
    out += "}\n\\pard\\plain\n";
    for (const StyledRun& segment : segments) {
        const int index = static_cast<int>(segment.style);
        if (index < 0 || index >= kDisplayStyleCount) {
            continue;
        }
        const DisplayStyleFormat& style = styles[index];
        // Half points; 12 points when the style keeps the default size.
        const int half_points = style.size_tenths > 0 ? style.size_tenths / 5 : 24;
        std::snprintf(number, sizeof number, "\\f%d\\fs%d\\cf%d\\b%s\\i%s ", index, half_points,
                      index + 1, style.bold ? "" : "0", style.italic ? "" : "0");
        out += number;
        AppendEscaped(out, segment.text);
    }
    out += "}\n";
    return out;
}
