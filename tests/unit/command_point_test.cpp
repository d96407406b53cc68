// The command point: RunFrames returns at line 8's message point, and each command run between
// two calls has the effect it would have had there inside an uninterrupted run loop.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "cartridge/engine.h"
#include "machine/file_io.h"
#include "sound/midi_recorder.h"
#include "tests/unit/file_size_limit.h"
#include "tests/unit/image_builder.h"
#include "tests/unit/test_cartridge.h"

namespace vexalo {
namespace {

using test::BuildImage;
using test::ImageShape;
using test::TempDir;

constexpr uint16_t kReset = 0xC000;
constexpr uint16_t kLoop = 0xC006;
constexpr uint16_t kIrqHandler = 0xC012;

// MMC3 cartridge whose NMI handler (line 231) arms the scanline counter at 1, so every frame's
// line 8 raises an IRQ; the IRQ handler counts in $10.
std::vector<uint8_t> LineEightIrqImage() {
    ImageShape shape;
    shape.prgPages = 2;
    shape.flags6 = 0x40;  // mapper 4
    shape.program = {
        0xA9, 0x80, 0x8D, 0x00, 0x20,  // C000 LDA #$80, STA $2000: NMI at vertical blank
        0x58,                          // C005 CLI
        0x4C, 0x06, 0xC0,              // C006 JMP $C006
        0xA9, 0x01, 0x8D, 0x00, 0xC0,  // C009 NMI: LDA #1, STA $C000 (counter := 1)
        0x8D, 0x01, 0xC0,              // C00E STA $C001 (counting enabled)
        0x40,                          // C011 RTI
        0xE6, 0x10,                    // C012 IRQ: INC $10
        0x40,                          // C014 RTI
    };
    auto image = BuildImage(shape);
    const size_t vectors = 16 + 2 * 16384 - 6;
    image[vectors + 0] = 0x09;  // NMI $C009
    image[vectors + 1] = 0xC0;
    image[vectors + 4] = 0x12;  // IRQ $C012
    image[vectors + 5] = 0xC0;
    return image;
}

// Plays 440 Hz on the first square channel, then waits.
std::vector<uint8_t> NoteImage() {
    ImageShape shape;
    shape.program = {
        0xA9, 0xFD, 0x8D, 0x02, 0x40,  // LDA #$FD, STA $4002
        0xA9, 0x08, 0x8D, 0x03, 0x40,  // LDA #$08, STA $4003
        0x4C, 0x0A, 0xC0,              // JMP $C00A
    };
    return BuildImage(shape);
}

// The program counter of the next instruction the engine runs (one line is run to see it).
uint16_t NextInstruction(Engine& engine) {
    int seen = -1;
    engine.Run(1, [&](const CpuState& s) {
        if (seen < 0) seen = s.PC;
    });
    return static_cast<uint16_t>(seen);
}

class CommandPoint : public ::testing::Test {
   protected:
    void SetUp() override {
        engine.machine().settings.FrameRate = 1;
        image = dir.Write("Irq.nes", LineEightIrqImage());
        ASSERT_TRUE(engine.StartEngine(image));
    }
    Machine& m() { return engine.machine(); }

