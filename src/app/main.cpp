// Wires the layers into the program: settings in at start, the main window, settings out at
// exit.
#include <QApplication>
#include <QFont>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "app/main_window.h"
#include "terminal/config_store.h"

namespace {

// With KEMPEMVILO_SCREENSHOT set, the window saves a picture of itself there once it has
// settled: how the run script shows what the program looks like on a machine without a screen.
// With KEMPEMVILO_SCREENSHOT_QUIT set too, the program then ends, as nobody can close it there.
void ScheduleScreenshot(CKemPemviloDlg& window) {
    const char* path = std::getenv("KEMPEMVILO_SCREENSHOT");
    if (path == nullptr || *path == '\0') {
        return;
    }
    const QString file = QString::fromLocal8Bit(path);
    QTimer::singleShot(1500, &window, [&window, file] {
        if (window.grab().save(file)) {
            std::fprintf(stderr, "kempemvilo: screenshot of the main window saved to %s\n",
                         file.toLocal8Bit().constData());
        } else {
            std::fprintf(stderr, "kempemvilo: could not save a screenshot to %s\n",
                         file.toLocal8Bit().constData());
        }
        const char* quit = std::getenv("KEMPEMVILO_SCREENSHOT_QUIT");
        if (quit != nullptr && *quit != '\0') {
            window.done(QDialog::Accepted);
        }
    });
}

}  // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("KemPemvilo");
    // The display's face: where it is missing, a CJK face that is installed takes its place.
    QFont::insertSubstitutions(
        QStringLiteral("新宋体"),
        {QStringLiteral("WenQuanYi Micro Hei Mono"), QStringLiteral("WenQuanYi Micro Hei"),
         QStringLiteral("Monospace")});

    // Qt has taken its own options (-platform and the like) out of the arguments by now.
    std::vector<std::u16string> arguments;
    for (const QString& argument : QApplication::arguments()) {
        arguments.push_back(argument.toStdU16String());
    }
    const CommandLineOptions options = LoadSettingsAtStartUp(arguments);

    int result = 0;
    {
        CKemPemviloDlg window;
        window.m_bOpenAtStart = options.open_at_start;
        ScheduleScreenshot(window);
        result = window.exec();
    }  // the window stores its state into the record as it goes

    SaveSettingsAtExit();
    return result == QDialog::Accepted || result == QDialog::Rejected ? 0 : result;
}
