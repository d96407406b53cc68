#include "ui/main_window.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QPlainTextEdit>
#include <QScreen>
#include <QScrollBar>
#include <QSettings>
#include <QStackedWidget>
#include <QStatusBar>
#include <QUrl>
#include <algorithm>

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

constexpr int kClientWidth = 374;
constexpr int kClientHeight = 270;
constexpr int kStatusBarHeight = 20;
constexpr int kLogLines = 10000;
constexpr int kBatteryFlushMilliseconds = 10000;

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
    : QMainWindow(parent), devices_(std::move(devices)) {
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
    if (!devices_.showError) {
        devices_.showError = [this](const QString& message) {
            QMessageBox::critical(this, QStringLiteral("Vexalo Emulator"), message);
        };
    }
    engine_ = std::make_unique<Engine>(this);
    FormCreate();
}

TfrmNES::~TfrmNES() {
    qApp->removeEventFilter(this);
    // Normally closing freed the cartridge already; a window destroyed without closing saves too.
    try {
        engine_->FreeRom(FreeRomCall::IfStarted);
    } catch (const std::exception&) {
        // Nothing can be shown any more; the previous battery file is still in place.
    }
    QSettings store = OpenSettingsStore();
    SaveSettings(store, machine().settings, mruList_);
}

void TfrmNES::FormCreate() {
    Machine& m = machine();
    m.sound.midiOpen = false;
    m.sound.output = devices_.midiOutput;
    m.cpu = CpuState{};
    m.cpu.CyclesPerLine = 122;
    productVersion_ = QStringLiteral(VEXALO_PRODUCT_VERSION);
    {
        QSettings store = OpenSettingsStore();
        LoadSettings(store, m.settings, mruList_);
    }
    for (int p = 0; p < 2; ++p) {
        inputDevice_[p].SetKeyboard(&keys_);
        inputDevice_[p].SetJoystick(devices_.joystick);
        inputDevice_[p].SetForegroundTest([this] { return isActiveWindow(); });
        m.pads.device[p] = &inputDevice_[p];
    }
    ApplyKeyBindings(m);

    setWindowTitle(QStringLiteral("Vexalo Emulator"));
    setWindowIcon(QIcon(Emblem(64)));
    setAcceptDrops(true);
    area_ = new QStackedWidget(this);
    Terminal = new QPlainTextEdit(area_);
    Terminal->setObjectName(QStringLiteral("Terminal"));
    Terminal->setReadOnly(true);
    Terminal->setUndoRedoEnabled(false);
    Terminal->setMaximumBlockCount(kLogLines);
    Terminal->setFrameShape(QFrame::NoFrame);
    Terminal->setStyleSheet(QStringLiteral("QPlainTextEdit { background: black; color: yellow; }"));
    QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    Terminal->setFont(fixed);
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

    ApplyFixedWindowSize();
    move(267, 127);

    m.log.Append(std::string(VEXALO_PRODUCT_NAME) + " " + productVersion_.toStdString());
    m.log.Append(VEXALO_DESCRIPTION);
    m.log.Append(VEXALO_LEGAL_COPYRIGHT);
    m.log.Append(VEXALO_LEGAL_TRADEMARKS);
    m.log.Append("");
    DrainLog();

    frameTimer_.setTimerType(Qt::PreciseTimer);
    frameTimer_.setSingleShot(true);
    connect(&frameTimer_, &QTimer::timeout, this, &TfrmNES::Tick);
    flushTimer_.setInterval(kBatteryFlushMilliseconds);
    connect(&flushTimer_, &QTimer::timeout, this, &TfrmNES::FlushBatteryMemory);
    flushTimer_.start();
    connect(qApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState s) {
        if (s != Qt::ApplicationActive) ReleaseAllKeys();
    });
    // Keys reach the window before any of its controls.
    qApp->installEventFilter(this);
}

