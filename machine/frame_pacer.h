// Pacing the emulation at the console's own frame rate, measuring the rate at which frames are
// shown, and placing the picture on the screen. Pure functions of their inputs: the desktop feeds
// them its clock and its window sizes, the tests feed them made-up ones.
#pragma once

#include <chrono>
#include <cstdint>

#include "machine/display_mode.h"

namespace vexalo {

// The console's frame rate.
constexpr double kConsoleFrameRate = 60.0988;

// Decides how many emulated frames are due: an absolute deadline advanced by one frame period
// per frame, so the pace does not depend on how often it is asked. After a stall it runs at most
// kMaxCatchUp frames at once and drops the rest, instead of racing.
//
// The pace may be a multiple of the console's (fast-forward, slow motion), or unpaced: then every
// call finds kUnpacedFrames due and the next frame due at once.
class FramePacer {
   public:
    using Clock = std::chrono::steady_clock;
    using Duration = std::chrono::duration<double>;
    static constexpr int kMaxCatchUp = 4;
    static constexpr int kUnpacedFrames = 8;

    // Starts counting afresh: the first frame is due at `now`. Called at every start, after a
    // pause and after anything modal, so the machine does not sprint afterwards.
    void Restart(Clock::time_point now);
    // Frames due at `now` (0 to kMaxCatchUp); they are counted as run.
    int FramesDue(Clock::time_point now);
    // When the next frame is due.
    Clock::time_point NextDeadline() const { return next_; }
    bool Started() const { return started_; }
    // `speed` times the console's pace (1 by default; 0 or less: unpaced). A change starts the
    // count afresh at `now`, so a new pace neither sprints nor drops frames to catch up.
    void SetSpeed(double speed, Clock::time_point now);
    double Speed() const { return speed_; }

   private:
    static constexpr Duration kPeriod{1.0 / kConsoleFrameRate};
    Duration period_ = kPeriod;
    double speed_ = 1.0;
    Clock::time_point next_{};
    bool started_ = false;
};

// The rate of shown frames: 0 for the first measurement and when no time has passed, otherwise
// 1000 / (milliseconds since the previous one).
class FrameRateMeter {
   public:
    double Measure(uint64_t nowMilliseconds);
    void Reset() { last_ = 0; }

   private:
    uint64_t last_ = 0;
};

struct PictureRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool operator==(const PictureRect&) const = default;
};

// The 256 x 240 picture unscaled and centred in an area (a window's client area above its status
// bar); the divisions truncate toward zero.
PictureRect WindowPictureRect(int areaWidth, int areaHeight);

// Full screen: the picture is laid out centred in the virtual screen `mode`, and that canvas is
// scaled to fill the monitor keeping its aspect. Gives where the picture lands on the monitor.
PictureRect FullScreenPictureRect(const DisplayMode& mode, int monitorWidth, int monitorHeight);

}  // namespace vexalo
