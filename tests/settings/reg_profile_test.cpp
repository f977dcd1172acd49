// The registry store: key path parsing, section keys, each primitive against a temporary
// registry database, malformed values, the whole settings record, and a damaged database.
#include "settings/reg_profile.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "platform/code_page.h"
#include "settings/app_config.h"

using kem::platform::RegAccess;
using kem::platform::Registry;
using kem::platform::RegKey;
using kem::platform::RegRoot;
using kem::platform::RegStatus;
using kem::platform::RegType;
using kem::settings::KeyPathKind;
using kem::settings::ParseRootKey;
using kem::settings::SectionKeyPath;

namespace {

class TempRegistry {
public:
    TempRegistry() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "kem-regprofile-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("mkdtemp failed");
        }
        folder_ = pattern;
        path_ = folder_ + "/registry.sqlite3";
        if (Registry::OpenAt(path_, {}, &registry_) != RegStatus::kOk) {
            throw std::runtime_error("registry not opened");
        }
    }
    ~TempRegistry() {
        registry_.reset();
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }

    const std::shared_ptr<Registry>& registry() const { return registry_; }
    const std::string& path() const { return path_; }
    const std::string& folder() const { return folder_; }

    // Writes a value with raw bytes and type, as another program could have left it.
    void PutRaw(std::u16string_view key_path, std::u16string_view name, RegType type,
                const std::vector<uint8_t>& bytes) const {
        RegKey key;
        ASSERT_EQ(RegKey::Create(registry_, RegRoot::kCurrentUser, key_path, &key), RegStatus::kOk);
        ASSERT_EQ(key.SetValue(name, type, bytes.data(), static_cast<uint32_t>(bytes.size())),
                  RegStatus::kOk);
    }

    bool KeyExists(std::u16string_view key_path) const {
        RegKey key;
        return RegKey::Open(registry_, RegRoot::kCurrentUser, key_path, RegAccess::kRead, &key) ==
               RegStatus::kOk;
    }

    RegType TypeOf(std::u16string_view key_path, std::u16string_view name) const {
        RegKey key;
        RegType type = RegType::kNone;
        std::vector<uint8_t> data;
        if (RegKey::Open(registry_, RegRoot::kCurrentUser, key_path, RegAccess::kRead, &key) !=
                RegStatus::kOk ||
            key.QueryValue(name, &type, &data) != RegStatus::kOk) {
            return RegType::kNone;
        }
        return type;
    }

private:
    std::string folder_;
    std::string path_;
    std::shared_ptr<Registry> registry_;
};

std::vector<uint8_t> Utf16Bytes(std::u16string_view text, bool terminator) {
    std::vector<uint8_t> bytes;
    for (char16_t unit : text) {
        bytes.push_back(static_cast<uint8_t>(unit & 0xFF));
        bytes.push_back(static_cast<uint8_t>(unit >> 8));
    }
    if (terminator) {
        bytes.push_back(0);
        bytes.push_back(0);
    }
    return bytes;
}

std::vector<char> FileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

