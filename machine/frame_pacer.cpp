#include "machine/frame_pacer.h"

#include <algorithm>
#include <cmath>

namespace vexalo {

void FramePacer::Restart(Clock::time_point now) {
    next_ = now;
    started_ = true;
}

void FramePacer::SetSpeed(double speed, Clock::time_point now) {
    if (speed == speed_) return;
    speed_ = speed;
    if (speed > 0) period_ = kPeriod / speed;
    if (started_) Restart(now);
}

int FramePacer::FramesDue(Clock::time_point now) {
    if (!started_) Restart(now);
    if (speed_ <= 0) {
        next_ = now;
        return kUnpacedFrames;
    }
    if (now < next_) return 0;
    const double behind = Duration(now - next_).count() / period_.count();
    const int64_t due = static_cast<int64_t>(std::floor(behind)) + 1;
    if (due > kMaxCatchUp) {
        // Too far behind (a stall, a suspended process): run a few and start again from here.
        next_ = now + std::chrono::duration_cast<Clock::duration>(period_);
        return kMaxCatchUp;
    }
    next_ += std::chrono::duration_cast<Clock::duration>(period_ * static_cast<double>(due));
    return static_cast<int>(due);
}

double FrameRateMeter::Measure(uint64_t nowMilliseconds) {
    double rate = 0.0;
    if (last_ != 0 && last_ != nowMilliseconds)
        rate = 1000.0 / static_cast<double>(nowMilliseconds - last_);
    last_ = nowMilliseconds;
    return rate;
}

PictureRect WindowPictureRect(int areaWidth, int areaHeight) {
    return {(areaWidth - 256) / 2, (areaHeight - 240) / 2, 256, 240};
}

PictureRect FullScreenPictureRect(const DisplayMode& mode, int monitorWidth, int monitorHeight) {
    if (mode.width <= 0 || mode.height <= 0 || monitorWidth <= 0 || monitorHeight <= 0)
        return WindowPictureRect(monitorWidth, monitorHeight);
    const double scale = std::min(static_cast<double>(monitorWidth) / mode.width,
                                  static_cast<double>(monitorHeight) / mode.height);
    const double canvasX = (monitorWidth - mode.width * scale) / 2;
    const double canvasY = (monitorHeight - mode.height * scale) / 2;
    const PictureRect inMode = WindowPictureRect(mode.width, mode.height);
    return {static_cast<int>(std::lround(canvasX + inMode.x * scale)),
            static_cast<int>(std::lround(canvasY + inMode.y * scale)),
            static_cast<int>(std::lround(256 * scale)), static_cast<int>(std::lround(240 * scale))};
}

}  // namespace vexalo
