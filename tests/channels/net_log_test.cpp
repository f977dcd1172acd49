// The diagnostic log: switches, stamps, the file with its size limit and numbering, cut texts
// and the environment switches. Each test writes into a temporary folder of its own.
#include "channels/net_log.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "platform/code_page.h"
#include "platform/debug_sink.h"
#include "platform/local_time.h"
#include "platform/paths.h"

namespace {

namespace fs = std::filesystem;

const char* const kStamp = R"(\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\])";
const char* const kStampMs = R"(\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}\])";

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class NetLogTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = fs::temp_directory_path() /
                  ("netlog_" + std::to_string(::getpid()) + "_" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder_);
        fs::create_directories(folder_);
        LogInit(&log_);
        log_.wIndex = kNetLogNoIndex;  // as the first connection object sets it
        SetFolder(folder_.string());
        previous_sink_ = kem::platform::SetDebugSink([this](std::string_view text) {
            std::lock_guard lock(debug_mutex_);
            debug_.emplace_back(text);
        });
    }
    void TearDown() override {
        kem::platform::SetDebugSink(std::move(previous_sink_));
        LogInit(&log_);  // closes the file
        fs::remove_all(folder_);
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
    std::string Today() const {
        const auto now = kem::platform::NowLocal();
        char text[16];
        std::snprintf(text, sizeof text, "%04d%02d%02d", now.year, now.month, now.day);
        return text;
    }

    fs::path folder_;
    tagNetLog log_;
    std::mutex debug_mutex_;
    std::vector<std::string> debug_;
    kem::platform::DebugSink previous_sink_;
};

TEST_F(NetLogTest, InitSetsTheDefaults) {
    tagNetLog fresh;
    EXPECT_EQ(fresh.bDateInName, 1);
    EXPECT_EQ(fresh.dwMaxSize, kNetLogDefaultMaxSize);
    fresh.bFileOutput = 1;
    LogInit(&fresh);
    EXPECT_EQ(kem::platform::WideToUtf8(fresh.szFolder),
              kem::platform::ExecutableFolder() + "/log");
    EXPECT_EQ(std::u16string(fresh.szBaseName), u"ltKemNetConnect");
    EXPECT_EQ(std::u16string(fresh.szExt), u".log");
    EXPECT_EQ(fresh.bDateInName, 0);
    EXPECT_EQ(fresh.bFileOutput.load(), 0);
    EXPECT_EQ(fresh.bDebugOutput.load(), 0);
}

TEST_F(NetLogTest, BothSwitchesOffWriteNothingAnywhere) {
    EXPECT_EQ(LogFormat(&log_, true, true, "(%s:%u,%d)quiet", "1.2.3.4", 5u, 6), 1);
    LogText(&log_, true, true, u"quiet too");
    LogWriteLine(&log_, "direct", true, true);
    EXPECT_TRUE(fs::is_empty(folder_));
    EXPECT_TRUE(debug().empty());
    EXPECT_FALSE(LogEnabled(&log_));
}

TEST_F(NetLogTest, DebugOutputGetsStampTextAndLineEndAsOnePiece) {
    log_.bDebugOutput = 1;
    EXPECT_EQ(LogFormat(&log_, true, true, "(%s:%u,%d)Send: iLen=%d", "127.0.0.1", 60000u, 7, 5),
              1);
    const auto pieces = debug();
    ASSERT_EQ(pieces.size(), 1u);
    EXPECT_TRUE(std::regex_match(
        pieces[0], std::regex(std::string(kStamp) + R"(\(127\.0\.0\.1:60000,7\)Send: iLen=5\r\n)")))
        << pieces[0];
    EXPECT_TRUE(fs::is_empty(folder_));
}

