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

uint64_t Log::Drain(const std::function<void(const std::string&)>& sink) {
    uint64_t first = total_ > entries_.size() ? total_ - entries_.size() : 0;
    uint64_t dropped = 0;
    if (drained_ < first) {
        dropped = first - drained_;
        drained_ = first;
    }
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
