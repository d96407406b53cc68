// 6502 listing text, one instruction at a time, for the debugger.
//
// Each opcode has a fixed text pattern; "nn" in it stands for a one-byte operand and "nnnn" for a
// two-byte operand, and the pattern also fixes how many bytes the line consumes (1 without a
// placeholder, 2 with nn, 3 with nnnn). The documented opcodes keep the debugger's listing texts,
// quirks included: not every mnemonic family writes "$", and branches show their raw offset
// byte. The undocumented ones are listed under their usual NMOS names (LAX, SAX, DCP, ISC, SLO,
// RLA, SRE, RRA, ANC, ALR, ARR, XAA, SBX, SHA, SHX, SHY, TAS, LAS, NOP, JAM) with the lengths
// the CPU executes them with.
#pragma once

#include <cstdint>
#include <string>

#include "core/cpu.h"

namespace vexalo {

// Listing pattern of each opcode byte.
extern const char* const DisassemblyPatterns[256];

// Bytes the listing line of `opcode` consumes: 1, 2 or 3.
int InstructionLength(uint8_t opcode);

// The line for `opcode` with `operand` in place of its placeholder (two uppercase hexadecimal
// digits for nn, four for nnnn); `operand` is ignored when the pattern has none.
void FormatInstruction(uint8_t opcode, uint16_t operand, std::string& text);

// Lists the instruction at `address` into `text` and advances `address` past it (16-bit wrap).
// The opcode and a one-byte operand are read with the side-effect-free FetchByte; a two-byte
// operand goes through the full memory map (ReadWord).
template <class Bus>
void DisassembleAt(Bus& bus, uint16_t& address, std::string& text) {
    const uint8_t opcode = bus.FetchByte(address);
    uint16_t operand = 0;
    switch (InstructionLength(opcode)) {
        case 2:
            address = uint16_t(address + 1);
            operand = bus.FetchByte(address);
            break;
        case 3:
            address = uint16_t(address + 2);
            operand = ReadWord(bus, uint16_t(address - 1));
            break;
        default: break;
    }
    FormatInstruction(opcode, operand, text);
    address = uint16_t(address + 1);
}

}  // namespace vexalo
