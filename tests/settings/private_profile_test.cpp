#include "settings/private_profile.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/code_page.h"
#include "settings/app_config.h"
#include "support/scratch_files.h"

namespace fs = std::filesystem;
using namespace kem::testing;
using kem::platform::FileStep;

namespace {

std::u16string Wide(const std::string& path) {
    return kem::platform::Utf8ToWide(path);
}

std::string Utf16Le(std::u16string_view text) {
    std::string bytes;
    for (char16_t c : text) {
        bytes.push_back(static_cast<char>(c & 0xFF));
        bytes.push_back(static_cast<char>(c >> 8));
    }
    return bytes;
}

std::string Utf16Be(std::u16string_view text) {
    std::string bytes;
    for (char16_t c : text) {
        bytes.push_back(static_cast<char>(c >> 8));
        bytes.push_back(static_cast<char>(c & 0xFF));
    }
    return bytes;
}

// Reads one value through a buffer of `capacity` units.
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

// The lines of the examples, and the same text as a file.
const std::u16string kExampleText = u"[A]\r\nx=1\r\n[B]\r\nx=2\r\n";

// 串口调试助手 and 发送 in UTF-8.
const std::string kGolden =
    "\xEF\xBB\xBF"
    "[Config_System]\r\n"
    "AutoSave=false\r\n"
    "[Config]\r\n"
    "ComPortName=COM1\r\n"
    "Title=\xE4\xB8\xB2\xE5\x8F\xA3\xE8\xB0\x83\xE8\xAF\x95\xE5\x8A\xA9\xE6\x89\x8B\r\n"
    "[Config_CustomEntries]\r\n"
    "EntriesData0=\xE5\x8F\x91\xE9\x80\x81 [CR]\r\n";

}  // namespace

// ---- format of written files ----

TEST(PrivateProfileTest, WritesUtf8WithMarkAndCrLfExactly) {
    TempFolder folder;
    const std::u16string path = Wide(folder / "golden.pvto");
    CKemPrivateProfile store;
    store.SetLocation(path.c_str(), 0);
    EXPECT_EQ(store.WriteStringRaw(u"Config_System", u"AutoSave", u"false", nullptr), 1);
    EXPECT_EQ(store.WriteStringRaw(u"Config", u"ComPortName", u"COM1", nullptr), 1);
    EXPECT_EQ(store.WriteStringRaw(u"Config", u"Title", u"串口调试助手", nullptr), 1);
    EXPECT_EQ(store.WriteStringRaw(u"Config_CustomEntries", u"EntriesData0", u"发送 [CR]", nullptr),
              1);
    EXPECT_EQ(store.IsModified(), 1);
    EXPECT_EQ(store.Close(), 1);
    EXPECT_EQ(store.IsModified(), 0);
    EXPECT_EQ(ReadBytes(folder / "golden.pvto"), kGolden);
    EXPECT_EQ(Names(folder.path()), std::vector<std::string>{"golden.pvto"});
}

TEST(PrivateProfileTest, ScrambledFormCombinesEveryByteAfterTheKey) {
    TempFolder folder;
    const std::u16string path = Wide(folder / "s.pvto");
    CKemPrivateProfile store;
    store.set_scramble(1);
    store.set_scramble_key(0x5A);
    store.WriteStringRaw(u"Config_System", u"AutoSave", u"false", path.c_str());
    store.WriteStringRaw(u"Config", u"ComPortName", u"COM1", nullptr);
    store.WriteStringRaw(u"Config", u"Title", u"串口调试助手", nullptr);
    store.WriteStringRaw(u"Config_CustomEntries", u"EntriesData0", u"发送 [CR]", nullptr);
    ASSERT_EQ(store.Close(), 1);
    std::string expected = "\xFE\x01\x5A";
    for (char c : kGolden) {
        expected.push_back(static_cast<char>(static_cast<uint8_t>(c) ^ 0x5A));
    }
    EXPECT_EQ(ReadBytes(folder / "s.pvto"), expected);

    CKemPrivateProfile reader;
    reader.SetLocation(path.c_str(), 0);
    EXPECT_EQ(Read(reader, u"Config", u"Title"), u"串口调试助手");
    EXPECT_EQ(reader.scramble_key(), 0x5A);
}

TEST(PrivateProfileTest, SavingAnEmptyStoreWritesNoBytes) {
    TempFolder folder;
    const std::u16string path = Wide(folder / "empty.pvto");
    CKemPrivateProfile store;
    store.SetLocation(path.c_str(), 0);
    EXPECT_EQ(store.Save(), 1);
    EXPECT_TRUE(fs::exists(folder / "empty.pvto"));
    EXPECT_EQ(fs::file_size(folder / "empty.pvto"), 0u);
}

