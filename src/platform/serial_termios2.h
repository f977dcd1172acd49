// Private to the platform layer: the line settings of a tty through the kernel's termios2
// interface, which carries any baud rate (BOTHER) and separate input and output speeds.
// The kernel structure stays inside serial_termios2.cpp; callers hold it as opaque bytes.
#pragma once

#include <cstddef>

#include "platform/serial_device.h"

namespace kem::platform::termios2 {

// Room for the kernel's struct termios2 (44 bytes on Linux); checked where it is defined.
constexpr size_t kLineBytes = 64;

// Copies the line of `fd` into `line`. 0 or the errno.
int SaveLine(int fd, unsigned char (&line)[kLineBytes]);

// Puts a line saved by SaveLine back at once, without waiting for output. 0 or the errno.
int RestoreLine(int fd, const unsigned char (&line)[kLineBytes]);

// Sets every flag of the line from `settings` (which ValidLineSettings accepted): raw mode,
// size, parity, stop bits, flow control, XON 0x11 / XOFF 0x13, VMIN 1, VTIME 0, both speeds.
// Reads the line back and returns EINVAL when the driver moved either speed by more than 2 %.
// 0 or the errno.
int ApplyLine(int fd, const SerialLineSettings& settings);

// The driver's present view of the line. 0 or the errno.
int ReadLine(int fd, SerialLineReadback& out);

// The line ApplyLine would write for `settings`, before any driver changes it. Pure.
SerialLineReadback ComposeLine(const SerialLineSettings& settings);

}  // namespace kem::platform::termios2
