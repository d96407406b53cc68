// State > Record movie… on the real window: the joypads pressed through the keyboard while the
// frame loop runs are recorded, and the built runner replays the movie with every checkpoint
// matching and the game's RAM as the window left it; a movie from here stops by itself at a reset;
// a file that cannot be written loses nothing.
#include <QAction>
#include <QDir>
#include <QProcess>
#include <QtTest>

#include "tests/ui/window_fixture.h"

using namespace vexalo;

namespace {

const QString kJoypadImage = QStringLiteral(VEXALO_TEST_ROM_DIR "/joypad_test.nes");
// Where joypad_test keeps the pads: PAD1, PAD2, NINTH, FRAME_COUNT, and pad 1's byte of every
// frame, indexed by FRAME_COUNT.
constexpr int kPads = 0x300, kFrameCount = 0x303, kHistory1 = 0x400;

struct RunnerRun {
    int status = -1;
    QString output;
};

RunnerRun Runner(const QStringList& arguments) {
    QProcess runner;
    runner.setProcessChannelMode(QProcess::MergedChannels);
    runner.start(QStringLiteral(VEXALO_RUNNER), arguments);
    RunnerRun run;
    if (runner.waitForFinished(60000) && runner.exitStatus() == QProcess::NormalExit)
        run.status = runner.exitCode();
    run.output = QString::fromUtf8(runner.readAll());
    return run;
}

// The runner's --peek line for these bytes of the window's RAM.
QString PeekLine(TfrmNES& window, int address, int length) {
    QString line = QStringLiteral("%1:").arg(address, 4, 16, QLatin1Char('0')).toUpper();
    for (int i = 0; i < length; ++i)
        line += QStringLiteral(" %1").arg(window.machine().internalRam[address + i], 2, 16,
                                          QLatin1Char('0'));
    return line.toUpper();
}

// The runner's bytes of one --peek line ("0400: 00 80 ...").
QList<int> PeekBytes(const QString& output, int address) {
    const QString head = QStringLiteral("%1:").arg(address, 4, 16, QLatin1Char('0')).toUpper();
    for (const QString& line : output.split('\n')) {
        if (!line.startsWith(head)) continue;
        QList<int> bytes;
        for (const QString& byte : line.mid(head.size()).split(' ', Qt::SkipEmptyParts))
            bytes << byte.toInt(nullptr, 16);
        return bytes;
    }
    return {};
}

QString ReadText(const QString& file) {
    QFile f(file);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

}  // namespace

class MovieRecordingTest : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir_;
    test::WindowFixture fixture_;

    std::unique_ptr<TfrmNES> RunningWindow() {
        auto window = fixture_.ActiveWindow();
        if (!window) return nullptr;
        window->LoadImage(kJoypadImage);
        return window;
    }

    static void Press(TfrmNES& window, Qt::Key key) {
        QTest::keyPress(test::KeyTarget(window), key);
    }
    static void Release(TfrmNES& window, Qt::Key key) {
        QTest::keyRelease(test::KeyTarget(window), key);
    }

   private slots:
    void init() {
        dir_ = std::make_unique<QTemporaryDir>();
        fixture_.Reset();
    }

    // From power-on after a run of the cartridge, with the default keys (Right, Space as A, Up)
    // pressed and let go and a Pause on the way: the runner replays the movie, every checkpoint
    // matches, and the game's RAM (every frame's pad byte among it) is the window's. The run
    // before leaves the sound tick's phase behind, so the movie starts from a state of the
    // power-on.
    void aRecordedMovieReplaysBitExactlyInTheRunner() {
        auto window = RunningWindow();
        QVERIFY(window);
        QVERIFY(window->mnuRecordMovie->isEnabled());
        test::Ticker ticker(*window);
        ticker.Ticks(25);  // played before: the recording starts the cartridge afresh

        const QString movie = dir_->filePath(QStringLiteral("play.movie"));
        fixture_.chosenMovie = {movie};
        window->mnuRecordMovie->trigger();
        QCOMPARE(window->mnuRecordMovie->text(), QStringLiteral("Stop movie recording"));
        QVERIFY(!window->mnuRecordMovieHere->isEnabled());
        QCOMPARE(window->machine().internalRam[kFrameCount], uint8_t(0));
        ticker.Ticks(20);
        Press(*window, Qt::Key_Right);
        ticker.Ticks(20);
        Press(*window, Qt::Key_Space);
        ticker.Ticks(20);
        Release(*window, Qt::Key_Right);
        ticker.Ticks(10);
        window->mnuPauseClick();
        ticker.Ticks(3);  // paused: nothing runs
        window->mnuPauseClick();
        ticker.Ticks(10);
        Release(*window, Qt::Key_Space);
        Press(*window, Qt::Key_Up);
        ticker.Ticks(20);
        window->mnuRecordMovie->trigger();
        Release(*window, Qt::Key_Up);
        QCOMPARE(window->mnuRecordMovie->text(), QStringLiteral("Record &movie\u2026"));
        QCOMPARE(test::StatusText(*window),
                 QStringLiteral("Movie recorded: 100 frames in \"play.movie\"."));
        QVERIFY(fixture_.errors.isEmpty());
        const QString text = ReadText(movie);
        QVERIFY2(text.contains(QStringLiteral("\n# start: state ")), qPrintable(text));
        QVERIFY2(text.contains(QStringLiteral("\n# pause: ")), qPrintable(text));

        const RunnerRun run =
            Runner({kJoypadImage, QStringLiteral("--input"), movie, QStringLiteral("--verify"),
                    QStringLiteral("--peek"), QStringLiteral("300:4"), QStringLiteral("--peek"),
                    QStringLiteral("400:100")});
        QVERIFY2(run.status == 0, qPrintable(run.output));
        QVERIFY2(run.output.contains(QStringLiteral("checkpoints matched over 100 frames.")),
                 qPrintable(run.output));
        QVERIFY2(run.output.contains(PeekLine(*window, kPads, 4)), qPrintable(run.output));
        QVERIFY2(run.output.contains(PeekLine(*window, kHistory1, 0x100)), qPrintable(run.output));

        // The pads the game read in the replay, each held run once: what the keys pressed.
        const QList<int> history = PeekBytes(run.output, kHistory1);
        QCOMPARE(history.size(), 0x100);
        QList<int> held;
        for (int i = 0; i < window->machine().internalRam[kFrameCount]; ++i)
            if (held.isEmpty() || held.last() != history[i]) held << history[i];
        QCOMPARE(held, (QList<int>{0x00, 0x80, 0x81, 0x01, 0x10}));
    }

