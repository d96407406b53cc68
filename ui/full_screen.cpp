#include "ui/full_screen.h"

#include <QMainWindow>
#include <QMenuBar>
#include <QScreen>
#include <QStatusBar>

#include "machine/display_view.h"

namespace vexalo {

std::optional<DisplayMode> FullScreenMode(const std::string& text) {
    if (text.empty()) return kDefaultFullScreenMode;
    return ParseDisplayMode(text);
}

FullScreen::FullScreen(QMainWindow* window, std::function<void()> restoreWindow)
    : window_(window), restoreWindow_(std::move(restoreWindow)) {}

void FullScreen::Enter(DisplaySurface& surface, const DisplayMode& mode) {
    if (active_) return;
    active_ = true;
    windowedGeometry_ = window_->geometry();
    window_->menuBar()->hide();
    window_->statusBar()->hide();
    surface.widget()->setCursor(Qt::BlankCursor);
    window_->setMinimumSize(0, 0);
    window_->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    surface.SetFullScreenMode(mode);
    window_->showFullScreen();
    // Without a window manager nothing resizes a full-screen window: cover the monitor ourselves.
    if (const QScreen* monitor = window_->screen()) window_->setGeometry(monitor->geometry());
}

void FullScreen::Leave(DisplaySurface& surface) {
    if (!active_) return;
    active_ = false;
    surface.SetFullScreenMode(std::nullopt);
    surface.widget()->unsetCursor();
    window_->menuBar()->show();
    window_->statusBar()->show();
    window_->showNormal();
    restoreWindow_();
    if (windowedGeometry_.isValid()) window_->setGeometry(windowedGeometry_);
}

}  // namespace vexalo
