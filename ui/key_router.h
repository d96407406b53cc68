// The keys of the main window: from Qt's key events to the joypads' key table (indexed by
// virtual-key code) and to the window's own commands. The rules:
// - A key goes down for the joypads only when it is pressed on the main window itself. Its
//   release counts wherever it arrives (a menu, a dialog), and every held key is released as soon
//   as a menu, a pop-up, a dialog or another window takes the keyboard, or the program is left.
// - While a cartridge runs, a plain key bound to a joypad button is the joypad's alone: it is no
//   menu shortcut and no window key. So a player who binds Escape, F2 or F3 to a button plays
//   with it; Alt+Enter (or the pop-up menu) still leaves full screen, and the keys are commands
//   again while the machine is paused or nothing is loaded.
// - A modifier held as a joypad button does not count for a command: with Control held as
//   player 1's B, F4 is Settings, not Exit, and F2 stays Load ROM. A chord with a modifier that is
//   no joypad button (Alt+Enter) is a command, and its key does not reach the joypads.
// - A key that is a command (a menu shortcut, Alt+Enter, Escape, F2, F3, 0-9) never reaches the
//   joypads.
#pragma once

#include <QObject>
#include <functional>
#include <unordered_map>

#include "input/input_device.h"
#include "ui/settings.h"

class QKeyEvent;
class QMenu;
class QWidget;

namespace vexalo {

class KeyRouter : public QObject {
   public:
    struct Hooks {
        std::function<bool()> joypadsLive;      // a cartridge runs: bound keys are the joypads'
        std::function<bool()> cartridgeLoaded;  // keys do not move the focus or scroll the log
        // The window's own keys (Alt+Enter, Escape, F2, F3, 0-9); true when the key was one of
        // them.
        std::function<bool(int key, Qt::KeyboardModifiers modifiers)> windowKey;
    };

    KeyRouter(QWidget* window, const Settings& settings, Hooks hooks);
    ~KeyRouter() override;

    const KeyTable& keys() const { return keys_; }
    // Whether the key of virtual-key code `code` is held as a command key (fast-forward): held,
    // and bound to no joypad button, whose key it then stays.
    bool CommandKeyHeld(int code) const;
    void ReleaseAll();
    // Every key is released when `menu` opens.
    void WatchMenu(QMenu* menu);

   protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

   private:
    enum class Route { Joypad, Command, CommandRewritten };
    // The modifiers that count for a command: those held as joypad buttons are left out.
    Qt::KeyboardModifiers CommandModifiers(Qt::KeyboardModifiers modifiers) const;
    bool BoundToJoypad(int code) const;
    Route RouteOf(const QKeyEvent& key) const;
    // Runs the command of `key` with `modifiers`: a menu item of the window, or a window key.
    bool RunCommand(int key, Qt::KeyboardModifiers modifiers);
    void Press(const QKeyEvent& key, int code);
    void Release(const QKeyEvent& key);
    bool MeantForWindow(QObject* watched) const;

    QWidget* window_;
    const Settings& settings_;
    Hooks hooks_;
    KeyTable keys_{};
    // The code each held key went down with, by the key's scan code (or its code when the
    // platform gives none), so a release with other modifiers releases the same code.
    std::unordered_map<quint32, int> held_;
};

}  // namespace vexalo
