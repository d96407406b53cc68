// Saved states. Each record is serialised field by field in one function that serves both
// directions (a writer takes the fields in order, a reader fills them in the same order and
// leaves the fields a short chunk lacks at their defaults). A load parses and checks the whole
// file into a staging record first and only then touches the machine, so a refused file
// changes nothing.
#include "machine/save_state.h"

#include <nettle/sha1.h>
#include <zlib.h>

#include <algorithm>
#include <concepts>
#include <cstring>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <type_traits>

#include "cartridge/mapper.h"
#include "vexalo_version.h"

namespace vexalo {

namespace {

constexpr uint8_t kMagic[4] = {'V', 'X', 'S', 'T'};
constexpr size_t kHeaderSize = 8;   // magic and format version
constexpr size_t kChunkHeader = 8;  // tag and length
constexpr size_t kCrcSize = 4;

using Tag = std::array<char, 4>;
constexpr Tag kInfo{'I', 'N', 'F', 'O'};
constexpr Tag kCpu{'C', 'P', 'U', ' '};
constexpr Tag kPpu{'P', 'P', 'U', ' '};
constexpr Tag kMapper{'M', 'A', 'P', 'R'};
constexpr Tag kCart{'C', 'A', 'R', 'T'};
constexpr Tag kFlashedPrg{'P', 'R', 'G', 'F'};
constexpr Tag kMachine{'M', 'A', 'C', 'H'};
constexpr Tag kSound{'S', 'N', 'D', ' '};
constexpr Tag kPads{'P', 'A', 'D', 'S'};
constexpr Tag kPages{'P', 'A', 'G', 'E'};
constexpr Tag kPicture{'P', 'I', 'C', 'T'};

// ---- The two directions of a field list.

class Writer {
   public:
    explicit Writer(std::vector<uint8_t>& out) : out_(out) {}

    template <class T>
    void operator()(const T& value) {
        if constexpr (std::is_same_v<T, bool>) {
            out_.push_back(value ? 1 : 0);
        } else if constexpr (std::is_enum_v<T>) {
            Integer(static_cast<std::underlying_type_t<T>>(value));
        } else if constexpr (std::is_integral_v<T>) {
            Integer(value);
        } else if constexpr (std::is_same_v<T, std::string>) {
            const size_t n = std::min<size_t>(value.size(), 0xFFFF);
            Integer(static_cast<uint16_t>(n));
            out_.insert(out_.end(), value.begin(), value.begin() + static_cast<std::ptrdiff_t>(n));
        } else if constexpr (std::is_same_v<T, std::vector<uint8_t>>) {
            out_.insert(out_.end(), value.begin(), value.end());  // the rest of its chunk
        } else {
            Elements(value);
        }
    }

    void BeginChunk(const Tag& tag) {
        out_.insert(out_.end(), tag.begin(), tag.end());
        chunkStart_ = out_.size();
        Integer(uint32_t{0});
    }
    void EndChunk() {
        const uint32_t length = static_cast<uint32_t>(out_.size() - chunkStart_ - 4);
        for (int i = 0; i < 4; ++i) out_[chunkStart_ + i] = static_cast<uint8_t>(length >> (8 * i));
    }

   private:
    template <class T>
    void Integer(T value) {
        using U = std::make_unsigned_t<T>;
        const U u = static_cast<U>(value);
        for (size_t i = 0; i < sizeof(T); ++i) out_.push_back(static_cast<uint8_t>(u >> (8 * i)));
    }
    template <class Array>
    void Elements(const Array& values) {
        if constexpr (std::is_same_v<std::remove_cvref_t<decltype(values[0])>, uint8_t>) {
            const uint8_t* first = &values[0];
            out_.insert(out_.end(), first, first + std::size(values));
        } else {
            for (const auto& v : values) (*this)(v);
        }
    }

