// Pacing at the console's frame rate and placing the picture.
#include "machine/frame_pacer.h"

#include <gtest/gtest.h>

namespace vexalo {
namespace {

using Clock = FramePacer::Clock;
using std::chrono::milliseconds;

int FramesOver(std::chrono::milliseconds total, std::chrono::milliseconds step) {
    FramePacer pacer;
    const Clock::time_point start{};
    pacer.Restart(start);
    int frames = 0;
    for (auto t = milliseconds(0); t < total; t += step) frames += pacer.FramesDue(start + t);
    return frames;
}

TEST(FramePacer, RunsAtTheConsolesRateWhateverTheTickRate) {
    for (int step : {1, 7, 16, 17, 33}) {
        const int frames = FramesOver(milliseconds(10000), milliseconds(step));
        EXPECT_NEAR(frames, 601, 1) << "ticks every " << step << " ms";
    }
}

TEST(FramePacer, CatchesUpAFewFramesAfterAStallInsteadOfRacing) {
    FramePacer pacer;
    const Clock::time_point start{};
    pacer.Restart(start);
    EXPECT_EQ(pacer.FramesDue(start), 1);
    EXPECT_EQ(pacer.FramesDue(start + milliseconds(5)), 0);
    // Two seconds without a tick: a few frames, then the pace starts again from there.
    EXPECT_EQ(pacer.FramesDue(start + milliseconds(2000)), FramePacer::kMaxCatchUp);
    EXPECT_EQ(pacer.FramesDue(start + milliseconds(2001)), 0);
    EXPECT_EQ(pacer.FramesDue(start + milliseconds(2000 + 17)), 1);
    // A short delay is made up in full.
    EXPECT_EQ(pacer.FramesDue(start + milliseconds(2000 + 17 + 50)), 3);
}

TEST(FramePacer, FrameSkipShowsAThirdOfTheFramesAtTheSamePace) {
    // The pace counts emulated frames; frame skip 3 draws every third of them.
    const int frames = FramesOver(milliseconds(10000), milliseconds(16));
    int shown = 0;
    for (int frame = 0; frame < frames; ++frame) shown += frame % 3 == 0;
    EXPECT_NEAR(shown, 601 / 3, 1);
}

TEST(FrameRateMeter, FirstShowsZeroThenTheRate) {
    FrameRateMeter meter;
    EXPECT_EQ(meter.Measure(5000), 0.0);
    EXPECT_DOUBLE_EQ(meter.Measure(5016), 62.5);
    EXPECT_EQ(meter.Measure(5016), 0.0);  // no time passed
}

TEST(PictureRect, WindowAndFullScreenPlacement) {
    EXPECT_EQ(WindowPictureRect(374, 250), (PictureRect{59, 5, 256, 240}));
    // 320 x 240 on a 1280 x 960 monitor: four times, 32 free columns on each side in the mode.
    EXPECT_EQ(FullScreenPictureRect({320, 240, 8}, 1280, 960), (PictureRect{128, 0, 1024, 960}));
    // A wide monitor keeps the aspect: the canvas is centred with bars left and right.
    EXPECT_EQ(FullScreenPictureRect({640, 480, 8}, 1920, 1080),
              (PictureRect{240 + 432, 270, 576, 540}));
}

TEST(DisplayMode, TextRoundTripAndMalformedText) {
    EXPECT_EQ(FormatDisplayMode({640, 480, 8}), "640x480x8");
    EXPECT_EQ(ParseDisplayMode("640x480x8"), (DisplayMode{640, 480, 8}));
    for (const char* bad : {"", "640", "640x480", "axbxc", "640x480x", "-1x480x8", "640x480x8x",
                            "99999999999x1x1", " 640x480x8"})
        EXPECT_FALSE(ParseDisplayMode(bad).has_value()) << bad;
    const auto modes = ClassicDisplayModes(800, 600);
    ASSERT_FALSE(modes.empty());
    EXPECT_EQ(modes.front(), (DisplayMode{320, 200, 8}));
    for (const DisplayMode& mode : modes) EXPECT_TRUE(mode.width <= 800 && mode.height <= 600);
}

}  // namespace
}  // namespace vexalo