    TempDir dir;
    std::string image;
    Engine engine;
};

TEST_F(CommandPoint, RunFramesEndsAtTheMessagePointFromAnyLine) {
    // Lines 231 (NMI) and 8 (IRQ) carry interrupts; a bounded run stops after them.
    for (int64_t lines : {1, 7, 8, 9, 100, 230, 231, 232, 243, 244, 245, 251, 252}) {
        SCOPED_TRACE(lines);
        ASSERT_TRUE(engine.StartEngine(image));
        engine.Run(lines);
        const uint64_t reached = m().messagePointsReached;
        EXPECT_EQ(engine.RunFrames(1), 1);
        EXPECT_EQ(m().scanline, kFirstDrawnLine);
        EXPECT_EQ(m().messagePointsReached, reached + 1);
        EXPECT_EQ(engine.RunFrames(3), 3);
        EXPECT_EQ(m().scanline, kFirstDrawnLine);
    }
}

TEST_F(CommandPoint, FrameByFrameRunsAsOneLongRun) {
    Engine whole;
    whole.machine().settings.FrameRate = 1;
    ASSERT_TRUE(whole.StartEngine(image));
    EXPECT_EQ(whole.RunFrames(30), 30);
    for (int i = 0; i < 30; ++i) ASSERT_EQ(engine.RunFrames(1), 1);
    const Machine& a = m();
    const Machine& b = whole.machine();
    EXPECT_GT(a.internalRam[0x10], 20);  // the line-8 interrupt was taken every frame
    EXPECT_EQ(a.internalRam, b.internalRam);
    EXPECT_EQ(a.cpu.PC, b.cpu.PC);
    EXPECT_EQ(a.cpu.S, b.cpu.S);
    EXPECT_EQ(a.cpu.P, b.cpu.P);
    EXPECT_EQ(a.cpu.CycleBudget, b.cpu.CycleBudget);
    EXPECT_EQ(a.mapper.irqCounter, b.mapper.irqCounter);
    EXPECT_EQ(a.frame, b.frame);
    EXPECT_EQ(NextInstruction(engine), NextInstruction(whole));
}

TEST_F(CommandPoint, TheNextRunFinishesTheInterruptedLine) {
    EXPECT_EQ(engine.RunFrames(2), 2);  // the NMI of frame 0 armed the counter for this line 8
    ASSERT_EQ(m().scanline, kFirstDrawnLine);
    EXPECT_EQ(m().mapper.irqCounter, 1);
    EXPECT_TRUE(m().mapper.irqEnabled);
    // A command that changes nothing about running: the line goes on with its mapper hook.
    m().settings.FrameRate = 1;
    EXPECT_EQ(NextInstruction(engine), kIrqHandler);
    EXPECT_EQ(m().internalRam[0x10], 1);
}

TEST_F(CommandPoint, ResetLeavesNothingOfTheInterruptedLine) {
    engine.RunFrames(2);
    ASSERT_EQ(m().scanline, kFirstDrawnLine);
    ASSERT_TRUE(m().mapper.irqEnabled);
    engine.Reset();
    EXPECT_EQ(NextInstruction(engine), kReset);
    EXPECT_EQ(m().cpu.S, 0xFF);  // no interrupt pushed the old PC
    EXPECT_EQ(m().internalRam[0x10], 0);
}

TEST_F(CommandPoint, ANewLoadLeavesNothingOfTheInterruptedLine) {
    engine.RunFrames(2);
    ASSERT_TRUE(m().mapper.irqEnabled);
    ASSERT_TRUE(engine.StartEngine(image));
    m().mapper.irqCounter = 1;  // the mapper record outlives a load; the new program arms it
    m().mapper.irqEnabled = true;
    EXPECT_EQ(NextInstruction(engine), kReset);
    EXPECT_EQ(m().cpu.S, 0xFF);
}

TEST_F(CommandPoint, PauseDropsTheRestOfTheLineAndResumesWithTheNextInstruction) {
    engine.RunFrames(2);
    engine.Pause();
    EXPECT_FALSE(engine.Running());
    EXPECT_EQ(engine.RunFrames(1), 0);
    EXPECT_EQ(m().scanline, kFirstDrawnLine);
    engine.Pause();
    // As the stopped loop: the mapper hook of that line 8 never ran.
    EXPECT_EQ(NextInstruction(engine), kLoop);
    EXPECT_EQ(m().mapper.irqCounter, 0);  // counted at line 9 instead
    EXPECT_EQ(m().internalRam[0x10], 1);
}

TEST_F(CommandPoint, TheDebuggerStepsFromWhereTheMachineStopped) {
    engine.RunFrames(2);
    const uint16_t pc = m().cpu.PC;
    ASSERT_TRUE(engine.SuspendForDebugger());
    EXPECT_FALSE(engine.Running());
    EXPECT_EQ(engine.RunFrames(1), 0);
    EXPECT_EQ(m().cpu.PC, pc);
    // Steps through a whole frame, line 8 included, while `running` is clear.
    MachineBus bus{m()};
    for (int i = 0; i < 12000; ++i) CpuDebugStep(m().cpu, bus);
    EXPECT_GT(m().internalRam[0x10], 0);  // interrupts are still taken while stepping
    const int32_t budget = m().cpu.CycleBudget;
    engine.ResumeAfterDebugger(true);
    EXPECT_TRUE(engine.Running());
    int32_t firstBudget = 0;
    bool first = true;
    engine.Run(1, [&](const CpuState& s) {
        if (first) firstBudget = s.CycleBudget;
        first = false;
    });
    EXPECT_EQ(firstBudget, budget);
    EXPECT_EQ(engine.RunFrames(1), 1);
    EXPECT_EQ(m().scanline, kFirstDrawnLine);

    engine.Pause();  // a paused machine stays paused after the debugger
    EXPECT_FALSE(engine.SuspendForDebugger());
    engine.ResumeAfterDebugger(false);
    EXPECT_FALSE(engine.Running());
}

TEST_F(CommandPoint, TheDebuggerMayResetTheMachine) {
    engine.RunFrames(2);
    const bool wasRunning = engine.SuspendForDebugger();
    engine.ResetEngine();
    engine.ResumeAfterDebugger(wasRunning);
    EXPECT_EQ(NextInstruction(engine), kReset);
}

TEST(CommandPointSound, PauseSilencesTheChannelsAtOnce) {
    TempDir dir;
    const auto image = dir.Write("Note.nes", NoteImage());
    MidiRecorder recorder;
    Engine engine;
    engine.machine().sound.output = &recorder;
    ASSERT_TRUE(engine.StartEngine(image));
    engine.RunFrames(1);
    const auto before = recorder.ShortMessages();
    ASSERT_FALSE(before.empty());
    EXPECT_EQ(before.back().status & 0xF0, 0x80);  // the retrigger: on 69, then off 69
    ASSERT_EQ(before[before.size() - 2].status, 0x90);
    const uint8_t note = before[before.size() - 2].data1;

    engine.Pause();
    const auto after = recorder.ShortMessages();
    std::vector<MidiEvent> sent(after.begin() + long(before.size()), after.end());
    ASSERT_EQ(sent.size(), 4u);
    EXPECT_EQ(sent[0].status, 0x80);
    EXPECT_EQ(sent[0].data1, note);
    for (int channel = 1; channel < 4; ++channel) EXPECT_EQ(sent[channel].status, 0x80 + channel);

    // Nothing more is sent while paused, and resuming sends nothing by itself.
    engine.RunFrames(1);
    engine.Pause();
    EXPECT_EQ(recorder.ShortMessages().size(), after.size());
}

TEST(CommandPointSound, AFailedFreeRomLeavesTheMachineStoppedSilencedAndWhole) {
    TempDir dir;
    const auto image = dir.Write("Note.nes", [] {
        auto bytes = NoteImage();
        bytes[6] |= HeaderBattery;
        return bytes;
    }());
    dir.Write("Note.sav", std::vector<uint8_t>(8192, 0x33));
    MidiRecorder recorder;
    Engine engine;
    engine.machine().sound.output = &recorder;
    ASSERT_TRUE(engine.StartEngine(image));
    engine.RunFrames(3);
    const CpuState cpu = engine.machine().cpu;
    const size_t sent = recorder.ShortMessages().size();
    {
        test::FileSizeLimit fullDisk(4096);
        EXPECT_THROW(engine.FreeRom(FreeRomCall::IfStarted), FileError);
    }
    EXPECT_TRUE(engine.CartridgeStarted());
    EXPECT_FALSE(engine.Running());
    EXPECT_EQ(recorder.ShortMessages().size(), sent + 4);  // the four note-offs
    EXPECT_EQ(engine.machine().cpu.PC, cpu.PC);
    EXPECT_EQ(engine.machine().cpu.S, cpu.S);
    EXPECT_EQ(dir.Read("Note.sav"), std::vector<uint8_t>(8192, 0x33));
    engine.Pause();  // the user may go on playing
    EXPECT_EQ(engine.RunFrames(1), 1);
}

// A host that calls back into the engine from inside a run.
struct ReenteringHost : EngineHost {
    Engine* engine = nullptr;
    int64_t nested = -1;
    void PresentFrame() override {
        if (engine && nested < 0) nested = engine->RunFrames(1);
    }
};

TEST(CommandPointNesting, ANestedRunIsRefused) {
    TempDir dir;
    const auto image = dir.Write("Irq.nes", LineEightIrqImage());
    ReenteringHost host;
    Engine engine(&host);
    engine.machine().settings.FrameRate = 1;
    ASSERT_TRUE(engine.StartEngine(image));
    host.engine = &engine;
#ifdef NDEBUG
    EXPECT_EQ(engine.RunFrames(2), 2);
    EXPECT_EQ(host.nested, 0);  // returned at once, and the outer run went on
#else
    EXPECT_DEATH(engine.RunFrames(2), "not re-entrant");
#endif
}

}  // namespace
}  // namespace vexalo
