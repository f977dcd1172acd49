// The serial devices present, as the registry's read-only key
// HKLM\HARDWARE\DEVICEMAP\SERIALCOMM shows them: one value per device, its data the device path.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kem::platform {

// One device: the value name ("ttyS0", "ttyUSB0", "pts/3") and the device path ("/dev/ttyS0").
struct SerialDeviceEntry {
    std::u16string name;
    std::u16string path;
};

// The devices under `sysfs_tty` (normally /sys/class/tty) that have a "device" link, except
// UART slots the kernel reserves with no chip behind them (their "type" attribute reads 0), in
// natural name order (ttyS2 before ttyS10); then each path that the environment variable
// KEMPEMVILO_SERIAL_EXTRA lists (separated by ':' or ','), in its order, unless already
// listed. The name of a path below /dev/ is the rest of the path, of any other path the path
// itself. No device is opened. Any thread.
std::vector<SerialDeviceEntry> ListSerialDevices(std::string_view sysfs_tty = "/sys/class/tty");

// Where folded key names (FoldRegistryName) below HKLM lead with respect to the view:
// -1 outside HARDWARE; 1 HARDWARE, 2 HARDWARE\DEVICEMAP, 3 ...\SERIALCOMM; 0 below HARDWARE
// but no key of the view (such a key does not exist and cannot be created).
int DeviceViewDepth(const std::vector<std::string>& folded_components);

// The spelled name of the view's key at `depth` (1..3), and of its one sub-key (depth 1, 2).
std::u16string DeviceViewKeyName(int depth);

}  // namespace kem::platform
