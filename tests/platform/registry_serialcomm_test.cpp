// The read-only device view HKLM\HARDWARE\DEVICEMAP\SERIALCOMM: devices from a sysfs tree built
// in a temporary folder, pseudo-terminals given through KEMPEMVILO_SERIAL_EXTRA, refused writes.
#include "platform/registry_serialcomm.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <tuple>

#include "channels/pty_pair.h"
#include "platform/registry.h"
#include "platform/registry_test_support.h"

using namespace kem::platform;
using namespace kem::testing;
using Names16 = std::vector<std::u16string>;

namespace {

constexpr char16_t kView[] = u"HARDWARE\\DEVICEMAP\\SERIALCOMM";

// Lists a fake /sys/class/tty of ttys each with or without a device link and a type
// attribute; the names and the paths found.
std::pair<Names16, Names16> ListFakeSysfs(
    const std::vector<std::tuple<std::string, bool, const char*>>& ttys) {
    TempFolder sysfs;
    for (const auto& [name, device, type] : ttys) {
        std::filesystem::create_directories(sysfs / (device ? name + "/device" : name));
        if (type != nullptr) {
            std::ofstream(sysfs / (name + "/type")) << type << "\n";
        }
    }
    std::pair<Names16, Names16> found;
    for (const SerialDeviceEntry& entry : ListSerialDevices(sysfs.path().string())) {
        found.first.push_back(entry.name);
        found.second.push_back(entry.path);
    }
    return found;
}

}  // namespace

TEST(RegistrySerialCommTest, ListsDevicesWithAChipInNaturalOrderThenExtraPaths) {
    {
        ScopedEnv extra("KEMPEMVILO_SERIAL_EXTRA", nullptr);
        const auto [names, paths] = ListFakeSysfs({{"ttyS10", true, "4"},
                                                   {"ttyS2", true, "4"},
                                                   {"ttyS3", true, "0"},  // a slot without a UART
                                                   {"ttyUSB0", true, nullptr},
                                                   {"tty1", false, nullptr},  // a console
                                                   {"ttyACM0", true, nullptr}});
        EXPECT_EQ(names, (Names16{u"ttyACM0", u"ttyS2", u"ttyS10", u"ttyUSB0"}));
        EXPECT_EQ(paths,
                  (Names16{u"/dev/ttyACM0", u"/dev/ttyS2", u"/dev/ttyS10", u"/dev/ttyUSB0"}));
        EXPECT_TRUE(ListSerialDevices("/nonexistent-kem/sys/class/tty").empty());
    }
    // Extra paths follow in their order, each once, empty entries skipped.
    ScopedEnv extra("KEMPEMVILO_SERIAL_EXTRA", "/dev/pts/7,/dev/ttyUSB0::/tmp/port:/dev/pts/7");
    const auto [names, paths] = ListFakeSysfs({{"ttyUSB0", true, nullptr}});
    EXPECT_EQ(names, (Names16{u"ttyUSB0", u"pts/7", u"/tmp/port"}));
    EXPECT_EQ(paths, (Names16{u"/dev/ttyUSB0", u"/dev/pts/7", u"/tmp/port"}));
}

TEST(RegistrySerialCommTest, ViewListsAPseudoTerminalLiveAndRefusesEveryChange) {
    PtyPair pty;
    ScopedEnv extra("KEMPEMVILO_SERIAL_EXTRA", pty.path().c_str());
    const std::u16string name = pty.path16().substr(5);  // "pts/N"
    {
        // The view needs no database: the user registry points where nothing can be created.
        ScopedEnv unusable("KEMPEMVILO_REGISTRY", "/proc/no-such-folder/registry.sqlite3");
        RegKey view = OpenKey(nullptr, RegRoot::kLocalMachine, kView);
        EXPECT_TRUE(view.IsReadOnlyView());
        const Names16 names = ValueNamesOf(view);
        ASSERT_FALSE(names.empty());
        EXPECT_EQ(names.back(), name);
        EXPECT_EQ(QueryText(view, name), pty.path16());
        std::u16string enumerated;
        RegType type = RegType::kNone;
        const auto last = static_cast<uint32_t>(names.size() - 1);
        ASSERT_EQ(view.EnumValue(last, &enumerated, &type), RegStatus::kOk);
        EXPECT_EQ(enumerated, name);
        EXPECT_EQ(type, RegType::kSz);
        EXPECT_EQ(view.EnumValue(last + 1, &enumerated), RegStatus::kNotFound);

        EXPECT_EQ(view.SetString(u"COM9", u"/dev/null"), RegStatus::kAccessDenied);
        EXPECT_EQ(view.DeleteValue(name), RegStatus::kAccessDenied);
        RegKey sub;
        EXPECT_EQ(view.CreateSubKey(u"X", &sub), RegStatus::kAccessDenied);
        EXPECT_EQ(RegKey::Open(RegRoot::kLocalMachine, u"hardware\\devicemap\\serialcomm",
                               RegAccess::kWrite, &sub),
                  RegStatus::kAccessDenied);
        EXPECT_EQ(RegKey::Create(RegRoot::kLocalMachine, kView, &sub), RegStatus::kAccessDenied);
        EXPECT_EQ(RegKey::Create(RegRoot::kLocalMachine, u"Hardware\\Other", &sub),
                  RegStatus::kAccessDenied);
        EXPECT_EQ(RegKey::Open(RegRoot::kLocalMachine, u"HARDWARE\\Other", RegAccess::kRead, &sub),
                  RegStatus::kNotFound);
        // Each open lists the devices of that moment.
        setenv("KEMPEMVILO_SERIAL_EXTRA", "/dev/pts/102", 1);
        view = OpenKey(nullptr, RegRoot::kLocalMachine, kView);
        EXPECT_EQ(QueryText(view, name), u"");
        EXPECT_EQ(QueryText(view, u"PTS/102"), u"/dev/pts/102");
    }
    // The parents are there to walk to, and the machine root shows HARDWARE among its keys.
    TempFolder folder;
    auto registry = OpenRegistry(folder.File("r.sqlite3"));
    RegKey machine = OpenKey(registry, RegRoot::kLocalMachine, u"", RegAccess::kAll);
    RegKey made, hardware, devicemap, serialcomm;
    ASSERT_EQ(machine.CreateSubKey(u"SOFTWARE", &made), RegStatus::kOk);
    ASSERT_EQ(machine.CreateSubKey(u"Aaa", &made), RegStatus::kOk);
    EXPECT_EQ(SubKeysOf(machine), (Names16{u"Aaa", u"HARDWARE", u"SOFTWARE"}));
    EXPECT_EQ(machine.DeleteTree(u"HARDWARE"), RegStatus::kAccessDenied);
    ASSERT_EQ(machine.OpenSubKey(u"hardware", RegAccess::kRead, &hardware), RegStatus::kOk);
    std::u16string first;
    ASSERT_EQ(hardware.EnumKey(0, &first), RegStatus::kOk);
    EXPECT_EQ(first, u"DEVICEMAP");
    ASSERT_EQ(hardware.OpenSubKey(u"DEVICEMAP", RegAccess::kRead, &devicemap), RegStatus::kOk);
    ASSERT_EQ(devicemap.OpenSubKey(u"SerialComm", RegAccess::kRead, &serialcomm), RegStatus::kOk);
    EXPECT_EQ(QueryText(serialcomm, u"pts/102"), u"/dev/pts/102");
}
