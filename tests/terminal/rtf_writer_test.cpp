// The RTF export, read back by a small reader: font and colour tables, each character's style,
// escaping and Unicode, and the display model's export.
#include "terminal/rtf_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "terminal/display_model.h"

namespace {

struct ReadChar {
    char16_t unit;
    int font;
    int colour;
    int half_points;
};

struct ReadDocument {
    bool ok = false;  // one group from "{\rtf1" to the end
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

// Enough of RTF to check what the writer claims: the font and colour tables in order, and for
// every character of the body the font, colour index and size in force. One fallback
// character follows each \uN, as the writer's \uc1 says.
ReadDocument ReadRtf(const std::string& rtf) {
    enum { kBody, kFonts, kColours };
    struct State {
        int destination = kBody;
        int font = 0;
        int colour = 0;
        int half_points = 24;
    };
    ReadDocument document;
    std::vector<State> stack;
    State state;
    std::u16string entry;  // of the table entry being read
    int64_t rgb = -1;      // -1 until a colour is given
    bool skip = false;     // the fallback character after \uN
    auto emit = [&](char16_t unit) {
        if (std::exchange(skip, false)) {
            return;
        } else if (state.destination == kBody) {
            document.body.push_back({unit, state.font, state.colour, state.half_points});
        } else if (unit != u';') {
            entry.push_back(unit);
        } else if (state.destination == kFonts) {
            document.fonts.push_back(std::exchange(entry, {}));
        } else {
            document.colours.push_back(std::exchange(rgb, -1));
        }
    };
    auto is = [&](size_t i, bool digit) {
        const auto c = static_cast<unsigned char>(i < rtf.size() ? rtf[i] : ' ');
        return (digit ? std::isdigit(c) : std::isalpha(c)) != 0;
    };
    for (size_t i = rtf.rfind("{\\rtf1", 0) == 0 ? 0 : rtf.size(); i < rtf.size();) {
        const char c = rtf[i++];
        if (c == '{') {
            stack.push_back(state);
        } else if (c == '}') {
            if (stack.empty()) {
                return document;
            }
            state = stack.back();
            stack.pop_back();
            if (stack.empty()) {
                document.ok = i == rtf.size() || rtf.substr(i) == "\n";
                return document;
            }
        } else if (c != '\\') {
            if (c != '\r' && c != '\n') {
                emit(static_cast<unsigned char>(c));
            }
        } else if (i < rtf.size() && (rtf[i] == '\\' || rtf[i] == '{' || rtf[i] == '}')) {
            emit(static_cast<char16_t>(rtf[i++]));
        } else if (i < rtf.size() && rtf[i] == '\'') {
            emit(static_cast<char16_t>(std::stoi(rtf.substr(i + 1, 2), nullptr, 16)));
            i += 3;
        } else {
            size_t end = i;
            while (is(end, false)) {
                ++end;
            }
            const std::string word = rtf.substr(i, end - i);
            size_t number_end = end < rtf.size() && rtf[end] == '-' ? end + 1 : end;
            while (is(number_end, true)) {
                ++number_end;
            }
            const int value = number_end > end ? std::stoi(rtf.substr(end, number_end - end)) : 0;
            i = number_end < rtf.size() && rtf[number_end] == ' ' ? number_end + 1 : number_end;
            if (word.empty()) {
                ++i;  // another control symbol: nothing the writer uses
            } else if (word == "fonttbl" || word == "colortbl") {
                state.destination = word == "fonttbl" ? kFonts : kColours;
            } else if (word == "par" || word == "tab") {
                emit(word == "par" ? u'\n' : u'\t');
            } else if (word == "f" || word == "cf" || word == "fs") {
                (word == "f"    ? state.font
                 : word == "cf" ? state.colour
                                : state.half_points) = value;
            } else if (word == "u") {
                emit(static_cast<char16_t>(value));
                skip = true;
            } else if (word == "red" || word == "green" || word == "blue") {
                const int shift = word == "red" ? 0 : word == "green" ? 8 : 16;
                rgb = std::max<int64_t>(rgb, 0) | int64_t{value} << shift;
            }
        }
    }
    return document;
}

TEST(WriteRtf, TablesAndEachRunsFontColourAndSize) {
    DisplayStyleTable styles = StartupDisplayStyles();
    styles[1].face = u"Courier New";
    styles[3].size_tenths = 95;  // 9.5 points: 19 half points
    const std::vector<StyledRun> segments = {
        {u"AB", DisplayStyle::kReceivedNormal},
        {u"[ESC]", DisplayStyle::kReceivedControl},
        {u"[09:05:03.007]", DisplayStyle::kSentTimeStamp},
        {u"你好\n", DisplayStyle::kSentNormal},
    };
    const ReadDocument document = ReadRtf(WriteRtf(segments, styles));
    ASSERT_TRUE(document.ok);
    EXPECT_EQ(document.fonts, (std::vector<std::u16string>{u"新宋体", u"Courier New", u"新宋体",
                                                           u"新宋体", u"新宋体", u"新宋体"}));
    ASSERT_EQ(document.colours.size(), 7u);
    EXPECT_EQ(document.colours[0], -1);
    for (int i = 0; i < kDisplayStyleCount; ++i) {
        EXPECT_EQ(document.colours[i + 1], static_cast<int64_t>(styles[i].colour)) << i;
    }
    EXPECT_EQ(document.colours[1], 0x800080);  // received text: red 128, blue 128
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
    EXPECT_EQ(std::count_if(rtf.begin(), rtf.end(), [](char c) { return c & 0x80; }), 0)
        << "raw non-ASCII byte in the file";
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
    const std::string rtf = model.Rtf(StartupDisplayStyles());
    const ReadDocument document = ReadRtf(rtf);
    ASSERT_TRUE(document.ok);
    EXPECT_EQ(document.Text(), u"接收到的数据\n[LF]" + std::u16string(3000, u'z'));
    EXPECT_EQ(document.body.front().colour, 1);
    EXPECT_EQ(document.body[7].colour, 2);
    EXPECT_EQ(document.body.back().colour, 4);
    EXPECT_EQ(rtf.rfind("{\\rtf1\\ansi\\ansicpg936\\deff0", 0), 0u);
}

}  // namespace
