// The main window under load, offscreen, with real peers. Each mode prints its figures and the
// targets they are measured against; the exit status is 0 when the checks of correctness
// (counters, saved text) hold, whatever the speed.
//
//   main_window_bench flood [seconds] [text|hex|stamps|autoclear|all]
//                                         a loopback TCP peer sends 64-byte lines as fast as it
//                                         can into the window (text, hex, time stamps): MB/s
//                                         into the display, RX counter and saved text against
//                                         what was sent, lateness of a 10 ms timer
//   main_window_bench relay [seconds]     the same flood into the window (default auto clear)
//                                         with port forwarding open to a loopback TCP sink:
//                                         relayed MB/s against the window alone (target
//                                         >= 90 %), every byte checked in order at the sink
//   main_window_bench rerender            HEX ticked with 128 KiB and 8 MiB queued
//   main_window_bench memory [seconds]    resident size during a flood with auto clear at 128 KB
//   main_window_bench startup             time from process start to the window painted
//   main_window_bench serial PATH SECONDS opens PATH as the serial port and runs (for
//                                         bench/gui/pty_load.sh, which feeds it and measures CPU)
//   main_window_bench feed PATH RATE SECONDS  writes 64-byte lines to PATH at RATE bytes/s
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/control_ids.h"
#include "app/main_window.h"
#include "settings/app_config.h"
#include "settings/profile_base.h"
#include "terminal/config_store.h"
#include "ui/receive_display.h"
#include "ui/transmit_dialog.h"

namespace {

using Clock = std::chrono::steady_clock;

// Answers every question with Yes, so nothing waits for a user.
class YesDialogs : public UserDialogs {
public:
    DialogAnswer MessageBox(const std::u16string&, const std::u16string&, DialogButtons,
                            DialogIcon) override {
        return DialogAnswer::kYes;
    }
    std::optional<std::u16string> AskSavePath(const SaveFileRequest&) override { return {}; }
    std::optional<std::u16string> AskOpenPath(const SaveFileRequest&) override { return {}; }
    std::optional<std::u16string> AskFolder(const std::u16string&, const std::u16string&) override {
        return {};
    }
    std::optional<DisplayStyleFormat> ChooseFont(const DisplayStyleFormat&) override { return {}; }
    std::optional<uint32_t> ChooseColour(uint32_t) override { return {}; }
};

void SetText(char16_t* field, size_t units, const std::u16string& text) {
    std::fill(field, field + units, u'\0');
    std::copy_n(text.begin(), std::min(text.size(), units - 1), field);
}

// 64-byte lines, 62 printable characters and CR LF, each line different.
std::string Lines(size_t count, uint64_t first) {
    std::string text;
    text.reserve(count * 64);
    for (size_t line = 0; line < count; ++line) {
        char head[24];
        std::snprintf(head, sizeof head, "%012llu ", static_cast<unsigned long long>(first + line));
        std::string row(head);
        while (row.size() < 62) {
            row.push_back(static_cast<char>('A' + (row.size() + line) % 26));
        }
        text += row;
        text += "\r\n";
    }
    return text;
}

// A loopback listener on a port the OS picks.
struct Listener {
    int fd = -1;
    uint16_t port = 0;
    Listener() {
        fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
        listen(fd, 1);
        socklen_t length = sizeof address;
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
        port = ntohs(address.sin_port);
    }
    ~Listener() { close(fd); }
};

// Sends lines as fast as the window takes them until `stop`; keeps what it sent.
struct FloodPeer {
    std::atomic<bool> stop{false};
    std::atomic<bool> done{false};
    std::atomic<uint64_t> sent{0};
    std::string all;  // everything sent, when `keep` was asked for
    std::thread thread;
    int client = -1;

    void Start(int listen_fd, bool keep) {
        thread = std::thread([this, listen_fd, keep] {
            struct Done {
                std::atomic<bool>& flag;
                ~Done() { flag = true; }
            } mark{done};
            client = accept(listen_fd, nullptr, nullptr);
            uint64_t line = 0;
            while (!stop) {
                const std::string chunk = Lines(256, line);
                line += 256;
                size_t offset = 0;
                while (offset < chunk.size()) {
                    const ssize_t n =
                        send(client, chunk.data() + offset, chunk.size() - offset, MSG_NOSIGNAL);
                    if (n <= 0) {
                        return;
                    }
                    offset += static_cast<size_t>(n);
                }
                sent += chunk.size();
                if (keep) {
                    all += chunk;
                }
            }
        });
    }
    // Stops the peer after the chunk it is sending; the window's events go on meanwhile, as
    // that chunk may wait for the window to take data.
    void Finish() {
        stop = true;
        while (!done) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        }
        thread.join();
    }
    ~FloodPeer() {
        if (client >= 0) {
            close(client);
        }
    }
};

