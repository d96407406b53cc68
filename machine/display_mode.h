// Full-screen display modes: the list the video layer offers and the "%dx%dx%d" text the settings
// keep them in.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vexalo {

struct DisplayMode {
    int width = 0;
    int height = 0;
    int bitsPerPixel = 0;
    bool operator==(const DisplayMode&) const = default;
};

// The mode full screen uses while no mode has been chosen.
constexpr DisplayMode kDefaultFullScreenMode{320, 240, 8};

// "640x480x8".
std::string FormatDisplayMode(const DisplayMode& mode);

// Splits "WxHxB" at its first two letters x into three decimal numbers. Empty when the text is
// malformed: a missing part, a part that is not a decimal number, or a size that is not positive.
std::optional<DisplayMode> ParseDisplayMode(std::string_view text);

// The classic modes that fit a screen of the given size, smallest first, always in the same order.
std::vector<DisplayMode> ClassicDisplayModes(int screenWidth, int screenHeight);

}  // namespace vexalo
