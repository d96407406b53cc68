// Waiting loops charged at once: loops on absolute RAM and on the status register, with or
// without an AND #imm, end every scanline exactly where running each round would; and whole
// cartridges (the test cartridges, the benchmark cartridges, the outside ones) do the same with
// and without the shortcut: registers, RAM, pictures, log and MIDI messages, frame by frame.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "core/cpu.h"
#include "input/input_device.h"
#include "input/input_script.h"
#include "input/joypad.h"
#include "sound/midi_recorder.h"
#include "tests/unit/flat_bus.h"
#include "tests/unit/test_cartridge.h"

namespace vexalo::test {
namespace {

using IR = InterruptRequest;

constexpr uint16_t kStatus = 0x2002;   // set by the scanline end, bit 7 cleared by a read
constexpr uint16_t kCounter = 0x3000;  // counts its reads: never the same twice

// A flat bus with a status register and a counting register. `kRepeatable` declares RAM and the
// status register repeatable within a scanline, so the run loop may charge waiting loops on them
// at once; without it every round runs.
template <bool kRepeatable>
struct RegisterBus : FlatBus {
    uint8_t status = 0;
    uint8_t counter = 0;

    uint8_t ReadByte(uint16_t address) {
        if (address == kStatus) {
            const uint8_t value = status;
            status &= 0x7F;
            return value;
        }
        if (address == kCounter) return counter++;
        return FlatBus::ReadByte(address);
    }
};
struct RepeatableBus : RegisterBus<true> {
    static constexpr bool ReadRepeatsWithinScanline(uint16_t address) {
        return address != kCounter;
    }
};
using EveryRoundBus = RegisterBus<false>;

struct Outcome {
    std::vector<CpuState> states;  // at every EndOfScanline
    std::array<uint8_t, 0x10000> memory;
    size_t accesses;
};

// Runs `program` at $8000 for 60 scanlines with an NMI every third one that sets the status
// register's bit 7 and decrements $10; the handler at $9000 returns at once.
template <class Bus>
Outcome RunProgram(const std::vector<uint8_t>& program) {
    Bus bus;
    for (size_t i = 0; i < program.size(); ++i) bus.memory[0x8000 + i] = program[i];
    bus.Load(0x9000, {0xC6, 0x10, 0x40});  // DEC $10; RTI
    // Subroutines the loops may call.
    bus.Load(0x8F00, {0xA5, 0x10, 0xA2, 0x00, 0x60});  // LDA $10; LDX #0; RTS
    bus.Load(0x8F10, {0xA5, 0x10, 0x85, 0x13, 0x60});  // LDA $10; STA $13; RTS
    bus.Load(0x8F20, {0xE8, 0xA5, 0x10, 0x60});        // INX; LDA $10; RTS
    bus.SetWord(0xFFFC, 0x8000);
    bus.SetWord(0xFFFA, 0x9000);
    bus.afterScript = IR::None;  // the scanline ends below decide
    CpuState cpu;
    CpuReset(cpu, bus);
    Outcome out;
    int line = 0;
    bus.onEndOfScanline = [&] {
        out.states.push_back(cpu);
        if (++line == 60) return IR::Stop;
        if (line % 3) return IR::None;
        bus.status |= 0x80;
        return IR::Nmi;
    };
    CpuRun(cpu, bus);
    out.memory = bus.memory;
    out.accesses = bus.log.size();
    return out;
}

void ExpectSame(const Outcome& actual, const Outcome& expected) {
    ASSERT_EQ(actual.states.size(), expected.states.size());
    for (size_t i = 0; i < expected.states.size(); ++i) {
        ASSERT_EQ(std::memcmp(&actual.states[i], &expected.states[i], sizeof(CpuState)), 0)
            << "scanline " << i + 1 << ": PC " << std::hex << actual.states[i].PC << " vs "
            << expected.states[i].PC << ", A " << int(actual.states[i].A) << " vs "
            << int(expected.states[i].A) << ", budget " << std::dec << actual.states[i].CycleBudget
            << " vs " << expected.states[i].CycleBudget;
    }
    EXPECT_TRUE(actual.memory == expected.memory);
}

// `loop` placed after a lead-in of `lead` bytes (NOPs, and a ZP load for odd cycle counts), then
// INC $11 and a jump back to the loop; $12 is set to the value that ends a RAM loop.
std::vector<uint8_t> Program(const std::vector<uint8_t>& loop, int lead) {
    std::vector<uint8_t> program;
    for (int i = 0; i < lead / 2; ++i) program.push_back(0xEA);  // NOP: 2 cycles
    if (lead % 2) program.insert(program.end(), {0xA5, 0x30});   // LDA $30: 3 cycles
    program.insert(program.end(), {0xA9, 0x00, 0xA2, 0x00});     // LDA #0; LDX #0
    const uint16_t start = uint16_t(0x8000 + program.size());
    program.insert(program.end(), loop.begin(), loop.end());
    program.insert(program.end(), {0xE6, 0x11, 0xA9, 0x00, 0xA2, 0x00, 0x85, 0x10, 0x4C});
    program.push_back(uint8_t(start));
    program.push_back(uint8_t(start >> 8));
    return program;
}

TEST(WaitingLoopTest, LoopsOnAbsoluteRamAndTheStatusRegisterEndEveryScanlineWhereRunningWould) {
    // Each loop waits on $0010 (turned from 0 to $FF by the NMI) or on the status register.
    const std::vector<std::vector<uint8_t>> loops = {
        {0xAD, 0x10, 0x00, 0xF0, 0xFB},                    // LDA $0010; BEQ
        {0xCD, 0x10, 0x00, 0xF0, 0xFB},                    // CMP $0010; BEQ (A = 0)
        {0xEC, 0x10, 0x00, 0xF0, 0xFB},                    // CPX $0010; BEQ (X = 0)
        {0xAE, 0x10, 0x00, 0xF0, 0xFB},                    // LDX $0010; BEQ
        {0xAC, 0x10, 0x00, 0xF0, 0xFB},                    // LDY $0010; BEQ
        {0x2C, 0x10, 0x00, 0x10, 0xFB},                    // BIT $0010; BPL
        {0x2C, 0x02, 0x20, 0x10, 0xFB},                    // BIT $2002; BPL
        {0xAD, 0x02, 0x20, 0x29, 0x80, 0xF0, 0xF9},        // LDA $2002; AND #$80; BEQ
        {0xA5, 0x10, 0x29, 0x40, 0xF0, 0xFA},              // LDA $10; AND #$40; BEQ
        {0xAD, 0x10, 0x00, 0x29, 0x01, 0xF0, 0xF9},        // LDA $0010; AND #$01; BEQ
        {0xA5, 0x10, 0xC5, 0x12, 0xF0, 0xFA},              // LDA $10; CMP $12; BEQ
        {0xAD, 0x02, 0x20, 0xAA, 0x29, 0x80, 0xF0, 0xF8},  // LDA $2002; TAX; AND #$80; BEQ
        {0x8A, 0x0A, 0xA8, 0x2C, 0x02, 0x20, 0x10, 0xF9},  // TXA; ASL A; TAY; BIT $2002; BPL
        {0x20, 0x00, 0x8F, 0xAA, 0xF0, 0xFA},              // JSR (LDA $10; LDX #0; RTS); TAX; BEQ
        {0xAE, 0x02, 0x20, 0x29, 0x80, 0xF0, 0xF9},  // LDX $2002; AND #$80; BEQ (A = 0 for good)
    };
    for (size_t l = 0; l < loops.size(); ++l) {
        // Lead-ins of 0 to 13 cycles put the scanline ends at every phase of every loop.
        for (int lead = 0; lead < 14; ++lead) {
            SCOPED_TRACE(::testing::Message() << "loop " << l << ", lead-in " << lead);
            const std::vector<uint8_t> program = Program(loops[l], lead);
            const Outcome expected = RunProgram<EveryRoundBus>(program);
            const Outcome actual = RunProgram<RepeatableBus>(program);
            ExpectSame(actual, expected);
            // The shortcut did charge rounds at once.
            EXPECT_LT(actual.accesses, expected.accesses);
            if (l != loops.size() - 1) {
                EXPECT_GT(expected.memory[0x11], 5);  // the loop was left and entered again
            }
        }
    }
}

TEST(WaitingLoopTest, LoopsThatCannotBeChargedAtOnceRunEveryRound) {
    const std::vector<std::vector<uint8_t>> loops = {
        // A read the bus does not declare repeatable: the counter's bit 7 ends the loop.
        {0xAD, 0x00, 0x30, 0x29, 0x80, 0xF0, 0xF9},  // LDA $3000; AND #$80; BEQ
        {0x2C, 0x00, 0x30, 0x10, 0xFB},              // BIT $3000; BPL
        // Not a read and an AND: an indexed read, an ORA, an AND not immediate.
        {0xBD, 0x10, 0x00, 0xF0, 0xFB},              // LDA $0010,X; BEQ
        {0xAD, 0x10, 0x00, 0x09, 0x00, 0xF0, 0xF9},  // LDA $0010; ORA #0; BEQ
        {0xAD, 0x10, 0x00, 0x25, 0x11, 0xF0, 0xF9},  // LDA $0010; AND $11; BEQ
        // Rounds that never leave the registers as they found them.
        {0xE8, 0xA5, 0x10, 0xF0, 0xFB},                    // INX; LDA $10; BEQ
        {0xA5, 0x10, 0x69, 0x00, 0xC9, 0x80, 0xD0, 0xF8},  // LDA $10; ADC #0; CMP #$80; BNE
        // A write, or the stack: a round may change what the next one reads.
        {0xA5, 0x10, 0x85, 0x13, 0xF0, 0xFA},  // LDA $10; STA $13; BEQ
        {0x48, 0x68, 0xA5, 0x10, 0xF0, 0xFA},  // PHA; PLA; LDA $10; BEQ
        {0x20, 0x10, 0x8F, 0xAA, 0xF0, 0xFA},  // JSR (LDA $10; STA $13; RTS); TAX; BEQ
        {0x20, 0x20, 0x8F, 0xF0, 0xFB},        // JSR (INX; LDA $10; RTS); BEQ
    };
    for (size_t l = 0; l < loops.size(); ++l) {
        for (int lead = 0; lead < 8; ++lead) {
            SCOPED_TRACE(::testing::Message() << "loop " << l << ", lead-in " << lead);
            const std::vector<uint8_t> program = Program(loops[l], lead);
            const Outcome expected = RunProgram<EveryRoundBus>(program);
            const Outcome actual = RunProgram<RepeatableBus>(program);
            ExpectSame(actual, expected);
        }
    }
}

// --- Whole cartridges ---

// Both joypads of a machine follow a script; detached on destruction.
struct ScriptedPads {
    Machine& m;
    InputScript script;
    InputDevice devices[2];
    InputScriptSource sources[2];
    ScriptedPads(Machine& machine, std::string_view text)
        : m(machine), sources{{script, 0, &m.framesCompleted}, {script, 1, &m.framesCompleted}} {
        std::string error;
        EXPECT_TRUE(ParseInputScript(text, script, error)) << error;
        for (int p = 0; p < 2; ++p) {
            devices[p].SetScriptedSource(&sources[p]);
            m.pads.device[p] = &devices[p];
        }
        ApplyKeyBindings(m);
    }
    ~ScriptedPads() { m.pads.device[0] = m.pads.device[1] = nullptr; }
};

// Buttons of both players changing every few frames.
constexpr std::string_view kPlay =
    "0 1 -\n 12 1 START\n 16 1 -\n 20 2 A+RIGHT\n 30 1 RIGHT+B\n 41 2 LEFT\n 47 1 A\n"
    "55 1 START+UP\n 58 2 -\n 63 1 DOWN+SELECT\n 70 2 B+UP\n 82 1 A+LEFT\n 95 2 START\n"
    "99 2 -\n 104 1 RIGHT\n 117 1 -\n";

// One cartridge run with the MIDI messages recorded.
struct RecordedRun {
    CartridgeRun run;
    MidiRecorder recorder;
    ScriptedPads pads;
    RecordedRun() : pads(run.m(), kPlay) {
        recorder.SetClock(&run.m().framesCompleted);
        run.m().sound.output = &recorder;
    }
    ~RecordedRun() { run.m().sound.output = nullptr; }
};

// A hook that does nothing: a run with it executes every round of every waiting loop.
struct EveryRound {
    void operator()(const CpuState&) const {}
};

void ExpectCartridgeRunsTheSameWithoutTheShortcut(const std::string& path) {
    SCOPED_TRACE(path);
    RecordedRun skipping;
    RecordedRun everyRound;
    ASSERT_TRUE(skipping.run.Start(path));
    ASSERT_TRUE(everyRound.run.Start(path));
    for (int frame = 0; frame < 150; ++frame) {
        skipping.run.engine().Run(kLinesPerFrame);
        everyRound.run.engine().Run(kLinesPerFrame, EveryRound{});
        const Machine& a = skipping.run.m();
        const Machine& b = everyRound.run.m();
        ASSERT_EQ(std::memcmp(&a.cpu, &b.cpu, sizeof(CpuState)), 0)
            << "frame " << frame << ": PC " << std::hex << a.cpu.PC << " vs " << b.cpu.PC;
        ASSERT_TRUE(a.internalRam == b.internalRam) << "frame " << frame;
        ASSERT_TRUE(a.frame == b.frame) << "frame " << frame;
        ASSERT_EQ(a.ppu.ppuStatus, b.ppu.ppuStatus) << "frame " << frame;
    }
    EXPECT_EQ(skipping.run.m().cart.backedMemory, everyRound.run.m().cart.backedMemory);
    EXPECT_EQ(skipping.run.LogLines(), everyRound.run.LogLines());
    EXPECT_TRUE(skipping.recorder.Events() == everyRound.recorder.Events());
}

std::vector<std::string> Cartridges(const std::filesystem::path& dir) {
    std::vector<std::string> paths;
    std::error_code ec;
    for (std::filesystem::recursive_directory_iterator it(dir, ec), end; !ec && it != end;
         it.increment(ec)) {
        if (it->path().extension() == ".nes") paths.push_back(it->path().string());
    }
    std::sort(paths.begin(), paths.end());
    return paths;
}

TEST(WaitingLoopTest, TestCartridgesRunTheSameWithAndWithoutTheShortcut) {
    const auto paths = Cartridges(VEXALO_TEST_ROM_DIR);
    ASSERT_GE(paths.size(), 10u);
    for (const std::string& path : paths) ExpectCartridgeRunsTheSameWithoutTheShortcut(path);
    ExpectCartridgeRunsTheSameWithoutTheShortcut(VEXALO_DEMO_ROM);
}

TEST(WaitingLoopTest, BenchmarkCartridgesRunTheSameWithAndWithoutTheShortcut) {
    // The benchmark cartridges are built beside the test cartridges, in bench/roms.
    const std::filesystem::path dir =
        std::filesystem::path(VEXALO_TEST_ROM_DIR).parent_path().parent_path() / "bench" / "roms";
    const auto paths = Cartridges(dir);
    ASSERT_EQ(paths.size(), 5u) << dir;
    for (const std::string& path : paths) ExpectCartridgeRunsTheSameWithoutTheShortcut(path);
}

TEST(WaitingLoopTest, OutsideCartridgesRunTheSameWithAndWithoutTheShortcut) {
    const auto paths = Cartridges(VEXALO_SHARED_ROM_DIR);
    if (paths.empty()) GTEST_SKIP() << "no outside cartridges in " << VEXALO_SHARED_ROM_DIR;
    for (const std::string& path : paths) ExpectCartridgeRunsTheSameWithoutTheShortcut(path);
}

}  // namespace
}  // namespace vexalo::test
