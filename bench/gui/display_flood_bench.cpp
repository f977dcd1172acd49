// The receive display under a flood, offscreen: a timer feeds 64-byte lines as fast as the
// display takes them (it stops while the display is backlogged and resumes when it catches
// up), for 10 s with no size limit and again with a 128 KiB limit. Prints the rate at which
// text reached the widget and how late a 10 ms timer fired meanwhile, which is what a user
// feels as lag. Targets: at least 5 MB/s; worst lateness at most 50 ms. With a size limit
// the widget only ever receives what is still shown when its frame comes (the rest was
// cleared before it got there), so its rate is bounded by about limit x frames per second / 2;
// the rate taken in is then the figure to compare.
// Usage: display_flood_bench [seconds per run]
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTextDocument>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "ui/receive_display.h"

namespace {

constexpr int kLineBytes = 64;  // 62 characters and CR LF
constexpr int kLinesPerTick = 64;

RunList Lines() {
    std::u16string text;
    for (int line = 0; line < kLinesPerTick; ++line) {
        for (int column = 0; column < kLineBytes - 2; ++column) {
            text.push_back(static_cast<char16_t>(u'!' + (line * 13 + column * 7) % 90));
        }
        text += u"\r\n";
    }
    RunList runs;
    runs.Append(text, DisplayStyle::kReceivedNormal);
    return runs;
}

void RunFlood(int32_t limit, double seconds) {
    CMyRichEditCtrl display;
    display.resize(900, 600);
    display.show();
    display.SetClearLimit(limit);
    QCoreApplication::processEvents();

    const RunList lines = Lines();
    uint64_t fed_bytes = 0;
    bool running = true;
    QTimer feeder;
    feeder.setInterval(0);
    QObject::connect(&feeder, &QTimer::timeout, [&] {
        if (display.Backlogged()) {
            feeder.stop();  // resumed by caughtUp, as the main window does
            return;
        }
        display.AppendRuns(lines);
        fed_bytes += kLineBytes * kLinesPerTick;
    });
    QObject::connect(&display, &CKemRichEditCtrl::caughtUp, [&] {
        if (running) {
            feeder.start();
        }
    });

    std::vector<double> lateness_ms;
    QElapsedTimer armed;
    QTimer probe;
    probe.setSingleShot(true);
    probe.setTimerType(Qt::PreciseTimer);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        lateness_ms.push_back(std::max(0.0, armed.nsecsElapsed() / 1e6 - 10.0));
        armed.restart();
        probe.start(10);
    });

    QEventLoop loop;
    QTimer end;
    end.setSingleShot(true);
    QObject::connect(&end, &QTimer::timeout, [&] {
        running = false;
        feeder.stop();
        probe.stop();
        loop.quit();
    });

    QElapsedTimer clock;
    clock.start();
    const uint64_t inserted_before = display.InsertedUnits();
    feeder.start();
    armed.start();
    probe.start(10);
    end.start(static_cast<int>(seconds * 1000));
    loop.exec();
    const double elapsed = clock.nsecsElapsed() / 1e9;

    const uint64_t units = display.InsertedUnits() - inserted_before;
    // A line of 64 received bytes is 63 units in the display (its CR LF is one break).
    const double shown_bytes = static_cast<double>(units) * kLineBytes / (kLineBytes - 1);
    std::sort(lateness_ms.begin(), lateness_ms.end());
    const double worst = lateness_ms.empty() ? 0.0 : lateness_ms.back();
    const double p99 = lateness_ms.empty()
                           ? 0.0
                           : lateness_ms[std::min(lateness_ms.size() - 1,
                                                  static_cast<size_t>(lateness_ms.size() * 0.99))];
    std::printf(
        "limit %-7d  %.1f s  taken in %.1f MB/s  into widget %.2f MB/s (%.2f Munits/s)  "
        "10 ms timer: %zu ticks, lateness worst %.1f ms, p99 %.1f ms  document %d blocks\n",
        limit, elapsed, fed_bytes / 1e6 / elapsed, shown_bytes / 1e6 / elapsed,
        units / 1e6 / elapsed, lateness_ms.size(), worst, p99, display.document()->blockCount());
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char* argv[]) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    const double seconds = argc > 1 ? std::atof(argv[1]) : 10.0;
    RunFlood(0, seconds);
    RunFlood(131072, seconds);
    return 0;
}
