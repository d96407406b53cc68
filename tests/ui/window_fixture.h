// What the main window's tests share: a window with made-up devices (a MIDI recorder, no
// joystick, plain drawing, dialogs answered by the test), images written into a temporary folder,
// the log panel's lines, the status bar's text, and the frame loop on a made-up clock.
#pragma once

#include <QApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QSettings>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
#include <chrono>
#include <fstream>
#include <memory>
#include <stdexcept>

#include "sound/midi_recorder.h"
#include "ui/main_window.h"
#include "unit/image_builder.h"

namespace vexalo::test {

// No joystick; or, with `failing` set, one whose driver throws when it is read.
class NoJoystick : public JoystickSource {
   public:
    bool failing = false;
    JoystickReading Poll() override {
        if (failing) throw std::runtime_error("the joystick driver failed");
        return {};
    }
};

inline QSettings Store() {
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Ostrane"),
                     QStringLiteral("Vexalo"));
}

inline QString WriteImage(const QTemporaryDir& dir, const QString& name, const ImageShape& shape) {
    const QString path = dir.filePath(name);
    const std::vector<uint8_t> bytes = BuildImage(shape);
    std::ofstream out(path.toStdString(), std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return path;
}

inline QStringList LogLines(TfrmNES& window) {
    return window.findChild<QPlainTextEdit*>(QStringLiteral("Terminal"))
        ->toPlainText()
        .split(QLatin1Char('\n'));
}

// The window's devices, with the dialogs answered from these fields.
struct WindowFixture {
    MidiRecorder recorder;
    NoJoystick joystick;
    QString chosenImage;
    QString chosenSnapshot;
    QStringList chosenMusic;  // the files the music dialog answers, one per showing
    QString chosenState;      // what the state dialogs answer
    QStringList chosenMovie;  // the files the movie dialog answers, one per showing
    QStringList errors;
    QStringList questions;
    bool answer = false;  // what the player answers to a question

    // A window shown and made the active one (keys reach only the window in front); null when it
    // never became active.
    std::unique_ptr<TfrmNES> ActiveWindow() {
        auto window = MakeWindow();
        window->show();
        window->activateWindow();
        if (!QTest::qWaitForWindowActive(window.get())) return nullptr;
        return window;
    }

    std::unique_ptr<TfrmNES> MakeWindow() {
        WindowDevices devices;
        devices.midiOutput = &recorder;
        devices.joystick = &joystick;
        devices.allowOpenGL = false;
        devices.chooseImageFile = [this] { return chosenImage; };
        devices.chooseSnapshotFile = [this] { return chosenSnapshot; };
        devices.chooseMusicFile = [this] {
            return chosenMusic.isEmpty() ? QString() : chosenMusic.takeFirst();
        };
        devices.chooseStateSaveFile = [this] { return chosenState; };
        devices.chooseStateLoadFile = [this] { return chosenState; };
        devices.chooseMovieFile = [this] {
            return chosenMovie.isEmpty() ? QString() : chosenMovie.takeFirst();
        };
        devices.showError = [this](const QString& message) { errors.append(message); };
        devices.confirm = [this](const QString& question) {
            questions.append(question);
            return answer;
        };
        return std::make_unique<TfrmNES>(devices);
    }

    void Reset() {
        QSettings store = Store();
        store.clear();
        store.sync();
        recorder.Clear();
        errors.clear();
        questions.clear();
        chosenMusic.clear();
        chosenState.clear();
        chosenMovie.clear();
        answer = false;
        joystick.failing = false;
    }
};

// The widget that takes the window's keys.
inline QWidget* KeyTarget(TfrmNES& window) {
    return QApplication::focusWidget() ? QApplication::focusWidget() : &window;
}

inline QString StatusText(TfrmNES& window) {
    return window.findChild<QLabel*>(QStringLiteral("StatusPanel0"))->text();
}

// The frame loop on a made-up clock that advances one frame period per tick, so each tick runs
// (or rewinds) exactly one frame.
struct Ticker {
    using Clock = FramePacer::Clock;
    TfrmNES& window;
    Clock::time_point now = Clock::now();
    const Clock::duration period = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(1.0 / kConsoleFrameRate));

    explicit Ticker(TfrmNES& w) : window(w) {
        window.frameLoop().SetClock([this] { return now; });
        window.frameLoop().Resume();
    }
    ~Ticker() {
        window.frameLoop().SetClock([] { return Clock::now(); });
    }
    void Tick(Clock::duration step) {
        now += step;
        window.frameLoop().Tick();
    }
    void Tick() { Tick(period); }
    void Ticks(int count) {
        for (int i = 0; i < count; ++i) Tick();
    }
};

}  // namespace vexalo::test
