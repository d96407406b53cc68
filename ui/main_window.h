// The main window: the owner of the engine, its menus, the log panel, the status bar and the
// picture, and the command handlers behind the menus. Handlers are thin: they call the engine and
// show dialogs. The window's other jobs each have a class of their own: the run on the event loop
// (FrameLoop), the keys (KeyRouter), full screen (FullScreen) and the log panel (LogPanel).
#pragma once

#include <QMainWindow>
#include <QStringList>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "cartridge/engine.h"
#include "cartridge/movie.h"
#include "input/input_device.h"
#include "machine/display_mode.h"
#include "machine/frame_pacer.h"
#include "machine/picture_scale.h"
#include "sound/music_recorder.h"
#include "ui/frame_loop.h"
#include "ui/full_screen.h"
#include "ui/key_router.h"
#include "ui/log_panel.h"

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
    // The file a music recording goes to (empty: cancelled).
    std::function<QString()> chooseMusicFile;
    // The state file to save to, and to load from (empty: cancelled).
    std::function<QString()> chooseStateSaveFile;
    std::function<QString()> chooseStateLoadFile;
    // The file an input movie goes to (empty: cancelled).
    std::function<QString()> chooseMovieFile;
    std::function<void(const QString&)> showError;
    // A question with Yes and No (true: Yes).
    std::function<bool(const QString&)> confirm;
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
    bool fullScreenActive() const { return fullScreen_.Active(); }
    DisplaySurface* displaySurface() const { return surface_; }
    const KeyTable& keyTable() const { return keys_.keys(); }
    FramePacer& pacer() { return frameLoop_.pacer(); }
    FrameLoop& frameLoop() { return frameLoop_; }

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
    // The View menu's choices: the window's picture scale (1-6) and the pixels' shape. Both are
    // kept in the settings; the window takes the scale's size unless it is in full screen.
    void SetWindowScale(int scale);
    void SetPixelAspect(PixelAspect aspect);
    // The pace the machine runs at now, in multiples of the console's (0: as fast as it goes):
    // the fast-forward cap while fast-forward is held (or switched on in the menu), otherwise
    // the speed setting.
    double CurrentSpeed() const;

    // The display modes the video layer offers; nullopt when it cannot initialise.
    std::optional<std::vector<DisplayMode>> DisplayModes() const;

   public slots:
    void mnuLoadROMClick();
    void mnuFreeROMClick();
    void mnuSavesnapshotClick();
    // Record music… starts writing what the cartridge plays into a Standard MIDI File; while it
    // records, the item reads "Stop recording" and ends it.
    void mnuRecordMusicClick();
    void mnuSettingClick();
    void mnuRomClick();
    void MRUClick();
    void mnuExitClick();
    void mnuResetClick();
    void mnuPauseClick();
    void mnuDebugClick();
    // While paused: runs exactly one frame, to the command point, and stays paused.
    void mnuFrameAdvanceClick();
    // The State menu: save to and load from the current slot (F7, F8), choose the slot (0-9),
    // undo the last save into the slot or the last load, and states in files of the player's
    // choice. A refused state or a failed write is shown in the status bar and changes nothing.
    void mnuSaveStateClick();
    void mnuLoadStateClick();
    void ChooseStateSlot(int slot);
    void mnuUndoSaveStateClick();
    void mnuUndoLoadStateClick();
    void mnuSaveStateAsClick();
    void mnuLoadStateFromClick();
    int stateSlot() const { return stateSlot_; }
    // Record movie… starts the cartridge afresh and records the joypads from power-on; Record
    // movie from here… records from the machine as it is, saved as MOVIE.state beside the movie.
    // While it records, the first item reads "Stop movie recording" and writes the movie. A
    // reset, a load, a rewind or a debugger session ends the recording by itself, as does
    // freeing the cartridge, loading another or closing.
    void mnuRecordMovieClick();
    void mnuRecordMovieHereClick();
    // The slots' items: each one's time of saving and thumbnail, or "empty".
    void UpdateStateSlots();
    void mnuAboutClick();
    void mnuFileClick();
    void mnuCPUClick();
    void Help1Click();
    // Panel 1 of the status bar: the picture and sound icons, only while the machine runs.
    void StatusBarDrawPanel(QPainter& painter, const QRect& panel);
    // Runs the frames that are due, hands the log to the panel and schedules the next tick.
    void Tick() { frameLoop_.Tick(); }
    // Writes the battery memory of a running battery cartridge when it changed; the machine's
    // pace is left alone. A failure is shown in the status bar while the game runs.
    void FlushBatteryMemory();
    // An open sound device that stopped playing (an audio server gone) is reported once in the
    // log and shown as "NoAudio"; the game plays on silently.
    void WatchSound();

   protected:
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

   private:
    void FormCreate();
    void CreateMenus();
    void CreateDisplay(bool accelerated);
    // The window's own keys (Alt+Enter, Escape, F2, F3, the main keyboard's 0-9 choosing the
    // state slot); true when the key was one of them.
    bool FormKeyDown(int key, Qt::KeyboardModifiers modifiers);
    void StartImage(const QString& path);
    // Runs a command; an error that escapes it is shown and the window goes on. `resumes`: the
    // command may start the machine, so its pace starts afresh.
    void RunCommand(const std::function<void()>& command, bool resumes = false);
    // Frees a started cartridge (FreeRomCall::IfStarted) or runs Free ROM as the command does.
    // When the battery file cannot be written, the player is asked whether to free the cartridge
    // without saving; false when it stays loaded.
    bool FreeCartridge(FreeRomCall call);
    void DrainLog() { log_.Drain(machine().log); }
    // The smallest window is the classic one (1x); the window may be made larger freely.
    void ApplyWindowLimits();
    // The Emulation menu's check marks from the settings.
    void ShowEmulationChoices();
    // The window sized for the settings' scale and pixel shape.
    void ApplyWindowScale();
    // The window's size around a picture area of this size: menu bar and status bar added.
    QSize WindowSizeFor(const AreaSize& area) const;
    // Saves the settings once; a failure is reported.
    void StoreSettings();
    void ShowSaveFailure(const std::string& failure);
    // The first status panel's usual text: a battery save's failure, or the image's name.
    void ShowUsualStatus();
    // A state command's outcome in the first status panel for a few seconds; a failure in red
    // (and in a message box in full screen, where the status bar is hidden).
    void ShowStateMessage(const std::string& text, bool failure);
    // Runs a state command at the command point. `command` returns false when the engine refused
    // (its log line says why); a thrown error is a failure too. Returns whether it succeeded.
    bool RunStateCommand(const std::function<bool()>& command, const std::string& failurePrefix);
    // Ends a running recording and writes its file; when that fails the player may choose
    // another file, so the recording is not lost.
    void StopMusicRecording();
    void UpdateMusicItem();
    // Starts a movie recording into a file the player chooses (`fromHere`: from the machine as it
    // is; otherwise the cartridge is started afresh first).
    void StartMovieRecording(bool fromHere);
    // Ends a movie recording and writes it, saying so in the status bar after `why`; when the
    // file cannot be written the player may choose another one, so the movie is not lost.
    void StopMovieRecording(const std::string& why = "");
    void UpdateMovieItems();

    WindowDevices devices_;
    std::unique_ptr<MidiOutput> ownedMidi_;
    std::unique_ptr<JoystickSource> ownedJoystick_;
    InputDevice inputDevice_[2];
    // Between the machine and the MIDI output: records the music on request. It outlives the
    // engine, whose last notes go through it.
    std::unique_ptr<MusicRecorder> music_;
    std::unique_ptr<Engine> engine_;
    MovieRecorder movie_;
    QString movieFile_;
    bool movieLeft_ = false;  // the machine left the movie's run; the recording ends soon

    QString productVersion_;
    QStringList mruList_;
    QTimer flushTimer_;
    QTimer soundWatch_;
    bool soundFailed_ = false;
    bool glAvailable_ = false;
    // Whether the picture is drawn with OpenGL (the name the status bar's "DirectX" icon goes by).
    bool directDrawActive_ = false;
    bool settingsStored_ = false;
    std::string shownSaveFailure_;
    QTimer statusTimer_;  // puts the usual status text back after a state message
    int stateSlot_ = 0;

    QStackedWidget* area_ = nullptr;
    LogPanel log_;
    QPlainTextEdit* Terminal = nullptr;
    // The picture's surface; its widget is named "DXDraw", the name the window's layout gives it.
    DisplaySurface* surface_ = nullptr;
    KeyRouter keys_;
    FrameLoop frameLoop_;
    FullScreen fullScreen_;
    QLabel* statusText_ = nullptr;
    StatusIconPanel* statusIcons_ = nullptr;

   public:
    // Menus and their items, named as the window's commands.
    QMenu* mnuFile = nullptr;
    QMenu* mnuCPU = nullptr;
    QMenu* mnuEmulation = nullptr;
    QMenu* mnuState = nullptr;
    QMenu* mnuView = nullptr;
    QMenu* Help1 = nullptr;
    QMenu* PopupMenu = nullptr;
    QAction* mnuLoadROM = nullptr;
    QAction* mnuFreeROM = nullptr;
    QAction* mnuSavesnapshot = nullptr;
    QAction* mnuRecordMusic = nullptr;
    QAction* mnuSettings = nullptr;
    QAction* mnuRom = nullptr;
    QAction* MRUSeparator = nullptr;
    QAction* MRU[5] = {};
    QAction* mnuExit = nullptr;
    QAction* mnuReset = nullptr;
    QAction* mnuPause = nullptr;
    QAction* mnuDebug = nullptr;
    QAction* mnuAbout = nullptr;
    QAction* mnuFastForward = nullptr;  // checked: fast-forward without holding the key
    QAction* mnuRewind = nullptr;       // checked: the rewind history is kept (hold Backspace)
    QAction* mnuFrameAdvance = nullptr;
    QAction* mnuSpeed[3] = {};  // 100 %, 50 %, 25 %
    QAction* mnuSaveState = nullptr;
    QAction* mnuLoadState = nullptr;
    QAction* mnuStateSlot[kStateSlots] = {};
    QAction* mnuUndoSaveState = nullptr;
    QAction* mnuUndoLoadState = nullptr;
    QAction* mnuSaveStateAs = nullptr;
    QAction* mnuLoadStateFrom = nullptr;
    QAction* mnuRecordMovie = nullptr;  // "Record movie…", or "Stop movie recording"
    QAction* mnuRecordMovieHere = nullptr;
    QAction* mnuFastForwardCap[4] = {};       // 2x, 4x, 8x, unlimited
    QAction* mnuScale[kMaxWindowScale] = {};  // "1x" ... "6x"
    QAction* mnuSquarePixels = nullptr;
    QAction* mnuTelevisionPixels = nullptr;
    QAction* pmuLoadRom = nullptr;
    QAction* pmuFreeROM = nullptr;
    QAction* pmuReset = nullptr;
    QAction* pmuPause = nullptr;
};

}  // namespace vexalo
