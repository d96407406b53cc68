// The end-of-scanline clock: vertical blank, the NMI, frame skipping, the message point at
// line 8, the scanline interrupt and the sprite-0 flag.
#include <gtest/gtest.h>

#include "cartridge/engine.h"
#include "cartridge/mapper.h"
#include "machine/bus.h"

namespace vexalo {
namespace {

struct CountingHost : EngineHost {
    int presented = 0;
    int messages = 0;
    Machine* machine = nullptr;
    bool stopAtMessages = false;
    void PresentFrame() override { ++presented; }
    void ProcessMessages() override {
        ++messages;
        if (stopAtMessages) machine->running = false;
    }
};

class FrameTimingTest : public ::testing::Test {
   protected:
    FrameTimingTest() : engine_(&host_) {
        host_.machine = &m();
        m().running = true;
    }
    Machine& m() { return engine_.machine(); }
    // Calls EndOfScanline `count` times and returns the last result.
    InterruptRequest Lines(int count) {
        InterruptRequest r = InterruptRequest::None;
        for (int i = 0; i < count; ++i) r = EndOfScanline(m());
        return r;
    }

    CountingHost host_;
    Engine engine_;
};

TEST_F(FrameTimingTest, VerticalBlankRunsFromLine231ToLine0) {
    m().ppu.ppuControl = 0x80;
    EXPECT_EQ(Lines(230), InterruptRequest::None);
    EXPECT_EQ(m().ppu.ppuStatus & 0x80, 0);
    EXPECT_EQ(Lines(1), InterruptRequest::NmiAfterInstruction);
    EXPECT_EQ(m().scanline, 231);
    EXPECT_EQ(m().ppu.ppuStatus & 0x80, 0x80);
    EXPECT_EQ(Lines(12), InterruptRequest::None);
    EXPECT_EQ(m().ppu.ppuStatus & 0x80, 0x80);
    Lines(1);
    EXPECT_EQ(m().scanline, 0);
    EXPECT_EQ(m().ppu.ppuStatus & 0x80, 0);
    EXPECT_EQ(m().framesCompleted, 1u);
}

TEST_F(FrameTimingTest, VerticalBlankClearsTheSprite0FlagAndTheScrollToggle) {
    m().ppu.ppuStatus = 0x40;
    m().ppu.scrollToggle = 1;
    Lines(231);
    EXPECT_EQ(m().ppu.ppuStatus, 0x80);
    EXPECT_EQ(m().ppu.scrollToggle, 0);
}

TEST_F(FrameTimingTest, FrameSkipShowsOneFrameInN) {
    m().settings.FrameRate = 3;
    Lines(kLinesPerFrame * 9);
    EXPECT_EQ(host_.presented, 3);
    EXPECT_EQ(host_.messages, 9);  // the message point runs in skipped frames too
    m().settings.FrameRate = 1;
    Lines(kLinesPerFrame * 2);
    EXPECT_EQ(host_.presented, 5);
}

TEST_F(FrameTimingTest, SkippedFramesDrawNoBackground) {
    m().settings.FrameRate = 2;
    m().ppu.ppuMask = 0x08;
    m().frame.fill(9);
    Lines(kLinesPerFrame);  // frame 0 is drawn: rows 8-231 rewritten
    EXPECT_EQ(m().frame[8 * kScreenWidth], 0);
    EXPECT_EQ(m().frame[0], 9);  // rows 0-7 are never drawn
    m().frame.fill(9);
    Lines(kLinesPerFrame);  // frame 1 is skipped
    EXPECT_EQ(m().frame[100 * kScreenWidth], 9);
}

TEST_F(FrameTimingTest, ClearingRunningStopsAtLine8) {
    host_.stopAtMessages = true;
    EXPECT_EQ(Lines(7), InterruptRequest::None);
    EXPECT_EQ(Lines(1), InterruptRequest::Stop);
    EXPECT_EQ(m().scanline, 8);
    EXPECT_EQ(host_.messages, 1);
}

TEST_F(FrameTimingTest, AHostThatRunsLinesGetsControlBackWithoutLosingAnInterrupt) {
    m().ppu.ppuControl = 0x80;
    m().linesUntilYield = 231;
    EXPECT_EQ(Lines(230), InterruptRequest::None);
    EXPECT_EQ(Lines(1), InterruptRequest::NmiAfterInstruction);  // line 231's NMI comes first
    EXPECT_EQ(Lines(1), InterruptRequest::Stop);
    EXPECT_TRUE(m().running);
}

TEST_F(FrameTimingTest, ScrollIsTakenOverAfterTheLineIsDrawn) {
    m().ppu.pendingScrollX = 12;
    m().ppu.pendingScrollY = 34;
    m().ppu.scrollUpdatePending = true;
    Lines(7);  // lines 1-7 take nothing over
    EXPECT_EQ(m().ppu.scrollX, 0);
    Lines(1);
    EXPECT_EQ(m().ppu.scrollX, 12);
    EXPECT_EQ(m().ppu.scrollY, 34);
    EXPECT_FALSE(m().ppu.scrollUpdatePending);
}

TEST_F(FrameTimingTest, AScanlineInterruptPostponesTheScrollTakeOver) {
    ASSERT_TRUE(MapperSetup(m(), 4));
    m().mapper.irqEnabled = true;
    m().mapper.irqCounter = 2;
    m().ppu.pendingScrollX = 5;
    m().ppu.scrollUpdatePending = true;
    EXPECT_EQ(Lines(8), InterruptRequest::None);  // line 8 counts 2 -> 1 and takes the scroll
    EXPECT_EQ(m().ppu.scrollX, 5);
    m().ppu.pendingScrollX = 6;
    m().ppu.scrollUpdatePending = true;
    EXPECT_EQ(Lines(1), InterruptRequest::Irq);  // line 9 reaches zero
    EXPECT_EQ(m().ppu.scrollX, 5);
    EXPECT_EQ(Lines(1), InterruptRequest::None);
    EXPECT_EQ(m().ppu.scrollX, 6);
}

TEST_F(FrameTimingTest, Sprite0FlagRisesAfterItsLastOpaqueRow) {
    // Sprite 0 at Y 100 with tile 1, whose row 0 is the only opaque one.
    m().ppu.oam[0] = 100;
    m().ppu.oam[1] = 1;
    m().ppu.vram[16] = 0x80;
    for (int i = 0; i < 8; ++i) m().pages.ppu[i] = reinterpret_cast<uintptr_t>(m().ppu.vram.data());
    m().ppu.ppuMask = 0x10;
    m().ppu.ppuControl = 0x40;
    EXPECT_EQ(Lines(100), InterruptRequest::None);
    EXPECT_EQ(m().ppu.ppuStatus & 0x40, 0);
    EXPECT_EQ(Lines(1), InterruptRequest::Nmi);
    EXPECT_EQ(m().ppu.ppuStatus & 0x40, 0x40);

    // Without sprites shown, no flag.
    Lines(kLinesPerFrame - 101);
    m().ppu.ppuMask = 0;
    m().ppu.ppuStatus = 0;
    EXPECT_EQ(Lines(101), InterruptRequest::None);
    EXPECT_EQ(m().ppu.ppuStatus & 0x40, 0);
}

}  // namespace
}  // namespace vexalo
