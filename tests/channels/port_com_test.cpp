#include "channels/port_com.h"

#include <gtest/gtest.h>
#include <sys/ioctl.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "channels/pty_pair.h"

namespace {

using kem::platform::ErrorKind;
using kem::testing::PatternBytes;
using kem::testing::PtyPair;
using kem::testing::WaitUntil;
using Clock = std::chrono::steady_clock;

// Collects what the channel delivers; a policy decides how much of each delivery to consume.
struct Recorder {
    using Policy = std::function<int32_t(const uint8_t* data, int32_t count, int call)>;

    std::mutex mutex;
    Policy policy;  // empty: consume all
    bool keep_deliveries = false;
    std::vector<std::vector<uint8_t>> deliveries;
    std::vector<uint8_t> consumed;
    std::u16string path;
    std::atomic<int> calls{0};
    std::atomic<size_t> total{0};
    std::atomic<int32_t> largest{0};

    static int32_t Thunk(const char16_t* port_path, const uint8_t* data, int32_t count,
                         void* user) {
        auto* self = static_cast<Recorder*>(user);
        std::lock_guard lock(self->mutex);
        const int call = self->calls.load();
        const int32_t result = self->policy ? self->policy(data, count, call) : count;
        const int32_t used = result < 0 || result >= count ? count : result;
        self->consumed.insert(self->consumed.end(), data, data + used);
        if (self->keep_deliveries) {
            self->deliveries.emplace_back(data, data + count);
        }
        self->path = port_path;
        if (count > self->largest) {
            self->largest = count;
        }
        self->total += static_cast<size_t>(used);
        self->calls = call + 1;
        return result;
    }

