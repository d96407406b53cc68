// The real program on a real X display (run under xvfb-run with Mesa's software OpenGL): it starts
// `vexalo` at window size 3x on a test cartridge, waits for the picture on its OpenGL surface,
// grabs the screen and compares the picture pixel for pixel with the frame the library draws,
// through the colour table, each pixel repeated 3 x 3 times. Then it opens each dialog through its
// key and closes it again. Last it plays a cartridge that shows player 1's joypad as the picture's
// colour while it floods the log: a key released while a menu is open does not stay held, and
// Alt+Enter does not press Start.
#include <QGuiApplication>
#include <QImage>
#include <QProcess>
#include <QScreen>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>
#include <cstring>

#include "cartridge/engine.h"
#include "machine/palette.h"

using namespace vexalo;

namespace {

// Keeps the picture of the last frame the machine showed.
class PictureKeeper : public EngineHost {
   public:
    Machine* machine = nullptr;
    QImage picture;
    void PresentFrame() override {
        const std::array<Rgb, 32> colours = BuildColourTable(machine->ppu.vram);
        picture = QImage(256, 240, QImage::Format_RGB32);
        for (int y = 0; y < 240; ++y)
            for (int x = 0; x < 256; ++x) {
                const Rgb c = colours[machine->frame[y * 256 + x] & 31];
                picture.setPixel(x, y, qRgb(c.r, c.g, c.b));
            }
    }
};

// Where `picture` appears unchanged in `screen`, or (-1, -1).
QPoint Find(const QImage& screen, const QImage& picture) {
    QPoint key(-1, -1);  // the first pixel that is not the background colour
    for (int y = 0; y < picture.height() && key.x() < 0; ++y)
        for (int x = 0; x < picture.width() && key.x() < 0; ++x)
            if (picture.pixel(x, y) != picture.pixel(0, 0)) key = QPoint(x, y);
    if (key.x() < 0) return key;
    const QRgb want = picture.pixel(key);
    for (int y = key.y(); y <= screen.height() - picture.height() + key.y(); ++y)
        for (int x = key.x(); x <= screen.width() - picture.width() + key.x(); ++x) {
            if (screen.pixel(x, y) != want) continue;
            const QPoint origin(x - key.x(), y - key.y());
            if (screen.copy(QRect(origin, picture.size())) == picture) return origin;
        }
    return QPoint(-1, -1);
}

QImage GrabScreen() {
    return QGuiApplication::primaryScreen()->grabWindow(0).toImage().convertToFormat(
        QImage::Format_RGB32);
}

bool RunTool(const QStringList& arguments, QByteArray* output = nullptr) {
    QProcess tool;
    tool.start(QStringLiteral("xdotool"), arguments);
    if (!tool.waitForFinished(10000)) return false;
    if (output) *output = tool.readAllStandardOutput();
    return tool.exitStatus() == QProcess::NormalExit && tool.exitCode() == 0;
}

// The visible window of exactly this title, or an empty string.
QString FindWindow(const QString& title) {
    QByteArray ids;
    RunTool({QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--name"),
             QLatin1Char('^') + QRegularExpression::escape(title) + QLatin1Char('$')},
            &ids);
    return QString::fromLatin1(ids).split(QLatin1Char('\n'), Qt::SkipEmptyParts).value(0);
}

bool WindowExists(const QString& title) {
    return !FindWindow(title).isEmpty();
}

// Gives the window the keyboard focus and sends `key` there: "key" presses and releases it,
// "keydown" and "keyup" do one half.
bool PressKey(const QString& title, const QString& key,
              const QString& how = QStringLiteral("key")) {
    const QString window = FindWindow(title);
    if (window.isEmpty()) return false;
    if (!RunTool({QStringLiteral("windowfocus"), QStringLiteral("--sync"), window})) return false;
    return RunTool({how, key});
}

// How many pixels of the screen have the console's colour `index`.
int CountColour(const QImage& screen, int index) {
    const Rgb c = NesPalette[size_t(index)];
    const QRgb want = qRgb(c.r, c.g, c.b);
    int count = 0;
    for (int y = 0; y < screen.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(screen.constScanLine(y));
        for (int x = 0; x < screen.width(); ++x) count += (line[x] & 0xFFFFFF) == (want & 0xFFFFFF);
    }
    return count;
}

// Waits until the picture (768 x 720 pixels at 3x) shows colour `index`, or not.
bool PictureShows(int index, bool shown) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        if ((CountColour(GrabScreen(), index) > 200 * 200) == shown) return true;
        QThread::msleep(100);
    }
    return false;
}

}  // namespace

