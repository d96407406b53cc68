// The 6502 interpreter, compiled against a concrete bus type.
//
// A bus provides ReadByte, WriteByte, FetchByte and EndOfScanline as inline functions; the
// interpreter is instantiated once with the machine's bus and, in the tests, with a flat logging
// bus. Every access goes through those four operations, so the CPU owns no memory of its own.
//
// Speed: the run loop keeps the registers in a local copy of the record whose address never
// escapes, so the compiler can hold them in machine registers even though every bus write goes
// through a uint8_t pointer (which could alias any byte of the caller's record). The caller's
// record is brought up to date before every EndOfScanline call, since the machine may read or
// edit it there (debugger, nested run loop), and reloaded afterwards.
#pragma once

#include <array>
#include <cstdint>
#include <type_traits>
#include <utility>

#include "core/cpu_state.h"

namespace vexalo {

// Little-endian word through the full memory map: the low byte at `address`, then the high byte
// at `address` + 1 (16-bit wrap).
template <class Bus>
inline uint16_t ReadWord(Bus& bus, uint16_t address) {
    const uint8_t low = bus.ReadByte(address);
    const uint8_t high = bus.ReadByte(uint16_t(address + 1));
    return uint16_t(low | high << 8);
}

// Called before every instruction of CpuRun with the registers as they are then. This one does
// nothing and compiles away.
struct NoInstructionHook {
    void operator()(const CpuState&) const {}
};

namespace cpu_detail {

// Whether the run loop may charge a waiting loop's rounds on `address` without performing their
// reads (CpuCore::SkipIdleLoop): a second read of it within one scanline, with no write by the CPU
// in between, must give the value of the first and change nothing more. A bus says which
// addresses qualify with `static constexpr bool ReadRepeatsWithinScanline(uint16_t)`.
template <class Bus>
constexpr bool HasRepeatableReads() {
    return requires {
        Bus::ReadRepeatsWithinScanline(uint16_t{});
    };
}
template <class Bus>
constexpr bool ReadRepeats(uint16_t address) {
    if constexpr (HasRepeatableReads<Bus>()) {
        return Bus::ReadRepeatsWithinScanline(address);
    } else {
        return false;
    }
}

// Whether the bus fetches two bytes at once with `uint16_t FetchWord(uint16_t)`, which must give
// what two FetchByte calls at the address and the next (16-bit wrap) give.
template <class Bus>
constexpr bool HasWordFetch() {
    return requires(const Bus& bus) {
        bus.FetchWord(uint16_t{});
    };
}

// Whether the bus takes a read-modify-write's two writes at once with
// `void WriteTwice(uint16_t address, uint8_t unmodified, uint8_t result)`, which must have the
// effect of two WriteByte calls, the second on the cycle right after the first.
template <class Bus>
constexpr bool HasWriteTwice() {
    return requires(const Bus& bus) {
        bus.WriteTwice(uint16_t{}, uint8_t{}, uint8_t{});
    };
}

// Whether the bus wants to hear of a JAM with `void CpuJammed(uint16_t address)`.
template <class Bus>
constexpr bool HasJamReport() {
    return requires(const Bus& bus) {
        bus.CpuJammed(uint16_t{});
    };
}

// Length of each instruction that only reads and computes, by opcode: transfers, register and
// accumulator arithmetic, flags and NOP (1 byte); loads, logic, arithmetic and compares with an
// immediate or zero-page operand (2) or an absolute one (3). 0 for every other opcode.
inline constexpr std::array<uint8_t, 256> kPureInstructionLength = [] {
    std::array<uint8_t, 256> length{};
    for (uint8_t op : {0xAA, 0xA8, 0x8A, 0x98, 0xE8, 0xC8, 0xCA, 0x88, 0x0A, 0x4A, 0x2A, 0x6A, 0x18,
                       0x38, 0xB8, 0xEA})
        length[op] = 1;
    for (uint8_t op : {0xA9, 0xA2, 0xA0, 0x29, 0x09, 0x49, 0x69, 0xE9, 0xC9, 0xE0, 0xC0,  // #imm
                       0xA5, 0xA6, 0xA4, 0x25, 0x05, 0x45, 0x65, 0xE5, 0xC5, 0xE4, 0xC4, 0x24})
        length[op] = 2;
    for (uint8_t op : {0xAD, 0xAE, 0xAC, 0x2D, 0x0D, 0x4D, 0x6D, 0xED, 0xCD, 0xEC, 0xCC, 0x2C})
        length[op] = 3;
    return length;
}();

// Addressing modes and instruction bodies over one register record. Each member is small and
// straight-line so that the opcode switch reads one line per opcode and compiles to direct code.
template <class Bus>
struct CpuCore {
    CpuState& s;
    Bus& bus;
    // The run loop without a hook, on a bus with repeatable reads, may charge the rest of a
    // waiting loop at once (SkipIdleLoop); single steps and traced runs execute every round.
    bool skipIdleLoops = false;
    // The start of a waiting loop whose branch has jumped back onto it, or -1. While it is set,
    // every round since ran straight through in this scanline (the loop holds no other branch);
    // any branch not taken, and the end of the scanline, clear it.
    int32_t idleRead = -1;
    // What the loop's rounds looked like since: whether they cannot be charged at once, and the
    // registers and budget at the last landing on the read (see SkipIdleLoop).
    bool idleRejected = false;
    uint64_t idleRegisters = kNoRegisters;  // A, X, Y, P and S packed, or kNoRegisters
    int32_t idleBudget = 0;
    static constexpr uint64_t kNoRegisters = ~uint64_t{0};