    void SetPolicy(Policy next) {
        std::lock_guard lock(mutex);
        policy = std::move(next);
    }
    std::vector<uint8_t> Consumed() {
        std::lock_guard lock(mutex);
        return consumed;
    }
    std::vector<std::vector<uint8_t>> Deliveries() {
        std::lock_guard lock(mutex);
        return deliveries;
    }
};

std::vector<uint8_t> Bytes(const std::string& text) {
    return std::vector<uint8_t>(text.begin(), text.end());
}

// Process CPU time in milliseconds, all threads together.
double CpuMs() {
    return 1000.0 * static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
}

int32_t OpenOn(CKemPortCom& port, const PtyPair& pty, Recorder& recorder,
               const tagComPortParam& param = tagComPortParam{}) {
    port.m_pfnOnReceived = &Recorder::Thunk;
    port.m_pUser = &recorder;
    port.m_bDtrEnable = 1;
    port.m_bAutoOpen = 0;
    const std::u16string path = pty.path16();
    port.SetPortName(path.c_str());
    port.SetCommParam(param);
    return port.Open();
}

// ---- names and pure helpers ------------------------------------------------------------

TEST(PortComNames, ComNumberFromName) {
    struct Row {
        std::u16string name;
        std::optional<int32_t> number;
    };
    const Row rows[] = {
        {u"COM1", 1},  {u"com3", 3},     {u"CoM12", 12},        {u"cOM256", 256},
        {u"COM0", 0},  {u"COM300", 300}, {u"COM7x", 7},         {u"com99999999999", INT32_MAX},
        {u"COM", {}},  {u"com", {}},     {u"COMx", {}},         {u"COM 1", {}},
        {u"CON1", {}}, {u"xCOM1", {}},   {u"/dev/ttyUSB0", {}}, {u"", {}},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(kem::channels::ComNumberFromName(row.name), row.number)
            << std::string(row.name.begin(), row.name.end());
    }
}

TEST(PortComNames, ComDevicePath) {
    EXPECT_EQ(kem::channels::ComDevicePath(1), u"/dev/ttyS0");
    EXPECT_EQ(kem::channels::ComDevicePath(3), u"/dev/ttyS2");
    EXPECT_EQ(kem::channels::ComDevicePath(10), u"/dev/ttyS9");
    EXPECT_EQ(kem::channels::ComDevicePath(256), u"/dev/ttyS255");
}

TEST(PortComNames, SetPortNameSelectsNumberOrPath) {
    CKemPortCom port;
    EXPECT_EQ(port.port_number(), 1);
    EXPECT_FALSE(port.port_path().has_value());

    EXPECT_EQ(port.SetPortName(u"com3"), 1);
    EXPECT_EQ(port.port_number(), 3);
    EXPECT_FALSE(port.port_path().has_value());

    EXPECT_EQ(port.SetPortName(u"CoM12"), 1);
    EXPECT_EQ(port.port_number(), 12);

    EXPECT_EQ(port.SetPortName(u"COMx"), 1);
    ASSERT_TRUE(port.port_path().has_value());
    EXPECT_EQ(*port.port_path(), u"COMx");
    EXPECT_EQ(port.port_number(), 12);

    EXPECT_EQ(port.SetPortName(u"/dev/ttyUSB0"), 1);
    EXPECT_EQ(*port.port_path(), u"/dev/ttyUSB0");

    EXPECT_EQ(port.SetPortName(u"com"), 1);
    EXPECT_EQ(*port.port_path(), u"com");

    // A number drops the held path.
    EXPECT_EQ(port.SetPortName(u"COM0"), 1);
    EXPECT_EQ(port.port_number(), 1);
    EXPECT_FALSE(port.port_path().has_value());

    EXPECT_EQ(port.SetPortName(u"com999"), 1);
    EXPECT_EQ(port.port_number(), 256);

    EXPECT_EQ(port.SetPortName(nullptr), 1);
    EXPECT_FALSE(port.port_path().has_value());
}

TEST(PortComNames, SetPortNumberClamps) {
    CKemPortCom port;
    EXPECT_EQ(port.SetPortNumber(0), 1);
    EXPECT_EQ(port.port_number(), 1);
    EXPECT_EQ(port.SetPortNumber(300), 1);
    EXPECT_EQ(port.port_number(), 256);
    EXPECT_EQ(port.SetPortNumber(-7), 1);
    EXPECT_EQ(port.port_number(), 1);
    EXPECT_EQ(port.SetPortNumber(17), 1);
    EXPECT_EQ(port.port_number(), 17);

    port.SetPortName(u"/dev/whatever");
    EXPECT_TRUE(port.port_path().has_value());
    port.SetPortNumber(17);  // unchanged number: nothing happens
    EXPECT_TRUE(port.port_path().has_value());
    port.SetPortNumber(18);
    EXPECT_FALSE(port.port_path().has_value());
}

TEST(PortComParam, DefaultsAndLineSettings) {
    const tagComPortParam defaults;
    EXPECT_EQ(defaults.dwBaudRate, 9600u);
    EXPECT_EQ(defaults.nByteSize, 8);
    EXPECT_EQ(defaults.nParity, 0);
    EXPECT_EQ(defaults.nStopBits, 0);
    EXPECT_EQ(defaults.nFlowControl, 2);
    EXPECT_EQ(defaults.ReadIntervalTimeout, 0xFFFFFFFFu);
    EXPECT_EQ(defaults.ReadTotalTimeoutMultiplier, 0u);
    EXPECT_EQ(defaults.ReadTotalTimeoutConstant, 0u);
    EXPECT_EQ(defaults.WriteTotalTimeoutMultiplier, 0u);
    EXPECT_EQ(defaults.WriteTotalTimeoutConstant, 0u);

    using kem::platform::SerialFlow;
    using kem::platform::SerialParity;
    using kem::platform::SerialStopBits;
    struct Row {
        int32_t parity, stop, flow;
        SerialParity want_parity;
        SerialStopBits want_stop;
        SerialFlow want_flow;
    };
    const Row rows[] = {
        {0, 0, 2, SerialParity::kNone, SerialStopBits::kOne, SerialFlow::kNone},
        {1, 1, 0, SerialParity::kOdd, SerialStopBits::kOneAndHalf, SerialFlow::kXonXoff},
        {2, 2, 1, SerialParity::kEven, SerialStopBits::kTwo, SerialFlow::kRtsCts},
        {3, 0, 7, SerialParity::kMark, SerialStopBits::kOne, SerialFlow::kNone},
        {4, 0, -1, SerialParity::kSpace, SerialStopBits::kOne, SerialFlow::kNone},
        {9, 0, 2, SerialParity::kNone, SerialStopBits::kOne, SerialFlow::kNone},
    };
    for (const Row& row : rows) {
        tagComPortParam param;
        param.dwBaudRate = 250000;
        param.nByteSize = 7;
        param.nParity = row.parity;
        param.nStopBits = row.stop;
        param.nFlowControl = row.flow;
        const auto settings = kem::channels::LineSettingsFromParam(param, false);
        ASSERT_TRUE(settings.has_value()) << row.parity << "/" << row.stop << "/" << row.flow;
        EXPECT_EQ(settings->baud, 250000u);
        EXPECT_EQ(settings->data_bits, 7);
        EXPECT_EQ(settings->parity, row.want_parity);
        EXPECT_EQ(settings->stop_bits, row.want_stop);
        EXPECT_EQ(settings->flow, row.want_flow);
        EXPECT_FALSE(settings->dtr_enable);
    }
    tagComPortParam bad;
    bad.nStopBits = 3;
    EXPECT_FALSE(kem::channels::LineSettingsFromParam(bad, true).has_value());
    bad.nStopBits = -1;
    EXPECT_FALSE(kem::channels::LineSettingsFromParam(bad, true).has_value());
}

TEST(PortComParam, ReadBurstRule) {
    tagComPortParam param;
    auto rule = kem::channels::ReadBurstRuleFromParam(param);
    EXPECT_TRUE(rule.immediate);
    EXPECT_EQ(rule.interval_ms, 0u);
    EXPECT_EQ(rule.TotalMs(4096), 0u);

    param.ReadIntervalTimeout = 20;
    rule = kem::channels::ReadBurstRuleFromParam(param);
    EXPECT_FALSE(rule.immediate);
    EXPECT_EQ(rule.interval_ms, 20u);

    param.ReadIntervalTimeout = 0xFFFFFFFF;
    param.ReadTotalTimeoutMultiplier = 2;
    param.ReadTotalTimeoutConstant = 30;
    rule = kem::channels::ReadBurstRuleFromParam(param);
    EXPECT_FALSE(rule.immediate);
    EXPECT_EQ(rule.interval_ms, 0u);
    EXPECT_EQ(rule.TotalMs(100), 230u);

    param.ReadTotalTimeoutMultiplier = 0xFFFFFFFF;
    rule = kem::channels::ReadBurstRuleFromParam(param);
    EXPECT_EQ(rule.TotalMs(4096), 0xFFFFFFFFull * 4096 + 30);
}

// ---- open and close --------------------------------------------------------------------

TEST(PortComOpen, OpenTwiceThenClose) {
    PtyPair pty;
    Recorder recorder;
    CKemPortCom port;
    EXPECT_EQ(port.IsOpen(), 0);
    EXPECT_EQ(port.Close(), 0);  // safe when closed
    ASSERT_EQ(OpenOn(port, pty, recorder), 1) << port.last_error().text;
    EXPECT_EQ(port.IsOpen(), 1);
    ASSERT_NE(port.device(), nullptr);
    EXPECT_EQ(port.Open(), 2);
    EXPECT_EQ(port.IsOpen(), 1);
    EXPECT_EQ(port.Close(), 0);
    EXPECT_EQ(port.IsOpen(), 0);
    EXPECT_EQ(port.device(), nullptr);
    EXPECT_EQ(port.Close(), 0);
    // Open again after Close.
    EXPECT_EQ(port.Open(), 1);
    EXPECT_EQ(port.IsOpen(), 1);
}

TEST(PortComOpen, SameNameKeepsThePortOpenAnotherClosesIt) {
    PtyPair pty;
    Recorder recorder;
    CKemPortCom port;
    ASSERT_EQ(OpenOn(port, pty, recorder), 1);
    const std::u16string path = pty.path16();
    port.SetPortName(path.c_str());
    EXPECT_EQ(port.IsOpen(), 1);
    port.SetPortName(u"/dev/kem-other");
    EXPECT_EQ(port.IsOpen(), 0);
}

TEST(PortComOpen, DestructionReleasesThePort) {
    PtyPair pty;
    Recorder recorder;
    {
        CKemPortCom port;
        ASSERT_EQ(OpenOn(port, pty, recorder), 1);
    }
    int exclusive = 1;
    ASSERT_EQ(ioctl(pty.slave(), TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0);
    CKemPortCom again;
    EXPECT_EQ(OpenOn(again, pty, recorder), 1);
}

TEST(PortComOpen, BusyPortIsRefused) {
    PtyPair pty;
    Recorder recorder;
    CKemPortCom first;
    ASSERT_EQ(OpenOn(first, pty, recorder), 1);
    CKemPortCom second;
    EXPECT_EQ(OpenOn(second, pty, recorder), 0);
    EXPECT_EQ(second.last_error().kind, ErrorKind::kBusy) << second.last_error().text;
    EXPECT_EQ(second.IsOpen(), 0);
    EXPECT_EQ(second.device(), nullptr);
    EXPECT_EQ(first.IsOpen(), 1);
}

TEST(PortComOpen, MissingPathIsNotFound) {
    CKemPortCom port;
    port.SetPortName(u"/nonexistent-kem/ttyX");
    EXPECT_EQ(port.Open(), 0);
    EXPECT_EQ(port.last_error().kind, ErrorKind::kNotFound);
    EXPECT_EQ(port.IsOpen(), 0);

    port.SetPortName(u"COMx");  // opened verbatim, relative to the working folder
    EXPECT_EQ(port.Open(), 0);
    EXPECT_EQ(port.last_error().kind, ErrorKind::kNotFound);
}

TEST(PortComOpen, NotATerminalFailsReadingTheLine) {
    CKemPortCom port;
    port.SetPortName(u"/dev/null");
    EXPECT_EQ(port.Open(), -2);
    EXPECT_EQ(port.IsOpen(), 0);
    EXPECT_EQ(port.device(), nullptr);
}

TEST(PortComOpen, BadParametersFailApplyingTheLine) {
    PtyPair pty;
    Recorder recorder;
    struct Row {
        const char* name;
        uint32_t baud;
        int32_t bits, stop;
    };
    const Row rows[] = {
        {"4 data bits", 9600, 4, 0},   {"9 data bits", 9600, 9, 0}, {"stop bits 3", 9600, 8, 3},
        {"stop bits -1", 9600, 8, -1}, {"1.5 with 8", 9600, 8, 1},  {"1.5 with 6", 9600, 6, 1},
        {"2 with 5", 9600, 5, 2},      {"baud 0", 0, 8, 0},
    };
    CKemPortCom port;
    for (const Row& row : rows) {
        tagComPortParam param;
        param.dwBaudRate = row.baud;
        param.nByteSize = row.bits;
        param.nStopBits = row.stop;
        EXPECT_EQ(OpenOn(port, pty, recorder, param), -3) << row.name;
        EXPECT_EQ(port.IsOpen(), 0) << row.name;
        EXPECT_EQ(port.device(), nullptr) << row.name;
        EXPECT_EQ(port.last_error().kind, ErrorKind::kInvalid) << row.name;
    }
    // Nothing was left held: good parameters open the same path.
    EXPECT_EQ(OpenOn(port, pty, recorder), 1);
}

TEST(PortComOpen, ParametersReachTheLine) {
    PtyPair pty;
    Recorder recorder;
    CKemPortCom port;
    ASSERT_EQ(OpenOn(port, pty, recorder), 1);
    ASSERT_EQ(port.port_path(), pty.path16());
    const uint32_t bauds[] = {110, 9600, 115200, 250000, 3000000};
    int opened = 0;
    for (uint32_t baud : bauds) {
        for (int32_t bits = 5; bits <= 8; ++bits) {
            for (int32_t parity = 0; parity <= 4; ++parity) {
                for (int32_t stop = 0; stop <= 2; ++stop) {
                    const bool valid = stop == 0 || (stop == 1) == (bits == 5);
                    tagComPortParam param;
                    param.dwBaudRate = baud;
                    param.nByteSize = bits;
                    param.nParity = parity;
                    param.nStopBits = stop;
                    param.nFlowControl = (bits + parity) % 3;
                    port.Close();
                    port.SetCommParam(param);
                    const std::string what = std::to_string(baud) + "," + std::to_string(parity) +
                                             "," + std::to_string(bits) + "," +
                                             std::to_string(stop);
                    const int32_t result = port.Open();
                    if (!valid) {
                        EXPECT_EQ(result, -3) << what;
                        continue;
                    }
                    ASSERT_EQ(result, 1) << what << ": " << port.last_error().text;
                    ++opened;
                    const auto& asked = port.device()->requested();
                    EXPECT_EQ(asked.baud, baud) << what;
                    EXPECT_EQ(asked.data_bits, bits) << what;
                    EXPECT_EQ(static_cast<int32_t>(asked.parity), parity) << what;
                    EXPECT_EQ(static_cast<int32_t>(asked.stop_bits), stop) << what;
                    kem::platform::SerialLineReadback line;
                    ASSERT_EQ(port.device()->ReadBack(line), kem::platform::SerialStatus::kOk);
                    EXPECT_EQ(line.output_baud, baud) << what;
                    EXPECT_EQ(line.input_baud, baud) << what;
                    EXPECT_EQ((line.cflag & CSTOPB) != 0, stop != 0) << what;
                    EXPECT_EQ((line.cflag & CMSPAR) != 0, parity >= 3) << what;
                    EXPECT_EQ((line.cflag & PARODD) != 0, parity == 1 || parity == 3) << what;
                    EXPECT_EQ((line.cflag & CRTSCTS) != 0, param.nFlowControl == 1) << what;
                    EXPECT_EQ((line.iflag & IXON) != 0, param.nFlowControl == 0) << what;
                    EXPECT_EQ(line.lflag & (ICANON | ECHO | ISIG), 0u) << what;
                }
            }
        }
    }
    EXPECT_EQ(opened, 5 * (4 * 5 * 2));
}

TEST(PortComOpen, SetCommParamReopensAnOpenPort) {
    PtyPair pty;
    Recorder recorder;
    CKemPortCom port;
    tagComPortParam param;
    param.dwBaudRate = 9600;
    port.SetCommParam(param);
    EXPECT_EQ(port.IsOpen(), 0);  // a closed port stays closed
    ASSERT_EQ(OpenOn(port, pty, recorder), 1);

    param.dwBaudRate = 250000;
    param.nByteSize = 7;
    param.nParity = 3;
    param.nStopBits = 2;
    param.nFlowControl = 1;
    EXPECT_EQ(port.SetCommParam(param), 0);
    EXPECT_EQ(port.IsOpen(), 1);
    kem::platform::SerialLineReadback line;
    ASSERT_EQ(port.device()->ReadBack(line), kem::platform::SerialStatus::kOk);
    EXPECT_EQ(line.output_baud, 250000u);
    EXPECT_NE(line.cflag & CSTOPB, 0u);
    EXPECT_NE(line.cflag & CRTSCTS, 0u);
    EXPECT_EQ(line.cflag & (PARODD | CMSPAR), static_cast<tcflag_t>(PARODD | CMSPAR));
    EXPECT_EQ(port.device()->requested().data_bits, 7);
    EXPECT_EQ(port.param().dwBaudRate, 250000u);

    ASSERT_EQ(pty.WriteMaster(std::string("after")), 5u);
    ASSERT_TRUE(WaitUntil([&] { return recorder.total >= 5; }));
    EXPECT_EQ(recorder.Consumed(), Bytes("after"));
}

TEST(PortComDtr, ClosedChannelStoresTheSetting) {
    PtyPair pty;
    Recorder recorder;
    CKemPortCom port;
    port.m_bDtrEnable = 1;
    EXPECT_EQ(port.SetDtr(0), 0);
    EXPECT_EQ(port.m_bDtrEnable, 0);
    EXPECT_EQ(port.GetDtr(), 0);

    port.m_pfnOnReceived = &Recorder::Thunk;
    port.m_pUser = &recorder;
    const std::u16string path = pty.path16();
    port.SetPortName(path.c_str());
    ASSERT_EQ(port.Open(), 1);
    EXPECT_FALSE(port.device()->requested().dtr_enable);
    EXPECT_EQ(port.GetDtr(), 0);

    EXPECT_EQ(port.SetDtr(1), 1);
    EXPECT_TRUE(port.device()->requested().dtr_enable);
    EXPECT_EQ(port.GetDtr(), 1);
    EXPECT_EQ(port.SetDtr(0), 0);
    EXPECT_FALSE(port.device()->requested().dtr_enable);

    port.Close();
    EXPECT_EQ(port.SetDtr(5), 1);
    EXPECT_EQ(port.GetDtr(), 1);
}

// ---- receive path ----------------------------------------------------------------------

TEST(PortComRead, ManySizesArriveWholeAndInOrder) {
    PtyPair pty;
    Recorder recorder;
    CKemPortCom port;
    ASSERT_EQ(OpenOn(port, pty, recorder), 1);
    const size_t sizes[] = {1, 2, 3, 100, 4095, 4096, 4097, 10000, 65536, 1 << 20};
    uint32_t seed = 0;
    for (size_t size : sizes) {
        {
            std::lock_guard lock(recorder.mutex);
            recorder.consumed.clear();
            recorder.total = 0;
        }
        const std::vector<uint8_t> data = PatternBytes(size, ++seed);
        std::thread writer([&] { pty.WriteMaster(data.data(), data.size(), 20000); });
        const bool arrived = WaitUntil([&] { return recorder.total >= size; }, 20000);
        writer.join();
        ASSERT_TRUE(arrived) << "size " << size << ": got " << recorder.total.load();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        const std::vector<uint8_t> got = recorder.Consumed();
        ASSERT_EQ(got.size(), size);
        EXPECT_TRUE(got == data) << "size " << size;
    }
    EXPECT_LE(recorder.largest.load(), 4096);
    std::lock_guard lock(recorder.mutex);
    EXPECT_EQ(recorder.path, pty.path16());
}

TEST(PortComRead, KeptBytesComeFirstNextTime) {
    PtyPair pty;
    Recorder recorder;
    recorder.keep_deliveries = true;
    recorder.SetPolicy(
        [](const uint8_t*, int32_t count, int call) { return call == 0 ? 0 : count; });
    CKemPortCom port;
    ASSERT_EQ(OpenOn(port, pty, recorder), 1);
    ASSERT_EQ(pty.WriteMaster(std::string("abc")), 3u);
    ASSERT_TRUE(WaitUntil([&] { return recorder.calls >= 1; }));
    ASSERT_EQ(pty.WriteMaster(std::string("def")), 3u);
    ASSERT_TRUE(WaitUntil([&] { return recorder.total >= 6; }));
    const auto deliveries = recorder.Deliveries();
    ASSERT_GE(deliveries.size(), 2u);
    const auto& first = deliveries[0];
    const auto& second = deliveries[1];
    ASSERT_FALSE(first.empty());
    ASSERT_GT(second.size(), first.size());
    EXPECT_TRUE(std::equal(first.begin(), first.end(), second.begin()));
    EXPECT_EQ(recorder.Consumed(), Bytes("abcdef"));
}

TEST(PortComRead, PartlyConsumedBytesMoveToTheFront) {
    PtyPair pty;
    Recorder recorder;
    recorder.keep_deliveries = true;
    std::atomic<int> took_three_at{-1};
    recorder.SetPolicy([&](const uint8_t*, int32_t count, int call) -> int32_t {
        if (took_three_at >= 0) {
            return count;
        }
        if (count >= 10) {
            took_three_at = call;
            return 3;
        }
        return 0;
    });
    CKemPortCom port;
    ASSERT_EQ(OpenOn(port, pty, recorder), 1);
    ASSERT_EQ(pty.WriteMaster(std::string("0123456789")), 10u);
    ASSERT_TRUE(WaitUntil([&] { return took_three_at >= 0; }));
    ASSERT_EQ(pty.WriteMaster(std::string("X")), 1u);
    ASSERT_TRUE(WaitUntil([&] { return recorder.total >= 11; }));
    const auto deliveries = recorder.Deliveries();
    const size_t at = static_cast<size_t>(took_three_at.load());
    ASSERT_GT(deliveries.size(), at + 1);
    EXPECT_EQ(deliveries[at], Bytes("0123456789"));
    EXPECT_EQ(deliveries[at + 1], Bytes("3456789X"));
    EXPECT_EQ(recorder.Consumed(), Bytes("0123456789X"));
}

TEST(PortComRead, NegativeOrExcessiveResultConsumesAll) {
    PtyPair pty;
    Recorder recorder;
    recorder.keep_deliveries = true;
    recorder.SetPolicy(
        [](const uint8_t*, int32_t count, int call) { return call == 0 ? -1 : count + 100; });
    CKemPortCom port;
    ASSERT_EQ(OpenOn(port, pty, recorder), 1);
    ASSERT_EQ(pty.WriteMaster(std::string("one")), 3u);
    ASSERT_TRUE(WaitUntil([&] { return recorder.total >= 3; }));
    ASSERT_EQ(pty.WriteMaster(std::string("two")), 3u);
    ASSERT_TRUE(WaitUntil([&] { return recorder.total >= 6; }));
    ASSERT_EQ(pty.WriteMaster(std::string("three")), 5u);
    ASSERT_TRUE(WaitUntil([&] { return recorder.total >= 11; }));
    EXPECT_EQ(recorder.Consumed(), Bytes("onetwothree"));
    for (const auto& delivery : recorder.Deliveries()) {
        EXPECT_LE(delivery.size(), 5u);  // nothing was kept for a later delivery
    }
}

TEST(PortComRead, FullBufferKeptByTheCallbackIsOfferedAtAPace) {
    PtyPair pty;
    Recorder recorder;
    recorder.SetPolicy([](const uint8_t*, int32_t, int) { return 0; });
    CKemPortCom port;
    ASSERT_EQ(OpenOn(port, pty, recorder), 1);
    const std::vector<uint8_t> data = PatternBytes(5000, 5);
    ASSERT_EQ(pty.WriteMaster(data.data(), data.size()), data.size());
    ASSERT_TRUE(WaitUntil([&] { return recorder.largest >= 4096; }));

    const int calls_before = recorder.calls;
    const double cpu_before = CpuMs();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const int offers = recorder.calls - calls_before;
    const double cpu_used = CpuMs() - cpu_before;
    // One offer per 50 ms pause: about ten, nowhere near a spin.
    EXPECT_GE(offers, 3);
    EXPECT_LE(offers, 30);
    EXPECT_LT(cpu_used, 250.0);
    EXPECT_EQ(recorder.largest.load(), 4096);  // no byte beyond the buffer was read

    recorder.SetPolicy({});
    ASSERT_TRUE(WaitUntil([&] { return recorder.total >= data.size(); }));
    EXPECT_TRUE(recorder.Consumed() == data);
}

TEST(PortComRead, ReadTimeOutsStillDeliverEverything) {
    PtyPair pty;
    Recorder recorder;
    CKemPortCom port;
    tagComPortParam param;
    param.ReadIntervalTimeout = 20;
    param.ReadTotalTimeoutMultiplier = 1;
    param.ReadTotalTimeoutConstant = 100;
    ASSERT_EQ(OpenOn(port, pty, recorder, param), 1);
    const std::vector<uint8_t> data = PatternBytes(20000, 9);
    std::thread writer([&] {
        for (size_t at = 0; at < data.size(); at += 1000) {
            pty.WriteMaster(data.data() + at, 1000);
            std::this_thread::sleep_for(std::chrono::milliseconds(3));
        }
    });
    const bool arrived = WaitUntil([&] { return recorder.total >= data.size(); }, 10000);
    writer.join();
    ASSERT_TRUE(arrived);
    EXPECT_TRUE(recorder.Consumed() == data);
}

TEST(PortComRead, IntervalTimeOutJoinsBytesThatFollowClosely) {
    PtyPair pty;
    Recorder recorder;
    recorder.keep_deliveries = true;
    CKemPortCom port;
    tagComPortParam param;
    param.ReadIntervalTimeout = 1000;  // each wait is still capped at 50 ms
    ASSERT_EQ(OpenOn(port, pty, recorder, param), 1);
    // Two pieces 5 ms apart make one delivery; a few tries keep a loaded machine from
    // deciding the outcome.
    bool joined = false;
    for (int attempt = 0; attempt < 3 && !joined; ++attempt) {
        const int before = recorder.calls;
        const size_t total = recorder.total;
        ASSERT_EQ(pty.WriteMaster(std::string("ab")), 2u);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        ASSERT_EQ(pty.WriteMaster(std::string("cd")), 2u);
        ASSERT_TRUE(WaitUntil([&] { return recorder.total >= total + 4; }));
        const auto deliveries = recorder.Deliveries();
        joined = recorder.calls == before + 1 && deliveries.back() == Bytes("abcd");
    }
    EXPECT_TRUE(joined);
}

// ---- write path ------------------------------------------------------------------------

TEST(PortComWrite, ClosedChannelRefusesAndDoesNotOpen) {
    CKemPortCom port;
    const char data[] = "hello";
    EXPECT_EQ(port.Write(data, 5), -2);
    EXPECT_EQ(port.Send(data, 5), -2);
    EXPECT_EQ(port.Write(nullptr, 5), 0);
    EXPECT_EQ(port.Write(data, 0), 0);
    EXPECT_EQ(port.Write(data, -1), 0);
    EXPECT_EQ(port.IsOpen(), 0);
    EXPECT_EQ(port.device(), nullptr);
}

TEST(PortComWrite, WrittenBytesReachTheFarEnd) {
    PtyPair pty;
    Recorder recorder;
    CKemPortCom port;
    ASSERT_EQ(OpenOn(port, pty, recorder), 1);
    const std::vector<uint8_t> data = PatternBytes(3000, 21);
    EXPECT_EQ(port.Write(data.data(), static_cast<int32_t>(data.size())), 3000);
    std::vector<uint8_t> seen;
    ASSERT_EQ(pty.ReadMaster(seen, data.size()), data.size());
    EXPECT_TRUE(seen == data);
    EXPECT_EQ(port.Send("ok", 2), 2);
    seen.clear();
    ASSERT_EQ(pty.ReadMaster(seen, 2), 2u);
    EXPECT_EQ(seen, Bytes("ok"));
}

TEST(PortComWrite, BothDirectionsAtOnce) {
    PtyPair pty;
    Recorder recorder;
    CKemPortCom port;
    ASSERT_EQ(OpenOn(port, pty, recorder), 1);
    const std::vector<uint8_t> inbound = PatternBytes(300000, 1);
    const std::vector<uint8_t> outbound = PatternBytes(300000, 2);
    std::vector<uint8_t> seen;
    std::thread far_reader([&] { pty.ReadMaster(seen, outbound.size(), 30000); });
    std::thread far_writer([&] { pty.WriteMaster(inbound.data(), inbound.size(), 30000); });
    size_t sent = 0;
    bool failed = false;
    while (sent < outbound.size()) {
        const int32_t chunk = static_cast<int32_t>(std::min<size_t>(1000, outbound.size() - sent));
        const int32_t put = port.Write(outbound.data() + sent, chunk);
        if (put != chunk) {
            failed = true;
            break;
        }
        sent += static_cast<size_t>(put);
    }
    far_reader.join();
    far_writer.join();
    ASSERT_FALSE(failed) << "write failed after " << sent << " bytes";
    ASSERT_TRUE(WaitUntil([&] { return recorder.total >= inbound.size(); }, 20000));
    EXPECT_TRUE(seen == outbound);
    EXPECT_TRUE(recorder.Consumed() == inbound);
}

TEST(PortComWrite, StalledWriteFailsWithinTheBound) {
    PtyPair pty;  // the master is never read: the line fills up
    Recorder recorder;
    CKemPortCom port;
    ASSERT_EQ(OpenOn(port, pty, recorder), 1);
    port.m_nWriteStallMs = 300;
    const std::vector<uint8_t> data = PatternBytes(1 << 20, 4);
    auto start = Clock::now();
    EXPECT_EQ(port.Write(data.data(), static_cast<int32_t>(data.size())), -3);
    auto spent = Clock::now() - start;
    EXPECT_GE(spent, std::chrono::milliseconds(250));
    EXPECT_LT(spent, std::chrono::seconds(3));
    EXPECT_EQ(port.last_error().kind, ErrorKind::kTimeout);
    EXPECT_EQ(port.IsOpen(), 1);

    // With the record's write time-outs set, they bound the write instead.
    tagComPortParam param;
    param.WriteTotalTimeoutConstant = 200;
    port.m_nWriteStallMs = 60000;
    port.SetCommParam(param);
    ASSERT_EQ(port.IsOpen(), 1);
    start = Clock::now();
    EXPECT_EQ(port.Write(data.data(), static_cast<int32_t>(data.size())), -3);
    spent = Clock::now() - start;
    EXPECT_GE(spent, std::chrono::milliseconds(150));
    EXPECT_LT(spent, std::chrono::seconds(3));
    EXPECT_EQ(port.last_error().kind, ErrorKind::kTimeout);
}

// ---- ending ----------------------------------------------------------------------------

TEST(PortComClose, CloseWhileDataFlows) {
    PtyPair pty;
    Recorder recorder;
    CKemPortCom port;
    ASSERT_EQ(OpenOn(port, pty, recorder), 1);
    std::atomic<bool> flowing{true};
    const std::vector<uint8_t> data = PatternBytes(1 << 16, 8);
    std::thread writer([&] {
        while (flowing) {
            pty.WriteMaster(data.data(), data.size(), 100, [&] { return flowing.load(); });
        }
    });
    ASSERT_TRUE(WaitUntil([&] { return recorder.total > 100000; }));
    const auto start = Clock::now();
    EXPECT_EQ(port.Close(), 0);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));
    EXPECT_EQ(port.IsOpen(), 0);
    const int calls = recorder.calls;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(recorder.calls.load(), calls);  // nothing delivered after Close
    flowing = false;
    writer.join();
    // Whatever arrived, arrived in order.
    const std::vector<uint8_t> got = recorder.Consumed();
    ASSERT_GT(got.size(), 0u);
    for (size_t i = 0; i < got.size(); ++i) {
        ASSERT_EQ(got[i], data[i % data.size()]) << "byte " << i;
    }
}

