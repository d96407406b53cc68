// Full screen for the main window: the menu bar and the status bar hidden, the picture laid out in
// the virtual display mode the settings name ("WIDTHxHEIGHTxBITS", or 320 x 240 while none is
// chosen) and that canvas scaled to the monitor; and back to the window where it was.
#pragma once

#include <QRect>
#include <functional>
#include <optional>
#include <string>

#include "machine/display_mode.h"

class QMainWindow;

namespace vexalo {

class DisplaySurface;

// The mode full screen uses for the settings' text: the default mode for an empty text, nothing
// for a text that is not a mode.
std::optional<DisplayMode> FullScreenMode(const std::string& text);

class FullScreen {
   public:
    // `restoreWindow` gives the window back its fixed size after full screen.
    FullScreen(QMainWindow* window, std::function<void()> restoreWindow);

    bool Active() const { return active_; }
    // Enters full screen in `mode`, or leaves it.
    void Enter(DisplaySurface& surface, const DisplayMode& mode);
    void Leave(DisplaySurface& surface);

   private:
    QMainWindow* window_;
    std::function<void()> restoreWindow_;
    bool active_ = false;
    QRect windowedGeometry_;
};

}  // namespace vexalo
