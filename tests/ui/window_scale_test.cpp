// The picture at a size people see: where the picture goes at each window scale and pixel shape
// (pure functions), the scale a first start picks for its screen, and the real window under the
// offscreen platform: sized for the stored scale, changed from the View menu, resized by the
// user, and the plain drawing scaled by repeating pixels.
#include <QAction>
#include <QtTest>

#include "machine/display_view.h"
#include "machine/picture_scale.h"
#include "tests/ui/window_fixture.h"

using namespace vexalo;

class WindowScaleTest : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir_;
    test::WindowFixture fixture_;

    static QSize AreaOf(TfrmNES& window) { return window.centralWidget()->size(); }

   private slots:
    void init() {
        dir_ = std::make_unique<QTemporaryDir>();
        fixture_.Reset();
    }

    // In the window of each scale the picture fills the area at that scale; 1x is the classic
    // 374 x 250 area with the picture at (59, 5). Television pixels are 8/7 as wide, rounded.
    void thePictureAtEachScale() {
        const int televisionWidths[6] = {293, 585, 878, 1170, 1463, 1755};
        for (int scale = 1; scale <= 6; ++scale) {
            const AreaSize square = WindowAreaSize(scale, PixelAspect::Square);
            const AreaSize tv = WindowAreaSize(scale, PixelAspect::Television);
            const PictureRect squarePicture =
                ScaledPictureRect(square.width, square.height, PixelAspect::Square);
            const PictureRect tvPicture =
                ScaledPictureRect(tv.width, tv.height, PixelAspect::Television);
            if (scale == 1) {
                QCOMPARE(square, (AreaSize{374, 250}));
                QCOMPARE(squarePicture, (PictureRect{59, 5, 256, 240}));
                QCOMPARE(tv, (AreaSize{374, 250}));
                QCOMPARE(tvPicture, (PictureRect{40, 5, 293, 240}));
            } else {
                QCOMPARE(squarePicture, (PictureRect{0, 0, 256 * scale, 240 * scale}));
                QCOMPARE(tvPicture, (PictureRect{0, 0, televisionWidths[scale - 1], 240 * scale}));
                QCOMPARE(square, (AreaSize{256 * scale, 240 * scale}));
            }
        }
        // A window of any size: the largest whole scale that fits, centred; too narrow for the
        // height's scale, the width decides; smaller than 1x, the picture stays 1x.
        QCOMPARE(ScaledPictureRect(1000, 700, PixelAspect::Square),
                 (PictureRect{244, 110, 512, 480}));
        QCOMPARE(ScaledPictureRect(600, 1000, PixelAspect::Square),
                 (PictureRect{44, 260, 512, 480}));
        QCOMPARE(ScaledPictureRect(1755, 1440, PixelAspect::Television),
                 (PictureRect{0, 0, 1755, 1440}));
        QCOMPARE(ScaledPictureRect(1754, 1440, PixelAspect::Television),
                 (PictureRect{145, 120, 1463, 1200}));
        QCOMPARE(ScaledPictureRect(2560, 2400, PixelAspect::Square),
                 (PictureRect{0, 0, 2560, 2400}));  // a maximised window may go past 6x
        QCOMPARE(ScaledPictureRect(300, 200, PixelAspect::Square),
                 (PictureRect{22, -20, 256, 240}));
    }

    // A first start takes about half the screen's height, and the window fits on the screen.
    void aFirstStartPicksTheScaleForTheScreen() {
        const int frameWidth = 8, frameHeight = 75;
        QCOMPARE(FirstStartScale(1920, 1080, frameWidth, frameHeight, PixelAspect::Square), 2);
        QCOMPARE(FirstStartScale(2560, 1440, frameWidth, frameHeight, PixelAspect::Square), 3);
        QCOMPARE(FirstStartScale(3840, 2160, frameWidth, frameHeight, PixelAspect::Square), 4);
        QCOMPARE(FirstStartScale(7680, 4320, frameWidth, frameHeight, PixelAspect::Square), 6);
        QCOMPARE(FirstStartScale(1366, 768, frameWidth, frameHeight, PixelAspect::Square), 1);
        // A tall narrow screen: the width decides, and television pixels need more of it.
        QCOMPARE(FirstStartScale(1024, 2160, frameWidth, frameHeight, PixelAspect::Square), 3);
        QCOMPARE(FirstStartScale(800, 2160, frameWidth, frameHeight, PixelAspect::Square), 3);
        QCOMPARE(FirstStartScale(800, 2160, frameWidth, frameHeight, PixelAspect::Television), 2);
        QCOMPARE(FirstStartScale(0, 0, frameWidth, frameHeight, PixelAspect::Square), 1);
    }

    // The stored scale sizes the window; the View menu changes it and the settings keep it; the
    // offscreen platform's 800 x 600 screen makes a first start 1x.
    void theWindowFollowsTheScaleAndKeepsIt() {
        {
            auto window = fixture_.MakeWindow();
            window->show();
            QVERIFY(QTest::qWaitForWindowExposed(window.get()));
            QCOMPARE(window->machine().settings.WindowScale, 1);
            QCOMPARE(AreaOf(*window), QSize(374, 250));
            QVERIFY(window->mnuScale[0]->isChecked());
            window->LoadImage(test::WriteImage(*dir_, QStringLiteral("w.nes"), {}));
            window->mnuScale[2]->trigger();
            QTRY_COMPARE(AreaOf(*window), QSize(768, 720));
            QVERIFY(window->mnuScale[2]->isChecked() && !window->mnuScale[0]->isChecked());
            DisplaySurface* surface = window->displaySurface();
            QCOMPARE(surface->PictureArea(768, 720), (PictureRect{0, 0, 768, 720}));
            // The user makes the window larger: the picture stays 3x, centred.
            window->resize(window->size() + QSize(100, 200));
            QTRY_COMPARE(AreaOf(*window), QSize(868, 920));
            QCOMPARE(surface->PictureArea(868, 920), (PictureRect{50, 100, 768, 720}));
            window->mnuTelevisionPixels->trigger();
            QTRY_COMPARE(AreaOf(*window), QSize(878, 720));
            QCOMPARE(surface->PictureArea(878, 720), (PictureRect{0, 0, 878, 720}));
            window->close();
        }
        QSettings store = test::Store();
        QCOMPARE(store.value(QStringLiteral("WindowScale")).toInt(), 3);
        QCOMPARE(store.value(QStringLiteral("PixelAspect")).toInt(), 1);
        store.setValue(QStringLiteral("PixelAspect"), 0);
        store.setValue(QStringLiteral("WindowScale"), 9);  // out of range: the largest
        store.sync();
        auto window = fixture_.MakeWindow();
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        QCOMPARE(window->machine().settings.WindowScale, 6);
        QTRY_COMPARE(AreaOf(*window), QSize(1536, 1440));
        // The smallest window is the classic one.
        window->resize(100, 100);
        QTRY_COMPARE(AreaOf(*window), QSize(374, 250));
    }

    // The plain drawing repeats each picture pixel 3 x 3 times at 3x: no blending at the edges.
    void thePlainDrawingScalesByRepeatingPixels() {
        auto window = fixture_.MakeWindow();
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        window->SetWindowScale(3);
        QTRY_COMPARE(AreaOf(*window), QSize(768, 720));
        window->LoadImage(test::WriteImage(*dir_, QStringLiteral("p.nes"), {}));
        window->mnuPauseClick();
        Machine& m = window->machine();
        m.ppu.vram[0x3F00] = 0x0F;  // black
        m.ppu.vram[0x3F01] = 0x30;  // white
        m.ppu.vram[0x3F02] = 0x16;  // red
        for (int y = 0; y < 240; ++y)
            for (int x = 0; x < 256; ++x) m.frame[y * 256 + x] = uint8_t((x + 2 * y) % 3);
        m.ppu.paletteDirty = true;
        window->PresentFrame();
        QWidget* view = window->findChild<QWidget*>(QStringLiteral("DXDraw"));
        const QImage shown = view->grab().toImage().convertToFormat(QImage::Format_RGB32);
        QCOMPARE(shown.size(), QSize(768, 720));
        const QImage picture = window->displaySurface()->PictureImage();
        int wrong = 0;
        for (int y = 0; y < 720; ++y)
            for (int x = 0; x < 768; ++x) wrong += shown.pixel(x, y) != picture.pixel(x / 3, y / 3);
        QCOMPARE(wrong, 0);
    }
};

QTEST_MAIN(WindowScaleTest)
#include "window_scale_test.moc"