// Lateness of a 10 ms timer on the window's thread.
struct TimerProbe {
    QTimer timer;
    QElapsedTimer clock;
    std::vector<double> late_ms;
    TimerProbe() {
        timer.setTimerType(Qt::PreciseTimer);
        timer.setInterval(10);
        QObject::connect(&timer, &QTimer::timeout, [this] {
            const double elapsed = static_cast<double>(clock.nsecsElapsed()) / 1e6;
            clock.start();
            late_ms.push_back(std::max(0.0, elapsed - 10.0));
        });
        clock.start();
        timer.start();
    }
    double Worst() const {
        return late_ms.empty() ? 0 : *std::max_element(late_ms.begin(), late_ms.end());
    }
    double Percentile(double p) const {
        if (late_ms.empty()) {
            return 0;
        }
        std::vector<double> sorted = late_ms;
        std::sort(sorted.begin(), sorted.end());
        return sorted[static_cast<size_t>(p * static_cast<double>(sorted.size() - 1))];
    }
};

std::unique_ptr<CKemPemviloDlg> OpenClientWindow(YesDialogs& dialogs, uint16_t port) {
    SetText(g_AppConfig.ComPortName, std::size(g_AppConfig.ComPortName), u"TCP/IP");
    const std::string target = "127.0.0.1:" + std::to_string(port);
    SetText(g_AppConfig.NetPortParam, std::size(g_AppConfig.NetPortParam),
            std::u16string(target.begin(), target.end()));
    auto window = std::make_unique<CKemPemviloDlg>(&dialogs);
    window->show();
    QCoreApplication::processEvents();
    window->ExecuteCommand(ids::kOpen);
    return window;
}

bool Drained(CKemPemviloDlg& window, uint64_t sent) {
    return window.traffic().RxCount() == static_cast<uint32_t>(sent) &&
           window.link().inbound().blocks() == 0 && !window.display().Backlogged() &&
           window.display().model().PendingUnits() == 0;
}

void WaitDrained(CKemPemviloDlg& window, uint64_t sent) {
    const auto give_up = Clock::now() + std::chrono::seconds(120);
    while (!Drained(window, sent) && Clock::now() < give_up) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
}

std::string HexOf(const std::string& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string hex;
    hex.reserve(bytes.size() * 3);
    for (unsigned char byte : bytes) {
        hex.push_back(digits[byte >> 4]);
        hex.push_back(digits[byte & 15]);
        hex.push_back(' ');
    }
    return hex;
}

// Returns the rate into the display in MB/s, or a negative value when a check failed.
double FloodOnce(const char* name, bool hex, bool stamps, double seconds, bool auto_clear = false) {
    g_AppConfig = DefaultAppConfig();
    g_AppConfig.ShowHex = hex;
    g_AppConfig.TimeStamp = stamps;
    // Without auto clear everything stays shown, so the saved display can be compared.
    g_AppConfig.AutoClear = auto_clear;
    g_AppConfig.AutoClearSize = auto_clear ? 128 : 0;
    YesDialogs dialogs;
    Listener listener;
    FloodPeer peer;
    const bool keep = !stamps && !auto_clear;
    peer.Start(listener.fd, keep);
    auto window = OpenClientWindow(dialogs, listener.port);
    TimerProbe probe;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < static_cast<qint64>(seconds * 1000)) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    peer.Finish();
    WaitDrained(*window, peer.sent);
    const double elapsed = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    probe.timer.stop();

    const bool rx_ok = window->traffic().RxCount() == static_cast<uint32_t>(peer.sent);
    bool text_ok = true;
    if (keep) {
        const std::string saved = window->display().PlainTextAnsi();
        text_ok = saved == (hex ? HexOf(peer.all) : peer.all);
    }
    std::printf(
        "flood %-12s %8.2f MB/s into the display (%llu bytes in %.1f s; target >= 5)  RX %s  "
        "saved text %s  timer late worst %.1f ms, p99 %.1f ms (target worst <= 50)\n",
        name, static_cast<double>(peer.sent) / elapsed / 1e6,
        static_cast<unsigned long long>(peer.sent), elapsed, rx_ok ? "equal" : "DIFFERS",
        keep ? (text_ok ? "equal" : "DIFFERS") : "not compared", probe.Worst(),
        probe.Percentile(0.99));
    std::fflush(stdout);
    window->ExecuteCommand(ids::kOpen);
    return rx_ok && text_ok ? static_cast<double>(peer.sent) / elapsed / 1e6 : -1;
}

