// The desktop program `vexalo`.
#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vexalo Emulator"));
    return 0;
}