    std::vector<uint8_t>& out_;
    size_t chunkStart_ = 0;
};

// Reads fields from one chunk's bytes; a field the chunk does not hold keeps its value.
class Reader {
   public:
    explicit Reader(std::span<const uint8_t> bytes) : bytes_(bytes) {}

    template <class T>
    void operator()(T& value) {
        if constexpr (std::is_same_v<T, bool>) {
            uint8_t b = value ? 1 : 0;
            Integer(b);
            value = b != 0;
        } else if constexpr (std::is_enum_v<T>) {
            auto raw = static_cast<std::underlying_type_t<T>>(value);
            Integer(raw);
            value = static_cast<T>(raw);  // ranges are checked once the whole file is read
        } else if constexpr (std::is_integral_v<T>) {
            Integer(value);
        } else if constexpr (std::is_same_v<T, std::string>) {
            uint16_t n = 0;
            if (!Integer(n) || bytes_.size() < n) return;
            value.assign(reinterpret_cast<const char*>(bytes_.data()), n);
            bytes_ = bytes_.subspan(n);
        } else if constexpr (std::is_same_v<T, std::vector<uint8_t>>) {
            value.assign(bytes_.begin(), bytes_.end());
            bytes_ = {};
        } else {
            Elements(value);
        }
    }

   private:
    template <class T>
    bool Integer(T& value) {
        if (bytes_.size() < sizeof(T)) {
            bytes_ = {};
            return false;
        }
        using U = std::make_unsigned_t<T>;
        U u = 0;
        for (size_t i = 0; i < sizeof(T); ++i) u = static_cast<U>(u | U(bytes_[i]) << (8 * i));
        value = static_cast<T>(u);
        bytes_ = bytes_.subspan(sizeof(T));
        return true;
    }
    template <class Array>
    void Elements(Array& values) {
        if constexpr (std::is_same_v<std::remove_cvref_t<decltype(values[0])>, uint8_t>) {
            const size_t n = std::size(values);
            if (bytes_.size() < n) {
                bytes_ = {};
                return;
            }
            std::memcpy(&values[0], bytes_.data(), n);
            bytes_ = bytes_.subspan(n);
        } else {
            for (auto& v : values) (*this)(v);
        }
    }

