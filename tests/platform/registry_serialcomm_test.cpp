// The read-only device view HKLM\HARDWARE\DEVICEMAP\SERIALCOMM: devices from a sysfs tree,
// pseudo-terminals given through KEMPEMVILO_SERIAL_EXTRA, and refused writes. No device is
// opened: sysfs trees are built in a temporary folder, and the ports are pseudo-terminals.
#include "platform/registry_serialcomm.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "channels/pty_pair.h"
#include "platform/registry.h"
#include "platform/registry_test_support.h"

using namespace kem::platform;
using kem::testing::OpenRegistry;
using kem::testing::PtyPair;
using kem::testing::QueryText;
using kem::testing::TempFolder;

namespace {

// Sets an environment variable for one scope, then removes it.
class ScopedVariable {
public:
    ScopedVariable(const char* name, const std::string& value) : name_(name) {
        setenv(name, value.c_str(), 1);
    }
    ~ScopedVariable() { unsetenv(name_); }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

private:
    const char* name_;
};

class ExtraPorts : public ScopedVariable {
public:
    explicit ExtraPorts(const std::string& value)
        : ScopedVariable("KEMPEMVILO_SERIAL_EXTRA", value) {}
};

// One entry of a fake /sys/class/tty: with a device link and, optionally, a type attribute.
void AddTty(const TempFolder& sysfs, const std::string& name, bool device, const char* type) {
    const std::string folder = sysfs.File(name);
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    if (device) {
        ASSERT_EQ(mkdir((folder + "/device").c_str(), 0700), 0);
    }
    if (type != nullptr) {
        std::ofstream(folder + "/type") << type << "\n";
    }
}

std::vector<std::u16string> Names(const std::vector<SerialDeviceEntry>& devices) {
    std::vector<std::u16string> names;
    for (const auto& device : devices) {
        names.push_back(device.name);
    }
    return names;
}

}  // namespace

TEST(RegistrySerialCommTest, ListsDevicesWithAChipInNaturalOrder) {
    TempFolder sysfs;
    AddTty(sysfs, "ttyS10", true, "4");
    AddTty(sysfs, "ttyS2", true, "4");
    AddTty(sysfs, "ttyS3", true, "0");  // a reserved slot without a UART
    AddTty(sysfs, "ttyUSB0", true, nullptr);
    AddTty(sysfs, "tty1", false, nullptr);  // a virtual console
    AddTty(sysfs, "ttyACM0", true, nullptr);
    unsetenv("KEMPEMVILO_SERIAL_EXTRA");

    const std::vector<SerialDeviceEntry> devices = ListSerialDevices(sysfs.path().string());
    EXPECT_EQ(Names(devices),
              (std::vector<std::u16string>{u"ttyACM0", u"ttyS2", u"ttyS10", u"ttyUSB0"}));
    ASSERT_EQ(devices.size(), 4u);
    EXPECT_EQ(devices[1].path, u"/dev/ttyS2");
    EXPECT_TRUE(ListSerialDevices(sysfs.File("missing")).empty());
}

TEST(RegistrySerialCommTest, ExtraPathsFollowInTheirOrderWithoutRepeats) {
    TempFolder sysfs;
    AddTty(sysfs, "ttyUSB0", true, nullptr);
    ExtraPorts extra("/dev/pts/7,/dev/ttyUSB0::/tmp/port:/dev/pts/7");
    const std::vector<SerialDeviceEntry> devices = ListSerialDevices(sysfs.path().string());
    EXPECT_EQ(Names(devices), (std::vector<std::u16string>{u"ttyUSB0", u"pts/7", u"/tmp/port"}));
    ASSERT_EQ(devices.size(), 3u);
    EXPECT_EQ(devices[1].path, u"/dev/pts/7");
    EXPECT_EQ(devices[2].path, u"/tmp/port");
}

