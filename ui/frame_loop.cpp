#include "ui/frame_loop.h"

#include <QApplication>
#include <algorithm>
#include <exception>

#include "cartridge/engine.h"
#include "machine/display_view.h"
#include "ui/log_panel.h"

namespace vexalo {

namespace {

constexpr int kHeldLookMilliseconds = 16;  // how often a held machine looks whether it may go on
constexpr int kLongestWaitMilliseconds = 100;

}  // namespace

int TimerWait(FramePacer::Clock::time_point now, FramePacer::Clock::time_point deadline) {
    if (deadline <= now) return 0;
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
    return static_cast<int>(std::min<int64_t>(wait, kLongestWaitMilliseconds));
}

FrameLoop::FrameLoop(Engine& engine, LogPanel& log, Hooks hooks, QObject* parent)
    : QObject(parent), engine_(engine), log_(log), hooks_(std::move(hooks)) {
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setSingleShot(true);
    connect(&timer_, &QTimer::timeout, this, &FrameLoop::Tick);
}

void FrameLoop::Schedule(int milliseconds) {
    timer_.start(milliseconds);
}

void FrameLoop::Resume() {
    if (engine_.Running()) pacer_.Restart(clock_());
    AfterCommand();
}

void FrameLoop::AfterCommand() {
    log_.Drain(engine_.machine().log);
    if (engine_.Running() && !timer_.isActive()) Schedule(0);
}

void FrameLoop::Tick() {
    ++ticks_;
    const auto now = clock_();
    if (QApplication::activeModalWidget() || QApplication::activePopupWidget()) {
        // A menu or a dialog holds the machine, as it would hold a console's owner.
        suspended_ = true;
        Schedule(kHeldLookMilliseconds);
        return;
    }
    if (suspended_) {
        suspended_ = false;
        pacer_.Restart(now);
    }
    DisplaySurface* surface = hooks_.surface();
    if (surface && surface->SplashActive()) {
        surface->AdvanceSplash();
        if (!surface->SplashActive()) pacer_.Restart(now);
        Schedule(kHeldLookMilliseconds);
        return;
    }
    if (engine_.Running()) {
        const bool rewinding = rewindEnabled_ && hooks_.rewinding && hooks_.rewinding();
        if (!rewinding) historySpent_ = false;
        const bool back = rewinding && !historySpent_;
        if (hooks_.speed) {
            // Backwards at least at the console's pace, whatever the speed setting.
            const double speed = hooks_.speed();
            pacer_.SetSpeed(back && speed > 0 ? std::max(speed, 1.0) : speed, now);
        }
        const int due = pacer_.FramesDue(now);
        try {
            if (back) {
                StepBack(due);
            } else {
                EndRewind();
                RunForward(due);
            }
        } catch (const std::exception& error) {
            // The machine stops where it is; the window, the cartridge and its battery file stay.
            try {
                if (engine_.Running()) engine_.Pause();
            } catch (const std::exception&) {
                // The channels could not be silenced either; the machine is stopped all the same.
            }
            log_.Drain(engine_.machine().log);
            hooks_.stopped();
            hooks_.failed(QString::fromStdString(error.what()));
            return;
        }
    }
    log_.Drain(engine_.machine().log);
    if (!engine_.Running()) {
        hooks_.stopped();
        return;
    }
    Schedule(TimerWait(clock_(), pacer_.NextDeadline()));
}

void FrameLoop::SetRewindEnabled(bool enabled) {
    rewindEnabled_ = enabled;
    if (!enabled) rewind_.Clear();
}

void FrameLoop::FrameRunOutside() {
    if (rewindEnabled_) rewind_.Push(engine_);
    if (frameWatch_) frameWatch_();
}

void FrameLoop::RunForward(int frames) {
    if (frames <= 0) return;
    if (!rewindEnabled_ && !frameWatch_) {
        engine_.RunFrames(frames);
        return;
    }
    // One at a time, so the history holds every frame's joypads and the watch sees each frame.
    for (int i = 0; i < frames && engine_.RunFrames(1) == 1; ++i) {
        if (rewindEnabled_) rewind_.Push(engine_);
        if (frameWatch_) frameWatch_();
    }
}

void FrameLoop::StepBack(int frames) {
    bool stepped = false;
    for (int i = 0; i < frames; ++i) {
        if (!rewind_.StepBack(engine_)) {
            historySpent_ = true;
            break;
        }
        stepped = steppedBack_ = true;
        if (frameWatch_) frameWatch_();
    }
    // The steps replay frames without the host: the frame reached is shown here.
    DisplaySurface* surface = hooks_.surface();
    Machine& m = engine_.machine();
    if (stepped && surface) surface->Present(m, m.settings.ViewFrequency);
    if (historySpent_) EndRewind();
}

void FrameLoop::EndRewind() {
    if (!steppedBack_) return;
    steppedBack_ = false;
    rewind_.EndRewind(engine_);
}

}  // namespace vexalo