TEST(PrivateProfileTest, SaveWithoutPathFails) {
    CKemPrivateProfile store;
    EXPECT_EQ(store.Save(), 0);
    EXPECT_EQ(store.Load(), 0);
    EXPECT_EQ(store.load_status(), ProfileLoadStatus::kNoPath);
}

// ---- reading every supported form ----

TEST(PrivateProfileTest, ReadsEveryEncodingAlike) {
    const std::u16string text =
        u"[Config]\r\nTitle=串口调试\r\nName=中文 \U0001F600\r\n[Other]\r\n";
    const std::u16string gbk_text = u"[Config]\r\nTitle=串口调试\r\nName=中文\r\n[Other]\r\n";
    std::string utf8 = kem::platform::WideToUtf8(text);
    std::string scrambled = "\xFE\x01\x33";
    for (char c : "\xEF\xBB\xBF" + utf8) {
        scrambled.push_back(static_cast<char>(static_cast<uint8_t>(c) ^ 0x33));
    }
    const struct {
        const char* name;
        std::string bytes;
        std::u16string name_value;
    } rows[] = {
        {"utf-8 with mark", "\xEF\xBB\xBF" + utf8, u"中文 \U0001F600"},
        {"utf-8 without mark", utf8, u"中文 \U0001F600"},
        {"utf-16 le", "\xFF\xFE" + Utf16Le(text), u"中文 \U0001F600"},
        {"utf-16 be", "\xFE\xFF" + Utf16Be(text), u"中文 \U0001F600"},
        {"cp936", kem::platform::WideToAnsi(gbk_text), u"中文"},
        {"scrambled", scrambled, u"中文 \U0001F600"},
    };
    for (const auto& row : rows) {
        TempFolder folder;
        WriteBytes(folder / "c.pvto", row.bytes);
        CKemPrivateProfile store;
        store.SetLocation(Wide(folder / "c.pvto").c_str(), 0);
        EXPECT_EQ(Read(store, u"Config", u"Title"), u"串口调试") << row.name;
        EXPECT_EQ(Read(store, u"config", u"NAME"), row.name_value) << row.name;
        EXPECT_EQ(store.HasSection(u"Other"), 1) << row.name;
        EXPECT_EQ(store.lines().size(), 4u) << row.name;
        EXPECT_EQ(store.load_status(), ProfileLoadStatus::kLoaded) << row.name;
    }
}

TEST(PrivateProfileTest, BigEndianFileSavesAsUtf8WithCrLf) {
    TempFolder folder;
    WriteBytes(folder / "be.pvto", "\xFE\xFF" + Utf16Be(u"[A]\nx=中\n"));
    CKemPrivateProfile store;
    store.SetLocation(Wide(folder / "be.pvto").c_str(), 0);
    EXPECT_EQ(store.Save(), 1);
    EXPECT_EQ(ReadBytes(folder / "be.pvto"), "\xEF\xBB\xBF[A]\r\nx=\xE4\xB8\xAD\r\n");
}

TEST(PrivateProfileTest, ReadBackEqualsWhatWasWritten) {
    TempFolder folder;
    const std::u16string path = Wide(folder / "rb.pvto");
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
        store.SetLocation(path.c_str(), 0);
        for (const auto& [key, value] : values) {
            ASSERT_EQ(store.WriteStringRaw(u"Config", key.c_str(), value.c_str(), nullptr), 1);
        }
    }  // the destructor saves
    CKemPrivateProfile store;
    store.SetLocation(path.c_str(), 0);
    for (const auto& [key, value] : values) {
        EXPECT_EQ(Read(store, u"Config", key.c_str(), u"<default>", 8000), value)
            << std::string(key.begin(), key.end());
    }
}

// ---- line and entry rules ----

TEST(PrivateProfileTest, SectionsAndKeysIgnoreCase) {
    TempFolder folder;
    WriteBytes(folder / "c.pvto", kem::platform::WideToUtf8(kExampleText));
    CKemPrivateProfile store;
    store.SetLocation(Wide(folder / "c.pvto").c_str(), 0);
    EXPECT_EQ(Read(store, u"B", u"x"), u"2");
    EXPECT_EQ(Read(store, u"a", u"X"), u"1");
    EXPECT_EQ(Read(store, u"C", u"x"), u"<default>");
    EXPECT_EQ(Read(store, u"A", u"y"), u"<default>");
    EXPECT_EQ(Read(store, u"A", u"y", nullptr), u"");
}

