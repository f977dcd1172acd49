// Keys and values of the embedded registry: persistence, names without regard to case,
// enumeration order, deletion, Win32-style query sizes, and several writers at once.
#include "platform/registry.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/registry_names.h"
#include "platform/registry_test_support.h"

using namespace kem::platform;
using namespace kem::testing;
using Names16 = std::vector<std::u16string>;

namespace {

// Writes `count` values, each named by `tag` and a character of its own, into keys P\K0..P\K3
// over a connection of its own.
bool WriteTagged(const std::string& path, char16_t tag, int count) {
    std::shared_ptr<Registry> registry;
    bool ok = Registry::OpenAt(path, {}, &registry) == RegStatus::kOk;
    for (int i = 0; i < count && ok; ++i) {
        RegKey key;
        ok = RegKey::Create(registry, RegRoot::kCurrentUser,
                            std::u16string{u'P', u'\\', u'K', char16_t(u'0' + i % 4)},
                            &key) == RegStatus::kOk &&
             key.SetString(std::u16string{tag, char16_t(0x4E00 + i)}, u"value") == RegStatus::kOk;
    }
    return ok;
}

class RegistryTest : public ::testing::Test {
protected:
    TempFolder folder_;
    const std::string path_ = folder_.File("r.sqlite3");
};

}  // namespace

TEST_F(RegistryTest, ValuesSurviveReopenInTheirRootOnly) {
    const std::string path = folder_.File("sub/dir/registry.sqlite3");  // folders made too
    {
        RegKey key;
        bool created = false;
        ASSERT_EQ(RegKey::Create(OpenRegistry(path), RegRoot::kCurrentUser, u"Software\\Q\\Config",
                                 &key, &created),
                  RegStatus::kOk);
        EXPECT_TRUE(created);
        const uint8_t blob[] = {0, 1, 2, 0xFE, 0xFF};
        EXPECT_EQ(key.SetString(u"ComPortName", u"/dev/ttyUSB0"), RegStatus::kOk);
        EXPECT_EQ(key.SetDword(u"Baud", 115200), RegStatus::kOk);
        EXPECT_EQ(key.SetValue(u"Blob", RegType::kBinary, blob, sizeof blob), RegStatus::kOk);
        EXPECT_EQ(key.SetValue(u"Empty", RegType::kBinary, nullptr, 0), RegStatus::kOk);
        EXPECT_EQ(key.SetString(u"", u"default value"), RegStatus::kOk);
    }
    auto registry = OpenRegistry(path);
    const RegKey key = OpenKey(registry, RegRoot::kCurrentUser, u"Software\\Q\\Config");
    EXPECT_EQ(QueryText(key, u"ComPortName"), u"/dev/ttyUSB0");
    EXPECT_EQ(QueryText(key, u""), u"default value");
    EXPECT_EQ(QueryRaw(key, u"Baud"), (RawValue{RegType::kDword, {0x00, 0xC2, 0x01, 0x00}}));
    EXPECT_EQ(QueryRaw(key, u"Blob"), (RawValue{RegType::kBinary, {0, 1, 2, 0xFE, 0xFF}}));
    EXPECT_EQ(QueryRaw(key, u"Empty"), (RawValue{RegType::kBinary, {}}));
    RegKey other;
    EXPECT_EQ(RegKey::Open(registry, RegRoot::kUsers, u"Software\\Q", RegAccess::kRead, &other),
              RegStatus::kNotFound);
}

TEST_F(RegistryTest, QueryValueReportsSizesLikeWin32) {
    RegKey key = MakeKey(OpenRegistry(path_), u"K");
    ASSERT_EQ(key.SetString(u"Text", u"abc"), RegStatus::kOk);
    RegType type = RegType::kNone;
    uint32_t size = 0;
    ASSERT_EQ(key.QueryValue(u"Text", &type, nullptr, &size), RegStatus::kOk);
    EXPECT_EQ(type, RegType::kSz);
    EXPECT_EQ(size, 8u);  // three units and the terminator
    char16_t small[2] = {u'x', u'y'};
    size = sizeof small;
    EXPECT_EQ(key.QueryValue(u"Text", &type, small, &size), RegStatus::kMoreData);
    EXPECT_EQ(size, 8u);
    EXPECT_EQ(small[0], u'x');  // nothing copied
    char16_t fits[4] = {};
    size = sizeof fits;
    ASSERT_EQ(key.QueryValue(u"Text", &type, fits, &size), RegStatus::kOk);
    EXPECT_EQ(std::u16string(fits), u"abc");
    EXPECT_EQ(key.QueryValue(u"Missing", &type, nullptr, &size), RegStatus::kNotFound);
    EXPECT_EQ(key.QueryValue(u"Text", &type, fits, nullptr), RegStatus::kInvalid);
    EXPECT_EQ(key.SetValue(u"Short", RegType::kDword, fits, 2), RegStatus::kInvalid);
    EXPECT_EQ(key.SetValue(u"Odd", static_cast<RegType>(7), fits, 2), RegStatus::kInvalid);
}

