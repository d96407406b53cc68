// Reading an iNES image into the Cartridge.
#pragma once

#include <string>

#include "machine/file_io.h"

namespace vexalo {

struct Machine;

// True when the image was read; false (with its log line) when the file is not a usable iNES
// image. Throws FileError when the file cannot be read.
bool LoadCartridgeImage(Machine& m, const std::string& fileName);

}  // namespace vexalo