TEST(PrivateProfileTest, EntryRules) {
    TempFolder folder;
    WriteBytes(folder / "c.pvto",
               "x=0\n[S]\n#k=comment\n k=blank before\nk =blank after\nkey=longer key\n"
               "k=a=b\nk=second\n[S2]\n[]\nk=in empty name\n[T]\ne=\n");
    CKemPrivateProfile store;
    store.SetLocation(Wide(folder / "c.pvto").c_str(), 0);
    EXPECT_EQ(Read(store, u"S", u"x"), u"<default>") << "lines before any header";
    EXPECT_EQ(Read(store, u"S", u"k"), u"a=b") << "first match, value after the first '='";
    EXPECT_EQ(Read(store, u"S", u"#k"), u"<default>");
    EXPECT_EQ(Read(store, u"S", u"key"), u"longer key");
    EXPECT_EQ(Read(store, u"S2", u"k"), u"<default>");
    EXPECT_EQ(Read(store, u"", u"k"), u"in empty name");
    EXPECT_EQ(Read(store, u"T", u"e"), u"");
    store.set_empty_is_default(1);
    EXPECT_EQ(Read(store, u"T", u"e"), u"<default>");
}

TEST(PrivateProfileTest, WritesReplaceInsertOrAppend) {
    TempFolder folder;
    WriteBytes(folder / "c.pvto", kem::platform::WideToUtf8(kExampleText));
    CKemPrivateProfile store;
    store.SetLocation(Wide(folder / "c.pvto").c_str(), 0);
    store.WriteStringRaw(u"A", u"y", u"5", nullptr);
    store.WriteStringRaw(u"C", u"z", u"1", nullptr);
    store.WriteStringRaw(u"b", u"X", u"3", nullptr);
    const std::vector<std::u16string> expected = {u"[A]", u"x=1", u"y=5", u"[B]",
                                                  u"X=3", u"[C]", u"z=1"};
    EXPECT_EQ(store.lines(), expected);
    EXPECT_EQ(store.WriteStringRaw(nullptr, u"k", u"v", nullptr), 0);
    EXPECT_EQ(store.WriteStringRaw(u"A", nullptr, u"v", nullptr), 0);
    EXPECT_EQ(store.WriteStringRaw(u"A", u"n", nullptr, nullptr), 1);
    EXPECT_EQ(Read(store, u"A", u"n"), u"");
}

TEST(PrivateProfileTest, LastLineWithoutLineFeedCountsAndCrLfAddsNoEmptyLine) {
    TempFolder folder;
    WriteBytes(folder / "a.pvto", "[A]\r\nx=1");
    WriteBytes(folder / "b.pvto", "[A]\r\nx=1\r\n");
    for (const char* name : {"a.pvto", "b.pvto"}) {
        CKemPrivateProfile store;
        store.SetLocation(Wide(folder / name).c_str(), 0);
        EXPECT_EQ(Read(store, u"A", u"x"), u"1") << name;
        EXPECT_EQ(store.lines(), (std::vector<std::u16string>{u"[A]", u"x=1"})) << name;
    }
}

TEST(PrivateProfileTest, NulEndsTheReadableContent) {
    TempFolder folder;
    static const char kBytes[] = "[A]\nx=1\ny=2\0z=3\n[B]\n";
    WriteBytes(folder / "n.pvto", std::string(kBytes, sizeof kBytes - 1));
    CKemPrivateProfile store;
    store.SetLocation(Wide(folder / "n.pvto").c_str(), 0);
    EXPECT_EQ(store.lines(), (std::vector<std::u16string>{}));  // nothing before Load
    EXPECT_EQ(Read(store, u"A", u"y"), u"2");
    EXPECT_EQ(store.lines(), (std::vector<std::u16string>{u"[A]", u"x=1", u"y=2"}));
}

TEST(PrivateProfileTest, LoneCarriageReturnsStayInTheLine) {
    TempFolder folder;
    WriteBytes(folder / "r.pvto", "[A]\r\nx=1\r2\r\n");
    CKemPrivateProfile store;
    store.SetLocation(Wide(folder / "r.pvto").c_str(), 0);
    EXPECT_EQ(Read(store, u"A", u"x"), u"1\r2");
}

TEST(PrivateProfileTest, CommentsAndBlankLinesAreKeptOnSave) {
    TempFolder folder;
    WriteBytes(folder / "k.pvto", "# top\n\n[A]\n; other\nx=1\n\n");
    CKemPrivateProfile store;
    store.SetLocation(Wide(folder / "k.pvto").c_str(), 0);
    store.WriteStringRaw(u"A", u"x", u"2", nullptr);
    ASSERT_EQ(store.Close(), 1);
    EXPECT_EQ(ReadBytes(folder / "k.pvto"),
              "\xEF\xBB\xBF# top\r\n\r\n[A]\r\n; other\r\nx=2\r\n\r\n");
}

