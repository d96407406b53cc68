// The 64-colour table of the console and the conversion of palette memory into colours.
#pragma once

#include <array>
#include <cstdint>

namespace vexalo {

struct Rgb {
    uint8_t r, g, b;
};

extern const std::array<Rgb, 64> NesPalette;

// Colour of each of the 32 palette entries of video memory ($3F00-$3F1F). A palette byte of 64 or
// above selects NesPalette[byte AND 63].
std::array<Rgb, 32> BuildColourTable(const std::array<uint8_t, 16384>& vram);

}  // namespace vexalo
