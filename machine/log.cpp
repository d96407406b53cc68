#include "machine/log.h"

#include <cstdio>

namespace vexalo {

Log::Log(size_t capacity) : entries_(capacity == 0 ? 1 : capacity) {}

Log::Entry& Log::Next() {
    Entry& e = entries_[total_ % entries_.size()];
    ++total_;
    return e;
}

void Log::Append(std::string_view line) {
    Entry& e = Next();
    e.kind = Kind::Text;
    e.text.assign(line);
}

void Log::AppendIgnoredRead(uint16_t address) {
    Entry& e = Next();
    e.kind = Kind::IgnoredRead;
    e.address = address;
}

void Log::AppendIgnoredWrite(uint16_t address) {
    Entry& e = Next();
    e.kind = Kind::IgnoredWrite;
    e.address = address;
}

std::string Log::Format(const Entry& e) {
    if (e.kind == Kind::Text) return e.text;
    char buf[40];
    std::snprintf(buf, sizeof buf, "Ignore %s at address $%4X",
                  e.kind == Kind::IgnoredRead ? "read" : "write", e.address);
    return buf;
}

uint64_t Log::SkipLost(uint64_t& dropped) {
    const uint64_t first = total_ > entries_.size() ? total_ - entries_.size() : 0;
    if (drained_ < first) {
        dropped += first - drained_;
        drained_ = first;
    }
    return drained_;
}

bool Log::Same(const Entry& a, const Entry& b) {
    if (a.kind != b.kind) return false;
    return a.kind == Kind::Text ? a.text == b.text : a.address == b.address;
}

Log::RunsDrained Log::DrainRuns(const std::function<void(const std::string&, uint64_t)>& sink,
                                size_t maxIgnoredRuns) {
    RunsDrained result;
    SkipLost(result.dropped);
    size_t ignoredRuns = 0;
    const uint64_t end = total_;
    while (drained_ < end) {
        if (drained_ + entries_.size() < total_) {  // overwritten by the sink's own lines
            ++result.dropped;
            ++drained_;
            continue;
        }
        const Entry& first = entries_[drained_ % entries_.size()];
        uint64_t length = 1;
        while (drained_ + length < end &&
               Same(entries_[(drained_ + length) % entries_.size()], first))
            ++length;
        const bool ignored = first.kind != Kind::Text;
        if (ignored && ignoredRuns >= maxIgnoredRuns) {
            result.skipped += length;
        } else {
            if (ignored) ++ignoredRuns;
            const std::string line = Format(first);  // the sink may append and overwrite `first`
            drained_ += length;
            sink(line, length);
            continue;
        }
        drained_ += length;
    }
    return result;
}

uint64_t Log::Drain(const std::function<void(const std::string&)>& sink) {
    uint64_t dropped = 0;
    SkipLost(dropped);
    // Only the lines that were there when the drain began: a sink that appends to this log (a
    // failure it reports, say) leaves its lines for the next drain. A line the sink's own lines
    // overwrote before it was handed out counts as dropped.
    const uint64_t end = total_;
    for (; drained_ < end; ++drained_) {
        if (drained_ + entries_.size() < total_) {
            ++dropped;
            continue;
        }
        sink(Format(entries_[drained_ % entries_.size()]));
    }
    return dropped;
}

std::vector<std::string> Log::Lines() const {
    std::vector<std::string> out;
    uint64_t first = total_ > entries_.size() ? total_ - entries_.size() : 0;
    for (uint64_t i = first; i < total_; ++i) out.push_back(Format(entries_[i % entries_.size()]));
    return out;
}

}  // namespace vexalo