TEST(PrivateProfileTest, HanCharactersStraddlingEvery64KiBPieceSurvive) {
    TempFolder folder;
    // Lines of varying length so that characters of one, two, three and four bytes fall on
    // the piece boundaries in every position.
    std::u16string text = u"[Big]\n";
    std::vector<std::u16string> values;
    for (int i = 0; text.size() < (1u << 20); ++i) {
        std::u16string value(static_cast<size_t>(i % 37), u'a');
        value += u"中文é\U0001F600";
        values.push_back(value);
        text += u"k" + kem::platform::Utf8ToWide(std::to_string(i)) + u"=" + value + u"\n";
    }
    const std::string bytes = "\xEF\xBB\xBF" + kem::platform::WideToUtf8(text);
    ASSERT_GT(bytes.size(), 1u << 20);
    WriteBytes(folder / "big.pvto", bytes);
    CKemPrivateProfile store;
    store.SetLocation(Wide(folder / "big.pvto").c_str(), 0);
    ASSERT_EQ(store.Load(), 1);
    ASSERT_EQ(store.lines().size(), values.size() + 1);
    for (size_t i = 0; i < values.size(); ++i) {
        const std::u16string expected =
            u"k" + kem::platform::Utf8ToWide(std::to_string(i)) + u"=" + values[i];
        ASSERT_EQ(store.lines()[i + 1], expected) << "line " << i + 1;
    }
}

// ---- bounded copies ----

TEST(PrivateProfileTest, LongValuesAreCutAtACharacterBoundary) {
    TempFolder folder;
    WriteBytes(folder / "c.pvto",
               "\xEF\xBB\xBF[A]\nv=ab\xF0\x9F\x98\x80"
               "cd\n");
    CKemPrivateProfile store;
    store.SetLocation(Wide(folder / "c.pvto").c_str(), 0);
    EXPECT_EQ(Read(store, u"A", u"v", nullptr, 7), u"ab\U0001F600cd");
    EXPECT_EQ(Read(store, u"A", u"v", nullptr, 5), u"ab\U0001F600");
    EXPECT_EQ(Read(store, u"A", u"v", nullptr, 4), u"ab") << "never half a surrogate pair";
    EXPECT_EQ(Read(store, u"A", u"v", nullptr, 1), u"");
    EXPECT_EQ(Read(store, u"A", u"missing", u"default text", 4), u"def");
    char16_t untouched[2] = {u'#', u'#'};
    EXPECT_EQ(store.ReadStringRaw(u"A", u"v", nullptr, untouched, 0, nullptr), 0);
    EXPECT_EQ(untouched[0], u'#');
    EXPECT_EQ(store.ReadStringRaw(u"A", u"v", nullptr, nullptr, 10, nullptr), 0);
}

// ---- damaged, empty and unreadable files ----

TEST(PrivateProfileTest, EmptyTruncatedAndGarbageFilesGiveDefaultsAndStayUntouched) {
    TempFolder folder;
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
        const std::string path = folder / (std::string(row.name) + ".pvto");
        WriteBytes(path, row.bytes);
        const Snapshot before(path);
        {
            CKemPrivateProfile store;
            store.SetLocation(Wide(path).c_str(), 0);
            EXPECT_EQ(Read(store, u"A", u"x"), row.x) << row.name;
            EXPECT_EQ(Read(store, u"A", u"missing"), u"<default>") << row.name;
            EXPECT_EQ(store.load_status(), ProfileLoadStatus::kLoaded) << row.name;
            EXPECT_EQ(store.Close(), 1) << row.name;
        }
        EXPECT_TRUE(Snapshot(path) == before) << row.name;
    }
}

TEST(PrivateProfileTest, MissingFileIsAnEmptyStoreThatMayBeCreated) {
    TempFolder folder;
    CKemPrivateProfile store;
    store.SetLocation(Wide(folder / "new.pvto").c_str(), 0);
    EXPECT_EQ(store.Load(), 1);
    EXPECT_EQ(store.load_status(), ProfileLoadStatus::kMissing);
    EXPECT_EQ(Read(store, u"A", u"x"), u"<default>");
    EXPECT_EQ(store.Close(), 1);
    EXPECT_FALSE(fs::exists(folder / "new.pvto")) << "nothing written, nothing saved";
    EXPECT_EQ(store.WriteStringRaw(u"A", u"x", u"1", nullptr), 1);
    EXPECT_EQ(store.Close(), 1);
    EXPECT_EQ(ReadBytes(folder / "new.pvto"), "\xEF\xBB\xBF[A]\r\nx=1\r\n");
}

