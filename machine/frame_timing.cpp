// The machine's clock: the work done each time the CPU has used up one scanline's cycles.
#include "cartridge/mapper.h"
#include "input/joypad.h"
#include "machine/bus.h"
#include "machine/renderer.h"
#include "sound/sound.h"

namespace vexalo {

namespace {

// Step after the message point of every drawn line: the mapper's scanline hook, then, unless it
// raised an interrupt, the scroll take-over and the sprite-0 test.
InterruptRequest RestOfDrawnLine(Machine& m, int line) {
    PpuState& ppu = m.ppu;
    InterruptRequest signal = MapperScanline(m, InterruptRequest::None);
    if (signal != InterruptRequest::None) return signal;
    if (ppu.scrollUpdatePending) {
        ppu.scrollX = ppu.pendingScrollX;
        ppu.scrollY = ppu.pendingScrollY;
        ppu.scrollUpdatePending = false;
    }
    if ((ppu.ppuMask & 0x10) && line == m.sprite0Line) {
        ppu.ppuStatus |= 0x40;
        if (ppu.ppuControl & 0x40) signal = InterruptRequest::Nmi;
    }
    return signal;
}

// The window's message point at line 8. Returns true when the run loop must leave: the engine
// was stopped (channels silenced), or the host asked for control back at this point, in which
// case the rest of the line waits for FinishMessagePointLine.
bool MessagePoint(Machine& m) {
    PollJoypads(m);
    ComputeSprite0Line(m);
    ++m.messagePointsReached;
    if (m.host) m.host->ProcessMessages();
    if (!m.running) {
        SilenceChannels(m);
        return true;
    }
    if (m.messagePointsUntilYield > 0 && --m.messagePointsUntilYield == 0) {
        m.messagePointPending = true;
        return true;
    }
    return false;
}

}  // namespace

InterruptRequest FinishMessagePointLine(Machine& m) {
    m.messagePointPending = false;
    if (!m.running) {
        SilenceChannels(m);
        return InterruptRequest::Stop;
    }
    return RestOfDrawnLine(m, kFirstDrawnLine);
}

InterruptRequest EndOfScanline(Machine& m) {
    if (--m.soundCountdown <= 0) {
        m.soundCountdown = kLinesPerFrame;
        SoundTick(m);
    }
    if (m.linesUntilYield > 0) --m.linesUntilYield;

    const int line = m.scanline = (m.scanline + 1) % kLinesPerFrame;
    PpuState& ppu = m.ppu;
    const bool drawn = m.frameSkipCounter == 0;
    if (drawn && line >= kFirstDrawnLine && line <= kLastDrawnLine) RenderBackgroundLine(m, line);

    if (line == 0) {
        ppu.ppuStatus &= 0x7F;
        ++m.framesCompleted;
        if (drawn && m.host) m.host->PresentFrame();
    } else if (line == kLastDrawnLine) {
        m.frameSkipCounter = (m.frameSkipCounter + 1) % m.settings.EffectiveFrameRate();
        if ((ppu.ppuMask & 0x10) && m.frameSkipCounter == 0) RenderSprites(m, kFirstDrawnLine);
        ppu.ppuStatus = (ppu.ppuStatus | 0x80) & 0xBF;
        ppu.scrollToggle = 0;
        if (ppu.ppuControl & 0x80) return InterruptRequest::NmiAfterInstruction;
    } else if (line == kFirstDrawnLine) {
        if (MessagePoint(m)) return InterruptRequest::Stop;
    }

    const InterruptRequest signal = line >= kFirstDrawnLine && line <= kLastDrawnLine
                                        ? RestOfDrawnLine(m, line)
                                        : InterruptRequest::None;
    // A host that runs a bounded number of lines gets control back at the first line that has
    // no interrupt to deliver; `running` stays set, so the next Run continues seamlessly.
    if (m.linesUntilYield == 0 && signal == InterruptRequest::None) return InterruptRequest::Stop;
    return signal;
}

}  // namespace vexalo
