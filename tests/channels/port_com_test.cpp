// The serial channel on pseudo-terminals: port names, line settings reaching termios, opening
// and refusing, the read burst rules, kept bytes, writes both ways, hang-up and Close races.
#include "channels/port_com.h"

#include <gtest/gtest.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <ctime>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>
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
    using Policy = std::function<int32_t(int32_t count, int call)>;

    std::mutex mutex;
    Policy policy;  // empty: consume all
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
        const int32_t result = self->policy ? self->policy(count, call) : count;
        const int32_t used = result < 0 || result >= count ? count : result;
        self->consumed.insert(self->consumed.end(), data, data + used);
        if (self->deliveries.size() < 64) {
            self->deliveries.emplace_back(data, data + count);
        }
        self->path = port_path;
        self->largest = std::max(self->largest.load(), count);
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
    // Waits until `count` bytes in all were consumed.
    bool Await(size_t count, int timeout_ms = 5000) {
        return WaitUntil([&] { return total >= count; }, timeout_ms);
    }
};

std::vector<uint8_t> Bytes(const std::string& text) {
    return std::vector<uint8_t>(text.begin(), text.end());
}

// Process CPU time in milliseconds, all threads together.
double CpuMs() {
    return 1000.0 * static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
}

std::atomic<int> g_gone_calls{0};
void CountGone(void*) {
    ++g_gone_calls;
}

int32_t OpenOn(CKemPortCom& port, const PtyPair& pty, Recorder& recorder,
               const tagComPortParam& param = tagComPortParam{}) {
    port.m_pfnOnReceived = &Recorder::Thunk;
    port.m_pUser = &recorder;
    port.m_bDtrEnable = 1;
    port.m_bAutoOpen = 0;
    port.SetPortName(pty.path16().c_str());
    port.SetCommParam(param);
    return port.Open();
}

// A channel open on a fresh pseudo-terminal, recording what it delivers.
class PortComTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_gone_calls = 0;
        port_.m_pfnOnGone = &CountGone;
    }
    void Open(const tagComPortParam& param = tagComPortParam{}) {
        ASSERT_EQ(OpenOn(port_, pty_, recorder_, param), 1) << port_.last_error().text;
    }

    PtyPair pty_;
    Recorder recorder_;
    CKemPortCom port_;
};

// ---- names and pure helpers ------------------------------------------------------------

TEST(PortComNames, ComNumberFromNameAndDevicePath) {
    const std::pair<std::u16string, std::optional<int32_t>> rows[] = {
        {u"COM1", 1},  {u"com3", 3},     {u"CoM12", 12},        {u"cOM256", 256},
        {u"COM0", 0},  {u"COM300", 300}, {u"COM7x", 7},         {u"com99999999999", INT32_MAX},
        {u"COM", {}},  {u"com", {}},     {u"COMx", {}},         {u"COM 1", {}},
        {u"CON1", {}}, {u"xCOM1", {}},   {u"/dev/ttyUSB0", {}}, {u"", {}}};
    for (const auto& [name, number] : rows) {
        EXPECT_EQ(kem::channels::ComNumberFromName(name), number)
            << std::string(name.begin(), name.end());
    }
    EXPECT_EQ(kem::channels::ComDevicePath(1), u"/dev/ttyS0");
    EXPECT_EQ(kem::channels::ComDevicePath(10), u"/dev/ttyS9");
    EXPECT_EQ(kem::channels::ComDevicePath(256), u"/dev/ttyS255");
}

TEST(PortComNames, NamesAndNumbersSelectNumberOrPathAndClamp) {
    CKemPortCom port;
    EXPECT_EQ(port.port_number(), 1);
    struct Row {
        const char16_t* name;  // null: SetPortNumber(number_in)
        int32_t number_in, number;
        const char16_t* path;  // null: none held
    };
    // Applied in turn; a name that is no COM number is kept as a path beside the last number,
    // and setting the number it already has changes nothing.
    const Row rows[] = {{u"com3", 0, 3, nullptr},
                        {u"CoM12", 0, 12, nullptr},
                        {u"COMx", 0, 12, u"COMx"},
                        {u"/dev/ttyUSB0", 0, 12, u"/dev/ttyUSB0"},
                        {u"com", 0, 12, u"com"},
                        {u"COM0", 0, 1, nullptr},
                        {u"com999", 0, 256, nullptr},
                        {nullptr, 0, 1, nullptr},
                        {nullptr, 300, 256, nullptr},
                        {nullptr, -7, 1, nullptr},
                        {nullptr, 17, 17, nullptr},
                        {u"/dev/whatever", 0, 17, u"/dev/whatever"},
                        {nullptr, 17, 17, u"/dev/whatever"},
                        {nullptr, 18, 18, nullptr}};
    for (const Row& row : rows) {
        SCOPED_TRACE(&row - rows);
        EXPECT_EQ(row.name ? port.SetPortName(row.name) : port.SetPortNumber(row.number_in), 1);
        EXPECT_EQ(port.port_number(), row.number);
        EXPECT_EQ(port.port_path(), row.path ? std::optional<std::u16string>(row.path)
                                             : std::optional<std::u16string>());
    }
    EXPECT_EQ(port.SetPortName(nullptr), 1);
    EXPECT_FALSE(port.port_path().has_value());
}

