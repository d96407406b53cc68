#include "ui/key_router.h"

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QWidget>
#include <QWindow>

#include "ui/key_codes.h"

namespace vexalo {

namespace {

constexpr Qt::KeyboardModifiers kChordModifiers =
    Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier;

struct ModifierKey {
    int code;
    int qtKey;
    Qt::KeyboardModifier modifier;
};
constexpr ModifierKey kModifierKeys[] = {{16, Qt::Key_Shift, Qt::ShiftModifier},
                                         {17, Qt::Key_Control, Qt::ControlModifier},
                                         {18, Qt::Key_Alt, Qt::AltModifier}};

// The key of `held_`: the scan code, or the virtual-key code when the platform gives none.
quint32 HeldKey(const QKeyEvent& key, int code) {
    return key.nativeScanCode() != 0 ? key.nativeScanCode() : 0x80000000u | quint32(code);
}

}  // namespace

KeyRouter::KeyRouter(QWidget* window, const Settings& settings, Hooks hooks)
    : QObject(window), window_(window), settings_(settings), hooks_(std::move(hooks)) {
    connect(qApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState s) {
        if (s != Qt::ApplicationActive) ReleaseAll();
    });
    connect(qApp, &QGuiApplication::focusWindowChanged, this, [this](QWindow* focus) {
        if (!focus || focus != window_->windowHandle()) ReleaseAll();
    });
    // Keys reach the router before any widget of the program.
    qApp->installEventFilter(this);
}

KeyRouter::~KeyRouter() {
    qApp->removeEventFilter(this);
}

void KeyRouter::ReleaseAll() {
    keys_.fill(false);
    held_.clear();
}

void KeyRouter::WatchMenu(QMenu* menu) {
    connect(menu, &QMenu::aboutToShow, this, &KeyRouter::ReleaseAll);
}

bool KeyRouter::BoundToJoypad(int code) const {
    if (code <= 0) return false;
    for (const auto& player : settings_.KeyBinding)
        for (int32_t bound : player)
            if (bound == code) return true;
    return false;
}

bool KeyRouter::CommandKeyHeld(int code) const {
    return code > 0 && code < int(keys_.size()) && keys_[code] && !BoundToJoypad(code);
}

Qt::KeyboardModifiers KeyRouter::CommandModifiers(Qt::KeyboardModifiers modifiers) const {
    Qt::KeyboardModifiers command = modifiers & kChordModifiers;
    if (!hooks_.joypadsLive()) return command;
    for (const ModifierKey& m : kModifierKeys)
        if (keys_[m.code] && BoundToJoypad(m.code)) command &= ~m.modifier;
    return command;
}

KeyRouter::Route KeyRouter::RouteOf(const QKeyEvent& key) const {
    if (!hooks_.joypadsLive()) return Route::Command;
    const int code = VirtualKeyCode(key.key(), key.modifiers());
    const Qt::KeyboardModifiers actual = key.modifiers() & kChordModifiers;
    Qt::KeyboardModifiers chord = CommandModifiers(key.modifiers());
    // A modifier key going down is no chord of its own.
    for (const ModifierKey& m : kModifierKeys)
        if (key.key() == m.qtKey) chord &= ~m.modifier;
    if (chord == Qt::NoModifier && BoundToJoypad(code)) return Route::Joypad;
    return chord == actual ? Route::Command : Route::CommandRewritten;
}

bool KeyRouter::RunCommand(int key, Qt::KeyboardModifiers modifiers) {
    const QKeySequence sequence(QKeyCombination(modifiers, Qt::Key(key)));
    for (QAction* action : window_->actions()) {
        if (action->isEnabled() && action->shortcut() == sequence) {
            action->trigger();
            return true;
        }
    }
    return hooks_.windowKey(key, modifiers);
}

void KeyRouter::Press(const QKeyEvent& key, int code) {
    if (key.isAutoRepeat() || code <= 0 || code >= int(keys_.size())) return;
    keys_[code] = true;
    held_[HeldKey(key, code)] = code;
}

void KeyRouter::Release(const QKeyEvent& key) {
    const int code = VirtualKeyCode(key.key(), key.modifiers());
    const auto it = held_.find(HeldKey(key, code));
    if (it != held_.end()) {
        keys_[it->second] = false;
        held_.erase(it);
    } else if (code > 0 && code < int(keys_.size())) {
        keys_[code] = false;
    }
}

bool KeyRouter::MeantForWindow(QObject* watched) const {
    // Only keys for this window itself (a dialog or a menu over it is another window), and each
    // once: the filter sees an event again as it travels up to the parents.
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget || widget->window() != window_) return false;
    if (QApplication::activePopupWidget() || QApplication::activeModalWidget()) return false;
    QWidget* focus = QApplication::focusWidget();
    return widget == (focus ? focus : window_);
}

bool KeyRouter::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
        case QEvent::KeyRelease: {
            // Wherever it arrives, a release is never lost.
            auto* key = static_cast<QKeyEvent*>(event);
            if (!key->isAutoRepeat()) Release(*key);
            return false;
        }
        case QEvent::ShortcutOverride: {
            if (!MeantForWindow(watched)) return false;
            auto* key = static_cast<QKeyEvent*>(event);
            if (RouteOf(*key) == Route::Command) return false;  // the menu's shortcut may take it
            key->accept();  // no shortcut: the key press decides
            return true;
        }
        case QEvent::KeyPress: {
            if (!MeantForWindow(watched)) return false;
            auto* key = static_cast<QKeyEvent*>(event);
            const int code = VirtualKeyCode(key->key(), key->modifiers());
            switch (RouteOf(*key)) {
                case Route::Joypad: Press(*key, code); return true;
                case Route::CommandRewritten:
                    if (key->isAutoRepeat()) return true;
                    if (RunCommand(key->key(), CommandModifiers(key->modifiers()))) return true;
                    break;
                case Route::Command:
                    if (hooks_.windowKey(key->key(), key->modifiers())) return true;
                    break;
            }
            Press(*key, code);
            // While a cartridge is loaded the keys are the joypads': Tab and the arrows do not
            // move the focus, and the log does not scroll under them.
            return hooks_.cartridgeLoaded() && code != 0;
        }
        case QEvent::WindowDeactivate:
            if (watched == window_) ReleaseAll();
            return false;
        case QEvent::Show: {
            // A menu, a pop-up or a dialog takes the keyboard.
            auto* widget = qobject_cast<QWidget*>(watched);
            if (widget && widget->isWindow() && widget != window_ &&
                (widget->windowType() == Qt::Popup || widget->windowType() == Qt::Dialog))
                ReleaseAll();
            return false;
        }
        default: return false;
    }
}

}  // namespace vexalo
