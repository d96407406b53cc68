// The scanline renderer: background rows, the once-per-frame sprite pass and the sprite-0 line.
#include <gtest/gtest.h>

#include <memory>
#include <random>

#include "machine/machine.h"
#include "machine/ppu.h"
#include "machine/renderer.h"

namespace vexalo {
namespace {

constexpr uint8_t kUntouched = 0xEE;  // a value no drawing produces

class Renderer : public ::testing::Test {
   protected:
    void SetUp() override {
        m = std::make_unique<Machine>();
        for (auto& base : m->pages.ppu) base = reinterpret_cast<uintptr_t>(m->ppu.vram.data());
        m->ppu.ppuMask = 0x18;  // background and sprites on
        m->frame.fill(kUntouched);
    }

    // One row of tile `tile` in pattern RAM (table at `base`).
    void SetTileRow(int base, int tile, int row, uint8_t low, uint8_t high) {
        m->ppu.vram[base + 16 * tile + row] = low;
        m->ppu.vram[base + 16 * tile + row + 8] = high;
    }
    void SetTile(int base, int tile, uint8_t low, uint8_t high) {
        for (int row = 0; row < 8; ++row) SetTileRow(base, tile, row, low, high);
    }
    uint8_t Pixel(int x, int y) const { return m->frame[y * kScreenWidth + x]; }
    void SetPixel(int x, int y, uint8_t v) { m->frame[y * kScreenWidth + x] = v; }
    void SetSprite(int n, uint8_t y, uint8_t tile, uint8_t attributes, uint8_t x) {
        m->ppu.oam[4 * n] = y;
        m->ppu.oam[4 * n + 1] = tile;
        m->ppu.oam[4 * n + 2] = attributes;
        m->ppu.oam[4 * n + 3] = x;
    }
    // Moves every sprite off the picture.
    void HideSprites() {
        for (int n = 0; n < 64; ++n) SetSprite(n, 0xF0, 0, 0, 0);
    }

