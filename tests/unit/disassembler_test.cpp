// The 6502 listing: texts of the opcode table, instruction lengths, operand reads and wrap.
#include "debugger/disassembler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/cpu.h"
#include "tests/unit/flat_bus.h"

namespace vexalo::test {
namespace {

struct Listed {
    std::string text;
    uint16_t next;
};

Listed ListAt(FlatBus& bus, uint16_t address) {
    Listed result;
    DisassembleAt(bus, address, result.text);
    result.next = address;
    return result;
}

Listed List(std::initializer_list<uint8_t> bytes, uint16_t at = 0xC000) {
    FlatBus bus;
    bus.Load(at, bytes);
    return ListAt(bus, at);
}

TEST(DisassemblerTest, TextsAndLengthsOfTheTable) {
    struct Case {
        std::initializer_list<uint8_t> bytes;
        const char* text;
        int length;
    };
    const Case cases[] = {
        {{0xA9, 0x05}, "LDA #05", 2},
        {{0x4C, 0x34, 0x12}, "JMP $1234", 3},
        {{0x6C, 0x00, 0x03}, "JMP ($0300)", 3},
        {{0xD0, 0xFE}, "BNE FE", 2},  // raw offset, not the target
        {{0xB0, 0x10}, "BCS 10", 2},
        {{0x0A}, "ASL A", 1},
        {{0x06, 0x80}, "ASL 80", 2},  // ASL writes no $
        {{0x26, 0x80}, "ROL $80", 2},
        {{0x02}, "JAM", 1},
        {{0x80, 0x12}, "NOP #12", 2},
        {{0x12, 0x34}, "JAM", 1},
        {{0xA7, 0x9A}, "LAX $9A", 2},
        {{0xB3, 0x0F}, "LAX ($0F), Y", 2},
        {{0x8F, 0x00, 0x03}, "SAX $0300", 3},
        {{0xFF, 0x00, 0x03}, "ISC $0300, X", 3},
        {{0xCB, 0x05}, "SBX #05", 2},
        {{0x00}, "BRK", 1},
        {{0x01, 0x44}, "ORA ($44, X)", 2},
        {{0x21, 0x44}, "AND (44, X)", 2},
        {{0xC1, 0x44}, "CMP (44, X)", 2},
        {{0x11, 0x44}, "ORA ($44), Y", 2},
        {{0xD1, 0x44}, "CMP (44), Y", 2},
        {{0x96, 0x44}, "STX $44, Y", 2},
        {{0xB6, 0x44}, "LDX $44, Y", 2},
        {{0xBE, 0xCD, 0xAB}, "LDX $ABCD, Y", 3},
        {{0x0E, 0xCD, 0xAB}, "ASL ABCD", 3},
        {{0x1E, 0xCD, 0xAB}, "ASL ABCD, X", 3},
        {{0x2C, 0x00, 0x20}, "BIT 2000", 3},
        {{0x24, 0x01}, "BIT 01", 2},
        {{0x20, 0x00, 0x90}, "JSR $9000", 3},
        {{0xE0, 0xFF}, "CPX #FF", 2},
        {{0xEC, 0x00, 0x01}, "CPX 0100", 3},
        {{0xCE, 0x00, 0x01}, "DEC 0100", 3},
        {{0xFE, 0x00, 0x01}, "INC $0100, X", 3},
        {{0x89, 0x01}, "NOP #01", 2},
        {{0x3C, 0x00, 0x20}, "NOP $2000, X", 3},
        {{0x9C, 0x00, 0x20}, "SHY $2000, X", 3},
        {{0x04, 0x10}, "NOP $10", 2},
        {{0x1A}, "NOP", 1},
        {{0xDA}, "NOP", 1},
        {{0x9A}, "TXS", 1},
        {{0x6A}, "ROR A", 1},
        {{0xEA}, "NOP", 1},
    };
    for (const Case& c : cases) {
        const Listed listed = List(c.bytes);
        EXPECT_EQ(listed.text, c.text);
        EXPECT_EQ(listed.next, 0xC000 + c.length) << c.text;
    }
}

// The listing's text of every opcode, written out here independently of the table in the code.
// nn and nnnn stand for the operand bytes and also give the length.
constexpr const char* kExpectedPatterns[256] = {
    "BRK",          "ORA ($nn, X)", "JAM",          "SLO ($nn, X)",
    "NOP $nn",      "ORA $nn",      "ASL nn",       "SLO $nn",  // 00
    "PHP",          "ORA #nn",      "ASL A",        "ANC #nn",
    "NOP $nnnn",    "ORA $nnnn",    "ASL nnnn",     "SLO $nnnn",  // 08
    "BPL nn",       "ORA ($nn), Y", "JAM",          "SLO ($nn), Y",
    "NOP $nn, X",   "ORA $nn, X",   "ASL nn, X",    "SLO $nn, X",  // 10
    "CLC",          "ORA $nnnn, Y", "NOP",          "SLO $nnnn, Y",
    "NOP $nnnn, X", "ORA $nnnn, X", "ASL nnnn, X",  "SLO $nnnn, X",  // 18
    "JSR $nnnn",    "AND (nn, X)",  "JAM",          "RLA ($nn, X)",
    "BIT nn",       "AND nn",       "ROL $nn",      "RLA $nn",  // 20
    "PLP",          "AND #nn",      "ROL A",        "ANC #nn",
    "BIT nnnn",     "AND nnnn",     "ROL $nnnn",    "RLA $nnnn",  // 28
    "BMI nn",       "AND (nn), Y",  "JAM",          "RLA ($nn), Y",
    "NOP $nn, X",   "AND nn, X",    "ROL $nn, X",   "RLA $nn, X",  // 30
    "SEC",          "AND nnnn, Y",  "NOP",          "RLA $nnnn, Y",
    "NOP $nnnn, X", "AND nnnn, X",  "ROL $nnnn, X", "RLA $nnnn, X",  // 38
    "RTI",          "EOR ($nn, X)", "JAM",          "SRE ($nn, X)",
    "NOP $nn",      "EOR $nn",      "LSR $nn",      "SRE $nn",  // 40
    "PHA",          "EOR #nn",      "LSR A",        "ALR #nn",
    "JMP $nnnn",    "EOR $nnnn",    "LSR $nnnn",    "SRE $nnnn",  // 48
    "BVC nn",       "EOR ($nn), Y", "JAM",          "SRE ($nn), Y",
    "NOP $nn, X",   "EOR $nn, X",   "LSR $nn, X",   "SRE $nn, X",  // 50
    "CLI",          "EOR $nnnn, Y", "NOP",          "SRE $nnnn, Y",
    "NOP $nnnn, X", "EOR $nnnn, X", "LSR $nnnn, X", "SRE $nnnn, X",  // 58
    "RTS",          "ADC (nn, X)",  "JAM",          "RRA ($nn, X)",
    "NOP $nn",      "ADC nn",       "ROR $nn",      "RRA $nn",  // 60
    "PLA",          "ADC #nn",      "ROR A",        "ARR #nn",
    "JMP ($nnnn)",  "ADC nnnn",     "ROR $nnnn",    "RRA $nnnn",  // 68
    "BVS nn",       "ADC (nn), Y",  "JAM",          "RRA ($nn), Y",
    "NOP $nn, X",   "ADC nn, X",    "ROR $nn, X",   "RRA $nn, X",  // 70
    "SEI",          "ADC nnnn, Y",  "NOP",          "RRA $nnnn, Y",
    "NOP $nnnn, X", "ADC nnnn, X",  "ROR $nnnn, X", "RRA $nnnn, X",  // 78
    "NOP #nn",      "STA ($nn, X)", "NOP #nn",      "SAX ($nn, X)",
    "STY $nn",      "STA $nn",      "STX $nn",      "SAX $nn",  // 80
    "DEY",          "NOP #nn",      "TXA",          "XAA #nn",
    "STY $nnnn",    "STA $nnnn",    "STX $nnnn",    "SAX $nnnn",  // 88
    "BCC nn",       "STA ($nn), Y", "JAM",          "SHA ($nn), Y",
    "STY $nn, X",   "STA $nn, X",   "STX $nn, Y",   "SAX $nn, Y",  // 90
    "TYA",          "STA $nnnn, Y", "TXS",          "TAS $nnnn, Y",
    "SHY $nnnn, X", "STA $nnnn, X", "SHX $nnnn, Y", "SHA $nnnn, Y",  // 98
    "LDY #nn",      "LDA ($nn, X)", "LDX #nn",      "LAX ($nn, X)",
    "LDY $nn",      "LDA $nn",      "LDX $nn",      "LAX $nn",  // A0
    "TAY",          "LDA #nn",      "TAX",          "LAX #nn",
    "LDY $nnnn",    "LDA $nnnn",    "LDX $nnnn",    "LAX $nnnn",  // A8
    "BCS nn",       "LDA ($nn), Y", "JAM",          "LAX ($nn), Y",
    "LDY $nn, X",   "LDA $nn, X",   "LDX $nn, Y",   "LAX $nn, Y",  // B0
    "CLV",          "LDA $nnnn, Y", "TSX",          "LAS $nnnn, Y",
    "LDY $nnnn, X", "LDA $nnnn, X", "LDX $nnnn, Y", "LAX $nnnn, Y",  // B8
    "CPY #nn",      "CMP (nn, X)",  "NOP #nn",      "DCP ($nn, X)",
    "CPY nn",       "CMP nn",       "DEC nn",       "DCP $nn",  // C0
    "INY",          "CMP #nn",      "DEX",          "SBX #nn",
    "CPY nnnn",     "CMP nnnn",     "DEC nnnn",     "DCP $nnnn",  // C8
    "BNE nn",       "CMP (nn), Y",  "JAM",          "DCP ($nn), Y",
    "NOP $nn, X",   "CMP nn, X",    "DEC nn, X",    "DCP $nn, X",  // D0
    "CLD",          "CMP nnnn, Y",  "NOP",          "DCP $nnnn, Y",
    "NOP $nnnn, X", "CMP nnnn, X",  "DEC nnnn, X",  "DCP $nnnn, X",  // D8
    "CPX #nn",      "SBC ($nn, X)", "NOP #nn",      "ISC ($nn, X)",
    "CPX nn",       "SBC $nn",      "INC $nn",      "ISC $nn",  // E0
    "INX",          "SBC #nn",      "NOP",          "SBC #nn",
    "CPX nnnn",     "SBC $nnnn",    "INC $nnnn",    "ISC $nnnn",  // E8
    "BEQ nn",       "SBC ($nn), Y", "JAM",          "ISC ($nn), Y",
    "NOP $nn, X",   "SBC $nn, X",   "INC $nn, X",   "ISC $nn, X",  // F0
    "SED",          "SBC $nnnn, Y", "NOP",          "ISC $nnnn, Y",
    "NOP $nnnn, X", "SBC $nnnn, X", "INC $nnnn, X", "ISC $nnnn, X",  // F8
};

TEST(DisassemblerTest, EveryOpcodeHasItsListingText) {
    for (int op = 0; op < 256; ++op) {
        std::string expected = kExpectedPatterns[op];
        int length = 1;
        if (const size_t at = expected.find("nnnn"); at != std::string::npos) {
            expected.replace(at, 4, "ABCD");
            length = 3;
        } else if (const size_t at2 = expected.find("nn"); at2 != std::string::npos) {
            expected.replace(at2, 2, "CD");
            length = 2;
        }
        const Listed listed = List({uint8_t(op), 0xCD, 0xAB});
        EXPECT_EQ(listed.text, expected) << "opcode " << std::hex << op;
        EXPECT_EQ(listed.next, 0xC000 + length) << "opcode " << std::hex << op;
    }
}

TEST(DisassemblerTest, OperandsAreFetchedOrReadThroughTheMemoryMap) {
    FlatBus bus;
    bus.Load(0xC000, {0xA5, 0x10, 0xAD, 0x34, 0x12});
    Listed listed = ListAt(bus, 0xC000);
    EXPECT_EQ(listed.text, "LDA $10");
    std::vector<BusAccess> expected = {BusFetch(0xC000, 0xA5), BusFetch(0xC001, 0x10)};
    EXPECT_EQ(bus.log, expected);

    bus.log.clear();
    listed = ListAt(bus, listed.next);
    EXPECT_EQ(listed.text, "LDA $1234");
    EXPECT_EQ(listed.next, 0xC005);
    expected = {BusFetch(0xC002, 0xAD), BusRead(0xC003, 0x34), BusRead(0xC004, 0x12)};
    EXPECT_EQ(bus.log, expected);
}

TEST(DisassemblerTest, InstructionsRunningPastTheTopWrapToZero) {
    FlatBus bus;
    bus.memory[0xFFFF] = 0xA9;
    bus.memory[0x0000] = 0x7E;
    Listed listed = ListAt(bus, 0xFFFF);
    EXPECT_EQ(listed.text, "LDA #7E");
    EXPECT_EQ(listed.next, 0x0001);

    bus = FlatBus{};
    bus.Load(0xFFFE, {0x8D, 0x07, 0x20});  // STA $2007, operand straddling the wrap
    bus.log.clear();
    listed = ListAt(bus, 0xFFFE);
    EXPECT_EQ(listed.text, "STA $2007");
    EXPECT_EQ(listed.next, 0x0001);
    const std::vector<BusAccess> expected = {BusFetch(0xFFFE, 0x8D), BusRead(0xFFFF, 0x07),
                                             BusRead(0x0000, 0x20)};
    EXPECT_EQ(bus.log, expected);

    bus = FlatBus{};
    bus.memory[0xFFFF] = 0xEA;
    EXPECT_EQ(ListAt(bus, 0xFFFF).next, 0x0000);
}

// Every opcode: the operand shown is exactly the bytes consumed, and no placeholder survives.
TEST(DisassemblerTest, EveryOpcodeShowsExactlyTheBytesItConsumes) {
    for (int op = 0; op < 256; ++op) {
        FlatBus bus;
        bus.Load(0x8000, {uint8_t(op), 0x34, 0x12});
        const Listed listed = ListAt(bus, 0x8000);
        const int length = listed.next - 0x8000;
        SCOPED_TRACE(::testing::Message() << "opcode $" << std::hex << op << " " << listed.text);
        ASSERT_GE(length, 1);
        ASSERT_LE(length, 3);
        EXPECT_EQ(length, InstructionLength(uint8_t(op)));
        EXPECT_EQ(listed.text.find('n'), std::string::npos);
        EXPECT_FALSE(listed.text.empty());
        const bool hasDigit = listed.text.find_first_of("0123456789") != std::string::npos;
        if (length == 1) {
            EXPECT_FALSE(hasDigit);
        }
        if (length == 2) {
            EXPECT_NE(listed.text.find("34"), std::string::npos);
            EXPECT_EQ(listed.text.find("12"), std::string::npos);
        }
        if (length == 3) {
            EXPECT_NE(listed.text.find("1234"), std::string::npos);
        }
        // The pattern fixes the length.
        const std::string pattern = DisassemblyPatterns[op];
        const size_t placeholders = std::count(pattern.begin(), pattern.end(), 'n');
        EXPECT_EQ(placeholders, length == 1 ? 0u : length == 2 ? 2u : 4u);
    }
}

// The listing consumes what the interpreter consumes; a JAM, listed as one byte, stays on itself.
TEST(DisassemblerTest, LengthsAgreeWithTheInterpreter) {
    const int controlFlow[] = {0x00, 0x20, 0x40, 0x60, 0x4C, 0x6C};
    for (int op = 0; op < 256; ++op) {
        if (std::find(std::begin(controlFlow), std::end(controlFlow), op) !=
            std::end(controlFlow)) {
            continue;
        }
        FlatBus bus;
        bus.Load(0x8000, {uint8_t(op), 0x34, 0x12});
        CpuState cpu;
        cpu.PC = 0x8000;
        cpu.S = 0xFF;
        cpu.P = 0x20;
        // Flags chosen so that no branch is taken: N, V, C and Z set for BPL/BVC/BCC/BNE, and
        // clear for BMI/BVS/BCS/BEQ.
        const bool branchWhenSet = (op & 0x20) != 0;
        if ((op & 0x1F) == 0x10) cpu.P = branchWhenSet ? 0x20 : 0xE3;
        CpuStepInstruction(cpu, bus);
        const int executed = uint16_t(cpu.PC - 0x8000);
        const int listed = InstructionLength(uint8_t(op));
        SCOPED_TRACE(::testing::Message() << "opcode $" << std::hex << op);
        if (cpu.Jammed) {
            EXPECT_EQ(listed, 1);
            EXPECT_EQ(executed, 0);
        } else {
            EXPECT_EQ(listed, executed);
        }
    }
}

TEST(DisassemblerTest, ListingCoversConsecutiveInstructions) {
    FlatBus bus;
    bus.Load(0x8000, {0x78, 0xD8, 0xA2, 0xFF, 0x9A, 0xAD, 0x02, 0x20, 0x10, 0xFB});
    uint16_t address = 0x8000;
    std::vector<std::string> lines;
    std::string text;
    while (address < 0x800A) {
        DisassembleAt(bus, address, text);
        lines.push_back(text);
    }
    const std::vector<std::string> expected = {"SEI", "CLD",       "LDX #FF",
                                               "TXS", "LDA $2002", "BPL FB"};
    EXPECT_EQ(lines, expected);
}

}  // namespace
}  // namespace vexalo::test
