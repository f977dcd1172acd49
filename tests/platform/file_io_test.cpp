// Whole-file reads, atomic replacement, held files and folders in a temporary folder: each
// failure with its step and the errno taken where it happened, and nothing left half-written.
#include "platform/file_io.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "support/scratch_files.h"

using namespace kem::platform;
namespace fs = std::filesystem;
using namespace kem::testing;
using Listing = std::vector<std::string>;

class FileIoTest : public ::testing::Test {
protected:
    TempFolder folder_;
};

TEST_F(FileIoTest, ReadsWholeFilesUpToTheLimit) {
    std::string pattern(200000, '\0');
    for (size_t i = 0; i < pattern.size(); ++i) {
        pattern[i] = static_cast<char>(i * 7);
    }
    const std::pair<std::string, size_t> rows[] = {
        {"", 100}, {std::string(101, 'a'), 101}, {std::string(101, 'a'), 100}, {pattern, 1 << 20}};
    for (const auto& [bytes, limit] : rows) {
        SCOPED_TRACE(std::to_string(bytes.size()) + " bytes, limit " + std::to_string(limit));
        WriteBytes(folder_ / "f", bytes);
        const FileContent content = ReadWholeFile(folder_ / "f", limit);
        const bool fits = bytes.size() <= limit;
        EXPECT_EQ(content.status, fits ? FileStatus::kOk : FileStatus::kUnreadable);
        EXPECT_EQ(content.error.step, fits ? FileStep::kNone : FileStep::kTooLarge);
        EXPECT_TRUE(content.bytes == (fits ? bytes : ""));
    }
}

TEST_F(FileIoTest, MissingFileIsToldApartFromAnUnreadableOne) {
    WriteBytes(folder_ / "plain", "x");
    WriteBytes(folder_ / "secret", "x");
    fs::permissions(folder_ / "secret", fs::perms::none);
    fs::create_directory(folder_ / "dir");
    fs::create_symlink(folder_ / "loop", folder_ / "loop");
    ASSERT_EQ(mkfifo((folder_ / "fifo").c_str(), 0600), 0);
    struct Row {
        std::string path;
        FileStatus status;
        FileStep step;
        int code;
    };
    std::vector<Row> rows = {
        {folder_ / "none", FileStatus::kMissing, FileStep::kOpen, ENOENT},
        {folder_ / "plain/x", FileStatus::kMissing, FileStep::kOpen, ENOTDIR},
        {folder_ / "dir", FileStatus::kUnreadable, FileStep::kNotRegular, 0},
        {folder_ / "fifo", FileStatus::kUnreadable, FileStep::kNotRegular, 0},  // must not block
        {folder_ / "loop", FileStatus::kUnreadable, FileStep::kOpen, ELOOP},
        // Reading this process's memory from address 0 fails, even for root.
        {"/proc/self/mem", FileStatus::kUnreadable, FileStep::kRead, EIO},
    };
    if (geteuid() != 0) {  // root reads files whatever their permissions
        rows.push_back({folder_ / "secret", FileStatus::kUnreadable, FileStep::kOpen, EACCES});
    }
    for (const Row& row : rows) {
        SCOPED_TRACE(row.path);
        auto pending = std::async(std::launch::async, [&] { return ReadWholeFile(row.path, 100); });
        ASSERT_EQ(pending.wait_for(std::chrono::seconds(2)), std::future_status::ready);
        const FileContent content = pending.get();
        EXPECT_EQ(content.status, row.status);
        EXPECT_EQ(content.error.step, row.step);
        EXPECT_EQ(content.error.os.code, row.code);
        EXPECT_TRUE(content.bytes.empty());
    }
}

