// Writing the frame buffer as an 8-bit Windows bitmap with its colour table.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "machine/palette.h"

namespace vexalo {

// Writes 256 x 240 pixels (rows top to bottom) at 8 bits per pixel; the colour table holds the
// 32 given colours followed by black. Written to a temporary file and renamed into place.
// Throws FileError with the system's message.
void WriteBitmapFile(const std::string& fileName, const uint8_t* pixels,
                     const std::array<Rgb, 32>& colours);

}  // namespace vexalo
