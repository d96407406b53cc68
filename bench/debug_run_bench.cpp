// Speed of a Run in the debugger window: a cartridge whose nested countdown loops reach a
// breakpoint about a million instructions from the reset vector, run through the window's own
// Run command (listing, breakpoint test, event slices and register refreshes included). For
// comparison it also times the bare steps of the same run without the window.
//
// Runs under Qt's offscreen platform unless QT_QPA_PLATFORM names another one.
#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTreeWidget>

#include <cstdio>
#include <fstream>

#include "cartridge/engine.h"
#include "debugger/debug_window.h"
#include "machine/bus.h"
#include "unit/image_builder.h"

using namespace vexalo;

namespace {

constexpr uint16_t kBreakpoint = 0xC012;
constexpr int kRuns = 3;

// Eight rounds of 243 rounds of 256 (DEY, BNE) pairs, then JMP to itself at $C012:
// 1,001,186 instructions from $C000 to $C012.
const std::vector<uint8_t> kProgram = {
    0xA9, 0x08,        // C000 LDA #8
    0x85, 0x00,        // C002 STA $00
    0xA2, 0xF3,        // C004 LDX #243
    0xA0, 0x00,        // C006 LDY #0
    0x88,              // C008 DEY
    0xD0, 0xFD,        // C009 BNE C008
    0xCA,              // C00B DEX
    0xD0, 0xF8,        // C00C BNE C006
    0xC6, 0x00,        // C00E DEC $00
    0xD0, 0xF2,        // C010 BNE C004
    0x4C, 0x12, 0xC0,  // C012 JMP C012
};

bool Start(Engine& engine, const std::string& path) {
    if (!engine.StartEngine(path)) return false;
    engine.machine().running = false;  // suspended, as the main window leaves it for the debugger
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    QTemporaryDir dir;
    const std::string path = dir.filePath(QStringLiteral("countdown.nes")).toStdString();
    test::ImageShape shape;
    shape.program = kProgram;
    const auto image = test::BuildImage(shape);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(image.data()), std::streamsize(image.size()));

    // The bare steps, counted.
    Engine bare;
    if (!Start(bare, path)) {
        std::fprintf(stderr, "the benchmark cartridge did not start\n");
        return 1;
    }
    MachineBus bus{bare.machine()};
    QElapsedTimer clock;
    clock.start();
    long instructions = 0;
    do ++instructions;
    while (CpuDebugStep(bare.machine().cpu, bus) != kBreakpoint);
    const double bareSeconds = double(clock.nsecsElapsed()) / 1e9;

    // The window's Run; each later run starts after the window's Reset, one instruction in.
    Engine engine;
    Start(engine, path);
    TfrmDebug window(engine);
    window.show();
    auto* list = window.findChild<QTreeWidget*>(QStringLiteral("DebugList"));
    const auto lines = list->findItems(QStringLiteral("C012"), Qt::MatchExactly, 0);
    if (lines.size() != 1) {
        std::fprintf(stderr, "the listing has no line C012\n");
        return 1;
    }
    list->setCurrentItem(lines.first());
    window.Breakpoints1Click();
    double best = 0;
    for (int run = 0; run < kRuns; ++run) {
        if (run > 0) window.Reset1Click();
        clock.restart();
        window.Run1Click();
        const double seconds = double(clock.nsecsElapsed()) / 1e9;
        if (engine.machine().cpu.PC != kBreakpoint) {
            std::fprintf(stderr, "the Run stopped at $%04X\n", engine.machine().cpu.PC);
            return 1;
        }
        std::printf("Run %d to the breakpoint, %ld instructions: %.3f s\n", run + 1,
                    instructions - (run > 0), seconds);
        if (run == 0 || seconds < best) best = seconds;
    }
    std::printf("best Run: %.3f s (%.1f million instructions/s); bare steps: %.3f s\n", best,
                double(instructions) / best / 1e6, bareSeconds);
    return 0;
}
