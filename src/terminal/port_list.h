// The entries of the port list: the serial ports the system lists, then the two pseudo-ports.
#pragma once

#include <string>
#include <vector>

namespace kem::platform {
class RegKey;
}

// The key that lists the serial ports, below HKLM.
inline constexpr const char16_t* kSerialCommKey = u"HARDWARE\\DEVICEMAP\\SERIALCOMM";

// The port list for the serial port names `serialcomm_values` (in the order the registry lists
// them): each name once, at its first place, exact comparison (so "COM1" and "com1" are both
// kept: device paths differ by case); empty names are skipped, as they cannot be opened; then
// "TCP/IP" and "SERVER". Pure; any thread.
std::vector<std::u16string> BuildPortList(const std::vector<std::u16string>& serialcomm_values);

// The texts of the values of an open SERIALCOMM key, in its value order: each value's data read
// as a zero-terminated UTF-16 text. A closed key, or a key whose names cannot be listed, gives
// an empty list; a value that cannot be read or is not text is skipped. Any thread.
std::vector<std::u16string> SerialCommPortsOf(const kem::platform::RegKey& key);

// The serial ports under HKLM\HARDWARE\DEVICEMAP\SERIALCOMM, read through the platform
// registry; a key that cannot be opened gives an empty list. Does not open any device. Any
// thread.
std::vector<std::u16string> ReadSerialCommPorts();
