// Wires the layers into the program. The main window arrives with its own change; until then
// the program opens an empty window under its name, so start-up and packaging can be tried.
#include <QApplication>
#include <QLabel>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("KemPemvilo");
    QLabel window("KemPemvilo");
    window.setWindowTitle("KemPemvilo");
    window.setAlignment(Qt::AlignCenter);
    window.resize(480, 320);
    window.show();
    return QApplication::exec();
}
