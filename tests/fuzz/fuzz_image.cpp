// Fuzz target: arbitrary bytes as an iNES image, loaded through the engine's own path and run for
// a few frames with both joypads pressed from the input, then saved and freed. Byte 0 seeds the
// buttons; the rest is the image file.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

#include "cartridge/engine.h"
#include "cartridge/loader.h"
#include "input/input_device.h"
#include "input/joypad.h"

namespace {

// Buttons that change every frame: the seed byte rotated by the frame number.
class FuzzButtons : public vexalo::StateSource {
   public:
    FuzzButtons(uint8_t seed, const uint64_t* clock) : seed_(seed), clock_(clock) {}
    vexalo::InputStateSet States() override {
        const unsigned shift = static_cast<unsigned>(*clock_ & 7);
        return static_cast<uint8_t>((seed_ << shift) | (seed_ >> ((8 - shift) & 7)));
    }

   private:
    uint8_t seed_;
    const uint64_t* clock_;
};

std::string ImagePath() {
    const auto dir =
        std::filesystem::temp_directory_path() / ("vexalo-fuzz-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    return (dir / "image.nes").string();
}

// Starts the image, runs it with a flush of its battery RAM on the way, and frees it, which
// writes the battery file: saving is fuzzed too.
void RunAndSave(const std::string& path, uint8_t seed) {
    vexalo::Engine engine;
    vexalo::Machine& m = engine.machine();
    m.settings.FrameRate = 1;
    FuzzButtons buttons[2] = {{seed, &m.framesCompleted},
                              {static_cast<uint8_t>(~seed), &m.framesCompleted}};
    vexalo::InputDevice devices[2];
    for (int p = 0; p < 2; ++p) {
        devices[p].SetScriptedSource(&buttons[p]);
        m.pads.device[p] = &devices[p];
    }
    try {
        if (engine.StartEngine(path)) {
            engine.RunFrames(2);
            engine.FlushBackedMemory();
            engine.RunFrames(2);
            engine.FreeRom(vexalo::FreeRomCall::IfStarted);
        }
    } catch (const vexalo::FileError&) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    static const std::string path = ImagePath();
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return 0;
    std::fwrite(data + 1, 1, size - 1, f);
    std::fclose(f);

    RunAndSave(path, data[0]);
    // No input starts from what an earlier one saved.
    static const std::string saved =
        (std::filesystem::path(path).parent_path() / "image.sav").string();
    std::error_code ignored;
    std::filesystem::remove(saved, ignored);
    return 0;
}
