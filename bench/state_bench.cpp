// Saved states and rewind: for each image (optionally with `--input SCRIPT` before it, as
// vexalo-bench takes them), the time to save and to load a state in memory (best of 200), the
// state's size, the time to write it through the temporary-file-and-rename writer, and the
// rewind buffer over 3,600 frames (a minute at the console's pace): its memory, its cost per
// frame on top of play, and the time of one step back. Then the rewind buffer's compression
// alternatives on the same minute's states (a state every 10 frames, XORed with a key state every
// 30, as the buffer keeps them): zlib level 1 (what the buffer uses), zstd levels 1 and 3, and
// lz4: bytes per minute and the time to pack and unpack one state. And the cost of recording an
// input movie per frame (MovieRecorder::RecordFrame, a machine checksum each frame).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <lz4.h>
#include <zlib.h>
#include <zstd.h>

#include "cartridge/engine.h"
#include "cartridge/movie.h"
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

struct Codec {
    const char* name;
    size_t (*pack)(const std::vector<uint8_t>& raw, std::vector<uint8_t>& out);
    void (*unpack)(const std::vector<uint8_t>& packed, std::vector<uint8_t>& raw);
};

const Codec kCodecs[] = {
    {"zlib-1",
     [](const std::vector<uint8_t>& raw, std::vector<uint8_t>& out) {
         uLongf size = compressBound(static_cast<uLong>(raw.size()));
         out.resize(size);
         compress2(out.data(), &size, raw.data(), static_cast<uLong>(raw.size()), 1);
         return static_cast<size_t>(size);
     },
     [](const std::vector<uint8_t>& packed, std::vector<uint8_t>& raw) {
         uLongf size = static_cast<uLongf>(raw.size());
         uncompress(raw.data(), &size, packed.data(), static_cast<uLong>(packed.size()));
     }},
    {"zstd-1",
     [](const std::vector<uint8_t>& raw, std::vector<uint8_t>& out) {
         out.resize(ZSTD_compressBound(raw.size()));
         return ZSTD_compress(out.data(), out.size(), raw.data(), raw.size(), 1);
     },
     [](const std::vector<uint8_t>& packed, std::vector<uint8_t>& raw) {
         ZSTD_decompress(raw.data(), raw.size(), packed.data(), packed.size());
     }},
    {"zstd-3",
     [](const std::vector<uint8_t>& raw, std::vector<uint8_t>& out) {
         out.resize(ZSTD_compressBound(raw.size()));
         return ZSTD_compress(out.data(), out.size(), raw.data(), raw.size(), 3);
     },
     [](const std::vector<uint8_t>& packed, std::vector<uint8_t>& raw) {
         ZSTD_decompress(raw.data(), raw.size(), packed.data(), packed.size());
     }},
    {"lz4",
     [](const std::vector<uint8_t>& raw, std::vector<uint8_t>& out) {
         out.resize(static_cast<size_t>(LZ4_compressBound(static_cast<int>(raw.size()))));
         return static_cast<size_t>(LZ4_compress_default(
             reinterpret_cast<const char*>(raw.data()), reinterpret_cast<char*>(out.data()),
             static_cast<int>(raw.size()), static_cast<int>(out.size())));
     },
     [](const std::vector<uint8_t>& packed, std::vector<uint8_t>& raw) {
         LZ4_decompress_safe(reinterpret_cast<const char*>(packed.data()),
                             reinterpret_cast<char*>(raw.data()), static_cast<int>(packed.size()),
                             static_cast<int>(raw.size()));
     }},
};

// The states of a minute of play as the rewind buffer packs them, through each codec.
void BenchCompression(Engine& engine) {
    std::vector<std::vector<uint8_t>> states;
    std::vector<uint8_t> key;
    for (int f = 0; f < 3600; ++f) {
        engine.RunFrames(1);
        if (f % 10) continue;
        std::vector<uint8_t> raw = SaveMachineState(engine.machine(), engine.ImageSha1());
        if (states.size() % 30 == 0) {
            key = raw;
        } else {
            for (size_t i = 0; i < raw.size(); ++i) raw[i] ^= key[i];
        }
        states.push_back(std::move(raw));
    }
    for (const Codec& codec : kCodecs) {
        size_t bytes = 0;
        double pack = 0, unpack = 0;
        std::vector<uint8_t> packed, raw;
        for (const std::vector<uint8_t>& state : states) {
            auto t = Clock::now();
            packed.resize(codec.pack(state, packed));
            pack += Micro(t);
            bytes += packed.size();
            raw.assign(state.size(), 0);
            t = Clock::now();
            codec.unpack(packed, raw);
            unpack += Micro(t);
            if (raw != state) std::printf("  %s: a state does not come back\n", codec.name);
        }
        std::printf("  %-7s %6.2f MB/min  pack %5.0f us  unpack %5.0f us per state\n", codec.name,
                    bytes / 1048576.0, pack / states.size(), unpack / states.size());
    }
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

    // Recording a movie from the machine as it is: one RecordFrame after each frame. The movie
    // is kept for timing the runner's replay: vexalo-run IMAGE --input MOVIE --verify --bench.
    MovieRecorder movie;
    const std::string stem =
        (std::filesystem::temp_directory_path() / std::filesystem::path(image).stem()).string();
    if (movie.Start(engine, stem + ".movie", stem + ".movie.state", error)) {
        t = Clock::now();
        for (int f = 0; f < 3600; ++f) {
            engine.RunFrames(1);
            movie.RecordFrame(engine);
        }
        const double recording = Micro(t) / 3600;
        movie.Stop();
        t = Clock::now();
        for (int f = 0; f < 3600; ++f) engine.RunFrames(1);
        std::printf("  movie recording %5.1f us/frame on top of play; movie %s.movie\n",
                    recording - Micro(t) / 3600, stem.c_str());
    }
    BenchCompression(engine);
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
