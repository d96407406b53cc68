#include "machine/display_mode.h"

#include <charconv>

namespace vexalo {

namespace {

// A whole field of decimal digits, at most what an int holds.
std::optional<int> DecimalField(std::string_view text) {
    int value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || stop != end) return std::nullopt;
    return value;
}

constexpr DisplayMode kClassicModes[] = {
    {320, 200, 8},    {320, 240, 8},    {400, 300, 8},   {512, 384, 8},   {640, 400, 8},
    {640, 480, 8},    {640, 480, 16},   {640, 480, 32},  {800, 600, 8},   {800, 600, 16},
    {800, 600, 32},   {1024, 768, 8},   {1024, 768, 16}, {1024, 768, 32}, {1280, 1024, 16},
    {1280, 1024, 32}, {1600, 1200, 32},
};

}  // namespace

std::string FormatDisplayMode(const DisplayMode& mode) {
    return std::to_string(mode.width) + "x" + std::to_string(mode.height) + "x" +
           std::to_string(mode.bitsPerPixel);
}

std::optional<DisplayMode> ParseDisplayMode(std::string_view text) {
    const size_t first = text.find('x');
    if (first == std::string_view::npos) return std::nullopt;
    const size_t second = text.find('x', first + 1);
    if (second == std::string_view::npos) return std::nullopt;
    const auto width = DecimalField(text.substr(0, first));
    const auto height = DecimalField(text.substr(first + 1, second - first - 1));
    const auto bits = DecimalField(text.substr(second + 1));
    if (!width || !height || !bits || *width <= 0 || *height <= 0 || *bits <= 0)
        return std::nullopt;
    return DisplayMode{*width, *height, *bits};
}

std::vector<DisplayMode> ClassicDisplayModes(int screenWidth, int screenHeight) {
    std::vector<DisplayMode> modes;
    for (const DisplayMode& mode : kClassicModes)
        if (mode.width <= screenWidth && mode.height <= screenHeight) modes.push_back(mode);
    return modes;
}

}  // namespace vexalo
