// The 6502 interpreter, compiled against a concrete bus type.
//
// A bus provides ReadByte, WriteByte, FetchByte and EndOfScanline as inline functions; the
// interpreter is instantiated once with the machine's bus and, in the tests, with a flat logging
// bus. Every access goes through those four operations, so the CPU owns no memory of its own.
//
// Speed: the run loop keeps the registers in a local copy of the record (in its CpuCore) whose
// address never escapes, so the compiler can hold them in machine registers even though every bus
// write goes through a uint8_t pointer (which could alias any byte of the caller's record). The
// caller's record is brought up to date before every EndOfScanline call, since the machine may read
// or edit it there (debugger, nested run loop), and reloaded afterwards.
#pragma once

#include <array>
#include <concepts>
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

// How the interpreter goes from one instruction to the next. Switch: one loop around a switch
// on the opcode, plain C++. Threaded: every handler ends with the next instruction's fetch and
// its own indirect jump through a table of handler addresses (computed goto, a GCC and Clang
// extension), and charges its base cycles as a constant; no loop test, no range test, and one
// jump per opcode for the branch predictor instead of one shared. Both expand the same opcode
// bodies (core/cpu_opcodes.inc) and behave the same, access for access.
enum class CpuDispatch : uint8_t { Switch, Threaded };

