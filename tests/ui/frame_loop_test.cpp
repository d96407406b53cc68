// The run on the event loop, driven on a made-up clock under the offscreen platform: wake-ups per
// frame and the pace, the periodic battery flush leaving the deadline alone, a program that floods
// the log, and a run that throws.
#include <QLabel>
#include <QPlainTextEdit>
#include <QtTest>
#include <filesystem>

#include "input/joypad.h"
#include "machine/display_view.h"
#include "tests/ui/window_fixture.h"

using namespace vexalo;

namespace {

using Clock = FramePacer::Clock;

// LDA $5000 / JMP to it: one "Ignore read at address $5000" line per round, about 7,000 a frame.
test::ImageShape NoisyProgram() {
    test::ImageShape shape;
    shape.program = {0xAD, 0x00, 0x50, 0x4C, 0x00, 0xC0};
    return shape;
}

// LDA $5000 / LDA $5001 / JMP: no two lines in a row are alike.
test::ImageShape AlternatingNoisyProgram() {
    test::ImageShape shape;
    shape.program = {0xAD, 0x00, 0x50, 0xAD, 0x01, 0x50, 0x4C, 0x00, 0xC0};
    return shape;
}

// Drives the window's frame loop on its own clock: each wake-up comes when the timer asked for,
// plus a small delay as a real timer has, for `seconds` of made-up time after the opening
// picture.
struct SimulatedRun {
    int64_t ticks = 0;
    int64_t frames = 0;
    int maxBlocksAddedInATick = 0;
};

SimulatedRun Simulate(TfrmNES& window, double seconds) {
    Clock::time_point now = Clock::now();
    FrameLoop& loop = window.frameLoop();
    loop.SetClock([&now] { return now; });
    uint32_t noise = 12345;
    auto advance = [&](int milliseconds) {
        noise = noise * 1103515245u + 12345u;
        now +=
            std::chrono::milliseconds(milliseconds) + std::chrono::microseconds(50 + noise % 950);
    };
    while (window.displaySurface()->SplashActive()) {
        loop.Tick();
        advance(loop.timer().interval());
    }
    loop.Tick();  // the pace starts here
    auto* log = window.findChild<QPlainTextEdit*>(QStringLiteral("Terminal"));
    SimulatedRun run;
    const uint64_t firstFrame = window.machine().messagePointsReached;
    const Clock::time_point end =
        now + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    while (now < end && window.engine().Running()) {
        advance(loop.timer().interval());
        const int blocks = log->blockCount();
        loop.Tick();
        ++run.ticks;
        run.maxBlocksAddedInATick = std::max(run.maxBlocksAddedInATick, log->blockCount() - blocks);
    }
    run.frames = int64_t(window.machine().messagePointsReached - firstFrame);
    loop.SetClock([] { return Clock::now(); });
    return run;
}

}  // namespace