// The far end of the forwarding window's second link: reads everything and checks it against
// the lines the flood peer sends, in order.
struct RelaySink {
    std::atomic<uint64_t> received{0};
    std::atomic<bool> wrong{false};
    std::thread thread;
    std::atomic<int> client{-1};
    int listen_fd = -1;

    void Start(int fd) {
        listen_fd = fd;
        thread = std::thread([this] {
            client = accept(listen_fd, nullptr, nullptr);
            std::string expected;
            size_t at = 0;
            uint64_t next_line = 0;
            std::vector<char> buffer(1 << 16);
            for (;;) {
                const ssize_t n = recv(client, buffer.data(), buffer.size(), 0);
                if (n <= 0) {
                    return;
                }
                while (expected.size() - at < static_cast<size_t>(n)) {
                    expected.erase(0, at);
                    at = 0;
                    expected += Lines(256, next_line);
                    next_line += 256;
                }
                if (expected.compare(at, static_cast<size_t>(n), buffer.data(),
                                     static_cast<size_t>(n)) != 0) {
                    wrong = true;
                }
                at += static_cast<size_t>(n);
                received += static_cast<uint64_t>(n);
            }
        });
    }
    ~RelaySink() {
        // Wakes the reader wherever it waits: in accept when the second link never came.
        shutdown(listen_fd, SHUT_RDWR);
        if (client >= 0) {
            shutdown(client, SHUT_RDWR);
        }
        if (thread.joinable()) {
            thread.join();
        }
        if (client >= 0) {
            close(client);
        }
    }
};

// The window's flood with port forwarding to a TCP second link; returns the relayed MB/s, or
// a negative value when a check failed.
double RelayOnce(double seconds) {
    g_AppConfig = DefaultAppConfig();
    Listener sink_listener;
    const std::string target = "127.0.0.1:" + std::to_string(sink_listener.port);
    kem::settings::CopyTextBounded(g_AppConfig.TransmitComPortName, 256, u"TCP/IP");
    kem::settings::CopyTextBounded(g_AppConfig.TransmitNetPortParam, 256,
                                   std::u16string(target.begin(), target.end()));
    RelaySink sink;
    sink.Start(sink_listener.fd);
    YesDialogs dialogs;
    Listener listener;
    FloodPeer peer;
    peer.Start(listener.fd, false);
    // The forwarding window is opened before the main link, so every byte is relayed.
    SetText(g_AppConfig.ComPortName, std::size(g_AppConfig.ComPortName), u"TCP/IP");
    const std::string main_target = "127.0.0.1:" + std::to_string(listener.port);
    SetText(g_AppConfig.NetPortParam, std::size(g_AppConfig.NetPortParam),
            std::u16string(main_target.begin(), main_target.end()));
    auto window = std::make_unique<CKemPemviloDlg>(&dialogs);
    window->show();
    window->ExecuteCommand(ids::kPortForwarding);
    auto* forwarding = window->findChild<CDlgTransmit*>();
    qobject_cast<QPushButton*>(forwarding->Control(transmit_ids::kOpen))->click();
    if (!forwarding->IsOpen()) {
        std::printf("relay: the second link did not open\n");
        return -1;
    }
    TimerProbe probe;
    QElapsedTimer clock;
    clock.start();
    window->ExecuteCommand(ids::kOpen);
    while (clock.elapsed() < static_cast<qint64>(seconds * 1000)) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    peer.Finish();
    WaitDrained(*window, peer.sent);
    const auto give_up = Clock::now() + std::chrono::seconds(60);
    while (sink.received < peer.sent && Clock::now() < give_up) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    const double elapsed = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    probe.timer.stop();
    const bool ok = sink.received == peer.sent && !sink.wrong &&
                    window->traffic().RxCount() == static_cast<uint32_t>(peer.sent) &&
                    forwarding->tx_bytes() == static_cast<uint32_t>(peer.sent);
    const double rate = static_cast<double>(sink.received) / elapsed / 1e6;
    std::printf(
        "relay %8.2f MB/s through the window to the second link (%llu of %llu bytes in %.1f s)  "
        "order %s  RX %u  forwarding TX %u  timer late worst %.1f ms, p99 %.1f ms\n",
        rate, static_cast<unsigned long long>(sink.received.load()),
        static_cast<unsigned long long>(peer.sent), elapsed, sink.wrong ? "WRONG" : "equal",
        window->traffic().RxCount(), forwarding->tx_bytes(), probe.Worst(), probe.Percentile(0.99));
    std::fflush(stdout);
    window->ExecuteCommand(ids::kOpen);
    forwarding->link().Close();
    return ok ? rate : -1;
}

