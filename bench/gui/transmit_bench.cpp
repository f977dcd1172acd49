// Port forwarding under a flood, offscreen: a TCP peer sends as fast as it can to a stand-in
// main link (a LinkSession drained on the window's thread as the main window drains its own),
// every block goes through CDlgTransmit::Relay to a TCP client second link, and a second peer
// receives and checks every byte in order. Prints the end-to-end rate. Target: the forwarding
// window keeps up with a loopback flood at well above serial speeds (at least 50 MB/s).
// Usage: transmit_bench [MiB to send, default 256]
#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QLineEdit>
#include <QPushButton>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/socket.h"
#include "settings/app_config.h"
#include "settings/profile_base.h"
#include "terminal/link_session.h"
#include "terminal/user_dialogs.h"
#include "ui/transmit_dialog.h"

namespace {

namespace plat = kem::platform;

uint8_t PatternByte(uint64_t index) {
    return static_cast<uint8_t>(index % 251);
}

// Answers every question with OK and prints it: a flood run should ask none.
class PrintingDialogs : public UserDialogs {
public:
    DialogAnswer MessageBox(const std::u16string& text, const std::u16string&, DialogButtons,
                            DialogIcon) override {
        std::fprintf(stderr, "message: %s\n", QString::fromStdU16String(text).toUtf8().data());
        return DialogAnswer::kOk;
    }
    std::optional<std::u16string> AskSavePath(const SaveFileRequest&) override { return {}; }
    std::optional<std::u16string> AskOpenPath(const SaveFileRequest&) override { return {}; }
    std::optional<std::u16string> AskFolder(const std::u16string&, const std::u16string&) override {
        return {};
    }
    std::optional<DisplayStyleFormat> ChooseFont(const DisplayStyleFormat&) override { return {}; }
    std::optional<uint32_t> ChooseColour(uint32_t) override { return {}; }
};

// A listening loopback socket on a port the OS picked.
struct Listener {
    plat::SocketHandle sock = -1;
    uint16_t port = 0;
    Listener() {
        if (plat::CreateStreamSocket(sock).failed() ||
            plat::Bind(sock, plat::LoopbackAddress(), 0).failed() ||
            plat::Listen(sock, 1).failed()) {
            std::fprintf(stderr, "cannot listen on loopback\n");
            std::exit(2);
        }
        plat::Ipv4Endpoint local;
        plat::LocalEndpoint(sock, local);
        port = local.port;
    }
    ~Listener() { plat::CloseSocket(sock); }
    plat::SocketHandle AcceptOne() const {
        const auto ready = plat::WaitSocket(sock, plat::kIoReadable, nullptr, 5000);
        plat::SocketHandle client = -1;
        plat::Ipv4Endpoint peer;
        if ((ready.ready & plat::kIoReadable) && !plat::Accept(sock, client, peer).failed()) {
            return client;
        }
        return -1;
    }
};

// The main link's stand-in: what its session receives is relayed slice by slice on the
// window's thread, as the main window hands its received blocks to the forwarding window.
class MainLinkStandIn : public QObject, private LinkEventSink {
public:
    explicit MainLinkStandIn(CDlgTransmit& window)
        : window_(window), link_(static_cast<LinkEventSink&>(*this)) {}
    LinkSession& link() { return link_; }

protected:
    void customEvent(QEvent* event) override {
        if (event->type() != kReady) {
            QObject::customEvent(event);
            return;
        }
        for (const std::vector<uint8_t>& block : link_.TakeInbound(256 * 1024)) {
            window_.Relay(block.data(), block.size());
        }
    }

private:
    static constexpr QEvent::Type kReady = static_cast<QEvent::Type>(QEvent::User + 1);
    void PostTrafficReady() override { QCoreApplication::postEvent(this, new QEvent(kReady)); }
    void PostClientAccepted() override {}
    void PostLinkClosed(int32_t, uint64_t) override {}
    void PostReconnectEvent(uint64_t) override {}

