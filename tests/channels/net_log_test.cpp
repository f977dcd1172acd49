// The diagnostic log: switches, stamps, the file with its size limit and numbering, cut texts
// and the environment switches. Each test writes into a temporary folder of its own.
#include "channels/net_log.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/code_page.h"
#include "platform/debug_sink.h"
#include "platform/local_time.h"
#include "platform/paths.h"
#include "support/scratch_files.h"

namespace {

namespace fs = std::filesystem;
using kem::platform::WideToUtf8;

const std::string kStamp = R"(\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\])";
const std::string kStampMs = R"(\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}\])";

bool Matches(const std::string& text, const std::string& pattern) {
    return std::regex_match(text, std::regex(pattern));
}

class NetLogTest : public ::testing::Test {
protected:
    void SetUp() override {
        Reset();
        previous_sink_ = kem::platform::SetDebugSink([this](std::string_view text) {
            std::lock_guard lock(debug_mutex_);
            debug_.emplace_back(text);
        });
    }
    void TearDown() override {
        kem::platform::SetDebugSink(std::move(previous_sink_));
        LogInit(&log_);  // closes the file
    }

    // Defaults as the first connection object leaves them, writing into the test's folder.
    void Reset() {
        LogInit(&log_);
        log_.wIndex = kNetLogNoIndex;
        SetFolder(folder_.path().string());
    }
    void SetFolder(const std::string& folder) {
        const std::u16string wide = kem::platform::Utf8ToWide(folder);
        std::fill(std::begin(log_.szFolder), std::end(log_.szFolder), u'\0');
        std::copy(wide.begin(), wide.end(), log_.szFolder);
    }
    std::vector<std::string> debug() {
        std::lock_guard lock(debug_mutex_);
        return debug_;
    }
    fs::path Path(const std::string& name = "ltKemNetConnect.log") const {
        return folder_.path() / name;
    }
    std::string File(const std::string& name = "ltKemNetConnect.log") const {
        return kem::testing::ReadBytes(Path(name));
    }
    static std::string Today() {
        const auto now = kem::platform::NowLocal();
        char text[16];
        std::snprintf(text, sizeof text, "%04d%02d%02d", now.year, now.month, now.day);
        return text;
    }

