// Serial devices on real pseudo-terminals: line settings as composed and as the driver keeps
// them (odd rates through termios2), exclusive opens, raw bytes both ways, hang-ups, errno.
#include "platform/serial_device.h"

#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <termios.h>

#include <chrono>
#include <string>
#include <tuple>
#include <vector>

#include "channels/pty_pair.h"
#include "platform/serial_termios2.h"
#include "support/scratch_files.h"

namespace kem::platform {
namespace {

std::string Describe(const SerialLineSettings& s) {
    return "baud " + std::to_string(s.baud) + ", data " + std::to_string(s.data_bits) +
           ", parity " + std::to_string(static_cast<int>(s.parity)) + ", stop " +
           std::to_string(static_cast<int>(s.stop_bits)) + ", flow " +
           std::to_string(static_cast<int>(s.flow));
}

// The flags both the composed line and a pseudo-terminal's copy of it must carry.
void ExpectLineKept(const SerialLineReadback& line, const SerialLineSettings& s) {
    const bool odd_or_mark = s.parity == SerialParity::kOdd || s.parity == SerialParity::kMark;
    const bool sticky = s.parity == SerialParity::kMark || s.parity == SerialParity::kSpace;
    EXPECT_EQ(line.output_baud, s.baud);
    EXPECT_EQ(line.input_baud, s.baud);
    EXPECT_EQ((line.cflag & PARODD) != 0, odd_or_mark);
    EXPECT_EQ((line.cflag & CMSPAR) != 0, sticky);
    EXPECT_EQ((line.cflag & CSTOPB) != 0, s.stop_bits != SerialStopBits::kOne);
    EXPECT_EQ((line.cflag & CRTSCTS) != 0, s.flow == SerialFlow::kRtsCts);
    EXPECT_EQ(line.iflag & (IXON | IXOFF), s.flow == SerialFlow::kXonXoff ? (IXON | IXOFF) : 0u);
    EXPECT_EQ(line.vstart, 0x11);
    EXPECT_EQ(line.vstop, 0x13);
}

// A pseudo-terminal whose slave the device under test has open.
class SerialDeviceTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(device_.Open(pty_.path()), SerialStatus::kOk) << device_.last_error().text;
    }
    kem::testing::PtyPair pty_;
    SerialDevice device_;
};

