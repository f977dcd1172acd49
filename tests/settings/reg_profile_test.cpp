// The registry store: key path parsing, section keys, each primitive against a temporary
// registry database, malformed values, and a damaged database.
#include "settings/reg_profile.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/code_page.h"
#include "settings/app_config.h"
#include "support/scratch_files.h"

using kem::platform::RegAccess;
using kem::platform::Registry;
using kem::platform::RegKey;
using kem::platform::RegRoot;
using kem::platform::RegStatus;
using kem::platform::RegType;
using kem::settings::KeyPathKind;
using kem::settings::ParseRootKey;
using kem::settings::SectionKeyPath;
using Names = std::vector<std::u16string>;

namespace {

std::string Utf8(const char16_t* text) {
    return text == nullptr ? "null" : kem::platform::WideToUtf8(text);
}

std::vector<uint8_t> Utf16Bytes(std::u16string_view text, bool terminator) {
    std::vector<uint8_t> bytes;
    for (char16_t unit : text) {
        bytes.push_back(static_cast<uint8_t>(unit & 0xFF));
        bytes.push_back(static_cast<uint8_t>(unit >> 8));
    }
    if (terminator) {
        bytes.insert(bytes.end(), {0, 0});
    }
    return bytes;
}

// A store bound to HKCU\Software\A of a registry database in a temporary folder.
class RegProfileTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(store_.SetLocation(u"HKCU\\Software\\A", 0), 1); }

    std::shared_ptr<Registry> Connect() const {
        std::shared_ptr<Registry> registry;
        EXPECT_EQ(Registry::OpenAt(folder_ / "registry.sqlite3", {}, &registry), RegStatus::kOk);
        return registry;
    }

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

    kem::testing::TempFolder folder_;
    std::shared_ptr<Registry> registry_ = Connect();
    CKemRegProfile store_{registry_};
};

TEST(ParseRootKeyTest, RecognisesRootNamesAndFilePathsAndCutsTheSubKey) {
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
        {u"HKCU\\abcdefghijklmnopqrstuvwxyz0123456789", KeyPathKind::kRegistry,
         RegRoot::kCurrentUser, u"abcdefghijklmnopqrstuvwxyz01234"},
        // A pair that the last unit would split is left out whole.
        {u"HKCU\\abcdefghijklmnopqrstuvwxyz0123\U0001F600", KeyPathKind::kRegistry,
         RegRoot::kCurrentUser, u"abcdefghijklmnopqrstuvwxyz0123"},
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
        SCOPED_TRACE(Utf8(row.path));
        RegRoot root = RegRoot::kUsers;
        char16_t sub_key[33] = u"keep";
        sub_key[32] = u'#';
        EXPECT_EQ(ParseRootKey(row.path, &root, sub_key, 32), row.kind);
        EXPECT_EQ(root, row.root);
        EXPECT_EQ(std::u16string(sub_key), row.sub_key);
        EXPECT_EQ(sub_key[32], u'#');
    }
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
        EXPECT_EQ(SectionKeyPath(row.key_path, row.section), row.joined) << Utf8(row.section);
    }
}

TEST_F(RegProfileTest, SetLocationAcceptsRegistryPathsOnly) {
    CKemRegProfile store(registry_);
    EXPECT_FALSE(store.root_key().has_value());
    EXPECT_EQ(store.SetLocation(u"HKCU\\Software\\Quorbel", 0), 1);
    for (const char16_t* bad :
         {u"C:\\a.pvto", u"./a.pvto", u"Software", u"", static_cast<const char16_t*>(nullptr)}) {
        EXPECT_EQ(store.SetLocation(bad, 0), 0) << Utf8(bad);
        EXPECT_EQ(store.root_key(), RegRoot::kCurrentUser) << "the previous binding is kept";
        EXPECT_EQ(std::u16string(store.key_path()), u"Software\\Quorbel");
    }
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
    EXPECT_EQ(store.GetString(u"S", u"k", u"dflt", nullptr), u"dflt");
    EXPECT_EQ(store.WriteStringRaw(u"S", u"k", u"v", nullptr), 0);
}

