// Running cartridges in tests: where the built test cartridges and the outside cartridges are,
// an engine that starts one and runs it frame by frame, and readers for what the tests look at
// (RAM, cartridge RAM, the log, the frame buffer, the self-check record).
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "cartridge/engine.h"
#include "machine/machine.h"

namespace vexalo {

// A cartridge built from tests/roms: the name without ".nes".
inline std::string TestCartridgePath(std::string_view name) {
    return std::string(VEXALO_TEST_ROM_DIR) + "/" + std::string(name) + ".nes";
}

// An outside cartridge in the shared folder or one of its subfolders; empty when it is missing.
inline std::string SharedCartridgePath(std::string_view fileName) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path dir(VEXALO_SHARED_ROM_DIR);
    if (fs::is_regular_file(dir / fileName, ec)) return (dir / fileName).string();
    for (fs::recursive_directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        if (it->is_regular_file(ec) && it->path().filename() == fileName)
            return it->path().string();
    }
    return {};
}

// The self-check record that cartridges built with selfcheck.inc keep at $6000.
struct SelfCheckRecord {
    static constexpr uint8_t kPass = 0x01;
    static constexpr uint8_t kFail = 0xFF;
    uint8_t status = 0;  // 0 while running
    uint8_t test = 0;
    uint8_t actual = 0;
    uint8_t expected = 0;
    int passed = 0;
    int total = 0;
};

// One started cartridge. Frames are drawn one in one (FrameRate 1) unless the caller changes
// m().settings before Start.
class CartridgeRun {
   public:
    explicit CartridgeRun(EngineHost* host = nullptr) : engine_(host) {
        engine_.machine().settings.FrameRate = 1;
    }

    Engine& engine() { return engine_; }
    Machine& m() { return engine_.machine(); }
    const Machine& m() const { return engine_.machine(); }

    // Starts the image; on failure the message carries the log.
    ::testing::AssertionResult Start(const std::string& path) {
        if (!std::filesystem::exists(path))
            return ::testing::AssertionFailure() << "no cartridge at " << path;
        if (!engine_.StartEngine(path))
            return ::testing::AssertionFailure() << "the engine refused " << path << "\n"
                                                 << LogText();
        return ::testing::AssertionSuccess();
    }

    // Whole frames of 244 lines: from the reset, N frames end right after the Nth was shown.
    void RunFrames(int64_t frames) { engine_.Run(frames * kLinesPerFrame); }
    void RunLines(int64_t lines) { engine_.Run(lines); }

    // Internal RAM through its mirrors ($0000-$1FFF).
    uint8_t Ram(uint16_t address) const { return m().internalRam[address & 0x07FF]; }
    uint16_t RamWord(uint16_t address) const {
        return static_cast<uint16_t>(Ram(address) | Ram(static_cast<uint16_t>(address + 1)) << 8);
    }
    // Cartridge RAM ($6000-$7FFF).
    uint8_t Wram(uint16_t address) const { return m().cart.backedMemory[address & 0x1FFF]; }
    uint16_t WramWord(uint16_t address) const {
        return static_cast<uint16_t>(Wram(address) | Wram(static_cast<uint16_t>(address + 1)) << 8);
    }

    SelfCheckRecord SelfCheck() const {
        SelfCheckRecord r;
        r.status = Wram(0x6000);
        r.test = Wram(0x6001);
        r.actual = Wram(0x6002);
        r.expected = Wram(0x6003);
        r.passed = WramWord(0x6004);
        r.total = WramWord(0x6006);
        return r;
    }

    // Passed when the cartridge reported success with every assembled check counted.
    ::testing::AssertionResult SelfCheckPassed() const {
        const SelfCheckRecord r = SelfCheck();
        if (r.status == SelfCheckRecord::kPass && r.total > 0 && r.passed == r.total)
            return ::testing::AssertionSuccess() << r.passed << " checks passed";
        auto failure = ::testing::AssertionFailure();
        if (r.status == SelfCheckRecord::kFail) {
            failure << "test " << int(r.test) << " failed: found $" << Hex(r.actual)
                    << ", expected $" << Hex(r.expected);
        } else if (r.status == SelfCheckRecord::kPass) {
            failure << "finished with " << r.passed << " of " << r.total << " checks passed";
        } else {
            failure << "did not finish (status $" << Hex(r.status) << ", in test " << int(r.test)
                    << ", " << r.passed << " checks passed)";
        }
        return failure << "; PC=$" << Hex(m().cpu.PC >> 8) << Hex(m().cpu.PC & 0xFF);
    }

    std::vector<std::string> LogLines() const { return m().log.Lines(); }
    std::string LogText() const {
        std::string text;
        for (const std::string& line : LogLines()) text += line + "\n";
        return text;
    }
    int CountLogLines(std::string_view line) const {
        const std::vector<std::string> lines = LogLines();
        return static_cast<int>(std::count(lines.begin(), lines.end(), line));
    }
    // Lines that start with `prefix`.
    std::vector<std::string> LogLinesStartingWith(std::string_view prefix) const {
        std::vector<std::string> found;
        for (const std::string& line : LogLines())
            if (line.compare(0, prefix.size(), prefix) == 0) found.push_back(line);
        return found;
    }

    uint8_t Pixel(int x, int y) const { return m().frame[y * kScreenWidth + x]; }
    // Whether every pixel of the drawn rows 8-231 holds the same value.
    // FNV-1a of the drawn rows (8-231) of the frame buffer, and of the 2 KB of work RAM: what a
    // recorded run is compared by.
    uint64_t FrameChecksum() const {
        return Fnv1a(m().frame.data() + kFirstDrawnLine * kScreenWidth,
                     size_t(kLastDrawnLine - kFirstDrawnLine + 1) * kScreenWidth);
    }
    uint64_t RamChecksum() const { return Fnv1a(m().internalRam.data(), m().internalRam.size()); }
    static uint64_t Fnv1a(const uint8_t* data, size_t size) {
        uint64_t hash = 14695981039346656037ull;
        for (size_t i = 0; i < size; ++i) hash = (hash ^ data[i]) * 1099511628211ull;
        return hash;
    }

    bool DrawnRowsUniform() const {
        const uint8_t first = Pixel(0, kFirstDrawnLine);
        for (int y = kFirstDrawnLine; y <= kLastDrawnLine; ++y)
            for (int x = 0; x < kScreenWidth; ++x)
                if (Pixel(x, y) != first) return false;
        return true;
    }
    // Number of distinct values in the drawn rows.
    int DistinctDrawnValues() const {
        bool seen[256] = {};
        int count = 0;
        for (int y = kFirstDrawnLine; y <= kLastDrawnLine; ++y)
            for (int x = 0; x < kScreenWidth; ++x)
                if (!seen[Pixel(x, y)]) seen[Pixel(x, y)] = true, ++count;
        return count;
    }
    FrameBuffer Frame() const { return m().frame; }

    static std::string Hex(unsigned value) {
        static const char digits[] = "0123456789ABCDEF";
        return {digits[(value >> 4) & 15], digits[value & 15]};
    }

   private:
    Engine engine_;
};

// Number of pixels in which two pictures differ.
inline int DifferingPixels(const FrameBuffer& a, const FrameBuffer& b) {
    int n = 0;
    for (size_t i = 0; i < a.size(); ++i) n += a[i] != b[i];
    return n;
}

}  // namespace vexalo
