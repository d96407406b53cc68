// The picture processor's registers as the CPU sees them at $2000-$2007: no read buffer, no
// write toggle on $2006, palette colour 0 spread only by writes to $3F10, and name-table
// mirroring kept by storing every name-table byte twice (in all four tables while one screen
// stands behind them).
#include "machine/ppu.h"

#include <cstddef>
#include <cstring>

#include "machine/machine.h"

namespace vexalo {

namespace {

constexpr uint16_t kAddressMask = 0x3FFF;  // video memory is 16 KB
constexpr size_t kPatternRamSize = 0x2000;
constexpr uint16_t kPaletteStart = 0x3F00;
constexpr uint16_t kPaletteEnd = 0x3F20;  // one past the 32 palette entries
constexpr uint16_t kSpritePaletteZero = 0x3F10;

constexpr uint8_t kControlStep32 = 0x04;
constexpr uint8_t kStatusWritesBlocked = 0x10;

void AdvanceAddress(PpuState& ppu) {
    ppu.vramAddress =
        static_cast<uint16_t>(ppu.vramAddress + ((ppu.ppuControl & kControlStep32) ? 32 : 1));
}

void WriteData(Machine& m, uint8_t value) {
    PpuState& ppu = m.ppu;
    if (!(ppu.ppuStatus & kStatusWritesBlocked)) {
        ppu.vramAddress &= kAddressMask;
        PpuWriteVideoMemory(m, ppu.vramAddress, value);
        AdvanceAddress(ppu);
    }
    ppu.firstReadPending = false;
}

// A name-table byte at `address` ($2000-$2FFF) changed: its tile row, or the four rows an
// attribute byte colours, are to be drawn again.
void MarkNameTableByte(PpuState& ppu, unsigned address) {
    auto& rows = ppu.nameRowGeneration[(address >> 10) & 3];
    const unsigned offset = address & 0x3FF;
    if (offset < 0x3C0) {
        ++rows[offset >> 5];
        return;
    }
    const unsigned first = 4 * ((offset - 0x3C0) >> 3);
    for (unsigned row = first; row < first + 4; ++row) ++rows[row];
}

// One screen behind the four tables: each of them gets the byte (kept out of the common path).
[[gnu::noinline]] void WriteEveryNameTable(PpuState& ppu, unsigned address, uint8_t value) {
    for (unsigned table = 0x2000; table < 0x3000; table += 0x400) {
        const unsigned copy = table | (address & 0x3FF);
        if (ppu.vram[copy] != value) {
            ppu.vram[copy] = value;
            MarkNameTableByte(ppu, copy);
        }
    }
}

}  // namespace

void PpuWriteVideoMemory(Machine& m, uint16_t address, uint8_t value) {
    PpuState& ppu = m.ppu;
    address &= kAddressMask;
    // A changed pattern or name-table byte may change drawn background strips.
    if (address < 0x2000) {
        if (ppu.vram[address] != value) ++ppu.backgroundGeneration;
    } else if (address < 0x3000 && ppu.vram[address] != value) {
        MarkNameTableByte(ppu, address);
    }
    ppu.vram[address] = value;
    if ((address & 0x3000) == 0x2000) {
        if (m.cart.singleScreen) {
            WriteEveryNameTable(ppu, address, value);
            return;
        }
        // The partner name table of the current arrangement gets the same byte. Only a partner
        // that is itself a name-table address is written, so an odd mirror distance can neither
        // leave video memory nor overwrite patterns or the palette.
        const unsigned partner = address ^ static_cast<unsigned>(m.cart.mirrorDistance);
        if (partner - 0x2000u < 0x1000u && ppu.vram[partner] != value) {
            ppu.vram[partner] = value;
            MarkNameTableByte(ppu, partner);
        }
    } else if (address >= kPaletteStart && address < kPaletteEnd) {
        if (address == kSpritePaletteZero) {
            for (uint16_t entry = kPaletteStart; entry < kPaletteEnd; entry += 4) {
                ppu.vram[entry] = value;
            }
        }
        ppu.paletteDirty = true;
    }
}

void PpuExchangePatternRam(Machine& m, uint8_t* out, const uint8_t* in) {
    uint8_t* patterns = m.ppu.vram.data();
    std::memcpy(out, patterns, kPatternRamSize);
    std::memcpy(patterns, in, kPatternRamSize);
    ++m.ppu.backgroundGeneration;
}

void PpuClearVideoMemory(Machine& m) {
    m.ppu.vram.fill(0);
    ++m.ppu.backgroundGeneration;
    m.ppu.paletteDirty = true;
}

uint8_t PpuReadStatus(Machine& m) {
    const uint8_t status = m.ppu.ppuStatus;
    m.ppu.ppuStatus = status & 0x3F;
    return status;
}

uint8_t PpuReadData(Machine& m) {
    PpuState& ppu = m.ppu;
    if (ppu.firstReadPending) {
        ppu.firstReadPending = false;
        return 0xFF;
    }
    const uint16_t address = ppu.vramAddress & kAddressMask;
    ppu.vramAddress = address;
    const uint8_t value = address < 0x2000 ? PatternByte(m, address) : ppu.vram[address];
    AdvanceAddress(ppu);
    return value;
}

void PpuWriteRegister(Machine& m, uint16_t address, uint8_t value) {
    PpuState& ppu = m.ppu;
    switch (address) {
        case 0x2000: ppu.ppuControl = value; break;
        case 0x2001: ppu.ppuMask = value; break;
        case 0x2002: ppu.ppuStatus = value; break;
        case 0x2003: ppu.oamAddress = value; break;
        case 0x2004:
            ppu.oam[ppu.oamAddress] = value;
            ppu.oamAddress = static_cast<uint8_t>(ppu.oamAddress + 1);
            break;
        case 0x2005:
            if (ppu.scrollToggle == 0) {
                ppu.pendingScrollX = value;
            } else if (value < 240) {
                ppu.pendingScrollY = value;  // 240-255 would point below the name table
            }
            ppu.scrollToggle = ppu.scrollToggle == 0 ? 1 : 0;
            ppu.scrollUpdatePending = true;
            break;
        case 0x2006:
            ppu.vramAddress = static_cast<uint16_t>((ppu.vramAddress << 8) | value);
            ppu.firstReadPending = true;
            break;
        case 0x2007: WriteData(m, value); break;
        default: break;  // the bus routes only $2000-$2007 here
    }
}

}  // namespace vexalo
