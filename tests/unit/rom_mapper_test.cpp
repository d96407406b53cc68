// The mapper test cartridges (tests/roms/mappers) run on the whole machine: each program switches
// banks step by step and records after every step which 8 KB PRG bank it reads in each CPU
// window, which 1 KB CHR unit it reads through PPUDATA in each pattern window and where a
// name-table write is mirrored. The tests compare that record with the register tables of each
// mapper, then check the page tables and the mapper state the run left behind. For the counting
// mappers (MMC3, Bandai) they also check the line after which each scanline IRQ was taken, both
// from the CPU's side (the first instruction of the handler) and in the drawn picture (the
// handler turns the background off).
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <filesystem>
#include <map>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "cartridge/engine.h"
#include "machine/bus.h"
#include "machine/machine.h"
#include "tests/unit/image_builder.h"

namespace vexalo {
namespace {

// Result record of the cartridges in work RAM (see tests/roms/mappers/mapper_harness.s).
constexpr uint16_t kDone = 0x0600;
constexpr uint16_t kSnapshotCount = 0x0601;
constexpr uint16_t kFramesDone = 0x0602;
constexpr uint16_t kIrqHistory = 0x0608;
constexpr uint16_t kSnapshots = 0x0610;
constexpr int kSnapshotSize = 13;
constexpr int kScreenSnapshotSize = 17;  // with the screen marks
constexpr uint8_t kDoneMark = 0xA5;

// Where a write to name-table address $2010 is mirrored, as the cartridges record it.
constexpr uint8_t kHorizontal = 1;   // $2410: distance 1024
constexpr uint8_t kVertical = 2;     // $2810: distance 2048
constexpr uint8_t kWide = 4;         // $2C10: distance 3072
constexpr uint8_t kOneScreen = 7;    // all three: one screen behind the four tables
constexpr uint8_t kFourScreens = 0;  // none: four separate tables

struct Snapshot {
    std::array<uint8_t, 4> prg{};  // 8 KB bank at $8000, $A000, $C000, $E000
    std::array<uint8_t, 8> chr{};  // 1 KB unit at $0000, $0400 ... $1C00
    uint8_t mirror = 0;
    std::array<uint8_t, 4> screens{};  // the marks at $2020, $2420, $2820, $2C20, when recorded
    bool operator==(const Snapshot&) const = default;
};

void PrintTo(const Snapshot& s, std::ostream* os) {
    *os << "prg {";
    for (int b : s.prg) *os << ' ' << b;
    *os << " } chr {";
    for (int u : s.chr) *os << ' ' << u;
    *os << " } mirror " << int(s.mirror) << " screens {";
    for (int k : s.screens) *os << ' ' << k;
    *os << " }";
}

using Prg = std::array<uint8_t, 4>;
using Chr = std::array<uint8_t, 8>;

Prg Prg16(int low, int high) {
    return {uint8_t(2 * low), uint8_t(2 * low + 1), uint8_t(2 * high), uint8_t(2 * high + 1)};
}
Prg Prg32(int page) {
    return {uint8_t(4 * page), uint8_t(4 * page + 1), uint8_t(4 * page + 2), uint8_t(4 * page + 3)};
}
Chr Chr4(int low, int high) {
    Chr c;
    for (int i = 0; i < 4; ++i) {
        c[i] = uint8_t(4 * low + i);
        c[4 + i] = uint8_t(4 * high + i);
    }
    return c;
}
Chr Chr8(int page) {
    return Chr4(2 * page, 2 * page + 1);
}

int DistanceOf(uint8_t mirror) {
    switch (mirror) {
        case kHorizontal: return 1024;
        case kVertical: return 2048;
        case kWide: return 3072;
        case kOneScreen:
        case kFourScreens: return 0;
        default: return -1;
    }
}

uint8_t Ram(const Machine& m, uint16_t address) {
    return m.internalRam[address & 0x07FF];
}

std::vector<Snapshot> RecordedSnapshots(const Machine& m, int size) {
    std::vector<Snapshot> out;
    const int count = Ram(m, kSnapshotCount);
    for (int i = 0; i < count; ++i) {
        const uint16_t at = uint16_t(kSnapshots + i * size);
        if (at + size > 0x0800) break;
        Snapshot s;
        for (int w = 0; w < 4; ++w) s.prg[w] = Ram(m, uint16_t(at + w));
        for (int w = 0; w < 8; ++w) s.chr[w] = Ram(m, uint16_t(at + 4 + w));
        s.mirror = Ram(m, uint16_t(at + 12));
        if (size == kScreenSnapshotSize)
            for (int k = 0; k < 4; ++k) s.screens[k] = Ram(m, uint16_t(at + 13 + k));
        out.push_back(s);
    }
    return out;
}

// The `count` bytes the cartridge appended after its snapshots of `size` bytes.
std::vector<uint8_t> AppendedBytes(const Machine& m, int size, int count) {
    std::vector<uint8_t> out;
    const int start = kSnapshots + Ram(m, kSnapshotCount) * size;
    for (int i = 0; i < count && start + i < 0x0800; ++i)
        out.push_back(Ram(m, uint16_t(start + i)));
    return out;
}

// What the window sees of a drawn frame, kept at each PresentFrame (line 0, after the program
// has handled vertical blank).
struct PresentedFrame {
    FrameBuffer frame;
    std::array<uint8_t, 2048> ram;
    uint64_t framesCompleted;  // frames whose line 0 has passed, this one included
};

class CapturingHost : public EngineHost {
   public:
    const Machine* machine = nullptr;
    std::vector<PresentedFrame> presented;
    void PresentFrame() override {
        presented.push_back({machine->frame, machine->internalRam, machine->framesCompleted});
    }
};

// One cartridge started in its own engine, drawing every frame.
class MapperCartridge {
   public:
    // The cartridge `name` of the test cartridge folder, or of `folder` (where it is copied).
    explicit MapperCartridge(const std::string& name,
                             const std::string& folder = VEXALO_TEST_ROM_DIR)
        : engine_(&host_) {
        host_.machine = &engine_.machine();
        started_ = engine_.StartEngine(folder + "/" + name + ".nes");
        engine_.machine().settings.FrameRate = 1;
    }

