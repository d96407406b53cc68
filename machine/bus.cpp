// The I/O area of the CPU's memory map ($2000-$5FFF) and the sprite transfer.
#include "machine/bus.h"

#include <cstdio>
#include <cstring>

#include "input/joypad.h"
#include "machine/ppu.h"
#include "sound/sound.h"

namespace vexalo {

uint8_t IoRead(Machine& m, uint16_t address) {
    switch (address) {
        case 0x2002: return PpuReadStatus(m);
        case 0x2007: return PpuReadData(m);
        case 0x4014: break;
        default:
            if (address >= 0x4000 && address <= 0x4015) return m.ioRegisterImage[address - 0x4000];
            break;
    }
    m.log.AppendIgnoredRead(address);
    return 0xFF;
}

void LogCpuJammed(Machine& m, uint16_t address) {
    char line[32];
    std::snprintf(line, sizeof line, "CPU jammed at $%04X", address);
    m.log.Append(line);
}

void IoWrite(Machine& m, uint16_t address, uint8_t value) {
    if (address >= 0x2000 && address <= 0x2007) {
        PpuWriteRegister(m, address, value);
        return;
    }
    if (address < 0x4000 || address > 0x4017) {
        if (!MapperLowWrite(m, address, value)) m.log.AppendIgnoredWrite(address);
        return;
    }
    const int reg = address - 0x4000;
    switch (address) {
        case 0x4014: SpriteDma(m, value); return;
        case 0x4015:
            WriteChannelEnable(m, value);
            m.ioRegisterImage[reg] = value;
            return;
        case 0x4016:
            WriteJoypadStrobe(m, value);  // stores the value itself after testing the edge
            return;
        default: break;
    }
    m.ioRegisterImage[reg] = value;
    if (reg >= 0x10) return;  // $4010-$4013 and $4017: stored only
    const int channel = reg >> 2;
    switch (reg & 3) {
        case 1: WriteSweepRegister(m, channel, value); break;
        case 2:
        case 3: WritePeriod(m, channel); break;
        default: break;  // $4000, $4004, $4008, $400C: stored only
    }
}

void SpriteDma(Machine& m, uint8_t value) {
    if (value < 0x80) {
        std::memcpy(m.ppu.oam.data(), m.internalRam.data() + (value & 7) * 256, 256);
        return;
    }
    // The 256 bytes lie inside one 8 KB window, so they are contiguous in its store.
    const uint16_t start = static_cast<uint16_t>(value << 8);
    std::memcpy(m.ppu.oam.data(),
                &*reinterpret_cast<const uint8_t*>(m.pages.cpu[start >> 13] + start), 256);
}

}  // namespace vexalo