TEST(PrivateProfileTest, UnreadableFileIsToldApartAndNeverOverwritten) {
    TempFolder folder;
    fs::create_directory(folder / "folder.pvto");
    fs::create_symlink(folder / "loop.pvto", folder / "loop.pvto");
    const struct {
        const char* name;
        std::string path;
        FileStep step;
    } rows[] = {
        {"a folder", folder / "folder.pvto", FileStep::kNotRegular},
        {"a symbolic link loop", folder / "loop.pvto", FileStep::kOpen},
        {"an I/O error on read", "/proc/self/mem", FileStep::kRead},
    };
    for (const auto& row : rows) {
        const auto before = fs::symlink_status(row.path).type();
        CKemPrivateProfile store;
        store.SetLocation(Wide(row.path).c_str(), 0);
        EXPECT_EQ(store.Load(), 0) << row.name;
        EXPECT_EQ(store.load_status(), ProfileLoadStatus::kUnreadable) << row.name;
        EXPECT_EQ(store.last_load_error().step, row.step) << row.name;
        EXPECT_EQ(store.IsLoaded(), 0) << row.name;
        EXPECT_EQ(Read(store, u"A", u"x"), u"<default>") << row.name;
        EXPECT_EQ(store.HasSection(u"A"), 0) << row.name;
        EXPECT_EQ(store.WriteStringRaw(u"A", u"x", u"1", nullptr), 0) << row.name;
        EXPECT_EQ(store.WriteSection(u"A", u"x=1\0", nullptr), 0) << row.name;
        EXPECT_EQ(store.IsModified(), 0) << row.name;
        EXPECT_EQ(store.Flush(1), 0) << row.name << ": a forced save is refused";
        EXPECT_EQ(store.Close(), 1) << row.name;
        EXPECT_EQ(store.load_status(), ProfileLoadStatus::kNotLoaded) << row.name;
        EXPECT_EQ(fs::symlink_status(row.path).type(), before) << row.name;
    }
    EXPECT_TRUE(fs::is_empty(folder / "folder.pvto"));
    EXPECT_TRUE(fs::is_symlink(folder / "loop.pvto"));
}

TEST(PrivateProfileTest, FileHeldByAnotherStoreIsUnreadableUntilReleased) {
    TempFolder folder;
    const std::string path = folder / "held.pvto";
    WriteBytes(path, "[A]\nx=1\n");
    const Snapshot before(path);
    CKemPrivateProfile holder;
    holder.set_keep_open(1);
    holder.SetLocation(Wide(path).c_str(), 0);
    ASSERT_EQ(holder.Load(), 1);

    CKemPrivateProfile other;
    other.set_keep_open(1);
    other.SetLocation(Wide(path).c_str(), 0);
    EXPECT_EQ(other.Load(), 0);
    EXPECT_EQ(other.load_status(), ProfileLoadStatus::kUnreadable);
    EXPECT_EQ(other.WriteStringRaw(u"A", u"x", u"2", nullptr), 0);
    EXPECT_EQ(other.Close(), 1);
    EXPECT_TRUE(Snapshot(path) == before);

    // The holder saves through a new file and holds that one.
    EXPECT_EQ(holder.WriteStringRaw(u"A", u"x", u"3", nullptr), 1);
    EXPECT_EQ(holder.Save(), 1);
    EXPECT_EQ(other.Load(), 0);
    EXPECT_EQ(holder.Close(), 1);
    other.Close();
    EXPECT_EQ(other.Load(), 1);
    EXPECT_EQ(Read(other, u"A", u"x"), u"3");
}

// ---- saving safely ----

TEST(PrivateProfileTest, FailedSaveIntoAnImpossibleFolderReportsAndKeepsTheChanges) {
    TempFolder folder;
    WriteBytes(folder / "plain", "not a folder");
    const std::u16string path = Wide(folder / "plain/c.pvto");
    CKemPrivateProfile store;
    store.SetLocation(path.c_str(), 0);
    ASSERT_EQ(store.WriteStringRaw(u"A", u"x", u"1", nullptr), 1);
    EXPECT_EQ(store.Save(), 0);
    EXPECT_EQ(store.last_save_error().step, FileStep::kCreate);
    EXPECT_EQ(store.last_save_error().os.code, ENOTDIR);
    EXPECT_EQ(store.IsModified(), 1);
    EXPECT_EQ(Read(store, u"A", u"x"), u"1");
    EXPECT_EQ(store.Flush(0), 0);
    EXPECT_EQ(store.Close(), 0) << "Close reports the failed save";
    EXPECT_EQ(ReadBytes(folder / "plain"), "not a folder");
}

