// Drawing into the frame buffer: one background line at a time, all sprites once per frame.
#pragma once

#include <array>
#include <cstdint>

namespace vexalo {

struct Machine;

// Everything a strip of background is drawn from besides its name table's bytes.
struct BackgroundStripKey {
    uintptr_t patternPages[4] = {};  // the four windows of the background's pattern table
    uint32_t patternGeneration = 0;
    uint32_t rowGeneration = 0;  // of the name table's tile row
    uint16_t patternBase = 0;
    uint8_t windowsUsed = 0;  // which of the four windows the strip's tiles come from
    bool drawn = false;
};

// Every row of pixels of each of the four name tables, drawn unscrolled, with what it was drawn
// from. A background line is 256 consecutive pixels of them: each pair of tables side by side
// (0 and 1, 2 and 3) keeps a row as the left table's strip, the right table's, then the left
// table's again, so every horizontal scroll of either table is one copy. A strip is drawn again
// only when its tile row, the pattern table or the pattern bytes change, so a scrolling picture
// costs a copy per line. Sprites are drawn over the frame buffer, never over the strips.
struct BackgroundCache {
    static constexpr int kRows = 240;
    std::array<std::array<std::array<uint8_t, 3 * 256>, kRows>, 2> pairRows{};
    std::array<std::array<BackgroundStripKey, kRows>, 4> keys{};
};

void RenderBackgroundLine(Machine& m, int line);
void RenderSprites(Machine& m, int first);
void ComputeSprite0Line(Machine& m);

}  // namespace vexalo