TEST_F(FileIoTest, ReplaceCreatesOrSwapsTheContentAndKeepsThePermissions) {
    EXPECT_FALSE(ReplaceFile(folder_ / "new.pvto", "hello").failed());
    EXPECT_EQ(ReadBytes(folder_ / "new.pvto"), "hello");
    WriteBytes(folder_ / "c.pvto", "old content that is longer");
    fs::permissions(folder_ / "c.pvto", fs::perms::owner_read | fs::perms::owner_write);
    const FileError error = ReplaceFile(folder_ / "c.pvto", "new");
    EXPECT_FALSE(error.failed()) << error.os.text;
    EXPECT_EQ(ReadBytes(folder_ / "c.pvto"), "new");
    EXPECT_EQ(fs::status(folder_ / "c.pvto").permissions(),
              fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(Names(folder_.path()), (Listing{"c.pvto", "new.pvto"}));
}

TEST_F(FileIoTest, FailedReplaceKeepsTheOldFileAndLeavesNoTemporary) {
    WriteBytes(folder_ / "plain", "keep");
    FileError error = ReplaceFile(folder_ / "plain/c.pvto", "x");
    EXPECT_EQ(error.step, FileStep::kCreate);
    EXPECT_EQ(error.os.code, ENOTDIR);
    EXPECT_EQ(ReadBytes(folder_ / "plain"), "keep");

    const std::string old(4096, 'o');
    WriteBytes(folder_ / "c.pvto", old);
    const auto before = fs::last_write_time(folder_ / "c.pvto");
    {
        FileSizeLimit limit(1024);
        error = ReplaceFile(folder_ / "c.pvto", std::string(8192, 'n'));
    }
    EXPECT_EQ(error.step, FileStep::kWrite);
    EXPECT_EQ(error.os.code, EFBIG);
    EXPECT_EQ(ReadBytes(folder_ / "c.pvto"), old);
    EXPECT_EQ(fs::last_write_time(folder_ / "c.pvto"), before);

    fs::create_directories(folder_ / "d.pvto/inside");
    error = ReplaceFile(folder_ / "d.pvto", "x");
    EXPECT_EQ(error.step, FileStep::kRename);
    EXPECT_NE(error.os.code, 0);
    EXPECT_TRUE(fs::is_directory(folder_ / "d.pvto/inside"));
    EXPECT_EQ(Names(folder_.path()), (Listing{"c.pvto", "d.pvto", "plain"}));
}

TEST_F(FileIoTest, ConcurrentReplacementsNeverMixContents) {
    const std::string a(100000, 'a');
    const std::string b(100000, 'b');
    const std::string path = folder_ / "c.pvto";
    ASSERT_FALSE(ReplaceFile(path, a).failed());
    std::thread writer([&] {
        for (int i = 0; i < 20; ++i) {
            ReplaceFile(path, i % 2 == 0 ? b : a);
        }
    });
    for (int i = 0; i < 20; ++i) {
        const FileContent content = ReadWholeFile(path, 1 << 20);
        ASSERT_EQ(content.status, FileStatus::kOk);
        ASSERT_TRUE(content.bytes == a || content.bytes == b) << "read " << i;
        ReplaceFile(path, i % 2 == 0 ? a : b);
    }
    writer.join();
    EXPECT_EQ(Names(folder_.path()), Listing{"c.pvto"});
}

TEST_F(FileIoTest, SizeDeleteAndExistsTellMissingFiles) {
    WriteBytes(folder_ / "d", "12345");
    const FileSize size = QueryFileSize(folder_ / "d");
    EXPECT_EQ(size.status, FileStatus::kOk);
    EXPECT_EQ(size.size, 5u);
    EXPECT_EQ(QueryFileSize(folder_.path().string()).status, FileStatus::kUnreadable);
    EXPECT_TRUE(PathExists(folder_ / "d"));
    EXPECT_FALSE(DeleteFile(folder_ / "d").failed());
    EXPECT_FALSE(PathExists(folder_ / "d"));
    EXPECT_EQ(QueryFileSize(folder_ / "d").status, FileStatus::kMissing);
    const FileError again = DeleteFile(folder_ / "d");
    EXPECT_EQ(again.step, FileStep::kDelete);
    EXPECT_EQ(again.os.kind, ErrorKind::kNotFound);
}

TEST_F(FileIoTest, CreateFolderTreeMakesEveryMissingParent) {
    const FolderResult made = CreateFolderTree(folder_ / "a/b/c/");
    EXPECT_FALSE(made.error.failed());
    EXPECT_TRUE(made.created);
    EXPECT_TRUE(fs::is_directory(folder_ / "a/b/c"));
    const FolderResult again = CreateFolderTree(folder_ / "a/b/c");
    EXPECT_FALSE(again.error.failed());
    EXPECT_FALSE(again.created);
    WriteBytes(folder_ / "file", "x");
    const FolderResult blocked = CreateFolderTree(folder_ / "file/sub");
    EXPECT_EQ(blocked.error.step, FileStep::kCreateFolder);
    EXPECT_EQ(blocked.error.os.code, ENOTDIR);
    EXPECT_FALSE(blocked.created);
    EXPECT_EQ(FolderOf("/a/b/c.pvto"), "/a/b");
    EXPECT_EQ(FolderOf("c.pvto"), ".");
    EXPECT_EQ(FolderOf("/c.pvto"), "/");
}

TEST_F(FileIoTest, HeldFileKeepsOtherHoldersOut) {
    WriteBytes(folder_ / "h", "held");
    HeldFile first, second;
    const FileContent content = first.OpenAndRead(folder_ / "h", 100);
    ASSERT_EQ(content.status, FileStatus::kOk);
    EXPECT_EQ(content.bytes, "held");
    EXPECT_TRUE(first.is_open());
    const FileContent refused = second.OpenAndRead(folder_ / "h", 100);
    EXPECT_EQ(refused.status, FileStatus::kUnreadable);
    EXPECT_EQ(refused.error.step, FileStep::kOpen);
    EXPECT_EQ(refused.error.os.code, EWOULDBLOCK);
    EXPECT_FALSE(second.is_open());
    first.Close();
    EXPECT_FALSE(first.is_open());
    EXPECT_EQ(second.OpenAndRead(folder_ / "h", 100).status, FileStatus::kOk);
    EXPECT_EQ(HeldFile().OpenAndRead(folder_ / "none", 100).status, FileStatus::kMissing);
}