    // --- Operand bytes and effective addresses (PC advances past every operand byte) ---
    uint8_t Fetch() { return bus.FetchByte(s.PC++); }
    uint16_t Word() {
        const uint16_t word = FetchPair(s.PC);
        s.PC = uint16_t(s.PC + 2);
        return word;
    }
    uint8_t Imm() { return Fetch(); }
    uint16_t Zp() { return Fetch(); }
    uint16_t ZpX() { return uint8_t(Fetch() + s.X); }
    uint16_t ZpY() { return uint8_t(Fetch() + s.Y); }
    uint16_t Abs() { return Word(); }
    uint16_t AbsX() { return uint16_t(Word() + s.X); }
    uint16_t AbsY() { return uint16_t(Word() + s.Y); }
    uint16_t IndX() { return Pointer(uint8_t(Fetch() + s.X)); }
    uint16_t IndY() { return uint16_t(Pointer(Fetch()) + s.Y); }
    // Pointer of (zp,X) and (zp),Y: the high byte comes from p + 1 as a full address, so a
    // pointer at $FF takes its high byte from $0100.
    uint16_t Pointer(uint16_t p) { return FetchPair(p); }
    // Little-endian word through the side-effect-free fetch: the low byte at `address`.
    uint16_t FetchPair(uint16_t address) {
        if constexpr (HasWordFetch<std::remove_cvref_t<Bus>>()) {
            return bus.FetchWord(address);
        } else {
            const uint8_t low = bus.FetchByte(address);
            const uint8_t high = bus.FetchByte(uint16_t(address + 1));
            return uint16_t(low | high << 8);
        }
    }

    uint8_t Read(uint16_t address) { return bus.ReadByte(address); }
    void Write(uint16_t address, uint8_t value) { bus.WriteByte(address, value); }

    // --- Flags ---
    // Sets N and Z from `value` and passes it through.
    uint8_t Nz(uint8_t value) {
        s.P = uint8_t((s.P & 0x7D) | NZTable[value]);
        return value;
    }
    // N and Z from `value`, C from `carry`; every other bit kept.
    uint8_t NzC(uint8_t value, bool carry) {
        s.P = uint8_t((s.P & 0x7C) | NZTable[value] | (carry ? FlagC : 0));
        return value;
    }
    void Set(uint8_t mask) { s.P |= mask; }
    void Clear(uint8_t mask) { s.P &= uint8_t(~mask); }

    // --- Arithmetic and logic ---
    void Ora(uint8_t v) { s.A = Nz(uint8_t(s.A | v)); }
    void And(uint8_t v) { s.A = Nz(uint8_t(s.A & v)); }
    void Eor(uint8_t v) { s.A = Nz(uint8_t(s.A ^ v)); }
    void Compare(uint8_t reg, uint8_t v) { NzC(uint8_t(reg - v), reg >= v); }
    void Bit(uint8_t v) { s.P = uint8_t((s.P & 0x3D) | (v & 0xC0) | ((s.A & v) == 0 ? FlagZ : 0)); }
    void Adc(uint8_t v) {
        if (s.P & FlagD) return AdcDecimal(v);
        const unsigned sum = s.A + v + (s.P & FlagC);
        uint8_t p = s.P & 0x3C;
        if (~(s.A ^ v) & (s.A ^ sum) & 0x80) p |= FlagV;
        if (sum > 0xFF) p |= FlagC;
        s.A = uint8_t(sum);
        s.P = uint8_t(p | NZTable[s.A]);
    }
    void Sbc(uint8_t v) {
        if (s.P & FlagD) return SbcDecimal(v);
        const unsigned difference = unsigned(s.A - v - (1 - (s.P & FlagC))) & 0xFFFF;
        uint8_t p = s.P & 0x3C;
        if ((s.A ^ v) & (s.A ^ difference) & 0x80) p |= FlagV;
        if ((difference >> 8) == 0) p |= FlagC;
        s.A = uint8_t(difference);
        s.P = uint8_t(p | NZTable[s.A]);
    }
    // Decimal mode: packed BCD digits, only C changes.
    void AdcDecimal(uint8_t v) {
        unsigned low = (s.A & 0x0F) + (v & 0x0F) + (s.P & FlagC);
        unsigned high = (s.A >> 4) + (v >> 4);
        if (low > 9) {
            low += 6;
            ++high;
        }
        if (high > 9) high += 6;
        s.A = uint8_t((high << 4) | (low & 0x0F));
        s.P = uint8_t((s.P & ~FlagC) | (high > 15 ? FlagC : 0));
    }
    void SbcDecimal(uint8_t v) {
        uint8_t low = uint8_t((s.A & 0x0F) - (v & 0x0F) - (1 - (s.P & FlagC)));
        unsigned borrow = 0;
        if (low & 0x10) {
            borrow = 1;
            low = uint8_t(low - 6);
        }
        uint8_t high = uint8_t((s.A >> 4) - (v >> 4) - borrow);
        if (high & 0x10) high = uint8_t(high - 6);
        s.A = uint8_t((high << 4) | (low & 0x0F));
        s.P = uint8_t((s.P & ~FlagC) | (high <= 15 ? FlagC : 0));
    }

    // --- Shifts, rotates, increments: value forms and memory forms ---
    // A read-modify-write reads the byte, writes it back unmodified, then writes the result, as
    // the NMOS 6502 does on its last two cycles: an I/O register or a mapper port sees both.
    uint8_t Asl(uint8_t v) { return NzC(uint8_t(v << 1), v & 0x80); }
    uint8_t Lsr(uint8_t v) { return NzC(uint8_t(v >> 1), v & 0x01); }
    uint8_t Rol(uint8_t v) { return NzC(uint8_t((v << 1) | (s.P & FlagC)), v & 0x80); }
    uint8_t Ror(uint8_t v) { return NzC(uint8_t((v >> 1) | (s.P & FlagC) << 7), v & 0x01); }
    uint8_t Inc(uint8_t v) { return Nz(uint8_t(v + 1)); }
    uint8_t Dec(uint8_t v) { return Nz(uint8_t(v - 1)); }
    template <class Operation>
    uint8_t Modify(uint16_t a, Operation operation) {
        const uint8_t unmodified = Read(a);
        const uint8_t result = operation(unmodified);
        if constexpr (HasWriteTwice<std::remove_cvref_t<Bus>>()) {
            bus.WriteTwice(a, unmodified, result);
        } else {
            Write(a, unmodified);
            Write(a, result);
        }
        return result;
    }
    void AslAt(uint16_t a) {
        Modify(a, [this](uint8_t v) { return Asl(v); });
    }
    void LsrAt(uint16_t a) {
        Modify(a, [this](uint8_t v) { return Lsr(v); });
    }
    void RolAt(uint16_t a) {
        Modify(a, [this](uint8_t v) { return Rol(v); });
    }
    void RorAt(uint16_t a) {
        Modify(a, [this](uint8_t v) { return Ror(v); });
    }
    void IncAt(uint16_t a) {
        Modify(a, [this](uint8_t v) { return Inc(v); });
    }
    void DecAt(uint16_t a) {
        Modify(a, [this](uint8_t v) { return Dec(v); });
    }

