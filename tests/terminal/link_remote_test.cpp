// A remote serial port ("rfc2217://host:port") as the window's link, against a real ser2net
// serving a pseudo-terminal the test holds: the parameter text on the line, every byte value
// both ways, new parameters on the fly, settings the server leaves unconfirmed, and a server
// that goes away (a lost link, or a wait by the TCP rules that ends when it is back).
#include <termios.h>

#include <gtest/gtest.h>

#include <numeric>
#include <optional>
#include <string>
#include <vector>

#include "channels/net_test_support.h"
#include "channels/pty_pair.h"
#include "platform/code_page.h"
#include "support/scratch_files.h"
#include "support/ser2net_process.h"
#include "terminal/link_session.h"
#include "terminal/serial_param_text.h"
#include "terminal/session_window.h"

namespace {

using namespace kem::testing;

class LinkRemoteTest : public ::testing::Test {
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

    LinkSession& session() { return window_.session; }

    // The line as the server set it, once it shows `speed` and the stop bits asked for.
    bool LineShows(speed_t speed, bool two_stop_bits) {
        return window_.PumpUntil([&] { return pty_.LineHas(speed, two_stop_bits); }, 5000);
    }

    // Every byte value from the window to the device and back.
    void ExpectEveryByteBothWays() {
        std::string all(256, '\0');
        std::iota(all.begin(), all.end(), '\0');
        ASSERT_EQ(session().Send(reinterpret_cast<const uint8_t*>(all.data()), all.size()),
                  LinkSession::SendResult::kSent);
        std::vector<uint8_t> at_device;
        pty_.ReadMaster(at_device, all.size(), 5000);
        EXPECT_EQ(std::string(at_device.begin(), at_device.end()), all);

        window_.ForgetReceived();
        ASSERT_EQ(pty_.WriteMaster(all.data(), all.size()), all.size());
        EXPECT_TRUE(window_.PumpUntil([&] { return window_.received.size() >= all.size(); }, 5000));
        EXPECT_EQ(window_.received, all);
    }

