// Saved states and rewind: for each image (optionally with `--input SCRIPT` before it, as
// vexalo-bench takes them), the time to save and to load a state in memory (best of 200), the
// state's size, the time to write it through the temporary-file-and-rename writer, and the
// rewind buffer over 3,600 frames (a minute at the console's pace): its memory, its cost per
// frame on top of play, and the time of one step back.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "cartridge/engine.h"
#include "cartridge/rewind.h"
#include "input/input_device.h"
#include "input/input_script.h"
#include "machine/save_state.h"

using namespace vexalo;
using Clock = std::chrono::steady_clock;

namespace {

double Micro(Clock::time_point since) {
    return std::chrono::duration<double, std::micro>(Clock::now() - since).count();
}

void Bench(const std::string& image, const std::string& scriptFile) {
    Engine engine;
    Machine& m = engine.machine();
    m.settings.FrameRate = 1;
    InputScript script;
    std::string error;
    if (!scriptFile.empty() && !LoadInputScript(scriptFile, script, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return;
    }
    InputDevice devices[2];
    InputScriptSource sources[2] = {{script, 0, &m.framesCompleted},
                                    {script, 1, &m.framesCompleted}};
    for (int p = 0; p < 2; ++p) {
        devices[p].SetScriptedSource(&sources[p]);
        m.pads.device[p] = &devices[p];
    }
    if (!engine.StartEngine(image)) return;
    engine.RunFrames(600);

    double save = 1e9, load = 1e9;
    std::vector<uint8_t> state;
    for (int i = 0; i < 200; ++i) {
        auto t = Clock::now();
        state = engine.SaveState();
        save = std::min(save, Micro(t));
        t = Clock::now();
        engine.LoadState(state);
        load = std::min(load, Micro(t));
    }
    const auto file = std::filesystem::temp_directory_path() / "vexalo-state-bench.state";
    auto t = Clock::now();
    engine.SaveStateFile(file.string());
    const double write = Micro(t);
    std::filesystem::remove(file);

    // A minute of play without, then with, the rewind buffer.
    t = Clock::now();
    for (int f = 0; f < 3600; ++f) engine.RunFrames(1);
    const double play = Micro(t) / 3600;
    RewindBuffer rewind;
    t = Clock::now();
    for (int f = 0; f < 3600; ++f) {
        engine.RunFrames(1);
        rewind.Push(engine);
    }
    const double withRewind = Micro(t) / 3600;
    const uint64_t held = rewind.FramesHeld();
    const double memory = rewind.MemoryUsed() / 1048576.0;
    t = Clock::now();
    int steps = 0;
    for (; steps < 300 && rewind.StepBack(engine); ++steps) {
    }
    const double step = steps ? Micro(t) / steps : 0;
    std::printf(
        "%-26s save %6.0f us  load %6.0f us  size %7zu B  file %7.0f us | rewind %5.2f MB/min  "
        "push %5.0f us/frame (%4.1f%% of a 16.6 ms frame)  step back %5.0f us  held %llu frames\n",
        std::filesystem::path(image).filename().string().c_str(), save, load, state.size(), write,
        memory, withRewind - play, (withRewind - play) / 166.4, step,
        static_cast<unsigned long long>(held));
}

}  // namespace

int main(int argc, char** argv) {
    std::string script;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--input") && i + 1 < argc) {
            script = argv[++i];
            continue;
        }
        Bench(argv[i], script);
        script.clear();
    }
}
