// The running emulation of one cartridge: start, reset, stop, and the battery file in which the
// cartridge's RAM outlives the program run.
//
// The run loop gives control back to its host once per frame instead of nesting: StartEngine,
// Reset and a resuming Pause set `running`, and the host calls Run (or RunFrames) for as long
// as it wants frames. A released cartridge is never touched, because the loop yields only at the
// frame's message point and every command runs between two calls of Run.
#pragma once

#include <memory>
#include <string>

#include "core/cpu.h"
#include "machine/bus.h"
#include "machine/machine.h"

namespace vexalo {

// What belongs to the window: the four cartridge menu items, the status bar's first panel and the
// picture. The runner leaves every call empty.
class EngineHost : public MachineHost {
   public:
    virtual void SetCartridgeCommandsEnabled(bool /*enabled*/) {}
    virtual void SetStatusText(const std::string& /*text*/) {}
    virtual void VideoStart() {}
    virtual void VideoStop() {}
};

// Battery file of an image: its directory, its name up to and including the first full stop,
// then "sav" (Games/Quest.Two.nes gives Games/Quest.sav).
std::string BatteryFileName(const std::string& romFilePath, const std::string& romFileName);

class Engine {
   public:
    explicit Engine(EngineHost* host = nullptr);
    ~Engine();
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    Machine& machine() { return *machine_; }
    const Machine& machine() const { return *machine_; }

    // Frees any started cartridge, loads the image, sets it up, resets, opens the sound and the
    // video and sets `running`. False when the image is refused (the log says why). Throws
    // FileError when a file cannot be read.
    bool StartEngine(const std::string& fileName);
    bool LoadBackedMemory();
    void ResetEngine();
    // Writes the battery file (to a temporary file renamed into place) and releases the
    // cartridge. On a write failure it throws FileError and keeps the cartridge and its RAM.
    void StopEngine();

    // The Free ROM command: acts only while a started cartridge is loaded.
    void FreeRom();
    // The Reset command: reset and run.
    void Reset();
    // The Pause / Run command: toggles `running` while a cartridge is loaded.
    void Pause();

    bool CartridgeStarted() const { return started_; }
    bool Running() const { return machine_->running; }

    // Runs the CPU while `running` is set, for at most `lines` end-of-scanline calls (all of them
    // when negative). Returns at once when nothing runs.
    // `hook` sees the registers before every instruction (the runner's trace).
    template <class Hook = NoInstructionHook>
    void Run(int64_t lines = -1, Hook hook = {}) {
        Machine& m = *machine_;
        if (!m.running || !started_ || lines == 0) return;
        m.linesUntilYield = lines < 0 ? -1 : lines;
        MachineBus bus{m};
        CpuRun(m.cpu, bus, hook);
        m.linesUntilYield = -1;
    }
    // Runs whole frames (244 end-of-scanline calls each).
    void RunFrames(int64_t frames) { Run(frames * kLinesPerFrame); }

   private:
    std::unique_ptr<Machine> machine_;
    EngineHost* host_;
    EngineHost nullHost_;
    bool started_ = false;  // a cartridge has been loaded and set up (menu items enabled)
};

}  // namespace vexalo
