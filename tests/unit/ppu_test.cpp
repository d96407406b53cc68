// The picture processor's registers at $2000-$2007 and video memory.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "machine/machine.h"
#include "machine/ppu.h"

namespace vexalo {
namespace {

class PpuRegisters : public ::testing::Test {
   protected:
    void SetUp() override {
        m = std::make_unique<Machine>();
        // Pattern RAM: the pattern windows see vram $0000-$1FFF.
        for (auto& base : m->pages.ppu) base = reinterpret_cast<uintptr_t>(m->ppu.vram.data());
        m->ppu.paletteDirty = false;
    }

    void Write(uint16_t address, uint8_t value) { PpuWriteRegister(*m, address, value); }
    void SetAddress(uint16_t address) {
        Write(0x2006, static_cast<uint8_t>(address >> 8));
        Write(0x2006, static_cast<uint8_t>(address));
    }
    uint8_t ReadData() { return PpuReadData(*m); }

    std::unique_ptr<Machine> m;
};

TEST_F(PpuRegisters, DataReadHasDummyFirstReadAndNoBuffer) {
    m->ppu.vram[0x2108] = 0x5A;
    m->ppu.vram[0x2109] = 0x6B;
    SetAddress(0x2108);
    EXPECT_EQ(ReadData(), 0xFF);
    EXPECT_EQ(m->ppu.vramAddress, 0x2108);
    EXPECT_EQ(ReadData(), 0x5A);
    EXPECT_EQ(m->ppu.vramAddress, 0x2109);
    EXPECT_EQ(ReadData(), 0x6B);  // no read buffer: each read gives the byte at the address

    m->ppu.ppuControl = 0x04;  // step 32
    SetAddress(0x2108);
    EXPECT_EQ(ReadData(), 0xFF);
    EXPECT_EQ(ReadData(), 0x5A);
    EXPECT_EQ(m->ppu.vramAddress, 0x2128);

    // The palette is read directly as well, after the one dummy read.
    m->ppu.ppuControl = 0;
    m->ppu.vram[0x3F00] = 0x21;
    SetAddress(0x3F00);
    EXPECT_EQ(ReadData(), 0xFF);
    EXPECT_EQ(ReadData(), 0x21);
}

TEST_F(PpuRegisters, AddressIsLastTwoBytesWithoutToggle) {
    Write(0x2006, 0x20);
    Write(0x2006, 0x21);
    Write(0x2006, 0x08);
    EXPECT_EQ(m->ppu.vramAddress, 0x2108);
    EXPECT_TRUE(m->ppu.firstReadPending);
}

TEST_F(PpuRegisters, PatternReadsGoThroughPatternWindows) {
    // CHR-ROM: the windows point into a separate store; vram $0000-$1FFF only receives writes.
    std::vector<uint8_t> chr(8192);
    for (size_t i = 0; i < chr.size(); ++i) chr[i] = static_cast<uint8_t>(i * 7 + 3);
    for (int page = 0; page < 8; ++page) {
        m->pages.ppu[page] = reinterpret_cast<uintptr_t>(chr.data());
    }
    SetAddress(0x1234);
    ReadData();
    EXPECT_EQ(ReadData(), chr[0x1234]);

    // A write to a pattern address goes to vram, not through the window.
    SetAddress(0x0010);
    Write(0x2007, 0xEE);
    EXPECT_EQ(m->ppu.vram[0x0010], 0xEE);
    EXPECT_EQ(chr[0x0010], static_cast<uint8_t>(0x10 * 7 + 3));
}

TEST_F(PpuRegisters, AddressIsMaskedTo14BitsAtEachAccess) {
    SetAddress(0x3FFF);
    Write(0x2007, 0x11);
    EXPECT_EQ(m->ppu.vram[0x3FFF], 0x11);
    EXPECT_EQ(m->ppu.vramAddress, 0x4000);  // may grow past $3FFF
    Write(0x2007, 0x22);                    // and is masked at the next access
    EXPECT_EQ(m->ppu.vram[0x0000], 0x22);
    EXPECT_EQ(m->ppu.vramAddress, 0x0001);

    // Any 16-bit address stays inside video memory for reads and writes.
    m->ppu.vram[0x2345] = 0x77;
    SetAddress(0xE345);
    ReadData();
    EXPECT_EQ(ReadData(), 0x77);
    SetAddress(0xFFFF);
    m->ppu.ppuControl = 0x04;
    Write(0x2007, 0x33);
    EXPECT_EQ(m->ppu.vram[0x3FFF], 0x33);
    EXPECT_EQ(m->ppu.vramAddress, 0x3FFF + 32);
}

TEST_F(PpuRegisters, ScrollWrites) {
    Write(0x2005, 0x10);
    EXPECT_EQ(m->ppu.scrollToggle, 1);
    Write(0x2005, 0xF0);  // a vertical value of 240 or more is ignored
    EXPECT_EQ(m->ppu.pendingScrollX, 0x10);
    EXPECT_EQ(m->ppu.pendingScrollY, 0);
    EXPECT_EQ(m->ppu.scrollToggle, 0);
    EXPECT_TRUE(m->ppu.scrollUpdatePending);

    Write(0x2005, 0x20);
    PpuReadStatus(*m);  // does not reset the toggle
    EXPECT_EQ(m->ppu.scrollToggle, 1);
    Write(0x2005, 0xEF);
    EXPECT_EQ(m->ppu.pendingScrollX, 0x20);
    EXPECT_EQ(m->ppu.pendingScrollY, 0xEF);
    EXPECT_EQ(m->ppu.scrollToggle, 0);
    // The values in use change only when the scanline clock takes them over.
    EXPECT_EQ(m->ppu.scrollX, 0);
    EXPECT_EQ(m->ppu.scrollY, 0);
}

TEST_F(PpuRegisters, StatusAndControlRegisters) {
    Write(0x2002, 0xFF);  // all bits writable
    EXPECT_EQ(m->ppu.ppuStatus, 0xFF);
    EXPECT_EQ(PpuReadStatus(*m), 0xFF);
    EXPECT_EQ(m->ppu.ppuStatus, 0x3F);  // vertical blank and sprite-0 flags cleared
    EXPECT_EQ(PpuReadStatus(*m), 0x3F);

    // Status reads leave the $2006/$2007 sequence alone.
    SetAddress(0x2000);
    PpuReadStatus(*m);
    EXPECT_TRUE(m->ppu.firstReadPending);

    // Setting the NMI bit during vertical blank only stores the byte.
    m->ppu.ppuStatus = 0x80;
    Write(0x2000, 0x80);
    EXPECT_EQ(m->ppu.ppuControl, 0x80);
    EXPECT_EQ(m->ppu.ppuStatus, 0x80);
    Write(0x2001, 0x1E);
    EXPECT_EQ(m->ppu.ppuMask, 0x1E);
}

TEST_F(PpuRegisters, SpriteMemoryWritesWrap) {
    Write(0x2003, 0xFE);
    Write(0x2004, 0xA1);
    Write(0x2004, 0xA2);
    Write(0x2004, 0xA3);
    EXPECT_EQ(m->ppu.oam[0xFE], 0xA1);
    EXPECT_EQ(m->ppu.oam[0xFF], 0xA2);
    EXPECT_EQ(m->ppu.oam[0x00], 0xA3);
    EXPECT_EQ(m->ppu.oamAddress, 1);
}

TEST_F(PpuRegisters, NameTableWritesKeepMirrorPairs) {
    m->cart.mirrorDistance = 1024;  // horizontal arrangement
    SetAddress(0x2005);
    Write(0x2007, 0x42);
    EXPECT_EQ(m->ppu.vram[0x2005], 0x42);
    EXPECT_EQ(m->ppu.vram[0x2405], 0x42);
    EXPECT_EQ(m->ppu.vram[0x2805], 0);
    SetAddress(0x2C10);
    Write(0x2007, 0x43);
    EXPECT_EQ(m->ppu.vram[0x2810], 0x43);

    m->cart.mirrorDistance = 2048;  // vertical; earlier bytes stay where they are
    SetAddress(0x2005);
    Write(0x2007, 0x44);
    EXPECT_EQ(m->ppu.vram[0x2805], 0x44);
    EXPECT_EQ(m->ppu.vram[0x2405], 0x42);
    SetAddress(0x2FFF);
    Write(0x2007, 0x45);
    EXPECT_EQ(m->ppu.vram[0x27FF], 0x45);

    // $3000-$3EFF is plain memory: no second copy.
    const auto before = m->ppu.vram;
    SetAddress(0x3005);
    Write(0x2007, 0x46);
    auto expected = before;
    expected[0x3005] = 0x46;
    EXPECT_EQ(m->ppu.vram, expected);
}

TEST_F(PpuRegisters, MirrorWriteNeverLeavesNameTables) {
    // A distance that would put the partner outside $2000-$2FFF: only the addressed byte is
    // stored, nothing outside the name tables changes and no write leaves video memory.
    for (int distance : {4096, 8192, 0x10000, 0x7FFFFFFF, -1, -1024}) {
        m->ppu.vram.fill(0);
        m->cart.mirrorDistance = distance;
        SetAddress(0x2005);
        Write(0x2007, 0x99);
        std::array<uint8_t, 16384> expected{};
        expected[0x2005] = 0x99;
        EXPECT_EQ(m->ppu.vram, expected) << "distance " << distance;
    }
}

TEST_F(PpuRegisters, PaletteWrites) {
    SetAddress(0x3F10);
    Write(0x2007, 0x0F);
    for (uint16_t a : {0x3F00, 0x3F04, 0x3F08, 0x3F0C, 0x3F10, 0x3F14, 0x3F18, 0x3F1C}) {
        EXPECT_EQ(m->ppu.vram[a], 0x0F) << std::hex << a;
    }
    EXPECT_EQ(m->ppu.vram[0x3F01], 0);
    EXPECT_TRUE(m->ppu.paletteDirty);

    m->ppu.paletteDirty = false;
    SetAddress(0x3F00);
    Write(0x2007, 0x30);  // $3F00 alone
    EXPECT_EQ(m->ppu.vram[0x3F00], 0x30);
    EXPECT_EQ(m->ppu.vram[0x3F10], 0x0F);
    EXPECT_EQ(m->ppu.vram[0x3F04], 0x0F);
    EXPECT_TRUE(m->ppu.paletteDirty);

    m->ppu.paletteDirty = false;
    SetAddress(0x3F1F);
    Write(0x2007, 0xC5);  // all eight bits are kept
    EXPECT_EQ(m->ppu.vram[0x3F1F], 0xC5);
    EXPECT_TRUE(m->ppu.paletteDirty);

    m->ppu.paletteDirty = false;
    Write(0x2007, 0x12);  // $3F20 is plain memory
    EXPECT_EQ(m->ppu.vram[0x3F20], 0x12);
    EXPECT_EQ(m->ppu.vram[0x3F00], 0x30);
    EXPECT_FALSE(m->ppu.paletteDirty);
}

TEST_F(PpuRegisters, StatusBit4BlocksDataWrites) {
    SetAddress(0x2100);
    Write(0x2002, 0x10);
    Write(0x2007, 0x55);
    Write(0x2007, 0x56);
    EXPECT_EQ(m->ppu.vram[0x2100], 0);
    EXPECT_EQ(m->ppu.vram[0x2101], 0);
    EXPECT_EQ(m->ppu.vramAddress, 0x2100);
    EXPECT_FALSE(m->ppu.firstReadPending);  // a blocked write still ends the dummy-read state

    Write(0x2002, 0x00);
    Write(0x2007, 0x57);
    EXPECT_EQ(m->ppu.vram[0x2100], 0x57);
    EXPECT_EQ(m->ppu.vramAddress, 0x2101);
}

}  // namespace
}  // namespace vexalo
