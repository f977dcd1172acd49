// One open serial device (a tty: a UART, a USB adapter or a pseudo-terminal), opened
// exclusively, configured completely from plain line settings, and put back as it was found
// when it is closed. Reads and writes never block; callers wait with WaitDescriptor.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/os_error.h"

namespace kem::platform {

enum class SerialParity { kNone, kOdd, kEven, kMark, kSpace };
enum class SerialStopBits { kOne, kOneAndHalf, kTwo };
enum class SerialFlow { kNone, kRtsCts, kXonXoff };

// The line as the user asks for it.
struct SerialLineSettings {
    uint32_t baud = 9600;  // any rate the driver takes, e.g. 250000 or 3000000; 0 is refused
    int data_bits = 8;     // 5..8
    SerialParity parity = SerialParity::kNone;
    SerialStopBits stop_bits = SerialStopBits::kOne;  // 1.5 only with 5 data bits
    SerialFlow flow = SerialFlow::kNone;
    bool dtr_enable = true;  // DTR raised while the line is open

    bool operator==(const SerialLineSettings&) const = default;
};

// What the driver holds for the line, read back from it. The flag words use the kernel's
// termios bit values; a pseudo-terminal, for one, keeps CS8 and drops PARENB whatever was set.
struct SerialLineReadback {
    uint32_t input_baud = 0;
    uint32_t output_baud = 0;
    uint32_t iflag = 0;
    uint32_t oflag = 0;
    uint32_t cflag = 0;
    uint32_t lflag = 0;
    uint8_t vmin = 0;
    uint8_t vtime = 0;
    uint8_t vstart = 0;
    uint8_t vstop = 0;
};

// Closed result codes of the device operations.
enum class SerialStatus {
    kOk,
    kOpenFailed,   // the path could not be opened or is held by someone else
    kNotTerminal,  // the line settings cannot be read: not a tty (/dev/null, a regular file)
    kRejected,     // the settings are invalid or the driver did not take them
    kNotOpen,      // no device is open
    kWouldBlock,   // nothing to read, or no room to write, right now
    kTimedOut,     // a bounded wait ran out
    kGone,         // the device went away (hang-up, unplugged)
    kFailed,       // another OS failure
};

// The outcome of one Read or Write: bytes moved, and the errno where it failed.
struct SerialIo {
    SerialStatus status = SerialStatus::kOk;
    size_t count = 0;
    int error = 0;
};

// Checks settings without a device: data bits 5..8, a baud rate above 0, and 1.5 stop bits only
// with 5 data bits. Two stop bits with 5 data bits are refused too: the line would send 1.5.
bool ValidLineSettings(const SerialLineSettings& settings);

class SerialDevice {
public:
    SerialDevice() = default;
    // Closes the device as Close does.
    ~SerialDevice();
    SerialDevice(const SerialDevice&) = delete;
    SerialDevice& operator=(const SerialDevice&) = delete;

    // Opens `path` (UTF-8) for reading and writing, non-blocking, exclusively, and keeps its
    // present line settings for Close. kOpenFailed with last_error() (kBusy when another open
    // holds it, kNotFound for a missing path); kNotTerminal when the line cannot be read. Either
    // failure leaves the device closed. Owner's thread.
    SerialStatus Open(const std::string& path);

    // Sets every line flag from `settings` (raw mode, nothing kept from an earlier program),
    // then DTR as `dtr_enable` says; reads the line back to check the speed. kRejected for
    // invalid settings or ones the driver refused (last_error() then tells why). Owner's thread.
    SerialStatus Configure(const SerialLineSettings& settings);

    // Raises or lowers DTR / RTS. A device without modem lines (a pseudo-terminal) ignores
    // this quietly; false only when the device itself failed (gone). Any thread.
    bool SetDtr(bool raised);
    bool SetRts(bool raised);

    // Records the DTR control setting and applies it to the line: kOk; kRejected when the line
    // did not take it (the setting stays recorded); kNotOpen, kGone or kFailed when the line
    // cannot be read, and then nothing changed. Owner's thread.
    SerialStatus SetDtrControl(bool enable);

    // Discards what is queued in both directions. Any thread.
    SerialStatus Purge();

    // Waits until the output queue is empty, at most `timeout_ms`: kOk or kTimedOut (never
    // blocks past the bound, also when flow control holds the line). Any thread.
    SerialStatus Drain(int timeout_ms);

    // Reads what is there, at most `size` bytes, without waiting: kOk with count > 0,
    // kWouldBlock, kGone (end of file, EIO, ENXIO) or kFailed. Any thread.
    SerialIo Read(void* buffer, size_t size);

    // Writes as much of `data` as fits now: kOk with the count, kWouldBlock, kGone or
    // kFailed. Any thread.
    SerialIo Write(const void* data, size_t size);

    // Puts the line settings back as Open found them, gives up the exclusive hold and closes.
    // Safe when closed. Owner's thread.
    void Close();

    // The driver's present view of the line; kGone / kFailed when it cannot be read.
    SerialStatus ReadBack(SerialLineReadback& out) const;

    bool is_open() const { return fd_ >= 0; }
    // The descriptor to wait on, -1 when closed.
    int descriptor() const { return fd_; }
    // The settings last asked for through Configure or SetDtrControl.
    const SerialLineSettings& requested() const { return requested_; }
    // The failure of the last Open or Configure.
    const OsError& last_error() const { return last_error_; }

private:
    int fd_ = -1;
    bool saved_valid_ = false;
    bool exclusive_ = false;
    // The line as Open found it, in the kernel's own layout (see serial_termios2.h).
    alignas(8) unsigned char saved_line_[64] = {};
    SerialLineSettings requested_;
    OsError last_error_;
};

}  // namespace kem::platform