TEST_F(RegProfileTest, TextValuesRoundTripAsRegSzAndAreCutToTheBuffer) {
    const std::u16string long_text(300, u'x');
    EXPECT_EQ(store_.WriteStringRaw(u"Config", u"ComPortName", u"串口 COM3", nullptr), 1);
    EXPECT_EQ(store_.WriteStringRaw(u"Config", u"Empty", nullptr, nullptr), 1);
    EXPECT_EQ(store_.WriteStringRaw(u"Config\\Deep\\Er", u"x", u"1", nullptr), 1);
    EXPECT_EQ(store_.WriteStringRaw(u".pvto", nullptr, u"Default", nullptr), 1);
    EXPECT_EQ(store_.WriteStringRaw(u"Config", u"Long", long_text.c_str(), nullptr), 1);
    EXPECT_EQ(store_.IsModified(), 0) << "writes land at once; nothing to save";
    EXPECT_EQ(TypeOf(u"Software\\A\\Config", u"ComPortName"), RegType::kSz);
    // A new store on a new connection reads what the first wrote.
    CKemRegProfile store(Connect());
    ASSERT_EQ(store.SetLocation(u"hkcu\\software\\a", 0), 1);
    EXPECT_EQ(store.GetString(u"CONFIG", u"comportname", u"d", nullptr), u"串口 COM3");
    EXPECT_EQ(store.GetString(u"Config", u"Empty", u"d", nullptr), u"");
    EXPECT_EQ(store.GetString(u".pvto", nullptr, u"d", nullptr), u"Default");
    EXPECT_EQ(store.GetString(u"Config\\Deep\\Er", u"x", nullptr, nullptr), u"1");
    EXPECT_EQ(store.GetString(u"Config", u"Missing", u"dflt", nullptr), u"dflt");
    EXPECT_EQ(store.GetString(u"Nowhere", u"x", nullptr, nullptr), u"");
    std::vector<char16_t> buffer(258, u'#');
    EXPECT_EQ(store.ReadStringRaw(u"Config", u"Long", u"d", buffer.data(), 256, nullptr), 255);
    EXPECT_EQ(std::u16string(buffer.data()), long_text.substr(0, 255));
    EXPECT_EQ(buffer[256], u'#') << "nothing written past the capacity";
    buffer[0] = u'#';
    EXPECT_EQ(store.ReadStringRaw(u"Config", u"Long", u"d", buffer.data(), 0, nullptr), 0);
    EXPECT_EQ(buffer[0], u'#');
    EXPECT_EQ(store.ReadStringRaw(u"Config", u"Long", u"d", nullptr, 64, nullptr), 0);
}

TEST_F(RegProfileTest, MalformedOrForeignValuesLeaveTheDefault) {
    const std::u16string key = u"Software\\A\\Config";
    PutRaw(key, u"Dword", RegType::kDword, {5, 0, 0, 0});
    PutRaw(key, u"NoTerminator", RegType::kSz, Utf16Bytes(u"COM7", false));
    PutRaw(key, u"OddLength", RegType::kSz, {'A', 0, 'B', 0, 0});
    PutRaw(key, u"ZeroBytes", RegType::kSz, {});
    PutRaw(key, u"Binary", RegType::kBinary, Utf16Bytes(u"COM8", true));
    PutRaw(key, u"Inner", RegType::kSz, Utf16Bytes(std::u16string(u"ab\0cd", 5), true));
    for (const char16_t* name :
         {u"Dword", u"NoTerminator", u"OddLength", u"ZeroBytes", u"Binary"}) {
        char16_t buffer[32] = u"unchanged";
        EXPECT_EQ(store_.ReadStringRaw(u"Config", name, u"field", buffer, 32, nullptr), 5)
            << Utf8(name);
        EXPECT_EQ(std::u16string(buffer), u"field");
    }
    EXPECT_EQ(store_.GetString(u"Config", u"Inner", u"d", nullptr), u"ab") << "ends at a zero";
    // A native number is not text, and text is not a native number.
    EXPECT_EQ(store_.GetString(u"Config", u"Dword", u"7", nullptr), u"7");
    store_.WriteStringRaw(u"Config", u"Text", u"5", nullptr);
    EXPECT_EQ(store_.ReadDword(u"Config", u"Text", 9, nullptr), 9u);
}

