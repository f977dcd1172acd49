// A remote serial port typed into the port box, as the user meets it: the window opens it like a
// local port, shows what the device sends, sends what is typed, and marks its title while the
// server leaves settings unconfirmed (ser2net never answers DTR and RTS on a pseudo-terminal).
#include <termios.h>

#include "gui/main_window_support.h"
#include "support/ser2net_process.h"

namespace {

using kem::testing::PtyPair;
using kem::testing::Ser2netProcess;

TEST_F(MainWindowTest, RemoteSerialPortWorksLikeALocalOneAndMarksUnconfirmedSettings) {
    const auto program = Ser2netProcess::Find();
    if (!program) {
        GTEST_SKIP() << "ser2net is not installed (scripts/setup installs it)";
    }
    PtyPair pty;
    kem::testing::TempFolder folder;
    Ser2netProcess server(*program, folder.path());
    server.Serve(pty.path(), true);
    ASSERT_TRUE(server.Start()) << server.log();

    SetField(g_AppConfig.ComPortName, server.url(0));
    SetField(g_AppConfig.ComPortParam, u"57600,N,8,1");
    MakeWindow();
    Click(ids::kOpen);
    ASSERT_TRUE(window().link().IsOpen());
    EXPECT_TRUE(window().link().IsRemote());
    EXPECT_EQ(ButtonText(ids::kOpen), QStringLiteral("关闭"));
    EXPECT_TRUE(Find(ids::kBaudRate)->isEnabled()) << "serial choices stay available";

    // ser2net takes the line over once the window is connected: raw, at the speed asked for.
    // Bytes written before that would meet the pty's own echo.
    ASSERT_TRUE(Wait([&] {
        termios line{};
        tcgetattr(pty.slave(), &line);
        return cfgetospeed(&line) == B57600 && (line.c_lflag & ECHO) == 0;
    }));
    pty.WriteMaster(std::string("from afar\xFF"));
    ASSERT_TRUE(Wait([&] { return window().traffic().RxCount() >= 10; }));
    EXPECT_EQ(Queued(true), "from afar\xFF");

    SetInput(QStringLiteral("\\xFFok"));
    Click(ids::kSend);
    EXPECT_EQ(PtyGot(pty, 5), "\xFFok\r\n");

    ASSERT_TRUE(Wait(
        [&] { return window().windowTitle().endsWith(QStringLiteral(" [参数未确认]")); }, 5000))
        << window().windowTitle().toStdString();
    EXPECT_TRUE(dialogs_.shown.empty());

    // Closing ends the mark with the link.
    Click(ids::kOpen);
    EXPECT_FALSE(window().windowTitle().contains(QStringLiteral("[参数未确认]")));
}

}  // namespace
