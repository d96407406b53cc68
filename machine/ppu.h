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
    // attributes). Whatever changes them outside the data port ($2007) must count it too, or the
    // renderer may reuse a line drawn from the old bytes.
    uint32_t backgroundGeneration = 0;
    std::array<uint8_t, 16384> vram{};
    std::array<uint8_t, 256> oam{};
};

uint8_t PpuReadStatus(Machine& m);                                   // $2002
uint8_t PpuReadData(Machine& m);                                     // $2007
void PpuWriteRegister(Machine& m, uint16_t address, uint8_t value);  // $2000-$2007

}  // namespace vexalo
