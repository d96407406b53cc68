// The CPU's view of the machine: the four bus operations the interpreter is compiled against.
// RAM, battery RAM and PRG reads are a mask or one table lookup and an addition; only the I/O
// area ($2000-$5FFF) goes through the register dispatch.
#pragma once

#include <cstdint>

#include "machine/machine.h"

namespace vexalo {

// A read of the I/O area other than the joypad ports, which MachineBus::ReadByte reads itself.
uint8_t IoRead(Machine& m, uint16_t address);
void IoWrite(Machine& m, uint16_t address, uint8_t value);
void SpriteDma(Machine& m, uint8_t value);
// The log line of a JAM opcode, which has stopped the CPU at `address`.
void LogCpuJammed(Machine& m, uint16_t address);
InterruptRequest EndOfScanline(Machine& m);
// The rest of line 8 after a run yielded at its message point: the running test (Stop, with the
// channels silenced, when `running` is clear), then the mapper's hook, the scroll take-over and
// the sprite-0 test. Returns the interrupt to enter before the next instruction.
InterruptRequest FinishMessagePointLine(Machine& m);

// A write to the mapper's registers at $8000-$FFFF: a write below (from the debugger or a
// script) reaches no mapper here.
inline void MapperWrite(Machine& m, uint16_t address, uint8_t value) {
    if (address >= 0x8000 && m.mapper.write) m.mapper.write(m, address, value);
}

// A CPU write to $4020-$7FFF offered to the few mappers with registers there; true when it was
// one of them.
inline bool MapperLowWrite(Machine& m, uint16_t address, uint8_t value) {
    return m.mapper.lowWrite && address >= 0x4020 && address < 0x8000 &&
           m.mapper.lowWrite(m, address, value);
}

// Byte at $6000-$FFFF through the CPU page table.
inline uint8_t CartridgeByte(const Machine& m, uint16_t address) {
    const unsigned a = address;  // the window index needs no masking in a full-width shift
    return *reinterpret_cast<const uint8_t*>(m.pages.cpu[a >> 13] + a);
}

struct MachineBus {
    Machine& m;

    // Reads that give the same value again within a scanline while the CPU writes nothing, and
    // change nothing more (lets the CPU skip waiting loops): RAM and cartridge memory, which only
    // the CPU writes, and the status register, whose flags change only between scanlines and
    // whose read clears them the first time.
    static constexpr bool ReadRepeatsWithinScanline(uint16_t address) {
        return address < 0x2000 || address >= 0x6000 || address == 0x2002;
    }

    uint8_t FetchByte(uint16_t address) const {
        if (address >= 0x6000) return CartridgeByte(m, address);
        if (address < 0x2000) return m.internalRam[address & 0x07FF];
        return 0xFF;  // I/O area: no program code or stack lives there; no side effect
    }

    // The bytes at `address` and `address` + 1 (16-bit wrap), low first, exactly as two
    // FetchByte calls give them: one load when both lie in the same RAM mirror or cartridge
    // window, which is every operand and pointer but the one at a window's last byte.
    uint16_t FetchWord(uint16_t address) const {
        const unsigned a = address;
        const uint8_t* bytes = nullptr;
        if (a >= 0x6000) {
            if ((a & 0x1FFF) != 0x1FFF)
                bytes = reinterpret_cast<const uint8_t*>(m.pages.cpu[a >> 13] + a);
        } else if (a < 0x2000 && (a & 0x07FF) != 0x07FF) {
            bytes = m.internalRam.data() + (a & 0x07FF);
        }
        if (bytes) return uint16_t(bytes[0] | bytes[1] << 8);
        return uint16_t(FetchByte(address) | FetchByte(uint16_t(address + 1)) << 8);
    }

    // The plain memory that holds `address`, for the CPU to read instructions from directly, less
    // its last two bytes (where an instruction's bytes may run into the next window): the 2 KB
    // RAM mirror around it, or its 8 KB cartridge window together with the neighbours that show
    // the pages next to it (a program calling from a switched bank into the fixed bank next to
    // it stays in one window). Nothing in the I/O area.
    bool CodeWindow(uint16_t address, uintptr_t& base, uint16_t& start, uint16_t& length) const {
        if (address >= 0x6000) {
            base = m.pages.cpu[address >> 13];
            unsigned first = address >> 13, end = first + 1;
            while (first > 3 && m.pages.cpu[first - 1] == base) --first;
            while (end < 8 && m.pages.cpu[end] == base) ++end;
            start = uint16_t(first << 13);
            length = uint16_t(((end - first) << 13) - 2);
        } else if (address < 0x2000) {
            start = uint16_t(address & 0x1800);
            length = 0x07FE;
            base = reinterpret_cast<uintptr_t>(m.internalRam.data()) - start;
        } else {
            return false;
        }
        return uint16_t(address - start) < length;
    }
    // A write to internal RAM, the picture processor, the sound channels or the joypads leaves
    // the CPU's memory map as it is (mappers see only $4020 on); any other may switch a bank, and
    // the CPU then reopens its code window.
    static constexpr bool WriteKeepsCode(uint16_t address) { return address < 0x4020; }
    // Changes whenever the CPU windows do.
    uint32_t CodeMapStamp() const { return m.pages.cpuChanges; }

    uint8_t ReadByte(uint16_t address) const {
        if (address >= 0x6000) return CartridgeByte(m, address);
        if (address < 0x2000) return m.internalRam[address & 0x07FF];
        // The joypad ports, read in tight loops by many programs, without the I/O dispatch.
        if ((address & 0xFFFE) == 0x4016) return ReadJoypadBit(m.pads, address & 1);
        return IoRead(m, address);
    }

    void WriteByte(uint16_t address, uint8_t value) const {
        if (address < 0x2000) {
            m.internalRam[address & 0x07FF] = value;
        } else if (address >= 0x8000) {
            MapperWrite(m, address, value);
        } else if (address >= 0x6000) {
            m.cart.backedMemory[address & 0x1FFF] = value;
            MapperLowWrite(m, address, value);  // registers sharing the RAM's addresses
        } else {
            IoWrite(m, address, value);
        }
    }

    // A read-modify-write's two writes on consecutive cycles: the unmodified byte, then the
    // result. Internal RAM keeps only the result, which is all that two writes leave there.
    void WriteTwice(uint16_t address, uint8_t unmodified, uint8_t result) const {
        if (address < 0x2000) {
            m.internalRam[address & 0x07FF] = result;
            return;
        }
        WriteByte(address, unmodified);
        m.writeFollowsWrite = true;
        WriteByte(address, result);
        m.writeFollowsWrite = false;
    }

    void CpuJammed(uint16_t address) const { LogCpuJammed(m, address); }

    InterruptRequest EndOfScanline() const { return vexalo::EndOfScanline(m); }
};

}  // namespace vexalo