TEST_F(RegistryTest, NamesCompareWithoutRegardToCaseAndKeepTheirFirstSpelling) {
    auto registry = OpenRegistry(path_);
    RegKey key = MakeKey(registry, u"Software\\串口助手Abc\\Привет");
    for (const auto& name : {u"端口Name", u"ΣΊΣΥΦΟΣ", u"Ärger", u"配置"}) {
        ASSERT_EQ(key.SetString(name, name), RegStatus::kOk);
    }
    RegKey again = MakeKey(registry, u"SOFTWARE\\串口助手aBC\\пРИВЕТ");
    EXPECT_EQ(QueryText(again, u"端口NAME"), u"端口Name");
    EXPECT_EQ(QueryText(again, u"σίσυφος"), u"ΣΊΣΥΦΟΣ");  // final sigma folds with sigma
    EXPECT_EQ(QueryText(again, u"äRGER"), u"Ärger");
    EXPECT_EQ(QueryText(again, u"配置 "), u"");  // no trimming: another name
    ASSERT_EQ(again.SetString(u"端口name", u"second"), RegStatus::kOk);
    EXPECT_EQ(ValueNamesOf(again), (Names16{u"端口Name", u"ΣΊΣΥΦΟΣ", u"Ärger", u"配置"}));
    EXPECT_EQ(QueryText(key, u"端口Name"), u"second");
    EXPECT_EQ(SubKeysOf(MakeKey(registry, u"Software")), Names16{u"串口助手Abc"});
    for (const std::u16string& name :
         {std::u16string(u"\U0001F600 emoji"), std::u16string(1, char16_t(0xD800)) + u"x",
          std::u16string(1, char16_t(0xDC00))}) {
        EXPECT_EQ(DecodeRegistryName(EncodeRegistryName(name)), name);  // lone surrogates too
    }
    EXPECT_EQ(FoldRegistryName(u"\U00010400"), FoldRegistryName(u"\U00010428"));  // Deseret
    EXPECT_NE(FoldRegistryName(u"a"), FoldRegistryName(u"b"));
    EXPECT_EQ(DecodeRegistryName("\xFF"), u"\uFFFD");
}

TEST_F(RegistryTest, EnumerationOrderIsStableAcrossReopens) {
    const Names16 value_order = {u"zeta", u"Alpha", u"mid", u"beta"};
    const Names16 key_order = {u"alpha", u"Bravo", u"Charlie", u"delta"};
    {
        RegKey key = MakeKey(OpenRegistry(path_), u"E");
        for (const auto& name : {u"delta", u"Bravo", u"alpha", u"Charlie"}) {
            RegKey sub;
            ASSERT_EQ(key.CreateSubKey(name, &sub), RegStatus::kOk);
        }
        for (const auto& name : value_order) {
            ASSERT_EQ(key.SetDword(name, 1), RegStatus::kOk);
        }
        ASSERT_EQ(key.SetDword(u"ALPHA", 2), RegStatus::kOk);  // rewrite keeps its place
    }
    const RegKey key = MakeKey(OpenRegistry(path_), u"E");
    EXPECT_EQ(SubKeysOf(key), key_order);
    EXPECT_EQ(ValueNamesOf(key), value_order);
    // Index by index, as RegEnumKeyW / RegEnumValueW are called.
    std::u16string name;
    RegType type = RegType::kNone;
    for (uint32_t i = 0; i < 4; ++i) {
        ASSERT_EQ(key.EnumKey(i, &name), RegStatus::kOk);
        EXPECT_EQ(name, key_order[i]);
        ASSERT_EQ(key.EnumValue(i, &name, &type), RegStatus::kOk);
        EXPECT_EQ(name, value_order[i]);
        EXPECT_EQ(type, RegType::kDword);
    }
    EXPECT_EQ(key.EnumKey(4, &name), RegStatus::kNotFound);
    EXPECT_EQ(key.EnumValue(4, &name), RegStatus::kNotFound);
}