// Every rate (with 0), size (4 to 9 bits), parity, stop setting and flow, first as composed for
// the driver (where size and parity enable show), then as a pseudo-terminal keeps it (CS8, no
// PARENB); invalid ones are refused and change nothing.
TEST_F(SerialDeviceTest, EveryCombinationIsComposedAndKeptOrRefused) {
    int checked = 0;
    SerialLineSettings last_good = device_.requested();
    for (const uint32_t baud : {0u, 50u, 9600u, 115200u, 250000u, 3000000u, 1234567u}) {
        for (int i = 0; i < 6 * 5 * 3 * 3; ++i) {
            const SerialLineSettings s{baud,
                                       4 + i % 6,
                                       static_cast<SerialParity>(i / 6 % 5),
                                       static_cast<SerialStopBits>(i / 30 % 3),
                                       static_cast<SerialFlow>(i / 90),
                                       i % 2 == 0};
            SCOPED_TRACE(Describe(s));
            if (!ValidLineSettings(s)) {
                EXPECT_EQ(device_.Configure(s), SerialStatus::kRejected);
                EXPECT_EQ(device_.last_error().kind, ErrorKind::kInvalid);
                EXPECT_EQ(device_.requested(), last_good);
                continue;
            }
            const SerialLineReadback composed = termios2::ComposeLine(s);
            ExpectLineKept(composed, s);
            const tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
            const tcflag_t parity = s.parity == SerialParity::kNone ? 0 : PARENB;
            EXPECT_EQ(composed.cflag & (CSIZE | PARENB | CREAD | CLOCAL),
                      sizes[s.data_bits - 5] | parity | CREAD | CLOCAL);
            EXPECT_EQ((composed.iflag & INPCK) != 0, parity != 0);
            // Raw: nothing translated, echoed or turned into a signal.
            EXPECT_EQ(composed.iflag &
                          (ICRNL | INLCR | IGNCR | ISTRIP | IXANY | PARMRK | BRKINT | IGNBRK),
                      0u);
            EXPECT_EQ(composed.oflag | composed.lflag, 0u);
            EXPECT_EQ(composed.vmin, 1);
            EXPECT_EQ(composed.vtime, 0);

            ASSERT_EQ(device_.Configure(s), SerialStatus::kOk) << device_.last_error().text;
            EXPECT_EQ(device_.requested(), s);
            SerialLineReadback kept;
            ASSERT_EQ(device_.ReadBack(kept), SerialStatus::kOk);
            ExpectLineKept(kept, s);
            EXPECT_EQ(kept.cflag & (CSIZE | PARENB), static_cast<tcflag_t>(CS8));
            EXPECT_EQ(kept.lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
            EXPECT_EQ(kept.oflag & OPOST, 0u);
            last_good = s;
            ++checked;
        }
    }
    EXPECT_EQ(checked, 6 * 4 * 5 * 2 * 3);  // 1.5 stop bits only with 5 data bits
    // glibc's own view of the line agrees for a standard rate.
    ASSERT_EQ(device_.Configure({115200}), SerialStatus::kOk);
    termios seen{};
    ASSERT_EQ(tcgetattr(pty_.slave(), &seen), 0);
    EXPECT_EQ(cfgetospeed(&seen), static_cast<speed_t>(B115200));
    EXPECT_EQ(cfgetispeed(&seen), static_cast<speed_t>(B115200));
}

TEST(SerialDeviceOpen, CloseRestoresTheLineAsFound) {
    kem::testing::PtyPair pty;
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
    ASSERT_EQ(device.Configure(
                  {250000, 8, SerialParity::kNone, SerialStopBits::kOne, SerialFlow::kXonXoff}),
              SerialStatus::kOk);
    termios during{};
    ASSERT_EQ(tcgetattr(pty.slave(), &during), 0);
    EXPECT_EQ(during.c_lflag & (ICANON | ECHO), 0u);
    device.Close();
    EXPECT_FALSE(device.is_open());
    termios after{};
    ASSERT_EQ(tcgetattr(pty.slave(), &after), 0);
    EXPECT_EQ(std::tie(after.c_iflag, after.c_oflag, after.c_cflag, after.c_lflag),
              std::tie(before.c_iflag, before.c_oflag, before.c_cflag, before.c_lflag));
    EXPECT_EQ(cfgetospeed(&after), static_cast<speed_t>(B4800));
}

TEST_F(SerialDeviceTest, SecondOpenOfTheSamePathIsBusyUntilTheFirstCloses) {
    int exclusive = 0;
    ASSERT_EQ(ioctl(pty_.slave(), TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 1);
    SerialDevice second;
    EXPECT_EQ(second.Open(pty_.path()), SerialStatus::kOpenFailed);
    EXPECT_EQ(second.last_error().kind, ErrorKind::kBusy) << second.last_error().text;
    EXPECT_FALSE(second.is_open());
    device_.Close();
    ASSERT_EQ(ioctl(pty_.slave(), TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0);
    EXPECT_EQ(second.Open(pty_.path()), SerialStatus::kOk) << second.last_error().text;
}

TEST(SerialDeviceOpen, MissingPathsAndNonTerminalsFailWithTheirErrno) {
    const kem::testing::TempFolder folder;
    kem::testing::WriteBytes(folder / "file", "");
    const std::pair<std::string, int> rows[] = {
        {"/nonexistent-kem/ttyX", ENOENT}, {"/dev/null", ENOTTY}, {folder / "file", ENOTTY}};
    for (const auto& [path, code] : rows) {
        SerialDevice device;
        EXPECT_EQ(device.Open(path),
                  code == ENOENT ? SerialStatus::kOpenFailed : SerialStatus::kNotTerminal)
            << path;
        EXPECT_EQ(device.last_error().code, code) << path;
        EXPECT_FALSE(device.is_open()) << path;
    }
}

TEST_F(SerialDeviceTest, BytesTravelBothWaysUnchangedAndPurgeDropsWaitingInput) {
    ASSERT_EQ(device_.Configure(SerialLineSettings{}), SerialStatus::kOk);
    uint8_t buffer[512];
    EXPECT_EQ(device_.Read(buffer, sizeof buffer).status, SerialStatus::kWouldBlock);
    const auto start = std::chrono::steady_clock::now();  // nothing queued: no wait
    EXPECT_EQ(device_.Drain(1000), SerialStatus::kOk);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(900));

    const std::vector<uint8_t> out = kem::testing::PatternBytes(256, 3);
    const SerialIo put = device_.Write(out.data(), out.size());
    ASSERT_EQ(put.status, SerialStatus::kOk);
    ASSERT_EQ(put.count, out.size());
    std::vector<uint8_t> seen;
    ASSERT_EQ(pty_.ReadMaster(seen, out.size()), out.size());
    EXPECT_EQ(seen, out);
    const std::vector<uint8_t> in = kem::testing::PatternBytes(256, 11);
    ASSERT_EQ(pty_.WriteMaster(in.data(), in.size()), in.size());
    std::vector<uint8_t> got;
    ASSERT_TRUE(kem::testing::WaitUntil([&] {
        const SerialIo io = device_.Read(buffer, sizeof buffer);
        if (io.status == SerialStatus::kOk) {
            got.insert(got.end(), buffer, buffer + io.count);
        }
        return got.size() >= in.size();
    }));
    EXPECT_EQ(got, in);
    EXPECT_EQ(device_.Drain(1000), SerialStatus::kOk);

    ASSERT_EQ(pty_.WriteMaster(std::string("stale")), 5u);
    pollfd p{device_.descriptor(), POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 2000), 1);
    EXPECT_EQ(device_.Purge(), SerialStatus::kOk);
    EXPECT_EQ(device_.Read(buffer, sizeof buffer).status, SerialStatus::kWouldBlock);
}

// Modem lines cannot be set on a pty, which must not fail; after a hang-up everything is gone.
TEST_F(SerialDeviceTest, ModemLinesFailQuietlyThenAHangUpReadsAsGone) {
    SerialDevice closed;
    EXPECT_FALSE(closed.SetDtr(true));
    EXPECT_EQ(closed.SetDtrControl(true), SerialStatus::kNotOpen);
    EXPECT_EQ(closed.Drain(100), SerialStatus::kNotOpen);
    ASSERT_EQ(device_.Configure(SerialLineSettings{}), SerialStatus::kOk);
    EXPECT_TRUE(device_.SetDtr(true));
    EXPECT_TRUE(device_.SetRts(false));
    EXPECT_EQ(device_.SetDtrControl(false), SerialStatus::kOk);
    EXPECT_FALSE(device_.requested().dtr_enable);
    EXPECT_EQ(device_.SetDtrControl(true), SerialStatus::kOk);
    EXPECT_TRUE(device_.requested().dtr_enable);

    pty_.CloseMaster();
    uint8_t buffer[16];
    EXPECT_EQ(device_.Read(buffer, sizeof buffer).status, SerialStatus::kGone);
    const SerialIo put = device_.Write("x", 1);
    EXPECT_EQ(put.status, SerialStatus::kGone);
    EXPECT_EQ(put.error, EIO);
    SerialLineReadback line;
    EXPECT_EQ(device_.ReadBack(line), SerialStatus::kGone);
    EXPECT_EQ(device_.SetDtrControl(false), SerialStatus::kGone);
    EXPECT_TRUE(device_.requested().dtr_enable);  // nothing changed
    device_.Close();
    EXPECT_FALSE(device_.is_open());
}

}  // namespace
}  // namespace kem::platform
