#include "platform/serial_device.h"

#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <termios.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "channels/pty_pair.h"
#include "platform/serial_termios2.h"

namespace kem::platform {
namespace {

using kem::testing::PtyPair;

std::string Describe(const SerialLineSettings& s) {
    return "baud " + std::to_string(s.baud) + ", data " + std::to_string(s.data_bits) +
           ", parity " + std::to_string(static_cast<int>(s.parity)) + ", stop " +
           std::to_string(static_cast<int>(s.stop_bits)) + ", flow " +
           std::to_string(static_cast<int>(s.flow));
}

tcflag_t ExpectedSize(int data_bits) {
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

TEST(SerialDeviceValid, DataBitsStopBitsAndBaud) {
    struct Row {
        const char* name;
        uint32_t baud;
        int data_bits;
        SerialStopBits stop;
        bool valid;
    };
    const Row rows[] = {
        {"8N1", 9600, 8, SerialStopBits::kOne, true},
        {"5 bits", 9600, 5, SerialStopBits::kOne, true},
        {"4 bits", 9600, 4, SerialStopBits::kOne, false},
        {"9 bits", 9600, 9, SerialStopBits::kOne, false},
        {"baud 0", 0, 8, SerialStopBits::kOne, false},
        {"1.5 with 5", 9600, 5, SerialStopBits::kOneAndHalf, true},
        {"1.5 with 6", 9600, 6, SerialStopBits::kOneAndHalf, false},
        {"1.5 with 8", 9600, 8, SerialStopBits::kOneAndHalf, false},
        {"2 with 8", 9600, 8, SerialStopBits::kTwo, true},
        {"2 with 5", 9600, 5, SerialStopBits::kTwo, false},
        {"odd rate", 250000, 7, SerialStopBits::kTwo, true},
    };
    for (const Row& row : rows) {
        SerialLineSettings settings;
        settings.baud = row.baud;
        settings.data_bits = row.data_bits;
        settings.stop_bits = row.stop;
        EXPECT_EQ(ValidLineSettings(settings), row.valid) << row.name;
    }
}

// Every combination the line can carry, as composed for the driver: the flags a
// pseudo-terminal would not keep (size, parity enable) are checked here.
TEST(SerialDeviceCompose, EveryCombinationSetsEveryFlag) {
    const uint32_t bauds[] = {50, 9600, 115200, 250000, 3000000, 1234567};
    int checked = 0;
    for (uint32_t baud : bauds) {
        for (int bits = 5; bits <= 8; ++bits) {
            for (int parity = 0; parity <= 4; ++parity) {
                for (int stop = 0; stop <= 2; ++stop) {
                    for (int flow = 0; flow <= 2; ++flow) {
                        SerialLineSettings s;
                        s.baud = baud;
                        s.data_bits = bits;
                        s.parity = static_cast<SerialParity>(parity);
                        s.stop_bits = static_cast<SerialStopBits>(stop);
                        s.flow = static_cast<SerialFlow>(flow);
                        if (!ValidLineSettings(s)) {
                            continue;
                        }
                        const SerialLineReadback line = termios2::ComposeLine(s);
                        const std::string what = Describe(s);
                        EXPECT_EQ(line.output_baud, baud) << what;
                        EXPECT_EQ(line.input_baud, baud) << what;
                        EXPECT_EQ(line.cflag & CSIZE, ExpectedSize(bits)) << what;
                        const bool parity_on = s.parity != SerialParity::kNone;
                        EXPECT_EQ((line.cflag & PARENB) != 0, parity_on) << what;
                        EXPECT_EQ((line.cflag & PARODD) != 0,
                                  s.parity == SerialParity::kOdd || s.parity == SerialParity::kMark)
                            << what;
                        EXPECT_EQ((line.cflag & CMSPAR) != 0, s.parity == SerialParity::kMark ||
                                                                  s.parity == SerialParity::kSpace)
                            << what;
                        EXPECT_EQ((line.iflag & INPCK) != 0, parity_on) << what;
                        EXPECT_EQ((line.cflag & CSTOPB) != 0, s.stop_bits != SerialStopBits::kOne)
                            << what;
                        EXPECT_EQ((line.cflag & CRTSCTS) != 0, s.flow == SerialFlow::kRtsCts)
                            << what;
                        EXPECT_EQ(line.iflag & (IXON | IXOFF),
                                  s.flow == SerialFlow::kXonXoff ? (IXON | IXOFF) : 0u)
                            << what;
                        EXPECT_NE(line.cflag & CREAD, 0u) << what;
                        EXPECT_NE(line.cflag & CLOCAL, 0u) << what;
                        // Raw: nothing translated, echoed or turned into a signal.
                        EXPECT_EQ(line.iflag & (ICRNL | INLCR | IGNCR | ISTRIP | IXANY | PARMRK |
                                                BRKINT | IGNBRK),
                                  0u)
                            << what;
                        EXPECT_EQ(line.oflag, 0u) << what;
                        EXPECT_EQ(line.lflag, 0u) << what;
                        EXPECT_EQ(line.vmin, 1) << what;
                        EXPECT_EQ(line.vtime, 0) << what;
                        EXPECT_EQ(line.vstart, 0x11) << what;
                        EXPECT_EQ(line.vstop, 0x13) << what;
                        ++checked;
                    }
                }
            }
        }
    }
    // 6 rates x (4 sizes x 5 parities x 2 stop settings each) x 3 flows.
    EXPECT_EQ(checked, 6 * 4 * 5 * 2 * 3);
}

// The same combinations through a real pseudo-terminal: what was asked for is kept in the
// device, and the driver keeps what a pty can hold (it forces CS8 and drops PARENB).
TEST(SerialDeviceConfigure, EveryCombinationOnAPseudoTerminal) {
    PtyPair pty;
    SerialDevice device;
    ASSERT_EQ(device.Open(pty.path()), SerialStatus::kOk) << device.last_error().text;
    const uint32_t bauds[] = {300, 9600, 115200, 250000, 3000000, 1234567};
    int checked = 0;
    for (uint32_t baud : bauds) {
        for (int bits = 5; bits <= 8; ++bits) {
            for (int parity = 0; parity <= 4; ++parity) {
                for (int stop = 0; stop <= 2; ++stop) {
                    for (int flow = 0; flow <= 2; ++flow) {
                        SerialLineSettings s;
                        s.baud = baud;
                        s.data_bits = bits;
                        s.parity = static_cast<SerialParity>(parity);
                        s.stop_bits = static_cast<SerialStopBits>(stop);
                        s.flow = static_cast<SerialFlow>(flow);
                        s.dtr_enable = (bits % 2) == 0;
                        const std::string what = Describe(s);
                        if (!ValidLineSettings(s)) {
                            EXPECT_EQ(device.Configure(s), SerialStatus::kRejected) << what;
                            EXPECT_EQ(device.last_error().kind, ErrorKind::kInvalid) << what;
                            continue;
                        }
                        ASSERT_EQ(device.Configure(s), SerialStatus::kOk)
                            << what << ": " << device.last_error().text;
                        EXPECT_EQ(device.requested(), s) << what;
                        SerialLineReadback line;
                        ASSERT_EQ(device.ReadBack(line), SerialStatus::kOk);
                        EXPECT_EQ(line.output_baud, baud) << what;
                        EXPECT_EQ(line.input_baud, baud) << what;
                        EXPECT_EQ(line.cflag & CSIZE, static_cast<tcflag_t>(CS8)) << what;
                        EXPECT_EQ(line.cflag & PARENB, 0u) << what;
                        EXPECT_EQ((line.cflag & PARODD) != 0,
                                  s.parity == SerialParity::kOdd || s.parity == SerialParity::kMark)
                            << what;
                        EXPECT_EQ((line.cflag & CMSPAR) != 0, s.parity == SerialParity::kMark ||
                                                                  s.parity == SerialParity::kSpace)
                            << what;
                        EXPECT_EQ((line.cflag & CSTOPB) != 0, s.stop_bits != SerialStopBits::kOne)
                            << what;
                        EXPECT_EQ((line.cflag & CRTSCTS) != 0, s.flow == SerialFlow::kRtsCts)
                            << what;
                        EXPECT_EQ(line.iflag & (IXON | IXOFF),
                                  s.flow == SerialFlow::kXonXoff ? (IXON | IXOFF) : 0u)
                            << what;
                        EXPECT_EQ(line.lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u) << what;
                        EXPECT_EQ(line.oflag & OPOST, 0u) << what;
                        EXPECT_EQ(line.vstart, 0x11) << what;
                        EXPECT_EQ(line.vstop, 0x13) << what;
                        ++checked;
                    }
                }
            }
        }
    }
    EXPECT_EQ(checked, 6 * 4 * 5 * 2 * 3);

    // glibc's own view of the line agrees for a standard rate.
    SerialLineSettings standard;
    standard.baud = 115200;
    ASSERT_EQ(device.Configure(standard), SerialStatus::kOk);
    termios seen{};
    ASSERT_EQ(tcgetattr(pty.slave(), &seen), 0);
    EXPECT_EQ(cfgetospeed(&seen), static_cast<speed_t>(B115200));
    EXPECT_EQ(cfgetispeed(&seen), static_cast<speed_t>(B115200));
}

TEST(SerialDeviceConfigure, InvalidSettingsAreRejectedAndChangeNothing) {
    PtyPair pty;
    SerialDevice device;
    ASSERT_EQ(device.Open(pty.path()), SerialStatus::kOk);
    SerialLineSettings good;
    good.baud = 57600;
    ASSERT_EQ(device.Configure(good), SerialStatus::kOk);
    SerialLineSettings bad = good;
    bad.data_bits = 9;
    EXPECT_EQ(device.Configure(bad), SerialStatus::kRejected);
    bad = good;
    bad.baud = 0;
    EXPECT_EQ(device.Configure(bad), SerialStatus::kRejected);
    bad = good;
    bad.stop_bits = SerialStopBits::kOneAndHalf;
    EXPECT_EQ(device.Configure(bad), SerialStatus::kRejected);
    EXPECT_EQ(device.requested(), good);
    SerialLineReadback line;
    ASSERT_EQ(device.ReadBack(line), SerialStatus::kOk);
    EXPECT_EQ(line.output_baud, 57600u);
}

TEST(SerialDeviceOpen, CloseRestoresTheLineAsFound) {
    PtyPair pty;
    termios before{};
    ASSERT_EQ(tcgetattr(pty.slave(), &before), 0);
    before.c_lflag |= ICANON | ECHO;
    before.c_iflag |= ICRNL;
    cfsetispeed(&before, B4800);
    cfsetospeed(&before, B4800);
    ASSERT_EQ(tcsetattr(pty.slave(), TCSANOW, &before), 0);
    ASSERT_EQ(tcgetattr(pty.slave(), &before), 0);

    SerialDevice device;
    ASSERT_EQ(device.Open(pty.path()), SerialStatus::kOk);
    SerialLineSettings settings;
    settings.baud = 250000;
    settings.flow = SerialFlow::kXonXoff;
    ASSERT_EQ(device.Configure(settings), SerialStatus::kOk);
    termios during{};
    ASSERT_EQ(tcgetattr(pty.slave(), &during), 0);
    EXPECT_EQ(during.c_lflag & (ICANON | ECHO), 0u);
    device.Close();
    EXPECT_FALSE(device.is_open());

    termios after{};
    ASSERT_EQ(tcgetattr(pty.slave(), &after), 0);
    EXPECT_EQ(after.c_iflag, before.c_iflag);
    EXPECT_EQ(after.c_oflag, before.c_oflag);
    EXPECT_EQ(after.c_cflag, before.c_cflag);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(cfgetospeed(&after), static_cast<speed_t>(B4800));
}

TEST(SerialDeviceOpen, SecondOpenOfTheSamePathIsBusy) {
    PtyPair pty;
    SerialDevice first;
    ASSERT_EQ(first.Open(pty.path()), SerialStatus::kOk);
    int exclusive = 0;
    ASSERT_EQ(ioctl(pty.slave(), TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 1);

    SerialDevice second;
    EXPECT_EQ(second.Open(pty.path()), SerialStatus::kOpenFailed);
    EXPECT_EQ(second.last_error().kind, ErrorKind::kBusy) << second.last_error().text;
    EXPECT_FALSE(second.is_open());

    first.Close();
    ASSERT_EQ(ioctl(pty.slave(), TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0);
    EXPECT_EQ(second.Open(pty.path()), SerialStatus::kOk) << second.last_error().text;
}

TEST(SerialDeviceOpen, MissingPathIsNotFound) {
    SerialDevice device;
    EXPECT_EQ(device.Open("/nonexistent-kem/ttyX"), SerialStatus::kOpenFailed);
    EXPECT_EQ(device.last_error().kind, ErrorKind::kNotFound);
    EXPECT_EQ(device.last_error().code, ENOENT);
    EXPECT_FALSE(device.is_open());
}

TEST(SerialDeviceOpen, NotATerminalCannotBeRead) {
    SerialDevice device;
    EXPECT_EQ(device.Open("/dev/null"), SerialStatus::kNotTerminal);
    EXPECT_EQ(device.last_error().code, ENOTTY);
    EXPECT_FALSE(device.is_open());

    char name[] = "/tmp/kem_serial_XXXXXX";
    const int fd = mkstemp(name);
    ASSERT_GE(fd, 0);
    close(fd);
    EXPECT_EQ(device.Open(name), SerialStatus::kNotTerminal);
    EXPECT_FALSE(device.is_open());
    std::remove(name);
}

TEST(SerialDeviceIo, BytesTravelBothWaysUnchanged) {
    PtyPair pty;
    SerialDevice device;
    ASSERT_EQ(device.Open(pty.path()), SerialStatus::kOk);
    ASSERT_EQ(device.Configure(SerialLineSettings{}), SerialStatus::kOk);

    uint8_t buffer[512];
    EXPECT_EQ(device.Read(buffer, sizeof buffer).status, SerialStatus::kWouldBlock);

    const std::vector<uint8_t> out = kem::testing::PatternBytes(256, 3);
    const SerialIo put = device.Write(out.data(), out.size());
    ASSERT_EQ(put.status, SerialStatus::kOk);
    ASSERT_EQ(put.count, out.size());
    std::vector<uint8_t> seen;
    ASSERT_EQ(pty.ReadMaster(seen, out.size()), out.size());
    EXPECT_EQ(seen, out);

    const std::vector<uint8_t> in = kem::testing::PatternBytes(256, 11);
    ASSERT_EQ(pty.WriteMaster(in.data(), in.size()), in.size());
    std::vector<uint8_t> got;
    ASSERT_TRUE(kem::testing::WaitUntil([&] {
        const SerialIo io = device.Read(buffer, sizeof buffer);
        if (io.status == SerialStatus::kOk) {
            got.insert(got.end(), buffer, buffer + io.count);
        }
        return got.size() >= in.size();
    }));
    EXPECT_EQ(got, in);
    EXPECT_EQ(device.Drain(1000), SerialStatus::kOk);
}

TEST(SerialDeviceIo, PurgeDiscardsWaitingInput) {
    PtyPair pty;
    SerialDevice device;
    ASSERT_EQ(device.Open(pty.path()), SerialStatus::kOk);
    ASSERT_EQ(device.Configure(SerialLineSettings{}), SerialStatus::kOk);
    ASSERT_EQ(pty.WriteMaster(std::string("stale")), 5u);
    pollfd p{device.descriptor(), POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 2000), 1);
    EXPECT_EQ(device.Purge(), SerialStatus::kOk);
    uint8_t buffer[16];
    EXPECT_EQ(device.Read(buffer, sizeof buffer).status, SerialStatus::kWouldBlock);
}

TEST(SerialDeviceIo, HangUpReadsAsGone) {
    PtyPair pty;
    SerialDevice device;
    ASSERT_EQ(device.Open(pty.path()), SerialStatus::kOk);
    ASSERT_EQ(device.Configure(SerialLineSettings{}), SerialStatus::kOk);
    pty.CloseMaster();
    uint8_t buffer[16];
    EXPECT_EQ(device.Read(buffer, sizeof buffer).status, SerialStatus::kGone);
    const SerialIo put = device.Write("x", 1);
    EXPECT_EQ(put.status, SerialStatus::kGone);
    EXPECT_EQ(put.error, EIO);
    SerialLineReadback line;
    EXPECT_EQ(device.ReadBack(line), SerialStatus::kGone);
    EXPECT_EQ(device.SetDtrControl(false), SerialStatus::kGone);
    EXPECT_TRUE(device.requested().dtr_enable);  // nothing changed
    device.Close();
    EXPECT_FALSE(device.is_open());
}

TEST(SerialDeviceLines, ModemLinesFailQuietlyOnAPseudoTerminal) {
    PtyPair pty;
    SerialDevice device;
    EXPECT_FALSE(device.SetDtr(true));  // closed
    EXPECT_EQ(device.SetDtrControl(true), SerialStatus::kNotOpen);
    ASSERT_EQ(device.Open(pty.path()), SerialStatus::kOk);
    SerialLineSettings settings;
    settings.dtr_enable = false;
    ASSERT_EQ(device.Configure(settings), SerialStatus::kOk);
    EXPECT_TRUE(device.SetDtr(true));
    EXPECT_TRUE(device.SetRts(false));
    EXPECT_EQ(device.SetDtrControl(true), SerialStatus::kOk);
    EXPECT_TRUE(device.requested().dtr_enable);
    EXPECT_EQ(device.SetDtrControl(false), SerialStatus::kOk);
    EXPECT_FALSE(device.requested().dtr_enable);
}

TEST(SerialDeviceIo, DrainOfAnEmptyQueueReturnsAtOnce) {
    PtyPair pty;
    SerialDevice device;
    EXPECT_EQ(device.Drain(100), SerialStatus::kNotOpen);
    ASSERT_EQ(device.Open(pty.path()), SerialStatus::kOk);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(device.Drain(1000), SerialStatus::kOk);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(900));
}

}  // namespace
}  // namespace kem::platform