    bool started() const { return started_; }
    const Machine& machine() const { return engine_.machine(); }
    Engine& engine() { return engine_; }
    const std::vector<PresentedFrame>& presented() const { return host_.presented; }
    // (frame, line) at the first instruction of each IRQ handler run: the line whose end raised
    // the IRQ, in the frame counted by `framesCompleted`.
    const std::vector<std::pair<uint64_t, int>>& irqsTaken() const { return irqsTaken_; }
    // The mapper registers at the start of vertical blank (before the first instruction after
    // line 231) of each frame, by `framesCompleted` during that frame.
    const std::map<uint64_t, MapperState>& mapperAtVblank() const { return mapperAtVblank_; }

    void RunFrames(int frames) {
        const Machine& m = engine_.machine();
        const uint16_t handler =
            uint16_t(CartridgeByte(m, 0xFFFE) | (CartridgeByte(m, 0xFFFF) << 8));
        engine_.Run(int64_t(frames) * kLinesPerFrame, [&](const CpuState& cpu) {
            if (cpu.PC == handler) irqsTaken_.emplace_back(m.framesCompleted, m.scanline);
            if (m.scanline == kLastDrawnLine)
                mapperAtVblank_.try_emplace(m.framesCompleted, m.mapper);
        });
    }

   private:
    CapturingHost host_;
    Engine engine_;
    bool started_ = false;
    std::vector<std::pair<uint64_t, int>> irqsTaken_;
    std::map<uint64_t, MapperState> mapperAtVblank_;
};

// The frame presented right after the program recorded the end of interrupt frame k.
const PresentedFrame* PresentedAfter(const MapperCartridge& cart, size_t k) {
    for (const PresentedFrame& p : cart.presented())
        if (p.ram[kFramesDone & 0x7FF] == k + 1) return &p;
    return nullptr;
}

// The mapper registers as interrupt frame k ended; null when the run did not get there.
const MapperState* MapperAfter(const MapperCartridge& cart, size_t k) {
    const PresentedFrame* shown = PresentedAfter(cart, k);
    if (!shown) return nullptr;
    const auto it = cart.mapperAtVblank().find(shown->framesCompleted - 1);
    return it == cart.mapperAtVblank().end() ? nullptr : &it->second;
}

// The run reached the end of the program, touched no unmapped I/O address, and recorded the
// expected snapshots (of `size` bytes each).
void ExpectRecord(const Machine& m, const std::vector<Snapshot>& expected,
                  int size = kSnapshotSize) {
    EXPECT_EQ(Ram(m, kDone), kDoneMark) << "the program did not finish";
    const std::vector<Snapshot> got = RecordedSnapshots(m, size);
    ASSERT_EQ(got.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(got[i], expected[i]) << "step " << i;
    for (const std::string& line : m.log.Lines())
        EXPECT_EQ(line.rfind("Ignore", 0), std::string::npos) << line;
}

// The page tables and the name-table distance show `layout` at the first and last byte of every
// window.
void ExpectLayout(const Machine& m, const Snapshot& layout) {
    for (int w = 0; w < 4; ++w) {
        const uint16_t first = uint16_t(0x8000 + w * 0x2000);
        EXPECT_EQ(CartridgeByte(m, first), layout.prg[w]) << "CPU window " << w;
        EXPECT_EQ(CartridgeByte(m, uint16_t(first + 0x1FF7)), layout.prg[w]) << "CPU window " << w;
    }
    for (int w = 0; w < 8; ++w) {
        const uint16_t first = uint16_t(w * 0x400);
        EXPECT_EQ(PatternByte(m, first), layout.chr[w]) << "pattern window " << w;
        EXPECT_EQ(PatternByte(m, uint16_t(first + 0x3FF)), layout.chr[w]) << "pattern window " << w;
    }
    EXPECT_EQ(m.cart.mirrorDistance, DistanceOf(layout.mirror));
}

// The drawn frame and the IRQs of each frame of the interrupt phase. `irqLine[k]` is the line
// after which frame k's IRQ is taken, or -1 for a frame without one; the background is drawn
// from line 8 down to that line and is off below it.
void ExpectInterruptFrames(const MapperCartridge& cart, const std::vector<int>& irqLine,
                           const std::vector<int>& irqCount) {
    ASSERT_EQ(irqLine.size(), irqCount.size());
    const Machine& m = cart.machine();
    ASSERT_EQ(Ram(m, kFramesDone), irqLine.size()) << "interrupt phase incomplete";
    for (size_t k = 0; k < irqLine.size(); ++k) {
        SCOPED_TRACE("interrupt frame " + std::to_string(k));
        EXPECT_EQ(Ram(m, uint16_t(kIrqHistory + k)), irqCount[k]);

        const PresentedFrame* shown = PresentedAfter(cart, k);
        ASSERT_NE(shown, nullptr);
        const int lastDrawn = irqLine[k] < 0 ? kLastDrawnLine : irqLine[k];
        for (int row = kFirstDrawnLine; row <= kLastDrawnLine; ++row) {
            bool drawn = false;
            for (int x = 0; x < kScreenWidth; ++x)
                drawn |= shown->frame[row * kScreenWidth + x] != 0;
            EXPECT_EQ(drawn, row <= lastDrawn) << "row " << row;
        }

        std::vector<int> lines;
        for (const auto& [frame, line] : cart.irqsTaken())
            if (frame + 1 == shown->framesCompleted) lines.push_back(line);
        if (irqLine[k] < 0)
            EXPECT_TRUE(lines.empty());
        else
            EXPECT_EQ(lines, std::vector<int>{irqLine[k]});
    }
}

TEST(RomMapperTest, Mmc1SerialRegistersSwitchPrgChrAndMirroring) {
    MapperCartridge cart("mmc1_test");
    ASSERT_TRUE(cart.started());
    cart.RunFrames(10);
    const Machine& m = cart.machine();
    const Snapshot last{Prg16(4, 3), Chr4(5, 2), kVertical};
    ExpectRecord(m, {
                        {Prg16(0, 7), Chr8(0), kHorizontal},   // reset write moves nothing
                        {Prg16(0, 7), Chr8(0), kVertical},     // control $0E
                        {Prg16(5, 7), Chr8(0), kVertical},     // $8000 switched
                        {Prg16(5, 7), Chr8(0), kHorizontal},   // control $0B
                        {Prg16(5, 3), Chr8(0), kHorizontal},   // $C000 switched
                        {Prg16(5, 3), Chr8(0), kVertical},     // control $02: 32 KB mode
                        {Prg32(2), Chr8(0), kVertical},        // value 5: 32 KB page 2
                        {Prg32(1), Chr8(0), kVertical},        // value $13: page 1
                        {Prg32(1), Chr8(1), kVertical},        // 8 KB CHR, value 3
                        {Prg32(1), Chr8(1), kVertical},        // CHR bank 1 ignored
                        {Prg32(1), Chr8(1), kVertical},        // control $12: 4 KB CHR
                        {Prg32(1), Chr4(5, 3), kVertical},     // 4 KB at $0000
                        {Prg32(1), Chr4(5, 2), kVertical},     // 4 KB at $1000
                        {Prg32(1), Chr4(5, 2), kVertical},     // reset after two bits
                        {Prg16(0, 3), Chr4(5, 2), kVertical},  // 16 KB mode from the reset
                        last,                                  // fifth bit decides the register
                    });
    ExpectLayout(m, last);
    EXPECT_EQ(m.mapper.mmc1Reg[0], 0x1E);
    EXPECT_EQ(m.mapper.mmc1Reg[1], 5);
    EXPECT_EQ(m.mapper.mmc1Reg[2], 2);
    EXPECT_EQ(m.mapper.mmc1Reg[3], 4);
    EXPECT_EQ(m.mapper.mmc1ShiftCount, 0);
    EXPECT_TRUE(m.cart.verticalMirroring);
}

TEST(RomMapperTest, Mmc1TakesOnlyTheFirstWriteOfAReadModifyWrite) {
    // INC on a $FF byte: the unmodified $FF resets the shift register, and the $00 written on
    // the next cycle is ignored, so the three bits before it are gone and the next five count.
    MapperCartridge cart("mmc1_rmw_test");
    ASSERT_TRUE(cart.started());
    cart.RunFrames(10);
    const Machine& m = cart.machine();
    ExpectRecord(m, {
                        {Prg16(5, 7), Chr8(0), kVertical},
                        {Prg16(5, 7), Chr8(0), kVertical},
                        {Prg16(2, 7), Chr8(0), kVertical},
                    });
    EXPECT_EQ(m.mapper.mmc1ShiftCount, 0);
}

TEST(RomMapperTest, Mmc1WithoutChrRomWidensMirroringAndSwitchesPatternRam) {
    MapperCartridge cart("mmc1_chrram_test");
    ASSERT_TRUE(cart.started());
    cart.RunFrames(5);
    const Machine& m = cart.machine();
    const Chr ramUnits = Chr4(0, 1);
    const Snapshot last{Prg32(0), Chr4(0, 0), kWide};
    ExpectRecord(m, {
                        {Prg32(0), ramUnits, kVertical},  // header: vertical
                        {Prg32(0), ramUnits, kWide},      // control 3: 1024 + 2048
                        {Prg32(0), ramUnits, kVertical},  // control 2
                        {Prg32(0), ramUnits, kHorizontal},
                        {Prg32(0), ramUnits, kWide},  // control $13: 4 KB CHR mode
                        {Prg32(0), ramUnits, kWide},  // CHR bank 0 moves no window
                        last,                         // CHR bank 1: pattern RAM $0000 at $1000
                    });
    ExpectLayout(m, last);
    EXPECT_FALSE(m.cart.verticalMirroring);
}

TEST(RomMapperTest, Mmc3BanksInversionPrgModeAndMirroring) {
    MapperCartridge cart("mmc3_test");
    ASSERT_TRUE(cart.started());
    cart.RunFrames(12);
    const Machine& m = cart.machine();
    const Chr set{13, 14, 20, 21, 30, 31, 40, 41};
    const Chr inverted{13, 14, 20, 50, 33, 5, 60, 61};
    ExpectRecord(m, {
                        {Prg16(0, 7), Chr8(0), kHorizontal},
                        {Prg16(0, 7), set, kHorizontal},
                        {Prg16(0, 7), set, kHorizontal},  // select $80 alone
                        {Prg16(0, 7), {13, 14, 20, 21, 4, 5, 40, 41}, kHorizontal},
                        {Prg16(0, 7), {13, 14, 20, 50, 4, 5, 40, 41}, kHorizontal},
                        {Prg16(0, 7), {13, 14, 20, 50, 4, 5, 60, 61}, kHorizontal},
                        {Prg16(0, 7), inverted, kHorizontal},  // $9FFE/$9FFF decode
                        {{3, 1, 14, 15}, inverted, kHorizontal},
                        {{3, 5, 14, 15}, inverted, kHorizontal},
                        {{3, 5, 14, 15}, inverted, kHorizontal},  // select $46 alone
                        {{14, 5, 2, 15}, inverted, kHorizontal},
                        {{14, 7, 2, 15}, inverted, kHorizontal},
                        {{14, 9, 14, 15}, inverted, kHorizontal},
                        {{14, 9, 14, 15}, inverted, kHorizontal},  // $A001 ignored
                        {{14, 9, 14, 15}, inverted, kVertical},    // $BFFE is $A000
                        {{14, 9, 14, 15}, inverted, kHorizontal},
                    });
    // The interrupt phase starts with r0 <- 6.
    ExpectLayout(m, {{14, 9, 14, 15}, {6, 7, 20, 50, 33, 5, 60, 61}, kHorizontal});
    EXPECT_FALSE(m.cart.verticalMirroring);
}

TEST(RomMapperTest, Mmc3ScanlineIrqIsTakenAfterTheLatchedLine) {
    MapperCartridge cart("mmc3_test");
    ASSERT_TRUE(cart.started());
    cart.RunFrames(12);
    const Machine& m = cart.machine();
    ASSERT_EQ(Ram(m, kDone), kDoneMark);
    // Latch 1, latch 20, counter 224 written directly, disabled, raised while I is set (lost),
    // re-enabled with the latch of 50 still in place.
    ExpectInterruptFrames(cart, {8, 27, 231, -1, -1, 57}, {1, 1, 1, 0, 0, 1});

    // Mapper state as each frame ended: a counter stops at zero with the IRQ; $C000 <- 0 while
    // disabled leaves it at zero; a lost IRQ still disables counting.
    for (size_t k = 0; k < 6; ++k) {
        const MapperState* after = MapperAfter(cart, k);
        ASSERT_NE(after, nullptr) << "frame " << k;
        EXPECT_EQ(after->irqCounter, 0) << "frame " << k;
        EXPECT_FALSE(after->irqEnabled) << "frame " << k;
    }
    EXPECT_EQ(MapperAfter(cart, 1)->irqLatch, 20);
    EXPECT_EQ(MapperAfter(cart, 3)->irqLatch, 5);
    EXPECT_EQ(m.mapper.irqLatch, 50);
    EXPECT_FALSE(m.mapper.irqEnabled);
}

TEST(RomMapperTest, Mmc2PrgLayoutAndOnlyTheLatchedChrRegisters) {
    MapperCartridge cart("mmc2_test");
    ASSERT_TRUE(cart.started());
    cart.RunFrames(5);
    const Machine& m = cart.machine();
    const Snapshot last{{7, 13, 14, 15}, Chr4(4, 3), kHorizontal};
    ExpectRecord(m, {
                        {{0, 13, 14, 15}, Chr8(0), kHorizontal},  // bank 0, then the last three
                        {{5, 13, 14, 15}, Chr8(0), kHorizontal},
                        {{7, 13, 14, 15}, Chr8(0), kHorizontal},  // $AFFF
                        {{7, 13, 14, 15}, Chr8(0), kHorizontal},  // $8000, $9000 ignored
                        {{7, 13, 14, 15}, Chr4(2, 1), kHorizontal},
                        {{7, 13, 14, 15}, Chr4(4, 1), kHorizontal},
                        {{7, 13, 14, 15}, Chr4(4, 1), kHorizontal},  // $D000: latch is $FE
                        {{7, 13, 14, 15}, Chr4(4, 3), kHorizontal},  // $EFFF
                        {{7, 13, 14, 15}, Chr4(4, 3), kVertical},
                        last,
                    });
    ExpectLayout(m, last);
    EXPECT_EQ(m.mapper.chrLatch, 0xFE);
}

TEST(RomMapperTest, Mmc4SwitchesSixteenKilobytesAndOnlyTheLatchedChrRegisters) {
    MapperCartridge cart("mmc4_test");
    ASSERT_TRUE(cart.started());
    cart.RunFrames(5);
    const Machine& m = cart.machine();
    const Snapshot last{Prg16(3, 7), Chr4(5, 6), kVertical};
    ExpectRecord(m, {
                        {Prg16(0, 7), Chr8(0), kHorizontal},
                        {Prg16(3, 7), Chr8(0), kHorizontal},
                        {Prg16(3, 7), Chr8(0), kHorizontal},  // $B000: latch 0 is $FE
                        {Prg16(3, 7), Chr4(5, 1), kHorizontal},
                        {Prg16(3, 7), Chr4(5, 1), kHorizontal},  // $D000: latch 1 is $FE
                        {Prg16(3, 7), Chr4(5, 6), kHorizontal},
                        last,
                        last,  // $8000, $9FFF ignored
                    });
    ExpectLayout(m, last);
    EXPECT_EQ(m.mapper.chrLatch0, 0xFE);
    EXPECT_EQ(m.mapper.chrLatch1, 0xFE);
}

TEST(RomMapperTest, BandaiRegistersDecodeByTheLowFourAddressBits) {
    MapperCartridge cart("bandai_test");
    ASSERT_TRUE(cart.started());
    cart.RunFrames(10);
    const Machine& m = cart.machine();
    const Chr set{31, 30, 29, 28, 27, 26, 25, 24};
    const Snapshot last{Prg16(5, 7), set, kVertical};
    ExpectRecord(m, {
                        {Prg16(0, 7), Chr8(0), kHorizontal},
                        {Prg16(0, 7), set, kHorizontal},
                        {Prg16(3, 7), set, kHorizontal},
                        {Prg16(5, 7), set, kHorizontal},  // $BFF8
                        {Prg16(5, 7), set, kVertical},
                        {Prg16(5, 7), set, kHorizontal},  // $C019
                        last,                             // registers 11, 13-15 ignored
                    });
    ExpectLayout(m, last);
    EXPECT_FALSE(m.cart.verticalMirroring) << "the header's flag is not the mapper's business";
}

TEST(RomMapperTest, BandaiScanlineIrqCountsDownFromTheWrittenValue) {
    MapperCartridge cart("bandai_test");
    ASSERT_TRUE(cart.started());
    cart.RunFrames(10);
    const Machine& m = cart.machine();
    ASSERT_EQ(Ram(m, kDone), kDoneMark);
    // Counter 5; 100 then disabled; enabled again with the 100 left; 1 written at $E01C.
    ExpectInterruptFrames(cart, {12, -1, 107, 8}, {1, 0, 1, 1});
    for (size_t k = 0; k < 4; ++k) {
        const MapperState* after = MapperAfter(cart, k);
        ASSERT_NE(after, nullptr) << "frame " << k;
        // The disabled frame keeps its 100; the others stop at zero with their IRQ.
        EXPECT_EQ(after->bandaiIrqCounter, k == 1 ? 100 : 0) << "frame " << k;
        EXPECT_FALSE(after->bandaiIrqEnabled) << "frame " << k;
    }
    EXPECT_EQ(m.mapper.bandaiIrqCounter, 0);
    EXPECT_FALSE(m.mapper.bandaiIrqEnabled);
}

TEST(RomMapperTest, Mapper2SwitchesSixteenKilobytesAtEightThousand) {
    MapperCartridge cart("mapper2_test");
    ASSERT_TRUE(cart.started());
    cart.RunFrames(5);
    const Machine& m = cart.machine();
    const Chr ram = Chr4(0, 1);
    const Snapshot last{Prg16(7, 7), ram, kVertical};
    ExpectRecord(m, {
                        {Prg16(0, 7), ram, kVertical},
                        {Prg16(3, 7), ram, kVertical},
                        {Prg16(5, 7), ram, kVertical},
                        {Prg16(0, 7), ram, kVertical},
                        last,
                    });
    ExpectLayout(m, last);
}

TEST(RomMapperTest, Mapper3SwitchesEightKilobytesOfChrWithTheMask) {
    MapperCartridge cart("mapper3_test");
    ASSERT_TRUE(cart.started());
    cart.RunFrames(5);
    const Machine& m = cart.machine();
    const Snapshot last{Prg32(0), Chr8(0), kHorizontal};
    ExpectRecord(m, {
                        last,
                        {Prg32(0), Chr8(1), kHorizontal},
                        {Prg32(0), Chr8(3), kHorizontal},
                        {Prg32(0), Chr8(2), kHorizontal},  // 6 AND 3
                        last,                              // $FC AND 3
                    });
    ExpectLayout(m, last);
    EXPECT_EQ(m.mapper.chrBankMask, 3);
}

TEST(RomMapperTest, Mapper7SwitchesThirtyTwoKilobytesAndTheMirrorDistance) {
    MapperCartridge cart("mapper7_test");
    ASSERT_TRUE(cart.started());
    cart.RunFrames(5);
    const Machine& m = cart.machine();
    const Chr ram = Chr4(0, 1);
    const Snapshot last{Prg32(0), ram, kVertical};
    ExpectRecord(m, {
                        {Prg32(0), ram, kHorizontal},
                        {Prg32(3), ram, kVertical},
                        {Prg32(2), ram, kHorizontal},
                        {Prg32(1), ram, kVertical},
                        {Prg32(0), ram, kHorizontal},
                        last,
                    });
    ExpectLayout(m, last);
    EXPECT_FALSE(m.cart.verticalMirroring) << "the header's flag is not the mapper's business";
}

TEST(RomMapperTest, Mapper11TakesBitsZeroTwoAndFourAsThePage) {
    MapperCartridge cart("mapper11_test");
    ASSERT_TRUE(cart.started());
    cart.RunFrames(5);
    const Machine& m = cart.machine();
    const Snapshot last{Prg32(1), Chr8(0), kVertical};
    ExpectRecord(m, {
                        {Prg32(0), Chr8(0), kVertical},
                        {Prg32(5), Chr8(0), kVertical},  // $0F
                        {Prg32(0), Chr8(0), kVertical},  // $02
                        {Prg32(4), Chr8(0), kVertical},  // $A4: no CHR switch
                        last,                            // $0B
                    });
    ExpectLayout(m, last);
}

TEST(RomMapperTest, Mapper15RegistersAtTheirExactAddresses) {
    MapperCartridge cart("mapper15_test");
    ASSERT_TRUE(cart.started());
    cart.RunFrames(5);
    const Machine& m = cart.machine();
    const Chr ram = Chr4(0, 1);
    const Snapshot last{{10, 10, 6, 7}, ram, kVertical};
    ExpectRecord(m, {
                        {Prg32(0), ram, kHorizontal},
                        {Prg16(5, 6), ram, kVertical},  // $8000 <- $45
                        {Prg16(2, 3), ram, kHorizontal},
                        {Prg16(2, 7), ram, kHorizontal},   // $8001 <- $47
                        {{3, 3, 3, 3}, ram, kHorizontal},  // $8002 <- $81
                        {{10, 10, 10, 10}, ram, kHorizontal},
                        {{10, 10, 8, 9}, ram, kVertical},  // $8003 <- $44
                        {{10, 10, 5, 4}, ram, kVertical},  // $F001 <- $82
                        last,                              // $F001 <- $03
                        last,                              // other addresses ignored
                    });
    ExpectLayout(m, last);
}

// ---- Mappers beyond the first sixteen numbers. The single-screen cartridges write $11 into the
// low screen and $22 into the high one at offset $20; the snapshots show which screen each name
// table holds.

using Screens = std::array<uint8_t, 4>;
constexpr Screens kLow{0x11, 0x11, 0x11, 0x11};
constexpr Screens kHigh{0x22, 0x22, 0x22, 0x22};
constexpr Screens kVerticalScreens{0x11, 0x22, 0x11, 0x22};
constexpr Screens kHorizontalScreens{0x11, 0x11, 0x22, 0x22};

TEST(RomMapperTest, Action53ModesSizesAndOuterBanks) {
    MapperCartridge cart("action53_test");
    ASSERT_TRUE(cart.started());
    cart.RunFrames(10);
    const Machine& m = cart.machine();
    const Prg power = Prg32(15);  // the last 32 KB of 512
    const Prg inner4{48, 49, 50, 51};
    ExpectRecord(m,
                 {
                     {power, Chr8(0), kOneScreen, {}},                     // nothing marked yet
                     {power, Chr8(0), kOneScreen, kHigh},                  // mode $01
                     {Prg16(4, 5), Chr8(0), kOneScreen, kHigh},            // outer 2, 32 KB game
                     {Prg16(6, 7), Chr8(0), kVertical, kVerticalScreens},  // 64 KB, inner 1
                     {Prg16(6, 7), Chr8(0), kVertical, kVerticalScreens},  // inner $13
                     {Prg16(13, 15), Chr8(0), kHorizontal, kHorizontalScreens},  // $C000 fixed
                     {Prg16(14, 5), Chr8(0), kVertical, kVerticalScreens},       // $8000 fixed
                     {Prg16(14, 11), Chr8(0), kVertical, kVerticalScreens},
                     {Prg16(22, 23), Chr8(0), kOneScreen, kLow},   // 32 KB layout, 256 KB game
                     {Prg16(22, 23), Chr8(0), kOneScreen, kHigh},  // CHR write, bit 4
                     {inner4, Chr8(0), kOneScreen, kLow},          // inner write, bit 4 clear
                     {inner4, Chr8(3), kOneScreen, kLow},          // pattern RAM bank 3
                     {inner4, Chr8(1), kOneScreen, kLow},          // bank 1 kept its bytes
                     {inner4, Chr8(0), kOneScreen, kLow},          // select decoded from $7E
                 },
                 kScreenSnapshotSize);
    std::vector<uint8_t> outerBanks;
    for (int outer = 0; outer < 16; ++outer) {
        outerBanks.push_back(uint8_t(4 * outer));
        outerBanks.push_back(uint8_t(4 * outer + 3));
    }
    EXPECT_EQ(AppendedBytes(m, kScreenSnapshotSize, 32), outerBanks);
    EXPECT_EQ(m.mapper.action53Select, 0x81);
    EXPECT_EQ(m.mapper.action53Outer, 15);
    EXPECT_EQ(m.mapper.action53Mode, 0);
    ExpectLayout(m, {Prg32(15), Chr8(0), kOneScreen, {}});
    EXPECT_TRUE(m.cart.singleScreen);
}

TEST(RomMapperTest, Unrom512PagesPatternRamBanksAndTheSelectedScreen) {
    MapperCartridge cart("unrom512_test");
    ASSERT_TRUE(cart.started());
    cart.RunFrames(10);
    const Machine& m = cart.machine();
    ExpectRecord(m,
                 {
                     {Prg16(0, 31), Chr8(0), kOneScreen, {}},
                     {Prg16(0, 31), Chr8(0), kOneScreen, kHigh},   // bit 7
                     {Prg16(5, 31), Chr8(3), kOneScreen, kLow},    // $65 after marking 1-3
                     {Prg16(31, 31), Chr8(1), kOneScreen, kHigh},  // $BF
                     {Prg16(31, 31), Chr8(0), kOneScreen, kLow},   // $1F
                 },
                 kScreenSnapshotSize);
    std::vector<uint8_t> pages;
    for (int page = 0; page < 32; ++page) pages.push_back(uint8_t(2 * page));
    EXPECT_EQ(AppendedBytes(m, kScreenSnapshotSize, 32), pages);
    EXPECT_EQ(m.mapper.unrom512Bank, 31);
}

// The self-flashing board keeps what it programs in memory only: the battery file holds the
// cartridge RAM, and the image starts again with its own bytes.
TEST(RomMapperTest, Unrom512FlashCommandsChangeThePrgRomInMemoryOnly) {
    test::TempDir folder;
    std::filesystem::copy_file(std::string(VEXALO_TEST_ROM_DIR) + "/unrom512_flash_test.nes",
                               folder.path() / "unrom512_flash_test.nes");
    {
        MapperCartridge cart("unrom512_flash_test", folder.path().string());
        ASSERT_TRUE(cart.started());
        cart.RunFrames(10);
        const Machine& m = cart.machine();
        const Screens four{1, 2, 3, 4};
        ExpectRecord(m,
                     {
                         {Prg16(0, 7), Chr8(0), kFourScreens, {}},
                         {Prg16(0, 7), Chr8(0), kFourScreens, four},  // $8000 is the chip
                         {Prg16(2, 7), Chr8(0), kFourScreens, four},  // $C000 the register
                     },
                     kScreenSnapshotSize);
        // Erased sector, the next untouched; programmed, then only cleared bits; no unlock, no
        // programming; maker and device (128 KB) at even and odd addresses in every window;
        // out of ID mode with the register's page 1; the programmed byte.
        const std::vector<uint8_t> flash{0xFF, 0xFF, 10,   0x5A, 0x0A, 0xFF,
                                         0xBF, 0xB5, 0xBF, 0xB5, 2,    0x0A};
        EXPECT_EQ(AppendedBytes(m, kScreenSnapshotSize, 12), flash);
        EXPECT_EQ(m.cart.prgRom[0x14123], 0x0A);
        EXPECT_FALSE(m.mapper.flashIdMode);
        cart.engine().FreeRom(FreeRomCall::IfStarted);
    }
    EXPECT_EQ(folder.Read("unrom512_flash_test.sav"), std::vector<uint8_t>(kBackedMemorySize, 0));
    MapperCartridge again("unrom512_flash_test", folder.path().string());
    ASSERT_TRUE(again.started());
    EXPECT_EQ(again.machine().cart.prgRom[0x14000], 10);
    EXPECT_EQ(again.machine().cart.prgRom[0x14123], 10);
}

TEST(RomMapperTest, BnromSwitchesThirtyTwoKilobytesWithTheWholeValue) {
    MapperCartridge cart("bnrom_test");
    ASSERT_TRUE(cart.started());
    cart.RunFrames(5);
    const Machine& m = cart.machine();
    const Chr ram = Chr4(0, 1);
    const Snapshot last{Prg32(2), ram, kHorizontal};
    ExpectRecord(m, {
                        {Prg32(0), ram, kHorizontal},
                        {Prg32(1), ram, kHorizontal},
                        {Prg32(2), ram, kHorizontal},
                        {Prg32(3), ram, kHorizontal},
                        last,  // 6 wraps to 2
                        last,  // $7FFD and $7FFE are cartridge RAM
                    });
    ExpectLayout(m, last);
    EXPECT_FALSE(m.mapper.nina001);
    EXPECT_EQ(m.cart.mapperName, "BNROM");
}

TEST(RomMapperTest, Nina001RegistersShareTheirAddressesWithTheCartridgeRam) {
    MapperCartridge cart("nina001_test");
    ASSERT_TRUE(cart.started());
    cart.RunFrames(5);
    const Machine& m = cart.machine();
    std::vector<Snapshot> expected{
        {Prg32(0), Chr8(0), kVertical},
        {Prg32(1), Chr8(0), kVertical},
        {Prg32(0), Chr8(0), kVertical},  // $FE: bit 0 only
    };
    for (int i = 0; i < 8; ++i) expected.push_back({Prg32(0), Chr8(i), kVertical});
    const Snapshot last{Prg32(0), Chr4(3, 0), kVertical};  // $8000 ignored, four bits
    expected.push_back(last);
    ExpectRecord(m, expected);
    ExpectLayout(m, last);
    EXPECT_TRUE(m.mapper.nina001);
    EXPECT_EQ(m.cart.mapperName, "NINA-001");
    EXPECT_EQ(m.cart.backedMemory[0x1FFD], 0xFE);
    EXPECT_EQ(m.cart.backedMemory[0x1FFE], 0x13);
    EXPECT_EQ(m.cart.backedMemory[0x1FFF], 0xF0);
}

TEST(RomMapperTest, GxromSwitchesPrgAndChrFromOneValue) {
    MapperCartridge cart("gxrom_test");
    ASSERT_TRUE(cart.started());
    cart.RunFrames(5);
    const Machine& m = cart.machine();
    const Snapshot last{Prg32(0), Chr8(0), kVertical};
    ExpectRecord(m, {
                        last,
                        {Prg32(1), Chr8(3), kVertical},
                        {Prg32(2), Chr8(2), kVertical},
                        {Prg32(3), Chr8(1), kVertical},
                        last,  // $CC
                    });
    ExpectLayout(m, last);
}

TEST(RomMapperTest, CamericaSwitchesSixteenKilobytesAndTheSingleScreen) {
    MapperCartridge cart("camerica_test");
    ASSERT_TRUE(cart.started());
    cart.RunFrames(5);
    const Machine& m = cart.machine();
    const Chr ram = Chr4(0, 1);
    ExpectRecord(m,
                 {
                     {Prg16(0, 15), ram, kVertical, {}},  // the header's arrangement
                     {Prg16(0, 15), ram, kOneScreen, kHigh},
                     {Prg16(0, 15), ram, kOneScreen, kLow},
                     {Prg16(0, 15), ram, kOneScreen, kLow},  // $8000, $A000 ignored
                     {Prg16(5, 15), ram, kOneScreen, kLow},
                     {Prg16(10, 15), ram, kOneScreen, kLow},
                 },
                 kScreenSnapshotSize);
    std::vector<uint8_t> pages;
    for (int page = 0; page < 16; ++page) pages.push_back(uint8_t(2 * page));
    EXPECT_EQ(AppendedBytes(m, kScreenSnapshotSize, 16), pages);
    ExpectLayout(m, {Prg16(15, 15), ram, kOneScreen, {}});
}

TEST(RomMapperTest, Namco108RegistersReachEveryBankAndUnit) {
    MapperCartridge cart("namco108_test");
    ASSERT_TRUE(cart.started());
    cart.RunFrames(5);
    const Machine& m = cart.machine();
    std::vector<Snapshot> expected{{Prg16(0, 7), Chr8(0), kHorizontal}};
    for (int i = 0; i < 8; ++i)
        expected.push_back({{uint8_t(2 * i), uint8_t(2 * i + 1), 14, 15}, Chr8(i), kHorizontal});
    const Snapshot last{{3, 15, 14, 15}, {4, 5, 58, 59, 63, 61, 62, 63}, kHorizontal};
    expected.push_back(last);
    ExpectRecord(m, expected);
    ExpectLayout(m, last);
    EXPECT_EQ(m.mapper.namcoSelect, 6);
}

}  // namespace
}  // namespace vexalo