TEST(RegistrySerialCommTest, ViewListsAPseudoTerminalAndIsReadOnly) {
    PtyPair pty;
    ExtraPorts extra(pty.path());
    TempFolder folder;
    // The view needs no database: point the user registry at a path that cannot be created.
    auto unusable = std::make_unique<ScopedVariable>("KEMPEMVILO_REGISTRY",
                                                     "/proc/no-such-folder/registry.sqlite3");

    RegKey view;
    ASSERT_EQ(RegKey::Open(RegRoot::kLocalMachine, u"HARDWARE\\DEVICEMAP\\SERIALCOMM",
                           RegAccess::kRead, &view),
              RegStatus::kOk);
    EXPECT_TRUE(view.IsReadOnlyView());
    std::vector<std::u16string> names;
    ASSERT_EQ(view.ValueNames(&names), RegStatus::kOk);
    const std::u16string name = pty.path16().substr(5);  // "pts/N"
    ASSERT_FALSE(names.empty());
    EXPECT_EQ(names.back(), name);
    EXPECT_EQ(QueryText(view, name), pty.path16());
    std::u16string enumerated;
    RegType type = RegType::kNone;
    ASSERT_EQ(view.EnumValue(static_cast<uint32_t>(names.size() - 1), &enumerated, &type),
              RegStatus::kOk);
    EXPECT_EQ(enumerated, name);
    EXPECT_EQ(type, RegType::kSz);
    EXPECT_EQ(view.EnumValue(static_cast<uint32_t>(names.size()), &enumerated),
              RegStatus::kNotFound);

    // Every way to change it is refused.
    EXPECT_EQ(view.SetString(u"COM9", u"/dev/null"), RegStatus::kAccessDenied);
    EXPECT_EQ(view.DeleteValue(name), RegStatus::kAccessDenied);
    RegKey sub;
    EXPECT_EQ(view.CreateSubKey(u"X", &sub), RegStatus::kAccessDenied);
    EXPECT_EQ(RegKey::Open(RegRoot::kLocalMachine, u"hardware\\devicemap\\serialcomm",
                           RegAccess::kWrite, &sub),
              RegStatus::kAccessDenied);
    EXPECT_EQ(RegKey::Create(RegRoot::kLocalMachine, u"HARDWARE\\DEVICEMAP\\SERIALCOMM", &sub),
              RegStatus::kAccessDenied);
    EXPECT_EQ(RegKey::Create(RegRoot::kLocalMachine, u"Hardware\\Other", &sub),
              RegStatus::kAccessDenied);
    EXPECT_EQ(RegKey::Open(RegRoot::kLocalMachine, u"HARDWARE\\Other", RegAccess::kRead, &sub),
              RegStatus::kNotFound);
    unusable.reset();

    // The parents are there to walk to, and the machine root shows HARDWARE among its keys.
    auto registry = OpenRegistry(folder.File("r.sqlite3"));
    RegKey machine;
    ASSERT_EQ(RegKey::Open(registry, RegRoot::kLocalMachine, u"", RegAccess::kAll, &machine),
              RegStatus::kOk);
    RegKey software;
    ASSERT_EQ(machine.CreateSubKey(u"SOFTWARE", &software), RegStatus::kOk);
    RegKey aaa;
    ASSERT_EQ(machine.CreateSubKey(u"Aaa", &aaa), RegStatus::kOk);
    ASSERT_EQ(machine.SubKeyNames(&names), RegStatus::kOk);
    EXPECT_EQ(names, (std::vector<std::u16string>{u"Aaa", u"HARDWARE", u"SOFTWARE"}));
    EXPECT_EQ(machine.DeleteTree(u"HARDWARE"), RegStatus::kAccessDenied);
    RegKey hardware;
    ASSERT_EQ(machine.OpenSubKey(u"hardware", RegAccess::kRead, &hardware), RegStatus::kOk);
    ASSERT_EQ(hardware.EnumKey(0, &enumerated), RegStatus::kOk);
    EXPECT_EQ(enumerated, u"DEVICEMAP");
    RegKey devicemap;
    ASSERT_EQ(hardware.OpenSubKey(u"DEVICEMAP", RegAccess::kRead, &devicemap), RegStatus::kOk);
    RegKey serialcomm;
    ASSERT_EQ(devicemap.OpenSubKey(u"SerialComm", RegAccess::kRead, &serialcomm), RegStatus::kOk);
    EXPECT_EQ(QueryText(serialcomm, name), pty.path16());
}

TEST(RegistrySerialCommTest, ViewIsLiveAcrossOpens) {
    ExtraPorts first("/dev/pts/101");
    RegKey view;
    ASSERT_EQ(RegKey::Open(RegRoot::kLocalMachine, u"HARDWARE\\DEVICEMAP\\SERIALCOMM",
                           RegAccess::kRead, &view),
              RegStatus::kOk);
    EXPECT_EQ(QueryText(view, u"pts/101"), u"/dev/pts/101");
    setenv("KEMPEMVILO_SERIAL_EXTRA", "/dev/pts/102", 1);
    RegKey again;
    ASSERT_EQ(RegKey::Open(RegRoot::kLocalMachine, u"HARDWARE\\DEVICEMAP\\SERIALCOMM",
                           RegAccess::kRead, &again),
              RegStatus::kOk);
    EXPECT_EQ(QueryText(again, u"pts/101"), u"");
    EXPECT_EQ(QueryText(again, u"PTS/102"), u"/dev/pts/102");
}