    TempFolder folder_;
    PtyPair pty_;
    std::optional<Ser2netProcess> server_;
    SessionWindow window_;
};

TEST_F(LinkRemoteTest, ParameterTextReachesTheLineAndEveryByteValuePasses) {
    const OpenOutcome opened = session().Open(LinkType::kSerial, server_->url(0), u"57600,E,7,2");
    ASSERT_EQ(opened.opened, LinkType::kSerial) << kem::platform::WideToUtf8(opened.message);
    EXPECT_TRUE(session().IsRemote());
    EXPECT_EQ(session().State(), LinkState::kOpen);
    EXPECT_TRUE(session().CanLoopSend());
    // A pseudo-terminal keeps the speed and the stop bits; it reports 8 bits without parity
    // whatever it is given.
    EXPECT_TRUE(LineShows(B57600, true)) << server_->log();
    ExpectEveryByteBothWays();

    // New parameters go out on the same connection.
    const uint64_t link = session().current_link_id();
    ASSERT_TRUE(ParseComParam(u"115200,N,8,1", session().com_param(), false));
    const ApplyParamOutcome applied = session().ApplyComParam();
    EXPECT_FALSE(applied.reopened);
    EXPECT_FALSE(applied.failed);
    EXPECT_TRUE(LineShows(B115200, false));
    EXPECT_EQ(session().current_link_id(), link);
    ExpectEveryByteBothWays();

    // ser2net has no modem lines on a pseudo-terminal and never answers DTR and RTS: the
    // window hears of it and the link goes on.
    EXPECT_TRUE(window_.PumpUntil([&] { return window_.status >= 1; }, 5000));
    EXPECT_TRUE(session().Unconfirmed());
    EXPECT_EQ(session().State(), LinkState::kOpen);
    EXPECT_EQ(window_.lost(), 0);
    session().Close();
    EXPECT_FALSE(session().IsRemote());
    EXPECT_FALSE(session().Unconfirmed());
}

TEST_F(LinkRemoteTest, ServerGoneIsALostSerialLinkAndAnOpenFails) {
    ASSERT_EQ(session().Open(LinkType::kSerial, server_->url(0), u"115200,N,8,1").opened,
              LinkType::kSerial);
    server_->Stop();
    ASSERT_TRUE(window_.PumpUntil([&] { return window_.lost() == 1; }, 5000));
    EXPECT_EQ(session().State(), LinkState::kClosed);
    EXPECT_EQ(session().LostLinkMessage().rfind(u"串口已断开:" + server_->url(0), 0), 0u);
    EXPECT_EQ(session().Send(reinterpret_cast<const uint8_t*>("x"), 1),
              LinkSession::SendResult::kNotOpen);
    // Nobody on the port now: the open says so.
    const OpenOutcome opened = session().Open(LinkType::kSerial, server_->url(0), u"9600,N,8,1");
    EXPECT_EQ(opened.opened, LinkType::kNone);
    EXPECT_EQ(opened.message.rfind(u"打开串口失败(", 0), 0u);
    EXPECT_FALSE(session().IsRemote());
    EXPECT_EQ(session().State(), LinkState::kClosed);
}

TEST_F(LinkRemoteTest, ServerComingBackIsReconnectedWithTheSameSettings) {
    session().SetAutoReconnect(true);
    ASSERT_EQ(session().Open(LinkType::kSerial, server_->url(0), u"57600,N,8,2").opened,
              LinkType::kSerial);
    ASSERT_TRUE(LineShows(B57600, true));
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        server_->Stop();
        ASSERT_TRUE(window_.PumpUntil([&] { return session().IsWaiting(); }, 5000));
        EXPECT_EQ(session().State(), LinkState::kWaiting);
        EXPECT_TRUE(session().LostLinkMessage().empty());
        // The server's own reset of the line proves the settings are sent again.
        termios reset{};
        tcgetattr(pty_.slave(), &reset);
        cfsetospeed(&reset, B9600);
        cfsetispeed(&reset, B9600);
        tcsetattr(pty_.slave(), TCSANOW, &reset);

        ASSERT_TRUE(server_->Restart()) << server_->log();
        ASSERT_TRUE(window_.PumpUntil([&] { return session().IsOpen(); }, 15000));
        EXPECT_TRUE(session().IsRemote());
        EXPECT_TRUE(LineShows(B57600, true));
        ExpectEveryByteBothWays();
    }
    session().Close();
    EXPECT_FALSE(session().IsWaiting());
}

TEST(LinkRemoteBrokenServer, OverLongSubnegotiationCutsTheLinkAndSaysWhy) {
    TestListener listener;
    SessionWindow window;
    const std::string url = "rfc2217://127.0.0.1:" + std::to_string(listener.port());
    ASSERT_EQ(window.session
                  .Open(LinkType::kSerial, std::u16string(url.begin(), url.end()), u"9600,N,8,1")
                  .opened,
              LinkType::kSerial);
    TestSocket server = listener.Accept(3000);
    ASSERT_TRUE(server.valid());
    // IAC SB COM-PORT-OPTION and then far more than one subnegotiation may hold.
    ASSERT_TRUE(server.SendAll("\xFF\xFA\x2C" + std::string(4096, 'A')));
    ASSERT_TRUE(window.PumpUntil([&] { return window.lost() == 1; }, 5000));
    const std::u16string message = window.session.LostLinkMessage();
    EXPECT_EQ(message.rfind(u"串口已断开:" + std::u16string(url.begin(), url.end()), 0), 0u);
    EXPECT_NE(message.find(u"子协商过长"), std::u16string::npos)
        << kem::platform::WideToUtf8(message);
    EXPECT_EQ(window.session.State(), LinkState::kClosed);
}

}  // namespace