    kem::testing::TempFolder folder_;
    tagNetLog log_;
    std::mutex debug_mutex_;
    std::vector<std::string> debug_;
    kem::platform::DebugSink previous_sink_;
};

TEST_F(NetLogTest, DebugOutputGetsEachLineAsOnePieceWithItsStamp) {
    // Both switches off: nothing anywhere.
    EXPECT_EQ(LogFormat(&log_, true, true, "(%s:%u,%d)quiet", "1.2.3.4", 5u, 6), 1);
    LogText(&log_, true, true, u"quiet too");
    LogWriteLine(&log_, "direct", true, true);
    EXPECT_TRUE(debug().empty());
    EXPECT_FALSE(LogEnabled(&log_));
    log_.bDebugOutput = 1;
    EXPECT_EQ(LogFormat(&log_, true, true, "(%s:%u,%d)Send: iLen=%d", "127.0.0.1", 60000u, 7, 5),
              1);
    log_.bMilliseconds = 1;
    LogFormat(&log_, false, true, "a");
    LogText(&log_, true, false, u"!!!!!!listen thread param is NULL");
    LogText(&log_, true, true, nullptr);
    LogWriteLine(&log_, nullptr, false, false);  // nothing at all
    const auto pieces = debug();
    ASSERT_EQ(pieces.size(), 4u);
    EXPECT_TRUE(Matches(pieces[0], kStamp + R"(\(127\.0\.0\.1:60000,7\)Send: iLen=5\r\n)"))
        << pieces[0];
    EXPECT_TRUE(Matches(pieces[1], kStampMs + "a")) << pieces[1];
    EXPECT_EQ(pieces[2], "!!!!!!listen thread param is NULL\r\n");
    EXPECT_TRUE(Matches(pieces[3], kStampMs + "\r\n")) << pieces[3];
    EXPECT_TRUE(fs::is_empty(folder_.path()));
}

TEST_F(NetLogTest, FileOutputAppendsStampedLinesInTheAnsiCodePage) {
    log_.bFileOutput = 1;
    LogFormat(&log_, true, true, "first %d", 1);
    LogText(&log_, true, true, u"second \u4e2d");  // GBK: D6 D0
    EXPECT_TRUE(Matches(File(), kStamp + "first 1\r\n" + kStamp + "second \xD6\xD0\r\n")) << File();
    EXPECT_TRUE(debug().empty());
}

TEST_F(NetLogTest, DateAndNumberGoIntoTheNameWhenAsked) {
    for (uint16_t index : {kNetLogNoIndex, uint16_t{7}}) {
        Reset();
        log_.bFileOutput = 1;
        log_.bDateInName = 1;
        log_.wIndex = index;
        LogFormat(&log_, true, false, "n");
    }
    EXPECT_TRUE(fs::exists(Path("ltKemNetConnect_" + Today() + ".log")));
    EXPECT_TRUE(fs::exists(Path("ltKemNetConnect_" + Today() + "_007.log")));
}

TEST_F(NetLogTest, MissingFolderDropsFileLinesQuietly) {
    SetFolder(Path("missing").string());
    log_.bFileOutput = 1;
    log_.bDebugOutput = 1;
    EXPECT_EQ(LogFormat(&log_, true, true, "dropped"), 1);
    EXPECT_FALSE(fs::exists(Path("missing")));
    EXPECT_EQ(log_.hFile, nullptr);
    EXPECT_EQ(debug().size(), 1u);  // the debug output still gets the line
}

TEST_F(NetLogTest, FileReachingTheLimitStartsAgainEmpty) {
    log_.bFileOutput = 1;
    log_.dwMaxSize = 64;
    LogFormat(&log_, true, true, "%s", std::string(30, 'a').c_str());  // 21 + 30 + 2 bytes
    EXPECT_EQ(fs::file_size(Path()), 53u);
    EXPECT_NE(log_.hFile, nullptr);
    // The line that reaches the limit is written whole, then the file is closed.
    LogFormat(&log_, true, true, "%s", std::string(30, 'b').c_str());
    EXPECT_EQ(fs::file_size(Path()), 106u);
    EXPECT_EQ(log_.hFile, nullptr);
    LogFormat(&log_, true, true, "c");
    EXPECT_TRUE(Matches(File(), kStamp + "c\r\n")) << File();
}

TEST_F(NetLogTest, ExistingFullFileIsEmptiedWhenOpened) {
    kem::testing::WriteBytes(Path().string(), std::string(100, 'x'));
    log_.bFileOutput = 1;
    log_.dwMaxSize = 100;
    LogFormat(&log_, true, false, "fresh");
    EXPECT_EQ(File(), "fresh\r\n");
}

TEST_F(NetLogTest, NumberedFilesSkipFullOnesUpToTheLastNumber) {
    for (const char* name :
         {"ltKemNetConnect_000.log", "ltKemNetConnect_001.log", "ltKemNetConnect_002.log"}) {
        kem::testing::WriteBytes(Path(name).string(), std::string(50, 'f'));
    }
    log_.bFileOutput = 1;
    log_.dwMaxSize = 50;
    log_.wIndex = 0;
    LogFormat(&log_, true, false, "next");
    EXPECT_EQ(log_.wIndex, 3);
    EXPECT_EQ(File("ltKemNetConnect_003.log"), "next\r\n");
    EXPECT_EQ(fs::file_size(Path("ltKemNetConnect_002.log")), 50u);

    Reset();
    log_.bFileOutput = 1;
    log_.dwMaxSize = 0;  // every file counts as full
    log_.wIndex = 995;
    EXPECT_EQ(LogFormat(&log_, true, false, "nowhere"), 1);
    EXPECT_EQ(log_.wIndex, 1000);
    EXPECT_EQ(log_.hFile, nullptr);
}

TEST_F(NetLogTest, OverLongTextIsCut) {
    log_.bFileOutput = 1;
    log_.dwMaxSize = 0x7FFFFFFF;
    LogFormat(&log_, false, false, "%s", std::string(kNetLogMaxTextUnits + 10, 'z').c_str());
    EXPECT_EQ(fs::file_size(Path()), static_cast<uintmax_t>(kNetLogMaxTextUnits));
    LogText(&log_, false, false, std::u16string(kNetLogMaxTextUnits + 3, u'w').c_str());
    EXPECT_EQ(fs::file_size(Path()), 2 * static_cast<uintmax_t>(kNetLogMaxTextUnits));
}

TEST_F(NetLogTest, LinesFromManyThreadsStayWhole) {
    log_.bFileOutput = 1;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([this, t] {
            for (int i = 0; i < 200; ++i) {
                LogFormat(&log_, true, true, "(thread %d) line %d", t, i);
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    const std::string text = File();
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.back(), '\n');
    std::istringstream lines(text);
    size_t count = 0;
    for (std::string one; std::getline(lines, one); ++count) {
        EXPECT_TRUE(Matches(one, kStamp + R"(\(thread \d\) line \d+\r)")) << one;
    }
    EXPECT_EQ(count, 800u);
}

TEST_F(NetLogTest, EnvironmentTurnsTheOutputsOn) {
    const std::string before = WideToUtf8(log_.szFolder);
    const std::string other = Path("other").string();
    const std::string beside = kem::platform::ExecutableFolder() + "/trace";
    struct Row {
        const char* netlog;  // null: unset
        const char* debug;
        int32_t file_on, debug_on;
        std::string folder;
    };
    // Applied in turn: each row starts from what the previous one left.
    const Row rows[] = {{nullptr, nullptr, 0, 0, before},   {"0", nullptr, 0, 0, before},
                        {"1", nullptr, 1, 0, before},       {other.c_str(), nullptr, 1, 0, other},
                        {"./trace", nullptr, 1, 0, beside}, {"./trace", "1", 1, 1, beside}};
    for (const Row& row : rows) {
        SCOPED_TRACE(&row - rows);
        row.netlog ? ::setenv("KEMPEMVILO_NETLOG", row.netlog, 1) : ::unsetenv("KEMPEMVILO_NETLOG");
        row.debug ? ::setenv("KEMPEMVILO_DEBUG", row.debug, 1) : ::unsetenv("KEMPEMVILO_DEBUG");
        LogApplyEnvironment(&log_);
        EXPECT_EQ(log_.bFileOutput.load(), row.file_on);
        EXPECT_EQ(log_.bDebugOutput.load(), row.debug_on);
        EXPECT_EQ(WideToUtf8(log_.szFolder), row.folder);
    }
    ::unsetenv("KEMPEMVILO_NETLOG");
    ::unsetenv("KEMPEMVILO_DEBUG");
}

}  // namespace
