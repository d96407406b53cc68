// The running emulation of one cartridge: start, reset, stop, and the battery file in which the
// cartridge's RAM outlives the program run.
//
// The command point. The run loop does not nest: it gives control back to its host at the
// frame's message point, line 8 right after the joypads have been sampled (and the sprite-0 line
// computed), and every command of the window (Pause, Reset, a load, Free ROM, Debug, Settings,
// a snapshot) runs between two calls of RunFrames or Run, never from inside the machine (not
// from MachineHost::ProcessMessages, PresentFrame or an output). Each command then has the effect
// it would have had at that point of a loop that processes the window's messages there:
// - Pause, while running, clears `running` and silences the four channels at once (note-offs
//   sent), as the loop that stops at that point does; the rest of line 8 is not run. Pause while
//   paused sets `running`; the next call continues with the next instruction.
// - Reset and a new load (StartEngine) start from the reset vector: nothing of the interrupted
//   line (the mapper's scanline hook, the scroll take-over, the sprite-0 test) is left to run on
//   the reset or newly loaded machine. Free ROM and StopEngine leave nothing to run either.
// - A command that changes nothing about running (Settings, a snapshot, reading memory) lets the
//   next call finish the rest of line 8 (running test, mapper hook, scroll take-over, sprite-0
//   test, and the interrupt they raise) exactly as the uninterrupted loop would, so a host that
//   runs one frame per call sees the same machine as one long run.
// - Debug: SuspendForDebugger, then the debugger's own steps (CpuDebugStep on a MachineBus of
//   machine(), ResetEngine), then ResumeAfterDebugger.
// - A command that throws (a battery file that cannot be written, an image that cannot be read)
//   leaves the CPU record consistent and the cartridge as the message says: a failed Free ROM
//   keeps the cartridge loaded, stopped and silenced, and the previous battery file intact.
// A released cartridge is never touched, since no loop is on the stack while a command runs.
#pragma once

#include <array>
#include <future>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "core/cpu.h"
#include "machine/bus.h"
#include "machine/machine.h"
#include "machine/save_state.h"

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

// Where state slots live unless the host names another folder: the user's data folder,
// $XDG_DATA_HOME/Ostrane/Vexalo/states (~/.local/share/... without XDG_DATA_HOME).
std::string DefaultStateDirectory();
constexpr int kStateSlots = 10;

// Who asks for Free ROM: the command itself (the F3 key and the menu item), which acts also with
// nothing loaded, or the program on its own account (a new load, closing the window, the end of
// a run), which acts only while a started cartridge is loaded.
enum class FreeRomCall { Always, IfStarted };
// Whether a stop writes the battery file; Discard is the player's choice after a failed write.
enum class BatterySave { Write, Discard };

class Engine {
   public:
    explicit Engine(EngineHost* host = nullptr);
    // Frees a started cartridge as Free ROM does, so its battery file is written; a failure to
    // write it is appended to the log as "Backed memory not saved: NAME: MESSAGE" (a destructor
    // cannot throw it).
    ~Engine();
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    Machine& machine() { return *machine_; }
    const Machine& machine() const { return *machine_; }

    // Frees any started cartridge, loads the image, sets it up, resets, opens the sound and the
    // video and sets `running`. False when the image is refused (the log says why). Throws
    // FileError when a file cannot be read. Every load starts from cleared battery RAM. A load
    // that is refused or throws releases what it read, so the machine is as if nothing were
    // loaded and no later stop writes a battery file.
    bool StartEngine(const std::string& fileName);
    bool LoadBackedMemory();
    // Machine reset: registers of the picture processor and the joypads, sound registers, then
    // the CPU from the reset vector. Drops the rest of an interrupted line 8. The debugger calls
    // it between SuspendForDebugger and ResumeAfterDebugger.
    void ResetEngine();
    // Clears `running`, writes the battery file (to a temporary file renamed into place; waits
    // for a flush still being written, so the file ends with these bytes) and releases the
    // cartridge. On a write failure it throws FileError and keeps the cartridge and its RAM, with
    // the engine stopped and its channels silenced; the previous battery file is left as it was.
    // The battery file is written only for a cartridge whose image loaded whole and whose file
    // was read or absent, never for a refused load or with nothing loaded.
    void StopEngine(BatterySave save = BatterySave::Write);

