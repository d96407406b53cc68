// The picture in a window at a whole-number scale: the window's picture area for each scale (1x is
// the classic 374 x 250 area with the picture at (59, 5)), the largest scale that fits an area of
// any size, and the scale a first start picks for the screen. Pure functions of sizes; the same
// rectangle serves the OpenGL and the plain drawing.
#pragma once

#include "machine/frame_pacer.h"

namespace vexalo {

// How a picture pixel is shaped: square, or 8:7 (wider than high), as a television showed it.
enum class PixelAspect { Square = 0, Television = 1 };

constexpr int kMinWindowScale = 1;
constexpr int kMaxWindowScale = 6;
// The area of the classic window (1x): a little larger than the picture, which sits at (59, 5).
constexpr int kClassicAreaWidth = 374;
constexpr int kClassicAreaHeight = 250;

struct AreaSize {
    int width = 0;
    int height = 0;
    bool operator==(const AreaSize&) const = default;
};

// The picture's size at `scale`: 240 rows per scale; 256 columns per scale, or 8/7 of that
// rounded to the nearest pixel for television pixels.
AreaSize ScaledPictureSize(int scale, PixelAspect aspect);

// The picture area of a window set to `scale`: the classic area, or the picture itself where it
// is larger than that.
AreaSize WindowAreaSize(int scale, PixelAspect aspect);

// The largest whole scale whose picture fits in the area, at least 1 (no upper bound: a
// maximised window may go past the menu's largest).
int FittingScale(int areaWidth, int areaHeight, PixelAspect aspect);

// The picture at FittingScale, centred in the area; the divisions truncate toward zero, so in
// the classic 374 x 250 area the square picture lands at (59, 5).
PictureRect ScaledPictureRect(int areaWidth, int areaHeight, PixelAspect aspect);

// A first start: the largest scale (1-6) whose picture is at most half the screen's height and
// whose window (picture area plus `frameWidth` x `frameHeight` of menu, status bar and border)
// fits on the screen. 2x on a 1920 x 1080 screen, 3x on 2560 x 1440, 4x on 3840 x 2160.
int FirstStartScale(int screenWidth, int screenHeight, int frameWidth, int frameHeight,
                    PixelAspect aspect);

}  // namespace vexalo