TEST_F(RegProfileTest, LocationArgumentRebindsFirst) {
    EXPECT_EQ(store_.WriteStringRaw(u"S", u"k", u"b", u"HKCU\\Software\\B"), 1);
    EXPECT_EQ(std::u16string(store_.key_path()), u"Software\\B");
    EXPECT_TRUE(KeyExists(u"Software\\B\\S"));
    EXPECT_FALSE(KeyExists(u"Software\\A\\S"));
    char16_t buffer[8];
    EXPECT_EQ(store_.ReadStringRaw(u"S", u"k", u"dflt", buffer, 8, u"C:\\file.pvto"), 0);
    EXPECT_EQ(std::u16string(buffer), u"dflt");
    EXPECT_EQ(std::u16string(store_.key_path()), u"Software\\B");
    EXPECT_EQ(store_.WriteStringRaw(u"S", u"k", u"v", u"./file.pvto"), 0);
    EXPECT_EQ(store_.SectionExists(u"S", nullptr, u"HKCU\\Software\\B"), 1);
    EXPECT_EQ(store_.SectionExists(u"S", nullptr, u"HKCU\\Software\\A"), 0);
    EXPECT_EQ(store_.ReadDword(u"S", u"k", 3, u"not a path"), 3u);
}

TEST_F(RegProfileTest, DwordIsNativeAndBytesAreBinary) {
    EXPECT_EQ(store_.WriteDword(u"N", u"Baud", 921600, nullptr), 1);
    EXPECT_EQ(TypeOf(u"Software\\A\\N", u"Baud"), RegType::kDword);
    EXPECT_EQ(store_.ReadDword(u"N", u"Baud", 1, nullptr), 921600u);
    EXPECT_EQ(store_.ReadDword(u"N", u"Missing", 1, nullptr), 1u);
    // The base codecs still write text, so a UINT setting stays readable as text.
    EXPECT_EQ(store_.WriteUInt(u"N", u"Text", 42, nullptr), 1);
    EXPECT_EQ(TypeOf(u"Software\\A\\N", u"Text"), RegType::kSz);
    EXPECT_EQ(store_.ReadUInt(u"N", u"Text", 0, nullptr), 42u);

    const uint8_t bytes[] = {1, 2, 0, 0xFF};
    EXPECT_EQ(store_.WriteRawBytes(u"N", u"Blob", bytes, 4, nullptr), 1);
    EXPECT_EQ(TypeOf(u"Software\\A\\N", u"Blob"), RegType::kBinary);
    EXPECT_EQ(store_.WriteRawBytes(u"N", u"Bad", nullptr, 2, nullptr), 0);
    EXPECT_EQ(store_.WriteRawBytes(u"N", u"Bad", bytes, -1, nullptr), 0);
    uint8_t out[8] = {};
    int32_t length = sizeof out;
    EXPECT_EQ(store_.ReadRawBytes(u"N", u"Blob", out, &length, nullptr), 0);
    EXPECT_EQ(length, 4);
    EXPECT_EQ(std::memcmp(out, bytes, 4), 0);
    length = 2;  // too small: ERROR_MORE_DATA and the needed length
    EXPECT_EQ(store_.ReadRawBytes(u"N", u"Blob", out, &length, nullptr), 234);
    EXPECT_EQ(length, 4);
    length = 0;
    EXPECT_EQ(store_.ReadRawBytes(u"N", u"Blob", nullptr, &length, nullptr), 0);
    EXPECT_EQ(length, 4);
    length = 8;
    EXPECT_EQ(store_.ReadRawBytes(u"N", u"Baud", out, &length, nullptr), 87) << "not binary";
    EXPECT_EQ(store_.ReadRawBytes(u"N", u"Missing", out, &length, nullptr), 2);
    EXPECT_EQ(store_.ReadRawBytes(u"N", u"Blob", out, nullptr, nullptr), 87);
    std::memset(out, 0x5A, sizeof out);
    length = 6;
    EXPECT_EQ(store_.ReadRawBytes(u"N", u"Blob", out, &length, u"Z:\\x"), 87);
    EXPECT_EQ(out[0] + out[5], 0);
    EXPECT_EQ(out[6], 0x5A) << "only the given length is zero-filled";
}