TEST_F(NetLogTest, MillisecondStampAndUnstampedLines) {
    log_.bDebugOutput = 1;
    log_.bMilliseconds = 1;
    LogFormat(&log_, false, true, "a");
    LogText(&log_, true, false, u"!!!!!!listen thread param is NULL");
    LogText(&log_, true, true, nullptr);
    LogWriteLine(&log_, nullptr, false, false);  // nothing at all
    const auto pieces = debug();
    ASSERT_EQ(pieces.size(), 3u);
    EXPECT_TRUE(std::regex_match(pieces[0], std::regex(std::string(kStampMs) + "a"))) << pieces[0];
    EXPECT_EQ(pieces[1], "!!!!!!listen thread param is NULL\r\n");
    EXPECT_TRUE(std::regex_match(pieces[2], std::regex(std::string(kStampMs) + "\r\n")))
        << pieces[2];
}

TEST_F(NetLogTest, FileOutputAppendsStampedLines) {
    log_.bFileOutput = 1;
    LogFormat(&log_, true, true, "first %d", 1);
    LogText(&log_, true, true, u"second \u4e2d");  // the ANSI code page is GBK: D6 D0
    const std::string text = ReadFile(folder_ / "ltKemNetConnect.log");
    const std::string expected = std::string(kStamp) + "first 1\r\n" + kStamp + "second " +
                                 kem::platform::WideToAnsi(u"\u4e2d") + "\r\n";
    EXPECT_TRUE(std::regex_match(text, std::regex(expected))) << text;
    EXPECT_EQ(kem::platform::WideToAnsi(u"\u4e2d"), "\xD6\xD0");
    EXPECT_TRUE(debug().empty());
}

TEST_F(NetLogTest, DateGoesIntoTheNameWhenAsked) {
    log_.bFileOutput = 1;
    log_.bDateInName = 1;
    LogFormat(&log_, true, true, "dated");
    EXPECT_TRUE(fs::exists(folder_ / ("ltKemNetConnect_" + Today() + ".log")));
}

TEST_F(NetLogTest, MissingFolderDropsLinesQuietly) {
    SetFolder((folder_ / "missing").string());
    log_.bFileOutput = 1;
    log_.bDebugOutput = 1;
    EXPECT_EQ(LogFormat(&log_, true, true, "dropped"), 1);
    EXPECT_FALSE(fs::exists(folder_ / "missing"));
    EXPECT_EQ(log_.hFile, nullptr);
    // The debug output still gets the line.
    EXPECT_EQ(debug().size(), 1u);
}

TEST_F(NetLogTest, FileReachingTheLimitStartsAgainEmpty) {
    log_.bFileOutput = 1;
    log_.dwMaxSize = 64;
    const fs::path path = folder_ / "ltKemNetConnect.log";
    LogFormat(&log_, true, true, "%s", std::string(30, 'a').c_str());  // 21 + 30 + 2 bytes
    EXPECT_EQ(fs::file_size(path), 53u);
    EXPECT_NE(log_.hFile, nullptr);
    LogFormat(&log_, true, true, "%s", std::string(30, 'b').c_str());
    // The limit was reached by this line: it is written whole, then the file is closed.
    EXPECT_EQ(fs::file_size(path), 106u);
    EXPECT_EQ(log_.hFile, nullptr);
    LogFormat(&log_, true, true, "c");
    const std::string text = ReadFile(path);
    EXPECT_TRUE(std::regex_match(text, std::regex(std::string(kStamp) + "c\r\n"))) << text;
}

TEST_F(NetLogTest, ExistingFullFileIsEmptiedWhenOpened) {
    const fs::path path = folder_ / "ltKemNetConnect.log";
    std::ofstream(path) << std::string(100, 'x');
    log_.bFileOutput = 1;
    log_.dwMaxSize = 100;
    LogFormat(&log_, true, false, "fresh");
    EXPECT_EQ(ReadFile(path), "fresh\r\n");
}

