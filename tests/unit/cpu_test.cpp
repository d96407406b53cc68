// The 6502 interpreter on a flat logging bus: registers, flags, cycles and the exact bus traffic
// of each opcode family, the run loop's scanline accounting, interrupts and the debugger's steps.
#include "core/cpu.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <random>
#include <set>
#include <vector>

#include "tests/unit/flat_bus.h"

namespace vexalo::test {
namespace {

using IR = InterruptRequest;

class CpuTest : public ::testing::Test {
   protected:
    FlatBus bus;
    CpuState cpu;

    // Registers as after reset, PC at `at`, full budget, program placed there, empty log.
    void Start(std::initializer_list<uint8_t> program, uint16_t at = 0x8000) {
        bus.Load(at, program);
        cpu.A = 0;
        cpu.X = 0;
        cpu.Y = 0;
        cpu.P = 0x22;
        cpu.S = 0xFF;
        cpu.PC = at;
        cpu.CyclesPerLine = 122;
        cpu.CycleBudget = 122;
        cpu.Jammed = false;
        cpu.NmiPending = false;
        bus.log.clear();
    }
    // Executes one instruction; returns the cycles it charged.
    int Step() {
        const int before = cpu.CycleBudget;
        CpuStepInstruction(cpu, bus);
        return before - cpu.CycleBudget;
    }
    // The log without the fetches of the instruction's own bytes at `from`..`from`+`length`-1.
    std::vector<BusAccess> LogAfterInstructionBytes(uint16_t from, int length) const {
        std::vector<BusAccess> rest;
        for (const BusAccess& a : bus.log) {
            const bool ownByte = a.kind == AccessKind::Fetch && uint16_t(a.address - from) < length;
            if (!ownByte) rest.push_back(a);
        }
        return rest;
    }
};

// ---------------------------------------------------------------------------------------------
// Reset and interrupt entry

TEST_F(CpuTest, ResetClearsRegistersAndReadsVectorWithoutWriting) {
    bus.SetWord(0xFFFC, 0xC123);
    cpu = CpuState{0x11, 0xFF, 0x22, 0x33, 0x00, 0x4444, 122, -5};
    CpuReset(cpu, bus);
    EXPECT_EQ(cpu.A, 0);
    EXPECT_EQ(cpu.X, 0);
    EXPECT_EQ(cpu.Y, 0);
    EXPECT_EQ(cpu.P, 0x22);
    EXPECT_EQ(cpu.S, 0xFF);
    EXPECT_EQ(cpu.PC, 0xC123);
    EXPECT_EQ(cpu.CycleBudget, 122);
    const std::vector<BusAccess> expected = {BusRead(0xFFFC, 0x23), BusRead(0xFFFD, 0xC1)};
    EXPECT_EQ(bus.log, expected);
}

TEST_F(CpuTest, NmiPushesStateClearsDecimalAndKeepsInterruptMask) {
    Start({});
    bus.SetWord(0xFFFA, 0x9ABC);
    cpu.PC = 0x8234;
    cpu.P = 0x20 | FlagB | FlagD | FlagI | FlagC;
    cpu.CycleBudget = 50;
    CpuInterrupt(cpu, bus, IR::Nmi);
    EXPECT_EQ(cpu.PC, 0x9ABC);
    EXPECT_EQ(cpu.S, 0xFC);
    EXPECT_EQ(cpu.P, 0x20 | FlagB | FlagI | FlagC);  // D cleared, B and I kept
    EXPECT_EQ(cpu.CycleBudget, 43);
    const std::vector<BusAccess> expected = {
        BusWrite(0x01FF, 0x82), BusWrite(0x01FE, 0x34),
        BusWrite(0x01FD, 0x20 | FlagD | FlagI | FlagC),  // pushed P has bit 4 clear
        BusRead(0xFFFA, 0xBC), BusRead(0xFFFB, 0x9A)};
    EXPECT_EQ(bus.log, expected);

    // With I clear, an Nmi leaves it clear.
    cpu.P = 0x20;
    CpuInterrupt(cpu, bus, IR::Nmi);
    EXPECT_EQ(cpu.P, 0x20);
    EXPECT_EQ(cpu.S, 0xF9);
}

TEST_F(CpuTest, IrqEntersOnlyWhenUnmasked) {
    Start({});
    bus.SetWord(0xFFFE, 0x4321);
    cpu.PC = 0x8010;
    cpu.P = 0x20 | FlagD;
    CpuInterrupt(cpu, bus, IR::Irq);
    EXPECT_EQ(cpu.PC, 0x4321);
    EXPECT_EQ(cpu.P, 0x20 | FlagI);
    EXPECT_EQ(cpu.S, 0xFC);
    EXPECT_EQ(cpu.CycleBudget, 115);
    EXPECT_EQ(bus.memory[0x01FD], 0x20 | FlagD);
    EXPECT_EQ(bus.log.back(), BusRead(0xFFFF, 0x43));

    // Masked now: the request changes nothing at all and touches no memory.
    bus.log.clear();
    const CpuState before = cpu;
    CpuInterrupt(cpu, bus, IR::Irq);
    EXPECT_EQ(std::memcmp(&before, &cpu, sizeof cpu), 0);
    EXPECT_TRUE(bus.log.empty());
}

TEST_F(CpuTest, NoneAndStopAreNotInterrupts) {
    Start({});
    for (IR kind : {IR::None, IR::Stop}) {
        const CpuState before = cpu;
        CpuInterrupt(cpu, bus, kind);
        EXPECT_EQ(std::memcmp(&before, &cpu, sizeof cpu), 0);
        EXPECT_TRUE(bus.log.empty());
    }
}

TEST_F(CpuTest, InterruptPushesWrapAroundTheStackPage) {
    Start({});
    cpu.S = 0x01;
    cpu.PC = 0x1234;
    CpuInterrupt(cpu, bus, IR::Nmi);
    EXPECT_EQ(cpu.S, 0xFE);
    ASSERT_GE(bus.log.size(), 3u);
    EXPECT_EQ(bus.log[0], BusWrite(0x0101, 0x12));
    EXPECT_EQ(bus.log[1], BusWrite(0x0100, 0x34));
    EXPECT_EQ(bus.log[2], BusWrite(0x01FF, 0x22));
}

TEST_F(CpuTest, ReadWordReadsLowThenHighWithWrap) {
    bus.memory[0xFFFF] = 0x34;
    bus.memory[0x0000] = 0x12;
    EXPECT_EQ(ReadWord(bus, 0xFFFF), 0x1234);
    const std::vector<BusAccess> expected = {BusRead(0xFFFF, 0x34), BusRead(0x0000, 0x12)};
    EXPECT_EQ(bus.log, expected);
}

// ---------------------------------------------------------------------------------------------
// Addressing modes: every opcode that touches data memory reaches the address of its mode,
// with the right kind of access, length and cycles.

enum class Mode { Imm, Zp, ZpX, ZpY, Abs, AbsX, AbsY, IndX, IndY };
enum class Use { Load, Store, Modify };

struct MemoryOp {
    uint8_t opcode;
    Mode mode;
    Use use;
};

// Standard 6502 encodings, written out by family.
const MemoryOp kMemoryOps[] = {
    // ORA AND EOR ADC LDA CMP SBC
    {0x09, Mode::Imm, Use::Load},
    {0x05, Mode::Zp, Use::Load},
    {0x15, Mode::ZpX, Use::Load},
    {0x0D, Mode::Abs, Use::Load},
    {0x1D, Mode::AbsX, Use::Load},
    {0x19, Mode::AbsY, Use::Load},
    {0x01, Mode::IndX, Use::Load},
    {0x11, Mode::IndY, Use::Load},
    {0x29, Mode::Imm, Use::Load},
    {0x25, Mode::Zp, Use::Load},
    {0x35, Mode::ZpX, Use::Load},
    {0x2D, Mode::Abs, Use::Load},
    {0x3D, Mode::AbsX, Use::Load},
    {0x39, Mode::AbsY, Use::Load},
    {0x21, Mode::IndX, Use::Load},
    {0x31, Mode::IndY, Use::Load},
    {0x49, Mode::Imm, Use::Load},
    {0x45, Mode::Zp, Use::Load},
    {0x55, Mode::ZpX, Use::Load},
    {0x4D, Mode::Abs, Use::Load},
    {0x5D, Mode::AbsX, Use::Load},
    {0x59, Mode::AbsY, Use::Load},
    {0x41, Mode::IndX, Use::Load},
    {0x51, Mode::IndY, Use::Load},
    {0x69, Mode::Imm, Use::Load},
    {0x65, Mode::Zp, Use::Load},
    {0x75, Mode::ZpX, Use::Load},
    {0x6D, Mode::Abs, Use::Load},
    {0x7D, Mode::AbsX, Use::Load},
    {0x79, Mode::AbsY, Use::Load},
    {0x61, Mode::IndX, Use::Load},
    {0x71, Mode::IndY, Use::Load},
    {0xA9, Mode::Imm, Use::Load},
    {0xA5, Mode::Zp, Use::Load},
    {0xB5, Mode::ZpX, Use::Load},
    {0xAD, Mode::Abs, Use::Load},
    {0xBD, Mode::AbsX, Use::Load},
    {0xB9, Mode::AbsY, Use::Load},
    {0xA1, Mode::IndX, Use::Load},
    {0xB1, Mode::IndY, Use::Load},
    {0xC9, Mode::Imm, Use::Load},
    {0xC5, Mode::Zp, Use::Load},
    {0xD5, Mode::ZpX, Use::Load},
    {0xCD, Mode::Abs, Use::Load},
    {0xDD, Mode::AbsX, Use::Load},
    {0xD9, Mode::AbsY, Use::Load},
    {0xC1, Mode::IndX, Use::Load},
    {0xD1, Mode::IndY, Use::Load},
    {0xE9, Mode::Imm, Use::Load},
    {0xE5, Mode::Zp, Use::Load},
    {0xF5, Mode::ZpX, Use::Load},
    {0xED, Mode::Abs, Use::Load},
    {0xFD, Mode::AbsX, Use::Load},
    {0xF9, Mode::AbsY, Use::Load},
    {0xE1, Mode::IndX, Use::Load},
    {0xF1, Mode::IndY, Use::Load},
    // STA
    {0x85, Mode::Zp, Use::Store},
    {0x95, Mode::ZpX, Use::Store},
    {0x8D, Mode::Abs, Use::Store},
    {0x9D, Mode::AbsX, Use::Store},
    {0x99, Mode::AbsY, Use::Store},
    {0x81, Mode::IndX, Use::Store},
    {0x91, Mode::IndY, Use::Store},
    // LDX LDY STX STY CPX CPY BIT
    {0xA2, Mode::Imm, Use::Load},
    {0xA6, Mode::Zp, Use::Load},
    {0xB6, Mode::ZpY, Use::Load},
    {0xAE, Mode::Abs, Use::Load},
    {0xBE, Mode::AbsY, Use::Load},
    {0xA0, Mode::Imm, Use::Load},
    {0xA4, Mode::Zp, Use::Load},
    {0xB4, Mode::ZpX, Use::Load},
    {0xAC, Mode::Abs, Use::Load},
    {0xBC, Mode::AbsX, Use::Load},
    {0x86, Mode::Zp, Use::Store},
    {0x96, Mode::ZpY, Use::Store},
    {0x8E, Mode::Abs, Use::Store},
    {0x84, Mode::Zp, Use::Store},
    {0x94, Mode::ZpX, Use::Store},
    {0x8C, Mode::Abs, Use::Store},
    {0xE0, Mode::Imm, Use::Load},
    {0xE4, Mode::Zp, Use::Load},
    {0xEC, Mode::Abs, Use::Load},
    {0xC0, Mode::Imm, Use::Load},
    {0xC4, Mode::Zp, Use::Load},
    {0xCC, Mode::Abs, Use::Load},
    {0x24, Mode::Zp, Use::Load},
    {0x2C, Mode::Abs, Use::Load},
    // ASL ROL LSR ROR INC DEC (memory forms)
    {0x06, Mode::Zp, Use::Modify},
    {0x16, Mode::ZpX, Use::Modify},
    {0x0E, Mode::Abs, Use::Modify},
    {0x1E, Mode::AbsX, Use::Modify},
    {0x26, Mode::Zp, Use::Modify},
    {0x36, Mode::ZpX, Use::Modify},
    {0x2E, Mode::Abs, Use::Modify},
    {0x3E, Mode::AbsX, Use::Modify},
    {0x46, Mode::Zp, Use::Modify},
    {0x56, Mode::ZpX, Use::Modify},
    {0x4E, Mode::Abs, Use::Modify},
    {0x5E, Mode::AbsX, Use::Modify},
    {0x66, Mode::Zp, Use::Modify},
    {0x76, Mode::ZpX, Use::Modify},
    {0x6E, Mode::Abs, Use::Modify},
    {0x7E, Mode::AbsX, Use::Modify},
    {0xE6, Mode::Zp, Use::Modify},
    {0xF6, Mode::ZpX, Use::Modify},
    {0xEE, Mode::Abs, Use::Modify},
    {0xFE, Mode::AbsX, Use::Modify},
    {0xC6, Mode::Zp, Use::Modify},
    {0xD6, Mode::ZpX, Use::Modify},
    {0xCE, Mode::Abs, Use::Modify},
    {0xDE, Mode::AbsX, Use::Modify},
    // Undocumented: SLO RLA SRE RRA DCP ISC in their seven modes
    {0x07, Mode::Zp, Use::Modify},
    {0x17, Mode::ZpX, Use::Modify},
    {0x0F, Mode::Abs, Use::Modify},
    {0x1F, Mode::AbsX, Use::Modify},
    {0x1B, Mode::AbsY, Use::Modify},
    {0x03, Mode::IndX, Use::Modify},
    {0x13, Mode::IndY, Use::Modify},
    {0x27, Mode::Zp, Use::Modify},
    {0x37, Mode::ZpX, Use::Modify},
    {0x2F, Mode::Abs, Use::Modify},
    {0x3F, Mode::AbsX, Use::Modify},
    {0x3B, Mode::AbsY, Use::Modify},
    {0x23, Mode::IndX, Use::Modify},
    {0x33, Mode::IndY, Use::Modify},
    {0x47, Mode::Zp, Use::Modify},
    {0x57, Mode::ZpX, Use::Modify},
    {0x4F, Mode::Abs, Use::Modify},
    {0x5F, Mode::AbsX, Use::Modify},
    {0x5B, Mode::AbsY, Use::Modify},
    {0x43, Mode::IndX, Use::Modify},
    {0x53, Mode::IndY, Use::Modify},
    {0x67, Mode::Zp, Use::Modify},
    {0x77, Mode::ZpX, Use::Modify},
    {0x6F, Mode::Abs, Use::Modify},
    {0x7F, Mode::AbsX, Use::Modify},
    {0x7B, Mode::AbsY, Use::Modify},
    {0x63, Mode::IndX, Use::Modify},
    {0x73, Mode::IndY, Use::Modify},
    {0xC7, Mode::Zp, Use::Modify},
    {0xD7, Mode::ZpX, Use::Modify},
    {0xCF, Mode::Abs, Use::Modify},
    {0xDF, Mode::AbsX, Use::Modify},
    {0xDB, Mode::AbsY, Use::Modify},
    {0xC3, Mode::IndX, Use::Modify},
    {0xD3, Mode::IndY, Use::Modify},
    {0xE7, Mode::Zp, Use::Modify},
    {0xF7, Mode::ZpX, Use::Modify},
    {0xEF, Mode::Abs, Use::Modify},
    {0xFF, Mode::AbsX, Use::Modify},
    {0xFB, Mode::AbsY, Use::Modify},
    {0xE3, Mode::IndX, Use::Modify},
    {0xF3, Mode::IndY, Use::Modify},
    // Undocumented: LAX, SAX, LAS, the immediates and the NOPs that read
    {0xA7, Mode::Zp, Use::Load},
    {0xB7, Mode::ZpY, Use::Load},
    {0xAF, Mode::Abs, Use::Load},
    {0xBF, Mode::AbsY, Use::Load},
    {0xA3, Mode::IndX, Use::Load},
    {0xB3, Mode::IndY, Use::Load},
    {0x87, Mode::Zp, Use::Store},
    {0x97, Mode::ZpY, Use::Store},
    {0x8F, Mode::Abs, Use::Store},
    {0x83, Mode::IndX, Use::Store},
    {0xBB, Mode::AbsY, Use::Load},
    {0x0B, Mode::Imm, Use::Load},
    {0x2B, Mode::Imm, Use::Load},
    {0x4B, Mode::Imm, Use::Load},
    {0x6B, Mode::Imm, Use::Load},
    {0x8B, Mode::Imm, Use::Load},
    {0xAB, Mode::Imm, Use::Load},
    {0xCB, Mode::Imm, Use::Load},
    {0xEB, Mode::Imm, Use::Load},
    {0x80, Mode::Imm, Use::Load},
    {0x82, Mode::Imm, Use::Load},
    {0x89, Mode::Imm, Use::Load},
    {0xC2, Mode::Imm, Use::Load},
    {0xE2, Mode::Imm, Use::Load},
    {0x04, Mode::Zp, Use::Load},
    {0x44, Mode::Zp, Use::Load},
    {0x64, Mode::Zp, Use::Load},
    {0x14, Mode::ZpX, Use::Load},
    {0x34, Mode::ZpX, Use::Load},
    {0x54, Mode::ZpX, Use::Load},
    {0x74, Mode::ZpX, Use::Load},
    {0xD4, Mode::ZpX, Use::Load},
    {0xF4, Mode::ZpX, Use::Load},
    {0x0C, Mode::Abs, Use::Load},
    {0x1C, Mode::AbsX, Use::Load},
    {0x3C, Mode::AbsX, Use::Load},
    {0x5C, Mode::AbsX, Use::Load},
    {0x7C, Mode::AbsX, Use::Load},
    {0xDC, Mode::AbsX, Use::Load},
    {0xFC, Mode::AbsX, Use::Load},
};

TEST_F(CpuTest, EveryDataOpcodeUsesItsAddressingMode) {
    EXPECT_EQ(std::size(kMemoryOps), 8u * 8 - 1 + 5 + 5 + 3 + 3 + 3 + 3 + 2 + 6 * 4 +  // documented
                                         6 * 7 + 6 + 4 + 1 + 8 + 5 + 3 + 6 + 1 +
                                         6);  // undocumented
    for (const MemoryOp& op : kMemoryOps) {
        SCOPED_TRACE(::testing::Message() << "opcode $" << std::hex << int(op.opcode));
        bus = FlatBus{};
        // Operand bytes $80 $12; X = $05, Y = $0A; (zp,X) finds its pointer at $85, (zp),Y at $80.
        Start({op.opcode, 0x80, 0x12});
        cpu.X = 0x05;
        cpu.Y = 0x0A;
        bus.SetWord(0x0085, 0x3456);
        bus.SetWord(0x0080, 0x2340);
        std::vector<BusAccess> pointer;
        uint16_t address = 0;
        int length = 2;
        switch (op.mode) {
            case Mode::Imm: break;
            case Mode::Zp: address = 0x0080; break;
            case Mode::ZpX: address = 0x0085; break;
            case Mode::ZpY: address = 0x008A; break;
            case Mode::Abs: address = 0x1280, length = 3; break;
            case Mode::AbsX: address = 0x1285, length = 3; break;
            case Mode::AbsY: address = 0x128A, length = 3; break;
            case Mode::IndX:
                address = 0x3456;
                pointer = {BusFetch(0x0085, 0x56), BusFetch(0x0086, 0x34)};
                break;
            case Mode::IndY:
                address = 0x234A;
                pointer = {BusFetch(0x0080, 0x40), BusFetch(0x0081, 0x23)};
                break;
        }
        const uint8_t old = bus.memory[address];
        const int cycles = Step();
        EXPECT_EQ(cycles, CycleTable[op.opcode]);
        EXPECT_EQ(cpu.PC, 0x8000 + length);

        std::vector<BusAccess> expected = pointer;
        if (op.mode != Mode::Imm) {
            // A read-modify-write writes the unmodified byte back before the result.
            if (op.use == Use::Load || op.use == Use::Modify)
                expected.push_back(BusRead(address, old));
            if (op.use == Use::Modify) expected.push_back(BusWrite(address, old));
            if (op.use == Use::Store || op.use == Use::Modify) {
                expected.push_back(BusWrite(address, bus.memory[address]));
            }
        }
        EXPECT_EQ(LogAfterInstructionBytes(0x8000, length), expected);
        // The instruction's own bytes are fetched in order, and only those.
        for (int i = 0; i < length; ++i) {
            ASSERT_LT(size_t(i), bus.log.size());
            EXPECT_EQ(bus.log[i], BusFetch(uint16_t(0x8000 + i), bus.memory[0x8000 + i]));
        }
    }
}

TEST_F(CpuTest, LoadsFillTheirRegisterAndSetNZ) {
    struct Case {
        uint8_t opcode;
        uint8_t CpuState::*target;
    };
    const Case cases[] = {{0xA9, &CpuState::A}, {0xAD, &CpuState::A}, {0xA2, &CpuState::X},
                          {0xAE, &CpuState::X}, {0xA0, &CpuState::Y}, {0xAC, &CpuState::Y}};
    for (const Case& c : cases) {
        for (uint8_t value : {0x00, 0x45, 0x9C}) {
            SCOPED_TRACE(::testing::Message() << std::hex << int(c.opcode) << " " << int(value));
            bus = FlatBus{};
            Start({c.opcode, 0x00, 0x03});
            bus.memory[0x0300] = value;
            if (c.opcode == 0xA9 || c.opcode == 0xA2 || c.opcode == 0xA0)
                bus.memory[0x8001] = value;
            cpu.A = cpu.X = cpu.Y = 0x77;
            cpu.P = 0xFF & ~(FlagN | FlagZ);
            Step();
            EXPECT_EQ(cpu.*c.target, value);
            for (auto other : {&CpuState::A, &CpuState::X, &CpuState::Y}) {
                if (other != c.target) {
                    EXPECT_EQ(cpu.*other, 0x77);
                }
            }
            const uint8_t nz = value == 0 ? FlagZ : (value & 0x80 ? FlagN : 0);
            EXPECT_EQ(cpu.P, (0xFF & ~(FlagN | FlagZ)) | nz);
        }
    }
}

TEST_F(CpuTest, StoresWriteTheirRegisterAndLeaveFlags) {
    const std::pair<uint8_t, uint8_t> cases[] = {{0x8D, 0xA1}, {0x8E, 0xB2}, {0x8C, 0xC3}};
    for (auto [opcode, expected] : cases) {
        bus = FlatBus{};
        Start({opcode, 0x00, 0x03});
        cpu.A = 0xA1;
        cpu.X = 0xB2;
        cpu.Y = 0xC3;
        cpu.P = 0x22;
        Step();
        EXPECT_EQ(bus.memory[0x0300], expected) << std::hex << int(opcode);
        EXPECT_EQ(cpu.P, 0x22);
    }
}

TEST_F(CpuTest, ZeroPageIndexingWrapsWithinZeroPage) {
    const std::pair<uint8_t, uint16_t> cases[] = {
        {0xB5, 0x0010},  // LDA $F0,X
        {0xB6, 0x0010},  // LDX $F0,Y
        {0xB4, 0x0010},  // LDY $F0,X
        {0x95, 0x0010},  // STA $F0,X
    };
    for (auto [opcode, address] : cases) {
        bus = FlatBus{};
        Start({opcode, 0xF0});
        cpu.X = 0x20;
        cpu.Y = 0x20;
        Step();
        const BusAccess last = bus.log.back();
        EXPECT_EQ(last.address, address) << std::hex << int(opcode);
    }
}

TEST_F(CpuTest, AbsoluteIndexingWrapsAt64K) {
    Start({0xBD, 0xF0, 0xFF});  // LDA $FFF0,X
    cpu.X = 0x20;
    bus.memory[0x0010] = 0x5A;
    Step();
    EXPECT_EQ(cpu.A, 0x5A);
    EXPECT_EQ(bus.log.back(), BusRead(0x0010, 0x5A));
}

TEST_F(CpuTest, IndirectPointersAtFFTakeTheirHighByteFromPage1) {
    // LDA ($FF),Y
    Start({0xB1, 0xFF});
    cpu.Y = 0x02;
    bus.memory[0x00FF] = 0x00;
    bus.memory[0x0100] = 0x30;
    bus.memory[0x0000] = 0x70;  // would be the high byte if the pointer wrapped in page zero
    bus.memory[0x3002] = 0x66;
    Step();
    EXPECT_EQ(cpu.A, 0x66);
    std::vector<BusAccess> expected = {BusFetch(0x8000, 0xB1), BusFetch(0x8001, 0xFF),
                                       BusFetch(0x00FF, 0x00), BusFetch(0x0100, 0x30),
                                       BusRead(0x3002, 0x66)};
    EXPECT_EQ(bus.log, expected);

    // LDA ($FE,X) with X = 1: the pointer is at $FF/$0100 as well.
    bus = FlatBus{};
    Start({0xA1, 0xFE});
    cpu.X = 0x01;
    bus.memory[0x00FF] = 0x78;
    bus.memory[0x0100] = 0x56;
    bus.memory[0x5678] = 0x99;
    Step();
    EXPECT_EQ(cpu.A, 0x99);
    expected = {BusFetch(0x8000, 0xA1), BusFetch(0x8001, 0xFE), BusFetch(0x00FF, 0x78),
                BusFetch(0x0100, 0x56), BusRead(0x5678, 0x99)};
    EXPECT_EQ(bus.log, expected);

    // (zp,X): the pointer location itself wraps in page zero.
    bus = FlatBus{};
    Start({0xA1, 0xF0});
    cpu.X = 0x20;
    bus.SetWord(0x0010, 0x1234);
    bus.memory[0x1234] = 0x42;
    Step();
    EXPECT_EQ(cpu.A, 0x42);

    // (zp),Y: adding Y wraps at 64 KB.
    bus = FlatBus{};
    Start({0xB1, 0x40});
    cpu.Y = 0x20;
    bus.SetWord(0x0040, 0xFFF0);
    bus.memory[0x0010] = 0x24;
    Step();
    EXPECT_EQ(cpu.A, 0x24);
}

TEST_F(CpuTest, JumpsAbsoluteAndIndirect) {
    Start({0x4C, 0x34, 0x12});
    EXPECT_EQ(Step(), 3);
    EXPECT_EQ(cpu.PC, 0x1234);

    // JMP ($10FF): the pointer's high byte comes from $1100, read through the memory map.
    bus = FlatBus{};
    Start({0x6C, 0xFF, 0x10});
    bus.memory[0x10FF] = 0xCD;
    bus.memory[0x1100] = 0xAB;
    bus.memory[0x1000] = 0xEE;
    EXPECT_EQ(Step(), 5);
    EXPECT_EQ(cpu.PC, 0xABCD);
    const std::vector<BusAccess> expected = {BusFetch(0x8000, 0x6C), BusFetch(0x8001, 0xFF),
                                             BusFetch(0x8002, 0x10), BusRead(0x10FF, 0xCD),
                                             BusRead(0x1100, 0xAB)};
    EXPECT_EQ(bus.log, expected);

    // JMP ($FFFF) wraps to $0000 for the high byte.
    bus = FlatBus{};
    Start({0x6C, 0xFF, 0xFF});
    bus.memory[0xFFFF] = 0x21;
    bus.memory[0x0000] = 0x43;
    Step();
    EXPECT_EQ(cpu.PC, 0x4321);
}

// ---------------------------------------------------------------------------------------------
// Arithmetic and logic

struct AluCase {
    uint8_t opcode;
    uint8_t a;
    uint8_t value;
    uint8_t pIn;
    uint8_t aOut;
    uint8_t pOut;
};

class CpuAluTest : public CpuTest {
   protected:
    // Runs each case as a two-byte immediate instruction on a fresh machine.
    void Check(const std::vector<AluCase>& cases) {
        for (const AluCase& c : cases) {
            SCOPED_TRACE(::testing::Message()
                         << std::hex << "op " << int(c.opcode) << " A " << int(c.a) << " v "
                         << int(c.value) << " P " << int(c.pIn));
            bus = FlatBus{};
            Start({c.opcode, c.value});
            cpu.A = c.a;
            cpu.P = c.pIn;
            EXPECT_EQ(Step(), 2);
            EXPECT_EQ(cpu.A, c.aOut);
            EXPECT_EQ(cpu.P, c.pOut);
        }
    }
};

constexpr uint8_t U = FlagUnused;

TEST_F(CpuAluTest, LogicalOperations) {
    Check({
        {0x09, 0x0F, 0xF0, U, 0xFF, U | FlagN},                                  // ORA
        {0x09, 0x00, 0x00, U | FlagN, 0x00, U | FlagZ},                          // ORA to zero
        {0x29, 0xF0, 0x0F, U | FlagC | FlagV, 0x00, U | FlagC | FlagV | FlagZ},  // AND
        {0x29, 0xC3, 0x81, U, 0x81, U | FlagN},                                  // AND
        {0x49, 0xFF, 0x0F, U | FlagZ, 0xF0, U | FlagN},                          // EOR
        {0x49, 0x5A, 0x5A, U | FlagD, 0x00, U | FlagD | FlagZ},                  // EOR to zero
    });
}

TEST_F(CpuAluTest, BinaryAddAndSubtract) {
    Check({
        // ADC
        {0x69, 0x50, 0x50, U, 0xA0, U | FlagN | FlagV},
        {0x69, 0xFF, 0x01, U, 0x00, U | FlagZ | FlagC},
        {0x69, 0x7F, 0x00, U | FlagC, 0x80, U | FlagN | FlagV},
        {0x69, 0x80, 0xFF, U, 0x7F, U | FlagV | FlagC},
        {0x69, 0x01, 0x01, U | FlagC | FlagN | FlagZ | FlagV, 0x03, U},
        // SBC
        {0xE9, 0xD0, 0x70, U | FlagC, 0x60, U | FlagV | FlagC},
        {0xE9, 0x50, 0xB0, U | FlagC, 0xA0, U | FlagN | FlagV},
        {0xE9, 0x05, 0x03, U, 0x01, U | FlagC},
        {0xE9, 0x00, 0x01, U | FlagC, 0xFF, U | FlagN},
        {0xE9, 0x80, 0x01, U | FlagC, 0x7F, U | FlagV | FlagC},
        {0xE9, 0x40, 0x40, U | FlagC | FlagN, 0x00, U | FlagZ | FlagC},
    });
}

TEST_F(CpuAluTest, DecimalAddAndSubtractChangeOnlyCarry) {
    struct Decimal {
        uint8_t opcode, a, value;
        bool carryIn;
        uint8_t result;
        bool carryOut;
    };
    const Decimal cases[] = {
        {0x69, 0x09, 0x09, false, 0x18, false}, {0x69, 0x99, 0x01, false, 0x00, true},
        {0x69, 0x58, 0x46, true, 0x05, true},   {0x69, 0x12, 0x34, false, 0x46, false},
        {0xE9, 0x10, 0x01, true, 0x09, true},   {0xE9, 0x00, 0x01, true, 0x99, false},
        {0xE9, 0x50, 0x25, true, 0x25, true},   {0xE9, 0x46, 0x12, false, 0x33, true},
    };
    std::vector<AluCase> cases2;
    // N, V and Z keep their old values whether they were clear or set.
    for (uint8_t others : {uint8_t(0), uint8_t(FlagN | FlagV | FlagZ)}) {
        for (const Decimal& d : cases) {
            const uint8_t pIn = U | FlagD | others | (d.carryIn ? FlagC : 0);
            const uint8_t pOut = U | FlagD | others | (d.carryOut ? FlagC : 0);
            cases2.push_back({d.opcode, d.a, d.value, pIn, d.result, pOut});
        }
    }
    Check(cases2);
}

TEST_F(CpuAluTest, ComparesSetCarryZeroAndNegative) {
    // CMP, CPX, CPY compare their own register and leave it alone.
    struct Cmp {
        uint8_t opcode;
        uint8_t CpuState::*reg;
    };
    for (Cmp c : {Cmp{0xC9, &CpuState::A}, Cmp{0xE0, &CpuState::X}, Cmp{0xC0, &CpuState::Y}}) {
        struct Expect {
            uint8_t reg, value, p;
        };
        for (Expect e : {Expect{0x10, 0x20, U | FlagN}, Expect{0x20, 0x20, U | FlagZ | FlagC},
                         Expect{0x30, 0x20, U | FlagC}, Expect{0x80, 0x00, U | FlagN | FlagC},
                         Expect{0x00, 0xFF, U}}) {
            bus = FlatBus{};
            Start({c.opcode, e.value});
            cpu.A = cpu.X = cpu.Y = 0x55;
            cpu.*c.reg = e.reg;
            cpu.P = U | FlagV | FlagD;  // kept
            Step();
            EXPECT_EQ(cpu.P, e.p | FlagV | FlagD)
                << std::hex << int(c.opcode) << " " << int(e.reg) << " " << int(e.value);
            EXPECT_EQ(cpu.*c.reg, e.reg);
        }
    }
}

TEST_F(CpuTest, BitTakesNAndVFromMemoryAndZFromTheMask) {
    struct Case {
        uint8_t a, value, pIn, pOut;
    };
    const uint8_t kept = FlagC | FlagI | FlagD | FlagB | U;
    for (Case c : {Case{0x0F, 0xC0, kept, kept | FlagN | FlagV | FlagZ},
                   Case{0xFF, 0x01, kept | FlagN | FlagV | FlagZ, kept},
                   Case{0x01, 0x41, U, U | FlagV}, Case{0x00, 0x80, U, U | FlagN | FlagZ}}) {
        bus = FlatBus{};
        Start({0x24, 0x10});
        bus.memory[0x0010] = c.value;
        cpu.A = c.a;
        cpu.P = c.pIn;
        Step();
        EXPECT_EQ(cpu.P, c.pOut) << std::hex << int(c.a) << " " << int(c.value);
        EXPECT_EQ(cpu.A, c.a);
    }
}

// ---------------------------------------------------------------------------------------------
// Shifts, rotates, increments and decrements

TEST_F(CpuTest, AccumulatorShiftsAndRotates) {
    struct Case {
        uint8_t opcode, a, pIn, aOut, pOut;
    };
    const Case cases[] = {
        {0x0A, 0x81, U, 0x02, U | FlagC},         {0x0A, 0x40, U | FlagC, 0x80, U | FlagN},
        {0x0A, 0x80, U, 0x00, U | FlagZ | FlagC}, {0x4A, 0x01, U | FlagN, 0x00, U | FlagZ | FlagC},
        {0x4A, 0xFE, U | FlagC, 0x7F, U},         {0x2A, 0x80, U | FlagC, 0x01, U | FlagC},
        {0x2A, 0x40, U, 0x80, U | FlagN},         {0x6A, 0x01, U | FlagC, 0x80, U | FlagN | FlagC},
        {0x6A, 0x02, U | FlagV, 0x01, U | FlagV}, {0x6A, 0x01, U, 0x00, U | FlagZ | FlagC},
    };
    for (const Case& c : cases) {
        bus = FlatBus{};
        Start({c.opcode});
        cpu.A = c.a;
        cpu.P = c.pIn;
        EXPECT_EQ(Step(), 2);
        EXPECT_EQ(cpu.A, c.aOut) << std::hex << int(c.opcode) << " " << int(c.a);
        EXPECT_EQ(cpu.P, c.pOut) << std::hex << int(c.opcode) << " " << int(c.a);
        EXPECT_EQ(cpu.PC, 0x8001);
    }
}

TEST_F(CpuTest, MemoryReadModifyWriteWritesTheUnmodifiedByteThenTheResult) {
    struct Case {
        uint8_t opcode, value, pIn, result, pOut;
    };
    const Case cases[] = {
        {0x06, 0x81, U, 0x02, U | FlagC},                  // ASL
        {0x46, 0x03, U, 0x01, U | FlagC},                  // LSR
        {0x26, 0x80, U | FlagC, 0x01, U | FlagC},          // ROL
        {0x66, 0x00, U | FlagC, 0x80, U | FlagN},          // ROR
        {0xE6, 0xFF, U | FlagC, 0x00, U | FlagC | FlagZ},  // INC keeps C
        {0xC6, 0x00, U, 0xFF, U | FlagN},                  // DEC
        {0xC6, 0x01, U | FlagN, 0x00, U | FlagZ},          // DEC
    };
    for (const Case& c : cases) {
        bus = FlatBus{};
        Start({c.opcode, 0x42});
        bus.memory[0x0042] = c.value;
        cpu.A = 0x33;
        cpu.P = c.pIn;
        Step();
        SCOPED_TRACE(::testing::Message() << std::hex << int(c.opcode));
        EXPECT_EQ(bus.memory[0x0042], c.result);
        EXPECT_EQ(cpu.P, c.pOut);
        EXPECT_EQ(cpu.A, 0x33);
        const std::vector<BusAccess> expected = {
            BusFetch(0x8000, c.opcode), BusFetch(0x8001, 0x42), BusRead(0x0042, c.value),
            BusWrite(0x0042, c.value), BusWrite(0x0042, c.result)};
        EXPECT_EQ(bus.log, expected);
    }
}

TEST_F(CpuTest, RegisterIncrementsDecrementsAndTransfers) {
    struct Case {
        uint8_t opcode;
        uint8_t a, x, y, s;
        uint8_t aOut, xOut, yOut, sOut;
        uint8_t nz;
    };
    const Case cases[] = {
        {0xE8, 0, 0xFF, 0, 0xFF, 0, 0x00, 0, 0xFF, FlagZ},        // INX wraps
        {0xC8, 0, 0, 0x7F, 0xFF, 0, 0, 0x80, 0xFF, FlagN},        // INY
        {0xCA, 0, 0x00, 0, 0xFF, 0, 0xFF, 0, 0xFF, FlagN},        // DEX wraps
        {0x88, 0, 0, 0x01, 0xFF, 0, 0, 0x00, 0xFF, FlagZ},        // DEY
        {0xAA, 0x80, 0, 0, 0xFF, 0x80, 0x80, 0, 0xFF, FlagN},     // TAX
        {0xA8, 0x00, 0, 5, 0xFF, 0x00, 0, 0x00, 0xFF, FlagZ},     // TAY
        {0x8A, 0x11, 0x22, 0, 0xFF, 0x22, 0x22, 0, 0xFF, 0},      // TXA
        {0x98, 0x11, 0, 0x90, 0xFF, 0x90, 0, 0x90, 0xFF, FlagN},  // TYA
        {0xBA, 0, 0, 0, 0x80, 0, 0x80, 0, 0x80, FlagN},           // TSX with S = $80
        {0xBA, 0, 7, 0, 0x00, 0, 0x00, 0, 0x00, FlagZ},           // TSX with S = 0
    };
    for (const Case& c : cases) {
        bus = FlatBus{};
        Start({c.opcode});
        cpu.A = c.a;
        cpu.X = c.x;
        cpu.Y = c.y;
        cpu.S = c.s;
        cpu.P = U | FlagC | FlagN | FlagZ;
        EXPECT_EQ(Step(), 2);
        SCOPED_TRACE(::testing::Message() << std::hex << int(c.opcode));
        EXPECT_EQ(cpu.A, c.aOut);
        EXPECT_EQ(cpu.X, c.xOut);
        EXPECT_EQ(cpu.Y, c.yOut);
        EXPECT_EQ(cpu.S, c.sOut);
        EXPECT_EQ(cpu.P, U | FlagC | c.nz);
    }

    // TXS changes no flag.
    Start({0x9A});
    cpu.X = 0x00;
    cpu.P = U;
    Step();
    EXPECT_EQ(cpu.S, 0x00);
    EXPECT_EQ(cpu.P, U);
}

TEST_F(CpuTest, FlagInstructions) {
    struct Case {
        uint8_t opcode, pIn, pOut;
    };
    const Case cases[] = {
        {0x18, 0xFF, 0xFE}, {0x38, 0x20, 0x21}, {0x58, 0xFF, 0xFB}, {0x78, 0x20, 0x24},
        {0xD8, 0xFF, 0xF7}, {0xF8, 0x20, 0x28}, {0xB8, 0xFF, 0xBF}, {0xEA, 0xFF, 0xFF},
    };
    for (const Case& c : cases) {
        bus = FlatBus{};
        Start({c.opcode});
        cpu.P = c.pIn;
        EXPECT_EQ(Step(), 2);
        EXPECT_EQ(cpu.P, c.pOut) << std::hex << int(c.opcode);
        EXPECT_EQ(cpu.PC, 0x8001);
        EXPECT_EQ(bus.log.size(), 1u);
    }
}

// ---------------------------------------------------------------------------------------------
// Branches

TEST_F(CpuTest, BranchesTakenAndNotTaken) {
    struct Branch {
        uint8_t opcode, flag;
        bool takenWhenSet;
    };
    const Branch branches[] = {{0x10, FlagN, false}, {0x30, FlagN, true},  {0x50, FlagV, false},
                               {0x70, FlagV, true},  {0x90, FlagC, false}, {0xB0, FlagC, true},
                               {0xD0, FlagZ, false}, {0xF0, FlagZ, true}};
    for (const Branch& b : branches) {
        for (bool flagSet : {false, true}) {
            const bool taken = flagSet == b.takenWhenSet;
            for (uint8_t offset : {0x10, 0xF0}) {
                SCOPED_TRACE(::testing::Message() << std::hex << int(b.opcode) << " flag "
                                                  << flagSet << " offset " << int(offset));
                bus = FlatBus{};
                Start({b.opcode, offset}, 0x8040);
                cpu.P = uint8_t(U | (flagSet ? b.flag : 0));
                const int cycles = Step();
                EXPECT_EQ(cpu.P, U | (flagSet ? b.flag : 0));
                if (taken) {
                    EXPECT_EQ(cycles, 3);
                    EXPECT_EQ(cpu.PC, uint16_t(0x8042 + int8_t(offset)));
                    const std::vector<BusAccess> expected = {BusFetch(0x8040, b.opcode),
                                                             BusFetch(0x8041, offset)};
                    EXPECT_EQ(bus.log, expected);
                } else {
                    EXPECT_EQ(cycles, 2);
                    EXPECT_EQ(cpu.PC, 0x8042);
                    const std::vector<BusAccess> expected = {BusFetch(0x8040, b.opcode)};
                    EXPECT_EQ(bus.log, expected);
                }
            }
        }
    }
}

TEST_F(CpuTest, BranchCostsNoMoreAcrossPagesAndWrapsAt64K) {
    struct Case {
        uint16_t at;
        uint8_t offset;
        uint16_t target;
    };
    const Case cases[] = {
        {0x80F0, 0x20, 0x8112},  // into the next page
        {0xC000, 0xFE, 0xC000},  // onto itself
        {0xFFF0, 0x7F, 0x0071},  // past the top
        {0x0010, 0x80, 0xFF92},  // below the bottom
    };
    for (const Case& c : cases) {
        Start({0xD0, c.offset}, c.at);  // BNE
        cpu.P = 0x20;
        EXPECT_EQ(Step(), 3);
        EXPECT_EQ(cpu.PC, c.target);
    }
}

// ---------------------------------------------------------------------------------------------
// Stack, subroutines and BRK

TEST_F(CpuTest, PushAndPullAccumulatorAndStatus) {
    Start({0x08, 0x48, 0xA9, 0x00, 0x68, 0x28});  // PHP PHA LDA #0 PLA PLP
    cpu.A = 0x9C;
    EXPECT_EQ(Step(), 3);
    EXPECT_EQ(Step(), 3);
    EXPECT_EQ(bus.memory[0x01FF], 0x22);  // PHP after reset pushes $22: bit 4 not forced
    EXPECT_EQ(bus.memory[0x01FE], 0x9C);
    EXPECT_EQ(cpu.S, 0xFD);
    Step();
    EXPECT_EQ(cpu.A, 0x00);
    bus.log.clear();
    bus.memory[0x01FF] = 0x00;  // PLP of $00 gives $20
    EXPECT_EQ(Step(), 4);       // PLA
    EXPECT_EQ(cpu.A, 0x9C);
    EXPECT_EQ(cpu.P, 0x20 | FlagN);
    EXPECT_EQ(Step(), 4);  // PLP
    EXPECT_EQ(cpu.P, 0x20);
    EXPECT_EQ(cpu.S, 0xFF);
    // Pulls use the side-effect-free fetch, never the memory map's read.
    const std::vector<BusAccess> expected = {BusFetch(0x8004, 0x68), BusFetch(0x01FE, 0x9C),
                                             BusFetch(0x8005, 0x28), BusFetch(0x01FF, 0x00)};
    EXPECT_EQ(bus.log, expected);
}

TEST_F(CpuTest, PullOfStatusKeepsBit4AsPulledAndForcesBit5) {
    Start({0x28});
    cpu.S = 0xFF;  // pull wraps to $0100
    bus.memory[0x0100] = 0xDF;
    Step();
    EXPECT_EQ(cpu.P, 0xFF);
    EXPECT_EQ(cpu.S, 0x00);

    Start({0x08});
    cpu.S = 0x00;  // push at $0100 wraps S to $FF
    cpu.P = 0x30;
    Step();
    EXPECT_EQ(bus.memory[0x0100], 0x30);
    EXPECT_EQ(cpu.S, 0xFF);
}

TEST_F(CpuTest, JsrPushesAddressOfItsLastByteAndRtsReturnsPastIt) {
    Start({0x20, 0x00, 0x90});  // JSR $9000
    bus.Load(0x9000, {0x60});   // RTS
    EXPECT_EQ(Step(), 6);
    EXPECT_EQ(cpu.PC, 0x9000);
    EXPECT_EQ(cpu.S, 0xFD);
    std::vector<BusAccess> expected = {BusFetch(0x8000, 0x20), BusFetch(0x8001, 0x00),
                                       BusFetch(0x8002, 0x90), BusWrite(0x01FF, 0x80),
                                       BusWrite(0x01FE, 0x02)};
    EXPECT_EQ(bus.log, expected);
    bus.log.clear();
    EXPECT_EQ(Step(), 6);
    EXPECT_EQ(cpu.PC, 0x8003);
    EXPECT_EQ(cpu.S, 0xFF);
    expected = {BusFetch(0x9000, 0x60), BusFetch(0x01FE, 0x02), BusFetch(0x01FF, 0x80)};
    EXPECT_EQ(bus.log, expected);
}

TEST_F(CpuTest, BrkPushesSkipAddressAndStatusWithBit4ThenRtiRestores) {
    Start({0x00, 0xEA, 0xEA});
    bus.SetWord(0xFFFE, 0xA000);
    bus.Load(0xA000, {0x40});  // RTI
    cpu.P = 0x22 | FlagD;
    EXPECT_EQ(Step(), 7);
    EXPECT_EQ(cpu.PC, 0xA000);
    EXPECT_EQ(cpu.P, 0x22 | FlagI);  // I set, D cleared, B not set in P itself
    std::vector<BusAccess> expected = {BusFetch(0x8000, 0x00), BusWrite(0x01FF, 0x80),
                                       BusWrite(0x01FE, 0x02), BusWrite(0x01FD, 0x3A),
                                       BusRead(0xFFFE, 0x00),  BusRead(0xFFFF, 0xA0)};
    EXPECT_EQ(bus.log, expected);

    bus.log.clear();
    EXPECT_EQ(Step(), 6);
    EXPECT_EQ(cpu.PC, 0x8002);  // no +1 on RTI
    EXPECT_EQ(cpu.P, 0x3A);     // bit 4 as pushed by BRK stays set
    EXPECT_EQ(cpu.S, 0xFF);
    expected = {BusFetch(0xA000, 0x40), BusFetch(0x01FD, 0x3A), BusFetch(0x01FE, 0x02),
                BusFetch(0x01FF, 0x80)};
    EXPECT_EQ(bus.log, expected);

    // After reset, BRK pushes $32.
    bus = FlatBus{};
    Start({0x00});
    Step();
    EXPECT_EQ(bus.memory[0x01FD], 0x32);
}

TEST_F(CpuTest, InterruptThenRtiResumesTheInterruptedInstruction) {
    Start({0xEA});
    bus.SetWord(0xFFFA, 0xB000);
    bus.Load(0xB000, {0x40});
    cpu.P = U | FlagC | FlagN;
    CpuInterrupt(cpu, bus, IR::Nmi);
    Step();
    EXPECT_EQ(cpu.PC, 0x8000);
    EXPECT_EQ(cpu.P, U | FlagC | FlagN);
    EXPECT_EQ(cpu.S, 0xFF);
}

// ---------------------------------------------------------------------------------------------
// Undocumented opcodes

const uint8_t kUndocumented[] = {
    0x02, 0x03, 0x04, 0x07, 0x0B, 0x0C, 0x0F, 0x12, 0x13, 0x14, 0x17, 0x1A, 0x1B, 0x1C, 0x1F,
    0x22, 0x23, 0x27, 0x2B, 0x2F, 0x32, 0x33, 0x34, 0x37, 0x3A, 0x3B, 0x3C, 0x3F, 0x42, 0x43,
    0x44, 0x47, 0x4B, 0x4F, 0x52, 0x53, 0x54, 0x57, 0x5A, 0x5B, 0x5C, 0x5F, 0x62, 0x63, 0x64,
    0x67, 0x6B, 0x6F, 0x72, 0x73, 0x74, 0x77, 0x7A, 0x7B, 0x7C, 0x7F, 0x80, 0x82, 0x83, 0x87,
    0x89, 0x8B, 0x8F, 0x92, 0x93, 0x97, 0x9B, 0x9C, 0x9E, 0x9F, 0xA3, 0xA7, 0xAB, 0xAF, 0xB2,
    0xB3, 0xB7, 0xBB, 0xBF, 0xC2, 0xC3, 0xC7, 0xCB, 0xCF, 0xD2, 0xD3, 0xD4, 0xD7, 0xDA, 0xDB,
    0xDC, 0xDF, 0xE2, 0xE3, 0xE7, 0xEB, 0xEF, 0xF2, 0xF3, 0xF4, 0xF7, 0xFA, 0xFB, 0xFC, 0xFF,
};

const uint8_t kJams[] = {0x02, 0x12, 0x22, 0x32, 0x42, 0x52, 0x62, 0x72, 0x92, 0xB2, 0xD2, 0xF2};

// The length of an undocumented opcode on the NMOS 6502, from its place in the opcode matrix.
int UndocumentedLength(uint8_t opcode) {
    switch (opcode & 0x1F) {
        case 0x1A: return 1;  // the implied NOPs
        case 0x0C:
        case 0x0F:
        case 0x1B:
        case 0x1C:
        case 0x1E:  // absolute, absolute,X/Y
        case 0x1F: return 3;
        default: return 2;  // immediate, zp, (zp)
    }
}

TEST_F(CpuTest, UndocumentedOpcodesTakeTheirLengthAndBaseCycles) {
    ASSERT_EQ(std::size(kUndocumented), 105u);
    const int baseCycles[][2] = {{0x1C, 4}, {0xBB, 4}, {0x03, 8}, {0x13, 8}, {0x1B, 7},
                                 {0x9F, 5}, {0x93, 6}, {0xA7, 3}, {0xB3, 5}, {0xEB, 2}};
    for (const auto& [opcode, cycles] : baseCycles) EXPECT_EQ(CycleTable[opcode], cycles);
    for (uint8_t opcode : kUndocumented) {
        if (std::count(std::begin(kJams), std::end(kJams), opcode)) continue;
        SCOPED_TRACE(::testing::Message() << "opcode $" << std::hex << int(opcode));
        bus = FlatBus{};
        Start({opcode, 0x40, 0x03});
        cpu.S = 0xF0;
        EXPECT_EQ(Step(), CycleTable[opcode]);
        EXPECT_EQ(cpu.PC, 0x8000 + UndocumentedLength(opcode));
    }
}

TEST_F(CpuTest, UnstableOpcodesFollowTheirCommonDescription) {
    // TAS abs,Y: S = A AND X, then S AND (high byte + 1) at the address.
    Start({0x9B, 0x00, 0x12});
    cpu.A = 0xF3;
    cpu.X = 0x7E;
    cpu.Y = 0x04;
    Step();
    EXPECT_EQ(cpu.S, 0x72);
    EXPECT_EQ(bus.memory[0x1204], 0x72 & 0x13);
    // SHY abs,X across a page: the stored byte also replaces the address's high byte.
    Start({0x9C, 0xF0, 0x12});
    cpu.Y = 0x05;
    cpu.X = 0x20;
    Step();
    EXPECT_EQ(bus.log.back(), BusWrite(0x0110, 0x05 & 0x13));
    // XAA and LAX #imm mix in $EE.
    Start({0x8B, 0xFF, 0xAB, 0x3C});
    cpu.A = 0x00;
    cpu.X = 0xFF;
    Step();
    EXPECT_EQ(cpu.A, 0xEE);
    cpu.A = 0x11;
    Step();
    EXPECT_EQ(cpu.A, 0x3C);
    EXPECT_EQ(cpu.X, 0x3C);
}

TEST_F(CpuTest, AJamStopsTheCpuUntilReset) {
    for (uint8_t opcode : kJams) {
        SCOPED_TRACE(::testing::Message() << "opcode $" << std::hex << int(opcode));
        bus = FlatBus{};
        Start({0xEA, opcode, 0xE8});
        bus.SetWord(0xFFFA, 0x9000);
        bus.SetWord(0xFFFE, 0x9000);
        bus.SetWord(0xFFFC, 0x8000);
        // The run loop: the JAM ends the scanline at once, and from then on it is the only
        // instruction fetched; neither interrupt is entered.
        bus.script = {IR::Nmi, IR::Irq, IR::NmiAfterInstruction, IR::Stop};
        cpu.P = 0x20;
        CpuRun(cpu, bus);
        EXPECT_TRUE(cpu.Jammed);
        EXPECT_FALSE(cpu.NmiPending);
        EXPECT_EQ(cpu.PC, 0x8001);
        EXPECT_EQ(cpu.S, 0xFF);
        EXPECT_EQ(bus.endOfScanlineCalls, 4);
        // A debugger step stays on it too.
        EXPECT_EQ(CpuDebugStep(cpu, bus), 0x8001);
        CpuReset(cpu, bus);
        EXPECT_FALSE(cpu.Jammed);
        EXPECT_EQ(CpuStepInstruction(cpu, bus), 0x8001);
    }
}

// ---------------------------------------------------------------------------------------------
// Run loop

// Fills `count` bytes at `at` with NOP.
void FillNops(FlatBus& bus, uint16_t at, int count) {
    for (int i = 0; i < count; ++i) bus.memory[uint16_t(at + i)] = 0xEA;
}

TEST_F(CpuTest, RunDropsOvershootAndCallsEndOfScanlineOnce) {
    Start({0xAD, 0x00, 0x03, 0xEA});  // LDA $0300 (4 cycles) with 3 left
    cpu.CycleBudget = 3;
    bus.script = {IR::Stop};
    CpuRun(cpu, bus);
    EXPECT_EQ(bus.endOfScanlineCalls, 1);
    EXPECT_EQ(cpu.CycleBudget, 122);
    EXPECT_EQ(cpu.PC, 0x8003);

    // A 7-cycle instruction with 1 cycle left: still exactly 122 afterwards.
    Start({0x00});
    bus.SetWord(0xFFFE, 0x8100);
    cpu.CycleBudget = 1;
    bus.endOfScanlineCalls = 0;
    bus.script = {IR::Stop};
    CpuRun(cpu, bus);
    EXPECT_EQ(bus.endOfScanlineCalls, 1);
    EXPECT_EQ(cpu.CycleBudget, 122);
    EXPECT_EQ(cpu.PC, 0x8100);
}

TEST_F(CpuTest, RunExecutesBeforeTestingTheBudgetOnEntry) {
    Start({0xEA, 0xEA});
    cpu.CycleBudget = 0;
    bus.script = {IR::Stop};
    CpuRun(cpu, bus);
    EXPECT_EQ(bus.endOfScanlineCalls, 1);
    EXPECT_EQ(cpu.PC, 0x8001);
}

TEST_F(CpuTest, SixtyOneNopsMakeOneScanline) {
    Start({});
    FillNops(bus, 0x8000, 200);
    std::vector<uint16_t> pcAtCall;
    bus.onEndOfScanline = [&] {
        pcAtCall.push_back(cpu.PC);
        return IR::None;
    };
    bus.script = {IR::None, IR::Stop};
    CpuRun(cpu, bus);
    EXPECT_EQ(pcAtCall, (std::vector<uint16_t>{0x8000 + 61, 0x8000 + 122}));
    EXPECT_EQ(cpu.PC, 0x8000 + 122);
}

TEST_F(CpuTest, RunEntersReportedInterruptWithItsCyclesFromTheFreshBudget) {
    Start({});
    FillNops(bus, 0x8000, 100);
    FillNops(bus, 0x9000, 100);
    bus.SetWord(0xFFFA, 0x9000);
    std::vector<CpuState> atCall;
    bus.onEndOfScanline = [&] {
        atCall.push_back(cpu);
        return IR::None;
    };
    bus.script = {IR::Nmi, IR::Stop};
    CpuRun(cpu, bus);
    ASSERT_EQ(atCall.size(), 2u);
    EXPECT_EQ(atCall[0].PC, 0x8000 + 61);
    // 122 - 7 = 115 cycles: the 58th NOP of the handler uses them up.
    EXPECT_EQ(atCall[1].PC, 0x9000 + 58);
    EXPECT_EQ(atCall[1].CycleBudget, -1);
    EXPECT_EQ(bus.Word(0x01FE), 0x8000 + 61);  // return address pushed
    EXPECT_EQ(cpu.CycleBudget, 122);
}

TEST_F(CpuTest, TheVerticalBlankNmiIsEnteredAfterOneMoreInstruction) {
    // The same run without and with a hook (which sees the budget the instruction starts with).
    for (const bool hooked : {false, true}) {
        SCOPED_TRACE(hooked ? "hooked" : "plain");
        bus = FlatBus{};
        Start({});
        FillNops(bus, 0x8000, 100);
        FillNops(bus, 0x9000, 100);
        bus.SetWord(0xFFFA, 0x9000);
        std::vector<CpuState> atCall;
        bus.onEndOfScanline = [&] {
            atCall.push_back(cpu);
            return IR::None;
        };
        bus.script = {IR::NmiAfterInstruction, IR::Stop};
        std::vector<CpuState> seen;
        if (hooked) {
            CpuRun(cpu, bus, [&](const CpuState& s) { seen.push_back(s); });
            ASSERT_GE(seen.size(), 63u);
            EXPECT_EQ(seen[61].PC, 0x8000 + 61);  // the instruction after the line's end...
            EXPECT_EQ(seen[61].CycleBudget, 122);
            EXPECT_FALSE(seen[61].NmiPending && seen[62].PC != 0x9000);
            EXPECT_EQ(seen[62].PC, 0x9000);  // ...then the handler
            EXPECT_EQ(seen[62].CycleBudget, 122 - 2 - 7);
        } else {
            CpuRun(cpu, bus);
        }
        ASSERT_EQ(atCall.size(), 2u);
        EXPECT_EQ(atCall[0].PC, 0x8000 + 61);
        EXPECT_EQ(bus.Word(0x01FE), 0x8000 + 62);  // return address: past that instruction
        // 122 - 2 - 7 = 113 cycles: the 57th NOP of the handler uses them up.
        EXPECT_EQ(atCall[1].PC, 0x9000 + 57);
        EXPECT_EQ(atCall[1].CycleBudget, -1);
        EXPECT_FALSE(cpu.NmiPending);
    }
    // A debugger step does the same: the step that ends the line only marks the NMI pending.
    bus = FlatBus{};
    Start({0xAD, 0x00, 0x03, 0xEA});
    bus.SetWord(0xFFFA, 0xC5A0);
    cpu.CycleBudget = 2;
    bus.script = {IR::NmiAfterInstruction};
    EXPECT_EQ(CpuDebugStep(cpu, bus), 0x8003);
    EXPECT_TRUE(cpu.NmiPending);
    EXPECT_EQ(CpuDebugStep(cpu, bus), 0xC5A0);
    EXPECT_EQ(bus.Word(0x01FE), 0x8004);
    EXPECT_EQ(cpu.CycleBudget, 122 - 2 - 7);
}

TEST_F(CpuTest, MaskedIrqAtScanlineEndIsLostForGood) {
    // SEI, NOPs ... the Irq arrives while I is set; a later CLI does not bring it back.
    Start({0x78});
    FillNops(bus, 0x8001, 60);
    bus.Load(0x8001 + 60, {0x58});  // CLI
    FillNops(bus, 0x8001 + 61, 200);
    bus.SetWord(0xFFFE, 0x4000);
    bus.script = {IR::Irq, IR::None, IR::Stop};
    CpuRun(cpu, bus);
    EXPECT_EQ(bus.endOfScanlineCalls, 3);
    EXPECT_EQ(cpu.S, 0xFF);
    EXPECT_GT(cpu.PC, 0x8001 + 61);
    EXPECT_LT(cpu.PC, 0x8200);
    for (const BusAccess& a : bus.log) EXPECT_NE(a.kind, AccessKind::Write);
}

TEST_F(CpuTest, RunStopsAndResumesAtTheSamePlace) {
    // Loop: INC $10 ; JMP loop
    Start({0xE6, 0x10, 0x4C, 0x00, 0x80});
    bus.script = {IR::None, IR::Stop};
    CpuRun(cpu, bus);
    EXPECT_EQ(cpu.CycleBudget, 122);
    const uint16_t stoppedAt = cpu.PC;
    const uint8_t countAtStop = bus.memory[0x10];
    EXPECT_GT(countAtStop, 25);

    // Resuming continues with the next instruction, not from a reset.
    bus.log.clear();
    bus.script = {IR::Stop};
    CpuRun(cpu, bus);
    ASSERT_FALSE(bus.log.empty());
    EXPECT_EQ(bus.log.front().address, stoppedAt);
    EXPECT_GT(bus.memory[0x10], countAtStop);
}

TEST_F(CpuTest, EndOfScanlineSeesAndEditsTheCallersRecord) {
    // LDA #$11, 60 NOPs (122 cycles in all), STX $20, then a self loop.
    Start({0xA9, 0x11});
    FillNops(bus, 0x8002, 60);
    bus.Load(0x8002 + 60, {0x86, 0x20, 0x4C, 0x40, 0x80});
    int calls = 0;
    bus.onEndOfScanline = [&] {
        if (++calls == 1) {
            EXPECT_EQ(cpu.A, 0x11);
            EXPECT_EQ(cpu.PC, 0x8002 + 60);
            EXPECT_EQ(cpu.CycleBudget, 0);
            cpu.X = 0x42;            // as the debugger would
            cpu.CycleBudget = 9999;  // reloaded from CyclesPerLine regardless
            return IR::None;
        }
        return IR::Stop;
    };
    bus.afterScript = IR::None;
    CpuRun(cpu, bus);
    EXPECT_EQ(bus.memory[0x20], 0x42);
    EXPECT_EQ(calls, 2);
}

TEST_F(CpuTest, NestedRunContinuesWhereTheInnerRunStopped) {
    Start({});
    FillNops(bus, 0x8000, 400);
    int depth = 0;
    std::vector<uint16_t> pcAtCall;
    bus.onEndOfScanline = [&] {
        pcAtCall.push_back(cpu.PC);
        if (pcAtCall.size() == 1) {
            ++depth;
            CpuRun(cpu, bus);  // ends at its own scanline end (call 2)
            --depth;
            return IR::None;
        }
        return IR::Stop;
    };
    bus.afterScript = IR::None;
    CpuRun(cpu, bus);
    EXPECT_EQ(depth, 0);
    // The inner run starts from the record as the outer run handed it over, budget used up:
    // one instruction, then its scanline ends (and it stops). The outer run then resumes from
    // the inner run's PC with a fresh budget.
    EXPECT_EQ(pcAtCall, (std::vector<uint16_t>{0x8000 + 61, 0x8000 + 62, 0x8000 + 123}));
}

// ---------------------------------------------------------------------------------------------
// Debugger steps

TEST_F(CpuTest, DebugStepWithinTheScanlineDoesNoScanlineWork) {
    Start({0xA9, 0x05, 0xEA});
    EXPECT_EQ(CpuDebugStep(cpu, bus), 0x8002);
    EXPECT_EQ(bus.endOfScanlineCalls, 0);
    EXPECT_EQ(cpu.CycleBudget, 120);
    EXPECT_EQ(cpu.A, 0x05);
}

TEST_F(CpuTest, DebugStepSixtyOneNops) {
    Start({});
    FillNops(bus, 0x8000, 61);
    for (int i = 0; i < 60; ++i) CpuDebugStep(cpu, bus);
    EXPECT_EQ(bus.endOfScanlineCalls, 0);
    EXPECT_EQ(cpu.CycleBudget, 2);
    bus.script = {IR::None};
    EXPECT_EQ(CpuDebugStep(cpu, bus), 0x8000 + 61);
    EXPECT_EQ(bus.endOfScanlineCalls, 1);
    EXPECT_EQ(cpu.CycleBudget, 122);
}

TEST_F(CpuTest, DebugStepEntersReportedNmi) {
    Start({0xAD, 0x00, 0x03});
    bus.SetWord(0xFFFA, 0xC5A0);
    cpu.CycleBudget = 2;
    bus.script = {IR::Nmi};
    EXPECT_EQ(CpuDebugStep(cpu, bus), 0xC5A0);
    EXPECT_EQ(bus.endOfScanlineCalls, 1);
    EXPECT_EQ(cpu.CycleBudget, 115);
    EXPECT_EQ(bus.Word(0x01FE), 0x8003);
}

TEST_F(CpuTest, DebugStepIgnoresStopAndDropsMaskedIrq) {
    Start({0xA2, 0x07, 0xEA});
    cpu.CycleBudget = 1;
    bus.script = {IR::Stop};
    EXPECT_EQ(CpuDebugStep(cpu, bus), 0x8002);
    EXPECT_EQ(cpu.X, 0x07);
    EXPECT_EQ(cpu.CycleBudget, 122);

    cpu.CycleBudget = 1;
    cpu.P |= FlagI;
    bus.script = {IR::Irq};
    EXPECT_EQ(CpuDebugStep(cpu, bus), 0x8003);
    EXPECT_EQ(cpu.S, 0xFF);
    EXPECT_EQ(cpu.CycleBudget, 122);
}

// ---------------------------------------------------------------------------------------------
// The run loop and the debugger's stepping agree on random programs

// Reports the first difference between two access logs.
::testing::AssertionResult SameLog(const std::vector<BusAccess>& a,
                                   const std::vector<BusAccess>& b) {
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        if (!(a[i] == b[i])) {
            return ::testing::AssertionFailure() << "entry " << i << ": " << a[i] << " vs " << b[i];
        }
    }
    if (a.size() != b.size()) {
        return ::testing::AssertionFailure() << "lengths " << a.size() << " vs " << b.size();
    }
    return ::testing::AssertionSuccess();
}

TEST(CpuEquivalenceTest, RunLoopAndSteppingAgreeOnRandomPrograms) {
    for (unsigned seed : {1u, 2u, 3u, 4u}) {
        SCOPED_TRACE(::testing::Message() << "seed " << seed);
        std::mt19937 random(seed);
        FlatBus busRun;
        for (auto& b : busRun.memory) b = uint8_t(random());
        // The script: mostly plain scanlines, some interrupts, then Stop.
        const int lines = 1500;
        for (int i = 0; i < lines - 1; ++i) {
            const unsigned r = random() % 10;
            busRun.script.push_back(r == 0 ? IR::Irq : r == 1 ? IR::Nmi : IR::None);
        }
        busRun.script.push_back(IR::Stop);
        FlatBus busStep = busRun;

        CpuState start;
        CpuReset(start, busRun);
        busRun.log.clear();
        busStep.log.clear();
        const FlatBus initial = busRun;

        CpuState run = start;
        std::vector<CpuState> hookStates;
        CpuRun(run, busRun, [&](const CpuState& s) { hookStates.push_back(s); });

        CpuState step = start;
        std::vector<CpuState> stepStates;
        while (busStep.endOfScanlineCalls < lines) {
            stepStates.push_back(step);
            const uint16_t pc = CpuDebugStep(step, busStep);
            ASSERT_EQ(pc, step.PC);
        }

        EXPECT_EQ(busRun.endOfScanlineCalls, lines);
        EXPECT_EQ(std::memcmp(&run, &step, sizeof run), 0);
        EXPECT_TRUE(busRun.memory == busStep.memory);
        EXPECT_TRUE(SameLog(busRun.log, busStep.log));
        // The hook saw the registers before every instruction, and nothing else.
        ASSERT_EQ(hookStates.size(), stepStates.size());
        for (size_t i = 0; i < hookStates.size(); ++i) {
            ASSERT_EQ(std::memcmp(&hookStates[i], &stepStates[i], sizeof(CpuState)), 0)
                << "instruction " << i;
        }

        // Without the hook the run is the same.
        FlatBus busPlain = initial;
        CpuState plain = start;
        CpuRun(plain, busPlain);
        EXPECT_EQ(std::memcmp(&run, &plain, sizeof run), 0);
        EXPECT_TRUE(busRun.memory == busPlain.memory);
        EXPECT_TRUE(SameLog(busRun.log, busPlain.log));
    }
}

}  // namespace
}  // namespace vexalo::test

