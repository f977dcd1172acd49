#include "platform/serial_device.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "platform/serial_termios2.h"
#include "platform/thread.h"

namespace kem::platform {
namespace {

static_assert(termios2::kLineBytes == 64, "saved_line_ in serial_device.h must match");

using Clock = std::chrono::steady_clock;

// A device without modem lines answers these; the caller ignores the request then.
bool NoModemLines(int error) {
    return error == ENOTTY || error == EINVAL;
}

bool DeviceGone(int error) {
    return error == EIO || error == ENXIO || error == ENODEV;
}

// 0, also when the device has no modem lines; otherwise the errno.
int ChangeModemLine(int fd, int line, bool raised) {
    if (fd < 0) {
        return EBADF;
    }
    int bits = line;
    if (ioctl(fd, raised ? TIOCMBIS : TIOCMBIC, &bits) == 0) {
        return 0;
    }
    return NoModemLines(errno) ? 0 : errno;
}

SerialIo IoFailure(int error) {
    SerialIo io;
    io.error = error;
    if (error == EAGAIN || error == EWOULDBLOCK) {
        io.status = SerialStatus::kWouldBlock;
        io.error = 0;
    } else if (DeviceGone(error)) {
        io.status = SerialStatus::kGone;
    } else {
        io.status = SerialStatus::kFailed;
    }
    return io;
}

}  // namespace

bool ValidLineSettings(const SerialLineSettings& settings) {
    if (settings.baud == 0 || settings.data_bits < 5 || settings.data_bits > 8) {
        return false;
    }
    // CSTOPB means 1.5 stop bits with 5 data bits and 2 with any other size, so 1.5 exists
    // only with 5 data bits and 2 only without.
    if (settings.stop_bits == SerialStopBits::kOneAndHalf) {
        return settings.data_bits == 5;
    }
    if (settings.stop_bits == SerialStopBits::kTwo) {
        return settings.data_bits != 5;
    }
    return true;
}

SerialDevice::~SerialDevice() {
    Close();
}

SerialStatus SerialDevice::Open(const std::string& path) {
    Close();
    last_error_ = OsError{};
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        last_error_ = LastOsError();
        return SerialStatus::kOpenFailed;
    }
    // TIOCEXCL refuses later opens of the tty, but not to root (CAP_SYS_ADMIN), and it leaves
    // a window between another program's open and its TIOCEXCL. The advisory lock closes both
    // gaps between copies of this program: flock belongs to the open file description, so a
    // second open of the same device is refused even within one process and even for root.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        close(fd);
        // EWOULDBLOCK here means "held", which callers know as busy.
        last_error_ = MakeOsError(error == EWOULDBLOCK ? EBUSY : error);
        return SerialStatus::kOpenFailed;
    }
    if (const int error = termios2::SaveLine(fd, saved_line_); error != 0) {
        close(fd);
        last_error_ = MakeOsError(error);
        return SerialStatus::kNotTerminal;
    }
    if (ioctl(fd, TIOCEXCL) != 0) {
        const int error = errno;
        close(fd);
        last_error_ = MakeOsError(error);
        return SerialStatus::kOpenFailed;
    }
    fd_ = fd;
    saved_valid_ = true;
    exclusive_ = true;
    return SerialStatus::kOk;
}

SerialStatus SerialDevice::Configure(const SerialLineSettings& settings) {
    if (fd_ < 0) {
        last_error_ = MakeOsError(EBADF);
        return SerialStatus::kNotOpen;
    }
    if (!ValidLineSettings(settings)) {
        last_error_ = MakeOsError(EINVAL);
        return SerialStatus::kRejected;
    }
    requested_ = settings;
    if (const int error = termios2::ApplyLine(fd_, settings); error != 0) {
        last_error_ = MakeOsError(error);
        return DeviceGone(error) ? SerialStatus::kGone : SerialStatus::kRejected;
    }
    if (const int error = ChangeModemLine(fd_, TIOCM_DTR, settings.dtr_enable); error != 0) {
        last_error_ = MakeOsError(error);
        return DeviceGone(error) ? SerialStatus::kGone : SerialStatus::kRejected;
    }
    last_error_ = OsError{};
    return SerialStatus::kOk;
}