TEST(PrivateProfileTest, FailedWriteKeepsTheOldFileWithAndWithoutSafeSave) {
    for (int32_t safe_save : {0, 1}) {
        TempFolder folder;
        const std::string path = folder / "c.pvto";
        const std::string old = "\xEF\xBB\xBF[A]\r\nx=old\r\n";
        WriteBytes(path, old);
        const Snapshot before(path);
        CKemPrivateProfile store;
        store.set_safe_save(safe_save);
        store.SetLocation(Wide(path).c_str(), 0);
        ASSERT_EQ(store.WriteStringRaw(u"A", u"big", std::u16string(4000, u'z').c_str(), nullptr),
                  1);
        {
            FileSizeLimit limit(1024);
            EXPECT_EQ(store.Save(), 0) << "safe save " << safe_save;
        }
        EXPECT_EQ(store.last_save_error().step, FileStep::kWrite) << "safe save " << safe_save;
        EXPECT_EQ(store.last_save_error().os.code, EFBIG) << "safe save " << safe_save;
        EXPECT_TRUE(Snapshot(path) == before) << "safe save " << safe_save;
        EXPECT_EQ(Names(folder.path()), std::vector<std::string>{"c.pvto"}) << "no leftovers";
        EXPECT_EQ(store.IsModified(), 1);
        // Once writing works again the same changes go out.
        EXPECT_EQ(store.Close(), 1) << "safe save " << safe_save;
        EXPECT_EQ(ReadBytes(path).size(), old.size() + 4 + 4000 + 2);
    }
}

TEST(PrivateProfileTest, SaveReplacesTheFileInsteadOfRewritingItInPlace) {
    // A second name for the old file still shows the old content afterwards: the new content
    // went to a new file that was renamed over the old name.
    for (int32_t safe_save : {0, 1}) {
        TempFolder folder;
        const std::string path = folder / "c.pvto";
        WriteBytes(path, "[A]\nx=old\n");
        fs::create_hard_link(path, folder / "second-name");
        CKemPrivateProfile store;
        store.set_safe_save(safe_save);
        store.SetLocation(Wide(path).c_str(), 0);
        store.WriteStringRaw(u"A", u"x", u"new", nullptr);
        ASSERT_EQ(store.Close(), 1);
        EXPECT_EQ(ReadBytes(folder / "second-name"), "[A]\nx=old\n") << "safe save " << safe_save;
        EXPECT_EQ(ReadBytes(path), "\xEF\xBB\xBF[A]\r\nx=new\r\n") << "safe save " << safe_save;
    }
}

TEST(PrivateProfileTest, UnchangedStoreIsNotWrittenAtClose) {
    TempFolder folder;
    const std::string path = folder / "c.pvto";
    WriteBytes(path, "[A]\nx=1\n");
    const Snapshot before(path);
    CKemPrivateProfile store;
    store.SetLocation(Wide(path).c_str(), 0);
    EXPECT_EQ(Read(store, u"A", u"x"), u"1");
    EXPECT_EQ(store.Flush(0), 1);
    EXPECT_EQ(store.Close(), 1);
    EXPECT_TRUE(Snapshot(path) == before);
}

// ---- location, import, sections ----

TEST(PrivateProfileTest, NewLocationSavesTheOldFileFirst) {
    TempFolder folder;
    const std::u16string first = Wide(folder / "first.pvto");
    const std::u16string second = Wide(folder / "second.pvto");
    CKemPrivateProfile store;
    store.WriteStringRaw(u"A", u"x", u"1", first.c_str());
    EXPECT_EQ(Read(store, u"A", u"x"), u"1");
    store.WriteStringRaw(u"A", u"y", u"2", second.c_str());
    EXPECT_EQ(ReadBytes(folder / "first.pvto"), "\xEF\xBB\xBF[A]\r\nx=1\r\n");
    EXPECT_EQ(Read(store, u"A", u"x"), u"<default>");
    EXPECT_EQ(store.path(), second);
    // The same path again changes nothing.
    EXPECT_EQ(store.SetLocation(second.c_str(), 0), 0);
    EXPECT_EQ(store.IsModified(), 1);
}

TEST(PrivateProfileTest, SetLocationCreatesTheFolderOnRequest) {
    TempFolder folder;
    CKemPrivateProfile store;
    EXPECT_EQ(store.SetLocation(Wide(folder / "a/b/c.pvto").c_str(), 1), 1);
    EXPECT_TRUE(fs::is_directory(folder / "a/b"));
    EXPECT_EQ(store.SetLocation(Wide(folder / "a/b/d.pvto").c_str(), 1), 0);
    EXPECT_EQ(store.SetLocation(Wide(folder / "x/d.pvto").c_str(), 0), 0);
    EXPECT_FALSE(fs::exists(folder / "x"));
}

