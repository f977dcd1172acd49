// The traffic logs: options from the settings record, names from templates, and files written
// to a temporary folder and read back byte for byte, failures with their errno included.
#include "terminal/traffic_log.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
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

const kem::platform::LocalTime kStart{2010, 5, 4, 13, 7, 9};
const kem::platform::LocalTime kStop{2010, 5, 4, 13, 8, 0};
const std::string kStartLine = "[! \\StartTime: 2010-05-04 13:07:09]\r\n";
const std::string kStopLines = "\r\n[! \\StopTime: 2010-05-04 13:08:00]\r\n\r\n\r\n\r\n";

std::string Utf8(std::u16string_view text) {
    return kem::platform::WideToUtf8(text);
}

// Direction, time 13:07:10 at `ms`, no instant.
TrafficLogBlock Block(int32_t direction, std::string_view bytes, uint16_t ms = 125) {
    return TrafficLogBlock{direction, 13, 7, 10, ms, 0, bytes};
}

// `options` writing into `folder` under fixed names.
TrafficLogOptions Named(TrafficLogOptions options, const TempFolder& folder) {
    options.path = folder.path16();
    options.title = u"t";
    options.send_name = u"send.log";
    options.receive_name = u"receive.log";
    options.all_name = u"all.log";
    return options;
}
TrafficLogOptions AllOnly(const TempFolder& folder) {
    return Named(TrafficLogOptions{}, folder);
}

// Every file in `folder` by name, with its bytes.
std::map<std::string, std::string> Files(const TempFolder& folder) {
    std::map<std::string, std::string> files;
    for (const std::string& name : Names(folder.path())) {
        files[name] = ReadBytes(folder.path() / name);
    }
    return files;
}

// ---- Options and names ----

TEST(TrafficLogOptionsTest, EmptyFieldsLoadAsTheDefaultTemplatesAndStoreCutsLongTexts) {
    tagAppConfig config = DefaultAppConfig();
    config.LogFilePath[0] = u'\0';
    const TrafficLogOptions loaded = LoadTrafficLogOptions(config);
    EXPECT_EQ(std::vector<std::u16string>({loaded.path, loaded.title, loaded.send_name,
                                           loaded.receive_name, loaded.all_name}),
              std::vector<std::u16string>(
                  {u".\\", u"%t_%Y%m%d_%H%M%S", u"%T_Send.log", u"%T_Receive.log", u"%T_All.log"}));
    StoreTrafficLogOptions({.path = std::u16string(600, u'p'),
                            .title = u"%t_x",
                            .send_name = std::u16string(300, u's'),
                            .receive_name = u"r.log",
                            .save_send = true,
                            .receive_end_new_line = true,
                            .save_all = false,
                            .all_merge_continue = false},
                           &config);
    EXPECT_EQ(std::tuple(config.LogSaveSend, config.LogSaveReceiveEndAddNewLine,
                         config.LogSaveAllChannel, config.LogSaveAllChannelMergeContinue),
              std::tuple(1, 1, 0, 0));
    const TrafficLogOptions back = LoadTrafficLogOptions(config);
    EXPECT_EQ(
        std::vector<std::u16string>({back.path, back.title, back.send_name, back.receive_name}),
        std::vector<std::u16string>(
            {std::u16string(511, u'p'), u"%t_x", std::u16string(255, u's'), u"r.log"}));
    EXPECT_EQ(std::tuple(back.save_send, back.save_all), std::tuple(true, false));
}

