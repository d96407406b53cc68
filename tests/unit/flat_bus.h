// A flat 64 KB bus for CPU and disassembler tests: plain memory, no I/O, and a log of every
// access in the order it happened. End-of-scanline results are scripted by the test.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <initializer_list>
#include <ostream>
#include <vector>

#include "core/cpu_state.h"

namespace vexalo::test {

enum class AccessKind : uint8_t { Read, Write, Fetch, EndOfScanline };

struct BusAccess {
    AccessKind kind;
    uint16_t address;
    uint8_t value;  // byte read or written; the reported request for EndOfScanline

    bool operator==(const BusAccess&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const BusAccess& a) {
    static const char* const kNames[] = {"Read", "Write", "Fetch", "EndOfScanline"};
    return out << kNames[static_cast<int>(a.kind)] << "($" << std::hex << a.address << ")=$"
               << int(a.value) << std::dec;
}

inline BusAccess BusRead(uint16_t address, uint8_t value) {
    return {AccessKind::Read, address, value};
}
inline BusAccess BusWrite(uint16_t address, uint8_t value) {
    return {AccessKind::Write, address, value};
}
inline BusAccess BusFetch(uint16_t address, uint8_t value) {
    return {AccessKind::Fetch, address, value};
}
inline BusAccess BusScanline(InterruptRequest result) {
    return {AccessKind::EndOfScanline, 0, static_cast<uint8_t>(result)};
}

class FlatBus {
   public:
    std::array<uint8_t, 0x10000> memory{};
    std::vector<BusAccess> log;
    bool logging = true;

    // Results of the coming EndOfScanline calls, front first. When the script is empty the bus
    // answers `afterScript` (Stop by default, so a forgotten script cannot loop forever).
    std::deque<InterruptRequest> script;
    InterruptRequest afterScript = InterruptRequest::Stop;
    // Runs inside EndOfScanline before the result is chosen; may inspect or edit the CPU record
    // or run the CPU again. A non-None return overrides the scripted result.
    std::function<InterruptRequest()> onEndOfScanline;
    int endOfScanlineCalls = 0;

    uint8_t ReadByte(uint16_t address) {
        const uint8_t value = memory[address];
        Record({AccessKind::Read, address, value});
        return value;
    }
    void WriteByte(uint16_t address, uint8_t value) {
        memory[address] = value;
        Record({AccessKind::Write, address, value});
    }
    uint8_t FetchByte(uint16_t address) {
        const uint8_t value = memory[address];
        Record({AccessKind::Fetch, address, value});
        return value;
    }
    // The logging and scripting stay out of line: the interpreter asks the compiler to inline
    // everything it calls, and the container code would only bloat it.
    [[gnu::noinline]] InterruptRequest EndOfScanline() {
        ++endOfScanlineCalls;
        InterruptRequest result = afterScript;
        if (!script.empty()) {
            result = script.front();
            script.pop_front();
        }
        if (onEndOfScanline) {
            const InterruptRequest hookResult = onEndOfScanline();
            if (hookResult != InterruptRequest::None) result = hookResult;
        }
        Record(BusScanline(result));
        return result;
    }

    // Places bytes at `address` onwards (16-bit wrap), without logging.
    void Load(uint16_t address, std::initializer_list<uint8_t> bytes) {
        for (uint8_t b : bytes) memory[address++] = b;
    }
    void SetWord(uint16_t address, uint16_t value) {
        memory[address] = uint8_t(value);
        memory[uint16_t(address + 1)] = uint8_t(value >> 8);
    }
    uint16_t Word(uint16_t address) const {
        return uint16_t(memory[address] | memory[uint16_t(address + 1)] << 8);
    }

   private:
    [[gnu::noinline]] void Record(const BusAccess& access) {
        if (logging) log.push_back(access);
    }
};

}  // namespace vexalo::test