class DesktopCheck : public QObject {
    Q_OBJECT
    QTemporaryDir config_;
    QProcess program_;

   private slots:
    void initTestCase() {
        QSettings store(config_.filePath(QStringLiteral("Ostrane/Vexalo.conf")),
                        QSettings::IniFormat);
        store.setValue(QStringLiteral("WindowScale"), 3);
        store.sync();
        QVERIFY(store.status() == QSettings::NoError);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), config_.path());
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.insert(QStringLiteral("VEXALO_MIDI_PORT"), QString());
        program_.setProcessEnvironment(env);
        program_.setProcessChannelMode(QProcess::ForwardedChannels);
        program_.start(QStringLiteral(VEXALO_APP), {QStringLiteral(VEXALO_CHECK_ROM)});
        QVERIFY(program_.waitForStarted());
    }

    void thePictureOnTheGlSurfaceIsTheLibrarysFrame() {
        PictureKeeper keeper;
        Engine engine(&keeper);
        keeper.machine = &engine.machine();
        QVERIFY(engine.StartEngine(VEXALO_CHECK_ROM));
        engine.RunFrames(120);
        QVERIFY(!keeper.picture.isNull());
        const QImage scaled =
            keeper.picture.scaled(768, 720, Qt::IgnoreAspectRatio, Qt::FastTransformation);
        QPoint at(-1, -1);
        for (int attempt = 0; attempt < 60 && at.x() < 0; ++attempt) {
            QThread::msleep(250);
            at = Find(GrabScreen(), scaled);
        }
        if (at.x() < 0)
            GrabScreen().save(QDir::temp().filePath(QStringLiteral("vexalo-check.png")));
        QVERIFY2(at.x() >= 0, "the library's picture at 3x is not on the screen");
        QVERIFY(WindowExists(QStringLiteral("Vexalo Emulator")));
    }

    void eachDialogOpensThroughItsKey() {
        const struct {
            const char* key;
            const char* title;
        } dialogs[] = {{"F4", "Setting ..."}, {"F1", "ROM Property"}, {"F6", "Debug"}};
        for (const auto& d : dialogs) {
            QVERIFY(PressKey(QStringLiteral("Vexalo Emulator"), QLatin1String(d.key)));
            bool open = false;
            for (int attempt = 0; attempt < 40 && !open; ++attempt) {
                QThread::msleep(100);
                open = WindowExists(QLatin1String(d.title));
            }
            QVERIFY2(open, d.title);
            QVERIFY(PressKey(QLatin1String(d.title), QStringLiteral("Escape")));
            bool closed = false;
            for (int attempt = 0; attempt < 40 && !closed; ++attempt) {
                QThread::msleep(100);
                closed = !WindowExists(QLatin1String(d.title));
            }
            QVERIFY2(closed, d.title);
        }
    }

    void keysOnTheRealProgramWhileItFloodsTheLog() {
        program_.kill();
        program_.waitForFinished();
        program_.start(QStringLiteral(VEXALO_APP), {QStringLiteral(VEXALO_PAD_ROM)});
        QVERIFY(program_.waitForStarted());
        const QString main = QStringLiteral("Vexalo Emulator");
        QVERIFY(PictureShows(0x2A, true));  // green: nothing held
        // Right held: red. Released while the File menu is open: black again once it closes.
        QVERIFY(PressKey(main, QStringLiteral("Right"), QStringLiteral("keydown")));
        QVERIFY(PictureShows(0x16, true));
        QVERIFY(RunTool({QStringLiteral("key"), QStringLiteral("alt+f")}));
        QThread::msleep(300);
        QVERIFY(RunTool({QStringLiteral("keyup"), QStringLiteral("Right")}));
        QVERIFY(RunTool({QStringLiteral("key"), QStringLiteral("Escape")}));
        QVERIFY(PictureShows(0x16, false));
        QVERIFY(PictureShows(0x2A, true));
        // Alt+Enter twice: full screen and back, and Start (Enter) is never pressed.
        for (int i = 0; i < 2; ++i) {
            QVERIFY(PressKey(main, QStringLiteral("alt+Return")));
            for (int look = 0; look < 10; ++look) {
                QVERIFY(CountColour(GrabScreen(), 0x12) < 1000);
                QThread::msleep(50);
            }
        }
        QVERIFY(PictureShows(0x2A, true));
        QVERIFY(WindowExists(main));
    }

    void cleanupTestCase() {
        program_.kill();
        program_.waitForFinished();
    }
};

QTEST_MAIN(DesktopCheck)
#include "desktop_check.moc"
