// The traffic log window driven through its controls: all three logs written and read back,
// refused starts, a write failure while recording, the options in the settings record.
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>

#include <cerrno>
#include <regex>

#include "gui/main_window_support.h"
#include "platform/code_page.h"
#include "ui/save_to_file_option.h"

namespace {

using kem::testing::ReadBytes;
using kem::testing::TempFolder;

const std::string kStartLine = R"(\[! \\StartTime: \d{4}-\d\d-\d\d \d\d:\d\d:\d\d\]\r\n)";
const std::string kStopLines =
    R"(\r\n\[! \\StopTime: \d{4}-\d\d-\d\d \d\d:\d\d:\d\d\]\r\n\r\n\r\n\r\n)";

// A whole log: start marker, `body` taken literally, stop marker.
bool IsFramedLog(const std::string& log, const std::string& body) {
    std::string escaped;
    for (char c : body) {
        if (std::string(R"(\^$.|?*+()[]{})").find(c) != std::string::npos) {
            escaped += '\\';
        }
        escaped += c;
    }
    return std::regex_match(log, std::regex(kStartLine + escaped + kStopLines));
}

tagComExchangeData Block(int32_t direction, const std::string& bytes, int hour, int minute,
                         int second, int millisecond) {
    tagComExchangeData record;
    record.direction = direction;
    record.time.hour = hour;
    record.time.minute = minute;
    record.time.second = second;
    record.time.millisecond = millisecond;
    record.data.assign(bytes.begin(), bytes.end());
    return record;
}

// The main window's fixture resets the settings records; the window under test is log_.
class SaveToFileOptionTest : public MainWindowTest {
protected:
    void SetUp() override {
        MainWindowTest::SetUp();
        log_ = std::make_unique<CDlgSaveToFileOption>(nullptr, dialogs_);
        QObject::connect(log_.get(), &CDlgSaveToFileOption::recordingChanged,
                         [this](bool recording) { notices_.push_back(recording); });
    }
    void TearDown() override {
        log_.reset();
        MainWindowTest::TearDown();
    }

    template <typename T>
    T* Control(int id) {
        T* control = log_->findChild<T*>(QString::number(id));
        EXPECT_NE(control, nullptr) << "no control " << id;
        return control;
    }
    void SetText(int id, const std::u16string& text) {
        Control<QLineEdit>(id)->setText(QString::fromStdU16String(text));
    }
    std::u16string Text(int id) { return Control<QLineEdit>(id)->text().toStdU16String(); }
    void Check(int id, bool on) { Control<QCheckBox>(id)->setChecked(on); }
    void ClickStartStop() { Control<QPushButton>(log_ids::kStartStop)->click(); }
    std::u16string Status() { return Control<QLabel>(log_ids::kStatus)->text().toStdU16String(); }