TEST(PrivateProfileTest, ExistsLooksAtTheFile) {
    TempFolder folder;
    CKemPrivateProfile store;
    EXPECT_EQ(store.Exists(0), 0);
    store.SetLocation(Wide(folder / "e.pvto").c_str(), 0);
    EXPECT_EQ(store.Exists(0), 0);
    WriteBytes(folder / "e.pvto", "");
    EXPECT_EQ(store.Exists(0), 1);
    EXPECT_EQ(store.Exists(1), 0);
    WriteBytes(folder / "e.pvto", "x");
    EXPECT_EQ(store.Exists(1), 1);
}

TEST(PrivateProfileTest, ImportReplacesTheLinesAndMarksThemForSaving) {
    TempFolder folder;
    WriteBytes(folder / "source.pvto", "\xFF\xFE" + Utf16Le(u"[A]\r\nx=导入\r\n"));
    WriteBytes(folder / "own.pvto", "[B]\ny=1\n");
    CKemPrivateProfile store;
    store.SetLocation(Wide(folder / "own.pvto").c_str(), 0);
    EXPECT_EQ(store.ImportFile(Wide(folder / "missing.pvto").c_str()), 0);
    EXPECT_EQ(store.IsModified(), 0);
    EXPECT_EQ(store.ImportFile(Wide(folder / "source.pvto").c_str()), 1);
    EXPECT_EQ(store.IsModified(), 1);
    EXPECT_EQ(Read(store, u"A", u"x"), u"导入");
    EXPECT_EQ(Read(store, u"B", u"y"), u"<default>");
    ASSERT_EQ(store.Close(), 1);
    EXPECT_EQ(ReadBytes(folder / "own.pvto"), "\xEF\xBB\xBF[A]\r\nx=\xE5\xAF\xBC\xE5\x85\xA5\r\n");
}

TEST(PrivateProfileTest, WriteSectionReplacesAppendsAndRemoves) {
    TempFolder folder;
    WriteBytes(folder / "c.pvto", "[A]\nx=1\ny=2\n[B]\nz=3\n");
    CKemPrivateProfile store;
    store.SetLocation(Wide(folder / "c.pvto").c_str(), 0);
    EXPECT_EQ(store.WriteSection(u"a", u"p=1\0q=2\0", nullptr), 1);
    EXPECT_EQ(store.lines(), (std::vector<std::u16string>{u"[A]", u"p=1", u"q=2", u"[B]", u"z=3"}));
    EXPECT_EQ(store.WriteSection(u"C", u"r=1\0", nullptr), 1);
    EXPECT_EQ(store.WriteSection(u"B", nullptr, nullptr), 1);
    EXPECT_EQ(store.lines(), (std::vector<std::u16string>{u"[A]", u"p=1", u"q=2", u"[C]", u"r=1"}));
    EXPECT_EQ(store.WriteSection(u"A", u"\0", nullptr), 1);
    EXPECT_EQ(store.lines(), (std::vector<std::u16string>{u"[A]", u"[C]", u"r=1"}));
    EXPECT_EQ(store.WriteSection(u"D", nullptr, nullptr), 1);
    EXPECT_EQ(store.lines().size(), 3u);
}

TEST(PrivateProfileTest, WriteSectionTakesAtMost64KiUnits) {
    TempFolder folder;
    std::u16string entries;
    while (entries.size() < 70000) {
        entries += u"key=0123456789";
        entries.push_back(u'\0');
    }
    entries.push_back(u'\0');
    CKemPrivateProfile store;
    store.SetLocation(Wide(folder / "c.pvto").c_str(), 0);
    ASSERT_EQ(store.WriteSection(u"A", entries.c_str(), nullptr), 1);
    size_t units = 0;
    for (size_t i = 1; i < store.lines().size(); ++i) {
        units += store.lines()[i].size() + 1;
    }
    EXPECT_LE(units, CKemPrivateProfile::kMaxSectionUnits + 1);
    EXPECT_GE(units, CKemPrivateProfile::kMaxSectionUnits - 15);
}

