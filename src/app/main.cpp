// Wires the layers into the program: settings in at start, the window, settings out at exit.
// The main window arrives with its own change; until then the program opens an empty window
// under its name, so start-up, settings and packaging can be tried.
#include <QApplication>
#include <QLabel>

#include "terminal/config_store.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("KemPemvilo");

    // Qt has taken its own options (-platform and the like) out of the arguments by now.
    std::vector<std::u16string> arguments;
    for (const QString& argument : QApplication::arguments()) {
        arguments.push_back(argument.toStdU16String());
    }
    LoadSettingsAtStartUp(arguments);

    QLabel window("KemPemvilo");
    window.setWindowTitle("KemPemvilo");
    window.setAlignment(Qt::AlignCenter);
    window.resize(480, 320);
    window.show();
    const int result = QApplication::exec();

    SaveSettingsAtExit();
    return result;
}