TEST(ResolveLogNamesTest, TemplatesExpandTitleTimeAndEscapes) {
    // Configuration file, title and all-traffic templates; what they give.
    const std::u16string_view rows[][5] = {
        {u"", u"%%s", u"%T_%%s", u"%s", u"%s_%s"},
        {u"/cfg/50%.pvto", u"%t_%Y%m%d_%H%M%S", u"%T_All.log", u"50%_20100504_130709",
         u"50%_20100504_130709_All.log"},
        {u"", u"%t_%Y%m%d_%H%M%S", u"%T_All.log", u"ZedOzuzu_20100504_130709",
         u"ZedOzuzu_20100504_130709_All.log"},
        {u"\"C:\\x\\a%Y%m.v2.pvto\"", u"%t", u"%T-%t.log", u"a%Y%m.v2", u"a%Y%m.v2-a%Y%m.v2.log"},
        {u"", u"%%t", u"%T", u"%t", u"%t"},
        {u"", u"%T", u"x%T", u"13:07:09", u"x13:07:09"},  // %T in the title is strftime's
        {u"", u"a%qb", u"%T.log", u"a%qb", u"a%qb.log"},  // unknown conversion stays
        {u"", u"x%", u"%T.log", u"x%", u"x%.log"},
        {u"/c/cfg.pvto", u"%t%t", u"%t_%T_%T", u"cfgcfg", u"cfg_cfgcfg_cfgcfg"},
        {u"", u"", u"%T_All.log", u"", u"_All.log"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(Utf8(row[0]) + " " + Utf8(row[1]) + " " + Utf8(row[2]));
        const ResolvedLogNames names = ResolveLogNames(
            {.title = std::u16string(row[1]), .all_name = std::u16string(row[2])}, row[0], kStart);
        EXPECT_EQ(Utf8(names.title), Utf8(row[3]));
        EXPECT_EQ(Utf8(names.all_name), Utf8(row[4]));
    }
}

TEST(ResolveLogNamesTest, FaultyExpansionsGiveTheFixedFallback) {
    std::u16string many_dates;
    for (int i = 0; i < 30; ++i) {
        many_dates += u"%c";
    }
    // strftime cannot fit the first; the second is longer than the 255 units kept.
    for (const std::u16string_view pattern :
         {std::u16string_view(u"%1000Y"), std::u16string_view(many_dates)}) {
        EXPECT_EQ(ExpandLogTemplate(pattern, u"cfg", nullptr, kStart), kLogNameFallback)
            << Utf8(pattern);
    }
    // A clock value that cannot be converted.
    EXPECT_EQ(ExpandLogTemplate(u"%Y", u"cfg", nullptr, kem::platform::LocalTime{2010, 13, 4}),
              u"Invalid DateTime");
    // A title that is itself the fallback still yields a usable name.
    EXPECT_EQ(
        ResolveLogNames({.title = u"%1000Y", .all_name = u"%T_All.log"}, u"", kStart).all_name,
        u"Invalid DateTime_All.log");
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
    EXPECT_EQ(LogFilePath(u".\\", u"c.log"), (fs::current_path() / "c.log").string());
}

// ---- Writing ----

TEST(TrafficLogWriterTest, FreshSettingsWriteTheStampedMergedAllTrafficLogOnly) {
    TempFolder folder;
    TrafficLogOptions options = LoadTrafficLogOptions(DefaultAppConfig());
    options.path = folder.path16();
    TrafficLogWriter writer;
    ASSERT_TRUE(writer.Start(options, u"D:\\cfg\\board.pvto", kStart).ok());
    EXPECT_TRUE(writer.recording());
    const ResolvedLogNames& names = writer.names();
    EXPECT_EQ(std::vector({names.title, names.send_name, names.receive_name, names.all_name}),
              std::vector<std::u16string>(
                  {u"board_20100504_130709", u"board_20100504_130709_Send.log",
                   u"board_20100504_130709_Receive.log", u"board_20100504_130709_All.log"}));
    EXPECT_TRUE(writer.WriteTrafficBlock(Block(0, "AT\r", 125)).ok());
    EXPECT_TRUE(writer.WriteTrafficBlock(Block(1, "OK", 250)).ok());
    EXPECT_TRUE(writer.WriteTrafficBlock(Block(1, "\r\n", 251)).ok());
    EXPECT_TRUE(writer.Stop(kStop).ok());
    EXPECT_FALSE(writer.recording());
    const std::map<std::string, std::string> want = {
        {"board_20100504_130709_All.log",
         kStartLine + "[S 13:07:10.125]AT\r[R 13:07:10.250]OK\r\n" + kStopLines}};
    EXPECT_EQ(Files(folder), want);
}

// A block received at 13:07:10 plus `ms`, with its instant `minutes` later.
TrafficLogBlock Timed(std::string_view bytes, uint16_t ms, int64_t minutes = 0, int32_t dir = 1) {
    return TrafficLogBlock{dir, 13, 7, 10, ms, 1273000030000 + ms + minutes * 60000, bytes};
}

// Records `blocks` with `options` (under the fixed names) and the frame gap; every file written.
std::map<std::string, std::string> Logged(const TrafficLogOptions& options, int frame_gap,
                                          const std::vector<TrafficLogBlock>& blocks) {
    TempFolder folder;
    TrafficLogWriter writer;
    EXPECT_TRUE(writer.Start(Named(options, folder), u"", kStart).ok());
    writer.SetFrameGap(frame_gap);
    for (const TrafficLogBlock& block : blocks) {
        EXPECT_TRUE(writer.WriteTrafficBlock(block).ok());
    }
    EXPECT_TRUE(writer.Stop(kStop).ok());
    return Files(folder);
}

// Each of `bodies` between the start and the stop markers.
std::map<std::string, std::string> Marked(std::map<std::string, std::string> bodies) {
    for (auto& [name, body] : bodies) {
        body = kStartLine + body + kStopLines;
    }
    return bodies;
}

TEST(TrafficLogWriterTest, EachLogFramesItsBlocksAsItsOptionsSay) {
    // Line ends separate entries; merge off tags each block.
    EXPECT_EQ(Logged({.all_end_new_line = true, .all_merge_continue = false}, 0,
                     {Block(0, "AT\r", 125), Block(1, "OK", 250), Block(1, "\r\n", 251)}),
              Marked({{"all.log",
                       "[S 13:07:10.125]AT\r\r\n[R 13:07:10.250]OK\r\n[R 13:07:10.251]\r\n"}}));
    // Merge on still tags every change of direction.
    EXPECT_EQ(Logged({.all_time_stamp = false}, 0,
                     {Block(0, "a"), Block(0, "b"), Block(1, "c"), Block(0, "d"), Block(1, "e"),
                      Block(1, "f")}),
              Marked({{"all.log", "[S]ab[R]c[S]d[R]ef"}}));
    // A frame gap of 10: 9 ms after joins, 10 (at) and 11 (above) start new entries; a change
    // of direction always does.
    EXPECT_EQ(Logged({.all_end_new_line = true}, 10,
                     {Timed("a", 100), Timed("b", 109), Timed("c", 119), Timed("d", 130),
                      Timed("e", 131, 0, 0), Timed("f", 135, 0, 0)}),
              Marked({{"all.log",
                       "[R 13:07:10.100]ab\r\n[R 13:07:10.119]c\r\n"
                       "[R 13:07:10.130]d\r\n[S 13:07:10.131]ef"}}));
    // Minutes apart: gap 0 merges them; with merge off the gap changes nothing.
    const std::vector<TrafficLogBlock> minutes = {Timed("a", 0, 0), Timed("b", 0, 1),
                                                  Timed("c", 0, 2)};
    EXPECT_EQ(Logged({.all_time_stamp = false}, 0, minutes), Marked({{"all.log", "[R]abc"}}));
    EXPECT_EQ(Logged({.all_time_stamp = false, .all_merge_continue = false}, 5, minutes),
              Marked({{"all.log", "[R]a[R]b[R]c"}}));
    // Send and receive logs: stamps and line ends per block; any non-zero is received.
    EXPECT_EQ(Logged({.save_send = true,
                      .send_time_stamp = true,
                      .send_end_new_line = true,
                      .save_receive = true,
                      .receive_end_new_line = true,
                      .save_all = false},
                     0,
                     {{0, 1, 2, 3, 4, 0, "AT\r\n"},
                      {7, 1, 2, 3, 999, 0, "OK\r\n"},
                      {0, 23, 59, 59, 0, 0, "x"}}),
              Marked({{"send.log", "[01:02:03.004]AT\r\n\r\n[23:59:59.000]x\r\n"},
                      {"receive.log", "OK\r\n\r\n"}}));
    // Blocks of zero, one and one mebibyte are written unchanged.
    std::string big(1 << 20, '\0');
    for (size_t i = 0; i < big.size(); ++i) {
        big[i] = static_cast<char>((i * 131 + (i >> 8)) & 0xFF);
    }
    const std::string nul(1, '\0');
    EXPECT_TRUE(
        Logged({.save_send = true, .send_time_stamp = true, .all_merge_continue = false}, 0,
               {{0, 0, 0, 0, 0, 0, ""}, {0, 0, 0, 0, 1, 0, nul}, {0, 0, 0, 0, 2, 0, big}}) ==
        Marked({{"send.log", "[00:00:00.000][00:00:00.001]" + nul + "[00:00:00.002]" + big},
                {"all.log", "[S 00:00:00.000][S 00:00:00.001]" + nul + "[S 00:00:00.002]" + big}}));
}

TEST(TrafficLogWriterTest, IdleWriterIgnoresBlocksAndRecordingsAppendAfterTheStopMarker) {
    TempFolder folder;
    TrafficLogWriter writer;
    EXPECT_TRUE(writer.WriteTrafficBlock(Block(0, "x")).ok());
    TrafficLogOptions options = AllOnly(folder);
    options.save_all = false;
    EXPECT_EQ(writer.Start(options, u"", kStart).result, TrafficLogResult::kNothingSelected);
    EXPECT_FALSE(writer.recording());
    EXPECT_TRUE(fs::is_empty(folder.path()));
    options.save_all = true;
    for (int round = 0; round < 2; ++round) {
        ASSERT_TRUE(writer.Start(options, u"", kStart).ok());
        EXPECT_EQ(writer.Start(options, u"", kStart).result, TrafficLogResult::kAlreadyRecording);
        ASSERT_TRUE(writer.WriteTrafficBlock(Block(1, "r", 1)).ok());
        ASSERT_TRUE(writer.Stop(kStop).ok());
        EXPECT_TRUE(writer.WriteTrafficBlock(Block(0, "late")).ok());  // after a stop: ignored
    }
    const std::string one = kStartLine + "[R 13:07:10.001]r" + kStopLines;
    EXPECT_EQ(ReadBytes(folder.path() / "all.log"), one + one);
}

// Starting with `options` in the emptied `folder` fails with `result` and `code` (at `file`
// when given); nothing stays open and the folder holds `files` afterwards.
void ExpectFailedStart(const char* name, const TempFolder& folder, const TrafficLogOptions& options,
                       TrafficLogResult result, const std::string& file, int code,
                       const std::map<std::string, std::string>& files) {
    SCOPED_TRACE(name);
    for (const std::string& entry : Names(folder.path())) {
        fs::remove(folder.path() / entry);
    }
    TrafficLogWriter writer;
    const TrafficLogStatus status = writer.Start(options, u"", kStart);
    EXPECT_EQ(std::tuple(status.result, status.os.code, writer.recording()),
              std::tuple(result, code, false));
    EXPECT_EQ(status.file, file.empty() ? status.file : file);
    EXPECT_FALSE(status.os.text.empty());
    if (code == ENOENT) {
        EXPECT_EQ(status.os.kind, kem::platform::ErrorKind::kNotFound);
    }
    EXPECT_TRUE(writer.WriteTrafficBlock(Block(0, "x")).ok());
    EXPECT_EQ(Files(folder), files);
    for (const auto& [entry, bytes] : files) {  // no longer held: a new holder gets it
        kem::platform::AppendFile other;
        EXPECT_FALSE(other.Open((folder.path() / entry).string()).failed()) << entry;
    }
}

TEST(TrafficLogWriterTest, FailedStartsGiveTheErrnoAndLeaveNothingOpen) {
    using enum TrafficLogResult;
    TempFolder folder;
    const std::u16string path = folder.path16();
    ExpectFailedStart("folder that does not exist is not created", folder,
                      {.path = path + u"/missing/deeper", .all_name = u"all.log"}, kOpenFailed,
                      folder / "missing/deeper/all.log", ENOENT, {});
    ExpectFailedStart("empty name: the folder itself", folder, {.path = path, .all_name = u""},
                      kOpenFailed, "", EISDIR, {});
    ExpectFailedStart("two logs resolving to one file: no marker written", folder,
                      {.path = path, .send_name = u"a", .all_name = u"a", .save_send = true},
                      kOpenFailed, folder / "a", EWOULDBLOCK, {{"a", ""}});
    if (fs::exists("/dev/full")) {
        ExpectFailedStart(
            "full file system: the log opened first keeps its start marker", folder,
            {.path = path, .send_name = u"s", .all_name = u"/dev/full", .save_send = true},
            kWriteFailed, "/dev/full", ENOSPC, {{"s", kStartLine}});
    }
}

TEST(TrafficLogWriterTest, DeviceGoneWhileRecordingStopsAndKeepsTheOtherLogsIntact) {
    PtyPair pty;
    TempFolder folder;
    TrafficLogOptions options = AllOnly(folder);
    options.save_send = true;
    options.all_name = kem::platform::Utf8ToWide(pty.path());
    TrafficLogWriter writer;
    ASSERT_TRUE(writer.Start(options, u"", kStart).ok());
    ASSERT_TRUE(writer.WriteTrafficBlock(Block(0, "before")).ok());
    pty.CloseMaster();
    const TrafficLogStatus status = writer.WriteTrafficBlock(Block(0, "after"));
    EXPECT_EQ(std::tuple(status.result, status.file, status.os.code, writer.recording()),
              std::tuple(TrafficLogResult::kWriteFailed, pty.path(), EIO, false));
    EXPECT_FALSE(status.os.text.empty());
    EXPECT_TRUE(writer.WriteTrafficBlock(Block(0, "ignored")).ok());
    // The send log holds both blocks (it is served first) and ends with a stop marker.
    const std::string send = ReadBytes(folder.path() / "send.log");
    EXPECT_EQ(send.rfind(kStartLine + "beforeafter\r\n[! \\StopTime: ", 0), 0u) << send;
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
        ASSERT_TRUE(writer.WriteTrafficBlock({1, 9, 9, 9, 9, 0, first}).ok());
        status = writer.WriteTrafficBlock({1, 9, 9, 9, 10, 0, second});
        EXPECT_FALSE(writer.recording());
    }
    // The receive log is served first: it is the one that hit the limit, cut at it.
    EXPECT_EQ(std::tuple(status.result, status.file, status.os.code),
              std::tuple(TrafficLogResult::kWriteFailed, folder / "receive.log", EFBIG));
    const std::string receive = ReadBytes(folder.path() / "receive.log");
    ASSERT_EQ(receive.size(), 4096u);
    EXPECT_EQ(receive, (kStartLine + first + second).substr(0, 4096));
    // The all-traffic log never saw the failing block and was finished with a stop marker.
    EXPECT_EQ(ReadBytes(folder.path() / "all.log")
                  .rfind(kStartLine + "[R 09:09:09.009]" + first + "\r\n[! \\StopTime: ", 0),
              0u);
}

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
    EXPECT_EQ(ReadBytes(folder.path() / "all.log"),
              kStartLine + std::string("[R 09:05:01.007]OK\0\xFF", 20) + kStopLines);
    record.time.unix_seconds = 1773479101;
    EXPECT_EQ(LogBlockOf(record).instant_ms, int64_t{1773479101007});
}

}  // namespace
