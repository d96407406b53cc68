// The desktop program `vexalo`: the main window over the engine. `vexalo IMAGE` starts with that
// image loaded, as Load ROM would load it.
#include <QApplication>
#include <QFileInfo>
#include <QTimer>

#include "ui/main_window.h"
#include "vexalo_version.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vexalo"));
    QApplication::setApplicationVersion(QStringLiteral(VEXALO_PRODUCT_VERSION));
    QApplication::setOrganizationName(QStringLiteral("Ostrane"));
    QGuiApplication::setDesktopFileName(QStringLiteral("vexalo"));

    vexalo::TfrmNES window;
    window.show();
    const QStringList arguments = QApplication::arguments();
    if (arguments.size() > 1) {
        const QString image = QFileInfo(arguments.at(1)).absoluteFilePath();
        QTimer::singleShot(0, &window, [&window, image] { window.LoadImage(image); });
    }
    return app.exec();
}
