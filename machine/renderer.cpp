// The scanline renderer: one background row of the frame buffer per call, all sprites once per
// frame, and the line at which the sprite-0 flag rises. Pixels are palette indices (background
// 4 x palette + colour, sprites 16 + 4 x palette + colour); colours are applied on the way out.
#include "machine/renderer.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

#include "machine/machine.h"

namespace vexalo {

namespace {

constexpr int kAttributeOffset = 0x3C0;

constexpr uint8_t kControlSpriteTable = 0x08;
constexpr uint8_t kControlBackgroundTable = 0x10;
constexpr uint8_t kControlTallSprites = 0x20;
constexpr uint8_t kMaskBackground = 0x08;

constexpr uint8_t kSpritePalette = 0x03;
constexpr uint8_t kSpriteBehind = 0x20;
constexpr uint8_t kSpriteFlipX = 0x40;
constexpr uint8_t kSpriteFlipY = 0x80;

// Byte of a 64-bit word that lands at memory offset `offset` when the word is stored.
constexpr int ByteShift(int offset) {
    return 8 * (std::endian::native == std::endian::little ? offset : 7 - offset);
}

// For each pattern byte, a word whose byte k (in memory order) is bit 7 - k of the pattern byte:
// the leftmost pixel of a tile row comes first. Mirrored, byte k is bit k (a sprite flipped
// horizontally).
constexpr std::array<uint64_t, 256> MakeSpreadTable(bool mirrored) {
    std::array<uint64_t, 256> table{};
    for (int value = 0; value < 256; ++value) {
        uint64_t word = 0;
        for (int k = 0; k < 8; ++k) {
            if (value & (mirrored ? 1 << k : 0x80 >> k)) word |= uint64_t{1} << ByteShift(k);
        }
        table[value] = word;
    }
    return table;
}

constexpr std::array<uint64_t, 256> kSpread = MakeSpreadTable(false);
constexpr std::array<uint64_t, 256> kSpreadMirrored = MakeSpreadTable(true);
constexpr uint64_t kEveryByte = 0x0101010101010101;

// 0xFF in each byte of `word` whose bits 0-1 are not both clear, 0 elsewhere.
constexpr uint64_t NonZeroColourBytes(uint64_t word) {
    return ((word | word >> 1) & kEveryByte) * 0xFF;
}

// 4 x palette in each of the eight bytes.
constexpr std::array<uint64_t, 4> kPaletteFill = {0x0000000000000000, 0x0404040404040404,
                                                  0x0808080808080808, 0x0C0C0C0C0C0C0C0C};

// Start of a sprite's pattern: 8x16 sprites take their table from bit 0 of the tile number and
// use the pair of tiles beginning at the even number.
int SpritePatternStart(uint8_t control, uint8_t tile) {
    if (control & kControlTallSprites) return (tile & 1) * 0x1000 + 32 * (tile >> 1);
    return ((control & kControlSpriteTable) ? 0x1000 : 0) + 16 * tile;
}

// Address of the plane-0 byte of pattern row p (0-15) of a sprite.
int SpriteRowAddress(int start, int p) {
    return start + (p & 7) + (p >= 8 ? 16 : 0);
}

// Draws row `y` (0-239) of name table `table` (0-3) unscrolled into the 256 pixels at `out`.
// Returns which of the four windows of the pattern table its tiles came from (bit per window).
uint8_t DrawStrip(const Machine& m, int table, int y, uint16_t patternBase, uint8_t* out) {
    const int row = y >> 3;
    const int fineY = y & 7;
    const uint8_t* names = m.ppu.vram.data() + 0x2000 + 1024 * table;
    const uint8_t* attributes = names + kAttributeOffset + 8 * (row >> 2);
    names += 32 * row;
    const int rowShift = 2 * (row & 2);
    const uintptr_t* patternPages = m.pages.ppu;
    unsigned windowsUsed = 0;
    for (int column = 0; column < 32; ++column) {
        const int palette = (attributes[column >> 2] >> ((column & 2) + rowShift)) & 3;
        const unsigned address = (patternBase + 16 * names[column] + fineY) & 0x1FFF;
        // Both planes of a tile row lie in the same 1 KB pattern window.
        const uint8_t* planes =
            reinterpret_cast<const uint8_t*>(patternPages[address >> 10] + address);
        windowsUsed |= 1u << ((address >> 10) & 3);
        const uint64_t pixels =
            kSpread[planes[0]] | (kSpread[planes[8]] << 1) | kPaletteFill[palette];
        std::memcpy(out + 8 * column, &pixels, sizeof pixels);
    }
    return static_cast<uint8_t>(windowsUsed);
}

// Makes the strip of row `y` of name table `table` in `pairRow` show what it is drawn from now:
// it is drawn again unless its tile row and the pattern bytes are those it was drawn from, in the
// windows of the pattern table (starting at `windows`) that its tiles use.
void UpdateStrip(Machine& m, const uintptr_t* windows, int table, int y, uint8_t* pairRow) {
    const PpuState& ppu = m.ppu;
    BackgroundStripKey& key = m.backgroundCache.keys[table][y];
    const uint32_t rowGeneration = ppu.nameRowGeneration[table][y >> 3];
    const uint16_t patternBase = static_cast<uint16_t>((windows - m.pages.ppu) * 1024);
    bool same = key.drawn && key.rowGeneration == rowGeneration &&
                key.patternGeneration == ppu.backgroundGeneration && key.patternBase == patternBase;
    for (int window = 0; window < 4 && same; ++window) {
        if ((key.windowsUsed >> window & 1) && key.patternPages[window] != windows[window])
            same = false;
    }
    if (same) return;
    std::copy_n(windows, 4, key.patternPages);
    key.patternGeneration = ppu.backgroundGeneration;
    key.rowGeneration = rowGeneration;
    key.patternBase = patternBase;
    key.drawn = true;
    if (table & 1) {
        key.windowsUsed = DrawStrip(m, table, y, patternBase, pairRow + 256);
    } else {
        key.windowsUsed = DrawStrip(m, table, y, patternBase, pairRow);
        std::memcpy(pairRow + 512, pairRow, 256);
    }
}

}  // namespace

void RenderBackgroundLine(Machine& m, int line) {
    if (line < kFirstDrawnLine || line > kLastDrawnLine) return;
    uint8_t* out = m.frame.data() + line * kScreenWidth;
    const PpuState& ppu = m.ppu;
    if (!(ppu.ppuMask & kMaskBackground)) {
        std::memset(out, 0, kScreenWidth);
        return;
    }
    const uintptr_t* windows = m.pages.ppu + ((ppu.ppuControl & kControlBackgroundTable) ? 4 : 0);

    // The line runs from the scrolled column to the right edge of its name table, then on in the
    // table to the right; a scroll beyond the bottom continues in the table below.
    int table = ppu.ppuControl & 3;
    int y = line + ppu.scrollY;
    if (y >= BackgroundCache::kRows) {
        y -= BackgroundCache::kRows;
        table ^= 2;
    }
    uint8_t* pairRow = m.backgroundCache.pairRows[table >> 1][y].data();
    UpdateStrip(m, windows, table, y, pairRow);
    if (ppu.scrollX != 0) UpdateStrip(m, windows, table ^ 1, y, pairRow);
    std::memcpy(out, pairRow + 256 * (table & 1) + ppu.scrollX, kScreenWidth);
}

void RenderSprites(Machine& m, int first) {
    const PpuState& ppu = m.ppu;
    const int height = (ppu.ppuControl & kControlTallSprites) ? 16 : 8;
    // Rows above the first drawn line, and rows from 231 on, are never written.
    first = std::max(first, kFirstDrawnLine);
    constexpr int kEnd = kLastDrawnLine;

    for (int n = 63; n >= 0; --n) {
        const int spriteY = ppu.oam[4 * n];
        const uint8_t tile = ppu.oam[4 * n + 1];
        const uint8_t attributes = ppu.oam[4 * n + 2];
        const int spriteX = ppu.oam[4 * n + 3];
        if (spriteY >= kEnd) continue;

        const int start = SpritePatternStart(ppu.ppuControl, tile);
        const int colourBase = 16 + 4 * (attributes & kSpritePalette);
        const int firstRow = std::max(0, first - spriteY);
        const int endRow = std::min(height, kEnd - spriteY);
        for (int r = firstRow; r < endRow; ++r) {
            const int p = (attributes & kSpriteFlipY) ? height - 1 - r : r;
            const uint16_t address = static_cast<uint16_t>(SpriteRowAddress(start, p));
            const uint8_t low = PatternByte(m, address);
            const uint8_t high = PatternByte(m, address + 8);
            if ((low | high) == 0) continue;
            uint8_t* out = m.frame.data() + (spriteY + r) * kScreenWidth;
            if (spriteX <= kScreenWidth - 8) {
                // The whole row at once: the eight colours in one word, merged where they are
                // not transparent (and, behind the background, where the frame's pixel is).
                const auto& spread = (attributes & kSpriteFlipX) ? kSpreadMirrored : kSpread;
                const uint64_t colours = spread[low] | spread[high] << 1;
                uint64_t pixels;
                std::memcpy(&pixels, out + spriteX, sizeof pixels);
                uint64_t drawn = NonZeroColourBytes(colours);
                if (attributes & kSpriteBehind) drawn &= ~NonZeroColourBytes(pixels);
                pixels = (pixels & ~drawn) | ((colours + kEveryByte * colourBase) & drawn);
                std::memcpy(out + spriteX, &pixels, sizeof pixels);
                continue;
            }
            // Near the right edge, pixel by pixel.
            for (int b = 7; b >= 0; --b) {
                const int colour = ((low >> b) & 1) | (((high >> b) & 1) << 1);
                if (colour == 0) continue;
                const int column = (attributes & kSpriteFlipX) ? spriteX + b : spriteX + 7 - b;
                if (column >= kScreenWidth) continue;
                // Behind the background: only where the background is transparent, whatever
                // sprite may already be drawn there.
                if ((attributes & kSpriteBehind) && (out[column] & 3) != 0) continue;
                out[column] = static_cast<uint8_t>(colourBase + colour);
            }
        }
    }
}

void ComputeSprite0Line(Machine& m) {
    const PpuState& ppu = m.ppu;
    const int height = (ppu.ppuControl & kControlTallSprites) ? 16 : 8;
    const int spriteY = ppu.oam[0];
    const int start = SpritePatternStart(ppu.ppuControl, ppu.oam[1]);
    m.sprite0Line = spriteY;
    for (int r = 0; r < height; ++r) {
        const uint16_t address = static_cast<uint16_t>(SpriteRowAddress(start, r));
        if (PatternByte(m, address) | PatternByte(m, address + 8)) m.sprite0Line = spriteY + r + 1;
    }
}

}  // namespace vexalo