TEST(PrivateProfileTest, ReadSectionCopiesWholeLinesThatFit) {
    TempFolder folder;
    WriteBytes(folder / "c.pvto", "[A]\nx=1\n#c\nlong=12345\n[B]\n");
    CKemPrivateProfile store;
    store.SetLocation(Wide(folder / "c.pvto").c_str(), 0);
    char16_t buffer[32];
    std::fill(std::begin(buffer), std::end(buffer), u'#');
    EXPECT_EQ(store.ReadSection(u"A", buffer, 32, nullptr), 17);
    EXPECT_EQ(std::u16string(buffer, 20), std::u16string(u"x=1\0#c\0long=12345\0\0", 20));
    std::fill(std::begin(buffer), std::end(buffer), u'#');
    EXPECT_EQ(store.ReadSection(u"A", buffer, 10, nullptr), 6);
    EXPECT_EQ(std::u16string(buffer, 10), std::u16string(u"x=1\0#c\0\0\0\0", 10));
    EXPECT_EQ(buffer[10], u'#');
    EXPECT_EQ(store.ReadSection(u"B", buffer, 32, nullptr), 0);
    EXPECT_EQ(store.ReadSection(u"Z", buffer, 32, nullptr), 0);
    EXPECT_EQ(buffer[0], u'\0');
}

TEST(PrivateProfileTest, FindKeyOfValue) {
    TempFolder folder;
    WriteBytes(folder / "c.pvto", "[A]\n#hidden=COM1\nfirst=com1\nsecond=COM1\nthird=COM12\n");
    CKemPrivateProfile store;
    store.SetLocation(Wide(folder / "c.pvto").c_str(), 0);
    char16_t buffer[16];
    EXPECT_EQ(store.FindKeyOfValue(u"A", u"COM1", u"none", buffer, 16, nullptr), 5);
    EXPECT_EQ(std::u16string(buffer), u"first");
    EXPECT_EQ(store.FindKeyOfValue(u"A", u"COM2", u"none", buffer, 16, nullptr), 4);
    EXPECT_EQ(std::u16string(buffer), u"none");
    EXPECT_EQ(store.FindKeyOfValue(u"A", u"COM12", nullptr, buffer, 4, nullptr), 3);
    EXPECT_EQ(std::u16string(buffer), u"thi");
}

// ---- with the application's record ----

TEST(PrivateProfileTest, ApplicationRecordIsWrittenInSchemaOrder) {
    TempFolder folder;
    const std::u16string path = Wide(folder / "app.pvto");
    CKemPrivateProfile store;
    ASSERT_GT(store.SaveStruct(kAppConfigSection, &DefaultAppConfig(), kAppConfigSchema,
                               path.c_str(), u"|", u",", u"{", u"}"),
              0);
    ASSERT_EQ(store.Close(), 1);
    CKemPrivateProfile reader;
    reader.SetLocation(path.c_str(), 0);
    ASSERT_EQ(reader.Load(), 1);
    const auto& lines = reader.lines();
    ASSERT_EQ(lines.size(), 2u + 1u + 43u + 1u + 18u);
    EXPECT_EQ(lines[0], u"[Config_System]");
    EXPECT_EQ(lines[1],
              DefaultAppConfig().System.AutoSave != 0 ? u"AutoSave=true" : u"AutoSave=false");
    EXPECT_EQ(lines[2], u"[Config]");
    EXPECT_EQ(lines[3].substr(0, 12), u"ComPortName=");
    EXPECT_EQ(lines[45].substr(0, 31), u"LogSaveAllChannelMergeContinue=");
    EXPECT_EQ(lines[46], u"[Config_CustomEntries]");
    EXPECT_EQ(lines[47].substr(0, 13), u"EntriesData0=");
    EXPECT_EQ(lines[64].substr(0, 14), u"EntriesData17=");
    EXPECT_EQ(ReadBytes(folder / "app.pvto").substr(0, 3), "\xEF\xBB\xBF");

    tagAppConfig loaded = DefaultAppConfig();
    loaded.ShowHex = 1;
    loaded.ComPortName[0] = u'X';
    EXPECT_GT(reader.LoadStruct(kAppConfigSection, &loaded, kAppConfigSchema, nullptr, u"|", u",",
                                u"{", u"}"),
              0);
    EXPECT_EQ(std::memcmp(&loaded, &DefaultAppConfig(), sizeof loaded), 0);
}

TEST(PrivateProfileTest, AnsiFileWithOneSettingChangesOnlyThatField) {
    TempFolder folder;
    WriteBytes(folder / "ansi.pvto", "[Config]\r\nShowHex=true\r\n");
    CKemPrivateProfile store;
    tagAppConfig record = DefaultAppConfig();
    ASSERT_EQ(record.ShowHex, 0);
    EXPECT_GT(store.LoadStruct(kAppConfigSection, &record, kAppConfigSchema,
                               Wide(folder / "ansi.pvto").c_str(), u"|", u",", u"{", u"}"),
              0);
    tagAppConfig expected = DefaultAppConfig();
    expected.ShowHex = 1;
    EXPECT_EQ(std::memcmp(&record, &expected, sizeof record), 0);
}
