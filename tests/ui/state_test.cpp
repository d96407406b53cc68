// The State menu and rewind in the window: a slot holds the machine and the menu shows it, a
// refused state or a failed write says why and changes nothing, holding Backspace runs the game
// backwards, and the keys stay the joypads' when they are bound to buttons.
#include <QLabel>
#include <QtTest>
#include <map>

#include "input/joypad.h"
#include "machine/palette.h"
#include "tests/ui/window_fixture.h"

using namespace vexalo;

namespace {

using test::StatusText;
using test::Ticker;
constexpr uint8_t kBackdrop = 0x16;

// Sets the backdrop colour, then counts frames in $10 (by the vertical-blank flag).
test::ImageShape CountingProgram() {
    test::ImageShape shape;
    shape.program = {0xA9, 0x3F, 0x8D, 0x06,      0x20, 0xA9, 0x00, 0x8D,
                     0x06, 0x20, 0xA9, kBackdrop, 0x8D, 0x07, 0x20,  // palette $3F00 = backdrop
                     0x2C, 0x02, 0x20, 0x10,      0xFB,              // wait for vertical blank
                     0xE6, 0x10, 0x4C, 0x0F,      0xC0};             // INC $10, again
    return shape;
}

struct Moment {
    std::array<uint8_t, 2048> ram;
    uint64_t frame;
    bool operator==(const Moment&) const = default;
};

Moment Now(TfrmNES& window) {
    return {window.machine().internalRam, window.machine().messagePointsReached};
}

}  // namespace