    // Free ROM, the one way a cartridge is freed (the F3 key, the menu, closing the window, the
    // runner's end and the destructor): the cartridge commands are disabled, then StopEngine.
    void FreeRom(FreeRomCall call, BatterySave save = BatterySave::Write);
    // The Reset command: reset and run.
    void Reset();
    // The Pause / Run command: toggles `running` while a cartridge is loaded; stopping silences
    // the four channels at once.
    void Pause();

    // The Debug command. SuspendForDebugger clears `running` and returns whether it was set; the
    // machine stays where it stopped (the rest of an interrupted line 8 is dropped, as a
    // resumed nested loop never ran it) and the channels are not silenced (the debugger's steps
    // silence them at each line 8 while `running` is clear). Between the two calls the debugger
    // may step (CpuDebugStep with MachineBus{machine()}, which ignores Stop) and call
    // ResetEngine. ResumeAfterDebugger sets `running` again when `wasRunning` is true; the next
    // RunFrames continues from the CPU's current state with its CycleBudget carried over.
    bool SuspendForDebugger();
    void ResumeAfterDebugger(bool wasRunning);

    // Battery RAM written while the cartridge runs, so a crash loses at most the time since the
    // last flush. Call it from a timer between two runs (the host picks the rate). When a started
    // battery cartridge's backedMemory differs from the bytes its file last received (or was
    // loaded from), a copy is written to the same battery file, in the same format and through
    // the same temporary-file-and-rename writer, on a worker thread: the call never waits for the
    // disk. While an earlier flush is still being written the call does nothing. A failed flush
    // is appended to the log when it is noticed (by the next call, or StopEngine) as "Backed
    // memory not saved: " followed by the file's name and the system's message, once until the
    // message changes; it keeps the previous file intact and is tried again by the next call, so
    // nothing is lost, and StopEngine still writes the final bytes. Returns true when it started
    // a write.
    bool FlushBackedMemory();
    // Waits for a flush still being written; its outcome is handled as by FlushBackedMemory.
    void WaitForBackedMemoryFlush();
    // The message of the last flush that failed, empty once one has succeeded again.
    const std::string& FlushFailure() const { return lastFlushFailure_; }

    // ---- Saved states (the format is in machine/save_state.h). Every call is a command: it runs
    // at the command point, between two runs.

    // SHA-1 of the loaded image's PRG and CHR pages as loaded; zeros with nothing loaded.
    const ImageDigest& ImageSha1() const { return imageSha1_; }
    // Counts the events after which the machine does not follow from its past by running: a
    // start, a reset, a loaded state, a debugger session. The rewind buffer starts anew on them.
    uint64_t Generation() const { return generation_; }
    // The machine as a state file; empty with no started cartridge.
    std::vector<uint8_t> SaveState() const;
    // Takes the machine from a state. Refused (false) with the log line "State not loaded: WHAT:
    // REASON" when it is of another image, of a newer format, damaged or truncated, or nothing is
    // loaded; the machine is then unchanged. On success the replaced machine is kept for
    // UndoLoadState, and, while running, the notes that sounded are released and the loaded ones
    // sound.
    bool LoadState(std::span<const uint8_t> state, const std::string& what = "state");
    // The same through files. SaveStateFile writes through the temporary-file-and-rename writer;
    // both throw FileError when the file cannot be written or read.
    void SaveStateFile(const std::string& fileName) const;
    bool LoadStateFile(const std::string& fileName);
    // Takes back the last load (the machine it replaced); false when there is none.
    bool UndoLoadState();

