// The log: whole lines appended by the machine and the engine, read by the window or the runner.
// It keeps the last `capacity` lines. Lines about ignored I/O accesses are stored as an address
// and formatted only when they are read, so a program that hammers an unmapped register costs
// one small record per access and nothing else.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace vexalo {

class Log {
   public:
    explicit Log(size_t capacity = 10000);

    void Append(std::string_view line);
    void AppendIgnoredRead(uint16_t address);
    void AppendIgnoredWrite(uint16_t address);

    // Hands every line appended since the last drain, oldest first, to `sink`. Returns the number
    // of such lines that were dropped because more than `capacity` arrived in between. Lines the
    // sink itself appends are left for the next drain.
    uint64_t Drain(const std::function<void(const std::string&)>& sink);

    // What a drain for a reader with a bounded budget (the window's panel) handed out.
    struct RunsDrained {
        uint64_t dropped = 0;  // lines lost to the ring before they could be handed out
        uint64_t skipped = 0;  // ignored-access lines beyond the budget, not handed out
    };
    // As Drain, but a run of equal consecutive lines is handed out once, with its length, and
    // at most `maxIgnoredRuns` runs of ignored-access lines are formatted; the rest are counted as
    // skipped. Other lines are always handed out. The cost is bounded by the capacity, whatever
    // the program appends.
    RunsDrained DrainRuns(const std::function<void(const std::string&, uint64_t)>& sink,
                          size_t maxIgnoredRuns);

    // The kept lines, oldest first (formatted).
    std::vector<std::string> Lines() const;
    uint64_t TotalAppended() const { return total_; }
    size_t Capacity() const { return entries_.size(); }

   private:
    enum class Kind : uint8_t { Text, IgnoredRead, IgnoredWrite };
    struct Entry {
        Kind kind = Kind::Text;
        uint16_t address = 0;
        std::string text;
    };
    Entry& Next();
    static std::string Format(const Entry& e);
    static bool Same(const Entry& a, const Entry& b);
    // The first line Drain may still hand out, counting lines the ring lost before it as dropped.
    uint64_t SkipLost(uint64_t& dropped);

    std::vector<Entry> entries_;  // ring
    uint64_t total_ = 0;          // lines ever appended
    uint64_t drained_ = 0;        // lines handed out by Drain
};

}  // namespace vexalo