    // From here: the machine goes to a state beside the movie; a reset ends the recording by
    // itself with a status message, and the runner replays what was recorded from that state.
    void aMovieFromHereStopsByItselfAtAReset() {
        auto window = RunningWindow();
        QVERIFY(window);
        test::Ticker ticker(*window);
        Press(*window, Qt::Key_Left);
        ticker.Ticks(30);
        const QString movie = dir_->filePath(QStringLiteral("here.movie"));
        fixture_.chosenMovie = {movie};
        window->mnuRecordMovieHere->trigger();
        QCOMPARE(window->mnuRecordMovie->text(), QStringLiteral("Stop movie recording"));
        QVERIFY(QFileInfo::exists(movie + QStringLiteral(".state")));
        QVERIFY(window->machine().internalRam[kFrameCount] > 0);
        ticker.Ticks(30);
        Release(*window, Qt::Key_Left);
        Press(*window, Qt::Key_Down);
        ticker.Ticks(30);
        window->mnuResetClick();
        ticker.Ticks(2);
        QTRY_COMPARE(window->mnuRecordMovie->text(), QStringLiteral("Record &movie\u2026"));
        Release(*window, Qt::Key_Down);
        QCOMPARE(test::StatusText(*window),
                 QStringLiteral("Movie recording stopped by a reset, load, rewind or debugger: "
                                "60 frames in \"here.movie\"."));
        QVERIFY(ReadText(movie).contains(QStringLiteral("\n# start: state ")));

        const RunnerRun run =
            Runner({kJoypadImage, QStringLiteral("--input"), movie, QStringLiteral("--verify"),
                    QStringLiteral("--peek"), QStringLiteral("300:1")});
        QVERIFY2(run.status == 0, qPrintable(run.output));
        QVERIFY2(run.output.contains(QStringLiteral("checkpoints matched over 60 frames.")),
                 qPrintable(run.output));
        QVERIFY2(run.output.contains(QStringLiteral("0300: 20")), qPrintable(run.output));
    }

    // A state that cannot be written refuses the recording in the status bar; a movie whose
    // folder went away while it recorded is reported when the cartridge is freed, and another
    // file takes it. Recorded right after the load, it starts at power-on as a new process does.
    void aFileThatCannotBeWrittenLosesNothing() {
        auto window = RunningWindow();
        QVERIFY(window);
        test::Ticker ticker(*window);
        fixture_.chosenMovie = {dir_->filePath(QStringLiteral("missing/here.movie"))};
        window->mnuRecordMovieHere->trigger();
        QVERIFY2(test::StatusText(*window).startsWith(QStringLiteral("Movie not recorded: ")),
                 qPrintable(test::StatusText(*window)));
        QCOMPARE(window->mnuRecordMovie->text(), QStringLiteral("Record &movie\u2026"));

        QVERIFY(QDir(dir_->path()).mkdir(QStringLiteral("gone")));
        const QString elsewhere = dir_->filePath(QStringLiteral("elsewhere.movie"));
        fixture_.chosenMovie = {dir_->filePath(QStringLiteral("gone/play.movie")), elsewhere};
        window->mnuRecordMovie->trigger();
        ticker.Ticks(70);
        QVERIFY(QDir(dir_->filePath(QStringLiteral("gone"))).removeRecursively());
        window->mnuFreeROMClick();
        QCOMPARE(fixture_.errors.size(), 1);
        QVERIFY(fixture_.errors.first().contains(QStringLiteral("play.movie")));
        QVERIFY(!window->mnuRecordMovie->isEnabled());
        QVERIFY(ReadText(elsewhere).contains(QStringLiteral("\n# start: power-on\n")));
        const RunnerRun run = Runner(
            {kJoypadImage, QStringLiteral("--input"), elsewhere, QStringLiteral("--verify")});
        QVERIFY2(run.status == 0, qPrintable(run.output));
        QVERIFY2(run.output.contains(QStringLiteral("checkpoints matched over 70 frames.")),
                 qPrintable(run.output));
    }
};

QTEST_MAIN(MovieRecordingTest)
#include "movie_recording_test.moc"
