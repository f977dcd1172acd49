// How each of the six display styles looks: colour, font face, size and emphasis. The widget
// turns it into character formats and the RTF writer into its font and colour tables, so both
// show the same thing.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "terminal/display_run.h"

struct DisplayStyleFormat {
    uint32_t colour = 0;      // 0x00BBGGRR: red in bits 0-7, green 8-15, blue 16-23
    std::u16string face;      // font face name; empty keeps the widget's default face
    int32_t size_tenths = 0;  // tenths of a point; 0 or less keeps the default size
    bool bold = false;
    bool italic = false;

    bool operator==(const DisplayStyleFormat&) const = default;
};

using DisplayStyleTable = std::array<DisplayStyleFormat, kDisplayStyleCount>;

// Packs a colour as the display stores it. Pure.
constexpr uint32_t MakeDisplayColour(uint8_t red, uint8_t green, uint8_t blue) {
    return static_cast<uint32_t>(red) | (static_cast<uint32_t>(green) << 8) |
           (static_cast<uint32_t>(blue) << 16);
}

// The styles every run of the program starts with: 12-point 新宋体 in the six default
// colours (received purple, pink and grey; sent orange, teal and grey). Pure; any thread.
inline DisplayStyleTable StartupDisplayStyles() {
    const uint32_t colours[kDisplayStyleCount] = {
        MakeDisplayColour(128, 0, 128), MakeDisplayColour(255, 0, 128),
        MakeDisplayColour(91, 91, 91),  MakeDisplayColour(255, 128, 64),
        MakeDisplayColour(0, 128, 128), MakeDisplayColour(91, 91, 91),
    };
    DisplayStyleTable table;
    for (int i = 0; i < kDisplayStyleCount; ++i) {
        table[i].colour = colours[i];
        table[i].face = u"新宋体";
        table[i].size_tenths = 120;
    }
    return table;
}
