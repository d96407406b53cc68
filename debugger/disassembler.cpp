// The listing patterns of the 256 opcodes and their formatting.
#include "debugger/disassembler.h"

#include <string_view>

namespace vexalo {

const char* const DisassemblyPatterns[256] = {
    "BRK",           // 00
    "ORA ($nn, X)",  // 01
    "JAM",           // 02
    "SLO ($nn, X)",  // 03
    "NOP $nn",       // 04
    "ORA $nn",       // 05
    "ASL nn",        // 06
    "SLO $nn",       // 07
    "PHP",           // 08
    "ORA #nn",       // 09
    "ASL A",         // 0A
    "ANC #nn",       // 0B
    "NOP $nnnn",     // 0C
    "ORA $nnnn",     // 0D
    "ASL nnnn",      // 0E
    "SLO $nnnn",     // 0F
    "BPL nn",        // 10
    "ORA ($nn), Y",  // 11
    "JAM",           // 12
    "SLO ($nn), Y",  // 13
    "NOP $nn, X",    // 14
    "ORA $nn, X",    // 15
    "ASL nn, X",     // 16
    "SLO $nn, X",    // 17
    "CLC",           // 18
    "ORA $nnnn, Y",  // 19
    "NOP",           // 1A
    "SLO $nnnn, Y",  // 1B
    "NOP $nnnn, X",  // 1C
    "ORA $nnnn, X",  // 1D
    "ASL nnnn, X",   // 1E
    "SLO $nnnn, X",  // 1F
    "JSR $nnnn",     // 20
    "AND (nn, X)",   // 21
    "JAM",           // 22
    "RLA ($nn, X)",  // 23
    "BIT nn",        // 24
    "AND nn",        // 25
    "ROL $nn",       // 26
    "RLA $nn",       // 27
    "PLP",           // 28
    "AND #nn",       // 29
    "ROL A",         // 2A
    "ANC #nn",       // 2B
    "BIT nnnn",      // 2C
    "AND nnnn",      // 2D
    "ROL $nnnn",     // 2E
    "RLA $nnnn",     // 2F
    "BMI nn",        // 30
    "AND (nn), Y",   // 31
    "JAM",           // 32
    "RLA ($nn), Y",  // 33
    "NOP $nn, X",    // 34
    "AND nn, X",     // 35
    "ROL $nn, X",    // 36
    "RLA $nn, X",    // 37
    "SEC",           // 38
    "AND nnnn, Y",   // 39
    "NOP",           // 3A
    "RLA $nnnn, Y",  // 3B
    "NOP $nnnn, X",  // 3C
    "AND nnnn, X",   // 3D
    "ROL $nnnn, X",  // 3E
    "RLA $nnnn, X",  // 3F
    "RTI",           // 40
    "EOR ($nn, X)",  // 41
    "JAM",           // 42
    "SRE ($nn, X)",  // 43
    "NOP $nn",       // 44
    "EOR $nn",       // 45
    "LSR $nn",       // 46
    "SRE $nn",       // 47
    "PHA",           // 48
    "EOR #nn",       // 49
    "LSR A",         // 4A
    "ALR #nn",       // 4B
    "JMP $nnnn",     // 4C
    "EOR $nnnn",     // 4D
    "LSR $nnnn",     // 4E
    "SRE $nnnn",     // 4F
    "BVC nn",        // 50
    "EOR ($nn), Y",  // 51
    "JAM",           // 52
    "SRE ($nn), Y",  // 53
    "NOP $nn, X",    // 54
    "EOR $nn, X",    // 55
    "LSR $nn, X",    // 56
    "SRE $nn, X",    // 57
    "CLI",           // 58
    "EOR $nnnn, Y",  // 59
    "NOP",           // 5A
    "SRE $nnnn, Y",  // 5B
    "NOP $nnnn, X",  // 5C
    "EOR $nnnn, X",  // 5D
    "LSR $nnnn, X",  // 5E
    "SRE $nnnn, X",  // 5F
    "RTS",           // 60
    "ADC (nn, X)",   // 61
    "JAM",           // 62
    "RRA ($nn, X)",  // 63
    "NOP $nn",       // 64
    "ADC nn",        // 65
    "ROR $nn",       // 66
    "RRA $nn",       // 67
    "PLA",           // 68
    "ADC #nn",       // 69
    "ROR A",         // 6A
    "ARR #nn",       // 6B
    "JMP ($nnnn)",   // 6C
    "ADC nnnn",      // 6D
    "ROR $nnnn",     // 6E
    "RRA $nnnn",     // 6F
    "BVS nn",        // 70
    "ADC (nn), Y",   // 71
    "JAM",           // 72
    "RRA ($nn), Y",  // 73
    "NOP $nn, X",    // 74
    "ADC nn, X",     // 75
    "ROR $nn, X",    // 76
    "RRA $nn, X",    // 77
    "SEI",           // 78
    "ADC nnnn, Y",   // 79
    "NOP",           // 7A
    "RRA $nnnn, Y",  // 7B
    "NOP $nnnn, X",  // 7C
    "ADC nnnn, X",   // 7D
    "ROR $nnnn, X",  // 7E
    "RRA $nnnn, X",  // 7F
    "NOP #nn",       // 80
    "STA ($nn, X)",  // 81
    "NOP #nn",       // 82
    "SAX ($nn, X)",  // 83
    "STY $nn",       // 84
    "STA $nn",       // 85
    "STX $nn",       // 86
    "SAX $nn",       // 87
    "DEY",           // 88
    "NOP #nn",       // 89
    "TXA",           // 8A
    "XAA #nn",       // 8B
    "STY $nnnn",     // 8C
    "STA $nnnn",     // 8D
    "STX $nnnn",     // 8E
    "SAX $nnnn",     // 8F
    "BCC nn",        // 90
    "STA ($nn), Y",  // 91
    "JAM",           // 92
    "SHA ($nn), Y",  // 93
    "STY $nn, X",    // 94
    "STA $nn, X",    // 95
    "STX $nn, Y",    // 96
    "SAX $nn, Y",    // 97
    "TYA",           // 98
    "STA $nnnn, Y",  // 99
    "TXS",           // 9A
    "TAS $nnnn, Y",  // 9B
    "SHY $nnnn, X",  // 9C
    "STA $nnnn, X",  // 9D
    "SHX $nnnn, Y",  // 9E
    "SHA $nnnn, Y",  // 9F
    "LDY #nn",       // A0
    "LDA ($nn, X)",  // A1
    "LDX #nn",       // A2
    "LAX ($nn, X)",  // A3
    "LDY $nn",       // A4
    "LDA $nn",       // A5
    "LDX $nn",       // A6
    "LAX $nn",       // A7
    "TAY",           // A8
    "LDA #nn",       // A9
    "TAX",           // AA
    "LAX #nn",       // AB
    "LDY $nnnn",     // AC
    "LDA $nnnn",     // AD
    "LDX $nnnn",     // AE
    "LAX $nnnn",     // AF
    "BCS nn",        // B0
    "LDA ($nn), Y",  // B1
    "JAM",           // B2
    "LAX ($nn), Y",  // B3
    "LDY $nn, X",    // B4
    "LDA $nn, X",    // B5
    "LDX $nn, Y",    // B6
    "LAX $nn, Y",    // B7
    "CLV",           // B8
    "LDA $nnnn, Y",  // B9
    "TSX",           // BA
    "LAS $nnnn, Y",  // BB
    "LDY $nnnn, X",  // BC
    "LDA $nnnn, X",  // BD
    "LDX $nnnn, Y",  // BE
    "LAX $nnnn, Y",  // BF
    "CPY #nn",       // C0
    "CMP (nn, X)",   // C1
    "NOP #nn",       // C2
    "DCP ($nn, X)",  // C3
    "CPY nn",        // C4
    "CMP nn",        // C5
    "DEC nn",        // C6
    "DCP $nn",       // C7
    "INY",           // C8
    "CMP #nn",       // C9
    "DEX",           // CA
    "SBX #nn",       // CB
    "CPY nnnn",      // CC
    "CMP nnnn",      // CD
    "DEC nnnn",      // CE
    "DCP $nnnn",     // CF
    "BNE nn",        // D0
    "CMP (nn), Y",   // D1
    "JAM",           // D2
    "DCP ($nn), Y",  // D3
    "NOP $nn, X",    // D4
    "CMP nn, X",     // D5
    "DEC nn, X",     // D6
    "DCP $nn, X",    // D7
    "CLD",           // D8
    "CMP nnnn, Y",   // D9
    "NOP",           // DA
    "DCP $nnnn, Y",  // DB
    "NOP $nnnn, X",  // DC
    "CMP nnnn, X",   // DD
    "DEC nnnn, X",   // DE
    "DCP $nnnn, X",  // DF
    "CPX #nn",       // E0
    "SBC ($nn, X)",  // E1
    "NOP #nn",       // E2
    "ISC ($nn, X)",  // E3
    "CPX nn",        // E4
    "SBC $nn",       // E5
    "INC $nn",       // E6
    "ISC $nn",       // E7
    "INX",           // E8
    "SBC #nn",       // E9
    "NOP",           // EA
    "SBC #nn",       // EB
    "CPX nnnn",      // EC
    "SBC $nnnn",     // ED
    "INC $nnnn",     // EE
    "ISC $nnnn",     // EF
    "BEQ nn",        // F0
    "SBC ($nn), Y",  // F1
    "JAM",           // F2
    "ISC ($nn), Y",  // F3
    "NOP $nn, X",    // F4
    "SBC $nn, X",    // F5
    "INC $nn, X",    // F6
    "ISC $nn, X",    // F7
    "SED",           // F8
    "SBC $nnnn, Y",  // F9
    "NOP",           // FA
    "ISC $nnnn, Y",  // FB
    "NOP $nnnn, X",  // FC
    "SBC $nnnn, X",  // FD
    "INC $nnnn, X",  // FE
    "ISC $nnnn, X",  // FF
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