TEST(PortComParam, UnknownCodesAndReadBurstRule) {
    // The codes in range reach termios in ParametersReachTheLine; unknown ones mean none.
    tagComPortParam param;
    param.nParity = 9;
    for (int32_t flow : {7, -1}) {
        param.nFlowControl = flow;
        const auto settings = kem::channels::LineSettingsFromParam(param, true);
        ASSERT_TRUE(settings.has_value());
        EXPECT_EQ(settings->parity, kem::platform::SerialParity::kNone);
        EXPECT_EQ(settings->flow, kem::platform::SerialFlow::kNone);
        EXPECT_TRUE(settings->dtr_enable);
    }

    param = tagComPortParam{};
    auto rule = kem::channels::ReadBurstRuleFromParam(param);
    EXPECT_TRUE(rule.immediate);
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
    param.ReadTotalTimeoutMultiplier = 0xFFFFFFFF;  // no overflow
    EXPECT_EQ(kem::channels::ReadBurstRuleFromParam(param).TotalMs(4096),
              0xFFFFFFFFull * 4096 + 30);
}

// ---- open and close --------------------------------------------------------------------

TEST_F(PortComTest, ClosedRefusesWritesThenOpenTwiceCloseAndRenameCloses) {
    EXPECT_EQ(port_.Close(), 0);  // safe when closed
    EXPECT_EQ(port_.Write("hello", 5), -2);
    EXPECT_EQ(port_.Send("hello", 5), -2);
    EXPECT_EQ(port_.Write(nullptr, 5), 0);
    EXPECT_EQ(port_.Write("hello", 0), 0);
    EXPECT_EQ(port_.Write("hello", -1), 0);
    EXPECT_EQ(port_.IsOpen(), 0);  // a write does not open it
    EXPECT_EQ(port_.device(), nullptr);
    Open();
    ASSERT_NE(port_.device(), nullptr);
    EXPECT_EQ(port_.Open(), 2);
    EXPECT_EQ(port_.IsOpen(), 1);
    EXPECT_EQ(port_.Close(), 0);
    EXPECT_EQ(port_.IsOpen(), 0);
    EXPECT_EQ(port_.device(), nullptr);
    EXPECT_EQ(port_.Close(), 0);
    EXPECT_EQ(port_.Open(), 1);
    // The same name keeps the port open, another one closes it.
    port_.SetPortName(pty_.path16().c_str());
    EXPECT_EQ(port_.IsOpen(), 1);
    port_.SetPortName(u"/dev/kem-other");
    EXPECT_EQ(port_.IsOpen(), 0);
    EXPECT_EQ(g_gone_calls, 0);  // Close is no loss of the device
}

