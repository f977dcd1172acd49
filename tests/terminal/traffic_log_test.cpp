#include "terminal/traffic_log.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <tuple>
#include <vector>

#include "channels/pty_pair.h"
#include "platform/code_page.h"
#include "settings/app_config.h"
#include "support/scratch_files.h"
#include "terminal/traffic_log_names.h"

namespace {

namespace fs = std::filesystem;
using namespace kem::testing;

kem::platform::LocalTime At(int year, int month, int day, int hour, int minute, int second) {
    kem::platform::LocalTime time;
    time.year = year;
    time.month = month;
    time.day = day;
    time.hour = hour;
    time.minute = minute;
    time.second = second;
    return time;
}

const kem::platform::LocalTime kStart = At(2010, 5, 4, 13, 7, 9);
const kem::platform::LocalTime kStop = At(2010, 5, 4, 13, 8, 0);

std::string Utf8(std::u16string_view text) {
    return kem::platform::WideToUtf8(text);
}

TrafficLogBlock Block(int32_t direction, std::string_view bytes, uint16_t hour = 13,
                      uint16_t minute = 7, uint16_t second = 10, uint16_t millisecond = 125) {
    TrafficLogBlock block;
    block.direction = direction;
    block.hour = hour;
    block.minute = minute;
    block.second = second;
    block.millisecond = millisecond;
    block.bytes = bytes;
    return block;
}

constexpr std::string_view kStartLine = "[! \\StartTime: 2010-05-04 13:07:09]\r\n";
constexpr std::string_view kStopLines = "\r\n[! \\StopTime: 2010-05-04 13:08:00]\r\n\r\n\r\n\r\n";

// Options that write only the all-traffic log, under fixed names in `folder`.
TrafficLogOptions AllOnly(const TempFolder& folder) {
    TrafficLogOptions options;
    options.path = folder.path16();
    options.title = u"t";
    options.send_name = u"send.log";
    options.receive_name = u"receive.log";
    options.all_name = u"all.log";
    options.save_send = false;
    options.save_receive = false;
    options.save_all = true;
    return options;
}

// ---- Options and the settings record ----

TEST(TrafficLogOptionsTest, EmptySettingsFieldsGiveTheDefaultTemplates) {
    tagAppConfig config = DefaultAppConfig();
    config.LogFilePath[0] = u'\0';
    const TrafficLogOptions options = LoadTrafficLogOptions(config);
    EXPECT_EQ(options.path, u".\\");
    EXPECT_EQ(options.title, u"%t_%Y%m%d_%H%M%S");
    EXPECT_EQ(options.send_name, u"%T_Send.log");
    EXPECT_EQ(options.receive_name, u"%T_Receive.log");
    EXPECT_EQ(options.all_name, u"%T_All.log");
}

TEST(TrafficLogOptionsTest, FreshSettingsSelectTheStampedMergedAllTrafficLogOnly) {
    const TrafficLogOptions options = LoadTrafficLogOptions(DefaultAppConfig());
    EXPECT_EQ(options.path, u".\\");
    EXPECT_FALSE(options.save_send);
    EXPECT_FALSE(options.save_receive);
    EXPECT_TRUE(options.save_all);
    EXPECT_TRUE(options.all_time_stamp);
    EXPECT_FALSE(options.all_end_new_line);
    EXPECT_TRUE(options.all_merge_continue);
}

TEST(TrafficLogOptionsTest, StoreKeepsTemplatesAndSwitchesAndCutsLongTexts) {
    TrafficLogOptions options;
    options.path = std::u16string(600, u'p');
    options.title = u"%t_x";
    options.send_name = std::u16string(300, u's');
    options.receive_name = u"r.log";
    options.all_name = u"a.log";
    options.save_send = true;
    options.receive_end_new_line = true;
    options.save_all = false;
    options.all_merge_continue = false;
    tagAppConfig config = DefaultAppConfig();
    StoreTrafficLogOptions(options, &config);
    EXPECT_EQ(config.LogSaveSend, 1);
    EXPECT_EQ(config.LogSaveReceiveEndAddNewLine, 1);
    EXPECT_EQ(config.LogSaveAllChannel, 0);
    EXPECT_EQ(config.LogSaveAllChannelMergeContinue, 0);
    const TrafficLogOptions back = LoadTrafficLogOptions(config);
    EXPECT_EQ(back.path, std::u16string(511, u'p'));
    EXPECT_EQ(back.title, u"%t_x");
    EXPECT_EQ(back.send_name, std::u16string(255, u's'));
    EXPECT_EQ(back.receive_name, u"r.log");
    EXPECT_TRUE(back.save_send);
    EXPECT_FALSE(back.save_all);
}

// ---- Names from templates ----

TEST(ConfigurationTitleTest, TakesTheFileNameWithoutItsLastExtension) {
    struct Row {
        const char* name;
        std::u16string_view file;
        std::u16string_view title;
    };
    const Row rows[] = {
        {"none", u"", u"ZedOzuzu"},
        {"windows path", u"D:\\cfg\\board.pvto", u"board"},
        {"posix path", u"/home/u/board.v2.pvto", u"board.v2"},
        {"quoted", u"\"C:\\x\\a.pvto\"", u"a"},
        {"no extension", u"plain", u"plain"},
        {"dot only in folder", u"/a.b/c", u"c"},
        {"percent", u"/tmp/50%.pvto", u"50%"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(ConfigurationTitle(row.file), row.title) << row.name;
    }
}

TEST(ResolveLogNamesTest, WorkedExampleWithAndWithoutConfigurationFile) {
    TrafficLogOptions options = LoadTrafficLogOptions(DefaultAppConfig());
    ResolvedLogNames names = ResolveLogNames(options, u"D:\\cfg\\board.pvto", kStart);
    EXPECT_EQ(names.title, u"board_20100504_130709");
    EXPECT_EQ(names.send_name, u"board_20100504_130709_Send.log");
    EXPECT_EQ(names.receive_name, u"board_20100504_130709_Receive.log");
    EXPECT_EQ(names.all_name, u"board_20100504_130709_All.log");
    names = ResolveLogNames(options, u"", kStart);
    EXPECT_EQ(names.all_name, u"ZedOzuzu_20100504_130709_All.log");
}

TEST(ResolveLogNamesTest, TemplateRows) {
    struct Row {
        const char* name;
        std::u16string_view config_file;
        std::u16string_view title;
        std::u16string_view all_name;
        std::u16string_view want_title;
        std::u16string_view want_all;
    };
    const Row rows[] = {
        {"escaped percent s stays literal", u"", u"%%s", u"%T_%%s", u"%s", u"%s_%s"},
        {"percent in the file name", u"/cfg/50%.pvto", u"%t_%Y%m%d_%H%M%S", u"%T_All.log",
         u"50%_20100504_130709", u"50%_20100504_130709_All.log"},
        {"percent and letters in the file name", u"/cfg/a%Y%m.pvto", u"%t", u"%T-%t.log", u"a%Y%m",
         u"a%Y%m-a%Y%m.log"},
        {"escaped percent before t", u"", u"%%t", u"%T", u"%t", u"%t"},
        {"capital T in the title is strftime's time", u"", u"%T", u"x%T", u"13:07:09",
         u"x13:07:09"},
        {"unknown conversion stays", u"", u"a%qb", u"%T.log", u"a%qb", u"a%qb.log"},
        {"trailing percent stays", u"", u"x%", u"%T.log", u"x%", u"x%.log"},
        {"replacement is case-sensitive and global", u"/c/cfg.pvto", u"%t%t", u"%t_%T_%T",
         u"cfgcfg", u"cfg_cfgcfg_cfgcfg"},
        {"empty template stays empty", u"", u"", u"%T_All.log", u"", u"_All.log"},
    };
    for (const Row& row : rows) {
        TrafficLogOptions options;
        options.title = row.title;
        options.all_name = row.all_name;
        const ResolvedLogNames names = ResolveLogNames(options, row.config_file, kStart);
        EXPECT_EQ(Utf8(names.title), Utf8(row.want_title)) << row.name;
        EXPECT_EQ(Utf8(names.all_name), Utf8(row.want_all)) << row.name;
    }
}

TEST(ResolveLogNamesTest, FaultyExpansionsGiveTheFixedFallback) {
    std::u16string many_dates;
    for (int i = 0; i < 30; ++i) {
        many_dates += u"%c";
    }
    const std::u16string_view faulty[] = {
        u"%1000Y",   // strftime cannot fit it: empty result
        many_dates,  // longer than the 255 units kept
    };
    for (const std::u16string_view pattern : faulty) {
        EXPECT_EQ(ExpandLogTemplate(pattern, u"cfg", nullptr, kStart), kLogNameFallback)
            << Utf8(pattern);
    }
    // A clock value that cannot be converted.
    EXPECT_EQ(ExpandLogTemplate(u"%Y", u"cfg", nullptr, At(2010, 13, 4, 0, 0, 0)),
              u"Invalid DateTime");
    // A title that is itself the fallback still yields a usable name.
    TrafficLogOptions options;
    options.title = u"%1000Y";
    options.all_name = u"%T_All.log";
    EXPECT_EQ(ResolveLogNames(options, u"", kStart).all_name, u"Invalid DateTime_All.log");
}

TEST(LogFilePathTest, FolderAndNameAreJoinedExpandedAndNormalised) {
    setenv("KEM_TRAFFIC_LOG_TEST_DIR", "/tmp/kem_x", 1);
    EXPECT_EQ(LogFilePath(u"%KEM_TRAFFIC_LOG_TEST_DIR%\\sub\\..\\logs\\", u"a.log"),
              "/tmp/kem_x/logs/a.log");
    EXPECT_EQ(LogFilePath(u"/var/x", u"/abs/b.log"), "/abs/b.log");
    // A name whose expansion is absolute stands for itself.
    EXPECT_EQ(LogFilePath(u"/var/x", u"%KEM_TRAFFIC_LOG_TEST_DIR%.log"), "/tmp/kem_x.log");
    EXPECT_EQ(LogFilePath(u"/var/x", u"..\\y.log"), "/var/y.log");
    unsetenv("KEM_TRAFFIC_LOG_TEST_DIR");
    const std::string relative = LogFilePath(u".\\", u"c.log");
    EXPECT_EQ(relative, (fs::current_path() / "c.log").string());
}

// ---- Writing ----

TEST(TrafficLogWriterTest, WorkedExampleAllTrafficLog) {
    TempFolder folder;
    TrafficLogOptions options = LoadTrafficLogOptions(DefaultAppConfig());
    options.path = folder.path16();
    TrafficLogWriter writer;
    ASSERT_TRUE(writer.Start(options, u"/cfg/board.pvto", kStart).ok());
    EXPECT_TRUE(writer.recording());
    EXPECT_EQ(writer.names().all_name, u"board_20100504_130709_All.log");
    EXPECT_TRUE(writer.WriteTrafficBlock(Block(0, "AT\r", 13, 7, 10, 125)).ok());
    EXPECT_TRUE(writer.WriteTrafficBlock(Block(1, "OK", 13, 7, 10, 250)).ok());
    EXPECT_TRUE(writer.WriteTrafficBlock(Block(1, "\r\n", 13, 7, 10, 251)).ok());
    EXPECT_TRUE(writer.Stop(kStop).ok());
    EXPECT_FALSE(writer.recording());
    const std::string want = std::string(kStartLine) + "[S 13:07:10.125]AT\r" +
                             "[R 13:07:10.250]OK" + "\r\n" + std::string(kStopLines);
    EXPECT_EQ(ReadBytes(folder.path() / "board_20100504_130709_All.log"), want);
    EXPECT_FALSE(fs::exists(folder.path() / "board_20100504_130709_Send.log"));
}

TEST(TrafficLogWriterTest, AllTrafficLineEndsSeparateEntriesAndMergeOffTagsEachBlock) {
    TempFolder folder;
    TrafficLogOptions options = AllOnly(folder);
    options.all_end_new_line = true;
    options.all_merge_continue = false;
    TrafficLogWriter writer;
    ASSERT_TRUE(writer.Start(options, u"", kStart).ok());
    writer.WriteTrafficBlock(Block(0, "AT\r", 13, 7, 10, 125));
    writer.WriteTrafficBlock(Block(1, "OK", 13, 7, 10, 250));
    writer.WriteTrafficBlock(Block(1, "\r\n", 13, 7, 10, 251));
    ASSERT_TRUE(writer.Stop(kStop).ok());
    const std::string want = std::string(kStartLine) + "[S 13:07:10.125]AT\r" +
                             "\r\n[R 13:07:10.250]OK" + "\r\n[R 13:07:10.251]\r\n" +
                             std::string(kStopLines);
    EXPECT_EQ(ReadBytes(folder.path() / "all.log"), want);
}

TEST(TrafficLogWriterTest, MergeOnStillTagsEveryChangeOfDirection) {
    TempFolder folder;
    TrafficLogOptions options = AllOnly(folder);
    options.all_time_stamp = false;
    TrafficLogWriter writer;
    ASSERT_TRUE(writer.Start(options, u"", kStart).ok());
    for (const auto& [direction, bytes] : std::vector<std::pair<int32_t, std::string_view>>{
             {0, "a"}, {0, "b"}, {1, "c"}, {0, "d"}, {1, "e"}, {1, "f"}}) {
        ASSERT_TRUE(writer.WriteTrafficBlock(Block(direction, bytes)).ok());
    }
    ASSERT_TRUE(writer.Stop(kStop).ok());
    EXPECT_EQ(ReadBytes(folder.path() / "all.log"),
              std::string(kStartLine) + "[S]ab[R]c[S]d[R]ef" + std::string(kStopLines));
}

TEST(TrafficLogWriterTest, FrameGapSplitsMergedEntriesOfOneDirectionBySilence) {
    TempFolder folder;
    TrafficLogOptions options = AllOnly(folder);
    options.all_end_new_line = true;
    TrafficLogWriter writer;
    ASSERT_TRUE(writer.Start(options, u"", kStart).ok());
    writer.SetFrameGap(10);
    // Milliseconds after 13:07:10.000: 9 after (below the gap) joins, 10 (at) and 11 (above)
    // start new entries; a change of direction always does.
    const std::vector<std::tuple<int32_t, std::string_view, uint16_t>> blocks = {
        {1, "a", 100}, {1, "b", 109}, {1, "c", 119}, {1, "d", 130}, {0, "e", 131}, {0, "f", 135}};
    for (const auto& [direction, bytes, ms] : blocks) {
        TrafficLogBlock block = Block(direction, bytes, 13, 7, 10, ms);
        block.instant_ms = 1273000030000 + ms;
        ASSERT_TRUE(writer.WriteTrafficBlock(block).ok());
    }
    ASSERT_TRUE(writer.Stop(kStop).ok());
    EXPECT_EQ(ReadBytes(folder.path() / "all.log"),
              std::string(kStartLine) + "[R 13:07:10.100]ab" + "\r\n[R 13:07:10.119]c" +
                  "\r\n[R 13:07:10.130]d" + "\r\n[S 13:07:10.131]ef" + std::string(kStopLines));
}

TEST(TrafficLogWriterTest, FrameGapZeroOrMergeOffKeepsTheOldFraming) {
    for (const bool merge : {true, false}) {
        TempFolder folder;
        TrafficLogOptions options = AllOnly(folder);
        options.all_time_stamp = false;
        options.all_merge_continue = merge;
        TrafficLogWriter writer;
        ASSERT_TRUE(writer.Start(options, u"", kStart).ok());
        writer.SetFrameGap(merge ? 0 : 5);
        int64_t at = 1273000030000;
        for (const std::string_view bytes : {"a", "b", "c"}) {
            TrafficLogBlock block = Block(1, bytes);
            block.instant_ms = at;
            at += 60000;
            ASSERT_TRUE(writer.WriteTrafficBlock(block).ok());
        }
        ASSERT_TRUE(writer.Stop(kStop).ok());
        EXPECT_EQ(
            ReadBytes(folder.path() / "all.log"),
            std::string(kStartLine) + (merge ? "[R]abc" : "[R]a[R]b[R]c") + std::string(kStopLines))
            << "merge " << merge;
    }
}

TEST(TrafficLogWriterTest, SendAndReceiveLogsGetStampsAndLineEndsPerBlock) {
    TempFolder folder;
    TrafficLogOptions options = AllOnly(folder);
    options.save_all = false;
    options.save_send = true;
    options.send_time_stamp = true;
    options.send_end_new_line = true;
    options.save_receive = true;
    options.receive_time_stamp = false;
    options.receive_end_new_line = true;
    TrafficLogWriter writer;
    ASSERT_TRUE(writer.Start(options, u"", kStart).ok());
    writer.WriteTrafficBlock(Block(0, "AT\r\n", 1, 2, 3, 4));
    writer.WriteTrafficBlock(Block(7, "OK\r\n", 1, 2, 3, 999));  // any non-zero is received
    writer.WriteTrafficBlock(Block(0, "x", 23, 59, 59, 0));
    ASSERT_TRUE(writer.Stop(kStop).ok());
    EXPECT_EQ(ReadBytes(folder.path() / "send.log"),
              std::string(kStartLine) + "[01:02:03.004]AT\r\n\r\n[23:59:59.000]x\r\n" +
                  std::string(kStopLines));
    EXPECT_EQ(ReadBytes(folder.path() / "receive.log"),
              std::string(kStartLine) + "OK\r\n\r\n" + std::string(kStopLines));
    EXPECT_FALSE(fs::exists(folder.path() / "all.log"));
}

TEST(TrafficLogWriterTest, BlocksOfZeroOneAndOneMebibyteAreWrittenUnchanged) {
    TempFolder folder;
    TrafficLogOptions options = AllOnly(folder);
    options.save_send = true;
    options.send_time_stamp = true;
    options.all_merge_continue = false;
    std::string big(1 << 20, '\0');
    for (size_t i = 0; i < big.size(); ++i) {
        big[i] = static_cast<char>((i * 131 + (i >> 8)) & 0xFF);
    }
    TrafficLogWriter writer;
    ASSERT_TRUE(writer.Start(options, u"", kStart).ok());
    ASSERT_TRUE(writer.WriteTrafficBlock(Block(0, std::string_view(), 0, 0, 0, 0)).ok());
    ASSERT_TRUE(writer.WriteTrafficBlock(Block(0, std::string_view("\0", 1), 0, 0, 0, 1)).ok());
    ASSERT_TRUE(writer.WriteTrafficBlock(Block(0, big, 0, 0, 0, 2)).ok());
    ASSERT_TRUE(writer.Stop(kStop).ok());
    const std::string nul(1, '\0');
    EXPECT_EQ(ReadBytes(folder.path() / "send.log"), std::string(kStartLine) + "[00:00:00.000]" +
                                                         "[00:00:00.001]" + nul + "[00:00:00.002]" +
                                                         big + std::string(kStopLines));
    EXPECT_EQ(ReadBytes(folder.path() / "all.log"),
              std::string(kStartLine) + "[S 00:00:00.000]" + "[S 00:00:00.001]" + nul +
                  "[S 00:00:00.002]" + big + std::string(kStopLines));
}

TEST(TrafficLogWriterTest, IdleWriterWritesNothingAndNothingSelectedTouchesNoFile) {
    TempFolder folder;
    TrafficLogWriter writer;
    EXPECT_TRUE(writer.WriteTrafficBlock(Block(0, "x")).ok());
    TrafficLogOptions options = AllOnly(folder);
    options.save_all = false;
    EXPECT_EQ(writer.Start(options, u"", kStart).result, TrafficLogResult::kNothingSelected);
    EXPECT_FALSE(writer.recording());
    EXPECT_TRUE(fs::is_empty(folder.path()));
    // After a stop, blocks are ignored too.
    options.save_all = true;
    ASSERT_TRUE(writer.Start(options, u"", kStart).ok());
    EXPECT_EQ(writer.Start(options, u"", kStart).result, TrafficLogResult::kAlreadyRecording);
    ASSERT_TRUE(writer.Stop(kStop).ok());
    EXPECT_TRUE(writer.WriteTrafficBlock(Block(0, "late")).ok());
    EXPECT_EQ(ReadBytes(folder.path() / "all.log"),
              std::string(kStartLine) + std::string(kStopLines));
}

TEST(TrafficLogWriterTest, NewRecordingAppendsAfterThePreviousStopMarker) {
    TempFolder folder;
    TrafficLogOptions options = AllOnly(folder);
    TrafficLogWriter writer;
    for (int round = 0; round < 2; ++round) {
        ASSERT_TRUE(writer.Start(options, u"", kStart).ok());
        ASSERT_TRUE(writer.WriteTrafficBlock(Block(1, "r", 1, 1, 1, 1)).ok());
        ASSERT_TRUE(writer.Stop(kStop).ok());
    }
    const std::string one = std::string(kStartLine) + "[R 01:01:01.001]r" + std::string(kStopLines);
    EXPECT_EQ(ReadBytes(folder.path() / "all.log"), one + one);
}

TEST(TrafficLogWriterTest, FolderThatDoesNotExistFailsToOpenAndIsNotCreated) {
    TempFolder folder;
    TrafficLogOptions options = AllOnly(folder);
    options.path = folder.path16() + u"/missing/deeper";
    TrafficLogWriter writer;
    const TrafficLogStatus status = writer.Start(options, u"", kStart);
    EXPECT_EQ(status.result, TrafficLogResult::kOpenFailed);
    EXPECT_EQ(status.file, (folder.path() / "missing/deeper/all.log").string());
    EXPECT_EQ(status.os.code, ENOENT);
    EXPECT_EQ(status.os.kind, kem::platform::ErrorKind::kNotFound);
    EXPECT_FALSE(status.os.text.empty());
    EXPECT_FALSE(writer.recording());
    EXPECT_FALSE(fs::exists(folder.path() / "missing"));
}

TEST(TrafficLogWriterTest, TwoLogsResolvingToOneFileAreRefusedAndNothingStaysOpen) {
    TempFolder folder;
    TrafficLogOptions options = AllOnly(folder);
    options.save_send = true;
    options.send_name = u"same.log";
    options.all_name = u"same.log";
    TrafficLogWriter writer;
    const TrafficLogStatus status = writer.Start(options, u"", kStart);
    EXPECT_EQ(status.result, TrafficLogResult::kOpenFailed);
    EXPECT_EQ(status.file, (folder.path() / "same.log").string());
    EXPECT_EQ(status.os.code, EWOULDBLOCK);
    EXPECT_FALSE(writer.recording());
    // The first log was closed again: a new holder gets it, and no marker was written.
    kem::platform::AppendFile other;
    EXPECT_FALSE(other.Open((folder.path() / "same.log").string()).failed());
    EXPECT_EQ(ReadBytes(folder.path() / "same.log"), "");
}

TEST(TrafficLogWriterTest, NameThatIsAFolderFailsToOpen) {
    TempFolder folder;
    TrafficLogOptions options = AllOnly(folder);
    options.all_name = u"";
    TrafficLogWriter writer;
    const TrafficLogStatus status = writer.Start(options, u"", kStart);
    EXPECT_EQ(status.result, TrafficLogResult::kOpenFailed);
    EXPECT_EQ(status.os.code, EISDIR);
}

TEST(TrafficLogWriterTest, FullFileSystemAtStartIsReportedAndNothingStaysOpen) {
    if (!fs::exists("/dev/full")) {
        GTEST_SKIP() << "no /dev/full";
    }
    TempFolder folder;
    TrafficLogOptions options = AllOnly(folder);
    options.save_send = true;
    options.all_name = u"/dev/full";
    TrafficLogWriter writer;
    const TrafficLogStatus status = writer.Start(options, u"", kStart);
    EXPECT_EQ(status.result, TrafficLogResult::kWriteFailed);
    EXPECT_EQ(status.file, "/dev/full");
    EXPECT_EQ(status.os.code, ENOSPC);
    EXPECT_FALSE(status.os.text.empty());
    EXPECT_FALSE(writer.recording());
    EXPECT_TRUE(writer.WriteTrafficBlock(Block(0, "x")).ok());
    // The send log that opened first holds its start marker and is no longer held.
    EXPECT_EQ(ReadBytes(folder.path() / "send.log"), kStartLine);
    kem::platform::AppendFile other;
    EXPECT_FALSE(other.Open((folder.path() / "send.log").string()).failed());
}

TEST(TrafficLogWriterTest, DeviceGoneWhileRecordingStopsAndKeepsTheOtherLogsIntact) {
    kem::testing::PtyPair pty;
    TempFolder folder;
    TrafficLogOptions options = AllOnly(folder);
    options.save_send = true;
    options.all_name = kem::platform::Utf8ToWide(pty.path());
    TrafficLogWriter writer;
    ASSERT_TRUE(writer.Start(options, u"", kStart).ok());
    ASSERT_TRUE(writer.WriteTrafficBlock(Block(0, "before", 1, 2, 3, 4)).ok());
    pty.CloseMaster();
    const TrafficLogStatus status = writer.WriteTrafficBlock(Block(0, "after", 1, 2, 3, 5));
    EXPECT_EQ(status.result, TrafficLogResult::kWriteFailed);
    EXPECT_EQ(status.file, pty.path());
    EXPECT_EQ(status.os.code, EIO);
    EXPECT_FALSE(status.os.text.empty());
    EXPECT_FALSE(writer.recording());
    EXPECT_TRUE(writer.WriteTrafficBlock(Block(0, "ignored")).ok());
    // The send log holds both blocks (it is served first) and ends with a stop marker.
    const std::string send = ReadBytes(folder.path() / "send.log");
    EXPECT_EQ(send.rfind(std::string(kStartLine) + "beforeafter\r\n[! \\StopTime: ", 0), 0u)
        << send;
    EXPECT_EQ(send.substr(send.size() - 8), "\r\n\r\n\r\n\r\n");
    EXPECT_TRUE(writer.Stop(kStop).ok());
}

TEST(TrafficLogWriterTest, FileSizeLimitReachedKeepsWhatWasWritten) {
    TempFolder folder;
    TrafficLogOptions options = AllOnly(folder);
    options.save_receive = true;
    const std::string first(1000, 'a');
    const std::string second(8000, 'b');
    TrafficLogStatus status;
    {
        FileSizeLimit limit(4096);
        ASSERT_TRUE(limit.active());
        TrafficLogWriter writer;
        ASSERT_TRUE(writer.Start(options, u"", kStart).ok());
        ASSERT_TRUE(writer.WriteTrafficBlock(Block(1, first, 9, 9, 9, 9)).ok());
        status = writer.WriteTrafficBlock(Block(1, second, 9, 9, 9, 10));
        EXPECT_FALSE(writer.recording());
    }
    EXPECT_EQ(status.result, TrafficLogResult::kWriteFailed);
    EXPECT_EQ(status.os.code, EFBIG);
    // The receive log is served first: it is the one that hit the limit, cut at it.
    EXPECT_EQ(status.file, (folder.path() / "receive.log").string());
    const std::string receive = ReadBytes(folder.path() / "receive.log");
    ASSERT_EQ(receive.size(), 4096u);
    EXPECT_EQ(receive, (std::string(kStartLine) + first + second).substr(0, 4096));
    // The all-traffic log never saw the failing block and was finished with a stop marker.
    const std::string all = ReadBytes(folder.path() / "all.log");
    EXPECT_EQ(
        all.rfind(std::string(kStartLine) + "[R 09:09:09.009]" + first + "\r\n[! \\StopTime: ", 0),
        0u);
}

}  // namespace

TEST(TrafficLogWriterTest, QueuedRecordsAreLoggedThroughTheirView) {
    TempFolder folder;
    TrafficLogWriter writer;
    ASSERT_TRUE(writer.Start(AllOnly(folder), u"", kStart).ok());
    tagComExchangeData record;
    record.direction = kTrafficReceived;
    record.time.hour = 9;
    record.time.minute = 5;
    record.time.second = 1;
    record.time.millisecond = 7;
    record.data = {'O', 'K', 0x00, 0xFF};
    EXPECT_TRUE(writer.WriteTrafficBlock(LogBlockOf(record)).ok());
    EXPECT_TRUE(writer.Stop(kStop).ok());
    const std::string log = ReadBytes(folder.path() / "all.log");
    EXPECT_NE(log.find(std::string("[R 09:05:01.007]OK\0\xFF", 20)), std::string::npos);
    record.time.unix_seconds = 1773479101;
    EXPECT_EQ(LogBlockOf(record).instant_ms, int64_t{1773479101007});
}
