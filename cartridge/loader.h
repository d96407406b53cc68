// Reading an iNES image into the Cartridge.
#pragma once

#include <stdexcept>
#include <string>

namespace vexalo {

struct Machine;

// A file that cannot be opened, read or written; what() holds the system's message.
class FileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// True when the image was read; false (with its log line) when the file is not a usable iNES
// image. Throws FileError when the file cannot be read.
bool LoadCartridgeImage(Machine& m, const std::string& fileName);

}  // namespace vexalo
