// The sprite pass draws whole sprite rows at once; here it is held against a plain drawing, pixel
// by pixel, on random sprites, patterns and frames: every size, flip, priority and position,
// including the right edge.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>

#include "machine/machine.h"
#include "machine/renderer.h"

namespace vexalo {
namespace {

// The sprites of `m` drawn over `frame` one pixel at a time, from sprite 63 down to sprite 0.
void DrawSpritesPixelByPixel(const Machine& m, FrameBuffer& frame, int first) {
    const bool tall = m.ppu.ppuControl & 0x20;
    const int height = tall ? 16 : 8;
    first = std::max(first, kFirstDrawnLine);
    for (int n = 63; n >= 0; --n) {
        const int y = m.ppu.oam[4 * n];
        const uint8_t tile = m.ppu.oam[4 * n + 1];
        const uint8_t attributes = m.ppu.oam[4 * n + 2];
        const int x = m.ppu.oam[4 * n + 3];
        const int start = tall ? (tile & 1) * 0x1000 + 32 * (tile >> 1)
                               : ((m.ppu.ppuControl & 0x08) ? 0x1000 : 0) + 16 * tile;
        for (int r = 0; r < height; ++r) {
            const int line = y + r;
            if (line < first || line >= kLastDrawnLine) continue;
            const int p = (attributes & 0x80) ? height - 1 - r : r;
            const int address = start + (p & 7) + (p >= 8 ? 16 : 0);
            for (int c = 0; c < 8; ++c) {
                const int column = x + c;
                if (column >= kScreenWidth) break;
                const int bit = (attributes & 0x40) ? c : 7 - c;
                const int colour = ((PatternByte(m, uint16_t(address)) >> bit) & 1) |
                                   (((PatternByte(m, uint16_t(address + 8)) >> bit) & 1) << 1);
                uint8_t& out = frame[line * kScreenWidth + column];
                if (colour == 0 || ((attributes & 0x20) && (out & 3))) continue;
                out = uint8_t(16 + 4 * (attributes & 3) + colour);
            }
        }
    }
}

TEST(SpritePass, DrawsWhatAPixelByPixelDrawingDraws) {
    std::mt19937 random(20261208);
    auto byte = [&random] { return uint8_t(random()); };
    for (int round = 0; round < 200; ++round) {
        SCOPED_TRACE(round);
        auto m = std::make_unique<Machine>();
        for (auto& base : m->pages.ppu) base = reinterpret_cast<uintptr_t>(m->ppu.vram.data());
        // Sparse patterns, so that transparent pixels and empty rows are common.
        for (int i = 0; i < 0x2000; ++i) m->ppu.vram[i] = byte() & byte();
        m->ppu.ppuControl = byte() & 0x28;  // sprite size and pattern table
        for (int i = 0; i < 256; ++i) {
            m->ppu.oam[i] = byte();
            if (i % 4 == 3 && round % 2) m->ppu.oam[i] |= 0xF0;  // crowd the right edge
        }
        // A background with transparent pixels, sometimes already covered by a sprite.
        for (auto& pixel : m->frame) pixel = byte() % 4 ? uint8_t(byte() & 0x1F) : 0;
        auto expected = m->frame;
        const int first = round % 3 ? kFirstDrawnLine : 1 + int(byte() % 200);
        DrawSpritesPixelByPixel(*m, expected, first);
        RenderSprites(*m, first);
        for (size_t i = 0; i < expected.size(); ++i) {
            ASSERT_EQ(int(m->frame[i]), int(expected[i]))
                << "x " << i % kScreenWidth << ", y " << i / kScreenWidth;
        }
    }
}

}  // namespace
}  // namespace vexalo