TEST_F(RegProfileTest, DeleteValueSectionAndAll) {
    ASSERT_EQ(store_.SetLocation(u"HKCU\\Software\\A\\B", 0), 1);
    for (const char16_t* section : {u"S1\\Deep", u"S1", u"S2"}) {
        ASSERT_EQ(store_.WriteStringRaw(section, u"k", u"v", nullptr), 1);
    }
    EXPECT_EQ(store_.DeleteValue(u"S1", u"K", nullptr), 1);
    EXPECT_EQ(store_.DeleteValue(u"S1", u"K", nullptr), 1) << "already gone: still success";
    EXPECT_EQ(store_.DeleteValue(u"Missing", u"k", nullptr), 0);
    EXPECT_EQ(store_.GetString(u"S1", u"k", u"gone", nullptr), u"gone");

    EXPECT_EQ(store_.DeleteSection(u"s1", nullptr), 1);
    EXPECT_FALSE(KeyExists(u"Software\\A\\B\\S1"));
    EXPECT_TRUE(KeyExists(u"Software\\A\\B\\S2"));
    EXPECT_EQ(store_.DeleteSection(u"S1", nullptr), 0) << "does not exist";
    EXPECT_EQ(store_.DeleteSection(u"", nullptr), 0);
    EXPECT_EQ(store_.DeleteSection(nullptr, nullptr), 0);

    EXPECT_EQ(store_.DeleteAll(nullptr), 1);
    EXPECT_FALSE(KeyExists(u"Software\\A\\B"));
    EXPECT_TRUE(KeyExists(u"Software\\A"));
    EXPECT_EQ(store_.DeleteAll(nullptr), 0) << "nothing left to delete";

    // The last component is taken whole, dots included.
    ASSERT_EQ(store_.WriteStringRaw(u"S", u"k", u"v", u"HKCU\\Software\\A\\B.C"), 1);
    ASSERT_EQ(store_.WriteStringRaw(u"S", u"k", u"v", u"HKCU\\Software\\A\\B"), 1);
    EXPECT_EQ(store_.DeleteAll(u"HKCU\\Software\\A\\B.C"), 1);
    EXPECT_FALSE(KeyExists(u"Software\\A\\B.C"));
    EXPECT_TRUE(KeyExists(u"Software\\A\\B\\S"));
    // A key path without a separator is deleted from the root; an empty one is refused.
    ASSERT_EQ(store_.WriteStringRaw(nullptr, u"k", u"v", u"HKCU\\Top"), 1);
    EXPECT_EQ(store_.DeleteAll(nullptr), 1);
    EXPECT_FALSE(KeyExists(u"Top"));
    EXPECT_EQ(store_.DeleteAll(u"HKCU"), 0);
    EXPECT_TRUE(KeyExists(u"Software\\A\\B"));
}

