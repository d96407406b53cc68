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
    // Counts changes of the bytes background lines are drawn from (pattern RAM, name tables,
    // attributes), so the renderer never reuses a line drawn from old bytes. Video memory is
    // written only through PpuWriteVideoMemory and PpuClearVideoMemory, which count them.
    uint32_t backgroundGeneration = 0;
    std::array<uint8_t, 16384> vram{};
    std::array<uint8_t, 256> oam{};
};

uint8_t PpuReadStatus(Machine& m);                                   // $2002
uint8_t PpuReadData(Machine& m);                                     // $2007
void PpuWriteRegister(Machine& m, uint16_t address, uint8_t value);  // $2000-$2007

// Writes one byte of the 16 KB video memory as the data port ($2007) does, without moving its
// address: a name-table byte also goes to its partner table of the current mirroring, a write to
// $3F10 spreads to every palette's colour 0, and a changed pattern or name-table byte makes the
// background row cache draw again. The one writer of video memory: the data port, the
// debugger's memory edits and whatever restores a machine go through it.
void PpuWriteVideoMemory(Machine& m, uint16_t address, uint8_t value);
// All of video memory to zero, the row cache and the palette to be taken afresh.
void PpuClearVideoMemory(Machine& m);

}  // namespace vexalo