    // --- Undocumented opcodes of the NMOS 6502 ---
    // The stable ones combine a documented read-modify-write or load with a documented operation
    // on its result, flags included. Effects as described in "NMOS 6510 Unintended Opcodes"
    // ("No More Secrets", groepaz, rev. 0.99) and the NESdev wiki's "CPU unofficial opcodes".
    void Lax(uint8_t v) { s.A = s.X = Nz(v); }
    void Slo(uint16_t a) {
        Ora(Modify(a, [this](uint8_t v) { return Asl(v); }));
    }
    void Rla(uint16_t a) {
        And(Modify(a, [this](uint8_t v) { return Rol(v); }));
    }
    void Sre(uint16_t a) {
        Eor(Modify(a, [this](uint8_t v) { return Lsr(v); }));
    }
    void Rra(uint16_t a) {
        Adc(Modify(a, [this](uint8_t v) { return Ror(v); }));
    }
    void Dcp(uint16_t a) {
        Compare(s.A, Modify(a, [](uint8_t v) { return uint8_t(v - 1); }));
    }
    void Isc(uint16_t a) {
        Sbc(Modify(a, [](uint8_t v) { return uint8_t(v + 1); }));
    }
    // ANC: AND, then C takes the result's bit 7.
    void Anc(uint8_t v) {
        And(v);
        s.P = uint8_t((s.P & ~FlagC) | (s.A >> 7));
    }
    // ALR: AND, then LSR A.
    void Alr(uint8_t v) { s.A = Lsr(uint8_t(s.A & v)); }
    // ARR: AND, then ROR A, with C from bit 6 and V from bit 6 XOR bit 5 of the result. In
    // decimal mode N and Z come from the rotated byte, V tells whether bit 6 changed, and each
    // digit is then corrected as "64doc" (J. West, M. Makela) describes.
    void Arr(uint8_t v) {
        const uint8_t t = uint8_t(s.A & v);
        uint8_t result = uint8_t((t >> 1) | (s.P & FlagC) << 7);
        uint8_t p = uint8_t((s.P & 0x3C) | NZTable[result]);
        if (!(s.P & FlagD)) {
            if (result & 0x40) p |= FlagC;
            if (((result >> 6) ^ (result >> 5)) & 1) p |= FlagV;
        } else {
            if ((t ^ result) & 0x40) p |= FlagV;
            if ((t & 0x0F) + (t & 0x01) > 5)
                result = uint8_t((result & 0xF0) | ((result + 6) & 0x0F));
            if ((t & 0xF0) + (t & 0x10) > 0x50) {
                result = uint8_t(result + 0x60);
                p |= FlagC;
            }
        }
        s.A = result;
        s.P = p;
    }
    // SBX (AXS): X = (A AND X) - operand, C and N, Z as CMP sets them; no borrow in, no decimal.
    void Sbx(uint8_t v) {
        const uint8_t ax = uint8_t(s.A & s.X);
        s.X = NzC(uint8_t(ax - v), ax >= v);
    }
    // The unstable ones, as "No More Secrets" gives them for the common chips. XAA (ANE) and
    // LAX #imm (LXA) mix in a "magic" constant that varies between chips; $EE is the value the
    // document names as the most common one.
    static constexpr uint8_t kMagic = 0xEE;
    void Xaa(uint8_t v) { s.A = Nz(uint8_t((s.A | kMagic) & s.X & v)); }
    void LaxImmediate(uint8_t v) { Lax(uint8_t((s.A | kMagic) & v)); }
    // SHA, SHX, SHY and TAS store a value ANDed with the high byte of the base address plus one;
    // when the index carries into the high byte, the stored value also takes the high byte's
    // place in the address.
    void StoreAndHigh(uint16_t base, uint8_t index, uint8_t value) {
        const uint16_t address = uint16_t(base + index);
        const uint8_t stored = uint8_t(value & ((base >> 8) + 1));
        const bool crossed = (address ^ base) & 0xFF00;
        Write(crossed ? uint16_t(stored << 8 | (address & 0xFF)) : address, stored);
    }
    // LAS: A, X and S all take the operand AND S.
    void Las(uint8_t v) { s.A = s.X = s.S = Nz(uint8_t(v & s.S)); }
    // JAM: the CPU stops on the opcode, fetching it again and again, and takes no interrupt
    // until Reset. The rest of the scanline is charged at once.
    void Jam() {
        s.PC = uint16_t(s.PC - 1);
        if (!s.Jammed) {
            s.Jammed = true;
            if constexpr (HasJamReport<std::remove_cvref_t<Bus>>()) bus.CpuJammed(s.PC);
        }
        if (s.CycleBudget > 0) s.CycleBudget = 0;
    }

    // --- Control flow ---
    // A taken branch costs one cycle more than its table entry, wherever its target lies.
    void Branch(bool taken) {
        if (!taken) {
            ++s.PC;
            if (skipIdleLoops) idleRead = -1;
            return;
        }
        const int8_t offset = int8_t(Fetch());
        s.PC = uint16_t(s.PC + offset);
        s.CycleBudget -= 1;
        // Back over 2 to 14 bytes of instructions: perhaps a loop that waits.
        if (offset <= -4 && offset >= -16 && skipIdleLoops) {
            if (idleRead == s.PC) {
                if (!idleRejected) SkipIdleLoop(-offset - 2);
            } else {
                idleRead = s.PC;
                idleRejected = false;
                idleRegisters = kNoRegisters;
            }
        }
    }