TEST(PortComClose, HangUpEndsTheReaderWithoutSpinning) {
    PtyPair pty;
    Recorder recorder;
    CKemPortCom port;
    ASSERT_EQ(OpenOn(port, pty, recorder), 1);
    ASSERT_EQ(pty.WriteMaster(std::string("last words")), 10u);
    ASSERT_TRUE(WaitUntil([&] { return recorder.total >= 10; }));

    const double cpu_before = CpuMs();
    pty.CloseMaster();
    ASSERT_TRUE(WaitUntil([&] { return port.IsOpen() == 0; }, 2000));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_LT(CpuMs() - cpu_before, 150.0);
    EXPECT_EQ(port.IsOpen(), 0);
    EXPECT_NE(port.device(), nullptr);  // held until Close
    EXPECT_EQ(port.Write("x", 1), -2);
    EXPECT_EQ(recorder.Consumed(), Bytes("last words"));

    EXPECT_EQ(port.Close(), 0);
    EXPECT_EQ(port.device(), nullptr);
    // The slave of a hung-up pair is gone for good.
    EXPECT_EQ(port.Open(), 0);
    EXPECT_EQ(port.IsOpen(), 0);
}

TEST(PortComClose, OpenAfterTheReaderEndedOpensAfresh) {
    Recorder recorder;
    CKemPortCom port;
    auto first = std::make_unique<PtyPair>();
    ASSERT_EQ(OpenOn(port, *first, recorder), 1);
    first->CloseMaster();
    ASSERT_TRUE(WaitUntil([&] { return port.IsOpen() == 0; }, 2000));
    // A new pair may take the same pts number; the stale descriptor must not be reused.
    first.reset();
    PtyPair second;
    const std::u16string path = second.path16();
    port.SetPortName(path.c_str());
    ASSERT_EQ(port.Open(), 1) << port.last_error().text;
    ASSERT_EQ(second.WriteMaster(std::string("fresh")), 5u);
    ASSERT_TRUE(WaitUntil([&] { return recorder.total >= 5; }));
    EXPECT_EQ(recorder.Consumed(), Bytes("fresh"));
}

}  // namespace