    std::unique_ptr<CDlgSaveToFileOption> log_;
    std::vector<bool> notices_;
};

TEST_F(SaveToFileOptionTest, RecordsSendReceiveAndAllLogsWithStampsAndLineEnds) {
    TempFolder folder;
    g_strConfigFile = u"/cfg/board.pvto";
    SetText(log_ids::kPath, folder.path16());
    SetText(log_ids::kTitle, u"%t_run");
    for (const int id : {log_ids::kSaveSend, log_ids::kSendTimeStamp, log_ids::kSendEndNewLine,
                         log_ids::kSaveReceive, log_ids::kReceiveEndNewLine, log_ids::kSaveAll,
                         log_ids::kAllTimeStamp, log_ids::kAllMergeContinue}) {
        Check(id, true);
    }
    Check(log_ids::kReceiveTimeStamp, false);
    Check(log_ids::kAllEndNewLine, false);

    ClickStartStop();
    ASSERT_TRUE(log_->IsRecording());
    EXPECT_EQ(notices_, std::vector<bool>{true});
    EXPECT_EQ(Status(), kLogStatusRecording);
    EXPECT_EQ(Control<QPushButton>(log_ids::kStartStop)->text().toStdU16String(), kLogStop);
    // The window shows the resolved names; the record keeps the templates.
    EXPECT_EQ(Text(log_ids::kAllName), u"board_run_All.log");
    EXPECT_EQ(std::u16string(g_AppConfig.LogFileTitle), u"%t_run");
    EXPECT_TRUE(Control<QLineEdit>(log_ids::kPath)->isReadOnly());
    EXPECT_FALSE(Control<QCheckBox>(log_ids::kSaveSend)->isEnabled());
    EXPECT_FALSE(Control<QPushButton>(log_ids::kBrowse)->isEnabled());

    log_->WriteTrafficBlock(Block(0, "AT\r", 13, 7, 10, 125));
    log_->WriteTrafficBlock(Block(1, "OK", 13, 7, 10, 250));
    log_->WriteTrafficBlock(Block(1, "\r\n", 13, 7, 10, 251));
    log_->WriteTrafficBlock(Block(0, "X", 13, 7, 11, 5));
    ClickStartStop();

    EXPECT_FALSE(log_->IsRecording());
    EXPECT_EQ(notices_, (std::vector<bool>{true, false}));
    EXPECT_EQ(Status(), kLogStatusIdle);
    EXPECT_EQ(Text(log_ids::kTitle), u"%t_run");
    EXPECT_TRUE(Control<QCheckBox>(log_ids::kSaveSend)->isEnabled());

    const std::string all = ReadBytes(folder / "board_run_All.log");
    EXPECT_TRUE(IsFramedLog(ReadBytes(folder / "board_run_Send.log"),
                            "[13:07:10.125]AT\r\r\n[13:07:11.005]X\r\n"));
    EXPECT_TRUE(IsFramedLog(ReadBytes(folder / "board_run_Receive.log"), "OK\r\n\r\n\r\n"));
    EXPECT_TRUE(IsFramedLog(all, "[S 13:07:10.125]AT\r[R 13:07:10.250]OK\r\n[S 13:07:11.005]X"))
        << all;

    // Idle: a block changes no file.
    log_->WriteTrafficBlock(Block(1, "late", 13, 9, 0, 0));
    EXPECT_EQ(ReadBytes(folder / "board_run_All.log"), all);
    EXPECT_TRUE(dialogs_.shown.empty());
}

TEST_F(SaveToFileOptionTest, RefusedStartsShowOneMessageAndStayIdle) {
    TempFolder folder;
    // Nothing selected: a notice, no file, no notification.
    SetText(log_ids::kPath, folder.path16());
    Check(log_ids::kSaveAll, false);
    dialogs_.answers = {DialogAnswer::kOk};
    ClickStartStop();
    ASSERT_EQ(dialogs_.shown.size(), 1u);
    EXPECT_EQ(dialogs_.shown[0].text, kLogNothingSelected);
    EXPECT_EQ(dialogs_.shown[0].caption, kCaptionNotice);
    EXPECT_EQ(dialogs_.shown[0].icon, DialogIcon::kInformation);
    EXPECT_FALSE(log_->IsRecording());
    EXPECT_TRUE(kem::testing::Names(folder.path()).empty());

    // A folder that does not exist is not created: the error, and the templates again.
    const std::string missing = folder / "missing/deeper";
    SetText(log_ids::kPath, kem::platform::Utf8ToWide(missing));
    Check(log_ids::kSaveAll, true);
    Check(log_ids::kSaveSend, true);
    dialogs_.answers = {DialogAnswer::kOk};
    ClickStartStop();
    ASSERT_EQ(dialogs_.shown.size(), 2u);
    EXPECT_EQ(dialogs_.shown[1].text, kLogCreateFailed);
    EXPECT_EQ(dialogs_.shown[1].caption, kCaptionError);
    EXPECT_EQ(dialogs_.shown[1].icon, DialogIcon::kError);
    EXPECT_FALSE(log_->IsRecording());
    EXPECT_TRUE(notices_.empty());
    EXPECT_FALSE(std::filesystem::exists(folder / "missing"));
    EXPECT_EQ(Text(log_ids::kTitle), kDefaultLogTitle);
    EXPECT_EQ(Status(), u"...");
}

TEST_F(SaveToFileOptionTest, WriteFailureStopsRecordingWithOneMessage) {
    TempFolder folder;
    SetText(log_ids::kPath, folder.path16());
    SetText(log_ids::kTitle, u"fail");
    ClickStartStop();
    ASSERT_TRUE(log_->IsRecording());
    const std::string path = folder / "fail_All.log";
    const std::string started = ReadBytes(path);
    ASSERT_TRUE(std::regex_match(started, std::regex(kStartLine))) << started;

    dialogs_.answers = {DialogAnswer::kOk};
    {
        kem::testing::FileSizeLimit limit(started.size() + 8);
        ASSERT_TRUE(limit.active());
        log_->WriteTrafficBlock(Block(1, std::string(64, 'x'), 1, 2, 3, 4));
        // Blocks after the failure find recording off: no second message.
        log_->WriteTrafficBlock(Block(0, "more", 1, 2, 3, 5));
    }
    EXPECT_FALSE(log_->IsRecording());
    EXPECT_EQ(notices_, (std::vector<bool>{true, false}));
    ASSERT_EQ(dialogs_.shown.size(), 1u);
    const std::u16string& text = dialogs_.shown[0].text;
    EXPECT_EQ(text.rfind(kLogWriteFailed, 0), 0u);
    EXPECT_NE(text.find(kem::platform::Utf8ToWide(path)), std::u16string::npos) << path;
    EXPECT_NE(text.find(kem::platform::Utf8ToWide(kem::platform::MakeOsError(EFBIG).text)),
              std::u16string::npos);
    EXPECT_EQ(dialogs_.shown[0].caption, kCaptionError);
    EXPECT_EQ(Status(), kLogStatusIdle);
    EXPECT_EQ(Text(log_ids::kTitle), u"fail");
    // The file keeps what reached it before the limit, nothing after.
    const std::string kept = ReadBytes(path);
    EXPECT_EQ(kept.rfind(started, 0), 0u);
    EXPECT_LE(kept.size(), started.size() + 8);
    EXPECT_EQ(kept.find("more"), std::string::npos);
}

TEST_F(SaveToFileOptionTest, OptionsReachTheSettingsRecordAndANewWindowRecordsWithThem) {
    EXPECT_EQ(Text(log_ids::kPath), kDefaultLogPath);  // empty texts show their templates
    EXPECT_EQ(Text(log_ids::kReceiveName), kDefaultLogReceiveName);
    // The folder chooser: cancel changes nothing, a chosen folder replaces the path.
    TempFolder folder;
    Control<QPushButton>(log_ids::kBrowse)->click();
    EXPECT_EQ(Text(log_ids::kPath), kDefaultLogPath);
    dialogs_.folder = folder.path16();
    Control<QPushButton>(log_ids::kBrowse)->click();
    EXPECT_EQ(Text(log_ids::kPath), folder.path16());
    SetText(log_ids::kTitle, u"t");
    SetText(log_ids::kReceiveName, u"%T.rx");
    Check(log_ids::kSaveReceive, true);
    Check(log_ids::kReceiveEndNewLine, true);
    Check(log_ids::kSaveAll, false);
    log_.reset();  // destroying the idle window stores what it shows
    EXPECT_EQ(std::u16string(g_AppConfig.LogFilePath), folder.path16());
    EXPECT_EQ(std::u16string(g_AppConfig.LogFileTitle), u"t");
    EXPECT_EQ(std::u16string(g_AppConfig.LogFileReceiveName), u"%T.rx");
    EXPECT_EQ(g_AppConfig.LogSaveReceive, 1);
    EXPECT_EQ(g_AppConfig.LogSaveReceiveEndAddNewLine, 1);
    EXPECT_EQ(g_AppConfig.LogSaveAllChannel, 0);

    // A new window shows the stored options; destroying it while recording ends the logs.
    log_ = std::make_unique<CDlgSaveToFileOption>(nullptr, dialogs_);
    ASSERT_EQ(Text(log_ids::kPath), folder.path16());
    ClickStartStop();
    ASSERT_TRUE(log_->IsRecording());
    log_->WriteTrafficBlock(Block(1, "hi", 0, 0, 0, 0));
    log_.reset();
    EXPECT_TRUE(IsFramedLog(ReadBytes(folder / "t.rx"), "hi\r\n"));
    EXPECT_TRUE(dialogs_.shown.empty());
}

TEST_F(SaveToFileOptionTest, AllTrafficLogIsFramedWithTheStoredGap) {
    TempFolder folder;
    g_AppConfigExt.FrameGap = 50;
    SetText(log_ids::kPath, folder.path16());
    SetText(log_ids::kTitle, u"t");
    Check(log_ids::kAllTimeStamp, false);
    Check(log_ids::kAllMergeContinue, true);
    ClickStartStop();
    ASSERT_TRUE(log_->IsRecording());
    // 20 ms joins, 80 ms is past the gap; the sent block is an entry of its own.
    log_->WriteTrafficBlock(Block(1, "a", 1, 2, 3, 0));
    log_->WriteTrafficBlock(Block(1, "b", 1, 2, 3, 20));
    log_->WriteTrafficBlock(Block(1, "c", 1, 2, 3, 100));
    log_->WriteTrafficBlock(Block(0, "d", 1, 2, 3, 101));
    ClickStartStop();
    EXPECT_TRUE(IsFramedLog(ReadBytes(folder / "t_All.log"), "[R]ab[R]c[S]d")) << "gap not used";
}

}  // namespace