TEST_F(NetLogTest, NumberedFilesSkipFullOnes) {
    for (const char* name :
         {"ltKemNetConnect_000.log", "ltKemNetConnect_001.log", "ltKemNetConnect_002.log"}) {
        std::ofstream(folder_ / name) << std::string(50, 'f');
    }
    log_.bFileOutput = 1;
    log_.dwMaxSize = 50;
    log_.wIndex = 0;
    LogFormat(&log_, true, false, "next");
    EXPECT_EQ(log_.wIndex, 3);
    EXPECT_EQ(ReadFile(folder_ / "ltKemNetConnect_003.log"), "next\r\n");
    EXPECT_EQ(fs::file_size(folder_ / "ltKemNetConnect_002.log"), 50u);
}

TEST_F(NetLogTest, NumberedFilesCarryTheDate) {
    log_.bFileOutput = 1;
    log_.bDateInName = 1;
    log_.wIndex = 7;
    LogFormat(&log_, true, false, "n");
    EXPECT_TRUE(fs::exists(folder_ / ("ltKemNetConnect_" + Today() + "_007.log")));
}

TEST_F(NetLogTest, AllNumbersFullMeansNoFile) {
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
    const std::string huge(kNetLogMaxTextUnits + 10, 'z');
    LogFormat(&log_, false, false, "%s", huge.c_str());
    EXPECT_EQ(fs::file_size(folder_ / "ltKemNetConnect.log"),
              static_cast<uintmax_t>(kNetLogMaxTextUnits));
    const std::u16string wide(kNetLogMaxTextUnits + 3, u'w');
    LogText(&log_, false, false, wide.c_str());
    EXPECT_EQ(fs::file_size(folder_ / "ltKemNetConnect.log"),
              2 * static_cast<uintmax_t>(kNetLogMaxTextUnits));
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
    const std::string text = ReadFile(folder_ / "ltKemNetConnect.log");
    const std::regex line(std::string(kStamp) + R"(\(thread \d\) line \d+\r)");
    size_t count = 0;
    size_t start = 0;
    for (size_t end = text.find('\n'); end != std::string::npos; end = text.find('\n', start)) {
        const std::string one = text.substr(start, end - start);
        EXPECT_TRUE(std::regex_match(one, line)) << one;
        ++count;
        start = end + 1;
    }
    EXPECT_EQ(count, 800u);
    EXPECT_EQ(start, text.size());
}

TEST_F(NetLogTest, EnvironmentTurnsTheOutputsOn) {
    const std::string before = kem::platform::WideToUtf8(log_.szFolder);
    ::unsetenv("KEMPEMVILO_NETLOG");
    ::unsetenv("KEMPEMVILO_DEBUG");
    LogApplyEnvironment(&log_);
    EXPECT_FALSE(LogEnabled(&log_));

    ::setenv("KEMPEMVILO_NETLOG", "0", 1);
    LogApplyEnvironment(&log_);
    EXPECT_EQ(log_.bFileOutput.load(), 0);

    ::setenv("KEMPEMVILO_NETLOG", "1", 1);
    LogApplyEnvironment(&log_);
    EXPECT_EQ(log_.bFileOutput.load(), 1);
    EXPECT_EQ(kem::platform::WideToUtf8(log_.szFolder), before);

    const std::string other = (folder_ / "other").string();
    ::setenv("KEMPEMVILO_NETLOG", other.c_str(), 1);
    LogApplyEnvironment(&log_);
    EXPECT_EQ(kem::platform::WideToUtf8(log_.szFolder), other);

    ::setenv("KEMPEMVILO_NETLOG", "./trace", 1);
    LogApplyEnvironment(&log_);
    EXPECT_EQ(kem::platform::WideToUtf8(log_.szFolder),
              kem::platform::ExecutableFolder() + "/trace");

    ::setenv("KEMPEMVILO_DEBUG", "1", 1);
    LogApplyEnvironment(&log_);
    EXPECT_EQ(log_.bDebugOutput.load(), 1);
    ::unsetenv("KEMPEMVILO_NETLOG");
    ::unsetenv("KEMPEMVILO_DEBUG");
}

}  // namespace