TEST_F(RegistryTest, DeletingAKeyRemovesEverythingBelowItAndStrandsOpenHandles) {
    auto registry = OpenRegistry(path_);
    RegKey top = MakeKey(registry, u"Software\\A");
    RegKey sub, held, gone;
    for (const auto& path : {u"B\\C\\D", u"B\\E", u"F"}) {
        ASSERT_EQ(top.CreateSubKey(path, &sub), RegStatus::kOk);
        ASSERT_EQ(sub.SetString(u"v", u"x"), RegStatus::kOk);
    }
    ASSERT_EQ(top.OpenSubKey(u"B\\C", RegAccess::kAll, &held), RegStatus::kOk);
    EXPECT_EQ(top.DeleteKey(u"B"), RegStatus::kAccessDenied);  // RegDeleteKeyW: has sub-keys
    EXPECT_EQ(top.DeleteKey(u"b\\c\\d"), RegStatus::kOk);      // a leaf goes with its values
    EXPECT_EQ(top.DeleteTree(u"b"), RegStatus::kOk);
    EXPECT_EQ(top.OpenSubKey(u"B", RegAccess::kRead, &gone), RegStatus::kNotFound);
    EXPECT_EQ(top.OpenSubKey(u"B\\E", RegAccess::kRead, &gone), RegStatus::kNotFound);
    Names16 names;
    EXPECT_EQ(held.ValueNames(&names), RegStatus::kNotFound);
    RegKey recreated = MakeKey(registry, u"Software\\A\\B\\C");
    EXPECT_EQ(held.SetString(u"v", u"y"), RegStatus::kNotFound);  // never a newer key
    EXPECT_TRUE(ValueNamesOf(recreated).empty());
    EXPECT_EQ(SubKeysOf(top), (Names16{u"B", u"F"}));
    EXPECT_EQ(top.DeleteTree(u"missing"), RegStatus::kNotFound);
    EXPECT_EQ(top.DeleteTree(u""), RegStatus::kInvalid);
    EXPECT_EQ(top.DeleteValue(u"missing"), RegStatus::kNotFound);
}

TEST_F(RegistryTest, AccessRightsOfAHandleAndNameLimitsAreKept) {
    auto registry = OpenRegistry(path_);
    RegKey sub = MakeKey(registry, u"R");
    RegKey reader = OpenKey(registry, RegRoot::kCurrentUser, u"R");
    RegKey writer = OpenKey(registry, RegRoot::kCurrentUser, u"R", RegAccess::kWrite);
    EXPECT_EQ(reader.SetDword(u"x", 1), RegStatus::kAccessDenied);
    EXPECT_EQ(reader.DeleteValue(u"x"), RegStatus::kAccessDenied);
    EXPECT_EQ(reader.CreateSubKey(u"S", &sub), RegStatus::kAccessDenied);
    EXPECT_EQ(writer.SetDword(u"x", 1), RegStatus::kOk);
    std::vector<uint8_t> data;
    EXPECT_EQ(writer.QueryValue(u"x", nullptr, &data), RegStatus::kAccessDenied);
    EXPECT_EQ(writer.DeleteValue(u"X"), RegStatus::kOk);
    EXPECT_EQ(RegKey().SetDword(u"x", 1), RegStatus::kInvalid);
    for (const size_t length : {kRegMaxKeyName, kRegMaxKeyName + 1}) {
        EXPECT_EQ(
            RegKey::Create(registry, RegRoot::kCurrentUser, std::u16string(length, u'k'), &sub),
            length <= kRegMaxKeyName ? RegStatus::kOk : RegStatus::kInvalid);
    }
}

// A second process and two threads, each with a connection of its own, write at once.
TEST_F(RegistryTest, ProcessesAndThreadsWritingAtOnceLoseNothing) {
    int go[2];
    ASSERT_EQ(pipe(go), 0);
    const pid_t child = fork();  // before any thread of this test exists
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(go[1]);
        char byte;
        (void)!read(go[0], &byte, 1);  // starts when the pipe closes
        _exit(WriteTagged(path_, u'c', 200) ? 0 : 1);
    }
    close(go[0]);
    bool ok_a = false;
    bool ok_b = false;
    std::thread a([&] { ok_a = WriteTagged(path_, u'a', 200); });
    std::thread b([&] { ok_b = WriteTagged(path_, u'b', 200); });
    close(go[1]);
    a.join();
    b.join();
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(ok_a && ok_b);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    auto registry = OpenRegistry(path_);
    size_t total = 0;
    for (int k = 0; k < 4; ++k) {
        const RegKey key = MakeKey(registry, std::u16string{u'P', u'\\', u'K', char16_t(u'0' + k)});
        for (const auto& name : ValueNamesOf(key)) {
            total += QueryText(key, name) == u"value" ? 1 : 0;
        }
    }
    EXPECT_EQ(total, 600u);
}