    // The branch just taken jumps back, once more in a row within this scanline, over the
    // `length` bytes right before it: a loop that may wait for an interrupt (or the next
    // scanline) to change a byte it reads. Nothing that such a loop reads can change before the
    // scanline ends when the bus says its reads repeat (interrupts come only between scanlines,
    // and the loop writes nothing), so once a round leaves the registers and flags as it found
    // them, every further round does the same: the rounds left in the scanline are charged at
    // once, and the loop is left exactly where it would have stopped.
    void SkipIdleLoop(int length) {
        const uint16_t read = s.PC;
        if (s.CycleBudget <= 0) return;
        if (length == 2) {
            switch (bus.FetchByte(read)) {
                case 0xA5:  // LDA zp
                case 0xA6:  // LDX zp
                case 0xA4:  // LDY zp
                case 0xC5:  // CMP zp
                case 0xE4:  // CPX zp
                case 0xC4:  // CPY zp
                case 0x24:  // BIT zp
                    if (!ReadRepeats<std::remove_cvref_t<Bus>>(0)) return;
                    ChargeZeroPageWait(read);
                    return;
                default: break;
            }
        }
        // Any other loop: its bytes must be instructions that only read (through reads that
        // repeat) and compute, and a round must be seen to change nothing. The round just run
        // may hold the first read of the status register in this scanline, which clears its
        // flags, so that round proves nothing; the next one does.
        if (idleRegisters == kNoRegisters && !PureInstructions(read, length)) {
            idleRejected = true;
            return;
        }
        const uint64_t registers = uint64_t(s.A) | uint64_t(s.X) << 8 | uint64_t(s.Y) << 16 |
                                   uint64_t(s.P) << 24 | uint64_t(s.S) << 32;
        if (registers == idleRegisters) {
            // The last round, with 1 to `round` cycles left, runs as usual.
            const int32_t round = idleBudget - s.CycleBudget;
            s.CycleBudget -= (s.CycleBudget - 1) / round * round;
            return;
        }
        idleRegisters = registers;
        idleBudget = s.CycleBudget;
    }

    // A zero-page read and its branch: this round has given the registers and flags the values
    // every further round gives them (zero page is plain memory, whose first read is as good as
    // the next), and the loop stops after the read or after the branch.
    void ChargeZeroPageWait(uint16_t read) {
        const int32_t readCycles = CycleTable[bus.FetchByte(read)];
        // Every branch takes the same table cycles, plus one when taken.
        const int32_t round = readCycles + CycleTable[0xD0] + 1;
        int32_t budget = s.CycleBudget;
        budget -= (budget - 1) / round * round;  // the last round, 1 to `round` cycles left
        if (budget - readCycles <= 0) {
            s.PC = uint16_t(read + 2);
            s.CycleBudget = budget - readCycles;
        } else {
            s.CycleBudget = budget - round;
        }
    }

    // Whether the `length` bytes at `address` are whole instructions that write nothing, touch
    // neither the stack nor the flow of control, and read only through reads that repeat; or a
    // JSR to a subroutine of such instructions, whose pushes write the same return address at the
    // same place every round (the round keeps S).
    bool PureInstructions(uint16_t address, int length) {
        if (!ReadRepeats<std::remove_cvref_t<Bus>>(0)) return false;  // zero page
        const uint16_t end = uint16_t(address + length);
        while (address != end) {
            uint8_t size = PureLength(address);
            if (size == 0 && bus.FetchByte(address) == 0x20 && PureSubroutine(OperandWord(address)))
                size = 3;
            if (size == 0 || uint16_t(end - address) < size) return false;
            address = uint16_t(address + size);
        }
        return true;
    }
    // Whether the code at `address` is up to 16 bytes of such instructions, then an RTS.
    bool PureSubroutine(uint16_t address) {
        for (const uint16_t start = address; uint16_t(address - start) < 16;) {
            if (bus.FetchByte(address) == 0x60) return true;
            const uint8_t size = PureLength(address);
            if (size == 0) return false;
            address = uint16_t(address + size);
        }
        return false;
    }
    // The length of the instruction at `address` if it only reads, through reads that repeat, and
    // computes; otherwise 0.
    uint8_t PureLength(uint16_t address) {
        const uint8_t size = kPureInstructionLength[bus.FetchByte(address)];
        if (size == 3 && !ReadRepeats<std::remove_cvref_t<Bus>>(OperandWord(address))) return 0;
        return size;
    }
    uint16_t OperandWord(uint16_t address) {
        return uint16_t(bus.FetchByte(uint16_t(address + 1)) | bus.FetchByte(uint16_t(address + 2))
                                                                   << 8);
    }

    void Jmp() {
        const uint16_t self = uint16_t(s.PC - 1);  // the opcode's address (PC is past it)
        s.PC = Abs();
        // A jump onto itself waits for an interrupt and changes nothing else: every further
        // round until the scanline ends is charged at once.
        if (s.PC == self && skipIdleLoops && s.CycleBudget > 0) {
            const int32_t round = CycleTable[0x4C];
            s.CycleBudget -= (s.CycleBudget + round - 1) / round * round;
        }
    }
    // The pointer's high byte is read at the next full address ($10FF pairs with $1100).
    void JmpIndirect() { s.PC = ReadWord(bus, Abs()); }
    // Pushes the address of the JSR's last byte: the high operand byte is read without advancing.
    void Jsr() {
        const uint8_t low = Fetch();
        const uint8_t high = bus.FetchByte(s.PC);
        Push(uint8_t(s.PC >> 8));
        Push(uint8_t(s.PC));
        s.PC = uint16_t(low | high << 8);
    }
    void Rts() {
        const uint8_t low = Pull();
        const uint8_t high = Pull();
        s.PC = uint16_t((low | high << 8) + 1);
    }
    void Rti() {
        Plp();
        const uint8_t low = Pull();
        const uint8_t high = Pull();
        s.PC = uint16_t(low | high << 8);
    }
    void Brk() {
        ++s.PC;
        Push(uint8_t(s.PC >> 8));
        Push(uint8_t(s.PC));
        Push(uint8_t(s.P | FlagB));
        s.P = uint8_t((s.P | FlagI) & ~FlagD);
        s.PC = ReadWord(bus, 0xFFFE);
    }

