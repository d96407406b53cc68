// File > Record music… on the real window: the demo's tune recorded while it plays and read back
// by Debian's mido (a reader that is not ours), note for note what the machine sent; and a file
// that cannot be written, at the start and at the end, reported without losing the recording.
#include <QAction>
#include <QDir>
#include <QProcess>
#include <QtTest>
#include <algorithm>

#include "tests/ui/window_fixture.h"

using namespace vexalo;

namespace {

// "CHANNEL on|off KEY" for each note event, sorted (within one frame the file may put a
// note-off before a note-on).
QStringList Sorted(QStringList lines) {
    lines.sort();
    return lines;
}

// The file as mido reads it: its format, track count and division, then each note of a channel
// track with its absolute time in ticks as "CHANNEL on|off KEY TICK".
QStringList ReadWithMido(const QString& file) {
    static const char* kScript = R"(
import mido, sys
f = mido.MidiFile(sys.argv[1])
print(f.type, len(f.tracks), f.ticks_per_beat)
for track in f.tracks[1:]:
    tick = 0
    for m in track:
        tick += m.time
        if m.type in ('note_on', 'note_off'):
            on = m.type == 'note_on' and m.velocity > 0
            print(m.channel, 'on' if on else 'off', m.note, tick)
)";
    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"),
                 {QStringLiteral("-c"), QLatin1String(kScript), file});
    if (!python.waitForFinished(30000) || python.exitCode() != 0) {
        qWarning("%s", python.readAllStandardError().constData());
        return {};
    }
    return QString::fromUtf8(python.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
}

}  // namespace

class MusicRecordingTest : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir_;
    test::WindowFixture fixture_;

   private slots:
    void init() {
        dir_ = std::make_unique<QTemporaryDir>();
        fixture_.Reset();
    }

    void theTuneIsRecordedAndReadBack() {
        auto window = fixture_.MakeWindow();
        QVERIFY(!window->mnuRecordMusic->isEnabled());  // nothing plays yet
        window->LoadImage(QStringLiteral(VEXALO_DEMO_ROM));
        window->engine().RunFrames(60);  // the recording starts in the middle of the tune
        fixture_.recorder.Clear();
        const QString file = dir_->filePath(QStringLiteral("tune.mid"));
        fixture_.chosenMusic = {file};
        window->mnuRecordMusic->trigger();
        QCOMPARE(window->mnuRecordMusic->text(), QStringLiteral("Stop recording"));
        window->engine().RunFrames(600);
        window->mnuRecordMusic->trigger();
        QCOMPARE(window->mnuRecordMusic->text(), QStringLiteral("Record music\u2026"));
        QVERIFY(fixture_.errors.isEmpty());

        // What went to the MIDI output while it recorded.
        QStringList sent;
        for (const MidiEvent& e : fixture_.recorder.Events()) {
            const int kind = e.status & 0xF0, channel = e.status & 0x0F;
            if (e.kind != MidiEvent::Kind::ShortMessage || channel > 3) continue;
            if (kind == 0x90 || kind == 0x80)
                sent << QStringLiteral("%1 %2 %3")
                            .arg(channel)
                            .arg(kind == 0x90 && e.data2 > 0 ? "on" : "off")
                            .arg(e.data1);
        }
        QVERIFY(sent.count() > 20);
        const QStringList read = ReadWithMido(file);
        QVERIFY(!read.isEmpty());
        QCOMPARE(read.first(), QStringLiteral("1 5 480"));  // format 1, tempo + 4 channels
        QStringList notes;
        for (const QString& line : read.mid(1)) {
            const QStringList parts = line.split(' ');
            const int tick = parts[3].toInt();
            QVERIFY2(tick % 16 == 0 && tick <= 600 * 16, qPrintable(line));  // on a frame
            notes << parts.mid(0, 3).join(' ');
        }
        QCOMPARE(Sorted(notes), Sorted(sent));
    }

    // A folder that cannot be written is reported when the recording starts; one that goes away
    // while it records is reported at the end, and another file takes the recording.
    void aFileThatCannotBeWrittenLosesNothing() {
        auto window = fixture_.MakeWindow();
        window->LoadImage(QStringLiteral(VEXALO_DEMO_ROM));
        fixture_.chosenMusic = {dir_->filePath(QStringLiteral("missing/tune.mid"))};
        window->mnuRecordMusic->trigger();
        QCOMPARE(fixture_.errors.size(), 1);
        QVERIFY(fixture_.errors.first().contains(QStringLiteral("tune.mid")));
        QCOMPARE(window->mnuRecordMusic->text(), QStringLiteral("Record music\u2026"));

        QVERIFY(QDir(dir_->path()).mkdir(QStringLiteral("gone")));
        const QString elsewhere = dir_->filePath(QStringLiteral("elsewhere.mid"));
        fixture_.chosenMusic = {dir_->filePath(QStringLiteral("gone/tune.mid")), elsewhere};
        window->mnuRecordMusic->trigger();
        window->engine().RunFrames(300);
        QVERIFY(QDir(dir_->filePath(QStringLiteral("gone"))).removeRecursively());
        // Freeing the cartridge ends the recording too.
        window->mnuFreeROMClick();
        QCOMPARE(fixture_.errors.size(), 2);
        QCOMPARE(window->mnuRecordMusic->text(), QStringLiteral("Record music\u2026"));
        const QStringList read = ReadWithMido(elsewhere);
        QVERIFY(read.size() > 10);
        QCOMPARE(read.first(), QStringLiteral("1 5 480"));
    }
};

QTEST_MAIN(MusicRecordingTest)
#include "music_recording_test.moc"
