// The machine's run on Qt's event loop. A precise single-shot timer wakes the loop at the next
// frame's deadline; each tick runs the frames that are due at the console's pace (FramePacer),
// hands the log to the panel and arms the timer again. Every command of the window runs between
// two ticks, never inside one. While a menu or a modal dialog is open the machine is held, and
// the pace starts afresh when it closes, so the machine does not sprint afterwards.
//
// Rewind: while the history is on, frames run one at a time and each is pushed into the rewind
// buffer; while the rewind key is held, each frame due steps the machine one frame back instead
// (silently) and shows it, until the key is let go or the history ends; then the notes the
// machine holds sound again and play goes on from there.
//
// A frame watch (a movie recording) also makes frames run one at a time: it is called after
// every frame the loop runs or steps back, and after a frame run outside the loop.
#pragma once

#include <QObject>
#include <QTimer>
#include <functional>

#include "cartridge/rewind.h"
#include "machine/frame_pacer.h"

namespace vexalo {

class DisplaySurface;
class Engine;
class LogPanel;

// The timer's wait from `now` to `deadline`: rounded up to whole milliseconds, so the tick comes
// at or after the deadline and finds its frame due (at most one more wake-up per frame when the
// timer fires early), and capped so a paused clock is looked at again.
int TimerWait(FramePacer::Clock::time_point now, FramePacer::Clock::time_point deadline);

class FrameLoop : public QObject {
   public:
    using Clock = FramePacer::Clock;
    struct Hooks {
        std::function<DisplaySurface*()> surface;
        // The machine stopped running (the status icons are redrawn).
        std::function<void()> stopped;
        // The run threw: the machine has been stopped; the message is shown.
        std::function<void(const QString&)> failed;
        // The pace wanted now, in multiples of the console's (0: as fast as it goes); looked at
        // every tick. Unset: the console's pace.
        std::function<double()> speed;
        // The rewind key is held; looked at every tick. Unset: never.
        std::function<bool()> rewinding;
    };

    FrameLoop(Engine& engine, LogPanel& log, Hooks hooks, QObject* parent = nullptr);

    // After a command that starts or resumes the machine (a load, Reset, Pause to run, the
    // debugger closed on a running machine): the pace starts from now and a tick is scheduled.
    void Resume();
    // After any command: the log is drained and, while the machine runs, a tick is scheduled
    // with the deadline left where it is.
    void AfterCommand();
    void Tick();

    // The rewind history (on unless switched off): off, frames run in batches and the history
    // is dropped.
    void SetRewindEnabled(bool enabled);
    bool RewindEnabled() const { return rewindEnabled_; }
    // After a frame run outside the loop (frame advance): it joins the history.
    void FrameRunOutside();
    // Set: frames run one at a time and `watch` is called after each (see above); empty: none.
    void SetFrameWatch(std::function<void()> watch) { frameWatch_ = std::move(watch); }
    RewindBuffer& rewind() { return rewind_; }

    FramePacer& pacer() { return pacer_; }
    QTimer& timer() { return timer_; }
    int64_t ticks() const { return ticks_; }
    // Tests drive the loop on their own clock.
    void SetClock(std::function<Clock::time_point()> clock) { clock_ = std::move(clock); }

   private:
    void Schedule(int milliseconds);
    void RunForward(int frames);
    void StepBack(int frames);
    // The sound comes back after the last step back.
    void EndRewind();

    Engine& engine_;
    LogPanel& log_;
    Hooks hooks_;
    FramePacer pacer_;
    QTimer timer_;
    std::function<Clock::time_point()> clock_ = [] { return Clock::now(); };
    bool suspended_ = false;  // a menu or a modal dialog held the machine at the last tick
    int64_t ticks_ = 0;
    RewindBuffer rewind_;
    bool rewindEnabled_ = true;
    std::function<void()> frameWatch_;
    bool steppedBack_ = false;   // stepped back since the sound last came back
    bool historySpent_ = false;  // the history ended while the key was held
};

}  // namespace vexalo
