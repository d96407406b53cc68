// Bank-switch operations, the mapper selection and every mapper's register decode, checked
// through the bytes the CPU and the picture processor see in their windows.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstring>
#include <memory>
#include <string>
#include <utility>

#include "cartridge/mapper.h"
#include "machine/bus.h"
#include "machine/machine.h"
#include "machine/ppu.h"

namespace vexalo {
namespace {

// A machine whose PRG-ROM holds, in every byte, the number of its 8 KB page, whose CHR-ROM holds
// the number of its 1 KB unit, and whose pattern RAM holds $80 + its 1 KB unit number.
std::unique_ptr<Machine> MakeMachine(int prgPages, int chrPages, int headerFlags = 0) {
    auto m = std::make_unique<Machine>();
    m->cart.prgPageCount = prgPages;
    m->cart.chrPageCount = chrPages;
    m->cart.headerFlags = headerFlags;
    m->cart.prgRom.resize(static_cast<size_t>(prgPages) * kPrgPageSize);
    for (size_t i = 0; i < m->cart.prgRom.size(); ++i) {
        m->cart.prgRom[i] = static_cast<uint8_t>(i / 8192);
    }
    m->cart.chrRom.resize(static_cast<size_t>(chrPages) * kChrPageSize);
    for (size_t i = 0; i < m->cart.chrRom.size(); ++i) {
        m->cart.chrRom[i] = static_cast<uint8_t>(i / 1024);
    }
    for (size_t i = 0; i < 8192; ++i) m->ppu.vram[i] = static_cast<uint8_t>(0x80 + i / 1024);
    return m;
}

std::unique_ptr<Machine> StartMapper(int number, int prgPages, int chrPages, int flags = 0) {
    auto m = MakeMachine(prgPages, chrPages, flags);
    m->cart.mapperNumber = number;
    EXPECT_TRUE(MapperSetup(*m, number));
    return m;
}

// The 8 KB page seen in the CPU window at `window`, or -1 when the window's first and last bytes
// come from different pages.
int PrgPage(const Machine& m, uint16_t window) {
    const uint8_t first = CartridgeByte(m, window);
    const uint8_t last = CartridgeByte(m, static_cast<uint16_t>(window + 0x1FFF));
    return first == last ? first : -1;
}

// The 1 KB unit marker seen in the pattern window at `window`, or -1 as above.
int ChrUnit(const Machine& m, uint16_t window) {
    const uint8_t first = PatternByte(m, window);
    const uint8_t last = PatternByte(m, static_cast<uint16_t>(window + 0x3FF));
    return first == last ? first : -1;
}

void ExpectPrg(const Machine& m, int p8000, int pA000, int pC000, int pE000) {
    EXPECT_EQ(PrgPage(m, 0x8000), p8000);
    EXPECT_EQ(PrgPage(m, 0xA000), pA000);
    EXPECT_EQ(PrgPage(m, 0xC000), pC000);
    EXPECT_EQ(PrgPage(m, 0xE000), pE000);
}

// Four consecutive 1 KB units from `firstUnit` in the four pattern windows from `window`.
void ExpectChr4K(const Machine& m, uint16_t window, int firstUnit) {
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(ChrUnit(m, static_cast<uint16_t>(window + i * 0x400)), firstUnit + i)
            << "pattern window " << (window + i * 0x400);
    }
}

bool SameTables(const PageTables& a, const PageTables& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

void Write(Machine& m, uint16_t address, uint8_t value) {
    MachineBus{m}.WriteByte(address, value);
}

// Five serial MMC1 writes of the low five bits of `value`, low bit first.
void Mmc1Write(Machine& m, uint16_t address, uint8_t value) {
    for (int i = 0; i < 5; ++i) Write(m, address, (value >> i) & 1);
}

// ---- Bank-switch operations

TEST(BankSwitchTest, WindowsShowTheRequestedPages) {
    auto m = MakeMachine(4, 2);
    SwitchPrg8K(*m, 0xA000, 5);
    SwitchPrg16K(*m, 0xC000, 1);
    EXPECT_EQ(PrgPage(*m, 0xA000), 5);
    EXPECT_EQ(PrgPage(*m, 0xC000), 2);
    EXPECT_EQ(PrgPage(*m, 0xE000), 3);
    SwitchPrg32K(*m, 1);
    ExpectPrg(*m, 4, 5, 6, 7);

    SwitchChr8K(*m, 1);
    ExpectChr4K(*m, 0x0000, 8);
    ExpectChr4K(*m, 0x1000, 12);
    SwitchChr4K(*m, 0x1000, 1);
    ExpectChr4K(*m, 0x1000, 4);
    SwitchChr1K(*m, 0x0C00, 15);
    EXPECT_EQ(ChrUnit(*m, 0x0C00), 15);
    EXPECT_EQ(ChrUnit(*m, 0x0800), 10);
}

TEST(BankSwitchTest, PagesPastTheEndWrapInsideTheStore) {
    auto m = MakeMachine(3, 2);  // 6 PRG units of 8 KB, 16 CHR units of 1 KB
    SwitchPrg8K(*m, 0x8000, 1003);
    EXPECT_EQ(PrgPage(*m, 0x8000), 1003 % 6);
    SwitchPrg16K(*m, 0xC000, 255);
    EXPECT_EQ(PrgPage(*m, 0xC000), 510 % 6);
    EXPECT_EQ(PrgPage(*m, 0xE000), 511 % 6);
    SwitchPrg32K(*m, 255);
    ExpectPrg(*m, 1020 % 6, 1021 % 6, 1022 % 6, 1023 % 6);
    SwitchPrg8K(*m, 0xA000, -1);
    EXPECT_EQ(PrgPage(*m, 0xA000), 5);
    SwitchPrg32K(*m, INT_MAX);
    for (uint16_t w : {0x8000, 0xA000, 0xC000, 0xE000}) EXPECT_GE(PrgPage(*m, w), 0);

    SwitchChr1K(*m, 0x1C00, 300);
    EXPECT_EQ(ChrUnit(*m, 0x1C00), 300 % 16);
    SwitchChr8K(*m, 255);
    ExpectChr4K(*m, 0x0000, 2040 % 16);
    SwitchChr4K(*m, 0x1000, INT_MAX);
    for (int w = 0x1000; w < 0x2000; w += 0x400) EXPECT_GE(ChrUnit(*m, w), 0);
}

TEST(BankSwitchTest, WithoutChrRomThePatternWindowsWrapInsidePatternRam) {
    auto m = MakeMachine(2, 0);
    SwitchChr4K(*m, 0x1000, 255);  // 1,020 KB: wraps to the upper half of the 8 KB pattern RAM
    ExpectChr4K(*m, 0x1000, 0x84);
    SwitchChr1K(*m, 0x0000, 9);
    EXPECT_EQ(ChrUnit(*m, 0x0000), 0x81);
    // The pattern RAM is the picture processor's own memory: a change there is seen at once.
    m->ppu.vram[0x0400 + 7] = 0x3C;
    EXPECT_EQ(PatternByte(*m, 0x0007), 0x3C);
}

TEST(BankSwitchTest, EmptyStoresReadAsTheEmptyPage) {
    auto m = std::make_unique<Machine>();
    m->cart.chrPageCount = 1;  // announces CHR-ROM that was never allocated
    DefaultBankLayout(*m);
    SwitchPrg32K(*m, 7);
    SwitchChr1K(*m, 0x1C00, 200);
    for (uint16_t a : {0x8000, 0x9FFF, 0xC123, 0xFFFF}) EXPECT_EQ(CartridgeByte(*m, a), 0);
    for (uint16_t a : {0x0000, 0x13FF, 0x1FFF}) EXPECT_EQ(PatternByte(*m, a), 0);
}

TEST(BankSwitchTest, SetMirroring) {
    auto m = MakeMachine(1, 1);
    SetMirroring(*m, 1);
    EXPECT_FALSE(m->cart.verticalMirroring);
    EXPECT_EQ(m->cart.mirrorDistance, 1024);
    SetMirroring(*m, 0);
    EXPECT_TRUE(m->cart.verticalMirroring);
    EXPECT_EQ(m->cart.mirrorDistance, 2048);
}

TEST(BankSwitchTest, DefaultLayout) {
    auto one = MakeMachine(1, 0);
    DefaultBankLayout(*one);
    ExpectPrg(*one, 0, 1, 0, 1);  // a single page at $8000 and at $C000
    ExpectChr4K(*one, 0x0000, 0x80);
    ExpectChr4K(*one, 0x1000, 0x84);
    EXPECT_EQ(one->mapper.chrBankMask, 0xFF);

    auto four = MakeMachine(4, 4);
    DefaultBankLayout(*four);
    ExpectPrg(*four, 0, 1, 6, 7);
    ExpectChr4K(*four, 0x0000, 0);
    ExpectChr4K(*four, 0x1000, 4);
    EXPECT_EQ(four->mapper.chrBankMask, 3);
}

// ---- Mapper selection

TEST(MapperSetupTest, UnsupportedNumbersAreLoggedAndChangeNothing) {
    auto m = StartMapper(2, 4, 1);
    Write(*m, 0x8000, 2);
    const PageTables before = m->pages;
    const MapperWriteHandler handler = m->mapper.write;
    for (int number : {5, 6, 12, 13, 14, 17, 27, 29, 31, 33, 35, 65, 67, 70, 72, 205, 207, 255}) {
        m->mapper.bandaiIrqCounter = 9;
        m->mapper.bandaiIrqEnabled = true;
        EXPECT_FALSE(MapperSetup(*m, number));
        EXPECT_EQ(m->log.Lines().back(),
                  "* iNES mapper #" + std::to_string(number) + " not supported.");
        EXPECT_EQ(m->mapper.bandaiIrqCounter, 0);
        EXPECT_FALSE(m->mapper.bandaiIrqEnabled);
    }
    EXPECT_EQ(m->cart.mapperName, "74HC161/74HC32");
    EXPECT_EQ(m->mapper.write, handler);
    EXPECT_TRUE(SameTables(m->pages, before));
}

// The registers of every mapper lie at $8000-$FFFF. A write below (the debugger or a script
// writing memory) must reach no register and nothing beside the mapper record.
TEST(MapperWriteTest, WritesBelow8000ReachNoMapper) {
    for (int number : SupportedMappers()) {
        SCOPED_TRACE(number);
        auto m = StartMapper(number, 8, 4);
        const PageTables before = m->pages;
        const MapperState state = m->mapper;
        const int mirror = m->cart.mirrorDistance;
        for (uint32_t a = 0; a < 0x8000; ++a) MapperWrite(*m, uint16_t(a), uint8_t(a * 7));
        EXPECT_TRUE(SameTables(m->pages, before));
        EXPECT_EQ(m->mapper.write, state.write);
        EXPECT_EQ(m->mapper.chrBankMask, state.chrBankMask);
        EXPECT_EQ(std::memcmp(m->mapper.mmc1Reg, state.mmc1Reg, sizeof state.mmc1Reg), 0);
        EXPECT_EQ(m->mapper.irqCounter, state.irqCounter);
        EXPECT_EQ(m->mapper.bandaiIrqCounter, state.bandaiIrqCounter);
        EXPECT_EQ(m->cart.mirrorDistance, mirror);
    }
}

// Called directly, MMC1's handler takes the register from address bits 13-14 alone, so no
// address selects a byte outside its four registers.
TEST(MapperWriteTest, Mmc1HandlerStaysInsideItsRegisters) {
    auto m = StartMapper(1, 8, 4);
    const MapperState state = m->mapper;
    for (int i = 0; i < 5; ++i) m->mapper.write(*m, 0x1000, 0x1F);  // register 0, as $8000
    EXPECT_EQ(m->mapper.mmc1Reg[0], 0x1F);
    EXPECT_EQ(m->mapper.write, state.write);
    EXPECT_EQ(m->mapper.chrBankMask, state.chrBankMask);
    for (int i = 0; i < 5; ++i) m->mapper.write(*m, 0x6000, (0x03 >> i) & 1);  // register 3
    EXPECT_EQ(m->mapper.mmc1Reg[3], 0x03);
    EXPECT_EQ(m->mapper.write, state.write);
}

TEST(MapperSetupTest, SupportedNumbersGetTheirNamesAndAHandler) {
    const std::pair<int, const char*> mappers[] = {
        {0, "No Mapper"},      {1, "Nintendo MMC1"},
        {2, "74HC161/74HC32"}, {3, "VROM Switch"},
        {4, "Nintendo MMC3"},  {7, "Rom Switch"},
        {8, "FFE F3xxxx"},     {9, "Nintendo MMC2"},
        {10, "Nintendo MMC4"}, {11, "Color Dreams Mapper"},
        {15, "100-in-1"},      {16, "Bandai"},
        {28, "Action 53"},     {30, "UNROM 512"},
        {34, "BNROM"},         {66, "GxROM"},
        {71, "Camerica"},      {206, "Namco 108"},
    };
    for (const auto& [number, name] : mappers) {
        auto m = MakeMachine(2, 1);
        const size_t linesBefore = m->log.Lines().size();
        EXPECT_TRUE(MapperSetup(*m, number)) << number;
        EXPECT_EQ(m->cart.mapperName, name);
        EXPECT_NE(m->mapper.write, nullptr) << number;
        EXPECT_EQ(m->log.Lines().size(), linesBefore) << number;
    }
}

// ---- Simple mappers

TEST(SimpleMapperTest, Mapper0IgnoresWrites) {
    auto m = StartMapper(0, 1, 1);
    ExpectPrg(*m, 0, 1, 0, 1);
    const PageTables before = m->pages;
    Write(*m, 0x8000, 1);
    Write(*m, 0xFFFF, 3);
    EXPECT_TRUE(SameTables(m->pages, before));
}

TEST(SimpleMapperTest, Mapper2SwitchesThe16KPageAt8000) {
    auto m = StartMapper(2, 8, 0);
    Write(*m, 0x8000, 3);
    ExpectPrg(*m, 6, 7, 14, 15);
    Write(*m, 0xFFFF, 5);
    ExpectPrg(*m, 10, 11, 14, 15);
    Write(*m, 0xC000, 200);  // the whole value, wrapped inside the 8 pages
    EXPECT_EQ(PrgPage(*m, 0x8000), (200 * 2) % 16);
}

TEST(SimpleMapperTest, Mapper3MasksTheChrPage) {
    auto m = StartMapper(3, 1, 4);
    Write(*m, 0x8000, 0x07);
    ExpectChr4K(*m, 0x0000, 24);
    ExpectChr4K(*m, 0x1000, 28);
    ExpectPrg(*m, 0, 1, 0, 1);

    // Without CHR-ROM the mask is $FF, and the page still lands inside the pattern RAM.
    auto ram = StartMapper(3, 1, 0);
    Write(*ram, 0x9000, 0x05);
    ExpectChr4K(*ram, 0x0000, 0x80);
    ExpectChr4K(*ram, 0x1000, 0x84);
}

TEST(SimpleMapperTest, Mapper7Switches32KAndMirrorDistance) {
    auto m = StartMapper(7, 8, 0, HeaderVertical);
    ExpectPrg(*m, 0, 1, 2, 3);
    m->cart.verticalMirroring = true;
    Write(*m, 0x8000, 0x13);
    ExpectPrg(*m, 12, 13, 14, 15);
    EXPECT_EQ(m->cart.mirrorDistance, 2048);
    Write(*m, 0xE000, 0x02);
    ExpectPrg(*m, 8, 9, 10, 11);
    EXPECT_EQ(m->cart.mirrorDistance, 1024);
    EXPECT_TRUE(m->cart.verticalMirroring);  // only the distance changes
    Write(*m, 0x8000, 0x3F);  // page 15 of 4 wraps; the distance is recorded as written
    ExpectPrg(*m, 12, 13, 14, 15);
    EXPECT_EQ(m->cart.mirrorDistance, 8192);
}

TEST(SimpleMapperTest, Mapper8SwitchesPrgAndChrFromOneValue) {
    auto m = StartMapper(8, 8, 4);
    ExpectPrg(*m, 0, 1, 2, 3);
    Write(*m, 0x8000, 0x1B);
    ExpectPrg(*m, 6, 7, 2, 3);
    ExpectChr4K(*m, 0x0000, 24);
    ExpectChr4K(*m, 0x1000, 28);
}

TEST(SimpleMapperTest, Mapper11Uses32KPageFromBits024AndLeavesChr) {
    auto m = StartMapper(11, 36, 2);  // 18 pages of 32 KB
    ExpectPrg(*m, 0, 1, 2, 3);
    SwitchChr8K(*m, 1);
    Write(*m, 0x8000, 0x11);
    ExpectPrg(*m, 68, 69, 70, 71);
    ExpectChr4K(*m, 0x0000, 8);
    Write(*m, 0x8000, 0xEA);  // bits 1, 3, 5-7 play no part
    ExpectPrg(*m, 0, 1, 2, 3);
}

TEST(SimpleMapperTest, Mapper15Registers) {
    auto m = StartMapper(15, 8, 0);
    ExpectPrg(*m, 0, 1, 2, 3);
    Write(*m, 0x8002, 0x81);
    ExpectPrg(*m, 3, 3, 3, 3);
    const PageTables before = m->pages;
    const int distance = m->cart.mirrorDistance;
    Write(*m, 0x9000, 0x45);
    Write(*m, 0x8004, 0x45);
    Write(*m, 0xF000, 0x45);
    EXPECT_TRUE(SameTables(m->pages, before));
    EXPECT_EQ(m->cart.mirrorDistance, distance);

    Write(*m, 0x8000, 0x45);
    EXPECT_TRUE(m->cart.verticalMirroring);
    EXPECT_EQ(m->cart.mirrorDistance, 2048);
    ExpectPrg(*m, 10, 11, 12, 13);
    Write(*m, 0x8000, 0x02);
    EXPECT_FALSE(m->cart.verticalMirroring);
    ExpectPrg(*m, 4, 5, 6, 7);

    Write(*m, 0x8001, 0xC1);
    ExpectPrg(*m, 4, 5, 2, 3);
    Write(*m, 0x8003, 0x43);
    EXPECT_TRUE(m->cart.verticalMirroring);
    ExpectPrg(*m, 4, 5, 6, 7);
    Write(*m, 0xF001, 0x82);
    ExpectPrg(*m, 4, 5, 5, 4);
    Write(*m, 0xF001, 0x01);
    ExpectPrg(*m, 4, 5, 2, 3);
    Write(*m, 0x8002, 0x40);  // rotated left: 8 KB page $80, wrapped inside 16 pages
    ExpectPrg(*m, 0x80 % 16, 0x80 % 16, 0x80 % 16, 0x80 % 16);
}

// ---- MMC1

TEST(Mmc1Test, FiveWritesCompleteTheControlRegister) {
    auto m = StartMapper(1, 8, 2, HeaderVertical);
    for (int bit : {1, 0, 0, 0, 0}) Write(*m, 0x8000, static_cast<uint8_t>(bit));
    EXPECT_EQ(m->mapper.mmc1Reg[0], 1);
    EXPECT_FALSE(m->cart.verticalMirroring);
    EXPECT_EQ(m->cart.mirrorDistance, 1024);
    EXPECT_EQ(m->mapper.mmc1ShiftCount, 0);
    Mmc1Write(*m, 0x9FFF, 3);  // with CHR-ROM no extra distance
    EXPECT_EQ(m->cart.mirrorDistance, 1024);
}

TEST(Mmc1Test, ResetBitDiscardsCollectedBitsAndMovesNothing) {
    auto m = StartMapper(1, 8, 2);
    Write(*m, 0xE000, 1);
    Write(*m, 0xE000, 1);
    const PageTables before = m->pages;
    Write(*m, 0xE000, 0x80);
    EXPECT_TRUE(SameTables(m->pages, before));
    EXPECT_EQ(m->mapper.mmc1Reg[0], 0x0C);
    EXPECT_EQ(m->mapper.mmc1Shift, 0);
    EXPECT_EQ(m->mapper.mmc1ShiftCount, 0);
    // A fresh value: 16 KB page 2 at $8000 (control $0C), the two discarded bits play no part.
    Mmc1Write(*m, 0xE000, 2);
    ExpectPrg(*m, 4, 5, 14, 15);
}

TEST(Mmc1Test, PrgRegisterIn16KAnd32KModes) {
    auto m = StartMapper(1, 8, 2);
    Mmc1Write(*m, 0x8000, 0x0C);
    for (int bit : {1, 0, 1, 0, 0}) Write(*m, 0xE000, static_cast<uint8_t>(bit));
    ExpectPrg(*m, 10, 11, 14, 15);

    Mmc1Write(*m, 0x8000, 0x08);  // 16 KB mode, $C000 switched
    Mmc1Write(*m, 0xE000, 3);
    ExpectPrg(*m, 10, 11, 6, 7);

    Mmc1Write(*m, 0x8000, 0x00);
    Mmc1Write(*m, 0xE000, 5);
    ExpectPrg(*m, 8, 9, 10, 11);
    Mmc1Write(*m, 0xE000, 0x1F);  // bit 4 is not a page bit: 32 KB page 7 wraps to 3
    ExpectPrg(*m, 12, 13, 14, 15);
}

TEST(Mmc1Test, MirrorExtraWithVerticalHeaderAndNoChrRom) {
    auto m = StartMapper(1, 8, 0, HeaderVertical);
    EXPECT_EQ(m->mapper.mmc1MirrorExtra, 2048);
    Mmc1Write(*m, 0x8000, 3);
    EXPECT_EQ(m->cart.mirrorDistance, 3072);
    Mmc1Write(*m, 0x8000, 2);
    EXPECT_EQ(m->cart.mirrorDistance, 2048);
    EXPECT_TRUE(m->cart.verticalMirroring);
    Mmc1Write(*m, 0x8000, 1);
    EXPECT_EQ(m->cart.mirrorDistance, 1024);

    auto horizontal = StartMapper(1, 8, 0);
    EXPECT_EQ(horizontal->mapper.mmc1MirrorExtra, 0);
    Mmc1Write(*horizontal, 0x8000, 3);
    EXPECT_EQ(horizontal->cart.mirrorDistance, 1024);
}

TEST(Mmc1Test, ChrRegistersWithChrRom) {
    auto m = StartMapper(1, 2, 4);
    Mmc1Write(*m, 0xA000, 4);  // 8 KB mode: page 4 >> 1 = 2
    ExpectChr4K(*m, 0x0000, 16);
    ExpectChr4K(*m, 0x1000, 20);
    Mmc1Write(*m, 0xC000, 1);  // register 2 does nothing in 8 KB mode
    ExpectChr4K(*m, 0x1000, 20);
    EXPECT_EQ(m->mapper.mmc1Reg[2], 1);

    Mmc1Write(*m, 0x8000, 0x10);  // 4 KB mode
    ExpectChr4K(*m, 0x0000, 16);  // no page moves until a CHR register is written
    Mmc1Write(*m, 0xA000, 5);
    ExpectChr4K(*m, 0x0000, 20);
    Mmc1Write(*m, 0xC000, 3);
    ExpectChr4K(*m, 0x1000, 12);
}

TEST(Mmc1Test, ChrRegistersWithoutChrRom) {
    auto m = StartMapper(1, 2, 0);
    Mmc1Write(*m, 0x8000, 0x10);
    Mmc1Write(*m, 0xA000, 1);  // register 1 leaves the pattern RAM in place
    ExpectChr4K(*m, 0x0000, 0x80);
    Mmc1Write(*m, 0xC000, 31);  // page 31 of 4 KB wraps to the upper half of the pattern RAM
    ExpectChr4K(*m, 0x1000, 0x84);
    Mmc1Write(*m, 0xC000, 0);
    ExpectChr4K(*m, 0x1000, 0x80);
}

// ---- MMC3

TEST(Mmc3Test, ChrBanksWithAndWithoutInversion) {
    auto m = StartMapper(4, 8, 16);
    Write(*m, 0x8000, 0x80);
    EXPECT_EQ(m->mapper.mmc3ChrInvert, 0x1000);
    Write(*m, 0x8001, 4);
    EXPECT_EQ(ChrUnit(*m, 0x1000), 4);
    EXPECT_EQ(ChrUnit(*m, 0x1400), 5);

    // value + 1 wraps to 0 in eight bits (24 units: 255 shows unit 15, 0 shows unit 0).
    auto odd = StartMapper(4, 2, 3);
    Write(*odd, 0x8000, 0x01);
    Write(*odd, 0x8001, 0xFF);
    EXPECT_EQ(ChrUnit(*odd, 0x0800), 255 % 24);
    EXPECT_EQ(ChrUnit(*odd, 0x0C00), 0);
    for (int r = 2; r <= 5; ++r) {
        Write(*m, 0x8000, static_cast<uint8_t>(r));
        Write(*m, 0x8001, static_cast<uint8_t>(40 + r));
        EXPECT_EQ(ChrUnit(*m, static_cast<uint16_t>(0x1000 + (r - 2) * 0x400)), 40 + r);
        Write(*m, 0x8000, static_cast<uint8_t>(0x80 | r));
        Write(*m, 0x8001, static_cast<uint8_t>(60 + r));
        EXPECT_EQ(ChrUnit(*m, static_cast<uint16_t>((r - 2) * 0x400)), 60 + r);
    }
}

TEST(Mmc3Test, PrgBanksFollowBit6) {
    auto m = StartMapper(4, 8, 8);
    ExpectPrg(*m, 0, 1, 14, 15);
    Write(*m, 0x8000, 0x46);
    ExpectPrg(*m, 0, 1, 14, 15);  // the select alone moves nothing
    Write(*m, 0x8001, 2);
    ExpectPrg(*m, 14, 1, 2, 15);
    Write(*m, 0x8000, 0x47);
    Write(*m, 0x8001, 5);
    ExpectPrg(*m, 14, 5, 2, 15);

    Write(*m, 0x8000, 0x07);  // bit 6 clear: an r = 7 write places the fixed page at $C000
    Write(*m, 0x8001, 6);
    ExpectPrg(*m, 14, 6, 14, 15);
    Write(*m, 0x8000, 0x06);
    Write(*m, 0x8001, 3);
    ExpectPrg(*m, 3, 6, 14, 15);
}

TEST(Mmc3Test, MirroringAndCounterRegistersDecodeByE001) {
    auto m = StartMapper(4, 8, 8);
    m->mapper.irqEnabled = false;
    Write(*m, 0xBFFE, 1);  // $A000
    EXPECT_FALSE(m->cart.verticalMirroring);
    EXPECT_EQ(m->cart.mirrorDistance, 1024);
    const PageTables before = m->pages;
    Write(*m, 0xA001, 0);  // ignored
    EXPECT_FALSE(m->cart.verticalMirroring);
    EXPECT_TRUE(SameTables(m->pages, before));

    Write(*m, 0xC000, 0);  // disabled: the value itself
    EXPECT_EQ(m->mapper.irqCounter, 0);
    Write(*m, 0xDFFF, 33);  // $C001: latch and enable
    EXPECT_EQ(m->mapper.irqLatch, 33);
    EXPECT_TRUE(m->mapper.irqEnabled);
    Write(*m, 0xC000, 20);
    EXPECT_EQ(m->mapper.irqCounter, 20);
    Write(*m, 0xC000, 0);  // enabled: the latch
    EXPECT_EQ(m->mapper.irqCounter, 33);
    Write(*m, 0xFFFE, 0);  // $E000
    EXPECT_FALSE(m->mapper.irqEnabled);
    Write(*m, 0xE001, 0);
    EXPECT_TRUE(m->mapper.irqEnabled);
}

TEST(Mmc3Test, SetupKeepsTheCounterStateOfThePreviousCartridge) {
    auto m = StartMapper(4, 8, 8);
    Write(*m, 0x8000, 0xC5);
    Write(*m, 0xC001, 12);
    Write(*m, 0xC000, 7);
    ASSERT_TRUE(MapperSetup(*m, 4));
    EXPECT_EQ(m->mapper.mmc3BankSelect, 0xC5);
    EXPECT_EQ(m->mapper.mmc3ChrInvert, 0);
    EXPECT_EQ(m->mapper.irqLatch, 12);
    EXPECT_EQ(m->mapper.irqCounter, 7);
    EXPECT_TRUE(m->mapper.irqEnabled);
}

TEST(Mmc3Test, ScanlineCounterRaisesIrqAtZeroAndStops) {
    auto m = StartMapper(4, 8, 8);
    Write(*m, 0xC001, 10);
    Write(*m, 0xC000, 0);
    for (int call = 1; call < 10; ++call) {
        EXPECT_EQ(MapperScanline(*m, InterruptRequest::None), InterruptRequest::None) << call;
    }
    EXPECT_FALSE(m->ppu.scrollUpdatePending);
    EXPECT_EQ(MapperScanline(*m, InterruptRequest::None), InterruptRequest::Irq);
    EXPECT_TRUE(m->ppu.scrollUpdatePending);
    EXPECT_FALSE(m->mapper.irqEnabled);
    EXPECT_EQ(m->mapper.irqCounter, 0);
    m->ppu.scrollUpdatePending = false;
    for (int call = 0; call < 300; ++call) {
        EXPECT_EQ(MapperScanline(*m, InterruptRequest::None), InterruptRequest::None);
    }
    EXPECT_EQ(m->mapper.irqCounter, 0);
    EXPECT_FALSE(m->ppu.scrollUpdatePending);

    // Enabled at zero: the counter wraps and the IRQ comes 65,536 calls later.
    Write(*m, 0xE001, 0);
    EXPECT_EQ(MapperScanline(*m, InterruptRequest::None), InterruptRequest::None);
    EXPECT_EQ(m->mapper.irqCounter, 65535);
    int calls = 0;
    while (MapperScanline(*m, InterruptRequest::None) == InterruptRequest::None && calls < 70000) {
        ++calls;
    }
    EXPECT_EQ(1 + calls + 1, 65536);  // the wrapping call, the quiet ones, the IRQ
}

TEST(Mmc3Test, DisabledCounterDoesNotCount) {
    auto m = StartMapper(4, 8, 8);
    Write(*m, 0xC001, 3);
    Write(*m, 0xC000, 3);
    Write(*m, 0xE000, 0);
    for (int call = 0; call < 10; ++call) {
        EXPECT_EQ(MapperScanline(*m, InterruptRequest::None), InterruptRequest::None);
    }
    EXPECT_EQ(m->mapper.irqCounter, 3);
    EXPECT_FALSE(m->ppu.scrollUpdatePending);
}

TEST(ScanlineHookTest, OtherMappersLeaveTheRequestAndCounters) {
    for (int number : {0, 1, 2, 9}) {
        auto m = StartMapper(number, 2, 1);
        m->mapper.irqCounter = 1;
        m->mapper.irqEnabled = true;
        m->mapper.bandaiIrqCounter = 1;
        m->mapper.bandaiIrqEnabled = true;
        EXPECT_EQ(MapperScanline(*m, InterruptRequest::None), InterruptRequest::None);
        EXPECT_EQ(m->mapper.irqCounter, 1);
        EXPECT_EQ(m->mapper.bandaiIrqCounter, 1);
        EXPECT_FALSE(m->ppu.scrollUpdatePending);
    }
}

// ---- MMC2 and MMC4

TEST(Mmc2Test, SetupAndRegisters) {
    auto m = StartMapper(9, 8, 16);
    ExpectPrg(*m, 0, 13, 14, 15);
    EXPECT_EQ(m->mapper.chrLatch, 0xFE);

    const PageTables before = m->pages;
    Write(*m, 0xD000, 3);  // latch is $FE: no effect
    Write(*m, 0x8000, 3);
    Write(*m, 0x9FFF, 3);
    EXPECT_TRUE(SameTables(m->pages, before));

    Write(*m, 0xE123, 3);
    ExpectChr4K(*m, 0x1000, 12);
    Write(*m, 0xB000, 5);
    ExpectChr4K(*m, 0x0000, 20);
    Write(*m, 0xC000, 6);
    ExpectChr4K(*m, 0x0000, 24);
    Write(*m, 0xA000, 9);
    ExpectPrg(*m, 9, 13, 14, 15);
    Write(*m, 0xF000, 1);
    EXPECT_EQ(m->cart.mirrorDistance, 1024);
    Write(*m, 0xF000, 0);
    EXPECT_EQ(m->cart.mirrorDistance, 2048);
}

TEST(Mmc2Test, SinglePageImageStaysInsideItsStore) {
    auto m = StartMapper(9, 1, 1);
    ExpectPrg(*m, 0, 1, 0, 1);
}

TEST(Mmc4Test, SetupAndRegisters) {
    auto m = StartMapper(10, 8, 16);
    ExpectPrg(*m, 0, 1, 14, 15);
    EXPECT_EQ(m->mapper.chrLatch0, 0xFE);
    EXPECT_EQ(m->mapper.chrLatch1, 0xFE);

    const PageTables before = m->pages;
    Write(*m, 0xB000, 3);
    Write(*m, 0xD000, 3);
    Write(*m, 0x9000, 3);
    EXPECT_TRUE(SameTables(m->pages, before));

    Write(*m, 0xA000, 2);
    ExpectPrg(*m, 4, 5, 14, 15);
    Write(*m, 0xC000, 3);
    ExpectChr4K(*m, 0x0000, 12);
    Write(*m, 0xE000, 1);
    ExpectChr4K(*m, 0x1000, 4);
    Write(*m, 0xF000, 1);
    EXPECT_FALSE(m->cart.verticalMirroring);
}

// ---- Bandai

TEST(BandaiTest, Registers) {
    auto m = StartMapper(16, 8, 8);
    for (int r = 0; r < 8; ++r) {
        Write(*m, static_cast<uint16_t>(0x8000 + r), static_cast<uint8_t>(50 + r));
    }
    for (int r = 0; r < 8; ++r) EXPECT_EQ(ChrUnit(*m, static_cast<uint16_t>(r * 0x400)), 50 + r);
    Write(*m, 0xFFF3, 7);  // decoded by address AND 15
    EXPECT_EQ(ChrUnit(*m, 0x0C00), 7);

    Write(*m, 0x8008, 3);
    ExpectPrg(*m, 6, 7, 14, 15);

    m->cart.verticalMirroring = true;
    Write(*m, 0x8009, 1);
    EXPECT_EQ(m->cart.mirrorDistance, 1024);
    EXPECT_TRUE(m->cart.verticalMirroring);
    Write(*m, 0x8009, 0);
    EXPECT_EQ(m->cart.mirrorDistance, 2048);

    const PageTables before = m->pages;
    Write(*m, 0x800B, 9);
    Write(*m, 0x800D, 9);
    Write(*m, 0x800F, 9);
    EXPECT_TRUE(SameTables(m->pages, before));
    EXPECT_EQ(m->mapper.bandaiIrqCounter, 0);
}

TEST(BandaiTest, CounterRaisesIrqAtTheFifthCall) {
    auto m = StartMapper(16, 8, 8);
    Write(*m, 0x800C, 5);
    EXPECT_TRUE(m->mapper.bandaiIrqEnabled);
    for (int call = 1; call < 5; ++call) {
        EXPECT_EQ(MapperScanline(*m, InterruptRequest::None), InterruptRequest::None) << call;
    }
    EXPECT_FALSE(m->ppu.scrollUpdatePending);
    EXPECT_EQ(MapperScanline(*m, InterruptRequest::None), InterruptRequest::Irq);
    EXPECT_TRUE(m->ppu.scrollUpdatePending);
    EXPECT_FALSE(m->mapper.bandaiIrqEnabled);
    EXPECT_EQ(MapperScanline(*m, InterruptRequest::None), InterruptRequest::None);

    Write(*m, 0x800C, 2);
    Write(*m, 0x800A, 0);  // bit 0 clear: disabled
    EXPECT_EQ(MapperScanline(*m, InterruptRequest::None), InterruptRequest::None);
    EXPECT_EQ(m->mapper.bandaiIrqCounter, 2);
    Write(*m, 0x800A, 1);
    EXPECT_EQ(MapperScanline(*m, InterruptRequest::None), InterruptRequest::None);
    EXPECT_EQ(MapperScanline(*m, InterruptRequest::None), InterruptRequest::Irq);
}

// ---- Mappers beyond the first sixteen numbers

// The byte at `address` of video memory as the picture processor holds it.
uint8_t VideoByte(const Machine& m, uint16_t address) {
    return m.ppu.vram[address];
}

void WriteVideo(Machine& m, uint16_t address, uint8_t value) {
    PpuWriteRegister(m, 0x2006, uint8_t(address >> 8));
    PpuWriteRegister(m, 0x2006, uint8_t(address));
    PpuWriteRegister(m, 0x2007, value);
}

// Register select, then the value, as an Action 53 program writes them.
void Action53(Machine& m, uint8_t select, uint8_t value) {
    Write(m, 0x5000, select);
    Write(m, 0x8000, value);
}

TEST(NewMapperTest, EveryValueAtEveryRegisterStaysInsideTheStores) {
    for (int number : SupportedMappers()) {
        for (int prgPages : {1, 3}) {
            for (int flags : {0, 2, 8, 9}) {  // battery, single screen, four screens
                SCOPED_TRACE(std::to_string(number) + " " + std::to_string(prgPages) + " " +
                             std::to_string(flags));
                auto m = StartMapper(number, prgPages, 0, flags);
                for (uint16_t address : {0x5000, 0x7FFD, 0x7FFE, 0x7FFF, 0x8000, 0x8001, 0x9555,
                                         0xAAAA, 0xC000, 0xFFFF}) {
                    for (uint8_t value : {0xFF, 0x80, 0x7F, 0xAA, 0x55}) {
                        Write(*m, address, value);
                        for (uint16_t w : {0x8000, 0xA000, 0xC000, 0xE000})
                            ASSERT_GE(PrgPage(*m, w), 0) << address;
                        for (uint16_t w = 0; w < 0x2000; w += 0x400) ASSERT_GE(ChrUnit(*m, w), 0);
                    }
                }
            }
        }
    }
}

TEST(Action53Test, SelectDecodesBitsSevenAndZero) {
    auto m = StartMapper(28, 32, 0);
    ExpectPrg(*m, 60, 61, 62, 63);  // power-on: the last 32 KB
    EXPECT_TRUE(m->cart.singleScreen);
    Write(*m, 0x5FFF, 0xFF);
    EXPECT_EQ(m->mapper.action53Select, 0x81);
    Write(*m, 0x5123, 0x7E);
    EXPECT_EQ(m->mapper.action53Select, 0x00);
    Write(*m, 0x4FFF, 0x81);  // not the select: ignored and logged
    EXPECT_EQ(m->mapper.action53Select, 0x00);
    EXPECT_EQ(m->log.Lines().back(), "Ignore write at address $4FFF");
    Write(*m, 0x6000, 0x81);  // cartridge RAM
    EXPECT_EQ(m->mapper.action53Select, 0x00);
}

TEST(Action53Test, LayoutsAndGameSizes) {
    auto m = StartMapper(28, 32, 0);  // 512 KB: 16 KB pages 0-31
    Action53(*m, 0x81, 5);            // outer bank 5: pages 10 and 11
    Action53(*m, 0x01, 3);
    Action53(*m, 0x80, 0x08);  // $8000 fixed in a 32 KB game: inner bit 0 at $C000
    ExpectPrg(*m, 20, 21, 22, 23);
    Action53(*m, 0x80, 0x0C);  // $C000 fixed
    ExpectPrg(*m, 22, 23, 22, 23);
    Action53(*m, 0x80, 0x1C);  // a 64 KB game: inner bits 0-1 replace outer page bits 0-1
    ExpectPrg(*m, 22, 23, 22, 23);
    Action53(*m, 0x01, 1);
    ExpectPrg(*m, 18, 19, 22, 23);
    Action53(*m, 0x80, 0x14);  // 32 KB layout of a 64 KB game: inner bit 0 picks the half
    ExpectPrg(*m, 20, 21, 22, 23);
    Action53(*m, 0x01, 2);
    ExpectPrg(*m, 16, 17, 18, 19);
    Action53(*m, 0x81, 0xFF);  // a 32 KB game at outer $FF: wraps to the last 32 KB
    Action53(*m, 0x80, 0x00);
    ExpectPrg(*m, 60, 61, 62, 63);
}

TEST(Action53Test, MirroringModesKeepBothScreens) {
    auto m = StartMapper(28, 32, 0);  // the low screen at power-on
    WriteVideo(*m, 0x2C05, 0xA1);
    Action53(*m, 0x80, 0x01);  // the high screen
    EXPECT_EQ(VideoByte(*m, 0x2005), 0);
    WriteVideo(*m, 0x2405, 0xB2);
    Action53(*m, 0x80, 0x03);  // horizontal: low screen at $2000 and $2400, high at $2800
    EXPECT_EQ(VideoByte(*m, 0x2005), 0xA1);
    EXPECT_EQ(VideoByte(*m, 0x2405), 0xA1);
    EXPECT_EQ(VideoByte(*m, 0x2805), 0xB2);
    EXPECT_EQ(VideoByte(*m, 0x2C05), 0xB2);
    EXPECT_FALSE(m->cart.singleScreen);
    EXPECT_EQ(m->cart.mirrorDistance, 1024);
    WriteVideo(*m, 0x2006, 0xC3);  // the low screen, and its partner table
    Action53(*m, 0x80, 0x02);      // vertical: low at $2000 and $2800, high at $2400
    EXPECT_EQ(VideoByte(*m, 0x2806), 0xC3);
    EXPECT_EQ(VideoByte(*m, 0x2405), 0xB2);
    EXPECT_EQ(VideoByte(*m, 0x2406), 0);
    EXPECT_TRUE(m->cart.verticalMirroring);

    Action53(*m, 0x80, 0x00);  // the low screen; bit 4 of inner bank and CHR writes picks
    Action53(*m, 0x01, 0x10);
    EXPECT_EQ(VideoByte(*m, 0x2005), 0xB2);
    Action53(*m, 0x00, 0x00);
    EXPECT_EQ(VideoByte(*m, 0x2C06), 0xC3);
    Action53(*m, 0x81, 0x10);  // not the outer bank
    EXPECT_EQ(VideoByte(*m, 0x2C06), 0xC3);
}

TEST(Unrom512Test, PatternRamBanksKeepTheirBytes) {
    auto m = StartMapper(30, 32, 0);
    WriteVideo(*m, 0x0123, 0x11);
    const uint32_t generation = m->ppu.backgroundGeneration;
    Write(*m, 0x8000, 0x40);  // bank 2
    EXPECT_NE(m->ppu.backgroundGeneration, generation);
    EXPECT_EQ(PatternByte(*m, 0x0123), 0);
    WriteVideo(*m, 0x0123, 0x22);
    Write(*m, 0x8000, 0x00);
    EXPECT_EQ(PatternByte(*m, 0x0123), 0x11);
    Write(*m, 0x8000, 0x40);
    EXPECT_EQ(PatternByte(*m, 0x0123), 0x22);

    auto rom = StartMapper(30, 2, 4);  // with CHR-ROM bits 5-6 select its 8 KB pages
    Write(*rom, 0x8000, 0x60);
    ExpectChr4K(*rom, 0x0000, 24);
}

TEST(Unrom512Test, HeaderBitsChooseTheArrangement) {
    EXPECT_EQ(StartMapper(30, 2, 0, 0)->cart.mirrorDistance, 1024);
    EXPECT_EQ(StartMapper(30, 2, 0, HeaderVertical)->cart.mirrorDistance, 2048);
    auto one = StartMapper(30, 2, 0, HeaderFourScreen);
    EXPECT_TRUE(one->cart.singleScreen);
    auto four = StartMapper(30, 2, 0, HeaderFourScreen | HeaderVertical);
    EXPECT_FALSE(four->cart.singleScreen);
    WriteVideo(*four, 0x2010, 7);
    for (uint16_t other : {0x2410, 0x2810, 0x2C10}) EXPECT_EQ(VideoByte(*four, other), 0);
    Write(*four, 0x8000, 0x80);  // bit 7 picks no screen here
    EXPECT_EQ(VideoByte(*four, 0x2010), 7);
}

// Chip commands as a program writes them: the page register ($C000) gives chip address bits
// 14-18, the write at $8000-$BFFF bits 0-13.
void FlashWrite(Machine& m, uint32_t chip, uint8_t value) {
    Write(m, 0xC000, uint8_t(chip >> 14));
    Write(m, uint16_t(0x8000 | (chip & 0x3FFF)), value);
}

void FlashCommand(Machine& m, uint8_t command) {
    FlashWrite(m, 0x5555, 0xAA);
    FlashWrite(m, 0x2AAA, 0x55);
    FlashWrite(m, 0x5555, command);
}

TEST(Unrom512Test, FlashChipCommands) {
    auto m = StartMapper(30, 32, 0, HeaderBattery);  // 512 KB
    FlashCommand(*m, 0x90);
    EXPECT_EQ(CartridgeByte(*m, 0xA000), 0xBF);
    EXPECT_EQ(CartridgeByte(*m, 0xC001), 0xB7);
    FlashCommand(*m, 0xF0);
    ExpectPrg(*m, 2, 3, 62, 63);  // the register's page 1 from the last command

    // A wrong write in the unlock cycles cancels the command.
    FlashWrite(*m, 0x5555, 0xAA);
    FlashWrite(*m, 0x2AAB, 0x55);
    FlashWrite(*m, 0x5555, 0xA0);
    FlashWrite(*m, 0x0000, 0x00);
    EXPECT_EQ(m->cart.prgRom[0], 0);
    FlashWrite(*m, 0x0000, 0x00);
    EXPECT_EQ(m->cart.prgRom[0], 0);

    FlashCommand(*m, 0x80);
    FlashCommand(*m, 0x10);  // the whole chip
    EXPECT_EQ(std::count(m->cart.prgRom.begin(), m->cart.prgRom.end(), 0xFF),
              std::ptrdiff_t(m->cart.prgRom.size()));
    FlashCommand(*m, 0xA0);
    FlashWrite(*m, 0x7FFFF, 0x3C);  // the last byte of the chip
    EXPECT_EQ(m->cart.prgRom.back(), 0x3C);

    auto plain = StartMapper(30, 32, 0);  // without the battery bit $8000 is the register
    Write(*plain, 0x9555, 3);
    ExpectPrg(*plain, 6, 7, 62, 63);
}

TEST(Mapper34Test, ChrRomOfMoreThanEightKilobytesMeansNina001) {
    auto bnrom = StartMapper(34, 4, 1);
    EXPECT_FALSE(bnrom->mapper.nina001);
    EXPECT_EQ(bnrom->cart.mapperName, "BNROM");
    Write(*bnrom, 0x8000, 1);
    ExpectPrg(*bnrom, 4, 5, 6, 7);
    Write(*bnrom, 0x7FFD, 0);  // cartridge RAM only
    ExpectPrg(*bnrom, 4, 5, 6, 7);

    auto nina = StartMapper(34, 4, 8);
    EXPECT_TRUE(nina->mapper.nina001);
    EXPECT_EQ(nina->cart.mapperName, "NINA-001");
    Write(*nina, 0x8000, 1);  // no register
    ExpectPrg(*nina, 0, 1, 2, 3);
    Write(*nina, 0x7FFD, 1);
    ExpectPrg(*nina, 4, 5, 6, 7);
    Write(*nina, 0x7FFF, 9);
    ExpectChr4K(*nina, 0x1000, 36);
    EXPECT_EQ(nina->cart.backedMemory[0x1FFF], 9);
    MapperWrite(*nina, 0x7FFE, 5);  // the debugger's writes below $8000 reach no register
    ExpectChr4K(*nina, 0x0000, 0);
}

}  // namespace
}  // namespace vexalo
