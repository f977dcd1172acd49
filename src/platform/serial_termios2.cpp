// The one file that includes the kernel's <asm/termbits.h> and <asm/ioctls.h>. They define
// their own struct termios (and NCCS, and the speed macros) with a layout that differs from
// glibc's <termios.h>, so the two cannot meet in one translation unit. Only termios2 carries
// arbitrary baud rates (BOTHER) with explicit input and output speeds, hence this file.
#include "platform/serial_termios2.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

namespace kem::platform::termios2 {
namespace {

static_assert(sizeof(struct termios2) <= kLineBytes, "termios2 no longer fits its storage");

struct StandardRate {
    uint32_t rate;
    tcflag_t code;
};

// The rates with a code of their own; drivers that know no BOTHER still take these.
constexpr StandardRate kStandardRates[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

tcflag_t SpeedCode(uint32_t rate) {
    for (const StandardRate& entry : kStandardRates) {
        if (entry.rate == rate) {
            return entry.code;
        }
    }
    return BOTHER;
}

tcflag_t SizeFlag(int data_bits) {
    switch (data_bits) {
        case 5:
            return CS5;
        case 6:
            return CS6;
        case 7:
            return CS7;
        default:
            return CS8;
    }
}

tcflag_t ParityFlags(SerialParity parity) {
    switch (parity) {
        case SerialParity::kOdd:
            return PARENB | PARODD;
        case SerialParity::kEven:
            return PARENB;
        case SerialParity::kMark:
            return PARENB | PARODD | CMSPAR;
        case SerialParity::kSpace:
            return PARENB | CMSPAR;
        case SerialParity::kNone:
            break;
    }
    return 0;
}

// A UART divides a clock, so a driver may settle near the rate asked for; more than 2 % off
// and the far end no longer reads the bytes.
bool CloseEnough(uint32_t asked, uint32_t got) {
    const uint64_t diff = asked > got ? asked - got : got - asked;
    return diff * 50 <= asked;
}

void Compose(const SerialLineSettings& settings, struct termios2& line) {
    std::memset(&line, 0, sizeof line);

    // Input: no translation, no stripping, breaks and errors read as they come. Parity is
    // checked when the line carries it; XON/XOFF only when asked for.
    line.c_iflag = 0;
    if (settings.parity != SerialParity::kNone) {
        line.c_iflag |= INPCK;
    }
    if (settings.flow == SerialFlow::kXonXoff) {
        line.c_iflag |= IXON | IXOFF;
    }
    line.c_oflag = 0;  // bytes go out exactly as written
    line.c_lflag = 0;  // no canonical lines, no echo, no signal characters

    const tcflag_t code = SpeedCode(settings.baud);
    line.c_cflag = CREAD | CLOCAL | HUPCL | SizeFlag(settings.data_bits) |
                   ParityFlags(settings.parity) | code | (code << IBSHIFT);
    if (settings.stop_bits != SerialStopBits::kOne) {
        line.c_cflag |= CSTOPB;  // 2 stop bits, or 1.5 with 5 data bits
    }
    if (settings.flow == SerialFlow::kRtsCts) {
        line.c_cflag |= CRTSCTS;
    }
    line.c_ispeed = settings.baud;
    line.c_ospeed = settings.baud;

    // Non-blocking reads make VMIN/VTIME moot for read(), but poll() reports readable once
    // VMIN bytes are there, so one byte wakes the reader.
    line.c_cc[VMIN] = 1;
    line.c_cc[VTIME] = 0;
    line.c_cc[VSTART] = 0x11;
    line.c_cc[VSTOP] = 0x13;
}

void ToReadback(const struct termios2& line, SerialLineReadback& out) {
    out.input_baud = line.c_ispeed;
    out.output_baud = line.c_ospeed;
    out.iflag = line.c_iflag;
    out.oflag = line.c_oflag;
    out.cflag = line.c_cflag;
    out.lflag = line.c_lflag;
    out.vmin = line.c_cc[VMIN];
    out.vtime = line.c_cc[VTIME];
    out.vstart = line.c_cc[VSTART];
    out.vstop = line.c_cc[VSTOP];
}

}  // namespace

int SaveLine(int fd, unsigned char (&line)[kLineBytes]) {
    struct termios2 current;
    if (ioctl(fd, TCGETS2, &current) != 0) {
        return errno;
    }
    std::memset(line, 0, sizeof line);
    std::memcpy(line, &current, sizeof current);
    return 0;
}

int RestoreLine(int fd, const unsigned char (&line)[kLineBytes]) {
    struct termios2 saved;
    std::memcpy(&saved, line, sizeof saved);
    // TCSETS2 is TCSANOW: a line held by flow control must not stall the close.
    return ioctl(fd, TCSETS2, &saved) == 0 ? 0 : errno;
}

int ApplyLine(int fd, const SerialLineSettings& settings) {
    struct termios2 line;
    Compose(settings, line);
    if (ioctl(fd, TCSETS2, &line) != 0) {
        return errno;
    }
    struct termios2 back;
    if (ioctl(fd, TCGETS2, &back) != 0) {
        return errno;
    }
    if (!CloseEnough(settings.baud, back.c_ospeed) || !CloseEnough(settings.baud, back.c_ispeed)) {
        return EINVAL;
    }
    return 0;
}

int ReadLine(int fd, SerialLineReadback& out) {
    struct termios2 line;
    if (ioctl(fd, TCGETS2, &line) != 0) {
        return errno;
    }
    ToReadback(line, out);
    return 0;
}

SerialLineReadback ComposeLine(const SerialLineSettings& settings) {
    struct termios2 line;
    Compose(settings, line);
    SerialLineReadback out;
    ToReadback(line, out);
    return out;
}

}  // namespace kem::platform::termios2