// ---- gone call-back and re-offer of kept bytes -------------------------------------------

namespace {

std::atomic<int> g_gone_calls{0};
void CountGone(void*) {
    ++g_gone_calls;
}

}  // namespace

TEST(PortComGone, HangUpCallsTheGoneCallbackOnceAfterTheLastBytes) {
    PtyPair pty;
    Recorder recorder;
    CKemPortCom port;
    g_gone_calls = 0;
    port.m_pfnOnGone = &CountGone;
    ASSERT_EQ(OpenOn(port, pty, recorder), 1);
    ASSERT_EQ(pty.WriteMaster(std::string("final")), 5u);
    ASSERT_TRUE(WaitUntil([&] { return recorder.total >= 5; }));
    EXPECT_EQ(g_gone_calls, 0);
    pty.CloseMaster();
    ASSERT_TRUE(WaitUntil([&] { return g_gone_calls.load() == 1; }, 3000));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(g_gone_calls, 1);
    EXPECT_EQ(recorder.Consumed(), Bytes("final"));
    port.Close();
    EXPECT_EQ(g_gone_calls, 1);
}

TEST(PortComGone, CloseDoesNotCallTheGoneCallback) {
    PtyPair pty;
    Recorder recorder;
    CKemPortCom port;
    g_gone_calls = 0;
    port.m_pfnOnGone = &CountGone;
    ASSERT_EQ(OpenOn(port, pty, recorder), 1);
    port.Close();
    pty.CloseMaster();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(g_gone_calls, 0);
}

TEST(PortComRead, KeptBytesAreOfferedAgainOnAQuietLineWhenAsked) {
    PtyPair pty;
    Recorder recorder;
    std::atomic<bool> accept{false};
    recorder.SetPolicy([&](const uint8_t*, int32_t count, int) { return accept ? count : 0; });
    CKemPortCom port;
    port.m_nKeptOfferMs = 20;
    ASSERT_EQ(OpenOn(port, pty, recorder), 1);
    ASSERT_EQ(pty.WriteMaster(std::string("quiet")), 5u);
    ASSERT_TRUE(WaitUntil([&] { return recorder.calls >= 1; }));
    // The line stays quiet, yet the kept bytes come again at the pace asked for.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_GE(recorder.calls.load(), 4);
    EXPECT_LE(recorder.calls.load(), 40);
    accept = true;
    ASSERT_TRUE(WaitUntil([&] { return recorder.total >= 5; }, 2000));
    EXPECT_EQ(recorder.Consumed(), Bytes("quiet"));
}
