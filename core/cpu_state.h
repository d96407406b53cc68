// The 6502 register record and the interrupt request that the machine hands the CPU.
#pragma once

#include <cstdint>

namespace vexalo {

struct CpuState {
    uint8_t A = 0;
    uint8_t P = 0;
    uint8_t X = 0;
    uint8_t Y = 0;
    uint8_t S = 0;
    uint16_t PC = 0;
    int32_t CyclesPerLine = 122;  // cycles granted to one scanline
    int32_t CycleBudget = 0;      // cycles left in the current scanline; may go negative
    // A JAM opcode has stopped the CPU: it executes nothing and takes no interrupt until Reset.
    bool Jammed = false;
    // The vertical-blank NMI was raised during the last scanline's final instruction: it is taken
    // once the next instruction has completed.
    bool NmiPending = false;
};

// Returned by EndOfScanline and the mapper's scanline hook, taken by CpuTakeRequest.
// NmiAfterInstruction is the vertical blank's NMI: the CPU completes the instruction it has
// begun before it enters the handler, so that instruction (a poll of the status register, say)
// already sees the flag.
enum class InterruptRequest : uint8_t {
    None = 0,
    Irq = 1,
    Nmi = 2,
    Stop = 3,
    NmiAfterInstruction = 4
};

// Status bits of P.
enum StatusFlag : uint8_t {
    FlagC = 0x01,
    FlagZ = 0x02,
    FlagI = 0x04,
    FlagD = 0x08,
    FlagB = 0x10,
    FlagUnused = 0x20,
    FlagV = 0x40,
    FlagN = 0x80,
};

// Base cycles of each opcode, row = high nibble; a constant, so that a handler that knows its
// opcode charges an immediate. Charged once per instruction; a taken branch
// costs one more. The undocumented opcodes take the NMOS 6502's base cycles (no page-crossing
// cycle, as for the documented ones); a JAM's entry is charged once, as it stops the CPU.
inline constexpr uint8_t CycleTable[256] = {
    7, 6, 2, 8, 3, 3, 5, 5, 3, 2, 2, 2, 4, 4, 6, 6,  // 0x
    2, 5, 2, 8, 4, 4, 6, 6, 2, 4, 2, 7, 4, 5, 7, 7,  // 1x
    6, 6, 2, 8, 3, 3, 5, 5, 4, 2, 2, 2, 4, 4, 6, 6,  // 2x
    2, 5, 2, 8, 4, 4, 6, 6, 2, 4, 2, 7, 4, 5, 7, 7,  // 3x
    6, 6, 2, 8, 3, 3, 5, 5, 3, 2, 2, 2, 3, 4, 6, 6,  // 4x
    2, 5, 2, 8, 4, 4, 6, 6, 2, 4, 2, 7, 4, 5, 7, 7,  // 5x
    6, 6, 2, 8, 3, 3, 5, 5, 4, 2, 2, 2, 5, 4, 6, 6,  // 6x
    2, 5, 2, 8, 4, 4, 6, 6, 2, 4, 2, 7, 4, 5, 7, 7,  // 7x
    2, 6, 2, 6, 3, 3, 3, 3, 2, 2, 2, 2, 4, 4, 4, 4,  // 8x
    2, 6, 2, 6, 4, 4, 4, 4, 2, 5, 2, 5, 5, 5, 5, 5,  // 9x
    2, 6, 2, 6, 3, 3, 3, 3, 2, 2, 2, 2, 4, 4, 4, 4,  // Ax
    2, 5, 2, 5, 4, 4, 4, 4, 2, 4, 2, 4, 4, 4, 4, 4,  // Bx
    2, 6, 2, 8, 3, 3, 5, 5, 2, 2, 2, 2, 4, 4, 6, 6,  // Cx
    2, 5, 2, 8, 4, 4, 6, 6, 2, 4, 2, 7, 4, 5, 7, 7,  // Dx
    2, 6, 2, 8, 3, 3, 5, 5, 2, 2, 2, 2, 4, 4, 6, 6,  // Ex
    2, 5, 2, 8, 4, 4, 6, 6, 2, 4, 2, 7, 4, 5, 7, 7,  // Fx
};

}  // namespace vexalo
