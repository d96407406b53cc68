// The one machine record: every piece of emulation state, owned by the engine. Nothing in it is
// allocated per frame; the cartridge's stores live from a successful load to the next stop.
#pragma once

#include <array>
#include <cstdint>

#include "cartridge/cartridge.h"
#include "core/cpu_state.h"
#include "input/joypad.h"
#include "machine/log.h"
#include "machine/ppu.h"
#include "machine/renderer.h"
#include "sound/sound.h"
#include "ui/settings.h"

namespace vexalo {

constexpr int kScreenWidth = 256;
constexpr int kScreenHeight = 240;
constexpr int kLinesPerFrame = 244;
constexpr int kFirstDrawnLine = 8;
constexpr int kLastDrawnLine = 231;

// 256 x 240 indices into the 32 palette entries, rows top to bottom.
using FrameBuffer = std::array<uint8_t, kScreenWidth * kScreenHeight>;

// What the machine asks of the program around it. The runner uses the defaults (nothing); the
// desktop shows frames and runs its event loop here. Called per frame at most, never per access.
class MachineHost {
   public:
    virtual ~MachineHost() = default;
    // Line 8 of every frame, right after the joypads are sampled. The host may look at the
    // machine here but must not run commands: those wait until Run has returned (see
    // cartridge/engine.h).
    virtual void ProcessMessages() {}
    // Line 0 of every drawn frame.
    virtual void PresentFrame() {}
};

struct Machine {
    CpuState cpu;
    PpuState ppu;
    Cartridge cart;
    PageTables pages;
    MapperState mapper;
    std::array<uint8_t, 2048> internalRam{};
    std::array<uint8_t, 24> ioRegisterImage{};  // last byte written to each of $4000-$4017
    SoundState sound;
    JoypadState pads;
    FrameBuffer frame{};
    BackgroundCache backgroundCache;

    int scanline = 0;
    int frameSkipCounter = 0;
    int sprite0Line = 0;
    int soundCountdown = 1;  // the first end-of-scanline call runs the sound tick
    bool running = false;
    // The CPU write in progress comes on the cycle right after another: a read-modify-write's
    // second write. Set only during that write.
    bool writeFollowsWrite = false;
    // End-of-scanline calls left before the run loop yields (returns Stop while `running` stays
    // set) at the end of a line without an interrupt; negative means never. Lets a host run a
    // given number of lines at a time.
    int64_t linesUntilYield = -1;
    // Message points left before the run loop yields at one; negative means never.
    int64_t messagePointsUntilYield = -1;
    // The run loop yielded at line 8's message point: the rest of that line (running test,
    // mapper hook, scroll take-over, sprite-0 test) is still to run before the next instruction.
    bool messagePointPending = false;
    uint64_t messagePointsReached = 0;  // line 8 message points passed since the program began
    uint64_t framesCompleted = 0;       // frames whose line 0 has passed, drawn or skipped

    Log log;
    Settings settings;
    MachineHost* host = nullptr;  // not owned; null behaves like the default host

    // Always-valid store for empty page-table entries: reads through an empty window see zeros
    // and never leave a buffer.
    std::array<uint8_t, 8192> emptyPage{};
};

// Pattern byte at a PPU address below $2000, through the pattern windows.
inline uint8_t PatternByte(const Machine& m, uint16_t address) {
    address &= 0x1FFF;
    return *reinterpret_cast<const uint8_t*>(m.pages.ppu[address >> 10] + address);
}

}  // namespace vexalo