void TfrmNES::ApplyFixedWindowSize() {
    // The client area below the menu bar is 374 x 270, the status bar included.
    setFixedSize(kClientWidth, kClientHeight + menuBar()->sizeHint().height());
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
    for (QMenu* menu : {mnuFile, mnuCPU, Help1}) addActions(menu->actions());

    for (QAction* item : {mnuFreeROM, mnuSavesnapshot, mnuRom}) item->setEnabled(false);

    connect(mnuLoadROM, &QAction::triggered, this, &TfrmNES::mnuLoadROMClick);
    connect(mnuFreeROM, &QAction::triggered, this, &TfrmNES::mnuFreeROMClick);
    connect(mnuSavesnapshot, &QAction::triggered, this, &TfrmNES::mnuSavesnapshotClick);
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
    connect(Help1, &QMenu::aboutToShow, this, &TfrmNES::Help1Click);
}

// ---- Commands -------------------------------------------------------------------------------

void TfrmNES::RunCommand(const std::function<void()>& command) {
    try {
        command();
    } catch (const std::exception& error) {
        DrainLog();
        devices_.showError(QString::fromStdString(error.what()));
    }
    AfterCommand();
}

void TfrmNES::AfterCommand() {
    DrainLog();
    statusIcons_->update();
    if (engine_->Running()) {
        pacer_.Restart(FramePacer::Clock::now());
        if (!frameTimer_.isActive()) frameTimer_.start(0);
    }
}

void TfrmNES::mnuLoadROMClick() {
    if (fullScreen_ && mnuFreeROM->isEnabled()) mnuFreeROMClick();
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
    RunCommand([&] { engine_->StartEngine(path.toStdString()); });
}

void TfrmNES::MRUClick() {
    const QList<QAction*> items = mnuFile->actions();
    const int index = items.indexOf(qobject_cast<QAction*>(sender())) - items.indexOf(MRU[0]);
    if (index < 0 || index >= mruList_.size() || mruList_[index].isEmpty()) return;
    StartImage(mruList_[index]);
}