    std::unique_ptr<Machine> m;
};

// ---- Background --------------------------------------------------------------------------------

TEST_F(Renderer, BackgroundOffClearsRow) {
    m->ppu.ppuMask = 0x10;
    SetTile(0, 0, 0xFF, 0xFF);  // would draw colour 3 everywhere
    RenderBackgroundLine(*m, 8);
    RenderBackgroundLine(*m, 231);
    for (int x = 0; x < kScreenWidth; ++x) {
        ASSERT_EQ(Pixel(x, 8), 0);
        ASSERT_EQ(Pixel(x, 231), 0);
        ASSERT_EQ(Pixel(x, 9), kUntouched);
    }
}

TEST_F(Renderer, BackgroundTilePixelsLeftToRight) {
    // Plane 0 gives bit 0 of the colour, plane 1 bit 1, leftmost pixel in bit 7.
    SetTileRow(0, 0, 0, 0b10100101, 0b01100011);
    RenderBackgroundLine(*m, 8);  // scroll 0: line 8 is tile row 1, pixel row 0
    const uint8_t expected[8] = {1, 2, 3, 0, 0, 1, 2, 3};
    for (int x = 0; x < 8; ++x) EXPECT_EQ(Pixel(x, 8), expected[x]) << x;
    // Every tile of the row uses tile 0 here.
    for (int x = 8; x < kScreenWidth; ++x) ASSERT_EQ(Pixel(x, 8), expected[x & 7]) << x;
    // Only the requested row is drawn.
    EXPECT_EQ(Pixel(0, 7), kUntouched);
    EXPECT_EQ(Pixel(0, 9), kUntouched);
}

TEST_F(Renderer, FineHorizontalScrollAndWrapToTheRightTable) {
    // Row 1 of $2000: tile 1 in column 0, tile 3 in column 1; $2400 column 0: tile 2.
    SetTile(0, 1, 0b00011111, 0b00001111);  // pixels 0-7: 0 0 0 1 3 3 3 3
    SetTile(0, 2, 0b10100000, 0b01100000);  // pixels 0-2: 1 2 3
    SetTile(0, 3, 0b11000000, 0b11000000);  // pixels 0-1: 3 3
    m->ppu.vram[0x2000 + 32] = 1;
    m->ppu.vram[0x2000 + 33] = 3;
    m->ppu.vram[0x2400 + 32] = 2;
    m->ppu.scrollX = 3;
    RenderBackgroundLine(*m, 8);
    // The first three pixels of the first tile fall left of the row.
    const uint8_t left[7] = {1, 3, 3, 3, 3, 3, 3};
    for (int x = 0; x < 7; ++x) EXPECT_EQ(Pixel(x, 8), left[x]) << x;
    // The 33rd tile, column 0 of the table to the right, fills the last three columns.
    EXPECT_EQ(Pixel(253, 8), 1);
    EXPECT_EQ(Pixel(254, 8), 2);
    EXPECT_EQ(Pixel(255, 8), 3);
    EXPECT_EQ(Pixel(252, 8), 0);

    // From the right-hand table, the row wraps back into the left one.
    m->ppu.ppuControl = 1;
    m->ppu.scrollX = 0xF8 + 3;                     // column 31 of $2400, then column 0 of $2000
    PpuWriteVideoMemory(*m, 0x2400 + 32 + 31, 1);  // after a line was drawn from that row
    RenderBackgroundLine(*m, 8);
    for (int x = 0; x < 5; ++x) EXPECT_EQ(Pixel(x, 8), left[x]) << x;  // pixels 3-7 of tile 1
    // Then column 0 of $2000 (tile 1 again), not column 0 of $2400 (tile 2).
    EXPECT_EQ(Pixel(5, 8), 0);
    EXPECT_EQ(Pixel(7, 8), 0);
    EXPECT_EQ(Pixel(8, 8), 1);
    EXPECT_EQ(Pixel(9, 8), 3);
}

TEST_F(Renderer, VerticalScrollContinuesInTableBelow) {
    // scrollY 239 at line 231: y = 470, fine row 6, row 58 becomes row 28 of $2800.
    SetTileRow(0, 4, 6, 0xFF, 0x00);  // tile 4, row 6: colour 1
    SetTileRow(0, 5, 6, 0x00, 0xFF);  // tile 5, row 6: colour 2
    m->ppu.vram[0x2800 + 32 * 28] = 4;
    m->ppu.vram[0x2000 + 32 * 28] = 5;  // not this one
    m->ppu.scrollY = 239;
    RenderBackgroundLine(*m, 231);
    EXPECT_EQ(Pixel(0, 231), 1);
    EXPECT_EQ(Pixel(8, 231), 0);

    // Starting in $2400, the table below is $2C00.
    m->ppu.ppuControl = 1;
    m->ppu.vram[0x2C00 + 32 * 28 + 1] = 5;
    RenderBackgroundLine(*m, 231);
    EXPECT_EQ(Pixel(0, 231), 0);
    EXPECT_EQ(Pixel(8, 231), 2);
}

TEST_F(Renderer, AttributeQuadrantsSelectPalettes) {
    SetTile(0, 0, 0xFF, 0x00);  // solid colour 1 everywhere
    // $23C0 covers columns 0-3, rows 0-3: top-left 0, top-right 1, bottom-left 2, bottom-right 3.
    m->ppu.vram[0x23C0] = 0b11'10'01'00;
    m->ppu.vram[0x23C1] = 0b00'00'00'10;  // columns 4-7, top-left: palette 2
    m->ppu.vram[0x23C8] = 0b00'00'00'11;  // rows 4-7, columns 0-1: palette 3
    RenderBackgroundLine(*m, 8);          // row 1
    EXPECT_EQ(Pixel(0, 8), 4 * 0 + 1);
    EXPECT_EQ(Pixel(15, 8), 4 * 0 + 1);
    EXPECT_EQ(Pixel(16, 8), 4 * 1 + 1);
    EXPECT_EQ(Pixel(31, 8), 4 * 1 + 1);
    EXPECT_EQ(Pixel(32, 8), 4 * 2 + 1);
    RenderBackgroundLine(*m, 16);  // row 2
    EXPECT_EQ(Pixel(0, 16), 4 * 2 + 1);
    EXPECT_EQ(Pixel(16, 16), 4 * 3 + 1);
    RenderBackgroundLine(*m, 32);  // row 4
    EXPECT_EQ(Pixel(0, 32), 4 * 3 + 1);
    EXPECT_EQ(Pixel(16, 32), 4 * 0 + 1);
}

TEST_F(Renderer, BackgroundPatternTableFromControlBit4) {
    SetTile(0x0000, 0, 0xFF, 0x00);
    SetTile(0x1000, 0, 0x00, 0xFF);
    m->ppu.ppuControl = 0x10;
    RenderBackgroundLine(*m, 8);
    EXPECT_EQ(Pixel(0, 8), 2);
}

TEST_F(Renderer, LinesOutsideTheDrawnRowsAreNotWritten) {
    SetTile(0, 0, 0xFF, 0xFF);
    for (int line : {-1, 0, 7, 232, 239, 240, 100000}) RenderBackgroundLine(*m, line);
    for (uint8_t v : m->frame) ASSERT_EQ(v, kUntouched);
}

// A row whose inputs have not changed is copied from the previous drawing; any change of what it
// is drawn from draws it again.
TEST_F(Renderer, RowsAreDrawnAgainExactlyWhenWhatTheyShowChanges) {
    SetTile(0, 1, 0xFF, 0x00);     // tile 1: colour 1
    SetTile(0, 2, 0x00, 0xFF);     // tile 2: colour 2
    m->ppu.vram[0x2000 + 32] = 1;  // row 1, column 0
    RenderBackgroundLine(*m, 8);
    ASSERT_EQ(Pixel(0, 8), 1);

    SetPixel(0, 8, 0x1F);  // a sprite drawn over the row
    RenderBackgroundLine(*m, 8);
    EXPECT_EQ(Pixel(0, 8), 1);

    // A name-table byte written through the data port, and through its mirror.
    m->cart.mirrorDistance = 1024;
    PpuWriteRegister(*m, 0x2006, 0x24);
    PpuWriteRegister(*m, 0x2006, 0x20);
    PpuWriteRegister(*m, 0x2007, 2);  // $2420 mirrors to $2020
    RenderBackgroundLine(*m, 8);
    EXPECT_EQ(Pixel(0, 8), 2);

    // Pattern RAM written through the data port.
    PpuWriteRegister(*m, 0x2006, 0x00);
    PpuWriteRegister(*m, 0x2006, 0x28);  // tile 2, plane 1, row 0
    PpuWriteRegister(*m, 0x2007, 0x7F);
    RenderBackgroundLine(*m, 8);
    EXPECT_EQ(Pixel(0, 8), 0);
    EXPECT_EQ(Pixel(1, 8), 2);

    // Another bank in the first pattern window.
    alignas(8) static std::array<uint8_t, 1024> bank{};
    bank.fill(0);
    for (int r = 0; r < 8; ++r) bank[16 * 2 + r] = 0xFF;  // tile 2 now colour 1
    m->pages.ppu[0] = reinterpret_cast<uintptr_t>(bank.data());
    RenderBackgroundLine(*m, 8);
    EXPECT_EQ(Pixel(0, 8), 1);

    // Scroll and control changes.
    m->ppu.scrollX = 8;
    RenderBackgroundLine(*m, 8);
    EXPECT_EQ(Pixel(0, 8), 0);
    m->ppu.scrollX = 0;
    m->ppu.ppuControl = 1;  // the table at $2400 holds tile 2 at row 1, column 0
    RenderBackgroundLine(*m, 8);
    EXPECT_EQ(Pixel(0, 8), 1);
}

// A memory edit (the debugger's) goes through the same writer as the data port, so the row
// cache draws the edited byte; the port's address does not move.
TEST_F(Renderer, VideoMemoryEditsAreDrawn) {
    SetTile(0, 1, 0xFF, 0x00);  // tile 1: colour 1
    m->cart.mirrorDistance = 2048;
    RenderBackgroundLine(*m, 8);
    ASSERT_EQ(Pixel(0, 8), 0);
    m->ppu.vramAddress = 0x1234;
    PpuWriteVideoMemory(*m, 0x2820, 1);  // row 1, column 0 through the vertical mirror
    EXPECT_EQ(m->ppu.vram[0x2020], 1);
    EXPECT_EQ(m->ppu.vramAddress, 0x1234);
    RenderBackgroundLine(*m, 8);
    EXPECT_EQ(Pixel(0, 8), 1);
    PpuWriteVideoMemory(*m, 0x0010 + 8, 0xFF);  // tile 1, plane 1: colour 3
    RenderBackgroundLine(*m, 8);
    EXPECT_EQ(Pixel(0, 8), 3);
    PpuClearVideoMemory(*m);
    RenderBackgroundLine(*m, 8);
    EXPECT_EQ(Pixel(0, 8), 0);
    EXPECT_TRUE(m->ppu.paletteDirty);
}

// ---- Sprites ---------------------------------------------------------------------------------

TEST_F(Renderer, SpriteRowsAreClippedToTheDrawnArea) {
    SetTile(0, 1, 0xFF, 0x00);  // solid colour 1
    HideSprites();
    SetSprite(0, 0, 1, 0, 40);  // Y = 0: rows 0-7 lie above line 8
    RenderSprites(*m, 8);
    for (uint8_t v : m->frame) ASSERT_EQ(v, kUntouched);

    SetSprite(0, 228, 1, 0, 40);  // rows 228-230 only
    RenderSprites(*m, 8);
    EXPECT_EQ(Pixel(40, 227), kUntouched);
    for (int y = 228; y <= 230; ++y) EXPECT_EQ(Pixel(40, y), 17) << y;
    EXPECT_EQ(Pixel(40, 231), kUntouched);

    m->frame.fill(kUntouched);
    SetSprite(0, 4, 1, 0, 40);  // starts above line 8: rows 8-11 only
    RenderSprites(*m, 8);
    EXPECT_EQ(Pixel(40, 7), kUntouched);
    for (int y = 8; y <= 11; ++y) EXPECT_EQ(Pixel(40, y), 17) << y;
    EXPECT_EQ(Pixel(40, 12), kUntouched);

    m->frame.fill(kUntouched);
    SetSprite(0, 231, 1, 0, 40);  // Y of 231 or more: skipped
    SetSprite(1, 255, 1, 0, 40);
    RenderSprites(*m, 8);
    for (uint8_t v : m->frame) ASSERT_EQ(v, kUntouched);

    SetSprite(0, 100, 1, 0, 250);  // columns 250-255 only, nothing wraps into the next row
    RenderSprites(*m, 8);
    EXPECT_EQ(Pixel(249, 100), kUntouched);
    for (int x = 250; x < 256; ++x) EXPECT_EQ(Pixel(x, 100), 17) << x;
    for (int x = 0; x < 8; ++x) EXPECT_EQ(Pixel(x, 101 + 0), kUntouched) << x;
    EXPECT_EQ(Pixel(0, 108), kUntouched);  // below the sprite's last row

    // A first line below 8 is still held to the drawn rows.
    m->frame.fill(kUntouched);
    SetSprite(0, 2, 1, 0, 40);
    RenderSprites(*m, 0);
    EXPECT_EQ(Pixel(40, 7), kUntouched);
    EXPECT_EQ(Pixel(40, 8), 17);
}

TEST_F(Renderer, SpriteColoursPalettesAndTables) {
    HideSprites();
    SetTileRow(0x0000, 2, 0, 0b10100000, 0b01100000);  // 1 2 3 0 ...
    SetTileRow(0x1000, 2, 0, 0b10000000, 0b10000000);  // 3 0 ...
    SetSprite(0, 50, 2, 0x02, 10);                     // palette 2
    RenderSprites(*m, 8);
    EXPECT_EQ(Pixel(10, 50), 16 + 8 + 1);
    EXPECT_EQ(Pixel(11, 50), 16 + 8 + 2);
    EXPECT_EQ(Pixel(12, 50), 16 + 8 + 3);
    EXPECT_EQ(Pixel(13, 50), kUntouched);  // colour 0 is transparent

    m->frame.fill(kUntouched);
    m->ppu.ppuControl = 0x08;  // 8x8 sprites from $1000
    RenderSprites(*m, 8);
    EXPECT_EQ(Pixel(10, 50), 16 + 8 + 3);
    EXPECT_EQ(Pixel(11, 50), kUntouched);
}

TEST_F(Renderer, SpriteFlips) {
    HideSprites();
    SetTileRow(0, 1, 0, 0x80, 0x00);  // top-left pixel, colour 1
    SetSprite(0, 60, 1, 0x40, 100);   // horizontal flip: top-right
    RenderSprites(*m, 8);
    EXPECT_EQ(Pixel(107, 60), 17);
    EXPECT_EQ(Pixel(100, 60), kUntouched);

    m->frame.fill(kUntouched);
    SetSprite(0, 60, 1, 0x80, 100);  // vertical flip: bottom-left
    RenderSprites(*m, 8);
    EXPECT_EQ(Pixel(100, 67), 17);
    EXPECT_EQ(Pixel(100, 60), kUntouched);

    // 8x16, tile 5: odd, so the pair 4/5 of $1000. The bottom tile's last row appears on top.
    m->frame.fill(kUntouched);
    m->ppu.ppuControl = 0x20;
    SetTileRow(0x1000, 5, 7, 0x01, 0x01);  // bottom tile, last row, rightmost pixel: colour 3
    SetTileRow(0x1000, 4, 0, 0x80, 0x00);  // top tile, first row, leftmost pixel: colour 1
    SetSprite(0, 60, 5, 0x80, 100);
    RenderSprites(*m, 8);
    EXPECT_EQ(Pixel(107, 60), 16 + 3);
    EXPECT_EQ(Pixel(100, 75), 16 + 1);
    int drawn = 0;
    for (uint8_t v : m->frame) drawn += v != kUntouched;
    EXPECT_EQ(drawn, 2);

    // Unflipped, the same sprite has them the other way round.
    m->frame.fill(kUntouched);
    SetSprite(0, 60, 5, 0x00, 100);
    RenderSprites(*m, 8);
    EXPECT_EQ(Pixel(100, 60), 16 + 1);
    EXPECT_EQ(Pixel(107, 75), 16 + 3);
}

TEST_F(Renderer, BehindBackgroundAndSpriteOrder) {
    HideSprites();
    SetTile(0, 1, 0xFF, 0x00);  // solid colour 1
    SetTile(0, 2, 0x00, 0xFF);  // solid colour 2
    // Background under the sprite: colour 0 of palettes 0-3, then colours 1-3 and 5.
    const uint8_t background[8] = {0, 4, 8, 12, 1, 2, 3, 5};
    for (int x = 0; x < 8; ++x) SetPixel(80 + x, 90, background[x]);
    SetSprite(5, 90, 1, 0x20 | 0x01, 80);  // behind, palette 1
    RenderSprites(*m, 8);
    for (int x = 0; x < 4; ++x) EXPECT_EQ(Pixel(80 + x, 90), 16 + 4 + 1) << x;
    for (int x = 4; x < 8; ++x) EXPECT_EQ(Pixel(80 + x, 90), background[x]) << x;

    // Overlapping sprites: the lower number covers the higher one.
    m->frame.fill(0);
    SetSprite(5, 90, 1, 0x00, 80);
    SetSprite(3, 90, 2, 0x03, 84);
    RenderSprites(*m, 8);
    EXPECT_EQ(Pixel(83, 90), 16 + 1);
    EXPECT_EQ(Pixel(84, 90), 16 + 12 + 2);
    EXPECT_EQ(Pixel(87, 90), 16 + 12 + 2);

    // A behind-background sprite does not cover another sprite's pixel either.
    m->frame.fill(0);
    SetSprite(3, 90, 2, 0x20 | 0x03, 84);
    RenderSprites(*m, 8);
    EXPECT_EQ(Pixel(84, 90), 16 + 1);
    EXPECT_EQ(Pixel(88, 90), 16 + 12 + 2);
}

// ---- Sprite-0 line -----------------------------------------------------------------------------

TEST_F(Renderer, Sprite0LineFollowsLastOpaqueRow) {
    SetSprite(0, 100, 1, 0, 0);
    ComputeSprite0Line(*m);
    EXPECT_EQ(m->sprite0Line, 100);  // no opaque row

    SetTileRow(0, 1, 0, 0x01, 0x00);
    ComputeSprite0Line(*m);
    EXPECT_EQ(m->sprite0Line, 101);

    SetTileRow(0, 1, 5, 0x00, 0x10);  // plane 1 alone counts as well
    ComputeSprite0Line(*m);
    EXPECT_EQ(m->sprite0Line, 106);

    // Flips and position change nothing.
    SetSprite(0, 100, 1, 0xC0, 250);
    ComputeSprite0Line(*m);
    EXPECT_EQ(m->sprite0Line, 106);

    // 8x8 table from control bit 3.
    m->ppu.ppuControl = 0x08;
    ComputeSprite0Line(*m);
    EXPECT_EQ(m->sprite0Line, 100);
    SetTileRow(0x1000, 1, 7, 0x80, 0x00);
    ComputeSprite0Line(*m);
    EXPECT_EQ(m->sprite0Line, 108);

    // 8x16: rows 8-15 come from the next tile; tile 7 is the pair 6/7 of $1000.
    m->ppu.ppuControl = 0x20;
    SetSprite(0, 200, 7, 0, 0);
    ComputeSprite0Line(*m);
    EXPECT_EQ(m->sprite0Line, 200);
    SetTileRow(0x1000, 6, 2, 0x04, 0x00);
    ComputeSprite0Line(*m);
    EXPECT_EQ(m->sprite0Line, 203);
    SetTileRow(0x1000, 7, 7, 0x00, 0x04);
    ComputeSprite0Line(*m);
    EXPECT_EQ(m->sprite0Line, 216);
}

// ---- Against a plain model -------------------------------------------------------------------

// The background row as a bit-by-bit loop over 33 tiles.
void ModelBackgroundLine(const Machine& m, int line, uint8_t* row) {
    const PpuState& p = m.ppu;
    if (!(p.ppuMask & 0x08)) {
        for (int x = 0; x < 256; ++x) row[x] = 0;
        return;
    }
    const int base = (p.ppuControl & 0x10) ? 0x1000 : 0;
    int y = line + p.scrollY;
    int fineY = y & 7, tileRow = y >> 3;
    int table = 0x2000 + 1024 * (p.ppuControl & 3);
    if (tileRow >= 30) {
        tileRow -= 30;
        table ^= 0x800;
    }
    int x = -(p.scrollX & 7), column = p.scrollX >> 3;
    for (int t = 0; t < 33; ++t) {
        int attribute = p.vram[table + 0x3C0 + (column >> 2) + 8 * (tileRow >> 2)];
        int palette = (attribute >> ((column & 2) + 2 * (tileRow & 2))) & 3;
        int tile = p.vram[table + 32 * tileRow + column];
        int address = base + 16 * tile + fineY;
        // Through the pattern windows, as the picture processor fetches them.
        int low = PatternByte(m, address), high = PatternByte(m, address + 8);
        for (int k = 0; k < 8; ++k) {
            int colour = ((low >> (7 - k)) & 1) + 2 * ((high >> (7 - k)) & 1);
            if (x + k >= 0 && x + k < 256) row[x + k] = static_cast<uint8_t>(4 * palette + colour);
        }
        if (++column == 32) {
            column = 0;
            table ^= 0x400;
        }
        x += 8;
    }
}

// Draws `line` and compares it with the plain model, pixel by pixel.
void ExpectModelLine(Machine& m, int line) {
    uint8_t expected[256];
    ModelBackgroundLine(m, line, expected);
    RenderBackgroundLine(m, line);
    for (int x = 0; x < 256; ++x) {
        ASSERT_EQ(m.frame[line * kScreenWidth + x], expected[x]) << "line " << line << " x " << x;
    }
}

TEST_F(Renderer, BackgroundMatchesPlainModelForRandomScreens) {
    std::mt19937 random(20240607);
    std::uniform_int_distribution<int> byte(0, 255);
    for (int round = 0; round < 40; ++round) {
        for (int a = 0; a < 0x3000; ++a) m->ppu.vram[a] = static_cast<uint8_t>(byte(random));
        ++m->ppu.backgroundGeneration;  // written behind the data port's back
        m->ppu.ppuControl = static_cast<uint8_t>(byte(random));
        m->ppu.ppuMask = round == 0 ? 0x00 : 0x08;
        m->ppu.scrollX = static_cast<uint8_t>(byte(random));
        m->ppu.scrollY = static_cast<uint8_t>(byte(random) % 240);
        for (int line = kFirstDrawnLine; line <= kLastDrawnLine; ++line) {
            ASSERT_NO_FATAL_FAILURE(ExpectModelLine(*m, line)) << "round " << round;
        }
    }
}

// Strips drawn once are reused across frames: after any mix of single-byte writes (tiles,
// attributes, patterns, through either mirror), scroll and table changes and bank switches, every
// line still shows what the plain model draws from video memory as it is now.
TEST_F(Renderer, ReusedStripsFollowEveryChange) {
    std::mt19937 random(20261208);
    std::uniform_int_distribution<int> byte(0, 255);
    for (int a = 0; a < 0x3000; ++a) m->ppu.vram[a] = static_cast<uint8_t>(byte(random));
    ++m->ppu.backgroundGeneration;
    alignas(8) static std::array<uint8_t, 4096> bank{};
    for (auto& b : bank) b = static_cast<uint8_t>(byte(random));
    for (int frame = 0; frame < 200; ++frame) {
        const int writes = byte(random) % 24;
        for (int w = 0; w < writes; ++w) {
            const int kind = byte(random) % 8;
            // Mostly name tables and attributes, sometimes a pattern byte.
            const int address = kind == 0  ? byte(random) * 32 + byte(random) % 32
                                : kind < 4 ? 0x23C0 + 0x400 * (byte(random) % 8) + byte(random) % 64
                                           : 0x2000 + byte(random) * 16 + byte(random) % 16;
            PpuWriteVideoMemory(*m, static_cast<uint16_t>(address),
                                static_cast<uint8_t>(byte(random)));
        }
        if (frame % 7 == 0) m->cart.mirrorDistance = (byte(random) & 1) ? 1024 : 2048;
        if (frame % 5 == 0) m->ppu.ppuControl = static_cast<uint8_t>(byte(random));
        if (frame % 3 == 1) {
            // One pattern window from the bank, or back on pattern RAM.
            const int window = byte(random) % 8;
            m->pages.ppu[window] = (byte(random) & 1)
                                       ? reinterpret_cast<uintptr_t>(bank.data()) - 1024 * window
                                       : reinterpret_cast<uintptr_t>(m->ppu.vram.data());
        }
        m->ppu.scrollX = static_cast<uint8_t>(m->ppu.scrollX + byte(random) % 4);
        if (frame % 3 == 0) m->ppu.scrollY = static_cast<uint8_t>(byte(random) % 240);
        for (int line = kFirstDrawnLine; line <= kLastDrawnLine; ++line) {
            // A status bar: the last lines from the first table, unscrolled.
            if (line == 200) {
                m->ppu.ppuControl &= 0xFC;
                m->ppu.scrollX = 0;
            }
            ASSERT_NO_FATAL_FAILURE(ExpectModelLine(*m, line)) << "frame " << frame;
        }
    }
}

}  // namespace
}  // namespace vexalo
