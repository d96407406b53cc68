// The main window's keys under the offscreen platform: releases that arrive while a menu, the
// pop-up or a dialog has the keyboard, the window's own keys kept from the joypads, and joypad
// modifiers that do not turn a key into another command.
#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QTimer>
#include <QtTest>

#include "input/joypad.h"
#include "tests/ui/window_fixture.h"

using namespace vexalo;

namespace {

constexpr int kRight = 39;
constexpr int kControl = 17;
constexpr int kShift = 16;
constexpr int kEnter = 13;
constexpr uint8_t kPadA = 0x01;
constexpr uint8_t kPadStart = 0x08;

}  // namespace

class KeyRouterTest : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir_;
    test::WindowFixture fixture_;

    std::unique_ptr<TfrmNES> RunningWindow() {
        auto window = fixture_.ActiveWindow();
        if (!window) return nullptr;
        window->LoadImage(test::WriteImage(*dir_, QStringLiteral("k.nes"), {}));
        return window;
    }

   private slots:
    void init() {
        dir_ = std::make_unique<QTemporaryDir>();
        fixture_.Reset();
        fixture_.chosenImage.clear();
    }

    // A key held when a menu opens is released, whether its release comes later in the menu or
    // never reaches the window at all.
    void aMenuOrADialogReleasesTheHeldKeys() {
        auto window = RunningWindow();
        QVERIFY(window);
        QMenu* menus[] = {window->PopupMenu, window->mnuFile, window->mnuCPU, window->Help1};
        for (QMenu* menu : menus) {
            QTest::keyPress(test::KeyTarget(*window), Qt::Key_Right);
            QVERIFY(window->keyTable()[kRight]);
            menu->popup(window->geometry().center());
            QVERIFY(!window->keyTable()[kRight]);
            // The release goes to the menu.
            QTest::keyRelease(menu, Qt::Key_Right);
            QTest::keyPress(menu, Qt::Key_Left);  // a key pressed in the menu is the menu's
            QVERIFY(!window->keyTable()[37]);
            menu->close();
            window->engine().RunFrames(1);
            QCOMPARE(int(window->machine().pads.padState[0]), 0);
        }
        // A dialog takes the keyboard: the key held before it is released too.
        QTest::keyPress(test::KeyTarget(*window), Qt::Key_Right);
        QVERIFY(window->keyTable()[kRight]);
        QTimer::singleShot(0, [&] {
            QVERIFY(!window->keyTable()[kRight]);
            QApplication::activeModalWidget()->close();
        });
        window->mnuAboutClick();
        QVERIFY(!window->keyTable()[kRight]);
    }

    // A release that arrives while the dialog is open still counts.
    void aReleaseIsNeverLost() {
        auto window = RunningWindow();
        QVERIFY(window);
        QWidget other;
        other.show();
        QTest::keyPress(test::KeyTarget(*window), Qt::Key_Space);
        QVERIFY(window->keyTable()[32]);
        QTest::keyRelease(&other, Qt::Key_Space);
        QVERIFY(!window->keyTable()[32]);
    }

    void theWindowsOwnKeysNeverPressAButton() {
        auto window = RunningWindow();
        QVERIFY(window);
        // Alt+Enter is full screen (a command even without OpenGL), not player 1's Start.
        QTest::keyClick(test::KeyTarget(*window), Qt::Key_Return, Qt::AltModifier);
        QVERIFY(!window->keyTable()[kEnter]);
        QTest::keyPress(test::KeyTarget(*window), Qt::Key_Return, Qt::AltModifier);
        window->engine().RunFrames(1);
        QCOMPARE(window->machine().pads.padState[0] & kPadStart, 0);
        QTest::keyRelease(test::KeyTarget(*window), Qt::Key_Return, Qt::AltModifier);
        // F2 is Load ROM (its dialog cancelled), F3 is Free ROM: neither reaches the key table.
        QTest::keyPress(test::KeyTarget(*window), Qt::Key_F2);
        QVERIFY(!window->keyTable()[113]);
        QVERIFY(window->engine().Running());
        QTest::keyPress(test::KeyTarget(*window), Qt::Key_F3);
        QVERIFY(!window->keyTable()[114]);
        QVERIFY(!window->engine().CartridgeStarted());
        // Escape closes the window.
        QTest::keyPress(test::KeyTarget(*window), Qt::Key_Escape);
        QVERIFY(!window->keyTable()[27]);
        QVERIFY(!window->isVisible());
    }

    // Control is player 1's B and Shift player 2's A: held for the game, they leave F4 Settings
    // (not Exit) and F2 Load ROM (not Pause or Reset).
    void aHeldJoypadModifierMakesNoOtherCommand() {
        auto window = RunningWindow();
        QVERIFY(window);
        QTest::keyPress(test::KeyTarget(*window), Qt::Key_Control, Qt::ControlModifier);
        QVERIFY(window->keyTable()[kControl]);
        QString dialog;
        QTimer::singleShot(0, [&] {
            if (QWidget* d = QApplication::activeModalWidget()) {
                dialog = d->objectName();
                d->close();
            }
        });
        QTest::keyPress(test::KeyTarget(*window), Qt::Key_F4, Qt::ControlModifier);
        QCOMPARE(dialog, QStringLiteral("frmSetting"));
        QVERIFY(window->isVisible());
        QVERIFY(window->engine().Running());
        // The dialog took the keyboard and released Control; the player holds it again.
        QVERIFY(!window->keyTable()[kControl]);
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
        QTest::keyPress(test::KeyTarget(*window), Qt::Key_Control, Qt::ControlModifier);

        const qsizetype resets =
            test::LogLines(*window).count(QStringLiteral("Resetting 6502 engine ..."));
        QTest::keyPress(test::KeyTarget(*window), Qt::Key_F2, Qt::ControlModifier);
        QVERIFY(window->engine().Running());  // not paused: the open dialog was asked for
        QTest::keyRelease(test::KeyTarget(*window), Qt::Key_Control);
        QTest::keyPress(test::KeyTarget(*window), Qt::Key_Shift, Qt::ShiftModifier);
        QVERIFY(window->keyTable()[kShift]);
        QTest::keyPress(test::KeyTarget(*window), Qt::Key_F2, Qt::ShiftModifier);
        QCOMPARE(test::LogLines(*window).count(QStringLiteral("Resetting 6502 engine ...")),
                 resets);
        QVERIFY(window->engine().Running());
        QTest::keyRelease(test::KeyTarget(*window), Qt::Key_Shift);
        // While the machine is paused the keys are no joypad's: Control+F2 is Run again.
        window->mnuPauseClick();
        QVERIFY(!window->engine().Running());
        QTest::keyClick(test::KeyTarget(*window), Qt::Key_F2, Qt::ControlModifier);
        QVERIFY(window->engine().Running());
    }

    // ` held fast-forwards and \ runs one frame while paused; bound to a button, ` is the
    // joypad's.
    void theEmulationKeys() {
        auto window = RunningWindow();
        QVERIFY(window);
        QTest::keyPress(test::KeyTarget(*window), Qt::Key_QuoteLeft);
        QCOMPARE(window->CurrentSpeed(), 4.0);
        QTest::keyRelease(test::KeyTarget(*window), Qt::Key_QuoteLeft);
        QCOMPARE(window->CurrentSpeed(), 1.0);

        Machine& m = window->machine();
        const uint64_t running = m.messagePointsReached;
        QTest::keyClick(test::KeyTarget(*window), Qt::Key_Backslash);
        QCOMPARE(m.messagePointsReached, running);  // no step while the game runs
        window->engine().RunFrames(2);
        window->mnuPauseClick();
        for (int step = 1; step <= 3; ++step) {
            const uint64_t frames = m.framesCompleted;
            const uint64_t points = m.messagePointsReached;
            QTest::keyClick(test::KeyTarget(*window), Qt::Key_Backslash);
            QCOMPARE(m.messagePointsReached, points + 1);
            QCOMPARE(m.framesCompleted, frames + 1);
            QVERIFY(!window->engine().Running());
        }

        window->mnuPauseClick();
        m.settings.KeyBinding[0][BindA] = 192;  // the key left of 1
        ApplyKeyBindings(m);
        QTest::keyPress(test::KeyTarget(*window), Qt::Key_QuoteLeft);
        QCOMPARE(window->CurrentSpeed(), 1.0);
        window->engine().RunFrames(1);
        QCOMPARE(m.pads.padState[0] & kPadA, kPadA);
    }

    // A plain key bound to a button is the joypad's while a cartridge runs, Escape included; when
    // the machine is paused Escape is the window's again.
    void aBoundEscapeIsTheJoypadsWhileTheGameRuns() {
        auto window = RunningWindow();
        QVERIFY(window);
        window->machine().settings.KeyBinding[0][BindA] = 27;
        ApplyKeyBindings(window->machine());
        QTest::keyPress(test::KeyTarget(*window), Qt::Key_Escape);
        QVERIFY(window->isVisible());
        window->engine().RunFrames(1);
        QCOMPARE(window->machine().pads.padState[0] & kPadA, kPadA);
        QTest::keyRelease(test::KeyTarget(*window), Qt::Key_Escape);
        window->mnuPauseClick();
        QTest::keyPress(test::KeyTarget(*window), Qt::Key_Escape);
        QVERIFY(!window->isVisible());
    }
};

QTEST_MAIN(KeyRouterTest)
#include "key_router_test.moc"