TEST_F(PortComTest, OpenFailuresAreToldApartAndLeaveNothingHeld) {
    // Missing paths ("COMx" is opened verbatim, relative to the working folder), a device that
    // is no terminal, then settings the line cannot take: 1.5 stop bits only with 5 data bits,
    // 2 not with 5.
    const std::tuple<const char16_t*, uint32_t, int32_t, int32_t, int32_t, ErrorKind> rows[] = {
        {u"/nonexistent-kem/ttyX", 9600, 8, 0, 0, ErrorKind::kNotFound},
        {u"COMx", 9600, 8, 0, 0, ErrorKind::kNotFound},
        {u"/dev/null", 9600, 8, 0, -2, ErrorKind::kNone},
        {nullptr, 9600, 4, 0, -3, ErrorKind::kInvalid},
        {nullptr, 9600, 9, 0, -3, ErrorKind::kInvalid},
        {nullptr, 9600, 8, 3, -3, ErrorKind::kInvalid},
        {nullptr, 9600, 8, -1, -3, ErrorKind::kInvalid},
        {nullptr, 9600, 8, 1, -3, ErrorKind::kInvalid},
        {nullptr, 9600, 6, 1, -3, ErrorKind::kInvalid},
        {nullptr, 9600, 5, 2, -3, ErrorKind::kInvalid},
        {nullptr, 0, 8, 0, -3, ErrorKind::kInvalid}};
    for (const auto& [name, baud, bits, stop, result, kind] : rows) {
        SCOPED_TRACE(std::to_string(baud) + "," + std::to_string(bits) + "," +
                     std::to_string(stop));
        tagComPortParam param;
        param.dwBaudRate = baud;
        param.nByteSize = bits;
        param.nStopBits = stop;
        port_.SetPortName(name != nullptr ? name : pty_.path16().c_str());
        port_.SetCommParam(param);
        EXPECT_EQ(port_.Open(), result);
        if (kind != ErrorKind::kNone) {
            EXPECT_EQ(port_.last_error().kind, kind);
        }
        EXPECT_EQ(port_.IsOpen(), 0);
        EXPECT_EQ(port_.device(), nullptr);
    }
    // A port held by another channel is busy until that one is destroyed.
    auto first = std::make_unique<CKemPortCom>();
    ASSERT_EQ(OpenOn(*first, pty_, recorder_), 1);
    EXPECT_EQ(OpenOn(port_, pty_, recorder_), 0);
    EXPECT_EQ(port_.last_error().kind, ErrorKind::kBusy) << port_.last_error().text;
    EXPECT_EQ(port_.device(), nullptr);
    first.reset();
    int exclusive = 1;
    ASSERT_EQ(ioctl(pty_.slave(), TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0);
    EXPECT_EQ(port_.Open(), 1);
}

TEST_F(PortComTest, ParametersReachTheLineByOpenOrOnTheFly) {
    tagComPortParam param;
    port_.SetCommParam(param);
    EXPECT_EQ(port_.IsOpen(), 0);  // a closed port stays closed
    Open();
    int applied = 0;
    for (uint32_t baud : {110u, 9600u, 115200u, 250000u, 3000000u}) {
        for (int32_t bits = 5; bits <= 8; ++bits) {
            for (int32_t parity = 0; parity <= 4; ++parity) {
                for (int32_t stop = 0; stop <= 2; ++stop) {
                    if (stop != 0 && (stop == 1) != (bits == 5)) {
                        continue;  // refused, see BadParametersFailApplyingTheLine
                    }
                    SCOPED_TRACE(testing::Message()
                                 << baud << ',' << parity << ',' << bits << ',' << stop);
                    param.dwBaudRate = baud;
                    param.nByteSize = bits;
                    param.nParity = parity;
                    param.nStopBits = stop;
                    param.nFlowControl = (bits + parity) % 3;
                    // Every other one by Close and Open, the rest on the open port.
                    if (++applied % 2 == 0) {
                        port_.Close();
                        port_.SetCommParam(param);
                        ASSERT_EQ(port_.Open(), 1) << port_.last_error().text;
                    } else {
                        ASSERT_EQ(port_.SetCommParam(param), 0) << port_.last_error().text;
                        ASSERT_EQ(port_.IsOpen(), 1);
                    }
                    const auto& asked = port_.device()->requested();
                    EXPECT_EQ(std::tuple(asked.baud, asked.data_bits, int32_t(asked.parity),
                                         int32_t(asked.stop_bits), port_.param().dwBaudRate),
                              std::tuple(baud, bits, parity, stop, baud));
                    kem::platform::SerialLineReadback line;
                    ASSERT_EQ(port_.device()->ReadBack(line), kem::platform::SerialStatus::kOk);
                    EXPECT_EQ(line.output_baud, baud);
                    EXPECT_EQ(line.input_baud, baud);
                    EXPECT_EQ((line.cflag & CSTOPB) != 0, stop != 0);
                    EXPECT_EQ((line.cflag & CMSPAR) != 0, parity >= 3);
                    EXPECT_EQ((line.cflag & PARODD) != 0, parity == 1 || parity == 3);
                    EXPECT_EQ((line.cflag & CRTSCTS) != 0, param.nFlowControl == 1);
                    EXPECT_EQ((line.iflag & IXON) != 0, param.nFlowControl == 0);
                    EXPECT_EQ(line.lflag & (ICANON | ECHO | ISIG), 0u);
                }
            }
        }
    }
    EXPECT_EQ(applied, 5 * (4 * 5 * 2));
    // The reader works on the line as last set.
    ASSERT_EQ(pty_.WriteMaster(std::string("after")), 5u);
    ASSERT_TRUE(recorder_.Await(5));
    EXPECT_EQ(recorder_.Consumed(), Bytes("after"));
}

TEST_F(PortComTest, DtrIsStoredWhileClosedAndAppliedWhileOpen) {
    Open();  // with DTR on
    EXPECT_TRUE(port_.device()->requested().dtr_enable);
    EXPECT_EQ(port_.SetDtr(0), 0);
    EXPECT_FALSE(port_.device()->requested().dtr_enable);
    EXPECT_EQ(port_.SetDtr(1), 1);
    EXPECT_TRUE(port_.device()->requested().dtr_enable);
    port_.Close();
    EXPECT_EQ(port_.SetDtr(5), 1);
    EXPECT_EQ(port_.GetDtr(), 1);
    EXPECT_EQ(port_.SetDtr(0), 0);
    EXPECT_EQ(port_.m_bDtrEnable, 0);
    ASSERT_EQ(port_.Open(), 1);
    EXPECT_FALSE(port_.device()->requested().dtr_enable);
    EXPECT_EQ(port_.GetDtr(), 0);
}

// ---- receive path ----------------------------------------------------------------------

TEST_F(PortComTest, ManySizesArriveWholeAndInOrder) {
    Open();
    uint32_t seed = 0;
    for (size_t size : {1, 2, 3, 100, 4095, 4096, 4097, 10000, 65536, 1 << 20}) {
        {
            std::lock_guard lock(recorder_.mutex);
            recorder_.consumed.clear();
            recorder_.total = 0;
        }
        const std::vector<uint8_t> data = PatternBytes(size, ++seed);
        std::thread writer([&] { pty_.WriteMaster(data.data(), data.size(), 20000); });
        const bool arrived = recorder_.Await(size, 20000);
        writer.join();
        ASSERT_TRUE(arrived) << "size " << size << ": got " << recorder_.total.load();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        EXPECT_TRUE(recorder_.Consumed() == data) << "size " << size;
    }
    EXPECT_LE(recorder_.largest.load(), 4096);
    std::lock_guard lock(recorder_.mutex);
    EXPECT_EQ(recorder_.path, pty_.path16());
}

TEST_F(PortComTest, KeptBytesComeFirstAndOverConsumingTakesAll) {
    // Nothing taken until ten bytes are held, then three of them; then -1 and more than held,
    // which both take everything.
    std::atomic<int> stage{0};
    recorder_.SetPolicy([&](int32_t count, int) -> int32_t {
        if (stage == 0) {
            stage = count < 10 ? 0 : 1;
            return count < 10 ? 0 : 3;
        }
        return stage++ == 1 ? -1 : count + 100;
    });
    Open();
    const std::pair<std::string, size_t> steps[] = {
        {"01234", 0}, {"56789", 3}, {"X", 11}, {"two", 14}, {"three", 19}};
    for (const auto& [piece, total] : steps) {
        const int calls = recorder_.calls;
        ASSERT_EQ(pty_.WriteMaster(piece), piece.size());
        ASSERT_TRUE(WaitUntil([&] { return recorder_.calls > calls && recorder_.total == total; }))
            << piece;
    }
    EXPECT_EQ(recorder_.Consumed(), Bytes("0123456789Xtwothree"));
    const auto deliveries = recorder_.Deliveries();
    const auto at = std::find(deliveries.begin(), deliveries.end(), Bytes("0123456789"));
    ASSERT_NE(at, deliveries.end());
    EXPECT_NE(at, deliveries.begin());  // the earlier offer took nothing, so it came again
    ASSERT_NE(at + 1, deliveries.end());
    EXPECT_EQ(at[1], Bytes("3456789X"));
    for (auto later = at + 2; later != deliveries.end(); ++later) {
        EXPECT_LE(later->size(), 5u);  // nothing was kept after -1 or too many
    }
}

TEST_F(PortComTest, FullBufferKeptByTheCallbackIsOfferedAtAPace) {
    recorder_.SetPolicy([](int32_t, int) { return 0; });
    Open();
    const std::vector<uint8_t> data = PatternBytes(5000, 5);
    ASSERT_EQ(pty_.WriteMaster(data.data(), data.size()), data.size());
    ASSERT_TRUE(WaitUntil([&] { return recorder_.largest >= 4096; }));
    const int calls_before = recorder_.calls;
    const double cpu_before = CpuMs();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const int offers = recorder_.calls - calls_before;
    // One offer per 50 ms pause: about ten, nowhere near a spin.
    EXPECT_GE(offers, 3);
    EXPECT_LE(offers, 30);
    EXPECT_LT(CpuMs() - cpu_before, 250.0);
    EXPECT_EQ(recorder_.largest.load(), 4096);  // no byte beyond the buffer was read
    recorder_.SetPolicy({});
    ASSERT_TRUE(recorder_.Await(data.size()));
    EXPECT_TRUE(recorder_.Consumed() == data);
}

TEST_F(PortComTest, KeptBytesAreOfferedAgainOnAQuietLineWhenAsked) {
    std::atomic<bool> accept{false};
    recorder_.SetPolicy([&](int32_t count, int) { return accept ? count : 0; });
    port_.m_nKeptOfferMs = 20;
    Open();
    ASSERT_EQ(pty_.WriteMaster(std::string("quiet")), 5u);
    ASSERT_TRUE(WaitUntil([&] { return recorder_.calls >= 1; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_GE(recorder_.calls.load(), 4);
    EXPECT_LE(recorder_.calls.load(), 40);
    accept = true;
    ASSERT_TRUE(recorder_.Await(5, 2000));
    EXPECT_EQ(recorder_.Consumed(), Bytes("quiet"));
}

TEST_F(PortComTest, ReadTimeOutsStillDeliverEverything) {
    tagComPortParam param;
    param.ReadIntervalTimeout = 20;
    param.ReadTotalTimeoutMultiplier = 1;
    param.ReadTotalTimeoutConstant = 100;
    Open(param);
    const std::vector<uint8_t> data = PatternBytes(20000, 9);
    std::thread writer([&] {
        for (size_t at = 0; at < data.size(); at += 1000) {
            pty_.WriteMaster(data.data() + at, 1000);
            std::this_thread::sleep_for(std::chrono::milliseconds(3));
        }
    });
    const bool arrived = recorder_.Await(data.size(), 10000);
    writer.join();
    ASSERT_TRUE(arrived);
    EXPECT_TRUE(recorder_.Consumed() == data);
}

TEST_F(PortComTest, IntervalTimeOutJoinsBytesThatFollowClosely) {
    tagComPortParam param;
    param.ReadIntervalTimeout = 1000;  // each wait is still capped at 50 ms
    Open(param);
    // Two pieces 5 ms apart make one delivery; a few tries keep a loaded machine from
    // deciding the outcome.
    bool joined = false;
    for (int attempt = 0; attempt < 3 && !joined; ++attempt) {
        const int before = recorder_.calls;
        const size_t total = recorder_.total;
        ASSERT_EQ(pty_.WriteMaster(std::string("ab")), 2u);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        ASSERT_EQ(pty_.WriteMaster(std::string("cd")), 2u);
        ASSERT_TRUE(recorder_.Await(total + 4));
        joined = recorder_.calls == before + 1 && recorder_.Deliveries().back() == Bytes("abcd");
    }
    EXPECT_TRUE(joined);
}

// ---- write path ------------------------------------------------------------------------

TEST_F(PortComTest, BothDirectionsAtOnceByteExact) {
    Open();
    const std::vector<uint8_t> inbound = PatternBytes(300000, 1);
    const std::vector<uint8_t> outbound = PatternBytes(300000, 2);
    std::vector<uint8_t> seen;
    std::thread far_reader([&] { pty_.ReadMaster(seen, outbound.size(), 30000); });
    std::thread far_writer([&] { pty_.WriteMaster(inbound.data(), inbound.size(), 30000); });
    size_t sent = 0;
    bool failed = false;
    for (int turn = 0; sent < outbound.size() && !failed; ++turn) {
        const int32_t chunk = static_cast<int32_t>(std::min<size_t>(1000, outbound.size() - sent));
        // Send is Write under its other name: both carry the stream.
        const int32_t put = turn % 2 == 0 ? port_.Write(outbound.data() + sent, chunk)
                                          : port_.Send(outbound.data() + sent, chunk);
        failed = put != chunk;
        sent += failed ? 0 : static_cast<size_t>(put);
    }
    far_reader.join();
    far_writer.join();
    ASSERT_FALSE(failed) << "write failed after " << sent << " bytes";
    ASSERT_TRUE(recorder_.Await(inbound.size(), 20000));
    EXPECT_TRUE(seen == outbound);
    EXPECT_TRUE(recorder_.Consumed() == inbound);
}

TEST_F(PortComTest, StalledWriteFailsWithinTheBound) {
    Open();  // the master is never read: the line fills up
    port_.m_nWriteStallMs = 300;
    const std::vector<uint8_t> data = PatternBytes(1 << 20, 4);
    // First the stall bound, then the record's write time-outs instead of it.
    for (int round = 0; round < 2; ++round) {
        if (round == 1) {
            tagComPortParam param;
            param.WriteTotalTimeoutConstant = 200;
            port_.m_nWriteStallMs = 60000;
            port_.SetCommParam(param);
            ASSERT_EQ(port_.IsOpen(), 1);
        }
        const auto start = Clock::now();
        EXPECT_EQ(port_.Write(data.data(), static_cast<int32_t>(data.size())), -3);
        const auto spent = Clock::now() - start;
        EXPECT_GE(spent, std::chrono::milliseconds(round == 0 ? 250 : 150));
        EXPECT_LT(spent, std::chrono::seconds(3));
        EXPECT_EQ(port_.last_error().kind, ErrorKind::kTimeout);
        EXPECT_EQ(port_.IsOpen(), 1);
    }
}

// ---- ending ----------------------------------------------------------------------------

TEST_F(PortComTest, CloseWhileDataFlowsStopsDeliveriesAndIsNoLoss) {
    Open();
    std::atomic<bool> flowing{true};
    const std::vector<uint8_t> data = PatternBytes(1 << 16, 8);
    std::thread writer([&] {
        while (flowing) {
            pty_.WriteMaster(data.data(), data.size(), 100, [&] { return flowing.load(); });
        }
    });
    ASSERT_TRUE(WaitUntil([&] { return recorder_.total > 100000; }));
    const auto start = Clock::now();
    EXPECT_EQ(port_.Close(), 0);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));
    EXPECT_EQ(port_.IsOpen(), 0);
    const int calls = recorder_.calls;
    flowing = false;
    writer.join();
    pty_.CloseMaster();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(recorder_.calls.load(), calls);  // nothing delivered after Close
    EXPECT_EQ(g_gone_calls, 0);
    const std::vector<uint8_t> got = recorder_.Consumed();  // whatever arrived, in order
    ASSERT_GT(got.size(), 0u);
    for (size_t i = 0; i < got.size(); ++i) {
        ASSERT_EQ(got[i], data[i % data.size()]) << "byte " << i;
    }
}

TEST_F(PortComTest, HangUpCallsGoneOnceAfterTheLastBytesWithoutSpinning) {
    Open();
    ASSERT_EQ(pty_.WriteMaster(std::string("last words")), 10u);
    ASSERT_TRUE(recorder_.Await(10));
    EXPECT_EQ(g_gone_calls, 0);
    const double cpu_before = CpuMs();
    pty_.CloseMaster();
    ASSERT_TRUE(WaitUntil([&] { return g_gone_calls.load() == 1 && port_.IsOpen() == 0; }, 3000));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_LT(CpuMs() - cpu_before, 150.0);
    EXPECT_EQ(g_gone_calls, 1);
    EXPECT_NE(port_.device(), nullptr);  // held until Close
    EXPECT_EQ(port_.Write("x", 1), -2);
    EXPECT_EQ(recorder_.Consumed(), Bytes("last words"));
    EXPECT_EQ(port_.Close(), 0);
    EXPECT_EQ(port_.device(), nullptr);
    EXPECT_EQ(g_gone_calls, 1);
    EXPECT_EQ(port_.Open(), 0);  // the slave of a hung-up pair is gone for good
    EXPECT_EQ(port_.IsOpen(), 0);
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
    port.SetPortName(second.path16().c_str());
    ASSERT_EQ(port.Open(), 1) << port.last_error().text;
    ASSERT_EQ(second.WriteMaster(std::string("fresh")), 5u);
    ASSERT_TRUE(recorder.Await(5));
    EXPECT_EQ(recorder.Consumed(), Bytes("fresh"));
}

}  // namespace