// Queues `bytes` through a TCP peer, then times a tick of HEX until the display shows it.
void RerenderOnce(int size_kb, size_t bytes) {
    g_AppConfig = DefaultAppConfig();
    g_AppConfig.AutoClear = 1;
    g_AppConfig.AutoClearSize = size_kb;
    Listener listener;
    std::atomic<bool> sent_all{false};
    std::thread peer([&] {
        const int client = accept(listener.fd, nullptr, nullptr);
        const std::string text = Lines(bytes / 64, 0);
        size_t offset = 0;
        while (offset < text.size()) {
            const ssize_t n = send(client, text.data() + offset, text.size() - offset, 0);
            if (n <= 0) {
                break;
            }
            offset += static_cast<size_t>(n);
        }
        sent_all = true;
        // Open until the window has it all, so the link stays up for the option changes.
        while (sent_all) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        close(client);
    });
    YesDialogs quiet;
    auto window = OpenClientWindow(quiet, listener.port);
    // The peer may wait for the window to take data: events go on meanwhile.
    while (!sent_all) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    WaitDrained(*window, bytes);
    for (const char* option : {"HEX on", "HEX off", "time stamp on"}) {
        QElapsedTimer clock;
        clock.start();
        const int id = std::string(option).starts_with("time") ? ids::kTimeStamp : ids::kShowHex;
        qobject_cast<QCheckBox*>(window->Control(id))->click();
        window->display().FlushNow();
        window->display().repaint();
        QCoreApplication::processEvents();
        std::printf("rerender %5d KiB queued, %-14s %8.1f ms (target %s)\n",
                    static_cast<int>(window->traffic().QueuedBytes() / 1024), option,
                    static_cast<double>(clock.nsecsElapsed()) / 1e6,
                    size_kb <= 128 ? "< 50 ms" : "< 2000 ms");
    }
    std::fflush(stdout);
    sent_all = false;
    peer.join();
}

long ResidentKb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::stol(line.substr(6));
        }
    }
    return 0;
}

void Memory(double seconds) {
    g_AppConfig = DefaultAppConfig();
    g_AppConfig.AutoClear = 1;
    g_AppConfig.AutoClearSize = 128;
    YesDialogs dialogs;
    Listener listener;
    FloodPeer peer;
    peer.Start(listener.fd, false);
    auto window = OpenClientWindow(dialogs, listener.port);
    QElapsedTimer clock;
    clock.start();
    long first = 0;
    long low = 0;
    long high = 0;
    qint64 next_sample = 30000;  // after a warm-up
    while (clock.elapsed() < static_cast<qint64>(seconds * 1000)) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        if (clock.elapsed() >= next_sample) {
            const long rss = ResidentKb();
            first = first == 0 ? rss : first;
            low = low == 0 ? rss : std::min(low, rss);
            high = std::max(high, rss);
            std::printf("memory t=%3llds RSS %ld KiB, %.1f MB received\n",
                        static_cast<long long>(clock.elapsed() / 1000), rss,
                        static_cast<double>(peer.sent) / 1e6);
            std::fflush(stdout);
            next_sample += 10000;
        }
    }
    peer.Finish();
    std::printf(
        "memory RSS first %ld KiB, lowest %ld, highest %ld: spread %.1f %% of the first "
        "(target within 10 %%)\n",
        first, low, high, first > 0 ? 100.0 * static_cast<double>(high - low) / first : 0);
}

