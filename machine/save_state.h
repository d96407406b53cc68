// Saved states: the whole machine at the command point (between two runs, see
// cartridge/engine.h) as a file of tagged chunks.
//
// The file: "VXST", the format version (32 bits), then chunks of a four-letter tag, a 32-bit
// length and that many bytes, and last the CRC-32 of everything before it. All numbers are
// little-endian. The first chunk, "INFO", holds the image's SHA-1 (of its PRG and CHR pages as
// loaded), the program's version, the frame number and the time of the save; "PICT" the picture
// (256 x 240 palette indices) and the 32 palette bytes, which is also the thumbnail of a slot.
// A reader skips the chunks it does not know, and a chunk shorter than its reader expects leaves
// the rest of its fields at their defaults, so later versions read today's files as long as
// fields are only ever appended to a chunk.
//
// What is saved: the CPU record, RAM, battery RAM, video memory with the palette and sprite
// memory, every picture-processor register and latch, the cartridge's arrangement of its name
// tables, the mapper's registers and stores (its function pointers are the image's and stay), the
// page tables as a store and an offset in it, the PRG-ROM of a board that programs its own flash,
// the sound channels, the joypads' shift registers and the register image ($4000-$4017, with the
// strobe), the scanline, frame and message-point counters and the rest of an interrupted line 8.
// Nothing of the user's settings, the log or the devices.
#pragma once

#include <array>
#include <cstdint>
#include <ctime>
#include <span>
#include <string>
#include <vector>

#include "machine/machine.h"

namespace vexalo {

constexpr uint32_t kStateFormatVersion = 1;

using ImageDigest = std::array<uint8_t, 20>;  // SHA-1

// SHA-1 over the cartridge's PRG-ROM, then its CHR-ROM.
ImageDigest ComputeImageDigest(const Cartridge& cart);
// SHA-1 of any bytes (a state file's, for a movie that starts from it).
ImageDigest Sha1(std::span<const uint8_t> bytes);
std::string DigestHex(const ImageDigest& digest);

// What a menu shows of a state without loading it.
struct StateInfo {
    uint32_t formatVersion = 0;
    ImageDigest image{};
    std::string programVersion;
    uint64_t frame = 0;                 // frames completed since the cartridge started
    int64_t savedAt = 0;                // seconds since 1970, 0 when not recorded
    FrameBuffer picture{};              // palette indices, rows top to bottom
    std::array<uint8_t, 32> palette{};  // $3F00-$3F1F
};

// The machine as a state file. `savedAt` is the time written into it (0 for none, as the rewind
// buffer does). Throws std::logic_error when a page-table entry lies in no known store (a mapper
// that points a window somewhere new has to name its store here).
std::vector<uint8_t> SaveMachineState(const Machine& m, const ImageDigest& image,
                                      int64_t savedAt = 0);

// The machine checksum, which input movies record and a replay must reproduce exactly: the
// CRC-32 of the state's machine chunks (CPU to PAGE, in the file's layout), without INFO (program
// version, time of saving), PICT (the picture, which the frame skip leaves undrawn), and with the
// fields that belong to the host set to 0: the frame-skip counter, the count of message points
// since the program began, and the MIDI output's note bookkeeping (last note, note sounding),
// which Pause changes. Everything else of the machine, RAM to mapper to sound registers, counts.
uint32_t MachineChecksum(const Machine& m);

// Replaces the machine with the state in `bytes`. Refused when the file is damaged, truncated,
// of a newer format, of another image (`image`) or fails its checksum: `error` then says why and
// the machine is left exactly as it was. On success the renderer's caches are invalidated; the
// caller deals with the sound (see ReplaceSoundingNotes). `checkCrc` false skips the checksum
// (the rewind buffer's states are never on disk).
bool LoadMachineState(Machine& m, const ImageDigest& image, std::span<const uint8_t> bytes,
                      std::string& error, bool checkCrc = true);

// Reads the INFO and PICT chunks; false with `error` as for LoadMachineState (any image).
bool ReadStateInfo(std::span<const uint8_t> bytes, StateInfo& info, std::string& error);

}  // namespace vexalo