TEST(ParseRootKeyTest, RecognisesRootNamesAndFilePaths) {
    const struct {
        const char16_t* path;
        KeyPathKind kind;
        RegRoot root;
        const char16_t* sub_key;
    } rows[] = {
        {u"HKCU\\Software", KeyPathKind::kRegistry, RegRoot::kCurrentUser, u"Software"},
        {u"hkcu\\Software", KeyPathKind::kRegistry, RegRoot::kCurrentUser, u"Software"},
        {u"HKCUX\\Software", KeyPathKind::kRegistry, RegRoot::kCurrentUser, u"Software"},
        {u"HKLM", KeyPathKind::kRegistry, RegRoot::kLocalMachine, u""},
        {u"HKCR\\.pvto", KeyPathKind::kRegistry, RegRoot::kClassesRoot, u".pvto"},
        {u"HKU\\S-1\\x", KeyPathKind::kRegistry, RegRoot::kUsers, u"S-1\\x"},
        {u"hkcc\\a\\", KeyPathKind::kRegistry, RegRoot::kCurrentConfig, u"a\\"},
        {u"%APPDATA%\\a.pvto", KeyPathKind::kFileSystem, RegRoot::kUsers, u"keep"},
        {u".\\a.pvto", KeyPathKind::kFileSystem, RegRoot::kUsers, u"keep"},
        {u"/home/a.pvto", KeyPathKind::kFileSystem, RegRoot::kUsers, u"keep"},
        {u"\\\\server\\a", KeyPathKind::kFileSystem, RegRoot::kUsers, u"keep"},
        {u"c:\\a.pvto", KeyPathKind::kFileSystem, RegRoot::kUsers, u"keep"},
        {u"Z:", KeyPathKind::kFileSystem, RegRoot::kUsers, u"keep"},
        {u"Software\\A", KeyPathKind::kOther, RegRoot::kUsers, u"keep"},
        {u"HKEY_CURRENT_USER\\A", KeyPathKind::kOther, RegRoot::kUsers, u"keep"},
        {u"1:", KeyPathKind::kOther, RegRoot::kUsers, u"keep"},
        {u"", KeyPathKind::kNone, RegRoot::kUsers, u"keep"},
        {nullptr, KeyPathKind::kNone, RegRoot::kUsers, u"keep"},
    };
    for (const auto& row : rows) {
        RegRoot root = RegRoot::kUsers;
        char16_t sub_key[32];
        std::memcpy(sub_key, u"keep", sizeof(u"keep"));
        EXPECT_EQ(ParseRootKey(row.path, &root, sub_key, 32), row.kind)
            << (row.path == nullptr ? "null" : kem::platform::WideToUtf8(row.path));
        EXPECT_EQ(root, row.root);
        EXPECT_EQ(std::u16string(sub_key), row.sub_key);
    }
}

TEST(ParseRootKeyTest, CutsTheSubKeyAtACharacterBoundary) {
    char16_t sub_key[5];
    RegRoot root = RegRoot::kUsers;
    EXPECT_EQ(ParseRootKey(u"HKCU\\abcdefgh", &root, sub_key, 5), KeyPathKind::kRegistry);
    EXPECT_EQ(std::u16string(sub_key), u"abcd");
    // "abc" and a pair that would be split by the fifth unit: the pair is left out whole.
    EXPECT_EQ(ParseRootKey(u"HKCU\\abc\U0001F600", &root, sub_key, 5), KeyPathKind::kRegistry);
    EXPECT_EQ(std::u16string(sub_key), u"abc");
    EXPECT_EQ(ParseRootKey(u"HKCU\\x", nullptr, nullptr, 0), KeyPathKind::kRegistry);
}

