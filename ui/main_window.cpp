#include "ui/main_window.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QDateTime>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProxyStyle>
#include <QScreen>
#include <QSettings>
#include <QStackedWidget>
#include <QStatusBar>
#include <QUrl>
#include <algorithm>
#include <filesystem>

#include "cartridge/rom_property_dialog.h"
#include "debugger/debug_window.h"
#include "input/joypad.h"
#include "input/sdl_joystick.h"
#include "machine/bitmap_file.h"
#include "machine/display_view.h"
#include "machine/file_io.h"
#include "machine/gl_view.h"
#include "machine/palette.h"
#include "machine/renderer.h"
#include "sound/midi_device.h"
#include "sound/sound.h"
#include "ui/about_dialog.h"
#include "ui/key_codes.h"
#include "ui/pictures.h"
#include "ui/setting_dialog.h"
#include "ui/settings_store.h"
#include "vexalo_version.h"

namespace vexalo {

// Panel 1 of the status bar, painted by the window.
class StatusIconPanel : public QWidget {
   public:
    StatusIconPanel(TfrmNES* window, QWidget* parent) : QWidget(parent), window_(window) {
        setFixedWidth(50);
    }

   protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        window_->StatusBarDrawPanel(painter, rect());
    }

   private:
    TfrmNES* window_;
};

namespace {

constexpr int kStatusBarHeight = 20;
// What a window manager adds around the window (title bar and borders), about: only used to
// choose a first start's scale.
constexpr int kDecorationWidth = 8;
constexpr int kDecorationHeight = 32;
constexpr int kBatteryFlushMilliseconds = 10000;
// The Emulation menu's choices, in menu order.
constexpr int kSpeeds[3] = {100, 50, 25};
constexpr int kFastForwardCaps[4] = {2, 4, 8, 0};
constexpr int kStateMessageMilliseconds = 5000;
// The slots' thumbnails in the State menu: the picture at a quarter of its width and height.
constexpr int kThumbnailWidth = 64;
constexpr int kThumbnailHeight = 60;

// The State menu draws its items' icons at the thumbnails' size.
class ThumbnailMenuStyle : public QProxyStyle {
   public:
    int pixelMetric(PixelMetric metric, const QStyleOption* option,
                    const QWidget* widget) const override {
        if (metric == PM_SmallIconSize) return kThumbnailWidth;
        return QProxyStyle::pixelMetric(metric, option, widget);
    }
};

QIcon Thumbnail(const StateInfo& info) {
    QImage picture(info.picture.data(), kScreenWidth, kScreenHeight, kScreenWidth,
                   QImage::Format_Indexed8);
    QList<QRgb> colours(256, qRgb(0, 0, 0));
    for (int i = 0; i < 32; ++i) {
        const Rgb c = NesPalette[info.palette[i] & 63];
        colours[i] = qRgb(c.r, c.g, c.b);
    }
    picture.setColorTable(colours);
    return QIcon(QPixmap::fromImage(picture.scaled(
        kThumbnailWidth, kThumbnailHeight, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)));
}

QString SavedAtText(const StateInfo& info) {
    if (info.savedAt == 0) return QStringLiteral("frame %1").arg(info.frame);
    return QDateTime::fromSecsSinceEpoch(info.savedAt)
        .toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
}

QSettings OpenSettingsStore() {
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Ostrane"),
                     QStringLiteral("Vexalo"));
}

QString AskImageFile(QWidget* parent) {
    return QFileDialog::getOpenFileName(parent, QStringLiteral("Load ROM ..."), QString(),
                                        ImageFileFilters().join(QStringLiteral(";;")));
}

