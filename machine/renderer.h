// Drawing into the frame buffer: one background line at a time, all sprites once per frame.
#pragma once

#include <array>
#include <cstdint>

namespace vexalo {

struct Machine;

// Everything a background line is drawn from besides the line number.
struct BackgroundLineKey {
    uintptr_t patternPages[8] = {};
    uint32_t generation = 0;
    uint8_t scrollX = 0;
    uint8_t scrollY = 0;
    uint8_t control = 0;  // name table and pattern table bits
    bool valid = false;

    friend bool operator==(const BackgroundLineKey&, const BackgroundLineKey&) = default;
};

// The last background drawn on each row with what it was drawn from. Most games show the same
// background frame after frame; such a row is copied instead of drawn again. Sprites are drawn
// over the frame buffer, never over these rows.
struct BackgroundCache {
    // Each row has room on both sides for the parts of tiles scrolled out of the picture.
    static constexpr int kMargin = 8;
    std::array<std::array<uint8_t, kMargin + 256 + kMargin>, 240> rows{};
    std::array<BackgroundLineKey, 240> keys{};
};

void RenderBackgroundLine(Machine& m, int line);
void RenderSprites(Machine& m, int first);
void ComputeSprite0Line(Machine& m);

}  // namespace vexalo