    std::span<const uint8_t> bytes_;
};

// ---- The field lists, one per record, for both directions (S is the record, const when it
// is written). Append new fields at the end of their list only.

template <class S, class Record>
concept RecordOf = std::same_as<std::remove_const_t<S>, Record>;

template <class A, RecordOf<CpuState> S>
void Fields(A& a, S& c) {
    a(c.A);
    a(c.P);
    a(c.X);
    a(c.Y);
    a(c.S);
    a(c.PC);
    a(c.CyclesPerLine);
    a(c.CycleBudget);
    a(c.Jammed);
    a(c.NmiPending);
}

template <class A, RecordOf<PpuState> S>
void Fields(A& a, S& p) {
    a(p.ppuControl);
    a(p.ppuMask);
    a(p.ppuStatus);
    a(p.oamAddress);
    a(p.vramAddress);
    a(p.firstReadPending);
    a(p.scrollToggle);
    a(p.pendingScrollX);
    a(p.pendingScrollY);
    a(p.scrollX);
    a(p.scrollY);
    a(p.scrollUpdatePending);
    a(p.vram);
    a(p.oam);
}

// The registers and stores of every mapper; the handlers belong to the image and are kept.
template <class A, RecordOf<MapperState> S>
void Fields(A& a, S& s) {
    a(s.chrBankMask);
    a(s.mmc1Reg);
    a(s.mmc1Shift);
    a(s.mmc1ShiftCount);
    a(s.mmc1MirrorExtra);
    a(s.mmc3BankSelect);
    a(s.mmc3ChrInvert);
    a(s.irqCounter);
    a(s.irqLatch);
    a(s.irqEnabled);
    a(s.chrLatch);
    a(s.chrLatch0);
    a(s.chrLatch1);
    a(s.bandaiIrqCounter);
    a(s.bandaiIrqEnabled);
    a(s.action53Select);
    a(s.action53Chr);
    a(s.action53Inner);
    a(s.action53Mode);
    a(s.action53Outer);
    a(s.unrom512Bank);
    a(s.flashStep);
    a(s.flashIdMode);
    a(s.nina001);
    a(s.namcoSelect);
    a(s.screens);
    a(s.patternRamBank);
    a(s.flashIdPage);
    a(s.hiddenScreen);
    a(s.patternRamBanks);
}

// What the cartridge record holds that a run changes.
struct CartPart {
    int32_t mirrorDistance = 1024;
    bool verticalMirroring = false;
    bool singleScreen = false;
    std::array<uint8_t, kBackedMemorySize> backedMemory{};
};

template <class A, RecordOf<CartPart> S>
void Fields(A& a, S& c) {
    a(c.mirrorDistance);
    a(c.verticalMirroring);
    a(c.singleScreen);
    a(c.backedMemory);
}

// The machine record's own fields.
struct MachinePart {
    std::array<uint8_t, 2048> internalRam{};
    std::array<uint8_t, 24> ioRegisterImage{};
    int32_t scanline = 0;
    int32_t frameSkipCounter = 0;
    int32_t sprite0Line = 0;
    int32_t soundCountdown = 1;
    bool messagePointPending = false;
    uint64_t messagePointsReached = 0;
    uint64_t framesCompleted = 0;
};

template <class A, RecordOf<MachinePart> S>
void Fields(A& a, S& m) {
    a(m.internalRam);
    a(m.ioRegisterImage);
    a(m.scanline);
    a(m.frameSkipCounter);
    a(m.sprite0Line);
    a(m.soundCountdown);
    a(m.messagePointPending);
    a(m.messagePointsReached);
    a(m.framesCompleted);
}

template <class A, RecordOf<SoundState> S>
void Fields(A& a, S& s) {
    a(s.sweepEnabled);
    a(s.channelPeriod);
    a(s.lengthCounter);
    a(s.lastNote);
    a(s.noteSounding);
}

template <class A, RecordOf<JoypadState> S>
void Fields(A& a, S& p) {
    a(p.padState);
    a(p.padReadIndex);
}

template <class A, RecordOf<StateInfo> S>
void Fields(A& a, S& i) {
    a(i.image);
    a(i.programVersion);
    a(i.frame);
    a(i.savedAt);
}

// ---- Page tables as stores and offsets. Windows 0-2 of the CPU table (RAM and I/O) are fixed
// by the engine and not read through the table; window 3 and up are saved.

constexpr int kFirstSavedCpuWindow = 3;
constexpr int kCpuWindow = 0x2000;
constexpr int kPpuWindow = 0x400;

struct PageRef {
    uint8_t store = 0;
    uint32_t offset = 0;
};

struct PageRefs {
    std::array<PageRef, 8 - kFirstSavedCpuWindow> cpu{};
    std::array<PageRef, 8> ppu{};
};

template <class A, RecordOf<PageRefs> S>
void Fields(A& a, S& p) {
    for (auto& r : p.cpu) {
        a(r.store);
        a(r.offset);
    }
    for (auto& r : p.ppu) {
        a(r.store);
        a(r.offset);
    }
}

struct Store {
    uint8_t* data;
    size_t size;
};

// Every store a page-table entry may designate, by the number the file gives it.
std::array<Store, 8> Stores(Machine& m) {
    return {{{m.emptyPage.data(), m.emptyPage.size()},
             {m.cart.prgRom.data(), m.cart.prgRom.size()},
             {m.cart.chrRom.data(), m.cart.chrRom.size()},
             {m.cart.backedMemory.data(), m.cart.backedMemory.size()},
             {m.ppu.vram.data(), m.ppu.vram.size()},
             {m.mapper.flashIdPage.data(), m.mapper.flashIdPage.size()},
             {m.mapper.patternRamBanks.data(), m.mapper.patternRamBanks.size()},
             {m.internalRam.data(), m.internalRam.size()}}};
}

PageRef FindPage(const std::array<Store, 8>& stores, uintptr_t start, size_t window) {
    for (size_t i = 0; i < stores.size(); ++i) {
        const uintptr_t data = reinterpret_cast<uintptr_t>(stores[i].data);
        if (stores[i].size >= window && start >= data && start - data <= stores[i].size - window)
            return {static_cast<uint8_t>(i), static_cast<uint32_t>(start - data)};
    }
    throw std::logic_error("a page-table entry lies in no known store");
}

bool PageBase(const std::array<Store, 8>& stores, const PageRef& ref, size_t window,
              uintptr_t windowStart, uintptr_t& base) {
    if (ref.store >= stores.size()) return false;
    const Store& s = stores[ref.store];
    if (s.size < window || ref.offset > s.size - window) return false;
    base = reinterpret_cast<uintptr_t>(s.data) + ref.offset - windowStart;
    return true;
}

// ---- Whole files.

template <class S>
void WriteChunk(Writer& w, const Tag& tag, const S& record) {
    w.BeginChunk(tag);
    Fields(w, record);
    w.EndChunk();
}

uint32_t Crc(std::span<const uint8_t> bytes) {
    return static_cast<uint32_t>(
        crc32(crc32(0L, Z_NULL, 0), bytes.data(), static_cast<uInt>(bytes.size())));
}

uint32_t Le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

struct Chunk {
    Tag tag;
    std::span<const uint8_t> bytes;
};

// Checks the frame of the file (signature, version, checksum, chunk lengths) and lists its
// chunks.
bool SplitChunks(std::span<const uint8_t> file, std::vector<Chunk>& chunks, std::string& error,
                 bool checkCrc) {
    if (file.size() < 4 || std::memcmp(file.data(), kMagic, 4) != 0) {
        error = "not a saved state";
        return false;
    }
    if (file.size() < kHeaderSize + kCrcSize) {
        error = "the file is truncated";
        return false;
    }
    const uint32_t version = Le32(file.data() + 4);
    if (version > kStateFormatVersion) {
        error = "saved in a newer format (" + std::to_string(version) +
                ") than this program reads (" + std::to_string(kStateFormatVersion) + ")";
        return false;
    }
    const std::span<const uint8_t> body = file.first(file.size() - kCrcSize);
    if (checkCrc && Crc(body) != Le32(file.data() + body.size())) {
        error = "the file is damaged or truncated (bad checksum)";
        return false;
    }
    size_t at = kHeaderSize;
    while (at < body.size()) {
        if (body.size() - at < kChunkHeader) {
            error = "the file is damaged (a chunk is cut off)";
            return false;
        }
        Chunk c;
        std::memcpy(c.tag.data(), body.data() + at, 4);
        const uint32_t length = Le32(body.data() + at + 4);
        at += kChunkHeader;
        if (length > body.size() - at) {
            error = "the file is damaged (a chunk is cut off)";
            return false;
        }
        c.bytes = body.subspan(at, length);
        at += length;
        chunks.push_back(c);
    }
    return true;
}

const Chunk* FindChunk(const std::vector<Chunk>& chunks, const Tag& tag) {
    const Chunk* found = nullptr;  // the last of a repeated tag wins
    for (const Chunk& c : chunks)
        if (c.tag == tag) found = &c;
    return found;
}

template <class S>
bool ReadChunk(const std::vector<Chunk>& chunks, const Tag& tag, S& record) {
    const Chunk* c = FindChunk(chunks, tag);
    if (!c) return false;
    Reader r{c->bytes};
    Fields(r, record);
    return true;
}

// Everything a load replaces, parsed and checked before the machine is touched.
struct Staged {
    CpuState cpu;
    PpuState ppu;
    MapperState mapper;
    CartPart cart;
    std::vector<uint8_t> flashedPrg;
    bool hasFlashedPrg = false;
    MachinePart machine;
    SoundState sound;
    JoypadState pads;
    PageRefs pages;
    StateInfo info;
};

bool InRange(int64_t v, int64_t low, int64_t high) {
    return v >= low && v <= high;
}

// The values the machine indexes with or shifts by must be in range.
bool Plausible(const Staged& s) {
    return InRange(s.cpu.CyclesPerLine, 1, 1 << 16) &&
           InRange(s.cpu.CycleBudget, -(1 << 16), 1 << 16) && s.ppu.scrollY < 240 &&
           s.ppu.pendingScrollY < 240 && s.ppu.scrollToggle <= 1 && s.mapper.mmc1ShiftCount < 5 &&
           s.mapper.patternRamBank < 4 &&
           static_cast<uint8_t>(s.mapper.screens) <=
               static_cast<uint8_t>(ScreenArrangement::Four) &&
           InRange(s.machine.scanline, 0, kLinesPerFrame - 1) &&
           InRange(s.machine.frameSkipCounter, 0, 255) &&
           InRange(s.machine.soundCountdown, -kLinesPerFrame, kLinesPerFrame) &&
           InRange(s.cart.mirrorDistance, 0, 0x4000);
}

}  // namespace

ImageDigest ComputeImageDigest(const Cartridge& cart) {
    sha1_ctx ctx;
    sha1_init(&ctx);
    sha1_update(&ctx, cart.prgRom.size(), cart.prgRom.data());
    sha1_update(&ctx, cart.chrRom.size(), cart.chrRom.data());
    ImageDigest digest;
    sha1_digest(&ctx, digest.size(), digest.data());
    return digest;
}

ImageDigest Sha1(std::span<const uint8_t> bytes) {
    sha1_ctx ctx;
    sha1_init(&ctx);
    sha1_update(&ctx, bytes.size(), bytes.data());
    ImageDigest digest;
    sha1_digest(&ctx, digest.size(), digest.data());
    return digest;
}

std::string DigestHex(const ImageDigest& digest) {
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (uint8_t b : digest) {
        hex += kDigits[b >> 4];
        hex += kDigits[b & 15];
    }
    return hex;
}

namespace {

// Every chunk after INFO and before PICT: what decides how the machine goes on. For the machine
// checksum the host's counters and the note bookkeeping of the MIDI output are cleared.
void WriteMachineChunks(Writer& w, Machine& m, bool forChecksum) {
    WriteChunk(w, kCpu, m.cpu);
    WriteChunk(w, kPpu, m.ppu);
    WriteChunk(w, kMapper, m.mapper);
    const CartPart cart{m.cart.mirrorDistance, m.cart.verticalMirroring, m.cart.singleScreen,
                        m.cart.backedMemory};
    WriteChunk(w, kCart, cart);
    if (MapperWritesPrgRom(m)) {
        w.BeginChunk(kFlashedPrg);
        w(m.cart.prgRom);
        w.EndChunk();
    }
    MachinePart part{m.internalRam,         m.ioRegisterImage,      m.scanline,
                     m.frameSkipCounter,    m.sprite0Line,          m.soundCountdown,
                     m.messagePointPending, m.messagePointsReached, m.framesCompleted};
    SoundState sound = m.sound;
    if (forChecksum) {
        part.frameSkipCounter = 0;
        part.messagePointsReached = 0;
        std::fill(std::begin(sound.lastNote), std::end(sound.lastNote), 0);
        std::fill(std::begin(sound.noteSounding), std::end(sound.noteSounding), false);
    }
    WriteChunk(w, kMachine, part);
    WriteChunk(w, kSound, sound);
    WriteChunk(w, kPads, m.pads);

    const auto stores = Stores(m);
    PageRefs pages;
    for (size_t i = 0; i < pages.cpu.size(); ++i) {
        const uintptr_t window = (kFirstSavedCpuWindow + i) * kCpuWindow;
        pages.cpu[i] = FindPage(stores, m.pages.cpu[kFirstSavedCpuWindow + i] + window, kCpuWindow);
    }
    for (size_t i = 0; i < pages.ppu.size(); ++i)
        pages.ppu[i] = FindPage(stores, m.pages.ppu[i] + i * kPpuWindow, kPpuWindow);
    WriteChunk(w, kPages, pages);
}

}  // namespace

std::vector<uint8_t> SaveMachineState(const Machine& cm, const ImageDigest& image,
                                      int64_t savedAt) {
    Machine& m = const_cast<Machine&>(cm);  // only to name the stores; nothing is written
    std::vector<uint8_t> out(kMagic, kMagic + 4);
    out.reserve(160 * 1024 + (MapperWritesPrgRom(m) ? m.cart.prgRom.size() : 0));
    Writer w{out};
    w(kStateFormatVersion);

    StateInfo info;
    info.image = image;
    info.programVersion = VEXALO_PRODUCT_VERSION;
    info.frame = m.framesCompleted;
    info.savedAt = savedAt;
    WriteChunk(w, kInfo, info);
    WriteMachineChunks(w, m, false);

    w.BeginChunk(kPicture);
    w(m.frame);
    out.insert(out.end(), m.ppu.vram.begin() + 0x3F00, m.ppu.vram.begin() + 0x3F20);
    w.EndChunk();

    w(Crc(out));
    return out;
}

uint32_t MachineChecksum(const Machine& cm) {
    Machine& m = const_cast<Machine&>(cm);  // only to name the stores; nothing is written
    std::vector<uint8_t> out;
    out.reserve(160 * 1024 + (MapperWritesPrgRom(m) ? m.cart.prgRom.size() : 0));
    Writer w{out};
    WriteMachineChunks(w, m, true);
    return Crc(out);
}

bool ReadStateInfo(std::span<const uint8_t> bytes, StateInfo& info, std::string& error) {
    std::vector<Chunk> chunks;
    if (!SplitChunks(bytes, chunks, error, true)) return false;
    StateInfo read;
    read.formatVersion = Le32(bytes.data() + 4);
    if (!ReadChunk(chunks, kInfo, read)) {
        error = "the file is damaged (no INFO chunk)";
        return false;
    }
    if (const Chunk* c = FindChunk(chunks, kPicture)) {
        Reader r{c->bytes};
        r(read.picture);
        r(read.palette);
    }
    info = std::move(read);
    return true;
}

bool LoadMachineState(Machine& m, const ImageDigest& image, std::span<const uint8_t> bytes,
                      std::string& error, bool checkCrc) {
    std::vector<Chunk> chunks;
    if (!SplitChunks(bytes, chunks, error, checkCrc)) return false;
    auto staged = std::make_unique<Staged>();
    Staged& s = *staged;
    if (!ReadChunk(chunks, kInfo, s.info)) {
        error = "the file is damaged (no INFO chunk)";
        return false;
    }
    if (s.info.image != image) {
        error = "it is a state of another image";
        return false;
    }
    const bool required = ReadChunk(chunks, kCpu, s.cpu) && ReadChunk(chunks, kPages, s.pages);
    if (!required) {
        error = "the file is damaged (no CPU or page chunk)";
        return false;
    }
    ReadChunk(chunks, kPpu, s.ppu);
    ReadChunk(chunks, kMapper, s.mapper);
    ReadChunk(chunks, kCart, s.cart);
    ReadChunk(chunks, kMachine, s.machine);
    ReadChunk(chunks, kSound, s.sound);
    ReadChunk(chunks, kPads, s.pads);
    if (const Chunk* prg = FindChunk(chunks, kFlashedPrg)) {
        if (!MapperWritesPrgRom(m) || prg->bytes.size() != m.cart.prgRom.size()) {
            error = "the file is damaged (flashed PRG-ROM of another size)";
            return false;
        }
        s.hasFlashedPrg = true;
    }
    if (!Plausible(s)) {
        error = "the file is damaged (a value out of range)";
        return false;
    }
    const auto stores = Stores(m);
    PageTables pages = m.pages;
    bool pagesValid = true;
    for (size_t i = 0; i < s.pages.cpu.size(); ++i) {
        const uintptr_t window = (kFirstSavedCpuWindow + i) * kCpuWindow;
        pagesValid &= PageBase(stores, s.pages.cpu[i], kCpuWindow, window,
                               pages.cpu[kFirstSavedCpuWindow + i]);
    }
    for (size_t i = 0; i < s.pages.ppu.size(); ++i)
        pagesValid &= PageBase(stores, s.pages.ppu[i], kPpuWindow, i * kPpuWindow, pages.ppu[i]);
    if (!pagesValid) {
        error = "the file is damaged (a page outside its store)";
        return false;
    }

    // Everything checked: the machine takes the state.
    m.cpu = s.cpu;
    const uint32_t generation = m.ppu.backgroundGeneration;
    const auto rowGenerations = m.ppu.nameRowGeneration;
    m.ppu = s.ppu;
    m.ppu.backgroundGeneration = generation + 1;
    m.ppu.nameRowGeneration = rowGenerations;
    m.ppu.paletteDirty = true;
    for (auto& table : m.backgroundCache.keys)
        for (BackgroundStripKey& key : table) key.drawn = false;
    const MapperState handlers = m.mapper;
    m.mapper = s.mapper;
    m.mapper.write = handlers.write;
    m.mapper.scanline = handlers.scanline;
    m.mapper.lowWrite = handlers.lowWrite;
    m.cart.mirrorDistance = s.cart.mirrorDistance;
    m.cart.verticalMirroring = s.cart.verticalMirroring;
    m.cart.singleScreen = s.cart.singleScreen;
    m.cart.backedMemory = s.cart.backedMemory;
    if (s.hasFlashedPrg) {
        const Chunk* prg = FindChunk(chunks, kFlashedPrg);
        std::copy(prg->bytes.begin(), prg->bytes.end(), m.cart.prgRom.begin());
    }
    m.internalRam = s.machine.internalRam;
    m.ioRegisterImage = s.machine.ioRegisterImage;
    m.scanline = s.machine.scanline;
    m.frameSkipCounter = s.machine.frameSkipCounter;
    m.sprite0Line = s.machine.sprite0Line;
    m.soundCountdown = s.machine.soundCountdown;
    m.messagePointPending = s.machine.messagePointPending;
    m.messagePointsReached = s.machine.messagePointsReached;
    m.framesCompleted = s.machine.framesCompleted;
    SoundState& sound = m.sound;
    std::copy_n(s.sound.sweepEnabled, 4, sound.sweepEnabled);
    std::copy_n(s.sound.channelPeriod, 4, sound.channelPeriod);
    std::copy_n(s.sound.lengthCounter, 4, sound.lengthCounter);
    std::copy_n(s.sound.lastNote, 4, sound.lastNote);
    std::copy_n(s.sound.noteSounding, 4, sound.noteSounding);
    std::copy_n(s.pads.padState, 2, m.pads.padState);
    std::copy_n(s.pads.padReadIndex, 2, m.pads.padReadIndex);
    for (int i = 0; i < 8; ++i) m.pages.SetCpu(i, pages.cpu[i]);
    std::copy_n(pages.ppu, 8, m.pages.ppu);
    if (const Chunk* pict = FindChunk(chunks, kPicture)) {
        Reader r{pict->bytes};
        r(m.frame);
    }
    return true;
}

}  // namespace vexalo
