#include "platform/file_io.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include "support/scratch_files.h"

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

using namespace kem::platform;
namespace fs = std::filesystem;
using namespace kem::testing;

TEST(FileIoTest, ReadsAWholeFile) {
    TempFolder folder;
    std::string bytes(200000, '\0');
    for (size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<char>(i * 7);
    }
    WriteBytes(folder / "a.bin", bytes);
    const FileContent content = ReadWholeFile(folder / "a.bin", 1 << 20);
    EXPECT_EQ(content.status, FileStatus::kOk);
    EXPECT_FALSE(content.error.failed());
    EXPECT_TRUE(content.bytes == bytes);
}

TEST(FileIoTest, EmptyFileReadsAsNoBytes) {
    TempFolder folder;
    WriteBytes(folder / "empty", "");
    const FileContent content = ReadWholeFile(folder / "empty", 100);
    EXPECT_EQ(content.status, FileStatus::kOk);
    EXPECT_TRUE(content.bytes.empty());
}

TEST(FileIoTest, MissingFileIsToldApartFromAnUnreadableOne) {
    TempFolder folder;
    WriteBytes(folder / "plain", "x");
    fs::create_directory(folder / "dir");
    fs::create_symlink(folder / "loop", folder / "loop");
    ASSERT_EQ(mkfifo((folder / "fifo").c_str(), 0600), 0);
    const struct {
        const char* name;
        std::string path;
        FileStatus status;
        FileStep step;
    } rows[] = {
        {"no such file", folder / "none", FileStatus::kMissing, FileStep::kOpen},
        {"parent is a file", folder / "plain/x", FileStatus::kMissing, FileStep::kOpen},
        {"folder", folder / "dir", FileStatus::kUnreadable, FileStep::kNotRegular},
        {"pipe (must not block)", folder / "fifo", FileStatus::kUnreadable, FileStep::kNotRegular},
        {"symbolic link loop", folder / "loop", FileStatus::kUnreadable, FileStep::kOpen},
    };
    for (const auto& row : rows) {
        auto pending = std::async(std::launch::async, [&] { return ReadWholeFile(row.path, 100); });
        ASSERT_EQ(pending.wait_for(std::chrono::seconds(2)), std::future_status::ready) << row.name;
        const FileContent content = pending.get();
        EXPECT_EQ(content.status, row.status) << row.name;
        EXPECT_EQ(content.error.step, row.step) << row.name;
        EXPECT_TRUE(content.bytes.empty()) << row.name;
    }
    const FileContent loop = ReadWholeFile(folder / "loop", 100);
    EXPECT_EQ(loop.error.os.code, ELOOP);
    EXPECT_EQ(ReadWholeFile(folder / "none", 100).error.os.kind, ErrorKind::kNotFound);
}

TEST(FileIoTest, ReadErrorIsUnreadable) {
    // Reading this process's memory file from address 0 fails with EIO, even for root.
    const FileContent content = ReadWholeFile("/proc/self/mem", 1 << 20);
    EXPECT_EQ(content.status, FileStatus::kUnreadable);
    EXPECT_EQ(content.error.step, FileStep::kRead);
    EXPECT_EQ(content.error.os.code, EIO);
}

TEST(FileIoTest, UnreadableWithoutPermissionWhenNotRoot) {
    if (geteuid() == 0) {
        GTEST_SKIP() << "root reads files whatever their permissions";
    }
    TempFolder folder;
    WriteBytes(folder / "secret", "x");
    fs::permissions(folder / "secret", fs::perms::none);
    const FileContent content = ReadWholeFile(folder / "secret", 100);
    EXPECT_EQ(content.status, FileStatus::kUnreadable);
    EXPECT_EQ(content.error.os.kind, ErrorKind::kPermission);
}

TEST(FileIoTest, FileLargerThanTheLimitIsRefused) {
    TempFolder folder;
    WriteBytes(folder / "big", std::string(101, 'a'));
    const FileContent content = ReadWholeFile(folder / "big", 100);
    EXPECT_EQ(content.status, FileStatus::kUnreadable);
    EXPECT_EQ(content.error.step, FileStep::kTooLarge);
    EXPECT_EQ(ReadWholeFile(folder / "big", 101).bytes.size(), 101u);
}

TEST(FileIoTest, ReplaceCreatesANewFile) {
    TempFolder folder;
    const FileError error = ReplaceFile(folder / "new.pvto", "hello");
    EXPECT_FALSE(error.failed());
    EXPECT_EQ(ReadBytes(folder / "new.pvto"), "hello");
    EXPECT_EQ(Names(folder.path()), std::vector<std::string>{"new.pvto"});
}

