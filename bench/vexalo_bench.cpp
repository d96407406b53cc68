// Emulation speed: every frame drawn, no sound device, best of several runs. Prints one line per
// cartridge with emulated frames per second and nanoseconds per frame, then the emulated 6502
// instructions per second on the first (CPU-bound) cartridge, the time to draw one background
// line and the slowest cartridge.
//
// `--input SCRIPT IMAGE` runs IMAGE with both joypads following SCRIPT (as `vexalo-run --input`
// does); its runs then share out the script's frames, so that every timed frame is in play.
// `--make-script NAME` prints a script of 20,000 frames that presses buttons of both joypads at
// random, a few changing every few frames, the same for the same NAME.
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
#include "input/input_device.h"
#include "input/input_script.h"
#include "input/joypad.h"
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

constexpr int64_t kStartFrames = 60;      // past the cartridge's start-up
constexpr int64_t kScriptFrames = 20000;  // length of a made script

bool Start(Engine& engine, const std::string& image) {
    engine.machine().settings.FrameRate = 1;
    if (!engine.StartEngine(image)) return false;
    engine.RunFrames(kStartFrames);
    return engine.Running();
}

// Both joypads of `m` follow `script` through `devices`, which must outlive the machine's use.
struct ScriptedPads {
    Machine& m;
    InputScript script;
    InputDevice devices[2];
    InputScriptSource sources[2];
    ScriptedPads(const InputScript& s, Machine& machine)
        : m(machine),
          script(s),
          sources{{script, 0, &m.framesCompleted}, {script, 1, &m.framesCompleted}} {
        for (int p = 0; p < 2; ++p) {
            devices[p].SetScriptedSource(&sources[p]);
            m.pads.device[p] = &devices[p];
        }
        ApplyKeyBindings(m);
    }
    ~ScriptedPads() { m.pads.device[0] = m.pads.device[1] = nullptr; }
};

// A made script: from frame 0 on, every 2 to 9 frames one player changes one to three buttons.
// The generator is a fixed 64-bit LCG seeded from the name (FNV-1a), so the text depends on
// nothing but `name`.
std::string MakeScript(const std::string& name) {
    uint64_t x = 0xCBF29CE484222325;
    for (unsigned char c : name) x = (x ^ c) * 0x100000001B3;
    auto next = [&x](unsigned n) {
        x = x * 6364136223846793005 + 1442695040888963407;
        return unsigned(x >> 33) % n;
    };
    static const char* const kButtons[8] = {"A",  "B",    "SELECT", "START",
                                            "UP", "DOWN", "LEFT",   "RIGHT"};
    std::string text = "# made by vexalo-bench --make-script " + name + "\n";
    unsigned held[2] = {0, 0};
    for (int64_t frame = 0; frame < kScriptFrames; frame += 2 + next(8)) {
        const int player = int(next(2));
        for (unsigned k = 1 + next(3); k > 0; --k) held[player] ^= 1u << next(8);
        text += std::to_string(frame) + ' ' + std::to_string(player + 1) + ' ';
        std::string buttons;
        for (int b = 0; b < 8; ++b) {
            if (held[player] & (1u << b))
                buttons += std::string(buttons.empty() ? "" : "+") + kButtons[b];
        }
        text += (buttons.empty() ? "-" : buttons) + '\n';
    }
    text += std::to_string(kScriptFrames) + " 1 -\n" + std::to_string(kScriptFrames) + " 2 -\n";
    return text;
}

struct Row {
    std::string image;
    std::string script;  // empty: no input
};

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
    std::vector<Row> rows;
    std::string script;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--frames") && i + 1 < argc) {
            frames = std::atoll(argv[++i]);
        } else if (!std::strcmp(argv[i], "--repeat") && i + 1 < argc) {
            repeat = std::atoi(argv[++i]);
        } else if (!std::strcmp(argv[i], "--input") && i + 1 < argc) {
            script = argv[++i];
        } else if (!std::strcmp(argv[i], "--make-script") && i + 1 < argc) {
            std::fputs(MakeScript(argv[++i]).c_str(), stdout);
            return 0;
        } else {
            rows.push_back({argv[i], script});
            script.clear();
        }
    }
    if (rows.empty() || frames <= 0 || repeat <= 0) {
        std::fputs(
            "usage: vexalo-bench [--frames N] [--repeat K] [[--input SCRIPT] IMAGE]...\n"
            "       vexalo-bench --make-script NAME\n",
            stderr);
        return 64;
    }
    const std::string& first = rows.front().image;

    // Half a second of the first cartridge first, so that every row is measured on a processor
    // already running at its working clock.
    try {
        Engine warm;
        if (Start(warm, first)) {
            const auto t = Clock::now();
            while (Seconds(t) < 0.5) warm.RunFrames(100);
        }
    } catch (const FileError&) {
    }

    std::printf("%-34s %12s %12s\n", "cartridge", "frames/s", "ns/frame");
    std::string slowestName;
    double slowest = 1e30;
    for (const Row& row : rows) {
        std::string name = std::filesystem::path(row.image).filename().string();
        if (!row.script.empty()) name += " (play)";
        try {
            Engine engine;
            InputScript script;
            std::string error;
            if (!row.script.empty() && !LoadInputScript(row.script, script, error)) {
                std::printf("%-34s %12s  %s\n", name.c_str(), "no script", error.c_str());
                continue;
            }
            ScriptedPads pads(script, engine.machine());
            if (!Start(engine, row.image)) {
                std::printf("%-34s %12s\n", name.c_str(), "refused");
                continue;
            }
            // In play, the runs share out the script's frames after the start-up.
            int64_t runFrames = frames;
            if (!row.script.empty()) {
                const int64_t last = std::max(
                    script.players[0].empty() ? 0 : int64_t(script.players[0].back().frame),
                    script.players[1].empty() ? 0 : int64_t(script.players[1].back().frame));
                runFrames = std::clamp<int64_t>((last - kStartFrames) / repeat, 1, frames);
            }
            const double s = BestSeconds(engine, runFrames, repeat);
            const double fps = runFrames / s;
            std::printf("%-34s %12.0f %12.0f\n", name.c_str(), fps, s * 1e9 / runFrames);
            if (fps < slowest) {
                slowest = fps;
                slowestName = name;
            }
        } catch (const FileError& e) {
            std::printf("%-34s %12s  %s\n", name.c_str(), "unreadable", e.what());
        }
    }

    // Instructions per second on the first cartridge: the count comes from a counting pass,
    // the time from the best uncounted one (the count is the same for the same frames).
    try {
        Engine engine;
        if (Start(engine, first)) {
            Engine counted;
            Start(counted, first);
            uint64_t instructions = 0;
            counted.Run(frames * kLinesPerFrame, CountingHook{&instructions});
            const double s = BestSeconds(engine, frames, 1);
            std::printf("6502 instructions/s (%s): %.1f million\n",
                        std::filesystem::path(first).filename().c_str(), instructions / s / 1e6);

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
    if (!slowestName.empty())
        std::printf("slowest: %s, %.0f frames/s\n", slowestName.c_str(), slowest);
    return 0;
}
