// The receive path and the display of the main window, fed through a pseudo-terminal: the
// display options re-render the whole queue, pause, Chinese adjustment, auto clear, Clear,
// saving the display as text and as RTF, and the colours on screen.
#include <algorithm>
#include <optional>

#include "gui/main_window_support.h"

namespace {

using kem::testing::PtyPair;

class MainWindowDisplayTest : public MainWindowTest {
protected:
    void SetUp() override {
        MainWindowTest::SetUp();
        SetField(g_AppConfig.ComPortName, pty_.path16());
    }

    void OpenPort() {
        MakeWindow();
        Click(ids::kOpen);
        ASSERT_TRUE(window().link().IsOpen());
    }

    void SendRaw(const std::string& bytes) {
        ASSERT_TRUE(window().SendBytes(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(),
                                       false));
    }

    // The colour of the shown text at the first place of `text`, from the display's model.
    std::optional<DisplayStyle> StyleOf(const std::u16string& text) {
        window().DrainNow();
        for (const StyledRun& run : window().display().model().ExportSegments()) {
            if (run.text.find(text) != std::u16string::npos) {
                return run.style;
            }
        }
        return std::nullopt;
    }

    PtyPair pty_;
};

TEST_F(MainWindowDisplayTest, DisplayOptionsRenderTheWholeQueueAgain) {
    SetField(g_AppConfig.TimeStampFormat, u"|");
    OpenPort();
    ReceiveFrom(pty_, "AB");
    ReceiveFrom(pty_, "CD");
    SendRaw("s1");
    ReceiveFrom(pty_,
                "\x01"
                "E\r");
    ReceiveFrom(pty_, std::string("\nF\x7f ", 4));
    const struct {
        const char* name;
        std::vector<int> ticked;  // check boxes on, of time stamp, join, extra line, HEX
        std::u16string shown;
    } rows[] = {
        {"join", {ids::kMerge}, u"ABCDs1[SOH]E\nF[DEL] "},
        {"nothing", {}, u"ABCDs1[SOH]E\nF[DEL] "},
        {"join, extra line", {ids::kMerge, ids::kExtNewLine}, u"ABCD\ns1\n[SOH]E\nF[DEL] "},
        {"hex", {ids::kMerge, ids::kShowHex}, u"41 42 43 44 73 31 01 45 0D 0A 46 7F 20 "},
        {"time stamp, join", {ids::kMerge, ids::kTimeStamp}, u"|ABCD|s1|[SOH]E\nF[DEL] "},
        {"time stamp", {ids::kTimeStamp}, u"|AB|CD|s1|[SOH]E\n|F[DEL] "},
        {"join again", {ids::kMerge}, u"ABCDs1[SOH]E\nF[DEL] "},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        for (int id : {ids::kTimeStamp, ids::kMerge, ids::kExtNewLine, ids::kShowHex}) {
            const bool on = std::find(row.ticked.begin(), row.ticked.end(), id) != row.ticked.end();
            Find(id)->setEnabled(true);
            SetChecked(id, on);
        }
        EXPECT_EQ(DisplayText(), row.shown);
    }
    EXPECT_EQ(StyleOf(u"AB"), DisplayStyle::kReceivedNormal);
    EXPECT_EQ(StyleOf(u"s1"), DisplayStyle::kSentNormal);
    EXPECT_EQ(StyleOf(u"[SOH]"), DisplayStyle::kReceivedControl);
    EXPECT_EQ(Counter(ids::kRxCount), QStringLiteral("11"));
    EXPECT_EQ(Counter(ids::kTxCount), QStringLiteral("2"));
}

TEST_F(MainWindowDisplayTest, PauseCountsAndQueuesButShowsOnlyWhenReleased) {
    OpenPort();
    ReceiveFrom(pty_, "before ");
    Click(ids::kPause);
    ASSERT_TRUE(IsChecked(ids::kPause));
    ReceiveFrom(pty_, "during");
    SendRaw("!");
    EXPECT_EQ(DisplayText(), u"before ");
    EXPECT_EQ(Counter(ids::kRxCount), QStringLiteral("13"));
    EXPECT_EQ(Queued(true), "before during");
    Click(ids::kPause);
    EXPECT_EQ(DisplayText(), u"before during!");
}

TEST_F(MainWindowDisplayTest, ChineseAdjustmentHoldsAHalfCharacterUntilItsSecondByte) {
    g_AppConfig.ChineseAdjust = 1;
    OpenPort();
    // Only the lead byte waits; what is whole before it is shown at once.
    ReceiveFrom(pty_, "A\xD1");
    EXPECT_EQ(DisplayText(), u"A");
    ReceiveFrom(pty_, "\xDD\r");
    EXPECT_EQ(DisplayText(), u"A演\n");
}

TEST_F(MainWindowDisplayTest, AutoClearDropsOldBlocksAndANewSizeTurnsItOff) {
    g_AppConfig.AutoClear = 1;
    g_AppConfig.AutoClearSize = 1;
    OpenPort();
    // Larger than the whole limit: counted, never queued nor shown.
    SendRaw(std::string(2000, 'x'));
    EXPECT_EQ(Counter(ids::kTxCount), QStringLiteral("2000"));
    EXPECT_EQ(window().traffic().Count(), 0u);
    EXPECT_EQ(DisplayText(), u"");
    // Two blocks of 600: the older one leaves the queue.
    ReceiveFrom(pty_, std::string(600, 'a'));
    ReceiveFrom(pty_, std::string(600, 'b'));
    EXPECT_EQ(Queued(true), std::string(600, 'b'));

    TypeInto(ids::kAutoClearSize, QStringLiteral("4"));
    EXPECT_FALSE(IsChecked(ids::kAutoClear));
    EXPECT_EQ(window().display().ClearLimit(), 0);
    ReceiveFrom(pty_, std::string(600, 'c'));
    EXPECT_EQ(Queued(true), std::string(600, 'b') + std::string(600, 'c'));
    Click(ids::kAutoClear);
    EXPECT_EQ(window().display().ClearLimit(), 4 * 1024);

    Click(ids::kClear);
    EXPECT_EQ(DisplayText(), u"");
    EXPECT_EQ(window().traffic().Count(), 0u);
    EXPECT_EQ(Counter(ids::kTxCount), QStringLiteral("0"));
    EXPECT_EQ(Counter(ids::kRxCount), QStringLiteral("0"));
}

// The colour table entry (1-based, as \cfN counts) the RTF uses for the run holding `text`.
std::string RtfColourOf(const std::string& rtf, const std::string& text) {
    const size_t at = rtf.find(text);
    const size_t cf = rtf.rfind("\\cf", at);
    if (at == std::string::npos || cf == std::string::npos) {
        return "no run";
    }
    const int index = std::stoi(rtf.substr(cf + 3));
    const size_t table = rtf.find("{\\colortbl ;");
    if (table == std::string::npos) {
        return "no colour table";
    }
    size_t begin = table + std::string("{\\colortbl ;").size();
    for (int i = 1; i < index; ++i) {
        begin = rtf.find(';', begin) + 1;
    }
    return rtf.substr(begin, rtf.find(';', begin) - begin);
}

TEST_F(MainWindowDisplayTest, ColoursOnScreenAndSavedAsTextRtfOrNothingByExtension) {
    OpenPort();
    const QRgb purple = qRgb(128, 0, 128);   // 0x800080 is 0x00BBGGRR
    const QRgb orange = qRgb(255, 128, 64);  // 0x4080FF
    EXPECT_EQ(PixelsNear(GrabDisplay(), purple), 0);
    ReceiveFrom(pty_, "MMMM####WWWW");
    const QImage received = GrabDisplay();
    EXPECT_GT(PixelsNear(received, purple), 20);
    EXPECT_EQ(PixelsNear(received, orange), 0);
    SendRaw("\r\nWWWW####sent\r\n");
    EXPECT_GT(PixelsNear(GrabDisplay(), orange), 20);
    ReceiveFrom(pty_, "recv \xD1\xDD");
    const struct {
        const char* file;
        std::string content;  // empty: compared below for RTF
    } rows[] = {
        {"shown.TXT", "MMMM####WWWW\r\nWWWW####sent\r\nrecv \xD1\xDD"},
        {"shown.log", ""},
        {"shown.rtf", ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.file);
        const std::string path = (root_ / row.file).string();
        kem::testing::WriteBytes(path, std::string(5000, 'z'));  // truncated by the save
        dialogs_.save_path = PathOf(row.file);
        window().ExecuteCommand(ids::kSaveDisplay);
        const std::string saved = kem::testing::ReadBytes(path);
        if (std::string(row.file).ends_with(".rtf")) {
            EXPECT_TRUE(saved.starts_with("{\\rtf1"));
            EXPECT_EQ(RtfColourOf(saved, "recv"), "\\red128\\green0\\blue128");
            EXPECT_EQ(RtfColourOf(saved, "sent"), "\\red255\\green128\\blue64");
            EXPECT_NE(saved.find("\\u28436?"), std::string::npos);  // 演 is U+6F14
        } else {
            EXPECT_EQ(saved, row.content);
        }
    }
    ASSERT_EQ(dialogs_.save_requests.size(), 3u);
    const SaveFileRequest& request = dialogs_.save_requests[0];
    EXPECT_EQ(request.default_extension, u"rtf");
    std::u16string port = pty_.path16();
    std::erase(port, u'/');
    EXPECT_EQ(request.initial_name.substr(0, port.size() + 1), port + u"_");
    EXPECT_EQ(request.initial_name.size(), port.size() + 15);

    // The client's port text loses its slash; a cancelled dialog writes nothing.
    Click(ids::kOpen);
    ChoosePort(u"TCP/IP");
    dialogs_.save_path.reset();
    window().ExecuteCommand(ids::kSaveDisplay);
    EXPECT_EQ(dialogs_.save_requests.back().initial_name.substr(0, 6), u"TCPIP_");
    EXPECT_TRUE(dialogs_.shown.empty());
}

}  // namespace
