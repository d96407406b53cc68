// The main window under the offscreen platform: menus and their states, the recent images, the
// status bar, the settings store, closing with a battery cartridge, the plain drawing's picture
// and frame-rate text, snapshots, Reset while running and the keys.
#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <algorithm>
#include <fstream>
#include <memory>

#include "machine/display_view.h"
#include "sound/midi_recorder.h"
#include "tests/ui/window_fixture.h"
#include "ui/main_window.h"
#include "unit/image_builder.h"

using namespace vexalo;

namespace {

using test::LogLines;
using test::Store;
using test::WriteImage;

// A program that sounds a note on square 1 and then waits: LDA #$FD / STA $4002 / LDA #$08 /
// STA $4003 / JMP to itself.
test::ImageShape NoteProgram() {
    test::ImageShape shape;
    shape.program = {0xA9, 0xFD, 0x8D, 0x02, 0x40, 0xA9, 0x08, 0x8D, 0x03, 0x40, 0x4C, 0x0A, 0xC0};
    return shape;
}

}  // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir_;
    test::WindowFixture fixture_;
    MidiRecorder& recorder_ = fixture_.recorder;
    QString& chosenImage_ = fixture_.chosenImage;
    QString& chosenSnapshot_ = fixture_.chosenSnapshot;
    QStringList& errors_ = fixture_.errors;

    std::unique_ptr<TfrmNES> MakeWindow() { return fixture_.MakeWindow(); }

   private slots:
    void init() {
        dir_ = std::make_unique<QTemporaryDir>();
        fixture_.Reset();
    }

    void startsWithItsMenusAndLog() {
        auto window = MakeWindow();
        QCOMPARE(window->windowTitle(), QStringLiteral("Vexalo Emulator"));
        const struct {
            QAction* item;
            const char* caption;
            QKeySequence keys;
            bool enabled;
        } items[] = {
            {window->mnuLoadROM, "&Load ROM ...", QKeySequence(Qt::Key_F2), true},
            {window->mnuFreeROM, "&Free ROM ...", QKeySequence(Qt::Key_F3), false},
            {window->mnuSavesnapshot, "Save snapshot", QKeySequence(Qt::Key_F5), false},
            {window->mnuSettings, "Settings ...", QKeySequence(Qt::Key_F4), true},
            {window->mnuRom, "Rom &Header", QKeySequence(Qt::Key_F1), false},
            {window->mnuExit, "E&xit", QKeySequence(Qt::CTRL | Qt::Key_F4), true},
            {window->mnuReset, "&Reset", QKeySequence(Qt::SHIFT | Qt::Key_F2), true},
            {window->mnuPause, "&Pause", QKeySequence(Qt::CTRL | Qt::Key_F2), true},
            {window->mnuDebug, "&Debug", QKeySequence(Qt::Key_F6), true},
            {window->mnuAbout, "About ...", QKeySequence(), true},
        };
        for (const auto& entry : items) {
            QCOMPARE(entry.item->text(), QString::fromLatin1(entry.caption));
            QCOMPARE(entry.item->shortcut(), entry.keys);
            QCOMPARE(entry.item->isEnabled(), entry.enabled);
        }
        QCOMPARE(window->mnuFile->title(), QStringLiteral("&File"));
        QCOMPARE(window->mnuCPU->title(), QStringLiteral("&CPU"));
        QCOMPARE(window->Help1->title(), QStringLiteral("&Help"));
        QStringList popup;
        for (QAction* item : window->PopupMenu->actions())
            if (!item->isSeparator()) popup << item->text().section(QLatin1Char('\t'), 0, 0);
        QCOMPARE(popup, (QStringList{"&Load ROM ...", "&Free ROM ...", "&Reset", "&Pause"}));

        const QStringList log = LogLines(*window);
        QCOMPARE(log.value(0), QStringLiteral("Vexalo Emulator 0.0.6 beta"));
        QCOMPARE(log.value(1), QStringLiteral("The NES Emulator"));
        QVERIFY(!log.value(2).isEmpty() && !log.value(3).isEmpty());
        QCOMPARE(log.value(4), QString());
        // The log panel shows while nothing runs.
        auto* terminal = window->findChild<QPlainTextEdit*>(QStringLiteral("Terminal"));
        QVERIFY(terminal->isReadOnly());
        QCOMPARE(terminal->maximumBlockCount(), 10000);
    }

    void loadAndFreeSetTheCartridgeItemsAndTheStatusBar() {
        auto window = MakeWindow();
        window->show();
        chosenImage_ = WriteImage(*dir_, QStringLiteral("Quest.nes"), {});
        window->mnuLoadROMClick();
        QVERIFY(window->engine().Running());
        for (QAction* item :
             {window->mnuFreeROM, window->mnuSavesnapshot, window->mnuRom, window->mnuDebug})
            QVERIFY(item->isEnabled());
        auto* panel0 = window->findChild<QLabel*>(QStringLiteral("StatusPanel0"));
        QCOMPARE(panel0->text(), QStringLiteral("QUEST.NES"));
        QCOMPARE(panel0->width(), 300);
        QCOMPARE(window->findChild<QWidget*>(QStringLiteral("StatusPanel1"))->width(), 50);
        QVERIFY(!window->findChild<QPlainTextEdit*>(QStringLiteral("Terminal"))->isVisible());
        QVERIFY(window->findChild<QWidget*>(QStringLiteral("DXDraw"))->isVisible());

        window->mnuFreeROMClick();
        for (QAction* item :
             {window->mnuFreeROM, window->mnuSavesnapshot, window->mnuRom, window->mnuDebug})
            QVERIFY(!item->isEnabled());
        QCOMPARE(panel0->text(), QString());
        QCOMPARE(LogLines(*window).last(), QStringLiteral("Cartridge discharged."));
        QVERIFY(window->findChild<QPlainTextEdit*>(QStringLiteral("Terminal"))->isVisible());

        // Reset and Pause do nothing without a cartridge, whatever calls them.
        const int lines = LogLines(*window).size();
        window->mnuResetClick();
        window->mnuPauseClick();
        QCOMPARE(LogLines(*window).size(), lines);
        QVERIFY(!window->engine().Running());
    }

    void recentImagesKeepFiveInOrder() {
        auto window = MakeWindow();
        QStringList paths;
        for (int i = 1; i <= 6; ++i)
            paths << WriteImage(*dir_, QStringLiteral("game%1.nes").arg(i), {});
        for (int i = 0; i < 5; ++i) window->LoadImage(paths[i]);
        QCOMPARE(window->mruList(),
                 (QStringList{paths[4], paths[3], paths[2], paths[1], paths[0]}));
        // The same path in another letter case keeps its place.
        window->LoadImage(paths[2].toUpper());
        QCOMPARE(window->mruList().first(), paths[4]);
        // A sixth image drops the oldest.
        window->LoadImage(paths[5]);
        QCOMPARE(window->mruList(),
                 (QStringList{paths[5], paths[4], paths[3], paths[2], paths[1]}));

        window->mnuFileClick();
        for (int i = 0; i < 5; ++i) {
            QVERIFY(window->MRU[i]->isVisible());
            QCOMPARE(window->MRU[i]->text(), window->mruList()[i]);
        }
        QVERIFY(window->MRUSeparator->isVisible());
        // MRU3 opens the third path and leaves the order alone.
        window->MRU[2]->trigger();
        QCOMPARE(QString::fromStdString(window->machine().cart.romFileName),
                 QFileInfo(paths[3]).fileName());
        QCOMPARE(window->mruList().first(), paths[5]);
    }

    void recentItemsHideWhenEmpty() {
        {
            QSettings store = Store();
            store.setValue(QStringLiteral("MRU1"), QStringLiteral("/a.nes"));
            store.setValue(QStringLiteral("MRU4"), QStringLiteral("/d.nes"));
        }
        auto window = MakeWindow();
        QCOMPARE(window->mruList(), (QStringList{"/a.nes", "", "", "/d.nes", ""}));
        window->mnuFileClick();
        const bool visible[5] = {true, false, false, true, false};
        for (int i = 0; i < 5; ++i) QCOMPARE(window->MRU[i]->isVisible(), visible[i]);
        QVERIFY(window->MRUSeparator->isVisible());
        window->mruList() = QStringList{"", "", "", "", ""};
        window->mnuFileClick();
        QVERIFY(!window->MRUSeparator->isVisible());
    }

    void cpuMenuSilencesAndNamesPause() {
        auto window = MakeWindow();
        window->show();
        recorder_.failOpen = false;
        window->LoadImage(WriteImage(*dir_, QStringLiteral("note.nes"), NoteProgram()));
        QVERIFY(window->machine().sound.midiOpen);
        window->engine().RunFrames(2);
        const int note = window->machine().sound.lastNote[0];
        QVERIFY(note != 0);
        recorder_.Clear();
        window->mnuCPUClick();
        // The sounding note is switched off.
        bool noteOff = false;
        for (const MidiEvent& e : recorder_.ShortMessages())
            noteOff |= e.status == 0x80 && e.data1 == note;
        QVERIFY(noteOff);
        QCOMPARE(window->mnuPause->text(), QStringLiteral("&Pause"));
        QVERIFY(window->mnuReset->isEnabled());
        window->mnuPause->trigger();
        window->mnuCPUClick();
        QCOMPARE(window->mnuPause->text(), QStringLiteral("&Run"));
        window->mnuPause->trigger();
        QVERIFY(window->engine().Running());
        window->mnuFreeROMClick();
        window->mnuCPUClick();
        QVERIFY(!window->mnuReset->isEnabled());
        QVERIFY(!window->mnuPause->isEnabled());
    }

    void firstStartUsesTheDefaultsAndExitWritesEveryValue() {
        {
            auto window = MakeWindow();
            const Settings& s = window->machine().settings;
            QCOMPARE(s.FrameRate, 1);  // every frame shown: the pace does not depend on it
            QCOMPARE(s.SoundVolume, 65535);
            QCOMPARE(s.WIN, 0);
            QVERIFY(!s.ViewFrequency);
            for (bool on : s.channelEnabled) QVERIFY(on);
            QCOMPARE(window->mruList(), (QStringList{"", "", "", "", ""}));
            const Settings defaults;
            for (int p = 0; p < 2; ++p) {
                QVERIFY(!s.joystickEnabled[p]);
                for (int b = 0; b < 8; ++b) QCOMPARE(s.KeyBinding[p][b], defaults.KeyBinding[p][b]);
            }
        }
        QSettings store = Store();
        QStringList main = store.childKeys();
        main.sort();
        QStringList expected{"EmulationSpeed",
                             "FastForwardCap",
                             "FrameRate",
                             "MRU1",
                             "MRU2",
                             "MRU3",
                             "MRU4",
                             "MRU5",
                             "PixelAspect",
                             "SCREEN",
                             "SoundChannel1",
                             "SoundChannel2",
                             "SoundChannel3",
                             "SoundChannel4",
                             "SoundVolume",
                             "ViewFrequency",
                             "WIN",
                             "WindowScale"};
        QCOMPARE(main, expected);
        for (const char* group : {"JOY1", "JOY2"}) {
            store.beginGroup(QLatin1String(group));
            QStringList keys = store.childKeys();
            keys.sort();
            QCOMPARE(keys, (QStringList{"A", "B", "DOWN", "ENABLED", "LEFT", "RIGHT", "SELECT",
                                        "START", "UP"}));
            store.endGroup();
        }
        QCOMPARE(store.value(QStringLiteral("FrameRate")).toString(), QStringLiteral("1"));
        QCOMPARE(store.value(QStringLiteral("SoundChannel1")).toString(), QStringLiteral("1"));
        QCOMPARE(store.value(QStringLiteral("JOY2/UP")).toString(), QStringLiteral("69"));
    }

    void oddStoredValuesAreBroughtIntoRange() {
        {
            QSettings store = Store();
            store.setValue(QStringLiteral("FrameRate"), 0);
            store.setValue(QStringLiteral("SoundVolume"), 1000000);
            store.setValue(QStringLiteral("ViewFrequency"), QStringLiteral("maybe"));
            store.setValue(QStringLiteral("SoundChannel2"), 7);
            store.setValue(QStringLiteral("WIN"), 1);  // no SCREEN: window display
            store.setValue(QStringLiteral("JOY1/UP"), 999);
            store.setValue(QStringLiteral("JOY1/A"), QStringLiteral("space"));
            store.setValue(QStringLiteral("JOY1/B"), -1);
            store.setValue(QStringLiteral("JOY2/ENABLED"), 1);
            store.setValue(QStringLiteral("FastForwardCap"), 3);  // not a choice of the menu
            store.setValue(QStringLiteral("EmulationSpeed"), 75);
        }
        {
            auto window = MakeWindow();
            const Settings& s = window->machine().settings;
            QCOMPARE(s.FrameRate, 1);
            QCOMPARE(s.SoundVolume, 65535);
            QVERIFY(!s.ViewFrequency);
            QVERIFY(s.channelEnabled[1]);
            QCOMPARE(s.WIN, 0);
            QCOMPARE(s.KeyBinding[0][BindUp], 38);
            QCOMPARE(s.KeyBinding[0][BindA], 32);
            QCOMPARE(s.KeyBinding[0][BindB], -1);
            QVERIFY(s.joystickEnabled[1]);
            QCOMPARE(s.FastForwardCap, 4);
            QCOMPARE(s.EmulationSpeed, 100);
        }
        QSettings store = Store();
        store.setValue(QStringLiteral("FrameRate"), 99);
        store.setValue(QStringLiteral("SoundVolume"), -5);
        store.setValue(QStringLiteral("SCREEN"), QStringLiteral("640x480x8"));
        store.setValue(QStringLiteral("WIN"), 1);
        store.setValue(QStringLiteral("FastForwardCap"), 0);  // unlimited
        store.setValue(QStringLiteral("EmulationSpeed"), 25);
        store.sync();
        auto window = MakeWindow();
        QCOMPARE(window->machine().settings.FastForwardCap, 0);
        QCOMPARE(window->machine().settings.EmulationSpeed, 25);
        QVERIFY(window->mnuSpeed[2]->isChecked() && window->mnuFastForwardCap[3]->isChecked());
        QCOMPARE(window->machine().settings.FrameRate, 10);
        QCOMPARE(window->machine().settings.SoundVolume, 0);
        QCOMPARE(window->machine().settings.WIN, 1);
        QCOMPARE(window->machine().settings.SCREEN, std::string("640x480x8"));
    }

    void closingSavesTheBatteryMemory() {
        test::ImageShape shape;
        shape.flags6 = 0x02;  // battery
        // LDA #$5A / STA $6000 / JMP to itself
        shape.program = {0xA9, 0x5A, 0x8D, 0x00, 0x60, 0x4C, 0x05, 0xC0};
        const QString image = WriteImage(*dir_, QStringLiteral("save.nes"), shape);
        auto window = MakeWindow();
        window->show();
        window->LoadImage(image);
        window->engine().RunFrames(2);
        // The periodic flush writes it while the cartridge runs.
        window->FlushBatteryMemory();
        window->engine().WaitForBackedMemoryFlush();
        QFile saved(dir_->filePath(QStringLiteral("save.sav")));
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QCOMPARE(saved.size(), 8192);
        QCOMPARE(uint8_t(saved.read(1).at(0)), uint8_t(0x5A));
        saved.close();
        QFile::remove(saved.fileName());
        // Escape closes the window, which frees the cartridge and writes the file.
        QTest::keyClick(window.get(), Qt::Key_Escape);
        QVERIFY(!window->isVisible());
        QVERIFY(saved.exists());
        QVERIFY(
            LogLines(*window).contains(QStringLiteral("Saving backed memory file \"save.sav\".")));
        QCOMPARE(LogLines(*window).last(), QStringLiteral("Cartridge discharged."));
    }

    void plainDrawingPlacesThePictureAndItsRate() {
        auto window = MakeWindow();
        window->show();
        QVERIFY(!window->directDrawActive());
        window->machine().settings.ViewFrequency = true;
        window->LoadImage(WriteImage(*dir_, QStringLiteral("p.nes"), {}));
        QWidget* view = window->findChild<QWidget*>(QStringLiteral("DXDraw"));
        QCOMPARE(view->size(), QSize(374, 250));
        DisplaySurface* surface = window->displaySurface();
        const PictureRect at = surface->PictureArea(view->width(), view->height());
        QCOMPARE(at, (PictureRect{59, 5, 256, 240}));
        uint64_t now = 5000;
        surface->SetClock([&now] { return now; });
        window->PresentFrame();
        QCOMPARE(surface->FrameRateText(), QStringLiteral("0.00 FPS"));
        now += 16;
        window->PresentFrame();
        QCOMPARE(surface->FrameRateText(), QStringLiteral("62.50 FPS"));
        // The picture shown is the machine's frame through the colour table.
        Machine& m = window->machine();
        m.ppu.vram[0x3F00] = 0x30;  // white
        m.ppu.paletteDirty = true;
        m.frame.fill(0);
        window->PresentFrame();
        QCOMPARE(surface->PictureImage().pixel(10, 10), qRgb(255, 255, 255));
        QVERIFY(!m.ppu.paletteDirty);
    }

    void snapshotWritesABitmapAndLogsIt() {
        auto window = MakeWindow();
        window->LoadImage(WriteImage(*dir_, QStringLiteral("s.nes"), {}));
        chosenSnapshot_ = dir_->filePath(QStringLiteral("shot.bmp"));
        window->mnuSavesnapshotClick();
        QFile shot(chosenSnapshot_);
        QVERIFY(shot.open(QIODevice::ReadOnly));
        QCOMPARE(shot.read(2), QByteArray("BM"));
        QCOMPARE(LogLines(*window).last(), QStringLiteral("Snapshot saved as \"shot.bmp\"."));
        // A folder that cannot be written is reported, and the window goes on.
        chosenSnapshot_ = dir_->filePath(QStringLiteral("missing/shot.bmp"));
        window->mnuSavesnapshotClick();
        QCOMPARE(errors_.size(), 1);
        QVERIFY(errors_.first().contains(QStringLiteral("shot.bmp")));
    }

    void aDroppedFileLoadsLikeLoadRom() {
        auto window = MakeWindow();
        window->show();
        const QString image = WriteImage(*dir_, QStringLiteral("dropped.nes"), {});
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(image)});
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton,
                              Qt::NoModifier);
        enter.setAccepted(false);
        QApplication::sendEvent(window.get(), &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(window.get(), &drop);
        QTRY_VERIFY(window->engine().Running());
        QCOMPARE(window->mruList().first(), image);
        // Two files at once are refused.
        data.setUrls({QUrl::fromLocalFile(image), QUrl::fromLocalFile(image)});
        QDragEnterEvent two(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        two.setAccepted(false);
        QApplication::sendEvent(window.get(), &two);
        QVERIFY(!two.isAccepted());
    }

    void theOpenDialogFindsImagesWhateverTheirLetterCase() {
        const QStringList filters = ImageFileFilters();
        QCOMPARE(filters.size(), 3);
        QVERIFY(filters[0].startsWith(QStringLiteral("NES Roms (")));
        QVERIFY(filters[1].startsWith(QStringLiteral("ASM 6502 images (")));
        QVERIFY(filters[2].startsWith(QStringLiteral("All files (")));
        for (const char* name : {"a.nes", "B.NES", "c.Nes", "d.txt", "e.exe", "f.nes.bak"})
            QFile(dir_->filePath(QLatin1String(name))).open(QIODevice::WriteOnly);
        const auto listed = [&](const QString& filter) {
            const QString patterns = filter.section(QLatin1Char('('), 1).chopped(1);
            return QDir(dir_->path())
                .entryList(patterns.split(QLatin1Char(' ')), QDir::Files, QDir::Name);
        };
        QCOMPARE(listed(filters[0]), (QStringList{"B.NES", "a.nes", "c.Nes"}));
        QCOMPARE(listed(filters[1]), (QStringList{"e.exe"}));
        QCOMPARE(listed(filters[2]).size(), 6);
    }

    void aBatteryFileThatCannotBeWrittenKeepsTheCartridge() {
        test::ImageShape shape;
        shape.flags6 = 0x02;
        auto window = MakeWindow();
        window->LoadImage(WriteImage(*dir_, QStringLiteral("keep.nes"), shape));
        // A folder where the battery file belongs: the save cannot replace it.
        QVERIFY(QDir(dir_->path()).mkdir(QStringLiteral("keep.sav")));
        window->mnuFreeROMClick();
        // The player is asked whether to free it without saving, and says no.
        QCOMPARE(fixture_.questions.size(), 1);
        QVERIFY(fixture_.questions.first().contains(QStringLiteral("keep.sav")));
        QVERIFY(window->engine().CartridgeStarted());
        QVERIFY(window->mnuFreeROM->isEnabled());
        // Once the way is clear, the next try saves.
        QVERIFY(QDir(dir_->path()).rmdir(QStringLiteral("keep.sav")));
        window->mnuFreeROMClick();
        QCOMPARE(fixture_.questions.size(), 1);
        QVERIFY(errors_.isEmpty());
        QVERIFY(!window->engine().CartridgeStarted());
        QCOMPARE(QFileInfo(dir_->filePath(QStringLiteral("keep.sav"))).size(), 8192);
    }

    // A save folder that went away: the player is told, by the battery file's name, and may
    // free the cartridge without saving, so the next image loads.
    void aSaveFolderThatWentAwayDoesNotTrapTheSession() {
        test::ImageShape shape;
        shape.flags6 = 0x02;
        shape.program = {0xEE, 0x00, 0x60, 0x4C, 0x00, 0xC0};  // INC $6000, again and again
        QVERIFY(QDir(dir_->path()).mkdir(QStringLiteral("games")));
        const QString quest = WriteImage(*dir_, QStringLiteral("games/quest.nes"), shape);
        const QString other = WriteImage(*dir_, QStringLiteral("other.nes"), {});
        auto window = MakeWindow();
        window->show();
        window->LoadImage(quest);
        window->engine().RunFrames(2);
        QVERIFY(QDir(dir_->filePath(QStringLiteral("games"))).removeRecursively());

        // While the game runs, the failed flush shows in the status bar.
        window->FlushBatteryMemory();
        window->engine().WaitForBackedMemoryFlush();
        window->FlushBatteryMemory();
        auto* panel0 = window->findChild<QLabel*>(QStringLiteral("StatusPanel0"));
        QVERIFY2(panel0->text().startsWith(QStringLiteral("Not saved: ")),
                 qPrintable(panel0->text()));
        QVERIFY(panel0->text().contains(QStringLiteral("quest.sav")));

        window->mnuFreeROMClick();  // the player says no: the cartridge stays
        QCOMPARE(fixture_.questions.size(), 1);
        QVERIFY(fixture_.questions.first().contains(QStringLiteral("quest.sav: ")));
        QVERIFY(!fixture_.questions.first().contains(QStringLiteral(".tmp")));
        QVERIFY(window->engine().CartridgeStarted());
        fixture_.answer = true;  // then yes, when another image is loaded
        window->LoadImage(other);
        QCOMPARE(fixture_.questions.size(), 2);
        QCOMPARE(QString::fromStdString(window->machine().cart.romFileName),
                 QStringLiteral("other.nes"));
        QVERIFY(window->engine().Running());
        QVERIFY(errors_.isEmpty());
    }

    // F3 after a refused image and then a damaged one leaves the second name's save alone.
    void f3AfterFailedLoadsLeavesTheSaveAlone() {
        auto window = MakeWindow();
        window->show();
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
        test::ImageShape mapper5;
        mapper5.flags6 = 0x52;  // mapper 5, battery
        window->LoadImage(WriteImage(*dir_, QStringLiteral("a.nes"), mapper5));
        const QByteArray progress(8192, 0x5C);
        QFile sav(dir_->filePath(QStringLiteral("b.sav")));
        QVERIFY(sav.open(QIODevice::WriteOnly));
        sav.write(progress);
        sav.close();
        QFile damaged(dir_->filePath(QStringLiteral("b.nes")));
        QVERIFY(damaged.open(QIODevice::WriteOnly));
        damaged.write("NEX\x1a");
        damaged.close();
        window->LoadImage(damaged.fileName());
        QTest::keyClick(test::KeyTarget(*window), Qt::Key_F3);
        QCOMPARE(test::LogLines(*window).last(), QStringLiteral("Cartridge discharged."));
        QVERIFY(sav.open(QIODevice::ReadOnly));
        QCOMPARE(sav.readAll(), progress);
    }

    void aSettingsSaveThatFailsIsReported() {
        QTemporaryDir blocked;
        QFile file(blocked.filePath(QStringLiteral("not-a-folder")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        const QString normal =
            QFileInfo(Store().fileName()).absolutePath().section(QLatin1Char('/'), 0, -2);
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, file.fileName());
        {
            auto window = MakeWindow();
            window->show();
            window->close();
        }
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, normal);
        QCOMPARE(errors_.size(), 1);
        QVERIFY2(errors_.first().startsWith(QStringLiteral("The settings could not be saved to ")),
                 qPrintable(errors_.first()));
    }

    void aRecentPathWithAnAmpersandShowsAsTyped() {
        auto window = MakeWindow();
        window->mruList() = QStringList{"/games/Tom & Jerry.nes", "", "", "", ""};
        window->mnuFileClick();
        QCOMPARE(window->MRU[0]->iconText(), QStringLiteral("/games/Tom & Jerry.nes"));
    }

    void menuShortcutsDoNotReachTheJoypads() {
        auto window = MakeWindow();
        window->show();
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
        window->LoadImage(WriteImage(*dir_, QStringLiteral("m.nes"), {}));
        // Paused, so Shift is no joypad button held for the game: Shift+F2 is Reset.
        window->mnuPauseClick();
        const qsizetype resets =
            LogLines(*window).count(QStringLiteral("Resetting 6502 engine ..."));
        QWidget* target = QApplication::focusWidget() ? QApplication::focusWidget() : window.get();
        QTest::keyClick(target, Qt::Key_F2, Qt::ShiftModifier);
        window->Tick();
        QCOMPARE(LogLines(*window).count(QStringLiteral("Resetting 6502 engine ...")), resets + 1);
        QVERIFY(window->engine().Running());
        QVERIFY(!window->keyTable()[113]);  // F2 went to the menu, not to the key table
    }

    void settingsChangedInTheDialogSurviveARestart() {
        {
            auto window = MakeWindow();
            QTimer::singleShot(0, [] {
                auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
                QVERIFY(dialog);
                dialog->findChild<QSpinBox*>(QStringLiteral("seRate"))->setValue(7);
                dialog->findChild<QPushButton*>(QStringLiteral("btnOK"))->click();
            });
            window->mnuSettingClick();
            QCOMPARE(window->machine().settings.FrameRate, 7);
        }
        auto window = MakeWindow();
        QCOMPARE(window->machine().settings.FrameRate, 7);
    }

    void debugSuspendsTheMachineAndResumesIt() {
        auto window = MakeWindow();
        window->LoadImage(WriteImage(*dir_, QStringLiteral("d.nes"), {}));
        window->engine().RunFrames(3);
        bool runningInside = true;
        QTimer::singleShot(0, [&] {
            runningInside = window->engine().Running();
            auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            QCOMPARE(dialog->windowTitle(), QStringLiteral("Debug"));
            dialog->reject();
        });
        window->mnuDebugClick();
        QVERIFY(!runningInside);
        QVERIFY(window->engine().Running());
        QCOMPARE(window->engine().RunFrames(1), int64_t(1));
        // Paused before, paused after.
        window->mnuPauseClick();
        QTimer::singleShot(0, [] { QApplication::activeModalWidget()->close(); });
        window->mnuDebugClick();
        QVERIFY(!window->engine().Running());
    }

    void theStatusIconsShowOnlyWhileRunning() {
        auto window = MakeWindow();
        window->show();
        QWidget* panel = window->findChild<QWidget*>(QStringLiteral("StatusPanel1"));
        const auto drawn = [&] {
            QImage image(panel->size(), QImage::Format_ARGB32);
            image.fill(Qt::transparent);
            QPainter painter(&image);
            window->StatusBarDrawPanel(painter, panel->rect());
            painter.end();
            return image != [&] {
                QImage blank(panel->size(), QImage::Format_ARGB32);
                blank.fill(Qt::transparent);
                return blank;
            }();
        };
        QVERIFY(!drawn());
        window->LoadImage(WriteImage(*dir_, QStringLiteral("i.nes"), {}));
        QVERIFY(drawn());
        window->mnuPauseClick();
        QVERIFY(!drawn());
    }

    void unreadableImageIsReportedAndTheWindowGoesOn() {
        auto window = MakeWindow();
        window->LoadImage(dir_->filePath(QStringLiteral("nowhere.nes")));
        QCOMPARE(errors_.size(), 1);
        QVERIFY(!window->engine().CartridgeStarted());
        QVERIFY(!window->mnuFreeROM->isEnabled());
    }

    void aThousandResetsWhileRunning() {
        auto window = MakeWindow();
        window->LoadImage(WriteImage(*dir_, QStringLiteral("r.nes"), {}));
        for (int i = 0; i < 1000; ++i) {
            window->mnuResetClick();
            QVERIFY(window->engine().Running());
            QCOMPARE(window->engine().RunFrames(1), int64_t(1));
        }
        QCOMPARE(window->machine().cpu.PC, uint16_t(0xC000));
        // The library's log has every line; the panel shows the run of them with its count.
        const auto lines = window->machine().log.Lines();
        QVERIFY(std::count(lines.begin(), lines.end(), "Resetting 6502 engine ...") >= 1000);
        QVERIFY(LogLines(*window).last().startsWith(QStringLiteral("(last line repeated ")));
    }

    void keysFeedTheJoypadsAndFocusLossReleasesThem() {
        auto window = MakeWindow();
        window->show();
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
        window->LoadImage(WriteImage(*dir_, QStringLiteral("k.nes"), {}));
        QWidget* target = QApplication::focusWidget() ? QApplication::focusWidget() : window.get();
        const struct {
            Qt::Key key;
            Qt::KeyboardModifiers modifiers;
            int code;
        } keys[] = {
            {Qt::Key_Up, Qt::NoModifier, 38},    {Qt::Key_Tab, Qt::NoModifier, 9},
            {Qt::Key_Space, Qt::NoModifier, 32}, {Qt::Key_Return, Qt::NoModifier, 13},
            {Qt::Key_E, Qt::NoModifier, 69},     {Qt::Key_7, Qt::KeypadModifier, 103},
            {Qt::Key_M, Qt::NoModifier, 77},     {Qt::Key_PageDown, Qt::NoModifier, 34},
        };
        for (const auto& k : keys) {
            QTest::keyPress(target, k.key, k.modifiers);
            QVERIFY2(window->keyTable()[k.code], qPrintable(QString::number(k.code)));
        }
        // Up is player 1's Up: the next frame's sample holds it.
        window->engine().RunFrames(1);
        QVERIFY(window->machine().pads.padState[0] & 0x10);
        QTest::keyRelease(target, Qt::Key_Up);
        QVERIFY(!window->keyTable()[38]);
        // Another window taking the focus releases every key.
        QWidget other;
        other.show();
        other.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&other));
        for (const auto& k : keys) QVERIFY(!window->keyTable()[k.code]);
        window->engine().RunFrames(1);
        QCOMPARE(int(window->machine().pads.padState[0]), 0);
    }
};

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
