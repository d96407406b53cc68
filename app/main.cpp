// The desktop program `vexalo`: the main window over the engine. `vexalo IMAGE` starts with that
// image loaded, as Load ROM would load it.
#include <QApplication>
#include <QFileInfo>
#include <QTimer>
#include <cstdio>
#include <cstring>

#include "ui/main_window.h"
#include "vexalo_version.h"

namespace {

constexpr const char* kUsage =
    "usage: vexalo [IMAGE]\n"
    "Starts the " VEXALO_PRODUCT_NAME
    " window; with IMAGE, an iNES cartridge image, it loads\n"
    "and runs that image as Load ROM does.\n"
    "  -h, --help     show this text and exit\n"
    "  --version      print the version and exit\n"
    "Qt's own options (for example -platform offscreen) are accepted as well.\n";

// --help and --version answer before any window system is opened, so they work in any terminal.
// Returns the exit status, or -1 to go on.
int AnswerAlone(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::puts("vexalo (" VEXALO_PRODUCT_NAME ") " VEXALO_PRODUCT_VERSION
                      "\n" VEXALO_LEGAL_COPYRIGHT);
            return 0;
        }
    }
    return -1;
}

}  // namespace

int main(int argc, char** argv) {
    if (const int status = AnswerAlone(argc, argv); status >= 0) return status;
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vexalo"));
    QApplication::setApplicationVersion(QStringLiteral(VEXALO_PRODUCT_VERSION));
    QApplication::setOrganizationName(QStringLiteral("Ostrane"));
    QGuiApplication::setDesktopFileName(QStringLiteral("vexalo"));

    // What is left once Qt has taken its own options: at most an image.
    QString image;
    for (const QString& argument : QApplication::arguments().mid(1)) {
        if (argument.startsWith('-') || !image.isEmpty()) {
            std::fprintf(stderr, "vexalo: unexpected argument '%s'\n%s",
                         argument.toLocal8Bit().constData(), kUsage);
            return 64;
        }
        image = QFileInfo(argument).absoluteFilePath();
    }
    vexalo::TfrmNES window;
    window.show();
    if (!image.isEmpty()) {
        QTimer::singleShot(0, &window, [&window, image] { window.LoadImage(image); });
    }
    return app.exec();
}
