// Fuzz target: arbitrary bytes as a saved state of a cartridge. The input is a 32-bit
// little-endian image size, the image, then the state. The state's image digest is set to the
// image's, so the fuzzer reaches past that test; the state is offered once with its checksum
// checked and once without, and a state that loads is run for a few frames, saved and loaded
// again (which must succeed).
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "cartridge/engine.h"
#include "machine/file_io.h"
#include "machine/save_state.h"

namespace {

std::string ImagePath() {
    const auto dir =
        std::filesystem::temp_directory_path() / ("vexalo-fuzz-state-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    return (dir / "image.nes").string();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) return 0;
    const size_t imageSize = data[0] | data[1] << 8 | data[2] << 16 | size_t{data[3]} << 24;
    if (imageSize > size - 4) return 0;
    static const std::string path = ImagePath();
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return 0;
    std::fwrite(data + 4, 1, imageSize, f);
    std::fclose(f);

    vexalo::Engine engine;
    vexalo::Machine& m = engine.machine();
    m.settings.FrameRate = 1;
    try {
        if (!engine.StartEngine(path)) return 0;
    } catch (const vexalo::FileError&) {
        return 0;
    }
    std::vector<uint8_t> state(data + 4 + imageSize, data + size);
    // The digest of the image in the INFO chunk, when the state starts with one.
    if (state.size() >= 36 && std::memcmp(state.data() + 8, "INFO", 4) == 0)
        std::memcpy(state.data() + 16, engine.ImageSha1().data(), 20);
    engine.LoadState(state);
    std::string error;
    if (vexalo::LoadMachineState(m, engine.ImageSha1(), state, error, false)) {
        engine.RunFrames(2);
        if (!engine.LoadState(engine.SaveState())) std::abort();
        engine.RunFrames(1);
    }
    engine.FreeRom(vexalo::FreeRomCall::IfStarted, vexalo::BatterySave::Discard);
    return 0;
}
