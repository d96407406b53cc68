// The interpreter's two dispatches (threaded and the portable switch) run the same, instruction
// by instruction and access by access: on random programs, on a program that rewrites its own
// code in RAM and switches the bank under itself, and on whole cartridges frame by frame.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <random>
#include <string>
#include <vector>

#include "core/cpu.h"
#include "machine/bus.h"
#include "tests/unit/flat_bus.h"
#include "tests/unit/test_cartridge.h"

namespace vexalo::test {
namespace {

using IR = InterruptRequest;

// A flat bus whose $A000-$BFFF shows one of two 8 KB banks; a write to $8000-$FFFF selects the
// bank with its bit 0 (and writes nothing).
struct BankedBus : FlatBus {
    std::array<std::array<uint8_t, 0x2000>, 2> banks{};
    int bank = 0;

    uint8_t& At(uint16_t address) {
        if (address >= 0xA000 && address < 0xC000) return banks[bank][address - 0xA000];
        return memory[address];
    }
    uint8_t ReadByte(uint16_t address) {
        memory[address] = At(address);  // the flat bus logs what it finds in `memory`
        return FlatBus::ReadByte(address);
    }
    uint8_t FetchByte(uint16_t address) {
        memory[address] = At(address);
        return FlatBus::FetchByte(address);
    }
    void WriteByte(uint16_t address, uint8_t value) {
        const uint8_t kept = memory[address];
        FlatBus::WriteByte(address, value);
        if (address >= 0x8000) {
            memory[address] = kept;
            bank = value & 1;
        }
    }
};

// The same bus with a code window over its memory and its banks, as the machine's bus has: the
// CPU then reads instructions straight from them, and only a write to $8000-$FFFF may switch.
struct WindowedBankedBus : BankedBus {
    bool CodeWindow(uint16_t address, uintptr_t& base, uint16_t& start, uint16_t& length) const {
        start = uint16_t(address & 0xE000);
        length = 0x1FFE;
        const uint8_t* bytes = start == 0xA000 ? banks[bank].data() : memory.data() + start;
        base = reinterpret_cast<uintptr_t>(bytes) - start;
        return uint16_t(address - start) < length;
    }
    static constexpr bool WriteKeepsCode(uint16_t address) { return address < 0x8000; }
    uint32_t CodeMapStamp() const { return uint32_t(bank); }
};

// Field by field: the record's padding bytes are not copied with its registers.
bool SameRegisters(const CpuState& a, const CpuState& b) {
    return a.A == b.A && a.P == b.P && a.X == b.X && a.Y == b.Y && a.S == b.S && a.PC == b.PC &&
           a.CyclesPerLine == b.CyclesPerLine && a.CycleBudget == b.CycleBudget &&
           a.Jammed == b.Jammed && a.NmiPending == b.NmiPending;
}

// What a run did: the registers before every instruction, the final ones, memory and the log.
struct Outcome {
    std::vector<CpuState> before;
    CpuState last;
    std::vector<BusAccess> log;
    std::array<uint8_t, 0x10000> memory;
};

template <CpuDispatch kDispatch, class Bus>
Outcome RunWith(Bus bus, CpuState cpu, bool hook) {
    Outcome run;
    if (hook) {
        CpuRun<kDispatch>(cpu, bus, [&](const CpuState& s) { run.before.push_back(s); });
    } else {
        CpuRun<kDispatch>(cpu, bus);
    }
    run.last = cpu;
    run.log = bus.log;
    run.memory = bus.memory;
    return run;
}

// Runs `bus` from `cpu` on both dispatches, with and without a hook, and expects the same
// instructions, registers, accesses and memory.
template <class Bus>
void ExpectBothDispatchesAgree(const Bus& bus, const CpuState& cpu) {
    for (const bool hook : {true, false}) {
        SCOPED_TRACE(hook ? "with a hook" : "without a hook");
        const Outcome threaded = RunWith<CpuDispatch::Threaded>(bus, cpu, hook);
        const Outcome plain = RunWith<CpuDispatch::Switch>(bus, cpu, hook);
        ASSERT_EQ(threaded.before.size(), plain.before.size());
        for (size_t i = 0; i < plain.before.size(); ++i) {
            ASSERT_TRUE(SameRegisters(threaded.before[i], plain.before[i]))
                << "instruction " << i << ": PC " << std::hex << threaded.before[i].PC << " vs "
                << plain.before[i].PC;
        }
        EXPECT_TRUE(SameRegisters(threaded.last, plain.last));
        ASSERT_EQ(threaded.log.size(), plain.log.size());
        for (size_t i = 0; i < plain.log.size(); ++i)
            ASSERT_EQ(threaded.log[i], plain.log[i]) << "access " << i;
        EXPECT_TRUE(threaded.memory == plain.memory);
    }
}

TEST(CpuDispatchTest, BothDispatchesAgreeOnRandomPrograms) {
    for (unsigned seed : {11u, 12u, 13u}) {
        SCOPED_TRACE(::testing::Message() << "seed " << seed);
        std::mt19937 random(seed);
        FlatBus bus;
        for (auto& b : bus.memory) b = uint8_t(random());
        for (int i = 0; i < 1499; ++i) {
            const unsigned r = random() % 10;
            bus.script.push_back(r == 0   ? IR::Irq
                                 : r == 1 ? IR::Nmi
                                 : r == 2 ? IR::NmiAfterInstruction
                                          : IR::None);
        }
        CpuState cpu;
        CpuReset(cpu, bus);
        bus.log.clear();
        ExpectBothDispatchesAgree(bus, cpu);
        // The debugger's steps too.
        FlatBus threadedBus = bus, plainBus = bus;
        CpuState threaded = cpu, plain = cpu;
        for (int i = 0; i < 5000; ++i) {
            ASSERT_EQ(CpuDebugStep<CpuDispatch::Threaded>(threaded, threadedBus),
                      CpuDebugStep<CpuDispatch::Switch>(plain, plainBus))
                << "step " << i;
        }
        EXPECT_TRUE(SameRegisters(threaded, plain));
        EXPECT_TRUE(threadedBus.log == plainBus.log);
    }
}

// A program that rewrites its own code in RAM and switches the bank under itself, with NMIs.
WindowedBankedBus SelfModifyingProgram() {
    WindowedBankedBus bus;
    bus.Load(0x8000, {
                         0xA2, 0x05,        // $8000 LDX #5
                         0xBD, 0x40, 0x80,  // $8002 LDA $8040,X: copies the routine to RAM
                         0x9D, 0x00, 0x03,  // $8005 STA $0300,X
                         0xCA,              // $8008 DEX
                         0x10, 0xF7,        // $8009 BPL $8002
                         0x4C, 0x00, 0xA0,  // $800B JMP $A000
                     });
    // The routine in RAM increments its own operand every call.
    bus.Load(0x8040, {
                         0xA9, 0x00,        // $0300 LDA #n (LDX #n after a rewrite)
                         0xEE, 0x01, 0x03,  // $0302 INC $0301
                         0x60,              // $0305 RTS
                     });
    bus.Load(0x8030, {0xE6, 0x12, 0x40});  // NMI: INC $12; RTI
    // Bank 0 calls the routine, turns its LDA # into LDX # and back every 16th round, and
    // switches to bank 1 under itself; bank 1 runs other code at the next address and switches
    // back.
    const std::vector<uint8_t> bank0 = {
        0xE6, 0x10,        // $A000 INC $10
        0x20, 0x00, 0x03,  // $A002 JSR $0300
        0xA5, 0x10,        // $A005 LDA $10
        0x29, 0x0F,        // $A007 AND #$0F
        0xD0, 0x08,        // $A009 BNE $A013
        0xAD, 0x00, 0x03,  // $A00B LDA $0300
        0x49, 0x0B,        // $A00E EOR #$0B: $A9 (LDA #) <-> $A2 (LDX #)
        0x8D, 0x00, 0x03,  // $A010 STA $0300
        0xA9, 0x01,        // $A013 LDA #1
        0x8D, 0x00, 0x80,  // $A015 STA $8000: bank 1 from $A018 on
        0xEA, 0xEA, 0xEA, 0xEA, 0xEA, 0xEA, 0xEA, 0xEA, 0xEA, 0xEA,  // $A018 (not run)
        0x4C, 0x00, 0xA0,                                            // $A022 JMP $A000
    };
    const std::vector<uint8_t> bank1 = {
        0xE6, 0x11,        // $A018 INC $11
        0x20, 0x00, 0x03,  // $A01A JSR $0300
        0xA9, 0x00,        // $A01D LDA #0
        0x8D, 0x00, 0x80,  // $A01F STA $8000: bank 0 from $A022 on
    };
    std::copy(bank0.begin(), bank0.end(), bus.banks[0].begin());
    std::copy(bank1.begin(), bank1.end(), bus.banks[1].begin() + 0x18);
    bus.SetWord(0xFFFC, 0x8000);
    bus.SetWord(0xFFFA, 0x8030);
    for (int line = 1; line < 300; ++line)
        bus.script.push_back(line % 7 ? IR::None : IR::NmiAfterInstruction);
    return bus;
}

TEST(CpuDispatchTest, SelfModifyingCodeAndABankSwitchUnderTheRunningCodeRunTheSame) {
    BankedBus bus = SelfModifyingProgram();  // sliced: without the code window
    CpuState cpu;
    CpuReset(cpu, bus);
    bus.log.clear();

    ExpectBothDispatchesAgree(bus, cpu);
    // The program did what it is there for: both banks ran, and the routine ran with both of
    // its opcodes and with changing operands.
    const Outcome run = RunWith<CpuDispatch::Threaded>(bus, cpu, false);
    const auto count = [&](AccessKind kind, uint16_t address, int value = -1) {
        return std::count_if(run.log.begin(), run.log.end(), [&](const BusAccess& a) {
            return a.kind == kind && a.address == address && (value < 0 || a.value == value);
        });
    };
    EXPECT_GT(count(AccessKind::Fetch, 0xA018, 0xE6), 100);  // bank 1's INC $11
    EXPECT_GT(count(AccessKind::Fetch, 0xA022, 0x4C), 100);  // bank 0's JMP
    EXPECT_GT(count(AccessKind::Fetch, 0x0300, 0xA2), 10);   // LDX #
    EXPECT_GT(count(AccessKind::Fetch, 0x0300, 0xA9), 10);   // LDA #
    EXPECT_GT(count(AccessKind::Fetch, 0x8030, 0xE6), 10);   // the NMI handler
}

// The same program read through the code window (threaded) and through FetchByte (the switch):
// the same instructions, registers, reads, writes and memory.
TEST(CpuDispatchTest, TheCodeWindowFollowsSelfModifyingCodeAndBankSwitches) {
    const WindowedBankedBus windowed = SelfModifyingProgram();
    BankedBus plainBus = windowed;  // sliced: without the code window
    CpuState cpu;
    CpuReset(cpu, plainBus);
    plainBus.log.clear();
    const auto withoutFetches = [](std::vector<BusAccess> log) {
        std::erase_if(log, [](const BusAccess& a) { return a.kind == AccessKind::Fetch; });
        return log;
    };
    for (const bool hook : {true, false}) {
        SCOPED_TRACE(hook ? "with a hook" : "without a hook");
        Outcome window = RunWith<CpuDispatch::Threaded>(windowed, cpu, hook);
        Outcome plain = RunWith<CpuDispatch::Switch>(plainBus, cpu, hook);
        if (hook) {
            ASSERT_GT(plain.before.size(), 5000u);
            ASSERT_EQ(window.before.size(), plain.before.size());
            for (size_t i = 0; i < plain.before.size(); ++i)
                ASSERT_TRUE(SameRegisters(window.before[i], plain.before[i]))
                    << "instruction " << i;
        }
        EXPECT_TRUE(SameRegisters(window.last, plain.last));
        EXPECT_TRUE(withoutFetches(window.log) == withoutFetches(plain.log));
        // FetchByte copies the bank's bytes into the flat memory, which the window does not.
        std::fill(window.memory.begin() + 0xA000, window.memory.begin() + 0xC000, 0);
        std::fill(plain.memory.begin() + 0xA000, plain.memory.begin() + 0xC000, 0);
        EXPECT_TRUE(window.memory == plain.memory);
    }
}

// The machine's bus without its code window: the CPU reads every instruction byte through
// FetchByte.
struct PlainFetchBus : MachineBus {
    bool CodeWindow(uint16_t, uintptr_t&, uint16_t&, uint16_t&) const = delete;
};
static_assert(cpu_detail::HasCodeWindow<MachineBus>() &&
              !cpu_detail::HasCodeWindow<PlainFetchBus>());

// Whole cartridges: the engine's run (the default dispatch, through the code window) against
// the switch reading every byte through FetchByte, line for line as Engine::Run drives it, frame
// by frame.
void ExpectCartridgeRunsTheSameOnTheSwitch(const std::string& path) {
    SCOPED_TRACE(path);
    CartridgeRun engine;
    CartridgeRun plain;
    ASSERT_TRUE(engine.Start(path));
    ASSERT_TRUE(plain.Start(path));
    for (int frame = 0; frame < 120; ++frame) {
        engine.RunFrames(1);
        Machine& m = plain.m();
        if (m.running) {
            m.linesUntilYield = kLinesPerFrame;
            PlainFetchBus bus{{m}};
            CpuRun<CpuDispatch::Switch>(m.cpu, bus);
            m.linesUntilYield = -1;
        }
        const Machine& a = engine.m();
        ASSERT_TRUE(SameRegisters(a.cpu, m.cpu))
            << "frame " << frame << ": PC " << std::hex << a.cpu.PC << " vs " << m.cpu.PC;
        ASSERT_TRUE(a.internalRam == m.internalRam) << "frame " << frame;
        ASSERT_TRUE(a.frame == m.frame) << "frame " << frame;
    }
    EXPECT_EQ(engine.m().cart.backedMemory, plain.m().cart.backedMemory);
    EXPECT_EQ(engine.LogLines(), plain.LogLines());
}

TEST(CpuDispatchTest, CartridgesRunTheSameOnBothDispatches) {
    std::vector<std::string> paths = {VEXALO_DEMO_ROM};
    std::error_code ec;
    for (const std::filesystem::path& dir :
         {std::filesystem::path(VEXALO_TEST_ROM_DIR),
          std::filesystem::path(VEXALO_TEST_ROM_DIR).parent_path().parent_path() / "bench" / "roms",
          std::filesystem::path(VEXALO_SHARED_ROM_DIR)}) {
        for (std::filesystem::recursive_directory_iterator it(dir, ec), end; !ec && it != end;
             it.increment(ec)) {
            if (it->path().extension() == ".nes") paths.push_back(it->path().string());
        }
    }
    ASSERT_GE(paths.size(), 15u);
    for (const std::string& path : paths) ExpectCartridgeRunsTheSameOnTheSwitch(path);
}

}  // namespace
}  // namespace vexalo::test