void TfrmNES::mnuFreeROMClick() {
    // From the menu this runs only while a cartridge is loaded; the F3 key runs it always.
    RunCommand([&] { engine_->FreeRom(FreeRomCall::Always); });
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

void TfrmNES::mnuSettingClick() {
    TfrmSetting dialog(machine().settings, DisplayModes(), this);
    if (dialog.exec() == QDialog::Accepted) ApplyKeyBindings(machine());
    AfterCommand();
}

void TfrmNES::mnuRomClick() {
    TfrmROMProperty dialog(machine(), this);
    dialog.exec();
    AfterCommand();
}

void TfrmNES::mnuExitClick() {
    close();
}

void TfrmNES::mnuResetClick() {
    if (!engine_->CartridgeStarted()) return;
    RunCommand([&] { engine_->Reset(); });
}

void TfrmNES::mnuPauseClick() {
    if (!engine_->CartridgeStarted()) return;
    RunCommand([&] { engine_->Pause(); });
}

void TfrmNES::mnuDebugClick() {
    const bool wasRunning = engine_->SuspendForDebugger();
    {
        TfrmDebug dialog(*engine_, this);
        dialog.exec();
    }
    engine_->ResumeAfterDebugger(wasRunning);
    AfterCommand();
}

void TfrmNES::mnuAboutClick() {
    TfrmAbout dialog(productVersion_, this);
    dialog.exec();
    AfterCommand();
}

void TfrmNES::mnuFileClick() {
    AllNotesOff(machine());
    for (int i = 0; i < kRecentImageCount; ++i) {
        const QString entry = mruList_.value(i);
        MRU[i]->setVisible(!entry.isEmpty());
        MRU[i]->setText(entry);
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
    RunCommand([&] { engine_->FlushBackedMemory(); });
}

// ---- The engine's seams ------------------------------------------------------------------------

void TfrmNES::SetCartridgeCommandsEnabled(bool enabled) {
    for (QAction* item : {mnuRom, mnuFreeROM, mnuDebug, mnuSavesnapshot}) item->setEnabled(enabled);
    // A cartridge's own commands are ready for their keys at once, not only after the CPU menu
    // has been opened.
    if (enabled) {
        mnuReset->setEnabled(true);
        mnuPause->setEnabled(true);
    }
}

void TfrmNES::SetStatusText(const std::string& text) {
    statusText_->setText(QString::fromStdString(text));
    statusBar()->repaint();
}

void TfrmNES::VideoStart() {
    directDrawActive_ = glAvailable_;
    if (machine().settings.WIN == 1 && directDrawActive_ && !fullScreen_) ToggleFullScreen();
    area_->setCurrentWidget(surface_->widget());
    surface_->StartSplash();
}

void TfrmNES::VideoStop() {
    if (fullScreen_) ToggleFullScreen();
    area_->setCurrentWidget(Terminal);
    unsetCursor();
}

void TfrmNES::PresentFrame() {
    surface_->Present(machine(), machine().settings.ViewFrequency);
}

void TfrmNES::ToggleFullScreen() {
    QWidget* view = surface_->widget();
    if (fullScreen_) {
        fullScreen_ = false;
        surface_->SetFullScreenMode(std::nullopt);
        view->unsetCursor();
        menuBar()->show();
        statusBar()->show();
        showNormal();
        ApplyFixedWindowSize();
        if (windowedGeometry_.isValid()) setGeometry(windowedGeometry_);
        return;
    }
    DisplayMode mode = kDefaultFullScreenMode;
    const std::string& text = machine().settings.SCREEN;
    if (!text.empty()) {
        const std::optional<DisplayMode> chosen = ParseDisplayMode(text);
        if (!chosen) {
            machine().log.Append("The display mode \"" + text +
                                 "\" is not a mode of the form WIDTHxHEIGHTxBITS; the picture "
                                 "stays in the window.");
            DrainLog();
            return;
        }
        mode = *chosen;
    }
    fullScreen_ = true;
    windowedGeometry_ = geometry();
    menuBar()->hide();
    statusBar()->hide();
    view->setCursor(Qt::BlankCursor);
    setMinimumSize(0, 0);
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    surface_->SetFullScreenMode(mode);
    showFullScreen();
    // Without a window manager nothing resizes a full-screen window: cover the monitor ourselves.
    if (const QScreen* monitor = screen()) setGeometry(monitor->geometry());
}

std::optional<std::vector<DisplayMode>> TfrmNES::DisplayModes() const {
    if (!glAvailable_) return std::nullopt;
    const QScreen* current = screen() ? screen() : QGuiApplication::primaryScreen();
    if (!current) return std::nullopt;
    return ClassicDisplayModes(current->size().width(), current->size().height());
}

// ---- Running ---------------------------------------------------------------------------------

void TfrmNES::Tick() {
    const auto now = FramePacer::Clock::now();
    if (QApplication::activeModalWidget() || QApplication::activePopupWidget()) {
        // A menu or a dialog holds the machine, as it would hold a console's owner.
        suspended_ = true;
        frameTimer_.start(16);
        return;
    }
    if (suspended_) {
        suspended_ = false;
        pacer_.Restart(now);
    }
    if (surface_->SplashActive()) {
        surface_->AdvanceSplash();
        if (!surface_->SplashActive()) pacer_.Restart(now);
        frameTimer_.start(16);
        return;
    }
    if (engine_->Running()) {
        const int due = pacer_.FramesDue(now);
        if (due > 0) engine_->RunFrames(due);
    }
    DrainLog();
    if (!engine_->Running()) {
        statusIcons_->update();
        return;
    }
    const auto wait = pacer_.NextDeadline() - FramePacer::Clock::now();
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(wait).count();
    frameTimer_.start(static_cast<int>(std::clamp<int64_t>(ms, 0, 100)));
}

void TfrmNES::DrainLog() {
    QStringList batch;
    machine().log.Drain(
        [&](const std::string& line) { batch.append(QString::fromStdString(line)); });
    if (batch.isEmpty()) return;
    QScrollBar* scroll = Terminal->verticalScrollBar();
    const bool atBottom = scroll->value() >= scroll->maximum();
    const int keep = scroll->value();
    Terminal->appendPlainText(batch.join(QLatin1Char('\n')));
    if (atBottom)
        scroll->setValue(scroll->maximum());
    else
        scroll->setValue(keep);
}

void TfrmNES::StatusBarDrawPanel(QPainter& painter, const QRect& panel) {
    if (!engine_->Running()) return;
    painter.drawPixmap(
        panel.left(), panel.top(),
        Picture(directDrawActive_ ? QStringLiteral("DirectX") : QStringLiteral("NoDirectX")));
    painter.drawPixmap(
        panel.left() + 18, panel.top(),
        Picture(machine().sound.midiOpen ? QStringLiteral("Audio") : QStringLiteral("NoAudio")));
}

// ---- Keys, focus, closing, dropping ----------------------------------------------------------

bool TfrmNES::FormKeyDown(QKeyEvent* event) {
    const int key = event->key();
    if ((key == Qt::Key_Return || key == Qt::Key_Enter) && (event->modifiers() & Qt::AltModifier)) {
        if (directDrawActive_) ToggleFullScreen();
        return true;
    }
    if (key == Qt::Key_Escape) {
        if (fullScreen_)
            ToggleFullScreen();
        else
            close();
        return true;
    }
    if (key == Qt::Key_F2 && event->modifiers() == Qt::NoModifier) {
        mnuLoadROMClick();
        return true;
    }
    if (key == Qt::Key_F3 && event->modifiers() == Qt::NoModifier) {
        mnuFreeROMClick();
        return true;
    }
    return false;
}

bool TfrmNES::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type != QEvent::KeyPress && type != QEvent::KeyRelease) return false;
    // Only keys meant for this window (a dialog or a menu over it is another window), and each
    // once: the filter sees an event again as it travels up to the parents.
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget || widget->window() != this) return false;
    QWidget* focus = QApplication::focusWidget();
    if (widget != (focus ? focus : this)) return false;
    auto* key = static_cast<QKeyEvent*>(event);
    const int code = VirtualKeyCode(key->key(), key->modifiers());
    if (type == QEvent::KeyRelease) {
        if (!key->isAutoRepeat() && code > 0 && code < 256) keys_[code] = false;
        return false;
    }
    if (!key->isAutoRepeat() && code > 0 && code < 256) keys_[code] = true;
    if (FormKeyDown(key)) return true;
    // While a cartridge is loaded the keys are the joypads': Tab and the arrows do not move the
    // focus, and the log does not scroll under them.
    return engine_->CartridgeStarted() && code != 0;
}

void TfrmNES::ReleaseAllKeys() {
    keys_.fill(false);
}

void TfrmNES::changeEvent(QEvent* event) {
    if (event->type() == QEvent::ActivationChange && !isActiveWindow()) ReleaseAllKeys();
    QMainWindow::changeEvent(event);
}

void TfrmNES::closeEvent(QCloseEvent* event) {
    if (!mnuFreeROM->isEnabled()) {
        event->accept();
        return;
    }
    try {
        engine_->FreeRom(FreeRomCall::IfStarted);
        DrainLog();
        event->accept();
    } catch (const std::exception& error) {
        DrainLog();
        // The cartridge stays loaded with its memory: the user may make room and try again.
        const auto answer = QMessageBox::warning(
            this, QStringLiteral("Vexalo Emulator"),
            QString::fromStdString(error.what()) +
                QStringLiteral("\n\nThe battery memory could not be saved. Quit anyway and lose "
                               "what changed since the last save?"),
            QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
        if (answer == QMessageBox::Yes)
            event->accept();
        else
            event->ignore();
    }
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