TEST(SectionKeyPathTest, JoinsWithOneSeparatorAndExpandsTheSection) {
    setenv("KEM_REG_SECTION", "Expanded", 1);
    const struct {
        const char16_t* key_path;
        const char16_t* section;
        const char16_t* joined;
    } rows[] = {
        {u"Software\\A", u"Config", u"Software\\A\\Config"},
        {u"Software\\A\\", u"\\Config\\", u"Software\\A\\Config"},
        {u"Software\\A", u"%KEM_REG_SECTION%", u"Software\\A\\Expanded"},
        {u"Software\\A", u"x%KEM_REG_UNSET_NAME%", u"Software\\A\\x%KEM_REG_UNSET_NAME%"},
        {u"Software\\A", nullptr, u"Software\\A"},
        {u"Software\\A\\", u"", u"Software\\A"},
        {u"", u"Config", u"Config"},
        {u"", nullptr, u""},
        {u"Software", u"a\\b", u"Software\\a\\b"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(SectionKeyPath(row.key_path, row.section), row.joined)
            << kem::platform::WideToUtf8(row.key_path);
    }
}

TEST(RegProfileTest, SetLocationAcceptsRegistryPathsOnly) {
    TempRegistry temp;
    CKemRegProfile store(temp.registry());
    EXPECT_FALSE(store.root_key().has_value());
    EXPECT_EQ(store.SetLocation(u"HKCU\\Software\\Quorbel", 0), 1);
    EXPECT_EQ(store.root_key(), RegRoot::kCurrentUser);
    EXPECT_EQ(std::u16string(store.key_path()), u"Software\\Quorbel");

    for (const char16_t* bad : {u"C:\\a.pvto", u"./a.pvto", u"Software", u""}) {
        EXPECT_EQ(store.SetLocation(bad, 0), 0);
        EXPECT_EQ(store.root_key(), RegRoot::kCurrentUser);  // previous binding kept
        EXPECT_EQ(std::u16string(store.key_path()), u"Software\\Quorbel");
    }
    EXPECT_EQ(store.SetLocation(nullptr, 0), 0);

    EXPECT_EQ(store.SetLocation(u"HKLM", 0), 1);
    EXPECT_EQ(store.root_key(), RegRoot::kLocalMachine);
    EXPECT_EQ(std::u16string(store.key_path()), u"");

    const std::u16string long_path(400, u'k');
    EXPECT_EQ(store.SetKey(RegRoot::kUsers, long_path.c_str(), 0), 1);
    EXPECT_EQ(std::u16string(store.key_path()), long_path.substr(0, 259));
    EXPECT_EQ(store.SetKey(RegRoot::kUsers, store.key_path(), 0), 1);  // its own path
    EXPECT_EQ(std::u16string(store.key_path()), long_path.substr(0, 259));
    EXPECT_EQ(store.SetKey(RegRoot::kUsers, nullptr, 0), 0);
    EXPECT_EQ(store.SetKey(std::nullopt, u"Software", 0), 0);
    EXPECT_FALSE(store.root_key().has_value());
    // Unbound: reads give the default, writes fail.
    char16_t buffer[16];
    EXPECT_EQ(store.ReadStringRaw(u"S", u"k", u"dflt", buffer, 16, nullptr), 4);
    EXPECT_EQ(std::u16string(buffer), u"dflt");
    EXPECT_EQ(store.WriteStringRaw(u"S", u"k", u"v", nullptr), 0);
}

TEST(RegProfileTest, TextValuesRoundTripAsRegSz) {
    TempRegistry temp;
    {
        CKemRegProfile store(temp.registry());
        ASSERT_EQ(store.SetLocation(u"HKCU\\Software\\A", 0), 1);
        EXPECT_EQ(store.WriteStringRaw(u"Config", u"ComPortName", u"串口 COM3", nullptr), 1);
        EXPECT_EQ(store.WriteStringRaw(u"Config", u"Empty", nullptr, nullptr), 1);
        EXPECT_EQ(store.WriteStringRaw(u"Config\\Deep\\Er", u"x", u"1", nullptr), 1);
        EXPECT_EQ(store.WriteStringRaw(u".pvto", nullptr, u"Default", nullptr), 1);
        EXPECT_EQ(store.IsModified(), 0);  // writes land at once; nothing to save
    }
    EXPECT_EQ(temp.TypeOf(u"Software\\A\\Config", u"ComPortName"), RegType::kSz);
    // A new store on a new connection reads what the first wrote.
    std::shared_ptr<Registry> second;
    ASSERT_EQ(Registry::OpenAt(temp.path(), {}, &second), RegStatus::kOk);
    CKemRegProfile store(second);
    ASSERT_EQ(store.SetLocation(u"hkcu\\software\\a", 0), 1);
    char16_t buffer[64];
    EXPECT_EQ(store.ReadStringRaw(u"CONFIG", u"comportname", u"d", buffer, 64, nullptr), 7);
    EXPECT_EQ(std::u16string(buffer), u"串口 COM3");
    EXPECT_EQ(store.ReadStringRaw(u"Config", u"Empty", u"d", buffer, 64, nullptr), 0);
    EXPECT_EQ(std::u16string(buffer), u"");
    EXPECT_EQ(store.ReadStringRaw(u".pvto", nullptr, u"d", buffer, 64, nullptr), 7);
    EXPECT_EQ(std::u16string(buffer), u"Default");
    EXPECT_EQ(store.GetString(u"Config\\Deep\\Er", u"x", nullptr, nullptr), u"1");
    EXPECT_EQ(store.ReadStringRaw(u"Config", u"Missing", u"dflt", buffer, 64, nullptr), 4);
    EXPECT_EQ(std::u16string(buffer), u"dflt");
    EXPECT_EQ(store.ReadStringRaw(u"Nowhere", u"x", nullptr, buffer, 64, nullptr), 0);
    EXPECT_EQ(std::u16string(buffer), u"");
    EXPECT_EQ(store.ReadStringRaw(u"Config", u"x", u"d", nullptr, 64, nullptr), 0);
}

TEST(RegProfileTest, MalformedOrForeignValuesLeaveTheDefault) {
    TempRegistry temp;
    const std::u16string key = u"Software\\A\\Config";
    temp.PutRaw(key, u"Dword", RegType::kDword, {5, 0, 0, 0});
    temp.PutRaw(key, u"NoTerminator", RegType::kSz, Utf16Bytes(u"COM7", false));
    temp.PutRaw(key, u"OddLength", RegType::kSz, {'A', 0, 'B', 0, 0});
    temp.PutRaw(key, u"ZeroBytes", RegType::kSz, {});
    temp.PutRaw(key, u"Binary", RegType::kBinary, Utf16Bytes(u"COM8", true));
    temp.PutRaw(key, u"Inner", RegType::kSz, Utf16Bytes(std::u16string(u"ab\0cd", 5), true));
    CKemRegProfile store(temp.registry());
    ASSERT_EQ(store.SetLocation(u"HKCU\\Software\\A", 0), 1);
    for (const char16_t* name :
         {u"Dword", u"NoTerminator", u"OddLength", u"ZeroBytes", u"Binary"}) {
        char16_t buffer[32] = u"unchanged";
        EXPECT_EQ(store.ReadStringRaw(u"Config", name, u"field", buffer, 32, nullptr), 5)
            << kem::platform::WideToUtf8(name);
        EXPECT_EQ(std::u16string(buffer), u"field");
    }
    char16_t buffer[32];
    EXPECT_EQ(store.ReadStringRaw(u"Config", u"Inner", u"d", buffer, 32, nullptr), 2);
    EXPECT_EQ(std::u16string(buffer), u"ab");  // the text ends at its first zero
    // A native number is not text, and text is not a native number.
    EXPECT_EQ(store.GetString(u"Config", u"Dword", u"7", nullptr), u"7");
    store.WriteStringRaw(u"Config", u"Text", u"5", nullptr);
    EXPECT_EQ(store.ReadDword(u"Config", u"Text", 9, nullptr), 9u);
}

TEST(RegProfileTest, LongTextIsCutAtACharacterBoundaryAndTerminated) {
    TempRegistry temp;
    CKemRegProfile store(temp.registry());
    ASSERT_EQ(store.SetLocation(u"HKCU\\Software\\A", 0), 1);
    const std::u16string long_text(300, u'x');
    ASSERT_EQ(store.WriteStringRaw(u"Config", u"Long", long_text.c_str(), nullptr), 1);
    std::vector<char16_t> buffer(258, u'#');
    EXPECT_EQ(store.ReadStringRaw(u"Config", u"Long", u"d", buffer.data(), 256, nullptr), 255);
    EXPECT_EQ(std::u16string(buffer.data()), long_text.substr(0, 255));
    EXPECT_EQ(buffer[256], u'#');  // nothing written past the capacity

    // "ab" then a surrogate pair: four units never fit three units of text plus the zero.
    ASSERT_EQ(store.WriteStringRaw(u"Config", u"Pair", u"ab\U0001F600c", nullptr), 1);
    char16_t small[4] = {u'#', u'#', u'#', u'#'};
    EXPECT_EQ(store.ReadStringRaw(u"Config", u"Pair", u"d", small, 4, nullptr), 2);
    EXPECT_EQ(std::u16string(small), u"ab");
    char16_t fits[5];
    EXPECT_EQ(store.ReadStringRaw(u"Config", u"Pair", u"d", fits, 5, nullptr), 4);
    EXPECT_EQ(std::u16string(fits), u"ab\U0001F600");

    // The default obeys the same bound.
    char16_t tiny[3];
    EXPECT_EQ(store.ReadStringRaw(u"Config", u"Missing", u"default", tiny, 3, nullptr), 2);
    EXPECT_EQ(std::u16string(tiny), u"de");
    char16_t untouched[2] = {u'#', u'#'};
    EXPECT_EQ(store.ReadStringRaw(u"Config", u"Long", u"d", untouched, 0, nullptr), 0);
    EXPECT_EQ(untouched[0], u'#');
}

TEST(RegProfileTest, LocationArgumentRebindsFirst) {
    TempRegistry temp;
    CKemRegProfile store(temp.registry());
    ASSERT_EQ(store.SetLocation(u"HKCU\\Software\\A", 0), 1);
    EXPECT_EQ(store.WriteStringRaw(u"S", u"k", u"b", u"HKCU\\Software\\B"), 1);
    EXPECT_EQ(std::u16string(store.key_path()), u"Software\\B");
    EXPECT_TRUE(temp.KeyExists(u"Software\\B\\S"));
    EXPECT_FALSE(temp.KeyExists(u"Software\\A\\S"));

    char16_t buffer[8];
    EXPECT_EQ(store.ReadStringRaw(u"S", u"k", u"dflt", buffer, 8, u"C:\\file.pvto"), 0);
    EXPECT_EQ(std::u16string(buffer), u"dflt");
    EXPECT_EQ(std::u16string(store.key_path()), u"Software\\B");
    EXPECT_EQ(store.WriteStringRaw(u"S", u"k", u"v", u"./file.pvto"), 0);
    EXPECT_EQ(store.SectionExists(u"S", nullptr, u"HKCU\\Software\\B"), 1);
    EXPECT_EQ(store.SectionExists(u"S", nullptr, u"HKCU\\Software\\A"), 0);
    EXPECT_EQ(store.ReadDword(u"S", u"k", 3, u"not a path"), 3u);
}

TEST(RegProfileTest, DwordIsNativeAndBytesAreBinary) {
    TempRegistry temp;
    CKemRegProfile store(temp.registry());
    ASSERT_EQ(store.SetLocation(u"HKCU\\Software\\A", 0), 1);
    EXPECT_EQ(store.WriteDword(u"N", u"Baud", 921600, nullptr), 1);
    EXPECT_EQ(temp.TypeOf(u"Software\\A\\N", u"Baud"), RegType::kDword);
    EXPECT_EQ(store.ReadDword(u"N", u"Baud", 1, nullptr), 921600u);
    EXPECT_EQ(store.ReadDword(u"N", u"Missing", 1, nullptr), 1u);
    // The base codecs still write text, so a UINT setting stays readable as text.
    EXPECT_EQ(store.WriteUInt(u"N", u"Text", 42, nullptr), 1);
    EXPECT_EQ(temp.TypeOf(u"Software\\A\\N", u"Text"), RegType::kSz);
    EXPECT_EQ(store.ReadUInt(u"N", u"Text", 0, nullptr), 42u);
    EXPECT_EQ(store.WriteBool(u"N", u"Flag", 2, nullptr), 1);
    EXPECT_EQ(store.GetString(u"N", u"Flag", nullptr, nullptr), u"true");

    const uint8_t bytes[] = {1, 2, 0, 0xFF};
    EXPECT_EQ(store.WriteRawBytes(u"N", u"Blob", bytes, 4, nullptr), 1);
    EXPECT_EQ(temp.TypeOf(u"Software\\A\\N", u"Blob"), RegType::kBinary);
    EXPECT_EQ(store.WriteRawBytes(u"N", u"Bad", nullptr, 2, nullptr), 0);
    EXPECT_EQ(store.WriteRawBytes(u"N", u"Bad", bytes, -1, nullptr), 0);

    uint8_t out[8] = {};
    int32_t length = sizeof out;
    EXPECT_EQ(store.ReadRawBytes(u"N", u"Blob", out, &length, nullptr), 0);
    EXPECT_EQ(length, 4);
    EXPECT_EQ(std::memcmp(out, bytes, 4), 0);
    length = 2;
    EXPECT_EQ(store.ReadRawBytes(u"N", u"Blob", out, &length, nullptr), 234);
    EXPECT_EQ(length, 4);
    length = 0;
    EXPECT_EQ(store.ReadRawBytes(u"N", u"Blob", nullptr, &length, nullptr), 0);
    EXPECT_EQ(length, 4);
    length = 8;
    EXPECT_EQ(store.ReadRawBytes(u"N", u"Baud", out, &length, nullptr), 87);  // not binary
    EXPECT_EQ(store.ReadRawBytes(u"N", u"Missing", out, &length, nullptr), 2);
    EXPECT_EQ(store.ReadRawBytes(u"N", u"Blob", out, nullptr, nullptr), 87);
    std::memset(out, 0x5A, sizeof out);
    length = 6;
    EXPECT_EQ(store.ReadRawBytes(u"N", u"Blob", out, &length, u"Z:\\x"), 87);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(out[5], 0);
    EXPECT_EQ(out[6], 0x5A);  // only the given length is zero-filled
}

TEST(RegProfileTest, DeleteValueSectionAndAll) {
    TempRegistry temp;
    CKemRegProfile store(temp.registry());
    ASSERT_EQ(store.SetLocation(u"HKCU\\Software\\A\\B", 0), 1);
    ASSERT_EQ(store.WriteStringRaw(u"S1\\Deep", u"k", u"v", nullptr), 1);
    ASSERT_EQ(store.WriteStringRaw(u"S1", u"k", u"v", nullptr), 1);
    ASSERT_EQ(store.WriteStringRaw(u"S2", u"k", u"v", nullptr), 1);

    EXPECT_EQ(store.DeleteValue(u"S1", u"K", nullptr), 1);
    EXPECT_EQ(store.DeleteValue(u"S1", u"K", nullptr), 1);  // already gone: still success
    EXPECT_EQ(store.DeleteValue(u"Missing", u"k", nullptr), 0);
    EXPECT_EQ(store.GetString(u"S1", u"k", u"gone", nullptr), u"gone");

    EXPECT_EQ(store.DeleteSection(u"s1", nullptr), 1);
    EXPECT_FALSE(temp.KeyExists(u"Software\\A\\B\\S1\\Deep"));
    EXPECT_FALSE(temp.KeyExists(u"Software\\A\\B\\S1"));
    EXPECT_TRUE(temp.KeyExists(u"Software\\A\\B\\S2"));
    EXPECT_EQ(store.DeleteSection(u"S1", nullptr), 0);  // does not exist
    EXPECT_EQ(store.DeleteSection(u"", nullptr), 0);
    EXPECT_EQ(store.DeleteSection(nullptr, nullptr), 0);

    EXPECT_EQ(store.DeleteAll(nullptr), 1);
    EXPECT_FALSE(temp.KeyExists(u"Software\\A\\B"));
    EXPECT_TRUE(temp.KeyExists(u"Software\\A"));
    EXPECT_EQ(store.DeleteAll(nullptr), 0);  // nothing left to delete

    // The last component is taken whole, dots included.
    ASSERT_EQ(store.WriteStringRaw(u"S", u"k", u"v", u"HKCU\\Software\\A\\B.C"), 1);
    ASSERT_EQ(store.WriteStringRaw(u"S", u"k", u"v", u"HKCU\\Software\\A\\B"), 1);
    EXPECT_EQ(store.DeleteAll(u"HKCU\\Software\\A\\B.C"), 1);
    EXPECT_FALSE(temp.KeyExists(u"Software\\A\\B.C"));
    EXPECT_TRUE(temp.KeyExists(u"Software\\A\\B\\S"));

    // A key path without a separator is deleted from the root; an empty one is refused.
    ASSERT_EQ(store.WriteStringRaw(nullptr, u"k", u"v", u"HKCU\\Top"), 1);
    EXPECT_EQ(store.DeleteAll(nullptr), 1);
    EXPECT_FALSE(temp.KeyExists(u"Top"));
    EXPECT_EQ(store.DeleteAll(u"HKCU"), 0);
    EXPECT_TRUE(temp.KeyExists(u"Software\\A\\B"));
}

TEST(RegProfileTest, EnumeratesSectionsAndKeys) {
    TempRegistry temp;
    CKemRegProfile store(temp.registry());
    ASSERT_EQ(store.SetLocation(u"HKCU\\Software\\E", 0), 1);
    for (const char16_t* section : {u"Config_System", u"Config", u"Config_CustomEntries"}) {
        ASSERT_EQ(store.WriteStringRaw(section, u"k", u"v", nullptr), 1);
    }
    for (const char16_t* key : {u"Zeta", u"alpha", u"Mid"}) {
        ASSERT_EQ(store.WriteStringRaw(u"Config", key, u"v", nullptr), 1);
    }
    std::vector<std::u16string> names = {u"stale"};
    EXPECT_EQ(store.EnumSections(&names, nullptr), 3);
    EXPECT_EQ(names,
              (std::vector<std::u16string>{u"Config", u"Config_CustomEntries", u"Config_System"}));
    EXPECT_EQ(store.EnumSections(nullptr, nullptr), 3);
    EXPECT_EQ(store.EnumKeys(u"config", &names, nullptr), 4);
    EXPECT_EQ(names, (std::vector<std::u16string>{u"k", u"Zeta", u"alpha", u"Mid"}));
    EXPECT_EQ(store.EnumKeys(u"Missing", &names, nullptr), 0);
    EXPECT_TRUE(names.empty());

    // A value name longer than the 260-unit name buffer ends the listing there.
    const std::u16string long_name(300, u'n');
    ASSERT_EQ(store.WriteStringRaw(u"Config", long_name.c_str(), u"v", nullptr), 1);
    ASSERT_EQ(store.WriteStringRaw(u"Config", u"After", u"v", nullptr), 1);
    EXPECT_EQ(store.EnumKeys(u"Config", &names, nullptr), 4);
    EXPECT_EQ(store.SectionExists(u"Config", nullptr, nullptr), 1);
    EXPECT_EQ(store.SectionExists(u"Nope", nullptr, nullptr), 0);
}

TEST(RegProfileTest, SettingsRecordRoundTripsThroughThreeSubKeys) {
    TempRegistry temp;
    tagAppConfig saved = DefaultAppConfig();
    saved.System.AutoSave = 0;
    kem::settings::CopyTextBounded(saved.ComPortName, 256, u"/dev/pts/9");
    kem::settings::CopyTextBounded(saved.CustomEntries.EntriesData[17], 512, u"最后一条 [CR]");
    saved.AutoClearSize = 4096;
    {
        CKemRegProfile store(temp.registry());
        ASSERT_EQ(store.SetLocation(u"HKCU\\Software\\Quorbel\\KemPemvilo\\test", 0), 1);
        EXPECT_EQ(store.SaveStruct(kAppConfigSection, &saved, kAppConfigSchema, nullptr, u"|", u",",
                                   u"{", u"}"),
                  kAppConfigBytes);
    }
    const std::u16string key = u"Software\\Quorbel\\KemPemvilo\\test";
    EXPECT_EQ(temp.TypeOf(key + u"\\Config", u"ComPortName"), RegType::kSz);
    EXPECT_EQ(temp.TypeOf(key + u"\\Config_System", u"AutoSave"), RegType::kSz);
    EXPECT_EQ(temp.TypeOf(key + u"\\Config_CustomEntries", u"EntriesData17"), RegType::kSz);

    auto loaded = std::make_unique<tagAppConfig>(DefaultAppConfig());
    CKemRegProfile store(temp.registry());
    ASSERT_EQ(store.SetLocation(u"HKCU\\Software\\Quorbel\\KemPemvilo\\test", 0), 1);
    EXPECT_EQ(store.LoadStruct(kAppConfigSection, loaded.get(), kAppConfigSchema, nullptr, u"|",
                               u",", u"{", u"}"),
              kAppConfigBytes);
    EXPECT_EQ(std::memcmp(loaded.get(), &saved, sizeof saved), 0);
}

TEST(RegProfileTest, LoadingKeepsFieldsWhoseValuesAreMalformed) {
    TempRegistry temp;
    const std::u16string key = u"Software\\Quorbel\\KemPemvilo\\test\\Config";
    temp.PutRaw(key, u"ComPortName", RegType::kDword, {3, 0, 0, 0});
    temp.PutRaw(key, u"ComPortParam", RegType::kSz, Utf16Bytes(u"115200,E,7,2", false));
    temp.PutRaw(key, u"NetPortParam", RegType::kSz, Utf16Bytes(u"10.0.0.1:23", true));
    temp.PutRaw(key, u"AutoClearSize", RegType::kBinary, {1, 2, 3, 4});

    auto record = std::make_unique<tagAppConfig>(DefaultAppConfig());
    kem::settings::CopyTextBounded(record->ComPortName, 256, u"COM1");
    kem::settings::CopyTextBounded(record->ComPortParam, 256, u"9600,N,8,1");
    record->AutoClearSize = 128;
    CKemRegProfile store(temp.registry());
    ASSERT_EQ(store.SetLocation(u"HKCU\\Software\\Quorbel\\KemPemvilo\\test", 0), 1);
    EXPECT_EQ(store.LoadStruct(kAppConfigSection, record.get(), kAppConfigSchema, nullptr, u"|",
                               u",", u"{", u"}"),
              kAppConfigBytes);
    EXPECT_EQ(std::u16string(record->ComPortName), u"COM1");
    EXPECT_EQ(std::u16string(record->ComPortParam), u"9600,N,8,1");
    EXPECT_EQ(std::u16string(record->NetPortParam), u"10.0.0.1:23");
    EXPECT_EQ(record->AutoClearSize, 128);
}

TEST(RegProfileTest, DamagedUserRegistryGivesDefaultsAndIsLeftAlone) {
    TempRegistry temp;
    const std::string path = temp.folder() + "/damaged.sqlite3";
    {
        std::ofstream out(path, std::ios::binary);
        out << "SQLite format 3" << std::string(200, '\x7f');
    }
    const std::vector<char> before = FileBytes(path);
    setenv("KEMPEMVILO_REGISTRY", path.c_str(), 1);

    ::testing::internal::CaptureStderr();
    CKemRegProfile store;  // the user's registry
    const int32_t bound = store.SetLocation(u"HKCU\\Software\\Quorbel\\KemPemvilo\\test", 0);
    auto record = std::make_unique<tagAppConfig>(DefaultAppConfig());
    const int32_t loaded = store.LoadStruct(kAppConfigSection, record.get(), kAppConfigSchema,
                                            nullptr, u"|", u",", u"{", u"}");
    const int32_t written = store.WriteStringRaw(u"Config", u"ComPortName", u"COM2", nullptr);
    const std::string printed = ::testing::internal::GetCapturedStderr();
    unsetenv("KEMPEMVILO_REGISTRY");

    EXPECT_EQ(bound, 1);

    EXPECT_EQ(loaded, kAppConfigBytes);  // every value fell back to the field's default
    EXPECT_EQ(std::memcmp(record.get(), &DefaultAppConfig(), sizeof(tagAppConfig)), 0);
    EXPECT_EQ(written, 0);
    EXPECT_NE(printed.find(path), std::string::npos) << printed;
    EXPECT_NE(printed.find("damaged"), std::string::npos) << printed;
    EXPECT_EQ(FileBytes(path), before);
}
