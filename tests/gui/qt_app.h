// One QApplication for a window test binary, created on first use and kept for the whole run:
// Qt allows exactly one per process, and the windows under test need it before they exist.
#pragma once

#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstdlib>

namespace kem::testing {

inline QApplication& EnsureQtApp() {
    if (auto* existing = qobject_cast<QApplication*>(QCoreApplication::instance())) {
        return *existing;
    }
    // Windows are never shown on a screen here; a caller may have chosen another platform.
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    static int argc = 1;
    static char name[] = "gui_tests";
    static char* argv[] = {name, nullptr};
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

// Runs the event loop until `done()` holds or `timeout_ms` passes; returns done().
template <typename Condition>
bool PumpUntil(Condition done, int timeout_ms = 5000) {
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < timeout_ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return done();
}

}  // namespace kem::testing