TEST_F(RegProfileTest, EnumeratesSectionsAndKeys) {
    for (const char16_t* section : {u"Config_System", u"Config", u"Config_CustomEntries"}) {
        ASSERT_EQ(store_.WriteStringRaw(section, u"k", u"v", nullptr), 1);
    }
    for (const char16_t* key : {u"Zeta", u"alpha", u"Mid"}) {
        ASSERT_EQ(store_.WriteStringRaw(u"Config", key, u"v", nullptr), 1);
    }
    Names names = {u"stale"};
    EXPECT_EQ(store_.EnumSections(&names, nullptr), 3);
    EXPECT_EQ(names, (Names{u"Config", u"Config_CustomEntries", u"Config_System"}));
    EXPECT_EQ(store_.EnumSections(nullptr, nullptr), 3);
    EXPECT_EQ(store_.EnumKeys(u"config", &names, nullptr), 4);
    EXPECT_EQ(names, (Names{u"k", u"Zeta", u"alpha", u"Mid"}));
    EXPECT_EQ(store_.EnumKeys(u"Missing", &names, nullptr), 0);
    EXPECT_TRUE(names.empty());
    // A value name longer than the 260-unit name buffer ends the listing there.
    ASSERT_EQ(store_.WriteStringRaw(u"Config", std::u16string(300, u'n').c_str(), u"v", nullptr),
              1);
    ASSERT_EQ(store_.WriteStringRaw(u"Config", u"After", u"v", nullptr), 1);
    EXPECT_EQ(store_.EnumKeys(u"Config", &names, nullptr), 4);
    EXPECT_EQ(store_.SectionExists(u"Config", nullptr, nullptr), 1);
    EXPECT_EQ(store_.SectionExists(u"Nope", nullptr, nullptr), 0);
}

TEST_F(RegProfileTest, LoadingKeepsFieldsWhoseValuesAreMalformed) {
    const std::u16string key = u"Software\\A\\Config";
    PutRaw(key, u"ComPortName", RegType::kDword, {3, 0, 0, 0});
    PutRaw(key, u"ComPortParam", RegType::kSz, Utf16Bytes(u"115200,E,7,2", false));
    PutRaw(key, u"NetPortParam", RegType::kSz, Utf16Bytes(u"10.0.0.1:23", true));
    PutRaw(key, u"AutoClearSize", RegType::kBinary, {1, 2, 3, 4});
    auto record = std::make_unique<tagAppConfig>(DefaultAppConfig());
    EXPECT_EQ(store_.LoadStruct(kAppConfigSection, record.get(), kAppConfigSchema, nullptr, u"|",
                                u",", u"{", u"}"),
              kAppConfigBytes);
    auto expected = std::make_unique<tagAppConfig>(DefaultAppConfig());
    kem::settings::CopyTextBounded(expected->NetPortParam, 256, u"10.0.0.1:23");
    EXPECT_EQ(std::memcmp(record.get(), expected.get(), sizeof(tagAppConfig)), 0);
}

TEST(RegProfileDamagedTest, DamagedUserRegistryGivesDefaultsAndIsLeftAlone) {
    kem::testing::TempFolder folder;
    const std::string path = folder / "damaged.sqlite3";
    kem::testing::WriteBytes(path, "SQLite format 3" + std::string(200, '\x7f'));
    const std::string before = kem::testing::ReadBytes(path);
    setenv("KEMPEMVILO_REGISTRY", path.c_str(), 1);
    ::testing::internal::CaptureStderr();
    CKemRegProfile store;  // the user's registry
    const int32_t bound = store.SetLocation(u"HKCU\\Software\\Quorbel\\test", 0);
    auto record = std::make_unique<tagAppConfig>(DefaultAppConfig());
    const int32_t loaded = store.LoadStruct(kAppConfigSection, record.get(), kAppConfigSchema,
                                            nullptr, u"|", u",", u"{", u"}");
    const int32_t written = store.WriteStringRaw(u"Config", u"ComPortName", u"COM2", nullptr);
    const std::string printed = ::testing::internal::GetCapturedStderr();
    unsetenv("KEMPEMVILO_REGISTRY");
    EXPECT_EQ(bound, 1);
    EXPECT_EQ(loaded, kAppConfigBytes) << "every value fell back to the field's default";
    EXPECT_EQ(std::memcmp(record.get(), &DefaultAppConfig(), sizeof(tagAppConfig)), 0);
    EXPECT_EQ(written, 0);
    EXPECT_NE(printed.find(path), std::string::npos) << printed;
    EXPECT_NE(printed.find("damaged"), std::string::npos) << printed;
    EXPECT_EQ(kem::testing::ReadBytes(path), before);
}

}  // namespace
