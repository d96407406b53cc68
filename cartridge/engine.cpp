#include "cartridge/engine.h"

#include <cassert>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>

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

// Writes the 8 KB battery file. A file of another size was not written by us: a copy of it is
// kept as NAME.bak before it is replaced. Throws FileError; the previous file is then intact.
void WriteBatteryFile(const std::string& name, const uint8_t* data) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(name, ec);
    if (!ec && size != kBackedMemorySize) CopyFileReplacing(name, name + ".bak");
    ReplaceFile(name, data, kBackedMemorySize);
}

void ClearPageTables(Machine& m) {
    const uintptr_t empty = reinterpret_cast<uintptr_t>(m.emptyPage.data());
    for (int i = 0; i < 8; ++i) m.pages.SetCpu(i, empty - uintptr_t(i) * 0x2000);
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
    try {
        FreeRom(FreeRomCall::IfStarted);
    } catch (const std::exception& e) {
        machine_->log.Append(std::string("Backed memory not saved: ") + e.what());
    }
    WaitForBackedMemoryFlush();
    if (machine_->sound.midiOpen) CloseSound(*machine_);
}

bool Engine::StartEngine(const std::string& fileName) {
    Machine& m = *machine_;
    FreeRom(FreeRomCall::IfStarted);
    // A refused image leaves nothing behind: no page of it, and no battery RAM that a later stop
    // could write into a file of another cartridge.
    bool loaded = false;
    try {
        loaded = LoadCartridgeImage(m, fileName) && LoadBackedMemory();
    } catch (...) {
        ReleaseCartridge();
        throw;
    }
    if (!loaded) {
        ReleaseCartridge();
        return false;
    }
    started_ = true;
    imageSha1_ = ComputeImageDigest(m.cart);
    undoLoad_.clear();
    host_->SetCartridgeCommandsEnabled(true);
    ResetEngine();
    m.framesCompleted = 0;  // frames count from the cartridge's start, as states and movies do
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
    ownsBatteryFile_ = false;
    m.pages.SetCpu(3, reinterpret_cast<uintptr_t>(m.cart.backedMemory.data()) - 0x6000);
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
    savedBackedMemory_ = m.cart.backedMemory;  // what the file holds, or nothing to write yet
    // The file was read whole (or is absent): from now on it is this cartridge's to write.
    ownsBatteryFile_ = (m.cart.headerFlags & HeaderBattery) != 0;
    m.pages.SetCpu(0, reinterpret_cast<uintptr_t>(m.internalRam.data()));
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
    m.messagePointPending = false;  // nothing of the interrupted line runs on the reset machine
    ++generation_;
    m.log.Append("Resetting 6502 engine ...");
    MachineBus bus{m};
    CpuReset(m.cpu, bus);
}

void Engine::StopEngine(BatterySave save) {
    Machine& m = *machine_;
    WaitForBackedMemoryFlush();  // the file must end with the bytes written here
    const bool wasRunning = m.running;
    m.running = false;
    m.messagePointPending = false;
    m.log.Append("6502 engine stopped.");
    if (ownsBatteryFile_ && save == BatterySave::Write) {
        const std::string name = BatteryFileName(m.cart.romFilePath, m.cart.romFileName);
        m.log.Append("Saving backed memory file " + Quoted(BaseName(name)));
        try {
            WriteBatteryFile(name, m.cart.backedMemory.data());
        } catch (...) {
            // The cartridge and its RAM stay, so nothing is lost; the engine stays stopped, with
            // its channels silenced as the stopped loop leaves them.
            if (wasRunning) SilenceChannels(m);
            throw;
        }
        savedBackedMemory_ = m.cart.backedMemory;
    }
    ReleaseCartridge();
    if (m.sound.midiOpen) CloseSound(m);
    started_ = false;
    imageSha1_ = {};
    undoLoad_.clear();
    host_->VideoStop();
    m.log.Append("Cartridge discharged.");
    host_->SetStatusText("");
}

