// Reading an iNES image: the 16-byte header, an optional 512-byte trainer, then the PRG-ROM and
// CHR-ROM pages. Every step is reported to the log.
#include "cartridge/loader.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "machine/machine.h"

namespace vexalo {

namespace {

#ifdef _WIN32
constexpr const char* kPathSeparators = "/\\";
#else
constexpr const char* kPathSeparators = "/";
#endif

constexpr size_t kTrainerSize = 512;
constexpr size_t kTrainerOffset = 0x1000;  // $7000 in the $6000-$7FFF cartridge RAM window

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// Reads up to `size` bytes; a file that ends early leaves the rest of the buffer as it was. A
// read error (not the end of the file) throws with the system's message.
size_t ReadUpTo(std::FILE* f, uint8_t* buffer, size_t size, const std::string& fileName) {
    errno = 0;
    const size_t got = size > 0 ? std::fread(buffer, 1, size, f) : 0;
    if (got < size && std::ferror(f)) {
        throw FileError(SystemMessage(fileName, errno));
    }
    return got;
}

// A header line with one number; the texts are short and fixed, so the buffer always holds it.
std::string Format(const char* format, int value) {
    char text[96];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

}  // namespace

bool LoadCartridgeImage(Machine& m, const std::string& fileName) {
    Cartridge& c = m.cart;
    m.log.Append("");

    const size_t split = fileName.find_last_of(kPathSeparators);
    if (split == std::string::npos) {
        c.romFilePath.clear();
        c.romFileName = fileName;
    } else {
        c.romFilePath = fileName.substr(0, split + 1);
        c.romFileName = fileName.substr(split + 1);
    }
    m.log.Append("Loading Cartridge : \"" + c.romFileName + "\".");

    errno = 0;
    File file(std::fopen(fileName.c_str(), "rb"));
    if (!file) {
        throw FileError(SystemMessage(fileName, errno != 0 ? errno : ENOENT));
    }

    // Cleared first, so a short file never leaves a byte of the previous image in the header, and
    // no image starts with the battery RAM or trainer of an image that was refused before it
    // (that RAM would be written into the new image's battery file).
    c.CartridgeHeader.fill(0);
    c.backedMemory.fill(0);
    const size_t headerBytes =
        ReadUpTo(file.get(), c.CartridgeHeader.data(), c.CartridgeHeader.size(), fileName);
    const auto& h = c.CartridgeHeader;
    if (headerBytes < h.size() || h[0] != 'N' || h[1] != 'E' || h[2] != 'S') {
        m.log.Append("Unsupported file format.");
        return false;
    }

    c.prgPageCount = h[4];
    c.chrPageCount = h[5];
    c.headerFlags = h[6];
    c.mapperNumber = h[6] >> 4;
    if (h[8] == 0) c.mapperNumber |= h[7] & 0xF0;

    m.log.Append(Format("iNES #%d file format found.", c.mapperNumber));
    m.log.Append(Format("[%d] of PRG Rom", c.prgPageCount));
    m.log.Append(Format("[%d] of CHR Ram", c.chrPageCount));
    m.log.Append(
        Format("Size of the cartridge : [%d Kb]", c.prgPageCount * 16 + c.chrPageCount * 8));

    c.verticalMirroring = (h[6] & HeaderVertical) != 0;
    c.mirrorDistance = 1024 << (h[6] & HeaderVertical);
    c.fourScreen = h[6] & HeaderFourScreen;

    if (c.prgPageCount == 0) {
        c.prgRom.clear();
        c.chrRom.clear();
        m.log.Append("The cartridge has no program ROM.");
        return false;
    }

    // The trainer sits between the header and PRG-ROM; its place in the machine is $7000-$71FF.
    if (c.headerFlags & HeaderTrainer) {
        uint8_t trainer[kTrainerSize] = {};
        ReadUpTo(file.get(), trainer, kTrainerSize, fileName);
        std::memcpy(c.backedMemory.data() + kTrainerOffset, trainer, kTrainerSize);
    }

    // Bytes a short file does not supply read as zero.
    c.prgRom.assign(static_cast<size_t>(c.prgPageCount) * kPrgPageSize, 0);
    c.chrRom.assign(static_cast<size_t>(c.chrPageCount) * kChrPageSize, 0);
    ReadUpTo(file.get(), c.prgRom.data(), c.prgRom.size(), fileName);
    ReadUpTo(file.get(), c.chrRom.data(), c.chrRom.size(), fileName);
    return true;
}

}  // namespace vexalo
