// The listing patterns of the 256 opcodes and their formatting.
#include "debugger/disassembler.h"

#include <string_view>

namespace vexalo {

const char* const DisassemblyPatterns[256] = {
    "BRK",           // 00
    "ORA ($nn, X)",  // 01
    "NOP",           // 02
    "NOP",           // 03
    "TSB",           // 04
    "ORA $nn",       // 05
    "ASL nn",        // 06
    "NOP",           // 07
    "PHP",           // 08
    "ORA #nn",       // 09
    "ASL A",         // 0A
    "NOP",           // 0B
    "TSB",           // 0C
    "ORA $nnnn",     // 0D
    "ASL nnnn",      // 0E
    "NOP",           // 0F
    "BPL nn",        // 10
    "ORA ($nn), Y",  // 11
    "ORA $nn, X",    // 12
    "NOP",           // 13
    "TRB",           // 14
    "ORA $nn, X",    // 15
    "ASL nn, X",     // 16
    "NOP",           // 17
    "CLC",           // 18
    "ORA $nnnn, Y",  // 19
    "INA",           // 1A
    "NOP",           // 1B
    "TRB",           // 1C
    "ORA $nnnn, X",  // 1D
    "ASL nnnn, X",   // 1E
    "NOP",           // 1F
    "JSR $nnnn",     // 20
    "AND (nn, X)",   // 21
    "NOP",           // 22
    "NOP",           // 23
    "BIT nn",        // 24
    "AND nn",        // 25
    "ROL $nn",       // 26
    "NOP",           // 27
    "PLP",           // 28
    "AND #nn",       // 29
    "ROL A",         // 2A
    "NOP",           // 2B
    "BIT nnnn",      // 2C
    "AND nnnn",      // 2D
    "ROL $nnnn",     // 2E
    "NOP",           // 2F
    "BMI nn",        // 30
    "AND (nn), Y",   // 31
    "AND nn, X",     // 32
    "NOP",           // 33
    "BIT",           // 34
    "AND nn, X",     // 35
    "ROL $nn, X",    // 36
    "NOP",           // 37
    "SEC",           // 38
    "AND nnnn, Y",   // 39
    "DEA",           // 3A
    "NOP",           // 3B
    "BIT",           // 3C
    "AND nnnn, X",   // 3D
    "ROL $nnnn, X",  // 3E
    "NOP",           // 3F
    "RTI",           // 40
    "EOR ($nn, X)",  // 41
    "NOP",           // 42
    "NOP",           // 43
    "NOP",           // 44
    "EOR $nn",       // 45
    "LSR $nn",       // 46
    "NOP",           // 47
    "PHA",           // 48
    "EOR #nn",       // 49
    "LSR A",         // 4A
    "NOP",           // 4B
    "JMP $nnnn",     // 4C
    "EOR $nnnn",     // 4D
    "LSR $nnnn",     // 4E
    "NOP",           // 4F
    "BVC nn",        // 50
    "EOR ($nn), Y",  // 51
    "EOR $nn, X",    // 52
    "NOP",           // 53
    "NOP",           // 54
    "EOR $nn, X",    // 55
    "LSR $nn, X",    // 56
    "NOP",           // 57
    "CLI",           // 58
    "EOR $nnnn, Y",  // 59
    "PHY",           // 5A
    "NOP",           // 5B
    "NOP",           // 5C
    "EOR $nnnn, X",  // 5D
    "LSR $nnnn, X",  // 5E
    "NOP",           // 5F
    "RTS",           // 60
    "ADC (nn, X)",   // 61
    "NOP",           // 62
    "NOP",           // 63
    "STZ",           // 64
    "ADC nn",        // 65
    "ROR $nn",       // 66
    "NOP",           // 67
    "PLA",           // 68
    "ADC #nn",       // 69
    "ROR A",         // 6A
    "NOP",           // 6B
    "JMP ($nnnn)",   // 6C
    "ADC nnnn",      // 6D
    "ROR $nnnn",     // 6E
    "NOP",           // 6F
    "BVS nn",        // 70
    "ADC (nn), Y",   // 71
    "ADC nn, X",     // 72
    "NOP",           // 73
    "STZ",           // 74
    "ADC nn, X",     // 75
    "ROR $nn, X",    // 76
    "NOP",           // 77
    "SEI",           // 78
    "ADC nnnn, Y",   // 79
    "PLY",           // 7A
    "NOP",           // 7B
    "JMP",           // 7C
    "ADC nnnn, X",   // 7D
    "ROR $nnnn, X",  // 7E
    "NOP",           // 7F
    "BRA",           // 80
    "STA ($nn, X)",  // 81
    "NOP",           // 82
    "NOP",           // 83
    "STY $nn",       // 84
    "STA $nn",       // 85
    "STX $nn",       // 86
    "NOP",           // 87
    "DEY",           // 88
    "BIT",           // 89
    "TXA",           // 8A
    "NOP",           // 8B
    "STY $nnnn",     // 8C
    "STA $nnnn",     // 8D
    "STX $nnnn",     // 8E
    "NOP",           // 8F
    "BCC nn",        // 90
    "STA ($nn), Y",  // 91
    "STA $nn, X",    // 92
    "NOP",           // 93
    "STY $nn, X",    // 94
    "STA $nn, X",    // 95
    "STX $nn, Y",    // 96
    "NOP",           // 97
    "TYA",           // 98
    "STA $nnnn, Y",  // 99
    "TXS",           // 9A
    "NOP",           // 9B
    "STZ",           // 9C
    "STA $nnnn, X",  // 9D
    "STZ",           // 9E
    "NOP",           // 9F
    "LDY #nn",       // A0
    "LDA ($nn, X)",  // A1
    "LDX #nn",       // A2
    "NOP",           // A3
    "LDY $nn",       // A4
    "LDA $nn",       // A5
    "LDX $nn",       // A6
    "NOP",           // A7
    "TAY",           // A8
    "LDA #nn",       // A9
    "TAX",           // AA
    "NOP",           // AB
    "LDY $nnnn",     // AC
    "LDA $nnnn",     // AD
    "LDX $nnnn",     // AE
    "NOP",           // AF
    "BCS nn",        // B0
    "LDA ($nn), Y",  // B1
    "LDA $nn, X",    // B2
    "NOP",           // B3
    "LDY $nn, X",    // B4
    "LDA $nn, X",    // B5
    "LDX $nn, Y",    // B6
    "NOP",           // B7
    "CLV",           // B8
    "LDA $nnnn, Y",  // B9
    "TSX",           // BA
    "NOP",           // BB
    "LDY $nnnn, X",  // BC
    "LDA $nnnn, X",  // BD
    "LDX $nnnn, Y",  // BE
    "NOP",           // BF
    "CPY #nn",       // C0
    "CMP (nn, X)",   // C1
    "NOP",           // C2
    "NOP",           // C3
    "CPY nn",        // C4
    "CMP nn",        // C5
    "DEC nn",        // C6
    "NOP",           // C7
    "INY",           // C8
    "CMP #nn",       // C9
    "DEX",           // CA
    "NOP",           // CB
    "CPY nnnn",      // CC
    "CMP nnnn",      // CD
    "DEC nnnn",      // CE
    "NOP",           // CF
    "BNE nn",        // D0
    "CMP (nn), Y",   // D1
    "CMP nn, X",     // D2
    "NOP",           // D3
    "NOP",           // D4
    "CMP nn, X",     // D5
    "DEC nn, X",     // D6
    "NOP",           // D7
    "CLD",           // D8
    "CMP nnnn, Y",   // D9
    "PHX",           // DA
    "NOP",           // DB
    "NOP",           // DC
    "CMP nnnn, X",   // DD
    "DEC nnnn, X",   // DE
    "NOP",           // DF
    "CPX #nn",       // E0
    "SBC ($nn, X)",  // E1
    "NOP",           // E2
    "NOP",           // E3
    "CPX nn",        // E4
    "SBC $nn",       // E5
    "INC $nn",       // E6
    "NOP",           // E7
    "INX",           // E8
    "SBC #nn",       // E9
    "NOP",           // EA
    "NOP",           // EB
    "CPX nnnn",      // EC
    "SBC $nnnn",     // ED
    "INC $nnnn",     // EE
    "NOP",           // EF
    "BEQ nn",        // F0
    "SBC ($nn), Y",  // F1
    "SBC $nn, X",    // F2
    "NOP",           // F3
    "NOP",           // F4
    "SBC $nn, X",    // F5
    "INC $nn, X",    // F6
    "NOP",           // F7
    "SED",           // F8
    "SBC $nnnn, Y",  // F9
    "PLX",           // FA
    "NOP",           // FB
    "NOP",           // FC
    "SBC $nnnn, X",  // FD
    "INC $nnnn, X",  // FE
    "NOP",           // FF
};

int InstructionLength(uint8_t opcode) {
    const std::string_view pattern = DisassemblyPatterns[opcode];
    if (pattern.find("nnnn") != std::string_view::npos) return 3;
    if (pattern.find("nn") != std::string_view::npos) return 2;
    return 1;
}

void FormatInstruction(uint8_t opcode, uint16_t operand, std::string& text) {
    static constexpr char kHexDigits[] = "0123456789ABCDEF";
    text.assign(DisassemblyPatterns[opcode]);
    const int length = InstructionLength(opcode);
    if (length == 1) return;
    const size_t digitCount = length == 3 ? 4 : 2;
    const size_t at = text.find(length == 3 ? "nnnn" : "nn");
    for (size_t i = 0; i < digitCount; ++i) {
        const unsigned shift = unsigned(4 * (digitCount - 1 - i));
        text[at + i] = kHexDigits[(operand >> shift) & 0x0F];
    }
}

}  // namespace vexalo