class FrameLoopTest : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir_;
    test::WindowFixture fixture_;

   private slots:
    void init() {
        dir_ = std::make_unique<QTemporaryDir>();
        fixture_.Reset();
    }

    void theTimerWakesAtMostTwiceAFrameAndKeepsThePace() {
        QCOMPARE(TimerWait(Clock::time_point{} + std::chrono::microseconds(16400),
                           Clock::time_point{} + std::chrono::microseconds(16600)),
                 1);
        QCOMPARE(TimerWait(Clock::time_point{} + std::chrono::milliseconds(5), Clock::time_point{}),
                 0);
        auto window = fixture_.MakeWindow();
        window->show();
        window->LoadImage(test::WriteImage(*dir_, QStringLiteral("pace.nes"), {}));
        const SimulatedRun run = Simulate(*window, 60.0);
        const double rate = double(run.frames) / 60.0;
        QVERIFY2(std::abs(rate - kConsoleFrameRate) < kConsoleFrameRate * 0.005,
                 qPrintable(QString::number(rate)));
        QVERIFY2(
            double(run.ticks) / double(run.frames) <= 2.0,
            qPrintable(QStringLiteral("%1 ticks for %2 frames").arg(run.ticks).arg(run.frames)));
    }

    // Slow motion runs below the console's pace; fast-forward, while ` is held, at its cap, or
    // unlimited as fast as the ticks come; released, the speed setting again.
    void fastForwardAndSlowMotionSetThePace() {
        auto window = fixture_.MakeWindow();
        window->show();
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
        window->LoadImage(test::WriteImage(*dir_, QStringLiteral("speed.nes"), {}));
        Settings& settings = window->machine().settings;
        // Within half a per cent, or two frames where that is less.
        auto paceIs = [&](double seconds, double speed) {
            const double frames = double(Simulate(*window, seconds).frames);
            const double expected = kConsoleFrameRate * speed * seconds;
            if (std::abs(frames - expected) <= std::max(2.0, expected * 0.005)) return true;
            qWarning("%.0f frames in %.0f s, not %.0f", frames, seconds, expected);
            return false;
        };
        settings.EmulationSpeed = 50;
        QVERIFY(paceIs(10.0, 0.5));
        settings.EmulationSpeed = 25;
        QVERIFY(paceIs(10.0, 0.25));
        QTest::keyPress(test::KeyTarget(*window), Qt::Key_QuoteLeft);
        settings.FastForwardCap = 8;
        QVERIFY(paceIs(5.0, 8.0));
        settings.FastForwardCap = 0;
        const SimulatedRun unlimited = Simulate(*window, 1.0);
        QVERIFY2(unlimited.frames > 20 * kConsoleFrameRate,
                 qPrintable(QString::number(unlimited.frames)));
        QTest::keyRelease(test::KeyTarget(*window), Qt::Key_QuoteLeft);
        QVERIFY(paceIs(10.0, 0.25));
    }

    // The periodic flush is no command that holds the machine: the next frame stays due when it
    // was.
    void theBatteryFlushLeavesTheDeadlineAlone() {
        test::ImageShape shape;
        shape.flags6 = 0x02;
        shape.program = {0xEE, 0x00, 0x60, 0x4C, 0x00, 0xC0};  // INC $6000, again and again
        auto window = fixture_.MakeWindow();
        window->show();
        window->LoadImage(test::WriteImage(*dir_, QStringLiteral("flush.nes"), shape));
        Simulate(*window, 1.0);
        const Clock::time_point deadline = window->pacer().NextDeadline();
        window->FlushBatteryMemory();
        window->engine().WaitForBackedMemoryFlush();
        QCOMPARE(window->pacer().NextDeadline(), deadline);
        QVERIFY(QFileInfo::exists(dir_->filePath(QStringLiteral("flush.sav"))));
    }

    // A program that reads an unmapped address all the time runs at the console's pace, and the
    // panel takes a bounded number of lines per tick; the library's log has every line.
    void aNoisyProgramKeepsThePaceAndTheLogStaysSmall() {
        auto window = fixture_.MakeWindow();
        window->show();
        window->LoadImage(test::WriteImage(*dir_, QStringLiteral("noisy.nes"), NoisyProgram()));
        const uint64_t before = window->machine().log.TotalAppended();
        const SimulatedRun run = Simulate(*window, 10.0);
        QVERIFY(std::abs(double(run.frames) / 10.0 - kConsoleFrameRate) <
                kConsoleFrameRate * 0.005);
        QVERIFY(window->machine().log.TotalAppended() - before > uint64_t(run.frames) * 1000);
        QVERIFY2(run.maxBlocksAddedInATick <= 2,
                 qPrintable(QString::number(run.maxBlocksAddedInATick)));
        const QStringList lines = test::LogLines(*window);
        QCOMPARE(lines.value(lines.size() - 2), QStringLiteral("Ignore read at address $5000"));
        QVERIFY(lines.last().startsWith(QStringLiteral("(last line repeated ")));

        window->LoadImage(
            test::WriteImage(*dir_, QStringLiteral("alternating.nes"), AlternatingNoisyProgram()));
        const SimulatedRun alternating = Simulate(*window, 2.0);
        QVERIFY2(alternating.maxBlocksAddedInATick <= int(LogPanel::kIgnoredRunsPerBatch) + 2,
                 qPrintable(QString::number(alternating.maxBlocksAddedInATick)));
        QVERIFY(
            test::LogLines(*window).last().endsWith(QStringLiteral("ignored accesses not shown)")));
    }

    // Equal lines across batches grow one count; a different line ends the run.
    void repeatsAreCountedAcrossBatches() {
        auto window = fixture_.MakeWindow();
        Log& log = window->machine().log;
        for (int i = 0; i < 3; ++i) log.AppendIgnoredWrite(0x4018);
        window->frameLoop().AfterCommand();
        for (int i = 0; i < 4; ++i) log.AppendIgnoredWrite(0x4018);
        window->frameLoop().AfterCommand();
        log.Append("6502 engine stopped.");
        log.AppendIgnoredWrite(0x4018);
        window->frameLoop().AfterCommand();
        const QStringList lines = test::LogLines(*window);
        QCOMPARE(lines.mid(lines.size() - 4),
                 (QStringList{"Ignore write at address $4018", "(last line repeated 6 times)",
                              "6502 engine stopped.", "Ignore write at address $4018"}));
    }

    // An error that escapes the run stops the machine with a message; the window, the cartridge
    // and its battery file stay.
    void aRunThatThrowsStopsTheMachineAndKeepsTheWindow() {
        test::ImageShape shape;
        shape.flags6 = 0x02;
        const QString image = test::WriteImage(*dir_, QStringLiteral("throw.nes"), shape);
        const QByteArray progress(8192, 0x21);
        QFile sav(dir_->filePath(QStringLiteral("throw.sav")));
        QVERIFY(sav.open(QIODevice::WriteOnly));
        sav.write(progress);
        sav.close();
        auto window = fixture_.MakeWindow();
        window->show();
        window->activateWindow();  // the joystick is read only for the window in front
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
        window->machine().settings.joystickEnabled[0] = true;
        ApplyKeyBindings(window->machine());
        window->LoadImage(image);
        fixture_.joystick.failing = true;
        Simulate(*window, 0.5);
        QCOMPARE(fixture_.errors.size(), 1);
        QVERIFY(fixture_.errors.first().contains(QStringLiteral("the joystick driver failed")));
        QVERIFY(!window->engine().Running());
        QVERIFY(window->engine().CartridgeStarted());
        QVERIFY(window->isVisible());
        QVERIFY(sav.open(QIODevice::ReadOnly));
        QCOMPARE(sav.readAll(), progress);
    }
};

QTEST_MAIN(FrameLoopTest)
#include "frame_loop_test.moc"
