// The configuration file store: its exact bytes, every readable encoding, line and entry rules,
// damaged, missing and unreadable files, and saving without ever losing the old file.
#include "settings/private_profile.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "platform/code_page.h"
#include "settings/app_config.h"
#include "support/scratch_files.h"

namespace fs = std::filesystem;
using namespace kem::testing;
using kem::platform::FileStep;
using Lines = std::vector<std::u16string>;

namespace {

std::u16string Wide(const std::string& path) {
    return kem::platform::Utf8ToWide(path);
}

std::string Utf16(std::u16string_view text, bool big_endian) {
    std::string bytes;
    for (char16_t c : text) {
        bytes.push_back(static_cast<char>(big_endian ? c >> 8 : c & 0xFF));
        bytes.push_back(static_cast<char>(big_endian ? c & 0xFF : c >> 8));
    }
    return bytes;
}

// The scrambled form: a marker and the key, then every byte combined with the key.
std::string Scramble(const std::string& bytes, uint8_t key) {
    std::string out = {'\xFE', '\x01', static_cast<char>(key)};
    for (char c : bytes) {
        out.push_back(static_cast<char>(static_cast<uint8_t>(c) ^ key));
    }
    return out;
}

// Reads one value through a buffer of `capacity` units, checking the terminator and the bound.
std::u16string Read(CKemPrivateProfile& store, const char16_t* section, const char16_t* key,
                    const char16_t* default_value = u"<default>", int32_t capacity = 512) {
    std::vector<char16_t> buffer(static_cast<size_t>(capacity) + 1, u'#');
    const int32_t length =
        store.ReadStringRaw(section, key, default_value, buffer.data(), capacity, nullptr);
    EXPECT_EQ(buffer[static_cast<size_t>(length)], u'\0') << "not terminated";
    EXPECT_EQ(buffer[static_cast<size_t>(capacity)], u'#') << "written past the capacity";
    return std::u16string(buffer.data(), static_cast<size_t>(length));
}

// A file's bytes and modification time, to prove that a file was left alone.
struct Snapshot {
    explicit Snapshot(const std::string& path)
        : bytes(ReadBytes(path)), mtime(fs::last_write_time(path)) {}
    bool operator==(const Snapshot&) const = default;
    std::string bytes;
    fs::file_time_type mtime;
};

// 串口调试助手 and 发送 in UTF-8.
const std::string kGolden =
    "\xEF\xBB\xBF[Config_System]\r\nAutoSave=false\r\n[Config]\r\nComPortName=COM1\r\n"
    "Title=\xE4\xB8\xB2\xE5\x8F\xA3\xE8\xB0\x83\xE8\xAF\x95\xE5\x8A\xA9\xE6\x89\x8B\r\n"
    "[Config_CustomEntries]\r\nEntriesData0=\xE5\x8F\x91\xE9\x80\x81 [CR]\r\n";

class PrivateProfileTest : public ::testing::Test {
protected:
    std::string File(const std::string& name = "c.pvto") const { return folder_ / name; }
    std::u16string Path(const std::string& name = "c.pvto") const { return Wide(File(name)); }
    // Writes `bytes` to the file `name` and binds `store` to it.
    void Prepare(CKemPrivateProfile& store, const std::string& bytes,
                 const std::string& name = "c.pvto") {
        WriteBytes(File(name), bytes);
        store.SetLocation(Path(name).c_str(), 0);
    }

