// The engine's saved-state commands: states in memory and in files, the ten slots of an image,
// undo save and undo load.
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include "cartridge/engine.h"
#include "machine/file_io.h"
#include "sound/sound.h"

namespace vexalo {

namespace {

std::vector<uint8_t> ReadWholeFile(const std::string& fileName) {
    std::ifstream in(fileName, std::ios::binary);
    if (!in) throw FileError(SystemMessage(fileName, errno));
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
    if (in.bad()) throw FileError(SystemMessage(fileName, errno));
    return bytes;
}

std::string BaseName(const std::string& path) {
    return std::filesystem::path(path).filename().string();
}

}  // namespace

std::string DefaultStateDirectory() {
    const char* data = std::getenv("XDG_DATA_HOME");
    std::filesystem::path base;
    if (data && *data) {
        base = data;
    } else {
        const char* home = std::getenv("HOME");
        base = std::filesystem::path(home && *home ? home : ".") / ".local" / "share";
    }
    return (base / "Ostrane" / "Vexalo" / "states").string();
}

std::vector<uint8_t> Engine::SaveState() const {
    if (!started_) return {};
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    return SaveMachineState(*machine_, imageSha1_,
                            std::chrono::duration_cast<std::chrono::seconds>(now).count());
}

bool Engine::LoadState(std::span<const uint8_t> state, const std::string& what) {
    Machine& m = *machine_;
    std::string error = "no cartridge is loaded";
    std::vector<uint8_t> replaced;
    if (started_) replaced = SaveMachineState(m, imageSha1_);
    const SoundState before = m.sound;
    if (!started_ || !LoadMachineState(m, imageSha1_, state, error)) {
        m.log.Append("State not loaded: " + what + ": " + error);
        return false;
    }
    ReplaceSoundingNotes(m, before, m.running);
    undoLoad_ = std::move(replaced);
    ++generation_;
    return true;
}

void Engine::SaveStateFile(const std::string& fileName) const {
    const std::vector<uint8_t> state = SaveState();
    if (state.empty()) return;
    ReplaceFile(fileName, state.data(), state.size());
}

bool Engine::LoadStateFile(const std::string& fileName) {
    return LoadState(ReadWholeFile(fileName), BaseName(fileName));
}

bool Engine::UndoLoadState() {
    if (undoLoad_.empty()) return false;
    const std::vector<uint8_t> previous = std::move(undoLoad_);
    undoLoad_.clear();
    return LoadState(previous, "undo load");
}

std::string Engine::StateSlotFile(int slot) const {
    if (!started_ || slot < 0 || slot >= kStateSlots) return {};
    std::string stem = machine_->cart.romFileName;
    const size_t dot = stem.rfind('.');
    if (dot != std::string::npos && dot > 0) stem.resize(dot);
    const std::string name =
        stem + "-" + DigestHex(imageSha1_).substr(0, 16) + "." + std::to_string(slot) + ".state";
    return (std::filesystem::path(stateDirectory_) / name).string();
}

void Engine::SaveStateSlot(int slot) {
    const std::string file = StateSlotFile(slot);
    if (file.empty()) return;
    std::error_code ec;
    std::filesystem::create_directories(stateDirectory_, ec);
    if (ec) throw FileError(SystemMessage(stateDirectory_, ec.value()));
    if (std::filesystem::exists(file, ec)) CopyFileReplacing(file, file + ".bak");
    SaveStateFile(file);
    machine_->log.Append("State saved to slot " + std::to_string(slot) + ".");
}

bool Engine::UndoSaveStateSlot(int slot) {
    const std::string file = StateSlotFile(slot);
    std::error_code ec;
    if (file.empty() || !std::filesystem::exists(file + ".bak", ec)) return false;
    CopyFileReplacing(file + ".bak", file);
    std::filesystem::remove(file + ".bak", ec);
    machine_->log.Append("Slot " + std::to_string(slot) + " holds its previous state again.");
    return true;
}

bool Engine::LoadStateSlot(int slot) {
    const std::string file = StateSlotFile(slot);
    std::error_code ec;
    if (file.empty() || !std::filesystem::exists(file, ec)) {
        machine_->log.Append("State not loaded: slot " + std::to_string(slot) + " is empty.");
        return false;
    }
    if (!LoadStateFile(file)) return false;
    machine_->log.Append("State loaded from slot " + std::to_string(slot) + ".");
    return true;
}

bool Engine::StateSlotInfo(int slot, StateInfo& info) const {
    const std::string file = StateSlotFile(slot);
    std::error_code ec;
    if (file.empty() || !std::filesystem::exists(file, ec)) return false;
    std::string error;
    try {
        return ReadStateInfo(ReadWholeFile(file), info, error) && info.image == imageSha1_;
    } catch (const FileError&) {
        return false;
    }
}

}  // namespace vexalo
