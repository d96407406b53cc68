// The loaded cartridge: header facts, its stores, and the page tables through which the CPU and
// the picture processor see cartridge memory.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "core/cpu_state.h"

namespace vexalo {

constexpr int kPrgPageSize = 16384;  // one iNES PRG-ROM page
constexpr int kChrPageSize = 8192;   // one iNES CHR-ROM page
constexpr int kBackedMemorySize = 8192;

// Bits of headerFlags.
enum HeaderFlag : uint8_t {
    HeaderVertical = 0x01,
    HeaderBattery = 0x02,
    HeaderTrainer = 0x04,
    HeaderFourScreen = 0x08,
};

struct Cartridge {
    std::array<uint8_t, 16> CartridgeHeader{};
    int prgPageCount = 0;  // 16 KB pages
    int chrPageCount = 0;  // 8 KB pages; 0 means pattern RAM in vram
    int headerFlags = 0;
    int mapperNumber = 0;
    bool verticalMirroring = false;
    int mirrorDistance = 1024;  // name-table mirror distance: 2048 vertical, 1024 horizontal
    uint8_t fourScreen = 0;
    // One screen behind all four name tables: a name-table byte goes to every table. Set only by
    // the mappers that select a single screen; every mapper set-up starts without it.
    bool singleScreen = false;
    std::vector<uint8_t> prgRom;
    std::vector<uint8_t> chrRom;
    std::string romFileName;  // name without directory
    std::string romFilePath;  // directory, ending in the separator (empty for the current one)
    std::array<uint8_t, kBackedMemorySize> backedMemory{};
    std::string mapperName;
};

// Each entry is a base position such that base + full address gives the byte. Bases are kept as
// integers so that a window whose block starts below its address range stays well defined.
struct PageTables {
    uintptr_t cpu[8] = {};  // 8 KB CPU windows; 0 ($0000) and 1-2 (I/O) are not read through here
    uintptr_t ppu[8] = {};  // 1 KB pattern windows
    // Counts the changes of `cpu`, so that the CPU knows when the memory it reads code from
    // may have moved (MachineBus::CodeMapStamp). Every change goes through SetCpu.
    uint32_t cpuChanges = 0;
    void SetCpu(int window, uintptr_t base) {
        cpu[window] = base;
        ++cpuChanges;
    }
};

struct Machine;
using MapperWriteHandler = void (*)(Machine&, uint16_t address, uint8_t value);
// Called for lines 8-231; returns Irq when the mapper's scanline counter raises one, else None.
using MapperScanlineHook = InterruptRequest (*)(Machine&);
// CPU writes to $4020-$7FFF, for the few mappers with registers there; true when the address is
// one of its registers (a write to $4020-$5FFF that is not is logged as ignored).
using MapperLowWriteHandler = bool (*)(Machine&, uint16_t address, uint8_t value);

// How the console's two 1 KB screens of name-table memory appear in the four name tables, for
// the mappers that switch between arrangements at run time.
enum class ScreenArrangement : uint8_t { Horizontal, Vertical, SingleLow, SingleHigh, Four };

// The registers of every mapper. Banks live in the page tables, so this record is the whole
// mapper state apart from the handler.
struct MapperState {
    MapperWriteHandler write = nullptr;
    MapperScanlineHook scanline = nullptr;
    MapperLowWriteHandler lowWrite = nullptr;  // null for mappers without registers below $8000
    uint8_t chrBankMask = 0;
    // Mapper 1
    uint8_t mmc1Reg[4] = {};
    uint8_t mmc1Shift = 0;
    uint8_t mmc1ShiftCount = 0;
    uint16_t mmc1MirrorExtra = 0;
    // Mapper 4
    uint8_t mmc3BankSelect = 0;
    uint16_t mmc3ChrInvert = 0;
    uint16_t irqCounter = 0;
    uint16_t irqLatch = 0;
    bool irqEnabled = false;
    // Mappers 9 and 10
    uint8_t chrLatch = 0;
    uint8_t chrLatch0 = 0;
    uint8_t chrLatch1 = 0;
    // Mapper 16
    uint16_t bandaiIrqCounter = 0;
    bool bandaiIrqEnabled = false;
    // Mapper 28: the register chosen at $5000-$5FFF ($00 CHR, $01 inner PRG, $80 mode, $81 outer
    // PRG) and the four registers.
    uint8_t action53Select = 0;
    uint8_t action53Chr = 0;
    uint8_t action53Inner = 0;
    uint8_t action53Mode = 0;
    uint8_t action53Outer = 0;
    // Mapper 30: the bank register and the flash chip of the self-flashing board (commands in
    // progress, software ID mode and the page its reads then show).
    uint8_t unrom512Bank = 0;
    uint8_t flashStep = 0;
    bool flashIdMode = false;
    std::array<uint8_t, 8192> flashIdPage{};
    // Mapper 34: the NINA-001 board rather than BNROM.
    bool nina001 = false;
    // Mapper 206
    uint8_t namcoSelect = 0;
    // Mappers 28, 30 and 71: the current name-table arrangement, and the screen that a single
    // screen arrangement hides.
    ScreenArrangement screens = ScreenArrangement::Horizontal;
    std::array<uint8_t, 1024> hiddenScreen{};
    // Mappers 28 and 30: 32 KB of pattern RAM in four 8 KB banks. The bank in use lives in the
    // picture processor's pattern RAM; its place here is stale until another bank is chosen.
    uint8_t patternRamBank = 0;
    std::array<uint8_t, 32768> patternRamBanks{};
};

}  // namespace vexalo