    CDlgTransmit& window_;
    LinkSession link_;
};

std::u16string Utf16(const std::string& text) {
    return std::u16string(text.begin(), text.end());
}

}  // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    const uint64_t mib = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 256;
    const uint64_t total = mib * 1024 * 1024;

    g_AppConfig = DefaultAppConfig();
    Listener sink;    // the far end of the second link
    Listener source;  // the peer that floods the main link
    const std::u16string target = u"127.0.0.1:" + Utf16(std::to_string(sink.port));
    kem::settings::CopyTextBounded(g_AppConfig.TransmitComPortName, 256, u"TCP/IP");
    kem::settings::CopyTextBounded(g_AppConfig.TransmitNetPortParam, 256, target);

    PrintingDialogs dialogs;
    CDlgTransmit window(nullptr, dialogs);
    window.Create();
    static_cast<QPushButton*>(window.Control(transmit_ids::kOpen))->click();
    if (!window.IsOpen()) {
        std::fprintf(stderr, "the second link did not open\n");
        return 2;
    }
    const plat::SocketHandle sink_client = sink.AcceptOne();

    std::atomic<uint64_t> checked{0};
    std::atomic<uint64_t> first_bad{UINT64_MAX};
    std::atomic<bool> sink_done{false};
    std::thread sink_thread([&] {
        std::vector<uint8_t> buffer(1 << 16);
        uint64_t at = 0;
        while (at < total) {
            const auto ready = plat::WaitSocket(sink_client, plat::kIoReadable, nullptr, 10000);
            size_t got = 0;
            if (!(ready.ready & plat::kIoReadable) ||
                plat::Receive(sink_client, buffer.data(), buffer.size(), got, plat::IoWait::kBlock)
                    .failed() ||
                got == 0) {
                break;
            }
            for (size_t i = 0; i < got; ++i, ++at) {
                if (buffer[i] != PatternByte(at) && first_bad == UINT64_MAX) {
                    first_bad = at;
                }
            }
            checked = at;
        }
        sink_done = true;
    });

    MainLinkStandIn main_link(window);
    const OpenOutcome opened = main_link.link().Open(
        LinkType::kTcpClient, u"", u"127.0.0.1:" + Utf16(std::to_string(source.port)));
    if (opened.opened != LinkType::kTcpClient) {
        std::fprintf(stderr, "the main link did not open\n");
        return 2;
    }
    const plat::SocketHandle source_client = source.AcceptOne();

    QElapsedTimer timer;
    timer.start();
    std::thread source_thread([&] {
        std::vector<uint8_t> chunk(1 << 16);
        uint64_t at = 0;
        while (at < total) {
            const size_t n = static_cast<size_t>(std::min<uint64_t>(chunk.size(), total - at));
            for (size_t i = 0; i < n; ++i) {
                chunk[i] = PatternByte(at + i);
            }
            for (size_t done = 0; done < n;) {
                size_t sent = 0;
                if (plat::Send(source_client, chunk.data() + done, n - done, sent,
                               plat::IoWait::kBlock)
                        .failed()) {
                    return;
                }
                done += sent;
            }
            at += n;
        }
    });

    while (!sink_done) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    const double seconds = static_cast<double>(timer.nsecsElapsed()) / 1e9;
    source_thread.join();
    sink_thread.join();
    main_link.link().Close();
    plat::CloseSocket(source_client);
    plat::CloseSocket(sink_client);

    const bool complete = checked == total && first_bad == UINT64_MAX;
    std::printf(
        "forwarded %llu of %llu bytes in %.3f s: %.1f MB/s (MiB/s %.1f); TX counter %s\n",
        static_cast<unsigned long long>(checked.load()), static_cast<unsigned long long>(total),
        seconds, static_cast<double>(checked) / 1e6 / seconds,
        static_cast<double>(checked) / 1048576.0 / seconds,
        static_cast<QLineEdit*>(window.Control(transmit_ids::kTxCount))->text().toUtf8().data());
    if (first_bad != UINT64_MAX) {
        std::printf("FAIL: first wrong byte at offset %llu\n",
                    static_cast<unsigned long long>(first_bad.load()));
    }
    std::printf("%s: every byte in order\n", complete ? "PASS" : "FAIL");
    return complete ? 0 : 1;
}
