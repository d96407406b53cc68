// The main window: the owner of the engine, its menus and keys, the log panel, the status bar and
// the picture. Commands are thin: they call the engine and show dialogs. The machine runs on Qt's
// event loop: a timer runs the frames that are due at the console's pace, and every command runs
// between two of those runs, never inside one.
#pragma once

#include <QMainWindow>
#include <QStringList>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "cartridge/engine.h"
#include "input/input_device.h"
#include "machine/display_mode.h"
#include "machine/frame_pacer.h"

class QAction;
class QPainter;
class QLabel;
class QMenu;
class QPlainTextEdit;
class QStackedWidget;

namespace vexalo {

class DisplaySurface;
class MidiOutput;
class StatusIconPanel;

// What the window uses from the outside world; tests put their own pieces in.
// The open dialog's three filters, the first one selected.
QStringList ImageFileFilters();

struct WindowDevices {
    // The MIDI output; null: the system's (FluidSynth live, or VEXALO_MIDI_PORT).
    MidiOutput* midiOutput = nullptr;
    // The joystick; null: the system's first joystick through SDL2.
    JoystickSource* joystick = nullptr;
    // false: never try OpenGL (the plain drawing is used).
    bool allowOpenGL = true;
    // The open and save dialogs (empty result: cancelled) and the error report.
    std::function<QString()> chooseImageFile;
    std::function<QString()> chooseSnapshotFile;
    std::function<void(const QString&)> showError;
};

class TfrmNES : public QMainWindow, public EngineHost {
    Q_OBJECT
   public:
    explicit TfrmNES(WindowDevices devices = WindowDevices(), QWidget* parent = nullptr);
    ~TfrmNES() override;

    Engine& engine() { return *engine_; }
    Machine& machine() { return engine_->machine(); }
    QStringList& mruList() { return mruList_; }
    const QString& productVersion() const { return productVersion_; }
    bool directDrawActive() const { return directDrawActive_; }
    bool fullScreenActive() const { return fullScreen_; }
    DisplaySurface* displaySurface() const { return surface_; }
    const KeyTable& keyTable() const { return keys_; }
    FramePacer& pacer() { return pacer_; }

    // Load ROM without its dialog: the recent list is updated, then the image starts. Also what a
    // file named on the command line or dropped on the window does.
    void LoadImage(const QString& path);

    // The engine's seams.
    void SetCartridgeCommandsEnabled(bool enabled) override;
    void SetStatusText(const std::string& text) override;
    void VideoStart() override;
    void VideoStop() override;
    void PresentFrame() override;
    void ToggleFullScreen();

    // The display modes the video layer offers; nullopt when it cannot initialise.
    std::optional<std::vector<DisplayMode>> DisplayModes() const;

   public slots:
    void mnuLoadROMClick();
    void mnuFreeROMClick();
    void mnuSavesnapshotClick();
    void mnuSettingClick();
    void mnuRomClick();
    void MRUClick();
    void mnuExitClick();
    void mnuResetClick();
    void mnuPauseClick();
    void mnuDebugClick();
    void mnuAboutClick();
    void mnuFileClick();
    void mnuCPUClick();
    void Help1Click();
    // Panel 1 of the status bar: the picture and sound icons, only while the machine runs.
    void StatusBarDrawPanel(QPainter& painter, const QRect& panel);
    // Runs the frames that are due, hands the log to the panel and schedules the next tick.
    void Tick();
    // Writes the battery memory of a running battery cartridge when it changed.
    void FlushBatteryMemory();

   protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

   private:
    void FormCreate();
    void CreateMenus();
    void CreateDisplay(bool accelerated);
    // The window's own keys (Alt+Enter, Escape, F2, F3); true when the key was one of them.
    bool FormKeyDown(QKeyEvent* event);
    void StartImage(const QString& path);
    // Runs a command; an error that escapes it is shown and the window goes on.
    void RunCommand(const std::function<void()>& command);
    void DrainLog();
    void AfterCommand();
    void ReleaseAllKeys();
    void ApplyFixedWindowSize();

    WindowDevices devices_;
    std::unique_ptr<MidiOutput> ownedMidi_;
    std::unique_ptr<JoystickSource> ownedJoystick_;
    KeyTable keys_{};
    InputDevice inputDevice_[2];
    std::unique_ptr<Engine> engine_;

    QString productVersion_;
    QStringList mruList_;
    FramePacer pacer_;
    QTimer frameTimer_;
    QTimer flushTimer_;
    bool suspended_ = false;  // a menu or a modal dialog held the machine at the last tick
    bool glAvailable_ = false;
    bool directDrawActive_ = false;
    bool fullScreen_ = false;
    QRect windowedGeometry_;

    QStackedWidget* area_ = nullptr;
    QPlainTextEdit* Terminal = nullptr;
    DisplaySurface* surface_ = nullptr;
    QLabel* statusText_ = nullptr;
    StatusIconPanel* statusIcons_ = nullptr;

   public:
    // Menus and their items, named as the window's commands.
    QMenu* mnuFile = nullptr;
    QMenu* mnuCPU = nullptr;
    QMenu* Help1 = nullptr;
    QMenu* PopupMenu = nullptr;
    QAction* mnuLoadROM = nullptr;
    QAction* mnuFreeROM = nullptr;
    QAction* mnuSavesnapshot = nullptr;
    QAction* mnuSettings = nullptr;
    QAction* mnuRom = nullptr;
    QAction* MRUSeparator = nullptr;
    QAction* MRU[5] = {};
    QAction* mnuExit = nullptr;
    QAction* mnuReset = nullptr;
    QAction* mnuPause = nullptr;
    QAction* mnuDebug = nullptr;
    QAction* mnuAbout = nullptr;
    QAction* pmuLoadRom = nullptr;
    QAction* pmuFreeROM = nullptr;
    QAction* pmuReset = nullptr;
    QAction* pmuPause = nullptr;
};

}  // namespace vexalo
