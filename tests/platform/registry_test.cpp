// Keys and values of the embedded registry: persistence, names without regard to case,
// enumeration order, deletion, Win32-style query sizes, and several writers at once.
#include "platform/registry.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/registry_names.h"
#include "platform/registry_test_support.h"

using namespace kem::platform;
using kem::testing::OpenRegistry;
using kem::testing::QueryText;
using kem::testing::TempFolder;

namespace {

std::u16string Numbered(std::u16string_view prefix, int n) {
    std::u16string name(prefix);
    for (char c : std::to_string(n)) {
        name.push_back(static_cast<char16_t>(c));
    }
    return name;
}

}  // namespace

TEST(RegistryTest, ValuesSurviveReopen) {
    TempFolder folder;
    const std::string path = folder.File("sub/dir/registry.sqlite3");  // folders made too
    {
        auto registry = OpenRegistry(path);
        ASSERT_NE(registry, nullptr);
        RegKey key;
        bool created = false;
        ASSERT_EQ(RegKey::Create(registry, RegRoot::kCurrentUser, u"Software\\Quorbel\\App\\Config",
                                 &key, &created),
                  RegStatus::kOk);
        EXPECT_TRUE(created);
        EXPECT_EQ(key.SetString(u"ComPortName", u"/dev/ttyUSB0"), RegStatus::kOk);
        EXPECT_EQ(key.SetDword(u"Baud", 115200), RegStatus::kOk);
        const uint8_t blob[] = {0, 1, 2, 0xFE, 0xFF};
        EXPECT_EQ(key.SetValue(u"Blob", RegType::kBinary, blob, sizeof blob), RegStatus::kOk);
        EXPECT_EQ(key.SetValue(u"Empty", RegType::kBinary, nullptr, 0), RegStatus::kOk);
        EXPECT_EQ(key.SetString(u"", u"default value"), RegStatus::kOk);
    }
    auto registry = OpenRegistry(path);
    ASSERT_NE(registry, nullptr);
    RegKey key;
    ASSERT_EQ(RegKey::Open(registry, RegRoot::kCurrentUser, u"Software\\Quorbel\\App\\Config",
                           RegAccess::kRead, &key),
              RegStatus::kOk);
    EXPECT_EQ(QueryText(key, u"ComPortName"), u"/dev/ttyUSB0");
    EXPECT_EQ(QueryText(key, u""), u"default value");

    RegType type = RegType::kNone;
    uint32_t dword = 0;
    uint32_t size = sizeof dword;
    ASSERT_EQ(key.QueryValue(u"Baud", &type, &dword, &size), RegStatus::kOk);
    EXPECT_EQ(type, RegType::kDword);
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(dword, 115200u);  // little-endian host

    std::vector<uint8_t> data;
    ASSERT_EQ(key.QueryValue(u"Blob", &type, &data), RegStatus::kOk);
    EXPECT_EQ(type, RegType::kBinary);
    EXPECT_EQ(data, (std::vector<uint8_t>{0, 1, 2, 0xFE, 0xFF}));
    ASSERT_EQ(key.QueryValue(u"Empty", &type, &data), RegStatus::kOk);
    EXPECT_TRUE(data.empty());

    // Other roots are separate trees.
    RegKey other;
    EXPECT_EQ(
        RegKey::Open(registry, RegRoot::kUsers, u"Software\\Quorbel", RegAccess::kRead, &other),
        RegStatus::kNotFound);
}