// Every opcode from $00 to $FF in order, as X(0x00) ... X(0xFF): the threaded dispatch's table.
// clang-format off
#define VEXALO_CPU_OPCODE_ROW(X, h)                                                  \
    X(0x##h##0) X(0x##h##1) X(0x##h##2) X(0x##h##3) X(0x##h##4) X(0x##h##5)           \
    X(0x##h##6) X(0x##h##7) X(0x##h##8) X(0x##h##9) X(0x##h##A) X(0x##h##B)           \
    X(0x##h##C) X(0x##h##D) X(0x##h##E) X(0x##h##F)
#define VEXALO_CPU_ALL_OPCODES(X)                                                    \
    VEXALO_CPU_OPCODE_ROW(X, 0) VEXALO_CPU_OPCODE_ROW(X, 1) VEXALO_CPU_OPCODE_ROW(X, 2) \
    VEXALO_CPU_OPCODE_ROW(X, 3) VEXALO_CPU_OPCODE_ROW(X, 4) VEXALO_CPU_OPCODE_ROW(X, 5) \
    VEXALO_CPU_OPCODE_ROW(X, 6) VEXALO_CPU_OPCODE_ROW(X, 7) VEXALO_CPU_OPCODE_ROW(X, 8) \
    VEXALO_CPU_OPCODE_ROW(X, 9) VEXALO_CPU_OPCODE_ROW(X, A) VEXALO_CPU_OPCODE_ROW(X, B) \
    VEXALO_CPU_OPCODE_ROW(X, C) VEXALO_CPU_OPCODE_ROW(X, D) VEXALO_CPU_OPCODE_ROW(X, E) \
    VEXALO_CPU_OPCODE_ROW(X, F)
// clang-format on

#if defined(__GNUC__) && !defined(VEXALO_CPU_SWITCH_DISPATCH)
inline constexpr CpuDispatch kDefaultDispatch = CpuDispatch::Threaded;
#else
inline constexpr CpuDispatch kDefaultDispatch = CpuDispatch::Switch;
#endif

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

// Whether instructions may be read straight from the host memory that holds them, through three
// operations of the bus:
// - `bool CodeWindow(uint16_t address, uintptr_t& base, uint16_t& start, uint16_t& length)`:
//   true when the bytes at `start` .. `start + length + 1`, which hold `address`, are plain
//   memory at `base + a`;
// - `static constexpr bool WriteKeepsCode(uint16_t address)`: a write there never moves them;
// - `uint32_t CodeMapStamp()`: changes whenever they move.
template <class Bus>
constexpr bool HasCodeWindow() {
    return requires(const Bus& bus, uintptr_t& base, uint16_t& start, uint16_t& length) {
        { bus.CodeWindow(uint16_t{}, base, start, length) } -> std::same_as<bool>;
        Bus::WriteKeepsCode(uint16_t{});
        { bus.CodeMapStamp() } -> std::same_as<uint32_t>;
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
    // The registers, and the bus itself when it is only a handle on the machine, are held by
    // value: the run loop's CpuCore is a local whose address never escapes once its members
    // are inlined, so the compiler keeps them in machine registers, even though every bus write
    // goes through a uint8_t pointer (which could alias any byte of a record in memory). The
    // callers copy the record in and out.
    using BusHandle =
        std::conditional_t<std::is_trivially_copyable_v<Bus> && sizeof(Bus) <= 2 * sizeof(void*),
                           Bus, Bus&>;
    CpuState s;
    BusHandle bus;
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
    // While the vertical blank's NMI waits for one instruction (NmiPending), the run loop holds
    // the budget at 1, so that the instruction, whatever it charges, ends in EndOfBudget, where
    // the NMI is entered; the rest of the scanline's budget waits here. The fast path thus tests
    // nothing more per instruction.
    int32_t heldBudget = 0;

    // --- The code window (buses with CodeWindow) ---
    // The bytes of the running instruction are read straight from the host memory that holds
    // them, at codeBase + address: the opcode fetch checks that the instruction's three bytes lie
    // in the open window (PC - codeStart < codeLength) and opens another when not. A write that
    // may change the memory map (any the bus does not call harmless), an end of scanline that
    // changed it and a hook close it. An instruction that lies across a window's end, or in the I/O
    // area, is copied through FetchByte into a scratch buffer, which is as good since FetchByte has
    // no side effect, and the window stays closed.
    static constexpr bool kCodeWindow = HasCodeWindow<std::remove_cvref_t<Bus>>();
    uintptr_t codeBase = 0;
    uint16_t codeStart = 0;
    uint16_t codeLength = 0;  // 0: closed
    void CloseCodeWindow() {
        if constexpr (kCodeWindow) codeLength = 0;
    }
    uint8_t CodeByte(uint16_t address) const {
        return *reinterpret_cast<const uint8_t*>(codeBase + address);
    }
    struct CodeSpan {
        uintptr_t base;
        uint16_t start, length;
    };
    // Out of line and static, with the bus and PC as values: the core's own address never leaves
    // the run loop, so its registers stay in machine registers.
    [[gnu::noinline]] static CodeSpan WindowAt(BusHandle bus, uint16_t pc) {
        CodeSpan w{};
        if (bus.CodeWindow(pc, w.base, w.start, w.length)) return w;
        thread_local std::array<uint8_t, 3> copy;
        for (uint16_t i = 0; i < 3; ++i) copy[i] = bus.FetchByte(uint16_t(pc + i));
        return {reinterpret_cast<uintptr_t>(copy.data()) - pc, 0, 0};
    }
    void OpenCodeWindow() {
        const CodeSpan w = WindowAt(bus, s.PC);
        codeBase = w.base;
        codeStart = w.start;
        codeLength = w.length;
    }

    // --- Operand bytes and effective addresses (PC advances past every operand byte) ---
    uint8_t FetchOpcode() {
        if constexpr (kCodeWindow) {
            if (uint16_t(s.PC - codeStart) >= codeLength) [[unlikely]]
                OpenCodeWindow();
        }
        return Fetch();
    }
    uint8_t Fetch() {
        if constexpr (kCodeWindow) {
            return CodeByte(s.PC++);
        } else {
            return bus.FetchByte(s.PC++);
        }
    }
    uint16_t Word() {
        uint16_t word;
        if constexpr (kCodeWindow) {
            word = uint16_t(CodeByte(s.PC) | CodeByte(uint16_t(s.PC + 1)) << 8);
        } else {
            word = FetchPair(s.PC);
        }
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
    void Write(uint16_t address, uint8_t value) {
        bus.WriteByte(address, value);
        WroteAt(address);
    }
    void WroteAt(uint16_t address) {
        if constexpr (kCodeWindow) {
            if (!std::remove_cvref_t<Bus>::WriteKeepsCode(address)) CloseCodeWindow();
        }
    }

    // --- Flags ---
    // N and Z are kept apart from P, as the result they come from (`nz`): Z is set when its low
    // byte is 0, N when bit 7 or bit 8 is set (bit 8 is BIT's N, taken from the operand). Setting
    // them is then one move; s.P's own N and Z bits are stale until Record puts them back, which
    // the run loop does wherever the record is seen (hook, EndOfScanline, return).
    static uint16_t NzOf(uint8_t p) { return uint16_t(((p & FlagZ) ? 0 : 1) | (p & FlagN) << 1); }
    uint16_t nz = NzOf(s.P);
    bool Negative() const { return nz & 0x180; }
    bool Zero() const { return !(nz & 0xFF); }
    // P with its N and Z bits.
    uint8_t Status() const {
        return uint8_t((s.P & 0x7D) | (Negative() ? FlagN : 0) | (Zero() ? FlagZ : 0));
    }
    void SetStatus(uint8_t p) {
        s.P = p;
        nz = NzOf(p);
    }
    // The registers with N and Z put back into P.
    const CpuState& Record() {
        s.P = Status();
        return s;
    }
    // Sets N and Z from `value` and passes it through.
    uint8_t Nz(uint8_t value) {
        nz = value;
        return value;
    }
    // N and Z from `value`, C from `carry`; every other bit kept.
    uint8_t NzC(uint8_t value, bool carry) {
        s.P = uint8_t((s.P & ~FlagC) | (carry ? FlagC : 0));
        nz = value;
        return value;
    }
    void Set(uint8_t mask) { s.P |= mask; }
    void Clear(uint8_t mask) { s.P &= uint8_t(~mask); }

    // --- Arithmetic and logic ---
    void Ora(uint8_t v) { s.A = Nz(uint8_t(s.A | v)); }
    void And(uint8_t v) { s.A = Nz(uint8_t(s.A & v)); }
    void Eor(uint8_t v) { s.A = Nz(uint8_t(s.A ^ v)); }
    void Compare(uint8_t reg, uint8_t v) { NzC(uint8_t(reg - v), reg >= v); }
    void Bit(uint8_t v) {
        s.P = uint8_t((s.P & ~FlagV) | (v & FlagV));
        nz = uint16_t((s.A & v) | (v & 0x80) << 1);
    }
    void Adc(uint8_t v) {
        if (s.P & FlagD) return AdcDecimal(v);
        const unsigned sum = s.A + v + (s.P & FlagC);
        uint8_t p = s.P & 0x3C;
        if (~(s.A ^ v) & (s.A ^ sum) & 0x80) p |= FlagV;
        if (sum > 0xFF) p |= FlagC;
        s.A = Nz(uint8_t(sum));
        s.P = p;
    }
    void Sbc(uint8_t v) {
        if (s.P & FlagD) return SbcDecimal(v);
        const unsigned difference = unsigned(s.A - v - (1 - (s.P & FlagC))) & 0xFFFF;
        uint8_t p = s.P & 0x3C;
        if ((s.A ^ v) & (s.A ^ difference) & 0x80) p |= FlagV;
        if ((difference >> 8) == 0) p |= FlagC;
        s.A = Nz(uint8_t(difference));
        s.P = p;
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
            WroteAt(a);
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
        uint8_t p = uint8_t(s.P & 0x3C);
        nz = result;  // N and Z of the rotated byte, before a decimal correction
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
                                   uint64_t(Status()) << 24 | uint64_t(s.S) << 32;
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
        const uint8_t high = kCodeWindow ? CodeByte(s.PC) : bus.FetchByte(s.PC);
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
        Push(uint8_t(Status() | FlagB));
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
    void Plp() { SetStatus(uint8_t(Pull() | FlagUnused)); }

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
        Push(uint8_t(Status() & ~FlagB));
        Clear(FlagD);
        if (kind == InterruptRequest::Irq) Set(FlagI);
        s.PC = ReadWord(bus, vector);
    }

    // --- The run loop's bookkeeping between instructions ---
    void HoldForNmi() {
        heldBudget = s.CycleBudget - 1;
        s.CycleBudget = 1;
    }
    // The caller's record as a hook sees it before an instruction: the budget it starts with.
    template <class Hook>
    void ShowTo(Hook& hook, CpuState& record) {
        if constexpr (!std::is_same_v<Hook, NoInstructionHook>) {
            record = Record();
            record.CycleBudget += heldBudget;
            hook(std::as_const(record));
            CloseCodeWindow();
        }
    }
    // The budget is used up (or held for the NMI): the pending NMI, or the end of the scanline
    // and the interrupt it reports. The caller's `record` is brought up to date for
    // EndOfScanline, which may read or edit it, and reloaded. True when the run loop returns.
    bool EndOfBudget(CpuState& record) {
        if (s.NmiPending) {
            s.NmiPending = false;
            s.CycleBudget += heldBudget;
            heldBudget = 0;
            Interrupt(InterruptRequest::Nmi);
            if (s.CycleBudget > 0) return false;
        }
        record = Record();
        uint32_t codeMap = 0;
        if constexpr (kCodeWindow) codeMap = bus.CodeMapStamp();
        const InterruptRequest request = bus.EndOfScanline();
        SetStatus((s = record).P);
        if constexpr (kCodeWindow) {
            if (bus.CodeMapStamp() != codeMap) CloseCodeWindow();
        }
        idleRead = -1;  // a waiting loop's round never spans two scanlines
        // The overshoot of the last instruction is dropped; the budget is full again even when
        // the loop is about to return.
        s.CycleBudget = s.CyclesPerLine;
        if (request == InterruptRequest::Stop) {
            record = Record();
            return true;
        }
        if (request != InterruptRequest::None) {
            TakeRequest(request);
            if (s.NmiPending) HoldForNmi();
        }
        return false;
    }
};

// The fetch-charge-execute loop shared by CpuRun and CpuStepInstruction. With
// kSingleInstruction it executes exactly one instruction and never calls EndOfScanline.
// The opcode bodies live in this one function, so both users run the same per-opcode code and
// the registers stay in the local copy `s` for the whole loop.
//
// `flatten` asks the compiler to inline every helper and bus operation called here: the
// opcode bodies are far larger than the inliner's usual budget, and a single helper left out of
// line would take the address of `s` and send the registers back to memory on every bus write
// (measured: about 2.5 times slower). Compilers that do not know the attribute ignore it.
// Sanitizer builds check correctness, not speed, and leave it out (VEXALO_CPU_NO_FLATTEN): the
// instrumented, flattened opcode bodies make each instantiation take minutes to compile.
#if defined(VEXALO_CPU_NO_FLATTEN)
#define VEXALO_CPU_FLATTEN
#else
#define VEXALO_CPU_FLATTEN [[gnu::flatten]]
#endif
template <CpuDispatch kDispatch, bool kSingleInstruction, class Bus, class Hook>
VEXALO_CPU_FLATTEN inline void Interpret(CpuState& record, Bus& sharedBus, Hook& hook) {
    using PlainBus = std::remove_cvref_t<Bus>;
    CpuCore<Bus> c{record, sharedBus,
                   !kSingleInstruction && std::is_same_v<Hook, NoInstructionHook> &&
                       HasRepeatableReads<PlainBus>()};
    CpuState& s = c.s;  // the registers, for the opcode bodies
    if constexpr (!kSingleInstruction) {
        if (s.NmiPending) c.HoldForNmi();
    }

#if defined(__GNUC__)
    if constexpr (kDispatch == CpuDispatch::Threaded) {
#define VEXALO_OP_ADDRESS(code) &&op_##code,
        static const void* const kHandlers[256] = {VEXALO_CPU_ALL_OPCODES(VEXALO_OP_ADDRESS)};
#undef VEXALO_OP_ADDRESS
        // The next instruction: the hook, the opcode fetch and the jump to its handler.
#define VEXALO_NEXT_INSTRUCTION \
    c.ShowTo(hook, record);     \
    goto* kHandlers[c.FetchOpcode()]
#define VEXALO_OP(code, ...)                                       \
    op_##code : s.CycleBudget -= CycleTable[code];                 \
    __VA_ARGS__;                                                   \
    if (kSingleInstruction || s.CycleBudget <= 0) goto budgetUsed; \
    VEXALO_NEXT_INSTRUCTION;
        VEXALO_NEXT_INSTRUCTION;
#include "core/cpu_opcodes.inc"
    budgetUsed:
        if constexpr (kSingleInstruction) {
            record = c.Record();
            return;
        }
        if (c.EndOfBudget(record)) return;
        VEXALO_NEXT_INSTRUCTION;
#undef VEXALO_OP
#undef VEXALO_NEXT_INSTRUCTION
    } else
#endif
    {
        for (;;) {
            c.ShowTo(hook, record);
            const uint8_t op = c.FetchOpcode();
            s.CycleBudget -= CycleTable[op];
            switch (op) {
#define VEXALO_OP(code, ...) \
    case code:               \
        __VA_ARGS__;         \
        break;
#include "core/cpu_opcodes.inc"
#undef VEXALO_OP
            }
            if constexpr (kSingleInstruction) {
                record = c.Record();
                return;
            }
            if (s.CycleBudget > 0) continue;
            if (c.EndOfBudget(record)) return;
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
    cpu_detail::CpuCore<Bus> c{state, bus};
    c.Interrupt(kind);
    state = c.Record();
}

// Takes a request of EndOfScanline as the run loop does: NmiAfterInstruction sets NmiPending, for
// the NMI to be entered after the next instruction; Nmi and Irq are entered at once.
template <class Bus>
void CpuTakeRequest(CpuState& state, Bus& bus, InterruptRequest kind) {
    cpu_detail::CpuCore<Bus> c{state, bus};
    c.TakeRequest(kind);
    state = c.Record();
}

// Runs until EndOfScanline returns Stop. EndOfScanline is called each time the scanline budget
// is used up; an interrupt it reports is entered before the next instruction. On return the
// budget is full. May be entered again, nested, from inside EndOfScanline on the same record.
// `kDispatch` chooses the interpreter's dispatch (the tests run both).
template <CpuDispatch kDispatch = kDefaultDispatch, class Bus, class Hook = NoInstructionHook>
void CpuRun(CpuState& state, Bus& bus, Hook hook = {}) {
    cpu_detail::Interpret<kDispatch, false>(state, bus, hook);
}

// Executes exactly one instruction (charging its cycles) and returns the PC after it. Never
// tests the budget and never calls EndOfScanline.
template <CpuDispatch kDispatch = kDefaultDispatch, class Bus>
uint16_t CpuStepInstruction(CpuState& state, Bus& bus) {
    NoInstructionHook hook;
    cpu_detail::Interpret<kDispatch, true>(state, bus, hook);
    return state.PC;
}

// One debugger step: one instruction plus the run loop's interrupt and end-of-scanline
// bookkeeping (a pending NMI is entered after the instruction). A Stop from EndOfScanline is
// ignored, since the debugger drives the steps itself. Returns the PC after the step, which is
// the handler's address when an interrupt was entered.
template <CpuDispatch kDispatch = kDefaultDispatch, class Bus>
uint16_t CpuDebugStep(CpuState& state, Bus& bus) {
    const bool nmiDue = state.NmiPending;
    CpuStepInstruction<kDispatch>(state, bus);
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