class StateTest : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir_;
    test::WindowFixture fixture_;

    std::unique_ptr<TfrmNES> RunningWindow() {
        auto window = fixture_.ActiveWindow();
        if (!window) return nullptr;
        window->engine().SetStateDirectory(dir_->filePath(QStringLiteral("states")).toStdString());
        window->LoadImage(test::WriteImage(*dir_, QStringLiteral("count.nes"), CountingProgram()));
        window->engine().RunFrames(30);
        return window;
    }

    static void Key(TfrmNES& window, Qt::Key key) { QTest::keyClick(test::KeyTarget(window), key); }

   private slots:
    void init() {
        dir_ = std::make_unique<QTemporaryDir>();
        fixture_.Reset();
    }

    // 3 chooses the slot, F7 saves into it (the menu shows its time and picture), F8 brings the
    // machine back after playing on; undo load, undo save and the file dialogs do what they say.
    void aSlotHoldsTheMachineAndTheMenuShowsIt() {
        auto window = RunningWindow();
        QVERIFY(window);
        Engine& engine = window->engine();
        QAction* slot3 = window->mnuStateSlot[3];
        QVERIFY(slot3->text().contains(QStringLiteral("empty")));
        Key(*window, Qt::Key_3);
        QCOMPARE(window->stateSlot(), 3);
        QVERIFY(slot3->font().bold() && !window->mnuStateSlot[0]->font().bold());

        Key(*window, Qt::Key_F7);
        const Moment saved = Now(*window);
        QVERIFY(QFileInfo::exists(QString::fromStdString(engine.StateSlotFile(3))));
        QCOMPARE(StatusText(*window), QStringLiteral("State saved to slot 3."));
        QVERIFY2(slot3->text().contains(QDate::currentDate().toString(Qt::ISODate)),
                 qPrintable(slot3->text()));
        const QImage thumbnail = slot3->icon().pixmap(64, 60).toImage();
        QVERIFY(!thumbnail.isNull());
        const Rgb backdrop = NesPalette[kBackdrop];
        QCOMPARE(thumbnail.pixelColor(32, 30), QColor(backdrop.r, backdrop.g, backdrop.b));
        QVERIFY(window->mnuStateSlot[4]->icon().isNull());

        engine.RunFrames(40);
        const Moment later = Now(*window);
        QVERIFY(later.ram != saved.ram);
        Key(*window, Qt::Key_F8);
        QVERIFY(Now(*window) == saved);
        QVERIFY(engine.Running());
        window->mnuUndoLoadStateClick();
        QVERIFY(Now(*window) == later);

        // Saving over the slot keeps the previous state for undo save.
        Key(*window, Qt::Key_F7);
        QVERIFY(window->mnuUndoSaveState->isEnabled());
        window->mnuUndoSaveStateClick();
        Key(*window, Qt::Key_F8);
        QVERIFY(Now(*window) == saved);

        fixture_.chosenState = dir_->filePath(QStringLiteral("mine.state"));
        window->mnuSaveStateAsClick();
        engine.RunFrames(5);
        window->mnuLoadStateFromClick();
        QVERIFY(Now(*window) == saved);
        QCOMPARE(StatusText(*window), QStringLiteral("State loaded from \"mine.state\"."));
        QVERIFY(fixture_.errors.isEmpty());
    }

    // A damaged slot, an empty one and a file that cannot be written are shown in red in the
    // status bar; the machine and the slot's file stay as they were.
    void aRefusedStateSaysWhyAndChangesNothing() {
        auto window = RunningWindow();
        QVERIFY(window);
        Engine& engine = window->engine();
        Key(*window, Qt::Key_F7);
        QFile file(QString::fromStdString(engine.StateSlotFile(0)));
        QVERIFY(file.open(QIODevice::ReadWrite));
        QByteArray bytes = file.readAll();
        bytes[bytes.size() / 2] = char(bytes[bytes.size() / 2] ^ 0x40);
        file.seek(0);
        file.write(bytes);
        file.close();
        engine.RunFrames(20);
        const Moment before = Now(*window);
        auto* status = window->findChild<QLabel*>(QStringLiteral("StatusPanel0"));
        Key(*window, Qt::Key_F8);
        QVERIFY(Now(*window) == before);
        QVERIFY2(status->text().startsWith(QStringLiteral("State not loaded: slot 0: ")),
                 qPrintable(status->text()));
        QVERIFY(status->styleSheet().contains(QStringLiteral("red")));

        Key(*window, Qt::Key_5);
        Key(*window, Qt::Key_F8);
        QCOMPARE(status->text(), QStringLiteral("State not loaded: slot 5 is empty."));
        QVERIFY(Now(*window) == before);

        fixture_.chosenState = dir_->filePath(QStringLiteral("no-such-folder/x.state"));
        window->mnuSaveStateAsClick();
        QVERIFY2(status->text().startsWith(QStringLiteral("State not saved: ")),
                 qPrintable(status->text()));
        QVERIFY(fixture_.errors.isEmpty());  // in the window the status bar says it
        QVERIFY(engine.Running());
    }

    // Held, Backspace steps back one frame per frame due, each frame the one that was there;
    // let go, the game goes on from there; held past the history's start, play goes on too.
    void rewindStepsBackWhileHeldAndPlayGoesOn() {
        auto window = RunningWindow();
        QVERIFY(window);
        Ticker ticker(*window);
        ticker.Tick();
        // A tick that runs several frames pushes each of them.
        const uint64_t held = window->frameLoop().rewind().FramesHeld();
        ticker.Tick(ticker.period * 3 + ticker.period / 2);
        QCOMPARE(window->frameLoop().rewind().FramesHeld(), held + 4);
        std::map<uint64_t, Moment> seen;
        for (int i = 0; i < 60; ++i) {
            ticker.Tick();
            seen[window->machine().messagePointsReached] = Now(*window);
        }
        const uint64_t top = window->machine().messagePointsReached;

        QTest::keyPress(test::KeyTarget(*window), Qt::Key_Backspace);
        for (int i = 1; i <= 20; ++i) {
            ticker.Tick();
            QCOMPARE(window->machine().messagePointsReached, top - i);
            QVERIFY(Now(*window) == seen.at(top - i));
        }
        QTest::keyRelease(test::KeyTarget(*window), Qt::Key_Backspace);
        for (int i = 1; i <= 5; ++i) {
            ticker.Tick();
            QCOMPARE(window->machine().messagePointsReached, top - 20 + i);
            QVERIFY(Now(*window) == seen.at(top - 20 + i));
        }

        QTest::keyPress(test::KeyTarget(*window), Qt::Key_Backspace);
        for (int i = 0; i < 80; ++i) ticker.Tick();
        QVERIFY(window->frameLoop().rewind().FramesHeld() < 80);  // played on after the start
        const uint64_t after = window->machine().messagePointsReached;
        ticker.Tick();
        QCOMPARE(window->machine().messagePointsReached, after + 1);
        QTest::keyRelease(test::KeyTarget(*window), Qt::Key_Backspace);
        QVERIFY(window->engine().Running());
    }

    // Bound to joypad buttons, the keys are the game's while it runs: no slot is chosen, nothing
    // is saved and Backspace does not rewind. Paused, they are commands again.
    void boundKeysStayTheJoypads() {
        auto window = RunningWindow();
        QVERIFY(window);
        int32_t* pad2 = window->machine().settings.KeyBinding[1];
        pad2[4] = 51;   // 3 as player 2's A
        pad2[5] = 118;  // F7 as B
        pad2[6] = 8;    // Backspace as Start
        ApplyKeyBindings(window->machine());
        Ticker ticker(*window);
        for (int i = 0; i < 30; ++i) ticker.Tick();
        QTest::keyPress(test::KeyTarget(*window), Qt::Key_3);
        QTest::keyPress(test::KeyTarget(*window), Qt::Key_F7);
        QTest::keyPress(test::KeyTarget(*window), Qt::Key_Backspace);
        const uint64_t frame = window->machine().messagePointsReached;
        ticker.Tick();
        QCOMPARE(window->machine().messagePointsReached, frame + 1);
        QCOMPARE(int(window->machine().pads.padState[1]), 0x01 | 0x02 | 0x08);
        QCOMPARE(window->stateSlot(), 0);
        QVERIFY(!QFileInfo::exists(QString::fromStdString(window->engine().StateSlotFile(0))));
        for (Qt::Key key : {Qt::Key_3, Qt::Key_F7, Qt::Key_Backspace})
            QTest::keyRelease(test::KeyTarget(*window), key);

        window->mnuPauseClick();
        Key(*window, Qt::Key_3);
        QCOMPARE(window->stateSlot(), 3);
    }
};

QTEST_MAIN(StateTest)
#include "state_test.moc"