namespace vexalo::test {
namespace {

// Like FlatBus, but reads of its zero page are declared repeatable within a scanline, so the run
// loop may charge the rounds of a waiting loop at once instead of executing them.
struct PlainZeroPageBus : FlatBus {
    static constexpr bool ReadRepeatsWithinScanline(uint16_t address) { return address < 0x100; }
};

// Runs `program` at $8000 with an NMI handler that decrements $10, an NMI every third scanline
// and Stop after 40; returns the registers at every EndOfScanline call.
template <class Bus>
std::vector<CpuState> ScanlineStates(Bus& bus, std::initializer_list<uint8_t> program) {
    bus.Load(0x8000, program);
    bus.Load(0x9000, {0xC6, 0x10, 0x40});  // DEC $10; RTI
    bus.SetWord(0xFFFC, 0x8000);
    bus.SetWord(0xFFFA, 0x9000);
    for (int line = 1; line < 40; ++line) bus.script.push_back(line % 3 ? IR::None : IR::Nmi);
    CpuState cpu;
    CpuReset(cpu, bus);
    std::vector<CpuState> states;
    bus.onEndOfScanline = [&] {
        states.push_back(cpu);
        return IR::None;
    };
    CpuRun(cpu, bus);
    return states;
}

TEST(CpuIdleLoopTest, ChargingAWaitingLoopAtOnceEndsEveryScanlineWhereRunningItWould) {
    // Waiting loops on $10 (each a zero-page read and a branch back onto it), entered after a
    // few NOPs so that the scanlines end at every phase of the loop. Each loop leaves when the NMI
    // has turned $10 from 0 to $FF, counts in $11, clears $10 and waits again.
    const std::vector<std::vector<uint8_t>> loops = {
        {0xA5, 0x10, 0xF0, 0xFC},  // LDA $10; BEQ
        {0xC5, 0x10, 0xF0, 0xFC},  // CMP $10; BEQ (A = 0 while $10 = 0)
        {0x24, 0x10, 0x10, 0xFC},  // BIT $10; BPL
        {0xA6, 0x10, 0xF0, 0xFC},  // LDX $10; BEQ
        {0xE4, 0x10, 0xF0, 0xFC},  // CPX $10; BEQ
        {0x4C, 0x00, 0x00},        // JMP onto itself (its address is filled in below)
    };
    for (size_t l = 0; l < loops.size(); ++l) {
        for (int nops = 0; nops < 6; ++nops) {
            SCOPED_TRACE(::testing::Message() << "loop " << l << ", " << nops << " NOPs");
            std::vector<uint8_t> program(nops, 0xEA);
            const size_t loopStart = program.size();
            program.insert(program.end(), loops[l].begin(), loops[l].end());
            // After the loop: INC $11; LDA #0; STA $10; LDX #0; JMP loop.
            const uint16_t again = uint16_t(0x8000 + loopStart);
            const bool selfJump = loops[l][0] == 0x4C;  // waits for good: NMIs return into it
            if (selfJump) {
                program[loopStart + 1] = uint8_t(again);
                program[loopStart + 2] = uint8_t(again >> 8);
            }
            for (uint8_t b : {0xE6, 0x11, 0xA9, 0x00, 0x85, 0x10, 0xA2, 0x00, 0x4C}) {
                program.push_back(b);
            }
            program.push_back(uint8_t(again));
            program.push_back(uint8_t(again >> 8));

            FlatBus everyRound;
            PlainZeroPageBus skipping;
            for (size_t i = 0; i < program.size(); ++i) {
                everyRound.memory[0x8000 + i] = skipping.memory[0x8000 + i] = program[i];
            }
            const auto expected = ScanlineStates(everyRound, {});
            const auto actual = ScanlineStates(skipping, {});
            ASSERT_EQ(actual.size(), expected.size());
            for (size_t i = 0; i < expected.size(); ++i) {
                ASSERT_EQ(std::memcmp(&actual[i], &expected[i], sizeof(CpuState)), 0)
                    << "scanline " << i + 1 << ": PC " << std::hex << actual[i].PC << " vs "
                    << expected[i].PC;
            }
            EXPECT_TRUE(skipping.memory == everyRound.memory);
            // The skipping run fetched far fewer bytes.
            EXPECT_LT(skipping.log.size() * 4, everyRound.log.size());
            if (selfJump) continue;
            EXPECT_GT(everyRound.memory[0x11], 0);  // the loops did end and start again
        }
    }
}

TEST(CpuIdleLoopTest, ABranchReachedWithoutItsReadIsNoWaitingLoop) {
    // The branch of a waiting loop reached by a jump straight to it, with Z set by something
    // else, jumps back onto the read once; that round never ran, so nothing may be skipped.
    const std::initializer_list<uint8_t> program = {
        0xA9, 0x00,        // $8000 LDA #0
        0x4C, 0x08, 0x80,  // $8002 JMP $8008
        0xEA,              // $8005
        0xA5, 0x10,        // $8006 LDA $10   ($10 holds 1: not taken below)
        0xF0, 0xFC,        // $8008 BEQ $8006
        0xE6, 0x11,        // $800A INC $11
        0xA9, 0x00,        // $800C LDA #0
        0x4C, 0x08, 0x80,  // $800E JMP $8008
    };
    FlatBus everyRound;
    PlainZeroPageBus skipping;
    everyRound.memory[0x10] = skipping.memory[0x10] = 1;
    const auto expected = ScanlineStates(everyRound, program);
    const auto actual = ScanlineStates(skipping, program);
    ASSERT_EQ(actual.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        ASSERT_EQ(std::memcmp(&actual[i], &expected[i], sizeof(CpuState)), 0) << "scanline " << i;
    }
    EXPECT_EQ(skipping.memory[0x11], everyRound.memory[0x11]);
}

}  // namespace
}  // namespace vexalo::test
