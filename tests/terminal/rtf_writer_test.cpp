#include "terminal/rtf_writer.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <string>
#include <vector>

#include "terminal/display_model.h"

namespace {

// A small RTF reader, enough to check what the writer claims: the font and colour tables, and
// for every character of the body the font and colour index in force.
struct ReadChar {
    char16_t unit;
    int font;
    int colour;
    int half_points;
};

struct ReadDocument {
    bool ok = false;
    std::vector<std::u16string> fonts;
    std::vector<int64_t> colours;  // 0x00BBGGRR, -1 for the automatic first entry
    std::vector<ReadChar> body;

    std::u16string Text() const {
        std::u16string text;
        for (const ReadChar& c : body) {
            text.push_back(c.unit);
        }
        return text;
    }
};

ReadDocument ReadRtf(const std::string& rtf) {
    enum class Destination { kBody, kFonts, kColours };
    struct State {
        Destination destination = Destination::kBody;
        int font = 0;
        int colour = 0;
        int half_points = 24;
        int skip_after_unicode = 1;
    };
    ReadDocument document;
    std::vector<State> stack;
    State state;
    std::u16string font_name;
    int font_index = -1;
    uint32_t red = 0, green = 0, blue = 0;
    bool colour_given = false;
    int pending_skip = 0;
    auto emit = [&](char16_t unit) {
        switch (state.destination) {
            case Destination::kBody:
                document.body.push_back({unit, state.font, state.colour, state.half_points});
                break;
            case Destination::kFonts:
                if (unit == u';') {
                    if (font_index >= 0) {
                        document.fonts.resize(
                            std::max<size_t>(document.fonts.size(), font_index + 1));
                        document.fonts[font_index] = font_name;
                    }
                    font_name.clear();
                } else {
                    font_name.push_back(unit);
                }
                break;
            case Destination::kColours:
                if (unit == u';') {
                    document.colours.push_back(
                        colour_given ? static_cast<int64_t>(red | green << 8 | blue << 16)
                                     : int64_t{-1});
                    red = green = blue = 0;
                    colour_given = false;
                }
                break;
        }
    };
    size_t i = 0;
    if (rtf.rfind("{\\rtf1", 0) != 0) {
        return document;
    }
    while (i < rtf.size()) {
        const char c = rtf[i];
        if (c == '{') {
            stack.push_back(state);
            ++i;
        } else if (c == '}') {
            if (stack.empty()) {
                return document;
            }
            state = stack.back();
            stack.pop_back();
            ++i;
            if (stack.empty()) {
                document.ok = (i == rtf.size() || rtf.substr(i) == "\n");
                return document;
            }
        } else if (c == '\r' || c == '\n') {
            ++i;
        } else if (c == '\\') {
            ++i;
            if (i >= rtf.size()) {
                return document;
            }
            const char next = rtf[i];
            if (next == '\\' || next == '{' || next == '}') {
                if (pending_skip > 0) {
                    --pending_skip;
                } else {
                    emit(static_cast<char16_t>(next));
                }
                ++i;
            } else if (next == '\'') {
                const int value = std::stoi(rtf.substr(i + 1, 2), nullptr, 16);
                i += 3;
                if (pending_skip > 0) {
                    --pending_skip;
                } else {
                    emit(static_cast<char16_t>(value));
                }
            } else if (std::isalpha(static_cast<unsigned char>(next))) {
                std::string word;
                while (i < rtf.size() && std::isalpha(static_cast<unsigned char>(rtf[i]))) {
                    word.push_back(rtf[i++]);
                }
                bool has_value = false;
                int value = 0;
                size_t start = i;
                if (i < rtf.size() &&
                    (rtf[i] == '-' || std::isdigit(static_cast<unsigned char>(rtf[i])))) {
                    ++i;
                    while (i < rtf.size() && std::isdigit(static_cast<unsigned char>(rtf[i]))) {
                        ++i;
                    }
                    value = std::stoi(rtf.substr(start, i - start));
                    has_value = true;
                }
                if (i < rtf.size() && rtf[i] == ' ') {
                    ++i;
                }
                if (word == "fonttbl") {
                    state.destination = Destination::kFonts;
                } else if (word == "colortbl") {
                    state.destination = Destination::kColours;
                } else if (word == "f" && has_value) {
                    if (state.destination == Destination::kFonts) {
                        font_index = value;
                    } else {
                        state.font = value;
                    }
                } else if (word == "cf" && has_value) {
                    state.colour = value;
                } else if (word == "fs" && has_value) {
                    state.half_points = value;
                } else if (word == "red" || word == "green" || word == "blue") {
                    (word == "red"     ? red
                     : word == "green" ? green
                                       : blue) = static_cast<uint32_t>(value);
                    colour_given = true;
                } else if (word == "uc" && has_value) {
                    state.skip_after_unicode = value;
                } else if (word == "u" && has_value) {
                    emit(static_cast<char16_t>(static_cast<uint16_t>(static_cast<int16_t>(value))));
                    pending_skip = state.skip_after_unicode;
                } else if (word == "par") {
                    emit(u'\n');
                } else if (word == "tab") {
                    emit(u'\t');
                }
            } else {
                ++i;  // another control symbol: nothing the writer uses
            }
        } else {
            if (pending_skip > 0) {
                --pending_skip;
            } else {
                emit(static_cast<unsigned char>(c));
            }
            ++i;
        }
    }
    return document;
}

DisplayStyleTable TestStyles() {
    DisplayStyleTable styles = StartupDisplayStyles();
    styles[1].face = u"Courier New";
    styles[3].size_tenths = 95;  // 9.5 points: 19 half points
    return styles;
}

TEST(WriteRtf, TablesHoldEveryStyleFaceAndColour) {
    const DisplayStyleTable styles = TestStyles();
    const ReadDocument document = ReadRtf(WriteRtf({}, styles));
    ASSERT_TRUE(document.ok);
    ASSERT_EQ(document.fonts.size(), 6u);
    EXPECT_EQ(document.fonts[0], u"新宋体");
    EXPECT_EQ(document.fonts[1], u"Courier New");
    ASSERT_EQ(document.colours.size(), 7u);
    EXPECT_EQ(document.colours[0], -1);
    for (int i = 0; i < kDisplayStyleCount; ++i) {
        EXPECT_EQ(document.colours[i + 1], static_cast<int64_t>(styles[i].colour)) << i;
    }
    EXPECT_EQ(document.colours[1], 0x800080);  // received text: red 128, blue 128
}

TEST(WriteRtf, EachRunCarriesItsStyleFontColourAndSize) {
    const DisplayStyleTable styles = TestStyles();
    const std::vector<StyledRun> segments = {
        {u"AB", DisplayStyle::kReceivedNormal},
        {u"[ESC]", DisplayStyle::kReceivedControl},
        {u"[09:05:03.007]", DisplayStyle::kSentTimeStamp},
        {u"你好\n", DisplayStyle::kSentNormal},
    };
    const ReadDocument document = ReadRtf(WriteRtf(segments, styles));
    ASSERT_TRUE(document.ok);
    EXPECT_EQ(document.Text(), u"AB[ESC][09:05:03.007]你好\n");
    size_t at = 0;
    for (const StyledRun& segment : segments) {
        const int index = static_cast<int>(segment.style);
        for (size_t k = 0; k < segment.text.size(); ++k, ++at) {
            ASSERT_LT(at, document.body.size());
            EXPECT_EQ(document.body[at].colour, index + 1) << at;
            EXPECT_EQ(document.body[at].font, index) << at;
            EXPECT_EQ(document.body[at].half_points, styles[index].size_tenths / 5) << at;
        }
    }
    EXPECT_EQ(document.body[22].half_points, 19);
}

TEST(WriteRtf, EscapesSyntaxCharactersAndWritesUnicodeSigned) {
    const std::u16string text = u"a\\b{c}d\te\x01 \u00E9\uFFFD\U0001F600";
    const std::string rtf =
        WriteRtf({{text, DisplayStyle::kReceivedNormal}}, StartupDisplayStyles());
    EXPECT_NE(rtf.find("\\u-3?"), std::string::npos) << "U+FFFD as a signed number";
    EXPECT_NE(rtf.find("\\u233?"), std::string::npos);
    for (char c : rtf) {
        EXPECT_LT(static_cast<unsigned char>(c), 0x80) << "raw non-ASCII byte in the file";
    }
    const ReadDocument document = ReadRtf(rtf);
    ASSERT_TRUE(document.ok);
    EXPECT_EQ(document.Text(), text);
}

TEST(WriteRtf, ModelExportHasHardBreaksOnlyAndReadsBack) {
    DisplayModel model;
    model.SetClearLimit(0);
    RunList runs;
    runs.Append(u"接收到的数据\r\n", DisplayStyle::kReceivedNormal);
    runs.Append(u"[LF]", DisplayStyle::kReceivedControl);
    runs.Append(std::u16string(3000, u'z'), DisplayStyle::kSentNormal);
    model.Append(runs);
    ASSERT_FALSE(model.SoftBreaks().empty());
    const DisplayStyleTable styles = StartupDisplayStyles();
    const std::string rtf = model.Rtf(styles);
    const ReadDocument document = ReadRtf(rtf);
    ASSERT_TRUE(document.ok);
    EXPECT_EQ(document.Text(), u"接收到的数据\n[LF]" + std::u16string(3000, u'z'));
    EXPECT_EQ(document.body.front().colour, 1);
    EXPECT_EQ(document.body[7].colour, 2);
    EXPECT_EQ(document.body.back().colour, 4);
    EXPECT_EQ(rtf.rfind("{\\rtf1\\ansi\\ansicpg936\\deff0", 0), 0u);
}

}  // namespace