QString AskSnapshotFile(QWidget* parent) {
    QFileDialog dialog(parent, QStringLiteral("Save snapshot as ..."), QString(),
                       QStringLiteral("Windows Bitmap (*.bmp)"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(QStringLiteral("bmp"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    return dialog.selectedFiles().first();
}

QString AskMusicFile(QWidget* parent) {
    QFileDialog dialog(parent, QStringLiteral("Record music as ..."), QString(),
                       QStringLiteral("Standard MIDI File (*.mid)"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(QStringLiteral("mid"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    return dialog.selectedFiles().first();
}

QString AskStateFile(QWidget* parent, bool save) {
    QFileDialog dialog(
        parent, save ? QStringLiteral("Save state as ...") : QStringLiteral("Load state from ..."),
        QString(), QStringLiteral("Saved states (*.state);;All files (*)"));
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    if (save)
        dialog.setDefaultSuffix(QStringLiteral("state"));
    else
        dialog.setFileMode(QFileDialog::ExistingFile);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    return dialog.selectedFiles().first();
}

QString AskMovieFile(QWidget* parent) {
    QFileDialog dialog(parent, QStringLiteral("Record movie as ..."), QString(),
                       QStringLiteral("Input movies (*.movie);;All files (*)"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(QStringLiteral("movie"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    return dialog.selectedFiles().first();
}

// Whether the engine's machine is as a new process starts the image, as the runner replays a movie
// from power-on. A cartridge started after another run keeps a few traces of it (the sound
// tick's phase, a mapper's counters), which only a start state can take along.
bool AsInANewProcess(const Engine& engine, const std::string& image) {
    Engine fresh;
    bool same = false;
    try {
        same = fresh.StartEngine(image) &&
               MachineChecksum(fresh.machine()) == MachineChecksum(engine.machine());
    } catch (const std::exception&) {
        // Unreadable now: taken as not the same, so the movie starts from a state.
    }
    fresh.FreeRom(FreeRomCall::IfStarted, BatterySave::Discard);  // its battery file stays
    return same;
}

// A caption that shows a path as typed: a single & would be taken for a mnemonic.
QString PlainCaption(const QString& text) {
    QString caption = text;
    return caption.replace(QLatin1Char('&'), QStringLiteral("&&"));
}

QAction* MenuItem(QMenu* menu, const char* name, const QString& caption,
                  const QKeySequence& shortcut = {}) {
    QAction* action = menu->addAction(caption);
    action->setObjectName(QLatin1String(name));
    action->setShortcut(shortcut);
    return action;
}

// A pop-up item shows its key but leaves the key to the main menu's item of the same command.
QAction* PopupItem(QMenu* menu, const char* name, const QString& caption, const char* key) {
    QAction* action = menu->addAction(caption + QLatin1Char('\t') + QLatin1String(key));
    action->setObjectName(QLatin1String(name));
    return action;
}

}  // namespace

QStringList ImageFileFilters() {
    // Letter case does not matter: GAME.NES and game.nes are both images.
    return {QStringLiteral("NES Roms (*.[nN][eE][sS])"),
            QStringLiteral("ASM 6502 images (*.[eE][xX][eE])"), QStringLiteral("All files (*)")};
}

TfrmNES::TfrmNES(WindowDevices devices, QWidget* parent)
    : QMainWindow(parent),
      devices_(std::move(devices)),
      engine_(std::make_unique<Engine>(this)),
      log_(this),
      keys_(this, engine_->machine().settings,
            {[this] { return engine_->Running(); }, [this] { return engine_->CartridgeStarted(); },
             [this](int key, Qt::KeyboardModifiers modifiers) {
                 return FormKeyDown(key, modifiers);
             }}),
      frameLoop_(
          *engine_, log_,
          {[this] { return surface_; }, [this] { statusIcons_->update(); },
           [this](const QString& message) {
               devices_.showError(QStringLiteral("The machine stopped: ") + message);
           },
           [this] { return CurrentSpeed(); }, [this] { return keys_.CommandKeyHeld(kRewindKey); }},
          this),
      fullScreen_(this, [this] { ApplyWindowLimits(); }) {
    setObjectName(QStringLiteral("frmNES"));
    if (!devices_.midiOutput) {
        ownedMidi_ = CreateMidiOutput();
        devices_.midiOutput = ownedMidi_.get();
    }
    if (!devices_.joystick) {
        ownedJoystick_ = std::make_unique<SdlJoystick>();
        devices_.joystick = ownedJoystick_.get();
    }
    if (!devices_.chooseImageFile) devices_.chooseImageFile = [this] { return AskImageFile(this); };
    if (!devices_.chooseSnapshotFile)
        devices_.chooseSnapshotFile = [this] { return AskSnapshotFile(this); };
    if (!devices_.chooseMusicFile) devices_.chooseMusicFile = [this] { return AskMusicFile(this); };
    if (!devices_.chooseStateSaveFile)
        devices_.chooseStateSaveFile = [this] { return AskStateFile(this, true); };
    if (!devices_.chooseStateLoadFile)
        devices_.chooseStateLoadFile = [this] { return AskStateFile(this, false); };
    if (!devices_.chooseMovieFile) devices_.chooseMovieFile = [this] { return AskMovieFile(this); };
    music_ = std::make_unique<MusicRecorder>(devices_.midiOutput, &machine().framesCompleted);
    if (!devices_.showError) {
        devices_.showError = [this](const QString& message) {
            QMessageBox::critical(this, QStringLiteral("Vexalo Emulator"), message);
        };
    }
    if (!devices_.confirm) {
        devices_.confirm = [this](const QString& question) {
            return QMessageBox::warning(this, QStringLiteral("Vexalo Emulator"), question,
                                        QMessageBox::Yes | QMessageBox::No,
                                        QMessageBox::No) == QMessageBox::Yes;
        };
    }
    FormCreate();
}

TfrmNES::~TfrmNES() {
    // Normally closing freed the cartridge already; a window destroyed without closing saves too.
    try {
        engine_->FreeRom(FreeRomCall::IfStarted);
    } catch (const std::exception&) {
        // Nothing can be shown any more; the previous battery file is still in place.
    }
    try {
        music_->Stop();
    } catch (const std::exception&) {
        // Nothing can be shown any more.
    }
    try {
        movie_.Stop();
    } catch (const std::exception&) {
        // Nothing can be shown any more.
    }
    StoreSettings();
}

void TfrmNES::StoreSettings() {
    if (settingsStored_) return;
    settingsStored_ = true;
    QSettings store = OpenSettingsStore();
    SaveSettings(store, machine().settings, mruList_);
    store.sync();
    if (store.status() != QSettings::NoError)
        devices_.showError(QStringLiteral("The settings could not be saved to %1.")
                               .arg(QDir::toNativeSeparators(store.fileName())));
}

void TfrmNES::FormCreate() {
    Machine& m = machine();
    m.sound.midiOpen = false;
    m.sound.output = music_.get();
    m.cpu = CpuState{};
    m.cpu.CyclesPerLine = 122;
    productVersion_ = QStringLiteral(VEXALO_PRODUCT_VERSION);
    {
        QSettings store = OpenSettingsStore();
        LoadSettings(store, m.settings, mruList_);
    }
    for (int p = 0; p < 2; ++p) {
        inputDevice_[p].SetKeyboard(&keys_.keys());
        inputDevice_[p].SetJoystick(devices_.joystick);
        inputDevice_[p].SetForegroundTest([this] { return isActiveWindow(); });
        m.pads.device[p] = &inputDevice_[p];
    }
    ApplyKeyBindings(m);

    setWindowTitle(QStringLiteral("Vexalo Emulator"));
    setWindowIcon(QIcon(Emblem(64)));
    setAcceptDrops(true);
    area_ = new QStackedWidget(this);
    Terminal = log_.widget();
    area_->addWidget(Terminal);
    setCentralWidget(area_);

    glAvailable_ = devices_.allowOpenGL && OpenGLAvailable();
    CreateDisplay(glAvailable_);
    CreateMenus();

    QStatusBar* bar = statusBar();
    bar->setObjectName(QStringLiteral("StatusBar"));
    bar->setSizeGripEnabled(false);
    bar->setFixedHeight(kStatusBarHeight);
    statusText_ = new QLabel(bar);
    statusText_->setObjectName(QStringLiteral("StatusPanel0"));
    statusText_->setFixedWidth(300);
    statusIcons_ = new StatusIconPanel(this, bar);
    statusIcons_->setObjectName(QStringLiteral("StatusPanel1"));
    bar->addWidget(statusText_);
    bar->addWidget(statusIcons_);
    bar->setStyleSheet(QStringLiteral("QStatusBar::item { border: 1px inset palette(mid); }"));

    if (m.settings.WindowScale == 0) {
        // A first start: the largest picture that takes about half the screen's height.
        const QScreen* monitor = screen() ? screen() : QGuiApplication::primaryScreen();
        const QSize space = monitor ? monitor->size() : QSize(0, 0);
        const QSize frame = WindowSizeFor({0, 0});
        m.settings.WindowScale = FirstStartScale(
            space.width(), space.height(), frame.width() + kDecorationWidth,
            frame.height() + kDecorationHeight, PixelAspect(m.settings.PixelAspect));
    }
    ApplyWindowScale();
    move(267, 127);

    m.log.Append(std::string(VEXALO_PRODUCT_NAME) + " " + productVersion_.toStdString());
    m.log.Append(VEXALO_DESCRIPTION);
    m.log.Append(VEXALO_LEGAL_COPYRIGHT);
    m.log.Append(VEXALO_LEGAL_TRADEMARKS);
    m.log.Append("");
    DrainLog();

    flushTimer_.setInterval(kBatteryFlushMilliseconds);
    connect(&flushTimer_, &QTimer::timeout, this, &TfrmNES::FlushBatteryMemory);
    flushTimer_.start();
    soundWatch_.setInterval(250);
    connect(&soundWatch_, &QTimer::timeout, this, &TfrmNES::WatchSound);
    soundWatch_.start();
    statusTimer_.setSingleShot(true);
    statusTimer_.setInterval(kStateMessageMilliseconds);
    connect(&statusTimer_, &QTimer::timeout, this, &TfrmNES::ShowUsualStatus);
}

QSize TfrmNES::WindowSizeFor(const AreaSize& area) const {
    return QSize(area.width, area.height + kStatusBarHeight + menuBar()->sizeHint().height());
}

void TfrmNES::ApplyWindowLimits() {
    // At 1x the client area below the menu bar is 374 x 270, the status bar included.
    setMinimumSize(WindowSizeFor(WindowAreaSize(1, PixelAspect::Square)));
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
}

void TfrmNES::ApplyWindowScale() {
    const Settings& s = machine().settings;
    for (int i = 0; i < kMaxWindowScale; ++i) mnuScale[i]->setChecked(s.WindowScale == i + 1);
    mnuSquarePixels->setChecked(s.PixelAspect == 0);
    mnuTelevisionPixels->setChecked(s.PixelAspect == 1);
    surface_->SetPixelAspect(PixelAspect(s.PixelAspect));
    if (fullScreen_.Active()) return;  // the window takes its size when full screen ends
    ApplyWindowLimits();
    if (isMaximized()) showNormal();
    resize(WindowSizeFor(WindowAreaSize(s.WindowScale, PixelAspect(s.PixelAspect))));
}

void TfrmNES::ShowEmulationChoices() {
    const Settings& s = machine().settings;
    for (int i = 0; i < 3; ++i) mnuSpeed[i]->setChecked(s.EmulationSpeed == kSpeeds[i]);
    for (int i = 0; i < 4; ++i)
        mnuFastForwardCap[i]->setChecked(s.FastForwardCap == kFastForwardCaps[i]);
}

double TfrmNES::CurrentSpeed() const {
    const Settings& s = engine_->machine().settings;
    if (mnuFastForward->isChecked() || keys_.CommandKeyHeld(kFastForwardKey))
        return s.FastForwardCap;  // 0: unlimited
    return s.EmulationSpeed / 100.0;
}

void TfrmNES::SetWindowScale(int scale) {
    machine().settings.WindowScale = std::clamp(scale, kMinWindowScale, kMaxWindowScale);
    ApplyWindowScale();
}

void TfrmNES::SetPixelAspect(PixelAspect aspect) {
    machine().settings.PixelAspect = static_cast<int32_t>(aspect);
    ApplyWindowScale();
}

void TfrmNES::CreateDisplay(bool accelerated) {
    QWidget* old = surface_ ? surface_->widget() : nullptr;
    if (accelerated) {
        auto* gl = new GlView(area_);
        connect(gl, &GlView::failed, this, [this](const QString& why) {
            // The surface could not set itself up: go on with plain drawing.
            machine().log.Append("OpenGL is not usable (" + why.trimmed().toStdString() +
                                 "); the picture is drawn without it.");
            glAvailable_ = false;
            directDrawActive_ = false;
            QTimer::singleShot(0, this, [this] {
                const bool shown = area_->currentWidget() == surface_->widget();
                CreateDisplay(false);
                if (shown) area_->setCurrentWidget(surface_->widget());
                statusIcons_->update();
                DrainLog();
            });
        });
        surface_ = gl;
    } else {
        surface_ = new PainterView(area_);
    }
    surface_->SetPixelAspect(PixelAspect(machine().settings.PixelAspect));
    QWidget* view = surface_->widget();
    view->setObjectName(QStringLiteral("DXDraw"));
    view->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(view, &QWidget::customContextMenuRequested, this,
            [this, view](const QPoint& at) { PopupMenu->exec(view->mapToGlobal(at)); });
    area_->addWidget(view);
    if (old) {
        area_->removeWidget(old);
        old->deleteLater();
    }
}

void TfrmNES::CreateMenus() {
    mnuFile = menuBar()->addMenu(QStringLiteral("&File"));
    mnuFile->setObjectName(QStringLiteral("mnuFile"));
    mnuLoadROM = MenuItem(mnuFile, "mnuLoadROM", QStringLiteral("&Load ROM ..."), Qt::Key_F2);
    mnuFreeROM = MenuItem(mnuFile, "mnuFreeROM", QStringLiteral("&Free ROM ..."), Qt::Key_F3);
    mnuSavesnapshot =
        MenuItem(mnuFile, "mnuSavesnapshot", QStringLiteral("Save snapshot"), Qt::Key_F5);
    mnuRecordMusic = MenuItem(mnuFile, "mnuRecordMusic", QString());
    UpdateMusicItem();
    mnuFile->addSeparator();
    mnuSettings = MenuItem(mnuFile, "mnuSettings", QStringLiteral("Settings ..."), Qt::Key_F4);
    mnuFile->addSeparator();
    mnuRom = MenuItem(mnuFile, "mnuRom", QStringLiteral("Rom &Header"), Qt::Key_F1);
    MRUSeparator = mnuFile->addSeparator();
    MRUSeparator->setObjectName(QStringLiteral("MRUSeparator"));
    for (int i = 0; i < kRecentImageCount; ++i) {
        const QByteArray name = "MRU" + QByteArray::number(i + 1);
        MRU[i] = MenuItem(mnuFile, name.constData(), QString());
        MRU[i]->setVisible(false);
        connect(MRU[i], &QAction::triggered, this, &TfrmNES::MRUClick);
    }
    MRUSeparator->setVisible(false);
    mnuFile->addSeparator();
    mnuExit =
        MenuItem(mnuFile, "mnuExit", QStringLiteral("E&xit"), QKeySequence(Qt::CTRL | Qt::Key_F4));

    mnuCPU = menuBar()->addMenu(QStringLiteral("&CPU"));
    mnuCPU->setObjectName(QStringLiteral("mnuCPU"));
    mnuReset = MenuItem(mnuCPU, "mnuReset", QStringLiteral("&Reset"),
                        QKeySequence(Qt::SHIFT | Qt::Key_F2));
    mnuPause =
        MenuItem(mnuCPU, "mnuPause", QStringLiteral("&Pause"), QKeySequence(Qt::CTRL | Qt::Key_F2));
    mnuCPU->addSeparator();
    mnuDebug = MenuItem(mnuCPU, "mnuDebug", QStringLiteral("&Debug"), Qt::Key_F6);

    mnuEmulation = menuBar()->addMenu(QStringLiteral("&Emulation"));
    mnuEmulation->setObjectName(QStringLiteral("mnuEmulation"));
    // The key is held, so it is no shortcut: the caption only shows it.
    mnuFastForward =
        MenuItem(mnuEmulation, "mnuFastForward", QStringLiteral("&Fast-forward\t` (hold)"));
    mnuFastForward->setCheckable(true);
    // Checked: the history is kept, and Backspace held rewinds it.
    mnuRewind = MenuItem(mnuEmulation, "mnuRewind", QStringLiteral("&Rewind\tBackspace (hold)"));
    mnuRewind->setCheckable(true);
    mnuRewind->setChecked(frameLoop_.RewindEnabled());
    mnuFrameAdvance = MenuItem(mnuEmulation, "mnuFrameAdvance", QStringLiteral("Frame &advance"),
                               Qt::Key_Backslash);
    mnuFrameAdvance->setEnabled(false);
    mnuEmulation->addSeparator();
    QMenu* speeds = mnuEmulation->addMenu(QStringLiteral("&Speed"));
    auto* speedGroup = new QActionGroup(this);
    for (int i = 0; i < 3; ++i) {
        const int percent = kSpeeds[i];
        const QByteArray name = "mnuSpeed" + QByteArray::number(percent);
        mnuSpeed[i] = MenuItem(speeds, name.constData(), QStringLiteral("&%1 %").arg(percent));
        mnuSpeed[i]->setCheckable(true);
        speedGroup->addAction(mnuSpeed[i]);
        connect(mnuSpeed[i], &QAction::triggered, this, [this, percent] {
            machine().settings.EmulationSpeed = percent;
            ShowEmulationChoices();
        });
    }
    QMenu* caps = mnuEmulation->addMenu(QStringLiteral("Fast-forward &limit"));
    auto* capGroup = new QActionGroup(this);
    for (int i = 0; i < 4; ++i) {
        const int cap = kFastForwardCaps[i];
        const QByteArray name = "mnuFastForwardCap" + QByteArray::number(cap);
        mnuFastForwardCap[i] = MenuItem(
            caps, name.constData(),
            cap == 0 ? QStringLiteral("&Unlimited") : QStringLiteral("&%1\u00D7").arg(cap));
        mnuFastForwardCap[i]->setCheckable(true);
        capGroup->addAction(mnuFastForwardCap[i]);
        connect(mnuFastForwardCap[i], &QAction::triggered, this, [this, cap] {
            machine().settings.FastForwardCap = cap;
            ShowEmulationChoices();
        });
    }
    ShowEmulationChoices();

    mnuState = menuBar()->addMenu(QStringLiteral("&State"));
    mnuState->setObjectName(QStringLiteral("mnuState"));
    auto* thumbnailStyle = new ThumbnailMenuStyle;
    thumbnailStyle->setParent(mnuState);
    mnuState->setStyle(thumbnailStyle);
    mnuSaveState = MenuItem(mnuState, "mnuSaveState", QStringLiteral("&Save state"), Qt::Key_F7);
    mnuLoadState = MenuItem(mnuState, "mnuLoadState", QStringLiteral("&Load state"), Qt::Key_F8);
    mnuState->addSeparator();
    for (int i = 0; i < kStateSlots; ++i) {
        const QByteArray name = "mnuStateSlot" + QByteArray::number(i);
        // The main keyboard's digit is a window key, not a shortcut: a shortcut would take the
        // keypad's digit too, which is a key of its own.
        mnuStateSlot[i] = MenuItem(mnuState, name.constData(), QString());
        connect(mnuStateSlot[i], &QAction::triggered, this, [this, i] { ChooseStateSlot(i); });
    }
    mnuState->addSeparator();
    mnuUndoSaveState = MenuItem(mnuState, "mnuUndoSaveState", QStringLiteral("Undo save"));
    mnuUndoLoadState = MenuItem(mnuState, "mnuUndoLoadState", QStringLiteral("Undo load"));
    mnuState->addSeparator();
    mnuSaveStateAs = MenuItem(mnuState, "mnuSaveStateAs", QStringLiteral("Save state &as\u2026"));
    mnuLoadStateFrom =
        MenuItem(mnuState, "mnuLoadStateFrom", QStringLiteral("Load state &from\u2026"));
    mnuState->addSeparator();
    mnuRecordMovie = MenuItem(mnuState, "mnuRecordMovie", QString());
    mnuRecordMovieHere =
        MenuItem(mnuState, "mnuRecordMovieHere", QStringLiteral("Record movie from &here\u2026"));
    for (QAction* item : {mnuSaveState, mnuLoadState})
        item->setAutoRepeat(false);  // held, F7 saves once
    for (QAction* item : {mnuSaveState, mnuLoadState, mnuUndoSaveState, mnuUndoLoadState,
                          mnuSaveStateAs, mnuLoadStateFrom, mnuRecordMovie, mnuRecordMovieHere})
        item->setEnabled(false);
    UpdateStateSlots();
    UpdateMovieItems();
    connect(mnuSaveState, &QAction::triggered, this, &TfrmNES::mnuSaveStateClick);
    connect(mnuLoadState, &QAction::triggered, this, &TfrmNES::mnuLoadStateClick);
    connect(mnuUndoSaveState, &QAction::triggered, this, &TfrmNES::mnuUndoSaveStateClick);
    connect(mnuUndoLoadState, &QAction::triggered, this, &TfrmNES::mnuUndoLoadStateClick);
    connect(mnuSaveStateAs, &QAction::triggered, this, &TfrmNES::mnuSaveStateAsClick);
    connect(mnuLoadStateFrom, &QAction::triggered, this, &TfrmNES::mnuLoadStateFromClick);
    connect(mnuRecordMovie, &QAction::triggered, this, &TfrmNES::mnuRecordMovieClick);
    connect(mnuRecordMovieHere, &QAction::triggered, this, &TfrmNES::mnuRecordMovieHereClick);
    connect(mnuRewind, &QAction::toggled, this,
            [this](bool on) { frameLoop_.SetRewindEnabled(on); });
    connect(mnuState, &QMenu::aboutToShow, this, [this] {
        AllNotesOff(machine());
        UpdateStateSlots();
    });

    mnuView = menuBar()->addMenu(QStringLiteral("&View"));
    mnuView->setObjectName(QStringLiteral("mnuView"));
    QMenu* sizes = mnuView->addMenu(QStringLiteral("Window &size"));
    auto* sizeGroup = new QActionGroup(this);
    for (int i = 0; i < kMaxWindowScale; ++i) {
        const QByteArray name = "mnuScale" + QByteArray::number(i + 1);
        mnuScale[i] = MenuItem(sizes, name.constData(), QStringLiteral("&%1\u00D7").arg(i + 1));
        mnuScale[i]->setCheckable(true);
        sizeGroup->addAction(mnuScale[i]);
        connect(mnuScale[i], &QAction::triggered, this, [this, i] { SetWindowScale(i + 1); });
    }
    QMenu* shapes = mnuView->addMenu(QStringLiteral("&Pixel aspect"));
    auto* shapeGroup = new QActionGroup(this);
    mnuSquarePixels = MenuItem(shapes, "mnuSquarePixels", QStringLiteral("&Square"));
    mnuTelevisionPixels =
        MenuItem(shapes, "mnuTelevisionPixels", QStringLiteral("&Television (8:7)"));
    for (QAction* item : {mnuSquarePixels, mnuTelevisionPixels}) {
        item->setCheckable(true);
        shapeGroup->addAction(item);
    }
    connect(mnuSquarePixels, &QAction::triggered, this,
            [this] { SetPixelAspect(PixelAspect::Square); });
    connect(mnuTelevisionPixels, &QAction::triggered, this,
            [this] { SetPixelAspect(PixelAspect::Television); });

    Help1 = menuBar()->addMenu(QStringLiteral("&Help"));
    Help1->setObjectName(QStringLiteral("Help1"));
    mnuAbout = MenuItem(Help1, "mnuAbout", QStringLiteral("About ..."));

    PopupMenu = new QMenu(this);
    PopupMenu->setObjectName(QStringLiteral("PopupMenu"));
    pmuLoadRom = PopupItem(PopupMenu, "pmuLoadRom", QStringLiteral("&Load ROM ..."), "F2");
    pmuFreeROM = PopupItem(PopupMenu, "pmuFreeROM", QStringLiteral("&Free ROM ..."), "F3");
    PopupMenu->addSeparator();
    pmuReset = PopupItem(PopupMenu, "pmuReset", QStringLiteral("&Reset"), "Shift+F2");
    pmuPause = PopupItem(PopupMenu, "pmuPause", QStringLiteral("&Pause"), "Ctrl+F2");

    // The items' shortcuts stay live in full screen, where the menu bar is hidden.
    for (QMenu* menu : {mnuFile, mnuCPU, mnuEmulation, mnuState, Help1})
        addActions(menu->actions());
    for (QMenu* menu : {mnuFile, mnuCPU, mnuEmulation, mnuState, mnuView, Help1, PopupMenu})
        keys_.WatchMenu(menu);

    for (QAction* item : {mnuFreeROM, mnuSavesnapshot, mnuRecordMusic, mnuRom})
        item->setEnabled(false);

    connect(mnuLoadROM, &QAction::triggered, this, &TfrmNES::mnuLoadROMClick);
    connect(mnuFreeROM, &QAction::triggered, this, &TfrmNES::mnuFreeROMClick);
    connect(mnuSavesnapshot, &QAction::triggered, this, &TfrmNES::mnuSavesnapshotClick);
    connect(mnuRecordMusic, &QAction::triggered, this, &TfrmNES::mnuRecordMusicClick);
    connect(mnuSettings, &QAction::triggered, this, &TfrmNES::mnuSettingClick);
    connect(mnuRom, &QAction::triggered, this, &TfrmNES::mnuRomClick);
    connect(mnuExit, &QAction::triggered, this, &TfrmNES::mnuExitClick);
    connect(mnuReset, &QAction::triggered, this, &TfrmNES::mnuResetClick);
    connect(mnuPause, &QAction::triggered, this, &TfrmNES::mnuPauseClick);
    connect(mnuDebug, &QAction::triggered, this, &TfrmNES::mnuDebugClick);
    connect(mnuAbout, &QAction::triggered, this, &TfrmNES::mnuAboutClick);
    connect(pmuLoadRom, &QAction::triggered, this, &TfrmNES::mnuLoadROMClick);
    connect(pmuFreeROM, &QAction::triggered, this, &TfrmNES::mnuFreeROMClick);
    connect(pmuReset, &QAction::triggered, this, &TfrmNES::mnuResetClick);
    connect(pmuPause, &QAction::triggered, this, &TfrmNES::mnuPauseClick);
    connect(mnuFile, &QMenu::aboutToShow, this, &TfrmNES::mnuFileClick);
    connect(mnuCPU, &QMenu::aboutToShow, this, &TfrmNES::mnuCPUClick);
    connect(mnuFrameAdvance, &QAction::triggered, this, &TfrmNES::mnuFrameAdvanceClick);
    for (QMenu* menu : {mnuEmulation, mnuView})
        connect(menu, &QMenu::aboutToShow, this, [this] { AllNotesOff(machine()); });
    connect(Help1, &QMenu::aboutToShow, this, &TfrmNES::Help1Click);
}

// ---- Commands -------------------------------------------------------------------------------

void TfrmNES::RunCommand(const std::function<void()>& command, bool resumes) {
    try {
        command();
    } catch (const std::exception& error) {
        DrainLog();
        devices_.showError(QString::fromStdString(error.what()));
    }
    statusIcons_->update();
    if (resumes)
        frameLoop_.Resume();
    else
        frameLoop_.AfterCommand();
}

bool TfrmNES::FreeCartridge(FreeRomCall call) {
    try {
        engine_->FreeRom(call);
    } catch (const std::exception& error) {
        DrainLog();
        const QString question =
            QString::fromStdString(error.what()) +
            QStringLiteral(
                "\n\nThe battery memory could not be saved. Free the cartridge without "
                "saving, and lose what changed since the last save?");
        if (!devices_.confirm(question)) return false;
        engine_->FreeRom(FreeRomCall::Always, BatterySave::Discard);
    }
    DrainLog();
    frameLoop_.rewind().Clear();
    // A recording holds one cartridge's music, to its last note-off.
    StopMusicRecording();
    UpdateMusicItem();
    StopMovieRecording();
    statusIcons_->update();
    return true;
}

void TfrmNES::mnuLoadROMClick() {
    if (fullScreen_.Active() && !FreeCartridge(FreeRomCall::IfStarted)) return;
    const QString path = devices_.chooseImageFile();
    if (path.isEmpty()) return;
    LoadImage(path);
}

void TfrmNES::LoadImage(const QString& path) {
    bool known = false;
    for (const QString& entry : mruList_)
        if (entry.compare(path, Qt::CaseInsensitive) == 0) known = true;
    if (!known) {
        mruList_.prepend(path);
        while (mruList_.size() > kRecentImageCount) mruList_.removeLast();
    }
    StartImage(path);
}

void TfrmNES::StartImage(const QString& path) {
    // A cartridge whose battery file cannot be written stays, unless the player lets it go.
    if (!FreeCartridge(FreeRomCall::IfStarted)) return;
    RunCommand([&] { engine_->StartEngine(path.toStdString()); }, true);
}

void TfrmNES::MRUClick() {
    const QList<QAction*> items = mnuFile->actions();
    const int index = items.indexOf(qobject_cast<QAction*>(sender())) - items.indexOf(MRU[0]);
    if (index < 0 || index >= mruList_.size() || mruList_[index].isEmpty()) return;
    StartImage(mruList_[index]);
}

void TfrmNES::mnuFreeROMClick() {
    // From the menu this runs only while a cartridge is loaded; the F3 key runs it always.
    FreeCartridge(FreeRomCall::Always);
    frameLoop_.AfterCommand();
}

void TfrmNES::mnuSavesnapshotClick() {
    const QString fileName = devices_.chooseSnapshotFile();
    if (fileName.isEmpty()) return;
    RunCommand([&] {
        Machine& m = machine();
        RenderSprites(m, kFirstDrawnLine);
        WriteBitmapFile(QFile::encodeName(fileName).toStdString(), m.frame.data(),
                        BuildColourTable(m.ppu.vram));
        m.log.Append("Snapshot saved as \"" + QFileInfo(fileName).fileName().toStdString() + "\".");
    });
}

void TfrmNES::mnuRecordMusicClick() {
    if (music_->IsRecording()) {
        StopMusicRecording();
    } else {
        const QString fileName = devices_.chooseMusicFile();
        if (fileName.isEmpty()) return;
        RunCommand([&] { music_->Start(QFile::encodeName(fileName).toStdString()); });
    }
    UpdateMusicItem();
}

void TfrmNES::StopMusicRecording() {
    if (!music_->IsRecording()) return;
    try {
        music_->Stop();
        return;
    } catch (const std::exception& error) {
        devices_.showError(QString::fromStdString(error.what()) +
                           QStringLiteral("\n\nThe music could not be saved. Choose another "
                                          "file for it, or cancel to let it go."));
    }
    // The recording is still there: another file may take it.
    for (QString fileName = devices_.chooseMusicFile(); !fileName.isEmpty();
         fileName = devices_.chooseMusicFile()) {
        try {
            music_->WriteTo(QFile::encodeName(fileName).toStdString());
            return;
        } catch (const std::exception& error) {
            devices_.showError(QString::fromStdString(error.what()));
        }
    }
}

void TfrmNES::UpdateMusicItem() {
    mnuRecordMusic->setText(music_->IsRecording() ? QStringLiteral("Stop recording")
                                                  : QStringLiteral("Record music\u2026"));
}

void TfrmNES::mnuSettingClick() {
    TfrmSetting dialog(machine().settings, DisplayModes(), this);
    if (dialog.exec() == QDialog::Accepted) ApplyKeyBindings(machine());
    frameLoop_.AfterCommand();
}

void TfrmNES::mnuRomClick() {
    TfrmROMProperty dialog(machine(), this);
    dialog.exec();
    frameLoop_.AfterCommand();
}

void TfrmNES::mnuExitClick() {
    close();
}

void TfrmNES::mnuResetClick() {
    if (!engine_->CartridgeStarted()) return;
    RunCommand([&] { engine_->Reset(); }, true);
}

void TfrmNES::mnuPauseClick() {
    if (!engine_->CartridgeStarted()) return;
    RunCommand([&] { engine_->Pause(); }, true);
}

void TfrmNES::mnuDebugClick() {
    const bool wasRunning = engine_->SuspendForDebugger();
    {
        TfrmDebug dialog(*engine_, this);
        dialog.exec();
    }
    engine_->ResumeAfterDebugger(wasRunning);
    statusIcons_->update();
    frameLoop_.Resume();
}

void TfrmNES::mnuFrameAdvanceClick() {
    if (!engine_->CartridgeStarted() || engine_->Running()) return;
    RunCommand([&] {
        engine_->Pause();  // runs
        try {
            if (engine_->RunFrames(1) == 1) frameLoop_.FrameRunOutside();
        } catch (...) {
            if (engine_->Running()) engine_->Pause();
            throw;
        }
        engine_->Pause();  // stops at the command point, as Pause does
    });
}

// ---- Saved states ------------------------------------------------------------------------------

bool TfrmNES::RunStateCommand(const std::function<bool()>& command,
                              const std::string& failurePrefix) {
    if (!engine_->CartridgeStarted()) return false;
    Log& log = machine().log;
    const uint64_t before = log.TotalAppended();
    bool done = false;
    std::string failure;
    try {
        done = command();
    } catch (const std::exception& error) {
        failure = failurePrefix + error.what();
    }
    // The engine's own line says what happened (saved, loaded, or why not).
    std::string said;
    if (log.TotalAppended() > before) said = log.Lines().back();
    if (failure.empty()) failure = said;
    // The slot's long file name (image, SHA-1, number) would not fit the panel: "slot N".
    const std::string file = engine_->StateSlotFile(stateSlot_);
    for (const std::string& name : {file, std::filesystem::path(file).filename().string()}) {
        const size_t at = failure.find(name);
        if (!name.empty() && at != std::string::npos)
            failure.replace(at, name.size(), "slot " + std::to_string(stateSlot_));
    }
    ShowStateMessage(done ? said : failure, !done);
    statusIcons_->update();
    frameLoop_.AfterCommand();
    return done;
}

void TfrmNES::ShowStateMessage(const std::string& text, bool failure) {
    const QString message = QString::fromStdString(text);
    statusText_->setStyleSheet(failure ? QStringLiteral("color: red;") : QString());
    statusText_->setToolTip(message);
    statusText_->setText(message);
    statusTimer_.start();
    if (failure && fullScreen_.Active()) devices_.showError(message);
}

void TfrmNES::mnuSaveStateClick() {
    const int slot = stateSlot_;
    RunStateCommand(
        [&] {
            engine_->SaveStateSlot(slot);
            return true;
        },
        "State not saved: ");
    UpdateStateSlots();
}

void TfrmNES::mnuLoadStateClick() {
    const int slot = stateSlot_;
    if (RunStateCommand([&] { return engine_->LoadStateSlot(slot); }, "State not loaded: "))
        PresentFrame();
}

void TfrmNES::ChooseStateSlot(int slot) {
    stateSlot_ = slot;
    UpdateStateSlots();
    if (!engine_->CartridgeStarted()) return;
    StateInfo info;
    const QString text =
        engine_->StateSlotInfo(slot, info)
            ? QStringLiteral("State slot %1: saved %2").arg(slot).arg(SavedAtText(info))
            : QStringLiteral("State slot %1: empty").arg(slot);
    ShowStateMessage(text.toStdString(), false);
}

void TfrmNES::mnuUndoSaveStateClick() {
    const int slot = stateSlot_;
    RunStateCommand(
        [&] {
            if (engine_->UndoSaveStateSlot(slot)) return true;
            machine().log.Append("Slot " + std::to_string(slot) + " has no save to undo.");
            return false;
        },
        "Save not undone: ");
    UpdateStateSlots();
}

void TfrmNES::mnuUndoLoadStateClick() {
    const bool done = RunStateCommand(
        [&] {
            Log& log = machine().log;
            const uint64_t before = log.TotalAppended();
            if (engine_->UndoLoadState()) {
                log.Append("The machine is back as it was before the load.");
                return true;
            }
            // A refused state has said why; otherwise there was nothing to undo.
            if (log.TotalAppended() == before) log.Append("There is no load to undo.");
            return false;
        },
        "Load not undone: ");
    if (done) PresentFrame();
}

void TfrmNES::mnuSaveStateAsClick() {
    if (!engine_->CartridgeStarted()) return;
    const QString fileName = devices_.chooseStateSaveFile();
    if (fileName.isEmpty()) return;
    RunStateCommand(
        [&] {
            engine_->SaveStateFile(QFile::encodeName(fileName).toStdString());
            machine().log.Append("State saved as \"" +
                                 QFileInfo(fileName).fileName().toStdString() + "\".");
            return true;
        },
        "State not saved: ");
}

void TfrmNES::mnuLoadStateFromClick() {
    if (!engine_->CartridgeStarted()) return;
    const QString fileName = devices_.chooseStateLoadFile();
    if (fileName.isEmpty()) return;
    const bool done = RunStateCommand(
        [&] {
            if (!engine_->LoadStateFile(QFile::encodeName(fileName).toStdString())) return false;
            machine().log.Append("State loaded from \"" +
                                 QFileInfo(fileName).fileName().toStdString() + "\".");
            return true;
        },
        "State not loaded: ");
    if (done) PresentFrame();
}

void TfrmNES::UpdateStateSlots() {
    for (int i = 0; i < kStateSlots; ++i) {
        StateInfo info;
        QAction* item = mnuStateSlot[i];
        // The current slot in bold (a check mark would be drawn at the thumbnails' size).
        QFont font = item->font();
        font.setBold(i == stateSlot_);
        item->setFont(font);
        if (!engine_->CartridgeStarted()) {
            item->setText(QStringLiteral("Slot &%1\t%1").arg(i));
            item->setIcon(QIcon());
        } else if (engine_->StateSlotInfo(i, info)) {
            item->setText(QStringLiteral("Slot &%1 \u2013 %2\t%1").arg(i).arg(SavedAtText(info)));
            item->setIcon(Thumbnail(info));
        } else {
            item->setText(QStringLiteral("Slot &%1 \u2013 empty\t%1").arg(i));
            item->setIcon(QIcon());
        }
    }
    std::error_code ec;
    const std::string file = engine_->StateSlotFile(stateSlot_);
    mnuUndoSaveState->setEnabled(!file.empty() && std::filesystem::exists(file + ".bak", ec));
}

// ---- Input movies ------------------------------------------------------------------------------

void TfrmNES::mnuRecordMovieClick() {
    if (movie_.Recording())
        StopMovieRecording();
    else
        StartMovieRecording(false);
    frameLoop_.AfterCommand();
}

void TfrmNES::mnuRecordMovieHereClick() {
    if (!movie_.Recording()) StartMovieRecording(true);
    frameLoop_.AfterCommand();
}

void TfrmNES::StartMovieRecording(bool fromHere) {
    if (!engine_->CartridgeStarted()) return;
    const QString fileName = devices_.chooseMovieFile();
    if (fileName.isEmpty()) return;
    // From power-on the cartridge starts afresh: the machine as StartEngine leaves it.
    const std::string image = machine().cart.romFilePath + machine().cart.romFileName;
    if (!fromHere) StartImage(QString::fromStdString(image));
    const std::string movieFile = QFile::encodeName(fileName).toStdString();
    const std::string stateFile = movieFile + ".state";
    std::string error;
    bool started = false, withState = fromHere;
    try {
        started = movie_.Start(*engine_, movieFile, fromHere ? stateFile : "", error);
        if (started && !fromHere && !AsInANewProcess(*engine_, image)) {
            withState = true;
            started = movie_.Start(*engine_, movieFile, stateFile, error);
        }
    } catch (const std::exception& failure) {
        error = failure.what();
    }
    if (!started) {
        ShowStateMessage("Movie not recorded: " + error, true);
        return;
    }
    movieFile_ = fileName;
    movieLeft_ = false;
    frameLoop_.SetFrameWatch([this] {
        if (movieLeft_ || movie_.RecordFrame(*engine_)) return;
        // The machine no longer follows from the movie's start. The recording ends after the
        // tick, outside the frame loop, since writing it may ask for another file.
        movieLeft_ = true;
        QTimer::singleShot(0, this, [this] {
            if (movieLeft_)
                StopMovieRecording("Movie recording stopped by a reset, load, rewind or debugger");
        });
    });
    std::string message = std::string("Recording a movie from ") +
                          (fromHere ? "here" : "power-on") + " into \"" +
                          QFileInfo(fileName).fileName().toStdString() + "\"";
    if (withState && !fromHere)
        message += " (from a state: this power-on keeps traces of the last run)";
    ShowStateMessage(message + ".", false);
    UpdateMovieItems();
}

void TfrmNES::StopMovieRecording(const std::string& why) {
    movieLeft_ = false;
    if (!movie_.Recording()) return;
    frameLoop_.SetFrameWatch(nullptr);
    const auto saved = [&] {
        ShowStateMessage((why.empty() ? std::string("Movie recorded") : why) + ": " +
                             std::to_string(movie_.FramesRecorded()) + " frames in \"" +
                             QFileInfo(movieFile_).fileName().toStdString() + "\".",
                         false);
        UpdateMovieItems();
    };
    try {
        movie_.Stop();
        saved();
        return;
    } catch (const std::exception& error) {
        devices_.showError(QString::fromStdString(error.what()) +
                           QStringLiteral("\n\nThe movie could not be saved. Choose another "
                                          "file for it, or cancel to let it go."));
    }
    // The recording is still there: another file may take it.
    for (movieFile_ = devices_.chooseMovieFile(); !movieFile_.isEmpty();
         movieFile_ = devices_.chooseMovieFile()) {
        movie_.SetFile(QFile::encodeName(movieFile_).toStdString());
        try {
            movie_.Stop();
            saved();
            return;
        } catch (const std::exception& error) {
            devices_.showError(QString::fromStdString(error.what()));
        }
    }
    movie_ = MovieRecorder();
    UpdateMovieItems();
}

void TfrmNES::UpdateMovieItems() {
    const bool recording = movie_.Recording();
    mnuRecordMovie->setText(recording ? QStringLiteral("Stop movie recording")
                                      : QStringLiteral("Record &movie\u2026"));
    mnuRecordMovieHere->setEnabled(mnuRecordMovie->isEnabled() && !recording);
}

void TfrmNES::mnuAboutClick() {
    TfrmAbout dialog(productVersion_, this);
    dialog.exec();
    frameLoop_.AfterCommand();
}

void TfrmNES::mnuFileClick() {
    AllNotesOff(machine());
    for (int i = 0; i < kRecentImageCount; ++i) {
        const QString entry = mruList_.value(i);
        MRU[i]->setVisible(!entry.isEmpty());
        MRU[i]->setText(PlainCaption(entry));
    }
    MRUSeparator->setVisible(MRU[0]->isVisible());
}

void TfrmNES::mnuCPUClick() {
    AllNotesOff(machine());
    const bool loaded = !machine().cart.romFileName.empty();
    mnuReset->setEnabled(loaded);
    mnuPause->setEnabled(loaded);
    mnuPause->setText(engine_->Running() ? QStringLiteral("&Pause") : QStringLiteral("&Run"));
}

void TfrmNES::Help1Click() {
    AllNotesOff(machine());
}

void TfrmNES::FlushBatteryMemory() {
    // Not a command that holds the machine: the frame deadline stays where it is.
    try {
        engine_->FlushBackedMemory();
    } catch (const std::exception& error) {
        machine().log.Append(std::string("Backed memory not saved: ") + error.what());
    }
    DrainLog();
    ShowSaveFailure(engine_->FlushFailure());
}

void TfrmNES::ShowSaveFailure(const std::string& failure) {
    // The log is hidden while a game runs: the status bar tells the player that the save failed.
    if (failure == shownSaveFailure_) return;
    shownSaveFailure_ = failure;
    statusTimer_.stop();
    ShowUsualStatus();
    if (!failure.empty() && fullScreen_.Active())
        devices_.showError(QString::fromStdString("Not saved: " + failure));
}

void TfrmNES::ShowUsualStatus() {
    if (shownSaveFailure_.empty()) {
        statusText_->setStyleSheet(QString());
        statusText_->setToolTip(QString());
        std::string name = machine().cart.romFileName;
        for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        SetStatusText(name);
        return;
    }
    const QString text = QString::fromStdString("Not saved: " + shownSaveFailure_);
    statusText_->setStyleSheet(QStringLiteral("color: red;"));
    statusText_->setToolTip(text);
    statusText_->setText(text);
}

// ---- The engine's seams ------------------------------------------------------------------------

void TfrmNES::SetCartridgeCommandsEnabled(bool enabled) {
    for (QAction* item : {mnuRom, mnuFreeROM, mnuDebug, mnuSavesnapshot, mnuRecordMusic})
        item->setEnabled(enabled);
    // A cartridge's own commands are ready for their keys at once, not only after the CPU menu
    // has been opened.
    if (enabled) {
        mnuReset->setEnabled(true);
        mnuPause->setEnabled(true);
    }
    mnuFrameAdvance->setEnabled(enabled);
    for (QAction* item : {mnuSaveState, mnuLoadState, mnuUndoLoadState, mnuSaveStateAs,
                          mnuLoadStateFrom, mnuRecordMovie})
        item->setEnabled(enabled);
    UpdateStateSlots();
    UpdateMovieItems();
}

void TfrmNES::SetStatusText(const std::string& text) {
    statusText_->setText(QString::fromStdString(text));
    statusBar()->repaint();
}

void TfrmNES::VideoStart() {
    directDrawActive_ = glAvailable_;
    if (machine().settings.WIN == 1 && directDrawActive_ && !fullScreen_.Active())
        ToggleFullScreen();
    area_->setCurrentWidget(surface_->widget());
    surface_->StartSplash();
}

void TfrmNES::VideoStop() {
    if (fullScreen_.Active()) ToggleFullScreen();
    area_->setCurrentWidget(Terminal);
    unsetCursor();
}

void TfrmNES::PresentFrame() {
    surface_->Present(machine(), machine().settings.ViewFrequency);
}

void TfrmNES::ToggleFullScreen() {
    if (fullScreen_.Active()) {
        fullScreen_.Leave(*surface_);
        return;
    }
    const std::string& text = machine().settings.SCREEN;
    const std::optional<DisplayMode> mode = FullScreenMode(text);
    if (!mode) {
        machine().log.Append("The display mode \"" + text +
                             "\" is not a mode of the form WIDTHxHEIGHTxBITS; the picture stays "
                             "in the window.");
        DrainLog();
        return;
    }
    fullScreen_.Enter(*surface_, *mode);
}

std::optional<std::vector<DisplayMode>> TfrmNES::DisplayModes() const {
    if (!glAvailable_) return std::nullopt;
    const QScreen* current = screen() ? screen() : QGuiApplication::primaryScreen();
    if (!current) return std::nullopt;
    return ClassicDisplayModes(current->size().width(), current->size().height());
}

// ---- Status bar -------------------------------------------------------------------------------

void TfrmNES::WatchSound() {
    const bool failed = machine().sound.midiOpen && devices_.midiOutput->Failed();
    if (failed == soundFailed_) return;
    soundFailed_ = failed;
    if (failed) {
        machine().log.Append("The sound output stopped; the game goes on without sound.");
        DrainLog();
    }
    statusIcons_->update();
}

void TfrmNES::StatusBarDrawPanel(QPainter& painter, const QRect& panel) {
    if (!engine_->Running()) return;
    painter.drawPixmap(
        panel.left(), panel.top(),
        Picture(directDrawActive_ ? QStringLiteral("DirectX") : QStringLiteral("NoDirectX")));
    painter.drawPixmap(
        panel.left() + 18, panel.top(),
        Picture(machine().sound.midiOpen && !soundFailed_ ? QStringLiteral("Audio")
                                                          : QStringLiteral("NoAudio")));
}

// ---- Keys, focus, closing, dropping ----------------------------------------------------------

bool TfrmNES::FormKeyDown(int key, Qt::KeyboardModifiers modifiers) {
    if ((key == Qt::Key_Return || key == Qt::Key_Enter) && (modifiers & Qt::AltModifier)) {
        if (directDrawActive_) ToggleFullScreen();
        return true;
    }
    if (key == Qt::Key_Escape) {
        if (fullScreen_.Active())
            ToggleFullScreen();
        else
            close();
        return true;
    }
    if (key == Qt::Key_F2 && modifiers == Qt::NoModifier) {
        mnuLoadROMClick();
        return true;
    }
    if (key == Qt::Key_F3 && modifiers == Qt::NoModifier) {
        mnuFreeROMClick();
        return true;
    }
    if (key >= Qt::Key_0 && key <= Qt::Key_9 && modifiers == Qt::NoModifier) {
        ChooseStateSlot(key - Qt::Key_0);
        return true;
    }
    return false;
}

void TfrmNES::closeEvent(QCloseEvent* event) {
    if (mnuFreeROM->isEnabled() && !FreeCartridge(FreeRomCall::IfStarted)) {
        // The cartridge stays loaded with its memory: the player may make room and try again.
        event->ignore();
        return;
    }
    StoreSettings();
    event->accept();
}

void TfrmNES::dragEnterEvent(QDragEnterEvent* event) {
    const QList<QUrl> urls = event->mimeData()->urls();
    if (urls.size() == 1 && urls.first().isLocalFile()) event->acceptProposedAction();
}

void TfrmNES::dropEvent(QDropEvent* event) {
    const QList<QUrl> urls = event->mimeData()->urls();
    if (urls.size() != 1 || !urls.first().isLocalFile()) return;
    event->acceptProposedAction();
    const QString path = urls.first().toLocalFile();
    // Loading runs after the drop has finished, outside the drag's own event handling.
    QTimer::singleShot(0, this, [this, path] { LoadImage(path); });
}

}  // namespace vexalo
