// The remote serial port against a real RFC 2217 server: ser2net serving a pseudo-terminal
// that the test holds. Skipped when ser2net is not installed.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "channels/rfc2217_port.h"
#include "platform/code_page.h"
#include "platform/socket.h"
#include "pty_pair.h"
#include "support/scratch_files.h"
#include "support/ser2net_process.h"

namespace {

namespace plat = kem::platform;
using kem::testing::PtyPair;
using kem::testing::Ser2netProcess;
using kem::testing::TempFolder;
using kem::testing::WaitUntil;

class Received {
public:
    void Install(CKemRfc2217Port& port) {
        port.m_pfnOnReceived = &OnReceived;
        port.m_pfnOnGone = &OnGone;
        port.m_pUser = this;
    }
    std::string data() const {
        std::lock_guard lock(mutex_);
        return data_;
    }
    int gone() const { return gone_.load(); }

private:
    static int32_t OnReceived(const char16_t*, const uint8_t* data, int32_t count, void* user) {
        auto* self = static_cast<Received*>(user);
        std::lock_guard lock(self->mutex_);
        self->data_.append(reinterpret_cast<const char*>(data), static_cast<size_t>(count));
        return count;
    }
    static void OnGone(void* user) { ++static_cast<Received*>(user)->gone_; }

    mutable std::mutex mutex_;
    std::string data_;
    std::atomic<int> gone_{0};
};

termios SlaveTermios(const PtyPair& pty) {
    termios settings{};
    tcgetattr(pty.slave(), &settings);
    return settings;
}

tagComPortParam Param(uint32_t baud, int32_t bits, int32_t parity, int32_t stop_bits) {
    tagComPortParam param;
    param.dwBaudRate = baud;
    param.nByteSize = bits;
    param.nParity = parity;
    param.nStopBits = stop_bits;
    param.nFlowControl = 2;  // none
    return param;
}

class Rfc2217Ser2net : public ::testing::Test {
protected:
    void SetUp() override {
        const auto program = Ser2netProcess::Find();
        if (!program) {
            GTEST_SKIP() << "ser2net is not installed (scripts/setup installs it)";
        }
        server_.emplace(*program, folder_.path());
        server_->Serve(pty_.path(), true);
        ASSERT_TRUE(server_->Start()) << server_->log();
    }

    TempFolder folder_;
    PtyPair pty_;
    std::optional<Ser2netProcess> server_;
};

}  // namespace

TEST_F(Rfc2217Ser2net, SettingsReachTheLineAndEveryByteValuePasses) {
    CKemRfc2217Port port;
    Received received;
    received.Install(port);
    port.m_nAckWaitMs = 1500;
    ASSERT_EQ(port.Open(server_->url(0), Param(57600, 7, 2, 2), true), CKemRfc2217Port::kOpened);
    // A Linux pseudo-terminal keeps the speed and the stop bits it is given; it drops the
    // character size and parity (it always reports CS8 without PARENB), so only those two
    // are checked here.
    EXPECT_TRUE(WaitUntil(
        [&] {
            const termios line = SlaveTermios(pty_);
            return cfgetospeed(&line) == B57600 && (line.c_cflag & CSTOPB) != 0;
        },
        5000))
        << server_->log();

    // New settings on the fly: the same connection, the line changes.
    ASSERT_EQ(port.SetCommParam(Param(115200, 8, 0, 0)), 0);
    EXPECT_TRUE(WaitUntil(
        [&] {
            const termios line = SlaveTermios(pty_);
            return cfgetospeed(&line) == B115200 && (line.c_cflag & CSTOPB) == 0;
        },
        5000));
    EXPECT_EQ(port.IsOpen(), 1);

    std::string all;
    for (int i = 0; i < 256; ++i) {
        all.push_back(static_cast<char>(i));
    }
    EXPECT_EQ(port.Write(all.data(), static_cast<int32_t>(all.size())), 256);
    std::vector<uint8_t> at_device;
    pty_.ReadMaster(at_device, 256, 5000);
    EXPECT_EQ(std::string(at_device.begin(), at_device.end()), all);

    ASSERT_EQ(pty_.WriteMaster(all.data(), all.size()), all.size());
    EXPECT_TRUE(WaitUntil([&] { return received.data().size() >= 256; }, 5000));
    EXPECT_EQ(received.data(), all);

    // The line settings were answered; none of them may be reported as missing. (Whether the
    // server answers DTR and RTS on a pseudo-terminal, which has no modem lines, is its own
    // business; those are not checked.)
    std::this_thread::sleep_for(std::chrono::milliseconds(1700));
    for (const std::u16string& name : port.Unconfirmed()) {
        EXPECT_EQ(name.rfind(u"SET-CONTROL(", 0), 0u) << kem::platform::WideToUtf8(name);
        EXPECT_NE(name, u"SET-CONTROL(FLOW)");
    }
    EXPECT_EQ(received.gone(), 0);
    port.Close();
}

TEST_F(Rfc2217Ser2net, ServerStoppingMidFlowEndsTheLink) {
    CKemRfc2217Port port;
    Received received;
    received.Install(port);
    ASSERT_EQ(port.Open(server_->url(0), Param(115200, 8, 0, 0), false), CKemRfc2217Port::kOpened);
    std::atomic<bool> streaming{true};
    std::thread writer([&] {
        const std::vector<uint8_t> chunk = kem::testing::PatternBytes(1024);
        while (streaming) {
            pty_.WriteMaster(chunk.data(), chunk.size(), 50, [&] { return streaming.load(); });
        }
    });
    EXPECT_TRUE(WaitUntil([&] { return received.data().size() >= 4096; }, 5000));
    server_->Stop();
    EXPECT_TRUE(WaitUntil([&] { return received.gone() == 1; }, 5000));
    streaming = false;
    writer.join();
    EXPECT_EQ(port.IsOpen(), 0);
    EXPECT_FALSE(port.last_reason().empty());
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(received.gone(), 1);
    EXPECT_EQ(port.Close(), 0);
}