void Engine::ReleaseCartridge() {
    Machine& m = *machine_;
    ownsBatteryFile_ = false;
    PpuClearVideoMemory(m);
    m.ppu.oam.fill(0);
    m.cart.backedMemory.fill(0);
    m.internalRam.fill(0);
    ClearPageTables(m);
    m.cart.prgRom = {};
    m.cart.chrRom = {};
    m.cart.romFileName.clear();
    m.cart.romFilePath.clear();
}

void Engine::FreeRom(FreeRomCall call, BatterySave save) {
    if (!started_ && call == FreeRomCall::IfStarted) return;
    const bool wasStarted = started_;
    host_->SetCartridgeCommandsEnabled(false);
    try {
        StopEngine(save);
    } catch (...) {
        if (wasStarted) host_->SetCartridgeCommandsEnabled(true);  // still there to be saved
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
    if (machine_->running) {
        Halt();
    } else {
        machine_->running = true;
    }
}

void Engine::Halt() {
    Machine& m = *machine_;
    m.running = false;
    if (m.messagePointPending) ++droppedLineRests_;
    m.messagePointPending = false;
    SilenceChannels(m);
}

bool Engine::SuspendForDebugger() {
    Machine& m = *machine_;
    const bool wasRunning = m.running;
    m.running = false;
    m.messagePointPending = false;
    ++generation_;  // the debugger may change the machine
    return wasRunning;
}

void Engine::ResumeAfterDebugger(bool wasRunning) {
    if (wasRunning && started_) machine_->running = true;
}

int64_t Engine::RunFrames(int64_t frames) {
    if (frames <= 0 || !BeginRun()) return 0;
    RunGuard guard{*this};
    Machine& m = *machine_;
    const uint64_t before = m.messagePointsReached;
    m.messagePointsUntilYield = frames;
    MachineBus bus{m};
    if (FinishInterruptedLine(bus)) CpuRun(m.cpu, bus);
    return static_cast<int64_t>(m.messagePointsReached - before);
}

bool Engine::BeginRun() {
    assert(!inRun_ && "Engine::Run is not re-entrant");
    if (inRun_ || !started_ || !machine_->running) return false;
    inRun_ = true;
    return true;
}

void Engine::EndRun() {
    inRun_ = false;
    machine_->linesUntilYield = -1;
    machine_->messagePointsUntilYield = -1;
}

bool Engine::FinishInterruptedLine(MachineBus& bus) {
    Machine& m = *machine_;
    if (!m.messagePointPending) return true;
    const InterruptRequest request = FinishMessagePointLine(m);
    if (request == InterruptRequest::Stop) return false;
    // As the run loop does after the end-of-scanline call: the budget is full, then the
    // interrupt is entered before the next instruction.
    if (request != InterruptRequest::None) CpuTakeRequest(m.cpu, bus, request);
    return true;
}

bool Engine::FlushBackedMemory() {
    CollectFlush();
    Machine& m = *machine_;
    if (flush_.valid() || !started_ || !ownsBatteryFile_) return false;
    if (m.cart.backedMemory == savedBackedMemory_) return false;
    flushingBackedMemory_ = m.cart.backedMemory;
    const std::string name = BatteryFileName(m.cart.romFilePath, m.cart.romFileName);
    // The worker owns its copy of the bytes and the name; the machine goes on running.
    try {
        flush_ = std::async(std::launch::async, [name, data = flushingBackedMemory_]() {
            try {
                WriteBatteryFile(name, data.data());
                return std::string();
            } catch (const std::exception& e) {
                return std::string(e.what());
            }
        });
    } catch (const std::system_error&) {
        return false;  // no thread to be had now: the bytes wait for the next call
    }
    return true;
}

void Engine::WaitForBackedMemoryFlush() {
    if (!flush_.valid()) return;
    flush_.wait();
    CollectFlush();
}

void Engine::CollectFlush() {
    if (!flush_.valid() || flush_.wait_for(std::chrono::seconds(0)) != std::future_status::ready)
        return;
    const std::string failure = flush_.get();
    if (failure.empty()) {
        savedBackedMemory_ = flushingBackedMemory_;
    } else if (failure != lastFlushFailure_) {
        machine_->log.Append("Backed memory not saved: " + failure);
    }
    lastFlushFailure_ = failure;
}

}  // namespace vexalo
