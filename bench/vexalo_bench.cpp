// Emulation speed: every frame drawn, no sound device, best of several runs. Prints one line per
// cartridge with emulated frames per second and nanoseconds per frame, then the emulated 6502
// instructions per second on the first (CPU-bound) cartridge and the time to draw one
// background line.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "cartridge/engine.h"
#include "cartridge/loader.h"
#include "machine/renderer.h"

using namespace vexalo;
using Clock = std::chrono::steady_clock;

namespace {

struct CountingHook {
    uint64_t* count;
    void operator()(const CpuState&) const { ++*count; }
};

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

bool Start(Engine& engine, const std::string& image) {
    engine.machine().settings.FrameRate = 1;
    if (!engine.StartEngine(image)) return false;
    engine.RunFrames(60);  // past the cartridge's start-up
    return engine.Running();
}

// Best time of `repeat` runs of `frames` frames, continuing the same machine.
double BestSeconds(Engine& engine, int64_t frames, int repeat) {
    double best = 1e30;
    for (int i = 0; i < repeat; ++i) {
        const auto t = Clock::now();
        engine.RunFrames(frames);
        best = std::min(best, Seconds(t));
    }
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    int64_t frames = 5000;
    int repeat = 5;
    std::vector<std::string> images;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--frames") && i + 1 < argc)
            frames = std::atoll(argv[++i]);
        else if (!std::strcmp(argv[i], "--repeat") && i + 1 < argc)
            repeat = std::atoi(argv[++i]);
        else
            images.push_back(argv[i]);
    }
    if (images.empty() || frames <= 0 || repeat <= 0) {
        std::fputs("usage: vexalo-bench [--frames N] [--repeat K] IMAGE...\n", stderr);
        return 64;
    }

    // Half a second of the first cartridge first, so that every row is measured on a processor
    // already running at its working clock.
    try {
        Engine warm;
        if (Start(warm, images.front())) {
            const auto t = Clock::now();
            while (Seconds(t) < 0.5) warm.RunFrames(100);
        }
    } catch (const FileError&) {
    }

    std::printf("%-28s %12s %12s\n", "cartridge", "frames/s", "ns/frame");
    for (const std::string& image : images) {
        const std::string name = std::filesystem::path(image).filename().string();
        try {
            Engine engine;
            if (!Start(engine, image)) {
                std::printf("%-28s %12s\n", name.c_str(), "refused");
                continue;
            }
            const double s = BestSeconds(engine, frames, repeat);
            std::printf("%-28s %12.0f %12.0f\n", name.c_str(), frames / s, s * 1e9 / frames);
        } catch (const FileError& e) {
            std::printf("%-28s %12s  %s\n", name.c_str(), "unreadable", e.what());
        }
    }

    // Instructions per second on the first cartridge: the count comes from a counting pass,
    // the time from the best uncounted one (the count is the same for the same frames).
    try {
        Engine engine;
        if (Start(engine, images.front())) {
            Engine counted;
            Start(counted, images.front());
            uint64_t instructions = 0;
            counted.Run(frames * kLinesPerFrame, CountingHook{&instructions});
            const double s = BestSeconds(engine, frames, 1);
            std::printf("6502 instructions/s (%s): %.1f million\n",
                        std::filesystem::path(images.front()).filename().c_str(),
                        instructions / s / 1e6);

            // One background line, drawn over the cartridge's own screen.
            Machine& m = engine.machine();
            m.ppu.ppuMask |= 0x08;
            const int lines = 2000000;
            const auto t = Clock::now();
            for (int i = 0; i < lines; ++i)
                RenderBackgroundLine(m, kFirstDrawnLine + i % (kLastDrawnLine - 7));
            std::printf("background line: %.1f ns\n", Seconds(t) * 1e9 / lines);
        }
    } catch (const FileError& e) {
        std::printf("%s\n", e.what());
    }
    return 0;
}
