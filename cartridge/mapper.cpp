// Bank switching. Every bank-switch operation rewrites page-table bases; a window always
// designates a whole window's worth of bytes inside one store, because page numbers past the end
// of a store wrap modulo the store's size and an empty store is replaced by the machine's empty
// page. The mappers' write handlers and scanline hooks are plain functions chosen once by
// MapperSetup from the one table of mappers.
#include "cartridge/mapper.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "machine/machine.h"
#include "machine/ppu.h"

namespace vexalo {

namespace {

constexpr int kPrgWindowSize = 8192;   // one CPU window
constexpr int kChrWindowSize = 1024;   // one pattern window
constexpr int kPatternRamSize = 8192;  // pattern RAM at the start of vram when there is no CHR-ROM

struct Store {
    uint8_t* data;
    size_t size;
};

// The CHR store of the current cartridge, chosen anew at each call.
Store ChrStore(Machine& m) {
    if (m.cart.chrPageCount > 0) return {m.cart.chrRom.data(), m.cart.chrRom.size()};
    return {m.ppu.vram.data(), kPatternRamSize};
}

// Base such that base + address reads the store's `unit`-sized block number `block` (wrapped
// modulo the number of whole blocks in the store) for addresses from `windowStart`.
uintptr_t WindowBase(Machine& m, Store store, int64_t block, int unit, uint16_t windowStart) {
    const int64_t blocks = static_cast<int64_t>(store.size / static_cast<size_t>(unit));
    const uint8_t* start = m.emptyPage.data();  // an empty store reads as zeros
    if (blocks > 0) {
        int64_t wrapped = block % blocks;
        if (wrapped < 0) wrapped += blocks;
        start = store.data + wrapped * unit;
    }
    return reinterpret_cast<uintptr_t>(start) - windowStart;
}

void SetPrgWindow(Machine& m, uint16_t window, int64_t page8k) {
    const Store prg{m.cart.prgRom.data(), m.cart.prgRom.size()};
    const uint16_t start = window & 0xE000;
    m.pages.SetCpu(start >> 13, WindowBase(m, prg, page8k, kPrgWindowSize, start));
}

void SetChrWindow(Machine& m, uint16_t window, int64_t page1k) {
    const uint16_t start = window & 0x1C00;
    m.pages.ppu[start >> 10] = WindowBase(m, ChrStore(m), page1k, kChrWindowSize, start);
}

// ---- Mapper 0 ("No Mapper"): writes are ignored.

void WriteNoMapper(Machine&, uint16_t, uint8_t) {}

// ---- Mapper 2 ("74HC161/74HC32"): the whole value selects the 16 KB page at $8000.

void WriteMapper2(Machine& m, uint16_t, uint8_t value) {
    SwitchPrg16K(m, 0x8000, value);
}

// ---- Mapper 3 ("VROM Switch"): the value, masked, selects the 8 KB CHR page.

void WriteMapper3(Machine& m, uint16_t, uint8_t value) {
    SwitchChr8K(m, value & m.mapper.chrBankMask);
}

// ---- Mapper 7 ("Rom Switch"): bit 4 picks the mirror distance, bits 0-3 the 32 KB page.

void WriteMapper7(Machine& m, uint16_t, uint8_t value) {
    m.cart.mirrorDistance = 1024 << (value >> 4);
    SwitchPrg32K(m, value & 15);
}

// ---- Mapper 8 ("FFE F3xxxx"): bits 3-7 the 16 KB page at $8000, bits 0-2 the CHR page.

void WriteMapper8(Machine& m, uint16_t, uint8_t value) {
    SwitchPrg16K(m, 0x8000, value >> 3);
    SwitchChr8K(m, value & 7);
}

// ---- Mapper 11 ("Color Dreams Mapper"): bits 0, 2 and 4 select the 32 KB page.

void WriteMapper11(Machine& m, uint16_t, uint8_t value) {
    SwitchPrg32K(m, value & 0x15);
}

// ---- Mapper 15 ("100-in-1"): five registers at exact addresses.

int MirrorBitFromBit6(uint8_t value) {
    return 1 - ((value >> 6) & 1);
}

void WriteMapper15(Machine& m, uint16_t address, uint8_t value) {
    switch (address) {
        case 0x8000: {
            SetMirroring(m, MirrorBitFromBit6(value));
            const int p = value & 0x3F;
            SwitchPrg16K(m, 0x8000, p);
            SwitchPrg16K(m, 0xC000, p + 1);
            break;
        }
        case 0x8001: SwitchPrg16K(m, 0xC000, value & 0x3F); break;
        case 0x8002: {
            const uint8_t q = static_cast<uint8_t>((value << 1) | (value >> 7));
            SwitchPrg8K(m, 0x8000, q);
            SwitchPrg8K(m, 0xA000, q);
            SwitchPrg8K(m, 0xC000, q);
            SwitchPrg8K(m, 0xE000, q);
            break;
        }
        case 0x8003:
            SetMirroring(m, MirrorBitFromBit6(value));
            SwitchPrg16K(m, 0xC000, value & 0x3F);
            break;
        case 0xF001:
            if (value & 0x80) {
                const int p = value & 0x3F;
                SwitchPrg8K(m, 0xC000, p * 2 + 1);
                SwitchPrg8K(m, 0xE000, p * 2);
            } else {
                SwitchPrg16K(m, 0xC000, value);
            }
            break;
        default: break;
    }
}

// ---- Mapper 1 ("Nintendo MMC1"): five serial writes, low bit first, complete a register.

void WriteMmc1(Machine& m, uint16_t address, uint8_t value) {
    MapperState& s = m.mapper;
    // The chip ignores a write on the cycle right after another, so a read-modify-write reaches
    // the serial port with its first write only (INC on a byte holding $FF resets it).
    if (m.writeFollowsWrite) return;
    if (value & 0x80) {
        s.mmc1Shift = 0;
        s.mmc1ShiftCount = 0;
        s.mmc1Reg[0] |= 0x0C;
        return;
    }
    s.mmc1Shift |= static_cast<uint8_t>((value & 1) << s.mmc1ShiftCount);
    if (++s.mmc1ShiftCount < 5) return;

    const int r = (address >> 13) & 3;  // $8000, $A000, $C000, $E000; never outside mmc1Reg
    const uint8_t v = s.mmc1Shift;
    s.mmc1Reg[r] = v;
    s.mmc1Shift = 0;
    s.mmc1ShiftCount = 0;
    const bool chr4k = (s.mmc1Reg[0] & 0x10) != 0;
    switch (r) {
        case 0:
            SetMirroring(m, v & 1);
            if (v & 2) m.cart.mirrorDistance += (v & 1) * s.mmc1MirrorExtra;
            break;
        case 1:
            if (m.cart.chrPageCount == 0) break;  // pattern RAM stays in place
            if (chr4k) {
                SwitchChr4K(m, 0x0000, v);
            } else {
                SwitchChr8K(m, v >> 1);
            }
            break;
        case 2:
            if (chr4k) SwitchChr4K(m, 0x1000, v);
            break;
        case 3: {
            const int p = v & 0x0F;
            if (s.mmc1Reg[0] & 0x08) {
                SwitchPrg16K(m, (s.mmc1Reg[0] & 0x04) ? 0x8000 : 0xC000, p);
            } else {
                SwitchPrg32K(m, p >> 1);
            }
            break;
        }
        default: break;
    }
}

// ---- Mapper 4 ("Nintendo MMC3"): bank select and bank data, mirroring, scanline counter.

void WriteMmc3(Machine& m, uint16_t address, uint8_t value) {
    MapperState& s = m.mapper;
    switch (address & 0xE001) {
        case 0x8000:
            s.mmc3BankSelect = value;
            s.mmc3ChrInvert = (value & 0x80) ? 0x1000 : 0;
            break;
        case 0x8001: {
            const uint16_t i = s.mmc3ChrInvert;
            const uint8_t next = static_cast<uint8_t>(value + 1);
            // The second-to-last 8 KB page, computed in eight bits.
            const uint8_t fixed = static_cast<uint8_t>((m.cart.prgPageCount - 1) * 2);
            const bool prgSwapped = (s.mmc3BankSelect & 0x40) != 0;
            switch (s.mmc3BankSelect & 7) {
                case 0:
                    SwitchChr1K(m, i ^ 0x0000, value);
                    SwitchChr1K(m, i ^ 0x0400, next);
                    break;
                case 1:
                    SwitchChr1K(m, i ^ 0x0800, value);
                    SwitchChr1K(m, i ^ 0x0C00, next);
                    break;
                case 2: SwitchChr1K(m, i ^ 0x1000, value); break;
                case 3: SwitchChr1K(m, i ^ 0x1400, value); break;
                case 4: SwitchChr1K(m, i ^ 0x1800, value); break;
                case 5: SwitchChr1K(m, i ^ 0x1C00, value); break;
                case 6:
                    if (prgSwapped) {
                        SwitchPrg8K(m, 0x8000, fixed);
                        SwitchPrg8K(m, 0xC000, value);
                    } else {
                        SwitchPrg8K(m, 0xC000, fixed);
                        SwitchPrg8K(m, 0x8000, value);
                    }
                    break;
                case 7:
                    SwitchPrg8K(m, prgSwapped ? 0x8000 : 0xC000, fixed);
                    SwitchPrg8K(m, 0xA000, value);
                    break;
            }
            break;
        }
        case 0xA000: SetMirroring(m, value & 1); break;
        case 0xA001: break;
        case 0xC000: s.irqCounter = (value == 0 && s.irqEnabled) ? s.irqLatch : value; break;
        case 0xC001:
            s.irqLatch = value;
            s.irqEnabled = true;
            break;
        case 0xE000: s.irqEnabled = false; break;
        case 0xE001: s.irqEnabled = true; break;
    }
}

// ---- Mapper 9 ("Nintendo MMC2"): 8 KB PRG page at $8000, two 4 KB CHR halves.

void WriteMmc2(Machine& m, uint16_t address, uint8_t value) {
    switch (address & 0xF000) {
        case 0xA000: SwitchPrg8K(m, 0x8000, value); break;
        case 0xB000:
        case 0xC000: SwitchChr4K(m, 0x0000, value); break;
        case 0xD000:
            if (m.mapper.chrLatch == 0xFD) SwitchChr4K(m, 0x1000, value);
            break;
        case 0xE000:
            if (m.mapper.chrLatch == 0xFE) SwitchChr4K(m, 0x1000, value);
            break;
        case 0xF000: SetMirroring(m, value & 1); break;
        default: break;  // $8000 and $9000
    }
}

// ---- Mapper 10 ("Nintendo MMC4"): 16 KB PRG page at $8000, two latched 4 KB CHR halves.

void WriteMmc4(Machine& m, uint16_t address, uint8_t value) {
    const MapperState& s = m.mapper;
    switch (address & 0xF000) {
        case 0xA000: SwitchPrg16K(m, 0x8000, value); break;
        case 0xB000:
            if (s.chrLatch0 == 0xFD) SwitchChr4K(m, 0x0000, value);
            break;
        case 0xC000:
            if (s.chrLatch0 == 0xFE) SwitchChr4K(m, 0x0000, value);
            break;
        case 0xD000:
            if (s.chrLatch1 == 0xFD) SwitchChr4K(m, 0x1000, value);
            break;
        case 0xE000:
            if (s.chrLatch1 == 0xFE) SwitchChr4K(m, 0x1000, value);
            break;
        case 0xF000: SetMirroring(m, value & 1); break;
        default: break;  // $8000 and $9000
    }
}

// ---- Mapper 16 ("Bandai"): eight 1 KB CHR registers, a 16 KB PRG register, a scanline counter.

void WriteBandai(Machine& m, uint16_t address, uint8_t value) {
    const int r = address & 15;
    if (r < 8) {
        SwitchChr1K(m, static_cast<uint16_t>(r * 1024), value);
        return;
    }
    switch (r) {
        case 8: SwitchPrg16K(m, 0x8000, value); break;
        case 9: m.cart.mirrorDistance = (value & 1) ? 1024 : 2048; break;
        case 10: m.mapper.bandaiIrqEnabled = (value & 1) != 0; break;
        case 12:
            m.mapper.bandaiIrqCounter = value;
            m.mapper.bandaiIrqEnabled = true;
            break;
        default: break;  // 11, 13-15
    }
}

// ---- Scanline counters of mappers 4 and 16: lines 8-231 count down; at zero the counter stops
// and raises one IRQ.

InterruptRequest CountScanline(Machine& m, uint16_t& counter, bool& enabled) {
    if (!enabled) return InterruptRequest::None;
    --counter;  // wraps modulo 65536
    if (counter > 0) return InterruptRequest::None;
    enabled = false;  // the counter stays at zero; nothing reloads it
    m.ppu.scrollUpdatePending = true;
    return InterruptRequest::Irq;
}

InterruptRequest ScanlineMmc3(Machine& m) {
    return CountScanline(m, m.mapper.irqCounter, m.mapper.irqEnabled);
}

InterruptRequest ScanlineBandai(Machine& m) {
    return CountScanline(m, m.mapper.bandaiIrqCounter, m.mapper.bandaiIrqEnabled);
}

// ---- Set-up beyond the default bank layout.

void SetUpMmc1(Machine& m) {
    MapperState& s = m.mapper;
    for (uint8_t& r : s.mmc1Reg) r = 0;
    s.mmc1Shift = 0;
    s.mmc1ShiftCount = 0;
    s.mmc1MirrorExtra =
        ((m.cart.headerFlags & HeaderVertical) && m.cart.chrPageCount == 0) ? 2048 : 0;
}

void SetUpMmc3(Machine& m) {
    m.mapper.mmc3ChrInvert = 0;
}

void SetUpFirst32K(Machine& m) {
    SwitchPrg32K(m, 0);
}

void SetUpMapper8(Machine& m) {
    SwitchPrg16K(m, 0x8000, 0);
    SwitchPrg16K(m, 0xC000, 1);
}

void SetUpMmc2(Machine& m) {
    // The last three 8 KB pages at $A000-$FFFF, the first at $8000.
    m.mapper.chrLatch = 0xFE;
    const int n = m.cart.prgPageCount;
    SwitchPrg8K(m, 0xA000, 2 * n - 3);
    SwitchPrg8K(m, 0xC000, 2 * n - 2);
    SwitchPrg8K(m, 0xE000, 2 * n - 1);
    SwitchPrg8K(m, 0x8000, 0);
}

void SetUpMmc4(Machine& m) {
    m.mapper.chrLatch0 = 0xFE;
    m.mapper.chrLatch1 = 0xFE;
}

// ---- Name-table arrangements of the mappers that change them at run time (28, 30, 71). The
// console's name-table memory is two 1 KB screens, and the picture processor keeps all four
// tables filled from them; so a change of arrangement lays the two screens out anew, and a
// single-screen arrangement keeps the screen it does not show in the mapper record.

constexpr int kScreenSize = 1024;

// The name table (0-3) through which `arrangement` shows screen `screen` (0 or 1); -1 when the
// screen is hidden.
int TableShowing(ScreenArrangement arrangement, int screen) {
    switch (arrangement) {
        case ScreenArrangement::Horizontal: return 2 * screen;
        case ScreenArrangement::SingleLow: return screen == 0 ? 0 : -1;
        case ScreenArrangement::SingleHigh: return screen == 1 ? 0 : -1;
        default: return screen;  // vertical; four screens are never rearranged
    }
}

void SetArrangementFields(Machine& m, ScreenArrangement arrangement) {
    m.mapper.screens = arrangement;
    m.cart.singleScreen =
        arrangement == ScreenArrangement::SingleLow || arrangement == ScreenArrangement::SingleHigh;
    m.cart.verticalMirroring = arrangement == ScreenArrangement::Vertical;
    // Four screens, or one: no partner table (the picture processor ignores the distance while
    // a single screen stands behind the tables).
    m.cart.mirrorDistance = arrangement == ScreenArrangement::Horizontal ? 1024
                            : arrangement == ScreenArrangement::Vertical ? 2048
                                                                         : 0;
}

ScreenArrangement HeaderArrangement(const Machine& m) {
    return (m.cart.headerFlags & HeaderVertical) ? ScreenArrangement::Vertical
                                                 : ScreenArrangement::Horizontal;
}

// At set-up: the name tables hold `arrangement` as they are; the hidden screen is empty.
void StartScreens(Machine& m, ScreenArrangement arrangement) {
    m.mapper.hiddenScreen.fill(0);
    SetArrangementFields(m, arrangement);
}

void ArrangeScreens(Machine& m, ScreenArrangement next) {
    MapperState& s = m.mapper;
    if (next == s.screens) return;
    std::array<std::array<uint8_t, kScreenSize>, 2> screen;
    const uint8_t* tables = m.ppu.vram.data() + 0x2000;
    for (int k = 0; k < 2; ++k) {
        const int table = TableShowing(s.screens, k);
        const uint8_t* from = table < 0 ? s.hiddenScreen.data() : tables + table * kScreenSize;
        std::copy_n(from, kScreenSize, screen[k].begin());
    }
    SetArrangementFields(m, next);
    for (int k = 0; k < 2; ++k) {
        const int table = TableShowing(next, k);
        if (table < 0) {
            s.hiddenScreen = screen[k];
            continue;
        }
        // Written as the data port writes, so the partner tables and the row cache follow.
        for (int i = 0; i < kScreenSize; ++i)
            PpuWriteVideoMemory(m, static_cast<uint16_t>(0x2000 + table * kScreenSize + i),
                                screen[k][i]);
    }
}

// ---- 32 KB of pattern RAM in four 8 KB banks (mappers 28 and 30). The bank in use is the
// picture processor's own pattern RAM, where its writes land; a switch exchanges the bytes.

void StartPatternRamBanks(Machine& m) {
    m.mapper.patternRamBank = 0;
    m.mapper.patternRamBanks.fill(0);
}

// The 8 KB CHR page: a CHR-ROM page when the image has CHR-ROM, else a pattern RAM bank.
void SelectChr8K(Machine& m, int bank) {
    MapperState& s = m.mapper;
    if (m.cart.chrPageCount > 0) {
        SwitchChr8K(m, bank);
        return;
    }
    bank &= 3;
    if (bank == s.patternRamBank) return;
    uint8_t* banks = s.patternRamBanks.data();
    PpuExchangePatternRam(m, banks + s.patternRamBank * kPatternRamSize,
                          banks + bank * kPatternRamSize);
    s.patternRamBank = static_cast<uint8_t>(bank);
}

// ---- Mapper 28 ("Action 53"): $5000-$5FFF selects one of four registers, $8000-$FFFF writes
// it. The mode register picks the mirroring (single screen low or high, vertical, horizontal),
// 32 KB or 16 KB switching with one half fixed, and how many of the outer bank's low bits the
// inner bank replaces (a game of 32, 64, 128 or 256 KB).

// The 16 KB page at $8000 (a14 = 0) or $C000 (a14 = 1).
int Action53Page(const MapperState& s, int a14) {
    const int outer = s.action53Outer << 1;
    const int prgMode = (s.action53Mode >> 2) & 3;  // 0, 1: 32 KB; 2: $8000 fixed; 3: $C000 fixed
    if (prgMode >= 2 && (prgMode & 1) == a14) return outer | a14;  // the outer bank's own half
    int inner = s.action53Inner;
    if (prgMode < 2) inner = (inner << 1) | a14;
    const int mask = (2 << ((s.action53Mode >> 4) & 3)) - 1;  // 1, 3, 7 or 15 pages
    return (outer & ~mask) | (inner & mask);
}

void ApplyAction53(Machine& m) {
    constexpr ScreenArrangement kMirroring[4] = {
        ScreenArrangement::SingleLow, ScreenArrangement::SingleHigh, ScreenArrangement::Vertical,
        ScreenArrangement::Horizontal};
    const MapperState& s = m.mapper;
    SwitchPrg16K(m, 0x8000, Action53Page(s, 0));
    SwitchPrg16K(m, 0xC000, Action53Page(s, 1));
    ArrangeScreens(m, kMirroring[s.action53Mode & 3]);
}

bool WriteAction53Select(Machine& m, uint16_t address, uint8_t value) {
    if (address < 0x5000 || address > 0x5FFF) return false;
    m.mapper.action53Select = value & 0x81;
    return true;
}

void WriteAction53(Machine& m, uint16_t, uint8_t value) {
    MapperState& s = m.mapper;
    // In the single-screen modes a CHR or inner bank write also picks the screen with bit 4, as
    // on the one-screen boards whose games the cartridge holds.
    if (s.action53Select < 0x80 && !(s.action53Mode & 2))
        s.action53Mode = static_cast<uint8_t>((s.action53Mode & ~1) | ((value >> 4) & 1));
    switch (s.action53Select) {
        case 0x00:
            s.action53Chr = value;
            SelectChr8K(m, value & 3);
            break;
        case 0x01: s.action53Inner = value; break;
        case 0x80: s.action53Mode = value; break;
        default: s.action53Outer = value; break;  // $81
    }
    ApplyAction53(m);
}

// Power-on: 32 KB mode with the outer bank all ones, so the last 32 KB (the menu) is at $8000.
void SetUpAction53(Machine& m) {
    MapperState& s = m.mapper;
    s.action53Select = 0;
    s.action53Chr = 0;
    s.action53Inner = 0;
    s.action53Mode = 0;
    s.action53Outer = 0xFF;
    StartPatternRamBanks(m);
    StartScreens(m, HeaderArrangement(m));
    ApplyAction53(m);
}

// ---- Mapper 30 ("UNROM 512"): one register, bits 0-4 the 16 KB page at $8000 (the last page
// stays at $C000), bits 5-6 the 8 KB pattern RAM bank, bit 7 the screen when the header asks
// for a single screen (four-screen bit alone); with both the four-screen and vertical bits the
// four name tables are separate. With the battery bit the board is the self-flashing one: the
// register is at $C000-$FFFF, and $8000-$BFFF writes are commands to the flash chip. Its
// programmed and erased bytes change the PRG-ROM in memory only: they are not written to any
// file and are gone when the cartridge is freed.

constexpr uint8_t kFlashMaker = 0xBF;  // the chip's software ID: maker, then device

enum FlashStep : uint8_t {
    kFlashReady,
    kFlashUnlocking,  // $AA at $5555 seen
    kFlashUnlocked,   // then $55 at $2AAA: the next write at $5555 is a command
    kFlashProgram,    // the next write programs its byte
    kFlashEraseUnlocking,
    kFlashEraseUnlocked1,
    kFlashEraseUnlocked2,  // the next write is the erase command
};

bool SelfFlashing(const Machine& m) {
    return (m.cart.headerFlags & HeaderBattery) != 0;
}

bool Unrom512SingleScreen(const Machine& m) {
    return (m.cart.headerFlags & (HeaderVertical | HeaderFourScreen)) == HeaderFourScreen;
}

// The CPU windows: the register's page and the last page, or the software ID in all four.
void ShowUnrom512Windows(Machine& m) {
    MapperState& s = m.mapper;
    if (s.flashIdMode) {
        const uintptr_t page = reinterpret_cast<uintptr_t>(s.flashIdPage.data());
        for (int w = 4; w < 8; ++w) m.pages.SetCpu(w, page - static_cast<uintptr_t>(w) * 0x2000);
        return;
    }
    SwitchPrg16K(m, 0x8000, s.unrom512Bank & 0x1F);
    SwitchPrg16K(m, 0xC000, m.cart.prgPageCount - 1);
}

void WriteUnrom512Bank(Machine& m, uint8_t value) {
    m.mapper.unrom512Bank = value;
    ShowUnrom512Windows(m);
    SelectChr8K(m, (value >> 5) & 3);
    if (Unrom512SingleScreen(m))
        ArrangeScreens(
            m, (value & 0x80) ? ScreenArrangement::SingleHigh : ScreenArrangement::SingleLow);
}

void SetFlashIdMode(Machine& m, bool on) {
    MapperState& s = m.mapper;
    if (on) {
        // The device code names the chip size: 128, 256 or 512 KB.
        const size_t size = m.cart.prgRom.size();
        const uint8_t device = size <= 0x20000 ? 0xB5 : size <= 0x40000 ? 0xB6 : 0xB7;
        for (size_t i = 0; i < s.flashIdPage.size(); ++i)
            s.flashIdPage[i] = (i & 1) ? device : kFlashMaker;
    }
    s.flashIdMode = on;
    ShowUnrom512Windows(m);
}

// A flash write at chip address `chip`: a byte programmed can only clear bits; an erase sets a
// 4 KB sector, or the whole chip, to $FF. Offsets wrap inside the PRG-ROM.
void ProgramFlash(Machine& m, uint32_t chip, uint8_t value) {
    std::vector<uint8_t>& rom = m.cart.prgRom;
    if (!rom.empty()) rom[chip % rom.size()] &= value;
}

void EraseFlash(Machine& m, uint32_t chip, size_t length) {
    std::vector<uint8_t>& rom = m.cart.prgRom;
    if (rom.empty()) return;
    const size_t start = (chip & ~uint32_t(length - 1)) % rom.size();
    std::fill_n(rom.begin() + static_cast<std::ptrdiff_t>(start),
                std::min(length, rom.size() - start), uint8_t{0xFF});
}

void WriteFlash(Machine& m, uint16_t address, uint8_t value) {
    MapperState& s = m.mapper;
    const uint32_t chip = (uint32_t{s.unrom512Bank & 0x1Fu} << 14) | (address & 0x3FFFu);
    const uint32_t command = chip & 0x7FFF;  // the chip decodes its command addresses on A0-A14
    const uint8_t step = s.flashStep;
    s.flashStep = kFlashReady;
    switch (step) {
        case kFlashReady:
            if (command == 0x5555 && value == 0xAA) s.flashStep = kFlashUnlocking;
            if (value == 0xF0) SetFlashIdMode(m, false);
            break;
        case kFlashUnlocking:
            if (command == 0x2AAA && value == 0x55) s.flashStep = kFlashUnlocked;
            break;
        case kFlashUnlocked:
            if (command != 0x5555) break;
            if (value == 0xA0) s.flashStep = kFlashProgram;
            if (value == 0x80) s.flashStep = kFlashEraseUnlocking;
            if (value == 0x90) SetFlashIdMode(m, true);
            if (value == 0xF0) SetFlashIdMode(m, false);
            break;
        case kFlashProgram: ProgramFlash(m, chip, value); break;
        case kFlashEraseUnlocking:
            if (command == 0x5555 && value == 0xAA) s.flashStep = kFlashEraseUnlocked1;
            break;
        case kFlashEraseUnlocked1:
            if (command == 0x2AAA && value == 0x55) s.flashStep = kFlashEraseUnlocked2;
            break;
        case kFlashEraseUnlocked2:
            if (value == 0x30) EraseFlash(m, chip, 0x1000);
            if (value == 0x10 && command == 0x5555) EraseFlash(m, 0, m.cart.prgRom.size());
            break;
        default: break;
    }
}

void WriteUnrom512(Machine& m, uint16_t address, uint8_t value) {
    if (address < 0xC000 && SelfFlashing(m)) {
        WriteFlash(m, address, value);
    } else {
        WriteUnrom512Bank(m, value);
    }
}

void SetUpUnrom512(Machine& m) {
    MapperState& s = m.mapper;
    s.flashStep = kFlashReady;
    s.flashIdMode = false;
    StartPatternRamBanks(m);
    const int screens = m.cart.headerFlags & (HeaderVertical | HeaderFourScreen);
    StartScreens(m, screens == (HeaderVertical | HeaderFourScreen) ? ScreenArrangement::Four
                    : Unrom512SingleScreen(m)                      ? ScreenArrangement::SingleLow
                                                                   : HeaderArrangement(m));
    WriteUnrom512Bank(m, 0);
}

// ---- Mapper 34 ("BNROM", or "NINA-001"). The two boards share the number and are told apart
// by their CHR: BNROM has pattern RAM (or at most one 8 KB page), NINA-001 more than 8 KB of
// CHR-ROM. BNROM: any write at $8000-$FFFF selects the 32 KB page with its whole value.
// NINA-001: $7FFD selects the 32 KB page (bit 0), $7FFE and $7FFF the 4 KB CHR pages at $0000
// and $1000 (bits 0-3); the cartridge RAM at those addresses keeps the bytes as well.

void SetUpMapper34(Machine& m) {
    m.mapper.nina001 = m.cart.chrPageCount > 1;
    if (m.mapper.nina001) m.cart.mapperName = "NINA-001";
    SwitchPrg32K(m, 0);
}

void WriteBnrom(Machine& m, uint16_t, uint8_t value) {
    if (!m.mapper.nina001) SwitchPrg32K(m, value);
}

bool WriteNina001(Machine& m, uint16_t address, uint8_t value) {
    if (!m.mapper.nina001) return false;
    switch (address) {
        case 0x7FFD: SwitchPrg32K(m, value & 1); return true;
        case 0x7FFE: SwitchChr4K(m, 0x0000, value & 0x0F); return true;
        case 0x7FFF: SwitchChr4K(m, 0x1000, value & 0x0F); return true;
        default: return false;
    }
}

// ---- Mapper 66 ("GxROM"): bits 4-5 select the 32 KB page, bits 0-1 the 8 KB CHR page.

void WriteGxrom(Machine& m, uint16_t, uint8_t value) {
    SwitchPrg32K(m, (value >> 4) & 3);
    SwitchChr8K(m, value & 3);
}

// ---- Mapper 71 ("Camerica"): $C000-$FFFF selects the 16 KB page at $8000 (bits 0-3; the last
// page stays at $C000). The board with mirroring control takes bit 4 of a $9000-$9FFF write as
// the single screen shown; other boards ignore $8000-$BFFF, and their games do not write there.

void WriteCamerica(Machine& m, uint16_t address, uint8_t value) {
    if (address >= 0xC000) {
        SwitchPrg16K(m, 0x8000, value & 0x0F);
    } else if ((address & 0xF000) == 0x9000) {
        ArrangeScreens(
            m, (value & 0x10) ? ScreenArrangement::SingleHigh : ScreenArrangement::SingleLow);
    }
}

void SetUpCamerica(Machine& m) {
    StartScreens(m, HeaderArrangement(m));
}

// ---- Mapper 206 ("Namco 108"): at $8000-$9FFF even addresses select a register and odd ones
// write it: registers 0 and 1 the 2 KB CHR pages at $0000 and $0800, 2-5 the 1 KB CHR pages at
// $1000-$1C00 (six bits), 6 and 7 the 8 KB PRG pages at $8000 and $A000 (four bits); the last
// 16 KB stays at $C000. No mirroring control. Power-on is the default layout: PRG pages 0 and 1,
// CHR units 0-7.

void WriteNamco108(Machine& m, uint16_t address, uint8_t value) {
    if (address >= 0xA000) return;
    MapperState& s = m.mapper;
    if (!(address & 1)) {
        s.namcoSelect = value & 7;
        return;
    }
    const int r = s.namcoSelect;
    if (r < 2) {
        const uint16_t window = static_cast<uint16_t>(r * 0x800);
        SwitchChr1K(m, window, value & 0x3E);
        SwitchChr1K(m, static_cast<uint16_t>(window + 0x400), (value & 0x3E) | 1);
    } else if (r < 6) {
        SwitchChr1K(m, static_cast<uint16_t>(0x1000 + (r - 2) * 0x400), value & 0x3F);
    } else {
        SwitchPrg8K(m, r == 6 ? 0x8000 : 0xA000, value & 0x0F);
    }
}

void SetUpNamco108(Machine& m) {
    m.mapper.namcoSelect = 0;
}

// Every supported mapper, in one place: adding a mapper is adding its line here.
struct MapperEntry {
    int number;
    const char* name;
    void (*setUp)(Machine&);  // after the default bank layout; null when that is all
    MapperWriteHandler write;
    MapperScanlineHook scanline;  // null for mappers without a scanline counter
    // Null for mappers without registers below $8000.
    MapperLowWriteHandler lowWrite = nullptr;
};

constexpr MapperEntry kMappers[] = {
    {0, "No Mapper", nullptr, WriteNoMapper, nullptr},
    {1, "Nintendo MMC1", SetUpMmc1, WriteMmc1, nullptr},
    {2, "74HC161/74HC32", nullptr, WriteMapper2, nullptr},
    {3, "VROM Switch", nullptr, WriteMapper3, nullptr},
    {4, "Nintendo MMC3", SetUpMmc3, WriteMmc3, ScanlineMmc3},
    {7, "Rom Switch", SetUpFirst32K, WriteMapper7, nullptr},
    {8, "FFE F3xxxx", SetUpMapper8, WriteMapper8, nullptr},
    {9, "Nintendo MMC2", SetUpMmc2, WriteMmc2, nullptr},
    {10, "Nintendo MMC4", SetUpMmc4, WriteMmc4, nullptr},
    {11, "Color Dreams Mapper", SetUpFirst32K, WriteMapper11, nullptr},
    {15, "100-in-1", SetUpFirst32K, WriteMapper15, nullptr},
    {16, "Bandai", nullptr, WriteBandai, ScanlineBandai},
    {28, "Action 53", SetUpAction53, WriteAction53, nullptr, WriteAction53Select},
    {30, "UNROM 512", SetUpUnrom512, WriteUnrom512, nullptr},
    {34, "BNROM", SetUpMapper34, WriteBnrom, nullptr, WriteNina001},
    {66, "GxROM", SetUpFirst32K, WriteGxrom, nullptr},
    {71, "Camerica", SetUpCamerica, WriteCamerica, nullptr},
    {206, "Namco 108", SetUpNamco108, WriteNamco108, nullptr},
};

const MapperEntry* FindMapper(int number) {
    for (const MapperEntry& entry : kMappers)
        if (entry.number == number) return &entry;
    return nullptr;
}

}  // namespace

void SwitchPrg8K(Machine& m, uint16_t window, int page) {
    SetPrgWindow(m, window, page);
}

void SwitchPrg16K(Machine& m, uint16_t window, int page) {
    const int64_t first = int64_t{page} * 2;
    SetPrgWindow(m, window, first);
    SetPrgWindow(m, static_cast<uint16_t>(window + 0x2000), first + 1);
}

void SwitchPrg32K(Machine& m, int page) {
    const int64_t first = int64_t{page} * 4;
    for (int i = 0; i < 4; ++i) {
        SetPrgWindow(m, static_cast<uint16_t>(0x8000 + i * 0x2000), first + i);
    }
}

void SwitchChr1K(Machine& m, uint16_t window, int page) {
    SetChrWindow(m, window, page);
}

void SwitchChr4K(Machine& m, uint16_t window, int page) {
    const int64_t first = int64_t{page} * 4;
    for (int i = 0; i < 4; ++i) {
        SetChrWindow(m, static_cast<uint16_t>(window + i * 0x400), first + i);
    }
}

void SwitchChr8K(Machine& m, int page) {
    const int64_t first = int64_t{page} * 8;
    for (int i = 0; i < 8; ++i) SetChrWindow(m, static_cast<uint16_t>(i * 0x400), first + i);
}

void SetMirroring(Machine& m, int bit) {
    bit &= 1;
    m.cart.verticalMirroring = bit == 0;
    m.cart.mirrorDistance = 2048 >> bit;
}

void DefaultBankLayout(Machine& m) {
    SwitchPrg16K(m, 0x8000, 0);
    SwitchPrg16K(m, 0xC000, static_cast<uint8_t>(m.cart.prgPageCount - 1));
    SwitchChr8K(m, 0);
    m.mapper.chrBankMask = static_cast<uint8_t>(m.cart.chrPageCount - 1);
}

bool MapperSetup(Machine& m, int number) {
    MapperState& s = m.mapper;
    s.bandaiIrqCounter = 0;
    s.bandaiIrqEnabled = false;

    const MapperEntry* entry = FindMapper(number);
    if (entry == nullptr) {
        m.log.Append("* iNES mapper #" + std::to_string(number) + " not supported.");
        return false;
    }

    m.cart.mapperName = entry->name;
    m.cart.singleScreen = false;  // only the set-up of a mapper that shows one screen sets it
    DefaultBankLayout(m);
    if (entry->setUp) entry->setUp(m);
    s.write = entry->write;
    s.scanline = entry->scanline;
    s.lowWrite = entry->lowWrite;
    return true;
}

bool MapperWritesPrgRom(const Machine& m) {
    return m.cart.mapperNumber == 30 && SelfFlashing(m);
}

std::vector<int> SupportedMappers() {
    std::vector<int> numbers;
    for (const MapperEntry& entry : kMappers) numbers.push_back(entry.number);
    return numbers;
}

InterruptRequest MapperScanline(Machine& m, InterruptRequest signal) {
    if (m.mapper.scanline == nullptr) return signal;
    const InterruptRequest raised = m.mapper.scanline(m);
    return raised == InterruptRequest::None ? signal : raised;
}

}  // namespace vexalo