    // --- Stack: pushes write through the memory map, pulls use the side-effect-free fetch ---
    void Push(uint8_t v) {
        Write(uint16_t(0x0100 | s.S), v);
        --s.S;
    }
    uint8_t Pull() {
        ++s.S;
        return bus.FetchByte(uint16_t(0x0100 | s.S));
    }
    // Bit 5 is forced on; bit 4 is taken from the pulled byte.
    void Plp() { s.P = uint8_t(Pull() | FlagUnused); }

    // A request of EndOfScanline: the vertical blank's NMI waits for the next instruction to
    // complete; any other is entered at once.
    void TakeRequest(InterruptRequest kind) {
        if (kind == InterruptRequest::NmiAfterInstruction) {
            if (!s.Jammed) s.NmiPending = true;
        } else {
            Interrupt(kind);
        }
    }

    // Interrupt entry between instructions. An Irq while I is set is dropped without a trace, and
    // a jammed CPU takes none.
    void Interrupt(InterruptRequest kind) {
        uint16_t vector;
        if (s.Jammed) return;
        if (kind == InterruptRequest::Nmi) {
            vector = 0xFFFA;
        } else if (kind == InterruptRequest::Irq && !(s.P & FlagI)) {
            vector = 0xFFFE;
        } else {
            return;
        }
        s.CycleBudget -= 7;
        Push(uint8_t(s.PC >> 8));
        Push(uint8_t(s.PC));
        Push(uint8_t(s.P & ~FlagB));
        Clear(FlagD);
        if (kind == InterruptRequest::Irq) Set(FlagI);
        s.PC = ReadWord(bus, vector);
    }
};

// The fetch-charge-execute loop shared by CpuRun and CpuStepInstruction. With
// kSingleInstruction it executes exactly one instruction and never calls EndOfScanline.
// The opcode switch lives in this one function, so both users run the same per-opcode code and
// the registers stay in the local copy `s` for the whole loop.
//
// `flatten` asks the compiler to inline every helper and bus operation called here: the
// switch is far larger than the inliner's usual budget, and a single helper left out of line
// would take the address of `s` and send the registers back to memory on every bus write
// (measured: about 2.5 times slower). Compilers that do not know the attribute ignore it.
template <bool kSingleInstruction, class Bus, class Hook>
[[gnu::flatten]] inline void Interpret(CpuState& record, Bus& sharedBus, Hook& hook) {
    // A bus that is only a handle on the machine is copied as well: a local copy cannot be
    // reached through a byte pointer, so its machine pointer also stays in a register instead
    // of being reloaded after every write.
    using LocalBus =
        std::conditional_t<std::is_trivially_copyable_v<Bus> && sizeof(Bus) <= 2 * sizeof(void*),
                           Bus, Bus&>;
    LocalBus bus = sharedBus;
    CpuState s = record;
    using PlainBus = std::remove_cvref_t<Bus>;
    CpuCore<Bus> c{s, bus,
                   !kSingleInstruction && std::is_same_v<Hook, NoInstructionHook> &&
                       HasRepeatableReads<PlainBus>()};
    // While the vertical blank's NMI waits for one instruction (NmiPending), the budget is held
    // at 1, so that the instruction, whatever it charges, ends in the slow path below, where the
    // NMI is entered; the rest of the scanline's budget waits in `heldBudget`. The fast path
    // thus tests nothing more per instruction.
    int32_t heldBudget = 0;
    const auto holdForNmi = [&] {
        heldBudget = s.CycleBudget - 1;
        s.CycleBudget = 1;
    };
    if constexpr (!kSingleInstruction) {
        if (s.NmiPending) holdForNmi();
    }
    for (;;) {
        if constexpr (!std::is_same_v<Hook, NoInstructionHook>) {
            record = s;
            record.CycleBudget += heldBudget;
            hook(std::as_const(record));
        }
        const uint8_t op = c.Fetch();
        s.CycleBudget -= CycleTable[op];
        switch (op) {
            // Loads
            case 0xA9: s.A = c.Nz(c.Imm()); break;
            case 0xA5: s.A = c.Nz(c.Read(c.Zp())); break;
            case 0xB5: s.A = c.Nz(c.Read(c.ZpX())); break;
            case 0xAD: s.A = c.Nz(c.Read(c.Abs())); break;
            case 0xBD: s.A = c.Nz(c.Read(c.AbsX())); break;
            case 0xB9: s.A = c.Nz(c.Read(c.AbsY())); break;
            case 0xA1: s.A = c.Nz(c.Read(c.IndX())); break;
            case 0xB1: s.A = c.Nz(c.Read(c.IndY())); break;
            case 0xA2: s.X = c.Nz(c.Imm()); break;
            case 0xA6: s.X = c.Nz(c.Read(c.Zp())); break;
            case 0xB6: s.X = c.Nz(c.Read(c.ZpY())); break;
            case 0xAE: s.X = c.Nz(c.Read(c.Abs())); break;
            case 0xBE: s.X = c.Nz(c.Read(c.AbsY())); break;
            case 0xA0: s.Y = c.Nz(c.Imm()); break;
            case 0xA4: s.Y = c.Nz(c.Read(c.Zp())); break;
            case 0xB4: s.Y = c.Nz(c.Read(c.ZpX())); break;
            case 0xAC: s.Y = c.Nz(c.Read(c.Abs())); break;
            case 0xBC: s.Y = c.Nz(c.Read(c.AbsX())); break;

            // Stores
            case 0x85: c.Write(c.Zp(), s.A); break;
            case 0x95: c.Write(c.ZpX(), s.A); break;
            case 0x8D: c.Write(c.Abs(), s.A); break;
            case 0x9D: c.Write(c.AbsX(), s.A); break;
            case 0x99: c.Write(c.AbsY(), s.A); break;
            case 0x81: c.Write(c.IndX(), s.A); break;
            case 0x91: c.Write(c.IndY(), s.A); break;
            case 0x86: c.Write(c.Zp(), s.X); break;
            case 0x96: c.Write(c.ZpY(), s.X); break;
            case 0x8E: c.Write(c.Abs(), s.X); break;
            case 0x84: c.Write(c.Zp(), s.Y); break;
            case 0x94: c.Write(c.ZpX(), s.Y); break;
            case 0x8C: c.Write(c.Abs(), s.Y); break;

            // Register transfers, increments and decrements
            case 0xAA: s.X = c.Nz(s.A); break;
            case 0xA8: s.Y = c.Nz(s.A); break;
            case 0x8A: s.A = c.Nz(s.X); break;
            case 0x98: s.A = c.Nz(s.Y); break;
            case 0xBA: s.X = c.Nz(s.S); break;
            case 0x9A: s.S = s.X; break;
            case 0xE8: s.X = c.Inc(s.X); break;
            case 0xC8: s.Y = c.Inc(s.Y); break;
            case 0xCA: s.X = c.Dec(s.X); break;
            case 0x88: s.Y = c.Dec(s.Y); break;

            // Logic
            case 0x09: c.Ora(c.Imm()); break;
            case 0x05: c.Ora(c.Read(c.Zp())); break;
            case 0x15: c.Ora(c.Read(c.ZpX())); break;
            case 0x0D: c.Ora(c.Read(c.Abs())); break;
            case 0x1D: c.Ora(c.Read(c.AbsX())); break;
            case 0x19: c.Ora(c.Read(c.AbsY())); break;
            case 0x01: c.Ora(c.Read(c.IndX())); break;
            case 0x11: c.Ora(c.Read(c.IndY())); break;
            case 0x29: c.And(c.Imm()); break;
            case 0x25: c.And(c.Read(c.Zp())); break;
            case 0x35: c.And(c.Read(c.ZpX())); break;
            case 0x2D: c.And(c.Read(c.Abs())); break;
            case 0x3D: c.And(c.Read(c.AbsX())); break;
            case 0x39: c.And(c.Read(c.AbsY())); break;
            case 0x21: c.And(c.Read(c.IndX())); break;
            case 0x31: c.And(c.Read(c.IndY())); break;
            case 0x49: c.Eor(c.Imm()); break;
            case 0x45: c.Eor(c.Read(c.Zp())); break;
            case 0x55: c.Eor(c.Read(c.ZpX())); break;
            case 0x4D: c.Eor(c.Read(c.Abs())); break;
            case 0x5D: c.Eor(c.Read(c.AbsX())); break;
            case 0x59: c.Eor(c.Read(c.AbsY())); break;
            case 0x41: c.Eor(c.Read(c.IndX())); break;
            case 0x51: c.Eor(c.Read(c.IndY())); break;
            case 0x24: c.Bit(c.Read(c.Zp())); break;
            case 0x2C: c.Bit(c.Read(c.Abs())); break;

            // Arithmetic
            case 0x69: c.Adc(c.Imm()); break;
            case 0x65: c.Adc(c.Read(c.Zp())); break;
            case 0x75: c.Adc(c.Read(c.ZpX())); break;
            case 0x6D: c.Adc(c.Read(c.Abs())); break;
            case 0x7D: c.Adc(c.Read(c.AbsX())); break;
            case 0x79: c.Adc(c.Read(c.AbsY())); break;
            case 0x61: c.Adc(c.Read(c.IndX())); break;
            case 0x71: c.Adc(c.Read(c.IndY())); break;
            case 0xE9: c.Sbc(c.Imm()); break;
            case 0xE5: c.Sbc(c.Read(c.Zp())); break;
            case 0xF5: c.Sbc(c.Read(c.ZpX())); break;
            case 0xED: c.Sbc(c.Read(c.Abs())); break;
            case 0xFD: c.Sbc(c.Read(c.AbsX())); break;
            case 0xF9: c.Sbc(c.Read(c.AbsY())); break;
            case 0xE1: c.Sbc(c.Read(c.IndX())); break;
            case 0xF1: c.Sbc(c.Read(c.IndY())); break;

            // Compares
            case 0xC9: c.Compare(s.A, c.Imm()); break;
            case 0xC5: c.Compare(s.A, c.Read(c.Zp())); break;
            case 0xD5: c.Compare(s.A, c.Read(c.ZpX())); break;
            case 0xCD: c.Compare(s.A, c.Read(c.Abs())); break;
            case 0xDD: c.Compare(s.A, c.Read(c.AbsX())); break;
            case 0xD9: c.Compare(s.A, c.Read(c.AbsY())); break;
            case 0xC1: c.Compare(s.A, c.Read(c.IndX())); break;
            case 0xD1: c.Compare(s.A, c.Read(c.IndY())); break;
            case 0xE0: c.Compare(s.X, c.Imm()); break;
            case 0xE4: c.Compare(s.X, c.Read(c.Zp())); break;
            case 0xEC: c.Compare(s.X, c.Read(c.Abs())); break;
            case 0xC0: c.Compare(s.Y, c.Imm()); break;
            case 0xC4: c.Compare(s.Y, c.Read(c.Zp())); break;
            case 0xCC: c.Compare(s.Y, c.Read(c.Abs())); break;

            // Shifts and rotates
            case 0x0A: s.A = c.Asl(s.A); break;
            case 0x06: c.AslAt(c.Zp()); break;
            case 0x16: c.AslAt(c.ZpX()); break;
            case 0x0E: c.AslAt(c.Abs()); break;
            case 0x1E: c.AslAt(c.AbsX()); break;
            case 0x4A: s.A = c.Lsr(s.A); break;
            case 0x46: c.LsrAt(c.Zp()); break;
            case 0x56: c.LsrAt(c.ZpX()); break;
            case 0x4E: c.LsrAt(c.Abs()); break;
            case 0x5E: c.LsrAt(c.AbsX()); break;
            case 0x2A: s.A = c.Rol(s.A); break;
            case 0x26: c.RolAt(c.Zp()); break;
            case 0x36: c.RolAt(c.ZpX()); break;
            case 0x2E: c.RolAt(c.Abs()); break;
            case 0x3E: c.RolAt(c.AbsX()); break;
            case 0x6A: s.A = c.Ror(s.A); break;
            case 0x66: c.RorAt(c.Zp()); break;
            case 0x76: c.RorAt(c.ZpX()); break;
            case 0x6E: c.RorAt(c.Abs()); break;
            case 0x7E: c.RorAt(c.AbsX()); break;

            // Memory increments and decrements
            case 0xE6: c.IncAt(c.Zp()); break;
            case 0xF6: c.IncAt(c.ZpX()); break;
            case 0xEE: c.IncAt(c.Abs()); break;
            case 0xFE: c.IncAt(c.AbsX()); break;
            case 0xC6: c.DecAt(c.Zp()); break;
            case 0xD6: c.DecAt(c.ZpX()); break;
            case 0xCE: c.DecAt(c.Abs()); break;
            case 0xDE: c.DecAt(c.AbsX()); break;

            // Branches
            case 0x10: c.Branch(!(s.P & FlagN)); break;
            case 0x30: c.Branch(s.P & FlagN); break;
            case 0x50: c.Branch(!(s.P & FlagV)); break;
            case 0x70: c.Branch(s.P & FlagV); break;
            case 0x90: c.Branch(!(s.P & FlagC)); break;
            case 0xB0: c.Branch(s.P & FlagC); break;
            case 0xD0: c.Branch(!(s.P & FlagZ)); break;
            case 0xF0: c.Branch(s.P & FlagZ); break;

            // Jumps, subroutines, interrupts
            case 0x4C: c.Jmp(); break;
            case 0x6C: c.JmpIndirect(); break;
            case 0x20: c.Jsr(); break;
            case 0x60: c.Rts(); break;
            case 0x40: c.Rti(); break;
            case 0x00: c.Brk(); break;

            // Stack
            case 0x48: c.Push(s.A); break;
            case 0x08: c.Push(s.P); break;
            case 0x68: s.A = c.Nz(c.Pull()); break;
            case 0x28: c.Plp(); break;

            // Flags
            case 0x18: c.Clear(FlagC); break;
            case 0x38: c.Set(FlagC); break;
            case 0x58: c.Clear(FlagI); break;
            case 0x78: c.Set(FlagI); break;
            case 0xD8: c.Clear(FlagD); break;
            case 0xF8: c.Set(FlagD); break;
            case 0xB8: c.Clear(FlagV); break;

            // NOP
            case 0xEA: break;

            // Undocumented: read-modify-write combined with ORA, AND, EOR, ADC, CMP, SBC
            case 0x03: c.Slo(c.IndX()); break;
            case 0x07: c.Slo(c.Zp()); break;
            case 0x0F: c.Slo(c.Abs()); break;
            case 0x13: c.Slo(c.IndY()); break;
            case 0x17: c.Slo(c.ZpX()); break;
            case 0x1B: c.Slo(c.AbsY()); break;
            case 0x1F: c.Slo(c.AbsX()); break;
            case 0x23: c.Rla(c.IndX()); break;
            case 0x27: c.Rla(c.Zp()); break;
            case 0x2F: c.Rla(c.Abs()); break;
            case 0x33: c.Rla(c.IndY()); break;
            case 0x37: c.Rla(c.ZpX()); break;
            case 0x3B: c.Rla(c.AbsY()); break;
            case 0x3F: c.Rla(c.AbsX()); break;
            case 0x43: c.Sre(c.IndX()); break;
            case 0x47: c.Sre(c.Zp()); break;
            case 0x4F: c.Sre(c.Abs()); break;
            case 0x53: c.Sre(c.IndY()); break;
            case 0x57: c.Sre(c.ZpX()); break;
            case 0x5B: c.Sre(c.AbsY()); break;
            case 0x5F: c.Sre(c.AbsX()); break;
            case 0x63: c.Rra(c.IndX()); break;
            case 0x67: c.Rra(c.Zp()); break;
            case 0x6F: c.Rra(c.Abs()); break;
            case 0x73: c.Rra(c.IndY()); break;
            case 0x77: c.Rra(c.ZpX()); break;
            case 0x7B: c.Rra(c.AbsY()); break;
            case 0x7F: c.Rra(c.AbsX()); break;
            case 0xC3: c.Dcp(c.IndX()); break;
            case 0xC7: c.Dcp(c.Zp()); break;
            case 0xCF: c.Dcp(c.Abs()); break;
            case 0xD3: c.Dcp(c.IndY()); break;
            case 0xD7: c.Dcp(c.ZpX()); break;
            case 0xDB: c.Dcp(c.AbsY()); break;
            case 0xDF: c.Dcp(c.AbsX()); break;
            case 0xE3: c.Isc(c.IndX()); break;
            case 0xE7: c.Isc(c.Zp()); break;
            case 0xEF: c.Isc(c.Abs()); break;
            case 0xF3: c.Isc(c.IndY()); break;
            case 0xF7: c.Isc(c.ZpX()); break;
            case 0xFB: c.Isc(c.AbsY()); break;
            case 0xFF: c.Isc(c.AbsX()); break;

            // Undocumented: LAX, SAX and the immediate combinations
            case 0xA3: c.Lax(c.Read(c.IndX())); break;
            case 0xA7: c.Lax(c.Read(c.Zp())); break;
            case 0xAF: c.Lax(c.Read(c.Abs())); break;
            case 0xB3: c.Lax(c.Read(c.IndY())); break;
            case 0xB7: c.Lax(c.Read(c.ZpY())); break;
            case 0xBF: c.Lax(c.Read(c.AbsY())); break;
            case 0x83: c.Write(c.IndX(), uint8_t(s.A & s.X)); break;
            case 0x87: c.Write(c.Zp(), uint8_t(s.A & s.X)); break;
            case 0x8F: c.Write(c.Abs(), uint8_t(s.A & s.X)); break;
            case 0x97: c.Write(c.ZpY(), uint8_t(s.A & s.X)); break;
            case 0x0B:
            case 0x2B: c.Anc(c.Imm()); break;
            case 0x4B: c.Alr(c.Imm()); break;
            case 0x6B: c.Arr(c.Imm()); break;
            case 0xCB: c.Sbx(c.Imm()); break;
            case 0xEB: c.Sbc(c.Imm()); break;

            // Undocumented and unstable
            case 0x8B: c.Xaa(c.Imm()); break;
            case 0xAB: c.LaxImmediate(c.Imm()); break;
            case 0x93: c.StoreAndHigh(c.Pointer(c.Fetch()), s.Y, uint8_t(s.A & s.X)); break;
            case 0x9F: c.StoreAndHigh(c.Word(), s.Y, uint8_t(s.A & s.X)); break;
            case 0x9E: c.StoreAndHigh(c.Word(), s.Y, s.X); break;
            case 0x9C: c.StoreAndHigh(c.Word(), s.X, s.Y); break;
            case 0x9B:
                s.S = uint8_t(s.A & s.X);
                c.StoreAndHigh(c.Word(), s.Y, s.S);
                break;
            case 0xBB: c.Las(c.Read(c.AbsY())); break;

            // Undocumented NOPs: 1, 2 or 3 bytes; those with an address read it
            case 0x1A:
            case 0x3A:
            case 0x5A:
            case 0x7A:
            case 0xDA:
            case 0xFA: break;
            case 0x80:
            case 0x82:
            case 0x89:
            case 0xC2:
            case 0xE2: c.Fetch(); break;
            case 0x04:
            case 0x44:
            case 0x64: c.Read(c.Zp()); break;
            case 0x14:
            case 0x34:
            case 0x54:
            case 0x74:
            case 0xD4:
            case 0xF4: c.Read(c.ZpX()); break;
            case 0x0C: c.Read(c.Abs()); break;
            case 0x1C:
            case 0x3C:
            case 0x5C:
            case 0x7C:
            case 0xDC:
            case 0xFC: c.Read(c.AbsX()); break;

            // JAM: the CPU stops until Reset
            case 0x02:
            case 0x12:
            case 0x22:
            case 0x32:
            case 0x42:
            case 0x52:
            case 0x62:
            case 0x72:
            case 0x92:
            case 0xB2:
            case 0xD2:
            case 0xF2: c.Jam(); break;
        }
        if constexpr (kSingleInstruction) {
            record = s;
            return;
        }
        if (s.CycleBudget > 0) continue;
        if (s.NmiPending) {
            s.NmiPending = false;
            s.CycleBudget += heldBudget;
            heldBudget = 0;
            c.Interrupt(InterruptRequest::Nmi);
            if (s.CycleBudget > 0) continue;
        }

        record = s;
        const InterruptRequest request = bus.EndOfScanline();
        s = record;
        c.idleRead = -1;  // a waiting loop's round never spans two scanlines
        // The overshoot of the last instruction is dropped; the budget is full again even when
        // the loop is about to return.
        s.CycleBudget = s.CyclesPerLine;
        if (request == InterruptRequest::Stop) {
            record = s;
            return;
        }
        if (request != InterruptRequest::None) {
            c.TakeRequest(request);
            if (s.NmiPending) holdForNmi();
        }
    }
}

}  // namespace cpu_detail

// Registers cleared, P = $22, S = $FF, PC from the reset vector, a fresh scanline budget, no
// NMI pending and the CPU running again after a JAM. Writes nothing and leaves the stack alone.
template <class Bus>
void CpuReset(CpuState& state, Bus& bus) {
    state.Y = 0;
    state.X = 0;
    state.A = 0;
    state.P = FlagUnused | FlagZ;
    state.S = 0xFF;
    state.PC = ReadWord(bus, 0xFFFC);
    state.CycleBudget = state.CyclesPerLine;
    state.Jammed = false;
    state.NmiPending = false;
}

// Enters an Nmi, or an Irq when I is clear; any other request (or a masked Irq) changes nothing,
// and a jammed CPU enters none.
template <class Bus>
void CpuInterrupt(CpuState& state, Bus& bus, InterruptRequest kind) {
    cpu_detail::CpuCore<Bus>{state, bus}.Interrupt(kind);
}

// Takes a request of EndOfScanline as the run loop does: NmiAfterInstruction sets NmiPending, for
// the NMI to be entered after the next instruction; Nmi and Irq are entered at once.
template <class Bus>
void CpuTakeRequest(CpuState& state, Bus& bus, InterruptRequest kind) {
    cpu_detail::CpuCore<Bus>{state, bus}.TakeRequest(kind);
}

// Runs until EndOfScanline returns Stop. EndOfScanline is called each time the scanline budget
// is used up; an interrupt it reports is entered before the next instruction. On return the
// budget is full. May be entered again, nested, from inside EndOfScanline on the same record.
template <class Bus, class Hook = NoInstructionHook>
void CpuRun(CpuState& state, Bus& bus, Hook hook = {}) {
    cpu_detail::Interpret<false>(state, bus, hook);
}

// Executes exactly one instruction (charging its cycles) and returns the PC after it. Never
// tests the budget and never calls EndOfScanline.
template <class Bus>
uint16_t CpuStepInstruction(CpuState& state, Bus& bus) {
    NoInstructionHook hook;
    cpu_detail::Interpret<true>(state, bus, hook);
    return state.PC;
}

// One debugger step: one instruction plus the run loop's interrupt and end-of-scanline
// bookkeeping (a pending NMI is entered after the instruction). A Stop from EndOfScanline is
// ignored, since the debugger drives the steps itself. Returns the PC after the step, which is
// the handler's address when an interrupt was entered.
template <class Bus>
uint16_t CpuDebugStep(CpuState& state, Bus& bus) {
    const bool nmiDue = state.NmiPending;
    CpuStepInstruction(state, bus);
    if (nmiDue) {
        state.NmiPending = false;
        CpuInterrupt(state, bus, InterruptRequest::Nmi);
    }
    if (state.CycleBudget > 0) return state.PC;
    const InterruptRequest request = bus.EndOfScanline();
    state.CycleBudget = state.CyclesPerLine;
    if (request != InterruptRequest::Stop && request != InterruptRequest::None)
        CpuTakeRequest(state, bus, request);
    return state.PC;
}

}  // namespace vexalo
