// The picture processor's registers and video memory.
#pragma once

#include <array>
#include <cstdint>

namespace vexalo {

struct Machine;

struct PpuState {
    uint8_t ppuControl = 0;
    uint8_t ppuMask = 0;
    uint8_t ppuStatus = 0;
    uint8_t oamAddress = 0;
    uint16_t vramAddress = 0;
    bool firstReadPending = true;
    uint8_t scrollToggle = 0;
    uint8_t pendingScrollX = 0;
    uint8_t pendingScrollY = 0;
    uint8_t scrollX = 0;
    uint8_t scrollY = 0;
    bool scrollUpdatePending = false;
    bool paletteDirty = true;
    // Count the changes of the bytes background strips are drawn from, so the renderer never
    // reuses a strip drawn from old bytes: pattern RAM, or all of video memory at once, and each
    // tile row of each name table (its tile numbers and the attribute bytes over it). Video memory
    // is written only through PpuWriteVideoMemory, PpuExchangePatternRam and PpuClearVideoMemory,
    // which count them.
    uint32_t backgroundGeneration = 0;
    std::array<std::array<uint32_t, 32>, 4> nameRowGeneration{};
    std::array<uint8_t, 16384> vram{};
    std::array<uint8_t, 256> oam{};
};

uint8_t PpuReadStatus(Machine& m);                                   // $2002
uint8_t PpuReadData(Machine& m);                                     // $2007
void PpuWriteRegister(Machine& m, uint16_t address, uint8_t value);  // $2000-$2007

// Writes one byte of the 16 KB video memory as the data port ($2007) does, without moving its
// address: a name-table byte also goes to its partner table of the current mirroring (to all
// four tables while the cartridge shows a single screen), a write to $3F10 spreads to every
// palette's colour 0, and a changed pattern or name-table byte makes the background row cache
// draw again. The one writer of single bytes of video memory: the data port, the debugger's
// memory edits and whatever restores a machine go through it.
void PpuWriteVideoMemory(Machine& m, uint16_t address, uint8_t value);
// Pattern RAM ($0000-$1FFF of video memory) switched with another 8 KB bank: its bytes are
// copied to `out`, the 8 KB at `in` take their place, and the row cache draws again.
void PpuExchangePatternRam(Machine& m, uint8_t* out, const uint8_t* in);
// All of video memory to zero, the row cache and the palette to be taken afresh.
void PpuClearVideoMemory(Machine& m);

}  // namespace vexalo