TEST(RegistryTest, QueryValueReportsSizesLikeWin32) {
    TempFolder folder;
    auto registry = OpenRegistry(folder.File("r.sqlite3"));
    RegKey key;
    ASSERT_EQ(RegKey::Create(registry, RegRoot::kCurrentUser, u"K", &key), RegStatus::kOk);
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

TEST(RegistryTest, NamesCompareWithoutRegardToCase) {
    TempFolder folder;
    auto registry = OpenRegistry(folder.File("r.sqlite3"));
    RegKey key;
    ASSERT_EQ(
        RegKey::Create(registry, RegRoot::kCurrentUser, u"Software\\串口助手Abc\\Привет", &key),
        RegStatus::kOk);
    ASSERT_EQ(key.SetString(u"端口Name", u"first"), RegStatus::kOk);
    ASSERT_EQ(key.SetString(u"ΣΊΣΥΦΟΣ", u"greek"), RegStatus::kOk);
    ASSERT_EQ(key.SetString(u"Ärger", u"latin"), RegStatus::kOk);
    ASSERT_EQ(key.SetString(u"配置", u"chinese"), RegStatus::kOk);

    RegKey again;
    ASSERT_EQ(RegKey::Open(registry, RegRoot::kCurrentUser, u"SOFTWARE\\串口助手aBC\\пРИВЕТ",
                           RegAccess::kAll, &again),
              RegStatus::kOk);
    EXPECT_EQ(QueryText(again, u"端口NAME"), u"first");
    EXPECT_EQ(QueryText(again, u"σίσυφος"), u"greek");  // final sigma folds with sigma
    EXPECT_EQ(QueryText(again, u"äRGER"), u"latin");
    EXPECT_EQ(QueryText(again, u"配置"), u"chinese");
    EXPECT_EQ(QueryText(again, u"配置 "), u"");  // no trimming: another name

    // Writing through another spelling replaces the value and keeps the first spelling.
    ASSERT_EQ(again.SetString(u"端口name", u"second"), RegStatus::kOk);
    std::vector<std::u16string> names;
    ASSERT_EQ(again.ValueNames(&names), RegStatus::kOk);
    EXPECT_EQ(names, (std::vector<std::u16string>{u"端口Name", u"ΣΊΣΥΦΟΣ", u"Ärger", u"配置"}));
    EXPECT_EQ(QueryText(key, u"端口Name"), u"second");

    // Creating the key under another spelling opens the existing one.
    RegKey same;
    bool created = true;
    ASSERT_EQ(RegKey::Create(registry, RegRoot::kCurrentUser, u"software\\串口助手ABC\\привет",
                             &same, &created),
              RegStatus::kOk);
    EXPECT_FALSE(created);
    RegKey parent;
    ASSERT_EQ(RegKey::Open(registry, RegRoot::kCurrentUser, u"Software", RegAccess::kRead, &parent),
              RegStatus::kOk);
    ASSERT_EQ(parent.SubKeyNames(&names), RegStatus::kOk);
    EXPECT_EQ(names, (std::vector<std::u16string>{u"串口助手Abc"}));
}

TEST(RegistryTest, NameEncodingKeepsEveryUnit) {
    const std::u16string rows[] = {
        u"plain",
        u"中文名",
        u"\U0001F600 emoji",
        std::u16string(1, char16_t(0xD800)) + u"x",
        std::u16string(1, char16_t(0xDC00)),
    };
    for (const std::u16string& name : rows) {
        EXPECT_EQ(DecodeRegistryName(EncodeRegistryName(name)), name);
    }
    EXPECT_EQ(FoldRegistryName(u"ABC"), FoldRegistryName(u"abc"));
    EXPECT_EQ(FoldRegistryName(u"\U00010400"), FoldRegistryName(u"\U00010428"));  // Deseret
    EXPECT_NE(FoldRegistryName(u"a"), FoldRegistryName(u"b"));
    EXPECT_EQ(DecodeRegistryName("\xFF"), u"\uFFFD");
}

TEST(RegistryTest, EnumerationOrderIsStable) {
    TempFolder folder;
    const std::string path = folder.File("r.sqlite3");
    const std::vector<std::u16string> value_order = {u"zeta", u"Alpha", u"mid", u"beta"};
    {
        auto registry = OpenRegistry(path);
        RegKey key;
        ASSERT_EQ(RegKey::Create(registry, RegRoot::kCurrentUser, u"E", &key), RegStatus::kOk);
        for (const auto& name : {u"delta", u"Bravo", u"alpha", u"Charlie"}) {
            RegKey sub;
            ASSERT_EQ(key.CreateSubKey(name, &sub), RegStatus::kOk);
        }
        for (const auto& name : value_order) {
            ASSERT_EQ(key.SetDword(name, 1), RegStatus::kOk);
        }
        ASSERT_EQ(key.SetDword(u"ALPHA", 2), RegStatus::kOk);  // rewrite keeps its place
    }
    const std::vector<std::u16string> key_order = {u"alpha", u"Bravo", u"Charlie", u"delta"};
    for (int round = 0; round < 2; ++round) {
        auto registry = OpenRegistry(path);
        RegKey key;
        ASSERT_EQ(RegKey::Open(registry, RegRoot::kCurrentUser, u"E", RegAccess::kRead, &key),
                  RegStatus::kOk);
        std::vector<std::u16string> names;
        ASSERT_EQ(key.SubKeyNames(&names), RegStatus::kOk);
        EXPECT_EQ(names, key_order);
        ASSERT_EQ(key.ValueNames(&names), RegStatus::kOk);
        EXPECT_EQ(names, value_order);

        // Index by index, as RegEnumKeyW / RegEnumValueW are called.
        std::u16string name;
        for (uint32_t i = 0; i < key_order.size(); ++i) {
            ASSERT_EQ(key.EnumKey(i, &name), RegStatus::kOk);
            EXPECT_EQ(name, key_order[i]);
        }
        EXPECT_EQ(key.EnumKey(4, &name), RegStatus::kNotFound);
        RegType type = RegType::kNone;
        for (uint32_t i = 0; i < value_order.size(); ++i) {
            ASSERT_EQ(key.EnumValue(i, &name, &type), RegStatus::kOk);
            EXPECT_EQ(name, value_order[i]);
            EXPECT_EQ(type, RegType::kDword);
        }
        EXPECT_EQ(key.EnumValue(4, &name), RegStatus::kNotFound);
    }
}

TEST(RegistryTest, DeletingAKeyRemovesEverythingBelowIt) {
    TempFolder folder;
    auto registry = OpenRegistry(folder.File("r.sqlite3"));
    RegKey top;
    ASSERT_EQ(RegKey::Create(registry, RegRoot::kCurrentUser, u"Software\\A", &top),
              RegStatus::kOk);
    for (const auto& path : {u"B\\C\\D", u"B\\E", u"F"}) {
        RegKey sub;
        ASSERT_EQ(top.CreateSubKey(path, &sub), RegStatus::kOk);
        ASSERT_EQ(sub.SetString(u"v", u"x"), RegStatus::kOk);
    }
    RegKey held;  // a handle inside the tree, still open when the tree goes
    ASSERT_EQ(top.OpenSubKey(u"B\\C", RegAccess::kAll, &held), RegStatus::kOk);

    EXPECT_EQ(top.DeleteKey(u"B"), RegStatus::kAccessDenied);  // RegDeleteKeyW: has sub-keys
    EXPECT_EQ(top.DeleteKey(u"b\\c\\d"), RegStatus::kOk);      // a leaf goes with its values
    EXPECT_EQ(top.DeleteTree(u"b"), RegStatus::kOk);

    RegKey gone;
    EXPECT_EQ(top.OpenSubKey(u"B", RegAccess::kRead, &gone), RegStatus::kNotFound);
    EXPECT_EQ(top.OpenSubKey(u"B\\E", RegAccess::kRead, &gone), RegStatus::kNotFound);
    EXPECT_EQ(held.SetString(u"v", u"y"), RegStatus::kNotFound);
    std::vector<std::u16string> names;
    EXPECT_EQ(held.ValueNames(&names), RegStatus::kNotFound);
    RegKey recreated;
    ASSERT_EQ(top.CreateSubKey(u"B\\C", &recreated), RegStatus::kOk);
    EXPECT_EQ(held.SetString(u"v", u"y"), RegStatus::kNotFound);  // never a newer key
    ASSERT_EQ(recreated.ValueNames(&names), RegStatus::kOk);
    EXPECT_TRUE(names.empty());

    ASSERT_EQ(top.SubKeyNames(&names), RegStatus::kOk);
    EXPECT_EQ(names, (std::vector<std::u16string>{u"B", u"F"}));
    EXPECT_EQ(top.DeleteTree(u"missing"), RegStatus::kNotFound);
    EXPECT_EQ(top.DeleteTree(u""), RegStatus::kInvalid);
    EXPECT_EQ(top.DeleteValue(u"missing"), RegStatus::kNotFound);
}

TEST(RegistryTest, AccessRightsOfAHandleAreKept) {
    TempFolder folder;
    auto registry = OpenRegistry(folder.File("r.sqlite3"));
    RegKey created;
    ASSERT_EQ(RegKey::Create(registry, RegRoot::kCurrentUser, u"R", &created), RegStatus::kOk);
    RegKey reader;
    ASSERT_EQ(RegKey::Open(registry, RegRoot::kCurrentUser, u"R", RegAccess::kRead, &reader),
              RegStatus::kOk);
    EXPECT_EQ(reader.SetDword(u"x", 1), RegStatus::kAccessDenied);
    EXPECT_EQ(reader.DeleteValue(u"x"), RegStatus::kAccessDenied);
    RegKey sub;
    EXPECT_EQ(reader.CreateSubKey(u"S", &sub), RegStatus::kAccessDenied);
    RegKey writer;
    ASSERT_EQ(RegKey::Open(registry, RegRoot::kCurrentUser, u"R", RegAccess::kWrite, &writer),
              RegStatus::kOk);
    EXPECT_EQ(writer.SetDword(u"x", 1), RegStatus::kOk);
    std::vector<uint8_t> data;
    EXPECT_EQ(writer.QueryValue(u"x", nullptr, &data), RegStatus::kAccessDenied);
    EXPECT_EQ(writer.DeleteValue(u"X"), RegStatus::kOk);

    RegKey closed;
    EXPECT_EQ(closed.SetDword(u"x", 1), RegStatus::kInvalid);
    EXPECT_EQ(RegKey::Create(registry, RegRoot::kCurrentUser,
                             std::u16string(kRegMaxKeyName + 1, u'k'), &sub),
              RegStatus::kInvalid);
    EXPECT_EQ(
        RegKey::Create(registry, RegRoot::kCurrentUser, std::u16string(kRegMaxKeyName, u'k'), &sub),
        RegStatus::kOk);
}

TEST(RegistryTest, TwoConnectionsWritingAtOnceLoseNothing) {
    TempFolder folder;
    const std::string path = folder.File("r.sqlite3");
    ASSERT_NE(OpenRegistry(path), nullptr);  // created before the race
    constexpr int kEach = 150;
    auto writer = [&path](char16_t tag, bool* ok) {
        auto registry = OpenRegistry(path);  // a connection of its own
        *ok = registry != nullptr;
        for (int i = 0; i < kEach && *ok; ++i) {
            RegKey key;
            const std::u16string section = Numbered(u"Shared\\S", i % 3);
            *ok =
                RegKey::Create(registry, RegRoot::kCurrentUser, section, &key) == RegStatus::kOk &&
                key.SetDword(Numbered(std::u16string(1, tag), i), static_cast<uint32_t>(i)) ==
                    RegStatus::kOk;
        }
    };
    bool ok_a = false;
    bool ok_b = false;
    std::thread a(writer, u'a', &ok_a);
    std::thread b(writer, u'b', &ok_b);
    a.join();
    b.join();
    EXPECT_TRUE(ok_a);
    EXPECT_TRUE(ok_b);

    auto registry = OpenRegistry(path);
    size_t total = 0;
    for (int s = 0; s < 3; ++s) {
        RegKey key;
        ASSERT_EQ(RegKey::Open(registry, RegRoot::kCurrentUser, Numbered(u"Shared\\S", s),
                               RegAccess::kRead, &key),
                  RegStatus::kOk);
        std::vector<std::u16string> names;
        ASSERT_EQ(key.ValueNames(&names), RegStatus::kOk);
        total += names.size();
    }
    EXPECT_EQ(total, 2u * kEach);
}

TEST(RegistryTest, TwoProcessesWritingAtOnceLoseNothing) {
    TempFolder folder;
    const std::string path = folder.File("r.sqlite3");
    constexpr int kEach = 200;
    int go[2];
    ASSERT_EQ(pipe(go), 0);
    // Each process writes its own names into the same keys; both start when the pipe closes.
    auto write_all = [&path](char16_t tag) {
        RegistryOptions options;
        std::shared_ptr<Registry> registry;
        if (Registry::OpenAt(path, options, &registry) != RegStatus::kOk) {
            return false;
        }
        for (int i = 0; i < kEach; ++i) {
            RegKey key;
            if (RegKey::Create(registry, RegRoot::kCurrentUser, Numbered(u"P\\K", i % 4), &key) !=
                    RegStatus::kOk ||
                key.SetString(Numbered(std::u16string(1, tag), i), u"value") != RegStatus::kOk) {
                return false;
            }
        }
        return true;
    };
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(go[1]);
        char byte;
        (void)!read(go[0], &byte, 1);
        _exit(write_all(u'c') ? 0 : 1);
    }
    close(go[0]);
    close(go[1]);  // start
    const bool parent_ok = write_all(u'p');
    int child_status = 0;
    ASSERT_EQ(waitpid(child, &child_status, 0), child);
    EXPECT_TRUE(parent_ok);
    ASSERT_TRUE(WIFEXITED(child_status));
    EXPECT_EQ(WEXITSTATUS(child_status), 0);

    auto registry = OpenRegistry(path);
    size_t total = 0;
    for (int k = 0; k < 4; ++k) {
        RegKey key;
        ASSERT_EQ(RegKey::Open(registry, RegRoot::kCurrentUser, Numbered(u"P\\K", k),
                               RegAccess::kRead, &key),
                  RegStatus::kOk);
        std::vector<std::u16string> names;
        ASSERT_EQ(key.ValueNames(&names), RegStatus::kOk);
        total += names.size();
        for (const auto& name : names) {
            EXPECT_EQ(QueryText(key, name), u"value");
        }
    }
    EXPECT_EQ(total, 2u * kEach);
}