    // Ten slots per image (0-9), files in the state folder named after the image and its SHA-1.
    void SetStateDirectory(const std::string& directory) { stateDirectory_ = directory; }
    const std::string& StateDirectory() const { return stateDirectory_; }
    // The slot's file; empty with nothing loaded or a slot outside 0-9.
    std::string StateSlotFile(int slot) const;
    // Saves into the slot (creating the folder); a previous file is kept as FILE.bak for
    // UndoSaveStateSlot. Throws FileError; the slot's file is then as it was.
    void SaveStateSlot(int slot);
    // Puts the slot's previous file back; false when there is none.
    bool UndoSaveStateSlot(int slot);
    // False (with the log line) when the slot is empty or its file refused.
    bool LoadStateSlot(int slot);
    // The slot's frame, time of saving and thumbnail; false for an empty or unreadable slot.
    bool StateSlotInfo(int slot, StateInfo& info) const;

    // Counts the pauses that dropped the rest of an interrupted line 8 (see Pause above): a movie
    // records them, since a run without that pause goes on differently.
    uint64_t DroppedLineRests() const { return droppedLineRests_; }

    bool CartridgeStarted() const { return started_; }
    bool Running() const { return machine_->running; }

    // Runs until the frame's message point (line 8, right after the joypads are sampled) has
    // been reached `frames` times, and returns there, whatever state it starts from (a call that
    // starts at the message point first finishes the rest of that line 8, which counts as no
    // message point). Returns the number of message points reached: `frames`, or 0 when nothing
    // runs (no started cartridge, `running` clear, or `frames` not positive). The first call after
    // a reset runs the 8 lines up to the first message point. Not re-entrant (see Run).
    int64_t RunFrames(int64_t frames);

    // Runs the CPU while `running` is set, for at most `lines` end-of-scanline calls (all of them
    // when negative), and returns at the first following line that has no interrupt to deliver.
    // Returns at once when nothing runs. Message points on the way do not return; a call that
    // starts at a message point first finishes that line 8, as RunFrames does.
    // `hook` sees the registers before every instruction (the runner's trace).
    // Not re-entrant: calling Run or RunFrames from inside a run (from the host's PresentFrame or
    // ProcessMessages, an output or the hook) is a programming error; debug builds assert, release
    // builds return at once.
    template <class Hook = NoInstructionHook>
    void Run(int64_t lines = -1, Hook hook = {}) {
        if (lines == 0 || !BeginRun()) return;
        RunGuard guard{*this};
        machine_->linesUntilYield = lines < 0 ? -1 : lines;
        MachineBus bus{*machine_};
        if (FinishInterruptedLine(bus)) CpuRun(machine_->cpu, bus, hook);
    }

   private:
    // Clears the in-run mark and the yield counters however a run ends (also by an exception).
    struct RunGuard {
        Engine& engine;
        ~RunGuard() { engine.EndRun(); }
    };
    bool BeginRun();
    void EndRun();
    // Runs the rest of a line 8 at whose message point the last run yielded; false when the
    // machine is not to run (it stopped there).
    bool FinishInterruptedLine(MachineBus& bus);
    // Clears `running` and silences the four channels, as the loop that stops at line 8 does.
    void Halt();
    void CollectFlush();
    // Clears the memories and page tables and releases the image's stores.
    void ReleaseCartridge();

    std::unique_ptr<Machine> machine_;
    EngineHost* host_;
    EngineHost nullHost_;
    bool started_ = false;  // a cartridge has been loaded and set up (menu items enabled)
    bool inRun_ = false;
    bool ownsBatteryFile_ = false;  // the loaded cartridge's battery file may be written
    // What the battery file last received or was loaded from, and the flush being written.
    std::array<uint8_t, kBackedMemorySize> savedBackedMemory_{};
    std::array<uint8_t, kBackedMemorySize> flushingBackedMemory_{};
    std::future<std::string> flush_;  // the failure message, empty on success
    std::string lastFlushFailure_;
    ImageDigest imageSha1_{};
    uint64_t generation_ = 0;
    uint64_t droppedLineRests_ = 0;
    std::vector<uint8_t> undoLoad_;  // the machine the last state load replaced
    std::string stateDirectory_ = DefaultStateDirectory();
};

}  // namespace vexalo
