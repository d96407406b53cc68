#include "cartridge/engine.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "cartridge/loader.h"
#include "cartridge/mapper.h"
#include "sound/sound.h"

namespace vexalo {

namespace {

std::string Quoted(const std::string& text) {
    return "\"" + text + "\".";
}

std::string BaseName(const std::string& path) {
    return std::filesystem::path(path).filename().string();
}

void ClearPageTables(Machine& m) {
    const uintptr_t empty = reinterpret_cast<uintptr_t>(m.emptyPage.data());
    for (int i = 0; i < 8; ++i) m.pages.cpu[i] = empty - uintptr_t(i) * 0x2000;
    for (int i = 0; i < 8; ++i) m.pages.ppu[i] = empty - uintptr_t(i) * 0x400;
}

}  // namespace

std::string BatteryFileName(const std::string& romFilePath, const std::string& romFileName) {
    const size_t dot = romFileName.find('.');
    const std::string stem = dot == std::string::npos ? "" : romFileName.substr(0, dot + 1);
    return romFilePath + stem + "sav";
}

Engine::Engine(EngineHost* host) : machine_(std::make_unique<Machine>()), host_(host) {
    if (!host_) host_ = &nullHost_;
    machine_->host = host_;
    ClearPageTables(*machine_);
}

Engine::~Engine() {
    if (machine_->sound.midiOpen) CloseSound(*machine_);
}

bool Engine::StartEngine(const std::string& fileName) {
    Machine& m = *machine_;
    FreeRom();
    if (!LoadCartridgeImage(m, fileName)) return false;
    if (!LoadBackedMemory()) return false;
    started_ = true;
    host_->SetCartridgeCommandsEnabled(true);
    ResetEngine();
    m.log.Append("6502 engine started.");
    m.sound.midiOpen = OpenSound(m);
    // The display opens on a cleared picture and takes the palette afresh.
    for (int row = kFirstDrawnLine; row <= kLastDrawnLine; ++row)
        std::memset(m.frame.data() + row * kScreenWidth, 0, kScreenWidth);
    m.ppu.paletteDirty = true;
    host_->VideoStart();
    m.running = true;
    std::string status = m.cart.romFileName;
    for (char& c : status) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    host_->SetStatusText(status);
    return true;
}

bool Engine::LoadBackedMemory() {
    Machine& m = *machine_;
    m.pages.cpu[3] = reinterpret_cast<uintptr_t>(m.cart.backedMemory.data()) - 0x6000;
    if (m.cart.headerFlags & HeaderBattery) {
        m.log.Append("A backed memory has been found.");
        const std::string name = BatteryFileName(m.cart.romFilePath, m.cart.romFileName);
        std::error_code ec;
        if (std::filesystem::exists(name, ec)) {
            m.log.Append("Loading backed memory file " + Quoted(BaseName(name)));
            std::ifstream in(name, std::ios::binary);
            if (!in) throw FileError(SystemMessage(name, errno));
            in.read(reinterpret_cast<char*>(m.cart.backedMemory.data()), kBackedMemorySize);
            const std::streamsize got = in.gcount();
            if (in.bad()) throw FileError(SystemMessage(name, errno));
            in.clear();
            in.seekg(0, std::ios::end);
            const std::streamoff size = in.tellg();
            if (size != kBackedMemorySize) {
                m.log.Append("The backed memory file holds " + std::to_string(size) +
                             " bytes instead of 8192; " + std::to_string(got) + " were loaded.");
            }
        }
    }
    m.pages.cpu[0] = reinterpret_cast<uintptr_t>(m.internalRam.data());
    ++m.ppu.backgroundGeneration;  // new pattern data, perhaps at the address of the old
    return MapperSetup(m, m.cart.mapperNumber);
}

void Engine::ResetEngine() {
    Machine& m = *machine_;
    m.frameSkipCounter = 0;
    m.scanline = 0;
    PpuState& ppu = m.ppu;
    ppu.ppuControl = ppu.ppuMask = ppu.ppuStatus = ppu.oamAddress = 0;
    ppu.vramAddress = 0;
    ppu.scrollToggle = 0;
    ppu.scrollX = ppu.scrollY = ppu.pendingScrollX = ppu.pendingScrollY = 0;
    ppu.firstReadPending = true;
    for (int p = 0; p < 2; ++p) m.pads.padState[p] = m.pads.padReadIndex[p] = 0;
    std::memset(m.ioRegisterImage.data(), 0, 0x0F);
    m.log.Append("Resetting 6502 engine ...");
    MachineBus bus{m};
    CpuReset(m.cpu, bus);
}

void Engine::StopEngine() {
    Machine& m = *machine_;
    m.running = false;
    m.log.Append("6502 engine stopped.");
    // Only a loaded cartridge has a battery file; with nothing loaded the name would be just
    // "sav" and belong to no cartridge.
    if ((m.cart.headerFlags & HeaderBattery) && !m.cart.prgRom.empty()) {
        const std::string name = BatteryFileName(m.cart.romFilePath, m.cart.romFileName);
        m.log.Append("Saving backed memory file " + Quoted(BaseName(name)));
        // A file of another size was not written by us: keep a copy before replacing it.
        std::error_code ec;
        const auto size = std::filesystem::file_size(name, ec);
        if (!ec && size != kBackedMemorySize &&
            !std::filesystem::copy_file(name, name + ".bak",
                                        std::filesystem::copy_options::overwrite_existing, ec))
            throw FileError(name + ".bak: " + ec.message());
        // A failure throws here and keeps the cartridge and its RAM, so nothing is lost.
        ReplaceFile(name, m.cart.backedMemory.data(), kBackedMemorySize);
    }
    m.ppu.vram.fill(0);
    ++m.ppu.backgroundGeneration;
    m.ppu.oam.fill(0);
    m.cart.backedMemory.fill(0);
    m.internalRam.fill(0);
    ClearPageTables(m);
    m.cart.prgRom = {};
    m.cart.chrRom = {};
    m.cart.romFileName.clear();
    m.cart.romFilePath.clear();
    if (m.sound.midiOpen) CloseSound(m);
    started_ = false;
    host_->VideoStop();
    m.log.Append("Cartridge discharged.");
    host_->SetStatusText("");
}

void Engine::FreeRom() {
    if (!started_) return;
    host_->SetCartridgeCommandsEnabled(false);
    try {
        StopEngine();
    } catch (...) {
        host_->SetCartridgeCommandsEnabled(true);  // the cartridge is still there to be saved
        throw;
    }
}

void Engine::Reset() {
    if (!started_) return;
    machine_->running = false;
    ResetEngine();
    machine_->running = true;
}

void Engine::Pause() {
    if (!started_) return;
    machine_->running = !machine_->running;
}

}  // namespace vexalo