TEST(FileIoTest, ReplaceSwapsTheContentAndKeepsThePermissions) {
    TempFolder folder;
    WriteBytes(folder / "c.pvto", "old content that is longer");
    fs::permissions(folder / "c.pvto", fs::perms::owner_read | fs::perms::owner_write);
    const FileError error = ReplaceFile(folder / "c.pvto", "new");
    EXPECT_FALSE(error.failed()) << error.os.text;
    EXPECT_EQ(ReadBytes(folder / "c.pvto"), "new");
    EXPECT_EQ(fs::status(folder / "c.pvto").permissions(),
              fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(Names(folder.path()), std::vector<std::string>{"c.pvto"});
}

TEST(FileIoTest, ReplaceIntoAFolderThatCannotExistFailsAtCreate) {
    TempFolder folder;
    WriteBytes(folder / "plain", "keep");
    const FileError error = ReplaceFile(folder / "plain/c.pvto", "x");
    EXPECT_EQ(error.step, FileStep::kCreate);
    EXPECT_EQ(error.os.code, ENOTDIR);
    EXPECT_EQ(ReadBytes(folder / "plain"), "keep");
}

TEST(FileIoTest, FailedWriteKeepsTheOldFileAndLeavesNoTemporary) {
    TempFolder folder;
    const std::string old(4096, 'o');
    WriteBytes(folder / "c.pvto", old);
    const auto before = fs::last_write_time(folder / "c.pvto");
    FileError error;
    {
        FileSizeLimit limit(1024);
        error = ReplaceFile(folder / "c.pvto", std::string(8192, 'n'));
    }
    EXPECT_EQ(error.step, FileStep::kWrite);
    EXPECT_EQ(error.os.code, EFBIG);
    EXPECT_EQ(ReadBytes(folder / "c.pvto"), old);
    EXPECT_EQ(fs::last_write_time(folder / "c.pvto"), before);
    EXPECT_EQ(Names(folder.path()), std::vector<std::string>{"c.pvto"});
}

TEST(FileIoTest, FailedRenameKeepsTheTargetAndLeavesNoTemporary) {
    TempFolder folder;
    fs::create_directories(folder / "c.pvto/inside");
    const FileError error = ReplaceFile(folder / "c.pvto", "x");
    EXPECT_EQ(error.step, FileStep::kRename);
    EXPECT_NE(error.os.code, 0);
    EXPECT_TRUE(fs::is_directory(folder / "c.pvto/inside"));
    EXPECT_EQ(Names(folder.path()), std::vector<std::string>{"c.pvto"});
}

TEST(FileIoTest, ConcurrentReplacementsNeverMixContents) {
    TempFolder folder;
    const std::string a(100000, 'a');
    const std::string b(100000, 'b');
    const std::string path = folder / "c.pvto";
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
    EXPECT_EQ(Names(folder.path()), std::vector<std::string>{"c.pvto"});
}

TEST(FileIoTest, DeleteAndExists) {
    TempFolder folder;
    WriteBytes(folder / "d", "x");
    EXPECT_TRUE(PathExists(folder / "d"));
    EXPECT_FALSE(DeleteFile(folder / "d").failed());
    EXPECT_FALSE(PathExists(folder / "d"));
    const FileError again = DeleteFile(folder / "d");
    EXPECT_EQ(again.step, FileStep::kDelete);
    EXPECT_EQ(again.os.kind, ErrorKind::kNotFound);
}

TEST(FileIoTest, QueryFileSizeOpensAsAReader) {
    TempFolder folder;
    WriteBytes(folder / "s", "12345");
    const FileSize size = QueryFileSize(folder / "s");
    EXPECT_EQ(size.status, FileStatus::kOk);
    EXPECT_EQ(size.size, 5u);
    EXPECT_EQ(QueryFileSize(folder / "none").status, FileStatus::kMissing);
    EXPECT_EQ(QueryFileSize(folder.path().string()).status, FileStatus::kUnreadable);
}

TEST(FileIoTest, CreateFolderTreeMakesEveryMissingParent) {
    TempFolder folder;
    const FolderResult made = CreateFolderTree(folder / "a/b/c/");
    EXPECT_FALSE(made.error.failed());
    EXPECT_TRUE(made.created);
    EXPECT_TRUE(fs::is_directory(folder / "a/b/c"));
    const FolderResult again = CreateFolderTree(folder / "a/b/c");
    EXPECT_FALSE(again.error.failed());
    EXPECT_FALSE(again.created);
    WriteBytes(folder / "file", "x");
    const FolderResult blocked = CreateFolderTree(folder / "file/sub");
    EXPECT_EQ(blocked.error.step, FileStep::kCreateFolder);
    EXPECT_FALSE(blocked.created);
}

TEST(FileIoTest, FolderOf) {
    EXPECT_EQ(FolderOf("/a/b/c.pvto"), "/a/b");
    EXPECT_EQ(FolderOf("c.pvto"), ".");
    EXPECT_EQ(FolderOf("/c.pvto"), "/");
    EXPECT_EQ(FolderOf("rel/c.pvto"), "rel");
}

TEST(FileIoTest, HeldFileKeepsOtherHoldersOut) {
    TempFolder folder;
    WriteBytes(folder / "h", "held");
    HeldFile first;
    const FileContent content = first.OpenAndRead(folder / "h", 100);
    ASSERT_EQ(content.status, FileStatus::kOk);
    EXPECT_EQ(content.bytes, "held");
    EXPECT_TRUE(first.is_open());

    HeldFile second;
    const FileContent refused = second.OpenAndRead(folder / "h", 100);
    EXPECT_EQ(refused.status, FileStatus::kUnreadable);
    EXPECT_EQ(refused.error.step, FileStep::kOpen);
    EXPECT_EQ(refused.error.os.code, EWOULDBLOCK);
    EXPECT_FALSE(second.is_open());

    first.Close();
    EXPECT_FALSE(first.is_open());
    EXPECT_EQ(second.OpenAndRead(folder / "h", 100).status, FileStatus::kOk);
    EXPECT_EQ(HeldFile().OpenAndRead(folder / "none", 100).status, FileStatus::kMissing);
}