bool SerialDevice::SetDtr(bool raised) {
    return ChangeModemLine(fd_, TIOCM_DTR, raised) == 0;
}

bool SerialDevice::SetRts(bool raised) {
    return ChangeModemLine(fd_, TIOCM_RTS, raised) == 0;
}

SerialStatus SerialDevice::SetDtrControl(bool enable) {
    if (fd_ < 0) {
        return SerialStatus::kNotOpen;
    }
    termios line;
    if (tcgetattr(fd_, &line) != 0) {
        return DeviceGone(errno) ? SerialStatus::kGone : SerialStatus::kFailed;
    }
    requested_.dtr_enable = enable;
    return ChangeModemLine(fd_, TIOCM_DTR, enable) == 0 ? SerialStatus::kOk
                                                        : SerialStatus::kRejected;
}

SerialStatus SerialDevice::Purge() {
    if (fd_ < 0) {
        return SerialStatus::kNotOpen;
    }
    if (tcflush(fd_, TCIOFLUSH) != 0) {
        return DeviceGone(errno) ? SerialStatus::kGone : SerialStatus::kFailed;
    }
    return SerialStatus::kOk;
}

SerialStatus SerialDevice::Drain(int timeout_ms) {
    if (fd_ < 0) {
        return SerialStatus::kNotOpen;
    }
    // tcdrain has no time limit and waits forever on a line that flow control holds, so the
    // output queue is watched instead, a few milliseconds at a time.
    const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeout_ms, 0));
    for (;;) {
        int queued = 0;
        if (ioctl(fd_, TIOCOUTQ, &queued) != 0) {
            return NoModemLines(errno) ? SerialStatus::kOk
                   : DeviceGone(errno) ? SerialStatus::kGone
                                       : SerialStatus::kFailed;
        }
        if (queued <= 0) {
            return SerialStatus::kOk;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            return SerialStatus::kTimedOut;
        }
        SleepMs(static_cast<int>(std::min<long long>(left, 5)));
    }
}

SerialIo SerialDevice::Read(void* buffer, size_t size) {
    if (fd_ < 0) {
        return SerialIo{SerialStatus::kNotOpen, 0, EBADF};
    }
    for (;;) {
        const ssize_t got = read(fd_, buffer, size);
        if (got > 0) {
            return SerialIo{SerialStatus::kOk, static_cast<size_t>(got), 0};
        }
        if (got == 0) {
            // A tty reads 0 only after a hang-up: the other side or the device is gone.
            return SerialIo{SerialStatus::kGone, 0, 0};
        }
        if (errno != EINTR) {
            return IoFailure(errno);
        }
    }
}

SerialIo SerialDevice::Write(const void* data, size_t size) {
    if (fd_ < 0) {
        return SerialIo{SerialStatus::kNotOpen, 0, EBADF};
    }
    for (;;) {
        const ssize_t put = write(fd_, data, size);
        if (put >= 0) {
            return SerialIo{put > 0 || size == 0 ? SerialStatus::kOk : SerialStatus::kWouldBlock,
                            static_cast<size_t>(put), 0};
        }
        if (errno != EINTR) {
            return IoFailure(errno);
        }
    }
}

void SerialDevice::Close() {
    if (fd_ < 0) {
        return;
    }
    if (saved_valid_) {
        // Fails harmlessly when the device is gone.
        termios2::RestoreLine(fd_, saved_line_);
    }
    if (exclusive_) {
        // TIOCEXCL outlives this descriptor while another one (a test's, a getty's) keeps the
        // tty open; give it up so the next open by path works.
        ioctl(fd_, TIOCNXCL);
    }
    close(fd_);  // releases the advisory lock too
    fd_ = -1;
    saved_valid_ = false;
    exclusive_ = false;
}

SerialStatus SerialDevice::ReadBack(SerialLineReadback& out) const {
    if (fd_ < 0) {
        return SerialStatus::kNotOpen;
    }
    if (const int error = termios2::ReadLine(fd_, out); error != 0) {
        return DeviceGone(error) ? SerialStatus::kGone : SerialStatus::kFailed;
    }
    return SerialStatus::kOk;
}

}  // namespace kem::platform
