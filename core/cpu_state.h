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

extern const uint8_t CycleTable[256];  // base cycles of each opcode
extern const uint8_t NZTable[256];     // N and Z bits for a result byte

}  // namespace vexalo