    TempFolder folder_;
    CKemPrivateProfile store_;
};

TEST_F(PrivateProfileTest, WritesUtf8WithMarkAndCrLfPlainOrScrambled) {
    const char16_t* entries[][3] = {{u"Config_System", u"AutoSave", u"false"},
                                    {u"Config", u"ComPortName", u"COM1"},
                                    {u"Config", u"Title", u"串口调试助手"},
                                    {u"Config_CustomEntries", u"EntriesData0", u"发送 [CR]"}};
    for (int32_t scramble : {0, 1}) {
        SCOPED_TRACE(scramble);
        const std::string name = scramble ? "s.pvto" : "p.pvto";
        CKemPrivateProfile store;
        store.set_scramble(scramble);
        store.set_scramble_key(0x5A);
        store.SetLocation(Path(name).c_str(), 0);
        for (const auto& entry : entries) {
            EXPECT_EQ(store.WriteStringRaw(entry[0], entry[1], entry[2], nullptr), 1);
        }
        EXPECT_EQ(store.IsModified(), 1);
        EXPECT_EQ(store.Close(), 1);
        EXPECT_EQ(store.IsModified(), 0);
        EXPECT_EQ(ReadBytes(File(name)), scramble ? Scramble(kGolden, 0x5A) : kGolden);
        CKemPrivateProfile reader;
        reader.SetLocation(Path(name).c_str(), 0);
        EXPECT_EQ(Read(reader, u"Config", u"Title"), u"串口调试助手");
        EXPECT_EQ(reader.scramble_key(), scramble ? 0x5A : 0);
    }
    EXPECT_EQ(Names(folder_.path()), (std::vector<std::string>{"p.pvto", "s.pvto"}));
}

TEST_F(PrivateProfileTest, ReadsEveryEncodingAlike) {
    const std::u16string text =
        u"[Config]\r\nTitle=串口调试\r\nName=中文 \U0001F600\r\n[Other]\r\n";
    const std::u16string gbk_text = u"[Config]\r\nTitle=串口调试\r\nName=中文\r\n[Other]\r\n";
    std::string utf8 = kem::platform::WideToUtf8(text);
    const struct {
        const char* name;
        std::string bytes;
        std::u16string name_value;
    } rows[] = {
        {"utf-8 with mark", "\xEF\xBB\xBF" + utf8, u"中文 \U0001F600"},
        {"utf-8 without mark", utf8, u"中文 \U0001F600"},
        {"utf-16 le", "\xFF\xFE" + Utf16(text, false), u"中文 \U0001F600"},
        {"utf-16 be", "\xFE\xFF" + Utf16(text, true), u"中文 \U0001F600"},
        {"cp936", kem::platform::WideToAnsi(gbk_text), u"中文"},
        {"scrambled", Scramble("\xEF\xBB\xBF" + utf8, 0x33), u"中文 \U0001F600"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        CKemPrivateProfile store;
        Prepare(store, row.bytes, std::string(row.name) + ".pvto");
        EXPECT_EQ(Read(store, u"Config", u"Title"), u"串口调试");
        EXPECT_EQ(Read(store, u"config", u"NAME"), row.name_value);
        EXPECT_EQ(store.HasSection(u"Other"), 1);
        EXPECT_EQ(store.lines().size(), 4u);
        EXPECT_EQ(store.load_status(), ProfileLoadStatus::kLoaded);
    }
}

TEST_F(PrivateProfileTest, ReadBackEqualsWhatWasWrittenCutToWholeCharacters) {
    const std::vector<std::pair<std::u16string, std::u16string>> values = {
        {u"Plain", u"COM3"},
        {u"Han", u"打开串口失败，请检查设置"},
        {u"Emoji", u"\U0001F600\U0001F680"},
        {u"Latin", u"café naïve"},
        {u"Symbols", u"a=b=c #not a comment [x]"},
        {u"Empty", u""},
        {u"Long", std::u16string(5000, u'长')},
    };
    {
        CKemPrivateProfile store;
        store.SetLocation(Path().c_str(), 0);
        for (const auto& [key, value] : values) {
            ASSERT_EQ(store.WriteStringRaw(u"Config", key.c_str(), value.c_str(), nullptr), 1);
        }
    }  // the destructor saves
    store_.SetLocation(Path().c_str(), 0);
    for (const auto& [key, value] : values) {
        EXPECT_EQ(Read(store_, u"Config", key.c_str(), u"<default>", 8000), value);
    }
    // Small buffers get whole characters only, and so do defaults.
    EXPECT_EQ(Read(store_, u"Config", u"Emoji", nullptr, 4), u"\U0001F600");
    EXPECT_EQ(Read(store_, u"Config", u"Emoji", nullptr, 2), u"");
    EXPECT_EQ(Read(store_, u"Config", u"missing", u"default text", 4), u"def");
    char16_t untouched[2] = {u'#', u'#'};
    EXPECT_EQ(store_.ReadStringRaw(u"Config", u"Han", nullptr, untouched, 0, nullptr), 0);
    EXPECT_EQ(untouched[0], u'#');
    EXPECT_EQ(store_.ReadStringRaw(u"Config", u"Han", nullptr, nullptr, 10, nullptr), 0);
}

TEST_F(PrivateProfileTest, EntryRules) {
    Prepare(store_,
            "x=0\n[S]\n#k=comment\n k=blank before\nk =blank after\nkey=longer key\n"
            "K=a=b\nk=second\n[S2]\n[]\nk=in empty name\n[T]\ne=\n");
    EXPECT_EQ(Read(store_, u"S", u"x"), u"<default>") << "lines before any header";
    EXPECT_EQ(Read(store_, u"s", u"k"), u"a=b") << "first match, any case, after the first '='";
    EXPECT_EQ(Read(store_, u"S", u"#k"), u"<default>");
    EXPECT_EQ(Read(store_, u"S", u"key"), u"longer key");
    EXPECT_EQ(Read(store_, u"S2", u"k"), u"<default>");
    EXPECT_EQ(Read(store_, u"C", u"k"), u"<default>");
    EXPECT_EQ(Read(store_, u"C", u"k", nullptr), u"");
    EXPECT_EQ(Read(store_, u"", u"k"), u"in empty name");
    EXPECT_EQ(Read(store_, u"T", u"e"), u"");
    store_.set_empty_is_default(1);
    EXPECT_EQ(Read(store_, u"T", u"e"), u"<default>");
}

TEST_F(PrivateProfileTest, WritesReplaceInsertOrAppend) {
    Prepare(store_, "[A]\r\nx=1\r\n[B]\r\nx=2\r\n");
    store_.WriteStringRaw(u"A", u"y", u"5", nullptr);
    store_.WriteStringRaw(u"C", u"z", u"1", nullptr);
    store_.WriteStringRaw(u"b", u"X", u"3", nullptr);
    EXPECT_EQ(store_.lines(), (Lines{u"[A]", u"x=1", u"y=5", u"[B]", u"X=3", u"[C]", u"z=1"}));
    EXPECT_EQ(store_.WriteStringRaw(nullptr, u"k", u"v", nullptr), 0);
    EXPECT_EQ(store_.WriteStringRaw(u"A", nullptr, u"v", nullptr), 0);
    EXPECT_EQ(store_.WriteStringRaw(u"A", u"n", nullptr, nullptr), 1);
    EXPECT_EQ(Read(store_, u"A", u"n"), u"");
}

TEST_F(PrivateProfileTest, LinesEndAtLfOrCrLfAndTheContentAtNul) {
    const struct {
        std::string bytes;
        Lines lines;
    } rows[] = {
        {"[A]\r\nx=1", {u"[A]", u"x=1"}},
        {"[A]\r\nx=1\r\n", {u"[A]", u"x=1"}},
        {std::string("[A]\nx=1\ny=2\0z=3\n[B]\n", 20), {u"[A]", u"x=1", u"y=2"}},
        {"[A]\r\nx=1\r2\r\n", {u"[A]", u"x=1\r2"}},  // a lone CR stays in the line
    };
    for (size_t i = 0; i < std::size(rows); ++i) {
        CKemPrivateProfile store;
        Prepare(store, rows[i].bytes, std::to_string(i) + ".pvto");
        EXPECT_EQ(store.lines(), Lines{}) << "nothing before Load";
        EXPECT_EQ(store.Load(), 1);
        EXPECT_EQ(store.lines(), rows[i].lines) << i;
    }
}

TEST_F(PrivateProfileTest, CommentsAndBlankLinesAreKeptOnSave) {
    Prepare(store_, "# top\n\n[A]\n; other\nx=1\n\n");
    store_.WriteStringRaw(u"A", u"x", u"2", nullptr);
    ASSERT_EQ(store_.Close(), 1);
    EXPECT_EQ(ReadBytes(File()), "\xEF\xBB\xBF# top\r\n\r\n[A]\r\n; other\r\nx=2\r\n\r\n");
}

TEST_F(PrivateProfileTest, HanCharactersStraddlingEvery64KiBPieceSurvive) {
    // Lines of varying length put characters of one to four bytes on every piece boundary.
    std::u16string text = u"[Big]\n";
    Lines lines = {u"[Big]"};
    for (int i = 0; text.size() < (1u << 20); ++i) {
        lines.push_back(u"k" + kem::platform::Utf8ToWide(std::to_string(i)) + u"=" +
                        std::u16string(static_cast<size_t>(i % 37), u'a') + u"中文é\U0001F600");
        text += lines.back() + u"\n";
    }
    Prepare(store_, "\xEF\xBB\xBF" + kem::platform::WideToUtf8(text));
    ASSERT_EQ(store_.Load(), 1);
    ASSERT_EQ(store_.lines().size(), lines.size());
    for (size_t i = 0; i < lines.size(); ++i) {
        ASSERT_EQ(store_.lines()[i], lines[i]) << "line " << i;
    }
}

TEST_F(PrivateProfileTest, EmptyTruncatedAndGarbageFilesGiveDefaultsAndStayUntouched) {
    const std::string whole = kem::platform::WideToUtf8(u"\xFEFF[A]\r\nx=1\r\nname=中文\r\n");
    std::string garbage(4096, '\0');
    std::mt19937 random(7);
    for (char& c : garbage) {
        c = static_cast<char>(random());
    }
    const struct {
        const char* name;
        std::string bytes;
        const char16_t* x;
    } rows[] = {
        {"empty", "", u"<default>"},
        {"mark only", "\xEF\xBB\xBF", u"<default>"},
        {"cut inside a character", whole.substr(0, whole.size() - 3), u"1"},
        {"cut inside the header", whole.substr(0, 5), u"<default>"},
        {"garbage", garbage, u"<default>"},
        {"garbage after a mark", "\xFF\xFE" + garbage, u"<default>"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string name = std::string(row.name) + ".pvto";
        WriteBytes(File(name), row.bytes);
        const Snapshot before(File(name));
        {
            CKemPrivateProfile store;
            store.SetLocation(Path(name).c_str(), 0);
            EXPECT_EQ(Read(store, u"A", u"x"), row.x);
            EXPECT_EQ(Read(store, u"A", u"missing"), u"<default>");
            EXPECT_EQ(store.load_status(), ProfileLoadStatus::kLoaded);
            EXPECT_EQ(store.Flush(0), 1);
            EXPECT_EQ(store.Close(), 1);
        }
        EXPECT_TRUE(Snapshot(File(name)) == before) << "an unchanged store is not written";
    }
}

TEST_F(PrivateProfileTest, MissingFileIsAnEmptyStoreThatMayBeCreated) {
    EXPECT_EQ(store_.Save(), 0) << "no path yet";
    EXPECT_EQ(store_.Load(), 0);
    EXPECT_EQ(store_.load_status(), ProfileLoadStatus::kNoPath);
    store_.SetLocation(Path().c_str(), 0);
    EXPECT_EQ(store_.Load(), 1);
    EXPECT_EQ(store_.load_status(), ProfileLoadStatus::kMissing);
    EXPECT_EQ(Read(store_, u"A", u"x"), u"<default>");
    EXPECT_EQ(store_.Close(), 1);
    EXPECT_FALSE(fs::exists(File())) << "nothing written, nothing saved";
    EXPECT_EQ(store_.Save(), 1);
    EXPECT_EQ(ReadBytes(File()), "") << "an explicit save of an empty store writes no bytes";
    EXPECT_EQ(store_.WriteStringRaw(u"A", u"x", u"1", nullptr), 1);
    EXPECT_EQ(store_.Close(), 1);
    EXPECT_EQ(ReadBytes(File()), "\xEF\xBB\xBF[A]\r\nx=1\r\n");
}

TEST_F(PrivateProfileTest, UnreadableFileIsToldApartAndNeverOverwritten) {
    fs::create_directory(File("folder.pvto"));
    fs::create_symlink(File("loop.pvto"), File("loop.pvto"));
    const struct {
        const char* name;
        std::string path;
        FileStep step;
    } rows[] = {
        {"a folder", File("folder.pvto"), FileStep::kNotRegular},
        {"a symbolic link loop", File("loop.pvto"), FileStep::kOpen},
        {"an I/O error on read", "/proc/self/mem", FileStep::kRead},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const auto before = fs::symlink_status(row.path).type();
        CKemPrivateProfile store;
        store.SetLocation(Wide(row.path).c_str(), 0);
        EXPECT_EQ(store.Load(), 0);
        EXPECT_EQ(store.load_status(), ProfileLoadStatus::kUnreadable);
        EXPECT_EQ(store.last_load_error().step, row.step);
        EXPECT_EQ(store.IsLoaded(), 0);
        EXPECT_EQ(Read(store, u"A", u"x"), u"<default>");
        EXPECT_EQ(store.HasSection(u"A"), 0);
        EXPECT_EQ(store.WriteStringRaw(u"A", u"x", u"1", nullptr), 0);
        EXPECT_EQ(store.WriteSection(u"A", u"x=1\0", nullptr), 0);
        EXPECT_EQ(store.IsModified(), 0);
        EXPECT_EQ(store.Flush(1), 0) << "a forced save is refused";
        EXPECT_EQ(store.Close(), 1);
        EXPECT_EQ(store.load_status(), ProfileLoadStatus::kNotLoaded);
        EXPECT_EQ(fs::symlink_status(row.path).type(), before);
    }
    EXPECT_TRUE(fs::is_empty(File("folder.pvto")));
    EXPECT_TRUE(fs::is_symlink(File("loop.pvto")));
}

TEST_F(PrivateProfileTest, FileHeldByAnotherStoreIsUnreadableUntilReleased) {
    store_.set_keep_open(1);
    Prepare(store_, "[A]\nx=1\n");
    const Snapshot before(File());
    ASSERT_EQ(store_.Load(), 1);
    CKemPrivateProfile other;
    other.set_keep_open(1);
    other.SetLocation(Path().c_str(), 0);
    EXPECT_EQ(other.Load(), 0);
    EXPECT_EQ(other.load_status(), ProfileLoadStatus::kUnreadable);
    EXPECT_EQ(other.WriteStringRaw(u"A", u"x", u"2", nullptr), 0);
    EXPECT_EQ(other.Close(), 1);
    EXPECT_TRUE(Snapshot(File()) == before);
    // The holder saves through a new file and holds that one.
    EXPECT_EQ(store_.WriteStringRaw(u"A", u"x", u"3", nullptr), 1);
    EXPECT_EQ(store_.Save(), 1);
    EXPECT_EQ(other.Load(), 0);
    EXPECT_EQ(store_.Close(), 1);
    other.Close();
    EXPECT_EQ(other.Load(), 1);
    EXPECT_EQ(Read(other, u"A", u"x"), u"3");
}

TEST_F(PrivateProfileTest, FailedSaveIntoAnImpossibleFolderReportsAndKeepsTheChanges) {
    WriteBytes(File("plain"), "not a folder");
    store_.SetLocation(Path("plain/c.pvto").c_str(), 0);
    ASSERT_EQ(store_.WriteStringRaw(u"A", u"x", u"1", nullptr), 1);
    EXPECT_EQ(store_.Save(), 0);
    EXPECT_EQ(store_.last_save_error().step, FileStep::kCreate);
    EXPECT_EQ(store_.last_save_error().os.code, ENOTDIR);
    EXPECT_EQ(store_.IsModified(), 1);
    EXPECT_EQ(Read(store_, u"A", u"x"), u"1");
    EXPECT_EQ(store_.Flush(0), 0);
    EXPECT_EQ(store_.Close(), 0) << "Close reports the failed save";
    EXPECT_EQ(ReadBytes(File("plain")), "not a folder");
}

TEST_F(PrivateProfileTest, SaveReplacesTheFileAndAFailedWriteKeepsTheOld) {
    for (int32_t safe_save : {0, 1}) {
        SCOPED_TRACE(safe_save);
        TempFolder folder;
        const std::string path = folder / "c.pvto";
        const std::string old = "\xEF\xBB\xBF[A]\r\nx=old\r\n";
        WriteBytes(path, old);
        // A second name for the old file keeps the old content: the new one is renamed over.
        fs::create_hard_link(path, folder / "second-name");
        const Snapshot before(path);
        CKemPrivateProfile store;
        store.set_safe_save(safe_save);
        store.SetLocation(Wide(path).c_str(), 0);
        ASSERT_EQ(store.WriteStringRaw(u"A", u"big", std::u16string(4000, u'z').c_str(), nullptr),
                  1);
        {
            FileSizeLimit limit(1024);
            EXPECT_EQ(store.Save(), 0);
        }
        EXPECT_EQ(store.last_save_error().step, FileStep::kWrite);
        EXPECT_EQ(store.last_save_error().os.code, EFBIG);
        EXPECT_TRUE(Snapshot(path) == before);
        EXPECT_EQ(Names(folder.path()), (std::vector<std::string>{"c.pvto", "second-name"}));
        EXPECT_EQ(store.IsModified(), 1);
        // Once writing works again the same changes go out.
        EXPECT_EQ(store.Close(), 1);
        EXPECT_EQ(ReadBytes(path), old + "big=" + std::string(4000, 'z') + "\r\n");
        EXPECT_EQ(ReadBytes(folder / "second-name"), old);
    }
}

TEST_F(PrivateProfileTest, NewLocationSavesTheOldFileFirst) {
    store_.WriteStringRaw(u"A", u"x", u"1", Path("first.pvto").c_str());
    EXPECT_EQ(Read(store_, u"A", u"x"), u"1");
    store_.WriteStringRaw(u"A", u"y", u"2", Path("second.pvto").c_str());
    EXPECT_EQ(ReadBytes(File("first.pvto")), "\xEF\xBB\xBF[A]\r\nx=1\r\n");
    EXPECT_EQ(Read(store_, u"A", u"x"), u"<default>");
    EXPECT_EQ(store_.path(), Path("second.pvto"));
    EXPECT_EQ(store_.SetLocation(Path("second.pvto").c_str(), 0), 0) << "the same path again";
    EXPECT_EQ(store_.IsModified(), 1);
}

TEST_F(PrivateProfileTest, SetLocationCreatesTheFolderOnRequestAndExistsLooksAtTheFile) {
    EXPECT_EQ(store_.Exists(0), 0);
    EXPECT_EQ(store_.SetLocation(Path("a/b/c.pvto").c_str(), 1), 1);
    EXPECT_TRUE(fs::is_directory(File("a/b")));
    EXPECT_EQ(store_.SetLocation(Path("x/d.pvto").c_str(), 0), 0);
    EXPECT_FALSE(fs::exists(File("x")));
    EXPECT_EQ(store_.SetLocation(Path("a/b/d.pvto").c_str(), 1), 0);
    EXPECT_EQ(store_.Exists(0), 0);
    WriteBytes(File("a/b/d.pvto"), "");
    EXPECT_EQ(store_.Exists(0), 1);
    EXPECT_EQ(store_.Exists(1), 0) << "an empty file does not count as content";
    WriteBytes(File("a/b/d.pvto"), "x");
    EXPECT_EQ(store_.Exists(1), 1);
}

TEST_F(PrivateProfileTest, ImportReplacesTheLinesAndSavesThemAsUtf8WithCrLf) {
    WriteBytes(File("source.pvto"), "\xFE\xFF" + Utf16(u"[A]\nx=导入\n", true));
    Prepare(store_, "[B]\ny=1\n");
    EXPECT_EQ(store_.ImportFile(Path("missing.pvto").c_str()), 0);
    EXPECT_EQ(store_.IsModified(), 0);
    EXPECT_EQ(store_.ImportFile(Path("source.pvto").c_str()), 1);
    EXPECT_EQ(store_.IsModified(), 1);
    EXPECT_EQ(Read(store_, u"A", u"x"), u"导入");
    EXPECT_EQ(Read(store_, u"B", u"y"), u"<default>");
    ASSERT_EQ(store_.Close(), 1);
    EXPECT_EQ(ReadBytes(File()), "\xEF\xBB\xBF[A]\r\nx=\xE5\xAF\xBC\xE5\x85\xA5\r\n");
}

TEST_F(PrivateProfileTest, WriteSectionReplacesAppendsAndRemoves) {
    Prepare(store_, "[A]\nx=1\ny=2\n[B]\nz=3\n");
    EXPECT_EQ(store_.WriteSection(u"a", u"p=1\0q=2\0", nullptr), 1);
    EXPECT_EQ(store_.lines(), (Lines{u"[A]", u"p=1", u"q=2", u"[B]", u"z=3"}));
    EXPECT_EQ(store_.WriteSection(u"C", u"r=1\0", nullptr), 1);
    EXPECT_EQ(store_.WriteSection(u"B", nullptr, nullptr), 1);
    EXPECT_EQ(store_.lines(), (Lines{u"[A]", u"p=1", u"q=2", u"[C]", u"r=1"}));
    EXPECT_EQ(store_.WriteSection(u"A", u"\0", nullptr), 1);
    EXPECT_EQ(store_.lines(), (Lines{u"[A]", u"[C]", u"r=1"}));
    EXPECT_EQ(store_.WriteSection(u"D", nullptr, nullptr), 1);
    EXPECT_EQ(store_.lines().size(), 3u);
    // At most 64 Ki units of entries are taken.
    std::u16string entries;
    while (entries.size() < 70000) {
        entries += u"key=0123456789";
        entries.push_back(u'\0');
    }
    entries.push_back(u'\0');
    ASSERT_EQ(store_.WriteSection(u"Big", entries.c_str(), nullptr), 1);
    size_t units = 0;
    for (size_t i = 4; i < store_.lines().size(); ++i) {
        units += store_.lines()[i].size() + 1;
    }
    EXPECT_LE(units, CKemPrivateProfile::kMaxSectionUnits + 1);
    EXPECT_GE(units, CKemPrivateProfile::kMaxSectionUnits - 15);
}

TEST_F(PrivateProfileTest, ReadSectionCopiesWholeLinesThatFit) {
    Prepare(store_, "[A]\nx=1\n#c\nlong=12345\n[B]\n");
    char16_t buffer[32];
    std::fill(std::begin(buffer), std::end(buffer), u'#');
    EXPECT_EQ(store_.ReadSection(u"A", buffer, 32, nullptr), 17);
    EXPECT_EQ(std::u16string(buffer, 20), std::u16string(u"x=1\0#c\0long=12345\0\0", 20));
    std::fill(std::begin(buffer), std::end(buffer), u'#');
    EXPECT_EQ(store_.ReadSection(u"A", buffer, 10, nullptr), 6);
    EXPECT_EQ(std::u16string(buffer, 11), std::u16string(u"x=1\0#c\0\0\0\0#", 11));
    EXPECT_EQ(store_.ReadSection(u"B", buffer, 32, nullptr), 0);
    EXPECT_EQ(store_.ReadSection(u"Z", buffer, 32, nullptr), 0);
    EXPECT_EQ(buffer[0], u'\0');
}

TEST_F(PrivateProfileTest, FindKeyOfValue) {
    Prepare(store_, "[A]\n#hidden=COM1\nfirst=com1\nsecond=COM1\nthird=COM12\n");
    char16_t buffer[16];
    EXPECT_EQ(store_.FindKeyOfValue(u"A", u"COM1", u"none", buffer, 16, nullptr), 5);
    EXPECT_EQ(std::u16string(buffer), u"first");
    EXPECT_EQ(store_.FindKeyOfValue(u"A", u"COM2", u"none", buffer, 16, nullptr), 4);
    EXPECT_EQ(std::u16string(buffer), u"none");
    EXPECT_EQ(store_.FindKeyOfValue(u"A", u"COM12", nullptr, buffer, 4, nullptr), 3);
    EXPECT_EQ(std::u16string(buffer), u"thi");
}

TEST_F(PrivateProfileTest, AnsiFileWithOneSettingChangesOnlyThatField) {
    WriteBytes(File(), "[Config]\r\nShowHex=true\r\n");
    tagAppConfig record = DefaultAppConfig();
    ASSERT_EQ(record.ShowHex, 0);
    EXPECT_EQ(store_.LoadStruct(kAppConfigSection, &record, kAppConfigSchema, Path().c_str(), u"|",
                                u",", u"{", u"}"),
              kAppConfigBytes);
    tagAppConfig expected = DefaultAppConfig();
    expected.ShowHex = 1;
    EXPECT_EQ(std::memcmp(&record, &expected, sizeof record), 0);
}

}  // namespace