// Seconds since this process started, from the kernel's own start time.
double SecondsSinceProcessStart() {
    std::ifstream stat("/proc/self/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    unsigned long long start_ticks = 0;
    for (int index = 3; fields >> field; ++index) {
        if (index == 22) {
            start_ticks = std::stoull(field);
            break;
        }
    }
    std::ifstream uptime_file("/proc/uptime");
    double uptime = 0;
    uptime_file >> uptime;
    return uptime - static_cast<double>(start_ticks) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

int StartUp(int argc, char** argv) {
    std::vector<std::u16string> arguments;
    for (int i = 0; i < argc; ++i) {
        arguments.emplace_back(argv[i], argv[i] + std::strlen(argv[i]));
    }
    LoadSettingsAtStartUp(arguments);
    YesDialogs dialogs;
    CKemPemviloDlg window(&dialogs);
    struct PaintWatch : QObject {
        bool eventFilter(QObject*, QEvent* event) override {
            if (event->type() == QEvent::Paint && !seen) {
                seen = true;
                std::printf(
                    "startup %.0f ms from process start to the window painted (target "
                    "< 300 ms, warm cache; clock ticks of 10 ms)\n",
                    SecondsSinceProcessStart() * 1000);
                QTimer::singleShot(0, qApp, &QCoreApplication::quit);
            }
            return false;
        }
        bool seen = false;
    } watch;
    window.installEventFilter(&watch);
    window.show();
    return QApplication::exec();
}

void Serial(const std::string& path, double seconds) {
    g_AppConfig = DefaultAppConfig();
    SetText(g_AppConfig.ComPortName, std::size(g_AppConfig.ComPortName),
            std::u16string(path.begin(), path.end()));
    SetText(g_AppConfig.ComPortParam, std::size(g_AppConfig.ComPortParam), u"3000000,N,8,1");
    YesDialogs dialogs;
    CKemPemviloDlg window(&dialogs);
    window.show();
    window.ExecuteCommand(ids::kOpen);
    // The event loop proper, which sleeps between events: what the program itself does.
    QEventLoop loop;
    QTimer::singleShot(static_cast<int>(seconds * 1000), &loop, &QEventLoop::quit);
    loop.exec();
    std::printf("serial %s: %u bytes received in %.0f s\n", path.c_str(),
                window.traffic().RxCount(), seconds);
}

// The far end of a serial line: lines at `rate` bytes per second, in 10 ms portions.
int Feed(const std::string& path, double rate, double seconds) {
    const int fd = open(path.c_str(), O_WRONLY | O_NOCTTY);
    if (fd < 0) {
        std::perror(path.c_str());
        return 1;
    }
    const auto start = Clock::now();
    uint64_t written = 0;
    uint64_t line = 0;
    std::string pending;
    while (Clock::now() - start < std::chrono::duration<double>(seconds)) {
        const double due = rate * std::chrono::duration<double>(Clock::now() - start).count();
        while (static_cast<double>(written + pending.size()) < due) {
            pending += Lines(16, line);
            line += 16;
        }
        const ssize_t n = write(fd, pending.data(), pending.size());
        if (n > 0) {
            written += static_cast<uint64_t>(n);
            pending.erase(0, static_cast<size_t>(n));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    close(fd);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 4 && std::string(argv[1]) == "feed") {
        return Feed(argv[2], std::atof(argv[3]), std::atof(argv[4]));
    }
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    const std::string mode = argc > 1 ? argv[1] : "flood";
    if (mode == "startup") {
        QApplication app(argc, argv);
        return StartUp(1, argv);
    }
    QApplication app(argc, argv);
    // Settings of a bench run never reach the user's registry.
    const std::string registry = "/tmp/kempemvilo-bench-" + std::to_string(getpid()) + ".sqlite3";
    setenv("KEMPEMVILO_REGISTRY", registry.c_str(), 1);
    int status = 0;
    if (mode == "flood") {
        const double seconds = argc > 2 ? std::atof(argv[2]) : 10.0;
        const std::string which = argc > 3 ? argv[3] : "all";
        bool ok = true;
        if (which == "all" || which == "text") {
            ok = FloodOnce("text", false, false, seconds) >= 0 && ok;
        }
        if (which == "all" || which == "hex") {
            ok = FloodOnce("hex", true, false, seconds) >= 0 && ok;
        }
        if (which == "all" || which == "stamps") {
            ok = FloodOnce("time stamps", false, true, seconds) >= 0 && ok;
        }
        if (which == "all" || which == "autoclear") {
            ok = FloodOnce("text, 128 KB", false, false, seconds, true) >= 0 && ok;
        }
        status = ok ? 0 : 1;
    } else if (mode == "relay") {
        const double seconds = argc > 2 ? std::atof(argv[2]) : 10.0;
        const double alone = FloodOnce("text, 128 KB", false, false, seconds, true);
        const double relayed = RelayOnce(seconds);
        if (alone > 0 && relayed > 0) {
            std::printf("relay %.1f %% of the window alone (target >= 90 %%)\n",
                        100.0 * relayed / alone);
        }
        status = alone > 0 && relayed > 0 ? 0 : 1;
    } else if (mode == "rerender") {
        RerenderOnce(128, 128 * 1024);
        RerenderOnce(8192, 8 * 1024 * 1024);
    } else if (mode == "memory") {
        Memory(argc > 2 ? std::atof(argv[2]) : 300.0);
    } else if (mode == "serial" && argc > 3) {
        Serial(argv[2], std::atof(argv[3]));
    } else {
        std::fprintf(stderr, "usage: %s flood|relay|rerender|memory|startup|serial PATH SECONDS\n",
                     argv[0]);
        status = 2;
    }
    unlink(registry.c_str());
    return status;
}
