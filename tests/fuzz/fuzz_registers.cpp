// Fuzz target: arbitrary register writes to each mapper and to the picture processor, with
// scanlines, sprite transfers and renders in between. The first bytes choose the mapper and the
// sizes of the stores; the rest is a program of (operation, address, value) triples.
#include <cstdint>
#include <initializer_list>
#include <iterator>
#include <vector>

#include "cartridge/engine.h"
#include "cartridge/mapper.h"
#include "machine/bus.h"
#include "machine/renderer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) return 0;
    vexalo::Engine engine;
    vexalo::Machine& m = engine.machine();
    m.settings.FrameRate = 1 + data[3] % 3;
    vexalo::Cartridge& cart = m.cart;
    // From no page at all to more pages than any page register reaches.
    constexpr int kPrgPages[] = {0, 1, 2, 3, 4, 8, 9, 16, 64};
    constexpr int kChrPages[] = {0, 1, 2, 3, 4, 16, 64};
    cart.prgPageCount = kPrgPages[data[1] % std::size(kPrgPages)];
    cart.chrPageCount = kChrPages[data[2] % std::size(kChrPages)];
    cart.headerFlags = data[2] & 0x0F;
    static const std::vector<int> mappers = vexalo::SupportedMappers();  // the whole table
    cart.mapperNumber = mappers[data[0] % mappers.size()];
    cart.mirrorDistance = 1024 << (cart.headerFlags & 1);
    cart.prgRom.assign(size_t(cart.prgPageCount) * 16384, 0);
    cart.chrRom.assign(size_t(cart.chrPageCount) * 8192, 0);
    for (size_t i = 0; i < cart.prgRom.size(); ++i) cart.prgRom[i] = uint8_t(i >> 8);
    for (size_t i = 0; i < cart.chrRom.size(); ++i) cart.chrRom[i] = uint8_t(i * 37);
    if (!engine.LoadBackedMemory()) return 0;

    vexalo::MachineBus bus{m};
    for (size_t i = 4; i + 2 < size; i += 3) {
        const uint8_t op = data[i];
        const uint16_t address = uint16_t((data[i + 1] << 8) | data[i + 2]);
        const uint8_t value = uint8_t(op ^ data[i + 1]);
        switch (op & 7) {
            case 0: bus.WriteByte(uint16_t(address | 0x8000), value); break;
            // Any address, as the debugger may write, through the public entry and straight to
            // the handler.
            case 1:
                vexalo::MapperWrite(m, address, value);
                if (m.mapper.write) m.mapper.write(m, address, value);
                break;
            case 2: bus.WriteByte(uint16_t(0x2000 | (address & 7)), value); break;
            case 3: bus.ReadByte(uint16_t(0x2000 | (address & 7))); break;
            case 4: vexalo::EndOfScanline(m); break;
            case 5: bus.WriteByte(0x4014, value); break;
            case 6: bus.WriteByte(address, value); break;
            default:
                for (int line = vexalo::kFirstDrawnLine; line <= vexalo::kLastDrawnLine; ++line)
                    vexalo::RenderBackgroundLine(m, line);
                vexalo::RenderSprites(m, vexalo::kFirstDrawnLine);
                vexalo::ComputeSprite0Line(m);
                break;
        }
        // Every window must still designate bytes inside its store: read them all.
        volatile uint8_t sink = 0;
        for (uint32_t a = 0x6000; a <= 0xFFFF; a += 0x3FF) sink = sink + bus.FetchByte(uint16_t(a));
        for (uint16_t a = 0; a < 0x2000; a += 0x3FF) sink = sink + vexalo::PatternByte(m, a);
    }
    return 0;
}
